// The cursor library's working record of an agent statement: finding it from the agent's
// handles, its full set-up, its release and the small helpers the cursor parts share.
#include "scrs/scs_stmt.h"

#include <cstring>
#include <new>

#include "scrs/ks_keycols.h"
#include "scrs/scs_cursor.h"
#include "scrs/ss_result.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

// The agent's answer to a connection property read into 4 bytes; false when it has none.
bool AgentInt(const SCS_STMT* cur, uint32_t code, int32_t* value) {
    const OA_OPTABLE* ops = cur->agent != nullptr ? cur->agent->ops : nullptr;
    if (ops == nullptr || ops->DRV_GetProperty == nullptr)
        return false;
    int32_t v = 0;
    int32_t got = 0;
    if (ops->DRV_GetProperty(cur->agentConn, code, &v, sizeof v, &got) != 0)
        return false;
    *value = v;
    return true;
}

// Frees the descriptor arrays and the loaded descriptions.
void FreeDescriptors(SCS_STMT* cur) {
    ut_ArrayFree(&cur->fromTables, SCR_TableRefFree);
    ut_ArrayFree(&cur->tableCols, SCR_ColDescFree);
    ut_ArrayFree(&cur->orderBy, SCR_SelColDescFree);
    ut_ArrayFree(&cur->selectCols, SCR_ColDescFree);
    ds_ColDescFree(cur->resultCols, cur->resultColCount);
    cur->resultCols = nullptr;
    cur->resultColCount = 0;
    cur->paramDescs.clear();
    cur->paramDescs.shrink_to_fit();
    cur->userParamDescs.clear();
    cur->userParamDescs.shrink_to_fit();
}

void FreeDataset(DATASET** slot) {
    if (*slot != nullptr)
        DatasetDeleter{}(*slot);
    *slot = nullptr;
}

// Everything the record owns, without a call to the agent.
void FreeMemory(SCS_STMT* cur) {
    FreeDescriptors(cur);
    SCR_StmtInfoFree(&cur->analysis);
    SCR_StmtInfoFree(&cur->analysis2);
    SCR_StmtInfoFree(&cur->valuesAnalysis);
    cur->text.clear();
    cur->text.shrink_to_fit();
    FreeDataset(&cur->keptParams);
    FreeDataset(&cur->optValues);
    FreeDataset(&cur->describeRows);
    FreeDataset(&cur->getDataSet);
    KS_Delete(cur->keyset);
    cur->keyset = nullptr;
    // The snapshot's memory and its temporary files.
    SS_Free(&cur->staticResult);
    // The positioned operation's rows are the caller's.
    cur->setPosRows = nullptr;
    cur->setPosCols.clear();
    cur->userName.clear();
    cur->dbmsName.clear();
}

}  // namespace

SCS_STMT* scs_FindStmt(uint32_t agentStmt) {
    OA_LIBSTATE* slot = oa_StmtLibState(agentStmt);
    return slot != nullptr && slot->release == scs_StmtRelease ? static_cast<SCS_STMT*>(slot->state) : nullptr;
}

int scs_CursorInitFull(SCS_STMT* cur, uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder) {
    *cur = SCS_STMT{};
    cur->agentStmt = agentStmt;
    cur->agentConn = agentConn;
    cur->agent = holder;
    cur->opts = oa_StmtCursorOpts(agentStmt);
    cur->maxLength = oa_StmtMaxLengthRef(agentStmt);
    if (cur->opts == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    SCR_StmtInfoInit(&cur->analysis);
    SCR_StmtInfoInit(&cur->analysis2);
    SCR_StmtInfoInit(&cur->valuesAnalysis);

    cur->describeRows = static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET)));
    if (cur->describeRows == nullptr) {
        scs_CollectAuxErrors(cur);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }

    int32_t v = 0;
    if (AgentInt(cur, OA_PROP_HAS_PARAM_OP, &v))
        cur->textParamsWithNul = v != 0 ? 1 : 0;
    if (AgentInt(cur, OA_PROP_NEEDBIND, &v))
        cur->needParamDescs = v != 0 ? 1 : 0;
    if (AgentInt(cur, 0x22010007, &v))
        cur->lockByUpdate = v != 0 ? 1 : 0;
    if (AgentInt(cur, OA_PROP_DYNAMIC_SENSITIVE, &v))
        cur->rowVersioning = v != 0 ? 1 : 0;
    if (AgentInt(cur, 0x22010009, &v))
        cur->maxParams = v;
    if (AgentInt(cur, OA_PROP_WIDE, &v))
        cur->wide = static_cast<uint32_t>(v);

    char quote[2] = {};
    if (scs_AgentGetInfo(holder, agentConn, 29, quote, sizeof quote, nullptr) == 0)
        cur->identQuote = quote[0] == ' ' ? 0 : quote[0];
    uint16_t small = 0;
    if (scs_AgentGetInfo(holder, agentConn, 28, &small, sizeof small, nullptr) == 0)
        cur->identCase = small;
    if (scs_AgentGetInfo(holder, agentConn, 93, &small, sizeof small, nullptr) == 0)
        cur->quotedIdentCase = small;
    uint32_t usage = 0;
    if (scs_AgentGetInfo(holder, agentConn, 92, &usage, sizeof usage, nullptr) == 0)
        cur->noCatalogs = usage == 0 ? 1 : 0;
    char name[SCS_NAME_LEN] = {};
    if (scs_AgentGetInfo(holder, agentConn, 47, name, sizeof name, nullptr) == 0)
        cur->userName = name;
    name[0] = '\0';
    if (scs_AgentGetInfo(holder, agentConn, 17, name, sizeof name, nullptr) == 0)
        cur->dbmsName = name;
    if (scs_AgentGetInfo(holder, agentConn, 99, &small, sizeof small, nullptr) == 0)
        cur->maxOrderByCols = small;
    if (scs_AgentGetInfo(holder, agentConn, 85, &small, sizeof small, nullptr) == 0)
        cur->nullCollation = small;
    return 0;
}

void scs_CursorFree(SCS_STMT* cur) {
    // The lines go while the helper is still bound; a failure leaves them for the
    // connection's close, which deletes every line of the connection.
    if (cur->rowVersion.helper != nullptr) {
        RVC_DropCursor(cur);
        RVC_Detach(cur);
    }
    const OA_OPTABLE* ops = cur->agent != nullptr ? cur->agent->ops : nullptr;
    if (ops != nullptr && ops->DRV_FreeStmt != nullptr) {
        if (cur->aux1 != 0)
            ops->DRV_FreeStmt(cur->aux1);
        if (cur->aux2 != 0)
            ops->DRV_FreeStmt(cur->aux2);
        if (cur->rowsetStmt != 0)
            ops->DRV_FreeStmt(cur->rowsetStmt);
    }
    cur->aux1 = cur->aux2 = cur->rowsetStmt = 0;
    cur->rowsetTuples = 0;
    FreeMemory(cur);
}

void scs_StmtRelease(void* record) {
    auto* cur = static_cast<SCS_STMT*>(record);
    RVC_Forget(cur);
    FreeMemory(cur);
    delete cur;
}

int scs_AttachStmt(uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder) {
    OA_LIBSTATE* slot = oa_StmtLibState(agentStmt);
    if (slot == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    auto* cur = new (std::nothrow) SCS_STMT;
    if (cur == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    int rc = ERR_MEMORY_ALLOCATION_FAILURE;
    try {
        rc = scs_CursorInitFull(cur, agentStmt, agentConn, holder);
    } catch (const std::bad_alloc&) {
    }
    if (rc != 0) {
        scs_StmtRelease(cur);
        return rc;
    }
    slot->reset();
    slot->state = cur;
    slot->release = scs_StmtRelease;
    return 0;
}

void scs_CursorClearAnalysis(SCS_STMT* cur) {
    cur->text.clear();
    SCR_StmtInfoFree(&cur->analysis);
    SCR_StmtInfoFree(&cur->analysis2);
    SCR_StmtInfoFree(&cur->valuesAnalysis);
    cur->flags = 0;
    if (cur->opts != nullptr)
        cur->opts->auxFlags = 0;
    FreeDescriptors(cur);
    // The keys belong to the old statement's tables; the descriptor itself is kept.
    KS_Close(cur->keyset);
    KS_ClearKeyCols(cur->keyset);
    cur->rowsetTuples = 0;
    cur->markers = SCR_MARKERS{};
    cur->hiddenCols = 0;
}

int scs_KeepStmtErrors(uint32_t agentStmt, int32_t keep) { return oa_StmtKeepErrors(agentStmt, keep); }

void scs_CollectAuxErrors(const SCS_STMT* cur) {
    if (cur->aux1 != 0)
        oa_ErrMove(cur->agentStmt, cur->aux1);
    if (cur->aux2 != 0)
        oa_ErrMove(cur->agentStmt, cur->aux2);
    if (cur->rowsetStmt != 0)
        oa_ErrMove(cur->agentStmt, cur->rowsetStmt);
}

int scs_ErrDropRowWarning(uint32_t handle) { return oa_ErrDropRowWarning(handle); }

const SCS_COLDESC* scs_FindColDesc(const SCS_COLDESC* items, uint32_t count, const SCS_COLDESC* probe,
                                   uint32_t* indexOut) {
    if (items == nullptr || probe == nullptr)
        return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        const SCS_COLDESC& d = items[i];
        if (std::strcmp(d.column, probe->column) != 0)
            continue;
        if (probe->table[0] != '\0' && std::strcmp(d.table, probe->table) != 0)
            continue;
        if (probe->owner[0] != '\0' && std::strcmp(d.owner, probe->owner) != 0)
            continue;
        if (indexOut != nullptr)
            *indexOut = i;
        return &d;
    }
    return nullptr;
}

int scs_KeyBlockGeometry(const SCS_STMT* cur, uint16_t keyCols, int32_t* blocks, int32_t* keysInLast,
                         int32_t* keysPerBlock) {
    const int32_t free = cur->maxParams - static_cast<int32_t>(cur->markers.total);
    // Not one key tuple fits beside the application's parameters: no key query can be built.
    if (keyCols == 0 || free < keyCols)
        return ERR_GENERAL_ERROR;
    const int32_t rows = cur->opts != nullptr && cur->opts->rowsetSize > 0 ? cur->opts->rowsetSize : 1;
    int32_t perBlock = free / keyCols;
    if (rows < perBlock)
        perBlock = rows;
    *keysPerBlock = perBlock;
    *blocks = rows / perBlock + (rows % perBlock != 0 ? 1 : 0);
    *keysInLast = rows % perBlock != 0 ? rows % perBlock : perBlock;
    return 0;
}

int scs_LoadResultColDescs(SCS_STMT* cur) {
    if (cur->resultCols != nullptr)
        return 0;
    const OA_OPTABLE* ops = cur->agent->ops;
    if (ops->DRV_DescribeCols == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    uint16_t count = 0;
    COLDESC* cols = nullptr;
    if (int rc = ops->DRV_DescribeCols(cur->agentStmt, &count, &cols); rc != 0) {
        ds_ColDescFree(cols, count);
        return rc;
    }
    cur->resultCols = cols;
    cur->resultColCount = count;
    return 0;
}

int scs_GetResultColDesc(SCS_STMT* cur, uint16_t column, const COLDESC** out) {
    if (int rc = scs_LoadResultColDescs(cur); rc != 0)
        return rc;
    if (out == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (column == 0 || column > cur->resultColCount)
        return ERR_INVALID_COLUMN_NUMBER;
    *out = &cur->resultCols[column - 1];
    return 0;
}
