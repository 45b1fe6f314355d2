// SQLGetDiagRec and SQLGetDiagField.
#include "driver/handlers/diagentry.h"

#include <sqlext.h>

#include <cstring>
#include <string>

#include "driver/diag/diag.h"
#include "driver/diag/outstr.h"
#include "driver/objects/handles.h"

namespace {

// The one handle a diagnostic call reads, with its kind.
struct DiagTarget {
    ENVR* envr = nullptr;
    CONN* conn = nullptr;
    STMT* stmt = nullptr;
    DESC* desc = nullptr;
    DIAG* diag = nullptr;

    static DiagTarget Of(int kind, void* object) {
        DiagTarget t;
        switch (kind) {
        case CALL_KIND_ENV: t.envr = static_cast<ENVR*>(object); t.diag = &t.envr->diag; break;
        case CALL_KIND_DBC: t.conn = static_cast<CONN*>(object); t.diag = &t.conn->diag; break;
        case CALL_KIND_STMT: t.stmt = static_cast<STMT*>(object); t.diag = &t.stmt->diag; break;
        case CALL_KIND_DESC: t.desc = static_cast<DESC*>(object); t.diag = &t.desc->diag; break;
        default: break;
        }
        return t;
    }

    // The pending code alone is one record when no message is queued.
    SQLSMALLINT RecordCount() const {
        size_t n = diag->messages.size();
        return static_cast<SQLSMALLINT>(n == 0 ? 1 : (n > 32767 ? 32767 : n));
    }

    // The connection whose data source names the record's origin, if any.
    const CONN* Connection() const {
        if (conn != nullptr)
            return conn;
        if (stmt != nullptr)
            return stmt->conn;
        if (desc != nullptr)
            return DescConn(desc);
        return nullptr;
    }
};

SQLRETURN GetDiagRec(int kind, void* object, const CallArgs& a) {
    DiagTarget t = DiagTarget::Of(kind, object);
    auto recNumber = a.get<SQLSMALLINT>(0);
    auto* state = a.get<SQLCHAR*>(1);
    auto* native = a.get<SQLINTEGER*>(2);
    auto* message = a.get<SQLCHAR*>(3);
    auto bufLen = a.get<SQLSMALLINT>(4);
    auto* length = a.get<SQLSMALLINT*>(5);
    if (recNumber <= 0)
        return SQL_ERROR;
    if (recNumber > t.RecordCount()) {
        if (state != nullptr)
            std::memcpy(state, "00000", 6);
        if (native != nullptr)
            *native = 0;
        if (message != nullptr && bufLen > 0)
            message[0] = '\0';
        if (length != nullptr)
            *length = 0;
        return SQL_NO_DATA;
    }
    if (bufLen < 0)
        return SQL_ERROR;
    t.diag->recNumber = recNumber;
    return GetErrorRec(t.envr, t.conn, t.stmt, t.desc, state, native, message, bufLen, length, DIAG_MODE_RECORD);
}

// Room for a record's message when a field of it is asked for.
constexpr SQLINTEGER kFieldMessageRoom = 511;

// The fields SQLGetDiagField knows: of the header (the record number is then ignored) or
// of a record, and whether the answer is text.
struct DiagFieldKind {
    SQLSMALLINT id;
    bool header;
    bool text;
};

constexpr DiagFieldKind kDiagFields[] = {
    {SQL_DIAG_RETURNCODE, true, false},
    {SQL_DIAG_NUMBER, true, false},
    {SQL_DIAG_ROW_COUNT, true, false},
    {SQL_DIAG_CURSOR_ROW_COUNT, true, false},
    {SQL_DIAG_DYNAMIC_FUNCTION, true, true},
    {SQL_DIAG_DYNAMIC_FUNCTION_CODE, true, false},
    {SQL_DIAG_SQLSTATE, false, true},
    {SQL_DIAG_NATIVE, false, false},
    {SQL_DIAG_MESSAGE_TEXT, false, true},
    {SQL_DIAG_CLASS_ORIGIN, false, true},
    {SQL_DIAG_SUBCLASS_ORIGIN, false, true},
    {SQL_DIAG_CONNECTION_NAME, false, true},
    {SQL_DIAG_SERVER_NAME, false, true},
    {SQL_DIAG_ROW_NUMBER, false, false},
    {SQL_DIAG_COLUMN_NUMBER, false, false},
};

const DiagFieldKind* FindDiagField(SQLSMALLINT id) {
    for (const DiagFieldKind& f : kDiagFields)
        if (f.id == id)
            return &f;
    return nullptr;
}

// A diagnostic call reports its own faults by its result alone and posts no record: one
// posted here would replace the pending code, or be queued among the records, of the call
// whose diagnostics the application is reading. Hence SQL_ERROR with nothing written for
// an unknown identifier (what HY024 would say), a string field with a negative buffer
// length (HY090), and a record field asked of the header or of a negative record.
SQLRETURN GetDiagField(int kind, void* object, const CallArgs& a) {
    DiagTarget t = DiagTarget::Of(kind, object);
    if (t.diag == nullptr)
        return SQL_INVALID_HANDLE;
    auto recNumber = a.get<SQLSMALLINT>(0);
    auto id = a.get<SQLSMALLINT>(1);
    auto* value = a.get<SQLPOINTER>(2);
    auto bufLen = a.get<SQLSMALLINT>(3);
    auto* length = a.get<SQLSMALLINT*>(4);
    int width = a.get<int>(5);
    auto text = [&](std::string_view s) {
        return OutString(s, value, bufLen, OutUnit::Bytes, width, length, nullptr);
    };

    const DiagFieldKind* field = FindDiagField(id);
    if (field == nullptr || (field->text && bufLen < 0))
        return SQL_ERROR;

    if (!field->header) {
        if (recNumber <= 0)
            return SQL_ERROR;
        if (recNumber > t.RecordCount())
            return SQL_NO_DATA;
        t.diag->recNumber = recNumber;
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        char message[kFieldMessageRoom + 1] = {};
        SQLSMALLINT msgLen = 0;
        SQLRETURN got = GetErrorRec(t.envr, t.conn, t.stmt, t.desc, state, &native,
                                    reinterpret_cast<SQLCHAR*>(message), sizeof message, &msgLen, DIAG_MODE_RECORD);
        bool found = got == SQL_SUCCESS || got == SQL_SUCCESS_WITH_INFO;
        switch (id) {
        case SQL_DIAG_SQLSTATE:
            return text(found ? reinterpret_cast<const char*>(state) : "00000");
        case SQL_DIAG_NATIVE:
            if (value != nullptr)
                *static_cast<SQLINTEGER*>(value) = native;
            return SQL_SUCCESS;
        case SQL_DIAG_MESSAGE_TEXT:
            return found ? text(message) : SQL_NO_DATA;
        case SQL_DIAG_CLASS_ORIGIN:
        case SQL_DIAG_SUBCLASS_ORIGIN:
            if (!found)
                return SQL_NO_DATA;
            return text(std::strncmp(reinterpret_cast<const char*>(state), "IM", 2) == 0 ? "ODBC 3.0" : "ISO 9075");
        case SQL_DIAG_CONNECTION_NAME:
        case SQL_DIAG_SERVER_NAME: {
            const CONN* c = t.Connection();
            return text(c != nullptr ? c->dsn : std::string());
        }
        case SQL_DIAG_ROW_NUMBER:
            if (t.stmt == nullptr)
                return SQL_ERROR;
            if (value != nullptr)
                *static_cast<SQLLEN*>(value) = SQL_ROW_NUMBER_UNKNOWN;
            return SQL_SUCCESS;
        case SQL_DIAG_COLUMN_NUMBER:
            if (t.stmt == nullptr)
                return SQL_ERROR;
            if (value != nullptr)
                *static_cast<SQLINTEGER*>(value) = SQL_COLUMN_NUMBER_UNKNOWN;
            return SQL_SUCCESS;
        default:
            return SQL_ERROR;
        }
    }

    switch (id) {
    case SQL_DIAG_RETURNCODE:
        return SQL_SUCCESS;
    case SQL_DIAG_NUMBER:
        if (value != nullptr)
            *static_cast<SQLINTEGER*>(value) = t.RecordCount();
        return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT:
        if (t.stmt == nullptr)
            return SQL_ERROR;
        if (value != nullptr)
            *static_cast<SQLLEN*>(value) = t.stmt->rowCount;
        return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
        if (t.stmt == nullptr)
            return SQL_ERROR;
        return value == nullptr ? SQL_SUCCESS : text(t.stmt->isQuery ? "SELECT CURSOR" : "");
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
        if (t.stmt == nullptr)
            return SQL_ERROR;
        if (value != nullptr)
            *static_cast<SQLINTEGER*>(value) = t.stmt->isQuery ? SQL_DIAG_SELECT_CURSOR : 0;
        return SQL_SUCCESS;
    default:
        return SQL_ERROR;
    }
}

}  // namespace

SQLRETURN DoGetDiagRecEnv(void* o, const CallArgs& a) { return GetDiagRec(CALL_KIND_ENV, o, a); }
SQLRETURN DoGetDiagRecConn(void* o, const CallArgs& a) { return GetDiagRec(CALL_KIND_DBC, o, a); }
SQLRETURN DoGetDiagRecStmt(void* o, const CallArgs& a) { return GetDiagRec(CALL_KIND_STMT, o, a); }
SQLRETURN DoGetDiagRecDesc(void* o, const CallArgs& a) { return GetDiagRec(CALL_KIND_DESC, o, a); }
SQLRETURN DoGetDiagFieldEnv(void* o, const CallArgs& a) { return GetDiagField(CALL_KIND_ENV, o, a); }
SQLRETURN DoGetDiagFieldConn(void* o, const CallArgs& a) { return GetDiagField(CALL_KIND_DBC, o, a); }
SQLRETURN DoGetDiagFieldStmt(void* o, const CallArgs& a) { return GetDiagField(CALL_KIND_STMT, o, a); }
SQLRETURN DoGetDiagFieldDesc(void* o, const CallArgs& a) { return GetDiagField(CALL_KIND_DESC, o, a); }
