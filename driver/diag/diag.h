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

struct ENVR;
struct CONN;
struct STMT;
struct DESC;
struct CallArgs;

inline constexpr char DIAG_PREFIX[] = "[Tessaryn][ODBC]";
inline constexpr char DIAG_DRIVER_PREFIX[] = "[Tessaryn][ODBC][Driver]";

// ---- message lists ----

// Frees every queued message and clears the pending code.
inline void ErrListFree(DIAG& diag) {
    diag.messages.clear();
    diag.errCode = 0;
}
// Appends a message at the tail; when memory runs out nothing is queued.
void ErrListAdd(DIAG& diag, std::string_view text, int32_t native);
// Removes and returns the oldest message; nothing when the list is empty.
std::optional<ERRMSG> ErrListPop(DIAG& diag);
// The n-th message, 1-based (n of 1 or less gives the first); null when the list is
// shorter.
const ERRMSG* ErrListNth(const DIAG& diag, int n);

// The same per handle kind (the environment's pop is EnvrNextError of
// driver/objects/envr.h).
void EnvrAddError(ENVR* envr, std::string_view text, int32_t native);
void ConnAddError(CONN* conn, std::string_view text, int32_t native);
std::optional<ERRMSG> ConnNextError(CONN* conn);
void StmtAddError(STMT* stmt, std::string_view text, int32_t native);
std::optional<ERRMSG> StmtNextError(STMT* stmt);
void DescAddError(DESC* desc, std::string_view text, int32_t native);
std::optional<ERRMSG> DescNextError(DESC* desc);

// ---- states ----

// Rewrites an ODBC 2 state (five characters) in place into its ODBC 3 form.
void MapSqlState3(char* state);

// The ODBC version (2 or 3) that a handle's diagnostics answer in: its environment's; a
// descriptor takes that of its connection (explicit) or its statement's connection
// (implicit), and 3 when it has neither.
int DiagOdbcVersion(const ENVR* envr);
int DiagOdbcVersion(const CONN* conn);
int DiagOdbcVersion(const STMT* stmt);
int DiagOdbcVersion(const DESC* desc);

// ---- records ----

enum DiagMode : int {
    DIAG_MODE_CONSUME = 1,  // SQLError: the oldest record, removed
    DIAG_MODE_RECORD = 2,   // SQLGetDiagRec: the record at the handle's recNumber, kept
};

// Reads one diagnostic record of the one handle given (tried in the order statement,
// connection, environment, descriptor; a descriptor is always read in record mode).
// SQLError's order: each queued message oldest first, then the pending code once, then
// SQL_NO_DATA with state "00000". The message goes into message (bufLen bytes; 32-bit so
// that a wide entry can pass its 4n-byte buffer), cut at a whole character, always
// NUL-terminated; *length gets the full length. Any out pointer may be null.
// Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (cut), SQL_NO_DATA, or SQL_ERROR with state
// S1090 (HY090) for a negative bufLen, when nothing is read or consumed.
// Runs under the lock that guards the handle.
SQLRETURN GetErrorRec(ENVR* envr, CONN* conn, STMT* stmt, DESC* desc, SQLCHAR* state, SQLINTEGER* native,
                      SQLCHAR* message, SQLINTEGER bufLen, SQLSMALLINT* length, int mode);

// Handlers of the "Error" and "ErrorW" call records (environment, connection, statement).
// Arguments after the handle: SQLSTATE buffer (6 bytes), native-code pointer, message
// buffer, buffer length (read as 32-bit), length pointer (SQLSMALLINT*).
SQLRETURN DoErrorEnv(void* object, const CallArgs& args);
SQLRETURN DoErrorConn(void* object, const CallArgs& args);
SQLRETURN DoErrorStmt(void* object, const CallArgs& args);

// ---- failover ----

// 183 when a queued message contains "Failover completed.", 184 for "Failover aborted.",
// else 0; oldest message first.
int FindFailoverMsg(const DIAG& diag);
// Run by the dispatcher after a call whose record clears diagnostics; kind 3 reads the
// connection's diagnostics, 4 and 5 those of the handle in the call (the busy marker).
int CheckFailover(CONN* conn, int kind, int rc);
