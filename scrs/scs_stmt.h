// The cursor library's working state: one SCS_STMT per agent statement allocated through
// the library, one SCS_CONN per agent connection opened through it, and the
// per-server lists of kept connect parameters (SCS_CONNINFO).
//
// An SCS_STMT hangs off its agent statement (oa_StmtLibState, drv_pro9/oa_services.h): made
// by scs_AllocStmt, destroyed by scs_FreeStmt (scs_CursorFree, which frees the library's
// auxiliary statements through the agent), or, when the agent frees the statement itself
// (its connection's disconnect), by the slot's release, which frees memory only. The
// statement attributes that govern the cursor stay where slot 1 writes them, in the
// agent's OA_CURSOROPTS, read and written here through opts.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drv_pro9/oa_optable.h"
#include "drv_pro9/oa_services.h"
#include "scrs/rvc_rowver.h"
#include "sqlparse/scr_analyse.h"
#include "util/utarray.h"

struct COLDESC;
struct DATASET;
struct DS_ROWSET;
struct UT_HASH;
struct KSD;        // keyset descriptor (keyset cursors)
struct SS_RESULT;  // static result set (static cursors)

struct SCS_STMT {
    OA_CURSOROPTS* opts = nullptr;       // the agent's, for the statement's lifetime
    const int32_t* maxLength = nullptr;  // the agent's statement option 3, likewise
    int32_t requestedType = 0;           // restored at the next preparation (SCS_ATTRS_CHANGED)
    int32_t requestedConcurrency = 1;
    int32_t rowCount = -1;               // rows in the result or keyset; -1 unknown
    int32_t position = 0;                // SCS_POS_* or the current row of the rowset
    int32_t rowsetStart = 0;
    uint32_t agentConn = 0;
    uint32_t agentStmt = 0;
    const OA_OPHOLDER* agent = nullptr;  // the saved holder: the agent's own table
    uint16_t flags = 0;                  // SCS_* bits (scrs/scs_cursor.h)

    // From the agent at initialisation (properties and information items).
    uint32_t textParamsWithNul = 0;      // 0x22010004
    uint32_t needParamDescs = 0;         // 0x22010002
    uint32_t lockByUpdate = 0;           // 0x22010007
    uint32_t rowVersioning = 0;          // 0x2201000B
    int32_t maxParams = 255;             // 0x22010009
    uint32_t wide = 0;                   // 0x22010013
    char identQuote = 0;                 // SQLGetInfo 29; 0: identifiers are never quoted
    uint16_t identCase = 1;              // 28
    uint16_t quotedIdentCase = 4;        // 93
    uint16_t maxOrderByCols = 0;         // 99
    uint16_t nullCollation = 0;          // 85: 0 high, 1 low, 2 start, 4 end
    uint32_t noCatalogs = 0;             // 92 answered 0
    std::string userName;                // 47: owner of unqualified tables
    std::string dbmsName;                // 17

    // The analysed statement.
    std::string text;                    // the prepared text
    SCR_STMTINFO analysis{};
    SCR_STMTINFO analysis2{};
    SCR_STMTINFO valuesAnalysis{};
    uint16_t clauseFlags = 0;            // of the analysis; 512: not a query
    UT_ARRAY* fromTables = nullptr;      // SCR_TABLEREF
    UT_ARRAY* tableCols = nullptr;       // SCS_COLDESC
    UT_ARRAY* orderBy = nullptr;         // SCS_SELCOLDESC
    UT_ARRAY* selectCols = nullptr;      // SCS_COLDESC
    uint16_t orderingColCount = 0;
    int32_t mixedState = -6;             // -6: no keyset window
    bool shortAtEnd = false;             // a dynamic cursor's last forward fetch came short
    KSD* keyset = nullptr;
    SS_RESULT* staticResult = nullptr;

    // Auxiliary agent statements: positioned statements and catalog reads; the
    // optimistic-values query and the row-version work. 0: none.
    uint32_t aux1 = 0;
    uint32_t aux2 = 0;
    // The rowset query of a keyset-driven cursor, prepared for rowsetTuples key tuples. 0: none.
    uint32_t rowsetStmt = 0;
    uint32_t rowsetTuples = 0;
    // The row-version helper of a dynamic cursor on a row-versioning connection
    // (scrs/rvc_rowver.h); helper null when the cursor has none.
    RVC_STATE rowVersion{};
    SCR_MARKERS markers{};               // the application's markers in the analysed query
    // Columns the library reads after the application's (compared columns, then keys) and
    // takes out of every rowset: a static cursor's snapshot holds them.
    uint16_t hiddenCols = 0;

    // Parameters.
    DATASET* keptParams = nullptr;       // copy of the application's values (owned)
    DATASET* optValues = nullptr;        // optimistic values of the rowset (owned)
    std::vector<PARAM_DESC> paramDescs;      // of the SQL the library runs
    std::vector<PARAM_DESC> userParamDescs;  // copy of the application's

    // Result descriptions loaded once (scs_LoadResultColDescs), owned (ds_ColDescFree).
    uint16_t resultColCount = 0;
    COLDESC* resultCols = nullptr;

    // The pending positioned operation.
    DATASET* setPosRows = nullptr;
    std::vector<int16_t> setPosCols;
    int32_t affectedRows = -1;           // rows the last positioned operation touched; -1 none
    bool ddl = false;                    // the prepared text defines data: its execution clears caches

    // Execute-and-describe and the long values of a fetched rowset (slots 44, 47, 48, 52).
    DATASET* describeRows = nullptr;     // zeroed record (owned)
    DATASET* getDataSet = nullptr;       // long values taken out of the rowset (owned)
    int16_t gdColumn = 0;                // piecewise read in progress: column and row, 0 none
    int16_t gdRow = 0;
    int32_t gdReturned = 0;
    int32_t gdRemaining = 0;
};

// Per agent connection opened through the library.
struct SCS_CONN {
    uint32_t server = 0;
    UT_HASH* keyCache = nullptr;         // key columns by table (101 buckets, 16-byte keys)
    // FROM tables as the catalog resolved them (catalog, schema, table), by the tables as
    // written (each part length-prefixed): a second cursor over them asks the catalog nothing.
    std::map<std::string, std::vector<std::array<std::string, 3>>> resolvedTables;
};

// The kept copy of a connect request, for a second connection with the same parameters
// (the row-version helper). The password is wiped before its memory goes; the initial
// SQL is never kept.
struct SCS_CONNINFO;

// The working record of a live agent statement allocated through the library, or null
// (unknown handle, or a statement the agent allocated for itself or for the library).
// O(1): the agent's handle look-up and its library slot.
SCS_STMT* scs_FindStmt(uint32_t agentStmt);
// The record the connect bookkeeping hung on a live agent connection, or null.
SCS_CONN* scs_FindConn(uint32_t agentConn);

// ---- The working record's life ------------------------------------------------------------

// Sets up a new record for the agent statement: the attributes where the agent keeps them,
// the library state cleared, the describe-rows record, then what the agent answers of the
// connection (properties with a 4-byte buffer, information items through
// scs_AgentGetInfo), each kept only when it is answered. The keyset, the static result and
// the values cache stay unset. 0, or 16 (S1001) on no memory, with the auxiliary
// statements' messages collected. Assumes holder points at the agent's own table.
int scs_CursorInitFull(SCS_STMT* cur, uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder);
// Deletes the cursor's row-version lines and releases its helper (when it has one), frees
// the auxiliary statements through the agent (slot 8), then everything the record owns; the
// record itself stays, empty, with its handles and holder.
void scs_CursorFree(SCS_STMT* cur);
// Frees the record's memory without calling the agent: the release of the statement's
// library slot (oa_StmtLibState), which runs while the agent frees its statement. A
// row-version helper is only left (RVC_Forget): its connection's close ends it.
void scs_StmtRelease(void* record);
// Hangs a new full record on the agent statement's library slot (replacing any earlier
// one). 0, 21 for an unknown statement, 16 on no memory; a failed initialisation leaves no
// record.
int scs_AttachStmt(uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder);
// Before a new analysis: the text, the analyses, the descriptor arrays, the keyset
// descriptor's key columns, the loaded result and parameter descriptions; state and
// auxiliary flags 0.
void scs_CursorClearAnalysis(SCS_STMT* cur);

// ---- Errors of the SQL the library runs ------------------------------------------------

// Sets (1) or clears (0) the keep flag of the statement's error list, so that the messages
// of many generated executions accumulate. 0, or 21.
int scs_KeepStmtErrors(uint32_t agentStmt, int32_t keep);
// Moves the messages of both auxiliary statements (those that exist) onto the user's
// statement, in order, so that SQLGetDiagRec shows what the library's SQL met.
void scs_CollectAuxErrors(const SCS_STMT* cur);
// Drops the handle's last message when it is 01S01. 0, or 21.
int scs_ErrDropRowWarning(uint32_t handle);

// ---- Helpers of the later cursor parts --------------------------------------------------

// The first of count descriptors whose column name equals the probe's and, when the probe
// names a table or an owner, whose table or owner is equal too (exact bytes); its index
// goes to indexOut when given. Null when none.
const SCS_COLDESC* scs_FindColDesc(const SCS_COLDESC* items, uint32_t count, const SCS_COLDESC* probe,
                                   uint32_t* indexOut);
// How a rowset's keys go as parameters of a key query with keyCols key columns: blocks,
// keys in the last block and keys per block ((maximum parameters - the application's
// markers, cur->markers.total) / keyCols tuples, at most the rowset size). 0, or 15 (S1000) when not one
// key tuple fits a block, with the outs untouched.
int scs_KeyBlockGeometry(const SCS_STMT* cur, uint16_t keyCols, int32_t* blocks, int32_t* keysInLast,
                         int32_t* keysPerBlock);
// Loads the result descriptions from the agent (slot 15) once. 0 or the agent's code.
int scs_LoadResultColDescs(SCS_STMT* cur);
// The description of result column `column` (from 1), loading them first: 21 without an
// out, 17 (S1002) for 0 or a column past the count; the record keeps it.
int scs_GetResultColDesc(SCS_STMT* cur, uint16_t column, const COLDESC** out);
