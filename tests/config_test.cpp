#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "config.h"
#include "tempdir.h"

namespace {

class ConfigTest : public ::testing::Test {
protected:
    TempDir home;
    ScopedEnv env{"HOME", home.path().c_str()};
    std::string cfgpath = home.file(".varnix.cfg");

    std::unique_ptr<Config> start() { return std::make_unique<Config>(".varnix.cfg"); }
};

mode_t filemode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

TEST_F(ConfigTest, FirstStartWritesTheTenLineFileThenAddsVersion)
{
    auto cfg = start();
    EXPECT_TRUE(cfg->isdefault);
    EXPECT_EQ(cfg->errortext, "");
    EXPECT_EQ(cfg->path, cfgpath);
    cfg->save();
    EXPECT_EQ(readfile(cfgpath), kFirstStartConfig);
    EXPECT_EQ(filemode(cfgpath), 0600u) << "the file holds passwords";

    auto second = start();
    EXPECT_FALSE(second->isdefault);
    Item* version = second->getcfgroot()->find("version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->value(), "2.7.2");
    // The version goes after the other keys.
    EXPECT_EQ(second->getcfgroot()->getchildren().back().get(), version);
    second->save();
    EXPECT_NE(readfile(cfgpath).find("    <version>2.7.2\n    </version>\n</varnix_cfg>\n"),
              std::string::npos);
}

TEST_F(ConfigTest, ExistingVersionIsKept)
{
    writefile(cfgpath, "<varnix_cfg><version>2.6.0</version></varnix_cfg>");
    auto cfg = start();
    EXPECT_EQ(cfg->getcfgroot()->find("version")->value(), "2.6.0");
    EXPECT_EQ(cfg->getcfgroot()->children("version").size(), 1u);
}

TEST_F(ConfigTest, ValuesWithMarkupBlanksAndMultibyteSurviveRoundTrip)
{
    auto cfg = start();
    const std::string pwd = "p<a&s>s \"word\"";
    const std::string label = "Zo\xc3\xab's  box & co";
    cfg->addserver("host&1", "31416", pwd, label);
    cfg->save();

    auto again = start();
    EXPECT_EQ(again->errortext, "");
    auto servers = again->getcfgroot()->children("server");
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[1]->find("host")->value(), "host&1");
    EXPECT_EQ(servers[1]->find("pwd")->value(), pwd);
    EXPECT_EQ(servers[1]->find("hostid")->value(), label);
}

TEST_F(ConfigTest, Latin1BytesInAnOldFileReadBackByteForByte)
{
    writefile(cfgpath, "<varnix_cfg><server><host>h</host><port>1</port><pwd>caf\xe9</pwd>"
                       "<hostid>x</hostid></server></varnix_cfg>");
    auto cfg = start();
    EXPECT_EQ(cfg->errortext, "");
    EXPECT_EQ(cfg->getcfgroot()->find("pwd")->value(), "caf\xe9");
    cfg->save();
    auto again = start();
    EXPECT_EQ(again->getcfgroot()->find("pwd")->value(), "caf\xe9");
}

TEST_F(ConfigTest, BrokenFilesAreReportedAndNeverOverwritten)
{
    const std::string bad[] = {
        "",                                              // empty
        "<varnix_cfg><server><host>127.0.0.1</host>",    // truncated
        std::string("\x7f" "ELF\0\0\x01\x02<<>>", 12),   // binary
        "<varnix_cfg><a></b></varnix_cfg>",              // not well-formed
    };
    for (const std::string& text : bad) {
        writefile(cfgpath, text);
        auto cfg = start();
        EXPECT_EQ(cfg->errortext.rfind(cfgpath + "\nXML error:", 0), 0u) << cfg->errortext;
        EXPECT_FALSE(cfg->isdefault);
        cfg->setintvalue("tasks_sort_mode", 3);
        cfg->addserver("x", "1", "", "");
        cfg->save();
        EXPECT_EQ(readfile(cfgpath), text);
    }
}

TEST_F(ConfigTest, TruncatedFileKeepsWhatParsed)
{
    writefile(cfgpath, "<varnix_cfg><server><host>10.0.0.1</host><port>31416</port></server><serv");
    auto cfg = start();
    EXPECT_NE(cfg->errortext, "");
    ASSERT_NE(cfg->getcfgroot(), nullptr);
    EXPECT_EQ(cfg->getcfgroot()->find("host")->value(), "10.0.0.1");
}

TEST_F(ConfigTest, HugeFileLoadsWithoutTrouble)
{
    std::string big = "<varnix_cfg>";
    std::string entry = "<accmgr><name>n</name><url>http://example.invalid/</url></accmgr>\n";
    while (big.size() < 50u * 1024 * 1024)
        big += entry;
    big += "</varnix_cfg>";
    writefile(cfgpath, big);
    auto cfg = start();
    EXPECT_EQ(cfg->errortext, "");
    EXPECT_GT(cfg->getcfgroot()->children("accmgr").size(), 500000u);
}

TEST_F(ConfigTest, UnreadableFileGivesNoTreeAndNoSave)
{
    // A folder in place of the file cannot be read, even by root.
    ASSERT_EQ(mkdir(cfgpath.c_str(), 0700), 0);
    auto cfg = start();
    EXPECT_EQ(cfg->root, nullptr);
    EXPECT_TRUE(cfg->isdefault);
    EXPECT_EQ(cfg->errortext.rfind(cfgpath + "\n", 0), 0u);
    cfg->save();
    struct stat st;
    ASSERT_EQ(stat(cfgpath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// A pipe would block the start for ever and a device never ends: neither is read, and
// neither is written over.
TEST_F(ConfigTest, PipesAndDevicesAreNotRead)
{
    ASSERT_EQ(mkfifo(cfgpath.c_str(), 0600), 0);
    auto fifo = start();
    EXPECT_EQ(fifo->errortext, cfgpath + "\ncannot read the file: not a regular file");
    fifo->save();
    ASSERT_EQ(unlink(cfgpath.c_str()), 0);

    ASSERT_EQ(symlink("/dev/zero", cfgpath.c_str()), 0);
    auto zero = start();
    EXPECT_EQ(zero->root, nullptr);
    EXPECT_EQ(zero->errortext, cfgpath + "\ncannot read the file: not a regular file");
    zero->save();
    struct stat st;
    ASSERT_EQ(lstat(cfgpath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ConfigTest, SaveReplacesTheTargetOfASymbolicLinkAndKeepsItsMode)
{
    std::string target = home.file("real.cfg");
    writefile(target, "<varnix_cfg><line_draw_mode>1</line_draw_mode></varnix_cfg>");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.cfg", cfgpath.c_str()), 0);

    auto cfg = start();
    EXPECT_EQ(cfg->linedrawmode, 1);
    cfg->setintvalue("tasks_list_mode", 2);
    cfg->save();

    struct stat st;
    ASSERT_EQ(lstat(cfgpath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(readfile(target).find("<tasks_list_mode>2"), std::string::npos);
    EXPECT_EQ(filemode(target), 0640u);
}

TEST_F(ConfigTest, FailedSaveLeavesNoTemporaryFiles)
{
    auto cfg = start();
    cfg->path = home.file("missing-folder/.varnix.cfg");
    EXPECT_FALSE(cfg->save()); // cannot be written: nothing changes on disk
    cfg->path = cfgpath;
    EXPECT_TRUE(cfg->save());
    // Only the configuration itself is left in the folder: no temporary files.
    EXPECT_EQ(system(("test \"$(ls -A " + home.path() + ")\" = .varnix.cfg").c_str()), 0);
}

TEST_F(ConfigTest, SaveTellsWhyNothingWasWritten)
{
    writefile(cfgpath, "<varnix_cfg><server>");
    auto broken = start();
    std::string why;
    EXPECT_FALSE(broken->save(&why));
    EXPECT_EQ(why, "not saved, the file could not be read at start:\n" + broken->errortext);

    writefile(cfgpath, "<other/>");
    auto foreign = start();
    EXPECT_FALSE(foreign->save(&why));
    EXPECT_EQ(why, "not saved: the file has no varnix_cfg element");
    EXPECT_EQ(readfile(cfgpath), "<other/>");

    unlink(cfgpath.c_str());
    auto cfg = start();
    cfg->path.clear();
    EXPECT_FALSE(cfg->save(&why));
    EXPECT_EQ(why, "not saved: no home folder is known");
    cfg->path = home.file("none/.varnix.cfg");
    EXPECT_FALSE(cfg->save(&why));
    EXPECT_EQ(why, cfg->path + "\ncannot write the file: No such file or directory");
    cfg->path = cfgpath;
    why.clear();
    EXPECT_TRUE(cfg->save(&why));
    EXPECT_EQ(why, "");
}

// A file that others may read keeps its mode until it holds a password.
TEST_F(ConfigTest, APasswordMakesTheFileTheOwnersOnly)
{
    writefile(cfgpath, "<varnix_cfg><version>2.7.2</version></varnix_cfg>");
    ASSERT_EQ(chmod(cfgpath.c_str(), 0644), 0);
    auto cfg = start();
    ASSERT_TRUE(cfg->save());
    EXPECT_EQ(filemode(cfgpath), 0644u);
    cfg->addserver("h", "1", "secret", "");
    ASSERT_TRUE(cfg->save());
    EXPECT_EQ(filemode(cfgpath), 0600u);
    EXPECT_NE(readfile(cfgpath).find("<pwd>secret"), std::string::npos);
}

// Adds a server and saves as an ordinary user (root may write anywhere) in a process of
// its own; `maxfilebytes` > 0 stands in for a disk that is nearly full.
static int saveasuser(const std::string& dir, rlim_t maxfilebytes = 0)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        if (maxfilebytes) {
            signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
            rlimit limit{maxfilebytes, maxfilebytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        setenv("HOME", dir.c_str(), 1);
        Config cfg(".varnix.cfg");
        cfg.addserver("10.1.2.3", "31416", "", "kept");
        cfg.save();
        _exit(cfg.errortext.empty() ? 0 : 3);
    }
    int status = -1;
    if (pid > 0)
        waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A writable file in a folder the user may not write to is still saved, in place; when
// the new text does not fit on the disk, the old file stays as it was.
TEST_F(ConfigTest, WritableFileInReadOnlyFolderIsRewrittenInPlace)
{
    std::string dir = home.file("ro");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    std::string file = dir + "/.varnix.cfg";
    const std::string old = "<varnix_cfg><version>2.7.2</version></varnix_cfg>";
    writefile(file, old);
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(chmod(home.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);

    EXPECT_EQ(saveasuser(dir, 60), 0);
    EXPECT_EQ(readfile(file), old) << "a full disk must not leave half a file";

    EXPECT_EQ(saveasuser(dir), 0);
    chmod(dir.c_str(), 0755);
    std::string text = readfile(file);
    EXPECT_NE(text.find("<hostid>kept"), std::string::npos) << text;
    EXPECT_NE(text.find("<version>2.7.2"), std::string::npos) << text;
}

// A byte-order mark put there by an editor does not change a password or label.
TEST_F(ConfigTest, ByteOrderMarkLeavesValuesAsTheyWere)
{
    writefile(cfgpath, "\xEF\xBB\xBF<varnix_cfg><server><host>h</host><port>1</port>"
                       "<pwd>p\xC3\xA4ss</pwd><hostid>Zo\xC3\xAB</hostid></server></varnix_cfg>");
    auto cfg = start();
    EXPECT_EQ(cfg->errortext, "");
    EXPECT_EQ(cfg->getcfgroot()->find("pwd")->value(), "p\xC3\xA4ss");
    cfg->save();
    std::string saved = readfile(cfgpath);
    EXPECT_NE(saved.find("<pwd>p\xC3\xA4ss\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<hostid>Zo\xC3\xAB\n"), std::string::npos) << saved;
}

TEST_F(ConfigTest, IntValuesAndServers)
{
    auto cfg = start();
    Item* root = cfg->getcfgroot();
    EXPECT_EQ(cfg->intvalue(nullptr, "x"), 0);
    EXPECT_EQ(cfg->intvalue(root, "column_view_mask"), 0);
    cfg->setintvalue("column_view_mask", -1);
    EXPECT_EQ(cfg->intvalue(root, "column_view_mask"), -1);
    cfg->setintvalue(root, "column_view_mask", 5);
    EXPECT_EQ(root->children("column_view_mask").size(), 1u);
    root->find("column_view_mask")->setvalue("abc");
    EXPECT_EQ(cfg->intvalue(root, "column_view_mask"), 0);

    cfg->addserver("h", "", "p", "id"); // no port: nothing added
    cfg->addserver("", "1", "p", "id"); // no host: nothing added
    cfg->addserver("h", "2", "", "");
    auto servers = root->children("server");
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[1]->find("pwd"), nullptr);
    ASSERT_NE(servers[1]->find("hostid"), nullptr);
    EXPECT_EQ(servers[1]->find("hostid")->value(), "");
}

TEST_F(ConfigTest, DisplaySettingsReadAtCreation)
{
    writefile(cfgpath, "<varnix_cfg><line_draw_mode>1</line_draw_mode>"
                       "<transparent_background>1</transparent_background></varnix_cfg>");
    auto cfg = start();
    EXPECT_EQ(cfg->linedrawmode, 1);
    EXPECT_EQ(cfg->transparentbackground, 1);
    writefile(cfgpath, "<other/>");
    auto none = start();
    EXPECT_EQ(none->linedrawmode, 0);
    EXPECT_EQ(none->transparentbackground, 0);
    EXPECT_EQ(none->getcfgroot(), nullptr);
}

TEST(ConfigHome, WithoutHomeUsesThePasswordDatabase)
{
    ScopedEnv env("HOME", nullptr);
    Config cfg(".varnix-test-unused.cfg");
    EXPECT_FALSE(cfg.path.empty());
    const std::string tail = "/.varnix-test-unused.cfg";
    ASSERT_GT(cfg.path.size(), tail.size());
    EXPECT_EQ(cfg.path.substr(cfg.path.size() - tail.size()), tail);
    EXPECT_TRUE(cfg.isdefault);
}
