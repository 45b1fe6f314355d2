// Diagnostics kept on every handle: one pending internal error code and the queue of
// messages that came from the agent or the server, oldest first.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

struct ERRMSG {
    std::string text;
    int32_t native = 0;
};

struct DIAG {
    int32_t errCode = 0;          // pending internal error code, 0 for none
    std::deque<ERRMSG> messages;  // queued messages in arrival order
    int16_t recNumber = 0;        // record that SQLGetDiagRec last asked for
};

// Frees every queued message and clears the pending code.
inline void ErrListFree(DIAG& diag) {
    diag.messages.clear();
    diag.errCode = 0;
}

struct CONN;

// 183 when a queued message contains "Failover completed.", 184 for "Failover aborted.",
// else 0; oldest message first.
int FindFailoverMsg(const DIAG& diag);
// Run by the dispatcher after a call whose record clears diagnostics; kind 3 reads the
// connection's diagnostics, 4 and 5 those of the handle in the call (the busy marker).
int CheckFailover(CONN* conn, int kind, int rc);
