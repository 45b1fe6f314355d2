// Entry points of connecting and of driver information.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/handlers/connect.h"
#include "driver/handlers/functions.h"
#include "driver/handlers/pending.h"

namespace {

constexpr int kDbc = CALL_KIND_DBC;

#define VARNO_DRIVERCONNECT_FORMAT                                                                         \
    "HWND=%p szConnStrIn=%lX cbConnStrIn=%d szConnStrOut=%lX cbConnStrOutMax=%d pcbConnStrOutMax=%lX " \
    "fDriverCompletion=%u"
#define VARNO_CONNECT_FORMAT "szDSN=%lX cbDSN=%d szUID=%lX cbUID=%d szAuthStr=%lX cbAuthStr=%d"
#define VARNO_GETINFO_FORMAT "fInfoType=%u rgbInfoValue=%lX cbInfoValueMax=%d pcbInfoValue=%lX"
#define VARNO_NATIVESQL_FORMAT "szSqlStrIn=%lX cbSqlStrIn=%ld szSqlStr=%lX cbSqlStrMax=%ld pcbSqlStr=%lX"

const CALLREC kConnect{"Connect", VARNO_CONNECT_FORMAT, 1, kDbc, DoConnect};
const CALLREC kConnectW{"ConnectW", VARNO_CONNECT_FORMAT, 1, kDbc, DoConnect};
const CALLREC kDriverConnect{"DriverConnect", VARNO_DRIVERCONNECT_FORMAT, 1, kDbc, DoDriverConnect};
const CALLREC kDriverConnectW{"DriverConnectW",
                              "HWND=%x szConnStrIn=%lX cbConnStrIn=%d szConnStrOut=%lX cbConnStrOutMax=%d "
                              "pcbConnStrOutMax=%lX fDriverCompletion=%u",
                              1, kDbc, DoDriverConnect};
const CALLREC kGetFunctions{"GetFunctions", "fFunction=%u pfExists=%lX", 1, kDbc, DoGetFunctions};
const CALLREC kGetInfo{"GetInfo", VARNO_GETINFO_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kGetInfoW{"GetInfoW", VARNO_GETINFO_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kNativeSql{"NativeSql", VARNO_NATIVESQL_FORMAT, 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kNativeSqlW{"NativeSqlW", VARNO_NATIVESQL_FORMAT, 1, kDbc, DoNotCapable<kDbc>};

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC hdbc, SQLCHAR* dsn, SQLSMALLINT cbDsn, SQLCHAR* uid,
                                          SQLSMALLINT cbUid, SQLCHAR* pwd, SQLSMALLINT cbPwd) {
    return CallODBC(kConnect, hdbc, dsn, cbDsn, uid, cbUid, pwd, cbPwd, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLConnectW(SQLHDBC hdbc, SQLWCHAR* dsn, SQLSMALLINT cbDsn, SQLWCHAR* uid,
                                           SQLSMALLINT cbUid, SQLWCHAR* pwd, SQLSMALLINT cbPwd) {
    WideIn d(dsn, cbDsn), u(uid, cbUid), p(pwd, cbPwd);
    WideHook w({&d, &u, &p});
    return CallODBCHooked(kConnectW, hdbc, w.hook(), d.text(), d.len16(), u.text(), u.len16(), p.text(),
                          p.len16(), WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* in, SQLSMALLINT cbIn,
                                                SQLCHAR* out, SQLSMALLINT cbOutMax, SQLSMALLINT* pcbOut,
                                                SQLUSMALLINT completion) {
    return CallODBC(kDriverConnect, hdbc, hwnd, in, cbIn, out, cbOutMax, pcbOut, completion, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND hwnd, SQLWCHAR* in, SQLSMALLINT cbIn,
                                                 SQLWCHAR* out, SQLSMALLINT cbOutMax, SQLSMALLINT* pcbOut,
                                                 SQLUSMALLINT completion) {
    // The handler writes the completed string straight into the caller's buffer, counted
    // in characters: no narrow staging to cap its length or hold a copy of the password.
    WideIn i(in, cbIn);
    WideHook w({&i});
    return CallODBCHooked(kDriverConnectW, hdbc, w.hook(), hwnd, i.text(), i.len16(), out, cbOutMax, pcbOut,
                          completion, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC hdbc, SQLUSMALLINT function, SQLUSMALLINT* supported) {
    return CallODBC(kGetFunctions, hdbc, function, supported);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT cbMax,
                                          SQLSMALLINT* pcb) {
    return CallODBC(kGetInfo, hdbc, type, value, cbMax, pcb, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetInfoW(SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT cbMax,
                                           SQLSMALLINT* pcb) {
    return CallODBC(kGetInfoW, hdbc, type, value, cbMax, pcb, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLNativeSql(SQLHDBC hdbc, SQLCHAR* in, SQLINTEGER cbIn, SQLCHAR* out,
                                            SQLINTEGER cbOutMax, SQLINTEGER* pcbOut) {
    return CallODBC(kNativeSql, hdbc, in, cbIn, out, cbOutMax, pcbOut);
}

VARNO_EXPORT SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC hdbc, SQLWCHAR* in, SQLINTEGER cbIn, SQLWCHAR* out,
                                             SQLINTEGER cbOutMax, SQLINTEGER* pcbOut) {
    WideIn i(in, cbIn);
    WideOut o(out, cbOutMax, WideCut::PostOnHandle);
    WideHook w({&i}, &o, nullptr, pcbOut);
    return CallODBCHooked(kNativeSqlW, hdbc, w.hook(), i.text(), i.len32(), o.buffer(), o.size32(),
                          o.narrowLen32());
}
