#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "aboutwin.h"
#include "config.h"
#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "ndraw.h"
#include "nstatictext.h"
#include "tuievent.h"

namespace {

class AboutHelp : public NcursesTest {};

struct Offered {
    bool done;
    int posted; // command code of the event posted, -1 for none
};

Offered offer(TestProgram& prog, NEvent&& ev)
{
    prog.queued().clear();
    prog.eventhandle(&ev);
    int posted = -1;
    if (!prog.queued().empty() && prog.queued().front()->type == evPROG)
        posted = prog.queued().front()->keycode;
    return {ev.done, posted};
}

} // namespace

TEST_F(AboutHelp, AboutShowsTitleVersionAndCredits)
{
    lineDrawMode = 1;
    TestProgram prog;
    auto* about = prog.insert(std::make_unique<AboutWin>(2, 40));
    about->refresh();
    EXPECT_EQ(about->rect.rows, 12);
    EXPECT_EQ(about->rect.cols, 40);
    EXPECT_EQ(rowtext(about->win, 0), "+--------------- VARNIX ---------------+");
    EXPECT_EQ(AboutWin::versionline(), std::string("ZORID Uvuzar ezedidu ver ") + kVarnixVersion);
    EXPECT_EQ(rowtext(about->win, 3, 5, AboutWin::versionline().size()), AboutWin::versionline());
    ASSERT_EQ(AboutWin::creditlines().size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const std::string& line = AboutWin::creditlines()[static_cast<size_t>(i)];
        EXPECT_LE(line.size(), 38u) << line;
        int col = 20 - static_cast<int>(line.size()) / 2;
        EXPECT_EQ(rowtext(about->win, 5 + i, col, line.size()), line);
    }
    EXPECT_EQ(rowtext(about->win, 11), "+--------------------------------------+");
}

TEST_F(AboutHelp, HelpListsTheKeysWithTheHyphenInColumn22)
{
    lineDrawMode = 1;
    TestProgram prog;
    auto* help = prog.insert(std::make_unique<HelpWin>(2, 40));
    help->refresh();
    EXPECT_EQ(help->rect.rows, 18);
    EXPECT_EQ(help->rect.cols, 60);
    EXPECT_EQ(rowtext(help->win, 0, 22, 17), "- Hot keys list -");
    EXPECT_EQ(HelpWin::keyline("F9/M", "Toggle main menu"),
              "       \"F9\"/\"M\"      - Toggle main menu\n");
    const char* want[] = {
        "",
        "   Common Controls:",
        "       \"N\"           - View next BOINC host",
        "       \"P\"           - View previous BOINC host",
        "       \"C\"           - Edit configuration",
        "       \"Q\"           - Quit varnix",
        "       \"F9\"/\"M\"      - Toggle main menu",
        "       \"PgUp\"/\"PgDn\" - Scroll Messages Window",
        "",
        "   Task Controls:",
        "       \"Up\"/\"Dn\"     - Select task",
        "       \"S\"           - Suspend selected running task",
        "       \"R\"           - Resume selected suspended task",
        "       \"A\"           - Abort selected task",
        "       \"Enter\"       - View selected task raw info",
        "",
    };
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(trimmedrow(help->text->win, r), want[r]) << "row " << r;
        if (std::string(want[r]).size() > 21 && want[r][3] == ' ') {
            EXPECT_EQ(want[r][21], '-');
        }
    }
    short fg = 0, bg = 0;
    pair_content(static_cast<short>(cellpair(help->text->win, 1, 3)), &fg, &bg);
    EXPECT_EQ(fg, COLOR_YELLOW) << "headings in yellow";
    EXPECT_NE(cellat(help->text->win, 1, 3) & A_BOLD, 0u);
}

TEST_F(AboutHelp, CloseOnTheirKeysAndClicksAndSwallowTheRest)
{
    TestProgram prog;
    auto* about = prog.insert(std::make_unique<AboutWin>(2, 40));
    auto* help = prog.insert(std::make_unique<HelpWin>(2, 40));
    about->move(1, 1);
    help->move(3, 3);
    const struct {
        const char* what;
        int type, code;
        Offered want; // for the help window; the about window posts evABOUT instead
    } cases[] = {
        {"Enter", evKB, 10, {true, evKEYBIND}},
        {"KEY_ENTER", evKB, KEY_ENTER, {true, evKEYBIND}},
        {"Esc, answered itself", evKB, 27, {true, evKEYBIND}},
        {"space", evKB, ' ', {true, evKEYBIND}},
        {"a hot key", evKB, 'Q', {true, -1}},
        {"F9", evKB, KEY_F(9), {true, -1}},
        {"a click, passed on", evMOUSE, 4, {false, evKEYBIND}},
        {"a double click", evMOUSE, 8, {false, evKEYBIND}},
        {"the wheel", evMOUSE, BUTTON4_PRESSED, {false, -1}},
    };
    for (const auto& c : cases) {
        Offered got = c.type == evKB ? offer(prog, NEvent(evKB, c.code))
                                     : offer(prog, NMouseEvent(c.code, 4, 4));
        EXPECT_EQ(got.done, c.want.done) << c.what;
        EXPECT_EQ(got.posted, c.want.posted) << c.what;
    }
    // With the help window gone the about window answers.
    prog.destroybyid("7HelpWin");
    EXPECT_EQ(offer(prog, NEvent(evKB, ' ')).posted, evABOUT);
    EXPECT_EQ(offer(prog, NMouseEvent(4, 0, 0)).posted, evABOUT) << "a click anywhere";
    EXPECT_STREQ(about->getid(), "8AboutWin");
}
