// The toolkit's two process-wide drawing settings and the one routine that frames a
// window in the line characters they choose.
#ifndef VARNIX_NDRAW_H
#define VARNIX_NDRAW_H

#include <string>

#include <curses.h>

// 1: frames and lines in ASCII ('|', '-', '+'); otherwise the terminal's line characters.
extern int lineDrawMode;
// 1: ordinary text on the terminal's own background colour (getbgcolor() gives -1).
extern int transparentBackground;

// Frames the whole window. A non-empty title stands in the top border with one blank on
// each side, centred (the blanks count), or from column `titlecol` when that is given.
// The window's current attribute draws both.
void drawframe(WINDOW* win, const std::string& title = std::string(), int titlecol = -1);

#endif
