// SQLDA binding: the half of an ESQL cursor record that ties the client's SQLDA areas to
// dataset columns. Describes result columns and parameters into COLDESC records, binds the
// output SQLDA of a cursor to the dataset a fetch fills, converts the fetched rows, and
// binds each parameter of the input SQLDA to the values of a parameter dataset.
//
// The cursor code (prepare, describe, open, fetch) owns a DB_SQLDABIND inside its cursor
// record and calls in here once per column or parameter. The record keeps what the client
// library reads and writes until the cursor is freed or bound again: the intermediate
// buffers of result columns whose values need conversion, the indicator arrays, and the
// server-layout values of parameters.
//
// Every SQLDA attribute call reports into the connection's SQLCA; when its code is then
// negative, the SQLCA's messages move to the statement's error list and the operation
// returns 15 (S1000). Out of memory gives 16 (S1001). Buffers made before a failure stay
// in the record and go with it. The agent runs under the driver's global database lock;
// nothing here locks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "drv_pro9/db_conv.h"
#include "platform/esql92/esql92.h"

struct COLDESC;
struct DATASET;
struct DATASET_COL;
struct OA_ERRLIST;

// One result column as described: how its values travel.
struct DB_COLBIND {
    int32_t convert = 0;       // 1: through buffer and db_ConvDBMSToKVR; 0: straight into the dataset
    int16_t key = 0;           // the server type the value is carried as (db_DbmsTypeToDsCType)
    int16_t serverType = 0;    // the described server type
    uint32_t length = 0;       // the described element length
    DB_VALBUF buffer;          // intermediate buffer of a converted column
    // What the output SQLDA holds for the column since the last bind (nothing before one):
    // a block bound again with the same arrays sets nothing.
    void* boundData = nullptr;
    int32_t* boundIndicators = nullptr;
    uint32_t boundLength = 0;
};

// The attributes last set on one parameter of the input SQLDA. A prepared statement
// executed again mostly binds the same type, direction, scale and length, and often the
// same buffers: only what changed is set again.
struct DB_PARAMSENT {
    bool valid = false;          // false: nothing known, every attribute is set
    int32_t serverType = 0;
    int16_t direction = 0;
    int16_t scale = 0;
    uint32_t length = 0;
    void* data = nullptr;
    int32_t* indicators = nullptr;
};

// One parameter: its values in the server's layout (when converted), its indicators (an
// array of indicatorRows entries, kept from one execution to the next while it is large
// enough) and the attributes the SQLDA holds for it.
struct DB_PARAMBIND {
    DB_VALBUF buffer;
    std::unique_ptr<int32_t[], UtFree> indicators;
    int32_t indicatorRows = 0;
    DB_PARAMSENT sent;
};

struct DB_SQLDABIND {
    ESQL_SQLCA* sqlca = nullptr;     // the connection's; must be set before any call
    OA_ERRLIST* errors = nullptr;    // the statement's; may be null
    bool latin1Client = false;       // the client takes ISO-8859-1 text (the ANSI library)
    bool narrowFromLatin1 = false;   // narrow text parameters are ISO-8859-1 for a UTF-8 client
    PRO_SQLDA* input = nullptr;      // owned: parameters
    PRO_SQLDA* output = nullptr;     // owned: result columns
    std::vector<DB_COLBIND> cols;    // one per result column
    // One i32 per row and result column, column after column; a column's slice is its
    // SQLDA indicator array.
    std::unique_ptr<int32_t[], UtFree> colIndicators;
    size_t colIndicatorCount = 0;
    // The rows the output SQLDA was last set to fetch; -1 when not known.
    int64_t outputRowsSent = -1;
    std::vector<DB_PARAMBIND> params;
    // The parameter rows last set on the input SQLDA; -1 when not known.
    int64_t inputRowsSent = -1;
    // The input SQLDA's place in a larger array last set (rows before, rows in all); the
    // SQLDA starts with none.
    uint32_t inputRowsBeforeSent = 0;
    uint32_t inputRowsTotalSent = 0;
    // A timestamp parameter of the run lost digits the server cannot keep (its warning is
    // posted): the run answers with a warning. Cleared by whoever starts a run.
    bool fractionCut = false;

    DB_SQLDABIND() = default;
    ~DB_SQLDABIND();
    DB_SQLDABIND(const DB_SQLDABIND&) = delete;
    DB_SQLDABIND& operator=(const DB_SQLDABIND&) = delete;
};

// n empty column slots, replacing the previous ones; 16 on no memory (no slots then).
int db_BindAllocCols(DB_SQLDABIND* b, uint16_t n);
// n empty parameter slots, replacing the previous ones; 16 on no memory.
int db_BindAllocParams(DB_SQLDABIND* b, uint32_t n);
// Frees both SQLDA areas (each once; the pointers become null), the slots and every
// buffer. The SQLCA and error list stay.
void db_BindFree(DB_SQLDABIND* b);

// Fills desc from column col (from 1) of the output (or input) SQLDA:
//   - name: kept when it begins with "*" (a parameter's direction mark); otherwise the
//     server's name cut to 47 bytes at a character boundary, or "EXPR_<col>" for none;
//   - server type, column size (precision), decimal digits (scale), declared width (the
//     element length), nullability in flag bits 0-3, updatability 1 read only, 2 writable,
//     3 unknown in bits 4-5 (*updatable, may be null, gets 0, 1, 2);
//   - internal type by db_DbmsTypeToDsCType(wide); SQL type, sizes and width by server
//     type (wide text as SQL_WCHAR / SQL_WVARCHAR; odbcVersion 2 sees DATE, TIME,
//     TIMESTAMP as 9, 10, 11). NUMERIC and BIGINT, fetched as text, get a declared width
//     that holds their longest text (their display size).
// For an output column with a slot, the slot learns how the values travel.
// 0; 15 after the ERROR line "Unsupported database type %d" (posted as well) or a failing
// attribute call.
int db_DescribeCol(DB_SQLDABIND* b, bool output, uint32_t col, bool wide, int odbcVersion,
                   COLDESC* desc, int32_t* updatable);

// Frees the slot's buffer and allocates rows elements of the server layout of serverType
// (db_ServerElemSize; text takes length). *elemSize gets the element size. A type without
// a layout: ERROR line "db_IntermBuffAlloc: No support for type: %d" with msgType, 15.
// No memory: 16.
int db_IntermBuffAlloc(DB_VALBUF* slot, int32_t serverType, uint32_t length, int32_t msgType,
                       int32_t rows, uint32_t* elemSize);

// Binds the output SQLDA to the dataset (one column slot per used column): the row count
// becomes the dataset's rows allocated; each column gets its data pointer (the intermediate
// buffer of a converted column, else the dataset column itself), its indicator slice, its
// element length, and the type it is carried as when that is not the described one
// (NUMERIC and BIGINT as VARCHAR text). A block bound again with the same shape and arrays
// keeps the indicator array and intermediate buffers, and sets nothing that the SQLDA holds
// already: a fetch allocates nothing.
int db_BindResultCols(DB_SQLDABIND* b, DATASET* ds);

// After a fetch of rows rows: the dataset indicators of column col (from 0) from the
// indicator slice db_BindResultCols bound (-1 NULL stays -1, positive becomes 1, 0 stays
// 0), and a converted column's values from its intermediate buffer through
// db_ConvDBMSToKVR. NULL rows are not converted, but every row reads its own element.
int db_ConvFetchedRows(DB_SQLDABIND* b, DATASET* ds, uint16_t col, int32_t rows);

// Binds parameter param (from 1) of the input SQLDA to rows [first, first + rows) of the
// value column: the column's internal type gives the server type (db_DsCTypeToDbmsType);
// converted values are built into the parameter's buffer (db_ConvKVRToDBMS, whose refusals
// are returned), others are bound in place. Sets the parameter rows of the SQLDA, then
// type, direction 1, scale, element length, data and an indicator array made from the
// dataset indicators (negative -> -1, else 0).
int db_BindInParam(DB_SQLDABIND* b, int16_t scale, uint32_t param, const DATASET_COL* value,
                   int32_t first, int32_t rows);
// Tells the input SQLDA where its rows lie in a larger parameter array (the rows before
// them and the rows in all, 0 and 0 for none), for the server's messages; only what
// changed is set. 0, or 15 with the messages posted.
int db_BindInputPlace(DB_SQLDABIND* b, uint32_t rowsBefore, uint32_t rowsTotal);
// As db_BindInParam with direction 2, after copying the value rows (data, indicators and
// owned blocks, type and width) into rows 0.. of result column resultCol, which must have
// room for them; the result column is what is bound.
int db_BindInOutParam(DB_SQLDABIND* b, int16_t scale, uint32_t param, const DATASET_COL* value,
                      DATASET* result, uint16_t resultCol, int32_t first, int32_t rows);
// Binds an output parameter (direction 4) to rows 0..rows-1 of result column resultCol: an
// intermediate buffer when its type needs conversion, else the column itself; indicators
// preset to -1.
int db_BindOutParam(DB_SQLDABIND* b, int16_t scale, uint32_t param, DATASET* result,
                    uint16_t resultCol, int32_t rows);
