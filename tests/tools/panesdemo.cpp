// The three panes of the main screen (task list, message view, information panel) on one
// live host, for end-to-end tests in a real terminal before and besides the main window.
// The last row tells what the task list reported:
//   "sel:on|off task:NAME info:N"
// Keys of the panes work as in the program; "q" quits. Options: --ascii.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <curses.h>

#include "config.h"
#include "infopanel.h"
#include "msgwin.h"
#include "ncolorpair.h"
#include "nprogram.h"
#include "nstatictext.h"
#include "srv.h"
#include "taskwin.h"
#include "tuievent.h"

namespace {

class PanesProgram : public NProgram {
public:
    explicit PanesProgram(Srv* host) : srv(host)
    {
        const int h = (LINES - 1) / 2;
        tasks = insert(std::make_unique<TaskWin>(NRect{0, 0, h, COLS - 21}));
        messages = insert(std::make_unique<MsgWin>(NRect{h, 0, LINES - 1 - h, COLS - 21}));
        panel = insert(std::make_unique<InfoPanel>(NRect{0, COLS - 20, LINES - 1, 20}));
        status = insert(std::make_unique<NStaticText>(NRect{LINES - 1, 0, 1, COLS}));
        status->bgattr = getcolorpair(7, 2);
        tasks->srv = messages->srv = panel->srv = srv;
        updatestatus();
    }

    void eventhandle(NEvent* ev) override
    {
        NProgram::eventhandle(ev);
        if (ev->done)
            return;
        if (ev->type == evKB && ev->keycode == 'q') {
            quitflag = true;
        } else if (ev->type == evPROG) {
            if (ev->keycode == evTASKSELECTORON)
                selected = true;
            else if (ev->keycode == evTASKSELECTOROFF)
                selected = false;
            else if (ev->keycode == evTASKINFO)
                ++infos;
            updatestatus();
        }
    }

private:
    void updatestatus()
    {
        TaskKey* key = tasks->getselectedtask();
        status->settext(getcolorpair(7, 2) | A_BOLD, "sel:%s task:%s info:%d", selected ? "on" : "off",
                        key ? key->taskname.c_str() : "-", infos);
    }

    Srv* srv;
    TaskWin* tasks = nullptr;
    MsgWin* messages = nullptr;
    InfoPanel* panel = nullptr;
    NStaticText* status = nullptr;
    bool selected = false;
    int infos = 0;
};

} // namespace

int main(int argc, char** argv)
{
    std::string host, port, password;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ascii") == 0)
            lineDrawMode = 1;
        else if (positional == 0 && ++positional)
            host = argv[i];
        else if (positional == 1 && ++positional)
            port = argv[i];
        else if (positional == 2 && ++positional)
            password = argv[i];
    }
    if (positional < 2) {
        std::fprintf(stderr, "usage: %s [--ascii] HOST PORT [PASSWORD]\n", argv[0]);
        return 2;
    }

    std::setlocale(LC_ALL, "");
    initscr();
    noecho();
    cbreak();
    curs_set(0);
    keypad(stdscr, TRUE);
    mousemask(ALL_MOUSE_EVENTS, nullptr);
    set_escdelay(25);
    wtimeout(stdscr, 100);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    {
        Srv srv(host, port, password, "");
        srv.startthread();
        PanesProgram prog(&srv);
        prog.setneedrefresh();
        prog.refresh();
        doupdate();
        prog.mainloop();
        // The host goes after the windows that read it.
    }
    endwin();
    return 0;
}
