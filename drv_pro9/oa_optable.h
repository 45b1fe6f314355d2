// The agent operation table: the one interface through which the ODBC side, the
// execution layer, the cursor library and the distributed-transaction layer reach the
// database agent.
//
// OA_OPTABLE has 66 slots in a fixed order. The agent's own table (OA_AgentOpTable)
// fills 42 of them; the other 24 are null and every caller tests a slot before calling
// it. The cursor library may put a copy of the table in front of the agent's, in which
// some slots lead into its own code first: the ODBC side binds a holder to the agent's
// table (OA_BindOpTable) and then hands it to the cursor library's hook
// (SCR_HookOpTable, scrs/scr_hook.h), so that the library sits between the two. Each user
// reaches the table in force through an OA_OPHOLDER.
//
// Every slot takes the agent handle (server, connection or statement id of the agent's
// handle tables) first, except slot 3, which makes the server handle, and returns an
// internal code: 0, or a row of the SQLSTATE table (util/errcode.h). The detail of a
// failure waits on the handle's error list and is read through slot 2. A handle of the
// wrong kind or no longer registered gives 21 (ERR_INVALID_ARGUMENT_VALUE).
//
// This header is the whole interface: the records that pass through the slots, the
// property codes of slots 0 and 1 and the wide-mode prefix are defined here once, for
// the agent and its callers alike. The ODBC side reaches the agent through the table
// alone, so that a table put in front of the agent's (the cursor library's, or a test's
// scripted one) sees every call.
#pragma once

#include <cstdint>

// Records of other layers that pass through the slots; each is defined by its owner.
struct COLDESC;            // column or parameter description
struct COLATTR;            // column-attribute table entry
struct DATASET;            // column-wise row buffer
struct DS_ROWSET;          // rowset of a scrollable fetch
struct XID;                // X/Open transaction branch identifier

// The application's description of one parameter (SQLBindParameter), as the agent keeps
// it (slots 18, 43 and 65) and the cursor library copies it.
struct PARAM_DESC {
    int16_t sqlType;
    int16_t cType;
    int32_t columnSize;   // low 32 bits
    int16_t scale;
    int16_t reserved[2];
    int16_t paramType;    // 1 SQL_PARAM_INPUT, 2 SQL_PARAM_INPUT_OUTPUT, 4 SQL_PARAM_OUTPUT
};
static_assert(sizeof(PARAM_DESC) == 16, "parameter descriptions are 16 bytes");

// A parameter description with the parameter's name (slot 54); the name is the caller's.
struct NAMED_PARAM_DESC {
    PARAM_DESC desc;
    const char* name;
};

// One statement of a statement batch (slot 49): its text (null for the first: the
// statement's prepared text), its parameter descriptions and values (the values pass to
// the agent as slot 12 takes them).
struct OA_BATCHSTMT {
    const char* text;
    uint16_t descCount;
    const PARAM_DESC* descs;
    DATASET* values;
};

// The argument record of the catalog slots 25-34: the names in the ODBC order of the call
// (catalog, schema, table or procedure, column; for ForeignKeys the primary-key table's
// three, then the foreign-key table's three), a null or empty name being absent; then the
// options of SpecialColumns (identifier type, scope, nullable) and of Statistics (unique,
// accuracy). Tables' fourth name is the table-type list as 'A','B' (or "%").
struct OA_CATARGS {
    const char* names[6];
    uint16_t options[3];
};

// What slot 2 hands over. The slot that fills the record also fills release, with which
// the caller gives the texts back once it has read them: the texts are released by the
// code that made them, whichever table answered. The arrays and texts belong to that code.
struct OA_ERRTEXTS {
    int32_t native;     // native code of the first record
    int32_t count;      // number of texts
    char** texts;       // count texts "[Progress Server]<message>[SQLSTATE:<state>]"
    int32_t* natives;   // count native codes, one per text, in the same order
    // Frees texts and natives and empties the record; set by every slot 2 that answers 0.
    // Null: there is nothing to give back.
    void (*release)(OA_ERRTEXTS* texts);
};

// The bytes in front of the connect request's options text that ask for a wide
// connection.
inline constexpr char OA_WIDE_PREFIX[4] = {'W', 0x7F, 0x01, 0x01};

// The connection settings of a connect, from the connect string and the data source's
// configuration; the agent copies them into the new connection, so that each connection
// keeps the values of its own connect.
struct OA_CONNSETTINGS {
    int32_t dynCursSensitivity;  // 0 low, 1 high, 2 disabled
    int32_t jet;                 // JET mode
    int32_t noAutoCommit;
    int32_t maxRows;             // 0: no limit
    int32_t noRowsetSizeLimit;
    int32_t showRemarks;
    const char* sqlDbmsName;     // the DBMS name to answer; null: the agent's own
    uint32_t defaultIsolation;   // ODBC value 1, 2, 4 or 8; 0 when not configured
};

// ---------------------------------------------------------------------------------------
// Property codes of slots 0 and 1.
//
// A property is named by a 32-bit code:
//   bits 28-31 level: 1 server, 2 connection, 3 statement (the handle must be of it);
//   bits 24-27 value kind: 1 text, 2 32-bit integer;
//   bits 16-23 group: 0x01 flags and capabilities, 0x03 options (item = ODBC connection or
//              statement attribute), 0x04 information (item = ODBC information type);
//   bits 0-15  item.
constexpr uint32_t OA_PROP_LEVEL_SERVER = 1;
constexpr uint32_t OA_PROP_LEVEL_CONN = 2;
constexpr uint32_t OA_PROP_LEVEL_STMT = 3;
constexpr uint32_t OA_PROP_KIND_TEXT = 1;
constexpr uint32_t OA_PROP_KIND_INT = 2;
constexpr uint32_t OA_PROP_GROUP_FLAGS = 0x01;
constexpr uint32_t OA_PROP_GROUP_OPTION = 0x03;
constexpr uint32_t OA_PROP_GROUP_INFO = 0x04;

constexpr uint32_t oa_PropLevel(uint32_t code) { return code >> 28; }
constexpr uint32_t oa_PropKind(uint32_t code) { return (code >> 24) & 0xF; }
constexpr uint32_t oa_PropGroup(uint32_t code) { return (code >> 16) & 0xFF; }
constexpr uint32_t oa_PropItem(uint32_t code) { return code & 0xFFFF; }
constexpr uint32_t oa_PropCode(uint32_t level, uint32_t kind, uint32_t group, uint32_t item) {
    return level << 28 | kind << 24 | group << 16 | item;
}
// The code that asks for an information type as an integer or as a text.
constexpr uint32_t oa_InfoIntCode(uint32_t infoType) {
    return oa_PropCode(OA_PROP_LEVEL_CONN, OA_PROP_KIND_INT, OA_PROP_GROUP_INFO, infoType);
}
constexpr uint32_t oa_InfoTextCode(uint32_t infoType) {
    return oa_PropCode(OA_PROP_LEVEL_CONN, OA_PROP_KIND_TEXT, OA_PROP_GROUP_INFO, infoType);
}

// Codes with a meaning of their own.
constexpr uint32_t OA_PROP_SERVER_TYPE = 0x11010000;        // server: "progress11"
// What the connection can do, one flag each; the ODBC side asks them one by one when the
// agent cannot answer the capability mask.
constexpr uint32_t OA_PROP_NEEDBIND = 0x22010002;
constexpr uint32_t OA_PROP_HAS_MORE_RESULTS = 0x22010003;
constexpr uint32_t OA_PROP_HAS_PARAM_OP = 0x22010004;
constexpr uint32_t OA_PROP_SP_OUT_DEFER_FETCH = 0x22010005;
constexpr uint32_t OA_PROP_HAS_SCROLL_CURSORS = 0x22010006;
constexpr uint32_t OA_PROP_DYN_MIX_CURSORS = 0x22010008;    // also marks the cursor library
constexpr uint32_t OA_PROP_HAS_V2_DAE = 0x2201000A;
constexpr uint32_t OA_PROP_DYNAMIC_SENSITIVE = 0x2201000B;
constexpr uint32_t OA_PROP_ODBC_VERSION = 0x2201000C;       // set: 2 or 3
constexpr uint32_t OA_PROP_HAS_EXECUTE2 = 0x2201000E;
constexpr uint32_t OA_PROP_AGENT_0F = 0x2201000F;           // set to 1 at connect when asked
// The capability mask (OA_CAP_* bits); asking also marks the cursor library.
constexpr uint32_t OA_PROP_CAPABILITIES = 0x22010011;
constexpr uint32_t OA_PROP_WIDE = 0x22010013;               // the connection was opened wide
constexpr uint32_t OA_PROP_AGENT_16 = 0x22010016;           // set to 1 at connect when asked
constexpr uint32_t OA_PROP_AUTOCOMMIT = 0x22030000;
constexpr uint32_t OA_PROP_ACCESS_MODE = 0x22030001;
constexpr uint32_t OA_PROP_TXN_ISOLATION = 0x2203006C;
constexpr uint32_t OA_PROP_CURRENT_CATALOG = 0x2103006D;
constexpr uint32_t OA_PROP_ROW_COUNT = 0x32010000;        // rows the last execution touched; -1 unknown
constexpr uint32_t OA_PROP_STATEMENT_KIND = 0x32010001;   // the prepared text: OA_STMT_KIND_*
constexpr uint32_t OA_PROP_MAX_ROWS = 0x32030001;
constexpr uint32_t OA_PROP_NOSCAN = 0x32030002;
constexpr uint32_t OA_PROP_MAX_LENGTH = 0x32030003;
constexpr uint32_t OA_PROP_CURSOR_TYPE = 0x32030006;
constexpr uint32_t OA_PROP_CONCURRENCY = 0x32030007;
constexpr uint32_t OA_PROP_KEYSET_SIZE = 0x32030008;
constexpr uint32_t OA_PROP_ROWSET_SIZE = 0x32030009;
constexpr uint32_t OA_PROP_DESCRIBE_PARAMS = 0x3203000F;
// Driver statement options 1050 (optimistic values compare every column, 1, or the select
// list, 2), 1052 (describe which result columns are key columns) and 1054 (add the key
// columns a select list lacks), kept by the agent statement for the cursor library.
constexpr uint32_t OA_PROP_COMPARED_COLUMNS = 0x3203041A;
constexpr uint32_t OA_PROP_KEY_COLUMNS_INFO = 0x3203041C;
constexpr uint32_t OA_PROP_ADD_KEY_COLUMNS = 0x3203041E;
// Set (1) before an execution that is one slice of a parameter array with more slices to
// come: in autocommit the statement's commit waits for the last slice, so that the array
// is one transaction as when it is sent whole, and the next execution's row count goes on
// from this one's. Holds for the next execution only.
constexpr uint32_t OA_PROP_SLICE_FOLLOWS = 0x32030010;
// Set before an execution that is one slice of a parameter array: the sets of the array
// before the slice and the sets of the whole array, so that the server names a failing
// set by its place in the array. Hold for the next execution only.
constexpr uint32_t OA_PROP_SLICE_SETS_BEFORE = 0x32030011;
constexpr uint32_t OA_PROP_SLICE_SETS_TOTAL = 0x32030012;
// Answers of OA_PROP_STATEMENT_KIND.
constexpr int32_t OA_STMT_KIND_SELECT = 1;
constexpr int32_t OA_STMT_KIND_DML = 2;     // INSERT, DELETE or UPDATE
constexpr int32_t OA_STMT_KIND_OTHER = 3;

// Bits of the capability mask (OA_PROP_CAPABILITIES).
constexpr uint32_t OA_CAP_NEEDBIND = 0x1;
constexpr uint32_t OA_CAP_HAS_MORE_RESULTS = 0x2;
constexpr uint32_t OA_CAP_HAS_PARAM_OP = 0x4;
constexpr uint32_t OA_CAP_HAS_SCROLL_CURSORS = 0x8;
constexpr uint32_t OA_CAP_HAS_DYN_MIX_CURSORS = 0x10;
constexpr uint32_t OA_CAP_HAS_V2_DAE = 0x20;
constexpr uint32_t OA_CAP_SP_OUT_DEFER_FETCH = 0x40;
constexpr uint32_t OA_CAP_HAS_EXECUTE2 = 0x80;
constexpr uint32_t OA_CAP_AUTOCOMMIT = 0x100;         // set while autocommit is on
constexpr uint32_t OA_CAP_AGENT_CONVERSIONS = 0x200;  // SQLGetInfo conversions from the agent
constexpr uint32_t OA_CAP_AGENT_FIRST = 0x400;        // 0x400 to 0x4000: five further agent flags
constexpr int OA_CAP_AGENT_COUNT = 5;

// Slot 3's argument record, built by the ODBC side's connection opener.
struct OA_SERVERREQ {
    const char* options;      // agent options text
    const char* serverType;   // server type text
};

// Slot 5's connect request, built by the ODBC side's connection opener. The agent reads
// the options text (which may carry OA_WIDE_PREFIX), the database path, the database
// options ("-H host -S service"), the read-only flag, the user, the password, the
// connection settings, the facts of the library the request comes from and the initial
// SQL. It copies what it keeps: nothing of the request's belongs to the connection once
// slot 5 returns. The agent may replace a null user, password or database path by an empty
// string of its own allocation (C heap); the request's owner frees those with the rest.
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
    OA_CONNSETTINGS settings;
    // The library the connect comes through: the agent answers from these, never from the
    // library's own resources.
    const char* driverFile;   // its file name, answered for SQL_DRIVER_NAME; null: ""
    int32_t unicodeLibrary;   // 1: the Unicode library, whose wide connections carry the
                              // wide SQL types
    int32_t narrowLatin1;     // 1: the application's narrow text is ISO-8859-1, else UTF-8
                              // (in the ANSI library, the connect's texts too)
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

// What the cursor library installs through (SCR_HookOpTable, scrs/scr_hook.h): given a
// holder bound to the agent's table, may point it at another table. Returns the holder.
// The ODBC side hands each holder it binds to the hook; the agent knows nothing of it.
using OA_OPTABLE_HOOK = OA_OPHOLDER* (*)(OA_OPHOLDER* holder);

// Binds the holder to the agent's own table with state 0. Returns 0.
int OA_BindOpTable(OA_OPHOLDER* holder);

// Slot 23. The handle may be the server or an agent connection on it. Unknown handle or
// null request: 21. Type 1: rows = OA_CONVTABLE, count = 9, 0. Any other type: 43, and
// the request is left as it was. The table is static: nobody copies or frees it.
int GetOpTable(uint32_t handle, OA_TYPETABLEREQ* req);
