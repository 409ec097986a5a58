#include "hostpoller.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

#include "item.h"
#include "statelookup.h"
#include "sigblock.h"
#include "srv.h"

std::atomic<int> HostPoller::intervalms{30000};
std::atomic<int> HostPoller::maxinflight{16};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExecuting = 1; // active_task_state

} // namespace

bool deadlineatrisk(double deadline, double remaining, double now)
{
    if (!std::isfinite(deadline) || !std::isfinite(remaining) || !std::isfinite(now))
        return false;
    return deadline < now + std::max(remaining, 0.0);
}

void readtasks(const Item* parent, double now, HostFigures& f)
{
    f.hastasks = parent != nullptr;
    f.running = f.total = f.errors = 0;
    f.hasdeadline = f.atrisk = false;
    f.deadline = 0;
    if (!parent)
        return;
    for (const auto& c : parent->getchildren()) {
        const Item* r = c.get();
        if (r->getname() != "result")
            continue;
        ++f.total;
        const int state = intof(r, "state");
        if (state == kComputeError || state == kAborted || state == kUploadFailed) {
            ++f.errors;
            continue;
        }
        const Item* active = r->child("active_task");
        if (active && intof(active, "active_task_state") == kExecuting)
            ++f.running;
        // Done with, or waiting only to be reported: its deadline no longer matters.
        if (state >= kFilesUploaded || r->child("ready_to_report"))
            continue;
        const double deadline = numberof(r, "report_deadline");
        if (deadline <= 0)
            continue;
        if (!f.hasdeadline || deadline < f.deadline)
            f.deadline = deadline;
        f.hasdeadline = true;
        if (deadlineatrisk(deadline, numberof(r, "estimated_cpu_time_remaining"), now))
            f.atrisk = true;
    }
}

void readcredit(const Item* parent, HostFigures& f)
{
    f.hascredit = parent != nullptr;
    f.credit = 0;
    if (!parent)
        return;
    for (const Item* p : parent->children("project"))
        f.credit += numberof(p, "host_expavg_credit");
}

void readccstatus(const Item* cc, HostFigures& f)
{
    f.taskmode = intof(cc, "task_mode");
    f.taskmodeperm = intof(cc, "task_mode_perm");
    f.taskmodedelay = std::max(numberof(cc, "task_mode_delay"), 0.0);
    if (f.taskmode < 1 || f.taskmode > 3)
        f.taskmode = 0;
}

std::string readversion(const Item* tree)
{
    if (!tree)
        return std::string();
    const Item* major = nullptr;
    const Item* minor = nullptr;
    const Item* release = nullptr;
    if (const Item* sv = tree->find("server_version")) {
        major = sv->child("major");
        minor = sv->child("minor");
        release = sv->child("release");
    } else if (const Item* cs = tree->find("client_state")) {
        major = cs->child("core_client_major_version");
        minor = cs->child("core_client_minor_version");
        release = cs->child("core_client_release");
    }
    if (!major)
        return std::string();
    char buf[64];
    snprintf(buf, sizeof buf, "%d.%d.%d", major->intvalue(), minor ? minor->intvalue() : 0,
             release ? release->intvalue() : 0);
    return buf;
}

HostFigures figuresfromsnapshots(const Item* statetree, const Item* cctree, double now)
{
    HostFigures f;
    const Item* cs = statetree ? statetree->child("client_state") : nullptr;
    readtasks(cs, now, f);
    readcredit(cs, f);
    f.version = readversion(statetree);
    const Item* cc = cctree ? cctree->child("cc_status") : nullptr;
    if (cc)
        readccstatus(cc, f);
    return f;
}

struct HostPoller::Run {
    struct Entry {
        PollTarget target;
        HostStatus status;
        Clock::time_point due{}; // the epoch: at once
        bool busy = false;
        bool removed = false;    // dropped from the targets while being polled
        bool silent = false;     // its last poll got no answer
        // The host's connection of the poller's own, closed between polls. Kept, so that
        // a name lookup that hangs is waited for again instead of started anew each time.
        std::unique_ptr<Srv> conn;
    };

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::vector<std::unique_ptr<Entry>> entries; // the targets' order, then removed ones
    std::vector<std::thread> threads;
    std::atomic<int> live{0};
    int inflight = 0;
    int peak = 0;
    int cap = 1;

    void work();
    Entry* pick(Clock::time_point now, Clock::time_point& next);
    void finish(Entry* e, const HostStatus& result);
};

namespace {

struct PollResult {
    HostState state = HostState::offline;
    bool ok = false;
    HostFigures figures;
};

// One light poll: the client status (run mode), the tasks and the projects (credit), and
// the client's version when it is not known yet. No get_state: it repeats every project
// and task with their workunits, apps and files, and costs far more to send and read.
PollResult pollonce(Srv& srv, const std::string& knownversion)
{
    PollResult r;
    auto failed = [&srv, &r] {
        r.state = srv.unauthorized ? HostState::unauthorized
                  : srv.reached    ? HostState::noanswer
                                   : HostState::offline;
        return r;
    };
    auto cc = srv.request("<get_cc_status/>");
    if (!cc)
        return failed();
    auto results = srv.request("<get_results>\n<active_only>0</active_only>\n</get_results>");
    if (!results)
        return failed();
    auto projects = srv.request("<get_project_status/>");
    if (!projects)
        return failed();
    r.figures.version = knownversion;
    if (knownversion.empty()) {
        auto versions = srv.request("<exchange_versions/>");
        if (!versions)
            return failed();
        r.figures.version = readversion(versions.get());
    }
    if (const Item* c = cc->find("cc_status"))
        readccstatus(c, r.figures);
    readtasks(results->child("results"), static_cast<double>(time(nullptr)), r.figures);
    readcredit(projects->child("projects"), r.figures);
    r.state = HostState::online;
    r.ok = true;
    return r;
}

} // namespace

HostPoller::Run::Entry* HostPoller::Run::pick(Clock::time_point now, Clock::time_point& next)
{
    // Hosts that went silent last time may hold most slots, but not the last quarter:
    // those stay for the hosts that answer, whatever the silent ones do.
    int silentbusy = 0;
    for (const auto& e : entries)
        silentbusy += e->busy && e->silent;
    const bool silentallowed = silentbusy < std::max(1, cap - cap / 4);
    Entry* best = nullptr;
    for (const auto& e : entries) {
        if (e->busy || e->removed)
            continue;
        if (e->due > now) {
            next = std::min(next, e->due);
            continue;
        }
        if (e->silent && !silentallowed)
            continue;
        // The earliest due first; new hosts (due at the epoch) in list order.
        if (!best || e->due < best->due)
            best = e.get();
    }
    return best;
}

void HostPoller::Run::work()
{
    std::unique_lock<std::mutex> hold(mutex);
    while (!stopping) {
        Clock::time_point next = Clock::now() + std::chrono::seconds(60);
        Entry* e = pick(Clock::now(), next);
        if (!e) {
            wake.wait_until(hold, next);
            continue;
        }
        e->busy = true;
        peak = std::max(peak, ++inflight);
        const std::string version = e->silent ? std::string() : e->status.figures.version;
        if (!e->conn)
            e->conn = std::make_unique<Srv>(e->target.host, e->target.port, e->target.password,
                                            std::string());
        Srv* conn = e->conn.get();
        conn->clearabort(); // under the lock: a removal or stop from now on breaks this poll
        hold.unlock();

        conn->bindupdater(); // the same waits as the update thread of a current host
        PollResult r = pollonce(*conn, version);
        conn->disconnect();

        hold.lock();
        --inflight;
        e->busy = false;
        if (e->removed) {
            entries.erase(std::find_if(entries.begin(), entries.end(),
                                       [e](const auto& p) { return p.get() == e; }));
        } else if (!stopping) {
            HostStatus& s = e->status;
            s.state = r.state;
            ++s.polls;
            e->silent = !r.ok && r.state != HostState::unauthorized;
            if (r.ok) {
                s.figures = std::move(r.figures);
                s.hasfigures = true;
                s.lastanswer = static_cast<long long>(time(nullptr));
            }
            e->due = Clock::now() + std::chrono::milliseconds(intervalms.load());
        }
    }
    hold.unlock();
    --live; // last: once it reads 0, every thread is about to return
}

HostPoller::HostPoller() = default;

HostPoller::~HostPoller()
{
    stop();
    for (auto& r : retired)
        for (auto& t : r->threads)
            if (t.joinable())
                t.join();
    retired.clear();
}

void HostPoller::settargets(const std::vector<PollTarget>& targets)
{
    reap();
    if (!run) {
        run = std::make_unique<Run>();
        run->cap = std::max(1, maxinflight.load());
    }
    Run& r = *run;
    size_t wanted;
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        // The same hosts in the same order, as on every tick: nothing to do.
        size_t listed = 0;
        bool same = true;
        for (const auto& e : r.entries) {
            if (e->removed)
                continue;
            if (listed >= targets.size() || targets[listed].serial != e->target.serial) {
                same = false;
                break;
            }
            ++listed;
        }
        if (!same || listed != targets.size()) {
            std::vector<std::unique_ptr<Run::Entry>> old;
            old.swap(r.entries);
            for (const PollTarget& t : targets) {
                auto it = std::find_if(old.begin(), old.end(), [&t](const auto& e) {
                    return e && !e->removed && e->target.serial == t.serial;
                });
                if (it != old.end()) {
                    r.entries.push_back(std::move(*it));
                } else {
                    auto e = std::make_unique<Run::Entry>();
                    e->target = t;
                    e->status.serial = t.serial;
                    r.entries.push_back(std::move(e));
                }
            }
            // Hosts that are gone: a poll in progress is broken off, and its thread
            // drops the entry when the poll has given up.
            for (auto& e : old) {
                if (!e || !e->busy)
                    continue;
                e->removed = true;
                e->conn->abortio();
                r.entries.push_back(std::move(e));
            }
            r.wake.notify_all();
        }
        wanted = std::min(targets.size(), static_cast<size_t>(r.cap));
    }
    while (r.threads.size() < wanted) {
        try {
            SignalsBlocked forthethread; // the interface thread takes the terminal's signals
            ++r.live;
            r.threads.emplace_back(&Run::work, &r);
        } catch (const std::system_error&) {
            --r.live;
            break; // fewer threads: the hosts are polled all the same, only slower
        }
    }
}

void HostPoller::stop()
{
    if (!run)
        return;
    {
        std::lock_guard<std::mutex> hold(run->mutex);
        run->stopping = true;
        for (const auto& e : run->entries)
            if (e->busy)
                e->conn->abortio();
    }
    run->wake.notify_all();
    retired.push_back(std::move(run));
    reap();
}

void HostPoller::reap()
{
    for (auto it = retired.begin(); it != retired.end();) {
        Run& r = **it;
        if (r.live > 0) {
            ++it;
            continue;
        }
        for (auto& t : r.threads)
            t.join(); // each has returned or is about to
        {
            std::lock_guard<std::mutex> hold(r.mutex);
            peak = std::max(peak, r.peak);
        }
        it = retired.erase(it);
    }
}

std::vector<HostStatus> HostPoller::statuses() const
{
    std::vector<HostStatus> out;
    if (!run)
        return out;
    std::lock_guard<std::mutex> hold(run->mutex);
    out.reserve(run->entries.size());
    for (const auto& e : run->entries)
        if (!e->removed)
            out.push_back(e->status);
    return out;
}

int HostPoller::inflight() const
{
    int n = 0;
    auto count = [&n](Run& r) {
        std::lock_guard<std::mutex> hold(r.mutex);
        n += r.inflight;
    };
    if (run)
        count(*run);
    for (const auto& r : retired)
        count(*r);
    return n;
}

int HostPoller::peakinflight() const
{
    int p = peak;
    auto count = [&p](Run& r) {
        std::lock_guard<std::mutex> hold(r.mutex);
        p = std::max(p, r.peak);
    };
    if (run)
        count(*run);
    for (const auto& r : retired)
        count(*r);
    return p;
}

int HostPoller::livethreads() const
{
    int n = run ? run->live.load() : 0;
    for (const auto& r : retired)
        n += r->live;
    return n;
}
