// Statement records: allocation with the agent statement and the four implicit
// descriptors, close, free, the statement's messages, its bound-column list, its parameter
// array, the cached result-column and parameter descriptions, and the cores of
// SQLParamOptions, SQLRowCount, SQLNumResultCols and SQLNumParams.
//
// A connection owns its statements (CONN::stmts, newest first); a statement owns its
// agent statement and its implicit descriptors. Everything here runs inside a call on the
// statement's connection (its call lock and the database lock held) and takes no handle
// lock: a freed statement is unregistered and marked here, and its memory goes when the
// call's claim ends (GateDefer, driver/frame/handle.h). Failures leave an internal code in
// stmt->diag.errCode (or the connection's, for allocation) and the agent's messages queued
// on the statement.
#pragma once

#include "util/charset.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/objects/conn.h"
#include "scrs/scs_cursor.h"
#include "util/dataset.h"
#include "util/dsrow.h"

struct DESC;

// Statement states.
constexpr int32_t STMT_STATE_FREED = 0;
constexpr int32_t STMT_STATE_ALLOCATED = 1;  // allocated or closed
constexpr int32_t STMT_STATE_PREPARED = 2;   // prepared or holding a result

// Bits of STMT::flags.
constexpr uint16_t STMT_FLAG_PREPARED = 0x1;
constexpr uint16_t STMT_FLAG_CURSOR_OPEN = 0x2;      // executed
constexpr uint16_t STMT_FLAG_NEEDBIND = 0x4;       // the connection's cn_needbind at allocation
constexpr uint16_t STMT_FLAG_PARAMS_SEEN = 0x8;    // the agent has the current parameter bindings

// STMT::fetchRoad: how the current result has been read so far.
constexpr uint8_t STMT_ROAD_NONE = 0;
constexpr uint8_t STMT_ROAD_BLOCK = 1;   // the ODBC 2 fetch, row by row from the row block
constexpr uint8_t STMT_ROAD_ROWSET = 2;  // the cursor library's rowsets

// Largest parameter number.
constexpr uint16_t STMT_MAX_PARAMS = 1024;

// A data-at-execution value accumulated by SQLPutData for one row: no bytes while no
// piece came, else the bytes (an empty piece gives an empty value); a NULL after
// SQL_NULL_DATA, which is not the same as no piece at all.
struct DAE_PIECE {
    std::optional<std::string> bytes;
    bool null = false;
};
// One per row; empty when the agent takes the pieces itself (cn_hasV2DAE).
using PIECES = std::vector<DAE_PIECE>;

// The lanes of the pairs of internal type and C type that a fetch meets most; each writes
// what Convert writes for its pair and hands anything unusual (a value past its lane's
// bounds) to Convert.
enum class DELIVERY_LANE : uint8_t {
    Convert,      // no lane: Convert
    Long,         // DS_SLONG into SQL_C_LONG / SQL_C_SLONG
    Double,       // DS_DOUBLE into SQL_C_DOUBLE
    Date,         // DS_DATE into SQL_C_DATE / SQL_C_TYPE_DATE
    DateText,     // DS_DATE into SQL_C_CHAR / SQL_C_WCHAR
    Text,         // DS_CHARZ into SQL_C_CHAR, the element in the application's code set
    TextWide,     // DS_CHARZ into SQL_C_WCHAR (ASCII, or any ISO-8859-1 element)
    TextInteger,  // DS_CHARZ into an integer C type (a BIGINT travels as its text)
};

// How the values of one column reach one request (PlanColumn), made once per binding and
// result rather than once a value: the C type after SQL_C_DEFAULT and SQL_ARD_TYPE, what
// its converter needs, the code sets of the column's text and of the application's, and
// the lane. Not ready when the column cannot take that road (the bookmark column, a
// request GetColumn refuses, descriptions not loaded yet). column, askedCType and forLoad
// say what it was made for: the column, the C type as asked, and the STMT::resultDescsLoads
// of its descriptions (0: none kept).
struct COL_PLAN {
    int16_t cType = 0;
    DELIVERY_LANE lane = DELIVERY_LANE::Convert;
    int32_t laneType = 0;     // the internal type the lane was chosen for
    SQLLEN lengthIfZero = 0;  // SQL_C_DEFAULT's fixed size, for a buffer length of 0
    int scale = 0;
    int precision = 0;
    int fractionDigits = 0;
    NarrowCode narrow = NarrowCode::Latin1;       // the application's, for SQL_C_CHAR text
    NarrowCode elementCode = NarrowCode::Latin1;  // of the column's narrow text elements
    bool bigintAsBinary = false;
    bool ready = false;
    uint16_t column = 0;
    int16_t askedCType = 0;
    uint32_t forLoad = 0;
};

// One bound column (SQLBindCol), in binding order.
struct BINDCOL {
    uint16_t column = 0;  // 0: bookmark
    int16_t cType = 0;
    void* data = nullptr;  // null: only the length/indicator buffers are bound
    SQLLEN bufferLength = 0;
    SQLLEN* indicator = nullptr;
    SQLLEN* octetLength = nullptr;
    PIECES pieces;
    // Its plan as a fetch of one row made it (driver/exec/fetch.cpp), kept for the later
    // fetches of the same result (plan.forLoad). A new binding replaces the record, and
    // with it this.
    COL_PLAN plan;
};

// One bound parameter (SQLBindParameter), at index number - 1.
struct PARAMREC {
    uint16_t number = 0;  // 0: not bound
    int16_t cType = 0;
    SQLLEN fixedCSize = 0;  // SQL_NTS for variable-length C types
    int16_t sqlType = 0;
    SQLULEN columnSize = 0;
    int16_t scale = 0;
    void* data = nullptr;
    SQLLEN* indicator = nullptr;
    SQLLEN* octetLength = nullptr;
    SQLLEN bufferLength = 0;
    int16_t paramType = SQL_PARAM_INPUT;
    PIECES pieces;
};

// What the agent last saw of a parameter: a change of any of these clears
// STMT_FLAG_PARAMS_SEEN.
struct PARAMSHADOW {
    int16_t sqlType = 0;
    int16_t cType = 0;
    int32_t columnSize = 0;  // low 32 bits
    int16_t scale = 0;
    int16_t paramType = 0;
    bool operator==(const PARAMSHADOW&) const = default;
};

// Data-at-execution states (STMT::daeState): which rows an exchange of SQLParamData and
// SQLPutData fills, and whether values are still wanted. 4 to 6 are the execution's own.
constexpr int16_t STMT_DAE_NONE = 0;
constexpr int16_t STMT_DAE_PARAMS = 1;        // parameter rows: values still wanted
constexpr int16_t STMT_DAE_SETPOS = 2;        // SQLSetPos rows: values still wanted
constexpr int16_t STMT_DAE_BULK = 3;          // SQLBulkOperations rows: values still wanted
constexpr int16_t STMT_DAE_PARAMS_DONE = 7;   // parameter rows: all values given
constexpr int16_t STMT_DAE_SETPOS_DONE = 8;
constexpr int16_t STMT_DAE_BULK_DONE = 9;

// Where an exchange stands. On the driver's road the next position and row are where the
// search for the next value resumes, and the current ones the value SQLPutData appends
// to (a parameter index from 0, or a position in the bound-column list); on the agent's
// road the agent names the value, and the current position is where the driver found it.
struct STMT_DAE {
    uint16_t nextPos = 0;
    uint32_t nextRow = 0;
    uint16_t curPos = 0;
    uint32_t curRow = 0;
    bool current = false;      // a SQLParamData named the value SQLPutData goes to
    uint32_t pieces = 0;       // SQLPutData calls for the current value
    bool nullPiece = false;    // one of them gave SQL_NULL_DATA: nothing joins a NULL
    int32_t agentParam = -1;   // the agent's value: parameter or column index from 0
    int32_t agentRow = 0;
    uint16_t operation = 0;    // the SQLSetPos or SQLBulkOperations operation waiting
};

// Where SQLGetData stands in the value it last served, so that further calls on the same
// column go on from there. column 0: none; row is the row index + 1. rest points at the
// unread part of the value, in the row block or in a piece of a long value that the agent
// handed out (owned, freed by FreeColumnPiece). total is the long value's whole length as
// the agent reports it (-1 NULL, SQL_NO_TOTAL unknown); cType the C type of the last
// conversion that left something unread.
struct GETDATA_STATE {
    uint16_t column = 0;
    uint16_t row = 0;
    const unsigned char* rest = nullptr;
    int32_t type = 0;        // DS_CTYPE of the value or piece
    uint32_t remaining = 0;  // bytes not yet handed out
    int32_t total = 0;
    int32_t cType = 0;
    bool owned = false;      // rest is a piece the agent allocated
    bool longValue = false;  // the value is read from the agent piece by piece
};

// Descriptions owned by the statement: an array from the agent (freed with the C heap,
// each entry's four texts too).
struct COLDESC_ARRAY {
    COLDESC* items = nullptr;
    uint16_t count = 0;
    COLDESC_ARRAY() = default;
    ~COLDESC_ARRAY() { reset(); }
    COLDESC_ARRAY(const COLDESC_ARRAY&) = delete;
    COLDESC_ARRAY& operator=(const COLDESC_ARRAY&) = delete;
    void reset();
    // Takes over an array the agent handed out.
    void adopt(COLDESC* descs, uint16_t n) {
        reset();
        items = descs;
        count = n;
    }
};

struct STMT : HANDLE_HDR {
    explicit STMT(CONN* owner) : HANDLE_HDR(CALL_KIND_STMT) {
        conn = owner;
        gate = owner != nullptr ? &owner->callGate : nullptr;
    }
    ~STMT();
    STMT(const STMT&) = delete;
    STMT& operator=(const STMT&) = delete;

    int32_t state = STMT_STATE_ALLOCATED;
    uint16_t flags = 0;        // STMT_FLAG_*
    STMT* next = nullptr;      // next statement of the connection
    uint32_t sequence = 0;     // the connection's statement counter at allocation
    uint32_t agentStmt = 0;    // from agent slot 7

    // Statement options, from the connection's defaults.
    int32_t queryTimeout = 0;
    SQLULEN maxLength = 0;
    SQLULEN maxRows = 0;
    int32_t bindType = 0;  // 0 column-wise, else the row size
    int32_t noScan = 0;
    uint32_t asyncEnable = 0;

    // Descriptions of the prepared statement, loaded on first use.
    bool paramDescsLoaded = false;
    COLDESC_ARRAY paramDescs;
    bool resultDescsLoaded = false;
    COLDESC_ARRAY resultDescs;
    uint32_t resultDescsLoads = 0;  // loads of resultDescs so far (never 0 once one happened)
    std::unique_ptr<COLDESC> bookmarkDesc;  // column 0, made once per statement
    // The agent's extended column attributes of the result (COLATTR entries by their key),
    // loaded with the descriptions when the agent has them; null otherwise.
    UT_HASH* colAttrs = nullptr;
    // The row block: rows of the last agent fetch, handed out one row (or one rowset) at a
    // time and refilled in place when used up. blockPos is the index of the next row to
    // hand out; rowsetStart the index of the current row (the first of the last rowset),
    // -1 before the first row or when the rowset did not come from one block.
    uint16_t rowsPerFetch = 0;
    uint16_t blockPos = 0;
    int32_t rowsetStart = -1;
    DATASET rowBlock;
    GETDATA_STATE getData;
    // SQLGetData's plans (driver/exec/coldeliver.cpp), at the column's index, each for the
    // same column and C type in the later rows of the same result.
    std::vector<COL_PLAN> getDataPlans;

    // Parameter kinds of the prepared text: input, output, input-output, and whether the
    // agent could not tell.
    uint16_t inParams = 0;
    uint16_t outParams = 0;
    uint16_t inOutParams = 0;
    bool paramKindsUnknown = false;

    std::vector<BINDCOL> boundCols;
    std::vector<PARAMREC> params;       // capacity = size
    std::vector<PARAMSHADOW> shadows;   // one per entry of params

    int16_t daeState = STMT_DAE_NONE;   // STMT_DAE_*
    STMT_DAE dae;
    // Agent column index -> bound-column position + 1, for the rows of SQLSetPos.
    std::vector<uint16_t> columnMap;
    // The row image of the last SQLSetPos and the result columns it carries: the agent
    // reads the image until its exchange of values given at execution ends.
    DatasetPtr setPosImage;
    std::vector<uint16_t> setPosColumns;
    // The rows of a pending SQLBulkOperations update (the ARD's array size) and their
    // bookmarks, kept while its values given at execution are collected.
    uint32_t bulkRows = 0;
    std::vector<int32_t> bulkBookmarks;
    uint32_t paramSetSize = 1;          // SQLParamOptions / SQL_ATTR_PARAMSET_SIZE
    SQLULEN* rowsProcessed = nullptr;   // SQL_ATTR_PARAMS_PROCESSED_PTR
    // The parameter dataset the agent asks values for (agent's road of data at execution),
    // owned by the agent unless the holder says the driver frees it; and the parameter
    // set of each of its rows, for the statuses and counts when the execution ends.
    DATASET* agentParamSet = nullptr;
    std::vector<uint32_t> agentSetOfRow;
    // The parameter dataset the agent took at the last execution and still holds (it
    // frees the one it holds when it is handed another, and with its statement): the next
    // execution refills it in place when it fits (StmtBuildParamSet). Null when the driver
    // frees the datasets, or when an exchange of values given at execution had the agent
    // merge pieces into it.
    DATASET* sentParamSet = nullptr;

    // Fetch attributes: SQL_ATTR_FETCH_BOOKMARK_PTR, SQL_ATTR_ROWS_FETCHED_PTR, and the
    // number of the current row of a forward-only cursor (kept by fetching).
    void* fetchBookmark = nullptr;
    SQLULEN* rowsFetched = nullptr;
    SQLULEN rowNumber = 0;
    // How the current result of a scrollable cursor has been read: the ODBC 2 fetch takes
    // the row block and the rowset fetch the cursor library's rowsets; mixing them would
    // drop rows. STMT_ROAD_*; none again at each execution (StmtResetCursor).
    uint8_t fetchRoad = 0;

    // The cursor record (scrs/scs_cursor.h): the requested and current cursor type and
    // concurrency (the agent may take others at prepare; SCS_ATTRS_CHANGED then asks for
    // the requested ones again at the next prepare), the rowset and keyset sizes, the
    // other cursor options and the values of driver options 1050, 1052 and 1054, and the
    // position in the current result. Set up from the connection's defaults at allocation.
    SCS_CURSOR cursor;

    // Descriptors: the implicit four, and the current application ones (an explicit
    // descriptor of the connection, or the implicit one).
    DESC* implicitArd = nullptr;
    DESC* implicitApd = nullptr;
    DESC* ard = nullptr;
    DESC* apd = nullptr;
    DESC* ird = nullptr;
    DESC* ipd = nullptr;

    SQLLEN rowCount = -1;  // rows of the last execution, -1 when unknown
    bool isQuery = false;  // the prepared text begins as a SELECT, which opens a cursor

    // Set by SQLCancel from another thread while a call runs on the statement; the running
    // execution reads and clears it.
    std::atomic<bool> cancelRequested{false};
};

// The rowset the application's calls read (SQLGetData, the transfer of a fetch's rows into
// bound columns): the dataset its rows lie in and the index there of its current row, the
// first of the rowset (negative while there is none at hand: before the first row, during
// a fetch, or when the rowset spanned two agent fetches). A forward cursor's rowset lies
// in the row block.
struct STMT_ROWSET {
    const DATASET* ds;
    int32_t row;
};
// A scrollable cursor's rowset is the cursor library's: its current row is the cursor's
// position.
inline STMT_ROWSET StmtCurrentRowset(const STMT* stmt) {
    if (const DS_ROWSET* rs = stmt->cursor.rowset; rs != nullptr && rs->rows != nullptr)
        return {rs->rows, stmt->cursor.position - 1};
    return {&stmt->rowBlock, stmt->rowsetStart};
}

// A new statement at the head of the connection's list, with its agent statement and its
// implicit descriptors registered and its cursor record set up from the connection's
// defaults; the caller registers the statement. Null with the code on the connection
// (08003 when not connected, the agent's code, 16, or the handle table's).
STMT* StmtAlloc(CONN* conn);

// A new result, or none: the cursor record's row count unknown, its position before the
// start and its rowset freed, the row number 0 and no fetch road taken. Every execution,
// close and next result does it.
void StmtResetCursor(STMT* stmt);

// Closes the cursor: data at execution off, the cursor reset, and when a result is held
// the agent's cursor closed and the state back to allocated.
void StmtClose(STMT* stmt);

// Frees everything the statement holds, its agent statement and its implicit descriptors
// (a current explicit descriptor stays: it is the connection's), unlinks and unregisters
// it and marks it freed; its memory goes when the call's claim ends.
void StmtFree(STMT* stmt);

// The statement's failure: the code left for its diagnostics, SQL_ERROR returned.
inline SQLRETURN StmtFail(STMT* stmt, int code) {
    stmt->diag.errCode = code;
    return SQL_ERROR;
}

// Queues a message on the statement's diagnostics; takes the oldest one off.
inline void StmtAddError(STMT* stmt, std::string_view text, int32_t native) {
    ErrListAdd(stmt->diag, text, native);
}
inline std::optional<ERRMSG> StmtNextError(STMT* stmt) {
    return ErrListPop(stmt->diag);
}
// Moves the agent statement's messages, then the agent connection's, onto the statement,
// each with its own native code. True when any came.
bool StmtGetAgentErrors(STMT* stmt);

// Binds a column, replacing a binding of the same column in its place. 0.
int StmtBindColAdd(STMT* stmt, BINDCOL col);
// Unbinds a column; no binding is no error.
void StmtBindColRemove(STMT* stmt, uint16_t column);
// The binding of a column, or null.
BINDCOL* StmtGetBoundCol(STMT* stmt, uint16_t column);

// Stores a parameter at its number (1 to 1024, else -1 with code 28); growing the array
// by ten past the number. A change of its types clears STMT_FLAG_PARAMS_SEEN.
int StmtSetParam(STMT* stmt, PARAMREC param);
// The parameter n, or null when n is 0 or beyond the array.
PARAMREC* StmtGetParam(STMT* stmt, uint16_t n);

// SQLFreeStmt(SQL_UNBIND): no column binding, the current ARD without records.
void StmtUnbindAll(STMT* stmt);
// SQLFreeStmt(SQL_RESET_PARAMS): no parameter binding; the APD and IPD keep their records.
void StmtResetParams(STMT* stmt);

// Frees the owned piece of a long value and forgets where SQLGetData stood.
void FreeColumnPiece(GETDATA_STATE* state);
// Empties the row block (its memory goes), forgets the current row and SQLGetData's
// place, and frees an owned piece. For a new result, a close and a free.
void StmtFreeRowBuffer(STMT* stmt);

// Drop the description caches (the result's also drops the parameters' and the row block).
void StmtFreeParamDescs(STMT* stmt);
void StmtFreeResultDescs(STMT* stmt);

// Whether a result column is one the agent added (a name beginning "*I", "*O", "*B" or
// "*U"), which applications are not shown.
bool StmtIsHiddenColumn(const COLDESC& d);
// The result-column descriptions, loaded on first use (with the extended column
// attributes when the agent has them); null on failure (code on the statement). The array
// holds the hidden columns too.
const COLDESC_ARRAY* StmtGetResultDescs(STMT* stmt);
// Column n as the application counts (hidden columns skipped); 0 is the bookmark column
// when bookmarks are on. Null with 17 (S1002) for any other number, with 115 (07005) when
// the statement has no result columns, or on failure.
const COLDESC* StmtGetColDesc(STMT* stmt, uint16_t column);
// The agent's extended attribute of a result column (its description from
// StmtGetColDesc) as a number or a text (owned by the statement); false when the agent
// gave none.
bool StmtColAttrInt(const STMT* stmt, const COLDESC* d, int attribute, int32_t* out);
bool StmtColAttrText(const STMT* stmt, const COLDESC* d, int attribute, const char** out);
// Parameter n (from 1), loading the descriptions first; null with 28 (S1093) out of range.
const COLDESC* StmtGetParamDesc(STMT* stmt, uint16_t n);

// Cores of the small statement calls: 0 or an internal code.
int StmtParamOptions(STMT* stmt, SQLULEN rows, SQLULEN* rowsProcessed);
int StmtRowCount(STMT* stmt, SQLLEN* out);
int StmtNumResultCols(STMT* stmt, SQLSMALLINT* out);
int StmtNumParams(STMT* stmt, SQLSMALLINT* out);
