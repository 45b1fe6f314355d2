// Parameter calls and the exchange of values given at execution.
#include "driver/handlers/params.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "driver/exec/convert/valtypes.h"
#include "driver/exec/execute.h"
#include "driver/frame/trace.h"
#include "driver/objects/envr.h"
#include "driver/objects/param.h"
#include "driver/objects/stmt.h"
#include "util/charset.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

bool IsParamRows(int16_t state) {
    return state == STMT_DAE_PARAMS || state == STMT_DAE_PARAMS_DONE;
}

bool IsColumnRows(int16_t state) {
    return state == STMT_DAE_SETPOS || state == STMT_DAE_BULK || state == STMT_DAE_SETPOS_DONE || state == STMT_DAE_BULK_DONE;
}

// The bound parameter at index i (from 0), or null.
PARAMREC* ParamAt(STMT* stmt, int64_t i) {
    if (i < 0 || i >= static_cast<int64_t>(stmt->params.size()) || stmt->params[static_cast<size_t>(i)].number == 0)
        return nullptr;
    return &stmt->params[static_cast<size_t>(i)];
}

// The bound column at position pos of the binding list, or null.
BINDCOL* ColumnAt(STMT* stmt, int64_t pos) {
    if (pos < 0 || pos >= static_cast<int64_t>(stmt->boundCols.size()))
        return nullptr;
    return &stmt->boundCols[static_cast<size_t>(pos)];
}

// Rows of a SQLSetPos or SQLBulkOperations row set: the rowset's, which the bound arrays
// hold (a SetPos row left from an earlier rowset may lie past them).
SQLULEN RowsetRows(const STMT* stmt) {
    return std::max<SQLULEN>(static_cast<uint32_t>(std::max(stmt->cursor.rowsetSize, 1)), 1);
}

// A bound column's buffer for a row: rows lie a bind type apart, or a buffer length in
// column-wise binding.
void* ColumnRowData(const STMT* stmt, const BINDCOL& c, SQLULEN row) {
    if (c.data == nullptr)
        return nullptr;
    const SQLLEN stride = stmt->bindType != 0 ? stmt->bindType : c.bufferLength;
    return static_cast<char*>(c.data) + static_cast<SQLLEN>(row) * stride;
}

// The value of a row, the rows made when the value is first reached.
DAE_PIECE& PieceOf(PIECES& pieces, uint32_t row, SQLULEN rows) {
    if (pieces.size() <= row)
        pieces.resize(std::max<SQLULEN>(rows, SQLULEN{row} + 1));
    return pieces[row];
}

// Bytes of a NUL-terminated text: UTF-16 units for SQL_C_WCHAR, else bytes.
size_t TextBytes(int16_t cType, const void* data) {
    if (cType != SQL_C_WCHAR)
        return std::strlen(static_cast<const char*>(data));
    const auto* w = static_cast<const SQLWCHAR*>(data);
    size_t n = 0;
    while (w[n] != 0)
        ++n;
    return n * sizeof(SQLWCHAR);
}

// The checks both roads make of a piece's pointer and length: S1009 for a negative
// length the road does not know, and for a null pointer unless the piece is NULL or an
// empty piece of a variable-length type.
bool PieceArgsValid(const PutDataArgs& a, int16_t cType, bool agentRoad) {
    if (a.length < 0 && a.length != SQL_NTS && a.length != SQL_NULL_DATA &&
        !(agentRoad && a.length == SQL_DEFAULT_PARAM))
        return false;
    if (a.data == nullptr)
        return a.length == SQL_NULL_DATA || (a.length == 0 && CTypeOctetLength(cType) == 0);
    return true;
}

// Whether this piece would be joined to a NULL given before it (S1020). A NULL after
// pieces is no join: it makes the value NULL.
bool JoinsNull(const STMT_DAE& dae) {
    return dae.pieces > 0 && dae.nullPiece;
}

// ---- the driver's road ----

SQLRETURN ParamDataDriver(STMT* stmt, SQLPOINTER* token) {
    STMT_DAE& dae = stmt->dae;
    const int16_t state = stmt->daeState;
    if (!IsParamRows(state) && !IsColumnRows(state))
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    dae.curRow = dae.nextRow;
    if (IsParamRows(state)) {
        if (stmt->rowsProcessed != nullptr)
            *stmt->rowsProcessed = SQLULEN{dae.curRow} + 1;
        if (state == STMT_DAE_PARAMS_DONE) {
            stmt->daeState = STMT_DAE_NONE;
            return StmtExecuteParams(stmt);
        }
        PARAMREC* p = ParamAt(stmt, dae.nextPos);
        if (p == nullptr)  // unbound since the exchange began
            return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
        dae.curPos = dae.nextPos++;
        dae.current = true;
        dae.pieces = 0;
    dae.nullPiece = false;
        PieceOf(p->pieces, dae.curRow, stmt->paramSetSize) = DAE_PIECE{};
        if (token != nullptr)
            *token = p->data;
        if (!StmtCheckDataAtExecParams(stmt))
            stmt->daeState = STMT_DAE_PARAMS_DONE;
        return SQL_NEED_DATA;
    }
    if (state == STMT_DAE_SETPOS_DONE) {
        stmt->daeState = STMT_DAE_NONE;
        return StmtSetPosLocal(stmt, stmt->cursor.setPosRow, dae.operation);
    }
    if (state == STMT_DAE_BULK_DONE) {
        stmt->daeState = STMT_DAE_NONE;
        return StmtBulkUpdateCollected(stmt);
    }
    BINDCOL* c = ColumnAt(stmt, dae.nextPos);
    if (c == nullptr)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    dae.curPos = dae.nextPos++;
    dae.current = true;
    dae.pieces = 0;
    dae.nullPiece = false;
    PieceOf(c->pieces, dae.curRow, RowsetRows(stmt)) = DAE_PIECE{};
    if (token != nullptr)
        *token = ColumnRowData(stmt, *c, dae.curRow);
    if (!StmtCheckDataAtExec(stmt))
        stmt->daeState = state == STMT_DAE_SETPOS ? STMT_DAE_SETPOS_DONE : STMT_DAE_BULK_DONE;
    return SQL_NEED_DATA;
}

SQLRETURN PutDataDriver(STMT* stmt, const PutDataArgs& a) {
    STMT_DAE& dae = stmt->dae;
    PIECES* pieces = nullptr;
    int16_t cType = 0;
    SQLULEN rows = 0;
    if (dae.current && IsParamRows(stmt->daeState)) {
        if (PARAMREC* p = ParamAt(stmt, dae.curPos)) {
            pieces = &p->pieces;
            cType = p->cType;
            rows = stmt->paramSetSize;
        }
    } else if (dae.current && IsColumnRows(stmt->daeState)) {
        if (BINDCOL* c = ColumnAt(stmt, dae.curPos)) {
            pieces = &c->pieces;
            cType = c->cType;
            rows = RowsetRows(stmt);
        }
    }
    if (pieces == nullptr)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (!PieceArgsValid(a, cType, false))
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (JoinsNull(dae))
        return StmtFail(stmt, ERR_ATTEMPT_TO_CONCATENATE_A_NULL_VALUE);
    // A value of a fixed-size type comes whole: its length is the type's, and a second
    // piece has nothing to join.
    const SQLLEN fixed = CTypeOctetLength(cType);
    if (fixed > 0 && dae.pieces > 0)
        return StmtFail(stmt, ERR_NON_CHARACTER_AND_NON_BINARY_DATA);
    DAE_PIECE& value = PieceOf(*pieces, dae.curRow, rows);
    ++dae.pieces;
    if (a.length == SQL_NULL_DATA) {
        dae.nullPiece = true;
        value = DAE_PIECE{std::nullopt, true};
        return SQL_SUCCESS;
    }
    const size_t len = fixed > 0                ? static_cast<size_t>(fixed)
                       : a.length == SQL_NTS    ? TextBytes(cType, a.data)
                                                : static_cast<size_t>(a.length);
    try {
        if (!value.bytes)
            value = DAE_PIECE{std::string(), false};
        value.bytes->append(static_cast<const char*>(a.data), len);
    } catch (const std::bad_alloc&) {
        return StmtFail(stmt, ERR_MEMORY_ALLOCATION_FAILURE);
    }
    return SQL_SUCCESS;
}

// ---- the agent's road ----

SQLRETURN ParamDataAgent(STMT* stmt, SQLPOINTER* token) {
    STMT_DAE& dae = stmt->dae;
    const int16_t state = stmt->daeState;
    // The agent collects parameter rows and SQLSetPos rows; it has no road for bulk rows.
    if (state != STMT_DAE_PARAMS && state != STMT_DAE_SETPOS)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int32_t param = -1;
    int32_t row = 0;
    uint16_t* rowStatus = nullptr;  // the agent's, filled by a positioned operation
    int32_t status = 0;
    const int rc = CallSlot(ops, &OA_OPTABLE::DRV_ParamData, stmt->agentStmt, &param, &row, &rowStatus, &status);
    dae.agentParam = param;
    dae.agentRow = row;
    if (stmt->rowsProcessed != nullptr && row >= 0)
        *stmt->rowsProcessed = static_cast<SQLULEN>(row) + 1;

    if (rc != ERR_AGENT_NEEDS_DATA_AT_EXEC_DATA) {
        // The agent ran the deferred step or gave up: the exchange is over either way.
        stmt->daeState = STMT_DAE_NONE;
        dae.current = false;
        stmt->diag.errCode = rc;
        if (state == STMT_DAE_PARAMS) {
            uh_Free(rowStatus);
            return StmtAfterExecute(stmt);
        }
        return StmtSetPosComplete(stmt, rc, rowStatus, status);
    }
    // The agent's names are checked against the bindings before they index anything.
    if (state == STMT_DAE_PARAMS) {
        PARAMREC* p = ParamAt(stmt, param);
        if (p == nullptr)
            return StmtFail(stmt, ERR_GENERAL_ERROR);
        dae.curPos = static_cast<uint16_t>(param);
        if (token != nullptr)
            *token = p->data;
    } else {
        // The image holds every rowset row at its own index.
        const bool mapped = param >= 0 && static_cast<size_t>(param) < stmt->columnMap.size();
        const int64_t pos = mapped ? int64_t{stmt->columnMap[static_cast<size_t>(param)]} - 1 : -1;
        BINDCOL* c = ColumnAt(stmt, pos);
        if (c == nullptr || row < 0 || static_cast<SQLULEN>(row) >= RowsetRows(stmt))
            return StmtFail(stmt, ERR_GENERAL_ERROR);
        dae.curPos = static_cast<uint16_t>(pos);
        dae.curRow = static_cast<uint32_t>(row);
        if (token != nullptr)
            *token = ColumnRowData(stmt, *c, dae.curRow);
    }
    dae.current = true;
    dae.pieces = 0;
    dae.nullPiece = false;
    return SQL_NEED_DATA;
}

// Date or time text for a date or time parameter, as the structure of its SQL type: an
// escape as it stands, any other text as the value of the type's escape. 0 or the
// parser's code (22007, 22008).
int DateTimeFromText(const char* text, size_t len, int16_t sqlType, std::string* out, int32_t* dsType) {
    const char* keyword = sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TIMESTAMP ? "ts"
                          : sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME        ? "t"
                                                                                     : "d";
    const std::string escape = len > 0 && text[0] == '{'
                                   ? std::string(text, len)
                                   : std::string("{") + keyword + " '" + std::string(text, len) + "'}";
    SQL_TIMESTAMP_STRUCT value{};
    int32_t written = DS_NONE;
    if (int rc = ParseDateTimeEscape(&value, sizeof value, escape.data(), escape.size(), nullptr, sqlType, &written))
        return rc;
    if (written == DS_NONE)
        return ERR_INVALID_DATETIME_FORMAT;
    *dsType = written;
    out->assign(reinterpret_cast<const char*>(&value),
                written == DS_TIMESTAMP ? sizeof(SQL_TIMESTAMP_STRUCT) : sizeof(SQL_DATE_STRUCT));
    return 0;
}

bool IsDateTimeSqlType(int16_t t) {
    return t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_TYPE_TIMESTAMP || t == SQL_DATE || t == SQL_TIME ||
           t == SQL_TIMESTAMP;
}

bool IsBinarySqlType(int16_t t) {
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

// A piece as the agent takes it, where the driver rewrites it: date and time text for a
// date or time parameter as its structure, hexadecimal text for a binary one as bytes,
// 64-bit integers as text, the numeric structure as its decimal text, a GUID as its text, and
// wide text as narrow for an agent connection without wide types. Nothing set: the
// application's bytes go as they are. 0 or the conversion's code.
int ConvertPiece(const STMT* stmt, int16_t cType, int16_t sqlType, const char* bytes, size_t size,
                 std::optional<std::string>* out, int32_t* dsType) {
    if (cType == SQL_C_CHAR && IsDateTimeSqlType(sqlType))
        return DateTimeFromText(bytes, size, sqlType, &out->emplace(), dsType);
    if (cType == SQL_C_CHAR && IsBinarySqlType(sqlType)) {
        *dsType = DS_BINARY;
        std::string& bin = out->emplace(size / 2, '\0');
        return HexToBinary(reinterpret_cast<unsigned char*>(bin.data()), bytes, size);
    }
    if (cType == SQL_C_SBIGINT || cType == SQL_C_UBIGINT) {
        // The number left-justified in 31 characters, and a NUL.
        char text[32];
        if (cType == SQL_C_SBIGINT) {
            int64_t v = 0;
            std::memcpy(&v, bytes, sizeof v);
            std::snprintf(text, sizeof text, "%-*" PRId64, 31, v);
        } else {
            uint64_t v = 0;
            std::memcpy(&v, bytes, sizeof v);
            std::snprintf(text, sizeof text, "%-*" PRIu64, 31, v);
        }
        out->emplace(text, sizeof text);
        return 0;
    }
    if (cType == SQL_C_NUMERIC) {
        // Its internal type is its exact decimal text.
        SQL_NUMERIC_STRUCT numeric;
        std::memcpy(&numeric, bytes, sizeof numeric);
        std::string& text = out->emplace(NUMERIC_TEXT_LENGTH, '\0');
        text.resize(NumericToText(text.data(), &numeric));
        return 0;
    }
    if (cType == SQL_C_GUID) {
        // Its internal type is 36 characters of text, more than the structure holds.
        SQLGUID guid;
        std::memcpy(&guid, bytes, sizeof guid);
        GuidToText(out->emplace(GUID_TEXT_LENGTH, '\0').data(), &guid);
        return 0;
    }
    if (*dsType == DS_WCHAR && size > 1 && stmt->conn->narrowWidePieces != 0) {
        // Narrow text in the connection's code set; each piece holds whole characters (half
        // of a pair, also one split between two pieces, is refused).
        std::basic_string<SQLWCHAR> units(size / sizeof(SQLWCHAR), 0);
        std::memcpy(units.data(), bytes, units.size() * sizeof(SQLWCHAR));
        const auto n = static_cast<SQLLEN>(units.size());
        if (ut_Ucs2LoneSurrogate(units.data(), n) >= 0)
            return ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION;
        const NarrowCode code = stmt->conn->narrow;
        std::string& narrow = out->emplace(static_cast<size_t>(ut_Ucs2ToNarrowN(units.data(), n, nullptr, INT64_MAX,
                                                                                 nullptr, code)),
                                           '\0');
        ut_Ucs2ToNarrowN(units.data(), n, narrow.data(), static_cast<SQLLEN>(narrow.size()), nullptr, code);
        *dsType = DS_CHAR;
    }
    return 0;
}

SQLRETURN PutDataAgent(STMT* stmt, const PutDataArgs& a) {
    STMT_DAE& dae = stmt->dae;
    int16_t cType = 0;
    int16_t sqlType = 0;
    bool found = false;
    if (dae.current && stmt->daeState == STMT_DAE_PARAMS) {
        if (const PARAMREC* p = ParamAt(stmt, dae.curPos)) {
            cType = p->cType;
            sqlType = p->sqlType;
            found = true;
        }
    } else if (dae.current && stmt->daeState == STMT_DAE_SETPOS) {
        if (const BINDCOL* c = ColumnAt(stmt, dae.curPos)) {
            cType = c->cType;
            found = true;
        }
    }
    if (!found)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (!PieceArgsValid(a, cType, true))
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (JoinsNull(dae))
        return StmtFail(stmt, ERR_ATTEMPT_TO_CONCATENATE_A_NULL_VALUE);
    if (a.length == SQL_DEFAULT_PARAM)
        return StmtFail(stmt, ERR_DRIVER_NOT_CAPABLE);
    // A fixed-size value comes whole, as on the driver's road: a second piece is refused
    // here, in the driver's words, before the agent sees it.
    if (CTypeOctetLength(cType) > 0 && dae.pieces > 0)
        return StmtFail(stmt, ERR_NON_CHARACTER_AND_NON_BINARY_DATA);

    uint32_t width = 0;
    int32_t dsType = CTypeToDsCType(cType, &width);
    int16_t indicator = 0;
    const char* bytes = static_cast<const char*>(a.data);
    size_t size = width;
    std::optional<std::string> converted;  // the piece as the driver rewrote it
    if (a.length == SQL_NULL_DATA) {
        indicator = DS_IND_NULL;
        bytes = nullptr;
        size = 0;
    } else {
        if (CTypeOctetLength(cType) == 0)
            size = a.length == SQL_NTS ? TextBytes(cType, a.data) : static_cast<size_t>(a.length);
        if (int rc = ConvertPiece(stmt, cType, sqlType, bytes, size, &converted, &dsType); rc != 0)
            return StmtFail(stmt, rc);
        if (converted) {
            bytes = converted->data();
            size = converted->size();
        }
        if (size > UINT32_MAX)
            return StmtFail(stmt, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
        if (size == 0)
            bytes = nullptr;
    }

    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    const int rc = CallSlot(ops, &OA_OPTABLE::DRV_PutData, stmt->agentStmt, static_cast<int16_t>(dsType), indicator,
                            bytes, static_cast<uint32_t>(size));
    if (rc != 0) {
        stmt->diag.errCode = rc;
        StmtGetAgentErrors(stmt);
        return SQL_ERROR;
    }
    ++dae.pieces;
    dae.nullPiece = dae.nullPiece || indicator == DS_IND_NULL;
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN DoSetParam(HANDLE_HDR* h, const SetParamArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    if (a.data == nullptr && a.length == nullptr)
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (a.scale < 0)
        return StmtFail(stmt, ERR_INVALID_SCALE_VALUE);
    int16_t cType = a.cType;
    if (cType == SQL_C_DEFAULT)
        cType = DefaultCType(a.sqlType, static_cast<int32_t>(stmt->conn->envr->odbcVersion));
    // The ODBC 2 call knows no numeric structure.
    const SQLLEN size = cType == SQL_C_NUMERIC ? 0 : ParamCTypeSize(cType);
    if (size == 0)
        return StmtFail(stmt, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    PARAMREC p;
    p.number = a.number;
    p.cType = cType;
    p.sqlType = a.sqlType;
    p.columnSize = a.columnSize;
    p.scale = a.scale;
    p.data = a.data;
    p.indicator = a.length;
    p.octetLength = a.length;
    p.fixedCSize = size;
    p.paramType = SQL_PARAM_INPUT;
    TraceLog("Par#%d c_type=%d sql_type=%d prec=%ld scale=%d size=%d", a.number, cType, a.sqlType,
             static_cast<long>(a.columnSize), a.scale, static_cast<int>(size));
    return StmtSetParam(stmt, std::move(p)) == 0 ? SQL_SUCCESS : SQL_ERROR;
}

SQLRETURN DoBindParameter(HANDLE_HDR* h, const BindParameterArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    // The call's own arguments; bindings made through descriptor fields check theirs there.
    if (a.paramType != SQL_PARAM_INPUT && a.paramType != SQL_PARAM_INPUT_OUTPUT && a.paramType != SQL_PARAM_OUTPUT)
        return StmtFail(stmt, ERR_INVALID_PARAMETER_TYPE);
    if (!IsSqlType(a.sqlType))
        return StmtFail(stmt, ERR_SQL_DATA_TYPE_OUT_OF_RANGE);
    return StmtBindParam(stmt, a.number, a.paramType, a.cType, a.sqlType, a.columnSize, a.digits,
                         a.data, a.bufferLength, a.length, a.length);
}

// The agent takes the values of parameters and SQLSetPos rows itself when it can; the rows
// of SQLBulkOperations the driver always collects.
bool AgentRoad(const STMT* stmt) {
    const int16_t state = stmt->daeState;
    return stmt->conn->cn_hasV2DAE != 0 && state != STMT_DAE_BULK && state != STMT_DAE_BULK_DONE;
}

SQLRETURN DoParamData(HANDLE_HDR* h, const ParamDataArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    return AgentRoad(stmt) ? ParamDataAgent(stmt, a.token) : ParamDataDriver(stmt, a.token);
}

SQLRETURN DoPutData(HANDLE_HDR* h, const PutDataArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    return AgentRoad(stmt) ? PutDataAgent(stmt, a) : PutDataDriver(stmt, a);
}

SQLRETURN DoDescribeParam(HANDLE_HDR* h, const DescribeParamArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    const COLDESC* d = StmtGetParamDesc(stmt, a.number);
    if (d == nullptr)
        return SQL_ERROR;
    if (a.sqlType != nullptr)
        *a.sqlType = static_cast<SQLSMALLINT>(d->sqlType);
    if (a.columnSize != nullptr)
        *a.columnSize = d->columnSize;
    if (a.digits != nullptr)
        *a.digits = d->decimalDigits;
    if (a.nullable != nullptr)
        *a.nullable = static_cast<SQLSMALLINT>(d->flags & 0xF);
    return SQL_SUCCESS;
}
