#include "statwin.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <set>

#include "ncolorpair.h"
#include "nscrollview.h"
#include "srv.h"
#include "statelookup.h"
#include "textutil.h"

namespace {

constexpr int kColumnWidth = 10;

double foundnumber(const Item* parent, const char* name)
{
    const Item* it = parent->find(name);
    return it ? it->doublevalue() : 0.0;
}

// Credit differences truncated toward zero; a loss is kept as its two's complement.
uint64_t gainof(double total, double previous)
{
    return static_cast<uint64_t>(secondsfromdouble(total - previous));
}

// `text` cut to `width` characters and padded with blanks to exactly that many, on the
// left (right-aligned) or on the right.
// The gain of the chosen kind, as the sort weighs it: a loss counts as one.
double signedgain(const StatDay& d, bool hostmode)
{
    return static_cast<double>(static_cast<int64_t>(hostmode ? d.hostgain : d.usergain));
}

// A size that leaves the screen's margin free, but on a tiny screen still `floor` (or the
// whole screen when it is smaller still): never negative, never beyond the screen.
// The size before the table is known.
int provisionalrows() { return dialogextent(LINES - 10, 6, LINES); }
int provisionalcols() { return dialogextent(COLS - 60, 4, COLS); }

NRect startrect()
{
    const int rows = provisionalrows();
    const int cols = provisionalcols();
    // Where it starts matters only until it is centred; it must fit the screen, though,
    // or ncurses would give it no window at all.
    return NRect{std::max(0, std::min(3, LINES - rows)), std::max(0, std::min(3, COLS - cols)),
                 rows, cols};
}

} // namespace

std::string statdaytext(int64_t day)
{
    std::string text = localtimetext(day, "%-2e %b");
    return text.empty() ? "?" : text;
}

std::string statgaintext(uint64_t gain, int width)
{
    const long long v = static_cast<long long>(static_cast<int64_t>(gain));
    char buf[64];
    int n = snprintf(buf, sizeof buf, "%*lld", width, v);
    if (n >= 0 && n <= width)
        return buf;
    for (int precision = 6; precision >= 0; --precision) {
        n = snprintf(buf, sizeof buf, "%*.*e", width, precision, static_cast<double>(v));
        if (n >= 0 && n <= width)
            return buf;
    }
    return std::string(static_cast<size_t>(std::max(width, 0)), '#');
}

StatTable buildstattable(const Item* statstree, const Item* statetree, bool hostmode)
{
    StatTable table;
    const Item* statistics = statstree ? statstree->find("statistics") : nullptr;
    if (!statistics)
        return table;
    for (const Item* ps : statistics->children("project_statistics")) {
        StatColumn column;
        const Item* url = ps->find("master_url");
        column.name = statetree ? projectnamebyurl(statetree, url ? url->value() : std::string())
                                : std::string("???");
        double prevhost = 0, prevuser = 0;
        bool first = true;
        for (const Item* ds : ps->children("daily_statistics")) {
            const double host = foundnumber(ds, "host_total_credit");
            const double user = foundnumber(ds, "user_total_credit");
            // The first entry only gives the totals the next day's gain starts from.
            if (!first) {
                StatDay d;
                d.day = secondsfromdouble(foundnumber(ds, "day"));
                d.hostgain = gainof(host, prevhost);
                d.usergain = gainof(user, prevuser);
                column.days.push_back(d);
                table.hostsums[d.day] += d.hostgain;
                table.usersums[d.day] += d.usergain;
            }
            first = false;
            prevhost = host;
            prevuser = user;
        }
        table.columns.push_back(std::move(column));
    }
    // Stable, so that projects with equal gains keep the reply's order from tick to tick;
    // a loss counts as one, not as the huge unsigned number it is stored as.
    std::vector<double> sums;
    sums.reserve(table.columns.size());
    for (const StatColumn& c : table.columns)
        sums.push_back(std::accumulate(c.days.begin(), c.days.end(), 0.0,
                                       [hostmode](double s, const StatDay& d) {
                                           return s + signedgain(d, hostmode);
                                       }));
    std::vector<size_t> order(table.columns.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&sums](size_t a, size_t b) { return sums[a] > sums[b]; });
    std::vector<StatColumn> sorted;
    sorted.reserve(order.size());
    for (size_t i : order)
        sorted.push_back(std::move(table.columns[i]));
    table.columns = std::move(sorted);
    return table;
}

std::vector<std::unique_ptr<NAttrString>> statlines(const StatTable& table, bool hostmode,
                                                    size_t first)
{
    const int bg = getbgcolor();
    const int cyan = getcolorpair(6, bg) | A_BOLD;
    const int red = getcolorpair(1, bg) | A_BOLD;
    const int white = getcolorpair(7, bg) | A_BOLD;
    std::vector<std::unique_ptr<NAttrString>> lines;

    auto header = std::make_unique<NAttrString>(cyan, "  %-*s %-*s", 8, "", 8, "Summary");
    std::set<int64_t> days;
    for (size_t i = first; i < table.columns.size(); ++i) {
        const StatColumn& c = table.columns[i];
        header->appendtext(red, " " + fitcolumn(displaytext(c.name), kColumnWidth, true) + " ");
        for (const StatDay& d : c.days)
            days.insert(d.day);
    }
    lines.push_back(std::move(header));

    // Each shown column's gain per day, from its first entry of that day: looked up once
    // per cell, also in a hostile reply of very many days.
    std::vector<std::map<int64_t, uint64_t>> cells;
    for (size_t i = first; i < table.columns.size(); ++i) {
        cells.emplace_back();
        for (const StatDay& d : table.columns[i].days)
            cells.back().emplace(d.day, hostmode ? d.hostgain : d.usergain);
    }
    const auto& sums = hostmode ? table.hostsums : table.usersums;
    const std::string none = " " + fitcolumn("-", kColumnWidth, true) + " ";
    for (auto day = days.rbegin(); day != days.rend(); ++day) {
        auto row = std::make_unique<NAttrString>();
        row->reserve(2 + cells.size());
        row->appendtext(white, fitcolumn(statdaytext(*day), kColumnWidth, false));
        auto sum = sums.find(*day);
        row->appendtext(cyan, " " + statgaintext(sum == sums.end() ? 0 : sum->second, kColumnWidth) + " ");
        for (const auto& column : cells) {
            auto cell = column.find(*day);
            // A gain of all ones shows like a day without an entry.
            if (cell == column.end() || cell->second == UINT64_MAX)
                row->appendtext(white, none);
            else
                row->appendtext(white, " " + statgaintext(cell->second, kColumnWidth) + " ");
        }
        lines.push_back(std::move(row));
    }
    return lines;
}

StatWin::StatWin(Srv* s)
    : NDialog(startrect(), "Statistics [host]"), caption(" Statistics [host] "), srv(s)
{
    passkeys = {'V', 'v'}; // its hot key closes it
    content = insert(std::make_unique<NScrollView>(
        NRect{2, 2, std::max(rect.rows - 4, 0), std::max(rect.cols - 4, 0)}));
    borderscrollbar(content);
    updatedata();
    if (!sized)
        fitsize();
    refresh();
}

StatWin::~StatWin() = default;

void StatWin::fitsize()
{
    int rows = provisionalrows();
    int viewrows = std::max(rows - 4, 0);
    if (content->getstringcount() < viewrows) {
        viewrows = content->getstringcount();
        rows = viewrows + 4;
    }
    int viewcols = content->getmaxcontentwidth();
    int cols = viewcols + 4;
    const int widest = dialogextent(COLS - 10, 26, COLS);
    if (cols > widest) {
        cols = widest;
        viewcols = std::max(cols - 4, 0);
    }
    refit(rows, cols);
    content->resize(viewrows, viewcols);
    centre();
    setneedrefresh();
}

void StatWin::updatedata()
{
    if (!srv || srv->statisticssnapshots.empty())
        return;
    const int startline = content->getstartline();
    content->clearcontent();
    columns.clear();
    {
        Snapshot state(srv->statesnapshots);
        Snapshot stats(srv->statisticssnapshots);
        StatTable table = buildstattable(stats.get(), state.get(), hostmode);
        for (auto& line : statlines(table, hostmode, static_cast<size_t>(hscroll)))
            content->addstring(std::move(line));
        columns = std::move(table.columns);
    }
    // A window opened before the host's first statistics takes its size from them once.
    if (!sized) {
        sized = true;
        fitsize();
    }
    content->setstartline(startline);
}

void StatWin::drawframe()
{
    caption = hostmode ? " Statistics [host] " : " Statistics [user] ";
    title = hostmode ? "Statistics [host]" : "Statistics [user]"; // the frame adds the blanks
    if (!srv)
        return;
    NDialog::drawframe();
}

void StatWin::handlekey(int key)
{
    switch (key) {
    case 'U':
    case 'u':
        hostmode = !hostmode;
        updatedata();
        drawframe();
        break;
    case KEY_LEFT:
        if (hscroll > 0)
            --hscroll;
        updatedata();
        break;
    case KEY_RIGHT:
        if ((static_cast<long>(columns.size()) - hscroll) * 10 + 38 > rect.cols)
            ++hscroll;
        updatedata();
        break;
    case KEY_NPAGE:
        if (!content->getautoscroll())
            content->scrollto(rect.rows / 2);
        break;
    case KEY_PPAGE:
        content->scrollto(-(rect.rows / 2));
        break;
    default:
        break; // swallowed while the window is open
    }
}

void StatWin::ontick()
{
    updatedata();
}
