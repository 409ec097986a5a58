// TConnect: the TCP connection to the GUI RPC port of one BOINC client.
// Knows framing only (texts ended by the byte 0x03); no XML, no passwords, no threads.
#ifndef VARNIX_TCONNECT_H
#define VARNIX_TCONNECT_H

#include <netinet/in.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class TConnect {
public:
    TConnect(const std::string& host, const std::string& port);
    virtual ~TConnect();
    TConnect(const TConnect&) = delete;
    TConnect& operator=(const TConnect&) = delete;

    // Opens the connection; afterwards `sock` is the descriptor or -1.
    virtual void connect();
    // Closes the socket if one is open; `sock` becomes -1.
    virtual void disconnect();

    // Formats and sends one request. A text longer than kMaxRequest bytes is not sent
    // at all (the connection stays as it was). False when nothing or not all was sent.
    bool sendrequest(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    bool vsendrequest(const char* fmt, va_list args);
    // Sends a finished text under the same rules.
    bool sendtext(const std::string& text);

    // One reply without its end byte, or nothing (closed, failed, timed out, too large).
    // `silencems`: longest wait for the next bytes (replytimeoutms when negative);
    // `totalms`: longest wait for the whole reply (replytotalms when negative).
    std::optional<std::string> receivereply(int silencems = -1, int totalms = -1);

    // Makes every network wait of this connection give up within one wait slice
    // (used when the object is about to go away). clearabort() re-arms it.
    void abortio() { aborting = true; }
    void clearabort() { aborting = false; }

    std::string host;
    std::string port;
    std::atomic<int> sock{-1};

    // Largest request including its end byte; the client reads at most this much.
    static constexpr size_t kMaxRequest = 1023;
    // Waits, tunable so tests of failing peers need not take minutes.
    static std::atomic<int> connecttimeoutms; // connection set-up
    static std::atomic<int> replytimeoutms;   // silence in the middle of an exchange
    static std::atomic<int> replytotalms;     // whole reply, against peers that trickle
    static std::atomic<size_t> maxreplysize;  // larger replies are dropped
    // Name lookup used instead of the system's when set (tests of hung resolvers).
    using Resolver = bool (*)(const std::string& host, in_addr& out);
    static std::atomic<Resolver> lookuphook;
    // Granularity of every wait: how soon an abort is noticed.
    static constexpr int kWaitSliceMs = 100;

private:
    // IPv4 address of `host`, given up on after the connect time-out or an abort.
    bool resolve(in_addr& out);
    struct PendingLookup;
    // The newest name lookup started; it may still be running after its waiter gave up.
    std::shared_ptr<PendingLookup> lookupinflight;
    enum class Wait { ready, timeout, aborted, failed };
    Wait waitfor(int fd, short events, int timeoutms);

    std::atomic<bool> aborting{false};
};

#endif
