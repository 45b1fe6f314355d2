// Descriptor records: the four implicit descriptors of a statement and the explicit ones
// an application allocates on a connection, their records (record 0 is the bookmark
// record and always exists), their defaults, and the carrying of an application
// descriptor's records into the statement's own bindings.
//
// A statement owns its implicit descriptors; a connection owns its explicit ones
// (CONN::descs). As for statements, a freed descriptor is unregistered and marked inside
// the call and its memory goes when the claim ends.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "driver/objects/stmt.h"

// Descriptor types.
constexpr int16_t DESC_USER = 0;
constexpr int16_t DESC_IRD = 1;
constexpr int16_t DESC_ARD = 2;
constexpr int16_t DESC_IPD = 3;
constexpr int16_t DESC_APD = 4;

// How a descriptor came to be.
constexpr int16_t DESC_ALLOC_AUTO = 1;  // with its statement
constexpr int16_t DESC_ALLOC_USER = 2;  // by the application, on a connection

struct DESCREC {
    int16_t conciseType = 0;
    void* data = nullptr;  // null: the record binds nothing
    SQLLEN* indicator = nullptr;
    SQLULEN length = 0;
    std::string name;
    SQLLEN octetLength = 0;
    SQLLEN* octetLengthPtr = nullptr;
    int16_t paramType = 0;
    int16_t precision = 0;
    int16_t scale = 0;
    int16_t type = 0;  // verbose type
    int16_t intervalCode = 0;       // SQL_DESC_DATETIME_INTERVAL_CODE
    int32_t intervalPrecision = 0;  // SQL_DESC_DATETIME_INTERVAL_PRECISION
    int32_t radix = 0;              // SQL_DESC_NUM_PREC_RADIX as set; 0 answers by type
};

struct DESC : HANDLE_HDR {
    // An explicit descriptor belongs to its connection; an implicit one to its statement,
    // whose connection it runs on.
    DESC(CONN* owner, STMT* implicitOwner) : HANDLE_HDR(CALL_KIND_DESC), stmt(implicitOwner) {
        conn = implicitOwner != nullptr ? implicitOwner->conn : owner;
        gate = conn != nullptr ? &conn->callGate : nullptr;
    }
    STMT* stmt = nullptr;   // owning statement of an implicit descriptor
    DESC* next = nullptr;   // next explicit descriptor of the connection
    int16_t type = DESC_USER;
    int16_t allocKind = DESC_ALLOC_USER;
    SQLULEN arraySize = 1;
    SQLUSMALLINT* arrayStatus = nullptr;
    SQLLEN* bindOffset = nullptr;
    int32_t bindType = 0;
    SQLULEN* rowsProcessed = nullptr;
    std::vector<DESCREC> recs = std::vector<DESCREC>(1);  // record 0, then 1 to count
};

// A new descriptor. Implicit (kind DESC_ALLOC_AUTO, on stmt) ARD, APD, IRD or IPD becomes
// the statement's (the application ones also current); an explicit one (DESC_USER on
// conn) joins the connection's list. Null with 16 on the owner. The caller registers it.
DESC* DescAlloc(int16_t type, int16_t allocKind, STMT* stmt, CONN* conn);

// Frees the descriptor: a statement using an explicit one as current ARD or APD gets its
// implicit one back (its bindings with it); unregistered and marked freed, its memory
// goes when the call's claim ends (or with its statement, for an implicit one).
void DescFree(DESC* desc);

// Releases an implicit descriptor's memory with its statement's. Handle lock held.
void DescDelete(DESC* desc);

// Queues a message on the descriptor's diagnostics; takes the oldest one off.
inline void DescAddError(DESC* desc, std::string_view text, int32_t native) {
    ErrListAdd(desc->diag, text, native);
}
inline std::optional<ERRMSG> DescNextError(DESC* desc) {
    return ErrListPop(desc->diag);
}

// The verbose type of a concise one: the date and time codes share SQL_DATETIME, the
// interval codes SQL_INTERVAL.
inline int16_t DescVerboseType(int16_t concise) {
    if ((concise >= SQL_TYPE_DATE && concise <= SQL_TYPE_TIMESTAMP) || (concise >= SQL_DATE && concise <= SQL_TIMESTAMP))
        return SQL_DATETIME;
    if (concise >= SQL_INTERVAL_YEAR && concise <= SQL_INTERVAL_MINUTE_TO_SECOND)
        return SQL_INTERVAL;
    return concise;
}

// Whether the descriptor describes the application's buffers (ARD, APD or explicit).
inline bool DescIsApplication(const DESC* d) {
    return d->type == DESC_ARD || d->type == DESC_APD || d->type == DESC_USER;
}
// The kind's name in trace lines: "USER", "IRD", "ARD", "IPD", "APD".
inline const char* DescKindName(const DESC* d) {
    switch (d->type) {
    case DESC_USER: return "USER";
    case DESC_IRD: return "IRD";
    case DESC_ARD: return "ARD";
    case DESC_IPD: return "IPD";
    case DESC_APD: return "APD";
    default: return "UNKNOWN_DESC";
    }
}

// Records after record 0.
inline int DescRecCount(const DESC* desc) {
    return static_cast<int>(desc->recs.size()) - 1;
}
// Record n (0 the bookmark record), or null.
DESCREC* DescGetRec(DESC* desc, int n);
// Appends records with their defaults until there are n. 0, or 100 (07009) for n above
// 32767, the largest record count.
int DescGrowRecs(DESC* desc, int n);
// Frees every record after record n (record 0 always stays).
void DescTruncateRecs(DESC* desc, int n);
// Clears the pointers and the name of a record.
void DescRecClear(DESCREC* rec);
// The defaults of a new record of the descriptor's type.
void DescRecDefaults(const DESC* desc, DESCREC* rec);

// Make the statement's parameter or column bindings exactly those of the application
// descriptor: what it does not bind is unbound. 0 or an internal code.
int StmtApplyAPD(STMT* stmt, DESC* apd);
int StmtApplyARD(STMT* stmt, DESC* ard);

// One record of the current ARD or APD carried into the statement: column or parameter n
// is bound from the record when its data pointer is set (a parameter with the IPD's
// record n for its SQL side), else unbound. 0 or an internal code (the binding's).
int StmtApplyARDRec(STMT* stmt, int n);
int StmtApplyAPDRec(STMT* stmt, int n);

// The column size and decimal digits of a parameter as its IPD record keeps them: the
// LENGTH of character, binary and date/time types, else the PRECISION; the SCALE of exact
// numbers, the fraction digits (PRECISION) of times and timestamps.
SQLULEN DescParamColumnSize(const DESCREC& ipd);
int16_t DescParamDigits(const DESCREC& ipd);
