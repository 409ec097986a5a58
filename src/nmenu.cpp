#include "nmenu.h"

#include <algorithm>
#include <memory>

#include "ncolorpair.h"
#include "ndraw.h"
#include "textutil.h"

namespace {

// Rows the screen keeps free below a long pull-down.
constexpr int kKeepRows = 8;
// A pull-down narrower than this (frame, mark, one character, scroll bar) is of no use:
// below it the menu keeps its width and runs off the screen's right edge.
constexpr int kMinCols = 4;

} // namespace

int freepostedmenu(MENU* m)
{
    unpost_menu(m);
    return free_menu(m);
}

NMenu::ItemArray::~ItemArray()
{
    for (ITEM* item : items) {
        if (item)
            free_item(item);
    }
}

NMenu::NMenu(const NRect& r, bool horizontal)
    : NGroup(r), ishorizontal(horizontal)
{
    menu.reset(new_menu(nullptr));
    backattr = getcolorpair(7, getbgcolor()) | A_BOLD;
    foreattr = getcolorpair(0, 7);
    set_menu_back(menu, static_cast<chtype>(backattr));
    wattrset(win, backattr);
    wbkgdset(win, static_cast<chtype>(backattr));
    set_menu_fore(menu, static_cast<chtype>(foreattr));
    set_menu_grey(menu, static_cast<chtype>(getcolorpair(1, getbgcolor())));
    if (win)
        set_menu_win(menu, win);
    wantcols = rect.cols;
    if (!ishorizontal)
        scrollbar = insert(std::make_unique<NScrollBar>(NRect{1, rect.cols - 1, rect.rows, 1},
                                                        0, 0, ACS_VLINE | A_BOLD));
}

// The members go in the order the library needs: the menu is taken off the screen and
// freed (which lets go of the items), then its window, then the items and their texts.
NMenu::~NMenu() = default;

void NMenu::additem(const char* name, const char* comment)
{
    if (!menu)
        return;
    if (!name) {
        closelist();
        return;
    }
    if (closed) {
        // The menu holds the array, which may move as it grows.
        unpost_menu(menu);
        posted = false;
        set_menu_items(menu, nullptr);
        mitems.items.pop_back();
        closed = false;
    }
    const bool separator = *name == '\0';
    // The library refuses names it cannot print, and would print control characters of a
    // description as they are: show them filtered, and keep the name as given for callers.
    itemnames.push_back(separator ? std::string(" ") : displaytext(name));
    itemcomments.push_back(separator ? std::string(" ") : displaytext(comment ? comment : ""));
    ITEM* item = new_item(itemnames.back().c_str(), itemcomments.back().c_str());
    if (!item) {
        itemnames.pop_back();
        itemcomments.pop_back();
        return;
    }
    if (separator)
        item_opts_off(item, O_SELECTABLE);
    givennames.emplace_back(name);
    mitems.items.push_back(item);
}

void NMenu::closelist()
{
    if (!closed) {
        mitems.items.push_back(nullptr);
        closed = true;
    }
    unpost_menu(menu);
    posted = false;
    const int count = getitemcount();
    // The library refuses an empty list: such a menu shows its frame and nothing in it.
    if (count > 0)
        set_menu_items(menu, mitems.items.data());
    set_menu_mark(menu, " ");
    if (ishorizontal) {
        menu_opts_off(menu, O_ROWMAJOR | O_SHOWDESC);
        set_menu_mark(menu, "  ");
    } else {
        int r = count;
        if (r >= 3 && rect.begrow + r > LINES - kKeepRows)
            r = LINES - rect.begrow - kKeepRows;
        // However low the menu sits, it shows one item row and scrolls.
        wantrows = std::max(r, 1);
        if (count > 0) {
            set_menu_format(menu, wantrows, 1);
            int h = 0, w = 0;
            scale_menu(menu, &h, &w);
            wantcols = w + 3;
        }
    }
    menu_opts_off(menu, O_SHOWMATCH);
    layout();
}

int NMenu::fitrows() const
{
    // Not below the screen's bottom when that can be helped.
    return std::max(1, std::min(wantrows, LINES - getabsbegrow() - 2));
}

int NMenu::fitcols() const
{
    const int room = COLS - getabsbegcol();
    return wantcols > room && room >= kMinCols ? room : wantcols;
}

bool NMenu::needslayout() const
{
    if (!closed)
        return false;
    if (!ishorizontal && (rect.rows != fitrows() + 2 || rect.cols != fitcols()))
        return true;
    // A smaller terminal cuts windows down; the item window gets its size back here.
    const int subrows = ishorizontal ? rect.rows : rect.rows - 2;
    const int subcols = ishorizontal ? rect.cols : rect.cols - 2;
    return !subwin || getmaxy(subwin) != std::max(subrows, 1) ||
           getmaxx(subwin) != std::max(subcols, 1);
}

void NMenu::layout()
{
    const int count = getitemcount();
    const int current = getcurrentindex();
    const int top = gettoprow();
    unpost_menu(menu);
    posted = false;
    set_menu_sub(menu, nullptr);
    subwin.reset();

    int rows = std::max(rect.rows, 1);
    int cols = std::max(rect.cols, 1);
    if (ishorizontal) {
        if (count > 0)
            set_menu_format(menu, 1, count);
        subwin.reset(derwin(win, rows, cols, 0, 0));
    } else {
        const int r = fitrows();
        if (count > 0)
            set_menu_format(menu, r, 1);
        NView::resize(r + 2, fitcols());
        rows = rect.rows;
        cols = std::max(rect.cols, 3);
        subwin.reset(derwin(win, rows - 2, cols - 2, 1, 1));
        werase(win);
        if (scrollbar) {
            scrollbar->resize(rows - 2, 1);
            scrollbar->move(1, rect.cols - 1);
        }
    }
    // Without its own windows the library would draw on the standard screen.
    if (count > 0 && win && subwin) {
        set_menu_win(menu, win);
        set_menu_sub(menu, subwin);
        posted = post_menu(menu) == E_OK;
        if (posted) {
            int frows = 1, fcols = 1;
            menu_format(menu, &frows, &fcols);
            const int lines = ishorizontal ? 1 : count;
            set_top_row(menu, std::clamp(top, 0, std::max(0, lines - frows)));
            if (current >= 0)
                set_current_item(menu, itemat(current));
        }
    }
    if (!ishorizontal)
        drawframe();
    updatescrollbar();
    needrefresh = true;
}

void NMenu::drawframe()
{
    wattrset(win, backattr);
    ::drawframe(win);
}

void NMenu::updatescrollbar()
{
    if (!scrollbar)
        return;
    const int top = gettoprow();
    scrollbar->setpos(0, getitemcount(), top, top + rect.rows - 2);
}

void NMenu::resize(int rows, int cols)
{
    if (!closed) {
        NView::resize(rows, cols);
        return;
    }
    if (ishorizontal) {
        NView::resize(rows, cols);
    } else {
        wantrows = std::max(rows - 2, 1);
        wantcols = cols;
    }
    layout();
    // The open submenus take their own size and place back on the new screen.
    for (auto& child : children) {
        if (child.get() != scrollbar)
            child->move(child->rect.begrow, child->rect.begcol);
    }
}

void NMenu::move(int begrow, int begcol)
{
    NGroup::move(begrow, begcol);
    if (needslayout())
        layout();
}

void NMenu::refresh()
{
    if (rect.rows == 1) {
        // The bar's colour runs on after the last item to the end of the line.
        int h = 0, w = 0;
        if (getitemcount() == 0 || scale_menu(menu, &h, &w) != E_OK)
            w = 0;
        wattrset(win, backattr);
        for (int c = w; c < rect.cols; ++c)
            mvwaddch(win, 0, c, ' ');
    }
    if (!ishorizontal && closed)
        drawframe(); // again: the line-draw mode may have changed
    if (scrollbar) {
        updatescrollbar();
        scrollbar->refresh();
    }
    needrefresh = true;
    NGroup::refresh();
}

bool NMenu::onenter()
{
    return false;
}

void NMenu::destroysubmenu()
{
    for (;;) {
        auto it = std::find_if(
            children.begin(), children.end(),
            [this](const std::unique_ptr<NView>& c) { return c.get() != scrollbar; });
        if (it == children.end())
            break;
        std::unique_ptr<NView> doomed = std::move(*it);
        children.erase(it);
        // deleted here, after it left the list
    }
}

bool NMenu::action()
{
    return false;
}

ITEM* NMenu::itemat(int index) const
{
    if (index < 0 || index >= getitemcount())
        return nullptr;
    return mitems.items[static_cast<std::size_t>(index)];
}

int NMenu::getitemcount() const
{
    const auto n = static_cast<int>(mitems.items.size());
    return closed ? n - 1 : n;
}

int NMenu::getcurrentindex() const
{
    if (!closed || getitemcount() == 0)
        return -1;
    ITEM* item = current_item(menu);
    return item ? item_index(item) : -1;
}

std::string NMenu::getcurrentname() const
{
    const int i = getcurrentindex();
    return i >= 0 ? givennames[static_cast<std::size_t>(i)] : std::string();
}

bool NMenu::setcurrentindex(int index)
{
    ITEM* item = closed ? itemat(index) : nullptr;
    if (!item || !(item_opts(item) & O_SELECTABLE))
        return false;
    return set_current_item(menu, item) == E_OK;
}

int NMenu::gettoprow() const
{
    return posted ? top_row(menu) : 0;
}

int NMenu::getitemwidth() const
{
    // The library computes it but has no call that gives it.
    return menu ? menu->itemlen : 0;
}

int NMenu::getcolspacing() const
{
    int desc = 0, rows = 0, cols = 0;
    menu_spacing(menu, &desc, &rows, &cols);
    return cols;
}

int NMenu::menudriver(int request)
{
    return posted ? menu_driver(menu, request) : E_NOT_POSTED;
}

void NMenu::setforeattr(int attr)
{
    foreattr = attr;
    set_menu_fore(menu, static_cast<chtype>(attr));
    if (posted)
        layout(); // draws the items again in the new colours
}

void NMenu::setbackattr(int attr)
{
    backattr = attr;
    set_menu_back(menu, static_cast<chtype>(attr));
    wattrset(win, attr);
    wbkgdset(win, static_cast<chtype>(attr));
    if (posted)
        layout();
}

void NMenu::step(int dir)
{
    const int count = getitemcount();
    const int from = getcurrentindex();
    int to = from + dir;
    while (to >= 0 && to < count && !(item_opts(itemat(to)) & O_SELECTABLE))
        to += dir;
    if (from < 0 || to < 0 || to >= count)
        return; // no wrap, and no landing on a trailing separator
    const int request = dir > 0 ? REQ_DOWN_ITEM : REQ_UP_ITEM;
    for (int i = from; i != to; i += dir)
        menu_driver(menu, request);
}

void NMenu::mouseevent(NMouseEvent* mev)
{
    if (!isinside(mev->row, mev->col))
        return;
    const int count = getitemcount();
    if (!ishorizontal && (mev->keycode & (BUTTON4_PRESSED | BUTTON5_PRESSED))) {
        const int current = getcurrentindex();
        const bool up = (mev->keycode & BUTTON4_PRESSED) != 0;
        if (up && current > 0) {
            menudriver(REQ_SCR_UPAGE);
            if (itemat(getcurrentindex()) && !(item_opts(current_item(menu)) & O_SELECTABLE))
                step(-1);
        } else if (!up && current >= 0 && current + 1 < count) {
            menudriver(REQ_SCR_DPAGE);
            if (itemat(getcurrentindex()) && !(item_opts(current_item(menu)) & O_SELECTABLE))
                step(1);
        }
        mev->done = true;
        return;
    }
    if (!mev->isclick())
        return;
    // A click inside a menu never reaches the windows below it, also on the frame.
    mev->done = true;
    int index = -1;
    if (ishorizontal) {
        const int span = getitemwidth() + getcolspacing();
        if (span > 0)
            index = (mev->col - getabsbegcol()) / span;
    } else {
        const int row = mev->row - getabsbegrow() - 1; // below the frame's top line
        if (row >= 0 && row < rect.rows - 2)
            index = row + gettoprow();
    }
    ITEM* item = itemat(index);
    if (!item || !(item_opts(item) & O_SELECTABLE))
        return;
    set_current_item(menu, item);
    destroysubmenu();
    // A bar item runs at once; a pull-down item on a double click.
    if (ishorizontal || (mev->keycode & BUTTON1_DOUBLE_CLICKED))
        action();
}

void NMenu::keyevent(NEvent* ev)
{
    ev->done = true;
    switch (ev->keycode) {
    case kKeyEnter:
    case KEY_ENTER:
        if (getcurrentindex() >= 0) // nothing to run in an empty menu
            action();
        break;
    case KEY_DOWN:
    case KEY_UP:
        if (ishorizontal)
            ev->done = false; // the bar's owner opens the submenu
        else
            step(ev->keycode == KEY_DOWN ? 1 : -1);
        break;
    default:
        ev->done = false; // for the owning menu or the application
        break;
    }
}

void NMenu::eventhandle(NEvent* ev)
{
    if (!ev || ev->done)
        return;
    // Open submenus get the event before their owner.
    NGroup::eventhandle(ev);
    if (ev->done)
        return;
    if (ev->type == evMOUSE) {
        if (auto* mev = dynamic_cast<NMouseEvent*>(ev))
            mouseevent(mev);
    } else if (ev->type == evKB) {
        keyevent(ev);
    }
    if (ev->done)
        refresh();
}
