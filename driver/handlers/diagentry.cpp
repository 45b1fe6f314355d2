// SQLError, SQLGetDiagRec and SQLGetDiagField.
#include "driver/handlers/diagentry.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>

#include "driver/diag/diag.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "util/log.h"

namespace {

// The pending code alone is one record when no message is queued.
SQLSMALLINT RecordCount(const DIAG& diag) {
    size_t n = diag.messages.size();
    return static_cast<SQLSMALLINT>(n == 0 ? 1 : (n > 32767 ? 32767 : n));
}

// The state in the call's width: six bytes, or six UTF-16 units.
void PutState(void* out, const char* state, int width) {
    if (out == nullptr)
        return;
    if (width == WIDTH_WIDE) {
        auto* w = static_cast<SQLWCHAR*>(out);
        for (int i = 0; i < 6; ++i)
            w[i] = static_cast<unsigned char>(state[i]);
    } else {
        std::memcpy(out, state, 6);
    }
}

}  // namespace

SQLRETURN GetErrorRec(HANDLE_HDR* h, const DiagRecordOut& out, int mode) {
    if (h == nullptr)
        return SQL_INVALID_HANDLE;
    if (out.length != nullptr)
        *out.length = 0;
    if (out.bufLen < 0) {
        // Nothing is read, so nothing is lost; the state tells the caller why.
        char state[6] = "S1090";
        if (EnvrOdbcVersionOf(h) == 3)
            MapSqlState3(state);
        PutState(out.state, state, out.width);
        if (out.native != nullptr)
            *out.native = 0;
        return SQL_ERROR;
    }
    std::optional<DiagRecord> rec;
    try {
        rec = DiagTakeRecord(h->diag, EnvrOdbcVersionOf(h), mode);
    } catch (const std::bad_alloc&) {
        return SQL_ERROR;
    }
    const bool wide = out.width == WIDTH_WIDE;
    if (!rec) {
        WriteOutStr("", out.message, out.bufLen, OutUnit::Chars, wide, DriverTextCode());
        PutState(out.state, "00000", out.width);
        if (out.native != nullptr)
            *out.native = 0;
        LOG_MSG(LOG_DEBUG, "returning NO_DATA_FOUND");
        return SQL_NO_DATA;
    }
    OutStrResult written = WriteOutStr(rec->text, out.message, out.bufLen, OutUnit::Chars, wide, DriverTextCode());
    SQLRETURN rc = written.length < out.bufLen ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
    if (rc == SQL_SUCCESS_WITH_INFO)
        LOG_MSG(LOG_DEBUG, "returning SUCCESS_WITH_INFO");
    // The two kinds of record have always been logged with differently cased lines, and
    // trace readers search for them as they are.
    if (rec->queued)
        LOG_MSG(LOG_DEBUG, "Returning %s", rec->text.c_str());
    else
        LOG_MSG(LOG_DEBUG, "returning %s", rec->text.c_str());
    if (out.native != nullptr)
        *out.native = rec->native;
    PutState(out.state, rec->state, out.width);
    if (out.length != nullptr)
        *out.length = OutStrClamp<SQLSMALLINT>(written.length);
    return rc;
}

SQLRETURN GetErrorRec(ENVR* envr, CONN* conn, STMT* stmt, DESC* desc, SQLCHAR* state, SQLINTEGER* native,
                      SQLCHAR* message, SQLINTEGER bufLen, SQLSMALLINT* length, int mode) {
    HANDLE_HDR* h = stmt != nullptr   ? static_cast<HANDLE_HDR*>(stmt)
                    : conn != nullptr ? static_cast<HANDLE_HDR*>(conn)
                    : envr != nullptr ? static_cast<HANDLE_HDR*>(envr)
                                      : static_cast<HANDLE_HDR*>(desc);
    if (h == desc)
        mode = DIAG_MODE_RECORD;
    return GetErrorRec(h, DiagRecordOut{state, native, message, bufLen, length, WIDTH_NARROW}, mode);
}

SQLRETURN DoError(HANDLE_HDR* h, const ErrorArgs& a) {
    return GetErrorRec(h, DiagRecordOut{a.state, a.native, a.message, a.bufferLength, a.textLength, a.width},
                       DIAG_MODE_CONSUME);
}

SQLRETURN DoGetDiagRec(HANDLE_HDR* h, const GetDiagRecArgs& a) {
    if (a.recNumber <= 0)
        return SQL_ERROR;
    if (a.recNumber > RecordCount(h->diag)) {
        PutState(a.state, "00000", a.width);
        if (a.native != nullptr)
            *a.native = 0;
        WriteOutStr("", a.message, a.bufferLength, OutUnit::Chars, a.width == WIDTH_WIDE, DriverTextCode());
        if (a.textLength != nullptr)
            *a.textLength = 0;
        return SQL_NO_DATA;
    }
    if (a.bufferLength < 0)
        return SQL_ERROR;
    h->diag.recNumber = a.recNumber;
    return GetErrorRec(h, DiagRecordOut{a.state, a.native, a.message, a.bufferLength, a.textLength, a.width},
                       DIAG_MODE_RECORD);
}

namespace {

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

}  // namespace

// A diagnostic call reports its own faults by its result alone and posts no record: one
// posted here would replace the pending code, or be queued among the records, of the call
// whose diagnostics the application is reading. Hence SQL_ERROR with nothing written for
// an unknown identifier (what HY024 would say), a string field with a negative buffer
// length (HY090), and a record field asked of the header or of a negative record.
SQLRETURN DoGetDiagField(HANDLE_HDR* h, const GetDiagFieldArgs& a) {
    const auto recNumber = a.recNumber;
    const auto id = a.identifier;
    void* value = a.value;
    const auto bufLen = a.bufferLength;
    const STMT* stmt = h->kind == CALL_KIND_STMT ? static_cast<const STMT*>(h) : nullptr;
    auto text = [&](std::string_view s) {
        return OutString(s, value, bufLen, OutUnit::Bytes, a.width, a.stringLength, nullptr);
    };

    const DiagFieldKind* field = FindDiagField(id);
    if (field == nullptr || (field->text && bufLen < 0))
        return SQL_ERROR;

    if (!field->header) {
        if (recNumber <= 0)
            return SQL_ERROR;
        if (recNumber > RecordCount(h->diag))
            return SQL_NO_DATA;
        h->diag.recNumber = recNumber;
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        char message[kFieldMessageRoom + 1] = {};
        SQLSMALLINT msgLen = 0;
        SQLRETURN got = GetErrorRec(h, DiagRecordOut{state, &native, message, sizeof message, &msgLen, WIDTH_NARROW},
                                    DIAG_MODE_RECORD);
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
            return text(h->conn != nullptr ? h->conn->dsn : std::string());
        }
        case SQL_DIAG_ROW_NUMBER:
            if (stmt == nullptr)
                return SQL_ERROR;
            if (value != nullptr)
                *static_cast<SQLLEN*>(value) = SQL_ROW_NUMBER_UNKNOWN;
            return SQL_SUCCESS;
        case SQL_DIAG_COLUMN_NUMBER:
            if (stmt == nullptr)
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
            *static_cast<SQLINTEGER*>(value) = RecordCount(h->diag);
        return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT:
        if (stmt == nullptr)
            return SQL_ERROR;
        if (value != nullptr)
            *static_cast<SQLLEN*>(value) = stmt->rowCount;
        return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
        if (stmt == nullptr)
            return SQL_ERROR;
        return value == nullptr ? SQL_SUCCESS : text(stmt->isQuery ? "SELECT CURSOR" : "");
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
        if (stmt == nullptr)
            return SQL_ERROR;
        if (value != nullptr)
            *static_cast<SQLINTEGER*>(value) = stmt->isQuery ? SQL_DIAG_SELECT_CURSOR : 0;
        return SQL_SUCCESS;
    default:
        return SQL_ERROR;
    }
}

