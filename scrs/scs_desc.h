// Table and select-list descriptors: which tables a SELECT reads (resolved through the
// catalog), which column each select-list item is (* and x.* expanded, plain columns
// completed with their table, owner and qualifier), the ORDER BY items and where the key
// columns stand in them, the rewrite of a select list that must name every key column, the
// parameter descriptions of key columns, the describe attributes of a rewritten select
// list, and the identifier rules all of them compare names by.
//
// Everything works on the working record of the agent statement (SCS_STMT): its analysis,
// its descriptor arrays (fromTables, tableCols, selectCols, orderBy), its keyset
// descriptor's key columns, the connection's identifier quote and cases, and its first
// auxiliary statement for catalog reads (scrs/scs_catalog.h). Name fields of descriptors
// hold at most 508 bytes; a longer name is refused (15), never cut.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drv_pro9/oa_optable.h"
#include "sqlparse/scr_analyse.h"

struct COLDESC;
struct COLATTR;
struct SCS_STMT;
struct UT_ARRAY;

// ---- Identifiers ----------------------------------------------------------------------------

// Identifier cases (SQLGetInfo 28 and 93).
constexpr uint16_t SCS_CASE_UPPER = 1;
constexpr uint16_t SCS_CASE_LOWER = 2;
constexpr uint16_t SCS_CASE_SENSITIVE = 3;
constexpr uint16_t SCS_CASE_MIXED = 4;

// The normal form of an identifier: a quoted text (begun by the quote, at least two
// characters) is unquoted and folded by the quoted case, any other by the identifier case
// (1 upper, 2 lower, UTF-8 aware when wide, else byte-wise; others unchanged); the result
// is quoted again when there is a quote character, mayQuote holds, and the text was quoted
// or the cases do not say that a bare name is folded (3 with another quoted case, 2 with
// quoted 1, 1 with quoted 2). An empty text stays empty.
std::string scs_p_IdentNormalize(std::string_view text, char quote, uint16_t quotedCase, uint16_t identCase, bool wide,
                                 bool mayQuote);
// Equal identifiers: each unquoted when quoted and folded by its own rule (quoted case for a
// quoted text, identifier case otherwise; 1 and 4 upper, 2 lower, 3 unchanged), then the
// bytes compared. False when either is empty.
bool scs_p_IdentEqual(std::string_view a, std::string_view b, char quote, uint16_t quotedCase, uint16_t identCase,
                      bool wide);
// Whether a column name may be quoted: not a ROWID or ROWNUM pseudo column of a DBMS whose
// name holds "oracle" (both compared without case).
bool scs_p_IsPseudoColumnQuotable(std::string_view column, std::string_view dbmsName);

// ---- FROM tables and their columns ------------------------------------------------------------

// Resolves each FROM table (SCR_TABLEREF) in place through SQLTables: catalog, schema and
// table become the catalog's (quoted when the connection has a quote). Names go as exact
// patterns ("_" matches itself only). An empty owner is tried as "%" first, then as the
// current user when two tables answer. 0; 10 (42S02) when a table does not exist (posted on
// the statement); 97 (IM918) when the user name, or the owner given, still leaves two; 15
// for a derived table (no name to ask for) or a name longer than a field; 16; or the
// catalog call's code.
int scs_p_GetTblDescs(SCS_STMT* cur, UT_ARRAY* tables);
// Appends the column descriptors (SCS_COLDESC, item kind 4) of every table to out, through
// SQLColumns with the names as exact patterns; long columns (SQL types -1, -4, -10) are left
// out with skipLong. 0; 15 when a table has no name (derived) or no column, or a name cannot
// be kept; or the catalog call's code.
int scs_p_GetTblColDescs(SCS_STMT* cur, const UT_ARRAY* tables, bool skipLong, UT_ARRAY* out);

// ---- Select list --------------------------------------------------------------------------------

// Expands the select list into out (SCS_COLDESC): "*" the columns of every FROM table, "x.*"
// those of the table whose alias, else name, is x; expressions and columns as they are. The
// unexpanded items go to *unexpanded when given (the caller frees them, SCR_ColDescFree).
// 15 for an unknown qualifier or item kind.
int scs_p_SelectColsGet(SCS_STMT* cur, UT_ARRAY* out, UT_ARRAY** unexpanded);
// Completes the plain-column items of cur->selectCols from cur->tableCols: names normalised,
// then the first table column of the same name (and, with several FROM tables and a named
// table, of that alias, or of that table when it has none) gives column, table, alias, owner,
// qualifier, SQL type, size and digits. 0, or 15 when a normal form is longer than a field.
int scs_p_SelectCol_ColDescComplete(SCS_STMT* cur);
// The select list rewritten when it holds "*" or "x.*" (the expanded items written out), or
// when the add-key-columns request (option 1054) finds key columns it does not name (they
// are appended, to the text and to cur->selectCols; in a join through their table's alias).
// The analysis' root text and cur->text are then the new statement, for the caller to
// prepare, and *rewritten true. 0, 15 or 16.
int scs_p_SelListAddKeysnXpandWC(SCS_STMT* cur, const UT_ARRAY* unexpanded, bool addKeys, bool* rewritten);
// A column as the generated SQL names it: with more than one FROM table prefixed by the
// alias, else owner "." table, else table; the column name alone with one table.
std::string scs_QualifiedColName(uint32_t tableCount, const SCS_COLDESC& col);

// ---- ORDER BY ----------------------------------------------------------------------------------

// The ORDER BY items into cur->orderBy (the analysis' clause flags added to the record's);
// ordinals take the expanded select-list item they name (68 past the list or 0, 99 (IM919)
// for an expression), the list expanded and completed here, through the catalog, when
// cur->selectCols is not made yet; the ordinals are then replaced in the statement
// (SCR_OrderByResolve, not to be run again) and cur->text is the rebuilt text. Names
// normalised, a table that is a FROM alias moved to the alias field with the table's name
// and schema in its place. 0, 15, 16, 68, 99 or a catalog call's code.
int scs_p_OrderByDescsGet(SCS_STMT* cur);
// Each key column's orderPosition: the first ORDER BY item (from 1) naming it (column, and
// table and owner when the item names them, compared as identifiers), else 0.
void scs_p_KeyOrderPositions(SCS_STMT* cur);

// ---- Parameters of key columns -------------------------------------------------------------------

// The parameter description of a column: its SQL type, the C type the table gives (4, 5, 7,
// 9-11, 91-93, -7, -6 the same; 6, 8 -> 8; -10, -9, -8 -> -8; -4, -3, -2 -> -2; else 1), its
// size and digits.
PARAM_DESC scs_ParamDescFromColDesc(const SCS_COLDESC& col);
// Appends one description per column to cur->paramDescs, then the application's
// (cur->userParamDescs) when appendUser. 0 or 16 (nothing appended).
int scs_AddParamDescs(SCS_STMT* cur, const SCS_COLDESC* cols, uint32_t n, bool appendUser);

// ---- Describe attributes of a rewritten select list ---------------------------------------------

// After the agent described a select list the library rewrote (SCS_SELECT_REWRITTEN): each
// column's unanswered attribute entries (negative codes) 1053 (a key column) and 1055 (an
// expression) answered from cur->selectCols and the key columns, and entries appended for a
// column that has none; table, schema and catalog the agent left empty taken, unquoted, from
// the select descriptor. Any other statement: nothing. 0, 15 (no attribute list) or 16.
int scs_p_FixColAttribs(SCS_STMT* cur, uint16_t colCount, COLDESC* cols, std::vector<COLATTR>* attrs);
