#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "fakeserver.h"
#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "ngroup.h"
#include "parsetext.h"
#include "srv.h"
#include "taskwin.h"
#include "tempdir.h"
#include "tuievent.h"

namespace {

constexpr std::time_t kNow = 1700000000;
std::time_t fixedclock() { return kNow; }

// Two projects, each with one app and one workunit, as a client lists them.
const char kProjects[] =
    "<project><master_url>http://a/</master_url><project_name>Alpha</project_name></project>"
    "<app><name>calc</name><user_friendly_name>Alpha Calc</user_friendly_name></app>"
    "<workunit><name>wa</name><app_name>calc</app_name></workunit>"
    "<project><master_url>http://b/</master_url><project_name>Beta Project</project_name></project>"
    "<app><name>calc</name><user_friendly_name>Beta Calc</user_friendly_name></app>"
    "<workunit><name>wb</name><app_name>calc</app_name></workunit>";

std::string result(const std::string& name, const std::string& inner,
                   const std::string& url = "http://a/", const std::string& wu = "wa")
{
    return "<result><name>" + name + "</name><project_url>" + url + "</project_url><wu_name>" + wu +
           "</wu_name>" + inner + "</result>";
}

std::string running(double estimate = 5000, const std::string& more = "")
{
    return "<state>2</state><active_task><active_task_state>1</active_task_state>"
           "<fraction_done>0.5</fraction_done></active_task>"
           "<estimated_cpu_time_remaining>" +
           std::to_string(estimate) + "</estimated_cpu_time_remaining>" + more;
}

// Records what the task list posts towards the application.
class Catcher : public NGroup {
public:
    Catcher() : NGroup(NRect{0, 0, 24, 80}) {}
    void putevent(NEvent* ev) override
    {
        codes.push_back(ev->keycode);
        delete ev;
    }
    std::vector<int> codes;
};

class TaskWinTest : public NcursesTest {
protected:
    void SetUp() override
    {
        reopen({24, 200});
        group = std::make_unique<Catcher>();
        list = group->insert(std::make_unique<TaskWin>(NRect{0, 0, 10, 190}));
        list->srv = &srv;
        list->clock = fixedclock;
    }
    void TearDown() override
    {
        group.reset();
        NcursesTest::TearDown();
    }

    void state(const std::string& results, const std::string& projects = kProjects)
    {
        srv.statesnapshots.push(parse("<client_state>" + projects + results + "</client_state>"));
    }
    void tick()
    {
        NEvent ev(evTIMER, 0);
        list->eventhandle(&ev);
    }
    void key(int code)
    {
        NEvent ev(evKB, code);
        list->eventhandle(&ev);
    }
    void command(int code, int idata)
    {
        TuiEvent ev(code);
        ev.idata = idata;
        list->eventhandle(&ev);
    }
    std::string row(int r) { return trimmedrow(list->win, r); }
    // Foreground colour and boldness of one cell.
    short fg(int r, int c)
    {
        short f = 0, b = 0;
        pair_content(static_cast<short>(cellpair(list->win, r, c)), &f, &b);
        return f;
    }
    bool bold(int r, int c) { return (cellat(list->win, r, c) & A_BOLD) != 0; }
    std::vector<std::string> names()
    {
        std::vector<std::string> out;
        for (int i = 0; i < list->getstringcount(); ++i) {
            list->setselectorpos(i);
            out.push_back(list->getselectedtask()->taskname);
        }
        list->setselectorpos(-1);
        return out;
    }

    Srv srv{"127.0.0.1", "1", "", ""};
    std::unique_ptr<Catcher> group;
    TaskWin* list = nullptr;
};

} // namespace

TEST_F(TaskWinTest, EveryColumnOfARunningTask)
{
    state(result("task_1", running(599.5, "<received_time>" + std::to_string(kNow - 600) +
                                              "</received_time><report_deadline>" +
                                              std::to_string(kNow + 100000) +
                                              "</report_deadline><swap_size>12582912</swap_size>")));
    tick();
    ASSERT_EQ(list->getstringcount(), 1);
    EXPECT_EQ(row(0), "  1  Run      50.00  Alpha                  9m  10m  27h  Alpha Calc"
                      "                       12M   task_1");
    // Yellow bold for a running task, except est (under 600 s: red) and dl (within two days:
    // blue), at the columns the title pieces stand above: est 41, rcv 46, dl 51.
    for (int c : {0, 5, 15, 20, 49, 58, 90})
        EXPECT_EQ(fg(0, c), 3) << c;
    EXPECT_EQ(fg(0, 44), 1);
    EXPECT_EQ(fg(0, 53), 4);
    for (int c : {0, 44, 53})
        EXPECT_TRUE(bold(0, c)) << c;

    list->setselectorpos(0);
    TaskKey* key = list->getselectedtask();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->taskname, "task_1");
    EXPECT_EQ(key->projecturl, "http://a/");
}

TEST_F(TaskWinTest, EstimateAndDeadlineTextsAndColours)
{
    auto deadline = [](double left) {
        return "<report_deadline>" + std::to_string(static_cast<double>(kNow) + left) +
               "</report_deadline>";
    };
    list->columnmask = (1 << TaskWin::colEstimate) | (1 << TaskWin::colDeadline);
    state(result("a", running(600, deadline(200000))) + result("b", running(-1, deadline(-5))) +
          result("c", running(0.4)) +
          result("d", "<state>2</state><ready_to_report/>" + deadline(100000)) +
          result("e", "<state>2</state><estimated_cpu_time_remaining>nan"
                      "</estimated_cpu_time_remaining><report_deadline>x</report_deadline>"));
    list->sortmode = 0;
    tick();
    EXPECT_EQ(row(0), "  10m  55h");
    EXPECT_EQ(fg(0, 3), 3) << "600 s is no longer red";
    EXPECT_EQ(fg(0, 8), 3) << "more than two days is the line's colour";
    EXPECT_EQ(row(1), "    ? dead");
    EXPECT_EQ(fg(1, 8), 4) << "a passed deadline is alarming too";
    EXPECT_EQ(row(2), "   -     ?");
    EXPECT_EQ(row(3), "    ?  27h");
    EXPECT_EQ(fg(3, 8), 7) << "done tasks have no deadline alarm";
    // Not a number counts as missing; a text reads as 0 seconds since the epoch: dead.
    EXPECT_EQ(row(4), "    ? dead");
}

TEST_F(TaskWinTest, StateAndDoneColours)
{
    list->columnmask = (1 << TaskWin::colState) | (1 << TaskWin::colDone);
    list->sortmode = 0;
    auto done = [](const char* state, const char* plan) {
        return std::string(state) + "<fraction_done>0.25</fraction_done><plan_class>" + plan + "</plan_class>";
    };
    state(result("a", done("<state>3</state><ready_to_report/>", "opencl_nvidia_cuda")) +
          result("b", done("<state>2</state><too_large/>", "intel_gpu_opencl")) +
          result("c", done("<state>4</state>", "ati")) + result("d", done("<state>1</state>", "mt")) +
          result("e", "<state>2</state><fraction_done>1e300</fraction_done>"));
    tick();
    // (state text, state colour, state bold, done% colour); done% is always bold.
    const struct {
        const char* text;
        short statefg;
        bool statebold;
        short donefg;
    } want[] = {{"DoneEr   25.00", 1, false, 2}, {"WMem     25.00", 1, false, 4},
                {"Upld     25.00", 4, true, 5}, {"Dwnld    25.00", 2, true, 2},
                {"Wait    999.99", 7, false, 7}};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(row(r), want[r].text) << r;
        EXPECT_EQ(fg(r, 0), want[r].statefg) << r;
        EXPECT_EQ(bold(r, 0), want[r].statebold) << r;
        EXPECT_EQ(fg(r, 10), want[r].donefg) << r;
        EXPECT_TRUE(bold(r, 10)) << r;
    }
}

TEST_F(TaskWinTest, ProjectAndApplicationNames)
{
    list->columnmask = (1 << TaskWin::colProject) | (1 << TaskWin::colApplication) | (1 << TaskWin::colTask);
    list->sortmode = 0;
    std::string longapp(40, 'x');
    std::string projects = std::string(kProjects) +
                           "<project><master_url>http://c/</master_url>"
                           "<project_name>A Project With 25 Chars!!</project_name></project>"
                           "<app><name>long</name><user_friendly_name>" + longapp +
                           "</user_friendly_name></app><app><name>plain</name></app>"
                           "<workunit><name>wl</name><app_name>long</app_name></workunit>"
                           "<workunit><name>wp</name><app_name>plain</app_name></workunit>";
    state(result("t1", "", "http://b/", "wb") + result("t2", "", "http://nowhere/", "nowu") +
              result("t3", "", "http://c/", "wl") + result("t4", "", "http://c/", "wp") +
              "<result><name>t5</name></result>",
          projects);
    tick();
    // The app of the workunit's own project wins over an app of the same name elsewhere.
    EXPECT_EQ(row(0), "  Beta Project          Beta Calc                       t1");
    EXPECT_EQ(row(1), "  ???                   unknown application             t2");
    EXPECT_EQ(row(2), "  A Project With 25 Ch  " + longapp + "  t3") << "whole without the swap column";
    EXPECT_EQ(row(3), "  A Project With 25 Ch  unknown application             t4");
    EXPECT_EQ(row(4), "  ???                   unknown application             t5");
    EXPECT_EQ(names()[4], "t5");

    list->columnmask |= 1 << TaskWin::colSwap;
    tick();
    EXPECT_EQ(row(2), "  A Project With 25 Ch  " + longapp.substr(0, 30) + "    -    t3");
}

TEST_F(TaskWinTest, LookupsAgreeWithTheLinearSearchesOnAClientState)
{
    // The per-rebuild tables must show what the one-by-one lookups give.
    std::string text = readfixture("get_state.xml");
    ASSERT_FALSE(text.empty());
    srv.statesnapshots.push(parse(text));
    list->columnmask = (1 << TaskWin::colProject) | (1 << TaskWin::colApplication);
    list->sortmode = 0;
    tick();
    Snapshot st(srv.statesnapshots);
    auto results = st->find("client_state")->children("result");
    ASSERT_EQ(list->getstringcount(), static_cast<int>(results.size()));
    for (size_t i = 0; i < results.size(); ++i) {
        std::string project = projectnamebyurl(st.get(), results[i]->find("project_url")->value());
        Item* app = srv.findapp(results[i]->find("wu_name")->value());
        ASSERT_NE(app, nullptr);
        std::string appname = app->find("user_friendly_name")->value();
        char expect[256];
        snprintf(expect, sizeof expect, "  %-20s  %-30s", project.c_str(), appname.c_str());
        EXPECT_EQ(rowtext(list->win, static_cast<int>(i), 0, 54), expect);
        EXPECT_NE(project, "???");
    }
}

TEST_F(TaskWinTest, ListModesFilterAndNumberTheShownLines)
{
    list->columnmask = (1 << TaskWin::colNumber) | (1 << TaskWin::colTask);
    list->sortmode = 0;
    state(result("done", "<state>5</state><ready_to_report/>") +
          result("error", "<state>3</state><ready_to_report/>") + result("run", running()) +
          result("wait", "<state>2</state>"));
    tick();
    EXPECT_EQ(names(), (std::vector<std::string>{"done", "error", "run", "wait"}));
    command(evVIEWMODECH, 1);
    tick();
    EXPECT_EQ(names(), (std::vector<std::string>{"error", "run", "wait"}));
    EXPECT_EQ(row(0), "  1    error");
    command(evVIEWMODECH, 2);
    tick();
    EXPECT_EQ(names(), (std::vector<std::string>{"run"}));
    EXPECT_EQ(row(0), "  1    run");
    command(evVIEWMODECH, 7);
    tick();
    EXPECT_EQ(list->getstringcount(), 0);
}

TEST_F(TaskWinTest, SortModesAreStableAcrossTicks)
{
    // Thirty tasks that the state order cannot tell apart, around two that it can: an
    // unstable sort would shuffle the thirty between ticks.
    std::string results;
    std::vector<std::string> expected{"r0"};
    results += result("w_last", "<state>5</state><ready_to_report/>");
    for (int i = 0; i < 30; ++i) {
        results += result("w" + std::to_string(i), "<state>2</state>");
        expected.push_back("w" + std::to_string(i));
    }
    results += result("r0", running());
    expected.push_back("w_last");
    state(results);
    list->sortmode = 1;
    for (int t = 0; t < 3; ++t) {
        tick();
        EXPECT_EQ(names(), expected) << "tick " << t;
    }
    command(evSORTMODECH, 0);
    EXPECT_EQ(names(), expected) << "a new order waits for the next tick";
    tick();
    EXPECT_EQ(names().front(), "w_last");
    EXPECT_EQ(list->sortmode, 0);
}

TEST_F(TaskWinTest, SelectionNoticesAndKeys)
{
    state(result("a", running()) + result("b", running()));
    tick();
    list->setselectorpos(1);
    key(KEY_UP); // from a valid selection to another valid one: nothing to tell
    group->codes.clear();
    key(KEY_DOWN);
    key(KEY_DOWN);
    EXPECT_EQ(list->getselectedindex(), 2);
    EXPECT_EQ(list->getselectedobj(), nullptr);
    EXPECT_EQ(group->codes, (std::vector<int>{evTASKSELECTOROFF}));
    key(kKeyEnter);
    EXPECT_EQ(group->codes.size(), 1u) << "Enter without a selection opens nothing";
    key(KEY_UP);
    EXPECT_EQ(group->codes, (std::vector<int>{evTASKSELECTOROFF, evTASKSELECTORON}));
    key(KEY_ENTER);
    EXPECT_EQ(group->codes.back(), evTASKINFO);

    NEvent other(evKB, 'x');
    list->eventhandle(&other);
    EXPECT_FALSE(other.done) << "other keys are left for the application";
    TuiEvent abort(evABORTRES);
    list->eventhandle(&abort);
    EXPECT_FALSE(abort.done);
}

TEST_F(TaskWinTest, MouseSelectsAndDoubleClickAsksForDetails)
{
    state(result("a", running()) + result("b", running()));
    tick();
    list->move(3, 2); // absolute place (3, 2) inside the group at (0, 0)
    NMouseEvent click(BUTTON1_CLICKED, 4, 10);
    list->eventhandle(&click);
    EXPECT_TRUE(click.done);
    EXPECT_EQ(list->getselectedindex(), 1);
    EXPECT_EQ(group->codes, (std::vector<int>{evTASKSELECTORON}));
    NMouseEvent twice(BUTTON1_DOUBLE_CLICKED, 3, 10);
    list->eventhandle(&twice);
    EXPECT_EQ(list->getselectedindex(), 0);
    EXPECT_EQ(group->codes.back(), evTASKINFO);
    // A click below the last line selects nothing, and the application hears of it.
    NMouseEvent below(BUTTON1_CLICKED, 9, 10);
    list->eventhandle(&below);
    EXPECT_EQ(list->getselectedobj(), nullptr);
    EXPECT_EQ(group->codes.back(), evTASKSELECTOROFF);
    NMouseEvent outside(BUTTON1_CLICKED, 1, 10);
    list->eventhandle(&outside);
    EXPECT_FALSE(outside.done);
}

TEST_F(TaskWinTest, RebuildKeepsSelectionIndexAndStartLine)
{
    std::string many;
    for (int i = 0; i < 30; ++i)
        many += result("t" + std::to_string(i), "<state>2</state>");
    state(many);
    tick();
    list->setstartline(12);
    list->setselectorpos(20);
    tick();
    EXPECT_EQ(group->codes, (std::vector<int>{evTASKSELECTORON}));
    group->codes.clear();
    tick();
    EXPECT_EQ(list->getstartline(), 12);
    EXPECT_EQ(list->getselectedindex(), 20);
    EXPECT_TRUE(group->codes.empty());
    // The list shrinks under the selection: nothing is selected, and the status line is told.
    state(result("t0", "<state>2</state>"));
    tick();
    EXPECT_EQ(list->getselectedindex(), 20);
    EXPECT_EQ(list->getselectedobj(), nullptr);
    EXPECT_EQ(list->getstartline(), 0);
    EXPECT_EQ(group->codes, (std::vector<int>{evTASKSELECTOROFF}));
}

TEST_F(TaskWinTest, NothingToListWithoutHostStateOrClientState)
{
    tick();
    EXPECT_EQ(list->getstringcount(), 0);
    srv.statesnapshots.push(parse("<error>no</error>"));
    tick();
    EXPECT_EQ(list->getstringcount(), 0);
    state(result("a", running()));
    tick();
    list->srv = nullptr;
    tick();
    EXPECT_EQ(list->getstringcount(), 1) << "no host: the list stays as it was";
    list->clearlist();
    EXPECT_EQ(list->getstringcount(), 0);
    EXPECT_EQ(list->getselectedobj(), nullptr);
}

TEST_F(TaskWinTest, ColumnToggleAndModesAreWrittenToTheConfiguration)
{
    TempDir home;
    ScopedEnv env("HOME", home.path().c_str());
    Config cfg(".varnix.cfg");
    struct Use {
        Config* saved = gConfig;
        explicit Use(Config* c) { gConfig = c; }
        ~Use() { gConfig = saved; }
    } use(&cfg);
    Item* root = cfg.getcfgroot();
    ASSERT_NE(root, nullptr);
    root->addchild(std::make_unique<Item>("tasks_sort_mode"))->setintvalue(6);
    {
        TaskWin fresh(NRect{0, 0, 5, 40});
        EXPECT_EQ(fresh.columnmask, -1);
        EXPECT_EQ(fresh.sortmode, 6) << "read from the file";
        EXPECT_EQ(root->find("column_view_mask")->value(), "-1") << "missing keys are added";
        EXPECT_EQ(root->find("tasks_list_mode")->value(), "0");

        TuiEvent col(evCOLVIEWCH);
        col.idata = 9;
        fresh.eventhandle(&col);
        EXPECT_FALSE(col.done) << "the main window redraws its titles on it too";
        EXPECT_EQ(fresh.columnmask, ~(1 << 9));
        EXPECT_EQ(root->find("column_view_mask")->intvalue(), ~(1 << 9));
        col.idata = 31 + 32; // only the low five bits count
        fresh.eventhandle(&col);
        EXPECT_EQ(root->find("column_view_mask")->intvalue(), ~(1 << 9) ^ static_cast<int>(1u << 31));

        TuiEvent mode(evVIEWMODECH);
        mode.idata = 2;
        fresh.eventhandle(&mode);
        EXPECT_EQ(root->find("tasks_list_mode")->value(), "2");
    }
    // Nothing is created when saving: a removed key stays removed.
    root->removechild(root->find("tasks_sort_mode"));
    TaskWin other(NRect{0, 0, 5, 40});
    root->removechild(root->find("tasks_sort_mode"));
    other.sortmode = 4;
    other.saveopts();
    EXPECT_EQ(root->find("tasks_sort_mode"), nullptr);
}

TEST_F(TaskWinTest, HostileValuesStayInTheirColumns)
{
    list->sortmode = 0;
    // What XML lets through: C1 codes (raw and as UTF-8), DEL, tabs, invalid
    // UTF-8, numbers that are not numbers or far out of range.
    std::string c1 = "evil\x9b" "31m\xc2\x9bq\x7f\tname\xff";
    state(result(c1, "<state>x</state><fraction_done>inf</fraction_done>"
                     "<estimated_cpu_time_remaining>1e308</estimated_cpu_time_remaining>"
                     "<received_time>-1e308</received_time><report_deadline>inf</report_deadline>"
                     "<swap_size>1e300</swap_size><plan_class></plan_class>",
                 "http://c1/") +
              "<result><name>no_state_no_url</name><active_task><active_task_state>1"
              "</active_task_state></active_task></result>" +
              result("nan", "<state>2</state><fraction_done>nan</fraction_done><swap_size>nan</swap_size>"
                            "<received_time>nan</received_time>") +
              result(std::string(3000, 'L'), "<state>2</state>") + result("esc", "<state>2</state>"),
          std::string(kProjects) +
              "<project><master_url>http://c1/</master_url><project_name>\xc2\x9b" "31mred"
              "</project_name></project>");
    // Whatever other road a text takes into a tree, escape bytes included.
    {
        Snapshot st(srv.statesnapshots);
        st->find("client_state")->children("result").back()->find("name")->setvalue("x\033]0;t\007y");
    }
    tick();
    ASSERT_EQ(list->getstringcount(), 5);
    for (int r = 0; r < 5; ++r) {
        for (const auto& f : *list->getstring(r))
            for (unsigned char c : f.text)
                EXPECT_TRUE(c >= 0x20 && c != 0x7f && c != 0x9b) << "row " << r << ": '" << f.text << "'";
    }
    // The numbers keep the columns under their titles.
    EXPECT_EQ(rowtext(list->win, 0, 0, 41), "  1  New     999.99  ?31mred             ");
    EXPECT_EQ(rowtext(list->win, 0, 41, 15), "  inf  inf  inf");
    EXPECT_LE(list->getstring(0)->fragment(8).text.size(), 14u) << "swap";
    EXPECT_EQ(list->getstring(0)->fragment(9).text, "  evil?31m?q? name?");
    // A result without a state is judged by its active task; without a URL its project is unknown.
    EXPECT_EQ(rowtext(list->win, 1, 5, 6), "Run   ");
    EXPECT_EQ(rowtext(list->win, 1, 19, 5), "  ???");
    EXPECT_EQ(rowtext(list->win, 2, 11, 8), "     -  ");
    EXPECT_EQ(rowtext(list->win, 2, 41, 10), "    ?    ?") << "a receive time that is no number";
    EXPECT_EQ(list->getstring(4)->fragment(9).text, "  x?]0;t?y");
    // The task key keeps the name as the client sent it, for the requests.
    list->setselectorpos(0);
    EXPECT_EQ(list->getselectedtask()->taskname, c1);
    EXPECT_EQ(list->getselectedtask()->projecturl, "http://c1/");
    list->setselectorpos(1);
    EXPECT_EQ(list->getselectedtask()->projecturl, "");
}

// What reaches the terminal: a task name with control sequences must arrive as plain text.
TEST(TaskWinTerminal, NoControlSequenceFromTheClientReachesTheTerminal)
{
    const char* oldlocale = setlocale(LC_ALL, nullptr);
    std::string savedlocale = oldlocale ? oldlocale : "C";
    setlocale(LC_ALL, "C.UTF-8");
    FILE* out = tmpfile();
    ASSERT_NE(out, nullptr);
    FILE* in = fopen("/dev/null", "r");
    SCREEN* scr = newterm("xterm-256color", out, in);
    ASSERT_NE(scr, nullptr);
    set_term(scr);
    start_color();
    resetcolorpairs();
    {
        Srv srv("127.0.0.1", "1", "", "");
        std::string err;
        std::string text = "<client_state><project><master_url>u</master_url><project_name>P\xc2\x9b"
                           "2;PWNED</project_name></project><result><name>x</name><project_url>u"
                           "</project_url><state>2</state></result></client_state>";
        srv.statesnapshots.push(parsexml(text.data(), text.size(), err));
        ASSERT_EQ(err, "");
        {
            Snapshot st(srv.statesnapshots);
            st->find("result")->find("name")->setvalue("x\033]0;PWNED\007\x9b" "6n\r\b");
        }
        TaskWin list(NRect{0, 0, 5, 70});
        list.srv = &srv;
        NEvent ev(evTIMER, 0);
        list.eventhandle(&ev);
        update_panels();
        doupdate();
    }
    endwin();
    delscreen(scr);
    resetcolorpairs();
    fclose(in);
    std::string written;
    rewind(out);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, out)) > 0)
        written.append(buf, n);
    fclose(out);
    setlocale(LC_ALL, savedlocale.c_str());
    EXPECT_NE(written.find("PWNED"), std::string::npos) << "the text itself is shown";
    EXPECT_EQ(written.find("\033]"), std::string::npos);
    EXPECT_EQ(written.find('\007'), std::string::npos);
    EXPECT_EQ(written.find('\b'), std::string::npos);
    EXPECT_EQ(written.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(written.find('\x9b'), std::string::npos);
}

// Lines are made when shown: what scrolls into view, and what is asked for off screen,
// reads as of the last tick, even after a column was switched off in between.
TEST_F(TaskWinTest, LinesOutOfViewReadAsOfTheLastTick)
{
    std::string results;
    for (int i = 0; i < 30; ++i)
        results += result("t" + std::to_string(i), running(1000 + i * 100));
    state(results);
    command(evSORTMODECH, 0);
    tick();
    ASSERT_EQ(list->getstringcount(), 30);
    EXPECT_EQ(row(0).substr(0, 12), "  1  Run    ");

    // The task column goes at the next tick; until then every line keeps it.
    command(evCOLVIEWCH, TaskWin::colTask);
    const NAttrString* off = list->getstring(25);
    ASSERT_NE(off, nullptr);
    std::string text;
    for (const auto& f : *off)
        text += f.text;
    EXPECT_EQ(text.substr(0, 5), " 26  ");
    EXPECT_NE(text.find("  t25"), std::string::npos) << text;

    // Scrolling down shows lines made only now, equal to those asked for above.
    for (int i = 0; i < 29; ++i)
        key(KEY_DOWN);
    EXPECT_GT(list->getstartline(), 15);
    for (int r = 0; r < 10; ++r) {
        int i = list->getstartline() + r;
        std::string expect;
        for (const auto& f : *list->getstring(i))
            expect += f.text;
        EXPECT_EQ(row(r), expect.substr(0, expect.find_last_not_of(' ') + 1)) << "line " << i;
    }
    EXPECT_NE(row(9).find("t29"), std::string::npos);

    tick();
    text.clear();
    for (const auto& f : *list->getstring(25))
        text += f.text;
    EXPECT_EQ(text.find("t25"), std::string::npos) << "the next tick drops the column";
}
