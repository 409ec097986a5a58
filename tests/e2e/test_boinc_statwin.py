"""The statistics window of varnix against a real BOINC client in the loopback-only sandbox.

The sandbox seeds a few days of credit history per project (statistics_*.xml in the
client's folder), which the client reads at start and reports with get_statistics.
Run by CTest outside the sandbox, the outer test starts the sandbox around this module."""

import glob
import os
import time
import unittest
import xml.etree.ElementTree as ET

from varnixe2e import INSIDE_SANDBOX, RealClientTestCase, run_in_sandbox
NAMES = {"http://127.0.0.1:9/alpha/": "Alpha@Home", "http://127.0.0.1:9/beta/": "Beta Project"}


class RealClientStatisticsOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_statistics_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_statwin.RealClientStatistics", "--projects", "2",
                       "--tasks", "1", "--no-wait")


def seeded_gains():
    """{day: {project name: (host gain, user gain)}} from the seeded history files."""
    gains = {}
    for path in glob.glob(os.path.join(os.environ["BOINC_SANDBOX_DIR"], "statistics_*.xml")):
        root = ET.parse(path).getroot()
        name = NAMES[root.findtext("master_url")]
        prev = None
        for d in root.findall("daily_statistics"):
            now = (float(d.findtext("host_total_credit")), float(d.findtext("user_total_credit")))
            if prev is not None:
                day = int(float(d.findtext("day")))
                gains.setdefault(day, {})[name] = (int(now[0] - prev[0]), int(now[1] - prev[1]))
            prev = now
    return gains


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientStatistics(RealClientTestCase):

    def test_v_shows_the_clients_statistics(self):
        gains = seeded_gains()
        self.assertEqual(len(gains), 4, gains)
        newest = max(gains)
        cells = gains[newest]
        # The seed gives Beta Project the larger gains: it comes first.
        order = sorted(cells, key=lambda n: -sum(g.get(n, (0, 0))[0] for g in gains.values()))
        self.assertEqual(order, ["Beta Project", "Alpha@Home"])

        def row(mode):
            date = time.strftime("%-2e %b", time.localtime(newest))
            return ("%-10s" % date + " %10d " % sum(c[mode] for c in cells.values())
                    + "".join(" %10d " % cells[n][mode] for n in order))

        port = os.environ["BOINC_SANDBOX_PORT"]
        self.write_config([("127.0.0.1", port, os.environ["BOINC_SANDBOX_PASSWORD"], "sandbox")])
        s = self.varnix(cols=120, rows=40)
        s.wait_for(" Host 127.0.0.1:%s(sandbox) " % port)
        s.wait_for("Alpha@Home", timeout=30)
        s.send_keys("V")
        s.wait_for(" Statistics [host] ")
        s.wait_for(row(0), timeout=30)
        self.assertIn("Summary " + " Beta Proje  Alpha@Home ", s.text())
        s.send_keys("U")
        s.wait_for(" Statistics [user] ")
        s.wait_for(row(1))
        s.send_keys("V")
        s.wait_gone("Statistics [user]")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
