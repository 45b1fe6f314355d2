// Value conversion between the server's element layouts (what an SQLDA buffer holds, one
// element per row) and the dataset's internal types, in both directions.
//
// Server layouts (esql92.h): DATE {i16 year; u8 month; u8 day} (4 bytes), TIME {u8 hour,
// minute, second; 3 zero bytes} (6), TIMESTAMP {i16 year; u8 month, day, hour, minute,
// second; u8 0; u16 milliseconds} (10), NUMERIC the client's packed form (30), BIGINT an
// int64 (8), BINARY and VARBINARY {i32 length; bytes} in 32000-byte elements, CHARACTER and
// VARCHAR NUL-terminated text (UTF-8).
//
// Every write into a dataset element or a server element is bounded by that element's
// width: a value that does not fit is cut (text at a character boundary), never written
// past its element. Whatever the server left in a source element is read only within the
// element's length.
#pragma once

#include <cstdint>
#include <memory>

#include "util/charset.h"

struct DATASET_COL;
struct OA_ERRLIST;

// The value part of a binary element: 32000 bytes less the i32 length.
constexpr uint32_t DB_BINARY_ELEMENT = 32000;
constexpr uint32_t DB_BINARY_MAX = DB_BINARY_ELEMENT - 4;

// A buffer of rows elements of the server's layout, bound to one SQLDA column: the
// intermediate buffer of a result column or the built values of a parameter. The client
// library reads and writes its bytes, so it stays a plain block.
struct DB_VALBUF {
    std::unique_ptr<unsigned char[], UtFree> data;
    uint32_t elemSize = 0;
    int32_t rows = 0;

    unsigned char* elem(int32_t row) const {
        return data.get() + static_cast<size_t>(row) * elemSize;
    }
    void reset() {
        data.reset();
        elemSize = 0;
        rows = 0;
    }
    // Frees the previous block and takes rows zeroed elements (at least one byte in all).
    // false when out of memory (the buffer is then empty).
    bool alloc(uint32_t elemSize, int32_t rows);
};

// Element size of a server type for a result column, from its described length: types 1
// and 12 the length itself, NUMERIC 30, DATE 4, TIME 6, TIMESTAMP 10, BIGINT 8, INTEGER 4,
// SMALLINT 2, BINARY and VARBINARY 32000. 0 for a type without an intermediate layout.
uint32_t db_ServerElemSize(int32_t serverType, uint32_t length);

// Converts the value at *src (an element of srcLen bytes of the given server type) into
// row `row` of the dataset column, by the column's type, and advances *src by one element
// (srcLen bytes):
//   1, 17   text; NUMERIC and BIGINT through the client's value-to-text conversion;
//   24, 25  UCS-2 from the UTF-8 text, or from the text of a NUMERIC or BIGINT;
//   11-13   the datetime layouts, milliseconds x 1000000 as the fraction;
//   14      the bytes of a {length; bytes} element, zero-padded to the width;
//   16      a heap copy of those bytes as {length; pointer}, owned by the dataset.
// Returns 0; 16 when the copy cannot be allocated; 15 (after the ERROR line
// "db_ConvDBMSToKVR: Unhandled conversion") for another internal type, or when the source
// is too short for its layout or the client cannot render the number.
int db_ConvDBMSToKVR(const unsigned char** src, DATASET_COL* col, int32_t row, uint32_t srcLen,
                     int32_t serverType);

// db_ConvDBMSToKVR for rows 0..rows-1 of a column fetched into data (elements of srcLen
// bytes), NULL rows (by the column's indicators) left alone. Stops at the first value
// that fails and returns its code.
int db_ConvDBMSColumnToKVR(const unsigned char* data, uint32_t srcLen, int32_t serverType, DATASET_COL* col,
                           int32_t rows);

// Element size in the server's layout of a parameter of the given internal type and
// dataset element width: the size of the layout for numbers, datetimes and binary values;
// for text the bytes its longest UTF-8 form and the NUL need. By-reference text, whose
// length depends on the values, takes the longest VARCHAR. 0 for a type without a
// conversion.
uint32_t db_ParamElemSize(int32_t dsType, uint32_t width);

// The byte length of row `row` of a counted (or by-reference) narrow text column as
// db_ConvKVRToDBMS copies it into an element of elemSize bytes, for the indicator that tells
// the server the text's length: a NUL inside it is then kept. 0 for other columns, and for
// an empty text (the server then reads up to the NUL, which is the same).
int32_t db_ParamTextBytes(const DATASET_COL* col, int32_t row, uint32_t elemSize);
// Whether db_ParamTextBytes gives lengths for columns of the internal type.
bool db_IsCountedTextParam(int32_t dsType);

// Builds a parameter's values in the server's layout from rows [first, first + rows) of the
// dataset column into out (rows elements), for a column whose type db_DsCTypeToDbmsType
// marks for conversion. Rows whose indicator is negative (NULL) stay zeroed. Text elements
// hold each value and its NUL (by-reference text: the longest value's length + 1). Refusals are posted on errors
// (may be null) with the parameter's number (from 1):
//   119 (22007) a DATE or TIMESTAMP of year, month and day 0, which has no value;
//   60 (22008) a datetime field too large for the server's layout;
//   57 (22001) a binary value longer than DB_BINARY_MAX bytes.
// A timestamp whose fraction has digits below the server's milliseconds loses them: the
// first such value of a call posts 104 (01S07) and sets *fractionCut (when given), and the
// conversion goes on.
// 16 on no memory; 15 for an internal type without a conversion.
// Wide text goes to the server in the client's code page: UTF-8, or ISO-8859-1 for a
// client told so at connect (latin1Client; a character it lacks becomes '?'); a surrogate
// without its partner is refused with 121 (22018). Narrow text is ISO-8859-1 converted to
// UTF-8 with narrowFromLatin1 (any narrow text type then comes here), else as it is.
int db_ConvKVRToDBMS(const DATASET_COL* col, int32_t first, int32_t rows, DB_VALBUF* out,
                     uint32_t paramNo, OA_ERRLIST* errors, bool latin1Client = false,
                     bool* fractionCut = nullptr, bool narrowFromLatin1 = false);

// The narrow text types of parameters: fixed, NUL-terminated, length-prefixed and by
// reference.
bool db_IsNarrowText(int32_t dsType);
