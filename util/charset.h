// Character-set conversion: UTF-8 (the driver's own text in the Unicode library), UTF-16
// in 16-bit SQLWCHAR units (the application's wide text) and the ANSI code page, plus
// case folding of UTF-8 text with the Unicode 3.2.0 simple mappings.
//
// Encodings, as the driver uses them on Linux:
// - UTF-8 is standard UTF-8. A surrogate pair becomes one 4-byte sequence and a 4-byte
//   sequence becomes a surrogate pair, so characters outside the BMP survive both ways.
//   A surrogate without its partner cannot be written in UTF-8 and becomes U+FFFD.
// - Reading UTF-8 stops, storing nothing for it, at a NUL byte and at the first byte
//   that does not start a well-formed character: a stray continuation byte, a lead byte
//   whose continuation bytes are missing, an overlong form, an encoded surrogate, or a
//   value above U+10FFFF. The text then ends there for every routine alike, so that a
//   character count always equals what the decoder stores.
// - ISO-8859-1: byte n is U+00nn; a character above U+00FF becomes '?'. The ut_Ansi*
//   routines below take the driver's text in it; the narrow code set of an application
//   (NarrowCode) is UTF-8 or ISO-8859-1.
//
// "Characters" of wide text are 16-bit units, as ODBC counts them: a character outside
// the BMP counts 2. A cut never separates the two halves of a pair nor the bytes of one
// UTF-8 character.
//
// Lengths: a length argument is a count or SQL_NTS (-3, up to the NUL). Routines that
// fill a caller's buffer return 0 when the whole text and its NUL fitted and -1 when the
// text was cut or nothing could be written; whatever they write is NUL-terminated. A
// negative size is treated as 0. Heap results come from malloc and are released with
// free (UtFree for unique_ptr); null on no memory. Every routine is a pure function.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

static_assert(sizeof(SQLWCHAR) == 2, "SQLWCHAR must be 16 bits");

// Deleter for the heap results, for std::unique_ptr.
struct UtFree {
    void operator()(void* p) const { std::free(p); }
};

// ---- UTF-16 to UTF-8 ----

// UTF-8 bytes the text needs (no NUL); 0 for a null text or a negative count other than
// SQL_NTS.
SQLLEN ut_Utf8LenOfUcs2(const SQLWCHAR* text, SQLLEN count);
// Encodes whole characters of the NUL-terminated text while they fit in limit bytes;
// returns the bytes written; writes no NUL.
SQLLEN ut_Ucs2ToUtf8Bytes(const SQLWCHAR* text, char* dest, SQLLEN limit);
// As ut_Ucs2ToUtf8Bytes, bounded by a unit count too; a NUL unit inside the count becomes
// a 0 byte. consumed (may be null) receives the units encoded.
SQLLEN ut_Ucs2ToUtf8N(const SQLWCHAR* text, SQLLEN count, char* dest, SQLLEN limit, SQLLEN* consumed);
// Heap UTF-8 copy of the NUL-terminated text; null for a null text.
char* ut_Ucs2ToUtf8DupZ(const SQLWCHAR* text);
// The NUL-terminated text into dest of size bytes: all of it and a NUL (0), or as many
// whole characters as fit in size - 1 bytes and a NUL (-1); size 0: nothing (-1).
// written (may be null) receives the bytes written before the NUL.
int ut_Ucs2ToUtf8Buf(const SQLWCHAR* text, char* dest, SQLLEN size, SQLLEN* written);
// Heap UTF-8 copy of count units (SQL_NTS: up to the NUL); null text gives null; a
// negative count other than SQL_NTS gives "".
char* ut_Ucs2ToUtf8Dup(const SQLWCHAR* text, SQLLEN count);

// ---- UTF-8 to UTF-16 ----

// Units the decoder stores for the text (bytes, or SQL_NTS); 0 for a null or empty text.
SQLLEN ut_Utf8CharCount(const char* text, SQLLEN bytes);
// Decodes the NUL-terminated text into at most maxUnits units; returns the units
// written; writes no NUL; 0 for a null text.
SQLLEN ut_Utf8Decode(const char* text, SQLWCHAR* dest, SQLLEN maxUnits);
// As ut_Utf8Decode over the first bytes bytes of a text that need not end in a NUL.
SQLLEN ut_Utf8DecodeN(const char* text, SQLLEN bytes, SQLWCHAR* dest, SQLLEN maxUnits);
// Bytes of the first n bytes of s that form whole UTF-8 characters within room bytes: n
// when it fits, else room moved back to the start of the character it would split.
size_t ut_Utf8CutLen(const char* s, size_t n, size_t room);
// Heap UTF-16 copy with a NUL unit; null for a null text.
SQLWCHAR* ut_Utf8ToUcs2Dup(const char* text);
// Into dest of size characters: null text or dest: -1; all and NUL, *chars = count, 0;
// size 0: -1, nothing written, *chars untouched; else what fits in size - 1 units and a
// NUL, *chars = units stored, -1. chars may be null.
int ut_Utf8ToUcs2CopyOut(const char* text, SQLWCHAR* dest, SQLLEN size, SQLLEN* chars);
// Into dest of size bytes (size / 2 units): null text: -1; *chars = count of the whole
// text first; null dest: 0; all and NUL: 0; no unit: -1; else cut with a NUL: -1.
int ut_Utf8ToUcs2Buf(const char* text, SQLWCHAR* dest, SQLLEN size, SQLLEN* chars);
// Silently cut to size - 1 units and a NUL; size 0 writes nothing; nothing is done for
// a null argument. Returns dest.
SQLWCHAR* ut_Utf8ToUcs2Trunc(SQLWCHAR* dest, const char* text, SQLLEN size);
// The whole text and a NUL into dest of size units; size is the caller's room (an ODBC 2
// option string has at most 256 units) and a longer text is cut. Returns dest.
SQLWCHAR* ut_Utf8ToUcs2(SQLWCHAR* dest, const char* text, SQLLEN size);

// ---- Case folding ----

struct UT_CASE_ENTRY {
    uint32_t code;  // code point
    int32_t delta;  // mapped code point - code point
};
constexpr size_t UT_CASE_UPPER_COUNT = 759;
constexpr size_t UT_CASE_LOWER_COUNT = 749;
extern const UT_CASE_ENTRY UT_CASE_UPPER[UT_CASE_UPPER_COUNT];  // to upper case
extern const UT_CASE_ENTRY UT_CASE_LOWER[UT_CASE_LOWER_COUNT];  // to lower case

// The delta of the code point's entry in the sorted table, or 0.
int32_t ut_CaseDelta(const UT_CASE_ENTRY* table, size_t count, uint32_t code);
uint32_t ut_UcsUpper(uint32_t code);
uint32_t ut_UcsLower(uint32_t code);
// Fold the NUL-terminated UTF-8 text in buf (size bytes, at least 1) in place. Bytes
// that do not form a character are kept as they are; a result that would not fit in
// size - 1 bytes is cut at a whole character. Returns buf.
char* ut_Utf8Upper(char* buf, size_t size);
char* ut_Utf8Lower(char* buf, size_t size);

// ---- ANSI code page (ISO-8859-1: one byte per character) ----

// Zero-filled heap block of count + 1 units holding the converted text (count bytes, or
// up to the NUL for SQL_NTS); null for a null text.
SQLWCHAR* ut_AnsiToUcs2Dup(const char* text, SQLLEN count);
// The NUL-terminated ANSI text as UTF-8 into dest of size bytes, cut at a whole character
// within size - 1 bytes; a null text writes ""; size 0 writes nothing. Returns dest.
char* ut_AnsiToUtf8(char* dest, const char* text, size_t size);
// Into dest of size bytes: null text: -1; *bytes = twice the text's length; null dest:
// 0; all and NUL: 0; no unit: -1; else cut with a NUL: -1.
int ut_AnsiToUcs2Buf(const char* text, SQLWCHAR* dest, SQLLEN size, SQLLEN* bytes);
// The text and a NUL into dest of size units (the caller's room; cut when longer).
// Returns dest.
SQLWCHAR* ut_AnsiToUcs2(SQLWCHAR* dest, const char* text, SQLLEN size);
// Heap ANSI copy with a NUL: one byte per character, '?' for one above U+00FF; null for a
// null text.
char* ut_Ucs2ToAnsiDupZ(const SQLWCHAR* text);

// ---- Narrow code sets ----

// The code set of an application's narrow (SQL_C_CHAR) text.
enum class NarrowCode : uint8_t { Utf8, Latin1 };

// The narrow code set for a code set name as nl_langinfo(CODESET) gives it (case and "-"
// or "_" ignored): UTF-8 and ISO-8859-1 as named; ASCII, the C/POSIX locale's, is UTF-8 in
// the ANSI library (its programs' text is UTF-8, and their narrow calls reach it unchanged)
// and ISO-8859-1 in the Unicode one (what the Driver Manager converts such a program's
// narrow calls from). false for any other code set.
bool ut_NarrowCodeOf(const char* codeset, bool unicodeLibrary, NarrowCode* out);

// Bytes of the first n bytes of s that are well-formed UTF-8 (NUL bytes included): n when
// the whole text is.
size_t ut_Utf8ValidLen(const char* s, size_t n);
// The index of the first surrogate without its partner among count units, or -1.
SQLLEN ut_Ucs2LoneSurrogate(const SQLWCHAR* text, SQLLEN count);

// count UTF-16 units as narrow text: whole characters while they fit in limit bytes
// (dest null: counted only); a NUL unit is a 0 byte. consumed (may be null) receives the
// units taken. Returns the bytes. In ISO-8859-1 a character above U+00FF (a pair too)
// is one '?'.
SQLLEN ut_Ucs2ToNarrowN(const SQLWCHAR* text, SQLLEN count, char* dest, SQLLEN limit, SQLLEN* consumed,
                        NarrowCode code);
// bytes bytes of narrow text as UTF-16: whole characters while they fit in maxUnits
// units, never half a pair (dest null: counted only); a 0 byte is a NUL unit, and UTF-8
// ends at the first byte that does not start a well-formed character. used (may be null)
// receives the bytes taken. Returns the units.
SQLLEN ut_NarrowToUcs2N(const char* text, SQLLEN bytes, SQLWCHAR* dest, SQLLEN maxUnits, SQLLEN* used,
                        NarrowCode code);
// bytes bytes of UTF-8 as ISO-8859-1: one byte a character ('?' for one above U+00FF)
// while they fit in limit bytes (dest null: counted only); a 0 byte is a 0 byte, and the
// text ends at the first byte that does not start a well-formed character. used (may be
// null) receives the bytes taken. Returns the bytes written, one a character.
SQLLEN ut_Utf8ToLatin1N(const char* text, SQLLEN bytes, char* dest, SQLLEN limit, SQLLEN* used);
// Heap UTF-8 copy with a NUL of ISO-8859-1 text of count bytes (SQL_NTS: up to the NUL);
// null for a null text.
char* ut_Latin1ToUtf8Dup(const char* text, SQLLEN count);
