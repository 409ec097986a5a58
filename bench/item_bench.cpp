// The searches every window makes per line: Item::find in one result or message, a hit
// near the start and a miss that walks the whole element.
#include <benchmark/benchmark.h>

#include <string>

#include "benchdata.h"
#include "item.h"

namespace {

const Item* firstresult()
{
    static std::unique_ptr<Item> state = benchtree("tasks-100", "get_state.xml");
    static const Item* result = [] {
        // A running task: the largest result element, with its active task.
        for (Item* r : state->find("client_state")->children("result"))
            if (r->find("active_task"))
                return static_cast<const Item*>(r);
        return static_cast<const Item*>(nullptr);
    }();
    return result;
}

void findeach(benchmark::State& state, const std::string& name)
{
    const Item* result = firstresult();
    for (auto _ : state)
        benchmark::DoNotOptimize(result->find(name));
}

void BM_itemfindhit(benchmark::State& state)
{
    findeach(state, "project_url");
}
BENCHMARK(BM_itemfindhit);

void BM_itemfindmiss(benchmark::State& state)
{
    findeach(state, "too_large");
}
BENCHMARK(BM_itemfindmiss);

} // namespace
