// What the dispatcher and the diagnostics ask of any handle record.
#include "driver/objects/handle.h"

#include "driver/objects/conn.h"
#include "driver/objects/envr.h"

void HandleDestroy(HANDLE_HDR* h) {
    // Only a connection is closed for good by its own call today; statements and
    // descriptors are freed by their owners.
    if (h != nullptr && h->kind == CALL_KIND_DBC)
        ConnDestroy(static_cast<CONN*>(h));
}

int HandleOdbcVersion(const HANDLE_HDR* h) {
    const ENVR* envr = nullptr;
    if (h != nullptr && h->kind == CALL_KIND_ENV)
        envr = static_cast<const ENVR*>(h);
    else if (h != nullptr && h->conn != nullptr)
        envr = h->conn->envr;
    return envr != nullptr ? static_cast<int>(envr->odbcVersion) : 3;
}
