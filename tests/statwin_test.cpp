#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ncursesfixture.h"
#include "ndraw.h"
#include "nscrollview.h"
#include "parsetext.h"
#include "srv.h"
#include "statwin.h"
#include "tempdir.h"

namespace {

const int64_t kBase = 1704067200; // 1 Jan 2024, 00:00 UTC

// A daily entry of day n after kBase; totals are written as given, so they may be words.
std::string daily(int n, const std::string& host, const std::string& user = "0")
{
    return "<daily_statistics><day>" + std::to_string(kBase + n * 86400) +
           "</day><user_total_credit>" + user + "</user_total_credit><host_total_credit>" +
           host + "</host_total_credit></daily_statistics>";
}

std::string projectstats(const std::string& url, const std::string& days)
{
    return "<project_statistics><master_url>" + url + "</master_url>" + days +
           "</project_statistics>";
}

std::string state(const std::vector<std::pair<std::string, std::string>>& projects)
{
    std::string s = "<client_state>";
    for (const auto& p : projects)
        s += "<project><master_url>" + p.first + "</master_url><project_name>" + p.second +
             "</project_name></project>";
    return s + "</client_state>";
}

std::string text(const NAttrString& line)
{
    std::string s;
    for (const auto& f : line)
        s += f.text;
    return s;
}

std::vector<std::string> texts(const std::vector<std::unique_ptr<NAttrString>>& lines)
{
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(text(*l));
    return out;
}

// Projects A (days 1-3) and B (days 2-3): the table everybody knows.
const std::string kAB = projectstats("http://a/", daily(1, "100", "1000") + daily(2, "150", "1100") +
                                                      daily(3, "210", "1150")) +
                        projectstats("http://b/", daily(2, "1000", "5000") + daily(3, "1030", "5400"));
const std::string kABState = state({{"http://a/", "A"}, {"http://b/", "B"}});

const char kHeaderAB[] = "           Summary           A           B ";

class StatTest : public NcursesTest {
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
    std::vector<std::string> table(const std::string& stats, const std::string& st, bool hostmode = true,
                                   size_t first = 0)
    {
        auto s = parse("<statistics>" + stats + "</statistics>");
        auto t = st.empty() ? nullptr : parse(st);
        return texts(statlines(buildstattable(s.get(), t.get(), hostmode), hostmode, first));
    }
    void push(const std::string& stats, const std::string& st = kABState)
    {
        srv.statesnapshots.push(parse(st));
        srv.statisticssnapshots.push(parse("<statistics>" + stats + "</statistics>"));
    }
    void open(Srv* host)
    {
        win = std::make_unique<StatWin>(host);
    }
    bool offer(NEvent&& ev)
    {
        win->eventhandle(&ev);
        return ev.done;
    }
    void key(int k) { offer(NEvent(evKB, k)); }
    void tick() { offer(NEvent(evTIMER, 0)); }
    std::string row(int r) { return rowtext(win->content->win, r, 0, win->content->rect.cols); }

    ScopedEnv tz{"TZ", "UTC"};
    Srv srv{"127.0.0.1", "31416", "", ""};
    std::unique_ptr<StatWin> win;
};

} // namespace

TEST_F(StatTest, TwoProjectsInHostAndUserMode)
{
    EXPECT_EQ(table(kAB, kABState), (std::vector<std::string>{
                                        kHeaderAB,
                                        " 4 Jan             90          60          30 ",
                                        " 3 Jan             50          50           - ",
                                    }));
    // User credit: A gained 100 and 50, B 400, so B comes first.
    EXPECT_EQ(table(kAB, kABState, false), (std::vector<std::string>{
                                               "           Summary           B           A ",
                                               " 4 Jan            450         400          50 ",
                                               " 3 Jan            100           -         100 ",
                                           }));
    // Scrolled past A: its days stay in the Summary, only B's days are listed.
    EXPECT_EQ(table(kAB, kABState, true, 1), (std::vector<std::string>{
                                                 "           Summary           B ",
                                                 " 4 Jan             90          30 ",
                                             }));
}

TEST_F(StatTest, NamesSingleEntriesAndUnknownProjects)
{
    const std::string stats = projectstats("http://a/", daily(1, "5")) +
                              projectstats("http://gone/", daily(1, "0") + daily(2, "7")) +
                              projectstats("http://long/", daily(1, "0") + daily(2, "3"));
    const std::string st = state({{"http://a/", "A"}, {"http://long/", "Fourteen bytes"}});
    EXPECT_EQ(table(stats, st), (std::vector<std::string>{
                                    "           Summary         ???  Fourteen b           A ",
                                    " 3 Jan             10           7           3           - ",
                                }));
    EXPECT_EQ(table(stats, "")[0], "           Summary         ???         ???         ??? ")
        << "no state yet: no project is known";
    // Client text never reaches the terminal as a command; a long name is cut, not wrapped.
    auto lines = table(projectstats("http://x/", daily(1, "0") + daily(2, "1")),
                       state({{"http://x/", "\x7f[2Jü\tname that goes on"}}));
    EXPECT_EQ(lines[0], "           Summary  ?[2Jü name ");
}

TEST_F(StatTest, EqualGainsKeepTheReplysOrderAndLossesDoNotLead)
{
    std::string stats;
    for (const char* url : {"http://c/", "http://a/", "http://b/"})
        stats += projectstats(url, daily(1, "0") + daily(2, "10"));
    stats += projectstats("http://loss/", daily(1, "100") + daily(2, "40"));
    stats += projectstats("http://big/", daily(1, "0") + daily(2, "20"));
    const std::string st = state({{"http://a/", "A"}, {"http://b/", "B"}, {"http://c/", "C"},
                                  {"http://loss/", "L"}, {"http://big/", "Big"}});
    EXPECT_EQ(table(stats, st)[0], "           Summary         Big           C           A           B           L ");
    EXPECT_EQ(table(stats, st)[1], " 3 Jan            -10          20          10          10          10         -60 ");
    // Enough equal columns for an unstable sort to mix them up: evens gain 9, odds 5.
    std::string many;
    std::vector<std::pair<std::string, std::string>> names;
    for (int i = 0; i < 40; ++i) {
        const std::string url = "http://p" + std::to_string(i) + "/";
        many += projectstats(url, daily(1, "0") + daily(2, i % 2 ? "5" : "9"));
        names.push_back({url, "p" + std::to_string(i)});
    }
    auto parsed = parse("<statistics>" + many + "</statistics>");
    auto named = parse(state(names));
    StatTable t = buildstattable(parsed.get(), named.get(), true);
    ASSERT_EQ(t.columns.size(), 40u);
    for (size_t i = 0; i < 40; ++i)
        EXPECT_EQ(t.columns[i].name, "p" + std::to_string(i < 20 ? 2 * i : 2 * (i - 20) + 1)) << i;
}

TEST_F(StatTest, HostileNumbersKeepToTheirColumns)
{
    const struct {
        std::string days;
        const char* cell;
    } cases[] = {
        {daily(1, "0") + daily(2, "nan"), "0"},
        {daily(1, "0") + daily(2, "inf"), "9.2000e+18"},
        {daily(1, "0") + daily(2, "1e300"), "9.2000e+18"},
        {daily(1, "1e300") + daily(2, "0"), "-9.200e+18"},
        {daily(1, "0") + daily(2, "lots"), "0"},
        {daily(1, "0") + daily(2, "12345678901.9"), "1.2346e+10"},
        {daily(1, "0") + daily(2, "-1"), "-"},
    };
    for (const auto& c : cases) {
        auto lines = table(projectstats("http://a/", c.days), kABState);
        ASSERT_EQ(lines.size(), 2u) << c.days;
        EXPECT_EQ(lines[1].size(), 22u + 12u) << lines[1];
        EXPECT_EQ(lines[1].substr(22 + 1, 10), std::string(10 - strlen(c.cell), ' ') + c.cell) << c.days;
    }
    // Days from before 1970 or beyond any calendar still give a row of the same width.
    std::string odd = "<daily_statistics><day>0</day></daily_statistics>";
    for (const char* day : {"-86400", "1e300", "-1e300", "nan"})
        odd += std::string("<daily_statistics><day>") + day + "</day></daily_statistics>";
    auto lines = table(projectstats("http://a/", odd), kABState);
    ASSERT_EQ(lines.size(), 5u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].size(), 22u + 12u) << lines[i];
    EXPECT_EQ(lines[1].substr(0, 10), "?         ") << "beyond any calendar";
    EXPECT_EQ(lines[2].substr(0, 10), " 1 Jan    ") << "nan: the epoch";
    EXPECT_EQ(lines[3].substr(0, 10), "31 Dec    ");
    EXPECT_EQ(lines[4].substr(0, 10), "?         ");
    EXPECT_EQ(statgaintext(UINT64_C(0x8000000000000000), 10), "-9.223e+18");
}

TEST_F(StatTest, WindowShowsTheTableAndSwitchesHostAndUser)
{
    lineDrawMode = 1;
    push(kAB);
    open(&srv);
    // Three lines, the widest 46 characters, in a frame, centred on the 24x80 screen.
    EXPECT_EQ(win->rect.rows, 7);
    EXPECT_EQ(win->rect.cols, 50);
    EXPECT_EQ(win->rect.begrow, 12 - 3);
    EXPECT_EQ(win->rect.begcol, 40 - 25);
    const std::string left = "+" + std::string(15, '-'), right = std::string(14, '-') + "+";
    EXPECT_EQ(rowtext(win->win, 0), left + " Statistics [host] " + right);
    EXPECT_EQ(win->caption, " Statistics [host] ");
    EXPECT_EQ(row(0), std::string(kHeaderAB) + "   ") << "the header is 3 shorter than a row";
    EXPECT_EQ(row(1), " 4 Jan             90          60          30 ");
    short fg = 0, bg = 0;
    pair_content(static_cast<short>(cellpair(win->content->win, 0, 29)), &fg, &bg);
    EXPECT_EQ(fg, 1) << "project names in red";
    EXPECT_NE(cellat(win->content->win, 1, 0) & A_BOLD, 0u);

    key('u');
    EXPECT_EQ(win->caption, " Statistics [user] ");
    EXPECT_EQ(rowtext(win->win, 0), left + " Statistics [user] " + right);
    EXPECT_EQ(row(1), " 4 Jan            450         400          50 ");
    key('U');
    EXPECT_EQ(row(1), " 4 Jan             90          60          30 ");
    EXPECT_EQ(win->caption, " Statistics [host] ");
}

TEST_F(StatTest, RightStopsAtTheColumnRuleAndPagesScroll)
{
    reopen({40, 90});
    std::string stats, days;
    for (int d = 0; d <= 60; ++d)
        days += daily(d, std::to_string(d * 100));
    std::vector<std::pair<std::string, std::string>> names;
    for (int p = 0; p < 8; ++p) {
        stats += projectstats("http://p" + std::to_string(p) + "/", days);
        names.push_back({"http://p" + std::to_string(p) + "/", "P" + std::to_string(p)});
    }
    push(stats, state(names));
    open(&srv);
    ASSERT_EQ(win->rect.cols, 80);
    ASSERT_EQ(win->rect.rows, 30);
    for (int i = 0; i < 6; ++i)
        key(KEY_RIGHT);
    EXPECT_EQ(win->hscroll, 4) << "(8 - 4) * 10 + 38 <= 80";
    EXPECT_EQ(row(0).substr(0, 31), "           Summary          P4 ");
    key(KEY_LEFT);
    EXPECT_EQ(win->hscroll, 3);
    EXPECT_EQ(row(1).substr(0, 34), std::string(" 1 Mar    ") + "        800 " + "        100 ");
    // 60 days and the header in 26 rows; a page is half the window's 30 rows.
    key(KEY_NPAGE);
    EXPECT_EQ(win->content->getstartline(), 15);
    tick();
    EXPECT_EQ(win->content->getstartline(), 15) << "the first row shown survives a rebuild";
    key(KEY_NPAGE);
    key(KEY_NPAGE);
    EXPECT_EQ(win->content->getstartline(), 61 - 26);
    key(KEY_PPAGE);
    EXPECT_EQ(win->content->getstartline(), 20);
}

TEST_F(StatTest, WindowOpenedBeforeTheDataFitsItOnce)
{
    lineDrawMode = 1;
    open(&srv);
    EXPECT_EQ(win->rect.rows, 4);
    EXPECT_EQ(win->rect.cols, 4);
    EXPECT_EQ(rowtext(win->win, 3), "+--+") << "a host: framed even while empty";
    push(kAB);
    tick();
    EXPECT_EQ(win->rect.rows, 7);
    EXPECT_EQ(win->rect.cols, 50);
    EXPECT_EQ(win->rect.begcol, 40 - 25) << "centred again";
    EXPECT_EQ(row(2), " 3 Jan             50          50           - ");
    push(kAB + projectstats("http://c/", daily(0, "0") + daily(1, "1") + daily(2, "2") + daily(3, "3")));
    tick();
    EXPECT_EQ(win->rect.rows, 7) << "sized once only";
    EXPECT_EQ(win->rect.cols, 50);
    EXPECT_EQ(win->content->rect.cols, 46);
    EXPECT_EQ(row(1), " 4 Jan             91          60          30 ")
        << "the table fills the window as far as it fits";
}

TEST_F(StatTest, NoHostAndTinyTerminals)
{
    lineDrawMode = 1;
    open(nullptr);
    EXPECT_EQ(win->rect.rows, 4);
    EXPECT_EQ(win->rect.cols, 4);
    tick();
    EXPECT_EQ(rowtext(win->win, 0), "    ") << "no host: no frame, no title";
    EXPECT_EQ(win->content->getstringcount(), 0);
    win.reset();

    for (auto size : {std::make_pair(12, 30), std::make_pair(7, 20), std::make_pair(3, 3)}) {
        reopen({size.first, size.second});
        push(kAB);
        open(&srv);
        EXPECT_LE(win->rect.rows, size.first);
        EXPECT_LE(win->rect.cols, size.second);
        EXPECT_GE(std::min(win->content->rect.rows, win->content->rect.cols), 0);
        EXPECT_LE(win->rect.begrow + win->rect.rows, size.first);
        EXPECT_LE(win->rect.begcol + win->rect.cols, size.second);
        ASSERT_TRUE(win->win.get());
        key(KEY_RIGHT);
        key(KEY_NPAGE);
        tick();
        win.reset();
    }
}
