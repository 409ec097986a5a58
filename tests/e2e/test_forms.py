"""The add project and account manager forms in a real terminal against the fake BOINC
client, reached through the Projects menu: every road, a failure that keeps the form open
with the reason and sends nothing after it, and a success that sends the right values
and closes the form."""

import hashlib
import re
import time
import unittest

from varnixe2e import Task, VarnixTestCase

GAMMA = "http://127.0.0.1:9/gamma/"
IN_PROGRESS = "<account_out><error_num>-204</error_num></account_out>"


def passwd_hash(password, email):
    return hashlib.md5((password + email).encode()).hexdigest()


class FormsTest(VarnixTestCase):

    def start(self, extra=""):
        self.client = self.fake()
        self.client.set_state([Task("task_one", active=1, done=0.5)])
        self.write_config([("127.0.0.1", self.client.port, "", "forms")], extra=extra)
        s = self.varnix(cols=100, rows=32)
        s.wait_for("50.00  Alpha@Home")
        return s

    def projects_menu(self, s, downs, wait):
        """Opens Projects, walks down and runs the item; waits for the next menu."""
        s.send_keys("F9")  # opens File at first, then the submenu where the bar was left
        rows = s.wait_until(lambda rows: any("Next BOINC host" in r or "Add project by URL" in r
                                             for r in rows), what="a submenu")
        if not any("Add project by URL" in r for r in rows):
            s.send_keys("Right", "Right")
        s.wait_for("Add project by URL")
        s.send_keys(*["Down"] * downs + ["Enter"])
        s.wait_for(wait)

    def queue(self, name, content, times=1):
        for _ in range(times):
            self.assertEqual(self.client.command("queue %s %s" % (name, content)), "ok")

    def status(self, s):
        return s.capture()[-1].strip()

    def body(self, name):
        reqs = self.client.requests(name)
        return reqs[-1]["body"] if reqs else None

    def test_listed_project_with_a_new_account(self):
        s = self.start()
        self.projects_menu(s, 0, "Gamma Grid")  # Add project
        s.send_keys("Down", "Enter")
        s.wait_for("Create new user account")
        s.send_keys("Down", "Enter")
        s.wait_for(" Gamma Grid ")
        for line in ("url          : " + GAMMA, "General area : Biology and Medicine",
                     "Specific area: Protein folding", "Home         : Gamma Institute",
                     "Description  : Folds proteins that were never meant to fold.",
                     "Platforms    : x86_64-pc-linux-gnu", "Enter-Ok    Esc-Cancel"):
            self.assertIsNotNone(s.find(line), line)
        order = [s.find(label)[0] for label in (" email", " password", " username", " teamname")]
        self.assertEqual(order, list(range(order[0], order[0] + 8, 2)))
        self.assertEqual(self.status(s), "Esc Cancel")

        # A failing creation stops there: no lookup, the form stays with what was typed.
        self.queue("create_account_poll", "<account_out><error_num>-207</error_num>"
                   "<error_msg>email address already in use</error_msg></account_out>")
        s.send_text("Me@Example.ORG ")
        s.send_keys("Tab")
        s.send_text("pass word")
        s.send_keys("Tab")
        s.send_text("Myself")
        s.send_keys("Tab")
        s.send_text("Team X")
        s.send_keys("Enter")
        s.wait_for(" Error: email address already in use")
        self.assertEqual(self.client.requests("lookup_account"), [])
        self.assertIsNotNone(s.find("Me@Example.ORG"))

        # While the client works the form says so; then it closes.
        self.queue("create_account_poll", IN_PROGRESS, 3)
        s.send_keys("Enter")
        s.wait_for(" Contacting the project... ")
        s.wait_gone(" Gamma Grid ", timeout=20)
        email = "me@example.org"
        self.assertEqual(self.body("create_account"),
                         "<create_account>\n   <url>%s</url>\n   <email_addr>%s</email_addr>\n"
                         "   <passwd_hash>%s</passwd_hash>\n   <user_name>myself</user_name>\n"
                         "   <team_name>Team X</team_name>\n</create_account>\n"
                         % (GAMMA, email, passwd_hash("pass word", email)))
        self.assertIn("<passwd_hash>%s</passwd_hash>" % passwd_hash("pass word", email),
                      self.body("lookup_account"))
        self.assertIn("<project_name>Gamma Grid</project_name>", self.body("project_attach"))
        self.assertIn("<project_url>%s</project_url>" % GAMMA, self.body("project_attach"))
        s.wait_until(lambda rows: "F9/M Menu" in rows[-1], what="the main status line")
        self.quit(s)

    def test_project_by_url_with_an_existing_account(self):
        s = self.start()
        self.projects_menu(s, 1, "Existing user")  # Add project by URL
        s.send_keys("Enter")
        s.wait_for(" Add project by URL ")
        self.assertIsNone(s.find("General area"))
        order = [s.find(label)[0] for label in (" ProjectURL", " email", " password")]
        self.assertEqual(order, list(range(order[0], order[0] + 6, 2)))
        self.assertIsNone(s.find(" username"))
        # Esc closes it without a word to the client.
        s.send_keys("Escape")
        s.wait_gone(" Add project by URL ")
        self.assertEqual(self.status(s)[:10], "PgUp/PgDn ")

        self.projects_menu(s, 1, "Existing user")
        s.send_keys("Enter")
        s.wait_for(" Add project by URL ")
        # A lookup error without a text gives its number and meaning; nothing is attached.
        self.queue("lookup_account_poll", "<account_out><error_num>-136</error_num></account_out>")
        s.send_text("http://127.0.0.1:9/new/ ")
        s.send_keys("Tab")
        s.send_text("A@B.C")
        s.send_keys("Tab")
        s.send_text("pw")
        s.send_keys("Enter")
        s.wait_for(" Error: -136 (no such account)")
        time.sleep(0.5)
        self.assertEqual(self.client.requests("project_attach"), [])
        self.assertEqual(self.client.requests("create_account"), [])
        s.send_keys("Enter")
        s.wait_gone(" Add project by URL ", timeout=20)
        self.assertEqual(self.body("project_attach"),
                         "<project_attach>\n<project_url>http://127.0.0.1:9/new/</project_url>\n"
                         "<authenticator>0123456789abcdef0123456789abcdef</authenticator>\n"
                         "<project_name>Add project by URL</project_name>\n</project_attach>\n")
        self.assertIn("<email_addr>a@b.c</email_addr>", self.body("lookup_account"))
        self.quit(s)

    def test_account_managers_new_and_listed(self):
        s = self.start(extra="    <accmgr><name>Old One</name><url>http://127.0.0.1:9/old/</url></accmgr>")
        self.projects_menu(s, 2, "Add new account manager")
        self.assertIn("Old One", s.text())
        s.send_keys(*["Down"] * 3 + ["Enter"])  # Manager One, Old One, separator, new
        s.wait_for(" Unnamed ")
        self.assertIsNotNone(s.find("Unnamed"))
        self.assertIsNotNone(s.find("please do so before proceeding."))
        # The manager's configuration cannot be fetched: nothing more is sent.
        self.queue("get_project_config_poll", "<project_config><error_num>-107</error_num></project_config>")
        s.send_text("Mine")  # replaces the proposed name
        s.send_keys("Tab")
        s.send_text("http://127.0.0.1:9/mine/")
        s.send_keys("Tab")
        s.send_text("me")
        s.send_keys("Tab")
        s.send_text("s3cret-acct")
        s.send_keys("Enter")
        s.wait_for(" Error: Can't get config")
        self.assertEqual(self.client.requests("acct_mgr_rpc"), [])
        s.send_keys("Enter")
        s.wait_gone(" Unnamed ", timeout=20)
        self.assertEqual(self.body("acct_mgr_rpc"),
                         "<acct_mgr_rpc>\n<url>http://127.0.0.1:9/mine/</url>\n<name>me</name>\n"
                         "<password>s3cret-acct</password>\n</acct_mgr_rpc>\n")

        # A listed manager: name and URL stay as the client has them.
        self.projects_menu(s, 2, "Add new account manager")
        self.assertIn("Mine", s.text(), "remembered at once")
        s.send_keys("Enter")
        s.wait_for(" Manager One ")
        self.assertIsNotNone(s.find("http://127.0.0.1:9/manager/"))
        s.send_text("Mine")  # the first input is the user name: the others are fixed
        s.send_keys("Tab")
        s.send_text("pw2")
        s.send_keys("Enter")
        s.wait_gone(" Manager One ", timeout=20)
        self.assertIn("<url>http://127.0.0.1:9/manager/</url>\n<name>Mine</name>",
                      self.body("acct_mgr_rpc"))
        self.quit(s)
        cfg = self.read_config()
        entries = re.findall(r"<accmgr>\s*<name>([^<]*?)\s*</name>\s*<url>([^<]*?)\s*</url>\s*</accmgr>", cfg)
        self.assertEqual(entries, [("Old One", "http://127.0.0.1:9/old/"),
                                   ("Mine", "http://127.0.0.1:9/mine/")])
        self.assertNotIn("s3cret-acct", cfg)
        self.assertNotIn("pw2", cfg)

        # Next time the form offers the remembered URL.
        s = self.varnix(cols=100, rows=32)
        s.wait_for("50.00  Alpha@Home")
        self.projects_menu(s, 2, "Add new account manager")
        s.send_keys("Down", "Down", "Enter")  # Manager One, Old One, Mine
        s.wait_for(" Mine ")
        self.assertIsNotNone(s.find("http://127.0.0.1:9/mine/"))
        s.send_keys("Escape")
        s.wait_gone(" Mine ")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
