// Character-set conversion: UTF-8, UTF-16 units and ISO-8859-1, the narrow code sets, and
// case folding.
// Every routine is built on two primitives, one decoder and one encoder, so that a
// count and a conversion can never disagree about where a text ends or a cut falls.
#include "util/charset.h"

#include <sqlext.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "util/casefold_table.inc"

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

bool IsCont(unsigned char b) { return (b & 0xC0) == 0x80; }
bool IsHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes the character at p with avail bytes left. Returns its byte length, or 0 at a
// NUL or when the bytes do not form a well-formed character.
size_t DecodeOne(const unsigned char* p, size_t avail, char32_t* cp) {
    if (avail == 0 || p[0] == 0)
        return 0;
    unsigned char b = p[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    size_t len;
    char32_t v;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2, v = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, v = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, v = b & 0x07, min = 0x10000;
    } else {
        return 0;  // continuation byte, 0xC0/0xC1 (always overlong) or 0xF5..0xFF
    }
    if (avail < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        if (!IsCont(p[i]))
            return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return len;
}

size_t UnitsOf(char32_t cp) { return cp > 0xFFFF ? 2 : 1; }

// Writes cp as its `units` (UnitsOf) UTF-16 code units at dest: a surrogate pair past the BMP.
void PutUnits(SQLWCHAR* dest, char32_t cp, size_t units) {
    if (units == 2) {
        dest[0] = static_cast<SQLWCHAR>(0xD800 + ((cp - 0x10000) >> 10));
        dest[1] = static_cast<SQLWCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        dest[0] = static_cast<SQLWCHAR>(cp);
    }
}

size_t Utf8LenOf(char32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of cp at out (room checked by the caller).
size_t EncodeOne(char32_t cp, char* out) {
    size_t n = Utf8LenOf(cp);
    static constexpr unsigned char lead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (size_t i = n - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = static_cast<char>(lead[n] | cp);
    return n;
}

// The character that starts at unit i of the n units; pairs are joined, a lone
// surrogate is U+FFFD. Returns the units it takes.
size_t TakeUnits(const SQLWCHAR* s, size_t i, size_t n, char32_t* cp) {
    char32_t u = s[i];
    if (IsHigh(u) && i + 1 < n && IsLow(s[i + 1])) {
        *cp = 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00);
        return 2;
    }
    *cp = (IsHigh(u) || IsLow(u)) ? REPLACEMENT : u;
    return 1;
}

size_t Ucs2Len(const SQLWCHAR* s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

// Encodes whole characters of n units into dest (null: count only) while they fit in
// limit bytes. Returns bytes; consumed gets the units taken.
size_t Encode(const SQLWCHAR* s, size_t n, char* dest, size_t limit, size_t* consumed) {
    size_t i = 0;
    size_t out = 0;
    while (i < n) {
        char32_t cp;
        size_t units = TakeUnits(s, i, n, &cp);
        size_t len = Utf8LenOf(cp);
        if (len > limit - out)
            break;
        if (dest != nullptr)
            EncodeOne(cp, dest + out);
        out += len;
        i += units;
    }
    if (consumed != nullptr)
        *consumed = i;
    return out;
}

// Decodes at most bytes bytes of text into dest (null: count only), at most maxUnits
// units, never half a pair. Returns units; *complete tells whether the text ended (NUL,
// bad byte or byte limit) rather than the unit limit.
size_t Decode(const char* text, size_t bytes, SQLWCHAR* dest, size_t maxUnits, bool* complete = nullptr) {
    auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t pos = 0;
    size_t out = 0;
    bool ended = true;
    for (;;) {
        char32_t cp;
        size_t len = DecodeOne(p + pos, bytes - pos, &cp);
        if (len == 0)
            break;
        size_t units = UnitsOf(cp);
        if (units > maxUnits - out) {
            ended = false;
            break;
        }
        if (dest != nullptr)
            PutUnits(dest + out, cp, units);
        out += units;
        pos += len;
    }
    if (complete != nullptr)
        *complete = ended;
    return out;
}

constexpr size_t NO_LIMIT = static_cast<size_t>(-1);

size_t Room(SQLLEN size) { return size > 0 ? static_cast<size_t>(size) : 0; }

size_t Utf8Bytes(SQLLEN bytes) {
    return bytes == SQL_NTS ? NO_LIMIT : Room(bytes);
}

template <class T>
T* AllocArray(size_t n) {
    return static_cast<T*>(std::calloc(n, sizeof(T)));
}

// Folds with table into a new string, keeping bytes that do not decode.
std::string Fold(const char* text, size_t len, const UT_CASE_ENTRY* table, size_t count) {
    std::string out;
    out.reserve(len);
    auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t pos = 0;
    while (pos < len) {
        char32_t cp;
        size_t n = DecodeOne(p + pos, len - pos, &cp);
        if (n == 0) {
            out.push_back(text[pos++]);
            continue;
        }
        cp = static_cast<char32_t>(static_cast<int64_t>(cp) + ut_CaseDelta(table, count, cp));
        char enc[4];
        out.append(enc, EncodeOne(cp, enc));
        pos += n;
    }
    return out;
}

char* FoldInPlace(char* buf, size_t size, const UT_CASE_ENTRY* table, size_t count) {
    if (buf == nullptr || size == 0)
        return buf;
    size_t len = strnlen(buf, size - 1);
    if (len == size - 1 && buf[len] != '\0') {
        // No NUL inside the buffer: the text ends before the character that its last
        // byte belongs to.
        while (len > 0 && IsCont(static_cast<unsigned char>(buf[len])))
            --len;
    }
    try {
        std::string folded = Fold(buf, len, table, count);
        // Cut before the character that would cross the end.
        size_t keep = ut_Utf8CutLen(folded.data(), folded.size(), size - 1);
        std::memcpy(buf, folded.data(), keep);
        buf[keep] = '\0';
    } catch (const std::bad_alloc&) {
        // No memory: the text stays as it was.
    }
    return buf;
}

}  // namespace

// ---- UTF-16 to UTF-8 ----

SQLLEN ut_Utf8LenOfUcs2(const SQLWCHAR* text, SQLLEN count) {
    if (text == nullptr || (count < 0 && count != SQL_NTS))
        return 0;
    size_t n = count == SQL_NTS ? Ucs2Len(text) : static_cast<size_t>(count);
    return static_cast<SQLLEN>(Encode(text, n, nullptr, NO_LIMIT, nullptr));
}

SQLLEN ut_Ucs2ToUtf8Bytes(const SQLWCHAR* text, char* dest, SQLLEN limit) {
    if (text == nullptr || dest == nullptr)
        return 0;
    return static_cast<SQLLEN>(Encode(text, Ucs2Len(text), dest, Room(limit), nullptr));
}

SQLLEN ut_Ucs2ToUtf8N(const SQLWCHAR* text, SQLLEN count, char* dest, SQLLEN limit, SQLLEN* consumed) {
    size_t used = 0;
    size_t out = 0;
    if (text != nullptr && dest != nullptr)
        out = Encode(text, Room(count), dest, Room(limit), &used);
    if (consumed != nullptr)
        *consumed = static_cast<SQLLEN>(used);
    return static_cast<SQLLEN>(out);
}

char* ut_Ucs2ToUtf8DupZ(const SQLWCHAR* text) {
    if (text == nullptr)
        return nullptr;
    return ut_Ucs2ToUtf8Dup(text, SQL_NTS);
}

int ut_Ucs2ToUtf8Buf(const SQLWCHAR* text, char* dest, SQLLEN size, SQLLEN* written) {
    size_t n = text != nullptr ? Ucs2Len(text) : 0;
    size_t room = Room(size);
    size_t out = 0;
    int rc = -1;
    if (dest != nullptr && room > 0) {
        size_t need = Encode(text, n, nullptr, NO_LIMIT, nullptr);
        out = Encode(text, n, dest, room - 1, nullptr);
        dest[out] = '\0';
        rc = need < room ? 0 : -1;
    }
    if (written != nullptr)
        *written = static_cast<SQLLEN>(out);
    return rc;
}

char* ut_Ucs2ToUtf8Dup(const SQLWCHAR* text, SQLLEN count) {
    if (text == nullptr)
        return nullptr;
    size_t n = count == SQL_NTS ? Ucs2Len(text) : Room(count);
    size_t need = Encode(text, n, nullptr, NO_LIMIT, nullptr);
    char* out = AllocArray<char>(need + 1);
    if (out == nullptr)
        return nullptr;
    Encode(text, n, out, need, nullptr);
    out[need] = '\0';
    return out;
}

// ---- UTF-8 to UTF-16 ----

size_t ut_Utf8CutLen(const char* s, size_t n, size_t room) {
    if (n <= room)
        return n;
    size_t k = room;
    while (k > 0 && IsCont(static_cast<unsigned char>(s[k])))
        --k;
    return k;
}

SQLLEN ut_Utf8CharCount(const char* text, SQLLEN bytes) {
    if (text == nullptr)
        return 0;
    return static_cast<SQLLEN>(Decode(text, Utf8Bytes(bytes), nullptr, NO_LIMIT));
}

SQLLEN ut_Utf8Decode(const char* text, SQLWCHAR* dest, SQLLEN maxUnits) {
    return ut_Utf8DecodeN(text, SQL_NTS, dest, maxUnits);
}

SQLLEN ut_Utf8DecodeN(const char* text, SQLLEN bytes, SQLWCHAR* dest, SQLLEN maxUnits) {
    if (text == nullptr || dest == nullptr)
        return 0;
    return static_cast<SQLLEN>(Decode(text, Utf8Bytes(bytes), dest, Room(maxUnits)));
}

SQLWCHAR* ut_Utf8ToUcs2Dup(const char* text) {
    if (text == nullptr)
        return nullptr;
    size_t n = Decode(text, NO_LIMIT, nullptr, NO_LIMIT);
    SQLWCHAR* out = AllocArray<SQLWCHAR>(n + 1);
    if (out == nullptr)
        return nullptr;
    out[Decode(text, NO_LIMIT, out, n)] = 0;
    return out;
}

int ut_Utf8ToUcs2CopyOut(const char* text, SQLWCHAR* dest, SQLLEN size, SQLLEN* chars) {
    if (text == nullptr || dest == nullptr || size <= 0)
        return -1;
    bool complete = false;
    size_t n = Decode(text, NO_LIMIT, dest, static_cast<size_t>(size) - 1, &complete);
    dest[n] = 0;
    if (chars != nullptr)
        *chars = static_cast<SQLLEN>(n);
    return complete ? 0 : -1;
}

int ut_Utf8ToUcs2Buf(const char* text, SQLWCHAR* dest, SQLLEN size, SQLLEN* chars) {
    if (text == nullptr)
        return -1;
    if (chars != nullptr)
        *chars = ut_Utf8CharCount(text, SQL_NTS);
    if (dest == nullptr)
        return 0;
    size_t units = Room(size) / 2;
    if (units == 0)
        return -1;
    bool complete = false;
    dest[Decode(text, NO_LIMIT, dest, units - 1, &complete)] = 0;
    return complete ? 0 : -1;
}

SQLWCHAR* ut_Utf8ToUcs2Trunc(SQLWCHAR* dest, const char* text, SQLLEN size) {
    if (dest != nullptr && text != nullptr && size > 0)
        dest[Decode(text, NO_LIMIT, dest, static_cast<size_t>(size) - 1)] = 0;
    return dest;
}

SQLWCHAR* ut_Utf8ToUcs2(SQLWCHAR* dest, const char* text, SQLLEN size) {
    return ut_Utf8ToUcs2Trunc(dest, text, size);
}

// ---- Case folding ----

int32_t ut_CaseDelta(const UT_CASE_ENTRY* table, size_t count, uint32_t code) {
    size_t low = 0;
    size_t high = count;  // one past the last candidate
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (table[mid].code == code)
            return table[mid].delta;
        if (code < table[mid].code)
            high = mid;
        else
            low = mid + 1;
    }
    return 0;
}

uint32_t ut_UcsUpper(uint32_t code) {
    return static_cast<uint32_t>(static_cast<int64_t>(code) + ut_CaseDelta(UT_CASE_UPPER, UT_CASE_UPPER_COUNT, code));
}

uint32_t ut_UcsLower(uint32_t code) {
    return static_cast<uint32_t>(static_cast<int64_t>(code) + ut_CaseDelta(UT_CASE_LOWER, UT_CASE_LOWER_COUNT, code));
}

char* ut_Utf8Upper(char* buf, size_t size) {
    return FoldInPlace(buf, size, UT_CASE_UPPER, UT_CASE_UPPER_COUNT);
}

char* ut_Utf8Lower(char* buf, size_t size) {
    return FoldInPlace(buf, size, UT_CASE_LOWER, UT_CASE_LOWER_COUNT);
}

// ---- ANSI code page ----

SQLWCHAR* ut_AnsiToUcs2Dup(const char* text, SQLLEN count) {
    if (text == nullptr)
        return nullptr;
    size_t n = count == SQL_NTS ? std::strlen(text) : Room(count);
    SQLWCHAR* out = AllocArray<SQLWCHAR>(n + 1);
    if (out == nullptr)
        return nullptr;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(text[i]);
    return out;
}

char* ut_AnsiToUtf8(char* dest, const char* text, size_t size) {
    // Converted directly, byte by byte: no heap copy, so nothing can leave the
    // destination unterminated for want of memory.
    if (dest == nullptr || size == 0)
        return dest;
    size_t out = 0;
    for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        char32_t cp = static_cast<unsigned char>(*p);
        if (Utf8LenOf(cp) > size - 1 - out)
            break;
        out += EncodeOne(cp, dest + out);
    }
    dest[out] = '\0';
    return dest;
}

int ut_AnsiToUcs2Buf(const char* text, SQLWCHAR* dest, SQLLEN size, SQLLEN* bytes) {
    if (text == nullptr)
        return -1;
    size_t len = std::strlen(text);
    if (bytes != nullptr)
        *bytes = static_cast<SQLLEN>(2 * len);
    if (dest == nullptr)
        return 0;
    size_t units = Room(size) / 2;
    if (units == 0)
        return -1;
    size_t n = len < units ? len : units - 1;
    for (size_t i = 0; i < n; ++i)
        dest[i] = static_cast<unsigned char>(text[i]);
    dest[n] = 0;
    return n == len ? 0 : -1;
}

SQLWCHAR* ut_AnsiToUcs2(SQLWCHAR* dest, const char* text, SQLLEN size) {
    if (dest == nullptr || text == nullptr || size <= 0)
        return dest;
    size_t i = 0;
    for (; i + 1 < static_cast<size_t>(size) && text[i] != '\0'; ++i)
        dest[i] = static_cast<unsigned char>(text[i]);
    dest[i] = 0;
    return dest;
}

char* ut_Ucs2ToAnsiDupZ(const SQLWCHAR* text) {
    if (text == nullptr)
        return nullptr;
    size_t n = Ucs2Len(text);
    char* out = AllocArray<char>(n + 1);  // a pair gives one byte, so n is enough
    if (out == nullptr)
        return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        char32_t cp;
        i += TakeUnits(text, i, n, &cp);
        out[o++] = cp <= 0xFF ? static_cast<char>(cp) : '?';
    }
    out[o] = '\0';
    return out;
}

// ---- Narrow code sets ----

namespace {

// The name folded to lower case without "-" and "_": "UTF-8", "utf8" and "UTF_8" meet.
std::string CodesetKey(const char* name) {
    std::string key;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p != '-' && *p != '_')
            key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
    return key;
}

}  // namespace

bool ut_NarrowCodeOf(const char* codeset, bool unicodeLibrary, NarrowCode* out) {
    if (codeset == nullptr || out == nullptr)
        return false;
    const std::string key = CodesetKey(codeset);
    if (key == "utf8") {
        *out = NarrowCode::Utf8;
    } else if (key == "iso88591" || key == "latin1" || key == "l1") {
        *out = NarrowCode::Latin1;
    } else if (key == "ansix3.41968" || key == "ascii" || key == "usascii" || key.empty()) {
        *out = unicodeLibrary ? NarrowCode::Latin1 : NarrowCode::Utf8;
    } else {
        return false;
    }
    return true;
}

size_t ut_Utf8ValidLen(const char* s, size_t n) {
    auto* p = reinterpret_cast<const unsigned char*>(s);
    size_t pos = 0;
    while (pos < n) {
        if (p[pos] < 0x80) {
            ++pos;
            continue;
        }
        char32_t cp;
        size_t len = DecodeOne(p + pos, n - pos, &cp);
        if (len == 0)
            return pos;
        pos += len;
    }
    return n;
}

SQLLEN ut_Ucs2LoneSurrogate(const SQLWCHAR* text, SQLLEN count) {
    if (text == nullptr)
        return -1;
    const size_t n = Room(count);
    for (size_t i = 0; i < n; ++i) {
        const char32_t u = text[i];
        if (u < 0xD800 || u > 0xDFFF)
            continue;
        if (IsHigh(u) && i + 1 < n && IsLow(text[i + 1])) {
            ++i;
            continue;
        }
        return static_cast<SQLLEN>(i);
    }
    return -1;
}

SQLLEN ut_Ucs2ToNarrowN(const SQLWCHAR* text, SQLLEN count, char* dest, SQLLEN limit, SQLLEN* consumed,
                        NarrowCode code) {
    size_t used = 0;
    size_t out = 0;
    if (text != nullptr) {
        const size_t n = Room(count);
        const size_t room = Room(limit);
        if (code == NarrowCode::Utf8) {
            out = Encode(text, n, dest, room, &used);
        } else {
            while (used < n && out < room) {
                char32_t cp;
                used += TakeUnits(text, used, n, &cp);
                if (dest != nullptr)
                    dest[out] = cp <= 0xFF ? static_cast<char>(cp) : '?';
                ++out;
            }
        }
    }
    if (consumed != nullptr)
        *consumed = static_cast<SQLLEN>(used);
    return static_cast<SQLLEN>(out);
}

SQLLEN ut_NarrowToUcs2N(const char* text, SQLLEN bytes, SQLWCHAR* dest, SQLLEN maxUnits, SQLLEN* used,
                        NarrowCode code) {
    size_t pos = 0;
    size_t out = 0;
    if (text != nullptr) {
        const size_t n = Room(bytes);
        const size_t room = Room(maxUnits);
        auto* p = reinterpret_cast<const unsigned char*>(text);
        if (code == NarrowCode::Latin1) {
            out = pos = n < room ? n : room;
            if (dest != nullptr)
                for (size_t i = 0; i < out; ++i)
                    dest[i] = p[i];
        } else {
            while (pos < n && out < room) {
                if (p[pos] < 0x80) {  // ASCII, and the NUL that DecodeOne would stop at
                    if (dest != nullptr)
                        dest[out] = p[pos];
                    ++out;
                    ++pos;
                    continue;
                }
                char32_t cp;
                const size_t len = DecodeOne(p + pos, n - pos, &cp);
                if (len == 0)
                    break;
                const size_t units = UnitsOf(cp);
                if (units > room - out)
                    break;
                if (dest != nullptr)
                    PutUnits(dest + out, cp, units);
                out += units;
                pos += len;
            }
        }
    }
    if (used != nullptr)
        *used = static_cast<SQLLEN>(pos);
    return static_cast<SQLLEN>(out);
}

SQLLEN ut_Utf8ToLatin1N(const char* text, SQLLEN bytes, char* dest, SQLLEN limit, SQLLEN* used) {
    size_t pos = 0;
    size_t out = 0;
    if (text != nullptr) {
        const size_t n = Room(bytes);
        const size_t room = Room(limit);
        auto* p = reinterpret_cast<const unsigned char*>(text);
        while (pos < n && out < room) {
            if (p[pos] < 0x80) {  // ASCII, and a NUL, as ut_NarrowToUcs2N takes them
                if (dest != nullptr)
                    dest[out] = static_cast<char>(p[pos]);
                ++out;
                ++pos;
                continue;
            }
            char32_t cp;
            const size_t len = DecodeOne(p + pos, n - pos, &cp);
            if (len == 0)
                break;
            if (dest != nullptr)
                dest[out] = cp <= 0xFF ? static_cast<char>(cp) : '?';
            ++out;
            pos += len;
        }
    }
    if (used != nullptr)
        *used = static_cast<SQLLEN>(pos);
    return static_cast<SQLLEN>(out);
}

char* ut_Latin1ToUtf8Dup(const char* text, SQLLEN count) {
    if (text == nullptr)
        return nullptr;
    const size_t n = count == SQL_NTS ? std::strlen(text) : Room(count);
    size_t need = n;
    for (size_t i = 0; i < n; ++i)
        need += static_cast<unsigned char>(text[i]) >= 0x80 ? 1 : 0;
    char* out = AllocArray<char>(need + 1);
    if (out == nullptr)
        return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < n; ++i)
        o += EncodeOne(static_cast<unsigned char>(text[i]), out + o);
    out[o] = '\0';
    return out;
}
