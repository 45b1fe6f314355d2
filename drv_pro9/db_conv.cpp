// Value conversion between the server's element layouts and the dataset's internal types.
#include "drv_pro9/db_conv.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "drv_pro9/oa_err.h"
#include "platform/esql92/esql92.h"
#include "util/charset.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

// units UTF-16 units into at most limit ISO-8859-1 bytes: a character beyond U+00FF (a
// surrogate pair as one) becomes '?'. The units are read bytewise: a dataset need not
// align them.
void Ucs2ToLatin1(const unsigned char* units, uint64_t count, unsigned char* dst, uint64_t limit) {
    uint64_t out = 0;
    for (uint64_t i = 0; i < count && out < limit; ++i) {
        SQLWCHAR u;
        std::memcpy(&u, units + i * sizeof u, sizeof u);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            SQLWCHAR low;
            std::memcpy(&low, units + (i + 1) * sizeof low, sizeof low);
            if (low >= 0xDC00 && low <= 0xDFFF)
                ++i;
        }
        dst[out++] = u <= 0xFF ? static_cast<unsigned char>(u) : '?';
    }
}

static_assert(sizeof(ESQL_DATE_VALUE) == 4 && sizeof(ESQL_TIME_VALUE) == 6 &&
                  sizeof(ESQL_TIMESTAMP_VALUE) == 10 && sizeof(ESQL_NUMERIC_VALUE) == ESQL_NUMERIC_SIZE,
              "server layouts");
static_assert(sizeof(SQL_DATE_STRUCT) == 6 && sizeof(SQL_TIME_STRUCT) == 6 &&
                  sizeof(SQL_TIMESTAMP_STRUCT) == 16,
              "internal datetime layouts");

// Room for the text of any NUMERIC (50 digits, sign, point, leading zero) or BIGINT.
constexpr size_t kNumberText = 64;

int Unhandled() {
    LOG_MSG(LOG_ERR, "db_ConvDBMSToKVR: Unhandled conversion");
    return ERR_GENERAL_ERROR;
}

bool IsNumberText(int32_t serverType) {
    return serverType == ESQL_NUMERIC || serverType == ESQL_BIGINT;
}

// The text of a NUMERIC or BIGINT element through the client's conversion.
bool NumberText(int32_t serverType, const unsigned char* src, uint32_t srcLen, char* out,
                size_t* len) {
    int n = esql92_value_to_text(serverType, srcLen, src, "", out, kNumberText);
    if (n < 0) {
        LOG_MSG(LOG_ERR, "db_ConvDBMSToKVR: cannot render a value of type %d", serverType);
        return false;
    }
    *len = static_cast<size_t>(n);
    return true;
}

// The source as text: the rendered number, or the element's text up to its NUL, never
// beyond the element.
bool SourceText(int32_t serverType, const unsigned char* src, uint32_t srcLen, char* num,
                const char** text, size_t* len) {
    if (IsNumberText(serverType)) {
        *text = num;
        return NumberText(serverType, src, srcLen, num, len);
    }
    *text = reinterpret_cast<const char*>(src);
    *len = strnlen(*text, srcLen);
    return true;
}

// Text into an element of width bytes: cut at a character boundary to leave room for the
// NUL when terminated, the rest zeroed.
void PutText(unsigned char* dst, uint32_t width, const char* text, size_t len, bool terminated) {
    std::memset(dst, 0, width);
    size_t room = terminated ? (width > 0 ? width - 1 : 0) : width;
    std::memcpy(dst, text, ut_Utf8CutLen(text, len, room));
}

// UTF-8 text into an element of UCS-2 units: at most width / 2 units, one of them the
// NUL when terminated; the rest zeroed.
void PutWide(unsigned char* dst, uint32_t width, const char* text, size_t len, bool terminated) {
    std::memset(dst, 0, width);
    SQLLEN units = width / 2;
    if (terminated)
        units = units > 0 ? units - 1 : 0;
    ut_Utf8DecodeN(text, static_cast<SQLLEN>(len), reinterpret_cast<SQLWCHAR*>(dst), units);
}

// The byte count of a {i32 length; bytes} element, within the element.
uint32_t BinaryCount(const unsigned char* src, uint32_t srcLen) {
    int32_t count;
    std::memcpy(&count, src, 4);
    if (count < 0)
        return 0;
    return std::min(static_cast<uint32_t>(count), srcLen - 4);
}

template <typename T>
T Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Store(unsigned char* p, const T& v) {
    std::memcpy(p, &v, sizeof v);
}

// --- parameters ---------------------------------------------------------------------------

int Refuse(OA_ERRLIST* errors, int code, const char* text) {
    OA_ErrPostText(errors, text, oa_ErrState(code));
    return code;
}

// The units of wide text before its NUL, at most max.
SQLLEN WideCount(const SQLWCHAR* p, SQLLEN max) {
    SQLLEN n = 0;
    while (n < max && p[n] != 0)
        ++n;
    return n;
}

// A value of a parameter row: where its bytes or units are and how many.
struct Piece {
    const unsigned char* data = nullptr;
    uint64_t length = 0;   // bytes, or units of wide text
};

// Reads a length-prefixed, by-reference or fixed value of the row; lengths are bounded by
// the element.
Piece ValueOf(const DATASET_COL* col, int32_t row) {
    const unsigned char* p = ds_Elem(col, row);
    uint32_t w = col->width;
    Piece v;
    switch (col->type) {
    case DS_BINARY:
        v.data = p;
        v.length = w;
        break;
    case DS_LONGCHAR:
    case DS_LONGBINARY:
    case DS_LONGWCHAR: {
        DS_REFVAL ref = Load<DS_REFVAL>(p);
        v.data = static_cast<const unsigned char*>(ref.data);
        v.length = ref.data != nullptr ? ref.length : 0;
        break;
    }
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        v.data = p + 1;
        v.length = w >= 1 ? std::min<uint32_t>(p[0], w - 1) : 0;
        break;
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        v.data = p + 2;
        v.length = w >= 2 ? std::min<uint32_t>(Load<uint16_t>(p), w - 2) : 0;
        break;
    case DS_VARCHAR32:
    case DS_VARBINARY32: {
        int32_t n = w >= 4 ? Load<int32_t>(p) : 0;
        v.data = p + 4;
        v.length = n > 0 ? std::min<uint32_t>(static_cast<uint32_t>(n), w - 4) : 0;
        break;
    }
    case DS_WCHAR:
    case DS_WCHARZ:
        v.data = p;
        v.length = WideCount(reinterpret_cast<const SQLWCHAR*>(p), w / 2);
        break;
    case DS_CHAR:
    case DS_CHARZ:
        v.data = p;
        v.length = strnlen(reinterpret_cast<const char*>(p), w);
        break;
    case DS_WVARCHAR32: {
        int32_t n = w >= 4 ? Load<int32_t>(p) : 0;
        v.data = p + 4;
        v.length = n > 0 ? std::min<uint32_t>(static_cast<uint32_t>(n), (w - 4) / 2) : 0;
        break;
    }
    default:
        break;
    }
    return v;
}

bool IsBinaryParam(int32_t t) {
    return t == DS_BINARY || t == DS_LONGBINARY || t == DS_VARBINARY8 || t == DS_VARBINARY16 ||
           t == DS_VARBINARY32;
}

bool IsWideParam(int32_t t) {
    return t == DS_WCHAR || t == DS_WCHARZ || t == DS_LONGWCHAR || t == DS_WVARCHAR32;
}

}  // namespace

bool db_IsNarrowText(int32_t t) {
    return t == DS_CHAR || t == DS_CHARZ || t == DS_LONGCHAR || t == DS_VARCHAR8 || t == DS_VARCHAR16 ||
           t == DS_VARCHAR32;
}

namespace {

bool IsTextParam(int32_t t) {
    return t == DS_LONGCHAR || t == DS_VARCHAR8 || t == DS_VARCHAR16 || t == DS_VARCHAR32;
}

// Byte room of the UTF-8 form of n units and its NUL: a unit takes at most 3 bytes, a pair
// of surrogates 4.
uint64_t Utf8Room(uint64_t units) { return 4 * units + 1; }

// n ISO-8859-1 bytes as UTF-8 into dst, within limit bytes; whole characters only.
void Latin1ToUtf8(const unsigned char* src, uint64_t n, unsigned char* dst, uint64_t limit) {
    uint64_t o = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const unsigned char c = src[i];
        if (c < 0x80) {
            if (o + 1 > limit)
                break;
            dst[o++] = c;
        } else {
            if (o + 2 > limit)
                break;
            dst[o++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            dst[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
}

}  // namespace

bool DB_VALBUF::alloc(uint32_t size, int32_t count) {
    reset();
    size_t n = static_cast<size_t>(count > 0 ? count : 0);
    auto* block = static_cast<unsigned char*>(uh_Calloc(n == 0 ? 1 : n, size == 0 ? 1 : size));
    if (block == nullptr)
        return false;
    data.reset(block);
    elemSize = size;
    rows = count;
    return true;
}

uint32_t db_ServerElemSize(int32_t serverType, uint32_t length) {
    switch (serverType) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: return length;
    case ESQL_NUMERIC: return ESQL_NUMERIC_SIZE;
    case ESQL_DATE: return sizeof(ESQL_DATE_VALUE);
    case ESQL_TIME: return sizeof(ESQL_TIME_VALUE);
    case ESQL_TIMESTAMP: return sizeof(ESQL_TIMESTAMP_VALUE);
    case ESQL_BIGINT: return 8;
    case ESQL_INTEGER: return 4;
    case ESQL_SMALLINT: return 2;
    case ESQL_BINARY:
    case ESQL_VARBINARY: return DB_BINARY_ELEMENT;
    default: return 0;
    }
}

int db_ConvDBMSToKVR(const unsigned char** src, DATASET_COL* col, int32_t row, uint32_t srcLen,
                     int32_t serverType) {
    const unsigned char* s = *src;
    unsigned char* dst = ds_Elem(col, row);
    uint32_t w = col->width;
    int rc = 0;
    switch (col->type) {
    case DS_CHAR:
    case DS_CHARZ:
    case DS_WCHAR:
    case DS_WCHARZ: {
        char num[kNumberText];
        const char* text = nullptr;
        size_t len = 0;
        if (!SourceText(serverType, s, srcLen, num, &text, &len)) {
            rc = ERR_GENERAL_ERROR;
            break;
        }
        bool terminated = col->type == DS_CHARZ || col->type == DS_WCHARZ;
        if (col->type == DS_CHAR || col->type == DS_CHARZ)
            PutText(dst, w, text, len, terminated);
        else
            PutWide(dst, w, text, len, terminated);
        break;
    }
    case DS_DATE: {
        if (srcLen < sizeof(ESQL_DATE_VALUE) || w < sizeof(SQL_DATE_STRUCT)) {
            rc = Unhandled();
            break;
        }
        auto v = Load<ESQL_DATE_VALUE>(s);
        SQL_DATE_STRUCT d{v.year, v.month, v.day};
        Store(dst, d);
        break;
    }
    case DS_TIME: {
        if (srcLen < sizeof(ESQL_TIME_VALUE) || w < sizeof(SQL_TIME_STRUCT)) {
            rc = Unhandled();
            break;
        }
        auto v = Load<ESQL_TIME_VALUE>(s);
        SQL_TIME_STRUCT t{v.hour, v.minute, v.second};
        Store(dst, t);
        break;
    }
    case DS_TIMESTAMP: {
        if (srcLen < sizeof(ESQL_TIMESTAMP_VALUE) || w < sizeof(SQL_TIMESTAMP_STRUCT)) {
            rc = Unhandled();
            break;
        }
        auto v = Load<ESQL_TIMESTAMP_VALUE>(s);
        SQL_TIMESTAMP_STRUCT t{v.year, v.month, v.day, v.hour, v.minute, v.second,
                               static_cast<SQLUINTEGER>(v.millisecond) * 1000000u};
        Store(dst, t);
        break;
    }
    case DS_BINARY: {
        if (srcLen < 4) {
            rc = Unhandled();
            break;
        }
        uint32_t n = std::min(BinaryCount(s, srcLen), w);
        std::memset(dst, 0, w);
        std::memcpy(dst, s + 4, n);
        break;
    }
    case DS_LONGBINARY: {
        if (srcLen < 4 || !ds_ColHoldsRefs(col)) {
            rc = Unhandled();
            break;
        }
        uint32_t n = BinaryCount(s, srcLen);
        void* block = uh_MemDup(s + 4, n);
        if (block == nullptr) {
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
            break;
        }
        DS_REFVAL ref = Load<DS_REFVAL>(dst);
        uh_Free(ref.data);   // the dataset owns the block of an element it overwrites
        Store(dst, DS_REFVAL{n, block});
        break;
    }
    default:
        rc = Unhandled();
        break;
    }
    *src = s + srcLen;
    return rc;
}

int db_ConvDBMSColumnToKVR(const unsigned char* data, uint32_t srcLen, int32_t serverType, DATASET_COL* col,
                           int32_t rows) {
    const uint32_t w = col->width;
    // A column of dates, the converted column of most fetches, goes value by value without
    // the choice of a conversion: the same bytes as db_ConvDBMSToKVR.
    const bool date = serverType == ESQL_DATE && col->type == DS_DATE && srcLen >= sizeof(ESQL_DATE_VALUE) &&
                      w >= sizeof(SQL_DATE_STRUCT);
    for (int32_t r = 0; r < rows; ++r) {
        if (col->indicators[r] == DS_IND_NULL)
            continue;
        const unsigned char* src = data + static_cast<size_t>(r) * srcLen;
        if (date) {
            const auto v = Load<ESQL_DATE_VALUE>(src);
            Store(ds_Elem(col, r), SQL_DATE_STRUCT{v.year, v.month, v.day});
            continue;
        }
        if (int rc = db_ConvDBMSToKVR(&src, col, r, srcLen, serverType); rc != 0)
            return rc;
    }
    return 0;
}

uint32_t db_ParamElemSize(int32_t dsType, uint32_t width) {
    switch (dsType) {
    case DS_UTINYINT: return 2;
    case DS_USHORT: return 4;
    case DS_ULONG: return 8;
    case DS_DATE: return sizeof(ESQL_DATE_VALUE);
    case DS_TIME: return sizeof(ESQL_TIME_VALUE);
    case DS_TIMESTAMP: return sizeof(ESQL_TIMESTAMP_VALUE);
    case DS_BINARY:
    case DS_LONGBINARY:
    case DS_VARBINARY8:
    case DS_VARBINARY16:
    case DS_VARBINARY32: return DB_BINARY_ELEMENT;
    case DS_LONGCHAR: return ESQL_VARCHAR_MAX + 1;
    case DS_VARCHAR8: return width >= 1 ? width : 1;             // width - 1 bytes + NUL
    case DS_VARCHAR16: return width >= 2 ? width - 1 : 1;        // width - 2 bytes + NUL
    case DS_VARCHAR32: return width >= 4 ? width - 3 : 1;        // width - 4 bytes + NUL
    case DS_WCHAR:
    case DS_WCHARZ: return static_cast<uint32_t>(Utf8Room(width / 2));
    case DS_WVARCHAR32: return static_cast<uint32_t>(Utf8Room(width >= 4 ? (width - 4) / 2 : 0));
    case DS_LONGWCHAR: return static_cast<uint32_t>(Utf8Room(ESQL_VARCHAR_MAX));
    default: return 0;
    }
}

bool db_IsCountedTextParam(int32_t dsType) {
    return IsTextParam(dsType);
}

int32_t db_ParamTextBytes(const DATASET_COL* col, int32_t row, uint32_t elemSize) {
    if (!IsTextParam(col->type) || elemSize == 0)
        return 0;
    const uint64_t n = std::min<uint64_t>(ValueOf(col, row).length, elemSize - 1);
    return static_cast<int32_t>(std::min<uint64_t>(n, INT32_MAX));
}

int db_ConvKVRToDBMS(const DATASET_COL* col, int32_t first, int32_t rows, DB_VALBUF* out,
                     uint32_t paramNo, OA_ERRLIST* errors, bool latin1Client, bool* fractionCut,
                     bool narrowFromLatin1) {
    if (col == nullptr || out == nullptr || rows < 0 || first < 0)
        return ERR_GENERAL_ERROR;
    const int32_t type = col->type;
    auto present = [&](int32_t r) { return col->indicators[first + r] >= 0; };

    const bool fromLatin1 = narrowFromLatin1 && db_IsNarrowText(type);
    uint64_t elem = db_ParamElemSize(type, col->width);
    if (fromLatin1)
        elem = 1;  // sized from the values below
    if (elem == 0) {
        LOG_MSG(LOG_ERR, "db_ConvKVRToDBMS: no conversion for internal type %d", type);
        return ERR_GENERAL_ERROR;
    }
    // By-reference text takes the room of its longest value, binary values are checked
    // against the element before anything is built.
    if (type == DS_LONGCHAR || type == DS_LONGWCHAR || fromLatin1) {
        uint64_t longest = 0;
        for (int32_t r = 0; r < rows; ++r)
            if (present(r))
                longest = std::max(longest, ValueOf(col, first + r).length);
        // ISO-8859-1 takes at most two bytes a character in UTF-8.
        elem = fromLatin1 ? 2 * longest + 1 : type == DS_LONGCHAR ? longest + 1 : Utf8Room(longest);
        if (elem > UINT32_MAX)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (IsBinaryParam(type)) {
        for (int32_t r = 0; r < rows; ++r) {
            if (!present(r))
                continue;
            uint64_t n = ValueOf(col, first + r).length;
            if (n > DB_BINARY_MAX) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "Binary value of %" PRIu64 " bytes in parameter %u is longer than the %u bytes "
                              "a parameter can hold",
                              n, paramNo, DB_BINARY_MAX);
                return Refuse(errors, ERR_STRING_DATA_RIGHT_TRUNCATION, text);
            }
        }
    }
    // The buffer of the last execution is zeroed and filled again when it has the same
    // shape, as it mostly has for a prepared statement executed again.
    if (out->data != nullptr && out->elemSize == elem && out->rows == rows)
        std::memset(out->data.get(), 0, static_cast<size_t>(elem) * static_cast<size_t>(std::max(rows, 1)));
    else if (!out->alloc(static_cast<uint32_t>(elem), rows))
        return ERR_MEMORY_ALLOCATION_FAILURE;

    char text[160];
    for (int32_t r = 0; r < rows; ++r) {
        if (!present(r))
            continue;
        const int32_t row = first + r;
        const unsigned char* p = ds_Elem(col, row);
        unsigned char* dst = out->elem(r);
        switch (type) {
        case DS_UTINYINT: Store(dst, static_cast<int16_t>(Load<uint8_t>(p))); break;
        case DS_USHORT: Store(dst, static_cast<int32_t>(Load<uint16_t>(p))); break;
        case DS_ULONG: Store(dst, static_cast<int64_t>(Load<uint32_t>(p))); break;
        case DS_DATE:
        case DS_TIMESTAMP: {
            // A timestamp begins with the date's three fields.
            auto d = Load<SQL_DATE_STRUCT>(p);
            if (d.year == 0 && d.month == 0 && d.day == 0) {
                std::snprintf(text, sizeof text, "Invalid datetime value 0000-00-00 in parameter %u",
                              paramNo);
                out->reset();
                return Refuse(errors, ERR_INVALID_DATETIME_FORMAT, text);
            }
            uint32_t largest = std::max(d.month, d.day);
            SQL_TIMESTAMP_STRUCT ts{};
            if (type == DS_TIMESTAMP) {
                ts = Load<SQL_TIMESTAMP_STRUCT>(p);
                largest = std::max({largest, uint32_t{ts.hour}, uint32_t{ts.minute}, uint32_t{ts.second}});
            }
            // A field the server's byte cannot hold would arrive as another value, and a
            // fraction of a billion nanoseconds or more is no fraction of a second.
            if (largest > UINT8_MAX || ts.fraction > 999999999u) {
                std::snprintf(text, sizeof text, "Datetime field overflow in parameter %u", paramNo);
                out->reset();
                return Refuse(errors, ERR_DATE_OVERFLOW, text);
            }
            if (ts.fraction % 1000000u != 0 && fractionCut != nullptr && !*fractionCut) {
                std::snprintf(text, sizeof text,
                              "Fractional truncation: the timestamp of parameter %u keeps milliseconds", paramNo);
                OA_ErrPostText(errors, text, oa_ErrState(ERR_FRACTIONAL_TRUNCATION));
                *fractionCut = true;
            }
            if (type == DS_DATE) {
                Store(dst, ESQL_DATE_VALUE{d.year, static_cast<uint8_t>(d.month),
                                           static_cast<uint8_t>(d.day)});
            } else {
                Store(dst, ESQL_TIMESTAMP_VALUE{ts.year, static_cast<uint8_t>(ts.month),
                                                static_cast<uint8_t>(ts.day), static_cast<uint8_t>(ts.hour),
                                                static_cast<uint8_t>(ts.minute),
                                                static_cast<uint8_t>(ts.second), 0,
                                                static_cast<uint16_t>(ts.fraction / 1000000u)});
            }
            break;
        }
        case DS_TIME: {
            auto t = Load<SQL_TIME_STRUCT>(p);
            if (std::max({t.hour, t.minute, t.second}) > UINT8_MAX) {
                std::snprintf(text, sizeof text, "Datetime field overflow in parameter %u", paramNo);
                out->reset();
                return Refuse(errors, ERR_DATE_OVERFLOW, text);
            }
            Store(dst, ESQL_TIME_VALUE{static_cast<uint8_t>(t.hour), static_cast<uint8_t>(t.minute),
                                       static_cast<uint8_t>(t.second), {0, 0, 0}});
            break;
        }
        default: {
            Piece v = ValueOf(col, row);
            if (IsBinaryParam(type)) {
                Store(dst, static_cast<int32_t>(v.length));
                if (v.length > 0)
                    std::memcpy(dst + 4, v.data, v.length);
            } else if (fromLatin1) {
                Latin1ToUtf8(v.data, v.length, dst, elem - 1);
            } else if (IsTextParam(type)) {
                if (v.length > 0)
                    std::memcpy(dst, v.data, std::min<uint64_t>(v.length, elem - 1));
            } else if (IsWideParam(type)) {
                // Half a pair is no character in any code page: refused, not replaced.
                if (ut_Ucs2LoneSurrogate(reinterpret_cast<const SQLWCHAR*>(v.data),
                                         static_cast<SQLLEN>(v.length)) >= 0) {
                    std::snprintf(text, sizeof text,
                                  "Invalid character value: parameter %u holds half of a surrogate pair", paramNo);
                    out->reset();
                    return Refuse(errors, ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION, text);
                }
                if (v.length > 0 && latin1Client)
                    Ucs2ToLatin1(static_cast<const unsigned char*>(v.data), v.length, dst, elem - 1);
                else if (v.length > 0)
                    ut_Ucs2ToUtf8N(reinterpret_cast<const SQLWCHAR*>(v.data), static_cast<SQLLEN>(v.length),
                               reinterpret_cast<char*>(dst), static_cast<SQLLEN>(elem - 1), nullptr);
            } else {
                out->reset();
                LOG_MSG(LOG_ERR, "db_ConvKVRToDBMS: no conversion for internal type %d", type);
                return ERR_GENERAL_ERROR;
            }
            break;
        }
        }
    }
    return 0;
}
