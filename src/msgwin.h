// MsgWin: the message log of the current host, with a header line whenever the minute or
// the project changes. New messages are added on every timer tick and the view follows
// the end.
#ifndef VARNIX_MSGWIN_H
#define VARNIX_MSGWIN_H

#include <cstddef>
#include <string>

#include "nscrollview.h"

class Item;
class Srv;

class MsgWin : public NScrollView {
public:
    explicit MsgWin(const NRect& rect) : NScrollView(rect) {}

    void eventhandle(NEvent* ev) override;
    // Adds the lines of the messages that arrived since the last call; starts over when
    // lastseqno is 0 or the host's log was replaced by a restarted client's.
    void updatedata();

    Srv* srv = nullptr;  // not owned; null when there is no host
    int lastseqno = 0;   // the host's message sequence number at the last rebuild
    std::string lastproject;
    std::string lasttime;

private:
    void addmessage(const Item* msg);
    void startover();
    // Drops the oldest lines of a very long log.
    void trimlines();

    unsigned loggeneration = 0; // the host's log generation that the content shows
    bool needheader = true;     // the next message starts the content
    // The message list walked last, whose first walkedcount elements have been seen.
    const Item* walkedmsgs = nullptr;
    const Srv* walkedsrv = nullptr;
    size_t walkedcount = 0;
    size_t walkedtrimmed = 0; // the host's count of messages dropped from the front then
};

// Text shown for a message body: the CDATA marks that the reply parsing left are removed.
std::string messagebodytext(const std::string& body);

#endif
