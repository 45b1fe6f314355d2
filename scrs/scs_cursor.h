// The cursor record and its accessors: what the ODBC side keeps of a statement's cursor and
// asks of the cursor library.
//
// SCS_CURSOR lives in two places on the ODBC side: in each connection (the defaults of the
// statement attributes that govern cursors, set up by scs_CursorInit) and in each
// statement (set up from the connection's by scs_CursorInitFromConn), where it also keeps
// the position of the application's cursor, the current rowset and the application's
// row-status array. The library's working state of an agent statement (SCS_STMT,
// scrs/scs_stmt.h) holds the same position fields of its own and reads the attributes
// where the agent keeps them (OA_CURSOROPTS, drv_pro9/oa_services.h).
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <cstdint>

#include "drv_pro9/oa_optable.h"

struct DS_ROWSET;

// Cursor types and concurrency values (the ODBC values).
constexpr int32_t SCS_FORWARD_ONLY = 0;
constexpr int32_t SCS_KEYSET = 1;   // mixed when the keyset size is above 0
constexpr int32_t SCS_DYNAMIC = 2;
constexpr int32_t SCS_STATIC = 3;
constexpr int32_t SCS_READ_ONLY = 1;
constexpr int32_t SCS_LOCK = 2;
constexpr int32_t SCS_ROWVER = 3;
constexpr int32_t SCS_VALUES = 4;

// Position values: before the start, after the end, the whole rowset (a positioned
// operation on every row); n >= 1 is the current row within the rowset.
constexpr int32_t SCS_POS_BEFORE_START = 0;
constexpr int32_t SCS_POS_AFTER_END = -3;
constexpr int32_t SCS_POS_WHOLE_ROWSET = -2;

// Bits of SCS_CURSOR::flags and SCS_STMT::flags.
constexpr uint16_t SCS_ROWSET_SIZE_CHANGED = 0x0001;  // since the key query was built / last fetch
constexpr uint16_t SCS_KEY_ORDER_ADDED = 0x0002;
constexpr uint16_t SCS_KEY_QUERY_PREPARED = 0x0004;
constexpr uint16_t SCS_PARAMS_KEPT = 0x0008;          // parameter values kept and joined to re-runs
constexpr uint16_t SCS_TYPE_SET = 0x0040;             // cursor type set since the last preparation
constexpr uint16_t SCS_RESULT_CACHED = 0x0080;        // a static cursor's cache is full
constexpr uint16_t SCS_KEYSET_SIZE_SET = 0x0100;
constexpr uint16_t SCS_ANALYSED = 0x0200;
constexpr uint16_t SCS_CLOSED = 0x0400;               // the next execute prepares the text again
// The cursor type or concurrency was changed (by the library, or by the agent at
// prepare): the next preparation gives the requested values back first.
constexpr uint16_t SCS_ATTRS_CHANGED = 0x0800;
constexpr uint16_t SCS_SELECT_REWRITTEN = 0x1000;     // select list rewritten with key columns
constexpr uint16_t SCS_THROUGH_LIBRARY = 0x8000;      // prepared or executed through the library

struct SCS_CURSOR {
    // Statement attributes that govern cursors.
    int32_t rowsetSize = 1;
    int32_t keysetSize = 0;             // 0: keyset over the whole result; n: mixed cursor
    int32_t rowCount = -1;              // rows in the result or keyset; -1 unknown
    int32_t cursorType = SCS_FORWARD_ONLY;
    int32_t requestedType = SCS_FORWARD_ONLY;          // given back at the next preparation
    int32_t concurrency = SCS_READ_ONLY;
    int32_t requestedConcurrency = SCS_READ_ONLY;
    int32_t simulateCursor = 0;         // SQL_SIMULATE_CURSOR
    int32_t useBookmarks = 0;           // SQL_USE_BOOKMARKS
    int32_t retrieveData = 1;           // SQL_RETRIEVE_DATA
    uint32_t agentConn = 0;
    uint32_t agentStmt = 0;
    int32_t position = SCS_POS_BEFORE_START;
    int32_t rowsetStart = 0;            // number (from 1) of the current rowset's first row
    const OA_OPHOLDER* agent = nullptr; // the holder the library reaches the agent through
    void* owner = nullptr;              // the record that embeds this one
    int32_t comparedColumns = 1;        // driver option 1050: 1 every column, 2 the select list
    uint32_t keyRequest1052 = 0;        // driver options 1052 and 1054
    uint32_t keyRequest1054 = 0;
    uint32_t rowVersioning = 0;
    uint16_t flags = 0;                 // SCS_* bits
    // The statement's instance only.
    DS_ROWSET* rowset = nullptr;        // the current rowset (owned)
    uint16_t* appRowStatus = nullptr;   // the application's row-status array
    uint32_t setPosRow = 0;             // row of the pending positioned operation
    uint16_t setPosOperation = 0;
    uint32_t fetchDirections = 0;       // SQLGetInfo 8, asked once; 0 not yet
    int32_t lastFetchRowsetSize = 1;    // rowset size of the current rowset
    int32_t hasDynMixCursors = 0;       // the connection's cn_hasDynMixCurs: fetch through slot 41
};

// Base defaults (above), the two handles, the holder and the owner, which may be 0 and
// null (a connection's defaults record). 0.
int scs_CursorInit(SCS_CURSOR* cur, uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder, void* owner);
// scs_CursorInit, then no rowset, row-status array or fetch directions, and from the
// connection's record (when given) the concurrency, cursor type, keyset size,
// retrieve-data, rowset size, simulate-cursor and use-bookmarks values. 0.
int scs_CursorInitFromConn(SCS_CURSOR* cur, uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder,
                           void* owner, const SCS_CURSOR* connDefaults);

// 0 or -3: rowset start and position := value; -2: position := -2; any other value below
// 0, or above the rowset size, gives 39 (S1107) and changes nothing; else position :=
// value. The checked core takes the bound, for the library's working record.
int scs_SetPosition(SCS_CURSOR* cur, int32_t value);
int scs_SetPositionWithin(int32_t* position, int32_t* rowsetStart, int32_t rowsetSize, int32_t value);
// Row count unknown, position before the start (rowset start 0).
void scs_CursorReset(SCS_CURSOR* cur);
// Frees the current rowset and nulls it.
void scs_FreeRowset(SCS_CURSOR* cur);

// The bookmark of row index (0-based within the rowset): 21 (S1009) without an out or
// for an index not below the rowset size; 64 (24000) at position 0 or -3; a pure
// keyset or static cursor answers scs_RowBookmark; any other type 43 (S1C00).
int scs_GetBookmark(const SCS_CURSOR* cur, uint32_t rowIndex, int32_t* out);
// 0 with bookmark 0 for forward-only, dynamic and mixed cursors; 21 for a null out or an
// index not below the rowset size; 64 without a position; 41 (S1109) when the row's
// status is SQL_ROW_ERROR; else rowset start + index.
int scs_RowBookmark(const SCS_CURSOR* cur, uint32_t rowIndex, int32_t* out);
// Entry n-1 of the rowset's statuses; SQL_ROW_ERROR (5) without a rowset or for n < 1.
int16_t scs_GetRowStatus(const DS_ROWSET* rowset, int32_t n);
// Entry n-1 := value; nothing without a rowset or for n < 1.
void scs_SetRowStatus(DS_ROWSET* rowset, int32_t n, int16_t value);

// An ODBC information item from the agent, through the holder's slot 0. Integer items
// are asked as oa_InfoIntCode(item) and answered at their ODBC width (16 bits for 28,
// 85, 93 and 99, 32 bits for 8, 26, 43, 44, 72, 78, 79, 80, 82, 83, 92): a buffer length
// below that width gives 21 without asking. Text items (11, 17, 29, 47) as
// oa_InfoTextCode(item), read whole: cut to the buffer with a NUL, the full length out
// (at most 32767) and 19 (01004) when it does not fit (a null buffer or a length of 0
// takes nothing). Other items 27 (S1092); no table or slot 43; an agent error is
// answered unchanged.
int scs_AgentGetInfo(const OA_OPHOLDER* holder, uint32_t agentConn, uint16_t info, void* buf, int16_t bufLen,
                     int16_t* outLen);
