// The process-wide connection settings: written by every connect of the ODBC side from the
// connect string and the data source (so the last connect's values hold for all
// connections), and copied by the agent into each new agent connection.
//
// Both sides touch the block only inside the ODBC side's connect lock: the writer runs in
// the connect, and the agent's connect operation is reached from that same connect.
#pragma once

#include <cstdint>

struct OA_CONNSETTINGS {
    int32_t dynCursSensitivity = 0;  // 0 low, 1 high, 2 disabled
    int32_t jet = 0;                 // JET mode
    int32_t noAutoCommit = 0;
    int32_t maxRows = 0;             // 0: no limit
    int32_t noRowsetSizeLimit = 0;
    int32_t showRemarks = 0;
    // Owned (C heap) or null. The agent connection that copies the block takes the text
    // over and leaves null here, so that a later connect without it gets none.
    char* sqlDbmsName = nullptr;
    uint32_t defaultIsolation = 0;   // ODBC value 1, 2, 4 or 8; 0 when not configured
};

OA_CONNSETTINGS& OA_ConnSettings();

// Replaces an owned text of the block with a copy of value (C heap); null when memory runs
// out. Frees the text it replaces.
void OA_ConnSettingsSetText(char** field, const char* value);
