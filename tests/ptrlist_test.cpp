#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "ptrlist.h"

namespace {

// A tree that reports its own destruction.
class Probe : public Item {
public:
    Probe(std::atomic<int>& deaths, int id) : Item("probe"), deaths_(deaths)
    {
        setintvalue(id);
    }
    ~Probe() override { ++deaths_; }

private:
    std::atomic<int>& deaths_;
};

TEST(PtrListTest, EmptyListGivesNothing)
{
    PtrList list;
    EXPECT_EQ(list.acquire(), nullptr);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.refreshpending);
    list.release(nullptr);
    EXPECT_EQ(list.entrycount(), 0u);
}

TEST(PtrListTest, AcquireGivesTheNewestTree)
{
    PtrList list;
    std::atomic<int> deaths{0};
    auto a = std::make_unique<Probe>(deaths, 1);
    auto b = std::make_unique<Probe>(deaths, 2);
    Item* bp = b.get();
    list.push(std::move(a));
    list.push(std::move(b));
    list.push(nullptr); // a failed poll adds nothing
    EXPECT_EQ(list.entrycount(), 2u);
    Item* got = list.acquire();
    EXPECT_EQ(got, bp);
    list.release(got);
    // The older, unused entry goes with the first release; the newest stays.
    EXPECT_EQ(list.entrycount(), 1u);
    EXPECT_EQ(deaths, 1);
}

TEST(PtrListTest, ReleaseKeepsWhatIsInUseAndTheNewest)
{
    // A (count 1), B (count 0), C (newest): releasing A destroys A and B, keeps C.
    PtrList list;
    std::atomic<int> deaths{0};
    list.push(std::make_unique<Probe>(deaths, 1));
    Item* a = list.acquire();
    list.push(std::make_unique<Probe>(deaths, 2));
    list.push(std::make_unique<Probe>(deaths, 3));
    Item* c = list.acquire();
    list.release(c); // A still held: nothing older than C but B may go
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(a->intvalue(), 1); // still valid for its reader
    list.release(a);
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(list.entrycount(), 1u);
    Item* newest = list.acquire();
    EXPECT_EQ(newest->intvalue(), 3);
    list.release(newest);
}

TEST(PtrListTest, ReleaseOfAForeignTreeStillPurgesUnusedEntries)
{
    PtrList list;
    std::atomic<int> deaths{0};
    list.push(std::make_unique<Probe>(deaths, 1));
    Item* held = list.acquire();
    list.push(std::make_unique<Probe>(deaths, 2));
    list.push(std::make_unique<Probe>(deaths, 3));
    Item foreign("x");
    list.release(&foreign);
    EXPECT_EQ(deaths, 1); // only the unused middle entry
    EXPECT_EQ(held->intvalue(), 1);
    list.release(held);
    EXPECT_EQ(deaths, 2);
}

TEST(PtrListTest, ExtraReleaseDoesNotFreeATreeSomeoneElseHolds)
{
    PtrList list;
    std::atomic<int> deaths{0};
    list.push(std::make_unique<Probe>(deaths, 1));
    Item* t = list.acquire();
    list.release(t);
    list.release(t); // a buggy second release: the count must not go below zero
    Item* reader = list.acquire();
    list.push(std::make_unique<Probe>(deaths, 2));
    list.release(&*list.acquire());
    EXPECT_EQ(deaths, 0) << "the reader still holds the first tree";
    EXPECT_EQ(reader->intvalue(), 1);
    list.release(reader);
    EXPECT_EQ(deaths, 1);
}

TEST(PtrListTest, DestructionFreesEverything)
{
    std::atomic<int> deaths{0};
    {
        PtrList list;
        for (int i = 0; i < 5; ++i)
            list.push(std::make_unique<Probe>(deaths, i));
        list.acquire();
    }
    EXPECT_EQ(deaths, 5);
}

TEST(PtrListTest, PollClearsRefreshPendingEvenWithoutATree)
{
    PtrList list;
    list.pushpolled(nullptr);
    EXPECT_FALSE(list.refreshpending);
    EXPECT_TRUE(list.empty());
    list.refreshpending = true;
    list.pushpolled(std::make_unique<Item>("x"));
    EXPECT_FALSE(list.refreshpending);
    EXPECT_EQ(list.entrycount(), 1u);
}

TEST(PtrListTest, SnapshotReleasesOnScopeExit)
{
    PtrList list;
    std::atomic<int> deaths{0};
    list.push(std::make_unique<Probe>(deaths, 1));
    {
        Snapshot s(list);
        ASSERT_TRUE(s);
        list.push(std::make_unique<Probe>(deaths, 2));
        Snapshot other(list);
        EXPECT_EQ(other->intvalue(), 2);
        EXPECT_EQ(s->intvalue(), 1);
    }
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(list.entrycount(), 1u);
}

// One thread pushes, two read: every tree a reader holds must stay intact until it lets
// go, and nothing may leak. Meant to run under ThreadSanitizer and AddressSanitizer too.
TEST(PtrListTest, StressPushingAndReadingConcurrently)
{
    PtrList list;
    std::atomic<int> deaths{0};
    std::atomic<bool> done{false};
    const int pushes = 20000;
    std::atomic<long> reads{0};
    auto reader = [&] {
        int last = -1;
        while (!done) {
            Item* t = list.acquire();
            if (!t)
                continue;
            int v = t->intvalue();
            EXPECT_GE(v, last) << "the newest tree never goes back in time";
            last = v;
            EXPECT_EQ(t->find("child")->intvalue(), v);
            if (v % 7 == 0)
                std::this_thread::yield();
            EXPECT_EQ(t->intvalue(), v);
            list.release(t);
            ++reads;
        }
    };
    std::thread r1(reader), r2(reader);
    for (int i = 0; i < pushes; ++i) {
        auto p = std::make_unique<Probe>(deaths, i);
        p->addchild(std::make_unique<Item>("child"))->setintvalue(i);
        list.push(std::move(p));
        if (i % 100 == 0)
            std::this_thread::yield();
    }
    while (reads < 1000)
        std::this_thread::yield();
    done = true;
    r1.join();
    r2.join();
    list.release(nullptr);
    EXPECT_EQ(list.entrycount(), 1u);
    EXPECT_EQ(deaths, pushes - 1);
}

} // namespace

TEST(PtrListTest, StampsTellSnapshotsApart)
{
    PtrList list, other;
    uint64_t stamp = 99;
    EXPECT_EQ(list.acquire(stamp), nullptr);
    EXPECT_EQ(stamp, 0u);
    list.push(std::make_unique<Item>("a"));
    uint64_t first = 0, again = 0;
    Item* a = list.acquire(first);
    Item* same = list.acquire(again);
    EXPECT_EQ(a, same);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(first, again);
    list.release(a);
    list.release(same);
    // Every push gets a new stamp, in any list, even for a tree at a reused address.
    std::set<uint64_t> seen{first};
    for (int i = 0; i < 20; ++i) {
        (i % 2 ? list : other).push(std::make_unique<Item>("t"));
        Snapshot s(i % 2 ? list : other);
        EXPECT_TRUE(seen.insert(s.stamp()).second) << "stamp " << s.stamp() << " given twice";
    }
}
