// Entry points of the catalog calls. Each wide form hands its names on as UTF-8.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/handlers/pending.h"

namespace {

constexpr int kStmt = CALL_KIND_STMT;

#define VARNO_TABLE3_FORMAT \
    "szTableQualifier=%lX cbTableQualifier=%d szTableOwner=%lX cbTableOwner=%d szTableName=%lX cbTableName=%d"
#define VARNO_COLUMNS_FORMAT VARNO_TABLE3_FORMAT " szColumnName=%lX cbColumnName=%d"
#define VARNO_PROC3_FORMAT \
    "szProcQualifier=%lX cbProcQualifier=%d szProcOwner=%lX cbProcOwner=%d szProcName=%lX cbProcName=%d"
#define VARNO_FOREIGNKEYS_FORMAT                                                                    \
    "szPkTQual=%lX cbPkTQual=%d szPkTOwn=%lX cbPkTOwn=%d szPkTName=%lX cbPkTName=%d szFkTQual=%lX " \
    "cbFkTQual=%d szFkTOwn=%lX cbFkTOwn=%d szFkTName=%lX cbFkTName=%d"
#define VARNO_SPECIALCOLUMNS_FORMAT                                                                \
    "fColType=%u szTableQual=%lX cbTableQual=%d szTableOwner=%lX cbTableOwner=%d szTableName=%lX " \
    "cbTableName=%d fScope=%u fNullable==%u"

constexpr auto kColumnPrivileges = MakePendingCall("ColumnPrivileges", VARNO_COLUMNS_FORMAT, kStmt);
constexpr auto kColumnPrivilegesW = MakePendingCall("ColumnPrivilegesW", VARNO_COLUMNS_FORMAT, kStmt);
constexpr auto kColumns = MakePendingCall("Columns", VARNO_COLUMNS_FORMAT, kStmt);
constexpr auto kColumnsW = MakePendingCall("ColumnsW", VARNO_COLUMNS_FORMAT, kStmt);
constexpr auto kForeignKeys = MakePendingCall("ForeignKeys", VARNO_FOREIGNKEYS_FORMAT, kStmt);
constexpr auto kForeignKeysW = MakePendingCall("ForeignKeysW", VARNO_FOREIGNKEYS_FORMAT, kStmt);
constexpr auto kPrimaryKeys = MakePendingCall("PrimaryKeys", VARNO_TABLE3_FORMAT, kStmt);
constexpr auto kPrimaryKeysW = MakePendingCall("PrimaryKeysW", VARNO_TABLE3_FORMAT, kStmt);
constexpr auto kProcedureColumns =
    MakePendingCall("ProcedureColumns", VARNO_PROC3_FORMAT " szColumnName=%lX cbColumnName=%d", kStmt);
constexpr auto kProcedureColumnsW =
    MakePendingCall("ProcedureColumnsW", VARNO_PROC3_FORMAT " szColumnName=%lX cbColumnName=%d", kStmt);
constexpr auto kProcedures = MakePendingCall("Procedures", VARNO_PROC3_FORMAT, kStmt);
constexpr auto kProceduresW = MakePendingCall("ProceduresW", VARNO_PROC3_FORMAT, kStmt);
constexpr auto kSpecialColumns = MakePendingCall("SpecialColumns", VARNO_SPECIALCOLUMNS_FORMAT, kStmt);
constexpr auto kSpecialColumnsW = MakePendingCall("SpecialColumnsW", VARNO_SPECIALCOLUMNS_FORMAT, kStmt);
constexpr auto kStatistics = MakePendingCall("Statistics", VARNO_TABLE3_FORMAT " fUnique=%u fAccuracy=%u", kStmt);
constexpr auto kStatisticsW = MakePendingCall("StatisticsW", VARNO_TABLE3_FORMAT " fUnique=%u fAccuracy=%u", kStmt);
constexpr auto kTablePrivileges = MakePendingCall("TablePrivileges", VARNO_TABLE3_FORMAT, kStmt);
constexpr auto kTablePrivilegesW = MakePendingCall("TablePrivilegesW", VARNO_TABLE3_FORMAT, kStmt);
constexpr auto kTables = MakePendingCall("Tables", VARNO_TABLE3_FORMAT " szTableType=%lX cbTableType=%d", kStmt);
constexpr auto kTablesW = MakePendingCall("TablesW", VARNO_TABLE3_FORMAT " szTableType=%lX cbTableType=%d", kStmt);

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                                   SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab, SQLCHAR* col,
                                                   SQLSMALLINT cbCol) {
    return CallODBC(kColumnPrivileges, h, Pending(cat, cbCat, sch, cbSch, tab, cbTab, col, cbCol));
}

VARNO_EXPORT SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                                    SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLWCHAR* col,
                                                    SQLSMALLINT cbCol) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab), k(col, cbCol);
    WideHook w({&c, &s, &t, &k});
    return CallODBC(kColumnPrivilegesW, h,
                    Pending(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), k.text(), k.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLColumns(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch, SQLSMALLINT cbSch,
                                          SQLCHAR* tab, SQLSMALLINT cbTab, SQLCHAR* col, SQLSMALLINT cbCol) {
    return CallODBC(kColumns, h, Pending(cat, cbCat, sch, cbSch, tab, cbTab, col, cbCol));
}

VARNO_EXPORT SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                           SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLWCHAR* col,
                                           SQLSMALLINT cbCol) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab), k(col, cbCol);
    WideHook w({&c, &s, &t, &k});
    return CallODBC(kColumnsW, h,
                    Pending(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), k.text(), k.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT h, SQLCHAR* pkCat, SQLSMALLINT cbPkCat, SQLCHAR* pkSch,
                                              SQLSMALLINT cbPkSch, SQLCHAR* pkTab, SQLSMALLINT cbPkTab, SQLCHAR* fkCat,
                                              SQLSMALLINT cbFkCat, SQLCHAR* fkSch, SQLSMALLINT cbFkSch, SQLCHAR* fkTab,
                                              SQLSMALLINT cbFkTab) {
    return CallODBC(
        kForeignKeys, h,
        Pending(pkCat, cbPkCat, pkSch, cbPkSch, pkTab, cbPkTab, fkCat, cbFkCat, fkSch, cbFkSch, fkTab, cbFkTab));
}

VARNO_EXPORT SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR* pkCat, SQLSMALLINT cbPkCat, SQLWCHAR* pkSch,
                                               SQLSMALLINT cbPkSch, SQLWCHAR* pkTab, SQLSMALLINT cbPkTab,
                                               SQLWCHAR* fkCat, SQLSMALLINT cbFkCat, SQLWCHAR* fkSch,
                                               SQLSMALLINT cbFkSch, SQLWCHAR* fkTab, SQLSMALLINT cbFkTab) {
    WideIn pc(pkCat, cbPkCat), ps(pkSch, cbPkSch), pt(pkTab, cbPkTab);
    WideIn fc(fkCat, cbFkCat), fs(fkSch, cbFkSch), ft(fkTab, cbFkTab);
    WideHook w({&pc, &ps, &pt, &fc, &fs, &ft});
    return CallODBC(kForeignKeysW, h,
                    Pending(pc.text(), pc.len16(), ps.text(), ps.len16(), pt.text(), pt.len16(), fc.text(), fc.len16(),
                            fs.text(), fs.len16(), ft.text(), ft.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                              SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab) {
    return CallODBC(kPrimaryKeys, h, Pending(cat, cbCat, sch, cbSch, tab, cbTab));
}

VARNO_EXPORT SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                               SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kPrimaryKeysW, h, Pending(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16()), w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                                   SQLSMALLINT cbSch, SQLCHAR* proc, SQLSMALLINT cbProc, SQLCHAR* col,
                                                   SQLSMALLINT cbCol) {
    return CallODBC(kProcedureColumns, h, Pending(cat, cbCat, sch, cbSch, proc, cbProc, col, cbCol));
}

VARNO_EXPORT SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                                    SQLSMALLINT cbSch, SQLWCHAR* proc, SQLSMALLINT cbProc,
                                                    SQLWCHAR* col, SQLSMALLINT cbCol) {
    WideIn c(cat, cbCat), s(sch, cbSch), p(proc, cbProc), k(col, cbCol);
    WideHook w({&c, &s, &p, &k});
    return CallODBC(kProcedureColumnsW, h,
                    Pending(c.text(), c.len16(), s.text(), s.len16(), p.text(), p.len16(), k.text(), k.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLProcedures(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                             SQLSMALLINT cbSch, SQLCHAR* proc, SQLSMALLINT cbProc) {
    return CallODBC(kProcedures, h, Pending(cat, cbCat, sch, cbSch, proc, cbProc));
}

VARNO_EXPORT SQLRETURN SQL_API SQLProceduresW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                              SQLSMALLINT cbSch, SQLWCHAR* proc, SQLSMALLINT cbProc) {
    WideIn c(cat, cbCat), s(sch, cbSch), p(proc, cbProc);
    WideHook w({&c, &s, &p});
    return CallODBC(kProceduresW, h, Pending(c.text(), c.len16(), s.text(), s.len16(), p.text(), p.len16()), w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT h, SQLUSMALLINT type, SQLCHAR* cat, SQLSMALLINT cbCat,
                                                 SQLCHAR* sch, SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab,
                                                 SQLUSMALLINT scope, SQLUSMALLINT nullable) {
    return CallODBC(kSpecialColumns, h, Pending(type, cat, cbCat, sch, cbSch, tab, cbTab, scope, nullable));
}

VARNO_EXPORT SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT type, SQLWCHAR* cat, SQLSMALLINT cbCat,
                                                  SQLWCHAR* sch, SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab,
                                                  SQLUSMALLINT scope, SQLUSMALLINT nullable) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kSpecialColumnsW, h,
                    Pending(type, c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), scope, nullable),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLStatistics(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                             SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab, SQLUSMALLINT unique,
                                             SQLUSMALLINT accuracy) {
    return CallODBC(kStatistics, h, Pending(cat, cbCat, sch, cbSch, tab, cbTab, unique, accuracy));
}

VARNO_EXPORT SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                              SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLUSMALLINT unique,
                                              SQLUSMALLINT accuracy) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kStatisticsW, h,
                    Pending(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), unique, accuracy), w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch,
                                                  SQLSMALLINT cbSch, SQLCHAR* tab, SQLSMALLINT cbTab) {
    return CallODBC(kTablePrivileges, h, Pending(cat, cbCat, sch, cbSch, tab, cbTab));
}

VARNO_EXPORT SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                                   SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab);
    WideHook w({&c, &s, &t});
    return CallODBC(kTablePrivilegesW, h, Pending(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16()),
                    w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLTables(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT cbCat, SQLCHAR* sch, SQLSMALLINT cbSch,
                                         SQLCHAR* tab, SQLSMALLINT cbTab, SQLCHAR* type, SQLSMALLINT cbType) {
    return CallODBC(kTables, h, Pending(cat, cbCat, sch, cbSch, tab, cbTab, type, cbType));
}

VARNO_EXPORT SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT cbCat, SQLWCHAR* sch,
                                          SQLSMALLINT cbSch, SQLWCHAR* tab, SQLSMALLINT cbTab, SQLWCHAR* type,
                                          SQLSMALLINT cbType) {
    WideIn c(cat, cbCat), s(sch, cbSch), t(tab, cbTab), y(type, cbType);
    WideHook w({&c, &s, &t, &y});
    return CallODBC(kTablesW, h,
                    Pending(c.text(), c.len16(), s.text(), s.len16(), t.text(), t.len16(), y.text(), y.len16()),
                    w.hook());
}
