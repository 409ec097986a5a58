// StatWin: the dialog with the current host's credit gained per day: one row per day,
// newest first, the gain of all projects together, then one column per project, the
// largest earner first. U switches between host and user credit, Left/Right scroll the
// project columns, PgUp/PgDn the days.
#ifndef VARNIX_STATWIN_H
#define VARNIX_STATWIN_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "nattrstring.h"
#include "ndialog.h"

class Item;
class NScrollView;
class Srv;

struct StatDay {
    int64_t day = 0;       // seconds since the epoch
    uint64_t hostgain = 0; // since the project's previous daily entry; a loss wraps around
    uint64_t usergain = 0;
};

struct StatColumn {
    std::string name;          // as the client sent it
    std::vector<StatDay> days; // in the reply's order
};

// What one statistics snapshot gives: the project columns in table order and, per day,
// the gains of all projects together (a day missing from a map counts as 0).
struct StatTable {
    std::vector<StatColumn> columns;
    std::map<int64_t, uint64_t> hostsums;
    std::map<int64_t, uint64_t> usersums;
};

// Builds the table from a statistics reply and the state that names its projects
// (either may be null); columns are ordered by the credit of the chosen kind.
StatTable buildstattable(const Item* statstree, const Item* statetree, bool hostmode);
// The table's lines: the header, then one row per day of the columns from `first` on.
std::vector<std::unique_ptr<NAttrString>> statlines(const StatTable& table, bool hostmode,
                                                    size_t first);
// A day as the rows show it ("%-2e %b"), "?" when the time cannot be shown.
std::string statdaytext(int64_t day);
// A gain (shown signed) right-aligned in `width` characters; too long a number takes an
// exponent form so that it keeps to its column.
std::string statgaintext(uint64_t gain, int width);

class StatWin : public NDialog {
public:
    // With no host the window stays empty and unframed.
    explicit StatWin(Srv* srv);
    ~StatWin() override;

    // Rebuilds the table from the host's newest snapshots.
    void updatedata();

    int hscroll = 0;     // first project column shown
    bool hostmode = true; // host credit, else user credit
    std::string caption;
    Srv* srv;            // not owned; may be null
    NScrollView* content = nullptr;
    std::vector<StatColumn> columns;

protected:
    void drawframe() override;
    void handlekey(int key) override;
    void ontick() override;

private:
    // Sizes the window and its views to the table, within the screen.
    void fitsize();

    bool sized = false; // fitted to a table (not just to the lack of one)
};

#endif
