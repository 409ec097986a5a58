// Test support for windows: a private ncurses screen on a pseudo-terminal. Keys typed
// with type() reach wgetch as from a keyboard; windows and the composed screen can be
// read back as text. Output goes nowhere, so no terminal is needed.
#ifndef VARNIX_TESTS_NCURSESFIXTURE_H
#define VARNIX_TESTS_NCURSESFIXTURE_H

#include <gtest/gtest.h>

#include <curses.h>
#include <panel.h>

#include <memory>
#include <string>

class NcursesScreen {
public:
    struct Options {
        int rows = 24;
        int cols = 80;
        const char* term = "xterm-256color";
        // Input timeout of stdscr in ms; 0 makes an iteration of the event loop return at once.
        int timeoutms = 0;
    };

    NcursesScreen() : NcursesScreen(Options{}) {}
    explicit NcursesScreen(const Options& options);
    ~NcursesScreen();
    NcursesScreen(const NcursesScreen&) = delete;
    NcursesScreen& operator=(const NcursesScreen&) = delete;

    // Feeds bytes to the terminal's input, as if typed.
    void type(const std::string& bytes);
    // An SGR mouse report (xterm 1006) for a button press at a screen cell: button 0 is
    // the left button, 64 wheel up, 65 wheel down.
    void mousepress(int button, int row, int col);
    // Sets the size the terminal reports (TIOCGWINSZ), without telling ncurses.
    void setptysize(int rows, int cols);
    // Runs `fn` with standard output pointing at the terminal, for code that asks the
    // size of the terminal on standard output.
    template <typename Fn>
    void withstdoutonpty(Fn fn)
    {
        int saved = redirectstdout();
        fn();
        restorestdout(saved);
    }

    // Composes the panels, updates the screen, and reads a row of what it shows.
    std::string screenrow(int row);
    // All rows, each ended by a line end.
    std::string screentext();

    int ptyslave() const { return slave; }

private:
    int redirectstdout();
    void restorestdout(int saved);

    int master = -1;
    int slave = -1;
    FILE* in = nullptr;
    FILE* out = nullptr;
    SCREEN* scr = nullptr;
    std::string savedlocale;
    int savedlinedraw = 0;
    int savedtransparent = 0;
};

// The text of a window row from `col` on, up to `n` cells (-1: to the end of the row),
// characters as UTF-8; line-drawing characters come back as their ASCII stand-ins
// ('q' for a horizontal line), so test for them with the cell helpers below.
std::string rowtext(WINDOW* win, int row, int col = 0, int n = -1);
// The text with trailing blanks removed.
std::string trimmedrow(WINDOW* win, int row);
// The character and attributes of one cell.
chtype cellat(WINDOW* win, int row, int col);
// True when the cell holds the line-drawing character `acs` (ACS_HLINE, ACS_VLINE...).
bool isacs(WINDOW* win, int row, int col, chtype acs);
// The colour pair number of a cell.
int cellpair(WINDOW* win, int row, int col);

// A test with a fresh 24x80 screen for every test case; reopen() changes the size.
class NcursesTest : public ::testing::Test {
protected:
    void SetUp() override { screen = std::make_unique<NcursesScreen>(); }
    void TearDown() override { screen.reset(); }
    void reopen(const NcursesScreen::Options& options)
    {
        screen.reset();
        screen = std::make_unique<NcursesScreen>(options);
    }

    std::unique_ptr<NcursesScreen> screen;
};

#endif
