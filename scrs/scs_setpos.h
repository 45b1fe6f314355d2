// Positioned operations of the cursor library: the refresh, update, delete and add of
// SQLSetPos on a keyset-driven cursor, and on a static cursor that writes rows back (lock or
// values concurrency over an updatable query), carried out by generated SQL on the cursor's
// first auxiliary statement.
//
// A row is found by its key columns; under values concurrency also by the values it had
// when it was fetched (each compared column "= ?", or "IS NULL" when that value is NULL).
// Under lock concurrency the rows were locked when fetched and are changed by key alone.
// The written columns are the base columns of the select list; an expression has none and
// is left out of an update or an add.
//
// The statuses of the rows are the ODBC row statuses (0 success, 1 deleted, 2 updated,
// 3 no row, 4 added, 5 error); the keyset's status array keeps them across fetches.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <cstdint>
#include <vector>

struct DATASET;
struct DS_ROWSET;
struct SCS_STMT;

// Whether the cursor takes positioned operations here: a keyset-driven cursor with its key
// columns, or a static cursor whose snapshot holds the keys.
bool scs_SetPosSupported(const SCS_STMT* cur);

// Runs one positioned operation on the rowset that starts at cur->rowsetStart.
//   row        a rowset row from 1, or -2 for every row of the rowset;
//   operation  1 refresh, 2 update, 3 delete, 4 add (0 position: nothing to do);
//   rowImage   the new values (update, add): one row per rowset row (row n at index n - 1),
//              a row whose first indicator is -4 ignored; may be null for a delete; the
//              caller's;
//   columns    the result columns (from 1) that the image's columns carry, in order.
// *outRowStatus receives a new array (uh_Malloc; the caller frees it with uh_Free) of
// *outRowCount statuses: 1 for one row, else the rowset size. Every-row operations pass
// over rows that are deleted, in error or missing (their statuses stay); a single such row
// gives 41 (S1109). Codes: 0; 91 (01S03) no row changed; 92 (01S04) fewer rows changed
// than were tried; 81 (01S01) an add that left rows out; 21 (S1009) a missing out, a
// read-only cursor or no writable column; 15 (S1000) more parameters than the agent
// takes; 87-89 and 103 a query that cannot be changed; 16; or the agent's code.
// cur->affectedRows becomes the rows changed.
int scs_p_SetPosOp(SCS_STMT* cur, int32_t row, uint16_t operation, uint16_t** outRowStatus, int32_t* outRowCount,
                   const DATASET* rowImage, const std::vector<int16_t>& columns);

// Reads again, by key, the rows (indexes in the current rowset, from 0) of a cursor under
// values concurrency, so that their optimistic values are those the server now holds: the
// keyset's rowset query for a keyset-driven cursor (the optimistic values of the whole
// rowset), the row written into the snapshot for a static one. The keyset statuses stay.
int scs_p_RefreshOptConcRows(SCS_STMT* cur, const std::vector<int32_t>& rows);
// SQLBulkOperations by bookmark (5 update, 6 delete, 7 fetch) on a keyset-driven or static
// cursor. A bookmark is a row number of the result; each must name a row of the current
// rowset (else 150, IM925, and nothing is done). *outRowStatus receives a new array
// (uh_Calloc; the caller frees it with uh_Free) of one status per bookmark, in the
// bookmarks' order.
//   update  image row i holds the new values of bookmark i's row, columns as for
//           scs_p_SetPosOp; each row changed by key (and its values as fetched under values
//           concurrency); a row named twice is changed twice;
//   delete  each row deleted by key;
//   fetch   the current rowset read again (by key, or from a static cursor's snapshot) and
//           handed out in *outRowset in the bookmarks' order: row and status i are those of
//           bookmark i, a row named twice comes twice, a row another user deleted has
//           status 1 and no values.
// *outCount (may be null) receives the rows changed, or fetched. Codes as scs_p_SetPosOp:
// 91 none changed, 92 some of many; 21 on a read-only cursor; 15 for an operation outside
// 5-7 or missing arguments.
int scs_p_BulkByBookmark(SCS_STMT* cur, uint16_t operation, const int32_t* bookmarks, uint32_t count,
                         const DATASET* rowImage, const std::vector<int16_t>& columns, uint16_t** outRowStatus,
                         uint32_t* outCount, DS_ROWSET** outRowset);
