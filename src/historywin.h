// HistoryWin: the current host's finished tasks as the task history keeps them, newest
// first, one line per task, failures in red, with the counts of the last day and week.
// f cycles a filter through the projects, e shows only the failures.
#ifndef VARNIX_HISTORYWIN_H
#define VARNIX_HISTORYWIN_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ndialog.h"
#include "nscrollview.h"

struct HistoryEntry;
class NScrollBar;
class Srv;

// How a task ended: "ok", "aborted", "upload failed", "computation error" (with its
// exit status), or an exit status with its name, "197 (exit time limit exceeded)".
std::string historyoutcome(const HistoryEntry& e);
// Every ending but "ok" counts as a failure.
bool historyfailed(const HistoryEntry& e);

struct HistorySummary {
    int day = 0, dayfailed = 0;   // completed in the last 24 hours
    int week = 0, weekfailed = 0; // in the last 7 days
};
// The counts over the entries of one project (all for an empty URL).
HistorySummary summarizehistory(const std::vector<HistoryEntry>& entries,
                                const std::string& projecturl, int64_t now);
std::string historysummarytext(const HistorySummary& s);

// A scroll view whose lines are made only when they are drawn.
class HistoryList : public NScrollView {
public:
    using Maker = std::function<void(int index, NAttrString& line)>;
    HistoryList(const NRect& rect, Maker make) : NScrollView(rect), make(std::move(make)) {}
    void drawcontent() override;
    const NAttrString* getstring(int i) const override;
    // Empty lines, filled by the maker when drawn.
    void setlinecount(int n);

private:
    Maker make;
};

class HistoryWin : public NDialog {
public:
    // With no host the window says so and stays empty.
    explicit HistoryWin(Srv* srv);
    ~HistoryWin() override;

    // Takes the host's newest history; with `force` also when it has not changed.
    void updatedata(bool force = false);

    Srv* srv; // not owned; may be null
    std::string projectfilter; // master URL of the project shown; empty: all
    bool failedonly = false;
    HistoryList* list = nullptr;
    NScrollBar* scrollbar = nullptr;
    // What the list shows, in order.
    std::vector<const HistoryEntry*> shown;

protected:
    void handlekey(int key) override;
    void ontick() override { updatedata(); }
    void drawframe() override;

private:
    void makeline(int index, NAttrString& line) const;
    // Places the list, a row shorter while a write failure is reported below it.
    void layout();
    std::string filtertext() const;

    std::shared_ptr<const std::vector<HistoryEntry>> data;
    std::string failure;
    std::vector<std::pair<std::string, std::string>> projects; // URL, name; by name
    std::string headerline;
    std::string summaryline;
    // Column widths in characters.
    int projectwidth = 7, appwidth = 11, taskwidth = 4, outcomewidth = 7, elapsedwidth = 7, cpuwidth = 3;
};

#endif
