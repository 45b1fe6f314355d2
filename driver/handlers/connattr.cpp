// Connection options and attributes.
#include "driver/handlers/connattr.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/frame/globals.h"
#include "driver/handlers/stmtattr.h"
#include "driver/objects/conn.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "dtc/dtc.h"
#include "util/charset.h"
#include "util/errcode.h"

namespace {

// Options of this driver that are not ODBC's.
constexpr SQLUSMALLINT kOption1051 = 1051;           // a text kept before connecting
constexpr SQLUSMALLINT kOptionFailover = 1280;       // the application's failover callback
constexpr SQLUSMALLINT kOptionFailoverContext = 1281;
constexpr uint32_t kPropFailover = 0x22030500;       // tells the agent a callback is there
constexpr uint32_t kPropInfoCatalog = 0x2101000D;    // the agent's current catalog

// Room of an agent's string answer, and of an option buffer (SQL_MAX_OPTION_STRING_LENGTH).
constexpr int32_t kAgentTextRoom = 256;
constexpr SQLLEN kOptionTextRoom = SQL_MAX_OPTION_STRING_LENGTH;

bool IsStmtOption(SQLUSMALLINT option) {
    return option <= SQL_USE_BOOKMARKS && option != SQL_ASYNC_ENABLE;
}

// The driver's integer options kept by the agent (1201 to 1262 but for the string ones and
// those without a meaning here). Enlistment is set through the coordinator and the
// connection's liveness only read, but the agent answers both.
bool IsAgentIntOption(SQLUSMALLINT option, bool reading) {
    if (option == SQL_ATTR_ENLIST_IN_DTC || option == SQL_ATTR_CONNECTION_DEAD)
        return reading;
    return (option >= 1201 && option <= 1219 && option != 1212 && option != 1214) || option == 1252 ||
           option == 1253 || (option >= 1255 && option <= 1259) || option == 1262;
}
bool IsAgentTextOption(SQLUSMALLINT option) {
    return option == 1212 || option == 1214 || option == 1254;
}

// Options whose value is a text.
bool IsTextOption(SQLUSMALLINT option) {
    return option == SQL_OPT_TRACEFILE || option == SQL_TRANSLATE_DLL || option == SQL_CURRENT_QUALIFIER ||
           option == kOption1051 || IsAgentTextOption(option);
}

uint32_t AgentIntCode(SQLUSMALLINT option) {
    return oa_PropCode(OA_PROP_LEVEL_CONN, OA_PROP_KIND_INT, OA_PROP_GROUP_OPTION, option);
}
uint32_t AgentTextCode(SQLUSMALLINT option) {
    return oa_PropCode(OA_PROP_LEVEL_CONN, OA_PROP_KIND_TEXT, OA_PROP_GROUP_OPTION, option);
}

SQLRETURN Fail(CONN* conn, int code) {
    conn->diag.errCode = code;
    return SQL_ERROR;
}

// The agent's refusal: its code on the connection and its messages with it.
SQLRETURN AgentFailed(CONN* conn, int code) {
    conn->diag.errCode = code;
    ConnGetAgentErrors(conn, nullptr);
    return SQL_ERROR;
}

bool Connected(const CONN* conn) {
    return conn->state == CONN_CONNECTED;
}

int OdbcVersion(const CONN* conn) {
    return conn->envr != nullptr ? static_cast<int>(conn->envr->odbcVersion) : 2;
}

int SetAgent(const CONN* conn, uint32_t code, const void* value) {
    return CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_SetProperty, conn->agentConn, code, value);
}

int SetAgentInt(const CONN* conn, uint32_t code, SQLULEN value) {
    auto v = static_cast<int32_t>(value);
    return SetAgent(conn, code, &v);
}

int GetAgent(const CONN* conn, uint32_t code, void* buf, int32_t size) {
    int32_t len = 0;
    return CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_GetProperty, conn->agentConn, code, buf, size, &len);
}

// A string the agent answers, NUL-terminated whatever it wrote.
int GetAgentText(const CONN* conn, uint32_t code, std::string* out) {
    char buf[kAgentTextRoom + 1] = {};
    int rc = GetAgent(conn, code, buf, kAgentTextRoom);
    if (rc == 0)
        out->assign(buf, strnlen(buf, kAgentTextRoom));
    return rc;
}

// A text value as the handler keeps it: the driver's text code (UTF-8 in the Unicode
// library), converted from UTF-16 for the wide calls. length counts bytes, or SQL_NTS.
// Null for a null value; false when the length is negative and not SQL_NTS, or memory ran
// out (the code is then on the connection).
bool TextIn(CONN* conn, const void* value, SQLINTEGER length, int width, std::optional<std::string>* out) {
    out->reset();
    if (length < 0 && length != SQL_NTS) {
        conn->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return false;
    }
    if (value == nullptr)
        return true;
    if (width != WIDTH_WIDE) {
        const auto* text = static_cast<const char*>(value);
        *out = std::string(text, length == SQL_NTS ? std::strlen(text) : strnlen(text, static_cast<size_t>(length)));
        return true;
    }
    // Units up to the length or the first NUL, copied so that the converters see a
    // NUL-terminated text of their own.
    const auto* text = static_cast<const SQLWCHAR*>(value);
    std::vector<SQLWCHAR> units;
    for (SQLINTEGER i = 0; length == SQL_NTS || i < length / 2; ++i) {
        SQLWCHAR u;
        std::memcpy(&u, text + i, sizeof u);  // the application's buffer need not be aligned
        if (u == 0)
            break;
        units.push_back(u);
    }
    units.push_back(0);
    char* copy = DriverTextCode() == TextCode::Utf8 ? ut_Ucs2ToUtf8DupZ(units.data()) : ut_Ucs2ToAnsiDupZ(units.data());
    if (copy == nullptr) {
        conn->diag.errCode = ERR_MEMORY_ALLOCATION_FAILURE;
        return false;
    }
    *out = std::string(copy);
    std::free(copy);
    return true;
}

// ---- setting ----

SQLRETURN SetAccessMode(CONN* conn, SQLULEN value) {
    if (Connected(conn)) {
        if (int rc = SetAgentInt(conn, OA_PROP_ACCESS_MODE, value); rc != 0)
            return AgentFailed(conn, rc);
    }
    bool readOnly = value == SQL_MODE_READ_ONLY;
    conn->requestedReadOnly = readOnly;
    if (readOnly)
        conn->flags |= CONN_FLAG_READ_ONLY;
    else
        conn->flags &= static_cast<uint16_t>(~CONN_FLAG_READ_ONLY);
    return SQL_SUCCESS;
}

SQLRETURN SetAutocommit(CONN* conn, SQLULEN value) {
    if (Connected(conn)) {
        if (int rc = SetAgentInt(conn, OA_PROP_AUTOCOMMIT, value); rc != 0)
            return AgentFailed(conn, rc);
    }
    conn->requestedAutocommit = value != SQL_AUTOCOMMIT_OFF;
    if (value != SQL_AUTOCOMMIT_OFF)
        conn->flags |= CONN_FLAG_AUTOCOMMIT;
    else
        conn->flags &= static_cast<uint16_t>(~CONN_FLAG_AUTOCOMMIT);
    return SQL_SUCCESS;
}

SQLRETURN SetIsolation(CONN* conn, SQLULEN value) {
    if (Connected(conn)) {
        if (int rc = SetAgentInt(conn, OA_PROP_TXN_ISOLATION, value); rc != 0)
            return AgentFailed(conn, rc);
        conn->defaultIsolation = static_cast<uint32_t>(value);
    }
    conn->requestedIsolation = static_cast<uint32_t>(value);
    return SQL_SUCCESS;
}

SQLRETURN SetCurrentCatalog(CONN* conn, const std::optional<std::string>& text) {
    if (Connected(conn)) {
        for (const STMT* s = conn->stmts; s != nullptr; s = s->next)
            if ((s->flags & STMT_FLAG_CURSOR_OPEN) != 0)
                return Fail(conn, ERR_INVALID_CURSOR_STATE);
        // The agent refuses a null value as an invalid argument, as ODBC wants.
        if (int rc = SetAgent(conn, OA_PROP_CURRENT_CATALOG, text ? text->c_str() : nullptr); rc != 0)
            return AgentFailed(conn, rc);
    } else if (!text) {
        return Fail(conn, ERR_INVALID_ARGUMENT_VALUE);
    }
    conn->currentCatalog = *text;
    return SQL_SUCCESS;
}

SQLRETURN SetAgentOption(CONN* conn, SQLUSMALLINT option, SQLULEN value, const std::optional<std::string>& text) {
    // The value lives in the agent connection: before it exists there is nowhere to keep it.
    if (!Connected(conn))
        return Fail(conn, ERR_CONNECTION_NOT_OPEN);
    int rc = IsAgentTextOption(option) ? SetAgent(conn, AgentTextCode(option), text ? text->c_str() : nullptr)
                                       : SetAgentInt(conn, AgentIntCode(option), value);
    if (rc == 0)
        return SQL_SUCCESS;
    if (rc == ERR_OPTION_VALUE_CHANGED) {
        conn->diag.errCode = rc;
        return SQL_SUCCESS_WITH_INFO;
    }
    // An option the agent does not handle is out of range for this driver.
    conn->diag.errCode = rc == ERR_DRIVER_NOT_CAPABLE ? ERR_OPTION_TYPE_OUT_OF_RANGE : rc;
    if (IsAgentTextOption(option))
        ConnGetAgentErrors(conn, nullptr);
    return SQL_ERROR;
}

// Joins (value not null) or leaves (null) the coordinator's transaction.
SQLRETURN SetEnlistment(CONN* conn, SQLULEN value) {
    int rc = ConnSetDtcEnlistment(conn, reinterpret_cast<ITransaction*>(static_cast<uintptr_t>(value)));
    return rc == 0 ? SQL_SUCCESS : Fail(conn, rc);
}

SQLRETURN SetFailover(CONN* conn, SQLUSMALLINT option, SQLULEN value) {
    if (!Connected(conn))
        return Fail(conn, ERR_FUNCTION_SEQUENCE_ERROR);
    if (conn->agentCaps[CONN_CAP_FAILOVER] == 0)
        return Fail(conn, ERR_DRIVER_NOT_CAPABLE);
    if (option == kOptionFailoverContext) {
        conn->callGate.failoverContext = reinterpret_cast<void*>(value);
        return SQL_SUCCESS;
    }
    if (int rc = SetAgentInt(conn, kPropFailover, value != 0 ? 1 : 0); rc != 0)
        return AgentFailed(conn, rc);
    conn->callGate.failover = reinterpret_cast<FailoverCallback>(value);
    return SQL_SUCCESS;
}

// The option with its text already read (for the text options; none for a null value).
SQLRETURN SetOption(CONN* conn, SQLUSMALLINT option, SQLULEN value, const std::optional<std::string>& text) {
    if (IsStmtOption(option)) {
        if (OdbcVersion(conn) >= 3)
            return Fail(conn, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
        return ConnSetStmtOption(conn, option, value);
    }
    if (IsAgentIntOption(option, false) || IsAgentTextOption(option))
        return SetAgentOption(conn, option, value, text);
    switch (option) {
    case SQL_ASYNC_ENABLE:
        if (OdbcVersion(conn) >= 3)
            return Fail(conn, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
        if (value != 0)
            conn->flags |= CONN_FLAG_ASYNC;
        else
            conn->flags &= static_cast<uint16_t>(~CONN_FLAG_ASYNC);
        return SQL_SUCCESS;
    case SQL_ACCESS_MODE:
        return SetAccessMode(conn, value);
    case SQL_AUTOCOMMIT:
        return SetAutocommit(conn, value);
    case SQL_LOGIN_TIMEOUT:
        conn->loginTimeout = static_cast<uint32_t>(value);
        return SQL_SUCCESS;
    case SQL_OPT_TRACE:
    case SQL_OPT_TRACEFILE:
    case SQL_PACKET_SIZE:
        return SQL_SUCCESS;  // the driver manager's, or fixed
    case SQL_TRANSLATE_DLL:
        conn->translateLib = text;
        return SQL_SUCCESS;
    case SQL_TRANSLATE_OPTION:
        conn->translateOption = static_cast<uint32_t>(value);
        return SQL_SUCCESS;
    case SQL_TXN_ISOLATION:
        return SetIsolation(conn, value);
    case SQL_CURRENT_QUALIFIER:
        return SetCurrentCatalog(conn, text);
    case SQL_QUIET_MODE:
        Drv().quietWindow.store(static_cast<int64_t>(value));
        return SQL_SUCCESS;
    case kOption1051:
        if (Connected(conn))
            return Fail(conn, ERR_FUNCTION_SEQUENCE_ERROR);
        conn->option1051 = text;
        return SQL_SUCCESS;
    case SQL_ATTR_ENLIST_IN_DTC:
        return SetEnlistment(conn, value);
    case kOptionFailover:
    case kOptionFailoverContext:
        return SetFailover(conn, option, value);
    default:
        return Fail(conn, ERR_OPTION_TYPE_OUT_OF_RANGE);
    }
}

// ---- reading ----

// One option's answer: a 4-byte or 8-byte number, or a text in the driver's text code.
struct Answer {
    enum Kind { U32, ULen, Text } kind = U32;
    SQLULEN number = 0;
    std::string text;
};
Answer U32(SQLULEN v) {
    return {Answer::U32, v, {}};
}
Answer ULen(SQLULEN v) {
    return {Answer::ULen, v, {}};
}
Answer Text(std::string t) {
    return {Answer::Text, 0, std::move(t)};
}

// The agent's code for a property it does not answer reads as an option out of range.
SQLRETURN AgentReadFailed(CONN* conn, int rc) {
    return Fail(conn, rc == ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION ? ERR_OPTION_TYPE_OUT_OF_RANGE : rc);
}

// SQL_SUCCESS with the answer; otherwise nothing is answered (SQL_NO_DATA, or SQL_ERROR
// with the code on the connection).
SQLRETURN AnswerOption(CONN* conn, SQLUSMALLINT option, Answer* out) {
    if (IsAgentIntOption(option, true) || IsAgentTextOption(option)) {
        if (!Connected(conn))
            return Fail(conn, ERR_CONNECTION_NOT_OPEN);
        if (IsAgentTextOption(option)) {
            std::string text;
            if (int rc = GetAgentText(conn, AgentTextCode(option), &text); rc != 0)
                return AgentReadFailed(conn, rc);
            *out = Text(std::move(text));
            return SQL_SUCCESS;
        }
        int32_t v = 0;
        if (int rc = GetAgent(conn, AgentIntCode(option), &v, sizeof v); rc != 0)
            return AgentReadFailed(conn, rc);
        *out = U32(static_cast<uint32_t>(v));
        return SQL_SUCCESS;
    }
    switch (option) {
    case SQL_ASYNC_ENABLE:
        *out = ULen((conn->flags & CONN_FLAG_ASYNC) != 0 ? SQL_ASYNC_ENABLE_ON : SQL_ASYNC_ENABLE_OFF);
        return SQL_SUCCESS;
    case SQL_ACCESS_MODE:
        *out = U32((conn->flags & CONN_FLAG_READ_ONLY) != 0 ? SQL_MODE_READ_ONLY : SQL_MODE_READ_WRITE);
        return SQL_SUCCESS;
    case SQL_AUTOCOMMIT:
        *out = U32((conn->flags & CONN_FLAG_AUTOCOMMIT) != 0 ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
        return SQL_SUCCESS;
    case SQL_LOGIN_TIMEOUT:
        *out = U32(conn->loginTimeout);
        return SQL_SUCCESS;
    case SQL_OPT_TRACE:
        *out = U32(SQL_OPT_TRACE_OFF);
        return SQL_SUCCESS;
    case SQL_OPT_TRACEFILE:
        *out = Text("");
        return SQL_SUCCESS;
    case SQL_TRANSLATE_DLL:
        if (!conn->translateLib)
            return SQL_NO_DATA;
        *out = Text(*conn->translateLib);
        return SQL_SUCCESS;
    case SQL_TRANSLATE_OPTION:
        *out = U32(conn->translateOption);
        return SQL_SUCCESS;
    case SQL_TXN_ISOLATION:
        // The isolation in force; before connecting, the one the application asked for,
        // since no other is known yet.
        if (Connected(conn) && conn->defaultIsolation != 0) {
            *out = U32(conn->defaultIsolation);
        } else if (!Connected(conn) && conn->requestedIsolation != 0) {
            *out = U32(conn->requestedIsolation);
        } else if (Connected(conn)) {
            int32_t v = 0;
            if (int rc = GetAgent(conn, OA_PROP_TXN_ISOLATION, &v, sizeof v); rc != 0)
                return AgentReadFailed(conn, rc);
            *out = U32(static_cast<uint32_t>(v));
        } else {
            return Fail(conn, ERR_CONNECTION_NOT_OPEN);
        }
        return SQL_SUCCESS;
    case SQL_CURRENT_QUALIFIER:
        // What the application set; else what the agent says is current.
        if (conn->currentCatalog) {
            *out = Text(*conn->currentCatalog);
        } else if (Connected(conn)) {
            std::string text;
            if (int rc = GetAgentText(conn, kPropInfoCatalog, &text); rc != 0)
                return AgentReadFailed(conn, rc);
            *out = Text(std::move(text));
        } else {
            *out = Text("");
        }
        return SQL_SUCCESS;
    case SQL_ODBC_CURSORS:
        *out = ULen(SQL_CUR_USE_IF_NEEDED);
        return SQL_SUCCESS;
    case SQL_QUIET_MODE: {
        int64_t window = Drv().quietWindow.load();
        *out = ULen(window == -2 ? 0 : static_cast<SQLULEN>(window));
        return SQL_SUCCESS;
    }
    case SQL_PACKET_SIZE:
        *out = U32(4096);
        return SQL_SUCCESS;
    default:
        return Fail(conn, ERR_OPTION_TYPE_OUT_OF_RANGE);
    }
}

void PutNumber(const Answer& a, void* value) {
    if (value == nullptr)
        return;
    if (a.kind == Answer::ULen) {
        std::memcpy(value, &a.number, sizeof(SQLULEN));
    } else {
        auto v = static_cast<SQLUINTEGER>(a.number);
        std::memcpy(value, &v, sizeof v);
    }
}

}  // namespace

SQLRETURN ConnSetStmtOption(CONN* conn, SQLUSMALLINT option, SQLULEN value) {
    // The cursor options live in the connection's cursor record, in 32 bits: a larger
    // value is kept as the largest, and said so.
    bool cut = false;
    if (int32_t* field = CursorOptionField(&conn->cursorDefaults, option)) {
        cut = value > static_cast<SQLULEN>(INT32_MAX);
        *field = cut ? INT32_MAX : static_cast<int32_t>(value);
    } else {
        conn->stmtDefaults[option] = value;
    }
    for (STMT* stmt = conn->stmts; stmt != nullptr; stmt = stmt->next) {
        SQLRETURN rc = StmtSetOption(stmt, option, value);
        if (rc == SQL_SUCCESS)
            continue;
        // The caller reads the diagnostics of the handle it called on.
        if (conn->diag.errCode == 0)
            conn->diag.errCode = stmt->diag.errCode;
        while (std::optional<ERRMSG> m = StmtNextError(stmt))
            ConnAddError(conn, m->text, m->native);
        return rc;
    }
    if (cut) {
        conn->diag.errCode = ERR_OPTION_VALUE_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

SQLRETURN DoSetConnectOption(HANDLE_HDR* h, const SetConnectOptionArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    std::optional<std::string> text;
    if (IsTextOption(a.option) &&
        !TextIn(conn, reinterpret_cast<const void*>(static_cast<uintptr_t>(a.value)), SQL_NTS, a.width, &text))
        return SQL_ERROR;
    return SetOption(conn, a.option, a.value, text);
}

SQLRETURN DoGetConnectOption(HANDLE_HDR* h, const GetConnectOptionArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    Answer answer;
    if (SQLRETURN rc = AnswerOption(conn, a.option, &answer); rc != SQL_SUCCESS)
        return rc;
    if (answer.kind != Answer::Text) {
        PutNumber(answer, a.value);
        return SQL_SUCCESS;
    }
    OutUnit unit = a.width == WIDTH_WIDE ? OutUnit::Chars : OutUnit::Bytes;
    return OutString(answer.text, a.value, a.value != nullptr ? kOptionTextRoom : 0, unit, a.width,
                     static_cast<SQLINTEGER*>(nullptr), a.value != nullptr ? &conn->diag : nullptr);
}

SQLRETURN DoSetConnectAttr(HANDLE_HDR* h, const SetConnectAttrArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    const SQLINTEGER attr = a.attribute;
    const auto value = static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(a.value));
    switch (attr) {
    case SQL_ATTR_ASYNC_ENABLE:
        conn->asyncEnable = value;
        for (STMT* s = conn->stmts; s != nullptr; s = s->next)
            s->asyncEnable = static_cast<uint32_t>(value);
        return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_AUTO_IPD:
    case SQL_ATTR_METADATA_ID:
        return Fail(conn, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    default:
        break;
    }
    // The attributes that are options too; SQL_ROWSET_SIZE is a statement attribute of
    // its own in ODBC 3.
    const bool passed = (attr >= 0 && attr <= SQL_USE_BOOKMARKS && attr != SQL_ROWSET_SIZE) ||
                        (attr >= SQL_ACCESS_MODE && attr <= SQL_PACKET_SIZE) || attr == kOption1051 ||
                        attr == SQL_ATTR_ENLIST_IN_DTC || attr == kOptionFailover ||
                        attr == kOptionFailoverContext;
    if (!passed)
        return Fail(conn, ERR_OPTION_TYPE_OUT_OF_RANGE);
    auto option = static_cast<SQLUSMALLINT>(attr);
    std::optional<std::string> text;
    if (IsTextOption(option) && !TextIn(conn, a.value, a.stringLength, a.width, &text))
        return SQL_ERROR;
    return SetOption(conn, option, value, text);
}

SQLRETURN DoGetConnectAttr(HANDLE_HDR* h, const GetConnectAttrArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    const SQLINTEGER attr = a.attribute;
    Answer answer;
    switch (attr) {
    case SQL_QUERY_TIMEOUT:
        if (OdbcVersion(conn) >= 3)
            return Fail(conn, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
        answer = ULen(conn->stmtDefaults[SQL_QUERY_TIMEOUT]);
        break;
    case SQL_ATTR_ASYNC_ENABLE:
        answer = ULen(conn->asyncEnable);
        break;
    case SQL_ATTR_CONNECTION_DEAD:
        answer = U32(SQL_CD_FALSE);
        break;
    case SQL_ATTR_AUTO_IPD:
        answer = U32(SQL_FALSE);
        break;
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_METADATA_ID:
        return Fail(conn, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    default:
        if (attr < SQL_ACCESS_MODE || attr > SQL_PACKET_SIZE)
            return Fail(conn, ERR_OPTION_TYPE_OUT_OF_RANGE);
        if (IsTextOption(static_cast<SQLUSMALLINT>(attr)) && a.bufferLength < 0)
            return Fail(conn, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
        if (SQLRETURN rc = AnswerOption(conn, static_cast<SQLUSMALLINT>(attr), &answer); rc != SQL_SUCCESS)
            return rc;
        break;
    }
    if (answer.kind == Answer::Text)
        return OutString(answer.text, a.value, a.bufferLength, OutUnit::Bytes, a.width, a.stringLength, &conn->diag);
    PutNumber(answer, a.value);
    if (a.stringLength != nullptr)
        *a.stringLength = answer.kind == Answer::ULen ? sizeof(SQLULEN) : sizeof(SQLUINTEGER);
    return SQL_SUCCESS;
}
