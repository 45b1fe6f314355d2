/* The SQL grammar: one SELECT, INSERT, UPDATE or DELETE statement into a parse tree.
 *
 * Every action builds one node with its kind and template (ptree.h); the regeneration
 * later gives each inner node the text of its template. The parser is pure: its stacks
 * and outputs belong to one scsql_Parse call, and the scanner is made per parse too.
 *
 * Memory: a node that cannot be made ends the parse with result 2 (YYNOMEM), and bison's
 * %destructor frees the nodes still on the stack after a syntax error or an abort, so a
 * failed parse leaves nothing behind. An action that drops a node value frees it.
 *
 * Names are built from their IDENTIFIER tokens in one action per form, so that the kind
 * of each part (first, middle, table, link) follows from the whole form, not from a
 * guess at its first word.
 */
%code requires {
#include "sqlparse/ptree.h"
#include "sqlparse/scsql.h"
#include "sqlparse/scsql_parse.h"

struct ScsqlParser {
    SCSQL_SCANNER* scanner;
    PT_NODE* root;
    bool outOfMemory;
};
}

%code {
#include <cstring>

#include "util/errcode.h"
#include "util/utheap.h"

namespace {

int scsqlp_lex(SCSQLP_STYPE* value, ScsqlParser* p) {
    const SCSQL_SYMBOL* symbol = nullptr;
    int token = scsql_NextToken(p->scanner, &symbol);
    value->sym = symbol;
    return token;
}

void scsqlp_error(ScsqlParser* p, const char* message) {
    scsql_Error(p->scanner, message);
}

// A leaf with the text of a valued token.
PT_NODE* Leaf(int32_t kind, const SCSQL_SYMBOL* symbol) {
    return PT_NodeNew(kind, symbol != nullptr ? symbol->text : "");
}

// The select item "x.*" over the table name node.
PT_NODE* StarItem(PT_NODE* tableName) {
    return PT_NodeNewChild(75, PT_ARG1 ".*", tableName);
}

// The expression when it is more than a bare subquery; otherwise the subquery, its
// wrappers (value expression, term, factor and primary, each "{1}") freed.
PT_NODE* UnwrapSubquery(PT_NODE* expression) {
    PT_NODE* n = expression;
    for (int32_t kind : {23, 91, 24, 60}) {
        if (n == nullptr || n->kind != kind || n->childCount != 1 || n->tmpl == nullptr ||
            std::strcmp(n->tmpl, PT_ARG1) != 0)
            return expression;
        if (kind == 60)
            break;
        n = n->child;
    }
    PT_NODE* subquery = n->child;
    if (subquery == nullptr || subquery->kind != 85)
        return expression;
    n->child = nullptr;
    PT_Free(&expression, PT_NodeFree);
    return subquery;
}

// The link part "l@c" of the forms l@c:t and l@c:o.t.
PT_NODE* LinkPart(const SCSQL_SYMBOL* link, const SCSQL_SYMBOL* catalog) {
    return PT_NodeNewChildren(63, PT_ARG1 "@" PT_ARG2, {Leaf(64, link), Leaf(64, catalog)});
}

}  // namespace

#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
#define YYMALLOC uh_Malloc
#define YYFREE uh_Free
// An inner node over the children (which it frees when it cannot be made).
#define N(kind, tmpl, ...) PT_NodeNewChildren((kind), (tmpl), {__VA_ARGS__})
// A node that could not be made: the parse ends as memory exhausted.
#define CHECK(node) \
    do { if ((node) == nullptr) { p->outOfMemory = true; YYNOMEM; } } while (0)
}

%define api.pure full
%define api.prefix {scsqlp_}
%define api.token.prefix {TOK_}
%parse-param {ScsqlParser* p}
%lex-param {ScsqlParser* p}

%union {
    const SCSQL_SYMBOL* sym;
    PT_NODE* node;
}

%destructor { PT_Free(&$$, PT_NodeFree); } <node>

/* The scanner's token numbers (scsql_tokens.def); 275 is never produced. */
%token <sym> IDENTIFIER 258 STRING 259 UINT 260 DECIMAL 261 APPROX 262 COMPARISON 263
%token <sym> SETFUNC 264 ESCAPE_CLAUSE 265 DATE_VALUE 266 TIME_VALUE 267
%token <sym> TIMESTAMP_VALUE 268 HEX 269 OJ_OP 270
%token CONCAT 271 KW_OR 272 KW_AND 273 KW_NOT 274 RESERVED_275 275 KW_ALL 276 KW_ANY 277
%token KW_AS 278 KW_ASC 279 KW_BETWEEN 280 KW_BY 281 KW_CURRENT 282 KW_DELETE 283
%token KW_DESC 284 KW_DISTINCT 285 KW_EXISTS 286 KW_FN 287 KW_FROM 288 KW_FULL 289
%token KW_GROUP 290 KW_HAVING 291 KW_IN 292 KW_INNER 293 KW_IS 294 KW_INSERT 295
%token KW_INTO 296 KW_JOIN 297 KW_LEFT 298 KW_LIKE 299 KW_NULL 300 KW_OF 301 KW_OJ 302
%token KW_ON 303 KW_OUTER 304 KW_ORDER 305 OTHER_WORD 306 PARAM 307 KW_PERCENT 308
%token KW_RIGHT 309 KW_SELECT 310 KW_SET 311 KW_UNION 312 KW_UPDATE 313 KW_USER 314
%token KW_VALUES 315 KW_WHERE 316 KW_WITH 317 KW_TIES 318 KW_TOP 319 KW_CASE 320
%token KW_ELSE 321 KW_END 322 KW_THEN 323 KW_WHEN 324 BRACE_OPEN 325 BRACE_CLOSE 326
%token VENDOR_OPEN 327 VENDOR_CLOSE 328 CALL_START 329

/* An ORDER BY after a table expression belongs to that table expression (the one of the
   last UNION branch, or the statement's own), not to the query around it. */
%precedence NO_ORDER_BY
%precedence KW_ORDER
%left KW_OR
%left KW_AND
%precedence KW_NOT

%type <node> dml_statement other_statement call_escape_statement delete_positioned
%type <node> delete_searched insert_statement insert_source query query_specification
%type <node> set_quantifier opt_percent opt_with_ties select_quantifier update_positioned
%type <node> set_clause_list set_clause update_searched opt_where select_list select_item
%type <node> table_expression from_list table_ref named_table derived_table joined_table
%type <node> join_type inner_join outer_join_side opt_outer where_clause opt_group_by
%type <node> column_ref_list opt_having opt_order_by no_order_by opt_union opt_insert_columns
%type <node> union_clause order_by_clause sort_list sort_item ordering search_condition
%type <node> predicate outer_join_predicate comparison_predicate between_predicate
%type <node> like_predicate opt_escape escape_clause null_predicate in_predicate value_list
%type <node> quantified_predicate quantifier exists_predicate subquery value_expression term
%type <node> factor primary opt_as in_value like_pattern set_function constant table_name
%type <node> column_ref column_name column_alias cursor_name parameter correlation_name
%type <node> unsigned_integer comparison_op outer_join_op set_function_name
%type <node> datetime_constant date_constant time_constant timestamp_constant date_value
%type <node> time_value timestamp_value oj_escape scalar_function_escape function_call
%type <node> function_name argument_list vendor_open vendor_close brace_open brace_close
%type <node> simple_case simple_when_list simple_when searched_case searched_when_list
%type <node> searched_when

%start statement

%%

statement
    : dml_statement          { p->root = $1; }
    | other_statement        { p->root = $1; }
    | call_escape_statement  { p->root = $1; }
    ;

dml_statement
    : query
    | delete_positioned
    | delete_searched
    | insert_statement
    | update_positioned
    | update_searched
    ;

other_statement: OTHER_WORD  { $$ = PT_NodeNew(0, ""); CHECK($$); } ;

call_escape_statement: CALL_START  { $$ = PT_NodeNew(61, ""); CHECK($$); } ;

delete_positioned
    : KW_DELETE KW_FROM table_name KW_WHERE KW_CURRENT KW_OF cursor_name
        { $$ = N(18, "DELETE FROM " PT_ARG1 " WHERE CURRENT OF " PT_ARG2, $3, $7); CHECK($$); }
    ;

delete_searched
    : KW_DELETE KW_FROM table_name opt_where
        { $$ = N(19, "DELETE FROM " PT_ARG1 " " PT_ARG2, $3, $4); CHECK($$); }
    ;

insert_statement
    : KW_INSERT KW_INTO table_name opt_insert_columns insert_source
        { $$ = N(28, "INSERT INTO " PT_ARG1 " " PT_ARG2 " " PT_ARG3, $3, $4, $5); CHECK($$); }
    ;

insert_source
    : KW_VALUES '(' value_list ')'  { $$ = N(100, "VALUES ( " PT_ARG1 " )", $3); CHECK($$); }
    | query_specification           { $$ = N(100, PT_ARG1, $1); CHECK($$); }
    ;

query
    : query_specification opt_order_by  { $$ = N(74, PT_ARG1 " " PT_ARG2, $1, $2); CHECK($$); }
    ;

query_specification
    : KW_SELECT select_quantifier select_list table_expression
        { $$ = N(72, "SELECT " PT_ARG1 " " PT_ARG2 " " PT_ARG3, $2, $3, $4); CHECK($$); }
    ;

set_quantifier
    : %empty       { $$ = PT_NodeNew(42, ""); CHECK($$); }
    | KW_ALL       { $$ = PT_NodeNew(42, "ALL"); CHECK($$); }
    | KW_DISTINCT  { $$ = PT_NodeNew(42, "DISTINCT"); CHECK($$); }
    ;

opt_percent
    : %empty      { $$ = PT_NodeNew(53, ""); CHECK($$); }
    | KW_PERCENT  { $$ = PT_NodeNew(53, "PERCENT"); CHECK($$); }
    ;

opt_with_ties
    : %empty           { $$ = PT_NodeNew(53, ""); CHECK($$); }
    | KW_WITH KW_TIES  { $$ = PT_NodeNew(53, "WITH TIES"); CHECK($$); }
    ;

select_quantifier
    : set_quantifier  { $$ = N(53, PT_ARG1, $1); CHECK($$); }
    | set_quantifier KW_TOP unsigned_integer opt_percent opt_with_ties
        { $$ = N(53, PT_ARG1 " TOP " PT_ARG2 " " PT_ARG3 " " PT_ARG4, $1, $3, $4, $5); CHECK($$); }
    | set_quantifier KW_TOP unsigned_integer ',' unsigned_integer opt_percent opt_with_ties
        { $$ = N(53, PT_ARG1 " TOP " PT_ARG2 "," PT_ARG3 " " PT_ARG4 " " PT_ARG5, $1, $3, $5, $6, $7); CHECK($$); }
    | set_quantifier KW_TOP '(' value_expression ')' opt_percent opt_with_ties
        { $$ = N(53, PT_ARG1 " TOP (" PT_ARG2 ") " PT_ARG3 " " PT_ARG4, $1, $4, $6, $7); CHECK($$); }
    | set_quantifier KW_TOP '(' value_expression ',' value_expression ')' opt_percent opt_with_ties
        { $$ = N(53, PT_ARG1 " TOP (" PT_ARG2 ", " PT_ARG3 ") " PT_ARG4 " " PT_ARG5, $1, $4, $6, $8, $9); CHECK($$); }
    ;

update_positioned
    : KW_UPDATE table_name KW_SET set_clause_list KW_WHERE KW_CURRENT KW_OF cursor_name
        { $$ = N(96, "UPDATE " PT_ARG1 " SET " PT_ARG2 " WHERE CURRENT OF " PT_ARG3, $2, $4, $8); CHECK($$); }
    ;

set_clause_list
    : set_clause                      { $$ = N(5, PT_ARG1, $1); CHECK($$); }
    | set_clause_list ',' set_clause  { $$ = N(5, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    ;

/* An assignment takes "=" only: another comparison operator here is no SET clause. */
set_clause
    : column_name COMPARISON value_expression
        {
            if ($2 == nullptr || $2->text[0] != '=' || $2->text[1] != '\0') {
                PT_Free(&$1, PT_NodeFree);
                PT_Free(&$3, PT_NodeFree);
                scsqlp_error(p, "syntax error");
                YYABORT;
            }
            $$ = N(4, PT_ARG1 " = " PT_ARG2, $1, $3); CHECK($$);
        }
    | column_name COMPARISON KW_NULL
        {
            if ($2 == nullptr || $2->text[0] != '=' || $2->text[1] != '\0') {
                PT_Free(&$1, PT_NodeFree);
                scsqlp_error(p, "syntax error");
                YYABORT;
            }
            $$ = N(4, PT_ARG1 " = NULL", $1); CHECK($$);
        }
    ;

update_searched
    : KW_UPDATE table_name KW_FROM from_list KW_SET set_clause_list opt_where
        { $$ = N(97, "UPDATE " PT_ARG1 " FROM " PT_ARG2 " SET " PT_ARG3 " " PT_ARG4, $2, $4, $6, $7); CHECK($$); }
    | KW_UPDATE table_name KW_SET set_clause_list KW_FROM from_list opt_where
        { $$ = N(97, "UPDATE " PT_ARG1 " SET " PT_ARG2 " FROM " PT_ARG3 " " PT_ARG4, $2, $4, $6, $7); CHECK($$); }
    | KW_UPDATE table_name KW_SET set_clause_list opt_where
        { $$ = N(97, "UPDATE " PT_ARG1 " SET " PT_ARG2 " " PT_ARG3, $2, $4, $5); CHECK($$); }
    ;

opt_where
    : %empty        { $$ = PT_NodeNew(54, ""); CHECK($$); }
    | where_clause  { $$ = N(54, PT_ARG1, $1); CHECK($$); }
    ;

select_list
    : select_item                  { $$ = N(73, PT_ARG1, $1); CHECK($$); }
    | select_list ',' select_item  { $$ = N(73, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    | '*'                          { $$ = PT_NodeNew(73, "*"); CHECK($$); }
    ;

select_item
    : value_expression                         { $$ = N(75, PT_ARG1, $1); CHECK($$); }
    | value_expression opt_as column_alias     { $$ = N(75, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    /* t.* */
    | IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChild(88, PT_ARG1, Leaf(87, $1))); CHECK($$); }
    /* o.t.* */
    | IDENTIFIER '.' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 "." PT_ARG2, {Leaf(57, $1), Leaf(87, $3)})); CHECK($$); }
    /* c.o.t.* */
    | IDENTIFIER '.' IDENTIFIER '.' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 "." PT_ARG2 "." PT_ARG3,
                                                   {Leaf(63, $1), Leaf(57, $3), Leaf(87, $5)})); CHECK($$); }
    /* c..t.* */
    | IDENTIFIER '.' '.' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 ".." PT_ARG2, {Leaf(63, $1), Leaf(87, $4)})); CHECK($$); }
    /* c:t.* */
    | IDENTIFIER ':' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 ":" PT_ARG2, {Leaf(63, $1), Leaf(87, $3)})); CHECK($$); }
    /* c:o.t.* */
    | IDENTIFIER ':' IDENTIFIER '.' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 ":" PT_ARG2 "." PT_ARG3,
                                                   {Leaf(63, $1), Leaf(57, $3), Leaf(87, $5)})); CHECK($$); }
    /* l@c:t.* */
    | IDENTIFIER '@' IDENTIFIER ':' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 ":" PT_ARG2, {LinkPart($1, $3), Leaf(87, $5)})); CHECK($$); }
    /* l@c:o.t.* */
    | IDENTIFIER '@' IDENTIFIER ':' IDENTIFIER '.' IDENTIFIER '.' '*'
        { $$ = StarItem(PT_NodeNewChildren(88, PT_ARG1 ":" PT_ARG2 "." PT_ARG3,
                                                   {LinkPart($1, $3), Leaf(57, $5), Leaf(87, $7)})); CHECK($$); }
    ;

table_expression
    : opt_where opt_group_by opt_having opt_union opt_order_by
        { $$ = N(86, PT_ARG1 " " PT_ARG2 " " PT_ARG3 " " PT_ARG4 " " PT_ARG5, $1, $2, $3, $4, $5); CHECK($$); }
    | KW_FROM from_list opt_where opt_group_by opt_having opt_union opt_order_by
        { $$ = N(86, "FROM " PT_ARG1 " " PT_ARG2 " " PT_ARG3 " " PT_ARG4 " " PT_ARG5 " " PT_ARG6,
               $2, $3, $4, $5, $6, $7); CHECK($$); }
    ;

from_list
    : table_ref                { $$ = N(90, PT_ARG1, $1); CHECK($$); }
    | from_list ',' table_ref  { $$ = N(90, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    ;

table_ref
    : named_table    { $$ = N(89, PT_ARG1, $1); CHECK($$); }
    | oj_escape      { $$ = N(89, PT_ARG1, $1); CHECK($$); }
    | derived_table  { $$ = N(89, PT_ARG1, $1); CHECK($$); }
    ;

named_table
    : table_name                           { $$ = N(46, PT_ARG1, $1); CHECK($$); }
    | table_name opt_as correlation_name   { $$ = N(46, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    ;

/* A derived table holds no ORDER BY: one after its correlation name is the enclosing
   query's. */
derived_table
    : joined_table  { $$ = N(29, PT_ARG1, $1); CHECK($$); }
    | '(' query_specification ')' opt_as correlation_name no_order_by
        { $$ = N(29, "( " PT_ARG1 " ) " PT_ARG2 " " PT_ARG3 " " PT_ARG4, $2, $4, $5, $6); CHECK($$); }
    | '(' derived_table ')'  { $$ = N(29, "( " PT_ARG1 " )", $2); CHECK($$); }
    ;

joined_table
    : table_ref join_type KW_JOIN table_ref KW_ON search_condition
        { $$ = N(62, PT_ARG1 " " PT_ARG2 " JOIN " PT_ARG3 " ON " PT_ARG4, $1, $2, $4, $6); CHECK($$); }
    ;

join_type
    : inner_join                 { $$ = N(30, PT_ARG1, $1); CHECK($$); }
    | outer_join_side opt_outer  { $$ = N(30, PT_ARG1 " " PT_ARG2, $1, $2); CHECK($$); }
    ;

inner_join: KW_INNER  { $$ = PT_NodeNew(27, "INNER"); CHECK($$); } ;

outer_join_side
    : KW_LEFT   { $$ = PT_NodeNew(56, "LEFT"); CHECK($$); }
    | KW_RIGHT  { $$ = PT_NodeNew(56, "RIGHT"); CHECK($$); }
    | KW_FULL   { $$ = PT_NodeNew(56, "FULL"); CHECK($$); }
    ;

opt_outer
    : %empty    { $$ = PT_NodeNew(51, ""); CHECK($$); }
    | KW_OUTER  { $$ = PT_NodeNew(51, "OUTER"); CHECK($$); }
    ;

where_clause: KW_WHERE search_condition  { $$ = N(101, "WHERE " PT_ARG1, $2); CHECK($$); } ;

opt_group_by
    : %empty                          { $$ = PT_NodeNew(47, ""); CHECK($$); }
    | KW_GROUP KW_BY column_ref_list  { $$ = N(47, "GROUP BY " PT_ARG1, $3); CHECK($$); }
    ;

column_ref_list
    : column_ref                      { $$ = N(12, PT_ARG1, $1); CHECK($$); }
    | column_ref_list ',' column_ref  { $$ = N(12, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    ;

opt_having
    : %empty                      { $$ = PT_NodeNew(48, ""); CHECK($$); }
    | KW_HAVING search_condition  { $$ = N(48, "HAVING " PT_ARG1, $2); CHECK($$); }
    ;

opt_order_by
    : %empty %prec NO_ORDER_BY  { $$ = PT_NodeNew(50, ""); CHECK($$); }
    | order_by_clause           { $$ = N(50, PT_ARG1, $1); CHECK($$); }
    ;

no_order_by: %empty  { $$ = PT_NodeNew(50, ""); CHECK($$); } ;

opt_union
    : %empty        { $$ = PT_NodeNew(52, ""); CHECK($$); }
    | union_clause  { $$ = N(52, PT_ARG1, $1); CHECK($$); }
    ;

opt_insert_columns
    : %empty                   { $$ = PT_NodeNew(45, ""); CHECK($$); }
    | '(' column_ref_list ')'  { $$ = N(45, "( " PT_ARG1 " )", $2); CHECK($$); }
    ;

union_clause
    : KW_UNION query_specification         { $$ = N(94, "UNION " PT_ARG1, $2); CHECK($$); }
    | KW_UNION KW_ALL query_specification  { $$ = N(94, "UNION ALL " PT_ARG1, $3); CHECK($$); }
    ;

order_by_clause: KW_ORDER KW_BY sort_list  { $$ = N(55, "ORDER BY " PT_ARG1, $3); CHECK($$); } ;

sort_list
    : sort_item                { $$ = N(81, PT_ARG1, $1); CHECK($$); }
    | sort_list ',' sort_item  { $$ = N(81, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    ;

sort_item
    : unsigned_integer ordering  { $$ = N(80, PT_ARG1 " " PT_ARG2, $1, $2); CHECK($$); }
    | column_ref ordering        { $$ = N(80, PT_ARG1 " " PT_ARG2, $1, $2); CHECK($$); }
    ;

ordering
    : %empty   { $$ = PT_NodeNew(44, ""); CHECK($$); }
    | KW_ASC   { $$ = PT_NodeNew(44, "ASC"); CHECK($$); }
    | KW_DESC  { $$ = PT_NodeNew(44, "DESC"); CHECK($$); }
    ;

search_condition
    : %empty                                   { $$ = PT_NodeNew(68, ""); CHECK($$); }
    | search_condition KW_OR search_condition  { $$ = N(68, PT_ARG1 " OR " PT_ARG2, $1, $3); CHECK($$); }
    | search_condition KW_AND search_condition { $$ = N(68, PT_ARG1 " AND " PT_ARG2, $1, $3); CHECK($$); }
    | KW_NOT search_condition                  { $$ = N(68, "NOT " PT_ARG1, $2); CHECK($$); }
    | '(' search_condition ')'                 { $$ = N(68, "( " PT_ARG1 " )", $2); CHECK($$); }
    | predicate                                { $$ = N(68, PT_ARG1, $1); CHECK($$); }
    ;

predicate
    : comparison_predicate  { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | between_predicate     { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | like_predicate        { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | null_predicate        { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | in_predicate          { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | quantified_predicate  { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | exists_predicate      { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    | outer_join_predicate  { $$ = N(59, PT_ARG1, $1); CHECK($$); }
    ;

outer_join_predicate
    : column_ref outer_join_op column_ref  { $$ = N(84, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    ;

/* A subquery on the right stands as the predicate's third child itself. */
comparison_predicate
    : value_expression comparison_op value_expression
        { $$ = N(14, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, UnwrapSubquery($3)); CHECK($$); }
    ;

between_predicate
    : value_expression KW_NOT KW_BETWEEN value_expression KW_AND value_expression
        { $$ = N(6, PT_ARG1 " NOT BETWEEN " PT_ARG2 " AND " PT_ARG3, $1, $4, $6); CHECK($$); }
    | value_expression KW_BETWEEN value_expression KW_AND value_expression
        { $$ = N(6, PT_ARG1 " BETWEEN " PT_ARG2 " AND " PT_ARG3, $1, $3, $5); CHECK($$); }
    ;

like_predicate
    : value_expression KW_NOT KW_LIKE like_pattern opt_escape
        { $$ = N(31, PT_ARG1 " NOT LIKE " PT_ARG2 " " PT_ARG3, $1, $4, $5); CHECK($$); }
    | value_expression KW_LIKE like_pattern opt_escape
        { $$ = N(31, PT_ARG1 " LIKE " PT_ARG2 " " PT_ARG3, $1, $3, $4); CHECK($$); }
    ;

opt_escape
    : %empty                                    { $$ = PT_NodeNew(49, ""); CHECK($$); }
    | escape_clause                             { $$ = N(49, PT_ARG1, $1); CHECK($$); }
    | brace_open escape_clause brace_close      { $$ = N(49, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    | vendor_open escape_clause vendor_close    { $$ = N(49, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    ;

escape_clause: ESCAPE_CLAUSE  { $$ = Leaf(21, $1); CHECK($$); } ;

null_predicate
    : column_ref KW_IS KW_NOT KW_NULL  { $$ = N(33, PT_ARG1 " IS NOT NULL", $1); CHECK($$); }
    | column_ref KW_IS KW_NULL         { $$ = N(33, PT_ARG1 " IS NULL", $1); CHECK($$); }
    | in_value KW_IS KW_NOT KW_NULL    { $$ = N(33, PT_ARG1 " IS NOT NULL", $1); CHECK($$); }
    | in_value KW_IS KW_NULL           { $$ = N(33, PT_ARG1 " IS NULL", $1); CHECK($$); }
    ;

in_predicate
    : value_expression KW_NOT KW_IN subquery          { $$ = N(26, PT_ARG1 " NOT IN " PT_ARG2, $1, $4); CHECK($$); }
    | value_expression KW_IN subquery                 { $$ = N(26, PT_ARG1 " IN " PT_ARG2, $1, $3); CHECK($$); }
    | value_expression KW_NOT KW_IN '(' value_list ')' { $$ = N(26, PT_ARG1 " NOT IN ( " PT_ARG2 " )", $1, $5); CHECK($$); }
    | value_expression KW_IN '(' value_list ')'        { $$ = N(26, PT_ARG1 " IN ( " PT_ARG2 " )", $1, $4); CHECK($$); }
    ;

value_list
    : in_value                 { $$ = N(99, PT_ARG1, $1); CHECK($$); }
    | value_list ',' in_value  { $$ = N(99, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    ;

quantified_predicate
    : value_expression comparison_op quantifier subquery
        { $$ = N(66, PT_ARG1 " " PT_ARG2 " " PT_ARG3 " " PT_ARG4, $1, $2, $3, $4); CHECK($$); }
    ;

quantifier
    : KW_ANY  { $$ = PT_NodeNew(2, "ANY"); CHECK($$); }
    | KW_ALL  { $$ = PT_NodeNew(2, "ALL"); CHECK($$); }
    ;

exists_predicate: KW_EXISTS subquery  { $$ = N(22, "EXISTS " PT_ARG1, $2); CHECK($$); } ;

subquery
    : '(' KW_SELECT set_quantifier select_list KW_FROM from_list opt_where opt_group_by opt_having ')'
        { $$ = N(85, "( SELECT " PT_ARG1 " " PT_ARG2 " FROM " PT_ARG3 " " PT_ARG4 " " PT_ARG5 " " PT_ARG6 " )",
               $3, $4, $6, $7, $8, $9); CHECK($$); }
    ;

value_expression
    : term                           { $$ = N(23, PT_ARG1, $1); CHECK($$); }
    | value_expression CONCAT term   { $$ = N(23, PT_ARG1 " || " PT_ARG2, $1, $3); CHECK($$); }
    | value_expression '+' term      { $$ = N(23, PT_ARG1 " + " PT_ARG2, $1, $3); CHECK($$); }
    | value_expression '-' term      { $$ = N(23, PT_ARG1 " - " PT_ARG2, $1, $3); CHECK($$); }
    | simple_case                    { $$ = N(23, PT_ARG1, $1); CHECK($$); }
    | searched_case                  { $$ = N(23, PT_ARG1, $1); CHECK($$); }
    ;

term
    : factor           { $$ = N(91, PT_ARG1, $1); CHECK($$); }
    | term '*' factor  { $$ = N(91, PT_ARG1 " * " PT_ARG2, $1, $3); CHECK($$); }
    | term '/' factor  { $$ = N(91, PT_ARG1 " / " PT_ARG2, $1, $3); CHECK($$); }
    ;

factor
    : primary      { $$ = N(24, PT_ARG1, $1); CHECK($$); }
    | '+' primary  { $$ = N(24, "+" PT_ARG1, $2); CHECK($$); }
    | '-' primary  { $$ = N(24, "-" PT_ARG1, $2); CHECK($$); }
    ;

primary
    : column_ref                  { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | parameter                   { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | constant                    { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | scalar_function_escape      { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | function_call               { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | set_function                { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | KW_USER                     { $$ = PT_NodeNew(60, "USER"); CHECK($$); }
    | subquery                    { $$ = N(60, PT_ARG1, $1); CHECK($$); }
    | '(' value_expression ')'    { $$ = N(60, "( " PT_ARG1 " )", $2); CHECK($$); }
    ;

opt_as
    : %empty  { $$ = PT_NodeNew(43, ""); CHECK($$); }
    | KW_AS   { $$ = PT_NodeNew(43, "AS"); CHECK($$); }
    ;

in_value
    : parameter  { $$ = N(98, PT_ARG1, $1); CHECK($$); }
    | constant   { $$ = N(98, PT_ARG1, $1); CHECK($$); }
    | KW_USER    { $$ = PT_NodeNew(98, "USER"); CHECK($$); }
    ;

like_pattern
    : parameter  { $$ = N(58, PT_ARG1, $1); CHECK($$); }
    | STRING     { $$ = Leaf(58, $1); CHECK($$); }
    | KW_USER    { $$ = PT_NodeNew(58, "USER"); CHECK($$); }
    ;

set_function
    : set_function_name '(' '*' ')'
        { PT_Free(&$1, PT_NodeFree); $$ = PT_NodeNew(76, "COUNT (*)"); CHECK($$); }
    | set_function_name '(' KW_DISTINCT column_ref ')'
        { $$ = N(76, PT_ARG1 "( DISTINCT " PT_ARG2 " )", $1, $4); CHECK($$); }
    | set_function_name '(' value_expression ')'
        { $$ = N(76, PT_ARG1 "( " PT_ARG2 " )", $1, $3); CHECK($$); }
    ;

constant
    : STRING             { $$ = Leaf(32, $1); CHECK($$); }
    | unsigned_integer   { $$ = N(32, PT_ARG1, $1); CHECK($$); }
    | DECIMAL            { $$ = Leaf(32, $1); CHECK($$); }
    | APPROX             { $$ = Leaf(32, $1); CHECK($$); }
    | datetime_constant  { $$ = N(32, PT_ARG1, $1); CHECK($$); }
    | HEX                { $$ = Leaf(7, $1); CHECK($$); }
    ;

table_name
    /* t */
    : IDENTIFIER  { $$ = N(88, PT_ARG1, Leaf(87, $1)); CHECK($$); }
    /* o.t */
    | IDENTIFIER '.' IDENTIFIER  { $$ = N(88, PT_ARG1 "." PT_ARG2, Leaf(63, $1), Leaf(87, $3)); CHECK($$); }
    /* o..t */
    | IDENTIFIER '.' '.' IDENTIFIER  { $$ = N(88, PT_ARG1 ".." PT_ARG2, Leaf(63, $1), Leaf(87, $4)); CHECK($$); }
    /* c.o.t */
    | IDENTIFIER '.' IDENTIFIER '.' IDENTIFIER
        { $$ = N(88, PT_ARG1 "." PT_ARG2 "." PT_ARG3, Leaf(63, $1), Leaf(57, $3), Leaf(87, $5)); CHECK($$); }
    /* t@l */
    | IDENTIFIER '@' IDENTIFIER  { $$ = N(88, PT_ARG1 "@" PT_ARG2, Leaf(87, $1), Leaf(63, $3)); CHECK($$); }
    /* o.t@l */
    | IDENTIFIER '.' IDENTIFIER '@' IDENTIFIER
        { $$ = N(88, PT_ARG1 "." PT_ARG2 "@" PT_ARG3, Leaf(57, $1), Leaf(87, $3), Leaf(63, $5)); CHECK($$); }
    /* c:t */
    | IDENTIFIER ':' IDENTIFIER  { $$ = N(88, PT_ARG1 ":" PT_ARG2, Leaf(63, $1), Leaf(87, $3)); CHECK($$); }
    /* l@c:t */
    | IDENTIFIER '@' IDENTIFIER ':' IDENTIFIER
        { $$ = N(88, PT_ARG1 ":" PT_ARG2, LinkPart($1, $3), Leaf(87, $5)); CHECK($$); }
    /* c:o.t */
    | IDENTIFIER ':' IDENTIFIER '.' IDENTIFIER
        { $$ = N(88, PT_ARG1 ":" PT_ARG2 "." PT_ARG3, Leaf(63, $1), Leaf(57, $3), Leaf(87, $5)); CHECK($$); }
    /* l@c:o.t */
    | IDENTIFIER '@' IDENTIFIER ':' IDENTIFIER '.' IDENTIFIER
        { $$ = N(88, PT_ARG1 ":" PT_ARG2 "." PT_ARG3, LinkPart($1, $3), Leaf(57, $5), Leaf(87, $7)); CHECK($$); }
    ;

column_ref
    /* c */
    : IDENTIFIER  { $$ = N(11, PT_ARG1, Leaf(10, $1)); CHECK($$); }
    /* t.c */
    | IDENTIFIER '.' IDENTIFIER  { $$ = N(11, PT_ARG1 "." PT_ARG2, Leaf(87, $1), Leaf(10, $3)); CHECK($$); }
    /* o.t.c */
    | IDENTIFIER '.' IDENTIFIER '.' IDENTIFIER
        { $$ = N(11, PT_ARG1 "." PT_ARG2 "." PT_ARG3, Leaf(57, $1), Leaf(87, $3), Leaf(10, $5)); CHECK($$); }
    ;

column_name: IDENTIFIER  { $$ = Leaf(10, $1); CHECK($$); } ;
column_alias: IDENTIFIER  { $$ = Leaf(9, $1); CHECK($$); } ;
cursor_name: IDENTIFIER  { $$ = Leaf(16, $1); CHECK($$); } ;
parameter: PARAM  { $$ = PT_NodeNew(20, "?"); CHECK($$); } ;
correlation_name: IDENTIFIER  { $$ = Leaf(15, $1); CHECK($$); } ;
unsigned_integer: UINT  { $$ = Leaf(95, $1); CHECK($$); } ;
comparison_op: COMPARISON  { $$ = Leaf(13, $1); CHECK($$); } ;
outer_join_op: OJ_OP  { $$ = Leaf(56, $1); CHECK($$); } ;
set_function_name: SETFUNC  { $$ = Leaf(1, $1); CHECK($$); } ;

datetime_constant
    : date_constant       { $$ = N(35, PT_ARG1, $1); CHECK($$); }
    | time_constant       { $$ = N(35, PT_ARG1, $1); CHECK($$); }
    | timestamp_constant  { $$ = N(35, PT_ARG1, $1); CHECK($$); }
    ;

date_constant
    : brace_open date_value brace_close    { $$ = N(34, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    | vendor_open date_value vendor_close  { $$ = N(34, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    ;

time_constant
    : brace_open time_value brace_close    { $$ = N(40, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    | vendor_open time_value vendor_close  { $$ = N(40, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    ;

timestamp_constant
    : brace_open timestamp_value brace_close    { $$ = N(41, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    | vendor_open timestamp_value vendor_close  { $$ = N(41, PT_ARG1 " " PT_ARG2 " " PT_ARG3, $1, $2, $3); CHECK($$); }
    ;

date_value: DATE_VALUE  { $$ = Leaf(17, $1); CHECK($$); } ;
time_value: TIME_VALUE  { $$ = Leaf(92, $1); CHECK($$); } ;
timestamp_value: TIMESTAMP_VALUE  { $$ = Leaf(93, $1); CHECK($$); } ;

oj_escape
    : vendor_open KW_OJ joined_table vendor_close  { $$ = N(38, PT_ARG1 " oj " PT_ARG2 " " PT_ARG3, $1, $3, $4); CHECK($$); }
    | brace_open KW_OJ joined_table brace_close    { $$ = N(38, PT_ARG1 " oj " PT_ARG2 " " PT_ARG3, $1, $3, $4); CHECK($$); }
    ;

scalar_function_escape
    : vendor_open KW_FN function_call vendor_close  { $$ = N(39, PT_ARG1 " fn " PT_ARG2 " " PT_ARG3, $1, $3, $4); CHECK($$); }
    | brace_open KW_FN function_call brace_close    { $$ = N(39, PT_ARG1 " fn " PT_ARG2 " " PT_ARG3, $1, $3, $4); CHECK($$); }
    ;

function_call: function_name '(' argument_list ')'  { $$ = N(67, PT_ARG1 "( " PT_ARG2 " )", $1, $3); CHECK($$); } ;

function_name: IDENTIFIER  { $$ = Leaf(25, $1); CHECK($$); } ;

argument_list
    : %empty                                   { $$ = PT_NodeNew(3, ""); CHECK($$); }
    | value_expression                         { $$ = N(3, PT_ARG1, $1); CHECK($$); }
    | value_expression ',' argument_list       { $$ = N(3, PT_ARG1 ", " PT_ARG2, $1, $3); CHECK($$); }
    | value_expression KW_FROM value_expression { $$ = N(3, PT_ARG1 " FROM " PT_ARG2, $1, $3); CHECK($$); }
    | value_expression KW_IN value_expression  { $$ = N(3, PT_ARG1 " IN " PT_ARG2, $1, $3); CHECK($$); }
    ;

/* Each escape comes back in the form it was written in: the escape translation reads the
   regenerated text as it read the original. */
vendor_open: VENDOR_OPEN  { $$ = PT_NodeNew(36, "--(* vendor(Microsoft),product(ODBC)"); CHECK($$); } ;
vendor_close: VENDOR_CLOSE  { $$ = PT_NodeNew(37, "*)--"); CHECK($$); } ;
brace_open: BRACE_OPEN  { $$ = PT_NodeNew(36, "{"); CHECK($$); } ;
brace_close: BRACE_CLOSE  { $$ = PT_NodeNew(37, "}"); CHECK($$); } ;

simple_case
    : KW_CASE value_expression simple_when_list KW_END  { $$ = N(77, "CASE " PT_ARG1 " " PT_ARG2 " END", $2, $3); CHECK($$); }
    ;

simple_when_list
    : simple_when                   { $$ = N(78, PT_ARG1, $1); CHECK($$); }
    | simple_when_list simple_when  { $$ = N(78, PT_ARG1 " " PT_ARG2, $1, $2); CHECK($$); }
    ;

simple_when
    : KW_WHEN value_expression KW_THEN value_expression  { $$ = N(79, "WHEN " PT_ARG1 " THEN " PT_ARG2, $2, $4); CHECK($$); }
    | KW_ELSE value_expression                           { $$ = N(79, "ELSE " PT_ARG1, $2); CHECK($$); }
    ;

searched_case
    : KW_CASE searched_when_list KW_END  { $$ = N(69, "CASE " PT_ARG1 " END", $2); CHECK($$); }
    ;

searched_when_list
    : searched_when                     { $$ = N(70, PT_ARG1, $1); CHECK($$); }
    | searched_when_list searched_when  { $$ = N(70, PT_ARG1 " " PT_ARG2, $1, $2); CHECK($$); }
    ;

searched_when
    : KW_WHEN search_condition KW_THEN value_expression  { $$ = N(71, "WHEN " PT_ARG1 " THEN " PT_ARG2, $2, $4); CHECK($$); }
    | KW_ELSE value_expression                           { $$ = N(71, "ELSE " PT_ARG1, $2); CHECK($$); }
    ;

%%

int scsql_Parse(const char* text, size_t length, SCSQL_PARSE* out) {
    ScsqlParser parser{nullptr, nullptr, false};
    if (scsql_ScannerNew(&parser.scanner, text, length) != 0) {
        out->failure = ERR_MEMORY_ALLOCATION_FAILURE;
        return SCSQL_PARSE_EXHAUSTED;
    }
    int result = scsqlp_parse(&parser);
    if (scsql_Failure(parser.scanner) != 0 || parser.outOfMemory) {
        out->failure = ERR_MEMORY_ALLOCATION_FAILURE;
        result = SCSQL_PARSE_EXHAUSTED;
    }
    // The statement rule hands its tree to the parser's root, off the stack: a statement
    // followed by anything but the end is a syntax error after that rule ran.
    if (result == SCSQL_PARSE_ACCEPTED)
        out->root = parser.root;
    else
        PT_Free(&parser.root, PT_NodeFree);
    if (const char* c = scsql_ErrorContext(parser.scanner))
        out->errorContext = uh_StrDup(c);
    if (const char* m = scsql_ErrorMessage(parser.scanner))
        out->errorMessage = uh_StrDup(m);
    scsql_ScannerFree(parser.scanner);
    return result;
}

void scsql_ParseFree(SCSQL_PARSE* out) {
    PT_Free(&out->root, PT_NodeFree);
    uh_Free(out->errorContext);
    uh_Free(out->errorMessage);
    *out = SCSQL_PARSE{};
}
