// The agent's copies of a prepared statement's descriptions (slots 15 and 16) and the
// escape translation of a text on its own (slot 17, SQLNativeSql).
#pragma once

#include <cstdint>

struct COLDESC;

// The result-column (slot 15) or parameter (slot 16) descriptions of a statement: the
// count (when asked for; zeroed first) and, when asked for, a new array the caller owns
// with each record's texts duplicated (release it with ds_ColDescFree). 0, 21 for a
// handle that is not a live statement, or 16.
int OA_DescribeCols(uint32_t stmt, uint16_t* outCount, COLDESC** outDescs);
int OA_DescribeParams(uint32_t stmt, uint16_t* outCount, COLDESC** outDescs);

// The text as the server would be given it: escapes translated, copied into buf (cut and
// NUL-terminated; a null buffer asks for the length) with its full length in *outLen.
// 0, 19 when cut, 21 for an unknown connection or null text, or the translator's code.
int OA_NativeSql(uint32_t conn, const char* text, char* buf, int32_t bufLen, int32_t* outLen);
