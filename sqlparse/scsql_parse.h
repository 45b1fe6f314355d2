// The SQL grammar's parse of one statement: the parse tree of a SELECT, INSERT, UPDATE or
// DELETE statement (root kind 74, 28, 96, 97, 18 or 19), or the leaf of another statement
// (0) or of a call escape (61).
//
// A parse makes its own scanner and a pure parser with its own stacks, so parses share
// nothing and run on any number of threads at once without a lock.
#pragma once

#include <cstddef>

struct PT_NODE;

// The parser's outputs, which the caller owns after the parse.
struct SCSQL_PARSE {
    PT_NODE* root = nullptr;  // the statement's tree; null unless the statement was accepted
    char* errorContext = nullptr;  // the text read up to the error followed by "^" (uh_ heap)
    char* errorMessage = nullptr;  // "syntax error", "memory exhausted", or the scanner's
    int failure = 0;  // ERR_MEMORY_ALLOCATION_FAILURE when memory ran out, else 0
};

// Result codes of scsql_Parse.
constexpr int SCSQL_PARSE_ACCEPTED = 0;
constexpr int SCSQL_PARSE_SYNTAX_ERROR = 1;
// The stacks would outgrow their limit (nesting too deep), or memory ran out (failure set).
constexpr int SCSQL_PARSE_EXHAUSTED = 2;

// Parses length bytes of text into *out (which must be empty). On any result but 0 the
// nodes built so far are freed and the root stays null; the error texts are set whenever
// the parser or the scanner recorded one.
int scsql_Parse(const char* text, size_t length, SCSQL_PARSE* out);
// Frees what *out holds and empties it.
void scsql_ParseFree(SCSQL_PARSE* out);
