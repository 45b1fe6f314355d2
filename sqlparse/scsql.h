// The SQL scanner: cuts one statement into the tokens of the analyser's grammar.
//
// A scanner object holds everything one scan needs: the input window, the automaton (a
// reentrant flex scanner) with its start state and buffers, the escape depth, the
// normalised token text read so far, the token dictionary and the error texts. A parse
// makes one, pulls tokens from it and frees it, so nothing carries over from one
// statement to the next and parses on different threads need no lock.
//
// Only statements that begin with SELECT, INSERT, UPDATE or DELETE are scanned in full.
// Any other first word gives OTHER_WORD and a first "{" CALL_START; the scan then ends at
// the next character that is not a blank (a statement word there is still returned).
//
// In a scanned statement every byte either belongs to a token, is white space or a
// comment, or comes back as an UNKNOWN token that no grammar rule takes: the scanner never
// drops text, so a statement it cannot read fails to parse rather than being read as
// another one.
#pragma once

#include <cstddef>

#include "sqlparse/scsql_tokens.h"

// The value of an identifier, a constant, an operator or an UNKNOWN token: its exact text
// as written. Entries belong to the scanner and live until it is freed; equal texts share
// one entry.
struct SCSQL_SYMBOL {
    const char* text;
};

struct SCSQL_SCANNER;

// A scanner over length bytes of text, which must stay unchanged until the scanner is
// freed. Returns 0, or ERR_MEMORY_ALLOCATION_FAILURE with *scanner null.
int scsql_ScannerNew(SCSQL_SCANNER** scanner, const char* text, size_t length);
// Frees the scanner with its dictionary; null is ignored.
void scsql_ScannerFree(SCSQL_SCANNER* scanner);

// The next token number, 0 at the end of the statement (and on every call after it).
// *value receives the token's dictionary entry for the valued tokens (IDENTIFIER to
// OJ_OP, and UNKNOWN), null for the others. Once memory ran out, FAILED on every call.
int scsql_NextToken(SCSQL_SCANNER* scanner, const SCSQL_SYMBOL** value);
// 0, or ERR_MEMORY_ALLOCATION_FAILURE once the scanner ran out of memory: a parse that
// met FAILED reports this instead of a syntax error.
int scsql_Failure(const SCSQL_SCANNER* scanner);

// The statement as read so far: every token's text, one blank for each run of blanks,
// each block comment and each line break (a line comment adds nothing of its own), nothing
// for the blanks that begin a line. A statement word (SELECT, INSERT, UPDATE, DELETE)
// starts it afresh.
const char* scsql_TokenText(const SCSQL_SCANNER* scanner);

// Records a syntax error: the context becomes the token text read so far followed by "^",
// the message a copy of message. A later call replaces both.
void scsql_Error(SCSQL_SCANNER* scanner, const char* message);
// The recorded context and message; null until an error was recorded.
const char* scsql_ErrorContext(const SCSQL_SCANNER* scanner);
const char* scsql_ErrorMessage(const SCSQL_SCANNER* scanner);
