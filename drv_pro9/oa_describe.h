// The agent's copies of a prepared statement's descriptions (slots 15, 16 and 51), the
// refinement of its parameter descriptions by probing the server, and the escape
// translation of a text on its own (slot 17, SQLNativeSql).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"

struct COLATTR;
struct COLDESC;
struct OA_STMT;

// The result-column (slot 15) or parameter (slot 16) descriptions of a statement: the
// count (when asked for; zeroed first) and, when asked for, a new array the caller owns
// with each record's texts duplicated (release it with ds_ColDescFree). 0, 21 for a
// handle that is not a live statement, or 16.
int OA_DescribeCols(uint32_t stmt, uint16_t* outCount, COLDESC** outDescs);
int OA_DescribeParams(uint32_t stmt, uint16_t* outCount, COLDESC** outDescs);

// Slot 51: the result descriptions as OA_DescribeCols gives them, and the statement's
// column-attribute table compacted (ut_ColAttrCompact): per attribute its every-column
// entry and the columns whose value differs from it. Every out is required (21 otherwise)
// and zeroed first. The caller owns both arrays: the descriptions go with ds_ColDescFree,
// the attributes with ut_ColAttrFree on each entry (their texts are copies) and uh_Free.
// 0, 21, 15 for more attributes than the count can state, or 16 (nothing handed out).
int OA_DescribeColsEx(uint32_t stmt, uint16_t* outColCount, uint16_t* outAttrCount, COLDESC** outCols,
                      COLATTR** outAttrs);

// The analyser the refinement asks is oa_Library.paramProber (drv_pro9/oa_services.h).

// The select-list template the analyser starts from.
inline constexpr const char OA_PARAMPROBE_TEMPLATE[] = "cast (null as varchar)";

// The describe-parameters refinement (statement property OA_PROP_DESCRIBE_PARAMS), once
// per prepare: each probe is prepared on a scratch statement of the same connection and
// the SQL type and sizes of its marked columns go to the next parameter description (the
// names, server and internal types stay the prepare's). 0 when refined, when already
// refined, for a statement without markers, when the analyser cannot help, and after
// execute (with the WARNING "Describe params work only before Execute", nothing
// changes); 22 (WARNING "execute without prior prepare") before a prepare; a failing
// probe's code with its messages on the statement, the descriptions left as they were.
int OA_DescribeParamsRefine(OA_STMT* stmt);

// The text as the server would be given it: escapes translated, copied into buf (cut and
// NUL-terminated; a null buffer asks for the length) with its full length in *outLen.
// 0, 19 when cut, 21 for an unknown connection or null text, or the translator's code.
int OA_NativeSql(uint32_t conn, const char* text, char* buf, int32_t bufLen, int32_t* outLen);
