// The ten catalog calls (SQLColumnPrivileges, SQLColumns, SQLForeignKeys, SQLPrimaryKeys,
// SQLProcedureColumns, SQLProcedures, SQLSpecialColumns, SQLStatistics, SQLTablePrivileges,
// SQLTables) in both widths: each checks the statement and its arguments, closes the
// cursor, copies the names and has the agent's catalog operation (slots 25-34, through
// the connection's operation table) open its result on the statement, which the
// application then fetches like any result.
//
// Wide entries hand over UTF-8 copies with SQL_NTS.
#pragma once

#include <sql.h>

#include <string>

#include "driver/frame/dispatch.h"

// The arguments of every catalog call: its names in the ODBC order with their lengths
// (bytes or SQL_NTS), the options of SQLSpecialColumns (identifier type, scope, nullable)
// and SQLStatistics (unique, accuracy), and the trace's view of the call as it came.
struct CatalogArgs {
    const char* names[6] = {};
    SQLSMALLINT lengths[6] = {};
    SQLUSMALLINT options[3] = {};
    TraceSlots trace;
};
inline TraceSlots TraceOf(const CatalogArgs& args) {
    return args.trace;
}

// Each: SQL_SUCCESS with the result open, or SQL_ERROR with the code on the statement:
// S1010 while data at execution is pending (nothing else happens then), S1009 for a
// negative length other than SQL_NTS or a missing table name where the call needs one,
// else the agent's code and messages.
SQLRETURN DoColumnPrivileges(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoColumns(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoForeignKeys(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoPrimaryKeys(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoProcedureColumns(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoProcedures(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoSpecialColumns(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoStatistics(HANDLE_HDR* stmt, const CatalogArgs& a);
SQLRETURN DoTablePrivileges(HANDLE_HDR* stmt, const CatalogArgs& a);
// Also rewrites the table-type list for the agent (NormTableTypes), adds 'VIEW' to a list
// with 'TABLE' when the connection includes views, and drops the list when it includes
// every type.
SQLRETURN DoTables(HANDLE_HDR* stmt, const CatalogArgs& a);

// A table-type list as the agent takes it: items quoted with single quotes, separated by
// commas, blanks around items and quotes inside them dropped ("TABLE, 'VIEW'" gives
// "'TABLE','VIEW'"); an empty text stays empty and one that begins with '%' gives "%".
std::string NormTableTypes(const std::string& text);
// The position from 1 of the first item of a comma-separated list that is item (blanks
// before an item skipped), 0 when none is.
int ListItemPos(const char* list, const char* item);
