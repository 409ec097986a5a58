// NScrollView: a window onto a list of attributed lines that can scroll and follow the end.
#ifndef VARNIX_NSCROLLVIEW_H
#define VARNIX_NSCROLLVIEW_H

#include <memory>
#include <vector>

#include "nattrstring.h"
#include "nview.h"

class NScrollBar;

class NScrollView : public NView {
public:
    explicit NScrollView(const NRect& rect) : NView(rect) {}
    ~NScrollView() override;

    void resize(int rows, int cols) override;
    void refresh() override;
    // Mouse wheel: half a page per step; wheel-down at the end follows the end.
    void eventhandle(NEvent* ev) override;
    virtual void drawcontent();

    // The view takes ownership of the line. Adding never scrolls, not even in
    // follow-the-end mode: the owner calls setautoscroll(true) when it wants to follow.
    void addstring(NAttrString* s);
    void addstring(std::unique_ptr<NAttrString> s);
    void addstring(int attr, const char* fmt, ...) NATTR_PRINTF(3, 4);
    void clearcontent();
    int getstringcount() const { return static_cast<int>(content.size()); }
    // Virtual: a list may make a line's texts only when they are wanted.
    virtual const NAttrString* getstring(int i) const;
    int getmaxcontentwidth() const;
    void setscrollbar(NScrollBar* bar) { scrollbar = bar; }
    void setautoscroll(bool on);
    bool getautoscroll() const { return autoscroll; }
    void scrollto(int delta);
    void setstartline(int n);
    int getstartline() const { return startline; }

protected:
    // First line index that puts the last page in view.
    int maxstartline() const;
    void drawline(int row, const NAttrString& line);

    std::vector<std::unique_ptr<NAttrString>> content;
    int startline = 0;
    bool autoscroll = false;
    NScrollBar* scrollbar = nullptr; // a sibling view, not owned
};

#endif
