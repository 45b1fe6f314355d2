// SQL text templates: the expander behind every SQL text the driver generates.
//
// A template is plain SQL in a NUL-terminated byte string, with escape sequences that
// begin with the byte 0xFF:
//   0xFF 0x01 n          insert argument n (1-based)
//   0xFF 0x02 g t n      begin conditional section g; its first branch is kept when
//                        test t holds for argument n
//   0xFF 0x03 g t n      else-if branch of section g
//   0xFF 0x04 g          else branch of section g
//   0xFF 0x05 g          end of section g
//   0xFF x               any other byte x: both bytes are dropped
// Sections nest when they carry different numbers. Tests: 1 the argument is empty,
// 2 it is not, 3 it holds an unescaped LIKE wildcard, 4 it holds none; any other value
// never holds.
//
// Arguments are inserted verbatim: quoting a name for the SQL it lands in is the
// caller's business (the catalog layer doubles quotes before it expands).
#pragma once

#include <string>

// Template escape bytes, for callers that build templates in code.
constexpr char TMPL_ESC = '\xFF';
constexpr char TMPL_INSERT = '\x01';
constexpr char TMPL_IF = '\x02';
constexpr char TMPL_ELSEIF = '\x03';
constexpr char TMPL_ELSE = '\x04';
constexpr char TMPL_END = '\x05';

enum TmplTest : unsigned char {
    TMPL_EMPTY = 1,       // ut_TmplIsAll holds
    TMPL_GIVEN = 2,       // ut_TmplIsAll does not hold
    TMPL_PATTERN = 3,     // an unescaped '_' or '%'
    TMPL_EXACT = 4,       // no unescaped '_' or '%'
};

// Appends the expansion of tmpl to out and returns 0. args holds count texts; an
// argument number of 0 or above count inserts "NULL" and tests as the empty text, a
// null pointer inserts nothing and tests as empty without wildcards. Nothing is
// written in place of the template's own NUL: out's terminator stands for it.
//
// Each argument's pattern status is decided once, on the text as given, so every test
// 3 or 4 of one argument agrees across the template. A branch kept because the
// argument holds no unescaped wildcard (test 4 held, or test 3 failed before it) inserts
// the argument with its escapes removed, so that an equality compares the plain name;
// anywhere else the argument goes in as given. The arguments are never modified.
//
// Every scan stops at the template's NUL, also inside a cut-off escape sequence.
// A section without its end marker is not diagnosed: templates are the driver's own.
int ut_TmplExpand(std::string& out, const char* tmpl, const char* const* args, int count);

// 1 when the text is null, empty, made only of blanks, or exactly "%": a restriction
// that matches everything. 0 otherwise.
int ut_TmplIsAll(const char* text);

// 1 when the text holds a LIKE wildcard ('_' or '%') that is not escaped by a
// backslash; a backslash escapes the '_', '%' or '\' right after it. A null text gives 0.
// When the result is 0 and plain is given, *plain receives the text with each escape
// backslash removed (the name the pattern stands for); the text itself is not touched.
int ut_TmplHasPattern(const char* text, std::string* plain = nullptr);
