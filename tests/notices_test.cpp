#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "fakeserver.h"
#include "linkwaits.h"
#include "notices.h"
#include "srv.h"

namespace {

bool eventually(const std::function<bool()>& cond, int timeoutms = 20000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutms);
    while (std::chrono::steady_clock::now() < end) {
        if (cond())
            return true;
        usleep(2000);
    }
    return cond();
}

struct Held {
    std::vector<int> seqnos;
    std::vector<std::string> titles;
};

Held heldnotices(Srv& s)
{
    Held h;
    Snapshot tree(s.noticesnapshots);
    if (!tree)
        return h;
    std::lock_guard<std::mutex> hold(s.noticesnapshots.lock());
    for (const auto& n : tree->child("notices")->getchildren()) {
        h.seqnos.push_back(noticeseqno(n.get()));
        h.titles.push_back(n->child("title") ? n->child("title")->value() : "");
    }
    return h;
}

std::vector<std::string> noticerequests(const FakeServer& server)
{
    std::vector<std::string> out;
    for (const auto& r : server.requests())
        if (r.name == "get_notices")
            out.push_back(r.body);
    return out;
}

std::string from(int seqno)
{
    return "<get_notices>\n<seqno>" + std::to_string(seqno) + "</seqno>\n</get_notices>\n";
}

class NoticesTest : public ::testing::Test {
protected:
    FakeServer server{"secret"};
    LinkWaits waits{1000, 1000, 2000};
    Srv srv{"127.0.0.1", server.portstr(), "secret", "notices"};
};

} // namespace

TEST_F(NoticesTest, FetchedAfterTheFirstPassThenOnlyTheNewOnesAboutOnceAMinute)
{
    server.addnotice("one", "first");
    server.addnotice("two", "second");
    srv.startthread();
    ASSERT_TRUE(eventually([&] { return srv.lastnoticeseqno == 2; }));
    server.addnotice("three", "third");
    ASSERT_TRUE(eventually([&] { return srv.lastnoticeseqno == 3; }));
    const int ticks = srv.tick;
    srv.jointhread();
    auto names = server.names();
    auto acct = std::find(names.begin(), names.end(), "acct_mgr_info");
    ASSERT_TRUE(acct != names.end() && acct + 1 != names.end());
    EXPECT_EQ(acct[1], "get_notices") << "right after the first pass";
    auto asked = noticerequests(server);
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked[0], from(0));
    EXPECT_EQ(asked.back(), from(2));
    EXPECT_LE(asked.size(), static_cast<size_t>(ticks / 60 + 1));
    EXPECT_EQ(srv.noticesnapshots.entrycount(), 1u);
    Held h = heldnotices(srv);
    EXPECT_EQ(h.seqnos, (std::vector<int>{1, 2, 3})) << "oldest first, each once";
    EXPECT_EQ(h.titles, (std::vector<std::string>{"one", "two", "three"}));
    Snapshot tree(srv.noticesnapshots);
    EXPECT_EQ(tree->find("description")->value(), "first") << "without the CDATA's line ends";
}

TEST_F(NoticesTest, ResetByMinusOneReplacesTheList)
{
    for (const char* t : {"a", "b", "c"})
        server.addnotice(t, "");
    srv.startthread();
    ASSERT_TRUE(eventually([&] { return srv.lastnoticeseqno == 3; }));
    const unsigned before = srv.noticesversion;
    server.restartnotices(); // the same connection: only the -1 tells
    server.addnotice("x", "");
    server.addnotice("y", "");
    server.resetnotices();
    ASSERT_TRUE(eventually([&] { return srv.lastnoticeseqno == 2; }));
    srv.jointhread();
    Held h = heldnotices(srv);
    EXPECT_EQ(h.seqnos, (std::vector<int>{1, 2}));
    EXPECT_EQ(h.titles, (std::vector<std::string>{"x", "y"}));
    EXPECT_GT(srv.noticesversion, before);
}

TEST_F(NoticesTest, RestartedClientsNoticesReplaceTheOldOnesWithoutDuplicates)
{
    server.addnotice("news 1", "", "Alpha@Home", "", "", 1700000100);
    server.addnotice("news 2", "", "Alpha@Home", "", "", 1700000200);
    server.addnotice("alert", "", "", "client", "", 1700000300);
    srv.startthread();
    ASSERT_TRUE(eventually([&] { return srv.lastnoticeseqno == 3; }));
    EXPECT_EQ(srv.unreadnotices(), 3);
    srv.marknoticesread();
    EXPECT_EQ(srv.unreadnotices(), 0);
    // The restarted client reads its archived news again, numbered from 1, and raises an
    // alert of its own: fewer notices than before, so no number says it restarted.
    server.restartnotices();
    server.addnotice("news 1", "", "Alpha@Home", "", "", 1700000100);
    server.addnotice("news 2", "", "Alpha@Home", "", "", 1700000200);
    server.dropconnections();
    ASSERT_TRUE(eventually([&] { return server.connectioncount() >= 2 && noticerequests(server).size() >= 2 &&
                                        heldnotices(srv).seqnos.size() == 2; }));
    srv.jointhread();
    Held h = heldnotices(srv);
    EXPECT_EQ(h.titles, (std::vector<std::string>{"news 1", "news 2"}));
    EXPECT_EQ(noticerequests(server).back(), from(0)) << "a new connection asks for everything";
    EXPECT_EQ(srv.unreadnotices(), 0) << "what was read stays read";
}

TEST_F(NoticesTest, ClientWithoutNoticesIsAskedOnlyOnceAMinute)
{
    Srv::sleepstepus = 0;
    server.setreply("get_notices", "<error>unrecognized op: get_notices</error>");
    srv.startthread();
    ASSERT_TRUE(eventually([&] { return srv.tick >= 200; }, 60000));
    srv.jointhread();
    const int t = srv.tick;
    EXPECT_EQ(server.countof("get_notices"), static_cast<size_t>((t - 1) / 60 + 1));
    EXPECT_EQ(srv.noticesnapshots.entrycount(), 0u);
    EXPECT_EQ(srv.unreadnotices(), 0);
    for (const auto& body : noticerequests(server))
        EXPECT_EQ(body, from(0)) << "until a list came, the whole one is asked for";
}

TEST_F(NoticesTest, HeldNoticesAndTheirTextsAreBounded)
{
    for (int i = 1; i <= 1200; ++i)
        server.addnotice("n" + std::to_string(i), i == 1200 ? std::string(100000, 'x') + "\xc3\xa9" : "");
    srv.updatenotices();
    Held h = heldnotices(srv);
    ASSERT_EQ(h.seqnos.size(), kMaxNotices);
    EXPECT_EQ(h.seqnos.front(), 201) << "the newest are kept";
    EXPECT_EQ(h.seqnos.back(), 1200);
    Snapshot tree(srv.noticesnapshots);
    const std::string& d = tree->child("notices")->getchildren().back()->child("description")->value();
    EXPECT_EQ(d.size(), kMaxNoticeText);
    // Further notices push the oldest out; the list never grows past the bound.
    server.addnotice("n1201", "");
    srv.updatenotices();
    EXPECT_EQ(heldnotices(srv).seqnos.front(), 202);
    EXPECT_EQ(heldnotices(srv).seqnos.size(), kMaxNotices);
}

TEST(NoticeMerge, OnlyNewerNumberedNoticesAreTakenAndForeignFieldsDropped)
{
    std::string err;
    std::string text = "<notices>"
                       "<notice><seqno>7</seqno><title>seven</title><junk>x</junk></notice>"
                       "<notice><seqno>5</seqno><title>five</title></notice>"
                       "<notice><seqno>7</seqno><title>again</title></notice>"
                       "<notice><title>no number</title></notice>"
                       "<notice><seqno>99999999999</seqno><title>huge</title></notice>"
                       "</notices>";
    auto reply = parsexml(text.data(), text.size(), err);
    NoticeBatch batch = readnotices(reply->find("notices"));
    EXPECT_FALSE(batch.reset);
    ASSERT_EQ(batch.notices.size(), 2u);
    EXPECT_EQ(batch.notices[0]->child("title")->value(), "five");
    EXPECT_EQ(batch.notices[1]->child("title")->value(), "seven");
    EXPECT_EQ(batch.notices[1]->child("junk"), nullptr);

    Item held("notices");
    held.addchild(std::make_unique<Item>("notice"))->addchild(std::make_unique<Item>("seqno"))->setvalue("6");
    EXPECT_TRUE(mergenotices(held, std::move(batch), false));
    ASSERT_EQ(held.getchildren().size(), 2u) << "5 is older than the newest held";
    EXPECT_EQ(newestnoticeseqno(held), 7);
    EXPECT_FALSE(mergenotices(held, NoticeBatch{}, false));
}

TEST(HtmlToText, ReadableTextFromTheMarkupProjectsAndClientsUse)
{
    struct Case {
        const char* html;
        const char* text;
    } cases[] = {
        {"line one\nline two\n\n\n\n  indented", "line one\nline two\n\n  indented"},
        {"  <b>Bold</b>   and\n <i>italic</i>  ", "Bold and italic"},
        {"a<br>b<br/><br />c<p>d</p><P>e</P>", "a\nb\n\nc\n\nd\n\ne"},
        {"<ul><li>one</li><li>two</li></ul>after", "- one\n- two\n\nafter"},
        {"<div>x</div><div>y</div>", "x\ny"},
        {"&amp; &lt;x&gt; &quot;q&quot; &apos;a&apos; caf&eacute;&nbsp;&hellip;", "& <x> \"q\" 'a' caf\xc3\xa9 \xe2\x80\xa6"},
        {"&#65;&#x42;&#X43;&#68 &#8364;&#128;", "ABCD \xe2\x82\xac\xe2\x82\xac"},
        {"&#0;&#xD800;&#1114112;&#27;&#99999999999999;", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"AT&T &bogus; &#; & &", "AT&T &bogus; &#; & &"},
        {"See <a\nhref=\"https://x.org/?a=1&amp;b=2\"\n>here</a> now", "See here (https://x.org/?a=1&b=2) now"},
        {"<a href=\"https://x.org/\">https://x.org/</a> <a href=\"mailto:me@x.org\">me@x.org</a>",
         "https://x.org/ me@x.org"},
        {"<a href=\"/local\">relative</a> <a href=\"https://i/\"><img src=i></a>", "relative https://i/"},
        {"<a title=\"1 > 0\" href='https://y/'>y</a>", "y (https://y/)"},
        {"<style>p{}</style>A<SCRIPT>if (a<b) x();</script>B<!-- <b>c</b> -->C", "ABC"},
        {"<b>1 < 2</b>", "1 < 2"},
        {"<pre>  a\n   b</pre>after", "  a\n   b\n\nafter"},
        {"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", "1 2\n3"},
        {"plain a<b", "plain a<b"},
        // Cut or broken markup: nothing of a tag shows, and nothing after one that never ends.
        {"<i>text</i> <b class=\"x", "text"},
        {"<b>a</b><!-- never closed", "a"},
        {"<b title=\"oops>bold</b> rest", "bold rest"},
        {"<b>x</b><script>never closed", "x"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(htmltotext(c.html), c.text) << c.html;
    EXPECT_EQ(untranslated("_(\"BOINC can't access Internet - check network connection.\")"),
              "BOINC can't access Internet - check network connection.");
    EXPECT_EQ(untranslated("A _(\"b\") c _(\"d\")_(\"unclosed"), "A b c d_(\"unclosed");
}

TEST(HtmlToText, HostileMegabyteTextsEndInLinearTime)
{
    const size_t mb = size_t(1) << 20;
    auto repeat = [mb](const std::string& piece) {
        std::string s;
        while (s.size() < mb)
            s += piece;
        return s;
    };
    // Each would take hours with a search per tag, quote or reference.
    EXPECT_EQ(htmltotext("<b>x</b>" + repeat("<a")), "x");
    EXPECT_EQ(htmltotext("<b>x</b>" + repeat("<a \"")), "x");
    EXPECT_EQ(htmltotext("<b>x</b>" + repeat("<script>")), "x");
    EXPECT_EQ(htmltotext("<b>x</b>" + repeat("<!--")), "x");
    const std::string refs = htmltotext("<b>x</b>" + repeat("&#"));
    EXPECT_EQ(refs.size(), 1 + mb);
    const std::string words = htmltotext("<p>" + repeat("word <i>x</i>&amp; "));
    EXPECT_EQ(words.compare(0, 13, "word x& word "), 0);
    EXPECT_LE(words.size(), mb);
    EXPECT_EQ(htmltotext(repeat("<br>")), "");
}
