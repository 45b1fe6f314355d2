// Scroll positioning and the rowset fetch by cursor type.
//
// Two halves. The positioning half works on the ODBC side's cursor record (STMT::cursor): it
// checks the orientation against the cursor type and the agent's fetch directions, works
// out the new rowset start of keyset-driven and static cursors, hands the request to the
// library's rowset fetch through the operation table (slot 41, or 36 without dynamic and
// mixed cursors), and keeps the position and the rowset the library hands back. The fetch
// half works on the library's working record of the agent statement (SCS_STMT) and
// produces the rowset; static cursors only so far (keyset-driven, dynamic and mixed
// cursors come later and answer 43, S1C00).
//
// Orientations are the ODBC ones (1 NEXT, 2 FIRST, 3 LAST, 4 PRIOR, 5 ABSOLUTE, 6 RELATIVE,
// 8 BOOKMARK); rows are numbered from 1. Results are internal codes: 0; 82 (IM907) no
// data; 38 (S1106) an orientation the cursor does not take; 85 (IM910) / 86 (IM911) a fetch
// before the start / past the end (the positioning half turns both into 82); or a code
// passed on from the agent or the cache.
#pragma once

#include <cstdint>

struct SCS_CURSOR;
struct SCS_STMT;
struct DS_ROWSET;

// Classes of a new rowset start (scs_p_RowsetClass).
constexpr int32_t SCS_CLASS_FORWARD = 0;        // forward into rows not counted yet
constexpr int32_t SCS_CLASS_BEFORE_START = 1;   // wholly before the first row
constexpr int32_t SCS_CLASS_OVERLAPS_START = 2; // begins before row 1: the first rowset instead
constexpr int32_t SCS_CLASS_INSIDE = 3;
constexpr int32_t SCS_CLASS_LAST_PARTIAL = 4;   // runs past the last row
constexpr int32_t SCS_CLASS_AFTER_END = 5;

// ---- Positioning (the ODBC side's record) ---------------------------------------------------

// Positions cur for the orientation and offset and fetches the rowset there. Assumes cur's
// holder, agent handles and sizes are set and the call holds the statement's connection.
// On success cur->rowset is the new rowset (the previous one freed), position 1 and rowset
// start the number of its first row (known from the row count the fetch reports once a
// target counted from the end is resolved); *rowsFetched the rows in it. 82 with
// *rowsFetched 0, no rowset and the position before the start or after the end. Other
// failures leave the agent's messages on the agent statement for the caller to pull.
int scs_ScrollPosition(SCS_CURSOR* cur, uint16_t orientation, int32_t offset, uint32_t* rowsFetched);
// The call into the library's rowset fetch: slot 41 with the orientation when
// cur->hasDynMixCursors, else slot 36; the rowset goes to cur->rowset, the row count to
// cur->rowCount.
int scs_FetchDispatch(SCS_CURSOR* cur, uint16_t orientation, int32_t target, uint32_t* rowsFetched);
// The rowset arithmetic of keyset-driven and static cursors: the new start for the
// orientation from rowset start S (-3, after the end, counts as N + 1) with row count N (-1
// unknown), rowset size R and the previous fetch's size lastR, into *target; the class is
// returned. LAST starts at max(N - R + 1, 1).
int32_t scs_p_RowsetStart(uint16_t orientation, int32_t offset, int32_t rowsetStart, int32_t rowCount,
                          int32_t rowsetSize, int32_t lastRowsetSize, int32_t* target);
int32_t scs_p_RowsetClass(int32_t rowsetStart, int32_t newStart, int32_t rowsetSize, int32_t rowCount);

// ---- Fetch (the library's record) -----------------------------------------------------------

// The first row (from 0) of the rowset of r rows that row names (1.. from the start, 0 the
// last rowset, negative from the end) over the cursor's row count: 85 (IM910) before the
// start and 86 (IM911) past the end, the position set to match.
int scs_p_StartRow(SCS_STMT* cur, int32_t row, int32_t r, int32_t* startOut);

// The static cursor's rowset at target row r (from 1; negative counts from the end; 0 the
// last rowset): the result filled on the first fetch (SS_GetRsltSet, then the agent's
// cursor closed), then rows [a, a + R) copied into rowset->rows with status 0 each. 85 for
// a before the first row, 86 past the last.
int scs_p_StaticFetch(SCS_STMT* cur, DS_ROWSET* rowset, int32_t row);
// Fills the static result set of the statement unless it is cached: SS_GetRsltSet, the
// agent's cursor closed unless the concurrency is lock, SCS_RESULT_CACHED set, the row
// count kept. Shared by the execution, the block fetch and the rowset fetch.
int scs_p_FillStatic(SCS_STMT* cur);
// A dynamic cursor's rowset: the window of R keys found by a seek from the current one (NEXT,
// FIRST, LAST, PRIOR, RELATIVE; other orientations 38), then its rows read by key. A rowset
// whose rows changed under the seek is read again from the same place, at most three times
// (then 101, IM920). A PRIOR or backward RELATIVE move that reaches the start reads the first
// rowset; 85 before the start and 86 past the end, the position set to match.
int scs_p_DynamicScroll(SCS_STMT* cur, int32_t offset, uint16_t orientation, DS_ROWSET* rowset);
// One dynamic fetch: the seek and the keyed read, retried as above.
int scs_p_DynamicFetch(SCS_STMT* cur, uint16_t orientation, int32_t offset, DS_ROWSET* rowset);
// A mixed cursor's rowset: inside its window of keyset-size keys while the rowset fits,
// else the window moved by a seek first (cur->mixedState: -6 no window, -1 inside the
// result, -2 the window begins at the first row, -3 it ends at the last row, -5 a forward
// move found no more rows). The row count becomes known only when one window holds the
// whole result.
int scs_p_MixedFetch(SCS_STMT* cur, int32_t offset, uint16_t orientation, DS_ROWSET* rowset);
