"""Shared pieces of the end-to-end tests of varnix: a fake BOINC client with generated
replies, a private home folder with a configuration, and varnix itself in tmux."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

from tmuxdriver import TmuxTestCase, build_dir, tool_path

VARNIX = os.path.join(build_dir(), "varnix")

ALPHA = "http://127.0.0.1:9/alpha/"
BETA = "http://127.0.0.1:9/beta/"


def xml(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


class Task:
    """One result of a generated get_state reply. Times are relative to now."""

    def __init__(self, name, project=ALPHA, wu=None, state=2, active=None, done=None,
                 ready=False, est=None, received_ago=None, deadline_in=None, swap=None,
                 plan_class=None, suspended=False, too_large=False):
        self.name = name
        self.project = project
        self.wu = wu if wu is not None else name + "_wu"
        self.state = state
        self.active = active
        self.done = done
        self.ready = ready
        self.est = est
        self.received_ago = received_ago
        self.deadline_in = deadline_in
        self.swap = swap
        self.plan_class = plan_class
        self.suspended = suspended
        self.too_large = too_large

    def result_xml(self, now):
        parts = ["<result>", "<name>%s</name>" % xml(self.name),
                 "<wu_name>%s</wu_name>" % xml(self.wu),
                 "<project_url>%s</project_url>" % xml(self.project),
                 "<state>%d</state>" % self.state]
        if self.plan_class is not None:
            parts.append("<plan_class>%s</plan_class>" % xml(self.plan_class))
        if self.est is not None:
            parts.append("<estimated_cpu_time_remaining>%f</estimated_cpu_time_remaining>" % self.est)
        if self.received_ago is not None:
            parts.append("<received_time>%f</received_time>" % (now - self.received_ago))
        if self.deadline_in is not None:
            parts.append("<report_deadline>%f</report_deadline>" % (now + self.deadline_in))
        if self.ready:
            parts.append("<ready_to_report/>")
        if self.suspended:
            parts.append("<suspended_via_gui/>")
        if self.too_large:
            parts.append("<too_large/>")
        if self.active is not None:
            parts.append("<active_task><active_task_state>%d</active_task_state>" % self.active)
            if self.done is not None:
                parts.append("<fraction_done>%f</fraction_done>" % self.done)
            if self.swap is not None:
                parts.append("<swap_size>%f</swap_size>" % self.swap)
            parts.append("</active_task>")
        parts.append("</result>")
        return "\n".join(parts)


def state_xml(tasks, projects=None, apps=None, now=None):
    """A get_state reply content. projects: [(url, name, flags)], apps: {wu: (app, friendly)}."""
    now = time.time() if now is None else now
    if projects is None:
        projects = [(ALPHA, "Alpha@Home", ""), (BETA, "Beta Project", "")]
    out = ["<client_state>"]
    for url, name, flags in projects:
        out.append("<project><master_url>%s</master_url><project_name>%s</project_name>%s</project>"
                   % (xml(url), xml(name), flags))
    apps = apps or {}
    seen = set()
    for wu, (app, friendly) in apps.items():
        if app not in seen:
            seen.add(app)
            out.append("<app><name>%s</name><user_friendly_name>%s</user_friendly_name></app>"
                       % (xml(app), xml(friendly)))
        out.append("<workunit><name>%s</name><app_name>%s</app_name></workunit>" % (xml(wu), xml(app)))
    for t in tasks:
        out.append(t.result_xml(now))
    out.append("</client_state>")
    return "\n".join(out) + "\n"


def messages_xml(messages):
    """get_messages content; messages: [(seqno, time, project, body)]."""
    out = ["<msgs>"]
    for seqno, when, project, body in messages:
        out.append("<msg>\n <project>%s</project>\n <pri>1</pri>\n <seqno>%d</seqno>\n"
                   " <body><![CDATA[\n%s\n]]></body>\n <time>%d</time>\n</msg>"
                   % (xml(project), seqno, body, when))
    out.append("</msgs>")
    return "\n".join(out) + "\n"


class FakeClient:
    """The project's fake GUI RPC server with a private folder of replies."""

    def __init__(self, password="", extra=()):
        self.dir = tempfile.mkdtemp(prefix="varnix-fake-")
        self.replies = os.path.join(self.dir, "replies")
        os.mkdir(self.replies)
        src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "replies")
        for name in os.listdir(src):
            if name.endswith(".xml") and name != "messages_sample.xml":
                shutil.copy(os.path.join(src, name), self.replies)
        self.log = os.path.join(self.dir, "requests.log")
        args = [tool_path("fakeboinc"), "--replies", self.replies, "--log", self.log]
        if password:
            args += ["--password", password]
        args += list(extra)
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.port = int(self.proc.stdout.readline())

    def set_reply(self, name, content):
        """Replaces the reply file NAME.xml atomically (the server re-reads it)."""
        path = os.path.join(self.replies, name + ".xml")
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="latin-1") as f:
            f.write(content)
        os.replace(tmp, path)

    def set_state(self, tasks, **kwargs):
        self.set_reply("get_state", state_xml(tasks, **kwargs))

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def requests(self, name=None):
        try:
            with open(self.log) as f:
                recs = [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []
        return [r for r in recs if name is None or r["name"] == name]

    def wait_request(self, name, predicate=lambda r: True, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            hits = [r for r in self.requests(name) if predicate(r)]
            if hits:
                return hits
            time.sleep(0.05)
        raise AssertionError("no request %s; seen: %s" % (name, [r["name"] for r in self.requests()]))

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def config_xml(servers, extra=""):
    """A configuration file; servers: [(host, port, pwd, hostid)]."""
    out = ["<varnix_cfg>"]
    for host, port, pwd, hostid in servers:
        out.append("    <server>")
        out.append("        <host>%s\n        </host>" % xml(host))
        out.append("        <port>%s\n        </port>" % xml(str(port)))
        if pwd:
            out.append("        <pwd>%s\n        </pwd>" % xml(pwd))
        out.append("        <hostid>%s\n        </hostid>" % xml(hostid))
        out.append("    </server>")
    if extra:
        out.append(extra)
    out.append("</varnix_cfg>")
    return "\n".join(out) + "\n"


class VarnixTestCase(TmuxTestCase):
    """A temporary home per test, fake clients that die in tearDown, varnix in tmux."""

    def setUp(self):
        super().setUp()
        self.home = tempfile.mkdtemp(prefix="varnix-home-")
        self.fakes = []

    def tearDown(self):
        super().tearDown()  # varnix goes before its peers
        for f in self.fakes:
            f.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def fake(self, password="", extra=()):
        f = FakeClient(password, extra)
        self.fakes.append(f)
        return f

    @property
    def cfgpath(self):
        return os.path.join(self.home, ".varnix.cfg")

    def write_config(self, servers, extra=""):
        with open(self.cfgpath, "w") as f:
            f.write(config_xml(servers, extra))

    def read_config(self):
        with open(self.cfgpath, encoding="latin-1") as f:
            return f.read()

    def varnix(self, args=(), cols=120, rows=40, binary=None, term="screen-256color"):
        env = {"HOME": self.home, "TERM": term}
        return self.session([binary or VARNIX] + list(args), cols=cols, rows=rows, env=env,
                            term=term)

    def quit(self, s, timeout=5):
        s.send_keys("Q")
        self.assertEqual(s.wait_exit(timeout=timeout), 0)


HERE = os.path.dirname(os.path.abspath(__file__))
SANDBOX = os.path.join(HERE, "..", "tools", "boinc-sandbox")
# Inside a sandbox that runs a real client (tests/tools/boinc-sandbox sets these).
INSIDE_SANDBOX = "BOINC_SANDBOX_PORT" in os.environ


def run_in_sandbox(test, target, *sandbox_args):
    """Runs the unittest `target` ("module.Class") inside a fresh sandbox with a real client
    and fails `test` unless every one of its tests ran and passed ("OK (skipped=N)" would
    not do)."""
    p = subprocess.run([SANDBOX] + list(sandbox_args) +
                       ["--", sys.executable, "-m", "unittest", "-v", target],
                       cwd=HERE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       text=True, timeout=800)
    test.assertEqual(p.returncode, 0, p.stdout[-6000:])
    test.assertRegex(p.stdout, r"\nOK\n", p.stdout[-6000:])


class RealClientTestCase(VarnixTestCase):
    """varnix against the sandbox's real client."""

    def boinccmd(self, *args):
        return subprocess.run([os.environ["BOINC_SANDBOX_CTL"], "boinccmd"] + list(args),
                              stdout=subprocess.PIPE, text=True, timeout=60).stdout

    def start_varnix(self, cols=200, rows=45):
        port = os.environ["BOINC_SANDBOX_PORT"]
        self.write_config([("127.0.0.1", port, os.environ["BOINC_SANDBOX_PASSWORD"], "sandbox")])
        s = self.varnix(cols=cols, rows=rows)
        s.wait_for(" Host 127.0.0.1:%s(sandbox) " % port)
        return s
