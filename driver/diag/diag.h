// Diagnostics kept on every handle: one pending internal error code and the queue of
// messages that came from the agent or the server, oldest first; and the reading of
// both as ODBC diagnostic records (SQLError, SQLGetDiagRec, SQLGetDiagField).
//
// Texts: a message made from an internal code reads "[Tessaryn][ODBC][Driver]" and the
// code's message; a queued message reads "[Tessaryn][ODBC]" and its text. A server
// message arrives as "[Progress Server]%s[SQLSTATE:%s]": the bracketed state is cut out
// of the text and returned as the record's SQLSTATE.
#pragma once

#include <sql.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

struct ERRMSG {
    std::string text;
    int32_t native = 0;
};

struct DIAG {
    int32_t errCode = 0;          // pending internal error code, 0 for none
    std::deque<ERRMSG> messages;  // queued messages in arrival order
    int16_t recNumber = 0;        // record that SQLGetDiagRec last asked for
};

inline constexpr char DIAG_PREFIX[] = "[Tessaryn][ODBC]";
inline constexpr char DIAG_DRIVER_PREFIX[] = "[Tessaryn][ODBC][Driver]";

// ---- message lists ----

// Frees every queued message (out of line).
void ErrListDropMessages(DIAG& diag);
// Frees every queued message and clears the pending code. Every call clears its handle's
// list, which is nearly always empty: the check inline is all such a call pays.
inline void ErrListFree(DIAG& diag) {
    if (!diag.messages.empty())
        ErrListDropMessages(diag);
    diag.errCode = 0;
}
// Appends a message at the tail; when memory runs out nothing is queued.
void ErrListAdd(DIAG& diag, std::string_view text, int32_t native);
// Removes and returns the oldest message; nothing when the list is empty.
std::optional<ERRMSG> ErrListPop(DIAG& diag);
// The n-th message, 1-based (n of 1 or less gives the first); null when the list is
// shorter.
const ERRMSG* ErrListNth(const DIAG& diag, int n);

// ---- states ----

// Rewrites an ODBC 2 state (five characters) in place into its ODBC 3 form. States that
// ODBC 3 renames only in one situation (22003 as HY019 for data in pieces, 24000 as 07005
// for a statement without result columns, 22008 as 22007 for a datetime format) are kept:
// those situations are posted as codes of their own, which the records name by version.
void MapSqlState3(char* state);

// ---- records ----

enum DiagMode : int {
    DIAG_MODE_CONSUME = 1,  // SQLError: the oldest record, removed
    DIAG_MODE_RECORD = 2,   // SQLGetDiagRec: the record at the list's recNumber, kept
};

// One record as a diagnostic call hands it out.
struct DiagRecord {
    std::string text;       // prefix included
    char state[6] = "S1000";
    int32_t native = 0;
    bool queued = false;    // from a queued message, not from an internal code
};

// The record a diagnostic call reads of the list, with its state in the form of the ODBC
// version given (2 or 3): in consume mode (SQLError) each queued message oldest first, then
// the pending code once; in record mode the message at recNumber, else the pending code.
// Nothing when there is none. Throws std::bad_alloc when a text cannot be made (nothing is
// consumed then).
std::optional<DiagRecord> DiagTakeRecord(DIAG& diag, int odbcVersion, int mode);

// ---- failover ----

// The application's failover callback (a connection attribute).
using FailoverCallback = int (*)(int action, void* context, int reserved);

// 183 when a queued message contains "Failover completed.", 184 for "Failover aborted.",
// else 0; oldest message first.
int FindFailoverMsg(const DIAG& diag);
// Run by the dispatcher after a failed call whose record clears diagnostics, with the
// called handle's diagnostics: tells the callback what they report and returns the call's
// result.
int CheckFailover(const DIAG& diag, FailoverCallback callback, void* context, int rc);
