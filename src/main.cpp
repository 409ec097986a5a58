#include <cstdlib>

#include "cmdline.h"
#include "config.h"
#include "debuglog.h"

int main(int argc, char** argv)
{
    DebugLog::open("varnix.log");
    gConfig = new Config(".varnix.cfg"); // lives until the process ends
    int status = 0;
    if (parsecmdline(argc, argv, *gConfig, status)) {
        // The screen arrives with the main window; until then the program ends here.
    }
    DebugLog::close();
    return status;
}
