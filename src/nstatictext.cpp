#include "nstatictext.h"

#include "ncolorpair.h"

NStaticText::NStaticText(const NRect& rect)
    : NView(rect), bgattr(getcolorpair(7, getbgcolor())), content(std::make_unique<NAttrString>())
{
    content->append(0, "%s", "");
}

NStaticText::~NStaticText() = default;

void NStaticText::appendstring(int attr, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    content->vappend(attr, fmt, ap);
    va_end(ap);
    needrefresh = true;
    refresh();
}

void NStaticText::settext(int attr, const char* fmt, ...)
{
    auto fresh = std::make_unique<NAttrString>();
    va_list ap;
    va_start(ap, fmt);
    fresh->vappend(attr, fmt, ap);
    va_end(ap);
    content = std::move(fresh);
    needrefresh = true;
    refresh();
}

void NStaticText::refresh()
{
    wbkgd(win, static_cast<chtype>(bgattr));
    werase(win);
    wmove(win, 0, 0);
    content->draw(win);
    wbkgdset(win, static_cast<chtype>(bgattr));
    wclrtoeol(win);
    NView::refresh();
}
