"""The all-hosts window of varnix in a real terminal, against several fake BOINC clients:
one that answers, one with tasks in trouble, one that takes connections and never
answers, one that refuses the password and a port where nothing listens."""

import re
import socket
import time
import unittest

from varnixe2e import VarnixTestCase, Task

STATUS = " Esc Cancel | Up/Dn Select | Enter Switch | s Sort"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class AllHostsWindowTest(VarnixTestCase):

    def labels(self, s):
        """The hosts' labels in the order the window shows them."""
        return [m.group(1) for r in s.capture() for m in [re.search(r"[* ] (\w+) +127\.0\.0\.1:", r)] if m]

    def line(self, s, label):
        """The window's line of a host, found by its label."""
        for r in s.capture():
            m = re.search(r"[* ] %-12s .*" % re.escape(label), r)
            if m:
                return m.group(0)
        return None

    def wait_line(self, s, label, pattern, timeout=30):
        s.wait_until(lambda rows: re.search(pattern, self.line(s, label) or ""), timeout,
                     "%s matching %r" % (label, pattern))
        return self.line(s, label)

    def test_every_host_at_a_glance_and_enter_switches(self):
        home = self.fake("pw")
        busy = self.fake("pw")
        busy.set_state([Task("late_one", active=1, done=0.2, est=7200, deadline_in=1800),
                        Task("broken", state=3), Task("given_up", state=6),
                        Task("waiting", est=600, deadline_in=86400)],
                       projects=[("http://127.0.0.1:9/alpha/", "Alpha@Home",
                                  "<host_expavg_credit>12.5</host_expavg_credit>"),
                                 ("http://127.0.0.1:9/beta/", "Beta Project",
                                  "<host_expavg_credit>30.25</host_expavg_credit>")])
        busy.set_reply("get_cc_status", "<cc_status><task_mode>3</task_mode><task_mode_perm>2"
                       "</task_mode_perm><task_mode_delay>2520</task_mode_delay></cc_status>")
        hung = self.fake("pw", extra=["--fault", "stall:*"])
        wrong = self.fake("other")
        closed = free_port()
        self.write_config([("127.0.0.1", home.port, "pw", "home"), ("127.0.0.1", busy.port, "pw", "busy"),
                           ("127.0.0.1", hung.port, "pw", "hung"), ("127.0.0.1", wrong.port, "pw", "wrongpw"),
                           ("127.0.0.1", closed, "pw", "nothing")])
        s = self.varnix(cols=120, rows=30)
        s.wait_for(" Host 127.0.0.1:%d(home) " % home.port)
        s.wait_for("Alpha@Home")

        s.send_keys("O")
        s.wait_for(" All hosts [list order] ")
        self.assertIn(STATUS, s.capture()[-1])
        self.assertIn("label        host:port             state        version run mode", s.text())
        self.assertEqual(self.labels(s), ["home", "busy", "hung", "wrongpw", "nothing"])

        self.assertRegex(self.wait_line(s, "home", r"online +7\.20\.5 +auto +2/6 +0 "), r"^\* home")
        busy_line = self.wait_line(s, "busy", r"online")
        self.assertRegex(busy_line, r"online +- +snoozed 42m +1/4 +2 +(29|30)m ! +42\.8 +\d+s ago")
        self.wait_line(s, "wrongpw", r"unauthorized +- +- +- +- +- +- +-")
        self.wait_line(s, "nothing", r"offline +- ")
        # The silent one gives up after the connection's own reply time-out.
        self.wait_line(s, "hung", r"no answer +- ", timeout=40)
        self.assertEqual(busy.requests("get_state"), [], "the others are polled lightly")

        # Problems first; hot keys are the window's while it is open.
        s.send_keys("s")
        s.wait_for(" All hosts [state] ")
        self.assertEqual(self.labels(s), ["nothing", "hung", "wrongpw", "home", "busy"])
        for _ in range(3):
            s.send_keys("s")
        s.wait_for(" All hosts [list order] ")
        self.assertTrue(s.is_running())

        # Down to the busy host; Enter makes it current and closes the window.
        s.send_keys("Down")
        s.send_keys("Enter")
        s.wait_for(" Host 127.0.0.1:%d(busy) " % busy.port)
        s.wait_gone("All hosts")
        s.wait_for(" Run      20.00  Alpha@Home")
        s.wait_until(lambda rows: "V Statistics |" in rows[-1], what="status line back")

        # O opens and closes it, Esc too; the current host is now marked.
        s.send_keys("O")
        s.wait_for(" All hosts [list order] ")
        self.assertRegex(self.wait_line(s, "busy", r"online"), r"^\* busy")
        self.wait_line(s, "home", r"online +7\.20\.5")
        s.send_keys("O")
        s.wait_gone("All hosts")
        s.send_keys("O")
        s.wait_for(" All hosts [list order] ")
        s.send_keys("Escape")
        s.wait_gone("All hosts")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
