#include "linkwaits.h"

#include <atomic>
#include <condition_variable>
#include <dirent.h>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex hungmutex;
std::condition_variable hungwake;
bool hungreleased = false;
std::atomic<int> hunglookups{0};

bool hungresolver(const std::string&, in_addr&)
{
    ++hunglookups;
    std::unique_lock<std::mutex> hold(hungmutex);
    hungwake.wait(hold, [] { return hungreleased; });
    return false;
}

} // namespace

HungResolver::HungResolver(int connectms) : savedtimeout_(TConnect::connecttimeoutms)
{
    hunglookups = 0;
    {
        std::lock_guard<std::mutex> hold(hungmutex);
        hungreleased = false;
    }
    TConnect::connecttimeoutms = connectms;
    TConnect::lookuphook = hungresolver;
}

HungResolver::~HungResolver()
{
    {
        std::lock_guard<std::mutex> hold(hungmutex);
        hungreleased = true;
    }
    hungwake.notify_all();
    TConnect::lookuphook = nullptr;
    TConnect::connecttimeoutms = savedtimeout_;
    usleep(50000); // the released lookup threads end
}

int HungResolver::lookups()
{
    return hunglookups;
}

int openfdcount()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}
