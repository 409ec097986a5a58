#include "msgwin.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "ncolorpair.h"
#include "srv.h"
#include "taskformat.h"
#include "textutil.h"

namespace {

const char kCdataOpen[] = " ![CDATA[";
const char kCdataClose[] = "]] ";

// "7 Mar 9:05": day and hour without padding. Empty when the time cannot be shown.
std::string timetext(const std::string& value)
{
    return localtimetext(std::strtoll(value.c_str(), nullptr, 10), "%-e %b %-k:%M");
}

} // namespace

std::string messagebodytext(const std::string& body)
{
    const size_t open = sizeof kCdataOpen - 1;
    const size_t close = sizeof kCdataClose - 1;
    if (body.compare(0, open, kCdataOpen) != 0)
        return body;
    std::string text = body.substr(open);
    // Only a closing mark that is really there goes; a body cut short keeps its end.
    if (text.size() >= close && text.compare(text.size() - close, close, kCdataClose) == 0)
        text.resize(text.size() - close);
    return text;
}

void MsgWin::addmessage(const Item* msg)
{
    Item* body = msg->find("body");
    Item* time = msg->find("time");
    if (!body || !time)
        return;
    std::string when = timetext(time->value());
    Item* project = msg->find("project");
    std::string from = project ? project->value() : "_no_";
    const int bg = getbgcolor();
    if (needheader || when != lasttime || from != lastproject) {
        auto header = std::make_unique<NAttrString>(getcolorpair(6, bg), "%s ", when.c_str());
        header->append(getcolorpair(3, bg), "%s", displaytext(from).c_str());
        addstring(std::move(header));
        lasttime = when;
        lastproject = from;
        needheader = false;
    }
    addstring(getcolorpair(7, bg), "%s", displaytext(messagebodytext(body->value())).c_str());
}

void MsgWin::trimlines()
{
    // Every message takes a line and at most one header: as many lines as that for the
    // messages the host keeps, dropped in batches from the oldest.
    const size_t keep = 2 * Srv::maxkeptmessages;
    if (content.size() <= keep + keep / 8)
        return;
    const size_t drop = content.size() - keep;
    content.erase(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(drop));
    startline = startline > static_cast<int>(drop) ? startline - static_cast<int>(drop) : 0;
    needrefresh = true;
}

void MsgWin::startover()
{
    clearcontent();
    // Rebuilt content starts with a header of its own, even in the minute and project of
    // the last header of the old content.
    needheader = true;
}

void MsgWin::updatedata()
{
    if (!srv)
        return;
    if (srv->messagesnapshots.empty()) {
        startover();
        lastseqno = 0;
        return;
    }
    Snapshot tree(srv->messagesnapshots);
    if (!tree)
        return;
    // The update thread merges new messages into this very tree under the list's lock.
    std::lock_guard<std::mutex> hold(srv->messagesnapshots.lock());
    const unsigned generation = srv->msgloggeneration;
    const int hostseqno = srv->lastmsgseqno;
    // A restarted client's log replaced the old one: its numbers start again from 1, so
    // the old content and the remembered number mean nothing any more.
    const bool newlog = generation != loggeneration;
    if (newlog)
        lastseqno = 0;
    else if (lastseqno == hostseqno)
        return;
    if (lastseqno == 0)
        startover();
    Item* msgs = tree->find("msgs");
    if (msgs) {
        // The update thread only ever appends to this list: when it is the one walked last
        // time, the messages before the place reached then have all been seen. A long log
        // then costs nothing per tick, and its lock is not held for long.
        const auto& all = msgs->getchildren();
        // The oldest messages of a long log may have been dropped since: the place
        // reached moves to the front by as many.
        const size_t trimmed = srv->msgtrimmed;
        size_t from = 0;
        if (lastseqno != 0 && msgs == walkedmsgs && srv == walkedsrv && trimmed >= walkedtrimmed &&
            trimmed - walkedtrimmed <= walkedcount && all.size() >= walkedcount - (trimmed - walkedtrimmed))
            from = walkedcount - (trimmed - walkedtrimmed);
        for (size_t i = from; i < all.size(); ++i) {
            const Item* m = all[i].get();
            if (m->getname() != "msg")
                continue;
            // A message without a number cannot be placed in the log: left out.
            Item* seqno = m->find("seqno");
            if (!seqno || seqno->intvalue() <= lastseqno)
                continue;
            addmessage(m);
        }
        walkedcount = all.size();
        walkedtrimmed = trimmed;
    }
    trimlines();
    walkedmsgs = msgs;
    walkedsrv = srv;
    lastseqno = hostseqno;
    loggeneration = generation;
    setautoscroll(true);
}

void MsgWin::eventhandle(NEvent* ev)
{
    NScrollView::eventhandle(ev);
    if (ev->done)
        return;
    if (ev->type == evKB) {
        const int n = getstringcount();
        const int half = rect.rows / 2;
        ev->done = true;
        switch (ev->keycode) {
        case KEY_HOME:
            scrollto(-n);
            setautoscroll(false);
            break;
        case KEY_NPAGE:
            if (!autoscroll) {
                int before = startline;
                scrollto(half);
                if (startline == before)
                    setautoscroll(true);
            }
            break;
        case KEY_PPAGE:
            scrollto(-half);
            setautoscroll(false);
            break;
        case KEY_END:
            scrollto(n);
            setautoscroll(false);
            break;
        default: ev->done = false; break;
        }
        if (ev->done)
            refresh();
    } else if (ev->type == evTIMER) {
        updatedata();
        refresh();
    }
}
