"""The account forms of varnix against a real BOINC client in the loopback-only sandbox:
a project or account manager at a loopback address where nothing listens must give an
error line that says what went wrong, and the form must stay open.

Run by CTest outside the sandbox, the one outer test starts the sandbox around this very
module; inside it (BOINC_SANDBOX_PORT is set) the screen tests run."""

import unittest

from varnixe2e import INSIDE_SANDBOX, RealClientTestCase, run_in_sandbox

NOWHERE = "http://127.0.0.1:9/nothing/"


class RealClientOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_forms_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_forms.RealClientForms", "--projects", "1", "--tasks", "1",
                       "--no-wait")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientForms(RealClientTestCase):

    def projects_item(self, s, downs, wait):
        s.send_keys("F9", "Right", "Right")
        s.wait_for("Add project by URL")
        s.send_keys(*["Down"] * downs + ["Enter"])
        s.wait_for(wait, timeout=30)

    def test_unreachable_project_and_manager_are_reported(self):
        s = self.start_varnix(cols=120, rows=40)
        self.projects_item(s, 1, "Existing user")  # Add project by URL
        s.send_keys("Enter")
        s.wait_for(" Add project by URL ")
        s.send_text(NOWHERE)
        s.send_keys("Tab")
        s.send_text("someone@example.org")
        s.send_keys("Tab")
        s.send_text("pw")
        s.send_keys("Enter")
        # The client answers with a number only; the line says what it means.
        s.wait_for(" Error: -107 (cannot connect)", timeout=60)
        self.assertIsNotNone(s.find(" Add project by URL "))
        self.assertNotIn("nothing", self.boinccmd("--get_project_status"))
        s.send_keys("Escape")
        s.wait_gone(" Add project by URL ")

        # The menu opens where it was left: on Projects.
        s.send_keys("F9")
        s.wait_for("Connect to account manager")
        s.send_keys("Down", "Down", "Enter")
        s.wait_for("Add new account manager", timeout=30)
        s.send_keys(*["Down"] * 40 + ["Enter"])  # past any listed managers to the last item
        s.wait_for(" Unnamed ")
        s.send_keys("Tab")
        s.send_text(NOWHERE)
        s.send_keys("Tab")
        s.send_text("me")
        s.send_keys("Tab")
        s.send_text("pw")
        s.send_keys("Enter")
        s.wait_for(" Error: Can't get config", timeout=60)
        self.assertIsNotNone(s.find(" Unnamed "))
        self.assertNotIn(NOWHERE, self.boinccmd("--acct_mgr", "info"))
        s.send_keys("Escape")
        s.wait_gone(" Unnamed ")
        self.quit(s)
        self.assertNotIn("<accmgr>", self.read_config())


if __name__ == "__main__":
    unittest.main()
