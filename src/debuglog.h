// DebugLog: the program's log facility. This build logs nothing.
#ifndef VARNIX_DEBUGLOG_H
#define VARNIX_DEBUGLOG_H

class DebugLog {
public:
    static void open(const char*) {}
    static void print(const char*, ...) {}
    static void close() {}
};

#endif
