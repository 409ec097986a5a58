// The cost of turning a client reply into a tree: parsexml on get_state of 100, 1,000 and
// 5,000 results, next to expat alone as the floor, and the cost of freeing a tree.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>

#include <string>

#include "benchdata.h"
#include "item.h"

namespace {

std::string taskset(const benchmark::State& state)
{
    return "tasks-" + std::to_string(state.range(0));
}

// Parses the text again and again, each tree freed before the next.
void parseeach(benchmark::State& state, const std::string& text)
{
    for (auto _ : state) {
        std::string error;
        auto tree = parsexml(text.data(), text.size(), error);
        benchmark::DoNotOptimize(tree.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

void BM_parsexml(benchmark::State& state)
{
    const std::string& text = benchreply(taskset(state), "get_state.xml");
    for (auto _ : state) {
        std::string error;
        auto tree = parsexml(text.data(), text.size(), error);
        benchmark::DoNotOptimize(tree.get());
        state.PauseTiming(); // freeing is measured on its own below
        tree.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_parsexml)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

// What a poll really pays: parsing, and freeing the snapshot it replaces.
void BM_parseandfree(benchmark::State& state)
{
    parseeach(state, benchreply(taskset(state), "get_state.xml"));
}
BENCHMARK(BM_parseandfree)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_freetree(benchmark::State& state)
{
    const std::string& text = benchreply(taskset(state), "get_state.xml");
    for (auto _ : state) {
        state.PauseTiming();
        std::string error;
        auto tree = parsexml(text.data(), text.size(), error);
        state.ResumeTiming();
        tree.reset();
    }
}
BENCHMARK(BM_freetree)->Arg(5000)->Unit(benchmark::kMillisecond);

void XMLCALL nostart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL noend(void*, const XML_Char*) {}
void XMLCALL nodata(void*, const XML_Char*, int) {}

// The floor: expat reading the same text with the same encoding, building nothing.
// Arg 1 registers empty handlers, as a tree builder must.
void BM_expatonly(benchmark::State& state)
{
    const std::string& text = benchreply("tasks-5000", "get_state.xml");
    for (auto _ : state) {
        XML_Parser p = XML_ParserCreate("UTF-8");
        if (state.range(0)) {
            XML_SetElementHandler(p, nostart, noend);
            XML_SetCharacterDataHandler(p, nodata);
        }
        benchmark::DoNotOptimize(XML_Parse(p, text.data(), static_cast<int>(text.size()), 1));
        XML_ParserFree(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_expatonly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The other large replies of a poll: five years of statistics of 50 projects, and the
// first fetch of a 100,000-message log.
void BM_parsestatistics(benchmark::State& state)
{
    parseeach(state, benchreply("tasks-100", "get_statistics.xml"));
}
BENCHMARK(BM_parsestatistics)->Unit(benchmark::kMillisecond);

void BM_parsemessages(benchmark::State& state)
{
    std::string text = benchreply("messages-100000", "get_messages.xml");
    maskbodymarkup(&text[0], text.size());
    parseeach(state, text);
}
BENCHMARK(BM_parsemessages)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

size_t heapinuse()
{
    struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

// What the snapshots hold in memory: the heap taken by each parsed reply, in MB
// (10^6 bytes), next to the size of its text.
void BM_treememory(benchmark::State& state)
{
    struct Reply {
        const char* set;
        const char* file;
        const char* counter;
        bool masked;
    };
    const Reply replies[] = {
        {"tasks-5000", "get_state.xml", "state5000", false},
        {"tasks-100", "get_statistics.xml", "statistics", false},
        {"messages-100000", "get_messages.xml", "messages100k", true},
    };
    for (auto _ : state) {
        for (const Reply& r : replies) {
            std::string text = benchreply(r.set, r.file);
            if (r.masked)
                maskbodymarkup(&text[0], text.size());
            size_t before = heapinuse();
            std::string error;
            auto tree = parsexml(text.data(), text.size(), error);
            size_t after = heapinuse();
            state.counters[std::string(r.counter) + "_MB"] = static_cast<double>(after - before) / 1e6;
            state.counters[std::string(r.counter) + "_textMB"] = static_cast<double>(text.size()) / 1e6;
        }
    }
}
BENCHMARK(BM_treememory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
