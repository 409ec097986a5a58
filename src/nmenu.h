// NMenu: a view around an ncurses menu: a one-row menu bar, or a framed pull-down with a
// name column, a description column and a scroll bar. Items are added one by one and the
// list is closed with a null name; running an item is left to the concrete menu's action.
// Open submenus are child views of the menu that opened them.
#ifndef VARNIX_NMENU_H
#define VARNIX_NMENU_H

#include <deque>
#include <string>
#include <vector>

#include <menu.h>

#include "ngroup.h"
#include "nscrollbar.h"

// Takes the menu off its window first: the library refuses to free a posted menu.
int freepostedmenu(MENU* m);
using NMenuHandle = NCursesHandle<MENU, freepostedmenu>;

class NMenu : public NGroup {
public:
    NMenu(const NRect& rect, bool horizontal);
    ~NMenu() override;

    // A closed pull-down takes rows - 2 as its item rows and cols as its width; the bar
    // takes the size as it is. Both fit themselves to the screen and let their open
    // submenus do the same.
    void resize(int rows, int cols) override;
    void move(int begrow, int begcol) override;
    void refresh() override;
    void eventhandle(NEvent* ev) override;

    virtual bool onenter();
    // Deletes every child but the scroll bar: the open submenus.
    virtual void destroysubmenu();
    // Runs the current item; concrete menus override it.
    virtual bool action();

    // Adds an item; an empty name adds a separator that the keys skip; a null name closes
    // the list, sizes the menu and shows it. Adding to a closed list takes it off the
    // screen until the next null name.
    void additem(const char* name, const char* comment);

    // Items in the list, separators included.
    int getitemcount() const;
    // Index of the current item, -1 when there is none.
    int getcurrentindex() const;
    // The name of the current item as it was added ("" for a separator or no item).
    std::string getcurrentname() const;
    // Makes a selectable item current; false when there is no such item.
    bool setcurrentindex(int index);
    // The first item row shown.
    int gettoprow() const;
    // Columns the menu gives one item (the longest name plus the mark, and in a pull-down
    // the description), and the blank columns between two bar items.
    int getitemwidth() const;
    int getcolspacing() const;
    // A menu request (REQ_LEFT_ITEM...); E_NOT_POSTED while nothing is shown.
    int menudriver(int request);
    void setforeattr(int attr);
    void setbackattr(int attr);

    int backattr;
    int foreattr;
    bool ishorizontal;
    bool posted = false;               // the library shows the menu
    NScrollBar* scrollbar = nullptr;   // a child; none in the bar form

protected:
    // The item the library shows at an index, or null.
    ITEM* itemat(int index) const;

    std::deque<std::string> itemnames;    // what the items show; a deque never moves them
    std::deque<std::string> itemcomments;
    std::vector<std::string> givennames;  // the names as added, for getcurrentname
    struct ItemArray {
        ItemArray() = default;
        ~ItemArray();
        ItemArray(const ItemArray&) = delete;
        ItemArray& operator=(const ItemArray&) = delete;
        std::vector<ITEM*> items; // ends with a null entry once the list is closed
    } mitems;
    NWindowHandle subwin; // where the items are drawn, inside the frame
    NMenuHandle menu;     // freed first: the items and the windows outlive it

private:
    void closelist();
    // Sizes the windows to the screen, formats and posts the menu again, keeping the
    // current item and the scroll position.
    void layout();
    bool needslayout() const;
    int fitrows() const;
    int fitcols() const;
    void drawframe();
    void updatescrollbar();
    // Moves by one item up (-1) or down (+1) over separators; stays when only separators
    // follow.
    void step(int dir);
    void mouseevent(NMouseEvent* mev);
    void keyevent(NEvent* ev);

    bool closed = false;
    int wantrows = 1; // item rows a pull-down shows when the screen has room
    int wantcols = 0; // its width then
};

#endif
