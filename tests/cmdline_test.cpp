#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <vector>

#include "cmdline.h"
#include "config.h"
#include "tempdir.h"

namespace {

struct RunResult {
    std::string out;
    int status = -1;
};

// Runs build/varnix with a private HOME; standard error is dropped.
RunResult runvarnix(const std::string& args, const std::string& home)
{
    std::string cmd = "HOME='" + home + "' '" VARNIX_BINARY_DIR "/varnix' " + args + " 2>/dev/null";
    RunResult r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

struct Parsed {
    bool start;
    int status;
    std::string out;
};

Parsed parse(Config& cfg, std::vector<std::string> args)
{
    args.insert(args.begin(), "varnix");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Parsed p{};
    testing::internal::CaptureStdout();
    p.start = parsecmdline(static_cast<int>(args.size()), argv.data(), cfg, p.status);
    p.out = testing::internal::GetCapturedStdout();
    return p;
}

class CmdlineTest : public ::testing::Test {
protected:
    TempDir home;
    ScopedEnv env{"HOME", home.path().c_str()};
    Config cfg{".varnix.cfg"};
};

} // namespace

TEST(VarnixBinary, HelpPrintsUsageAndEndsWithoutSaving)
{
    TempDir home;
    RunResult r = runvarnix("--help", home.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(kUsageText) + "\n");
    EXPECT_EQ(r.out.substr(0, 10), "\n\nusage: \n");
    EXPECT_NE(r.out.find("\nexamples: \n"), std::string::npos);
    EXPECT_NE(r.out.find("password from /var/lib/boinc-client/gui_rpc_auth.cfg\n"), std::string::npos);
    EXPECT_EQ(readfile(home.file(".varnix.cfg")), "") << "no configuration written";
}

TEST(VarnixBinary, OptionErrorsFailWithoutUsage)
{
    TempDir home;
    RunResult bad = runvarnix("--nosuchoption", home.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    RunResult missing = runvarnix("-b", home.path());
    EXPECT_EQ(missing.status, 1);
    RunResult both = runvarnix("--help --nosuchoption", home.path());
    EXPECT_EQ(both.status, 1);
}

TEST(VarnixBinary, HostCheckLines)
{
    TempDir home;
    RunResult local = runvarnix("--boinchost=127.0.0.1 --help", home.path());
    EXPECT_EQ(local.status, 0);
    EXPECT_EQ(local.out.rfind("boinc server '127.0.0.1'  (local host)\n"
                              "boinc server TCP port '31416'\n", 0), 0u) << local.out;

    RunResult split = runvarnix("-b h:1:2 --help", home.path());
    EXPECT_EQ(split.out.rfind("cat't resolve gethostbynameboinc server 'h:1'  \n"
                              "boinc server TCP port '2'\n", 0), 0u) << split.out;
}

TEST_F(CmdlineTest, OptionsFillTheCommandLineFields)
{
    Parsed p = parse(cfg, {"--pwd=secret", "-b", "10.1.2.3:4000"});
    EXPECT_TRUE(p.start);
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(cfg.cmdpassword, "secret");
    EXPECT_EQ(cfg.cmdhost, "10.1.2.3");
    EXPECT_EQ(cfg.cmdport, "4000");
    EXPECT_FALSE(cfg.cmdhostislocal);
    EXPECT_EQ(p.out, "boinc server '10.1.2.3'  \nboinc server TCP port '4000'\n");

    // Without a colon the port keeps the value of an earlier -b.
    parse(cfg, {"-b", "10.1.2.3"});
    EXPECT_EQ(cfg.cmdport, "4000");
}

TEST_F(CmdlineTest, LaterOptionsStillCountAfterHelpOrError)
{
    Parsed p = parse(cfg, {"--help", "--pwd=x"});
    EXPECT_FALSE(p.start);
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(cfg.cmdpassword, "x");

    testing::internal::CaptureStderr();
    Parsed e = parse(cfg, {"--wrong", "-p", "y"});
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(e.start);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(cfg.cmdpassword, "y");
}

TEST_F(CmdlineTest, LocalhostIsLocalWhenItResolvesToLoopback)
{
    Parsed p = parse(cfg, {"--boinchost=localhost"});
    if (p.out.find("127.0.0.1") == std::string::npos)
        GTEST_SKIP() << "localhost does not resolve to 127.0.0.1 here";
    EXPECT_TRUE(cfg.cmdhostislocal);
    EXPECT_NE(p.out.find("(local host)"), std::string::npos);
}
