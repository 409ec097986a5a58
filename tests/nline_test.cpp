#include <gtest/gtest.h>

#include "ndraw.h"
#include "ncursesfixture.h"
#include "nline.h"

namespace {

class Line : public NcursesTest {};

} // namespace

TEST_F(Line, LinesFollowTheLineDrawModeOnEveryRefresh)
{
    NHLine h(NRect{3, 0, 1, 12});
    NVLine v(NRect{5, 20, 6, 1});
    lineDrawMode = 0;
    h.refresh();
    v.refresh();
    for (int c = 0; c < 12; ++c)
        EXPECT_TRUE(isacs(h.win, 0, c, ACS_HLINE)) << c;
    for (int r = 0; r < 6; ++r)
        EXPECT_TRUE(isacs(v.win, r, 0, ACS_VLINE)) << r;

    // Switching the mode shows on the next refresh, needed or not.
    lineDrawMode = 1;
    h.refresh();
    v.refresh();
    EXPECT_EQ(screen->screenrow(3).substr(0, 13), std::string(12, '-') + " ");
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(cellat(v.win, r, 0) & A_CHARTEXT, static_cast<chtype>('|')) << r;
    EXPECT_FALSE(cellat(h.win, 0, 0) & A_BOLD);
}
