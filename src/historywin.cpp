#include "historywin.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "ncolorpair.h"
#include "nscrollbar.h"
#include "srv.h"
#include "statelookup.h"
#include "taskhistory.h"
#include "taskinfowin.h"
#include "textutil.h"

namespace {

constexpr int kDateWidth = 16; // "2026-12-09 15:01"
constexpr int64_t kDay = 86400;

// `text` cut to `width` characters and padded with blanks to exactly that many.
std::string datetext(int64_t t)
{
    std::string text = localtimetext(t, "%Y-%m-%d %H:%M");
    return text.empty() ? "?" : text;
}

std::string projectof(const HistoryEntry& e)
{
    return displaytext(e.projectname.empty() ? e.projecturl : e.projectname);
}

std::string plural(int n, const char* word)
{
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}


} // namespace

std::string historyoutcome(const HistoryEntry& e)
{
    if (!historyfailed(e))
        return "ok";
    const int x = e.exitstatus;
    // Aborted by the user, the client or the project.
    if (x == 194 || x == 202 || x == 203)
        return "aborted";
    std::string word = exitstatusword(x);
    if (!word.empty())
        return std::to_string(x) + " (" + word + ")";
    if (e.state == kAborted)
        return "aborted";
    if (e.state == kUploadFailed && x == 0)
        return "upload failed";
    return x == 0 ? std::string("computation error") : "computation error (" + std::to_string(x) + ")";
}

bool historyfailed(const HistoryEntry& e)
{
    return e.exitstatus != 0 || e.state == kComputeError || e.state == kAborted ||
           e.state == kUploadFailed;
}

HistorySummary summarizehistory(const std::vector<HistoryEntry>& entries,
                                const std::string& projecturl, int64_t now)
{
    HistorySummary s;
    for (const HistoryEntry& e : entries) {
        if (e.completedtime < now - 7 * kDay)
            break; // newest first: the rest are older still
        if (!projecturl.empty() && e.projecturl != projecturl)
            continue;
        const bool failed = historyfailed(e);
        ++s.week;
        s.weekfailed += failed;
        if (e.completedtime >= now - kDay) {
            ++s.day;
            s.dayfailed += failed;
        }
    }
    return s;
}

std::string historysummarytext(const HistorySummary& s)
{
    return "Last 24 hours: " + plural(s.day, "task") + ", " + plural(s.dayfailed, "error") +
           " | Last 7 days: " + plural(s.week, "task") + ", " + plural(s.weekfailed, "error");
}

void HistoryList::setlinecount(int n)
{
    const int first = startline;
    content.clear();
    content.reserve(static_cast<size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        content.push_back(std::make_unique<NAttrString>());
    setstartline(first);
    needrefresh = true;
}

const NAttrString* HistoryList::getstring(int i) const
{
    const NAttrString* line = NScrollView::getstring(i);
    if (line && line->empty() && make)
        make(i, const_cast<NAttrString&>(*line));
    return line;
}

void HistoryList::drawcontent()
{
    for (int r = 0; r < rect.rows; ++r)
        getstring(startline + r);
    NScrollView::drawcontent();
}

HistoryWin::HistoryWin(Srv* s)
    : NDialog(NRect{0, 0, dialogextent(LINES - 4, 10, LINES), dialogextent(COLS - 4, 40, COLS)}, "Task history"),
      srv(s)
{
    passkeys = {'H', 'h'}; // its hot key closes it
    list = insert(std::make_unique<HistoryList>(
        NRect{3, 2, std::max(rect.rows - 4, 0), std::max(rect.cols - 4, 0)},
        [this](int i, NAttrString& line) { makeline(i, line); }));
    scrollbar = insert(std::make_unique<NScrollBar>(NRect{3, rect.cols - 1, std::max(rect.rows - 4, 0), 1},
                                                    0, 0, ACS_VLINE | A_BOLD));
    list->setscrollbar(scrollbar);
    updatedata(true);
    refresh();
}

HistoryWin::~HistoryWin() = default;

void HistoryWin::layout()
{
    const int rows = std::max(rect.rows - 4 - (failure.empty() ? 0 : 1), 0);
    list->resize(rows, std::max(rect.cols - 4, 0));
    scrollbar->resize(rows, 1);
    setneedrefresh();
}

void HistoryWin::updatedata(bool force)
{
    std::shared_ptr<const std::vector<HistoryEntry>> fresh;
    std::string why;
    if (srv) {
        fresh = srv->history.entries();
        why = srv->history.error();
    }
    if (!force && fresh == data && why == failure) {
        // The counts of the last day and week move on with the clock.
        if (data)
            summaryline = historysummarytext(summarizehistory(*data, projectfilter, time(nullptr)));
        return;
    }
    const bool relayout = why != failure || force;
    data = std::move(fresh);
    failure = std::move(why);

    // The projects to cycle through, named as their newest entry names them.
    std::map<std::string, std::string> names;
    shown.clear();
    if (data) {
        for (const HistoryEntry& e : *data) {
            names.emplace(e.projecturl, projectof(e));
            if ((projectfilter.empty() || e.projecturl == projectfilter) && (!failedonly || historyfailed(e)))
                shown.push_back(&e);
        }
    }
    projects.assign(names.begin(), names.end());
    std::stable_sort(projects.begin(), projects.end(), [](const auto& a, const auto& b) {
        return asciilower(a.second) < asciilower(b.second);
    });

    // Columns as wide as their widest text, within limits; the task name takes the rest.
    projectwidth = 7, appwidth = 11, taskwidth = 4, outcomewidth = 7, elapsedwidth = 7, cpuwidth = 3;
    for (const HistoryEntry* e : shown) {
        projectwidth = std::max(projectwidth, mbstrlen(projectof(*e)));
        appwidth = std::max(appwidth, mbstrlen(displaytext(e->appname)));
        taskwidth = std::max(taskwidth, mbstrlen(displaytext(e->taskname)));
        outcomewidth = std::max(outcomewidth, static_cast<int>(historyoutcome(*e).size()));
        elapsedwidth = std::max(elapsedwidth, static_cast<int>(readableduration(e->elapsedtime).size()));
        cpuwidth = std::max(cpuwidth, static_cast<int>(readableduration(e->cputime).size()));
    }
    projectwidth = std::min(projectwidth, 24);
    appwidth = std::min(appwidth, 24);
    outcomewidth = std::min(outcomewidth, 32);
    // Too wide for the window: the text columns give up characters in turn, the one with
    // the most to spare first, down to what still reads.
    const int room = rect.cols - 4 - kDateWidth - elapsedwidth - cpuwidth - 12;
    struct Column { int* width; int least; };
    Column shrinkable[] = {{&taskwidth, 20}, {&outcomewidth, 17}, {&appwidth, 11}, {&projectwidth, 10}};
    int total = projectwidth + appwidth + taskwidth + outcomewidth;
    while (total > room) {
        Column* most = nullptr;
        for (Column& c : shrinkable)
            if (*c.width > c.least && (!most || *c.width - c.least > *most->width - most->least))
                most = &c;
        if (!most)
            break; // the line is cut at the window's edge
        --*most->width;
        --total;
    }

    headerline = fitcolumn("Completed", kDateWidth) + "  " + fitcolumn("Project", projectwidth) + "  " +
                 fitcolumn("Application", appwidth) + "  " + fitcolumn("Task", taskwidth) + "  " +
                 fitcolumn("Outcome", outcomewidth) + "  " + fitcolumn("Elapsed", elapsedwidth, true) +
                 "  " + fitcolumn("CPU", cpuwidth, true);
    summaryline = data ? historysummarytext(summarizehistory(*data, projectfilter, time(nullptr)))
                       : std::string("No host");

    if (relayout)
        layout();
    list->setlinecount(static_cast<int>(shown.size()));
    if (shown.empty()) {
        const int dim = getcolorpair(7, getbgcolor());
        const char* text = !srv ? "" : data && !data->empty() ? "No tasks match the filter."
                                                               : "No finished tasks recorded yet.";
        list->clearcontent();
        list->addstring(std::make_unique<NAttrString>(dim, "%s", text));
    }
    setneedrefresh();
}

void HistoryWin::makeline(int index, NAttrString& line) const
{
    if (index < 0 || index >= static_cast<int>(shown.size()))
        return;
    const HistoryEntry& e = *shown[static_cast<size_t>(index)];
    const bool failed = historyfailed(e);
    const int bg = getbgcolor();
    const int attr = failed ? getcolorpair(1, bg) | A_BOLD : getcolorpair(7, bg) | A_BOLD;
    std::string text = fitcolumn(datetext(e.completedtime), kDateWidth) + "  " +
                       fitcolumn(projectof(e), projectwidth) + "  " +
                       fitcolumn(displaytext(e.appname), appwidth) + "  " +
                       fitcolumn(displaytext(e.taskname), taskwidth) + "  " +
                       fitcolumn(historyoutcome(e), outcomewidth) + "  " +
                       fitcolumn(readableduration(e.elapsedtime), elapsedwidth, true) + "  " +
                       fitcolumn(readableduration(e.cputime), cpuwidth, true);
    // Cut at the list's edge, so that a narrow screen does not wrap it into the next row.
    mbstrtrunc(text, std::max(list->rect.cols, 1));
    line.appendtext(attr, std::move(text));
}

std::string HistoryWin::filtertext() const
{
    std::string text;
    if (!projectfilter.empty()) {
        auto it = std::find_if(projects.begin(), projects.end(),
                               [this](const auto& p) { return p.first == projectfilter; });
        text += "  Project: " + (it == projects.end() ? displaytext(projectfilter) : it->second);
    }
    if (failedonly)
        text += "  Errors only";
    return text;
}

void HistoryWin::drawframe()
{
    NDialog::drawframe();
    const int width = std::max(rect.cols - 4, 0);
    const int bg = getbgcolor();
    auto put = [&](int row, int attr, std::string text) {
        if (row <= 0 || row >= rect.rows - 1)
            return;
        wattrset(win, attr);
        mvwaddstr(win, row, 2, fitcolumn(std::move(text), width).c_str());
    };
    std::string filter = filtertext();
    std::string summary = fitcolumn(summaryline, std::max(width - mbstrlen(filter), 0));
    put(1, getcolorpair(6, bg) | A_BOLD, summary + filter);
    if (!filter.empty() && mbstrlen(summary) < width) {
        wattrset(win, getcolorpair(3, bg) | A_BOLD);
        mvwaddstr(win, 1, 2 + mbstrlen(summary), fitcolumn(filter, width - mbstrlen(summary)).c_str());
    }
    put(2, getcolorpair(6, bg) | A_BOLD, headerline);
    if (!failure.empty())
        put(rect.rows - 2, getcolorpair(1, bg) | A_BOLD, displaytext(failure));
    wattrset(win, frameattr);
}

void HistoryWin::handlekey(int key)
{
    const int page = std::max(list->rect.rows - 1, 1);
    switch (key) {
    case KEY_UP: list->scrollto(-1); break;
    case KEY_DOWN: list->scrollto(1); break;
    case KEY_PPAGE: list->scrollto(-page); break;
    case KEY_NPAGE: list->scrollto(page); break;
    case KEY_HOME: list->setstartline(0); break;
    case KEY_END: list->setstartline(list->getstringcount()); break;
    case 'f':
    case 'F': {
        // All, then each project in turn, then all again.
        auto it = std::find_if(projects.begin(), projects.end(),
                               [this](const auto& p) { return p.first == projectfilter; });
        if (projectfilter.empty())
            it = projects.begin();
        else if (it != projects.end())
            ++it;
        projectfilter = it == projects.end() ? std::string() : it->first;
        list->setstartline(0);
        updatedata(true);
        break;
    }
    case 'e':
    case 'E':
        failedonly = !failedonly;
        list->setstartline(0);
        updatedata(true);
        break;
    default:
        return; // swallowed while the window is open
    }
    list->setneedrefresh();
}
