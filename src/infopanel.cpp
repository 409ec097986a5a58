#include "infopanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config.h"
#include "ndraw.h"
#include "ncolorpair.h"
#include "srv.h"
#include "statelookup.h"
#include "taskformat.h"
#include "textutil.h"

namespace {

constexpr double kGiB = 1073741824.0;

// A missing value counts as 0, like an empty one.
double numberof(const Item* parent, const char* name)
{
    Item* it = parent->find(name);
    return it ? it->doublevalue() : 0.0;
}

// Two figures are shown apart only when they differ by more than one credit.
bool differ(double a, double b)
{
    return std::fabs(a - b) > 1.0;
}

// `value` in at most `width` characters: fixed-point as usual, in exponent form when the
// number is too large for the column, so that a wild value never breaks the panel's rows.
std::string fitnumber(double value, int width, int decimals)
{
    char buf[512];
    int n = snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
    if (n >= 0 && n <= width)
        return buf;
    for (int precision = width; precision >= 0; --precision) {
        n = snprintf(buf, sizeof buf, "%*.*e", width, precision, value);
        if (n >= 0 && n <= width)
            return buf;
    }
    return buf;
}

// A label and a number filling exactly `width` characters: the number takes what the
// label leaves, and a number longer than that eats into the label's padding only.
std::string labelled(const char* label, const std::string& number, int width)
{
    int pad = width - static_cast<int>(strlen(label)) - static_cast<int>(number.size());
    return std::string(label) + std::string(static_cast<size_t>(std::max(pad, 0)), ' ') + number;
}

std::string countline(const char* label, int n)
{
    return labelled(label, std::to_string(n), 20);
}

std::string storageline(const char* label, double bytes)
{
    return labelled(label, fitnumber(bytes / kGiB, 8, 2), 18) + "Gb";
}

std::string creditline(const char* label, double credit)
{
    return labelled(label, fitnumber(credit, 10, 0), 20);
}

std::string datetext(int64_t day)
{
    return localtimetext(day, "%-e %b");
}

// Daily entries newest first; entries without a usable day go last.
void sortnewestfirst(std::vector<Item*>& days)
{
    struct Entry {
        Item* item;
        bool hasday;
        double day;
    };
    std::vector<Entry> entries;
    entries.reserve(days.size());
    for (Item* d : days) {
        Item* day = d->find("day");
        double v = day ? day->doublevalue() : 0.0;
        entries.push_back({d, day && !std::isnan(v), v});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.hasday != b.hasday)
            return a.hasday;
        return a.hasday && a.day > b.day;
    });
    for (size_t i = 0; i < days.size(); ++i)
        days[i] = entries[i].item;
}

// The ordering key of a project's newest gain; a sum that is not a number comes last.
double gainkey(const ProjectStat& p)
{
    double sum = p.userdaily + p.hostdaily;
    return std::isnan(sum) ? -INFINITY : sum;
}

} // namespace

std::string dayword(int64_t day)
{
    int64_t today = static_cast<int64_t>(std::time(nullptr)) / 86400;
    if (day / 86400 == today)
        return "today";
    if (day / 86400 + 1 == today)
        return "yesterday";
    return std::string();
}

void InfoPanel::countresults(const Item* statetree, uint64_t stamp)
{
    nactive = nrun = nwait = ndone = 0;
    Item* cs = statetree->find("client_state");
    if (!cs)
        return;
    // The fields the task list gathers from the same snapshot on the same tick.
    const StateResults& state = stateresults(stamp, cs);
    nall = static_cast<int>(state.results.size());
    for (const TaskFields& f : state.fields) {
        if (f.readytoreport)
            ++ndone;
        if (f.activetask) {
            ++nactive;
            if (f.activetaskstate && f.activetaskstate->intvalue() == 1)
                ++nrun;
        }
        if (!f.readytoreport && !f.activetask)
            ++nwait;
    }
    nother = nall - nrun - ndone - nwait;
    needrefresh = true;
}

void InfoPanel::readdisk(const Item* disktree)
{
    Item* summary = disktree->find("disk_usage_summary");
    if (!summary)
        return;
    dtotal = numberof(summary, "d_total");
    dfree = numberof(summary, "d_free");
    dboinc = numberof(summary, "d_boinc");
    dallowed = numberof(summary, "d_allowed");
    for (Item* p : summary->children("project"))
        dboinc += numberof(p, "disk_usage");
}

void InfoPanel::summarisestatistics(const Item* statstree)
{
    StatsSummary sum;
    Item* statistics = statstree->find("statistics");
    std::vector<Item*> perproject;
    if (statistics)
        perproject = statistics->children("project_statistics");

    // The newest day of all projects, from the very tree summed up below.
    for (Item* ps : perproject)
        for (Item* ds : ps->children("daily_statistics"))
            if (Item* day = ds->find("day"))
                sum.laststatday = std::max(sum.laststatday, secondsfromdouble(day->doublevalue()));

    double todayuser = 0, todayhost = 0, prevuser = 0, prevhost = 0;
    for (Item* ps : perproject) {
        StatsSummary::Project entry;
        Item* url = ps->find("master_url");
        entry.hasurl = url != nullptr;
        if (url)
            entry.url = url->value();
        ProjectStat& stat = entry.stat;

        std::vector<Item*> days = ps->children("daily_statistics");
        sortnewestfirst(days);
        if (!days.empty()) {
            for (auto it = days.rbegin(); it != days.rend(); ++it) {
                Item* day = (*it)->find("day");
                if (day && day->doublevalue() == static_cast<double>(sum.laststatday)) {
                    todayuser += numberof(*it, "user_total_credit");
                    todayhost += numberof(*it, "host_total_credit");
                    if (days.size() >= 2) {
                        prevuser += numberof(days[1], "user_total_credit");
                        prevhost += numberof(days[1], "host_total_credit");
                    }
                    break;
                }
            }
            const Item* newest = days[0];
            stat.usertotal = numberof(newest, "user_total_credit");
            stat.hosttotal = numberof(newest, "host_total_credit");
            stat.day = secondsfromdouble(numberof(newest, "day"));
            if (days.size() >= 2) {
                stat.userdaily = stat.usertotal - numberof(days[1], "user_total_credit");
                stat.hostdaily = stat.hosttotal - numberof(days[1], "host_total_credit");
            } else {
                // Only one entry: all its credit is the gain, as in the host's sum above.
                stat.userdaily = stat.usertotal;
                stat.hostdaily = stat.hosttotal;
            }
            sum.usertotal += stat.usertotal;
            sum.useravg += numberof(newest, "user_expavg_credit");
            sum.hosttotal += stat.hosttotal;
            sum.hostavg += numberof(newest, "host_expavg_credit");
        }
        sum.projects.push_back(std::move(entry));
    }
    sum.userdaily = todayuser - prevuser;
    sum.hostdaily = todayhost - prevhost;

    // The order needs only the statistics: names and flags do not take part in it.
    std::stable_sort(sum.projects.begin(), sum.projects.end(),
                     [](const StatsSummary::Project& a, const StatsSummary::Project& b) {
                         if (a.stat.day != b.stat.day)
                             return a.stat.day > b.stat.day;
                         return gainkey(a.stat) > gainkey(b.stat);
                     });
    stats = std::move(sum);
}

void InfoPanel::readstatistics(const Item* statstree, uint64_t stamp, const Item* statetree)
{
    // Statistics arrive every few minutes, the state every two seconds: what comes from
    // the statistics alone is worked out once per snapshot.
    if (stamp == 0 || stamp != statsstamp) {
        summarisestatistics(statstree);
        statsstamp = stamp;
    }
    laststatday = stats.laststatday;
    usertotal = stats.usertotal;
    useravg = stats.useravg;
    hosttotal = stats.hosttotal;
    hostavg = stats.hostavg;
    userdaily = stats.userdaily;
    hostdaily = stats.hostdaily;

    Item* clientstate = statetree ? statetree->find("client_state") : nullptr;
    // Indexed once: looking each project up in the whole state would walk every task of
    // it again, per project.
    const StateIndex index(clientstate);
    projects.clear();
    for (const StatsSummary::Project& entry : stats.projects) {
        ProjectStat stat = entry.stat;
        stat.name = "???";
        if (!clientstate && entry.hasurl && statetree)
            stat.name = "ERR2"; // what projectnamebyurl gives for a state without client_state
        else if (const std::string* name = entry.hasurl ? index.projectname(entry.url) : nullptr)
            stat.name = *name;
        if (const Item* p = index.projectbyname(stat.name)) {
            if (p->find("suspended_via_gui"))
                stat.flags += "[Susp.] ";
            if (p->find("dont_request_more_work"))
                stat.flags += "[N.N.Tsk.] ";
        }
        projects.push_back(std::move(stat));
    }
}

void InfoPanel::updatedata()
{
    if (!srv || srv->statesnapshots.empty())
        return;
    Snapshot state(srv->statesnapshots);
    if (!state)
        return;
    countresults(state.get(), state.stamp());
    if (srv->diskusagesnapshots.empty())
        return;
    Snapshot disk(srv->diskusagesnapshots);
    if (disk)
        readdisk(disk.get());
    if (srv->statisticssnapshots.empty())
        return;
    Snapshot statstree(srv->statisticssnapshots);
    if (statstree)
        readstatistics(statstree.get(), statstree.stamp(), state.get());
}

void InfoPanel::eventhandle(NEvent* ev)
{
    if (ev->done || ev->type != evTIMER)
        return;
    updatedata();
    refresh();
}

int InfoPanel::putline(int row, int attr, const std::string& text)
{
    if (row < 0 || row >= rect.rows)
        return row + 1;
    std::string shown = displaytext(text);
    mbstrtrunc(shown, rect.cols);
    wattrset(win, attr);
    wmove(win, row, 0);
    wclrtoeol(win);
    waddstr(win, shown.c_str());
    return row + 1;
}

int InfoPanel::putpair(int row, int attr, const char* one, const char* user, const char* host,
                       double u, double h)
{
    if (!differ(u, h))
        return putline(row, attr, creditline(one, u));
    row = putline(row, attr, creditline(user, u));
    return putline(row, attr, creditline(host, h));
}

int InfoPanel::putdate(int row, int attr, int64_t day)
{
    return putline(row, attr, datetext(day) + " " + dayword(day));
}

int InfoPanel::putgain(int row, int attr, double u, double h, double single)
{
    const bool ascii = lineDrawMode == 1;
    // `text` follows two line-drawing characters, or their ASCII stand-ins.
    auto gainline = [&](chtype first, const char* asciihead, const std::string& text) {
        if (ascii)
            return putline(row, attr, asciihead + text);
        std::string shown = text;
        mbstrtrunc(shown, std::max(rect.cols - 2, 1));
        if (row >= 0 && row < rect.rows) {
            wattrset(win, attr);
            wmove(win, row, 0);
            wclrtoeol(win);
            waddch(win, first);
            waddch(win, ACS_HLINE);
            waddstr(win, shown.c_str());
        }
        return row + 1;
    };
    if (differ(u, h)) {
        row = gainline(ACS_LTEE, "+-", ">" + labelled("user", fitnumber(u, 10, 0), 17));
        return gainline(ACS_LLCORNER, "+-", ">" + labelled("host", fitnumber(h, 10, 0), 17));
    }
    return gainline(ACS_LLCORNER, "--", ">" + labelled("daily", fitnumber(single, 10, 0), 17));
}

void InfoPanel::refresh()
{
    if (!srv)
        return;
    const int white = getcolorpair(7, getbgcolor());
    if (srv->statesnapshots.empty()) {
        needrefresh = true;
        werase(win);
        wattrset(win, white);
        std::string where = displaytext(srv->host + ":" + srv->port);
        mvwaddstr(win, 0, 0, where.c_str());
        waddstr(win, "\noffline");
        NView::refresh();
        return;
    }
    auto heading = [&](int row, const char* text) {
        if (row >= rect.rows)
            return;
        wattrset(win, white | A_REVERSE);
        wmove(win, row, 0);
        wclrtoeol(win);
        waddnstr(win, text, rect.cols);
    };
    heading(0, "       Tasks        ");
    putline(1, white, countline("all", nall));
    putline(2, white, countline("active", nactive));
    putline(3, white, countline("run", nrun));
    putline(4, white, countline("wait", nwait));
    putline(5, white, countline("done", ndone));
    putline(6, white, countline("other", nother));
    heading(7, "      Storage       ");
    putline(8, white, storageline("total", dtotal));
    putline(9, white, storageline("free", dfree));
    putline(10, white, storageline("allowed", dallowed));
    putline(11, white, storageline("boinc", dboinc));
    heading(12, "     Statistics     ");

    int row = 13;
    row = putpair(row, white, "total", "user total", "host total", usertotal, hosttotal);
    row = putpair(row, white, "average", "user avg", "host avg", useravg, hostavg);
    row = putdate(row, white, laststatday);
    row = putgain(row, white, userdaily, hostdaily, hostdaily);
    row = putline(row, white, ""); // a blank row before the projects

    const int yellow = getcolorpair(3, getbgcolor());
    const int red = getcolorpair(1, getbgcolor());
    for (const ProjectStat& p : projects) {
        int needed = 2 + (p.flags.empty() ? 0 : 1) + (differ(p.usertotal, p.hosttotal) ? 1 : 0) +
                     (differ(p.userdaily, p.hostdaily) ? 1 : 0) + 2;
        if (rect.rows - row < needed)
            break;
        row = putline(row, yellow, p.name);
        if (!p.flags.empty())
            row = putline(row, red, p.flags);
        row = putpair(row, white, "total", "user total", "host total", p.usertotal, p.hosttotal);
        row = putdate(row, white, p.day);
        row = putgain(row, white, p.userdaily, p.hostdaily, p.userdaily);
    }
    if (row < rect.rows) {
        wmove(win, row, 0);
        wclrtobot(win);
    }
    NView::refresh();
}
