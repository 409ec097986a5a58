#include <gtest/gtest.h>

#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "nstatictext.h"

namespace {

class StaticText : public NcursesTest {};

} // namespace

TEST_F(StaticText, LineEndsStartNewRows)
{
    NStaticText t(NRect{0, 0, 3, 20});
    t.appendstring(0, "%s", "first\nsecond");
    EXPECT_EQ(trimmedrow(t.win, 0), "first");
    EXPECT_EQ(trimmedrow(t.win, 1), "second");
    EXPECT_EQ(trimmedrow(t.win, 2), "");
    EXPECT_EQ(t.getcontent().getlen(), 12); // the line end counts as a character
}

TEST_F(StaticText, SettextReplacesAndAppendstringAdds)
{
    NStaticText t(NRect{0, 0, 1, 30});
    t.settext(0, "%s", "old text that is long");
    t.settext(A_BOLD, "%s", "new");
    EXPECT_EQ(trimmedrow(t.win, 0), "new");
    EXPECT_EQ(t.getcontent().fragmentcount(), 1u);
    t.appendstring(0, " %d", 42);
    EXPECT_EQ(trimmedrow(t.win, 0), "new 42");
    EXPECT_TRUE(cellat(t.win, 0, 0) & A_BOLD);
    EXPECT_FALSE(cellat(t.win, 0, 4) & A_BOLD);
}

TEST_F(StaticText, BackgroundFillsTheRestOfTheRow)
{
    NStaticText status(NRect{23, 0, 1, 80});
    status.bgattr = getcolorpair(7, 2);
    status.settext(getcolorpair(3, 2) | A_BOLD, "%s", " Esc");
    EXPECT_EQ(cellpair(status.win, 0, 79), PAIR_NUMBER(getcolorpair(7, 2)));
    EXPECT_EQ(cellpair(status.win, 0, 1), PAIR_NUMBER(getcolorpair(3, 2)));
    EXPECT_EQ(screen->screenrow(23).substr(0, 5), " Esc ");
}

TEST_F(StaticText, TextLongerThanTheViewStopsAtItsEnd)
{
    NStaticText t(NRect{0, 0, 2, 5});
    t.settext(0, "%s", "abcdefghijklmnop");
    EXPECT_EQ(rowtext(t.win, 0), "abcde");
    EXPECT_EQ(rowtext(t.win, 1), "fghij");
}
