// NHLine and NVLine: one-row and one-column views that draw a line.
#ifndef VARNIX_NLINE_H
#define VARNIX_NLINE_H

#include "nview.h"

class NHLine : public NView {
public:
    explicit NHLine(const NRect& rect) : NView(rect) {}
    // Draws every time, so that a change of the line-draw mode shows at once.
    void refresh() override;

    int bgattr = 0;
};

class NVLine : public NView {
public:
    explicit NVLine(const NRect& rect) : NView(rect) {}
    void refresh() override;

    int bgattr = 0;
};

#endif
