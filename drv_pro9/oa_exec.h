// Agent statements on the server: the ESQL cursor of a statement (DB_CURSOR), statement
// reset and free, and closing the cursor.
//
// Every agent statement owns one DB_CURSOR, made with the statement (OA_AllocStmt) and
// freed with it (OA_FreeStmt). The ESQL cursor itself is created when the statement is
// first set up for its text; until then the record holds no client handle, and closing the
// cursor needs no client call. After an end of transaction the connection marks its
// statements (STMT_CURSOR_RESET); such a cursor is set up again before its next use, so a
// close leaves it to that set-up.
//
// All operations assume the caller's serialisation (the ODBC side's database lock).
#pragma once

#include <cstdint>

#include "platform/esql92/esql92.h"

struct DB_CONN;
struct OA_STMT;

// The ESQL cursor of one agent statement.
struct DB_CURSOR {
    DB_CONN* db = nullptr;
    OA_STMT* stmt = nullptr;                       // owner
    ESQL_CURHDL handle = nullptr;                  // from tpe_set_cursor; null before
    unsigned char identity[ESQL_IDENTITY_SIZE] = {};
    int16_t stmtType = 0;                          // statement type at set-up
};

// A new cursor record for the statement on the connection; nothing reaches the server
// until the statement is prepared. 0, or 16 when memory runs out.
int DB_CursorNew(DB_CONN* db, OA_STMT* stmt, DB_CURSOR** out);
// Frees the record; null is ignored. The server's cursor is not closed here (reset the
// statement first); the client releases it with its connection.
void DB_CursorFree(DB_CURSOR* cursor);

// Closes the statement's ESQL cursor: makes the connection current and calls tpe_sqlclose
// when the cursor is not marked for set-up again and the statement is a SELECT or has been
// executed (another statement never opened it). Clears the cursor-open flag. 0, or 15
// with the client's messages on the statement.
int db_CursorClose(OA_STMT* stmt);

// Resets the statement (before it is freed): closes its cursor and clears its state flags
// and counters.
void oa_StmtReset(OA_STMT* stmt);
// Frees what the statement holds beyond the reset: its cursor record. For the statement's
// free operation, after oa_StmtReset.
void oa_StmtFreeContents(OA_STMT* stmt);

// Slot 20: closes the cursor; 0 whatever the close gave (its messages stay on the
// statement). 21 for an unknown handle.
int OA_CloseCursor(uint32_t stmt);
