"""The notices window of varnix in a real terminal against the fake BOINC client."""

import unittest

from varnixe2e import VarnixTestCase

STATUS = " Esc Cancel | PgUp/PgDn/Home/End Scroll"
NEWS = ("notice Maintenance\tDown <b>today</b> &amp; back <i>tomorrow</i>.<br>"
        "See <a href=\"https://alpha.example/status\">status</a>.\tAlpha@Home\thttps://alpha.example/news")
ALERT = "notice _(\"Notice from BOINC\")\t_(\"BOINC can't access Internet - check network connection.\")"


class NoticesWindowTest(VarnixTestCase):

    def caption(self, s):
        return s.row(1)

    def test_notices_window_count_minute_poll_reset_and_restart(self):
        fake = self.fake()
        self.assertEqual(fake.command(NEWS), "ok")
        self.assertEqual(fake.command(ALERT), "ok")
        self.write_config([("127.0.0.1", fake.port, "", "fake")])
        s = self.varnix(cols=100, rows=30)
        s.wait_for(" Host 127.0.0.1:%d(fake) 2 notices " % fake.port)

        # Newest first, readable, the link under its notice; the count goes on opening.
        s.send_keys("I")
        s.wait_for(" Notices ")
        text = s.text()
        for line in ["client", "Notice from BOINC",
                     "BOINC can't access Internet - check network connection.",
                     "Alpha@Home", "Maintenance", "Down today & back tomorrow.",
                     "See status (https://alpha.example/status).", "https://alpha.example/news"]:
            self.assertIn(line, text)
        self.assertLess(text.index("Notice from BOINC"), text.index("Maintenance"))
        self.assertNotIn("<b>", text)
        self.assertNotIn("_(", text)
        self.assertIn(STATUS, s.capture()[-1])
        s.wait_until(lambda rows: "notices" not in rows[1], what="the count to go")

        # Other keys are swallowed; a resize keeps the window in the middle.
        s.send_keys("V")
        s.resize(80, 24)
        s.wait_until(lambda rows: len(rows) == 24 and rows[2][4:6] == "┌─", what="the window re-centred")
        self.assertNotIn(" Statistics [host] ", s.text())
        s.send_keys("Escape")
        s.wait_gone(" Notices ")
        self.assertNotIn("Esc Cancel", s.capture()[-1])

        # The client resets its list (-1): the same two notices come again with one new
        # one. Within the minute only the new one counts, and nothing shows twice.
        fake.command("notices-restart")
        fake.command(NEWS)
        fake.command(ALERT)
        fake.command("notice Late news\tArrived later.\tBeta")
        fake.command("notices-reset")
        s.wait_for(" 1 notice ", timeout=75)
        s.send_keys("i")
        s.wait_for("Late news")
        text = s.text()
        self.assertEqual(text.count("Maintenance"), 1, text)
        self.assertEqual(text.count("Notice from BOINC"), 1, text)
        self.assertLess(text.index("Late news"), text.index("Notice from BOINC"))

        # A restarted client numbers from 1 again: its list replaces the held one at once.
        fake.command("notices-restart")
        fake.command("notice After restart\tFresh start.")
        fake.command("drop")
        s.wait_for("After restart", timeout=20)
        s.wait_gone("Maintenance")
        self.assertNotIn("Late news", s.text())
        s.send_keys("I")
        s.wait_gone(" Notices ")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
