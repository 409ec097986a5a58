#!/usr/bin/env python3
"""Seeds an empty BOINC data folder with projects whose tasks really run.

The client is handed a ready client_state.xml: projects, apps, app versions
whose main program is already "downloaded" (status 1, right size and MD5),
workunits and results in state 2 (files downloaded), plus one account file
per project.  Every master URL points at 127.0.0.1 port 9, where nothing
listens, so the client's attempts to reach its projects fail at once and
never leave the machine.  The science app only sleeps: it costs no CPU and
runs until the client stops it.

With --transfers N the first project also gets N tasks whose files are stuck in
transfer: uploads of finished tasks' output (even numbers) and downloads of new
tasks' input (odd numbers), all to 127.0.0.1 port 9, so each fails and waits
for its next retry.

Usage: boinc_seed.py --dir DIR [--projects N] [--tasks N] [--ncpus N]
                     [--transfers N] [--platform NAME] [--password TEXT]
                     [--now SECONDS]
"""

import argparse
import hashlib
import os
import platform as pyplatform
import re
import stat
import subprocess
import sys
import time
from xml.sax.saxutils import escape

# (project name, URL path, task name prefix, app name, app label)
PROJECTS = [
    ("Alpha@Home", "alpha", "alpha@home", "worker", "Worker of Alpha@Home"),
    ("Beta Project", "beta", "beta", "worker", "Worker of Beta Project"),
    ("Gamma Grid", "gamma", "gamma", "sieve", "Gamma Sieve"),
    ("Delta Science", "delta", "delta", "folder", "Delta Folding"),
    ("Epsilon Search", "epsilon", "epsilon", "search", "Epsilon Search"),
]

HOUR = 3600.0
DAY = 86400.0
FLOPS = 1e9          # the app version's speed: estimates are fpops / FLOPS
VERSION_NUM = 100

# The science app: sleeps while its client lives and obeys the client's
# control messages, so a stopping client need not wait for it.  The client
# talks to its app through the shared memory file in the slot: the first
# channel (offset 0) holds the control requests; its first byte is set while
# a message waits, and the app clears it to take the message.
APP_SCRIPT = r"""#!/bin/sh
# Stand-in science application: does no work, only waits.
mmap=boinc_mmap_file
client=$PPID
while kill -0 "$client" 2>/dev/null; do
    set -- $(od -An -tu1 -N1 "$mmap" 2>/dev/null)
    if [ "${1:-0}" = 1 ]; then
        msg=$(head -c 1024 "$mmap" | tr -d '\000')
        printf '\000' | dd of="$mmap" bs=1 count=1 conv=notrunc 2>/dev/null
        case "$msg" in
            *"<quit/>"*|*"<abort/>"*) exit 0 ;;
        esac
    fi
    sleep 1
done
exit 0
"""


def project_table(count):
    table = list(PROJECTS[:count])
    for i in range(len(table), count):
        n = i + 1
        table.append(("Project %d" % n, "p%d" % n, "p%d" % n, "worker",
                      "Worker of Project %d" % n))
    return table


def master_url(path):
    return "http://127.0.0.1:9/%s/" % path


def project_dir_name(url):
    """The client's folder name for a master URL."""
    name = re.sub(r"^[a-z]+://", "", url).rstrip("/")
    return name.replace("/", "_").replace(":", "_")


def client_platform():
    """The client's own platform name, as its --version prints it."""
    try:
        out = subprocess.run(["boinc", "--version"], capture_output=True,
                             text=True, timeout=30).stdout.split()
        if len(out) >= 2:
            return out[1]
    except (OSError, subprocess.SubprocessError):
        pass
    return "%s-pc-linux-gnu" % pyplatform.machine()


def tag(name, value, indent="    "):
    return "%s<%s>%s</%s>\n" % (indent, name, escape(str(value)), name)


def write_file(path, text, mode=0o644):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, mode)


def stuck_transfers(data, pdir, url, prefix, app, plat, now, count):
    """Tasks of one project whose files must cross the network: state parts of
    client_state.xml (file infos, workunits, results)."""
    parts = []
    for i in range(count):
        upload = i % 2 == 0
        wu = "%s_%s_%d" % (prefix, "up" if upload else "down", i)
        fname = "%s_%d" % (wu, 0 if upload else 1)
        body = (("output %d\n" % i) * 512).encode()
        if upload:
            # A finished task's output, present on disk and not yet uploaded.
            with open(os.path.join(data, "projects", pdir, fname), "wb") as f:
                f.write(body)
            parts.append("<file_info>\n" + tag("name", fname) + tag("nbytes", len(body))
                         + tag("max_nbytes", 1000000)
                         + tag("md5_cksum", hashlib.md5(body).hexdigest())
                         + tag("status", 1)
                         + tag("upload_url", url + "cgi-bin/file_upload_handler")
                         + "</file_info>\n")
        else:
            parts.append("<file_info>\n" + tag("name", fname) + tag("nbytes", len(body))
                         + tag("max_nbytes", 0)
                         + tag("md5_cksum", hashlib.md5(body).hexdigest())
                         + tag("status", 0)
                         + tag("download_url", url + "download/" + fname)
                         + "</file_info>\n")
        parts.append("<workunit>\n" + tag("name", wu) + tag("app_name", app)
                     + tag("version_num", VERSION_NUM)
                     + tag("rsc_fpops_est", "%.6f" % (HOUR * FLOPS))
                     + tag("rsc_fpops_bound", "%.6f" % 1e18)
                     + tag("rsc_memory_bound", "%.6f" % 1e8)
                     + tag("rsc_disk_bound", "%.6f" % 1e8)
                     + ("" if upload else "    <file_ref>\n" + tag("file_name", fname, "        ")
                        + tag("open_name", "in", "        ") + "    </file_ref>\n")
                     + "</workunit>\n")
        parts.append("<result>\n" + tag("name", wu + "_0") + tag("wu_name", wu)
                     + tag("platform", plat) + tag("version_num", VERSION_NUM)
                     + tag("plan_class", "")
                     + tag("final_cpu_time", "60.000000" if upload else "0.000000")
                     + tag("exit_status", 0) + tag("state", 4 if upload else 1)
                     + tag("report_deadline", "%.6f" % (now + 2 * DAY))
                     + tag("received_time", "%.6f" % (now - 2 * HOUR))
                     + ("    <file_ref>\n" + tag("file_name", fname, "        ")
                        + tag("open_name", "out", "        ") + "    </file_ref>\n"
                        if upload else "")
                     + "</result>\n")
    return parts


def seed(args):
    data = args.dir
    now = args.now if args.now is not None else time.time()
    plat = args.platform or client_platform()
    os.makedirs(os.path.join(data, "projects"), exist_ok=True)

    state = ["<client_state>\n"]
    for pi, (pname, path, prefix, app, label) in enumerate(
            project_table(args.projects)):
        url = master_url(path)
        pdir = project_dir_name(url)
        os.makedirs(os.path.join(data, "projects", pdir), exist_ok=True)

        exe = "%s_%d.%02d" % (app, VERSION_NUM // 100, VERSION_NUM % 100)
        exe_path = os.path.join(data, "projects", pdir, exe)
        write_file(exe_path, APP_SCRIPT, 0o755)
        body = APP_SCRIPT.encode()

        write_file(os.path.join(data, "account_%s.xml" % pdir),
                   "<account>\n" + tag("master_url", url)
                   + tag("authenticator", "sandbox_%s_key" % path)
                   + tag("project_name", pname) + "</account>\n")

        # A few days of credit history, so statistics have something to show.
        total = 1000.0 * (pi + 1)
        days = []
        for d in range(5, 0, -1):
            day = (int(now // DAY) - d) * DAY
            total += 50.0 * (pi + 1) * (6 - d)
            days.append("    <daily_statistics>\n" + tag("day", "%.6f" % day, "        ")
                        + tag("user_total_credit", "%.6f" % (total * 4), "        ")
                        + tag("user_expavg_credit", "%.6f" % (40.0 * (pi + 1)), "        ")
                        + tag("host_total_credit", "%.6f" % total, "        ")
                        + tag("host_expavg_credit", "%.6f" % (10.0 * (pi + 1)), "        ")
                        + "    </daily_statistics>\n")
        write_file(os.path.join(data, "statistics_%s.xml" % pdir),
                   "<project_statistics>\n" + tag("master_url", url)
                   + "".join(days) + "</project_statistics>\n")

        state.append("<project>\n" + tag("master_url", url)
                     + tag("project_name", pname) + tag("user_name", "tester")
                     + tag("user_total_credit", "%.6f" % (total * 4))
                     + tag("user_expavg_credit", "%.6f" % (40.0 * (pi + 1)))
                     + tag("host_total_credit", "%.6f" % total)
                     + tag("host_expavg_credit", "%.6f" % (10.0 * (pi + 1)))
                     + tag("resource_share", "100")
                     + "</project>\n")
        state.append("<app>\n" + tag("name", app) + tag("user_friendly_name", label)
                     + "</app>\n")
        state.append("<file_info>\n" + tag("name", exe) + tag("nbytes", len(body))
                     + tag("max_nbytes", 0)
                     + tag("md5_cksum", hashlib.md5(body).hexdigest())
                     + tag("status", 1) + "    <executable/>\n" + "</file_info>\n")
        state.append("<app_version>\n" + tag("app_name", app)
                     + tag("version_num", VERSION_NUM) + tag("platform", plat)
                     + tag("avg_ncpus", "1") + tag("flops", "%.6f" % FLOPS)
                     + tag("api_version", "7.20.0")
                     + "    <file_ref>\n" + tag("file_name", exe, "        ")
                     + "        <main_program/>\n    </file_ref>\n"
                     + "</app_version>\n")
        for t in range(args.tasks):
            wu = "%s_wu_%d" % (prefix, t)
            state.append("<workunit>\n" + tag("name", wu) + tag("app_name", app)
                         + tag("version_num", VERSION_NUM)
                         + tag("rsc_fpops_est", "%.6f" % ((t + 1) * HOUR * FLOPS))
                         + tag("rsc_fpops_bound", "%.6f" % 1e18)
                         + tag("rsc_memory_bound", "%.6f" % 1e8)
                         + tag("rsc_disk_bound", "%.6f" % 1e8)
                         + "</workunit>\n")
        for t in range(args.tasks):
            wu = "%s_wu_%d" % (prefix, t)
            state.append("<result>\n" + tag("name", wu + "_0") + tag("wu_name", wu)
                         + tag("platform", plat) + tag("version_num", VERSION_NUM)
                         + tag("plan_class", "")
                         + tag("final_cpu_time", "0.000000")
                         + tag("exit_status", 0) + tag("state", 2)
                         + tag("report_deadline", "%.6f" % (now + (t + 1) * DAY))
                         + tag("received_time", "%.6f" % (now - (t + 1) * HOUR))
                         + "</result>\n")
        if pi == 0 and args.transfers > 0:
            state.extend(stuck_transfers(data, pdir, url, prefix, app, plat, now,
                                         args.transfers))
    state.append("</client_state>\n")
    if args.projects > 0:
        write_file(os.path.join(data, "client_state.xml"), "".join(state))

    # Local settings that keep the client quiet, local and predictable: a fixed
    # number of CPUs (so as many tasks run on any machine), no suspension
    # because other programs use the CPU or the disk is full.
    write_file(os.path.join(data, "cc_config.xml"),
               "<cc_config>\n  <log_flags>\n    <task>1</task>\n"
               "    <file_xfer>1</file_xfer>\n    <sched_ops>1</sched_ops>\n"
               "  </log_flags>\n  <options>\n"
               + tag("ncpus", args.ncpus) + "  </options>\n</cc_config>\n")
    write_file(os.path.join(data, "global_prefs_override.xml"),
               "<global_preferences>\n"
               + tag("run_on_batteries", 1) + tag("run_if_user_active", 1)
               + tag("suspend_cpu_usage", "0.000000")
               + tag("max_ncpus_pct", "100.000000")
               + tag("cpu_usage_limit", "100.000000")
               + tag("disk_max_used_gb", "0.000000")
               + tag("disk_max_used_pct", "100.000000")
               + tag("disk_min_free_gb", "0.000000")
               + tag("ram_max_used_busy_pct", "90.000000")
               + tag("ram_max_used_idle_pct", "90.000000")
               + tag("work_buf_min_days", "0.000000")
               + tag("work_buf_additional_days", "0.000000")
               + "</global_preferences>\n")
    if args.password is not None:
        write_file(os.path.join(data, "gui_rpc_auth.cfg"), args.password + "\n", 0o600)


def main(argv):
    p = argparse.ArgumentParser(description="Seed a BOINC data folder.")
    p.add_argument("--dir", required=True, help="data folder (created if missing)")
    p.add_argument("--projects", type=int, default=2, help="number of projects (0: none)")
    p.add_argument("--tasks", type=int, default=3, help="tasks per project")
    p.add_argument("--ncpus", type=int, default=2, help="CPUs the client may use")
    p.add_argument("--transfers", type=int, default=0,
                   help="tasks of the first project with a file stuck in transfer")
    p.add_argument("--platform", help="platform name (default: the client's)")
    p.add_argument("--password", help="also write gui_rpc_auth.cfg")
    p.add_argument("--now", type=float, help="reference time (seconds since the epoch)")
    args = p.parse_args(argv)
    if args.projects < 0 or args.tasks < 0 or args.ncpus < 1 or args.transfers < 0:
        p.error("counts must not be negative, and ncpus at least 1")
    seed(args)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
