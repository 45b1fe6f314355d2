// Statement analysis: parses one statement into an SCR_STMTINFO, sets its clause flags,
// and gives the cursor library what it reads from a query (the FROM tables, the select
// list, the ORDER BY items) and the edits it makes to one (its own select list, WHERE
// predicate and sort keys spliced in), after which the root's text is the new statement.
//
// Everything is decided from the tree's node kinds and shapes, never from the texts: a
// quoted name may hold ".", "@", ":", "+" or ".*", and a string literal may hold any byte.
// The clauses of a query are those of its own table expression (and, for ORDER BY, of its
// last UNION branch, which holds the statement's ORDER BY); searches never descend into
// subqueries or derived tables.
//
// Every operation returns an internal error code: 0; ERR_GENERAL_ERROR (15) when a node it
// needs is missing (a statement that is not a query given to a query operation, an ORDER
// BY operation on a query without one); ERR_MEMORY_ALLOCATION_FAILURE (16);
// ERR_SYNTAX_ERROR_OR_ACCESS (68) when the statement does not parse. A record belongs to
// one thread at a time; parses share nothing, so analyses run on any threads at once.
#pragma once

#include <cstdint>

struct PT_NODE;
struct UT_ARRAY;

// Clause flags of an analysed query.
constexpr uint32_t SCR_F_WHERE = 0x0002;         // SCR_WhereMark found a WHERE clause
constexpr uint32_t SCR_F_ORDER_BY = 0x0004;
constexpr uint32_t SCR_F_GROUP_BY = 0x0008;
constexpr uint32_t SCR_F_UNION = 0x0010;
constexpr uint32_t SCR_F_TABLES = 0x0020;        // two or more FROM tables
constexpr uint32_t SCR_F_ORDINALS = 0x0040;      // SCR_OrderByGet met an ORDER BY ordinal
constexpr uint32_t SCR_F_SET_FUNCTION = 0x0080;  // a set function in the query's select list
constexpr uint32_t SCR_F_OUTER_JOIN = 0x0100;
// 0x0200 is the cursor library's mark of a statement that is not a query.
constexpr uint32_t SCR_F_DISTINCT = 0x0400;      // SELECT DISTINCT

struct SCR_STMTINFO {
    char* text;          // the statement without its leading white space (uh_ heap)
    char* errorContext;  // the parser's, after a syntax error
    char* errorMessage;
    PT_NODE* root;
    int32_t rootKind;  // -1 none; 0 a statement the grammar does not analyse
    uint32_t flags;
};

// One FROM table: four owned strings, each present, possibly empty. A derived table has
// only its alias.
struct SCR_TABLEREF {
    char* catalog;
    char* schema;
    char* table;
    char* alias;
};

// The cursor library's column record, as far as the analysis fills it. Name fields hold
// at most 508 bytes; the whole item text is in text.
constexpr int SCS_NAME_LEN = 509;
struct SCS_COLDESC {
    char column[SCS_NAME_LEN];  // an expression item: its text, cut
    char table[SCS_NAME_LEN];   // an "x.*" item: its qualifier
    char alias[SCS_NAME_LEN];
    char owner[SCS_NAME_LEN];
    char qualifier[SCS_NAME_LEN];
    int32_t sqlType;
    uint32_t columnSize;
    int16_t decimalDigits;
    int32_t selectPosition;
    int32_t itemKind;  // SCS_ITEM_*
    int32_t orderPosition;  // a key column: the ORDER BY item (from 1) that names it, 0 none
    int32_t fromIndex;      // a key column: its FROM table (from 1)
    char label[SCS_NAME_LEN];  // a select item's own name ("AS x"), as written; empty none
    char* text;  // owned (uh_ heap): an expression's whole text, a column's reference
};
constexpr int32_t SCS_ITEM_STAR = 1;        // "*"
constexpr int32_t SCS_ITEM_TABLE_STAR = 2;  // "x.*"
constexpr int32_t SCS_ITEM_EXPRESSION = 3;
constexpr int32_t SCS_ITEM_COLUMN = 4;

// An ORDER BY item.
struct SCS_SELCOLDESC {
    SCS_COLDESC col;     // the item's column (names and text), empty for an ordinal
    int32_t descending;  // 1 for DESC
    int32_t ordinal;     // the select-list position an ordinal item gives, else 0
    int32_t isKey;       // the item names a key column
    int32_t keyOnly;     // the item was added for the keys (keyset ordering)
};

// The element destructors for ut_ArrayFree.
void SCR_ColDescFree(void* element);     // SCS_COLDESC: frees its text
void SCR_SelColDescFree(void* element);  // SCS_SELCOLDESC
void SCR_TableRefFree(void* element);    // SCR_TABLEREF: frees its four strings

// Clears the record (no texts, no tree, root kind -1, flags 0). Null is ignored.
void SCR_StmtInfoInit(SCR_STMTINFO* info);
// Frees what the record holds and clears it. Null is ignored.
void SCR_StmtInfoFree(SCR_STMTINFO* info);

// Parses sql (leading white space skipped) into the record, freeing what it held, and for
// a query (root kind 74), unless parseOnly, sets the clause flags: ORDER BY, GROUP BY,
// UNION, several tables (SCR_TablesGet with keepCatalog), set function, outer join,
// DISTINCT. 68
// when it does not parse (the record keeps the error texts, root kind 0); 16 when memory
// ran out.
int SCR_AnalyseSQL(SCR_STMTINFO* info, const char* sql, int parseOnly, int keepCatalog);

// Appends one SCR_TABLEREF (element size sizeof(SCR_TABLEREF)) per table of the query's
// FROM list, joined tables and ODBC outer-join escapes included, in order. Catalogs are
// kept only with keepCatalog; a link name ("t@link") is dropped. 0 with nothing appended
// for a query without FROM.
int SCR_TablesGet(SCR_STMTINFO* info, UT_ARRAY* tables, int keepCatalog);

// Appends a pointer to every node of the kind below node, in pre-order (node itself and
// its siblings are not examined). 0, or 16 when the array cannot grow. Null arguments do
// nothing.
int SCR_NodesCollect(int32_t kind, PT_NODE* node, UT_ARRAY* nodes);
// From the node in *slot (itself, its subtree, then its later siblings and theirs, in
// pre-order) the first node of the kind, stored in *slot (null when none) and returned.
PT_NODE* SCR_NodeFindFrom(int32_t kind, PT_NODE** slot);

// The edits. Each splices the caller's SQL fragment into the tree as a node of its own and
// regenerates; the fragment is never read as a template, nor is anything else.
// The select list becomes the fragment.
int SCR_SelListSet(SCR_STMTINFO* info, const char* selectList);
// The select list becomes "<list>, <columns>": columns the cursor library reads beside the
// application's.
int SCR_SelListAppend(SCR_STMTINFO* info, const char* columns);
// Drops TOP n (and its PERCENT and WITH TIES) from the query's select quantifier; the set
// quantifier stays. Nothing for a query without TOP.
int SCR_TopDrop(SCR_STMTINFO* info);
// 1 when the query's select quantifier has TOP n, else 0 (also for no query).
int SCR_HasTop(SCR_STMTINFO* info);

// Where the application's parameter markers stand in a query: in its select list, in its
// FROM list (JOIN ... ON, derived tables), and in the whole statement; those after the FROM
// list (WHERE, GROUP BY, HAVING, ORDER BY) are the rest. Text order puts the select list's
// first, then the FROM list's, so a predicate put at the head of the WHERE clause has
// inSelectList + inFrom markers before it.
struct SCR_MARKERS {
    uint32_t inSelectList;
    uint32_t inFrom;
    uint32_t total;
};
int SCR_MarkerLayout(SCR_STMTINFO* info, SCR_MARKERS* out);

// With a WHERE clause: "WHERE <predicate> AND (<old condition>)", flag 0x0002 set;
// without: "WHERE <predicate>" where the clause would be, flag cleared.
int SCR_WhereAdd(SCR_STMTINFO* info, const char* predicate);
// Appends ", <sortList>" to the ORDER BY clause, or adds "ORDER BY <sortList>" where it
// would be; sets or clears 0x0004 as the analysis does.
int SCR_OrderByAdd(SCR_STMTINFO* info, const char* sortList);

// Flips the direction of every ORDER BY item (ASC and none become DESC, DESC none).
int SCR_OrderByReverse(SCR_STMTINFO* info);
// Appends one SCS_SELCOLDESC per ORDER BY item; an ordinal item sets flag 0x0040.
int SCR_OrderByGet(SCR_STMTINFO* info, UT_ARRAY* items);
// Replaces every ORDER BY ordinal by the text of the record (of the array of
// SCS_SELCOLDESC) with that ordinal. An empty array changes nothing. 15 for an ordinal
// no record has, or a record without text (replacements made before stay unregenerated).
int SCR_OrderByResolve(SCR_STMTINFO* info, UT_ARRAY* items);
// Appends one SCS_COLDESC per select-list item, in order.
int SCR_SelListGet(SCR_STMTINFO* info, UT_ARRAY* items);

// Splits a column reference node (kind 11) into the five consecutive name fields (column,
// table, alias, owner, qualifier) that start at fields, from its name parts; alias and
// qualifier are emptied.
void SCR_ColNameSplit(const PT_NODE* colref, char* fields);
