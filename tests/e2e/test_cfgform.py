"""The host list editor in a real terminal against the fake BOINC client: it opens by
itself on a first start, Enter writes the file at once and switches to the new host,
Insert adds one empty row, Esc keeps the file as it was, a bad port is not saved, and a
file that cannot be written is reported."""

import os
import shutil
import stat
import tempfile
import unittest

from varnixe2e import VARNIX, VarnixTestCase

HEADER = "host             port   pwd                   label"
FOOTER = "Esc-Cancel   Enter-Accept   Ins-Add host"
FOOTER_FULL = "Esc-Cancel   Enter-Accept"


class CfgFormTest(VarnixTestCase):

    def open_editor(self, s):
        s.send_keys("c")
        s.wait_for(HEADER)

    def status(self, s):
        return s.capture()[-1].strip()

    def replace_port(self, s, port):
        """From the host field: to the port (cursor on its last digit), empty it, type."""
        s.send_keys("Tab")
        s.send_keys("BSpace", "BSpace", "BSpace", "BSpace", "DC")
        s.send_text(port)

    def test_first_start_opens_the_editor_and_enter_saves_at_once(self):
        fake = self.fake(password="s3cret-pw")
        # The program's working folder is watched too: the password goes nowhere else.
        cwd = tempfile.mkdtemp(prefix="varnix-cwd-")
        self.addCleanup(shutil.rmtree, cwd, ignore_errors=True)
        s = self.session([VARNIX], cols=100, rows=30, cwd=cwd,
                         env={"HOME": self.home, "TERM": "screen-256color"})
        s.wait_for(" Configuration ")
        s.wait_for(HEADER)
        self.assertEqual(self.status(s), "Esc Cancel")
        self.assertIsNotNone(s.find("127.0.0.1        31416                        Local Server"))
        self.assertIsNotNone(s.find(FOOTER))

        s.send_keys("Tab")
        s.send_keys("BSpace", "BSpace", "BSpace", "BSpace", "DC")
        s.send_text("x%d-y" % fake.port)  # only the digits go in
        s.wait_for("127.0.0.1        %-5d " % fake.port)
        s.send_keys("Tab")
        s.send_text("s3cret-pw")
        s.send_keys("Tab")
        s.send_text(" fake")
        s.send_keys("Enter")
        s.wait_gone(HEADER)
        # On disk before the program ends, for the owner's eyes only.
        text = self.read_config()
        self.assertIn("<port>%d\n" % fake.port, text)
        self.assertIn("<pwd>s3cret-pw\n", text)
        self.assertIn("<hostid>Local Server fake\n", text)
        self.assertEqual(stat.S_IMODE(os.stat(self.cfgpath).st_mode), 0o600)
        s.wait_for(" Host 127.0.0.1:%d(Local Server fake) " % fake.port)
        s.wait_gone("offline!")
        self.assertNotIn("unauthorized!", s.text())
        self.assertIn("PgUp/PgDn", self.status(s))
        self.quit(s)

        holders = []
        for top in (self.home, cwd):
            for folder, _, files in os.walk(top):
                for name in files:
                    with open(os.path.join(folder, name), "rb") as f:
                        if b"s3cret-pw" in f.read():
                            holders.append(os.path.join(folder, name))
        self.assertEqual(holders, [self.cfgpath])

    def test_insert_adds_one_row_once_and_esc_saves_nothing(self):
        fake = self.fake()
        self.write_config([("127.0.0.1", fake.port, "", "one")])
        before = self.read_config()
        s = self.varnix(cols=100, rows=30)
        s.wait_for("(one)")
        self.open_editor(s)
        self.assertEqual(s.find(FOOTER)[0] - s.find(HEADER)[0], 4)
        s.send_keys("IC")
        s.wait_for(FOOTER_FULL)
        s.wait_until(lambda rows: not any(FOOTER in r for r in rows), what="short footer")
        # One more host row: the form grew by two rows and was centred again.
        self.assertEqual(s.find(FOOTER_FULL)[0] - s.find(HEADER)[0], 6)
        where = s.find(HEADER)
        s.send_keys("IC")
        s.send_text("new.host")
        s.wait_for("new.host")
        self.assertEqual(s.find(HEADER), where, "a second Insert adds nothing")
        s.send_keys("Escape")
        s.wait_gone(HEADER)
        self.assertIn("PgUp/PgDn", self.status(s))
        self.assertEqual(self.read_config(), before)
        self.quit(s)
        self.assertNotIn("new.host", self.read_config())

    def test_a_port_out_of_range_is_not_saved(self):
        fake = self.fake()
        self.write_config([("127.0.0.1", fake.port, "", "one")])
        before = self.read_config()
        s = self.varnix(cols=100, rows=30)
        s.wait_for("(one)")
        self.open_editor(s)
        self.replace_port(s, "70000")
        s.wait_for("127.0.0.1        70000")
        s.send_keys("Enter")
        # Still in the editor, the cursor still on the port.
        s.send_keys("BSpace")
        s.wait_for("127.0.0.1        7000 ")
        self.assertIn(HEADER, s.text())
        self.assertEqual(self.read_config(), before)
        s.send_keys("Enter")
        s.wait_gone(HEADER)
        self.assertIn("<port>7000\n", self.read_config())
        s.wait_for(" Host 127.0.0.1:7000(one) ")
        self.quit(s)

    def test_resize_keeps_the_editor_centred_and_whole(self):
        fake = self.fake()
        self.write_config([("127.0.0.1", fake.port, "", "one"), ("10.0.0.9", 1, "", "two")])
        s = self.varnix(cols=100, rows=30)
        s.wait_for("(one)")
        self.open_editor(s)
        s.send_keys("Tab", "Tab", "Tab")
        s.send_text("X")
        s.resize(40, 10)
        s.resize(120, 40)

        def centred(rows):
            pos = [(r, line.find(HEADER)) for r, line in enumerate(rows) if HEADER in line]
            if not pos or not any(FOOTER in line for line in rows):
                return False
            r, c = pos[0]
            # 76 columns and 3 + 2 * 2 + 5 = 12 rows: the frame from row 14, column 22;
            # the header in row 14 + 1 + 2, column 22 + 1 + 5.
            return (r, c) == (17, 28) and "oneX" in rows[18] and "10.0.0.9" in rows[20]

        s.wait_until(centred, what="editor centred and whole")
        self.assertEqual(self.status(s), "Esc Cancel")
        s.send_keys("Escape")
        s.wait_gone(HEADER)
        self.quit(s)

    def test_a_file_that_cannot_be_written_is_reported(self):
        fake = self.fake()
        # The file's folder does not exist: a first start, whose save must fail.
        os.symlink(os.path.join(self.home, "missing", "varnix.cfg"), self.cfgpath)
        s = self.varnix(cols=100, rows=30)
        s.wait_for(HEADER)
        self.replace_port(s, str(fake.port))
        s.send_keys("Enter")
        s.wait_for("Config error:")
        s.wait_for("cannot write the file:")
        # The host list is rebuilt all the same.
        s.wait_for(" Host 127.0.0.1:%d(Local Server) " % fake.port)
        self.assertEqual(self.status(s), "Esc Cancel")
        s.send_keys("Enter")
        s.wait_gone("Config error:")
        self.quit(s)
        self.assertFalse(os.path.exists(os.path.join(self.home, "missing")))


if __name__ == "__main__":
    unittest.main()
