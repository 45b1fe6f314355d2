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
// Nothing is scrollable yet: every cursor type runs as forward-only does, and what is kept
// for other types (parameter copies, the catalog overrides' requested values) serves the
// later cursor parts. Where a cursor type has no implementation yet the answer is 43
// (S1C00).
#pragma once

#include <cstdint>
#include <vector>

#include "drv_pro9/oa_optable.h"

// ---- Statement and connection life (slots 0, 5-8, 11-13, 18-20, 36, 37, 41) ----------------

// Slot 0. The row count (0x32010000) of a scrollable query: the rows the last positioned
// operation touched, else the cursor's row count. The cursor capability string
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
// Slot 11: the agent's prepare, then the library's: a previous analysis dropped, the
// cursor type and concurrency the application asked for given back to the agent when the
// library changed them (the mark SCS_ATTRS_CHANGED).
int scs_Prepare(uint32_t stmt, const char* text);
// Slot 12: for keyset, dynamic and static cursors a copy of the values is kept; the values
// go to the agent, which owns them from then on.
int scs_SetParamValues(uint32_t stmt, DATASET* values);
// Slot 13: 22 (S1010) with a WARNING line for a statement not prepared; else the agent's.
int scs_Execute(uint32_t stmt);
// Slot 18: a copy of the descriptions kept, then the agent's.
int scs_SetParamDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs);
// Slot 19: the agent's fetch, then the values cut to statement option 3 when it is set.
int scs_FetchRows(uint32_t stmt, uint16_t rows, DATASET* block);
// Slot 20: the cursor marked closed, then the agent's close.
int scs_CloseCursor(uint32_t stmt);
// Slots 36 and 41: a rowset of rowset-size rows. The rowset goes to the caller, who frees
// it (ds_RowsetFree), also with 82 (IM907: no rows); forward-only only, 43 for the rest.
int scs_Fetch(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched, int32_t* outRowCount);
int scs_ExtendedFetch(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched,
                      int32_t* outRowCount, int16_t orientation);
// Slot 37: keeps the operation on the statement for the agent's data at execution; 102
// when the agent now asks for values, else the operation runs (scs_SetPosRun).
int scs_SetPos(uint32_t stmt, int32_t row, uint16_t operation, uint16_t lockType, uint16_t** outRowStatus,
               int32_t* outRowCount, DATASET* rowImage, const uint16_t* columns, uint16_t columnCount);
// The positioned operation kept on the statement (oa_Library.setPosRun, called by the
// agent once values given at execution are in): the row made the position unless it adds
// a row; 43 for every cursor type until positioned operations exist.
int scs_SetPosRun(uint32_t stmt, uint16_t** outRowStatus, int32_t* outStatus);
// Slot 42: bulk operations by bookmark, 43 until they exist.
int scs_BulkOperations(uint32_t stmt, uint16_t operation, const int32_t* bookmarks, uint32_t rowCount,
                       DATASET* rowImage, const uint16_t* columns, uint16_t columnCount, uint16_t** outRowStatus,
                       uint32_t* outCount, DS_ROWSET** outRowset);
// oa_Library.fixColAttribs: completes the descriptions of a select list the library
// rewrote; nothing for any other statement (no rewrite exists yet).
int scs_FixColAttribs(uint32_t stmt, uint16_t colCount, COLDESC* cols, std::vector<COLATTR>* attrs);
