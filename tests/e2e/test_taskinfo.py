"""The task information window of varnix in a real terminal against the fake client."""

import re
import unittest

from test_mainscreen import APPS, sample_tasks
from varnixe2e import VarnixTestCase

HIGHLIGHT = "\x1b[46m"  # the task list's selection background
CYAN = "\x1b[36m"


def window_row(rows, name):
    """The screen row of the window that starts with the element name."""
    for r in rows:
        plain = re.sub(r"\x1b\[[0-9;]*m", "", r)
        if re.search(r"│ %s +\S" % re.escape(name), plain):
            return r
    return None


class TaskInfoTest(VarnixTestCase):

    def test_enter_opens_the_window_changes_show_in_cyan_and_esc_closes_it(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        self.write_config([("127.0.0.1", fake.port, "", "")])
        s = self.varnix(cols=120, rows=40)
        s.wait_for("Worker of Alpha")
        s.send_keys("Down")
        s.wait_until(lambda rows: any(HIGHLIGHT in r for r in s.capture(colors=True)),
                     what="the selection")
        s.send_keys("Enter")
        s.wait_for("Task Info Raw View")
        text = s.text()
        # Sorted by state, the running task is the first line.
        for name, value in [("PROJECT NAME", "Alpha@Home"), ("APP NAME", "Worker of Alpha"),
                            ("name", "run_task"), ("state", "2 (downloaded)"),
                            ("active_task_state", "1 (executing)"),
                            ("fraction_done", "0.500000 (50 %)"),
                            ("swap_size", "104857600.000000 (100MB)"),
                            ("estimated_cpu_time_remaining", "300.000000 (5m 0s)")]:
            self.assertRegex(text, r"│ %s +%s +│" % (re.escape(name), re.escape(value)))
        self.assertRegex(text, r"received_time +\d+\.\d+ \(\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\)")
        last = s.capture()[-1]
        self.assertIn(" Esc Cancel | PgUp/PgDn Scroll", last)
        colored = s.capture(colors=True)
        self.assertFalse(any(HIGHLIGHT in r for r in colored), "the highlight is off")
        self.assertNotIn(CYAN, window_row(colored, "fraction_done"), "no cyan at the first rebuild")

        tasks = sample_tasks()
        tasks[0].done = 0.75
        fake.set_state(tasks, apps=APPS)
        found = []

        def changed(rows):
            # Read in colour at once: the cyan lasts until the next tick only.
            found[:] = s.capture(colors=True)
            return "(75 %)" in (window_row(found, "fraction_done") or "")

        s.wait_until(changed, timeout=20, what="the new value")
        colored = found
        row = window_row(colored, "fraction_done")
        # Changed at this tick: cyan until the next one, 3 seconds later at the earliest.
        self.assertRegex(row, re.escape(CYAN) + r"(\x1b\[[0-9;]*m)*0\.750000 \(75 %\)")
        self.assertNotIn(CYAN, window_row(colored, "active_task_state"))
        # Hot keys do nothing while it is open.
        s.send_keys("S")
        s.send_keys("Escape")
        s.wait_gone("Task Info Raw View")
        s.wait_until(lambda rows: any(HIGHLIGHT in r for r in s.capture(colors=True)),
                     what="the highlight back")
        self.assertIn("Enter Info", s.capture()[-1])
        self.assertEqual(fake.requests("suspend_result"), [])
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
