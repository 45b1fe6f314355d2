// Descriptor fields.
#include "driver/handlers/descfield.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "driver/exec/convert/valtypes.h"
#include "driver/frame/trace.h"
#include "driver/objects/desc.h"
#include "driver/objects/param.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "driver/handlers/stmtattr.h"
#include "util/charset.h"
#include "util/errcode.h"

namespace {

// ---- the field table ----

// Kinds of descriptor, as bits of a rule's masks.
constexpr uint8_t K_ARD = 1;
constexpr uint8_t K_APD = 2;
constexpr uint8_t K_USER = 4;
constexpr uint8_t K_IRD = 8;
constexpr uint8_t K_IPD = 16;
constexpr uint8_t K_APP = K_ARD | K_APD | K_USER;
constexpr uint8_t K_ALL = K_APP | K_IRD | K_IPD;

// How an answer is stored: at ODBC's width for the field.
enum class Form : uint8_t { I16, I32, Len, Ptr, Text };

struct FieldRule {
    int16_t id;
    bool header;
    Form form;
    uint8_t get;  // kinds that have the field
    uint8_t set;  // kinds on which the application may set it
};

// Every field, the kinds that have it and those that may set it. A set on an IRD of
// anything but the two status pointers is S1016 whatever the table says.
constexpr FieldRule kDescFields[] = {
    {SQL_DESC_ARRAY_SIZE, true, Form::Len, K_APP, K_APP},
    {SQL_DESC_ARRAY_STATUS_PTR, true, Form::Ptr, K_ALL, K_ALL},
    {SQL_DESC_BIND_OFFSET_PTR, true, Form::Ptr, K_APP, K_APP},
    {SQL_DESC_BIND_TYPE, true, Form::I32, K_APP, K_APP},
    {SQL_DESC_ROWS_PROCESSED_PTR, true, Form::Ptr, K_IRD | K_IPD, K_IRD | K_IPD},
    {SQL_DESC_COUNT, true, Form::I16, K_ALL, K_APP | K_IPD},
    {SQL_DESC_ALLOC_TYPE, true, Form::I16, K_ALL, 0},

    {SQL_DESC_CONCISE_TYPE, false, Form::I16, K_ALL, K_APP | K_IPD},
    {SQL_DESC_DISPLAY_SIZE, false, Form::Len, K_IRD, 0},
    {SQL_DESC_UNSIGNED, false, Form::I16, K_ALL, 0},
    {SQL_DESC_FIXED_PREC_SCALE, false, Form::I16, K_IRD | K_IPD, 0},
    {SQL_DESC_UPDATABLE, false, Form::I16, K_IRD, 0},
    {SQL_DESC_AUTO_UNIQUE_VALUE, false, Form::I32, K_IRD, 0},
    {SQL_DESC_CASE_SENSITIVE, false, Form::I32, K_IRD | K_IPD, 0},
    {SQL_DESC_SEARCHABLE, false, Form::I16, K_IRD, 0},
    {SQL_DESC_TYPE_NAME, false, Form::Text, K_IRD | K_IPD, 0},
    {SQL_DESC_TABLE_NAME, false, Form::Text, K_IRD, 0},
    {SQL_DESC_SCHEMA_NAME, false, Form::Text, K_IRD, 0},
    {SQL_DESC_CATALOG_NAME, false, Form::Text, K_IRD, 0},
    {SQL_DESC_LABEL, false, Form::Text, K_IRD, 0},
    {SQL_DESC_BASE_COLUMN_NAME, false, Form::Text, K_IRD, 0},
    {SQL_DESC_BASE_TABLE_NAME, false, Form::Text, K_IRD, 0},
    {SQL_DESC_DATETIME_INTERVAL_PRECISION, false, Form::I32, K_ALL, K_APP | K_IPD},
    {SQL_DESC_LITERAL_PREFIX, false, Form::Text, K_IRD, 0},
    {SQL_DESC_LITERAL_SUFFIX, false, Form::Text, K_IRD, 0},
    {SQL_DESC_LOCAL_TYPE_NAME, false, Form::Text, K_IRD | K_IPD, 0},
    {SQL_DESC_NUM_PREC_RADIX, false, Form::I32, K_ALL, K_APP | K_IPD},
    {SQL_DESC_PARAMETER_TYPE, false, Form::I16, K_IPD, K_IPD},
    {SQL_DESC_ROWVER, false, Form::I16, K_IRD | K_IPD, 0},
    {SQL_DESC_TYPE, false, Form::I16, K_ALL, K_APP | K_IPD},
    {SQL_DESC_LENGTH, false, Form::Len, K_ALL, K_APP | K_IPD},
    {SQL_DESC_OCTET_LENGTH_PTR, false, Form::Ptr, K_APP, K_APP},
    {SQL_DESC_PRECISION, false, Form::I16, K_ALL, K_APP | K_IPD},
    {SQL_DESC_SCALE, false, Form::I16, K_ALL, K_APP | K_IPD},
    {SQL_DESC_DATETIME_INTERVAL_CODE, false, Form::I16, K_ALL, K_APP | K_IPD},
    {SQL_DESC_NULLABLE, false, Form::I16, K_IRD | K_IPD, 0},
    {SQL_DESC_INDICATOR_PTR, false, Form::Ptr, K_APP, K_APP},
    {SQL_DESC_DATA_PTR, false, Form::Ptr, K_APP, K_APP},
    {SQL_DESC_NAME, false, Form::Text, K_IRD | K_IPD, K_IPD},
    {SQL_DESC_UNNAMED, false, Form::I16, K_IRD | K_IPD, K_IPD},
    {SQL_DESC_OCTET_LENGTH, false, Form::Len, K_ALL, K_APP | K_IPD},
    // The agent's own attributes, passed through: 1053 a key column, 1055 an expression.
    {1053, false, Form::I16, K_IRD, 0},
    {1055, false, Form::I16, K_IRD, 0},
};

const FieldRule* FindRule(int field) {
    for (const FieldRule& r : kDescFields)
        if (r.id == field)
            return &r;
    return nullptr;
}

uint8_t KindBit(const DESC* d) {
    switch (d->type) {
    case DESC_ARD: return K_ARD;
    case DESC_APD: return K_APD;
    case DESC_IRD: return K_IRD;
    case DESC_IPD: return K_IPD;
    default: return K_USER;
    }
}

// ---- types ----

// Derived fields of a concise type set on a record: one row per group of types. -1 leaves
// a field alone; a code of 100 means the type less 100.
struct TypeRule {
    int16_t lo, hi;           // the types of the row
    int16_t verbose;          // 0: the type itself
    int16_t code;             // interval code
    int32_t length;           // LENGTH
    int16_t precision;        // PRECISION
    int16_t scale;            // SCALE
    int16_t intervalPrecision;
};
constexpr TypeRule kTypeRules[] = {
    {SQL_CHAR, SQL_CHAR, 0, 0, 1, 0, -1, -1},
    {SQL_VARCHAR, SQL_VARCHAR, 0, 0, 1, 0, -1, -1},
    {SQL_WLONGVARCHAR, SQL_WCHAR, 0, 0, 1, 0, -1, -1},  // -10 to -8
    {SQL_LONGVARCHAR, SQL_LONGVARCHAR, 0, 0, 1, 0, -1, -1},
    {SQL_NUMERIC, SQL_DECIMAL, 0, 0, -1, 38, 0, -1},
    {SQL_INTEGER, SQL_SMALLINT, 0, 0, -1, -1, -1, -1},
    {SQL_DOUBLE, SQL_DOUBLE, 0, 0, -1, -1, -1, -1},
    {SQL_C_UTINYINT, SQL_C_SBIGINT, 0, 0, -1, -1, -1, -1},  // -28 to -25
    {SQL_C_ULONG, SQL_C_SSHORT, 0, 0, -1, -1, -1, -1},      // -18 to -15
    {SQL_GUID, SQL_GUID, 0, 0, -1, -1, -1, -1},
    {SQL_BIT, SQL_BINARY, 0, 0, -1, -1, -1, -1},  // -7 to -2
    {SQL_FLOAT, SQL_FLOAT, 0, 0, -1, 53, -1, -1},
    {SQL_REAL, SQL_REAL, 0, 0, -1, 24, -1, -1},
    {SQL_DATE, SQL_DATE, SQL_DATETIME, SQL_CODE_DATE, -1, 0, -1, -1},
    {SQL_TYPE_DATE, SQL_TYPE_DATE, SQL_DATETIME, SQL_CODE_DATE, -1, 0, -1, -1},
    {SQL_TIME, SQL_TIME, SQL_DATETIME, SQL_CODE_TIME, -1, 0, -1, -1},
    {SQL_TYPE_TIME, SQL_TYPE_TIME, SQL_DATETIME, SQL_CODE_TIME, -1, 0, -1, -1},
    {SQL_TIMESTAMP, SQL_TIMESTAMP, SQL_DATETIME, SQL_CODE_TIMESTAMP, -1, 6, -1, -1},
    {SQL_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, SQL_DATETIME, SQL_CODE_TIMESTAMP, -1, 6, -1, -1},
    {SQL_C_DEFAULT, SQL_C_DEFAULT, 0, -1, -1, -1, -1, -1},
    {SQL_INTERVAL_YEAR, SQL_INTERVAL_MINUTE, SQL_INTERVAL, 100, -1, -1, -1, 2},  // 101 to 105
    {SQL_INTERVAL_SECOND, SQL_INTERVAL_SECOND, SQL_INTERVAL, 100, -1, 6, -1, 2},
    {SQL_INTERVAL_YEAR_TO_MONTH, SQL_INTERVAL_DAY_TO_MINUTE, SQL_INTERVAL, 100, -1, -1, -1, 2},  // 107 to 109
    {SQL_INTERVAL_DAY_TO_SECOND, SQL_INTERVAL_DAY_TO_SECOND, SQL_INTERVAL, 100, -1, 6, -1, 2},
    {SQL_INTERVAL_HOUR_TO_MINUTE, SQL_INTERVAL_HOUR_TO_MINUTE, SQL_INTERVAL, 100, -1, -1, -1, 2},
    {SQL_INTERVAL_HOUR_TO_SECOND, SQL_INTERVAL_MINUTE_TO_SECOND, SQL_INTERVAL, 100, -1, 6, -1, 2},  // 112, 113
};

const TypeRule* FindType(int type) {
    for (const TypeRule& r : kTypeRules)
        if (type >= r.lo && type <= r.hi)
            return &r;
    return nullptr;
}

// A record's concise type and the fields it implies.
void SetConcise(DESCREC* rec, int16_t type, const TypeRule& r) {
    rec->conciseType = type;
    rec->type = r.verbose != 0 ? r.verbose : type;
    if (r.code >= 0)
        rec->intervalCode = r.code == 100 ? static_cast<int16_t>(type - 100) : r.code;
    if (r.length >= 0)
        rec->length = static_cast<SQLULEN>(r.length);
    if (r.precision >= 0)
        rec->precision = r.precision;
    if (r.scale >= 0)
        rec->scale = r.scale;
    if (r.intervalPrecision >= 0)
        rec->intervalPrecision = r.intervalPrecision;
}

// The concise type a verbose type and an interval code give; 0 when they give none.
int16_t ConciseOfVerbose(int16_t verbose, int16_t code) {
    if (verbose == SQL_DATETIME)
        return code >= SQL_CODE_DATE && code <= SQL_CODE_TIMESTAMP ? static_cast<int16_t>(code + 90) : 0;
    if (verbose == SQL_INTERVAL)
        return code >= 1 && code <= 13 ? static_cast<int16_t>(code + 100) : 0;
    return verbose;
}

int16_t VerboseOf(int type) {
    const TypeRule* r = FindType(type);
    return r != nullptr && r->verbose != 0 ? r->verbose : static_cast<int16_t>(type);
}

int16_t IntervalCodeOf(int type) {
    const TypeRule* r = FindType(type);
    if (r == nullptr || r->code <= 0)
        return 0;
    return r->code == 100 ? static_cast<int16_t>(type - 100) : r->code;
}

// Signed numbers answer SQL_DESC_UNSIGNED false; unsigned C types and everything that is
// not a number answer true. The SQL and C codes of the signed kinds coincide.
int16_t UnsignedOf(int type) {
    switch (type) {
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER: case SQL_SMALLINT: case SQL_FLOAT: case SQL_REAL:
    case SQL_DOUBLE: case SQL_BIGINT: case SQL_TINYINT: case SQL_C_SSHORT: case SQL_C_SLONG: case SQL_C_SBIGINT:
    case SQL_C_STINYINT:
        return SQL_FALSE;
    default:
        return SQL_TRUE;
    }
}

int32_t RadixOf(int type) {
    switch (type) {
    case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
        return 2;
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER: case SQL_SMALLINT: case SQL_BIGINT: case SQL_TINYINT:
    case SQL_C_UTINYINT: case SQL_C_UBIGINT: case SQL_C_STINYINT: case SQL_C_SBIGINT: case SQL_C_ULONG:
    case SQL_C_USHORT: case SQL_C_SLONG: case SQL_C_SSHORT:
        return 10;
    default:
        return 0;
    }
}

bool IsCharType(int type) {
    switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
        return true;
    default:
        return false;
    }
}

// The bytes a value of an SQL type takes in its default C form (ODBC's transfer octet
// length), for a column of the given size.
SQLLEN SqlOctetLength(int type, SQLULEN size) {
    switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
        return static_cast<SQLLEN>(size);
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
        return static_cast<SQLLEN>(2 * size);
    case SQL_NUMERIC: case SQL_DECIMAL:
        return static_cast<SQLLEN>(size + 2);
    case SQL_INTEGER: case SQL_REAL: return 4;
    case SQL_SMALLINT: return 2;
    case SQL_TINYINT: case SQL_BIT: return 1;
    case SQL_BIGINT: case SQL_FLOAT: case SQL_DOUBLE: return 8;
    case SQL_DATE: case SQL_TIME: case SQL_TYPE_DATE: case SQL_TYPE_TIME: return 6;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: case SQL_GUID: return 16;
    default:
        return type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND ? 34 : 0;
    }
}

// PRECISION of a described column: the digits of a number, the fraction digits of a time,
// timestamp or interval with seconds.
int16_t SqlPrecision(const COLDESC& d) {
    switch (d.sqlType) {
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER: case SQL_SMALLINT: case SQL_FLOAT: case SQL_REAL:
    case SQL_DOUBLE: case SQL_BIGINT: case SQL_TINYINT:
        return static_cast<int16_t>(d.columnSize);
    case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: case SQL_INTERVAL_SECOND:
    case SQL_INTERVAL_DAY_TO_SECOND: case SQL_INTERVAL_HOUR_TO_SECOND: case SQL_INTERVAL_MINUTE_TO_SECOND:
        return d.decimalDigits;
    default:
        return 0;
    }
}

// ---- application records ----

// The C type's fixed size; 0 for CHAR, WCHAR, BINARY and SQL_C_DEFAULT, whose length is
// the buffer's.
SQLLEN FixedCSize(int cType) {
    return cType == SQL_C_DEFAULT ? 0 : CTypeOctetLength(cType);
}

SQLLEN AppOctetLength(const DESCREC& r) {
    const SQLLEN fixed = FixedCSize(r.conciseType);
    return fixed != 0 ? fixed : r.octetLength;
}

// LENGTH of an application record: a fixed C type's size; for a bound buffer of text its
// room in characters without the terminator, of bytes its size; else what was set.
SQLLEN AppLength(const DESCREC& r) {
    if (const SQLLEN fixed = FixedCSize(r.conciseType); fixed != 0)
        return fixed;
    if (r.data == nullptr)
        return static_cast<SQLLEN>(r.length);
    if (r.conciseType == SQL_C_CHAR)
        return r.octetLength > 0 ? r.octetLength - 1 : 0;
    if (r.conciseType == SQL_C_WCHAR)
        return r.octetLength >= 2 ? r.octetLength / 2 - 1 : 0;
    return r.octetLength;
}

// ---- answers ----

struct Answer {
    int64_t number = 0;
    const void* pointer = nullptr;
    std::string text;
};

int TypeText(CONN* conn, int column, int type, std::string* out) {
    return ConnGetTypeInfoCol(conn, column, static_cast<int16_t>(type), out);
}

// A record field of an application descriptor or an IPD, from its record.
int RecordField(DESC* desc, const DESCREC& r, int field, Answer* a) {
    const bool app = DescIsApplication(desc);
    switch (field) {
    case SQL_DESC_CONCISE_TYPE: a->number = r.conciseType; return 0;
    case SQL_DESC_TYPE: a->number = r.type; return 0;
    case SQL_DESC_DATETIME_INTERVAL_CODE: {
        const int16_t code = IntervalCodeOf(r.conciseType);
        a->number = code != 0 ? code : r.intervalCode;
        return 0;
    }
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: a->number = r.intervalPrecision; return 0;
    case SQL_DESC_UNSIGNED: a->number = UnsignedOf(r.conciseType); return 0;
    case SQL_DESC_NUM_PREC_RADIX: a->number = r.radix != 0 ? r.radix : RadixOf(r.conciseType); return 0;
    case SQL_DESC_PRECISION: a->number = r.precision; return 0;
    case SQL_DESC_SCALE: a->number = r.scale; return 0;
    case SQL_DESC_LENGTH:
        a->number = app ? AppLength(r) : static_cast<SQLLEN>(r.length);
        return 0;
    case SQL_DESC_OCTET_LENGTH:
        if (app)
            a->number = AppOctetLength(r);
        else
            a->number = r.octetLength != 0 ? r.octetLength : SqlOctetLength(r.conciseType, DescParamColumnSize(r));
        return 0;
    case SQL_DESC_OCTET_LENGTH_PTR: a->pointer = r.octetLengthPtr; return 0;
    case SQL_DESC_INDICATOR_PTR: a->pointer = r.indicator; return 0;
    case SQL_DESC_DATA_PTR: a->pointer = r.data; return 0;
    // IPD only, by the table.
    case SQL_DESC_FIXED_PREC_SCALE: a->number = SQL_FALSE; return 0;
    case SQL_DESC_CASE_SENSITIVE: a->number = IsCharType(r.conciseType) ? SQL_TRUE : SQL_FALSE; return 0;
    case SQL_DESC_TYPE_NAME: return TypeText(desc->conn, 1, r.conciseType, &a->text);
    case SQL_DESC_LOCAL_TYPE_NAME: return 0;
    case SQL_DESC_PARAMETER_TYPE: a->number = r.paramType; return 0;
    case SQL_DESC_ROWVER: a->number = SQL_FALSE; return 0;
    case SQL_DESC_NULLABLE: a->number = SQL_NULLABLE; return 0;
    case SQL_DESC_NAME: a->text = r.name; return 0;
    case SQL_DESC_UNNAMED: a->number = r.name.empty() ? SQL_UNNAMED : SQL_NAMED; return 0;
    default: return ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE;
    }
}

// Stores a header or record answer in the field's form.
SQLRETURN Store(DESC* desc, Form form, const Answer& a, void* value, SQLLEN bufferLength, SQLLEN* stringLength,
                int width) {
    auto put = [&](const auto v) {
        if (value != nullptr)
            std::memcpy(value, &v, sizeof v);
        if (stringLength != nullptr)
            *stringLength = sizeof v;
        return SQL_SUCCESS;
    };
    switch (form) {
    case Form::I16: return put(static_cast<int16_t>(a.number));
    case Form::I32: return put(static_cast<int32_t>(a.number));
    case Form::Len: return put(static_cast<SQLLEN>(a.number));
    case Form::Ptr:
        // A pointer needs 8 bytes; SQL_IS_POINTER (-4) taken unsigned is room enough.
        if (static_cast<SQLULEN>(bufferLength) < sizeof(SQLPOINTER)) {
            desc->diag.errCode = ERR_INVALID_ARGUMENT_VALUE;
            return SQL_ERROR;
        }
        return put(static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(a.pointer)));
    case Form::Text:
        if (bufferLength < 0) {
            desc->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
            return SQL_ERROR;
        }
        return OutString(a.text, value, bufferLength, OutUnit::Bytes, width, stringLength, &desc->diag);
    }
    return SQL_SUCCESS;
}

bool IsCurrentArd(const DESC* d) {
    return d->stmt != nullptr && d->stmt->ard == d;
}
bool IsCurrentApd(const DESC* d) {
    return d->stmt != nullptr && d->stmt->apd == d;
}

SQLRETURN Fail(DESC* desc, int code) {
    desc->diag.errCode = code;
    return SQL_ERROR;
}

// ---- setting ----

// The statements a set is carried into, each with the part the descriptor plays there.
struct Use {
    STMT* stmt;
    bool asArd;  // else as APD (application kinds), or as its own IRD/IPD
};

std::vector<Use> UsesOf(DESC* desc) {
    std::vector<Use> uses;
    if (desc->allocKind == DESC_ALLOC_USER) {
        for (STMT* s = desc->conn->stmts; s != nullptr; s = s->next) {
            if (s->ard == desc)
                uses.push_back({s, true});
            if (s->apd == desc)
                uses.push_back({s, false});
        }
        return uses;
    }
    // An implicit ARD or APD that is not current binds nothing of its statement's.
    if (desc->type == DESC_ARD ? IsCurrentArd(desc) : desc->type == DESC_APD ? IsCurrentApd(desc) : true)
        uses.push_back({desc->stmt, desc->type == DESC_ARD});
    return uses;
}

// The outcome of one statement-level step: its code moves to the descriptor.
SQLRETURN StmtStep(DESC* desc, int rc) {
    if (rc == 0)
        return SQL_SUCCESS;
    desc->diag.errCode = rc;
    return SQL_ERROR;
}

// An integer carried in a pointer-sized value, as ODBC passes them.
int64_t IntOf(SQLPOINTER v) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(v));
}

// The value of SQL_DESC_NAME as UTF-8 (or the ANSI code page), from a narrow or wide text
// of length bytes or SQL_NTS. False for a bad length.
bool NameIn(const void* value, SQLLEN length, int width, std::string* out) {
    out->clear();
    if (length < 0 && length != SQL_NTS)
        return false;
    if (value == nullptr)
        return true;
    if (width != WIDTH_WIDE) {
        const auto* text = static_cast<const char*>(value);
        out->assign(text, length == SQL_NTS ? std::strlen(text) : strnlen(text, static_cast<size_t>(length)));
        return true;
    }
    std::vector<SQLWCHAR> units;
    for (SQLLEN i = 0; length == SQL_NTS || i < length / 2; ++i) {
        SQLWCHAR u;
        std::memcpy(&u, static_cast<const char*>(value) + 2 * i, sizeof u);  // need not be aligned
        if (u == 0)
            break;
        units.push_back(u);
    }
    units.push_back(0);
    char* copy = DriverTextCode() == TextCode::Utf8 ? ut_Ucs2ToUtf8DupZ(units.data()) : ut_Ucs2ToAnsiDupZ(units.data());
    if (copy == nullptr)
        return false;
    out->assign(copy);
    std::free(copy);
    return true;
}

// ODBC's consistency check of an application record about to be bound: a C type the
// driver converts to, and the digits of a numeric structure.
bool Consistent(const DESCREC& app) {
    const int16_t t = app.conciseType;
    if (t != SQL_C_DEFAULT && t != SQL_C_CHAR && t != SQL_C_WCHAR && t != SQL_C_BINARY && FixedCSize(t) == 0)
        return false;
    return t != SQL_C_NUMERIC ||
           (app.precision >= 1 && app.precision <= 38 && app.scale >= 0 && app.scale <= app.precision);
}

// The statement parameter n takes the IPD's record n for its SQL side, when bound.
int RebindParamSqlSide(STMT* stmt, int n) {
    PARAMREC* p = StmtGetParam(stmt, static_cast<uint16_t>(n));
    const DESCREC* i = DescGetRec(stmt->ipd, n);
    if (p == nullptr || p->number == 0 || i == nullptr)
        return 0;
    const PARAMREC c = *p;
    const DESCREC imp = *i;
    if (StmtBindParam(stmt, static_cast<uint16_t>(n), imp.paramType, c.cType, imp.conciseType,
                      DescParamColumnSize(imp), DescParamDigits(imp), c.data, c.bufferLength, c.indicator,
                      c.octetLength) != SQL_SUCCESS)
        return stmt->diag.errCode;
    return 0;
}

// A deferred pointer of a record carried into the binding made from it, if any.
void CarryPointer(STMT* stmt, bool asArd, int n, int field, SQLLEN* p) {
    if (asArd) {
        if (BINDCOL* b = StmtGetBoundCol(stmt, static_cast<uint16_t>(n)))
            (field == SQL_DESC_INDICATOR_PTR ? b->indicator : b->octetLength) = p;
        return;
    }
    if (PARAMREC* q = StmtGetParam(stmt, static_cast<uint16_t>(n)); q != nullptr && q->number != 0)
        (field == SQL_DESC_INDICATOR_PTR ? q->indicator : q->octetLength) = p;
}

// Unbinds columns or parameters above n in a statement after the count went down.
void UnbindAbove(STMT* stmt, bool asArd, int n) {
    if (asArd) {
        std::erase_if(stmt->boundCols, [n](const BINDCOL& b) { return b.column > n; });
        return;
    }
    for (size_t i = static_cast<size_t>(n); i < stmt->params.size(); ++i)
        stmt->params[i] = PARAMREC{};
}

SQLRETURN SetHeader(DESC* desc, int field, SQLPOINTER value, const std::vector<Use>& uses) {
    switch (field) {
    case SQL_DESC_ARRAY_SIZE: {
        const auto n = static_cast<SQLULEN>(IntOf(value));
        if (n == 0) {
            // No rowset or parameter set is empty; nothing changes (HY024).
            desc->diag.errCode = ERR_INVALID_ATTRIBUTE_VALUE;
            return SQL_ERROR;
        }
        SQLRETURN ret = SQL_SUCCESS;
        for (const Use& u : uses) {
            u.stmt->diag.errCode = 0;
            if (u.asArd) {
                ret = StmtSetOption(u.stmt, SQL_ROWSET_SIZE, n);
                desc->diag.errCode = u.stmt->diag.errCode;
                if (ret == SQL_ERROR)
                    return ret;
                desc->arraySize = static_cast<uint32_t>(u.stmt->cursor.rowsetSize);
            } else {
                if (StmtStep(desc, StmtParamOptions(u.stmt, n, u.stmt->rowsProcessed)) != SQL_SUCCESS)
                    return SQL_ERROR;
                desc->arraySize = n;
            }
        }
        if (uses.empty())
            desc->arraySize = n;
        return ret;
    }
    case SQL_DESC_ARRAY_STATUS_PTR:
        desc->arrayStatus = static_cast<SQLUSMALLINT*>(value);
        return SQL_SUCCESS;
    case SQL_DESC_BIND_OFFSET_PTR:
        desc->bindOffset = static_cast<SQLLEN*>(value);
        return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE:
        // The agent counts in 32 bits: a larger row size becomes the largest.
        desc->bindType = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(IntOf(value)), INT32_MAX));
        for (const Use& u : uses)
            if (u.asArd)
                u.stmt->bindType = desc->bindType;
        return SQL_SUCCESS;
    case SQL_DESC_ROWS_PROCESSED_PTR: {
        auto* p = static_cast<SQLULEN*>(value);
        for (const Use& u : uses) {
            if (desc->type == DESC_IRD) {
                u.stmt->rowsFetched = p;
                continue;
            }
            // The parameter-set size stays what it is; only the pointer is new.
            if (StmtStep(desc, StmtParamOptions(u.stmt, u.stmt->paramSetSize, p)) != SQL_SUCCESS)
                return SQL_ERROR;
            u.stmt->rowsProcessed = p;
        }
        desc->rowsProcessed = p;
        return SQL_SUCCESS;
    }
    case SQL_DESC_COUNT: {
        const int64_t n = IntOf(value);
        if (n < 0 || n > INT16_MAX)
            return Fail(desc, ERR_INVALID_DESCRIPTOR_INDEX);
        const int count = static_cast<int>(n);
        if (count < DescRecCount(desc)) {
            DescTruncateRecs(desc, count);
            for (const Use& u : uses)
                if (desc->type != DESC_IPD)
                    UnbindAbove(u.stmt, u.asArd, count);
        } else if (int rc = DescGrowRecs(desc, count); rc != 0) {
            return Fail(desc, rc);
        }
        for (const Use& u : uses)
            if (!u.asArd && DescIsApplication(desc))
                DescGrowRecs(u.stmt->ipd, count);
        return SQL_SUCCESS;
    }
    default:
        return Fail(desc, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    }
}

// Checks a record field's value before anything changes. 0 or the code.
int CheckRecordValue(const DESCREC& r, int field, SQLPOINTER value) {
    const int64_t v = IntOf(value);
    switch (field) {
    case SQL_DESC_CONCISE_TYPE:
        return FindType(static_cast<int>(v)) != nullptr && v == static_cast<int16_t>(v) ? 0
                                                                                       : ERR_OPTION_TYPE_OUT_OF_RANGE;
    case SQL_DESC_TYPE: {
        const TypeRule* t = FindType(static_cast<int>(v));
        const bool plain = t != nullptr && t->verbose == 0 && v == static_cast<int16_t>(v);
        return plain || v == SQL_DATETIME || v == SQL_INTERVAL ? 0 : ERR_OPTION_TYPE_OUT_OF_RANGE;
    }
    case SQL_DESC_PARAMETER_TYPE:
        return v == SQL_PARAM_INPUT || v == SQL_PARAM_INPUT_OUTPUT || v == SQL_PARAM_OUTPUT
                   ? 0
                   : ERR_INVALID_ATTRIBUTE_VALUE;
    case SQL_DESC_UNNAMED:
        // Only the driver names a parameter: an application may only take a name away.
        return v == SQL_UNNAMED ? 0 : ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE;
    case SQL_DESC_DATA_PTR:
        return value == nullptr || Consistent(r) ? 0 : ERR_INCONSISTENT_DESCRIPTOR_INFORMATION;
    default:
        return 0;
    }
}

// Writes a record field into the record itself.
void WriteRecordField(DESCREC* r, int field, SQLPOINTER value, const std::string& name) {
    const int64_t v = IntOf(value);
    switch (field) {
    case SQL_DESC_CONCISE_TYPE:
        SetConcise(r, static_cast<int16_t>(v), *FindType(static_cast<int>(v)));
        break;
    case SQL_DESC_TYPE:
        if (v == SQL_DATETIME || v == SQL_INTERVAL) {
            r->type = static_cast<int16_t>(v);
            if (const int16_t c = ConciseOfVerbose(r->type, r->intervalCode); c != 0)
                SetConcise(r, c, *FindType(c));
        } else {
            SetConcise(r, static_cast<int16_t>(v), *FindType(static_cast<int>(v)));
        }
        break;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
        r->intervalCode = static_cast<int16_t>(v);
        if (r->type == SQL_DATETIME || r->type == SQL_INTERVAL)
            if (const int16_t c = ConciseOfVerbose(r->type, r->intervalCode); c != 0)
                r->conciseType = c;
        break;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: r->intervalPrecision = static_cast<int32_t>(v); break;
    case SQL_DESC_NUM_PREC_RADIX: r->radix = static_cast<int32_t>(v); break;
    case SQL_DESC_PARAMETER_TYPE: r->paramType = static_cast<int16_t>(v); break;
    case SQL_DESC_LENGTH: r->length = static_cast<SQLULEN>(v); break;
    case SQL_DESC_PRECISION: r->precision = static_cast<int16_t>(v); break;
    case SQL_DESC_SCALE: r->scale = static_cast<int16_t>(v); break;
    case SQL_DESC_OCTET_LENGTH: r->octetLength = static_cast<SQLLEN>(v); break;
    case SQL_DESC_OCTET_LENGTH_PTR: r->octetLengthPtr = static_cast<SQLLEN*>(value); break;
    case SQL_DESC_INDICATOR_PTR: r->indicator = static_cast<SQLLEN*>(value); break;
    case SQL_DESC_DATA_PTR: r->data = value; break;
    case SQL_DESC_NAME: r->name = name; break;
    case SQL_DESC_UNNAMED: r->name.clear(); break;
    default: break;
    }
}

SQLRETURN SetRecord(DESC* desc, int n, int field, SQLPOINTER value, SQLLEN stringLength, int width,
                    const std::vector<Use>& uses) {
    if (n < 0 || n > INT16_MAX || (n == 0 && desc->type != DESC_ARD))
        return Fail(desc, ERR_INVALID_DESCRIPTOR_INDEX);
    std::string name;
    if (field == SQL_DESC_NAME && !NameIn(value, stringLength, width, &name))
        return Fail(desc, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    // The value is checked against the record as it stands, before anything changes or
    // is unbound.
    DESCREC probe;
    if (const DESCREC* existing = DescGetRec(desc, n))
        probe = *existing;
    else
        DescRecDefaults(desc, &probe);
    if (int rc = CheckRecordValue(probe, field, value); rc != 0)
        return Fail(desc, rc);
    if (int rc = DescGrowRecs(desc, n); rc != 0)
        return Fail(desc, rc);
    for (const Use& u : uses)
        if (!u.asArd && DescIsApplication(desc))
            DescGrowRecs(u.stmt->ipd, n);
    DESCREC* r = DescGetRec(desc, n);

    const bool deferred =
        field == SQL_DESC_DATA_PTR || field == SQL_DESC_INDICATOR_PTR || field == SQL_DESC_OCTET_LENGTH_PTR;
    if (DescIsApplication(desc) && !deferred)
        r->data = nullptr;  // any other field unbinds the record
    WriteRecordField(r, field, value, name);

    for (const Use& u : uses) {
        STMT* s = u.stmt;
        s->diag.errCode = 0;
        if (desc->type == DESC_IPD) {
            if (StmtStep(desc, RebindParamSqlSide(s, n)) != SQL_SUCCESS)
                return SQL_ERROR;
            continue;
        }
        if (field == SQL_DESC_INDICATOR_PTR || field == SQL_DESC_OCTET_LENGTH_PTR) {
            CarryPointer(s, u.asArd, n, field, static_cast<SQLLEN*>(value));
            continue;
        }
        if (StmtStep(desc, u.asArd ? StmtApplyARDRec(s, n) : StmtApplyAPDRec(s, n)) != SQL_SUCCESS)
            return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

}  // namespace

// ---- the bookmark column and the IRD ----

const COLDESC& BookmarkColumnDesc() {
    static const COLDESC d = [] {
        COLDESC c;
        std::strcpy(c.name, "BOOKMARK");
        c.sqlType = SQL_CHAR;
        c.columnSize = 8;
        c.displaySize = 8;
        c.internalType = DS_ULONG;
        c.declaredWidth = 8;
        return c;
    }();
    return d;
}

int IrdColumnField(STMT* stmt, const COLDESC& d, uint16_t column, int field, ColumnAnswer* out) {
    const bool bookmark = column == 0;
    const bool ext = !bookmark && stmt->conn->agentCaps[0] != 0;
    auto extInt = [&](int attribute, int32_t* v) { return ext && StmtColAttrInt(stmt, &d, attribute, v); };
    auto extText = [&](int attribute, const char** v) { return ext && StmtColAttrText(stmt, &d, attribute, v); };
    auto number = [&](int64_t v) {
        out->isText = false;
        out->number = v;
        return 0;
    };
    auto text = [&](const char* v) {
        out->isText = true;
        out->text = v != nullptr ? v : "";
        return 0;
    };
    const char* label = d.label != nullptr && d.label[0] != '\0' ? d.label : d.name;
    int32_t i = 0;
    const char* t = nullptr;
    switch (field) {
    case SQL_DESC_CONCISE_TYPE: return number(d.sqlType);
    case SQL_DESC_TYPE: return number(VerboseOf(d.sqlType));
    case SQL_DESC_DATETIME_INTERVAL_CODE: return number(IntervalCodeOf(d.sqlType));
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: return number(0);
    case SQL_DESC_DISPLAY_SIZE: return number(d.displaySize);
    case SQL_DESC_UNSIGNED: return number(UnsignedOf(d.sqlType));
    case SQL_DESC_FIXED_PREC_SCALE: return number(SQL_FALSE);  // the server has no money types
    case SQL_DESC_UPDATABLE:
        if (bookmark)
            return number(SQL_ATTR_READONLY);
        if (extInt(SQL_DESC_UPDATABLE, &i))
            return number(i);
        return number((d.flags & 0xF0) != 0 ? static_cast<int64_t>(d.flags >> 4) - 1 : SQL_ATTR_READWRITE_UNKNOWN);
    case SQL_DESC_AUTO_UNIQUE_VALUE: return number(extInt(field, &i) ? i : SQL_FALSE);
    case SQL_DESC_CASE_SENSITIVE:
        return number(extInt(field, &i) ? i : IsCharType(d.sqlType) ? SQL_TRUE : SQL_FALSE);
    case SQL_DESC_SEARCHABLE:
        if (bookmark)
            return number(SQL_PRED_NONE);
        if (extInt(field, &i))
            return number(i);
        switch (d.sqlType) {
        case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR: return number(SQL_SEARCHABLE);
        case SQL_LONGVARCHAR: case SQL_WLONGVARCHAR: return number(SQL_PRED_CHAR);
        case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return number(SQL_PRED_NONE);
        default: return number(SQL_PRED_BASIC);
        }
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: {
        if (extText(field, &t))
            return text(t);
        if (bookmark && field != SQL_DESC_TYPE_NAME)
            return text("");
        const int catalogColumn = field == SQL_DESC_TYPE_NAME ? 1 : field == SQL_DESC_LITERAL_PREFIX ? 4 : 5;
        out->isText = true;
        return ConnGetTypeInfoCol(stmt->conn, catalogColumn, static_cast<int16_t>(d.sqlType), &out->text);
    }
    case SQL_DESC_TABLE_NAME: case SQL_DESC_BASE_TABLE_NAME: return text(d.table);
    case SQL_DESC_SCHEMA_NAME: return text(d.schema);
    case SQL_DESC_CATALOG_NAME: return text(d.catalog);
    case SQL_DESC_LABEL: case SQL_DESC_NAME: return text(label);
    case SQL_DESC_BASE_COLUMN_NAME:
        // An expression (the agent's attribute 1055) has no base column.
        return text(extInt(1055, &i) && i == 1 ? "" : d.name);
    case SQL_DESC_LOCAL_TYPE_NAME: return text("");
    case SQL_DESC_NUM_PREC_RADIX: return number(RadixOf(d.sqlType));
    case SQL_DESC_ROWVER: return number(extInt(field, &i) ? i : SQL_FALSE);
    case SQL_DESC_LENGTH: return number(d.columnSize);
    case SQL_DESC_PRECISION: return number(SqlPrecision(d));
    case SQL_DESC_SCALE:
        return number(d.sqlType == SQL_NUMERIC || d.sqlType == SQL_DECIMAL ? d.decimalDigits : 0);
    case SQL_DESC_NULLABLE: return number(d.flags & 0xF);
    case SQL_DESC_UNNAMED: return number(label[0] == '\0' ? SQL_UNNAMED : SQL_NAMED);
    case SQL_DESC_OCTET_LENGTH: {
        // A character of narrow UTF-8 text takes up to four bytes.
        const bool narrowText = d.sqlType == SQL_CHAR || d.sqlType == SQL_VARCHAR || d.sqlType == SQL_LONGVARCHAR;
        const SQLLEN octets = SqlOctetLength(d.sqlType, d.columnSize);
        return number(narrowText && !bookmark && stmt->conn->narrow == NarrowCode::Utf8 ? 4 * octets : octets);
    }
    case 1053: case 1055: return number(extInt(field, &i) ? i : 0);
    default: return ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE;
    }
}

int ConnGetTypeInfoCol(CONN* conn, int column, int16_t sqlType, std::string* out) {
    out->clear();
    if (conn->state != CONN_CONNECTED)
        return ERR_CONNECTION_NOT_OPEN;
    const size_t which = column == 1 ? 0 : column == 4 ? 1 : 2;
    if (auto it = conn->typeInfoCache.find(sqlType); it != conn->typeInfoCache.end()) {
        *out = it->second[which];
        return 0;
    }
    const OA_OPTABLE* ops = conn->holder.ops;
    if (ops == nullptr || ops->DRV_AllocStmt == nullptr || ops->DRV_GetTypeInfo == nullptr ||
        ops->DRV_Fetch == nullptr || ops->DRV_FreeStmt == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    uint32_t agentStmt = 0;
    int rc = ops->DRV_AllocStmt(conn->agentConn, &agentStmt);
    if (rc != 0)
        return rc;
    std::array<std::string, 3> row;
    rc = ops->DRV_GetTypeInfo(agentStmt, sqlType);
    if (rc == 0) {
        DATASET block;
        // No row (a type the server lacks) or an empty fetch leaves the texts empty.
        if (ops->DRV_Fetch(agentStmt, 1, &block) == 0 && block.rowsUsed > 0) {
            const int columns[3] = {0, 3, 4};
            for (size_t k = 0; k < 3; ++k) {
                if (columns[k] >= block.colsUsed)
                    continue;
                const DATASET_COL* c = &block.cols[columns[k]];
                if (c->indicators == nullptr || c->indicators[0] < 0 ||
                    (c->type != DS_CHARZ && c->type != DS_CHAR))
                    continue;
                const auto* bytes = reinterpret_cast<const char*>(ds_Elem(c, 0));
                row[k].assign(bytes, strnlen(bytes, c->width));
            }
        }
        ds_Free(&block);
        if (ops->DRV_CloseCursor != nullptr)
            ops->DRV_CloseCursor(agentStmt);
    }
    ops->DRV_FreeStmt(agentStmt);
    if (rc != 0)
        return rc;
    *out = row[which];
    conn->typeInfoCache.emplace(sqlType, std::move(row));
    return 0;
}

SQLRETURN DescGetField(DESC* desc, int record, int field, void* value, SQLLEN bufferLength, SQLLEN* stringLength,
                       int width) {
    TraceLog("Descriptor Type: %s", DescKindName(desc));
    desc->diag.errCode = 0;
    const FieldRule* rule = FindRule(field);
    if (rule == nullptr || (rule->get & KindBit(desc)) == 0)
        return Fail(desc, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    STMT* stmt = desc->stmt;
    Answer a;
    if (rule->header) {
        switch (field) {
        case SQL_DESC_ARRAY_SIZE:
            a.number = static_cast<int64_t>(IsCurrentArd(desc)   ? stmt->cursor.rowsetSize
                                            : IsCurrentApd(desc) ? stmt->paramSetSize
                                                                 : desc->arraySize);
            break;
        case SQL_DESC_ARRAY_STATUS_PTR: a.pointer = desc->arrayStatus; break;
        case SQL_DESC_BIND_OFFSET_PTR: a.pointer = desc->bindOffset; break;
        case SQL_DESC_BIND_TYPE: a.number = IsCurrentArd(desc) ? stmt->bindType : desc->bindType; break;
        case SQL_DESC_ROWS_PROCESSED_PTR:
            a.pointer = desc->type == DESC_IRD ? static_cast<const void*>(stmt->rowsFetched) : stmt->rowsProcessed;
            break;
        case SQL_DESC_COUNT:
            if (desc->type == DESC_IRD) {
                SQLSMALLINT n = 0;
                if (int rc = StmtNumResultCols(stmt, &n); rc != 0)
                    return Fail(desc, rc);
                a.number = n;
            } else {
                a.number = DescRecCount(desc);
            }
            break;
        case SQL_DESC_ALLOC_TYPE: a.number = desc->allocKind; break;
        default: break;
        }
        return Store(desc, rule->form, a, value, bufferLength, stringLength, width);
    }

    if (record < 0)
        return Fail(desc, ERR_INVALID_DESCRIPTOR_INDEX);
    if (desc->type == DESC_IRD) {
        SQLSMALLINT n = 0;
        if (int rc = StmtNumResultCols(stmt, &n); rc != 0)
            return Fail(desc, rc);
        if (record > n)
            return SQL_NO_DATA;
        const COLDESC* d = nullptr;
        if (record == 0) {
            if (stmt->cursor.useBookmarks == 0)
                return Fail(desc, ERR_INVALID_DESCRIPTOR_INDEX);
            d = &BookmarkColumnDesc();
        } else if ((d = StmtGetColDesc(stmt, static_cast<uint16_t>(record))) == nullptr) {
            return Fail(desc, ERR_INVALID_DESCRIPTOR_INDEX);
        }
        ColumnAnswer c;
        if (int rc = IrdColumnField(stmt, *d, static_cast<uint16_t>(record), field, &c); rc != 0)
            return Fail(desc, rc);
        a.number = c.number;
        a.text = std::move(c.text);
        return Store(desc, rule->form, a, value, bufferLength, stringLength, width);
    }
    if (record == 0 && (desc->type == DESC_IPD || desc->type == DESC_APD))
        return Fail(desc, ERR_INVALID_DESCRIPTOR_INDEX);
    const DESCREC* r = DescGetRec(desc, record);
    if (r == nullptr)
        return SQL_NO_DATA;
    if (int rc = RecordField(desc, *r, field, &a); rc != 0)
        return Fail(desc, rc);
    return Store(desc, rule->form, a, value, bufferLength, stringLength, width);
}

SQLRETURN DescSetField(DESC* desc, int record, int field, SQLPOINTER value, SQLLEN stringLength, int width) {
    TraceLog("Descriptor Type: %s", DescKindName(desc));
    desc->diag.errCode = 0;
    const FieldRule* rule = FindRule(field);
    if (rule == nullptr)
        return Fail(desc, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    if (desc->type == DESC_IRD && field != SQL_DESC_ARRAY_STATUS_PTR && field != SQL_DESC_ROWS_PROCESSED_PTR)
        return Fail(desc, ERR_CANNOT_MODIFY_AN_IMPLEMENTATION_ROW_DESCRIPTOR);
    if ((rule->set & KindBit(desc)) == 0)
        return Fail(desc, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    const std::vector<Use> uses = UsesOf(desc);
    return rule->header ? SetHeader(desc, field, value, uses)
                        : SetRecord(desc, record, field, value, stringLength, width, uses);
}

SQLRETURN DoGetDescField(HANDLE_HDR* h, const GetDescFieldArgs& a) {
    SQLLEN length = 0;
    SQLRETURN rc = DescGetField(static_cast<DESC*>(h), a.record, a.field, a.value, a.bufferLength, &length, a.width);
    if (a.stringLength != nullptr && SQL_SUCCEEDED(rc))
        *a.stringLength = OutStrClamp<SQLINTEGER>(length);
    return rc;
}

SQLRETURN DoSetDescField(HANDLE_HDR* h, const SetDescFieldArgs& a) {
    return DescSetField(static_cast<DESC*>(h), a.record, a.field, a.value, a.stringLength, a.width);
}
