// The calls whose work this build does not do yet: their handler posts "Driver not
// capable" (S1C00) on the handle and fails, so an application gets a diagnostic, never a
// crash. Their entries hand the arguments over for the trace alone (Pending(...)).
#pragma once

#include "driver/frame/dispatch.h"
#include "util/errcode.h"

inline SQLRETURN DoNotCapable(HANDLE_HDR* h, const PendingArgs&) {
    if (h != nullptr)
        h->diag.errCode = ERR_DRIVER_NOT_CAPABLE;
    return SQL_ERROR;
}

constexpr CallRec<PendingArgs> MakePendingCall(const char* name, const char* traceFormat, int kind) {
    return MakeCall<DoNotCapable>(name, traceFormat, 1, kind);
}
