// Table and select-list descriptors: the identifier rules, the FROM tables and their columns
// through the catalog, the select list expanded, completed and rewritten, the ORDER BY items
// and the key columns' places in them, the parameter descriptions of key columns and the
// describe attributes of a rewritten select list.
#include "scrs/scs_desc.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "scrs/ks_keycols.h"
#include "scrs/scs_catalog.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_stmt.h"
#include "sqlparse/ptree.h"
#include "util/charset.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/sqlstate.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

// Result columns of SQLTables and SQLColumns (0-based).
constexpr int kTablesCat = 0;
constexpr int kTablesSchema = 1;
constexpr int kTablesName = 2;
constexpr int kColumnsName = 3;
constexpr int kColumnsType = 4;
constexpr int kColumnsSize = 6;
constexpr int kColumnsDigits = 8;

constexpr int16_t kAttrKeyColumn = 1053;
constexpr int16_t kAttrExpression = 1055;

// A quoted identifier: at least the two quote characters, so a lone quote is a name of its own.
bool IsQuoted(std::string_view text, char quote) {
    return quote != 0 && text.size() >= 2 && text.front() == quote && text.back() == quote;
}

// Case folding of an identifier: UTF-8 aware in the wide library; the narrow code set is
// the application's, where only ASCII letters are known to fold.
std::string Fold(std::string_view text, bool wide, bool upper) {
    if (wide) {
        // Upper case may take more bytes than the text (U+023F to U+2C7E): room for that.
        std::string buf(text.size() * 2 + 4, '\0');
        std::memcpy(buf.data(), text.data(), text.size());
        upper ? ut_Utf8Upper(buf.data(), buf.size()) : ut_Utf8Lower(buf.data(), buf.size());
        buf.resize(std::strlen(buf.c_str()));
        return buf;
    }
    const char from = upper ? 'a' : 'A';
    std::string out(text);
    for (char& c : out)
        if (c >= from && c <= from + 25)
            c = static_cast<char>(c - from + (upper ? 'A' : 'a'));
    return out;
}

std::string FoldUpper(std::string_view text, bool wide) { return Fold(text, wide, true); }
std::string FoldLower(std::string_view text, bool wide) { return Fold(text, wide, false); }

// The folding of normalisation: 1 upper, 2 lower, anything else as stored.
std::string FoldStored(std::string_view text, uint16_t identCase, bool wide) {
    if (identCase == SCS_CASE_UPPER)
        return FoldUpper(text, wide);
    if (identCase == SCS_CASE_LOWER)
        return FoldLower(text, wide);
    return std::string(text);
}

// The folding of comparison: mixed case compares without case, like upper.
std::string FoldCompared(std::string_view text, uint16_t identCase, bool wide) {
    if (identCase == SCS_CASE_UPPER || identCase == SCS_CASE_MIXED)
        return FoldUpper(text, wide);
    if (identCase == SCS_CASE_LOWER)
        return FoldLower(text, wide);
    return std::string(text);
}

// A name as the catalog has it: unquoted and folded by its own case.
std::string CatalogName(std::string_view text, const SCS_STMT* cur) {
    const bool wide = cur->wide != 0;
    if (IsQuoted(text, cur->identQuote))
        return FoldStored(scs_Unquote(text, cur->identQuote), cur->quotedIdentCase, wide);
    return FoldStored(text, cur->identCase, wide);
}

std::string Normalize(const SCS_STMT* cur, std::string_view text, bool mayQuote) {
    return scs_p_IdentNormalize(text, cur->identQuote, cur->quotedIdentCase, cur->identCase, cur->wide != 0,
                                mayQuote);
}

bool Equal(const SCS_STMT* cur, std::string_view a, std::string_view b) {
    return scs_p_IdentEqual(a, b, cur->identQuote, cur->quotedIdentCase, cur->identCase, cur->wide != 0);
}

// A name into a descriptor field; false (field untouched) when it is longer than a field
// holds: a cut name would name another column.
bool PutField(char* field, std::string_view text) {
    if (text.size() > SCS_NAME_MAX)
        return false;
    std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
    return true;
}

// Replaces an owned table-reference text; false on no memory (old text kept).
bool PutRefText(char** field, const std::string& text) {
    char* copy = uh_StrDup(text.c_str());
    if (copy == nullptr)
        return false;
    uh_Free(*field);
    *field = copy;
    return true;
}

const char* Or(const char* s) { return s != nullptr ? s : ""; }

template <typename T>
T* Elements(const UT_ARRAY* a) {
    return a != nullptr ? static_cast<T*>(a->elements) : nullptr;
}
uint32_t Count(const UT_ARRAY* a) { return a != nullptr ? a->count : 0; }

// Appends a copy of the descriptor with its own text. 1, or 0 on no memory.
bool AppendColDesc(UT_ARRAY* out, const SCS_COLDESC& d) {
    SCS_COLDESC copy = d;
    copy.text = nullptr;
    if (d.text != nullptr && (copy.text = uh_StrDup(d.text)) == nullptr)
        return false;
    if (ut_ArrayAppend(out, &copy) == 0) {
        SCR_ColDescFree(&copy);
        return false;
    }
    return true;
}

uint32_t FromTableCount(const SCS_STMT* cur) {
    if (cur->fromTables != nullptr)
        return cur->fromTables->count;
    return cur->keyset != nullptr ? cur->keyset->fromTableCount : 0;
}

// The column descriptors of one FROM table through SQLColumns (names as exact patterns).
int TableColDescs(SCS_STMT* cur, const SCR_TABLEREF& ref, bool skipLong, UT_ARRAY* out) {
    const char q = cur->identQuote;
    const std::string table = scs_Unquote(Or(ref.table), q);
    if (table.empty()) {
        // A derived table has no catalog entry; an empty name would ask for every table.
        LOG_MSG(LOG_DEBUG, "scs_p_GetTblColDescs: no table name (derived table %s)", Or(ref.alias));
        return ERR_GENERAL_ERROR;
    }
    const std::string catalog = scs_Unquote(Or(ref.catalog), q);
    const std::string owner = scs_Unquote(Or(ref.schema), q);
    const std::string ownerArg = owner.empty() ? std::string("%") : scs_CatalogPattern(owner);
    const std::string tableArg = scs_CatalogPattern(table);
    OA_CATARGS args{};
    args.names[0] = catalog.empty() ? nullptr : catalog.c_str();
    args.names[1] = ownerArg.c_str();
    args.names[2] = tableArg.c_str();
    args.names[3] = "%";
    DATASET rows{};
    int rc = scs_CatalogRead(cur, &OA_OPTABLE::DRV_DDColumns, "DRV_DDColumns", args, &rows, "scs_p_GetTblColDescs");
    if (rc != 0)
        return rc;
    if (rows.rowsUsed == 0) {
        ds_Free(&rows);
        LOG_MSG(LOG_DEBUG, "scs_p_GetTblColDescs: no columns for table %s", table.c_str());
        return ERR_GENERAL_ERROR;
    }
    for (int32_t r = 0; r < rows.rowsUsed && rc == 0; ++r) {
        std::string name;
        bool isNull = false;
        int64_t type = 0, size = 0, digits = 0;
        bool typeNull = false, sizeNull = false, digitsNull = false;
        rc = scs_CatalogText(rows, kColumnsName, r, &name, &isNull);
        if (rc == 0)
            rc = scs_CatalogInt(rows, kColumnsType, r, &type, &typeNull);
        if (rc == 0)
            rc = scs_CatalogInt(rows, kColumnsSize, r, &size, &sizeNull);
        if (rc == 0)
            rc = scs_CatalogInt(rows, kColumnsDigits, r, &digits, &digitsNull);
        if (rc != 0)
            break;
        if (skipLong && (type == -10 || type == -4 || type == -1))
            continue;
        SCS_COLDESC d{};
        const bool fits = PutField(d.column, scs_Quote(name, q)) && PutField(d.table, Or(ref.table)) &&
                          PutField(d.alias, Or(ref.alias)) && PutField(d.owner, Or(ref.schema)) &&
                          PutField(d.qualifier, Or(ref.catalog));
        if (!fits) {
            LOG_MSG(LOG_DEBUG, "scs_p_GetTblColDescs: name too long in table %s", table.c_str());
            rc = ERR_GENERAL_ERROR;
            break;
        }
        d.sqlType = static_cast<int32_t>(type);
        d.columnSize = size > 0 ? static_cast<uint32_t>(size) : 0;
        d.decimalDigits = (type == 2 || type == 3) && !digitsNull ? static_cast<int16_t>(digits) : 0;
        d.itemKind = SCS_ITEM_COLUMN;
        if (ut_ArrayAppend(out, &d) == 0)
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    ds_Free(&rows);
    return rc;
}

// The position of the last "." of a qualified name that is not inside a quoted part, or npos.
size_t LastDot(std::string_view text, char quote) {
    size_t dot = std::string_view::npos;
    bool inQuote = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (quote != 0 && text[i] == quote)
            inQuote = !inQuote;
        else if (text[i] == '.' && !inQuote)
            dot = i;
    }
    return dot;
}

// The FROM table an "x.*" qualifier names: the one of that alias, else (the hidden name of an
// aliased table still accepted, as the server would refuse it anyway) of that table name, with
// its schema when the qualifier has one. Null when none.
const SCR_TABLEREF* TableOfQualifier(const SCS_STMT* cur, std::string_view qualifier) {
    const auto* refs = Elements<const SCR_TABLEREF>(cur->fromTables);
    const uint32_t n = Count(cur->fromTables);
    for (uint32_t i = 0; i < n; ++i)
        if (Equal(cur, qualifier, Or(refs[i].alias)))
            return &refs[i];
    const size_t dot = LastDot(qualifier, cur->identQuote);
    const std::string_view table = dot == std::string_view::npos ? qualifier : qualifier.substr(dot + 1);
    const std::string_view owner = dot == std::string_view::npos ? std::string_view() : qualifier.substr(0, dot);
    for (uint32_t i = 0; i < n; ++i) {
        if (!Equal(cur, table, Or(refs[i].table)))
            continue;
        if (!owner.empty() && !Equal(cur, owner, Or(refs[i].schema)))
            continue;
        return &refs[i];
    }
    return nullptr;
}

// Whether the descriptor is one of the key columns (the same four names, byte for byte).
bool IsKeyColumn(const SCS_STMT* cur, const SCS_COLDESC& d) {
    if (cur->keyset == nullptr)
        return false;
    const auto* keys = Elements<const SCS_COLDESC>(cur->keyset->keyCols);
    for (uint32_t k = 0; k < Count(cur->keyset->keyCols); ++k) {
        const SCS_COLDESC& key = keys[k];
        if (std::strcmp(key.column, d.column) == 0 && std::strcmp(key.table, d.table) == 0 &&
            std::strcmp(key.owner, d.owner) == 0 && std::strcmp(key.qualifier, d.qualifier) == 0)
            return true;
    }
    return false;
}

// A key column as the select list names it: with several tables, through its table's alias
// when its descriptor lacks one (an aliased table's own name is hidden in the query).
std::string KeyReference(const SCS_STMT* cur, uint32_t tableCount, const SCS_COLDESC& key) {
    if (tableCount <= 1 || key.alias[0] != '\0')
        return scs_QualifiedColName(tableCount, key);
    SCS_COLDESC probe = key;
    const auto* refs = Elements<const SCR_TABLEREF>(cur->fromTables);
    for (uint32_t i = 0; i < Count(cur->fromTables); ++i) {
        if (std::strcmp(Or(refs[i].table), key.table) == 0 && std::strcmp(Or(refs[i].schema), key.owner) == 0 &&
            Or(refs[i].alias)[0] != '\0') {
            PutField(probe.alias, Or(refs[i].alias));
            break;
        }
    }
    return scs_QualifiedColName(tableCount, probe);
}

// The text the analysis root now stands for, made the statement's.
int TakeRootText(SCS_STMT* cur) {
    const char* text = cur->analysis.root != nullptr ? PT_NodeText(cur->analysis.root) : nullptr;
    if (text == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    cur->text = text;
    return 0;
}

}  // namespace

// ---- Identifiers ----------------------------------------------------------------------------

std::string scs_p_IdentNormalize(std::string_view text, char quote, uint16_t quotedCase, uint16_t identCase, bool wide,
                                 bool mayQuote) {
    if (text.empty())
        return std::string();
    const bool quoted = IsQuoted(text, quote);
    std::string name =
        quoted ? FoldStored(scs_Unquote(text, quote), quotedCase, wide) : FoldStored(text, identCase, wide);
    // A bare name is quoted only where quoting keeps its meaning: not where the server folds
    // bare names and compares quoted ones otherwise.
    const bool bareFolded = (identCase == SCS_CASE_SENSITIVE && quotedCase != SCS_CASE_SENSITIVE) ||
                            (identCase == SCS_CASE_LOWER && quotedCase == SCS_CASE_UPPER) ||
                            (identCase == SCS_CASE_UPPER && quotedCase == SCS_CASE_LOWER);
    if (quote != 0 && mayQuote && (quoted || !bareFolded))
        return scs_Quote(name, quote);
    return name;
}

bool scs_p_IdentEqual(std::string_view a, std::string_view b, char quote, uint16_t quotedCase, uint16_t identCase,
                      bool wide) {
    if (a.empty() || b.empty())
        return false;
    auto form = [&](std::string_view t) {
        return IsQuoted(t, quote) ? FoldCompared(scs_Unquote(t, quote), quotedCase, wide)
                                  : FoldCompared(t, identCase, wide);
    };
    return form(a) == form(b);
}

bool scs_p_IsPseudoColumnQuotable(std::string_view column, std::string_view dbmsName) {
    const std::string c = FoldLower(column, false);
    if (c.find("rowid") == std::string::npos && c.find("rownum") == std::string::npos)
        return true;
    return FoldLower(dbmsName, false).find("oracle") == std::string::npos;
}

// ---- FROM tables and their columns ------------------------------------------------------------

int scs_p_GetTblDescs(SCS_STMT* cur, UT_ARRAY* tables) {
    if (cur == nullptr || tables == nullptr || tables->elementSize != sizeof(SCR_TABLEREF))
        return ERR_GENERAL_ERROR;
    const char q = cur->identQuote;
    auto* refs = Elements<SCR_TABLEREF>(tables);
    for (uint32_t i = 0; i < tables->count; ++i) {
        SCR_TABLEREF& ref = refs[i];
        const std::string table = CatalogName(Or(ref.table), cur);
        if (table.empty()) {
            LOG_MSG(LOG_DEBUG, "scs_p_GetTblDescs: no table name (derived table %s)", Or(ref.alias));
            return ERR_GENERAL_ERROR;
        }
        const std::string catalog = scs_Unquote(Or(ref.catalog), q);
        const std::string tableArg = scs_CatalogPattern(table);
        const bool ownerGiven = Or(ref.schema)[0] != '\0';
        DATASET rows{};
        for (int attempt = 0;; ++attempt) {
            std::string ownerArg;
            if (ownerGiven)
                ownerArg = scs_CatalogPattern(CatalogName(ref.schema, cur));
            else
                ownerArg = attempt == 0 ? std::string("%") : scs_CatalogPattern(cur->userName);
            OA_CATARGS args{};
            args.names[0] = catalog.empty() ? nullptr : catalog.c_str();
            args.names[1] = ownerArg.c_str();
            args.names[2] = tableArg.c_str();
            args.names[3] = "";
            if (int rc = scs_CatalogRead(cur, &OA_OPTABLE::DRV_DDTables, "DRV_DDTables", args, &rows,
                                         "scs_p_GetTblDescs");
                rc != 0) {
                LOG_MSG(LOG_DEBUG, "scs_p_GetTblDescs: no table descriptors for %s", table.c_str());
                return rc;
            }
            if (rows.rowsUsed == 0) {
                ds_Free(&rows);
                const SQLSTATE_ROW* row = SqlStateRow(ERR_TABLE_OR_VIEW_NOT_FOUND);
                oa_ErrPostOn(cur->agentStmt, row->message, row->state);
                LOG_MSG(LOG_ERR, "scs_p_GetTblDescs: Table %s does not exist.", table.c_str());
                return ERR_TABLE_OR_VIEW_NOT_FOUND;
            }
            if (rows.rowsUsed == 1)
                break;
            ds_Free(&rows);
            LOG_MSG(LOG_ERR, "scs_p_GetTblDescs: Duplicate table name (%s).\n\tRequire owner qualifier to resolve.",
                    table.c_str());
            // A given owner asks the same again: only an open owner has a narrower try.
            if (ownerGiven || attempt == 1)
                return ERR_DUPLICATE_TABLE_NAME_REQUIRE_OWNER_QUALIFIER;
            LOG_MSG(LOG_ERR, "Trying current username (%s) as owner qualifier.", cur->userName.c_str());
        }
        std::string cat, schema, name;
        bool catNull = false, schemaNull = false, nameNull = false;
        int rc = scs_CatalogText(rows, kTablesCat, 0, &cat, &catNull);
        if (rc == 0)
            rc = scs_CatalogText(rows, kTablesSchema, 0, &schema, &schemaNull);
        if (rc == 0)
            rc = scs_CatalogText(rows, kTablesName, 0, &name, &nameNull);
        ds_Free(&rows);
        if (rc != 0)
            return rc;
        if (nameNull || name.empty())
            return ERR_GENERAL_ERROR;
        cat = catNull || cat.empty() ? std::string() : scs_Quote(cat, q);
        schema = schemaNull || schema.empty() ? std::string() : scs_Quote(schema, q);
        name = scs_Quote(name, q);
        if (cat.size() > SCS_NAME_MAX || schema.size() > SCS_NAME_MAX || name.size() > SCS_NAME_MAX) {
            LOG_MSG(LOG_DEBUG, "scs_p_GetTblDescs: name of table %s too long", table.c_str());
            return ERR_GENERAL_ERROR;
        }
        if ((!cat.empty() && !PutRefText(&ref.catalog, cat)) || (!schema.empty() && !PutRefText(&ref.schema, schema)) ||
            !PutRefText(&ref.table, name))
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

int scs_p_GetTblColDescs(SCS_STMT* cur, const UT_ARRAY* tables, bool skipLong, UT_ARRAY* out) {
    if (cur == nullptr || tables == nullptr || out == nullptr || out->elementSize != sizeof(SCS_COLDESC))
        return ERR_GENERAL_ERROR;
    const auto* refs = Elements<const SCR_TABLEREF>(tables);
    for (uint32_t i = 0; i < tables->count; ++i)
        if (int rc = TableColDescs(cur, refs[i], skipLong, out); rc != 0)
            return rc;
    return 0;
}

// ---- Select list --------------------------------------------------------------------------------

int scs_p_SelectColsGet(SCS_STMT* cur, UT_ARRAY* out, UT_ARRAY** unexpanded) {
    if (unexpanded != nullptr)
        *unexpanded = nullptr;
    if (cur == nullptr || out == nullptr || out->elementSize != sizeof(SCS_COLDESC))
        return ERR_GENERAL_ERROR;
    UT_ARRAY* items = ut_ArrayNew(sizeof(SCS_COLDESC));
    if (items == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    int rc = SCR_SelListGet(&cur->analysis, items);
    const auto* item = Elements<const SCS_COLDESC>(items);
    for (uint32_t i = 0; i < items->count && rc == 0; ++i) {
        switch (item[i].itemKind) {
        case SCS_ITEM_STAR:
            if (cur->fromTables == nullptr)
                rc = ERR_GENERAL_ERROR;
            else
                rc = scs_p_GetTblColDescs(cur, cur->fromTables, false, out);
            break;
        case SCS_ITEM_TABLE_STAR: {
            const SCR_TABLEREF* ref = TableOfQualifier(cur, item[i].table);
            if (ref == nullptr) {
                LOG_MSG(LOG_DEBUG, "scs_p_SelectColsGet: Unable to find descriptor for table/alias %s",
                        item[i].table);
                rc = ERR_GENERAL_ERROR;
            } else {
                rc = TableColDescs(cur, *ref, false, out);
            }
            break;
        }
        case SCS_ITEM_EXPRESSION:
        case SCS_ITEM_COLUMN:
            if (!AppendColDesc(out, item[i]))
                rc = ERR_MEMORY_ALLOCATION_FAILURE;
            break;
        default:
            rc = ERR_GENERAL_ERROR;
            break;
        }
    }
    if (rc != 0)
        LOG_MSG(LOG_DEBUG, "scs_p_SelectColsGet failed");
    // Each result column knows its place in the select list the statement will have.
    auto* cols = Elements<SCS_COLDESC>(out);
    for (uint32_t i = 0; i < out->count; ++i)
        cols[i].selectPosition = static_cast<int32_t>(i + 1);
    if (rc == 0 && unexpanded != nullptr)
        *unexpanded = items;
    else
        ut_ArrayFree(&items, SCR_ColDescFree);
    return rc;
}

int scs_p_SelectCol_ColDescComplete(SCS_STMT* cur) {
    if (cur == nullptr)
        return ERR_GENERAL_ERROR;
    auto* items = Elements<SCS_COLDESC>(cur->selectCols);
    const auto* tableCols = Elements<const SCS_COLDESC>(cur->tableCols);
    const uint32_t tableCount = FromTableCount(cur);
    for (uint32_t i = 0; i < Count(cur->selectCols); ++i) {
        SCS_COLDESC& item = items[i];
        if (item.itemKind != SCS_ITEM_COLUMN)
            continue;
        const bool quotable = scs_p_IsPseudoColumnQuotable(item.column, cur->dbmsName);
        if (!PutField(item.column, Normalize(cur, item.column, quotable)) ||
            !PutField(item.table, Normalize(cur, item.table, true)) ||
            !PutField(item.owner, Normalize(cur, item.owner, true)))
            return ERR_GENERAL_ERROR;
        for (uint32_t c = 0; c < Count(cur->tableCols); ++c) {
            const SCS_COLDESC& d = tableCols[c];
            if (!Equal(cur, d.column, item.column))
                continue;
            if (tableCount >= 2 && item.table[0] != '\0') {
                // An aliased table is named by its alias only.
                const bool sameOwner = item.owner[0] == '\0' || Equal(cur, d.owner, item.owner);
                const bool sameTable = d.alias[0] != '\0' ? Equal(cur, d.alias, item.table)
                                                          : Equal(cur, d.table, item.table) && sameOwner;
                if (!sameTable)
                    continue;
            }
            std::memcpy(item.column, d.column, sizeof item.column);
            std::memcpy(item.table, d.table, sizeof item.table);
            std::memcpy(item.alias, d.alias, sizeof item.alias);
            std::memcpy(item.owner, d.owner, sizeof item.owner);
            std::memcpy(item.qualifier, d.qualifier, sizeof item.qualifier);
            item.sqlType = d.sqlType;
            item.columnSize = d.columnSize;
            item.decimalDigits = d.decimalDigits;
            break;
        }
    }
    return 0;
}

int scs_p_SelListAddKeysnXpandWC(SCS_STMT* cur, const UT_ARRAY* unexpanded, bool addKeys, bool* rewritten) {
    if (rewritten != nullptr)
        *rewritten = false;
    if (cur == nullptr || unexpanded == nullptr || rewritten == nullptr || cur->selectCols == nullptr)
        return ERR_GENERAL_ERROR;
    bool star = false, anyStar = false;
    const auto* raw = Elements<const SCS_COLDESC>(unexpanded);
    for (uint32_t i = 0; i < unexpanded->count; ++i) {
        star = star || raw[i].itemKind == SCS_ITEM_STAR;
        anyStar = anyStar || raw[i].itemKind == SCS_ITEM_STAR || raw[i].itemKind == SCS_ITEM_TABLE_STAR;
    }
    // "*" already names every column, so it names every key column too.
    std::vector<const SCS_COLDESC*> missing;
    if (addKeys && !star && cur->keyset != nullptr) {
        const auto* keys = Elements<const SCS_COLDESC>(cur->keyset->keyCols);
        for (uint32_t k = 0; k < Count(cur->keyset->keyCols); ++k) {
            bool named = false;
            const auto* items = Elements<const SCS_COLDESC>(cur->selectCols);
            for (uint32_t i = 0; i < cur->selectCols->count && !named; ++i)
                named = std::strcmp(items[i].column, keys[k].column) == 0 &&
                        std::strcmp(items[i].table, keys[k].table) == 0 &&
                        std::strcmp(items[i].owner, keys[k].owner) == 0 &&
                        std::strcmp(items[i].qualifier, keys[k].qualifier) == 0;
            if (!named)
                missing.push_back(&keys[k]);
        }
    }
    if (!anyStar && missing.empty())
        return 0;

    const uint32_t tableCount = FromTableCount(cur);
    std::string list;
    const auto* items = Elements<const SCS_COLDESC>(cur->selectCols);
    for (uint32_t i = 0; i < cur->selectCols->count; ++i) {
        if (i != 0)
            list += ", ";
        if (items[i].itemKind == SCS_ITEM_COLUMN)
            list += scs_QualifiedColName(tableCount, items[i]);
        else if (items[i].itemKind == SCS_ITEM_EXPRESSION)
            list += items[i].text != nullptr ? items[i].text : items[i].column;
        else
            return ERR_GENERAL_ERROR;
        // The result column keeps the name the application gave it.
        if (items[i].label[0] != '\0') {
            list += " AS ";
            list += items[i].label;
        }
    }
    for (const SCS_COLDESC* key : missing) {
        list += ", ";
        list += KeyReference(cur, tableCount, *key);
    }
    if (int rc = SCR_SelListSet(&cur->analysis, list.c_str()); rc != 0)
        return rc;
    if (int rc = TakeRootText(cur); rc != 0)
        return rc;
    for (const SCS_COLDESC* key : missing) {
        if (!AppendColDesc(cur->selectCols, *key))
            return ERR_MEMORY_ALLOCATION_FAILURE;
        auto* added = Elements<SCS_COLDESC>(cur->selectCols) + cur->selectCols->count - 1;
        added->selectPosition = static_cast<int32_t>(cur->selectCols->count);
    }
    *rewritten = true;
    return 0;
}

std::string scs_QualifiedColName(uint32_t tableCount, const SCS_COLDESC& col) {
    std::string out;
    if (tableCount > 1) {
        if (col.alias[0] != '\0') {
            out = col.alias;
        } else if (col.owner[0] != '\0') {
            out = col.owner;
            out += '.';
            out += col.table;
        } else {
            out = col.table;
        }
        if (!out.empty())
            out += '.';
    }
    out += col.column;
    return out;
}

// ---- ORDER BY ----------------------------------------------------------------------------------

int scs_p_OrderByDescsGet(SCS_STMT* cur) {
    if (cur == nullptr)
        return ERR_GENERAL_ERROR;
    ut_ArrayFree(&cur->orderBy, SCR_SelColDescFree);
    UT_ARRAY* order = ut_ArrayNew(sizeof(SCS_SELCOLDESC));
    if (order == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    cur->orderBy = order;
    if (int rc = SCR_OrderByGet(&cur->analysis, order); rc != 0)
        return rc;
    cur->clauseFlags = static_cast<uint16_t>(cur->clauseFlags | cur->analysis.flags);
    const bool ordinals = (cur->analysis.flags & SCR_F_ORDINALS) != 0;
    const uint32_t tableCount = FromTableCount(cur);
    auto* items = Elements<SCS_SELCOLDESC>(order);

    if (ordinals) {
        // Ordinals name the expanded select list. Cursor preparation reads the ORDER BY
        // before any columns: expand and complete the list here then (the completed names
        // and types are what the key comparisons and seek queries need), in arrays of our
        // own, for the record's are made later by their own steps.
        UT_ARRAY* own = nullptr;
        UT_ARRAY* ownTableCols = nullptr;
        const UT_ARRAY* select = cur->selectCols;
        int rc = 0;
        if (select == nullptr) {
            own = ut_ArrayNew(sizeof(SCS_COLDESC));
            if (own == nullptr)
                return ERR_MEMORY_ALLOCATION_FAILURE;
            const bool lendTableCols = cur->tableCols == nullptr && cur->fromTables != nullptr;
            if (lendTableCols) {
                ownTableCols = ut_ArrayNew(sizeof(SCS_COLDESC));
                rc = ownTableCols == nullptr ? ERR_MEMORY_ALLOCATION_FAILURE
                                             : scs_p_GetTblColDescs(cur, cur->fromTables, false, ownTableCols);
            }
            if (rc == 0)
                rc = scs_p_SelectColsGet(cur, own, nullptr);
            if (rc == 0) {
                std::swap(cur->selectCols, own);
                if (lendTableCols)
                    std::swap(cur->tableCols, ownTableCols);
                rc = scs_p_SelectCol_ColDescComplete(cur);
                std::swap(cur->selectCols, own);
                if (lendTableCols)
                    std::swap(cur->tableCols, ownTableCols);
            }
            ut_ArrayFree(&ownTableCols, SCR_ColDescFree);
            select = own;
        }
        const auto* sel = Elements<const SCS_COLDESC>(select);
        for (uint32_t i = 0; i < order->count && rc == 0; ++i) {
            SCS_SELCOLDESC& item = items[i];
            // "ORDER BY 0" reads as ordinal 0 with no column: past the list like any other.
            if (item.ordinal == 0 && item.col.text != nullptr)
                continue;
            if (item.ordinal < 1 || static_cast<uint32_t>(item.ordinal) > Count(select)) {
                rc = ERR_SYNTAX_ERROR_OR_ACCESS;
                break;
            }
            const SCS_COLDESC& s = sel[item.ordinal - 1];
            if (s.itemKind != SCS_ITEM_COLUMN) {
                rc = ERR_ORDERING_ON_AN_EXPRESSION_IS_NOT;
                break;
            }
            std::memcpy(item.col.column, s.column, sizeof s.column);
            std::memcpy(item.col.table, s.table, sizeof s.table);
            std::memcpy(item.col.alias, s.alias, sizeof s.alias);
            std::memcpy(item.col.owner, s.owner, sizeof s.owner);
            std::memcpy(item.col.qualifier, s.qualifier, sizeof s.qualifier);
            item.col.sqlType = s.sqlType;
            item.col.columnSize = s.columnSize;
            item.col.decimalDigits = s.decimalDigits;
            uh_Free(item.col.text);
            item.col.text = uh_StrDup(scs_QualifiedColName(tableCount, s).c_str());
            if (item.col.text == nullptr)
                rc = ERR_MEMORY_ALLOCATION_FAILURE;
        }
        ut_ArrayFree(&own, SCR_ColDescFree);
        if (rc != 0)
            return rc;
    }

    const auto* refs = Elements<const SCR_TABLEREF>(cur->fromTables);
    for (uint32_t i = 0; i < order->count; ++i) {
        SCS_COLDESC& c = items[i].col;
        if (c.itemKind == SCS_ITEM_EXPRESSION)
            continue;
        const bool quotable = scs_p_IsPseudoColumnQuotable(c.column, cur->dbmsName);
        if (!PutField(c.column, Normalize(cur, c.column, quotable)))
            return ERR_GENERAL_ERROR;
        if (c.table[0] == '\0' || c.alias[0] != '\0')
            continue;  // no table named, or an ordinal's item already resolved
        const SCR_TABLEREF* aliased = nullptr;
        for (uint32_t t = 0; t < Count(cur->fromTables) && aliased == nullptr; ++t)
            if (Equal(cur, c.table, Or(refs[t].alias)))
                aliased = &refs[t];
        bool fits;
        if (aliased != nullptr)
            fits = PutField(c.alias, c.table) && PutField(c.table, Or(aliased->table)) &&
                   PutField(c.owner, Or(aliased->schema));
        else
            fits = PutField(c.table, Normalize(cur, c.table, true)) && PutField(c.owner, Normalize(cur, c.owner, true));
        if (!fits)
            return ERR_GENERAL_ERROR;
    }

    if (ordinals) {
        if (int rc = SCR_OrderByResolve(&cur->analysis, order); rc != 0)
            return rc;
        return TakeRootText(cur);
    }
    return 0;
}

void scs_p_KeyOrderPositions(SCS_STMT* cur) {
    if (cur == nullptr || cur->keyset == nullptr || Count(cur->keyset->keyCols) == 0)
        return;
    auto* keys = Elements<SCS_COLDESC>(cur->keyset->keyCols);
    const uint32_t keyCount = cur->keyset->keyCols->count;
    for (uint32_t k = 0; k < keyCount; ++k)
        keys[k].orderPosition = 0;
    const auto* items = Elements<const SCS_SELCOLDESC>(cur->orderBy);
    for (uint32_t i = 0; i < Count(cur->orderBy); ++i) {
        const SCS_COLDESC& c = items[i].col;
        for (uint32_t k = 0; k < keyCount; ++k) {
            if (!Equal(cur, keys[k].column, c.column))
                continue;
            if (c.table[0] != '\0' && !Equal(cur, keys[k].table, c.table))
                continue;
            if (c.owner[0] != '\0' && !Equal(cur, keys[k].owner, c.owner))
                continue;
            // A column ordered twice keeps the place of its first item.
            if (keys[k].orderPosition == 0)
                keys[k].orderPosition = static_cast<int32_t>(i + 1);
            break;
        }
    }
}

// ---- Parameters of key columns -------------------------------------------------------------------

PARAM_DESC scs_ParamDescFromColDesc(const SCS_COLDESC& col) {
    int16_t cType;
    switch (col.sqlType) {
    case 4: case 5: case 7: case 9: case 10: case 11: case 91: case 92: case 93: case -7: case -6:
        cType = static_cast<int16_t>(col.sqlType);
        break;
    case 6: case 8:
        cType = 8;
        break;
    case -10: case -9: case -8:
        cType = -8;
        break;
    case -4: case -3: case -2:
        cType = -2;
        break;
    default:
        cType = 1;
        break;
    }
    PARAM_DESC d{};
    d.sqlType = static_cast<int16_t>(col.sqlType);
    d.cType = cType;
    d.columnSize = static_cast<int32_t>(col.columnSize);
    d.scale = col.decimalDigits;
    d.paramType = 1;
    return d;
}

int scs_AddParamDescs(SCS_STMT* cur, const SCS_COLDESC* cols, uint32_t n, bool appendUser) {
    if (cur == nullptr || (cols == nullptr && n != 0))
        return ERR_GENERAL_ERROR;
    try {
        std::vector<PARAM_DESC> grown = cur->paramDescs;
        grown.reserve(grown.size() + n + (appendUser ? cur->userParamDescs.size() : 0));
        for (uint32_t i = 0; i < n; ++i)
            grown.push_back(scs_ParamDescFromColDesc(cols[i]));
        if (appendUser)
            grown.insert(grown.end(), cur->userParamDescs.begin(), cur->userParamDescs.end());
        cur->paramDescs.swap(grown);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

// ---- Describe attributes of a rewritten select list ---------------------------------------------

int scs_p_FixColAttribs(SCS_STMT* cur, uint16_t colCount, COLDESC* cols, std::vector<COLATTR>* attrs) {
    if (cur == nullptr || (cur->flags & SCS_SELECT_REWRITTEN) == 0 || cur->selectCols == nullptr)
        return 0;
    if (attrs == nullptr || (cols == nullptr && colCount != 0))
        return ERR_GENERAL_ERROR;
    const auto* sel = Elements<const SCS_COLDESC>(cur->selectCols);
    const uint16_t described = static_cast<uint16_t>(std::min<uint32_t>(colCount, cur->selectCols->count));
    const char q = cur->identQuote;
    try {
        for (uint16_t i = 1; i <= described; ++i) {
            const SCS_COLDESC& s = sel[i - 1];
            const int32_t isKey = s.itemKind == SCS_ITEM_COLUMN && IsKeyColumn(cur, s) ? 1 : 0;
            const int32_t isExpression = s.itemKind == SCS_ITEM_EXPRESSION ? 1 : 0;
            bool hasKey = false, hasExpression = false;
            const size_t before = attrs->size();
            for (size_t e = 0; e < before; ++e) {
                COLATTR& a = (*attrs)[e];
                if (a.column != static_cast<int16_t>(i))
                    continue;
                if (a.attribute == kAttrKeyColumn || a.attribute == kAttrExpression) {
                    (a.attribute == kAttrKeyColumn ? hasKey : hasExpression) = true;
                } else if (a.attribute == -kAttrKeyColumn || a.attribute == -kAttrExpression) {
                    const bool key = a.attribute == -kAttrKeyColumn;
                    (key ? hasKey : hasExpression) = true;
                    // A text entry's text is the agent's table's: never read it as a number.
                    if (a.kind == COLATTR_TEXT)
                        continue;
                    a.attribute = key ? kAttrKeyColumn : kAttrExpression;
                    a.kind = COLATTR_INT;
                    a.value.i = key ? isKey : isExpression;
                }
            }
            if (!hasKey)
                attrs->push_back(COLATTR{static_cast<int16_t>(i), kAttrKeyColumn, COLATTR_INT, {isKey}});
            if (!hasExpression)
                attrs->push_back(COLATTR{static_cast<int16_t>(i), kAttrExpression, COLATTR_INT, {isExpression}});

            COLDESC& d = cols[i - 1];
            const std::pair<char**, const char*> names[] = {
                {&d.table, s.table}, {&d.schema, s.owner}, {&d.catalog, s.qualifier}};
            for (const auto& [field, from] : names) {
                if ((*field != nullptr && **field != '\0') || from[0] == '\0')
                    continue;
                char* copy = uh_StrDup(scs_Unquote(from, q).c_str());
                if (copy == nullptr)
                    return ERR_MEMORY_ALLOCATION_FAILURE;
                // The empty text goes unless another field of the record shares it.
                char* old = *field;
                *field = copy;
                if (old != nullptr && old != d.catalog && old != d.schema && old != d.table && old != d.label)
                    uh_Free(old);
            }
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}
