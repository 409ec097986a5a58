#include "taskwin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <unordered_map>

#include "config.h"
#include "ncolorpair.h"
#include "srv.h"
#include "statelookup.h"
#include "taskformat.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

const char* const kOptionKeys[] = {"column_view_mask", "tasks_list_mode", "tasks_sort_mode"};

// Element names and state words are compared thousands of times per tick: as views, a
// length that differs settles it without reading the text.
using namespace std::string_view_literals;

bool is(const std::string& s, std::string_view word)
{
    return std::string_view(s) == word;
}

// The names shown for one state snapshot, looked up once per rebuild instead of once per
// line, and made ready to print once per project and app rather than once per task.
// Keys point into the snapshot, which the caller holds while this lives.
class StateNames {
public:
    // Column texts go into `store`, where they outlive this object (and the snapshot).
    StateNames(const Item* clientstate, bool swapshown, std::deque<std::string>& store)
        : swapshown(swapshown), store(store), index(clientstate)
    {
    }

    // The project's name as the client sent it (what sorting by project compares).
    const std::string& project(const TaskFields& f) const
    {
        static const std::string unknown = "???";
        const Item* url = f.projecturl;
        if (!url)
            return unknown;
        // Tasks of one project follow each other: the last answer is usually the one.
        if (lastname && std::string_view(url->value()) == lasturl)
            return *lastname;
        const std::string* name = index.projectname(url->value());
        lasturl = url->value();
        lastname = name ? name : &unknown;
        return *lastname;
    }

    // The project column's text: the name made safe to print, cut to 20 characters.
    const std::string* projecttext(const TaskFields& f)
    {
        const std::string& name = project(f);
        auto it = projecttexts.find(&name);
        if (it == projecttexts.end()) {
            std::string text = displaytext(name);
            mbstrtrunc(text, 20);
            store.push_back(std::move(text));
            it = projecttexts.emplace(&name, &store.back()).first;
        }
        return it->second;
    }

    // The application column's text: the app's friendly name (at most 255 bytes) made
    // safe to print, cut to 30 characters when the swap column follows.
    const std::string* application(const TaskFields& f)
    {
        const Item* app = f.wuname ? index.app(f.wuname->value()) : nullptr;
        const std::string* text = app ? shownapp(app) : nullptr;
        return text ? text : &unknownapp();
    }

private:
    const std::string* shownapp(const Item* app)
    {
        auto it = apptexts.find(app);
        if (it != apptexts.end())
            return it->second;
        const std::string* shown = nullptr;
        if (Item* friendly = app->find("user_friendly_name")) {
            store.push_back(cut(displaytext(friendly->value().substr(0, 255))));
            shown = &store.back();
        }
        apptexts.emplace(app, shown);
        return shown;
    }

    std::string cut(std::string text) const
    {
        if (swapshown)
            mbstrtrunc(text, 30);
        return text;
    }

    static const std::string& unknownapp()
    {
        static const std::string text = "unknown application"; // short enough for any cut
        return text;
    }

    bool swapshown;
    std::deque<std::string>& store;
    StateIndex index;
    mutable std::string_view lasturl; // the last URL asked for, and its answer
    mutable const std::string* lastname = nullptr;
    std::unordered_map<const std::string*, const std::string*> projecttexts; // name -> column text
    // App -> the text shown for it; null when the app has no friendly name.
    std::unordered_map<const Item*, const std::string*> apptexts;
};

bool contains(const std::string& s, const char* part)
{
    return s.find(part) != std::string::npos;
}

struct LineAttrs {
    int line;  // the whole line
    int state; // state column
    int gpu;   // done% column, before its bold
};

// Colour attributes of the tick, each asked for when first needed (so colour pairs are
// handed out in the same order as by asking line by line).
class TickColours {
public:
    explicit TickColours(int bg) : bg(bg) {}
    int operator()(int fg)
    {
        if (fg < 0 || fg >= 8)
            return getcolorpair(fg, bg);
        if (!known[fg]) {
            attrs[fg] = getcolorpair(fg, bg);
            known[fg] = true;
        }
        return attrs[fg];
    }

    // Which GPU words a plan class holds: 1 "ati" or "opencl", 2 "cuda", 4 "intel".
    // Tasks of one app follow each other and share their plan class: asked once per run.
    int gpuwords(const std::string& plan)
    {
        if (!havelastplan || plan != lastplan) {
            lastwords = (contains(plan, "ati") || contains(plan, "opencl") ? 1 : 0) |
                        (contains(plan, "cuda") ? 2 : 0) | (contains(plan, "intel") ? 4 : 0);
            lastplan = plan;
            havelastplan = true;
        }
        return lastwords;
    }

private:
    int bg;
    int attrs[8] = {};
    bool known[8] = {};
    std::string lastplan;
    bool havelastplan = false;
    int lastwords = 0;
};

LineAttrs lineattrs(const TaskFields& f, const std::string& statetext, TickColours& colour)
{
    LineAttrs a;
    a.line = colour(7);
    if (f.readytoreport || f.activetask)
        a.line |= A_BOLD;
    if (is(statetext, "Run"sv))
        a.line = colour(3) | A_BOLD;
    else if (is(statetext, "Upld"sv))
        a.line = colour(4) | A_BOLD;
    else if (is(statetext, "Dwnld"sv))
        a.line = colour(2) | A_BOLD;
    a.state = a.line;
    if (is(statetext, "WMem"sv) || is(statetext, "Abort"sv) || is(statetext, "DoneEr"sv))
        a.state = colour(1);
    a.gpu = a.line;
    if (const Item* plan = f.planclass) {
        int words = colour.gpuwords(plan->value());
        if (words & 1)
            a.gpu = colour(5);
        if (words & 2)
            a.gpu = colour(2);
        if (words & 4)
            a.gpu = colour(4);
    }
    return a;
}

bool shown(int listmode, const TaskFields& f, const std::string& statetext)
{
    switch (listmode) {
    case 0: return true;
    case 1: return !is(statetext, "Done"sv);
    case 2: return f.activetask != nullptr;
    default: return false;
    }
}

std::string donetext(bool hasdone, double done)
{
    if (!hasdone)
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
    // The lines and keys are used again by the next rebuild: thousands of them would
    // otherwise be freed and made anew on every tick.
    for (auto& line : content)
        if (line)
            spareline.push_back(std::move(line));
    for (auto& key : keys)
        sparekey.push_back(std::move(key));
    NSelectList::clearcontent();
    keys.clear();
    lines.clear();
    columntexts.clear();
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
                addlines(cs, state.stamp());
        }
    }
    setstartline(oldstart);
}

namespace {

// An object from the spares of the last rebuild, or a new one.
template <typename T>
std::unique_ptr<T> reuse(std::vector<std::unique_ptr<T>>& spares)
{
    if (spares.empty())
        return std::make_unique<T>();
    std::unique_ptr<T> p = std::move(spares.back());
    spares.pop_back();
    return p;
}

// printf's "%-Ns" and "%Ns" for texts without zero bytes: widths count bytes.
void padright(std::string& out, const std::string& text, size_t width)
{
    out += text;
    if (text.size() < width)
        out.append(width - text.size(), ' ');
}

void padleft(std::string& out, const std::string& text, size_t width)
{
    if (text.size() < width)
        out.append(width - text.size(), ' ');
    out += text;
}

std::string column(const char* lead, const std::string& text, size_t width, bool left)
{
    std::string out = lead;
    if (left)
        padright(out, text, width);
    else
        padleft(out, text, width);
    return out;
}

} // namespace

void TaskWin::addlines(const Item* clientstate, uint64_t stamp)
{
    const unsigned mask = static_cast<unsigned>(columnmask);
    auto on = [mask](int bit) { return (mask >> bit) & 1u; };
    StateNames names(clientstate, on(colSwap), columntexts);
    const StateResults& state = stateresults(stamp, clientstate);
    const std::vector<Item*>& results = state.results;
    const std::vector<TaskFields>& fields = state.fields;

    std::vector<TaskSortKey> sortkeys;
    sortkeys.reserve(results.size());
    static const std::string nothing;
    for (size_t i = 0; i < results.size(); ++i) {
        Item* r = results[i];
        const TaskFields& f = fields[i];
        const TaskNumbers& n = state.numbers[i];
        if (sortmode == 9) {
            sortkeys.push_back(maketasksortkey(r, f, n, nothing));
        } else {
            // Only sorting by task name compares the upper-cased name: spare the copy.
            TaskFields unnamed = f;
            unnamed.name = nullptr;
            sortkeys.push_back(maketasksortkey(r, unnamed, n, sortmode == 3 ? names.project(f) : nothing));
        }
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

    // Only what the filter, the colours and the keys need is worked out for every task;
    // the texts of a line are made when it is first drawn or asked for (formatline), as
    // only a screenful of thousands of lines is ever seen before the next tick.
    linesnow = clock();
    linesmask = mask;
    TickColours colour(getbgcolor());
    int counter = 1;
    for (size_t index : order) {
        const TaskFields& f = fields[index];
        const TaskSortKey& k = sortkeys[index]; // the numbers, read once for the sort
        if (!f.name)
            continue;
        std::string statetext = taskstatetext(f);
        if (!shown(listmode, f, statetext))
            continue;
        // Colours are asked for in the order the columns would ask for them.
        LineAttrs attrs = lineattrs(f, statetext, colour);
        TaskLine t;
        t.counter = counter++;
        t.lineattr = attrs.line;
        t.stateattr = attrs.state;
        t.gpuattr = attrs.gpu;
        t.estattr = t.deadlineattr = attrs.line;
        t.hasdone = k.hasdone;
        t.done = k.done;
        t.hasestimate = k.hasestimate && k.estimate >= 0;
        t.estimate = k.estimate;
        if (on(colEstimate) && t.hasestimate && is(statetext, "Run"sv) && k.estimate < 600)
            t.estattr = colour(1) | A_BOLD;
        t.hasreceived = k.hasreceived;
        t.received = k.received;
        t.hasdeadline = k.hasdeadline;
        t.deadline = k.deadline;
        if (on(colDeadline) && k.hasdeadline) {
            double left = k.deadline - static_cast<double>(linesnow);
            if (left < 172800 && !is(statetext, "Done"sv))
                t.deadlineattr = colour(4) | A_BOLD;
        }
        t.hasswap = f.swap != nullptr;
        t.swap = state.numbers[index].swap; // read even when not a number, as shown
        t.project = on(colProject) ? names.projecttext(f) : nullptr;
        t.app = on(colApplication) ? names.application(f) : nullptr;
        t.statetext = std::move(statetext);
        lines.push_back(std::move(t));

        std::unique_ptr<NAttrString> line = reuse(spareline);
        line->clear();
        std::unique_ptr<TaskKey> key = reuse(sparekey);
        key->taskname = f.name->value();
        if (f.projecturl)
            key->projecturl = f.projecturl->value();
        else
            key->projecturl.clear();
        keys.push_back(std::move(key));
        NSelectList::addstring(keys.back().get(), std::move(line));
    }
}

void TaskWin::formatline(size_t i) const
{
    TaskLine& t = lines[i];
    if (t.formatted)
        return;
    t.formatted = true;
    const unsigned mask = linesmask;
    auto on = [mask](int bit) { return (mask >> bit) & 1u; };
    int shownfragments = 0;
    for (int bit = 0; bit < colCount; ++bit)
        shownfragments += on(bit) ? 1 : 0;
    NAttrString& line = *content[i];
    line.clear();
    line.reserve(static_cast<size_t>(shownfragments));

    if (on(colNumber))
        line.appendtext(t.lineattr, column("", std::to_string(t.counter), 3, false) + "  ");
    if (on(colState))
        line.appendtext(t.stateattr, column("", t.statetext, 6, true));
    if (on(colDone))
        line.appendtext(t.gpuattr | A_BOLD, column("  ", donetext(t.hasdone, t.done), 6, false));
    if (on(colProject))
        line.appendtext(t.lineattr, column("  ", *t.project, 20, true));
    if (on(colEstimate)) {
        std::string text = t.hasestimate ? formatduration(secondsfromdouble(t.estimate)) : "?";
        line.appendtext(t.estattr, column(" ", text, 4, false));
    }
    if (on(colReceived)) {
        std::string text = "?";
        if (t.hasreceived)
            text = formatduration(secondsfromdouble(static_cast<double>(linesnow) - t.received));
        line.appendtext(t.lineattr, column(" ", text, 4, false));
    }
    if (on(colDeadline)) {
        std::string text = "?";
        if (t.hasdeadline) {
            double left = t.deadline - static_cast<double>(linesnow);
            text = left > 0 ? formatduration(secondsfromdouble(left)) : "dead";
        }
        line.appendtext(t.deadlineattr, column(" ", text, 4, false));
    }
    if (on(colApplication))
        line.appendtext(t.lineattr, column("  ", *t.app, 30, true));
    if (on(colSwap)) {
        std::string text = t.hasswap ? formatsize(bytesfromdouble(t.swap)) : " - ";
        line.appendtext(t.lineattr, column(" ", text, 5, false) + " ");
    }
    if (on(colTask))
        line.appendtext(t.lineattr, "  " + displaytext(keys[i]->taskname));
}

const NAttrString* TaskWin::getstring(int i) const
{
    if (i >= 0 && i < getstringcount())
        formatline(static_cast<size_t>(i));
    return NSelectList::getstring(i);
}

void TaskWin::drawcontent()
{
    const int count = getstringcount();
    for (int r = 0; r < rect.rows; ++r)
        if (startline + r >= 0 && startline + r < count)
            formatline(static_cast<size_t>(startline + r));
    NSelectList::drawcontent();
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
