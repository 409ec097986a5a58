#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ncolorpair.h"
#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "nmbutton.h"

namespace {

class Button : public NcursesTest {
protected:
    void SetUp() override
    {
        NcursesTest::SetUp();
        program = std::make_unique<TestProgram>(&log);
    }
    void TearDown() override
    {
        program.reset();
        NcursesTest::TearDown();
    }

    // Offers an event to the button and then runs the program's queue.
    bool offer(NView* b, NEvent&& ev)
    {
        b->eventhandle(&ev);
        program->drainqueue();
        return ev.done;
    }
    std::vector<int> posted() const
    {
        std::vector<int> codes;
        for (const auto& e : log)
            if (e.type == evPROG)
                codes.push_back(e.keycode);
        return codes;
    }

    EventLog log;
    std::unique_ptr<TestProgram> program;
};

} // namespace

TEST_F(Button, FiresOnAnyOfItsKeysAndOnlyOnce)
{
    auto* b = program->insert(std::make_unique<NMButton>("No", new NEvent(evPROG, 5), 'N', 'n', 27, 0));
    EXPECT_FALSE(offer(b, NEvent(evKB, 'x')));
    EXPECT_FALSE(offer(b, NEvent(evKB, 'Y')));
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(b->isarmed());

    EXPECT_TRUE(offer(b, NEvent(evKB, 'n')));
    EXPECT_EQ(posted(), (std::vector<int>{5}));
    EXPECT_FALSE(b->isarmed());
    // A second press before the box is closed posts nothing and passes on.
    EXPECT_FALSE(offer(b, NEvent(evKB, 'N')));
    EXPECT_FALSE(offer(b, NEvent(evKB, 27)));
    EXPECT_EQ(posted(), (std::vector<int>{5}));

    // Each key of the list fires.
    for (int k : std::vector<int>{'N', 27}) {
        auto* other = program->insert(std::make_unique<NMButton>("No", new NEvent(evPROG, k), 'N', 'n', 27, 0));
        EXPECT_TRUE(offer(other, NEvent(evKB, k))) << k;
        program->remove(other);
        delete other;
    }
    EXPECT_EQ(posted(), (std::vector<int>{5, 'N', 27}));
}

TEST_F(Button, WholeKeyCodesAreCompared)
{
    // KEY_ENTER (343) kept in one byte would become 'W' (87).
    auto* b = program->insert(std::make_unique<NMButton>("Ok", new NEvent(evPROG, 1), KEY_ENTER, 0));
    EXPECT_FALSE(offer(b, NEvent(evKB, 'W')));
    EXPECT_TRUE(offer(b, NEvent(evKB, KEY_ENTER)));
    EXPECT_EQ(b->getkeys(), (std::vector<int>{KEY_ENTER}));
}

TEST_F(Button, ClickInsideFires)
{
    auto* b = program->insert(std::make_unique<NMButton>("Yes", new NEvent(evPROG, 9), 'y', 0));
    b->move(5, 10); // covers columns 10..14 of row 5
    EXPECT_FALSE(offer(b, NMouseEvent(BUTTON1_CLICKED, 5, 15)));
    EXPECT_FALSE(offer(b, NMouseEvent(BUTTON1_CLICKED, 4, 10)));
    EXPECT_FALSE(offer(b, NMouseEvent(BUTTON4_PRESSED, 5, 10)));
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(offer(b, NMouseEvent(BUTTON1_DOUBLE_CLICKED, 5, 14)));
    EXPECT_EQ(posted(), (std::vector<int>{9}));
    EXPECT_FALSE(offer(b, NMouseEvent(BUTTON1_CLICKED, 5, 10)));
}

TEST_F(Button, LooksLikeABlankFramedLabel)
{
    NMButton b("Yes", new NEvent(evPROG, 1), 'y', 0);
    EXPECT_EQ(b.rect.rows, 1);
    EXPECT_EQ(b.rect.cols, 5);
    EXPECT_EQ(rowtext(b.win, 0), " Yes ");
    EXPECT_EQ(cellpair(b.win, 0, 0), PAIR_NUMBER(getcolorpair(7, 6)));
    EXPECT_FALSE(cellat(b.win, 0, 0) & A_BOLD);
    EXPECT_TRUE(cellat(b.win, 0, 1) & A_BOLD);

    NMButton wide("J\xc3\xa4", new NEvent(evPROG, 1), 0);
    EXPECT_EQ(wide.rect.cols, 4); // characters, not bytes
    EXPECT_TRUE(wide.getkeys().empty());
}

TEST_F(Button, UnpressedAndOwnerlessButtonsFreeTheirEvents)
{
    {
        NMButton idle("Idle", new NEvent(evPROG, 1), 'i', 0);
    }
    NMButton lone("Lone", new NEvent(evPROG, 1), 'l', 0);
    NEvent press(evKB, 'l');
    lone.eventhandle(&press); // no owner: the posted event is discarded, not leaked
    EXPECT_TRUE(press.done);
    SUCCEED();
}

TEST_F(Button, InitializerListForm)
{
    auto* b = program->insert(std::make_unique<NMButton>("Ok", std::make_unique<NEvent>(evPROG, 4),
                                                     std::initializer_list<int>{'O', 'o'}));
    EXPECT_TRUE(offer(b, NEvent(evKB, 'o')));
    EXPECT_EQ(posted(), (std::vector<int>{4}));
}
