#include "taskwin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "config.h"
#include "ncolorpair.h"
#include "srv.h"
#include "taskformat.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

const char* const kOptionKeys[] = {"column_view_mask", "tasks_list_mode", "tasks_sort_mode"};

Item* directchild(const Item* parent, const char* name)
{
    for (const auto& c : parent->getchildren())
        if (c->getname() == name)
            return c.get();
    return nullptr;
}

// The names shown for one state snapshot, looked up once per rebuild instead of once per
// line. The first project or app that a linear search would meet wins.
class StateNames {
public:
    explicit StateNames(const Item* clientstate)
    {
        const auto& all = clientstate->getchildren();
        // Apps are looked for first among those of the workunit's own project (the
        // elements from a "project" up to the next one), then anywhere.
        std::vector<size_t> block(all.size(), 0);
        std::vector<std::unordered_map<std::string, const Item*>> blockapps(1);
        std::unordered_map<std::string, const Item*> anyapp;
        for (size_t i = 0; i < all.size(); ++i) {
            const Item* c = all[i].get();
            if (c->getname() == "project" && i > 0)
                blockapps.emplace_back();
            block[i] = blockapps.size() - 1;
            if (c->getname() == "project") {
                Item* url = directchild(c, "master_url");
                Item* name = directchild(c, "project_name");
                if (url && name)
                    projects.emplace(url->value(), name->value());
            } else if (c->getname() == "app") {
                if (Item* name = directchild(c, "name")) {
                    blockapps.back().emplace(name->value(), c);
                    anyapp.emplace(name->value(), c);
                }
            }
        }
        for (size_t i = 0; i < all.size(); ++i) {
            const Item* wu = all[i].get();
            if (wu->getname() != "workunit")
                continue;
            Item* name = directchild(wu, "name");
            Item* appname = directchild(wu, "app_name");
            if (!name || !appname || apps.count(name->value()))
                continue;
            const auto& own = blockapps[block[i]];
            auto hit = own.find(appname->value());
            if (hit == own.end()) {
                hit = anyapp.find(appname->value());
                if (hit == anyapp.end())
                    continue; // a later workunit of that name may still name a known app
            }
            apps.emplace(name->value(), hit->second);
        }
    }

    std::string project(const TaskFields& f) const
    {
        const Item* url = f.projecturl;
        if (!url)
            return "???";
        auto it = projects.find(url->value());
        return it == projects.end() ? "???" : it->second;
    }

    std::string application(const TaskFields& f) const
    {
        const Item* wu = f.wuname;
        if (!wu)
            return "unknown application";
        auto it = apps.find(wu->value());
        if (it == apps.end())
            return "unknown application";
        Item* friendly = it->second->find("user_friendly_name");
        if (!friendly)
            return "unknown application";
        return friendly->value().substr(0, 255);
    }

private:
    std::unordered_map<std::string, std::string> projects;  // master URL -> project name
    std::unordered_map<std::string, const Item*> apps;      // workunit name -> app
};

// A number, or false when it is missing or not a number at all.
bool number(const Item* it, double& out)
{
    if (!it)
        return false;
    out = it->doublevalue();
    return !std::isnan(out);
}

bool contains(const std::string& s, const char* part)
{
    return s.find(part) != std::string::npos;
}

struct LineAttrs {
    int line;  // the whole line
    int state; // state column
    int gpu;   // done% column, before its bold
};

LineAttrs lineattrs(const TaskFields& f, const std::string& statetext)
{
    const int bg = getbgcolor();
    LineAttrs a;
    a.line = getcolorpair(7, bg);
    if (f.readytoreport || f.activetask)
        a.line |= A_BOLD;
    if (statetext == "Run")
        a.line = getcolorpair(3, bg) | A_BOLD;
    else if (statetext == "Upld")
        a.line = getcolorpair(4, bg) | A_BOLD;
    else if (statetext == "Dwnld")
        a.line = getcolorpair(2, bg) | A_BOLD;
    a.state = a.line;
    if (statetext == "WMem" || statetext == "Abort" || statetext == "DoneEr")
        a.state = getcolorpair(1, bg);
    a.gpu = a.line;
    if (const Item* plan = f.planclass) {
        const std::string& p = plan->value();
        if (contains(p, "ati") || contains(p, "opencl"))
            a.gpu = getcolorpair(5, bg);
        if (contains(p, "cuda"))
            a.gpu = getcolorpair(2, bg);
        if (contains(p, "intel"))
            a.gpu = getcolorpair(4, bg);
    }
    return a;
}

bool shown(int listmode, const TaskFields& f, const std::string& statetext)
{
    switch (listmode) {
    case 0: return true;
    case 1: return statetext != "Done";
    case 2: return f.activetask != nullptr;
    default: return false;
    }
}

std::string donetext(const TaskFields& f)
{
    double done;
    if (!number(f.fractiondone, done))
        return "   -  ";
    // Bounded so that a wild value cannot widen the column.
    double percent = std::clamp(done * 100.0, -99.99, 999.99);
    char buf[32];
    snprintf(buf, sizeof buf, "%6.2f", percent);
    return buf;
}

} // namespace

TaskWin::TaskWin(const NRect& rect) : NSelectList(rect)
{
    Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
    if (!cfg)
        return;
    int* fields[] = {&columnmask, &listmode, &sortmode};
    for (int i = 0; i < 3; ++i) {
        Item* it = cfg->find(kOptionKeys[i]);
        if (!it) {
            it = cfg->addchild(std::make_unique<Item>(kOptionKeys[i]));
            it->setintvalue(*fields[i]);
        }
        *fields[i] = it->intvalue();
    }
}

TaskWin::~TaskWin()
{
    clearlist();
}

void TaskWin::saveopts()
{
    Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
    if (!cfg)
        return;
    const int values[] = {columnmask, listmode, sortmode};
    for (int i = 0; i < 3; ++i)
        if (Item* it = cfg->find(kOptionKeys[i]))
            it->setintvalue(values[i]);
}

void TaskWin::clearlist()
{
    int oldstart = startline;
    NSelectList::clearcontent();
    keys.clear();
    setstartline(oldstart);
}

void TaskWin::updatedata()
{
    if (!srv)
        return;
    int oldstart = startline;
    clearlist();
    if (!srv->statesnapshots.empty()) {
        Snapshot state(srv->statesnapshots);
        if (state) {
            if (Item* cs = state->find("client_state"))
                addlines(cs);
        }
    }
    setstartline(oldstart);
}

void TaskWin::addlines(const Item* clientstate)
{
    StateNames names(clientstate);
    std::vector<Item*> results = clientstate->children("result");

    std::vector<TaskFields> fields;
    std::vector<TaskSortKey> sortkeys;
    fields.reserve(results.size());
    sortkeys.reserve(results.size());
    for (Item* r : results) {
        fields.push_back(gathertaskfields(r));
        const TaskFields& f = fields.back();
        sortkeys.push_back(maketasksortkey(r, f, sortmode == 3 ? names.project(f) : std::string()));
    }
    std::vector<size_t> order(results.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    // Stable: tasks that compare equal keep the client's order from one tick to the next.
    if (sortmode != 0) {
        const int mode = sortmode;
        std::stable_sort(order.begin(), order.end(),
                         [mode, &sortkeys](size_t a, size_t b) {
                             return taskbefore(mode, sortkeys[a], sortkeys[b]);
                         });
    }

    const std::time_t now = clock();
    const int bg = getbgcolor();
    const unsigned mask = static_cast<unsigned>(columnmask);
    auto on = [mask](int bit) { return (mask >> bit) & 1u; };
    int counter = 1;
    for (size_t index : order) {
        const TaskFields& f = fields[index];
        if (!f.name)
            continue;
        std::string statetext = taskstatetext(f);
        if (!shown(listmode, f, statetext))
            continue;
        LineAttrs attrs = lineattrs(f, statetext);
        auto line = std::make_unique<NAttrString>();

        if (on(colNumber))
            line->append(attrs.line, "%3d  ", counter);
        if (on(colState))
            line->append(attrs.state, "%-6s", statetext.c_str());
        if (on(colDone))
            line->append(attrs.gpu | A_BOLD, "  %6s", donetext(f).c_str());
        if (on(colProject)) {
            std::string project = displaytext(names.project(f));
            mbstrtrunc(project, 20);
            line->append(attrs.line, "  %-20s", project.c_str());
        }
        if (on(colEstimate)) {
            double est;
            std::string text = "?";
            int attr = attrs.line;
            if (number(f.estimate, est) && est >= 0) {
                text = formatduration(secondsfromdouble(est));
                if (statetext == "Run" && est < 600)
                    attr = getcolorpair(1, bg) | A_BOLD;
            }
            line->append(attr, " %4s", text.c_str());
        }
        if (on(colReceived)) {
            double received;
            std::string text = "?";
            if (number(f.received, received))
                text = formatduration(secondsfromdouble(static_cast<double>(now) - received));
            line->append(attrs.line, " %4s", text.c_str());
        }
        if (on(colDeadline)) {
            double deadline;
            std::string text = "?";
            int attr = attrs.line;
            if (number(f.deadline, deadline)) {
                double left = deadline - static_cast<double>(now);
                text = left > 0 ? formatduration(secondsfromdouble(left)) : "dead";
                if (left < 172800 && statetext != "Done")
                    attr = getcolorpair(4, bg) | A_BOLD;
            }
            line->append(attr, " %4s", text.c_str());
        }
        if (on(colApplication)) {
            std::string app = displaytext(names.application(f));
            if (on(colSwap))
                mbstrtrunc(app, 30);
            line->append(attrs.line, "  %-30s", app.c_str());
        }
        if (on(colSwap)) {
            std::string text = f.swap ? formatsize(bytesfromdouble(f.swap->doublevalue())) : " - ";
            line->append(attrs.line, " %5s ", text.c_str());
        }
        if (on(colTask))
            line->append(attrs.line, "  %s", displaytext(f.name->value()).c_str());
        ++counter;

        keys.push_back(std::make_unique<TaskKey>(
            TaskKey{f.name->value(), f.projecturl ? f.projecturl->value() : std::string()}));
        NSelectList::addstring(keys.back().get(), std::move(line));
    }
}

void TaskWin::noticeselection()
{
    int index = getselectedindex();
    bool valid = index >= 0 && index < getstringcount();
    if (valid == selectionshown)
        return;
    selectionshown = valid;
    putevent(new TuiEvent(valid ? evTASKSELECTORON : evTASKSELECTOROFF));
}

void TaskWin::eventhandle(NEvent* ev)
{
    NScrollView::eventhandle(ev);
    if (ev->done)
        return;
    switch (ev->type) {
    case evMOUSE: {
        auto* mev = dynamic_cast<NMouseEvent*>(ev);
        if (mev && mev->isclick() && isinside(mev->row, mev->col)) {
            setselectorpos(mev->row - getabsbegrow() + startline);
            if (mev->keycode & BUTTON1_DOUBLE_CLICKED)
                putevent(new TuiEvent(evTASKINFO));
            ev->done = true;
        }
        break;
    }
    case evKB:
        ev->done = true;
        switch (ev->keycode) {
        case kKeyEnter:
        case KEY_ENTER:
            if (getselectedobj())
                putevent(new TuiEvent(evTASKINFO));
            break;
        case KEY_DOWN: selectordown(); break;
        case KEY_UP: selectorup(); break;
        default: ev->done = false; break;
        }
        break;
    case evPROG: {
        auto* tev = dynamic_cast<TuiEvent*>(ev);
        if (!tev)
            break;
        switch (tev->keycode) {
        case evCOLVIEWCH:
            columnmask = static_cast<int>(static_cast<unsigned>(columnmask) ^
                                          (1u << (tev->idata & 31)));
            saveopts();
            break;
        case evVIEWMODECH:
            listmode = tev->idata;
            saveopts();
            setstartline(0);
            setselectorpos(-1);
            break;
        case evSORTMODECH:
            sortmode = tev->idata;
            saveopts();
            break;
        default: break;
        }
        break;
    }
    case evTIMER:
        updatedata();
        break;
    default: break;
    }
    // Also after a rebuild: a list that became shorter than the selection loses it.
    noticeselection();
    if (ev->done || ev->type == evTIMER)
        refresh();
}
