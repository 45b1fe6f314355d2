// Agent properties: the answers of slot 0, the settings of slot 1, and the static
// information table.
#include "drv_pro9/oa_props.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_describe.h"
#include "util/errcode.h"

namespace {

// ---------------------------------------------------------------------------------------
// Answers

struct Answer {
    enum Kind { None, Number, Text } kind = None;
    int32_t number = 0;
    const char* text = nullptr;
};

Answer Num(int32_t value) {
    return {Answer::Number, value, nullptr};
}
Answer Txt(const char* text) {
    return {Answer::Text, 0, text};
}

int Write(const Answer& a, void* buf, int32_t bufLen, int32_t* outLen) {
    switch (a.kind) {
    case Answer::Text:
        oa_CopyOut(a.text, static_cast<char*>(buf), bufLen, outLen);   // cut is not an error
        return 0;
    case Answer::Number:
        if (buf != nullptr && bufLen < static_cast<int32_t>(sizeof a.number))
            return ERR_INVALID_ARGUMENT_VALUE;
        if (buf != nullptr)
            std::memcpy(buf, &a.number, sizeof a.number);
        if (outLen != nullptr)
            *outLen = sizeof a.number;
        return 0;
    case Answer::None:
        break;
    }
    return ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION;
}

// ---------------------------------------------------------------------------------------
// The static information table: the answers of information types that depend on nothing
// but the server. Types answered from the connection stand in ConnAnswer.

enum class InfoKind : uint8_t { Number, Text, DriverFile, DatabaseName };

struct InfoEntry {
    uint16_t item;
    InfoKind kind;
    int32_t number;
    const char* text;
};

constexpr InfoEntry N(uint16_t item, int32_t value) {
    return {item, InfoKind::Number, value, nullptr};
}
constexpr InfoEntry T(uint16_t item, const char* text) {
    return {item, InfoKind::Text, 0, text};
}

const InfoEntry kInfo[] = {
    N(0, 0), N(1, 0), T(2, " "), N(3, 0), N(4, 0), N(5, 0),
    {6, InfoKind::DriverFile, 0, nullptr},   // the shared library's file name
    T(7, "1.0"), N(8, 191), N(9, 1), T(10, "03.50.0000"), T(11, "N"), N(12, 1),
    T(13, "PROGRESS 11"), T(14, "\\"), N(15, 2),
    {16, InfoKind::DatabaseName, 0, nullptr},
    T(18, "11.01.0000 11"), T(19, "N"), T(20, "N"), T(21, "Y"), N(22, 0), N(23, 1), N(24, 1),
    T(27, "Y"), N(28, 4), T(29, "\""),
    N(30, 32), N(31, 32), N(32, 32), N(33, 32), N(34, 32), N(35, 32),
    T(36, "N"), T(37, "N"), T(38, "Y"), T(39, "Owner"), T(40, "Stored Procedure"), T(41, ""), T(42, ""),
    N(43, 11), T(45, "Table"), N(46, 2), N(48, 3),
    N(49, 0x7FFB7F), N(50, 0x57FFF), N(51, 7), N(52, 0x19FFF),
    N(53, 0), N(54, 0), N(55, 0), N(56, 0x3A1FD), N(57, 0x28101), N(58, 0),
    N(59, 0x21FD), N(60, 0x21FD), N(61, 0x21FD), N(62, 0), N(63, 0x21FD), N(64, 0x21FD), N(65, 0x21FD),
    N(66, 0x10101), N(67, 0x38101), N(68, 0x21FD), N(69, 0), N(70, 0x38101), N(71, 0),
    N(72, 15), T(73, "Y"), N(74, 2), N(75, 1), N(76, 0), T(77, "03.50"), N(78, 0), N(79, 31), N(80, 0),
    N(81, 15), N(82, 74), N(83, 0), N(84, 0), N(85, 0), N(86, 0), T(87, "Y"), N(88, 3), T(89, ""),
    T(90, "N"), N(91, 31), N(92, 0), N(93, 4), T(94, "-"), N(95, 31), N(96, 3),
    N(97, 0), N(98, 0), N(99, 0), N(100, 0), N(101, 500), N(102, 0), T(103, "N"), N(104, 0),
    N(105, 13100), N(106, 50), N(107, 33), N(108, 0), N(109, 0), N(110, 0), T(111, "Y"), N(112, 0),
    T(113, "Y"), N(114, 0), N(115, 51), N(116, 1), N(117, 0), N(118, 1), N(119, 0), N(120, 0),
    N(121, 0), N(123, 0), N(124, 0),
    N(127, 0), N(128, 0), N(129, 0), N(130, 0), N(131, 0), N(132, 0x3201), N(133, 0), N(134, 3),
    N(135, 0), N(136, 0), N(137, 0), N(138, 0), N(139, 0), N(140, 0), N(141, 1), N(142, 0), N(143, 1),
    N(144, 0x1E45), N(145, 0x60FB), N(146, 0x1E41), N(147, 0x5083), N(148, 3), N(149, 0),
    N(150, 0xF1E4F), N(151, 0x50EB), N(152, 1), N(153, 2), N(154, 1), N(155, 7), N(156, 0), N(157, 0),
    N(158, 0x1F70), N(159, 0), N(160, 0x3E07), N(161, 82), N(162, 0x7DF0), N(163, 1), N(164, 23),
    N(165, 15), N(166, 0), N(167, 0xF1E4F), N(168, 0x508B), N(169, 64), N(170, 3), N(172, 7),
    T(10000, ""), N(10001, 0), T(10002, "Y"), T(10003, "N"), T(10004, ""), N(10005, 32),
    // SQL_ASYNC_MODE: nothing runs asynchronously, so SQL_AM_NONE.
    N(10021, 0), N(10022, 0), N(65003, 51),
};

Answer InfoAnswer(const OA_CONN* conn, uint32_t code) {
    uint32_t item = oa_PropItem(code);
    const InfoEntry* e = std::find_if(std::begin(kInfo), std::end(kInfo),
                                      [item](const InfoEntry& x) { return x.item == item; });
    if (e == std::end(kInfo))
        return {};
    // A type is answered only in its own kind: a text never lands in a 4-byte integer.
    bool asText = oa_PropKind(code) == OA_PROP_KIND_TEXT;
    bool asNumber = oa_PropKind(code) == OA_PROP_KIND_INT;
    switch (e->kind) {
    case InfoKind::Number:
        return asNumber ? Num(e->number) : Answer{};
    case InfoKind::Text:
        return asText ? Txt(e->text) : Answer{};
    case InfoKind::DriverFile:
        return asText ? Txt(conn->driverFile.c_str()) : Answer{};
    case InfoKind::DatabaseName:
        return asText ? Txt(conn->database.c_str()) : Answer{};
    }
    return {};
}

// ---------------------------------------------------------------------------------------
// Connection level

// The isolation the connection starts with: the configured one, else the server's
// default, read committed.
constexpr uint32_t kServerDefaultIsolation = 2;

Answer ConnAnswer(OA_CONN* conn, uint32_t code) {
    switch (code) {
    case OA_PROP_NEEDBIND: case OA_PROP_HAS_PARAM_OP: case OA_PROP_HAS_SCROLL_CURSORS: case 0x22010007:
    case OA_PROP_HAS_V2_DAE: case OA_PROP_HAS_EXECUTE2:
        return Num(1);
    case OA_PROP_HAS_MORE_RESULTS: case OA_PROP_SP_OUT_DEFER_FETCH:
        return Num(0);
    case OA_PROP_DYN_MIX_CURSORS:
        conn->cursorLibrary = 1;
        return Num(1);
    case 0x22010009:
        return Num(30);
    case OA_PROP_DYNAMIC_SENSITIVE:
        return Num(conn->dynCursSensitivity == 1 ? 1 : 0);
    case OA_PROP_CAPABILITIES:
        conn->cursorLibrary = 1;
        return Num(OA_CAPABILITIES | (conn->autocommit != 0 ? static_cast<int32_t>(OA_CAP_AUTOCOMMIT) : 0));
    case OA_PROP_WIDE:
        return Num(conn->wide != 0 ? 1 : 0);
    case 0x2101000D:
        return Txt("");
    case OA_PROP_AUTOCOMMIT:
        return Num(conn->autocommit != 0 ? 1 : 0);
    case OA_PROP_ACCESS_MODE:
        return Num(conn->readOnly != 0 ? 1 : 0);
    case OA_PROP_TXN_ISOLATION:
        return Num(static_cast<int32_t>(conn->db != nullptr ? DB_GetIsolation(conn->db) : conn->defaultIsolation));
    case oa_InfoTextCode(17):   // SQL_DBMS_NAME
        return Txt(conn->sqlDbmsName != nullptr ? conn->sqlDbmsName.get() : "PROGRESS");
    case oa_InfoTextCode(25):   // SQL_DATA_SOURCE_READ_ONLY
        return Txt(conn->readOnlyAtConnect != 0 ? "Y" : "N");
    case oa_InfoTextCode(47):   // SQL_USER_NAME
        return Txt(conn->user.c_str());
    case oa_InfoIntCode(26):    // SQL_DEFAULT_TXN_ISOLATION
        return Num(static_cast<int32_t>(conn->defaultIsolation != 0 ? conn->defaultIsolation
                                                                    : kServerDefaultIsolation));
    case oa_InfoIntCode(44):    // SQL_SCROLL_OPTIONS
        return Num(conn->dynCursSensitivity == 2 ? 17 : 31);
    default:
        break;
    }
    if (oa_PropGroup(code) == OA_PROP_GROUP_INFO)
        return InfoAnswer(conn, code);
    return {};
}

int SetConnProperty(OA_CONN* conn, uint32_t code, const void* value) {
    switch (code) {
    case OA_PROP_CURRENT_CATALOG:
        // The server has one catalog: a name is accepted and changes nothing.
        return value != nullptr ? 0 : ERR_INVALID_ARGUMENT_VALUE;
    case OA_PROP_ODBC_VERSION:
    case OA_PROP_AUTOCOMMIT:
    case OA_PROP_ACCESS_MODE:
    case OA_PROP_TXN_ISOLATION:
        break;
    default:
        return ERR_DRIVER_NOT_CAPABLE;
    }
    if (value == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    switch (code) {
    case OA_PROP_ODBC_VERSION:
        conn->odbcVersion = v;
        return 0;
    case OA_PROP_AUTOCOMMIT:
        return OA_TransState(conn, v != 0 ? OA_TRANS_AUTOCOMMIT_ON : OA_TRANS_AUTOCOMMIT_OFF);
    case OA_PROP_ACCESS_MODE:
        conn->readOnly = v != 0 ? 1 : 0;
        return 0;
    default:   // OA_PROP_TXN_ISOLATION
        return conn->db != nullptr ? DB_SetIsolation(conn->db, static_cast<uint32_t>(v)) : ERR_GENERAL_ERROR;
    }
}

// ---------------------------------------------------------------------------------------
// Statement level

Answer StmtAnswer(const OA_STMT* s, uint32_t code) {
    const OA_CURSOROPTS& c = s->cursorOpts;
    switch (code) {
    // The answer is 32-bit: a larger count must not wrap to a small or negative one.
    case OA_PROP_ROW_COUNT: return Num(static_cast<int32_t>(std::clamp<int64_t>(s->rowCount, INT32_MIN, INT32_MAX)));
    case OA_PROP_STATEMENT_KIND:
        return Num(s->type == SQLT_KIND_SELECT ? OA_STMT_KIND_SELECT
                   : s->type == SQLT_KIND_DML  ? OA_STMT_KIND_DML
                                               : OA_STMT_KIND_OTHER);
    case OA_PROP_MAX_ROWS: return Num(s->maxRows);
    case OA_PROP_NOSCAN: return Num(s->noScan != 0 ? 1 : 0);
    case OA_PROP_MAX_LENGTH: return Num(s->maxLength);
    case OA_PROP_CURSOR_TYPE: return Num(c.cursorType);
    case OA_PROP_CONCURRENCY: return Num(c.concurrency);
    case OA_PROP_KEYSET_SIZE: return Num(c.keysetSize);
    case OA_PROP_ROWSET_SIZE: return Num(c.rowsetSize);
    case 0x3203000A: return Num(c.simulateCursor);
    case 0x3203000B: return Num(c.retrieveData);
    case 0x3203000C: return Num(c.useBookmarks);
    case 0x3203000D: case 0x3203000E: return Num(0);
    case OA_PROP_KEY_COLUMNS_INFO: return Num(c.keyColumnsInfo);
    case OA_PROP_ADD_KEY_COLUMNS: return Num(c.addKeyColumns);
    default: return {};
    }
}

// How a cursor type or concurrency that the server does not offer falls back to one it
// does: the information type whose mask lists what it offers, the value's bit in that
// mask, and the chain of substitutes. The next value is the one after the first
// occurrence of the current value, searched from where the previous step stopped.
constexpr int32_t kChainEnd = -999;

struct Fallback {
    uint32_t infoType;
    int32_t (*bit)(int32_t value);
    int32_t chain[5];
};

const Fallback kConcurrencyFallback = {
    43,   // SQL_SCROLL_CONCURRENCY
    [](int32_t v) -> int32_t { return v >= 1 && v <= 4 ? 1 << (v - 1) : 0; },
    {2, 3, 4, 3, kChainEnd},
};
const Fallback kCursorTypeFallback = {
    44,   // SQL_SCROLL_OPTIONS
    [](int32_t v) -> int32_t {
        switch (v) {
        case 0: return 0x1;
        case 1: return 0x2;
        case 2: return 0x4;
        case 3: return 0x10;
        default: return 0;
        }
    },
    {2, 1, 3, 1, kChainEnd},
};

// The value the mask allows, or kChainEnd when the chain runs out.
int32_t Allowed(const Fallback& f, int32_t mask, int32_t value) {
    size_t from = 0;
    while ((f.bit(value) & mask) == 0) {
        size_t i = from;
        while (f.chain[i] != kChainEnd && f.chain[i] != value)
            ++i;
        if (f.chain[i] == kChainEnd)
            return kChainEnd;
        value = f.chain[i + 1];
        from = i + 1;
        if (value == kChainEnd)
            return kChainEnd;
    }
    return value;
}

// Cursor type or concurrency: the nearest value the agent itself answers as offered.
int SetCursorKind(OA_STMT* s, const Fallback& f, int32_t wanted, int32_t& field) {
    int32_t value = wanted;
    Answer mask = ConnAnswer(s->conn, oa_InfoIntCode(f.infoType));
    if (mask.kind == Answer::Number) {
        value = Allowed(f, mask.number, wanted);
        if (value == kChainEnd)
            return ERR_DRIVER_NOT_CAPABLE;
    }
    // Dynamic cursors are the cursor library's; without it a keyset-driven one is closest.
    if (&f == &kCursorTypeFallback && value == 2 && s->conn->cursorLibrary == 0)
        value = 1;
    field = value;
    s->cursorOpts.setFlags |= &f == &kCursorTypeFallback ? OA_CURSOR_TYPE_SET : OA_CONCURRENCY_SET;
    return value != wanted ? ERR_OPTION_VALUE_CHANGED : 0;
}

int SetStmtProperty(OA_STMT* s, uint32_t code, const void* value) {
    switch (code) {
    case OA_PROP_MAX_ROWS: case OA_PROP_NOSCAN: case OA_PROP_MAX_LENGTH: case OA_PROP_CURSOR_TYPE:
    case OA_PROP_CONCURRENCY: case OA_PROP_KEYSET_SIZE: case OA_PROP_ROWSET_SIZE: case 0x3203000A:
    case 0x3203000B: case 0x3203000C: case OA_PROP_DESCRIBE_PARAMS: case OA_PROP_COMPARED_COLUMNS: case OA_PROP_KEY_COLUMNS_INFO:
    case OA_PROP_ADD_KEY_COLUMNS: case OA_PROP_SLICE_FOLLOWS: case OA_PROP_SLICE_SETS_BEFORE: case OA_PROP_SLICE_SETS_TOTAL:
        break;
    default:
        return ERR_DRIVER_NOT_CAPABLE;
    }
    if (value == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    OA_CURSOROPTS& c = s->cursorOpts;
    switch (code) {
    case OA_PROP_MAX_ROWS: {
        // The connection's limit caps every statement: no limit, or a larger one, is
        // replaced by it.
        int32_t limit = s->conn != nullptr ? s->conn->maxRows : 0;
        if (limit > 0 && (v == 0 || v > limit)) {
            s->maxRows = limit;
            return ERR_OPTION_VALUE_CHANGED;
        }
        s->maxRows = v;
        return 0;
    }
    case OA_PROP_NOSCAN:
        s->noScan = v != 0 ? 1 : 0;
        return 0;
    case OA_PROP_MAX_LENGTH:
        s->maxLength = v;
        return 0;
    case OA_PROP_CURSOR_TYPE:
        return SetCursorKind(s, kCursorTypeFallback, v, c.cursorType);
    case OA_PROP_CONCURRENCY:
        return SetCursorKind(s, kConcurrencyFallback, v, c.concurrency);
    case OA_PROP_KEYSET_SIZE:
        // Keysets are the cursor library's.
        if (s->conn->cursorLibrary == 0 && v != 0)
            return ERR_OPTION_VALUE_CHANGED;
        c.keysetSize = v > OA_KEYSET_SIZE_MAX ? OA_KEYSET_SIZE_MAX : v;
        c.setFlags |= OA_KEYSET_SIZE_SET;
        return c.keysetSize != v ? ERR_OPTION_VALUE_CHANGED : 0;
    case OA_PROP_ROWSET_SIZE:
        c.rowsetSize = v > OA_ROWSET_SIZE_MAX && s->conn->noRowsetSizeLimit == 0 ? OA_ROWSET_SIZE_MAX : v;
        c.setFlags |= OA_ROWSET_SIZE_SET;
        c.auxFlags &= static_cast<uint16_t>(~OA_CURSOR_AUX_ROWSET_BITS);
        return c.rowsetSize != v ? ERR_OPTION_VALUE_CHANGED : 0;
    case 0x3203000A:
        c.simulateCursor = v;
        return 0;
    case 0x3203000B:
        c.retrieveData = v;
        return 0;
    case 0x3203000C:
        c.useBookmarks = v;
        return 0;
    case OA_PROP_DESCRIBE_PARAMS:
        return v == 0 ? 0 : OA_DescribeParamsRefine(s);
    case OA_PROP_SLICE_FOLLOWS:
        s->sliceFollows = v != 0;
        return 0;
    case OA_PROP_SLICE_SETS_BEFORE:
    case OA_PROP_SLICE_SETS_TOTAL:
        if (v < 0)
            return ERR_INVALID_ARGUMENT_VALUE;
        (code == OA_PROP_SLICE_SETS_BEFORE ? s->sliceSetsBefore : s->sliceSetsTotal) = static_cast<uint32_t>(v);
        return 0;
    case OA_PROP_COMPARED_COLUMNS:
        if (v != 1 && v != 2)
            return ERR_INVALID_ARGUMENT_VALUE;
        c.comparedColumns = v;
        return 0;
    case OA_PROP_KEY_COLUMNS_INFO:
        c.keyColumnsInfo = v;
        return 0;
    default:   // OA_PROP_ADD_KEY_COLUMNS
        c.addKeyColumns = v;
        return 0;
    }
}

}  // namespace

int OA_GetProperty(uint32_t handle, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen) {
    Answer answer;
    switch (oa_PropLevel(code)) {
    case OA_PROP_LEVEL_SERVER:
        if (oa_FindServer(handle) == nullptr)
            return ERR_INVALID_ARGUMENT_VALUE;
        if (code == OA_PROP_SERVER_TYPE)
            answer = Txt("progress11");
        break;
    case OA_PROP_LEVEL_CONN: {
        OA_CONN* conn = oa_FindConn(handle);
        if (conn == nullptr)
            return ERR_INVALID_ARGUMENT_VALUE;
        answer = ConnAnswer(conn, code);
        break;
    }
    case OA_PROP_LEVEL_STMT: {
        const OA_STMT* stmt = oa_FindStmt(handle);
        if (stmt == nullptr)
            return ERR_INVALID_ARGUMENT_VALUE;
        answer = StmtAnswer(stmt, code);
        break;
    }
    default:
        break;
    }
    return Write(answer, buf, bufLen, outLen);
}

int OA_SetProperty(uint32_t handle, uint32_t code, const void* value) {
    switch (oa_PropLevel(code)) {
    case OA_PROP_LEVEL_SERVER:
        return oa_FindServer(handle) != nullptr ? ERR_DRIVER_NOT_CAPABLE : ERR_INVALID_ARGUMENT_VALUE;
    case OA_PROP_LEVEL_CONN: {
        OA_CONN* conn = oa_FindConn(handle);
        return conn != nullptr ? SetConnProperty(conn, code, value) : ERR_INVALID_ARGUMENT_VALUE;
    }
    case OA_PROP_LEVEL_STMT: {
        OA_STMT* stmt = oa_FindStmt(handle);
        return stmt != nullptr ? SetStmtProperty(stmt, code, value) : ERR_INVALID_ARGUMENT_VALUE;
    }
    default:
        return ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION;
    }
}

int32_t OA_SensitivityFromText(const char* text) {
    if (text == nullptr)
        return 0;
    switch (text[0]) {
    case 'D': case 'd': return 2;
    case 'H': case 'h': return 1;
    default: return 0;
    }
}

const char* OA_SensitivityName(int32_t value) {
    switch (value) {
    case 1: return "HIGH";
    case 2: return "DISABLED";
    default: return "LOW";
    }
}
