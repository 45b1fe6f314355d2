// The parameter dataset of an execution: directions, the agent's descriptions, and the
// dataset built in two passes (decide every column, then fill every cell).
#include "driver/exec/paramset.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>
#include <string>

#include "driver/exec/convert/valtypes.h"
#include "driver/objects/desc.h"
#include "driver/objects/param.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

// How the cells of a column are written.
enum class CellKind : uint8_t {
    Copy,      // the C value's bytes, at the column width
    Text,      // narrow text, NUL-padded to the width
    WideText,  // UTF-16 text, NUL-padded to the width
    Hex,       // hexadecimal text for a binary SQL type: a 4-byte count and the bytes
    Binary,    // binary data, or narrow text holding a NUL: a 4-byte count and the bytes
    DateText,  // narrow date/time text or escape, as the SQL type's structure
    DateWide,  // the same from UTF-16 text
    BigInt,    // SQL_C_SBIGINT / SQL_C_UBIGINT as decimal text
    IntText,   // the text of an integer as the 8-byte integer of a BIGINT parameter
    Numeric,   // SQL_NUMERIC_STRUCT as its exact decimal text
    Guid,      // SQLGUID as its 36 characters
};

// What one set holds for a parameter.
struct Cell {
    enum Kind : uint8_t { Null, Pending, Value } kind = Null;
    bool counted = false;        // Value: its length was given, not measured: a NUL may be inside
    const char* data = nullptr;  // Value: the bytes (null for an empty value)
    size_t length = 0;           // Value: bytes
};

// Where the sets' values lie: the APD's bind offset (an SQLLEN, added to every address)
// and bind type (0 column-wise, else the size of one row-wise structure).
struct Addressing {
    SQLLEN offset = 0;
    size_t rowSize = 0;
};

Addressing AddressingOf(const STMT* stmt) {
    Addressing a;
    const DESC* apd = stmt->apd;
    if (apd != nullptr && apd->bindOffset != nullptr)
        a.offset = *apd->bindOffset;
    if (apd != nullptr && apd->bindType > 0)
        a.rowSize = static_cast<size_t>(apd->bindType);
    return a;
}

// The parameter sets (numbers from 0) that the rows of a dataset carry, in row order.
struct SetSpan {
    const uint32_t* first = nullptr;
    size_t count = 0;
    const uint32_t* begin() const { return first; }
    const uint32_t* end() const { return first + count; }
    uint32_t operator[](size_t k) const { return first[k]; }
    size_t size() const { return count; }
};

SQLLEN ReadLength(const SQLLEN* base, const Addressing& a, uint32_t set) {
    SQLLEN v = 0;
    const size_t stride = a.rowSize != 0 ? a.rowSize : sizeof(SQLLEN);
    // The application's buffer, at whatever alignment its offset and stride give.
    std::memcpy(&v, reinterpret_cast<const char*>(base) + a.offset + set * stride, sizeof v);
    return v;
}

// The bytes of one column-wise element: the buffer length for the variable C types (or
// the column size, twice for wide text, when none was given), else the fixed size.
size_t ElementSize(const PARAMREC& p) {
    if (p.cType == SQL_C_CHAR || p.cType == SQL_C_BINARY)
        return p.bufferLength > 0 ? static_cast<size_t>(p.bufferLength) : static_cast<size_t>(p.columnSize);
    if (p.cType == SQL_C_WCHAR)
        return p.bufferLength > 0 ? static_cast<size_t>(p.bufferLength) : 2 * static_cast<size_t>(p.columnSize);
    return static_cast<size_t>(std::max<SQLLEN>(p.fixedCSize, 0));
}

size_t TextBytes(int16_t cType, const char* data) {
    if (cType != SQL_C_WCHAR)
        return std::strlen(data);
    size_t n = 0;
    for (SQLWCHAR u = 0;; ++n) {
        std::memcpy(&u, data + n * sizeof u, sizeof u);
        if (u == 0)
            return n * sizeof u;
    }
}

bool IsBinarySql(int16_t t) {
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

// The internal date/time type of an SQL type, or DS_NONE.
int32_t DateTimeDsType(int16_t t) {
    switch (t) {
    case SQL_TYPE_DATE: case SQL_DATE: return DS_DATE;
    case SQL_TYPE_TIME: case SQL_TIME: return DS_TIME;
    case SQL_TYPE_TIMESTAMP: case SQL_TIMESTAMP: return DS_TIMESTAMP;
    default: return DS_NONE;
    }
}

// How the sets' values of one parameter are found, worked out once a column: every cell
// of an array would otherwise look its C type's size and its element's stride up again.
struct CellReader {
    const PARAMREC* p = nullptr;
    DaeRoad road = DaeRoad::Driver;
    Addressing a;
    SQLLEN fixed = 0;   // the C type's size, 0 for the variable-length types
    size_t stride = 0;  // from one set's value to the next
};

// Fills r field by field, in place: a reader built aside and copied in whole is read back
// from memory still being written, a stall of its own at every execution of a single row.
void SetReader(CellReader* r, const PARAMREC& p, DaeRoad road, const Addressing& a) {
    r->p = &p;
    r->road = road;
    r->a = a;
    r->fixed = CTypeOctetLength(p.cType);
    r->stride = a.rowSize != 0 ? a.rowSize : ElementSize(p);
}

// Reads set s of the reader's parameter. 0, or 21 for a negative length no rule gives a
// meaning to.
int ReadCell(const CellReader& r, uint32_t s, Cell* out) {
    *out = Cell{};
    const PARAMREC& p = *r.p;
    const Addressing& a = r.a;
    const SQLLEN fixed = r.fixed;
    const SQLLEN indicator = p.indicator != nullptr ? ReadLength(p.indicator, a, s) : 0;
    const SQLLEN octets = p.octetLength != nullptr ? ReadLength(p.octetLength, a, s) : p.fixedCSize;
    // SQL_DEFAULT_PARAM asks for the parameter's default, which a statement's marker
    // does not have: the value is NULL.
    if (indicator == SQL_NULL_DATA || octets == SQL_NULL_DATA || octets == SQL_DEFAULT_PARAM)
        return 0;
    if (IsDataAtExecLength(octets)) {
        if (r.road == DaeRoad::Agent) {
            out->kind = Cell::Pending;
            return 0;
        }
        const DAE_PIECE* piece = s < p.pieces.size() ? &p.pieces[s] : nullptr;
        if (piece != nullptr && piece->null)
            return 0;
        if (piece == nullptr || !piece->bytes) {
            // No piece came: an empty value, where a type can be empty.
            if (fixed == 0)
                out->kind = Cell::Value;
            return 0;
        }
        out->kind = Cell::Value;
        out->counted = true;
        out->data = piece->bytes->data();
        out->length = piece->bytes->size();
        if (fixed != 0 && out->length < static_cast<size_t>(fixed))
            return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return 0;
    }
    if (octets < 0 && octets != SQL_NTS)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (p.data == nullptr)
        return 0;
    const char* data = static_cast<const char*>(p.data) + a.offset + s * r.stride;
    out->kind = Cell::Value;
    out->data = data;
    if (fixed != 0) {
        out->length = static_cast<size_t>(fixed);
    } else {
        out->counted = octets != SQL_NTS;
        out->length = out->counted ? static_cast<size_t>(octets) : TextBytes(p.cType, data);
    }
    return 0;
}

constexpr size_t kNoCells = SIZE_MAX;

// The widest element a parameter column may have: its 32-bit width with room to spare for
// a prefix and a NUL. Every width is checked against it before it is narrowed, so that no
// value longer than its element is ever copied into it.
constexpr size_t kLargestElement = UINT32_MAX - 8;

// Whether bytes fit an element of a 4-byte count and the bytes: the count is signed.
bool FitsCountedElement(size_t bytes) {
    return bytes <= static_cast<size_t>(INT32_MAX) - sizeof(int32_t) && bytes + sizeof(int32_t) <= kLargestElement;
}

// One input column of the dataset.
struct ColumnPlan {
    CellReader in;
    CellKind kind = CellKind::Copy;
    int32_t type = DS_NONE;
    uint32_t width = 0;
    size_t cells = kNoCells;  // where the cells planning read begin, one a set, if it read them

    void decide(CellKind k, int32_t t, uint32_t w) {
        kind = k;
        type = t;
        width = w;
    }
};

bool StartsWithBrace(const Cell& c, bool wide) {
    if (c.kind != Cell::Value || c.data == nullptr)
        return false;
    if (!wide)
        return c.length > 0 && c.data[0] == '{';
    SQLWCHAR u = 0;
    if (c.length < sizeof u)
        return false;
    std::memcpy(&u, c.data, sizeof u);
    return u == u'{';
}

// The integer that a value's text spells in its one canonical form (an optional '-', no
// leading zero, no sign on 0, nothing else), within 64 bits. Only such text goes to the
// server as an integer: the server's conversions give every column type the same value
// from the integer as from that text, and any other text (" 7", "+7", "007", "7.0") keeps
// the outcome the server gives it.
bool CanonicalInteger(const Cell& c, bool wide, int64_t* out) {
    if (c.kind != Cell::Value || c.data == nullptr || (wide && c.length % sizeof(SQLWCHAR) != 0))
        return false;
    const size_t n = wide ? c.length / sizeof(SQLWCHAR) : c.length;
    auto at = [&](size_t i) -> uint32_t {
        if (!wide)
            return static_cast<unsigned char>(c.data[i]);
        SQLWCHAR u = 0;
        std::memcpy(&u, c.data + i * sizeof u, sizeof u);
        return u;
    };
    size_t i = 0;
    const bool negative = n > 0 && at(0) == '-';
    if (negative)
        i = 1;
    if (i == n || n - i > 19 || (at(i) == '0' && (n - i > 1 || negative)))
        return false;
    uint64_t v = 0;  // 19 digits fit
    for (; i < n; ++i) {
        const uint32_t d = at(i) - '0';
        if (d > 9)
            return false;
        v = v * 10 + d;
    }
    if (v > (negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX)))
        return false;
    *out = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

// Whether every set's SQL_C_SBIGINT / SQL_C_UBIGINT value of an input parameter can go to
// the server as its 8-byte integer: none waits for the agent to take it at execution (those
// pieces arrive as text), and no unsigned value lies beyond INT64_MAX (such a value keeps
// its text, and the server decides about it as before). The cells it reads are kept in
// cells (when given) for the fill; a parameter bound without length or indicator is not
// read.
int BigintTravelsAsInteger(const CellReader& in, const SetSpan& sets, ColumnPlan* plan, std::vector<Cell>* cells,
                           bool* integer) {
    const PARAMREC& p = *in.p;
    *integer = true;
    if (p.cType == SQL_C_SBIGINT && p.indicator == nullptr && p.octetLength == nullptr)
        return 0;
    if (cells != nullptr)
        plan->cells = cells->size();
    for (uint32_t s : sets) {
        Cell c;
        if (int rc = ReadCell(in, s, &c); rc != 0)
            return rc;
        if (c.kind == Cell::Pending) {
            *integer = false;
        } else if (c.kind == Cell::Value && p.cType == SQL_C_UBIGINT) {
            uint64_t v = 0;
            std::memcpy(&v, c.data, sizeof v);
            *integer = *integer && v <= static_cast<uint64_t>(INT64_MAX);
        }
        if (cells != nullptr)
            cells->push_back(c);
    }
    return 0;
}

// Decides a column's kind, type and width from every set that is sent, reading them
// through plan->in. The cells it has to read for that (text, binary data, GUIDs, some
// BIGINTs) are kept in cells (when given) for the fill, which then measures no text again.
// input: the parameter is input only (an input/output value comes back in the column's
// type, which stays text for BIGINT).
int PlanColumn(const SetSpan& sets, bool paramOp, bool input, ColumnPlan* plan, std::vector<Cell>* cells) {
    const CellReader& in = plan->in;
    plan->cells = kNoCells;
    const PARAMREC& p = *in.p;
    size_t longest = 0;
    bool anyEscape = false;
    bool anyNul = false;  // narrow text given with its length holds a NUL somewhere
    const bool wide = p.cType == SQL_C_WCHAR;
    // Text of a BIGINT parameter goes as the integer while every value spells one.
    bool integers = input && p.sqlType == SQL_BIGINT && (p.cType == SQL_C_CHAR || wide);
    if (in.fixed == 0 || p.cType == SQL_C_GUID) {
        if (cells != nullptr)
            plan->cells = cells->size();
        for (uint32_t s : sets) {
            Cell c;
            if (int rc = ReadCell(in, s, &c); rc != 0)
                return rc;
            longest = std::max(longest, c.length);
            anyEscape = anyEscape || StartsWithBrace(c, wide);
            anyNul = anyNul || (c.counted && p.cType == SQL_C_CHAR && c.length > 0 &&
                                std::memchr(c.data, 0, c.length) != nullptr);
            int64_t v = 0;
            integers = integers && (c.kind == Cell::Null || CanonicalInteger(c, wide, &v));
            if (cells != nullptr)
                cells->push_back(c);
        }
    }
    if (integers) {
        plan->decide(CellKind::IntText, DS_SBIGINT, 8);
        return 0;
    }
    const int32_t dateType = DateTimeDsType(p.sqlType);
    switch (p.cType) {
    case SQL_C_NUMERIC:
        // As text: a double would keep 15 of its up to 39 digits.
        plan->decide(CellKind::Numeric, DS_CHAR, static_cast<uint32_t>(NUMERIC_TEXT_LENGTH));
        return 0;
    case SQL_C_SBIGINT: case SQL_C_UBIGINT: {
        bool integer = false;
        if (int rc = input ? BigintTravelsAsInteger(in, sets, plan, cells, &integer) : 0; rc != 0)
            return rc;
        if (integer) {
            plan->decide(CellKind::Copy, DS_SBIGINT, 8);  // an unsigned value here has the same bytes
            return 0;
        }
        // Twenty digits and a sign fit; every set's text has the same room.
        plan->decide(CellKind::BigInt, DS_CHAR, 32);
        return 0;
    }
    case SQL_C_GUID:
        plan->decide(CellKind::Guid, DS_CHAR, GUID_TEXT_LENGTH + 1);
        return 0;
    case SQL_C_BINARY:
        if (!FitsCountedElement(longest))
            return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        plan->decide(CellKind::Binary, DS_VARBINARY32, static_cast<uint32_t>(longest + sizeof(int32_t)));
        return 0;
    default:
        break;
    }
    if (in.fixed != 0) {
        uint32_t width = 0;
        const int32_t type = CTypeToDsCType(p.cType, &width);
        plan->decide(CellKind::Copy, type, width);
        return 0;
    }
    if (p.cType == SQL_C_CHAR && IsBinarySql(p.sqlType)) {
        // Sized for the bytes the text stands for, not for the text.
        if (!FitsCountedElement(longest / 2))
            return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        plan->decide(CellKind::Hex, DS_VARBINARY32, static_cast<uint32_t>(longest / 2 + sizeof(int32_t)));
        return 0;
    }
    if ((p.cType == SQL_C_CHAR || wide) && dateType != DS_NONE && anyEscape) {
        // Escapes travel as the SQL type's structure, and so then does every other text of
        // the column: one column holds one type.
        plan->decide(wide ? CellKind::DateWide : CellKind::DateText, dateType,
                     dateType == DS_TIMESTAMP ? uint32_t{sizeof(SQL_TIMESTAMP_STRUCT)} : uint32_t{6});
        return 0;
    }
    if (dateType == DS_DATE || dateType == DS_TIME)
        longest = std::max<size_t>(longest, wide ? 12 : 6);
    else if (dateType == DS_TIMESTAMP)
        longest = std::max<size_t>(longest, wide ? 32 : 16);
    if (anyNul) {
        // The column travels counted, as binary data does, so that the server is told each
        // text's length and keeps the NUL; other text stays NUL-padded.
        if (!FitsCountedElement(longest))
            return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        plan->decide(CellKind::Binary, DS_VARCHAR32, static_cast<uint32_t>(longest + sizeof(int32_t)));
        return 0;
    }
    const size_t nul = wide ? sizeof(SQLWCHAR) : 1;
    size_t width = paramOp || longest == 0 ? longest + nul : longest;
    if (width > kLargestElement)
        return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
    plan->decide(wide ? CellKind::WideText : CellKind::Text, wide ? DS_WCHAR : DS_CHAR, static_cast<uint32_t>(width));
    return 0;
}

// The narrow form of date/time text: escapes as they stand, any other text as the value of
// the SQL type's escape.
std::string DateEscapeText(const char* text, size_t length, int16_t sqlType) {
    if (length > 0 && text[0] == '{')
        return std::string(text, length);
    const int32_t t = DateTimeDsType(sqlType);
    const char* keyword = t == DS_TIMESTAMP ? "ts" : t == DS_TIME ? "t" : "d";
    return std::string("{") + keyword + " '" + std::string(text, length) + "'}";
}

std::string NarrowOfWide(const char* data, size_t bytes) {
    std::string out(bytes / sizeof(SQLWCHAR), '\0');
    for (size_t i = 0; i < out.size(); ++i) {
        SQLWCHAR u = 0;
        std::memcpy(&u, data + i * sizeof u, sizeof u);
        out[i] = u < 0x80 ? static_cast<char>(u) : '?';
    }
    return out;
}

// Writes one present value into its element.
int FillCell(const ColumnPlan& plan, const Cell& c, unsigned char* elem) {
    const PARAMREC& p = *plan.in.p;
    switch (plan.kind) {
    case CellKind::Copy:
        // The common sizes as fixed moves, not a call to memcpy for a few bytes.
        switch (const size_t n = std::min<size_t>(c.length, plan.width)) {
        case 4: std::memcpy(elem, c.data, 4); break;
        case 8: std::memcpy(elem, c.data, 8); break;
        default: std::memcpy(elem, c.data, n); break;
        }
        return 0;
    case CellKind::Text:
    case CellKind::WideText:
        if (c.length > 0)
            std::memcpy(elem, c.data, std::min<size_t>(c.length, plan.width));
        return 0;
    case CellKind::Binary: {
        const auto n = static_cast<int32_t>(c.length);
        std::memcpy(elem, &n, sizeof n);
        if (c.length > 0)
            std::memcpy(elem + sizeof n, c.data, c.length);
        return 0;
    }
    case CellKind::Hex: {
        const auto n = static_cast<int32_t>(c.length / 2);
        if (int rc = c.length > 0 ? HexToBinary(elem + sizeof n, c.data, c.length) : 0; rc != 0)
            return rc;
        std::memcpy(elem, &n, sizeof n);
        return 0;
    }
    case CellKind::DateText:
    case CellKind::DateWide: {
        const std::string narrow = plan.kind == CellKind::DateWide ? NarrowOfWide(c.data, c.length)
                                                                   : std::string(c.data != nullptr ? c.data : "", c.length);
        const std::string escape = DateEscapeText(narrow.data(), narrow.size(), p.sqlType);
        SQL_TIMESTAMP_STRUCT value{};
        int32_t written = DS_NONE;
        if (int rc = ParseDateTimeEscape(&value, sizeof value, escape.data(), escape.size(), nullptr, p.sqlType,
                                         &written))
            return rc;
        if (written != plan.type)
            return ERR_INVALID_DATETIME_FORMAT;
        std::memcpy(elem, &value, plan.width);
        return 0;
    }
    case CellKind::BigInt: {
        // to_chars, not snprintf: one call a value of every inserted row. The element
        // (32 bytes) holds any 64-bit integer's text.
        auto* out = reinterpret_cast<char*>(elem);
        if (p.cType == SQL_C_SBIGINT) {
            int64_t v = 0;
            std::memcpy(&v, c.data, sizeof v);
            std::to_chars(out, out + plan.width, v);
        } else {
            uint64_t v = 0;
            std::memcpy(&v, c.data, sizeof v);
            std::to_chars(out, out + plan.width, v);
        }
        return 0;
    }
    case CellKind::IntText: {
        int64_t v = 0;
        if (!CanonicalInteger(c, p.cType == SQL_C_WCHAR, &v))
            return ERR_GENERAL_ERROR;  // planned from the same cells: cannot happen
        std::memcpy(elem, &v, sizeof v);
        return 0;
    }
    case CellKind::Numeric: {
        SQL_NUMERIC_STRUCT numeric;
        std::memcpy(&numeric, c.data, sizeof numeric);
        NumericToText(reinterpret_cast<char*>(elem), &numeric);
        return 0;
    }
    case CellKind::Guid: {
        SQLGUID guid;
        std::memcpy(&guid, c.data, sizeof guid);
        GuidToText(reinterpret_cast<char*>(elem), &guid);
        return 0;
    }
    }
    return ERR_GENERAL_ERROR;
}

}  // namespace

SQLLEN StmtParamBindOffset(const STMT* stmt) {
    return AddressingOf(stmt).offset;
}

int16_t ParamDirection(const COLDESC& desc, const PARAMREC* bound) {
    const char* name = desc.name;
    if (name[0] == '*' && name[1] == 'O')
        return OA_PARAM_OUTPUT;
    if (name[0] == '*' && name[1] == 'B')
        return OA_PARAM_INPUT_OUTPUT;
    if (name[0] == '*' && name[1] == 'U' && bound != nullptr) {
        if (bound->paramType == SQL_PARAM_OUTPUT)
            return OA_PARAM_OUTPUT;
        if (bound->paramType == SQL_PARAM_INPUT_OUTPUT)
            return OA_PARAM_INPUT_OUTPUT;
    }
    return OA_PARAM_INPUT;
}

void StmtCountParamDirections(STMT* stmt) {
    stmt->inParams = stmt->outParams = stmt->inOutParams = 0;
    for (uint16_t i = 0; i < stmt->paramDescs.count; ++i) {
        const PARAMREC* p = StmtGetParam(stmt, static_cast<uint16_t>(i + 1));
        switch (ParamDirection(stmt->paramDescs.items[i], p != nullptr && p->number != 0 ? p : nullptr)) {
        case OA_PARAM_OUTPUT: ++stmt->outParams; break;
        case OA_PARAM_INPUT_OUTPUT: ++stmt->inOutParams; break;
        default: ++stmt->inParams; break;
        }
    }
}

std::vector<PARAM_DESC> StmtParamDescs(const STMT* stmt) {
    std::vector<PARAM_DESC> descs(stmt->paramDescs.count);
    for (uint16_t i = 0; i < stmt->paramDescs.count && i < stmt->params.size(); ++i) {
        const PARAMREC& p = stmt->params[i];
        PARAM_DESC& d = descs[i];
        d = PARAM_DESC{};
        d.sqlType = p.sqlType;
        d.cType = p.cType;
        d.columnSize = static_cast<int32_t>(p.columnSize);
        d.scale = p.scale;
        d.paramType = ParamDirection(stmt->paramDescs.items[i], p.number != 0 ? &p : nullptr);
    }
    return descs;
}

namespace {

// Whether a column of the kind reads the same from a wider element: text ends at its NUL
// (the rest of a cleared element is zeroes), and counted values say their length.
bool WidthIsRoom(CellKind k) {
    return k == CellKind::Text || k == CellKind::WideText || k == CellKind::Binary || k == CellKind::Hex;
}

// Whether the element width of an earlier execution serves a column planned at need bytes:
// exactly, or for text and counted values any width from need up to twice it (at least 64
// bytes), so that values of varying lengths executed again do not rebuild the dataset (and
// the agent's buffers and bindings with it) each time the longest one changes, while one
// long value does not keep its room for good.
bool WidthServes(CellKind k, uint32_t width, uint32_t need) {
    need = std::max<uint32_t>(need, 1);
    if (width == need)
        return true;
    return WidthIsRoom(k) && width > need && width <= std::max<uint64_t>(2 * uint64_t{need}, 64);
}

// Whether ds has the planned columns (types, widths that serve) and rows, so that filling
// it again gives what a new dataset of the plan would hold. The plans then take the
// widths of ds.
bool FitsPlan(const DATASET* ds, std::vector<ColumnPlan>& plans, int32_t rows) {
    if (ds == nullptr || rows == 0 || ds->colsUsed != plans.size() || ds->rowsAllocated != rows)
        return false;
    for (size_t m = 0; m < plans.size(); ++m) {
        const DATASET_COL& col = ds->cols[m];
        if (col.type != plans[m].type || !WidthServes(plans[m].kind, col.width, plans[m].width) ||
            col.data == nullptr || col.indicators == nullptr)
            return false;
    }
    for (size_t m = 0; m < plans.size(); ++m)
        plans[m].width = ds->cols[m].width;
    return true;
}

// Fills the rows of ds from the sets, a column at a time: each column's reader and kind of
// cell stay the same down its rows. clear: the rows hold an earlier execution's values,
// and each column is set to NULL and zeroed (as a new dataset starts) just before it is
// filled. A failure answers the code of the first failing cell in the order of the sets,
// and of the parameters within a set, as a fill row by row would.
int FillRows(DATASET* ds, const std::vector<ColumnPlan>& plans, const std::vector<Cell>& cells, const SetSpan& sets,
             bool clear) {
    auto end = static_cast<int32_t>(sets.size());  // rows after a failing one need no value
    int failure = 0;
    for (size_t m = 0; m < plans.size(); ++m) {
        const ColumnPlan& plan = plans[m];
        DATASET_COL& col = ds->cols[m];
        const PARAMREC& p = *plan.in.p;
        const bool bare = plan.cells == kNoCells && plan.in.fixed != 0 && p.data != nullptr &&
                          p.indicator == nullptr && p.octetLength == nullptr && p.fixedCSize >= 0;
        // A value copied whole covers its element: nothing of the last execution stays.
        const bool covered = bare && plan.kind == CellKind::Copy && plan.in.fixed >= static_cast<SQLLEN>(col.width);
        if (clear && !covered) {
            std::memset(col.data, 0, static_cast<size_t>(end) * col.width);
            std::fill_n(col.indicators, end, DS_IND_NULL);
        }
        if (bare) {
            // A fixed-size value bound without a length or indicator buffer is present in
            // every set: no cell needs reading, each is the next element.
            const char* base = static_cast<const char*>(p.data) + plan.in.a.offset;
            for (int32_t k = 0; k < end; ++k) {
                const Cell c{Cell::Value, false, base + sets[static_cast<size_t>(k)] * plan.in.stride,
                             static_cast<size_t>(plan.in.fixed)};
                if (int rc = FillCell(plan, c, ds_Elem(&col, k)); rc != 0) {
                    failure = rc;
                    end = k;
                    break;
                }
                col.indicators[k] = 0;
            }
            continue;
        }
        for (int32_t k = 0; k < end; ++k) {
            Cell c;
            int rc = 0;
            if (plan.cells != kNoCells)
                c = cells[plan.cells + static_cast<size_t>(k)];
            else
                rc = ReadCell(plan.in, sets[static_cast<size_t>(k)], &c);
            if (rc == 0 && c.kind == Cell::Value && c.length > 0)
                rc = FillCell(plan, c, ds_Elem(&col, k));
            if (rc != 0) {
                failure = rc;
                end = k;
                break;
            }
            if (c.kind == Cell::Pending)
                col.indicators[k] = DS_IND_DATA_AT_EXEC;
            else if (c.kind == Cell::Value)
                col.indicators[k] = 0;
        }
    }
    return failure;
}

// What a build works in, kept by the thread from one build to the next: a statement
// executed row by row would otherwise allocate it at every execution. Cells beyond what a
// common array needs are given back after the build that needed them.
struct BuildScratch {
    static constexpr size_t kCellsKept = size_t{1} << 16;
    std::vector<ColumnPlan> plans;
    std::vector<Cell> cells;

    struct Release {
        BuildScratch* scratch;
        ~Release() {
            if (scratch->cells.capacity() > kCellsKept)
                std::vector<Cell>().swap(scratch->cells);
        }
    };
};

// Out of line: the thread's block is then looked up once a build, not again in every loop
// that uses it.
[[gnu::noinline]] BuildScratch* ThreadScratch() {
    thread_local BuildScratch scratch;
    return &scratch;
}

// The sets not marked SQL_PARAM_IGNORE in the APD's operation array.
std::vector<uint32_t> SentSets(const STMT* stmt) {
    const SQLUSMALLINT* operations = stmt->apd != nullptr ? stmt->apd->arrayStatus : nullptr;
    std::vector<uint32_t> sets;
    sets.reserve(stmt->paramSetSize);
    for (uint32_t s = 0; s < stmt->paramSetSize; ++s)
        if (operations == nullptr || operations[s] != SQL_PARAM_IGNORE)
            sets.push_back(s);
    return sets;
}

// Plans every input and input/output column from the sets (cells: see PlanColumn). 0, 48
// for a described parameter that is not bound, or the first column's refusal.
int PlanColumns(STMT* stmt, DaeRoad road, const SetSpan& sets, std::vector<ColumnPlan>& plans,
                std::vector<Cell>* cells) {
    const uint16_t described = stmt->paramDescs.count;
    const Addressing a = AddressingOf(stmt);
    plans.reserve(described);
    for (uint16_t i = 0; i < described; ++i) {
        const PARAMREC* p = StmtGetParam(stmt, static_cast<uint16_t>(i + 1));
        if (p == nullptr || p->number == 0)
            return ERR_WRONG_NUMBER_OF_PARAMETERS;
        const int16_t direction = ParamDirection(stmt->paramDescs.items[i], p);
        if (direction == OA_PARAM_OUTPUT)
            continue;
        const bool input = direction == OA_PARAM_INPUT;
        ColumnPlan& plan = plans.emplace_back();
        SetReader(&plan.in, *p, road, a);
        if (int rc = PlanColumn(sets, stmt->conn->cn_hasParamOp != 0, input, &plan, cells); rc != 0)
            return rc;
    }
    return 0;
}

// The rows of the sets filled in place into refill when it fits the plans, else into a
// new dataset; out->setOfRow is left to the caller. A failed refill leaves refill with no
// rows used.
int FillDataset(std::vector<ColumnPlan>& plans, const std::vector<Cell>& cells, const SetSpan& sets,
                DATASET* refill, PARAMSET* out) {
    const auto rows = static_cast<int32_t>(sets.size());
    if (FitsPlan(refill, plans, rows)) {
        // The dataset of the last execution, cleared as a new one would start: a prepared
        // statement executed again saves the allocations, and the agent's bindings to its
        // buffers stay.
        refill->rowsUsed = rows;
        if (int rc = FillRows(refill, plans, cells, sets, true); rc != 0) {
            refill->rowsUsed = 0;  // half filled: nothing the agent may run with
            return rc;
        }
        out->refilled = refill;
        return 0;
    }
    DatasetPtr ds(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (ds == nullptr || ds_Init(ds.get(), static_cast<uint16_t>(plans.size())) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    ds->colsUsed = static_cast<uint16_t>(plans.size());
    for (size_t m = 0; m < plans.size(); ++m) {
        ds->cols[m].type = plans[m].type;
        ds->cols[m].width = std::max<uint32_t>(plans[m].width, 1);
    }
    if (ds_AllocRows(ds.get(), rows) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    ds->rowsUsed = rows;
    if (int rc = FillRows(ds.get(), plans, cells, sets, false); rc != 0)
        return rc;
    out->values = std::move(ds);
    return 0;
}

// Whether filling a cell of the column can refuse it: a length or indicator buffer may
// hold a length no rule gives a meaning to (or a piece too short for its type), and
// hexadecimal and date/time text is converted by the driver.
bool CanRefuse(const ColumnPlan& plan) {
    const PARAMREC& p = *plan.in.p;
    return p.indicator != nullptr || p.octetLength != nullptr || plan.kind == CellKind::Hex ||
           plan.kind == CellKind::DateText || plan.kind == CellKind::DateWide;
}

// The refusal a fill of all the sets at once would give (the first failing cell in the
// order of the sets, and of the parameters within a set), found without keeping a row: a
// slice may only go to the server once no later slice can be refused.
int FirstRefusal(const std::vector<ColumnPlan>& plans, const SetSpan& sets) {
    std::vector<const ColumnPlan*> checked;
    size_t widest = 0;
    for (const ColumnPlan& plan : plans) {
        if (CanRefuse(plan)) {
            checked.push_back(&plan);
            widest = std::max<size_t>(widest, plan.width);
        }
    }
    if (checked.empty())
        return 0;
    std::vector<unsigned char> elem(widest + 1);
    for (uint32_t s : sets) {
        for (const ColumnPlan* plan : checked) {
            Cell c;
            int rc = ReadCell(plan->in, s, &c);
            const bool converted = plan->kind == CellKind::Hex || plan->kind == CellKind::DateText ||
                                   plan->kind == CellKind::DateWide;
            if (rc == 0 && converted && c.kind == Cell::Value && c.length > 0)
                rc = FillCell(*plan, c, elem.data());
            if (rc != 0)
                return rc;
        }
    }
    return 0;
}

}  // namespace

struct PARAMSLICES::Columns {
    std::vector<ColumnPlan> plans;
};

PARAMSLICES::PARAMSLICES() = default;
PARAMSLICES::~PARAMSLICES() = default;

int StmtBuildParamSet(STMT* stmt, DaeRoad road, PARAMSET* out, DATASET* refill) {
    BuildScratch* scratch = ThreadScratch();
    const BuildScratch::Release release{scratch};
    std::vector<ColumnPlan>& plans = scratch->plans;
    std::vector<Cell>& cells = scratch->cells;
    plans.clear();
    cells.clear();
    std::vector<uint32_t> sets;
    try {
        sets = SentSets(stmt);
        if (int rc = PlanColumns(stmt, road, {sets.data(), sets.size()}, plans, &cells); rc != 0)
            return rc;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (int rc = FillDataset(plans, cells, {sets.data(), sets.size()}, refill, out); rc != 0)
        return rc;
    out->setOfRow = std::move(sets);
    return 0;
}

int StmtPlanParamSlices(STMT* stmt, DaeRoad road, PARAMSLICES* out) {
    try {
        out->sets = SentSets(stmt);
        out->next = 0;
        out->columns = std::make_unique<PARAMSLICES::Columns>();
        const SetSpan all{out->sets.data(), out->sets.size()};
        if (int rc = PlanColumns(stmt, road, all, out->columns->plans, nullptr); rc != 0)
            return rc;
        return FirstRefusal(out->columns->plans, all);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

int StmtBuildParamSlice(PARAMSLICES* slices, PARAMSET* out, DATASET* refill) {
    const size_t first = slices->next;
    const size_t count = std::min<size_t>(kParamSliceRows, slices->sets.size() - first);
    slices->next = first + count;
    static const std::vector<Cell> kNone;
    if (int rc = FillDataset(slices->columns->plans, kNone, {slices->sets.data() + first, count}, refill, out); rc != 0)
        return rc;
    return 0;
}
