#include "nmbutton.h"

#include <algorithm>
#include <cstdarg>

#include "ncolorpair.h"
#include "textutil.h"

NMButton::NMButton(const char* label, NEvent* ev, ...)
    : NStaticText(NRect{LINES / 2 - 1, COLS / 2 - 10, 3, 20}), event(ev)
{
    setlabel(label);
    va_list ap;
    va_start(ap, ev);
    for (int key = va_arg(ap, int); key != 0; key = va_arg(ap, int))
        keys.push_back(key);
    va_end(ap);
}

NMButton::NMButton(const char* label, std::unique_ptr<NEvent> ev, std::initializer_list<int> keylist)
    : NStaticText(NRect{LINES / 2 - 1, COLS / 2 - 10, 3, 20}), event(std::move(ev))
{
    setlabel(label);
    for (int key : keylist) {
        if (key != 0)
            keys.push_back(key);
    }
}

NMButton::~NMButton() = default;

void NMButton::setlabel(const char* label)
{
    if (!label)
        label = "";
    int face = getcolorpair(7, 6);
    appendstring(face, "%s", " ");
    appendstring(face | A_BOLD, "%s", label);
    appendstring(face, "%s", " ");
    resize(1, mbstrlen(label) + 2);
}

void NMButton::fire(NEvent* ev)
{
    if (!event)
        return; // fired already: a second press posts nothing
    ev->done = true;
    putevent(event.release());
}

void NMButton::eventhandle(NEvent* ev)
{
    if (!ev || ev->done)
        return;
    if (ev->type == evMOUSE) {
        auto* mev = dynamic_cast<NMouseEvent*>(ev);
        if (mev && mev->isclick() && isinside(mev->row, mev->col))
            fire(ev);
    } else if (ev->type == evKB) {
        if (std::find(keys.begin(), keys.end(), ev->keycode) != keys.end())
            fire(ev);
    }
}
