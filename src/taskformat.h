// Formatting and ordering of task-list lines: durations, sizes, state words and
// the sort keys of the task list.
#ifndef VARNIX_TASKFORMAT_H
#define VARNIX_TASKFORMAT_H

#include <cstdint>
#include <string>
#include <vector>

class Item;

std::string formatduration(int64_t seconds);
std::string formatsize(uint64_t bytes);
// The elements of a "result" that the task list reads, each the first of its name in
// the result (what Item::find gives), gathered in one walk instead of one search each.
struct TaskFields {
    const Item* name = nullptr;
    const Item* state = nullptr;
    const Item* readytoreport = nullptr;
    const Item* toolarge = nullptr;
    const Item* suspendedviagui = nullptr;
    const Item* activetask = nullptr;
    const Item* activetaskstate = nullptr; // the first inside activetask
    const Item* fractiondone = nullptr;
    const Item* planclass = nullptr;
    const Item* projecturl = nullptr;
    const Item* wuname = nullptr;
    const Item* estimate = nullptr; // "estimated_cpu_time_remaining"
    const Item* received = nullptr; // "received_time"
    const Item* deadline = nullptr; // "report_deadline"
    const Item* swap = nullptr;     // "swap_size"
};
TaskFields gathertaskfields(const Item* result);

// The "result" children of a state's "client_state" with their fields, gathered once per
// state snapshot (known by its stamp, PtrList::acquire): the windows that read the same
// snapshot on one tick share the walk. Valid while the caller holds that snapshot; a
// stamp of 0 is gathered afresh every time.
struct TaskNumbers;
struct StateResults {
    std::vector<Item*> results;
    std::vector<TaskFields> fields;
    std::vector<TaskNumbers> numbers; // read during the same walk, while still at hand
};
const StateResults& stateresults(uint64_t stamp, const Item* clientstate);

// The short state word of a "result" element ("Run", "Wait", "DoneEr", ...). A result
// without "state" is judged by its active task alone.
std::string taskstatetext(const Item* result);
std::string taskstatetext(const TaskFields& f);

// What the task list sorts by, read once per result.
struct TaskSortKey {
    const Item* result = nullptr;
    bool active = false;      // has "active_task"
    bool readytoreport = false;
    bool hasdone = false;
    double done = 0;          // "fraction_done"
    bool hasreceived = false;
    double received = 0;
    bool hasestimate = false;
    double estimate = 0;
    bool hasdeadline = false;
    double deadline = 0;
    bool hasswap = false;
    double swap = 0;
    std::string project;      // upper-cased project name
    std::string name;         // upper-cased task name
};

// The numbers of a result that the task list sorts by and shows; a "has" flag is false
// when the element is missing or not a number (NaN). swap is read even then.
struct TaskNumbers {
    bool hasdone = false, hasreceived = false, hasestimate = false, hasdeadline = false;
    bool hasswap = false;
    double done = 0, received = 0, estimate = 0, deadline = 0, swap = 0;
};
TaskNumbers readtasknumbers(const TaskFields& f);

// Reads the keys of one result; projectname is the name shown for its project.
TaskSortKey maketasksortkey(const Item* result, const std::string& projectname);
TaskSortKey maketasksortkey(const Item* result, const TaskFields& f, const std::string& projectname);
TaskSortKey maketasksortkey(const Item* result, const TaskFields& f, const TaskNumbers& n,
                            const std::string& projectname);
// Strict weak ordering of the task list's sort modes; unknown modes sort as mode 1.
bool taskbefore(int sortmode, const TaskSortKey& a, const TaskSortKey& b);

#endif
