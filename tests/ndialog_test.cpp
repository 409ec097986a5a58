#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "ndialog.h"
#include "ndraw.h"

namespace {

class Dialog : public NcursesTest {};

// A dialog that closes with the space bar and notes the keys it is given.
class SpaceDialog : public NDialog {
public:
    SpaceDialog() : NDialog(NRect{0, 0, 6, 20}, "Hi") { closekeys = {' '}; }
    void handlekey(int key) override { keys.push_back(key); }
    void ontick() override { ++ticks; }
    void rules(bool esc, bool click)
    {
        escpasses = esc;
        clickpasses = click;
    }
    std::vector<int> keys;
    int ticks = 0;
};

struct Outcome {
    bool done;
    int posted; // keycode of the event posted, -1 for none
};

Outcome offer(TestProgram& prog, NEvent&& ev)
{
    prog.queued().clear();
    prog.eventhandle(&ev);
    int posted = prog.queued().empty() ? -1 : prog.queued().front()->keycode;
    return {ev.done, posted};
}

} // namespace

TEST_F(Dialog, KeysAndClicksCloseOrStayByItsRules)
{
    TestProgram prog;
    auto* d = prog.insert(std::make_unique<SpaceDialog>());
    d->move(5, 10);
    const struct {
        const char* what;
        int type, code, row, col;
        bool esc, clickpasses;
        Outcome want;
    } cases[] = {
        {"Esc passes to the application", evKB, 27, 0, 0, true, false, {false, -1}},
        {"Esc closes it itself", evKB, 27, 0, 0, false, false, {true, 27}},
        {"a closing key", evKB, ' ', 0, 0, true, false, {true, 27}},
        {"any other key is swallowed", evKB, 'Q', 0, 0, true, false, {true, -1}},
        {"a click inside", evMOUSE, 4, 6, 12, true, false, {true, 27}},
        {"a click outside", evMOUSE, 4, 0, 0, true, false, {true, 27}},
        {"a click that passes on", evMOUSE, 8, 0, 0, true, true, {false, 27}},
        {"the wheel inside", evMOUSE, BUTTON4_PRESSED, 6, 12, true, false, {true, -1}},
        {"the wheel outside", evMOUSE, BUTTON4_PRESSED, 0, 0, true, false, {false, -1}},
    };
    for (const auto& c : cases) {
        d->rules(c.esc, c.clickpasses);
        Outcome got = c.type == evKB ? offer(prog, NEvent(evKB, c.code))
                                     : offer(prog, NMouseEvent(c.code, c.row, c.col));
        EXPECT_EQ(got.done, c.want.done) << c.what;
        EXPECT_EQ(got.posted, c.want.posted) << c.what;
    }
    EXPECT_EQ(d->keys, std::vector<int>{'Q'});
}

TEST_F(Dialog, FramesItsTitleCentresAndTicks)
{
    TestProgram prog;
    auto* d = prog.insert(std::make_unique<SpaceDialog>());
    d->centre();
    EXPECT_EQ(d->rect.begrow, 24 / 2 - 3);
    EXPECT_EQ(d->rect.begcol, 80 / 2 - 10);
    lineDrawMode = 1;
    d->refresh();
    EXPECT_EQ(rowtext(d->win, 0), "+------- Hi -------+");
    EXPECT_EQ(rowtext(d->win, 5), "+------------------+");
    NEvent tick(evTIMER, 0);
    prog.eventhandle(&tick);
    EXPECT_EQ(d->ticks, 1);
    EXPECT_FALSE(tick.done) << "every window gets the tick";
}
