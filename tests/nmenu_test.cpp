#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "ndraw.h"
#include "nmenu.h"

namespace {

// A menu that records what it runs and, in the bar form, opens a pull-down under the
// current item as the application's menu bar does.
class TestMenu : public NMenu {
public:
    using NMenu::NMenu;
    bool action() override
    {
        ran.push_back(getcurrentname());
        if (!ishorizontal || getchildren().size() > 0)
            return false;
        const int w = getitemwidth() + getcolspacing();
        auto sub = std::make_unique<TestMenu>(
            NRect{1, w * getcurrentindex() + getcolspacing(), 5, 25}, false);
        for (int i = 0; i < subitems; ++i)
            sub->additem(("Sub " + std::to_string(i)).c_str(), "  X");
        sub->additem(nullptr, nullptr);
        insert(std::move(sub));
        return true;
    }
    TestMenu* submenu() const
    {
        for (const auto& c : getchildren())
            if (c.get() != scrollbar)
                return static_cast<TestMenu*>(c.get());
        return nullptr;
    }

    std::vector<std::string> ran;
    int subitems = 6;
};

std::unique_ptr<TestMenu> pulldown(const std::vector<std::string>& names, int row = 1, int col = 0)
{
    auto m = std::make_unique<TestMenu>(NRect{row, col, 5, 25}, false);
    for (const auto& n : names)
        m->additem(n.c_str(), n.empty() ? "" : "desc");
    m->additem(nullptr, nullptr);
    return m;
}

std::vector<std::string> numbered(int n)
{
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i)
        names.push_back("Item " + std::to_string(i));
    return names;
}

std::unique_ptr<TestMenu> bar()
{
    auto m = std::make_unique<TestMenu>(NRect{0, 0, 1, COLS}, true);
    for (const char* n : {"File", "View", "Projects", "Tasks", "Activity", "Help"})
        m->additem(n, "");
    m->additem(nullptr, nullptr);
    return m;
}

// Sends one event to the menu; true when it was consumed.
bool send(NMenu& m, NEvent* ev)
{
    std::unique_ptr<NEvent> owned(ev);
    m.eventhandle(ev);
    return ev->done;
}
bool key(NMenu& m, int k) { return send(m, new NEvent(evKB, k)); }
bool mouse(NMenu& m, int bstate, int row, int col)
{
    return send(m, new NMouseEvent(bstate, row, col));
}

class Menu : public NcursesTest {};

} // namespace

TEST_F(Menu, PullDownSizesItselfToItsItemsAndTheScreen)
{
    struct Case {
        int items, row, lines, itemrows;
        bool thumb;
    } cases[] = {
        {20, 1, 24, 15, true},  // keeps eight rows free below
        {10, 1, 24, 10, false}, // all fit: a plain line
        {2, 1, 24, 2, false},
        {10, 20, 24, 1, true},  // placed too low for the rule: one row that scrolls
        {2, 21, 24, 1, true},   // short lists are not cut by the rule, but by the screen
        {6, 1, 10, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("items " + std::to_string(c.items) + " row " + std::to_string(c.row));
        if (LINES != c.lines)
            reopen({c.lines, 80});
        auto m = pulldown(numbered(c.items), c.row);
        EXPECT_EQ(m->rect.rows, c.itemrows + 2);
        EXPECT_LE(m->rect.begrow + m->rect.rows, LINES);
        EXPECT_EQ(m->rect.cols, m->getitemwidth() + 3);
        ASSERT_NE(m->scrollbar, nullptr);
        EXPECT_EQ(m->scrollbar->rect.rows, c.itemrows);
        EXPECT_EQ(m->scrollbar->rect.begrow, 1);
        EXPECT_EQ(m->scrollbar->rect.begcol, m->rect.cols - 1);
        EXPECT_EQ(m->scrollbar->isthumbvisible(), c.thumb);
        EXPECT_TRUE(m->posted);
    }
}

TEST_F(Menu, PullDownShowsFrameNamesDescriptionsAndScrollBar)
{
    lineDrawMode = 1;
    auto m = pulldown({"Suspend task", "", "Abort task"}, 2, 3);
    m->refresh();
    // Longest name 12, mark 1, one blank, description 4, and the frame.
    EXPECT_EQ(m->getitemwidth(), 18);
    EXPECT_EQ(screen->screenrow(2).substr(3, 21), "+-------------------+");
    EXPECT_EQ(screen->screenrow(3).substr(3, 21), "| Suspend task desc |");
    EXPECT_EQ(screen->screenrow(4).substr(3, 21), "|                   |");
    EXPECT_EQ(screen->screenrow(5).substr(3, 21), "| Abort task   desc |");
    EXPECT_EQ(screen->screenrow(6).substr(3, 21), "+-------------------+");
    // The current item is highlighted black on white.
    EXPECT_EQ(PAIR_NUMBER(mvwinch(curscr, 3, 5)), PAIR_NUMBER(getcolorpair(0, 7)));
    EXPECT_EQ(getbegx(m->scrollbar->win), 3 + 21 - 1);

    // A change of the line-draw mode shows with the next refresh.
    lineDrawMode = 0;
    m->refresh();
    EXPECT_TRUE(isacs(m->win, 0, 0, ACS_ULCORNER));
    EXPECT_TRUE(isacs(m->win, 4, 1, ACS_HLINE));
}

TEST_F(Menu, UpAndDownSkipSeparatorsAndDoNotWrap)
{
    auto m = pulldown({"A", "", "B", "", "", "C", ""});
    std::vector<int> seen;
    for (int k : {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_UP, KEY_UP, KEY_UP}) {
        EXPECT_TRUE(key(*m, k));
        seen.push_back(m->getcurrentindex());
    }
    // A run of separators is passed too, and the trailing one is never landed on.
    EXPECT_EQ(seen, (std::vector<int>{2, 5, 5, 2, 0, 0}));
    EXPECT_EQ(m->getcurrentname(), "A");
    EXPECT_TRUE(m->ran.empty());

    // Left, Right, Esc and other keys are for the owner.
    for (int k : {KEY_LEFT, KEY_RIGHT, kKeyEsc, int('S'), KEY_NPAGE})
        EXPECT_FALSE(key(*m, k)) << k;
    auto b = bar();
    for (int k : {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN, kKeyEsc})
        EXPECT_FALSE(key(*b, k)) << k;
    EXPECT_EQ(b->getcurrentindex(), 0);
}

TEST_F(Menu, LongListScrollsWithTheKeysAndTheWheel)
{
    auto m = pulldown(numbered(20));
    for (int i = 0; i < 19; ++i)
        key(*m, KEY_DOWN);
    EXPECT_EQ(m->getcurrentindex(), 19);
    EXPECT_EQ(m->gettoprow(), 5);
    EXPECT_TRUE(key(*m, KEY_DOWN));
    EXPECT_EQ(m->getcurrentindex(), 19);
    EXPECT_EQ(screen->screenrow(16).substr(1, 8), " Item 19");

    // Wheel up a page and down again; at the ends it is consumed and does nothing.
    EXPECT_TRUE(mouse(*m, BUTTON4_PRESSED, 5, 3));
    EXPECT_EQ(m->gettoprow(), 0);
    EXPECT_TRUE(mouse(*m, BUTTON5_PRESSED, 5, 3));
    EXPECT_EQ(m->gettoprow(), 5);
    m->setcurrentindex(19);
    EXPECT_TRUE(mouse(*m, BUTTON5_PRESSED, 5, 3));
    EXPECT_EQ(m->getcurrentindex(), 19);
    EXPECT_FALSE(mouse(*m, BUTTON4_PRESSED, 20, 3)); // below the menu
}

TEST_F(Menu, ClicksSelectRunOrPassByTheirPlace)
{
    auto m = pulldown({"A", "", "B", "C"}, 3, 10);
    struct Case {
        int bstate, row, col;
        bool done;
        int current;
        const char* ran;
    } cases[] = {
        {BUTTON1_CLICKED, 6, 12, true, 2, ""},           // a single click selects
        {BUTTON1_CLICKED, 5, 12, true, 2, ""},           // a separator: nothing changes
        {BUTTON1_CLICKED, 3, 12, true, 2, ""},           // the frame: kept, nothing changes
        {BUTTON1_DOUBLE_CLICKED, 7, 12, true, 3, "C"},   // a double click runs
        {BUTTON1_CLICKED, 10, 12, false, 3, ""},         // below the menu: for others
        {BUTTON1_PRESSED, 4, 12, false, 3, ""},          // not a click
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        m->ran.clear();
        EXPECT_EQ(mouse(*m, c.bstate, c.row, c.col), c.done);
        EXPECT_EQ(m->getcurrentindex(), c.current);
        EXPECT_EQ(m->ran.empty() ? "" : m->ran.front(), std::string(c.ran));
    }
    // Scrolled, the row counts from the first item shown.
    auto l = pulldown(numbered(20));
    for (int i = 0; i < 19; ++i)
        key(*l, KEY_DOWN);
    EXPECT_TRUE(mouse(*l, BUTTON1_CLICKED, 2, 3));
    EXPECT_EQ(l->getcurrentindex(), 5);
}

TEST_F(Menu, BarRunsAClickedItemAtOnceAndOpensItsSubmenuUnderIt)
{
    lineDrawMode = 1;
    auto b = bar();
    // Longest name "Projects" or "Activity" and the two-blank mark; one blank between.
    EXPECT_EQ(b->getitemwidth(), 10);
    EXPECT_EQ(b->getcolspacing(), 1);
    b->refresh();
    EXPECT_EQ(screen->screenrow(0).substr(0, 24), "  File       View       ");
    EXPECT_EQ(b->ran.size(), 0u);

    EXPECT_TRUE(mouse(*b, BUTTON1_CLICKED, 0, 24)); // third item, "Projects"
    EXPECT_EQ(b->getcurrentname(), "Projects");
    ASSERT_EQ(b->ran, (std::vector<std::string>{"Projects"}));
    TestMenu* sub = b->submenu();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->getabsbegcol(), 23);
    EXPECT_EQ(sub->getabsbegrow(), 1);
    EXPECT_EQ(screen->screenrow(2).substr(23, 8), "| Sub 0 ");

    // The open submenu gets events first; a click on another bar item closes it first.
    EXPECT_TRUE(key(*b, KEY_DOWN));
    EXPECT_EQ(sub->getcurrentindex(), 1);
    EXPECT_TRUE(mouse(*b, BUTTON1_CLICKED, 0, 3));
    EXPECT_EQ(b->getcurrentname(), "File");
    ASSERT_NE(b->submenu(), nullptr);
    EXPECT_EQ(b->submenu()->getabsbegcol(), 1);
    // Past the last item the click is kept but runs nothing.
    b->ran.clear();
    EXPECT_TRUE(mouse(*b, BUTTON1_CLICKED, 0, 78));
    EXPECT_TRUE(b->ran.empty());
    // Enter and keypad Enter run the current item.
    for (int k : {kKeyEnter, KEY_ENTER}) {
        b->destroysubmenu();
        b->ran.clear();
        EXPECT_TRUE(key(*b, k));
        EXPECT_EQ(b->ran, (std::vector<std::string>{"File"}));
    }
}

TEST_F(Menu, DestroySubmenuKeepsTheScrollBar)
{
    auto m = pulldown(numbered(3));
    std::vector<std::string> gone;
    for (const char* name : {"one", "two"}) {
        auto v = std::make_unique<RecordingView>(name, nullptr);
        v->destroyed = &gone;
        m->insert(std::move(v));
    }
    m->destroysubmenu();
    EXPECT_EQ(gone, (std::vector<std::string>{"one", "two"}));
    ASSERT_EQ(m->getchildren().size(), 1u);
    EXPECT_EQ(m->getchildren()[0].get(), m->scrollbar);
}

TEST_F(Menu, EmptyMenuShowsAFrameAndBehavesLikeAnyMenu)
{
    lineDrawMode = 1;
    auto m = pulldown({}, 1, 2);
    m->refresh();
    EXPECT_EQ(m->getitemcount(), 0);
    EXPECT_EQ(m->getcurrentindex(), -1);
    EXPECT_EQ(m->getcurrentname(), "");
    EXPECT_FALSE(m->setcurrentindex(0));
    EXPECT_EQ(m->rect.rows, 3);
    EXPECT_EQ(screen->screenrow(1).substr(2, 3), "+--");
    EXPECT_EQ(screen->screenrow(3).substr(2, 3), "+--");
    for (int k : {KEY_LEFT, KEY_RIGHT, kKeyEsc})
        EXPECT_FALSE(key(*m, k));
    for (int k : {KEY_UP, KEY_DOWN, kKeyEnter})
        EXPECT_TRUE(key(*m, k));
    EXPECT_TRUE(mouse(*m, BUTTON1_DOUBLE_CLICKED, 2, 4));
    EXPECT_TRUE(mouse(*m, BUTTON5_PRESSED, 2, 4));
    EXPECT_TRUE(m->ran.empty()); // nothing to run
    EXPECT_EQ(m->menudriver(REQ_DOWN_ITEM), E_NOT_POSTED);

    auto b = std::make_unique<TestMenu>(NRect{0, 0, 1, COLS}, true);
    b->additem(nullptr, nullptr);
    b->refresh();
    EXPECT_TRUE(mouse(*b, BUTTON1_CLICKED, 0, 5));
    EXPECT_FALSE(key(*b, KEY_RIGHT));
    EXPECT_TRUE(b->ran.empty());
}

TEST_F(Menu, ItemsAddedAfterClosingShowWithTheNextClose)
{
    auto m = pulldown({"A", "B"});
    key(*m, KEY_DOWN);
    m->additem("Third item", "x");
    EXPECT_FALSE(m->posted);
    EXPECT_EQ(m->getcurrentindex(), -1);
    m->additem(nullptr, nullptr);
    EXPECT_TRUE(m->posted);
    EXPECT_EQ(m->getitemcount(), 3);
    EXPECT_EQ(m->rect.rows, 5);
    EXPECT_TRUE(m->setcurrentindex(2));
    EXPECT_EQ(m->getcurrentname(), "Third item");
}

TEST_F(Menu, MultibyteAndUnprintableNames)
{
    lineDrawMode = 1;
    const std::string umlauts = "Gr\xc3\xbc\xc3\x9f" "e \xc3\xa4\xc3\xb6"; // 8 characters
    const std::string hostile = "bad\x1b[2Jname\n";
    auto m = pulldown({umlauts, hostile, "ok"});
    m->refresh();
    EXPECT_EQ(m->getitemcount(), 3); // the library would refuse the second name
    EXPECT_EQ(m->getitemwidth(), 1 + 12 + 1 + 4);
    EXPECT_EQ(screen->screenrow(2).substr(0, 15), "| " + umlauts + " ");
    const std::string shown = screen->screenrow(3);
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    EXPECT_NE(shown.find("bad?[2Jname"), std::string::npos);
    key(*m, KEY_DOWN);
    EXPECT_EQ(m->getcurrentname(), hostile); // as given, for the menu that runs it
}

TEST_F(Menu, SetForeAttrRepaintsTheHighlight)
{
    auto b = bar();
    const int green = getcolorpair(7, 2) | A_BOLD;
    b->setbackattr(green);
    b->setforeattr(green);
    b->refresh();
    screen->screenrow(0);
    EXPECT_EQ(PAIR_NUMBER(mvwinch(curscr, 0, 2)), PAIR_NUMBER(green));
    EXPECT_EQ(PAIR_NUMBER(mvwinch(curscr, 0, 79)), PAIR_NUMBER(green));
    b->setforeattr(getcolorpair(0, 7));
    screen->screenrow(0);
    EXPECT_EQ(PAIR_NUMBER(mvwinch(curscr, 0, 2)), PAIR_NUMBER(getcolorpair(0, 7)));
    EXPECT_EQ(b->menudriver(REQ_RIGHT_ITEM), E_OK);
    EXPECT_EQ(b->getcurrentname(), "View");
}

TEST_F(Menu, TinyScreensWithAnOpenMenu)
{
    for (NcursesScreen::Options o : {NcursesScreen::Options{1, 1}, NcursesScreen::Options{10, 20},
                                     NcursesScreen::Options{20, 10}}) {
        SCOPED_TRACE(std::to_string(o.rows) + "x" + std::to_string(o.cols));
        reopen(o);
        TestProgram prog;
        TestMenu* b = prog.insert(bar());
        b->subitems = 12;
        b->action();
        TestMenu* sub = b->submenu();
        ASSERT_NE(sub, nullptr);
        for (int k : {KEY_DOWN, KEY_DOWN, KEY_UP, kKeyEnter, KEY_RIGHT})
            prog.putevent(new NEvent(evKB, k));
        prog.putevent(new NMouseEvent(BUTTON1_DOUBLE_CLICKED, 2, 2));
        prog.putevent(new NMouseEvent(BUTTON5_PRESSED, 2, 2));
        prog.drainqueue();
        prog.refresh();
        screen->screentext();
        if (LINES >= 4) {
            EXPECT_EQ(sub->rect.rows, std::max(1, LINES - 9) + 2); // eight rows kept free
            EXPECT_LE(sub->getabsbegrow() + sub->rect.rows, LINES);
            EXPECT_LE(sub->getabsbegcol() + sub->rect.cols, COLS);
            EXPECT_GE(sub->getcurrentindex(), 1);
        }
    }
}

TEST_F(Menu, TerminalResizeKeepsTheOpenMenuWhole)
{
    lineDrawMode = 1;
    TestProgram prog;
    TestMenu* b = prog.insert(bar());
    b->action();
    TestMenu* sub = b->submenu();
    ASSERT_NE(sub, nullptr);
    key(*sub, KEY_DOWN);
    const NRect before = sub->rect;

    // Room for it, too little room, and the old size again.
    for (auto size : {std::pair<int, int>{12, 30}, {6, 30}, {24, 80}}) {
        SCOPED_TRACE(size.first);
        resizeterm(size.first, size.second);
        // What the application does: the bar across the new width, then everything drawn.
        b->resize(1, COLS);
        prog.setneedrefresh();
        prog.refresh();
        EXPECT_EQ(b->rect.cols, COLS);
        EXPECT_EQ(getmaxx(b->win), COLS);
        EXPECT_EQ(sub->rect.begrow, before.begrow);
        EXPECT_EQ(sub->rect.begcol, before.begcol);
        EXPECT_EQ(sub->getcurrentindex(), 1);
        EXPECT_EQ(getbegy(sub->win), 1);
        EXPECT_EQ(getmaxy(sub->win), sub->rect.rows);
        EXPECT_LE(1 + sub->rect.rows, LINES);
        const std::string text = screen->screentext();
        EXPECT_NE(text.find("| Sub 1   X "), std::string::npos) << text;
        const std::string bottom = "+" + std::string(before.cols - 2, '-') + "+";
        EXPECT_EQ(screen->screenrow(sub->rect.rows).substr(1, bottom.size()), bottom);
        EXPECT_EQ(sub->rect.rows, size.first == 6 ? 5 : before.rows);
    }
    EXPECT_EQ(sub->rect.rows, before.rows); // the old size once there is room again
    EXPECT_EQ(sub->rect.cols, before.cols);
}

TEST_F(Menu, TeardownFreesNestedMenus)
{
    // Run under the address sanitizer, this finds items, windows or menus left behind.
    for (int i = 0; i < 3; ++i) {
        TestProgram prog;
        TestMenu* b = prog.insert(bar());
        b->action();
        TestMenu* sub = b->submenu();
        ASSERT_NE(sub, nullptr);
        sub->insert(pulldown(numbered(30), 2, 3));
        sub->additem("late", "x"); // left open: unposted, items still owned
        auto lone = pulldown({"x", "", "y"});
        lone->additem("z", nullptr);
    }
}
