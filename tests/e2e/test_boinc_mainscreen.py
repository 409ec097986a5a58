"""varnix in a real terminal against a real BOINC client in the loopback-only sandbox.

Run by CTest outside the sandbox, the one outer test starts the sandbox around this very
module; inside it (BOINC_SANDBOX_PORT is set) the screen tests run."""

import os
import re
import time
import unittest

from varnixe2e import INSIDE_SANDBOX, RealClientTestCase, run_in_sandbox


class RealClientOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE_SANDBOX, "already inside the sandbox")
    def test_boinc_main_screen_in_the_sandbox(self):
        run_in_sandbox(self, "test_boinc_mainscreen.RealClientScreen", "--password", "s3cret&<pw>",
                       "--projects", "2", "--tasks", "3")


@unittest.skipUnless(INSIDE_SANDBOX, "needs the BOINC client sandbox")
class RealClientScreen(RealClientTestCase):

    def task_suspended(self, name):
        out = self.boinccmd("--get_tasks")
        for block in out.split(") -----------")[1:]:
            if "   name: %s\n" % name in block:
                return "suspended via GUI: yes" in block
        raise AssertionError("task %s not found:\n%s" % (name, out))

    def test_tasks_projects_messages_and_disk(self):
        s = self.start_varnix()
        s.wait_for("Worker of", timeout=30)
        s.wait_for(" Run ", timeout=30)
        text = s.text()
        self.assertIn("Alpha@Home", text)
        self.assertIn("Beta Project", text)
        self.assertIn("Wait", text)
        self.assertNotIn("offline!", text)
        self.assertNotIn("unauthorized!", text)
        for name in ("alpha@home_wu_0_0", "alpha@home_wu_1_0", "beta_wu_2_0"):
            self.assertIn(name, text)
        # The view follows the end of the log; Home shows its start until a new message
        # arrives and the view follows the end again.
        deadline = time.monotonic() + 30
        while "Starting BOINC client" not in s.text():
            self.assertLess(time.monotonic(), deadline, s.text())
            s.send_keys("Home")
            time.sleep(0.3)
        self.assertNotIn("CDATA", s.text())
        total = re.search(r"total\s+(\d+\.\d\d)Gb", s.text())
        self.assertIsNotNone(total, s.text())
        self.assertGreater(float(total.group(1)), 0)
        self.quit(s)

    def test_suspend_and_resume_reach_the_client(self):
        s = self.start_varnix()
        s.wait_for(" Run ", timeout=30)
        s.send_keys("Down")
        rows = s.wait_until(lambda rows: "uspend |" in rows[-1] and " S" in rows[-1],
                            what="a selected task")
        first = next(r for r in rows if re.match(r"^.\s+1  ", r))
        self.assertIn(" Run ", first)
        found = re.search(r"(alpha@home_wu_\d+_\d+|beta_wu_\d+_\d+)", first)
        self.assertIsNotNone(found, first)
        name = found.group(1)
        self.assertFalse(self.task_suspended(name))
        s.send_keys("S")
        deadline = time.monotonic() + 30
        while not self.task_suspended(name):
            self.assertLess(time.monotonic(), deadline, "the client never suspended %s" % name)
            time.sleep(0.5)
        s.wait_for("GSusp.", timeout=30)
        s.send_keys("R")
        deadline = time.monotonic() + 30
        while self.task_suspended(name):
            self.assertLess(time.monotonic(), deadline, "the client never resumed %s" % name)
            time.sleep(0.5)
        s.wait_gone("GSusp.", timeout=30)
        self.quit(s)

    def test_a_running_task_shows_its_real_elements(self):
        s = self.start_varnix()
        s.wait_for(" Run ", timeout=30)
        s.send_keys("Down")
        rows = s.wait_until(lambda rows: "uspend |" in rows[-1], what="a selected task")
        first = next(r for r in rows if re.match(r"^.\s+1  ", r))
        name = re.search(r"(alpha@home_wu_\d+_\d+|beta_wu_\d+_\d+)", first).group(1)
        project = "Alpha@Home" if name.startswith("alpha") else "Beta Project"
        s.send_keys("Enter")
        s.wait_for("Task Info Raw View")
        text = s.text()
        self.assertRegex(text, r"PROJECT NAME +%s " % re.escape(project))
        self.assertRegex(text, r"APP NAME +Worker of %s " % re.escape(project))
        self.assertRegex(text, r"│ name +%s +│" % re.escape(name))
        self.assertRegex(text, r"│ state +2 \(downloaded\) +│")
        self.assertRegex(text, r"report_deadline +\d+\.\d+ \(\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\)")
        self.assertRegex(text, r"estimated_cpu_time_remaining +\d+\.\d+ \((\d+[dhm] )*\d+s\)")
        # The running task's nested active task: its elements framed by blank rows.
        self.assertRegex(text, r"│ active_task_state +1 \(executing\) +")
        r, c = s.find("active_task_state")
        self.assertEqual(s.capture()[r - 1][c:c + 60].strip(), "", "a blank row before it")
        self.assertRegex(text, r"│ scheduler_state +2 \(scheduled\) +")
        # More elements than rows: PgDn scrolls the headers away, PgUp brings them back.
        s.send_keys("NPage")
        s.wait_gone("PROJECT NAME")
        s.send_keys("PPage")
        s.wait_for("PROJECT NAME")
        s.send_keys("Escape")
        s.wait_gone("Task Info Raw View")
        self.quit(s)

    def test_wrong_password_is_refused(self):
        port = os.environ["BOINC_SANDBOX_PORT"]
        self.write_config([("127.0.0.1", port, "not the password", "")])
        s = self.varnix()
        s.wait_for("unauthorized!", timeout=30)
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
