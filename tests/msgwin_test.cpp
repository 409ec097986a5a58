#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "fakeserver.h"
#include "linkwaits.h"
#include "msgwin.h"
#include "ncursesfixture.h"
#include "parsetext.h"
#include "srv.h"
#include "tempdir.h"

namespace {

// 14 Nov 2023 22:13:20 UTC.
constexpr long kT0 = 1700000000;

// One message as the client link keeps it: the CDATA marks of the body already masked.
std::string msg(int seqno, long time, const std::string& project, const std::string& body,
                bool cdata = true)
{
    std::string b = cdata ? " ![CDATA[" + body + "]] " : body;
    return "<msg><project>" + project + "</project><pri>1</pri><seqno>" + std::to_string(seqno) +
           "</seqno><body>" + b + "</body><time>" + std::to_string(time) + "</time></msg>";
}

class MsgWinTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        tzset();
        view = std::make_unique<MsgWin>(NRect{0, 0, 10, 60});
        view->srv = &srv;
    }
    void TearDown() override
    {
        view.reset();
        NcursesTest::TearDown();
        tzset();
    }

    // What the update thread does with a first batch, with later ones, and with the log
    // of a restarted client.
    void deliver(const std::string& msgs, int lastseqno, bool newlog = false)
    {
        auto fresh = parse("<msgs>" + msgs + "</msgs>");
        if (srv.messagesnapshots.empty()) {
            srv.messagesnapshots.push(std::move(fresh));
            srv.lastmsgseqno = lastseqno;
            return;
        }
        Item* tree = srv.messagesnapshots.acquire();
        {
            std::lock_guard<std::mutex> hold(srv.messagesnapshots.lock());
            if (newlog) {
                for (Item* c : tree->children(""))
                    tree->removechild(c);
                tree->merge(fresh.get());
                ++srv.msgloggeneration;
            } else {
                tree->find("msgs")->merge(fresh->find("msgs"));
            }
            srv.lastmsgseqno = lastseqno;
        }
        srv.messagesnapshots.release(tree);
    }
    void tick()
    {
        NEvent ev(evTIMER, 0);
        view->eventhandle(&ev);
    }
    bool key(int code)
    {
        NEvent ev(evKB, code);
        view->eventhandle(&ev);
        return ev.done;
    }
    std::string line(int i)
    {
        std::string text;
        if (const NAttrString* s = view->getstring(i))
            for (const auto& f : *s)
                text += f.text;
        return text;
    }

    ScopedEnv tz{"TZ", "UTC"};
    Srv srv{"127.0.0.1", "1", "", ""};
    std::unique_ptr<MsgWin> view;
};

} // namespace

TEST_F(MsgWinTest, HeadersPerMinuteAndProjectWithTheirColours)
{
    deliver(msg(1, kT0, "", "Starting BOINC client") + msg(2, kT0 + 5, "", "same minute") +
                msg(3, kT0 + 10, "Alpha", "other project") + msg(4, kT0 + 70, "Alpha", "next minute") +
                "<msg><seqno>5</seqno><body>no project</body><time>" + std::to_string(kT0 + 70) +
                "</time></msg>",
            5);
    tick();
    ASSERT_EQ(view->getstringcount(), 9);
    EXPECT_EQ(line(0), "14 Nov 22:13 ");
    EXPECT_EQ(view->getstring(0)->fragmentcount(), 2u) << "an empty project still has its fragment";
    EXPECT_EQ(line(1), "Starting BOINC client");
    EXPECT_EQ(line(2), "same minute");
    EXPECT_EQ(line(3), "14 Nov 22:13 Alpha");
    EXPECT_EQ(line(4), "other project");
    EXPECT_EQ(line(5), "14 Nov 22:14 Alpha");
    EXPECT_EQ(line(7), "14 Nov 22:14 _no_");
    EXPECT_EQ(line(8), "no project");

    // Cyan time, yellow project, white text, none of them bold.
    view->refresh();
    auto fg = [&](int row, int col) {
        short f = 0, b = 0;
        pair_content(static_cast<short>(cellpair(view->win, row, col)), &f, &b);
        return f;
    };
    EXPECT_EQ(fg(3, 0), 6);
    EXPECT_EQ(fg(3, 13), 3);
    EXPECT_EQ(fg(4, 0), 7);
    EXPECT_EQ(cellat(view->win, 3, 0) & A_BOLD, 0u);
}

TEST_F(MsgWinTest, CdataMarksAreRemovedAndOtherBodiesKept)
{
    EXPECT_EQ(messagebodytext(" ![CDATA[Starting BOINC client]] "), "Starting BOINC client");
    EXPECT_EQ(messagebodytext("plain ]] "), "plain ]] ");
    EXPECT_EQ(messagebodytext(" ![CDATA["), "");
    EXPECT_EQ(messagebodytext(" ![CDATA[]"), "]") << "a short body is not cut into";
    EXPECT_EQ(messagebodytext(" ![CDATA[cut short"), "cut short");
    EXPECT_EQ(messagebodytext(""), "");

    // A tab or a C1 code in a body cannot move the cursor or reach the terminal.
    deliver(msg(1, kT0, "", "a\tb") + msg(2, kT0, "", "x\xc2\x9by"), 2);
    {
        Snapshot tree(srv.messagesnapshots);
        tree->find("msgs")->children("msg")[0]->find("body")->setvalue("a\tb\033[2J");
        tree->find("msgs")->children("msg")[1]->find("body")->setvalue(" ![CDATA[x\xc2\x9by]] ");
    }
    tick();
    EXPECT_EQ(line(1), "a b?[2J");
    EXPECT_EQ(line(2), "x?y");
}

TEST_F(MsgWinTest, FirstTickShowsTheLastPageAndNewMessagesFollow)
{
    std::string msgs;
    for (int i = 1; i <= 40; ++i)
        msgs += msg(i, kT0 + 60 * (i / 4), i % 2 ? "Alpha" : "Beta", "message " + std::to_string(i));
    deliver(msgs, 40);
    tick();
    // Projects alternate, so every message has a header of its own.
    ASSERT_EQ(view->getstringcount(), 80);
    EXPECT_EQ(view->getstartline(), 70);
    EXPECT_EQ(trimmedrow(view->win, 9), "message 40");

    // Nothing new: nothing changes, not even when the user has scrolled away.
    EXPECT_TRUE(key(KEY_HOME));
    tick();
    EXPECT_EQ(view->getstartline(), 0);
    EXPECT_EQ(view->getstringcount(), 80);

    // A new message brings the view back to the end.
    deliver(msg(41, kT0 + 600, "Alpha", "message 41"), 41);
    tick();
    EXPECT_EQ(view->getstringcount(), 82);
    EXPECT_EQ(view->getstartline(), 72);
    EXPECT_TRUE(view->getautoscroll());
    EXPECT_EQ(trimmedrow(view->win, 9), "message 41");
}

TEST_F(MsgWinTest, ScrollKeys)
{
    std::string msgs;
    for (int i = 1; i <= 30; ++i)
        msgs += msg(i, kT0, "", "m" + std::to_string(i));
    deliver(msgs, 30);
    tick(); // 31 lines, 10 rows: last page starts at 21
    EXPECT_TRUE(key(KEY_NPAGE));
    EXPECT_EQ(view->getstartline(), 21) << "already following the end";
    EXPECT_TRUE(key(KEY_PPAGE));
    EXPECT_EQ(view->getstartline(), 16);
    EXPECT_FALSE(view->getautoscroll());
    EXPECT_TRUE(key(KEY_HOME));
    EXPECT_EQ(view->getstartline(), 0);
    EXPECT_TRUE(key(KEY_NPAGE));
    EXPECT_EQ(view->getstartline(), 5);
    EXPECT_FALSE(view->getautoscroll());
    EXPECT_TRUE(key(KEY_END));
    EXPECT_EQ(view->getstartline(), 21);
    EXPECT_FALSE(view->getautoscroll()) << "End shows the end without following it";
    EXPECT_TRUE(key(KEY_NPAGE));
    EXPECT_TRUE(view->getautoscroll()) << "PgDn at the end follows it";
    EXPECT_EQ(trimmedrow(view->win, 9), "m30");
    EXPECT_FALSE(key('x'));
    EXPECT_FALSE(key(KEY_UP));
}

TEST_F(MsgWinTest, IncompleteMessagesAreLeftOut)
{
    deliver("<msg><seqno>1</seqno><time>" + std::to_string(kT0) + "</time></msg>" +
                "<msg><seqno>2</seqno><body>no time</body></msg>" +
                "<msg><body>no number</body><time>" + std::to_string(kT0) + "</time></msg>" +
                "<other><seqno>3</seqno><body>not a message</body><time>1</time></other>" +
                msg(4, kT0, "", "kept") + msg(5, 99999999999999LL, "", "far future"),
            5);
    tick();
    ASSERT_GE(view->getstringcount(), 2);
    EXPECT_EQ(line(1), "kept");
    EXPECT_EQ(line(view->getstringcount() - 1), "far future");
}

TEST_F(MsgWinTest, EmptyLogAndHostSwitchStartOver)
{
    tick();
    EXPECT_EQ(view->getstringcount(), 0);
    deliver(msg(1, kT0, "", "one"), 1);
    tick();
    EXPECT_EQ(view->getstringcount(), 2);

    // What the main window does on a host switch, to a host of the same minute and project.
    Srv other("127.0.0.1", "2", "", "");
    other.messagesnapshots.push(parse("<msgs>" + msg(7, kT0, "", "other host") + "</msgs>"));
    other.lastmsgseqno = 7;
    view->srv = &other;
    view->clearcontent();
    view->lastseqno = 0;
    tick();
    EXPECT_EQ(line(0), "14 Nov 22:13 ") << "the new content starts with a header";
    EXPECT_EQ(line(1), "other host");
    EXPECT_EQ(view->lastseqno, 7);

    view->srv = nullptr;
    tick();
    EXPECT_EQ(view->getstringcount(), 2) << "no host: unchanged";
}

TEST_F(MsgWinTest, RestartedClientLogReplacesTheOldOne)
{
    std::string msgs;
    for (int i = 1; i <= 30; ++i)
        msgs += msg(i, kT0, "", "old " + std::to_string(i));
    deliver(msgs, 30);
    tick();
    ASSERT_EQ(view->getstringcount(), 31);

    // The new log is shorter than the old one and numbered from 1 again.
    deliver(msg(1, kT0, "", "new 1") + msg(2, kT0, "", "new 2"), 2, true);
    tick();
    ASSERT_EQ(view->getstringcount(), 3);
    EXPECT_EQ(line(0), "14 Nov 22:13 ");
    EXPECT_EQ(line(1), "new 1");
    EXPECT_EQ(line(2), "new 2");

    // A new log that reached the old count is a new log all the same.
    deliver(msg(1, kT0, "", "third 1") + msg(2, kT0, "", "third 2"), 2, true);
    tick();
    ASSERT_EQ(view->getstringcount(), 3);
    EXPECT_EQ(line(1), "third 1");

    deliver(msg(3, kT0, "", "third 3"), 3);
    tick();
    EXPECT_EQ(view->getstringcount(), 4);
    EXPECT_EQ(line(3), "third 3");
}

// The client link against a fake client: the log it fetches, a restart of the client, and
// the view reading the tree while the link merges into it from another thread.
TEST_F(MsgWinTest, FollowsTheLinkThroughAClientRestart)
{
    LinkWaits waits(1000, 1000, 5000);
    FakeServer server;
    ASSERT_TRUE(server.listening());
    for (int i = 1; i <= 5; ++i)
        server.addmessage("first run " + std::to_string(i), "", kT0);
    Srv host("127.0.0.1", server.portstr(), "", "");
    view->srv = &host;
    host.updatemessages();
    tick();
    ASSERT_EQ(view->getstringcount(), 6);
    EXPECT_EQ(line(5), "first run 5");

    // The client restarts (the connection goes with it) and logs more than before.
    server.restartmessages();
    server.dropconnections();
    for (int i = 1; i <= 7; ++i)
        server.addmessage("second run " + std::to_string(i), "", kT0);
    for (int i = 0; i < 5 && host.msgloggeneration == 0; ++i)
        host.updatemessages();
    ASSERT_EQ(host.msgloggeneration, 1u);
    tick();
    ASSERT_EQ(view->getstringcount(), 8);
    EXPECT_EQ(line(1), "second run 1");
    EXPECT_EQ(line(7), "second run 7");

    std::thread link([&] {
        for (int i = 8; i <= 60; ++i) {
            server.addmessage("second run " + std::to_string(i), "", kT0);
            host.updatemessages();
        }
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (view->lastseqno < 60 && std::chrono::steady_clock::now() < deadline)
        tick();
    link.join();
    host.updatemessages();
    tick();
    ASSERT_EQ(view->getstringcount(), 61);
    for (int i = 1; i <= 60; ++i)
        EXPECT_EQ(line(i), "second run " + std::to_string(i));
}

// A log that grows over many ticks reads the same as the whole log read at once: every
// message once, in order, with the same headers, also when a batch holds only messages
// already shown or a message without a number.
TEST_F(MsgWinTest, GrowingLogReadsLikeTheWholeLogAtOnce)
{
    int seqno = 0;
    for (int batch = 0; batch < 12; ++batch) {
        std::string msgs;
        for (int i = 0; i < batch % 4; ++i, ++seqno)
            msgs += msg(seqno + 1, kT0 + 30 * seqno, seqno % 3 ? "Alpha" : "",
                        "line " + std::to_string(seqno + 1));
        if (batch == 5)
            msgs += "<msg><body>no number</body><time>1700000000</time></msg>";
        if (batch == 7 && seqno > 0)
            msgs += msg(seqno, kT0, "Alpha", "again"); // an old number: not shown again
        deliver(msgs, seqno);
        tick();
    }
    Srv whole{"127.0.0.1", "1", "", ""};
    {
        Snapshot tree(srv.messagesnapshots);
        std::lock_guard<std::mutex> hold(srv.messagesnapshots.lock());
        whole.messagesnapshots.push(parse(tree->find("msgs")->toxml(true)));
    }
    whole.lastmsgseqno = seqno;
    MsgWin once(NRect{0, 0, 10, 60});
    once.srv = &whole;
    once.updatedata();
    ASSERT_EQ(view->getstringcount(), once.getstringcount());
    for (int i = 0; i < once.getstringcount(); ++i)
        EXPECT_EQ(*view->getstring(i), *once.getstring(i)) << "line " << i;
    int shown = 0;
    for (int i = 0; i < view->getstringcount(); ++i)
        shown += line(i).rfind("line ", 0) == 0;
    EXPECT_EQ(shown, seqno);
}

// A client that logs faster than it is polled, and a log longer than the host keeps: every
// message shows once, the oldest go, and the view follows the trimmed log without gaps.
TEST_F(MsgWinTest, LateMessagesOnceAndALongLogTrimmed)
{
    LinkWaits waits(1000, 1000, 5000);
    struct KeepMessages {
        size_t old = Srv::maxkeptmessages;
        KeepMessages() { Srv::maxkeptmessages = 8; }
        ~KeepMessages() { Srv::maxkeptmessages = old; }
    } keep;
    FakeServer server;
    ASSERT_TRUE(server.listening());
    Srv host("127.0.0.1", server.portstr(), "", "");
    view->srv = &host;
    int n = 0;
    auto add = [&](int count) {
        for (int i = 0; i < count; ++i, ++n)
            server.addmessage("message " + std::to_string(n + 1), "", kT0);
    };
    add(5);
    // Two more messages are logged between the count and the fetch.
    server.queuereply("get_message_count", "<seqno>3</seqno>\n");
    host.updatemessages();
    tick();
    host.updatemessages(); // fetches from 3 and gets 4 and 5 again
    tick();
    ASSERT_EQ(view->getstringcount(), 6);
    EXPECT_EQ(line(5), "message 5");
    {
        Snapshot tree(host.messagesnapshots);
        std::lock_guard<std::mutex> hold(host.messagesnapshots.lock());
        EXPECT_EQ(tree->find("msgs")->children("msg").size(), 5u);
    }
    for (int round = 0; round < 10; ++round) {
        add(3);
        host.updatemessages();
        if (round % 2)
            tick();
    }
    tick();
    {
        Snapshot tree(host.messagesnapshots);
        std::lock_guard<std::mutex> hold(host.messagesnapshots.lock());
        auto msgs = tree->find("msgs")->children("msg");
        EXPECT_LE(msgs.size(), 9u);
        EXPECT_EQ(msgs.back()->find("seqno")->intvalue(), 35);
        EXPECT_EQ(host.msgtrimmed + msgs.size(), 35u);
    }
    EXPECT_LE(view->getstringcount(), 19) << "lines are trimmed with the log";
    // The newest lines are the newest messages, each once and in order.
    int last = view->getstringcount() - 1;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(line(last - i), "message " + std::to_string(35 - i));
}
