#include "submenu.h"

SubMenu::SubMenu(int row, int col) : NMenu(NRect{row, col, 5, 25}, false)
{
}

void SubMenu::add(const std::string& name, const std::string& comment, Run run)
{
    additem(name.c_str(), comment.c_str());
    runs.push_back(std::move(run));
}

void SubMenu::addkey(const std::string& name, const std::string& comment, int key)
{
    add(name, comment, [this, key] {
        closemenu();
        postkey(key);
    });
}

void SubMenu::addcommand(const std::string& name, const std::string& comment,
                         std::function<std::unique_ptr<NEvent>()> make)
{
    add(name, comment, [this, make] {
        closemenu();
        post(make());
    });
}

void SubMenu::addseparator()
{
    additem("", "");
    runs.emplace_back();
}

void SubMenu::finish()
{
    additem(nullptr, nullptr);
}

void SubMenu::postkey(int key)
{
    putevent(new NEvent(evKB, key));
}

void SubMenu::post(std::unique_ptr<NEvent> ev)
{
    putevent(ev.release());
}

bool SubMenu::hassubmenu() const
{
    // A pull-down's own scroll bar is a child as well.
    return children.size() > 1;
}

void SubMenu::opensubmenu(std::unique_ptr<NMenu> sub)
{
    insert(std::move(sub));
}

bool SubMenu::action()
{
    const int i = getcurrentindex();
    if (hassubmenu() || i < 0 || i >= static_cast<int>(runs.size()) || !runs[static_cast<size_t>(i)])
        return false;
    // A copy: running the item may delete this menu's table (it never deletes the menu
    // itself: closing goes through the queue).
    Run run = runs[static_cast<size_t>(i)];
    run();
    return true;
}

void SubMenu::eventhandle(NEvent* ev)
{
    NMenu::eventhandle(ev);
    if (!ev || ev->done || ev->type != evKB)
        return;
    if (ev->keycode == kKeyEsc && escclosessubmenu && hassubmenu()) {
        destroysubmenu();
        ev->done = true;
    } else if (leftgoesback && ev->keycode == KEY_LEFT) {
        postkey(kKeyEsc);
        ev->done = true;
    } else if (leftgoesback && ev->keycode == KEY_RIGHT) {
        ev->done = true;
    }
    if (ev->done)
        refresh();
}
