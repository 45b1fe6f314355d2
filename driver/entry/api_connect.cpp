// Entry points of connecting and of driver information.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/handlers/connect.h"
#include "driver/handlers/functions.h"
#include "driver/handlers/stmttext.h"

namespace {

constexpr int kDbc = CALL_KIND_DBC;

#define VARNO_DRIVERCONNECT_FORMAT                                                                         \
    "HWND=%p szConnStrIn=%lX cbConnStrIn=%d szConnStrOut=%lX cbConnStrOutMax=%d pcbConnStrOutMax=%lX " \
    "fDriverCompletion=%u"
#define VARNO_CONNECT_FORMAT "szDSN=%lX cbDSN=%d szUID=%lX cbUID=%d szAuthStr=%lX cbAuthStr=%d"
#define VARNO_GETINFO_FORMAT "fInfoType=%u rgbInfoValue=%lX cbInfoValueMax=%d pcbInfoValue=%lX"
#define VARNO_NATIVESQL_FORMAT "szSqlStrIn=%lX cbSqlStrIn=%ld szSqlStr=%lX cbSqlStrMax=%ld pcbSqlStr=%lX"

constexpr auto kConnect = MakeCall<DoConnect>("Connect", VARNO_CONNECT_FORMAT, 1, kDbc);
constexpr auto kConnectW = MakeCall<DoConnect>("ConnectW", VARNO_CONNECT_FORMAT, 1, kDbc);
constexpr auto kDriverConnect = MakeCall<DoDriverConnect>("DriverConnect", VARNO_DRIVERCONNECT_FORMAT, 1, kDbc);
constexpr auto kDriverConnectW = MakeCall<DoDriverConnect>("DriverConnectW",
                                                           "HWND=%x szConnStrIn=%lX cbConnStrIn=%d szConnStrOut=%lX "
                                                           "cbConnStrOutMax=%d pcbConnStrOutMax=%lX "
                                                           "fDriverCompletion=%u",
                                                           1, kDbc);
constexpr auto kGetFunctions = MakeCall<DoGetFunctions>("GetFunctions", "fFunction=%u pfExists=%lX", 1, kDbc);
constexpr auto kGetInfo = MakeCall<DoGetInfo>("GetInfo", VARNO_GETINFO_FORMAT, 1, kDbc);
constexpr auto kGetInfoW = MakeCall<DoGetInfo>("GetInfoW", VARNO_GETINFO_FORMAT, 1, kDbc);
constexpr auto kNativeSql = MakeCall<DoNativeSql>("NativeSql", VARNO_NATIVESQL_FORMAT, 1, kDbc);
constexpr auto kNativeSqlW = MakeCall<DoNativeSql>("NativeSqlW", VARNO_NATIVESQL_FORMAT, 1, kDbc);

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC hdbc, SQLCHAR* dsn, SQLSMALLINT cbDsn, SQLCHAR* uid,
                                          SQLSMALLINT cbUid, SQLCHAR* pwd, SQLSMALLINT cbPwd) {
    return CallODBC(kConnect, hdbc,
                    ConnectArgs{reinterpret_cast<const char*>(dsn), cbDsn, reinterpret_cast<const char*>(uid), cbUid,
                                reinterpret_cast<const char*>(pwd), cbPwd, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLConnectW(SQLHDBC hdbc, SQLWCHAR* dsn, SQLSMALLINT cbDsn, SQLWCHAR* uid,
                                           SQLSMALLINT cbUid, SQLWCHAR* pwd, SQLSMALLINT cbPwd) {
    WideIn d(dsn, cbDsn), u(uid, cbUid), p(pwd, cbPwd);
    WideHook w({&d, &u, &p});
    return CallODBC(kConnectW, hdbc,
                    ConnectArgs{d.text(), d.len16(), u.text(), u.len16(), p.text(), p.len16(), WIDTH_WIDE}, w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* in, SQLSMALLINT cbIn,
                                                SQLCHAR* out, SQLSMALLINT cbOutMax, SQLSMALLINT* pcbOut,
                                                SQLUSMALLINT completion) {
    return CallODBC(kDriverConnect, hdbc,
                    DriverConnectArgs{hwnd, reinterpret_cast<const char*>(in), cbIn, out, cbOutMax, pcbOut, completion,
                                      WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND hwnd, SQLWCHAR* in, SQLSMALLINT cbIn,
                                                 SQLWCHAR* out, SQLSMALLINT cbOutMax, SQLSMALLINT* pcbOut,
                                                 SQLUSMALLINT completion) {
    // The handler writes the completed string straight into the caller's buffer, counted
    // in characters: no narrow staging to cap its length or hold a copy of the password.
    WideIn i(in, cbIn);
    WideHook w({&i});
    return CallODBC(kDriverConnectW, hdbc,
                    DriverConnectArgs{hwnd, i.text(), i.len16(), out, cbOutMax, pcbOut, completion, WIDTH_WIDE},
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC hdbc, SQLUSMALLINT function, SQLUSMALLINT* supported) {
    return CallODBC(kGetFunctions, hdbc, GetFunctionsArgs{function, supported});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT cbMax,
                                          SQLSMALLINT* pcb) {
    return CallODBC(kGetInfo, hdbc, GetInfoArgs{type, value, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetInfoW(SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT cbMax,
                                           SQLSMALLINT* pcb) {
    return CallODBC(kGetInfoW, hdbc, GetInfoArgs{type, value, cbMax, pcb, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLNativeSql(SQLHDBC hdbc, SQLCHAR* in, SQLINTEGER cbIn, SQLCHAR* out,
                                            SQLINTEGER cbOutMax, SQLINTEGER* pcbOut) {
    return CallODBC(kNativeSql, hdbc,
                    NativeSqlArgs{reinterpret_cast<const char*>(in), cbIn, out, cbOutMax, pcbOut, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC hdbc, SQLWCHAR* in, SQLINTEGER cbIn, SQLWCHAR* out,
                                             SQLINTEGER cbOutMax, SQLINTEGER* pcbOut) {
    WideIn i(in, cbIn);
    WideHook w({&i});
    return CallODBC(kNativeSqlW, hdbc, NativeSqlArgs{i.text(), i.len32(), out, cbOutMax, pcbOut, WIDTH_WIDE},
                    w.hook());
}
