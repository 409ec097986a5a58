#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fakeserver.h"
#include "linkwaits.h"
#include "srv.h"
#include "taskhistory.h"
#include "tempdir.h"

namespace {

const int64_t kNow = 1796828486;

HistoryEntry entry(const std::string& name, int64_t completed, int exit = 0, int state = 5)
{
    HistoryEntry e;
    e.projecturl = "http://127.0.0.1:9/alpha/";
    e.taskname = name;
    e.projectname = "Alpha@Home";
    e.appname = "Worker";
    e.exitstatus = exit;
    e.state = state;
    e.elapsedtime = 3725.5;
    e.cputime = 3600.25;
    e.completedtime = completed;
    e.createtime = completed + 60;
    return e;
}

std::vector<std::string> names(const TaskHistory& h)
{
    std::vector<std::string> out;
    for (const auto& e : *h.entries())
        out.push_back(e.taskname);
    return out;
}

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

class HistoryStore : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv state{"XDG_STATE_HOME", dir.path().c_str()};
    std::string file = dir.path() + "/varnix/" + historyfilename("127.0.0.1", "31416");
    size_t savedmax = TaskHistory::maxentries;
    void TearDown() override { TaskHistory::maxentries = savedmax; }
};

} // namespace

TEST(HistoryLine, RoundTripsAndRejectsDamage)
{
    HistoryEntry odd = entry("tab\there\nline\\back\x01 ünï", -5, -1073741819, -1);
    odd.projectname = "";
    odd.elapsedtime = 0.001;
    for (const HistoryEntry& e : {entry("plain", kNow, 203, 6), odd}) {
        std::string line = historyline(e);
        ASSERT_EQ(line.back(), '\n');
        ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
        HistoryEntry back;
        ASSERT_TRUE(parsehistoryline(std::string_view(line).substr(0, line.size() - 1), back));
        EXPECT_EQ(historyline(back), line);
    }
    std::string good = historyline(entry("x", kNow));
    good.pop_back();
    HistoryEntry out;
    EXPECT_TRUE(parsehistoryline(good + "\tfrom a later format", out));
    for (std::string bad : {std::string("# comment"), std::string(), good.substr(0, good.rfind('\t')),
                            "x" + good, good.substr(0, good.size() - 2) + "\\q",
                            good.substr(0, good.size() - 2) + "\\x4", std::string("1\t2\t3\t4\t5\t6\t\tt\ta\tp")})
        EXPECT_FALSE(parsehistoryline(bad, out)) << bad;
}

TEST_F(HistoryStore, KeepsEntriesOnceAcrossRestartsWithPrivateModes)
{
    {
        TaskHistory h("127.0.0.1", "31416");
        h.load(kNow);
        EXPECT_EQ(h.add({entry("a", kNow - 10), entry("b", kNow), entry("a", kNow - 10)}, kNow), 2u);
        EXPECT_EQ(h.add({entry("b", kNow)}, kNow), 0u);
        EXPECT_EQ(names(h), (std::vector<std::string>{"b", "a"}));
        EXPECT_EQ(h.error(), "");
    }
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir.path() + "/varnix").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    TaskHistory again("127.0.0.1", "31416");
    again.load(kNow);
    EXPECT_EQ(names(again), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(again.entries()->front().elapsedtime, 3725.5);
    EXPECT_EQ(again.add({entry("a", kNow - 10), entry("c", kNow + 5)}, kNow), 1u);
    std::string text = readfile(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text; // header and three
}

TEST_F(HistoryStore, SkipsATornLastLineAndADamagedOne)
{
    mkdir((dir.path() + "/varnix").c_str(), 0700);
    std::string torn = historyline(entry("torn", kNow));
    writefile(file, historyline(entry("one", kNow - 2)) + "garbage\tline\n" +
                        historyline(entry("two", kNow - 1)) + torn.substr(0, torn.size() / 2));
    TaskHistory h("127.0.0.1", "31416");
    h.load(kNow);
    EXPECT_EQ(names(h), (std::vector<std::string>{"two", "one"}));
    h.add({entry("three", kNow)}, kNow);
    TaskHistory after("127.0.0.1", "31416");
    after.load(kNow);
    EXPECT_EQ(names(after), (std::vector<std::string>{"three", "two", "one"}));
    EXPECT_EQ(readfile(file).find("torn"), std::string::npos);
}

TEST_F(HistoryStore, DropsWhatIsPastTheBoundsAtTheNextRewrite)
{
    TaskHistory::maxentries = 10;
    const int64_t month = 30 * 86400;
    {
        TaskHistory h("127.0.0.1", "31416");
        h.load(kNow);
        EXPECT_EQ(h.add({entry("too old", kNow - month - 1)}, kNow), 0u);
        for (int i = 0; i < 40; ++i)
            h.add({entry("t" + std::to_string(i), kNow - 40 + i)}, kNow);
        EXPECT_EQ(h.entries()->size(), 10u);
        EXPECT_EQ(h.entries()->back().taskname, "t30");
    }
    std::string text = readfile(file);
    EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 10 + 10 / 8 + 16 + 1);
    // Two days later most of them are past the 30 days.
    TaskHistory later("127.0.0.1", "31416");
    later.load(kNow + month - 20 + 2 * 86400);
    EXPECT_TRUE(later.entries()->empty());
    EXPECT_EQ(readfile(file).find("\tt3"), std::string::npos);
}

TEST_F(HistoryStore, AnUnwritableFileIsReportedAndTheEntriesStayShown)
{
    writefile(dir.path() + "/varnix", "a file where the folder should be");
    TaskHistory h("127.0.0.1", "31416");
    h.load(kNow);
    EXPECT_EQ(h.add({entry("a", kNow)}, kNow), 1u);
    h.add({entry("b", kNow + 1)}, kNow);
    EXPECT_EQ(names(h), (std::vector<std::string>{"b", "a"}));
    EXPECT_NE(h.error().find("Task history not saved: " + file), std::string::npos) << h.error();
}

TEST_F(HistoryStore, TwoProgramsShareOneFile)
{
    TaskHistory a("127.0.0.1", "31416"), b("127.0.0.1", "31416");
    a.load(kNow);
    b.load(kNow);
    a.add({entry("x", kNow - 1)}, kNow);
    b.add({entry("x", kNow - 1), entry("y", kNow)}, kNow);
    EXPECT_EQ(names(b), (std::vector<std::string>{"y", "x"}));
    TaskHistory c("127.0.0.1", "31416");
    c.load(kNow);
    EXPECT_EQ(names(c), (std::vector<std::string>{"y", "x"}));
    std::string text = readfile(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
}

TEST(HistoryCollect, FinishedTasksThatLeaveTheStateAndOldResults)
{
    auto state = [](const std::string& results) {
        return parse("<client_state><project><master_url>u</master_url><project_name>P</project_name>"
                     "</project><app><name>w</name><user_friendly_name>Worker</user_friendly_name></app>"
                     "<workunit><name>wu</name><app_name>w</app_name></workunit>" + results +
                     "</client_state>");
    };
    auto result = [](const std::string& name, int st) {
        return "<result><name>" + name + "</name><wu_name>wu</wu_name><project_url>u</project_url>"
               "<exit_status>" + std::string(st == 6 ? "203" : "0") + "</exit_status><state>" +
               std::to_string(st) + "</state><final_elapsed_time>12</final_elapsed_time></result>";
    };
    StateWatch watch;
    EXPECT_TRUE(watch.update(state(result("run", 2) + result("done", 5) + result("gone", 6)).get(), kNow).empty());
    EXPECT_TRUE(watch.update(parse("<error>unauthorized</error>").get(), kNow).empty());
    auto left = watch.update(state(result("done", 5)).get(), kNow);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(historyline(left[0]), historyline([] {
                  HistoryEntry e{"u", "gone", "P", "Worker", 203, 6, 12, 0, kNow, kNow};
                  return e;
              }()));
    // A finished task's state still moves on (uploading, then failed); what it shows last counts.
    StateWatch moving;
    moving.update(state(result("up", 4)).get(), kNow);
    moving.update(state(result("up", 7)).get(), kNow);
    auto failed = moving.update(state("").get(), kNow);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(historyline(failed[0]), historyline(HistoryEntry{"u", "up", "P", "Worker", 0, 7, 12, 0, kNow, kNow}));

    auto reply = parse("<old_results><old_result><project_url>u</project_url><result_name>r1</result_name>"
                       "<app_name>w</app_name><exit_status>197</exit_status><elapsed_time>5</elapsed_time>"
                       "<cpu_time>4</cpu_time><completed_time>100</completed_time><create_time>200</create_time>"
                       "</old_result><old_result><project_url>u</project_url><result_name>reset</result_name>"
                       "<exit_status>0</exit_status><completed_time>0</completed_time></old_result></old_results>");
    auto old = oldresultentries(reply.get(), state("").get(), kNow);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(historyline(old[0]), historyline(HistoryEntry{"u", "r1", "P", "Worker", 197, -1, 5, 4, 100, 200}));
    EXPECT_TRUE(oldresultentries(parse("<error>unrecognized op: get_old_results/</error>").get(), nullptr, kNow).empty());
}

class HistoryPolls : public HistoryStore {
protected:
    FakeServer server{"pw"};
    LinkWaits waits{2000, 1000, 2000};
    bool savedkeep = Srv::keephistory;
    int savedinterval = Srv::oldresultsintervalms;
    void SetUp() override { Srv::keephistory = true; }
    void TearDown() override
    {
        Srv::keephistory = savedkeep;
        Srv::oldresultsintervalms = savedinterval;
        HistoryStore::TearDown();
    }
    std::unique_ptr<Srv> host() { return std::make_unique<Srv>("127.0.0.1", server.portstr(), "pw", ""); }
    static std::string old(const std::string& name, int later = 0)
    {
        return "<old_results><old_result><project_url>u</project_url><result_name>" + name +
               "</result_name><exit_status>0</exit_status><completed_time>" +
               std::to_string(time(nullptr) + later) + "</completed_time></old_result></old_results>";
    }
};

TEST_F(HistoryPolls, AsksAfterTheFirstPassThenEveryIntervalAndSurvivesARestart)
{
    file = dir.path() + "/varnix/" + historyfilename("127.0.0.1", server.portstr());
    server.setreply("get_old_results", old("r1"));
    Srv::oldresultsintervalms = 100;
    {
        auto s = host();
        s->startthread();
        ASSERT_TRUE(server.waitforname("get_old_results", 3));
        s->jointhread();
        auto all = server.names();
        // After the first pass's requests of the main screen.
        auto first = std::find(all.begin(), all.end(), "get_old_results");
        EXPECT_NE(std::find(all.begin(), first, "acct_mgr_info"), first);
        EXPECT_EQ(names(s->history), std::vector<std::string>{"r1"});
    }
    server.setreply("get_old_results", old("r2", 1));
    auto s = host();
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_old_results", 4));
    s->jointhread();
    EXPECT_EQ(names(s->history), (std::vector<std::string>{"r2", "r1"}));
    std::string text = readfile(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
}

TEST_F(HistoryPolls, AClientWithoutOldResultsGivesWhatTheStateShowed)
{
    const std::string task = "<result><name>t</name><project_url>u</project_url><state>3</state>"
                             "<exit_status>-177</exit_status></result>";
    server.setreply("get_state", "<client_state>" + task + "</client_state>");
    auto s = host();
    s->startthread();
    ASSERT_TRUE(server.waitforname("get_old_results"));
    server.setreply("get_state", "<client_state></client_state>");
    ASSERT_TRUE(server.waitforname("get_state", 3));
    s->jointhread();
    ASSERT_EQ(s->history.entries()->size(), 1u);
    EXPECT_EQ(s->history.entries()->front().exitstatus, -177);
    // A task that left made the client's old results worth asking at once.
    EXPECT_EQ(server.countof("get_old_results"), 2u);
}
