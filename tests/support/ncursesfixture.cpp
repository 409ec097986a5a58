#include "ncursesfixture.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "ndraw.h"
#include "ncolorpair.h"

NcursesScreen::NcursesScreen(const Options& options)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    savedlocale = old ? old : "C";
    std::setlocale(LC_ALL, "C.UTF-8");
    savedlinedraw = lineDrawMode;
    savedtransparent = transparentBackground;

    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0)
        throw std::runtime_error("cannot open the pseudo-terminal");
    // Raw input: ncurses cannot set the modes itself, since its output is not this terminal.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    setptysize(options.rows, options.cols);

    in = fdopen(dup(slave), "r");
    out = std::fopen("/dev/null", "w");
    scr = newterm(options.term, out, in);
    if (!scr)
        throw std::runtime_error("newterm failed");
    set_term(scr);
    resizeterm(options.rows, options.cols);
    flushinp(); // resizeterm left a KEY_RESIZE in the input
    noecho();
    curs_set(0);
    keypad(stdscr, TRUE);
    mousemask(ALL_MOUSE_EVENTS, nullptr);
    mouseinterval(0); // presses arrive at once, with no wait for a click
    set_escdelay(10);
    wtimeout(stdscr, options.timeoutms);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    resetcolorpairs();
}

NcursesScreen::~NcursesScreen()
{
    if (scr) {
        endwin();
        delscreen(scr);
    }
    resetcolorpairs();
    if (in)
        std::fclose(in);
    if (out)
        std::fclose(out);
    if (slave >= 0)
        close(slave);
    if (master >= 0)
        close(master);
    lineDrawMode = savedlinedraw;
    transparentBackground = savedtransparent;
    std::setlocale(LC_ALL, savedlocale.c_str());
}

void NcursesScreen::type(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("cannot type into the pseudo-terminal");
        done += static_cast<std::size_t>(n);
    }
    // The pseudo-terminal passes input on asynchronously: wait until it can be read, so
    // that a non-blocking wgetch right after this sees it.
    for (int i = 0; i < 5000; ++i) {
        int avail = 0;
        if (ioctl(slave, FIONREAD, &avail) != 0 || avail >= static_cast<int>(bytes.size()))
            break;
        usleep(1000);
    }
}

void NcursesScreen::mousepress(int button, int row, int col)
{
    type("\033[<" + std::to_string(button) + ";" + std::to_string(col + 1) + ";" +
         std::to_string(row + 1) + "M");
}

void NcursesScreen::setptysize(int rows, int cols)
{
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(master, TIOCSWINSZ, &ws);
}

int NcursesScreen::redirectstdout()
{
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(slave, STDOUT_FILENO);
    return saved;
}

void NcursesScreen::restorestdout(int saved)
{
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

std::string NcursesScreen::screenrow(int row)
{
    update_panels();
    doupdate();
    return rowtext(curscr, row);
}

std::string NcursesScreen::screentext()
{
    update_panels();
    doupdate();
    std::string text;
    for (int r = 0; r < LINES; ++r)
        text += rowtext(curscr, r) + "\n";
    return text;
}

std::string rowtext(WINDOW* win, int row, int col, int n)
{
    std::string text;
    if (!win)
        return text;
    int width = getmaxx(win);
    int cells = n < 0 ? width - col : std::min(n, width - col);
    if (cells <= 0)
        return text;
    // winnwstr skips the second cell of double-width characters.
    std::vector<wchar_t> wide(static_cast<std::size_t>(cells) * CCHARW_MAX + 1, 0);
    if (mvwinnwstr(win, row, col, wide.data(), cells) == ERR)
        return text;
    for (std::size_t i = 0; wide[i] != 0; ++i) {
        char buf[MB_LEN_MAX];
        std::mbstate_t st{};
        std::size_t k = std::wcrtomb(buf, wide[i], &st);
        if (k != static_cast<std::size_t>(-1))
            text.append(buf, k);
    }
    return text;
}

std::string trimmedrow(WINDOW* win, int row)
{
    std::string text = rowtext(win, row);
    std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

chtype cellat(WINDOW* win, int row, int col)
{
    return mvwinch(win, row, col);
}

bool isacs(WINDOW* win, int row, int col, chtype acs)
{
    chtype ch = mvwinch(win, row, col);
    return (ch & A_ALTCHARSET) != 0 && (ch & A_CHARTEXT) == (acs & A_CHARTEXT);
}

int cellpair(WINDOW* win, int row, int col)
{
    return static_cast<int>(PAIR_NUMBER(mvwinch(win, row, col)));
}

// Every screen that a test starts and deletes leaves behind the panel library's hidden
// panel for its stdscr: a leak of the library, not of the code under test (whose own
// views, windows and events are still watched).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libpanelw.so\n";
}
