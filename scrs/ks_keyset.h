// Keyset-driven cursors: the keyset descriptor, the keyset query that reads the key of every
// row of a result at execute, and the rowset fetch that reads the rows of a rowset's keys.
//
// The keyset query is the application's query with its select list replaced by the key
// columns and the key columns added to its ORDER BY; it runs on the first auxiliary
// statement and its rows fill the keyset (an SS_RESULT: in memory up to 5,000 keys, then
// spilled to the dataset cache's files). A rowset is read by the rowset query on the
// cursor's rowset statement: the application's query without TOP, its select list followed
// by hidden columns (the compared columns under values concurrency, then the key columns)
// and "( k = ? OR ... )" at the head of its WHERE clause, one key tuple per key of a block
// (as many as the agent's parameters allow beside the application's). Each fetched row is
// placed by the value of its hidden key columns, never by arrival order; a key whose row is
// gone gives an all-NULL row marked deleted. The hidden columns leave the rowset: the
// compared ones become the optimistic values.
//
// The application's markers keep their values: generated parameters go where the key
// predicate stands in the text (after the markers of the select list and the FROM list), and
// the values of markers a query drops (the select list of the keyset query) are left out.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_optable.h"
#include "scrs/ss_result.h"
#include "util/dataset.h"
#include "sqlparse/scr_analyse.h"

struct DATASET;
struct DS_ROWSET;
struct SCS_STMT;
struct UT_ARRAY;

// Statuses of the keys (kept across fetches; a fetch reports them in the rowset).
constexpr int16_t KS_ROW_SUCCESS = 0;
constexpr int16_t KS_ROW_DELETED = 1;
constexpr int16_t KS_ROW_UPDATED = 2;
constexpr int16_t KS_ROW_ERROR = 5;

// The keyset descriptor: what a keyset-driven, mixed or dynamic cursor knows of its keys.
struct KSD {
    UT_ARRAY* keyCols = nullptr;  // SCS_COLDESC, one per key column in the order found (owned)
    uint8_t fromTableCount = 0;   // names are qualified with their table when above 1
    SS_RESULT* keys = nullptr;    // the keys of the result, in keyset order (owned)
    std::vector<int16_t> rowStatus;  // one KS_ROW_* per key
    // A seek window's rows, each with its key columns and then the ordering columns that are
    // no key: the rows a seek starts from (dynamic and mixed cursors). Null without a window.
    DatasetPtr boundRows;
};

// Empties the keys and their statuses (the key columns stay). Null is ignored.
void KS_Close(KSD* keyset);

// The columns values concurrency compares (and reads beside each row): none under another
// concurrency; with option 1050 = 2 the plain columns of the select list, else every
// column of the tables but the long ones.
std::vector<const SCS_COLDESC*> KS_ComparedColumns(const SCS_STMT* cur);
// The key columns as the generated SQL names them, joined by ", ".
std::string KS_KeyList(const SCS_STMT* cur);
// "( k1 = ? AND k2 = ? OR ... )" for n key tuples; empty for n 0 or no key columns.
std::string KS_KeyPredicate(const SCS_STMT* cur, uint32_t n);
// The hidden columns the rowset query and a static snapshot read after the application's:
// the compared columns, then the key columns, joined by ", ".
std::string KS_HiddenColumnList(const SCS_STMT* cur);
// A one-row parameter dataset of values read from the server made fit for the agent: in
// the Unicode library its narrow text columns become wide text.
int KS_WidenTextParams(const SCS_STMT* cur, DATASET* row);
// Adds to the analysis' ORDER BY every key column it does not name (key order), while the
// server's maximum ORDER BY columns allows.
int KS_AddKeyOrderBy(SCR_STMTINFO* analysis, const SCS_STMT* cur);

// One parameter row of `tuples` key tuples from rows [first, first + keys) of keyRows, the
// last key repeated to fill the tuples. 15 for no rows, 0 tuples or keys, or tuples < keys.
int KS_KeysToParams(const DATASET& keyRows, int32_t first, uint32_t tuples, uint32_t keys, DATASET** out);
// The parameter row and descriptions of a generated query: the application's kept values
// (those of its select list only when keepSelectList) around the generated ones, which go
// after the markers of the select list and the FROM list. generated may be null (none).
// *out is a new dataset (the caller's), or null when there are no parameters at all.
int KS_JoinParams(const SCS_STMT* cur, const DATASET* generated, const std::vector<PARAM_DESC>& generatedDescs,
                  bool keepSelectList, DATASET** out, std::vector<PARAM_DESC>* descs);

// Builds the keyset at execute: runs the keyset query and reads every key; the cursor's row
// count becomes the number of keys, every status KS_ROW_SUCCESS. The rowset query is built
// again at the next fetch.
int KS_GetKeySet_KSD(SCS_STMT* cur);
// The rowset of a pure keyset-driven cursor that starts at row (1.. from the start, 0 the
// last rowset, negative from the end): 85 (IM910) before the start and 86 (IM911) past the
// end, with the position set; else the rows of the rowset's keys placed by key, deleted ones
// empty, statuses from the keyset, optimistic values read under values concurrency and the
// rows locked under lock concurrency (manual commit only).
int scs_p_KeysetFetch(SCS_STMT* cur, DS_ROWSET* rowset, int32_t row);
// The rows of keys [start, start + rowset size) of the keyset (or seek window) into the
// rowset, placed by key: the rowset query's part of scs_p_KeysetFetch, with no position
// checks. *liveRows (when given) := the keys whose row was found.
int KS_ReadRowsetAt(SCS_STMT* cur, DS_ROWSET* rowset, int32_t start, int32_t* liveRows);

// ---- Seek windows (dynamic and mixed cursors) ---------------------------------------------
// A window of keys is found by a seek on the ordering columns (the ORDER BY items, then the
// key columns it does not name) from the first or last row of the current window: "( a > ?
// OR a = ? AND k > ? )" and its kin, NULLs placed as the server's null collation says.
constexpr uint16_t KS_SEEK_NEXT = 1;
constexpr uint16_t KS_SEEK_FIRST = 2;
constexpr uint16_t KS_SEEK_LAST = 3;
constexpr uint16_t KS_SEEK_PRIOR = 4;
constexpr uint16_t KS_SEEK_RELATIVE = 6;
// Replaces the window by the keys of `windowSize` rows: the first or last rows of the result,
// the rows after or before the current window (NEXT, PRIOR), or the window moved by offset
// rows (RELATIVE; 0 reads it again from its first row). The keys go to the keyset (in
// memory, ascending), one KS_ROW_SUCCESS status each, and the bound rows are taken again.
// 82 (IM907) when no row is there (the window is then empty).
int KS_FetchBySeek(SCS_STMT* cur, uint16_t orientation, int32_t offset, int32_t windowSize);
// The rows in the current window (0 without one).
int32_t KS_WindowRows(const SCS_STMT* cur);
// For tests: the seek predicate and its parameter columns (indexes into the bound rows) for
// the orientation (NEXT or PRIOR) and mode (0 past the window, 1 from inside it, 3 from
// inside it including the bound row).
int KS_SeekPredicate(const SCS_STMT* cur, uint16_t orientation, int mode, std::string* text,
                     std::vector<int>* paramCols);
// A static cursor that writes rows back (lock or values concurrency on an updatable query)
// reads its snapshot once, with the hidden columns after the application's: the keys (and
// compared values) come from the rows themselves. The snapshot's rows are the keyset.
bool KS_StaticWithKeys(const SCS_STMT* cur);
int KS_FillStaticWithKeys(SCS_STMT* cur, int32_t* rowCount);
// Takes the hidden columns out of rows fetched from the snapshot: under values
// concurrency they become the optimistic values.
int KS_TakeHiddenColumns(SCS_STMT* cur, DATASET* rows);

// Locks keyset rows [first, first + count) that are not deleted by updating each key column
// to its own value, when the agent locks by update and the connection is not in autocommit
// (where a lock would end at once and only write). 81 (01S01) when a row could not be
// locked.
int scs_p_LockRows(SCS_STMT* cur, int32_t first, int32_t count);
