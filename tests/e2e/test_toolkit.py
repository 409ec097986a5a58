"""The toolkit in a real terminal: a message box over a status line (tests/tools/nmsgboxdemo)."""

import os
import re
import unittest

from tmuxdriver import TmuxTestCase, tool_path

DEMO = tool_path("nmsgboxdemo")
BOX_ROWS = 10  # four text rows + six
BOX_COLS = 40
ASCII_TOP = "+" + "-" * (BOX_COLS - 2) + "+"


def status(rows):
    """The demo's status line fields as a dict, from the last non-empty row."""
    for line in reversed(rows):
        if "keys:" in line:
            return dict(re.findall(r"(\w+):(\S+)", line))
    return {}


class MessageBoxInTerminal(TmuxTestCase):

    def setUp(self):
        super().setUp()
        if not os.path.exists(DEMO):
            self.skipTest("demo tool not built: " + DEMO)

    def start(self, *args, cols=80, rows=24):
        s = self.session([DEMO] + list(args), cols=cols, rows=rows)
        s.wait_for("Please Confirm")
        s.wait_until(lambda r: status(r).get("box") == "open", what="status line")
        return s

    def box_origin(self, s):
        pos = s.find(ASCII_TOP)
        self.assertIsNotNone(pos, "no box frame on screen:\n" + s.text())
        return pos

    def assertCentred(self, s, cols, rows):
        top, left = self.box_origin(s)
        self.assertEqual(top, rows // 2 - BOX_ROWS // 2)
        self.assertEqual(left, cols // 2 - BOX_COLS // 2)
        screen = s.capture()
        self.assertEqual(screen[top + BOX_ROWS - 1][left:left + BOX_COLS], ASCII_TOP)

    def test_box_is_centred_with_text_and_buttons(self):
        s = self.start("--ascii")
        self.assertCentred(s, 80, 24)
        top, left = self.box_origin(s)
        screen = s.capture()
        self.assertEqual(screen[top + 2][left:left + 16], "| Please Confirm")
        self.assertIn("Task   : demo_task_1", screen[top + 4])
        self.assertIn("Operation : Abort", screen[top + 5])
        buttons = screen[top + BOX_ROWS - 3]
        self.assertEqual(buttons.index("Yes") - left, 16)  # " Yes " starts at column 15
        self.assertEqual(buttons.index("No") - left, 23)
        # The status line stays on the last row below the box.
        self.assertIn("keys:0", screen[23])

    def test_other_keys_stop_at_the_box(self):
        s = self.start("--ascii")
        s.send_keys("x", "q", "Down", "Enter", "F9", "Y")
        # "Y" is a button key of Yes and does reach the program, as a command; the other
        # keys before it must not have: no key counted, and "q" did not quit.
        rows = s.wait_until(lambda r: status(r).get("box") == "yes", what="Yes pressed")
        self.assertEqual(status(rows).get("keys"), "0")
        self.assertTrue(s.is_running())

    def test_esc_passes_through_to_the_program(self):
        s = self.start("--ascii")
        s.send_keys("Escape")
        rows = s.wait_until(lambda r: status(r).get("box") == "closed", what="box closed")
        self.assertEqual(status(rows).get("last"), "27")
        s.wait_gone("Please Confirm")
        # With the box gone, keys reach the program again.
        s.send_keys("z")
        s.wait_until(lambda r: status(r).get("last") == str(ord("z")), what="z counted")
        s.send_keys("q")
        self.assertEqual(s.wait_exit(), 0)

    def test_no_button_acts_like_esc(self):
        s = self.start("--ascii")
        s.send_keys("n")
        rows = s.wait_until(lambda r: status(r).get("box") == "closed", what="box closed")
        self.assertEqual(status(rows).get("last"), "27")

    def test_resize_recentres_the_box(self):
        s = self.start("--ascii")
        s.resize(100, 30)
        s.wait_until(lambda r: status(r).get("size") == "30x100", what="new size")
        s.wait_until(lambda r: (s.find(ASCII_TOP) or (0, 0))[0] == 30 // 2 - BOX_ROWS // 2,
                     what="box moved")
        self.assertCentred(s, 100, 30)
        self.assertIn("size:30x100", s.row(29))

        s.resize(60, 16)
        s.wait_until(lambda r: status(r).get("size") == "16x60", what="smaller size")
        s.wait_until(lambda r: (s.find(ASCII_TOP) or (0, 0))[0] == 16 // 2 - BOX_ROWS // 2,
                     what="box moved")
        self.assertCentred(s, 60, 16)
        # Still responsive after the resizes.
        s.send_keys("Escape")
        s.wait_until(lambda r: status(r).get("box") == "closed", what="box closed")

    def test_reopened_box_is_centred_on_the_new_size(self):
        s = self.start("--ascii")
        s.send_keys("Escape")
        s.wait_until(lambda r: status(r).get("box") == "closed", what="box closed")
        s.resize(90, 20)
        s.wait_until(lambda r: status(r).get("size") == "20x90", what="new size")
        s.send_keys("b")
        s.wait_for("Please Confirm")
        self.assertCentred(s, 90, 20)

    def test_line_drawing_characters_and_colours(self):
        s = self.start()
        screen = s.capture()
        top = next(i for i, r in enumerate(screen) if "\u250c" in r)  # box corner
        self.assertEqual(top, 24 // 2 - BOX_ROWS // 2)
        self.assertIn("\u2500" * (BOX_COLS - 2), screen[top])
        # The buttons are white on cyan; plain text has no cyan background.
        coloured = s.capture(colors=True)
        button_row = coloured[top + BOX_ROWS - 3]
        self.assertRegex(button_row, r"\x1b\[[0-9;]*46[;m].*Yes")
        self.assertNotRegex(coloured[top + 2], r"\x1b\[[0-9;]*46[;m]")

    def test_long_multibyte_text_wraps_inside_the_box(self):
        text = "\u00e4" * 50 + "\nend"
        s = self.session([DEMO, "--ascii", "--text", text], cols=80, rows=24)
        s.wait_for("end")
        # 50 characters take two rows by the box's count, plus the "end" row.
        top, left = self.box_origin(s)
        self.assertEqual(top, 24 // 2 - 9 // 2)
        screen = s.capture()
        self.assertTrue(screen[top + 2][left + 2:].startswith("\u00e4" * 36))


if __name__ == "__main__":
    unittest.main()
