// Colour attributes: ncurses colour pairs handed out on first use.
#ifndef VARNIX_NCOLORPAIR_H
#define VARNIX_NCOLORPAIR_H

// Attribute (COLOR_PAIR value) for foreground fg on background bg; -1 is the terminal's
// default colour. Returns 0 (the default pair) once the terminal's pairs are used up.
int getcolorpair(int fg, int bg);
// Background of ordinary text: -1 with a transparent background, else black.
int getbgcolor();
// Forgets every pair handed out; needed when a new screen is started in the same process.
void resetcolorpairs();

#endif
