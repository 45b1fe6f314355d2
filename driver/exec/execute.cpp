// Statement execution: the prologue of the driver's road and the search for values given
// at execution, the executions of both roads through the agent, the end of an execution
// (counts, statuses, state) and the return of output parameters.
#include "driver/exec/execute.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "driver/exec/coldeliver.h"
#include "driver/exec/convert/valtypes.h"
#include "driver/exec/paramset.h"
#include "driver/objects/conn.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/param.h"
#include "driver/objects/stmt.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

// The length buffer that marks a parameter's value as given at execution: the octet
// length, or the indicator where only that is bound.
SQLLEN* LengthBuffer(const PARAMREC& p) {
    return p.octetLength != nullptr ? p.octetLength : p.indicator;
}

bool IsVariable(int16_t cType) {
    return CTypeOctetLength(cType) == 0;
}

SQLLEN* Offset(SQLLEN* p, SQLLEN offset) {
    return reinterpret_cast<SQLLEN*>(reinterpret_cast<char*>(p) + offset);
}

// Parameter n (from 1) is an output parameter only, which needs no buffer to be sent.
bool IsOutputOnly(const STMT* stmt, uint16_t n) {
    const PARAMREC& p = stmt->params[n - 1u];
    return ParamDirection(stmt->paramDescs.items[n - 1u], &p) == OA_PARAM_OUTPUT;
}

bool DriverFreesData(const STMT* stmt) {
    return (stmt->conn->holder.state & OA_HOLDER_DRIVER_FREES_DATA) != 0;
}

// Buffers changed through the APD's fields since the binding are the ones read.
void RefreshFromApd(STMT* stmt) {
    DESC* apd = stmt->apd;
    if (apd == nullptr || apd->bindOffset == nullptr)
        return;
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

// Wide SQL and C types as their narrow counterparts, for an agent without wide types.
void NarrowParamDescs(std::vector<PARAM_DESC>* descs) {
    for (PARAM_DESC& d : *descs) {
        switch (d.sqlType) {
        case SQL_WCHAR: d.sqlType = SQL_CHAR; break;
        case SQL_WVARCHAR: d.sqlType = SQL_VARCHAR; break;
        case SQL_WLONGVARCHAR: d.sqlType = SQL_LONGVARCHAR; break;
        default: break;
        }
        if (d.cType == SQL_C_WCHAR)
            d.cType = SQL_C_CHAR;
    }
}

// Hands the values (null when no parameter is input) and, where the agent wants them, the
// parameter descriptions to the agent and executes: one combined call when the agent has
// it (descriptions sent once until a binding changes them), else values, descriptions and
// execute as three calls. The agent takes the dataset, also when it fails. The agent's code.
int AgentExecute(STMT* stmt, DATASET* values) {
    CONN* conn = stmt->conn;
    const OA_OPTABLE* ops = conn->holder.ops;
    const bool narrow = conn->narrowWidePieces != 0;
    const bool outputs = stmt->outParams + stmt->inOutParams != 0;
    const bool needDescs = (stmt->flags & STMT_FLAG_NEEDBIND) != 0 && (values != nullptr || outputs);
    const bool combined = conn->cn_hasExecute2 != 0;
    // The combined call leaves out descriptions the agent already has.
    const bool sendDescs = needDescs && (!combined || (stmt->flags & STMT_FLAG_PARAMS_SEEN) == 0);
    std::vector<PARAM_DESC> descs;
    if (sendDescs) {
        descs = StmtParamDescs(stmt);
        if (narrow)
            NarrowParamDescs(&descs);
    }
    const auto count = static_cast<uint16_t>(descs.size());
    if (combined) {
        if (sendDescs) {
            const int rc = CallSlot(ops, &OA_OPTABLE::DRV_PrepareAndExecute, stmt->agentStmt, nullptr, values,
                                    count, static_cast<const PARAM_DESC*>(descs.data()));
            stmt->flags |= STMT_FLAG_PARAMS_SEEN;
            return rc;
        }
        if (values != nullptr)
            return CallSlot(ops, &OA_OPTABLE::DRV_PrepareAndExecute, stmt->agentStmt, nullptr, values, uint16_t{0},
                            static_cast<const PARAM_DESC*>(nullptr));
        return CallSlot(ops, &OA_OPTABLE::DRV_Execute, stmt->agentStmt);
    }
    if (values != nullptr) {
        if (int rc = CallSlot(ops, &OA_OPTABLE::DRV_SetParamValues, stmt->agentStmt, values); rc != 0)
            return rc;
    }
    if (sendDescs)
        CallSlot(ops, &OA_OPTABLE::DRV_SetParamDescs, stmt->agentStmt, count,
                 static_cast<const PARAM_DESC*>(descs.data()));
    return CallSlot(ops, &OA_OPTABLE::DRV_Execute, stmt->agentStmt);
}

// Writes the IPD's status array, one entry per parameter set: sets left out by the
// operation array are unused; of the sets sent, those before the failing one (index
// `failed` among the sent rows, or none) took effect, the failing one is the error and
// those after it never ran.
void WriteParamStatuses(STMT* stmt, const std::vector<uint32_t>& setOfRow, size_t failed, SQLUSMALLINT ok) {
    SQLUSMALLINT* status = stmt->ipd != nullptr ? stmt->ipd->arrayStatus : nullptr;
    if (status == nullptr)
        return;
    for (uint32_t s = 0; s < stmt->paramSetSize; ++s)
        status[s] = SQL_PARAM_UNUSED;
    for (size_t k = 0; k < setOfRow.size(); ++k)
        status[setOfRow[k]] = k < failed ? ok : k == failed ? SQLUSMALLINT{SQL_PARAM_ERROR} : SQLUSMALLINT{SQL_PARAM_UNUSED};
    if (setOfRow.empty() && stmt->paramSetSize > 0 && failed == 0)
        status[0] = SQL_PARAM_ERROR;
}

// Where the last execution's sets begin among the sets sent, how many it carried, and the
// agent's row count before it (the slices of an array count on from one another). An
// execution of all the sets at once has nothing before it.
struct SentPart {
    size_t first = 0;
    size_t count = SIZE_MAX;
    SQLLEN rowsBefore = 0;
};

// Keeps the rows a successful execution touched for the diagnostics header: unknown (-1)
// for a query, else the agent's count. True when a searched INSERT, UPDATE or DELETE
// touched no row in any parameter set, which ODBC 3 answers with SQL_NO_DATA; only then is
// the agent asked what the statement is.
bool RecordRowCount(STMT* stmt) {
    stmt->rowCount = -1;
    if (stmt->isQuery)
        return false;
    SQLLEN count = -1;
    if (StmtRowCount(stmt, &count) != 0)
        return false;
    stmt->rowCount = count;
    if (count != 0)
        return false;
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int32_t kind = 0;
    int32_t len = 0;
    return ops->DRV_GetProperty(stmt->agentStmt, OA_PROP_STATEMENT_KIND, &kind, sizeof kind, &len) == 0 &&
           kind == OA_STMT_KIND_DML;
}

// Ends an execution with the agent's code: the result descriptions reload, and then
//  - 0, 80 (output values ready) or 74 (a warning): the statement is executed, the sets
//    sent are processed (1 for a query over several sets, whose further sets the next
//    results open), every sent set's status is success; output parameters come back
//    unless the agent defers them; 74 adds the agent's messages and answers
//    SQL_SUCCESS_WITH_INFO; a searched INSERT, UPDATE or DELETE that touched no row
//    answers SQL_NO_DATA to an ODBC 3 application;
//  - anything else: the agent's messages; the rows before the failing one (the agent's
//    row count, within the last part sent) took effect and the failing one is processed;
//    SQL_ERROR, the state as it was.
SQLRETURN Finish(STMT* stmt, int rc, const std::vector<uint32_t>& setOfRow, const SentPart& part = {}) {
    StmtResetCursor(stmt);
    stmt->resultDescs.reset();
    stmt->resultDescsLoaded = false;
    stmt->bookmarkDesc.reset();
    const auto sent = static_cast<SQLULEN>(setOfRow.size());
    if (rc != 0 && rc != ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES &&
        rc != ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING) {
        StmtGetAgentErrors(stmt);
        SQLLEN done = 0;
        const size_t first = std::min<size_t>(part.first, setOfRow.size());
        const size_t inPart = std::min<size_t>(part.count, setOfRow.size() - first);
        size_t failed = first;
        if (StmtRowCount(stmt, &done) == 0 && done >= 0) {
            const SQLLEN inThisPart = std::max<SQLLEN>(done - part.rowsBefore, 0);
            failed = first + std::min<size_t>(static_cast<size_t>(inThisPart), inPart > 0 ? inPart - 1 : 0);
        }
        stmt->rowCount = done;
        if (stmt->rowsProcessed != nullptr)
            *stmt->rowsProcessed = std::min<SQLULEN>(failed + 1, std::max<SQLULEN>(sent, 1));
        WriteParamStatuses(stmt, setOfRow, failed, SQL_PARAM_SUCCESS);
        return StmtFail(stmt, rc);
    }
    const bool warned = rc == ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING;
    const bool touchedNothing = RecordRowCount(stmt);
    if (stmt->rowsProcessed != nullptr)
        *stmt->rowsProcessed = stmt->isQuery && stmt->paramSetSize > 1 ? 1 : sent;
    WriteParamStatuses(stmt, setOfRow, setOfRow.size(),
                       warned ? SQLUSMALLINT{SQL_PARAM_SUCCESS_WITH_INFO} : SQLUSMALLINT{SQL_PARAM_SUCCESS});
    stmt->blockPos = 0;
    stmt->state = STMT_STATE_PREPARED;
    stmt->flags |= STMT_FLAG_CURSOR_OPEN;
    // The agent's 80 only says output values are ready; it is no diagnostic.
    stmt->diag.errCode = 0;
    SQLRETURN result = SQL_SUCCESS;
    if (warned) {
        StmtGetAgentErrors(stmt);
        stmt->diag.errCode = rc;
        result = SQL_SUCCESS_WITH_INFO;
    } else if (touchedNothing && EnvrOdbcVersionOf(stmt) == 3) {
        result = SQL_NO_DATA;
    }
    const bool outputs = stmt->outParams + stmt->inOutParams != 0;
    if (!outputs || (stmt->conn->cn_spOutDeferFetch != 0 && rc != ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES))
        return result;
    const SQLRETURN moved = StmtReturnOutParams(stmt);
    return moved == SQL_SUCCESS ? result : moved;
}

// Tells the agent whether the next execution is a slice of an array with more to come, and
// where its sets lie in the array (the sets sent before it, the sets sent in all; both 0
// for no slice). 0 or the agent's refusal.
int SetSlice(STMT* stmt, bool follows, size_t setsBefore = 0, size_t setsInAll = 0) {
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    const int32_t values[] = {follows ? 1 : 0, static_cast<int32_t>(std::min<size_t>(setsBefore, INT32_MAX)),
                              static_cast<int32_t>(std::min<size_t>(setsInAll, INT32_MAX))};
    const uint32_t codes[] = {OA_PROP_SLICE_FOLLOWS, OA_PROP_SLICE_SETS_BEFORE, OA_PROP_SLICE_SETS_TOTAL};
    for (size_t k = 0; k < 3; ++k) {
        if (int rc = CallSlot(ops, &OA_OPTABLE::DRV_SetProperty, stmt->agentStmt, codes[k],
                              static_cast<const void*>(&values[k]));
            rc != 0)
            return rc;
    }
    return 0;
}

// Whether the sets go to the agent in slices: more of them than a slice holds, input
// parameters only, a statement that the agent says is an INSERT, UPDATE or DELETE (no
// query, whose sets open one result each, nor a procedure call), no value that the agent
// is to take at execution, an agent with the wide types (narrowing wide values can refuse
// one, which must come before anything ran), and an agent that keeps the slices one
// transaction.
bool SendsInSlices(STMT* stmt, DaeRoad road) {
    if (stmt->paramSetSize <= kParamSliceRows || stmt->isQuery || stmt->inParams == 0 ||
        stmt->outParams + stmt->inOutParams != 0 || stmt->conn->narrowWidePieces != 0)
        return false;
    if (road == DaeRoad::Agent) {
        const STMT_DAE kept = stmt->dae;
        stmt->dae = STMT_DAE{};
        const bool atExec = StmtCheckDataAtExecParams(stmt);
        stmt->dae = kept;
        if (atExec)
            return false;
    }
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int32_t kind = 0;
    int32_t len = 0;
    if (CallSlot(ops, &OA_OPTABLE::DRV_GetProperty, stmt->agentStmt, OA_PROP_STATEMENT_KIND, static_cast<void*>(&kind),
                 int32_t{sizeof kind}, &len) != 0 ||
        kind != OA_STMT_KIND_DML)
        return false;
    return SetSlice(stmt, false) == 0;
}

// Hands a dataset to the agent and executes; afterwards the statement remembers the
// dataset the agent holds (or frees it, when the holder says the driver frees datasets).
int ExecuteSlice(STMT* stmt, PARAMSET& set) {
    DATASET* values = set.dataset();
    set.values.release();
    const int rc = AgentExecute(stmt, values);
    stmt->sentParamSet = DriverFreesData(stmt) ? nullptr : values;
    if (DriverFreesData(stmt))
        DatasetDeleter()(values);
    return rc;
}

// The execution of a large array, slice by slice into one dataset: the agent keeps the
// slices one transaction, and the end of the execution (counts, statuses, processed sets,
// the failing set) reads as for the whole array sent at once. Only running out of memory
// between slices has no counterpart: the slices before it stay done (committed in
// autocommit) and the sets after them unused.
SQLRETURN RunSliced(STMT* stmt, DaeRoad road) {
    PARAMSLICES slices;
    if (int rc = StmtPlanParamSlices(stmt, road, &slices); rc != 0)
        return StmtFail(stmt, rc);
    SentPart part;
    bool warned = false;
    int rc = 0;
    while (!slices.done()) {
        part.first = slices.next;
        PARAMSET set;
        if (int built = StmtBuildParamSlice(&slices, &set, stmt->sentParamSet); built != 0) {
            SetSlice(stmt, false);
            if ((stmt->conn->flags & CONN_FLAG_AUTOCOMMIT) != 0 && part.first > 0)
                ConnEndTranOn(stmt->conn, SQL_COMMIT, stmt->diag);
            if (stmt->rowsProcessed != nullptr)
                *stmt->rowsProcessed = part.first;
            const std::vector<uint32_t> done(slices.sets.begin(), slices.sets.begin() + part.first);
            WriteParamStatuses(stmt, done, done.size(), SQL_PARAM_SUCCESS);
            return StmtFail(stmt, built);
        }
        part.count = slices.next - part.first;
        if (SetSlice(stmt, !slices.done(), part.first, slices.sets.size()) != 0) {
            rc = ERR_GENERAL_ERROR;
            break;
        }
        rc = ExecuteSlice(stmt, set);
        warned = warned || rc == ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING;
        if (rc != 0 && rc != ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING)
            break;
        if (!slices.done()) {
            SQLLEN count = 0;
            if (StmtRowCount(stmt, &count) == 0 && count > 0)
                part.rowsBefore = count;
        }
    }
    SetSlice(stmt, false);
    if (rc == 0 && warned)
        rc = ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING;
    return Finish(stmt, rc, slices.sets, part);
}

// Builds the parameter dataset (when any parameter is input), executes through the
// agent and ends the execution; on the agent's road a request for values given at
// execution (102) keeps the dataset and starts the exchange instead. A large array goes
// in slices (RunSliced).
SQLRETURN Run(STMT* stmt, DaeRoad road) {
    if (stmt->agentParamSet != nullptr && DriverFreesData(stmt))  // an exchange abandoned
        DatasetDeleter()(stmt->agentParamSet);
    stmt->agentParamSet = nullptr;
    if (SendsInSlices(stmt, road))
        return RunSliced(stmt, road);
    PARAMSET set;
    if (stmt->inParams + stmt->inOutParams != 0) {
        if (int rc = StmtBuildParamSet(stmt, road, &set, stmt->sentParamSet); rc != 0)
            return StmtFail(stmt, rc);
    }
    // An agent without the wide types takes wide values as narrow text. Converted while the
    // set still owns them: a refusal frees them. (A refilled dataset has no wide columns
    // left, as the first conversion made them narrow.)
    if (stmt->conn->narrowWidePieces != 0 && set.dataset() != nullptr) {
        if (int rc = ds_WideToAnsi(set.dataset(), stmt->conn->narrow); rc != 0)
            return StmtFail(stmt, rc);
    }
    // The agent takes the dataset: a new one, or the one it holds already, refilled.
    DATASET* values = set.dataset();
    set.values.release();
    const int rc = AgentExecute(stmt, values);
    if (values != nullptr)
        stmt->sentParamSet = DriverFreesData(stmt) ? nullptr : values;
    if (road == DaeRoad::Agent && rc == ERR_AGENT_NEEDS_DATA_AT_EXEC_DATA) {
        stmt->sentParamSet = nullptr;
        stmt->agentParamSet = values;
        stmt->agentSetOfRow = std::move(set.setOfRow);
        stmt->dae = STMT_DAE{};
        stmt->daeState = STMT_DAE_PARAMS;
        return SQL_NEED_DATA;
    }
    if (values != nullptr && DriverFreesData(stmt))
        DatasetDeleter()(values);
    return Finish(stmt, rc, set.setOfRow);
}

OutParamMover g_outParamMover = MoveOutParam;

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

SQLRETURN StmtExecutePrologue(STMT* stmt) {
    if (stmt->daeState != STMT_DAE_NONE)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
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
    RefreshFromApd(stmt);
    return SQL_SUCCESS;
}

SQLRETURN StmtExecuteParams(STMT* stmt) {
    if ((stmt->flags & STMT_FLAG_PREPARED) == 0)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    stmt->daeState = STMT_DAE_NONE;
    if (stmt->paramKindsUnknown)
        StmtCountParamDirections(stmt);
    for (uint16_t n = 1; n <= stmt->paramDescs.count; ++n) {
        const PARAMREC* p = StmtGetParam(stmt, n);
        if (p == nullptr || p->number == 0 ||
            (p->data == nullptr && LengthBuffer(*p) == nullptr && !IsOutputOnly(stmt, n)))
            return StmtFail(stmt, ERR_WRONG_NUMBER_OF_PARAMETERS);
    }
    return Run(stmt, DaeRoad::Driver);
}

SQLRETURN StmtExecuteArray(STMT* stmt) {
    // An exchange of values still pending belongs to the execution that started it.
    if ((stmt->flags & STMT_FLAG_PREPARED) == 0 || stmt->daeState != STMT_DAE_NONE)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    for (uint16_t n = 1; n <= stmt->paramDescs.count; ++n) {
        const PARAMREC* p = StmtGetParam(stmt, n);
        if (p == nullptr || p->number == 0)
            return StmtFail(stmt, ERR_WRONG_NUMBER_OF_PARAMETERS);
        if (p->data == nullptr && LengthBuffer(*p) == nullptr && p->paramType != SQL_PARAM_OUTPUT)
            return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    }
    if (stmt->paramKindsUnknown)
        StmtCountParamDirections(stmt);
    RefreshFromApd(stmt);
    return Run(stmt, DaeRoad::Agent);
}

SQLRETURN StmtAfterExecute(STMT* stmt) {
    if (stmt->agentParamSet != nullptr && DriverFreesData(stmt))
        DatasetDeleter()(stmt->agentParamSet);
    stmt->agentParamSet = nullptr;
    std::vector<uint32_t> sets;
    sets.swap(stmt->agentSetOfRow);
    return Finish(stmt, stmt->diag.errCode, sets);
}

void StmtCancelDataAtExec(STMT* stmt) {
    if (stmt->daeState == STMT_DAE_NONE || stmt->conn->cn_hasV2DAE == 0)
        return;
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    if (ops != nullptr && ops->DRV_Cancel != nullptr)
        ops->DRV_Cancel(stmt->agentStmt);  // a refusal leaves nothing the driver can undo
    if (stmt->agentParamSet != nullptr && DriverFreesData(stmt))
        DatasetDeleter()(stmt->agentParamSet);
    stmt->agentParamSet = nullptr;
    stmt->agentSetOfRow.clear();
}

void StmtSetOutParamMover(OutParamMover mover) {
    g_outParamMover = mover != nullptr ? mover : MoveOutParam;
}

SQLRETURN StmtReturnOutParams(STMT* stmt) {
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    DatasetPtr row(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (row == nullptr)
        return StmtFail(stmt, ERR_MEMORY_ALLOCATION_FAILURE);
    const int rc = CallSlot(ops, &OA_OPTABLE::DRV_Fetch, stmt->agentStmt, int32_t{0}, row.get());
    if (rc != 0) {
        StmtGetAgentErrors(stmt);
        return StmtFail(stmt, rc);
    }
    const SQLLEN offset = StmtParamBindOffset(stmt);
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(stmt->paramDescs.count, stmt->params.size()));
    SQLRETURN result = SQL_SUCCESS;
    uint16_t column = 0;
    for (uint16_t i = 0; i < n; ++i) {
        const PARAMREC& p = stmt->params[i];
        if (ParamDirection(stmt->paramDescs.items[i], p.number != 0 ? &p : nullptr) == OA_PARAM_INPUT)
            continue;
        ++column;  // the output row holds the output and input/output values in order
        if (p.data == nullptr)
            continue;
        OUTPARAM_BINDING b;
        b.column = column;
        b.cType = p.cType;
        b.data = static_cast<char*>(p.data) + offset;
        b.bufferLength = IsVariable(p.cType) ? p.bufferLength : p.fixedCSize;
        b.octetLength = p.octetLength != nullptr ? Offset(p.octetLength, offset) : nullptr;
        b.indicator = p.indicator != nullptr ? Offset(p.indicator, offset) : nullptr;
        b.scale = p.scale;
        const SQLRETURN moved = g_outParamMover(stmt, b, row.get());
        if (moved == SQL_SUCCESS_WITH_INFO)
            result = SQL_SUCCESS_WITH_INFO;  // a cut value: 01004 stays posted
        else if (moved != SQL_SUCCESS)
            return moved;
    }
    return result;
}

