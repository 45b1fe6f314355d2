// Column value delivery.
#include "driver/exec/coldeliver.h"

#include <sqlucode.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/exec/convert/convbin.h"
#include "driver/exec/convert/convnum.h"
#include "driver/exec/convert/convtext.h"
#include "driver/exec/convert/valtypes.h"
#include "driver/exec/execute.h"
#include "driver/frame/resources.h"
#include "driver/frame/trace.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

SQLRETURN Fail(STMT* stmt, int code) {
    stmt->diag.errCode = code;
    return SQL_ERROR;
}

template <class T>
T Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool IsWideText(int32_t type) {
    return type >= DS_WCHAR && type <= DS_WVARCHAR32;
}

bool IsAscii(const unsigned char* p, uint32_t n) {
    unsigned char any = 0;
    for (uint32_t i = 0; i < n; ++i)
        any |= p[i];
    return any < 0x80;
}

// Where a value's bytes lie and how many there are, by its layout; never past its element
// (or, by reference, its block).
struct ValueBytes {
    const unsigned char* p;
    uint32_t len;
};

ValueBytes ValueOf(const DATASET_COL* col, int32_t row) {
    const unsigned char* e = ds_Elem(col, row);
    const uint32_t w = col->width;
    auto prefixed = [&](uint32_t prefix, uint64_t n, uint32_t unit) {
        const uint32_t room = w > prefix ? w - prefix : 0;
        return ValueBytes{e + prefix, static_cast<uint32_t>(std::min<uint64_t>(n * unit, room / unit * unit))};
    };
    switch (col->type) {
    case DS_CHARZ:
        return {e, static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(e), w))};
    case DS_VARCHAR8: case DS_VARBINARY8:
        return prefixed(1, e[0], 1);
    case DS_VARCHAR16: case DS_VARBINARY16:
        return prefixed(2, Load<uint16_t>(e), 1);
    case DS_VARCHAR32: case DS_VARBINARY32:
        return prefixed(4, static_cast<uint32_t>(std::max<int32_t>(Load<int32_t>(e), 0)), 1);
    case DS_WVARCHAR32:
        return prefixed(4, Load<uint32_t>(e), 2);
    case DS_WCHARZ: {
        uint32_t units = 0;
        while (units < w / 2 && (e[2 * units] != 0 || e[2 * units + 1] != 0))
            ++units;
        return {e, units * 2};
    }
    case DS_LONGCHAR: case DS_LONGBINARY: case DS_LONGWCHAR: {
        if (!ds_ColHoldsRefs(col))
            return {e, 0};
        const auto ref = Load<DS_REFVAL>(e);
        if (ref.data == nullptr)
            return {e, 0};
        const uint64_t n = col->type == DS_LONGWCHAR ? uint64_t{ref.length} * 2 : ref.length;
        return {static_cast<const unsigned char*>(ref.data), static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX))};
    }
    default:
        return {e, w};  // fixed layouts: the element
    }
}

// A piece the agent handed out is laid out like an element of its type; a by-reference
// piece points at its bytes.
ValueBytes PieceOf(const GETDATA_STATE& st) {
    if (ds_IsRefType(st.type) && st.rest != nullptr) {
        const auto ref = Load<DS_REFVAL>(st.rest);
        const uint64_t n = st.type == DS_LONGWCHAR ? uint64_t{ref.length} * 2 : ref.length;
        return {static_cast<const unsigned char*>(ref.data), ref.data == nullptr ? 0 : static_cast<uint32_t>(n)};
    }
    return {st.rest, st.remaining};
}

// What the converters need besides the value.
struct Target {
    int32_t cType;
    void* data;
    SQLLEN bufferLength;
    SQLLEN* octetLength;
    int scale;
    int precision;
    int fractionDigits;
    NarrowCode narrow;   // the application's, for SQL_C_CHAR
    NarrowCode text;     // the dataset's text (ElementTextCode)
};

// The converter of the value's internal type.
SQLRETURN Convert(int32_t type, const unsigned char* p, uint32_t len, SQLLEN total, const Target& t, int* err) {
    const int32_t c = t.cType;
    void* d = t.data;
    const SQLLEN L = t.bufferLength;
    SQLLEN* o = t.octetLength;
    switch (type) {
    case DS_BIT: case DS_UTINYINT:
        return ConvertBYTE(p[0], false, c, d, L, o, err, t.scale, t.precision);
    case DS_STINYINT:
        return ConvertBYTE(static_cast<int8_t>(p[0]), true, c, d, L, o, err, t.scale, t.precision);
    case DS_SSHORT:
        return ConvertSHORT(Load<int16_t>(p), true, c, d, L, o, err, t.scale, t.precision);
    case DS_USHORT:
        return ConvertSHORT(Load<uint16_t>(p), false, c, d, L, o, err, t.scale, t.precision);
    case DS_SLONG:
        return ConvertLONG(Load<int32_t>(p), true, c, d, L, o, err, t.scale, t.precision);
    case DS_ULONG:
        return ConvertLONG(Load<uint32_t>(p), false, c, d, L, o, err, t.scale, t.precision);
    case DS_FLOAT:
        return ConvertFLOAT(Load<float>(p), c, d, L, o, err, t.scale, t.precision);
    case DS_DOUBLE:
        return ConvertDOUBLE(Load<double>(p), c, d, L, o, err, t.scale, t.precision);
    case DS_DATE: {
        const auto v = Load<SQL_DATE_STRUCT>(p);
        return ConvertDATE(&v, c, d, L, o, err);
    }
    case DS_TIME: {
        const auto v = Load<SQL_TIME_STRUCT>(p);
        return ConvertTIME(&v, c, d, L, o, err);
    }
    case DS_TIMESTAMP: {
        const auto v = Load<SQL_TIMESTAMP_STRUCT>(p);
        return ConvertTIMESTAMP(&v, c, d, L, o, t.fractionDigits, err);
    }
    case DS_BINARY: case DS_LONGBINARY: case DS_VARBINARY8: case DS_VARBINARY16: case DS_VARBINARY32:
        return ConvertBINARY(p, len, total, c, d, L, o, err);
    case DS_WCHAR: case DS_WCHARZ: case DS_LONGWCHAR: case DS_WVARCHAR32:
        return ConvertWCHAR(reinterpret_cast<const SQLWCHAR*>(p), len, total, c, d, L, o, err, t.scale, t.precision,
                            t.narrow);
    case DS_CHAR: case DS_LONGCHAR: case DS_CHARZ: case DS_VARCHAR8: case DS_VARCHAR16: case DS_VARCHAR32:
        return ConvertCHAR(reinterpret_cast<const char*>(p), len, total, c, d, L, o, err, t.scale, t.precision,
                           t.text, t.narrow);
    default:
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    }
}

// SQL_C_BINARY asked of a BIGINT column: the 8-byte integer, cut to the buffer with 01004
// when that is shorter, never written past it.
SQLRETURN ConvertBigintAsBinary(int32_t type, const unsigned char* p, uint32_t len, const Target& t, int* err) {
    Target wide = t;
    int64_t v = 0;
    SQLLEN size = 0;
    wide.cType = SQL_C_SBIGINT;
    wide.data = &v;
    wide.bufferLength = sizeof v;
    wide.octetLength = &size;
    SQLRETURN rc = Convert(type, p, len, 0, wide, err);
    if (rc == SQL_ERROR)
        return rc;
    const size_t n = static_cast<size_t>(std::clamp<SQLLEN>(t.bufferLength, 0, sizeof v));
    if (t.data != nullptr)
        std::memcpy(t.data, &v, n);
    if (t.octetLength != nullptr)
        *t.octetLength = sizeof v;
    if (n < sizeof v)
        *err = ERR_DATA_WAS_TRUNCATED;
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : rc;
}

// Source bytes a cut copy of the value at p (n bytes) consumed, by the source's kind and
// the target, from a buffer of L bytes.
uint32_t Consumed(int32_t type, const unsigned char* p, int32_t cType, SQLLEN L, uint32_t n, NarrowCode from,
                  NarrowCode code) {
    const bool wide = IsWideText(type);
    const bool binary = type == DS_BINARY || type == DS_LONGBINARY ||
                        (type >= DS_VARBINARY8 && type <= DS_VARBINARY32);
    const uint64_t N = n;
    uint64_t used = 0;
    if (L <= 0)
        return 0;
    const auto l = static_cast<uint64_t>(L);
    if (cType == SQL_C_BINARY) {
        used = l;
    } else if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
        if (binary) {
            if (cType == SQL_C_CHAR)
                used = l >= 2 * N + 1 ? N : (l - 1) / 2;
            else
                used = l < 2 ? 0 : l >= 4 * N + 2 ? N : (l - 2) / 4;
        } else {
            // Text cuts fall at whole characters, as the copy made them.
            used = static_cast<uint64_t>(TextCopyTaken(p, n, wide, cType, L, from, code));
        }
    }
    return static_cast<uint32_t>(std::min(used, N));
}

// Zeroes the target of a NULL value: its fixed size, or the whole buffer of a variable one.
void ClearTarget(const BINDING& b, int32_t cType, SQLLEN bufferLength) {
    if (b.data == nullptr)
        return;
    SQLLEN n = CTypeOctetLength(cType);
    if (n == 0)
        n = bufferLength;
    if (n > 0)
        std::memset(b.data, 0, static_cast<size_t>(n));
}

// The bookmark of row `row`. The cursor library, which keeps bookmarks of keyset-driven and
// static cursors, is not part of this build; every cursor is served forward-only, and a
// forward-only cursor has no bookmarks: 43 (S1C00).
int RowBookmark(STMT*, int32_t, int32_t* out) {
    *out = 0;
    return ERR_DRIVER_NOT_CAPABLE;
}

// The largest piece of a long value that fits the target: room for a terminator of text,
// and half a binary buffer for wide text.
uint32_t PieceSize(const Target& t, int32_t colType) {
    const auto L = static_cast<uint32_t>(std::clamp<SQLLEN>(t.bufferLength, 0, UINT32_MAX));
    if (L == 0)
        return 0;
    if (t.cType == SQL_C_CHAR)
        return L - 1;
    if (t.cType == SQL_C_WCHAR)
        return (L - 1) / 2;
    if (t.cType == SQL_C_BINARY && IsWideText(colType))
        return L / 2;
    return L;
}

bool IsTextOrBinary(int32_t cType) {
    return cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
}

}  // namespace

NarrowCode ElementTextCode(const CONN* conn) {
    return DrvVariant().unicode ? NarrowCode::Utf8 : conn->narrow;
}

SQLRETURN PutBookmark(const BINDING& b, int16_t cType, int32_t bookmark, int* err) {
    const int64_t v = bookmark;
    size_t n = sizeof v;
    if (cType == SQL_C_BINARY)
        n = static_cast<size_t>(std::clamp<SQLLEN>(b.bufferLength, 0, sizeof v));
    if (b.data != nullptr)
        std::memcpy(b.data, &v, n);
    if (b.indicator != nullptr)
        *b.indicator = 0;
    if (b.octetLength != nullptr)
        *b.octetLength = sizeof v;
    if (n < sizeof v) {
        *err = ERR_DATA_WAS_TRUNCATED;
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

SQLRETURN MoveOutParam(STMT* stmt, const OUTPARAM_BINDING& binding, const DATASET* row) {
    BINDING b;
    b.column = binding.column;
    b.cType = binding.cType;
    b.fractionDigits = binding.scale;
    b.data = binding.data;
    b.bufferLength = binding.bufferLength;
    b.octetLength = binding.octetLength;
    b.indicator = binding.indicator;
    // Each output value starts afresh: the row is new with every execution.
    FreeColumnPiece(&stmt->getData);
    stmt->diag.errCode = ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES;
    const SQLRETURN rc = GetColumn(stmt, 0, b, row);
    FreeColumnPiece(&stmt->getData);
    return rc;
}

int GetColumnPiece(STMT* stmt, uint32_t maxPiece) {
    GETDATA_STATE& st = stmt->getData;
    const GETDATA_STATE keep = st;
    FreeColumnPiece(&st);
    st.column = keep.column;
    st.row = keep.row;
    st.cType = keep.cType;
    st.longValue = true;
    const uint16_t column = st.column;
    const uint16_t row = st.row;
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    if (ops == nullptr || ops->DRV_GetData == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    void* value = nullptr;
    int32_t length = 0;
    int32_t type = 0;
    int32_t total = 0;
    const int rc = ops->DRV_GetData(stmt->agentStmt, column, row, maxPiece, &value, &length, &type, &total);
    st.rest = static_cast<const unsigned char*>(value);
    st.owned = value != nullptr;  // whatever the agent handed out is ours to free
    st.remaining = static_cast<uint32_t>(std::max(length, 0));
    st.type = type;
    st.total = total;
    if (rc != 0) {
        StmtGetAgentErrors(stmt);
        return rc;
    }
    if (length != 0 || (total != 0 && maxPiece == 0))
        return 0;
    return ERR_NO_DATA_FOUND;
}

namespace {

// The target of a first access to column b.column, described by desc (null when there is
// none): SQL_ARD_TYPE takes the descriptor record's type, SQL_C_NUMERIC its precision and
// scale (resolved before SQL_C_DEFAULT, which a record may hold), SQL_C_DEFAULT the column's
// default type; the fraction digits come from the description or, in output-parameter mode
// with parameter kinds unknown, from the binding. *bigintAsBinary tells a BIGINT asked as
// SQL_C_BINARY. 0, or 17 for SQL_ARD_TYPE without a usable record.
int ResolveTarget(STMT* stmt, const BINDING& b, const COLDESC* desc, bool outputMode, Target* t,
                  bool* bigintAsBinary) {
    *t = Target{b.cType, b.data, b.bufferLength, b.octetLength, 0, 0, 0, stmt->conn->narrow,
                ElementTextCode(stmt->conn)};
    *bigintAsBinary = false;
    const bool fromBinding = outputMode && stmt->paramKindsUnknown;
    t->fractionDigits = fromBinding ? b.fractionDigits : desc != nullptr ? desc->decimalDigits : 0;
    if (t->cType == SQL_ARD_TYPE || t->cType == SQL_C_NUMERIC) {
        DESC* d = outputMode ? stmt->apd : stmt->ard;
        const DESCREC* rec = d != nullptr ? DescGetRec(d, b.column) : nullptr;
        if (t->cType == SQL_ARD_TYPE) {
            if (rec == nullptr || rec->conciseType == 0 || rec->conciseType == SQL_ARD_TYPE)
                return ERR_INVALID_COLUMN_NUMBER;
            t->cType = rec->conciseType;
        }
        if (t->cType == SQL_C_NUMERIC && rec != nullptr) {
            t->precision = rec->precision;
            t->scale = rec->scale;
        }
    }
    const int32_t sqlType = desc != nullptr ? desc->sqlType : 0;
    if (t->cType == SQL_C_DEFAULT) {
        const uint32_t version = stmt->conn->envr != nullptr ? stmt->conn->envr->odbcVersion : 3;
        const bool wideSql = sqlType == SQL_WLONGVARCHAR || sqlType == SQL_WVARCHAR || sqlType == SQL_WCHAR;
        t->cType = version == 2 && wideSql ? SQL_C_CHAR : DefaultCType(sqlType, static_cast<int32_t>(version));
        if (t->bufferLength == 0)
            t->bufferLength = CTypeOctetLength(t->cType);
    } else if (t->cType == SQL_C_BINARY && sqlType == SQL_BIGINT) {
        *bigintAsBinary = true;
    }
    return 0;
}

BOUND_LANE LaneOf(int32_t type, int32_t cType, bool bigintAsBinary) {
    if (bigintAsBinary)
        return BOUND_LANE::Convert;
    switch (type) {
    case DS_SLONG:
        return cType == SQL_C_LONG || cType == SQL_C_SLONG ? BOUND_LANE::Long : BOUND_LANE::Convert;
    case DS_DOUBLE:
        return cType == SQL_C_DOUBLE ? BOUND_LANE::Double : BOUND_LANE::Convert;
    case DS_DATE:
        return cType == SQL_C_DATE || cType == SQL_C_TYPE_DATE ? BOUND_LANE::Date : BOUND_LANE::Convert;
    case DS_CHARZ:
        return cType == SQL_C_CHAR ? BOUND_LANE::Text : cType == SQL_C_SBIGINT ? BOUND_LANE::TextBigint
                                                                              : BOUND_LANE::Convert;
    default:
        return BOUND_LANE::Convert;
    }
}

// What CopyFixedOut answers: a truncation pending on the row turns success into a warning.
SQLRETURN FixedOut(void* dst, const void* value, size_t size, SQLLEN* outLen, const int* err) {
    std::memcpy(dst, value, size);
    if (outLen != nullptr)
        *outLen = static_cast<SQLLEN>(size);
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// The text of a BIGINT as the agent renders it, "-" and up to 18 digits before the NUL (or
// the element's end): no overflow is possible, so no bound is tested. false for anything
// else (blanks, "+", 19 digits), which Convert reads by the full grammar.
bool ReadPlainBigint(const unsigned char* e, uint32_t w, int64_t* out) {
    uint32_t i = 0;
    const bool negative = w > 0 && e[0] == '-';
    i += negative ? 1 : 0;
    const uint32_t first = i;
    uint64_t v = 0;
    for (; i < w && i - first < 19; ++i) {
        const unsigned d = static_cast<unsigned>(e[i]) - '0';
        if (d > 9)
            break;
        v = v * 10 + d;
    }
    const uint32_t digits = i - first;
    if (digits == 0 || digits > 18 || (i < w && e[i] != '\0'))
        return false;
    *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

// The lane of a whole value that is neither NULL nor at the server (v as ValueOf gives
// it): SQL_SUCCESS or SQL_SUCCESS_WITH_INFO as Convert would answer, or -1 when the value
// leaves the lane.
inline int PutByLane(BOUND_LANE lane, ValueBytes v, const Target& t, int* err) {
    const unsigned char* e = v.p;
    switch (lane) {
    case BOUND_LANE::Long:
        return FixedOut(t.data, e, 4, t.octetLength, err);
    case BOUND_LANE::Double: {
        const auto d = Load<double>(e);
        if (!std::isfinite(d))
            return -1;  // out of range, with its diagnostic
        return FixedOut(t.data, &d, sizeof d, t.octetLength, err);
    }
    case BOUND_LANE::Date:
        return FixedOut(t.data, e, sizeof(SQL_DATE_STRUCT), t.octetLength, err);
    case BOUND_LANE::Text: {
        // CopyCharOut's bounded copy of a whole value: the full length reported, the text
        // cut to the buffer with its NUL, 01004 when cut.
        if (t.text != t.narrow && !IsAscii(e, v.len))
            return -1;  // converted: ASCII alone reads the same in both code sets
        const auto n = static_cast<SQLLEN>(v.len);
        if (t.octetLength != nullptr)
            *t.octetLength = n;
        if (t.bufferLength <= 0) {
            *err = ERR_DATA_WAS_TRUNCATED;
            return SQL_SUCCESS_WITH_INFO;
        }
        SQLLEN k = n;
        if (t.bufferLength < n + 1) {
            *err = ERR_DATA_WAS_TRUNCATED;
            k = t.bufferLength - 1;
            if (t.narrow == NarrowCode::Utf8)  // never inside a character
                k = static_cast<SQLLEN>(ut_Utf8CutLen(reinterpret_cast<const char*>(e), v.len, static_cast<size_t>(k)));
        }
        auto* out = static_cast<char*>(t.data);
        std::memcpy(out, e, static_cast<size_t>(k));
        out[k] = '\0';
        return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    case BOUND_LANE::TextBigint: {
        int64_t x = 0;
        if (!ReadPlainBigint(e, v.len, &x))
            return -1;
        return FixedOut(t.data, &x, sizeof x, t.octetLength, err);
    }
    case BOUND_LANE::Convert:
        break;
    }
    return -1;
}

}  // namespace

void PlanBoundColumn(STMT* stmt, const BINDING& b, const DATASET* ds, BOUND_TARGET* plan) {
    *plan = BOUND_TARGET{};
    // Only what GetColumn would serve without a diagnostic, from descriptions already
    // loaded: everything else goes to GetColumn value by value, which reports it.
    if (b.column == 0 || b.column > ds->colsUsed || !stmt->resultDescsLoaded)
        return;
    const COLDESC_ARRAY& descs = stmt->resultDescs;
    const COLDESC* desc = b.column <= descs.count ? &descs.items[b.column - 1] : nullptr;
    Target t{};
    bool bigintAsBinary = false;
    if (ResolveTarget(stmt, b, desc, false, &t, &bigintAsBinary) != 0)
        return;
    plan->cType = t.cType;
    plan->bufferLength = t.bufferLength;
    plan->scale = t.scale;
    plan->precision = t.precision;
    plan->fractionDigits = t.fractionDigits;
    plan->narrow = t.narrow;
    plan->text = t.text;
    plan->bigintAsBinary = bigintAsBinary;
    plan->laneType = ds->cols[b.column - 1].type;
    plan->lane = LaneOf(plan->laneType, t.cType, bigintAsBinary);
    plan->ready = true;
}

namespace {

// A bound column whose data buffer is unbound and whose length/indicator buffer is not:
// the value goes to a scratch target, so that the buffer gets SQL_NULL_DATA or the length a
// data buffer would have been told (text is reported whole however little the scratch
// holds), and the conversion answers as it would have; the cut the scratch makes is no
// truncation of anything the application asked for.
SQLRETURN GetLengthOnly(STMT* stmt, int32_t row, const BINDING& b, const BOUND_TARGET& plan, const DATASET* ds) {
    alignas(16) unsigned char scratch[128];  // the widest fixed C type, a number's text
    BINDING s = b;
    BOUND_TARGET p = plan;
    s.data = scratch;
    s.bufferLength = p.bufferLength = static_cast<SQLLEN>(sizeof scratch);
    int& err = stmt->diag.errCode;
    const int pending = err;
    err = 0;
    SQLRETURN rc = GetBoundColumn(stmt, row, s, p, ds);
    if (rc == SQL_SUCCESS_WITH_INFO && err == ERR_DATA_WAS_TRUNCATED)
        rc = pending == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    if (rc != SQL_ERROR && (err == 0 || err == ERR_DATA_WAS_TRUNCATED))
        err = pending;
    return rc;
}

}  // namespace

SQLRETURN GetBoundColumn(STMT* stmt, int32_t row, const BINDING& b, const BOUND_TARGET& plan, const DATASET* ds) {
    if (b.data == nullptr && b.column != 0 && (b.indicator != nullptr || b.octetLength != nullptr))
        return GetLengthOnly(stmt, row, b, plan, ds);
    if (!plan.ready || static_cast<uint32_t>(row) >= static_cast<uint32_t>(ds->rowsUsed))
        return GetColumn(stmt, row, b, ds);
    const DATASET_COL* col = &ds->cols[b.column - 1];
    const int16_t ind = col->indicators[row];
    if (ind == DS_IND_AT_SERVER)
        return GetColumn(stmt, row, b, ds);  // a long value comes from the agent in pieces
    const Target t{plan.cType, b.data, plan.bufferLength, b.octetLength, plan.scale, plan.precision,
                   plan.fractionDigits, plan.narrow, plan.text};
    if (ind == DS_IND_NULL) {
        if (b.indicator == nullptr)
            return Fail(stmt, ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED);
        *b.indicator = SQL_NULL_DATA;
        ClearTarget(b, t.cType, t.bufferLength);
        return SQL_SUCCESS;
    }
    if (b.data == nullptr)
        return Fail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (b.indicator != nullptr)
        *b.indicator = 0;
    int* err = &stmt->diag.errCode;
    const ValueBytes v = ValueOf(col, row);
    // The common pairs take their lane; what a lane does not take goes the general way.
    if (plan.lane != BOUND_LANE::Convert && col->type == plan.laneType) {
        const int rc = PutByLane(plan.lane, v, t, err);
        if (rc >= 0)
            return static_cast<SQLRETURN>(rc);
    }
    return plan.bigintAsBinary ? ConvertBigintAsBinary(col->type, v.p, v.len, t, err)
                               : Convert(col->type, v.p, v.len, 0, t, err);
}

SQLRETURN GetColumn(STMT* stmt, int32_t row, const BINDING& b, const DATASET* ds) {
    int* err = &stmt->diag.errCode;
    const bool outputMode = *err == ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES;
    if (outputMode)
        *err = 0;

    if ((b.column == 0 && !stmt->cursor.bookmarks) || b.column > ds->colsUsed) {
        TraceLog("GetColumn: col out of range (%d,%d)", b.column, ds->colsUsed);
        return Fail(stmt, ERR_INVALID_COLUMN_NUMBER);
    }
    if (b.column == 0) {
        if (b.cType != SQL_C_BINARY && b.cType != SQL_C_UBIGINT)
            return Fail(stmt, ERR_PROGRAM_TYPE_OUT_OF_RANGE);
        if (b.data == nullptr)
            return Fail(stmt, ERR_INVALID_ARGUMENT_VALUE);
        int32_t bookmark = 0;
        if (int rc = RowBookmark(stmt, row, &bookmark); rc != 0)
            return Fail(stmt, rc);
        return PutBookmark(b, b.cType, bookmark, err);
    }

    GETDATA_STATE& st = stmt->getData;
    const DATASET_COL* col = &ds->cols[b.column - 1];
    Target t{b.cType, b.data, b.bufferLength, b.octetLength, 0, 0, 0, stmt->conn->narrow, ElementTextCode(stmt->conn)};
    SQLLEN total = 0;
    bool bigintAsBinary = false;
    ValueBytes v{nullptr, 0};

    const bool firstAccess = st.column != b.column || st.row != static_cast<uint32_t>(row) + 1;
    if (firstAccess) {
        // First access to this value.
        if (static_cast<uint32_t>(row) >= static_cast<uint32_t>(ds->rowsUsed)) {
            TraceLog("GetColumn: row out of range (%d,%d)", row, ds->rowsUsed);
            return Fail(stmt, ERR_INVALID_CURSOR_STATE);
        }
        const COLDESC_ARRAY* descs = StmtGetResultDescs(stmt);
        if (descs == nullptr)
            return SQL_ERROR;
        const COLDESC* desc = b.column <= descs->count ? &descs->items[b.column - 1] : nullptr;
        if (int rc = ResolveTarget(stmt, b, desc, outputMode, &t, &bigintAsBinary); rc != 0)
            return Fail(stmt, rc);

        FreeColumnPiece(&st);
        st.column = b.column;
        st.row = static_cast<uint16_t>(row + 1);

        const int16_t ind = col->indicators[row];
        if (ind == DS_IND_AT_SERVER) {
            const int rc = GetColumnPiece(stmt, PieceSize(t, col->type));
            if (rc == ERR_NO_DATA_FOUND && st.total != -1) {
                FreeColumnPiece(&st);
                return SQL_NO_DATA;
            }
            if (rc != 0 && rc != ERR_NO_DATA_FOUND) {
                FreeColumnPiece(&st);
                return Fail(stmt, rc);
            }
        }
        if (ind == DS_IND_NULL || (ind == DS_IND_AT_SERVER && st.total == -1)) {
            FreeColumnPiece(&st);
            if (b.indicator == nullptr)
                return Fail(stmt, ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED);
            st.column = b.column;
            st.row = static_cast<uint16_t>(row + 1);
            *b.indicator = SQL_NULL_DATA;
            ClearTarget(b, t.cType, t.bufferLength);
            return SQL_SUCCESS;
        }
        if (b.data == nullptr) {
            FreeColumnPiece(&st);
            return Fail(stmt, ERR_INVALID_ARGUMENT_VALUE);
        }
        if (st.longValue) {
            v = PieceOf(st);
            total = st.total;
        } else {
            st.type = col->type;
            v = ValueOf(col, row);
            st.rest = v.p;
            st.remaining = v.len;
        }
        st.cType = t.cType;
        if (b.indicator != nullptr)
            *b.indicator = 0;
    } else {
        // A further call on the value: it goes on where the last one stopped, in the same
        // C type (SQL_C_DEFAULT and SQL_ARD_TYPE continue with it).
        if (!st.longValue && st.remaining == 0)
            return SQL_NO_DATA;
        if (t.cType != st.cType && t.cType != SQL_C_DEFAULT && t.cType != SQL_ARD_TYPE)
            return SQL_NO_DATA;
        t.cType = st.cType;
        if (b.data == nullptr)
            return Fail(stmt, ERR_INVALID_ARGUMENT_VALUE);
        if (st.longValue) {
            const int rc = GetColumnPiece(stmt, PieceSize(t, col->type));
            if (rc == ERR_NO_DATA_FOUND)
                return SQL_NO_DATA;
            if (rc != 0)
                return Fail(stmt, rc);
            v = PieceOf(st);
            total = st.total;
        } else {
            v = {st.rest, st.remaining};
        }
    }

    // A whole value in one of the common pairs takes its lane, as a bound column does.
    int laned = -1;
    if (firstAccess && !st.longValue)
        laned = PutByLane(LaneOf(st.type, t.cType, bigintAsBinary), v, t, err);
    const SQLRETURN rc = laned >= 0         ? static_cast<SQLRETURN>(laned)
                         : bigintAsBinary ? ConvertBigintAsBinary(st.type, v.p, v.len, t, err)
                                          : Convert(st.type, v.p, v.len, total, t, err);
    if (rc == SQL_ERROR) {
        // A failed value is forgotten, so that the application can ask for it again in
        // another type.
        FreeColumnPiece(&st);
        return rc;
    }
    if (st.longValue)
        return rc;  // the agent keeps the position in a long value
    uint32_t used = v.len;
    if (rc == SQL_SUCCESS_WITH_INFO && IsTextOrBinary(t.cType) && !bigintAsBinary)
        used = Consumed(st.type, v.p, t.cType, t.bufferLength, v.len, t.text, t.narrow);
    st.rest = v.p + used;
    st.remaining = v.len - used;
    return rc;
}

namespace {

template <class T>
T* Shifted(T* p, SQLLEN bytes) {
    return p == nullptr ? nullptr : reinterpret_cast<T*>(reinterpret_cast<char*>(p) + bytes);
}

// The binding of element k of a rowset column.
BINDING ElementOf(const BOUND_COLUMN& c, SQLULEN k) {
    BINDING b = c.binding;
    const auto data = static_cast<SQLLEN>(k) * c.dataStride;
    const auto length = static_cast<SQLLEN>(k) * c.lengthStride;
    b.data = Shifted(b.data, data);
    b.octetLength = Shifted(b.octetLength, length);
    b.indicator = Shifted(b.indicator, length);
    return b;
}

// Folds one value's answer into its row's.
void Fold(ROW_OUTCOME* row, SQLRETURN rc) {
    if (rc == SQL_ERROR)
        row->rc = SQL_ERROR;
    else if (rc == SQL_SUCCESS_WITH_INFO)
        row->rc = SQL_SUCCESS_WITH_INFO;
}

// The rows of a column one value at a time through GetBoundColumn.
void ValueByValue(STMT* stmt, const BOUND_COLUMN& c, int32_t first, SQLULEN k0, SQLULEN count, const DATASET* ds,
                  ROW_OUTCOME* rows) {
    int& err = stmt->diag.errCode;
    for (SQLULEN j = 0; j < count; ++j) {
        if (rows[j].rc == SQL_ERROR)
            continue;
        const BINDING b = ElementOf(c, k0 + j);
        if (b.indicator != nullptr && *b.indicator == SQL_COLUMN_IGNORE)
            continue;
        err = rows[j].err;
        Fold(&rows[j], GetBoundColumn(stmt, first + static_cast<int32_t>(j), b, c.plan, ds));
        rows[j].err = err;
        FreeColumnPiece(&stmt->getData);
    }
}

// The rows of a column in lane L: one loop whose lane the compiler knows. A NULL, and a
// value that leaves the lane, go through GetBoundColumn.
template <BOUND_LANE L>
void LaneRows(STMT* stmt, const BOUND_COLUMN& c, int32_t first, SQLULEN k0, SQLULEN count, const DATASET* ds,
              ROW_OUTCOME* rows) {
    const DATASET_COL* col = &ds->cols[c.binding.column - 1];
    int& err = stmt->diag.errCode;
    for (SQLULEN j = 0; j < count; ++j) {
        if (rows[j].rc == SQL_ERROR)
            continue;
        const BINDING b = ElementOf(c, k0 + j);
        if (b.indicator != nullptr && *b.indicator == SQL_COLUMN_IGNORE)
            continue;
        const int32_t row = first + static_cast<int32_t>(j);
        const int16_t ind = col->indicators[row];
        if (ind != DS_IND_NULL && ind != DS_IND_AT_SERVER && b.data != nullptr) {
            const Target t{c.plan.cType, b.data, c.plan.bufferLength, b.octetLength, 0, 0, 0, c.plan.narrow,
                           c.plan.text};
            if (b.indicator != nullptr)
                *b.indicator = 0;
            // ValueOf, knowing the lane: the text's bytes up to its NUL, or the element.
            const unsigned char* e = ds_Elem(col, row);
            const ValueBytes v{e, L == BOUND_LANE::Text ? static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(e),
                                                                                          col->width))
                                                        : col->width};
            const int rc = PutByLane(L, v, t, &rows[j].err);
            if (rc >= 0) {
                Fold(&rows[j], static_cast<SQLRETURN>(rc));
                continue;
            }
        }
        err = rows[j].err;
        Fold(&rows[j], GetBoundColumn(stmt, row, b, c.plan, ds));
        rows[j].err = err;
        FreeColumnPiece(&stmt->getData);
    }
}

}  // namespace

void GetBoundColumnRows(STMT* stmt, const BOUND_COLUMN& c, int32_t first, SQLULEN k0, SQLULEN count,
                        const DATASET* ds, ROW_OUTCOME* rows) {
    const BOUND_TARGET& plan = c.plan;
    const bool laned = plan.ready && first >= 0 && first + static_cast<int64_t>(count) <= ds->rowsUsed &&
                       ds->cols[c.binding.column - 1].type == plan.laneType;
    switch (laned ? plan.lane : BOUND_LANE::Convert) {
    case BOUND_LANE::Long: return LaneRows<BOUND_LANE::Long>(stmt, c, first, k0, count, ds, rows);
    case BOUND_LANE::Double: return LaneRows<BOUND_LANE::Double>(stmt, c, first, k0, count, ds, rows);
    case BOUND_LANE::Date: return LaneRows<BOUND_LANE::Date>(stmt, c, first, k0, count, ds, rows);
    case BOUND_LANE::Text: return LaneRows<BOUND_LANE::Text>(stmt, c, first, k0, count, ds, rows);
    case BOUND_LANE::TextBigint: return LaneRows<BOUND_LANE::TextBigint>(stmt, c, first, k0, count, ds, rows);
    case BOUND_LANE::Convert: return ValueByValue(stmt, c, first, k0, count, ds, rows);
    }
}
