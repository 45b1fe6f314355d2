// The agent's catalog operations (slots 25-34): one SELECT over the system catalog per
// ODBC catalog call, prepared and executed on the caller's agent statement, whose result
// the ordinary fetch (slot 19) then reads.
//
// Three things make the answers ODBC-shaped: the SQL text (aliases, DECODE of the server's
// codes), an override of the result descriptions after execution (types, sizes, element
// widths and nullability, and the ODBC 2 column names on an ODBC 2 connection), and a row
// fix-up that the fetch applies to every block (OA_STMT::rowCallback).
//
// Names reach the SQL inside quoted literals, each quote doubled, so no name can end its
// literal. Pattern arguments are compared with LIKE ... ESCAPE '\' when they hold an
// unescaped wildcard and with = on the unescaped name otherwise; ordinary arguments always
// with =. An empty name, one of blanks only, and "%" drop their condition.
//
// Every operation answers 0, 21 for an unknown statement handle or a null argument record,
// or the code of the failing prepare or execute (messages on the agent statement; nothing
// is then overridden or installed). They assume the caller's serialisation.
#pragma once

#include <cstdint>

struct OA_CATARGS;

int OA_DDColumnPrivileges(uint32_t stmt, const OA_CATARGS* args);
int OA_DDColumns(uint32_t stmt, const OA_CATARGS* args);
int OA_DDForeignKeys(uint32_t stmt, const OA_CATARGS* args);
int OA_DDPrimaryKeys(uint32_t stmt, const OA_CATARGS* args);
int OA_DDProcedureColumns(uint32_t stmt, const OA_CATARGS* args);
int OA_DDProcedures(uint32_t stmt, const OA_CATARGS* args);
// Identifier type 1 (SQL_BEST_ROWID): the columns of the table's unique indexes; any
// other type: an empty result of eight columns.
int OA_DDSpecialColumns(uint32_t stmt, const OA_CATARGS* args);
// Unique 0 (SQL_INDEX_UNIQUE) lists the unique indexes only. The index named "default"
// is never listed.
int OA_DDStatistics(uint32_t stmt, const OA_CATARGS* args);
int OA_DDTablePrivileges(uint32_t stmt, const OA_CATARGS* args);
// Catalog "%" with every other name empty: 43 (catalogs are not supported); schema "%"
// with catalog and table empty: the owners; type list "%" with the three names empty: the
// table types; anything else lists tables. A type list other than "%" must be quoted
// items ('TABLE','VIEW'); any other form is refused with 21.
int OA_DDTables(uint32_t stmt, const OA_CATARGS* args);
