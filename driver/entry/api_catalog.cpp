// Entry points of the catalog calls. Each wide form hands its names on as
// UTF-8.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/handlers/catalog.h"

namespace {

constexpr int kStmt = CALL_KIND_STMT;

#define VARNO_TABLE3_FORMAT                                                      \
    "szTableQualifier=%lX cbTableQualifier=%d szTableOwner=%lX cbTableOwner=%d " \
    "szTableName=%lX cbTableName=%d"
#define VARNO_COLUMNS_FORMAT VARNO_TABLE3_FORMAT " szColumnName=%lX cbColumnName=%d"
#define VARNO_PROC3_FORMAT                                                   \
    "szProcQualifier=%lX cbProcQualifier=%d szProcOwner=%lX cbProcOwner=%d " \
    "szProcName=%lX cbProcName=%d"
#define VARNO_FOREIGNKEYS_FORMAT                                         \
    "szPkTQual=%lX cbPkTQual=%d szPkTOwn=%lX cbPkTOwn=%d szPkTName=%lX " \
    "cbPkTName=%d szFkTQual=%lX "                                        \
    "cbFkTQual=%d szFkTOwn=%lX cbFkTOwn=%d szFkTName=%lX cbFkTName=%d"
#define VARNO_SPECIALCOLUMNS_FORMAT                                \
    "fColType=%u szTableQual=%lX cbTableQual=%d szTableOwner=%lX " \
    "cbTableOwner=%d szTableName=%lX "                             \
    "cbTableName=%d fScope=%u fNullable==%u"

constexpr auto kColumnPrivileges = MakeCall<DoColumnPrivileges>("ColumnPrivileges", VARNO_COLUMNS_FORMAT, 1, kStmt);
constexpr auto kColumnPrivilegesW = MakeCall<DoColumnPrivileges>("ColumnPrivilegesW", VARNO_COLUMNS_FORMAT, 1, kStmt);
constexpr auto kColumns = MakeCall<DoColumns>("Columns", VARNO_COLUMNS_FORMAT, 1, kStmt);
constexpr auto kColumnsW = MakeCall<DoColumns>("ColumnsW", VARNO_COLUMNS_FORMAT, 1, kStmt);
constexpr auto kForeignKeys = MakeCall<DoForeignKeys>("ForeignKeys", VARNO_FOREIGNKEYS_FORMAT, 1, kStmt);
constexpr auto kForeignKeysW = MakeCall<DoForeignKeys>("ForeignKeysW", VARNO_FOREIGNKEYS_FORMAT, 1, kStmt);
constexpr auto kPrimaryKeys = MakeCall<DoPrimaryKeys>("PrimaryKeys", VARNO_TABLE3_FORMAT, 1, kStmt);
constexpr auto kPrimaryKeysW = MakeCall<DoPrimaryKeys>("PrimaryKeysW", VARNO_TABLE3_FORMAT, 1, kStmt);
constexpr auto kProcedureColumns =
    MakeCall<DoProcedureColumns>("ProcedureColumns", VARNO_PROC3_FORMAT " szColumnName=%lX cbColumnName=%d", 1, kStmt);
constexpr auto kProcedureColumnsW =
    MakeCall<DoProcedureColumns>("ProcedureColumnsW", VARNO_PROC3_FORMAT " szColumnName=%lX cbColumnName=%d", 1, kStmt);
constexpr auto kProcedures = MakeCall<DoProcedures>("Procedures", VARNO_PROC3_FORMAT, 1, kStmt);
constexpr auto kProceduresW = MakeCall<DoProcedures>("ProceduresW", VARNO_PROC3_FORMAT, 1, kStmt);
constexpr auto kSpecialColumns = MakeCall<DoSpecialColumns>("SpecialColumns", VARNO_SPECIALCOLUMNS_FORMAT, 1, kStmt);
constexpr auto kSpecialColumnsW = MakeCall<DoSpecialColumns>("SpecialColumnsW", VARNO_SPECIALCOLUMNS_FORMAT, 1, kStmt);
constexpr auto kStatistics =
    MakeCall<DoStatistics>("Statistics", VARNO_TABLE3_FORMAT " fUnique=%u fAccuracy=%u", 1, kStmt);
constexpr auto kStatisticsW =
    MakeCall<DoStatistics>("StatisticsW", VARNO_TABLE3_FORMAT " fUnique=%u fAccuracy=%u", 1, kStmt);
constexpr auto kTablePrivileges = MakeCall<DoTablePrivileges>("TablePrivileges", VARNO_TABLE3_FORMAT, 1, kStmt);
constexpr auto kTablePrivilegesW = MakeCall<DoTablePrivileges>("TablePrivilegesW", VARNO_TABLE3_FORMAT, 1, kStmt);
constexpr auto kTables = MakeCall<DoTables>("Tables", VARNO_TABLE3_FORMAT " szTableType=%lX cbTableType=%d", 1, kStmt);
constexpr auto kTablesW =
    MakeCall<DoTables>("TablesW", VARNO_TABLE3_FORMAT " szTableType=%lX cbTableType=%d", 1, kStmt);

template <class F>
void PutPairs(F&) {}
template <class F, class P, class... R>
void PutPairs(F& put, P text, SQLSMALLINT length, R... rest) {
    put(text, length);
    PutPairs(put, rest...);
}

// The call's arguments from its names and lengths, in order; the trace shows
// them as given.
template <class... T>
CatalogArgs Names(T... v) {
    CatalogArgs a;
    a.trace = MakeTraceSlots(v...);
    int i = 0;
    auto put = [&](auto text, SQLSMALLINT length) {
        a.names[i] = reinterpret_cast<const char*>(text);
        a.lengths[i++] = length;
    };
    PutPairs(put, v...);
    return a;
}

// SQLSpecialColumns and SQLStatistics: the names, then the options; the trace
// shows the arguments in the call's order.
CatalogArgs WithOptions(CatalogArgs a, TraceSlots trace, SQLUSMALLINT o0, SQLUSMALLINT o1, SQLUSMALLINT o2 = 0) {
    a.trace = trace;
    a.options[0] = o0;
    a.options[1] = o1;
    a.options[2] = o2;
    return a;
}

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                                   SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab, SQLCHAR* col,
                                                   SQLSMALLINT cbCol) {
    return CallODBC(kColumnPrivileges, h, Names(cat, cbCat, sch, cbSch, tab, cbTab, col, cbCol));
}

VARNO_EXPORT SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                                    SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLWCHAR* col,
                                                    SQLSMALLINT cbCol) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab), k(col, cbCol);
    WideHook w({&c, &s, &t, &k});
    return CallODBC(kColumnPrivilegesW, h,
                    Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), k.text(), k.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLColumns(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch, SQLSMALLINT cbSch,
                                          SQLCHAR* tab, SQLSMALLINT cbTab, SQLCHAR* col, SQLSMALLINT cbCol) {
    return CallODBC(kColumns, h, Names(cat, cbCat, sch, cbSch, tab, cbTab, col, cbCol));
}

VARNO_EXPORT SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                           SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLWCHAR* col,
                                           SQLSMALLINT cbCol) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab), k(col, cbCol);
    WideHook w({&c, &s, &t, &k});
    return CallODBC(kColumnsW, h,
                    Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), k.text(), k.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT h, SQLCHAR* pkCat, SQLSMALLINT cbPkCat, SQLCHAR* pkSch,
                                              SQLSMALLINT cbPkSch, SQLCHAR* pkTab, SQLSMALLINT cbPkTab, SQLCHAR* fkCat,
                                              SQLSMALLINT cbFkCat, SQLCHAR* fkSch, SQLSMALLINT cbFkSch, SQLCHAR* fkTab,
                                              SQLSMALLINT cbFkTab) {
    return CallODBC(
        kForeignKeys, h,
        Names(pkCat, cbPkCat, pkSch, cbPkSch, pkTab, cbPkTab, fkCat, cbFkCat, fkSch, cbFkSch, fkTab, cbFkTab));
}

VARNO_EXPORT SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR* pkCat, SQLSMALLINT cbPkCat, SQLWCHAR* pkSch,
                                               SQLSMALLINT cbPkSch, SQLWCHAR* pkTab, SQLSMALLINT cbPkTab,
                                               SQLWCHAR* fkCat, SQLSMALLINT cbFkCat, SQLWCHAR* fkSch,
                                               SQLSMALLINT cbFkSch, SQLWCHAR* fkTab, SQLSMALLINT cbFkTab) {
    WideIn pc(pkCat, cbPkCat), ps(pkSch, cbPkSch), pt(pkTab, cbPkTab);
    WideIn fc(fkCat, cbFkCat), fs(fkSch, cbFkSch), ft(fkTab, cbFkTab);
    WideHook w({&pc, &ps, &pt, &fc, &fs, &ft});
    return CallODBC(kForeignKeysW, h,
                    Names(pc.text(), pc.len16(), ps.text(), ps.len16(), pt.text(), pt.len16(), fc.text(), fc.len16(),
                          fs.text(), fs.len16(), ft.text(), ft.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                              SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab) {
    return CallODBC(kPrimaryKeys, h, Names(cat, cbCat, sch, cbSch, tab, cbTab));
}

VARNO_EXPORT SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                               SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kPrimaryKeysW, h, Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16()), w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                                   SQLSMALLINT cbSch, SQLCHAR* proc, SQLSMALLINT cbProc, SQLCHAR* col,
                                                   SQLSMALLINT cbCol) {
    return CallODBC(kProcedureColumns, h, Names(cat, cbCat, sch, cbSch, proc, cbProc, col, cbCol));
}

VARNO_EXPORT SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                                    SQLSMALLINT cbSch, SQLWCHAR* proc, SQLSMALLINT cbProc,
                                                    SQLWCHAR* col, SQLSMALLINT cbCol) {
    WideIn c(cat, cbCat), s(sch, cbSch), p(proc, cbProc), k(col, cbCol);
    WideHook w({&c, &s, &p, &k});
    return CallODBC(kProcedureColumnsW, h,
                    Names(c.text(), c.len16(), s.text(), s.len16(), p.text(), p.len16(), k.text(), k.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLProcedures(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                             SQLSMALLINT cbSch, SQLCHAR* proc, SQLSMALLINT cbProc) {
    return CallODBC(kProcedures, h, Names(cat, cbCat, sch, cbSch, proc, cbProc));
}

VARNO_EXPORT SQLRETURN SQL_API SQLProceduresW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                              SQLSMALLINT cbSch, SQLWCHAR* proc, SQLSMALLINT cbProc) {
    WideIn c(cat, cbCat), s(sch, cbSch), p(proc, cbProc);
    WideHook w({&c, &s, &p});
    return CallODBC(kProceduresW, h, Names(c.text(), c.len16(), s.text(), s.len16(), p.text(), p.len16()), w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT h, SQLUSMALLINT type, SQLCHAR* cat, SQLSMALLINT cbCat,
                                                 SQLCHAR* sch, SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab,
                                                 SQLUSMALLINT scope, SQLUSMALLINT nullable) {
    return CallODBC(
        kSpecialColumns, h,
        WithOptions(Names(cat, cbCat, sch, cbSch, tab, cbTab),
                    MakeTraceSlots(type, cat, cbCat, sch, cbSch, tab, cbTab, scope, nullable), type, scope, nullable));
}

VARNO_EXPORT SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT type, SQLWCHAR* cat, SQLSMALLINT cbCat,
                                                  SQLWCHAR* sch, SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab,
                                                  SQLUSMALLINT scope, SQLUSMALLINT nullable) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kSpecialColumnsW, h,
                    WithOptions(Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16()),
                                MakeTraceSlots(type, c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(),
                                               scope, nullable),
                                type, scope, nullable),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLStatistics(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                             SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab, SQLUSMALLINT unique,
                                             SQLUSMALLINT accuracy) {
    return CallODBC(
        kStatistics, h,
        WithOptions(Names(cat, cbCat, sch, cbSch, tab, cbTab),
                    MakeTraceSlots(cat, cbCat, sch, cbSch, tab, cbTab, unique, accuracy), unique, accuracy));
}

VARNO_EXPORT SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                              SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLUSMALLINT unique,
                                              SQLUSMALLINT accuracy) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(
        kStatisticsW, h,
        WithOptions(Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16()),
                    MakeTraceSlots(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), unique, accuracy),
                    unique, accuracy),
        w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                                  SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab) {
    return CallODBC(kTablePrivileges, h, Names(cat, cbCat, sch, cbSch, tab, cbTab));
}

VARNO_EXPORT SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                                   SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kTablePrivilegesW, h, Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLTables(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch, SQLSMALLINT cbSch,
                                         SQLCHAR* tab, SQLSMALLINT cbTab, SQLCHAR* type, SQLSMALLINT cbType) {
    return CallODBC(kTables, h, Names(cat, cbCat, sch, cbSch, tab, cbTab, type, cbType));
}

VARNO_EXPORT SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                          SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLWCHAR* type,
                                          SQLSMALLINT cbType) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab), y(type, cbType);
    WideHook w({&c, &s, &t, &y});
    return CallODBC(kTablesW, h,
                    Names(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), y.text(), y.len16()),
                    w.hook());
}
