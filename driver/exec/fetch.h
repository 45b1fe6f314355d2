// Fetching: the row block (rows from the agent's fetch, refilled in place when used up),
// the ODBC 2 fetch into bound columns, the ODBC 3 fetch of a rowset of any size into
// column-wise or row-wise bound arrays with bind offsets, row statuses and the rows-fetched
// count, the scrollable fetch through the cursor library with the transfer of its rowset,
// and SQLGetData on the current row.
//
// Forward-only cursors are served from the row block for every rowset size, SQL_FETCH_NEXT
// alone (S1106 otherwise). Keyset-driven, dynamic and static cursors are positioned by the
// cursor library (scs_ScrollPosition), whose rowset (STMT::cursor.rowset) is then copied
// into the bound columns; their bookmarks are the rows' numbers in the result.
//
// Everything runs inside a call on the statement's connection. Results are ODBC return
// codes; SQL_ERROR and SQL_SUCCESS_WITH_INFO leave the internal code in stmt->diag.errCode.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

struct STMT;

// Refills the row block from the agent, in place, for rowsets of rowsetSize rows: the
// rows per fetch that the result's row width and the connection's fetch size allow, or a
// whole number of rowsets (at least one) so that no rowset spans two fetches. 0, or -1
// with the code on the statement (the agent's messages with it; 24000 for a statement
// without result columns).
int StmtFetchRowset(STMT* stmt, SQLULEN rowsetSize);

// The ODBC 2 fetch: the next row into the bound columns (the bookmark column too).
// S1010 unless the statement was executed, or when a scrollable cursor's result is being
// read by rowsets; SQL_NO_DATA at the end of the result.
SQLRETURN StmtFetchBound(STMT* stmt);

// The ODBC 3 fetch (SQLFetch, SQLFetchScroll). S1010 unless the statement was executed.
// Forward-only: SQL_FETCH_NEXT only (S1106), the next rowset of the ARD's array size from
// the row block. Scrollable: StmtExtendedFetch's road with the IRD's status array (a
// scratch one for the call when there is none) and the rows-fetched pointer; a BOOKMARK
// fetch adds the 32-bit bookmark at SQL_ATTR_FETCH_BOOKMARK_PTR to the offset.
SQLRETURN StmtFetchScroll(STMT* stmt, SQLSMALLINT orientation, SQLLEN offset);

// SQLExtendedFetch with the caller's rows-fetched and status pointers (either may be null).
// Forward-only: as StmtFetchScroll's (24000 unless executed). Scrollable: IM001 without
// scrollable cursors on the connection; IM917 for another orientation than NEXT with
// parameter arrays; S1106 for BOOKMARK or ABSOLUTE on a dynamic or mixed cursor; S1107 for
// a mixed cursor whose keyset is smaller than its rowset; ABSOLUTE 0 puts the cursor before
// the start and answers SQL_NO_DATA; 24000 unless executed; S1010 after the ODBC 2 fetch
// read the result; then the library positions the cursor (its messages pulled on failure,
// SQL_NO_DATA with 0 rows fetched past either end) and StmtFillRowset copies the rowset.
SQLRETURN StmtExtendedFetch(STMT* stmt, SQLUSMALLINT orientation, SQLLEN row, SQLULEN* rowsFetched,
                            SQLUSMALLINT* rowStatus);

// Copies the cursor library's current rowset into the bound columns at the ARD's bind
// offset: row rowNumber alone (from 1; S1107 past the rowset size), or every row for 0.
// operation is -1 for a fetch, SQL_FETCH_BY_BOOKMARK for the rows of SQLBulkOperations (in
// the bookmarks' order: the bookmark column is left as the application set it), else
// SQLSetPos's option: rows whose row-operation entry is
// SQL_ROW_IGNORE stay untouched then, and a refresh reports updated and added rows as
// SQL_ROW_SUCCESS. Each row's status goes to rowStatus (may be null). Rows without data
// are skipped; a row the library marks in error takes nothing (S1000); a deleted row, or
// any row with SQL_ATTR_RETRIEVE_DATA off, takes only its bookmark (column 0). A column
// that fails marks its row SQL_ROW_ERROR and the next rows go on; SQL_SUCCESS_WITH_INFO
// when some rows failed or warned, SQL_ERROR when every row failed.
SQLRETURN StmtFillRowset(STMT* stmt, SQLUSMALLINT* rowStatus, int32_t rowNumber, int32_t operation);

// SQLGetData on the current row (the first of the last rowset, or the cursor's position
// in the library's rowset): S1010 unless executed, S1090 for a negative buffer length,
// 24000 before the first row or after the last, S1109 on a rowset row that is deleted or
// in error, S1C00 when the rowset's first row is no longer at hand (a rowset that spanned
// two agent fetches); otherwise GetColumn's answer.
SQLRETURN StmtGetData(STMT* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufferLength,
                      SQLLEN* indicator);
