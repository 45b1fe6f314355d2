// Agent properties: everything the ODBC side and the cursor library ask of the agent that
// depends on the database (driver and data-source information, connection and statement
// options, capabilities), through operation slots 0 and 1.
//
// A property is named by a 32-bit code:
//   bits 28-31 level: 1 server, 2 connection, 3 statement (the handle must be of it);
//   bits 24-27 value kind: 1 text, 2 32-bit integer;
//   bits 16-23 group: 0x01 flags and capabilities, 0x03 options (item = ODBC connection or
//              statement attribute), 0x04 information (item = ODBC information type);
//   bits 0-15  item.
// Answers come from the agent's records, from the connection's settings, or from a static
// information table.
#pragma once

#include <cstdint>

constexpr uint32_t OA_PROP_LEVEL_SERVER = 1;
constexpr uint32_t OA_PROP_LEVEL_CONN = 2;
constexpr uint32_t OA_PROP_LEVEL_STMT = 3;
constexpr uint32_t OA_PROP_KIND_TEXT = 1;
constexpr uint32_t OA_PROP_KIND_INT = 2;
constexpr uint32_t OA_PROP_GROUP_FLAGS = 0x01;
constexpr uint32_t OA_PROP_GROUP_OPTION = 0x03;
constexpr uint32_t OA_PROP_GROUP_INFO = 0x04;

constexpr uint32_t oa_PropLevel(uint32_t code) { return code >> 28; }
constexpr uint32_t oa_PropKind(uint32_t code) { return (code >> 24) & 0xF; }
constexpr uint32_t oa_PropGroup(uint32_t code) { return (code >> 16) & 0xFF; }
constexpr uint32_t oa_PropItem(uint32_t code) { return code & 0xFFFF; }
constexpr uint32_t oa_PropCode(uint32_t level, uint32_t kind, uint32_t group, uint32_t item) {
    return level << 28 | kind << 24 | group << 16 | item;
}
// The code that asks for an information type as an integer or as a text.
constexpr uint32_t oa_InfoIntCode(uint32_t infoType) {
    return oa_PropCode(OA_PROP_LEVEL_CONN, OA_PROP_KIND_INT, OA_PROP_GROUP_INFO, infoType);
}
constexpr uint32_t oa_InfoTextCode(uint32_t infoType) {
    return oa_PropCode(OA_PROP_LEVEL_CONN, OA_PROP_KIND_TEXT, OA_PROP_GROUP_INFO, infoType);
}

// Codes with a meaning of their own.
constexpr uint32_t OA_PROP_SERVER_TYPE = 0x11010000;        // server: "progress11"
constexpr uint32_t OA_PROP_DYN_MIX_CURSORS = 0x22010008;    // also marks the cursor library
constexpr uint32_t OA_PROP_ODBC_VERSION = 0x2201000C;       // set: 2 or 3
constexpr uint32_t OA_PROP_DYNAMIC_SENSITIVE = 0x2201000B;
constexpr uint32_t OA_PROP_CAPABILITIES = 0x22010011;       // also marks the cursor library
constexpr uint32_t OA_PROP_WIDE = 0x22010013;
constexpr uint32_t OA_PROP_AUTOCOMMIT = 0x22030000;
constexpr uint32_t OA_PROP_ACCESS_MODE = 0x22030001;
constexpr uint32_t OA_PROP_TXN_ISOLATION = 0x2203006C;
constexpr uint32_t OA_PROP_CURRENT_CATALOG = 0x2103006D;
constexpr uint32_t OA_PROP_ROW_COUNT = 0x32010000;
constexpr uint32_t OA_PROP_MAX_ROWS = 0x32030001;
constexpr uint32_t OA_PROP_NOSCAN = 0x32030002;
constexpr uint32_t OA_PROP_MAX_LENGTH = 0x32030003;
constexpr uint32_t OA_PROP_CURSOR_TYPE = 0x32030006;
constexpr uint32_t OA_PROP_CONCURRENCY = 0x32030007;
constexpr uint32_t OA_PROP_KEYSET_SIZE = 0x32030008;
constexpr uint32_t OA_PROP_ROWSET_SIZE = 0x32030009;
constexpr uint32_t OA_PROP_DESCRIBE_PARAMS = 0x3203000F;

// The capability mask (OA_PROP_CAPABILITIES): what the agent can do (bits 0x1 to 0x20,
// 0x80, 0x400 and 0x1000), and 0x100 while autocommit is on.
constexpr int32_t OA_CAPABILITIES = 0x14BF;
constexpr int32_t OA_CAPABILITY_AUTOCOMMIT = 0x100;

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
