// Per-library facts. This file alone is compiled once per deliverable, with
// VARNO_UNICODE set to 1 for libvarnodw and 0 for libvarnod.
#include "driver/frame/resources.h"

#ifndef VARNO_UNICODE
#error "VARNO_UNICODE must be defined"
#endif

const DRV_VARIANT& DrvVariant() {
#if VARNO_UNICODE
    static const DRV_VARIANT v{true, "Tessaryn Vell for Progress 11 SQL-92 (Unicode)", "libvarnodw.so"};
#else
    static const DRV_VARIANT v{false, "Tessaryn Vell for Progress 11 SQL-92", "libvarnod.so"};
#endif
    return v;
}
