#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "item.h"
#include "taskformat.h"

namespace {

std::unique_ptr<Item> result(const std::string& inner)
{
    std::string err;
    std::string text = "<result>" + inner + "</result>";
    auto root = parsexml(text.data(), text.size(), err);
    EXPECT_EQ(err, "");
    return root;
}

std::string state(const std::string& inner)
{
    auto r = result(inner);
    return taskstatetext(r->find("result"));
}

} // namespace

TEST(FormatDuration, Boundaries)
{
    EXPECT_EQ(formatduration(0), "- ");
    EXPECT_EQ(formatduration(99), "99s");
    EXPECT_EQ(formatduration(-5), "-5s");
    EXPECT_EQ(formatduration(100), "1m");
    EXPECT_EQ(formatduration(5999), "99m");
    EXPECT_EQ(formatduration(6000), "1h");
    EXPECT_EQ(formatduration(359999), "99h");
    EXPECT_EQ(formatduration(360000), "4d");
    EXPECT_EQ(formatduration(8639999), "99d");
    EXPECT_EQ(formatduration(8640000), "inf");
    EXPECT_EQ(formatduration(-9999), "-9999s");
    EXPECT_EQ(formatduration(-10000), "-inf");
    EXPECT_EQ(formatduration(std::numeric_limits<int64_t>::min()), "-inf");
}

TEST(FormatSize, RoundsToMebibytesAndGibibytes)
{
    EXPECT_EQ(formatsize(0), "  -  ");
    EXPECT_EQ(formatsize(500000), "  -  ");
    EXPECT_EQ(formatsize(524288), "1M");
    EXPECT_EQ(formatsize(9998ull * 1048576), "9998M");
    EXPECT_EQ(formatsize(9999ull * 1048576), "10G");
    EXPECT_EQ(formatsize(std::numeric_limits<uint64_t>::max()).back(), 'G');
}

TEST(ClientNumbers, HostileValuesAreClamped)
{
    EXPECT_EQ(secondsfromdouble(599.5), 599);
    EXPECT_EQ(secondsfromdouble(-0.4), 0);
    EXPECT_EQ(secondsfromdouble(NAN), 0);
    EXPECT_GT(secondsfromdouble(1e300), 0);
    EXPECT_LT(secondsfromdouble(-INFINITY), 0);
    EXPECT_EQ(bytesfromdouble(-1), 0u);
    EXPECT_EQ(bytesfromdouble(NAN), 0u);
    EXPECT_GT(bytesfromdouble(1e30), 0u);
}

TEST(TaskStateText, OrderOfTheRules)
{
    EXPECT_EQ(state("<ready_to_report/><state>6</state>"), "Abort");
    EXPECT_EQ(state("<ready_to_report/><state>3</state>"), "DoneEr");
    EXPECT_EQ(state("<ready_to_report/><state>5</state>"), "Done");
    EXPECT_EQ(state("<too_large/><suspended_via_gui/><state>2</state>"), "WMem");
    EXPECT_EQ(state("<suspended_via_gui/><state>2</state><active_task><active_task_state>1"
                    "</active_task_state></active_task>"), "GSusp.");
    EXPECT_EQ(state("<state>0</state>"), "New");
    EXPECT_EQ(state("<state>1</state>"), "Dwnld");
    EXPECT_EQ(state("<state>3</state>"), "Err");
    EXPECT_EQ(state("<state>4</state>"), "Upld");
    EXPECT_EQ(state("<state>6</state>"), "Abort");
    EXPECT_EQ(state("<state>2</state>"), "Wait");
    EXPECT_EQ(state("<state>-3</state>"), "Wait");
    const char* at = "<state>2</state><active_task><active_task_state>%d</active_task_state></active_task>";
    auto with = [&](int n) {
        char buf[256];
        snprintf(buf, sizeof buf, at, n);
        return state(buf);
    };
    EXPECT_EQ(with(0), "WaitR");
    EXPECT_EQ(with(1), "Run");
    EXPECT_EQ(with(5), "Abort");
    EXPECT_EQ(with(8), "Quit");
    EXPECT_EQ(with(9), "Susp.");
    EXPECT_EQ(with(10), "Copy");
    EXPECT_EQ(with(3), "A3");
    // Numbers too long for the six-column state (a hostile client) do not widen it.
    EXPECT_EQ(with(99999), "A99999");
    EXPECT_EQ(with(-9999), "A-9999");
    EXPECT_EQ(with(100000), "A?");
    EXPECT_EQ(with(-2147483647 - 1), "A?");
    // The active state counts only inside active_task.
    EXPECT_EQ(state("<state>2</state><active_task_state>1</active_task_state>"), "Wait");
}

TEST(TaskSort, ModesOrderAsDocumented)
{
    auto a = result("<name>b</name><active_task/><fraction_done>0.5</fraction_done>"
                    "<received_time>100</received_time><report_deadline>50</report_deadline>"
                    "<estimated_cpu_time_remaining>10</estimated_cpu_time_remaining>");
    auto b = result("<name>A</name><ready_to_report/><received_time>200</received_time>"
                    "<swap_size>1000</swap_size>");
    auto c = result("<name>c</name><fraction_done>0.9</fraction_done>"
                    "<estimated_cpu_time_remaining>5</estimated_cpu_time_remaining>");
    TaskSortKey ka = maketasksortkey(a->find("result"), "beta");
    TaskSortKey kb = maketasksortkey(b->find("result"), "Alpha");
    TaskSortKey kc = maketasksortkey(c->find("result"), "alphaz");
    auto order = [&](int mode) {
        std::vector<TaskSortKey> v{ka, kb, kc};
        std::stable_sort(v.begin(), v.end(),
                         [mode](const TaskSortKey& x, const TaskSortKey& y) { return taskbefore(mode, x, y); });
        std::string names;
        for (auto& k : v)
            names += k.name;
        return names;
    };
    EXPECT_EQ(order(1), "BCA"); // active first, ready last
    EXPECT_EQ(order(2), "CBA");   // 0.9, 0.5, then the one without
    EXPECT_EQ(order(3), "ACB");   // ALPHA < ALPHAZ < BETA
    EXPECT_EQ(order(4), "ABC");   // newest received first, missing last
    EXPECT_EQ(order(5), "BCA");   // not ready first, active first, smaller estimate
    EXPECT_EQ(order(6), "BAC");   // deadline 50 first, missing keep their order
    EXPECT_EQ(order(8), "ABC");   // only A has swap
    EXPECT_EQ(order(9), "ABC");
    EXPECT_EQ(order(7), order(1));
    EXPECT_EQ(order(42), order(1));
}

TEST(TaskSort, EveryModeIsAStrictWeakOrdering)
{
    // Missing, non-numeric and NaN values mixed: std::sort must never see an inconsistent order.
    const char* variants[] = {
        "<name>x</name>",
        "<name>y</name><active_task/><fraction_done>nan</fraction_done>",
        "<name>Y</name><ready_to_report/><fraction_done>abc</fraction_done>",
        "<name>z</name><fraction_done>0.5</fraction_done><received_time>nan</received_time>",
        "<name>z</name><fraction_done>0.5</fraction_done><swap_size>-1</swap_size>",
        "<name></name><active_task/><ready_to_report/><report_deadline>inf</report_deadline>",
        "<name>q</name><estimated_cpu_time_remaining>-inf</estimated_cpu_time_remaining>",
        "<name>q</name><active_task/><estimated_cpu_time_remaining>3</estimated_cpu_time_remaining>",
    };
    std::vector<std::unique_ptr<Item>> trees;
    std::vector<TaskSortKey> keys;
    int i = 0;
    for (const char* v : variants) {
        trees.push_back(result(v));
        keys.push_back(maketasksortkey(trees.back()->find("result"), i++ % 2 ? "p" : "P"));
    }
    for (int mode = 0; mode <= 10; ++mode) {
        auto lt = [mode](const TaskSortKey& a, const TaskSortKey& b) { return taskbefore(mode, a, b); };
        for (auto& a : keys) {
            EXPECT_FALSE(lt(a, a)) << "mode " << mode;
            for (auto& b : keys) {
                if (lt(a, b)) {
                    EXPECT_FALSE(lt(b, a)) << "mode " << mode;
                }
                for (auto& c : keys) {
                    if (lt(a, b) && lt(b, c)) {
                        EXPECT_TRUE(lt(a, c)) << "mode " << mode;
                    }
                    bool eqab = !lt(a, b) && !lt(b, a);
                    bool eqbc = !lt(b, c) && !lt(c, b);
                    if (eqab && eqbc) {
                        EXPECT_TRUE(!lt(a, c) && !lt(c, a)) << "mode " << mode;
                    }
                }
            }
        }
    }
}

// Windows reading one snapshot share the walk over its results; any other snapshot, even
// one at the same address, is walked again.
TEST(StateResults, SharedPerSnapshotOnly)
{
    std::string err;
    auto parse = [&err](const std::string& text) { return parsexml(text.data(), text.size(), err); };
    auto a = parse("<client_state><result><name>a1</name><ready_to_report/></result>"
                   "<project/><result><name>a2</name></result></client_state>");
    const Item* csa = a->find("client_state");
    const StateResults& first = stateresults(7001, csa);
    ASSERT_EQ(first.results.size(), 2u);
    ASSERT_EQ(first.fields.size(), 2u);
    EXPECT_EQ(first.fields[0].name->value(), "a1");
    EXPECT_NE(first.fields[0].readytoreport, nullptr);
    EXPECT_EQ(first.fields[1].readytoreport, nullptr);
    EXPECT_EQ(&stateresults(7001, csa), &first);

    // The same element read as another snapshot (a new stamp) is walked again.
    a->find("client_state")->children("result")[1]->addchild(std::make_unique<Item>("ready_to_report"));
    EXPECT_NE(stateresults(7002, csa).fields[1].readytoreport, nullptr);
    auto b = parse("<client_state><result><name>b1</name></result></client_state>");
    const StateResults& other = stateresults(7003, b->find("client_state"));
    ASSERT_EQ(other.fields.size(), 1u);
    EXPECT_EQ(other.fields[0].name->value(), "b1");
    // Stamp 0 is never taken for a known snapshot.
    EXPECT_EQ(stateresults(0, csa).fields.size(), 2u);
    EXPECT_EQ(stateresults(0, b->find("client_state")).fields.size(), 1u);
}
