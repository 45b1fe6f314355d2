// The row-version table KVRRVC: what a dynamic cursor on a row-versioning connection has
// seen of each row, so that a later fetch can tell rows other users changed.
//
// The table (created by the user, not by the driver):
//   CREATE TABLE KVRRVC (HCONN CHAR(8) NOT NULL, HCURS CHAR(8) NOT NULL,
//                        KEYVER CHAR(32) NOT NULL, ROWVER CHAR(32) NOT NULL)
// with a unique index on (HCONN, HCURS, KEYVER). One line per row a cursor has seen: the
// MD5 of the row's key values and of its column values, both as 32 uppercase hex digits.
//
// HCURS is the cursor's agent statement handle ("%08X"). HCONN is not the agent connection
// handle: handles are the same small numbers in every process, so two processes on one
// database would wipe and misread each other's lines. It is the first 4 bytes (8 uppercase
// hex digits) of the MD5 of the host name, the process id, the process's start time (taken
// once) and the agent connection handle. Lines of a process that died are left behind; a
// cursor that later gets the same HCONN and HCURS deletes them at its preparation.
//
// The SQL runs on a helper agent connection opened with the kept connect parameters of the
// cursor's connection (scs_ConnInfoOf) and switched to autocommit, so that its lines are
// committed whatever the cursor's connection does. One helper serves the cursors of one
// agent connection; it is opened by the first RVC_Attach and closed by the last RVC_Detach,
// or by RVC_ConnectionClosing before the agent connection goes. The helper list and its
// counts change under scs_ConnListLock(); agent calls run outside it.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct DATASET;
struct SCS_STMT;
struct RVC_HELPER;   // defined in rvc_rowver.cpp

// A cursor's binding to its helper (SCS_STMT::rowVersion).
struct RVC_STATE {
    RVC_HELPER* helper = nullptr;
    char hconn[9] = {};           // 8 uppercase hex digits
    char hcurs[9] = {};           // "%08X" of the cursor's agent statement handle
    uint32_t helperStmt = 0;
};

using RVC_DIGEST = std::array<uint8_t, 16>;

// Row statuses written by RVC_CheckRows and RVC_UpdateRows (the ODBC row statuses).
constexpr int16_t RVC_ROW_UNCHANGED = 0;   // unchanged, or newly recorded
constexpr int16_t RVC_ROW_UPDATED = 2;     // changed by someone else; the new version is recorded
constexpr int16_t RVC_ROW_ERROR = 5;       // the row's version could not be read or written

// Binds the cursor to the helper of its agent connection, opening one when there is none
// (DRV_Connect with the kept parameters, autocommit on, DRV_AllocStmt). 0 at once when the
// cursor is attached already. 15 when the connection has no kept parameters; the agent's
// code when the helper cannot be opened, its messages moved onto the cursor's statement.
int RVC_Attach(SCS_STMT* cur);
// Releases the cursor's binding; the last cursor of a helper closes it. 0.
int RVC_Detach(SCS_STMT* cur);
// Memory only, for the release of a statement the agent is freeing itself: the cursor
// leaves its helper's list without a call to the agent. The helper stays open until its
// connection closes (RVC_ConnectionClosing).
void RVC_Forget(SCS_STMT* cur);
// Deletes the cursor's lines. 15 when the cursor has no helper. On failure the helper's
// messages, then IM926 "Check that the table KVRRVC exists", go onto the cursor's statement
// and the failure's code is returned.
int RVC_DropCursor(SCS_STMT* cur);
// Compares rows 0..n-1 with what the cursor recorded: the key digest from keyRows row k,
// the row digest from rows row k. status[k] := 0 (unchanged, or new and recorded now), 2
// (ROWVER differed: changed by someone else, the new version recorded) or 5 (the row's
// version could not be read or written). A key with two lines gives 15. On a failure the
// helper's messages go onto the cursor's statement and the first failure's code is
// returned; a row whose version was not read or written is then 5, never left undecided.
int RVC_CheckRows(SCS_STMT* cur, const DATASET& keyRows, const DATASET& rows, int32_t n, int16_t* status);
// For each k < n with status[k] == 2: ROWVER := rowDigests[k] where KEYVER = keyDigests[k].
// A row that fails or touches no line gets 5 and the next is tried; returns the first
// failure's code (15 for a row that touched no line), 0 when all succeeded. Messages of a
// failure go onto the cursor's statement.
int RVC_UpdateRows(SCS_STMT* cur, const std::vector<RVC_DIGEST>& keyDigests,
                   const std::vector<RVC_DIGEST>& rowDigests, int16_t* status, int32_t n);
// The MD5 of the row's values in column order. Each value goes in with a prefix, an
// indicator byte (0 NULL, 1 not NULL) and its length (4 bytes, little-endian), then its
// bytes, so that NULL differs from '' and ("ab", "c") from ("a", "bc"). By-reference long
// kinds (DS_LONGCHAR, DS_LONGBINARY, DS_LONGWCHAR) take no part. 15 for a row out of range
// or a failed digest, 16 on no memory.
int RVC_RowDigest(const DATASET& rows, int32_t row, RVC_DIGEST* out);
// Two uppercase hex digits per byte, high nibble first, then a NUL. An out of outSize
// bytes holds (outSize - 1) / 2 whole bytes: the rest is left out. *encodedLen (when
// given) receives the digits written, NUL not counted. Nothing is written for outSize 0.
void rvc_HexEncode(const uint8_t* bytes, size_t n, char* out, size_t outSize, size_t* encodedLen);
// Moves the helper statement's then the helper connection's messages to the end of the
// cursor's agent statement's list. Nothing when the cursor has no helper.
void RVC_MoveErrors(SCS_STMT* cur);
// Before the agent disconnects agentConn (the connect bookkeeping's first step): every
// helper that serves it deletes that connection's lines (DELETE ... WHERE HCONN = 'H') and
// is closed; the cursors still bound to it are released.
void RVC_ConnectionClosing(uint32_t agentConn);

// The HCONN value of an agent connection of this process: 8 uppercase hex digits and a NUL.
void RVC_HConnOf(uint32_t agentConn, char out[9]);

// ---- For tests ---------------------------------------------------------------------------

// The helpers open now for the agent connection, and the cursors bound to each.
struct RVC_HELPER_INFO {
    uint32_t helperConn = 0;
    uint32_t helperStmt = 0;
    int32_t refs = 0;
};
std::vector<RVC_HELPER_INFO> RVC_HelpersOf(uint32_t agentConn);
