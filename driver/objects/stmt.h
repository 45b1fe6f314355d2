// Statement records. The statement object itself (its descriptors, bindings, states and
// cursor) comes with the statement calls; today a statement is the record that the
// dispatcher and the diagnostics read.
#pragma once

#include <sqltypes.h>

#include <optional>
#include <string_view>

#include "driver/objects/conn.h"

struct STMT : HANDLE_HDR {
    explicit STMT(CONN* owner) : HANDLE_HDR(CALL_KIND_STMT) {
        conn = owner;
        gate = owner != nullptr ? &owner->callGate : nullptr;
    }
    SQLLEN rowCount = -1;  // rows of the last execution, -1 when unknown
    bool isQuery = false;  // the statement text is a SELECT, which opens a cursor
};

// Queues a message on the statement's diagnostics; takes the oldest one off.
inline void StmtAddError(STMT* stmt, std::string_view text, int32_t native) {
    ErrListAdd(stmt->diag, text, native);
}
inline std::optional<ERRMSG> StmtNextError(STMT* stmt) {
    return ErrListPop(stmt->diag);
}
