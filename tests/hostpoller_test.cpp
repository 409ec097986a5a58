#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
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

// A result: state, active task state (-1: none), deadline and estimate relative to kNow.
std::string result(int state, int active, double deadlinein, double estimate, bool ready = false)
{
    std::string r = "<result><name>t</name><state>" + std::to_string(state) + "</state>";
    if (!std::isnan(deadlinein))
        r += "<report_deadline>" + std::to_string(1700000000.0 + deadlinein) + "</report_deadline>";
    r += "<estimated_cpu_time_remaining>" + std::to_string(estimate) + "</estimated_cpu_time_remaining>";
    if (ready)
        r += "<ready_to_report/>";
    if (active >= 0)
        r += "<active_task><active_task_state>" + std::to_string(active) +
             "</active_task_state></active_task>";
    return r + "</result>";
}

const double kNow = 1700000000.0;
const double kNone = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(HostFiguresTest, DeadlineAtRisk)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double deadline, remaining;
        bool atrisk;
    } cases[] = {
        {kNow + 7200, 3600, false},  // an hour to spare
        {kNow + 3600, 3600, false},  // exactly in time
        {kNow + 3599, 3600, true},   // a second short
        {kNow - 10, 0, true},        // passed, nothing left to compute: late all the same
        {kNow + 10, -500, false},    // a negative estimate counts as none
        {kNone, 10, false},          // numbers a hostile client sends
        {kNow, kNone, false},
        {inf, 10, false},
        {kNow, inf, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(deadlineatrisk(c.deadline, c.remaining, kNow), c.atrisk)
            << c.deadline - kNow << " " << c.remaining;
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

TEST(HostFiguresTest, ModeVersionAndCredit)
{
    auto cc = parse("<cc_status><task_mode>3</task_mode><task_mode_perm>2</task_mode_perm>"
                    "<task_mode_delay>2520.5</task_mode_delay></cc_status>");
    HostFigures f;
    readccstatus(cc->child("cc_status"), f);
    EXPECT_EQ(f.taskmode, 3);
    EXPECT_EQ(f.taskmodeperm, 2);
    EXPECT_DOUBLE_EQ(f.taskmodedelay, 2520.5);
    auto odd = parse("<cc_status><task_mode>9</task_mode><task_mode_delay>nan</task_mode_delay></cc_status>");
    readccstatus(odd->child("cc_status"), f);
    EXPECT_EQ(f.taskmode, 0);
    EXPECT_EQ(f.taskmodedelay, 0);

    EXPECT_EQ(readversion(parse("<server_version><major>7</major><minor>24</minor>"
                                "<release>1</release></server_version>").get()), "7.24.1");
    EXPECT_EQ(readversion(parse("<client_state><core_client_major_version>8</core_client_major_version>"
                                "<core_client_minor_version>0</core_client_minor_version>"
                                "</client_state>").get()), "8.0.0");
    EXPECT_EQ(readversion(parse("<error>unrecognized op: exchange_versions/</error>").get()), "");

    auto projects = parse("<projects><project><host_expavg_credit>12.5</host_expavg_credit></project>"
                          "<project><host_expavg_credit>nan</host_expavg_credit></project>"
                          "<project></project><project><host_expavg_credit>0.25</host_expavg_credit>"
                          "</project></projects>");
    readcredit(projects->child("projects"), f);
    EXPECT_TRUE(f.hascredit);
    EXPECT_DOUBLE_EQ(f.credit, 12.75);

    // The current host's figures come from its get_state and get_cc_status snapshots.
    auto state = parse(readfixture("get_state.xml"));
    auto status = parse(readfixture("get_cc_status.xml"));
    HostFigures s = figuresfromsnapshots(state.get(), status.get(), 1796800000.0);
    EXPECT_EQ(s.version, "7.20.5");
    EXPECT_EQ(s.running, 2);
    EXPECT_EQ(s.total, 6);
    EXPECT_NEAR(s.credit, 4.6, 1e-9);
    EXPECT_EQ(s.taskmode, 2);
    EXPECT_NEAR(s.deadline, 1796879805.844424, 1e-3);
}

namespace {

class HostPollerTest : public ::testing::Test {
protected:
    LinkWaits waits{1000, 1000, 400};
    int savedinterval = HostPoller::intervalms;
    int savedmax = HostPoller::maxinflight;
    std::vector<std::unique_ptr<FakeServer>> fakes;
    unsigned long long nextserial = 1000;

    void TearDown() override
    {
        HostPoller::intervalms = savedinterval;
        HostPoller::maxinflight = savedmax;
    }
    FakeServer& fake(const std::string& password = "pw")
    {
        fakes.push_back(std::make_unique<FakeServer>(password));
        return *fakes.back();
    }
    PollTarget target(const FakeServer& f, const std::string& password = "pw")
    {
        return PollTarget{++nextserial, "127.0.0.1", f.portstr(), password};
    }
    static const HostStatus* find(const std::vector<HostStatus>& all, unsigned long long serial)
    {
        for (const HostStatus& s : all)
            if (s.serial == serial)
                return &s;
        return nullptr;
    }
    static HostState stateof(const HostPoller& p, unsigned long long serial)
    {
        auto all = p.statuses();
        const HostStatus* s = find(all, serial);
        return s ? s->state : HostState::connecting;
    }
};

} // namespace

TEST_F(HostPollerTest, PollsEachHostLightlyAndAgainAfterTheInterval)
{
    HostPoller::intervalms = 200;
    FakeServer& a = fake();
    FakeServer& b = fake();
    b.setreply("get_cc_status", "<cc_status><task_mode>3</task_mode><task_mode_delay>600</task_mode_delay>"
                                "</cc_status>");
    HostPoller p;
    EXPECT_FALSE(p.active());
    std::vector<PollTarget> targets = {target(a), target(b)};
    p.settargets(targets);
    EXPECT_TRUE(p.active());
    ASSERT_TRUE(a.waitforname("get_project_status", 3));
    ASSERT_TRUE(b.waitforname("get_project_status", 3));
    auto all = p.statuses();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].serial, targets[0].serial);
    for (const HostStatus& s : all) {
        EXPECT_EQ(s.state, HostState::online);
        EXPECT_TRUE(s.hasfigures);
        EXPECT_EQ(s.figures.version, "7.20.5");
        EXPECT_EQ(s.figures.total, 6);
        EXPECT_EQ(s.figures.running, 2);
        EXPECT_NEAR(s.figures.credit, 4.6, 1e-9);
        EXPECT_GT(s.lastanswer, 0);
    }
    EXPECT_EQ(all[0].figures.taskmode, 2);
    EXPECT_EQ(all[1].figures.taskmode, 3);
    EXPECT_DOUBLE_EQ(all[1].figures.taskmodedelay, 600);
    // Never the whole state; the version once, while it stays known; a fresh login each time.
    for (FakeServer* f : {&a, &b}) {
        EXPECT_EQ(f->countof("get_state"), 0u);
        EXPECT_EQ(f->countof("exchange_versions"), 1u);
        EXPECT_GE(f->countof("auth2"), 3u);
        EXPECT_EQ(f->countof("get_cc_status"), f->countof("get_results"));
    }
    p.stop();
    EXPECT_FALSE(p.active());
    EXPECT_TRUE(p.statuses().empty());
}

TEST_F(HostPollerTest, SilentRefusingAndClosedHostsNeverHoldUpTheOthers)
{
    HostPoller::maxinflight = 4;
    HostPoller::intervalms = 60000;
    TConnect::replytimeoutms = 2000; // the silent ones are still silent when the rest is done
    std::vector<PollTarget> targets;
    // Silent hosts first, so that they take their slots before anyone else.
    for (int i = 0; i < 3; ++i) {
        FakeServer& f = fake();
        f.setfault("*", Fault::stall);
        targets.push_back(target(f));
    }
    FakeServer& refusing = fake();
    targets.push_back(target(refusing, "wrong"));
    int closedport;
    {
        FakeServer gone;
        closedport = gone.port();
    }
    targets.push_back(PollTarget{++nextserial, "127.0.0.1", std::to_string(closedport), "pw"});
    std::vector<FakeServer*> good;
    for (int i = 0; i < 8; ++i) {
        good.push_back(&fake());
        targets.push_back(target(*good.back()));
    }
    HostPoller p;
    p.settargets(targets);
    // The good hosts are all done while the silent ones still wait for their first answer.
    for (size_t i = 5; i < targets.size(); ++i)
        EXPECT_TRUE(eventually([&] { return stateof(p, targets[i].serial) == HostState::online; }, 5000))
            << i;
    EXPECT_EQ(stateof(p, targets[0].serial), HostState::connecting);
    EXPECT_EQ(stateof(p, targets[3].serial), HostState::unauthorized);
    EXPECT_EQ(stateof(p, targets[4].serial), HostState::offline);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(eventually([&] { return stateof(p, targets[i].serial) == HostState::noanswer; }))
            << i;
    auto all = p.statuses();
    EXPECT_FALSE(find(all, targets[0].serial)->hasfigures);
    EXPECT_EQ(find(all, targets[0].serial)->lastanswer, 0);
    EXPECT_LE(p.peakinflight(), 4);
    EXPECT_LE(p.livethreads(), 4);
    EXPECT_GE(p.peakinflight(), 3);
}

TEST_F(HostPollerTest, HostThatGoesSilentKeepsItsLastFigures)
{
    HostPoller::intervalms = 100;
    FakeServer& a = fake();
    HostPoller p;
    PollTarget t = target(a);
    p.settargets({t});
    ASSERT_TRUE(eventually([&] { return stateof(p, t.serial) == HostState::online; }));
    const long long answered = p.statuses()[0].lastanswer;
    a.setfault("get_results", Fault::stall);
    ASSERT_TRUE(eventually([&] { return stateof(p, t.serial) == HostState::noanswer; }));
    HostStatus s = p.statuses()[0];
    EXPECT_TRUE(s.hasfigures);
    EXPECT_EQ(s.figures.total, 6);
    EXPECT_EQ(s.lastanswer, answered);
    a.clearfaults();
    ASSERT_TRUE(eventually([&] { return stateof(p, t.serial) == HostState::online; }));
    // After a silence the version is asked for again: the client may have been replaced.
    EXPECT_EQ(a.countof("exchange_versions"), 2u);
}

TEST_F(HostPollerTest, HostRemovedWhilePolledIsDroppedAndItsConnectionClosed)
{
    TConnect::replytimeoutms = 30000; // the break must not come from a time-out
    HostPoller::intervalms = 100;
    FakeServer& hung = fake();
    hung.setfault("get_results", Fault::stall);
    FakeServer& ok = fake();
    PollTarget h = target(hung), o = target(ok);
    HostPoller p;
    p.settargets({h, o});
    ASSERT_TRUE(hung.waitforname("get_results"));
    ASSERT_EQ(hung.openconnections(), 1);
    p.settargets({o});
    EXPECT_TRUE(eventually([&] { return hung.openconnections() == 0; }, 3000));
    auto all = p.statuses();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].serial, o.serial);
    // Back under the same serial it is a new host, polled from scratch.
    hung.clearfaults();
    p.settargets({o, h});
    EXPECT_TRUE(eventually([&] { return stateof(p, h.serial) == HostState::online; }));
}

TEST_F(HostPollerTest, StopReturnsAtOnceAndEveryConnectionCloses)
{
    TConnect::replytimeoutms = 30000;
    std::vector<PollTarget> targets;
    std::vector<FakeServer*> hung;
    for (int i = 0; i < 3; ++i) {
        hung.push_back(&fake());
        hung.back()->setfault("*", Fault::stall);
        targets.push_back(target(*hung.back()));
    }
    HostPoller p;
    p.settargets(targets);
    for (FakeServer* f : hung)
        ASSERT_TRUE(f->waitforname("auth1"));
    const auto start = Clock::now();
    p.stop();
    // Generous: what is checked is that nothing waits for the 30 s reply time-out.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    for (FakeServer* f : hung)
        EXPECT_TRUE(eventually([&] { return f->openconnections() == 0; }, 3000));
    EXPECT_TRUE(eventually([&] { return p.livethreads() == 0; }, 3000));
    EXPECT_EQ(p.inflight(), 0);
    // Open again: a new run of its own, the old threads joined.
    p.settargets({targets[0]});
    EXPECT_TRUE(p.active());
    EXPECT_EQ(p.livethreads(), 1);
}
