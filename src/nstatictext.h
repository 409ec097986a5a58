// NStaticText: a view that shows one attributed string; line ends start new rows.
#ifndef VARNIX_NSTATICTEXT_H
#define VARNIX_NSTATICTEXT_H

#include <memory>

#include "nattrstring.h"
#include "nview.h"

class NStaticText : public NView {
public:
    explicit NStaticText(const NRect& rect);
    ~NStaticText() override;

    // Draws every time it is called.
    void refresh() override;

    void appendstring(int attr, const char* fmt, ...) NATTR_PRINTF(3, 4);
    void settext(int attr, const char* fmt, ...) NATTR_PRINTF(3, 4);
    const NAttrString& getcontent() const { return *content; }

    int bgattr; // window background and the rest of the last row

protected:
    std::unique_ptr<NAttrString> content; // never null
};

#endif
