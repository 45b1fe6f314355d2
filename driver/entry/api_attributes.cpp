// Entry points of environment, connection and statement attributes and options.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
#include "driver/handlers/connattr.h"
#include "driver/handlers/envattr.h"
#include "driver/handlers/pending.h"
#include "driver/handlers/stmtattr.h"

namespace {

constexpr int kEnv = CALL_KIND_ENV;
constexpr int kDbc = CALL_KIND_DBC;
constexpr int kStmt = CALL_KIND_STMT;

#define VARNO_SETATTR_FORMAT "Attribute=%u ValuePtr=%lX StringLength=%d"
#define VARNO_GETATTR_FORMAT "Attribute=%u ValuePtr=%lX BufferLength=%d StringLengthPtr=%lX"
#define VARNO_SETSTMTATTR_FORMAT "Attribute=%ld ValuePtr=%08lX StringLength=%ld"
#define VARNO_GETSTMTATTR_FORMAT "Attribute=%ld ValuePtr=%08lX BufferLength=%ld StringLengthPtr=%08lX"

constexpr auto kSetEnvAttr = MakeCall<DoSetEnvAttr>("SetEnvAttr", VARNO_SETATTR_FORMAT, 1, kEnv);
constexpr auto kGetEnvAttr = MakeCall<DoGetEnvAttr>("GetEnvAttr", VARNO_GETATTR_FORMAT, 1, kEnv);
constexpr auto kSetConnectAttr = MakeCall<DoSetConnectAttr>("SetConnectAttr", VARNO_SETATTR_FORMAT, 1, kDbc);
constexpr auto kSetConnectAttrW = MakeCall<DoSetConnectAttr>("SetConnectAttrW", VARNO_SETATTR_FORMAT, 1, kDbc);
constexpr auto kGetConnectAttr = MakeCall<DoGetConnectAttr>("GetConnectAttr", VARNO_GETATTR_FORMAT, 1, kDbc);
constexpr auto kGetConnectAttrW = MakeCall<DoGetConnectAttr>("GetConnectAttrW", VARNO_GETATTR_FORMAT, 1, kDbc);
constexpr auto kSetConnectOption =
    MakeCall<DoSetConnectOption>("SetConnectOption", "fOption=%u vParam=%lu", 1, kDbc);
constexpr auto kSetConnectOptionW =
    MakeCall<DoSetConnectOption>("SetConnectOptionW", "fOption=%u vParam=%lu", 1, kDbc);
constexpr auto kGetConnectOption =
    MakeCall<DoGetConnectOption>("GetConnectOption", "fOption=%u pvParam=%lX", 1, kDbc);
constexpr auto kGetConnectOptionW =
    MakeCall<DoGetConnectOption>("GetConnectOptionW", "fOption=%u pvParam=%lX", 1, kDbc);
constexpr auto kSetStmtAttr = MakeCall<DoSetStmtAttr>("SetStmtAttr", VARNO_SETSTMTATTR_FORMAT, 1, kStmt);
constexpr auto kSetStmtAttrW = MakeCall<DoSetStmtAttr>("SetStmtAttrW", VARNO_SETSTMTATTR_FORMAT, 1, kStmt);
constexpr auto kGetStmtAttr = MakeCall<DoGetStmtAttr>("GetStmtAttr", VARNO_GETSTMTATTR_FORMAT, 1, kStmt);
constexpr auto kGetStmtAttrW = MakeCall<DoGetStmtAttr>("GetStmtAttrW", VARNO_GETSTMTATTR_FORMAT, 1, kStmt);
constexpr auto kSetStmtOption = MakeCall<DoSetStmtOption>("SetStmtOption", "fOption=%u vParam=%08lX", 1, kStmt);
constexpr auto kGetStmtOption = MakeCall<DoGetStmtOption>("GetStmtOption", "fOption=%u pvParam=%08lX", 1, kStmt);

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV henv, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER len) {
    return CallODBC(kSetEnvAttr, henv, SetEnvAttrArgs{attr, value, len});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV henv, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER cbMax,
                                             SQLINTEGER* pcb) {
    return CallODBC(kGetEnvAttr, henv, GetEnvAttrArgs{attr, value, cbMax, pcb});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                 SQLINTEGER len) {
    return CallODBC(kSetConnectAttr, hdbc, SetConnectAttrArgs{attr, value, len, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                  SQLINTEGER len) {
    return CallODBC(kSetConnectAttrW, hdbc, SetConnectAttrArgs{attr, value, len, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                 SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetConnectAttr, hdbc, GetConnectAttrArgs{attr, value, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                  SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetConnectAttrW, hdbc, GetConnectAttrArgs{attr, value, cbMax, pcb, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC hdbc, SQLUSMALLINT option, SQLULEN value) {
    return CallODBC(kSetConnectOption, hdbc, SetConnectOptionArgs{option, value, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT option, SQLULEN value) {
    return CallODBC(kSetConnectOptionW, hdbc, SetConnectOptionArgs{option, value, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC hdbc, SQLUSMALLINT option, SQLPOINTER value) {
    return CallODBC(kGetConnectOption, hdbc, GetConnectOptionArgs{option, value, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT option, SQLPOINTER value) {
    return CallODBC(kGetConnectOptionW, hdbc, GetConnectOptionArgs{option, value, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER len) {
    return CallODBC(kSetStmtAttr, hstmt, SetStmtAttrArgs{attr, value, len, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value,
                                               SQLINTEGER len) {
    return CallODBC(kSetStmtAttrW, hstmt, SetStmtAttrArgs{attr, value, len, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value,
                                              SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetStmtAttr, hstmt, GetStmtAttrArgs{attr, value, cbMax, pcb});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value,
                                               SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetStmtAttrW, hstmt, GetStmtAttrArgs{attr, value, cbMax, pcb});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT option, SQLULEN value) {
    return CallODBC(kSetStmtOption, hstmt, SetStmtOptionArgs{option, value});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT option, SQLPOINTER value) {
    return CallODBC(kGetStmtOption, hstmt, GetStmtOptionArgs{option, value});
}
