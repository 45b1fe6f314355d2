// Agent error records: the server's and the agent's own messages, queued on the agent
// server, connection and statement on which a failure happened.
//
// Every agent operation returns an internal code; the words that explain it travel
// separately, as records on the handle's OA_ERRLIST. The ODBC side takes them through
// operation slot 2 (OA_GetErrors) as finished "[Progress Server]%s[SQLSTATE:%s]" texts.
// Records come from the ESQL client's SQLCA (server messages, with the SQLCA's error code
// as native code) or from the SQLSTATE table (the agent's own failures, native code 0).
//
// The record and list layouts are shared with the cursor library, which appends records
// (OA_ErrAppend) and switches a list's keep flag around statements it runs row by row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drv_pro9/oa_optable.h"

struct esql_sqlca;   // ESQL_SQLCA of platform/esql92/esql92.h

// Message buffer of one record: at most 2047 characters and the NUL.
constexpr size_t OA_ERRMSG_SIZE = 2048;

// Most records taken from one SQLCA: the client's queue ends when tpe_sqlc_clear leaves
// error code 0, and a client that never gets there must not hold the agent forever.
constexpr int OA_SQLCA_MAX_MESSAGES = 64;

// One queued message. Made by the OA_ErrRec* functions (C heap); freed by OA_ErrClear.
struct OA_ERRREC {
    OA_ERRREC* next;                 // null at the tail
    int32_t native;                  // SQLCA error code, 0 for the agent's own
    char message[OA_ERRMSG_SIZE];    // NUL-terminated
    char* sqlstate;                  // owned NUL-terminated copy of the state text
};

// The error list embedded in OA_SERVER, OA_CONN and OA_STMT. Records are kept in arrival
// order; the list frees them when it goes.
struct OA_ERRLIST {
    // 0: every post empties the list first, so it holds the latest failure only;
    // 1: posts accumulate.
    int32_t keep = 0;
    OA_ERRREC* head = nullptr;

    OA_ERRLIST() = default;
    ~OA_ERRLIST();
    OA_ERRLIST(const OA_ERRLIST&) = delete;
    OA_ERRLIST& operator=(const OA_ERRLIST&) = delete;
};

// The SQLSTATE text and message of an internal code; empty texts for code 0 and for a
// code without a row.
const char* oa_ErrState(int code);
const char* oa_ErrMessage(int code);

// A new record with the given native code, message (cut to 2047 characters; null counts
// as empty) and SQLSTATE (null counts as empty). Null when memory runs out.
OA_ERRREC* OA_ErrRecNew(int32_t native, const char* message, const char* sqlstate);
// The record of a row of the SQLSTATE table, native code 0. Null when memory runs out.
OA_ERRREC* OA_ErrRecFromCode(int code);
// The client's current message: null when the SQLCA's error code is 0; otherwise a record
// (or null when memory runs out) with the error code, the message text bounded by both
// the SQLCA's text area and the record ("unknown progress error %ld" when the length is
// 0) and the SQLSTATE. The SQLCA is then cleared (tpe_sqlc_clear), which brings up the
// client's next message or none.
OA_ERRREC* OA_ErrRecFromSqlca(esql_sqlca* sqlca);
// Frees one record that is on no list.
void OA_ErrRecFree(OA_ERRREC* rec);

// Nothing for a null list; empties it unless its keep flag is set; then appends one
// record per message of the client (at most OA_SQLCA_MAX_MESSAGES), until the SQLCA's
// error code is 0. A message that cannot be stored is dropped.
void OA_ErrFromSqlca(OA_ERRLIST* list, esql_sqlca* sqlca);
// Nothing for a null list; empties it unless its keep flag is set; appends the code's
// record (nothing when memory runs out).
void OA_ErrPost(OA_ERRLIST* list, int code);
// As OA_ErrPost with a message of the agent's own making and its SQLSTATE.
void OA_ErrPostText(OA_ERRLIST* list, const char* message, const char* sqlstate);
// Appends at the tail; nothing when either is null.
void OA_ErrAppend(OA_ERRLIST* list, OA_ERRREC* rec);
// Frees every record and leaves the list empty.
void OA_ErrClear(OA_ERRLIST* list);
// The list of a live agent statement, connection or server handle (looked up in that
// order), or null.
OA_ERRLIST* oa_ErrListOf(uint32_t handle);

// Slot 2: takes the queued messages of an agent statement, connection or server handle
// (looked up in that order). Unknown handle or null result: 21. An empty list: count 0,
// null arrays, native untouched, 0. Otherwise the texts in arrival order and 0; the list
// is then empty. No memory: 16, and the list stays as it was. Whenever it answers 0 the
// record's release is OA_ErrTextsFree.
int OA_GetErrors(uint32_t handle, OA_ERRTEXTS* result);
// Frees what OA_GetErrors handed out (C heap) and empties the record.
void OA_ErrTextsFree(OA_ERRTEXTS* result);
