// TaskHistory: the finished tasks of one host, kept on disk after the client has long
// forgotten them. One text file per host under $XDG_STATE_HOME/varnix/ (format in
// docs/history.md): lines are only ever appended, and the file is rewritten atomically
// when it outgrows its bounds. Beside it the collection: what a state snapshot and a
// get_old_results reply say about finished tasks.
#ifndef VARNIX_TASKHISTORY_H
#define VARNIX_TASKHISTORY_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <sys/types.h>

class Item;

struct HistoryEntry {
    std::string projecturl;
    std::string taskname;
    std::string projectname; // as the client named the project when the task was seen; may be empty
    std::string appname;
    int exitstatus = 0;
    int state = -1; // the client's result state when known (1 to 7), else -1
    double elapsedtime = 0;
    double cputime = 0;
    int64_t completedtime = 0; // seconds since the epoch
    int64_t createtime = 0;    // when the client reported or dropped the task
};

// What identifies an entry: no two entries of a history share it.
std::string historykey(const HistoryEntry& e);
// One line of the file, with its line end.
std::string historyline(const HistoryEntry& e);
// Reads a line without its line end; false for a comment or a damaged line.
bool parsehistoryline(std::string_view line, HistoryEntry& out);
// Cuts overlong texts and replaces numbers a file line cannot hold.
void clampentry(HistoryEntry& e);

// The folder of the history files: $XDG_STATE_HOME/varnix, else ~/.local/state/varnix;
// empty when neither is known. Read at every call.
std::string historydirectory();
// The file name of a host's history: host and port, anything unusual %-escaped.
std::string historyfilename(const std::string& host, const std::string& port);

class TaskHistory {
public:
    TaskHistory(std::string host, std::string port);
    ~TaskHistory();
    TaskHistory(const TaskHistory&) = delete;
    TaskHistory& operator=(const TaskHistory&) = delete;

    // The file and its bookkeeping are the caller's thread's: load, add and maintain are
    // called by one thread at a time (the host's update thread).

    // Reads the file on the first call; later calls do nothing.
    void load(int64_t now);
    // Keeps the entries whose key is new and that are within the age bound, and appends
    // them to the file. Returns how many were kept.
    size_t add(std::vector<HistoryEntry> entries, int64_t now);
    // Writes what an earlier write failed to write, and rewrites the file when it holds
    // entries past the bounds or too many lines.
    void maintain(int64_t now);

    // Any thread: the entries, newest first, and the write failure to report (empty
    // while the file can be written).
    std::shared_ptr<const std::vector<HistoryEntry>> entries() const;
    std::string error() const;

    // Bounds: entries beyond the newest maxentries, or completed more than maxageseconds
    // ago, are dropped (from the file at its next rewrite).
    static std::atomic<size_t> maxentries;
    static std::atomic<int64_t> maxageseconds;

private:
    // Opens (creating when asked) and locks the file, then reads what others wrote since
    // the last read. -1 on failure, with the error set.
    int openlocked(bool create);
    // Reads the file from the offset on, taking every entry not yet known.
    bool readfrom(int fd, off_t offset);
    // Takes an entry read from the file (true), or drops it as known (false).
    bool takefromfile(HistoryEntry&& e);
    bool rewrite(int fd, int64_t now);
    bool writepending(int fd);
    void setfailure(const std::string& what, int err);
    void publish();
    void prune(int64_t now);
    bool overbounds(int64_t now) const;

    std::string host, port;
    std::string file; // full path; empty until the folder is known
    bool isloaded = false;

    // Newest first; entries[i] is known by its key in keys.
    std::vector<HistoryEntry> all;
    std::unordered_set<std::string> keys;
    std::unordered_set<std::string> pendingkeys; // kept but not yet written
    // What was last read of the file: its identity, the offset after its last whole
    // line, and how many lines (good or not) it has up to there.
    dev_t filedev = 0;
    ino_t fileino = 0;
    off_t filesize = 0;
    size_t filelines = 0;
    int64_t fileoldest = INT64_MAX; // the oldest completion time in the file

    mutable std::mutex mutex; // guards the published view and the error
    std::shared_ptr<const std::vector<HistoryEntry>> view;
    std::string failure;
};

// The finished results ("state" 3 and above, or ready to report) of a state tree, as
// history entries keyed by historykey, at most `limit` of them. The project and
// application names of a task in `known` are taken from there.
std::unordered_map<std::string, HistoryEntry> finishedresults(
    const Item* statetree, size_t limit,
    const std::unordered_map<std::string, HistoryEntry>* known = nullptr);
// The entries of a get_old_results reply; project and application names come from the
// state tree when it knows them. Tasks the client dropped before they finished (exit
// status 0, no completion time) are left out.
std::vector<HistoryEntry> oldresultentries(const Item* reply, const Item* statetree, int64_t now);

// Watches the state snapshots for finished tasks that leave them: those the client
// reported or discarded, which a client without get_old_results tells nothing else about.
class StateWatch {
public:
    // The finished tasks of the previous state that this one no longer has, with what the
    // previous state showed of them. A tree without "client_state" changes nothing.
    // `anyleft` tells whether any task left, finished or not: the client has just put it
    // into its old results, which may know more than the state showed.
    std::vector<HistoryEntry> update(const Item* statetree, int64_t now, bool* anyleft = nullptr);

private:
    std::unordered_map<std::string, HistoryEntry> finished;
    std::vector<size_t> present; // hashes of every task's key, sorted
    bool seen = false;
};

#endif
