"""The notices window of varnix against a real BOINC client in the loopback-only sandbox.

The sandbox's projects live on an unreachable loopback port: asked to update one, the
client fails to reach it, checks its own network and publishes a notice that it cannot
reach the Internet. Run by CTest outside the sandbox, the outer test starts the sandbox
around this module."""

import os
import subprocess
import sys
import time
import unittest

from varnixe2e import ALPHA, VarnixTestCase

HERE = os.path.dirname(os.path.abspath(__file__))
SANDBOX = os.path.join(HERE, "..", "tools", "boinc-sandbox")
INSIDE = "BOINC_SANDBOX_PORT" in os.environ
OFFLINE = "BOINC can't access Internet - check network connection or proxy configuration."


class RealClientNoticesOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE, "already inside the sandbox")
    def test_boinc_notices_in_the_sandbox(self):
        p = subprocess.run([SANDBOX, "--projects", "2", "--tasks", "1", "--no-wait",
                            "--", sys.executable, "-m", "unittest", "-v",
                            "test_boinc_notices.RealClientNotices"],
                           cwd=HERE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, timeout=800)
        self.assertEqual(p.returncode, 0, p.stdout[-6000:])
        self.assertRegex(p.stdout, r"\nOK\n", p.stdout[-6000:])


@unittest.skipUnless(INSIDE, "needs the BOINC client sandbox")
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
