#include "nscrollview.h"

#include <algorithm>

#include "nscrollbar.h"

NScrollView::~NScrollView() = default;

int NScrollView::maxstartline() const
{
    return std::max(0, getstringcount() - rect.rows);
}

void NScrollView::addstring(NAttrString* s)
{
    addstring(std::unique_ptr<NAttrString>(s));
}

void NScrollView::addstring(std::unique_ptr<NAttrString> s)
{
    if (!s)
        return;
    content.push_back(std::move(s));
    needrefresh = true;
}

void NScrollView::addstring(int attr, const char* fmt, ...)
{
    auto s = std::make_unique<NAttrString>();
    va_list ap;
    va_start(ap, fmt);
    s->vappend(attr, fmt, ap);
    va_end(ap);
    addstring(std::move(s));
}

void NScrollView::clearcontent()
{
    content.clear();
    startline = 0;
    needrefresh = true;
}

const NAttrString* NScrollView::getstring(int i) const
{
    if (i < 0 || i >= getstringcount())
        return nullptr;
    return content[static_cast<std::size_t>(i)].get();
}

int NScrollView::getmaxcontentwidth() const
{
    int width = 0;
    for (const auto& line : content)
        width = std::max(width, line->getlen());
    return width;
}

void NScrollView::setautoscroll(bool on)
{
    autoscroll = on;
    if (on) {
        int n = maxstartline();
        if (n != startline) {
            startline = n;
            needrefresh = true;
        }
    }
}

void NScrollView::scrollto(int delta)
{
    if (getstringcount() <= rect.rows)
        return;
    // Widened so that a huge delta cannot overflow.
    long long n = static_cast<long long>(startline) + delta;
    n = std::clamp<long long>(n, 0, maxstartline());
    if (n != startline) {
        startline = static_cast<int>(n);
        needrefresh = true;
    }
}

void NScrollView::setstartline(int n)
{
    if (n < 0)
        n = 0;
    startline = getstringcount() - n >= rect.rows ? n : maxstartline();
}

void NScrollView::resize(int rows, int cols)
{
    NView::resize(rows, cols);
    if (autoscroll) {
        int n = maxstartline();
        if (n != startline) {
            startline = n;
            needrefresh = true;
        }
    }
}

void NScrollView::refresh()
{
    if (!needrefresh)
        return;
    drawcontent();
    NView::refresh();
}

void NScrollView::drawline(int row, const NAttrString& line)
{
    wmove(win, row, 0);
    line.draw(win);
}

void NScrollView::drawcontent()
{
    for (int r = 0; r < rect.rows; ++r) {
        int i = startline + r;
        if (i < getstringcount())
            drawline(r, *content[static_cast<std::size_t>(i)]);
        else
            wmove(win, r, 0);
        wclrtoeol(win);
    }
    if (scrollbar)
        scrollbar->setpos(0, getstringcount(), startline, startline + rect.rows);
}

void NScrollView::eventhandle(NEvent* ev)
{
    if (!ev || ev->done || ev->type != evMOUSE)
        return;
    auto* mev = dynamic_cast<NMouseEvent*>(ev);
    if (!mev || !isinside(mev->row, mev->col))
        return;
    int count = getstringcount();
    int half = rect.rows / 2;
    if (mev->keycode & BUTTON4_PRESSED) {
        if (count > rect.rows) {
            int n = std::clamp(startline - half, 0, maxstartline());
            if (n != startline) {
                startline = n;
                needrefresh = true;
            }
        }
        autoscroll = false;
        ev->done = true;
    } else if ((mev->keycode & BUTTON5_PRESSED) && !autoscroll) {
        bool moved = false;
        if (count > rect.rows) {
            int n = std::clamp(startline + half, 0, maxstartline());
            if (n != startline) {
                startline = n;
                needrefresh = true;
                moved = true;
            }
        }
        if (!moved)
            setautoscroll(true);
        ev->done = true;
    }
    if (ev->done)
        refresh();
}
