// An ncurses screen for the window benchmarks: a pseudo-terminal of a chosen size whose
// output goes to /dev/null, so windows can be built and drawn without a real terminal.
#ifndef VARNIX_BENCH_BENCHSCREEN_H
#define VARNIX_BENCH_BENCHSCREEN_H

#include <curses.h>

class BenchScreen {
public:
    BenchScreen(int rows, int cols);
    ~BenchScreen();
    BenchScreen(const BenchScreen&) = delete;
    BenchScreen& operator=(const BenchScreen&) = delete;

private:
    int master = -1;
    int slave = -1;
    FILE* in = nullptr;
    FILE* out = nullptr;
    SCREEN* scr = nullptr;
};

#endif
