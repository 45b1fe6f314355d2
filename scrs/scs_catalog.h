// Catalog reads of the cursor library: an agent catalog operation run on the working
// record's first auxiliary statement, its whole result gathered, and the values of its rows
// read by internal type; and the name forms the catalog and the generated SQL take.
//
// Names read from the catalog are in the code set of the statement text (UTF-8 in the
// Unicode library, the application's narrow code set in the ANSI one): the agent writes
// both the same way, so narrow names are compared and written as they come. Wide kinds are
// decoded from UCS-2 to UTF-8.
//
// Results are internal codes (rows of util/errcode.h), 0 for success.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "drv_pro9/oa_optable.h"

struct DATASET;
struct SCS_STMT;

// The longest name the library keeps (its descriptor fields hold 508 bytes and a NUL).
constexpr size_t SCS_NAME_MAX = 508;
// Rows asked of each catalog fetch.
constexpr uint16_t SCS_CATALOG_FETCH_ROWS = 10;

// A catalog operation of the agent's table (slots 25-34).
using SCS_CATALOG_OP = int (*OA_OPTABLE::*)(uint32_t stmt, const OA_CATARGS* args);

// Allocates the record's first auxiliary statement on its agent connection when it has
// none. 0, or 15 (S1000) when the agent cannot allocate one.
int scs_EnsureAux1(SCS_STMT* cur);

// Runs the operation with args on the first auxiliary statement (allocated when missing)
// and gathers its whole result into rows (emptied first): fetches of 10 rows until one
// brings fewer. 0, or the code of the operation or of a fetch, each logged at ERROR as
// "<what>: <operation> failed." / "<what>: Couldn't fetch column descriptors.".
int scs_CatalogRead(SCS_STMT* cur, SCS_CATALOG_OP op, const char* opName, const OA_CATARGS& args, DATASET* rows,
                    const char* what);

// The text of column col (0-based) of row `row`, by the column's internal type: fixed text
// (up to a NUL, its padding blanks dropped), counted, NUL-terminated and length-prefixed text, and the
// wide forms decoded to UTF-8. *isNull tells a NULL (out then empty). 15 for a column of
// any other type or out of range.
int scs_CatalogText(const DATASET& rows, int col, int32_t row, std::string* out, bool* isNull);
// An integer value of column col: signed or unsigned 8-, 16- or 32-bit (and 64-bit). 15 for
// any other type or out of range.
int scs_CatalogInt(const DATASET& rows, int col, int32_t row, int64_t* out, bool* isNull);

// A name as a catalog pattern argument (SQLColumns and SQLTables compare with LIKE): "\",
// "_" and "%" escaped with "\", so that it matches itself only.
std::string scs_CatalogPattern(std::string_view name);
// The text without one pair of surrounding quote characters, doubled quotes inside made
// single; text of fewer than two characters, or not both begun and ended by the quote
// (or no quote character), comes back as it is.
std::string scs_Unquote(std::string_view text, char quote);
// The text wrapped in the quote character, quotes inside doubled; as it is without one.
std::string scs_Quote(std::string_view text, char quote);
