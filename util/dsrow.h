// Row and column operations on datasets, and the cursor library's rowsets.
//
// Common rules: rows are 0-based and must be used rows unless said otherwise; two columns
// match when type and element width are equal. By-reference blocks (types 15, 16, 26)
// belong to their dataset: a copy duplicates them, a move clears the giver's pointer, and
// a row that is NULL after a copy holds no block. Every operation either completes or,
// on an error, leaves both datasets as they were (ds_ApplyMaxLength: each column either
// keeps its old layout or has the new one). Errors: ERR_GENERAL_ERROR for a bad argument
// or mismatched layouts, ERR_MEMORY_ALLOCATION_FAILURE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/charset.h"
#include "util/dataset.h"

// Inserts an all-NULL row at pos (0 to rows used; rows used appends), moving the later
// rows down. Needs a spare allocated row and at least one used column.
int ds_InsertRow(DATASET* ds, int32_t pos);
// *equal = 1 when every column holds the same value in both rows: first the indicators
// (NULL equals only NULL), then the values by their own length (by-reference values by
// length and bytes, fixed types by the whole element).
int ds_CompareRows(const DATASET* a, int32_t rowA, const DATASET* b, int32_t rowB,
                   int* equal);
// A new heap dataset holding a deep copy of the used rows (rows allocated = rows used).
// A source without used rows gives a clone with no used columns and no rows.
int ds_Clone(DATASET** out, const DATASET* src);
// Copies source row srcRow onto destination row dstRow; a dstRow at or past the rows used
// (but below the rows allocated) appends the row. takeOver moves the source's blocks
// instead of duplicating them.
int ds_CopyRow(DATASET* dst, DATASET* src, int32_t dstRow, int32_t srcRow, int takeOver);
// Appends the used rows of other (same layout); other's blocks move to ds. Rows used and
// rows allocated both become the sum.
int ds_Append(DATASET* ds, DATASET* other);
// ds's columns become other's used columns followed by its own; other keeps its column
// records but gives up their arrays. Both need equal rows used and rows allocated.
int ds_JoinColumns(DATASET* ds, DATASET* other);
// Gives *out (freed and reused when it holds a dataset, else newly allocated) the model's
// column layout and rows allocated rows, none used.
int ds_CloneLayout(DATASET** out, const DATASET* model, int32_t rows);
// Replaces the heap dataset in the slot by one with the same rows in reverse order.
int ds_Reverse(DATASET** slot);
int ds_DropColumn(DATASET* ds, int col);
int ds_GetColType(const DATASET* ds, int col, int32_t* type, uint32_t* width);
// Inserts an all-NULL column at pos (0 to columns used) with arrays for the rows allocated.
int ds_InsertColumn(DATASET* ds, int pos, int32_t type, uint32_t width);
// Replaces the destination column by a copy of the source column. A destination without
// used rows takes the source's rows, which only works when that column is its only used
// one (other columns would claim rows they have no arrays for).
int ds_CopyColumn(DATASET* dst, int dstCol, const DATASET* src, int srcCol);
// Copies the value's bytes, at most *length, and writes back the count (0 for NULL). The
// value's length comes from its type and never reaches past its element.
int ds_GetValue(const DATASET* ds, int col, int32_t row, void* buf, size_t* length);
// Converts the wide columns to narrow text in code (ISO-8859-1 writes '?' for a character
// it lacks): 24 and 25 to 17, 26 to 15, 27 to 20, each column's elements resized to its
// longest narrow value (UTF-8 takes up to three bytes a unit). NULL rows are skipped. 121
// (22018) with nothing changed when a value holds half of a surrogate pair; 16 on no
// memory (the columns converted so far stay converted).
int ds_WideToAnsi(DATASET* ds, NarrowCode code);
// Cuts every character and binary value to at most max bytes (characters for wide text);
// fixed-size columns that may hold longer values become length-prefixed first.
int ds_ApplyMaxLength(DATASET* ds, uint32_t max);

// A cursor rowset: one ODBC row status per row beside the rows' dataset.
struct DS_ROWSET {
    int16_t* rowStatus = nullptr;  // rowCount statuses, SQL_ROW_NOROW after allocation
    DATASET* rows = nullptr;       // owned, set up with no columns
    int32_t rowCount = 0;
};

// A new rowset of n rows. *out is set only on success.
int ds_RowsetNew(DS_ROWSET** out, int32_t n);
// Replaces the contents by n statuses of SQL_ROW_NOROW and an empty dataset (resizing a
// rowset). On failure the old contents stay.
int ds_RowsetAllocContents(DS_ROWSET* rowset, int32_t n);
// Frees the dataset (with its record) and the status array.
void ds_RowsetFreeContents(DS_ROWSET* rowset);
// Frees contents and rowset and nulls the slot; an empty slot does nothing.
void ds_RowsetFree(DS_ROWSET** slot);
