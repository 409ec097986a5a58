"""The BOINC client sandbox, its seeding and scripts/demo, against the real client.

The checks that need the client's loopback run inside the sandbox: this file
calls itself there with --probe, which drives the client and prints what it
saw as JSON for the test to judge.
"""

import hashlib
import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

SOURCE = os.environ.get("VARNIX_SOURCE") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("VARNIX_BUILD") or os.path.join(SOURCE, "build")
SANDBOX = os.path.join(SOURCE, "tests", "tools", "boinc-sandbox")
SEED = os.path.join(SOURCE, "tests", "tools", "boinc_seed.py")
DEMO = os.path.join(SOURCE, "scripts", "demo")
SELF = os.path.abspath(__file__)

ALPHA_TASKS = ["alpha@home_wu_%d_0" % i for i in range(3)]
BETA_TASKS = ["beta_wu_%d_0" % i for i in range(3)]


# ---------------------------------------------------------------------------
# Helpers that run inside the sandbox.

def rpc(sock, body, timeout=60):
    """One GUI RPC exchange; None when the reply does not come in time."""
    sock.settimeout(timeout)
    sock.sendall(("<boinc_gui_rpc_request>\n%s\n</boinc_gui_rpc_request>\n\003" % body).encode())
    reply = b""
    try:
        while b"\003" not in reply:
            chunk = sock.recv(65536)
            if not chunk:
                return None
            reply += chunk
    except socket.timeout:
        return None
    return reply.split(b"\003")[0].decode("latin-1")


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=30)


def login(sock, password):
    nonce = re.search(r"<nonce>(.*?)</nonce>", rpc(sock, "<auth1/>") or "")
    if not nonce:
        return False
    digest = hashlib.md5((nonce.group(1) + password).encode()).hexdigest()
    reply = rpc(sock, "<auth2>\n<nonce_hash>%s</nonce_hash>\n</auth2>" % digest) or ""
    return "<authorized/>" in reply


def probe():
    env = os.environ
    port = int(env["BOINC_SANDBOX_PORT"])
    password = env["BOINC_SANDBOX_PASSWORD"]
    ctl = env["BOINC_SANDBOX_CTL"]
    datadir = env["BOINC_SANDBOX_DIR"]
    obs = {"env": {k: env.get(k) for k in ("BOINC_SANDBOX_HOST", "BOINC_SANDBOX_PORT",
                                            "BOINC_SANDBOX_DIR", "BOINC_SANDBOX_LOG")}}

    def run(*args, timeout=300):
        p = subprocess.run(list(args), capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout + p.stderr

    def boinccmd(pwd, *args):
        return run("boinccmd", "--host", "127.0.0.1:%d" % port, "--passwd", pwd, *args)

    def tasks():
        rc, out = boinccmd(password, "--get_tasks")
        return {"rc": rc, "names": re.findall(r"^   name: (\S+)$", out, re.M),
                "executing": out.count("active_task_state: EXECUTING")}

    def status():
        rc, out = run(ctl, "status")
        return rc, out.strip()

    def first_message():
        with connect(port) as s:
            login(s, password)
            reply = rpc(s, "<get_messages>\n<seqno>0</seqno>\n</get_messages>") or ""
        seqnos = [int(x) for x in re.findall(r"<seqno>(\d+)</seqno>", reply)]
        return (min(seqnos) if seqnos else None), len(seqnos)

    def apps_running():
        """Slots in which some process works."""
        slots = set()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                cwd = os.readlink("/proc/%s/cwd" % pid)
            except OSError:
                continue
            if cwd.startswith(os.path.join(datadir, "slots") + "/"):
                slots.add(cwd)
        return len(slots)

    obs["tasks"] = tasks()
    obs["right_password"] = boinccmd(password, "--get_cc_status")[0]
    rc, out = boinccmd(password + "x", "--get_cc_status")
    obs["wrong_password"] = {"rc": rc, "out": out}
    with connect(port) as s:
        obs["login_right"] = login(s, password)
    with connect(port) as s:
        obs["login_wrong"] = login(s, "not" + password)
    obs["apps_before"] = apps_running()
    obs["messages_before"] = first_message()

    obs["status_before"] = status()
    obs["restart"] = run(ctl, "restart")[0]
    obs["status_after_restart"] = status()
    obs["messages_after_restart"] = first_message()
    obs["wait_running"] = run(ctl, "wait-running")[0]
    obs["tasks_after_restart"] = tasks()

    obs["stop"] = run(ctl, "stop")[0]
    obs["status_stopped"] = status()
    obs["apps_stopped"] = apps_running()
    try:
        connect(port).close()
        obs["port_stopped"] = "open"
    except OSError:
        obs["port_stopped"] = "closed"
    obs["stop_again"] = run(ctl, "stop")[0]
    obs["start"] = run(ctl, "start")[0]
    obs["status_started"] = status()

    # A frozen client keeps its port but answers nothing until it is thawed.
    obs["freeze"] = run(ctl, "freeze")[0]
    with connect(port) as s:
        obs["reply_frozen"] = rpc(s, "<get_cc_status/>", timeout=3) is not None
        obs["thaw"] = run(ctl, "thaw")[0]
        s.settimeout(120)
        tail = b""
        try:
            while b"\003" not in tail:
                chunk = s.recv(65536)
                if not chunk:
                    break
                tail += chunk
        except socket.timeout:
            pass
        obs["reply_thawed"] = b"<cc_status>" in tail

    obs["kill"] = run(ctl, "kill")[0]
    obs["status_killed"] = status()
    obs["start_after_kill"] = run(ctl, "start")[0]
    obs["wait_running_after_kill"] = run(ctl, "wait-running")[0]
    obs["bad_verb"] = run(ctl, "dance")[0]
    print(json.dumps(obs))
    return 0


# ---------------------------------------------------------------------------
# Helpers outside.

def leftovers(path):
    """Processes whose command line or working folder mentions path."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        try:
            cwd = os.readlink("/proc/%s/cwd" % pid)
        except OSError:
            cwd = ""
        if path in cmd or cwd.startswith(path):
            found.append("%s %s" % (pid, cmd))
    return found


def wait_for(cond, timeout=60, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return True
        time.sleep(step)
    return cond()


class TempDirCase(unittest.TestCase):
    """Every test gets its own TMPDIR, so that whatever the sandbox leaves
    behind (files or processes) is found by its path."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="varnix-sbtest.")
        self.env = dict(os.environ, TMPDIR=self.tmp)

    def tearDown(self):
        for line in leftovers(self.tmp):
            try:
                os.kill(int(line.split()[0]), signal.SIGKILL)
            except OSError:
                pass
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_sandbox(self, args, command, timeout=600):
        return subprocess.run([SANDBOX] + args + ["--"] + command, env=self.env,
                              capture_output=True, text=True, timeout=timeout)

    def assertNothingLeft(self):
        self.assertTrue(wait_for(lambda: not leftovers(self.tmp), 30), leftovers(self.tmp))
        self.assertEqual(os.listdir(self.tmp), [])


class SeedTest(unittest.TestCase):
    """The seeded folder, without a client."""

    def test_boinc_seed_files_match_what_the_client_checks(self):
        with tempfile.TemporaryDirectory() as d:
            subprocess.run([sys.executable, SEED, "--dir", d, "--projects", "3", "--tasks", "2",
                            "--platform", "x86_64-pc-linux-gnu", "--password", "pw&<x",
                            "--now", "1700000000"], check=True)
            with open(os.path.join(d, "gui_rpc_auth.cfg")) as f:
                self.assertEqual(f.read().strip(), "pw&<x")
            state = ET.parse(os.path.join(d, "client_state.xml")).getroot()
            projects = state.findall("project")
            self.assertEqual([p.findtext("project_name") for p in projects],
                             ["Alpha@Home", "Beta Project", "Gamma Grid"])
            for p in projects:
                url = p.findtext("master_url")
                self.assertTrue(url.startswith("http://127.0.0.1:"), url)
                pdir = url[len("http://"):].rstrip("/").replace("/", "_").replace(":", "_")
                acct = ET.parse(os.path.join(d, "account_%s.xml" % pdir)).getroot()
                self.assertEqual(acct.findtext("master_url"), url)
                self.assertTrue(acct.findtext("authenticator"))
                self.assertEqual(acct.findtext("project_name"), p.findtext("project_name"))
            self.assertTrue(os.path.isdir(os.path.join(d, "projects", "127.0.0.1_9_alpha")))
            for fi in state.findall("file_info"):
                matches = [os.path.join(r, fi.findtext("name"))
                           for r, _, files in os.walk(os.path.join(d, "projects"))
                           if fi.findtext("name") in files]
                self.assertTrue(matches)
                for path in matches:
                    with open(path, "rb") as f:
                        body = f.read()
                    self.assertEqual(int(fi.findtext("nbytes")), len(body))
                    self.assertEqual(fi.findtext("md5_cksum"), hashlib.md5(body).hexdigest())
                    self.assertTrue(os.access(path, os.X_OK))
                self.assertEqual(fi.findtext("status"), "1")
                self.assertIsNotNone(fi.find("executable"))
            for av in state.findall("app_version"):
                self.assertIsNotNone(av.find("file_ref/main_program"))
                self.assertEqual(av.findtext("platform"), "x86_64-pc-linux-gnu")
            apps = {a.findtext("name") for a in state.findall("app")}
            for wu in state.findall("workunit"):
                self.assertIn(wu.findtext("app_name"), apps)
            results = state.findall("result")
            self.assertEqual(len(results), 6)
            wus = {w.findtext("name") for w in state.findall("workunit")}
            for r in results:
                self.assertEqual(r.findtext("state"), "2")
                self.assertIn(r.findtext("wu_name"), wus)
                self.assertGreater(float(r.findtext("report_deadline")), 1700000000)
                self.assertLess(float(r.findtext("received_time")), 1700000000)

    def test_boinc_seed_none_writes_no_state_and_rejects_bad_counts(self):
        with tempfile.TemporaryDirectory() as d:
            subprocess.run([sys.executable, SEED, "--dir", d, "--projects", "0"], check=True)
            self.assertFalse(os.path.exists(os.path.join(d, "client_state.xml")))
            self.assertTrue(os.path.exists(os.path.join(d, "cc_config.xml")))
            bad = subprocess.run([sys.executable, SEED, "--dir", d, "--tasks", "-1"],
                                 capture_output=True)
            self.assertNotEqual(bad.returncode, 0)


class SandboxTest(TempDirCase):

    def test_boinc_client_logins_tasks_and_control(self):
        p = self.run_sandbox(["--password", "open sesame"], [sys.executable, SELF, "--probe"])
        self.assertEqual(p.returncode, 0, p.stderr + p.stdout)
        obs = json.loads(p.stdout.strip().splitlines()[-1])

        self.assertEqual(obs["env"]["BOINC_SANDBOX_HOST"], "127.0.0.1")
        self.assertEqual(obs["env"]["BOINC_SANDBOX_PORT"], "31416")
        self.assertTrue(obs["env"]["BOINC_SANDBOX_DIR"].startswith(self.tmp))

        self.assertEqual(obs["tasks"]["rc"], 0)
        self.assertCountEqual(obs["tasks"]["names"], ALPHA_TASKS + BETA_TASKS)
        # Two CPUs: some tasks run (each in a slot of its own), the others wait.
        self.assertIn(obs["tasks"]["executing"], (1, 2))
        self.assertIn(obs["apps_before"], (1, 2))
        self.assertEqual(obs["right_password"], 0)
        self.assertNotEqual(obs["wrong_password"]["rc"], 0)
        self.assertIn("Authorization failure", obs["wrong_password"]["out"])
        self.assertTrue(obs["login_right"])
        self.assertFalse(obs["login_wrong"])

        # A restart gives a new client process whose log starts again at 1.
        self.assertEqual(obs["status_before"][0], 0)
        self.assertEqual(obs["restart"], 0)
        self.assertEqual(obs["status_after_restart"][0], 0)
        self.assertNotEqual(obs["status_before"][1], obs["status_after_restart"][1])
        self.assertEqual(obs["messages_before"][0], 1)
        self.assertEqual(obs["messages_after_restart"][0], 1)
        self.assertGreater(obs["messages_after_restart"][1], 5)
        self.assertEqual(obs["wait_running"], 0)
        self.assertCountEqual(obs["tasks_after_restart"]["names"], ALPHA_TASKS + BETA_TASKS)
        self.assertGreater(obs["tasks_after_restart"]["executing"], 0)

        self.assertEqual(obs["stop"], 0)
        self.assertEqual(obs["status_stopped"], [3, "stopped"])
        self.assertEqual(obs["apps_stopped"], 0)
        self.assertEqual(obs["port_stopped"], "closed")
        self.assertEqual(obs["stop_again"], 0)
        self.assertEqual(obs["start"], 0)
        self.assertEqual(obs["status_started"][0], 0)

        self.assertEqual(obs["freeze"], 0)
        self.assertFalse(obs["reply_frozen"])
        self.assertEqual(obs["thaw"], 0)
        self.assertTrue(obs["reply_thawed"])

        self.assertEqual(obs["kill"], 0)
        self.assertEqual(obs["status_killed"], [3, "stopped"])
        self.assertEqual(obs["start_after_kill"], 0)
        self.assertEqual(obs["wait_running_after_kill"], 0)
        self.assertNotEqual(obs["bad_verb"], 0)
        self.assertNothingLeft()

    def test_boinc_options_exit_status_and_no_network(self):
        script = ("import os, socket, subprocess, sys\n"
                  "out = subprocess.run(['boinccmd', '--host', '127.0.0.1:' + os.environ['BOINC_SANDBOX_PORT'],"
                  " '--passwd', os.environ['BOINC_SANDBOX_PASSWORD'], '--get_tasks'],"
                  " capture_output=True, text=True).stdout\n"
                  "print('TASKS', out.count('   name: '), out.count('EXECUTING'))\n"
                  "ifs = sorted(l.split(':')[0].strip() for l in open('/proc/net/dev').readlines()[2:])\n"
                  "print('IFS', ' '.join(ifs))\n"
                  "try:\n"
                  "    socket.create_connection(('192.0.2.1', 80), timeout=5)\n"
                  "    print('NET reached')\n"
                  "except OSError:\n"
                  "    print('NET unreachable')\n"
                  "sys.exit(7)\n")
        p = self.run_sandbox(["--projects", "1", "--tasks", "2", "--ncpus", "1",
                              "--port", "31420"], [sys.executable, "-c", script])
        self.assertEqual(p.returncode, 7, p.stderr)
        self.assertIn("TASKS 2 1", p.stdout)
        self.assertIn("IFS lo\n", p.stdout)
        self.assertIn("NET unreachable", p.stdout)
        self.assertNothingLeft()

        p = self.run_sandbox(["--no-seed"], ["sh", "-c", "$BOINC_SANDBOX_CTL status && "
                                             "$BOINC_SANDBOX_CTL boinccmd --get_project_status"])
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertNotIn("name:", p.stdout)
        self.assertNothingLeft()

        p = self.run_sandbox(["--no-such-option"], ["true"])
        self.assertEqual(p.returncode, 125)
        self.assertNothingLeft()

    def test_boinc_client_that_fails_or_stalls_is_reported(self):
        fake = os.path.join(self.tmp, "fakebin")
        os.mkdir(fake)
        self.env["PATH"] = fake + os.pathsep + self.env["PATH"]
        # The client's own words are shown with the error.
        for body, message in (("echo broken client; exit 1", "ended while starting"),
                              ("echo stalled client; sleep 600",
                               "did not open port 31416 within 2 s")):
            with open(os.path.join(fake, "boinc"), "w") as f:
                f.write('#!/bin/sh\n[ "$1" = --version ] && { echo "7.20.5 x86_64-pc-linux-gnu";'
                        ' exit 0; }\n%s\n' % body)
            os.chmod(os.path.join(fake, "boinc"), 0o755)
            p = self.run_sandbox(["--timeout", "2"], ["sh", "-c", "echo command ran"])
            self.assertEqual(p.returncode, 125, p.stderr)
            self.assertIn(message, p.stderr)
            self.assertIn(body.split(";")[0][5:], p.stderr)
            self.assertNotIn("command ran", p.stdout)
            self.assertTrue(wait_for(lambda: not leftovers(self.tmp), 30), leftovers(self.tmp))
            self.assertEqual(os.listdir(self.tmp), ["fakebin"])

    def test_boinc_keep_leaves_the_folder_and_dir_reuses_it(self):
        p = self.run_sandbox(["--keep"], ["true"])
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertTrue(wait_for(lambda: not leftovers(self.tmp), 30), leftovers(self.tmp))
        kept = os.listdir(self.tmp)
        self.assertEqual(len(kept), 1)
        data = os.path.join(self.tmp, kept[0], "data")
        self.assertTrue(os.path.exists(os.path.join(data, "client_state.xml")))
        # A kept folder can be started again, and is then left alone.
        p = self.run_sandbox(["--dir", data], ["sh", "-c", "$BOINC_SANDBOX_CTL boinccmd --get_tasks"])
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.count("   name: "), 6)
        self.assertTrue(os.path.exists(os.path.join(data, "client_state.xml")))
        self.assertEqual(os.listdir(self.tmp), kept)
        self.assertTrue(wait_for(lambda: not leftovers(self.tmp), 30), leftovers(self.tmp))

    def test_boinc_signal_ends_everything(self):
        for sig in (signal.SIGTERM, signal.SIGHUP):
            ready = os.path.join(self.tmp, "ready")
            p = subprocess.Popen([SANDBOX, "--", "sh", "-c", "touch %s; exec sleep 600" % ready],
                                 env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(wait_for(lambda: os.path.exists(ready), 300))
                self.assertTrue(any("boinc --dir" in l for l in leftovers(self.tmp)))
                os.remove(ready)
                p.send_signal(sig)
                p.wait(timeout=60)
            finally:
                if p.poll() is None:
                    p.kill()
                    p.wait()
            self.assertNothingLeft()


class Tmux:
    """A private tmux server for one test, running one command in a
    120x40 terminal. The command's exit status is written to a file by a
    wrapper shell, since tmux may close a pane before it learns the status."""

    def __init__(self, env, tmp):
        self.name = "varnix-sbtest-%d-%d" % (os.getpid(), int(time.monotonic() * 1000))
        # The server's socket stays in a folder of its own, not in the shared /tmp/tmux-UID.
        self.sockdir = tempfile.mkdtemp(prefix="varnix-sbtmux-")
        self.env = dict(env, TMUX_TMPDIR=self.sockdir)
        self.statusfile = os.path.join(tmp, "tmux-status")

    def __call__(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.name, "-f", "/dev/null"] + list(args),
                              env=self.env, capture_output=True, text=True, check=check,
                              timeout=60)

    def start(self, *command):
        wrapper = 'status=%s; "$@"; echo $? > "$status.new"; mv "$status.new" "$status"' % (
            shlex.quote(self.statusfile))
        self("new-session", "-d", "-x", "120", "-y", "40",
             " ".join(shlex.quote(w) for w in ["bash", "-c", wrapper, "bash"] + list(command)))

    def screen(self):
        return self("capture-pane", "-p", check=False).stdout

    def ended(self):
        return os.path.exists(self.statusfile)

    def status(self):
        with open(self.statusfile) as f:
            return f.read().strip()

    def close(self):
        self("kill-server", check=False)
        if os.path.exists(self.statusfile):
            os.remove(self.statusfile)
        shutil.rmtree(self.sockdir, ignore_errors=True)


class DemoTest(TempDirCase):

    def setUp(self):
        super().setUp()
        self.env.update(VARNIX_DEMO_SKIP_BUILD="1", VARNIX_DEMO_BUILD_DIR=BUILD)
        self.env.pop("VARNIX_DEMO_COMMAND", None)

    def test_boinc_demo_runs_with_a_private_home_and_configuration(self):
        result = os.path.join(self.tmp, "result.json")
        command = ("python3 -c 'import json, os, sys; json.dump({\"home\": os.environ[\"HOME\"], "
                   "\"bin\": os.environ[\"VARNIX_DEMO_BIN\"], \"args\": sys.argv[1:], "
                   "\"password\": os.environ[\"BOINC_SANDBOX_PASSWORD\"], "
                   "\"cfg\": open(os.environ[\"HOME\"] + \"/.varnix.cfg\").read()}, "
                   "open(sys.argv[1], \"w\"))' " + result + " \"$@\"")
        self.env["VARNIX_DEMO_COMMAND"] = command
        p = subprocess.run([DEMO, "--pwd", "a b"], env=self.env, capture_output=True, text=True,
                           timeout=600)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(result) as f:
            seen = json.load(f)
        os.remove(result)
        self.assertNotEqual(seen["home"], os.environ.get("HOME"))
        self.assertTrue(seen["home"].startswith(self.tmp))
        self.assertEqual(seen["args"], [result, "--pwd", "a b"])
        self.assertEqual(os.path.realpath(seen["bin"]),
                         os.path.join(os.path.realpath(BUILD), "varnix"))
        cfg = ET.fromstring(seen["cfg"])
        self.assertEqual(cfg.tag, "varnix_cfg")
        servers = cfg.findall("server")
        self.assertEqual(len(servers), 1)
        value = lambda name: servers[0].findtext(name).strip()
        self.assertEqual(value("host"), "127.0.0.1")
        self.assertEqual(value("port"), "31416")
        self.assertEqual(value("pwd"), seen["password"])
        self.assertEqual(value("hostid"), "Demo client")
        self.assertTrue(seen["cfg"].startswith("<varnix_cfg>\n    <server>\n        <host>127.0.0.1\n"))
        self.assertNothingLeft()

    def test_boinc_demo_exit_status_is_the_programs(self):
        self.env["VARNIX_DEMO_COMMAND"] = "exit 5"
        p = subprocess.run([DEMO], env=self.env, capture_output=True, text=True, timeout=600)
        self.assertEqual(p.returncode, 5, p.stderr)
        self.assertNothingLeft()

    def test_boinc_demo_opens_varnix_in_the_terminal_and_quits_clean(self):
        tmux = Tmux(self.env, self.tmp)
        try:
            tmux.start(DEMO)
            # varnix shows the demo client's running tasks, logged in...
            shown = lambda: ("Host 127.0.0.1:31416(Demo client)" in tmux.screen()
                             and " Run " in tmux.screen())
            self.assertTrue(wait_for(shown, 120), tmux.screen())
            self.assertNotIn("offline!", tmux.screen())
            self.assertNotIn("unauthorized!", tmux.screen())
            # ...and runs until the user quits it with Q.
            tmux("send-keys", "Q")
            self.assertTrue(wait_for(tmux.ended, 120), tmux.screen())
            self.assertEqual(tmux.status(), "0", tmux.screen())
        finally:
            tmux.close()
        self.assertNothingLeft()

    def test_boinc_demo_ends_on_ctrl_c_and_on_signals(self):
        ready = os.path.join(self.tmp, "ready")
        self.env["VARNIX_DEMO_COMMAND"] = "touch %s; exec sleep 600" % ready
        tmux = Tmux(self.env, self.tmp)
        try:
            tmux.start(DEMO)
            self.assertTrue(wait_for(lambda: os.path.exists(ready), 300), tmux.screen())
            os.remove(ready)
            tmux("send-keys", "C-c")
            self.assertTrue(wait_for(tmux.ended, 120), tmux.screen())
            self.assertEqual(tmux.status(), "130")
        finally:
            tmux.close()
        self.assertNothingLeft()

        p = subprocess.Popen([DEMO], env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: os.path.exists(ready), 300))
            os.remove(ready)
            self.assertTrue(any("boinc --dir" in l for l in leftovers(self.tmp)))
            p.terminate()
            p.wait(timeout=60)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
        self.assertNothingLeft()


if __name__ == "__main__":
    if sys.argv[1:] == ["--probe"]:
        sys.exit(probe())
    unittest.main()
