// Statement execution: the prologue of the driver's road and the search for values given
// at execution; the steps execution proper will fill in.
#include "driver/exec/execute.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "driver/objects/desc.h"
#include "driver/objects/param.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

SQLRETURN Fail(STMT* stmt, int code) {
    stmt->diag.errCode = code;
    return SQL_ERROR;
}

// The length buffer that marks a parameter's value as given at execution: the octet
// length, or the indicator where only that is bound.
SQLLEN* LengthBuffer(const PARAMREC& p) {
    return p.octetLength != nullptr ? p.octetLength : p.indicator;
}

}  // namespace

bool StmtCheckDataAtExecParams(STMT* stmt) {
    STMT_DAE& dae = stmt->dae;
    const size_t n = std::min<size_t>(stmt->paramDescs.count, stmt->params.size());
    const DESC* apd = stmt->apd;
    const SQLLEN offset = apd != nullptr && apd->bindOffset != nullptr ? *apd->bindOffset : 0;
    const size_t stride = apd != nullptr && apd->bindType != 0 ? static_cast<size_t>(apd->bindType) : sizeof(SQLLEN);
    for (uint32_t row = dae.nextRow; n != 0 && row < stmt->paramSetSize; ++row) {
        for (size_t i = row == dae.nextRow ? dae.nextPos : 0; i < n; ++i) {
            const PARAMREC& p = stmt->params[i];
            SQLLEN* len = LengthBuffer(p);
            if (p.number != i + 1 || len == nullptr)
                continue;
            // The application's buffer, at whatever alignment its offset and stride give.
            SQLLEN v = 0;
            std::memcpy(&v, reinterpret_cast<const char*>(len) + offset + row * stride, sizeof v);
            if (IsDataAtExecLength(v)) {
                dae.nextPos = static_cast<uint16_t>(i);
                dae.nextRow = row;
                return true;
            }
        }
    }
    dae.nextPos = 0;
    dae.nextRow = 0;
    return false;
}

bool StmtCheckDataAtExec(STMT* stmt) {
    // Stand-in until SQLSetPos and SQLBulkOperations are built: no further column waits.
    stmt->dae.nextPos = 0;
    stmt->dae.nextRow = 0;
    return false;
}

SQLRETURN StmtExecutePrologue(STMT* stmt) {
    if (stmt->daeState != STMT_DAE_NONE)
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    // An earlier exchange's pieces are not this execution's values. The rows of a value
    // are made when SQLParamData reaches it, so that a large parameter set costs nothing
    // here.
    for (PARAMREC& p : stmt->params)
        PIECES().swap(p.pieces);
    stmt->dae = STMT_DAE{};
    if (StmtCheckDataAtExecParams(stmt)) {
        stmt->daeState = STMT_DAE_PARAMS;
        return SQL_NEED_DATA;
    }
    // Buffers changed through the APD's fields since the binding are the ones read.
    DESC* apd = stmt->apd;
    if (apd != nullptr && apd->bindOffset != nullptr) {
        for (int n = 1; n <= DescRecCount(apd); ++n) {
            PARAMREC* p = StmtGetParam(stmt, static_cast<uint16_t>(n));
            if (p == nullptr || p->number == 0)
                continue;
            const DESCREC& r = apd->recs[static_cast<size_t>(n)];
            if (r.data != nullptr)
                p->data = r.data;
            if (r.indicator != nullptr)
                p->indicator = r.indicator;
            if (r.octetLengthPtr != nullptr)
                p->octetLength = r.octetLengthPtr;
        }
    }
    return SQL_SUCCESS;
}

SQLRETURN StmtExecuteParams(STMT* stmt) {
    if ((stmt->flags & STMT_FLAG_PREPARED) == 0)
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    stmt->daeState = STMT_DAE_NONE;
    // Stand-in until execution is built: the dataset of the values and the agent's execute.
    return Fail(stmt, ERR_DRIVER_NOT_CAPABLE);
}

SQLRETURN StmtExecuteArray(STMT* stmt) {
    if ((stmt->flags & STMT_FLAG_PREPARED) == 0 || stmt->daeState != STMT_DAE_NONE)
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    for (uint16_t n = 1; n <= stmt->paramDescs.count; ++n) {
        const PARAMREC* p = StmtGetParam(stmt, n);
        if (p == nullptr || p->number == 0)
            return Fail(stmt, ERR_WRONG_NUMBER_OF_PARAMETERS);
        if (p->data == nullptr && LengthBuffer(*p) == nullptr && p->paramType != SQL_PARAM_OUTPUT)
            return Fail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    }
    // Stand-in until execution is built, which hands the agent the values with the
    // pending cells marked and enters the exchange on the agent's answer 102: a value
    // given at execution starts the exchange here, anything else is not executed yet.
    stmt->dae = STMT_DAE{};
    if (StmtCheckDataAtExecParams(stmt)) {
        stmt->dae = STMT_DAE{};
        stmt->daeState = STMT_DAE_PARAMS;
        return SQL_NEED_DATA;
    }
    return Fail(stmt, ERR_DRIVER_NOT_CAPABLE);
}

SQLRETURN StmtAfterExecute(STMT* stmt) {
    const int rc = stmt->diag.errCode;
    if (rc != 0 && rc != ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES) {
        StmtGetAgentErrors(stmt);
        SQLLEN done = 0;
        if (stmt->rowsProcessed != nullptr && StmtRowCount(stmt, &done) == 0)
            *stmt->rowsProcessed = static_cast<SQLULEN>(done + 1);
        stmt->diag.errCode = rc;
        return rc == ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
    }
    // Stand-in until execution is built: the statement's result, counts and output
    // parameters.
    return Fail(stmt, ERR_DRIVER_NOT_CAPABLE);
}

SQLRETURN StmtSetPosLocal(STMT* stmt, SQLSETPOSIROW, SQLUSMALLINT) {
    return Fail(stmt, ERR_DRIVER_NOT_CAPABLE);  // stand-in until SQLSetPos is built
}

SQLRETURN StmtSetPosComplete(STMT* stmt) {
    return Fail(stmt, ERR_DRIVER_NOT_CAPABLE);  // stand-in until SQLSetPos is built
}

SQLRETURN StmtBulkOperations(STMT* stmt, SQLUSMALLINT) {
    return Fail(stmt, ERR_DRIVER_NOT_CAPABLE);  // stand-in until SQLBulkOperations is built
}
