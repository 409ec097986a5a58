// TopMenu: the menu bar on the screen's top line. F9 or M wakes it and opens the submenu
// of the item used last; the submenus post the same keys and commands as the hot keys,
// so that a menu item and its key behave alike.
#ifndef VARNIX_TOPMENU_H
#define VARNIX_TOPMENU_H

#include "nmenu.h"

class Srv;

class TopMenu : public NMenu {
public:
    TopMenu();

    // Wakes the bar and opens the submenu of its current item.
    void enable();
    // Closes every submenu and puts the bar to sleep: no highlight, keys pass by.
    void disable();
    // Opens the submenu of the current bar item; false when one is open already.
    bool action() override;
    void eventhandle(NEvent* ev) override;

    bool enableflag = false;
    int savedfore = 0; // the highlight, kept while the bar sleeps
    Srv* srv = nullptr; // the current host, not owned; null with no hosts
};

#endif
