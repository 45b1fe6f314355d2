// Statement analysis: the parse into an SCR_STMTINFO, the clause flags, the readers of a
// query and the edits that splice the cursor library's SQL into it.
#include "sqlparse/scr_analyse.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "sqlparse/ptree.h"
#include "sqlparse/scsql_parse.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

// Node kinds of the grammar that the analysis reads.
enum : int32_t {
    kColumnName = 10,
    kColumnRef = 11,
    kCorrelationName = 15,
    kValueExpression = 23,
    kFactor = 24,
    kDerivedTable = 29,
    kDirection = 44,
    kNamedTable = 46,
    kGroupBy = 47,
    kOrderByHolder = 50,
    kUnionHolder = 52,
    kWhereHolder = 54,
    kOrderByClause = 55,
    kOuterJoinWord = 56,
    kMiddlePart = 57,
    kPrimary = 60,
    kFirstPart = 63,
    kSearchCondition = 68,
    kQuerySpec = 72,
    kSelectList = 73,
    kParameter = 20,
    kQuery = 74,
    kSelectItem = 75,
    kSetFunction = 76,
    kSortItem = 80,
    kSortList = 81,
    kSubquery = 85,
    kTableExpression = 86,
    kTablePart = 87,
    kTableName = 88,
    kFromList = 90,
    kTerm = 91,
    kUnionClause = 94,
    kUnsignedInteger = 95,
    kWhereClause = 101,
};

bool IsInner(const PT_NODE* node) {
    return node != nullptr && node->childCount != 0;
}

bool TemplateIs(const PT_NODE* node, const char* tmpl) {
    return node->tmpl != nullptr && std::strcmp(node->tmpl, tmpl) == 0;
}

const char* TextOf(PT_NODE* node) {
    const char* t = node != nullptr ? PT_NodeText(node) : nullptr;
    return t != nullptr ? t : "";
}

// Copies at most SCS_NAME_LEN - 1 bytes of text into a name field.
void CopyField(char* field, const char* text) {
    size_t n = std::strlen(text);
    if (n > SCS_NAME_LEN - 1)
        n = SCS_NAME_LEN - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// A node of a nested query: nothing below it belongs to the query being read.
bool IsNestedQuery(const PT_NODE* node) {
    return node->kind == kSubquery || node->kind == kQuerySpec;
}

// The walk below a node that collects the nodes of one kind (or, with derived, also the
// derived tables) without descending into nested queries.
struct Collector {
    int32_t kind;
    bool derived;
    UT_ARRAY* nodes;
    bool failed;
};

int CbCollectOwn(PT_NODE* node, int32_t, void* user) {
    auto* c = static_cast<Collector*>(user);
    bool isDerived = c->derived && node->kind == kDerivedTable && PT_Child(node, 1) != nullptr &&
                     PT_Child(node, 1)->kind == kQuerySpec;
    if (node->kind == c->kind || isDerived) {
        if (ut_ArrayAppend(c->nodes, &node) == 0) {
            c->failed = true;
            return 0;
        }
        if (isDerived)
            return 0;  // its only siblings are its own parts, none of them a table
    }
    // A nested query is always the last argument of its parent, or comes before only
    // its own correlation name and ORDER BY: pruning its later siblings loses nothing.
    return IsNestedQuery(node) ? 0 : 1;
}

// The nodes of the kind below node that belong to its own query, into a new array of node
// pointers (the caller frees it). 0, or 16.
int CollectOwn(PT_NODE* node, int32_t kind, bool derived, UT_ARRAY** out) {
    *out = ut_ArrayNew(sizeof(PT_NODE*));
    if (*out == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    Collector c{kind, derived, *out, false};
    if (node->child != nullptr && (PT_Walk(node->child, CbCollectOwn, kind, &c) == 0 || c.failed)) {
        ut_ArrayFree(out, nullptr);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

PT_NODE* NodeAt(const UT_ARRAY* nodes, uint32_t i) {
    return static_cast<PT_NODE**>(nodes->elements)[i];
}

int Regenerate(SCR_STMTINFO* info) {
    return PT_RegenText(info->root) != 0 ? 0 : ERR_MEMORY_ALLOCATION_FAILURE;
}

// The outer SELECT (select list and clauses) and its table expression; 15 when the
// statement is not a query.
int OuterParts(const SCR_STMTINFO* info, PT_NODE** spec, PT_NODE** tableExpr) {
    if (info == nullptr || info->root == nullptr || info->root->kind != kQuery)
        return ERR_GENERAL_ERROR;
    *spec = PT_Child(info->root, 1);
    if (*spec == nullptr || (*spec)->kind != kQuerySpec)
        return ERR_GENERAL_ERROR;
    *tableExpr = PT_Child(*spec, 3);
    if (*tableExpr == nullptr || (*tableExpr)->kind != kTableExpression)
        return ERR_GENERAL_ERROR;
    return 0;
}

// The query's ORDER BY holder: the one of the last UNION branch, where the grammar puts
// an ORDER BY that ends the statement. 15 when there is none.
int OrderByHolder(const SCR_STMTINFO* info, PT_NODE** holder) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    for (;;) {
        PT_NODE* u = PT_ChildOfKind(te, kUnionHolder);
        if (!IsInner(u))
            break;
        PT_NODE* clause = PT_Child(u, 1);
        spec = clause != nullptr && clause->kind == kUnionClause ? PT_Child(clause, 1) : nullptr;
        te = spec != nullptr && spec->kind == kQuerySpec ? PT_Child(spec, 3) : nullptr;
        if (te == nullptr || te->kind != kTableExpression)
            return ERR_GENERAL_ERROR;
    }
    *holder = PT_ChildOfKind(te, kOrderByHolder);
    if (*holder == nullptr)
        return ERR_GENERAL_ERROR;
    // The query's own holder takes an ORDER BY only when the table expression's cannot.
    if (!IsInner(*holder) && IsInner(PT_Child(info->root, 2)))
        *holder = PT_Child(info->root, 2);
    return 0;
}

// The ORDER BY test: sets or clears 0x0004 and yields the holder.
int OrderByFlag(SCR_STMTINFO* info, PT_NODE** holder) {
    if (int rc = OrderByHolder(info, holder); rc != 0)
        return rc;
    if (IsInner(*holder))
        info->flags |= SCR_F_ORDER_BY;
    else
        info->flags &= ~SCR_F_ORDER_BY;
    return 0;
}

void SetFlag(SCR_STMTINFO* info, uint32_t flag, bool on) {
    if (on)
        info->flags |= flag;
    else
        info->flags &= ~flag;
}

int CbFindAny(PT_NODE* node, int32_t kind, void* slot) {
    return PT_CbFind(node, kind, slot);
}

// Whether a node of the kind lies below node in its own query; 16 when the walk failed.
int HasOwn(PT_NODE* node, int32_t kind, bool* found) {
    UT_ARRAY* nodes = nullptr;
    if (int rc = CollectOwn(node, kind, false, &nodes); rc != 0)
        return rc;
    *found = nodes->count != 0;
    ut_ArrayFree(&nodes, nullptr);
    return 0;
}

int SetClauseFlags(SCR_STMTINFO* info, int keepCatalog) {
    PT_NODE* holder = nullptr;
    if (int rc = OrderByFlag(info, &holder); rc != 0)
        return rc;
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    SetFlag(info, SCR_F_GROUP_BY, IsInner(PT_ChildOfKind(te, kGroupBy)));
    SetFlag(info, SCR_F_UNION, IsInner(PT_ChildOfKind(te, kUnionHolder)));

    UT_ARRAY* tables = ut_ArrayNew(sizeof(SCR_TABLEREF));
    if (tables == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    int rc = SCR_TablesGet(info, tables, keepCatalog);
    SetFlag(info, SCR_F_TABLES, rc == 0 && tables->count >= 2);
    ut_ArrayFree(&tables, SCR_TableRefFree);
    if (rc != 0)
        return rc;

    // Its users read the flag as "a set function in the select list": the query's own.
    bool setFunction = false;
    PT_NODE* list = PT_Child(spec, 2);
    if (list != nullptr && (rc = HasOwn(list, kSetFunction, &setFunction)) != 0)
        return rc;
    SetFlag(info, SCR_F_SET_FUNCTION, setFunction);

    // SELECT DISTINCT: the set quantifier leads the select quantifier.
    const PT_NODE* quantifier = PT_Child(spec, 1);
    const PT_NODE* set = quantifier != nullptr ? quantifier->child : nullptr;
    SetFlag(info, SCR_F_DISTINCT, set != nullptr && set->text != nullptr && std::strcmp(set->text, "DISTINCT") == 0);

    PT_NODE* outer = nullptr;
    if (PT_Walk(info->root, CbFindAny, kOuterJoinWord, &outer) == 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    SetFlag(info, SCR_F_OUTER_JOIN, outer != nullptr);
    return 0;
}

// Owned copy for a table-reference field; false when out of memory.
bool Dup(char** field, const char* text) {
    *field = uh_StrDup(text != nullptr ? text : "");
    return *field != nullptr;
}

// Splits a table name node by its parts: the table part (87), a middle part (57, the
// schema), a first part (63) that is the schema in "o.t", the catalog in "c.o.t", "c..t",
// "c:t" and "c:o.t", and the link in "t@l" (dropped); in "l@c:..." the first part is a
// node over the link and the catalog.
void SplitTableName(PT_NODE* name, const char** catalog, const char** schema, const char** table) {
    *catalog = *schema = *table = "";
    bool seenTable = false;
    bool hasMiddle = PT_ChildOfKind(name, kMiddlePart) != nullptr;
    for (PT_NODE* c = name->child; c != nullptr; c = c->sibling) {
        switch (c->kind) {
        case kTablePart:
            *table = TextOf(c);
            seenTable = true;
            break;
        case kMiddlePart:
            *schema = TextOf(c);
            break;
        case kFirstPart:
            if (seenTable)
                break;  // the link
            if (IsInner(c))
                *catalog = TextOf(PT_Child(c, 2));
            else if (!hasMiddle && TemplateIs(name, PT_ARG1 "." PT_ARG2))
                *schema = TextOf(c);
            else
                *catalog = TextOf(c);
            break;
        default:
            break;
        }
    }
    if (!seenTable && !IsInner(name))
        *table = TextOf(name);
}

int TableRefAdd(PT_NODE* ref, UT_ARRAY* tables, int keepCatalog) {
    const char* catalog = "";
    const char* schema = "";
    const char* table = "";
    const char* alias = "";
    if (ref->kind == kNamedTable) {
        PT_NODE* name = PT_Child(ref, 1);
        if (name == nullptr || name->kind != kTableName)
            return ERR_GENERAL_ERROR;
        SplitTableName(name, &catalog, &schema, &table);
        PT_NODE* corr = PT_Child(ref, 3);
        if (corr != nullptr && corr->kind == kCorrelationName)
            alias = TextOf(corr);
    } else {
        PT_NODE* corr = PT_Child(ref, 3);  // a derived table: only its correlation name
        if (corr != nullptr && corr->kind == kCorrelationName)
            alias = TextOf(corr);
    }
    SCR_TABLEREF rec{};
    bool ok = Dup(&rec.catalog, keepCatalog != 0 ? catalog : "") && Dup(&rec.schema, schema) &&
              Dup(&rec.table, table) && Dup(&rec.alias, alias);
    if (!ok || ut_ArrayAppend(tables, &rec) == 0) {
        SCR_TableRefFree(&rec);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

// The plain column an item's value expression is, or null: a value expression over a
// single term, factor (no sign) and primary whose one child is a column reference.
PT_NODE* PlainColumn(PT_NODE* expr) {
    if (expr == nullptr || expr->kind != kValueExpression || !TemplateIs(expr, PT_ARG1))
        return nullptr;
    PT_NODE* term = PT_Child(expr, 1);
    if (term == nullptr || term->kind != kTerm || !TemplateIs(term, PT_ARG1))
        return nullptr;
    PT_NODE* factor = PT_Child(term, 1);
    if (factor == nullptr || factor->kind != kFactor || !TemplateIs(factor, PT_ARG1))
        return nullptr;
    PT_NODE* primary = PT_Child(factor, 1);
    if (primary == nullptr || primary->kind != kPrimary || !TemplateIs(primary, PT_ARG1))
        return nullptr;
    PT_NODE* ref = PT_Child(primary, 1);
    return ref != nullptr && ref->kind == kColumnRef ? ref : nullptr;
}

// An ORDER BY ordinal's value; values beyond an int's range stay out of reach.
int32_t OrdinalOf(const char* text) {
    errno = 0;
    long long v = std::strtoll(text, nullptr, 10);
    if (errno != 0 || v > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(v);
}

// The sort items of the query's ORDER BY; 15 without one or without items.
int SortItems(SCR_STMTINFO* info, UT_ARRAY** items) {
    PT_NODE* holder = nullptr;
    if (int rc = OrderByHolder(info, &holder); rc != 0)
        return rc;
    if (!IsInner(holder))
        return ERR_GENERAL_ERROR;
    if (int rc = CollectOwn(holder, kSortItem, false, items); rc != 0)
        return rc;
    if ((*items)->count == 0) {
        ut_ArrayFree(items, nullptr);
        return ERR_GENERAL_ERROR;
    }
    return 0;
}

// "prefix" followed by text, on the uh_ heap.
char* Joined(const char* prefix, const char* text) {
    size_t a = std::strlen(prefix);
    size_t b = std::strlen(text);
    auto* out = static_cast<char*>(uh_Malloc(a + b + 1));
    if (out != nullptr) {
        std::memcpy(out, prefix, a);
        std::memcpy(out + a, text, b + 1);
    }
    return out;
}

// Sets a leaf's text to prefix followed by text; 16 when out of memory.
int SetLeafText(PT_NODE* leaf, const char* prefix, const char* text) {
    char* t = Joined(prefix, text);
    if (t == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    int ok = PT_NodeSetText(leaf, t);
    uh_Free(t);
    return ok != 0 ? 0 : ERR_MEMORY_ALLOCATION_FAILURE;
}

// Makes node's template tmpl and a new leaf of the kind with the fragment its argument
// at position (1 first, 2 after the existing one argument). 16 when out of memory, with
// nothing changed.
int SpliceLeaf(PT_NODE* node, int32_t kind, const char* fragment, const char* tmpl, int position) {
    PT_NODE* leaf = PT_NodeNew(kind, fragment);
    char* t = uh_StrDup(tmpl);
    if (leaf == nullptr || t == nullptr) {
        PT_Free(&leaf, PT_NodeFree);
        uh_Free(t);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (position == 1) {
        leaf->sibling = node->child;
        node->child = leaf;
    } else {
        node->child->sibling = leaf;
    }
    node->childCount = 2;
    uh_Free(node->tmpl);
    node->tmpl = t;
    return 0;
}

}  // namespace

void SCR_ColDescFree(void* element) {
    auto* d = static_cast<SCS_COLDESC*>(element);
    uh_Free(d->text);
    d->text = nullptr;
}

void SCR_SelColDescFree(void* element) {
    SCR_ColDescFree(&static_cast<SCS_SELCOLDESC*>(element)->col);
}

void SCR_TableRefFree(void* element) {
    auto* t = static_cast<SCR_TABLEREF*>(element);
    uh_Free(t->catalog);
    uh_Free(t->schema);
    uh_Free(t->table);
    uh_Free(t->alias);
    *t = SCR_TABLEREF{};
}

void SCR_StmtInfoInit(SCR_STMTINFO* info) {
    if (info == nullptr)
        return;
    *info = SCR_STMTINFO{};
    info->rootKind = -1;
}

void SCR_StmtInfoFree(SCR_STMTINFO* info) {
    if (info == nullptr)
        return;
    uh_Free(info->text);
    uh_Free(info->errorContext);
    uh_Free(info->errorMessage);
    PT_Free(&info->root, PT_NodeFree);
    SCR_StmtInfoInit(info);
}

int SCR_AnalyseSQL(SCR_STMTINFO* info, const char* sql, int parseOnly, int keepCatalog) {
    if (info == nullptr || sql == nullptr)
        return ERR_GENERAL_ERROR;
    while (std::isspace(static_cast<unsigned char>(*sql)))
        ++sql;
    SCR_StmtInfoFree(info);
    info->text = uh_StrDup(sql);
    if (info->text == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    info->rootKind = 0;

    SCSQL_PARSE parse;
    int result = scsql_Parse(info->text, std::strlen(info->text), &parse);
    info->errorContext = parse.errorContext;
    info->errorMessage = parse.errorMessage;
    if (result != SCSQL_PARSE_ACCEPTED)
        return parse.failure != 0 ? parse.failure : ERR_SYNTAX_ERROR_OR_ACCESS;
    info->root = parse.root;
    info->rootKind = info->root->kind;
    if (int rc = Regenerate(info); rc != 0)
        return rc;
    if (parseOnly != 0 || info->rootKind != kQuery)
        return 0;
    return SetClauseFlags(info, keepCatalog);
}

int SCR_TablesGet(SCR_STMTINFO* info, UT_ARRAY* tables, int keepCatalog) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    PT_NODE* from = PT_Child(te, 1);
    if (from == nullptr || from->kind != kFromList)
        return 0;
    UT_ARRAY* refs = nullptr;
    if (int rc = CollectOwn(from, kNamedTable, true, &refs); rc != 0)
        return rc;
    int rc = refs->count == 0 ? ERR_GENERAL_ERROR : 0;
    for (uint32_t i = 0; i < refs->count && rc == 0; ++i)
        rc = TableRefAdd(NodeAt(refs, i), tables, keepCatalog);
    ut_ArrayFree(&refs, nullptr);
    return rc;
}

int SCR_NodesCollect(int32_t kind, PT_NODE* node, UT_ARRAY* nodes) {
    if (node == nullptr || nodes == nullptr || node->child == nullptr)
        return 0;
    struct Sink {
        int32_t kind;
        UT_ARRAY* nodes;
        bool failed;
    } sink{kind, nodes, false};
    auto cb = [](PT_NODE* n, int32_t k, void* user) -> int {
        auto* s = static_cast<Sink*>(user);
        if (n->kind == k && ut_ArrayAppend(s->nodes, &n) == 0) {
            s->failed = true;
            return 0;
        }
        return 1;
    };
    if (PT_Walk(node->child, cb, kind, &sink) == 0 || sink.failed)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    return 0;
}

PT_NODE* SCR_NodeFindFrom(int32_t kind, PT_NODE** slot) {
    if (slot == nullptr)
        return nullptr;
    PT_NODE* found = nullptr;
    if (*slot != nullptr)
        PT_Walk(*slot, CbFindAny, kind, &found);
    *slot = found;
    return found;
}

int SCR_SelListSet(SCR_STMTINFO* info, const char* selectList) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    PT_NODE* list = PT_Child(spec, 2);
    if (list == nullptr || list->kind != kSelectList || selectList == nullptr)
        return ERR_GENERAL_ERROR;
    if (PT_NodeSetText(list, selectList) == 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    uh_Free(list->tmpl);
    list->tmpl = nullptr;
    list->childCount = 0;
    PT_Free(&list->child, PT_NodeFree);
    return Regenerate(info);
}

int SCR_SelListAppend(SCR_STMTINFO* info, const char* columns) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    PT_NODE* list = PT_Child(spec, 2);
    if (list == nullptr || list->kind != kSelectList || columns == nullptr)
        return ERR_GENERAL_ERROR;
    const char* now = PT_NodeText(list);
    if (now == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    std::string joined;
    try {
        joined = std::string(now) + ", " + columns;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return SCR_SelListSet(info, joined.c_str());
}

int SCR_TopDrop(SCR_STMTINFO* info) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    PT_NODE* quantifier = PT_Child(spec, 1);
    if (quantifier == nullptr || quantifier->childCount <= 1)
        return 0;  // no TOP
    // The set quantifier (ALL, DISTINCT or nothing) stays.
    const char* set = PT_NodeText(quantifier->child);
    if (set == nullptr || PT_NodeSetText(quantifier, set) == 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    uh_Free(quantifier->tmpl);
    quantifier->tmpl = nullptr;
    quantifier->childCount = 0;
    PT_Free(&quantifier->child, PT_NodeFree);
    return Regenerate(info);
}

int SCR_HasTop(SCR_STMTINFO* info) {
    PT_NODE* spec;
    PT_NODE* te;
    if (OuterParts(info, &spec, &te) != 0)
        return 0;
    const PT_NODE* quantifier = PT_Child(spec, 1);
    return quantifier != nullptr && quantifier->childCount > 1 ? 1 : 0;
}

int SCR_MarkerLayout(SCR_STMTINFO* info, SCR_MARKERS* out) {
    PT_NODE* spec;
    PT_NODE* te;
    if (out == nullptr)
        return ERR_GENERAL_ERROR;
    *out = SCR_MARKERS{};
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    auto count = [](PT_NODE* node, uint32_t* n) {
        auto cb = [](PT_NODE* p, int32_t kind, void* user) -> int {
            if (p->kind == kind)
                ++*static_cast<uint32_t*>(user);
            return 1;
        };
        return node == nullptr || PT_WalkBelow(node, cb, kParameter, n) != 0;
    };
    PT_NODE* from = PT_Child(te, 1);
    if (!count(PT_Child(spec, 2), &out->inSelectList) ||
        !count(from != nullptr && from->kind == kFromList ? from : nullptr, &out->inFrom) ||
        !count(info->root, &out->total))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    return 0;
}

int SCR_WhereAdd(SCR_STMTINFO* info, const char* predicate) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    PT_NODE* holder = PT_ChildOfKind(te, kWhereHolder);
    if (holder == nullptr || predicate == nullptr)
        return ERR_GENERAL_ERROR;
    int rc;
    if (IsInner(holder)) {
        PT_NODE* clause = PT_Child(holder, 1);
        if (clause == nullptr || clause->kind != kWhereClause || clause->childCount != 1)
            return ERR_GENERAL_ERROR;
        rc = SpliceLeaf(clause, kSearchCondition, predicate, "WHERE " PT_ARG1 " AND (" PT_ARG2 ")", 1);
        if (rc == 0)
            info->flags |= SCR_F_WHERE;
    } else {
        rc = SetLeafText(holder, "WHERE ", predicate);
        if (rc == 0)
            info->flags &= ~SCR_F_WHERE;
    }
    return rc != 0 ? rc : Regenerate(info);
}

int SCR_OrderByAdd(SCR_STMTINFO* info, const char* sortList) {
    PT_NODE* holder = nullptr;
    if (int rc = OrderByFlag(info, &holder); rc != 0)
        return rc;
    if (sortList == nullptr)
        return ERR_GENERAL_ERROR;
    int rc;
    if (IsInner(holder)) {
        PT_NODE* clause = PT_Child(holder, 1);
        if (clause == nullptr || clause->kind != kOrderByClause || clause->childCount != 1)
            return ERR_GENERAL_ERROR;
        rc = SpliceLeaf(clause, kSortList, sortList, "ORDER BY " PT_ARG1 ", " PT_ARG2, 2);
    } else {
        rc = SetLeafText(holder, "ORDER BY ", sortList);
    }
    return rc != 0 ? rc : Regenerate(info);
}

int SCR_OrderByReverse(SCR_STMTINFO* info) {
    UT_ARRAY* items = nullptr;
    if (int rc = SortItems(info, &items); rc != 0)
        return rc;
    int rc = 0;
    for (uint32_t i = 0; i < items->count && rc == 0; ++i) {
        PT_NODE* dir = PT_Child(NodeAt(items, i), 2);
        if (dir == nullptr || dir->kind != kDirection)
            rc = ERR_GENERAL_ERROR;
        else if (PT_NodeSetText(dir, std::strcmp(TextOf(dir), "DESC") == 0 ? "" : "DESC") == 0)
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    ut_ArrayFree(&items, nullptr);
    return rc != 0 ? rc : Regenerate(info);
}

int SCR_OrderByGet(SCR_STMTINFO* info, UT_ARRAY* out) {
    UT_ARRAY* items = nullptr;
    if (int rc = SortItems(info, &items); rc != 0)
        return rc;
    int rc = 0;
    for (uint32_t i = 0; i < items->count && rc == 0; ++i) {
        PT_NODE* item = NodeAt(items, i);
        PT_NODE* key = PT_Child(item, 1);
        PT_NODE* dir = PT_Child(item, 2);
        if (key == nullptr || dir == nullptr || dir->kind != kDirection) {
            rc = ERR_GENERAL_ERROR;
            break;
        }
        SCS_SELCOLDESC rec{};
        rec.descending = std::strcmp(TextOf(dir), "DESC") == 0 ? 1 : 0;
        if (key->kind == kUnsignedInteger) {
            info->flags |= SCR_F_ORDINALS;
            rec.ordinal = OrdinalOf(TextOf(key));
        } else if (key->kind == kColumnRef) {
            SCR_ColNameSplit(key, rec.col.column);
            // The seek queries built from the item need its column as text.
            rec.col.text = uh_StrDup(TextOf(key));
            if (rec.col.text == nullptr) {
                rc = ERR_MEMORY_ALLOCATION_FAILURE;
                break;
            }
        } else {
            // An expression orders as written; no column of it can be sought by.
            rec.col.itemKind = SCS_ITEM_EXPRESSION;
            rec.col.text = uh_StrDup(TextOf(key));
            if (rec.col.text == nullptr) {
                rc = ERR_MEMORY_ALLOCATION_FAILURE;
                break;
            }
        }
        if (ut_ArrayAppend(out, &rec) == 0) {
            SCR_SelColDescFree(&rec);
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }
    ut_ArrayFree(&items, nullptr);
    return rc;
}

int SCR_OrderByResolve(SCR_STMTINFO* info, UT_ARRAY* records) {
    if (records == nullptr)
        return ERR_GENERAL_ERROR;
    if (records->count == 0)
        return 0;
    UT_ARRAY* items = nullptr;
    if (int rc = SortItems(info, &items); rc != 0)
        return rc;
    const auto* recs = static_cast<const SCS_SELCOLDESC*>(records->elements);
    int rc = 0;
    for (uint32_t i = 0; i < items->count && rc == 0; ++i) {
        PT_NODE* key = PT_Child(NodeAt(items, i), 1);
        if (key == nullptr || key->kind != kUnsignedInteger)
            continue;
        const char* t = TextOf(key);
        const SCS_SELCOLDESC* match = nullptr;
        if (std::isdigit(static_cast<unsigned char>(t[0]))) {
            int32_t ordinal = OrdinalOf(t);
            for (uint32_t r = 0; r < records->count && match == nullptr; ++r)
                if (recs[r].ordinal == ordinal)
                    match = &recs[r];
        }
        if (match == nullptr || match->col.text == nullptr)
            rc = ERR_GENERAL_ERROR;
        else if (PT_NodeSetText(key, match->col.text) == 0)
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    ut_ArrayFree(&items, nullptr);
    return rc != 0 ? rc : Regenerate(info);
}

int SCR_SelListGet(SCR_STMTINFO* info, UT_ARRAY* out) {
    PT_NODE* spec;
    PT_NODE* te;
    if (int rc = OuterParts(info, &spec, &te); rc != 0)
        return rc;
    PT_NODE* list = PT_Child(spec, 2);
    if (list == nullptr || list->kind != kSelectList)
        return ERR_GENERAL_ERROR;
    if (!IsInner(list)) {
        if (std::strcmp(TextOf(list), "*") != 0)
            return ERR_GENERAL_ERROR;
        SCS_COLDESC rec{};
        rec.itemKind = SCS_ITEM_STAR;
        return ut_ArrayAppend(out, &rec) != 0 ? 0 : ERR_MEMORY_ALLOCATION_FAILURE;
    }
    UT_ARRAY* items = nullptr;
    if (int rc = CollectOwn(list, kSelectItem, false, &items); rc != 0)
        return rc;
    int rc = items->count == 0 ? ERR_GENERAL_ERROR : 0;
    for (uint32_t i = 0; i < items->count && rc == 0; ++i) {
        PT_NODE* item = NodeAt(items, i);
        PT_NODE* first = PT_Child(item, 1);
        SCS_COLDESC rec{};
        if (first != nullptr && first->kind == kTableName) {
            rec.itemKind = SCS_ITEM_TABLE_STAR;
            CopyField(rec.table, TextOf(first));
            rec.text = uh_StrDup(TextOf(item));
        } else if (PT_NODE* column = PlainColumn(first)) {
            rec.itemKind = SCS_ITEM_COLUMN;
            SCR_ColNameSplit(column, rec.column);
            rec.text = uh_StrDup(TextOf(column));
        } else {
            rec.itemKind = SCS_ITEM_EXPRESSION;
            CopyField(rec.column, TextOf(first));
            rec.text = uh_StrDup(TextOf(first));
        }
        // "value AS x" and "value x": the name the result column takes.
        if (rec.itemKind != SCS_ITEM_TABLE_STAR && PT_Child(item, 3) != nullptr)
            CopyField(rec.label, TextOf(PT_Child(item, 3)));
        if (rec.text == nullptr || ut_ArrayAppend(out, &rec) == 0) {
            SCR_ColDescFree(&rec);
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }
    ut_ArrayFree(&items, nullptr);
    return rc;
}

void SCR_ColNameSplit(const PT_NODE* colref, char* fields) {
    char* column = fields;
    char* table = fields + SCS_NAME_LEN;
    char* owner = fields + 3 * SCS_NAME_LEN;
    std::memset(fields, 0, 5 * SCS_NAME_LEN);
    if (colref == nullptr)
        return;
    if (!IsInner(colref)) {
        CopyField(column, TextOf(const_cast<PT_NODE*>(colref)));
        return;
    }
    for (PT_NODE* c = colref->child; c != nullptr; c = c->sibling) {
        if (c->kind == kColumnName)
            CopyField(column, TextOf(c));
        else if (c->kind == kTablePart)
            CopyField(table, TextOf(c));
        else if (c->kind == kMiddlePart)
            CopyField(owner, TextOf(c));
    }
}
