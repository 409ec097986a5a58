"""Drives a program in a real terminal: a private tmux server per session.

    with TmuxSession([binary, "--flag"], cols=80, rows=24, env={"HOME": home}) as s:
        s.wait_for("Please Confirm")
        s.send_keys("Escape")
        s.send_text("hello")
        s.resize(100, 30)
        screen = s.capture()            # list of rows, no colours
        coloured = s.capture(colors=True)

Each session runs its own tmux server (``tmux -L <unique name>``), so tests never meet
each other or the user's tmux. The server is always killed on exit from the ``with``
block; TmuxTestCase does the same in tearDown for sessions made with ``self.session()``.
Waiting is by polling with generous time-outs: nothing here measures speed.
"""

import atexit
import itertools
import os
import shlex
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

DEFAULT_TIMEOUT = 15.0
POLL_INTERVAL = 0.05

_counter = itertools.count()

# Sessions still running. tmux servers outlive the test process, so an interrupted run
# (Ctrl-C, a kill by the test driver) must still take them and their programs down.
_live = set()


def _kill_live_sessions():
    for s in list(_live):
        s.kill()


def _end_on_signal(signum, frame):
    raise SystemExit(128 + signum)


atexit.register(_kill_live_sessions)
if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
    signal.signal(signal.SIGTERM, _end_on_signal)


class TmuxError(RuntimeError):
    pass


def tmux_available():
    return shutil.which("tmux") is not None


def build_dir():
    """The build folder (VARNIX_BUILD, set by CTest), or ./build beside the sources."""
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("VARNIX_BUILD") or os.path.join(here, "..", "..", "build")


def tool_path(name):
    """Path of a test tool built from tests/tools/<name>.cpp."""
    return os.path.join(build_dir(), "tests", name)


def _stat_fields(pid):
    """The fields of /proc/PID/stat from the state (field 3) on; [] when there is none."""
    if not pid:
        return []
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return []
    return stat[stat.rfind(")") + 2:].split()


def _start_time(pid):
    """Start time of a process (None when there is none)."""
    fields = _stat_fields(pid)
    return fields[19] if len(fields) > 19 else None


def _zombie_status(pid):
    """Exit status of a finished but unreaped process (-N for signal N), else None."""
    fields = _stat_fields(pid)
    # fields[0] is the state (field 3); the wait status is field 52.
    if not fields or fields[0] != "Z" or len(fields) < 50:
        return None
    code = int(fields[49])
    return -(code & 0x7F) if code & 0x7F else (code >> 8) & 0xFF


class TmuxSession:
    """One program running in one tmux window of a given size."""

    def __init__(self, command, cols=80, rows=24, env=None, cwd=None,
                 term="screen-256color", name=None):
        if isinstance(command, str):
            command = shlex.split(command)
        self.command = list(command)
        self.cols = cols
        self.rows = rows
        self.cwd = cwd
        self.term = term
        self.socket = name or "varnix-test-%d-%d-%d" % (os.getpid(), next(_counter),
                                                         int(time.time() * 1000) % 100000)
        self.target = "main:0.0"
        self.env = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        if env:
            self.env.update(env)
        self._confdir = None
        self.started = False
        self.pid = None  # of the program in the pane
        self._pidstart = None  # tells the program from a later process with its number

    # -- life cycle ---------------------------------------------------------------

    def start(self):
        if self.started:
            return self
        if not tmux_available():
            raise TmuxError("tmux is not installed")
        self._confdir = tempfile.mkdtemp(prefix="varnix-tmux-")
        conf = os.path.join(self._confdir, "tmux.conf")
        with open(conf, "w") as f:
            # No status bar: the pane is the whole window. Keep a pane whose program
            # ended, so that its last screen and exit status can be read.
            f.write("set -g status off\n")
            f.write("set -g remain-on-exit on\n")
            f.write("set -g default-terminal %s\n" % self.term)
            f.write("set -g escape-time 0\n")
            f.write("set -g history-limit 100\n")
        args = ["-f", conf, "new-session", "-d", "-s", "main", "-x", str(self.cols),
                "-y", str(self.rows)]
        if self.cwd:
            args += ["-c", self.cwd]
        for key, value in self.env.items():
            args += ["-e", "%s=%s" % (key, value)]
        args += ["--"] + self.command
        self.started = True
        _live.add(self)
        try:
            self._tmux(*args)
            self.pid = int(self.pane_info("#{pane_pid}"))
            self._pidstart = _start_time(self.pid)
        except Exception:
            self.kill()
            raise
        return self

    def kill(self):
        """Kills the tmux server and with it the program. Safe to call twice."""
        _live.discard(self)
        if self.started:
            self.started = False
            subprocess.run(["tmux", "-L", self.socket, "kill-server"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env=self._tmuxenv(), timeout=30)
            self._wait_gone()
        if self._confdir:
            shutil.rmtree(self._confdir, ignore_errors=True)
            self._confdir = None

    def _wait_gone(self, timeout=10.0):
        """Waits for the program to end after the hang-up (it may be saving its files
        into a folder about to be removed); one that does not is killed."""
        if not self.pid:
            return
        def gone():
            return (_start_time(self.pid) != self._pidstart
                    or _zombie_status(self.pid) is not None)

        end = time.time() + timeout
        while time.time() < end:
            if gone():
                return
            time.sleep(POLL_INTERVAL)
        try:
            if not gone():
                os.kill(self.pid, signal.SIGKILL)
        except OSError:
            pass

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.kill()
        return False

    # -- input --------------------------------------------------------------------

    def send_keys(self, *keys):
        """Sends tmux key names: "Escape", "Enter", "Up", "F9", "C-c", "x"..."""
        self._tmux("send-keys", "-t", self.target, *keys)

    def send_text(self, text):
        """Types text literally, character by character."""
        self._tmux("send-keys", "-t", self.target, "-l", text)

    def resize(self, cols, rows):
        self._tmux("resize-window", "-t", "main:0", "-x", str(cols), "-y", str(rows))
        self.cols = cols
        self.rows = rows

    # -- output -------------------------------------------------------------------

    def capture(self, colors=False):
        """The visible screen as a list of rows (trailing blanks removed)."""
        args = ["capture-pane", "-p", "-t", self.target]
        if colors:
            args.append("-e")
        out = self._tmux(*args)
        rows = out.split("\n")
        if rows and rows[-1] == "":
            rows.pop()
        return rows

    def text(self, colors=False):
        return "\n".join(self.capture(colors=colors))

    def row(self, index):
        rows = self.capture()
        return rows[index] if 0 <= index < len(rows) else ""

    def find(self, text):
        """(row, column) of the first place where text shows, or None. Columns count
        characters, which equals cells for the single-width text the tests look for."""
        for r, line in enumerate(self.capture()):
            c = line.find(text)
            if c >= 0:
                return r, c
        return None

    def wait_for(self, text, timeout=DEFAULT_TIMEOUT):
        """Waits until text shows on the screen; returns the screen rows."""
        return self.wait_until(lambda rows: any(text in r for r in rows), timeout,
                               "text %r" % text)

    def wait_gone(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_until(lambda rows: not any(text in r for r in rows), timeout,
                               "text %r to go" % text)

    def wait_until(self, predicate, timeout=DEFAULT_TIMEOUT, what="condition"):
        """Polls the screen until predicate(rows) is true; fails with the last screen."""
        deadline = time.monotonic() + timeout
        rows = []
        while True:
            rows = self.capture()
            if predicate(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %s; screen:\n%s"
                                     % (what, "\n".join(rows)))
            time.sleep(POLL_INTERVAL)

    # -- the program ----------------------------------------------------------------

    def pane_info(self, fmt):
        return self._tmux("display-message", "-p", "-t", self.target, fmt).strip()

    def is_running(self):
        return self.pane_info("#{pane_dead}") != "1"

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the program to end; returns its exit status, or -N when signal N
        ended it."""
        deadline = time.monotonic() + timeout
        while True:
            if not self.is_running():
                info = self.pane_info("#{pane_dead_status}:#{pane_dead_signal}")
                status, _, signal = info.partition(":")
                if status.lstrip("-").isdigit():
                    return int(status)
                if signal.isdigit():
                    return -int(signal)
                # tmux can be slow to reap the program, or miss it under load: a zombie
                # still tells its status.
                code = _zombie_status(self.pid)
                if code is not None:
                    return code
            if time.monotonic() > deadline:
                raise AssertionError("program did not end; screen:\n" + self.text())
            time.sleep(POLL_INTERVAL)

    def pane_size(self):
        cols, rows = self.pane_info("#{pane_width} #{pane_height}").split()
        return int(cols), int(rows)

    # -- plumbing -------------------------------------------------------------------

    def _tmuxenv(self):
        env = dict(os.environ)
        env.update(self.env)
        env.pop("TMUX", None)  # never talk to an enclosing tmux
        # The server's socket lives in the session's own folder: nothing piles up in the
        # shared /tmp/tmux-UID, whose owner may differ inside a namespace.
        if self._confdir:
            env["TMUX_TMPDIR"] = self._confdir
        return env

    def _tmux(self, *args):
        cmd = ["tmux", "-u", "-L", self.socket] + list(args)
        res = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=self._tmuxenv(), timeout=30)
        if res.returncode != 0:
            raise TmuxError("%s failed: %s" % (" ".join(map(shlex.quote, cmd)),
                                               res.stderr.decode(errors="replace").strip()))
        return res.stdout.decode("utf-8", errors="replace")


class TmuxTestCase(unittest.TestCase):
    """Base for end-to-end tests: sessions made with self.session() die in tearDown."""

    def setUp(self):
        super().setUp()
        if not tmux_available():
            self.skipTest("tmux is not installed")
        self._sessions = []

    def tearDown(self):
        for s in self._sessions:
            s.kill()
        self._sessions = []
        super().tearDown()

    def session(self, command, **kwargs):
        s = TmuxSession(command, **kwargs)
        self._sessions.append(s)
        s.start()
        return s

    def assertScreenContains(self, session, text):
        rows = session.capture()
        self.assertTrue(any(text in r for r in rows),
                        "%r not on screen:\n%s" % (text, "\n".join(rows)))
