"""The generator of large client data for the benchmarks: well-formed, consistent replies."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

SOURCE = os.environ.get("VARNIX_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
GENDATA = os.path.join(SOURCE, "tests", "tools", "gendata.py")
NOW = 1800000000


def generate(folder, *args):
    subprocess.run([sys.executable, GENDATA, folder, "--now", str(NOW), *args], check=True)


def parse(folder, name):
    return ET.parse(os.path.join(folder, name)).getroot()


class GenDataTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="varnix-gendata-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def test_state_is_consistent(self):
        folder = os.path.join(self.work, "r")
        generate(folder, "--tasks", "600", "--projects", "7", "--days", "3")
        state = parse(folder, "get_state.xml")
        self.assertEqual(state.tag, "client_state")
        projects = {p.findtext("master_url"): p.findtext("project_name")
                    for p in state.findall("project")}
        self.assertEqual(len(projects), 7)
        self.assertEqual(len(set(projects.values())), 7, "project names must differ")
        apps = {a.findtext("name") for a in state.findall("app")}
        wus = {w.findtext("name"): w.findtext("app_name") for w in state.findall("workunit")}
        results = state.findall("result")
        self.assertEqual(len(results), 600)
        self.assertEqual(len({r.findtext("name") for r in results}), 600)
        for r in results:
            self.assertIn(r.findtext("project_url"), projects)
            self.assertIn(r.findtext("wu_name"), wus)
            self.assertIn(wus[r.findtext("wu_name")], apps)
            self.assertIsNotNone(r.find("state"))
        running = sum(1 for r in results if r.findtext("active_task/active_task_state") == "1")
        self.assertTrue(150 <= running <= 250, running)
        done = sum(1 for r in results if r.find("ready_to_report") is not None)
        self.assertGreater(done, 0)
        self.assertTrue(all(r.find("active_task/fraction_done") is not None
                            for r in results if r.find("active_task") is not None))
        # Every project gets a task even when there are few.
        self.assertEqual({r.findtext("project_url") for r in results}, set(projects))

    def test_statistics_and_disk_cover_every_project(self):
        folder = os.path.join(self.work, "r")
        generate(folder, "--tasks", "10", "--projects", "4", "--days", "30")
        state = parse(folder, "get_state.xml")
        urls = {p.findtext("master_url") for p in state.findall("project")}
        stats = parse(folder, "get_statistics.xml")
        self.assertEqual({p.findtext("master_url") for p in stats}, urls)
        for p in stats:
            days = [float(d.findtext("day")) for d in p.findall("daily_statistics")]
            self.assertEqual(len(days), 30)
            self.assertEqual(days, sorted(days))
            self.assertEqual(days[-1], NOW // 86400 * 86400)
            totals = [float(d.findtext("user_total_credit")) for d in p.findall("daily_statistics")]
            self.assertEqual(totals, sorted(totals), "credit never goes down")
        disk = parse(folder, "get_disk_usage.xml")
        self.assertEqual({p.findtext("master_url") for p in disk.findall("project")}, urls)
        for name in ("d_total", "d_free", "d_boinc", "d_allowed"):
            self.assertIsNotNone(disk.find(name), name)
        self.assertFalse(os.path.exists(os.path.join(folder, "get_messages.xml")),
                         "without --messages the server keeps its own log")

    def test_message_log(self):
        folder = os.path.join(self.work, "r")
        generate(folder, "--tasks", "10", "--messages", "500")
        msgs = parse(folder, "get_messages.xml")
        seqnos = [int(m.findtext("seqno")) for m in msgs]
        self.assertEqual(seqnos, list(range(1, 501)))
        times = [int(m.findtext("time")) for m in msgs]
        self.assertEqual(times, sorted(times))
        self.assertTrue(all(m.findtext("body").strip() for m in msgs))
        self.assertEqual(parse(folder, "get_message_count.xml").text, "500")
        with open(os.path.join(folder, "get_messages.xml"), encoding="latin-1") as f:
            self.assertIn("<body><![CDATA[\n", f.read(), "bodies come as the client sends them")

    def test_same_seed_same_data(self):
        a, b = os.path.join(self.work, "a"), os.path.join(self.work, "b")
        generate(a, "--tasks", "50", "--messages", "20")
        generate(b, "--tasks", "50", "--messages", "20")
        for name in sorted(os.listdir(a)):
            with open(os.path.join(a, name), "rb") as fa, open(os.path.join(b, name), "rb") as fb:
                self.assertEqual(fa.read(), fb.read(), name)


if __name__ == "__main__":
    unittest.main()
