"""The task information window against a real BOINC client in the loopback-only sandbox.

Run by CTest outside the sandbox, the outer test starts the sandbox around this module;
inside it (BOINC_SANDBOX_PORT is set) the screen test runs."""

import os
import re
import subprocess
import sys
import unittest

from varnixe2e import VarnixTestCase

HERE = os.path.dirname(os.path.abspath(__file__))
SANDBOX = os.path.join(HERE, "..", "tools", "boinc-sandbox")
INSIDE = "BOINC_SANDBOX_PORT" in os.environ


class RealClientOuter(unittest.TestCase):

    @unittest.skipIf(INSIDE, "already inside the sandbox")
    def test_boinc_task_info_in_the_sandbox(self):
        p = subprocess.run([SANDBOX, "--projects", "2", "--tasks", "2",
                            "--", sys.executable, "-m", "unittest", "-v",
                            "test_boinc_taskinfo.RealClientTaskInfo"],
                           cwd=HERE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, timeout=800)
        self.assertEqual(p.returncode, 0, p.stdout[-6000:])
        self.assertRegex(p.stdout, r"\nOK\n", p.stdout[-6000:])


@unittest.skipUnless(INSIDE, "needs the BOINC client sandbox")
class RealClientTaskInfo(VarnixTestCase):

    def test_a_running_task_shows_its_real_elements(self):
        port = os.environ["BOINC_SANDBOX_PORT"]
        self.write_config([("127.0.0.1", port, os.environ["BOINC_SANDBOX_PASSWORD"], "sandbox")])
        s = self.varnix(cols=160, rows=45)
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


if __name__ == "__main__":
    unittest.main()
