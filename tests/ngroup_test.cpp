#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ncursesfixture.h"
#include "ncursesviews.h"
#include "ngroup.h"

namespace {

class Group : public NcursesTest {
protected:
    RecordingView* add(NGroup& g, const std::string& name, NRect r = NRect{0, 0, 1, 1})
    {
        auto* v = g.insert(std::make_unique<RecordingView>(name, &log, r));
        v->destroyed = &destroyed;
        return v;
    }

    EventLog log;
    std::vector<std::string> destroyed;
};

class Dialog : public NView {
public:
    explicit Dialog(NRect r) : NView(r) { modalflag = true; }
};

std::vector<std::string> names(const EventLog& log)
{
    std::vector<std::string> out;
    for (const auto& e : log)
        out.push_back(e.by);
    return out;
}

} // namespace

TEST_F(Group, EventsGoToTheLastInsertedFirstUntilConsumed)
{
    NGroup g(NRect{0, 0, 10, 10});
    add(g, "first");
    auto* second = add(g, "second");
    add(g, "third");

    NEvent passing(evKB, 'x');
    g.eventhandle(&passing);
    EXPECT_EQ(names(log), (std::vector<std::string>{"third", "second", "first"}));
    EXPECT_FALSE(passing.done);

    log.clear();
    second->consume.insert('y');
    NEvent stopped(evKB, 'y');
    g.eventhandle(&stopped);
    EXPECT_EQ(names(log), (std::vector<std::string>{"third", "second"}));
    EXPECT_TRUE(stopped.done);

    log.clear();
    NEvent already(evKB, 'x');
    already.done = true;
    g.eventhandle(&already);
    EXPECT_TRUE(log.empty());
}

TEST_F(Group, HandlerMayDeleteSiblingsWhileTheEventIsOffered)
{
    NGroup g(NRect{0, 0, 10, 10});
    add(g, "first");
    add(g, "second");
    auto* closer = add(g, "closer");
    // The last child closes the two before it, as a dialog closing others would.
    closer->onevent = [&g](NEvent*) {
        while (g.getchildren().size() > 1)
            g.destroybyid(g.getchildren().front()->getid());
    };
    NEvent ev(evKB, 'x');
    g.eventhandle(&ev);
    EXPECT_EQ(names(log), (std::vector<std::string>{"closer"}));
    EXPECT_EQ(destroyed, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(g.getchildren().size(), 1u);
}

TEST_F(Group, DestroybyidDeletesOnlyTheFirstMatch)
{
    NGroup g(NRect{0, 0, 10, 10});
    add(g, "a");
    add(g, "b");
    EXPECT_FALSE(g.destroybyid("7NoSuchWindow"));
    EXPECT_EQ(g.getchildren().size(), 2u);
    EXPECT_TRUE(destroyed.empty());

    const char* id = g.getchildren().front()->getid();
    EXPECT_EQ(g.getitembyid(id), g.getchildren().front().get());
    EXPECT_TRUE(g.destroybyid(id));
    EXPECT_EQ(destroyed, (std::vector<std::string>{"a"}));
    ASSERT_EQ(g.getchildren().size(), 1u);
    EXPECT_EQ(static_cast<RecordingView*>(g.getchildren().front().get())->name, "b");
    EXPECT_EQ(g.getitembyid(nullptr), nullptr);
}

TEST_F(Group, RemoveGivesTheChildBackWithoutDeletingIt)
{
    NGroup g(NRect{0, 0, 10, 10});
    auto* v = add(g, "kept");
    g.insert(v); // inserting twice, or nothing, changes nothing
    g.insert(static_cast<NView*>(nullptr));
    EXPECT_EQ(g.getchildren().size(), 1u);
    g.remove(v);
    EXPECT_TRUE(g.getchildren().empty());
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(v->getowner(), nullptr);
    std::unique_ptr<NView> owned(v);
    owned.reset();
    EXPECT_EQ(destroyed, (std::vector<std::string>{"kept"}));
}

TEST_F(Group, ChildrenAreDeletedInListOrderWithTheGroup)
{
    {
        NGroup g(NRect{0, 0, 10, 10});
        add(g, "1");
        auto* inner = g.insert(std::make_unique<NGroup>(NRect{0, 0, 5, 5}));
        add(*inner, "2");
        add(g, "3");
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(Group, CentermodalsMovesOnlyDialogs)
{
    NGroup g(NRect{0, 0, 24, 80});
    auto* plain = g.insert(std::make_unique<NView>(NRect{1, 1, 5, 5}));
    auto* dialog = g.insert(std::make_unique<Dialog>(NRect{0, 0, 10, 40}));
    auto* odd = g.insert(std::make_unique<Dialog>(NRect{0, 0, 7, 31}));
    g.centermodals(30, 100);
    EXPECT_EQ(plain->rect.begrow, 1);
    EXPECT_EQ(dialog->rect.begrow, 10);
    EXPECT_EQ(dialog->rect.begcol, 30);
    EXPECT_EQ(getbegy(dialog->win), 10);
    EXPECT_EQ(odd->rect.begrow, 15 - 3);
    EXPECT_EQ(odd->rect.begcol, 50 - 15);

    // Resizing a group leaves its children as they are.
    g.resize(10, 10);
    EXPECT_EQ(dialog->rect.rows, 10);
    EXPECT_EQ(getmaxx(dialog->win), 40);
}

