// SQLGetFunctions and SQLGetInfo.
#include "driver/handlers/functions.h"

#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "driver/objects/conn.h"
#include "driver/outstr/outstr.h"
#include "scrs/scs_cursor.h"
#include "util/errcode.h"

namespace {

constexpr size_t kListSize = 100;

struct FunctionTables {
    std::array<SQLUSMALLINT, kListSize> list{};                            // ODBC 2 ids
    std::array<SQLUSMALLINT, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE> bitmap{};  // every id
};

constexpr FunctionTables MakeTables() {
    FunctionTables t;
    auto add = [&t](int id) {
        if (id < static_cast<int>(kListSize))
            t.list[id] = SQL_TRUE;
        t.bitmap[id >> 4] = static_cast<SQLUSMALLINT>(t.bitmap[id >> 4] | (1u << (id & 0xF)));
    };
#define VARNO_EXPORTED_API(name, id) add(id);
#include "export_api_ids.inc"
#undef VARNO_EXPORTED_API
    return t;
}

constexpr FunctionTables kTables = MakeTables();

}  // namespace

SQLRETURN DoGetFunctions(HANDLE_HDR*, const GetFunctionsArgs& a) {
    auto id = a.function;
    auto* result = a.supported;
    if (result == nullptr)
        return SQL_SUCCESS;
    if (id == SQL_API_ALL_FUNCTIONS) {
        std::memcpy(result, kTables.list.data(), sizeof kTables.list);
    } else if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
        std::memcpy(result, kTables.bitmap.data(), sizeof kTables.bitmap);
    } else if (id < kListSize) {
        *result = kTables.list[id];
    } else if (id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16) {
        *result = SQL_FUNC_EXISTS(kTables.bitmap.data(), id);
    } else {
        *result = SQL_FALSE;
    }
    return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------------------
// SQLGetInfo

namespace {

// How an information type is answered, and which cache array keeps its answer.
enum class InfoKind : uint8_t {
    Small,     // 16 bits, from the agent; infoU16
    Int,       // 32 bits, from the agent; infoI32
    Handle,    // a handle of the driver: an SQLULEN, from the agent's 32 bits; infoI32
    Convert,   // SQL_CONVERT_*: 32 bits, from the conversion table or the agent; infoI32
    Text,      // text from the agent; infoText
    TextEveryTime,  // text from the agent, asked every time (it can change)
};

struct InfoType {
    uint16_t type;
    InfoKind kind;
};

constexpr InfoType S(uint16_t t) { return {t, InfoKind::Small}; }
constexpr InfoType I(uint16_t t) { return {t, InfoKind::Int}; }
constexpr InfoType H(uint16_t t) { return {t, InfoKind::Handle}; }
constexpr InfoType C(uint16_t t) { return {t, InfoKind::Convert}; }
constexpr InfoType T(uint16_t t) { return {t, InfoKind::Text}; }

// SQL_OJ_CAPABILITIES under its ODBC 3 and its ODBC 2 number: one answer, one slot.
constexpr uint16_t kOjCapabilities = 115;
constexpr uint16_t kOjCapabilitiesOdbc2 = 65003;

// Every type the agent answers, by kind. The conversion types are answered by the agent
// only when it says so (CONN::agentConversions).
constexpr InfoType kInfoTypes[] = {
    S(0), S(1), S(12), S(15), S(22), S(23), S(24), S(28), S(30), S(31), S(32), S(33), S(34), S(35), S(46),
    S(74), S(75), S(84), S(85), S(88), S(93), S(97), S(98), S(99), S(100), S(101), S(106), S(107), S(114),
    S(116), S(10005), S(10022),

    H(3), H(4), H(5), H(76), H(135),
    I(8), I(26), I(43), I(44), I(48), I(49), I(50), I(51), I(52), I(72), I(78), I(79), I(80), I(81), I(82),
    I(83), I(86), I(91), I(92), I(95), I(96), I(102), I(104), I(105), I(108), I(109), I(110), I(112),
    I(kOjCapabilities), I(117), I(118), I(119), I(120), I(121), I(123), I(124),
    I(127), I(128), I(129), I(130), I(131), I(132), I(133), I(134),
    I(136), I(137), I(138), I(139), I(140), I(141), I(142), I(143),
    I(144), I(145), I(146), I(147), I(148), I(149), I(150), I(151), I(152), I(153), I(154), I(155), I(156),
    I(157), I(158), I(159), I(160), I(161), I(162), I(163), I(164), I(165), I(166), I(167), I(168),
    I(169), I(170), I(172), I(10001), I(10021),

    C(53), C(54), C(55), C(56), C(57), C(58), C(59), C(60), C(61), C(62), C(63), C(64), C(65), C(66), C(67),
    C(68), C(69), C(70), C(71), C(122), C(125), C(126),

    T(6), T(7), T(10), T(11), T(13), T(14), {16, InfoKind::TextEveryTime}, T(17), T(18), T(19), T(20), T(21),
    T(25), T(27), T(29), T(36), T(37), T(38), T(39), T(40), T(41), T(42), T(45), T(47), T(73), T(87), T(89),
    T(90), T(94), T(103), T(111), T(113), T(10000), T(10002), T(10003), T(10004),
};

enum class Cache : uint8_t { None, U16, I32, Text };

constexpr Cache CacheOf(InfoKind k) {
    switch (k) {
    case InfoKind::Small: return Cache::U16;
    case InfoKind::Int: case InfoKind::Handle: case InfoKind::Convert: return Cache::I32;
    case InfoKind::Text: return Cache::Text;
    case InfoKind::TextEveryTime: break;
    }
    return Cache::None;
}

// The cache slot of kInfoTypes[index]: its place among the types kept in the same array.
constexpr int SlotOf(size_t index) {
    int slot = 0;
    for (size_t i = 0; i < index; ++i)
        if (CacheOf(kInfoTypes[i].kind) == CacheOf(kInfoTypes[index].kind))
            ++slot;
    return slot;
}

constexpr int CacheSize(Cache c) {
    int n = 0;
    for (const InfoType& t : kInfoTypes)
        if (CacheOf(t.kind) == c)
            ++n;
    return n;
}
static_assert(CacheSize(Cache::U16) <= CONN_INFO_U16, "16-bit answers fit the cache");
static_assert(CacheSize(Cache::I32) <= CONN_INFO_I32, "32-bit answers fit the cache");
static_assert(CacheSize(Cache::Text) <= CONN_INFO_TEXT, "text answers fit the cache");

// The type's index in kInfoTypes, or -1.
int FindInfoType(uint16_t type) {
    const InfoType* e = std::find_if(std::begin(kInfoTypes), std::end(kInfoTypes),
                                     [type](const InfoType& t) { return t.type == type; });
    return e == std::end(kInfoTypes) ? -1 : static_cast<int>(e - std::begin(kInfoTypes));
}

// ---- answer writers: the buffer and the length pointer each only when given ----

SQLRETURN PutSmall(const GetInfoArgs& a, uint16_t v) {
    if (a.value != nullptr)
        std::memcpy(a.value, &v, sizeof v);
    if (a.length != nullptr)
        *a.length = sizeof v;
    return SQL_SUCCESS;
}

SQLRETURN PutInt(const GetInfoArgs& a, uint32_t v) {
    if (a.value != nullptr)
        std::memcpy(a.value, &v, sizeof v);
    if (a.length != nullptr)
        *a.length = sizeof v;
    return SQL_SUCCESS;
}

// The handle types are SQLULEN: a 4-byte answer would leave half of the caller's value.
SQLRETURN PutHandle(const GetInfoArgs& a, uint32_t v) {
    SQLULEN wide = v;
    if (a.value != nullptr)
        std::memcpy(a.value, &wide, sizeof wide);
    if (a.length != nullptr)
        *a.length = sizeof wide;
    return SQL_SUCCESS;
}

// Text in the library's own code (UTF-8 in the Unicode library), UTF-16 for the wide
// entry; size and length in bytes.
SQLRETURN PutText(CONN* conn, const GetInfoArgs& a, std::string_view text) {
    if (a.value != nullptr && a.size < 0) {
        conn->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return SQL_ERROR;
    }
    return OutString(text, a.value, a.size, OutUnit::Bytes, a.width, a.length, &conn->diag);
}

// ---- conversions from the agent's conversion table ----

constexpr uint32_t kWideConversions = SQL_CVT_WCHAR | SQL_CVT_WLONGVARCHAR | SQL_CVT_WVARCHAR;

// The ODBC 2 number of a datetime type; any other type as it is.
int32_t Odbc2Type(int32_t sqlType) {
    switch (sqlType) {
    case SQL_TYPE_DATE: return SQL_DATE;
    case SQL_TYPE_TIME: return SQL_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
    default: return sqlType;
    }
}

// The SQL_CONVERT_* mask of a type when the agent does not answer it: binary, date, time
// and timestamp as far as the table converts them, the other types a fixed mask; the wide
// entry adds the wide character types to a type that converts at all.
uint32_t LocalConversions(const CONN* conn, uint16_t type, bool wide) {
    uint32_t mask;
    switch (type) {
    case SQL_CONVERT_BINARY: case SQL_CONVERT_VARBINARY: case SQL_CONVERT_LONGVARBINARY:
        mask = ConnTypeConvertible(conn, SQL_BINARY, 0xFFFFFFFF) ? 0x40F01 : 0;
        break;
    case SQL_CONVERT_DATE:
        mask = ConnTypeConvertible(conn, SQL_DATE, 0x200) ? 0x28301 : 0;
        break;
    case SQL_CONVERT_TIME:
        mask = ConnTypeConvertible(conn, SQL_TIME, 0x400) ? 0x30301 : 0;
        break;
    case SQL_CONVERT_TIMESTAMP:
        mask = ConnTypeConvertible(conn, SQL_TIMESTAMP, 0x800) ? 0x38301 : 0;
        break;
    default:
        mask = 0x73FF;
        break;
    }
    return mask != 0 && wide ? mask | kWideConversions : mask;
}

// ---- the agent's answers ----

// Asks the agent; on failure the code and the agent's messages go on the connection.
int AskAgent(CONN* conn, uint32_t code, void* buf, int32_t size, int32_t* length) {
    int rc = CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_GetProperty, conn->agentConn, code, buf, size, length);
    if (rc != 0) {
        ConnGetAgentErrors(conn, nullptr);
        conn->diag.errCode = rc;
    }
    return rc;
}

// The items the cursor library reads from the agent for its cursors
// (scs_AgentGetInfo): asked through it, so that both see the same answers.
bool IsCursorItem(uint16_t type) {
    switch (type) {
    case 8: case 26: case 28: case 43: case 44: case 72: case 78: case 79: case 80: case 82: case 83: case 85:
    case 92: case 93: case 99:
    case 11: case 17: case 29: case 47:
        return true;
    default:
        return false;
    }
}

// A cursor item through the cursor library; on failure the code and the agent's messages
// go on the connection, as AskAgent leaves them. A cut text is no failure.
int AskCursorItem(CONN* conn, uint16_t type, void* buf, int16_t size, int16_t* length) {
    int rc = scs_AgentGetInfo(&conn->holder, conn->agentConn, type, buf, size, length);
    if (rc == ERR_DATA_WAS_TRUNCATED)
        return 0;
    if (rc != 0) {
        ConnGetAgentErrors(conn, nullptr);
        conn->diag.errCode = rc;
    }
    return rc;
}

// An integer item from the agent (a 16-bit one when small).
int AgentInt(CONN* conn, uint16_t type, bool small, int32_t* out) {
    if (IsCursorItem(type)) {
        int16_t length = 0;
        if (!small)
            return AskCursorItem(conn, type, out, int16_t{sizeof *out}, &length);
        uint16_t v = 0;
        const int rc = AskCursorItem(conn, type, &v, int16_t{sizeof v}, &length);
        *out = v;
        return rc;
    }
    int32_t length = 0;
    return AskAgent(conn, oa_InfoIntCode(type), out, int32_t{sizeof *out}, &length);
}

// A cursor item's text, read whole (up to the 32766 bytes its 16-bit lengths allow).
int CursorItemText(CONN* conn, uint16_t type, std::string* out) {
    std::string buf(256, '\0');
    int16_t length = 0;
    int rc = AskCursorItem(conn, type, buf.data(), static_cast<int16_t>(buf.size()), &length);
    if (rc == 0 && length >= static_cast<int16_t>(buf.size())) {
        buf.assign(std::min<size_t>(static_cast<size_t>(length) + 1, INT16_MAX), '\0');
        rc = AskCursorItem(conn, type, buf.data(), static_cast<int16_t>(buf.size()), &length);
    }
    if (rc == 0)
        *out = buf.c_str();
    return rc;
}

// The agent's text for the type, read whole however long it is.
int AgentText(CONN* conn, uint16_t type, std::string* out) {
    if (IsCursorItem(type))
        return CursorItemText(conn, type, out);
    constexpr int32_t kFirstRead = 4096;
    std::string buf(kFirstRead, '\0');
    int32_t length = 0;
    int rc = AskAgent(conn, oa_InfoTextCode(type), buf.data(), kFirstRead, &length);
    if (rc == 0 && length >= kFirstRead && length < INT32_MAX) {
        buf.assign(static_cast<size_t>(length) + 1, '\0');
        rc = AskAgent(conn, oa_InfoTextCode(type), buf.data(), length + 1, &length);
    }
    if (rc == 0)
        *out = buf.c_str();
    return rc;
}

SQLRETURN AgentAnswer(CONN* conn, int index, const GetInfoArgs& a) {
    const InfoType& t = kInfoTypes[index];
    const int slot = SlotOf(static_cast<size_t>(index));
    switch (CacheOf(t.kind)) {
    case Cache::U16: {
        uint16_t& cached = conn->infoU16[slot];
        if (cached == 0xFFFF) {
            int32_t v = 0;
            if (AgentInt(conn, t.type, true, &v) != 0)
                return SQL_ERROR;
            cached = static_cast<uint16_t>(v);
        }
        return PutSmall(a, cached);
    }
    case Cache::I32: {
        int32_t& cached = conn->infoI32[slot];
        if (cached == -1) {
            int32_t v = 0;
            if (AgentInt(conn, t.type, false, &v) != 0)
                return SQL_ERROR;
            cached = v;
        }
        auto v = static_cast<uint32_t>(cached);
        return t.kind == InfoKind::Handle ? PutHandle(a, v) : PutInt(a, v);
    }
    case Cache::Text: {
        std::optional<std::string>& cached = conn->infoText[slot];
        if (!cached) {
            std::string text;
            if (AgentText(conn, t.type, &text) != 0)
                return SQL_ERROR;
            cached = std::move(text);
        }
        return PutText(conn, a, *cached);
    }
    case Cache::None:
        break;
    }
    std::string text;
    if (AgentText(conn, t.type, &text) != 0)
        return SQL_ERROR;
    return PutText(conn, a, text);
}

}  // namespace

bool ConnTypeConvertible(const CONN* conn, int32_t sqlType, uint32_t mask) {
    const CONN_TYPETABLE& tt = conn->typeTable;
    if (tt.valid == 0 || tt.table.rows == nullptr)
        return false;
    const int32_t wanted = Odbc2Type(sqlType);
    for (int32_t i = 0; i < tt.table.count; ++i) {
        const OA_CONVROW& row = tt.table.rows[i];
        if (Odbc2Type(row.sqlType) == wanted)
            return (static_cast<uint32_t>(row.mask) & mask) != 0;
    }
    return false;
}

SQLRETURN DoGetInfo(HANDLE_HDR* h, const GetInfoArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    const uint16_t type = a.type == kOjCapabilitiesOdbc2 ? kOjCapabilities : a.type;
    // Answered whether connected or not.
    switch (type) {
    case SQL_DATA_SOURCE_NAME:
        return PutText(conn, a, conn->dsn);
    case SQL_ODBC_API_CONFORMANCE:
        return PutSmall(a, SQL_OAC_LEVEL1);
    case SQL_DRIVER_ODBC_VER:
        return PutText(conn, a, "03.50");
    case SQL_DTC_TRANSITION_COST:
        return PutInt(a, SQL_DTC_ENLIST_EXPENSIVE | SQL_DTC_UNENLIST_EXPENSIVE);
    default:
        break;
    }
    const int index = FindInfoType(type);
    if (index >= 0 && kInfoTypes[index].kind == InfoKind::Convert && conn->agentConversions == 0)
        return PutInt(a, LocalConversions(conn, type, a.width == WIDTH_WIDE));
    if (conn->state != CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_NOT_OPEN;
        return SQL_ERROR;
    }
    if (index < 0) {
        conn->diag.errCode = ERR_INFORMATION_TYPE_OUT_OF_RANGE;
        return SQL_ERROR;
    }
    return AgentAnswer(conn, index, a);
}
