"""The menus of varnix against a real BOINC client in the loopback-only sandbox: what the
Activity and Projects menus send must change the client as boinccmd reports it.

Run by CTest outside the sandbox, the one outer test starts the sandbox around this very
module; inside it (BOINC_SANDBOX_PORT is set) the screen tests run."""

import re
import time
import unittest

from varnixe2e import INSIDE_SANDBOX, RealClientTestCase, run_in_sandbox


class RealClientOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_menus_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_menus.RealClientMenus", "--projects", "2", "--tasks", "2")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientMenus(RealClientTestCase):

    def test_menus_set_the_run_mode_and_suspend_a_project(self):
        def mode():
            return re.search(r"CPU status\n.*?current mode: (\w+)", self.boinccmd("--get_cc_status"),
                             re.S).group(1)

        def project_suspended():
            out = self.boinccmd("--get_project_status")
            block = next(b for b in out.split(") -----------")[1:] if "name: Alpha@Home" in b)
            return "suspended via GUI: yes" in block

        def wait(what, test):
            deadline = time.monotonic() + 30
            while not test():
                self.assertLess(time.monotonic(), deadline, what)
                time.sleep(0.5)

        s = self.start_varnix()
        s.wait_for(" Run ", timeout=30)
        s.send_keys("F9", *["Right"] * 4)
        s.wait_for("Run based on preferences")
        s.send_keys("Down", "Down", "Enter")  # Suspend
        wait("the client never took the run mode", lambda: mode() == "never")
        s.send_keys("F9", "Down", "Enter")  # Run based on preferences
        wait("the client never went back to its preferences", lambda: mode() == "according")
        self.assertFalse(project_suspended())
        s.send_keys("F9", "Left", "Left")
        s.wait_for("Connect to account manager")
        s.send_keys("Down", "Down", "Down", "Enter")  # the first project
        s.wait_for("Suspend project")
        s.send_keys("Down", "Enter")
        wait("the client never suspended the project", project_suspended)
        s.wait_for("[Susp.] ", timeout=30)  # the information panel
        s.send_keys("F9")
        s.wait_for("Connect to account manager")
        self.assertRegex(s.text(), r"Alpha@Home +\[Susp\.\]")
        s.send_keys("Down", "Down", "Down", "Enter")
        s.wait_for("Resume project")
        s.send_keys("Down", "Down", "Enter")
        wait("the client never resumed the project", lambda: not project_suspended())
        self.quit(s)



if __name__ == "__main__":
    unittest.main()
