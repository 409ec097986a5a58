"""File transfers, snooze and shutting down against a real BOINC client in the loopback-only
sandbox, seeded with an upload and a download to 127.0.0.1:9, where nothing listens.

Run by CTest outside the sandbox, the one outer test starts the sandbox around this very
module; inside it (BOINC_SANDBOX_PORT is set) the screen tests run, in the order of their
names: the last one ends the client."""

import os
import re
import subprocess
import time
import unittest

from varnixe2e import INSIDE_SANDBOX, RealClientTestCase, run_in_sandbox

UPLOAD = "alpha@home_up_0_0"
DOWNLOAD = "alpha@home_down_1_1"


class RealClientOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_transfers_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_transfers.RealClientTransfers",
                       "--projects", "1", "--tasks", "1", "--transfers", "2")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientTransfers(RealClientTestCase):

    def client_log(self, pattern):
        with open(os.environ["BOINC_SANDBOX_LOG"], errors="replace") as f:
            return len(re.findall(pattern, f.read()))

    def wait(self, what, test, timeout=30):
        deadline = time.monotonic() + timeout
        while not test():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.5)

    @staticmethod
    def transfer_rows(rows, name):
        """Indexes of the window's lines of a transfer (the task list names the tasks too)."""
        return [i for i, r in enumerate(rows) if re.search(r"%s +(up|down) " % re.escape(name), r)]

    def line_of(self, s, name):
        rows = s.wait_until(lambda rows: self.transfer_rows(rows, name), timeout=30, what=name)
        return rows[self.transfer_rows(rows, name)[0]]

    def test_1_transfers_retry_and_abort(self):
        s = self.start_varnix()
        s.send_keys("T")
        s.wait_for(" File transfers ")
        # Both have failed once and wait for their next try.
        s.wait_until(lambda rows: all(any(re.search(r"retry in \d+m", rows[i])
                                          for i in self.transfer_rows(rows, n))
                                      for n in (UPLOAD, DOWNLOAD)), timeout=40,
                     what="both transfers waiting for their retry")
        self.assertRegex(self.line_of(s, UPLOAD), r"Alpha@Home +%s +up +4\.50 KB" % UPLOAD)
        self.assertRegex(self.line_of(s, DOWNLOAD), r" down +4\.50 KB")
        # R: the client tries again at once and backs off anew.
        started = self.client_log(r"Started upload of %s" % UPLOAD)
        backoffs = self.client_log(r"Backing off .* on upload of %s" % UPLOAD)
        rows = s.capture()
        row = self.transfer_rows(rows, UPLOAD)[0]
        first = min(row, self.transfer_rows(rows, DOWNLOAD)[0])
        s.send_keys(*["Down"] * (row - first))
        s.send_keys("R")
        self.wait("the client did not retry the upload",
                  lambda: self.client_log(r"Started upload of %s" % UPLOAD) > started)
        self.wait("the client did not back off again",
                  lambda: self.client_log(r"Backing off .* on upload of %s" % UPLOAD) > backoffs)
        s.wait_until(lambda rows: any("retry in" in rows[i] for i in self.transfer_rows(rows, UPLOAD)),
                     timeout=15, what="the new retry time")
        # A (after the confirmation) removes the download.
        rows = s.capture()
        down = self.transfer_rows(rows, DOWNLOAD)[0]
        s.send_keys(*["Down" if down > row else "Up"] * abs(down - row))
        s.send_keys("A")
        s.wait_for("Please Confirm")
        self.assertIsNotNone(s.find("File   : %s" % DOWNLOAD))
        s.send_keys("y")
        self.wait("the client kept the aborted download",
                  lambda: DOWNLOAD not in self.boinccmd("--get_file_transfers"))
        s.wait_until(lambda rows: not self.transfer_rows(rows, DOWNLOAD), timeout=15,
                     what="the download to go from the window")
        self.assertTrue(self.transfer_rows(s.capture(), UPLOAD))
        self.assertIn(UPLOAD, self.boinccmd("--get_file_transfers"))
        s.send_keys("Escape")
        self.quit(s)

    def test_2_snooze_then_shut_down(self):
        s = self.start_varnix()
        s.send_keys("F9", *["Right"] * 4)
        s.wait_for("Snooze 1 hour")
        self.assertIsNone(s.find("Snooze GPU 1 hour"), "no GPU items, no GPU snooze")
        s.send_keys(*["Down"] * 6)
        s.send_keys("Enter")
        s.wait_until(lambda rows: re.search(r"\(sandbox\) snoozed (1h|60m|59m) ", rows[1]),
                     timeout=15, what="the snooze in the caption")
        status = self.boinccmd("--get_cc_status")
        cpu = re.search(r"CPU status\n(.*?)\n\S", status, re.S).group(1)
        self.assertRegex(cpu, r"current mode: never")
        left = int(re.search(r"perm becomes current in (\d+) sec", cpu).group(1))
        self.assertGreater(left, 3400)
        self.assertLessEqual(left, 3600)
        # Shutting down asks first, then the client ends.
        s.send_keys("F9", "Left", "Left", "Left", "Left")
        s.wait_for("Shut down client")
        s.send_keys(*["Down"] * 9)
        s.send_keys("Enter")
        s.wait_for("Please Confirm")
        self.assertIsNotNone(s.find("Host   : 127.0.0.1:%s(sandbox)" % os.environ["BOINC_SANDBOX_PORT"]))
        s.send_keys("y")
        s.wait_until(lambda rows: "offline!" in rows[1], timeout=30, what="offline! in the caption")
        ctl = os.environ["BOINC_SANDBOX_CTL"]
        self.wait("the client did not end",
                  lambda: subprocess.run([ctl, "status"], stdout=subprocess.DEVNULL).returncode == 3,
                  timeout=60)
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
