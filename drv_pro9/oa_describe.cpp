// Description copies, the parameter-description refinement and native SQL of the agent.
#include "drv_pro9/oa_describe.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_proc.h"
#include "drv_pro9/oa_sqltext.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

char* DupText(const char* s, bool* ok) {
    if (s == nullptr)
        return nullptr;
    auto* p = static_cast<char*>(uh_MemDup(s, std::strlen(s) + 1));
    if (p == nullptr)
        *ok = false;
    return p;
}

int CopyDescs(const OA_DESCARRAY& from, uint16_t* outCount, COLDESC** outDescs) {
    if (outCount != nullptr)
        *outCount = 0;
    if (outDescs != nullptr) {
        *outDescs = nullptr;
        COLDESC* copy = ds_ColDescAlloc(from.count);
        if (copy == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        bool ok = true;
        for (uint16_t i = 0; i < from.count; ++i) {
            copy[i] = from.items[i];
            copy[i].catalog = DupText(from.items[i].catalog, &ok);
            copy[i].schema = DupText(from.items[i].schema, &ok);
            copy[i].table = DupText(from.items[i].table, &ok);
            copy[i].label = DupText(from.items[i].label, &ok);
        }
        if (!ok) {
            ds_ColDescFree(copy, from.count);
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
        *outDescs = copy;
    }
    if (outCount != nullptr)
        *outCount = from.count;
    return 0;
}

// Entries the cursor library added after the statement's own (from index shared on).
void FreeAddedAttrs(std::vector<COLATTR>* entries, size_t shared) {
    for (size_t i = shared; i < entries->size(); ++i)
        ut_ColAttrFree(&(*entries)[i]);
    entries->resize(std::min(shared, entries->size()));
}

// The statement's attribute table as compaction takes it: grouped by attribute, each
// group's every-column entry (column 0) first. Texts are shared with the table.
std::vector<COLATTR> AttributeMajor(const OA_COLATTRS& table) {
    std::vector<COLATTR> out;
    if (table.reqs == nullptr)
        return out;
    const uint32_t columns = table.count / OA_COLATTR_PER_COLUMN;
    out.reserve(table.count);
    for (uint32_t a = 0; a < OA_COLATTR_PER_COLUMN; ++a) {
        for (uint32_t c = 0; c < columns; ++c) {
            const OA_COLATTRREQ& req = table.reqs[c * OA_COLATTR_PER_COLUMN + a];
            COLATTR e{};
            e.column = req.column;
            e.attribute = req.attribute;
            if (req.kind == OA_COLATTR_TEXT) {
                e.kind = COLATTR_TEXT;
                e.value.text = req.text;
            } else {
                e.kind = COLATTR_INT;
                e.value.i = static_cast<int32_t>(req.number);
            }
            out.push_back(e);
        }
    }
    return out;
}

// The SQL type and sizes that a probe column gives a parameter.
struct ProbedType {
    int32_t sqlType;
    uint32_t columnSize;
    int16_t decimalDigits;
    uint32_t displaySize;
};

// Moves the scratch statement's messages to the statement whose refinement failed.
void TakeErrors(OA_STMT* stmt, OA_ERRLIST& from) {
    if (stmt->errors.keep == 0)
        OA_ErrClear(&stmt->errors);
    while (OA_ERRREC* rec = from.head) {
        from.head = rec->next;
        rec->next = nullptr;
        OA_ErrAppend(&stmt->errors, rec);
    }
}

// Prepares each probe on a scratch statement and reads the types of the marked columns
// into types, one per parameter: by the columns' ordinals when the probes give them (a
// parameter no column describes stays unset), otherwise in order (no more than there are
// parameters).
int RunProbes(OA_STMT* stmt, const OA_PARAMPROBES& probes, std::vector<std::optional<ProbedType>>* types) {
    uint32_t scratch = 0;
    if (int rc = OA_AllocStmt(stmt->conn->handle, &scratch); rc != 0)
        return rc;
    const size_t wanted = stmt->params.count;
    types->assign(wanted, std::nullopt);
    size_t mapPos = 0;
    size_t next = 0;
    int rc = 0;
    for (const std::string& probe : probes.probes) {
        rc = OA_Prepare(scratch, probe.c_str());
        OA_STMT* s = oa_FindStmt(scratch);
        if (rc != 0) {
            TakeErrors(stmt, s->errors);
            break;
        }
        for (uint16_t c = 0; c < s->cols.count; ++c, ++mapPos) {
            const COLDESC& d = s->cols.items[c];
            ProbedType t{d.sqlType, d.columnSize, d.decimalDigits, d.displaySize};
            if (!probes.ordinals.empty()) {
                uint32_t ordinal = mapPos < probes.ordinals.size() ? probes.ordinals[mapPos] : 0;
                if (ordinal != 0 && ordinal <= wanted)
                    (*types)[ordinal - 1] = t;
                continue;
            }
            bool marked = probes.markerMap.empty() ||
                          (mapPos < probes.markerMap.size() && probes.markerMap[mapPos] == '?');
            if (marked && next < wanted)
                (*types)[next++] = t;
        }
    }
    OA_FreeStmt(scratch);
    return rc;
}

}  // namespace

int OA_DescribeCols(uint32_t handle, uint16_t* outCount, COLDESC** outDescs) {
    const OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CopyDescs(stmt->cols, outCount, outDescs);
}

int OA_DescribeParams(uint32_t handle, uint16_t* outCount, COLDESC** outDescs) {
    const OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CopyDescs(stmt->params, outCount, outDescs);
}

int OA_DescribeColsEx(uint32_t handle, uint16_t* outColCount, uint16_t* outAttrCount, COLDESC** outCols,
                      COLATTR** outAttrs) {
    const OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || outColCount == nullptr || outAttrCount == nullptr || outCols == nullptr ||
        outAttrs == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *outColCount = 0;
    *outAttrCount = 0;
    *outCols = nullptr;
    *outAttrs = nullptr;
    uint16_t count = 0;
    COLDESC* cols = nullptr;
    if (int rc = CopyDescs(stmt->cols, &count, &cols); rc != 0)
        return rc;
    // The cursor library completes the descriptions of a select list it rewrote; the
    // entries it adds are its own copies, freed here once compaction copied them.
    std::vector<COLATTR> entries = AttributeMajor(stmt->colAttrs);
    const size_t shared = entries.size();
    if (int rc = oa_Library.fixColAttribs(handle, count, cols, &entries); rc != 0) {
        FreeAddedAttrs(&entries, shared);
        ds_ColDescFree(cols, count);
        return rc;
    }
    int32_t kept = 0;
    COLATTR* attrs = nullptr;
    int rc = ut_ColAttrCompact(static_cast<int32_t>(entries.size()), entries.data(), &kept, &attrs, 2);
    FreeAddedAttrs(&entries, shared);
    if (rc == 0 && kept > UINT16_MAX) {
        for (int32_t i = 0; i < kept; ++i)
            ut_ColAttrFree(&attrs[i]);
        uh_Free(attrs);
        rc = ERR_GENERAL_ERROR;
    }
    if (rc != 0) {
        ds_ColDescFree(cols, count);
        return rc;
    }
    *outColCount = count;
    *outCols = cols;
    *outAttrCount = static_cast<uint16_t>(kept);
    *outAttrs = attrs;
    return 0;
}

int OA_DescribeParamsRefine(OA_STMT* stmt) {
    if ((stmt->flags & STMT_PARAMS_DESCRIBED) != 0)
        return 0;
    if ((stmt->flags & STMT_PREPARED) == 0) {
        LOG_MSG(LOG_WARNING, "execute without prior prepare");
        OA_ErrPost(&stmt->errors, ERR_FUNCTION_SEQUENCE_ERROR);
        return ERR_FUNCTION_SEQUENCE_ERROR;
    }
    if ((stmt->flags & STMT_EXECUTED) != 0) {
        LOG_MSG(LOG_WARNING, "Describe params work only before Execute");
        return 0;
    }
    OA_PARAMPROBES probes;
    if ((stmt->kind & SQLT_HAS_PARAMS) != 0 && stmt->params.count != 0 &&
        oa_Library.paramProber(OA_PARAMPROBE_TEMPLATE, stmt->request.translated, &probes) == 0 &&
        (!probes.ordinals.empty() || !probes.markerMap.empty() || probes.markers >= stmt->params.count)) {
        std::vector<std::optional<ProbedType>> types;
        if (int rc = RunProbes(stmt, probes, &types); rc != 0)
            return rc;
        // Applied only once every probe ran: a failure leaves the prepare's descriptions.
        for (size_t i = 0; i < types.size(); ++i) {
            if (!types[i])
                continue;
            COLDESC& d = stmt->params.items[i];
            d.sqlType = types[i]->sqlType;
            d.columnSize = types[i]->columnSize;
            d.decimalDigits = types[i]->decimalDigits;
            d.displaySize = types[i]->displaySize;
        }
    }
    stmt->flags = static_cast<uint16_t>(stmt->flags | STMT_PARAMS_DESCRIBED);
    return 0;
}

int OA_NativeSql(uint32_t handle, const char* text, char* buf, int32_t bufLen, int32_t* outLen) {
    if (outLen != nullptr)
        *outLen = 0;
    if (oa_FindConn(handle) == nullptr || text == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    OA_SQLTEXT rec;
    if (int rc = ut_SqlTextTranslate(nullptr, &rec, text); rc != 0)
        return rc;
    return oa_CopyOut(rec.translated, buf, bufLen, outLen) ? ERR_DATA_WAS_TRUNCATED : 0;
}
