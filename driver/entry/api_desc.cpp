// Entry points of descriptors.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
#include "driver/handlers/descfield.h"
#include "driver/handlers/descrec.h"

namespace {

constexpr int kDesc = CALL_KIND_DESC;

#define VARNO_GETDESCFIELD_FORMAT "RecNumber=%d FieldIdentifier=%d\nValuePtr=%lX BufferLength=%d StringLengthPtr=%lX"
#define VARNO_SETDESCFIELD_FORMAT "RecNumber=%d FieldIdentifier=%d\nValuePtr=%lX StringLength=%d"
#define VARNO_GETDESCREC_FORMAT                                                               \
    "RecNumber=%d\nName=%lX BufferLength=%d StringLengthPtr=%lX\nTypePtr=%lX SubTypePtr=%lX " \
    "LengthPtr=%lX\nPrecisionPtr=%lX ScalePtr=%lX NullablePtr=%lX"

constexpr auto kGetDescField = MakeCall<DoGetDescField>("GetDescField", VARNO_GETDESCFIELD_FORMAT, 1, kDesc);
constexpr auto kGetDescFieldW = MakeCall<DoGetDescField>("GetDescFieldW", VARNO_GETDESCFIELD_FORMAT, 1, kDesc);
constexpr auto kSetDescField = MakeCall<DoSetDescField>("SetDescField", VARNO_SETDESCFIELD_FORMAT, 1, kDesc);
constexpr auto kSetDescFieldW = MakeCall<DoSetDescField>("SetDescFieldW", VARNO_SETDESCFIELD_FORMAT, 1, kDesc);
constexpr auto kGetDescRec = MakeCall<DoGetDescRec>("GetDescRec", VARNO_GETDESCREC_FORMAT, 1, kDesc);
constexpr auto kGetDescRecW = MakeCall<DoGetDescRec>("GetDescRecW", VARNO_GETDESCREC_FORMAT, 1, kDesc);
constexpr auto kSetDescRec =
    MakeCall<DoSetDescRec>("SetDescRec",
                           "RecNumber=%d\nType=%d SubType=%d Length=%d Precision=%d Scale=%d\nDataPtr=%lX "
                           "StringLengthPtr=%lX IndicatorPtr=%lX",
                           1, kDesc);
constexpr auto kCopyDesc = MakeCall<DoCopyDesc>("CopyDesc", "TargetDescHandle=%lX", 1, kDesc);

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescField(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                               SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetDescField, h, GetDescFieldArgs{rec, field, value, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                                SQLINTEGER cbMax, SQLINTEGER* pcb) {
    return CallODBC(kGetDescFieldW, h, GetDescFieldArgs{rec, field, value, cbMax, pcb, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetDescField(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                               SQLINTEGER len) {
    return CallODBC(kSetDescField, h, SetDescFieldArgs{rec, field, value, len, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value,
                                                SQLINTEGER len) {
    return CallODBC(kSetDescFieldW, h, SetDescFieldArgs{rec, field, value, len, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescRec(SQLHDESC h, SQLSMALLINT rec, SQLCHAR* name, SQLSMALLINT cbMax,
                                             SQLSMALLINT* pcbName, SQLSMALLINT* type, SQLSMALLINT* subType,
                                             SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                                             SQLSMALLINT* nullable) {
    return CallODBC(kGetDescRec, h,
                    GetDescRecArgs{rec, name, cbMax, pcbName, type, subType, length, precision, scale, nullable,
                                   WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC h, SQLSMALLINT rec, SQLWCHAR* name, SQLSMALLINT cbMax,
                                              SQLSMALLINT* pcbName, SQLSMALLINT* type, SQLSMALLINT* subType,
                                              SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                                              SQLSMALLINT* nullable) {
    return CallODBC(kGetDescRecW, h,
                    GetDescRecArgs{rec, name, cbMax, pcbName, type, subType, length, precision, scale, nullable,
                                   WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetDescRec(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT type, SQLSMALLINT subType,
                                             SQLLEN length, SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data,
                                             SQLLEN* stringLength, SQLLEN* indicator) {
    return CallODBC(kSetDescRec, h,
                    SetDescRecArgs{rec, type, subType, length, precision, scale, data, stringLength, indicator});
}

VARNO_EXPORT SQLRETURN SQL_API SQLCopyDesc(SQLHDESC source, SQLHDESC target) {
    return CallODBC(kCopyDesc, source, CopyDescArgs{target});
}
