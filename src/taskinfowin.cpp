#include "taskinfowin.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <locale>
#include <sstream>
#include <unordered_map>

#include "item.h"
#include "nattrstring.h"
#include "ncolorpair.h"
#include "nscrollbar.h"
#include "nscrollview.h"
#include "ptrlist.h"
#include "srv.h"
#include "statelookup.h"
#include "textutil.h"

namespace {

// A number with 4 significant digits, as a stream prints it by default, whatever the
// user's locale says about decimal points.
std::string fourdigits(double v)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(4);
    out << v;
    return out.str();
}

// An integer field: what atoi reads, but clamped instead of undefined on overflow.
long long intof(const Item* item)
{
    return std::strtoll(item->value().c_str(), nullptr, 10);
}

const char* wordof(long long v, std::initializer_list<std::pair<int, const char*>> words)
{
    for (const auto& w : words)
        if (w.first == v)
            return w.second;
    return "";
}

// What ctime gives, without its line end; empty for a time the calendar cannot hold
// (ctime itself would give a null pointer there).
std::string datetext(double v)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int64_t secs = secondsfromdouble(v);
    if (secs < std::numeric_limits<std::time_t>::min() || secs > std::numeric_limits<std::time_t>::max())
        return "";
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11)
        return "";
    char buf[64];
    snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld", days[tm.tm_wday], months[tm.tm_mon],
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900LL);
    return buf;
}

std::string durationtext(double v)
{
    int64_t s = secondsfromdouble(v);
    std::string sign;
    if (s < 0) {
        sign = "-";
        s = -s; // clamped well inside the range: cannot overflow
    }
    const int64_t days = s / 86400, hours = s % 86400 / 3600, mins = s % 3600 / 60, secs = s % 60;
    std::string out = sign;
    if (days != 0)
        out += std::to_string(days) + "d ";
    if (days != 0 || hours != 0)
        out += std::to_string(hours) + "h ";
    if (days != 0 || hours != 0 || mins != 0)
        out += std::to_string(mins) + "m ";
    return out + std::to_string(secs) + "s";
}

std::string sizetext(double v)
{
    double g = v / 1073741824.0;
    return g < 1 ? fourdigits(g * 1024) + "MB" : fourdigits(g) + "GB";
}

// How a number element reads.
enum class Reading { percent, date, duration, size };

// The window's size on a screen of `screen` cells: `want`, but at least `least` where the
// screen has room, and never more than the screen.
} // namespace

std::string exitstatusword(long long status)
{
    return wordof(status,
                  {{192, "exit statfile write"}, {193, "exit signal"}, {194, "aborted by client"},
                   {195, "exit child failed"}, {196, "exit disk limit exceeded"},
                   {197, "exit time limit exceeded"}, {198, "exit mem limit exceeded"},
                   {199, "exit client exiting"}, {200, "exit unstarted late"},
                   {201, "exit missing coproc"}, {202, "exit aborted by project"},
                   {203, "aborted via gui"}, {204, "exit unknown"}});
}

std::string readableduration(double seconds)
{
    return std::isfinite(seconds) ? durationtext(seconds) : std::string();
}

std::string readablevalue(const Item* item)
{
    if (!item)
        return "";
    const std::string& name = item->getname();
    if (name == "active_task_state")
        return wordof(intof(item), {{0, "uninitialized"}, {1, "executing"}, {5, "abort pending"},
                                    {8, "quit pending"}, {9, "suspended"}, {10, "copy pending"}});
    if (name == "scheduler_state")
        return wordof(intof(item), {{1, "preempted"}, {2, "scheduled"}});
    if (name == "state")
        return wordof(intof(item), {{0, "new"}, {1, "downloading"}, {2, "downloaded"},
                                    {3, "compute error"}, {4, "uploading"}, {5, "uploaded"},
                                    {6, "aborted"}, {7, "upload failed"}});
    if (name == "exit_status")
        return exitstatusword(intof(item));

    static const std::unordered_map<std::string, Reading> readings = {
        {"fraction_done", Reading::percent},
        {"received_time", Reading::date},
        {"report_deadline", Reading::date},
        {"completed_time", Reading::date},
        {"estimated_cpu_time_remaining", Reading::duration},
        {"current_cpu_time", Reading::duration},
        {"final_cpu_time", Reading::duration},
        {"final_elapsed_time", Reading::duration},
        {"checkpoint_cpu_time", Reading::duration},
        {"elapsed_time", Reading::duration},
        {"swap_size", Reading::size},
        {"working_set_size", Reading::size},
        {"working_set_size_smoothed", Reading::size},
    };
    auto it = readings.find(name);
    if (it == readings.end())
        return "";
    const double v = item->doublevalue();
    // "nan" and "inf" parse as numbers but have no reading worth showing.
    if (!std::isfinite(v))
        return "";
    switch (it->second) {
    case Reading::percent: return fourdigits(v * 100) + " %";
    case Reading::date: return datetext(v);
    case Reading::duration: return durationtext(v);
    case Reading::size: return sizetext(v);
    }
    return "";
}

TaskInfoWin::TaskInfoWin(const std::string& title, Srv* srv, const std::string& projecturl,
                         const std::string& taskname)
    : NDialog(NRect{3, 3, dialogextent(LINES - 10, 5, LINES), dialogextent(COLS - 60, 14, COLS)}, title),
      srv(srv), projecturl(projecturl), taskname(taskname)
{
    content = insert(std::make_unique<NScrollView>(
        NRect{2, 2, std::max(0, rect.rows - 4), std::max(0, rect.cols - 4)}));
    updatedata();

    // Fit the window to what it shows: no taller than its lines, as wide as the widest
    // name and value, within the screen.
    int viewrows = content->rect.rows;
    int rows = rect.rows;
    if (content->getstringcount() < viewrows) {
        viewrows = content->getstringcount();
        rows = viewrows + 4;
    }
    int viewcols = maxnamewidth + maxvaluewidth + 10;
    int cols = viewcols + 4;
    const int widest = std::max(COLS - 10, std::min(COLS, 14));
    if (cols > widest) {
        cols = widest;
        viewcols = std::max(0, cols - 4);
    }
    resize(rows, cols);
    content->resize(viewrows, viewcols);
    titlecol = std::max(0, cols / 2 - mbstrlen(title) / 2);

    scrollbar = insert(std::make_unique<NScrollBar>(NRect{1, cols - 1, viewrows + 2, 1}, 0, 0,
                                                    ACS_VLINE | A_BOLD));
    content->setscrollbar(scrollbar);
    refresh();
}

TaskInfoWin::~TaskInfoWin() = default;

void TaskInfoWin::addrows(const Item* parent, std::vector<Row>& rows)
{
    for (const auto& c : parent->getchildren()) {
        if (!c->getchildren().empty()) {
            rows.emplace_back();
            addrows(c.get(), rows);
            rows.emplace_back();
            continue;
        }
        // No line shows more than a fragment holds: a huge value costs no more than that.
        std::string value = c->value().substr(0, 4 * kMaxFragmentBytes);
        mbstrtrunc(value, static_cast<int>(kMaxFragmentBytes));
        std::string readable = readablevalue(c.get());
        if (!readable.empty())
            value += " (" + readable + ")";
        maxnamewidth = std::max(maxnamewidth, mbstrlen(displaytext(c->getname())));
        maxvaluewidth = std::max(maxvaluewidth, mbstrlen(displaytext(value)));
        rows.emplace_back(c->getname(), std::move(value));
    }
}

void TaskInfoWin::updatedata()
{
    if (!srv)
        return;
    std::vector<Row> rows;
    {
        Snapshot snap(srv->statesnapshots);
        if (!snap || !snap->find("client_state"))
            return;
        maxnamewidth = 0;
        const Item* result = findresult(snap.get(), projecturl, taskname);
        if (result) {
            const Item* url = result->child("project_url");
            rows.emplace_back("PROJECT NAME", projectnamebyurl(snap.get(), url ? url->value() : ""));
            std::string app = "unknown application";
            const Item* wu = result->child("wu_name");
            const Item* appitem = wu ? findapp(snap.get(), wu->value()) : nullptr;
            const Item* friendly = appitem ? appitem->find("user_friendly_name") : nullptr;
            if (friendly)
                app = friendly->value().substr(0, 255);
            rows.emplace_back("APP NAME", app);
            rows.emplace_back();
            addrows(result, rows);
        }
    }

    // The first row of each name in the previous rebuild is what a row is compared with.
    std::unordered_map<std::string, const std::string*> before;
    for (const auto& r : prevrows)
        before.emplace(r.first, &r.second);
    static const std::string none;
    const int plain = getcolorpair(7, getbgcolor()) | A_BOLD;
    const int changed = getcolorpair(6, getbgcolor()) | A_BOLD;

    const int first = content->getstartline();
    content->clearcontent();
    for (const auto& r : rows) {
        std::string name = displaytext(r.first);
        int pad = std::max(0, maxnamewidth - mbstrlen(name));
        name.append(static_cast<size_t>(pad), ' ');
        name += "   ";
        bool differs = false;
        if (!prevrows.empty()) {
            auto it = before.find(r.first);
            differs = (it == before.end() ? none : *it->second) != r.second;
        }
        auto line = std::make_unique<NAttrString>();
        line->appendtext(plain, std::move(name));
        line->appendtext(differs ? changed : plain, displaytext(r.second));
        content->addstring(std::move(line));
    }
    prevrows = std::move(rows);
    content->setstartline(first);
    if (content->getautoscroll())
        content->setautoscroll(true);
}

void TaskInfoWin::handlekey(int key)
{
    const int half = rect.rows / 2;
    if (key == KEY_NPAGE) {
        if (content->getautoscroll())
            return;
        const int before = content->getstartline();
        content->scrollto(half);
        if (content->getstartline() == before)
            content->setautoscroll(true);
    } else if (key == KEY_PPAGE) {
        content->scrollto(-half);
        content->setautoscroll(false);
    }
}
