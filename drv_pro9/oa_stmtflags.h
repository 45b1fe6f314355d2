// Flag bits of the agent statement, in one place so that no two meanings share a bit.
//
// An agent statement carries two 16-bit flag words: its state (prepared, executed,
// cursor open, output values ...) and its kind, which is copied from the statement-text
// record that the escape translator builds (OA_SQLTEXT, drv_pro9/oa_sqltext.h).
#pragma once

#include <cstdint>

// Kind bits: what the translated statement text is.
enum OaSqlTextFlag : uint16_t {
    SQLT_HAS_PARAMS = 0x0002,   // the text has parameter markers
    SQLT_PROC_CALL = 0x0004,    // a procedure call ({call ...} or {? = call ...})
    SQLT_RETURN_VALUE = 0x0008, // the call has a return value ({? = call ...})
};

// State bits of the agent statement.
enum OaStmtFlag : uint16_t {
    STMT_PREPARED = 0x0001,
    STMT_NO_MORE_ROWS = 0x0002,
    STMT_EXECUTED = 0x0004,
    STMT_DESCRIBED = 0x0010,
    STMT_RETURN_SETTLED = 0x0020,   // the return value needs no further work
    STMT_OUT_BOUND = 0x0040,        // output values bound
    STMT_OUT_READY = 0x0080,        // output values ready
    STMT_CURSOR_RESET = 0x0100,     // the ESQL cursor must be set up again (after commit or rollback)
    STMT_CURSOR_OPEN = 0x0200,
    // Output parameters await their values. It has a bit of its own: sharing one with
    // "cursor open" would let an open cursor suppress the autocommit after execute.
    STMT_OUT_PENDING = 0x0400,
    // In autocommit, the transaction that this statement's SELECT (or call with pending
    // output) opened is still to be committed: at the end of the data, or at the close of
    // a cursor left before its end.
    STMT_COMMIT_OWED = 0x0800,
    // The parameter descriptions were refined by probing the server (once per prepare).
    STMT_PARAMS_DESCRIBED = 0x1000,
};
