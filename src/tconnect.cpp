#include "tconnect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sigblock.h"

std::atomic<int> TConnect::connecttimeoutms{5000};
std::atomic<int> TConnect::replytimeoutms{15000};
std::atomic<int> TConnect::replytotalms{120000};
std::atomic<size_t> TConnect::maxreplysize{size_t(256) << 20};
std::atomic<TConnect::Resolver> TConnect::lookuphook{nullptr};

namespace {

using Clock = std::chrono::steady_clock;

int msleft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool lookup(const std::string& host, in_addr& out)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return false;
    out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return true;
}

} // namespace

// A name lookup that may be abandoned: a resolver that cannot reach its name server
// blocks for many seconds, and nothing can interrupt getaddrinfo itself.
struct TConnect::PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr addr = {};
};

bool TConnect::resolve(in_addr& out)
{
    if (inet_aton(host.c_str(), &out))
        return true; // a dotted address needs no lookup
    // A lookup still running from an earlier attempt is waited for again: a resolver
    // that hangs would otherwise collect one more stuck thread with every attempt.
    std::shared_ptr<PendingLookup> pending = lookupinflight;
    bool running = false;
    if (pending) {
        std::lock_guard<std::mutex> hold(pending->mutex);
        running = !pending->finished;
    }
    if (!running) {
        pending = std::make_shared<PendingLookup>();
        try {
            SignalsBlocked forthethread;
            std::thread([pending, name = host, resolver = lookuphook.load()] {
                in_addr addr{};
                bool found = resolver ? resolver(name, addr) : lookup(name, addr);
                std::lock_guard<std::mutex> hold(pending->mutex);
                pending->found = found;
                pending->addr = addr;
                pending->finished = true;
                pending->done.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            return false; // a lookup here could not be given up on
        }
        lookupinflight = pending;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(connecttimeoutms.load());
    std::unique_lock<std::mutex> hold(pending->mutex);
    while (!pending->finished && !aborting && Clock::now() < deadline)
        pending->done.wait_for(hold, std::chrono::milliseconds(kWaitSliceMs));
    if (!pending->finished || !pending->found)
        return false;
    out = pending->addr;
    return true;
}

TConnect::TConnect(const std::string& host_, const std::string& port_) : host(host_), port(port_) {}

TConnect::~TConnect()
{
    TConnect::disconnect();
}

TConnect::Wait TConnect::waitfor(int fd, short events, int timeoutms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutms);
    for (;;) {
        if (aborting)
            return Wait::aborted;
        int slice = std::min(msleft(deadline), kWaitSliceMs);
        pollfd p = {fd, events, 0};
        int r = poll(&p, 1, slice);
        if (r > 0)
            return (p.revents & (events | POLLHUP | POLLERR)) ? Wait::ready : Wait::failed;
        if (r < 0 && errno != EINTR)
            return Wait::failed;
        if (r == 0 && slice == 0)
            return Wait::timeout;
    }
}

void TConnect::connect()
{
    if (sock != -1)
        return;
    int portnum = atoi(port.c_str());
    in_addr addr;
    if (portnum <= 0 || portnum > 65535 || !resolve(addr))
        return;
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(portnum));
    sa.sin_addr = addr;

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return;
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r != 0 && errno == EINPROGRESS) {
        if (waitfor(fd, POLLOUT, connecttimeoutms) == Wait::ready) {
            int err = 0;
            socklen_t len = sizeof err;
            r = (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) ? 0 : -1;
        }
    }
    if (r != 0) {
        close(fd);
        return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sock = fd;
}

void TConnect::disconnect()
{
    int fd = sock.exchange(-1);
    if (fd >= 0)
        close(fd);
}

bool TConnect::sendrequest(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    bool ok = vsendrequest(fmt, args);
    va_end(args);
    return ok;
}

bool TConnect::vsendrequest(const char* fmt, va_list args)
{
    char buf[kMaxRequest + 1];
    int n = vsnprintf(buf, sizeof buf, fmt, args);
    // A cut request would lose its end byte and leave the client waiting for the rest.
    if (n < 0 || static_cast<size_t>(n) > kMaxRequest)
        return false;
    return sendtext(std::string(buf, static_cast<size_t>(n)));
}

bool TConnect::sendtext(const std::string& text)
{
    if (text.size() > kMaxRequest)
        return false;
    int fd = sock;
    if (fd == -1)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        // MSG_NOSIGNAL: a peer that has gone away must not end the process with SIGPIPE.
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            waitfor(fd, POLLOUT, replytimeoutms) == Wait::ready)
            continue;
        disconnect();
        return false;
    }
    return true;
}

std::optional<std::string> TConnect::receivereply(int silencems, int totalms)
{
    if (silencems < 0)
        silencems = replytimeoutms;
    if (totalms < 0)
        totalms = replytotalms;
    int fd = sock;
    if (fd == -1)
        return std::nullopt;
    std::string reply;
    std::vector<char> chunk(65536);
    const size_t limit = maxreplysize;
    auto deadline = Clock::now() + std::chrono::milliseconds(totalms);
    for (;;) {
        int wait = std::min(msleft(deadline), silencems);
        if (wait <= 0 || waitfor(fd, POLLIN, wait) != Wait::ready) {
            disconnect();
            return std::nullopt;
        }
        ssize_t n = recv(fd, chunk.data(), chunk.size(), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            disconnect();
            return std::nullopt;
        }
        const char* data = chunk.data();
        const char* end = static_cast<const char*>(memchr(data, 3, static_cast<size_t>(n)));
        size_t take = end ? static_cast<size_t>(end - data) : static_cast<size_t>(n);
        if (reply.size() + take > limit) {
            disconnect(); // the rest of the reply is still on its way: the stream is lost
            return std::nullopt;
        }
        try {
            reply.append(data, take);
        } catch (const std::bad_alloc&) {
            disconnect();
            return std::nullopt;
        }
        if (end) {
            // Bytes after the end byte belong to no request of ours: the stream is out
            // of step, so the next exchange starts on a fresh connection.
            if (take + 1 < static_cast<size_t>(n))
                disconnect();
            return reply;
        }
    }
}
