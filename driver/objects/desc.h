// Descriptor records. The descriptor object itself (its records and fields) comes with the
// descriptor calls; today a descriptor is the record that the dispatcher and the
// diagnostics read.
#pragma once

#include "driver/objects/stmt.h"

struct DESC : HANDLE_HDR {
    // An explicit descriptor belongs to its connection; an implicit one to its statement,
    // whose connection it runs on.
    DESC(CONN* owner, STMT* implicitOwner) : HANDLE_HDR(CALL_KIND_DESC), stmt(implicitOwner) {
        conn = implicitOwner != nullptr ? implicitOwner->conn : owner;
        gate = conn != nullptr ? &conn->callGate : nullptr;
    }
    STMT* stmt = nullptr;  // owning statement of an implicit descriptor
};

// Queues a message on the descriptor's diagnostics; takes the oldest one off.
inline void DescAddError(DESC* desc, std::string_view text, int32_t native) {
    ErrListAdd(desc->diag, text, native);
}
inline std::optional<ERRMSG> DescNextError(DESC* desc) {
    return ErrListPop(desc->diag);
}
