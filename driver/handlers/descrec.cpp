// Descriptor records and copies.
#include "driver/handlers/descrec.h"

#include <sqlext.h>

#include <cstring>
#include <string>

#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
#include "driver/handlers/descfield.h"
#include "driver/objects/desc.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "util/errcode.h"

namespace {

// A 16-bit field into its pointer (when given).
SQLRETURN Get16(DESC* desc, int record, int field, SQLSMALLINT* out) {
    SQLSMALLINT v = 0;
    SQLRETURN rc = DescGetField(desc, record, field, &v, sizeof v, nullptr, WIDTH_NARROW);
    if (rc == SQL_SUCCESS && out != nullptr)
        *out = v;
    return rc;
}

// A number read by DescGetField, from the bytes its length says it wrote.
SQLLEN Widen(const unsigned char (&raw)[8], SQLLEN length) {
    switch (length) {
    case 2: {
        int16_t v;
        std::memcpy(&v, raw, sizeof v);
        return v;
    }
    case 4: {
        int32_t v;
        std::memcpy(&v, raw, sizeof v);
        return v;
    }
    default: {
        SQLLEN v;
        std::memcpy(&v, raw, sizeof v);
        return v;
    }
    }
}

// The copy of one descriptor into another: every field read from the source and set on
// the target through the field cores.
class Copier {
public:
    Copier(DESC* source, DESC* target) : src_(source), dst_(target) {}

    // One numeric or pointer field; SQL_SUCCESS or the failing call's return.
    SQLRETURN Field(int record, int field) {
        unsigned char raw[8] = {};  // cleared before each read: a 2-byte answer leaves the rest 0
        SQLLEN length = 0;
        SQLRETURN rc = DescGetField(src_, record, field, raw, sizeof raw, &length, WIDTH_NARROW);
        if (!SQL_SUCCEEDED(rc))
            return ReadFailed(rc);
        const SQLLEN v = Widen(raw, length);
        // A named parameter keeps its name: only SQL_UNNAMED is set.
        if (field == SQL_DESC_UNNAMED && v != SQL_UNNAMED)
            return SQL_SUCCESS;
        return Set(record, field, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(v)), 0);
    }

    SQLRETURN Name(int record) {
        char name[1024] = {};
        SQLLEN length = 0;
        SQLRETURN rc = DescGetField(src_, record, SQL_DESC_NAME, name, sizeof name, &length, WIDTH_NARROW);
        if (!SQL_SUCCEEDED(rc))
            return ReadFailed(rc);
        return Set(record, SQL_DESC_NAME, name, SQL_NTS);
    }

private:
    SQLRETURN ReadFailed(SQLRETURN rc) {
        dst_->diag.errCode = src_->diag.errCode;
        return rc;
    }
    SQLRETURN Set(int record, int field, SQLPOINTER value, SQLLEN length) {
        SQLRETURN rc = DescSetField(dst_, record, field, value, length, WIDTH_NARROW);
        return rc == SQL_ERROR ? rc : SQL_SUCCESS;
    }

    DESC* src_;
    DESC* dst_;
};

SQLRETURN CopyFields(DESC* src, DESC* dst) {
    const bool appSrc = DescIsApplication(src);
    const bool appDst = DescIsApplication(dst);
    Copier c(src, dst);
    auto run = [](SQLRETURN rc) { return rc != SQL_SUCCESS; };
    if (appSrc && appDst && run(c.Field(0, SQL_DESC_ARRAY_SIZE)))
        return SQL_ERROR;
    if (run(c.Field(0, SQL_DESC_ARRAY_STATUS_PTR)))
        return SQL_ERROR;
    if (appSrc && appDst && (run(c.Field(0, SQL_DESC_BIND_OFFSET_PTR)) || run(c.Field(0, SQL_DESC_BIND_TYPE))))
        return SQL_ERROR;
    // The target takes the source's count, also 0: records it had beyond it go, unbound.
    if (run(c.Field(0, SQL_DESC_COUNT)))
        return SQL_ERROR;
    if (!appSrc && !appDst && run(c.Field(0, SQL_DESC_ROWS_PROCESSED_PTR)))
        return SQL_ERROR;

    const bool rowBoth = (src->type == DESC_ARD || src->type == DESC_IRD) && dst->type == DESC_ARD;
    const bool bookmarks =
        rowBoth && src->stmt != nullptr && dst->stmt != nullptr && src->stmt->cursor.useBookmarks != 0 &&
        dst->stmt->cursor.useBookmarks != 0;
    const bool ipdBoth = src->type == DESC_IPD && dst->type == DESC_IPD;
    for (int n = bookmarks ? 0 : 1; n <= DescRecCount(dst); ++n) {
        for (int field : {SQL_DESC_TYPE, SQL_DESC_CONCISE_TYPE, SQL_DESC_DATETIME_INTERVAL_CODE,
                          SQL_DESC_DATETIME_INTERVAL_PRECISION}) {
            if (run(c.Field(n, field)))
                return SQL_ERROR;
        }
        if (appSrc && appDst && run(c.Field(n, SQL_DESC_INDICATOR_PTR)))
            return SQL_ERROR;
        if (run(c.Field(n, SQL_DESC_LENGTH)))
            return SQL_ERROR;
        if (!appSrc && !appDst && run(c.Name(n)))
            return SQL_ERROR;
        if (run(c.Field(n, SQL_DESC_NUM_PREC_RADIX)) || run(c.Field(n, SQL_DESC_OCTET_LENGTH)))
            return SQL_ERROR;
        if (appSrc && appDst && run(c.Field(n, SQL_DESC_OCTET_LENGTH_PTR)))
            return SQL_ERROR;
        if (ipdBoth && run(c.Field(n, SQL_DESC_PARAMETER_TYPE)))
            return SQL_ERROR;
        if (run(c.Field(n, SQL_DESC_PRECISION)) || run(c.Field(n, SQL_DESC_SCALE)))
            return SQL_ERROR;
        if (ipdBoth && run(c.Field(n, SQL_DESC_UNNAMED)))
            return SQL_ERROR;
        // Last: binding checks the record the fields above made.
        if (appSrc && appDst && run(c.Field(n, SQL_DESC_DATA_PTR)))
            return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN DoGetDescRec(HANDLE_HDR* h, const GetDescRecArgs& a) {
    auto* desc = static_cast<DESC*>(h);
    SQLSMALLINT type = 0;
    SQLRETURN rc = Get16(desc, a.record, SQL_DESC_TYPE, &type);
    if (rc != SQL_SUCCESS)
        return rc;
    SQLSMALLINT code = 0;
    if (type == SQL_DATETIME || type == SQL_INTERVAL) {
        if ((rc = Get16(desc, a.record, SQL_DESC_DATETIME_INTERVAL_CODE, &code)) != SQL_SUCCESS)
            return rc;
    }
    if (a.type != nullptr)
        *a.type = type;
    if (a.subType != nullptr)
        *a.subType = code;
    SQLLEN length = 0;
    if ((rc = DescGetField(desc, a.record, SQL_DESC_OCTET_LENGTH, &length, sizeof length, nullptr, WIDTH_NARROW)) !=
        SQL_SUCCESS)
        return rc;
    if (a.length != nullptr)
        *a.length = length;
    if ((rc = Get16(desc, a.record, SQL_DESC_PRECISION, a.precision)) != SQL_SUCCESS ||
        (rc = Get16(desc, a.record, SQL_DESC_SCALE, a.scale)) != SQL_SUCCESS)
        return rc;
    // Application records have neither name nor nullability: those outputs stay untouched.
    if (DescIsApplication(desc))
        return SQL_SUCCESS;
    if ((rc = Get16(desc, a.record, SQL_DESC_NULLABLE, a.nullable)) != SQL_SUCCESS)
        return rc;
    // The wide entry counts characters; the field core counts the bytes of UTF-16.
    const bool wide = a.width == WIDTH_WIDE;
    const SQLLEN room = wide ? 2 * static_cast<SQLLEN>(a.bufferLength) : a.bufferLength;
    SQLLEN nameLength = 0;
    rc = DescGetField(desc, a.record, SQL_DESC_NAME, a.name, room, &nameLength, a.width);
    if (SQL_SUCCEEDED(rc) && a.nameLength != nullptr)
        *a.nameLength = OutStrClamp<SQLSMALLINT>(wide ? nameLength / 2 : nameLength);
    return rc;
}

SQLRETURN DoSetDescRec(HANDLE_HDR* h, const SetDescRecArgs& a) {
    auto* desc = static_cast<DESC*>(h);
    if (desc->type == DESC_IRD) {
        desc->diag.errCode = ERR_CANNOT_MODIFY_AN_IMPLEMENTATION_ROW_DESCRIPTOR;
        return SQL_ERROR;
    }
    auto set = [&](int field, SQLLEN v) {
        return DescSetField(desc, a.record, field, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(v)), 0,
                            WIDTH_NARROW);
    };
    auto setPtr = [&](int field, void* p) { return DescSetField(desc, a.record, field, p, 0, WIDTH_NARROW); };
    SQLRETURN rc = set(SQL_DESC_TYPE, a.type);
    if (rc == SQL_SUCCESS && (a.type == SQL_DATETIME || a.type == SQL_INTERVAL))
        rc = set(SQL_DESC_DATETIME_INTERVAL_CODE, a.subType);
    for (auto [field, v] : {std::pair<int, SQLLEN>{SQL_DESC_OCTET_LENGTH, a.length},
                            {SQL_DESC_PRECISION, a.precision},
                            {SQL_DESC_SCALE, a.scale}}) {
        if (rc == SQL_SUCCESS)
            rc = set(field, v);
    }
    // A null pointer is set too: it clears the one the record had.
    if (rc == SQL_SUCCESS && desc->type != DESC_IPD) {
        rc = setPtr(SQL_DESC_OCTET_LENGTH_PTR, a.stringLength);
        if (rc == SQL_SUCCESS)
            rc = setPtr(SQL_DESC_INDICATOR_PTR, a.indicator);
    }
    // Last, as ODBC asks: setting the data pointer checks the record the others made.
    if (rc == SQL_SUCCESS && desc->type != DESC_IPD)
        rc = setPtr(SQL_DESC_DATA_PTR, a.data);
    return rc;
}

SQLRETURN DoCopyDesc(HANDLE_HDR* h, const CopyDescArgs& a) {
    auto* src = static_cast<DESC*>(h);
    DESC* dst = nullptr;
    {
        HdlTableGuard guard(&Drv().descTable);
        auto* d = static_cast<DESC*>(static_cast<HANDLE_HDR*>(hdl_Lookup(&Drv().descTable, HandleId(a.target))));
        if (d == nullptr || d->magic.load() != DESC_MAGIC)
            return SQL_INVALID_HANDLE;
        dst = d;
    }
    // Only a descriptor of this call's connection is safe to change: the call holds it.
    if (dst->conn != src->conn) {
        src->diag.errCode = ERR_INVALID_ATTRIBUTE_VALUE;
        return SQL_ERROR;
    }
    TraceLog("Source Descriptor Type: %s", DescKindName(src));
    if (dst != src)
        ErrListFree(dst->diag);
    auto fail = [&](int code) {
        dst->diag.errCode = src->diag.errCode = code;
        return SQL_ERROR;
    };
    if (dst->type == DESC_IRD)
        return fail(ERR_CANNOT_MODIFY_AN_IMPLEMENTATION_ROW_DESCRIPTOR);
    if (src->type == DESC_IRD && src->stmt->state != STMT_STATE_PREPARED)
        return fail(ERR_FUNCTION_SEQUENCE_ERROR);
    if (dst == src)
        return SQL_SUCCESS;
    const SQLRETURN rc = CopyFields(src, dst);
    // The application may read the outcome on either handle.
    if (rc != SQL_SUCCESS)
        src->diag.errCode = dst->diag.errCode;
    return rc;
}
