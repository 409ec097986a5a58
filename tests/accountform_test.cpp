#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "addaccmgrform.h"
#include "addprojectform.h"
#include "config.h"
#include "fakeserver.h"
#include "linkwaits.h"
#include "ncursesfixture.h"
#include "srv.h"
#include "tempdir.h"
#include "tuievent.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>; // accmgr name, url

// Keeps what the forms post instead of queueing it.
class FormCatcher : public NGroup {
public:
    FormCatcher() : NGroup(NRect{0, 0, 24, 80}) {}
    void putevent(NEvent* ev) override { events.emplace_back(ev); }
    std::vector<std::unique_ptr<NEvent>> events;
};

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

// Every field of a form as "row col width height" plus its text, or "<>" for an input.
std::vector<std::string> layout(AccountForm* f)
{
    std::vector<std::string> out;
    FIELD** list = form_fields(f->getform());
    for (int i = 0; i < field_count(f->getform()); ++i) {
        int rows = 0, cols = 0, row = 0, col = 0, off = 0, nbuf = 0;
        field_info(list[i], &rows, &cols, &row, &col, &off, &nbuf);
        const bool input = (field_opts(list[i]) & O_ACTIVE) != 0;
        out.push_back(std::to_string(row) + " " + std::to_string(col) + " " + std::to_string(cols) + " " +
                      std::to_string(rows) + " " + (input ? "<>" : f->fieldtext(i)));
    }
    return out;
}

class AccountFormTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        saved = gConfig;
        gConfig = &config;
        owner = std::make_unique<FormCatcher>();
        srv.allprojectstree = parse(readfixture("get_all_projects_list.xml"));
    }
    void TearDown() override
    {
        owner.reset();
        gConfig = saved;
        NcursesTest::TearDown();
    }
    // A new form in place of the one before, as the application opens it.
    template <typename Form, typename... Args>
    Form* open(Args... args)
    {
        if (!owner->getchildren().empty())
            owner->destroybyid(owner->getchildren().back()->getid());
        owner->events.clear();
        return owner->insert(std::make_unique<Form>(30, 65, &srv, args...));
    }
    void keys(AccountForm* f, const std::string& text)
    {
        for (unsigned char c : text) {
            NEvent ev(evKB, c == '\t' ? 9 : c);
            f->eventhandle(&ev);
        }
    }
    void setentries(const Entries& entries)
    {
        Item* cfg = config.getcfgroot();
        cfg->removechildrenif([](const Item* c) { return c->getname() == "accmgr"; });
        for (const auto& e : entries) {
            Item* m = cfg->addchild(std::make_unique<Item>("accmgr"));
            m->addchild(std::make_unique<Item>("name"))->setvalue(e.first);
            m->addchild(std::make_unique<Item>("url"))->setvalue(e.second);
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

    TempDir home;
    ScopedEnv env{"HOME", home.path().c_str()};
    Config config{".varnix.cfg"};
    Config* saved = nullptr;
    FakeServer server{"pw"};
    LinkWaits waits{1000, 1000, 2000};
    Srv srv{"127.0.0.1", server.portstr(), "pw", "host"};
    std::unique_ptr<FormCatcher> owner;
};

} // namespace

TEST_F(AccountFormTest, AddProjectFieldsOfTheFourRoads)
{
    const std::vector<std::string> info = {
        "1 1 61 1 url          : http://127.0.0.1:9/alpha/", "2 1 61 1 General area : Physical Science",
        "3 1 61 1 Specific area: Numerology", "4 1 61 1 Home         : Alpha University",
        "6 1 61 1 Description  : Counts to very large numbers.",
        "9 1 61 1 Platforms    : x86_64-pc-linux-gnu,windows_x86_64"};
    // The error line, the information lines, a label and its input every second row, the footer.
    auto rows = [](std::vector<std::string> middle, int row, std::vector<const char*> labels) {
        std::vector<std::string> out = {"0 0 63 1 Error"};
        out.insert(out.end(), middle.begin(), middle.end());
        for (const char* l : labels) {
            out.push_back(std::to_string(row) + " 1 10 1 " + l);
            out.push_back(std::to_string(row) + " 15 40 1 <>");
            row += 2;
        }
        out.push_back(std::to_string(row) + " 20 40 1 Enter-Ok    Esc-Cancel");
        return out;
    };
    const struct {
        const char* name;
        bool userexist, byurl;
        std::vector<std::string> want;
        int formrows, current;
    } roads[] = {
        {"Alpha@Home", true, false, rows(info, 12, {"email", "password"}), 20, 8},
        {"Alpha@Home", false, false, rows(info, 12, {"email", "password", "username", "teamname"}), 24, 8},
        {"Add project by URL", true, true, rows({}, 2, {"ProjectURL", "email", "password"}), 12, 2},
        {"Add project by URL", false, true, rows({}, 2, {"ProjectURL", "email", "password", "username", "teamname"}),
         16, 2},
    };
    for (const auto& road : roads) {
        auto* f = open<AddProjectForm>(std::string(road.name), road.userexist, road.byurl);
        SCOPED_TRACE(std::string(road.name) + (road.userexist ? " existing" : " new"));
        EXPECT_STREQ(f->getid(), "14AddProjectForm");
        EXPECT_EQ(layout(f), road.want);
        EXPECT_EQ((std::vector<int>{f->rect.rows, f->rect.cols}), (std::vector<int>{road.formrows, 65}));
        EXPECT_STREQ(f->gettitle(), (" " + std::string(road.name) + " ").c_str());
        EXPECT_EQ(f->projurl, road.byurl ? "" : "http://127.0.0.1:9/alpha/");
        EXPECT_FALSE(f->errorshown());
        EXPECT_EQ(field_index(current_field(f->getform())), road.current);
        EXPECT_EQ(road.byurl ? f->urlfield : f->emailfield, road.current);
        EXPECT_EQ(f->usernamefield < 0, road.userexist);
    }
}

TEST_F(AccountFormTest, InformationLinesTakeTheRowsTheirTextNeedsAndNoControls)
{
    // Description: min(len / 61 + 1, 4) rows, platforms up to 5; each text is cut by its field.
    const struct {
        size_t description;
        int platforms, descrows, platrows;
    } cases[] = {{200, 1, 4, 1}, {46, 0, 2, 1}, {45, 3, 1, 1}, {2000, 40, 4, 5}};
    for (const auto& c : cases) {
        std::string entry = "<projects><project><name>P</name><description>" + std::string(c.description, 'd') +
                            "</description>" + (c.platforms ? "<platforms>" : "");
        for (int i = 0; i < c.platforms; ++i)
            entry += "<name>platform-" + std::to_string(i) + "</name>";
        srv.allprojectstree = parse(entry + (c.platforms ? "</platforms>" : "") + "</project></projects>");
        auto* f = open<AddProjectForm>(std::string("P"), true, false);
        std::vector<std::string> got = layout(f);
        const std::string desc = "6 1 61 " + std::to_string(c.descrows) + " Description  : ddd";
        const std::string plat = std::to_string(8 + c.descrows) + " 1 61 " + std::to_string(c.platrows) +
                                 " Platforms    :";
        EXPECT_EQ(got[5].substr(0, desc.size()), desc) << c.description;
        EXPECT_EQ(got[6].substr(0, plat.size()), plat) << c.description;
        EXPECT_LE(got[5].size() - strlen("6 1 61 4 "), 61u * static_cast<unsigned>(c.descrows)); // cut
    }
    // C1 controls (CSI, NEL) pass the XML parser; tabs would break the rows.
    const std::string evil = "Evil\xc2\x9b" "2J";
    srv.allprojectstree = parse("<projects><project><name>" + evil + "</name><general_area>a\xc2\x9b" "2Jb"
                                "</general_area><description>line\tone\xc2\x85" "end</description></project></projects>");
    auto* f = open<AddProjectForm>(evil, true, false);
    EXPECT_EQ(f->fieldtext(2), "General area : a?2Jb");
    EXPECT_EQ(f->fieldtext(5), "Description  : line one?end");
    EXPECT_STREQ(f->gettitle(), " Evil?2J ");
    EXPECT_EQ(f->projname, evil); // sent to the client as it is
}

TEST_F(AccountFormTest, AddProjectRefusesWhatTheRequestCannotHoldAndNamesNoAnswer)
{
    auto* f = open<AddProjectForm>(std::string("Add project by URL"), true, true);
    keys(f, std::string(128, '&') + "\t" + std::string(128, '&') + "\tpw\n"); // '&' takes five bytes
    EXPECT_EQ(f->errorline(), " Error: input too long");
    EXPECT_TRUE(f->errorshown());
    EXPECT_EQ(server.countof("lookup_account"), 0u);
    server.stop();
    f = open<AddProjectForm>(std::string("Alpha@Home"), true, false);
    keys(f, "\n");
    EXPECT_EQ(f->errorline(), " Error: no answer from the client");
    keys(f, "\x1b");
    ASSERT_EQ(owner->events.size(), 1u);
    EXPECT_EQ(owner->events[0]->keycode, evADDPROJECT);
}

TEST_F(AccountFormTest, AccountManagerFieldsListedFixedOthersEditable)
{
    setentries({{"Unnamed", "http://first/"}, {"Unnamed", "http://second/"}});
    const struct {
        const char* name;
        const char* url;
        const char* edit; // how the name and URL inputs show in the layout
    } cases[] = {
        {"Manager One", "http://127.0.0.1:9/manager/", "Manager One"},
        {"Unnamed", "http://first/", "<>"}, // the first entry of that name
        {"Other", "", "<>"},
    };
    for (const auto& c : cases) {
        auto* f = open<AddAccMgrForm>(std::string(c.name));
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(f->getid(), "13AddAccMgrForm");
        EXPECT_EQ(f->listed, std::string(c.edit) != "<>");
        EXPECT_EQ(f->fieldtext(f->urlfield), c.url);
        EXPECT_EQ(f->fieldtext(f->namefield), c.name);
        const std::string edit = c.edit;
        EXPECT_EQ(layout(f),
                  (std::vector<std::string>{"0 0 63 1 Error", "1 2 61 1 Description", "1 15 40 1 " + edit,
                                            "3 2 61 1 URL", "3 15 40 1 " + (f->listed ? std::string(c.url) : edit),
                                            "5 2 61 3 " + std::string(AddAccMgrForm::kHint), "9 2 10 1 username",
                                            "9 15 40 1 <>", "11 2 10 1 password", "11 15 40 1 <>",
                                            "13 20 40 1 Enter-Ok    Esc-Cancel"}));
        EXPECT_EQ((std::vector<int>{f->usernamefield, f->passwfield, f->rect.rows, f->rect.cols}),
                  (std::vector<int>{7, 9, 17, 65}));
    }
}

TEST_F(AccountFormTest, JoinedManagersAreRememberedByNameOrUrl)
{
    const struct {
        const char* what;
        Entries before;
        const char* name;
        Entries after;
    } cases[] = {
        {"new", {}, "M", {{"M", "http://m/"}}},
        {"same name", {{"M", "http://old/"}, {"N", "http://n/"}}, "M", {{"M", "http://m/"}, {"N", "http://n/"}}},
        {"same url", {{"N", "http://n/"}, {"Old", "http://m/"}}, "M", {{"N", "http://n/"}, {"M", "http://m/"}}},
        {"two of that name", {{"M", "http://a/"}, {"M", "http://b/"}}, "M", {{"M", "http://m/"}, {"M", "http://b/"}}},
        {"url of one, name of the next", {{"A", "http://m/"}, {"M", "http://b/"}}, "M",
         {{"M", "http://m/"}, {"M", "http://b/"}}},
        {"no name", {}, "", {}},
    };
    for (const auto& c : cases) {
        setentries(c.before);
        AddAccMgrForm::rememberaccmgr(config.getcfgroot(), c.name, "http://m/");
        EXPECT_EQ(entries(), c.after) << c.what;
    }
}

TEST_F(AccountFormTest, AccountManagerNeedsAUrlAndShowsTheClientsTextHarmless)
{
    setentries({});
    // Without a URL the client would leave its manager instead: nothing is sent.
    auto* f = open<AddAccMgrForm>(std::string("Unnamed"));
    keys(f, "\t\tme\tpw\n");
    EXPECT_EQ(f->errorline(), " Error: no URL given");
    EXPECT_EQ(server.countof("acct_mgr_rpc"), 0u);
    // The client's text is shown harmless.
    server.queuereply("acct_mgr_rpc_poll", "<acct_mgr_rpc_reply><error_num>-1</error_num>"
                                           "<message>Bad\xc2\x9b" "2J</message></acct_mgr_rpc_reply>");
    keys(f, "\thttp://127.0.0.1:9/mine/\tme\tsecret\n");
    EXPECT_EQ(f->errorline(), " Error: Bad?2J");
    EXPECT_TRUE(entries().empty());
    keys(f, "\n");
    EXPECT_EQ(entries(), (Entries{{"Unnamed", "http://127.0.0.1:9/mine/"}}));
}
