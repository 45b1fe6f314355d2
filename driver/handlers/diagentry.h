// Handlers of SQLGetDiagRec and SQLGetDiagField, one per handle kind. Their call records
// keep the handle's diagnostics, so these read what the failed call left.
#pragma once

#include "driver/frame/dispatch.h"

// (i16 record, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message, i16 buffer length,
//  SQLSMALLINT* length)
SQLRETURN DoGetDiagRecEnv(void* envr, const CallArgs& args);
SQLRETURN DoGetDiagRecConn(void* conn, const CallArgs& args);
SQLRETURN DoGetDiagRecStmt(void* stmt, const CallArgs& args);
SQLRETURN DoGetDiagRecDesc(void* desc, const CallArgs& args);

// (i16 record, i16 identifier, value pointer, i16 buffer length, SQLSMALLINT* length,
//  width marker)
SQLRETURN DoGetDiagFieldEnv(void* envr, const CallArgs& args);
SQLRETURN DoGetDiagFieldConn(void* conn, const CallArgs& args);
SQLRETURN DoGetDiagFieldStmt(void* stmt, const CallArgs& args);
SQLRETURN DoGetDiagFieldDesc(void* desc, const CallArgs& args);
