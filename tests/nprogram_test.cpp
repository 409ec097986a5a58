#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ndraw.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "nmessagebox.h"
#include "tempdir.h"
#include "nprogram.h"

namespace {

class Program : public NcursesTest {
protected:
    std::vector<int> keys(int type) const
    {
        std::vector<int> out;
        for (const auto& e : log)
            if (e.type == type && e.by == "program")
                out.push_back(e.keycode);
        return out;
    }
    int count(int type) const { return static_cast<int>(keys(type).size()); }

    EventLog log;
};

class Dialog : public NView {
public:
    explicit Dialog(NRect r) : NView(r) { modalflag = true; }
};

void noop(int) {}

} // namespace

TEST_F(Program, EventsPostedWhileHandlingComeAfterInTheSameDrain)
{
    TestProgram prog(&log);
    auto* poster = prog.insert(std::make_unique<RecordingView>("poster", &log));
    poster->onevent = [poster](NEvent* ev) {
        if (ev->type == evPROG && ev->keycode == 3) {
            poster->putevent(new NEvent(evPROG, 1));
            poster->putevent(new NEvent(evPROG, 2));
        }
    };
    prog.putevent(new NEvent(evPROG, 3));
    prog.drainqueue();
    EXPECT_EQ(keys(evPROG), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(prog.queuesize(), 0u);
}

TEST_F(Program, UnconsumedKeysReachTheProgramAndDialogsStopTheirs)
{
    TestProgram prog(&log);
    prog.insert(std::make_unique<RecordingView>("window", &log));
    auto* dialog = prog.insert(std::make_unique<RecordingView>("dialog", &log));
    dialog->consume.insert('k');
    prog.putevent(new NEvent(evKB, 'x'));
    prog.putevent(new NEvent(evKB, 'k'));
    prog.drainqueue();
    std::vector<std::string> order;
    for (const auto& e : log)
        order.push_back(e.by + ":" + static_cast<char>(e.keycode));
    EXPECT_EQ(order, (std::vector<std::string>{"dialog:x", "window:x", "program:x", "dialog:k"}));
}

TEST_F(Program, FirstIterationTicksAndTheNextOnlyAfterThreeSeconds)
{
    TestProgram prog(&log);
    prog.runiteration();
    EXPECT_EQ(count(evTIMER), 1);
    EXPECT_NE(prog.lasttick(), 0);

    // Just ticked: the next pass does not tick (unless three seconds went by meanwhile).
    std::time_t before = std::time(nullptr);
    prog.runiteration();
    if (std::time(nullptr) - before < 2) {
        EXPECT_EQ(count(evTIMER), 1);
    }

    prog.lasttick() = std::time(nullptr) - NProgram::kTimerSeconds;
    prog.runiteration();
    EXPECT_EQ(count(evTIMER), 2);

    prog.lasttick() = 0; // asks for a tick on the next pass
    prog.runiteration();
    EXPECT_EQ(count(evTIMER), 3);
}

TEST_F(Program, ClockSetBackDoesNotStopTheTicks)
{
    TestProgram prog(&log);
    prog.lasttick() = std::time(nullptr) + 3600;
    prog.runiteration();
    EXPECT_EQ(count(evTIMER), 1);
    EXPECT_LE(prog.lasttick(), std::time(nullptr));
}

TEST_F(Program, ReadsOneKeyPerIteration)
{
    TestProgram prog(&log);
    prog.lasttick() = std::time(nullptr);
    screen->type("ab");
    prog.runiteration();
    EXPECT_EQ(keys(evKB), (std::vector<int>{'a'}));
    prog.runiteration();
    EXPECT_EQ(keys(evKB), (std::vector<int>{'a', 'b'}));
    prog.runiteration();
    EXPECT_EQ(count(evKB), 2); // no input: nothing queued
}

TEST_F(Program, MouseReportsBecomeMouseEvents)
{
    TestProgram prog;
    prog.lasttick() = std::time(nullptr);
    std::vector<std::vector<int>> seen;
    auto* view = prog.insert(std::make_unique<RecordingView>("view", nullptr));
    view->onevent = [&seen](NEvent* ev) {
        auto* mev = dynamic_cast<NMouseEvent*>(ev);
        if (mev)
            seen.push_back({mev->keycode, mev->row, mev->col});
    };
    screen->mousepress(0, 5, 10);
    prog.runiteration();
    screen->mousepress(64, 2, 3);
    prog.runiteration();
    screen->mousepress(65, 0, 0);
    prog.runiteration();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::vector<int>{static_cast<int>(BUTTON1_PRESSED), 5, 10}));
    EXPECT_EQ(seen[1], (std::vector<int>{static_cast<int>(BUTTON4_PRESSED), 2, 3}));
    EXPECT_EQ(seen[2], (std::vector<int>{static_cast<int>(BUTTON5_PRESSED), 0, 0}));
    EXPECT_EQ(BUTTON4_PRESSED, 65536u);
    EXPECT_EQ(BUTTON5_PRESSED, 2097152u);
}

TEST_F(Program, MainloopEndsWhenTheQuitFlagIsSet)
{
    TestProgram prog(&log);
    screen->type("xq");
    prog.mainloop();
    EXPECT_TRUE(prog.quit());
    EXPECT_EQ(keys(evKB), (std::vector<int>{'x', 'q'}));
}

TEST_F(Program, ResizeSignalIsHandledOnTheNextIteration)
{
    TestProgram prog(&log);
    prog.defaultresize = false;
    std::raise(SIGWINCH);
    EXPECT_TRUE(NProgram::isresizepending());
    prog.runiteration();
    EXPECT_EQ(prog.resizes, 1);
    EXPECT_FALSE(NProgram::isresizepending());
    prog.runiteration();
    EXPECT_EQ(prog.resizes, 1);
}

TEST_F(Program, DefaultResizeTakesTheTerminalSizeAndRecentresDialogs)
{
    TestProgram prog(&log);
    prog.lasttick() = std::time(nullptr);
    auto* dialog = prog.insert(std::make_unique<Dialog>(NRect{0, 0, 10, 40}));
    auto* plain = prog.insert(std::make_unique<NView>(NRect{1, 1, 2, 2}));
    prog.centermodals(LINES, COLS);
    EXPECT_EQ(dialog->rect.begrow, 7);

    screen->setptysize(30, 100);
    std::raise(SIGWINCH);
    screen->type("z");
    screen->withstdoutonpty([&prog] { prog.runiteration(); });
    // The key typed meanwhile is read in the same pass, not held up by the resize.
    EXPECT_EQ(keys(evKB), (std::vector<int>{'z'}));
    EXPECT_EQ(LINES, 30);
    EXPECT_EQ(COLS, 100);
    EXPECT_EQ(prog.rect.rows, 30);
    EXPECT_EQ(dialog->rect.begrow, 10);
    EXPECT_EQ(dialog->rect.begcol, 30);
    EXPECT_EQ(getbegy(dialog->win), 10);
    EXPECT_EQ(getbegx(dialog->win), 30);
    EXPECT_EQ(plain->rect.begrow, 1);
    EXPECT_FALSE(NProgram::isresizepending());
}

// A terminal that claims an absurd size is used in its top left part: the screen's
// buffers stay small.
TEST_F(Program, OversizedTerminalIsUsedWithinTheLimits)
{
    TestProgram prog;
    prog.lasttick() = std::time(nullptr);
    screen->setptysize(9000, 9000);
    std::raise(SIGWINCH);
    screen->withstdoutonpty([&prog] { prog.runiteration(); });
    EXPECT_EQ(LINES, NProgram::kMaxScreenRows);
    EXPECT_EQ(COLS, NProgram::kMaxScreenCols);
    EXPECT_EQ(prog.rect.rows, NProgram::kMaxScreenRows);

    // At start, before ncurses has the screen: the size it takes from the environment.
    ScopedEnv lines("LINES", nullptr), columns("COLUMNS", nullptr);
    screen->withstdoutonpty([] { NProgram::limitstartsize(); });
    EXPECT_STREQ(getenv("LINES"), "500");
    EXPECT_STREQ(getenv("COLUMNS"), "1000");
}

TEST_F(Program, ResizeShowsOnTheScreenWithoutWaitingForAnEvent)
{
    TestProgram prog;
    prog.lasttick() = std::time(nullptr); // no timer event in the next pass
    lineDrawMode = 1;
    prog.insert(std::make_unique<NMessageBox>("Hello"));
    prog.centermodals(LINES, COLS);
    prog.refresh();
    screen->screenrow(0);
    ASSERT_EQ(rowtext(curscr, 9).substr(20, 3), "+--");

    screen->setptysize(14, 50);
    std::raise(SIGWINCH);
    screen->withstdoutonpty([&prog] { prog.runiteration(); });
    ASSERT_EQ(prog.queuesize(), 0u);
    // What the terminal was sent, read without another update: the box moved with its
    // text inside.
    EXPECT_EQ(rowtext(curscr, 7 - 3).substr(5, 3), "+--");
    EXPECT_EQ(rowtext(curscr, 7 - 1).substr(5, 8), "| Hello ");
    EXPECT_EQ(rowtext(curscr, 9).substr(20, 3), "   ");
}

TEST_F(Program, RestoresTheSignalHandlerItReplaced)
{
    struct sigaction mine {};
    mine.sa_handler = noop;
    sigemptyset(&mine.sa_mask);
    struct sigaction before {};
    sigaction(SIGWINCH, &mine, &before);
    {
        TestProgram prog;
        struct sigaction during {};
        sigaction(SIGWINCH, nullptr, &during);
        EXPECT_NE(during.sa_handler, noop);
    }
    struct sigaction after {};
    sigaction(SIGWINCH, nullptr, &after);
    EXPECT_EQ(after.sa_handler, noop);
    sigaction(SIGWINCH, &before, nullptr);
}

TEST_F(Program, QuitSignalsEndTheLoopInOrder)
{
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction before[4] {};
    for (int i = 0; i < 4; ++i)
        sigaction(signals[i], nullptr, &before[i]);
    for (int sig : signals) {
        TestProgram prog(&log);
        screen->type("x");
        std::raise(sig); // would end the whole test binary without the handler
        EXPECT_TRUE(NProgram::isquitrequested()) << sig;
        prog.mainloop();
        EXPECT_TRUE(prog.quit()) << sig;
    }
    {
        TestProgram prog(&log);
        EXPECT_FALSE(NProgram::isquitrequested()) << "a new program starts afresh";
    }
    for (int i = 0; i < 4; ++i) {
        struct sigaction after {};
        sigaction(signals[i], nullptr, &after);
        EXPECT_EQ(after.sa_handler, before[i].sa_handler) << signals[i];
    }
    // Under nohup a hangup is meant to be ignored, and stays so.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGHUP, &ignore, nullptr);
    {
        TestProgram prog(&log);
        struct sigaction during {};
        sigaction(SIGHUP, nullptr, &during);
        EXPECT_EQ(during.sa_handler, SIG_IGN);
    }
    sigaction(SIGHUP, &before[2], nullptr);
}

TEST_F(Program, QueuedEventsAreFreedWithTheProgram)
{
    auto prog = std::make_unique<TestProgram>();
    prog->putevent(new NEvent(evKB, 'x'));
    prog->putevent(new NMouseEvent(4, 1, 1));
    prog->putevent(nullptr);
    EXPECT_EQ(prog->queuesize(), 2u);
    prog.reset(); // the leak checker sees whether they were freed
}
