// SignalsBlocked: while it lives, the calling thread blocks the given signals, by default
// those the user interface waits for (window size changes, quit requests). Threads
// started meanwhile keep them blocked for good, so those signals always reach the
// interface thread.
#ifndef VARNIX_SIGBLOCK_H
#define VARNIX_SIGBLOCK_H

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

class SignalsBlocked {
public:
    SignalsBlocked() : SignalsBlocked({SIGWINCH, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {}
    explicit SignalsBlocked(std::initializer_list<int> signals)
    {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : signals)
            sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &old);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t old;
};

#endif
