#include "topmenu.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "config.h"
#include "ncolorpair.h"
#include "ndraw.h"
#include "projectsmenu.h"
#include "ptrlist.h"
#include "srv.h"
#include "submenu.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

const char* const kBarItems[] = {"File", "View", "Projects", "Tasks", "Activity", "Help"};

std::unique_ptr<TuiEvent> command(int code, int idata = 0)
{
    auto ev = std::make_unique<TuiEvent>(code);
    ev->idata = idata;
    return ev;
}

const char* check(bool on)
{
    return on ? "[*]" : "[ ]";
}

const char* radio(bool on)
{
    return on ? "(*)" : "( )";
}

class FileSubMenu : public SubMenu {
public:
    FileSubMenu(int row, int col) : SubMenu(row, col)
    {
        addkey("Next BOINC host", "  N", 'N');
        addkey("Prev BOINC host", "  P", 'P');
        addkey("Configure host list", "  C", 'C');
        addkey("View Statistics", "  V", 'V');
        addcommand("Run CPU benchmarks", "", [] { return command(evBENCHMARK); });
        addkey("Quit varnix", "  Q", 'Q');
        addseparator();
        addcommand("Read config files", "", [] { return command(evCLIENTOP, opREADCONFIG); });
        addcommand("Read local prefs file", "", [] { return command(evCLIENTOP, opREADPREFS); });
        addcommand("Retry pending transfers", "",
                   [] { return command(evCLIENTOP, opNETWORKAVAILABLE); });
        addcommand("Shut down client", "", [] { return command(evSHUTDOWN); }); // asks first
        finish();
    }
};

class TasksSubMenu : public SubMenu {
public:
    TasksSubMenu(int row, int col) : SubMenu(row, col)
    {
        addkey("Suspend task", "  S", 'S');
        addkey("Resume task", "  R", 'R');
        addcommand("Abort task", "  A", [] { return command(evABORTRES); }); // not confirmed yet
        addkey("View raw task info", "  Enter", KEY_ENTER);
        finish();
    }
};

class HelpSubMenu : public SubMenu {
public:
    HelpSubMenu(int row, int col) : SubMenu(row, col)
    {
        addcommand("About", "", [] { return command(evABOUT); });
        addcommand("Hot keys list", "", [] { return command(evKEYBIND); });
        finish();
    }
};

class ViewSubMenu : public SubMenu {
public:
    ViewSubMenu(int row, int col) : SubMenu(row, col)
    {
        static const char* const columns[] = {
            "Task number column",   "Task state column",    "Percent done column",
            "Project name column",  "Estimate time column", "Receive time column",
            "Deadline time column", "Application name column", "Swap size column",
            "Task name column"};
        static const struct {
            const char* name;
            int mode;
        } listmodes[] = {{"All tasks", 0}, {"Hide done tasks", 1}, {"Active tasks only", 2}},
          sortmodes[] = {{"Unsorted tasks list", 0},  {"Sort by state", 1},
                         {"Sort by done %", 2},       {"Sort by project name", 3},
                         {"Sort by receive time", 4}, {"Sort by estimate time", 5},
                         {"Sort by deadline", 6},     {"Sort by swap size", 8},
                         {"Sort by task name", 9}};
        const Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
        const unsigned mask = static_cast<unsigned>(setting(cfg, "column_view_mask"));
        for (int i = 0; i < 10; ++i)
            postitem(columns[i], check((mask >> i) & 1u), evCOLVIEWCH, i);
        addseparator();
        const int listmode = setting(cfg, "tasks_list_mode");
        for (const auto& m : listmodes)
            postitem(m.name, radio(m.mode == listmode), evVIEWMODECH, m.mode);
        addseparator();
        const int sortmode = setting(cfg, "tasks_sort_mode");
        for (const auto& m : sortmodes)
            postitem(m.name, radio(m.mode == sortmode), evSORTMODECH, m.mode);
        addseparator();
        add("ASCII line draw", check(lineDrawMode == 1), [this] {
            closemenu();
            lineDrawMode = lineDrawMode == 0 ? 1 : 0;
            post(command(evASCIIMODECHANGE));
        });
        addcommand("Transparent background", check(transparentBackground == 1),
                   [] { return command(evTRANSPARENTBGMODECHANGE); });
        // The windows beyond the main screen, by their hot keys.
        addseparator();
        addkey("File transfers", "  T", 'T');
        addkey("Notices", "  I", 'I');
        addkey("All hosts", "  O", 'O');
        addkey("Task history", "  H", 'H');
        finish();
    }

private:
    // The value as the task list stores it; 0 when the key or the whole tree is missing.
    static int setting(const Item* cfg, const char* name)
    {
        const Item* it = cfg ? cfg->find(name) : nullptr;
        return it ? std::atoi(it->value().c_str()) : 0;
    }

    void postitem(const char* name, const char* mark, int code, int idata)
    {
        addcommand(name, mark, [code, idata] { return command(code, idata); });
    }
};

class ActivitySubMenu : public SubMenu {
public:
    ActivitySubMenu(int row, int col, Srv* srv) : SubMenu(row, col), srv(srv)
    {
        if (srv && !srv->ccstatussnapshots.empty()) {
            Snapshot status(srv->ccstatussnapshots);
            bool gpu = false;
            if (!srv->statesnapshots.empty()) {
                Snapshot state(srv->statesnapshots);
                gpu = state && (state->find("have_ati") || state->find("have_cuda"));
            }
            if (status)
                build(status.get(), gpu);
        }
        finish();
    }

private:
    using Setter = void (*)(Srv&, const std::string&);
    // The client's words for its modes 1, 2 and 3.
    static constexpr const char* modes[] = {"always", "auto", "never"};

    void build(const Item* c, bool gpu)
    {
        group(c, "task_mode", [](Srv& s, const std::string& m) { s.setrunmode(m); },
              {"Run always", "Run based on preferences", "Suspend"});
        if (gpu) {
            addseparator();
            group(c, "gpu_mode", [](Srv& s, const std::string& m) { s.setgpumode(m); },
                  {"GPU run always", "GPU run based on preferences", "GPU suspend"});
        }
        addseparator();
        group(c, "network_mode", [](Srv& s, const std::string& m) { s.setnetworkmode(m); },
              {"Network activity always available", "Network activity based on preferences",
               "Network activity suspend"});
        addseparator();
        snoozeitem(ModeKind::run, "Snooze 1 hour", "Cancel snooze");
        if (gpu)
            snoozeitem(ModeKind::gpu, "Snooze GPU 1 hour", "Cancel GPU snooze");
        snoozeitem(ModeKind::network, "Snooze network 1 hour", "Cancel network snooze");
    }

    // Snoozes a mode for an hour; while the client holds a snooze of it, the item ends it
    // instead, back to the mode the client keeps for good, and tells how long it has left.
    void snoozeitem(ModeKind kind, const char* snooze, const char* cancel)
    {
        const ModeDelay d = srv->modedelaynow(kind);
        Srv* host = srv;
        if (d.snoozed() && d.perm >= 1 && d.perm <= 3) {
            const std::string back = modes[d.perm - 1];
            addcommand(cancel, shortduration(d.left, true) + " left", [host, kind, back] {
                auto ev = std::make_unique<TuiEvent>(evSNOOZE, host, back, "");
                ev->idata = static_cast<int>(kind);
                ev->bdata1 = true;
                return ev;
            });
        } else {
            addcommand(snooze, "", [host, kind] {
                auto ev = std::make_unique<TuiEvent>(evSNOOZE, host, "", "");
                ev->idata = static_cast<int>(kind);
                return ev;
            });
        }
    }

    // Three items for the modes 1, 2 and 3 of one setting, the client's one marked.
    void group(const Item* c, const char* key, Setter set, std::initializer_list<const char*> names)
    {
        const Item* it = c->find(key);
        const int current = it ? it->intvalue() : 0;
        int mode = 1;
        for (const char* name : names) {
            const char* word = modes[mode - 1];
            add(name, radio(current == mode), [this, set, word] {
                closemenu();
                if (srv)
                    set(*srv, word);
            });
            ++mode;
        }
    }

    Srv* srv;
};

} // namespace

TopMenu::TopMenu() : NMenu(NRect{0, 0, 1, COLS}, true)
{
    for (const char* name : kBarItems)
        additem(name, "");
    additem(nullptr, nullptr);
    setbackattr(getcolorpair(7, 2) | A_BOLD);
    savedfore = foreattr;
    // Asleep: the highlight looks like the rest of the bar.
    setforeattr(backattr);
    enableflag = false;
    destroysubmenu();
}

void TopMenu::enable()
{
    enableflag = true;
    setforeattr(savedfore);
    action();
}

void TopMenu::disable()
{
    if (!enableflag)
        return;
    enableflag = false;
    savedfore = foreattr;
    setforeattr(backattr);
    destroysubmenu();
    refresh();
}

bool TopMenu::action()
{
    if (!children.empty())
        return false;
    const int i = getcurrentindex();
    if (i < 0)
        return false;
    // Under its bar item.
    const int s = getcolspacing();
    const int col = (getitemwidth() + s) * i + s;
    const std::string name = getcurrentname();
    std::unique_ptr<NMenu> sub;
    if (name == "File")
        sub = std::make_unique<FileSubMenu>(1, col);
    else if (name == "View")
        sub = std::make_unique<ViewSubMenu>(1, col);
    else if (name == "Projects")
        sub = std::make_unique<ProjectsSubMenu>(1, col, srv);
    else if (name == "Tasks")
        sub = std::make_unique<TasksSubMenu>(1, col);
    else if (name == "Activity")
        sub = std::make_unique<ActivitySubMenu>(1, col, srv);
    else if (name == "Help")
        sub = std::make_unique<HelpSubMenu>(1, col);
    if (!sub)
        return false;
    insert(std::move(sub));
    return true;
}

void TopMenu::eventhandle(NEvent* ev)
{
    if (!ev || ev->done)
        return;
    auto* mev = ev->type == evMOUSE ? dynamic_cast<NMouseEvent*>(ev) : nullptr;
    if (!enableflag) {
        if (!mev)
            return;
        // Asleep, the bar wakes only for a click on itself.
        if ((mev->keycode & BUTTON1_CLICKED) && isinside(mev->row, mev->col)) {
            enableflag = true;
            setforeattr(savedfore);
        }
    }
    NMenu::eventhandle(ev);
    if (ev->done)
        return;
    if (ev->type == evKB) {
        ev->done = true;
        switch (ev->keycode) {
        case KEY_DOWN:
        case KEY_UP:
            if (enableflag)
                action();
            else
                ev->done = false;
            break;
        case KEY_LEFT:
        case KEY_RIGHT: {
            if (!enableflag) {
                ev->done = false;
                break;
            }
            const bool open = !children.empty();
            menudriver(ev->keycode == KEY_LEFT ? REQ_LEFT_ITEM : REQ_RIGHT_ITEM);
            if (open) {
                destroysubmenu();
                action();
            }
            break;
        }
        case kKeyEsc:
            if (enableflag && !children.empty())
                destroysubmenu();
            else
                ev->done = false; // the application puts the bar to sleep
            break;
        default:
            ev->done = false; // hot keys work while the menu is open
            break;
        }
    } else if (mev && enableflag && (mev->keycode & (BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED))) {
        // A click outside the bar and its submenus closes the menu and still reaches
        // the window below.
        disable();
    }
    if (ev->done)
        refresh();
}
