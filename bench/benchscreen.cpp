#include "benchscreen.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "ncolorpair.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "varnix_bench: %s\n", what);
    exit(2);
}

} // namespace

BenchScreen::BenchScreen(int rows, int cols)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        fail("no pseudo-terminal");
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0)
        fail("cannot open the pseudo-terminal");
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(master, TIOCSWINSZ, &ws);

    in = fdopen(dup(slave), "r");
    out = fopen("/dev/null", "w");
    scr = newterm("xterm-256color", out, in);
    if (!scr)
        fail("newterm failed");
    set_term(scr);
    resizeterm(rows, cols);
    noecho();
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    resetcolorpairs();
}

BenchScreen::~BenchScreen()
{
    endwin();
    delscreen(scr);
    resetcolorpairs();
    fclose(in);
    fclose(out);
    close(slave);
    close(master);
}
