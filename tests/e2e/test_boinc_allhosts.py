"""The all-hosts window of varnix with a real BOINC client in the loopback-only sandbox
among fake ones: the real client polled as one of the other hosts, the same client again
with a wrong password, a fake that never answers; Enter then switches to the real client.
Run by CTest outside the sandbox, the outer test starts the sandbox around this module."""

import os
import re
import unittest

from varnixe2e import INSIDE_SANDBOX, RealClientTestCase, run_in_sandbox



class RealClientAllHostsOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_all_hosts_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_allhosts.RealClientAllHosts", "--projects", "2", "--tasks", "3")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientAllHosts(RealClientTestCase):

    def line(self, s, label):
        for r in s.capture():
            m = re.search(r"[* ] %-12s .*" % re.escape(label), r)
            if m:
                return m.group(0)
        return ""

    def test_real_client_among_fakes(self):
        port = os.environ["BOINC_SANDBOX_PORT"]
        password = os.environ["BOINC_SANDBOX_PASSWORD"]
        version = re.search(r"Client version: (\S+)", self.boinccmd("--client_version")).group(1)
        credit = sum(float(x) for x in
                     re.findall(r"host_expavg_credit: ([\d.]+)", self.boinccmd("--get_project_status")))
        tasks = self.boinccmd("--get_tasks")
        total = len(re.findall(r"^   name: ", tasks, re.M))
        running = len(re.findall(r"active_task_state: EXECUTING", tasks))
        self.assertEqual((total, running), (6, 2), tasks)

        home = self.fake("pw")
        hung = self.fake("pw", extra=["--fault", "stall:*"])
        self.write_config([("127.0.0.1", home.port, "pw", "home"),
                           ("127.0.0.1", port, password, "real"),
                           ("127.0.0.1", hung.port, "pw", "hung"),
                           ("127.0.0.1", port, password + "x", "realbad")])
        s = self.varnix(cols=120, rows=30)
        s.wait_for(" Host 127.0.0.1:%d(home) " % home.port)
        s.send_keys("O")
        s.wait_for(" All hosts [list order] ")
        want = r"online +%s +auto +%d/%d +0 +\d+[smhd] +%.1f +\d+s ago" % (
            re.escape(version), running, total, credit)
        s.wait_until(lambda rows: re.search(want, self.line(s, "real")), 30,
                     "the real client's figures (%s)" % want)
        s.wait_until(lambda rows: re.search(r"unauthorized +- +- +- +- +- +- +-", self.line(s, "realbad")),
                     30, "the wrong password refused")
        s.wait_until(lambda rows: "no answer" in self.line(s, "hung"), 40, "the silent fake")
        self.assertRegex(self.line(s, "home"), r"^\* home +127\.0\.0\.1:\d+ +online +7\.20\.5")

        s.send_keys("Down")
        s.send_keys("Enter")
        s.wait_for(" Host 127.0.0.1:%s(real) " % port)
        s.wait_gone("All hosts")
        s.wait_for("Beta Project", timeout=30)
        self.assertNotIn("unauthorized!", s.text())
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
