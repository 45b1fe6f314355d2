// ODBC escape translation: the statement-text record, the scanner that finds escape
// clauses and parameter markers, and the translation of each escape into the server's
// dialect.
#include "drv_pro9/oa_sqltext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

constexpr char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-blind three-way comparison of a name with a table entry; the binary search and
// the compile-time order check below use the same one.
constexpr int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char x = Lower(a[i]), y = Lower(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <size_t N>
constexpr bool SortedTable(const DB_ESCROW (&t)[N]) {
    for (size_t i = 1; i + 1 < N; ++i)
        if (CompareNoCase(t[i - 1].name, t[i].name) >= 0)
            return false;
    return t[N - 1].name == nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Tables

constexpr DB_ESCROW db_EscFnTable[] = {
    {"abs", "abs%"},
    {"acos", "acos%"},
    {"ascii", "ascii%"},
    {"asin", "asin%"},
    {"atan", "atan%"},
    {"atan2", "atan2%"},
    {"ceiling", "ceiling%"},
    {"char", "char%"},
    {"concat", "concat%"},
    {"cos", "cos%"},
    {"curdate", "curdate%"},
    {"current_date", "sysdate%"},
    {"current_time", "systime%"},
    {"current_timestamp", "systimestamp%"},
    {"curtime", "curtime%"},
    {"dayname", "dayname%"},
    {"dayofmonth", "dayofmonth%"},
    {"dayofweek", "dayofweek%"},
    {"dayofyear", "dayofyear%"},
    {"dbname", "db_name()"},
    {"degrees", "degrees%"},
    {"exp", "exp%"},
    {"floor", "floor%"},
    {"hour", "hour%"},
    {"ifnull", "ifnull%"},
    {"insert", "insert%"},
    {"lcase", "lcase%"},
    {"left", "left%"},
    {"length", "length%"},
    {"locate", "locate%"},
    {"log10", "log10%"},
    {"ltrim", "ltrim%"},
    {"minute", "minute%"},
    {"mod", "mod%"},
    {"month", "month%"},
    {"monthname", "monthname%"},
    {"now", "now%"},
    {"pi", "pi()"},
    {"power", "power%"},
    {"quarter", "quarter%"},
    {"radians", "radians%"},
    {"rand", "rand%"},
    {"repeat", "repeat%"},
    {"replace", "replace%"},
    {"right", "right%"},
    {"round", "round%"},
    {"rtrim", "rtrim%"},
    {"second", "second%"},
    {"sign", "sign%"},
    {"sin", "sin%"},
    {"space", "repeat(' ', %)"},
    {"sqrt", "sqrt%"},
    {"substring", "substr%"},
    {"tan", "tan%"},
    {"ucase", "ucase%"},
    {"user", "user()"},
    {"week", "week%"},
    {"year", "year%"},
    {nullptr, nullptr},
};

constexpr DB_ESCROW db_EscConvertTable[] = {
    {"SQL_BIGINT", nullptr},
    {"SQL_BINARY", "convert(SQL_BINARY, %)"},
    {"SQL_BIT", "convert(SQL_BIT, %)"},
    {"SQL_CHAR", "convert(SQL_CHAR, %)"},
    {"SQL_DATE", "convert(SQL_DATE, %)"},
    {"SQL_DECIMAL", "convert(SQL_DECIMAL, %)"},
    {"SQL_DOUBLE", "convert(SQL_DOUBLE, %)"},
    {"SQL_FLOAT", "convert(SQL_FLOAT, %)"},
    {"SQL_INTEGER", "convert(SQL_INTEGER, %)"},
    {"SQL_LONGVARBINARY", nullptr},
    {"SQL_LONGVARCHAR", nullptr},
    {"SQL_NUMERIC", nullptr},
    {"SQL_REAL", "convert(SQL_REAL, %)"},
    {"SQL_SMALLINT", "convert(SQL_SMALLINT, %)"},
    {"SQL_TIME", "convert(SQL_TIME, %)"},
    {"SQL_TIMESTAMP", "convert(SQL_TIMESTAMP, %)"},
    {"SQL_TINYINT", "convert(SQL_TINYINT, %)"},
    {"SQL_VARBINARY", "convert(SQL_VARBINARY, %)"},
    {"SQL_VARCHAR", "convert(SQL_VARCHAR, %)"},
    {nullptr, nullptr},
};


// The lookup is a binary search, so the tables must stay in case-blind order.
static_assert(sizeof db_EscFnTable / sizeof db_EscFnTable[0] == 59);
static_assert(SortedTable(db_EscFnTable));
static_assert(sizeof db_EscConvertTable / sizeof db_EscConvertTable[0] == 20);
static_assert(SortedTable(db_EscConvertTable));

const char* db_EscLookup(const DB_ESCROW* table, const char* name, size_t nameLen) {
    if (!table || !name)
        return nullptr;
    size_t rows = 0;
    while (table[rows].name)
        ++rows;
    std::string_view key(name, nameLen);
    size_t lo = 0, hi = rows;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        int c = CompareNoCase(key, table[mid].name);
        if (c == 0)
            return table[mid].server;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Text helpers

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsIdent(char c) { return IsAlpha(c) || IsDigit(c) || c == '_' || c == '$' || c == '#'; }

std::string_view TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    size_t n = s.size();
    while (n > 0 && IsSpace(s[n - 1]))
        --n;
    return s.substr(0, n);
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

// The word at s[i], whole and in any case.
bool WordAt(std::string_view s, size_t i, std::string_view word) {
    if (i > s.size() || !StartsNoCase(s.substr(i), word))
        return false;
    if (i > 0 && IsIdent(s[i - 1]))
        return false;
    size_t e = i + word.size();
    return e == s.size() || !IsIdent(s[e]);
}

// End of the quoted run that starts at s[i] (one past its closing quote, or the end
// of s when it is not closed); a doubled quote stays inside the run.
size_t QuotedEnd(std::string_view s, size_t i) {
    char q = s[i];
    size_t j = i + 1;
    while (j < s.size()) {
        if (s[j] == q) {
            if (j + 1 < s.size() && s[j + 1] == q) {
                j += 2;
                continue;
            }
            return j + 1;
        }
        ++j;
    }
    return j;
}

// After a line end at s[i - 1]: the block state for the line that starts at i.
// A line that begins with BEGIN opens a procedure block, one with END closes it.
bool BlockAfterLineEnd(std::string_view s, size_t i, bool block) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    if (WordAt(s, i, "BEGIN"))
        return true;
    if (WordAt(s, i, "END"))
        return false;
    return block;
}

// Parameter markers of a text: every '?' outside quoted runs and, when blocks are
// tracked, outside BEGIN ... END blocks.
uint32_t CountMarkers(std::string_view s, bool trackBlocks) {
    uint32_t n = 0;
    bool block = false;
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (c == '\'' || c == '"') {
            i = QuotedEnd(s, i);
            continue;
        }
        ++i;
        if (c == '?' && !block)
            ++n;
        else if (trackBlocks && (c == '\r' || c == '\n')) {
            if (c == '\r' && i < s.size() && s[i] == '\n')
                ++i;
            block = BlockAfterLineEnd(s, i, block);
        }
    }
    return n;
}

// A NUL-terminated C-heap copy (uh_Malloc), or null when memory runs out.
char* CopyText(std::string_view s) {
    auto* p = static_cast<char*>(uh_Malloc(s.size() + 1));
    if (p == nullptr)
        return nullptr;
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// ---------------------------------------------------------------------------------------
// Literals

// Reads the numbers of a date, time or timestamp literal.
class LiteralReader {
public:
    explicit LiteralReader(std::string_view s) : s_(s) {}

    // Reads the next number into v; false (v = 0) when no digit follows.
    bool Number(unsigned& v) {
        while (i_ < s_.size() && s_[i_] == ' ')
            ++i_;
        v = 0;
        size_t start = i_;
        while (i_ < s_.size() && IsDigit(s_[i_])) {
            if (v < 100000000u)   // more digits than any field holds: stop growing
                v = v * 10 + static_cast<unsigned>(s_[i_] - '0');
            ++i_;
        }
        return i_ > start;
    }
    // Consumes one of the separators; false when none stands next.
    bool Sep(std::string_view seps) {
        if (i_ < s_.size() && seps.find(s_[i_]) != std::string_view::npos) {
            last_ = s_[i_++];
            return true;
        }
        return false;
    }
    char LastSep() const { return last_; }
    // The digits of a fraction of a second, scaled to milliseconds: .5 is 500.
    unsigned Millis() {
        unsigned ms = 0, scale = 100;
        while (i_ < s_.size() && IsDigit(s_[i_])) {
            ms += scale * static_cast<unsigned>(s_[i_] - '0');
            scale /= 10;
            ++i_;
        }
        return ms;
    }

private:
    std::string_view s_;
    size_t i_ = 0;
    char last_ = 0;
};

// The value of a literal escape after its keyword: leading blanks and one apostrophe
// dropped.
std::string_view LiteralValue(std::string_view rest) {
    rest = TrimLeft(rest);
    if (!rest.empty() && rest[0] == '\'')
        rest.remove_prefix(1);
    return rest;
}

// Reads numbers separated as seps[k] says, into v[0..n); missing parts stay 0.
// Returns how many numbers were read.
size_t ReadFields(LiteralReader& r, unsigned* v, size_t n, const std::string_view* seps) {
    for (size_t k = 0; k < n; ++k) {
        if (!r.Number(v[k]))
            return k;
        if (k + 1 < n && !r.Sep(seps[k]))
            return k + 1;
    }
    return n;
}

std::string DateLiteral(std::string_view rest) {
    LiteralReader r(LiteralValue(rest));
    unsigned v[3] = {0, 0, 0};
    const std::string_view seps[] = {"-/", "-/"};
    ReadFields(r, v, 3, seps);
    char buf[64];
    std::snprintf(buf, sizeof buf, "'%04u/%02u/%02u'", v[0], v[1], v[2]);
    return buf;
}

std::string TimeLiteral(std::string_view rest) {
    LiteralReader r(LiteralValue(rest));
    unsigned v[3] = {0, 0, 0};
    const std::string_view seps[] = {":", ":"};
    ReadFields(r, v, 3, seps);
    char buf[64];
    std::snprintf(buf, sizeof buf, "'%02u:%02u:%02u'", v[0], v[1], v[2]);
    return buf;
}

std::string TimestampLiteral(std::string_view rest) {
    LiteralReader r(LiteralValue(rest));
    unsigned v[6] = {0, 0, 0, 0, 0, 0};
    const std::string_view seps[] = {"-/", "-/", "-/ ", ":", ":"};
    unsigned ms = 0;
    if (ReadFields(r, v, 6, seps) == 6 && r.Sep(":.")) {
        // ".5" is half a second; the server's own ":mmm" form counts milliseconds.
        if (r.LastSep() == '.')
            ms = r.Millis();
        else
            r.Number(ms);
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "'%04u/%02u/%02u %02u:%02u:%02u:%03u'", v[0], v[1], v[2], v[3],
                  v[4], v[5], ms);
    return buf;
}

// ---------------------------------------------------------------------------------------
// Outer joins

// A token of a join clause: a word (identifier or number), a quoted identifier, a
// string literal, or one other character.
struct Token {
    enum Kind { WORD, QIDENT, STRING, PUNCT } kind;
    size_t pos, len;
    int depth;   // parenthesis depth before the token
};

std::vector<Token> Tokenize(std::string_view s) {
    std::vector<Token> out;
    int depth = 0;
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (IsSpace(c)) {
            ++i;
            continue;
        }
        if (c == '\'' || c == '"') {
            size_t e = QuotedEnd(s, i);
            out.push_back({c == '"' ? Token::QIDENT : Token::STRING, i, e - i, depth});
            i = e;
            continue;
        }
        if (IsIdent(c)) {
            size_t e = i;
            while (e < s.size() && IsIdent(s[e]))
                ++e;
            out.push_back({Token::WORD, i, e - i, depth});
            i = e;
            continue;
        }
        out.push_back({Token::PUNCT, i, 1, depth});
        if (c == '(')
            ++depth;
        else if (c == ')')
            --depth;
        ++i;
    }
    return out;
}

bool IsWord(std::string_view s, const Token& t, std::string_view w) {
    return t.kind == Token::WORD && CompareNoCase(s.substr(t.pos, t.len), w) == 0;
}

bool IsName(const Token& t) { return t.kind == Token::WORD || t.kind == Token::QIDENT; }

// A name without its double quotes.
std::string NameText(std::string_view s, const Token& t) {
    std::string_view v = s.substr(t.pos, t.len);
    if (t.kind == Token::QIDENT && v.size() >= 2)
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// A dotted name (a.b.c) starting at token k: the index after it, and its parts.
size_t ReadChain(std::string_view s, const std::vector<Token>& t, size_t k,
                 std::vector<std::string>& parts) {
    parts.clear();
    if (k >= t.size() || !IsName(t[k]))
        return k;
    parts.push_back(NameText(s, t[k]));
    ++k;
    while (k + 1 < t.size() && t[k].kind == Token::PUNCT && s[t[k].pos] == '.' && IsName(t[k + 1])) {
        parts.push_back(NameText(s, t[k + 1]));
        k += 2;
    }
    return k;
}

// The names under which a table reference's columns may be qualified: its correlation
// name, and its table name with and without the schema.
std::vector<std::string> TableNames(std::string_view ref) {
    std::vector<std::string> names;
    std::vector<Token> t = Tokenize(ref);
    std::vector<std::string> chain;
    size_t k = ReadChain(ref, t, 0, chain);
    if (!chain.empty()) {
        std::string full;
        for (size_t i = 0; i < chain.size(); ++i)
            full += (i ? "." : "") + chain[i];
        names.push_back(full);
        names.push_back(chain.back());
    }
    // A correlation name is the last name, with or without AS, after the table or
    // after a parenthesised derived table.
    if (!t.empty() && t.size() > k && IsName(t.back()) && !IsWord(ref, t.back(), "AS"))
        names.push_back(NameText(ref, t.back()));
    return names;
}

bool NameIn(const std::string& name, const std::vector<std::string>& names) {
    for (const auto& n : names)
        if (CompareNoCase(name, n) == 0)
            return true;
    return false;
}

// Whether a column reference's qualifier names the table.
bool QualifiedBy(const std::vector<std::string>& parts, const std::vector<std::string>& names) {
    if (parts.size() < 2)
        return false;
    std::string qual;
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        qual += (i ? "." : "") + parts[i];
    return NameIn(qual, names) || NameIn(parts[parts.size() - 2], names);
}

bool IsConditionKeyword(std::string_view s, const Token& t) {
    static constexpr std::string_view kWords[] = {
        "AND", "OR", "NOT", "IS", "NULL", "LIKE", "BETWEEN", "IN", "EXISTS", "ESCAPE",
        "CASE", "WHEN", "THEN", "ELSE", "END", "TRUE", "FALSE"};
    for (auto w : kWords)
        if (IsWord(s, t, w))
            return true;
    return false;
}

struct ColumnRef {
    size_t tokenBegin, tokenEnd;   // [begin, end) tokens
    size_t textEnd;                // one past its last character
    std::vector<std::string> parts;
};

// The column references of a condition: dotted names that are not function calls,
// keywords or numbers.
std::vector<ColumnRef> ColumnRefs(std::string_view s, const std::vector<Token>& t) {
    std::vector<ColumnRef> refs;
    for (size_t k = 0; k < t.size();) {
        if (!IsName(t[k]) || IsDigit(s[t[k].pos])) {
            ++k;
            continue;
        }
        ColumnRef r;
        size_t e = ReadChain(s, t, k, r.parts);
        bool call = e < t.size() && t[e].kind == Token::PUNCT && s[t[e].pos] == '(';
        if (!call && !(r.parts.size() == 1 && IsConditionKeyword(s, t[k]))) {
            r.tokenBegin = k;
            r.tokenEnd = e;
            r.textEnd = t[e - 1].pos + t[e - 1].len;
            refs.push_back(std::move(r));
        }
        k = e;
    }
    return refs;
}

// The ON condition of A RIGHT OUTER JOIN B with the outer-join marker " (+)" after each
// column of A, the table whose rows may be missing. When no column is qualified by A,
// each comparison marks the operand written first among those not qualified by B.
std::string MarkLeftColumns(std::string_view cond, const std::vector<std::string>& left,
                            const std::vector<std::string>& right) {
    std::vector<Token> t = Tokenize(cond);
    std::vector<ColumnRef> refs = ColumnRefs(cond, t);
    std::vector<size_t> marks;   // text positions after which " (+)" goes
    for (const auto& r : refs)
        if (QualifiedBy(r.parts, left))
            marks.push_back(r.textEnd);

    if (marks.empty()) {
        // Split at AND / OR of the top level; in each comparison take the candidates
        // before the operator, else those after it.
        size_t segBegin = 0;
        for (size_t k = 0; k <= t.size(); ++k) {
            bool cut = k == t.size() ||
                       (t[k].depth == 0 && (IsWord(cond, t[k], "AND") || IsWord(cond, t[k], "OR")));
            if (!cut)
                continue;
            size_t op = k;
            for (size_t j = segBegin; j < k; ++j) {
                char c = cond[t[j].pos];
                if (t[j].kind == Token::PUNCT && (c == '=' || c == '<' || c == '>' || c == '!')) {
                    op = j;
                    break;
                }
            }
            std::vector<size_t> before, after;
            for (const auto& r : refs) {
                if (r.tokenBegin < segBegin || r.tokenBegin >= k || QualifiedBy(r.parts, right))
                    continue;
                (r.tokenBegin < op ? before : after).push_back(r.textEnd);
            }
            const auto& pick = before.empty() ? after : before;
            marks.insert(marks.end(), pick.begin(), pick.end());
            segBegin = k + 1;
        }
    }

    std::string out;
    size_t from = 0;
    std::sort(marks.begin(), marks.end());
    for (size_t m : marks) {
        out.append(cond.substr(from, m - from));
        out.append(" (+)");
        from = m;
    }
    out.append(cond.substr(from));
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Scanner

namespace {

enum EscKind { ESC_BRACE = 1, ESC_LONG = 2 };   // { ... } and --(* ... *)--

class EscScanner {
public:
    explicit EscScanner(std::string_view in) : in_(in) {}

    void Run();
    const std::string& Out() const { return out_; }
    uint16_t Flags() const { return static_cast<uint16_t>(flags_ | (params_ ? SQLT_HAS_PARAMS : 0)); }
    uint32_t Params() const { return params_; }

private:
    // An open escape. Its body is the tail of out_ from bodyStart, nested escapes in it
    // already translated: a close rewrites only that tail, and an escape whose head was
    // translated before its first nested escape opened (committed) leaves it as it is, so
    // that deep nesting costs no copy of the inner text at every level.
    struct Frame {
        EscKind kind;
        size_t start;       // position of the opener in the input
        uint16_t flagsBefore;
        size_t bodyStart;   // where its body begins in out_
        bool committed = false;  // its head is translated in place; the rest stays
        bool tried = false;      // the head was looked at when the first nested escape opened
    };

    std::string& Sink() { return out_; }
    void Open(EscKind kind, size_t i);
    void CommitHead(Frame& f);
    void OutsideChar(size_t& i);
    void Close(size_t& i, size_t closerLen);
    void AfterOuterJoin(size_t& i);
    void CloseWhereGroups(int atDepth);

    std::string Translate(const Frame& f, std::string_view body);
    std::string Function(std::string_view b);
    std::string OuterJoin(std::string_view body);
    std::string Unknown(const Frame& f, std::string_view body);

    std::string_view in_;
    std::string out_;
    std::vector<Frame> frames_;
    bool block_ = false;
    uint16_t flags_ = 0;
    uint32_t params_ = 0;
    // A RIGHT OUTER JOIN rewrite put a WHERE into the text; a WHERE right after the
    // escape then continues it as AND ( ... ), closed where that WHERE clause ends.
    bool ojOpen_ = false;
    bool ojMetWhere_ = false;
    int depth_ = 0;                  // parentheses outside quotes and escapes
    std::vector<int> whereGroups_;   // depth at which each open AND ( ... ) closes
};

void EscScanner::Run() {
    size_t i = 0;
    while (i < in_.size()) {
        char c = in_[i];
        if (c == '\'' || c == '"') {
            // Quotes are tracked inside escapes too: a brace in a literal is text.
            size_t e = QuotedEnd(in_, i);
            Sink().append(in_.substr(i, e - i));
            i = e;
            continue;
        }
        if (in_.compare(i, 4, "--(*") == 0) {
            Open(ESC_LONG, i);
            i += 4;
            continue;
        }
        if (!frames_.empty() && frames_.back().kind == ESC_LONG && in_.compare(i, 4, "*)--") == 0) {
            Close(i, 4);
            continue;
        }
        if (c == '{' && !block_) {
            Open(ESC_BRACE, i);
            ++i;
            continue;
        }
        if (c == '}' && !block_ && !frames_.empty() && frames_.back().kind == ESC_BRACE) {
            Close(i, 1);
            continue;
        }
        if (!frames_.empty()) {
            out_.push_back(c);
            ++i;
            continue;
        }
        OutsideChar(i);
    }

    if (!frames_.empty()) {
        // An escape without its end: the text from its opener goes on as written.
        size_t start = frames_.front().start;
        flags_ = frames_.front().flagsBefore;
        out_.resize(frames_.front().bodyStart);
        frames_.clear();
        std::string_view tail = in_.substr(start);
        out_.append(tail);
        if (!block_)
            params_ += CountMarkers(tail, false);
    }
    CloseWhereGroups(-1);
}

// One character outside every escape and quote.
void EscScanner::OutsideChar(size_t& i) {
    char c = in_[i];
    if (!whereGroups_.empty()) {
        if (c == ')' && depth_ == whereGroups_.back())
            CloseWhereGroups(depth_);
        else if (c == ';')
            CloseWhereGroups(-1);
        else if (IsAlpha(c) && depth_ == whereGroups_.back() && (i == 0 || !IsIdent(in_[i - 1]))) {
            static constexpr std::string_view kClauseEnds[] = {
                "GROUP", "ORDER", "HAVING", "UNION", "INTERSECT", "EXCEPT", "FOR", "WITH"};
            for (auto w : kClauseEnds) {
                if (WordAt(in_, i, w)) {
                    CloseWhereGroups(depth_);
                    out_.push_back(' ');
                    break;
                }
            }
        }
    }
    ++i;
    if (c == '(') {
        ++depth_;
        out_.push_back(c);
    } else if (c == ')') {
        --depth_;
        out_.push_back(c);
    } else if (c == '?') {
        out_.push_back(c);
        if (!block_)
            ++params_;
    } else if (c == '@' && i < in_.size() && IsDigit(in_[i])) {
        out_.push_back('[');
        while (i < in_.size() && IsDigit(in_[i]))
            out_.push_back(in_[i++]);
        out_.push_back(']');
    } else if (c == '\r' || c == '\n') {
        if (c == '\r' && i < in_.size() && in_[i] == '\n')
            ++i;
        out_.push_back('\n');
        block_ = BlockAfterLineEnd(in_, i, block_);
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        out_.push_back(' ');
    } else {
        out_.push_back(c);
    }
}

// Opens an escape at in_[i]. The escape it is nested in gets its head translated first,
// where that head alone decides its translation.
void EscScanner::Open(EscKind kind, size_t i) {
    if (!frames_.empty() && !frames_.back().tried)
        CommitHead(frames_.back());
    frames_.push_back({kind, i, flags_, out_.size()});
}

// A function escape whose server form is a name before its arguments, as most are
// (fn ucase(...) -> ucase(...)): what follows the name goes on unchanged, so the head is
// rewritten now, while the body is still short, and the close has nothing left to do.
void EscScanner::CommitHead(Frame& f) {
    f.tried = true;
    std::string_view body(out_.data() + f.bodyStart, out_.size() - f.bodyStart);
    std::string_view b = TrimLeft(body);
    if (b.size() < 3 || Lower(b[0]) != 'f' || Lower(b[1]) != 'n' || !IsSpace(b[2]))
        return;
    b = TrimLeft(b.substr(3));
    size_t n = 0;
    while (n < b.size() && IsIdent(b[n]))
        ++n;
    std::string_view name = b.substr(0, n);
    if (n == 0 || CompareNoCase(name, "convert") == 0)
        return;
    const char* server = db_EscLookup(db_EscFnTable, name.data(), name.size());
    if (server == nullptr)
        return;
    std::string_view form(server);
    if (form.empty() || form.back() != '%' || form.find('%') != form.size() - 1)
        return;
    const size_t headEnd = static_cast<size_t>(name.data() + n - out_.data());
    std::string head(" ");
    head.append(form.substr(0, form.size() - 1));
    out_.replace(f.bodyStart, headEnd - f.bodyStart, head);
    f.committed = true;
}

// Closes the innermost escape at in_[i]: its translation replaces its body in out_.
void EscScanner::Close(size_t& i, size_t closerLen) {
    Frame f = frames_.back();
    frames_.pop_back();
    i += closerLen;
    if (!f.committed) {
        std::string text = Translate(f, std::string_view(out_).substr(f.bodyStart));
        out_.resize(f.bodyStart);
        out_.append(text);
    }
    if (!frames_.empty())
        return;
    if (!block_)
        params_ += CountMarkers(std::string_view(out_).substr(f.bodyStart), false);
    if (ojOpen_ && !ojMetWhere_)
        AfterOuterJoin(i);
}

void EscScanner::AfterOuterJoin(size_t& i) {
    size_t j = i;
    while (j < in_.size() && IsSpace(in_[j]))
        ++j;
    if (!WordAt(in_, j, "WHERE"))
        return;
    if (out_.empty() || out_.back() != ' ')
        out_.push_back(' ');
    out_.append("AND (");
    i = j + 5;
    ojMetWhere_ = true;
    whereGroups_.push_back(depth_);
}

// Writes the closing parenthesis of every open AND ( group that closes at atDepth or
// deeper; -1 closes all.
void EscScanner::CloseWhereGroups(int atDepth) {
    while (!whereGroups_.empty() && (atDepth < 0 || whereGroups_.back() >= atDepth)) {
        if (!out_.empty() && out_.back() != ' ')
            out_.push_back(' ');
        out_.push_back(')');
        whereGroups_.pop_back();
    }
}

std::string EscScanner::Unknown(const Frame& f, std::string_view body) {
    LOG_MSG(LOG_WARNING, "unknown escape sequence %.*s", static_cast<int>(body.size()), body.data());
    if (f.kind == ESC_LONG)
        return "--(*" + std::string(body) + "*)--";
    return "{" + std::string(body) + "}";
}

// The long form may name its vendor and product first:
// vendor(Microsoft), product(ODBC) fn ucase(x). Returns the text after that prefix,
// or an empty view when the prefix is malformed.
std::string_view SkipVendorPrefix(std::string_view b) {
    std::vector<Token> t = Tokenize(b);
    size_t k = 0;
    auto group = [&](std::string_view word) {
        if (k >= t.size() || !IsWord(b, t[k], word))
            return false;
        ++k;
        if (k >= t.size() || b[t[k].pos] != '(' || t[k].kind != Token::PUNCT)
            return false;
        int d = t[k].depth;
        for (++k; k < t.size(); ++k)
            if (t[k].kind == Token::PUNCT && b[t[k].pos] == ')' && t[k].depth == d + 1) {
                ++k;
                return true;
            }
        return false;
    };
    if (!group("vendor"))
        return {};
    if (k >= t.size() || t[k].kind != Token::PUNCT || b[t[k].pos] != ',')
        return {};
    ++k;
    if (!group("product"))
        return {};
    size_t after = k < t.size() ? t[k].pos : b.size();
    return TrimLeft(b.substr(after));
}

std::string EscScanner::Translate(const Frame& f, std::string_view body) {
    std::string_view b = TrimLeft(body);
    if (f.kind == ESC_LONG && StartsNoCase(b, "vendor")) {
        b = SkipVendorPrefix(b);
        if (b.empty())
            return Unknown(f, body);
    }
    auto at = [&](size_t k) { return k < b.size() ? Lower(b[k]) : '\0'; };
    auto sepAt = [&](size_t k) { return IsSpace(at(k)) || at(k) == '\''; };

    switch (at(0)) {
    case '?': {
        // {? = call p(...)}: the return value's marker goes; the call remains.
        size_t eq = b.find('=');
        if (eq == std::string_view::npos || !Trim(b.substr(1, eq - 1)).empty())
            break;
        std::string_view rest = TrimLeft(b.substr(eq + 1));
        if (!WordAt(rest, 0, "call"))
            break;
        flags_ |= SQLT_RETURN_VALUE | SQLT_PROC_CALL;
        return "CALL " + std::string(TrimLeft(rest.substr(4)));
    }
    case 'c':
        if (WordAt(b, 0, "call")) {
            flags_ |= SQLT_PROC_CALL;
            return "CALL " + std::string(TrimLeft(b.substr(4)));
        }
        break;
    case 'd':
        if (sepAt(1))
            return DateLiteral(b.substr(1));
        if (at(1) == 't' && sepAt(2))
            return TimestampLiteral(b.substr(2));
        break;
    case 't':
        if (sepAt(1))
            return TimeLiteral(b.substr(1));
        if (at(1) == 's' && sepAt(2))
            return TimestampLiteral(b.substr(2));
        break;
    case 'f':
        if (at(1) == 'n' && IsSpace(at(2)))
            return Function(TrimLeft(b.substr(3)));
        break;
    case 'o':
        if (at(1) == 'j' && IsSpace(at(2)))
            return OuterJoin(TrimLeft(b.substr(3)));
        break;
    case 'e':
        // {escape 'c'}: the escape character of the LIKE before it.
        if (WordAt(b, 0, "escape"))
            return "ESCAPE " + std::string(Trim(b.substr(6)));
        break;
    default:
        break;
    }
    return Unknown(f, body);
}

// fn name(arguments): b starts at the name.
std::string EscScanner::Function(std::string_view b) {
    size_t n = 0;
    while (n < b.size() && IsIdent(b[n]))
        ++n;
    std::string_view name = b.substr(0, n);
    std::string_view rest = b.substr(n);

    if (CompareNoCase(name, "convert") == 0) {
        // convert(value, SQL_type): the value is everything before the last comma of
        // the argument list.
        std::string_view args = Trim(rest);
        if (args.size() >= 2 && args.front() == '(' && args.back() == ')') {
            std::string_view inner = args.substr(1, args.size() - 2);
            size_t comma = std::string_view::npos;
            for (const Token& t : Tokenize(inner))
                if (t.kind == Token::PUNCT && t.depth == 0 && inner[t.pos] == ',')
                    comma = t.pos;
            if (comma != std::string_view::npos) {
                std::string_view value = Trim(inner.substr(0, comma));
                std::string_view type = Trim(inner.substr(comma + 1));
                const char* server = db_EscLookup(db_EscConvertTable, type.data(), type.size());
                if (!server)
                    return std::string(value);
                std::string out(server);
                size_t pct = out.find('%');
                out.replace(pct, 1, value);
                return out;
            }
        }
    } else if (const char* server = db_EscLookup(db_EscFnTable, name.data(), name.size())) {
        std::string out(" ");
        for (const char* p = server; *p; ++p) {
            if (*p == '%')
                out.append(rest);
            else
                out.push_back(*p);
        }
        return out;
    }
    LOG_MSG(LOG_WARNING, "unknown escape function %s called", std::string(name).c_str());
    return " " + std::string(b);
}

// oj table-reference ... JOIN ...: b starts after "oj ".
std::string EscScanner::OuterJoin(std::string_view b) {
    std::vector<Token> t = Tokenize(b);
    size_t join = t.size();
    for (size_t k = 0; k < t.size(); ++k)
        if (t[k].depth == 0 && IsWord(b, t[k], "JOIN")) {
            join = k;
            break;
        }
    bool right = join >= 2 && join < t.size() && IsWord(b, t[join - 1], "OUTER") &&
                 IsWord(b, t[join - 2], "RIGHT");
    size_t on = t.size();
    if (right) {
        for (size_t k = join + 1; k < t.size(); ++k) {
            if (t[k].depth != 0)
                continue;
            if (IsWord(b, t[k], "JOIN")) {   // a chain of joins: not rewritten
                right = false;
                break;
            }
            if (on == t.size() && IsWord(b, t[k], "ON"))
                on = k;
        }
    }
    if (!right || join < 3 || on == t.size() || on == join + 1 || on + 1 == t.size()) {
        // LEFT OUTER and INNER joins are the server's own syntax; anything else is
        // handed on for the server to judge.
        if (!(join >= 2 && join < t.size() &&
              ((IsWord(b, t[join - 1], "OUTER") && IsWord(b, t[join - 2], "LEFT")) ||
               IsWord(b, t[join - 1], "INNER"))))
            LOG_MSG(LOG_WARNING, "unknown escape sequence %s", ("oj " + std::string(b)).c_str());
        return std::string(b);
    }

    std::string_view leftRef = Trim(b.substr(0, t[join - 2].pos));
    size_t bBegin = t[join].pos + t[join].len;
    std::string_view rightRef = Trim(b.substr(bBegin, t[on].pos - bBegin));
    std::string_view cond = Trim(b.substr(t[on].pos + t[on].len));

    std::string out(leftRef);
    out.append(", ");
    out.append(rightRef);
    out.append(ojOpen_ ? " AND ( " : " WHERE ( ");
    out.append(MarkLeftColumns(cond, TableNames(leftRef), TableNames(rightRef)));
    out.append(" ) ");
    ojOpen_ = true;
    ojMetWhere_ = false;
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The record

OA_SQLTEXT::~OA_SQLTEXT() { ut_SqlTextFree(this); }

void ut_SqlTextFree(OA_SQLTEXT* rec) {
    if (!rec)
        return;
    uh_Free(rec->text);
    uh_Free(rec->translated);
    rec->text = nullptr;
    rec->translated = nullptr;
}

namespace {

// Empties rec and stores the input without its leading white space. False when memory
// runs out, with rec left empty.
bool Begin(OA_SQLTEXT* rec, std::string_view in) {
    ut_SqlTextFree(rec);
    rec->flags = 0;
    rec->paramCount = 0;
    rec->reserved = 0;
    rec->kind = 0;
    rec->text = CopyText(in);
    return rec->text != nullptr;
}

// Stores the text that goes to the server. False when memory runs out, with rec left empty.
bool Finish(OA_SQLTEXT* rec, std::string_view translated) {
    rec->translated = CopyText(translated);
    if (rec->translated != nullptr)
        return true;
    ut_SqlTextFree(rec);
    return false;
}

}  // namespace

int ut_SqlTextTranslate(db_EscContext* ctx, OA_SQLTEXT* rec, const char* text) {
    (void)ctx;
    if (!rec || !text)
        return ERR_GENERAL_ERROR;
    std::string_view in = TrimLeft(text);
    if (!Begin(rec, in))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    EscScanner scan(in);
    scan.Run();
    if (!Finish(rec, scan.Out()))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    rec->flags = scan.Flags();
    rec->paramCount = scan.Params();
    return ut_SqlTextClassify(rec);
}

int ut_SqlTextCopy(OA_SQLTEXT* rec, const char* text) {
    if (!rec || !text)
        return ERR_GENERAL_ERROR;
    std::string_view in = TrimLeft(text);
    if (!Begin(rec, in) || !Finish(rec, in))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    rec->paramCount = CountMarkers(in, true);
    if (rec->paramCount)
        rec->flags |= SQLT_HAS_PARAMS;
    return ut_SqlTextClassify(rec);
}

int ut_SqlTextClassify(OA_SQLTEXT* rec) {
    if (!rec || !rec->translated)
        return ERR_GENERAL_ERROR;
    std::string_view s = rec->translated;
    std::string_view sel = s;
    while (!sel.empty() && (sel[0] == '(' || IsSpace(sel[0])))
        sel.remove_prefix(1);
    if (StartsNoCase(sel, "SELECT"))
        rec->kind = SQLT_KIND_SELECT;
    else if (StartsNoCase(s, "INSERT") || StartsNoCase(s, "DELETE") || StartsNoCase(s, "UPDATE"))
        rec->kind = SQLT_KIND_DML;
    else
        rec->kind = SQLT_KIND_OTHER;
    return 0;
}
