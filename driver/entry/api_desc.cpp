// Entry points of descriptors.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
#include "driver/handlers/pending.h"

namespace {

constexpr int kDesc = CALL_KIND_DESC;
constexpr auto Pending = DoNotCapable<kDesc>;

#define VARNO_GETDESCFIELD_FORMAT "RecNumber=%d FieldIdentifier=%d\nValuePtr=%lX BufferLength=%d StringLengthPtr=%lX"
#define VARNO_SETDESCFIELD_FORMAT "RecNumber=%d FieldIdentifier=%d\nValuePtr=%lX StringLength=%d"
#define VARNO_GETDESCREC_FORMAT                                                          \
    "RecNumber=%d\nName=%lX BufferLength=%d StringLengthPtr=%lX\nTypePtr=%lX SubTypePtr=%lX " \
    "LengthPtr=%lX\nPrecisionPtr=%lX ScalePtr=%lX NullablePtr=%lX"

const CALLREC kGetDescField{"GetDescField", VARNO_GETDESCFIELD_FORMAT, 1, kDesc, Pending};
const CALLREC kGetDescFieldW{"GetDescFieldW", VARNO_GETDESCFIELD_FORMAT, 1, kDesc, Pending};
const CALLREC kSetDescField{"SetDescField", VARNO_SETDESCFIELD_FORMAT, 1, kDesc, Pending};
const CALLREC kSetDescFieldW{"SetDescFieldW", VARNO_SETDESCFIELD_FORMAT, 1, kDesc, Pending};
const CALLREC kGetDescRec{"GetDescRec", VARNO_GETDESCREC_FORMAT, 1, kDesc, Pending};
const CALLREC kGetDescRecW{"GetDescRecW", VARNO_GETDESCREC_FORMAT, 1, kDesc, Pending};
const CALLREC kSetDescRec{"SetDescRec",
                          "RecNumber=%d\nType=%d SubType=%d Length=%d Precision=%d Scale=%d\nDataPtr=%lX "
                          "StringLengthPtr=%lX IndicatorPtr=%lX",
                          1, kDesc, Pending};
const CALLREC kCopyDesc{"CopyDesc", "TargetDescHandle=%lX", 1, kDesc, Pending};

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescField(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                               SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetDescField, h, rec, field, value, cbMax, pcb, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                                SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetDescFieldW, h, rec, field, value, cbMax, pcb, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetDescField(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                               SQLINTEGER len) {
    return CallODBC(kSetDescField, h, rec, field, value, len, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                                SQLINTEGER len) {
    return CallODBC(kSetDescFieldW, h, rec, field, value, len, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescRec(SQLHDESC h, SQLSMALLINT rec, SQLCHAR* name, SQLSMALLINT cbMax,
                                             SQLSMALLINT* pcbName, SQLSMALLINT* type, SQLSMALLINT* subType,
                                             SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                                             SQLSMALLINT* nullable) {
    return CallODBC(kGetDescRec, h, rec, name, cbMax, pcbName, type, subType, length, precision, scale, nullable,
                    WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC h, SQLSMALLINT rec, SQLWCHAR* name, SQLSMALLINT cbMax,
                                              SQLSMALLINT* pcbName, SQLSMALLINT* type, SQLSMALLINT* subType,
                                              SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                                              SQLSMALLINT* nullable) {
    return CallODBC(kGetDescRecW, h, rec, name, cbMax, pcbName, type, subType, length, precision, scale, nullable,
                    WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetDescRec(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT type, SQLSMALLINT subType,
                                             SQLLEN length, SQLSMALLINT precision, SQLSMALLINT scale,
                                             SQLPOINTER data, SQLLEN* stringLength, SQLLEN* indicator) {
    return CallODBC(kSetDescRec, h, rec, type, subType, length, precision, scale, data, stringLength, indicator);
}

VARNO_EXPORT SQLRETURN SQL_API SQLCopyDesc(SQLHDESC source, SQLHDESC target) {
    return CallODBC(kCopyDesc, source, target);
}
