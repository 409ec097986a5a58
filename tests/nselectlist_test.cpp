#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "nselectlist.h"

namespace {

class SelectList : public NcursesTest {
protected:
    std::unique_ptr<NSelectList> make(int lines, int rows = 10)
    {
        auto list = std::make_unique<NSelectList>(NRect{0, 0, rows, 30});
        objects.resize(static_cast<std::size_t>(lines));
        for (int i = 0; i < lines; ++i)
            list->addstring(&objects[static_cast<std::size_t>(i)],
                            std::make_unique<NAttrString>(0, "item %d", i));
        return list;
    }

    std::vector<int> objects;
};

void cellcolours(WINDOW* w, int row, int col, short& fg, short& bg)
{
    pair_content(static_cast<short>(cellpair(w, row, col)), &fg, &bg);
}

} // namespace

TEST_F(SelectList, UpFromTheFirstAndDownFromTheLastSelectNothing)
{
    auto list = make(5);
    EXPECT_EQ(list->getselectedobj(), nullptr); // nothing selected at first
    list->setselectorpos(0);
    list->selectorup();
    EXPECT_EQ(list->getselectedindex(), -1);
    EXPECT_EQ(list->getselectedobj(), nullptr);
    list->selectorup(); // stays
    EXPECT_EQ(list->getselectedindex(), -1);

    list->setselectorpos(4);
    list->selectordown();
    EXPECT_EQ(list->getselectedindex(), 5);
    EXPECT_EQ(list->getselectedobj(), nullptr);
    list->selectordown(); // stays
    EXPECT_EQ(list->getselectedindex(), 5);
    list->selectorup(); // and comes back
    EXPECT_EQ(list->getselectedobj(), &objects[4]);
    for (int pos : {-7, 1000}) {
        list->setselectorpos(pos);
        EXPECT_EQ(list->getselectedobj(), nullptr) << pos;
    }
}

TEST_F(SelectList, DownScrollsFirstAtLineSeven)
{
    auto list = make(100);
    list->setselectorpos(0);
    for (int i = 1; i <= 6; ++i) {
        list->selectordown();
        EXPECT_EQ(list->getstartline(), 0) << i;
    }
    list->selectordown();
    EXPECT_EQ(list->getselectedindex(), 7);
    EXPECT_EQ(list->getstartline(), 1);
    list->selectordown();
    EXPECT_EQ(list->getstartline(), 2);

    // At the end of the list the view stops and the selection walks on to the last line.
    list->setselectorpos(95);
    list->setstartline(90);
    for (int i = 0; i < 4; ++i)
        list->selectordown();
    EXPECT_EQ(list->getselectedindex(), 99);
    EXPECT_EQ(list->getstartline(), 90);
}

TEST_F(SelectList, UpScrollsWithinThreeLinesOfTheTop)
{
    auto list = make(100);
    list->setstartline(50);
    list->setselectorpos(55);
    list->selectorup(); // 54: four below the top row
    EXPECT_EQ(list->getstartline(), 50);
    list->selectorup(); // 53: three below
    EXPECT_EQ(list->getstartline(), 49);
    list->setstartline(0);
    list->setselectorpos(2);
    list->selectorup();
    EXPECT_EQ(list->getstartline(), 0);
}

TEST_F(SelectList, HighlightKeepsForegroundAndBoldOnCyan)
{
    auto list = std::make_unique<NSelectList>(NRect{0, 0, 3, 30});
    int yellow = getcolorpair(3, getbgcolor());
    auto line = std::make_unique<NAttrString>(yellow | A_BOLD, "%s", "bold");
    line->append(getcolorpair(2, getbgcolor()) | A_UNDERLINE, "%s", "under");
    int obj = 0;
    list->addstring(&obj, std::move(line));
    list->addstring(&obj, std::make_unique<NAttrString>(yellow, "%s", "plain"));
    list->setselectorpos(0);
    list->refresh();

    short fg = 0, bg = 0;
    cellcolours(list->win, 0, 0, fg, bg);
    EXPECT_EQ(fg, 3);
    EXPECT_EQ(bg, 6);
    EXPECT_TRUE(cellat(list->win, 0, 0) & A_BOLD);
    cellcolours(list->win, 0, 4, fg, bg);
    EXPECT_EQ(fg, 2);
    EXPECT_EQ(bg, 6);
    EXPECT_FALSE(cellat(list->win, 0, 4) & A_UNDERLINE); // lost in the highlight
    // The rest of the row is highlighted too.
    cellcolours(list->win, 0, 29, fg, bg);
    EXPECT_EQ(bg, 6);
    // Other rows keep their own colours.
    cellcolours(list->win, 1, 0, fg, bg);
    EXPECT_EQ(fg, 3);
    EXPECT_EQ(bg, getbgcolor());
    cellcolours(list->win, 1, 20, fg, bg);
    EXPECT_NE(bg, 6);

    // Without the selector nothing is highlighted.
    list->selectorenable = false;
    list->setneedrefresh();
    list->refresh();
    cellcolours(list->win, 0, 0, fg, bg);
    EXPECT_EQ(bg, getbgcolor());
    EXPECT_TRUE(cellat(list->win, 0, 4) & A_UNDERLINE);
}

TEST_F(SelectList, ClearingTheLinesClearsTheObjects)
{
    auto list = make(5);
    list->setselectorpos(1);
    list->clearcontent();
    EXPECT_EQ(list->getstringcount(), 0);
    EXPECT_EQ(list->getselectedobj(), nullptr);
    int fresh = 0;
    list->addstring(&fresh, std::make_unique<NAttrString>(0, "%s", "new"));
    EXPECT_EQ(list->getselectedobj(), nullptr); // the selection stays at line 1
    list->setselectorpos(0);
    EXPECT_EQ(list->getselectedobj(), &fresh);
}
