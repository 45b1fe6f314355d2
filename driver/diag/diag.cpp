// Diagnostics: message lists, the ODBC 3 state mapping, the reading of records for
// SQLError and SQLGetDiagRec, and the failover check run by the dispatcher after each call.
#include "driver/diag/diag.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "util/errcode.h"
#include "util/log.h"
#include "util/sqlstate.h"

namespace {

constexpr int FAILOVER_COMPLETED = ERR_FAILOVER_COMPLETED;  // IM500
constexpr int FAILOVER_ABORTED = ERR_FAILOVER_ABORTED;      // IM501
constexpr int FAILOVER_ACTION_COMPLETED = 16;
constexpr int FAILOVER_ACTION_ABORTED = 17;

// The ODBC version whose states are mapped.
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

// A queued message: the server's "[SQLSTATE:xxxxx]" is cut from the text and becomes the
// state; a state that is not five characters long (empty, cut short, or never closed)
// is no state, and the record says S1000.
DiagRecord FromMessage(const ERRMSG& m) {
    std::string_view text = m.text;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    DiagRecord r;
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

// Three situations have one name in ODBC 2 and another in ODBC 3, while the same ODBC 2
// state names other faults too (22003 every numeric overflow, 24000 every cursor in the
// wrong state, 22008 every datetime field overflow). The driver posts each situation as
// its own code, and only that code changes its name with the version.
struct SituationState {
    int code;
    char odbc2[6];
    char odbc3[6];
};
constexpr SituationState kSituations[] = {
    {ERR_NON_CHARACTER_AND_NON_BINARY_DATA, "22003", "HY019"},              // SQLPutData in pieces
    {ERR_PREPARED_STATEMENT_NOT_A_CURSOR_SPECIFICATION, "24000", "07005"},  // no result to describe
    {ERR_INVALID_DATETIME_FORMAT, "22008", "22007"},
};

const SituationState* FindSituation(int code) {
    for (const SituationState& s : kSituations)
        if (s.code == code)
            return &s;
    return nullptr;
}

// An internal code: its row; a code without a row (beyond the table, negative, or an
// unused row) says so in its message rather than returning an empty record. A situation
// code takes the state of the version asked for, mapped no further.
DiagRecord FromCode(int code, int odbcVersion) {
    DiagRecord r;
    r.text = DIAG_DRIVER_PREFIX;
    if (const SQLSTATE_ROW* row = SqlStateRow(code)) {
        std::memcpy(r.state, row->state, 6);
        r.text += row->message;
    } else {
        char msg[96];
        std::snprintf(msg, sizeof msg, "Undefined errorcode (%d).\nPlease install a newer client.", code);
        r.text += msg;
    }
    if (const SituationState* s = FindSituation(code))
        std::memcpy(r.state, odbcVersion == ODBC_V3 ? s->odbc3 : s->odbc2, 6);
    else if (odbcVersion == ODBC_V3)
        MapSqlState3(r.state);
    return r;
}

}  // namespace

// ---- message lists ----

void ErrListDropMessages(DIAG& diag) { diag.messages.clear(); }

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

// ---- states ----

void MapSqlState3(char* state) {
    static constexpr struct {
        const char* from;
        const char* to;
    } exact[] = {
        {"S1002", "07009"}, {"S1093", "07009"}, {"01S03", "01001"}, {"01S04", "01001"},
        {"22005", "22018"}, {"37000", "42000"}, {"70100", "HY018"},
        // ODBC 3 names fewer bound parameters than markers "COUNT field incorrect".
        {"07001", "07002"},
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

// ---- records ----

std::optional<DiagRecord> DiagTakeRecord(DIAG& diag, int odbcVersion, int mode) {
    std::optional<DiagRecord> rec;
    if (mode == DIAG_MODE_CONSUME) {
        if (std::optional<ERRMSG> m = ErrListPop(diag)) {
            rec = FromMessage(*m);
        } else if (diag.errCode != 0) {
            rec = FromCode(diag.errCode, odbcVersion);
            diag.errCode = 0;  // the pending code is returned once
        }
    } else {
        if (const ERRMSG* m = ErrListNth(diag, diag.recNumber))
            rec = FromMessage(*m);
        else if (diag.errCode != 0)
            rec = FromCode(diag.errCode, odbcVersion);
    }
    if (rec && rec->queued && odbcVersion == ODBC_V3)
        MapSqlState3(rec->state);
    return rec;
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

int CheckFailover(const DIAG& diag, FailoverCallback callback, void* context, int rc) {
    if (callback == nullptr)
        return rc;
    int action = 0;
    if (diag.errCode == FAILOVER_COMPLETED) {
        action = FAILOVER_ACTION_COMPLETED;
        rc = SQL_SUCCESS_WITH_INFO;
    } else if (diag.errCode == FAILOVER_ABORTED) {
        action = FAILOVER_ACTION_ABORTED;
        rc = SQL_ERROR;
    } else if (diag.messages.size() >= 2) {
        int found = FindFailoverMsg(diag);
        if (found != 0) {
            action = found == FAILOVER_COMPLETED ? FAILOVER_ACTION_COMPLETED : FAILOVER_ACTION_ABORTED;
            rc = SQL_ERROR;
        }
    }
    if (action != 0)
        callback(action, context, 0);
    return rc;
}
