"""The task history of varnix against a real BOINC client in the loopback-only sandbox.

The sandbox's projects have no server, so a finished task is never reported: the test
aborts one and then resets its project, which drops the task from the client's state
(and puts it into the client's old results). Run by CTest outside the sandbox, the outer
test starts the sandbox around this module."""

import os
import re
import subprocess
import unittest

from varnixe2e import INSIDE_SANDBOX, VarnixTestCase, run_in_sandbox

ALPHA = "http://127.0.0.1:9/alpha/"
ABORTED = re.compile(r"Alpha@Home +Worker of Alpha@Home +alpha@home_wu_0_0 +aborted ")


class RealClientHistoryOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_history_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_history.RealClientHistory", "--projects", "2", "--tasks", "2")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientHistory(VarnixTestCase):

    def ctl(self, *args):
        return subprocess.run([os.environ["BOINC_SANDBOX_CTL"]] + list(args), check=True,
                              stdout=subprocess.PIPE, text=True, timeout=120).stdout

    def open_history(self):
        port = os.environ["BOINC_SANDBOX_PORT"]
        s = self.varnix(cols=200, rows=40)
        s.wait_for(" Host 127.0.0.1:%s(sandbox) " % port)
        s.send_keys("H")
        s.wait_for(" Task history ")
        return s

    def close(self, s):
        s.send_keys("Escape")
        s.wait_gone(" Task history ")
        self.quit(s)

    def aborted_rows(self, s):
        return [r for r in s.capture() if ABORTED.search(r)]

    def test_an_aborted_task_stays_in_the_history(self):
        self.write_config([("127.0.0.1", os.environ["BOINC_SANDBOX_PORT"],
                            os.environ["BOINC_SANDBOX_PASSWORD"], "sandbox")])
        port = os.environ["BOINC_SANDBOX_PORT"]
        s = self.varnix(cols=200, rows=40)
        s.wait_for(" Host 127.0.0.1:%s(sandbox) " % port)
        s.wait_for("alpha@home_wu_0_0", timeout=30)
        self.ctl("boinccmd", "--task", ALPHA, "alpha@home_wu_0_0", "abort")
        # Reset once varnix has seen the task finished as aborted (a reset before would
        # drop it unfinished), so that the history has what the state showed of it.
        s.wait_until(lambda rows: any(re.search(r"Abort .*alpha@home_wu_0_0", r) for r in rows),
                     timeout=30, what="the aborted task in the list")
        self.ctl("boinccmd", "--project", ALPHA, "reset")
        s.send_keys("H")
        s.wait_for(" Task history ")
        s.wait_until(lambda rows: self.aborted_rows(s), timeout=30, what="the aborted task")
        # The other tasks of the project were dropped unfinished: no history of theirs.
        self.assertNotIn("alpha@home_wu_1_0", s.text())
        self.close(s)

        # A restart of varnix, then of the client, which forgets its old results.
        s = self.open_history()
        s.wait_until(lambda rows: len(self.aborted_rows(s)) == 1, what="the history after a restart")
        self.close(s)
        self.ctl("restart")
        s = self.open_history()
        s.wait_until(lambda rows: len(self.aborted_rows(s)) == 1, timeout=30,
                     what="the history after the client's restart")
        self.assertIn("Last 24 hours: 1 task, 1 error", s.text())
        self.close(s)


if __name__ == "__main__":
    unittest.main()
