// Internals of the SQLite back-end of the ESQL-92 client stand-in, shared by its sources:
// the SQL text layer (tokens, the translation of the server's dialect, the description of
// result columns), the server functions and system catalog registered on each connection,
// and the mapping of SQLite failures to native codes and SQLSTATEs.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/esql92/internal.h"

namespace esql::lite {

// ----------------------------------------------------------------------------------------
// SQL text.

struct Token {
    enum Kind : uint8_t { Ident, Quoted, String, Number, Blob, Param, Punct };
    Kind kind;
    uint32_t pos;
    uint32_t len;
};

// Splits SQL text into tokens; blanks and comments are dropped.
std::vector<Token> tokenize(std::string_view sql);
// The token's text; for Quoted identifiers the name without quotes.
std::string tokenName(std::string_view sql, const Token& t);
bool isWord(std::string_view sql, const Token& t, const char* upperWord);

enum class StatementKind { Query, Dml, Other };

struct Translation {
    std::string sql;               // SQLite's text
    StatementKind kind = StatementKind::Other;
    bool usesCatalog = false;      // reads the system catalog views
};

// Translates the server's dialect into SQLite's: convert(SQL_xxx, v), TOP n, the functions
// whose names SQLite reserves, bare SYSDATE-like keywords, the catalog schemas, the column
// types of CREATE TABLE and ALTER TABLE ADD, and the place of NULLs in every ORDER BY (above
// every value: NULLS LAST ascending, NULLS FIRST descending). Returns false after posting (the (+) marker).
bool translate(std::string_view text, Translation& out, Outcome& o);

// Values kept in one form. A column whose type stores its values in one form (DATE, TIME,
// TIMESTAMP, and NUMERIC rounded to its scale) gets, at CREATE TABLE or ALTER TABLE ADD, a check that refuses what is no value
// of the type and marks a value not in that form (esql_mark); the back-end then rewrites the
// marked rows with the expression storedFormExpr gives for the column. A date, time or
// timestamp already in that form costs one function call (esql_date_formed) and nothing
// more.
//
// The expression giving the value of column `ref` (an SQL name) of declared type `decl` its
// stored form, e.g. "esql_date(ref)" or "esql_numeric(ref, 10, 2)"; "" for a type whose
// values are stored as written.
std::string storedFormExpr(std::string_view decl, const std::string& ref);

// Describes the result columns of a statement prepared from translated text.
void describeResult(sqlite3* db, sqlite3_stmt* stmt, const Translation& tr,
                    std::vector<ColumnDesc>& out);

// The type of a column of the system catalog views by its name ("_Width", "TBL", ...).
bool catalogColumnType(std::string_view name, ColumnDesc& out);

// ----------------------------------------------------------------------------------------
// Per-connection set-up: the server's scalar functions, DECODE, the functions that give a
// value its stored form (esql_date, esql_time, esql_timestamp) and the collations by value.
// Returns false with SQLite's message.
bool registerServerFunctions(sqlite3* db, const std::string& user, const std::string& dbName,
                             std::string& error);

// The checks of DATE, TIME and TIMESTAMP columns (esql_date_formed and its kin): each sets
// *marked when the row holds a value to give its stored form. Registered deterministic, as
// SQLite asks of what a check calls: the argument differs from row to row, so no call is
// left out. Returns false with SQLite's message.
bool registerFormChecks(sqlite3* db, bool* marked, std::string& error);
inline constexpr const char* kDateFormed = "esql_date_formed";
inline constexpr const char* kTimeFormed = "esql_time_formed";
inline constexpr const char* kTimestampFormed = "esql_timestamp_formed";

// The exact numerics (sqlite_decimal.cpp): SUM and AVG in place of SQLite's, the CHECK and
// the stored form of NUMERIC columns (esql_numeric_check, esql_numeric) and the exact
// literal (esql_exact). Returns false with SQLite's message.
bool registerDecimalFunctions(sqlite3* db, std::string& error);
// The function that keeps an exact numeric literal too long for a double as its text.
inline constexpr const char* kExactLiteral = "esql_exact";

// The system catalog (sqlite_catalog.cpp): attachCatalog attaches the private in-memory
// database SYSPROGRESS with the catalog's empty tables (at connect, outside a transaction;
// false with SQLite's message). refreshCatalog fills them from the file's schema when its
// schema version differs from version, and sets version to the one it built; a repeated
// call on an unchanged schema reads the version only. The caller forgets version (-1) when
// a transaction rolls back, since the rows it wrote go with it. SQLITE_OK, or SQLite's code
// with its message in error. An object whose definition cannot be read (a view over a
// dropped table) is listed without columns and fails nothing.
bool attachCatalog(sqlite3* db, std::string& error);
int refreshCatalog(sqlite3* db, int64_t& version, std::string& error);
// How many times any connection of the process built its catalog (for tests and benches).
uint64_t catalogBuilds();

// Names of the collations of NUMERIC, DATE, TIME and TIMESTAMP columns created through the
// stand-in: they compare by value.
inline constexpr const char* kDecimalCollation = "ESQL_DECIMAL";
inline constexpr const char* kDateCollation = "ESQL_DATE";
inline constexpr const char* kTimeCollation = "ESQL_TIME";
inline constexpr const char* kTimestampCollation = "ESQL_TIMESTAMP";
// Prefixes of the CHECK constraints the stand-in adds, read back from SQLite's messages.
inline constexpr const char* kLengthCheck = "esql_len:";
inline constexpr const char* kRangeCheck = "esql_range:";
inline constexpr const char* kStoredFormCheck = "esql_form:";

// ----------------------------------------------------------------------------------------
// Failures.

// Posts SQLite's current error of db (rc is the failing result code) with its SQLSTATE.
void failFromSqlite(Outcome& o, sqlite3* db, int rc);
// The same for a result code and message that did not come from db (open failures).
void failFromSqlite(Outcome& o, int extendedCode, const char* message, bool connecting);

}  // namespace esql::lite
