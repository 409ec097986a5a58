#include "mainprog.h"

#include <unistd.h>

#include <algorithm>

#include "aboutwin.h"
#include "addaccmgrform.h"
#include "addprojectform.h"
#include "allhostswin.h"
#include "cfgform.h"
#include "config.h"
#include "historywin.h"
#include "hostpoller.h"
#include "ndraw.h"
#include "mainwin.h"
#include "ncolorpair.h"
#include "nmbutton.h"
#include "nmessagebox.h"
#include "noticeswin.h"
#include "nstatictext.h"
#include "srv.h"
#include "srvlist.h"
#include "statwin.h"
#include "taskformat.h"
#include "taskinfowin.h"
#include "transferswin.h"
#include "textutil.h"
#include "topmenu.h"
#include "taskwin.h"

namespace {

bool iskey(int keycode, char letter)
{
    return keycode == letter || keycode == letter - 'A' + 'a';
}

std::unique_ptr<NEvent> esckey()
{
    return std::make_unique<NEvent>(evKB, 27);
}

} // namespace

MainProg::MainProg()
{
    gsrvlist = std::make_unique<SrvList>();
    hostpoller = std::make_unique<HostPoller>();
    lasttime = 0;
    wmain = insert(std::make_unique<MainWin>(NRect{1, 0, LINES - 2, COLS}));
    wmain->setsrv(gsrvlist->current());
    menu = insert(std::make_unique<TopMenu>());
    menu->srv = gsrvlist->current();
    wmain->updatecaption();
    wstatus = insert(std::make_unique<NStaticText>(NRect{LINES - 1, 0, 1, COLS}));
    wstatus->bgattr = getcolorpair(COLOR_WHITE, COLOR_GREEN);
    updatestatusline();
}

MainProg::~MainProg()
{
    if (gConfig)
        gConfig->save(); // silent: nobody is left to tell
    // The transfers window tells its host to stop polling as it goes: before the host.
    destroybyid("12TransfersWin");
    // The window stops the poller when it goes: before the poller itself does.
    destroybyid("11AllHostsWin");
    hostpoller.reset();
    // Hosts stop their update threads here, before the windows that show them go.
    gsrvlist.reset();
}

void MainProg::mainloop()
{
    if (gConfig && !gConfig->errortext.empty()) {
        auto ev = std::make_unique<TuiEvent>(evPOPUPMSG);
        ev->sdata1 = "Config error:";
        ev->sdata2 = gConfig->errortext;
        putevent(ev.release());
    } else if (gConfig && gConfig->isdefault) {
        // A first start opens the host list editor as if C had been pressed.
        putevent(new NEvent(evKB, 'C'));
    }
    NProgram::mainloop();
}

void MainProg::handleresize()
{
    // Cleared first: a resize signalled while this one is laid out is handled next time.
    clearresizeflag();
    fitscreen();
    NView::resize(LINES, COLS);
    menu->resize(1, COLS);
    wmain->resize(LINES - 2, COLS);
    wstatus->resize(1, COLS);
    wstatus->move(LINES - 1, 0);
    centermodals(LINES, COLS);
    setneedrefresh();
    refresh();
    menu->refresh();
    werase(wstatus->win);
    wmain->refresh();
    // Drawn last, after the main window put its panels on the screen: the status line
    // must take its place there too, or it stays blank until the next event.
    wstatus->setneedrefresh();
    wstatus->refresh();
}

bool MainProg::knownsrv(const TuiEvent* ev) const
{
    // A command event may outlive a rebuild of the host list.
    for (auto& s : gsrvlist->servers)
        if (s.get() == ev->srv && s->serial == ev->srvserial)
            return true;
    return false;
}

TaskKey* MainProg::selectedtask() const
{
    return wmain->taskwin->getselectedtask();
}

void MainProg::eventhandle(NEvent* ev)
{
    NGroup::eventhandle(ev);
    if (ev->done)
        return;
    if (ev->type == evKB)
        handlekey(ev);
    else if (ev->type == evPROG)
        handlecommand(static_cast<TuiEvent*>(ev));
    else if (ev->type == evTIMER)
        expirenote();
}

void MainProg::switchhost(bool forward)
{
    menu->disable();
    if (!gsrvlist->current())
        return;
    if (forward)
        gsrvlist->next();
    else
        gsrvlist->prev();
    hostswitched();
}

void MainProg::switchhostto(int index)
{
    if (gsrvlist->setcurrent(index))
        hostswitched();
}

void MainProg::hostswitched()
{
    wmain->setsrv(gsrvlist->current());
    menu->srv = gsrvlist->current();
    lasttime = 0;
    wmain->updatecaption();
    // The new host's list starts without a selection.
    if (uistate & kTaskSelected) {
        uistate &= ~kTaskSelected;
        updatestatusline();
    }
}

void MainProg::handlekey(NEvent* ev)
{
    const int key = ev->keycode;
    TaskKey* task = nullptr;
    if (key == 27) {
        menu->disable();
        destroybyid("7CfgForm");
        destroybyid("11NMessageBox");
        closehostwindows();
        if (destroybyid("11AllHostsWin"))
            uistate &= ~kAllHostsOpen;
        uistate &= ~kDialogOpen;
        updatestatusline();
    } else if (iskey(key, 'A')) {
        if (selectedtask())
            putevent(new TuiEvent(evABORTRES));
    } else if (iskey(key, 'Q')) {
        quitflag = true;
    } else if (iskey(key, 'R') || iskey(key, 'S')) {
        Srv* srv = gsrvlist->current();
        if ((task = selectedtask()) && srv)
            srv->opresult(task->projecturl, task->taskname, iskey(key, 'R') ? "resume_result" : "suspend_result");
    } else if (iskey(key, 'C')) {
        if (getitembyid("7CfgForm"))
            return;
        menu->disable();
        CfgForm* form = insert(std::make_unique<CfgForm>(15, 76)); // it centres itself
        form->settitle("Configuration");
        form->refresh();
        uistate |= kDialogOpen;
        updatestatusline();
    } else if (iskey(key, 'N') || iskey(key, 'P')) {
        switchhost(iskey(key, 'N'));
    } else if (iskey(key, 'V')) {
        toggledialog("7StatWin", kStatisticsOpen,
                     [this] { return std::make_unique<StatWin>(gsrvlist->current()); });
    } else if (iskey(key, 'T')) {
        toggledialog("12TransfersWin", kTransfersOpen,
                     [this] { return std::make_unique<TransfersWin>(gsrvlist->current()); });
    } else if (iskey(key, 'M') || key == KEY_F(9)) {
        if (menu->enableflag)
            menu->disable();
        else
            menu->enable();
    } else if (iskey(key, 'I')) {
        toggledialog("10NoticesWin", kNoticesOpen,
                     [this] { return std::make_unique<NoticesWin>(gsrvlist->current()); });
        // Opening the window marked the notices read: the count goes at once.
        wmain->updatecaption();
    } else if (iskey(key, 'H')) {
        toggledialog("10HistoryWin", kHistoryOpen,
                     [this] { return std::make_unique<HistoryWin>(gsrvlist->current()); });
    } else if (iskey(key, 'O')) {
        toggledialog("11AllHostsWin", kAllHostsOpen,
                     [this] { return std::make_unique<AllHostsWin>(*gsrvlist, *hostpoller); });
    }
}

void MainProg::closehostwindows()
{
    static const struct {
        const char* id;
        int bit;
    } windows[] = {
        {"7StatWin", kStatisticsOpen},   {"11TaskInfoWin", kTaskInfoOpen},
        {"12TransfersWin", kTransfersOpen}, {"10NoticesWin", kNoticesOpen},
        {"10HistoryWin", kHistoryOpen},
    };
    for (const auto& w : windows) {
        if (!destroybyid(w.id))
            continue;
        uistate &= ~w.bit;
        if (w.bit == kTaskInfoOpen)
            showselection(true); // the task list's highlight was off while it was open
    }
}

void MainProg::showselection(bool on)
{
    wmain->taskwin->selectorenable = on;
    // Now, not only at the next tick.
    wmain->taskwin->setneedrefresh();
    wmain->taskwin->refresh();
}

void MainProg::closemessagebox()
{
    if (destroybyid("11NMessageBox"))
        uistate &= ~kDialogOpen;
    updatestatusline();
}

void MainProg::handlecommand(TuiEvent* ev)
{
    switch (ev->keycode) {
    case evCFGCH:
        rebuildhostlist();
        break;
    case evABORTRES:
        abortresult(ev);
        break;
    case evABOUT:
        toggledialog("8AboutWin", kDialogOpen, [] { return std::make_unique<AboutWin>(2, 40); });
        break;
    case evKEYBIND:
        toggledialog("7HelpWin", kDialogOpen, [] { return std::make_unique<HelpWin>(2, 40); });
        break;
    case evTASKINFO:
        opentaskinfo();
        break;
    case evADDPROJECT:
        toggledialog("14AddProjectForm", kDialogOpen, [this, ev]() -> std::unique_ptr<NView> {
            if (!knownsrv(ev))
                return nullptr;
            return std::make_unique<AddProjectForm>(30, 65, ev->srv, ev->sdata1, ev->bdata1, ev->bdata2);
        });
        break;
    case evADDACCMGR:
        toggledialog("13AddAccMgrForm", kDialogOpen, [this, ev]() -> std::unique_ptr<NView> {
            if (!knownsrv(ev))
                return nullptr;
            return std::make_unique<AddAccMgrForm>(30, 65, ev->srv, ev->sdata1);
        });
        break;
    case evSWITCHHOST:
        if (destroybyid("11AllHostsWin"))
            uistate &= ~kAllHostsOpen;
        // Enter on the current host only closes the window: its thread goes on as it was.
        if (knownsrv(ev) && ev->srv != gsrvlist->current()) {
            for (size_t i = 0; i < gsrvlist->servers.size(); ++i)
                if (gsrvlist->servers[i].get() == ev->srv)
                    switchhostto(static_cast<int>(i));
        }
        updatestatusline();
        break;
    case evBENCHMARK:
        if (Srv* srv = gsrvlist->current())
            srv->runbenchmarks();
        break;
    case evPROJECT:
        projectoperation(ev);
        break;
    case evTASKSELECTORON:
        uistate |= kTaskSelected;
        updatestatusline();
        break;
    case evTASKSELECTOROFF:
        uistate &= ~kTaskSelected;
        updatestatusline();
        break;
    case evASCIIMODECHANGE:
        if (gConfig)
            gConfig->setintvalue(gConfig->getcfgroot(), "line_draw_mode", lineDrawMode);
        setneedrefresh();
        refresh();
        break;
    case evTRANSPARENTBGMODECHANGE:
        if (gConfig)
            gConfig->setintvalue("transparent_background", transparentBackground == 0 ? 1 : 0);
        menu->disable();
        shownotice("Need restart varnix", "Yes", {'Y', 'y', 10, 27});
        break;
    case evPOPUPMSG:
        shownotice(ev->sdata1 + "\n" + ev->sdata2, "Ok", {'O', 'o', 27, 10});
        break;
    case evABORTTRANSFER:
    case evSHUTDOWN:
    case evCLIENTOP:
    case evSNOOZE:
    case evCLOSEBOX:
        handlecontrol(ev);
        break;
    default:
        break;
    }
}

void MainProg::rebuildhostlist()
{
    menu->disable();
    destroybyid("7CfgForm");
    // The windows and forms of one host hold a host that the rebuild frees.
    closehostwindows();
    destroybyid("14AddProjectForm");
    destroybyid("13AddAccMgrForm");
    // The rebuilt list's first host may be given the address of the freed one: the
    // windows let go of the old host first, so they never take one for the other.
    wmain->setsrv(nullptr);
    menu->srv = nullptr;
    gsrvlist->refill();
    wmain->setsrv(gsrvlist->current());
    menu->srv = gsrvlist->current();
    wmain->updatecaption();
    lasttime = 0;
    uistate &= ~(kDialogOpen | kTaskSelected);
    updatestatusline();
}

void MainProg::abortresult(TuiEvent* ev)
{
    if (ev->bdata1) {
        // The confirmed event names the task shown in the box: the list may have
        // been rebuilt and re-sorted under the box since.
        if (knownsrv(ev))
            ev->srv->opresult(ev->sdata1, ev->sdata2, "abort_result");
        closemessagebox();
        return;
    }
    TaskKey* task = selectedtask();
    Srv* srv = gsrvlist->current();
    if (!task || !srv)
        return;
    auto yes = std::make_unique<TuiEvent>(evABORTRES, srv, task->projecturl, task->taskname);
    yes->bdata1 = true;
    // Names come from the client: nothing in them may reach the terminal as a command.
    showconfirm("Please Confirm\n\nTask   : " + displaytext(task->taskname) +
                    "\nOperation : Abort",
                std::move(yes));
}

void MainProg::opentaskinfo()
{
    TaskKey* task = selectedtask();
    if (!task || getitembyid("11TaskInfoWin")) // one at a time
        return;
    showselection(false);
    auto win = std::make_unique<TaskInfoWin>("Task Info Raw View", gsrvlist->current(),
                                             task->projecturl, task->taskname);
    centre(insert(std::move(win)));
    uistate |= kTaskInfoOpen;
    updatestatusline();
}

void MainProg::projectoperation(TuiEvent* ev)
{
    if (ev->bdata1) {
        if (knownsrv(ev))
            ev->srv->opproject(ev->sdata1, ev->sdata2);
        closemessagebox();
        return;
    }
    if (!knownsrv(ev))
        return;
    auto yes = std::make_unique<TuiEvent>(evPROJECT, ev->srv, ev->sdata1, ev->sdata2);
    yes->bdata1 = true;
    showconfirm("Please Confirm\n\nProject   : " + displaytext(ev->sdata1) +
                    "\nOperation : " + ev->sdata2,
                std::move(yes));
}

Srv* MainProg::controlsrv(const TuiEvent* ev) const
{
    if (!ev->srv)
        return gsrvlist->current();
    return knownsrv(ev) ? ev->srv : nullptr;
}

void MainProg::handlecontrol(TuiEvent* ev)
{
    Srv* srv = controlsrv(ev);
    switch (ev->keycode) {
    case evABORTTRANSFER: {
        if (ev->bdata1) {
            if (srv)
                showanswer("Abort transfer", srv->aborttransfer(ev->sdata1, ev->sdata2));
            closemessagebox();
            break;
        }
        if (!srv)
            break;
        auto yes = std::make_unique<TuiEvent>(evABORTTRANSFER, srv, ev->sdata1, ev->sdata2);
        yes->bdata1 = true;
        // No leaves the transfers window open, where Esc would close it with the box.
        showconfirm("Please Confirm\n\nFile   : " + displaytext(ev->sdata2) + "\nOperation : Abort",
                    std::move(yes), std::make_unique<TuiEvent>(evCLOSEBOX));
        break;
    }
    case evSHUTDOWN: {
        if (ev->bdata1) {
            if (srv)
                showanswer("Shut down client", srv->quitclient());
            closemessagebox();
            lasttime = 0; // the caption tells at once what became of the host
            break;
        }
        if (!srv)
            break;
        auto yes = std::make_unique<TuiEvent>(evSHUTDOWN, srv, "", "");
        yes->bdata1 = true;
        std::string label = srv->hostid.empty() ? std::string() : "(" + srv->hostid + ")";
        showconfirm("Please Confirm\n\nHost   : " + displaytext(srv->host + ":" + srv->port + label) +
                        "\nOperation : Shut down client",
                    std::move(yes));
        break;
    }
    case evCLIENTOP:
        if (!srv)
            break;
        switch (ev->idata) {
        case opRETRYTRANSFER:
            showanswer("Retry transfer", srv->retrytransfer(ev->sdata1, ev->sdata2));
            break;
        case opREADCONFIG:
            showanswer("Read config files", srv->readccconfig());
            break;
        case opREADPREFS:
            showanswer("Read local prefs file", srv->readglobalprefsoverride());
            break;
        case opNETWORKAVAILABLE:
            showanswer("Retry pending transfers", srv->networkavailable());
            break;
        default:
            break;
        }
        break;
    case evSNOOZE: {
        if (!srv || ev->idata < 0 || ev->idata > 2)
            break;
        const ModeKind kind = static_cast<ModeKind>(ev->idata);
        if (ev->bdata1)
            showanswer("Cancel snooze", srv->setmodefor(kind, ev->sdata1, 0));
        else
            showanswer("Snooze", srv->setmodefor(kind, "never", 3600));
        break;
    }
    case evCLOSEBOX:
        closemessagebox();
        break;
    default:
        break;
    }
}

void MainProg::showanswer(const std::string& what, const SrvAnswer& answer)
{
    if (answer.isok())
        return;
    statusnote = " " + what + ": " + displaytext(answer.text);
    // Shown for at least this long: the timer ticks every few seconds.
    statusnoteuntil = std::time(nullptr) + 5;
    updatestatusline();
}

void MainProg::expirenote()
{
    if (statusnote.empty() || std::time(nullptr) < statusnoteuntil)
        return;
    statusnote.clear();
    updatestatusline();
}

void MainProg::showconfirm(const std::string& text, std::unique_ptr<NEvent> yes,
                           std::unique_ptr<NEvent> no)
{
    menu->disable();
    auto box = std::make_unique<NMessageBox>(text.c_str());
    box->addbutton(std::make_unique<NMButton>("Yes", std::move(yes), std::initializer_list<int>{'Y', 'y'}));
    box->addbutton(std::make_unique<NMButton>("No", no ? std::move(no) : esckey(),
                                              std::initializer_list<int>{'N', 'n', 27}));
    insert(std::move(box));
    uistate |= kDialogOpen;
    updatestatusline();
}

void MainProg::shownotice(const std::string& text, const char* label, std::initializer_list<int> keys)
{
    auto box = std::make_unique<NMessageBox>(text.c_str());
    box->addbutton(std::make_unique<NMButton>(label, esckey(), keys));
    insert(std::move(box));
    uistate |= kDialogOpen;
    updatestatusline();
}

void MainProg::centre(NView* dialog)
{
    dialog->move(std::max(0, LINES / 2 - dialog->rect.rows / 2),
                 std::max(0, COLS / 2 - dialog->rect.cols / 2));
}

void MainProg::toggledialog(const char* id, int bit,
                            const std::function<std::unique_ptr<NView>()>& make)
{
    if (destroybyid(id)) {
        uistate &= ~bit;
    } else {
        menu->disable(); // a dialog opens with the menus closed
        if (auto dialog = make()) {
            centre(insert(std::move(dialog)));
            uistate |= bit;
        }
    }
    updatestatusline();
}

void MainProg::updatestatusline()
{
    const int key = getcolorpair(COLOR_YELLOW, COLOR_GREEN) | A_BOLD;
    const int text = getcolorpair(COLOR_WHITE, COLOR_GREEN) | A_BOLD;
    const int off = getcolorpair(COLOR_BLACK, COLOR_GREEN) | A_BOLD;
    NStaticText* s = wstatus;
    // The keys of each dialog, by its uistate bit; with several open, the last one wins.
    using Hints = std::initializer_list<std::pair<const char*, const char*>>;
    static const struct {
        int bit;
        Hints hints;
    } dialogs[] = {
        {kDialogOpen, {{" Esc", " Cancel"}}},
        {kStatisticsOpen,
         {{" Esc", " Cancel"}, {" PgUp/PgDn", " V.Scroll"}, {" Left/Right", " H.Scroll"},
          {" U", " Host/User score"}}},
        {kTaskInfoOpen, {{" Esc", " Cancel"}, {" PgUp/PgDn", " Scroll "}}},
        {kTransfersOpen,
         {{" Esc", " Cancel"}, {" Up/Dn", " Select"}, {" R", " Retry"}, {" A", " Abort"}}},
        {kNoticesOpen, {{" Esc", " Cancel"}, {" PgUp/PgDn/Home/End", " Scroll"}}},
        {kAllHostsOpen,
         {{" Esc", " Cancel"}, {" Up/Dn", " Select"}, {" Enter", " Switch"}, {" s", " Sort"}}},
        {kHistoryOpen,
         {{" Esc", " Cancel"}, {" Up/Dn PgUp/PgDn", " Scroll"}, {" f", " Project"},
          {" e", " Errors"}}},
    };
    for (const auto& d : dialogs) {
        if (!(uistate & d.bit))
            continue;
        bool first = true;
        for (const auto& [k, what] : d.hints) {
            if (first) {
                s->settext(key, "%s", k);
            } else {
                s->appendstring(text, " |");
                s->appendstring(key, "%s", k);
            }
            s->appendstring(text, "%s", what);
            first = false;
        }
    }
    // A client's answer to a control stands in for the keys while it lasts.
    if (!statusnote.empty()) {
        s->settext(getcolorpair(COLOR_WHITE, COLOR_RED) | A_BOLD, "%s", statusnote.c_str());
        return;
    }
    if (uistate > kTaskSelected)
        return;
    s->settext(key, " PgUp/PgDn");
    s->appendstring(text, " Scroll Msg |");
    s->appendstring(key, " +/-");
    s->appendstring(text, " Resize Msg |");
    s->appendstring(key, " Up/Dn");
    s->appendstring(text, " Select |");
    if (uistate & kTaskSelected) {
        s->appendstring(key, " S");
        s->appendstring(text, "uspend");
        s->appendstring(text, " |");
        s->appendstring(key, " R");
        s->appendstring(text, "esume |");
        s->appendstring(key, " Enter");
        s->appendstring(text, " Info");
    } else {
        s->appendstring(off, " Suspend");
        s->appendstring(text, " |");
        s->appendstring(off, " Resume");
        s->appendstring(text, " |");
        s->appendstring(off, " Enter Info");
    }
    s->appendstring(text, " |");
    s->appendstring(key, " F9/M");
    s->appendstring(text, " Menu |");
    s->appendstring(key, " V");
    s->appendstring(text, " Statistics |");
}
