#include "nmessagebox.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <cwchar>

#include "ndraw.h"
#include "ncolorpair.h"

int NMessageBox::countrows(const char* message, int width)
{
    if (!message)
        return 0;
    int rows = 0;
    int c = width;
    std::size_t len = std::strlen(message);
    std::size_t pos = 0;
    while (pos < len) {
        std::mbstate_t st{};
        std::size_t k = std::mbrlen(message + pos, len - pos, &st);
        // A byte that starts no character still moves the walk on, so the count ends.
        if (k == static_cast<std::size_t>(-1) || k == static_cast<std::size_t>(-2) || k == 0)
            k = 1;
        bool lineend = message[pos] == '\n';
        if (lineend || c + 1 >= width) {
            ++rows;
            c = lineend ? 0 : 1;
        } else {
            ++c;
        }
        pos += k;
    }
    return rows;
}

NMessageBox::NMessageBox(const char* message)
    : NGroup(NRect{1, 1, 3, kBoxCols})
{
    if (!message)
        message = "";
    // Rows for the text as it will be shown (long texts are cut), and never so many
    // that the buttons fall off the screen.
    const std::string shown = NAttrString(0, "%s", message).fragment(0).text;
    int rows = std::min(countrows(shown.c_str(), kTextCols), std::max(1, LINES - 6));
    int textattr = getcolorpair(7, getbgcolor());
    auto t = std::make_unique<NStaticText>(NRect{2, 2, rows, kTextCols});
    t->bgattr = textattr;
    text = insert(std::move(t));
    text->appendstring(textattr | A_BOLD, "%s", shown.c_str());
    modalflag = true;
    resize(rows + 6, kBoxCols);
    wattrset(win, textattr | A_BOLD);
    drawframe(win);
    move(std::max(0, LINES / 2 - rect.rows / 2), std::max(0, COLS / 2 - rect.cols / 2));
}

void NMessageBox::refresh()
{
    drawframe(win);
    NGroup::refresh();
}

void NMessageBox::addbutton(NMButton* b)
{
    if (!b)
        return;
    insert(b);
    int total = 0;
    int buttons = 0;
    for (std::size_t i = 1; i < children.size(); ++i) {
        total += children[i]->rect.cols + 2;
        ++buttons;
    }
    if (buttons == 0)
        return;
    int x = (rect.cols - total) / 2;
    for (std::size_t i = 1; i < children.size(); ++i) {
        NView* button = children[i].get();
        x += 2;
        button->move(rect.rows - 3, x);
        x += button->rect.cols;
    }
}

NMButton* NMessageBox::addbutton(std::unique_ptr<NMButton> b)
{
    NMButton* p = b.get();
    addbutton(b.release());
    return p;
}

void NMessageBox::eventhandle(NEvent* ev)
{
    NGroup::eventhandle(ev);
    if (!ev || ev->done)
        return;
    if (ev->type == evMOUSE || (ev->type == evKB && ev->keycode != kKeyEsc))
        ev->done = true;
}
