#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ndraw.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "nmessagebox.h"

namespace {

class MessageBox : public NcursesTest {};

const char kConfirm[] = "Please Confirm\n\nTask   : x\nOperation : Abort";

std::unique_ptr<NMessageBox> confirmbox()
{
    auto box = std::make_unique<NMessageBox>(kConfirm);
    box->addbutton(std::make_unique<NMButton>("Yes", new NEvent(evPROG, 1), 'Y', 'y', 0));
    box->addbutton(std::make_unique<NMButton>("No", new NEvent(evKB, 27), 'N', 'n', 27, 0));
    return box;
}

} // namespace

TEST_F(MessageBox, CountsRowsAtThirtyFiveCharacters)
{
    const int w = NMessageBox::kTextCols;
    EXPECT_EQ(NMessageBox::countrows(kConfirm, w), 4);
    EXPECT_EQ(NMessageBox::countrows(std::string(70, 'a').c_str(), w), 2);
    EXPECT_EQ(NMessageBox::countrows(std::string(36, 'a').c_str(), w), 2);
    EXPECT_EQ(NMessageBox::countrows(std::string(35, 'a').c_str(), w), 1);
    EXPECT_EQ(NMessageBox::countrows(std::string(71, 'a').c_str(), w), 3);
    EXPECT_EQ(NMessageBox::countrows("", w), 0);
    EXPECT_EQ(NMessageBox::countrows(nullptr, w), 0);
    EXPECT_EQ(NMessageBox::countrows("a\nb\nc", w), 3);
    // Multibyte characters count once each.
    std::string umlauts;
    for (int i = 0; i < 35; ++i)
        umlauts += "\xc3\xa4";
    EXPECT_EQ(NMessageBox::countrows(umlauts.c_str(), w), 1);
}

TEST_F(MessageBox, InvalidBytesStillGiveAFiniteCount)
{
    const int w = NMessageBox::kTextCols;
    EXPECT_EQ(NMessageBox::countrows(std::string(100, '\xff').c_str(), w), 3);
    EXPECT_EQ(NMessageBox::countrows("ok\xc3", w), 1);         // torn at the end
    EXPECT_EQ(NMessageBox::countrows("\x80\n\x80", w), 2);
    NMessageBox box("bad \xff\xfe bytes\nsecond row");
    EXPECT_EQ(box.rect.rows, 2 + 6);
}

TEST_F(MessageBox, ConfirmationBoxIsTenRowsAndCentred)
{
    auto box = confirmbox();
    EXPECT_EQ(box->rect.rows, 10);
    EXPECT_EQ(box->rect.cols, 40);
    EXPECT_TRUE(box->ismodal());
    EXPECT_STREQ(box->getid(), "11NMessageBox");
    EXPECT_EQ(box->rect.begrow, 12 - 5);
    EXPECT_EQ(box->rect.begcol, 40 - 20);
    EXPECT_EQ(box->text->rect.rows, 4);
    EXPECT_EQ(box->text->rect.begrow, 2);
    EXPECT_EQ(box->text->rect.begcol, 2);
}

TEST_F(MessageBox, ButtonsAreCentredTwoBlanksApart)
{
    auto box = confirmbox();
    const auto& kids = box->getchildren();
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_EQ(kids[1]->rect.begrow, 7);
    EXPECT_EQ(kids[1]->rect.begcol, 15);
    EXPECT_EQ(kids[2]->rect.begrow, 7);
    EXPECT_EQ(kids[2]->rect.begcol, 22);
    // On the screen: below the text, inside the frame.
    EXPECT_EQ(getbegy(kids[1]->win), 7 + 7);
    EXPECT_EQ(getbegx(kids[1]->win), 20 + 15);

    NMessageBox single("Need restart varnix");
    single.addbutton(std::make_unique<NMButton>("Yes", new NEvent(evKB, 27), 'Y', 0));
    EXPECT_EQ(single.getchildren()[1]->rect.begcol, (40 - 7) / 2 + 2);
}

TEST_F(MessageBox, ShowsItsTextAndButtonsOnTheScreen)
{
    lineDrawMode = 1;
    auto box = confirmbox();
    box->refresh();
    std::vector<std::string> rows;
    for (int r = 7; r < 17; ++r)
        rows.push_back(screen->screenrow(r).substr(20, 40));
    EXPECT_EQ(rows[0], "+" + std::string(38, '-') + "+");
    EXPECT_EQ(rows[2], "| Please Confirm                       |");
    EXPECT_EQ(rows[4], "| Task   : x                           |");
    EXPECT_EQ(rows[5], "| Operation : Abort                    |");
    EXPECT_EQ(rows[7], "|               Yes    No              |");
    EXPECT_EQ(rows[9], "+" + std::string(38, '-') + "+");
}

TEST_F(MessageBox, EscPassesEverythingElseStops)
{
    EventLog log;
    TestProgram prog(&log);
    auto* below = prog.insert(std::make_unique<RecordingView>("below", &log));
    (void)below;
    NMessageBox* box = prog.insert(std::make_unique<NMessageBox>("Hello"));
    box->addbutton(std::make_unique<NMButton>("Ok", new NEvent(evPROG, 16), 'O', 'o', 0));

    for (int k : std::vector<int>{'x', 'q', KEY_DOWN, KEY_F(9), 10})
        prog.putevent(new NEvent(evKB, k));
    prog.putevent(new NMouseEvent(BUTTON1_CLICKED, 0, 0)); // outside the box: still kept
    prog.drainqueue();
    EXPECT_TRUE(log.empty());

    prog.putevent(new NEvent(evKB, 27));
    prog.putevent(new NEvent(evTIMER, 0));
    prog.drainqueue();
    std::vector<std::string> seen;
    for (const auto& e : log)
        seen.push_back(e.by + ":" + std::to_string(e.type) + ":" + std::to_string(e.keycode));
    EXPECT_EQ(seen, (std::vector<std::string>{"below:0:27", "program:0:27", "below:3:0", "program:3:0"}));

    // The button's key reaches the button first and its event the program.
    log.clear();
    prog.putevent(new NEvent(evKB, 'o'));
    prog.drainqueue();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].type, evPROG);
    EXPECT_EQ(log[0].keycode, 16);
}

TEST_F(MessageBox, ClosingTheBoxRepaintsWhatWasBelow)
{
    TestProgram prog;
    auto* under = prog.insert(std::make_unique<NView>(NRect{0, 0, 24, 80}));
    for (int r = 0; r < 24; ++r)
        mvwaddstr(under->win, r, 0, std::string(80, '.').c_str());
    prog.insert(confirmbox());
    prog.centermodals(LINES, COLS);
    EXPECT_NE(screen->screenrow(9).find("Please Confirm"), std::string::npos);
    EXPECT_TRUE(prog.destroybyid("11NMessageBox"));
    EXPECT_EQ(screen->screenrow(9), std::string(80, '.'));
}

TEST_F(MessageBox, LongTextIsCutAndEmptyTextWorks)
{
    std::string huge(5000, 'z');
    NMessageBox big(huge.c_str());
    EXPECT_EQ(big.text->getcontent().getlen(), 1023);

    NMessageBox empty("");
    EXPECT_EQ(empty.rect.rows, 6);
    EXPECT_EQ(empty.text->rect.rows, 0);
}

// A text longer than the screen is tall (a hostile task name in a confirmation): the box
// stays on the screen and its buttons below the text, not over it.
TEST_F(MessageBox, TallTextKeepsTheBoxAndItsButtonsOnTheScreen)
{
    std::string text = "Please Confirm\n\nTask   : " + std::string(1500, 'n') + "\nOperation : Abort";
    NMessageBox box(text.c_str());
    NMButton* yes = box.addbutton(std::make_unique<NMButton>("Yes", new NEvent(evPROG, 1), 'Y', 0));
    EXPECT_GE(box.rect.begrow, 0);
    EXPECT_LE(box.rect.begrow + box.rect.rows, LINES);
    EXPECT_EQ(getbegy(box.win), box.rect.begrow);
    EXPECT_EQ(getbegy(yes->win), box.rect.begrow + box.rect.rows - 3);
    EXPECT_GT(yes->rect.begrow, box.text->rect.begrow + box.text->rect.rows - 1);
}
