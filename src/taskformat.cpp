#include "taskformat.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string_view>
#include <utility>
#include <vector>

#include "item.h"

std::string formatduration(int64_t s)
{
    // Three of these per task line and tick: plain integer texts, no printf.
    if (s == 0)
        return "- ";
    // Only a clock far off or a hostile time gets here; its text must not burst the column.
    if (s < -9999)
        return "-inf";
    if (s <= 99)
        return std::to_string(s) + "s";
    if (s <= 5999)
        return std::to_string(s / 60) + "m";
    if (s <= 359999)
        return std::to_string(s / 3600) + "h";
    if (s <= 8639999)
        return std::to_string(s / 86400) + "d";
    return "inf";
}

std::string formatsize(uint64_t bytes)
{
    double m = std::round(static_cast<double>(bytes) / 1048576.0);
    if (m == 0)
        return "  -  ";
    // Whole numbers below 2^45 either way: exact as integers, as "%.0f" prints them.
    if (m <= 9998)
        return std::to_string(static_cast<long long>(m)) + "M";
    return std::to_string(static_cast<long long>(std::round(m / 1024.0))) + "G";
}

TaskFields gathertaskfields(const Item* result)
{
    TaskFields f;
    struct Wanted {
        std::string_view name;
        const Item* TaskFields::*field;
    };
    static const Wanted wanted[] = {
        {"name", &TaskFields::name},
        {"state", &TaskFields::state},
        {"ready_to_report", &TaskFields::readytoreport},
        {"too_large", &TaskFields::toolarge},
        {"suspended_via_gui", &TaskFields::suspendedviagui},
        {"active_task", &TaskFields::activetask},
        {"fraction_done", &TaskFields::fractiondone},
        {"plan_class", &TaskFields::planclass},
        {"project_url", &TaskFields::projecturl},
        {"wu_name", &TaskFields::wuname},
        {"estimated_cpu_time_remaining", &TaskFields::estimate},
        {"received_time", &TaskFields::received},
        {"report_deadline", &TaskFields::deadline},
        {"swap_size", &TaskFields::swap},
    };
    auto note = [&f](const Item* it) {
        const std::string& n = it->getname();
        for (const Wanted& w : wanted) {
            if (n.size() == w.name.size() && n[0] == w.name[0] && n.compare(w.name) == 0) {
                if (!(f.*w.field))
                    f.*w.field = it;
                return;
            }
        }
    };
    // Pre-order, the element itself first, as Item::find searches.
    note(result);
    std::vector<std::pair<const Item*, size_t>> stack;
    stack.emplace_back(result, 0);
    while (!stack.empty()) {
        auto& top = stack.back();
        const auto& kids = top.first->getchildren();
        if (top.second >= kids.size()) {
            stack.pop_back();
            continue;
        }
        const Item* c = kids[top.second++].get();
        note(c);
        if (!c->getchildren().empty())
            stack.emplace_back(c, 0);
    }
    if (f.activetask)
        f.activetaskstate = f.activetask->find("active_task_state");
    return f;
}

const StateResults& stateresults(uint64_t stamp, const Item* clientstate)
{
    // Per thread: the windows read snapshots on the interface thread, tests may not.
    thread_local uint64_t laststamp = 0;
    thread_local const Item* lastclientstate = nullptr;
    thread_local StateResults last;
    if (stamp != 0 && stamp == laststamp && clientstate == lastclientstate)
        return last;
    last.results = clientstate->children("result");
    last.fields.clear();
    last.numbers.clear();
    last.fields.reserve(last.results.size());
    last.numbers.reserve(last.results.size());
    for (const Item* r : last.results) {
        last.fields.push_back(gathertaskfields(r));
        last.numbers.push_back(readtasknumbers(last.fields.back()));
    }
    laststamp = stamp;
    lastclientstate = clientstate;
    return last;
}

std::string taskstatetext(const Item* result)
{
    return taskstatetext(gathertaskfields(result));
}

std::string taskstatetext(const TaskFields& f)
{
    // Without a state the number rules cannot apply; -1 falls through to the active task.
    int state = f.state ? f.state->intvalue() : -1;
    if (f.readytoreport) {
        if (state == 6)
            return "Abort";
        if (state == 3)
            return "DoneEr";
        return "Done";
    }
    if (f.toolarge)
        return "WMem";
    if (f.suspendedviagui)
        return "GSusp.";
    switch (state) {
    case 0: return "New";
    case 1: return "Dwnld";
    case 3: return "Err";
    case 4: return "Upld";
    case 6: return "Abort";
    default: break;
    }
    if (!f.activetaskstate)
        return "Wait";
    int a = f.activetaskstate->intvalue();
    switch (a) {
    case 0: return "WaitR";
    case 1: return "Run";
    case 5: return "Abort";
    case 8: return "Quit";
    case 9: return "Susp.";
    case 10: return "Copy";
    default:
        // Any other state shows its number, as long as it fits the six-column state.
        return a >= -9999 && a <= 99999 ? "A" + std::to_string(a) : "A?";
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
bool readnumber(const Item* it, double& out)
{
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
    return maketasksortkey(result, gathertaskfields(result), projectname);
}

TaskNumbers readtasknumbers(const TaskFields& f)
{
    TaskNumbers n;
    n.hasdone = readnumber(f.fractiondone, n.done);
    n.hasreceived = readnumber(f.received, n.received);
    n.hasestimate = readnumber(f.estimate, n.estimate);
    n.hasdeadline = readnumber(f.deadline, n.deadline);
    n.hasswap = readnumber(f.swap, n.swap);
    return n;
}

TaskSortKey maketasksortkey(const Item* result, const TaskFields& f, const std::string& projectname)
{
    return maketasksortkey(result, f, readtasknumbers(f), projectname);
}

TaskSortKey maketasksortkey(const Item* result, const TaskFields& f, const TaskNumbers& n,
                            const std::string& projectname)
{
    TaskSortKey k;
    k.result = result;
    k.active = f.activetask != nullptr;
    k.readytoreport = f.readytoreport != nullptr;
    k.hasdone = n.hasdone;
    k.done = n.done;
    k.hasreceived = n.hasreceived;
    k.received = n.received;
    k.hasestimate = n.hasestimate;
    k.estimate = n.estimate;
    k.hasdeadline = n.hasdeadline;
    k.deadline = n.deadline;
    k.hasswap = n.hasswap;
    k.swap = n.swap;
    k.project = upper(projectname);
    if (f.name)
        k.name = upper(f.name->value());
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

