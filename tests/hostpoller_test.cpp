#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakeserver.h"
#include "hostpoller.h"
#include "item.h"
#include "linkwaits.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

bool eventually(const std::function<bool()>& cond, int timeoutms = 20000)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeoutms);
    while (Clock::now() < end) {
        if (cond())
            return true;
        usleep(5000);
    }
    return cond();
}

const double kNow = 1700000000.0;
const double kNone = std::numeric_limits<double>::quiet_NaN();

// A result: state, active task state (-1: none), deadline and estimate relative to kNow.
std::string result(int state, int active, double deadlinein, double estimate, bool ready = false)
{
    std::string r = "<result><name>t</name><state>" + std::to_string(state) + "</state>";
    if (!std::isnan(deadlinein))
        r += "<report_deadline>" + std::to_string(kNow + deadlinein) + "</report_deadline>";
    r += "<estimated_cpu_time_remaining>" + std::to_string(estimate) + "</estimated_cpu_time_remaining>";
    if (ready)
        r += "<ready_to_report/>";
    if (active >= 0)
        r += "<active_task><active_task_state>" + std::to_string(active) +
             "</active_task_state></active_task>";
    return r + "</result>";
}

} // namespace

TEST(HostFiguresTest, DeadlineAtRisk)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double deadlinein, remaining;
        bool atrisk;
    } cases[] = {
        {7200, 3600, false}, {3600, 3600, false}, {3599, 3600, true},
        {-10, 0, true},      // passed, nothing left to compute: late all the same
        {10, -500, false},   // a negative estimate counts as none
        {kNone, 10, false}, {0, kNone, false}, {inf, 10, false}, {0, inf, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(deadlineatrisk(kNow + c.deadlinein, c.remaining, kNow), c.atrisk)
            << c.deadlinein << " " << c.remaining;
}

TEST(HostFiguresTest, TasksRunningErrorsAndTheNearestDeadline)
{
    struct Case {
        const char* what;
        std::string results;
        int running, total, errors;
        double deadlinein; // kNone: no deadline
        bool atrisk;
    } cases[] = {
        {"none", "", 0, 0, 0, kNone, false},
        {"running and waiting", result(2, 1, 9000, 100) + result(2, 9, 5000, 100) + result(2, -1, 7000, 100),
         1, 3, 0, 5000, false},
        {"errors of three kinds, whose deadlines do not count",
         result(3, -1, 10, 9999) + result(6, -1, 20, 9999) + result(7, -1, 30, 9999) + result(2, -1, 900, 10),
         0, 4, 3, 900, false},
        {"uploaded or ready to report: done with", result(5, -1, 10, 0) + result(4, -1, 50, 0, true) +
         result(2, -1, 600, 0), 0, 3, 0, 600, false},
        {"uploading late", result(4, -1, -60, 0), 0, 1, 0, -60, true},
        {"one short of time, not the nearest", result(2, 1, 100, 50) + result(2, -1, 1000, 5000),
         1, 2, 0, 100, true},
        {"no deadline at all", result(2, -1, kNone, 10), 0, 1, 0, kNone, false},
    };
    for (const Case& c : cases) {
        auto tree = parse("<results>" + c.results + "</results>");
        HostFigures f;
        readtasks(tree->child("results"), kNow, f);
        EXPECT_TRUE(f.hastasks) << c.what;
        EXPECT_EQ(f.running, c.running) << c.what;
        EXPECT_EQ(f.total, c.total) << c.what;
        EXPECT_EQ(f.errors, c.errors) << c.what;
        EXPECT_EQ(f.hasdeadline, !std::isnan(c.deadlinein)) << c.what;
        if (f.hasdeadline) {
            EXPECT_NEAR(f.deadline - kNow, c.deadlinein, 0.01) << c.what;
        }
        EXPECT_EQ(f.atrisk, c.atrisk) << c.what;
    }
    HostFigures unknown;
    readtasks(nullptr, kNow, unknown);
    EXPECT_FALSE(unknown.hastasks);
}

namespace {

class HostPollerTest : public ::testing::Test {
protected:
    LinkWaits waits{1000, 1000, 400};
    int savedinterval = HostPoller::intervalms;
    int savedmax = HostPoller::maxinflight;
    std::vector<std::unique_ptr<FakeServer>> fakes;
    unsigned long long nextserial = 1000;
    HostPoller p;

    void TearDown() override
    {
        HostPoller::intervalms = savedinterval;
        HostPoller::maxinflight = savedmax;
    }
    PollTarget fake(Fault fault = Fault::none, const std::string& password = "pw")
    {
        fakes.push_back(std::make_unique<FakeServer>("pw"));
        fakes.back()->setfault("*", fault);
        return PollTarget{++nextserial, "127.0.0.1", fakes.back()->portstr(), password};
    }
    HostStatus status(const PollTarget& t) const
    {
        for (const HostStatus& s : p.statuses())
            if (s.serial == t.serial)
                return s;
        return HostStatus();
    }
    bool reaches(const PollTarget& t, HostState state, int timeoutms = 20000)
    {
        return eventually([&] { return status(t).state == state; }, timeoutms);
    }
};

} // namespace

TEST_F(HostPollerTest, PollsLightlyAgainAndAgainAndKeepsTheFiguresOfASilentHost)
{
    HostPoller::intervalms = 100;
    PollTarget a = fake(), b = fake();
    FakeServer& fa = *fakes[0];
    fakes[1]->setreply("get_cc_status", "<cc_status><task_mode>3</task_mode>"
                                        "<task_mode_delay>600</task_mode_delay></cc_status>");
    EXPECT_FALSE(p.active());
    p.settargets({a, b});
    ASSERT_TRUE(fa.waitforname("get_project_status", 3));
    ASSERT_TRUE(fakes[1]->waitforname("get_project_status", 3));
    auto all = p.statuses();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].serial, a.serial);
    for (const HostStatus& s : all) {
        EXPECT_EQ(s.state, HostState::online);
        EXPECT_EQ(s.figures.version, "7.20.5");
        EXPECT_EQ(s.figures.running, 2);
        EXPECT_EQ(s.figures.total, 6);
        EXPECT_NEAR(s.figures.credit, 4.6, 1e-9);
        EXPECT_GT(s.lastanswer, 0);
    }
    EXPECT_EQ(all[0].figures.taskmode, 2);
    EXPECT_EQ(all[1].figures.taskmode, 3);
    EXPECT_DOUBLE_EQ(all[1].figures.taskmodedelay, 600);
    // Never the whole state; the version once, while it stays known; a login every time.
    for (auto& f : fakes) {
        EXPECT_EQ(f->countof("get_state"), 0u);
        EXPECT_EQ(f->countof("exchange_versions"), 1u);
        EXPECT_GE(f->countof("auth2"), 3u);
    }

    fa.setfault("get_results", Fault::stall);
    ASSERT_TRUE(reaches(a, HostState::noanswer));
    // A poll that was under way when the fault came may still have answered: the time is
    // taken once the host is silent, and must hold through two more silent polls.
    const long long answered = status(a).lastanswer;
    const size_t asked = fa.countof("get_results");
    ASSERT_TRUE(eventually([&] { return fa.countof("get_results") >= asked + 2; }));
    EXPECT_EQ(status(a).state, HostState::noanswer);
    EXPECT_EQ(status(a).figures.total, 6) << "the last figures stay, with their time";
    EXPECT_EQ(status(a).lastanswer, answered);
    fa.clearfaults();
    ASSERT_TRUE(reaches(a, HostState::online));
    EXPECT_EQ(fa.countof("exchange_versions"), 2u) << "after a silence: the client may be new";
    p.stop();
    EXPECT_FALSE(p.active());
    EXPECT_TRUE(p.statuses().empty());
}

TEST_F(HostPollerTest, SilentRefusingAndClosedHostsNeverHoldUpTheOthers)
{
    HostPoller::maxinflight = 4;
    HostPoller::intervalms = 60000;
    TConnect::replytimeoutms = 2000; // the silent ones are still silent when the rest is done
    // Silent hosts first, so that they take their slots before anyone else.
    std::vector<PollTarget> targets = {fake(Fault::stall), fake(Fault::stall), fake(Fault::stall),
                                       fake(Fault::none, "wrong"), fake()};
    for (int i = 0; i < 8; ++i)
        targets.push_back(fake());
    fakes[4]->stop(); // nothing listens there any more
    p.settargets(targets);
    for (size_t i = 5; i < targets.size(); ++i)
        EXPECT_TRUE(reaches(targets[i], HostState::online, 5000)) << i;
    EXPECT_EQ(status(targets[0]).state, HostState::connecting);
    EXPECT_EQ(status(targets[3]).state, HostState::unauthorized);
    EXPECT_EQ(status(targets[4]).state, HostState::offline);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(reaches(targets[i], HostState::noanswer)) << i;
    EXPECT_FALSE(status(targets[0]).hasfigures);
    EXPECT_EQ(status(targets[0]).lastanswer, 0);
    EXPECT_LE(p.peakinflight(), 4);
    EXPECT_GE(p.peakinflight(), 3);
    EXPECT_LE(p.livethreads(), 4);
}

TEST_F(HostPollerTest, RemovedHostsAndAStopLetGoOfTheirConnectionsAtOnce)
{
    TConnect::replytimeoutms = 30000; // the break must not come from a time-out
    HostPoller::intervalms = 100;
    PollTarget hung = fake(), ok = fake(), silent = fake(Fault::stall);
    FakeServer& fh = *fakes[0];
    fh.setfault("get_results", Fault::stall);
    p.settargets({hung, ok, silent});
    ASSERT_TRUE(fh.waitforname("get_results"));
    p.settargets({ok, silent});
    EXPECT_TRUE(eventually([&] { return fh.openconnections() == 0; }, 3000));
    ASSERT_EQ(p.statuses().size(), 2u);
    EXPECT_EQ(p.statuses()[0].serial, ok.serial);
    // Back under the same serial it is a new host, polled from scratch.
    fh.clearfaults();
    p.settargets({ok, hung, silent});
    EXPECT_TRUE(reaches(hung, HostState::online));

    ASSERT_TRUE(fakes[2]->waitforname("auth1"));
    const auto start = Clock::now();
    p.stop();
    // Generous: what is checked is that nothing waits for the 30 s reply time-out.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(eventually([&] { return fakes[2]->openconnections() == 0; }, 3000));
    EXPECT_TRUE(eventually([&] { return p.livethreads() == 0; }, 3000));
    p.settargets({ok}); // open again: a run of its own, the old threads joined
    EXPECT_EQ(p.livethreads(), 1);
}

// A host whose name never resolves costs one waiting lookup, not one stuck thread per poll.
TEST_F(HostPollerTest, HungNameLookupIsNotStartedAgainOnEveryPoll)
{
    HungResolver resolver(100);
    HostPoller::intervalms = 50;
    PollTarget t{++nextserial, "name.that.hangs", "31416", "pw"};
    p.settargets({t});
    EXPECT_TRUE(eventually([&] { return status(t).polls >= 4; }));
    EXPECT_EQ(status(t).state, HostState::offline);
    EXPECT_EQ(HungResolver::lookups(), 1);
    p.stop();
}
