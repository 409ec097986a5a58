#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "ngroup.h"
#include "nview.h"

namespace {

class View : public NcursesTest {};

class CustomDialog : public NView {
public:
    CustomDialog() : NView(NRect{0, 0, 2, 2}) { modalflag = true; }
};

} // namespace

TEST_F(View, OddRectanglesStillGiveAUsableWindow)
{
    // newwin would take 0 rows as "to the screen edge" and refuse a negative place.
    NView empty(NRect{1, 1, 0, 0});
    ASSERT_NE(empty.win.get(), nullptr);
    EXPECT_EQ(getmaxy(empty.win), 1);
    EXPECT_EQ(empty.rect.rows, 0);

    NView above(NRect{-5, -2, 3, 3});
    ASSERT_NE(above.win.get(), nullptr);
    EXPECT_FALSE(above.isinside(0, 0));
    EXPECT_TRUE(above.isinside(-3, 0));
}

TEST_F(View, GetidIsTheRuntimeTypeName)
{
    NView v(NRect{0, 0, 1, 1});
    EXPECT_STREQ(v.getid(), "5NView");
    NGroup g(NRect{0, 0, 1, 1});
    NView* asbase = &g;
    EXPECT_STREQ(asbase->getid(), "6NGroup");
    CustomDialog d;
    EXPECT_NE(std::string(d.getid()).find("CustomDialog"), std::string::npos);
    EXPECT_TRUE(d.ismodal());
    EXPECT_FALSE(v.ismodal());
}

TEST_F(View, NestedViewsAddUpTheirPositions)
{
    NGroup outer(NRect{2, 3, 20, 60});
    auto* inner = outer.insert(std::make_unique<NGroup>(NRect{1, 1, 10, 30}));
    auto* leaf = inner->insert(std::make_unique<NView>(NRect{4, 5, 2, 2}));
    EXPECT_EQ(getbegy(inner->win), 3);
    EXPECT_EQ(getbegx(inner->win), 4);
    EXPECT_EQ(leaf->getabsbegrow(), 7);
    EXPECT_EQ(leaf->getabsbegcol(), 9);
    EXPECT_EQ(getbegy(leaf->win), 7);
    EXPECT_EQ(getbegx(leaf->win), 9);

    // Moving the outer group carries every panel below it along.
    outer.move(5, 10);
    EXPECT_EQ(getbegy(inner->win), 6);
    EXPECT_EQ(getbegx(inner->win), 11);
    EXPECT_EQ(getbegy(leaf->win), 10);
    EXPECT_EQ(getbegx(leaf->win), 16);
    EXPECT_EQ(leaf->rect.begrow, 4); // the stored place stays relative
}

TEST_F(View, GroupInsertedAfterItsChildrenStillPlacesThem)
{
    auto group = std::make_unique<NGroup>(NRect{2, 2, 10, 10});
    auto* leaf = group->insert(std::make_unique<NView>(NRect{1, 1, 1, 1}));
    NGroup root(NRect{0, 0, 24, 80});
    root.insert(std::move(group));
    root.move(1, 1);
    EXPECT_EQ(getbegy(leaf->win), 4);
    EXPECT_EQ(getbegx(leaf->win), 4);
}

TEST_F(View, IsinsideCoversExactlyTheRectangle)
{
    NGroup g(NRect{2, 3, 10, 10});
    auto* v = g.insert(std::make_unique<NView>(NRect{1, 1, 3, 4})); // rows 3..5, cols 4..7
    EXPECT_TRUE(v->isinside(3, 4));
    EXPECT_TRUE(v->isinside(5, 7));
    EXPECT_FALSE(v->isinside(5, 8)); // right of the last column
    EXPECT_FALSE(v->isinside(6, 7)); // below the last row
    EXPECT_FALSE(v->isinside(2, 4));
    EXPECT_FALSE(v->isinside(3, 3));
}

TEST_F(View, ResizeKeepsThePlaceAndMoveDoesNotRedraw)
{
    NView v(NRect{2, 3, 4, 10});
    v.refresh();
    v.resize(6, 20);
    EXPECT_TRUE(v.needrefresh);
    EXPECT_EQ(getmaxy(v.win), 6);
    EXPECT_EQ(getbegy(v.win), 2);
    v.refresh();
    EXPECT_FALSE(v.needrefresh);
    v.move(4, 4);
    EXPECT_FALSE(v.needrefresh);
}

TEST_F(View, PlaceRefusedByATinyScreenIsTakenOnceTheScreenGrows)
{
    reopen({1, 1});
    NGroup root(NRect{0, 0, LINES, COLS});
    // Row 1 lies below a screen of one row: ncurses refuses to put the window there.
    auto* frame = root.insert(std::make_unique<NGroup>(NRect{1, 0, 1, 1}));
    auto* pane = frame->insert(std::make_unique<NView>(NRect{1, 1, 1, 1}));
    resizeterm(1, 3); // shrinking moves windows that no longer fit
    resizeterm(24, 80);
    frame->resize(22, 80);
    pane->resize(5, 60);
    EXPECT_EQ(getbegy(frame->win), 1);
    EXPECT_EQ(getbegx(frame->win), 0);
    EXPECT_EQ(getbegy(pane->win), 2);
    EXPECT_EQ(getbegx(pane->win), 1);
    EXPECT_EQ(getmaxy(pane->win), 5);
    EXPECT_EQ(getmaxx(pane->win), 60);
}

TEST_F(View, MoveGivesBackTheSizeATerminalResizeTookAway)
{
    NGroup box(NRect{8, 20, 6, 40});
    auto* text = box.insert(std::make_unique<NView>(NRect{2, 2, 1, 36}));
    box.refresh();
    // ncurses cuts every window down to a one-cell screen, and then stretches the ones
    // as tall or as wide as that screen to the next size.
    resizeterm(1, 1);
    resizeterm(24, 80);
    EXPECT_NE(getmaxx(text->win), 36);
    box.move(9, 20);
    EXPECT_EQ(getmaxy(box.win), 6);
    EXPECT_EQ(getmaxx(box.win), 40);
    EXPECT_EQ(getmaxy(text->win), 1);
    EXPECT_EQ(getmaxx(text->win), 36);
    EXPECT_EQ(getbegy(text->win), 11);
    EXPECT_EQ(getbegx(text->win), 22);
    EXPECT_TRUE(box.needrefresh) << "the content was lost with the size";
    box.refresh();
    box.move(10, 20); // an ordinary move still draws nothing
    EXPECT_FALSE(box.needrefresh);
}

TEST_F(View, PuteventClimbsToTheProgramOrIsDiscarded)
{
    TestProgram prog;
    auto* group = prog.insert(std::make_unique<NGroup>(NRect{1, 1, 5, 5}));
    auto* leaf = group->insert(std::make_unique<NView>(NRect{0, 0, 1, 1}));
    leaf->putevent(new NEvent(evPROG, 7));
    EXPECT_EQ(prog.queuesize(), 1u);
    // Without an owner the event is freed, not leaked (the leak checker watches).
    NView lone(NRect{0, 0, 1, 1});
    lone.putevent(new NEvent(evKB, 'x'));
}
