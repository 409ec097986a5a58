#include "nscrollbar.h"

#include <algorithm>
#include <cmath>

#include "ndraw.h"
#include "ncolorpair.h"

void NScrollBar::setpos(int newvmin, int newvmax, int newvstart, int newvend)
{
    visible = newvstart > newvmin || newvend < newvmax;
    if (newvmin == vmin && newvmax == vmax && newvstart == vstart && newvend == vend)
        return;
    vmin = newvmin;
    vmax = newvmax;
    vstart = newvstart;
    vend = newvend;
    refresh();
}

void NScrollBar::refresh()
{
    wbkgd(win, static_cast<chtype>(bgattr));
    wattrset(win, getcolorpair(7, getbgcolor()));

    chtype start = startchar;
    chtype end = endchar;
    chtype body = bodychar;
    if (lineDrawMode != 0) {
        start = '+' | (startchar & A_BOLD);
        end = '+' | (endchar & A_BOLD);
        body = '|' | (bodychar & A_BOLD);
    }
    if (visible)
        body = lineDrawMode != 0 ? 'X' : ACS_CKBOARD;

    int first = startchar != 0 ? 1 : 0;
    int last = endchar != 0 ? rect.rows - 2 : rect.rows - 1;
    if (startchar != 0)
        mvwaddch(win, 0, 0, start);
    if (endchar != 0 && rect.rows > 1)
        mvwaddch(win, rect.rows - 1, 0, end);
    if (last >= first) {
        wmove(win, first, 0);
        wvline(win, body, last - first + 1);
    }

    if (visible && vend > vstart && vmax > vmin && last >= first) {
        int track = last - first;
        double scale = track / (static_cast<double>(vmax) - vmin);
        // Clamped in double first: callers may pass a visible part outside the list.
        double rawsize = std::round((static_cast<double>(vend) - vstart) * scale);
        int size = static_cast<int>(std::clamp(rawsize, 1.0, track + 1.0));
        double rawpos = std::round((static_cast<double>(vstart) - vmin) * scale) + first;
        int pos = static_cast<int>(std::trunc(std::clamp(rawpos, double(first), double(last))));
        // The thumb leaves the top or bottom row only when the view really is there.
        if (pos == first && pos < last && vstart > vmin)
            ++pos;
        if (pos + size > last && vend < vmax && pos > first)
            --pos;
        int runend = vend >= vmax ? last : std::min(last, pos + size - 1);
        wattrset(win, getcolorpair(6, 7));
        for (int r = pos; r <= runend; ++r)
            mvwaddch(win, r, 0, ' ');
    }
    NView::refresh();
}
