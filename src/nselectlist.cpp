#include "nselectlist.h"

#include "ncolorpair.h"
#include "nscrollbar.h"

NSelectList::~NSelectList() = default;

void NSelectList::addstring(void* obj, NAttrString* s)
{
    addstring(obj, std::unique_ptr<NAttrString>(s));
}

void NSelectList::addstring(void* obj, std::unique_ptr<NAttrString> s)
{
    if (!s)
        return;
    NScrollView::addstring(std::move(s));
    objects.push_back(obj);
}

void NSelectList::clearcontent()
{
    NScrollView::clearcontent();
    objects.clear();
}

void* NSelectList::getselectedobj() const
{
    if (selectedindex >= 0 && selectedindex < static_cast<int>(objects.size()))
        return objects[static_cast<std::size_t>(selectedindex)];
    return nullptr;
}

void NSelectList::selectorup()
{
    if (selectedindex < 0)
        return;
    --selectedindex;
    needrefresh = true;
    if (selectedindex - startline <= 3)
        scrollto(-1);
}

void NSelectList::selectordown()
{
    int count = getstringcount();
    if (selectedindex >= count)
        return;
    ++selectedindex;
    needrefresh = true;
    if (startline + rect.rows < count && startline + rect.rows - selectedindex < 4)
        scrollto(1);
}

void NSelectList::setselectorpos(int n)
{
    selectedindex = n;
    needrefresh = true;
}

void NSelectList::drawcontent()
{
    for (int r = 0; r < rect.rows; ++r) {
        int i = startline + r;
        if (i >= getstringcount()) {
            wmove(win, r, 0);
            wclrtoeol(win);
            continue;
        }
        const NAttrString& line = *content[static_cast<std::size_t>(i)];
        if (i != selectedindex || !selectorenable) {
            drawline(r, line);
            wclrtoeol(win);
            continue;
        }
        // The highlight keeps each fragment's foreground and bold on the selector colour.
        wmove(win, r, 0);
        for (const auto& f : line) {
            short fg = 0, bg = 0;
            pair_content(static_cast<short>(PAIR_NUMBER(f.attr)), &fg, &bg);
            wattrset(win, getcolorpair(fg, selectorbgcolor) | (f.attr & A_BOLD));
            waddstr(win, f.text.c_str());
        }
        wbkgdset(win, static_cast<chtype>(getcolorpair(7, selectorbgcolor)));
        wclrtoeol(win);
        wbkgdset(win, static_cast<chtype>(getcolorpair(7, getbgcolor())));
    }
    if (scrollbar)
        scrollbar->setpos(0, getstringcount(), startline, startline + rect.rows);
}
