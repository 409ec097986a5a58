// TuiEvent: the application's command event, posted by menus, lists and dialogs and
// carried out by MainProg.
#ifndef VARNIX_TUIEVENT_H
#define VARNIX_TUIEVENT_H

#include <string>

#include "nevent.h"
#include "srv.h"

enum {
    evCFGCH = 0,
    evABORTRES = 1,
    evABOUT = 2,
    evKEYBIND = 3,
    evBENCHMARK = 4,
    evADDPROJECT = 5,
    evCOLVIEWCH = 6,
    evVIEWMODECH = 7,
    evSORTMODECH = 8,
    evADDACCMGR = 9,
    evPROJECT = 10,
    evTASKINFO = 11,
    evTASKSELECTORON = 12,
    evTASKSELECTOROFF = 13,
    evASCIIMODECHANGE = 14,
    evTRANSPARENTBGMODECHANGE = 15,
    evPOPUPMSG = 16,
    // Client controls beyond tasks, projects and modes:
    evABORTTRANSFER = 17, // srv; sdata1 project URL; sdata2 file name; bdata1 confirmed
    evSHUTDOWN = 18,      // srv (the current host when none); bdata1 confirmed
    evCLIENTOP = 19,      // idata a ClientOp; srv (the current host when none); its values
    evSNOOZE = 20,        // srv; idata a ModeKind; bdata1 cancel, back to the mode word sdata1
    evCLOSEBOX = 21,      // closes the message box alone, leaving the window below it open
    // The all-hosts window: make `srv` the current host.
    evSWITCHHOST = 22,
};

// What an evCLIENTOP asks of the host.
enum ClientOp {
    opRETRYTRANSFER = 0, // sdata1 project URL, sdata2 file name
    opREADCONFIG = 1,
    opREADPREFS = 2,
    opNETWORKAVAILABLE = 3,
};

class TuiEvent : public NEvent {
public:
    explicit TuiEvent(int code) : NEvent(evPROG, code) {}
    TuiEvent(int code, Srv* srv, const std::string& sdata1, const std::string& sdata2)
        : NEvent(evPROG, code), srv(srv), srvserial(srv ? srv->serial : 0), sdata1(sdata1), sdata2(sdata2)
    {
    }

    Srv* srv = nullptr; // not owned; the constructor reads its serial, so it must be live
    // Tells the host apart from a later one that the allocator put at the same address.
    unsigned long long srvserial = 0;
    std::string sdata1;
    std::string sdata2;
    bool bdata1 = false;
    bool bdata2 = false;
    int idata = 0;
};

#endif
