#include "taskformat.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "item.h"

std::string formatduration(int64_t s)
{
    char buf[32];
    if (s == 0)
        return "- ";
    if (s <= 99)
        snprintf(buf, sizeof buf, "%llds", static_cast<long long>(s));
    else if (s <= 5999)
        snprintf(buf, sizeof buf, "%lldm", static_cast<long long>(s / 60));
    else if (s <= 359999)
        snprintf(buf, sizeof buf, "%lldh", static_cast<long long>(s / 3600));
    else if (s <= 8639999)
        snprintf(buf, sizeof buf, "%lldd", static_cast<long long>(s / 86400));
    else
        return "inf";
    return buf;
}

std::string formatsize(uint64_t bytes)
{
    double m = std::round(static_cast<double>(bytes) / 1048576.0);
    char buf[48];
    if (m == 0)
        return "  -  ";
    if (m <= 9998)
        snprintf(buf, sizeof buf, "%.0fM", m);
    else
        snprintf(buf, sizeof buf, "%.0fG", std::round(m / 1024.0));
    return buf;
}

int64_t secondsfromdouble(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9.2e18)
        return INT64_C(9200000000000000000);
    if (d <= -9.2e18)
        return -INT64_C(9200000000000000000);
    return static_cast<int64_t>(d);
}

uint64_t bytesfromdouble(double d)
{
    if (!(d > 0))
        return 0;
    if (d >= 1.8e19)
        return UINT64_C(18000000000000000000);
    return static_cast<uint64_t>(d);
}

std::string taskstatetext(const Item* result)
{
    Item* st = result->find("state");
    int state = st ? st->intvalue() : 0;
    if (result->find("ready_to_report")) {
        if (state == 6)
            return "Abort";
        if (state == 3)
            return "DoneEr";
        return "Done";
    }
    if (result->find("too_large"))
        return "WMem";
    if (result->find("suspended_via_gui"))
        return "GSusp.";
    switch (state) {
    case 0: return "New";
    case 1: return "Dwnld";
    case 3: return "Err";
    case 4: return "Upld";
    case 6: return "Abort";
    default: break;
    }
    Item* active = result->find("active_task");
    Item* ats = active ? active->find("active_task_state") : nullptr;
    if (!ats)
        return "Wait";
    int a = ats->intvalue();
    switch (a) {
    case 0: return "WaitR";
    case 1: return "Run";
    case 5: return "Abort";
    case 8: return "Quit";
    case 9: return "Susp.";
    case 10: return "Copy";
    default: return "A" + std::to_string(a);
    }
}

namespace {

std::string upper(const std::string& s)
{
    std::string u = s;
    for (char& c : u)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return u;
}

// A number counts only when present and finite: NaN would break the ordering.
bool readnumber(const Item* result, const char* name, double& out)
{
    Item* it = result->find(name);
    if (!it)
        return false;
    out = it->doublevalue();
    return !std::isnan(out);
}

// Present values first, then by the given direction; equal or both-missing tie.
template <typename Less>
int comparepresent(bool ha, double a, bool hb, double b, Less less)
{
    if (ha != hb)
        return ha ? -1 : 1;
    if (!ha)
        return 0;
    if (less(a, b))
        return -1;
    if (less(b, a))
        return 1;
    return 0;
}

int bystate(const TaskSortKey& a, const TaskSortKey& b)
{
    if (a.active != b.active)
        return a.active ? -1 : 1;
    if (a.readytoreport != b.readytoreport)
        return a.readytoreport ? 1 : -1;
    return 0;
}

int byreadythenactive(const TaskSortKey& a, const TaskSortKey& b)
{
    if (a.readytoreport != b.readytoreport)
        return a.readytoreport ? 1 : -1;
    if (a.active != b.active)
        return a.active ? -1 : 1;
    return 0;
}

int bytext(const std::string& a, const std::string& b)
{
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

const auto greater = [](double x, double y) { return x > y; };
const auto smaller = [](double x, double y) { return x < y; };

} // namespace

TaskSortKey maketasksortkey(const Item* result, const std::string& projectname)
{
    TaskSortKey k;
    k.result = result;
    k.active = result->find("active_task") != nullptr;
    k.readytoreport = result->find("ready_to_report") != nullptr;
    k.hasdone = readnumber(result, "fraction_done", k.done);
    k.hasreceived = readnumber(result, "received_time", k.received);
    k.hasestimate = readnumber(result, "estimated_cpu_time_remaining", k.estimate);
    k.hasdeadline = readnumber(result, "report_deadline", k.deadline);
    k.hasswap = readnumber(result, "swap_size", k.swap);
    k.project = upper(projectname);
    if (Item* n = result->find("name"))
        k.name = upper(n->value());
    return k;
}

bool taskbefore(int sortmode, const TaskSortKey& a, const TaskSortKey& b)
{
    int c = 0;
    switch (sortmode) {
    case 2:
        c = comparepresent(a.hasdone, a.done, b.hasdone, b.done, greater);
        if (c == 0 && !a.hasdone && !b.hasdone && a.readytoreport != b.readytoreport)
            c = a.readytoreport ? 1 : -1;
        break;
    case 3: c = bytext(a.project, b.project); break;
    case 4: c = comparepresent(a.hasreceived, a.received, b.hasreceived, b.received, greater); break;
    case 5:
        c = byreadythenactive(a, b);
        if (c == 0)
            c = comparepresent(a.hasestimate, a.estimate, b.hasestimate, b.estimate, smaller);
        break;
    case 6: c = comparepresent(a.hasdeadline, a.deadline, b.hasdeadline, b.deadline, smaller); break;
    case 8: c = comparepresent(a.hasswap, a.swap, b.hasswap, b.swap, greater); break;
    case 9: c = bytext(a.name, b.name); break;
    default: c = bystate(a, b); break;
    }
    return c < 0;
}
