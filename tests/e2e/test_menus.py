"""The menu bar and its submenus in a real terminal against the fake BOINC client: one
scenario per family of submenus, by keyboard and by mouse."""

import re
import time
import unittest

from layoutcheck import send_bytes, wait_selected
from varnixe2e import ALPHA, BETA, Task, VarnixTestCase

MANAGER_INFO = ("<acct_mgr_info><acct_mgr_url>http://127.0.0.1:9/manager/</acct_mgr_url>"
                "<acct_mgr_name>Manager One</acct_mgr_name><have_credentials/></acct_mgr_info>")


def click(s, row, col, double=False):
    """A left click (two for a double click) at a screen cell, as xterm reports it."""
    press = b"\x1b[M" + bytes([32, 33 + col, 33 + row])
    release = b"\x1b[M" + bytes([35, 33 + col, 33 + row])
    send_bytes(s, press + release + (press + release if double else b""))


class MenuTest(VarnixTestCase):

    def start(self, projects=None, cc_status=None, state_extra="", rows=40):
        self.client = self.fake()
        tasks = [Task("task_one", active=1, done=0.5), Task("task_two", project=BETA)]
        self.client.set_state(tasks, projects=projects)
        if state_extra:
            path = self.client.replies + "/get_state.xml"
            with open(path) as f:
                text = f.read()
            self.client.set_reply("get_state", text.replace("</client_state>",
                                                            state_extra + "</client_state>"))
        if cc_status:
            self.client.set_reply("get_cc_status", cc_status)
        # Number, state, done, project and task name: the names fit in 120 columns.
        self.write_config([("127.0.0.1", self.client.port, "", "menus")],
                          extra="    <column_view_mask>527\n    </column_view_mask>")
        s = self.varnix(cols=120, rows=rows)
        s.wait_for("task_two")
        return s

    def item_row(self, s, text):
        pos = s.find(text)
        self.assertIsNotNone(pos, "%r not on screen:\n%s" % (text, s.text()))
        return pos

    def run_item(self, s, name, downs):
        """Walks down to an item of the open submenu and runs it with Enter."""
        for _ in range(downs):
            s.send_keys("Down")
        s.wait_for(name)
        s.send_keys("Enter")

    def test_bar_keys_and_mouse(self):
        s = self.start()
        s.send_keys("F9")
        row, col = self.item_row(s, "Next BOINC host")
        self.assertEqual(row, 2, "File opens under its bar item")
        self.assertLess(col, 4)
        s.send_keys("Right")
        s.wait_for("Task number column")
        s.wait_gone("Next BOINC host")
        s.send_keys("Left")
        s.wait_for("Next BOINC host")
        # Esc closes one level: the bar stays awake, and Right moves only its highlight.
        s.send_keys("Escape")
        s.wait_gone("Next BOINC host")
        s.send_keys("Right")
        time.sleep(0.5)
        self.assertIsNone(s.find("Task number column"))
        s.send_keys("Down")
        s.wait_for("Task number column")
        s.send_keys("Escape", "Escape")
        s.wait_gone("Task number column")
        # Asleep, arrows belong to the task list again.
        s.send_keys("Down")
        wait_selected(s, True)
        # A hot key acts while a submenu is open, and closes the menu on its way.
        s.send_keys("M")
        s.wait_for("Task number column")
        s.send_keys("V")
        s.wait_for("Statistics [host]")
        self.assertIsNone(s.find("Task number column"))
        s.send_keys("V")
        s.wait_gone("Statistics [host]")
        # Mouse: a click on a bar item opens its submenu, a single click on an item only
        # selects it, a double click runs it, a click elsewhere closes the menu.
        tasks = s.find("Tasks")
        click(s, 0, tasks[1] + 1)
        s.wait_for("View raw task info")
        r, c = self.item_row(s, "Resume task")
        click(s, r, c)
        time.sleep(0.5)
        self.assertEqual(self.client.requests("resume_result"), [])
        click(s, r, c, double=True)
        self.client.wait_request("resume_result", lambda q: "task_one" in q["body"])
        s.wait_gone("View raw task info")
        s.send_keys("F9")
        s.wait_for("View raw task info")  # the bar reopens where it was left
        click(s, 30, 10)
        s.wait_gone("View raw task info")
        # Help: About and the hot keys list, both closed by Esc.
        s.send_keys("F9", "Right", "Right")
        s.wait_for("Hot keys list")
        s.send_keys("Enter")
        s.wait_for("ZORID Uvuzar ezedidu ver 2.7.2")
        s.send_keys("Q")  # swallowed while it is open
        s.send_keys("Escape")
        s.wait_gone("ZORID Uvuzar")
        s.send_keys("F9", "Down", "Enter")
        s.wait_for("Toggle main menu")
        s.send_keys(" ")
        s.wait_gone("Toggle main menu")
        self.quit(s)

    def test_view_menu_changes_columns_filter_sort_and_frames(self):
        s = self.start()
        s.send_keys("F9", "Right")
        s.wait_for("Task number column")
        rows = s.capture()
        self.assertIn("[*]", [r for r in rows if "Task number column" in r][0])
        self.assertIn("[ ]", [r for r in rows if "Swap size column" in r][0])
        self.assertIn("(*)", [r for r in rows if "All tasks" in r][0])
        self.assertIn("(*)", [r for r in rows if "Sort by state" in r][0])
        self.assertIn("[ ]", [r for r in rows if "ASCII line draw" in r][0])
        # The task name column off: its title goes at once, its texts with the next tick.
        self.run_item(s, "Task name column", 9)
        s.wait_gone("task_two")
        self.assertNotIn("  task", s.row(2))
        s.send_keys("F9")
        s.wait_for("Task name column")
        self.assertIn("[ ]", [r for r in s.capture() if "Task name column" in r][0])
        self.run_item(s, "Active tasks only", 12)
        s.send_keys("F9")
        self.run_item(s, "Sort by task name", 21)
        s.send_keys("F9")
        s.wait_for("ASCII line draw")
        self.run_item(s, "ASCII line draw", 22)
        s.wait_until(lambda rows: rows[1].startswith("+--"), what="ASCII frames")
        s.send_keys("F9")
        s.wait_until(lambda rows: any("| Task number column" in r for r in rows),
                     what="an ASCII menu frame")
        s.send_keys("Escape", "Escape")
        self.quit(s)
        cfg = self.read_config()
        self.assertRegex(cfg, r"<column_view_mask>\s*15\s*<")
        self.assertRegex(cfg, r"<tasks_list_mode>\s*2\s*<")
        self.assertRegex(cfg, r"<tasks_sort_mode>\s*9\s*<")
        self.assertRegex(cfg, r"<line_draw_mode>\s*1\s*<")

    def test_activity_marks_and_requests(self):
        s = self.start()
        s.send_keys("F9", *["Right"] * 4)
        s.wait_for("Run always")
        rows = s.capture()
        self.assertIn("(*)", [r for r in rows if "Run based on preferences" in r][0])
        self.assertIn("( )", [r for r in rows if "Run always" in r][0])
        self.assertIsNone(s.find("GPU run always"), "no GPU without have_cuda or have_ati")
        self.run_item(s, "Suspend", 2)
        self.client.wait_request("set_run_mode", lambda q: q["body"] ==
                                 "<set_run_mode><never/><duration>0</duration></set_run_mode>")
        s.wait_gone("Run always")
        s.send_keys("F9")
        self.run_item(s, "Network activity always available", 3)
        self.client.wait_request("set_network_mode", lambda q: q["body"] ==
                                 "<set_network_mode><always/><duration>0</duration>"
                                 "</set_network_mode>")
        self.quit(s)
        # With a GPU the GPU modes come between, marked from gpu_mode.
        s = self.start(state_extra="<host_info><coprocs><have_cuda/></coprocs></host_info>",
                       cc_status="<cc_status><task_mode>1</task_mode><gpu_mode>3</gpu_mode>"
                                 "<network_mode>2</network_mode></cc_status>")
        s.send_keys("F9", *["Right"] * 4)
        s.wait_for("GPU suspend")
        self.assertIn("(*)", [r for r in s.capture() if "GPU suspend" in r][0])
        self.assertIn("(*)", [r for r in s.capture() if "Run always" in r][0])
        self.run_item(s, "GPU run based on preferences", 4)
        self.client.wait_request("set_gpu_mode", lambda q: q["body"] ==
                                 "<set_gpu_mode><auto/><duration>0</duration></set_gpu_mode>")
        self.quit(s)

    def test_projects_menu_operations_and_managers(self):
        projects = [(ALPHA, "Alpha@Home", "<suspended_via_gui/>"),
                    (BETA, "Beta Project", "<suspended_via_gui/><dont_request_more_work/>")]
        s = self.start(projects=projects)
        s.send_keys("F9", "Right", "Right")
        s.wait_for("Connect to account manager")
        rows = s.capture()
        self.assertRegex([r for r in rows if "Alpha@Home" in r and "[" in r][0], r"\[Susp\.\] ")
        self.assertIn("[Susp.][N.N.Tsk]", [r for r in rows if "Beta Project" in r and "[" in r][0])
        # An operation that needs no confirmation goes at once, with the project's URL.
        self.run_item(s, "Beta Project", 4)
        s.wait_for("Update project")
        s.send_keys("Enter")
        self.client.wait_request("project_update", lambda q: BETA in q["body"])
        s.wait_gone("Update project")
        # Reset asks first: n sends nothing, y sends it.
        for answer, sent in (("n", 0), ("y", 1)):
            s.send_keys("F9")
            s.wait_for("Connect to account manager")
            self.run_item(s, "Alpha@Home", 3)
            s.wait_for("Update project")
            self.run_item(s, "Reset project", 5)
            s.wait_for("Please Confirm")
            self.assertIsNotNone(s.find("Operation : project_reset"))
            s.send_keys(answer)
            s.wait_gone("Please Confirm")
            time.sleep(0.5)
            self.assertEqual(len(self.client.requests("project_reset")), sent)
        self.assertIn(ALPHA, self.client.requests("project_reset")[0]["body"])
        # Left closes exactly one level of the nested menus.
        s.send_keys("F9")
        s.wait_for("Connect to account manager")
        s.send_keys("Enter")
        s.wait_for("Gamma Grid")
        s.send_keys("Enter")
        s.wait_for("Create new user account")
        s.send_keys("Left")
        s.wait_gone("Create new user account")
        self.assertIsNotNone(s.find("Gamma Grid"))
        s.send_keys("Left")
        s.wait_gone("Gamma Grid")
        self.assertIsNotNone(s.find("Connect to account manager"))
        # The managers: the client's list, the configured ones, and a new one.
        self.run_item(s, "Connect to account manager", 2)
        s.wait_for("Add new account manager")
        self.assertIsNotNone(s.find("Manager One"))
        s.send_keys("Escape", "Escape", "Escape")
        # With a manager the menu offers to synchronise or to stop.
        self.client.set_reply("acct_mgr_info", MANAGER_INFO)
        s.send_keys("C")
        s.wait_for("Configuration")
        s.send_keys("Enter")  # rebuilds the host list, which fetches acct_mgr_info anew
        s.wait_gone("Configuration")
        s.wait_for("task_two")
        s.send_keys("F9")  # where the bar was left: Projects
        s.wait_for("Synchronize with manager")
        self.assertIsNone(s.find("Connect to account manager"))
        self.assertIn("Manager One", [r for r in s.capture() if "Synchronize" in r][0])
        self.run_item(s, "Synchronize with manager", 2)
        self.client.wait_request("acct_mgr_rpc", lambda q: "<use_config_file/>" in q["body"])
        s.send_keys("F9")
        self.run_item(s, "Stop using account manager", 3)
        self.client.wait_request("acct_mgr_rpc", lambda q: "<url></url>" in q["body"])
        self.quit(s)

    def test_tasks_menu_acts_like_the_hot_keys(self):
        s = self.start()
        # Nothing selected: Abort closes the menu and shows nothing.
        s.send_keys("F9", "Right", "Right", "Right")
        s.wait_for("View raw task info")
        self.run_item(s, "Abort task", 2)
        s.wait_gone("View raw task info")
        time.sleep(0.5)
        self.assertIsNone(s.find("Please Confirm"))
        s.send_keys("Down")
        wait_selected(s, True)
        s.send_keys("F9")
        s.wait_for("View raw task info")
        s.send_keys("Enter")
        self.client.wait_request("suspend_result", lambda q: "task_one" in q["body"])
        s.send_keys("F9")
        self.run_item(s, "Abort task", 2)
        s.wait_for("Please Confirm")
        s.send_keys("n")
        s.wait_gone("Please Confirm")
        s.send_keys("F9")
        self.run_item(s, "View raw task info", 3)
        s.wait_for("Task Info Raw View")
        s.send_keys("Escape")
        s.wait_gone("Task Info Raw View")
        self.assertEqual(self.client.requests("abort_result"), [])
        self.quit(s)

    def test_a_hung_client_does_not_freeze_the_menus(self):
        s = self.start()
        self.client.command("fault stall get_all_projects_list")
        s.send_keys("F9", "Right", "Right")
        s.wait_for("Connect to account manager")
        started = time.monotonic()
        s.send_keys("Enter")  # Add project: asks the client for its list
        # The list stays empty, and the screen answers again after the bounded wait.
        s.send_keys("Escape")
        s.wait_until(lambda rows: "Connect to account manager" in "".join(rows) and
                     not any("Gamma Grid" in r for r in rows), 15, "the menu back")
        s.send_keys("Escape", "Escape")
        s.wait_gone("Connect to account manager", timeout=15)
        self.assertLess(time.monotonic() - started, 12)
        self.client.command("clearfaults")
        self.quit(s)

    def test_menus_in_small_and_resized_terminals(self):
        s = self.start(rows=24)
        s.send_keys("F9", "Right")
        s.wait_for("Task number column")
        for cols, rows in ((20, 10), (1, 1), (60, 12), (120, 24)):
            s.resize(cols, rows)
            time.sleep(0.3)
            s.send_keys("Down", "Up")
        self.assertTrue(s.is_running())
        s.wait_until(lambda r: len(r) == 24 and "Statistics |" in r[-1], what="the status line")
        s.wait_for("Task number column")
        s.send_keys("Escape", "Escape")
        s.wait_gone("Task number column")
        self.quit(s)


if __name__ == "__main__":
    unittest.main()
