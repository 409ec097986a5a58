#include "ndialog.h"

#include <algorithm>

#include "ncolorpair.h"
#include "ndraw.h"
#include "nscrollbar.h"
#include "nscrollview.h"

int dialogextent(int want, int least, int screen)
{
    return std::max(1, std::min(std::max(want, least), screen));
}

NDialog::NDialog(const NRect& rect, const std::string& t)
    : NGroup(rect), title(t), frameattr(getcolorpair(7, getbgcolor()) | A_BOLD)
{
    modalflag = true;
}

void NDialog::settitle(const std::string& t)
{
    title = t;
    needrefresh = true;
}

void NDialog::centre()
{
    move(std::max(0, LINES / 2 - rect.rows / 2), std::max(0, COLS / 2 - rect.cols / 2));
}

void NDialog::drawframe()
{
    wattrset(win, frameattr);
    ::drawframe(win, title, titlecol);
}

void NDialog::refresh()
{
    drawframe();
    needrefresh = true; // the frame was drawn: the panels must take it
    NGroup::refresh();
}

std::unique_ptr<NEvent> NDialog::closeevent()
{
    return std::make_unique<NEvent>(evKB, kKeyEsc);
}

void NDialog::eventhandle(NEvent* ev)
{
    NGroup::eventhandle(ev);
    if (!ev || ev->done)
        return;
    switch (ev->type) {
    case evMOUSE: {
        auto* mev = dynamic_cast<NMouseEvent*>(ev);
        if (!mev)
            break;
        if (!clickpasses && isinside(mev->row, mev->col))
            ev->done = true;
        if (mev->isclick()) {
            putevent(closeevent().release());
            ev->done = !clickpasses;
        }
        break;
    }
    case evKB:
        if (std::find(passkeys.begin(), passkeys.end(), ev->keycode) != passkeys.end())
            break;
        ev->done = true;
        if (ev->keycode == kKeyEsc && escpasses)
            ev->done = false;
        else if (ev->keycode == kKeyEsc ||
                 std::find(closekeys.begin(), closekeys.end(), ev->keycode) != closekeys.end())
            putevent(closeevent().release());
        else
            handlekey(ev->keycode);
        if (ev->done)
            refresh();
        break;
    case evTIMER:
        ontick();
        refresh();
        break;
    default:
        break;
    }
}

void NDialog::borderscrollbar(NScrollView* view, chtype bodychar)
{
    borderbar = insert(std::make_unique<NScrollBar>(
        NRect{1, std::max(rect.cols - 1, 0), std::max(rect.rows - 2, 1), 1}, 0, 0, bodychar));
    view->setscrollbar(borderbar);
}

void NDialog::refit(int rows, int cols)
{
    NGroup::move(0, 0);
    resize(rows, cols);
    werase(win);
    if (borderbar) {
        borderbar->resize(std::max(rows - 2, 1), 1);
        borderbar->move(1, std::max(cols - 1, 0));
    }
}
