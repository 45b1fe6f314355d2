// The dataset cache: a set of rows (a static cursor's result, later a keyset) that may grow
// without bound. Rows come from the agent 200 at a time into a DATASET; once more than
// 5000 are in memory they spill into two temporary files (a data file of row records and
// an index file of their offsets) and memory keeps only a window of rows, read back
// around the rows asked for.
//
// File layout (little-endian, as the numbers lie in memory; the files never leave the
// process, and they are unlinked as soon as they are open, so no name stays visible):
//   data file:  u32 column count, i32 row count, then per column {i32 type, u32 width},
//               then the row records one after another: per column a 4-byte indicator
//               (the row's i16, sign-extended) and, only when it is 0 or more (a value is
//               there), the value (encodings in dsc_cache.cpp);
//   index file: one i64 per row, the byte offset of its record in the data file.
// Offsets are 64-bit, so a data file may pass 2 GiB.
//
// The codec (DSCF_*) answers 1 done, 0 failed and posts nothing; the cache (DSC_*) answers
// internal codes (0, 15 S1000, 16 S1001, or the agent's fetch code). A cache belongs to one
// cursor and runs inside one ODBC call at a time: no locks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "drv_pro9/oa_optable.h"
#include "util/dataset.h"

constexpr int32_t DSC_FETCH_ROWS = 200;    // rows asked of the agent per fetch
constexpr int32_t DSC_MEMORY_ROWS = 5000;  // rows kept in memory before the cache spills

// One column of the rows in the files: what every read and append is checked against.
struct DSC_COLUMN {
    int32_t type = 0;    // DS_CTYPE
    uint32_t width = 0;  // element width; 16 for the by-reference types
    bool operator==(const DSC_COLUMN&) const = default;
};
using DSC_LAYOUT = std::vector<DSC_COLUMN>;

// Cache states.
constexpr int32_t DSC_IN_MEMORY = 0;  // every row in the owner's buffer, no files
constexpr int32_t DSC_OPEN = 1;       // files open, nothing written yet
constexpr int32_t DSC_SPILLED = 2;    // the files hold every row; memory holds a window

struct DSC_CACHE {
    int32_t state = DSC_IN_MEMORY;
    FILE* data = nullptr;
    FILE* index = nullptr;
    int32_t windowRows = DSC_MEMORY_ROWS;  // rows read back per window (grows for large rowsets)
    int32_t rowCount = 0;                  // rows in the cache (memory or files)
    DSC_LAYOUT layout;                     // of the rows in the files, from the first spill
    char* dataBuffer = nullptr;            // stdio buffers of the two files, freed on close
    char* indexBuffer = nullptr;
};

// ---- Codec --------------------------------------------------------------------------------

// mode 0 writes the header, the descriptors and rows [start, start + count) of rows into
// empty files (count <= 0: every row from start; a larger count is cut to the rows there);
// layout, when given, receives the columns written. mode 1 reads the file's rows [start,
// start + count) into an empty buffer (the caller frees it first); when layout is given the
// file's descriptors must equal it. Refused (0): any other mode, no columns, a start past
// the rows, a descriptor whose width does not fit its type, a stored length beyond its
// element, an unknown type (28 and above), any short read or write or failed seek. A read
// that fails leaves the buffer empty (ds_Free): it never claims rows it did not read.
int DSCF_Transfer(int32_t mode, FILE* data, FILE* index, DATASET* rows, int32_t start, int32_t count,
                  DSC_LAYOUT* layout);
// Appends every row of the buffer to files written by DSCF_Transfer and raises the header's
// row count. A buffer without rows succeeds without touching the files; one whose columns
// differ from the file's descriptors is refused.
int DSCF_Append(FILE* data, FILE* index, DATASET* rows);

// ---- Cache --------------------------------------------------------------------------------

// State 0, no files, window 5000 rows, no rows, no layout.
void DSC_Init(DSC_CACHE* cache);
// Closes (and so deletes) both files when open; state 0, no rows, no layout. The window
// size stays.
void DSC_Close(DSC_CACHE* cache);
// Reads the statement's whole result (slot 19 of agent, which must be the agent's own
// table, not the library's) into the cache: rows empties first; while at most 5000 rows
// came they stay in rows (state 0); beyond that every row goes to the files (state 2) and
// rows is left empty. *total (when given) := the rows fetched, also after a failure. A
// file that cannot be created posts a message naming the folder on stmt and answers 15.
int DSC_Fill(DSC_CACHE* cache, const OA_OPTABLE* agent, uint32_t stmt, DATASET* rows, int32_t* total);
// Makes cached rows [start, start + n) (from 0) available in rows: *firstInMemory is the
// cached row that sits in row 0 of rows (-1: no window read yet). A cache that never spilled
// answers from memory (0; the caller takes what is there). A spilled one reads a window of
// windowRows rows (grown to 2n when smaller) centred on the request unless the rows are
// already in memory. 15 when a read fails (rows then empty, *firstInMemory -1).
int DSC_ReadWindow(DSC_CACHE* cache, int32_t start, int32_t n, int32_t* firstInMemory, DATASET* rows);

// Test seam: the folder temporary files go to (null or empty: $TMPDIR, else /tmp).
void DSC_SetTempFolderForTests(const char* folder);
