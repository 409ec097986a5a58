#include "transferswin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>

#include "item.h"
#include "statelookup.h"
#include "ncolorpair.h"
#include "nselectlist.h"
#include "nstatictext.h"
#include "srv.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

// Column widths, but for the names'.
constexpr int kDirCols = 4;
constexpr int kSizeCols = 8;
constexpr int kDoneCols = 13;
constexpr int kSpeedCols = 11;
constexpr int kTimeCols = 8;
constexpr int kStateCols = 22; // what the window makes room for; longer ones are cut
constexpr int kFileMax = 40;

// A flag sent either as an empty element or as 0/1.
bool flagof(const Item* it)
{
    return it &&
           (it->value().find_first_not_of(" \t\r\n") == std::string::npos || it->intvalue() != 0);
}

// The client's words for the errors a transfer ends with.
std::string errortext(int status)
{
    static const struct {
        int code;
        const char* text;
    } known[] = {
        {-114, "gave up download"}, {-115, "gave up upload"},     {-119, "MD5 check failed"},
        {-128, "upload failed"},    {-131, "file too big"},       {-161, "not found"},
        {-163, "file missing"},     {-184, "HTTP error"},         {-197, "aborted"},
        {-200, "wrong size"},       {-224, "permanent HTTP error"},
    };
    for (const auto& k : known)
        if (k.code == status)
            return std::string("error: ") + k.text;
    return "error " + std::to_string(status);
}

// `text` in exactly `width` characters: cut, or padded on the right or the left.
} // namespace

std::string bytestext(double bytes)
{
    if (!std::isfinite(bytes) || bytes < 0)
        bytes = 0;
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    size_t u = 0;
    while (bytes >= 1024 && u + 1 < sizeof units / sizeof units[0]) {
        bytes /= 1024;
        ++u;
    }
    char buf[64];
    if (u == 0)
        snprintf(buf, sizeof buf, "%.0f B", bytes);
    else
        snprintf(buf, sizeof buf, bytes < 9.995 ? "%.2f %s" : bytes < 99.95 ? "%.1f %s" : "%.0f %s",
                 bytes, units[u]);
    return buf;
}

TransferRow transferrow(const Item* ft, double now)
{
    TransferRow r;
    if (!ft)
        return r;
    const Item* pfx = ft->child("persistent_file_xfer");
    const Item* fx = ft->child("file_xfer");
    r.projecturl = textof(ft, "project_url");
    r.project = textof(ft, "project_name");
    if (r.project.empty())
        r.project = r.projecturl;
    r.filename = textof(ft, "name");
    const Item* up = pfx ? pfx->child("is_upload") : nullptr;
    if (!up)
        up = ft->child("is_upload");
    if (!up)
        up = ft->child("generated_locally"); // what older clients said of an upload
    r.upload = flagof(up);
    r.nbytes = numberof(ft, "nbytes");
    r.timesofar = numberof(pfx, "time_so_far");
    r.active = fx != nullptr || flagof(ft->child("xfer_active"));
    r.done = fx ? numberof(fx, "bytes_xferred") : numberof(pfx, "last_bytes_xferred");
    r.speed = fx ? numberof(fx, "xfer_speed") : 0;

    const int status = ft->child("status") ? ft->child("status")->intvalue() : 0;
    const double retry = numberof(pfx, "next_request_time") - now;
    const double backoff = numberof(ft, "project_backoff");
    if (status < 0) {
        r.failed = true;
        r.state = errortext(status);
    } else if (r.active) {
        r.state = "active";
    } else if (backoff >= 1 && backoff > retry) {
        // The project holds every transfer back for longer than this one's own wait.
        r.state = "project backoff " + shortduration(backoff);
    } else if (retry >= 1) {
        r.state = "retry in " + shortduration(retry);
    } else {
        r.state = "pending";
    }
    return r;
}

std::vector<std::string> transfercells(const TransferRow& r)
{
    double percent = r.nbytes > 0 ? r.done / r.nbytes * 100 : 0;
    percent = std::min(std::max(percent, 0.0), 100.0);
    char pct[16];
    snprintf(pct, sizeof pct, "%.0f%%", std::floor(percent));
    return {
        displaytext(r.project),
        displaytext(r.filename),
        r.upload ? "up" : "down",
        bytestext(r.nbytes),
        bytestext(r.done) + " " + pct,
        r.active && r.speed > 0 ? bytestext(r.speed) + "/s" : "-",
        shortduration(r.timesofar),
        displaytext(r.state),
    };
}

int TransferLayout::width() const
{
    return project + 1 + file + 1 + kDirCols + (size ? kSizeCols + 1 : 0) +
           (done ? kDoneCols + 1 : 0) + (speed ? kSpeedCols + 1 : 0) + (time ? kTimeCols + 1 : 0) +
           1 + kStateCols;
}

TransferLayout transferlayout(int cols, int longestname)
{
    TransferLayout l;
    l.file = std::min(std::max(longestname, 12), kFileMax);
    // The file name gives up what is too much, down to `least` characters.
    auto shrinkfile = [cols](TransferLayout& t, int least) {
        t.file = std::min(t.file, std::max(least, t.file - (t.width() - cols)));
    };
    // What goes, in turn, until the line fits (or nothing more can go).
    const std::function<void(TransferLayout&)> steps[] = {
        [&](TransferLayout& t) { shrinkfile(t, 12); },
        [](TransferLayout& t) { t.project = 10; },
        [](TransferLayout& t) { t.speed = false; },
        [](TransferLayout& t) { t.time = false; },
        [&](TransferLayout& t) { shrinkfile(t, 8); },
        [](TransferLayout& t) { t.size = false; },
        [](TransferLayout& t) { t.done = false; },
    };
    for (const auto& step : steps) {
        if (l.width() <= cols)
            break;
        step(l);
    }
    return l;
}

std::string transferline(const std::vector<std::string>& cells, const TransferLayout& l)
{
    auto cell = [&cells](size_t i) { return i < cells.size() ? cells[i] : std::string(); };
    std::string out = fitcolumn(cell(0), l.project) + " " + fitcolumn(cell(1), l.file) + " " +
                      fitcolumn(cell(2), kDirCols);
    if (l.size)
        out += " " + fitcolumn(cell(3), kSizeCols, true);
    if (l.done)
        out += " " + fitcolumn(cell(4), kDoneCols, true);
    if (l.speed)
        out += " " + fitcolumn(cell(5), kSpeedCols, true);
    if (l.time)
        out += " " + fitcolumn(cell(6), kTimeCols, true);
    return out + "  " + cell(7);
}

TransfersWin::TransfersWin(Srv* s)
    : NDialog(NRect{0, 0, std::max(1, std::min(5, LINES)), std::max(1, std::min(40, COLS))},
              "File transfers"),
      srv(s)
{
    passkeys = {'T', 't'}; // its hot key closes it
    header = insert(std::make_unique<NStaticText>(NRect{1, 2, 1, std::max(1, rect.cols - 4)}));
    header->bgattr = getcolorpair(7, getbgcolor());
    list = insert(std::make_unique<NSelectList>(NRect{2, 2, std::max(1, rect.rows - 3),
                                                      std::max(1, rect.cols - 4)}));
    borderscrollbar(list, ACS_VLINE | A_BOLD);
    if (srv) {
        {
            Snapshot before(srv->filetransfersnapshots);
            openstamp = before.stamp();
        }
        srv->filetransfersnapshots.refreshpending = true;
        srv->pollfiletransfers = true;
    }
    updatedata();
    refresh();
}

TransfersWin::~TransfersWin()
{
    if (srv)
        srv->pollfiletransfers = false;
}

const TransferRow* TransfersWin::selected() const
{
    const int i = list->getselectedindex();
    if (!message.empty() || i < 0 || i >= static_cast<int>(rows.size()))
        return nullptr;
    return &rows[static_cast<size_t>(i)];
}

void TransfersWin::updatedata()
{
    // The selection follows its transfer when the list changes around it.
    std::string selurl, selname;
    int selindex = list->getselectedindex();
    if (const TransferRow* sel = selected()) {
        selurl = sel->projecturl;
        selname = sel->filename;
    }
    rows.clear();
    message.clear();
    if (!srv) {
        message = "No host";
    } else if (!srv->isonline()) {
        message = "Host offline";
    } else {
        Snapshot snap(srv->filetransfersnapshots);
        if (!snap || snap.stamp() == openstamp) {
            message = "Fetching file transfers...";
        } else if (const Item* all = snap->find("file_transfers")) {
            const double now = static_cast<double>(std::time(nullptr));
            for (const Item* ft : all->children("file_transfer"))
                rows.push_back(transferrow(ft, now));
            if (rows.empty())
                message = "No file transfers";
        } else {
            const SrvAnswer a = answerof(snap.get());
            message = "File transfers: " +
                      displaytext(a.isok() ? std::string("no list in the reply") : a.text);
        }
    }

    const int bg = getbgcolor();
    const int cyan = getcolorpair(6, bg) | A_BOLD;
    const int white = getcolorpair(7, bg) | A_BOLD;
    const int red = getcolorpair(1, bg) | A_BOLD;
    const int yellow = getcolorpair(3, bg) | A_BOLD;
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size());
    int widest = 0;
    for (const TransferRow& r : rows) {
        cells.push_back(transfercells(r));
        widest = std::max(widest, mbstrlen(cells.back()[1]));
    }
    // The frame and a blank on each side take four columns; two more stay free around it.
    layout = transferlayout(COLS - 6, widest);
    header->settext(cyan, "%s",
                    transferline({"Project", "File", "Dir", "Size", "Done", "Speed", "Time", "State"},
                                 layout)
                        .c_str());
    list->clearcontent();
    if (!message.empty()) {
        list->addstring(nullptr, std::make_unique<NAttrString>(white, "%s", message.c_str()));
        list->setselectorpos(-1);
    } else {
        for (size_t i = 0; i < rows.size(); ++i) {
            auto line = std::make_unique<NAttrString>();
            line->appendtext(rows[i].failed ? red : rows[i].active ? yellow : white,
                             transferline(cells[i], layout));
            list->addstring(&rows[i], std::move(line));
        }
        int at = -1;
        for (size_t i = 0; i < rows.size() && !selname.empty(); ++i)
            if (rows[i].projecturl == selurl && rows[i].filename == selname)
                at = static_cast<int>(i);
        if (at < 0)
            at = std::min(std::max(selindex, 0), static_cast<int>(rows.size()) - 1);
        list->setselectorpos(at);
    }
    fitsize();
    list->setneedrefresh();
}

void TransfersWin::fitsize()
{
    const int lines = std::max(1, list->getstringcount());
    const int listrows = std::max(1, std::min(lines, LINES - 8));
    const int rowsnow = std::min(listrows + 3, std::max(LINES, 1));
    const int colsnow = std::max(1, std::min(layout.width() + 4, COLS - 2));
    if (rowsnow == rect.rows && colsnow == rect.cols)
        return;
    refit(rowsnow, colsnow);
    header->resize(1, std::max(1, colsnow - 4));
    list->resize(std::max(1, rowsnow - 3), std::max(1, colsnow - 4));
    centre();
    setneedrefresh();
}

void TransfersWin::moveselection(int delta)
{
    if (rows.empty())
        return;
    const int last = static_cast<int>(rows.size()) - 1;
    const int from = list->getselectedindex();
    const int to = std::min(std::max(from + delta, 0), last);
    // One step at a time, so the list scrolls the selection into view as it goes.
    for (int i = from; i < to; ++i)
        list->selectordown();
    for (int i = from; i > to; --i)
        list->selectorup();
}

void TransfersWin::handlekey(int key)
{
    const TransferRow* sel = selected();
    switch (key) {
    case KEY_UP:
        moveselection(-1);
        break;
    case KEY_DOWN:
        moveselection(1);
        break;
    case KEY_PPAGE:
        moveselection(-std::max(1, list->rect.rows - 1));
        break;
    case KEY_NPAGE:
        moveselection(std::max(1, list->rect.rows - 1));
        break;
    case 'R':
    case 'r':
        if (sel && srv) {
            auto ev = std::make_unique<TuiEvent>(evCLIENTOP, srv, sel->projecturl, sel->filename);
            ev->idata = opRETRYTRANSFER;
            putevent(ev.release());
        }
        break;
    case 'A':
    case 'a':
        if (sel && srv)
            putevent(std::make_unique<TuiEvent>(evABORTTRANSFER, srv, sel->projecturl, sel->filename)
                         .release());
        break;
    default:
        break; // swallowed while the window is open
    }
}
