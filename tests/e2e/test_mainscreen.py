"""The main screen of varnix in a real terminal against the fake BOINC client."""

import os
import re
import time
import unittest

from varnixe2e import ALPHA, BETA, Task, VarnixTestCase, messages_xml

TITLES_120 = ("  #  state    done%  project               est  rcv  dl   application"
              "                    swap    task")

HOUR = 3600
DAY = 86400

APPS = {
    "run_wu": ("worker", "Worker of Alpha"),
    "wait_wu": ("worker", "Worker of Alpha"),
    "done_wu": ("worker", "Worker of Alpha"),
    "err_wu": ("worker", "Worker of Alpha"),
    "beta_wu": ("bworker", "Beta cruncher"),
}


def sample_tasks():
    return [
        Task("run_task", wu="run_wu", active=1, done=0.5, est=300, received_ago=2 * HOUR + 300,
             deadline_in=100000, swap=100 * 1048576, plan_class="opencl_nvidia_cuda"),
        Task("wait_task", wu="wait_wu", est=2 * HOUR, received_ago=3 * DAY + 300,
             deadline_in=200000),
        Task("done_task", wu="done_wu", ready=True, state=5, received_ago=630, deadline_in=3030),
        Task("err_task", wu="err_wu", ready=True, state=3, received_ago=690, deadline_in=-50),
        Task("beta_task", project=BETA, wu="beta_wu", active=9, done=0.25, est=7 * DAY,
             received_ago=150, deadline_in=20 * DAY + 3 * HOUR),
        Task("lost_task", project="http://nowhere.invalid/", wu="nowu", state=0),
    ]


def row(n, state, done, project, est, rcv, dl, app, swap, name):
    """A task row as the column formats print it."""
    return ("%3d  " % n + "%-6s" % state + "  %6s" % done + "  %-20s" % project + " %4s" % est
            + " %4s" % rcv + " %4s" % dl + "  %-30s" % app + " %5s " % swap + "  %s" % name)


class MainScreenTest(VarnixTestCase):

    def wait_tasks(self, s, text="Worker of Alpha"):
        return s.wait_for(text)

    def start(self, fake, label="", pwd="", cols=120, rows=40, args=()):
        self.write_config([("127.0.0.1", fake.port, pwd, label)])
        return self.varnix(args=args, cols=cols, rows=rows)

    def row_of(self, s, text):
        pos = s.find(text)
        self.assertIsNotNone(pos, "%r not on screen:\n%s" % (text, s.text()))
        return s.capture()[pos[0]]

    # -- caption and titles --------------------------------------------------------

    def test_caption_with_label_and_column_titles(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake, label="garage")
        s.wait_for(" Host 127.0.0.1:%d(garage) " % fake.port)
        rows = s.capture()
        self.assertIn(" Host 127.0.0.1:%d(garage) " % fake.port, rows[1])
        self.assertEqual(rows[2][1:98], TITLES_120[:97])
        self.quit(s)

    def test_caption_of_command_line_host_has_no_label(self):
        fake = self.fake(password="pw")
        self.write_config([])
        s = self.varnix(args=["--boinchost=127.0.0.1:%d" % fake.port, "--pwd=pw"])
        s.wait_for(" Host 127.0.0.1:%d " % fake.port)
        # Until the first tick after the login the caption may still say offline.
        s.wait_gone("offline!")
        self.assertNotIn("unauthorized!", s.text())
        self.quit(s)

    def test_caption_states(self):
        refused = self.fake(password="right")
        s = self.start(refused, pwd="wrong")
        s.wait_for("unauthorized!")
        self.quit(s)

        closed = self.fake()
        port = closed.port
        closed.close()
        self.fakes.remove(closed)
        self.write_config([("127.0.0.1", port, "", "gone")])
        s = self.varnix()
        s.wait_for(" Host 127.0.0.1:%d(gone) offline!" % port)
        self.quit(s)

        self.write_config([])
        s = self.varnix()
        s.wait_for("no servers")
        self.quit(s)

    # -- task list ---------------------------------------------------------------------

    def test_task_rows_show_every_column(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        # Unsorted, so the rows keep the client's order; wide enough for the task names.
        self.write_config([("127.0.0.1", fake.port, "", "")], extra="    <tasks_sort_mode>0\n    </tasks_sort_mode>")
        s = self.varnix(cols=200, rows=40)
        s.wait_for("run_task")
        expected = [
            row(1, "Run", "50.00", "Alpha@Home", "5m", "2h", "27h", "Worker of Alpha", "100M", "run_task"),
            row(2, "Wait", "   -  ", "Alpha@Home", "2h", "72h", "55h", "Worker of Alpha", " - ", "wait_task"),
            row(3, "Done", "   -  ", "Alpha@Home", "?", "10m", "50m", "Worker of Alpha", " - ", "done_task"),
            row(4, "DoneEr", "   -  ", "Alpha@Home", "?", "11m", "dead", "Worker of Alpha", " - ", "err_task"),
            row(5, "Susp.", "25.00", "Beta Project", "7d", "2m", "20d", "Beta cruncher", " - ", "beta_task"),
            row(6, "New", "   -  ", "???", "?", "?", "?", "unknown application", " - ", "lost_task"),
        ]
        rows = s.capture()
        # Every time shown lies in the middle of its unit, so a slow test sees the same text.
        for i, want in enumerate(expected):
            self.assertEqual(rows[3 + i][1:1 + len(want)], want)
        self.quit(s)

    def test_list_on_a_small_terminal(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake, cols=80, rows=24)
        s.wait_for("Run")
        rows = s.capture()
        self.assertEqual(len(rows), 24)
        self.assertIn(" Host 127.0.0.1:%d " % fake.port, rows[1])
        self.assertEqual(rows[3][1:58], row(1, "Run", "50.00", "Alpha@Home", "5m", "2h", "27h",
                                            "", "", "")[:57])
        self.assertIn("PgUp/PgDn", rows[23])
        self.quit(s)

    def test_row_colours(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake)
        self.wait_tasks(s)
        rows = s.capture(colors=True)
        run = next(r for r in rows if " Run " in r)
        # Yellow bold for a running task, its estimate under 10 minutes in red bold,
        # its near deadline in blue bold, done% of a CUDA plan class in green.
        def coloured(colour, text):
            # The colour, possibly followed by other attributes, then the text.
            return r"\x1b\[%dm(\x1b\[[0-9;]*m)*[^\x1b]*%s" % (colour, re.escape(text))

        self.assertRegex(run, coloured(33, "1  Run"))
        self.assertRegex(run, coloured(31, "5m"))
        self.assertRegex(run, coloured(34, "27h"))
        self.assertRegex(run, coloured(32, "50.00"))
        err = next(r for r in rows if "DoneEr" in r)
        self.assertRegex(err, coloured(31, "DoneEr"))
        self.assertNotRegex(err, coloured(31, "Alpha@Home"))
        self.quit(s)

    def test_selection_status_line_and_task_commands(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake)
        self.wait_tasks(s)
        last = s.capture()[-1]
        self.assertIn("PgUp/PgDn Scroll Msg | +/- Resize Msg | Up/Dn Select | Suspend | Resume |", last)
        s.send_keys("Down")
        s.wait_until(lambda rows: "S uspend" not in rows[-1] and "Suspend" in rows[-1]
                     and " S" in rows[-1] and "uspend |" in rows[-1], what="task keys")
        # Sorted by state: active tasks first, so line 1 is the running one.
        s.send_keys("S")
        hit = fake.wait_request("suspend_result")
        self.assertIn("<name>run_task</name>", hit[0]["body"])
        self.assertIn("<project_url>%s</project_url>" % ALPHA, hit[0]["body"])
        s.send_keys("R")
        hit = fake.wait_request("resume_result")
        self.assertIn("<name>run_task</name>", hit[0]["body"])
        s.send_keys("Up")
        s.wait_until(lambda rows: "Enter Info" in rows[-1] and " Suspend |" in rows[-1],
                     what="keys off again")
        self.quit(s)

    def test_abort_asks_first(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake)
        self.wait_tasks(s)
        s.send_keys("Down")
        s.send_keys("A")
        s.wait_for("Please Confirm")
        s.wait_for("Task   : run_task")
        self.assertIn("Operation : Abort", s.text())
        self.assertIn(" Esc Cancel", s.capture()[-1])
        s.send_keys("n")
        s.wait_gone("Please Confirm")
        time.sleep(0.5)
        self.assertEqual(fake.requests("abort_result"), [])
        s.send_keys("A")
        s.wait_for("Please Confirm")
        s.send_keys("y")
        s.wait_gone("Please Confirm")
        hit = fake.wait_request("abort_result")
        self.assertIn("<name>run_task</name>", hit[0]["body"])
        self.quit(s)

    # -- message view ------------------------------------------------------------------

    def test_messages_with_headers(self):
        fake = self.fake()
        t = 1700000000
        fake.set_reply("get_message_count", "<seqno>4</seqno>\n")
        fake.set_reply("get_messages", messages_xml([
            (1, t, "", "Starting BOINC client"),
            (2, t + 5, "", "Second line same minute"),
            (3, t + 10, "Alpha@Home", "Project says hi"),
            (4, t + 120, "Alpha@Home", "Later news"),
        ]))
        s = self.start(fake)
        s.wait_for("Later news")
        text = s.text()
        self.assertIn("Starting BOINC client", text)
        self.assertNotIn("CDATA", text)
        self.assertNotIn("]]", text)
        headers = [r for r in s.capture() if re.match(r"^.\d+ \w+ +\d+:\d\d", r)]
        self.assertEqual(len(headers), 3, "\n".join(s.capture()))
        self.quit(s)

    def test_restarted_client_log_replaces_the_view(self):
        fake = self.fake()
        for i in range(3):
            fake.command("msg old message %d" % i)
        s = self.start(fake)
        s.wait_for("old message 2")
        # A restarted client numbers from 1 again, and its old connections are gone.
        fake.command("restart")
        for i in range(5):
            fake.command("msg new message %d" % i)
        fake.command("drop")
        s.wait_for("new message 4")
        text = s.text()
        self.assertNotIn("old message", text)
        for i in range(5):
            self.assertEqual(text.count("new message %d" % i), 1)
        self.quit(s)

    def test_quit_is_quick_while_the_host_stalls(self):
        fake = self.fake(extra=["--fault", "stall-mid:get_state"])
        s = self.start(fake)
        s.wait_for(" Host ")
        fake.wait_request("get_state")
        time.sleep(0.5)  # the update thread now waits in the middle of a reply
        s.send_keys("Q")
        # The reply time-out is 15 s: quitting must not wait for it.
        self.assertEqual(s.wait_exit(timeout=5), 0)

    # -- information panel ---------------------------------------------------------------

    def test_information_panel(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake)
        s.wait_for("Storage")
        s.wait_for("all                6")
        text = s.text()
        for line in ("active             2", "run                1", "wait               2",
                     "done               2", "other              1", "Statistics"):
            self.assertIn(line, text)
        self.assertRegex(text, r"total\s+\d+\.\d\dGb")
        self.quit(s)

    # -- layout ------------------------------------------------------------------------

    def test_plus_and_minus_move_the_split_and_are_saved(self):
        fake = self.fake()
        s = self.start(fake, rows=40)
        s.wait_for(" Host ")

        def separator_row(rows):
            for i, r in enumerate(rows[3:], 3):
                if r[1:4] in ("\u2500\u2500\u2500", "---"):
                    return i
            return None

        # 38 rows inside: the task list has 19 rows, the separator is on screen row 22.
        self.assertEqual(separator_row(s.capture()), 22)
        s.send_keys("-")
        s.send_keys("-")  # 5000 -> 5253 -> 5506: 20 rows
        s.wait_until(lambda rows: separator_row(rows) == 23, what="split moved down")
        s.send_keys("+", "+", "+")  # -> 5233 -> 4960 -> 4687: 17 rows
        s.wait_until(lambda rows: separator_row(rows) == 20, what="split moved up")
        self.quit(s)
        self.assertIn("<wtask_height_percent>4687\n", self.read_config())

    def test_keypad_plus_and_minus_move_the_split_on_an_xterm(self):
        # xterm's description names the keypad keys: they arrive as key codes, not as
        # Escape, 'O' and a letter.
        fake = self.fake()
        self.write_config([("127.0.0.1", fake.port, "", "")])
        s = self.varnix(term="xterm-256color")
        s.wait_for(" Host ")

        def separator_row(rows):
            for i, r in enumerate(rows[3:], 3):
                # tmux shows this terminal's line drawing as the letters that encode it
                if r[1:4] in ("\u2500\u2500\u2500", "---", "qqq"):
                    return i
            return None

        s.wait_until(lambda rows: separator_row(rows) == 22, what="the split")
        s.send_keys("KP-")
        s.send_keys("KP-")
        s.wait_until(lambda rows: separator_row(rows) == 23, what="split moved down")
        s.send_keys("KP+", "KP+", "KP+")
        s.wait_until(lambda rows: separator_row(rows) == 20, what="split moved up")
        self.quit(s)

    def test_resize_keeps_layout_and_centres_a_box(self):
        fake = self.fake()
        fake.set_state(sample_tasks(), apps=APPS)
        s = self.start(fake, cols=80, rows=24)
        s.wait_for("Run")
        s.send_keys("Down", "A")
        s.wait_for("Please Confirm")
        s.resize(120, 40)
        s.wait_until(lambda rows: len(rows) >= 40 and "PgUp" in rows[39] or "Esc" in rows[-1],
                     what="status line on the last row")

        def box_centred(rows):
            pos = [(r, line.find("Please Confirm")) for r, line in enumerate(rows)
                   if "Please Confirm" in line]
            if not pos:
                return False
            r, c = pos[0]
            # The box is 40 columns wide and 10 rows high: its left frame at 60 - 20.
            return 15 <= r <= 17 and any(line[40:41] in ("\u2502", "|") for line in rows[r - 2:r])

        s.wait_until(box_centred, what="box centred")
        rows = s.capture()
        self.assertIn("Esc", rows[39])
        s.send_keys("Escape")
        s.wait_gone("Please Confirm")
        self.quit(s)

    # -- hosts ---------------------------------------------------------------------------

    def test_n_and_p_switch_hosts(self):
        a = self.fake()
        a.set_state([Task("task_on_a", wu="x")])
        b = self.fake()
        b.set_state([Task("task_on_b", wu="y")])
        self.write_config([("127.0.0.1", a.port, "", "A"), ("127.0.0.1", b.port, "", "B")])
        s = self.varnix(cols=200)
        s.wait_for("task_on_a")
        s.send_keys("N")
        s.wait_for("(B)")
        s.wait_for("task_on_b")
        self.assertNotIn("task_on_a", s.text())
        s.send_keys("P")
        s.wait_for("task_on_a")
        self.quit(s)

    # -- configuration ---------------------------------------------------------------------

    def test_quit_saves_first_start_file_then_version(self):
        s = self.varnix()
        # A first start opens the host list editor, which takes the keys: leave it first.
        s.wait_for(" Configuration ")
        s.send_keys("Escape")
        s.wait_gone(" Configuration ")
        s.wait_for("Local Server")
        self.quit(s)
        first = self.read_config()
        self.assertTrue(first.startswith("<varnix_cfg>\n    <server>\n        <host>127.0.0.1\n"), first)
        self.assertNotIn("<version>", first)
        self.assertIn("<wtask_height_percent>5000", first)
        s = self.varnix()
        s.wait_for("Local Server")
        self.quit(s)
        self.assertIn("    <version>2.7.2\n    </version>\n", self.read_config())

    def test_broken_configuration_shows_error_and_is_kept(self):
        with open(self.cfgpath, "w") as f:
            f.write("<varnix_cfg><server>")
        s = self.varnix()
        s.wait_for("Config error:")
        s.wait_for("XML error:")
        s.send_keys("Enter")
        s.wait_gone("Config error:")
        self.quit(s)
        self.assertEqual(self.read_config(), "<varnix_cfg><server>")


if __name__ == "__main__":
    unittest.main()
