// Agent statements on the server: the ESQL cursor of a statement (DB_CURSOR) and the
// operations that prepare, execute, fetch, close and move to the next result.
//
// Every agent statement owns one DB_CURSOR, made with the statement (OA_AllocStmt) and
// freed with it (OA_FreeStmt). The ESQL cursor itself is set up at prepare (a new 16-byte
// identity, the text, the statement's cursor name, the client's prepare) and described
// (result columns into the output SQLDA, parameters into the input SQLDA). After an end
// of transaction the connection marks its statements (STMT_CURSOR_RESET); the cursor is
// then set up again with the same identity before its next declare or execute, and a
// close in between leaves it to that set-up.
//
// Rows leave the agent as datasets. The binding of dataset columns to the SQLDA areas and
// the conversion of values are the binding layer's (db_bind.h); this module decides when
// they run: the current parameter set is bound before every declare, open and execute.
//
// Transactions: a statement other than SELECT begins one and, in autocommit, commits it
// right after. A SELECT begins one when the connection's select-opens-transaction flag is
// set; in autocommit its transaction is committed when the statement is done with it: at
// the end of the data, at a failed fetch, at the maximum row count, and at a close before
// the end (STMT_COMMIT_OWED marks that the commit is still owed).
//
// All operations assume the caller's serialisation (the ODBC side's database lock).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "drv_pro9/db_bind.h"
#include "drv_pro9/oa_optable.h"
#include "platform/esql92/esql92.h"
#include "util/dataset.h"

struct DB_CONN;
struct OA_COLATTRREQ;
struct OA_CONN;
struct OA_STMT;

// Kinds of PARAM_DESC::paramType.
constexpr int16_t OA_PARAM_INPUT = 1;
constexpr int16_t OA_PARAM_INPUT_OUTPUT = 2;
constexpr int16_t OA_PARAM_OUTPUT = 4;

// Owned records of an agent statement; each frees what it holds when it goes.

struct OaCFree {
    void operator()(void* p) const { std::free(p); }
};

// An array of descriptions and its count.
struct OA_DESCARRAY {
    COLDESC* items = nullptr;
    uint16_t count = 0;

    OA_DESCARRAY() = default;
    ~OA_DESCARRAY() { reset(); }
    OA_DESCARRAY(const OA_DESCARRAY&) = delete;
    OA_DESCARRAY& operator=(const OA_DESCARRAY&) = delete;
    // Description n from 1, or null.
    COLDESC* at(uint16_t n) const { return n >= 1 && n <= count ? &items[n - 1] : nullptr; }
    // n zeroed descriptions in place of the old ones; 16 leaves none.
    int alloc(uint16_t n);
    void reset();
};

// The column-attribute requests of a described result.
struct OA_COLATTRS {
    OA_COLATTRREQ* reqs = nullptr;
    uint32_t count = 0;

    OA_COLATTRS() = default;
    ~OA_COLATTRS() { reset(); }
    OA_COLATTRS(const OA_COLATTRS&) = delete;
    OA_COLATTRS& operator=(const OA_COLATTRS&) = delete;
    void reset();
};

// The ESQL cursor of one agent statement.
struct DB_CURSOR {
    DB_CONN* db = nullptr;
    OA_STMT* stmt = nullptr;                       // owner
    ESQL_CURHDL handle = nullptr;                  // from tpe_set_cursor; null before
    unsigned char identity[ESQL_IDENTITY_SIZE] = {};
    int16_t stmtType = 0;                          // statement type at set-up
    // The SQLDA areas (input: parameters, output: result columns) and what is bound to
    // them; the client reads and writes these buffers until they are bound again.
    DB_SQLDABIND bind;
    uint16_t colCount = 0;                         // described result columns
    uint32_t paramCount = 0;                       // described parameters
    DatasetPtr outParams;                          // output parameter values
};

// Called with the statement's cursor and each dataset that a fetch filled.
using OA_ROWCALLBACK = void (*)(DB_CURSOR* cursor, DATASET* rows);

// A new cursor record for the statement on the connection; nothing reaches the server
// until the statement is prepared. 0, or 16 when memory runs out.
int DB_CursorNew(DB_CONN* db, OA_STMT* stmt, DB_CURSOR** out);
// Frees the record with its SQLDA areas and binding buffers; null is ignored. The server's
// cursor is not closed here (reset the statement first); the client releases it with its
// connection.
void DB_CursorFree(DB_CURSOR* cursor);

// Resets the statement (start of every prepare, and before it is freed): closes its
// cursor (settling the transaction of a SELECT or call that still owes its commit),
// clears the prepared, executed, no-more-rows and cursor-open flags and the counters,
// frees the SQLDA areas, the binding buffers, the result and parameter descriptions, the
// column-attribute table and a kept result, ends a data-at-execution exchange with its
// pieces, and empties the analysed text.
void oa_StmtReset(OA_STMT* stmt);
// Frees what the statement holds beyond the reset: the parameter values and descriptions
// and its cursor record. For the statement's free operation, after oa_StmtReset.
void oa_StmtFreeContents(OA_STMT* stmt);

// Closes the statement's ESQL cursor: makes the connection current and calls tpe_sqlclose
// when the cursor is not marked for set-up again and the statement is a SELECT or has been
// executed. Clears the cursor-open and executed flags; a SELECT or call that still owes its
// autocommit commit gets it now. 0, or the code of the close or else of the commit, with
// the messages on the statement.
int db_CursorClose(OA_STMT* stmt);

// Sets the cursor up for the statement's translated text under a new identity: creates
// it, names it with the statement's cursor name and has the server prepare it. 0, 68 when
// the server refuses the text, else 15; the client's messages go to the statement.
int db_CursorSetUp(OA_STMT* stmt);
// Describe the result columns into the output SQLDA and the statement's result
// descriptions, or the parameters into the input SQLDA and its parameter descriptions
// (preset as "*I"; with named set, each is then named "*I" or "*U" by its direction).
// 0, 15 or 16.
int db_DescribeOutput(OA_STMT* stmt);
int db_DescribeInput(OA_STMT* stmt, bool named);

// How db_CursorRun binds the parameters.
enum class DbParams {
    None,       // the statement has none, or they are bound already
    Current,    // the current parameter set: all rows, or the one row asked for
};
// Runs the prepared cursor: sets it up again first when it is marked (after an end of
// transaction), binds the parameters as asked, then declares and opens a SELECT or
// executes any other statement (the SQLCA's row count becoming the statement's). For a
// SELECT, paramRow is the parameter set to open with. Takes no transaction step.
// 0, 15, 48 for parameter values that do not cover the markers, or the binding's code.
int db_CursorRun(OA_STMT* stmt, DbParams params, int32_t paramRow);
// Binds the current parameter values to the input SQLDA as input parameters: for a
// SELECT (or a statement in single-row parameter mode) the one row, else every row.
int db_BindInputParams(OA_STMT* stmt, int32_t paramRow);

// The transaction steps of a statement run. db_TxnBegin begins a transaction (for a
// SELECT only when the connection's select-opens-transaction flag is set, and then, in
// autocommit, the SELECT owes its commit). db_TxnEndStatement commits in autocommit after
// a statement other than SELECT; db_CommitOwed pays the commit that a SELECT (or a call
// with pending output) owes. Both answer 0, or the failed commit's code with the server's
// messages moved to the statement (after those of the step, when runRc says it failed).
// Nothing on a read-only connection.
int db_TxnBegin(OA_STMT* stmt);
int db_TxnEndStatement(OA_STMT* stmt, int runRc);
int db_CommitOwed(OA_STMT* stmt, int runRc);

// Slot 11: resets the statement, analyses the text (with escape translation unless the
// no-scan flag is set), refuses a statement other than SELECT on a read-only connection
// (95), sets the cursor up and describes it. 21 for an unknown handle or a null text.
int OA_Prepare(uint32_t stmt, const char* text);
// Slot 12: the statement takes the dataset (may be null) and frees the previous one; the
// dataset it holds, handed again (refilled in place by the driver), stays its own.
int OA_SetParamValues(uint32_t stmt, DATASET* values);
// Slot 13: runs the prepared statement with its parameter values. 22 without a prepare,
// 48 for markers without values; 102 when values wait for data at execution (oa_dae.h):
// the statement then runs at the OA_ParamData after the last of them.
int OA_Execute(uint32_t stmt);
// The run of a prepared statement once its parameter values are complete: the procedure
// call, or the check that markers have values, the transaction steps and the run. For
// OA_Execute and the deferred execute of data at execution (OA_ParamData).
int oa_ExecuteCore(OA_STMT* stmt);
// Slot 18: keeps a copy of count descriptions (none for 0).
int OA_SetParamDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs);
// Slot 19: up to rows rows into block (which the statement sets up from its result
// descriptions); 0 rows describes the columns without rows. 22 before execute or without
// an open cursor. The end of the data leaves block with the rows that were left (maybe
// none) and sets STMT_NO_MORE_ROWS. The fetch that ends a SELECT pays its owed commit;
// when the server refuses it (or the fetch fails) block is freed and the code returned.
// A statement that serves the type catalog gets its rows instead (oa_typeinfo.h).
int OA_Fetch(uint32_t stmt, uint16_t rows, DATASET* block);
// Slot 20: closes the cursor; 0 whatever the close gave, but the code of a refused commit
// that the statement owed (its messages on the statement).
int OA_CloseCursor(uint32_t stmt);
// Slot 24: opens the SELECT for its next parameter set (0), or 73 when there is none.
int OA_MoreResults(uint32_t stmt);
// Slot 43: prepare (text given), parameter values (dataset given), descriptions (count not
// 0), execute; the first failing step's code.
int OA_PrepareAndExecute(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                         const PARAM_DESC* descs);
