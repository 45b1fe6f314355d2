// Conversion from binary values (kinds 14, 16, 21 to 23) into raw bytes or hexadecimal
// text, and from DATE, TIME and TIMESTAMP values (kinds 11 to 13) into text, the ODBC date,
// time and timestamp structures, or raw bytes.
//
// Every converter follows the convention of valtypes.h: SQL_SUCCESS, SQL_SUCCESS_WITH_INFO
// or SQL_ERROR with the internal error code in *err; a failure writes nothing; a target
// the source cannot reach is 49 (07006). Text of a negative year or one after 9999 is refused
// with 60 (22008): its sign or digits would be lost.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

// The text forms of DATE, TIME and TIMESTAMP values, written by hand (a fetch of dates as
// text writes one a row): "YYYY-MM-DD", "HH:MM:SS" and "YYYY-MM-DD HH:MM:SS[.fff]", the
// fraction as ConvertTIMESTAMP says. Fields take two digits or more, the year four or more
// (a year outside 0..9999 is the caller's to refuse). out holds DATETIME_TEXT_SIZE bytes;
// each writes a NUL and answers the length.
constexpr size_t DATETIME_TEXT_SIZE = 48;
size_t DateText(char* out, const SQL_DATE_STRUCT* date);
size_t TimeText(char* out, const SQL_TIME_STRUCT* time);
size_t TimestampText(char* out, const SQL_TIMESTAMP_STRUCT* ts, int fractionDigits);

// SQL_C_BINARY: the bytes, cut with 01004. SQL_C_CHAR and SQL_C_WCHAR: two upper-case hex
// digits a byte and a terminator, as many whole bytes as fit (01004 when not all); the
// length is that of the whole value's text (SQL_NO_TOTAL passed on). total as for the
// copies of valtypes.h.
SQLRETURN ConvertBINARY(const void* bytes, SQLLEN len, SQLLEN total, int32_t cType, void* dst, SQLLEN dstLen,
                        SQLLEN* outLen, int* err);
// Text "YYYY-MM-DD", never cut (a buffer under 11 bytes, or 22 wide, is 58); the date
// structure; a timestamp at midnight; the 6 raw bytes, cut with 01004.
SQLRETURN ConvertDATE(const SQL_DATE_STRUCT* date, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err);
// Text "HH:MM:SS", never cut (under 9 bytes, or 18 wide, is 58); the time structure; a
// timestamp of today's date (local time) at that time; the 6 raw bytes, cut with 01004.
SQLRETURN ConvertTIME(const SQL_TIME_STRUCT* time, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err);
// Text "YYYY-MM-DD HH:MM:SS[.fff]" with at least fractionDigits (0 to 9; more count as 9)
// digits of the fraction and its trailing zeros dropped beyond them, cut with 01004; the
// date or the time part (the rest dropped without a warning); the structure; the 16 raw
// bytes, cut with 01004. A fraction of a second of 10^9 ns or more is 60 for text.
SQLRETURN ConvertTIMESTAMP(const SQL_TIMESTAMP_STRUCT* ts, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                           int fractionDigits, int* err);
