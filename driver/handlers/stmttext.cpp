// Statement text calls.
#include "driver/handlers/stmttext.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "driver/exec/execute.h"
#include "driver/frame/trace.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "util/errcode.h"

namespace {

// Largest output size SQLNativeSql works with.
constexpr SQLINTEGER kNativeSqlMaxOut = 32767;

// A NUL-terminated copy of an input text of the given length (bytes, or SQL_NTS). None,
// with S1009 for a null text or S1090 for a negative length other than SQL_NTS.
std::optional<std::string> TextArg(HANDLE_HDR* h, const char* text, SQLINTEGER length) {
    if (length < 0 && length != SQL_NTS) {
        h->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return std::nullopt;
    }
    if (text == nullptr) {
        h->diag.errCode = ERR_INVALID_ARGUMENT_VALUE;
        return std::nullopt;
    }
    return length == SQL_NTS ? std::string(text) : std::string(text, static_cast<size_t>(length));
}

// A text the agent writes into a buffer: asked for its length first, then read whole,
// so that the caller's buffer is filled in its own width. None on failure, with the code
// in *rc.
template <class Read>
std::optional<std::string> ReadAgentText(Read read, int* rc) {
    int32_t len = 0;
    *rc = read(nullptr, 0, &len);
    if (*rc != 0 || len < 0 || len == INT32_MAX)  // room for the NUL must fit in the size
        return std::nullopt;
    std::string text(static_cast<size_t>(len) + 1, '\0');
    *rc = read(text.data(), len + 1, &len);
    if (*rc != 0)
        return std::nullopt;
    text.resize(std::min(static_cast<size_t>(len), text.size() - 1));
    return text;
}

// Gives the agent a cursor option the application asked for; on success it is current.
void ApplyCursorOption(STMT* stmt, uint32_t code, int32_t requested, int32_t* current) {
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    if (CallSlot(ops, &OA_OPTABLE::DRV_SetProperty, stmt->agentStmt, code, static_cast<const void*>(&requested)) == 0)
        *current = requested;
}

// Reads back a cursor option the agent may have changed at prepare; true when it did.
bool OptionChanged(STMT* stmt, uint32_t code, int32_t* current) {
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int32_t v = 0;
    int32_t len = 0;
    if (CallSlot(ops, &OA_OPTABLE::DRV_GetProperty, stmt->agentStmt, code, static_cast<void*>(&v), int32_t{sizeof v},
                 &len) != 0 ||
        v == *current)
        return false;
    *current = v;
    return true;
}

// Executes the prepared statement by the connection's road of data at execution; an
// exchange still pending refuses a new one (S1010) on either road.
SQLRETURN Execute(STMT* stmt) {
    if (stmt->conn->cn_hasV2DAE != 0)
        return StmtExecuteArray(stmt);
    SQLRETURN rc = StmtExecutePrologue(stmt);
    return rc == SQL_SUCCESS ? StmtExecuteParams(stmt) : rc;
}

// Whether a new statement text would abandon an exchange of data at execution: S1010.
bool ExchangePending(STMT* stmt) {
    if (stmt->daeState == STMT_DAE_NONE)
        return false;
    stmt->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
    return true;
}

SQLRETURN CountResult(STMT* stmt, int rc) {
    if (rc != 0) {
        stmt->diag.errCode = rc;
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN StmtPrepare(STMT* stmt, const char* text) {
    StmtClose(stmt);
    StmtFreeResultDescs(stmt);
    // Whatever was prepared before is gone now, and stays gone if this prepare fails.
    stmt->flags &= static_cast<uint16_t>(~(STMT_FLAG_PREPARED | STMT_FLAG_CURSOR_OPEN));
    stmt->state = STMT_STATE_ALLOCATED;
    stmt->isQuery = false;
    stmt->rowCount = -1;
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    SCS_CURSOR& cur = stmt->cursor;

    if ((cur.flags & SCS_ATTRS_CHANGED) != 0) {
        ApplyCursorOption(stmt, OA_PROP_CURSOR_TYPE, cur.requestedType, &cur.cursorType);
        ApplyCursorOption(stmt, OA_PROP_CONCURRENCY, cur.requestedConcurrency, &cur.concurrency);
        cur.flags &= static_cast<uint16_t>(~SCS_ATTRS_CHANGED);
    }

    if (int rc = CallSlot(ops, &OA_OPTABLE::DRV_Prepare, stmt->agentStmt, text); rc != 0) {
        StmtGetAgentErrors(stmt);
        stmt->diag.errCode = rc;
        return SQL_ERROR;
    }

    cur.requestedType = cur.cursorType;
    cur.requestedConcurrency = cur.concurrency;
    bool changed = false;
    if (cur.cursorType != SQL_CURSOR_FORWARD_ONLY && OptionChanged(stmt, OA_PROP_CURSOR_TYPE, &cur.cursorType))
        changed = true;
    if (cur.concurrency != SQL_CONCUR_READ_ONLY && OptionChanged(stmt, OA_PROP_CONCURRENCY, &cur.concurrency))
        changed = true;
    if (changed) {
        cur.flags |= SCS_ATTRS_CHANGED;
        stmt->diag.errCode = ERR_OPTION_VALUE_CHANGED;
    }

    uint16_t count = 0;
    COLDESC* descs = nullptr;
    if (int rc = CallSlot(ops, &OA_OPTABLE::DRV_DescribeParams, stmt->agentStmt, &count, &descs); rc != 0) {
        ds_ColDescFree(descs, count);
        stmt->diag.errCode = rc;
        CallSlot(ops, &OA_OPTABLE::DRV_CloseCursor, stmt->agentStmt);
        return SQL_ERROR;
    }
    stmt->paramDescs.adopt(descs, count);

    stmt->inParams = stmt->outParams = stmt->inOutParams = 0;
    stmt->paramKindsUnknown = false;
    for (uint16_t i = 0; i < count; ++i) {
        const char* name = descs[i].name;
        if (std::strncmp(name, "*U", 2) == 0) {
            stmt->paramKindsUnknown = true;
            break;
        }
        if (std::strncmp(name, "*O", 2) == 0)
            ++stmt->outParams;
        else if (std::strncmp(name, "*B", 2) == 0)
            ++stmt->inOutParams;
        else
            ++stmt->inParams;
    }

    stmt->daeState = 0;
    stmt->blockPos = 0;
    stmt->flags |= STMT_FLAG_PREPARED;
    // The agent's statement is new: an agent that wants the descriptions gets them again.
    if (stmt->conn->cn_needbind != 0)
        stmt->flags &= static_cast<uint16_t>(~STMT_FLAG_PARAMS_SEEN);
    stmt->state = STMT_STATE_PREPARED;
    // Five letters, as the server's own test has it: "selec" and anything after counts.
    stmt->isQuery = strncasecmp(text, "SELECT", 5) == 0;
    return changed ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN DoPrepare(HANDLE_HDR* h, const SqlTextArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    std::optional<std::string> text = TextArg(h, a.text, a.length);
    if (!text || ExchangePending(stmt))
        return SQL_ERROR;
    TraceLog("  [%s]", text->c_str());
    return StmtPrepare(stmt, text->c_str());
}

SQLRETURN DoExecDirect(HANDLE_HDR* h, const SqlTextArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    std::optional<std::string> text = TextArg(h, a.text, a.length);
    if (!text || ExchangePending(stmt))
        return SQL_ERROR;
    TraceLog("  [%s]", text->c_str());
    const SQLRETURN prepared = StmtPrepare(stmt, text->c_str());
    if (prepared == SQL_ERROR)
        return SQL_ERROR;
    const SQLRETURN rc = Execute(stmt);
    // The prepare's 01S02 (a cursor the agent changed) stays the answer of a clean run.
    if (rc == SQL_SUCCESS && prepared == SQL_SUCCESS_WITH_INFO) {
        stmt->diag.errCode = ERR_OPTION_VALUE_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
    }
    return rc;
}

SQLRETURN DoExecute(HANDLE_HDR* h, const NoArgs&) {
    auto* stmt = static_cast<STMT*>(h);
    if ((stmt->flags & STMT_FLAG_PREPARED) == 0) {
        stmt->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    return Execute(stmt);
}

SQLRETURN DoNumResultCols(HANDLE_HDR* h, const CountArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    // While values are still wanted the statement has not run: it has no result yet.
    if (stmt->daeState != STMT_DAE_NONE)
        return CountResult(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    return CountResult(stmt, StmtNumResultCols(stmt, a.count));
}

SQLRETURN DoNumParams(HANDLE_HDR* h, const CountArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    return CountResult(stmt, StmtNumParams(stmt, a.count));
}

SQLRETURN DoRowCount(HANDLE_HDR* h, const RowCountArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    return CountResult(stmt, StmtRowCount(stmt, a.count));
}

SQLRETURN DoParamOptions(HANDLE_HDR* h, const ParamOptionsArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    return CountResult(stmt, StmtParamOptions(stmt, a.rows, a.rowsProcessed));
}

SQLRETURN DoMoreResults(HANDLE_HDR* h, const NoArgs&) {
    auto* stmt = static_cast<STMT*>(h);
    CONN* conn = stmt->conn;
    if (stmt->state != STMT_STATE_PREPARED || conn->cn_hasMoreRes == 0)
        return SQL_NO_DATA;
    stmt->resultDescs.reset();
    stmt->resultDescsLoaded = false;
    stmt->bookmarkDesc.reset();
    StmtFreeRowBuffer(stmt);
    StmtResetCursor(stmt);
    const OA_OPTABLE* ops = conn->holder.ops;
    int rc = CallSlot(ops, &OA_OPTABLE::DRV_MoreResults, stmt->agentStmt);
    // Output parameter values are delivered with execution; the next result follows.
    if (rc == ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES)
        rc = CallSlot(ops, &OA_OPTABLE::DRV_MoreResults, stmt->agentStmt);
    if (rc == ERR_NO_MORE_RESULTS)
        return SQL_NO_DATA;
    if (rc != 0) {
        stmt->diag.errCode = rc;
        StmtGetAgentErrors(stmt);
        return SQL_ERROR;
    }
    if (stmt->rowsProcessed != nullptr && stmt->isQuery && *stmt->rowsProcessed < stmt->paramSetSize)
        ++*stmt->rowsProcessed;
    return StmtGetResultDescs(stmt) != nullptr ? SQL_SUCCESS : SQL_ERROR;
}

SQLRETURN DoSetCursorName(HANDLE_HDR* h, const SetCursorNameArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    std::optional<std::string> name = TextArg(h, a.name, a.length);
    if (!name)
        return SQL_ERROR;
    TraceLog("SetCursorName [%s]\n", name->c_str());
    int rc = CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_SetCursorName, stmt->agentStmt, name->c_str());
    if (rc != 0) {
        stmt->diag.errCode = rc;
        StmtGetAgentErrors(stmt);
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

SQLRETURN DoGetCursorName(HANDLE_HDR* h, const GetCursorNameArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    if (a.size < 0) {
        stmt->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return SQL_ERROR;
    }
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int rc = 0;
    std::optional<std::string> name = ReadAgentText(
        [&](char* buf, int32_t size, int32_t* len) {
            return CallSlot(ops, &OA_OPTABLE::DRV_GetCursorName, stmt->agentStmt, buf, size, len);
        },
        &rc);
    if (!name) {
        stmt->diag.errCode = rc;
        StmtGetAgentErrors(stmt);
        return SQL_ERROR;
    }
    return OutString(*name, a.buffer, a.size, OutUnit::Chars, a.width, a.length, &stmt->diag);
}

SQLRETURN DoNativeSql(HANDLE_HDR* h, const NativeSqlArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    std::optional<std::string> in = TextArg(h, a.in, a.inLength);
    if (!in)
        return SQL_ERROR;
    if (a.outSize < 0) {
        conn->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return SQL_ERROR;
    }
    if (conn->state != CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_NOT_OPEN;
        return SQL_ERROR;
    }
    const OA_OPTABLE* ops = conn->holder.ops;
    int rc = 0;
    std::optional<std::string> out = ReadAgentText(
        [&](char* buf, int32_t size, int32_t* len) {
            return CallSlot(ops, &OA_OPTABLE::DRV_NativeSql, conn->agentConn, in->c_str(), buf, size, len);
        },
        &rc);
    if (!out) {
        conn->diag.errCode = rc;
        ConnGetAgentErrors(conn, nullptr);
        return SQL_ERROR;
    }
    return OutString(*out, a.out, std::min(a.outSize, kNativeSqlMaxOut), OutUnit::Chars, a.width, a.outLength,
                     &conn->diag);
}
