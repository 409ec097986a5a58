"""The stand-alone fake GUI RPC server, driven the way end-to-end tests drive it."""
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("VARNIX_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
TOOL = os.path.join(BUILD, "tests", "fakeboinc")


class Fake:
    def __init__(self, *args):
        self.proc = subprocess.Popen([TOOL, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.port = int(self.proc.stdout.readline())

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdin.close()
        self.proc.stdout.close()


class Client:
    """A minimal GUI RPC client: one request, one reply."""

    def __init__(self, port, timeout=10):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)

    def request(self, body):
        self.sock.sendall(("<boinc_gui_rpc_request>\n%s\n</boinc_gui_rpc_request>\n\003" % body)
                          .encode("latin-1"))
        data = b""
        while not data.endswith(b"\003"):
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            data += chunk
        return data[:-1].decode("latin-1")

    def login(self, password):
        reply = self.request("<auth1/>")
        nonce = reply.split("<nonce>")[1].split("</nonce>")[0]
        digest = hashlib.md5((nonce + password).encode()).hexdigest()
        return self.request("<auth2>\n<nonce_hash>%s</nonce_hash>\n</auth2>" % digest)

    def close(self):
        self.sock.close()


class FakeBoincTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="fakeboinc-")
        self.fakes = []

    def tearDown(self):
        for f in self.fakes:
            f.close()
        shutil.rmtree(self.tmp)

    def start(self, *args):
        fake = Fake(*args)
        self.fakes.append(fake)
        return fake

    def test_help_lists_the_options(self):
        out = subprocess.run([TOOL, "--help"], capture_output=True, text=True, timeout=10)
        self.assertEqual(out.returncode, 0)
        for option in ("--port", "--password", "--replies", "--log", "--refuse-login", "--fault"):
            self.assertIn(option, out.stdout)

    def test_login_replies_and_request_log(self):
        log = os.path.join(self.tmp, "requests.log")
        fake = self.start("--password", "pw", "--log", log)
        c = Client(fake.port)
        self.assertIn("<authorized/>", c.login("pw"))
        self.assertIn("<client_state>", c.request("<get_state/>"))
        self.assertIn("<success/>", c.request("<run_benchmarks/>"))
        self.assertIn("<error>unrecognized op: foo_bar/</error>", c.request("<foo_bar/>"))
        c.close()
        records = [json.loads(line) for line in open(log)]
        self.assertEqual([r["name"] for r in records],
                         ["auth1", "auth2", "get_state", "run_benchmarks", "foo_bar"])
        self.assertEqual(records[2]["body"], "<get_state/>")
        self.assertEqual(fake.command("count get_state"), "ok 1")

    def test_refused_login_closes_on_the_next_request(self):
        fake = self.start("--password", "pw")
        c = Client(fake.port)
        self.assertIn("<unauthorized/>", c.login("wrong"))
        with self.assertRaises((ConnectionError, OSError)):
            c.request("<get_state/>")
        c.close()

    def test_reply_folder_is_read_on_every_request(self):
        folder = os.path.join(self.tmp, "replies")
        os.mkdir(folder)
        fake = self.start("--replies", folder)
        c = Client(fake.port)
        with open(os.path.join(folder, "get_cc_status.xml"), "w") as f:
            f.write("<cc_status><task_mode>1</task_mode></cc_status>")
        self.assertIn("<task_mode>1</task_mode>", c.request("<get_cc_status/>"))
        with open(os.path.join(folder, "get_cc_status.xml"), "w") as f:
            f.write("<cc_status><task_mode>3</task_mode></cc_status>")
        self.assertIn("<task_mode>3</task_mode>", c.request("<get_cc_status/>"))
        c.close()

    def test_message_log_is_scriptable(self):
        fake = self.start("--messages", "2")
        c = Client(fake.port)
        self.assertIn("<seqno>2</seqno>", c.request("<get_message_count/>"))
        self.assertEqual(fake.command("msg Alpha@Home\tHello there"), "ok")
        reply = c.request("<get_messages>\n<seqno>2</seqno>\n</get_messages>\n")
        self.assertIn("<seqno>3</seqno>", reply)
        self.assertIn("Hello there", reply)
        self.assertIn("<project>Alpha@Home</project>", reply)
        self.assertNotIn("<seqno>1</seqno>", reply)
        self.assertEqual(fake.command("restart"), "ok")
        self.assertIn("<seqno>0</seqno>", c.request("<get_message_count/>"))
        c.close()

    def test_faults_on_demand(self):
        fake = self.start()
        self.assertEqual(fake.command("fault stall get_state 1"), "ok")
        c = Client(fake.port, timeout=0.5)
        with self.assertRaises(socket.timeout):
            c.request("<get_state/>")
        c.close()
        c = Client(fake.port)
        self.assertIn("client_state", c.request("<get_state/>"))  # only once
        self.assertEqual(fake.command("fault close-mid get_disk_usage"), "ok")
        with self.assertRaises(ConnectionError):
            c.request("<get_disk_usage/>")
        c.close()
        self.assertTrue(fake.command("fault nonsense x").startswith("error"))

    def test_real_client_tool_logs_in(self):
        if not shutil.which("boinccmd"):
            self.skipTest("boinccmd is not installed")
        fake = self.start("--password", "sekrit", "--messages", "3")
        out = subprocess.run(["boinccmd", "--host", "127.0.0.1:%d" % fake.port, "--passwd", "sekrit",
                              "--get_messages", "0"], capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("Message number 3", out.stdout)

    def test_ends_with_its_input_or_on_a_signal(self):
        fake = self.start()
        fake.proc.stdin.close()
        self.assertEqual(fake.proc.wait(timeout=10), 0)
        fake = self.start("--no-stdin")
        fake.proc.send_signal(signal.SIGTERM)
        self.assertEqual(fake.proc.wait(timeout=10), 0)


if __name__ == "__main__":
    unittest.main()
