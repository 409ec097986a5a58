#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "addaccmgrform.h"
#include "config.h"
#include "fakeserver.h"
#include "linkwaits.h"
#include "ncursesfixture.h"
#include "srv.h"
#include "tempdir.h"
#include "tuievent.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>; // name, url

class ManagerCatcher : public NGroup {
public:
    ManagerCatcher() : NGroup(NRect{0, 0, 24, 80}) {}
    void putevent(NEvent* ev) override { events.emplace_back(ev); }
    std::vector<std::unique_ptr<NEvent>> events;
};

class AddAccMgrFormTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        saved = gConfig;
        gConfig = &config;
        owner = std::make_unique<ManagerCatcher>();
        std::string err;
        const std::string list = readfixture("get_all_projects_list.xml");
        srv.allprojectstree = parsexml(list.data(), list.size(), err);
    }
    void TearDown() override
    {
        owner.reset();
        gConfig = saved;
        NcursesTest::TearDown();
    }
    void setentries(const Entries& entries)
    {
        Item* cfg = config.getcfgroot();
        cfg->removechildrenif([](const Item* c) { return c->getname() == "accmgr"; });
        for (const auto& e : entries) {
            auto m = std::make_unique<Item>("accmgr");
            m->addchild(std::make_unique<Item>("name"))->setvalue(e.first);
            m->addchild(std::make_unique<Item>("url"))->setvalue(e.second);
            cfg->addchild(std::move(m));
        }
    }
    Entries entries()
    {
        Entries out;
        for (Item* m : config.getcfgroot()->children("accmgr")) {
            EXPECT_EQ(m->getchildren().size(), 2u) << "name and URL only";
            out.emplace_back(m->child("name")->value(), m->child("url")->value());
        }
        return out;
    }
    AddAccMgrForm* open(const std::string& name)
    {
        return owner->insert(std::make_unique<AddAccMgrForm>(30, 65, &srv, name));
    }
    void key(AddAccMgrForm* f, int k)
    {
        NEvent ev(evKB, k);
        f->eventhandle(&ev);
        EXPECT_TRUE(ev.done);
    }
    void keys(AddAccMgrForm* f, const std::string& text)
    {
        for (unsigned char c : text)
            key(f, c == '\t' ? 9 : c);
    }
    std::string lastbody(const std::string& name) const
    {
        std::string body;
        for (const auto& r : server.requests())
            if (r.name == name)
                body = r.body;
        return body;
    }
    // Empties the current field and types the text.
    void retype(AddAccMgrForm* f, const std::string& text)
    {
        form_driver(f->getform(), REQ_CLR_FIELD);
        keys(f, text);
    }

    TempDir home;
    ScopedEnv env{"HOME", home.path().c_str()};
    Config config{".varnix.cfg"};
    Config* saved = nullptr;
    FakeServer server{"pw"};
    LinkWaits waits{1000, 1000, 2000};
    Srv srv{"127.0.0.1", server.portstr(), "pw", "host"};
    std::unique_ptr<ManagerCatcher> owner;
};

} // namespace

TEST_F(AddAccMgrFormTest, ListedManagerIsFixedANewOneEditable)
{
    setentries({{"Unnamed", "http://first/"}, {"Unnamed", "http://second/"}});
    const struct {
        const char* name;
        bool listed;
        const char* url;
    } cases[] = {
        {"Manager One", true, "http://127.0.0.1:9/manager/"},
        {"Unnamed", false, "http://first/"}, // the first entry of that name
        {"Other", false, ""},
    };
    for (const auto& c : cases) {
        AddAccMgrForm* f = open(c.name);
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(f->getid(), "13AddAccMgrForm");
        EXPECT_STREQ(f->gettitle(), (" " + std::string(c.name) + " ").c_str());
        EXPECT_EQ(f->listed, c.listed);
        EXPECT_EQ(f->fieldtext(f->namefield), c.name);
        EXPECT_EQ(f->fieldtext(f->urlfield), c.url);
        // Row, column, width and height of every field, and which ones take input.
        FIELD** list = form_fields(f->getform());
        std::vector<std::vector<int>> got;
        for (int i = 0; i < field_count(f->getform()); ++i) {
            int rows = 0, cols = 0, row = 0, col = 0, off = 0, nbuf = 0;
            field_info(list[i], &rows, &cols, &row, &col, &off, &nbuf);
            got.push_back({row, col, cols, rows, (field_opts(list[i]) & O_ACTIVE) ? 1 : 0});
        }
        const int edit = c.listed ? 0 : 1;
        EXPECT_EQ(got, (std::vector<std::vector<int>>{{0, 0, 63, 1, 0},
                                                      {1, 2, 61, 1, 0}, {1, 15, 40, 1, edit},
                                                      {3, 2, 61, 1, 0}, {3, 15, 40, 1, edit},
                                                      {5, 2, 61, 3, 0},
                                                      {9, 2, 10, 1, 0}, {9, 15, 40, 1, 1},
                                                      {11, 2, 10, 1, 0}, {11, 15, 40, 1, 1},
                                                      {13, 20, 40, 1, 0}}));
        EXPECT_EQ((std::vector<int>{f->errfield, f->namefield, f->urlfield, f->usernamefield, f->passwfield}),
                  (std::vector<int>{0, 2, 4, 7, 9}));
        EXPECT_EQ(f->fieldtext(5), AddAccMgrForm::kHint);
        EXPECT_EQ(f->fieldtext(1), "Description");
        EXPECT_EQ((std::vector<int>{f->rect.rows, f->rect.cols}), (std::vector<int>{17, 65}));
        owner->destroybyid("13AddAccMgrForm");
    }
    // A click on an input that lies over its label's blank tail reaches the input.
    AddAccMgrForm* f = open("Unnamed");
    form_driver(f->getform(), REQ_LAST_FIELD);
    NMouseEvent click(BUTTON1_CLICKED, f->getabsbegrow() + 1 + 3, f->getabsbegcol() + 1 + 20);
    f->eventhandle(&click);
    EXPECT_EQ(field_index(current_field(f->getform())), f->urlfield);
}

TEST_F(AddAccMgrFormTest, JoinedManagersAreRememberedByNameOrUrl)
{
    const struct {
        const char* what;
        Entries before;
        const char* name;
        const char* url;
        Entries after;
    } cases[] = {
        {"new", {}, "M", "http://m/", {{"M", "http://m/"}}},
        {"same name", {{"M", "http://old/"}, {"N", "http://n/"}}, "M", "http://m/",
         {{"M", "http://m/"}, {"N", "http://n/"}}},
        {"same url", {{"N", "http://n/"}, {"Old", "http://m/"}}, "M", "http://m/",
         {{"N", "http://n/"}, {"M", "http://m/"}}},
        {"two of that name", {{"M", "http://a/"}, {"M", "http://b/"}}, "M", "http://m/",
         {{"M", "http://m/"}, {"M", "http://b/"}}},
        {"url of one, name of the next", {{"A", "http://m/"}, {"M", "http://b/"}}, "M", "http://m/",
         {{"M", "http://m/"}, {"M", "http://b/"}}},
        {"no name", {}, "", "http://m/", {}},
    };
    for (const auto& c : cases) {
        setentries(c.before);
        AddAccMgrForm::rememberaccmgr(config.getcfgroot(), c.name, c.url);
        EXPECT_EQ(entries(), c.after) << c.what;
    }
}

TEST_F(AddAccMgrFormTest, SuccessRemembersOnlyWhatTheClientDoesNotList)
{
    setentries({});
    AddAccMgrForm* f = open("Unnamed");
    retype(f, "My Manager");
    keys(f, "\thttp://127.0.0.1:9/mine/\tuser\tsecret");
    key(f, 10);
    EXPECT_EQ(server.countof("get_project_config"), 1u);
    EXPECT_NE(lastbody("acct_mgr_rpc").find("<password>secret</password>"), std::string::npos);
    EXPECT_EQ(entries(), (Entries{{"My Manager", "http://127.0.0.1:9/mine/"}}));
    ASSERT_EQ(owner->events.size(), 1u);
    EXPECT_EQ(owner->events[0]->keycode, evADDACCMGR);
    owner->destroybyid("13AddAccMgrForm");
    owner->events.clear();

    // A listed manager: its own URL is sent, nothing is written.
    f = open("Manager One");
    keys(f, "user\tsecret");
    key(f, KEY_ENTER);
    EXPECT_NE(lastbody("acct_mgr_rpc").find("<url>http://127.0.0.1:9/manager/</url>"), std::string::npos);
    EXPECT_EQ(entries().size(), 1u);
    EXPECT_EQ(owner->events.size(), 1u);
    // Neither the password nor the user name went into the configuration.
    EXPECT_EQ(config.getcfgroot()->toxml().find("secret"), std::string::npos);
}

TEST_F(AddAccMgrFormTest, FailuresAreShownAndNothingIsRemembered)
{
    setentries({});
    const struct {
        const char* queuename;
        const char* reply;
        const char* url;
        const char* shown;
        size_t rpcs;
    } cases[] = {
        {"get_project_config_poll", "<project_config><error_num>-107</error_num></project_config>",
         "http://127.0.0.1:9/m/", " Error: Can't get config", 0},
        {"acct_mgr_rpc_poll", "<acct_mgr_rpc_reply><error_num>-206</error_num></acct_mgr_rpc_reply>",
         "http://127.0.0.1:9/m/", " Error: -206 (wrong password)", 1},
        {"acct_mgr_rpc_poll",
         "<acct_mgr_rpc_reply><error_num>-1</error_num><message>Bad\xc2\x9b" "2J name</message></acct_mgr_rpc_reply>",
         "http://127.0.0.1:9/m/", " Error: Bad?2J name", 1},
        // Without a URL the client would leave its manager instead.
        {"none", "", "", " Error: no URL given", 0},
    };
    for (const auto& c : cases) {
        server.clearrequests();
        server.queuereply(c.queuename, c.reply);
        AddAccMgrForm* f = open("Unnamed");
        keys(f, std::string("\t") + c.url + "\tuser\tpw");
        key(f, 10);
        EXPECT_EQ(f->errorline(), c.shown);
        EXPECT_TRUE(f->errorshown());
        EXPECT_EQ(server.countof("acct_mgr_rpc"), c.rpcs) << c.shown;
        EXPECT_EQ(f->fieldtext(f->usernamefield), "user");
        EXPECT_TRUE(owner->events.empty());
        key(f, 27);
        ASSERT_EQ(owner->events.size(), 1u);
        auto* closing = static_cast<TuiEvent*>(owner->events[0].get());
        EXPECT_EQ((std::pair<int, std::string>(closing->keycode, closing->sdata1)),
                  (std::pair<int, std::string>(evADDACCMGR, "Unnamed")));
        owner->events.clear();
        owner->destroybyid("13AddAccMgrForm");
    }
    EXPECT_TRUE(entries().empty());
}
