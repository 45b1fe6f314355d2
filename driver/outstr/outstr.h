// The one writer of output strings: every text the driver hands back to an application
// buffer passes through here, with the unit of the buffer named by the caller (bytes or
// characters), the full length reported, NUL termination, and 01004 posted when the text
// was cut.
//
// Rules, for narrow and wide buffers alike:
// - the full length of the whole text is reported, in the buffer's unit, NUL not counted;
// - with a buffer of at least one unit the text is written, cut when it and its NUL do
//   not fit, and always NUL-terminated; a cut never splits a character (a UTF-8
//   sequence, or the two halves of a surrogate pair);
// - a null buffer receives nothing and is no truncation (the caller asks for the length);
//   a buffer of size 0 (or less) receives nothing and is a truncation.
#pragma once

#include <sql.h>

#include <limits>
#include <string_view>

struct DIAG;

// What the buffer size and the reported length count. Narrow text counts bytes for both;
// wide text counts 16-bit units (Chars) or bytes (Bytes: room for size / 2 units, a
// length of twice the units).
enum class OutUnit { Bytes, Chars };

// What the driver's own text is: UTF-8 in the Unicode library; in the ANSI library the
// application's narrow code set (UTF-8, or Ansi for ISO-8859-1).
enum class TextCode { Utf8, Ansi };

struct OutStrResult {
    SQLLEN length = 0;       // full length in the buffer's unit
    bool truncated = false;  // a buffer was given and the text with its NUL did not fit
};

// Writes text into buf of size units: its bytes as they are (narrow), or converted to
// UTF-16 (wide). buf needs no particular alignment.
OutStrResult WriteOutStr(std::string_view text, void* buf, SQLLEN size, OutUnit unit, bool wide, TextCode code);

// The text code of the library this runs in, under the last connect's narrow code set.
TextCode DriverTextCode();

// SQL_SUCCESS, or SQL_SUCCESS_WITH_INFO for a cut text, which also posts code 19 (01004)
// on diag unless diag is null (the diagnostic calls post nothing) or already holds a
// code of this call.
SQLRETURN OutStrFinish(const OutStrResult& r, DIAG* diag);

// The length in the width of the caller's length pointer; a length that does not fit is
// stored as the largest value that does.
template <class L>
L OutStrClamp(SQLLEN length) {
    constexpr SQLLEN top = static_cast<SQLLEN>(std::numeric_limits<L>::max());
    return static_cast<L>(length > top ? top : length);
}

// The ODBC face: width is the call's width marker ('W' for wide, else narrow); length
// (SQLSMALLINT*, SQLINTEGER* or SQLLEN*, may be null) receives the full length.
template <class L>
SQLRETURN OutString(std::string_view text, void* buf, SQLLEN size, OutUnit unit, int width, L* length,
                    DIAG* diag) {
    OutStrResult r = WriteOutStr(text, buf, size, unit, width == 'W', DriverTextCode());
    if (length != nullptr)
        *length = OutStrClamp<L>(r.length);
    return OutStrFinish(r, diag);
}
