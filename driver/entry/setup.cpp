// Library load and unload, and the setup exports.
#include <cstdio>

#include "driver/entry/export.h"
#include "driver/frame/globals.h"
#include "driver/frame/handle.h"
#include "driver/frame/resources.h"
#include "driver/library/library.h"

// Attach: a failed start-up cannot refuse a shared-library load on Linux, so the
// initialised flag simply stays 0 and every call then answers SQL_ERROR. The loader and
// the callers of the exports are C: no exception (out of memory at start-up) may reach them.
__attribute__((constructor)) static void DrvLibraryLoad() {
    try {
        DrvAttach();
    } catch (...) {
    }
}

__attribute__((destructor)) static void DrvLibraryUnload() {
    try {
        DrvDetach();
        // The memory kept for callers without a lock goes with the library.
        DrvReleaseTables();
        GatePoolRelease();
    } catch (...) {
    }
}

VARNO_EXPORT int LibMain(void*, unsigned short, unsigned short, char*) {
    try {
        return DrvAttach() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

VARNO_EXPORT int WEP(int) {
    try {
        DrvDetach();
    } catch (...) {
    }
    return 1;
}

VARNO_EXPORT int GetSetupDatabase(char* buffer, int size) {
    if (buffer != nullptr && size > 0)
        DrvLoadString(IDS_DESCRIPTION, buffer, static_cast<size_t>(size));
    return 1;
}

VARNO_EXPORT int GetSetupRegistry(char* buffer, int size) {
    char description[128];
    DrvLoadString(IDS_DESCRIPTION, description, sizeof description);
    if (buffer != nullptr && size > 0)
        std::snprintf(buffer, static_cast<size_t>(size), "SOFTWARE\\Tessaryn Software\\%s", description);
    return 1;
}
