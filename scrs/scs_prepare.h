// Cursor preparation: after the agent prepared a statement, what the cursor library makes
// of it. A forward-only cursor is left alone (never analysed) unless the application asked
// for key columns (options 1052 and 1054: they are found and, with 1054, added to the select
// list). A statement the library cannot make scrollable (not a query, a call escape, a text
// the analyser refuses, a query without usable keys, DISTINCT or a set function on a
// keyset-driven or dynamic cursor) becomes a static read-only cursor (scs_p_ChangeCursorType:
// the ODBC side answers 01S02 and gets the requested values back at the next prepare). A
// query that cannot have the requested cursor fails: IM928 (outer join), IM934 (no table),
// IM913 (GROUP BY), IM914 (UNION) on keyset-driven and dynamic cursors. Otherwise the FROM
// tables are resolved, the key columns found (cached per connection) and, where the cursor
// orders by them, their ORDER BY positions recorded.
//
// Keyset-driven, mixed and dynamic cursors, and updatable static ones, are still served as
// static read-only once their keys are found.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <cstdint>

struct SCS_STMT;

// Decides the cursor of the statement the agent has just prepared (text as given to it).
// 0 leaves it ready; any other code fails the preparation.
int scs_p_PrepareCursor(SCS_STMT* cur, const char* text);
// The fallback to a static read-only cursor: the requested type and concurrency kept
// (unless a change is already pending), a keyset-driven or dynamic type set to static and a
// concurrency other than read-only set to read-only on the agent statement through slot 1,
// each change marked SCS_ATTRS_CHANGED so the next prepare gives the requested values
// back. 43 (S1C00) when the agent refuses either. Assumes cur is a live working record.
int scs_p_ChangeCursorType(SCS_STMT* cur);

// From the query's clause flags: several tables 87 (IM912), GROUP BY 88 (IM913), UNION 89
// (IM914), a set function 103 (IM923); 0: the query is updatable.
int scs_CheckUpdatable(uint32_t clauseFlags);
// Not a query (512) 90 (IM915), GROUP BY 88, UNION 89; 0: a keyset can be built.
int scs_CheckKeysetable(uint32_t clauseFlags);
// How far a seek must order: the ORDER BY items matched against the key columns (their
// key flags and types set), then the ordering column count. 88 or 89 for GROUP BY or UNION,
// 15 when an item's column is not among the table columns.
int scs_p_MarkKeyOrderColumns(SCS_STMT* cur);

// Whether the text is a data-definition statement (CREATE, ALTER, DROP, RENAME, GRANT,
// REVOKE, TRUNCATE): its execution clears the connection's caches of keys and tables.
bool scs_IsDdl(const char* text);
// Forgets the keys and resolved tables kept for the agent connection (its DDL ran).
void scs_ClearConnCaches(uint32_t agentConn);
