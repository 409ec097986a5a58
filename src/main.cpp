#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <curses.h>
#include <termios.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <unistd.h>

#include "cmdline.h"
#include "config.h"
#include "debuglog.h"
#include "mainprog.h"
#include "ndraw.h"
#include "srv.h"

namespace {

// Locale in force before the terminal was prepared; restored at exit.
std::string savedlocale;

bool prepareterminal()
{
    const char* old = setlocale(LC_ALL, nullptr);
    savedlocale = old ? old : "C";
    setlocale(LC_ALL, "");
    setlocale(LC_MESSAGES, "");
    NProgram::limitstartsize();
    if (!newterm(nullptr, stdout, stdin)) {
        fprintf(stderr, "varnix: cannot open the terminal (TERM=%s)\n", getenv("TERM") ? getenv("TERM") : "");
        return false;
    }
    noecho();
    // Ctrl-S would stop all output until Ctrl-Q: to the user, a frozen screen. The
    // terminal's own modes come back with endwin.
    termios tio {};
    if (tcgetattr(STDIN_FILENO, &tio) == 0 && (tio.c_iflag & IXON)) {
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON);
        if (tcsetattr(STDIN_FILENO, TCSANOW, &tio) == 0)
            def_prog_mode();
    }
    curs_set(0);
    keypad(stdscr, TRUE);
    mousemask(ALL_MOUSE_EVENTS, nullptr);
    wtimeout(stdscr, 100);
    // A lone Esc closes dialogs: do not keep the user waiting a second for it.
    set_escdelay(50);
    use_default_colors();
    start_color();
    return true;
}

void restoreterminal()
{
    clear();
    refresh();
    endwin();
    setlocale(LC_ALL, savedlocale.c_str());
}

} // namespace

int main(int argc, char** argv)
{
#ifdef __GLIBC__
    // A large client's replies are megabytes of text, received and freed every two
    // seconds. glibc raises its mmap threshold to the size of the first such buffer it
    // frees, and from then on takes them from the heap, where a freed one stays resident
    // for good; a fixed threshold gives every large buffer back to the system at once.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    DebugLog::open("varnix.log");
    gConfig = new Config(".varnix.cfg"); // lives until the process ends
    lineDrawMode = gConfig->linedrawmode;
    transparentBackground = gConfig->transparentbackground;
    Srv::keephistory = true;
    int status = 0;
    if (parsecmdline(argc, argv, *gConfig, status)) {
        if (!prepareterminal()) {
            status = 1;
        } else {
            {
                MainProg prog;
                prog.refresh();
                prog.mainloop();
            }
            restoreterminal();
        }
    }
    DebugLog::close();
    return status;
}
