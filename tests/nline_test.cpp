#include <gtest/gtest.h>

#include "config.h"
#include "ncursesfixture.h"
#include "nline.h"

namespace {

class Line : public NcursesTest {};

} // namespace

TEST_F(Line, HorizontalLineFollowsTheLineDrawMode)
{
    NHLine line(NRect{3, 0, 1, 12});
    lineDrawMode = 0;
    line.refresh();
    for (int c = 0; c < 12; ++c)
        EXPECT_TRUE(isacs(line.win, 0, c, ACS_HLINE)) << c;

    // Switching the mode shows on the next refresh, needed or not.
    lineDrawMode = 1;
    line.refresh();
    EXPECT_EQ(rowtext(line.win, 0), std::string(12, '-'));
    EXPECT_EQ(screen->screenrow(3).substr(0, 13), std::string(12, '-') + " ");
}

TEST_F(Line, VerticalLineFollowsTheLineDrawMode)
{
    NVLine line(NRect{0, 5, 6, 1});
    lineDrawMode = 1;
    line.refresh();
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(cellat(line.win, r, 0) & A_CHARTEXT, static_cast<chtype>('|')) << r;
    lineDrawMode = 0;
    line.refresh();
    for (int r = 0; r < 6; ++r)
        EXPECT_TRUE(isacs(line.win, r, 0, ACS_VLINE)) << r;
}

TEST_F(Line, LineIsNotBold)
{
    NHLine line(NRect{0, 0, 1, 4});
    lineDrawMode = 1;
    line.refresh();
    EXPECT_FALSE(cellat(line.win, 0, 0) & A_BOLD);
}
