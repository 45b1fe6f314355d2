// Small text routines: splitting the agent's connect-option string into an argument vector,
// case-insensitive search and keyword matching, white-space trimming, heap copies of
// counted texts with the ODBC length convention, quoting and unquoting, and the calling
// program's name.
//
// Texts are NUL-terminated 8-bit strings. A length is a byte count or UT_NTS (SQL_NTS):
// up to the NUL. Letters are compared by their ASCII case only and white space is the
// ASCII set, whatever the host's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr int64_t UT_NTS = -3;

// Splits the text into arguments: blanks and tabs separate; ' and " quote (the other kind
// is kept inside); a backslash before ", ' or \ makes that character plain and is dropped,
// any other backslash is kept; an empty quoted pair is an argument. An argument holds at
// most 1023 characters. *argv is a heap array of heap texts (s_alloc, s_strdup) followed by
// at least one null; free it with ut_FreeArgs. Returns -1 for a null text (count 0,
// vector null), otherwise 0.
int ut_SplitArgs(const char* text, int* argc, char*** argv);
// Frees every text up to the first null entry, then the vector; null is ignored.
void ut_FreeArgs(char** argv);

// First occurrence of the pattern in the text, ignoring case; null when there is none.
const char* ut_StrCaseStr(const char* text, const char* pattern);
// Skips white space, then requires the keyword (ignoring case) followed by white space or
// the end. Returns the text after the keyword and the white space behind it, or null.
const char* ut_MatchKeyword(const char* keyword, const char* text);
// The same with the keyword compared case-sensitively.
const char* ut_MatchKeywordExact(const char* keyword, const char* text);
// The first character that is not white space.
const char* ut_SkipBlanks(const char* text);
// Cuts trailing white space in place. Returns the last remaining character, or null when
// the text is null, empty or only white space (it is then empty).
char* ut_TrimRight(char* text);

// Heap copy (malloc) of length bytes of the text, or up to its NUL for UT_NTS, with a NUL
// added; a null text is copied as the empty text. Returns 0 with *copy null when out of
// memory, or ERR_INVALID_STRING_OR_BUFFER_LENGTH (*copy null) for any other negative
// length.
int ut_StrNDup(char** copy, const char* text, int64_t length);
// As ut_StrNDup, after dropping one pair of matching ' or " around a text of more than one
// character.
int ut_StrNDupUnquote(char** copy, const char* text, int64_t length);
// Heap copy (malloc) wrapped in the quote character; a blank quote character means a plain
// copy. Null when out of memory or for a negative length other than UT_NTS.
char* ut_StrQuote(const char* text, int64_t length, char quote);
// Heap copy (malloc) without one pair of surrounding quote characters (none for a blank
// quote character). Null when out of memory or for a negative length other than UT_NTS.
char* ut_StrUnquote(const char* text, int64_t length, char quote);

// The upper-case base name, without extension, of the program this process runs (its path
// from /proc/self/cmdline, never its arguments); "Unknown" when it cannot be read.
// Computed once; every call returns the same text.
const char* ut_ProgramName();
// The same rule applied to the bytes of a command line (NUL-separated arguments).
std::string ut_ProgramNameOf(std::string_view cmdline);
