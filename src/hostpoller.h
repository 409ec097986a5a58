// HostPoller: light polls of the hosts that are not current, for the view of all hosts at
// once. A bounded pool of threads polls each host about every 30 s, each poll on a
// connection of its own (never a host's own `Srv`, whose update thread and commands go on
// undisturbed), and keeps per-host figures that the window copies on its tick.
// Also the figures themselves, worked out from replies as plain functions.
#ifndef VARNIX_HOSTPOLLER_H
#define VARNIX_HOSTPOLLER_H

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Item;

// What the window shows of a host beside its connection state.
struct HostFigures {
    std::string version;      // the client's, "7.20.5"; empty when unknown
    int taskmode = 0;         // 1 always, 2 by preferences, 3 never; 0 unknown
    int taskmodeperm = 0;     // the mode that comes back when the delay is over
    double taskmodedelay = 0; // seconds the temporary mode still lasts; 0 for none
    bool hastasks = false;    // the task figures below are known
    int running = 0;          // tasks executing
    int total = 0;
    int errors = 0;           // computation error, upload failed, aborted
    bool hasdeadline = false; // some task still to be finished has a deadline
    double deadline = 0;      // the nearest such deadline (seconds since the epoch)
    bool atrisk = false;      // some task is unlikely to make its deadline
    bool hascredit = false;
    double credit = 0;        // recent average credit of the host, summed over projects
};

// A task is unlikely to make its deadline when the deadline comes before now plus its
// estimated time remaining. Numbers that are not finite never put a task at risk.
bool deadlineatrisk(double deadline, double remaining, double now);
// The task figures of the "result" children of `parent` (a state's "client_state" or a
// get_results reply's "results"); a null parent leaves them unknown.
void readtasks(const Item* parent, double now, HostFigures& f);
// host_expavg_credit summed over the "project" children of `parent`.
void readcredit(const Item* parent, HostFigures& f);
// The run mode of a "cc_status" element.
void readccstatus(const Item* ccstatus, HostFigures& f);
// "major.minor.release" of an exchange_versions reply ("server_version") or of a state
// (the core_client_*_version elements of "client_state"); empty when it has none.
std::string readversion(const Item* tree);
// A host's figures from its own newest state and client status trees (either may be null).
HostFigures figuresfromsnapshots(const Item* statetree, const Item* cctree, double now);

enum class HostState { connecting, online, offline, unauthorized, noanswer };

// A host to poll, by a copy of what its `Srv` was made from: the poller never holds a host.
struct PollTarget {
    unsigned long long serial = 0; // Srv::serial of the host this one mirrors
    std::string host;
    std::string port;
    std::string password;
};

struct HostStatus {
    unsigned long long serial = 0;
    HostState state = HostState::connecting; // until the first poll has ended
    bool hasfigures = false;
    HostFigures figures;     // of the last poll that got them, kept when a host goes silent
    long long lastanswer = 0; // time() when those figures came, 0 never
    int polls = 0;           // polls ended so far
};

class HostPoller {
public:
    HostPoller();
    // Stops and waits for the threads: about one wait slice of the connections.
    ~HostPoller();
    HostPoller(const HostPoller&) = delete;
    HostPoller& operator=(const HostPoller&) = delete;

    // Polls these hosts (in this order of priority at first) from now on, starting the
    // threads if needed. Hosts no longer listed are dropped, a poll of theirs in progress
    // is broken off and its result thrown away; new ones are polled first. Cheap when the
    // list is the same as before.
    void settargets(const std::vector<PollTarget>& targets);
    // Stops polling and returns at once: every connection of the poller gives up within
    // one wait slice and its threads end; they are joined later (next settargets, or the
    // destructor), never waited for here.
    void stop();
    bool active() const { return run != nullptr; }
    // The hosts' figures, in the order of the targets.
    std::vector<HostStatus> statuses() const;

    // For tests and measurements: polls in progress now, the most ever at once, and
    // the threads of the poller that have not ended (of stopped runs too).
    int inflight() const;
    int peakinflight() const;
    int livethreads() const;

    // Time between the end of a host's poll and the start of its next one.
    static std::atomic<int> intervalms;
    // Most polls (so connections) in progress at once, the size of the thread pool. A
    // host that takes a connection and never answers holds its slot for the whole reply
    // time-out, so this must exceed the silent hosts one expects, or they hold up the rest.
    static std::atomic<int> maxinflight;

private:
    struct Run;
    // Joins the threads of stopped runs that have all ended.
    void reap();

    std::unique_ptr<Run> run; // null while stopped
    std::vector<std::unique_ptr<Run>> retired; // stopped, their threads ending
    int peak = 0; // of runs already reaped
};

#endif
