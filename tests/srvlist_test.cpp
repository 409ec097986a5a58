#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "config.h"
#include "fakeserver.h"
#include "linkwaits.h"
#include "srvlist.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string serverxml(const std::string& host, const std::string& port, const std::string& pwd,
                      const std::string& hostid)
{
    std::string x = "<server>";
    if (!host.empty())
        x += "<host>" + host + "</host>";
    if (!port.empty())
        x += "<port>" + port + "</port>";
    if (!pwd.empty())
        x += "<pwd>" + pwd + "</pwd>";
    if (!hostid.empty())
        x += "<hostid>" + hostid + "</hostid>";
    return x + "</server>";
}

class SrvListTest : public ::testing::Test {
protected:
    LinkWaits waits{1000, 1000, 2000};
    Config cfg{".varnix-test-no-such-file.cfg"};
    Config* saved = gConfig;
    std::vector<std::string> savedfiles = SrvList::passwordfiles;
    std::string tmpdir;

    void SetUp() override
    {
        gConfig = &cfg;
        char tmpl[] = "/tmp/varnix-srvlist-XXXXXX";
        tmpdir = mkdtemp(tmpl);
        SrvList::passwordfiles = {tmpdir + "/none/gui_rpc_auth.cfg"};
    }
    void TearDown() override
    {
        gConfig = saved;
        SrvList::passwordfiles = savedfiles;
        std::string cmd = "rm -rf '" + tmpdir + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << tmpdir;
    }
    void configure(const std::string& servers)
    {
        std::string text = "<varnix_cfg>" + servers + "</varnix_cfg>";
        std::string err;
        cfg.root = parsexml(text.data(), text.size(), err);
        ASSERT_EQ(err, "");
    }
    std::string writefile(const std::string& name, const std::string& bytes)
    {
        std::string path = tmpdir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

TEST_F(SrvListTest, CommandLineHostComesFirstAndIsCurrent)
{
    FakeServer a("pa"), b("pb"), c("");
    cfg.cmdhost = "127.0.0.1";
    cfg.cmdport = a.portstr();
    cfg.cmdpassword = "pa";
    configure(serverxml("127.0.0.1", b.portstr(), "pb", "Box B") +
              serverxml("localhost", c.portstr(), "", "Box C"));
    SrvList list;
    ASSERT_EQ(list.servers.size(), 3u);
    EXPECT_EQ(list.current(), list.servers[0].get());
    EXPECT_EQ(list.servers[0]->port, a.portstr());
    EXPECT_EQ(list.servers[0]->password, "pa");
    EXPECT_EQ(list.servers[0]->hostid, "");
    EXPECT_EQ(list.servers[1]->port, b.portstr());
    EXPECT_EQ(list.servers[1]->password, "pb");
    EXPECT_EQ(list.servers[1]->hostid, "Box B");
    EXPECT_EQ(list.servers[2]->host, "localhost");
    EXPECT_EQ(list.servers[2]->password, "");
    EXPECT_TRUE(list.servers[0]->running);
    EXPECT_FALSE(list.servers[1]->running);
    EXPECT_FALSE(list.servers[2]->running);
    ASSERT_TRUE(a.waitforname("get_state"));
    EXPECT_EQ(b.requestcount(), 0u);
    EXPECT_EQ(c.requestcount(), 0u);
}

TEST_F(SrvListTest, IncompleteServersAreSkipped)
{
    configure(serverxml("10.1.1.1", "", "pw", "no port") + serverxml("", "31416", "", "no host") +
              serverxml("127.0.0.1", "1", "", ""));
    SrvList list;
    ASSERT_EQ(list.servers.size(), 1u);
    EXPECT_EQ(list.servers[0]->port, "1");
    EXPECT_EQ(list.servers[0]->hostid, "");
}

TEST_F(SrvListTest, NoUsableConfigurationGivesAnEmptyList)
{
    cfg.cmdhost = "127.0.0.1";
    cfg.root.reset();
    SrvList list;
    EXPECT_TRUE(list.servers.empty());
    EXPECT_EQ(list.current(), nullptr);
    list.next(); // harmless on an empty list
    list.prev();
    std::string err;
    cfg.root = parsexml("<other/>", 8, err);
    list.refill();
    EXPECT_TRUE(list.servers.empty());
}

TEST_F(SrvListTest, NextAndPrevWrapAround)
{
    configure(serverxml("127.0.0.1", "1", "", "one") + serverxml("127.0.0.1", "2", "", "two") +
              serverxml("127.0.0.1", "3", "", "three"));
    SrvList list;
    ASSERT_EQ(list.servers.size(), 3u);
    list.prev();
    EXPECT_EQ(list.current()->hostid, "three");
    EXPECT_TRUE(list.current()->running);
    EXPECT_FALSE(list.servers[0]->running);
    list.next();
    EXPECT_EQ(list.current()->hostid, "one");
    list.next();
    list.next();
    EXPECT_EQ(list.current()->hostid, "three");
    list.next();
    EXPECT_EQ(list.current()->hostid, "one");
    // A jump to a position moves the thread as next and prev do; outside the list, nothing.
    EXPECT_TRUE(list.setcurrent(1));
    EXPECT_EQ(list.current()->hostid, "two");
    EXPECT_FALSE(list.servers[0]->running);
    EXPECT_FALSE(list.setcurrent(3));
    EXPECT_FALSE(list.setcurrent(-1));
    EXPECT_EQ(list.current()->hostid, "two");
    int running = 0;
    for (auto& s : list.servers)
        running += s->running;
    EXPECT_EQ(running, 1);
}

TEST_F(SrvListTest, SingleHostRestartsItsThreadAndFetchesEverythingAgain)
{
    FakeServer a("");
    configure(serverxml("127.0.0.1", a.portstr(), "", "only"));
    SrvList list;
    ASSERT_TRUE(a.waitforname("get_cc_status"));
    Srv* only = list.current();
    list.next();
    EXPECT_EQ(list.current(), only);
    EXPECT_TRUE(only->running);
    ASSERT_TRUE(a.waitforname("get_cc_status", 2));
    list.prev();
    EXPECT_EQ(list.current(), only);
    ASSERT_TRUE(a.waitforname("get_cc_status", 3));
    EXPECT_GE(a.countof("get_statistics"), 3u);
}

TEST_F(SrvListTest, AfterNextOnlyTheNewCurrentHostIsPolled)
{
    FakeServer a(""), b("");
    configure(serverxml("127.0.0.1", a.portstr(), "", "A") +
              serverxml("127.0.0.1", b.portstr(), "", "B"));
    SrvList list;
    ASSERT_TRUE(a.waitforname("get_state", 3));
    list.next();
    ASSERT_TRUE(b.waitforname("get_state", 2));
    size_t afterswitch = a.requestcount(); // A's last pass is over by now
    ASSERT_TRUE(b.waitforname("get_state", 10));
    EXPECT_EQ(a.requestcount(), afterswitch);
    list.prev();
    ASSERT_TRUE(a.waitforname("get_state", 5));
    size_t bcount = b.requestcount();
    ASSERT_TRUE(a.waitforname("get_state", 12));
    EXPECT_EQ(b.requestcount(), bcount);
}

TEST_F(SrvListTest, ClearDoesNotWaitOutStalledHosts)
{
    LinkWaits real(100000, 1000000, 15000);
    FakeServer a(""), b("");
    a.setfault("get_state", Fault::stall);
    b.setfault("get_state", Fault::stall);
    configure(serverxml("127.0.0.1", a.portstr(), "", "A") +
              serverxml("127.0.0.1", b.portstr(), "", "B"));
    SrvList list;
    ASSERT_TRUE(a.waitforname("get_state"));
    list.next(); // A's stopped thread is still stuck in its exchange
    ASSERT_TRUE(b.waitforname("get_state"));
    auto start = Clock::now();
    list.clear();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << "the reply time-out is 15 s";
    EXPECT_EQ(list.current(), nullptr);
}

TEST_F(SrvListTest, LocalPasswordFileKeepsOnlyPrintableBytes)
{
    SrvList::passwordfiles = {writefile("auth.cfg", "s3cr3t pw~\x7f\r\n\x01\xc3\xa9!\n")};
    EXPECT_EQ(SrvList::readlocalpassword(), "s3cr3t pw~\x7f!");
    SrvList::passwordfiles = {writefile("plain.cfg", "abc\n")};
    EXPECT_EQ(SrvList::readlocalpassword(), "abc");
}

TEST_F(SrvListTest, SecondPasswordLocationWhenTheFirstIsMissing)
{
    SrvList::passwordfiles = {tmpdir + "/missing.cfg", writefile("debian.cfg", "deb\n")};
    EXPECT_EQ(SrvList::readlocalpassword(), "deb");
    SrvList::passwordfiles = {writefile("bsd.cfg", "bsd\n"), tmpdir + "/debian.cfg"};
    EXPECT_EQ(SrvList::readlocalpassword(), "bsd");
    SrvList::passwordfiles = {tmpdir + "/missing.cfg"};
    EXPECT_EQ(SrvList::readlocalpassword(), "");
}

TEST_F(SrvListTest, PasswordFileIsReadOnlyForALocalHostWithoutPassword)
{
    SrvList::passwordfiles = {writefile("auth.cfg", "filepw\n")};
    configure("");
    cfg.cmdhost = "127.0.0.1";
    cfg.cmdport = "1";
    cfg.cmdhostislocal = false;
    {
        SrvList list;
        EXPECT_EQ(list.current()->password, "");
    }
    cfg.cmdhostislocal = true;
    cfg.cmdpassword = "given";
    {
        SrvList list;
        EXPECT_EQ(list.current()->password, "given");
    }
    cfg.cmdpassword.clear();
    SrvList list;
    EXPECT_EQ(list.current()->password, "filepw");
    EXPECT_EQ(cfg.cmdpassword, "filepw");
    // Found once, it stays: a rebuild does not read the file again.
    writefile("auth.cfg", "changed\n");
    list.refill();
    EXPECT_EQ(list.current()->password, "filepw");
}

TEST_F(SrvListTest, LocalHostLogsInWithThePasswordFromTheFile)
{
    FakeServer a("from-file");
    SrvList::passwordfiles = {writefile("auth.cfg", "from-file\n")};
    configure("");
    cfg.cmdhost = "127.0.0.1";
    cfg.cmdport = a.portstr();
    cfg.cmdhostislocal = true;
    SrvList list;
    ASSERT_TRUE(a.waitforname("get_cc_status"));
    EXPECT_FALSE(list.current()->unauthorized);
}

} // namespace
