// What the cursor library reaches of the agent outside the operation table.
//
// The library sits in front of the agent's table (SCR_HookOpTable) and reaches the agent
// through the saved table for everything a slot does. A few things have no slot: its own
// state hung on the agent's statements and connections, the statement attributes the
// agent keeps for it (slot 1 writes them), the prepared text, the error lists across the
// SQL it generates, and the agent's back-calls into the library. They are here, and
// nothing else of the agent is visible to scrs/ (the Layering test checks it).
//
// Every function takes an agent handle (statement or connection id of the agent's tables)
// and is called inside one ODBC call on that handle, under the driver's per-call locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_optable.h"

struct COLATTR;
struct COLDESC;
struct DATASET;

// ---- State the library hangs on agent records ------------------------------------------------

// An owned opaque pointer on an agent statement or connection. The record frees it with
// release when it goes (the agent's free of the statement, its disconnect, or the
// connection's statements freed at disconnect); the agent never reads it. release must
// free memory only: it may not call the agent, which is freeing the record.
struct OA_LIBSTATE {
    void* state = nullptr;
    void (*release)(void* state) = nullptr;

    OA_LIBSTATE() = default;
    ~OA_LIBSTATE() { reset(); }
    OA_LIBSTATE(const OA_LIBSTATE&) = delete;
    OA_LIBSTATE& operator=(const OA_LIBSTATE&) = delete;
    // Frees what it holds and empties it.
    void reset() {
        if (state != nullptr && release != nullptr)
            release(state);
        state = nullptr;
        release = nullptr;
    }
};

// The slot of a live agent statement or connection, or null for an unknown handle.
// O(1): a look-up in the agent's handle table.
OA_LIBSTATE* oa_StmtLibState(uint32_t stmt);
OA_LIBSTATE* oa_ConnLibState(uint32_t conn);

// The agent connection of a live statement, the server of a live connection; 0 when the
// handle is unknown.
uint32_t oa_ConnOfStmt(uint32_t stmt);
uint32_t oa_ServerOfConn(uint32_t conn);

// ---- Statement attributes the agent keeps for the library -----------------------------------

// Bits of OA_CURSOROPTS::setFlags: the application set the value since the last
// preparation (the library clears them when it has looked).
constexpr uint16_t OA_CURSOR_TYPE_SET = 0x1;
constexpr uint16_t OA_KEYSET_SIZE_SET = 0x2;
constexpr uint16_t OA_ROWSET_SIZE_SET = 0x4;
constexpr uint16_t OA_CONCURRENCY_SET = 0x8;
// Bits of OA_CURSOROPTS::auxFlags that a new rowset size invalidates.
constexpr uint16_t OA_CURSOR_AUX_ROWSET_BITS = 0x30;

// The statement attributes that govern cursors (statement options 6 to 12), written by
// slot 1 and read by slot 0; the library reads and writes them in place.
struct OA_CURSOROPTS {
    int32_t rowsetSize = 1;
    int32_t keysetSize = 0;
    int32_t cursorType = 0;       // 0 forward-only, 1 keyset-driven, 2 dynamic, 3 static
    int32_t concurrency = 1;      // 1 read-only, 2 lock, 3 row versions, 4 values
    int32_t simulateCursor = 0;   // option 10
    int32_t retrieveData = 1;     // option 11
    int32_t useBookmarks = 0;     // option 12
    uint16_t setFlags = 0;        // OA_*_SET
    uint16_t auxFlags = 0;
    // Driver options 1050 (optimistic values compare every column, 1, or the select list,
    // 2), 1052 (mark key columns) and 1054 (add the key columns a select list lacks).
    int32_t comparedColumns = 1;
    int32_t keyColumnsInfo = 0;
    int32_t addKeyColumns = 0;
};

// The record of a live statement (its address stays while the statement lives), or null.
OA_CURSOROPTS* oa_StmtCursorOpts(uint32_t stmt);

// ---- The prepared statement ----------------------------------------------------------------

// True when the statement holds a prepared text.
bool oa_StmtPrepared(uint32_t stmt);
// The text of the last prepare as given (leading white space skipped), or null when none
// or the handle is unknown. Valid until the next prepare or the statement's free.
const char* oa_StmtText(uint32_t stmt);
// Parameter markers of the prepared text; 0 when none or unknown.
uint32_t oa_StmtParamMarkers(uint32_t stmt);
// Statement option 3 (SQL_MAX_LENGTH); 0 no limit or unknown.
int32_t oa_StmtMaxLength(uint32_t stmt);
// Where the statement keeps option 3 (its address stays while the statement lives), or
// null: the library reads it after each fetch without a second look-up.
const int32_t* oa_StmtMaxLengthRef(uint32_t stmt);

// ---- Error lists -----------------------------------------------------------------------------

// Sets (1) or clears (0) the keep flag of the statement's error list, so that the
// messages of many generated executions accumulate. 0, or 21 for an unknown handle.
int oa_StmtKeepErrors(uint32_t stmt, int32_t keep);
// Appends every record of source's list to target's, in order, and leaves source empty.
// Each handle is a statement, connection or server. 0, or 21 when either is unknown.
int oa_ErrMove(uint32_t target, uint32_t source);
// Empties the list of a statement or connection. 0, or 21.
int oa_ErrClearOf(uint32_t handle);
// Removes the last record of the handle's list when its SQLSTATE is "01S01". 0, or 21.
int oa_ErrDropRowWarning(uint32_t handle);
// Posts a message of the library's own (native code 0) on a statement or connection, so
// that the ODBC side reads it with the agent's: a failure the agent never saw (a cache
// file that could not be made) then says what happened. 0, or 21.
int oa_ErrPostOn(uint32_t handle, const char* message, const char* sqlstate);

// ---- The positioned operation the agent keeps for its data at execution ---------------------

// What the library keeps of its positioned operation (SQLSetPos) on the agent statement,
// for the agent's data at execution. The row dataset stays the library's.
struct OA_SETPOS {
    int32_t row = 0;
    uint16_t operation = 0;   // SQL_POSITION 0, SQL_REFRESH 1, SQL_UPDATE 2, SQL_DELETE 3, SQL_ADD 4
    DATASET* rows = nullptr;
};

// The record of a live statement, or null.
OA_SETPOS* oa_StmtSetPos(uint32_t stmt);
// Ends any exchange of data at execution on the statement (state 0). 0, or 21.
int oa_StmtDaeReset(uint32_t stmt);
// After the library kept its operation in the statement's OA_SETPOS: frees the previous
// row pieces; for SQL_UPDATE and SQL_ADD on a row dataset with a pending cell starts the
// exchange and answers 102; else 0. 21 for an unknown handle, 16 on no memory.
int OA_SetPosDataAtExec(uint32_t stmt);

// ---- Back-calls of the agent into the library --------------------------------------------------

// What the SQL analyser (the library's parameter-describe analyser) makes of a statement
// for the agent's describe refinement: SELECT statements that return no rows and whose
// result columns stand for the statement's parameter markers.
struct OA_PARAMPROBES {
    std::vector<std::string> probes;
    // One character per result column over all probes in order; '?' marks a column that
    // stands for the next parameter. Empty: there is no map, and every column stands for
    // the next parameter.
    std::string markerMap;
    // How many parameters the probes stand for; without a map they must cover them all.
    uint32_t markers = 0;
    // One entry per result column over all probes in order: the ordinal (1-based) of the
    // parameter the column describes, or 0. When given, descriptions go by ordinal and
    // the map and count are not read: a parameter no column describes keeps its own.
    std::vector<uint32_t> ordinals;
};

// Analyses sql into probes, starting each probe's select list from templ. 0, or a code
// when it cannot (the refinement then leaves the descriptions as the prepare made them).
using OA_PARAMPROBER = int (*)(const char* templ, const char* sql, OA_PARAMPROBES* out);
// Runs the positioned operation kept on the statement once its values given at execution
// are complete (slot 38): fills the row-status array and status outs; 0 or a code.
using OA_SETPOSRUN = int (*)(uint32_t stmt, uint16_t** outRowStatus, int32_t* outStatus);
// Completes the result descriptions of a statement whose select list the library
// rewrote (base names, key-column and expression attributes), before slot 51 compacts
// its attribute table: may change the descriptions and add or replace entries of attrs
// (COLATTR, one per column and attribute; texts owned by the entry). 0 or a code, which
// slot 51 answers.
using OA_FIXCOLATTRIBS = int (*)(uint32_t stmt, uint16_t colCount, COLDESC* cols, std::vector<COLATTR>* attrs);

// The library's entries the agent calls. Until the library installs its own (its hook's
// first call), stand-ins: the prober and the positioned operation answer 43 (S1C00), the
// completion changes nothing.
struct OA_LIBCALLBACKS {
    OA_PARAMPROBER paramProber;
    OA_SETPOSRUN setPosRun;
    OA_FIXCOLATTRIBS fixColAttribs;
};
// The entries in force; tests may replace members and put them back.
extern OA_LIBCALLBACKS oa_Library;
// The stand-ins, for a test that puts them back.
extern const OA_LIBCALLBACKS OA_LIBRARY_STANDINS;
