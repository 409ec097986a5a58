// FakeServer: a scriptable GUI RPC server on 127.0.0.1 for protocol and end-to-end tests.
// It logs clients in with the nonce exchange, answers from reply texts, records every
// request in order, keeps a message log, and can misbehave on demand.
#ifndef VARNIX_TESTS_FAKESERVER_H
#define VARNIX_TESTS_FAKESERVER_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FakeRequest {
    int seq = 0;          // 1, 2, ... over the life of the server
    int conn = 0;         // connection number, 1, 2, ...
    std::string name;     // first element inside the envelope: "get_state", "auth1"...
    std::string body;     // the text inside the envelope, as sent
};

// Ways of misbehaving when answering a request.
enum class Fault {
    none,
    stall,          // read the request, never answer
    stallmidreply,  // send the first half of the reply, then nothing more
    closemidreply,  // send the first half of the reply, then close
    tinychunks,     // deliver the reply a few bytes at a time
    garbage,        // answer with random bytes and an end byte
    close,          // close the connection without answering
    huge,           // stream a generated reply of hugesize() bytes, never held in memory
};

Fault faultbyname(const std::string& name, bool& ok);

class FakeServer {
public:
    // Listens on 127.0.0.1:port (0 picks a free port). An empty password lets every
    // request through without a login, like a client with an empty password file.
    explicit FakeServer(const std::string& password = std::string(), int port = 0);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return port_; }
    std::string portstr() const { return std::to_string(port_); }
    bool listening() const { return listenfd_ >= 0; }
    void stop();

    // Login.
    void setpassword(const std::string& password);
    void setrefuselogin(bool refuse);
    // With false, requests other than get_state need no login even with a password.
    void setrequireauth(bool require);

    // Replies. The content is what goes between the reply envelope tags. Lookup order:
    // queued one-shot replies, set replies, files NAME.xml of the reply folder (re-read
    // on every request), built-in answers (login, message log, commands; get_results,
    // get_project_status and exchange_versions made from the get_state reply), and finally
    // "<error>unrecognized op: NAME</error>".
    void setreplydir(const std::string& dir);
    void setreply(const std::string& name, const std::string& content);
    void clearreply(const std::string& name);
    void queuereply(const std::string& name, const std::string& content);
    // A one-shot reply sent byte for byte (no envelope, no end byte added).
    void queueraw(const std::string& name, const std::string& raw);

    // Misbehave on the next `count` requests named `name` ("*" for any; -1: for ever).
    void setfault(const std::string& name, Fault fault, int count = -1);
    void clearfaults();
    void setchunksize(size_t bytes) { chunksize_ = bytes ? bytes : 1; }
    // Size of the reply of the huge fault, envelope and end byte included.
    void sethugesize(size_t bytes) { hugesize_ = bytes; }
    size_t hugesize() const { return hugesize_; }

    // Message log, numbered from 1.
    void addmessage(const std::string& body, const std::string& project = std::string(),
                    long time = 0);
    // A restarted client: the log is emptied and numbering starts at 1 again.
    void restartmessages();
    int lastseqno() const;

    // Notices, numbered from 1; get_notices answers with those above the number asked
    // for, newest first, as a real client does.
    void addnotice(const std::string& title, const std::string& description,
                   const std::string& project = std::string(), const std::string& category = "client",
                   const std::string& link = std::string(), double time = 0);
    // The client's list was reset: the next get_notices answer starts with a notice
    // numbered -1 and then holds every notice.
    void resetnotices();
    // A restarted client: no notices, numbering starts at 1 again.
    void restartnotices();

    // Recorded requests.
    std::vector<FakeRequest> requests() const;
    std::vector<std::string> names() const;
    size_t requestcount() const;
    size_t countof(const std::string& name) const;
    void clearrequests();
    // Waits until the predicate holds over the records; false after the time-out.
    bool waitfor(const std::function<bool(const std::vector<FakeRequest>&)>& pred,
                 int timeoutms = 20000) const;
    bool waitforname(const std::string& name, size_t count = 1, int timeoutms = 20000) const;
    // Also appends each record to a file as one JSON object per line.
    void setlogfile(const std::string& path);

    int connectioncount() const { return connections_; }
    int openconnections() const;
    // Closes every client connection (the server keeps listening).
    void dropconnections();

private:
    struct Conn {
        int id = 0;
        int fd = -1;
        bool authorized = false;
        bool refused = false;
        std::string nonce;
    };
    struct Message {
        int seqno;
        std::string project;
        std::string body;
        long time;
    };
    struct Notice {
        int seqno;
        std::string title, description, project, category, link;
        double time;
    };

    void acceptloop();
    void serve(int id, int fd);
    bool readrequest(int fd, std::string& buffer, std::string& request);
    std::string answer(Conn& c, const FakeRequest& r, bool& closeafter);
    std::string messagesreply(const std::string& body) const;
    std::string noticesreply(const std::string& body);
    Fault takefault(const std::string& name);
    // Sends all bytes unless the peer goes away or the server stops.
    bool sendbytes(int fd, const char* p, size_t n);
    bool send(int fd, const std::string& bytes, Fault fault);
    bool sendhuge(int fd);
    void idle(int fd);
    void record(FakeRequest& r);

    int listenfd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::thread> workers_;
    std::map<int, int> openfds_; // connection id -> descriptor
    std::string password_;
    bool refuselogin_ = false;
    bool requireauth_ = true;
    std::string replydir_;
    std::map<std::string, std::string> replies_;
    std::map<std::string, std::deque<std::pair<bool, std::string>>> queued_; // (raw, text)
    std::map<std::string, std::pair<Fault, int>> faults_;
    std::atomic<size_t> chunksize_{3};
    std::atomic<size_t> hugesize_{size_t(300) << 20};
    std::vector<Message> messages_;
    std::vector<Notice> notices_;
    int lastnotice_ = 0;
    bool noticesreset_ = false;
    std::vector<FakeRequest> records_;
    std::string logfile_;
    int noncecounter_ = 0;
};

// Folder of the reply texts captured from a real client, in the source tree.
std::string fixturedir();
// The text of one fixture file (empty when missing).
std::string readfixture(const std::string& name);

#endif
