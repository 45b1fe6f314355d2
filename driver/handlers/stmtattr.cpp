// Statement options, attributes and column binding.
//
// SQL_GET_BOOKMARK is the cursor library's bookmark of the current row (a forward-only
// cursor has none: S1C00); SQL_ROW_NUMBER is the statement's own row number for a
// forward-only cursor and the row's number in the result for the others; column 0 is
// bindable when the agent answers information item 82 (SQL_BOOKMARK_PERSISTENCE) with a
// non-zero value.
#include "driver/handlers/stmtattr.h"

#include <sqlext.h>

#include <cstring>
#include <mutex>

#include "driver/exec/convert/valtypes.h"
#include "driver/frame/globals.h"
#include "driver/handlers/descfield.h"
#include "driver/objects/desc.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

constexpr uint32_t kOptionCodeBase = 0x32030000;  // statement, 32-bit value, options group
constexpr uint32_t kOption1226Code = 0x31030000 + 1226;

// The driver's own options.
constexpr uint16_t kOption1048 = 1048;
constexpr uint16_t kOption1049 = 1049;
constexpr uint16_t kOption1050 = 1050;
constexpr uint16_t kOption1052 = 1052;
constexpr uint16_t kOption1054 = 1054;

// Information item the agent answers non-zero when it keeps bookmarks.
constexpr uint16_t kInfoBookmarkPersistence = 82;

// Capability bit of an agent that takes a maximum length, and the least it takes.
constexpr uint32_t kCapMaxLength = 0x1000;
constexpr int kCapMaxLengthIndex = 2;
static_assert((OA_CAP_AGENT_FIRST << kCapMaxLengthIndex) == kCapMaxLength);
constexpr SQLULEN kMinMaxLength = 8192;

// Options the agent alone gives a meaning to: forwarded, never stored here.
bool IsForwardedOption(uint16_t option) {
    switch (option) {
    case 1225: case 1226: case 1227: case 1228: case 1229: case 1250: case 1251: case 1260: case 1261:
    case 1264: case 1265: case 1268: case 1276: case 1277: case 1278:
        return true;
    default:
        return false;
    }
}

uint32_t OptionCode(uint16_t option) {
    return option == 1226 ? kOption1226Code : kOptionCodeBase + option;
}

// An ODBC option value in the agent's 32 bits: larger values become the largest.
int32_t Saturated(SQLULEN v) {
    return v > static_cast<SQLULEN>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(v);
}

SQLULEN ULen(SQLPOINTER value) {
    return static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(value));
}

// A 32-bit field of the cursor record as an option value.
SQLULEN FieldValue(int32_t field) {
    return static_cast<SQLULEN>(static_cast<uint32_t>(field));
}

SQLRETURN Changed(STMT* stmt) {
    stmt->diag.errCode = ERR_OPTION_VALUE_CHANGED;
    return SQL_SUCCESS_WITH_INFO;
}

int SendOption(STMT* stmt, uint16_t option, int32_t value) {
    return CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_SetProperty, stmt->agentStmt, OptionCode(option),
                    static_cast<const void*>(&value));
}

int AskOption(STMT* stmt, uint16_t option, int32_t* out) {
    int32_t len = 0;
    return CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_GetProperty, stmt->agentStmt, OptionCode(option),
                    static_cast<void*>(out), int32_t{sizeof *out}, &len);
}

// The value of an option and its width in bytes (8 for the ODBC options, 4 for the
// driver's). Values the agent may have changed are asked from it while its 75 is pending
// (the read-back after a set). 0 or an internal code; an agent that cannot answer gives 27.
int ReadOption(STMT* stmt, uint16_t option, SQLULEN* value, size_t* width) {
    const bool readBack = stmt->diag.errCode == ERR_OPTION_VALUE_CHANGED;
    const SCS_CURSOR& cur = stmt->cursor;
    *width = sizeof(SQLULEN);
    auto stored = [&](SQLULEN v) {
        *value = v;
        return 0;
    };
    auto fromAgent = [&]() {
        int32_t v = 0;
        if (AskOption(stmt, option, &v) != 0)
            return static_cast<int>(ERR_OPTION_TYPE_OUT_OF_RANGE);
        *value = static_cast<uint32_t>(v);
        return 0;
    };
    switch (option) {
    case SQL_QUERY_TIMEOUT: return stored(static_cast<SQLULEN>(stmt->queryTimeout));
    case SQL_MAX_ROWS: return fromAgent();
    case SQL_NOSCAN: return fromAgent();
    case SQL_MAX_LENGTH: return readBack ? fromAgent() : stored(stmt->maxLength);
    case SQL_ASYNC_ENABLE: return stored(stmt->asyncEnable != 0 ? 1 : 0);
    case SQL_BIND_TYPE: return stored(static_cast<SQLULEN>(static_cast<uint32_t>(stmt->bindType)));
    case SQL_CURSOR_TYPE: return readBack ? fromAgent() : stored(FieldValue(cur.cursorType));
    case SQL_CONCURRENCY: return readBack ? fromAgent() : stored(FieldValue(cur.concurrency));
    case SQL_KEYSET_SIZE: return readBack ? fromAgent() : stored(FieldValue(cur.keysetSize));
    case SQL_ROWSET_SIZE: return readBack ? fromAgent() : stored(FieldValue(cur.rowsetSize));
    case SQL_SIMULATE_CURSOR: return readBack ? fromAgent() : stored(FieldValue(cur.simulateCursor));
    case SQL_RETRIEVE_DATA: return stored(FieldValue(cur.retrieveData));
    case SQL_USE_BOOKMARKS: return stored(FieldValue(cur.useBookmarks));
    case SQL_GET_BOOKMARK:
        if (stmt->state != STMT_STATE_PREPARED)
            return ERR_INVALID_CURSOR_STATE;
        if (cur.useBookmarks == 0)
            return ERR_OPERATION_INVALID_AT_THIS_TIME;
        if (cur.cursorType == SQL_CURSOR_FORWARD_ONLY)
            return ERR_DRIVER_NOT_CAPABLE;  // a forward-only cursor has no bookmarks
        if (cur.position == SCS_POS_WHOLE_ROWSET)
            return ERR_INVALID_CURSOR_STATE;  // an operation on every row leaves no one current row
        {
            int32_t bookmark = 0;
            if (const int rc = scs_GetBookmark(&cur, static_cast<uint32_t>(cur.position - 1), &bookmark); rc != 0)
                return rc;
            return stored(static_cast<SQLULEN>(static_cast<uint32_t>(bookmark)));
        }
    case SQL_ROW_NUMBER:
        if (stmt->state != STMT_STATE_PREPARED)
            return ERR_INVALID_CURSOR_STATE;
        if (cur.cursorType == SQL_CURSOR_FORWARD_ONLY)
            return stored(stmt->rowNumber);
        // A scrollable cursor's row is counted in the result: none before the start, after
        // the end, without a rowset, or on a dynamic or mixed cursor, which numbers no rows.
        return stored(cur.rowset != nullptr && cur.position >= 1 && cur.rowsetStart >= 1
                          ? static_cast<SQLULEN>(static_cast<uint32_t>(cur.rowsetStart + cur.position - 1))
                          : 0);
    default:
        break;
    }
    *width = sizeof(int32_t);
    switch (option) {
    case kOption1048: case kOption1049: return fromAgent();
    case kOption1050: return readBack ? fromAgent() : stored(FieldValue(cur.comparedColumns));
    case kOption1052: return readBack ? fromAgent() : stored(cur.keyRequest1052);
    case kOption1054: return readBack ? fromAgent() : stored(cur.keyRequest1054);
    default: return IsForwardedOption(option) ? fromAgent() : ERR_OPTION_TYPE_OUT_OF_RANGE;
    }
}

// Gives the agent an option as the 32-bit value sent. Accepted: store(asked). Answered 75:
// the value the agent took is read back and stored, 75 stays pending
// (SQL_SUCCESS_WITH_INFO); a failed read-back stores nothing and fails with its code. Any
// other answer fails with refusedCode, or with the agent's own code when refusedCode is 0.
template <class Store>
SQLRETURN Offer(STMT* stmt, uint16_t option, SQLULEN asked, int32_t sent, int refusedCode, Store store) {
    int rc = SendOption(stmt, option, sent);
    if (rc == 0) {
        store(asked);
        return SQL_SUCCESS;
    }
    if (rc == ERR_OPTION_VALUE_CHANGED) {
        stmt->diag.errCode = ERR_OPTION_VALUE_CHANGED;
        SQLULEN taken = 0;
        size_t width = 0;
        if (int rb = ReadOption(stmt, option, &taken, &width); rb != 0)
            return StmtFail(stmt, rb);
        store(taken);
        return SQL_SUCCESS_WITH_INFO;
    }
    StmtGetAgentErrors(stmt);
    return StmtFail(stmt, refusedCode != 0 ? refusedCode : rc);
}

// Offer for an option the cursor record keeps in 32 bits: store gets the value as kept, a
// larger one as the largest, which an accepted value then answers with 75.
template <class Store>
SQLRETURN OfferCursorOption(STMT* stmt, uint16_t option, SQLULEN value, int refusedCode, Store store) {
    bool cut = false;
    const SQLRETURN r = Offer(stmt, option, value, Saturated(value), refusedCode, [&](SQLULEN v) {
        cut = v > static_cast<SQLULEN>(INT32_MAX);
        store(Saturated(v));
    });
    return r == SQL_SUCCESS && cut ? Changed(stmt) : r;
}

SQLRETURN SetQueryTimeout(STMT* stmt, SQLULEN value) {
    const auto signedValue = static_cast<int64_t>(value);
    const int32_t timeout = signedValue < 0 ? 0 : Saturated(value);
    const bool cut = signedValue > INT32_MAX;
    int rc = SendOption(stmt, SQL_QUERY_TIMEOUT, timeout);
    if (rc == 0) {
        stmt->queryTimeout = timeout;
        return cut ? Changed(stmt) : SQL_SUCCESS;
    }
    // An agent without timeouts runs without one: only a timeout asked for has changed.
    if (rc == ERR_OPTION_VALUE_CHANGED || rc == ERR_DRIVER_NOT_CAPABLE) {
        stmt->queryTimeout = 0;
        return timeout != 0 ? Changed(stmt) : SQL_SUCCESS;
    }
    StmtGetAgentErrors(stmt);
    return StmtFail(stmt, rc);
}

SQLRETURN SetMaxLength(STMT* stmt, SQLULEN value) {
    if (stmt->conn->agentCaps[kCapMaxLengthIndex] == 0) {
        stmt->maxLength = 0;
        return value != 0 ? Changed(stmt) : SQL_SUCCESS;
    }
    if (stmt->state == STMT_STATE_PREPARED)
        return StmtFail(stmt, ERR_OPERATION_INVALID_AT_THIS_TIME);
    const bool raised = value != 0 && value < kMinMaxLength;
    const SQLULEN wanted = raised ? kMinMaxLength : value;
    SQLRETURN r =
        Offer(stmt, SQL_MAX_LENGTH, wanted, Saturated(wanted), 0, [&](SQLULEN v) { stmt->maxLength = v; });
    return r == SQL_SUCCESS && raised ? Changed(stmt) : r;
}

SQLRETURN SetRowsetSize(STMT* stmt, SQLULEN value) {
    SCS_CURSOR& cur = stmt->cursor;
    const SQLULEN wanted = value == 0 ? 1 : value;
    // Rows of the current block are still being handed out one at a time: a new size
    // would misplace them.
    if (stmt->state == STMT_STATE_PREPARED && (stmt->flags & STMT_FLAG_CURSOR_OPEN) != 0 &&
        cur.cursorType == SQL_CURSOR_FORWARD_ONLY && cur.rowsetSize == 1 && stmt->blockPos != 0 &&
        stmt->blockPos < stmt->rowsPerFetch)
        return Changed(stmt);
    return OfferCursorOption(stmt, SQL_ROWSET_SIZE, wanted, 0, [&](int32_t v) {
        // The size of the current rowset, which the next relative fetch counts from: a
        // second change before that fetch must not take its place.
        if ((cur.flags & SCS_ROWSET_SIZE_CHANGED) == 0)
            cur.lastFetchRowsetSize = cur.rowsetSize;
        cur.flags |= SCS_ROWSET_SIZE_CHANGED;
        cur.rowsetSize = v;
    });
}

SQLRETURN SetForwardedOption(STMT* stmt, uint16_t option, SQLULEN value) {
    int rc = SendOption(stmt, option, static_cast<int32_t>(value));
    if (rc == 0)
        return SQL_SUCCESS;
    if (rc == ERR_OPTION_VALUE_CHANGED)
        return Changed(stmt);
    StmtGetAgentErrors(stmt);
    return StmtFail(stmt, rc == ERR_DRIVER_NOT_CAPABLE ? ERR_OPTION_TYPE_OUT_OF_RANGE : rc);
}

// Sets a header field of one of the statement's current descriptors through the
// descriptor-field core, which carries it into every statement using that descriptor; the
// outcome's code is the statement's, as the call was made on it.
SQLRETURN SetDescHeader(STMT* stmt, DESC* desc, SQLSMALLINT field, SQLPOINTER value) {
    const SQLRETURN r = DescSetField(desc, 0, field, value, 0, WIDTH_NARROW);
    stmt->diag.errCode = desc->diag.errCode;
    desc->diag.errCode = 0;
    return r;
}

// SQL_ATTR_APP_ROW_DESC (row) or SQL_ATTR_APP_PARAM_DESC: a null handle, or the
// statement's own implicit one, brings the implicit descriptor back; an explicit
// descriptor of the connection becomes current. Its bindings become the statement's.
SQLRETURN SetAppDesc(STMT* stmt, SQLPOINTER value, bool row) {
    DESC* implicit = row ? stmt->implicitArd : stmt->implicitApd;
    DESC* target = implicit;
    if (value != nullptr) {
        // The descriptor may be another connection's, which a call there may free: it is
        // read only while its table holds it (its memory goes only after it left there),
        // and only its fields that never change.
        HdlTableGuard guard(&Drv().descTable);
        auto* h = static_cast<HANDLE_HDR*>(hdl_Lookup(&Drv().descTable, HandleId(value)));
        auto* d = static_cast<DESC*>(h);
        if (d == nullptr || d->magic.load() != DESC_MAGIC)
            return StmtFail(stmt, ERR_INVALID_ATTRIBUTE_VALUE);
        if (d != implicit) {
            if (d->conn != stmt->conn)
                return StmtFail(stmt, ERR_INVALID_ATTRIBUTE_VALUE);
            if (d->allocKind != DESC_ALLOC_USER) {
                d->diag.errCode = ERR_INVALID_USE_OF_AN_AUTOMATICALLY_ALLOCATED;
                return StmtFail(stmt, ERR_INVALID_USE_OF_AN_AUTOMATICALLY_ALLOCATED);
            }
        }
        target = d;
    }
    (row ? stmt->ard : stmt->apd) = target;
    if (int rc = row ? StmtApplyARD(stmt, target) : StmtApplyAPD(stmt, target); rc != 0) {
        target->diag.errCode = rc;
        return StmtFail(stmt, rc);
    }
    return SQL_SUCCESS;
}

SQLRETURN SetCursorSensitivity(STMT* stmt, SQLULEN value) {
    switch (value) {
    case SQL_UNSPECIFIED:
        return SQL_SUCCESS;
    case SQL_INSENSITIVE: {
        SQLRETURN r = StmtSetOption(stmt, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY);
        if (r != SQL_SUCCESS)
            return r;
        r = StmtSetOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC);
        if (r == SQL_SUCCESS_WITH_INFO) {
            stmt->diag.errCode = 0;
            return SQL_SUCCESS;
        }
        return r;
    }
    case SQL_SENSITIVE: {
        if (stmt->cursor.concurrency != SQL_CONCUR_READ_ONLY)
            return SQL_SUCCESS;
        SQLRETURN r = StmtSetOption(stmt, SQL_CONCURRENCY, SQL_CONCUR_VALUES);
        if (r == SQL_SUCCESS_WITH_INFO && stmt->cursor.concurrency != SQL_CONCUR_READ_ONLY) {
            stmt->diag.errCode = 0;
            return SQL_SUCCESS;
        }
        return r;
    }
    default:
        return StmtFail(stmt, ERR_INVALID_ATTRIBUTE_VALUE);
    }
}

SQLRETURN SetCursorScrollable(STMT* stmt, SQLULEN value) {
    if (value == SQL_NONSCROLLABLE)
        return StmtSetOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
    if (value != SQL_SCROLLABLE || stmt->cursor.cursorType != SQL_CURSOR_FORWARD_ONLY)
        return SQL_SUCCESS;
    SQLRETURN r = StmtSetOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
    if (r == SQL_SUCCESS_WITH_INFO && stmt->cursor.cursorType != SQL_CURSOR_FORWARD_ONLY) {
        stmt->diag.errCode = 0;
        return SQL_SUCCESS;
    }
    return r;
}

// Whether the agent keeps bookmarks: 0, 43 (S1C00) when it does not, or the agent's code.
int BookmarksAvailable(STMT* stmt) {
    CONN* conn = stmt->conn;
    int32_t persistence = 0;
    int16_t len = 0;
    std::lock_guard<std::recursive_mutex> guard(Drv().connectLock);
    int rc = scs_AgentGetInfo(&conn->holder, conn->agentConn, kInfoBookmarkPersistence, &persistence,
                              int16_t{sizeof persistence}, &len);
    if (rc != 0)
        return rc;
    return persistence == 0 ? ERR_DRIVER_NOT_CAPABLE : 0;
}

void PutULen(void* out, SQLULEN v) {
    if (out != nullptr)
        std::memcpy(out, &v, sizeof v);
}

void PutPointer(void* out, const void* p) {
    PutULen(out, static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(p)));
}

}  // namespace

SQLRETURN StmtApplyConnDefaults(STMT* stmt) {
    const CONN* conn = stmt->conn;
    stmt->asyncEnable = conn->asyncEnable != SQL_ASYNC_ENABLE_OFF ? 1 : 0;
    for (uint16_t option = 0; option < CONN_STMT_OPTIONS; ++option) {
        if (option == SQL_ASYNC_ENABLE || conn->stmtDefaults[option] == CONN_STMT_OPTION_INITIAL[option])
            continue;
        if (StmtSetOption(stmt, option, conn->stmtDefaults[option]) == SQL_ERROR)
            return SQL_ERROR;
    }
    // The statement's cursor record already holds the connection's cursor defaults; the
    // agent statement is given each one that differs from a new record's.
    static const SCS_CURSOR kInitial{};
    for (uint16_t option = SQL_CURSOR_TYPE; option <= SQL_USE_BOOKMARKS; ++option) {
        const int32_t value = *CursorOptionField(&conn->cursorDefaults, option);
        if (value == *CursorOptionField(&kInitial, option))
            continue;
        if (StmtSetOption(stmt, option, FieldValue(value)) == SQL_ERROR)
            return SQL_ERROR;
    }
    // What the agent changed stays changed; the new statement owes no warning.
    stmt->diag.errCode = 0;
    return SQL_SUCCESS;
}

SQLRETURN StmtSetOption(STMT* stmt, uint16_t option, SQLULEN value) {
    SCS_CURSOR& cur = stmt->cursor;
    switch (option) {
    case SQL_QUERY_TIMEOUT:
        return SetQueryTimeout(stmt, value);
    case SQL_MAX_ROWS:
        // The agent counts in 32 bits; the statement keeps what was asked.
        return Offer(stmt, option, value, Saturated(value), 0, [&](SQLULEN v) { stmt->maxRows = v; });
    case SQL_NOSCAN:
        return Offer(stmt, option, value != 0, value != 0 ? 1 : 0, 0,
                     [&](SQLULEN v) { stmt->noScan = v != 0 ? 1 : 0; });
    case SQL_MAX_LENGTH:
        return SetMaxLength(stmt, value);
    case SQL_ASYNC_ENABLE:
        stmt->asyncEnable = value != 0 ? 1 : 0;
        return SQL_SUCCESS;
    case SQL_BIND_TYPE:
        stmt->bindType = Saturated(value);
        stmt->ard->bindType = stmt->bindType;
        return SQL_SUCCESS;
    case SQL_CURSOR_TYPE:
        return OfferCursorOption(stmt, option, value, ERR_OPTION_TYPE_OUT_OF_RANGE,
                                 [&](int32_t v) { cur.requestedType = cur.cursorType = v; });
    case SQL_CONCURRENCY:
        return OfferCursorOption(stmt, option, value, ERR_OPTION_TYPE_OUT_OF_RANGE,
                                 [&](int32_t v) { cur.requestedConcurrency = cur.concurrency = v; });
    case SQL_KEYSET_SIZE:
        return OfferCursorOption(stmt, option, value, ERR_OPTION_TYPE_OUT_OF_RANGE,
                                 [&](int32_t v) { cur.keysetSize = v; });
    case SQL_ROWSET_SIZE:
        return SetRowsetSize(stmt, value);
    case SQL_SIMULATE_CURSOR:
        return OfferCursorOption(stmt, option, value, ERR_OPTION_TYPE_OUT_OF_RANGE,
                                 [&](int32_t v) { cur.simulateCursor = v; });
    case SQL_RETRIEVE_DATA: {
        const int32_t v = Saturated(value);
        if (SendOption(stmt, option, v) != 0)
            return StmtFail(stmt, ERR_OPTION_TYPE_OUT_OF_RANGE);
        cur.retrieveData = v;
        return SQL_SUCCESS;
    }
    case SQL_USE_BOOKMARKS:
        // Kept as set: column 0 is there for any value but SQL_UB_OFF.
        cur.useBookmarks = Saturated(value);
        return value > static_cast<SQLULEN>(INT32_MAX) ? Changed(stmt) : SQL_SUCCESS;
    case kOption1050:
        return Offer(stmt, option, value, static_cast<int32_t>(value), ERR_OPTION_TYPE_OUT_OF_RANGE,
                     [&](SQLULEN v) { cur.comparedColumns = static_cast<int32_t>(v); });
    case kOption1052:
        return Offer(stmt, option, value, static_cast<int32_t>(value), 0,
                     [&](SQLULEN v) { cur.keyRequest1052 = static_cast<uint32_t>(v); });
    case kOption1054:
        return Offer(stmt, option, value, static_cast<int32_t>(value), 0,
                     [&](SQLULEN v) { cur.keyRequest1054 = static_cast<uint32_t>(v); });
    default:
        if (IsForwardedOption(option))
            return SetForwardedOption(stmt, option, value);
        return StmtFail(stmt, ERR_OPTION_TYPE_OUT_OF_RANGE);
    }
}

SQLRETURN StmtGetOption(STMT* stmt, uint16_t option, void* out) {
    if (out == nullptr)
        return SQL_SUCCESS;
    SQLULEN value = 0;
    size_t width = 0;
    if (int rc = ReadOption(stmt, option, &value, &width); rc != 0)
        return StmtFail(stmt, rc);
    if (width == sizeof(SQLULEN)) {
        std::memcpy(out, &value, sizeof value);
    } else {
        const auto v32 = static_cast<uint32_t>(value);
        std::memcpy(out, &v32, sizeof v32);
    }
    return SQL_SUCCESS;
}

SQLRETURN StmtSetAttr(STMT* stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, int) {
    switch (attribute) {
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH: case SQL_ASYNC_ENABLE:
    case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE: case SQL_ROWSET_SIZE:
    case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA: case SQL_USE_BOOKMARKS: case SQL_ROW_NUMBER:
    case kOption1052: case kOption1054:
        return StmtSetOption(stmt, static_cast<uint16_t>(attribute), ULen(value));
    case SQL_ATTR_ROW_BIND_TYPE:
        return SetDescHeader(stmt, stmt->ard, SQL_DESC_BIND_TYPE, value);
    case SQL_ATTR_ENABLE_AUTO_IPD:
        return value == nullptr ? SQL_SUCCESS : Changed(stmt);
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
        stmt->fetchBookmark = value;
        return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
        return SetDescHeader(stmt, stmt->apd, SQL_DESC_BIND_OFFSET_PTR, value);
    case SQL_ATTR_PARAM_BIND_TYPE:
        return SetDescHeader(stmt, stmt->apd, SQL_DESC_BIND_TYPE, value);
    case SQL_ATTR_PARAM_OPERATION_PTR:
        return SetDescHeader(stmt, stmt->apd, SQL_DESC_ARRAY_STATUS_PTR, value);
    case SQL_ATTR_PARAM_STATUS_PTR:
        return SetDescHeader(stmt, stmt->ipd, SQL_DESC_ARRAY_STATUS_PTR, value);
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
        return SetDescHeader(stmt, stmt->ipd, SQL_DESC_ROWS_PROCESSED_PTR, value);
    case SQL_ATTR_PARAMSET_SIZE:
        return SetDescHeader(stmt, stmt->apd, SQL_DESC_ARRAY_SIZE, value);
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
        return SetDescHeader(stmt, stmt->ard, SQL_DESC_BIND_OFFSET_PTR, value);
    case SQL_ATTR_ROW_OPERATION_PTR:
        return SetDescHeader(stmt, stmt->ard, SQL_DESC_ARRAY_STATUS_PTR, value);
    case SQL_ATTR_ROW_STATUS_PTR:
        return SetDescHeader(stmt, stmt->ird, SQL_DESC_ARRAY_STATUS_PTR, value);
    case SQL_ATTR_ROWS_FETCHED_PTR:
        return SetDescHeader(stmt, stmt->ird, SQL_DESC_ROWS_PROCESSED_PTR, value);
    case SQL_ATTR_ROW_ARRAY_SIZE:
        return SetDescHeader(stmt, stmt->ard, SQL_DESC_ARRAY_SIZE, value);
    case SQL_ATTR_APP_ROW_DESC:
        return SetAppDesc(stmt, value, true);
    case SQL_ATTR_APP_PARAM_DESC:
        return SetAppDesc(stmt, value, false);
    case SQL_ATTR_METADATA_ID:
        return StmtFail(stmt, ERR_DRIVER_NOT_CAPABLE);
    case SQL_ATTR_CURSOR_SENSITIVITY:
        return SetCursorSensitivity(stmt, ULen(value));
    case SQL_ATTR_CURSOR_SCROLLABLE:
        return SetCursorScrollable(stmt, ULen(value));
    default:
        return StmtFail(stmt, ERR_OPTION_TYPE_OUT_OF_RANGE);
    }
}

int StmtBindCol(STMT* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data, SQLLEN bufferLength,
                SQLLEN* indicator) {
    stmt->diag.errCode = 0;
    if (bufferLength < 0)
        return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
    if (column > STMT_MAX_BIND_COLUMN)
        return ERR_INVALID_COLUMN_NUMBER;
    if (bufferLength == 0 && column != 0 && cType != SQL_C_DEFAULT)
        bufferLength = CTypeOctetLength(cType);
    // Unbinding the bookmark column needs no bookmarks.
    if (column == 0 && data != nullptr) {
        if (int rc = BookmarksAvailable(stmt); rc != 0)
            return rc;
        if (cType != SQL_C_BINARY && cType != SQL_C_UBIGINT)
            return ERR_PROGRAM_TYPE_OUT_OF_RANGE;
        bufferLength = sizeof(SQLULEN);
    }

    // A null data pointer unbinds the data buffer alone: a length/indicator buffer given
    // with it stays bound and is written at every fetch (not so for the bookmark column).
    if (data != nullptr || (indicator != nullptr && column != 0)) {
        BINDCOL b;
        b.column = column;
        b.cType = cType;
        b.data = data;
        b.bufferLength = bufferLength;
        b.indicator = indicator;
        b.octetLength = indicator;
        if (int rc = StmtBindColAdd(stmt, std::move(b)); rc != 0)
            return rc;
        if (int rc = DescGrowRecs(stmt->ard, column); rc != 0)
            return rc;
    } else {
        StmtBindColRemove(stmt, column);
    }
    // The current ARD keeps the binding too: it is what comes back when an explicit ARD
    // is dropped.
    if (DESCREC* rec = DescGetRec(stmt->ard, column)) {
        rec->conciseType = cType;
        rec->type = DescVerboseType(cType);
        rec->data = data;
        rec->octetLength = bufferLength;
        rec->octetLengthPtr = indicator;
        rec->indicator = indicator;
    }
    return 0;
}

SQLRETURN DoSetStmtOption(HANDLE_HDR* h, const SetStmtOptionArgs& a) {
    return StmtSetOption(static_cast<STMT*>(h), a.option, a.value);
}

SQLRETURN DoGetStmtOption(HANDLE_HDR* h, const GetStmtOptionArgs& a) {
    return StmtGetOption(static_cast<STMT*>(h), a.option, a.value);
}

SQLRETURN DoSetStmtAttr(HANDLE_HDR* h, const SetStmtAttrArgs& a) {
    return StmtSetAttr(static_cast<STMT*>(h), a.attribute, a.value, a.length, a.width);
}

SQLRETURN DoGetStmtAttr(HANDLE_HDR* h, const GetStmtAttrArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    const SCS_CURSOR& cur = stmt->cursor;
    switch (a.attribute) {
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH: case SQL_ASYNC_ENABLE:
    case SQL_BIND_TYPE: case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE: case SQL_ROWSET_SIZE:
    case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA: case SQL_USE_BOOKMARKS: case SQL_GET_BOOKMARK:
    case SQL_ROW_NUMBER: case kOption1048: case kOption1049: case kOption1052: case kOption1054:
        return StmtGetOption(stmt, static_cast<uint16_t>(a.attribute), a.value);
    case SQL_ATTR_ENABLE_AUTO_IPD: PutULen(a.value, SQL_FALSE); break;
    case SQL_ATTR_FETCH_BOOKMARK_PTR: PutPointer(a.value, stmt->fetchBookmark); break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: PutPointer(a.value, stmt->apd->bindOffset); break;
    case SQL_ATTR_PARAM_BIND_TYPE: PutULen(a.value, static_cast<uint32_t>(stmt->apd->bindType)); break;
    case SQL_ATTR_PARAM_OPERATION_PTR: PutPointer(a.value, stmt->apd->arrayStatus); break;
    case SQL_ATTR_PARAM_STATUS_PTR: PutPointer(a.value, stmt->ipd->arrayStatus); break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: PutPointer(a.value, stmt->rowsProcessed); break;
    case SQL_ATTR_PARAMSET_SIZE: PutULen(a.value, stmt->paramSetSize); break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: PutPointer(a.value, stmt->ard->bindOffset); break;
    case SQL_ATTR_ROW_OPERATION_PTR: PutPointer(a.value, stmt->ard->arrayStatus); break;
    case SQL_ATTR_ROW_STATUS_PTR: PutPointer(a.value, stmt->ird->arrayStatus); break;
    case SQL_ATTR_ROWS_FETCHED_PTR: PutPointer(a.value, stmt->rowsFetched); break;
    case SQL_ATTR_ROW_ARRAY_SIZE: PutULen(a.value, FieldValue(cur.rowsetSize)); break;
    case SQL_ATTR_APP_ROW_DESC: case SQL_ATTR_APP_PARAM_DESC: case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC: {
        const DESC* d = a.attribute == SQL_ATTR_APP_ROW_DESC     ? stmt->ard
                        : a.attribute == SQL_ATTR_APP_PARAM_DESC ? stmt->apd
                        : a.attribute == SQL_ATTR_IMP_ROW_DESC   ? stmt->ird
                                                                 : stmt->ipd;
        PutPointer(a.value, HandleFromId(d->id));
        if (a.length != nullptr)
            *a.length = SQL_IS_POINTER;
        break;
    }
    case SQL_ATTR_METADATA_ID:
        return StmtFail(stmt, ERR_DRIVER_NOT_CAPABLE);
    case SQL_ATTR_CURSOR_SENSITIVITY:
        PutULen(a.value, cur.concurrency == SQL_CONCUR_READ_ONLY ? SQL_INSENSITIVE : SQL_SENSITIVE);
        break;
    case SQL_ATTR_CURSOR_SCROLLABLE:
        PutULen(a.value, cur.cursorType == SQL_CURSOR_KEYSET_DRIVEN || cur.cursorType == SQL_CURSOR_DYNAMIC ||
                                 cur.cursorType == SQL_CURSOR_STATIC
                             ? SQL_SCROLLABLE
                             : SQL_NONSCROLLABLE);
        break;
    default:
        return StmtFail(stmt, ERR_OPTION_TYPE_OUT_OF_RANGE);
    }
    return SQL_SUCCESS;
}

SQLRETURN DoBindCol(HANDLE_HDR* h, const BindColArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    if (int rc = StmtBindCol(stmt, a.column, a.cType, a.data, a.bufferLength, a.indicator); rc != 0)
        return StmtFail(stmt, rc);
    return SQL_SUCCESS;
}
