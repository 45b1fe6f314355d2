// Column value delivery.
#include "driver/exec/coldeliver.h"

#include <sqlucode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

template <class T>
T Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool IsAscii(const unsigned char* p, uint32_t n) {
    unsigned char any = 0;
    for (uint32_t i = 0; i < n; ++i)
        any |= p[i];
    return any < 0x80;
}

bool IsWideText(int32_t type) {
    return type >= DS_WCHAR && type <= DS_WVARCHAR32;
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
    NarrowCode narrow;       // the application's
    NarrowCode elementCode;  // of the column's narrow text
};

// The target of one value of a planned request, at the binding's buffers.
Target TargetOf(const COL_PLAN& p, const BINDING& b) {
    return {p.cType,     b.data,     b.bufferLength != 0 ? b.bufferLength : p.lengthIfZero,
            b.octetLength, p.scale, p.precision, p.fractionDigits, p.narrow, p.elementCode};
}

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
                           t.elementCode, t.narrow);
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

// The bookmark of row `row` of the current rowset: the cursor library keeps the bookmarks
// of keyset-driven and static cursors. A forward-only cursor has none to give (S1C00).
int RowBookmark(STMT* stmt, int32_t row, int32_t* out) {
    *out = 0;
    if (stmt->cursor.cursorType == SCS_FORWARD_ONLY)
        return ERR_DRIVER_NOT_CAPABLE;
    if (row < 0)
        return ERR_INVALID_CURSOR_STATE;
    return scs_RowBookmark(&stmt->cursor, static_cast<uint32_t>(row), out);
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
    b.mode = DeliveryMode::OutputParam;
    b.cType = binding.cType;
    b.fractionDigits = binding.scale;
    b.data = binding.data;
    b.bufferLength = binding.bufferLength;
    b.octetLength = binding.octetLength;
    b.indicator = binding.indicator;
    // Each output value starts afresh: the row is new with every execution.
    FreeColumnPiece(&stmt->getData);
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

// The lane of a plan's pair of element type and C type, with its code sets.
DELIVERY_LANE LaneOf(const COL_PLAN& p) {
    if (p.bigintAsBinary)
        return DELIVERY_LANE::Convert;
    const int32_t c = p.cType;
    switch (p.laneType) {
    case DS_SLONG:
        return c == SQL_C_LONG || c == SQL_C_SLONG ? DELIVERY_LANE::Long : DELIVERY_LANE::Convert;
    case DS_DOUBLE:
        return c == SQL_C_DOUBLE ? DELIVERY_LANE::Double : DELIVERY_LANE::Convert;
    case DS_DATE:
        return c == SQL_C_DATE || c == SQL_C_TYPE_DATE ? DELIVERY_LANE::Date
               : c == SQL_C_CHAR || c == SQL_C_WCHAR  ? DELIVERY_LANE::DateText
                                                      : DELIVERY_LANE::Convert;
    case DS_CHARZ:
        if (c == SQL_C_CHAR)  // a plain copy between equal code sets, or of ASCII
            return DELIVERY_LANE::Text;
        if (c == SQL_C_WCHAR)
            return DELIVERY_LANE::TextWide;
        switch (c) {
        case SQL_C_SBIGINT: case SQL_C_UBIGINT: case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG:
        case SQL_C_SHORT: case SQL_C_SSHORT: case SQL_C_USHORT: case SQL_C_TINYINT: case SQL_C_STINYINT:
        case SQL_C_UTINYINT:
            return DELIVERY_LANE::TextInteger;
        default:
            return DELIVERY_LANE::Convert;
        }
    default:
        return DELIVERY_LANE::Convert;
    }
}

// The plan of a request for column b.column, described by desc (null when there is none),
// whose elements are of elementType: SQL_ARD_TYPE takes the descriptor record's type,
// SQL_C_NUMERIC its precision and scale (resolved before SQL_C_DEFAULT, which a record may
// hold), SQL_C_DEFAULT the column's default type; the fraction digits come from the
// description or, in output-parameter mode with parameter kinds unknown, from the binding.
// bigintAsBinary tells a BIGINT asked as SQL_C_BINARY. 0, or 17 for SQL_ARD_TYPE without a
// usable record.
int PlanFor(STMT* stmt, const BINDING& b, const COLDESC* desc, bool outputMode, int32_t elementType,
            COL_PLAN* plan) {
    *plan = COL_PLAN{};
    COL_PLAN& p = *plan;
    p.cType = b.cType;
    p.narrow = stmt->conn->narrow;
    p.elementCode = ElementTextCode(stmt);
    const bool fromBinding = outputMode && stmt->paramKindsUnknown;
    p.fractionDigits = fromBinding ? b.fractionDigits : desc != nullptr ? desc->decimalDigits : 0;
    if (p.cType == SQL_ARD_TYPE || p.cType == SQL_C_NUMERIC) {
        DESC* d = outputMode ? stmt->apd : stmt->ard;
        const DESCREC* rec = d != nullptr ? DescGetRec(d, b.column) : nullptr;
        if (p.cType == SQL_ARD_TYPE) {
            if (rec == nullptr || rec->conciseType == 0 || rec->conciseType == SQL_ARD_TYPE)
                return ERR_INVALID_COLUMN_NUMBER;
            p.cType = rec->conciseType;
        }
        if (p.cType == SQL_C_NUMERIC && rec != nullptr) {
            p.precision = rec->precision;
            p.scale = rec->scale;
        }
    }
    const int32_t sqlType = desc != nullptr ? desc->sqlType : 0;
    if (p.cType == SQL_C_DEFAULT) {
        const uint32_t version = stmt->conn->envr != nullptr ? stmt->conn->envr->odbcVersion : 3;
        const bool wideSql = sqlType == SQL_WLONGVARCHAR || sqlType == SQL_WVARCHAR || sqlType == SQL_WCHAR;
        p.cType = version == 2 && wideSql ? SQL_C_CHAR : DefaultCType(sqlType, static_cast<int32_t>(version));
        p.lengthIfZero = CTypeOctetLength(p.cType);
    } else if (p.cType == SQL_C_BINARY && sqlType == SQL_BIGINT) {
        p.bigintAsBinary = true;
    }
    p.laneType = elementType;
    p.lane = LaneOf(p);
    p.column = b.column;
    p.askedCType = b.cType;
    p.ready = true;
    return 0;
}

// Whether a plan may be kept for the later values of its result: SQL_ARD_TYPE and
// SQL_C_NUMERIC read ARD fields that may change between calls.
bool Keepable(const COL_PLAN& p) {
    return p.ready && p.askedCType != SQL_ARD_TYPE && p.askedCType != SQL_C_NUMERIC;
}

// Whether plan p, kept, still serves b on the statement's result as it stands.
bool KeptFor(const STMT* stmt, const COL_PLAN& p, const BINDING& b) {
    return p.forLoad != 0 && p.forLoad == stmt->resultDescsLoads && stmt->resultDescsLoaded &&
           p.column == b.column && p.askedCType == b.cType;
}

// What CopyFixedOut answers: a truncation pending on the row turns success into a warning.
[[gnu::always_inline]] inline SQLRETURN FixedOut(void* dst, const void* value, size_t size, SQLLEN* outLen, const int* err) {
    std::memcpy(dst, value, size);
    if (outLen != nullptr)
        *outLen = static_cast<SQLLEN>(size);
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// The text of a BIGINT as the agent renders it, "-" and up to 18 digits before the NUL (or
// the element's end): no overflow is possible, so no bound is tested. false for anything
// else (blanks, "+", 19 digits), which Convert reads by the full grammar.
[[gnu::always_inline]] inline bool ReadPlainBigint(const unsigned char* e, uint32_t w, int64_t* out) {
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

// Where the integer C types that text reaches by a lane end: their bounds and size.
struct IntegerBounds {
    int64_t min;
    int64_t max;
    size_t bytes;
};
[[gnu::always_inline]] inline IntegerBounds BoundsOf(int32_t cType) {
    switch (cType) {
    case SQL_C_SBIGINT: return {INT64_MIN, INT64_MAX, 8};
    case SQL_C_UBIGINT: return {0, INT64_MAX, 8};  // a plain text is below 10^18 anyway
    case SQL_C_LONG: case SQL_C_SLONG: return {INT32_MIN, INT32_MAX, 4};
    case SQL_C_ULONG: return {0, UINT32_MAX, 4};
    case SQL_C_SHORT: case SQL_C_SSHORT: return {INT16_MIN, INT16_MAX, 2};
    case SQL_C_USHORT: return {0, UINT16_MAX, 2};
    case SQL_C_TINYINT: case SQL_C_STINYINT: return {INT8_MIN, INT8_MAX, 1};
    default: return {0, UINT8_MAX, 1};  // SQL_C_UTINYINT
    }
}

// ASCII characters as UTF-16 units with a NUL unit, into a buffer of any alignment.
void WidenAscii(unsigned char* out, const unsigned char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = text[i];
        out[2 * i + 1] = 0;
    }
    out[2 * n] = 0;
    out[2 * n + 1] = 0;
}

// The lane of a whole value that is neither NULL nor at the server (v as ValueOf gives
// it): SQL_SUCCESS or SQL_SUCCESS_WITH_INFO as Convert would answer, or -1 when the value
// leaves the lane, with nothing written.
[[gnu::always_inline]] inline int PutByLane(DELIVERY_LANE lane, ValueBytes v, const Target& t, int* err) {
    const unsigned char* e = v.p;
    switch (lane) {
    case DELIVERY_LANE::Long:
        return FixedOut(t.data, e, 4, t.octetLength, err);
    case DELIVERY_LANE::Double: {
        const auto d = Load<double>(e);
        if (!std::isfinite(d))
            return -1;  // out of range, with its diagnostic
        return FixedOut(t.data, &d, sizeof d, t.octetLength, err);
    }
    case DELIVERY_LANE::Date:
        return FixedOut(t.data, e, sizeof(SQL_DATE_STRUCT), t.octetLength, err);
    case DELIVERY_LANE::DateText: {
        // ConvertDATE's text when it fits whole: "YYYY-MM-DD" and its NUL. Other years and
        // fields, and buffers too short, answer by the converter.
        const auto d = Load<SQL_DATE_STRUCT>(e);
        const SQLLEN unit = t.cType == SQL_C_WCHAR ? 2 : 1;
        if (d.year < 0 || d.year > 9999 || d.month > 99 || d.day > 99 || t.bufferLength < 11 * unit)
            return -1;
        if (unit == 1) {
            DateText(static_cast<char*>(t.data), &d);
        } else {
            char text[DATETIME_TEXT_SIZE];
            DateText(text, &d);
            WidenAscii(static_cast<unsigned char*>(t.data), reinterpret_cast<const unsigned char*>(text), 10);
        }
        if (t.octetLength != nullptr)
            *t.octetLength = 10 * unit;
        return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    case DELIVERY_LANE::Text: {
        // CopyNarrowTextOut's bounded copy of a whole value: the full length reported, the
        // text cut to the buffer with its NUL, 01004 when cut.
        if (t.elementCode != t.narrow && !IsAscii(e, v.len))
            return -1;  // converted: only ASCII reads the same in both code sets
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
    case DELIVERY_LANE::TextWide: {
        // CopyCharToWChar of a text whose every byte is one unit: any ISO-8859-1 text, or
        // ASCII in UTF-8 (anything else takes the converter's decoder).
        if (t.elementCode == NarrowCode::Utf8 && !IsAscii(e, v.len))
            return -1;
        const SQLLEN need = 2 * static_cast<SQLLEN>(v.len);
        if (t.octetLength != nullptr)
            *t.octetLength = need;
        const SQLLEN room = t.bufferLength > 0 ? t.bufferLength / 2 * 2 : 0;
        if (room == 0) {
            *err = ERR_DATA_WAS_TRUNCATED;
            return SQL_SUCCESS_WITH_INFO;
        }
        size_t units = v.len;
        if (room < need + 2) {
            *err = ERR_DATA_WAS_TRUNCATED;
            units = static_cast<size_t>(room - 2) / 2;
        }
        WidenAscii(static_cast<unsigned char*>(t.data), e, units);  // a byte's value is its unit
        return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    case DELIVERY_LANE::TextInteger: {
        int64_t x = 0;
        if (!ReadPlainBigint(e, v.len, &x))
            return -1;
        if (t.cType == SQL_C_SBIGINT)  // every plain text fits: BIGINT's own pair
            return FixedOut(t.data, &x, sizeof x, t.octetLength, err);
        const IntegerBounds r = BoundsOf(t.cType);
        if (x < r.min || x > r.max)
            return -1;
        return FixedOut(t.data, &x, r.bytes, t.octetLength, err);  // the low bytes, little-endian
    }
    case DELIVERY_LANE::Convert:
        break;
    }
    return -1;
}

// Whether the lane reads its value as a narrow text up to its NUL (TextInteger reads up to
// the NUL itself, and its converter takes ValueOf's).
constexpr bool TextLane(DELIVERY_LANE lane) {
    return lane == DELIVERY_LANE::Text || lane == DELIVERY_LANE::TextWide;
}

}  // namespace

NarrowCode ElementTextCode(const STMT* stmt) {
    return DrvVariant().unicode ? NarrowCode::Utf8 : stmt->conn->narrow;
}

void PlanColumn(STMT* stmt, const BINDING& b, const DATASET* ds, COL_PLAN* plan) {
    *plan = COL_PLAN{};
    // Only what GetColumn would serve without a diagnostic, from descriptions already
    // loaded: everything else goes to GetColumn value by value, which reports it.
    if (b.column == 0 || b.column > ds->colsUsed || !stmt->resultDescsLoaded)
        return;
    const COLDESC_ARRAY& descs = stmt->resultDescs;
    const COLDESC* desc = b.column <= descs.count ? &descs.items[b.column - 1] : nullptr;
    if (PlanFor(stmt, b, desc, false, ds->cols[b.column - 1].type, plan) != 0)
        *plan = COL_PLAN{};
}

namespace {

// A bound column whose data buffer is unbound and whose length/indicator buffer is not:
// the value goes to a scratch target, so that the buffer gets SQL_NULL_DATA or the length a
// data buffer would have been told (text is reported whole however little the scratch
// holds), and the conversion answers as it would have; the cut the scratch makes is no
// truncation of anything the application asked for.
SQLRETURN GetLengthOnly(STMT* stmt, int32_t row, const BINDING& b, const COL_PLAN& plan, const DATASET* ds) {
    alignas(16) unsigned char scratch[128];  // the widest fixed C type, a number's text
    BINDING s = b;
    s.data = scratch;
    s.bufferLength = static_cast<SQLLEN>(sizeof scratch);
    int& err = stmt->diag.errCode;
    const int pending = err;
    err = 0;
    SQLRETURN rc = GetBoundColumn(stmt, row, s, plan, ds);
    if (rc == SQL_SUCCESS_WITH_INFO && err == ERR_DATA_WAS_TRUNCATED)
        rc = pending == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    if (rc != SQL_ERROR && (err == 0 || err == ERR_DATA_WAS_TRUNCATED))
        err = pending;
    return rc;
}

// What a planned value needs besides its lane: a request the plan cannot serve (GetColumn
// reports it), a value the agent keeps, a NULL, an unbound buffer, and an element of
// another type than the plan's. The code lives in stmt->diag.errCode.
SQLRETURN DeliverOther(STMT* stmt, int32_t row, const BINDING& b, const COL_PLAN& plan, const DATASET* ds) {
    if (b.data == nullptr && b.column != 0 && (b.indicator != nullptr || b.octetLength != nullptr))
        return GetLengthOnly(stmt, row, b, plan, ds);
    if (!plan.ready || b.column != plan.column || static_cast<uint32_t>(row) >= static_cast<uint32_t>(ds->rowsUsed))
        return GetColumn(stmt, row, b, ds);
    const DATASET_COL* col = &ds->cols[b.column - 1];
    const int16_t ind = col->indicators[row];
    if (ind == DS_IND_AT_SERVER)
        return GetColumn(stmt, row, b, ds);  // a long value comes from the agent in pieces
    const Target t = TargetOf(plan, b);
    if (ind == DS_IND_NULL) {
        if (b.indicator == nullptr)
            return StmtFail(stmt, ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED);
        *b.indicator = SQL_NULL_DATA;
        ClearTarget(b, t.cType, t.bufferLength);
        return SQL_SUCCESS;
    }
    if (b.data == nullptr)
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (b.indicator != nullptr)
        *b.indicator = 0;
    int* err = &stmt->diag.errCode;
    const ValueBytes v = ValueOf(col, row);
    return plan.bigintAsBinary ? ConvertBigintAsBinary(col->type, v.p, v.len, t, err)
                               : Convert(col->type, v.p, v.len, 0, t, err);
}

// The column of ds whose elements a plan serves by its lane: planned for b's column and
// of the element type planned for; null otherwise.
const DATASET_COL* LanedColumn(const COL_PLAN& plan, uint16_t column, const DATASET* ds) {
    if (!plan.ready || column != plan.column || column == 0 || column > ds->colsUsed)
        return nullptr;
    const DATASET_COL* col = &ds->cols[column - 1];
    return col->type == plan.laneType ? col : nullptr;
}

// One value of a planned column into b's target, the code in *err: the road of every
// bound value. col is LanedColumn's answer. A value there takes the lane (lane is a
// constant where a loop knows it) and, when it leaves the lane, the converter; anything
// else goes to DeliverOther.
[[gnu::always_inline]] inline SQLRETURN Deliver(DELIVERY_LANE lane, STMT* stmt, int32_t row, const BINDING& b,
                                                const COL_PLAN& plan, const DATASET_COL* col, const DATASET* ds,
                                                int* err) {
    if (col != nullptr && b.data != nullptr && static_cast<uint32_t>(row) < static_cast<uint32_t>(ds->rowsUsed)) {
        const int16_t ind = col->indicators[row];
        if (ind != DS_IND_NULL && ind != DS_IND_AT_SERVER) {
            if (b.indicator != nullptr)
                *b.indicator = 0;
            const unsigned char* e = ds_Elem(col, row);
            const ValueBytes v = lane == DELIVERY_LANE::Convert ? ValueOf(col, row)
                                 : TextLane(lane)
                                     ? ValueBytes{e, static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(e),
                                                                                   col->width))}
                                     : ValueBytes{e, col->width};
            if (lane != DELIVERY_LANE::Convert) {
                const int rc = PutByLane(lane, v, TargetOf(plan, b), err);
                if (rc >= 0)
                    return static_cast<SQLRETURN>(rc);
            }
            const Target t = TargetOf(plan, b);
            const ValueBytes w = lane == DELIVERY_LANE::TextInteger ? ValueOf(col, row) : v;  // up to its NUL
            return plan.bigintAsBinary ? ConvertBigintAsBinary(col->type, w.p, w.len, t, err)
                                       : Convert(col->type, w.p, w.len, 0, t, err);
        }
    }
    int& code = stmt->diag.errCode;
    if (err == &code)
        return DeliverOther(stmt, row, b, plan, ds);
    const int saved = code;
    code = *err;
    const SQLRETURN rc = DeliverOther(stmt, row, b, plan, ds);
    *err = code;
    code = saved;
    FreeColumnPiece(&stmt->getData);  // a bound value stays whole for SQLGetData
    return rc;
}

}  // namespace

SQLRETURN GetBoundColumn(STMT* stmt, int32_t row, const BINDING& b, const COL_PLAN& plan, const DATASET* ds) {
    const DATASET_COL* col = LanedColumn(plan, b.column, ds);
    return Deliver(col != nullptr ? plan.lane : DELIVERY_LANE::Convert, stmt, row, b, plan, col, ds,
                   &stmt->diag.errCode);
}

int GetWholeByLane(STMT* stmt, int32_t row, const BINDING& b, const DATASET* ds) {
    const std::vector<COL_PLAN>& kept = stmt->getDataPlans;
    if (b.column == 0 || b.column > kept.size() || b.column > ds->colsUsed || b.data == nullptr ||
        static_cast<uint32_t>(row) >= static_cast<uint32_t>(ds->rowsUsed))
        return -1;
    const COL_PLAN& plan = kept[b.column - 1];
    const DATASET_COL* col = &ds->cols[b.column - 1];
    GETDATA_STATE& st = stmt->getData;
    if (plan.lane == DELIVERY_LANE::Convert || col->type != plan.laneType || !KeptFor(stmt, plan, b) ||
        (st.column == b.column && st.row == static_cast<uint32_t>(row) + 1))
        return -1;
    const int16_t ind = col->indicators[row];
    if (ind == DS_IND_NULL || ind == DS_IND_AT_SERVER)
        return -1;
    const ValueBytes v = ValueOf(col, row);
    const Target t = TargetOf(plan, b);
    int* err = &stmt->diag.errCode;
    if (b.indicator != nullptr)
        *b.indicator = 0;
    const int rc = PutByLane(plan.lane, v, t, err);
    if (rc < 0)
        return rc;
    if (st.owned)
        FreeColumnPiece(&st);
    uint32_t used = v.len;
    if (rc == SQL_SUCCESS_WITH_INFO && IsTextOrBinary(t.cType))
        used = Consumed(col->type, v.p, t.cType, t.bufferLength, v.len, t.elementCode, t.narrow);
    st.column = b.column;
    st.row = static_cast<uint16_t>(row + 1);
    st.type = col->type;
    st.cType = t.cType;
    st.total = 0;
    st.longValue = false;
    st.rest = v.p + used;
    st.remaining = v.len - used;
    return rc;
}

SQLRETURN GetColumn(STMT* stmt, int32_t row, const BINDING& b, const DATASET* ds) {
    int* err = &stmt->diag.errCode;
    const bool outputMode = b.mode == DeliveryMode::OutputParam;
    if (outputMode)
        *err = 0;  // each value starts clear of what the execution or the last value left

    if ((b.column == 0 && stmt->cursor.useBookmarks == 0) || b.column > ds->colsUsed) {
        TraceLog("GetColumn: col out of range (%d,%d)", b.column, ds->colsUsed);
        return StmtFail(stmt, ERR_INVALID_COLUMN_NUMBER);
    }
    if (b.column == 0) {
        if (b.cType != SQL_C_BINARY && b.cType != SQL_C_UBIGINT)
            return StmtFail(stmt, ERR_PROGRAM_TYPE_OUT_OF_RANGE);
        if (b.data == nullptr)
            return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
        int32_t bookmark = 0;
        if (int rc = RowBookmark(stmt, row, &bookmark); rc != 0)
            return StmtFail(stmt, rc);
        return PutBookmark(b, b.cType, bookmark, err);
    }

    GETDATA_STATE& st = stmt->getData;
    const DATASET_COL* col = &ds->cols[b.column - 1];
    Target t{b.cType, b.data, b.bufferLength, b.octetLength, 0, 0, 0, stmt->conn->narrow, ElementTextCode(stmt)};
    SQLLEN total = 0;
    bool bigintAsBinary = false;
    DELIVERY_LANE lane = DELIVERY_LANE::Convert;
    ValueBytes v{nullptr, 0};

    const bool firstAccess = st.column != b.column || st.row != static_cast<uint32_t>(row) + 1;
    if (firstAccess) {
        // First access to this value.
        if (static_cast<uint32_t>(row) >= static_cast<uint32_t>(ds->rowsUsed)) {
            TraceLog("GetColumn: row out of range (%d,%d)", row, ds->rowsUsed);
            return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
        }
        // The plan of the column and C type, kept for the later rows of the result (output
        // parameters plan afresh: their row is not the result's).
        COL_PLAN fresh;
        std::vector<COL_PLAN>& kept = stmt->getDataPlans;
        const COL_PLAN* plan = b.column <= kept.size() ? &kept[b.column - 1] : &fresh;
        if (outputMode || !KeptFor(stmt, *plan, b)) {
            const COLDESC_ARRAY* descs = StmtGetResultDescs(stmt);
            if (descs == nullptr)
                return SQL_ERROR;
            const COLDESC* desc = b.column <= descs->count ? &descs->items[b.column - 1] : nullptr;
            if (int rc = PlanFor(stmt, b, desc, outputMode, col->type, &fresh); rc != 0)
                return StmtFail(stmt, rc);
            plan = &fresh;
            if (!outputMode && Keepable(fresh)) {
                if (kept.size() < b.column)
                    kept.resize(ds->colsUsed);  // b.column is at most colsUsed
                fresh.forLoad = stmt->resultDescsLoads;
                kept[b.column - 1] = fresh;
            }
        }
        t = TargetOf(*plan, b);
        bigintAsBinary = plan->bigintAsBinary;
        lane = col->type == plan->laneType ? plan->lane : DELIVERY_LANE::Convert;

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
                return StmtFail(stmt, rc);
            }
        }
        if (ind == DS_IND_NULL || (ind == DS_IND_AT_SERVER && st.total == -1)) {
            FreeColumnPiece(&st);
            if (b.indicator == nullptr)
                return StmtFail(stmt, ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED);
            st.column = b.column;
            st.row = static_cast<uint16_t>(row + 1);
            *b.indicator = SQL_NULL_DATA;
            ClearTarget(b, t.cType, t.bufferLength);
            return SQL_SUCCESS;
        }
        if (b.data == nullptr) {
            FreeColumnPiece(&st);
            return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
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
            return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
        if (st.longValue) {
            const int rc = GetColumnPiece(stmt, PieceSize(t, col->type));
            if (rc == ERR_NO_DATA_FOUND)
                return SQL_NO_DATA;
            if (rc != 0)
                return StmtFail(stmt, rc);
            v = PieceOf(st);
            total = st.total;
        } else {
            v = {st.rest, st.remaining};
        }
    }

    // A whole value takes its plan's lane, as a bound value does.
    int laned = -1;
    if (firstAccess && !st.longValue && lane != DELIVERY_LANE::Convert)
        laned = PutByLane(lane, v, t, err);
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
        used = Consumed(st.type, v.p, t.cType, t.bufferLength, v.len, t.elementCode, t.narrow);
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

// The rows of a column in lane L: one loop whose lane the compiler knows.
template <DELIVERY_LANE L>
void RowsOf(STMT* stmt, const BOUND_COLUMN& c, const DATASET_COL* col, int32_t first, SQLULEN k0, SQLULEN count,
            const DATASET* ds, ROW_OUTCOME* rows) {
    for (SQLULEN j = 0; j < count; ++j) {
        if (rows[j].rc == SQL_ERROR)
            continue;
        const BINDING b = ElementOf(c, k0 + j);
        if (b.indicator != nullptr && *b.indicator == SQL_COLUMN_IGNORE)
            continue;
        Fold(&rows[j], Deliver(L, stmt, first + static_cast<int32_t>(j), b, c.plan, col, ds, &rows[j].err));
    }
}

}  // namespace

void DeliverColumnRows(STMT* stmt, const BOUND_COLUMN& c, int32_t first, SQLULEN k0, SQLULEN count,
                       const DATASET* ds, ROW_OUTCOME* rows) {
    const DATASET_COL* col = LanedColumn(c.plan, c.binding.column, ds);
    using enum DELIVERY_LANE;
    switch (col != nullptr ? c.plan.lane : Convert) {
    case Long: return RowsOf<Long>(stmt, c, col, first, k0, count, ds, rows);
    case Double: return RowsOf<Double>(stmt, c, col, first, k0, count, ds, rows);
    case Date: return RowsOf<Date>(stmt, c, col, first, k0, count, ds, rows);
    case DateText: return RowsOf<DateText>(stmt, c, col, first, k0, count, ds, rows);
    case Text: return RowsOf<Text>(stmt, c, col, first, k0, count, ds, rows);
    case TextWide: return RowsOf<TextWide>(stmt, c, col, first, k0, count, ds, rows);
    case TextInteger: return RowsOf<TextInteger>(stmt, c, col, first, k0, count, ds, rows);
    case Convert: return RowsOf<Convert>(stmt, c, col, first, k0, count, ds, rows);
    }
}
