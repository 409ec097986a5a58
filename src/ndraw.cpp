#include "ndraw.h"

#include "textutil.h"

int lineDrawMode = 0;
int transparentBackground = 0;

void drawframe(WINDOW* win, const std::string& title, int titlecol)
{
    if (!win)
        return;
    if (lineDrawMode == 1)
        wborder(win, '|', '|', '-', '-', '+', '+', '+', '+');
    else
        box(win, ACS_VLINE, ACS_HLINE);
    if (title.empty())
        return;
    std::string shown = " " + title + " ";
    const int cols = getmaxx(win);
    int col = titlecol >= 0 ? titlecol : cols / 2 - mbstrlen(shown) / 2;
    if (col < 0)
        col = 0;
    if (col >= cols)
        return;
    // A title wider than the window would wrap into the window's second row.
    if (mbstrlen(shown) > cols - col)
        mbstrtrunc(shown, cols - col);
    mvwaddstr(win, 0, col, shown.c_str());
}
