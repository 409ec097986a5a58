// The client link against a real BOINC client in its loopback-only sandbox.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "linkwaits.h"
#include "srv.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string env(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

bool eventually(const std::function<bool()>& cond, int timeoutms = 90000)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeoutms);
    while (Clock::now() < end) {
        if (cond())
            return true;
        usleep(50000);
    }
    return cond();
}

std::vector<int> seqnos(const Item* tree)
{
    std::vector<int> out;
    Item* msgs = tree ? tree->find("msgs") : nullptr;
    if (msgs)
        for (Item* m : msgs->children("msg"))
            out.push_back(m->find("seqno") ? m->find("seqno")->intvalue() : -1);
    return out;
}

// 1, 2, ..., n without gaps or repeats.
bool consecutive(const std::vector<int>& s)
{
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] != static_cast<int>(i) + 1)
            return false;
    return !s.empty();
}

Item* childnamed(Item* parent, const char* element, const std::string& name)
{
    for (Item* c : parent->children(element)) {
        Item* n = c->find("name");
        if (n && n->value() == name)
            return c;
    }
    return nullptr;
}

class RealClientTest : public ::testing::Test {
protected:
    // Passes about five times a second: fast, and still gentle on the client.
    LinkWaits waits{20000, 1000000, 15000};
    std::string host = env("BOINC_SANDBOX_HOST");
    std::string port = env("BOINC_SANDBOX_PORT");
    std::string password = env("BOINC_SANDBOX_PASSWORD");
    std::string ctl = env("BOINC_SANDBOX_CTL");

    void SetUp() override
    {
        if (port.empty())
            GTEST_SKIP() << "runs only inside the BOINC client sandbox";
    }
    std::unique_ptr<Srv> connected()
    {
        auto s = std::make_unique<Srv>(host, port, password, "sandbox");
        s->startthread();
        return s;
    }
    int control(const std::string& verb) { return system((ctl + " " + verb).c_str()); }

    // True once the newest state snapshot satisfies the test (fresh snapshots keep coming).
    bool stateholds(Srv& s, const std::function<bool(Item*)>& test)
    {
        return eventually([&] {
            Snapshot st(s.statesnapshots);
            Item* cs = st ? st->find("client_state") : nullptr;
            return cs && test(cs);
        });
    }
    bool taskmode(Srv& s, const char* element, int value)
    {
        return eventually([&] {
            Snapshot cc(s.ccstatussnapshots);
            Item* e = cc ? cc->find(element) : nullptr;
            return e && e->intvalue() == value;
        });
    }
};

TEST_F(RealClientTest, LoginIsAcceptedWithThePasswordAndRefusedWithAnother)
{
    Srv right(host, port, password, "");
    auto status = right.request("<get_cc_status/>");
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->find("task_mode"));
    EXPECT_FALSE(right.unauthorized);

    Srv wrong(host, port, password + "-not", "");
    wrong.request("<get_cc_status/>");
    EXPECT_TRUE(wrong.unauthorized);
}

TEST_F(RealClientTest, SeededTasksAndTheirAppsAreFound)
{
    auto s = connected();
    ASSERT_TRUE(stateholds(*s, [](Item* cs) { return !cs->children("result").empty(); }));
    Snapshot st(s->statesnapshots);
    Item* cs = st->find("client_state");
    EXPECT_TRUE(childnamed(cs, "result", "alpha@home_wu_0_0"));
    EXPECT_TRUE(childnamed(cs, "result", "beta_wu_2_0"));
    Item* beta = s->findproject("Beta Project");
    ASSERT_TRUE(beta);
    EXPECT_EQ(beta->find("master_url")->value(), "http://127.0.0.1:9/beta/");
    Item* app = s->findapp("beta_wu_1");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->find("user_friendly_name")->value(), "Worker of Beta Project");
    app = s->findapp("alpha@home_wu_1");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->find("user_friendly_name")->value(), "Worker of Alpha@Home");
    EXPECT_EQ(projectnamebyurl(st.get(), "http://127.0.0.1:9/alpha/"), "Alpha@Home");
}

TEST_F(RealClientTest, MessagesMergeInOrderAlsoAcrossAClientRestart)
{
    auto s = connected();
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno > 0; }));
    int before = s->lastmsgseqno;
    // The log grows: a project update is reported in the messages.
    s->opproject("Alpha@Home", "project_update");
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno > before; }));
    {
        std::lock_guard<std::mutex> hold(s->messagesnapshots.lock());
        EXPECT_EQ(s->messagesnapshots.entrycountlocked(), 1u);
    }
    Item* tree = s->messagesnapshots.acquire();
    {
        std::lock_guard<std::mutex> hold(s->messagesnapshots.lock());
        auto nums = seqnos(tree);
        EXPECT_TRUE(consecutive(nums)) << "got " << nums.size() << " messages";
        EXPECT_EQ(nums.back(), s->lastmsgseqno);
    }
    s->messagesnapshots.release(tree);

    ASSERT_EQ(control("restart"), 0);
    ASSERT_TRUE(eventually([&] { return s->msgloggeneration >= 1 && s->lastmsgseqno > 0; }));
    // Let a few more passes merge what the new client logs next.
    int now = s->lastmsgseqno;
    eventually([&] { return s->lastmsgseqno > now; }, 5000);
    tree = s->messagesnapshots.acquire();
    {
        std::lock_guard<std::mutex> hold(s->messagesnapshots.lock());
        auto nums = seqnos(tree);
        EXPECT_TRUE(consecutive(nums)) << "old and new log mixed: " << nums.size() << " messages";
        EXPECT_EQ(nums.back(), s->lastmsgseqno);
        bool started = false;
        for (Item* m : tree->find("msgs")->children("msg"))
            started |= m->find("body")->value().find("Starting BOINC client") != std::string::npos;
        EXPECT_TRUE(started);
    }
    s->messagesnapshots.release(tree);
}

TEST_F(RealClientTest, RunAndNetworkModesShowInTheNextStatus)
{
    auto s = connected();
    ASSERT_TRUE(eventually([&] { return !s->ccstatussnapshots.empty(); }));
    s->setrunmode("never");
    EXPECT_TRUE(taskmode(*s, "task_mode", 3));
    s->setrunmode("always");
    EXPECT_TRUE(taskmode(*s, "task_mode", 1));
    s->setrunmode("auto");
    EXPECT_TRUE(taskmode(*s, "task_mode", 2));
    s->setnetworkmode("never");
    EXPECT_TRUE(taskmode(*s, "network_mode", 3));
    s->setnetworkmode("auto");
    EXPECT_TRUE(taskmode(*s, "network_mode", 2));
}

TEST_F(RealClientTest, SuspendAndResumeATask)
{
    auto s = connected();
    std::string name, url;
    ASSERT_TRUE(stateholds(*s, [&](Item* cs) {
        for (Item* r : cs->children("result")) {
            Item* at = r->find("active_task");
            Item* ats = at ? at->find("active_task_state") : nullptr;
            if (ats && ats->intvalue() == 1) {
                name = r->find("name")->value();
                url = r->find("project_url")->value();
                return true;
            }
        }
        return false;
    })) << "no task is executing";
    auto suspended = [&](Item* cs) {
        Item* r = childnamed(cs, "result", name);
        return r && r->find("suspended_via_gui");
    };
    s->opresult(url, name, "suspend_result");
    EXPECT_TRUE(stateholds(*s, suspended));
    s->opresult(url, name, "resume_result");
    EXPECT_TRUE(stateholds(*s, [&](Item* cs) { return !suspended(cs); }));
}

TEST_F(RealClientTest, ProjectOperationsShowInTheNextState)
{
    auto s = connected();
    ASSERT_TRUE(stateholds(*s, [](Item* cs) { return !cs->children("project").empty(); }));
    auto flag = [&](const char* element) {
        return [&, element](Item* cs) {
            for (Item* p : cs->children("project")) {
                Item* n = p->find("project_name");
                if (n && n->value() == "Beta Project")
                    return p->find(element) != nullptr;
            }
            return false;
        };
    };
    auto without = [&](const char* element) {
        return [&, element](Item* cs) { return !flag(element)(cs); };
    };
    s->opproject("Beta Project", "project_suspend");
    EXPECT_TRUE(stateholds(*s, flag("suspended_via_gui")));
    s->opproject("Beta Project", "project_resume");
    EXPECT_TRUE(stateholds(*s, without("suspended_via_gui")));
    s->opproject("Beta Project", "project_nomorework");
    EXPECT_TRUE(stateholds(*s, flag("dont_request_more_work")));
    s->opproject("Beta Project", "project_allowmorework");
    EXPECT_TRUE(stateholds(*s, without("dont_request_more_work")));
}

TEST_F(RealClientTest, BenchmarksAreAccepted)
{
    auto s = connected();
    ASSERT_TRUE(eventually([&] { return s->lastmsgseqno > 0; }));
    s->runbenchmarks();
    bool running = eventually([&] {
        Item* tree = s->messagesnapshots.acquire();
        bool found = false;
        {
            std::lock_guard<std::mutex> hold(s->messagesnapshots.lock());
            Item* msgs = tree ? tree->find("msgs") : nullptr;
            if (msgs)
                for (Item* m : msgs->children("msg"))
                    found |= m->find("body")->value().find("benchmark") != std::string::npos;
        }
        s->messagesnapshots.release(tree);
        return found;
    });
    EXPECT_TRUE(running) << "the client did not report running its benchmarks";
}

} // namespace
