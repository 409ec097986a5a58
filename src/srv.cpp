#include "srv.h"

#include "sigblock.h"
#include "statelookup.h"

#include <gnutls/openssl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <system_error>

std::atomic<int> Srv::sleepstepus{100000};
std::atomic<int> Srv::pollwaitus{1000000};
std::atomic<int> Srv::interactivewaitms{2000};
std::atomic<int> Srv::interactivereplyms{5000};
std::atomic<bool> Srv::keephistory{false};
std::atomic<int> Srv::oldresultsintervalms{300000};
std::atomic<unsigned long long> Srv::lastserial{0};
// A client keeps about 2,000 messages; this many (some 100 MB with their lines on screen)
// is plenty, and a client that invents messages cannot use up memory.
std::atomic<size_t> Srv::maxkeptmessages{100000};
std::atomic<size_t> Srv::maxkeptmessagebytes{size_t(64) << 20};
std::atomic<size_t> Srv::maxreplyitems{2000000};

namespace {

const char kEnvelopeHead[] = "<boinc_gui_rpc_request>\n";
const char kEnvelopeTail[] = "\n</boinc_gui_rpc_request>\n\003";
const char kReplyOpen[] = "<boinc_gui_rpc_reply>";
const char kReplyClose[] = "</boinc_gui_rpc_reply>";

// Pushes a poll's reply (if any) and marks the list as freshly polled. The snapshots it
// replaces go at once, here on the update thread: left for a reader's release, a large
// client's trees would pile up between two ticks and be freed on the interface thread.
void pollinto(Srv& srv, PtrList& list, const char* req)
{
    list.pushpolled(srv.request("%s", req));
    list.release(nullptr); // purges unused older entries, changes no use count
}

// Message bodies come as CDATA sections, which the masking turns into plain text; an
// '&' in them (a URL, "A & B") would then end the parse and lose every later message.
void escapecdataamps(std::string& text)
{
    static const char cdata[] = "<body> ![CDATA[";
    static const char cdataend[] = "]] </body>";
    if (text.find('&') == std::string::npos)
        return;
    // One pass into a new text: inserting in place would be quadratic in a long log.
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    size_t pos = 0;
    for (;;) {
        size_t start = text.find(cdata, pos);
        size_t end = start == std::string::npos ? std::string::npos : text.find(cdataend, start);
        if (end == std::string::npos) {
            out.append(text, pos, std::string::npos);
            break;
        }
        out.append(text, pos, start - pos);
        for (size_t i = start; i < end; ++i) {
            out += text[i];
            if (text[i] == '&')
                out += "amp;";
        }
        pos = end;
    }
    text.swap(out);
}

// Longest text kept in a message (its body, or anything a client puts beside it): the
// message view shows far less of one, and a client that logs huge messages must not
// fill the memory with them.
constexpr size_t kMaxMessageText = 4096;

// Calls fn on a message element and everything inside it.
template <typename Fn>
void eachinmessage(Item* msg, Fn fn)
{
    std::vector<Item*> todo{msg};
    while (!todo.empty()) {
        Item* it = todo.back();
        todo.pop_back();
        fn(it);
        for (const auto& c : it->getchildren())
            todo.push_back(c.get());
    }
}

size_t messagesize(Item* msg)
{
    size_t total = 0;
    eachinmessage(msg, [&total](Item* it) { total += it->value().size(); });
    return total;
}

size_t messagebytes(const Item* msgs)
{
    size_t total = 0;
    for (const auto& m : msgs->getchildren())
        total += messagesize(m.get());
    return total;
}

// Cuts every overlong text of every message, never inside a UTF-8 character.
void cutmessages(Item* tree)
{
    Item* msgs = tree->find("msgs");
    if (!msgs)
        return;
    for (const auto& m : msgs->getchildren()) {
        eachinmessage(m.get(), [](Item* it) {
            const std::string& v = it->value();
            if (v.size() <= kMaxMessageText)
                return;
            it->setvalue(v.substr(0, utf8cut(v, kMaxMessageText)));
        });
    }
}

} // namespace

std::string md5hex(const std::string& a, const std::string& b)
{
    MD5_CTX ctx;
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5_Init(&ctx);
    MD5_Update(&ctx, a.data(), static_cast<int>(a.size()));
    MD5_Update(&ctx, b.data(), static_cast<int>(b.size()));
    MD5_Final(digest, &ctx);
    char hex[2 * MD5_DIGEST_LENGTH + 1];
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return std::string(hex, 2 * MD5_DIGEST_LENGTH);
}

Srv::Srv(const std::string& host, const std::string& port, const std::string& password_,
         const std::string& hostid_)
    : TConnect(host, port), history(host, port), serial(++lastserial), hostid(hostid_),
      password(password_)
{
}

Srv::~Srv()
{
    // Quitting must not wait out a network time-out of a stalled exchange.
    running = false;
    abortio();
    if (worker.joinable())
        worker.join();
}

bool Srv::acquire(std::mutex& m)
{
    if (onupdater()) {
        m.lock();
        return true;
    }
    // Polled rather than a timed lock, which the thread checker cannot follow.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(interactivewaitms.load());
    while (!m.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Srv::onupdater() const
{
    return std::this_thread::get_id() == updaterid.load();
}

std::unique_ptr<Item> Srv::request(const char* fmt, ...)
{
    if (sock == -1) {
        // The update thread reconnects within a pass; a command of the interface thread
        // must not freeze the screen with a connect and login of its own meanwhile.
        if (running && !onupdater())
            return nullptr;
        connect();
    }
    // Another thread may be logging in on this connection: let it finish first.
    if (!acquire(loginmutex))
        return nullptr;
    loginmutex.unlock();
    if (sock == -1)
        return nullptr;
    va_list args;
    va_start(args, fmt);
    auto tree = vrequest(fmt, args);
    va_end(args);
    if (tree) {
        answering = true;
        lastanswer = static_cast<long long>(time(nullptr));
    } else if (sock == -1)
        answering = false;
    return tree;
}

std::unique_ptr<Item> Srv::vrequest(const char* fmt, va_list args)
{
    std::string tmpl = kEnvelopeHead;
    tmpl += fmt;
    tmpl += kEnvelopeTail;

    std::optional<std::string> reply;
    {
        if (!acquire(connmutex))
            return nullptr;
        std::lock_guard<std::mutex> hold(connmutex, std::adopt_lock);
        if (!vsendrequest(tmpl.c_str(), args))
            return nullptr;
        // A key press waits only briefly for a silent or trickling client.
        if (onupdater()) {
            reply = receivereply();
        } else {
            const int wait = interactivereplyms;
            reply = receivereply(std::min(replytimeoutms.load(), wait), std::min(replytotalms.load(), wait));
        }
    }
    if (!reply)
        return nullptr;

    std::string& text = *reply;
    size_t open = text.find(kReplyOpen);
    size_t close = text.find(kReplyClose);
    if (open == std::string::npos || close == std::string::npos)
        return nullptr;
    size_t start = open + strlen(kReplyOpen);
    if (close < start)
        return nullptr;
    text.resize(close);
    start = text.find('<', start);
    text.erase(0, start == std::string::npos ? text.size() : start);
    const bool messages = strstr(fmt, "<get_messages>") != nullptr;
    const bool notices = strstr(fmt, "<get_notices>") != nullptr;
    if (messages) {
        maskbodymarkup(&text[0], text.size());
        // Every '&' grows by four bytes: a reply made of them must not grow past the
        // limit that held for the reply itself.
        if (text.size() + 4 * static_cast<size_t>(std::count(text.begin(), text.end(), '&')) > maxreplysize)
            return nullptr;
        escapecdataamps(text);
    }

    // Parsing needs no lock (every parse has its own state); holding the connection's
    // lock here would also make a command wait behind a stalled exchange of the update
    // thread for the whole reply time-out.
    std::string errortext; // a parse error still leaves the partial tree, which is used
    auto tree = parsexmlinplace(text, errortext, maxreplyitems, notices);
    if (messages)
        cutmessages(tree.get());
    return tree;
}

void Srv::connect()
{
    if (!acquire(loginmutex))
        return;
    std::lock_guard<std::mutex> one(loginmutex, std::adopt_lock);
    {
        if (!acquire(connmutex))
            return;
        std::lock_guard<std::mutex> hold(connmutex, std::adopt_lock);
        // Two threads may have found the host offline at once: the second one is done.
        if (sock != -1)
            return;
        answering = false; // a new connection has still to show that it answers
        TConnect::connect();
        reached = sock != -1;
        if (sock != -1) {
            msgcheckpending = lastmsgseqno > 0;
            noticesfull = true;
            noticesdue = true;
        }
    }
    bool refused = sock != -1 && login();
    unauthorized = refused;
}

bool Srv::login()
{
    auto hello = vrequestf("<auth1/>");
    if (!hello)
        return false;
    Item* nonce = hello->find("nonce");
    if (!nonce)
        return false;
    std::string hash = md5hex(nonce->value(), password);
    auto answer = vrequestf("<auth2>\n<nonce_hash>%s</nonce_hash>\n</auth2>", hash.c_str());
    return answer && answer->find("unauthorized") != nullptr;
}

std::unique_ptr<Item> Srv::vrequestf(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    auto tree = vrequest(fmt, args);
    va_end(args);
    return tree;
}

void Srv::startthread()
{
    if (worker.joinable()) {
        // The last thread may still be finishing a pass: never two threads per host.
        running = false;
        abortio();
        worker.join();
        clearabort();
    }
    running = true;
    try {
        SignalsBlocked forthethread;
        worker = std::thread(&Srv::updatethread, this);
    } catch (const std::system_error&) {
        running = false; // no thread: the host is simply not polled
    }
}

void Srv::jointhread()
{
    running = false;
    if (worker.joinable())
        worker.join();
}

void Srv::updatethread()
{
    updaterid = std::this_thread::get_id();
    tick = 0;
    oldresultsasked = false; // like everything else, asked at once by a restarted thread
    while (running) {
        const int t = tick;
        if (statesnapshots.empty() || t % 2 == 0)
            pollinto(*this, statesnapshots, "<get_state/>");
        if (sock != -1 && !unauthorized) {
            if (messagesnapshots.empty() || t % 2 == 0)
                updatemessages();
            if (statisticssnapshots.empty() || t % 300 == 0)
                pollinto(*this, statisticssnapshots, "<get_statistics/>");
            if (diskusagesnapshots.empty() || t % 60 == 0)
                pollinto(*this, diskusagesnapshots, "<get_disk_usage/>");
            // The flags are cleared before the request: a mode change or account manager
            // command made while the reply is on its way asks for one more fetch.
            if (forceccstatus.exchange(false) || ccstatussnapshots.empty() || t % 600 == 0) {
                pollinto(*this, ccstatussnapshots, "<get_cc_status/>");
                noteccstatus();
            }
            if (acctmgrinfosnapshots.refreshpending.exchange(false)) {
                acctmgrinfosnapshots.push(request("<acct_mgr_info/>"));
                acctmgrinfosnapshots.release(nullptr);
            }
            // About once a minute; a new connection asks at once. A client that knows
            // no notices is asked no more often than that.
            if (noticesdue.exchange(false) || t % 60 == 0)
                updatenotices();
            // Only while a window shows them: every second pass, or at the next one when asked.
            if (pollfiletransfers && (filetransfersnapshots.refreshpending || t % 2 == 0))
                pollinto(*this, filetransfersnapshots, "<get_file_transfers/>");
        }
        if (keephistory)
            updatehistory();
        for (int step = 0; step < 10; ++step) {
            usleep(static_cast<useconds_t>(sleepstepus.load()));
            if (forceccstatus || !running)
                break;
        }
        tick = t + 1;
    }
}

void Srv::updatehistory()
{
    const int64_t now = static_cast<int64_t>(time(nullptr));
    history.load(now);
    std::vector<HistoryEntry> left;
    bool anyleft = false;
    {
        Snapshot state(statesnapshots);
        if (state && state.stamp() != watchedstamp) {
            watchedstamp = state.stamp();
            left = statewatch.update(state.get(), now, &anyleft);
        }
    }
    std::vector<HistoryEntry> found;
    const auto clock = std::chrono::steady_clock::now();
    // Tasks that leave the state have just gone into the client's old results, which
    // know what the state may not have shown any more (a task finished between two polls).
    if (sock != -1 && !unauthorized &&
        (!oldresultsasked || anyleft ||
         clock - oldresultstime >= std::chrono::milliseconds(oldresultsintervalms.load()))) {
        oldresultsasked = true;
        oldresultstime = clock;
        // A client that does not know the request answers "unrecognized op": nothing.
        auto reply = request("<get_old_results/>");
        Snapshot state(statesnapshots);
        found = oldresultentries(reply.get(), state.get(), now);
        history.maintain(now);
    }
    // What the last state showed comes first: it names the application even when the
    // task's project went with it (a reset), which the old results cannot.
    std::move(found.begin(), found.end(), std::back_inserter(left));
    if (!left.empty())
        history.add(std::move(left), now);
}

void Srv::updatemessages()
{
    int n;
    {
        auto count = request("<get_message_count/>");
        Item* seqno = count ? count->find("seqno") : nullptr;
        if (!seqno)
            return;
        n = seqno->intvalue();
    }
    const int last = lastmsgseqno;
    // A client numbers its messages from 1 again after a restart: a count below ours
    // means a new log, which replaces the old one instead of being merged into it.
    bool newlog = n < last;
    if (!newlog && last > 0 && msgcheckpending) {
        // A restarted client may already have logged as many messages as the old one
        // had: after every new connection, compare our newest message with the client's.
        int same = samelastmessage(last);
        if (same < 0)
            return;
        newlog = same == 0;
        msgcheckpending = false;
    }
    if (n == last && !newlog)
        return;
    auto fresh = request("<get_messages>\n<seqno>%d</seqno>\n</get_messages>\n",
                         newlog || last < 1 ? 0 : last);
    if (!fresh)
        return;
    Item* freshmsgs = fresh->find("msgs");

    std::unique_lock<std::mutex> hold(messagesnapshots.lock());
    if (messagesnapshots.entrycountlocked() == 0) {
        if (freshmsgs) {
            msgbytes = messagebytes(freshmsgs);
            trimlog(freshmsgs);
        }
        messagesnapshots.pushlocked(std::move(fresh));
        messagesnapshots.refreshpending = false;
        if (freshmsgs)
            lastmsgseqno = n;
        return;
    }
    hold.unlock();
    Item* tree = messagesnapshots.acquire();
    hold.lock();
    if (tree && freshmsgs) {
        Item* msgs = tree->find("msgs");
        if (newlog) {
            for (Item* c : tree->children(""))
                tree->removechild(c);
            tree->merge(fresh.get());
            if (Item* replaced = tree->find("msgs")) {
                msgbytes = messagebytes(replaced);
                trimlog(replaced);
            }
            ++msgloggeneration;
        } else if (msgs) {
            // Messages logged between the count and the fetch came with this reply already:
            // they must not be merged a second time when the next fetch brings them again.
            int newest = newestseqno(msgs);
            freshmsgs->removechildrenif([newest](const Item* m) {
                const Item* seqno = m->getname() == "msg" ? m->find("seqno") : nullptr;
                return seqno && seqno->intvalue() <= newest;
            });
            const size_t before = msgs->getchildren().size();
            msgs->merge(freshmsgs);
            // Only what the merge really added is counted.
            const auto& all = msgs->getchildren();
            for (size_t i = before; i < all.size(); ++i)
                msgbytes += messagesize(all[i].get());
            trimlog(msgs);
        } else {
            // The first reply held no message list: take this one as a whole.
            tree->merge(fresh.get());
            if (Item* taken = tree->find("msgs")) {
                msgbytes = messagebytes(taken);
                trimlog(taken);
            }
        }
        lastmsgseqno = n;
    }
    // A reply without a message list leaves the count alone, so the fetch is repeated.
    hold.unlock();
    fresh.reset();
    messagesnapshots.release(tree);
}

int Srv::newestseqno(const Item* msgs)
{
    const auto& all = msgs->getchildren();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if ((*it)->getname() != "msg")
            continue;
        if (Item* seqno = (*it)->find("seqno"))
            return seqno->intvalue();
    }
    return 0;
}

void Srv::trimlog(Item* msgs)
{
    // Trimmed in batches, so the list is not moved on every poll once it is full.
    const size_t keep = maxkeptmessages;
    const size_t budget = maxkeptmessagebytes;
    const auto& all = msgs->getchildren();
    const size_t count = all.size();
    if (count <= keep + keep / 8 && msgbytes <= budget + budget / 8)
        return;
    size_t drop = count > keep ? count - keep : 0;
    size_t bytes = msgbytes;
    for (size_t i = 0; i < drop; ++i)
        bytes -= messagesize(all[i].get());
    while (drop + 1 < count && bytes > budget)
        bytes -= messagesize(all[drop++].get());
    msgs->removefirstchildren(drop);
    msgtrimmed += drop;
    msgbytes = bytes;
}

int Srv::samelastmessage(int last)
{
    auto probe = request("<get_messages>\n<seqno>%d</seqno>\n</get_messages>\n", last - 1);
    if (!probe)
        return -1;
    auto lookup = [last](const Item* tree) -> const Item* {
        Item* msgs = tree ? tree->find("msgs") : nullptr;
        if (!msgs)
            return nullptr;
        const auto& all = msgs->getchildren();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            Item* seqno = (*it)->find("seqno");
            if ((*it)->getname() == "msg" && seqno && seqno->intvalue() == last)
                return it->get();
        }
        return nullptr;
    };
    auto text = [](const Item* msg, const char* name) {
        Item* e = msg->find(name);
        return e ? e->value() : std::string();
    };
    const Item* theirs = lookup(probe.get());
    Item* tree = messagesnapshots.acquire();
    bool same;
    {
        std::lock_guard<std::mutex> hold(messagesnapshots.lock());
        const Item* ours = lookup(tree);
        same = !ours || (theirs && text(ours, "body") == text(theirs, "body") &&
                         text(ours, "time") == text(theirs, "time"));
    }
    if (tree)
        messagesnapshots.release(tree);
    return same ? 1 : 0;
}

Item* Srv::findproject(const std::string& name)
{
    Snapshot state(statesnapshots);
    return ::findproject(state.get(), name);
}

Item* Srv::findapp(const std::string& wuname)
{
    Snapshot state(statesnapshots);
    return ::findapp(state.get(), wuname);
}

Item* Srv::findallprojectsentry(const std::string& name) const
{
    Item* projects = allprojectstree ? allprojectstree->find("projects") : nullptr;
    return childbyvalue(projects, "project", "name", name);
}

Item* Srv::findaccountmanager(const std::string& name) const
{
    Item* projects = allprojectstree ? allprojectstree->find("projects") : nullptr;
    return childbyvalue(projects, "account_manager", "name", name);
}

long Srv::laststatisticsday()
{
    Snapshot stats(statisticssnapshots);
    if (!stats)
        return 0;
    long day = 0;
    Item* statistics = stats->find("statistics");
    if (!statistics)
        return 0;
    for (Item* ps : statistics->children("project_statistics")) {
        for (Item* ds : ps->children("daily_statistics")) {
            Item* d = ds->find("day");
            if (d) {
                long v = static_cast<long>(secondsfromdouble(d->doublevalue()));
                if (v > day)
                    day = v;
            }
        }
    }
    return day;
}
