// NMessageBox: a centred, framed box with a wrapped text and a row of buttons. It keeps
// every key but Esc, and every mouse event, from the windows below it.
#ifndef VARNIX_NMESSAGEBOX_H
#define VARNIX_NMESSAGEBOX_H

#include "ngroup.h"
#include "nmbutton.h"
#include "nstatictext.h"

class NMessageBox : public NGroup {
public:
    // Width of the box and of the text inside it.
    static constexpr int kBoxCols = 40;
    static constexpr int kTextCols = kBoxCols - 4;

    explicit NMessageBox(const char* message);

    // Draws the frame again, so that a change of the line-draw mode shows.
    void refresh() override;
    void eventhandle(NEvent* ev) override;

    // The box takes ownership of the button and lays out the button row again.
    void addbutton(NMButton* b);
    NMButton* addbutton(std::unique_ptr<NMButton> b);

    // Rows the text takes at the given width; an invalid byte counts as one character.
    static int countrows(const char* message, int width);

    NStaticText* text = nullptr; // the first child
};

#endif
