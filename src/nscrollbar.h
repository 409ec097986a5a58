// NScrollBar: a one-column view that shows which part of a list is visible.
#ifndef VARNIX_NSCROLLBAR_H
#define VARNIX_NSCROLLBAR_H

#include "nview.h"

class NScrollBar : public NView {
public:
    // startchar/endchar: marks for the first and last row, 0 for none; bodychar: the track.
    NScrollBar(const NRect& rect, chtype startchar, chtype endchar, chtype bodychar)
        : NView(rect), startchar(startchar), endchar(endchar), bodychar(bodychar)
    {
    }

    void refresh() override;
    // The list spans [vmin, vmax); [vstart, vend) of it is visible.
    void setpos(int vmin, int vmax, int vstart, int vend);

    int bgattr = 0;
    chtype startchar;
    chtype endchar;
    chtype bodychar;

protected:
    int vmin = 0;
    int vmax = 0;
    int vstart = 0;
    int vend = 0;
    bool visible = true; // the list does not fit, so a thumb is shown

public:
    bool isthumbvisible() const { return visible; }
};

#endif
