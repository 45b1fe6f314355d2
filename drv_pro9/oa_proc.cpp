// Procedure calls, the column-attribute table and the statement accessors.
#include "drv_pro9/oa_proc.h"

#include <cstdlib>
#include <cstring>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

void SetFlags(OA_STMT* stmt, uint16_t bits) {
    stmt->flags = static_cast<uint16_t>(stmt->flags | bits);
}
void ClearFlags(OA_STMT* stmt, uint16_t bits) {
    stmt->flags = static_cast<uint16_t>(stmt->flags & ~bits);
}

const char* KindName(int16_t kind) {
    switch (kind) {
    case 0: return "SQL_PARAM_TYPE_UNKNOWN";
    case 3: return "SQL_PARAM_RESULT_COL";
    case 5: return "SQL_PARAM_RETURN_VALUE";
    default: return nullptr;
    }
}

// The rows of the parameter values that a run binds: every used row, or the current one
// in single-row mode.
void BoundRows(const OA_STMT* stmt, int32_t* first, int32_t* rows) {
    *first = 0;
    *rows = oa_StmtParamRows(stmt);
    int32_t single = 0;
    if (oa_StmtSingleRowMode(stmt, &single)) {
        *first = single;
        *rows = 1;
    }
}

// Binds the input/output and output parameters into the cursor's output dataset: one
// column per such parameter, in parameter order.
int BindOutputSide(OA_STMT* stmt, int32_t first, int32_t rows) {
    DB_CURSOR* cursor = stmt->cursor;
    if (int rc = oa_StmtAllocOutDescs(stmt, static_cast<uint16_t>(stmt->inOutCount + stmt->outCount)); rc != 0)
        return rc;
    uint16_t k = 0;
    for (uint16_t i = 0; i < stmt->params.count; ++i) {
        int16_t kind = stmt->paramDescs[i].paramType;
        if (kind == OA_PARAM_INPUT_OUTPUT || kind == OA_PARAM_OUTPUT)
            oa_CopyColDesc(&stmt->outDescs.items[k++], &stmt->params.items[i]);
    }
    DATASET* out = nullptr;
    if (int rc = oa_StmtOutputDataset(stmt, &out); rc != 0)
        return rc;
    k = 0;
    uint16_t valueCol = 0;
    for (uint16_t i = 0; i < stmt->params.count; ++i) {
        const PARAM_DESC& d = stmt->paramDescs[i];
        int rc = 0;
        if (d.paramType == OA_PARAM_INPUT_OUTPUT) {
            rc = db_BindInOutParam(&cursor->bind, d.scale, i + 1u, &stmt->paramValues->cols[valueCol], out, k, first,
                                   rows);
            ++k;
        } else if (d.paramType == OA_PARAM_OUTPUT) {
            rc = db_BindOutParam(&cursor->bind, d.scale, i + 1u, out, k, rows);
            ++k;
        }
        if (d.paramType != OA_PARAM_OUTPUT)
            ++valueCol;
        if (rc != 0)
            return rc;
    }
    SetFlags(stmt, STMT_OUT_BOUND);
    return 0;
}

// Binds the input parameters: each takes the next column of the parameter values, which
// skip the output parameters.
int BindInputSide(OA_STMT* stmt, int32_t first, int32_t rows) {
    uint16_t valueCol = 0;
    for (uint16_t i = 0; i < stmt->params.count; ++i) {
        const PARAM_DESC& d = stmt->paramDescs[i];
        if (d.paramType == OA_PARAM_INPUT) {
            int rc = db_BindInParam(&stmt->cursor->bind, d.scale, i + 1u, &stmt->paramValues->cols[valueCol], first,
                                    rows);
            if (rc != 0)
                return rc;
        }
        if (d.paramType != OA_PARAM_OUTPUT)
            ++valueCol;
    }
    return 0;
}

// The column-attribute template: attribute code, kind and initial number.
struct ColAttrTemplateRow {
    int16_t attribute;
    int32_t kind;
    int64_t number;
};
constexpr ColAttrTemplateRow kColAttrTemplate[OA_COLATTR_PER_COLUMN] = {
    {11, OA_COLATTR_NUMBER, 0}, {12, OA_COLATTR_NUMBER, 0}, {-13, OA_COLATTR_NUMBER, 0},
    {10, OA_COLATTR_NUMBER, 2}, {14, OA_COLATTR_TEXT, 0},   {27, OA_COLATTR_TEXT, 0},
    {28, OA_COLATTR_TEXT, 0},   {1053, OA_COLATTR_NUMBER, 0}, {35, OA_COLATTR_NUMBER, 0},
    {1055, OA_COLATTR_NUMBER, 0},
};

}  // namespace

// ---- Procedure calls -------------------------------------------------------------------

int OA_PrepareCall(OA_STMT* stmt) {
    int rc = db_CursorSetUp(stmt);
    if (rc == 0)
        rc = db_DescribeOutput(stmt);
    if (rc == 0 && (stmt->kind & SQLT_HAS_PARAMS) != 0)
        rc = db_DescribeInput(stmt, true);
    if (rc == 0)
        rc = OA_ColAttrFill(stmt);
    if (rc == 0)
        SetFlags(stmt, STMT_DESCRIBED);
    return rc;
}

int OA_CheckParamKinds(OA_STMT* stmt) {
    if (stmt->paramDescCount != stmt->params.count || (stmt->params.count != 0 && stmt->paramDescs == nullptr)) {
        OA_ErrPost(&stmt->errors, ERR_WRONG_NUMBER_OF_PARAMETERS);
        return ERR_WRONG_NUMBER_OF_PARAMETERS;
    }
    uint16_t in = 0, inOut = 0, out = 0;
    for (uint16_t i = 0; i < stmt->paramDescCount; ++i) {
        int16_t kind = stmt->paramDescs[i].paramType;
        switch (kind) {
        case OA_PARAM_INPUT: ++in; break;
        case OA_PARAM_INPUT_OUTPUT: ++inOut; break;
        case OA_PARAM_OUTPUT: ++out; break;
        default:
            if (const char* name = KindName(kind))
                LOG_MSG(LOG_ERR, "invalid parameter type %s encountered", name);
            else
                LOG_MSG(LOG_ERR, "invalid parameter type SQL_PARAM_%d encountered", kind);
            OA_ErrPost(&stmt->errors, ERR_GENERAL_ERROR);
            return ERR_GENERAL_ERROR;
        }
    }
    stmt->inCount = in;
    stmt->inOutCount = inOut;
    stmt->outCount = out;

    uint32_t inputs = static_cast<uint32_t>(in) + inOut;
    const DATASET* values = stmt->paramValues.get();
    if (inputs != 0 && (values == nullptr || values->colsUsed != inputs || values->rowsUsed < 1)) {
        LOG_MSG(LOG_WARNING, "execute without prior parameters set");
        OA_ErrPost(&stmt->errors, ERR_WRONG_NUMBER_OF_PARAMETERS);
        return ERR_WRONG_NUMBER_OF_PARAMETERS;
    }
    int32_t first = 0, rows = 1;
    BoundRows(stmt, &first, &rows);
    if (inputs != 0 && (first < 0 || first + rows > values->rowsUsed)) {
        OA_ErrPost(&stmt->errors, ERR_GENERAL_ERROR);
        return ERR_GENERAL_ERROR;
    }
    if (inOut + out != 0) {
        if (int rc = BindOutputSide(stmt, first, rows); rc != 0)
            return rc;
    }
    return BindInputSide(stmt, first, rows);
}

int OA_ExecuteCursor(OA_STMT* stmt) {
    ClearFlags(stmt, STMT_RETURN_SETTLED | STMT_OUT_BOUND | STMT_OUT_READY);
    if ((stmt->kind & SQLT_RETURN_VALUE) == 0)
        SetFlags(stmt, STMT_RETURN_SETTLED);
    if ((stmt->kind & SQLT_HAS_PARAMS) != 0) {
        if (int rc = OA_CheckParamKinds(stmt); rc != 0) {
            db_CursorClose(stmt);
            return rc;
        }
    }
    if (int rc = db_TxnBegin(stmt); rc != 0)
        return rc;
    if (int rc = db_CursorRun(stmt, DbParams::None, 0); rc != 0) {
        db_TxnEndStatement(stmt, rc);
        return rc;
    }
    SetFlags(stmt, STMT_EXECUTED);
    if (stmt->type == SQLT_KIND_SELECT)
        SetFlags(stmt, STMT_CURSOR_OPEN);
    if (stmt->inOutCount + stmt->outCount != 0) {
        // The values wait for a reader; the commit waits with them, until the close.
        SetFlags(stmt, STMT_OUT_PENDING);
        if (stmt->conn->autocommit != 0 && stmt->conn->readOnlyAtConnect == 0)
            SetFlags(stmt, STMT_COMMIT_OWED);
        return 0;
    }
    return db_TxnEndStatement(stmt, 0);
}

// ---- Column attributes -----------------------------------------------------------------

int OA_ColAttrTemplate(uint16_t columns, OA_COLATTRREQ** out, uint32_t* count) {
    *out = nullptr;
    *count = 0;
    uint32_t n = (columns + 1u) * OA_COLATTR_PER_COLUMN;
    auto* reqs = static_cast<OA_COLATTRREQ*>(uh_Calloc(n, sizeof(OA_COLATTRREQ)));
    if (reqs == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (uint32_t i = 0; i < n; ++i) {
        const ColAttrTemplateRow& t = kColAttrTemplate[i % OA_COLATTR_PER_COLUMN];
        reqs[i].column = static_cast<int16_t>(i / OA_COLATTR_PER_COLUMN);
        reqs[i].attribute = t.attribute;
        reqs[i].kind = t.kind;
        reqs[i].number = t.number;
        reqs[i].text = nullptr;
    }
    *out = reqs;
    *count = n;
    return 0;
}

void OA_ColAttrFree(OA_COLATTRREQ* reqs, uint32_t count) {
    if (reqs == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        std::free(reqs[i].text);
    uh_Free(reqs);
}

int OA_ColAttrFill(OA_STMT* stmt) {
    OA_COLATTRS& table = stmt->colAttrs;
    table.reset();
    if (int rc = OA_ColAttrTemplate(stmt->cols.count, &table.reqs, &table.count); rc != 0)
        return rc;
    for (uint16_t c = 1; c <= stmt->cols.count; ++c) {
        int32_t updatable = stmt->updatable != nullptr ? stmt->updatable[c - 1] : 2;
        for (int a = 0; a < OA_COLATTR_PER_COLUMN; ++a)
            db_ColAttribute(stmt->cols.items[c - 1].serverType, updatable,
                            &table.reqs[c * OA_COLATTR_PER_COLUMN + a]);
    }
    return 0;
}

// ---- Connection and text helpers -------------------------------------------------------

void OA_MarkConnStmts(OA_CONN* conn) {
    HANDLE_TABLE& t = Agent().stmts;
    HdlTableGuard guard(&t);
    for (uint32_t i = 0; t.slots != nullptr && i < t.slotCount; ++i) {
        auto* stmt = static_cast<OA_STMT*>(t.slots[i].object);
        if (t.slots[i].tag != 0 && stmt != nullptr && stmt->conn == conn)
            SetFlags(stmt, STMT_CURSOR_RESET);
    }
}

void db_MarkToQuestion(char* text) {
    for (char* p = text; p != nullptr && *p != '\0'; ++p) {
        if (*p == '\x01')
            *p = '?';
    }
}

// ---- Statement accessors ---------------------------------------------------------------

COLDESC* oa_StmtResultDesc(OA_STMT* stmt, uint16_t n) {
    return stmt->cols.at(n);
}
COLDESC* oa_StmtParamDesc(OA_STMT* stmt, uint16_t n) {
    return stmt->params.at(n);
}
COLDESC* oa_StmtOutDesc(OA_STMT* stmt, uint16_t n) {
    return stmt->outDescs.at(n);
}

int oa_StmtAllocResultDescs(OA_STMT* stmt, uint16_t n) {
    return stmt->cols.alloc(n);
}

int oa_StmtAllocParamDescs(OA_STMT* stmt, uint16_t n) {
    if (int rc = stmt->params.alloc(n); rc != 0)
        return rc;
    for (uint16_t i = 0; i < n; ++i) {
        COLDESC& d = stmt->params.items[i];
        std::strcpy(d.name, "*I");
        d.serverType = static_cast<int16_t>(DB_TYPE_NONE);
        d.sqlType = 12;
        d.flags = 2;
        d.internalType = DS_CHARZ;
    }
    return 0;
}

int oa_StmtAllocOutDescs(OA_STMT* stmt, uint16_t n) {
    return stmt->outDescs.alloc(n);
}

int oa_StmtNameParam(OA_STMT* stmt, uint16_t n, bool update) {
    COLDESC* d = oa_StmtParamDesc(stmt, n);
    if (d == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    std::strcpy(d->name, update ? "*U" : "*I");
    return 0;
}

int oa_CopyColDesc(COLDESC* to, const COLDESC* from) {
    if (to == nullptr || from == nullptr)
        return ERR_GENERAL_ERROR;
    std::memcpy(to->name, from->name, sizeof to->name);
    to->serverType = from->serverType;
    to->sqlType = from->sqlType;
    to->flags = from->flags;
    to->columnSize = from->columnSize;
    to->decimalDigits = from->decimalDigits;
    to->displaySize = from->displaySize;
    to->internalType = from->internalType;
    to->declaredWidth = from->declaredWidth;
    return 0;
}

int oa_StmtOutputDataset(OA_STMT* stmt, DATASET** out) {
    if (out == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *out = nullptr;
    DB_CURSOR* cursor = stmt->cursor;
    cursor->outParams.reset(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (cursor->outParams == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    int32_t rows = oa_StmtParamRows(stmt);
    if (ds_InitFromColDescs(stmt->outDescs.items, stmt->outDescs.count, rows, cursor->outParams.get()) != 0) {
        cursor->outParams.reset();
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    cursor->outParams->rowsUsed = rows;
    *out = cursor->outParams.get();
    return 0;
}

int oa_StmtParamDescs(OA_STMT* stmt, const PARAM_DESC** descs, uint16_t* count) {
    if (stmt->paramDescs == nullptr || stmt->paramDescCount == 0)
        return ERR_GENERAL_ERROR;
    *descs = stmt->paramDescs.get();
    *count = stmt->paramDescCount;
    return 0;
}

DATASET_COL* oa_StmtParamColumn(OA_STMT* stmt, uint16_t n) {
    DATASET* values = stmt->paramValues.get();
    return values != nullptr && values->cols != nullptr && n < values->colsUsed ? &values->cols[n] : nullptr;
}

int32_t oa_StmtParamRows(const OA_STMT* stmt) {
    return stmt->paramValues != nullptr ? stmt->paramValues->rowsUsed : 1;
}

bool oa_StmtSingleRowMode(const OA_STMT* stmt, int32_t* row) {
    if (row != nullptr)
        *row = stmt->currentParamRow;
    return stmt->paramMode == 1;
}

bool oa_StmtTakeCursorReset(OA_STMT* stmt) {
    bool marked = (stmt->flags & STMT_CURSOR_RESET) != 0;
    ClearFlags(stmt, STMT_CURSOR_RESET);
    return marked;
}
