// Statement text record and ODBC escape translation of the agent.
//
// Before a statement is prepared, and for SQLNativeSql, the application's SQL text is
// rewritten into the server's dialect: ODBC escape clauses ({fn}, {d}, {t}, {ts}, {oj},
// {call}, {? = call}, {escape}, and the long form --(* ... *)--) are replaced, parameter
// markers are counted and the statement is classified. The result is an OA_SQLTEXT,
// read by the prepare step and by NativeSql.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drv_pro9/oa_stmtflags.h"

// One statement text, as given and as translated. The record owns both texts, C heap
// made with the agent's heap calls (util/utheap.h) like every other text of the agent;
// they are released by ut_SqlTextFree or when the record goes, and a text taken out of
// the record is released with free().
struct OA_SQLTEXT {
    char* text = nullptr;         // the input without its leading white space
    char* translated = nullptr;   // what goes to the server
    uint16_t flags = 0;           // OaSqlTextFlag bits
    uint32_t paramCount = 0;      // parameter markers in the translated text
    int32_t reserved = 0;         // cleared at construction; no reader
    int16_t kind = 0;             // SQLT_KIND_*

    OA_SQLTEXT() = default;
    ~OA_SQLTEXT();
    OA_SQLTEXT(const OA_SQLTEXT&) = delete;
    OA_SQLTEXT& operator=(const OA_SQLTEXT&) = delete;
};

enum OaSqlTextKind : int16_t {
    SQLT_KIND_SELECT = 1,
    SQLT_KIND_DML = 2,     // INSERT, DELETE or UPDATE
    SQLT_KIND_OTHER = 3,
};

// The translator's context: a link back to the server record that owns it. It is made
// and freed with the server record; no translation step reads it.
struct db_EscContext {
    void* server = nullptr;
};

// One row of the function and conversion tables: a name and its server text, in which
// "%" stands for the argument list as written. A null server text marks a name that
// has no translation.
struct DB_ESCROW {
    const char* name;
    const char* server;
};

extern const DB_ESCROW db_EscFnTable[];        // scalar functions, ended by {nullptr, nullptr}
extern const DB_ESCROW db_EscConvertTable[];   // CONVERT target types, ended likewise

// Binary search of a table by name, without regard to case. The server text, or null
// when the name is absent or has none.
const char* db_EscLookup(const DB_ESCROW* table, const char* name, size_t nameLen);

// Builds rec from text with escape translation: white space before the text is skipped,
// the text is copied, translated and classified. rec's earlier texts are freed first.
// Returns 0, ERR_GENERAL_ERROR for a null text, or ERR_MEMORY_ALLOCATION_FAILURE with rec
// left empty. Unknown escapes are logged at WARNING and passed on for the server to judge.
int ut_SqlTextTranslate(db_EscContext* ctx, OA_SQLTEXT* rec, const char* text);

// As ut_SqlTextTranslate without translation (the statement's no-scan option): both
// texts are copies of the input. Parameter markers are still counted, since the
// statement's parameters are bound by their count. Returns as ut_SqlTextTranslate.
int ut_SqlTextCopy(OA_SQLTEXT* rec, const char* text);

// Sets rec->kind from the translated text: after any leading "(" a prefix of SELECT is 1;
// a text that begins with INSERT, DELETE or UPDATE is 2; anything else 3. Returns 0, or
// ERR_GENERAL_ERROR when there is no translated text.
int ut_SqlTextClassify(OA_SQLTEXT* rec);

// Frees and nulls both texts of rec; a null record is ignored.
void ut_SqlTextFree(OA_SQLTEXT* rec);
