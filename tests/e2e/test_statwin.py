"""The statistics window of varnix in a real terminal against the fake BOINC client."""

import time
import unittest

from layoutcheck import send_bytes
from varnixe2e import VarnixTestCase, state_xml, xml

DAY = 86400
FIRST = 1796688000  # the first day of the history, a midnight in UTC
NDAYS = 40
NAMES = ["Alpha@Home", "Beta Project", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta"]

STATUS = (" Esc Cancel | PgUp/PgDn V.Scroll | Left/Right H.Scroll | U Host/User score")


def url(i):
    return "http://127.0.0.1:9/p%d/" % i


def statistics_xml():
    """Project i gains (i + 1) * 10 host credit a day and three times that user credit,
    so the columns come in the reverse of the reply's order."""
    out = ["<statistics>"]
    for i in range(len(NAMES)):
        out.append("<project_statistics><master_url>%s</master_url>" % xml(url(i)))
        for d in range(NDAYS + 1):
            host = 1000 + d * (i + 1) * 10
            out.append("<daily_statistics><day>%d.000000</day><user_total_credit>%d.5"
                       "</user_total_credit><host_total_credit>%d.25</host_total_credit>"
                       "</daily_statistics>" % (FIRST + d * DAY, 3 * host, host))
        out.append("</project_statistics>")
    out.append("</statistics>")
    return "\n".join(out) + "\n"


def date(d):
    return time.strftime("%-2e %b", time.localtime(FIRST + d * DAY))


def header(names):
    return "  %-8s %-8s" % ("", "Summary") + "".join(" %10s " % n[:10] for n in names)


def day_row(d, summary, cells):
    return "%-10s" % date(d) + " %10d " % summary + "".join(" %10d " % c for c in cells)


class StatisticsWindowTest(VarnixTestCase):

    def start(self):
        fake = self.fake()
        fake.set_state([], projects=[(url(i), n, "") for i, n in enumerate(NAMES)])
        fake.set_reply("get_statistics", statistics_xml())
        self.write_config([("127.0.0.1", fake.port, "", "")])
        s = self.varnix(cols=120, rows=40)
        s.wait_for(" Host ")
        return s

    def test_open_scroll_switch_and_close(self):
        s = self.start()
        s.wait_for("Statistics |")
        s.send_keys("V")
        s.wait_for(" Statistics [host] ")
        s.wait_for("Summary")
        self.assertIn(STATUS, s.capture()[-1])
        # 30 rows and 110 columns (the table is wider), centred: the table starts on
        # screen row 5 + 2, column 5 + 2.
        rows = s.wait_until(lambda rows: day_row(NDAYS, 360, [80]) in rows[8], what="newest day")
        self.assertEqual(rows[7][7:7 + 43], header(["Theta", "Eta"]))
        self.assertEqual(rows[8][7:7 + 106], day_row(NDAYS, 360, [80, 70, 60, 50, 40, 30, 20]))
        self.assertEqual(rows[9][7:7 + 34], day_row(NDAYS - 1, 360, [80]))
        self.assertIn(" Statistics [host] ", rows[5])

        s.send_keys("u")
        s.wait_for(" Statistics [user] ")
        s.wait_until(lambda rows: day_row(NDAYS, 1080, [240]) in rows[8], what="user credit")
        s.send_keys("U")
        s.wait_until(lambda rows: day_row(NDAYS, 360, [80]) in rows[8], what="host credit again")

        # Eight columns at 110: the first one scrolls out, then the rule stops it.
        s.send_keys("Right")
        s.wait_until(lambda rows: rows[7][7:7 + 31] == header(["Eta"]), what="scrolled")
        self.assertEqual(s.capture()[8][7:7 + 34], day_row(NDAYS, 360, [70]))
        s.send_keys("Right")
        time.sleep(0.5)
        self.assertEqual(s.capture()[7][7:7 + 31], header(["Eta"]))
        s.send_keys("Left")
        s.wait_until(lambda rows: rows[7][7:7 + 31] == header(["Theta"]), what="back")

        # Half the window's 30 rows per page.
        s.send_keys("PageDown")
        s.wait_until(lambda rows: rows[8][7:7 + 10] == "%-10s" % date(NDAYS - 15), what="paged down")
        s.send_keys("PageUp")
        s.wait_until(lambda rows: rows[8][7:7 + 10] == "%-10s" % date(NDAYS), what="paged up")

        # Hot keys are the window's while it is open; V closes it.
        s.send_keys("Q")
        time.sleep(0.3)
        self.assertTrue(s.is_running())
        s.send_keys("v")
        s.wait_gone("Statistics [host]")
        s.wait_until(lambda rows: "V Statistics |" in rows[-1], what="status line back")

        # A click anywhere closes it, and Esc does.
        s.send_keys("V")
        s.wait_for(" Statistics [host] ")
        send_bytes(s, b"\x1b[M" + bytes([32, 33 + 2, 33 + 2]) + b"\x1b[M" + bytes([35, 33 + 2, 33 + 2]))
        s.wait_gone("Statistics [host]")
        s.wait_until(lambda rows: "V Statistics |" in rows[-1], what="status line back")
        s.send_keys("V")
        s.wait_for(" Statistics [host] ")
        s.send_keys("Escape")
        s.wait_gone("Statistics [host]")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
