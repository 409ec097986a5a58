#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "config.h"
#include "ndraw.h"
#include "fakeserver.h"
#include "infopanel.h"
#include "ncursesfixture.h"
#include "parsetext.h"
#include "srv.h"
#include "tempdir.h"

namespace {

std::string num(double v)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

std::string daily(double day, double user, double host, double useravg = 0, double hostavg = 0)
{
    return "<daily_statistics><day>" + num(day) + "</day><user_total_credit>" + num(user) +
           "</user_total_credit><user_expavg_credit>" + num(useravg) +
           "</user_expavg_credit><host_total_credit>" + num(host) +
           "</host_total_credit><host_expavg_credit>" + num(hostavg) +
           "</host_expavg_credit></daily_statistics>";
}

std::string projectstats(const std::string& url, const std::string& days)
{
    return "<project_statistics><master_url>" + url + "</master_url>" + days + "</project_statistics>";
}

std::string project(const std::string& url, const std::string& name, const std::string& more = "")
{
    return "<project><master_url>" + url + "</master_url><project_name>" + name + "</project_name>" +
           more + "</project>";
}

class InfoPanelTest : public NcursesTest {
protected:
    void SetUp() override
    {
        reopen({60, 80});
        tzset();
        panel = std::make_unique<InfoPanel>(NRect{0, 0, 50, 20});
        panel->srv = &srv;
    }
    void TearDown() override
    {
        panel.reset();
        NcursesTest::TearDown();
        tzset();
    }

    void state(const std::string& inner)
    {
        srv.statesnapshots.push(parse("<client_state>" + inner + "</client_state>"));
    }
    void disk(const std::string& inner)
    {
        srv.diskusagesnapshots.push(parse("<disk_usage_summary>" + inner + "</disk_usage_summary>"));
    }
    void stats(const std::string& inner)
    {
        srv.statisticssnapshots.push(parse("<statistics>" + inner + "</statistics>"));
    }
    void tick()
    {
        NEvent ev(evTIMER, 0);
        panel->eventhandle(&ev);
        EXPECT_FALSE(ev.done) << "the panel consumes nothing";
    }
    std::string row(int r) { return rowtext(panel->win, r); }
    short fg(int r, int c)
    {
        short f = 0, b = 0;
        pair_content(static_cast<short>(cellpair(panel->win, r, c)), &f, &b);
        return f;
    }

    ScopedEnv tz{"TZ", "UTC"};
    Srv srv{"127.0.0.1", "31416", "", ""};
    std::unique_ptr<InfoPanel> panel;
    const int64_t today = static_cast<int64_t>(std::time(nullptr)) / 86400 * 86400;
};

} // namespace

TEST_F(InfoPanelTest, TaskCountsAndStorage)
{
    state("<result><active_task><active_task_state>1</active_task_state></active_task></result>"
          "<result><active_task><active_task_state>9</active_task_state></active_task></result>"
          "<result><ready_to_report/></result><result/><result/>");
    disk("<project><disk_usage>1073741824</disk_usage></project><project><disk_usage>536870912"
         "</disk_usage></project><d_total>500000000000</d_total><d_free>85200703488</d_free>"
         "<d_boinc>536870912</d_boinc><d_allowed>1e20</d_allowed>");
    tick();
    EXPECT_EQ(panel->nall, 5);
    EXPECT_EQ(panel->nactive, 2);
    EXPECT_EQ(panel->nrun, 1);
    EXPECT_EQ(panel->nwait, 2);
    EXPECT_EQ(panel->ndone, 1);
    EXPECT_EQ(panel->nother, 1);
    EXPECT_EQ(row(0), "       Tasks        ");
    EXPECT_NE(cellat(panel->win, 0, 0) & A_REVERSE, 0u);
    EXPECT_EQ(row(1), "all                5");
    EXPECT_EQ(row(2), "active             2");
    EXPECT_EQ(row(6), "other              1");
    EXPECT_EQ(row(7), "      Storage       ");
    EXPECT_EQ(row(8), "total       465.66Gb");
    EXPECT_EQ(row(9), "free         79.35Gb");
    EXPECT_EQ(row(10), "allowed   9.31e+10Gb") << "a huge figure keeps to its row";
    EXPECT_EQ(row(11), "boinc         2.00Gb");
    EXPECT_EQ(row(12), "     Statistics     ");
}

TEST_F(InfoPanelTest, OfflineHostAndNoHost)
{
    panel->refresh();
    EXPECT_EQ(trimmedrow(panel->win, 0), "127.0.0.1:31416");
    EXPECT_EQ(trimmedrow(panel->win, 1), "offline");
    panel->srv = nullptr;
    werase(panel->win);
    tick();
    EXPECT_EQ(trimmedrow(panel->win, 0), "") << "no host: nothing drawn";
}

TEST_F(InfoPanelTest, TotalsAveragesDateAndGain)
{
    state(project("http://a/", "Alpha") + project("http://b/", "Beta"));
    disk("");
    stats(projectstats("http://a/", daily(today - 86400, 1000, 500, 10, 5) + daily(today, 1300, 700, 12, 7)) +
          projectstats("http://b/", daily(today, 200, 200.5, 3, 3)));
    tick();
    EXPECT_EQ(panel->laststatday, today);
    EXPECT_DOUBLE_EQ(panel->usertotal, 1500);
    EXPECT_DOUBLE_EQ(panel->hosttotal, 900.5);
    // Alpha gained 300 and 200; Beta has only today's entry, which counts whole.
    EXPECT_DOUBLE_EQ(panel->userdaily, 500);
    EXPECT_DOUBLE_EQ(panel->hostdaily, 400.5);
    EXPECT_EQ(row(13), "user total      1500");
    EXPECT_EQ(row(14), "host total       900");
    EXPECT_EQ(row(15), "user avg          15");
    EXPECT_EQ(row(16), "host avg          10");
    std::string date = row(17);
    EXPECT_EQ(date.substr(date.find(' ') + 4, 6), " today");
    EXPECT_TRUE(isacs(panel->win, 18, 0, ACS_LTEE));
    EXPECT_TRUE(isacs(panel->win, 18, 1, ACS_HLINE));
    EXPECT_EQ(rowtext(panel->win, 18, 2), ">user          500");
    EXPECT_TRUE(isacs(panel->win, 19, 0, ACS_LLCORNER));
    EXPECT_EQ(rowtext(panel->win, 19, 2), ">host          400");
    EXPECT_EQ(trimmedrow(panel->win, 20), "");
    // Alpha first: same day, larger gain.
    ASSERT_EQ(panel->projects.size(), 2u);
    EXPECT_EQ(row(21).substr(0, 5), "Alpha");
    EXPECT_EQ(fg(21, 0), 3);
    EXPECT_EQ(row(22), "user total      1300");
    EXPECT_EQ(row(23), "host total       700");
    EXPECT_EQ(rowtext(panel->win, 25, 2), ">user          300");
    EXPECT_EQ(rowtext(panel->win, 26, 2), ">host          200");
    EXPECT_EQ(row(27).substr(0, 4), "Beta");
    EXPECT_EQ(row(28), "total            200") << "within one credit: one line";
    EXPECT_TRUE(isacs(panel->win, 30, 0, ACS_LLCORNER));
    EXPECT_EQ(rowtext(panel->win, 30, 2), ">daily         200");
}

TEST_F(InfoPanelTest, AsciiGainLines)
{
    lineDrawMode = 1;
    state(project("http://a/", "Alpha"));
    disk("");
    stats(projectstats("http://a/", daily(today - 86400, 100, 100) + daily(today, 150, 150)));
    tick();
    EXPECT_EQ(row(16), "-->daily          50");
    EXPECT_EQ(row(21), "-->daily          50");
    stats(projectstats("http://a/", daily(today - 86400, 100, 100) + daily(today, 150, 110)));
    tick();
    EXPECT_EQ(row(17), "+->user           50");
    EXPECT_EQ(row(18), "+->host           10");
}

TEST_F(InfoPanelTest, DayWords)
{
    EXPECT_EQ(dayword(today), "today");
    EXPECT_EQ(dayword(today + 86399), "today");
    EXPECT_EQ(dayword(today - 1), "yesterday");
    EXPECT_EQ(dayword(today - 86400), "yesterday");
    EXPECT_EQ(dayword(today - 86401), "");
    EXPECT_EQ(dayword(0), "");
}

TEST_F(InfoPanelTest, ProjectOrderFlagsAndBlocksThatFit)
{
    panel.reset();
    reopen({40, 80});
    panel = std::make_unique<InfoPanel>(NRect{0, 0, 30, 20});
    panel->srv = &srv;
    const std::string projects = project("http://old/", "Old") + project("http://small/", "Small");
    state(projects + project("http://big/", "Big"));
    disk("");
    stats(projectstats("http://old/", daily(today - 86400, 10, 10)) +
          projectstats("http://small/", daily(today - 86400, 10, 10) + daily(today, 20, 20)) +
          projectstats("http://big/", daily(today - 86400, 10, 10) + daily(today, 100, 100)));
    tick();
    ASSERT_EQ(panel->projects.size(), 3u);
    // Newest day first, then the larger gain.
    EXPECT_EQ(panel->projects[0].name, "Big");
    EXPECT_EQ(panel->projects[1].name, "Small");
    EXPECT_EQ(panel->projects[2].name, "Old");
    // Rows 13-16 for the host, a blank row, then three blocks of 4 rows: all fit.
    EXPECT_EQ(trimmedrow(panel->win, 18), "Big");
    EXPECT_EQ(trimmedrow(panel->win, 22), "Small");
    EXPECT_EQ(trimmedrow(panel->win, 26), "Old");
    EXPECT_NE(row(28).find("yesterday"), std::string::npos);

    // A flags line makes Big one row longer: Old no longer fits whole, and its rows go.
    state(projects + project("http://big/", "Big", "<suspended_via_gui/><dont_request_more_work/>"));
    tick();
    EXPECT_EQ(panel->projects[0].flags, "[Susp.] [N.N.Tsk.] ");
    EXPECT_EQ(row(19), "[Susp.] [N.N.Tsk.]  ");
    EXPECT_EQ(fg(19, 0), 1);
    EXPECT_EQ(fg(20, 0), 7);
    EXPECT_EQ(trimmedrow(panel->win, 23), "Small");
    EXPECT_EQ(rowtext(panel->win, 26, 2), ">daily          10");
    for (int r = 27; r < 30; ++r)
        EXPECT_EQ(trimmedrow(panel->win, r), "") << r;
}

TEST_F(InfoPanelTest, HostileFiguresKeepThePanelInShape)
{
    std::string results;
    for (int i = 0; i < 5000; ++i)
        results += "<result/>";
    state(results + "<project><master_url>http://x/</master_url><project_name>A project name far "
                    "longer than the panel\xc2\x9b</project_name></project>");
    disk("<d_total>nan</d_total><d_free>-inf</d_free><d_boinc>abc</d_boinc>");
    stats(projectstats("http://x/", daily(1e300, 1e300, -1e300) + "<daily_statistics/>" +
                                        "<daily_statistics><day>nan</day></daily_statistics>") +
          "<project_statistics/>");
    tick();
    EXPECT_EQ(row(1), "all             5000");
    for (int r = 0; r < panel->rect.rows; ++r) {
        std::string text = row(r);
        EXPECT_EQ(text.find('\x9b'), std::string::npos) << r;
    }
    // Every figure stays on its own row: the next heading is where it belongs.
    EXPECT_EQ(row(12), "     Statistics     ");
    ASSERT_EQ(panel->projects.size(), 2u);
    EXPECT_EQ(panel->projects[1].name, "???") << "no master_url";
}

// The whole chain from the real reply texts of a client.
TEST_F(InfoPanelTest, FiguresOfCapturedReplies)
{
    srv.statesnapshots.push(parse(readfixture("get_state.xml")));
    srv.diskusagesnapshots.push(parse(readfixture("get_disk_usage.xml")));
    srv.statisticssnapshots.push(parse(readfixture("get_statistics.xml")));
    tick();
    EXPECT_EQ(panel->nall, 6);
    EXPECT_EQ(panel->laststatday, srv.laststatisticsday());
    EXPECT_EQ(row(8), "total       251.97Gb");
    ASSERT_EQ(panel->projects.size(), 2u);
    EXPECT_EQ(panel->projects[0].name, "Alpha@Home");
    EXPECT_DOUBLE_EQ(panel->projects[0].userdaily, 150.25);
    EXPECT_DOUBLE_EQ(panel->projects[1].userdaily, 310) << "a single entry gains its whole total";
    EXPECT_DOUBLE_EQ(panel->userdaily, 150.25) << "Beta has no entry of the newest day";
}

// The statistics are summed up once per snapshot, while names and flags follow every new
// state: each kind of change shows at the next tick, and only that one.
TEST_F(InfoPanelTest, NewStateOrStatisticsShowAtTheNextTick)
{
    disk("<d_total>1</d_total>");
    state(project("http://a/", "Alpha"));
    stats(projectstats("http://a/", daily(today - 86400, 100, 50) + daily(today, 150, 80)) +
          projectstats("http://b/", daily(today, 10, 10)));
    tick();
    ASSERT_EQ(panel->projects.size(), 2u);
    EXPECT_EQ(panel->projects[0].name, "Alpha");
    EXPECT_EQ(panel->projects[1].name, "???");
    EXPECT_DOUBLE_EQ(panel->usertotal, 160);
    EXPECT_DOUBLE_EQ(panel->userdaily, 60);

    // A new state: renamed and suspended, a second project; the same statistics.
    state(project("http://a/", "Alpha 2", "<suspended_via_gui/>") + project("http://b/", "Beta"));
    tick();
    ASSERT_EQ(panel->projects.size(), 2u);
    EXPECT_EQ(panel->projects[0].name, "Alpha 2");
    EXPECT_EQ(panel->projects[0].flags, "[Susp.] ");
    EXPECT_EQ(panel->projects[1].name, "Beta");
    EXPECT_DOUBLE_EQ(panel->usertotal, 160);

    // New statistics with the same shape but other figures, and a newer day.
    stats(projectstats("http://a/", daily(today, 200, 90) + daily(today + 86400, 230, 95)) +
          projectstats("http://b/", daily(today, 10, 10)));
    tick();
    EXPECT_DOUBLE_EQ(panel->usertotal, 240);
    EXPECT_DOUBLE_EQ(panel->userdaily, 30);
    EXPECT_EQ(panel->laststatday, today + 86400);
    EXPECT_EQ(panel->projects[0].name, "Alpha 2");
    EXPECT_DOUBLE_EQ(panel->projects[0].userdaily, 30);

    // Replacements in a row, which may well be given the memory of the tree before.
    for (int i = 0; i < 3; ++i) {
        stats(projectstats("http://b/", daily(today, 1000 + i, 10)));
        tick();
        ASSERT_EQ(panel->projects.size(), 1u);
        EXPECT_EQ(panel->projects[0].name, "Beta");
        EXPECT_DOUBLE_EQ(panel->usertotal, 1000 + i);
    }
}
