// Diagnostics: message lists, the ODBC 3 state mapping, the reading of records for
// SQLError and SQLGetDiagRec, the SQLError handlers, and the failover check run by the
// dispatcher after each call.
#include "driver/diag/diag.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "driver/diag/outstr.h"
#include "util/sqlstate.h"
#include "driver/frame/dispatch.h"
#include "driver/objects/handles.h"
#include "util/errcode.h"
#include "util/log.h"

namespace {

constexpr int FAILOVER_COMPLETED = ERR_FAILOVER_COMPLETED;  // IM500
constexpr int FAILOVER_ABORTED = ERR_FAILOVER_ABORTED;      // IM501
constexpr int FAILOVER_ACTION_COMPLETED = 16;
constexpr int FAILOVER_ACTION_ABORTED = 17;

// ODBC versions as the environment keeps them.
constexpr int ODBC_V2 = 2;
constexpr int ODBC_V3 = 3;

constexpr std::string_view STATE_MARKER = "[SQLSTATE:";

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Position of the marker in text, letters compared without regard to case; npos if none.
size_t FindMarker(std::string_view text) {
    if (text.size() < STATE_MARKER.size())
        return std::string_view::npos;
    for (size_t i = 0; i + STATE_MARKER.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < STATE_MARKER.size() && AsciiUpper(text[i + k]) == STATE_MARKER[k])
            ++k;
        if (k == STATE_MARKER.size())
            return i;
    }
    return std::string_view::npos;
}

// A record made ready for the caller's buffers.
struct Record {
    std::string text;   // prefix included
    char state[6] = "S1000";
    int32_t native = 0;
    bool queued = false;  // from a queued message, not from an internal code
};

// A queued message: the server's "[SQLSTATE:xxxxx]" is cut from the text and becomes the
// state; a state that is not five characters long (empty, cut short, or never closed)
// is no state, and the record says S1000.
Record FromMessage(const ERRMSG& m) {
    std::string_view text = m.text;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    Record r;
    size_t at = FindMarker(text);
    if (at != std::string_view::npos) {
        std::string_view rest = text.substr(at + STATE_MARKER.size());
        std::string_view st = rest.substr(0, rest.find(']'));
        if (st.size() == 5)
            std::memcpy(r.state, st.data(), 5);
        text = text.substr(0, at);
    }
    r.text.reserve(sizeof DIAG_PREFIX + text.size());
    r.text.append(DIAG_PREFIX).append(text);
    r.native = m.native;
    r.queued = true;
    return r;
}

// An internal code: its row; a code without a row (beyond the table, negative, or an
// unused row) says so in its message rather than returning an empty record.
Record FromCode(int code) {
    Record r;
    r.text = DIAG_DRIVER_PREFIX;
    if (const SQLSTATE_ROW* row = SqlStateRow(code)) {
        std::memcpy(r.state, row->state, 6);
        r.text += row->message;
    } else {
        char msg[96];
        std::snprintf(msg, sizeof msg, "Undefined errorcode (%d).\nPlease install a newer client.", code);
        r.text += msg;
    }
    return r;
}

void PutState(SQLCHAR* out, const char* state, int version) {
    if (out == nullptr)
        return;
    char s[6];
    std::memcpy(s, state, 5);
    s[5] = '\0';
    if (version == ODBC_V3)
        MapSqlState3(s);
    std::memcpy(out, s, 6);
}

struct Target {
    DIAG* diag = nullptr;
    int version = ODBC_V3;
    bool consume = false;
};

Target Choose(ENVR* envr, CONN* conn, STMT* stmt, DESC* desc, int mode) {
    bool consume = mode == DIAG_MODE_CONSUME;
    if (stmt != nullptr)
        return {&stmt->diag, DiagOdbcVersion(stmt), consume};
    if (conn != nullptr)
        return {&conn->diag, DiagOdbcVersion(conn), consume};
    if (envr != nullptr)
        return {&envr->diag, DiagOdbcVersion(envr), consume};
    if (desc != nullptr)
        return {&desc->diag, DiagOdbcVersion(desc), false};
    return {};
}

}  // namespace

// ---- message lists ----

void ErrListAdd(DIAG& diag, std::string_view text, int32_t native) {
    try {
        diag.messages.push_back(ERRMSG{std::string(text), native});
    } catch (const std::bad_alloc&) {
        // Out of memory: the message is lost, the handle stays as it was.
    }
}

std::optional<ERRMSG> ErrListPop(DIAG& diag) {
    if (diag.messages.empty())
        return std::nullopt;
    std::optional<ERRMSG> m(std::move(diag.messages.front()));
    diag.messages.pop_front();
    return m;
}

const ERRMSG* ErrListNth(const DIAG& diag, int n) {
    size_t i = n <= 1 ? 0 : static_cast<size_t>(n) - 1;
    return i < diag.messages.size() ? &diag.messages[i] : nullptr;
}

void EnvrAddError(ENVR* envr, std::string_view text, int32_t native) { ErrListAdd(envr->diag, text, native); }
void ConnAddError(CONN* conn, std::string_view text, int32_t native) { ErrListAdd(conn->diag, text, native); }
std::optional<ERRMSG> ConnNextError(CONN* conn) { return ErrListPop(conn->diag); }
void StmtAddError(STMT* stmt, std::string_view text, int32_t native) { ErrListAdd(stmt->diag, text, native); }
std::optional<ERRMSG> StmtNextError(STMT* stmt) { return ErrListPop(stmt->diag); }
void DescAddError(DESC* desc, std::string_view text, int32_t native) { ErrListAdd(desc->diag, text, native); }
std::optional<ERRMSG> DescNextError(DESC* desc) { return ErrListPop(desc->diag); }

// ---- states ----

void MapSqlState3(char* state) {
    static constexpr struct {
        const char* from;
        const char* to;
    } exact[] = {
        {"S1002", "07009"}, {"S1093", "07009"}, {"01S03", "01001"}, {"01S04", "01001"},
        {"22003", "HY019"}, {"22008", "22007"}, {"22005", "22018"}, {"24000", "07005"},
        {"37000", "42000"}, {"70100", "HY018"},
    };
    for (const auto& e : exact) {
        if (std::memcmp(state, e.from, 5) == 0) {
            std::memcpy(state, e.to, 5);
            return;
        }
    }
    if (state[0] == 'S' && state[1] == '1') {
        state[0] = 'H';
        state[1] = 'Y';
    } else if (state[0] == 'S' && state[1] == '0' && state[2] == '0') {
        state[0] = '4';
        state[1] = '2';
        state[2] = 'S';
    }
}

int DiagOdbcVersion(const ENVR* envr) { return envr != nullptr ? envr->odbcVersion : ODBC_V3; }
int DiagOdbcVersion(const CONN* conn) { return DiagOdbcVersion(conn != nullptr ? conn->envr : nullptr); }
int DiagOdbcVersion(const STMT* stmt) { return DiagOdbcVersion(stmt != nullptr ? stmt->conn : nullptr); }
int DiagOdbcVersion(const DESC* desc) { return DiagOdbcVersion(desc != nullptr ? DescConn(desc) : nullptr); }

// ---- records ----

SQLRETURN GetErrorRec(ENVR* envr, CONN* conn, STMT* stmt, DESC* desc, SQLCHAR* state, SQLINTEGER* native,
                      SQLCHAR* message, SQLINTEGER bufLen, SQLSMALLINT* length, int mode) {
    Target t = Choose(envr, conn, stmt, desc, mode);
    if (t.diag == nullptr)
        return SQL_INVALID_HANDLE;
    if (length != nullptr)
        *length = 0;
    if (bufLen < 0) {
        // Nothing is read, so nothing is lost; the state tells the caller why.
        PutState(state, "S1090", t.version);
        if (native != nullptr)
            *native = 0;
        return SQL_ERROR;
    }

    Record rec;
    try {
        if (t.consume) {
            if (std::optional<ERRMSG> m = ErrListPop(*t.diag)) {
                rec = FromMessage(*m);
            } else if (t.diag->errCode != 0) {
                rec = FromCode(t.diag->errCode);
                t.diag->errCode = 0;  // the pending code is returned once
            } else {
                t.diag = nullptr;
            }
        } else {
            if (const ERRMSG* m = ErrListNth(*t.diag, t.diag->recNumber))
                rec = FromMessage(*m);
            else if (t.diag->errCode != 0)
                rec = FromCode(t.diag->errCode);
            else
                t.diag = nullptr;
        }
    } catch (const std::bad_alloc&) {
        return SQL_ERROR;
    }

    if (t.diag == nullptr) {
        if (message != nullptr && bufLen > 0)
            message[0] = '\0';
        PutState(state, "00000", ODBC_V2);
        if (native != nullptr)
            *native = 0;
        LOG_MSG(LOG_DEBUG, "returning NO_DATA_FOUND");
        return SQL_NO_DATA;
    }

    WriteOutStr(rec.text, message, bufLen, OutUnit::Bytes, false, DriverTextCode());
    SQLRETURN rc = static_cast<SQLLEN>(rec.text.size()) < bufLen ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
    if (rc == SQL_SUCCESS_WITH_INFO)
        LOG_MSG(LOG_DEBUG, "returning SUCCESS_WITH_INFO");
    // The two kinds of record have always been logged with differently cased lines, and
    // trace readers search for them as they are.
    if (rec.queued)
        LOG_MSG(LOG_DEBUG, "Returning %s", rec.text.c_str());
    else
        LOG_MSG(LOG_DEBUG, "returning %s", rec.text.c_str());
    if (native != nullptr)
        *native = rec.native;
    PutState(state, rec.state, t.version);
    if (length != nullptr)
        *length = OutStrClamp<SQLSMALLINT>(static_cast<SQLLEN>(rec.text.size()));
    return rc;
}

namespace {

SQLRETURN ErrorCall(ENVR* envr, CONN* conn, STMT* stmt, const CallArgs& a) {
    return GetErrorRec(envr, conn, stmt, nullptr, a.get<SQLCHAR*>(0), a.get<SQLINTEGER*>(1), a.get<SQLCHAR*>(2),
                       a.get<SQLINTEGER>(3), a.get<SQLSMALLINT*>(4), DIAG_MODE_CONSUME);
}

}  // namespace

SQLRETURN DoErrorEnv(void* object, const CallArgs& args) {
    return ErrorCall(static_cast<ENVR*>(object), nullptr, nullptr, args);
}

SQLRETURN DoErrorConn(void* object, const CallArgs& args) {
    return ErrorCall(nullptr, static_cast<CONN*>(object), nullptr, args);
}

SQLRETURN DoErrorStmt(void* object, const CallArgs& args) {
    return ErrorCall(nullptr, nullptr, static_cast<STMT*>(object), args);
}

// ---- failover ----

int FindFailoverMsg(const DIAG& diag) {
    for (const ERRMSG& m : diag.messages) {
        if (m.text.find("Failover completed.") != std::string::npos)
            return FAILOVER_COMPLETED;
        if (m.text.find("Failover aborted.") != std::string::npos)
            return FAILOVER_ABORTED;
    }
    return 0;
}

int CheckFailover(CONN* conn, int kind, int rc) {
    if (conn == nullptr || conn->failover == nullptr)
        return rc;
    const DIAG* diag = nullptr;
    switch (kind) {
    case 3:
        diag = &conn->diag;
        break;
    case 4:
        diag = &static_cast<const STMT*>(conn->busy)->diag;
        break;
    case 5:
        diag = &static_cast<const DESC*>(conn->busy)->diag;
        break;
    default:
        return rc;
    }
    int action = 0;
    if (diag->errCode == FAILOVER_COMPLETED) {
        action = FAILOVER_ACTION_COMPLETED;
        rc = SQL_SUCCESS_WITH_INFO;
    } else if (diag->errCode == FAILOVER_ABORTED) {
        action = FAILOVER_ACTION_ABORTED;
        rc = SQL_ERROR;
    } else if (diag->messages.size() >= 2) {
        int found = FindFailoverMsg(*diag);
        if (found != 0) {
            action = found == FAILOVER_COMPLETED ? FAILOVER_ACTION_COMPLETED : FAILOVER_ACTION_ABORTED;
            rc = SQL_ERROR;
        }
    }
    if (action != 0)
        conn->failover(action, conn->failoverContext, 0);
    return rc;
}
