// Positioned refresh, update, delete and add of the cursor library, by generated SQL.
#include "scrs/scs_setpos.h"

#include <algorithm>
#include <new>
#include <string>

#include "drv_pro9/oa_services.h"
#include "scrs/ks_keyset.h"
#include "scrs/rvc_rowver.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_desc.h"
#include "scrs/scs_catalog.h"
#include "scrs/scs_prepare.h"
#include "scrs/scs_scroll.h"
#include "scrs/scs_stmt.h"
#include "scrs/ss_result.h"
#include "sqlparse/ptree.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

constexpr uint16_t kRefresh = 1;
constexpr uint16_t kUpdate = 2;
constexpr uint16_t kDelete = 3;
constexpr uint16_t kAdd = 4;
constexpr int16_t kNoRow = 3;  // SQL_ROW_NOROW
constexpr int16_t kAdded = 4;  // SQL_ROW_ADDED
constexpr int32_t kEveryRow = -2;
constexpr int32_t kQueryKind = 74;

const OA_OPTABLE& AgentOf(const SCS_STMT* cur) { return *cur->agent->ops; }

uint32_t KeyColCount(const SCS_STMT* cur) {
    return cur->keyset != nullptr && cur->keyset->keyCols != nullptr ? cur->keyset->keyCols->count : 0;
}
const SCS_COLDESC* KeyCols(const SCS_STMT* cur) {
    return static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements);
}
bool IsStatic(const SCS_STMT* cur) { return cur->opts->cursorType == SCS_STATIC; }
bool Values(const SCS_STMT* cur) { return cur->opts->concurrency == SCS_VALUES; }
int32_t RowsetSize(const SCS_STMT* cur) { return std::max(cur->opts->rowsetSize, 1); }

// The table the positioned statements change: the first FROM table, with its owner.
std::string TableName(const SCS_STMT* cur) {
    const auto* t = static_cast<const SCR_TABLEREF*>(cur->fromTables->elements);
    std::string name;
    if (t->schema != nullptr && t->schema[0] != '\0')
        name = std::string(t->schema) + ".";
    return name + (t->table != nullptr ? t->table : "");
}

// Places `part`'s columns in front of acc's (acc takes part when it has none yet).
int Prepend(DatasetPtr* acc, DatasetPtr* part) {
    if (*part == nullptr)
        return 0;
    if (*acc == nullptr) {
        acc->reset(part->release());
        return 0;
    }
    return ds_JoinColumns(acc->get(), part->get());
}

// Row `row` of src as a new one-row dataset holding the columns whose indexes keep()
// accepts; null when it accepts none.
template <class Keep>
int RowColumns(const DATASET& src, int32_t row, Keep keep, DatasetPtr* out) {
    out->reset();
    DATASET* one = nullptr;
    if (int rc = ds_CloneLayout(&one, &src, 1); rc != 0)
        return rc;
    DatasetPtr held(one);
    if (int rc = ds_CopyRow(one, const_cast<DATASET*>(&src), 0, row, 0); rc != 0)
        return rc;
    for (int c = src.colsUsed - 1; c >= 0; --c)
        if (!keep(c))
            ds_DropColumn(one, c);
    if (one->colsUsed > 0)
        out->reset(held.release());
    return 0;
}

// A column that the operation writes: where its value is in the row image, its base name
// and the description of its parameter.
struct Written {
    int imageCol;
    std::string name;
    PARAM_DESC desc;
};

// The result columns of the list that have a base column. Expressions are read-only.
int WrittenColumns(SCS_STMT* cur, const std::vector<int16_t>& columns, std::vector<Written>* out) {
    out->clear();
    if (int rc = scs_LoadResultColDescs(cur); rc != 0)
        return rc;
    UT_ARRAY* own = nullptr;
    const UT_ARRAY* items = cur->selectCols;
    if (items == nullptr) {
        own = ut_ArrayNew(sizeof(SCS_COLDESC));
        if (own == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        if (int rc = scs_p_SelectColsGet(cur, own, nullptr); rc != 0) {
            ut_ArrayFree(&own, SCR_ColDescFree);
            return rc;
        }
        items = own;
    }
    int rc = 0;
    const auto* item = static_cast<const SCS_COLDESC*>(items->elements);
    try {
        for (size_t j = 0; j < columns.size(); ++j) {
            const int c = columns[j];
            if (c < 1 || c > cur->resultColCount || static_cast<uint32_t>(c) > items->count) {
                rc = ERR_INVALID_ARGUMENT_VALUE;
                break;
            }
            const SCS_COLDESC& base = item[c - 1];
            if (base.itemKind != SCS_ITEM_COLUMN || base.column[0] == '\0')
                continue;
            const COLDESC& result = cur->resultCols[c - 1];
            SCS_COLDESC typed{};
            typed.sqlType = result.sqlType;
            typed.columnSize = result.columnSize;
            typed.decimalDigits = result.decimalDigits;
            out->push_back({static_cast<int>(j),
                            scs_p_IdentNormalize(base.column, cur->identQuote, cur->quotedIdentCase, cur->identCase,
                                                 cur->wide != 0, true),
                            scs_ParamDescFromColDesc(typed)});
        }
    } catch (const std::bad_alloc&) {
        rc = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    ut_ArrayFree(&own, SCR_ColDescFree);
    return rc;
}

bool Ignored(const DATASET* image, int32_t row) {
    return image != nullptr && image->colsUsed > 0 && row < image->rowsUsed && image->cols[0].indicators != nullptr &&
           image->cols[0].indicators[row] == DS_IND_IGNORE;
}

// Prepared text, parameter values (handed to the agent, who owns them from then on) and
// descriptions, execution and the rows it touched.
int RunRow(SCS_STMT* cur, DATASET* values, int32_t* touched) {
    const OA_OPTABLE& agent = AgentOf(cur);
    *touched = 0;
    if (values != nullptr) {
        if (int rc = agent.DRV_SetParamValues(cur->aux1, values); rc != 0)
            return rc;
    }
    if (cur->needParamDescs != 0 && !cur->paramDescs.empty()) {
        const auto n = static_cast<uint16_t>(cur->paramDescs.size());
        if (int rc = agent.DRV_SetParamDescs(cur->aux1, n, cur->paramDescs.data()); rc != 0)
            return rc;
    }
    if (int rc = agent.DRV_Execute(cur->aux1); rc != 0)
        return rc;
    int32_t got = 0;
    return agent.DRV_GetProperty(cur->aux1, OA_PROP_ROW_COUNT, touched, sizeof *touched, &got);
}

// What an update or delete finds its rows by: the key rows of the rowset (the snapshot rows
// of a static cursor, whose trailing columns are the compared values and the keys) and the
// optimistic values.
struct RowSource {
    DatasetPtr keys;
    int keyFirst = 0;
    const DATASET* compared = nullptr;
    int comparedFirst = 0;
    int32_t rows = 0;
};

int LoadRowSource(SCS_STMT* cur, int32_t start0, RowSource* src) {
    DATASET* rows = nullptr;
    SS_RESULT* from = IsStatic(cur) ? cur->staticResult : cur->keyset->keys;
    if (from == nullptr)
        return ERR_GENERAL_ERROR;
    if (int rc = SS_FetchRowset(from, start0, RowsetSize(cur), &rows); rc != 0)
        return rc;
    src->keys.reset(rows);
    src->rows = rows != nullptr ? rows->rowsUsed : 0;
    if (rows == nullptr || src->rows == 0)
        return 0;
    const int keyCols = static_cast<int>(KeyColCount(cur));
    src->keyFirst = rows->colsUsed - keyCols;
    if (IsStatic(cur)) {
        src->compared = rows;
        src->comparedFirst = rows->colsUsed - cur->hiddenCols;
    } else {
        src->compared = cur->optValues;
        src->comparedFirst = 0;
    }
    return src->keyFirst >= 0 ? 0 : ERR_GENERAL_ERROR;
}

// The statuses handed out: n entries, no row unless written.
int NewStatuses(int32_t n, uint16_t** out) {
    *out = static_cast<uint16_t*>(uh_Calloc(static_cast<size_t>(n), sizeof(uint16_t)));
    if (*out == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    std::fill(*out, *out + n, static_cast<uint16_t>(kNoRow));
    return 0;
}

// The messages of the generated statements become the application statement's.
void HandOverErrors(SCS_STMT* cur) {
    scs_KeepStmtErrors(cur->aux1, 0);
    oa_ErrClearOf(cur->agentStmt);
    oa_ErrMove(cur->agentStmt, cur->aux1);
}

// What an update or delete of rowset rows shares: the rows' keys and compared values, the
// text up to its compared columns, and the text last prepared.
struct Change {
    bool update = false;
    const DATASET* image = nullptr;
    const std::vector<Written>* written = nullptr;
    RowSource src;
    std::vector<const SCS_COLDESC*> compared;
    std::string base;
    std::string prepared;
};

int StartChange(SCS_STMT* cur, bool update, const DATASET* image, const std::vector<Written>& written, Change* c) {
    c->update = update;
    c->image = image;
    c->written = &written;
    if (int rc = LoadRowSource(cur, cur->rowsetStart - 1, &c->src); rc != 0)
        return rc;
    c->compared = KS_ComparedColumns(cur);
    const uint32_t keyCols = KeyColCount(cur);
    const SCS_COLDESC* keys = KeyCols(cur);
    if (written.size() + keyCols + c->compared.size() > static_cast<size_t>(std::max(cur->maxParams, 0))) {
        LOG_MSG(LOG_ERR, "scs_p_SetPosOp: more parameters than the agent takes");
        return ERR_GENERAL_ERROR;
    }
    try {
        c->base = update ? "UPDATE " + TableName(cur) + " SET " : "DELETE FROM " + TableName(cur);
        for (size_t w = 0; w < written.size(); ++w)
            c->base += (w != 0 ? ", " : "") + written[w].name + " = ?";
        c->base += " WHERE ";
        for (uint32_t k = 0; k < keyCols; ++k)
            c->base += (k != 0 ? " AND " : "") + std::string(keys[k].column) + " = ?";
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

// Changes rowset row i (from 0) with the values of image row imageRow: its new status, and
// a code that ends the whole operation (a text the agent cannot prepare) or 0.
int ChangeRow(SCS_STMT* cur, Change& c, int32_t i, int32_t imageRow, int16_t* status) {
    const uint32_t keyCols = KeyColCount(cur);
    const SCS_COLDESC* keys = KeyCols(cur);
    const RowSource& src = c.src;
    int rc = 0;
    // Under values concurrency the row is found by its values as fetched; a NULL value is
    // compared with IS NULL and takes no parameter.
    std::string text = c.base;
    std::vector<int> nonNull;
    if (!c.compared.empty()) {
        if (src.compared == nullptr || i >= src.compared->rowsUsed)
            rc = ERR_GENERAL_ERROR;
        for (size_t k = 0; rc == 0 && k < c.compared.size(); ++k) {
            const int col = src.comparedFirst + static_cast<int>(k);
            const bool null = src.compared->cols[col].indicators[i] == DS_IND_NULL;
            text += " AND " + std::string(c.compared[k]->column) + (null ? " IS NULL" : " = ?");
            if (!null)
                nonNull.push_back(col);
        }
    }
    DatasetPtr params, part;
    if (rc == 0 && !nonNull.empty()) {
        const auto keep = [&](int col) { return std::find(nonNull.begin(), nonNull.end(), col) != nonNull.end(); };
        rc = RowColumns(*src.compared, i, keep, &part);
        if (rc == 0)
            rc = KS_WidenTextParams(cur, part.get());
        if (rc == 0)
            rc = Prepend(&params, &part);
    }
    if (rc == 0) {
        rc = RowColumns(*src.keys, i, [&](int col) { return col >= src.keyFirst; }, &part);
        if (rc == 0)
            rc = KS_WidenTextParams(cur, part.get());
        if (rc == 0)
            rc = Prepend(&params, &part);
    }
    if (rc == 0 && c.update) {
        const std::vector<Written>& written = *c.written;
        const auto keep = [&](int col) {
            return std::any_of(written.begin(), written.end(), [col](const Written& w) { return w.imageCol == col; });
        };
        rc = imageRow < c.image->rowsUsed ? RowColumns(*c.image, imageRow, keep, &part) : ERR_INVALID_ARGUMENT_VALUE;
        if (rc == 0)
            rc = Prepend(&params, &part);
    }
    if (rc == 0) {
        try {
            cur->paramDescs.clear();
            for (const Written& w : *c.written)
                cur->paramDescs.push_back(w.desc);
            for (uint32_t kc = 0; kc < keyCols; ++kc)
                cur->paramDescs.push_back(scs_ParamDescFromColDesc(keys[kc]));
            for (int col : nonNull)
                cur->paramDescs.push_back(
                    scs_ParamDescFromColDesc(*c.compared[static_cast<size_t>(col - src.comparedFirst)]));
        } catch (const std::bad_alloc&) {
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }
    if (rc == 0 && text != c.prepared) {
        // A text that cannot be prepared fails every row alike: the operation ends.
        if (int prc = AgentOf(cur).DRV_Prepare(cur->aux1, text.c_str()); prc != 0) {
            *status = KS_ROW_ERROR;
            return prc;
        }
        c.prepared = text;
    }
    int32_t touched = 0;
    if (rc == 0)
        rc = RunRow(cur, params.release(), &touched);
    *status = rc == 0 && touched > 0 ? (c.update ? KS_ROW_UPDATED : KS_ROW_DELETED) : KS_ROW_ERROR;
    return 0;
}

// The operation's outcome from the rows changed of those tried.
int ChangeOutcome(SCS_STMT* cur, int32_t changed, int32_t tried, bool many) {
    cur->affectedRows = changed;
    if (changed == 0)
        return ERR_NO_ROWS_UPDATED_OR_DELETED;
    if (many && changed < tried)
        return ERR_MORE_THAN_ONE_ROW_UPDATED_OR;
    return 0;
}

// Update (with the written columns) or delete of one row or every row of the rowset.
int UpdateOrDelete(SCS_STMT* cur, int32_t row, bool update, const DATASET* image, const std::vector<Written>& written,
                   uint16_t* statuses) {
    Change c;
    if (int rc = StartChange(cur, update, image, written, &c); rc != 0)
        return rc;
    const int32_t start0 = cur->rowsetStart - 1;
    const int32_t first = row == kEveryRow ? 0 : row - 1;
    const int32_t last = row == kEveryRow ? c.src.rows : row;
    std::vector<int16_t>& kept = cur->keyset->rowStatus;
    int32_t tried = 0, changed = 0;
    std::vector<int32_t> updated;
    for (int32_t i = first; i < last; ++i) {
        const size_t o = row == kEveryRow ? static_cast<size_t>(i) : 0;
        const size_t k = static_cast<size_t>(start0 + i);
        if (i >= c.src.rows || k >= kept.size())
            return ERR_INVALID_CURSOR_POSITION;  // only a single row can lie past the keys
        int16_t& status = kept[k];
        if (status == KS_ROW_DELETED || status == KS_ROW_ERROR) {
            if (row != kEveryRow)
                return ERR_INVALID_CURSOR_POSITION;
            statuses[o] = static_cast<uint16_t>(status);
            continue;
        }
        if (Ignored(image, i)) {
            statuses[o] = static_cast<uint16_t>(status);
            continue;
        }
        ++tried;
        const int rc = ChangeRow(cur, c, i, i, &status);
        statuses[o] = static_cast<uint16_t>(status);
        if (rc != 0)
            return rc;
        if (status != KS_ROW_ERROR) {
            ++changed;
            if (update)
                updated.push_back(i);
        }
    }
    if (!updated.empty() && Values(cur)) {
        if (int rc = scs_p_RefreshOptConcRows(cur, updated); rc != 0)
            return rc;
    }
    return ChangeOutcome(cur, changed, tried, row == kEveryRow);
}

int Insert(SCS_STMT* cur, int32_t row, const DATASET* image, const std::vector<Written>& written,
           uint16_t* statuses) {
    if (written.size() > static_cast<size_t>(std::max(cur->maxParams, 0))) {
        LOG_MSG(LOG_ERR, "scs_p_SetPosOp: more parameters than the agent takes");
        return ERR_GENERAL_ERROR;
    }
    std::string names, marks;
    try {
        cur->paramDescs.clear();
        for (size_t w = 0; w < written.size(); ++w) {
            names += (w != 0 ? ", " : "") + written[w].name;
            marks += w != 0 ? ", ?" : "?";
            cur->paramDescs.push_back(written[w].desc);
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    const std::string text = "INSERT INTO " + TableName(cur) + " ( " + names + " ) VALUES ( " + marks + " )";
    if (int rc = AgentOf(cur).DRV_Prepare(cur->aux1, text.c_str()); rc != 0)
        return rc;
    const int32_t first = row == kEveryRow ? 0 : row - 1;
    const int32_t last = row == kEveryRow ? RowsetSize(cur) : row;
    int32_t tried = 0, added = 0;
    for (int32_t i = first; i < last && i < image->rowsUsed; ++i) {
        const size_t o = row == kEveryRow ? static_cast<size_t>(i) : 0;
        if (Ignored(image, i))
            continue;  // stays no row
        ++tried;
        const auto keep = [&](int c) {
            return std::any_of(written.begin(), written.end(), [c](const Written& w) { return w.imageCol == c; });
        };
        DatasetPtr params;
        int rc = RowColumns(*image, i, keep, &params);
        int32_t touched = 0;
        if (rc == 0)
            rc = RunRow(cur, params.release(), &touched);
        statuses[o] = static_cast<uint16_t>(rc == 0 ? kAdded : KS_ROW_ERROR);
        if (rc == 0)
            ++added;
    }
    cur->affectedRows = added;
    return added < tried ? ERR_ERROR_IN_ROW : 0;
}

// Refresh: a keyset-driven cursor reads its rowset again by key (rows gone become deleted,
// the optimistic values are the server's); a static cursor's rows are its snapshot.
int Refresh(SCS_STMT* cur, int32_t row, uint16_t* statuses) {
    const int32_t start0 = cur->rowsetStart - 1;
    if (!IsStatic(cur)) {
        DS_ROWSET* rs = nullptr;
        if (int rc = ds_RowsetNew(&rs, RowsetSize(cur)); rc != 0)
            return rc;
        const int rc = KS_ReadRowsetAt(cur, rs, cur->rowsetStart - 1, nullptr);
        ds_RowsetFree(&rs);
        if (rc != 0)
            return rc;
    }
    const std::vector<int16_t>& kept = cur->keyset->rowStatus;
    const int32_t first = row == kEveryRow ? 0 : row - 1;
    const int32_t last = row == kEveryRow ? RowsetSize(cur) : row;
    for (int32_t i = first; i < last; ++i) {
        const size_t k = static_cast<size_t>(start0 + i);
        if (start0 + i < 0 || k >= kept.size() || (cur->rowCount >= 0 && start0 + i >= cur->rowCount))
            break;
        statuses[row == kEveryRow ? static_cast<size_t>(i) : 0] = static_cast<uint16_t>(kept[k]);
    }
    return 0;
}

// Reads one snapshot row of a static cursor again by key into the snapshot, when the
// snapshot holds it in memory.
int RefreshStaticRow(SCS_STMT* cur, const DATASET& snapshotRows, int32_t i) {
    SS_RESULT* ss = cur->staticResult;
    const int32_t at = cur->rowsetStart - 1 + i - ss->firstInMemory;
    if (ss->firstInMemory < 0 || ss->rows == nullptr || at < 0 || at >= ss->rows->rowsUsed)
        return 0;
    const OA_OPTABLE& agent = AgentOf(cur);
    if (cur->aux2 == 0) {
        uint32_t made = 0;
        if (agent.DRV_AllocStmt(cur->agentConn, &made) != 0 || made == 0)
            return ERR_GENERAL_ERROR;
        cur->aux2 = made;
    }
    SCR_STMTINFO q{};
    int rc = SCR_AnalyseSQL(&q, cur->text.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
    if (rc == 0)
        rc = SCR_SelListAppend(&q, KS_HiddenColumnList(cur).c_str());
    if (rc == 0)
        rc = SCR_WhereAdd(&q, KS_KeyPredicate(cur, 1).c_str());
    if (rc == 0)
        rc = agent.DRV_Prepare(cur->aux2, PT_NodeText(q.root));
    SCR_StmtInfoFree(&q);
    if (rc != 0)
        return rc;
    const int keyFirst = snapshotRows.colsUsed - static_cast<int>(KeyColCount(cur));
    DatasetPtr key;
    if (rc = RowColumns(snapshotRows, i, [&](int c) { return c >= keyFirst; }, &key); rc != 0)
        return rc;
    if (rc = KS_WidenTextParams(cur, key.get()); rc != 0)
        return rc;
    std::vector<PARAM_DESC> keyDescs;
    for (uint32_t k = 0; k < KeyColCount(cur); ++k)
        keyDescs.push_back(scs_ParamDescFromColDesc(KeyCols(cur)[k]));
    DATASET* values = nullptr;
    std::vector<PARAM_DESC> descs;
    if (rc = KS_JoinParams(cur, key.get(), keyDescs, true, &values, &descs); rc != 0)
        return rc;
    if (values != nullptr) {
        if (rc = agent.DRV_SetParamValues(cur->aux2, values); rc != 0)
            return rc;
    }
    if (cur->needParamDescs != 0 && !descs.empty()) {
        if (rc = agent.DRV_SetParamDescs(cur->aux2, static_cast<uint16_t>(descs.size()), descs.data()); rc != 0)
            return rc;
    }
    if (rc = agent.DRV_Execute(cur->aux2); rc != 0)
        return rc;
    DATASET fresh{};
    rc = agent.DRV_Fetch(cur->aux2, 1, &fresh);
    if (rc == 0 && fresh.rowsUsed == 1)
        rc = ds_CopyRow(ss->rows, &fresh, at, 0, 0);
    ds_Free(&fresh);
    agent.DRV_CloseCursor(cur->aux2);
    return rc;
}

}  // namespace

bool scs_SetPosSupported(const SCS_STMT* cur) {
    if (cur == nullptr || cur->keyset == nullptr || KeyColCount(cur) == 0 || cur->fromTables == nullptr ||
        cur->fromTables->count == 0)
        return false;
    // Keyset-driven, mixed and dynamic cursors address the rowset's rows by their keys.
    if (cur->opts->cursorType == SCS_KEYSET || cur->opts->cursorType == SCS_DYNAMIC)
        return cur->analysis.rootKind == kQueryKind;
    return IsStatic(cur) && KS_StaticWithKeys(cur) && cur->hiddenCols != 0 &&
           (cur->opts->concurrency == SCS_LOCK || cur->opts->concurrency == SCS_VALUES);
}

namespace {

// After the cursor's own update on a row-versioning dynamic cursor: the updated rows are read
// again as a fetch reads them and their new versions recorded, so that the next fetch does
// not report the cursor's own change as another user's. The fetch's digest and this one come
// from the same rowset row.
int RecordOwnVersions(SCS_STMT* cur, int32_t row, uint16_t* statuses, int32_t n) {
    const int32_t start0 = cur->rowsetStart - 1;
    const int32_t size = RowsetSize(cur);
    std::vector<int16_t>& kept = cur->keyset->rowStatus;
    const std::vector<int16_t> saved = kept;
    DS_ROWSET* rs = nullptr;
    if (int rc = ds_RowsetNew(&rs, size); rc != 0)
        return rc;
    int rc = KS_ReadRowsetAt(cur, rs, start0, nullptr);
    kept = saved;  // the statuses the update gave stay
    DatasetPtr keys;
    if (rc == 0) {
        DATASET* got = nullptr;
        rc = SS_FetchRowset(cur->keyset->keys, start0, size, &got);
        keys.reset(got);
    }
    std::vector<RVC_DIGEST> keyDigests(static_cast<size_t>(size)), rowDigests(static_cast<size_t>(size));
    std::vector<int16_t> versions(static_cast<size_t>(size), RVC_ROW_UNCHANGED);
    const int32_t live = rc == 0 && rs->rows != nullptr && keys != nullptr ? std::min(rs->rows->rowsUsed, keys->rowsUsed) : 0;
    for (int32_t i = 0; rc == 0 && i < n; ++i) {
        const int32_t at = row == kEveryRow ? i : row - 1;
        if (statuses[i] != KS_ROW_UPDATED || at >= live)
            continue;
        if (RVC_RowDigest(*keys, at, &keyDigests[static_cast<size_t>(at)]) != 0 ||
            RVC_RowDigest(*rs->rows, at, &rowDigests[static_cast<size_t>(at)]) != 0) {
            statuses[i] = KS_ROW_ERROR;
            continue;
        }
        versions[static_cast<size_t>(at)] = RVC_ROW_UPDATED;
    }
    ds_RowsetFree(&rs);
    if (rc != 0)
        return rc;
    rc = RVC_UpdateRows(cur, keyDigests, rowDigests, versions.data(), live);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t at = row == kEveryRow ? i : row - 1;
        if (at < live && versions[static_cast<size_t>(at)] == RVC_ROW_ERROR) {
            statuses[i] = KS_ROW_ERROR;
            if (start0 + at >= 0 && static_cast<size_t>(start0 + at) < kept.size())
                kept[static_cast<size_t>(start0 + at)] = KS_ROW_ERROR;
        }
    }
    return rc;
}

}  // namespace

int scs_p_SetPosOp(SCS_STMT* cur, int32_t row, uint16_t operation, uint16_t** outRowStatus, int32_t* outRowCount,
                   const DATASET* rowImage, const std::vector<int16_t>& columns) {
    if (operation != kRefresh && operation != kUpdate && operation != kDelete && operation != kAdd)
        return 0;
    if (outRowStatus == nullptr || outRowCount == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *outRowStatus = nullptr;
    *outRowCount = 0;
    if ((operation == kUpdate || operation == kAdd) && (rowImage == nullptr || columns.empty()))
        return ERR_INVALID_ARGUMENT_VALUE;
    if (row != kEveryRow && (row < 1 || row > RowsetSize(cur)))
        return ERR_ROW_VALUE_OUT_OF_RANGE;
    if (operation != kRefresh) {
        if (int rc = scs_CheckUpdatable(cur->clauseFlags); rc != 0)
            return rc;
        if (operation != kAdd && cur->opts->concurrency == SCS_READ_ONLY)
            return ERR_INVALID_ARGUMENT_VALUE;
    }
    const int32_t n = row == kEveryRow ? RowsetSize(cur) : 1;
    uint16_t* statuses = nullptr;
    if (int rc = NewStatuses(n, &statuses); rc != 0)
        return rc;
    cur->affectedRows = 0;
    std::vector<Written> written;
    int rc = 0;
    if (operation == kUpdate || operation == kAdd) {
        rc = WrittenColumns(cur, columns, &written);
        if (rc == 0 && written.empty())
            rc = ERR_INVALID_ARGUMENT_VALUE;  // nothing but read-only columns
    }
    if (rc == 0 && operation != kRefresh) {
        rc = scs_EnsureAux1(cur);
        if (rc == 0) {
            oa_ErrClearOf(cur->aux1);
            scs_KeepStmtErrors(cur->aux1, 1);
            rc = operation == kAdd ? Insert(cur, row, rowImage, written, statuses)
                                   : UpdateOrDelete(cur, row, operation == kUpdate, rowImage, written, statuses);
            HandOverErrors(cur);
            const bool updated = rc == 0 || rc == ERR_MORE_THAN_ONE_ROW_UPDATED_OR || rc == ERR_ERROR_IN_ROW;
            if (operation == kUpdate && updated && cur->rowVersion.helper != nullptr) {
                if (int vrc = RecordOwnVersions(cur, row, statuses, n); vrc != 0)
                    rc = vrc;
            }
        }
    } else if (rc == 0) {
        rc = Refresh(cur, row, statuses);
    }
    // Statuses go out with the warnings that describe them, not with a failure.
    const bool handOut = rc == 0 || rc == ERR_NO_ROWS_UPDATED_OR_DELETED || rc == ERR_MORE_THAN_ONE_ROW_UPDATED_OR ||
                         rc == ERR_ERROR_IN_ROW;
    if (handOut) {
        *outRowStatus = statuses;
        *outRowCount = n;
    } else {
        uh_Free(statuses);
    }
    return rc;
}

int scs_p_RefreshOptConcRows(SCS_STMT* cur, const std::vector<int32_t>& rows) {
    if (rows.empty() || !Values(cur))
        return 0;
    const int32_t start0 = cur->rowsetStart - 1;
    if (IsStatic(cur)) {
        DatasetPtr snapshot;
        DATASET* got = nullptr;
        if (int rc = SS_FetchRowset(cur->staticResult, start0, RowsetSize(cur), &got); rc != 0)
            return rc;
        snapshot.reset(got);
        for (int32_t i : rows) {
            if (snapshot == nullptr || i >= snapshot->rowsUsed)
                continue;
            if (int rc = RefreshStaticRow(cur, *snapshot, i); rc != 0)
                return rc;
        }
        return 0;
    }
    // The rowset query reads the whole rowset; its statuses (this cursor's own updates
    // among them) are kept as they were.
    std::vector<int16_t>& kept = cur->keyset->rowStatus;
    const size_t from = static_cast<size_t>(std::max(start0, 0));
    const size_t to = std::min(kept.size(), from + static_cast<size_t>(RowsetSize(cur)));
    std::vector<int16_t> saved(kept.begin() + static_cast<std::ptrdiff_t>(from),
                               kept.begin() + static_cast<std::ptrdiff_t>(to));
    DS_ROWSET* rs = nullptr;
    if (int rc = ds_RowsetNew(&rs, RowsetSize(cur)); rc != 0)
        return rc;
    const int rc = KS_ReadRowsetAt(cur, rs, cur->rowsetStart - 1, nullptr);
    ds_RowsetFree(&rs);
    std::copy(saved.begin(), saved.end(), kept.begin() + static_cast<std::ptrdiff_t>(from));
    return rc;
}

int scs_p_BulkByBookmark(SCS_STMT* cur, uint16_t operation, const int32_t* bookmarks, uint32_t count,
                         const DATASET* rowImage, const std::vector<int16_t>& columns, uint16_t** outRowStatus,
                         uint32_t* outCount, DS_ROWSET** outRowset) {
    constexpr uint16_t kUpdateByBookmark = 5, kFetchByBookmark = 7;  // 6 deletes
    *outRowStatus = nullptr;
    if (outCount != nullptr)
        *outCount = 0;
    if (outRowset != nullptr)
        *outRowset = nullptr;
    if (operation < kUpdateByBookmark || operation > kFetchByBookmark || bookmarks == nullptr || count == 0 ||
        count > static_cast<uint32_t>(INT32_MAX) ||
        (operation == kUpdateByBookmark && (rowImage == nullptr || columns.empty())) ||
        (operation == kFetchByBookmark && outRowset == nullptr))
        return ERR_GENERAL_ERROR;
    // A bookmark is a row of the result; the operations serve the rows of the current rowset.
    const int32_t size = RowsetSize(cur);
    const int32_t start = cur->rowsetStart;
    if (start < 1 || cur->position == SCS_POS_BEFORE_START || cur->position == SCS_POS_AFTER_END)
        return ERR_BOOKMARK_REFERS_TO_ROW_OUTSIDE_THE;
    for (uint32_t i = 0; i < count; ++i)
        if (bookmarks[i] < start || bookmarks[i] - start >= size)
            return ERR_BOOKMARK_REFERS_TO_ROW_OUTSIDE_THE;
    const auto n = static_cast<int32_t>(count);
    uint16_t* statuses = static_cast<uint16_t*>(uh_Calloc(count, sizeof(uint16_t)));
    if (statuses == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    std::fill(statuses, statuses + count, static_cast<uint16_t>(KS_ROW_ERROR));
    int rc = 0;
    if (operation == kFetchByBookmark) {
        // The rowset read again (a keyset cursor by key, a static one from its snapshot), then
        // handed out in the bookmarks' order: each row once, as often as it is named.
        DS_ROWSET* current = nullptr;
        rc = ds_RowsetNew(&current, size);
        if (rc == 0 && IsStatic(cur)) {
            rc = scs_p_StaticFetch(cur, current, start);
        } else if (rc == 0) {
            rc = KS_ReadRowsetAt(cur, current, start - 1, nullptr);
        }
        DS_ROWSET* out = nullptr;
        if (rc == 0)
            rc = ds_RowsetNew(&out, n);
        if (rc == 0 && current->rows != nullptr)
            rc = ds_CloneLayout(&out->rows, current->rows, n);
        int32_t fetched = 0;
        for (int32_t i = 0; rc == 0 && i < n; ++i) {
            // A row without values (deleted, or past the result) stays all NULL.
            const int32_t k = bookmarks[i] - start;
            statuses[i] = static_cast<uint16_t>(current->rowStatus[k]);
            if (current->rows != nullptr && k < current->rows->rowsUsed && out->rows != nullptr) {
                rc = ds_CopyRow(out->rows, current->rows, i, k, 0);
                fetched += statuses[i] != KS_ROW_DELETED ? 1 : 0;
            }
            out->rowStatus[i] = static_cast<int16_t>(statuses[i]);
        }
        if (rc == 0 && out->rows != nullptr)
            out->rows->rowsUsed = n;
        ds_RowsetFree(&current);
        if (rc != 0) {
            ds_RowsetFree(&out);
            uh_Free(statuses);
            return rc;
        }
        *outRowset = out;
        *outRowStatus = statuses;
        if (outCount != nullptr)
            *outCount = static_cast<uint32_t>(fetched);
        return 0;
    }

    // Update or delete: each bookmark's row by its key, with image row i for bookmark i.
    const bool update = operation == kUpdateByBookmark;
    if (int crc = scs_CheckUpdatable(cur->clauseFlags); crc != 0)
        rc = crc;
    else if (cur->opts->concurrency == SCS_READ_ONLY || !scs_SetPosSupported(cur))
        rc = ERR_INVALID_ARGUMENT_VALUE;
    std::vector<Written> written;
    if (rc == 0 && update) {
        rc = WrittenColumns(cur, columns, &written);
        if (rc == 0 && written.empty())
            rc = ERR_INVALID_ARGUMENT_VALUE;  // nothing but read-only columns
    }
    if (rc == 0)
        rc = scs_EnsureAux1(cur);
    if (rc != 0) {
        uh_Free(statuses);
        return rc;
    }
    oa_ErrClearOf(cur->aux1);
    scs_KeepStmtErrors(cur->aux1, 1);
    Change c;
    rc = StartChange(cur, update, rowImage, written, &c);
    int32_t changed = 0;
    std::vector<int32_t> updated;
    std::vector<int16_t>& kept = cur->keyset->rowStatus;
    for (int32_t i = 0; rc == 0 && i < n; ++i) {
        const int32_t k = bookmarks[i] - start;
        const size_t at = static_cast<size_t>(start - 1 + k);
        if (k >= c.src.rows || at >= kept.size()) {
            statuses[i] = kNoRow;
            continue;
        }
        int16_t status = KS_ROW_ERROR;
        rc = ChangeRow(cur, c, k, i, &status);
        statuses[i] = static_cast<uint16_t>(status);
        if (status == KS_ROW_ERROR)
            continue;
        kept[at] = status;
        ++changed;
        if (update)
            updated.push_back(k);
    }
    HandOverErrors(cur);
    if (rc == 0 && !updated.empty() && Values(cur))
        rc = scs_p_RefreshOptConcRows(cur, updated);
    if (rc == 0)
        rc = ChangeOutcome(cur, changed, n, n > 1);
    const bool handOut = rc == 0 || rc == ERR_NO_ROWS_UPDATED_OR_DELETED || rc == ERR_MORE_THAN_ONE_ROW_UPDATED_OR;
    if (!handOut) {
        uh_Free(statuses);
        return rc;
    }
    *outRowStatus = statuses;
    if (outCount != nullptr)
        *outCount = static_cast<uint32_t>(changed);
    return rc;
}

