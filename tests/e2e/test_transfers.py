"""The file transfers window, the snooze items and the client controls in a real terminal
against the fake BOINC client: one scenario each."""

import re
import time
import unittest

from varnixe2e import ALPHA, BETA, Task, VarnixTestCase

UP = ("<file_transfer><project_url>%s</project_url><project_name>Alpha@Home</project_name>"
      "<name>alpha_out_0</name><nbytes>4608</nbytes><persistent_file_xfer><next_request_time>%f"
      "</next_request_time><time_so_far>2</time_so_far><is_upload>1</is_upload>"
      "</persistent_file_xfer></file_transfer>")
DOWN = ("<file_transfer><project_url>%s</project_url><project_name>Beta Project</project_name>"
        "<name>beta_in_1</name><nbytes>2516582</nbytes><persistent_file_xfer><time_so_far>3725"
        "</time_so_far></persistent_file_xfer><file_xfer><bytes_xferred>1258291</bytes_xferred>"
        "<xfer_speed>12595</xfer_speed></file_xfer></file_transfer>" % BETA)


def body(tag, url, name):
    return ("<%s>\n<project_url>%s</project_url>\n<filename>%s</filename>\n</%s>"
            % (tag, url, name, tag))


class TransfersTest(VarnixTestCase):

    def start(self, label, state_extra=""):
        self.client = self.fake()
        self.client.set_state([Task("task_one", active=1), Task("task_two", project=BETA)])
        if state_extra:
            with open(self.client.replies + "/get_state.xml") as f:
                text = f.read()
            self.client.set_reply("get_state",
                                  text.replace("</client_state>", state_extra + "</client_state>"))
        self.write_config([("127.0.0.1", self.client.port, "", label)])
        s = self.varnix(cols=130, rows=40)
        s.wait_for("task_two")
        return s

    def menu_item(self, s, rights, downs, shown):
        """Opens the menu where it was left, moves right, waits for the submenu (by an item it
        shows), walks down to an item and runs it."""
        s.send_keys("F9", *rights)
        s.wait_for(shown)
        s.send_keys(*["Down"] * downs, "Enter")

    def polls(self):
        return len(self.client.requests("get_file_transfers"))

    def test_transfers_window(self):
        s = self.start("xfer")
        transfers = UP % (ALPHA, time.time() + 250) + DOWN
        self.client.set_reply("get_file_transfers", "<file_transfers>%s</file_transfers>" % transfers)
        time.sleep(2.5)
        self.assertEqual(self.polls(), 0, "polled while closed")
        s.send_keys("T")
        rows = s.wait_for("beta_in_1")
        screen = "\n".join(rows)
        self.assertRegex(screen, r"Alpha@Home +alpha_out_0 +up +4\.50 KB +0 B 0% +- +2s +retry in 4m")
        self.assertRegex(screen, r"beta_in_1 +down +2\.40 MB +1\.20 MB 50% +12\.3 KB/s +1h 2m +active")
        self.assertEqual(rows[-1].rstrip(), " Esc Cancel | Up/Dn Select | R Retry | A Abort")
        # R retries the selected transfer, A asks first, and No leaves the window open.
        s.send_keys("Down", "R")
        want = body("retry_file_transfer", BETA, "beta_in_1")
        self.client.wait_request("retry_file_transfer", lambda q: q["body"] == want)
        for answer in ("n", "y"):
            s.send_keys("Up", "A")
            s.wait_for("File   : alpha_out_0")
            s.send_keys(answer)
            s.wait_gone("Please Confirm")
            self.assertIsNotNone(s.find(" File transfers "))
            if answer == "n":
                time.sleep(0.5)
                self.assertEqual(self.client.requests("abort_file_transfer"), [])
        want = body("abort_file_transfer", ALPHA, "alpha_out_0")
        self.client.wait_request("abort_file_transfer", lambda q: q["body"] == want)
        # About every 2 s while open, never once closed.
        n = self.polls()
        time.sleep(4.5)
        self.assertGreaterEqual(self.polls(), n + 2)
        s.send_keys("T")
        s.wait_gone(" File transfers ")
        time.sleep(1.2)
        n = self.polls()
        time.sleep(3)
        self.assertEqual(self.polls(), n)
        # From the View menu; an empty list and a client that knows no transfers say so.
        self.client.set_reply("get_file_transfers", "<file_transfers/>")
        self.menu_item(s, ["Right"], 24, "Task number column")  # to File transfers
        s.wait_for("No file transfers")
        self.client.set_reply("get_file_transfers",
                              "<error>unrecognized op: get_file_transfers/</error>")
        s.wait_for("File transfers: not supported by this client", timeout=10)
        s.send_keys("Escape")
        s.wait_until(lambda r: " File transfers " not in "".join(r) and "F9/M Menu" in r[-1],
                     what="the window closed")
        self.quit(s)

    def test_snooze(self):
        s = self.start("snooze", "<host_info><coprocs><have_cuda/></coprocs></host_info>")
        s.send_keys("F9", *["Right"] * 4)
        s.wait_for("Snooze network 1 hour")
        self.assertIsNotNone(s.find("Snooze GPU 1 hour"), "the GPU is shown: so is its snooze")
        s.send_keys("Escape", "Escape")
        # What the client reports once snoozed.
        self.client.set_reply("get_cc_status",
                              "<cc_status><task_mode>3</task_mode><task_mode_perm>2</task_mode_perm>"
                              "<task_mode_delay>2519.5</task_mode_delay></cc_status>")
        self.menu_item(s, [], 9, "Snooze network 1 hour")  # the bar reopens at Activity
        self.client.wait_request("set_run_mode", lambda q: q["body"] ==
                                 "<set_run_mode><never/><duration>3600</duration></set_run_mode>")
        s.wait_until(lambda r: re.search(r" Host 127\.0\.0\.1:\d+\(snooze\) snoozed 4[12]m ", r[1]),
                     what="the snooze in the caption")
        s.send_keys("F9")
        rows = s.wait_for("Cancel snooze")
        self.assertRegex("\n".join(rows), r"Cancel snooze +4[12]m left")
        self.assertIsNone(s.find("Snooze 1 hour"))
        s.send_keys(*["Down"] * 9, "Enter")
        self.client.wait_request("set_run_mode", lambda q: q["body"] ==
                                 "<set_run_mode><auto/><duration>0</duration></set_run_mode>")
        self.quit(s)

    def test_client_controls(self):
        s = self.start("controls")
        for downs, request in ((6, "read_cc_config"), (7, "read_global_prefs_override"),
                               (8, "network_available")):
            self.menu_item(s, [], downs, "Shut down client")
            self.client.wait_request(request, lambda q, r=request: q["body"] == "<%s/>" % r)
        self.assertIn("Statistics |", s.capture()[-1], "a success says nothing")
        # A client that does not know the request, and one that refuses it.
        self.client.set_reply("read_global_prefs_override",
                              "<error>unrecognized op: read_global_prefs_override/</error>")
        self.menu_item(s, [], 7, "Shut down client")
        s.wait_for(" Read local prefs file: not supported by this client")
        self.client.set_reply("read_cc_config", "<error>cc_config.xml: parse error</error>")
        self.menu_item(s, [], 6, "Shut down client")
        s.wait_for(" Read config files: cc_config.xml: parse error")
        s.wait_until(lambda r: "Statistics |" in r[-1], timeout=15, what="the keys back")
        # Shutting the client down asks first, naming the host.
        for answer, sent in (("n", 0), ("y", 1)):
            self.menu_item(s, [], 9, "Shut down client")
            s.wait_for("Host   : 127.0.0.1:%d(controls)" % self.client.port)
            s.send_keys(answer)
            s.wait_gone("Please Confirm")
            time.sleep(0.5)
            self.assertEqual([q["body"] for q in self.client.requests("quit")],
                             ["<quit/>"] * sent)
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
