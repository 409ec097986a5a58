#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "ncursesfixture.h"
#include "nscrollbar.h"
#include "nscrollview.h"

namespace {

class ScrollView : public NcursesTest {
protected:
    // A view of `rows` rows holding `lines` lines "line 0", "line 1"...
    std::unique_ptr<NScrollView> make(int lines, int rows = 10, int cols = 30)
    {
        auto v = std::make_unique<NScrollView>(NRect{0, 0, rows, cols});
        fill(*v, lines);
        return v;
    }
    void fill(NScrollView& v, int lines)
    {
        for (int i = v.getstringcount(), end = v.getstringcount() + lines; i < end; ++i)
            v.addstring(0, "line %d", i);
    }
    static void wheel(NScrollView& v, int button, int row = 1, int col = 1, bool* done = nullptr)
    {
        NMouseEvent ev(button, row, col);
        v.eventhandle(&ev);
        if (done)
            *done = ev.done;
    }
};

} // namespace

TEST_F(ScrollView, ScrolltoClampsToTheContent)
{
    auto v = make(100);
    v->setstartline(90);
    EXPECT_EQ(v->getstartline(), 90);
    v->scrollto(5);
    EXPECT_EQ(v->getstartline(), 90);
    v->scrollto(-95);
    EXPECT_EQ(v->getstartline(), 0);
    v->scrollto(INT_MAX);
    EXPECT_EQ(v->getstartline(), 90);
    v->scrollto(INT_MIN);
    EXPECT_EQ(v->getstartline(), 0);
    v->scrollto(3);
    EXPECT_EQ(v->getstartline(), 3);
}

TEST_F(ScrollView, ShortListDoesNotScroll)
{
    auto v = make(3);
    v->scrollto(2);
    EXPECT_EQ(v->getstartline(), 0);
    v->setautoscroll(true);
    EXPECT_EQ(v->getstartline(), 0);
    auto exact = make(10);
    exact->scrollto(1);
    EXPECT_EQ(exact->getstartline(), 0);
}

TEST_F(ScrollView, SetstartlineKeepsAFullPage)
{
    auto v = make(100);
    v->setstartline(95);
    EXPECT_EQ(v->getstartline(), 90);
    v->setstartline(-4);
    EXPECT_EQ(v->getstartline(), 0);
    auto few = make(4);
    few->setstartline(2);
    EXPECT_EQ(few->getstartline(), 0);
}

TEST_F(ScrollView, FollowTheEndMovesOnlyWhenAskedOrResized)
{
    auto v = make(100);
    v->refresh();
    v->setautoscroll(true);
    EXPECT_EQ(v->getstartline(), 90);
    EXPECT_TRUE(v->needrefresh);

    fill(*v, 5); // adding alone does not follow
    EXPECT_EQ(v->getstartline(), 90);
    v->setautoscroll(true);
    EXPECT_EQ(v->getstartline(), 95);

    fill(*v, 5);
    v->resize(5, 30);
    EXPECT_EQ(v->getstartline(), 105);

    v->setautoscroll(false);
    v->resize(10, 30);
    EXPECT_EQ(v->getstartline(), 105); // not following: the place stays
}

TEST_F(ScrollView, WheelUpScrollsHalfAPageAndStopsFollowing)
{
    auto v = make(100);
    v->setautoscroll(true);
    bool done = false;
    wheel(*v, BUTTON4_PRESSED, 1, 1, &done);
    EXPECT_TRUE(done);
    EXPECT_EQ(v->getstartline(), 85);
    EXPECT_FALSE(v->getautoscroll());
    v->setstartline(3);
    wheel(*v, BUTTON4_PRESSED);
    EXPECT_EQ(v->getstartline(), 0);

    // With everything in view there is nothing to scroll, but the wheel is still taken.
    auto few = make(3);
    few->setautoscroll(true);
    wheel(*few, BUTTON4_PRESSED, 1, 1, &done);
    EXPECT_TRUE(done);
    EXPECT_FALSE(few->getautoscroll());
}

TEST_F(ScrollView, WheelDownAtTheEndStartsFollowing)
{
    auto v = make(100);
    v->setstartline(80);
    wheel(*v, BUTTON5_PRESSED);
    EXPECT_EQ(v->getstartline(), 85);
    EXPECT_FALSE(v->getautoscroll());
    wheel(*v, BUTTON5_PRESSED);
    EXPECT_EQ(v->getstartline(), 90);
    EXPECT_FALSE(v->getautoscroll());
    wheel(*v, BUTTON5_PRESSED); // already at the end
    EXPECT_TRUE(v->getautoscroll());

    // Lines added afterwards wait for the owner or a resize.
    fill(*v, 3);
    EXPECT_EQ(v->getstartline(), 90);
    v->resize(10, 30);
    EXPECT_EQ(v->getstartline(), 93);

    // While following, the wheel-down is left to others.
    bool done = true;
    wheel(*v, BUTTON5_PRESSED, 1, 1, &done);
    EXPECT_FALSE(done);
}

TEST_F(ScrollView, WheelDownWithEverythingInViewFollows)
{
    auto v = make(3);
    bool done = false;
    wheel(*v, BUTTON5_PRESSED, 1, 1, &done);
    EXPECT_TRUE(done);
    EXPECT_TRUE(v->getautoscroll());
    EXPECT_EQ(v->getstartline(), 0);
}

TEST_F(ScrollView, IgnoresMouseOutsideAndKeys)
{
    auto v = make(100);
    v->move(5, 5);
    v->setstartline(50);
    bool done = true;
    wheel(*v, BUTTON4_PRESSED, 4, 6, &done); // the row above
    EXPECT_FALSE(done);
    wheel(*v, BUTTON4_PRESSED, 15, 6, &done); // the row below the last
    EXPECT_FALSE(done);
    EXPECT_EQ(v->getstartline(), 50);
    wheel(*v, BUTTON1_CLICKED, 6, 6, &done);
    EXPECT_FALSE(done);

    NEvent key(evKB, KEY_DOWN);
    v->eventhandle(&key);
    EXPECT_FALSE(key.done);
    NEvent fake(evMOUSE, BUTTON4_PRESSED); // not a mouse event object: ignored, no crash
    v->eventhandle(&fake);
    EXPECT_FALSE(fake.done);
}

TEST_F(ScrollView, DrawsTheVisibleLinesAndClearsTheRest)
{
    auto v = make(0, 4, 12);
    v->addstring(0, "%s", "a line much longer than the view");
    v->addstring(0, "%s", "second");
    v->refresh();
    EXPECT_EQ(rowtext(v->win, 0), "a line much ");
    EXPECT_EQ(trimmedrow(v->win, 1), "second"); // the overlong line left nothing here
    EXPECT_EQ(trimmedrow(v->win, 2), "");
    EXPECT_FALSE(v->needrefresh);

    v->clearcontent();
    fill(*v, 20);
    v->setstartline(7);
    v->refresh();
    EXPECT_EQ(trimmedrow(v->win, 0), "line 7");
    EXPECT_EQ(trimmedrow(v->win, 3), "line 10");

    v->clearcontent();
    EXPECT_EQ(v->getstartline(), 0);
    EXPECT_EQ(v->getstringcount(), 0);
    v->refresh();
    EXPECT_EQ(trimmedrow(v->win, 0), "");
}

TEST_F(ScrollView, ReportsTheVisiblePartToItsScrollBar)
{
    auto v = make(100);
    NScrollBar bar(NRect{0, 30, 10, 1}, 0, 0, ACS_VLINE);
    v->setscrollbar(&bar);
    v->setstartline(40);
    v->setneedrefresh();
    v->refresh();
    EXPECT_TRUE(bar.isthumbvisible());

    auto few = make(3);
    few->setscrollbar(&bar);
    few->refresh();
    EXPECT_FALSE(bar.isthumbvisible());
}

TEST_F(ScrollView, MaxContentWidthCountsCharacters)
{
    auto v = make(0);
    EXPECT_EQ(v->getmaxcontentwidth(), 0);
    v->addstring(0, "%s", "abc");
    auto two = std::make_unique<NAttrString>(0, "%s", "\xc3\xa4\xc3\xb6\xc3\xbc");
    two->append(0, "%s", "xy");
    v->addstring(std::move(two));
    EXPECT_EQ(v->getmaxcontentwidth(), 5);
    v->addstring(static_cast<NAttrString*>(nullptr));
    EXPECT_EQ(v->getstringcount(), 2);
    ASSERT_NE(v->getstring(1), nullptr);
    EXPECT_EQ(v->getstring(1)->getlen(), 5);
    EXPECT_EQ(v->getstring(2), nullptr);
    EXPECT_EQ(v->getstring(-1), nullptr);
}
