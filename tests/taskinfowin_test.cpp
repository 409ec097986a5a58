#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "item.h"
#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "ndraw.h"
#include "nscrollbar.h"
#include "nscrollview.h"
#include "parsetext.h"
#include "srv.h"
#include "taskinfowin.h"
#include "tempdir.h"
#include "textutil.h"

namespace {

const char* const kUrl = "http://alpha.example/";

std::string state(const std::string& resultinner, const std::string& more = "")
{
    return "<client_state><project><master_url>http://alpha.example/</master_url>"
           "<project_name>Alpha@Home</project_name></project>"
           "<app><name>worker</name><user_friendly_name>Worker of Alpha</user_friendly_name></app>"
           "<workunit><name>t1_wu</name><app_name>worker</app_name></workunit>" + more +
           "<result><name>t1</name><wu_name>t1_wu</wu_name><project_url>http://alpha.example/"
           "</project_url>" + resultinner + "</result></client_state>";
}

class TaskInfo : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        tzset();
        prog = std::make_unique<TestProgram>();
    }
    void TearDown() override
    {
        prog.reset(); // the windows go before their screen
        NcursesTest::TearDown();
        tzset();
    }
    void resizescreen(const NcursesScreen::Options& options)
    {
        prog.reset();
        reopen(options);
        tzset();
        prog = std::make_unique<TestProgram>();
    }
    void push(const std::string& xml) { srv.statesnapshots.push(parse(xml)); }
    TaskInfoWin* open(const std::string& name = "t1")
    {
        return prog->insert(std::make_unique<TaskInfoWin>("Task Info Raw View", &srv, kUrl, name));
    }
    static std::string linetext(const TaskInfoWin* w, int i)
    {
        std::string s;
        for (const auto& f : *w->content->getstring(i))
            s += f.text;
        return s;
    }
    static int valueattr(const TaskInfoWin* w, int i) { return w->content->getstring(i)->fragment(1).attr; }
    void tick()
    {
        NEvent ev(evTIMER, 0);
        prog->eventhandle(&ev);
    }

    ScopedEnv tz{"TZ", "UTC"};
    Srv srv{"127.0.0.1", "31416", "", ""};
    std::unique_ptr<TestProgram> prog;
};

std::string readable(const std::string& name, const std::string& value)
{
    Item item(name);
    item.setvalue(value);
    return readablevalue(&item);
}

} // namespace

TEST_F(TaskInfo, ReadableFormsOfEveryKnownElement)
{
    // Words by number, from `first` on; numbers in between and just past read as nothing.
    const struct {
        const char* name;
        int first;
        std::vector<const char*> words;
    } lists[] = {
        {"state", -1, {"", "new", "downloading", "downloaded", "compute error", "uploading", "uploaded",
                       "aborted", "upload failed", ""}},
        {"exit_status", 191, {"", "exit statfile write", "exit signal", "aborted by client",
                              "exit child failed", "exit disk limit exceeded", "exit time limit exceeded",
                              "exit mem limit exceeded", "exit client exiting", "exit unstarted late",
                              "exit missing coproc", "exit aborted by project", "aborted via gui",
                              "exit unknown", ""}},
        {"scheduler_state", 0, {"", "preempted", "scheduled", ""}},
        {"active_task_state", 0, {"uninitialized", "executing", "", "", "", "abort pending", "", "",
                                  "quit pending", "suspended", "copy pending", ""}},
    };
    for (const auto& l : lists)
        for (size_t i = 0; i < l.words.size(); ++i)
            EXPECT_EQ(readable(l.name, std::to_string(l.first + static_cast<int>(i))), l.words[i])
                << l.name << " " << l.first + static_cast<int>(i);

    const char* const cases[][3] = {
        {"fraction_done", "0.123456", "12.35 %"}, {"fraction_done", "1", "100 %"},
        {"fraction_done", "nan", ""}, {"fraction_done", "1e300", "1e+302 %"},
        {"state", "99999999999999999999", ""},
        {"received_time", "86399.9", "Thu Jan  1 23:59:59 1970"},
        {"report_deadline", "1700000000", "Tue Nov 14 22:13:20 2023"},
        {"completed_time", "", "Thu Jan  1 00:00:00 1970"},
        {"received_time", "-1", "Wed Dec 31 23:59:59 1969"},
        {"received_time", "1e300", ""}, {"received_time", "-inf", ""},
        {"estimated_cpu_time_remaining", "45", "45s"}, {"current_cpu_time", "3725.9", "1h 2m 5s"},
        {"final_cpu_time", "90000", "1d 1h 0m 0s"}, {"final_elapsed_time", "0", "0s"},
        {"checkpoint_cpu_time", "60", "1m 0s"}, {"elapsed_time", "-3725", "-1h 2m 5s"},
        {"elapsed_time", "1e300", "106481481481481d 11h 33m 20s"},
        {"swap_size", "104857600", "100MB"}, {"working_set_size", "1610612736", "1.5GB"},
        {"working_set_size_smoothed", "0", "0MB"}, {"swap_size", "1e300", "9.313e+290GB"},
        {"swap_size", "inf", ""}, {"name", "1", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readable(c[0], c[1]), c[2]) << c[0] << " = " << c[1];
    EXPECT_EQ(readablevalue(nullptr), "");
}

TEST_F(TaskInfo, RowsOfANestedResultAndTheSize)
{
    push(state("<state>2</state><active_task><active_task_state>1</active_task_state>"
               "<fraction_done>0.5</fraction_done></active_task><exit_status>0</exit_status>"));
    TaskInfoWin* w = open();
    const std::vector<std::string> want = {
        "PROJECT NAME        Alpha@Home",
        "APP NAME            Worker of Alpha",
        "                    ",
        "name                t1",
        "wu_name             t1_wu",
        "project_url         http://alpha.example/",
        "state               2 (downloaded)",
        "                    ",
        "active_task_state   1 (executing)",
        "fraction_done       0.5 (50 %)",
        "                    ",
        "exit_status         0",
    };
    ASSERT_EQ(w->content->getstringcount(), static_cast<int>(want.size()));
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(linetext(w, static_cast<int>(i)), want[i]) << i;
    // Shrunk to its lines but for the screen's limit (24 - 10 rows), as wide as the
    // widest name and value: 17 + 21 + 10 for the view.
    EXPECT_EQ(w->content->rect.rows, 10);
    EXPECT_EQ(w->rect.rows, 14);
    EXPECT_EQ(w->content->rect.cols, 17 + 21 + 10);
    EXPECT_EQ(w->rect.cols, 17 + 21 + 14);
    lineDrawMode = 1;
    w->refresh();
    EXPECT_EQ(rowtext(w->win, 0, w->rect.cols / 2 - 9, 20), " Task Info Raw View ");
    EXPECT_EQ(rowtext(w->content->win, 0, 0, 30), "PROJECT NAME        Alpha@Home");
    // The scroll bar stands in the right border, beside the view, showing its thumb.
    EXPECT_EQ(w->scrollbar->getabsbegcol() - w->getabsbegcol(), w->rect.cols - 1);
    EXPECT_TRUE(w->scrollbar->rect.rows == 12 && w->scrollbar->isthumbvisible());
}

TEST_F(TaskInfo, FewLinesMakeASmallWindowAndNoHostAnEmptyOne)
{
    push(state(""));
    TaskInfoWin* w = open();
    EXPECT_EQ(w->content->getstringcount(), 6);
    EXPECT_EQ(w->rect.rows, 10);
    EXPECT_EQ(linetext(w, 4), "wu_name       t1_wu");

    TaskInfoWin* none = prog->insert(std::make_unique<TaskInfoWin>("Task Info Raw View", nullptr, kUrl, "t1"));
    EXPECT_EQ(none->rect.rows, 4);
    EXPECT_EQ(none->rect.cols, 14);
    TaskInfoWin* gone = open("not there");
    EXPECT_EQ(gone->content->getstringcount(), 0);
    EXPECT_EQ(gone->rect.cols, 14);
}

TEST_F(TaskInfo, ChangedValuesInCyanFromTheSecondRebuildOn)
{
    push(state("<fraction_done>0.25</fraction_done><state>2</state><state>4</state>"));
    TaskInfoWin* w = open();
    const int plain = getcolorpair(7, getbgcolor()) | A_BOLD;
    const int cyan = getcolorpair(6, getbgcolor()) | A_BOLD;
    for (int i = 0; i < w->content->getstringcount(); ++i)
        EXPECT_EQ(valueattr(w, i), plain) << "no cyan at the first rebuild, line " << i;
    tick();
    for (int i = 0; i < w->content->getstringcount(); ++i)
        EXPECT_EQ(valueattr(w, i), i == 8 ? cyan : plain)
            << "the second state differs from the first of its name, line " << i;
    push(state("<fraction_done>0.5</fraction_done><state>2</state><state>4</state>"
               "<ready_to_report/>"));
    tick();
    EXPECT_EQ(linetext(w, 9), "ready_to_report   ") << "the names padded to the new widest";
    EXPECT_EQ(linetext(w, 7), "state             2 (downloaded)");
    EXPECT_EQ(valueattr(w, 6), cyan) << "fraction_done changed";
    EXPECT_EQ(valueattr(w, 7), plain);
    EXPECT_EQ(valueattr(w, 9), plain) << "a new row with an empty value equals the missing one";
    EXPECT_EQ(valueattr(w, 0), plain) << "project name unchanged";
    push(state("<fraction_done>0.5</fraction_done><state>2</state><state>4</state>"
               "<ready_to_report>1</ready_to_report>"));
    tick();
    EXPECT_EQ(valueattr(w, 6), plain) << "cyan only until the next rebuild";
    EXPECT_EQ(valueattr(w, 9), cyan);
}

TEST_F(TaskInfo, LongAndMultibyteTextsStayInsideTheView)
{
    resizescreen({24, 60});
    // A value with multibyte text, a terminal command and far more than fits.
    auto tree = parse(state("<plan_class/><state>2</state>"));
    tree->find("plan_class")->setvalue("\xc3\xa9t\xc3\xa9\x1b[2J" + std::string(200, 'x'));
    srv.statesnapshots.push(std::move(tree));
    TaskInfoWin* w = open();
    EXPECT_EQ(w->rect.cols, 50) << "COLS - 10";
    EXPECT_EQ(w->content->rect.cols, 46);
    lineDrawMode = 1;
    w->refresh();
    // The value is cut at the view's edge, the escape shown as '?', the next row its own.
    const std::string shown = trimmedrow(w->content->win, 6);
    EXPECT_EQ(shown.substr(0, 26), "plan_class    \xc3\xa9t\xc3\xa9?[2Jxxx");
    EXPECT_EQ(mbstrlen(shown), 46);
    EXPECT_EQ(trimmedrow(w->content->win, 7), "state         2 (downloaded)");
    EXPECT_EQ(rowtext(w->win, 7, 0, 1), "|");
    EXPECT_EQ(rowtext(w->win, 7, 48, 1), " ") << "the margin stays blank";

    // A value of megabytes is kept to what a line can show.
    tree = parse(state("<plan_class/>"));
    tree->find("plan_class")->setvalue(std::string(4 << 20, 'y'));
    srv.statesnapshots.push(std::move(tree));
    tick();
    EXPECT_EQ(w->prevrows.back().second.size(), kMaxFragmentBytes);
    EXPECT_EQ(w->content->getstring(6)->fragment(1).text.size(), kMaxFragmentBytes);
}

TEST_F(TaskInfo, TinyTerminalsKeepTheWindowOnTheScreen)
{
    for (auto size : {NcursesScreen::Options{8, 40}, NcursesScreen::Options{5, 12}, NcursesScreen::Options{3, 8}}) {
        resizescreen(size);
        push(state("<state>2</state>"));
        auto w = std::make_unique<TaskInfoWin>("Task Info Raw View", &srv, kUrl, "t1");
        EXPECT_TRUE(w->content->rect.rows >= 0 && w->content->rect.cols >= 0) << size.rows;
        EXPECT_TRUE(w->rect.rows <= size.rows && w->rect.cols <= size.cols) << size.rows;
        EXPECT_GE(w->rect.rows, std::min(size.rows, 5)) << "a line of content where there is room";
        w->refresh();
    }
}

TEST_F(TaskInfo, PagesKeysAndClicks)
{
    std::string many;
    for (int i = 0; i < 30; ++i)
        many += "<e" + std::to_string(i) + ">" + std::to_string(i) + "</e" + std::to_string(i) + ">";
    push(state(many));
    TaskInfoWin* w = open();
    w->move(3, 3);
    ASSERT_EQ(w->rect.rows, 14);
    auto key = [&](int code) {
        prog->queued().clear();
        NEvent ev(evKB, code);
        prog->eventhandle(&ev);
        return ev.done;
    };
    EXPECT_TRUE(key(KEY_NPAGE));
    EXPECT_EQ(w->content->getstartline(), 7) << "half the window's height";
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(key(KEY_NPAGE));
    EXPECT_EQ(w->content->getstartline(), w->content->getstringcount() - 10);
    EXPECT_FALSE(w->content->getautoscroll());
    EXPECT_TRUE(key(KEY_NPAGE));
    EXPECT_TRUE(w->content->getautoscroll()) << "at the end: follows it";
    push(state(many + "<more>1</more>"));
    tick();
    EXPECT_EQ(w->content->getstartline(), w->content->getstringcount() - 10) << "follows the end";
    EXPECT_TRUE(key(KEY_PPAGE));
    EXPECT_FALSE(w->content->getautoscroll());
    EXPECT_EQ(w->content->getstartline(), w->content->getstringcount() - 17);
    tick();
    EXPECT_EQ(w->content->getstartline(), w->content->getstringcount() - 17) << "kept over a rebuild";

    EXPECT_TRUE(key('S')) << "hot keys swallowed";
    EXPECT_TRUE(key(KEY_F(9)));
    EXPECT_TRUE(prog->queued().empty());
    EXPECT_FALSE(key(27)) << "Esc is left to the application";
    for (int button : {4, 8}) {
        prog->queued().clear();
        NMouseEvent click(button, 0, 0);
        prog->eventhandle(&click);
        EXPECT_TRUE(click.done) << "a click outside is not passed on";
        ASSERT_EQ(prog->queued().size(), 1u);
        EXPECT_TRUE(prog->queued().front()->type == evKB && prog->queued().front()->keycode == 27);
    }
    EXPECT_STREQ(w->getid(), "11TaskInfoWin");
}
