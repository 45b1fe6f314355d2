// The scanner object behind SCSQL_SCANNER and the helpers its rules call (scsql.l). Only
// the scanner's own two sources include this.
#pragma once

#include <cstddef>
#include <string>

#include "sqlparse/scsql.h"

struct UT_HASH;

// Header of one heap block of the automaton. Every block is linked into its scanner's
// list, so that a scanner whose automaton stopped half-way (out of memory) can release all
// it holds without asking the automaton, whose state is then not to be trusted.
struct alignas(16) ScsqlBlock {
    ScsqlBlock* prev;
    ScsqlBlock* next;
    size_t size;  // bytes after the header
};

struct SCSQL_SCANNER {
    void* lexer = nullptr;  // the flex automaton (yyscan_t)
    const char* input = nullptr;
    size_t length = 0;
    size_t position = 0;          // next byte of the input window to hand the automaton
    int escapeDepth = 0;          // open "{" and vendor escape openers, one count for both
    std::string tokenText;        // the normalised statement read so far
    UT_HASH* symbols = nullptr;   // token dictionary: exact text -> SCSQL_SYMBOL*
    const SCSQL_SYMBOL* value = nullptr;  // value of the token just scanned
    bool hasError = false;
    std::string errorContext;
    std::string errorMessage;
    int failure = 0;     // ERR_MEMORY_ALLOCATION_FAILURE once memory ran out
    bool ended = false;  // 0 was returned: the statement is over
    ScsqlBlock blocks{&blocks, &blocks, 0};  // sentinel of the automaton's blocks
};

// Thrown from the rules and the automaton's fatal-error hook when memory runs out (or the
// automaton fails in any other way); scsql_NextToken catches it and fails the scanner.
struct ScsqlFailure {};

// The automaton's input hook: copies at most size bytes of the window into buffer.
size_t scsql_ReadInput(SCSQL_SCANNER* s, char* buffer, size_t size);
// A token without value: appends its text to the token text, returns the token.
int scsql_Plain(SCSQL_SCANNER* s, const char* text, size_t length, int token);
// A valued token: as scsql_Plain, and its dictionary entry becomes the value. A text with
// a NUL byte inside cannot travel as a C string, so it comes back as UNKNOWN.
int scsql_Valued(SCSQL_SCANNER* s, const char* text, size_t length, int token);
// SELECT, INSERT, UPDATE or DELETE: the token text starts afresh with it.
int scsql_StatementWord(SCSQL_SCANNER* s, const char* text, size_t length, int token);
// A run of blanks, a comment or a line break: one blank in the token text.
void scsql_Blank(SCSQL_SCANNER* s);
// Length of the vendor escape opener at the start of text, which the rule matched.
size_t scsql_VendorOpenLength(const char* text);
[[noreturn]] void scsql_Fatal(const char* message);

// The automaton's heap: blocks linked into the scanner (see ScsqlBlock).
void* scsql_BlockAlloc(SCSQL_SCANNER* s, size_t size);
void* scsql_BlockRealloc(SCSQL_SCANNER* s, void* memory, size_t size);
void scsql_BlockFree(void* memory);

// The generated automaton (prefix scsql_).
int scsql_lex_init_extra(SCSQL_SCANNER* extra, void** lexer);
int scsql_lex(void* lexer);
int scsql_lex_destroy(void* lexer);
