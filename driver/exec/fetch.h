// Forward fetching: the row block (rows from the agent's fetch, refilled in place when used
// up), the ODBC 2 fetch into bound columns, the ODBC 3 fetch of a rowset of any size into
// column-wise or row-wise bound arrays with bind offsets, row statuses and the rows-fetched
// count, and SQLGetData on the current row.
//
// The cursor library, which positions scrollable cursors, is not part of this build: every
// cursor is served forward-only from the row block, SQL_FETCH_NEXT alone (another
// orientation answers S1106 on a forward-only cursor and S1C00 on the others), and there
// are no bookmarks to read.
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
// S1010 unless the statement was executed; SQL_NO_DATA at the end of the result.
SQLRETURN StmtFetchBound(STMT* stmt);

// The ODBC 3 fetch (SQLFetch, SQLFetchScroll): SQL_FETCH_NEXT only (offset unused), the
// next rowset of the ARD's array size, the IRD's status array and the rows-fetched
// pointer written. S1010 unless the statement was executed.
SQLRETURN StmtFetchScroll(STMT* stmt, SQLSMALLINT orientation, SQLLEN offset);

// SQLExtendedFetch: the same with the caller's rows-fetched and status pointers (either
// may be null). 24000 unless the statement was executed.
SQLRETURN StmtExtendedFetch(STMT* stmt, SQLUSMALLINT orientation, SQLLEN row, SQLULEN* rowsFetched,
                            SQLUSMALLINT* rowStatus);

// SQLGetData on the current row (the first of the last rowset): S1010 unless executed,
// S1090 for a negative buffer length, 24000 before the first row or after the last, S1C00
// when the rowset's first row is no longer at hand (a rowset that spanned two agent
// fetches); otherwise GetColumn's answer.
SQLRETURN StmtGetData(STMT* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufferLength,
                      SQLLEN* indicator);
