// Entry points of diagnostics. Their records keep the handle's diagnostics in place so
// that they can be read.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/diag/diag.h"
#include "driver/handlers/diagentry.h"

namespace {

constexpr int kEnv = CALL_KIND_ENV;
constexpr int kDbc = CALL_KIND_DBC;
constexpr int kStmt = CALL_KIND_STMT;
constexpr int kDesc = CALL_KIND_DESC;

#define VARNO_ERROR_FORMAT "szSqlState=%lX pfNativeError=%lX\nszErrorMsg=%lX cbErrorMsgMax=%d pcbErrorMsg=%lX"
#define VARNO_DIAGREC_FORMAT \
    "RecNumber=%d Sqlstate=%lX NativeErrorPtr=%lX MessageText=%lX BufferLength=%d TextLengthPtr=%lX"
#define VARNO_DIAGFIELD_FORMAT "RecNumber=%d DiagIdentifier=%d\nDiagInfoPtr=%lX BufferLength=%d StringLengthPtr=%lX"

// One record per handle kind of a call, in the order environment, connection, statement,
// descriptor; null where the call has no such form.
struct DiagRecords {
    const CALLREC* byKind[4];
    const CALLREC* For(SQLSMALLINT handleType) const {
        return handleType >= SQL_HANDLE_ENV && handleType <= SQL_HANDLE_DESC ? byKind[handleType - 1] : nullptr;
    }
};

#define VARNO_DIAG_RECORDS(var, name, format, env, dbc, stmt, desc)      \
    const CALLREC var##Env{name, format, 0, kEnv, env};                     \
    const CALLREC var##Dbc{name, format, 0, kDbc, dbc};                     \
    const CALLREC var##Stmt{name, format, 0, kStmt, stmt};                  \
    const CALLREC var##Desc{name, format, 0, kDesc, desc};                  \
    const DiagRecords var{{&var##Env, &var##Dbc, &var##Stmt, &var##Desc}};

// SQLError has no descriptor form.
const CALLREC kErrorEnv{"Error", VARNO_ERROR_FORMAT, 0, kEnv, DoErrorEnv};
const CALLREC kErrorDbc{"Error", VARNO_ERROR_FORMAT, 0, kDbc, DoErrorConn};
const CALLREC kErrorStmt{"Error", VARNO_ERROR_FORMAT, 0, kStmt, DoErrorStmt};
const DiagRecords kError{{&kErrorEnv, &kErrorDbc, &kErrorStmt, nullptr}};
const CALLREC kErrorWEnv{"ErrorW", VARNO_ERROR_FORMAT, 0, kEnv, DoErrorEnv};
const CALLREC kErrorWDbc{"ErrorW", VARNO_ERROR_FORMAT, 0, kDbc, DoErrorConn};
const CALLREC kErrorWStmt{"ErrorW", VARNO_ERROR_FORMAT, 0, kStmt, DoErrorStmt};
const DiagRecords kErrorW{{&kErrorWEnv, &kErrorWDbc, &kErrorWStmt, nullptr}};
VARNO_DIAG_RECORDS(kGetDiagRec, "GetDiagRec", VARNO_DIAGREC_FORMAT, DoGetDiagRecEnv, DoGetDiagRecConn,
                   DoGetDiagRecStmt, DoGetDiagRecDesc)
VARNO_DIAG_RECORDS(kGetDiagRecW, "GetDiagRecW", VARNO_DIAGREC_FORMAT, DoGetDiagRecEnv, DoGetDiagRecConn,
                   DoGetDiagRecStmt, DoGetDiagRecDesc)
VARNO_DIAG_RECORDS(kGetDiagField, "GetDiagField", VARNO_DIAGFIELD_FORMAT, DoGetDiagFieldEnv, DoGetDiagFieldConn,
                   DoGetDiagFieldStmt, DoGetDiagFieldDesc)
VARNO_DIAG_RECORDS(kGetDiagFieldW, "GetDiagFieldW", VARNO_DIAGFIELD_FORMAT, DoGetDiagFieldEnv, DoGetDiagFieldConn,
                   DoGetDiagFieldStmt, DoGetDiagFieldDesc)

// SQLError takes the first handle given of statement, connection, environment.
const CALLREC* ErrorRecord(const DiagRecords& recs, SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLHANDLE* handle) {
    if (hstmt != nullptr) {
        *handle = hstmt;
        return recs.For(SQL_HANDLE_STMT);
    }
    if (hdbc != nullptr) {
        *handle = hdbc;
        return recs.For(SQL_HANDLE_DBC);
    }
    if (henv != nullptr) {
        *handle = henv;
        return recs.For(SQL_HANDLE_ENV);
    }
    return nullptr;
}

// The SQLSTATE of a wide diagnostic call: written by the handler into a narrow local, then
// widened into the application's six characters when the call produced one.
void WidenState(const SQLCHAR* narrow, SQLWCHAR* app, SQLRETURN rc) {
    if (app == nullptr)
        return;
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
        app[0] = 0;
        return;
    }
    int i = 0;
    for (; i < 5 && narrow[i] != 0; ++i)
        app[i] = narrow[i];
    app[i] = 0;
}

// SQLErrorW and SQLGetDiagRecW: the handler writes the message into a narrow buffer that is
// converted inside the call, and the state into a narrow local widened afterwards. Lead
// holds the arguments that come before the state (SQLGetDiagRecW's record number).
template <class... Lead>
SQLRETURN WideRecord(const CALLREC& rec, SQLHANDLE handle, SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* msg,
                     SQLSMALLINT cchMax, SQLSMALLINT* pcch, Lead... lead) {
    WideOut o(msg, cchMax, WideCut::ResultOnly);
    SQLCHAR narrowState[6] = {};
    WideHook w({}, &o, pcch);
    SQLRETURN rc = CallODBCHooked(rec, handle, w.hook(), lead..., narrowState, native, o.buffer(), o.size16(),
                                  o.narrowLen16());
    WidenState(narrowState, state, rc);
    return rc;
}

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLError(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLCHAR* state,
                                        SQLINTEGER* native, SQLCHAR* msg, SQLSMALLINT cbMax, SQLSMALLINT* pcb) {
    SQLHANDLE handle = nullptr;
    const CALLREC* rec = ErrorRecord(kError, henv, hdbc, hstmt, &handle);
    return rec ? CallODBC(*rec, handle, state, native, msg, cbMax, pcb) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLErrorW(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLWCHAR* state,
                                         SQLINTEGER* native, SQLWCHAR* msg, SQLSMALLINT cchMax, SQLSMALLINT* pcch) {
    SQLHANDLE handle = nullptr;
    const CALLREC* rec = ErrorRecord(kErrorW, henv, hdbc, hstmt, &handle);
    return rec ? WideRecord(*rec, handle, state, native, msg, cchMax, pcch) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                             SQLCHAR* state, SQLINTEGER* native, SQLCHAR* msg, SQLSMALLINT cbMax,
                                             SQLSMALLINT* pcb) {
    const CALLREC* rec = kGetDiagRec.For(type);
    return rec ? CallODBC(*rec, handle, recNumber, state, native, msg, cbMax, pcb) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                              SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* msg,
                                              SQLSMALLINT cchMax, SQLSMALLINT* pcch) {
    const CALLREC* rec = kGetDiagRecW.For(type);
    return rec ? WideRecord(*rec, handle, state, native, msg, cchMax, pcch, recNumber) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                               SQLSMALLINT field, SQLPOINTER info, SQLSMALLINT cbMax,
                                               SQLSMALLINT* pcb) {
    const CALLREC* rec = kGetDiagField.For(type);
    return rec ? CallODBC(*rec, handle, recNumber, field, info, cbMax, pcb, WIDTH_NARROW) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                                SQLSMALLINT field, SQLPOINTER info, SQLSMALLINT cbMax,
                                                SQLSMALLINT* pcb) {
    const CALLREC* rec = kGetDiagFieldW.For(type);
    return rec ? CallODBC(*rec, handle, recNumber, field, info, cbMax, pcb, WIDTH_WIDE) : SQL_INVALID_HANDLE;
}
