// Key-column discovery: the three catalog sources asked per FROM table, the NOT NULL check
// and type completion through SQLColumns, and the per-connection key-column cache.
#include "scrs/ks_keycols.h"

#include <openssl/evp.h>
#include <sqlext.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "scrs/scs_catalog.h"
#include "scrs/scs_conn.h"
#include "scrs/scs_stmt.h"
#include "sqlparse/scr_analyse.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/uthash.h"

namespace {

// Result columns, 0-based (the ODBC column number less one).
constexpr int kSpName = 1, kSpType = 2, kSpSize = 4, kSpDigits = 6, kSpPseudo = 7;  // SQLSpecialColumns
constexpr int kStIndexName = 5, kStOrdinal = 7, kStName = 8;                         // SQLStatistics
constexpr int kPkName = 3;                                                           // SQLPrimaryKeys
constexpr int kColName = 3, kColType = 4, kColSize = 6, kColDigits = 8, kColNullable = 10;  // SQLColumns

// One column of a candidate key as its source names it.
struct KeyName {
    std::string name;      // the catalog's, unquoted
    bool pseudo = false;   // a pseudo column of the best row identifier (ROWID and the like)
    int32_t sqlType = 0;   // pseudo columns only: they are not among the table's columns,
    uint32_t size = 0;     // so the source's own description is all there is
    int16_t digits = 0;
};

// A key a source offers: every one of its columns must qualify, or none is taken.
struct Candidate {
    std::vector<KeyName> cols;
    bool broken = false;   // a row without a name: a key with a hole is no key
};

// What SQLColumns says of one column of the table.
struct ColumnFacts {
    std::string name;
    int32_t sqlType = 0;
    uint32_t size = 0;
    int16_t digits = 0;
    bool notNull = false;
};

// One FROM table under discovery: its catalog arguments and, once asked, its columns.
struct TableWork {
    const SCR_TABLEREF* ref = nullptr;
    std::string catalog, schema, table;  // unquoted
    bool columnsAsked = false;
    bool columnsKnown = false;           // false after 43: nothing can be shown NOT NULL
    std::vector<ColumnFacts> columns;
};

using SourceReader = int (*)(SCS_STMT* cur, const TableWork& tw, std::vector<Candidate>* out);

std::string_view TextOf(const char* s) { return s != nullptr ? std::string_view(s) : std::string_view(); }

// A catalog argument: absent when empty, which drops the condition.
const char* ArgOf(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

OA_CATARGS TableArgs(const TableWork& tw) {
    OA_CATARGS args{};
    args.names[0] = ArgOf(tw.catalog);
    args.names[1] = ArgOf(tw.schema);
    args.names[2] = tw.table.c_str();
    return args;
}

// Digits matter where they are part of the value: a NUMERIC's scale, a time's fraction
// (a key compared without its fraction finds the wrong row or none).
int16_t KeptDigits(int32_t sqlType, int64_t digits) {
    switch (sqlType) {
    case SQL_NUMERIC: case SQL_DECIMAL:
    case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
        return static_cast<int16_t>(digits);
    default:
        return 0;
    }
}

// The three integers of a description (type, size, digits) from one row.
int ReadTypeFacts(const DATASET& rows, int32_t row, int typeCol, int sizeCol, int digitsCol, int32_t* sqlType,
                  uint32_t* size, int16_t* digits) {
    int64_t t = 0, s = 0, d = 0;
    bool null = false;
    if (int rc = scs_CatalogInt(rows, typeCol, row, &t, &null); rc != 0)
        return rc;
    if (int rc = scs_CatalogInt(rows, sizeCol, row, &s, &null); rc != 0)
        return rc;
    if (int rc = scs_CatalogInt(rows, digitsCol, row, &d, &null); rc != 0)
        return rc;
    *sqlType = static_cast<int32_t>(t);
    *size = s < 0 ? 0 : static_cast<uint32_t>(s);
    *digits = KeptDigits(*sqlType, d);
    return 0;
}

// Runs a source's catalog operation; 43 (the agent lacks it) reads as no rows.
int ReadSource(SCS_STMT* cur, SCS_CATALOG_OP op, const char* opName, const OA_CATARGS& args, DATASET* rows,
               const char* what) {
    int rc = scs_CatalogRead(cur, op, opName, args, rows, what);
    if (rc == ERR_DRIVER_NOT_CAPABLE) {
        ds_Free(rows);
        return 0;
    }
    return rc;
}

// A named column of a candidate; a row without a name leaves a hole in the key.
void TakeName(KeyName&& k, bool null, Candidate* key) {
    if (null || k.name.empty())
        key->broken = true;
    key->cols.push_back(std::move(k));
}

// A source that offers one key: its rows read, the candidate kept unless the read failed.
int OneCandidate(DATASET* rows, Candidate&& key, int rc, std::vector<Candidate>* out) {
    ds_Free(rows);
    if (rc == 0 && !key.cols.empty())
        out->push_back(std::move(key));
    return rc;
}

// The best row identifier. This server answers the columns of every unique index in one
// list whatever the scope and nullable asked, so the list is one candidate: a nullable
// column anywhere in it sends the table on to the next source.
int ReadSpecialColumns(SCS_STMT* cur, const TableWork& tw, std::vector<Candidate>* out) {
    OA_CATARGS args = TableArgs(tw);
    args.options[0] = SQL_BEST_ROWID;
    args.options[1] = SQL_SCOPE_CURROW;
    args.options[2] = SQL_NO_NULLS;
    DATASET rows{};
    int rc = ReadSource(cur, &OA_OPTABLE::DRV_DDSpecialColumns, "DRV_DDSpecialColumns", args, &rows,
                        "KS_GetKeyColDescs_SpCols");
    Candidate key;
    for (int32_t r = 0; rc == 0 && r < rows.rowsUsed; ++r) {
        KeyName k;
        bool null = false;
        int64_t pseudo = 0;
        bool pseudoNull = false;
        rc = scs_CatalogText(rows, kSpName, r, &k.name, &null);
        if (rc == 0)
            rc = scs_CatalogInt(rows, kSpPseudo, r, &pseudo, &pseudoNull);
        if (rc == 0 && !pseudoNull && pseudo == SQL_PC_PSEUDO) {
            k.pseudo = true;
            rc = ReadTypeFacts(rows, r, kSpType, kSpSize, kSpDigits, &k.sqlType, &k.size, &k.digits);
        }
        TakeName(std::move(k), null, &key);
    }
    return OneCandidate(&rows, std::move(key), rc, out);
}

// The unique indexes, each a candidate in the order reported. An index begins where the
// index name changes or the ordinal position is back at 1; the table-statistics row (no
// column name) is no index.
int ReadStatistics(SCS_STMT* cur, const TableWork& tw, std::vector<Candidate>* out) {
    OA_CATARGS args = TableArgs(tw);
    args.options[0] = SQL_INDEX_UNIQUE;
    args.options[1] = SQL_ENSURE;
    DATASET rows{};
    int rc = ReadSource(cur, &OA_OPTABLE::DRV_DDStatistics, "DRV_DDStatistics", args, &rows,
                        "KS_GetKeyColDescs_Stats");
    std::string lastIndex;
    for (int32_t r = 0; rc == 0 && r < rows.rowsUsed; ++r) {
        KeyName k;
        std::string index;
        bool nameNull = false, indexNull = false, ordinalNull = false;
        int64_t ordinal = 0;
        rc = scs_CatalogText(rows, kStName, r, &k.name, &nameNull);
        if (rc == 0)
            rc = scs_CatalogText(rows, kStIndexName, r, &index, &indexNull);
        if (rc == 0)
            rc = scs_CatalogInt(rows, kStOrdinal, r, &ordinal, &ordinalNull);
        if (rc != 0)
            break;
        if (nameNull)
            continue;
        if (out->empty() || index != lastIndex || (!ordinalNull && ordinal == 1))
            out->emplace_back();
        lastIndex = index;
        if (k.name.empty())
            out->back().broken = true;
        out->back().cols.push_back(std::move(k));
    }
    ds_Free(&rows);
    return rc;
}

// The primary key. This server answers a unique index when the table has no primary key,
// nullable or not: the NOT NULL check decides.
int ReadPrimaryKeys(SCS_STMT* cur, const TableWork& tw, std::vector<Candidate>* out) {
    OA_CATARGS args = TableArgs(tw);
    DATASET rows{};
    int rc = ReadSource(cur, &OA_OPTABLE::DRV_DDPrimaryKeys, "DRV_DDPrimaryKeys", args, &rows,
                        "KS_GetKeyColDescs_PKeys");
    Candidate key;
    for (int32_t r = 0; rc == 0 && r < rows.rowsUsed; ++r) {
        KeyName k;
        bool null = false;
        rc = scs_CatalogText(rows, kPkName, r, &k.name, &null);
        TakeName(std::move(k), null, &key);
    }
    return OneCandidate(&rows, std::move(key), rc, out);
}

// The table's columns, asked once per table whatever the number of candidates. Schema
// and table go as patterns escaped to match themselves only: SQLColumns compares them
// with LIKE, where the "_" of ORDER_LINES would also match ORDERXLINES.
int ReadColumns(SCS_STMT* cur, TableWork* tw) {
    if (tw->columnsAsked)
        return 0;
    tw->columnsAsked = true;
    const std::string schema = scs_CatalogPattern(tw->schema);
    const std::string table = scs_CatalogPattern(tw->table);
    OA_CATARGS args{};
    args.names[0] = ArgOf(tw->catalog);
    args.names[1] = ArgOf(schema);
    args.names[2] = table.c_str();
    args.names[3] = "%";
    DATASET rows{};
    int rc = scs_CatalogRead(cur, &OA_OPTABLE::DRV_DDColumns, "DRV_DDColumns", args, &rows, "KS_GetKeyColDescs");
    if (rc == ERR_DRIVER_NOT_CAPABLE) {
        ds_Free(&rows);
        return 0;
    }
    for (int32_t r = 0; rc == 0 && r < rows.rowsUsed; ++r) {
        ColumnFacts f;
        bool null = false, nullableNull = false;
        int64_t nullable = SQL_NULLABLE_UNKNOWN;
        rc = scs_CatalogText(rows, kColName, r, &f.name, &null);
        if (rc == 0)
            rc = scs_CatalogInt(rows, kColNullable, r, &nullable, &nullableNull);
        if (rc == 0)
            rc = ReadTypeFacts(rows, r, kColType, kColSize, kColDigits, &f.sqlType, &f.size, &f.digits);
        f.notNull = !nullableNull && nullable == SQL_NO_NULLS;
        if (rc == 0 && !null)
            tw->columns.push_back(std::move(f));
    }
    ds_Free(&rows);
    tw->columnsKnown = rc == 0;
    return rc;
}

// Copies a name into a descriptor field; false when it does not fit (never cut: a cut
// name would name another column or none).
bool PutName(char (&field)[SCS_NAME_LEN], std::string_view text) {
    if (text.size() > SCS_NAME_MAX)
        return false;
    std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
    return true;
}

// The candidate's descriptors when every column of it qualifies (named, NOT NULL in the
// table, its name short enough), else none (*usable false). 0 or the code of SQLColumns.
int Qualify(SCS_STMT* cur, TableWork* tw, const Candidate& cand, std::vector<SCS_COLDESC>* descs, bool* usable) {
    *usable = false;
    descs->clear();
    if (cand.broken || cand.cols.empty())
        return 0;
    SCS_COLDESC tmpl{};
    const SCR_TABLEREF& ref = *tw->ref;
    if (!PutName(tmpl.table, TextOf(ref.table)) || !PutName(tmpl.alias, TextOf(ref.alias)) ||
        !PutName(tmpl.owner, TextOf(ref.schema)) || !PutName(tmpl.qualifier, TextOf(ref.catalog)))
        return 0;
    tmpl.itemKind = SCS_ITEM_COLUMN;
    for (const KeyName& k : cand.cols) {
        SCS_COLDESC d = tmpl;
        if (k.pseudo) {
            // Never among the table's columns, and never NULL.
            if (!PutName(d.column, k.name))
                return 0;
            d.sqlType = k.sqlType;
            d.columnSize = k.size;
            d.decimalDigits = k.digits;
        } else {
            if (int rc = ReadColumns(cur, tw); rc != 0)
                return rc;
            if (!tw->columnsKnown)
                return 0;
            const ColumnFacts* found = nullptr;
            for (const ColumnFacts& f : tw->columns) {
                if (f.name != k.name)
                    continue;
                // The same name twice (an empty schema over two owners): every one must
                // be NOT NULL, the first describes it.
                if (!f.notNull)
                    return 0;
                if (found == nullptr)
                    found = &f;
            }
            if (found == nullptr || !PutName(d.column, scs_Quote(k.name, cur->identQuote)))
                return 0;
            d.sqlType = found->sqlType;
            d.columnSize = found->size;
            d.decimalDigits = found->digits;
        }
        descs->push_back(d);
    }
    *usable = true;
    return 0;
}

// Keys one table from the sources in order: the first candidate that qualifies is
// appended to out and *keyed set. 0, 16, or the code of a failing catalog call.
int KeyTable(SCS_STMT* cur, const SCR_TABLEREF& ref, const std::vector<SourceReader>& sources, UT_ARRAY* out,
             bool* keyed) {
    *keyed = false;
    TableWork tw;
    tw.ref = &ref;
    tw.catalog = scs_Unquote(TextOf(ref.catalog), cur->identQuote);
    tw.schema = scs_Unquote(TextOf(ref.schema), cur->identQuote);
    tw.table = scs_Unquote(TextOf(ref.table), cur->identQuote);
    // A derived table (alias only) has no catalog entry, and an empty table name would be
    // no condition at all: such a table has no key.
    if (tw.table.empty())
        return 0;
    for (SourceReader read : sources) {
        std::vector<Candidate> candidates;
        if (int rc = read(cur, tw, &candidates); rc != 0)
            return rc;
        for (const Candidate& cand : candidates) {
            std::vector<SCS_COLDESC> descs;
            bool usable = false;
            if (int rc = Qualify(cur, &tw, cand, &descs, &usable); rc != 0)
                return rc;
            if (!usable)
                continue;
            for (const SCS_COLDESC& d : descs)
                if (ut_ArrayAppend(out, &d) != 1)
                    return ERR_MEMORY_ALLOCATION_FAILURE;
            *keyed = true;
            return 0;
        }
    }
    return 0;
}

// Keys every table in FROM order into out. The first table no source keys ends the walk
// with 84: a keyset needs every table's key, so asking on is of no use.
int KeyTables(SCS_STMT* cur, const UT_ARRAY* tables, const std::vector<SourceReader>& sources, UT_ARRAY* out) {
    if (tables->count == 0)
        return ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE;
    const auto* refs = static_cast<const SCR_TABLEREF*>(tables->elements);
    for (uint32_t i = 0; i < tables->count; ++i) {
        bool keyed = false;
        const uint32_t before = out->count;
        if (int rc = KeyTable(cur, refs[i], sources, out, &keyed); rc != 0)
            return rc;
        if (!keyed)
            return ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE;
        for (uint32_t k = before; k < out->count; ++k)
            static_cast<SCS_COLDESC*>(out->elements)[k].fromIndex = static_cast<int32_t>(i + 1);
    }
    return 0;
}

// Cached columns name the tables of the statement that found them: each takes the alias
// its table has in this statement.
int TakeAliases(UT_ARRAY* keyCols, const UT_ARRAY* tables) {
    const auto* refs = static_cast<const SCR_TABLEREF*>(tables->elements);
    for (uint32_t k = 0; k < keyCols->count; ++k) {
        SCS_COLDESC& d = static_cast<SCS_COLDESC*>(keyCols->elements)[k];
        if (d.fromIndex < 1 || static_cast<uint32_t>(d.fromIndex) > tables->count ||
            !PutName(d.alias, TextOf(refs[d.fromIndex - 1].alias)))
            return ERR_GENERAL_ERROR;
    }
    return 0;
}

// Replaces the descriptor's key columns by an empty array; 16 when none can be made.
int FreshKeyCols(KSD* keyset, const UT_ARRAY* tables) {
    keyset->fromTableCount = static_cast<uint8_t>(std::min<uint32_t>(tables->count, UINT8_MAX));
    UT_ARRAY* fresh = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (fresh == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    ut_ArrayFree(&keyset->keyCols, SCR_ColDescFree);
    keyset->keyCols = fresh;
    return 0;
}

// A copy of an array of key columns. Key descriptors own no text, so bytes copy whole.
UT_ARRAY* CopyKeyCols(const UT_ARRAY* from) {
    UT_ARRAY* copy = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (copy == nullptr)
        return nullptr;
    const auto* items = static_cast<const SCS_COLDESC*>(from->elements);
    for (uint32_t i = 0; i < from->count; ++i) {
        assert(items[i].text == nullptr);
        if (ut_ArrayAppend(copy, &items[i]) != 1) {
            ut_ArrayFree(&copy, SCR_ColDescFree);
            return nullptr;
        }
    }
    return copy;
}

bool CacheKeyOf(const UT_ARRAY* tables, std::array<unsigned char, 16>* key) {
    std::string input;
    const auto* refs = tables != nullptr ? static_cast<const SCR_TABLEREF*>(tables->elements) : nullptr;
    const uint32_t count = tables != nullptr ? tables->count : 0;
    for (uint32_t i = 0; i < count; ++i) {
        for (const char* text : {refs[i].catalog, refs[i].schema, refs[i].table}) {
            // The length first, so that ("AB", "C") and ("A", "BC") differ.
            const std::string_view t = TextOf(text);
            const auto n = static_cast<uint32_t>(t.size());
            const unsigned char len[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                          static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
            input.append(reinterpret_cast<const char*>(len), sizeof len);
            input.append(t);
        }
    }
    unsigned int size = 0;
    return EVP_Digest(input.data(), input.size(), key->data(), &size, EVP_md5(), nullptr) == 1 &&
           size == key->size();
}

// Stores a copy of the key columns under the key, freeing what it replaces. The cache
// only saves catalog calls: when memory runs out nothing is stored and discovery stands.
void CacheStore(UT_HASH* cache, const std::array<unsigned char, 16>& key, const UT_ARRAY* keyCols) {
    UT_ARRAY* copy = CopyKeyCols(keyCols);
    if (copy == nullptr)
        return;
    void* old = ut_HashFind(cache, key.data());
    if (ut_HashPut(cache, key.data(), copy) == nullptr) {
        ut_ArrayFree(&copy, SCR_ColDescFree);
        return;
    }
    if (old != nullptr && old != copy)
        scs_FreeKeyCacheEntry(old, key.data(), nullptr);
}

void FreeAndRemove(void* value, const void* key, void* cache) {
    scs_FreeKeyCacheEntry(value, key, nullptr);
    ut_HashRemove(static_cast<UT_HASH*>(cache), key);
}

}  // namespace

int KS_Ensure(SCS_STMT* cur) {
    if (cur->keyset != nullptr)
        return 0;
    cur->keyset = new (std::nothrow) KSD;
    return cur->keyset != nullptr ? 0 : ERR_MEMORY_ALLOCATION_FAILURE;
}

void KS_Delete(KSD* keyset) {
    if (keyset == nullptr)
        return;
    KS_ClearKeyCols(keyset);
    SS_Free(&keyset->keys);
    delete keyset;
}

void KS_ClearKeyCols(KSD* keyset) {
    if (keyset == nullptr)
        return;
    ut_ArrayFree(&keyset->keyCols, SCR_ColDescFree);
    keyset->fromTableCount = 0;
}

int KS_GetKeyColDescs(SCS_STMT* cur, const UT_ARRAY* tables) {
    if (cur == nullptr || cur->keyset == nullptr || tables == nullptr)
        return ERR_GENERAL_ERROR;
    try {
        KSD* keyset = cur->keyset;
        if (int rc = FreshKeyCols(keyset, tables); rc != 0)
            return rc;
        const SCS_CONN* conn = scs_FindConn(cur->agentConn);
        UT_HASH* cache = conn != nullptr ? conn->keyCache : nullptr;
        std::array<unsigned char, 16> key{};
        if (cache != nullptr && !CacheKeyOf(tables, &key))
            cache = nullptr;
        if (cache != nullptr) {
            if (const auto* hit = static_cast<const UT_ARRAY*>(ut_HashFind(cache, key.data())); hit != nullptr) {
                if (ut_ArrayAppendAll(keyset->keyCols, hit) != 1)
                    return ERR_MEMORY_ALLOCATION_FAILURE;
                return TakeAliases(keyset->keyCols, tables);
            }
        }
        static const std::vector<SourceReader> kAllSources = {ReadSpecialColumns, ReadStatistics, ReadPrimaryKeys};
        int rc = KeyTables(cur, tables, kAllSources, keyset->keyCols);
        if (rc == 0 && cache != nullptr)
            CacheStore(cache, key, keyset->keyCols);
        return rc;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

int KS_GetKeyColDescs_PKeys(SCS_STMT* cur, const UT_ARRAY* tables) {
    if (cur == nullptr || cur->keyset == nullptr || tables == nullptr)
        return ERR_GENERAL_ERROR;
    try {
        if (int rc = FreshKeyCols(cur->keyset, tables); rc != 0)
            return rc;
        static const std::vector<SourceReader> kPrimaryKey = {ReadPrimaryKeys};
        return KeyTables(cur, tables, kPrimaryKey, cur->keyset->keyCols);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

std::array<unsigned char, 16> KS_KeyCacheKey(const UT_ARRAY* tables) {
    std::array<unsigned char, 16> key{};
    if (!CacheKeyOf(tables, &key))
        key.fill(0);
    return key;
}

void KS_ClearKeyCache(uint32_t agentConn) {
    SCS_CONN* conn = scs_FindConn(agentConn);
    if (conn == nullptr || conn->keyCache == nullptr)
        return;
    ut_HashForEach(conn->keyCache, FreeAndRemove, conn->keyCache);
}
