#include <gtest/gtest.h>

#include "config.h"
#include "infopanel.h"
#include "mainwin.h"
#include "msgwin.h"
#include "ncursesfixture.h"
#include "nline.h"
#include "nscrollbar.h"
#include "nstatictext.h"
#include "srv.h"
#include "taskwin.h"
#include "tempdir.h"

namespace {

std::string text(const NAttrString& s)
{
    std::string out;
    for (const auto& f : s)
        out += f.text;
    return out;
}

class MainWinTest : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        saved = gConfig;
        gConfig = &config;
    }
    void TearDown() override
    {
        gConfig = saved;
        NcursesTest::TearDown();
    }

    TempDir home;
    ScopedEnv env{"HOME", home.path().c_str()};
    Config config{".varnix.cfg"};
    Config* saved = nullptr;
};

} // namespace

TEST(MainWinLayout, TaskListHeight)
{
    EXPECT_EQ(MainWin::taskheight(40, 5000), 20);
    EXPECT_EQ(MainWin::taskheight(20, 5000), 10); // never more than R - 10
    EXPECT_EQ(MainWin::taskheight(20, 9000), 10);
    EXPECT_EQ(MainWin::taskheight(40, 0), 5);     // never below 5
    EXPECT_EQ(MainWin::taskheight(40, 1400), 5);  // 5.6 counts as below 6
    EXPECT_EQ(MainWin::taskheight(40, 1500), 6);
    EXPECT_EQ(MainWin::taskheight(40, 2147483647), 30) << "a hand-edited value must not overflow";
    EXPECT_EQ(MainWin::taskheight(40, -2147483647 - 1), 5);
}

TEST(MainWinLayout, PlusAndMinusSteps)
{
    // 40 rows: one step is 250 hundredths of a percent, and the stored value is 10 less.
    EXPECT_EQ(MainWin::nextpercent(40, 5000, true), 5240);
    EXPECT_EQ(MainWin::nextpercent(40, 5240, true), 5480);
    EXPECT_EQ(MainWin::taskheight(40, 5240), 20);
    EXPECT_EQ(MainWin::taskheight(40, 5480), 21);
    EXPECT_EQ(MainWin::nextpercent(40, 5000, false), 4740);
    EXPECT_EQ(MainWin::taskheight(40, 4740), 18);
    // '+' does nothing below 5 rows, '-' nothing above R - 10.
    EXPECT_EQ(MainWin::nextpercent(40, 1000, false), 1000);
    EXPECT_EQ(MainWin::nextpercent(40, 7800, true), 7800);
    EXPECT_EQ(MainWin::nextpercent(40, 7600, true), 7840);
    // Small values go to 0.
    EXPECT_EQ(MainWin::nextpercent(40, 1250, false), 990);
    EXPECT_EQ(MainWin::nextpercent(40, 250, false), 250);
    EXPECT_EQ(MainWin::nextpercent(100, 9000, true), 9090);
    EXPECT_EQ(MainWin::nextpercent(0, 5000, true), 5000);
}

TEST_F(MainWinTest, ChildrenFollowTheSplit)
{
    MainWin w(NRect{1, 0, 22, 80});
    EXPECT_EQ(w.taskwin->rect.begrow, 2);
    EXPECT_EQ(w.taskwin->rect.rows, 11);
    EXPECT_EQ(w.taskwin->rect.cols, 57);
    EXPECT_EQ(w.msgwin->rect.begrow, 14);
    EXPECT_EQ(w.msgwin->rect.rows, 7);
    EXPECT_EQ(w.hline->rect.begrow, 13);
    EXPECT_EQ(w.panel->rect.begcol, 59);
    EXPECT_EQ(w.panel->rect.rows, 20);
    EXPECT_EQ(w.taskscrollbar->rect.rows, 13);
    EXPECT_EQ(w.msgscrollbar->rect.begrow, 13);
    EXPECT_EQ(w.msgscrollbar->rect.rows, 9);
    EXPECT_EQ(config.getcfgroot()->find("wtask_height_percent")->value(), "5000");

    NEvent minus(evKB, '-');
    w.eventhandle(&minus);
    EXPECT_FALSE(minus.done) << "the split keys stay for others to see";
    EXPECT_EQ(w.wtaskheightpercent, 5444);
    EXPECT_EQ(config.getcfgroot()->find("wtask_height_percent")->value(), "5444");
    EXPECT_EQ(w.taskwin->rect.rows, 11);

    // The keypad's '+' arrives as Escape, 'O', 'k'; a lone 'k' does nothing.
    NEvent k(evKB, 'k');
    w.eventhandle(&k);
    EXPECT_EQ(w.wtaskheightpercent, 5444);
    for (int code : {27, int('O'), int('k')}) {
        NEvent ev(evKB, code);
        w.eventhandle(&ev);
    }
    EXPECT_EQ(w.wtaskheightpercent, 4980);

    w.resize(40, 120);
    EXPECT_EQ(w.taskwin->rect.rows, 19);
    EXPECT_EQ(w.msgwin->rect.begrow, 22);
    EXPECT_EQ(w.msgwin->rect.rows, 17);
    EXPECT_EQ(w.panel->rect.begcol, 99);
}

TEST_F(MainWinTest, ColumnTitles)
{
    MainWin w(NRect{1, 0, 22, 140});
    EXPECT_EQ(text(w.colheader->getcontent()).size(), 101u);
    EXPECT_EQ(text(w.colheader->getcontent()).substr(0, 22), "  #  state    done%  p");
    w.taskwin->columnmask = 1 << 9;
    w.updatecolheader();
    EXPECT_EQ(text(w.colheader->getcontent()), "  task");
    w.taskwin->columnmask = 0;
    w.updatecolheader();
    EXPECT_EQ(text(w.colheader->getcontent()), "");
}

TEST_F(MainWinTest, CaptionNamesTheHostAndItsState)
{
    MainWin w(NRect{1, 0, 22, 80});
    w.updatecaption();
    EXPECT_EQ(text(w.caption), "no servers");

    Srv labelled("192.168.1.5", "31416", "", "garage");
    w.setsrv(&labelled);
    w.updatecaption();
    ASSERT_EQ(w.caption.fragmentcount(), 2u);
    EXPECT_EQ(w.caption.fragment(0).text, " Host 192.168.1.5:31416(garage) ");
    EXPECT_EQ(w.caption.fragment(1).text, "offline!");

    Srv plain("10.0.0.1", "1", "", "");
    plain.unauthorized = true;
    w.setsrv(&plain);
    w.updatecaption();
    ASSERT_EQ(w.caption.fragmentcount(), 2u);
    EXPECT_EQ(w.caption.fragment(0).text, " Host 10.0.0.1:1 ");
    EXPECT_EQ(w.caption.fragment(1).text, "unauthorized!") << "not offline as well";
    EXPECT_EQ(w.msgwin->srv, &plain);
    EXPECT_EQ(w.taskwin->srv, &plain);
}
