// SrvList: the hosts the user can look at, the command-line host first, then the
// configured ones. Exactly one is current, and only its update thread runs.
#ifndef VARNIX_SRVLIST_H
#define VARNIX_SRVLIST_H

#include <memory>
#include <string>
#include <vector>

#include "srv.h"

class SrvList {
public:
    // Builds the list from gConfig at once.
    SrvList();
    virtual ~SrvList();
    SrvList(const SrvList&) = delete;
    SrvList& operator=(const SrvList&) = delete;

    // Rebuilds the list from gConfig; the first host becomes current and is polled.
    void refill();
    // Destroys every host (their threads are stopped and waited for).
    void clear();
    // The current host, or null when the list is empty.
    Srv* current() const;
    // Make the following / preceding host current, wrapping around at the ends.
    void next();
    void prev();
    // Makes the host at that position current, as next and prev do; false (nothing
    // changed) for a position outside the list.
    bool setcurrent(int index);

    std::vector<std::unique_ptr<Srv>> servers;
    int currentindex = -1;

    // Where the local client keeps its GUI RPC password, tried in order: the first file
    // that exists is read. Tests point this elsewhere.
    static std::vector<std::string> passwordfiles;
    // Printable bytes (32 to 127) of the first existing password file; empty when none.
    static std::string readlocalpassword();

private:
    void moveby(int step);
};

#endif
