#include "ptrlist.h"

#include <utility>

void PtrList::push(std::unique_ptr<Item> tree)
{
    std::lock_guard<std::mutex> hold(mutex);
    pushlocked(std::move(tree));
}

void PtrList::pushpolled(std::unique_ptr<Item> tree)
{
    std::lock_guard<std::mutex> hold(mutex);
    pushlocked(std::move(tree));
    refreshpending = false;
}

void PtrList::pushlocked(std::unique_ptr<Item> tree)
{
    static std::atomic<uint64_t> laststamp{0};
    if (tree)
        entries.push_back(Entry{std::move(tree), 0, ++laststamp});
}

Item* PtrList::acquire()
{
    uint64_t stamp;
    return acquire(stamp);
}

Item* PtrList::acquire(uint64_t& stamp)
{
    std::lock_guard<std::mutex> hold(mutex);
    stamp = 0;
    if (entries.empty())
        return nullptr;
    Entry& newest = entries.back();
    ++newest.uses;
    stamp = newest.stamp;
    return newest.tree.get();
}

void PtrList::release(Item* tree)
{
    std::vector<std::unique_ptr<Item>> dead; // destroyed after the lock is given back
    {
        std::lock_guard<std::mutex> hold(mutex);
        for (Entry& e : entries) {
            // Never below zero: an extra release must not make a later acquire look unused.
            if (e.tree.get() == tree && e.uses > 0)
                --e.uses;
        }
        if (entries.size() > 1) {
            std::vector<Entry> keep;
            keep.reserve(entries.size());
            for (size_t i = 0; i < entries.size(); ++i) {
                if (i + 1 < entries.size() && entries[i].uses <= 0)
                    dead.push_back(std::move(entries[i].tree));
                else
                    keep.push_back(std::move(entries[i]));
            }
            entries.swap(keep);
        }
    }
}

size_t PtrList::entrycount() const
{
    std::lock_guard<std::mutex> hold(mutex);
    return entries.size();
}
