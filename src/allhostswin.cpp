#include "allhostswin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "ncolorpair.h"
#include "nselectlist.h"
#include "nstatictext.h"
#include "ptrlist.h"
#include "srv.h"
#include "srvlist.h"
#include "taskformat.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

// Columns: title, width, right-aligned.
struct Column {
    const char* title;
    int width;
    bool right;
};
enum { cMark, cLabel, cAddress, cState, cVersion, cMode, cTasks, cErrors, cDeadline, cCredit, cAge, cCount };
const Column kColumns[cCount] = {
    {"", 1, false},          {"label", 12, false},  {"host:port", 21, false},
    {"state", 12, false},    {"version", 7, false}, {"run mode", 12, false},
    {"tasks", 9, true},      {"err", 3, true},      {"deadline", 8, false},
    {"credit", 9, true},     {"answered", 8, false},
};

int linewidth()
{
    int w = 0;
    for (const Column& c : kColumns)
        w += c.width + 1;
    return w - 1;
}

// Problems first: what the window is opened for is finding the host that needs a look.
int staterank(HostState s)
{
    switch (s) {
    case HostState::offline: return 0;
    case HostState::noanswer: return 1;
    case HostState::unauthorized: return 2;
    case HostState::connecting: return 3;
    case HostState::online: return 4;
    }
    return 5;
}

// In the width of the task list's times: "42s", "5m", "3h", "2d".
std::string compactduration(long long s)
{
    return s <= 99 ? std::to_string(std::max(s, 0LL)) + "s" : formatduration(s);
}

std::string credittext(double credit)
{
    char buf[32];
    if (std::fabs(credit) < 1e7)
        snprintf(buf, sizeof buf, "%.1f", credit);
    else
        snprintf(buf, sizeof buf, "%.3g", credit);
    return buf;
}

// The window's rows: the frame, the column titles, one row per host (at least one).
int wantedrows(size_t hosts)
{
    const int want = static_cast<int>(std::min<size_t>(std::max<size_t>(hosts, 1), 10000)) + 3;
    return std::max(std::min(want, LINES - 2), std::min(4, LINES));
}

int wantedcols()
{
    return std::max(std::min(linewidth() + 2, COLS), std::min(10, COLS));
}

NRect startrect(size_t hosts)
{
    const int rows = wantedrows(hosts);
    const int cols = wantedcols();
    return NRect{std::max(0, LINES / 2 - rows / 2), std::max(0, COLS / 2 - cols / 2), rows, cols};
}

} // namespace

const char* hoststatetext(HostState state)
{
    switch (state) {
    case HostState::connecting: return "connecting";
    case HostState::online: return "online";
    case HostState::offline: return "offline";
    case HostState::unauthorized: return "unauthorized";
    case HostState::noanswer: return "no answer";
    }
    return "?";
}

std::string runmodetext(const HostFigures& f)
{
    static const char* const words[] = {"-", "always", "auto", "never"};
    if (f.taskmode < 1 || f.taskmode > 3)
        return "-";
    // Under a minute left shows as the minute it still is, not as "0s".
    const long long delay = static_cast<long long>(std::min(f.taskmodedelay, 1e9));
    if (delay <= 0)
        return words[f.taskmode];
    std::string left = delay < 60 ? std::string("1m") : formatduration(delay);
    return (f.taskmode == 3 ? std::string("snoozed") : std::string(words[f.taskmode])) + " " + left;
}

std::string timelefttext(double deadline, long long now)
{
    if (!std::isfinite(deadline))
        return "-";
    const double left = deadline - static_cast<double>(now);
    if (left <= 0)
        return "late";
    return compactduration(static_cast<long long>(std::min(left, 1e12)));
}

std::string agotext(long long when, long long now)
{
    if (when <= 0)
        return "-";
    return compactduration(now - when) + " ago";
}

const char* sortname(int mode)
{
    switch (mode) {
    case kSortState: return "state";
    case kSortDeadline: return "deadline";
    case kSortErrors: return "errors";
    default: return "list order";
    }
}

std::vector<std::string> hostcolumns(const HostRow& row, long long now)
{
    const HostStatus& s = row.status;
    const HostFigures& f = s.figures;
    const bool known = s.hasfigures;
    std::string c[cCount];
    c[cMark] = row.current ? "*" : "";
    c[cLabel] = displaytext(row.label);
    c[cAddress] = displaytext(row.address);
    c[cState] = hoststatetext(s.state);
    c[cVersion] = known && !f.version.empty() ? f.version : "-";
    c[cMode] = known ? runmodetext(f) : "-";
    c[cTasks] = known && f.hastasks ? std::to_string(f.running) + "/" + std::to_string(f.total) : "-";
    c[cErrors] = known && f.hastasks ? std::to_string(f.errors) : "-";
    c[cDeadline] = known && f.hasdeadline ? timelefttext(f.deadline, now) + (f.atrisk ? " !" : "") : "-";
    c[cCredit] = known && f.hascredit ? credittext(f.credit) : "-";
    c[cAge] = agotext(s.lastanswer, now);
    std::vector<std::string> out;
    for (int i = 0; i < cCount; ++i)
        out.push_back(fitcolumn(c[i], kColumns[i].width, kColumns[i].right));
    return out;
}

std::string hostlinetext(const HostRow& row, long long now)
{
    std::string line;
    for (const std::string& c : hostcolumns(row, now))
        line += (line.empty() ? "" : " ") + c;
    return line;
}

std::unique_ptr<NAttrString> hostline(const HostRow& row, long long now)
{
    const int bg = getbgcolor();
    const int white = getcolorpair(COLOR_WHITE, bg) | A_BOLD;
    const int plain = getcolorpair(COLOR_WHITE, bg);
    const int red = getcolorpair(COLOR_RED, bg) | A_BOLD;
    const int green = getcolorpair(COLOR_GREEN, bg) | A_BOLD;
    const int yellow = getcolorpair(COLOR_YELLOW, bg) | A_BOLD;
    const HostStatus& s = row.status;
    // Figures that no longer come in are shown, but not as bright as fresh ones.
    const int figures = s.state == HostState::online ? white : plain;
    const std::vector<std::string> c = hostcolumns(row, now);
    auto line = std::make_unique<NAttrString>();
    line->reserve(2 * cCount);
    for (int i = 0; i < cCount; ++i) {
        int attr = figures;
        if (i == cMark)
            attr = yellow;
        else if (i == cLabel || i == cAddress)
            attr = white;
        else if (i == cState)
            attr = s.state == HostState::online ? green : s.state == HostState::connecting ? yellow : red;
        else if (i == cErrors && s.hasfigures && s.figures.hastasks && s.figures.errors > 0)
            attr = red;
        else if (i == cDeadline && s.hasfigures && s.figures.atrisk)
            attr = red;
        line->appendtext(attr, (i ? " " : "") + c[static_cast<size_t>(i)]);
    }
    return line;
}

std::string hostheader()
{
    std::string line;
    for (int i = 0; i < cCount; ++i)
        line += (i ? " " : "") + fitcolumn(kColumns[i].title, kColumns[i].width, kColumns[i].right);
    return line;
}

bool hostbefore(int mode, const HostRow& a, const HostRow& b)
{
    const HostFigures& fa = a.status.figures;
    const HostFigures& fb = b.status.figures;
    switch (mode) {
    case kSortState: {
        int ra = staterank(a.status.state), rb = staterank(b.status.state);
        if (ra != rb)
            return ra < rb;
        break;
    }
    case kSortDeadline: {
        bool ka = a.status.hasfigures && fa.hasdeadline, kb = b.status.hasfigures && fb.hasdeadline;
        if (ka != kb)
            return ka;
        if (ka && fa.deadline != fb.deadline)
            return fa.deadline < fb.deadline;
        break;
    }
    case kSortErrors: {
        bool ka = a.status.hasfigures && fa.hastasks, kb = b.status.hasfigures && fb.hastasks;
        if (ka != kb)
            return ka;
        if (ka && fa.errors != fb.errors)
            return fa.errors > fb.errors;
        break;
    }
    default:
        break;
    }
    return a.index < b.index;
}

AllHostsWin::AllHostsWin(SrvList& sl, HostPoller& hp)
    : NDialog(startrect(sl.servers.size()), "All hosts [list order]"), srvlist(sl), poller(hp)
{
    passkeys = {'O', 'o'}; // its hot key closes it
    const int inner = std::max(rect.cols - 2, 1);
    header = insert(std::make_unique<NStaticText>(NRect{1, 1, 1, inner}));
    header->bgattr = getcolorpair(COLOR_WHITE, getbgcolor());
    header->settext(getcolorpair(COLOR_CYAN, getbgcolor()) | A_BOLD, "%s", hostheader().c_str());
    list = insert(std::make_unique<NSelectList>(NRect{2, 1, std::max(rect.rows - 3, 1), inner}));
    borderscrollbar(list);
    if (Srv* cur = srvlist.current())
        wanted = cur->serial; // the selection starts on the current host
    sizedfor = srvlist.servers.size();
    sizedlines = LINES;
    sizedcols = COLS;
    updatedata();
    refresh();
}

AllHostsWin::~AllHostsWin()
{
    // Returns at once; its connections give up within a wait slice.
    poller.stop();
}

unsigned long long AllHostsWin::selectedserial() const
{
    const int i = list->getselectedindex();
    return i >= 0 && i < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(i)].serial : 0;
}

HostStatus AllHostsWin::currentstatus(Srv* srv, long long now)
{
    HostStatus s;
    s.serial = srv->serial;
    Snapshot state(srv->statesnapshots);
    Snapshot cc(srv->ccstatussnapshots);
    if (srv->unauthorized)
        s.state = HostState::unauthorized;
    else if (srv->isonline())
        s.state = HostState::online;
    else if (!state && srv->tick == 0)
        s.state = HostState::connecting; // its first pass has not ended yet
    else
        s.state = srv->reached ? HostState::noanswer : HostState::offline;
    if (state) {
        // Worked out once per snapshot: a large client's state is not walked every tick.
        if (figuresserial != srv->serial || statestamp != state.stamp() || ccstamp != cc.stamp()) {
            figures = figuresfromsnapshots(state.get(), cc.get(), static_cast<double>(now));
            figuresserial = srv->serial;
            statestamp = state.stamp();
            ccstamp = cc.stamp();
        }
        s.figures = figures;
        s.hasfigures = true;
    }
    s.lastanswer = srv->lastanswer;
    return s;
}

void AllHostsWin::updatedata()
{
    const long long now = static_cast<long long>(time(nullptr));
    Srv* cur = srvlist.current();
    std::vector<PollTarget> targets;
    for (const auto& srv : srvlist.servers)
        if (srv.get() != cur)
            targets.push_back(PollTarget{srv->serial, srv->host, srv->port, srv->password});
    poller.settargets(targets);
    const std::vector<HostStatus> polled = poller.statuses();

    rows.clear();
    rows.reserve(srvlist.servers.size());
    for (size_t i = 0; i < srvlist.servers.size(); ++i) {
        Srv* srv = srvlist.servers[i].get();
        HostRow r;
        r.index = static_cast<int>(i);
        r.serial = srv->serial;
        r.current = srv == cur;
        r.label = srv->hostid;
        r.address = srv->host + ":" + srv->port;
        if (r.current) {
            r.status = currentstatus(srv, now);
        } else {
            auto it = std::find_if(polled.begin(), polled.end(),
                                   [srv](const HostStatus& p) { return p.serial == srv->serial; });
            if (it != polled.end())
                r.status = *it;
            r.status.serial = srv->serial;
        }
        rows.push_back(std::move(r));
    }
    std::stable_sort(rows.begin(), rows.end(), [this](const HostRow& a, const HostRow& b) {
        return hostbefore(sortmode, a, b);
    });

    if (sizedfor != rows.size() || sizedlines != LINES || sizedcols != COLS) {
        sizedfor = rows.size();
        fitsize();
    }
    const int start = list->getstartline();
    list->clearcontent();
    int selected = rows.empty() ? -1 : 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        list->addstring(nullptr, hostline(rows[i], now));
        if (rows[i].serial == wanted)
            selected = static_cast<int>(i);
    }
    if (rows.empty())
        list->addstring(nullptr, std::make_unique<NAttrString>(
                                     getcolorpair(COLOR_RED, getbgcolor()) | A_BOLD, "%s", "no servers"));
    list->setstartline(start);
    select(selected);
}

void AllHostsWin::select(int index)
{
    list->setselectorpos(index);
    if (index >= 0 && index < static_cast<int>(rows.size()))
        wanted = rows[static_cast<size_t>(index)].serial;
    // Keep the selection in view.
    const int viewrows = list->rect.rows;
    int start = list->getstartline();
    if (index >= 0 && index < start)
        start = index;
    else if (index >= start + viewrows)
        start = index - viewrows + 1;
    list->setstartline(start);
    list->setneedrefresh();
}

void AllHostsWin::fitsize()
{
    const int rowsnow = wantedrows(sizedfor);
    const int cols = wantedcols();
    sizedlines = LINES;
    sizedcols = COLS;
    refit(rowsnow, cols);
    header->resize(1, std::max(cols - 2, 1));
    list->resize(std::max(rowsnow - 3, 1), std::max(cols - 2, 1));
    centre();
    setneedrefresh();
}

void AllHostsWin::switchtoselected()
{
    const unsigned long long serial = selectedserial();
    for (const auto& srv : srvlist.servers) {
        if (srv->serial == serial) {
            auto ev = std::make_unique<TuiEvent>(evSWITCHHOST, srv.get(), std::string(), std::string());
            putevent(ev.release());
            return;
        }
    }
}

void AllHostsWin::handlekey(int key)
{
    const int count = static_cast<int>(rows.size());
    const int at = list->getselectedindex();
    const int page = std::max(list->rect.rows - 1, 1);
    switch (key) {
    case KEY_UP:
        select(std::max(at - 1, 0));
        break;
    case KEY_DOWN:
        select(std::min(at + 1, count - 1));
        break;
    case KEY_PPAGE:
        select(std::max(at - page, 0));
        break;
    case KEY_NPAGE:
        select(std::min(at + page, count - 1));
        break;
    case KEY_HOME:
        select(0);
        break;
    case KEY_END:
        select(count - 1);
        break;
    case kKeyEnter:
    case '\r':
    case KEY_ENTER:
        switchtoselected();
        break;
    case 's':
    case 'S':
        sortmode = (sortmode + 1) % kSortModes;
        settitle(std::string("All hosts [") + sortname(sortmode) + "]");
        updatedata();
        break;
    default:
        break; // every other key is the window's while it is open
    }
}
