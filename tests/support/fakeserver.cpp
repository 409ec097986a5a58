#include "fakeserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "srv.h" // md5hex: the same digest the client must send

namespace {

const char kRequestOpen[] = "<boinc_gui_rpc_request>";
const char kRequestClose[] = "</boinc_gui_rpc_request>";

// Requests a real client answers with <success/> when it accepts them.
const std::set<std::string> kCommands = {
    "set_run_mode", "set_gpu_mode", "set_network_mode", "suspend_result", "resume_result",
    "abort_result", "project_update", "project_suspend", "project_resume",
    "project_nomorework", "project_allowmorework", "project_reset", "project_detach",
    "run_benchmarks", "get_project_config", "create_account", "lookup_account",
    "project_attach", "acct_mgr_rpc", "network_available", "read_global_prefs_override",
    "read_cc_config", "quit", "retry_file_transfer", "abort_file_transfer",
};

bool readfile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

std::string envelope(const std::string& content)
{
    return "<boinc_gui_rpc_reply>\n" + content + "\n</boinc_gui_rpc_reply>\n\003";
}

std::string jsonstring(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Name of the first element inside the envelope, and whether it closes itself.
void requestname(const std::string& body, std::string& name, bool& selfclosing)
{
    name.clear();
    selfclosing = false;
    size_t i = body.find('<');
    if (i == std::string::npos)
        return;
    size_t j = i + 1;
    while (j < body.size() && !strchr("/> \t\r\n", body[j]))
        ++j;
    name = body.substr(i + 1, j - i - 1);
    while (j < body.size() && strchr(" \t\r\n", body[j]))
        ++j;
    selfclosing = j < body.size() && body[j] == '/';
}

std::string xmltext(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// Every element <NAME>...</NAME> of the text, each followed by a line end (not nested
// ones: a result holds no result, a project's list entries hold no project).
std::string elementsof(const std::string& text, const std::string& name)
{
    const std::string open = "<" + name + ">";
    const std::string close = "</" + name + ">";
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t a = text.find(open, pos);
        if (a == std::string::npos)
            break;
        size_t b = text.find(close, a);
        if (b == std::string::npos)
            break;
        b += close.size();
        out.append(text, a, b - a);
        out += '\n';
        pos = b;
    }
    return out;
}

// The text of the first element NAME, empty when there is none.
std::string elementtext(const std::string& text, const std::string& name)
{
    const std::string open = "<" + name + ">";
    size_t a = text.find(open);
    if (a == std::string::npos)
        return std::string();
    a += open.size();
    size_t b = text.find("</" + name + ">", a);
    return b == std::string::npos ? std::string() : text.substr(a, b - a);
}

} // namespace

Fault faultbyname(const std::string& name, bool& ok)
{
    static const std::map<std::string, Fault> names = {
        {"none", Fault::none},           {"normal", Fault::none},
        {"stall", Fault::stall},         {"stall-mid", Fault::stallmidreply},
        {"close-mid", Fault::closemidreply}, {"chunks", Fault::tinychunks},
        {"garbage", Fault::garbage},     {"close", Fault::close},
        {"huge", Fault::huge},
    };
    auto it = names.find(name);
    ok = it != names.end();
    return ok ? it->second : Fault::none;
}

std::string fixturedir()
{
    return std::string(VARNIX_SOURCE_DIR) + "/tests/fixtures/replies";
}

std::string readfixture(const std::string& name)
{
    std::string text;
    readfile(fixturedir() + "/" + name, text);
    return text;
}

FakeServer::FakeServer(const std::string& password, int port) : password_(password)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(fd);
        return;
    }
    listenfd_ = fd;
    port_ = ntohs(sa.sin_port);
    replydir_ = fixturedir();
    acceptor_ = std::thread(&FakeServer::acceptloop, this);
}

FakeServer::~FakeServer()
{
    stop();
}

void FakeServer::stop()
{
    if (stopping_.exchange(true))
        return;
    if (acceptor_.joinable())
        acceptor_.join();
    dropconnections();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        workers.swap(workers_);
    }
    for (auto& t : workers)
        t.join();
    if (listenfd_ >= 0)
        close(listenfd_);
    listenfd_ = -1;
}

void FakeServer::acceptloop()
{
    while (!stopping_) {
        pollfd p = {listenfd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        int fd = accept4(listenfd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int id = ++connections_;
        std::lock_guard<std::mutex> hold(mutex_);
        openfds_[id] = fd;
        workers_.emplace_back(&FakeServer::serve, this, id, fd);
    }
}

bool FakeServer::readrequest(int fd, std::string& buffer, std::string& request)
{
    for (;;) {
        size_t end = buffer.find('\003');
        if (end != std::string::npos) {
            request = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            return true;
        }
        if (stopping_)
            return false;
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, 50);
        if (r == 0)
            continue;
        if (r < 0)
            return false;
        char chunk[4096];
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

void FakeServer::serve(int id, int fd)
{
    Conn c;
    c.id = id;
    c.fd = fd;
    std::string buffer, text;
    while (readrequest(fd, buffer, text)) {
        FakeRequest r;
        r.conn = id;
        size_t open = text.find(kRequestOpen);
        size_t close = text.rfind(kRequestClose);
        if (open != std::string::npos && close != std::string::npos &&
            close >= open + strlen(kRequestOpen)) {
            size_t from = open + strlen(kRequestOpen);
            r.body = text.substr(from, close - from);
            if (!r.body.empty() && r.body.front() == '\n')
                r.body.erase(0, 1);
            if (!r.body.empty() && r.body.back() == '\n')
                r.body.pop_back();
        } else {
            r.body = text;
        }
        bool selfclosing;
        requestname(r.body, r.name, selfclosing);
        record(r);

        Fault fault = takefault(r.name);
        bool closeafter = false;
        std::string reply = answer(c, r, closeafter);
        if (closeafter || !send(fd, reply, fault))
            break;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    openfds_.erase(id);
    ::close(fd);
    changed_.notify_all();
}

std::string FakeServer::answer(Conn& c, const FakeRequest& r, bool& closeafter)
{
    std::lock_guard<std::mutex> hold(mutex_);
    const std::string& name = r.name;

    // Like the real client: after a refused login the next request ends the connection.
    if (c.refused) {
        closeafter = true;
        return std::string();
    }
    auto q = queued_.find(name);
    if (q != queued_.end() && !q->second.empty()) {
        auto entry = q->second.front();
        q->second.pop_front();
        return entry.first ? entry.second : envelope(entry.second);
    }

    if (name == "auth1") {
        char nonce[64];
        int n = ++noncecounter_;
        snprintf(nonce, sizeof nonce, "%d.%06d", 1700000000 + n, (n * 7919) % 1000000);
        c.nonce = nonce;
        return envelope(std::string("<nonce>") + nonce + "</nonce>");
    }
    if (name == "auth2") {
        std::string hash;
        size_t a = r.body.find("<nonce_hash>");
        size_t b = r.body.find("</nonce_hash>");
        if (a != std::string::npos && b != std::string::npos && b > a)
            hash = r.body.substr(a + 12, b - a - 12);
        bool ok = !refuselogin_ && !c.nonce.empty() && hash == md5hex(c.nonce, password_);
        c.nonce.clear();
        c.authorized = ok;
        c.refused = !ok;
        return envelope(ok ? "<authorized/>" : "<unauthorized/>");
    }
    bool open = password_.empty() || !requireauth_ || c.authorized;
    if (!open && name != "get_state")
        return envelope("<unauthorized/>");

    auto set = replies_.find(name);
    if (set != replies_.end())
        return envelope(set->second);
    std::string file;
    if (!replydir_.empty() && !name.empty() && name.find('/') == std::string::npos &&
        name[0] != '.' && readfile(replydir_ + "/" + name + ".xml", file))
        return envelope(file);

    // A client answers these from the same state it sends with get_state: derived from
    // that reply, so one state file serves every request about tasks and projects.
    if (name == "get_results" || name == "get_project_status" || name == "exchange_versions") {
        std::string state;
        auto st = replies_.find("get_state");
        if (st != replies_.end())
            state = st->second;
        else if (!replydir_.empty())
            readfile(replydir_ + "/get_state.xml", state);
        if (name == "get_results")
            return envelope("<results>\n" + elementsof(state, "result") + "</results>");
        if (name == "get_project_status")
            return envelope("<projects>\n" + elementsof(state, "project") + "</projects>");
        std::string major = elementtext(state, "core_client_major_version");
        if (!major.empty())
            return envelope("<server_version>\n<major>" + major + "</major>\n<minor>" +
                            elementtext(state, "core_client_minor_version") +
                            "</minor>\n<release>" + elementtext(state, "core_client_release") +
                            "</release>\n</server_version>");
    }
    if (name == "get_message_count")
        return envelope("<seqno>" + std::to_string(messages_.empty() ? 0 : messages_.back().seqno) +
                        "</seqno>");
    if (name == "get_messages")
        return envelope(messagesreply(r.body));
    if (name == "get_notices")
        return envelope(noticesreply(r.body));
    if (kCommands.count(name))
        return envelope("<success/>");
    bool selfclosing;
    std::string n;
    requestname(r.body, n, selfclosing);
    return envelope("<error>unrecognized op: " + xmltext(n) + (selfclosing ? "/" : "") +
                    "</error>");
}

std::string FakeServer::messagesreply(const std::string& body) const
{
    int from = 0;
    size_t s = body.find("<seqno>");
    if (s != std::string::npos)
        from = atoi(body.c_str() + s + 7);
    std::string out = "<msgs>\n";
    for (const Message& m : messages_) {
        if (m.seqno <= from)
            continue;
        out += "<msg>\n <project>" + xmltext(m.project) + "</project>\n <pri>1</pri>\n <seqno>" +
               std::to_string(m.seqno) + "</seqno>\n <body><![CDATA[\n" + m.body +
               "\n]]></body>\n <time>" + std::to_string(m.time) + "</time>\n</msg>\n";
    }
    return out + "</msgs>";
}

std::string FakeServer::noticesreply(const std::string& body)
{
    int from = 0;
    size_t s = body.find("<seqno>");
    if (s != std::string::npos)
        from = atoi(body.c_str() + s + 7);
    auto one = [](const Notice& n) {
        char when[64];
        snprintf(when, sizeof when, "%.6f", n.time);
        return "<notice>\n   <title>" + xmltext(n.title) + "</title>\n   <description><![CDATA[\n" +
               n.description + "\n]]></description>\n   <create_time>" + when +
               "</create_time>\n   <arrival_time>" + when +
               "</arrival_time>\n   <is_private>0</is_private>\n   <project_name>" +
               xmltext(n.project) + "</project_name>\n   <category>" + xmltext(n.category) +
               "</category>\n   <link><![CDATA[" + n.link + "]]></link>\n   <seqno>" +
               std::to_string(n.seqno) + "</seqno>\n</notice>\n";
    };
    std::string out = "<notices>\n";
    if (noticesreset_) {
        noticesreset_ = false;
        from = 0;
        out += one(Notice{-1, "", "", "", "", "", 0});
    }
    for (auto it = notices_.rbegin(); it != notices_.rend() && it->seqno > from; ++it)
        out += one(*it);
    return out + "</notices>";
}

Fault FakeServer::takefault(const std::string& name)
{
    std::lock_guard<std::mutex> hold(mutex_);
    for (const std::string& key : {name, std::string("*")}) {
        auto it = faults_.find(key);
        if (it == faults_.end() || it->second.second == 0)
            continue;
        if (it->second.second > 0)
            --it->second.second;
        return it->second.first;
    }
    return Fault::none;
}

bool FakeServer::sendbytes(int fd, const char* p, size_t n)
{
    while (n > 0) {
        if (stopping_)
            return false;
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool FakeServer::send(int fd, const std::string& bytes, Fault fault)
{
    auto sendall = [&](const char* p, size_t n) { return sendbytes(fd, p, n); };
    switch (fault) {
    case Fault::none:
        return sendall(bytes.data(), bytes.size());
    case Fault::stall:
        idle(fd);
        return false;
    case Fault::stallmidreply:
        sendall(bytes.data(), bytes.size() / 2);
        idle(fd);
        return false;
    case Fault::closemidreply:
        sendall(bytes.data(), bytes.size() / 2);
        return false;
    case Fault::close:
        return false;
    case Fault::tinychunks: {
        size_t step = chunksize_;
        for (size_t i = 0; i < bytes.size(); i += step) {
            if (!sendall(bytes.data() + i, std::min(step, bytes.size() - i)))
                return false;
            usleep(300); // let each piece leave as a segment of its own
        }
        return true;
    }
    case Fault::huge:
        return sendhuge(fd);
    case Fault::garbage: {
        std::string junk;
        unsigned x = 12345;
        for (int i = 0; i < 4096; ++i) {
            x = x * 1103515245u + 12345u;
            char ch = static_cast<char>((x >> 16) & 0xff);
            junk += ch == '\003' ? 'x' : ch;
        }
        junk += '\003';
        return sendall(junk.data(), junk.size());
    }
    }
    return false;
}

bool FakeServer::sendhuge(int fd)
{
    // A well-formed state of many small elements, produced piece by piece: the size
    // asked for may be far more than this process should hold.
    const std::string head = "<boinc_gui_rpc_reply>\n<client_state>\n";
    const std::string tail = "</client_state>\n</boinc_gui_rpc_reply>\n\003";
    const std::string unit = "<project><project_name>p</project_name></project>\n";
    const size_t total = std::max(hugesize_.load(), head.size() + tail.size());
    std::string piece;
    while (piece.size() < 65536)
        piece += unit;
    size_t body = total - head.size() - tail.size();
    auto sendall = [&](const char* p, size_t n) { return sendbytes(fd, p, n); };
    if (!sendall(head.data(), head.size()))
        return false;
    while (body > 0) {
        size_t n = std::min(body, piece.size());
        // Whole units while they fit, blanks for the odd rest: the text stays well-formed.
        std::string last;
        const char* p = piece.data();
        if (n < piece.size()) {
            last = piece.substr(0, n - n % unit.size()) + std::string(n % unit.size(), ' ');
            p = last.data();
        }
        if (!sendall(p, n))
            return false;
        body -= n;
    }
    return sendall(tail.data(), tail.size());
}

void FakeServer::idle(int fd)
{
    // Hold the connection open without answering until the peer or the server gives up.
    while (!stopping_) {
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, 50);
        if (r < 0)
            return;
        if (r > 0) {
            char chunk[4096];
            if (recv(fd, chunk, sizeof chunk, 0) <= 0)
                return;
        }
    }
}

void FakeServer::record(FakeRequest& r)
{
    std::lock_guard<std::mutex> hold(mutex_);
    r.seq = static_cast<int>(records_.size()) + 1;
    records_.push_back(r);
    if (!logfile_.empty()) {
        std::ofstream out(logfile_, std::ios::app | std::ios::binary);
        out << "{\"seq\": " << r.seq << ", \"conn\": " << r.conn << ", \"name\": "
            << jsonstring(r.name) << ", \"body\": " << jsonstring(r.body) << "}\n";
    }
    changed_.notify_all();
}

void FakeServer::setpassword(const std::string& password)
{
    std::lock_guard<std::mutex> hold(mutex_);
    password_ = password;
}

void FakeServer::setrefuselogin(bool refuse)
{
    std::lock_guard<std::mutex> hold(mutex_);
    refuselogin_ = refuse;
}

void FakeServer::setrequireauth(bool require)
{
    std::lock_guard<std::mutex> hold(mutex_);
    requireauth_ = require;
}

void FakeServer::setreplydir(const std::string& dir)
{
    std::lock_guard<std::mutex> hold(mutex_);
    replydir_ = dir;
}

void FakeServer::setreply(const std::string& name, const std::string& content)
{
    std::lock_guard<std::mutex> hold(mutex_);
    replies_[name] = content;
}

void FakeServer::clearreply(const std::string& name)
{
    std::lock_guard<std::mutex> hold(mutex_);
    replies_.erase(name);
}

void FakeServer::queuereply(const std::string& name, const std::string& content)
{
    std::lock_guard<std::mutex> hold(mutex_);
    queued_[name].emplace_back(false, content);
}

void FakeServer::queueraw(const std::string& name, const std::string& raw)
{
    std::lock_guard<std::mutex> hold(mutex_);
    queued_[name].emplace_back(true, raw);
}

void FakeServer::setfault(const std::string& name, Fault fault, int count)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (fault == Fault::none)
        faults_.erase(name);
    else
        faults_[name] = {fault, count};
}

void FakeServer::clearfaults()
{
    std::lock_guard<std::mutex> hold(mutex_);
    faults_.clear();
}

void FakeServer::addmessage(const std::string& body, const std::string& project, long time)
{
    std::lock_guard<std::mutex> hold(mutex_);
    int seqno = messages_.empty() ? 1 : messages_.back().seqno + 1;
    messages_.push_back({seqno, project, body, time ? time : 1700000000L + seqno * 60L});
}

void FakeServer::restartmessages()
{
    std::lock_guard<std::mutex> hold(mutex_);
    messages_.clear();
}

void FakeServer::addnotice(const std::string& title, const std::string& description,
                           const std::string& project, const std::string& category,
                           const std::string& link, double time)
{
    std::lock_guard<std::mutex> hold(mutex_);
    const int seqno = ++lastnotice_;
    notices_.push_back({seqno, title, description, project, category, link,
                        time > 0 ? time : 1700000000.0 + seqno * 3600.0});
}

void FakeServer::resetnotices()
{
    std::lock_guard<std::mutex> hold(mutex_);
    noticesreset_ = true;
}

void FakeServer::restartnotices()
{
    std::lock_guard<std::mutex> hold(mutex_);
    notices_.clear();
    lastnotice_ = 0;
}

int FakeServer::lastseqno() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return messages_.empty() ? 0 : messages_.back().seqno;
}

std::vector<FakeRequest> FakeServer::requests() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return records_;
}

std::vector<std::string> FakeServer::names() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> out;
    for (const auto& r : records_)
        out.push_back(r.name);
    return out;
}

size_t FakeServer::requestcount() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return records_.size();
}

size_t FakeServer::countof(const std::string& name) const
{
    std::lock_guard<std::mutex> hold(mutex_);
    size_t n = 0;
    for (const auto& r : records_)
        n += r.name == name;
    return n;
}

void FakeServer::clearrequests()
{
    std::lock_guard<std::mutex> hold(mutex_);
    records_.clear();
}

bool FakeServer::waitfor(const std::function<bool(const std::vector<FakeRequest>&)>& pred,
                         int timeoutms) const
{
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutms),
                             [&] { return pred(records_); });
}

bool FakeServer::waitforname(const std::string& name, size_t count, int timeoutms) const
{
    return waitfor(
        [&](const std::vector<FakeRequest>& rs) {
            size_t n = 0;
            for (const auto& r : rs)
                n += r.name == name;
            return n >= count;
        },
        timeoutms);
}

void FakeServer::setlogfile(const std::string& path)
{
    std::lock_guard<std::mutex> hold(mutex_);
    logfile_ = path;
}

int FakeServer::openconnections() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<int>(openfds_.size());
}

void FakeServer::dropconnections()
{
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto& kv : openfds_)
        shutdown(kv.second, SHUT_RDWR);
}
