// Token numbers of the SQL scanner, from the list in scsql_tokens.def.
#pragma once

enum ScsqlToken : int {
#define SCSQL_TOKEN(name, number) SCSQL_TK_##name = (number),
#include "sqlparse/scsql_tokens.def"
#undef SCSQL_TOKEN
};
