// SubMenu: a pull-down of the menu bar whose items are a table: each item has its name, its
// description (hot-key and state marks) and what running it does. The concrete submenus
// fill the table when they are made, from the newest snapshots and the configuration, and
// are deleted when they close.
#ifndef VARNIX_SUBMENU_H
#define VARNIX_SUBMENU_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "nmenu.h"

class SubMenu : public NMenu {
public:
    using Run = std::function<void()>;

    // Every submenu starts at 5 rows by 25 columns and sizes itself to its items.
    explicit SubMenu(int row, int col);

    // Runs the current item; false while a nested submenu is open or there is no item.
    bool action() override;
    void eventhandle(NEvent* ev) override;

    // What the posted keys and commands are made of.
    void postkey(int key);
    void post(std::unique_ptr<NEvent> ev);
    // Posts the menu toggle key: the application closes the whole menu with it, before
    // the event an item posts next is handled.
    void closemenu() { postkey(KEY_F(9)); }

protected:
    // Adds an item (shown through the printable-text filter; `run` gets the name as given).
    void add(const std::string& name, const std::string& comment, Run run);
    // An item that closes the menu and then posts the key of the same command.
    void addkey(const std::string& name, const std::string& comment, int key);
    // An item that closes the menu and then posts the event `make` gives.
    void addcommand(const std::string& name, const std::string& comment,
                    std::function<std::unique_ptr<NEvent>()> make);
    // A blank row that the keys skip.
    void addseparator();
    // Closes the list: the menu sizes itself and shows its items.
    void finish();
    // Opens a nested submenu below this one.
    void opensubmenu(std::unique_ptr<NMenu> sub);
    bool hassubmenu() const;
    // Where a nested submenu stands: under the current item, or beside it at the right.
    int rowbelowcurrent() const { return getcurrentindex() + 2; }
    int rowbesidecurrent() const { return getcurrentindex() - gettoprow() + 2; }

    // Esc closes an open nested submenu (and is consumed).
    bool escclosessubmenu = false;
    // Left goes back one level (posts Esc) and Right is consumed: for nested submenus,
    // so that the bar does not switch to its next item.
    bool leftgoesback = false;

private:
    std::vector<Run> runs; // one per item, separators included (empty)
};

#endif
