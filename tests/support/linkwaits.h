// Shortens the network and polling waits of the client link for the life of a test,
// and puts the real values back afterwards.
#ifndef VARNIX_TESTS_LINKWAITS_H
#define VARNIX_TESTS_LINKWAITS_H

#include "srv.h"
#include "tconnect.h"

class LinkWaits {
public:
    LinkWaits(int sleepstepus, int pollwaitus, int replytimeoutms = 15000)
        : sleepstep_(Srv::sleepstepus), pollwait_(Srv::pollwaitus),
          replytimeout_(TConnect::replytimeoutms), replytotal_(TConnect::replytotalms),
          maxreply_(TConnect::maxreplysize), maxitems_(Srv::maxreplyitems)
    {
        Srv::sleepstepus = sleepstepus;
        Srv::pollwaitus = pollwaitus;
        TConnect::replytimeoutms = replytimeoutms;
    }
    ~LinkWaits()
    {
        Srv::sleepstepus = sleepstep_;
        Srv::pollwaitus = pollwait_;
        TConnect::replytimeoutms = replytimeout_;
        TConnect::replytotalms = replytotal_;
        TConnect::maxreplysize = maxreply_;
        Srv::maxreplyitems = maxitems_;
    }
    LinkWaits(const LinkWaits&) = delete;
    LinkWaits& operator=(const LinkWaits&) = delete;

private:
    int sleepstep_, pollwait_, replytimeout_, replytotal_;
    size_t maxreply_, maxitems_;
};

// For its lifetime every name lookup of the link hangs until the end, and connection
// attempts give up after `connectms`; counts the lookups started.
class HungResolver {
public:
    explicit HungResolver(int connectms);
    ~HungResolver(); // releases the waiting lookups and puts the real resolver back
    HungResolver(const HungResolver&) = delete;
    HungResolver& operator=(const HungResolver&) = delete;
    static int lookups();

private:
    int savedtimeout_;
};

// Number of open descriptors of this process.
int openfdcount();

#endif
