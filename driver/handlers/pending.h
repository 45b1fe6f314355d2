// The handler of calls whose work this build does not do yet: it posts "Driver not
// capable" (S1C00) on the handle and fails, so an application gets a diagnostic, never a
// crash.
#pragma once

#include "driver/diag/diag.h"
#include "driver/frame/dispatch.h"
#include "util/errcode.h"

template <int Kind>
SQLRETURN DoNotCapable(void* object, const CallArgs&) {
    if (DIAG* diag = ObjectDiag(Kind, object))
        diag->errCode = ERR_DRIVER_NOT_CAPABLE;
    return SQL_ERROR;
}
