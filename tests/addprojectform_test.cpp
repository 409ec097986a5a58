#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "addprojectform.h"
#include "fakeserver.h"
#include "linkwaits.h"
#include "ncursesfixture.h"
#include "srv.h"
#include "tuievent.h"

namespace {

// Keeps what the form posts instead of queueing it.
class ProjectCatcher : public NGroup {
public:
    ProjectCatcher() : NGroup(NRect{0, 0, 24, 80}) {}
    void putevent(NEvent* ev) override { events.emplace_back(ev); }
    std::vector<std::unique_ptr<NEvent>> events;
};

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

struct Geometry {
    int rows, cols, row, col;
};

Geometry geometry(FIELD* f)
{
    Geometry g{};
    int off = 0, nbuf = 0;
    field_info(f, &g.rows, &g.cols, &g.row, &g.col, &off, &nbuf);
    return g;
}

class AddProjectFormTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        owner = std::make_unique<ProjectCatcher>();
        srv.allprojectstree = parse(readfixture("get_all_projects_list.xml"));
    }
    void TearDown() override
    {
        owner.reset();
        NcursesTest::TearDown();
    }
    AddProjectForm* open(const std::string& name, bool userexist, bool byurl)
    {
        return owner->insert(std::make_unique<AddProjectForm>(30, 65, &srv, name, userexist, byurl));
    }
    // Every field after the error line as "row text", inputs as "row <>"; the geometry
    // rules of labels, inputs and footer are checked on the way.
    std::vector<std::string> layout(AddProjectForm* f)
    {
        std::vector<std::string> out;
        FIELD** list = form_fields(f->getform());
        for (int i = 1; i < field_count(f->getform()); ++i) {
            Geometry g = geometry(list[i]);
            const bool input = (field_opts(list[i]) & O_ACTIVE) != 0;
            const std::string text = f->fieldtext(i);
            if (input) {
                EXPECT_EQ((std::vector<int>{g.col, g.cols, g.rows}), (std::vector<int>{15, 40, 1})) << i;
                out.push_back(std::to_string(g.row) + " <>");
                continue;
            }
            if (text == AccountForm::kFooter)
                EXPECT_EQ((std::vector<int>{g.col, g.cols}), (std::vector<int>{20, 40}));
            else
                EXPECT_EQ(g.col, 1) << text;
            out.push_back(std::to_string(g.row) + " " + text);
        }
        return out;
    }
    void key(AddProjectForm* f, int k)
    {
        NEvent ev(evKB, k);
        f->eventhandle(&ev);
        EXPECT_TRUE(ev.done);
    }
    void keys(AddProjectForm* f, const std::string& text)
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

    FakeServer server{"pw"};
    LinkWaits waits{1000, 1000, 2000};
    Srv srv{"127.0.0.1", server.portstr(), "pw", "host"};
    std::unique_ptr<ProjectCatcher> owner;
};

} // namespace

TEST_F(AddProjectFormTest, FieldsOfTheFourRoads)
{
    const std::vector<std::string> info = {
        "1 url          : http://127.0.0.1:9/alpha/", "2 General area : Physical Science",
        "3 Specific area: Numerology", "4 Home         : Alpha University",
        "6 Description  : Counts to very large numbers.",
        "9 Platforms    : x86_64-pc-linux-gnu,windows_x86_64"};
    auto rows = [](std::vector<std::string> out, int first, std::vector<const char*> labels) {
        for (const char* l : labels) {
            out.push_back(std::to_string(first) + " " + l);
            out.push_back(std::to_string(first) + " <>");
            first += 2;
        }
        out.push_back(std::to_string(first) + " Enter-Ok    Esc-Cancel");
        return out;
    };
    const struct {
        const char* name;
        bool userexist, byurl;
        std::vector<std::string> want;
        int formrows;
    } roads[] = {
        {"Alpha@Home", true, false, rows(info, 12, {"email", "password"}), 20},
        {"Alpha@Home", false, false, rows(info, 12, {"email", "password", "username", "teamname"}), 24},
        {"Add project by URL", true, true, rows({}, 2, {"ProjectURL", "email", "password"}), 12},
        {"Add project by URL", false, true,
         rows({}, 2, {"ProjectURL", "email", "password", "username", "teamname"}), 16},
    };
    for (const auto& road : roads) {
        AddProjectForm* f = open(road.name, road.userexist, road.byurl);
        SCOPED_TRACE(std::string(road.name) + (road.userexist ? " existing" : " new"));
        EXPECT_STREQ(f->getid(), "14AddProjectForm");
        EXPECT_EQ(layout(f), road.want);
        EXPECT_EQ(f->rect.rows, road.formrows);
        EXPECT_EQ(f->rect.cols, 65);
        EXPECT_STREQ(f->gettitle(), (" " + std::string(road.name) + " ").c_str());
        EXPECT_EQ(f->projurl, road.byurl ? "" : "http://127.0.0.1:9/alpha/");
        // The error line waits hidden on row 0, across the form.
        Geometry e = geometry(form_fields(f->getform())[f->errfield]);
        EXPECT_EQ((std::vector<int>{f->errfield, e.row, e.col, e.cols}), (std::vector<int>{0, 0, 0, 63}));
        EXPECT_FALSE(f->errorshown());
        // The first input is the current field; the indices name the inputs in order.
        std::vector<int> inputs = {f->urlfield, f->emailfield, f->passwfield, f->usernamefield, f->teamnamefield};
        EXPECT_EQ(field_index(current_field(f->getform())), road.byurl ? f->urlfield : f->emailfield);
        EXPECT_EQ(inputs[0] < 0, !road.byurl);
        EXPECT_EQ(inputs[3] < 0, road.userexist);
        owner->destroybyid("14AddProjectForm");
    }
}

TEST_F(AddProjectFormTest, InformationLinesTakeTheRowsTheirTextNeeds)
{
    // Description: min(len / 61 + 1, 4) rows; platforms up to 5; each text is cut by its field.
    const struct {
        size_t description;
        int platforms;
        int descrows, platrows;
    } cases[] = {{200, 1, 4, 1}, {46, 0, 2, 1}, {45, 3, 1, 1}, {2000, 40, 4, 5}};
    for (const auto& c : cases) {
        std::string entry = "<projects><project><name>P</name><url>http://p/</url><description>" +
                            std::string(c.description, 'd') + "</description>";
        if (c.platforms) {
            entry += "<platforms>";
            for (int i = 0; i < c.platforms; ++i)
                entry += "<name>platform-" + std::to_string(i) + "</name>";
            entry += "</platforms>";
        }
        srv.allprojectstree = parse(entry + "</project></projects>");
        AddProjectForm* f = open("P", true, false);
        FIELD** list = form_fields(f->getform());
        Geometry d = geometry(list[5]), p = geometry(list[6]);
        EXPECT_EQ((std::vector<int>{d.row, d.rows, p.row, p.rows}),
                  (std::vector<int>{6, c.descrows, 6 + c.descrows + 2, c.platrows}))
            << c.description;
        EXPECT_EQ(f->fieldtext(6).substr(0, 14), "Platforms    :");
        EXPECT_LE(f->fieldtext(5).size(), static_cast<size_t>(61 * c.descrows));
        owner->destroybyid("14AddProjectForm");
    }
    EXPECT_EQ(AddProjectForm::inforows(std::string(215, 'x'), 65, 4), 4);
}

TEST_F(AddProjectFormTest, ClientTextsAreShownHarmless)
{
    // C1 controls (CSI, NEL) pass the XML parser; tabs would break the rows.
    const std::string evil = "Evil\xc2\x9b" "2J";
    srv.allprojectstree = parse("<projects><project><name>" + evil + "</name><url>http://e/</url>"
                                "<general_area>a\xc2\x9b" "2Jb</general_area>"
                                "<description>line\tone\xc2\x85" "end</description></project></projects>");
    AddProjectForm* f = open(evil, true, false);
    EXPECT_EQ(f->fieldtext(2), "General area : a?2Jb");
    EXPECT_EQ(f->fieldtext(5), "Description  : line one?end");
    EXPECT_STREQ(f->gettitle(), " Evil?2J ");
    // The name itself goes to the client unchanged.
    EXPECT_EQ(f->projname, evil);
}

TEST_F(AddProjectFormTest, NewAccountByUrlIsCreatedLookedUpAndAttached)
{
    AddProjectForm* f = open("Add project by URL", false, true);
    keys(f, "http://127.0.0.1:9/new/ \tMe@Example.ORG \tSe cret \tMyName\tMy Team");
    key(f, 10);
    EXPECT_EQ(lastbody("create_account"),
              "<create_account>\n   <url>http://127.0.0.1:9/new/</url>\n"
              "   <email_addr>me@example.org</email_addr>\n"
              "   <passwd_hash>" + md5hex("Se cret", "me@example.org") + "</passwd_hash>\n"
              "   <user_name>myname</user_name>\n   <team_name>My Team</team_name>\n</create_account>\n");
    EXPECT_NE(lastbody("lookup_account").find("<email_addr>me@example.org</email_addr>"), std::string::npos);
    EXPECT_EQ(lastbody("project_attach"),
              "<project_attach>\n<project_url>http://127.0.0.1:9/new/</project_url>\n"
              "<authenticator>0123456789abcdef0123456789abcdef</authenticator>\n"
              "<project_name>Add project by URL</project_name>\n</project_attach>\n");
    ASSERT_EQ(owner->events.size(), 1u);
    auto* closing = dynamic_cast<TuiEvent*>(owner->events[0].get());
    ASSERT_NE(closing, nullptr);
    EXPECT_EQ(closing->keycode, evADDPROJECT);
    EXPECT_EQ(closing->srv, nullptr);
}

TEST_F(AddProjectFormTest, FailuresStayInTheFormWithTheReason)
{
    const struct {
        const char* name;
        bool userexist;
        const char* queuename;
        const char* reply;
        const char* shown;
        size_t lookups;
    } cases[] = {
        {"Gamma Grid", true, "lookup_account_poll", "<account_out><error_num>-136</error_num></account_out>",
         " Error: -136 (no such account)", 1},
        {"Gamma Grid", false, "create_account_poll",
         "<account_out><error_num>-207</error_num><error_msg>email in use</error_msg></account_out>",
         " Error: email in use", 0},
        {"Gamma Grid", true, "project_attach", "<error>Already attached to project</error>",
         " Error: Already attached to project", 1},
    };
    for (const auto& c : cases) {
        server.clearrequests();
        server.queuereply(c.queuename, c.reply);
        AddProjectForm* f = open(c.name, c.userexist, false);
        keys(f, "a@b\tpw");
        key(f, KEY_ENTER);
        EXPECT_TRUE(f->errorshown()) << c.shown;
        EXPECT_EQ(f->errorline(), c.shown);
        EXPECT_EQ(server.countof("lookup_account"), c.lookups) << c.shown;
        EXPECT_EQ(f->fieldtext(f->emailfield), "a@b");
        EXPECT_TRUE(owner->events.empty());
        if (std::string(c.queuename) != "project_attach") {
            EXPECT_EQ(server.countof("project_attach"), 0u);
        }
        owner->destroybyid("14AddProjectForm");
    }
}

TEST_F(AddProjectFormTest, InputTheRequestCannotHoldIsRefusedAloud)
{
    AddProjectForm* f = open("Add project by URL", true, true);
    // Each '&' takes five bytes in the request.
    keys(f, std::string(128, '&') + "\t" + std::string(128, '&') + "\tpw");
    key(f, 10);
    EXPECT_EQ(f->errorline(), " Error: input too long");
    EXPECT_EQ(server.countof("lookup_account"), 0u);
    // An offline host is no answer.
    server.stop();
    srv.disconnect();
    key(f, 27);
    ASSERT_EQ(owner->events.size(), 1u);
    EXPECT_EQ(owner->events[0]->keycode, evADDPROJECT);
    f = open("Alpha@Home", true, false);
    key(f, 10);
    EXPECT_EQ(f->errorline(), " Error: no answer from the client");
}
