"""varnix in terminals of every size: tiny, huge, and resized wildly while a message box
is open. Nothing may crash, keys must keep working, and once the terminal has a normal
size again the screen must be exactly what a fresh start at that size shows."""

import os
import random
import signal
import unittest

from layoutcheck import HLINE, frame_problems, send_bytes, stray_sequences, wait_selected
from varnixe2e import VARNIX, Task, VarnixTestCase, messages_xml

NORMAL = (100, 30)

# Sizes in quick succession, down to a single cell and up to 300x100.
STORM = [(1, 1), (300, 100), (20, 10), (2, 60), (120, 1), (1, 100), (300, 2), (57, 23),
         (3, 3), (250, 80), (1, 1), (80, 24), (300, 100), (33, 7), (7, 33), (24, 5),
         (1, 1), (160, 48), (2, 2), (300, 100)]


def tasks():
    # No times: every run at any moment shows the same rows.
    return [Task("task_%d" % i, active=1 if i < 3 else None, done=0.25 * i if i < 3 else None)
            for i in range(5)]


MESSAGES = messages_xml([(i, 1700000000 + 60 * (i // 3), "" if i % 2 else "Alpha@Home",
                          "message number %d" % i) for i in range(1, 9)])


class TerminalTest(VarnixTestCase):

    def setUp(self):
        super().setUp()
        self.client = self.fake()
        self.client.set_state(tasks())
        self.client.set_reply("get_message_count", "<seqno>8</seqno>")
        self.client.set_reply("get_messages", MESSAGES)
        # Number, state, done, project and task name: the names fit in 100 columns.
        self.write_config([("127.0.0.1", self.client.port, "", "term")],
                          extra="    <column_view_mask>527\n    </column_view_mask>")

    def start(self, cols, rows):
        return self.varnix(cols=cols, rows=rows)

    def wait_full(self, s):
        """Waits until tasks, messages and panel have all arrived and are drawn."""
        s.wait_for("task_4")
        s.wait_for("message number 8")
        s.wait_for("Statistics")
        s.wait_until(lambda rows: "offline!" not in rows[1], what="online")

    def reference(self, cols, rows, box=False):
        """The coloured screen of a fresh start at that size (with the abort box open)."""
        s = self.start(cols, rows)
        self.wait_full(s)
        if box:
            self.open_box(s)
        screen = s.capture(colors=True)
        s.send_keys("Escape")
        self.quit(s)
        return screen

    def open_box(self, s):
        s.send_keys("Down")
        wait_selected(s, True)
        s.send_keys("A")
        s.wait_for("Please Confirm")

    def wait_screen(self, s, want):
        s.wait_until(lambda rows: s.capture(colors=True) == want, 20,
                     "the screen of a fresh start:\n" + "\n".join(
                         line for line in want))

    def wait_running(self, s):
        """Waits for two more polls of the client (a tick comes meanwhile) and checks
        that the program is still there."""
        seen = len(self.client.requests("get_state"))
        s.wait_until(lambda rows: len(self.client.requests("get_state")) >= seen + 2,
                     what="two more polls")
        self.assertTrue(s.is_running())

    def assert_keys_work(self, s):
        wait_selected(s, False)
        s.send_keys("Down")
        wait_selected(s, True)
        s.send_keys("Up")
        wait_selected(s, False)

    # -- sizes -----------------------------------------------------------------------

    def test_starts_and_runs_in_tiny_terminals(self):
        want = self.reference(*NORMAL)
        for cols, rows in ((1, 1), (20, 10)):
            with self.subTest(size="%dx%d" % (cols, rows)):
                s = self.start(cols, rows)
                self.wait_running(s)
                # Keys at that size: select, give up, a box with nothing selected.
                s.send_keys("Down", "Up", "A", "Escape", "Down", "Up")
                self.wait_running(s)
                self.assertEqual(stray_sequences(s.capture(colors=True)), [])
                s.resize(*NORMAL)
                self.wait_screen(s, want)
                self.assert_keys_work(s)
                self.quit(s)

    def test_runs_in_a_300_by_100_terminal(self):
        s = self.start(300, 100)
        self.wait_full(s)
        rows = s.capture()
        self.assertEqual(frame_problems(rows, 300, 100), [], "\n".join(rows))
        self.assertIn(" Host 127.0.0.1:%d(term) " % self.client.port, rows[1])
        self.assertIn("PgUp/PgDn", rows[99])
        self.assert_keys_work(s)
        self.quit(s)

    # -- resizing --------------------------------------------------------------------

    def test_resize_storm_with_a_message_box_open(self):
        want = self.reference(*NORMAL, box=True)
        s = self.start(*NORMAL)
        self.wait_full(s)
        self.open_box(s)
        for _ in range(2):
            for cols, rows in STORM:
                s.resize(cols, rows)
        s.resize(*NORMAL)
        self.assertTrue(s.is_running())
        # Frame, caption, titles, panes, the box in the middle and the status line on
        # the last row, with nothing left over from the storm.
        self.wait_screen(s, want)
        self.assertEqual(frame_problems(s.capture(), *NORMAL), [])
        # The box still answers: No closes it like Esc.
        s.send_keys("n")
        s.wait_gone("Please Confirm")
        self.assertEqual(self.client.requests("abort_result"), [])
        wait_selected(s, True)
        s.send_keys("Up")
        self.assert_keys_work(s)
        self.quit(s)

    def test_resize_storm_without_a_box(self):
        want = self.reference(*NORMAL)
        s = self.start(*NORMAL)
        self.wait_full(s)
        for cols, rows in reversed(STORM):
            s.resize(cols, rows)
        s.resize(*NORMAL)
        self.wait_screen(s, want)
        self.assert_keys_work(s)
        self.quit(s)

    def test_status_line_is_back_at_once_after_a_resize(self):
        # Checked within half a second, right after a tick, so that the next tick (up to
        # three seconds away) cannot be what draws it.
        s = self.start(*NORMAL)
        self.wait_full(s)
        for box in (False, True):
            if box:
                self.open_box(s)
            for cols, rows in ((90, 25), (110, 35)):
                with self.subTest(box=box, size=(cols, rows)):
                    seen = len(self.client.requests("get_state"))
                    s.wait_until(lambda r: len(self.client.requests("get_state")) > seen,
                                 what="a poll")
                    s.resize(cols, rows)
                    hint = "Esc Cancel" if box else "PgUp/PgDn Scroll Msg"
                    s.wait_until(lambda r: len(r) == rows and hint in r[-1], 0.5,
                                 "the status line on row %d" % rows)
                    if box:
                        top = [i for i, r in enumerate(s.capture()) if "Please Confirm" in r]
                        self.assertTrue(top, "the box is still there")
        s.send_keys("Escape")
        s.wait_gone("Please Confirm")
        self.quit(s)

    # -- input ---------------------------------------------------------------------

    def test_storm_of_junk_input(self):
        s = self.start(*NORMAL)
        self.wait_full(s)
        # Keys that act (quit, commands, dialogs, the split) are left out; everything
        # else goes: control bytes, torn escape sequences, bytes that are no UTF-8, mouse
        # reports far outside the screen.
        acting = set(b"aAqQrRsSnNpPcCvVmM+-\r\n") | {3, 0x1a, 0x1c}  # Ctrl-C, Ctrl-Z, Ctrl-\
        rng = random.Random(7)
        junk = bytes(b for b in (rng.randrange(256) for _ in range(6000)) if b not in acting)
        mouse = [b"\x1b[M" + bytes([32 + button, 33 + col, 33 + row])
                 for button, col, row in ((0, 222, 222), (3, 0, 0), (64, 150, 3), (65, 5, 200))]
        mouse += [b"\x1b[<0;9999;9999M", b"\x1b[<64;1;1M", b"\x1b[<65;50;20M", b"\x1b[<0;-5;3M"]
        pieces = [junk[i:i + 200] for i in range(0, len(junk), 200)] + mouse
        pieces += [b"\x1b[" + b"9" * 300 + b"~", b"\x1bO", b"\x1b[1;2", b"\xc3", b"\xf0\x9f"]
        for piece in pieces:
            send_bytes(s, piece)
        self.wait_running(s)
        self.assertEqual(frame_problems(s.capture(), *NORMAL), [], "\n".join(s.capture()))
        self.assertEqual(stray_sequences(s.capture(colors=True)), [])
        # Whatever got selected on the way: Up to the top gives the selection up.
        s.send_keys(*["Escape", "Up"] * 8)
        self.assert_keys_work(s)
        self.assertEqual(self.client.requests("abort_result"), [])
        self.quit(s)

    def test_flow_control_keys_do_not_freeze_the_screen(self):
        s = self.start(*NORMAL)
        self.wait_full(s)
        s.send_keys("C-s")
        s.send_keys("Down")
        wait_selected(s, True)
        s.send_keys("C-q")
        s.send_keys("Up")
        wait_selected(s, False)
        self.quit(s)

    def test_interrupts_and_hangups_end_in_order(self):
        def separator_row(rows):
            return next((i for i, r in enumerate(rows) if i > 2 and r[1:4] == HLINE * 3), None)

        for how in ("C-c", "C-\\", signal.SIGTERM, signal.SIGHUP):
            with self.subTest(how=str(how)):
                s = self.start(*NORMAL)
                self.wait_full(s)
                before = separator_row(s.capture())
                s.send_keys("-", "-")
                s.wait_until(lambda rows: separator_row(rows) == before + 1, what="split moved")
                if isinstance(how, str):
                    s.send_keys(how)
                else:
                    os.kill(s.pid, how)
                # Like Q: the settings are saved and the program ends well.
                self.assertEqual(s.wait_exit(timeout=5), 0)
                self.assertIn("<wtask_height_percent>5694\n", self.read_config())
                self.write_config([("127.0.0.1", self.client.port, "", "term")],
                                  extra="    <column_view_mask>527\n    </column_view_mask>")

    def test_input_at_its_end_ends_in_order(self):
        # Input that has ended (here: /dev/null; likewise a terminal that hung up while
        # the hang-up was ignored) must not make the loop spin for ever.
        s = self.session(["sh", "-c", 'exec "$0" < /dev/null', VARNIX], cols=100, rows=30,
                         env={"HOME": self.home, "TERM": "screen-256color"})
        self.assertEqual(s.wait_exit(timeout=10), 0)
        self.assertIn("<version>2.7.2\n", self.read_config())


if __name__ == "__main__":
    unittest.main()
