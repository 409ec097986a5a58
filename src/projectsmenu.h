// The Projects submenu of the menu bar and the menus it opens: the client's projects and
// what can be done to each, the projects and account managers one can join, and the
// choice between an existing and a new account.
#ifndef VARNIX_PROJECTSMENU_H
#define VARNIX_PROJECTSMENU_H

#include <string>

#include "submenu.h"

class Srv;

class ProjectsSubMenu : public SubMenu {
public:
    ProjectsSubMenu(int row, int col, Srv* srv);

    Srv* srv;           // not owned; may be null
    std::string mgrurl; // the client's account manager, empty when it has none
};

#endif
