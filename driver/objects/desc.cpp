// Descriptor records.
#include "driver/objects/desc.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "driver/frame/globals.h"
#include "driver/objects/param.h"
#include "util/errcode.h"

namespace {

void DescDestroy(HANDLE_HDR* h) {
    delete static_cast<DESC*>(h);
}

// SQL types whose column size is the descriptor record's LENGTH (characters, bytes, and
// the date and time types as SQLBindParameter stores them); the others' is its PRECISION.
bool SizeIsLength(int16_t sqlType) {
    switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP:
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
        return true;
    default:
        return false;
    }
}

}  // namespace

SQLULEN DescParamColumnSize(const DESCREC& ipd) {
    return SizeIsLength(ipd.conciseType) ? ipd.length : static_cast<SQLULEN>(ipd.precision);
}

int16_t DescParamDigits(const DESCREC& ipd) {
    switch (ipd.conciseType) {
    case SQL_NUMERIC: case SQL_DECIMAL:
        return ipd.scale;
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP:
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
        return ipd.precision;
    default:
        return 0;
    }
}

DESC* DescAlloc(int16_t type, int16_t allocKind, STMT* stmt, CONN* conn) {
    auto* desc = new (std::nothrow) DESC(conn, allocKind == DESC_ALLOC_AUTO ? stmt : nullptr);
    if (desc == nullptr) {
        HANDLE_HDR* owner = allocKind == DESC_ALLOC_AUTO ? static_cast<HANDLE_HDR*>(stmt) : conn;
        owner->diag.errCode = ERR_MEMORY_ALLOCATION_FAILURE;
        return nullptr;
    }
    desc->type = type;
    desc->allocKind = allocKind;
    switch (type) {
    case DESC_IRD: stmt->ird = desc; break;
    case DESC_ARD: stmt->implicitArd = stmt->ard = desc; break;
    case DESC_IPD: stmt->ipd = desc; break;
    case DESC_APD: stmt->implicitApd = stmt->apd = desc; break;
    default:
        desc->next = conn->descs;
        conn->descs = desc;
        break;
    }
    return desc;
}

void DescFree(DESC* desc) {
    if (desc->allocKind == DESC_ALLOC_USER) {
        // Statements of its connection that use it fall back to their implicit ones.
        for (STMT* s = desc->conn->stmts; s != nullptr; s = s->next) {
            if (s->ard == desc) {
                s->ard = s->implicitArd;
                StmtApplyARD(s, s->ard);
            }
            if (s->apd == desc) {
                s->apd = s->implicitApd;
                StmtApplyAPD(s, s->apd);
            }
        }
        for (DESC** p = &desc->conn->descs; *p != nullptr; p = &(*p)->next) {
            if (*p == desc) {
                *p = desc->next;
                break;
            }
        }
    }
    desc->recs.assign(1, DESCREC{});
    // The diagnostics stay until the memory goes, as a statement's do.
    desc->magic = FREED_MAGIC;
    if (desc->id != 0)
        hdl_Remove(&Drv().descTable, desc->id);
    // An implicit descriptor's memory goes with its statement's.
    if (desc->allocKind == DESC_ALLOC_USER)
        GateDefer(desc->gate, desc, DescDestroy);
}

void DescDelete(DESC* desc) {
    delete desc;
}

DESCREC* DescGetRec(DESC* desc, int n) {
    return n < 0 || n > DescRecCount(desc) ? nullptr : &desc->recs[static_cast<size_t>(n)];
}

int DescGrowRecs(DESC* desc, int n) {
    // The record count is a 16-bit signed field (SQL_DESC_COUNT).
    if (n > INT16_MAX)
        return ERR_INVALID_DESCRIPTOR_INDEX;
    while (DescRecCount(desc) < n) {
        DESCREC rec;
        DescRecDefaults(desc, &rec);
        desc->recs.push_back(std::move(rec));
    }
    return 0;
}

void DescTruncateRecs(DESC* desc, int n) {
    if (n >= 0 && n < DescRecCount(desc))
        desc->recs.resize(static_cast<size_t>(n) + 1);
}

void DescRecClear(DESCREC* rec) {
    rec->indicator = nullptr;
    rec->octetLengthPtr = nullptr;
    rec->data = nullptr;
    rec->name.clear();
}

void DescRecDefaults(const DESC* desc, DESCREC* rec) {
    switch (desc->type) {
    case DESC_ARD:
    case DESC_APD:
        rec->conciseType = rec->type = SQL_C_DEFAULT;
        rec->data = nullptr;
        rec->indicator = nullptr;
        rec->octetLengthPtr = nullptr;
        break;
    case DESC_IPD:
        rec->paramType = SQL_PARAM_INPUT;
        break;
    default:
        *rec = DESCREC{};
        break;
    }
}

int StmtApplyAPDRec(STMT* stmt, int n) {
    const DESCREC* a = DescGetRec(stmt->apd, n);
    if (a == nullptr || a->data == nullptr) {
        // Unbound: the statement forgets the parameter, so nothing reads the old buffer.
        if (PARAMREC* p = StmtGetParam(stmt, static_cast<uint16_t>(n)); p != nullptr && p->number != 0)
            *p = PARAMREC{};
        return 0;
    }
    if (int rc = DescGrowRecs(stmt->ipd, n); rc != 0)
        return rc;
    // Copies: binding writes the current APD's and the IPD's records, which these are.
    const DESCREC app = *a;
    const DESCREC imp = stmt->ipd->recs[static_cast<size_t>(n)];
    if (StmtBindParam(stmt, static_cast<uint16_t>(n), imp.paramType, app.conciseType, imp.conciseType,
                      DescParamColumnSize(imp), DescParamDigits(imp), app.data, app.octetLength, app.indicator,
                      app.octetLengthPtr) != SQL_SUCCESS)
        return stmt->diag.errCode;
    return 0;
}

int StmtApplyARDRec(STMT* stmt, int n) {
    const DESCREC* r = DescGetRec(stmt->ard, n);
    if (r == nullptr || r->data == nullptr) {
        StmtBindColRemove(stmt, static_cast<uint16_t>(n));
        return 0;
    }
    BINDCOL b;
    b.column = static_cast<uint16_t>(n);
    b.cType = r->conciseType;
    b.data = r->data;
    b.bufferLength = r->octetLength;
    b.indicator = r->indicator;
    b.octetLength = r->octetLengthPtr;
    return StmtBindColAdd(stmt, std::move(b));
}

int StmtApplyAPD(STMT* stmt, DESC* apd) {
    if (apd->arraySize == 0 || apd->arraySize > UINT32_MAX)
        return ERR_ROW_VALUE_OUT_OF_RANGE;
    stmt->paramSetSize = static_cast<uint32_t>(apd->arraySize);
    stmt->rowsProcessed = apd->rowsProcessed;
    DescGrowRecs(stmt->ipd, DescRecCount(apd));
    // The descriptor's bindings replace the statement's: what it does not bind is unbound.
    StmtResetParams(stmt);
    for (int n = 1; n <= DescRecCount(apd); ++n)
        if (int rc = StmtApplyAPDRec(stmt, n); rc != 0)
            return rc;
    return 0;
}

int StmtApplyARD(STMT* stmt, DESC* ard) {
    // The cursor record counts in 32 bits; no rowset that large can be bound. The agent
    // statement (the cursor library's rowsets) takes the size as the rowset-size option
    // gives it, and the size of the current rowset, which the next relative fetch counts
    // from, is kept as that option keeps it.
    auto size = static_cast<int32_t>(std::clamp<SQLULEN>(ard->arraySize, 1, INT32_MAX));
    SCS_CURSOR& cur = stmt->cursor;
    if (size != cur.rowsetSize) {
        const OA_OPTABLE* ops = stmt->conn->holder.ops;
        int rc = CallSlot(ops, &OA_OPTABLE::DRV_SetProperty, stmt->agentStmt, OA_PROP_ROWSET_SIZE,
                          static_cast<const void*>(&size));
        if (rc == ERR_OPTION_VALUE_CHANGED) {
            int32_t len = 0;
            rc = CallSlot(ops, &OA_OPTABLE::DRV_GetProperty, stmt->agentStmt, OA_PROP_ROWSET_SIZE,
                          static_cast<void*>(&size), int32_t{sizeof size}, &len);
        }
        if (rc != 0)
            return rc;
        if ((cur.flags & SCS_ROWSET_SIZE_CHANGED) == 0)
            cur.lastFetchRowsetSize = cur.rowsetSize;
        cur.flags |= SCS_ROWSET_SIZE_CHANGED;
        cur.rowsetSize = size;
    }
    stmt->bindType = ard->bindType;
    // The descriptor's bindings replace the statement's: what it does not bind is unbound.
    stmt->boundCols.clear();
    for (int n = 0; n <= DescRecCount(ard); ++n)
        StmtApplyARDRec(stmt, n);
    return 0;
}
