// NView: the base of every window: a rectangle of the screen with its own ncurses
// window and panel, a link to the group that owns it, and the operations every window has.
#ifndef VARNIX_NVIEW_H
#define VARNIX_NVIEW_H

#include <curses.h>
#include <panel.h>

#include "nevent.h"

struct NRect {
    int begrow = 0; // relative to the owner's top-left corner
    int begcol = 0;
    int rows = 0;
    int cols = 0;
};

// Owning handle for an ncurses object; converts to the raw pointer so that it can be
// passed to the library as it is, and frees the object with `Free` when it goes away.
template <typename T, int (*Free)(T*)>
class NCursesHandle {
public:
    NCursesHandle() = default;
    explicit NCursesHandle(T* p) : ptr(p) {}
    ~NCursesHandle() { reset(); }
    NCursesHandle(const NCursesHandle&) = delete;
    NCursesHandle& operator=(const NCursesHandle&) = delete;

    void reset(T* p = nullptr)
    {
        if (ptr)
            Free(ptr);
        ptr = p;
    }
    T* get() const { return ptr; }
    operator T*() const { return ptr; }
    T* operator->() const { return ptr; }

private:
    T* ptr = nullptr;
};

using NWindowHandle = NCursesHandle<WINDOW, delwin>;
using NPanelHandle = NCursesHandle<PANEL, del_panel>;

class NView {
public:
    explicit NView(const NRect& rect);
    virtual ~NView();
    NView(const NView&) = delete;
    NView& operator=(const NView&) = delete;

    virtual void resize(int rows, int cols);
    // Position relative to the owner.
    virtual void move(int begrow, int begcol);
    // Draws when needed; never calls doupdate (the event loop does, once per event).
    virtual void refresh();
    virtual void setneedrefresh();
    virtual void eventhandle(NEvent* ev);
    // Hands the event (and its ownership) towards the root, which queues it.
    virtual void putevent(NEvent* ev);
    // Runtime type name of the concrete class ("11NMessageBox"); dialogs are found by it.
    virtual const char* getid();
    virtual bool ismodal();

    void setowner(NView* newowner);
    NView* getowner() const { return owner; }
    int getabsbegrow() const;
    int getabsbegcol() const;
    bool isinside(int row, int col) const;

protected:
    // Gives the window the view's size, cut to what the screen has room for from its
    // place, and puts its panel there.
    void fitwindow();

    friend class NGroup; // clears the link when it lets a child go
    NView* owner = nullptr; // not owned

public:
    NWindowHandle win;
    NPanelHandle pan; // declared after win: freed before it
    bool needrefresh = true;
    bool modalflag = false;
    NRect rect;
};

#endif
