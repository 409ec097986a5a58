#!/usr/bin/env python3
"""Large but realistic BOINC client data, as reply texts for `fakeboinc --replies DIR`.

Writes into DIR:
  get_state.xml       N results over P projects, with their apps, app versions and
                      workunits, about a third of them running
  get_statistics.xml  P projects x D days of credit history
  get_disk_usage.xml  the disk usage of the P projects
  get_cc_status.xml, acct_mgr_info.xml
                      small fixed replies, so that every poll gets a real answer
  get_messages.xml, get_message_count.xml
                      only with --messages M > 0: a message log of M messages (leave it
                      out to keep fakeboinc's own scriptable message log)

The data is the same for the same --seed and --now. Standard library only.
"""
import argparse
import os
import random
import sys
import time

PLATFORM = "x86_64-pc-linux-gnu"

PROJECT_WORDS = [
    "Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta", "Iota", "Kappa",
    "Lambda", "Sigma", "Omega", "Rosetta", "Einstein", "Milky", "Prime", "Climate", "Cosmo",
    "Asteroids", "Quake", "Protein", "Genome", "Collatz", "Number", "Yoyo", "Universe",
    "Radio", "Pulsar", "Fusion", "Neuron", "Vector", "Lattice", "Quantum", "Orbit", "Comet",
    "Nebula", "Photon", "Graviton", "Tensor", "Matrix", "Helix", "Enzyme", "Crystal",
    "Glacier", "Monsoon", "Seismo", "Magnet", "Plasma", "Nova",
]
PROJECT_SUFFIXES = ["@Home", " Project", "@home", " Grid", " Challenge", ""]
APP_KINDS = [
    ("cpu", "", "Worker"), ("mt", "mt", "Multi-threaded worker"),
    ("cuda", "cuda102", "NVIDIA worker"), ("opencl", "opencl_nvidia_101", "OpenCL worker"),
    ("ati", "ati_opencl", "AMD GPU worker"), ("intel", "intel_gpu_opencl", "Intel GPU worker"),
    ("sse", "sse2", "Search"), ("avx", "avx2", "Fast search"),
]
MESSAGE_TEXTS = [
    "Starting task {task}",
    "Computation for task {task} finished",
    "Started download of {file}",
    "Finished download of {file}",
    "Started upload of {file}_r0",
    "Finished upload of {file}_r0",
    "Sending scheduler request: To fetch work.",
    "Requesting new tasks for CPU",
    "Scheduler request completed: got {n} new tasks",
    "Sending scheduler request: To report completed tasks.",
    "Reporting {n} completed tasks",
    "Project requested delay of {n} seconds",
    "[task] task_state=EXECUTING for {task} from start",
    "Not requesting tasks: don't need (CPU: job cache full; NVIDIA GPU: job cache full)",
]


def header(now):
    return """<host_info>
    <timezone>0</timezone>
    <domain_name>cruncher</domain_name>
    <ip_addr>127.0.0.1</ip_addr>
    <host_cpid>5e9dc36a8f7d9878dd40b08a71c482b3</host_cpid>
    <p_ncpus>64</p_ncpus>
    <p_vendor>AuthenticAMD</p_vendor>
    <p_model>AMD EPYC 7763 64-Core Processor [Family 25 Model 1 Stepping 1]</p_model>
    <p_features>fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat pse36 clflush mmx fxsr sse sse2 ht syscall nx mmxext fxsr_opt pdpe1gb rdtscp lm constant_tsc rep_good nopl</p_features>
    <p_fpops>4512345678.000000</p_fpops>
    <p_iops>15123456789.000000</p_iops>
    <p_membw>1000000000.000000</p_membw>
    <p_calculated>{start:.6f}</p_calculated>
    <p_vm_extensions_disabled>0</p_vm_extensions_disabled>
    <m_nbytes>270553174016.000000</m_nbytes>
    <m_cache>33554432.000000</m_cache>
    <m_swap>8589930496.000000</m_swap>
    <d_total>1970553174016.000000</d_total>
    <d_free>885202612224.000000</d_free>
    <os_name>Linux Debian</os_name>
    <os_version>Debian GNU/Linux 12 (bookworm) [6.1.0-18-amd64|libc 2.36]</os_version>
    <n_usable_coprocs>2</n_usable_coprocs>
    <wsl_available>0</wsl_available>
    <coprocs>
    </coprocs>
</host_info>
<net_stats>
    <bwup>20534.331221</bwup>
    <avg_up>12034.521411</avg_up>
    <avg_time_up>{now:.6f}</avg_time_up>
    <bwdown>912334.120012</bwdown>
    <avg_down>402331.774120</avg_down>
    <avg_time_down>{now:.6f}</avg_time_down>
</net_stats>
<time_stats>
    <on_frac>0.999123</on_frac>
    <connected_frac>0.998231</connected_frac>
    <cpu_and_network_available_frac>0.997120</cpu_and_network_available_frac>
    <active_frac>0.996512</active_frac>
    <gpu_active_frac>0.990120</gpu_active_frac>
    <client_start_time>{start:.6f}</client_start_time>
    <total_start_time>{start:.6f}</total_start_time>
    <total_duration>31536000.000000</total_duration>
    <total_active_duration>31400000.000000</total_active_duration>
    <total_gpu_active_duration>31000000.000000</total_gpu_active_duration>
    <now>{now:.6f}</now>
    <previous_uptime>86400.000000</previous_uptime>
    <session_active_duration>86400.000000</session_active_duration>
    <session_gpu_active_duration>86400.000000</session_gpu_active_duration>
</time_stats>
""".format(now=now, start=now - 86400 * 3)


def footer():
    return """<platform_name>x86_64-pc-linux-gnu</platform_name>
<core_client_major_version>7</core_client_major_version>
<core_client_minor_version>20</core_client_minor_version>
<core_client_release>5</core_client_release>
<executing_as_daemon>1</executing_as_daemon>
<platform>x86_64-pc-linux-gnu</platform>
<platform>i686-pc-linux-gnu</platform>
<global_preferences>
   <source_project></source_project>
   <mod_time>0.000000</mod_time>
   <run_on_batteries>0</run_on_batteries>
   <run_if_user_active>1</run_if_user_active>
   <run_gpu_if_user_active>0</run_gpu_if_user_active>
   <suspend_cpu_usage>25.000000</suspend_cpu_usage>
   <work_buf_min_days>0.100000</work_buf_min_days>
   <work_buf_additional_days>0.500000</work_buf_additional_days>
   <max_ncpus_pct>100.000000</max_ncpus_pct>
   <cpu_scheduling_period_minutes>60.000000</cpu_scheduling_period_minutes>
   <disk_max_used_gb>0.000000</disk_max_used_gb>
   <disk_max_used_pct>90.000000</disk_max_used_pct>
   <disk_min_free_gb>0.100000</disk_min_free_gb>
   <ram_max_used_busy_pct>50.000000</ram_max_used_busy_pct>
   <ram_max_used_idle_pct>90.000000</ram_max_used_idle_pct>
   <cpu_usage_limit>100.000000</cpu_usage_limit>
</global_preferences>
"""


class Project:
    def __init__(self, index, rng):
        word = PROJECT_WORDS[index % len(PROJECT_WORDS)]
        suffix = PROJECT_SUFFIXES[index % len(PROJECT_SUFFIXES)]
        self.name = word + suffix if index < len(PROJECT_WORDS) else "%s%s %d" % (word, suffix, index)
        self.slug = word.lower() + str(index)
        self.url = "http://127.0.0.1:9/%s/" % self.slug
        self.suspended = rng.random() < 0.08
        self.nomorework = rng.random() < 0.15
        kinds = rng.sample(APP_KINDS, rng.randint(1, 4))
        self.apps = []
        for short, plan, friendly in kinds:
            self.apps.append({
                "name": "%s_%s" % (self.slug, short),
                "friendly": "%s %s" % (self.name, friendly),
                "plan": plan,
                "version": rng.choice([100, 102, 108, 715, 812]),
            })
        self.credit = rng.uniform(1e4, 5e7)
        self.tasks = []

    def xml(self, now):
        flags = ""
        if self.suspended:
            flags += "    <suspended_via_gui/>\n"
        if self.nomorework:
            flags += "    <dont_request_more_work/>\n"
        return """<project>
    <master_url>{url}</master_url>
    <project_name>{name}</project_name>
    <symstore></symstore>
    <user_name>cruncher</user_name>
    <team_name>Team Headless</team_name>
    <host_venue></host_venue>
    <email_hash>0a1b2c3d4e5f60718293a4b5c6d7e8f9</email_hash>
    <cross_project_id>f0e1d2c3b4a5968778695a4b3c2d1e0f</cross_project_id>
    <external_cpid>1a2b3c4d5e6f708192a3b4c5d6e7f809</external_cpid>
    <cpid_time>1500000000.000000</cpid_time>
    <user_total_credit>{credit:.6f}</user_total_credit>
    <user_expavg_credit>{avg:.6f}</user_expavg_credit>
    <user_create_time>1400000000.000000</user_create_time>
    <rpc_seqno>1234</rpc_seqno>
    <userid>123456</userid>
    <teamid>4321</teamid>
    <hostid>987654</hostid>
    <host_total_credit>{hcredit:.6f}</host_total_credit>
    <host_expavg_credit>{havg:.6f}</host_expavg_credit>
    <host_create_time>1600000000.000000</host_create_time>
    <nrpc_failures>0</nrpc_failures>
    <master_fetch_failures>0</master_fetch_failures>
    <min_rpc_time>{now:.6f}</min_rpc_time>
    <next_rpc_time>{next:.6f}</next_rpc_time>
    <rec>1234.567890</rec>
    <rec_time>{now:.6f}</rec_time>
    <resource_share>100.000000</resource_share>
    <disk_usage>{disk:.6f}</disk_usage>
    <disk_share>10000000000.000000</disk_share>
    <desired_disk_usage>0.000000</desired_disk_usage>
    <duration_correction_factor>1.000000</duration_correction_factor>
    <sched_rpc_pending>0</sched_rpc_pending>
    <send_time_stats_log>0</send_time_stats_log>
    <send_job_log>0</send_job_log>
    <njobs_success>{ok}</njobs_success>
    <njobs_error>{err}</njobs_error>
    <elapsed_time>{elapsed:.6f}</elapsed_time>
    <last_rpc_time>{last:.6f}</last_rpc_time>
{flags}    <rsc_backoff_time>
        <name>CPU</name>
        <value>0.000000</value>
    </rsc_backoff_time>
    <rsc_backoff_interval>
        <name>CPU</name>
        <value>0.000000</value>
    </rsc_backoff_interval>
    <sched_priority>-0.208333</sched_priority>
    <project_files_downloaded_time>0.000000</project_files_downloaded_time>
    <project_dir>/var/lib/boinc-client/projects/127.0.0.1_9_{slug}</project_dir>
</project>
""".format(url=self.url, name=self.name, credit=self.credit, avg=self.credit / 900,
           hcredit=self.credit / 3, havg=self.credit / 2700, now=now, next=now + 3600,
           disk=self.credit * 37 % 5e9, ok=int(self.credit) % 9000,
           err=int(self.credit) % 17, elapsed=self.credit * 11, last=now - 1800,
           flags=flags, slug=self.slug)

    def appsxml(self):
        out = []
        for app in self.apps:
            out.append("""<app>
    <name>{name}</name>
    <user_friendly_name>{friendly}</user_friendly_name>
    <non_cpu_intensive>0</non_cpu_intensive>
</app>
<app_version>
    <app_name>{name}</app_name>
    <version_num>{version}</version_num>
    <platform>{platform}</platform>
    <avg_ncpus>1.000000</avg_ncpus>
    <flops>4512345678.000000</flops>
    <plan_class>{plan}</plan_class>
    <api_version>7.20.0</api_version>
    <file_ref>
        <file_name>{name}_{version}_{platform}</file_name>
        <main_program/>
    </file_ref>
</app_version>
""".format(platform=PLATFORM, **app))
        return "".join(out)


def workunitxml(task):
    return """<workunit>
    <name>{wu}</name>
    <app_name>{app}</app_name>
    <version_num>{version}</version_num>
    <rsc_fpops_est>{fpops:.6f}</rsc_fpops_est>
    <rsc_fpops_bound>{bound:.6f}</rsc_fpops_bound>
    <rsc_memory_bound>{mem:.6f}</rsc_memory_bound>
    <rsc_disk_bound>{disk:.6f}</rsc_disk_bound>
</workunit>
""".format(wu=task["wu"], app=task["app"], version=task["version"], fpops=task["fpops"],
           bound=task["fpops"] * 20, mem=task["mem"], disk=task["mem"] * 4)


def resultxml(task, now):
    out = ["""<result>
    <name>{name}</name>
    <wu_name>{wu}</wu_name>
    <platform>{platform}</platform>
    <version_num>{version}</version_num>
    <plan_class>{plan}</plan_class>
    <project_url>{url}</project_url>
    <final_cpu_time>{finalcpu:.6f}</final_cpu_time>
    <final_elapsed_time>{finalelapsed:.6f}</final_elapsed_time>
    <exit_status>{exit}</exit_status>
    <state>{state}</state>
    <report_deadline>{deadline:.6f}</report_deadline>
    <received_time>{received:.6f}</received_time>
    <estimated_cpu_time_remaining>{estimate:.6f}</estimated_cpu_time_remaining>
""".format(platform=PLATFORM, **task)]
    for flag in task["flags"]:
        out.append("    <%s/>\n" % flag)
    if task["completed"]:
        out.append("    <completed_time>%.6f</completed_time>\n" % task["completed"])
    if task["active"] is not None:
        done = task["done"]
        cpu = task["fpops"] / 4.5e9 * done
        out.append("""<active_task>
    <active_task_state>{ats}</active_task_state>
    <app_version_num>{version}</app_version_num>
    <slot>{slot}</slot>
    <pid>{pid}</pid>
    <scheduler_state>{sched}</scheduler_state>
    <checkpoint_cpu_time>{ckpt:.6f}</checkpoint_cpu_time>
    <fraction_done>{done:.6f}</fraction_done>
    <current_cpu_time>{cpu:.6f}</current_cpu_time>
    <elapsed_time>{elapsed:.6f}</elapsed_time>
    <swap_size>{swap:.6f}</swap_size>
    <working_set_size>{ws:.6f}</working_set_size>
    <working_set_size_smoothed>{ws:.6f}</working_set_size_smoothed>
    <page_fault_rate>0.000000</page_fault_rate>
    <bytes_sent>0.000000</bytes_sent>
    <bytes_received>0.000000</bytes_received>
   <progress_rate>{rate:.6f}</progress_rate>
</active_task>
""".format(ats=task["active"], version=task["version"], slot=task["slot"], pid=4000 + task["slot"],
           sched=2 if task["active"] == 1 else 1, ckpt=cpu * 0.97, done=done, cpu=cpu,
           elapsed=cpu * 1.02, swap=task["swap"], ws=task["swap"] * 0.8, rate=0.0001))
    out.append("</result>\n")
    return "".join(out)


def maketasks(projects, ntasks, now, rng):
    """Results spread over the projects; about a third run, the rest wait, move files,
    are done or are suspended."""
    tasks = []
    for i in range(ntasks):
        project = projects[i % len(projects)] if i < len(projects) else rng.choice(projects)
        app = rng.choice(project.apps)
        wu = "%s_%07d_%04d" % (app["name"], rng.randint(0, 9999999), i)
        fpops = rng.uniform(1e12, 3e14)
        task = {
            "name": "%s_%d" % (wu, rng.randint(0, 3)), "wu": wu, "app": app["name"],
            "version": app["version"], "plan": app["plan"], "url": project.url,
            "fpops": fpops, "mem": rng.choice([1e8, 5e8, 2e9]), "finalcpu": 0.0,
            "finalelapsed": 0.0, "exit": 0, "state": 2, "flags": [], "completed": 0.0,
            "received": now - rng.uniform(60, 14 * 86400),
            "deadline": now + rng.uniform(-86400, 21 * 86400),
            "estimate": fpops / 4.5e9, "active": None, "done": 0.0, "slot": i,
            "swap": rng.uniform(5e7, 2e9),
        }
        roll = rng.random()
        if roll < 0.34:  # running
            task["active"] = 1
            task["done"] = rng.random()
            task["estimate"] *= 1 - task["done"]
        elif roll < 0.40:  # preempted, still in memory or on disk
            task["active"] = rng.choice([0, 9])
            task["done"] = rng.random()
            task["estimate"] *= 1 - task["done"]
        elif roll < 0.45:
            task["state"] = 1  # downloading
        elif roll < 0.48:
            task["state"] = 4  # uploading
            task["estimate"] = 0.0
        elif roll < 0.58:  # finished, waiting to be reported
            task["state"] = rng.choice([5, 5, 5, 5, 3, 6])
            task["flags"] = ["ready_to_report"] + (["got_server_ack"] if rng.random() < 0.2 else [])
            task["completed"] = now - rng.uniform(60, 86400)
            task["finalcpu"] = fpops / 4.5e9
            task["finalelapsed"] = task["finalcpu"] * 1.03
            task["estimate"] = 0.0
            task["exit"] = 0 if task["state"] == 5 else 194
        elif roll < 0.60:
            task["flags"] = ["suspended_via_gui"]
        tasks.append(task)
        project.tasks.append(task)
    return tasks


def statexml(projects, now):
    out = ["<client_state>\n", header(now)]
    for project in projects:
        out.append(project.xml(now))
        out.append(project.appsxml())
        for task in project.tasks:
            out.append(workunitxml(task))
        for task in project.tasks:
            out.append(resultxml(task, now))
    out.append(footer())
    out.append("</client_state>\n")
    return "".join(out)


def statisticsxml(projects, days, now, rng):
    today = int(now) // 86400 * 86400
    out = ["<statistics>\n"]
    for project in projects:
        out.append("<project_statistics>\n    <master_url>%s</master_url>\n" % project.url)
        user = project.credit * 0.5
        host = user / 3
        useravg = project.credit / 900
        for d in range(days - 1, -1, -1):
            gain = rng.uniform(0, useravg * 2)
            user += gain
            host += gain / 3
            useravg = useravg * 0.95 + gain * 0.05
            out.append("""    <daily_statistics>
        <day>{day:.6f}</day>
        <user_total_credit>{user:.6f}</user_total_credit>
        <user_expavg_credit>{useravg:.6f}</user_expavg_credit>
        <host_total_credit>{host:.6f}</host_total_credit>
        <host_expavg_credit>{hostavg:.6f}</host_expavg_credit>
    </daily_statistics>
""".format(day=float(today - d * 86400), user=user, useravg=useravg, host=host,
           hostavg=useravg / 3))
        out.append("</project_statistics>\n")
    out.append("</statistics>\n")
    return "".join(out)


def diskusagexml(projects):
    out = ["<disk_usage_summary>\n"]
    total = 0.0
    for project in projects:
        usage = project.credit * 37 % 5e9
        total += usage
        out.append("<project>\n  <master_url>%s</master_url>\n  <disk_usage>%.6f</disk_usage>\n"
                   "</project>\n" % (project.url, usage))
    out.append("<d_total>1970553174016.000000</d_total>\n<d_free>885202612224.000000</d_free>\n"
               "<d_boinc>%.6f</d_boinc>\n<d_allowed>1773497856614.400000</d_allowed>\n"
               "</disk_usage_summary>\n" % (total / 10))
    return "".join(out)


def messagesxml(projects, count, now, rng):
    """The client's log: a few messages a minute over the last days, two in five from
    no project, bodies as CDATA sections the way the client sends them."""
    out = ["<msgs>\n"]
    t = int(now) - count * 20
    for seqno in range(1, count + 1):
        t += rng.choice([0, 0, 0, 1, 5, 30, 60, 61])
        project = "" if rng.random() < 0.4 else rng.choice(projects).name
        task = "%s_%07d_%04d_0" % (rng.choice(PROJECT_WORDS).lower(), rng.randint(0, 9999999),
                                   rng.randint(0, 9999))
        body = rng.choice(MESSAGE_TEXTS).format(task=task, file=task[:-2] + ".zip",
                                                n=rng.randint(1, 40))
        out.append("<msg>\n <project>%s</project>\n <pri>%d</pri>\n <seqno>%d</seqno>\n"
                   " <body><![CDATA[\n%s\n]]></body>\n <time>%d</time>\n</msg>\n"
                   % (project, 1 if rng.random() < 0.95 else 2, seqno, body, t))
    out.append("</msgs>\n")
    return "".join(out)


CC_STATUS = """<cc_status>
   <network_status>0</network_status>
   <ams_password_error>0</ams_password_error>
   <task_suspend_reason>0</task_suspend_reason>
   <task_mode>2</task_mode>
   <task_mode_perm>2</task_mode_perm>
   <task_mode_delay>0.000000</task_mode_delay>
   <gpu_suspend_reason>0</gpu_suspend_reason>
   <gpu_mode>2</gpu_mode>
   <gpu_mode_perm>2</gpu_mode_perm>
   <gpu_mode_delay>0.000000</gpu_mode_delay>
   <network_suspend_reason>0</network_suspend_reason>
   <network_mode>2</network_mode>
   <network_mode_perm>2</network_mode_perm>
   <network_mode_delay>0.000000</network_mode_delay>
   <disallow_attach>0</disallow_attach>
   <simple_gui_only>0</simple_gui_only>
   <max_event_log_lines>2000</max_event_log_lines>
</cc_status>
"""

ACCT_MGR_INFO = """<acct_mgr_info>
   <acct_mgr_url></acct_mgr_url>
   <acct_mgr_name></acct_mgr_name>
</acct_mgr_info>
"""


def write(folder, name, text):
    # Latin-1 keeps every byte as written; the texts are ASCII anyway.
    with open(os.path.join(folder, name), "w", encoding="latin-1", newline="\n") as f:
        f.write(text)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("folder", help="reply folder to write (created when missing)")
    ap.add_argument("--tasks", type=int, default=1000, help="results in get_state (1000)")
    ap.add_argument("--projects", type=int, default=50, help="attached projects (50)")
    ap.add_argument("--days", type=int, default=365, help="days of statistics per project (365)")
    ap.add_argument("--messages", type=int, default=0,
                    help="messages in get_messages.xml (0: write no message files)")
    ap.add_argument("--seed", type=int, default=1, help="random seed (1)")
    ap.add_argument("--now", type=float, default=None,
                    help="the client's clock, seconds since the epoch (default: now)")
    args = ap.parse_args(argv)
    if args.tasks < 0 or args.projects < 1 or args.days < 0 or args.messages < 0:
        ap.error("counts must not be negative, and there must be a project")

    now = args.now if args.now is not None else float(int(time.time()))
    rng = random.Random(args.seed)
    projects = [Project(i, rng) for i in range(args.projects)]
    maketasks(projects, args.tasks, now, rng)

    os.makedirs(args.folder, exist_ok=True)
    write(args.folder, "get_state.xml", statexml(projects, now))
    write(args.folder, "get_statistics.xml", statisticsxml(projects, args.days, now, rng))
    write(args.folder, "get_disk_usage.xml", diskusagexml(projects))
    write(args.folder, "get_cc_status.xml", CC_STATUS)
    write(args.folder, "acct_mgr_info.xml", ACCT_MGR_INFO)
    if args.messages:
        write(args.folder, "get_messages.xml", messagesxml(projects, args.messages, now, rng))
        write(args.folder, "get_message_count.xml", "<seqno>%d</seqno>\n" % args.messages)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
