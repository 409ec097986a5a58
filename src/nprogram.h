// NProgram: the root group that fills the screen, owns the event queue and runs the loop.
#ifndef VARNIX_NPROGRAM_H
#define VARNIX_NPROGRAM_H

#include <csignal>
#include <ctime>
#include <deque>
#include <memory>

#include "ngroup.h"

class NProgram : public NGroup {
public:
    // Seconds between two timer events.
    static constexpr int kTimerSeconds = 3;

    NProgram();
    ~NProgram() override;

    // Queues the event; every putevent of every view ends here.
    void putevent(NEvent* ev) override;
    // Reads the new terminal size, re-lays the screen and clears the resize flag.
    virtual void handleresize();
    // Screens larger than this are used in their top left part only: ncurses keeps
    // several buffers of the whole screen, and a terminal that claims 10000 x 10000
    // cells would take gigabytes.
    static constexpr int kMaxScreenRows = 500;
    static constexpr int kMaxScreenCols = 1000;
    // Before the screen is opened: keeps ncurses from taking an oversized terminal's size.
    static void limitstartsize();
    // Gives ncurses the terminal's current size, within the limits above.
    static void fitscreen();

    // Runs iterations until the quit flag is set.
    void mainloop();
    // One pass: resize, timer, at most one input event, then drainqueue().
    void runiteration();
    // Dispatches every queued event from the root, oldest first, including events queued
    // while dispatching; the screen is updated after each one.
    void drainqueue();
    std::size_t queuesize() const { return queue.size(); }

    // The process-wide resize flag, set by the SIGWINCH handler.
    static bool isresizepending();
    // Set by SIGINT, SIGTERM, SIGHUP and SIGQUIT: the loop ends as if the user had quit,
    // so the owner still saves what it must and the terminal is given back in order.
    static bool isquitrequested();

protected:
    // Queues the timer event when it is due.
    void checktimer();
    // Reads at most one key or mouse event from the terminal.
    void readinput();
    // After a read that gave nothing: true when the input is gone for good (a terminal
    // that hung up while the hang-up was ignored, input at its end), which would make
    // every read fail at once and the loop spin for ever.
    bool inputgone();

    std::deque<std::unique_ptr<NEvent>> queue;
    bool quitflag = false;
    std::time_t lasttime = 0; // time of the last tick; 0 makes the next iteration tick
    static void clearresizeflag();

private:
    int deadreads = 0; // reads in a row that found the input ended
    struct sigaction oldwinch {};
    struct sigaction oldquit[4] {};
};

#endif
