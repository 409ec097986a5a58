#include "mainwin.h"

#include <algorithm>

#include "config.h"
#include "ndraw.h"
#include "infopanel.h"
#include "msgwin.h"
#include "ncolorpair.h"
#include "nline.h"
#include "nscrollbar.h"
#include "nstatictext.h"
#include "srv.h"
#include "taskformat.h"
#include "taskwin.h"
#include "textutil.h"
#include "tuievent.h"

namespace {

// Key codes of the last and the second-to-last key that reached the split handling:
// the keypad's + and - arrive as Escape, 'O', 'k' / 'm' when sent in application mode.
int keyhistory[2] = {0, 0};

// Columns taken by the scroll-bar rule, the panel and the frame at the right edge.
constexpr int kSideCols = 23;
constexpr int kPanelCols = 20;

// Sizes never go below one cell, so a tiny terminal still gets valid windows.
int atleast1(int v)
{
    return std::max(1, v);
}

} // namespace

MainWin::MainWin(const NRect& rect) : NGroup(rect)
{
    colnames = {"  #  ",
                "state ",
                "   done%%",
                "  project             ",
                "  est",
                "  rcv",
                "  dl ",
                "  application                   ",
                " swap  ",
                "  task"};
    readsplit();
    const int R = rect.rows;
    const int C = rect.cols;
    const int h = taskheight(R, wtaskheightpercent);
    const int w = atleast1(C - kSideCols);
    const int bold = A_BOLD;

    colheader = insert(std::make_unique<NStaticText>(NRect{1, 1, 1, w}));
    colheader->bgattr = getcolorpair(COLOR_WHITE, getbgcolor());
    colheader->settext(getcolorpair(COLOR_CYAN, getbgcolor()) | bold, "%s",
                       "  #  state    done%  project               est d/l   task");

    taskwin = insert(std::make_unique<TaskWin>(NRect{2, 1, atleast1(h), w}));
    msgwin = insert(std::make_unique<MsgWin>(NRect{h + 3, 1, atleast1(R - h - 4), w}));
    hline = insert(std::make_unique<NHLine>(NRect{h + 2, 1, 1, w}));
    taskscrollbar = insert(std::make_unique<NScrollBar>(NRect{0, C - 22, atleast1(h + 2), 1},
                                                        ACS_TTEE | bold, 0, ACS_VLINE | bold));
    msgscrollbar = insert(std::make_unique<NScrollBar>(NRect{h + 2, C - 22, atleast1(R - h - 2), 1},
                                                       ACS_VLINE | bold, ACS_BTEE | bold, ACS_VLINE | bold));
    panel = insert(std::make_unique<InfoPanel>(NRect{1, C - 21, atleast1(R - 2), kPanelCols}));
    taskwin->setscrollbar(taskscrollbar);
    msgwin->setscrollbar(msgscrollbar);
    updatecolheader();
}

MainWin::~MainWin() = default;

void MainWin::readsplit()
{
    Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
    if (!cfg)
        return;
    Item* it = cfg->find("wtask_height_percent");
    if (!it) {
        it = cfg->addchild(std::make_unique<Item>("wtask_height_percent"));
        it->setintvalue(5000);
    }
    wtaskheightpercent = it->intvalue();
}

int MainWin::taskheight(int rows, int percent)
{
    // Wide arithmetic: a hand-edited percentage must not overflow.
    long long x = static_cast<long long>(static_cast<double>(static_cast<long long>(rows) * percent) / 10000.0);
    if (x < 6)
        x = 5;
    return static_cast<int>(std::min<long long>(x, rows - 10));
}

int MainWin::nextpercent(int rows, int percent, bool grow)
{
    if (rows <= 0)
        return percent;
    long long x = static_cast<long long>(static_cast<double>(static_cast<long long>(rows) * percent) / 10000.0);
    if (!grow && x < 5)
        return percent;
    if (grow && rows - 10 < x)
        return percent;
    int step = static_cast<int>(10000.0 / rows);
    long long n = static_cast<long long>(percent) + (grow ? step : -step);
    if (n < 10)
        return 0;
    return static_cast<int>(std::min<long long>(n, 10000) - 10);
}

void MainWin::resize(int rows, int cols)
{
    NView::resize(rows, cols);
    const int R = rect.rows;
    const int C = rect.cols;
    const int h = taskheight(R, wtaskheightpercent);
    const int w = atleast1(C - kSideCols);

    colheader->resize(1, w);
    taskwin->resize(atleast1(h), w);
    const int taskrows = taskwin->rect.rows;
    msgwin->resize(atleast1(R - taskrows - 4), w);
    msgwin->move(taskrows + 3, 1);
    hline->resize(1, w);
    hline->move(taskrows + 2, 1);
    msgscrollbar->resize(msgwin->rect.rows + 2, 1);
    msgscrollbar->move(msgwin->rect.begrow - 1, C - 22);
    taskscrollbar->resize(taskrows + 2, 1);
    taskscrollbar->move(taskwin->rect.begrow - 2, C - 22);
    panel->resize(atleast1(R - 2), kPanelCols);
    panel->move(1, C - 21);
    setneedrefresh();
}

void MainWin::refresh()
{
    wattrset(win, getcolorpair(COLOR_WHITE, getbgcolor()) | A_BOLD);
    drawframe(win);
    drawcaption();
    updatecolheader();
    needrefresh = true;
    NGroup::refresh();
}

void MainWin::drawcaption()
{
    const int C = rect.cols;
    int col = C / 2 - (caption.getlen() + 1) / 2;
    if (col < 1)
        col = 1;
    int room = C - 1 - col; // never over the right corner, never wrapping into row 1
    if (wmove(win, 0, col) == ERR)
        return;
    for (const NAttrFragment& f : caption) {
        if (room <= 0)
            break;
        std::string text = f.text;
        mbstrtrunc(text, room);
        room -= mbstrlen(text);
        wattrset(win, f.attr);
        waddstr(win, text.c_str());
    }
}

void MainWin::updatecolheader()
{
    std::string joined;
    for (size_t i = 0; i < colnames.size(); ++i)
        if (taskwin->columnmask & (1 << i))
            joined += colnames[i];
    // The pieces are printf formats ("%%" prints as "%").
    std::string text;
    for (size_t i = 0; i < joined.size(); ++i) {
        text += joined[i];
        if (joined[i] == '%' && i + 1 < joined.size() && joined[i + 1] == '%')
            ++i;
    }
    colheader->bgattr = getcolorpair(COLOR_WHITE, getbgcolor());
    colheader->settext(getcolorpair(COLOR_CYAN, getbgcolor()) | A_BOLD, "%s", text.c_str());
}

void MainWin::updatecaption()
{
    NAttrString old = caption;
    caption.clear();
    const int alarm = getcolorpair(COLOR_WHITE, COLOR_RED) | A_BOLD;
    if (!srv) {
        caption.append(alarm, "%s", "no servers");
    } else {
        std::string label = srv->hostid.empty() ? std::string() : "(" + srv->hostid + ")";
        caption.append(getcolorpair(COLOR_WHITE, getbgcolor()) | A_BOLD, " Host %s:%s%s ",
                       displaytext(srv->host).c_str(), displaytext(srv->port).c_str(),
                       displaytext(label).c_str());
        const int unread = srv->unreadnotices();
        if (unread > 0)
            caption.append(getcolorpair(COLOR_YELLOW, getbgcolor()) | A_BOLD, "%d %s ", unread,
                           unread == 1 ? "notice" : "notices");
        if (srv->unauthorized)
            caption.append(alarm, "%s", "unauthorized!");
        else if (!srv->isonline())
            caption.append(alarm, "%s", "offline!");
        else
            addsnoozecaption(caption, srv);
    }
    if (caption != old)
        refresh();
}

std::string snoozecaption(const ModeDelay& run, const ModeDelay& gpu, const ModeDelay& network)
{
    std::string out;
    auto add = [&out](const ModeDelay& d, const char* what) {
        if (!d.snoozed())
            return;
        if (!out.empty())
            out += ", ";
        out += what + shortduration(d.left, true);
    };
    add(run, "snoozed ");
    add(gpu, "GPU snoozed ");
    add(network, "network snoozed ");
    return out;
}

void MainWin::addsnoozecaption(NAttrString& line, Srv* s)
{
    std::string text = snoozecaption(s->modedelaynow(ModeKind::run), s->modedelaynow(ModeKind::gpu),
                                     s->modedelaynow(ModeKind::network));
    if (!text.empty())
        line.append(getcolorpair(COLOR_YELLOW, getbgcolor()) | A_BOLD, "%s ", text.c_str());
}

namespace {

int keypadcode(const char* sequence)
{
    int code = key_defined(sequence);
    return code > 0 ? code : -2; // never a key code
}

} // namespace

void MainWin::setsrv(Srv* s)
{
    srv = s;
    if (msgwin->srv != s) {
        msgwin->srv = s;
        msgwin->clearcontent();
        msgwin->lastseqno = 0;
    }
    taskwin->srv = s;
    taskwin->setstartline(0);
    taskwin->clearlist();
    taskwin->setselectorpos(-1);
    panel->srv = s;
}

void MainWin::changesplit(bool grow)
{
    const int R = rect.rows;
    int n = nextpercent(R, wtaskheightpercent, grow);
    if (n == wtaskheightpercent)
        return;
    wtaskheightpercent = n;
    Item* cfg = gConfig ? gConfig->getcfgroot() : nullptr;
    if (Item* it = cfg ? cfg->find("wtask_height_percent") : nullptr)
        it->setintvalue(n);
    resize(R, rect.cols);
    refresh();
}

void MainWin::eventhandle(NEvent* ev)
{
    NGroup::eventhandle(ev);
    if (ev->done)
        return;
    switch (ev->type) {
    case evKB: {
        // Terminals whose description names the keypad's + and - (xterm) have them
        // arrive as key codes of their own; others send Escape, 'O', then 'k' or 'm'.
        if (ev->keycode == keypadcode("\033Ok"))
            ev->keycode = '+';
        else if (ev->keycode == keypadcode("\033Om"))
            ev->keycode = '-';
        if (keyhistory[0] == 27 && keyhistory[1] == 'O') {
            if (ev->keycode == 'k')
                ev->keycode = '+';
            else if (ev->keycode == 'm')
                ev->keycode = '-';
        }
        if (ev->keycode == '+' || ev->keycode == '-')
            changesplit(ev->keycode == '-');
        keyhistory[0] = keyhistory[1];
        keyhistory[1] = ev->keycode;
        break;
    }
    case evPROG:
        if (ev->keycode == evCOLVIEWCH) {
            updatecolheader();
            colheader->refresh();
            taskwin->setneedrefresh();
            taskwin->refresh();
        }
        break;
    case evTIMER:
        updatecaption();
        break;
    default:
        break;
    }
}
