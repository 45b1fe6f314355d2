// Keyset-driven cursors: the keyset query at execute, the rowset query by keys at each
// fetch, the placement of fetched rows by key value, and row locking.
#include "scrs/ks_keyset.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "scrs/scs_catalog.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_desc.h"
#include "scrs/scs_scroll.h"
#include "scrs/scs_stmt.h"
#include "sqlparse/ptree.h"
#include "util/dataset.h"
#include "util/charset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

constexpr uint16_t kRowsetQueryPrepared = 0x10;  // OA_CURSOROPTS::auxFlags: a rowset size change clears it

const OA_OPTABLE& AgentOf(const SCS_STMT* cur) { return *cur->agent->ops; }

uint32_t KeyColCount(const SCS_STMT* cur) {
    return cur->keyset != nullptr && cur->keyset->keyCols != nullptr ? cur->keyset->keyCols->count : 0;
}
const SCS_COLDESC* KeyCols(const SCS_STMT* cur) {
    return static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements);
}

// Fills a dataset slot through a call that gives out a new dataset.
template <class Make>
int Into(DatasetPtr* slot, Make make) {
    DATASET* made = nullptr;
    const int rc = make(&made);
    slot->reset(made);
    return rc;
}

// An empty heap dataset, as DatasetDeleter frees it.
DATASET* NewDataset() { return static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))); }

// A new dataset holding a copy of row `row` of src.
int RowOf(const DATASET& src, int32_t row, DATASET** out) {
    *out = nullptr;
    DATASET* one = nullptr;
    if (int rc = ds_CloneLayout(&one, &src, 1); rc != 0)
        return rc;
    if (int rc = ds_CopyRow(one, const_cast<DATASET*>(&src), 0, row, 0); rc != 0) {
        DatasetDeleter{}(one);
        return rc;
    }
    *out = one;
    return 0;
}

// Columns [from, to) of a one-row dataset, as a new dataset.
int ColumnsOf(const DATASET& src, int from, int to, DATASET** out) {
    *out = nullptr;
    if (from >= to)
        return 0;
    DATASET* copy = nullptr;
    if (int rc = RowOf(src, 0, &copy); rc != 0)
        return rc;
    for (int c = src.colsUsed - 1; c >= to; --c)
        ds_DropColumn(copy, c);
    for (int c = 0; c < from; ++c)
        ds_DropColumn(copy, 0);
    *out = copy;
    return 0;
}

bool IsNarrowText(int32_t type) {
    return type == DS_CHAR || type == DS_CHARZ || type == DS_VARCHAR8 || type == DS_VARCHAR16 || type == DS_VARCHAR32;
}

// Key values read from the server are UTF-8 in the Unicode library, where the agent reads
// narrow parameters in the application's narrow code set (ISO-8859-1 in the C locale): text
// keys go back as wide text, which it reads the same in every code set.
int WidenTextColumns(const SCS_STMT* cur, DATASET* row) {
    if (cur->wide == 0 || row == nullptr || row->rowsUsed != 1)
        return 0;
    for (int c = 0; c < row->colsUsed; ++c) {
        if (!IsNarrowText(row->cols[c].type))
            continue;
        std::string text;
        bool null = false;
        if (int rc = scs_CatalogText(*row, c, 0, &text, &null); rc != 0)
            return rc;
        std::vector<SQLWCHAR> units(text.size() + 1, 0);
        const SQLLEN n = null ? 0 : ut_Utf8DecodeN(text.data(), static_cast<SQLLEN>(text.size()), units.data(),
                                                    static_cast<SQLLEN>(text.size()));
        const uint32_t width = static_cast<uint32_t>((std::max<SQLLEN>(n, 0) + 1) * 2);
        if (int rc = ds_InsertColumn(row, c + 1, DS_WCHARZ, width); rc != 0)
            return rc;
        DATASET_COL& w = row->cols[c + 1];
        if (null) {
            w.indicators[0] = DS_IND_NULL;
        } else {
            std::memset(w.data, 0, width);
            std::memcpy(w.data, units.data(), static_cast<size_t>(std::max<SQLLEN>(n, 0)) * 2);
            w.indicators[0] = static_cast<int16_t>(std::min<SQLLEN>(n * 2, INT16_MAX));
        }
        if (int rc = ds_DropColumn(row, c); rc != 0)
            return rc;
    }
    return 0;
}

// The parameters of generated SQL, prepared on stmt: values (owned by the agent from here)
// and descriptions, then the execution.
int RunWithParams(SCS_STMT* cur, uint32_t stmt, DATASET* values, const std::vector<PARAM_DESC>& descs) {
    const OA_OPTABLE& agent = AgentOf(cur);
    if (values != nullptr) {
        if (int rc = agent.DRV_SetParamValues(stmt, values); rc != 0)
            return rc;
    }
    if (cur->needParamDescs != 0 && !descs.empty()) {
        if (int rc = agent.DRV_SetParamDescs(stmt, static_cast<uint16_t>(descs.size()), descs.data()); rc != 0)
            return rc;
    }
    return agent.DRV_Execute(stmt);
}

int EnsureStmt(SCS_STMT* cur, uint32_t* stmt) {
    if (*stmt != 0)
        return 0;
    uint32_t made = 0;
    if (AgentOf(cur).DRV_AllocStmt(cur->agentConn, &made) != 0 || made == 0)
        return ERR_GENERAL_ERROR;
    *stmt = made;
    return 0;
}

// The bytes that identify a row's key: each key column's indicator, length and value.
std::string KeyBytes(const DATASET& rows, int firstCol, uint32_t keyCols, int32_t row) {
    std::string key;
    for (uint32_t k = 0; k < keyCols; ++k) {
        const DATASET_COL& c = rows.cols[firstCol + static_cast<int>(k)];
        const int16_t ind = c.indicators != nullptr ? c.indicators[row] : 0;
        if (ind == DS_IND_NULL) {
            key += '\0';
            continue;
        }
        char value[4096];
        size_t length = sizeof value;
        if (ds_GetValue(&rows, firstCol + static_cast<int>(k), row, value, &length) != 0)
            length = 0;
        key += '\1';
        key.append(reinterpret_cast<const char*>(&length), sizeof length);
        key.append(value, length);
    }
    return key;
}

// The hidden columns of the rowset query: the compared columns, then the key columns.
std::string HiddenColumns(const SCS_STMT* cur) {
    std::string list;
    for (const SCS_COLDESC* col : KS_ComparedColumns(cur)) {
        list += scs_QualifiedColName(cur->keyset->fromTableCount, *col);
        list += ", ";
    }
    list += KS_KeyList(cur);
    return list;
}

// Prepares the rowset query for `tuples` key tuples on the rowset statement.
int PrepareRowsetQuery(SCS_STMT* cur, uint32_t tuples) {
    if (int rc = EnsureStmt(cur, &cur->rowsetStmt); rc != 0)
        return rc;
    SCR_STMTINFO& q = cur->valuesAnalysis;
    int rc = SCR_AnalyseSQL(&q, cur->text.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
    if (rc == 0)
        rc = SCR_TopDrop(&q);
    if (rc == 0)
        rc = SCR_SelListAppend(&q, HiddenColumns(cur).c_str());
    if (rc == 0)
        rc = SCR_WhereAdd(&q, KS_KeyPredicate(cur, tuples).c_str());
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "SCR_AnalyseSQL failed: %s", cur->text.c_str());
        return rc;
    }
    if (rc = AgentOf(cur).DRV_Prepare(cur->rowsetStmt, PT_NodeText(q.root)); rc != 0)
        return rc;
    cur->rowsetTuples = tuples;
    cur->opts->auxFlags |= kRowsetQueryPrepared;
    return 0;
}

// Reads the rows of keys [0, m) of keyRows in blocks of `tuples` keys into *fetched.
int FetchByKeys(SCS_STMT* cur, const DATASET& keyRows, int32_t m, uint32_t tuples, DATASET** fetched) {
    const OA_OPTABLE& agent = AgentOf(cur);
    std::vector<PARAM_DESC> keyDescs;
    for (uint32_t t = 0; t < tuples; ++t)
        for (uint32_t k = 0; k < KeyColCount(cur); ++k)
            keyDescs.push_back(scs_ParamDescFromColDesc(KeyCols(cur)[k]));
    for (int32_t first = 0; first < m; first += static_cast<int32_t>(tuples)) {
        const uint32_t keys = static_cast<uint32_t>(std::min<int32_t>(static_cast<int32_t>(tuples), m - first));
        DatasetPtr generated;
        const auto make = [&](DATASET** o) { return KS_KeysToParams(keyRows, first, tuples, keys, o); };
        if (int rc = Into(&generated, make); rc != 0)
            return rc;
        if (int rc = WidenTextColumns(cur, generated.get()); rc != 0)
            return rc;
        DATASET* values = nullptr;
        std::vector<PARAM_DESC> descs;
        if (int rc = KS_JoinParams(cur, generated.get(), keyDescs, true, &values, &descs); rc != 0)
            return rc;
        if (int rc = RunWithParams(cur, cur->rowsetStmt, values, descs); rc != 0)
            return rc;
        DATASET block{};
        int rc = agent.DRV_Fetch(cur->rowsetStmt, static_cast<uint16_t>(tuples), &block);
        if (rc == 0) {
            if (*fetched == nullptr) {
                *fetched = NewDataset();
                if (*fetched != nullptr) {
                    **fetched = block;  // the block's arrays move over
                } else {
                    ds_Free(&block);
                    rc = ERR_MEMORY_ALLOCATION_FAILURE;
                }
            } else if (block.rowsUsed > 0) {
                rc = ds_Append(*fetched, &block);
                ds_Free(&block);
            } else {
                ds_Free(&block);
            }
        } else {
            ds_Free(&block);
        }
        agent.DRV_CloseCursor(cur->rowsetStmt);
        if (rc != 0)
            return rc;
    }
    return 0;
}

}  // namespace

int KS_WidenTextParams(const SCS_STMT* cur, DATASET* row) { return WidenTextColumns(cur, row); }

std::string KS_HiddenColumnList(const SCS_STMT* cur) { return HiddenColumns(cur); }

std::vector<const SCS_COLDESC*> KS_ComparedColumns(const SCS_STMT* cur) {
    std::vector<const SCS_COLDESC*> out;
    if (cur->opts->concurrency != SCS_VALUES)
        return out;
    // Option 1050: 2 the plain columns of the select list, else every column of the tables.
    const bool selectList = cur->opts->comparedColumns == 2;
    const UT_ARRAY* from = selectList ? cur->selectCols : cur->tableCols;
    for (uint32_t i = 0; from != nullptr && i < from->count; ++i) {
        const SCS_COLDESC& col = static_cast<const SCS_COLDESC*>(from->elements)[i];
        if (!selectList || col.itemKind == SCS_ITEM_COLUMN)
            out.push_back(&col);
    }
    return out;
}

void KS_Close(KSD* keyset) {
    if (keyset == nullptr)
        return;
    SS_Close(keyset->keys);
    keyset->boundRows.reset();
    keyset->rowStatus.clear();
    keyset->rowStatus.shrink_to_fit();
}

std::string KS_KeyList(const SCS_STMT* cur) {
    std::string list;
    for (uint32_t k = 0; k < KeyColCount(cur); ++k) {
        if (k != 0)
            list += ", ";
        list += scs_QualifiedColName(cur->keyset->fromTableCount, KeyCols(cur)[k]);
    }
    return list;
}

std::string KS_KeyPredicate(const SCS_STMT* cur, uint32_t n) {
    const uint32_t keyCols = KeyColCount(cur);
    if (n == 0 || keyCols == 0)
        return {};
    std::string tuple;
    for (uint32_t k = 0; k < keyCols; ++k) {
        if (k != 0)
            tuple += " AND ";
        tuple += scs_QualifiedColName(cur->keyset->fromTableCount, KeyCols(cur)[k]);
        tuple += " = ?";
    }
    std::string out = "( ";
    for (uint32_t i = 0; i < n; ++i) {
        if (i != 0)
            out += " OR ";
        out += tuple;
    }
    out += " )";
    return out;
}

int KS_AddKeyOrderBy(SCR_STMTINFO* analysis, const SCS_STMT* cur) {
    if (cur->keyset == nullptr)
        return ERR_GENERAL_ERROR;
    uint32_t items = cur->orderBy != nullptr ? cur->orderBy->count : 0;
    std::string list;
    for (uint32_t k = 0; k < KeyColCount(cur); ++k) {
        const SCS_COLDESC& key = KeyCols(cur)[k];
        if (key.orderPosition != 0)
            continue;
        // The server orders by at most its maximum columns: the keys beyond it are left out.
        if (cur->maxOrderByCols != 0 && items >= cur->maxOrderByCols)
            break;
        if (!list.empty())
            list += ", ";
        list += scs_QualifiedColName(cur->keyset->fromTableCount, key);
        ++items;
    }
    return list.empty() ? 0 : SCR_OrderByAdd(analysis, list.c_str());
}

int KS_KeysToParams(const DATASET& keyRows, int32_t first, uint32_t tuples, uint32_t keys, DATASET** out) {
    *out = nullptr;
    if (keyRows.rowsUsed == 0 || tuples == 0 || keys == 0 || tuples < keys || first < 0 ||
        first + static_cast<int32_t>(keys) > keyRows.rowsUsed)
        return ERR_GENERAL_ERROR;
    // Tuples are joined last first: each join puts the new columns in front.
    DatasetPtr row;
    for (uint32_t t = tuples; t-- > 0;) {
        const int32_t r = first + static_cast<int32_t>(std::min(t, keys - 1));
        DatasetPtr tuple;
        if (int rc = Into(&tuple, [&](DATASET** o) { return RowOf(keyRows, r, o); }); rc != 0)
            return rc;
        if (row == nullptr) {
            row.reset(tuple.release());
        } else if (int rc = ds_JoinColumns(row.get(), tuple.get()); rc != 0) {
            return rc;
        }
    }
    *out = row.release();
    return 0;
}

int KS_JoinParams(const SCS_STMT* cur, const DATASET* generated, const std::vector<PARAM_DESC>& generatedDescs,
                  bool keepSelectList, DATASET** out, std::vector<PARAM_DESC>* descs) {
    *out = nullptr;
    descs->clear();
    const SCR_MARKERS& m = cur->markers;
    const DATASET* kept = (cur->flags & SCS_PARAMS_KEPT) != 0 ? cur->keptParams : nullptr;
    const int head = static_cast<int>(m.inSelectList + m.inFrom);
    const int dropped = keepSelectList ? 0 : static_cast<int>(m.inSelectList);
    try {
        // Descriptions follow the values: the application's around the generated ones.
        const std::vector<PARAM_DESC>& user = cur->userParamDescs;
        auto userRange = [&](int from, int to) {
            for (int i = from; i < to && i < static_cast<int>(user.size()); ++i)
                descs->push_back(user[static_cast<size_t>(i)]);
        };
        userRange(dropped, head);
        descs->insert(descs->end(), generatedDescs.begin(), generatedDescs.end());
        userRange(head, static_cast<int>(user.size()));
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    DatasetPtr acc, gen, before, after;
    if (generated != nullptr) {
        if (int rc = Into(&gen, [&](DATASET** o) { return RowOf(*generated, 0, o); }); rc != 0)
            return rc;
    }
    if (kept != nullptr && kept->rowsUsed > 0 && kept->colsUsed > 0) {
        const int split = std::min<int>(head, kept->colsUsed);
        const auto head = [&](DATASET** o) { return ColumnsOf(*kept, std::min(dropped, split), split, o); };
        if (int rc = Into(&before, head); rc != 0)
            return rc;
        if (int rc = Into(&after, [&](DATASET** o) { return ColumnsOf(*kept, split, kept->colsUsed, o); }); rc != 0)
            return rc;
    }
    // ds_JoinColumns puts the given columns in front of the dataset's own: the parts go in
    // from the back.
    for (DatasetPtr* part : {&after, &gen, &before}) {
        if (*part == nullptr)
            continue;
        if (acc == nullptr)
            acc.reset(part->release());
        else if (int rc = ds_JoinColumns(acc.get(), part->get()); rc != 0)
            return rc;
    }
    *out = acc.release();
    return 0;
}

int KS_GetKeySet_KSD(SCS_STMT* cur) {
    KSD* ks = cur->keyset;
    if (ks == nullptr || KeyColCount(cur) == 0)
        return ERR_GENERAL_ERROR;
    if (int rc = scs_EnsureAux1(cur); rc != 0)
        return rc;
    SCR_STMTINFO& q = cur->analysis2;
    int rc = SCR_AnalyseSQL(&q, cur->text.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
    if (rc == 0)
        rc = KS_AddKeyOrderBy(&q, cur);
    if (rc == 0)
        rc = SCR_SelListSet(&q, KS_KeyList(cur).c_str());
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "SCR_AnalyseSQL failed: %s", cur->text.c_str());
        return rc;
    }
    const OA_OPTABLE& agent = AgentOf(cur);
    if (rc = agent.DRV_Prepare(cur->aux1, PT_NodeText(q.root)); rc != 0)
        return rc;
    DATASET* values = nullptr;
    std::vector<PARAM_DESC> descs;
    if (rc = KS_JoinParams(cur, nullptr, {}, false, &values, &descs); rc != 0)
        return rc;
    if (rc = RunWithParams(cur, cur->aux1, values, descs); rc != 0)
        return rc;
    if (ks->keys == nullptr) {
        if (rc = SS_Alloc(&ks->keys); rc != 0)
            return rc;
    }
    KS_Close(ks);
    int32_t count = 0;
    rc = SS_GetRsltSet(ks->keys, &agent, cur->aux1, &count);
    agent.DRV_CloseCursor(cur->aux1);
    if (rc != 0) {
        LOG_MSG(LOG_ERR, "KS_GetKeySet_KSD: Could not fill dataset cache");
        KS_Close(ks);
        return rc;
    }
    try {
        ks->rowStatus.assign(static_cast<size_t>(count), KS_ROW_SUCCESS);
    } catch (const std::bad_alloc&) {
        KS_Close(ks);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    cur->rowCount = count;
    return 0;
}

int scs_p_KeysetFetch(SCS_STMT* cur, DS_ROWSET* rowset, int32_t row) {
    KSD* ks = cur->keyset;
    if (ks == nullptr || ks->keys == nullptr || KeyColCount(cur) == 0 ||
        ks->rowStatus.size() < static_cast<size_t>(std::max(cur->rowCount, 0)))
        return ERR_GENERAL_ERROR;
    int32_t start = 0;
    if (int rc = scs_p_StartRow(cur, row, rowset->rowCount, &start); rc != 0)
        return rc;
    cur->rowsetStart = start + 1;
    return KS_ReadRowsetAt(cur, rowset, start, nullptr);
}

int KS_ReadRowsetAt(SCS_STMT* cur, DS_ROWSET* rowset, int32_t start, int32_t* liveRows) {
    KSD* ks = cur->keyset;
    if (liveRows != nullptr)
        *liveRows = 0;
    if (ks == nullptr || ks->keys == nullptr || KeyColCount(cur) == 0 || start < 0)
        return ERR_GENERAL_ERROR;
    const int32_t r = rowset->rowCount;
    DatasetPtr keyRows;
    if (int rc = Into(&keyRows, [&](DATASET** o) { return SS_FetchRowset(ks->keys, start, r, o); }); rc != 0)
        return rc;
    const int32_t statuses = static_cast<int32_t>(ks->rowStatus.size()) - start;
    const int32_t m = keyRows != nullptr ? std::clamp<int32_t>(keyRows->rowsUsed, 0, std::max(statuses, 0)) : 0;
    int32_t blocks = 0, inLast = 0, perBlock = 0;
    if (int rc = scs_KeyBlockGeometry(cur, static_cast<uint16_t>(KeyColCount(cur)), &blocks, &inLast, &perBlock);
        rc != 0)
        return rc;
    const uint32_t compared = static_cast<uint32_t>(KS_ComparedColumns(cur).size());
    const uint32_t tuples = static_cast<uint32_t>(perBlock);
    if ((cur->opts->auxFlags & kRowsetQueryPrepared) == 0 || cur->rowsetTuples != tuples) {
        if (int rc = PrepareRowsetQuery(cur, tuples); rc != 0)
            return rc;
    }
    DatasetPtr fetched;
    if (m > 0) {
        if (int rc = Into(&fetched, [&](DATASET** o) { return FetchByKeys(cur, *keyRows, m, tuples, o); }); rc != 0)
            return rc;
    }
    const uint32_t keyCols = KeyColCount(cur);
    const int hidden = static_cast<int>(compared + keyCols);
    const int visible = fetched != nullptr ? fetched->colsUsed - hidden : 0;

    // Each fetched row by its key; a key repeated to fill a block brings its row once.
    std::unordered_map<std::string, int32_t> byKey;
    for (int32_t f = 0; fetched != nullptr && f < fetched->rowsUsed; ++f)
        byKey.emplace(KeyBytes(*fetched, visible + static_cast<int>(compared), keyCols, f), f);

    DATASET* rows = nullptr;
    if (fetched != nullptr) {
        if (int rc = ds_CloneLayout(&rows, fetched.get(), r); rc != 0)
            return rc;
    } else {
        rows = NewDataset();
        if (rows == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (rowset->rows != nullptr)
        DatasetDeleter{}(rowset->rows);
    rowset->rows = rows;
    for (int32_t k = 0; k < m; ++k) {
        const int32_t keysetRow = start + k;
        int16_t& status = ks->rowStatus[static_cast<size_t>(keysetRow)];
        const auto found = fetched != nullptr ? byKey.find(KeyBytes(*keyRows, 0, keyCols, k)) : byKey.end();
        int rc = 0;
        if (found == byKey.end()) {
            // The row is gone: an empty row in its place, marked deleted for good.
            status = KS_ROW_DELETED;
            rc = rows->colsUsed > 0 ? ds_InsertRow(rows, rows->rowsUsed) : 0;
        } else {
            // Fetched again: its own update and an earlier error are in the past.
            if (status == KS_ROW_UPDATED || status == KS_ROW_ERROR)
                status = KS_ROW_SUCCESS;
            rc = ds_CopyRow(rows, fetched.get(), rows->rowsUsed, found->second, 0);
            if (liveRows != nullptr)
                ++*liveRows;
        }
        if (rc != 0)
            return rc;
        if (k < rowset->rowCount)
            rowset->rowStatus[k] = status;
    }
    cur->hiddenCols = static_cast<uint16_t>(hidden);
    if (int rc = KS_TakeHiddenColumns(cur, rows); rc != 0)
        return rc;
    if (cur->opts->concurrency == SCS_LOCK) {
        if (int rc = scs_p_LockRows(cur, start, m); rc != 0)
            return rc;
    }
    const int32_t max = cur->maxLength != nullptr ? *cur->maxLength : 0;
    if (max > 0 && rows->colsUsed > 0)
        return ds_ApplyMaxLength(rows, static_cast<uint32_t>(max));
    return 0;
}

bool KS_StaticWithKeys(const SCS_STMT* cur) {
    return cur->opts->cursorType == SCS_STATIC && cur->opts->concurrency != SCS_READ_ONLY &&
           cur->analysis.rootKind == 74 && KeyColCount(cur) > 0;
}

int KS_FillStaticWithKeys(SCS_STMT* cur, int32_t* rowCount) {
    *rowCount = -1;
    if (int rc = EnsureStmt(cur, &cur->rowsetStmt); rc != 0)
        return rc;
    SCR_STMTINFO& q = cur->valuesAnalysis;
    int rc = SCR_AnalyseSQL(&q, cur->text.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
    if (rc == 0)
        rc = SCR_SelListAppend(&q, HiddenColumns(cur).c_str());
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "SCR_AnalyseSQL failed: %s", cur->text.c_str());
        return rc;
    }
    const OA_OPTABLE& agent = AgentOf(cur);
    if (rc = agent.DRV_Prepare(cur->rowsetStmt, PT_NodeText(q.root)); rc != 0)
        return rc;
    // The rowset query is built again when a keyset-driven fetch needs it.
    cur->opts->auxFlags &= static_cast<uint16_t>(~kRowsetQueryPrepared);
    DATASET* values = nullptr;
    std::vector<PARAM_DESC> descs;
    if (rc = KS_JoinParams(cur, nullptr, {}, true, &values, &descs); rc != 0)
        return rc;
    if (rc = RunWithParams(cur, cur->rowsetStmt, values, descs); rc != 0)
        return rc;
    rc = SS_GetRsltSet(cur->staticResult, &agent, cur->rowsetStmt, rowCount);
    agent.DRV_CloseCursor(cur->rowsetStmt);
    if (rc != 0)
        return rc;
    cur->hiddenCols = static_cast<uint16_t>(KS_ComparedColumns(cur).size() + KeyColCount(cur));
    try {
        cur->keyset->rowStatus.assign(static_cast<size_t>(std::max(*rowCount, 0)), KS_ROW_SUCCESS);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

int KS_TakeHiddenColumns(SCS_STMT* cur, DATASET* rows) {
    const int hidden = cur->hiddenCols;
    if (rows == nullptr || hidden == 0 || rows->colsUsed < hidden)
        return 0;
    const int visible = rows->colsUsed - hidden;
    if (cur->opts->concurrency == SCS_VALUES) {
        // The compared values stay beside the keys, one row per rowset row.
        DATASET* values = nullptr;
        if (int rc = ds_Clone(&values, rows); rc != 0)
            return rc;
        for (int c = 0; c < visible && values->colsUsed > 0; ++c)
            ds_DropColumn(values, 0);
        if (cur->optValues != nullptr)
            DatasetDeleter{}(cur->optValues);
        cur->optValues = values;
    }
    for (int c = rows->colsUsed - 1; c >= visible; --c)
        ds_DropColumn(rows, c);
    return 0;
}

int scs_p_LockRows(SCS_STMT* cur, int32_t first, int32_t count) {
    KSD* ks = cur->keyset;
    if (cur->lockByUpdate == 0 || ks == nullptr || count <= 0)
        return 0;
    // In autocommit each lock would end with its own statement: it would hold nothing and
    // only write (and fire triggers) at every fetch.
    int32_t autocommit = 0, got = 0;
    const OA_OPTABLE& agent = AgentOf(cur);
    if (agent.DRV_GetProperty(cur->agentConn, OA_PROP_AUTOCOMMIT, &autocommit, sizeof autocommit, &got) != 0 ||
        autocommit != 0)
        return 0;
    const uint32_t keyCols = KeyColCount(cur);
    const SCS_COLDESC* keys = KeyCols(cur);
    // One table: the key columns name it (a lock on a join is not taken).
    if (ks->fromTableCount != 1 || keyCols == 0)
        return 0;
    if (int rc = scs_EnsureAux1(cur); rc != 0)
        return rc;
    std::string set, where;
    for (uint32_t k = 0; k < keyCols; ++k) {
        set += (k != 0 ? ", " : "") + std::string(keys[k].column) + " = ?";
        where += (k != 0 ? " AND " : "") + std::string(keys[k].column) + " = ?";
    }
    std::string table = keys[0].owner[0] != '\0' ? std::string(keys[0].owner) + "." + keys[0].table : keys[0].table;
    const std::string sql = "UPDATE " + table + " SET " + set + " WHERE " + where;
    if (int rc = agent.DRV_Prepare(cur->aux1, sql.c_str()); rc != 0)
        return rc;
    std::vector<PARAM_DESC> descs;
    for (int twice = 0; twice < 2; ++twice)
        for (uint32_t k = 0; k < keyCols; ++k)
            descs.push_back(scs_ParamDescFromColDesc(keys[k]));
    DatasetPtr keyRows;
    if (int rc = Into(&keyRows, [&](DATASET** o) { return SS_FetchRowset(ks->keys, first, count, o); }); rc != 0)
        return rc;
    int32_t wanted = 0, locked = 0;
    for (int32_t i = 0; keyRows != nullptr && i < keyRows->rowsUsed; ++i) {
        const int16_t status = ks->rowStatus[static_cast<size_t>(first + i)];
        if (status != KS_ROW_SUCCESS && status != KS_ROW_UPDATED)
            continue;
        ++wanted;
        DATASET* values = nullptr;
        if (KS_KeysToParams(*keyRows, i, 2, 1, &values) != 0)
            break;
        if (WidenTextColumns(cur, values) != 0) {
            DatasetDeleter{}(values);
            break;
        }
        if (RunWithParams(cur, cur->aux1, values, descs) != 0)
            break;
        int32_t touched = 0;
        if (agent.DRV_GetProperty(cur->aux1, OA_PROP_ROW_COUNT, &touched, sizeof touched, &got) != 0 || touched <= 0)
            break;
        ++locked;
    }
    if (locked < wanted) {
        LOG_MSG(LOG_ERR, "scs_p_LockRows: Couldn't acquire row lock(s).");
        return ERR_ERROR_IN_ROW;
    }
    return 0;
}
