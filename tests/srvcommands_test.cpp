#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>

#include "fakeserver.h"
#include "linkwaits.h"
#include "srv.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kInProgress[] = "<error_num>-204</error_num>";

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

class CommandTest : public ::testing::Test {
protected:
    FakeServer server{"pw"};
    LinkWaits waits{1000, 1000, 2000};
    Srv s{"127.0.0.1", server.portstr(), "pw", "host"};

    // Requests after the login, in order.
    std::vector<FakeRequest> sent() const
    {
        std::vector<FakeRequest> out;
        for (const auto& r : server.requests())
            if (r.name != "auth1" && r.name != "auth2")
                out.push_back(r);
        return out;
    }
    std::vector<std::string> sentnames() const
    {
        std::vector<std::string> out;
        for (const auto& r : sent())
            out.push_back(r.name);
        return out;
    }
    std::string lastbody(const std::string& name) const
    {
        std::string body;
        for (const auto& r : server.requests())
            if (r.name == name)
                body = r.body;
        return body;
    }
    void queue(const std::string& name, const std::string& content, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            server.queuereply(name, content);
    }
};

TEST_F(CommandTest, ModeCommandsSendTheirTextsAndAskForAStatus)
{
    s.setrunmode("always");
    EXPECT_EQ(lastbody("set_run_mode"), "<set_run_mode><always/><duration>0</duration></set_run_mode>");
    EXPECT_TRUE(s.forceccstatus);
    s.forceccstatus = false;
    s.setnetworkmode("auto");
    EXPECT_EQ(lastbody("set_network_mode"),
              "<set_network_mode><auto/><duration>0</duration></set_network_mode>");
    EXPECT_TRUE(s.forceccstatus);
    s.forceccstatus = false;
    s.setgpumode("never");
    EXPECT_EQ(lastbody("set_gpu_mode"), "<set_gpu_mode><never/><duration>0</duration></set_gpu_mode>");
    EXPECT_TRUE(s.forceccstatus);
}

TEST_F(CommandTest, ModeCommandOnAnOfflineHostStillAsksForAStatus)
{
    server.stop();
    s.setrunmode("never");
    EXPECT_TRUE(s.forceccstatus);
    EXPECT_EQ(s.sock, -1);
}

TEST_F(CommandTest, ModeChangeIsFollowedByAStatusPollAtOnce)
{
    LinkWaits real(100000, 1000000, 15000);
    s.startthread();
    ASSERT_TRUE(server.waitforname("acct_mgr_info"));
    usleep(150000); // the thread is asleep now, with most of its second to go
    auto start = Clock::now();
    s.setgpumode("never");
    ASSERT_TRUE(server.waitforname("get_cc_status", 2, 5000));
    auto took = Clock::now() - start;
    s.jointhread();
    // Without the cut-short sleep the status would come only at the 600th pass.
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << "expected about 100 ms";
    auto names = sentnames();
    auto gpu = std::find(names.begin(), names.end(), "set_gpu_mode");
    ASSERT_NE(gpu, names.end());
    EXPECT_NE(std::find(gpu, names.end(), "get_cc_status"), names.end());
    EXPECT_FALSE(s.forceccstatus);
}

TEST_F(CommandTest, TaskOperationText)
{
    s.opresult("http://127.0.0.1:9/alpha/", "alpha@home_wu_0_0", "suspend_result");
    EXPECT_EQ(lastbody("suspend_result"),
              "<suspend_result>\n<project_url>http://127.0.0.1:9/alpha/</project_url>\n"
              "<name>alpha@home_wu_0_0</name>\n</suspend_result>");
}

TEST_F(CommandTest, ProjectOperationLooksTheUrlUp)
{
    s.opproject("Beta Project", "project_suspend");
    EXPECT_TRUE(sent().empty()) << "no state snapshot yet: nothing is sent";

    s.statesnapshots.push(parse(readfixture("get_state.xml")));
    s.opproject("Beta Project", "project_suspend");
    EXPECT_EQ(lastbody("project_suspend"),
              "<project_suspend>\n<project_url>http://127.0.0.1:9/beta/</project_url>\n"
              "</project_suspend>");
    s.opproject("Nobody", "project_update");
    EXPECT_EQ(lastbody("project_update"),
              "<project_update>\n<project_url></project_url>\n</project_update>");
    s.statesnapshots.push(parse("<cc_status/>"));
    s.opproject("Beta Project", "project_reset");
    EXPECT_EQ(lastbody("project_reset"),
              "<project_reset>\n<project_url>ERR2</project_url>\n</project_reset>");
    // The snapshot was given back each time.
    s.statesnapshots.release(nullptr);
    EXPECT_EQ(s.statesnapshots.entrycount(), 1u);
}

TEST_F(CommandTest, BenchmarksAndAllProjectsList)
{
    s.runbenchmarks();
    EXPECT_EQ(lastbody("run_benchmarks"), "<run_benchmarks/>");
    s.updateallprojectslist();
    ASSERT_TRUE(s.allprojectstree);
    EXPECT_TRUE(s.findallprojectsentry("Alpha@Home"));
    server.stop();
    s.updateallprojectslist();
    EXPECT_FALSE(s.allprojectstree) << "a failed fetch leaves no stale list";
}

TEST_F(CommandTest, InsertedValuesAreEscaped)
{
    s.opresult("http://h/?a=1&b=<2>", "x</name><abort_result/>", "abort_result");
    EXPECT_EQ(lastbody("abort_result"),
              "<abort_result>\n<project_url>http://h/?a=1&amp;b=&lt;2&gt;</project_url>\n"
              "<name>x&lt;/name&gt;&lt;abort_result/&gt;</name>\n</abort_result>");
    std::string err;
    queue("create_account_poll", "<account_out><authenticator>k</authenticator></account_out>");
    EXPECT_TRUE(s.createaccount("http://p/", "me&you@x", "p<w>&", "Al & Bo", "<Team>", err));
    EXPECT_EQ(lastbody("create_account"),
              "<create_account>\n   <url>http://p/</url>\n   <email_addr>me&amp;you@x</email_addr>\n"
              "   <passwd_hash>" + md5hex("p<w>&", "me&you@x") + "</passwd_hash>\n"
              "   <user_name>Al &amp; Bo</user_name>\n   <team_name>&lt;Team&gt;</team_name>\n"
              "</create_account>\n");
    s.accountmanager("", "n&m", "a<b", false, err);
    EXPECT_EQ(lastbody("acct_mgr_rpc"),
              "<acct_mgr_rpc>\n<url></url>\n<name>n&amp;m</name>\n<password>a&lt;b</password>\n"
              "</acct_mgr_rpc>\n");
}

TEST_F(CommandTest, ProjectConfigPolling)
{
    queue("get_project_config_poll", kInProgress, 2);
    EXPECT_TRUE(s.getprojectconfig("http://127.0.0.1:9/gamma/"));
    EXPECT_EQ(lastbody("get_project_config"),
              "<get_project_config>\n<url>http://127.0.0.1:9/gamma/</url></get_project_config>\n");
    EXPECT_EQ(server.countof("get_project_config_poll"), 3u);

    queue("get_project_config_poll", "<error_num>-1</error_num>");
    EXPECT_FALSE(s.getprojectconfig("http://x/"));
    queue("get_project_config_poll", "<nothing/>");
    EXPECT_FALSE(s.getprojectconfig("http://x/"));

    server.clearrequests();
    server.setreply("get_project_config_poll", kInProgress);
    EXPECT_FALSE(s.getprojectconfig("http://x/"));
    EXPECT_EQ(server.countof("get_project_config_poll"), 31u);
}

TEST_F(CommandTest, CreateAccountPolling)
{
    std::string err;
    queue("create_account_poll", kInProgress, 2);
    queue("create_account_poll", "<account_out><authenticator>abc</authenticator></account_out>");
    EXPECT_TRUE(s.createaccount("http://p/", "a@b", "pw", "me", "", err));
    EXPECT_EQ(server.countof("create_account_poll"), 3u);

    queue("create_account_poll",
          "<account_out><error_num>-136</error_num><error_msg>email in use</error_msg></account_out>");
    err = "old";
    EXPECT_FALSE(s.createaccount("http://p/", "a@b", "pw", "me", "", err));
    EXPECT_EQ(err, "email in use");

    // No outcome after 31 polls is a time-out, not a success.
    server.clearrequests();
    server.setreply("create_account_poll", "<account_out/>");
    err.clear();
    EXPECT_FALSE(s.createaccount("http://p/", "a@b", "pw", "me", "", err));
    EXPECT_EQ(err, "error timeout");
    EXPECT_EQ(server.countof("create_account_poll"), 31u);

    // An authenticator in the very last poll is an outcome.
    server.clearreply("create_account_poll");
    queue("create_account_poll", kInProgress, 30);
    queue("create_account_poll", "<account_out><authenticator>abc</authenticator></account_out>");
    err.clear();
    EXPECT_TRUE(s.createaccount("http://p/", "a@b", "pw", "me", "", err));
}

TEST_F(CommandTest, AttachLooksTheAccountUpThenAttaches)
{
    std::string err;
    queue("lookup_account_poll", kInProgress);
    queue("lookup_account_poll", "<account_out><authenticator>k3y&amp;</authenticator></account_out>");
    EXPECT_TRUE(s.projectattach("http://127.0.0.1:9/gamma/", "Gamma Grid", "a@b", "secret", err));
    EXPECT_EQ(lastbody("lookup_account"),
              "<lookup_account>\n<url>http://127.0.0.1:9/gamma/</url>\n<email_addr>a@b</email_addr>\n"
              "<passwd_hash>" + md5hex("secret", "a@b") + "</passwd_hash>\n</lookup_account>\n");
    EXPECT_EQ(lastbody("project_attach"),
              "<project_attach>\n<project_url>http://127.0.0.1:9/gamma/</project_url>\n"
              "<authenticator>k3y&amp;</authenticator>\n<project_name>Gamma Grid</project_name>\n"
              "</project_attach>\n");
    EXPECT_EQ(sentnames(), (std::vector<std::string>{"lookup_account", "lookup_account_poll",
                                                     "lookup_account_poll", "project_attach"}));

    queue("project_attach", "<error>Already attached to project</error>");
    err = "x: ";
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "x: Already attached to project");
}

TEST_F(CommandTest, AttachStopsOnALookupError)
{
    std::string err = "Error: ";
    queue("lookup_account_poll", "<account_out><error_num>-136</error_num><error_msg>x</error_msg></account_out>");
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "Error: x ");
    EXPECT_EQ(server.countof("project_attach"), 0u);
}

TEST_F(CommandTest, AttachTimesOutAfter31Polls)
{
    std::string err;
    server.setreply("lookup_account_poll", kInProgress);
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "error timeout");
    EXPECT_EQ(server.countof("lookup_account_poll"), 31u);
    EXPECT_EQ(server.countof("project_attach"), 0u);

    // An authenticator that arrives only with the 31st poll is too late.
    server.clearreply("lookup_account_poll");
    queue("lookup_account_poll", kInProgress, 30);
    queue("lookup_account_poll", "<account_out><authenticator>k</authenticator></account_out>");
    err.clear();
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "error timeout");
    EXPECT_EQ(server.countof("project_attach"), 0u);
}

TEST_F(CommandTest, AccountManagerJoin)
{
    std::string err;
    s.acctmgrinfosnapshots.refreshpending = false;
    queue("acct_mgr_rpc_poll", kInProgress);
    EXPECT_TRUE(s.accountmanager("http://127.0.0.1:9/manager/", "me", "pw", false, err));
    EXPECT_EQ(sentnames(), (std::vector<std::string>{"get_project_config", "get_project_config_poll",
                                                     "acct_mgr_rpc", "acct_mgr_rpc_poll",
                                                     "acct_mgr_rpc_poll"}));
    EXPECT_EQ(lastbody("acct_mgr_rpc"),
              "<acct_mgr_rpc>\n<url>http://127.0.0.1:9/manager/</url>\n<name>me</name>\n"
              "<password>pw</password>\n</acct_mgr_rpc>\n");
    EXPECT_TRUE(s.acctmgrinfosnapshots.refreshpending);
}

TEST_F(CommandTest, AccountManagerWithoutUrlAsksForNoConfig)
{
    std::string err;
    EXPECT_TRUE(s.accountmanager("", "", "", false, err));
    EXPECT_EQ(server.countof("get_project_config"), 0u);
    EXPECT_EQ(lastbody("acct_mgr_rpc"),
              "<acct_mgr_rpc>\n<url></url>\n<name></name>\n<password></password>\n</acct_mgr_rpc>\n");
    EXPECT_TRUE(s.accountmanager("http://m/", "", "", true, err));
    EXPECT_EQ(lastbody("acct_mgr_rpc"), "<acct_mgr_rpc>\n<use_config_file/>\n</acct_mgr_rpc>\n");
}

TEST_F(CommandTest, AccountManagerWithoutConfigSendsNothingMore)
{
    std::string err;
    queue("get_project_config_poll", "<error_num>-113</error_num>");
    EXPECT_FALSE(s.accountmanager("http://m/", "me", "pw", false, err));
    EXPECT_EQ(err, "Can't get config");
    EXPECT_EQ(server.countof("acct_mgr_rpc"), 0u);
}

TEST_F(CommandTest, AccountManagerErrorsAndUndecidedPolls)
{
    std::string err;
    queue("acct_mgr_rpc_poll", "<acct_mgr_rpc_reply><error_num>-206</error_num>"
                               "<message>Invalid password</message></acct_mgr_rpc_reply>");
    EXPECT_FALSE(s.accountmanager("", "me", "bad", false, err));
    EXPECT_EQ(err, "Invalid password");

    // Replies without a number are polled again at once: 31 of them end it quickly.
    LinkWaits slowpolls(1000, 300000, 2000);
    server.clearrequests();
    server.setreply("acct_mgr_rpc_poll", "<acct_mgr_rpc_reply/>");
    err.clear();
    auto start = Clock::now();
    EXPECT_FALSE(s.accountmanager("", "me", "pw", false, err));
    auto took = Clock::now() - start;
    EXPECT_EQ(server.countof("acct_mgr_rpc_poll"), 31u);
    EXPECT_LT(took, std::chrono::seconds(5)) << "31 waits of 0.3 s would take 9 s";
    EXPECT_EQ(err, "");
}

TEST_F(CommandTest, InputTooLongForARequestIsRefusedBeforeSending)
{
    std::string longtext(1000, 'a');
    std::string err;
    EXPECT_FALSE(s.createaccount("http://p/", longtext + "@x", "pw", "me", "", err));
    EXPECT_EQ(err, Srv::kInputTooLong);
    err.clear();
    EXPECT_FALSE(s.projectattach("http://p/", longtext, "a@b", "pw", err));
    EXPECT_EQ(err, Srv::kInputTooLong);
    err.clear();
    EXPECT_FALSE(s.accountmanager("http://m/", "me", longtext, false, err));
    EXPECT_EQ(err, Srv::kInputTooLong);
    err.clear();
    // Escaping counts: 200 ampersands become 1000 bytes.
    EXPECT_FALSE(s.createaccount("http://p/", "a@b", "pw", std::string(200, '&'), "", err));
    EXPECT_EQ(err, Srv::kInputTooLong);
    EXPECT_EQ(server.requestcount(), 0u);

    s.opresult("http://p/", longtext, "abort_result");
    EXPECT_EQ(server.countof("abort_result"), 0u);
}

TEST(AccountErrorTest, NumbersSayWhatTheyMean)
{
    const struct {
        int num;
        const char* text;
    } cases[] = {
        {-107, "-107 (cannot connect)"},         {-113, "-113 (host name not found)"},
        {-130, "-130 (already attached)"},       {-136, "-136 (no such account)"},
        {-137, "-137 (not unique)"},             {-183, "-183 (project down)"},
        {-184, "-184 (temporary HTTP error)"},   {-188, "-188 (bad user name)"},
        {-189, "-189 (invalid URL)"},            {-205, "-205 (bad e-mail address)"},
        {-206, "-206 (wrong password)"},         {-207, "-207 (e-mail already in use)"},
        {-208, "-208 (account creation disabled)"}, {-224, "-224 (permanent HTTP error)"},
        {-1, "-1"},                              {12, "12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(accounterrortext(c.num), c.text);
        EXPECT_EQ(accounterrormeaning(c.num) != nullptr, std::string(c.text).find('(') != std::string::npos);
    }
}

TEST_F(CommandTest, AFailureWithoutTextGivesItsNumber)
{
    // As a real client answers for a project it cannot reach: a number, no message.
    const std::string bare = "<account_out><error_num>-107</error_num></account_out>";
    const std::string empty = "<account_out><error_num>-107</error_num><error_msg></error_msg></account_out>";
    std::string err;
    queue("create_account_poll", bare);
    EXPECT_FALSE(s.createaccount("http://p/", "a@b", "pw", "me", "", err));
    EXPECT_EQ(err, "-107 (cannot connect)");
    err.clear();
    queue("lookup_account_poll", empty);
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "-107 (cannot connect) ");
    err.clear();
    queue("project_attach", "<error_num>-130</error_num>");
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "-130 (already attached)");
    err.clear();
    queue("acct_mgr_rpc_poll", "<acct_mgr_rpc_reply><error_num>-206</error_num></acct_mgr_rpc_reply>");
    EXPECT_FALSE(s.accountmanager("", "me", "pw", false, err));
    EXPECT_EQ(err, "-206 (wrong password)");
    // The client's own text wins over the number.
    err.clear();
    queue("lookup_account_poll", "<account_out><error_num>-136</error_num><error_msg>who?</error_msg></account_out>");
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_EQ(err, "who? ");
}

TEST_F(CommandTest, CommandsFailQuietlyOffline)
{
    server.stop();
    std::string err;
    EXPECT_FALSE(s.getprojectconfig("http://p/"));
    EXPECT_FALSE(s.createaccount("http://p/", "a@b", "pw", "me", "", err));
    EXPECT_FALSE(s.projectattach("http://p/", "P", "a@b", "pw", err));
    EXPECT_FALSE(s.accountmanager("", "", "", false, err));
    EXPECT_EQ(err, "");
    s.opresult("http://p/", "t", "suspend_result");
    s.runbenchmarks();
}

TEST(ProjectLookupTest, NamesAndUrls)
{
    auto state = parse(readfixture("get_state.xml"));
    EXPECT_EQ(projectnamebyurl(state.get(), "http://127.0.0.1:9/beta/"), "Beta Project");
    EXPECT_EQ(projectnamebyurl(state.get(), "http://nowhere/"), "???");
    EXPECT_EQ(projecturlbyname(state.get(), "Alpha@Home"), "http://127.0.0.1:9/alpha/");
    EXPECT_EQ(projecturlbyname(state.get(), "Nobody"), "");
    auto other = parse("<cc_status/>");
    EXPECT_EQ(projectnamebyurl(other.get(), "http://127.0.0.1:9/beta/"), "ERR2");
    EXPECT_EQ(projecturlbyname(other.get(), "Alpha@Home"), "ERR2");
    EXPECT_EQ(projectnamebyurl(nullptr, "x"), "ERR2");
    auto partial = parse("<client_state><project><master_url>u</master_url></project>"
                         "<project><project_name>N</project_name><master_url>v</master_url>"
                         "</project></client_state>");
    EXPECT_EQ(projecturlbyname(partial.get(), "N"), "v");
    EXPECT_EQ(projectnamebyurl(partial.get(), "u"), "???");
}

} // namespace

TEST_F(CommandTest, ClientControlTexts)
{
    const struct {
        std::function<SrvAnswer()> run;
        const char* name;
        const char* body;
    } cases[] = {
        {[&] { return s.retrytransfer("http://a/", "f<1>"); }, "retry_file_transfer",
         "<retry_file_transfer>\n<project_url>http://a/</project_url>\n<filename>f&lt;1&gt;</filename>\n"
         "</retry_file_transfer>"},
        {[&] { return s.aborttransfer("http://a/", "f_2"); }, "abort_file_transfer",
         "<abort_file_transfer>\n<project_url>http://a/</project_url>\n<filename>f_2</filename>\n"
         "</abort_file_transfer>"},
        {[&] { return s.readccconfig(); }, "read_cc_config", "<read_cc_config/>"},
        {[&] { return s.readglobalprefsoverride(); }, "read_global_prefs_override",
         "<read_global_prefs_override/>"},
        {[&] { return s.networkavailable(); }, "network_available", "<network_available/>"},
        {[&] { return s.quitclient(); }, "quit", "<quit/>"},
        {[&] { return s.setmodefor(ModeKind::run, "never", 3600); }, "set_run_mode",
         "<set_run_mode><never/><duration>3600</duration></set_run_mode>"},
        {[&] { return s.setmodefor(ModeKind::gpu, "never", 3600); }, "set_gpu_mode",
         "<set_gpu_mode><never/><duration>3600</duration></set_gpu_mode>"},
        {[&] { return s.setmodefor(ModeKind::network, "auto", 0); }, "set_network_mode",
         "<set_network_mode><auto/><duration>0</duration></set_network_mode>"},
    };
    for (const auto& c : cases) {
        SrvAnswer a = c.run();
        EXPECT_TRUE(a.isok()) << c.name << ": " << a.text;
        EXPECT_EQ(lastbody(c.name), c.body);
    }
    EXPECT_TRUE(s.forceccstatus) << "a snooze shows in the status at once";
    EXPECT_TRUE(s.filetransfersnapshots.refreshpending) << "so does a retried transfer";

    // A mode word becomes an element name: nothing else goes out.
    server.clearrequests();
    EXPECT_EQ(s.setmodefor(ModeKind::run, "never/><quit", 60).kind, SrvAnswer::error);
    EXPECT_TRUE(sent().empty());
    // The client's refusals come back as it said them.
    server.setreply("retry_file_transfer", "<error>No such file</error>");
    server.setreply("read_cc_config", "<error>unrecognized op: read_cc_config/</error>");
    EXPECT_EQ(s.retrytransfer("http://a/", "x").text, "No such file");
    SrvAnswer unknown = s.readccconfig();
    EXPECT_EQ(unknown.kind, SrvAnswer::unsupported);
    EXPECT_EQ(unknown.text, "not supported by this client");
    server.stop();
    EXPECT_EQ(s.quitclient().kind, SrvAnswer::noanswer);
}

TEST(AnswerTest, RepliesReadAsAnswers)
{
    const struct {
        const char* reply; // null: no reply
        SrvAnswer::Kind kind;
        const char* text;
    } cases[] = {
        {nullptr, SrvAnswer::noanswer, "no answer from the client"},
        {"<success/>", SrvAnswer::ok, ""},
        {"", SrvAnswer::ok, ""},
        {"<error>unrecognized op: foo_bar/</error>", SrvAnswer::unsupported, "not supported by this client"},
        {"<error>No such file</error>", SrvAnswer::error, "No such file"},
        {"<error/>", SrvAnswer::error, "error"},
        {"<failure/>", SrvAnswer::error, "failed"},
        {"<error_num>-161</error_num>", SrvAnswer::error, "error -161"},
        {"<error_num>0</error_num>", SrvAnswer::ok, ""},
        {"<unauthorized/>", SrvAnswer::error, "unauthorized"},
    };
    for (const auto& c : cases) {
        auto tree = c.reply ? parse(c.reply) : nullptr;
        SrvAnswer a = answerof(tree.get());
        EXPECT_EQ(a.kind, c.kind) << (c.reply ? c.reply : "none");
        EXPECT_EQ(a.text, c.text) << (c.reply ? c.reply : "none");
    }
}
