// What a window pays to read a snapshot: PtrList acquire/release, alone and while
// another thread does the same, and the push-and-purge of the update thread.
#include <benchmark/benchmark.h>

#include <memory>

#include "item.h"
#include "ptrlist.h"

namespace {

PtrList& sharedlist()
{
    static PtrList* list = [] {
        auto* l = new PtrList;
        l->push(std::make_unique<Item>("client_state"));
        return l;
    }();
    return *list;
}

void BM_ptrlistacquirerelease(benchmark::State& state)
{
    PtrList& list = sharedlist();
    for (auto _ : state) {
        Item* tree = list.acquire();
        benchmark::DoNotOptimize(tree);
        list.release(tree);
    }
}
BENCHMARK(BM_ptrlistacquirerelease);
BENCHMARK(BM_ptrlistacquirerelease)->Threads(2);

// A new snapshot arrives while a reader holds the old one; the reader's release frees it.
void BM_ptrlistpushrelease(benchmark::State& state)
{
    PtrList list;
    list.push(std::make_unique<Item>("client_state"));
    for (auto _ : state) {
        Item* old = list.acquire();
        list.push(std::make_unique<Item>("client_state"));
        list.release(old);
    }
}
BENCHMARK(BM_ptrlistpushrelease);

} // namespace
