// Entry points of environment, connection and statement attributes and options.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
#include "driver/handlers/envattr.h"
#include "driver/handlers/pending.h"

namespace {

constexpr int kEnv = CALL_KIND_ENV;
constexpr int kDbc = CALL_KIND_DBC;
constexpr int kStmt = CALL_KIND_STMT;

#define VARNO_SETATTR_FORMAT "Attribute=%u ValuePtr=%lX StringLength=%d"
#define VARNO_GETATTR_FORMAT "Attribute=%u ValuePtr=%lX BufferLength=%d StringLengthPtr=%lX"
#define VARNO_SETSTMTATTR_FORMAT "Attribute=%ld ValuePtr=%08lX StringLength=%ld"
#define VARNO_GETSTMTATTR_FORMAT "Attribute=%ld ValuePtr=%08lX BufferLength=%ld StringLengthPtr=%08lX"

const CALLREC kSetEnvAttr{"SetEnvAttr", VARNO_SETATTR_FORMAT, 1, kEnv, DoSetEnvAttr};
const CALLREC kGetEnvAttr{"GetEnvAttr", VARNO_GETATTR_FORMAT, 1, kEnv, DoGetEnvAttr};
const CALLREC kSetConnectAttr{"SetConnectAttr", VARNO_SETATTR_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kSetConnectAttrW{"SetConnectAttrW", VARNO_SETATTR_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kGetConnectAttr{"GetConnectAttr", VARNO_GETATTR_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kGetConnectAttrW{"GetConnectAttrW", VARNO_GETATTR_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kSetConnectOption{"SetConnectOption", "fOption=%u vParam=%lu", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kSetConnectOptionW{"SetConnectOptionW", "fOption=%u vParam=%lu", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kGetConnectOption{"GetConnectOption", "fOption=%u pvParam=%lX", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kGetConnectOptionW{"GetConnectOptionW", "fOption=%u pvParam=%lX", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kSetStmtAttr{"SetStmtAttr", VARNO_SETSTMTATTR_FORMAT, 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kSetStmtAttrW{"SetStmtAttrW", VARNO_SETSTMTATTR_FORMAT, 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kGetStmtAttr{"GetStmtAttr", VARNO_GETSTMTATTR_FORMAT, 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kGetStmtAttrW{"GetStmtAttrW", VARNO_GETSTMTATTR_FORMAT, 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kSetStmtOption{"SetStmtOption", "fOption=%u vParam=%08lX", 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kGetStmtOption{"GetStmtOption", "fOption=%u pvParam=%08lX", 1, kStmt, DoNotCapable<kStmt>};

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV henv, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER len) {
    return CallODBC(kSetEnvAttr, henv, attr, value, len);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV henv, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER cbMax,
                                             SQLINTEGER* pcb) {
    return CallODBC(kGetEnvAttr, henv, attr, value, cbMax, pcb);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                 SQLINTEGER len) {
    return CallODBC(kSetConnectAttr, hdbc, attr, value, len, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                  SQLINTEGER len) {
    return CallODBC(kSetConnectAttrW, hdbc, attr, value, len, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                 SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetConnectAttr, hdbc, attr, value, cbMax, pcb, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC hdbc, SQLINTEGER attr, SQLPOINTER value,
                                                  SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetConnectAttrW, hdbc, attr, value, cbMax, pcb, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC hdbc, SQLUSMALLINT option, SQLULEN value) {
    return CallODBC(kSetConnectOption, hdbc, option, value, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT option, SQLULEN value) {
    return CallODBC(kSetConnectOptionW, hdbc, option, value, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC hdbc, SQLUSMALLINT option, SQLPOINTER value) {
    return CallODBC(kGetConnectOption, hdbc, option, value, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT option, SQLPOINTER value) {
    return CallODBC(kGetConnectOptionW, hdbc, option, value, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER len) {
    return CallODBC(kSetStmtAttr, hstmt, attr, value, len, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value,
                                               SQLINTEGER len) {
    return CallODBC(kSetStmtAttrW, hstmt, attr, value, len, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value,
                                              SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetStmtAttr, hstmt, attr, value, cbMax, pcb);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value,
                                               SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetStmtAttrW, hstmt, attr, value, cbMax, pcb);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT option, SQLULEN value) {
    return CallODBC(kSetStmtOption, hstmt, option, value);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT option, SQLPOINTER value) {
    return CallODBC(kGetStmtOption, hstmt, option, value);
}
