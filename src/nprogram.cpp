#include "nprogram.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "sigblock.h"

namespace {

volatile std::sig_atomic_t resizeflag = 0;
volatile std::sig_atomic_t quitflagfromsignal = 0;

extern "C" void onwinch(int)
{
    resizeflag = 1;
}

extern "C" void onquitsignal(int)
{
    quitflagfromsignal = 1;
}

// Ctrl-C, Ctrl-\, a closed terminal and kill: none of them may skip the orderly end.
const int kQuitSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

} // namespace

NProgram::NProgram()
    : NGroup(NRect{0, 0, LINES, COLS})
{
    resizeflag = 0;
    quitflagfromsignal = 0;
    struct sigaction sa {};
    sa.sa_handler = onwinch;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, &oldwinch);
    sa.sa_handler = onquitsignal;
    for (int i = 0; i < 4; ++i) {
        // A signal ignored on purpose (nohup, a background job) stays ignored.
        sigaction(kQuitSignals[i], nullptr, &oldquit[i]);
        if (oldquit[i].sa_handler != SIG_IGN)
            sigaction(kQuitSignals[i], &sa, nullptr);
    }
}

NProgram::~NProgram()
{
    queue.clear();
    sigaction(SIGWINCH, &oldwinch, nullptr);
    for (int i = 0; i < 4; ++i)
        sigaction(kQuitSignals[i], &oldquit[i], nullptr);
}

bool NProgram::isresizepending()
{
    return resizeflag != 0;
}

bool NProgram::isquitrequested()
{
    return quitflagfromsignal != 0;
}

void NProgram::clearresizeflag()
{
    resizeflag = 0;
}

void NProgram::putevent(NEvent* ev)
{
    if (ev)
        queue.emplace_back(ev);
}

void NProgram::limitstartsize()
{
    struct winsize ws {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 ||
        (ws.ws_row <= kMaxScreenRows && ws.ws_col <= kMaxScreenCols))
        return;
    // ncurses takes these over the terminal's own report.
    setenv("LINES", std::to_string(std::min<int>(ws.ws_row, kMaxScreenRows)).c_str(), 1);
    setenv("COLUMNS", std::to_string(std::min<int>(ws.ws_col, kMaxScreenCols)).c_str(), 1);
}

void NProgram::fitscreen()
{
    struct winsize ws {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0)
        resizeterm(std::min<int>(ws.ws_row, kMaxScreenRows), std::min<int>(ws.ws_col, kMaxScreenCols));
}

void NProgram::handleresize()
{
    // Cleared first: a resize signalled while this one is laid out is handled next time.
    clearresizeflag();
    fitscreen();
    NView::resize(LINES, COLS);
    centermodals(LINES, COLS);
    setneedrefresh();
    refresh();
}

void NProgram::mainloop()
{
    while (!quitflag)
        runiteration();
}

void NProgram::runiteration()
{
    // The layout never changes in the middle of drawing or dispatching; a resize
    // signalled meanwhile is delivered when the iteration ends.
    SignalsBlocked noresize({SIGWINCH});
    if (isresizepending()) {
        handleresize();
        // Show the new layout now, not only with the next event, which may be seconds away.
        doupdate();
    }
    checktimer();
    readinput();
    drainqueue();
    if (isquitrequested())
        quitflag = true;
}

void NProgram::checktimer()
{
    std::time_t now = std::time(nullptr);
    // A clock set back would otherwise stop the ticks until it caught up again.
    if (lasttime == 0 || now - lasttime >= kTimerSeconds || now < lasttime) {
        putevent(new NEvent(evTIMER, 0));
        lasttime = now;
    }
}

void NProgram::readinput()
{
    const auto start = std::chrono::steady_clock::now();
    int key = wgetch(stdscr);
    // KEY_RESIZE is what resizeterm leaves in the input; resizes come through the flag.
    if (key == KEY_RESIZE)
        key = wgetch(stdscr);
    if (key == ERR) {
        // A read that should have waited but came back at once may mean the input ended.
        const int delay = wgetdelay(stdscr);
        const bool atonce = delay > 0 && std::chrono::steady_clock::now() - start <
                                              std::chrono::milliseconds(delay / 2);
        if (!atonce)
            deadreads = 0;
        else if (inputgone())
            quitflag = true; // ends like Q, so the owner still saves its settings
        return;
    }
    deadreads = 0;
    if (key == KEY_RESIZE)
        return;
    if (key == KEY_MOUSE) {
        MEVENT mev{};
        if (getmouse(&mev) == OK)
            putevent(new NMouseEvent(static_cast<int>(mev.bstate), mev.y, mev.x));
        return;
    }
    putevent(new NEvent(evKB, key));
}

bool NProgram::inputgone()
{
    // The screen reads the standard input. A read that gave nothing at once while the
    // input reports data or a hang-up means the input has ended; a key that merely
    // arrived late is read by the next iteration, so only several such reads in a row
    // count.
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int n = poll(&p, 1, 0);
    bool ended = n < 0 ? errno != EINTR : n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
    deadreads = ended ? deadreads + 1 : 0;
    return deadreads >= 3;
}

void NProgram::drainqueue()
{
    while (!queue.empty()) {
        std::unique_ptr<NEvent> ev = std::move(queue.front());
        queue.pop_front();
        eventhandle(ev.get());
        ev.reset();
        update_panels();
        doupdate();
    }
}
