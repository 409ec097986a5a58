// The cost of a timer tick: each pane of the main window rebuilding from the newest
// snapshots of a large host, and the three together with the drawing of the screen.
#include <benchmark/benchmark.h>

#include <mutex>
#include <string>

#include "benchdata.h"
#include "benchscreen.h"
#include "infopanel.h"
#include "mainwin.h"
#include "msgwin.h"
#include "nevent.h"
#include "srv.h"
#include "taskwin.h"

namespace {

// A 160 x 50 terminal, split the way the main window splits it.
constexpr int kRows = 50;
constexpr int kCols = 160;
const NRect kTaskRect{2, 1, 28, kCols - 23};
const NRect kMsgRect{31, 1, kRows - 34, kCols - 23};
const NRect kInfoRect{1, kCols - 21, kRows - 3, 20};

BenchScreen& screen()
{
    static BenchScreen s(kRows, kCols);
    return s;
}

std::string taskset(int64_t n)
{
    return "tasks-" + std::to_string(n);
}

// The message log of a long-running client, as the update thread holds it.
void loadmessages(Srv& srv)
{
    std::string text = benchreply("messages-100000", "get_messages.xml");
    maskbodymarkup(&text[0], text.size());
    std::string error;
    srv.messagesnapshots.push(parsexml(text.data(), text.size(), error));
    srv.lastmsgseqno = 100000;
}

// What one poll of the update thread does to a growing log: `count` new messages merged
// into the newest tree under the list's lock.
void addmessages(Srv& srv, int count)
{
    const int first = srv.lastmsgseqno + 1;
    std::string text = "<msgs>\n";
    for (int seqno = first; seqno < first + count; ++seqno) {
        text += "<msg>\n <project>Alpha@Home</project>\n <pri>1</pri>\n <seqno>" +
                std::to_string(seqno) +
                "</seqno>\n <body><![CDATA[\nComputation for task alpha_0012345_0001_0 finished\n"
                "]]></body>\n <time>" +
                std::to_string(1800000000 + seqno * 20) + "</time>\n</msg>\n";
    }
    text += "</msgs>\n";
    maskbodymarkup(&text[0], text.size());
    std::string error;
    auto fresh = parsexml(text.data(), text.size(), error);
    Snapshot tree(srv.messagesnapshots);
    std::lock_guard<std::mutex> hold(srv.messagesnapshots.lock());
    tree->find("msgs")->merge(fresh->find("msgs"));
    srv.lastmsgseqno = first + count - 1;
}

// Two hosts with the same data, read in turn: as on a live host, every rebuild meets a
// snapshot it has not seen yet.
void BM_taskwin(benchmark::State& state)
{
    screen();
    std::unique_ptr<Srv> hosts[2] = {benchhost(taskset(state.range(0))),
                                     benchhost(taskset(state.range(0)))};
    TaskWin win(kTaskRect);
    win.sortmode = static_cast<int>(state.range(1));
    int turn = 0;
    for (auto _ : state) {
        win.srv = hosts[turn ^= 1].get();
        win.updatedata();
    }
    state.counters["lines"] = win.getstringcount();
}
BENCHMARK(BM_taskwin)
    ->ArgsProduct({{100, 1000, 5000}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}})
    ->Unit(benchmark::kMillisecond);

// Also with new snapshots every time, the statistics too: the cost of the tick after a
// statistics poll (every few minutes); other ticks reuse what the statistics gave.
void BM_infopanel(benchmark::State& state)
{
    screen();
    std::unique_ptr<Srv> hosts[2] = {benchhost(taskset(state.range(0))),
                                     benchhost(taskset(state.range(0)))};
    InfoPanel panel(kInfoRect);
    int turn = 0;
    for (auto _ : state) {
        panel.srv = hosts[turn ^= 1].get();
        panel.updatedata();
    }
}
BENCHMARK(BM_infopanel)->Arg(5000)->Unit(benchmark::kMillisecond);

// A tick on which 10 messages arrived, in a log that already holds 100,000.
void BM_msgwin(benchmark::State& state)
{
    screen();
    Srv srv("127.0.0.1", "0", "", "bench");
    loadmessages(srv);
    MsgWin win(kMsgRect);
    win.srv = &srv;
    win.updatedata();
    for (auto _ : state) {
        state.PauseTiming();
        addmessages(srv, 10);
        state.ResumeTiming();
        win.updatedata();
    }
    state.counters["lines"] = win.getstringcount();
}
BENCHMARK(BM_msgwin)->Unit(benchmark::kMillisecond);

// The first tick after start: every line of a 100,000-message log.
void BM_msgwinfirst(benchmark::State& state)
{
    screen();
    Srv srv("127.0.0.1", "0", "", "bench");
    loadmessages(srv);
    MsgWin win(kMsgRect);
    win.srv = &srv;
    for (auto _ : state) {
        win.lastseqno = 0;
        win.updatedata();
    }
    state.counters["lines"] = win.getstringcount();
}
BENCHMARK(BM_msgwinfirst)->Unit(benchmark::kMillisecond);

// A whole timer tick of the main window on a 160 x 50 terminal: the caption, the three
// panes rebuilt and drawn, the screen updated. As on a live host, every tick finds a new
// state snapshot (the update thread polls it every two seconds; its parsing, and freeing
// the one it replaces, is the update thread's work and not timed) and 10 new messages in
// a log of 100,000.
void BM_tick(benchmark::State& state)
{
    screen();
    const std::string set = taskset(state.range(0));
    auto srv = benchhost(set);
    loadmessages(*srv);
    MainWin win(NRect{1, 0, kRows - 2, kCols});
    win.setsrv(srv.get());
    auto tick = [&] {
        NEvent ev(evTIMER, 0);
        win.eventhandle(&ev);
        update_panels();
        doupdate();
    };
    tick();
    for (auto _ : state) {
        state.PauseTiming();
        srv->statesnapshots.push(benchtree(set, "get_state.xml"));
        srv->statesnapshots.release(nullptr);
        addmessages(*srv, 10);
        state.ResumeTiming();
        tick();
    }
}
BENCHMARK(BM_tick)->Arg(100)->Arg(500)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace
