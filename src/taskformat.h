// Formatting and ordering of task-list lines: durations, sizes, state words and
// the sort keys of the task list.
#ifndef VARNIX_TASKFORMAT_H
#define VARNIX_TASKFORMAT_H

#include <cstdint>
#include <string>

class Item;

std::string formatduration(int64_t seconds);
std::string formatsize(uint64_t bytes);
// The short state word of a "result" element ("Run", "Wait", "DoneEr", ...).
std::string taskstatetext(const Item* result);

// Doubles from the client truncated toward zero; out-of-range values are clamped,
// so hostile numbers never reach an undefined conversion.
int64_t secondsfromdouble(double d);
uint64_t bytesfromdouble(double d);

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

// Reads the keys of one result; projectname is the name shown for its project.
TaskSortKey maketasksortkey(const Item* result, const std::string& projectname);
// Strict weak ordering of the task list's sort modes; unknown modes sort as mode 1.
bool taskbefore(int sortmode, const TaskSortKey& a, const TaskSortKey& b);

#endif
