// Cursor preparation: what the cursor library makes of a statement the agent prepared.
#include "scrs/scs_prepare.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "scrs/ks_keycols.h"
#include "scrs/rvc_rowver.h"
#include "scrs/scs_catalog.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_desc.h"
#include "scrs/scs_ops.h"
#include "scrs/scs_stmt.h"
#include "scrs/ss_result.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utarray.h"
#include "util/utheap.h"
#include "util/ut_string.h"

namespace {

constexpr int32_t kQueryKind = 74;
constexpr int32_t kPositionedDelete = 18;
constexpr int32_t kPositionedUpdate = 96;
constexpr int32_t kCallEscape = 61;
constexpr uint32_t kNotAQuery = 512;
constexpr int32_t kSelectListComparedColumns = 2;  // option 1050: the select list

const OA_OPTABLE& AgentOf(const SCS_STMT* cur) { return *cur->agent->ops; }

uint32_t TableCount(const SCS_STMT* cur) { return cur->fromTables != nullptr ? cur->fromTables->count : 0; }

const SCR_TABLEREF* Table(const SCS_STMT* cur, uint32_t i) {
    return static_cast<const SCR_TABLEREF*>(cur->fromTables->elements) + i;
}

uint32_t KeyCount(const SCS_STMT* cur) {
    return cur->keyset != nullptr && cur->keyset->keyCols != nullptr ? cur->keyset->keyCols->count : 0;
}

// The connection's cache of resolved tables: the key spells the parts as written, each
// after its length, so that no two lists share a key.
std::string TablesKey(const SCS_STMT* cur) {
    std::string key;
    for (uint32_t i = 0; i < TableCount(cur); ++i) {
        const SCR_TABLEREF* t = Table(cur, i);
        for (const char* part : {t->catalog, t->schema, t->table}) {
            key += std::to_string(std::strlen(part));
            key += ':';
            key += part;
        }
    }
    return key;
}

bool ReplacePart(char** field, const std::string& value) {
    char* copy = uh_StrDup(value.c_str());
    if (copy == nullptr)
        return false;
    uh_Free(*field);
    *field = copy;
    return true;
}

// The FROM tables resolved through the catalog, or from the connection's cache when the
// same tables were resolved before.
int ResolveTables(SCS_STMT* cur) {
    SCS_CONN* conn = scs_FindConn(cur->agentConn);
    auto* tables = static_cast<SCR_TABLEREF*>(cur->fromTables->elements);
    std::string key;
    try {
        key = TablesKey(cur);
        if (conn != nullptr) {
            auto hit = conn->resolvedTables.find(key);
            if (hit != conn->resolvedTables.end() && hit->second.size() == TableCount(cur)) {
                for (uint32_t i = 0; i < TableCount(cur); ++i) {
                    const auto& parts = hit->second[i];
                    if (!ReplacePart(&tables[i].catalog, parts[0]) || !ReplacePart(&tables[i].schema, parts[1]) ||
                        !ReplacePart(&tables[i].table, parts[2]))
                        return ERR_MEMORY_ALLOCATION_FAILURE;
                }
                return 0;
            }
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (int rc = scs_p_GetTblDescs(cur, cur->fromTables); rc != 0)
        return rc;
    if (conn == nullptr)
        return 0;
    try {
        std::vector<std::array<std::string, 3>> resolved;
        for (uint32_t i = 0; i < TableCount(cur); ++i)
            resolved.push_back({tables[i].catalog, tables[i].schema, tables[i].table});
        conn->resolvedTables[key] = std::move(resolved);
    } catch (const std::bad_alloc&) {
        // Not kept: the next cursor asks the catalog again.
    }
    return 0;
}

// Forward-only with a key request: the key columns found (the primary key first) and, with
// option 1054, added to the select list, which is written out when it holds "*" or "x.*".
int AddKeyColumns(SCS_STMT* cur, bool addKeys) {
    if (TableCount(cur) == 0)
        return 0;
    if (int rc = KS_Ensure(cur); rc != 0)
        return rc;
    int rc = KS_GetKeyColDescs_PKeys(cur, cur->fromTables);
    if (rc != 0)
        rc = KS_GetKeyColDescs(cur, cur->fromTables);
    if (rc == ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE) {
        KS_ClearKeyCols(cur->keyset);  // a partial key names no row
        rc = 0;
    }
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "ks_GetKeyColDescs_PKeys failed");
        return rc;
    }
    cur->tableCols = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (cur->tableCols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (rc = scs_p_GetTblColDescs(cur, cur->fromTables, false, cur->tableCols); rc != 0) {
        LOG_MSG(LOG_DEBUG, "scs_p_GetTblColDescs failed");
        return rc;
    }
    cur->selectCols = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (cur->selectCols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    UT_ARRAY* unexpanded = nullptr;
    if (rc = scs_p_SelectColsGet(cur, cur->selectCols, &unexpanded); rc != 0) {
        ut_ArrayFree(&unexpanded, SCR_ColDescFree);
        LOG_MSG(LOG_DEBUG, "scs_p_SelectColsGet failed");
        return rc;
    }
    rc = scs_p_SelectCol_ColDescComplete(cur);
    bool rewritten = false;
    if (rc == 0)
        rc = scs_p_SelListAddKeysnXpandWC(cur, unexpanded, addKeys, &rewritten);
    ut_ArrayFree(&unexpanded, SCR_ColDescFree);
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "scs_p_SelListAddKeysnXpandWC failed");
        return rc;
    }
    // The rewrite left the new statement in cur->text.
    if (rewritten) {
        if (rc = AgentOf(cur).DRV_Prepare(cur->agentStmt, cur->text.c_str()); rc != 0)
            return rc;
    }
    cur->flags |= SCS_SELECT_REWRITTEN;
    return 0;
}

// The columns a dynamic cursor, or values concurrency, compares and seeks by.
int TableColumns(SCS_STMT* cur) {
    cur->tableCols = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (cur->tableCols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (int rc = scs_p_GetTblColDescs(cur, cur->fromTables, true, cur->tableCols); rc != 0) {
        LOG_MSG(LOG_DEBUG, "scs_p_GetTblColDescs failed");
        return rc;
    }
    if (cur->opts->comparedColumns != kSelectListComparedColumns || cur->selectCols != nullptr)
        return 0;
    cur->selectCols = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (cur->selectCols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (int rc = scs_p_SelectColsGet(cur, cur->selectCols, nullptr); rc != 0) {
        LOG_MSG(LOG_DEBUG, "scs_p_SelectColsGet failed");
        return rc;
    }
    if (cur->needParamDescs == 0)
        return 0;
    // Compared values go as parameters: each needs the type of its table column.
    auto* items = static_cast<SCS_COLDESC*>(cur->selectCols->elements);
    const auto* cols = static_cast<const SCS_COLDESC*>(cur->tableCols->elements);
    for (uint32_t i = 0; i < cur->selectCols->count; ++i) {
        SCS_COLDESC& item = items[i];
        if (item.sqlType != 0)
            continue;
        const SCS_COLDESC* col = scs_FindColDesc(cols, cur->tableCols->count, &item, nullptr);
        if (col == nullptr)
            return ERR_GENERAL_ERROR;
        item.sqlType = col->sqlType;
        item.columnSize = col->columnSize;
        item.decimalDigits = col->decimalDigits;
    }
    return 0;
}

// Serves the statement with another cursor type (and read-only concurrency when asked): each
// option set on the agent statement and kept, the application's values given back at the
// next prepare (a second change before that keeps the first request). 43 (S1C00) when the
// agent refuses.
int ChangeCursor(SCS_STMT* cur, int32_t type, const char* typeName, bool readOnly) {
    OA_CURSOROPTS& o = *cur->opts;
    if ((cur->flags & SCS_ATTRS_CHANGED) == 0) {
        cur->requestedType = o.cursorType;
        cur->requestedConcurrency = o.concurrency;
    }
    const auto set = AgentOf(cur).DRV_SetProperty;
    auto change = [&](uint32_t code, int32_t value, int32_t* field, const char* what) -> int {
        if (set == nullptr || set(cur->agentStmt, code, &value) != 0) {
            LOG_MSG(LOG_DEBUG, "scs_p_ChangeCursorType: Couldn't switch to %s", what);
            return ERR_DRIVER_NOT_CAPABLE;
        }
        LOG_MSG(LOG_DEBUG, "scs_p_ChangeCursorType: Switched to %s", what);
        *field = value;
        cur->flags |= SCS_ATTRS_CHANGED;
        return 0;
    };
    if (o.cursorType != type && o.cursorType != SCS_FORWARD_ONLY && o.cursorType != SCS_STATIC) {
        if (int rc = change(OA_PROP_CURSOR_TYPE, type, &o.cursorType, typeName); rc != 0)
            return rc;
    }
    if (readOnly && o.concurrency != SCS_READ_ONLY) {
        if (int rc = change(OA_PROP_CONCURRENCY, SCS_READ_ONLY, &o.concurrency, "read-only concurrency"); rc != 0)
            return rc;
    }
    // The library's own settings are no request of the application's.
    o.setFlags &= static_cast<uint16_t>(~(OA_CURSOR_TYPE_SET | (readOnly ? OA_CONCURRENCY_SET : 0)));
    return 0;
}

// Can windows be found by seeks on the ordering? Each ORDER BY item must be a column (its
// value is read back and compared), TOP would cut every window on its own, and the order
// must reach every key column within the server's ORDER BY maximum, or it is not total.
bool Seekable(SCS_STMT* cur) {
    if (SCR_HasTop(&cur->analysis) != 0)
        return false;
    const uint32_t items = cur->orderBy != nullptr ? cur->orderBy->count : 0;
    const auto* order = items != 0 ? static_cast<const SCS_SELCOLDESC*>(cur->orderBy->elements) : nullptr;
    for (uint32_t i = 0; i < items; ++i)
        if (order[i].col.itemKind == SCS_ITEM_EXPRESSION)
            return false;
    uint32_t unordered = 0;
    const uint32_t keys = KeyCount(cur);
    const auto* key = static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements);
    for (uint32_t k = 0; k < keys; ++k)
        unordered += key[k].orderPosition == 0 ? 1 : 0;
    return cur->maxOrderByCols == 0 || items + unordered <= cur->maxOrderByCols;
}

// A dynamic cursor on a row-versioning connection: bound to its connection's helper, and
// its lines of any earlier use (of this statement, or of a process that died with the
// same identity) deleted, so that every row it fetches first is new. Without the table
// the server's message and IM926 end the preparation.
int StartRowVersions(SCS_STMT* cur) {
    if (int rc = RVC_Attach(cur); rc != 0)
        return rc;
    return RVC_DropCursor(cur);
}

// A query: checks for the cursor asked for, then its tables and keys.
int PrepareQuery(SCS_STMT* cur) {
    const OA_CURSOROPTS& o = *cur->opts;
    const bool forwardOnly = o.cursorType == SCS_FORWARD_ONLY;
    const bool keysetLike = o.cursorType == SCS_KEYSET || o.cursorType == SCS_DYNAMIC;
    const bool isStatic = o.cursorType == SCS_STATIC;
    const uint32_t flags = cur->analysis.flags;
    cur->clauseFlags = static_cast<uint16_t>(flags);

    if (keysetLike) {
        if ((flags & SCR_F_OUTER_JOIN) != 0)
            return ERR_OUTER_JOINS_ON_A_SCROLLABLE_CURSOR;
        if (int rc = scs_CheckKeysetable(flags); rc != 0)
            return rc;
        // A keyset of DISTINCT rows names no row, and the agent reads a set function's
        // result forward only: a snapshot serves both.
        if ((flags & (SCR_F_DISTINCT | SCR_F_SET_FUNCTION)) != 0)
            return scs_p_ChangeCursorType(cur);
    }
    const bool updatable = scs_CheckUpdatable(flags) == 0;
    // A static cursor needs keys only to write rows back.
    const bool needKeys = keysetLike || (isStatic && o.concurrency != SCS_READ_ONLY && updatable);
    if (!forwardOnly && !needKeys)
        return scs_p_ChangeCursorType(cur);

    cur->fromTables = ut_ArrayNew(sizeof(SCR_TABLEREF));
    if (cur->fromTables == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (int rc = SCR_TablesGet(&cur->analysis, cur->fromTables, cur->noCatalogs == 0 ? 1 : 0); rc != 0) {
        LOG_MSG(LOG_DEBUG, "SCR_TablesGet failed");
        return rc;
    }
    if (TableCount(cur) == 0) {
        if (keysetLike)
            return ERR_SQL_STATEMENT_CAN_ONLY_BE_PREPARED;
        return forwardOnly ? 0 : scs_p_ChangeCursorType(cur);
    }
    if (int rc = ResolveTables(cur); rc != 0)
        return rc;
    // ORDER BY is resolved only where the keys order the cursor: a snapshot, updatable or
    // not, reads the result as the server orders it.
    if (keysetLike && (flags & SCR_F_ORDER_BY) != 0) {
        if (int rc = scs_p_OrderByDescsGet(cur); rc != 0)
            return rc;
    }
    if (forwardOnly)
        return AddKeyColumns(cur, cur->opts->addKeyColumns != 0);

    // A seek compares the ordering columns (dynamic and mixed cursors), values concurrency
    // the row's columns: both need the table columns' types.
    const bool mixed = o.cursorType == SCS_KEYSET && o.keysetSize > 0;
    if (o.cursorType == SCS_DYNAMIC || mixed || (o.concurrency == SCS_VALUES && updatable)) {
        if (int rc = TableColumns(cur); rc != 0)
            return rc;
    }
    if (int rc = KS_Ensure(cur); rc != 0)
        return rc;
    int rc = KS_GetKeyColDescs(cur, cur->fromTables);
    if (rc == ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE) {
        KS_ClearKeyCols(cur->keyset);  // the keyed tables of a join name no row alone
        return scs_p_ChangeCursorType(cur);
    }
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "KS_GetKeyColDescs failed");
        return rc;
    }
    // Rows are fetched by key tuples beside the application's markers: without room for
    // one tuple no key query can be built.
    int32_t blocks = 0, inLast = 0, perBlock = 0;
    if (SCR_MarkerLayout(&cur->analysis, &cur->markers) != 0 ||
        scs_KeyBlockGeometry(cur, static_cast<uint16_t>(KeyCount(cur)), &blocks, &inLast, &perBlock) != 0) {
        KS_ClearKeyCols(cur->keyset);
        return scs_p_ChangeCursorType(cur);
    }
    if (o.cursorType == SCS_DYNAMIC || mixed) {
        if (rc = scs_p_MarkKeyOrderColumns(cur); rc != 0)
            return rc;
    }
    if (keysetLike && (flags & SCR_F_ORDER_BY) != 0)
        scs_p_KeyOrderPositions(cur);
    if ((o.cursorType == SCS_DYNAMIC || mixed) && o.concurrency != SCS_ROWVER) {
        if (Seekable(cur))
            return o.cursorType == SCS_DYNAMIC && cur->rowVersioning != 0 ? StartRowVersions(cur) : 0;
        // A dynamic cursor without a seekable order keeps its keys as a keyset; a mixed one
        // (its keyset size would make the keyset mixed again) becomes a snapshot.
        return o.cursorType == SCS_DYNAMIC && o.keysetSize == 0 ? ChangeCursor(cur, SCS_KEYSET, "keyset-driven cursor", false)
                                                              : scs_p_ChangeCursorType(cur);
    }
    // Keys found: a keyset-driven cursor reads its rows by them. Row-version concurrency is
    // served as static read-only.
    if (o.cursorType == SCS_KEYSET && !mixed && o.concurrency != SCS_ROWVER)
        return 0;
    // A static cursor that writes rows back reads its keys with its snapshot.
    if (isStatic && (o.concurrency == SCS_LOCK || o.concurrency == SCS_VALUES))
        return 0;
    return scs_p_ChangeCursorType(cur);
}

}  // namespace

int scs_CheckUpdatable(uint32_t clauseFlags) {
    if ((clauseFlags & SCR_F_TABLES) != 0)
        return ERR_RESULT_SET_WAS_CREATED_BY_A;
    if ((clauseFlags & SCR_F_GROUP_BY) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_GROUP_BY;
    if ((clauseFlags & SCR_F_UNION) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_UNION_CLAUSE;
    if ((clauseFlags & SCR_F_SET_FUNCTION) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_SCALAR_AGGREGATE;
    return 0;
}

int scs_CheckKeysetable(uint32_t clauseFlags) {
    if (clauseFlags == kNotAQuery)
        return ERR_RESULT_SET_WAS_NOT_GENERATED_BY;
    if ((clauseFlags & SCR_F_GROUP_BY) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_GROUP_BY;
    if ((clauseFlags & SCR_F_UNION) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_UNION_CLAUSE;
    return 0;
}

int scs_p_MarkKeyOrderColumns(SCS_STMT* cur) {
    if ((cur->clauseFlags & SCR_F_GROUP_BY) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_GROUP_BY;
    if ((cur->clauseFlags & SCR_F_UNION) != 0)
        return ERR_SELECT_STATEMENT_CONTAINS_A_UNION_CLAUSE;
    const uint32_t n = KeyCount(cur);
    if ((cur->clauseFlags & SCR_F_ORDER_BY) == 0 || cur->orderBy == nullptr || cur->orderBy->count == 0) {
        cur->orderingColCount = static_cast<uint16_t>(n);
        return 0;
    }
    auto* items = static_cast<SCS_SELCOLDESC*>(cur->orderBy->elements);
    auto* keys = n != 0 ? static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements) : nullptr;
    const auto* cols = cur->tableCols != nullptr ? static_cast<const SCS_COLDESC*>(cur->tableCols->elements) : nullptr;
    const uint32_t colCount = cur->tableCols != nullptr ? cur->tableCols->count : 0;
    std::string matched(n, '\0');
    uint32_t unmatched = n;
    uint32_t lastMatch = 0;  // the item (from 1) that completed the key
    uint32_t nonKeyItems = 0;
    for (uint32_t i = 0; i < cur->orderBy->count && unmatched > 0; ++i) {
        SCS_SELCOLDESC& item = items[i];
        for (uint32_t k = 0; k < n; ++k) {
            const SCS_COLDESC& key = keys[k];
            if (std::strcmp(key.column, item.col.column) != 0)
                continue;
            if (item.col.table[0] != '\0' && std::strcmp(key.table, item.col.table) != 0)
                continue;
            if (item.col.table[0] != '\0' && item.col.owner[0] != '\0' && std::strcmp(key.owner, item.col.owner) != 0)
                continue;
            item.isKey = 1;
            item.col.sqlType = key.sqlType;
            item.col.columnSize = key.columnSize;
            item.col.decimalDigits = key.decimalDigits;
            if (matched[k] == 0) {
                matched[k] = 1;
                --unmatched;
                lastMatch = i + 1;
            }
            break;
        }
        if (item.isKey != 0)
            continue;
        ++nonKeyItems;
        if (item.col.sqlType == 0 && item.col.itemKind != SCS_ITEM_EXPRESSION) {
            const SCS_COLDESC* col = scs_FindColDesc(cols, colCount, &item.col, nullptr);
            if (col == nullptr)
                return ERR_GENERAL_ERROR;
            item.col.sqlType = col->sqlType;
            item.col.columnSize = col->columnSize;
            item.col.decimalDigits = col->decimalDigits;
        }
    }
    cur->orderingColCount = static_cast<uint16_t>(unmatched == 0 ? lastMatch : nonKeyItems + n);
    return 0;
}

int scs_p_ChangeCursorType(SCS_STMT* cur) { return ChangeCursor(cur, SCS_STATIC, "static cursor", true); }

int scs_p_PrepareCursor(SCS_STMT* cur, const char* text) {
    const OA_CURSOROPTS& o = *cur->opts;
    const bool keyRequest = o.keyColumnsInfo != 0 || o.addKeyColumns != 0;
    if (o.cursorType == SCS_FORWARD_ONLY && (!keyRequest || !scs_IsSelectStmt(text)))
        return 0;
    // A static read-only cursor reads the result as it is: nothing to decide.
    if (o.cursorType == SCS_STATIC && o.concurrency == SCS_READ_ONLY)
        return 0;
    cur->flags |= SCS_ANALYSED;
    try {
        cur->text = text != nullptr ? text : "";
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    const int analysed = SCR_AnalyseSQL(&cur->analysis, cur->text.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
    if (analysed == ERR_MEMORY_ALLOCATION_FAILURE)
        return analysed;
    const int32_t kind = analysed == 0 ? cur->analysis.rootKind : 0;
    if (analysed != 0) {
        // The server prepared it: the statement runs as the agent's cursor, on a snapshot.
        LOG_MSG(LOG_DEBUG, "SCR_AnalyseSQL failed: %s", cur->text.c_str());
        LOG_MSG(LOG_DEBUG, "%s", cur->analysis.errorMessage != nullptr ? cur->analysis.errorMessage : "");
        LOG_MSG(LOG_DEBUG, "%s", cur->analysis.errorContext != nullptr ? cur->analysis.errorContext : "");
    }
    if (kind == kPositionedDelete || kind == kPositionedUpdate)
        return scs_CheckUpdatable(cur->analysis.flags);
    // Every other statement starts without a result.
    cur->clauseFlags = static_cast<uint16_t>(kNotAQuery);
    cur->mixedState = -6;
    SS_Close(cur->staticResult);
    cur->rowCount = -1;
    cur->position = SCS_POS_BEFORE_START;
    cur->rowsetStart = 0;
    if (cur->optValues != nullptr) {
        DatasetDeleter{}(cur->optValues);
        cur->optValues = nullptr;
    }
    if (kind == 0 || kind == kCallEscape)
        return scs_p_ChangeCursorType(cur);
    if (kind != kQueryKind)
        return 0;
    return PrepareQuery(cur);
}

bool scs_IsDdl(const char* text) {
    if (text == nullptr)
        return false;
    for (const char* word : {"CREATE", "ALTER", "DROP", "RENAME", "GRANT", "REVOKE", "TRUNCATE"}) {
        if (ut_MatchKeyword(word, text) != nullptr)
            return true;
    }
    return false;
}

void scs_ClearConnCaches(uint32_t agentConn) {
    KS_ClearKeyCache(agentConn);
    if (SCS_CONN* conn = scs_FindConn(agentConn))
        conn->resolvedTables.clear();
}
