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


def lines_of(rows, name):
    """The window's lines of a transfer (the task list names the tasks too)."""
    return [i for i, r in enumerate(rows) if re.search(r"%s +(up|down) " % re.escape(name), r)]


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientTransfers(RealClientTestCase):

    def logged(self, pattern):
        with open(os.environ["BOINC_SANDBOX_LOG"], errors="replace") as f:
            return len(re.findall(pattern, f.read()))

    def wait(self, what, test, timeout=30):
        deadline = time.monotonic() + timeout
        while not test():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.5)

    def test_1_transfers_retry_and_abort(self):
        s = self.start_varnix()
        s.send_keys("T")
        # Both have failed once and wait for their next try.
        rows = s.wait_until(lambda rows: all(any(re.search(r"retry in \d+m", rows[i])
                                                 for i in lines_of(rows, n))
                                             for n in (UPLOAD, DOWNLOAD)),
                            timeout=40, what="both transfers waiting for their retry")
        self.assertRegex(rows[lines_of(rows, UPLOAD)[0]], r"Alpha@Home +%s +up +4\.50 KB" % UPLOAD)
        self.assertRegex(rows[lines_of(rows, DOWNLOAD)[0]], r" down +4\.50 KB")
        up, down = lines_of(rows, UPLOAD)[0], lines_of(rows, DOWNLOAD)[0]
        # R: the client tries again at once and backs off anew.
        started = self.logged(r"Started upload of %s" % UPLOAD)
        backoffs = self.logged(r"Backing off .* on upload of %s" % UPLOAD)
        s.send_keys(*["Down"] * (up - min(up, down)), "R")
        self.wait("no new try", lambda: self.logged(r"Started upload of %s" % UPLOAD) > started)
        self.wait("no new back-off",
                  lambda: self.logged(r"Backing off .* on upload of %s" % UPLOAD) > backoffs)
        s.wait_until(lambda rows: any("retry in" in rows[i] for i in lines_of(rows, UPLOAD)),
                     timeout=15, what="the new retry time")
        # A (after the confirmation) removes the download.
        s.send_keys("Down" if down > up else "Up", "A")
        s.wait_for("File   : %s" % DOWNLOAD)
        s.send_keys("y")
        self.wait("the client kept the aborted download",
                  lambda: DOWNLOAD not in self.boinccmd("--get_file_transfers"))
        s.wait_until(lambda rows: not lines_of(rows, DOWNLOAD) and lines_of(rows, UPLOAD),
                     timeout=15, what="the download gone from the window, the upload kept")
        self.assertIn(UPLOAD, self.boinccmd("--get_file_transfers"))
        s.send_keys("Escape")
        self.quit(s)

    def test_2_snooze_then_shut_down(self):
        s = self.start_varnix()
        s.send_keys("F9", *["Right"] * 4)
        s.wait_for("Snooze 1 hour")
        self.assertIsNone(s.find("Snooze GPU 1 hour"), "no GPU items, no GPU snooze")
        s.send_keys(*["Down"] * 6, "Enter")
        s.wait_until(lambda rows: re.search(r"\(sandbox\) snoozed (1h|60m|59m) ", rows[1]),
                     timeout=15, what="the snooze in the caption")
        cpu = re.search(r"CPU status\n(.*?)\n\S", self.boinccmd("--get_cc_status"), re.S).group(1)
        self.assertRegex(cpu, r"current mode: never")
        left = int(re.search(r"perm becomes current in (\d+) sec", cpu).group(1))
        self.assertTrue(3400 < left <= 3600, left)
        # Shutting down asks first, then the client ends.
        s.send_keys("F9", *["Left"] * 4)
        s.wait_for("Shut down client")
        s.send_keys(*["Down"] * 9, "Enter")
        s.wait_for("Host   : 127.0.0.1:%s(sandbox)" % os.environ["BOINC_SANDBOX_PORT"])
        s.send_keys("y")
        s.wait_until(lambda rows: "offline!" in rows[1], timeout=30, what="offline! in the caption")
        ctl = [os.environ["BOINC_SANDBOX_CTL"], "status"]
        self.wait("the client did not end",
                  lambda: subprocess.run(ctl, stdout=subprocess.DEVNULL).returncode == 3, timeout=60)
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
