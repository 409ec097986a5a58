#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ncursesfixture.h"
#include "noticeswin.h"
#include "nscrollview.h"
#include "parsetext.h"
#include "srv.h"
#include "tempdir.h"

namespace {

// A notice as the host holds it; times are UTC.
std::string notice(int seqno, const std::string& title, const std::string& description,
                   const std::string& project, const std::string& category, const std::string& link,
                   long when)
{
    return "<notice><seqno>" + std::to_string(seqno) + "</seqno><title>" + title +
           "</title><description><![CDATA[" + description + "]]></description><create_time>" +
           std::to_string(when) + "</create_time><arrival_time>" + std::to_string(when) +
           "</arrival_time><project_name>" + project + "</project_name><category>" + category +
           "</category><link>" + link + "</link></notice>";
}

std::string text(const NAttrString& s)
{
    std::string out;
    for (const auto& f : s)
        out += f.text;
    return out;
}

class NoticesWinTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        tzset();
    }
    void TearDown() override
    {
        win.reset();
        NcursesTest::TearDown();
        tzset();
    }
    // Gives the host its notice list as the update thread does.
    void publish(const std::string& notices)
    {
        if (srv.noticesnapshots.empty()) {
            srv.noticesnapshots.push(parse("<notices>" + notices + "</notices>"));
        } else {
            Snapshot tree(srv.noticesnapshots);
            std::lock_guard<std::mutex> hold(srv.noticesnapshots.lock());
            tree->child("notices")->merge(parse("<notices>" + notices + "</notices>")->child("notices"));
        }
        ++srv.noticesversion;
    }
    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        for (int i = 0; i < win->content->getstringcount(); ++i)
            out.push_back(text(*win->content->getstring(i)));
        return out;
    }
    void key(int k)
    {
        NEvent ev(evKB, k);
        win->eventhandle(&ev);
        EXPECT_TRUE(ev.done) << k;
    }

    ScopedEnv tz{"TZ", "UTC"};
    Srv srv{"127.0.0.1", "31416", "", ""};
    std::unique_ptr<NoticesWin> win;
};

const long kMar7 = 1709802300; // 7 Mar 2024 9:05 UTC

} // namespace

TEST_F(NoticesWinTest, WrapCutsAtBlanksAndInsideOverlongWords)
{
    struct Case {
        const char* text;
        int width;
        std::vector<std::string> lines;
    } cases[] = {
        {"", 10, {""}},
        {"short", 10, {"short"}},
        {"one two three four", 9, {"one two", "three", "four"}},
        {"  indented text", 10, {"  indented", "text"}},
        {"abcdefghijklmnop", 5, {"abcde", "fghij", "klmno", "p"}},
        {"a https://example.org/very/long", 8, {"a", "https://", "example.", "org/very", "/long"}},
        {"\xc3\xa9\xc3\xa9\xc3\xa9 \xc3\xa9", 3, {"\xc3\xa9\xc3\xa9\xc3\xa9", "\xc3\xa9"}},
        {"x", 0, {"x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wraptext(c.text, c.width), c.lines) << c.text << " at " << c.width;
}

TEST_F(NoticesWinTest, NewestFirstWithDateSourceTitleTextAndLink)
{
    publish(notice(1, "Maintenance", "Down <b>today</b> &amp; tomorrow.<br>Back soon.", "Alpha@Home",
                   "server", "https://alpha.example/news", kMar7) +
            notice(2, "_(\"Notice from BOINC\")", "_(\"BOINC can't access Internet.\")", "", "client", "",
                   kMar7 + 3600));
    win = std::make_unique<NoticesWin>(&srv);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "7 Mar 2024 10:05  client",
                           "Notice from BOINC",
                           "BOINC can't access Internet.",
                           "",
                           "7 Mar 2024 9:05  Alpha@Home",
                           "Maintenance",
                           "Down today & tomorrow.",
                           "Back soon.",
                           "https://alpha.example/news",
                       }));
    EXPECT_TRUE(win->content->getstring(1)->fragment(0).attr & A_BOLD) << "the title";
    EXPECT_FALSE(win->content->getstring(2)->fragment(0).attr & A_BOLD) << "the text";
    EXPECT_EQ(win->gettitle(), "Notices");
    EXPECT_STREQ(win->getid(), "10NoticesWin");

    // A new notice shows at the next tick, on top; the lines are not rebuilt otherwise.
    const NAttrString* before = win->content->getstring(0);
    NEvent tick(evTIMER, 0);
    win->eventhandle(&tick);
    EXPECT_EQ(win->content->getstring(0), before);
    publish(notice(3, "Third", "", "Beta", "", "", kMar7 + 7200));
    NEvent tick2(evTIMER, 0);
    win->eventhandle(&tick2);
    EXPECT_EQ(lines()[1], "Third");
}

TEST_F(NoticesWinTest, KeysScrollOrPassAndEverythingElseIsSwallowed)
{
    std::string many;
    for (int i = 1; i <= 30; ++i)
        many += notice(i, "Title " + std::to_string(i), "Body", "P", "", "", kMar7 + i);
    publish(many);
    win = std::make_unique<NoticesWin>(&srv);
    const int rows = win->content->rect.rows;
    key(KEY_NPAGE);
    EXPECT_EQ(win->content->getstartline(), rows - 1);
    key(KEY_END);
    EXPECT_EQ(win->content->getstartline(), win->content->getstringcount() - rows);
    key(KEY_PPAGE);
    EXPECT_EQ(win->content->getstartline(), win->content->getstringcount() - rows - (rows - 1));
    key(KEY_HOME);
    EXPECT_EQ(win->content->getstartline(), 0);
    key('V');
    key('q');
    for (int k : {int('I'), int('i'), 27}) {
        NEvent ev(evKB, k);
        win->eventhandle(&ev);
        EXPECT_FALSE(ev.done) << "left to the application: " << k;
    }
}

TEST_F(NoticesWinTest, EmptyOrHostlessWindowAndAResizedScreen)
{
    win = std::make_unique<NoticesWin>(nullptr);
    EXPECT_EQ(lines(), (std::vector<std::string>{"No notices"}));
    win = std::make_unique<NoticesWin>(&srv);
    EXPECT_EQ(lines(), (std::vector<std::string>{"No notices"}));
    publish(notice(1, "Title", std::string(300, 'w'), "", "client", "", kMar7));
    NEvent tick(evTIMER, 0);
    win->eventhandle(&tick);
    EXPECT_EQ(win->rect.rows, 20);
    EXPECT_EQ(win->rect.cols, 72);
    EXPECT_EQ(lines().size(), 2u + 5u) << "300 letters at 68 columns";

    resizeterm(40, 120);
    win->move(0, 0); // as the application's re-centring does
    EXPECT_EQ(win->rect.rows, 36);
    EXPECT_EQ(win->rect.cols, 112);
    EXPECT_EQ(win->rect.begrow, 2);
    EXPECT_EQ(win->rect.begcol, 4);
    EXPECT_EQ(lines().size(), 2u + 3u) << "rewrapped at the new width";
}
