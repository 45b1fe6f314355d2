// Key-column discovery: the columns that identify each row of a scrollable query, found
// through the server's catalog and kept per agent connection.
//
// For each FROM table, in order, the sources are asked until one gives a usable key: the
// best row identifier (SQLSpecialColumns), then a unique index (SQLStatistics, the first
// index whose columns qualify), then the primary key (SQLPrimaryKeys). A key is usable only
// when every column of it is NOT NULL (NULLABLE of SQLColumns, asked once per table, which
// also completes the types): "k = ?" never matches a NULL, and a unique index may hold
// several. This matters here: the server's SQLSpecialColumns answers the columns of every
// unique index, nullable ones too, and its SQLPrimaryKeys a unique index when the table has
// no primary key. A source the agent lacks (43) offers nothing. A table that no source keys
// leaves the query without keys (84, IM909), and the caller makes the cursor static; so do
// a derived table or any item without a table name (never asked of the catalog) and an
// empty FROM list. Names come back quoted with the identifier quote (pseudo columns of the
// best row identifier bare, their description the source's own); a name longer than 508
// bytes cannot be kept and counts as no key. Key columns come in FROM order, each table's
// in the order its source reports them; their descriptors own no text.
//
// The answer is cached on the agent connection (SCS_CONN::keyCache) under the MD5 digest of
// the tables as written (catalog, schema, table of each, every part length-prefixed), so a
// second cursor over the same tables asks the catalog nothing. DDL run through the
// connection clears its cache (KS_ClearKeyCache); DDL of other connections is not seen.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <array>
#include <cstdint>

#include "scrs/ks_keyset.h"

struct SCS_STMT;
struct UT_ARRAY;


// The record's keyset descriptor, made when it has none. 0 or 16 (S1001).
int KS_Ensure(SCS_STMT* cur);
// Frees a descriptor and what it owns; null is ignored.
void KS_Delete(KSD* keyset);
// Frees the key columns and zeroes the FROM-table count (the descriptor stays). Null is
// ignored.
void KS_ClearKeyCols(KSD* keyset);

// Chooses the key columns of the FROM tables (SCR_TABLEREF, resolved by scs_p_GetTblDescs)
// into the record's keyset descriptor, replacing what it held; the FROM-table count is set.
// 0; 84 (IM909) when a table has no usable key; 15 (S1000) without a record, descriptor or
// tables; 16; or the code of a failing catalog call (a failure is never masked by a later
// source's success). Nothing is cached on failure.
int KS_GetKeyColDescs(SCS_STMT* cur, const UT_ARRAY* tables);
// The primary key alone, for every table (no cache, no other source), into the record's
// keyset descriptor likewise: the key columns a forward-only cursor adds to its select list
// on request. 0, 84, or as above.
int KS_GetKeyColDescs_PKeys(SCS_STMT* cur, const UT_ARRAY* tables);

// The cache key of a FROM list: MD5 over, for each table, the lengths (4 bytes each) and
// bytes of its catalog, schema and table texts as written.
std::array<unsigned char, 16> KS_KeyCacheKey(const UT_ARRAY* tables);
// Empties the key-column cache of the agent connection (DDL ran on it). Unknown: nothing.
void KS_ClearKeyCache(uint32_t agentConn);
