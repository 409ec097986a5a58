#include "projectsmenu.h"

#include <memory>

#include "config.h"
#include "ptrlist.h"
#include "srv.h"
#include "statelookup.h"
#include "tuievent.h"

namespace {

std::string valueof(const Item* parent, const char* name)
{
    const Item* it = parent ? parent->find(name) : nullptr;
    return it ? it->value() : std::string();
}

// Nested submenus: Left goes back one level, Right does not switch the bar's item.
class NestedSubMenu : public SubMenu {
public:
    NestedSubMenu(int row, int col, Srv* srv) : SubMenu(row, col), srv(srv)
    {
        leftgoesback = true;
    }

protected:
    Srv* srv;
};

class ProjectUserExistSubMenu : public NestedSubMenu {
public:
    ProjectUserExistSubMenu(int row, int col, Srv* srv, const std::string& name, bool byurl)
        : NestedSubMenu(row, col, srv), projname(name), byurl(byurl)
    {
        choice("Existing user", true);
        choice("Create new user account", false);
        finish();
    }

private:
    void choice(const char* name, bool existing)
    {
        add(name, "", [this, existing] {
            closemenu();
            if (!srv)
                return;
            auto ev = std::make_unique<TuiEvent>(evADDPROJECT, srv, projname, "");
            ev->bdata1 = existing;
            ev->bdata2 = byurl;
            post(std::move(ev));
        });
    }

    std::string projname;
    bool byurl;
};

class ProjectAllListSubMenu : public NestedSubMenu {
public:
    ProjectAllListSubMenu(int row, int col, Srv* srv) : NestedSubMenu(row, col, srv)
    {
        escclosessubmenu = true;
        if (srv)
            srv->updateallprojectslist();
        const Item* projects = srv && srv->allprojectstree ? srv->allprojectstree->find("projects") : nullptr;
        if (projects) {
            for (const Item* p : projects->children("project")) {
                const Item* name = p->child("name");
                if (!name)
                    continue;
                const std::string area = valueof(p, "general_area");
                add(name->value(), area.substr(0, utf8cut(area, 20)),
                    [this, project = name->value()] {
                        if (this->srv)
                            opensubmenu(std::make_unique<ProjectUserExistSubMenu>(
                                rowbesidecurrent(), rect.cols - 2, this->srv, project, false));
                    });
            }
        }
        finish();
    }
};

class ProjectAccMgrSubMenu : public NestedSubMenu {
public:
    ProjectAccMgrSubMenu(int row, int col, Srv* srv) : NestedSubMenu(row, col, srv)
    {
        if (srv)
            srv->updateallprojectslist();
        const Item* projects = srv && srv->allprojectstree ? srv->allprojectstree->find("projects") : nullptr;
        if (projects)
            for (const Item* m : projects->children("account_manager"))
                if (const Item* name = m->child("name"))
                    manager(name->value(), name->value());
        // The managers joined earlier through the form, which the client may not list.
        const Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
        if (cfg)
            for (const Item* m : cfg->children("accmgr"))
                if (const Item* name = m->child("name"))
                    manager(name->value(), name->value());
        addseparator();
        manager("Add new account manager", "Unnamed");
        finish();
    }

private:
    void manager(const std::string& item, const std::string& name)
    {
        add(item, "", [this, name] {
            closemenu();
            if (srv)
                post(std::make_unique<TuiEvent>(evADDACCMGR, srv, name, ""));
        });
    }
};

class ProjectListSubMenu : public NestedSubMenu {
public:
    ProjectListSubMenu(int row, int col, Srv* srv, const std::string& name)
        : NestedSubMenu(row, col, srv), projname(name)
    {
        static const struct {
            const char* name;
            const char* tag;
            bool confirmed; // reset and detach ask first
        } ops[] = {
            {"Update project", "project_update", true},
            {"Suspend project", "project_suspend", true},
            {"Resume project", "project_resume", true},
            {"No new tasks", "project_nomorework", true},
            {"Allow new tasks", "project_allowmorework", true},
            {"Reset project", "project_reset", false},
            {"Detach project", "project_detach", false},
        };
        for (const auto& op : ops) {
            add(op.name, "", [this, tag = op.tag, confirmed = op.confirmed] {
                if (this->srv) {
                    auto ev = std::make_unique<TuiEvent>(evPROJECT, this->srv, projname, tag);
                    ev->bdata1 = confirmed;
                    post(std::move(ev));
                }
                closemenu(); // after the command, unlike the other menus
            });
        }
        finish();
    }

private:
    std::string projname;
};

} // namespace

ProjectsSubMenu::ProjectsSubMenu(int row, int col, Srv* s) : SubMenu(row, col), srv(s)
{
    escclosessubmenu = true;
    std::string mgrname;
    if (srv && !srv->acctmgrinfosnapshots.empty()) {
        Snapshot info(srv->acctmgrinfosnapshots);
        mgrname = valueof(info.get(), "acct_mgr_name");
        mgrurl = valueof(info.get(), "acct_mgr_url");
    }
    add("Add project", "", [this] {
        opensubmenu(std::make_unique<ProjectAllListSubMenu>(rowbelowcurrent(), 2, srv));
    });
    add("Add project by URL", "", [this] {
        if (srv)
            opensubmenu(std::make_unique<ProjectUserExistSubMenu>(
                rowbesidecurrent(), rect.cols - 2, srv, "Add project by URL", true));
    });
    if (!mgrname.empty()) {
        add("Synchronize with manager", mgrname, [this] {
            closemenu();
            std::string ignored;
            if (srv)
                srv->accountmanager(mgrurl, "", "", true, ignored);
        });
        add("Stop using account manager", mgrname, [this] {
            closemenu();
            std::string ignored;
            if (srv)
                srv->accountmanager("", "", "", false, ignored);
        });
    } else {
        add("Connect to account manager", "", [this] {
            opensubmenu(std::make_unique<ProjectAccMgrSubMenu>(rowbelowcurrent(), 2, srv));
        });
    }
    addseparator();
    if (srv && !srv->statesnapshots.empty()) {
        Snapshot state(srv->statesnapshots);
        const Item* cs = state ? state->find("client_state") : nullptr;
        if (cs) {
            for (const Item* p : cs->children("project")) {
                const Item* name = p->child("project_name");
                if (!name)
                    continue;
                std::string marks;
                if (p->find("suspended_via_gui"))
                    marks += "[Susp.]";
                if (p->find("dont_request_more_work"))
                    marks += "[N.N.Tsk]";
                add(name->value(), marks, [this, project = name->value()] {
                    opensubmenu(std::make_unique<ProjectListSubMenu>(rowbelowcurrent(), 2, srv, project));
                });
            }
        }
    }
    finish();
}
