// InfoPanel: the strip at the right of the main window that sums up the current host:
// task counts, disk space, credit totals and the newest day's gain, then one block per
// project.
#ifndef VARNIX_INFOPANEL_H
#define VARNIX_INFOPANEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "nview.h"

class Item;
class Srv;

struct ProjectStat {
    std::string name;
    std::string flags; // "[Susp.] ", "[N.N.Tsk.] " or both; empty otherwise
    double usertotal = 0;
    double hosttotal = 0;
    int64_t day = 0; // newest daily entry, seconds since the epoch
    double userdaily = 0;
    double hostdaily = 0;
};

class InfoPanel : public NView {
public:
    explicit InfoPanel(const NRect& rect) : NView(rect) {}

    void refresh() override;
    void eventhandle(NEvent* ev) override;
    // Recomputes the figures from the host's newest snapshots.
    void updatedata();

    Srv* srv = nullptr; // not owned; null when there is no host
    int nall = 0;
    int nactive = 0;
    int nrun = 0;
    int nwait = 0;
    int ndone = 0;
    int nother = 0;
    double dtotal = 0; // bytes
    double dfree = 0;
    double dboinc = 0;
    double dallowed = 0;
    double usertotal = 0;
    double useravg = 0;
    double hosttotal = 0;
    double hostavg = 0;
    int64_t laststatday = 0;
    double userdaily = 0;
    double hostdaily = 0;
    std::vector<ProjectStat> projects;

private:
    void countresults(const Item* statetree, uint64_t stamp);
    void readdisk(const Item* disktree);
    void readstatistics(const Item* statstree, uint64_t stamp, const Item* statetree);
    void summarisestatistics(const Item* statstree);

    // What one statistics snapshot gives, projects in display order without names.
    struct StatsSummary {
        struct Project {
            bool hasurl = false;
            std::string url;
            ProjectStat stat;
        };
        std::vector<Project> projects;
        int64_t laststatday = 0;
        double usertotal = 0, useravg = 0, hosttotal = 0, hostavg = 0;
        double userdaily = 0, hostdaily = 0;
    };
    StatsSummary stats;
    uint64_t statsstamp = 0; // of the snapshot summed up in stats
    // Draw helpers: each prints at `row` when it lies in the window and returns the next row.
    int putline(int row, int attr, const std::string& text);
    int putpair(int row, int attr, const char* one, const char* user, const char* host,
                double u, double h);
    int putdate(int row, int attr, int64_t day);
    int putgain(int row, int attr, double u, double h, double single);
};

// "today" or "yesterday" for a day (seconds since the epoch, UTC days), else empty.
std::string dayword(int64_t day);

#endif
