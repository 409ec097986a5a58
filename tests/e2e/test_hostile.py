"""varnix against BOINC clients that misbehave: silent, stalling, closing, flooding,
nesting without end, sending control characters, refusing every login. Whatever the
client does, varnix keeps running, its keys keep working, the caption tells the host's
state, and Q quits at once."""

import time
import unittest

from layoutcheck import frame_problems, stray_sequences, wait_selected
from varnixe2e import ALPHA, BETA, Task, VarnixTestCase, messages_xml, state_xml

COLS = 200
ROWS = 40

# Q must not wait for a network time-out (5 s to connect, 15 s for a silent reply).
QUIT_TIMEOUT = 5
# Long enough for a reply time-out, the reconnection and a timer tick on a slow machine.
STATE_TIMEOUT = 40
# Longer than a timer tick: a state that holds this long is not a passing flicker.
HOLD = 4


def tasks():
    return [Task("task_%d" % i, active=1, done=0.1 * i) for i in range(5)]


class HostileTest(VarnixTestCase):

    def start(self, fake, pwd="", tasklist=None):
        fake.set_state(tasks() if tasklist is None else tasklist)
        self.write_config([("127.0.0.1", fake.port, pwd, "hostile")])
        s = self.varnix(cols=COLS, rows=ROWS)
        if tasklist is None:
            s.wait_for("task_4")
        return s

    def caption(self, s):
        return s.capture()[1]

    def assert_caption(self, s, state):
        """The caption comes to show the state and keeps showing it over the next timer
        ticks (every 3 s), while the program keeps trying the host."""
        s.wait_until(lambda rows: state in rows[1], STATE_TIMEOUT, "caption " + state)
        until = time.monotonic() + HOLD
        while time.monotonic() < until:
            self.assertIn(state, self.caption(s))
            time.sleep(0.2)

    def assert_keys_work(self, s):
        """Down selects the first task and Up gives the selection up: the status line
        follows each within moments, whatever the update thread is waiting for."""
        wait_selected(s, False)
        s.send_keys("Down")
        wait_selected(s, True)
        s.send_keys("Up")
        wait_selected(s, False)

    def assert_layout(self, s):
        problems = frame_problems(s.capture(), COLS, ROWS)
        self.assertEqual(problems, [], "\n".join(s.capture()))

    def wait_new_request(self, fake, name):
        seen = len(fake.requests())
        fake.wait_request(name, lambda r: r["seq"] > seen, timeout=STATE_TIMEOUT)

    def assert_quits(self, s):
        self.assertTrue(s.is_running())
        s.send_keys("Q")
        self.assertEqual(s.wait_exit(timeout=QUIT_TIMEOUT), 0)

    # -- silence -------------------------------------------------------------------

    def test_client_that_never_answers(self):
        fake = self.fake(extra=["--fault", "stall:*"])
        s = self.start(fake, tasklist=[])
        # It takes the connection and the login request, and says nothing: that host is
        # as good as offline, and the screen is up at once all the same.
        fake.wait_request("auth1")
        self.assert_caption(s, "offline!")
        self.assertIn("Host 127.0.0.1:%d(hostile)" % fake.port, self.caption(s))
        self.assert_layout(s)

        # It recovers, then falls silent again on a fresh connection.
        fake.set_state(tasks())
        fake.command("clearfaults")
        fake.command("drop")
        s.wait_for("task_4", timeout=STATE_TIMEOUT)
        s.wait_until(lambda rows: "offline!" not in rows[1], STATE_TIMEOUT, "online")
        fake.command("fault stall *")
        fake.command("drop")
        self.assert_caption(s, "offline!")
        self.assert_keys_work(s)
        self.assert_quits(s)

    def test_client_that_stalls_in_the_middle_of_a_reply(self):
        fake = self.fake()
        s = self.start(fake)
        s.wait_until(lambda rows: "offline!" not in rows[1], STATE_TIMEOUT, "online")
        # On the open connection: the reply time-out has to end the wait.
        fake.command("fault stall-mid get_state")
        self.wait_new_request(fake, "get_state")
        self.assert_keys_work(s)
        self.assert_caption(s, "offline!")
        self.assert_keys_work(s)
        self.assert_layout(s)
        self.assert_quits(s)

    def test_client_that_closes_in_the_middle_of_a_reply(self):
        fake = self.fake()
        s = self.start(fake)
        fake.command("fault close-mid get_state")
        self.assert_caption(s, "offline!")
        self.assert_keys_work(s)
        self.assertEqual(s.capture()[3][1:].split()[:2], ["1", "Run"], "the last tasks stay")
        self.assert_layout(s)
        self.assert_quits(s)

    # -- floods --------------------------------------------------------------------

    def test_reply_of_300_megabytes(self):
        fake = self.fake()
        s = self.start(fake)
        fake.command("fault huge get_state")
        fake.command("drop")
        self.assert_caption(s, "offline!")
        # Keys work and Q quits while the next flood is on its way.
        self.wait_new_request(fake, "get_state")
        self.assert_keys_work(s)
        self.assert_layout(s)
        self.assert_quits(s)

    def test_elements_nested_100000_deep(self):
        fake = self.fake()
        deep = "<x>" * 100000 + "deep" + "</x>" * 100000
        # The tasks before the abyss still count; the parser stops at its depth limit.
        state = ("<client_state>\n<result><name>before_the_abyss</name>"
                 "<project_url>%s</project_url><state>2</state>"
                 "<active_task><active_task_state>1</active_task_state></active_task>"
                 "</result>\n%s\n</client_state>\n" % (ALPHA, deep))
        fake.set_reply("get_state", state)
        fake.set_reply("get_message_count", "<seqno>2</seqno>")
        fake.set_reply("get_messages", "<msgs>\n<msg><seqno>1</seqno><time>1700000000</time>"
                       "<body>surface message</body></msg>\n<msg><seqno>2</seqno>" + deep
                       + "</msg>\n</msgs>\n")
        fake.set_reply("get_statistics", "<statistics>" + deep + "</statistics>")
        fake.set_reply("get_disk_usage", "<disk_usage_summary>" + deep + "</disk_usage_summary>")
        fake.set_reply("get_cc_status", "<cc_status>" + deep + "</cc_status>")
        fake.set_reply("acct_mgr_info", "<acct_mgr_info>" + deep + "</acct_mgr_info>")
        self.write_config([("127.0.0.1", fake.port, "", "hostile")])
        s = self.varnix(cols=COLS, rows=ROWS)
        s.wait_for("before_the_abyss")
        s.wait_for("surface message")
        fake.wait_request("acct_mgr_info")
        # The host answers: it is online, however odd its answers are.
        s.wait_until(lambda rows: "offline!" not in rows[1], STATE_TIMEOUT, "online")
        self.assertNotIn("unauthorized!", self.caption(s))
        self.assert_keys_work(s)
        self.assert_layout(s)
        self.assert_quits(s)

    # -- hostile texts ---------------------------------------------------------------

    def test_control_characters_and_bad_bytes_stay_harmless(self):
        fake = self.fake()
        gamma = "http://127.0.0.1:9/gamma/"
        # Written as ISO-8859-1: each character is the byte of that value on the wire.
        projects = [
            (ALPHA, "Csi\x9b2J\x9b31mProject", ""),           # raw C1 control bytes
            (BETA, "Bad\xff\xfeUtf\xe2\x82", ""),             # invalid and torn UTF-8
            (gamma, "Refs&#10;&#13;&#9;&#127;&#155;&#x85;end", ""),  # references to controls
        ]
        tasklist = [
            Task("csi\x9b2Jtask", project=ALPHA, active=1, done=0.5),
            Task("utf\xc3\x28bad\xed\xa0\x80sur\xc0\xafover", project=BETA, active=1, done=0.5),
            Task("refs&#10;lf&#13;cr&#9;tab&#127;del&#155;c1", project=gamma, active=1, done=0.5),
            Task("wide_\u65e5\u672c_\xe9".encode("utf-8").decode("latin-1"), project=gamma,
                 active=1, done=0.5),
        ]
        state = state_xml(tasklist, projects=projects)
        # Entities were escaped by state_xml: put the references back as references.
        state = state.replace("&amp;#", "&#")
        # A reference to an escape, like a raw one, is no XML at all: the parser stops
        # there, and what came before it is shown.
        state = state.replace("</client_state>",
                              "<result><name>esc&#27;[2J&#x1b;]0;pwned&#7;task</name></result>"
                              "</client_state>")
        fake.set_reply("get_state", state)
        fake.set_reply("get_message_count", "<seqno>5</seqno>")
        fake.set_reply("get_messages", messages_xml([
            (1, 1700000000, "Csi\x9bproject", "body csi\x9b[31mred"),
            (2, 1700000000, "", "body bad \xff\xfe\xc0\xaf bytes"),
            (3, 1700000060, "", "body refs &#10; &#27; &#x9b; stay text"),
            (4, 1700000120, "", "body tab\there and cr\rthere"),
            (5, 1700000180, "evil\x1b]0;pwned\x07", "body esc\x1b[2J\x1b]0;pwned\x07 end"),
        ]))
        # Unsorted: the first line is the first task sent.
        self.write_config([("127.0.0.1", fake.port, "", "hostile")],
                          extra="    <tasks_sort_mode>0\n    </tasks_sort_mode>")
        s = self.varnix(cols=COLS, rows=ROWS)
        s.wait_for("csi?2Jtask")
        s.wait_for("body refs")
        text = s.text()
        # Line ends are dropped by the parser, the other controls become blanks or '?'.
        for shown in ("Csi?2J?31mProject", "Bad??Utf??", "Refs  ???end", "utf?(bad???sur??over",
                      "refslf cr tab?del?c1", "wide_\u65e5\u672c_\xe9",
                      "body csi?[31mred", "body bad ???? bytes",
                      "body refs &#10; &#27; &#x9b; stay text", "body tab here and crthere"):
            self.assertIn(shown, text)
        self.assertNotIn("pwned", text)
        self.assertEqual(stray_sequences(s.capture(colors=True)), [])
        self.assertNotIn("pwned", s.pane_info("#{pane_title}"), "the title was not changed")
        self.assert_layout(s)
        self.assert_keys_work(s)

        # The confirmation box names the task: the same harmless text.
        s.send_keys("Down", "A")
        s.wait_for("Please Confirm")
        s.wait_for("Task   : csi?2Jtask")
        self.assertEqual(stray_sequences(s.capture(colors=True)), [])
        self.assert_layout(s)
        s.send_keys("Escape")
        s.wait_gone("Please Confirm")
        self.assert_layout(s)
        self.assert_quits(s)

    # -- refusal ---------------------------------------------------------------------

    def test_client_that_refuses_every_login(self):
        fake = self.fake(password="secret")
        s = self.start(fake, pwd="secret")
        s.wait_until(lambda rows: "offline!" not in rows[1], STATE_TIMEOUT, "online")
        fake.command("refuse-login on")
        fake.command("drop")
        self.assert_caption(s, "unauthorized!")
        self.assertNotIn("offline!", self.caption(s))
        self.assert_keys_work(s)
        self.assert_layout(s)
        self.assert_quits(s)

    def test_refused_from_the_start(self):
        fake = self.fake(password="secret", extra=["--refuse-login"])
        s = self.start(fake, pwd="secret", tasklist=[])
        self.assert_caption(s, "unauthorized!")
        self.assert_layout(s)
        self.assert_quits(s)


if __name__ == "__main__":
    unittest.main()
