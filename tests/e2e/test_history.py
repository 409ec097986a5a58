"""The task history of varnix in a real terminal against the fake BOINC client: what it
collects, the window, and the file that outlives restarts of varnix and of the client."""

import os
import re
import stat
import time
import unittest

from varnixe2e import ALPHA, BETA, Task, VarnixTestCase, xml

APPS = {"done_wu": ("worker", "Worker of Alpha"), "err_wu": ("worker", "Worker of Alpha")}
STATUS = " Esc Cancel | Up/Dn PgUp/PgDn Scroll | f Project | e Errors"


def old_results(results):
    """results: [(url, name, exit status, seconds ago)]; 0 seconds: never completed."""
    out = ["<old_results>"]
    now = time.time()
    for url, name, exit_status, ago in results:
        out.append("<old_result><project_url>%s</project_url><result_name>%s</result_name>"
                   "<app_name>worker</app_name><exit_status>%d</exit_status>"
                   "<elapsed_time>3725.0</elapsed_time><cpu_time>3600.0</cpu_time>"
                   "<completed_time>%f</completed_time><create_time>%f</create_time></old_result>"
                   % (xml(url), xml(name), exit_status, now - ago if ago else 0, now))
    return "\n".join(out + ["</old_results>"]) + "\n"


class HistoryTest(VarnixTestCase):

    def start(self, fake):
        s = self.varnix(cols=140, rows=30)
        s.wait_for(" Host 127.0.0.1:%d " % fake.port)
        return s

    def history_rows(self, s):
        return [r for r in s.capture() if re.search(r"\d{4}-\d\d-\d\d \d\d:\d\d ", r)]

    def test_collects_shows_filters_and_survives_restarts(self):
        fake = self.fake()
        fake.set_state([Task("run", wu="run_wu", active=1, done=0.5),
                        Task("done", wu="done_wu", state=5, ready=True),
                        Task("err", wu="err_wu", state=3)], apps=APPS)
        fake.set_reply("get_old_results", old_results([
            (ALPHA, "old_ok", 0, 7200), (BETA, "old_err", -177, 3 * 86400), (ALPHA, "reset", 0, 0)]))
        self.write_config([("127.0.0.1", fake.port, "", "")])
        s = self.start(fake)
        s.send_keys("H")
        s.wait_for(" Task history ")
        s.wait_for("old_err")
        self.assertIn(STATUS, s.capture()[-1])
        self.assertIn("Last 24 hours: 1 task, 0 errors | Last 7 days: 2 tasks, 1 error", s.text())
        self.assertNotIn("reset", s.text())
        rows = self.history_rows(s)
        self.assertRegex(rows[0], r"Alpha@Home +worker +old_ok +ok +1h 2m 5s +1h 0m 0s")
        self.assertRegex(rows[1], r"Beta Project +\S.* old_err +computation error \(-177\)")
        coloured = [r for r in s.capture(colors=True) if "old_err" in r][0]
        self.assertRegex(coloured, r"\x1b\[31m(\x1b\[[0-9;]*m)*[^\x1b]*old_err")

        # Finished tasks that the client drops show at once; the running one does not.
        fake.set_state([Task("run", wu="run_wu", active=1, done=0.5)], apps=APPS)
        s.wait_until(lambda rows: len(self.history_rows(s)) == 4, what="four tasks")
        text = s.text()
        self.assertRegex(text, r"Worker of Alpha +done +ok")
        self.assertRegex(text, r"Worker of Alpha +err +computation error")
        self.assertNotRegex(text, r" run +")

        # f: all, Alpha@Home, Beta Project, all; e: errors only.
        s.send_keys("f")
        s.wait_for("Project: Alpha@Home")
        self.assertNotIn("old_err", s.text())
        s.send_keys("f")
        s.wait_for("Project: Beta Project")
        self.assertEqual(len(self.history_rows(s)), 1)
        s.send_keys("f")
        s.wait_gone("Project: ")
        s.send_keys("e")
        s.wait_for("Errors only")
        self.assertEqual(len(self.history_rows(s)), 2)
        # Hot keys are the window's while it is open; H closes it, and Esc does.
        s.send_keys("Q")
        time.sleep(0.3)
        self.assertTrue(s.is_running())
        s.send_keys("h")
        s.wait_gone(" Task history ")
        s.send_keys("H")
        s.wait_for(" Task history ")
        s.send_keys("Escape")
        s.wait_gone(" Task history ")
        s.wait_until(lambda rows: "V Statistics |" in rows[-1], what="status line back")
        self.quit(s)

        folder = os.path.join(self.home, ".local", "state", "varnix")
        path = os.path.join(folder, "127.0.0.1_%d.history" % fake.port)
        self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)

        # A restarted client has forgotten everything and does not know get_old_results.
        os.remove(os.path.join(fake.replies, "get_old_results.xml"))
        fake.set_state([], apps=APPS)
        s = self.start(fake)
        s.send_keys("H")
        s.wait_for("old_err")
        s.wait_until(lambda rows: len(self.history_rows(s)) == 4, what="the history back")
        with open(path) as f:
            self.assertEqual(len([l for l in f if not l.startswith("#")]), 4)
        s.send_keys("Escape")
        s.wait_gone(" Task history ")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
