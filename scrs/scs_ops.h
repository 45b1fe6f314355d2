// The cursor library's overrides of the agent operation table: the operations the hook
// writes into the library table (SCR_HookOpTable), each called as the agent's operation
// of the same slot would be, doing the library's work before and after and reaching the
// agent through the working record's holder (the agent's own table) only.
//
// Every override takes the agent handle first and returns an internal code (a row of
// util/errcode.h), 0 for success; the agent's codes come back unchanged. A statement the
// library did not allocate (it has no working record) gets the agent's own operation, so
// an override on the forward-only path costs one look-up and the agent's call. A failure
// of the library's own work first moves the messages of its auxiliary statements onto the
// statement (scs_CollectAuxErrors).
//
// Forward-only cursors run as on the agent. Every other request is decided at prepare
// (scrs/scs_prepare.h) and, for now, served as a static read-only cursor: its whole result
// is read into the static result set at execute (or at the first fetch of a catalog
// result) and the agent's cursor closed, and every fetch is served from that snapshot. Keyset-driven, dynamic and mixed
// cursors come later; where a cursor type has no implementation yet the answer is 43
// (S1C00). What is kept for them (parameter copies, the catalog overrides' requested
// values) serves the later cursor parts.
#pragma once

#include <cstdint>
#include <vector>

#include "drv_pro9/oa_optable.h"

struct SCS_STMT;

// ---- Statement and connection life (slots 0, 5-8, 11-13, 18-20, 36, 37, 41) ----------------

// Slot 0. The row count (0x32010000) of a scrollable query (or of a static cursor whose
// result is cached): the rows the last positioned operation touched, else the cursor's row
// count. The cursor capability string
// (0x21010010): "001.005:" and twelve digits from the capability mask (or the single
// capability properties when the mask cannot be read), the commit behaviour and two
// further properties; cut to the buffer with a NUL, 0 also when cut, the full length out.
// Everything else: the agent's.
int scs_GetProperty(uint32_t handle, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen);
// Slot 5: the agent's connect, then the library's bookkeeping; when that fails the agent
// connection is closed again and the bookkeeping's code answered (S1001).
int scs_Connect(uint32_t server, OA_CONNREQ* req, uint32_t* outConn);
// Slot 6: the bookkeeping dropped, then the agent's disconnect and its code.
int scs_Disconnect(uint32_t conn);
// Slot 7: the agent's allocation, then the statement's working record. A failed record
// leaves the agent statement allocated, with its code.
int scs_AllocStmt(uint32_t conn, uint32_t* outStmt);
// Slot 8: the working record freed (its auxiliary statements through the agent), then the
// agent's free.
int scs_FreeStmt(uint32_t stmt);
// Slot 11: the agent's prepare, then the library's: a previous analysis, snapshot, row
// count and result descriptions dropped, the cursor type and concurrency the application
// asked for given back to the agent when the library changed them (the mark
// SCS_ATTRS_CHANGED); then the cursor decided (scs_p_PrepareCursor, scrs/scs_prepare.h),
// a scrollable request keeping its text. A forward-only cursor keeps its concurrency.
int scs_Prepare(uint32_t stmt, const char* text);
// Slot 12: for keyset, dynamic and static cursors a copy of the values is kept; the values
// go to the agent, which owns them from then on.
int scs_SetParamValues(uint32_t stmt, DATASET* values);
// Slot 13: 22 (S1010) with a WARNING line for a statement not prepared (a scrollable
// cursor closed since its execution whose agent statement lost its prepare is prepared
// again from the kept text first); the snapshot of the last result dropped; the agent's
// execute; then for a scrollable query the result descriptions, and for a static read-only
// query with result columns the whole result into the snapshot and the agent's cursor
// closed (its own slot 20: the library's would mark the statement closed).
int scs_Execute(uint32_t stmt);
// Slot 18: a copy of the descriptions kept, then the agent's.
int scs_SetParamDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs);
// Slot 19: a static cursor serves the next rows from its snapshot (read first when the
// result came without an execute; 0 rows the snapshot's layout), every other cursor the
// agent's fetch; then the values cut to statement option 3 when it is set.
int scs_FetchRows(uint32_t stmt, uint16_t rows, DATASET* block);
// Slot 20: the cursor marked closed, the snapshot and its count dropped, then the agent's
// close.
int scs_CloseCursor(uint32_t stmt);
// Slots 36 and 41: a rowset of rowset-size rows: the agent's next rows for a forward-only
// cursor, the rows at row (scs_p_StaticFetch: 85 before the start, 86 past the end) for a
// static one, 43 for the rest. The rowset goes to the caller, who frees it
// (ds_RowsetFree); 82 (IM907: no rows) and every failure hand out none (*outRowset null).
// The row count out is the cursor's (-1 unknown) also on failure.
int scs_Fetch(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched, int32_t* outRowCount);
int scs_ExtendedFetch(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched,
                      int32_t* outRowCount, int16_t orientation);
// Slot 37: keeps the operation on the statement for the agent's data at execution; 102
// when the agent now asks for values, else the operation runs (scs_SetPosRun).
int scs_SetPos(uint32_t stmt, int32_t row, uint16_t operation, uint16_t lockType, uint16_t** outRowStatus,
               int32_t* outRowCount, DATASET* rowImage, const uint16_t* columns, uint16_t columnCount);
// The positioned operation kept on the statement (oa_Library.setPosRun, called by the
// agent once values given at execution are in): the row made the position unless it adds
// a row, then scs_p_SetPosOp (scrs/scs_setpos.h) for a keyset-driven cursor and a static
// one that keeps its keys; 43 for every other cursor.
int scs_SetPosRun(uint32_t stmt, uint16_t** outRowStatus, int32_t* outStatus);
// Slot 42: bulk operations by bookmark (scs_p_BulkByBookmark, scrs/scs_setpos.h) on a keyset-driven
// or static cursor; 149 (IM924) on any other.
int scs_BulkOperations(uint32_t stmt, uint16_t operation, const int32_t* bookmarks, uint32_t rowCount,
                       DATASET* rowImage, const uint16_t* columns, uint16_t columnCount, uint16_t** outRowStatus,
                       uint32_t* outCount, DS_ROWSET** outRowset);
// oa_Library.fixColAttribs: completes the descriptions of a select list the library
// rewrote (scs_p_FixColAttribs); nothing for any other statement.
int scs_FixColAttribs(uint32_t stmt, uint16_t colCount, COLDESC* cols, std::vector<COLATTR>* attrs);

// ---- The remaining slots (24-35, 43-49, 52, 54, 65) ---------------------------------------

// Slot 24: the position reset; forward-only and static read-only cursors ask the agent,
// other cursors answer 73 (IM901).
int scs_MoreResults(uint32_t stmt);
// Slots 25-35: a keyset or dynamic cursor becomes static read-only for the catalog result,
// the requested values kept and marked (SCS_ATTRS_CHANGED) so that the next prepare on the
// statement gives them back; then the agent's operation.
int scs_ColumnPrivileges(uint32_t stmt, const OA_CATARGS* args);
int scs_Columns(uint32_t stmt, const OA_CATARGS* args);
int scs_ForeignKeys(uint32_t stmt, const OA_CATARGS* args);
int scs_PrimaryKeys(uint32_t stmt, const OA_CATARGS* args);
int scs_ProcedureColumns(uint32_t stmt, const OA_CATARGS* args);
int scs_Procedures(uint32_t stmt, const OA_CATARGS* args);
int scs_SpecialColumns(uint32_t stmt, const OA_CATARGS* args);
int scs_Statistics(uint32_t stmt, const OA_CATARGS* args);
int scs_TablePrivileges(uint32_t stmt, const OA_CATARGS* args);
int scs_Tables(uint32_t stmt, const OA_CATARGS* args);
int scs_GetTypeInfo(uint32_t stmt, int16_t sqlType);
// Slot 43: the values (first, so that the agent owns them whatever follows), the prepare
// when a text is given, the descriptions when there are any, then the execution; the first
// failure is answered. Slot 54 keeps the named descriptions (scs_StoreParamDescs).
int scs_PrepareAndExecute(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                          const PARAM_DESC* descs);
int scs_PrepareAndExecuteEx(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                            const NAMED_PARAM_DESC* descs);
// Slot 65: keeps a copy of the descriptions; the agent's slot 65 when it has one, else 0.
int scs_StoreParamDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs);
// Slot 45: a statement with the cursor type and concurrency, prepared when a text is given.
// A failure frees the statement; a failed prepare leaves its messages on the connection.
int scs_AllocPrepare(uint32_t conn, const char* text, int32_t concurrency, int32_t cursorType, uint32_t* outStmt);
// Slots 44 and 52: rowset size, prepare, values, execution, then the descriptions of the
// result and the parameters (each pair of outs when given; slot 52 the extended ones) and
// the row count (negative as 0). 80 (IM906, output parameters) counts as success and is
// answered at the end. The descriptions are the caller's (ds_ColDescFree).
int scs_ExecuteDescribe(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount, const PARAM_DESC* descs,
                        uint32_t* rowsetSize, uint16_t* outColCount, COLDESC** outCols, uint16_t* outParamCount,
                        COLDESC** outParams, int32_t* outRowCount);
int scs_ExecuteDescribeEx(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                          const PARAM_DESC* descs, uint32_t* rowsetSize, uint16_t* outColCount, COLDESC** outCols,
                          uint16_t* outParamCount, COLDESC** outParams, int32_t* outRowCount, uint16_t* outAttrCount,
                          COLATTR** outAttrs);
// Slot 46: the columns of the row buffer (a fetch of no rows into it) and, when outCols is
// given, one description each with its internal type and buffer length (the caller's).
int scs_GetRowLayout(uint32_t stmt, uint16_t* outColCount, COLDESC** outCols, DATASET* rowBuffer);
// Slot 47: as slot 41; long values of more than 60000 bytes leave the rowset (indicator
// -3) for scs_GetData.
int scs_FetchInto(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched, int32_t* outRowCount,
                  int16_t orientation);
// Slot 48: the next piece of a long value that scs_FetchInto took out of the rowset (column
// and row from 1): at most maxPiece bytes (2 x maxPiece for wide text) in a new heap block
// in *outValue that belongs to the caller, who frees it (free()); its size in *outSize, the
// bytes left before it in *outRemaining (0: nothing left), the value's type in *outType (1
// text, 24 wide text, 14 binary). 82 without such a value, 21 out of range, 16 on no
// memory. Without taken values a forward-only cursor asks the agent's slot 40.
int scs_GetData(uint32_t stmt, uint16_t column, uint16_t row, uint32_t maxPiece, void** outValue, int32_t* outSize,
                int32_t* outType, int32_t* outRemaining);
// Slot 49: the statements one after another, a row count each (-2 when it cannot be read)
// in a new array for the caller to free (free()). A query, or a call that returns a
// result, stops the batch with 162 (S1000); any failure stops it with its code; *outDone
// is then the index of the stopping statement, else the count.
int scs_ExecuteBatch(uint32_t stmt, uint16_t count, const OA_BATCHSTMT* stmts, uint16_t* outDone,
                     int32_t** outRowCounts);

// The statement classifiers of the batch: the first word is SELECT, or CALL (either case).
bool scs_IsSelectStmt(const char* text);
bool scs_IsCallStmt(const char* text);
