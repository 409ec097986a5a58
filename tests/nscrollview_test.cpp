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
    static void fill(NScrollView& v, int lines)
    {
        for (int i = v.getstringcount(), end = v.getstringcount() + lines; i < end; ++i)
            v.addstring(0, "line %d", i);
    }
    static bool wheel(NScrollView& v, int button, int row = 1, int col = 1)
    {
        NMouseEvent ev(button, row, col);
        v.eventhandle(&ev);
        return ev.done;
    }
};

} // namespace

TEST_F(ScrollView, ScrollingStaysWithinTheContent)
{
    auto v = make(100);
    v->setstartline(90);
    v->scrollto(5);
    EXPECT_EQ(v->getstartline(), 90);
    v->scrollto(-95);
    EXPECT_EQ(v->getstartline(), 0);
    v->scrollto(INT_MAX);
    EXPECT_EQ(v->getstartline(), 90);
    v->scrollto(INT_MIN);
    EXPECT_EQ(v->getstartline(), 0);
    v->setstartline(95); // keeps a full page
    EXPECT_EQ(v->getstartline(), 90);
    v->setstartline(-4);
    EXPECT_EQ(v->getstartline(), 0);

    auto few = make(3); // everything fits: nothing scrolls
    few->scrollto(2);
    few->setstartline(2);
    few->setautoscroll(true);
    EXPECT_EQ(few->getstartline(), 0);
}

TEST_F(ScrollView, FollowTheEndMovesOnlyWhenAskedOrResized)
{
    auto v = make(100);
    v->setautoscroll(true);
    EXPECT_EQ(v->getstartline(), 90);
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
    EXPECT_TRUE(wheel(*v, BUTTON4_PRESSED));
    EXPECT_EQ(v->getstartline(), 85);
    EXPECT_FALSE(v->getautoscroll());
    v->setstartline(3);
    wheel(*v, BUTTON4_PRESSED);
    EXPECT_EQ(v->getstartline(), 0);

    // With everything in view there is nothing to scroll, but the wheel is still taken.
    auto few = make(3);
    few->setautoscroll(true);
    EXPECT_TRUE(wheel(*few, BUTTON4_PRESSED));
    EXPECT_FALSE(few->getautoscroll());
}

TEST_F(ScrollView, WheelDownAtTheEndStartsFollowing)
{
    auto v = make(100);
    v->setstartline(85);
    wheel(*v, BUTTON5_PRESSED);
    EXPECT_EQ(v->getstartline(), 90);
    EXPECT_FALSE(v->getautoscroll());
    EXPECT_TRUE(wheel(*v, BUTTON5_PRESSED)); // already at the end
    EXPECT_TRUE(v->getautoscroll());

    // Lines added afterwards wait for the owner or a resize.
    fill(*v, 3);
    EXPECT_EQ(v->getstartline(), 90);
    v->resize(10, 30);
    EXPECT_EQ(v->getstartline(), 93);
    // While following, the wheel-down is left to others.
    EXPECT_FALSE(wheel(*v, BUTTON5_PRESSED));

    auto few = make(3);
    EXPECT_TRUE(wheel(*few, BUTTON5_PRESSED));
    EXPECT_TRUE(few->getautoscroll());
}

TEST_F(ScrollView, IgnoresMouseOutsideClicksAndKeys)
{
    auto v = make(100);
    v->move(5, 5);
    v->setstartline(50);
    EXPECT_FALSE(wheel(*v, BUTTON4_PRESSED, 4, 6));  // the row above
    EXPECT_FALSE(wheel(*v, BUTTON4_PRESSED, 15, 6)); // the row below the last
    EXPECT_FALSE(wheel(*v, BUTTON1_CLICKED, 6, 6));
    EXPECT_EQ(v->getstartline(), 50);
    NEvent key(evKB, KEY_DOWN);
    v->eventhandle(&key);
    NEvent fake(evMOUSE, BUTTON4_PRESSED); // not a mouse event object: ignored
    v->eventhandle(&fake);
    EXPECT_FALSE(key.done || fake.done);
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

    v->clearcontent();
    fill(*v, 20);
    v->setstartline(7);
    v->refresh();
    EXPECT_EQ(trimmedrow(v->win, 0), "line 7");
    EXPECT_EQ(trimmedrow(v->win, 3), "line 10");
    v->clearcontent();
    EXPECT_EQ(v->getstartline(), 0);
    v->refresh();
    EXPECT_EQ(trimmedrow(v->win, 0), "");
}

TEST_F(ScrollView, ReportsTheVisiblePartToItsScrollBar)
{
    NScrollBar bar(NRect{0, 30, 10, 1}, 0, 0, ACS_VLINE);
    auto v = make(100);
    v->setscrollbar(&bar);
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
}
