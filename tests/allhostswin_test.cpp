#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "allhostswin.h"
#include "config.h"
#include "fakeserver.h"
#include "linkwaits.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "srvlist.h"
#include "tuievent.h"

namespace {

const long long kNow = 1700000000;

HostRow row(int index, HostState state, const std::string& label = "box")
{
    HostRow r;
    r.index = index;
    r.serial = static_cast<unsigned long long>(index) + 1;
    r.label = label;
    r.address = "10.0.0." + std::to_string(index) + ":31416";
    r.status.state = state;
    return r;
}

HostRow withfigures(HostRow r, int errors, double deadlinein, bool atrisk = false)
{
    HostFigures& f = r.status.figures;
    r.status.hasfigures = true;
    f.version = "7.20.5";
    f.taskmode = 2;
    f.hastasks = true;
    f.running = 2;
    f.total = 14;
    f.errors = errors;
    f.hasdeadline = deadlinein > -1e8;
    f.deadline = static_cast<double>(kNow) + deadlinein;
    f.atrisk = atrisk;
    f.hascredit = true;
    f.credit = 1234.56;
    r.status.lastanswer = kNow - 12;
    return r;
}

} // namespace

TEST(AllHostsLine, ColumnsOfEachKindOfHost)
{
    HostRow fresh = row(0, HostState::connecting, "");
    HostRow online = withfigures(row(1, HostState::online, "cruncher"), 0, 5 * 86400);
    online.current = true;
    HostRow stale = withfigures(row(2, HostState::noanswer, "stale"), 3, 3600, true);
    stale.status.lastanswer = kNow - 300;
    stale.status.figures.taskmode = 3;
    stale.status.figures.taskmodedelay = 2520;
    HostRow hostile = row(3, HostState::unauthorized, "a\033[2Jb very long label");
    hostile.address = std::string(40, 'h') + ":1";
    EXPECT_EQ(hostheader(),
              "  label        host:port             state        version run mode         tasks err "
              "deadline    credit answered");
    struct Case {
        const HostRow& r;
        const char* line;
    } cases[] = {
        {fresh, "               10.0.0.0:31416        connecting   -       -                    -   - "
                "-                - -       "},
        {online, "* cruncher     10.0.0.1:31416        online       7.20.5  auto              2/14   0 "
                 "5d          1234.6 12s ago "},
        {stale, "  stale        10.0.0.2:31416        no answer    7.20.5  snoozed 42m       2/14   3 "
                "60m !       1234.6 5m ago  "},
        {hostile, "  a?[2Jb very  hhhhhhhhhhhhhhhhhhhhh unauthorized -       -                    -   - "
                  "-                - -       "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hostlinetext(c.r, kNow), c.line);
}

TEST(AllHostsLine, WordsForModesTimesAndAges)
{
    struct Mode {
        int mode;
        double delay;
        const char* text;
    } modes[] = {{0, 0, "-"}, {1, 0, "always"}, {2, 0, "auto"}, {3, 0, "never"}, {7, 0, "-"},
                 {3, 2520, "snoozed 42m"}, {3, 20, "snoozed 1m"}, {1, 7200, "always 2h"},
                 {3, 1e300, "snoozed inf"}};
    for (const Mode& m : modes) {
        HostFigures f;
        f.taskmode = m.mode;
        f.taskmodedelay = m.delay;
        EXPECT_EQ(runmodetext(f), m.text) << m.mode << " " << m.delay;
    }
    struct Left {
        double in;
        const char* text;
    } left[] = {{30, "30s"}, {2520, "42m"}, {3 * 86400, "72h"}, {5 * 86400, "5d"}, {0, "late"},
                {1e300, "inf"}};
    for (const Left& l : left)
        EXPECT_EQ(timelefttext(static_cast<double>(kNow) + l.in, kNow), l.text) << l.in;
    EXPECT_EQ(agotext(0, kNow), "-");
    EXPECT_EQ(agotext(kNow - 7200, kNow), "2h ago");
    EXPECT_EQ(agotext(kNow + 50, kNow), "0s ago") << "a clock set back is no future answer";
}

TEST(AllHostsLine, SortModes)
{
    std::vector<HostRow> rows = {
        withfigures(row(0, HostState::online), 0, 9000),
        row(1, HostState::connecting),
        withfigures(row(2, HostState::offline), 5, 100),
        withfigures(row(3, HostState::online), 2, 50),
        row(4, HostState::noanswer),
        withfigures(row(5, HostState::unauthorized), 2, -1e9), // no deadline
    };
    struct Case {
        int mode;
        std::vector<int> order;
    } cases[] = {
        {kSortOrder, {0, 1, 2, 3, 4, 5}},
        {kSortState, {2, 4, 5, 1, 0, 3}},
        {kSortDeadline, {3, 2, 0, 1, 4, 5}},
        {kSortErrors, {2, 3, 5, 0, 1, 4}},
    };
    for (const Case& c : cases) {
        std::vector<HostRow> sorted = rows;
        std::reverse(sorted.begin(), sorted.end()); // the list order must come from the rule
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&c](const HostRow& a, const HostRow& b) { return hostbefore(c.mode, a, b); });
        std::vector<int> got;
        for (const HostRow& r : sorted)
            got.push_back(r.index);
        EXPECT_EQ(got, c.order) << sortname(c.mode);
    }
}

namespace {

class AllHostsWinTest : public NcursesTest {
protected:
    LinkWaits waits{1000, 1000, 400};
    Config cfg{".varnix-test-no-such-file.cfg"};
    Config* saved = gConfig;
    FakeServer a{"pw"}, b{"pw"}, hung{"pw"};
    std::unique_ptr<SrvList> list;
    HostPoller poller;
    std::unique_ptr<TestProgram> prog;

    void SetUp() override
    {
        NcursesTest::SetUp();
        reopen({30, 120});
        gConfig = &cfg;
        hung.setfault("*", Fault::stall);
        std::string text;
        for (auto* f : {&a, &b, &hung})
            text += "<server><host>127.0.0.1</host><port>" + f->portstr() + "</port><pwd>pw</pwd></server>";
        configure(text);
        prog = std::make_unique<TestProgram>();
    }
    void TearDown() override
    {
        prog.reset();
        list.reset();
        gConfig = saved;
        NcursesTest::TearDown();
    }
    // What the host list editor does: a new list of hosts.
    void configure(const std::string& servers)
    {
        std::string text = "<varnix_cfg>" + servers + "</varnix_cfg>", err;
        cfg.root = parsexml(text.data(), text.size(), err);
        if (list)
            list->refill();
        else
            list = std::make_unique<SrvList>();
    }
    AllHostsWin* open() { return prog->insert(std::make_unique<AllHostsWin>(*list, poller)); }
    bool key(int code)
    {
        prog->queued().clear();
        NEvent ev(evKB, code);
        prog->eventhandle(&ev);
        return ev.done;
    }
    void tick()
    {
        NEvent ev(evTIMER, 0);
        prog->eventhandle(&ev);
    }
    unsigned long long serial(size_t i) const { return list->servers[i]->serial; }
};

} // namespace

TEST_F(AllHostsWinTest, ShowsEveryHostAndSwitchesToTheChosenOne)
{
    AllHostsWin* w = open();
    // At once: every host, the current one marked and selected, the others still unknown.
    ASSERT_EQ(w->getrows().size(), 3u);
    EXPECT_TRUE(w->getrows()[0].current);
    EXPECT_EQ(w->selectedserial(), serial(0));
    EXPECT_EQ(w->getrows()[1].status.state, HostState::connecting);
    EXPECT_EQ(w->rect.rows, 6) << "frame, titles and three hosts";
    EXPECT_NE(screen->screentext().find("All hosts [list order]"), std::string::npos);
    bool done = false;
    for (int i = 0; i < 400 && !done; ++i, usleep(25000)) {
        tick();
        const auto& r = w->getrows();
        done = r[0].status.hasfigures && r[1].status.state == HostState::online &&
               r[2].status.state == HostState::noanswer;
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(w->getrows()[0].status.figures.total, 6) << "the current host from its own snapshots";
    EXPECT_EQ(a.countof("get_results"), 0u) << "and not polled a second time";

    // Problems first; the selection follows its host; "S" sorts too, it suspends nothing.
    EXPECT_TRUE(key('s'));
    EXPECT_EQ(w->gettitle(), "All hosts [state]");
    EXPECT_EQ(w->getrows()[0].serial, serial(2));
    EXPECT_EQ(w->selectedserial(), serial(0));
    for (int k : {'S', 's', 's'})
        EXPECT_TRUE(key(k));
    EXPECT_EQ(w->gettitle(), "All hosts [list order]");

    for (int k : {KEY_UP, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_UP}) // no further than the ends
        EXPECT_TRUE(key(k));
    EXPECT_TRUE(key(kKeyEnter));
    ASSERT_EQ(prog->queued().size(), 1u);
    auto* ev = dynamic_cast<TuiEvent*>(prog->queued().front().get());
    ASSERT_TRUE(ev && ev->keycode == evSWITCHHOST);
    EXPECT_EQ(ev->srv, list->servers[1].get());
    EXPECT_FALSE(key('O')) << "O closes the window through the application";
    EXPECT_FALSE(key(27));

    // Closing stops the extra polls and their connections.
    prog->destroybyid("11AllHostsWin");
    EXPECT_FALSE(poller.active());
    for (int i = 0; i < 200 && b.openconnections() + hung.openconnections() > 0; ++i)
        usleep(10000);
    EXPECT_EQ(b.openconnections() + hung.openconnections(), 0);
}

TEST_F(AllHostsWinTest, HostListRebuiltUnderTheWindowAndTinyScreens)
{
    AllHostsWin* w = open();
    ASSERT_TRUE(b.waitforname("auth1"));
    configure("<server><host>127.0.0.1</host><port>" + b.portstr() + "</port><pwd>pw</pwd></server>");
    tick();
    ASSERT_EQ(w->getrows().size(), 1u);
    EXPECT_EQ(w->rect.rows, 4);
    EXPECT_EQ(w->selectedserial(), serial(0));
    EXPECT_TRUE(poller.statuses().empty()) << "the only host is current";
    configure("");
    tick();
    EXPECT_TRUE(w->getrows().empty());
    EXPECT_TRUE(key(kKeyEnter));
    EXPECT_TRUE(prog->queued().empty());

    for (auto size : {NcursesScreen::Options{5, 30}, NcursesScreen::Options{2, 8}}) {
        prog.reset();
        reopen(size);
        prog = std::make_unique<TestProgram>();
        w = open();
        EXPECT_TRUE(w->rect.rows <= size.rows && w->rect.cols <= size.cols) << size.rows;
        EXPECT_TRUE(w->rect.begrow >= 0 && w->rect.begcol >= 0) << size.rows;
        tick();
        EXPECT_TRUE(key(KEY_DOWN));
    }
}
