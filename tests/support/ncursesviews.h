// Views for toolkit and window tests: a view that records the events it is offered, and a
// program object whose loop state tests can reach.
#ifndef VARNIX_TESTS_NCURSESVIEWS_H
#define VARNIX_TESTS_NCURSESVIEWS_H

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "nprogram.h"
#include "nview.h"

struct SeenEvent {
    std::string by;
    int type;
    int keycode;
};
using EventLog = std::vector<SeenEvent>;

// Records every event it is offered into a shared log; consumes the key codes in `consume`;
// runs `onevent` (if set) for each event it is offered that is not done yet.
class RecordingView : public NView {
public:
    RecordingView(const std::string& name, EventLog* log, NRect rect = NRect{0, 0, 1, 1})
        : NView(rect), name(name), log(log)
    {
    }
    ~RecordingView() override
    {
        if (destroyed)
            destroyed->push_back(name);
    }

    void eventhandle(NEvent* ev) override
    {
        if (ev->done)
            return;
        if (log)
            log->push_back({name, ev->type, ev->keycode});
        if (onevent)
            onevent(ev);
        if (ev->type == evKB && consume.count(ev->keycode))
            ev->done = true;
    }

    std::string name;
    EventLog* log;
    std::set<int> consume;
    std::function<void(NEvent*)> onevent;
    std::vector<std::string>* destroyed = nullptr; // gets the name when the view is deleted
};

// A program that records what reaches its own handler and counts resizes.
class TestProgram : public NProgram {
public:
    explicit TestProgram(EventLog* log = nullptr) : log(log) {}

    void eventhandle(NEvent* ev) override
    {
        NProgram::eventhandle(ev);
        if (ev->done)
            return;
        if (log)
            log->push_back({"program", ev->type, ev->keycode});
        if (ev->type == evKB && ev->keycode == quitkey)
            quitflag = true;
    }
    void handleresize() override
    {
        ++resizes;
        if (defaultresize)
            NProgram::handleresize();
        else
            clearresizeflag();
    }

    bool& quit() { return quitflag; }
    std::deque<std::unique_ptr<NEvent>>& queued() { return queue; }
    std::time_t& lasttick() { return lasttime; }

    EventLog* log;
    int quitkey = 'q';
    int resizes = 0;
    bool defaultresize = true;
};

#endif
