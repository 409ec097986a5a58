// Srv: one BOINC host. The request/reply exchange with envelope and login, the update
// thread that fills the snapshot lists, the lookups over them and the commands.
#ifndef VARNIX_SRV_H
#define VARNIX_SRV_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "item.h"
#include "ptrlist.h"
#include "statelookup.h"
#include "taskhistory.h"
#include "tconnect.h"

// What a client said to a command, in words the interface can show.
struct SrvAnswer {
    enum Kind { ok, error, unsupported, noanswer };
    Kind kind = noanswer;
    std::string text; // empty when ok; else the client's error or what went wrong
    bool isok() const { return kind == ok; }
};
// Reads a command's reply (null when none came): "<error>unrecognized op: ...</error>"
// is a request the client does not know; any other "error", "failure" or a nonzero
// "error_num" is a refusal; everything else counts as done.
SrvAnswer answerof(const Item* reply);

// The client's three modes, as its set_*_mode requests and its status name them.
enum class ModeKind { run, gpu, network };
// A mode the client holds for a while: seconds left (0 when none), the mode now and the
// one it goes back to (1 always, 2 by preferences, 3 suspended, 0 unknown).
struct ModeDelay {
    double left = 0;
    int mode = 0;
    int perm = 0;
    // Suspended for a while: what a snooze does.
    bool snoozed() const { return left > 0 && mode == 3; }
};
// The delay of one mode in a get_cc_status reply, as the client counted it when it answered.
ModeDelay modedelay(const Item* ccstatus, ModeKind kind);

class Srv : public TConnect {
public:
    Srv(const std::string& host, const std::string& port, const std::string& password,
        const std::string& hostid);
    // Stops the update thread within about one wait slice, even in the middle of an exchange.
    ~Srv() override;

    // One exchange: the format is a printf-style request text that goes inside the
    // envelope. Null when offline, on any failure, or when the request is too long.
    std::unique_ptr<Item> request(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // Connects and logs in (unless another thread got there first).
    void connect() override;
    // True when the client refused the password.
    bool login();

    // Update thread. startthread() first waits for a thread of this host that is still
    // finishing; stopthread() only asks the thread to end after its current pass.
    void startthread();
    void stopthread() { running = false; }
    // Stops the thread and waits for the end of its current pass.
    void jointhread();
    void updatethread();
    void updatemessages();
    // One fetch of the client's notices, merged into noticesnapshots (notices.cpp).
    void updatenotices();
    // The history step of a pass: loads the history file once, records the finished
    // tasks that left the state, and asks for the client's old results at the first
    // pass and then every oldresultsintervalms.
    void updatehistory();
    // Makes the calling thread wait on this host like its update thread does (the
    // connection's own time-outs, no giving up on the locks): for a host that a thread
    // other than the update thread polls as its own, with no update thread of its own.
    void bindupdater() { updaterid = std::this_thread::get_id(); }

    // Lookups over the newest snapshots. The element returned stays valid only while the
    // caller holds that snapshot itself (PtrList::acquire around the call and the use);
    // a snapshot pushed meanwhile may be searched instead and freed by the next poll.
    // The same lookups in a state tree the caller holds (statelookup.h) are the safe
    // form for any result used after the call.
    Item* findproject(const std::string& name);
    Item* findapp(const std::string& wuname);
    // Over allprojectstree; user-interface thread only.
    Item* findallprojectsentry(const std::string& name) const;
    Item* findaccountmanager(const std::string& name) const;
    // Newest "day" of the newest statistics snapshot (seconds since the epoch), 0 if none.
    long laststatisticsday();

    // Commands, called from the user-interface thread.
    void setrunmode(const std::string& mode);
    void setnetworkmode(const std::string& mode);
    void setgpumode(const std::string& mode);
    void opresult(const std::string& projecturl, const std::string& name, const std::string& tag);
    void opproject(const std::string& projectname, const std::string& tag);
    void runbenchmarks();
    void updateallprojectslist();
    bool getprojectconfig(const std::string& url);
    bool createaccount(const std::string& url, const std::string& email, const std::string& password,
                       const std::string& username, const std::string& teamname,
                       std::string& errortext);
    bool projectattach(const std::string& url, const std::string& projectname,
                       const std::string& email, const std::string& password, std::string& errortext);
    bool accountmanager(const std::string& url, const std::string& name, const std::string& password,
                        bool useconfigfile, std::string& errortext);

    // Client controls beyond the modes and tasks; each gives the client's answer.
    SrvAnswer retrytransfer(const std::string& projecturl, const std::string& filename);
    SrvAnswer aborttransfer(const std::string& projecturl, const std::string& filename);
    SrvAnswer readccconfig();
    SrvAnswer readglobalprefsoverride();
    // Tells the client the network is back: it retries what waits for it at once.
    SrvAnswer networkavailable();
    // Ends the client itself.
    SrvAnswer quitclient();
    // Sets a mode ("always", "auto" or "never") for `seconds`, 0 for good; a snooze is
    // "never" for an hour. Asks for a fresh status, like the mode commands.
    SrvAnswer setmodefor(ModeKind kind, const std::string& mode, int seconds);
    // The newest status's delay of a mode, less the time since that status came.
    ModeDelay modedelaynow(ModeKind kind);

    PtrList messagesnapshots;
    // Client's message sequence number at the last fetch; written under messagesnapshots' lock.
    std::atomic<int> lastmsgseqno{0};
    // Raised (under messagesnapshots' lock) each time a restarted client's new log replaced
    // the old messages, so a reader knows to start over.
    std::atomic<unsigned> msgloggeneration{0};
    // Messages dropped from the front of the log so far (under messagesnapshots' lock):
    // the log keeps at most maxkeptmessages, the newest.
    std::atomic<size_t> msgtrimmed{0};
    static std::atomic<size_t> maxkeptmessages;
    // ... and at most about this many bytes of message text.
    static std::atomic<size_t> maxkeptmessagebytes;
    PtrList statesnapshots;
    PtrList ccstatussnapshots;
    PtrList diskusagesnapshots;
    PtrList statisticssnapshots;
    std::unique_ptr<Item> allprojectstree;
    PtrList acctmgrinfosnapshots;
    // One tree after the first fetch: a "notices" element with the client's notices,
    // oldest first, merged into in place like the message log.
    PtrList noticesnapshots;
    // Number of the newest notice held; written under noticesnapshots' lock.
    std::atomic<int> lastnoticeseqno{0};
    // Raised (under noticesnapshots' lock) on every change of the notice list.
    std::atomic<unsigned> noticesversion{0};
    // Notices the user has not seen in the notices window yet, and marking all held
    // ones seen. Interface thread only, like the mark they use.
    int unreadnotices();
    void marknoticesread();
    // Finished tasks of this host, kept on disk. Filled by the update thread only while
    // keephistory is set: the program sets it, tests of other things leave the disk alone.
    TaskHistory history;
    static std::atomic<bool> keephistory;
    static std::atomic<int> oldresultsintervalms;
    // The client's file transfers, polled only while pollfiletransfers is set (by the
    // window that shows them); setting refreshpending asks for them at the next pass.
    PtrList filetransfersnapshots;
    std::atomic<bool> pollfiletransfers{false};
    std::atomic<bool> forceccstatus{false};
    std::atomic<bool> unauthorized{false};
    // The client has answered a request on the current connection and its last exchange
    // did not lose the connection. A client that takes connections and then says nothing,
    // or answers nothing but the login, is of no more use than one that is down.
    std::atomic<bool> answering{false};
    bool isonline() const { return sock != -1 && answering; }
    // The last connection attempt got through, whether or not the client then answered:
    // tells a client that takes connections and says nothing from one that is down.
    std::atomic<bool> reached{false};
    // When the client last answered a request (time() seconds), 0 before its first answer.
    std::atomic<long long> lastanswer{0};
    // Unique for the life of the process, unlike the object's address.
    const unsigned long long serial;
    std::string hostid;
    std::string password;
    std::atomic<int> tick{0};
    std::atomic<bool> running{false};
    std::mutex connmutex;

    // Length of one sleep step of the update thread (ten make a pass); tests shorten it.
    static std::atomic<int> sleepstepus;
    // Wait between two polls of a command's job on the client; tests shorten it.
    static std::atomic<int> pollwaitus;
    // Most elements taken from one reply: an element costs over 100 bytes, several times
    // its text, so a flood of tiny ones is cut there instead of eating all memory.
    static std::atomic<size_t> maxreplyitems;
    // How long a request of the interface thread waits for the connection when the
    // update thread holds it: a hung client must not freeze the screen for a key press.
    static std::atomic<int> interactivewaitms;
    // Longest wait of the interface thread for a reply, whether the client is silent or
    // trickles it (the update thread waits the connection's own time-outs).
    static std::atomic<int> interactivereplyms;
    // Text given back by the account commands for input the request cannot hold.
    static const char* const kInputTooLong;
    // What a command gives for a request the client does not know.
    static const char* const kNotSupported;

private:
    // The exchange itself, without connecting (login runs inside the connect).
    std::unique_ptr<Item> vrequest(const char* fmt, va_list args);
    std::unique_ptr<Item> vrequestf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void pollwait();
    // Sends one control request and reads its answer.
    SrvAnswer control(const std::string& body);
    // A retry or abort of one file transfer; the transfers are fetched again after it.
    SrvAnswer transfercommand(const char* op, const std::string& projecturl, const std::string& filename);
    // Notes when the newest client status came, for the countdowns of its delays.
    void noteccstatus();
    // Whether the client's message `last` is still the one we hold (1), another one
    // (0: a new log), or unknown because the exchange failed (-1).
    int samelastmessage(int last);
    // Sequence number of the last message of a list, 0 when none has one.
    static int newestseqno(const Item* msgs);
    // Drops the oldest messages beyond maxkeptmessages or maxkeptmessagebytes.
    void trimlog(Item* msgs);

    std::atomic<bool> msgcheckpending{false};
    // Set by every new connection: the client may have restarted and numbers its
    // notices from 1 again, so the next fetch takes its whole list (noticesfull) at the
    // next pass rather than at the next minute (noticesdue).
    std::atomic<bool> noticesfull{true};
    std::atomic<bool> noticesdue{false};
    // Newest arrival time among the notices shown in the notices window.
    double noticesreadtime = -1e300;
    // The history step's own bookkeeping (update thread only).
    StateWatch statewatch;
    uint64_t watchedstamp = 0;
    bool oldresultsasked = false;
    std::chrono::steady_clock::time_point oldresultstime;
    size_t msgbytes = 0; // bytes of the bodies in the log; kept by the thread that merges

    // Takes the lock; a thread other than the update thread gives up after
    // interactivewaitms. False when it gave up.
    bool acquire(std::mutex& m);
    static std::atomic<unsigned long long> lastserial;
    bool onupdater() const;

    std::thread worker;
    std::atomic<std::thread::id> updaterid{}; // set by the update thread itself
    std::mutex loginmutex; // one connect-and-login at a time; taken before connmutex
    mutable std::mutex ccmutex; // guards the two below; never held with another lock
    uint64_t ccstamp = 0;       // stamp of the newest client status ...
    std::chrono::steady_clock::time_point cctime; // ... and when it came
};

// What an error number of a client's account job means, in a few words; null for a
// number without a meaning here.
const char* accounterrormeaning(int num);
// The error number as the account commands report it when the client sends no text:
// "-136 (no such account)", or the number alone.
std::string accounterrortext(int num);

// MD5 digest of the concatenated texts as 32 lower-case hex digits.
std::string md5hex(const std::string& a, const std::string& b);

#endif
