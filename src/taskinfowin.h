// TaskInfoWin: every element of one task of the client's state as name and value lines,
// with a readable form of the values it knows, rebuilt on every timer tick; a value that
// changed since the previous rebuild shows in cyan.
#ifndef VARNIX_TASKINFOWIN_H
#define VARNIX_TASKINFOWIN_H

#include <string>
#include <utility>
#include <vector>

#include "ndialog.h"

class Item;
class NScrollBar;
class NScrollView;
class Srv;

// The readable form of a known element's value ("12.35 %", "executing", a date, "1h 2m 5s",
// "100MB"); empty for any other element and for values with no sensible reading.
std::string readablevalue(const Item* item);
// The parts of it that other windows show: the name of a task's exit status ("aborted via
// gui"; empty for a status without one) and a duration ("1h 2m 5s").
std::string exitstatusword(long long status);
std::string readableduration(double seconds);

class TaskInfoWin : public NDialog {
public:
    using Row = std::pair<std::string, std::string>; // name, value

    // The task is the result of the client's state with that project URL and name.
    TaskInfoWin(const std::string& title, Srv* srv, const std::string& projecturl,
                const std::string& taskname);
    ~TaskInfoWin() override;

    // Rebuilds the lines from the host's newest state snapshot.
    void updatedata();

    Srv* srv; // not owned; may be null
    std::string projecturl;
    std::string taskname;
    NScrollView* content = nullptr;
    NScrollBar* scrollbar = nullptr;
    std::vector<Row> prevrows; // the rows of the previous rebuild

protected:
    void handlekey(int key) override;
    void ontick() override { updatedata(); }

private:
    // The rows of an element's children; nested elements are framed by blank rows.
    void addrows(const Item* parent, std::vector<Row>& rows);

    int maxnamewidth = 0;  // of the last rebuild
    int maxvaluewidth = 0; // since creation: it only grows
};

#endif
