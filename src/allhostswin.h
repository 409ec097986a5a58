// AllHostsWin: every host of the host list on one line each, in the list's order or
// sorted, with its connection state and figures: the current host from its own
// snapshots, the others from the light polls of a HostPoller that runs while the window
// is open. Up/Down select, Enter makes the selected host current, "s" changes the sort.
#ifndef VARNIX_ALLHOSTSWIN_H
#define VARNIX_ALLHOSTSWIN_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostpoller.h"
#include "nattrstring.h"
#include "ndialog.h"

class NSelectList;
class NStaticText;
class Srv;
class SrvList;

// One host as the window knows it.
struct HostRow {
    int index = 0;                 // position in the host list
    unsigned long long serial = 0; // Srv::serial
    bool current = false;
    std::string label;             // the host's label (hostid), as configured
    std::string address;           // host:port
    HostStatus status;
};

enum AllHostsSort { kSortOrder, kSortState, kSortDeadline, kSortErrors, kSortModes };

// The texts of a line's columns, each cut and padded to its width.
std::vector<std::string> hostcolumns(const HostRow& row, long long now);
// The whole line as text, and with its colours.
std::string hostlinetext(const HostRow& row, long long now);
std::unique_ptr<NAttrString> hostline(const HostRow& row, long long now);
// The column titles, in the columns' widths.
std::string hostheader();

// "online", "offline", "unauthorized", "connecting", "no answer".
const char* hoststatetext(HostState state);
// "always", "auto", "never", or "snoozed 42m" (never for a while) and "always 42m" (a
// mode for a while); "-" when unknown.
std::string runmodetext(const HostFigures& f);
// Time to a deadline ("3d", "5h", "42m", "30s", "late" once passed).
std::string timelefttext(double deadline, long long now);
// How long ago something was ("12s ago", "5m ago"); "-" for never (0).
std::string agotext(long long when, long long now);
// Sort names as the title shows them.
const char* sortname(int mode);
// Strict weak order of the sort modes; unknown figures go last, ties keep the list order.
bool hostbefore(int mode, const HostRow& a, const HostRow& b);

class AllHostsWin : public NDialog {
public:
    // Starts polling the hosts that are not current; the window's end stops it.
    AllHostsWin(SrvList& srvlist, HostPoller& poller);
    ~AllHostsWin() override;

    // Rebuilds the rows: the host list, the current host's snapshots, the poller's figures.
    void updatedata();

    // The rows in the order shown, and the selected one's serial (0: none).
    const std::vector<HostRow>& getrows() const { return rows; }
    unsigned long long selectedserial() const;
    int sortmode = kSortOrder;

protected:
    void handlekey(int key) override;
    void ontick() override { updatedata(); }

private:
    // Sizes the window to the host count, within the screen, and centres it.
    void fitsize();
    void select(int index);
    // Asks the application to make the selected host current.
    void switchtoselected();
    HostStatus currentstatus(Srv* srv, long long now);

    SrvList& srvlist;
    HostPoller& poller;
    NStaticText* header = nullptr;
    NSelectList* list = nullptr;
    std::vector<HostRow> rows;
    unsigned long long wanted = 0; // the serial the selection follows across rebuilds
    size_t sizedfor = SIZE_MAX;    // host count the window was sized for
    int sizedlines = 0, sizedcols = 0; // ... and the screen
    // The current host's figures, kept for as long as its snapshots stay the same.
    unsigned long long figuresserial = 0;
    uint64_t statestamp = 0;
    uint64_t ccstamp = 0;
    HostFigures figures;
};

#endif
