#include "nview.h"

#include <algorithm>
#include <typeinfo>

#include "ncolorpair.h"

NView::NView(const NRect& r)
    : rect(r)
{
    // newwin takes 0 as "up to the screen edge" and refuses negative places: keep the
    // window small and on the screen; move() puts it where it belongs.
    win.reset(newwin(std::max(r.rows, 1), std::max(r.cols, 1), std::max(r.begrow, 0),
                     std::max(r.begcol, 0)));
    if (win)
        pan.reset(new_panel(win));
    scrollok(win, false);
    wbkgdset(win, static_cast<chtype>(getcolorpair(7, getbgcolor())));
    werase(win);
}

NView::~NView() = default;

void NView::resize(int rows, int cols)
{
    rect.rows = rows;
    rect.cols = cols;
    // ncurses refuses a place off the screen and moves windows when the screen shrinks:
    // take the view's own place again now that the screen may have room for it.
    fitwindow();
    needrefresh = true;
}

void NView::move(int begrow, int begcol)
{
    rect.begrow = begrow;
    rect.begcol = begcol;
    // Resizing the terminal lets ncurses cut windows down to the screen, or stretch those
    // as tall or wide as the old screen to the new one: take the view's own size back.
    fitwindow();
}

void NView::fitwindow()
{
    // A window that does not fit on the screen cannot be moved at all, and a window
    // derived from it that starts below the last row makes every later resizeterm
    // fail; one left beyond the screen's edge (a terminal shrunk under it) is drawn
    // into memory beside the screen. So a view always stands on the screen: cut to the
    // room there is, and, when its own place is off the screen, at the nearest place
    // on it (such a view only shows on a screen too small for the layout anyway). It
    // takes its own place and size back once the screen has room for them.
    const int row = std::clamp(getabsbegrow(), 0, std::max(LINES - 1, 0));
    const int col = std::clamp(getabsbegcol(), 0, std::max(COLS - 1, 0));
    const int rows = std::min(std::max(rect.rows, 1), std::max(LINES - row, 1));
    const int cols = std::min(std::max(rect.cols, 1), std::max(COLS - col, 1));
    if (win && (getmaxy(win) != rows || getmaxx(win) != cols)) {
        wresize(win, rows, cols);
        needrefresh = true;
    }
    if (pan)
        move_panel(pan, row, col);
}

void NView::refresh()
{
    if (!needrefresh)
        return;
    update_panels();
    needrefresh = false;
}

void NView::setneedrefresh()
{
    needrefresh = true;
}

void NView::eventhandle(NEvent*)
{
}

void NView::putevent(NEvent* ev)
{
    if (owner)
        owner->putevent(ev);
    else
        delete ev; // nobody to queue it: the event ends here
}

const char* NView::getid()
{
    return typeid(*this).name();
}

bool NView::ismodal()
{
    return modalflag;
}

void NView::setowner(NView* newowner)
{
    owner = newowner;
    move(rect.begrow, rect.begcol);
}

int NView::getabsbegrow() const
{
    int row = 0;
    for (const NView* v = this; v; v = v->owner)
        row += v->rect.begrow;
    return row;
}

int NView::getabsbegcol() const
{
    int col = 0;
    for (const NView* v = this; v; v = v->owner)
        col += v->rect.begcol;
    return col;
}

bool NView::isinside(int row, int col) const
{
    int absrow = getabsbegrow();
    int abscol = getabsbegcol();
    return row >= absrow && row < absrow + rect.rows && col >= abscol && col < abscol + rect.cols;
}
