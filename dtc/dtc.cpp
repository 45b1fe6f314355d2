// Distributed transactions: enlistment refused, since the agent offers no XA operations.
#include "dtc/dtc.h"

#include "drv_pro9/oa_optable.h"

int OleTxInit() {
    // Nothing to start: no dispenser can be made, so no trace file, lock or switch record
    // is ever used.
    return 0;
}

DTC_DISPENSER NewResourceDispenser(void* /*transaction*/, ENVR** /*envr*/, uint32_t* /*agentConn*/,
                                   OA_OPHOLDER* /*holder*/, std::recursive_mutex* /*callLock*/,
                                   std::recursive_mutex* /*secondLock*/, const char* /*connStr*/) {
    // A dispenser would carry the coordinator's requests to the agent's XA slots, which
    // the Progress agent leaves empty; and there is no coordinator on this platform.
    return nullptr;
}

int ReleaseResourceDispenser(DTC_DISPENSER /*dispenser*/) {
    return -1;  // no handle is ever valid
}

int ResourceDispenserRMConnect(DTC_DISPENSER /*dispenser*/) {
    return -1;
}

int ResourceDispenserRMEnlist(DTC_DISPENSER /*dispenser*/) {
    return -1;
}
