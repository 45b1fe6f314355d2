// The agent operation table: the one interface through which the ODBC side, the
// execution layer, the cursor library and the distributed-transaction layer reach the
// database agent.
//
// OA_OPTABLE has 66 slots in a fixed order. The agent's own table (OA_AgentOpTable)
// fills 42 of them; the other 24 are null and every caller tests a slot before calling
// it. The cursor library may put a copy of the table in front of the agent's, in which
// some slots lead into its own code first (SCR_HookOpTable, scrs/scr_hook.h). Each user
// reaches the table in force through an OA_OPHOLDER.
//
// Every slot takes the agent handle (server, connection or statement id of the agent's
// handle tables) first, except slot 3, which makes the server handle, and returns an
// internal code: 0, or a row of the SQLSTATE table (util/errcode.h). The detail of a
// failure waits on the handle's error list and is read through slot 2. A handle of the
// wrong kind or no longer registered gives 21 (ERR_INVALID_ARGUMENT_VALUE).
#pragma once

#include <cstdint>

#include "drv_pro9/oa_err.h"

// Records of other layers that pass through the slots; each is defined by its owner.
struct COLDESC;            // column or parameter description
struct COLATTR;            // column-attribute table entry
struct DATASET;            // column-wise row buffer
struct DS_ROWSET;          // rowset of a scrollable fetch
struct PARAM_DESC;         // application's parameter description (16 bytes)
struct NAMED_PARAM_DESC;   // PARAM_DESC with the parameter's name
struct OA_CATARGS;         // argument record of a catalog call
struct OA_BATCHSTMT;       // one statement of a statement batch
struct XID;                // X/Open transaction branch identifier

// Slot 3's argument record, built by the ODBC side's connection opener.
struct OA_SERVERREQ {
    const char* options;      // agent options text
    const char* serverType;   // server type text
};

// Slot 5's connect request, built by the ODBC side's connection opener. The agent reads
// the options text (which may carry the wide-mode prefix), the database path, the
// database options ("-H host -S service"), the read-only flag, the user, the password and
// the initial SQL. The agent may replace a null user, password or database path by an
// empty string of its own allocation (C heap); the request's owner frees those with the
// rest.
//
// The initial SQL travels with the request, never through process state, so that it runs
// on the connection of the connect that named it and on no other: the ODBC side reads the
// file before the connect and hands over its name (for the log) and contents; the agent
// runs the contents once on the new connection and answers the outcome in initSqlResult.
struct OA_CONNREQ {
    char* host;
    char* options;
    char* serverType;
    char* database;
    char* dataSource;
    char* dbOptions;
    int32_t readOnly;
    char* user;
    char* password;
    int16_t loginTimeout;
    char* extra;
    int32_t reserved;
    int32_t flag40;
    char* appName;
    const char* initSqlName;  // null when the connect names no initial SQL file
    const char* initSqlText;  // its contents, run as one statement; null: nothing to run
    int32_t initSqlResult;    // out: 0 ran or nothing to run; -1 failed, with the server's
                              // messages on the new connection's list
};

// One row of the agent's type table: an SQL type, a second value that no operation of
// the driver reads, and the SQL_CVT_* mask of the conversions the agent offers.
struct OA_CONVROW {
    int32_t sqlType;
    int32_t second;
    int32_t mask;
};

// Slot 23's request: type (in), then the table and its row count (out).
struct OA_TYPETABLEREQ {
    int32_t type;
    int32_t count;
    const OA_CONVROW* rows;
};

// The conversion table answered for type 1: nine rows and a terminating row of zeros.
constexpr int OA_CONVTABLE_ROWS = 9;
extern const OA_CONVROW OA_CONVTABLE[OA_CONVTABLE_ROWS + 1];

// The 66 slots. Each is documented by the ODBC call or the layer it serves; "cursor
// library only" marks a slot that is null in the agent's own table.
struct OA_OPTABLE {
    // 0 SQLGetInfo, attributes and capabilities: read a property into buf.
    int (*DRV_GetProperty)(uint32_t handle, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen);
    // 1 connection and statement attributes: set a property from *value.
    int (*DRV_SetProperty)(uint32_t handle, uint32_t code, const void* value);
    // 2 diagnostics: take the handle's queued messages.
    int (*DRV_GetErrors)(uint32_t handle, OA_ERRTEXTS* result);
    // 3 SQLConnect: open (or share) the server handle.
    int (*DRV_OpenServer)(const OA_SERVERREQ* req, uint32_t* outServer);
    // 4 SQLDisconnect: release the server handle.
    int (*DRV_CloseServer)(uint32_t server);
    // 5 SQLConnect: open an agent connection.
    int (*DRV_Connect)(uint32_t server, OA_CONNREQ* req, uint32_t* outConn);
    // 6 SQLDisconnect: close an agent connection.
    int (*DRV_Disconnect)(uint32_t conn);
    // 7 SQLAllocHandle (statement).
    int (*DRV_AllocStmt)(uint32_t conn, uint32_t* outStmt);
    // 8 SQLFreeHandle (statement).
    int (*DRV_FreeStmt)(uint32_t stmt);
    // 9 SQLGetCursorName.
    int (*DRV_GetCursorName)(uint32_t stmt, char* buf, int32_t bufLen, int32_t* outLen);
    // 10 SQLSetCursorName.
    int (*DRV_SetCursorName)(uint32_t stmt, const char* name);
    // 11 SQLPrepare.
    int (*DRV_Prepare)(uint32_t stmt, const char* text);
    // 12 SQLExecute: hand over the parameter values; the statement owns them from now on.
    int (*DRV_SetParamValues)(uint32_t stmt, DATASET* values);
    // 13 SQLExecute.
    int (*DRV_Execute)(uint32_t stmt);
    // 14 no caller: 43 for a valid statement.
    int (*DRV_StmtNotCapable)(uint32_t stmt);
    // 15 SQLDescribeCol, SQLNumResultCols: copies of the result-column descriptions.
    int (*DRV_DescribeCols)(uint32_t stmt, uint16_t* outCount, COLDESC** outDescs);
    // 16 SQLDescribeParam: copies of the parameter descriptions.
    int (*DRV_DescribeParams)(uint32_t stmt, uint16_t* outCount, COLDESC** outDescs);
    // 17 SQLNativeSql.
    int (*DRV_NativeSql)(uint32_t conn, const char* text, char* buf, int32_t bufLen, int32_t* outLen);
    // 18 SQLBindParameter: the application's parameter descriptions.
    int (*DRV_SetParamDescs)(uint32_t stmt, uint16_t count, const PARAM_DESC* descs);
    // 19 SQLFetch: up to rows rows into block; 0 rows sets up the block's columns only.
    int (*DRV_Fetch)(uint32_t stmt, uint16_t rows, DATASET* block);
    // 20 SQLCloseCursor, SQLFreeStmt(SQL_CLOSE).
    int (*DRV_CloseCursor)(uint32_t stmt);
    // 21 SQLEndTran (commit).
    int (*DRV_Commit)(uint32_t conn);
    // 22 SQLEndTran (rollback).
    int (*DRV_Rollback)(uint32_t conn);
    // 23 SQLGetInfo conversions: the agent's type table.
    int (*GetOpTable)(uint32_t handle, OA_TYPETABLEREQ* req);
    // 24 SQLMoreResults.
    int (*DRV_MoreResults)(uint32_t stmt);
    // 25-34 catalog calls; the statement then holds the result set.
    int (*DRV_DDColumnPrivileges)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDColumns)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDForeignKeys)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDPrimaryKeys)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDProcedureColumns)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDProcedures)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDSpecialColumns)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDStatistics)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDTablePrivileges)(uint32_t stmt, const OA_CATARGS* args);
    int (*DRV_DDTables)(uint32_t stmt, const OA_CATARGS* args);
    // 35 SQLGetTypeInfo.
    int (*DRV_GetTypeInfo)(uint32_t stmt, int16_t sqlType);
    // 36 SQLFetch on a scrollable cursor (cursor library only).
    int (*DRV_ScrollFetch)(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched,
                           int32_t* outRowCount);
    // 37 SQLSetPos (cursor library only).
    int (*DRV_SetPos)(uint32_t stmt, int32_t row, uint16_t operation, uint16_t lockType, uint16_t** outRowStatus,
                      int32_t* outRowCount, DATASET* rowImage, const uint16_t* columns, uint16_t columnCount);
    // 38 SQLParamData: names the next data-at-execution value, or runs the statement.
    int (*DRV_ParamData)(uint32_t stmt, int32_t* outParam, int32_t* outRow, uint16_t** outRowStatus,
                         int32_t* outStatus);
    // 39 SQLPutData: one piece of the current value.
    int (*DRV_PutData)(uint32_t stmt, int16_t cType, int16_t indicator, const void* data, uint32_t length);
    // 40 SQLGetData of long values in pieces.
    int (*DRV_GetData)(uint32_t stmt, uint16_t column, uint16_t row, uint32_t maxPiece, void** outValue,
                       int32_t* outRemaining, int32_t* outType, int32_t* outTotal);
    // 41 SQLExtendedFetch, SQLFetchScroll (cursor library only).
    int (*DRV_ExtendedFetch)(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched,
                             int32_t* outRowCount, int16_t orientation);
    // 42 SQLBulkOperations by bookmark (cursor library only).
    int (*DRV_BulkOperations)(uint32_t stmt, uint16_t operation, const int32_t* bookmarks, uint32_t rowCount,
                              DATASET* rowImage, const uint16_t* columns, uint16_t columnCount,
                              uint16_t** outRowStatus, uint32_t* outCount, DS_ROWSET** outRowset);
    // 43 SQLExecDirect: prepare (text given), parameter values, descriptions, execute.
    int (*DRV_PrepareAndExecute)(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                                 const PARAM_DESC* descs);
    // 44 execute with result description (cursor library only).
    int (*DRV_ExecuteDescribe)(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                               const PARAM_DESC* descs, uint32_t* rowsetSize, uint16_t* outColCount,
                               COLDESC** outCols, uint16_t* outParamCount, COLDESC** outParams,
                               int32_t* outRowCount);
    // 45 allocate a statement with cursor type and concurrency and prepare it (cursor
    // library only).
    int (*DRV_AllocPrepare)(uint32_t conn, const char* text, int32_t concurrency, int32_t cursorType,
                            uint32_t* outStmt);
    // 46 result-column types and buffer lengths (cursor library only).
    int (*DRV_GetRowLayout)(uint32_t stmt, uint16_t* outColCount, COLDESC** outCols, DATASET* rowBuffer);
    // 47 rowset fetch into the caller's row buffer (cursor library only).
    int (*DRV_FetchInto)(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched,
                         int32_t* outRowCount, int16_t orientation);
    // 48 long values of the fetched rowset in pieces (cursor library only).
    int (*DRV_GetRowData)(uint32_t stmt, uint16_t column, uint16_t row, uint32_t maxPiece, void** outValue,
                          int32_t* outRemaining, int32_t* outType, int32_t* outTotal);
    // 49 a batch of statements, one row count each (cursor library only).
    int (*DRV_ExecuteBatch)(uint32_t stmt, uint16_t count, const OA_BATCHSTMT* stmts, uint16_t* outDone,
                            int32_t** outRowCounts);
    // 50 unused in every table.
    int (*unused50)(uint32_t handle);
    // 51 SQLColAttribute: descriptions, key columns and the column-attribute table.
    int (*DRV_DescribeColsEx)(uint32_t stmt, uint16_t* outColCount, uint16_t* outAttrCount, COLDESC** outCols,
                              COLATTR** outAttrs);
    // 52 as slot 44 with the extended description (cursor library only).
    int (*DRV_ExecuteDescribeEx)(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                                 const PARAM_DESC* descs, uint32_t* rowsetSize, uint16_t* outColCount,
                                 COLDESC** outCols, uint16_t* outParamCount, COLDESC** outParams,
                                 int32_t* outRowCount, uint16_t* outAttrCount, COLATTR** outAttrs);
    // 53 SQLCancel.
    int (*DRV_Cancel)(uint32_t stmt);
    // 54 SQLExecDirect with named parameter descriptions (cursor library only).
    int (*DRV_PrepareAndExecuteEx)(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                                   const NAMED_PARAM_DESC* descs);
    // 55-64 X/Open XA operations on an agent connection; results are XA return codes.
    // Empty in every table of this driver.
    int (*DRV_XaClose)(uint32_t conn, const char* xaInfo, int32_t rmid, int32_t flags);
    int (*DRV_XaCommit)(uint32_t conn, XID* xid, int32_t rmid, int32_t flags);
    int (*DRV_XaComplete)(uint32_t conn, int32_t* handle, int32_t* result, int32_t rmid, int32_t flags);
    int (*DRV_XaEnd)(uint32_t conn, XID* xid, int32_t rmid, int32_t flags);
    int (*DRV_XaForget)(uint32_t conn, XID* xid, int32_t rmid, int32_t flags);
    int (*DRV_XaOpen)(uint32_t conn, int32_t one, const char* xaInfo, int32_t rmid, int32_t flags);
    int (*DRV_XaPrepare)(uint32_t conn, XID* xid, int32_t rmid, int32_t flags);
    int (*DRV_XaRecover)(uint32_t conn, XID* xids, int32_t count, int32_t rmid, int32_t flags);
    int (*DRV_XaRollback)(uint32_t conn, XID* xid, int32_t rmid, int32_t flags);
    int (*DRV_XaStart)(uint32_t conn, XID* xid, int32_t rmid, int32_t flags);
    // 65 keep the parameter descriptions (cursor library only).
    int (*DRV_StoreParamDescs)(uint32_t stmt, uint16_t count, const PARAM_DESC* descs);
};

constexpr int OA_OPTABLE_SLOTS = 66;
static_assert(sizeof(OA_OPTABLE) == OA_OPTABLE_SLOTS * sizeof(void*), "OA_OPTABLE has 66 slots");

// The agent's own table.
extern const OA_OPTABLE OA_AgentOpTable;

// Bits of the holder's state word, the one place where they are defined.
// Set: the driver frees the datasets and column lists it handed to the agent once the
// call returns; clear: the agent keeps and frees them.
constexpr int32_t OA_HOLDER_DRIVER_FREES_DATA = 0x1;
// Set: the dispatcher skips the global database lock (read once per process).
constexpr int32_t OA_HOLDER_SKIP_DB_LOCK = 0x2;

// The binding of one user of the table: one in each ODBC connection and one for the
// process.
struct OA_OPHOLDER {
    int32_t state = 0;                  // OA_HOLDER_* bits; 0 when bound
    const OA_OPTABLE* ops = nullptr;    // the table in force
};

// What the cursor library installs through: given a holder bound to the agent's table,
// may point it at another table. Returns the holder.
using OA_OPTABLE_HOOK = OA_OPHOLDER* (*)(OA_OPHOLDER* holder);

// Binds the holder to the agent's table with state 0, then hands it to the cursor
// library's hook (SCR_HookOpTable). Returns 0.
int OA_BindOpTable(OA_OPHOLDER* holder);
// As OA_BindOpTable with the given hook in place of the cursor library's (none when
// null): the seam through which the interposition is exercised.
int OA_BindOpTableWith(OA_OPHOLDER* holder, OA_OPTABLE_HOOK hook);

// Slot 23. The handle may be the server or an agent connection on it. Unknown handle or
// null request: 21. Type 1: rows = OA_CONVTABLE, count = 9, 0. Any other type: 43, and
// the request is left as it was. The table is static: nobody copies or frees it.
int GetOpTable(uint32_t handle, OA_TYPETABLEREQ* req);
