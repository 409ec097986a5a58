// TaskWin: the task list of the main window, one line per task of the current host,
// rebuilt from the newest state snapshot on every timer tick.
#ifndef VARNIX_TASKWIN_H
#define VARNIX_TASKWIN_H

#include <cstdint>
#include <ctime>
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
    // Tells the application when the selection became valid or invalid.
    void noticeselection();

    std::vector<std::unique_ptr<TaskKey>> keys; // one per line
    // Lines and keys of earlier rebuilds, kept for the next one.
    std::vector<std::unique_ptr<NAttrString>> spareline;
    std::vector<std::unique_ptr<TaskKey>> sparekey;
    bool selectionshown = false; // validity last reported to the application
};

#endif
