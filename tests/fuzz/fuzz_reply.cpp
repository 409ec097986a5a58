// The reply path of a host: a peer on the other end of a socket pair answers each
// request with fuzzed bytes. Whatever it sends, the exchange must end, the tree must be
// usable and the message and notice merges must stay consistent.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "notices.h"
#include "srv.h"

namespace {

// Reads one request (up to its end byte); false when the other side closed.
bool readrequest(int fd)
{
    char c;
    for (;;) {
        ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            return false;
        if (c == 3)
            return true;
    }
}

void writeall(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The peer is in this process: a reply without its end byte is known at once.
    TConnect::replytimeoutms = 100;
    TConnect::replytotalms = 5000;
    TConnect::connecttimeoutms = 200;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int scenario = data[0] % 4;
    // The rest holds the replies, separated by the byte 0xff.
    std::vector<std::string> replies(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xff)
            replies.emplace_back();
        else
            replies.back() += static_cast<char>(data[i]);
    }

    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return 0;
    Srv srv("127.0.0.1", "1", "", "");
    srv.sock = sv[0];
    std::thread peer([&] {
        for (const std::string& r : replies) {
            if (!readrequest(sv[1]))
                break;
            writeall(sv[1], r);
        }
        shutdown(sv[1], SHUT_RDWR);
    });

    switch (scenario) {
    case 0: {
        auto tree = srv.request("<get_state/>");
        if (tree)
            (void)tree->toxml();
        break;
    }
    case 1:
        srv.request("<get_messages>\n<seqno>%d</seqno>\n</get_messages>\n", 0);
        break;
    case 3:
        // A first fetch, then one merged into it.
        srv.updatenotices();
        srv.updatenotices();
        if (Item* t = srv.noticesnapshots.acquire()) {
            {
                std::lock_guard<std::mutex> hold(srv.noticesnapshots.lock());
                if (Item* held = t->child("notices"))
                    for (const auto& n : held->getchildren())
                        if (Item* d = n->child("description"))
                            (void)htmltotext(untranslated(d->value()));
            }
            srv.noticesnapshots.release(t);
        }
        break;
    default:
        srv.updatemessages();
        srv.updatemessages();
        if (Item* t = srv.messagesnapshots.acquire()) {
            {
                std::lock_guard<std::mutex> hold(srv.messagesnapshots.lock());
                if (Item* msgs = t->find("msgs"))
                    (void)msgs->children("msg").size();
            }
            srv.messagesnapshots.release(t);
        }
        break;
    }
    srv.disconnect();
    peer.join();
    close(sv[1]);
    return 0;
}
