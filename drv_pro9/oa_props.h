// Agent properties: everything the ODBC side and the cursor library ask of the agent that
// depends on the database (driver and data-source information, connection and statement
// options, capabilities), through operation slots 0 and 1.
//
// Property codes and the capability bits are the table's (drv_pro9/oa_optable.h).
// Answers come from the agent's records, from the connection's settings, or from a static
// information table.
#pragma once

#include <cstdint>

#include "drv_pro9/oa_optable.h"

// The capability mask this agent answers (OA_PROP_CAPABILITIES): what it can do (bits
// 0x1 to 0x20, 0x80, 0x400 and 0x1000); OA_CAP_AUTOCOMMIT is added while autocommit is on.
constexpr int32_t OA_CAPABILITIES = 0x14BF;

// Largest keyset size, and rowset size while the connection keeps the rowset limit.
constexpr int32_t OA_KEYSET_SIZE_MAX = 5000;
constexpr int32_t OA_ROWSET_SIZE_MAX = 100;

// Slot 0. Reads the property into buf. 21 when the handle is not of the code's level;
// 1 for a code that is not answered. A text is copied cut to bufLen - 1 bytes and
// NUL-terminated, its full length in *outLen, and gives 0 even when cut. An integer is
// written as 4 bytes, with 4 in *outLen; each only when given, and a buffer shorter than 4
// bytes gives 21.
int OA_GetProperty(uint32_t handle, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen);
// Slot 1. Sets a connection or statement property from *value (a 32-bit integer, or a
// text for the current catalog). 21 when the handle is not of the code's level or the
// value is missing; 43 for a code that is not handled; 75 when another value than the one
// given was stored; 1 for a level other than 1 to 3. Every server code gives 43.
int OA_SetProperty(uint32_t handle, uint32_t code, const void* value);

// The dynamic-cursor sensitivity of a setting's text: 2 when its first letter is 'D' or
// 'd', 1 for 'H' or 'h', otherwise (and for null) 0. The name of a value: "HIGH" for 1,
// "DISABLED" for 2, "LOW" for any other.
int32_t OA_SensitivityFromText(const char* text);
const char* OA_SensitivityName(int32_t value);
