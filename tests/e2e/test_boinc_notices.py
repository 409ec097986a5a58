"""The notices window of varnix against a real BOINC client in the loopback-only sandbox.

The sandbox's projects live on an unreachable loopback port: asked to update one, the
client fails to reach it, checks its own network and publishes a notice that it cannot
reach the Internet. Run by CTest outside the sandbox, the outer test starts the sandbox
around this module."""

import os
import subprocess
import time
import unittest

from varnixe2e import ALPHA, INSIDE_SANDBOX, VarnixTestCase, run_in_sandbox

OFFLINE = "BOINC can't access Internet - check network connection or proxy configuration."


class RealClientNoticesOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_notices_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_notices.RealClientNotices", "--projects", "2", "--tasks", "1", "--no-wait")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientNotices(VarnixTestCase):

    def ctl(self, *args):
        return subprocess.run([os.environ["BOINC_SANDBOX_CTL"]] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=120).stdout

    def update_alpha(self):
        # Right after a start the client may not take requests yet.
        deadline = time.monotonic() + 60
        while "Operation failed" in self.ctl("boinccmd", "--project", ALPHA, "update") or \
                "Alpha" not in self.ctl("boinccmd", "--get_project_status"):
            self.assertLess(time.monotonic(), deadline, "the client never took the update")
            time.sleep(1)

    def test_the_clients_own_notice_shows_readably_and_once_across_a_restart(self):
        self.update_alpha()
        port = os.environ["BOINC_SANDBOX_PORT"]
        self.write_config([("127.0.0.1", port, os.environ["BOINC_SANDBOX_PASSWORD"], "sandbox")])
        s = self.varnix(cols=120, rows=40)
        s.wait_for(" Host 127.0.0.1:%s(sandbox) " % port)
        # The client takes about half a minute to decide; the poll comes within a minute.
        s.wait_for(" 1 notice ", timeout=150)
        s.send_keys("I")
        s.wait_for(OFFLINE)
        text = s.text()
        self.assertRegex(text, r"│ +\d+ \w{3} \d{4} +\d+:\d\d  client +│")
        self.assertNotIn('_("', text)
        s.send_keys("I")
        s.wait_gone(" Notices ")

        # A restarted client numbers its notices from 1 again and raises the same alert
        # anew: it shows once, the new one alone.
        self.ctl("restart")
        self.update_alpha()
        deadline = time.monotonic() + 120
        while OFFLINE not in self.ctl("boinccmd", "--get_notices", "0"):
            self.assertLess(time.monotonic(), deadline, "the client raised no alert after its restart")
            time.sleep(2)
        s.wait_for(" 1 notice ", timeout=90)
        s.send_keys("I")
        s.wait_for(OFFLINE)
        self.assertEqual(s.text().count(OFFLINE), 1, s.text())
        self.assertEqual(s.text().count("  client "), 1, s.text())
        s.send_keys("I")
        s.wait_gone(" Notices ")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
