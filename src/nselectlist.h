// NSelectList: a scroll view with a movable selection bar and one caller object per line.
#ifndef VARNIX_NSELECTLIST_H
#define VARNIX_NSELECTLIST_H

#include <vector>

#include "nscrollview.h"

class NSelectList : public NScrollView {
public:
    explicit NSelectList(const NRect& rect) : NScrollView(rect) {}
    ~NSelectList() override;

    void drawcontent() override;
    virtual void selectorup();
    virtual void selectordown();
    // No range check: a position outside the lines means nothing is selected.
    virtual void setselectorpos(int n);

    // Adds a line together with its object; the objects are not owned by the list.
    void addstring(void* obj, NAttrString* s);
    void addstring(void* obj, std::unique_ptr<NAttrString> s);
    // Lines and objects go together: derived lists clear both with this.
    void clearcontent();
    void* getselectedobj() const;
    int getselectedindex() const { return selectedindex; }

    bool selectorenable = true;
    short selectorbgcolor = 6;

protected:
    int selectedindex = -1; // -1 or the line count: nothing selected
    std::vector<void*> objects;
};

#endif
