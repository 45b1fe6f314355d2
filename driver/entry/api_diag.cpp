// Entry points of diagnostics. Their records keep the handle's diagnostics in place so
// that they can be read.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
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
template <class Args>
struct DiagRecords {
    const CallRec<Args>* byKind[4];
    const CallRec<Args>* For(SQLSMALLINT handleType) const {
        return handleType >= SQL_HANDLE_ENV && handleType <= SQL_HANDLE_DESC ? byKind[handleType - 1] : nullptr;
    }
};

#define VARNO_DIAG_RECORDS(var, name, format, handler)                             \
    constexpr auto var##Env = MakeCall<handler>(name, format, 0, kEnv);              \
    constexpr auto var##Dbc = MakeCall<handler>(name, format, 0, kDbc);              \
    constexpr auto var##Stmt = MakeCall<handler>(name, format, 0, kStmt);            \
    constexpr auto var##Desc = MakeCall<handler>(name, format, 0, kDesc);            \
    constexpr DiagRecords<decltype(var##Env)::Args> var{{&var##Env, &var##Dbc, &var##Stmt, &var##Desc}};

VARNO_DIAG_RECORDS(kError, "Error", VARNO_ERROR_FORMAT, DoError)
VARNO_DIAG_RECORDS(kErrorW, "ErrorW", VARNO_ERROR_FORMAT, DoError)
VARNO_DIAG_RECORDS(kGetDiagRec, "GetDiagRec", VARNO_DIAGREC_FORMAT, DoGetDiagRec)
VARNO_DIAG_RECORDS(kGetDiagRecW, "GetDiagRecW", VARNO_DIAGREC_FORMAT, DoGetDiagRec)
VARNO_DIAG_RECORDS(kGetDiagField, "GetDiagField", VARNO_DIAGFIELD_FORMAT, DoGetDiagField)
VARNO_DIAG_RECORDS(kGetDiagFieldW, "GetDiagFieldW", VARNO_DIAGFIELD_FORMAT, DoGetDiagField)

// SQLError takes the first handle given of statement, connection, environment (it has no
// descriptor form).
SQLRETURN CallError(const DiagRecords<ErrorArgs>& recs, SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt,
                    const ErrorArgs& args) {
    if (hstmt != nullptr)
        return CallODBC(*recs.For(SQL_HANDLE_STMT), hstmt, args);
    if (hdbc != nullptr)
        return CallODBC(*recs.For(SQL_HANDLE_DBC), hdbc, args);
    if (henv != nullptr)
        return CallODBC(*recs.For(SQL_HANDLE_ENV), henv, args);
    return SQL_INVALID_HANDLE;
}

template <class Args>
SQLRETURN CallByType(const DiagRecords<Args>& recs, SQLSMALLINT type, SQLHANDLE handle, const Args& args) {
    const CallRec<Args>* rec = recs.For(type);
    return rec != nullptr ? CallODBC(*rec, handle, args) : SQL_INVALID_HANDLE;
}

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLError(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLCHAR* state,
                                        SQLINTEGER* native, SQLCHAR* msg, SQLSMALLINT cbMax, SQLSMALLINT* pcb) {
    return CallError(kError, henv, hdbc, hstmt, ErrorArgs{state, native, msg, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLErrorW(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLWCHAR* state,
                                         SQLINTEGER* native, SQLWCHAR* msg, SQLSMALLINT cchMax, SQLSMALLINT* pcch) {
    return CallError(kErrorW, henv, hdbc, hstmt, ErrorArgs{state, native, msg, cchMax, pcch, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                             SQLCHAR* state, SQLINTEGER* native, SQLCHAR* msg, SQLSMALLINT cbMax,
                                             SQLSMALLINT* pcb) {
    return CallByType(kGetDiagRec, type, handle,
                      GetDiagRecArgs{recNumber, state, native, msg, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                              SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* msg,
                                              SQLSMALLINT cchMax, SQLSMALLINT* pcch) {
    return CallByType(kGetDiagRecW, type, handle,
                      GetDiagRecArgs{recNumber, state, native, msg, cchMax, pcch, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                               SQLSMALLINT field, SQLPOINTER info, SQLSMALLINT cbMax,
                                               SQLSMALLINT* pcb) {
    return CallByType(kGetDiagField, type, handle,
                      GetDiagFieldArgs{recNumber, field, info, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                                SQLSMALLINT field, SQLPOINTER info, SQLSMALLINT cbMax,
                                                SQLSMALLINT* pcb) {
    return CallByType(kGetDiagFieldW, type, handle, GetDiagFieldArgs{recNumber, field, info, cbMax, pcb, WIDTH_WIDE});
}
