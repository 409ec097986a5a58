#include "nline.h"

#include "ndraw.h"
#include "ncolorpair.h"

void NHLine::refresh()
{
    if (win) {
        wbkgd(win, static_cast<chtype>(bgattr));
        wattrset(win, getcolorpair(7, getbgcolor()));
        wmove(win, 0, 0);
        whline(win, lineDrawMode == 1 ? '-' : ACS_HLINE, rect.cols);
    }
    NView::refresh();
}

void NVLine::refresh()
{
    if (win) {
        wbkgd(win, static_cast<chtype>(bgattr));
        wattrset(win, getcolorpair(7, getbgcolor()));
        wmove(win, 0, 0);
        wvline(win, lineDrawMode == 1 ? '|' : ACS_VLINE, rect.rows);
    }
    NView::refresh();
}
