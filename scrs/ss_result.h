// The static result set: a static cursor's snapshot. At its first fetch (or at execute)
// the library reads the server cursor's whole result into a dataset cache
// (scrs/dsc_cache.h) and from then on serves every rowset, in any order, from that copy.
//
// Results are internal codes: 0; 15 (S1000); 16 (S1001); or the cache's or the agent's code.
// One per agent statement's working record (SCS_STMT::staticResult), used inside one ODBC
// call at a time.
#pragma once

#include <cstdint>

#include "scrs/dsc_cache.h"

struct DATASET;

constexpr int32_t SS_AT_END = -2;  // nextStart once a sequential fetch reached the end

struct SS_RESULT {
    DATASET* rows = nullptr;     // every row while the cache has not spilled, else the window
    int32_t firstInMemory = 0;   // cached row in row 0 of rows; -1 after a spill until a window
    int32_t nextStart = 0;       // where a sequential fetch continues, or SS_AT_END
    DSC_CACHE cache;
};

// A new holder: empty rows, next start 0, first row 0, cache initialised. 15 without out,
// 16 when an allocation fails (*out null, nothing allocated).
int SS_Alloc(SS_RESULT** out);
// Rows emptied, cache closed (its files deleted), next start 0, first row 0. Null is fine.
void SS_Close(SS_RESULT* ss);
// SS_Close, then the holder freed and *slot nulled. Null slot or holder is fine.
void SS_Free(SS_RESULT** slot);
// SS_Close, then the statement's whole result into the cache through the agent's own table
// (slot 19); *rowCount := the rows read, also after a failure (then logged at ERROR "SS_GetRsltSet:
// Could not fill dataset cache" and the code returned). A spilled cache leaves first row -1.
int SS_GetRsltSet(SS_RESULT* ss, const OA_OPTABLE* agent, uint32_t stmt, int32_t* rowCount);
// Copies up to n rows from cached row start (from 0; -1: the next sequential start) into
// *out (a new DATASET when *out is null, else emptied and reused), values copied. A start at
// or past the end gives an empty dataset and 0, never a negative count; the end mark
// (SS_AT_END) short-cuts only sequential requests. A sequential request moves the next
// start on by n when n rows came, else marks the end; an explicit start leaves the next
// start at that start. On failure *out holds no rows (a dataset the call allocated is freed
// and *out nulled).
int SS_FetchRowset(SS_RESULT* ss, int32_t start, int32_t n, DATASET** out);
// SS_Close, then rows (a heap dataset, taken over; null gives none) become the whole
// result, in memory: a seek window's keys. 15 without a holder.
int SS_Adopt(SS_RESULT* ss, DATASET* rows);
