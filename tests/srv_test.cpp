#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <set>
#include <thread>

#include "fakeserver.h"
#include "linkwaits.h"
#include "srv.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

std::vector<int> seqnos(Item* tree)
{
    std::vector<int> out;
    Item* msgs = tree ? tree->find("msgs") : nullptr;
    if (msgs)
        for (Item* m : msgs->children("msg"))
            out.push_back(m->find("seqno")->intvalue());
    return out;
}

bool eventually(const std::function<bool()>& cond, int timeoutms = 20000)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeoutms);
    while (Clock::now() < end) {
        if (cond())
            return true;
        usleep(2000);
    }
    return cond();
}

// A loopback port whose accept queue is full: connecting to it hangs.
class BlackHole {
public:
    BlackHole()
    {
        listenfd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        bind(listenfd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(listenfd, 0);
        getsockname(listenfd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
        filler = socket(AF_INET, SOCK_STREAM, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    ~BlackHole()
    {
        close(filler);
        close(listenfd);
    }
    int listenfd, filler, port;
};

class SrvTest : public ::testing::Test {
protected:
    FakeServer server{"secret"};
    LinkWaits waits{1000, 1000, 2000};

    std::unique_ptr<Srv> host(const std::string& password = "secret")
    {
        return std::make_unique<Srv>("127.0.0.1", server.portstr(), password, "Test host");
    }
};

TEST(Md5Test, DigestOfConcatenatedTexts)
{
    EXPECT_EQ(md5hex("", ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5hex("a", "bc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(SrvTest, LogsInWithTheRightPassword)
{
    auto s = host();
    auto tree = s->request("<get_cc_status/>");
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->getname(), "");
    ASSERT_EQ(tree->getchildren().size(), 1u);
    EXPECT_EQ(tree->getchildren()[0]->getname(), "cc_status");
    EXPECT_FALSE(s->unauthorized);
    EXPECT_EQ(server.names(), (std::vector<std::string>{"auth1", "auth2", "get_cc_status"}));
    std::string auth2 = server.requests()[1].body;
    EXPECT_EQ(auth2.substr(0, 20), "<auth2>\n<nonce_hash>");
    EXPECT_EQ(auth2.size(), 20 + 32 + std::string("</nonce_hash>\n</auth2>").size());
}

TEST_F(SrvTest, RefusedPasswordSetsUnauthorized)
{
    auto s = host("wrong");
    s->request("<get_state/>");
    EXPECT_TRUE(s->unauthorized);
    // A later connection that is accepted clears the flag again.
    s->disconnect();
    s->password = "secret";
    EXPECT_TRUE(s->request("<get_state/>"));
    EXPECT_FALSE(s->unauthorized);
}

TEST_F(SrvTest, OnlyAnExplicitRefusalSetsUnauthorized)
{
    auto s = host("wrong");
    server.queuereply("auth1", "<no_nonce_here/>");
    s->request("<get_state/>");
    EXPECT_FALSE(s->unauthorized);
    EXPECT_EQ(server.countof("auth2"), 0u);

    s->disconnect();
    server.setfault("auth2", Fault::close, 1);
    s->request("<get_state/>");
    EXPECT_FALSE(s->unauthorized);

    s->disconnect();
    server.queuereply("auth2", "<whatever/>");
    s->request("<get_state/>");
    EXPECT_FALSE(s->unauthorized);
}

TEST_F(SrvTest, ReplyEnvelopeIsCheckedAndContentParsed)
{
    auto s = host();
    server.queueraw("get_state", "<boinc_gui_rpc_reply>\n<a>1</a>\n\003");
    EXPECT_FALSE(s->request("<get_state/>")) << "no closing tag";
    server.queueraw("get_state", "<a>1</a>\n</boinc_gui_rpc_reply>\n\003");
    EXPECT_FALSE(s->request("<get_state/>")) << "no opening tag";
    server.queueraw("get_state", "</boinc_gui_rpc_reply><boinc_gui_rpc_reply>\003");
    EXPECT_FALSE(s->request("<get_state/>")) << "tags in the wrong order";
    server.queueraw("get_state", "noise<boinc_gui_rpc_reply>junk\n<a>1</a>"
                                 "</boinc_gui_rpc_reply>trailer\003");
    auto t = s->request("<get_state/>");
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->find("a"));
    EXPECT_EQ(t->find("a")->value(), "1");
    // A broken document gives the part that was read.
    server.queuereply("get_state", "<client_state><project><project_name>P</project_name>"
                                   "</project><oops");
    t = s->request("<get_state/>");
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->find("project_name"));
}

TEST_F(SrvTest, FloodOfElementsInAReplyIsCut)
{
    Srv::maxreplyitems = 100;
    auto s = host();
    std::string flood = "<client_state>";
    for (int i = 0; i < 1000; ++i)
        flood += "<result/>";
    server.queuereply("get_state", flood + "</client_state>");
    auto tree = s->request("<get_state/>");
    ASSERT_TRUE(tree);
    Item* cs = tree->find("client_state");
    ASSERT_TRUE(cs);
    EXPECT_EQ(cs->getchildren().size(), 99u) << "the partial tree is used";
}

TEST_F(SrvTest, ReplyOverTheSizeLimitIsDroppedAndTheHostRecovers)
{
    TConnect::maxreplysize = 1 << 20;
    auto s = host();
    server.sethugesize(3 << 20);
    server.setfault("get_state", Fault::huge, 1);
    EXPECT_FALSE(s->request("<get_state/>"));
    EXPECT_EQ(s->sock, -1) << "the rest of the flood must not be read as the next reply";
    EXPECT_TRUE(s->request("<get_state/>"));

    // Under the limit the same flood is an ordinary, well-formed state.
    server.sethugesize(512 << 10);
    server.setfault("get_state", Fault::huge, 1);
    auto tree = s->request("<get_state/>");
    ASSERT_TRUE(tree);
    Item* cs = tree->find("client_state");
    ASSERT_TRUE(cs);
    EXPECT_GT(cs->children("project").size(), 10000u);
    EXPECT_EQ(cs->children("project").back()->find("project_name")->value(), "p");
}

TEST_F(SrvTest, RequestTooLongForTheLimitIsNotSent)
{
    auto s = host();
    ASSERT_TRUE(s->request("<get_state/>"));
    size_t before = server.requestcount();
    std::string big(1000, 'x');
    EXPECT_FALSE(s->request("<a>%s</a>", big.c_str()));
    EXPECT_EQ(server.requestcount(), before);
    EXPECT_NE(s->sock, -1);
}

TEST_F(SrvTest, MessageBodiesAreMaskedBeforeParsing)
{
    auto s = host();
    server.addmessage("Visit <a href=\"x\">here</a> & <b>now</b>");
    auto t = s->request("<get_messages>\n<seqno>%d</seqno>\n</get_messages>\n", 0);
    ASSERT_TRUE(t);
    Item* body = t->find("body");
    ASSERT_TRUE(body);
    EXPECT_TRUE(body->getchildren().empty());
    EXPECT_NE(body->value().find("here"), std::string::npos);
    EXPECT_NE(body->value().find("& "), std::string::npos);
    EXPECT_NE(body->value().find("now"), std::string::npos);
    server.addmessage("https://example.org/?a=1&b=2 &amp; more");
    server.addmessage("after");
    t = s->request("<get_messages>\n<seqno>%d</seqno>\n</get_messages>\n", 0);
    ASSERT_TRUE(t);
    EXPECT_EQ(seqnos(t.get()), (std::vector<int>{1, 2, 3})) << "an ampersand cut the log";
    EXPECT_NE(t->find("msgs")->children("msg")[1]->find("body")->value().find("a=1&b=2 &amp; more"),
              std::string::npos);
    // The real capture parses into all of its messages.
    server.queuereply("get_messages", readfixture("messages_sample.xml"));
    t = s->request("<get_messages>\n<seqno>%d</seqno>\n</get_messages>\n", 0);
    ASSERT_TRUE(t);
    EXPECT_EQ(seqnos(t.get()).size(), 33u);
}

TEST_F(SrvTest, ReconnectsAndLogsInAgainAfterTheConnectionDrops)
{
    auto s = host();
    ASSERT_TRUE(s->request("<get_state/>"));
    server.dropconnections();
    ASSERT_TRUE(eventually([&] { return server.openconnections() == 0; }));
    EXPECT_FALSE(s->request("<get_state/>")); // finds the connection closed
    EXPECT_EQ(s->sock, -1);
    EXPECT_TRUE(s->request("<get_state/>"));
    EXPECT_EQ(server.countof("auth1"), 2u);
    EXPECT_EQ(server.connectioncount(), 2);
}

TEST_F(SrvTest, TwoThreadsFindingTheHostOfflineConnectOnlyOnce)
{
    for (int round = 0; round < 20; ++round) {
        auto s = host();
        int before = server.connectioncount();
        std::atomic<int> ready{0};
        auto worker = [&] {
            ++ready;
            while (ready < 2) {
            }
            EXPECT_TRUE(s->request("<get_cc_status/>"));
        };
        std::thread a(worker), b(worker);
        a.join();
        b.join();
        EXPECT_EQ(server.connectioncount() - before, 1);
        EXPECT_FALSE(s->unauthorized);
    }
}

TEST_F(SrvTest, RequestsOfTwoThreadsNeverInterleave)
{
    Srv::sleepstepus = 0;
    auto s = host();
    server.setreply("get_cc_status", "<cc_status><mine/></cc_status>");
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_state")); // commands need the thread's connection
    for (int i = 0; i < 300; ++i) {
        auto t = s->request("<get_cc_status/>");
        ASSERT_TRUE(t);
        EXPECT_TRUE(t->find("mine"));
        EXPECT_FALSE(t->find("client_state"));
    }
    s->jointhread();
    std::set<std::string> known = {"auth1", "auth2", "get_state", "get_message_count",
                                   "get_statistics", "get_disk_usage", "get_cc_status",
                                   "acct_mgr_info", "get_notices"};
    for (const auto& r : server.requests())
        EXPECT_TRUE(known.count(r.name)) << r.body;
    EXPECT_EQ(server.connectioncount(), 1);
}

TEST_F(SrvTest, FirstPassPollsEverythingInOrder)
{
    auto s = host();
    server.addmessage("one");
    server.addmessage("two");
    s->startthread();
    ASSERT_TRUE(server.waitforname("acct_mgr_info"));
    s->jointhread();
    auto names = server.names();
    names.resize(std::min<size_t>(names.size(), 9));
    EXPECT_EQ(names, (std::vector<std::string>{"auth1", "auth2", "get_state", "get_message_count",
                                               "get_messages", "get_statistics", "get_disk_usage",
                                               "get_cc_status", "acct_mgr_info"}));
    EXPECT_EQ(server.requests()[4].body, "<get_messages>\n<seqno>0</seqno>\n</get_messages>\n");
    EXPECT_EQ(s->statesnapshots.entrycount(), 1u);
    EXPECT_EQ(s->messagesnapshots.entrycount(), 1u);
    EXPECT_EQ(s->statisticssnapshots.entrycount(), 1u);
    EXPECT_EQ(s->diskusagesnapshots.entrycount(), 1u);
    EXPECT_EQ(s->ccstatussnapshots.entrycount(), 1u);
    EXPECT_EQ(s->acctmgrinfosnapshots.entrycount(), 1u);
    EXPECT_FALSE(s->acctmgrinfosnapshots.refreshpending);
    EXPECT_EQ(s->lastmsgseqno, 2);
}

TEST_F(SrvTest, EmptyMessageLogIsNotFetched)
{
    auto s = host();
    s->startthread();
    ASSERT_TRUE(server.waitforname("acct_mgr_info"));
    s->jointhread();
    EXPECT_EQ(server.countof("get_messages"), 0u);
    EXPECT_EQ(s->messagesnapshots.entrycount(), 0u);
}

TEST_F(SrvTest, PollPeriodsHoldOverALongRun)
{
    Srv::sleepstepus = 0;
    auto s = host();
    server.addmessage("only one");
    s->startthread();
    ASSERT_TRUE(eventually([&] { return s->tick >= 1250; }, 120000));
    s->jointhread();
    const int t = s->tick; // passes made: ticks 0 .. t-1
    auto every = [t](int n) { return static_cast<size_t>((t - 1) / n + 1); };
    EXPECT_EQ(server.countof("get_state"), every(2));
    EXPECT_EQ(server.countof("get_message_count"), every(2));
    EXPECT_EQ(server.countof("get_messages"), 1u) << "an unchanged count fetches nothing";
    EXPECT_EQ(server.countof("get_statistics"), every(300));
    EXPECT_EQ(server.countof("get_disk_usage"), every(60));
    EXPECT_EQ(server.countof("get_cc_status"), every(600));
    EXPECT_EQ(server.countof("acct_mgr_info"), 1u);
    EXPECT_EQ(server.countof("get_notices"), every(60));
    EXPECT_EQ(server.countof("auth1"), 1u);
}

// Nobody reads between polls (no window, or a dialog covering them): the replaced
// snapshots must not pile up, and one a reader holds must stay valid until it lets go.
TEST_F(SrvTest, ReplacedSnapshotsAreFreedByThePoll)
{
    Srv::sleepstepus = 0;
    auto s = host();
    s->startthread();
    ASSERT_TRUE(eventually([&] { return s->tick >= 2; }));
    Item* held = s->statesnapshots.acquire();
    ASSERT_NE(held, nullptr);
    const size_t before = server.countof("get_state");
    ASSERT_TRUE(eventually([&] { return server.countof("get_state") >= before + 20; }));
    s->jointhread();
    EXPECT_EQ(s->statesnapshots.entrycount(), 2u) << "the newest and the one still held";
    EXPECT_NE(held->find("client_state"), nullptr);
    s->statesnapshots.release(held);
    EXPECT_EQ(s->statesnapshots.entrycount(), 1u);
    EXPECT_EQ(s->diskusagesnapshots.entrycount(), 1u);
    EXPECT_EQ(s->ccstatussnapshots.entrycount(), 1u);
}

TEST_F(SrvTest, NewMessagesAreMergedInOrderWithoutDuplicates)
{
    auto s = host();
    for (int i = 0; i < 3; ++i)
        server.addmessage("early " + std::to_string(i));
    s->startthread();
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 3; }));
    server.addmessage("late 1", "Alpha@Home");
    server.addmessage("late 2");
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 5; }));
    s->jointhread();
    auto gets = server.requests();
    gets.erase(std::remove_if(gets.begin(), gets.end(),
                              [](const FakeRequest& r) { return r.name != "get_messages"; }),
               gets.end());
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[1].body, "<get_messages>\n<seqno>3</seqno>\n</get_messages>\n");
    EXPECT_EQ(s->messagesnapshots.entrycount(), 1u);
    Snapshot m(s->messagesnapshots);
    EXPECT_EQ(seqnos(m.get()), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(SrvTest, RestartedClientLogReplacesTheOldOne)
{
    auto s = host();
    for (int i = 1; i <= 6; ++i)
        server.addmessage("old " + std::to_string(i));
    s->startthread();
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 6; }));
    Item* before = s->messagesnapshots.acquire();
    s->messagesnapshots.release(before);
    server.restartmessages();
    server.addmessage("new 1");
    server.addmessage("new 2");
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 2; }));
    server.addmessage("new 3");
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 3; }));
    s->jointhread();
    EXPECT_EQ(s->messagesnapshots.entrycount(), 1u);
    Snapshot m(s->messagesnapshots);
    EXPECT_EQ(m.get(), before) << "the one message tree is kept and refilled";
    EXPECT_EQ(s->msgloggeneration, 1u);
    EXPECT_EQ(seqnos(m.get()), (std::vector<int>{1, 2, 3}));
    EXPECT_NE(m->find("body")->value().find("new 1"), std::string::npos);
    auto reqs = server.requests();
    int fromzero = 0;
    for (const auto& r : reqs)
        fromzero += r.body == "<get_messages>\n<seqno>0</seqno>\n</get_messages>\n";
    EXPECT_EQ(fromzero, 2);
}

TEST_F(SrvTest, RestartedClientWithALongerLogIsNoticedOnReconnect)
{
    auto s = host();
    for (int i = 1; i <= 3; ++i)
        server.addmessage("old " + std::to_string(i));
    s->startthread();
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 3; }));
    // A plain reconnect keeps the log.
    server.dropconnections();
    server.addmessage("old 4");
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 4; }));
    EXPECT_EQ(s->msgloggeneration, 0u);
    // A restart that logged more than the old client had before we looked again.
    server.restartmessages();
    for (int i = 1; i <= 6; ++i)
        server.addmessage("new " + std::to_string(i));
    server.dropconnections();
    ASSERT_TRUE(eventually([&] { return s->msgloggeneration == 1 && s->lastmsgseqno == 6; }));
    s->jointhread();
    Snapshot m(s->messagesnapshots);
    EXPECT_EQ(seqnos(m.get()), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    for (Item* msg : m->find("msgs")->children("msg"))
        EXPECT_NE(msg->find("body")->value().find("new"), std::string::npos);
}

// A client that logs huge messages must not fill the memory: bodies are cut, the log
// keeps a bounded number of body bytes (the newest), and a cut body still counts as the
// same message when the log is compared after a reconnect.
TEST_F(SrvTest, HugeMessagesAreCutAndTheirBytesBounded)
{
    const size_t saved = Srv::maxkeptmessagebytes;
    Srv::maxkeptmessagebytes = 20000;
    auto s = host();
    server.addmessage(std::string(10000, 'a') + "\xc3\xa9");
    for (int i = 2; i <= 12; ++i)
        server.addmessage(std::to_string(i) + std::string(3000, 'b'));
    server.addmessage("bulk beside the body", std::string(9000, 'p'));
    s->updatemessages();
    {
        Snapshot m(s->messagesnapshots);
        auto msgs = m->find("msgs")->children("msg");
        size_t bytes = 0;
        for (Item* msg : msgs) {
            for (const auto& part : msg->getchildren()) {
                EXPECT_LE(part->value().size(), 4096u) << part->getname();
                bytes += part->value().size();
            }
        }
        EXPECT_LE(bytes, 20000u + 20000u / 8);
        EXPECT_EQ(seqnos(m.get()).back(), 13) << "the newest are kept";
    }
    // The first message alone, its body cut: still recognised as the same log.
    Srv::maxkeptmessagebytes = saved;
    auto t = host();
    server.restartmessages();
    std::string accents;
    for (int i = 0; i < 3000; ++i)
        accents += "\xc3\xa9";
    server.addmessage(accents);
    t->updatemessages();
    {
        // The body begins with its masked CDATA mark; the cut falls on the character.
        Snapshot m(t->messagesnapshots);
        const std::string body = m->find("body")->value();
        EXPECT_GE(body.size(), 4090u);
        EXPECT_LE(body.size(), 4096u);
        EXPECT_EQ(body.back(), '\xa9') << "never cut inside a character";
    }
    server.dropconnections();
    server.addmessage("next");
    for (int i = 0; i < 3 && t->lastmsgseqno != 2; ++i)
        t->updatemessages(); // the first finds the connection dropped
    EXPECT_EQ(t->msgloggeneration, 0u);
    EXPECT_EQ(t->lastmsgseqno, 2);
}

TEST_F(SrvTest, FirstMessageReplyWithoutListDoesNotLoseMessages)
{
    auto s = host();
    server.addmessage("a");
    server.addmessage("b");
    server.queuereply("get_messages", "<error>busy</error>");
    s->startthread();
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno == 2; }));
    s->jointhread();
    EXPECT_EQ(s->messagesnapshots.entrycount(), 1u);
    Snapshot m(s->messagesnapshots);
    EXPECT_EQ(seqnos(m.get()), (std::vector<int>{1, 2}));
}

TEST_F(SrvTest, RefusedLoginPollsOnlyTheState)
{
    auto s = host("wrong");
    server.addmessage("x");
    s->startthread();
    ASSERT_TRUE(server.waitforname("auth2", 3));
    s->jointhread();
    EXPECT_TRUE(s->unauthorized);
    for (const auto& r : server.requests())
        EXPECT_TRUE(r.name == "auth1" || r.name == "auth2" || r.name == "get_state") << r.name;
}

TEST_F(SrvTest, FailingPeerLeavesTheThreadAliveAndTheHostRecovers)
{
    TConnect::replytimeoutms = 200;
    for (Fault f : {Fault::stall, Fault::stallmidreply, Fault::closemidreply, Fault::garbage,
                    Fault::close, Fault::tinychunks}) {
        server.clearrequests();
        auto s = host();
        server.setfault("get_state", f, 1);
        s->startthread();
        ASSERT_TRUE(server.waitforname("get_state", 2)) << static_cast<int>(f);
        ASSERT_TRUE(eventually([&] { return s->statesnapshots.entrycount() >= 1; }));
        EXPECT_TRUE(s->running);
        s->jointhread();
        Snapshot st(s->statesnapshots);
        EXPECT_TRUE(st->find("client_state"));
    }
}

TEST_F(SrvTest, HostIsOnlineOnlyWhileItAnswers)
{
    auto s = host();
    EXPECT_FALSE(s->isonline());
    EXPECT_EQ(s->lastanswer, 0);
    ASSERT_TRUE(s->request("<get_state/>"));
    EXPECT_TRUE(s->isonline());
    EXPECT_GT(s->lastanswer, 0);
    server.setfault("get_state", Fault::closemidreply, 1);
    EXPECT_FALSE(s->request("<get_state/>"));
    EXPECT_FALSE(s->isonline());
    ASSERT_TRUE(s->request("<get_state/>"));
    EXPECT_TRUE(s->isonline());
    // A reply without its envelope is no answer, but the connection stays: no change.
    server.queueraw("get_state", "nonsense\003");
    EXPECT_FALSE(s->request("<get_state/>"));
    EXPECT_TRUE(s->isonline());
}

TEST_F(SrvTest, ClientThatTakesConnectionsButNeverAnswersIsNotOnline)
{
    TConnect::replytimeoutms = 300;
    for (const char* silent : {"*", "get_state"}) {
        server.clearfaults();
        server.clearrequests();
        server.setfault(silent, Fault::stall);
        auto s = host();
        s->startthread();
        // Connected, and (for get_state) even logged in, yet nothing ever comes back.
        ASSERT_TRUE(server.waitforname(silent[0] == '*' ? "auth1" : "get_state", 2)) << silent;
        EXPECT_FALSE(s->isonline()) << silent;
        EXPECT_TRUE(s->reached) << "it took the connection: " << silent;
        if (silent[0] == '*') {
            EXPECT_EQ(s->lastanswer, 0);
        }
        server.clearfaults();
        EXPECT_TRUE(eventually([&] { return s->isonline(); })) << silent;
        s->jointhread();
    }
}

TEST_F(SrvTest, OfflineHostTriesOnlyToReconnect)
{
    int port = server.port();
    server.stop();
    Srv s("127.0.0.1", std::to_string(port), "secret", "");
    int fds = openfdcount();
    s.startthread();
    ASSERT_TRUE(eventually([&] { return s.tick >= 20; }));
    s.jointhread();
    EXPECT_EQ(s.sock, -1);
    EXPECT_FALSE(s.reached);
    EXPECT_TRUE(s.statesnapshots.empty());
    EXPECT_TRUE(s.acctmgrinfosnapshots.refreshpending);
    EXPECT_EQ(openfdcount(), fds);
}

TEST_F(SrvTest, DestructionDoesNotWaitOutAStalledExchange)
{
    LinkWaits real(100000, 1000000, 15000);
    auto s = host();
    server.setfault("get_state", Fault::stall);
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_state"));
    auto start = Clock::now();
    s.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << "the reply time-out is 15 s";
}

TEST_F(SrvTest, DestructionDoesNotWaitOutAStalledConnect)
{
    LinkWaits real(100000, 1000000, 15000);
    BlackHole hole;
    auto s = std::make_unique<Srv>("127.0.0.1", std::to_string(hole.port), "", "");
    s->startthread();
    usleep(300000); // the thread is now inside connect (a 5 s wait)
    auto start = Clock::now();
    s.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST_F(SrvTest, CommandGivesUpBehindAStalledExchangeOfTheUpdateThread)
{
    LinkWaits real(100000, 1000000, 15000);
    auto s = host();
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_cc_status"));
    // From now on the client takes every get_state and never answers it.
    server.setfault("get_state", Fault::stall);
    size_t before = server.countof("get_state");
    ASSERT_TRUE(server.waitforname("get_state", before + 1));
    usleep(200000); // the update thread now waits inside the exchange, holding the wire
    auto start = Clock::now();
    s->opresult("http://p/", "task", "suspend_result");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8)) << "the reply time-out is 15 s";
    EXPECT_EQ(server.countof("suspend_result"), 0u) << "nothing is sent behind a stalled exchange";
}

// While the host is offline and its update thread runs, a command of another thread
// neither connects nor logs in itself (that would freeze the screen behind a silent
// client): it fails at once and the thread reconnects.
TEST_F(SrvTest, CommandWhileOfflineLeavesTheReconnectToTheUpdateThread)
{
    // The thread's login times out after 300 ms; then it sleeps 3 s before it tries again.
    LinkWaits slow(300000, 1000000, 300);
    server.setfault("auth1", Fault::stall);
    auto s = host();
    s->startthread();
    ASSERT_TRUE(server.waitforname("auth1"));
    ASSERT_TRUE(eventually([&] { return s->sock == -1; }));
    usleep(200000);
    const int connections = server.connectioncount();
    auto start = Clock::now();
    s->opresult("http://p/", "task", "suspend_result");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(server.connectioncount(), connections);
    EXPECT_EQ(server.countof("suspend_result"), 0u);
}

// A client that goes silent in the middle of a command's exchange holds the interface
// thread for the short interactive wait, not for the connection's long time-out.
TEST_F(SrvTest, CommandWaitsOnlyBrieflyForASilentOrTricklingClient)
{
    LinkWaits real(100000, 1000000, 15000);
    const int saved = Srv::interactivereplyms;
    Srv::interactivereplyms = 300;
    auto s = host();
    ASSERT_TRUE(s->request("<get_cc_status/>"));
    server.setfault("suspend_result", Fault::stall);
    auto start = Clock::now();
    s->opresult("http://p/", "task", "suspend_result");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the reply time-out is 15 s";
    EXPECT_EQ(server.countof("suspend_result"), 1u);

    // A client that trickles its reply a byte at a time (this one takes over 10 s).
    ASSERT_TRUE(s->request("<get_cc_status/>"));
    server.setreply("resume_result", "<success/><pad>" + std::string(30000, 'x') + "</pad>");
    server.setchunksize(1);
    server.setfault("resume_result", Fault::tinychunks);
    start = Clock::now();
    s->opresult("http://p/", "task", "resume_result");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the whole reply may take 120 s";
    Srv::interactivereplyms = saved;
}

// A mode change made while the update thread is still reading the previous client
// status asks for one more fetch: the status on screen must not stay from before it.
TEST_F(SrvTest, ModeChangeDuringAStatusFetchIsFetchedAgain)
{
    LinkWaits fast(10000, 1000); // the regular status fetch comes only after a minute
    std::string big = "<cc_status>";
    for (int i = 0; i < 400000; ++i)
        big += "<x/>";
    big += "</cc_status>";
    server.setreply("get_cc_status", big);
    auto s = host();
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_cc_status"));
    s->setrunmode("never");
    ASSERT_TRUE(server.waitforname("set_run_mode"));
    EXPECT_TRUE(server.waitforname("get_cc_status", 2, 10000))
        << "the status was not fetched after the mode change";
    s->jointhread();
}

TEST_F(SrvTest, FileTransfersArePolledOnlyWhileAskedAfterTheFirstPass)
{
    Srv::sleepstepus = 0;
    auto s = host();
    s->pollfiletransfers = true;
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_file_transfers"));
    // After the main screen's first pass (other extensions may come between).
    auto names = server.names();
    const auto transfers = std::find(names.begin(), names.end(), "get_file_transfers") - names.begin();
    names.resize(8);
    EXPECT_EQ(names, (std::vector<std::string>{"auth1", "auth2", "get_state", "get_message_count",
                                               "get_statistics", "get_disk_usage", "get_cc_status",
                                               "acct_mgr_info"}));
    EXPECT_GE(transfers, 8);
    ASSERT_TRUE(eventually([&] { return s->tick >= 40; }));
    s->pollfiletransfers = false;
    const int t = s->tick;
    const size_t polls = server.countof("get_file_transfers");
    // Every second pass (the pass of the switch may or may not count), then no more.
    EXPECT_GE(polls + 1, static_cast<size_t>((t - 1) / 2 + 1));
    EXPECT_LE(polls, static_cast<size_t>(t / 2 + 1));
    ASSERT_TRUE(eventually([&] { return s->tick >= t + 20; }));
    EXPECT_LE(server.countof("get_file_transfers"), polls + 1) << "polled after the window closed";
    s->jointhread();
}

TEST_F(SrvTest, SnoozeCountsDownFromWhenTheStatusCame)
{
    LinkWaits slow(100000, 1000); // the status comes once, at the first pass
    server.setreply("get_cc_status", "<cc_status><task_mode>3</task_mode><task_mode_perm>2"
                                     "</task_mode_perm><task_mode_delay>100</task_mode_delay>"
                                     "</cc_status>");
    auto s = host();
    s->startthread();
    ASSERT_TRUE(eventually([&] { return !s->ccstatussnapshots.empty(); }));
    usleep(1500000);
    ModeDelay d = s->modedelaynow(ModeKind::run);
    s->jointhread();
    EXPECT_TRUE(d.snoozed());
    EXPECT_LT(d.left, 99.0);
    EXPECT_GT(d.left, 90.0);
    EXPECT_EQ(server.countof("get_cc_status"), 1u);
}

class LookupTest : public ::testing::Test {
protected:
    Srv s{"127.0.0.1", "1", "", ""};
    void SetUp() override
    {
        s.statesnapshots.push(parse(readfixture("get_state.xml")));
        s.statisticssnapshots.push(parse(readfixture("get_statistics.xml")));
        s.allprojectstree = parse(readfixture("get_all_projects_list.xml"));
    }
};

TEST_F(LookupTest, FindProjectByName)
{
    Snapshot hold(s.statesnapshots);
    Item* p = s.findproject("Beta Project");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->find("master_url")->value(), "http://127.0.0.1:9/beta/");
    EXPECT_FALSE(s.findproject("Gamma"));
    EXPECT_FALSE(s.findproject(""));
}

// The lookups in a held tree stay in that tree, whatever was pushed since: their results
// live as long as the caller's hold.
TEST_F(LookupTest, LookupsInAHeldTreeStayInIt)
{
    Snapshot held(s.statesnapshots);
    s.statesnapshots.push(parse(readfixture("get_state.xml")));
    Item* p = ::findproject(held.get(), "Beta Project");
    ASSERT_TRUE(p);
    EXPECT_NE(s.findproject("Beta Project"), p) << "the name-only form searches the newest tree";
    s.statesnapshots.push(parse(readfixture("get_state.xml")));
    s.statesnapshots.release(nullptr); // frees the unheld middle tree
    EXPECT_EQ(p->find("master_url")->value(), "http://127.0.0.1:9/beta/");
    Item* app = ::findapp(held.get(), "beta_wu_0");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->find("user_friendly_name")->value(), "Worker of Beta Project");
    EXPECT_FALSE(::findproject(nullptr, "Beta Project"));
}

TEST_F(LookupTest, LookupsGiveTheirSnapshotBack)
{
    Item* first = s.statesnapshots.acquire();
    s.statesnapshots.release(first);
    s.findproject("nothing");
    s.findapp("nothing");
    s.statesnapshots.push(parse("<client_state/>"));
    Item* newest = s.statesnapshots.acquire();
    s.statesnapshots.release(newest);
    EXPECT_EQ(s.statesnapshots.entrycount(), 1u) << "a use count was left raised";
}

TEST_F(LookupTest, FindAppOfAWorkunitPrefersItsOwnProject)
{
    Snapshot hold(s.statesnapshots);
    Item* a = s.findapp("alpha@home_wu_1");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->find("user_friendly_name")->value(), "Worker of Alpha@Home");
    // Both projects call their app "worker".
    Item* b = s.findapp("beta_wu_0");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->find("user_friendly_name")->value(), "Worker of Beta Project");
    EXPECT_FALSE(s.findapp("no_such_wu"));
}

TEST_F(LookupTest, FindAppSkipsWorkunitsWithoutApp)
{
    s.statesnapshots.push(parse("<client_state><app><name>x</name></app>"
                                "<workunit><name>w</name></workunit>"
                                "<workunit><name>w</name><app_name>x</app_name></workunit>"
                                "</client_state>"));
    Snapshot hold(s.statesnapshots);
    Item* app = s.findapp("w");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->getname(), "app");
}

TEST_F(LookupTest, LastStatisticsDay)
{
    EXPECT_EQ(s.laststatisticsday(), 1796774400L);
    Srv empty("127.0.0.1", "1", "", "");
    EXPECT_EQ(empty.laststatisticsday(), 0);
}

TEST_F(LookupTest, AllProjectsEntries)
{
    Item* p = s.findallprojectsentry("Gamma Grid");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->find("url")->value(), "http://127.0.0.1:9/gamma/");
    EXPECT_FALSE(s.findallprojectsentry("x86_64-pc-linux-gnu")) << "platform names are no projects";
    Item* m = s.findaccountmanager("Manager One");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->find("url")->value(), "http://127.0.0.1:9/manager/");
    EXPECT_FALSE(s.findaccountmanager("Gamma Grid"));
    s.allprojectstree.reset();
    EXPECT_FALSE(s.findallprojectsentry("Gamma Grid"));
}

} // namespace

namespace {
std::atomic<int> winchcount{0};
void countwinch(int) { ++winchcount; }
} // namespace

// Window size changes go to the interface thread: the update thread never takes them,
// even when it was started while the interface thread had them unblocked.
TEST(SrvSignals, UpdateThreadLeavesWindowSizeChangesToTheInterface)
{
    sigset_t winch;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    struct sigaction sa {}, old {};
    sa.sa_handler = countwinch;
    sigaction(SIGWINCH, &sa, &old);
    winchcount = 0;

    pthread_sigmask(SIG_BLOCK, &winch, nullptr); // the fake server's threads must not take it
    FakeServer server("secret");
    pthread_sigmask(SIG_UNBLOCK, &winch, nullptr);
    Srv s("127.0.0.1", server.portstr(), "secret", "Test host");
    s.startthread();
    ASSERT_TRUE(server.waitforname("get_state"));

    pthread_sigmask(SIG_BLOCK, &winch, nullptr); // as during an iteration of the event loop
    kill(getpid(), SIGWINCH);
    usleep(200000);
    EXPECT_EQ(winchcount, 0) << "another thread took the signal";
    pthread_sigmask(SIG_UNBLOCK, &winch, nullptr);
    EXPECT_EQ(winchcount, 1);
    s.jointhread();
    sigaction(SIGWINCH, &old, nullptr);
}
