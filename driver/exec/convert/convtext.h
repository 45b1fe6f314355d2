// Conversion from text internal values: narrow text (kinds 1 and 15 to 20) by ConvertCHAR,
// wide UTF-16 text (kinds 24 to 27) by ConvertWCHAR, into the C type an application asks
// for; and the text parsers behind the numeric and GUID targets.
//
// Every routine follows the convention of valtypes.h: SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or
// SQL_ERROR with the internal error code in *err; a failure writes nothing. Fixed targets
// are written at their natural width whatever dstLen says. Text to a date, time or
// timestamp target answers 43 (S1C00), a target text cannot reach 49 (07006).
//
// The parsers read exactly len bytes (no NUL needed) in the C locale's number forms.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "util/charset.h"

// An integer within [min, max], white space allowed around it: the bits of the value
// (two's complement) into *bits. 59 (22005) for a text that is no integer, 58 (22003) for
// one outside the bounds.
SQLRETURN CharToNumber64(const char* text, SQLLEN len, int64_t min, uint64_t max, uint64_t* bits, int* err);
// The same within 32-bit bounds.
SQLRETURN CharToNumber(const char* text, SQLLEN len, int64_t min, int64_t max, int64_t* out, int* err);
// A decimal number: a leading "$" and every "," are ignored; leading white space, a sign,
// digits with a point and an exponent; nothing may follow. An empty text is 0.0. 58 for a
// text of 513 bytes or more or a value beyond the double range, 59 for anything else.
SQLRETURN CharToDecimal(const char* text, SQLLEN len, double* out, int* err);
// Exact decimal text (white space around it, a sign, digits with a point, an exponent) into
// the structure at scale (see DecimalToNumeric). precision 0 counts the digit characters of
// the text (before an exponent letter). 121 (22018) for a character outside that grammar,
// 58 when the value does not fit, 104 (01S07) with the value written when digits are
// dropped.
SQLRETURN CharToNumeric(const char* text, SQLLEN len, SQL_NUMERIC_STRUCT* numeric, int scale, int precision,
                        int* err);
// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" into the structure. 62 (22026) for a text that is
// not 36 characters, 59 for a hyphen missing, 121 (22018) for a character that is not a
// hexadecimal digit.
SQLRETURN CharToGuid(const char* text, SQLLEN len, SQLGUID* guid, int* err);

// A narrow text value of len bytes in textCode, the code set of the dataset's text (the
// application's narrow code set, or UTF-8 in the Unicode library); total is the whole
// length of a long value of which text is one piece (SQL_NO_TOTAL, or 0 for a value held
// whole). SQL_C_CHAR receives it in code, the application's narrow code set (CopyTextToChar),
// SQL_C_WCHAR decoded from textCode. scale and precision serve SQL_C_NUMERIC.
SQLRETURN ConvertCHAR(const char* text, SQLLEN len, SQLLEN total, int32_t cType, void* dst, SQLLEN dstLen,
                      SQLLEN* outLen, int* err, int scale, int precision, NarrowCode textCode, NarrowCode code);
// A wide text value; len and total in bytes of UTF-16. SQL_C_CHAR receives the text in
// the narrow code set ('?' for a character ISO-8859-1 lacks), its length in bytes; the
// parsed targets read a UTF-8 copy (16, S1001, when it cannot be made); SQL_C_GUID is 49.
SQLRETURN ConvertWCHAR(const SQLWCHAR* text, SQLLEN len, SQLLEN total, int32_t cType, void* dst, SQLLEN dstLen,
                       SQLLEN* outLen, int* err, int scale, int precision, NarrowCode code);
