"""The task list, message view and information panel on a real BOINC client in its
loopback-only sandbox (tests/tools/panesdemo inside tests/tools/boinc-sandbox)."""

import os
import re
import shutil
import tempfile
import unittest

from tmuxdriver import TmuxTestCase, tool_path

SOURCE = os.environ.get("VARNIX_SOURCE") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
SANDBOX = os.path.join(SOURCE, "tests", "tools", "boinc-sandbox")
DEMO = tool_path("panesdemo")
# The sandbox waits for a running task before the demo starts; then a few polls.
START = 300.0
WAIT = 60.0


class PanesOnARealClient(TmuxTestCase):

    def setUp(self):
        super().setUp()
        if not os.path.exists(DEMO):
            self.skipTest("demo tool not built: " + DEMO)
        if not shutil.which("boinc"):
            self.skipTest("the BOINC client is not installed")
        self.tmp = tempfile.mkdtemp(prefix="varnix-panes.")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_boinc_seeded_tasks_messages_and_disk(self):
        script = 'exec "$0" "$BOINC_SANDBOX_HOST" "$BOINC_SANDBOX_PORT" "$BOINC_SANDBOX_PASSWORD"'
        s = self.session([SANDBOX, "--", "sh", "-c", script, DEMO], cols=160, rows=40,
                         env={"TMPDIR": self.tmp, "LC_ALL": "C.UTF-8"})
        rows = s.wait_until(lambda r: any(" Run " in x for x in r), timeout=START,
                            what="a running task")
        tasks = [r for r in rows if re.match(r"^ +\d+  ", r)]
        self.assertEqual(len(tasks), 6, "\n".join(rows))
        # Running tasks first, each under its project's name, the others waiting.
        self.assertRegex(tasks[0], r"^  1  Run .*(Alpha@Home|Beta Project)")
        for t in tasks:
            self.assertRegex(t[:12], r"(Run|Wait|WaitR) ")
            self.assertTrue("Alpha@Home" in t or "Beta Project" in t, t)
            self.assertNotIn("unknown application", t)
        self.assertEqual(sum("Alpha@Home" in t for t in tasks), 3)

        s.wait_for("Starting task ", timeout=WAIT)
        self.assertNotIn("CDATA", s.text())
        rows = s.wait_until(lambda r: any(x[140:].startswith("total ") and "Gb" in x for x in r),
                            timeout=WAIT, what="disk figures")
        total = next(x[140:] for x in rows if x[140:].startswith("total "))
        self.assertGreater(float(total.split()[1].rstrip("Gb")), 0, total)
        self.assertTrue(any(x[140:].startswith("all                6") for x in rows))

        s.send_keys("q")
        self.assertEqual(s.wait_exit(timeout=WAIT), 0, s.text())


if __name__ == "__main__":
    unittest.main()
