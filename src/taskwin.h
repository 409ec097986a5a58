// TaskWin: the task list of the main window, one line per task of the current host,
// rebuilt from the newest state snapshot on every timer tick.
#ifndef VARNIX_TASKWIN_H
#define VARNIX_TASKWIN_H

#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "nselectlist.h"

class Item;
class Srv;

// The row object of a task line: what a task operation needs to address the task.
struct TaskKey {
    std::string taskname;
    std::string projecturl;
};

class TaskWin : public NSelectList {
public:
    // Column bits of columnmask.
    enum Column {
        colNumber = 0,
        colState,
        colDone,
        colProject,
        colEstimate,
        colReceived,
        colDeadline,
        colApplication,
        colSwap,
        colTask,
        colCount
    };

    explicit TaskWin(const NRect& rect);
    ~TaskWin() override;

    void eventhandle(NEvent* ev) override;
    // A line's texts are made when it is first drawn or asked for.
    void drawcontent() override;
    const NAttrString* getstring(int i) const override;
    // Empties the list and its task keys; keeps the first shown line where it can.
    virtual void clearlist();
    // Rebuilds the lines from the host's newest state snapshot.
    void updatedata();
    // Writes the three settings into the configuration tree (existing keys only).
    void saveopts();

    // The key of the selected line, or null.
    TaskKey* getselectedtask() const { return static_cast<TaskKey*>(getselectedobj()); }

    Srv* srv = nullptr; // not owned; null when there is no host
    int columnmask = -1;
    int listmode = 0;
    int sortmode = 1;

    // Current time for the rcv and dl columns; tests pin it.
    std::time_t (*clock)() = [] { return std::time(nullptr); };

private:
    // Builds the lines of one state tree.
    void addlines(const Item* clientstate, uint64_t stamp);
    // Makes the texts of line i from its record.
    void formatline(size_t i) const;
    // Tells the application when the selection became valid or invalid.
    void noticeselection();

    std::vector<std::unique_ptr<TaskKey>> keys; // one per line
    // What a line shows, worked out at the rebuild, before its texts are made.
    struct TaskLine {
        int counter = 0;
        std::string statetext;
        int lineattr = 0, stateattr = 0, gpuattr = 0, estattr = 0, deadlineattr = 0;
        bool hasdone = false, hasestimate = false, hasreceived = false, hasdeadline = false;
        bool hasswap = false;
        double done = 0, estimate = 0, received = 0, deadline = 0, swap = 0;
        const std::string* project = nullptr; // in columntexts
        const std::string* app = nullptr;     // in columntexts, or a constant
        bool formatted = false;
    };
    mutable std::vector<TaskLine> lines; // one per line
    std::deque<std::string> columntexts; // project and app column texts of the rebuild
    std::time_t linesnow = 0;            // the time and the columns of the rebuild
    unsigned linesmask = 0;
    // Lines and keys of earlier rebuilds, kept for the next one.
    std::vector<std::unique_ptr<NAttrString>> spareline;
    std::vector<std::unique_ptr<TaskKey>> sparekey;
    bool selectionshown = false; // validity last reported to the application
};

#endif
