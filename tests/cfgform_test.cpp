#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cfgform.h"
#include "config.h"
#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "tempdir.h"
#include "tuievent.h"

namespace {

// host, port, password ("(none)" when absent), label
using Row = std::array<std::string, 4>;

// Keeps what the form posts instead of queueing it.
class Catcher : public NGroup {
public:
    Catcher() : NGroup(NRect{0, 0, 24, 80}) {}
    void putevent(NEvent* ev) override { events.emplace_back(ev); }
    std::vector<std::unique_ptr<NEvent>> events;
};

class CfgFormTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        saved = gConfig;
        gConfig = &config;
        owner = std::make_unique<Catcher>(); // windows need the screen
    }
    void TearDown() override
    {
        owner.reset();
        gConfig = saved;
        NcursesTest::TearDown();
    }

    void setservers(const std::vector<Row>& rows)
    {
        Item* cfg = config.getcfgroot();
        cfg->removechildrenif([](const Item* c) { return c->getname() == "server"; });
        for (const Row& r : rows)
            config.addserver(r[0], r[1], r[2], r[3]);
    }
    std::vector<Row> servers()
    {
        std::vector<Row> out;
        for (Item* s : config.getcfgroot()->children("server")) {
            Item* pwd = s->find("pwd");
            out.push_back({s->find("host")->value(), s->find("port")->value(),
                           pwd ? pwd->value() : "(none)", s->find("hostid")->value()});
        }
        return out;
    }
    // A form inside a group that catches its events.
    CfgForm* open()
    {
        auto f = std::make_unique<CfgForm>(15, 76);
        f->settitle("Configuration");
        return owner->insert(std::move(f));
    }
    void key(CfgForm* f, int k)
    {
        NEvent ev(evKB, k);
        f->eventhandle(&ev);
    }
    void keys(CfgForm* f, const std::string& text)
    {
        for (unsigned char c : text)
            key(f, c);
    }
    void setfield(CfgForm* f, int i, const std::string& text)
    {
        set_field_buffer(form_fields(f->getform())[i], 0, text.c_str());
    }
    int current(CfgForm* f) { return field_index(current_field(f->getform())); }
    std::vector<int> posted()
    {
        std::vector<int> codes;
        for (auto& ev : owner->events)
            codes.push_back(ev->keycode);
        return codes;
    }

    TempDir home;
    ScopedEnv env{"HOME", home.path().c_str()};
    Config config{".varnix.cfg"};
    Config* saved = nullptr;
    std::unique_ptr<Catcher> owner;
};

} // namespace

TEST_F(CfgFormTest, FieldsStandWhereTheLayoutPutsThem)
{
    setservers({{"127.0.0.1", "31416", "", "Local Server"}, {"10.0.0.2", "31417", "secret", "box"}});
    CfgForm* f = open();
    EXPECT_STREQ(f->getid(), "7CfgForm");
    ASSERT_EQ(f->getfieldcount(), 1 + 8 + 1 + 1);
    FIELD** list = form_fields(f->getform());
    struct Want {
        int index, row, col, width;
    } want[] = {{0, 2, 5, 53},  {1, 3, 5, 15},  {2, 3, 22, 5},  {3, 3, 29, 20}, {4, 3, 51, 20},
                {5, 5, 5, 15},  {6, 5, 22, 5},  {7, 5, 29, 20}, {8, 5, 51, 20}, {9, 8, 5, 44}};
    for (const Want& w : want) {
        int rows = 0, cols = 0, frow = 0, fcol = 0, off = 0, nbuf = 0;
        field_info(list[w.index], &rows, &cols, &frow, &fcol, &off, &nbuf);
        EXPECT_EQ((std::vector<int>{rows, frow, fcol, cols}), (std::vector<int>{1, w.row, w.col, w.width})) << w.index;
    }
    EXPECT_EQ(f->fieldtext(9), CfgForm::kFooter);
    EXPECT_FALSE(field_opts(list[0]) & O_ACTIVE);
    EXPECT_EQ(f->fieldtext(7), "secret");
    // Text fields scroll up to 128 characters; the port is a fixed integer field.
    int r = 0, c = 0, max = 0;
    dynamic_field_info(list[1], &r, &c, &max);
    EXPECT_EQ(max, 128);
    EXPECT_FALSE(field_opts(list[1]) & (O_STATIC | O_AUTOSKIP));
    EXPECT_EQ(field_type(list[2]), TYPE_INTEGER);
    EXPECT_EQ(field_opts(list[2]) & (O_STATIC | O_AUTOSKIP), O_STATIC);
    EXPECT_EQ(current(f), 1);
    // 3 + 2n + 5 rows, centred on the 24 x 80 screen.
    EXPECT_EQ(f->rect.rows, 12);
    EXPECT_EQ(f->rect.begrow, 6);
    EXPECT_EQ(f->rect.begcol, 2);
}

TEST_F(CfgFormTest, InsertAddsOneEmptyRowOnce)
{
    for (int n : {0, 1, 3}) {
        std::vector<Row> rows;
        for (int i = 0; i < n; ++i)
            rows.push_back({"h" + std::to_string(i), "1", "", ""});
        setservers(rows);
        CfgForm* f = open();
        const int shown = n == 0 ? 1 : n;
        EXPECT_EQ(f->nhost, shown) << n;
        EXPECT_EQ(f->rect.rows, 3 + 2 * shown + 5) << n;
        EXPECT_EQ(f->fieldtext(f->getfieldcount() - 2), n == 0 ? CfgForm::kFooterFull : CfgForm::kFooter);
        keys(f, "typed");
        key(f, KEY_IC);
        EXPECT_TRUE(f->insertmode);
        EXPECT_EQ(f->nhost, n + 1) << n;
        EXPECT_EQ(f->rect.rows, 3 + 2 * (n + 1) + 5) << n;
        EXPECT_EQ(f->fieldtext(f->getfieldcount() - 2), CfgForm::kFooterFull);
        EXPECT_EQ(f->fieldtext(1), n == 0 ? "" : "h0") << "rebuilt from the configuration";
        EXPECT_EQ(f->fieldtext(1 + 4 * n), "") << "the new row is the last one";
        key(f, KEY_IC);
        EXPECT_EQ(f->nhost, n + 1) << "a second Insert does nothing";
        owner->destroybyid("7CfgForm");
    }
}

TEST_F(CfgFormTest, SaveconfigWritesTheRowsInOrder)
{
    setservers({{"a", "1", "", ""}, {"b", "1", "", ""}, {"c", "1", "", ""}, {"d", "1", "", ""},
                {"e", "1", "", ""}, {"f", "1", "", ""}});
    config.setintvalue("tasks_sort_mode", 3);
    CfgForm* f = open();
    const Row typed[] = {
        {"zeta   ", "80   ", "pw  ", "label  "}, // trailing blanks cut
        {"  lead", "81", "  p", "  l"},            // leading blanks kept
        {"", "82", "x", "gone"},                   // no host: row dropped
        {"nop", "", "x", "gone"},                  // no port: row dropped
        {"nopwd", "83", "", ""},                   // no password, empty label
        {"alpha", "84", "s", "last"},              // order kept, not sorted
    };
    for (int i = 0; i < 6; ++i) {
        for (int k = 0; k < 4; ++k)
            setfield(f, 1 + 4 * i + k, typed[i][static_cast<size_t>(k)]);
    }
    f->saveconfig();
    std::vector<Row> want = {{"zeta", "80", "pw", "label"},
                             {"  lead", "81", "  p", "  l"},
                             {"nopwd", "83", "(none)", ""},
                             {"alpha", "84", "s", "last"}};
    EXPECT_EQ(servers(), want);
    // Other keys stay where they were.
    EXPECT_EQ(config.intvalue(config.getcfgroot(), "tasks_sort_mode"), 3);
}

// A field nobody touched saves the configuration's value, also where the form could not
// hold it: longer than 128 characters, or bytes that are not text in the locale.
TEST_F(CfgFormTest, UntouchedValuesSurviveByteForByte)
{
    const std::string longlabel(200, 'L');
    setservers({{"h", "31416", "caf\xe9", longlabel}, {"k", "1", "", "old"}});
    CfgForm* f = open();
    setfield(f, 8, "new");
    f->saveconfig();
    std::vector<Row> want = {{"h", "31416", "caf\xe9", longlabel}, {"k", "1", "(none)", "new"}};
    EXPECT_EQ(servers(), want);
}

TEST_F(CfgFormTest, EnterSavesTheFileAndAsksForTheRebuild)
{
    CfgForm* f = open();
    key(f, KEY_END);
    keys(f, ".lan");
    key(f, '\t');
    key(f, '\t');
    keys(f, "pa\xc3\x9f");
    key(f, 10);
    EXPECT_EQ(posted(), std::vector<int>{evCFGCH});
    std::string text = readfile(home.file(".varnix.cfg"));
    EXPECT_NE(text.find("<host>127.0.0.1.lan\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<pwd>pa\xc3\x9f\n"), std::string::npos) << text;
    struct stat st;
    ASSERT_EQ(stat(home.file(".varnix.cfg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A port no connection could use is not saved: the cursor stays on it until it is fixed.
TEST_F(CfgFormTest, EnterWithABadPortSavesNothing)
{
    CfgForm* f = open();
    key(f, '\t');
    ASSERT_EQ(current(f), 2);
    // The cursor stands on the last digit of a full field.
    for (int i = 0; i < 4; ++i)
        key(f, KEY_BACKSPACE);
    key(f, KEY_DC);
    keys(f, "7x0-000");
    EXPECT_EQ(f->fieldtext(2), "70000") << "only digits are typed in";
    key(f, 10);
    EXPECT_EQ(current(f), 2);
    EXPECT_TRUE(owner->events.empty());
    EXPECT_EQ(servers()[0][1], "31416");
    EXPECT_FALSE(std::ifstream(home.file(".varnix.cfg")).good());
    key(f, KEY_BACKSPACE);
    key(f, 10);
    EXPECT_EQ(posted(), std::vector<int>{evCFGCH});
    EXPECT_EQ(servers()[0][1], "7000");

    // A port that came from the file is checked too; an empty one just drops its row.
    owner->events.clear();
    setservers({{"a", "1", "", ""}, {"b", "abc", "", ""}, {"c", "2", "", ""}});
    owner->destroybyid("7CfgForm");
    f = open();
    setfield(f, 2, "");
    key(f, 10);
    EXPECT_EQ(current(f), 6);
    EXPECT_TRUE(owner->events.empty());
    setfield(f, 6, "3");
    key(f, 10);
    EXPECT_EQ(servers(), (std::vector<Row>{{"b", "3", "(none)", ""}, {"c", "2", "(none)", ""}}));
}

// The host list is rebuilt from the rows all the same, and the user is told why the
// file was not written.
TEST_F(CfgFormTest, AFileThatCannotBeWrittenIsReported)
{
    struct Case {
        const char* what;
        std::string errortext, path, reason;
    } cases[] = {
        {"did not parse", "/x/.varnix.cfg\nXML error: bad", config.path,
         "not saved, the file could not be read at start:\n/x/.varnix.cfg\nXML error: bad"},
        {"no folder", "", home.file("gone/.varnix.cfg"),
         home.file("gone/.varnix.cfg") + "\ncannot write the file: No such file or directory"},
    };
    for (const Case& c : cases) {
        config.errortext = c.errortext;
        config.path = c.path;
        owner->events.clear();
        CfgForm* f = open();
        setfield(f, 1, "other");
        key(f, KEY_ENTER);
        ASSERT_EQ(posted(), (std::vector<int>{evCFGCH, evPOPUPMSG})) << c.what;
        auto* box = static_cast<TuiEvent*>(owner->events[1].get());
        EXPECT_EQ(box->sdata1, "Config error:");
        EXPECT_EQ(box->sdata2, c.reason);
        EXPECT_EQ(servers()[0][0], "other") << c.what;
        owner->destroybyid("7CfgForm");
    }
}

TEST_F(CfgFormTest, WithoutATreeThereAreNoFields)
{
    config.root.reset();
    CfgForm* f = open();
    EXPECT_EQ(f->getfieldcount(), 0);
    key(f, 'x');
    key(f, KEY_IC);
    f->saveconfig();
    EXPECT_EQ(f->rect.rows, 15);
    key(f, 10);
    EXPECT_EQ(posted(), (std::vector<int>{evCFGCH, evPOPUPMSG}));
}

TEST_F(CfgFormTest, TheFormStaysWholeAfterAResize)
{
    setservers({{"a", "1", "", ""}, {"b", "2", "", ""}});
    CfgForm* f = open();
    // So small that the form's inner window would start below the last row.
    ASSERT_EQ(resizeterm(7, 40), OK);
    owner->centermodals(7, 40);
    EXPECT_EQ(getbegy(f->win), 0) << "cut to the screen, so it can move";
    ASSERT_EQ(resizeterm(40, 120), OK) << "a window below the screen makes it fail";
    owner->centermodals(40, 120);
    f->refresh();
    EXPECT_EQ(f->rect.begrow, 20 - 6);
    EXPECT_EQ(f->rect.begcol, 60 - 38);
    EXPECT_EQ(getmaxy(f->getsubwin()), 10);
    EXPECT_EQ(getmaxx(f->getsubwin()), 74);
    EXPECT_EQ(rowtext(f->getsubwin(), 8, 5, 40), CfgForm::kFooter);
    EXPECT_EQ(rowtext(f->getsubwin(), 5, 5, 1), "b");
}

