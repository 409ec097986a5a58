#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fakeserver.h"
#include "linkwaits.h"
#include "tconnect.h"

namespace {

const char kGetState[] = "<boinc_gui_rpc_request>\n<get_state/>\n</boinc_gui_rpc_request>\n\003";

// A loopback port on which nobody listens.
int closedport()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

class TConnectTest : public ::testing::Test {
protected:
    FakeServer server{""};
    LinkWaits waits{100000, 1000000, 15000};

    std::unique_ptr<TConnect> online()
    {
        auto t = std::make_unique<TConnect>("127.0.0.1", server.portstr());
        t->connect();
        return t;
    }
};

TEST_F(TConnectTest, ConnectsToDottedAddressAndToLocalhostByName)
{
    auto t = online();
    EXPECT_NE(t->sock, -1);
    TConnect byname("localhost", server.portstr());
    byname.connect();
    EXPECT_NE(byname.sock, -1);
    byname.disconnect();
    EXPECT_EQ(byname.sock, -1);
}

TEST_F(TConnectTest, PortThatIsNotANumberStaysOffline)
{
    TConnect t("127.0.0.1", "http");
    t.connect();
    EXPECT_EQ(t.sock, -1);
    TConnect toolarge("127.0.0.1", "99999");
    toolarge.connect();
    EXPECT_EQ(toolarge.sock, -1);
}

TEST_F(TConnectTest, FailedConnectionsLeaveNoDescriptorsOpen)
{
    TConnect t("127.0.0.1", std::to_string(closedport()));
    int before = openfdcount();
    for (int i = 0; i < 100; ++i) {
        t.connect();
        EXPECT_EQ(t.sock, -1);
    }
    EXPECT_EQ(openfdcount(), before);
}

TEST_F(TConnectTest, ExchangeReturnsReplyWithoutEndByte)
{
    auto t = online();
    server.queueraw("get_state", "<boinc_gui_rpc_reply>\n<x/>\n</boinc_gui_rpc_reply>\n\003");
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    auto reply = t->receivereply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, "<boinc_gui_rpc_reply>\n<x/>\n</boinc_gui_rpc_reply>\n");
    EXPECT_NE(t->sock, -1);
    ASSERT_EQ(server.requestcount(), 1u);
    EXPECT_EQ(server.requests()[0].body, "<get_state/>");
}

TEST_F(TConnectTest, ReplyInManySmallChunksIsJoined)
{
    auto t = online();
    std::string content(600, 'a');
    server.setreply("get_state", content);
    server.setchunksize(2);
    server.setfault("get_state", Fault::tinychunks);
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    auto reply = t->receivereply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, "<boinc_gui_rpc_reply>\n" + content + "\n</boinc_gui_rpc_reply>\n");
    EXPECT_EQ(reply->find('\003'), std::string::npos);
}

TEST_F(TConnectTest, PeerClosingMidReplyYieldsNothingAndOffline)
{
    auto t = online();
    server.setfault("get_state", Fault::closemidreply);
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    EXPECT_FALSE(t->receivereply());
    EXPECT_EQ(t->sock, -1);
    EXPECT_FALSE(t->receivereply()); // offline: nothing, at once
}

TEST_F(TConnectTest, StalledPeerTimesOutAndGoesOffline)
{
    TConnect::replytimeoutms = 300;
    for (Fault f : {Fault::stall, Fault::stallmidreply}) {
        auto t = online();
        server.setfault("get_state", f, 1);
        ASSERT_TRUE(t->sendrequest("%s", kGetState));
        EXPECT_FALSE(t->receivereply());
        EXPECT_EQ(t->sock, -1);
    }
}

TEST_F(TConnectTest, TricklingPeerIsCutOffByTheWholeReplyLimit)
{
    TConnect::replytotalms = 300;
    auto t = online();
    server.setreply("get_state", std::string(20000, 'a'));
    server.setchunksize(1);
    server.setfault("get_state", Fault::tinychunks, 1);
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    EXPECT_FALSE(t->receivereply());
    EXPECT_EQ(t->sock, -1);
}

TEST_F(TConnectTest, SendToClosedPeerFailsWithoutEndingTheProcess)
{
    auto t = online();
    for (int i = 0; i < 500 && server.openconnections() == 0; ++i)
        usleep(10000);
    ASSERT_EQ(server.openconnections(), 1);
    server.dropconnections();
    for (int i = 0; i < 100 && server.openconnections() > 0; ++i)
        usleep(10000);
    // The first send may still be accepted by the kernel; later ones hit the closed
    // connection (EPIPE), which must come back as an error, not as SIGPIPE.
    bool failed = false;
    for (int i = 0; i < 50 && !failed; ++i) {
        failed = !t->sendrequest("%s", kGetState);
        if (!failed)
            failed = !t->receivereply();
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(t->sock, -1);
}

TEST_F(TConnectTest, RequestLongerThanTheLimitIsNotSent)
{
    auto t = online();
    std::string fits(TConnect::kMaxRequest - 1, 'a'); // plus the end byte: exactly the limit
    std::string toolong(TConnect::kMaxRequest, 'a');
    EXPECT_FALSE(t->sendrequest("%s\003", toolong.c_str()));
    EXPECT_NE(t->sock, -1) << "refusing a request must not close the connection";
    ASSERT_TRUE(t->sendrequest("%s\003", fits.c_str()));
    ASSERT_TRUE(t->receivereply());
    ASSERT_EQ(server.requestcount(), 1u);
    EXPECT_EQ(server.requests()[0].body.size(), fits.size());
}

TEST_F(TConnectTest, ReplyLargerThanTheCapIsDropped)
{
    TConnect::maxreplysize = 4096;
    auto t = online();
    server.setreply("get_state", std::string(100000, 'b'));
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    EXPECT_FALSE(t->receivereply());
    EXPECT_EQ(t->sock, -1);
}

TEST_F(TConnectTest, BytesAfterTheEndByteCloseTheConnection)
{
    auto t = online();
    server.queueraw("get_state", "first\003second\003");
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    auto reply = t->receivereply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, "first");
    EXPECT_EQ(t->sock, -1) << "the next reply would otherwise start with \"second\"";
}

TEST_F(TConnectTest, AbortEndsAWaitWithinAboutOneSlice)
{
    auto t = online();
    server.setfault("get_state", Fault::stall);
    ASSERT_TRUE(t->sendrequest("%s", kGetState));
    ASSERT_TRUE(server.waitforname("get_state"));
    std::thread stopper([&] {
        usleep(100000);
        t->abortio();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(t->receivereply());
    auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_LT(took, std::chrono::seconds(5)) << "the reply time-out is 15 s";
    EXPECT_EQ(t->sock, -1);
}

} // namespace

// A resolver that never answers costs one waiting lookup, not one more stuck thread
// for every connection attempt; each attempt still gives up after the connect time-out.
TEST(TConnectResolve, HungResolverIsWaitedForAgainNotJoinedByAnother)
{
    HungResolver resolver(200);
    {
        TConnect t("name.that.hangs", "31416");
        for (int i = 0; i < 4; ++i) {
            auto start = std::chrono::steady_clock::now();
            t.connect();
            EXPECT_EQ(t.sock, -1);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        }
    }
    EXPECT_EQ(HungResolver::lookups(), 1);
}
