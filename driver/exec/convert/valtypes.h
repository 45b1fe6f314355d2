// The vocabulary of value conversion shared by both directions: the default C type of an
// SQL type, the fixed sizes and log names of C types, hexadecimal text, powers and
// doubles as text; and the application-to-internal side: the internal type (DS_CTYPE) a
// C type travels as, date/time escape text to DATE, TIME or TIMESTAMP structures, the
// numeric structure to a double and the GUID structure to text.
//
// Pure functions: no handle, no lock, no allocation except ParseDateTimeEscapeW's copy.
//
// The converters of both directions share one convention: they return SQL_SUCCESS,
// SQL_SUCCESS_WITH_INFO or SQL_ERROR and leave the internal error code in *err, the
// statement's error field. A truncation sets 19 (01004); a copy answers
// SQL_SUCCESS_WITH_INFO whenever *err already holds 19, so one truncated column marks the
// whole row. A failure writes nothing into the target.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "util/charset.h"
#include "util/dataset.h"

// The C type used for SQL_C_DEFAULT under the environment's ODBC version (2 or 3).
int16_t DefaultCType(int32_t sqlType, int32_t odbcVersion);

// The fixed size of a C type's buffer; 0 for the variable kinds (CHAR, WCHAR, BINARY) and
// unknown codes.
SQLLEN CTypeOctetLength(int32_t cType);

// Whether t is one of ODBC's SQL data types (concise, ODBC 2's date and time codes too).
bool IsSqlType(int32_t t);

// The constant name of a C type for log lines, "(unknown type)" for any other code.
const char* CTypeName(int32_t cType);

// The bounded copies into an application buffer of dstLen bytes. srcLen is the value (or
// piece) at hand; totalLen the whole length of a long value of which it is one piece, or
// SQL_NO_TOTAL, or 0 for a value held whole. *outLen (may be null) receives totalLen when
// it is non-zero, else srcLen, in the units the routine names. dstLen 0 (or a null dst)
// writes nothing and warns 01004. A value that does not fit warns 01004 and is cut when
// mayTruncate, else fails with 58 (22003) with nothing written. A piece shorter than
// totalLen warns 01004 too: more of the value remains.
//
// Bytes to bytes; addNul appends one 0 byte.
SQLRETURN CopyCharOut(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool addNul,
                      bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err);
// Text copies between the application's narrow code set and the dataset's forms. Each
// writes a NUL of its target's unit when addNul, reports lengths in bytes of the target
// form, and never cuts inside a character (a UTF-8 sequence or a surrogate pair). The
// length of a value of which src is one piece (totalLen beyond pieceLen) is known only
// when each character takes a fixed size in both forms; otherwise SQL_NO_TOTAL.
//
// Narrow text to narrow text of the same code set: CopyCharOut with the cut kept at a
// whole character.
SQLRETURN CopyNarrowTextOut(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool mayTruncate,
                            void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode code);
// Narrow text of a dataset, in the code set from (code itself, or UTF-8), to narrow text
// in code: CopyNarrowTextOut when they agree, else UTF-8 to ISO-8859-1, one byte a
// character ('?' for one it lacks), whose length is the character count (SQL_NO_TOTAL for
// a piece of a longer value). Always NUL-terminated.
SQLRETURN CopyTextToChar(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool mayTruncate,
                         void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode from, NarrowCode code);
// UTF-16 units (srcChars, pieceChars and totalChars count units) to narrow text in code
// (ISO-8859-1 writes '?' for a character it lacks).
SQLRETURN CopyWCharToChar(const void* src, SQLLEN srcChars, SQLLEN pieceChars, SQLLEN totalChars, bool addNul,
                          bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode code);
// Narrow text in code (srcLen, pieceLen and totalLen in bytes) to UTF-16; UTF-8 text ends
// at a byte that starts no well-formed character.
SQLRETURN CopyCharToWChar(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool addNul,
                          bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode code);
// The source bytes that the cut copy of a text of n bytes (UTF-16 when wideSrc, else
// narrow in from) into a cType buffer (SQL_C_CHAR in code, or SQL_C_WCHAR, with its NUL) of
// dstLen bytes takes: where SQLGetData goes on.
SQLLEN TextCopyTaken(const void* src, SQLLEN n, bool wideSrc, int32_t cType, SQLLEN dstLen, NarrowCode from,
                     NarrowCode code);
// UTF-16 to UTF-16, every length in bytes; a cut keeps whole units; addNul appends a 0
// unit. Neither side need be aligned.
SQLRETURN CopyWCharOut(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool addNul,
                       bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err);

// What the converters share: a fixed-size value written at its natural width whatever the
// buffer length (*outLen receives size), SQL_SUCCESS_WITH_INFO when *err holds 19; and
// ASCII text to SQL_C_CHAR, or SQL_C_WCHAR for that cType, with a terminator.
SQLRETURN CopyFixedOut(void* dst, const void* value, size_t size, SQLLEN* outLen, const int* err);
SQLRETURN CopyTextOut(const char* text, bool mayTruncate, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err);
// Sets *err to code and returns SQL_ERROR.
SQLRETURN ConvertFailed(int* err, int code);

// 0-9 and a-f/A-F give their value, any other character 0.
int HexDigitValue(char ch);
bool IsHexDigit(char ch);
// Writes len / 2 bytes from hexadecimal text (an odd last character is ignored). 0, or
// 121 (22018) for a character that is not a hexadecimal digit, with nothing written.
int HexToBinary(unsigned char* dst, const char* src, size_t len);

// base multiplied n times (n >= 0), or 1 divided |n| times by base.
double PowerOf(double base, int n);
// value by "%.*g" with digits significant digits into buf (size bytes, NUL-terminated), in
// the C locale's form; "" when it does not fit.
void FormatDouble(char* buf, size_t size, double value, int digits);

// The internal type a C type's values travel as, and (when asked) its element width; 0
// for the variable kinds, whose callers set the width from the values.
int32_t CTypeToDsCType(int32_t cType, uint32_t* width = nullptr);

// Date/time escape text ("{d '...'}", "{t '...'}", "{ts '...'}" of length bytes; the
// callers test the opening brace) into the DATE, TIME or TIMESTAMP structure of sqlType
// (0: the escape's own), written into dest (destSize bytes, at least the structure's
// size); a given column takes that type and width, and *written the internal type
// (DS_DATE, DS_TIME, DS_TIMESTAMP). Anything else (another keyword, an SQL type that is
// not a date or time, a text too short) is copied unchanged, at most destSize bytes, with
// *written DS_NONE. 0, or for an escape whose value is not a date or time 119 (22007), or
// out of range (a negative year too) 60 (22008), with nothing written. Fraction digits
// are of a second (".5" is 500000000 ns), nine at most.
int ParseDateTimeEscape(void* dest, size_t destSize, const char* text, size_t length, DATASET_COL* col,
                        int32_t sqlType, int32_t* written);
// The same for UTF-16 text of length bytes; a copy copies the UTF-16 value.
int ParseDateTimeEscapeW(void* dest, size_t destSize, const SQLWCHAR* text, size_t length, DATASET_COL* col,
                         int32_t sqlType, int32_t* written);

// SQL_NUMERIC_STRUCT as the exact decimal text of its value at its own scale, into dest
// (NUMERIC_TEXT_LENGTH bytes at least; no terminator): "-123.45", "1234500" for 12345 at
// scale -2; scales beyond 0..38 and -8 with an exponent ("12E-60"). Answers the length.
constexpr size_t NUMERIC_TEXT_LENGTH = 48;
size_t NumericToText(char* dest, const SQL_NUMERIC_STRUCT* numeric);

// The 36 characters of a GUID, upper-case with hyphens; no terminator.
constexpr size_t GUID_TEXT_LENGTH = 36;
void GuidToText(char* dest, const SQLGUID* guid);
