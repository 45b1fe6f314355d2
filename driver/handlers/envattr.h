// Environment attributes.
#pragma once

#include "driver/frame/dispatch.h"

// (i32 attribute, value as an integer, i32 string length); always SQL_SUCCESS.
SQLRETURN DoSetEnvAttr(void* envr, const CallArgs& args);
// (i32 attribute, value pointer, i32 buffer length, i32* length); always SQL_SUCCESS.
SQLRETURN DoGetEnvAttr(void* envr, const CallArgs& args);
