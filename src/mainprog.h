// MainProg: the application object. It owns the host list, the main window and the
// status line, runs the event loop, and carries out hot keys and commands.
#ifndef VARNIX_MAINPROG_H
#define VARNIX_MAINPROG_H

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "nprogram.h"
#include "tuievent.h"

class HostPoller;
class MainWin;
class TopMenu;
class NStaticText;
class Srv;
class SrvList;
struct TaskKey;

class MainProg : public NProgram {
public:
    // uistate bits: what the status line shows and which dialogs are open.
    enum {
        kTaskSelected = 1,
        kDialogOpen = 2,
        kTaskInfoOpen = 4,
        kStatisticsOpen = 8,
        kTransfersOpen = 16,
        kNoticesOpen = 32,
        kAllHostsOpen = 64,
        kHistoryOpen = 128,
    };

    MainProg();
    // Saves the configuration, then stops every host before the windows go.
    ~MainProg() override;

    // Posts the start-up events, then runs the loop until the user quits.
    void mainloop();
    void eventhandle(NEvent* ev) override;
    void handleresize() override;
    void updatestatusline();

    TopMenu* menu = nullptr;
    MainWin* wmain = nullptr;
    NStaticText* wstatus = nullptr;
    std::unique_ptr<SrvList> gsrvlist;
    // Polls the other hosts while the all-hosts window is open.
    std::unique_ptr<HostPoller> hostpoller;
    int uistate = 0;

private:
    void handlekey(NEvent* ev);
    void handlecommand(TuiEvent* ev);
    void rebuildhostlist();              // after the host list editor saved
    void abortresult(TuiEvent* ev);      // asks first; the confirmed event acts
    void opentaskinfo();
    void projectoperation(TuiEvent* ev); // asks first; the confirmed event acts
    TaskKey* selectedtask() const;
    bool knownsrv(const TuiEvent* ev) const;
    void switchhost(bool forward);
    // Makes the host at that position of the list current, as N and P do.
    void switchhostto(int index);
    // What follows every change of the current host.
    void hostswitched();
    // A box with the text and a Yes button posting `yes`; No acts like Esc, or posts `no`.
    void showconfirm(const std::string& text, std::unique_ptr<NEvent> yes,
                     std::unique_ptr<NEvent> no = nullptr);
    // A box with one button that closes it like Esc.
    void shownotice(const std::string& text, const char* label, std::initializer_list<int> keys);
    void closemessagebox();
    // Closes the windows that show the current host (statistics, task information,
    // transfers, notices, history) and clears their uistate bits.
    void closehostwindows();
    // The host a client control is for: the event's own, or the current one when the
    // event names none; null when its host is gone.
    Srv* controlsrv(const TuiEvent* ev) const;
    void handlecontrol(TuiEvent* ev);
    // Shows what a client answered to `what` in the status line for a few seconds, when
    // it is an error; a success shows nothing.
    void showanswer(const std::string& what, const SrvAnswer& answer);
    void expirenote();

    std::string statusnote; // the answer on show, empty when none
    std::time_t statusnoteuntil = 0;
    // Turns the task list's selection highlight on or off.
    void showselection(bool on);
    // Deletes the open dialog of that class and clears its uistate bit; otherwise opens
    // the one `make` builds, centred, with the menus closed, and sets the bit. Either way
    // the status line follows.
    void toggledialog(const char* id, int bit, const std::function<std::unique_ptr<NView>()>& make);
    // Puts a dialog in the middle of the screen (its top left corner stays on it).
    static void centre(NView* dialog);
};

#endif
