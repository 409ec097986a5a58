// TransfersWin: the current host's file transfers, one line each, polled every 2 s while
// the window is open. Up/Down select; R asks the client to retry the selected transfer
// now, A aborts it after a confirmation. T or Esc closes it.
#ifndef VARNIX_TRANSFERSWIN_H
#define VARNIX_TRANSFERSWIN_H

#include <cstdint>
#include <string>
#include <vector>

#include "ndialog.h"

class Item;
class NSelectList;
class NStaticText;
class Srv;

// One transfer as the window shows it.
struct TransferRow {
    std::string projecturl;
    std::string project;  // the project's name, its URL when the client sent none
    std::string filename;
    bool upload = false;
    double nbytes = 0;    // the file's size
    double done = 0;      // bytes moved so far
    double speed = 0;     // bytes per second while it moves
    double timesofar = 0; // seconds spent on it
    bool active = false;  // moving now
    bool failed = false;  // given up: the state is the error
    // "active", "retry in 3m 12s", "project backoff 1h", "pending" or the error
    std::string state;
};

// One "file_transfer" of a get_file_transfers reply; waits count from `now` (seconds
// since the epoch, the clock the client's request times are on).
TransferRow transferrow(const Item* ft, double now);
// "512 B", "4.50 KB", "12.3 MB", "977 KB": three digits at most before the unit.
std::string bytestext(double bytes);
// The row's columns, in the window's order: project, file, direction, size, done with
// its percentage, speed, time so far, state.
std::vector<std::string> transfercells(const TransferRow& row);
// How the columns share a line: the widths of the two names, and which of the figures
// are shown (a narrow screen loses the speed and the time first, then the size, so that
// the state keeps its place).
struct TransferLayout {
    int project = 14;
    int file = 12;
    bool size = true;
    bool done = true;
    bool speed = true;
    bool time = true;
    // Characters a line takes, with room for the state.
    int width() const;
};
// The widest layout for lines of `cols` characters whose longest file name has
// `longestname` characters.
TransferLayout transferlayout(int cols, int longestname);
// The columns laid out as one line.
std::string transferline(const std::vector<std::string>& cells, const TransferLayout& layout);

class TransfersWin : public NDialog {
public:
    // Starts the host's transfer polls; with no host the window says so.
    explicit TransfersWin(Srv* srv);
    // Stops the polls again: the host must still be there.
    ~TransfersWin() override;

    // Rebuilds the lines from the newest transfers snapshot taken since the window opened.
    void updatedata();
    // The selected transfer, or null.
    const TransferRow* selected() const;

    Srv* srv; // not owned; may be null
    NStaticText* header = nullptr;
    NSelectList* list = nullptr;
    std::vector<TransferRow> rows;
    std::string message; // shown instead of the list: nothing to list, or why not

protected:
    void handlekey(int key) override;
    void ontick() override { updatedata(); }

private:
    // Sizes the window to its lines within the screen, and centres it.
    void fitsize();
    void moveselection(int delta);

    uint64_t openstamp = 0; // the snapshot there was at the start: older than the window
    TransferLayout layout;
};

#endif
