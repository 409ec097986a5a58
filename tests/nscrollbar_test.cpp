#include <gtest/gtest.h>

#include <vector>

#include "ndraw.h"
#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "nscrollbar.h"

namespace {

class ScrollBar : public NcursesTest {
protected:
    // Rows that show the thumb: blanks drawn with the white block attribute.
    static std::vector<int> thumbrows(NScrollBar& bar)
    {
        std::vector<int> rows;
        for (int r = 0; r < bar.rect.rows; ++r) {
            chtype ch = cellat(bar.win, r, 0);
            if ((ch & A_CHARTEXT) == ' ' && cellpair(bar.win, r, 0) == PAIR_NUMBER(getcolorpair(6, 7)))
                rows.push_back(r);
        }
        return rows;
    }
    static std::vector<int> range(int from, int to)
    {
        std::vector<int> v;
        for (int i = from; i <= to; ++i)
            v.push_back(i);
        return v;
    }
};

} // namespace

TEST_F(ScrollBar, NoThumbWhenEverythingIsVisible)
{
    NScrollBar bar(NRect{0, 0, 10, 1}, 0, 0, ACS_VLINE | A_BOLD);
    bar.setpos(0, 3, 0, 10);
    EXPECT_FALSE(bar.isthumbvisible());
    EXPECT_TRUE(thumbrows(bar).empty());
    for (int r = 0; r < 10; ++r) {
        EXPECT_TRUE(isacs(bar.win, r, 0, ACS_VLINE)) << r;
        EXPECT_TRUE(cellat(bar.win, r, 0) & A_BOLD) << r;
    }
}

TEST_F(ScrollBar, ThumbLeavesTheEndsOnlyWhenTheViewDoes)
{
    NScrollBar bar(NRect{0, 0, 12, 1}, 0, 0, ACS_VLINE);
    bar.setpos(0, 100, 1, 11);
    EXPECT_EQ(thumbrows(bar), (std::vector<int>{1}));
    bar.setpos(0, 100, 0, 10);
    EXPECT_EQ(thumbrows(bar), (std::vector<int>{0}));
    // The track shows the checkerboard while there is a thumb.
    EXPECT_TRUE(isacs(bar.win, 5, 0, ACS_CKBOARD));

    // The thumb reaches the bottom row only at the end.
    bar.setpos(0, 100, 90, 100);
    EXPECT_EQ(thumbrows(bar).back(), 11);
    bar.setpos(0, 100, 89, 99);
    EXPECT_LT(thumbrows(bar).back(), 11);
}

TEST_F(ScrollBar, ThumbSizeFollowsTheVisibleShare)
{
    NScrollBar bar(NRect{0, 0, 11, 1}, 0, 0, ACS_VLINE);
    bar.setpos(0, 20, 5, 15); // half the list: scale 0.5, size 5
    EXPECT_EQ(thumbrows(bar), range(3, 7));
    bar.setpos(0, 1000, 500, 501); // tiny share: still one row
    EXPECT_EQ(thumbrows(bar).size(), 1u);
}

TEST_F(ScrollBar, EndMarksTakeTheFirstAndLastRow)
{
    NScrollBar bar(NRect{0, 0, 10, 1}, ACS_TTEE | A_BOLD, ACS_BTEE | A_BOLD, ACS_VLINE | A_BOLD);
    bar.setpos(0, 5, 0, 8);
    EXPECT_TRUE(isacs(bar.win, 0, 0, ACS_TTEE));
    EXPECT_TRUE(isacs(bar.win, 9, 0, ACS_BTEE));
    EXPECT_TRUE(isacs(bar.win, 1, 0, ACS_VLINE));

    bar.setpos(0, 100, 0, 10);
    std::vector<int> top = thumbrows(bar);
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(top.front(), 1); // the thumb stays inside the marks
    bar.setpos(0, 100, 90, 100);
    std::vector<int> bottom = thumbrows(bar);
    ASSERT_FALSE(bottom.empty());
    EXPECT_EQ(bottom.back(), 8);
    EXPECT_TRUE(isacs(bar.win, 9, 0, ACS_BTEE));
}

TEST_F(ScrollBar, AsciiModeUsesPlusPipeAndX)
{
    lineDrawMode = 1;
    NScrollBar bar(NRect{0, 0, 6, 1}, ACS_TTEE | A_BOLD, 0, ACS_VLINE);
    bar.setpos(0, 3, 0, 6);
    EXPECT_EQ(cellat(bar.win, 0, 0) & A_CHARTEXT, static_cast<chtype>('+'));
    EXPECT_TRUE(cellat(bar.win, 0, 0) & A_BOLD);
    EXPECT_EQ(cellat(bar.win, 3, 0) & A_CHARTEXT, static_cast<chtype>('|'));
    EXPECT_FALSE(cellat(bar.win, 3, 0) & A_BOLD);
    bar.setpos(0, 100, 50, 55);
    EXPECT_EQ(cellat(bar.win, 1, 0) & A_CHARTEXT, static_cast<chtype>('X'));
    // Any value but 0 means ASCII for the bar.
    lineDrawMode = 2;
    bar.refresh();
    EXPECT_EQ(cellat(bar.win, 0, 0) & A_CHARTEXT, static_cast<chtype>('+'));
}

TEST_F(ScrollBar, OddValuesStayInsideTheTrack)
{
    NScrollBar tiny(NRect{0, 0, 1, 1}, ACS_TTEE, ACS_BTEE, ACS_VLINE);
    tiny.setpos(0, 100, 10, 20);
    NScrollBar two(NRect{0, 0, 2, 1}, ACS_TTEE, ACS_BTEE, ACS_VLINE);
    two.setpos(0, 100, 10, 20);

    NScrollBar bar(NRect{0, 0, 10, 1}, 0, 0, ACS_VLINE);
    bar.setpos(0, 100, -50, 500); // visible part larger than the list
    for (int r : thumbrows(bar))
        EXPECT_TRUE(r >= 0 && r <= 9);
    bar.setpos(0, 10, 2000000000, 2100000000);
    for (int r : thumbrows(bar))
        EXPECT_TRUE(r >= 0 && r <= 9);
    bar.setpos(5, 5, 5, 5); // empty list
    EXPECT_TRUE(thumbrows(bar).empty());
}
