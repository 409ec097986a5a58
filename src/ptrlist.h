// PtrList: a locked list of reference-counted reply trees. The update thread pushes,
// windows acquire the newest tree, read it and release it again.
#ifndef VARNIX_PTRLIST_H
#define VARNIX_PTRLIST_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "item.h"

class PtrList {
public:
    PtrList() = default;
    PtrList(const PtrList&) = delete;
    PtrList& operator=(const PtrList&) = delete;

    // Appends a tree as the newest entry (nothing for a null tree).
    void push(std::unique_ptr<Item> tree);
    // What a poll does with its reply: push it when one came, and clear refreshpending,
    // both under one hold of the lock.
    void pushpolled(std::unique_ptr<Item> tree);
    // Same as push, for a caller that already holds lock().
    void pushlocked(std::unique_ptr<Item> tree);

    // The newest tree with its use count raised, or null when the list is empty.
    Item* acquire();
    // The same, with the tree's stamp: a number given to each pushed tree, never given
    // twice in the process (0 with no tree). Readers that derive figures from a snapshot
    // that rarely changes keep them for as long as the stamp stays the same.
    Item* acquire(uint64_t& stamp);
    // Gives a tree back, then destroys every entry that is neither newest nor in use.
    void release(Item* tree);

    // Entry count; entrycount() takes the lock, entrycountlocked() expects it held.
    size_t entrycount() const;
    size_t entrycountlocked() const { return entries.size(); }
    bool empty() const { return entrycount() == 0; }

    // The list's own lock, for readers that walk a tree which the update thread
    // changes in place (the message log), and for that change itself.
    std::mutex& lock() const { return mutex; }

    // Set when created; cleared by every poll of this list's request. Setting it asks
    // the update thread to poll again.
    std::atomic<bool> refreshpending{true};

private:
    struct Entry {
        std::unique_ptr<Item> tree;
        int uses = 0;
        uint64_t stamp = 0;
    };
    std::vector<Entry> entries; // oldest first
    mutable std::mutex mutex;
};

// Holds one acquired tree and releases it when it goes out of scope.
class Snapshot {
public:
    explicit Snapshot(PtrList& list) : list_(list), tree_(list.acquire(stamp_)) {}
    ~Snapshot()
    {
        if (tree_)
            list_.release(tree_);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    Item* get() const { return tree_; }
    Item* operator->() const { return tree_; }
    explicit operator bool() const { return tree_ != nullptr; }
    uint64_t stamp() const { return stamp_; }

private:
    PtrList& list_;
    uint64_t stamp_ = 0;
    Item* tree_;
};

#endif
