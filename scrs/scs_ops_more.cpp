// The cursor library's remaining overrides: more results, the catalog calls, the combined
// prepare-and-execute and execute-and-describe operations, allocation with cursor
// attributes, the row layout, fetch into a buffer with long values read in pieces, and the
// statement batch.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "drv_pro9/oa_services.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_ops.h"
#include "scrs/scs_stmt.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

constexpr int32_t kCallEscapeKind = 61;     // the analysis' root kind of "{...}"
constexpr uint32_t kLongInRowset = 60000;   // longer values leave the rowset for scs_GetData

const OA_OPTABLE& Agent() { return *SCR_AgentHolder()->ops; }

bool IsLong(int32_t type) { return type == DS_LONGCHAR || type == DS_LONGBINARY || type == DS_LONGWCHAR; }

// A keyset or dynamic cursor cannot serve a catalog result: static read-only serves it, and
// the values asked for are kept and marked, so that the next prepare gives them back.
void CatalogCursor(SCS_STMT* cur) {
    OA_CURSOROPTS& o = *cur->opts;
    if (o.cursorType != SCS_KEYSET && o.cursorType != SCS_DYNAMIC)
        return;
    if ((cur->flags & SCS_ATTRS_CHANGED) == 0) {
        cur->requestedType = o.cursorType;
        cur->requestedConcurrency = o.concurrency;
        cur->flags |= SCS_ATTRS_CHANGED;
    }
    o.cursorType = SCS_STATIC;
    o.concurrency = SCS_READ_ONLY;
    // Only what the application sets from now on replaces the kept request.
    o.setFlags &= static_cast<uint16_t>(~(OA_CURSOR_TYPE_SET | OA_CONCURRENCY_SET));
}

template <auto Slot, typename Arg>
int Catalog(uint32_t stmt, Arg arg) {
    if (SCS_STMT* cur = scs_FindStmt(stmt))
        CatalogCursor(cur);
    const auto fn = Agent().*Slot;
    return fn != nullptr ? fn(stmt, arg) : ERR_DRIVER_NOT_CAPABLE;
}

// The values taken out of the fetched rowset, and the piece state with them.
void ResetGetData(SCS_STMT* cur) {
    if (cur->getDataSet != nullptr)
        ds_Free(cur->getDataSet);
    cur->gdColumn = cur->gdRow = 0;
    cur->gdReturned = cur->gdRemaining = 0;
}

uint32_t ByteLength(int32_t type, uint32_t length) { return type == DS_LONGWCHAR ? length * 2 : length; }

// Long values longer than kLongInRowset move from the rowset into the get-data dataset,
// which has the rowset's layout; their rowset indicators become -3.
int TakeLongValues(SCS_STMT* cur, DATASET* rows) {
    bool any = false;
    for (uint16_t c = 0; c < rows->colsUsed && !any; ++c)
        any = IsLong(rows->cols[c].type);
    if (!any || rows->rowsUsed == 0)
        return 0;
    if (int rc = ds_CloneLayout(&cur->getDataSet, rows, rows->rowsUsed); rc != 0)
        return rc;
    DATASET* gd = cur->getDataSet;
    gd->rowsUsed = rows->rowsUsed;
    for (uint16_t c = 0; c < rows->colsUsed; ++c) {
        DATASET_COL& from = rows->cols[c];
        if (!IsLong(from.type))
            continue;
        DATASET_COL& to = gd->cols[c];
        for (int32_t r = 0; r < rows->rowsUsed; ++r) {
            auto* v = reinterpret_cast<DS_REFVAL*>(from.data + static_cast<size_t>(r) * from.width);
            if (from.indicators[r] < 0 || ByteLength(from.type, v->length) <= kLongInRowset)
                continue;
            auto* w = reinterpret_cast<DS_REFVAL*>(to.data + static_cast<size_t>(r) * to.width);
            *w = *v;
            v->data = nullptr;
            v->length = 0;
            to.indicators[r] = 0;
            from.indicators[r] = DS_IND_AT_SERVER;
        }
    }
    return 0;
}

// The first word of text up to one of the delimiters, compared without case.
bool FirstWordIs(const char* text, const char* word, const char* delimiters) {
    if (text == nullptr)
        return false;
    while (*text != '\0' && std::strchr(delimiters, *text) != nullptr)
        ++text;
    const size_t n = std::strcspn(text, delimiters);
    return n == std::strlen(word) && strncasecmp(text, word, n) == 0;
}

// Every execution of the combined operations: prepare, values, descriptions, execute. The
// values go first: the agent owns them whatever follows.
template <typename Keep, typename Desc>
int PrepareValuesDescs(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount, const Desc* descs,
                       Keep keep) {
    if (values != nullptr) {
        if (int rc = scs_SetParamValues(stmt, values); rc != 0)
            return rc;
    }
    if (text != nullptr) {
        if (int rc = scs_Prepare(stmt, text); rc != 0)
            return rc;
    }
    if (descCount > 0)
        return keep(stmt, descCount, descs);
    return 0;
}

int KeepDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs) { return scs_SetParamDescs(stmt, count, descs); }

int ExecuteDescribeCore(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                        const PARAM_DESC* descs, uint32_t* rowsetSize, uint16_t* outColCount, COLDESC** outCols,
                        uint16_t* outParamCount, COLDESC** outParams, int32_t* outRowCount, uint16_t* outAttrCount,
                        COLATTR** outAttrs, bool extended) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    const OA_OPTABLE& agent = Agent();
    if (cur->opts->cursorType != SCS_FORWARD_ONLY && rowsetSize != nullptr) {
        auto size = static_cast<int32_t>(*rowsetSize);
        int rc = agent.DRV_SetProperty(stmt, OA_PROP_ROWSET_SIZE, &size);
        if (rc == ERR_OPTION_VALUE_CHANGED) {
            int32_t kept = 0;
            int32_t got = 0;
            if (scs_GetProperty(stmt, OA_PROP_ROWSET_SIZE, &kept, sizeof kept, &got) == 0)
                *rowsetSize = static_cast<uint32_t>(kept);
        } else if (rc != 0) {
            return rc;
        }
    }
    if (int rc = PrepareValuesDescs(stmt, text, values, descCount, descs, KeepDescs); rc != 0)
        return rc;
    ResetGetData(cur);
    const int executed = scs_Execute(stmt);
    if (executed != 0 && executed != ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES)
        return executed;
    if (outColCount != nullptr && outCols != nullptr) {
        int rc = 0;
        if (extended && outAttrCount != nullptr && outAttrs != nullptr)
            rc = agent.DRV_DescribeColsEx != nullptr
                     ? agent.DRV_DescribeColsEx(stmt, outColCount, outAttrCount, outCols, outAttrs)
                     : ERR_DRIVER_NOT_CAPABLE;
        else
            rc = agent.DRV_DescribeCols(stmt, outColCount, outCols);
        if (rc != 0)
            return rc;
    }
    if (outParamCount != nullptr && outParams != nullptr) {
        if (int rc = agent.DRV_DescribeParams(stmt, outParamCount, outParams); rc != 0)
            return rc;
    }
    if (outRowCount != nullptr) {
        int32_t n = 0;
        int32_t got = 0;
        if (int rc = scs_GetProperty(stmt, OA_PROP_ROW_COUNT, &n, sizeof n, &got); rc != 0)
            return rc;
        *outRowCount = n < 0 ? 0 : n;
    }
    return executed;
}

}  // namespace

int scs_MoreResults(uint32_t stmt) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr)
        return Agent().DRV_MoreResults(stmt);
    const OA_CURSOROPTS& o = *cur->opts;
    bool allowed = o.cursorType == SCS_FORWARD_ONLY || (o.cursorType == SCS_STATIC && o.concurrency == SCS_READ_ONLY);
    if (allowed && (cur->flags & SCS_RESULT_CACHED) != 0 && cur->analysis.rootKind != kCallEscapeKind)
        allowed = false;
    cur->rowCount = -1;
    cur->position = cur->rowsetStart = SCS_POS_BEFORE_START;
    cur->flags &= static_cast<uint16_t>(~SCS_RESULT_CACHED);
    return allowed ? Agent().DRV_MoreResults(stmt) : ERR_NO_MORE_RESULTS;
}

int scs_ColumnPrivileges(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDColumnPrivileges>(stmt, args);
}
int scs_Columns(uint32_t stmt, const OA_CATARGS* args) { return Catalog<&OA_OPTABLE::DRV_DDColumns>(stmt, args); }
int scs_ForeignKeys(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDForeignKeys>(stmt, args);
}
int scs_PrimaryKeys(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDPrimaryKeys>(stmt, args);
}
int scs_ProcedureColumns(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDProcedureColumns>(stmt, args);
}
int scs_Procedures(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDProcedures>(stmt, args);
}
int scs_SpecialColumns(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDSpecialColumns>(stmt, args);
}
int scs_Statistics(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDStatistics>(stmt, args);
}
int scs_TablePrivileges(uint32_t stmt, const OA_CATARGS* args) {
    return Catalog<&OA_OPTABLE::DRV_DDTablePrivileges>(stmt, args);
}
int scs_Tables(uint32_t stmt, const OA_CATARGS* args) { return Catalog<&OA_OPTABLE::DRV_DDTables>(stmt, args); }
int scs_GetTypeInfo(uint32_t stmt, int16_t sqlType) { return Catalog<&OA_OPTABLE::DRV_GetTypeInfo>(stmt, sqlType); }

int scs_PrepareAndExecuteEx(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                            const NAMED_PARAM_DESC* descs) {
    auto keep = [](uint32_t h, uint16_t count, const NAMED_PARAM_DESC* named) {
        std::vector<PARAM_DESC> plain;
        try {
            plain.reserve(count);
            for (uint16_t i = 0; i < count; ++i)
                plain.push_back(named[i].desc);
        } catch (const std::bad_alloc&) {
            return int{ERR_MEMORY_ALLOCATION_FAILURE};
        }
        return scs_StoreParamDescs(h, count, plain.data());
    };
    if (descCount > 0 && descs == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (int rc = PrepareValuesDescs(stmt, text, values, descCount, descs, keep); rc != 0)
        return rc;
    return scs_Execute(stmt);
}

int scs_StoreParamDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    try {
        if (count > 0 && descs != nullptr)
            cur->userParamDescs.assign(descs, descs + count);
        else
            cur->userParamDescs.clear();
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    // The agent keeps no named descriptions (its slot is empty): the copy is what counts.
    const auto slot = Agent().DRV_StoreParamDescs;
    return slot != nullptr ? slot(stmt, count, descs) : 0;
}

int scs_AllocPrepare(uint32_t conn, const char* text, int32_t concurrency, int32_t cursorType, uint32_t* outStmt) {
    if (outStmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    uint32_t stmt = 0;
    if (int rc = scs_AllocStmt(conn, &stmt); rc != 0) {
        if (stmt != 0)
            scs_FreeStmt(stmt);
        return rc;
    }
    if (cursorType != SCS_FORWARD_ONLY) {
        int rc = Agent().DRV_SetProperty(stmt, OA_PROP_CURSOR_TYPE, &cursorType);
        if (rc == 0 || rc == ERR_OPTION_VALUE_CHANGED)
            rc = Agent().DRV_SetProperty(stmt, OA_PROP_CONCURRENCY, &concurrency);
        if (rc != 0 && rc != ERR_OPTION_VALUE_CHANGED) {
            scs_FreeStmt(stmt);
            return rc;
        }
    }
    if (text != nullptr) {
        if (int rc = scs_Prepare(stmt, text); rc != 0) {
            // The statement goes: its messages stay readable on the connection.
            oa_ErrClearOf(conn);
            oa_ErrMove(conn, stmt);
            scs_FreeStmt(stmt);
            return rc;
        }
    }
    *outStmt = stmt;
    return 0;
}

int scs_ExecuteDescribe(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount, const PARAM_DESC* descs,
                        uint32_t* rowsetSize, uint16_t* outColCount, COLDESC** outCols, uint16_t* outParamCount,
                        COLDESC** outParams, int32_t* outRowCount) {
    return ExecuteDescribeCore(stmt, text, values, descCount, descs, rowsetSize, outColCount, outCols, outParamCount,
                               outParams, outRowCount, nullptr, nullptr, false);
}

int scs_ExecuteDescribeEx(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                          const PARAM_DESC* descs, uint32_t* rowsetSize, uint16_t* outColCount, COLDESC** outCols,
                          uint16_t* outParamCount, COLDESC** outParams, int32_t* outRowCount, uint16_t* outAttrCount,
                          COLATTR** outAttrs) {
    return ExecuteDescribeCore(stmt, text, values, descCount, descs, rowsetSize, outColCount, outCols, outParamCount,
                               outParams, outRowCount, outAttrCount, outAttrs, true);
}

int scs_GetRowLayout(uint32_t stmt, uint16_t* outColCount, COLDESC** outCols, DATASET* rowBuffer) {
    if (scs_FindStmt(stmt) == nullptr || outColCount == nullptr || rowBuffer == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (int rc = Agent().DRV_Fetch(stmt, 0, rowBuffer); rc != 0)
        return rc;
    const uint16_t n = rowBuffer->colsUsed;
    *outColCount = n;
    if (n == 0 || outCols == nullptr)
        return 0;
    COLDESC* cols = ds_ColDescAlloc(n);
    if (cols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (uint16_t c = 0; c < n; ++c) {
        const DATASET_COL& col = rowBuffer->cols[c];
        uint32_t length = col.width;
        if (col.type == DS_WCHAR || col.type == DS_WCHARZ)
            length = col.width / 2;
        else if (col.type == DS_WVARCHAR32)
            length = col.width >= 4 ? (col.width - 4) / 2 : 0;
        cols[c].internalType = col.type;
        cols[c].declaredWidth = length;
    }
    *outCols = cols;
    return 0;
}

int scs_FetchInto(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched, int32_t* outRowCount,
                  int16_t orientation) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    ResetGetData(cur);
    int rc = scs_ExtendedFetch(stmt, outRowset, row, outRowsFetched, outRowCount, orientation);
    if (rc != 0)
        return rc;
    if (int taken = TakeLongValues(cur, (*outRowset)->rows); taken != 0) {
        ds_RowsetFree(outRowset);
        *outRowsFetched = 0;
        return taken;
    }
    return 0;
}

int scs_GetData(uint32_t stmt, uint16_t column, uint16_t row, uint32_t maxPiece, void** outValue, int32_t* outSize,
                int32_t* outType, int32_t* outRemaining) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr || outValue == nullptr || outSize == nullptr || outType == nullptr || outRemaining == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    DATASET* gd = cur->getDataSet;
    const bool taken = gd != nullptr && gd->rowsUsed > 0;
    // Values the fetch left in the rowset are read there; a forward cursor without taken
    // values asks the agent.
    if (!taken && cur->opts->cursorType == SCS_FORWARD_ONLY) {
        const auto slot = Agent().DRV_GetData;
        return slot != nullptr ? slot(stmt, column, row, maxPiece, outValue, outSize, outType, outRemaining)
                               : ERR_DRIVER_NOT_CAPABLE;
    }
    *outValue = nullptr;
    *outSize = 0;
    *outRemaining = -4;
    if (!taken)
        return ERR_NO_DATA_FOUND;
    if (column < 1 || row < 1 || column > gd->colsUsed || row > gd->rowsUsed)
        return ERR_INVALID_ARGUMENT_VALUE;
    const DATASET_COL& col = gd->cols[column - 1];
    if (!IsLong(col.type) || col.indicators[row - 1] != 0)
        return ERR_NO_DATA_FOUND;
    const auto* v = reinterpret_cast<const DS_REFVAL*>(col.data + static_cast<size_t>(row - 1) * col.width);
    if (cur->gdColumn != static_cast<int16_t>(column) || cur->gdRow != static_cast<int16_t>(row)) {
        cur->gdColumn = static_cast<int16_t>(column);
        cur->gdRow = static_cast<int16_t>(row);
        cur->gdReturned = 0;
        cur->gdRemaining = static_cast<int32_t>(ByteLength(col.type, v->length));
    }
    *outRemaining = cur->gdRemaining;
    *outType = col.type == DS_LONGCHAR ? 1 : col.type == DS_LONGWCHAR ? 24 : 14;
    if (cur->gdRemaining == 0)
        return 0;
    const uint64_t limit = col.type == DS_LONGWCHAR ? uint64_t{maxPiece} * 2 : maxPiece;
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(cur->gdRemaining), limit));
    void* block = uh_Malloc(piece);
    if (block == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (piece != 0)
        std::memcpy(block, static_cast<const unsigned char*>(v->data) + cur->gdReturned, piece);
    cur->gdReturned += static_cast<int32_t>(piece);
    cur->gdRemaining -= static_cast<int32_t>(piece);
    *outValue = block;
    *outSize = static_cast<int32_t>(piece);
    return 0;
}

int scs_ExecuteBatch(uint32_t stmt, uint16_t count, const OA_BATCHSTMT* stmts, uint16_t* outDone,
                     int32_t** outRowCounts) {
    if (scs_FindStmt(stmt) == nullptr || outDone == nullptr || outRowCounts == nullptr ||
        (count > 0 && stmts == nullptr))
        return ERR_INVALID_ARGUMENT_VALUE;
    *outDone = 0;
    *outRowCounts = nullptr;
    auto* counts = static_cast<int32_t*>(uh_Calloc(count, sizeof(int32_t)));
    if (counts == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    *outRowCounts = counts;
    for (uint16_t i = 0; i < count; ++i) {
        const OA_BATCHSTMT& s = stmts[i];
        const char* text = s.text != nullptr ? s.text : oa_StmtText(stmt);
        *outDone = i;
        if (scs_IsSelectStmt(text))
            return ERR_ONLY_DDL_AND_DML_COMMAND_CAN;
        const bool call = scs_IsCallStmt(text);
        if (int rc = scs_PrepareAndExecute(stmt, s.text, s.values, s.descCount, s.descs); rc != 0)
            return rc;
        int32_t n = 0;
        int32_t got = 0;
        counts[i] = scs_GetProperty(stmt, OA_PROP_ROW_COUNT, &n, sizeof n, &got) == 0 ? std::max(n, 0) : -2;
        if (call) {
            // A procedure that returns a result set has no place in a batch; its parameters
            // are described "*I", "*O", "*B" or "*U".
            uint16_t cols = 0;
            COLDESC* descs = nullptr;
            bool result = false;
            if (Agent().DRV_DescribeCols(stmt, &cols, &descs) == 0 && cols > 0) {
                const char* name = descs[0].name;
                result = !(name[0] == '*' && std::strchr("IOBU", name[1]) != nullptr && name[1] != '\0');
            }
            ds_ColDescFree(descs, cols);
            if (result)
                return ERR_ONLY_DDL_AND_DML_COMMAND_CAN;
        }
    }
    *outDone = count;
    return 0;
}

bool scs_IsSelectStmt(const char* text) { return FirstWordIs(text, "select", " \t\n\r\f("); }

bool scs_IsCallStmt(const char* text) { return FirstWordIs(text, "call", " {?=\t\n\r\f"); }
