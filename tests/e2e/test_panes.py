"""The task list, message view and information panel in a real terminal, on a fake client
(tests/tools/panesdemo against tests/tools/fakeboinc)."""

import os
import re
import subprocess
import unittest

from tmuxdriver import TmuxTestCase, tool_path

DEMO = tool_path("panesdemo")
FAKE = tool_path("fakeboinc")
# Up to two polls of the host and one timer tick of the windows, with room to spare.
WAIT = 30.0
ENV = {"TZ": "UTC", "LC_ALL": "C.UTF-8"}


def status(rows):
    for line in reversed(rows):
        if "sel:" in line:
            return dict(re.findall(r"(\w+):(\S+)", line))
    return {}


class Fake:
    def __init__(self, *args):
        self.proc = subprocess.Popen([FAKE, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.port = int(self.proc.stdout.readline())

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdin.close()
        self.proc.stdout.close()


class PanesInTerminal(TmuxTestCase):

    def setUp(self):
        super().setUp()
        for tool in (DEMO, FAKE):
            if not os.path.exists(tool):
                self.skipTest("tool not built: " + tool)
        self.fake = Fake("--messages", "4")
        self.addCleanup(self.fake.close)

    def start(self, *args, cols=160, rows=40):
        s = self.session([DEMO, *args, "127.0.0.1", str(self.fake.port)], cols=cols, rows=rows,
                         env=ENV)
        s.wait_for("alpha@home_wu_2_0", timeout=WAIT)
        return s

    def test_tasks_messages_and_figures_of_a_client(self):
        s = self.start()
        s.wait_for("Message number 4", timeout=WAIT)
        s.wait_for("Statistics", timeout=WAIT)
        rows = s.capture()
        # Running tasks first (sorted by state), each with its project and application.
        self.assertRegex(rows[0], r"^  1  Run     [ 0-9.]{6}  Alpha@Home +\S+ +\S+ +\S+  Worker of Alpha@Home")
        self.assertRegex(rows[1], r"^  2  Run .*Beta Project .*Worker of Beta Project")
        self.assertRegex(rows[2], r"^  3  Wait       -    Alpha@Home")
        # Messages: a header per minute and project, the CDATA marks gone.
        text = "\n".join(rows)
        self.assertIn("14 Nov 22:14", text)
        self.assertIn("14 Nov 22:16 Alpha@Home", text)
        self.assertNotIn("CDATA", text)
        # The panel at the right edge.
        panel = [r[140:] for r in rows]
        self.assertEqual(panel[1], "all                6")
        self.assertEqual(panel[3], "run                2")
        self.assertEqual(panel[8], "total       251.97Gb")
        self.assertTrue(any(p.startswith("Alpha@Home") for p in panel[13:]), "\n".join(panel))

    def test_running_tasks_are_yellow_and_bold(self):
        s = self.start()
        coloured = s.capture(colors=True)
        self.assertRegex(coloured[0], r"\x1b\[[0-9;]*\b1\b[0-9;]*m.*Run|\x1b\[1m.*Run")
        self.assertRegex(coloured[0], r"\x1b\[[0-9;]*33[;m]")
        waiting = next(r for r in coloured if "alpha@home_wu_0_0" in r)
        self.assertNotRegex(waiting.split("Wait")[0], r"\x1b\[[0-9;]*33[;m]")

    def test_selection_follows_the_keys(self):
        s = self.start()
        s.send_keys("Down")
        rows = s.wait_until(lambda r: status(r).get("sel") == "on", what="selection on")
        self.assertEqual(status(rows).get("task"), "alpha@home_wu_2_0")
        s.send_keys("Enter")
        s.wait_until(lambda r: status(r).get("info") == "1", what="task info asked")
        s.send_keys("Up")
        s.wait_until(lambda r: status(r).get("sel") == "off", what="selection off")
        s.send_keys("q")
        self.assertEqual(s.wait_exit(), 0)

    def test_new_messages_and_a_restarted_log(self):
        s = self.start()
        s.wait_for("Message number 4", timeout=WAIT)
        self.assertEqual(self.fake.command("msg Hello from the client"), "ok")
        s.wait_for("Hello from the client", timeout=WAIT)
        # The client restarts: its new, shorter log replaces the old one.
        self.assertEqual(self.fake.command("restart"), "ok")
        self.assertEqual(self.fake.command("drop"), "ok")
        self.assertEqual(self.fake.command("msg Fresh start"), "ok")
        s.wait_for("Fresh start", timeout=WAIT)
        s.wait_gone("Message number 4", timeout=WAIT)
        self.assertNotIn("Hello from the client", s.text())

    def test_hostile_task_name_stays_in_its_row(self):
        state = ("<client_state><result><name>bad\u009b2J\tname</name><project_url>x</project_url>"
                 "<state>2</state></result></client_state>")
        self.assertEqual(self.fake.command("reply get_state " + state), "ok")
        s = self.session([DEMO, "--ascii", "127.0.0.1", str(self.fake.port)], cols=160, env=ENV)
        rows = s.wait_until(lambda r: any("bad?2J name" in x for x in r), timeout=WAIT,
                            what="the name with its control characters replaced")
        self.assertRegex(rows[0], r"^  1  Wait       -    \?\?\? ")
        self.assertTrue(all("bad" not in r for r in rows[1:]))


if __name__ == "__main__":
    unittest.main()
