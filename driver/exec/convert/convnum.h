// Conversion from numeric internal values (integers of 8, 16 and 32 bits, signed or not,
// reals and doubles) into the C type an application asks for, and the exact decimal
// arithmetic behind SQL_NUMERIC_STRUCT both ways: values into the structure, and the
// structure into exact decimal text for parameters (a double would lose digits beyond 15).
//
// Every converter follows the convention of valtypes.h: SQL_SUCCESS, SQL_SUCCESS_WITH_INFO
// or SQL_ERROR with the internal error code in *err. Fixed targets are written at their
// natural width whatever dstLen says, and *outLen receives that width. A value out of the
// target's range fails with 58 (22003), a target the source cannot reach with 49 (07006);
// a value whose fraction is dropped is written and warns 104 (01S07). NaN and infinities
// fail with 58 for every target that is not text.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <string>

// An exact decimal: digits (most significant first, '0' to '9', no sign) times
// 10^exponent.
struct DecimalValue {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Shortest decimal that reads back as the same double (or float): 0.1 is 1 x 10^-1, not
// the binary value's 55 digits. Only for finite values.
DecimalValue DecimalOfDouble(double x);
DecimalValue DecimalOfFloat(float x);

// value x 10^scale truncated toward zero into the structure. The magnitude has at most 38
// digits, else 58. precision 0 takes defaultPrecision, raised to the digits the magnitude
// needs (so the two never disagree); a given precision (above 38 counts as 38) that the
// magnitude exceeds is 58, like a scale outside the structure's -128..127. Dropped digits
// warn 104.
SQLRETURN DecimalToNumeric(const DecimalValue& value, SQL_NUMERIC_STRUCT* numeric, int scale, int precision,
                           int defaultPrecision, int* err);
// The same for a double; NaN and infinities are 58.
SQLRETURN DoubleToNumeric(double x, SQL_NUMERIC_STRUCT* numeric, int scale, int precision, int* err,
                          int defaultPrecision = 15);

// The exact decimal text of a numeric structure ("-123.45", "0.05", "1200" for scale -2):
// a sign only when negative and the magnitude is not 0, digits before a point only when
// the integer part is not 0 ("0" then), as many fraction digits as the scale.
constexpr size_t NUMERIC_TEXT_MAX = 176;  // 39 digits and 128 zeros, a sign, "0.", NUL
void NumericToText(const SQL_NUMERIC_STRUCT* numeric, char* dest, size_t destSize);

// Integer sources: value with its own signedness. ConvertLONG serves 32-bit values,
// ConvertSHORT 16-bit, ConvertBYTE 8-bit; precision 0 takes 9, 4 and 2 digits for
// SQL_C_NUMERIC. A narrower unsigned target tests the range; one as wide or wider takes
// the bits, sign-extended for a signed source (-1 to SQL_C_ULONG is 4294967295).
SQLRETURN ConvertLONG(int64_t value, bool isSigned, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err, int scale, int precision);
SQLRETURN ConvertSHORT(int64_t value, bool isSigned, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                       int* err, int scale, int precision);
SQLRETURN ConvertBYTE(int64_t value, bool isSigned, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err, int scale, int precision);

// Floating sources: text with 17 (double) or 8 (real) significant digits; integers
// truncated toward zero; SQL_C_BIT only from exactly 0 or 1; a double beyond the float
// range to SQL_C_FLOAT is 58; precision 0 takes 15 or 7 digits for SQL_C_NUMERIC.
SQLRETURN ConvertDOUBLE(double value, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, int scale,
                        int precision);
SQLRETURN ConvertFLOAT(float value, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, int scale,
                       int precision);
