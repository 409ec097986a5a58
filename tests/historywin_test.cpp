#include <gtest/gtest.h>

#include "historywin.h"
#include "taskhistory.h"

namespace {

HistoryEntry ended(int exit, int state, int64_t completed = 0, const std::string& url = "u")
{
    HistoryEntry e;
    e.projecturl = url;
    e.taskname = "t" + std::to_string(completed) + url;
    e.exitstatus = exit;
    e.state = state;
    e.completedtime = completed;
    return e;
}

} // namespace

TEST(HistoryOutcome, NamesHowATaskEnded)
{
    const struct { int exit, state; const char* word; } cases[] = {
        {0, 5, "ok"}, {0, -1, "ok"}, {203, 6, "aborted"}, {203, -1, "aborted"}, {202, 6, "aborted"},
        {194, 6, "aborted"}, {200, 6, "200 (exit unstarted late)"}, {0, 6, "aborted"},
        {197, 3, "197 (exit time limit exceeded)"}, {-177, 3, "computation error (-177)"},
        {1, -1, "computation error (1)"}, {0, 3, "computation error"}, {0, 7, "upload failed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(historyoutcome(ended(c.exit, c.state)), c.word) << c.exit << " " << c.state;
        EXPECT_EQ(historyfailed(ended(c.exit, c.state)), std::string(c.word) != "ok");
    }
}

TEST(HistoryOutcome, SummaryCountsTheLastDayAndWeekOfAProject)
{
    const int64_t now = 1796828486, hour = 3600;
    std::vector<HistoryEntry> all = {ended(0, 5, now - hour), ended(1, 3, now - 2 * hour, "v"),
                                     ended(0, 5, now - 30 * hour), ended(203, 6, now - 6 * 24 * hour),
                                     ended(1, 3, now - 8 * 24 * hour)};
    EXPECT_EQ(historysummarytext(summarizehistory(all, "", now)),
              "Last 24 hours: 2 tasks, 1 error | Last 7 days: 4 tasks, 2 errors");
    EXPECT_EQ(historysummarytext(summarizehistory(all, "u", now)),
              "Last 24 hours: 1 task, 0 errors | Last 7 days: 3 tasks, 1 error");
}
