// Datasets: the column-wise row buffer in which every layer hands rows and parameter sets
// to the next; the agent's column descriptions (COLDESC) and extended column attributes
// (COLATTR); and the small release and narrow output-copy helpers beside them.
//
// The column data keep a raw layout because the client library and the cursor cache read
// their bytes: per column one contiguous array, row i's element at i x width, plus one
// spare byte; one i16 indicator per row. By-reference types (15, 16, 26) hold a DS_REFVAL
// in a 16-byte element; the block it points at belongs to the dataset, whatever the row's
// indicator, so every copy duplicates or moves it and every release frees it.
//
// Set-up operations return 0, ERR_GENERAL_ERROR for a bad argument or
// ERR_MEMORY_ALLOCATION_FAILURE. Nothing here logs or locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct UT_HASH;

// Internal value types of dataset columns. Element widths: ds_TypeWidth.
enum DS_CTYPE : int32_t {
    DS_NONE = 0,
    DS_CHAR = 1,           // character data of fixed size
    DS_BIT = 2,
    DS_STINYINT = 3,
    DS_SSHORT = 4,
    DS_SLONG = 5,
    DS_UTINYINT = 6,
    DS_USHORT = 7,
    DS_ULONG = 8,
    DS_FLOAT = 9,
    DS_DOUBLE = 10,
    DS_DATE = 11,          // i16 year, u16 month, u16 day
    DS_TIME = 12,          // u16 hour, minute, second
    DS_TIMESTAMP = 13,     // SQL_TIMESTAMP_STRUCT
    DS_BINARY = 14,        // binary data of fixed size
    DS_LONGCHAR = 15,      // by reference: length in bytes
    DS_LONGBINARY = 16,    // by reference: length in bytes
    DS_CHARZ = 17,         // NUL-terminated text
    DS_VARCHAR8 = 18,      // text after a 1-byte length
    DS_VARCHAR16 = 19,     // text after a u16 length
    DS_VARCHAR32 = 20,     // text after an i32 length
    DS_VARBINARY8 = 21,
    DS_VARBINARY16 = 22,
    DS_VARBINARY32 = 23,
    DS_WCHAR = 24,         // UCS-2 units of fixed count
    DS_WCHARZ = 25,        // NUL-terminated UCS-2
    DS_LONGWCHAR = 26,     // by reference: length in characters
    DS_WVARCHAR32 = 27,    // UCS-2 after an i32 character count
    DS_SBIGINT = 28,       // i64: BIGINT input parameters, bound to the server as integers
};

// Indicator values; 0 or more means the value is present.
constexpr int16_t DS_IND_NULL = -1;
constexpr int16_t DS_IND_DATA_AT_EXEC = -2;  // a data-at-execution value still to merge
constexpr int16_t DS_IND_AT_SERVER = -3;     // a long value still at the server
constexpr int16_t DS_IND_IGNORE = -4;        // the row is to be ignored

// The element of a by-reference type. The length counts bytes, or characters for 26.
struct DS_REFVAL {
    uint32_t length;
    void* data;
};
static_assert(sizeof(DS_REFVAL) == 16, "by-reference elements are 16 bytes");

struct DATASET_COL {
    int32_t type = DS_NONE;       // DS_CTYPE
    uint32_t width = 0;           // element width in bytes
    int16_t* indicators = nullptr;
    unsigned char* data = nullptr;
};

struct DATASET {
    uint16_t colsAllocated = 0;
    int32_t rowsAllocated = 0;    // rows for which every used column has arrays
    uint16_t colsUsed = 0;
    int32_t rowsUsed = 0;         // rows that hold values, at most rowsAllocated
    DATASET_COL* cols = nullptr;
};

// The agent's description of one result column or parameter.
struct COLDESC {
    char name[48] = {};
    // Owned heap texts or null, released with the record.
    char* catalog = nullptr;
    char* schema = nullptr;
    char* table = nullptr;
    char* label = nullptr;
    int16_t serverType = 0;       // -9999: not from the server
    int32_t sqlType = 0;
    uint32_t flags = 0;           // bits 0-3 nullability; bits 4-7 set by the agent
    uint32_t columnSize = 0;
    int16_t decimalDigits = 0;
    uint32_t displaySize = 0;
    int32_t internalType = 0;     // DS_CTYPE of the values
    uint32_t declaredWidth = 0;   // declared size from which the element width follows
};

// Kinds of a COLATTR value.
constexpr int16_t COLATTR_TEXT = 0;
constexpr int16_t COLATTR_INT = 1;
constexpr int16_t COLATTR_INT2 = 2;
constexpr int16_t COLATTR_DOUBLE = 3;

// One extended column attribute. Its first four bytes, read as a little-endian u32
// (attribute << 16 | column), are its key in a statement's attribute hash (4-byte keys).
struct COLATTR {
    int16_t column;     // 0: every column
    int16_t attribute;  // negative: ignored
    int16_t kind;       // COLATTR_*
    union {
        int32_t i;
        char* text;
        double d;
    } value;
};
static_assert(offsetof(COLATTR, value) == 8 && sizeof(COLATTR) == 16, "COLATTR layout");

constexpr int32_t COLATTR_HASH_BUCKETS = 101;

// Text list of the agent's message lists.
struct UT_STRLIST {
    char** texts = nullptr;
    uint32_t count = 0;
};

// --- element access -------------------------------------------------------------------

inline bool ds_IsRefType(int32_t type) {
    return type == DS_LONGCHAR || type == DS_LONGBINARY || type == DS_LONGWCHAR;
}
// Whether the column's elements hold owned blocks: a by-reference type whose width can
// hold the reference (a caller may have narrowed it).
inline bool ds_ColHoldsRefs(const DATASET_COL* col) {
    return ds_IsRefType(col->type) && col->width >= sizeof(DS_REFVAL);
}
// Row's element; the row must lie inside the column's arrays.
inline unsigned char* ds_Elem(const DATASET_COL* col, int32_t row) {
    return col->data + static_cast<size_t>(row) * col->width;
}

// --- dataset core ---------------------------------------------------------------------

// n zeroed column records, no rows. Does not release earlier contents (ds_Free first).
int ds_Init(DATASET* ds, uint16_t nCols);
uint32_t ds_TypeWidth(int32_t type, uint32_t declaredSize);
// rows x width + 1 zeroed data bytes and rows indicators of -1; 0 rows: no arrays.
// A column that still has arrays is refused (ds_ColFree first). Nothing stays allocated
// on failure.
int ds_ColAllocRows(DATASET_COL* col, int32_t rows);
// Gives every used column arrays for rows. Arrays the dataset already had are released
// first (with their blocks), so their rows read NULL; rows used is cut to rows. On failure
// no column keeps arrays and both row counts are 0.
int ds_AllocRows(DATASET* ds, int32_t rows);
// Frees the blocks of the first rows elements of a by-reference column, then both arrays.
// Absent arrays are skipped.
void ds_ColFree(DATASET_COL* col, int32_t rows);
// Frees every column's arrays and blocks and the column array; zeroes the counts. The
// record stays with the caller and can be set up again.
void ds_Free(DATASET* ds);
int ds_InitFromColDescs(const COLDESC* descs, uint16_t nDescs, int32_t rows, DATASET* ds);

// Releases a heap DATASET record with everything below it.
struct DatasetDeleter {
    void operator()(DATASET* ds) const;
};
using DatasetPtr = std::unique_ptr<DATASET, DatasetDeleter>;

// --- column descriptions --------------------------------------------------------------

// A zeroed array of n records (one when n is 0), or null.
COLDESC* ds_ColDescAlloc(uint16_t n);
// Frees the texts of the n records (each text once) and the array; null is ignored.
void ds_ColDescFree(COLDESC* descs, uint16_t n);

// --- column attributes ----------------------------------------------------------------

// The attribute's value for the column, falling back to the every-column entry when the
// column has none of its own. Returns 1 when a value was given out through the out that
// fits the entry's kind, else 0. A text stays owned by the entry.
int ut_ColAttrGet(const UT_HASH* hash, int attribute, int column, int32_t* intOut,
                  const char** textOut, double* doubleOut);
// Copies the agent's entries into a new array, dropping negative attributes and per-column
// entries that repeat their every-column value. Mode 2 duplicates texts (the new array owns
// them); other modes share them. Count 0 and a null array when nothing is kept.
int ut_ColAttrCompact(int32_t n, const COLATTR* entries, int32_t* countOut,
                      COLATTR** arrayOut, int mode);
// Frees the text of a text-valued entry (and nulls it).
void ut_ColAttrFree(COLATTR* entry);
// For-each callback over a statement's attribute hash: frees the entry's text and the
// heap entry itself.
void ut_ColAttrFreeCb(void* entry, const void* key, void* user);

// --- release and narrow copies --------------------------------------------------------

// Frees each text and the array; the count becomes 0.
void ut_StrListFree(UT_STRLIST* list);
// Copies the text cut to the buffer (NUL at size - 1 at most). 0 when it fit; -1 when cut,
// for a size of 0 (nothing written) or a null source or buffer.
int ut_StrCopyTrunc(const char* src, char* buf, uint16_t size, uint16_t* lengthOut);
// The ODBC output rule: lengthOut gets the full text length in bytes; with no buffer 0;
// when text and NUL fit they are copied, 0; else size - 1 bytes and a NUL (nothing for
// size 0), -1, which the caller turns into its truncation warning. -1 for a null source.
// The length is reported in 32 bits: a 16-bit length would turn negative past 32767.
int ut_StrCopyOut(const char* src, char* buf, uint16_t size, int32_t* lengthOut);
