#include "taskhistory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "config.h"
#include "fileio.h"
#include "item.h"
#include "statelookup.h"

std::atomic<size_t> TaskHistory::maxentries{100000};
std::atomic<int64_t> TaskHistory::maxageseconds{int64_t(30) * 86400};

namespace {

const char kHeader[] = "# varnix task history 1: completed\tcreated\texit_status\tstate\telapsed\tcpu"
                       "\tproject_url\ttask\tapplication\tproject_name\n";
constexpr size_t kFieldCount = 10;
// Longest text kept of a name: far beyond any real one, and it keeps a line short.
constexpr size_t kMaxText = 1024;
// A longer line is damage (or not ours): it is skipped, not held in memory whole.
constexpr size_t kMaxLine = 16384;

void escapeinto(std::string& out, const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

int hexdigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape(std::string_view in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'x': {
            int hi = i + 1 < in.size() ? hexdigit(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? hexdigit(in[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

template <typename T>
bool readnumber(std::string_view field, T& out)
{
    if (field.empty())
        return false;
    const char* end = field.data() + field.size();
    auto r = std::from_chars(field.data(), end, out);
    return r.ec == std::errc() && r.ptr == end;
}

bool readdouble(std::string_view field, double& out)
{
    // from_chars takes no sign of its own for '+', and no locale: the file reads the same
    // whatever the user's decimal point.
    return readnumber(field, out) && std::isfinite(out);
}

std::string numbertext(double v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0.000");
}

// Cuts a text to at most n bytes, never inside a UTF-8 character.
bool newerfirst(const HistoryEntry& a, const HistoryEntry& b)
{
    if (a.completedtime != b.completedtime)
        return a.completedtime > b.completedtime;
    if (a.createtime != b.createtime)
        return a.createtime > b.createtime;
    if (a.projecturl != b.projecturl)
        return a.projecturl < b.projecturl;
    return a.taskname < b.taskname;
}


// Creates the folder and its missing parents, each only for its owner.
int makefolders(const std::string& dir)
{
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/')
            continue;
        std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

// A time the client gave, or the fallback when it gave none.
int64_t timeor(int64_t t, int64_t fallback)
{
    return t > 0 ? t : fallback;
}

} // namespace

std::string historykey(const HistoryEntry& e)
{
    return e.projecturl + '\n' + e.taskname;
}

std::string historyline(const HistoryEntry& e)
{
    std::string line;
    line.reserve(128 + e.projecturl.size() + e.taskname.size() + e.appname.size() + e.projectname.size());
    line += std::to_string(e.completedtime);
    line += '\t';
    line += std::to_string(e.createtime);
    line += '\t';
    line += std::to_string(e.exitstatus);
    line += '\t';
    line += std::to_string(e.state);
    line += '\t';
    line += numbertext(e.elapsedtime);
    line += '\t';
    line += numbertext(e.cputime);
    for (const std::string* text : {&e.projecturl, &e.taskname, &e.appname, &e.projectname}) {
        line += '\t';
        escapeinto(line, *text);
    }
    line += '\n';
    return line;
}

bool parsehistoryline(std::string_view line, HistoryEntry& out)
{
    if (line.empty() || line[0] == '#')
        return false;
    std::string_view fields[kFieldCount];
    size_t n = 0;
    size_t start = 0;
    // Fields beyond the known ones belong to a later format: they are ignored.
    while (n < kFieldCount) {
        size_t tab = line.find('\t', start);
        fields[n++] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (n < kFieldCount)
        return false;
    HistoryEntry e;
    if (!readnumber(fields[0], e.completedtime) || !readnumber(fields[1], e.createtime) ||
        !readnumber(fields[2], e.exitstatus) || !readnumber(fields[3], e.state) ||
        !readdouble(fields[4], e.elapsedtime) || !readdouble(fields[5], e.cputime))
        return false;
    if (!unescape(fields[6], e.projecturl) || !unescape(fields[7], e.taskname) ||
        !unescape(fields[8], e.appname) || !unescape(fields[9], e.projectname))
        return false;
    if (e.projecturl.empty() || e.taskname.empty())
        return false;
    out = std::move(e);
    return true;
}

void clampentry(HistoryEntry& e)
{
    for (std::string* text : {&e.projecturl, &e.taskname, &e.appname, &e.projectname})
        text->resize(utf8cut(*text, kMaxText));
    for (double* v : {&e.elapsedtime, &e.cputime})
        if (!std::isfinite(*v) || std::fabs(*v) > 1e15)
            *v = 0;
}

std::string historydirectory()
{
    const char* state = getenv("XDG_STATE_HOME");
    // Only an absolute path counts, as the base directory rules say.
    if (state && state[0] == '/')
        return std::string(state) + "/varnix";
    std::string home = homedirectory();
    return home.empty() ? std::string() : home + "/.local/state/varnix";
}

std::string historyfilename(const std::string& host, const std::string& port)
{
    auto escape = [](const std::string& text) {
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : text) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '-') {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
        return out;
    };
    return escape(host) + "_" + escape(port) + ".history";
}

TaskHistory::TaskHistory(std::string h, std::string p)
    : host(std::move(h)), port(std::move(p)), view(std::make_shared<std::vector<HistoryEntry>>())
{
}

TaskHistory::~TaskHistory() = default;

std::shared_ptr<const std::vector<HistoryEntry>> TaskHistory::entries() const
{
    std::lock_guard<std::mutex> hold(mutex);
    return view;
}

std::string TaskHistory::error() const
{
    std::lock_guard<std::mutex> hold(mutex);
    return failure;
}

void TaskHistory::publish()
{
    auto copy = std::make_shared<const std::vector<HistoryEntry>>(all);
    std::lock_guard<std::mutex> hold(mutex);
    view = std::move(copy);
}

void TaskHistory::setfailure(const std::string& what, int err)
{
    std::lock_guard<std::mutex> hold(mutex);
    // One report: a disk that stays full must not rewrite the message every pass.
    if (!failure.empty())
        return;
    failure = "Task history not saved: " + (file.empty() ? std::string() : file + ": ") + what;
    if (err)
        failure += std::string(": ") + strerror(err);
}

bool TaskHistory::takefromfile(HistoryEntry&& e)
{
    std::string key = historykey(e);
    // Ours, which another varnix of the same host wrote first (or which we wrote in an
    // attempt that seemed to fail): it is in the file now.
    if (pendingkeys.erase(key))
        return false;
    if (!keys.insert(std::move(key)).second)
        return false;
    all.push_back(std::move(e));
    return true;
}

bool TaskHistory::readfrom(int fd, off_t offset)
{
    std::string line;
    bool skipping = false; // inside a line too long to be ours
    bool taken = false;
    off_t pos = offset;
    off_t lineend = offset; // just after the last whole line
    char buf[65536];
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, pos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                if (!skipping && line.size() < kMaxLine)
                    line += buf[i];
                else
                    skipping = true;
                continue;
            }
            HistoryEntry e;
            if (!skipping && parsehistoryline(line, e)) {
                fileoldest = std::min(fileoldest, e.completedtime);
                taken |= takefromfile(std::move(e));
            }
            line.clear();
            skipping = false;
            ++filelines;
            lineend = pos + i + 1;
        }
        pos += n;
        // A file full of new entries must not hold more than twice the bound at once.
        if (all.size() > 2 * maxentries.load() + 1024) {
            std::sort(all.begin(), all.end(), newerfirst);
            prune(INT64_MIN);
        }
    }
    // What follows the last line end is a line still being written, or one torn by a crash.
    filesize = lineend;
    if (taken)
        std::sort(all.begin(), all.end(), newerfirst);
    return taken;
}

void TaskHistory::prune(int64_t now)
{
    const size_t most = maxentries;
    const int64_t oldest = now == INT64_MIN ? INT64_MIN : now - maxageseconds.load();
    size_t keep = 0;
    while (keep < all.size() && keep < most && all[keep].completedtime >= oldest)
        ++keep;
    for (size_t i = keep; i < all.size(); ++i) {
        std::string key = historykey(all[i]);
        keys.erase(key);
        pendingkeys.erase(key);
    }
    all.resize(keep);
}

int TaskHistory::openlocked(bool create)
{
    if (file.empty()) {
        std::string dir = historydirectory();
        if (dir.empty()) {
            if (create)
                setfailure("no home folder is known", 0);
            return -1;
        }
        file = dir + "/" + historyfilename(host, port);
    }
    if (create) {
        size_t slash = file.rfind('/');
        if (int err = makefolders(file.substr(0, slash))) {
            setfailure("cannot create the folder", err);
            return -1;
        }
    }
    // A link is followed to the file it names, which a rewrite then replaces.
    std::string target = file;
    if (char* real = realpath(file.c_str(), nullptr)) {
        target = real;
        free(real);
    }
    int fd = -1;
    struct stat st {};
    for (int attempt = 0; attempt < 5; ++attempt) {
        // Non-blocking: a FIFO in its place must not hang the thread for ever.
        fd = open(target.c_str(), (create ? O_RDWR | O_APPEND | O_CREAT : O_RDONLY) | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd < 0) {
            if (create || errno != ENOENT)
                setfailure(create ? "cannot write the file" : "cannot read the file", errno);
            return -1;
        }
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            setfailure("not a regular file", 0);
            return -1;
        }
        if (!create)
            break;
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // Another varnix may have put a rewritten file in place meanwhile: lock that one.
        struct stat now {};
        if (stat(target.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
            break;
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        setfailure("the file keeps being replaced", 0);
        return -1;
    }
    fstat(fd, &st);
    if (st.st_dev != filedev || st.st_ino != fileino || st.st_size < filesize) {
        // Not the file we read before (another varnix rewrote it, or someone replaced
        // it): it is the history now, together with what we have not written yet.
        std::vector<HistoryEntry> mine;
        for (auto& e : all)
            if (pendingkeys.count(historykey(e)))
                mine.push_back(std::move(e));
        all = std::move(mine);
        keys = pendingkeys;
        filedev = st.st_dev;
        fileino = st.st_ino;
        filesize = 0;
        filelines = 0;
        fileoldest = INT64_MAX;
    }
    if (st.st_size > filesize)
        readfrom(fd, filesize);
    // A line torn by a crash is cut off, so that the next line does not join it.
    if (create && st.st_size > filesize && ftruncate(fd, filesize) != 0) {
        setfailure("cannot write the file", errno);
        close(fd);
        return -1;
    }
    return fd;
}

void TaskHistory::load(int64_t now)
{
    if (isloaded)
        return;
    isloaded = true;
    int fd = openlocked(false);
    if (fd >= 0)
        close(fd);
    prune(now);
    publish();
    maintain(now);
}

bool TaskHistory::overbounds(int64_t now) const
{
    const size_t most = maxentries;
    if (filelines > most + most / 8 + 16)
        return true;
    // Checked with a day's grace, so that the file is rewritten about once a day at most.
    return fileoldest < now - maxageseconds.load() - 86400;
}

bool TaskHistory::writepending(int fd)
{
    if (pendingkeys.empty())
        return true;
    std::string text;
    if (filesize == 0)
        text = kHeader;
    size_t lines = filesize == 0 ? 1 : 0;
    // Oldest first, as they came.
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (!pendingkeys.count(historykey(*it)))
            continue;
        text += historyline(*it);
        fileoldest = std::min(fileoldest, it->completedtime);
        ++lines;
    }
    if (!writeall(fd, text) || fdatasync(fd) != 0) {
        int err = errno;
        // No half line may stay behind to join the next one.
        (void)ftruncate(fd, filesize);
        setfailure("cannot write the file", err);
        return false;
    }
    filesize += static_cast<off_t>(text.size());
    filelines += lines;
    pendingkeys.clear();
    return true;
}

bool TaskHistory::rewrite(int fd, int64_t now)
{
    (void)fd; // held for its lock: no other varnix appends while the new file is made
    prune(now);
    std::string text = kHeader;
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        text += historyline(*it);
    std::string target = file;
    if (char* real = realpath(file.c_str(), nullptr)) {
        target = real;
        free(real);
    }
    struct stat st {};
    const int err = replacefile(target, ".history", text, [&st](int out) { (void)fstat(out, &st); });
    if (err != 0) {
        setfailure("cannot rewrite the file", err);
        return false;
    }
    // The new name must survive a crash too.
    const std::string dir = target.substr(0, target.rfind('/'));
    int dirfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        (void)fsync(dirfd);
        close(dirfd);
    }
    filedev = st.st_dev;
    fileino = st.st_ino;
    filesize = static_cast<off_t>(text.size());
    filelines = all.size() + 1;
    fileoldest = all.empty() ? INT64_MAX : all.back().completedtime;
    pendingkeys.clear();
    return true;
}

size_t TaskHistory::add(std::vector<HistoryEntry> fresh, int64_t now)
{
    const int64_t oldest = now - maxageseconds.load();
    size_t kept = 0;
    for (auto& e : fresh) {
        clampentry(e);
        if (e.projecturl.empty() || e.taskname.empty() || e.completedtime < oldest)
            continue;
        std::string key = historykey(e);
        if (keys.count(key))
            continue;
        keys.insert(key);
        pendingkeys.insert(std::move(key));
        all.push_back(std::move(e));
        ++kept;
    }
    if (kept == 0)
        return 0;
    std::sort(all.begin(), all.end(), newerfirst);
    prune(now);
    publish(); // shown at once, whatever the disk does
    maintain(now);
    return kept;
}

void TaskHistory::maintain(int64_t now)
{
    const size_t before = all.size();
    prune(now);
    if (pendingkeys.empty() && !overbounds(now)) {
        if (all.size() != before)
            publish();
        return;
    }
    int fd = openlocked(true);
    if (fd < 0)
        return;
    const bool ok = overbounds(now) ? rewrite(fd, now) : writepending(fd);
    close(fd);
    if (ok) {
        std::lock_guard<std::mutex> hold(mutex);
        failure.clear();
    }
    if (all.size() != before || ok)
        publish();
}

std::unordered_map<std::string, HistoryEntry> finishedresults(
    const Item* statetree, size_t limit, const std::unordered_map<std::string, HistoryEntry>* known)
{
    std::unordered_map<std::string, HistoryEntry> out;
    const Item* cs = statetree ? statetree->find("client_state") : nullptr;
    if (!cs)
        return out;
    // Names are looked up only for tasks not seen finished before: the index costs a pass
    // over every workunit, and the state is polled every two seconds.
    std::optional<StateIndex> index;
    for (const auto& r : cs->getchildren()) {
        if (r->getname() != "result")
            continue;
        const int state = intof(r.get(), "state");
        if (state < kComputeError && !r->child("ready_to_report"))
            continue;
        HistoryEntry e;
        e.projecturl = textof(r.get(), "project_url");
        e.taskname = textof(r.get(), "name");
        if (e.projecturl.empty() || e.taskname.empty())
            continue;
        std::string key = historykey(e);
        const HistoryEntry* before = nullptr;
        if (known) {
            auto it = known->find(key);
            before = it == known->end() ? nullptr : &it->second;
        }
        if (before) {
            e.projectname = before->projectname;
            e.appname = before->appname;
        } else {
            if (!index)
                index.emplace(cs);
            if (const std::string* name = index->projectname(e.projecturl))
                e.projectname = *name;
            if (const Item* app = index->app(textof(r.get(), "wu_name"))) {
                e.appname = textof(app, "user_friendly_name");
                if (e.appname.empty())
                    e.appname = textof(app, "name");
            }
        }
        e.exitstatus = intof(r.get(), "exit_status");
        e.state = state;
        e.elapsedtime = numberof(r.get(), "final_elapsed_time");
        e.cputime = numberof(r.get(), "final_cpu_time");
        e.completedtime = secondsfromdouble(numberof(r.get(), "completed_time"));
        clampentry(e);
        out.emplace(std::move(key), std::move(e));
        if (out.size() >= limit)
            break;
    }
    return out;
}

std::vector<HistoryEntry> oldresultentries(const Item* reply, const Item* statetree, int64_t now)
{
    std::vector<HistoryEntry> out;
    const Item* old = reply ? reply->find("old_results") : nullptr;
    if (!old)
        return out;
    const Item* cs = statetree ? statetree->find("client_state") : nullptr;
    StateIndex index(cs);
    const size_t limit = TaskHistory::maxentries;
    for (const auto& r : old->getchildren()) {
        if (r->getname() != "old_result")
            continue;
        HistoryEntry e;
        e.projecturl = textof(r.get(), "project_url");
        e.taskname = textof(r.get(), "result_name");
        e.exitstatus = intof(r.get(), "exit_status");
        e.completedtime = secondsfromdouble(numberof(r.get(), "completed_time"));
        if (e.projecturl.empty() || e.taskname.empty() || (e.exitstatus == 0 && e.completedtime <= 0))
            continue;
        e.createtime = timeor(secondsfromdouble(numberof(r.get(), "create_time")), now);
        e.completedtime = timeor(e.completedtime, e.createtime);
        e.elapsedtime = numberof(r.get(), "elapsed_time");
        e.cputime = numberof(r.get(), "cpu_time");
        if (const std::string* name = index.projectname(e.projecturl))
            e.projectname = *name;
        e.appname = textof(r.get(), "app_name");
        if (const Item* app = index.projectapp(e.projecturl, e.appname)) {
            std::string friendly = textof(app, "user_friendly_name");
            if (!friendly.empty())
                e.appname = std::move(friendly);
        }
        clampentry(e);
        out.push_back(std::move(e));
        if (out.size() >= limit)
            break;
    }
    return out;
}

std::vector<HistoryEntry> StateWatch::update(const Item* statetree, int64_t now, bool* anyleft)
{
    std::vector<HistoryEntry> left;
    if (anyleft)
        *anyleft = false;
    const Item* cs = statetree ? statetree->find("client_state") : nullptr;
    if (!cs)
        return left;
    auto current = finishedresults(statetree, TaskHistory::maxentries, &finished);
    std::vector<size_t> now_present;
    std::hash<std::string_view> hash;
    for (const auto& r : cs->getchildren()) {
        if (r->getname() != "result")
            continue;
        const Item* url = r->child("project_url");
        const Item* name = r->child("name");
        if (url && name)
            now_present.push_back(hash(url->value()) * 31 + hash(name->value()));
    }
    std::sort(now_present.begin(), now_present.end());
    if (seen && anyleft)
        *anyleft = !std::includes(now_present.begin(), now_present.end(), present.begin(), present.end());
    present = std::move(now_present);
    if (seen) {
        for (auto& [key, e] : finished) {
            if (current.count(key))
                continue;
            e.createtime = now;
            e.completedtime = timeor(e.completedtime, now);
            left.push_back(std::move(e));
        }
    }
    finished = std::move(current);
    seen = true;
    return left;
}
