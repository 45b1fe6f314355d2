// The SQL text layer of the SQLite back-end: tokens, the translation of the server's dialect
// into SQLite's, the description of result columns (declared types where SQLite knows them, a
// small type inference over the select list where it does not), and the mapping of SQLite's
// failures to native codes and SQLSTATEs.
#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "platform/esql92/sqlite_internal.h"

namespace esql::lite {

namespace {

constexpr uint32_t kUnknownTextLength = 2000;

bool identStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool identPart(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// Names of the catalog views: the SYSPROGRESS tables and the PUB meta tables.
const char* const kSysprogressTables[] = {
    "SYSTABLES", "SYSCOLUMNS", "SYSINDEXES", "SYSTABAUTH", "SYSCOLAUTH", "SYSPROCEDURES",
    "SYSPROCCOLUMNS", "SYS_TBL_CONSTRS", "SYS_REF_CONSTRS", "SYS_KEYCOL_USAGE",
};
const char* const kPubMetaTables[] = {"_File", "_Field", "_Index", "_Index-Field"};

bool isSysprogressTable(std::string_view name) {
    for (const char* t : kSysprogressTables)
        if (equalsNoCase(name, t))
            return true;
    return false;
}

bool isPubMetaTable(std::string_view name) {
    for (const char* t : kPubMetaTables)
        if (equalsNoCase(name, t))
            return true;
    return false;
}

struct Edit {
    size_t pos;
    size_t len;
    std::string text;
};

std::string applyEdits(std::string_view text, std::vector<Edit>& edits) {
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.pos < b.pos; });
    std::string out;
    out.reserve(text.size() + 64);
    size_t at = 0;
    for (const Edit& e : edits) {
        if (e.pos < at)
            continue;   // overlapping edits cannot happen; keep the first
        out.append(text.substr(at, e.pos - at));
        out += e.text;
        at = e.pos + e.len;
    }
    out.append(text.substr(at));
    return out;
}

// Matching parenthesis of every '(' and ')' token; -1 when unbalanced.
std::vector<int> matchParens(std::string_view sql, const std::vector<Token>& t) {
    std::vector<int> match(t.size(), -1);
    std::vector<int> stack;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind != Token::Punct || t[i].len != 1)
            continue;
        char c = sql[t[i].pos];
        if (c == '(') {
            stack.push_back(static_cast<int>(i));
        } else if (c == ')' && !stack.empty()) {
            match[i] = stack.back();
            match[static_cast<size_t>(stack.back())] = static_cast<int>(i);
            stack.pop_back();
        }
    }
    return match;
}

bool isPunct(std::string_view sql, const Token& t, char c) {
    return t.kind == Token::Punct && t.len == 1 && sql[t.pos] == c;
}

// Type names of convert(SQL_xxx, v).
const char* convertTarget(std::string_view odbcType) {
    static const std::pair<const char*, const char*> table[] = {
        {"SQL_BINARY", "BINARY BLOB"}, {"SQL_VARBINARY", "VARBINARY BLOB"},
        {"SQL_LONGVARBINARY", "VARBINARY BLOB"}, {"SQL_BIT", "BIT"}, {"SQL_TINYINT", "TINYINT"},
        {"SQL_SMALLINT", "SMALLINT"}, {"SQL_INTEGER", "INTEGER"}, {"SQL_BIGINT", "BIGINT"},
        {"SQL_REAL", "REAL"}, {"SQL_FLOAT", "FLOAT"}, {"SQL_DOUBLE", "FLOAT"},
        {"SQL_DECIMAL", "NUMERIC"}, {"SQL_NUMERIC", "NUMERIC"}, {"SQL_CHAR", "VARCHAR"},
        {"SQL_VARCHAR", "VARCHAR"}, {"SQL_LONGVARCHAR", "VARCHAR"}, {"SQL_WCHAR", "VARCHAR"},
        {"SQL_WVARCHAR", "VARCHAR"}, {"SQL_WLONGVARCHAR", "VARCHAR"}, {"SQL_DATE", "DATE TEXT"},
        {"SQL_TYPE_DATE", "DATE TEXT"}, {"SQL_TIME", "TIME TEXT"}, {"SQL_TYPE_TIME", "TIME TEXT"},
        {"SQL_TIMESTAMP", "TIMESTAMP TEXT"}, {"SQL_TYPE_TIMESTAMP", "TIMESTAMP TEXT"},
    };
    for (const auto& [name, target] : table)
        if (equalsNoCase(odbcType, name))
            return target;
    return nullptr;
}

StatementKind classify(std::string_view sql, const std::vector<Token>& t) {
    size_t i = 0;
    while (i < t.size() && isPunct(sql, t[i], '('))
        ++i;
    if (i >= t.size() || t[i].kind != Token::Ident)
        return StatementKind::Other;
    auto verb = [&](const Token& x) {
        if (isWord(sql, x, "SELECT") || isWord(sql, x, "VALUES"))
            return StatementKind::Query;
        if (isWord(sql, x, "INSERT") || isWord(sql, x, "UPDATE") || isWord(sql, x, "DELETE") ||
            isWord(sql, x, "REPLACE"))
            return StatementKind::Dml;
        return StatementKind::Other;
    };
    if (!isWord(sql, t[i], "WITH"))
        return verb(t[i]);
    // WITH ...: the verb is the first one at depth 0 after the common table expressions.
    int depth = 0;
    for (size_t k = i + 1; k < t.size(); ++k) {
        if (isPunct(sql, t[k], '('))
            ++depth;
        else if (isPunct(sql, t[k], ')'))
            --depth;
        else if (depth == 0 && t[k].kind == Token::Ident) {
            StatementKind v = verb(t[k]);
            if (v != StatementKind::Other)
                return v;
        }
    }
    return StatementKind::Other;
}

// ---------------------------------------------------------------------------------------
// CREATE TABLE and ALTER TABLE ADD: the server's column types.

bool isColumnConstraintWord(std::string_view sql, const Token& t) {
    static const char* words[] = {"CONSTRAINT", "PRIMARY", "NOT",   "NULL",      "UNIQUE", "CHECK",
                                  "DEFAULT",    "COLLATE", "REFERENCES", "GENERATED", "AS", "ON"};
    for (const char* w : words)
        if (isWord(sql, t, w))
            return true;
    return false;
}

// text between two marks, each mark in it doubled.
std::string quoted(const std::string& text, char mark) {
    std::string q(1, mark);
    for (char c : text) {
        q += c;
        if (c == mark)
            q += mark;
    }
    return q + mark;
}

std::string quoteName(const std::string& name) { return quoted(name, '"'); }

// The condition that the text value of expr holds at most n characters. The byte count
// answers nearly every value without reading it (n bytes are never more than n
// characters); only a longer value has its characters counted. length() of text stops at
// a NUL, so a longer value with a NUL in it is refused rather than counted short.
std::string charLengthAtMost(const std::string& expr, long n) {
    std::string limit = std::to_string(n);
    return "length(CAST(" + expr + " AS BLOB)) <= " + limit + " OR (length(" + expr + ") <= " + limit +
           " AND instr(" + expr + ", char(0)) = 0)";
}

// A string literal of text.
std::string quoteText(const std::string& text) { return quoted(text, '\''); }

// The precision and scale a NUMERIC column of declared (a, s) keeps, -1 for each not
// given: NUMERIC alone is NUMERIC(32, 10), NUMERIC(p) has no decimals.
void numericShape(long a, long s, long& p, long& sc) {
    p = a > 0 ? std::min<long>(a, ESQL_NUMERIC_DIGITS) : 32;
    sc = s >= 0 ? std::min(s, p) : (a > 0 ? 0 : 10);
}

// The function that gives a value of the type its stored form; null for other types.
const char* canonFunction(std::string_view sql, const Token& type) {
    if (isWord(sql, type, "DATE")) return "esql_date";
    if (isWord(sql, type, "TIME")) return "esql_time";
    if (isWord(sql, type, "TIMESTAMP")) return "esql_timestamp";
    return nullptr;
}

// One column definition in tokens [b, e): its type's affinity, collation and checks.
void rewriteColumnDef(std::string_view sql, const std::vector<Token>& t, const std::vector<int>& match,
                      size_t b, size_t e, std::vector<Edit>& edits) {
    if (e <= b + 1 || (t[b].kind != Token::Ident && t[b].kind != Token::Quoted))
        return;
    static const char* tableConstraints[] = {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"};
    for (const char* w : tableConstraints)
        if (isWord(sql, t[b], w))
            return;
    std::string colName = tokenName(sql, t[b]);
    std::string colRef(sql.substr(t[b].pos, t[b].len));
    size_t k = b + 1;
    std::vector<std::string> words;
    while (k < e && t[k].kind == Token::Ident && !isColumnConstraintWord(sql, t[k])) {
        words.push_back(upper(sql.substr(t[k].pos, t[k].len)));
        ++k;
    }
    if (words.empty())
        return;
    size_t lastWord = k - 1;
    long a = -1, s = -1;
    if (k < e && isPunct(sql, t[k], '(') && match[k] > 0) {
        size_t q = static_cast<size_t>(match[k]);
        if (k + 1 < q && t[k + 1].kind == Token::Number)
            a = std::strtol(std::string(sql.substr(t[k + 1].pos, t[k + 1].len)).c_str(), nullptr, 10);
        if (k + 3 < q && isPunct(sql, t[k + 2], ',') && t[k + 3].kind == Token::Number)
            s = std::strtol(std::string(sql.substr(t[k + 3].pos, t[k + 3].len)).c_str(), nullptr, 10);
    }
    bool hasCollate = false;
    for (size_t x = k; x < e; ++x)
        if (isWord(sql, t[x], "COLLATE"))
            hasCollate = true;
    const std::string& w = words[0];
    bool varying = words.size() > 1 && words[1] == "VARYING";
    std::string suffix;
    auto check = [&](const char* prefix, const std::string& cond) {
        suffix += " CONSTRAINT " + quoteName(prefix + colName) + " CHECK (" + cond + ")";
    };
    auto number = [&](const char* lo, const char* hi) {
        // The affinity has made a number of every text that reads as one; a value outside
        // the range is refused by the check (22003), or by esql_number when it is no number
        // at all (22018), which only such a value reaches.
        check(kRangeCheck, colRef + " BETWEEN " + lo + " AND " + hi + " OR esql_number(" + colRef + ")");
    };
    auto storedForm = [&](const char* collation, const char* formed) {
        if (!hasCollate)
            suffix += std::string(" COLLATE ") + collation;
        // Refuses what is no value of the type and marks a value written in another form.
        check(kStoredFormCheck, std::string(formed) + "(" + colRef + ")");
    };
    if (w == "NUMERIC" || w == "DECIMAL" || w == "DEC") {
        // Exact decimal text: TEXT affinity keeps the digits, the collation compares by value.
        edits.push_back({t[lastWord].pos + t[lastWord].len, 0, " TEXT"});
        if (!hasCollate)
            suffix += std::string(" COLLATE ") + kDecimalCollation;
        long p, sc;
        numericShape(a, s, p, sc);
        // Digits are counted exactly, not through a double, and text that is no number
        // fails at once.
        const std::string shape = ", " + std::to_string(p) + ", " + std::to_string(sc);
        check(kRangeCheck, "esql_numeric_check(" + colRef + shape + ", " + quoteText(colName) + ")");
        // Stored rounded to the scale, with all its digits after the point: equal values
        // are equal texts, and what is fetched is what a comparison finds.
        size_t typeEnd = k < e && isPunct(sql, t[k], '(') && match[k] > 0 ? static_cast<size_t>(match[k]) : lastWord;
        std::string typeText(sql.substr(t[b + 1].pos, t[typeEnd].pos + t[typeEnd].len - t[b + 1].pos));
        check(kStoredFormCheck, "esql_mark(" + storedFormExpr(typeText, colRef) + " COLLATE BINARY IS NOT " +
                                    colRef + ")");
    } else if ((w == "CHARACTER" || w == "CHAR") && !varying) {
        if (!hasCollate)
            suffix += " COLLATE RTRIM";
        check(kLengthCheck, charLengthAtMost("rtrim(" + colRef + ", ' ')", a > 0 ? a : 1));
    } else if (w == "VARCHAR" || ((w == "CHARACTER" || w == "CHAR") && varying)) {
        if (a > 0)
            check(kLengthCheck, charLengthAtMost(colRef, a));
    } else if (w == "BINARY" || w == "VARBINARY") {
        long n = a > 0 ? a : (w == "BINARY" ? 1 : -1);
        if (n > 0)
            check(kLengthCheck, "length(CAST(" + colRef + " AS BLOB)) <= " + std::to_string(n));
    } else if (w == "INTEGER" || w == "INT") {
        number("-2147483648", "2147483647");
    } else if (w == "SMALLINT") {
        number("-32768", "32767");
    } else if (w == "TINYINT") {
        number("-128", "127");
    } else if (w == "BIT") {
        number("0", "1");
    } else if (w == "BIGINT") {
        // 2^63 and beyond arrive as REAL: compared exactly with the integer bounds.
        number("-9223372036854775808", "9223372036854775807");
    } else if (w == "REAL") {
        number("-3.4028234663852886e38", "3.4028234663852886e38");
    } else if (w == "FLOAT" || w == "DOUBLE") {
        number("-1.7976931348623157e308", "1.7976931348623157e308");   // refuses infinities
    } else if (w == "DATE") {
        storedForm(kDateCollation, kDateFormed);
    } else if (w == "TIME") {
        storedForm(kTimeCollation, kTimeFormed);
    } else if (w == "TIMESTAMP") {
        storedForm(kTimestampCollation, kTimestampFormed);
    }
    if (!suffix.empty())
        edits.push_back({t[e - 1].pos + t[e - 1].len, 0, suffix});
}

void rewriteTableDefinition(std::string_view sql, const std::vector<Token>& t, const std::vector<int>& match,
                            std::vector<Edit>& edits) {
    if (t.size() < 4)
        return;
    size_t i = 0;
    if (isWord(sql, t[0], "CREATE")) {
        i = 1;
        if (isWord(sql, t[i], "TEMP") || isWord(sql, t[i], "TEMPORARY"))
            ++i;
        if (i >= t.size() || !isWord(sql, t[i], "TABLE"))
            return;
        ++i;
        while (i < t.size() && !isPunct(sql, t[i], '(') && !isWord(sql, t[i], "AS"))
            ++i;
        if (i >= t.size() || !isPunct(sql, t[i], '(') || match[i] < 0)
            return;
        size_t close = static_cast<size_t>(match[i]);
        size_t b = i + 1;
        int depth = 0;
        // Only commas at the top level of the list separate definitions.
        for (size_t k = i + 1; k <= close; ++k) {
            if (k < close && isPunct(sql, t[k], '(')) {
                ++depth;
            } else if (k < close && isPunct(sql, t[k], ')')) {
                --depth;
            } else if (k == close || (depth == 0 && isPunct(sql, t[k], ','))) {
                rewriteColumnDef(sql, t, match, b, k, edits);
                b = k + 1;
            }
        }
    } else if (isWord(sql, t[0], "ALTER") && isWord(sql, t[1], "TABLE")) {
        size_t k = 2;
        while (k < t.size() && !isWord(sql, t[k], "ADD"))
            ++k;
        if (k >= t.size())
            return;
        ++k;
        if (k < t.size() && isWord(sql, t[k], "COLUMN"))
            ++k;
        size_t e = t.size();
        while (e > k && isPunct(sql, t[e - 1], ';'))
            --e;
        rewriteColumnDef(sql, t, match, k, e, edits);
    }
}

// Whether a number literal loses digits in SQLite, which reads a literal with a point as a
// double and an integer beyond 64 bits as one too: more than 15 significant digits with a
// point, or an integer that does not fit. Hexadecimal and exponent literals are
// approximate and stay as they are.
bool needsExactLiteral(std::string_view lit) {
    if (lit.size() > 1 && (lit[1] == 'x' || lit[1] == 'X'))
        return false;
    if (lit.find_first_of("eE") != std::string_view::npos)
        return false;
    if (lit.find('.') == std::string_view::npos) {
        size_t lead = lit.find_first_not_of('0');
        std::string_view digits = lead == std::string_view::npos ? std::string_view() : lit.substr(lead);
        return digits.size() > 19 || (digits.size() == 19 && digits > "9223372036854775807");
    }
    int significant = 0;
    for (char c : lit)
        if (c >= '0' && c <= '9' && (significant > 0 || c != '0'))
            ++significant;
    return significant > 15;
}

// Whether a '-' before token i is a sign rather than a subtraction: nothing before it, an
// operator or opening punctuation, or a keyword after which an operand starts.
bool isSignPosition(std::string_view sql, const std::vector<Token>& t, size_t minus) {
    if (minus == 0)
        return true;
    const Token& b = t[minus - 1];
    if (b.kind == Token::Punct)
        return !isPunct(sql, b, ')');
    if (b.kind != Token::Ident)
        return false;
    static const char* const words[] = {"SELECT", "WHERE", "AND", "OR", "NOT", "WHEN", "THEN", "ELSE", "BETWEEN",
                                        "IS", "ON", "HAVING", "CASE", "LIKE", "DEFAULT", "RETURN", "DISTINCT",
                                        "ALL", "LIMIT", "OFFSET", "BY", "IN", "VALUES", "SET"};
    for (const char* w : words)
        if (isWord(sql, b, w))
            return true;
    return false;
}

// Whether token x, at depth 0 of an ORDER BY clause, ends the clause. The window frame words
// end it only after an item has begun: alone they may name a column.
bool endsOrderBy(std::string_view sql, const std::vector<Token>& t, size_t x, size_t itemStart) {
    const Token& k = t[x];
    if (isPunct(sql, k, ';') || isWord(sql, k, "LIMIT") || isWord(sql, k, "OFFSET") || isWord(sql, k, "FOR") ||
        isWord(sql, k, "FETCH"))
        return true;
    return x > itemStart && (isWord(sql, k, "ROWS") || isWord(sql, k, "RANGE") || isWord(sql, k, "GROUPS"));
}

// The server sorts NULLs above every value, and the agent says so (SQL_NULL_COLLATION is
// SQL_NC_HIGH): the scrollable cursors build their seek predicates on it. SQLite sorts them
// first when ascending, so every ORDER BY item, at any depth (subqueries, set operations,
// windows), gets NULLS LAST when ascending and NULLS FIRST when descending, unless it names
// its own. The words go right after the item's last token, so that whatever the translation
// appends to the clause (a LIMIT from TOP) is pushed after them.
void orderNullsHigh(std::string_view sql, const std::vector<Token>& t, std::vector<Edit>& edits) {
    const size_t n = t.size();
    for (size_t i = 0; i + 1 < n; ++i) {
        if (!isWord(sql, t[i], "ORDER") || !isWord(sql, t[i + 1], "BY") || (i > 0 && isPunct(sql, t[i - 1], '.')))
            continue;
        size_t itemStart = i + 2;
        bool ownNulls = false;
        auto endItem = [&](size_t end) {   // the item is tokens [itemStart, end)
            if (end > itemStart && !ownNulls) {
                const Token& last = t[end - 1];
                edits.push_back({last.pos + last.len, 0, isWord(sql, last, "DESC") ? " NULLS FIRST" : " NULLS LAST"});
            }
            itemStart = end + 1;
            ownNulls = false;
        };
        int depth = 0;
        size_t x = i + 2;
        for (; x < n; ++x) {
            const Token& k = t[x];
            if (isPunct(sql, k, '(')) {
                ++depth;
            } else if (isPunct(sql, k, ')')) {
                if (depth == 0)
                    break;   // the end of the parenthesised query or window that holds the clause
                --depth;
            } else if (depth > 0) {
                continue;
            } else if (endsOrderBy(sql, t, x, itemStart)) {
                break;
            } else if (isPunct(sql, k, ',')) {
                endItem(x);
            } else if (isWord(sql, k, "NULLS") && x + 1 < n &&
                       (isWord(sql, t[x + 1], "FIRST") || isWord(sql, t[x + 1], "LAST"))) {
                ownNulls = true;
            }
        }
        endItem(x);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Tokens.

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    size_t n = s.size(), i = 0;
    auto push = [&](Token::Kind k, size_t from, size_t to) {
        out.push_back(Token{k, static_cast<uint32_t>(from), static_cast<uint32_t>(to - from)});
    };
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            size_t end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? n : end + 2;
        } else if (c == '\'' || c == '"' || c == '`') {
            size_t j = i + 1;
            while (j < n) {
                if (s[j] == static_cast<char>(c)) {
                    if (j + 1 < n && s[j + 1] == static_cast<char>(c)) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            size_t end = j < n ? j + 1 : n;
            push(c == '\'' ? Token::String : Token::Quoted, i, end);
            i = end;
        } else if (c == '[') {
            size_t j = s.find(']', i + 1);
            size_t end = j == std::string_view::npos ? n : j + 1;
            push(Token::Quoted, i, end);
            i = end;
        } else if ((c == 'x' || c == 'X') && i + 1 < n && s[i + 1] == '\'') {
            size_t j = s.find('\'', i + 2);
            size_t end = j == std::string_view::npos ? n : j + 1;
            push(Token::Blob, i, end);
            i = end;
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t j = i;
            if (c == '0' && j + 1 < n && (s[j + 1] == 'x' || s[j + 1] == 'X')) {
                j += 2;
                while (j < n && std::isxdigit(static_cast<unsigned char>(s[j]))) ++j;
            } else {
                while (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
                if (j < n && s[j] == '.') {
                    ++j;
                    while (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
                }
                if (j < n && (s[j] == 'e' || s[j] == 'E')) {
                    size_t k = j + 1;
                    if (k < n && (s[k] == '+' || s[k] == '-')) ++k;
                    if (k < n && std::isdigit(static_cast<unsigned char>(s[k]))) {
                        j = k;
                        while (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
                    }
                }
            }
            push(Token::Number, i, j);
            i = j;
        } else if (c == '?') {
            size_t j = i + 1;
            while (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
            push(Token::Param, i, j);
            i = j;
        } else if ((c == ':' || c == '@' || c == '$') && i + 1 < n &&
                   identStart(static_cast<unsigned char>(s[i + 1]))) {
            size_t j = i + 1;
            while (j < n && identPart(static_cast<unsigned char>(s[j]))) ++j;
            push(Token::Param, i, j);
            i = j;
        } else if (identStart(c)) {
            size_t j = i + 1;
            while (j < n && identPart(static_cast<unsigned char>(s[j]))) ++j;
            push(Token::Ident, i, j);
            i = j;
        } else {
            static const char* two[] = {"||", "<=", ">=", "<>", "!=", "==", "<<", ">>", "->"};
            size_t len = 1;
            for (const char* op : two)
                if (i + 1 < n && s[i] == op[0] && s[i + 1] == op[1])
                    len = 2;
            push(Token::Punct, i, i + len);
            i += len;
        }
    }
    return out;
}

std::string tokenName(std::string_view sql, const Token& t) {
    std::string_view raw = sql.substr(t.pos, t.len);
    if (t.kind != Token::Quoted || raw.size() < 2)
        return std::string(raw);
    char q = raw[0] == '[' ? ']' : raw[0];
    std::string name;
    for (size_t k = 1; k + 1 < raw.size(); ++k) {
        name += raw[k];
        if (raw[k] == q && k + 2 < raw.size() && raw[k + 1] == q)
            ++k;
    }
    return name;
}

bool isWord(std::string_view sql, const Token& t, const char* upperWord) {
    return t.kind == Token::Ident && equalsNoCase(sql.substr(t.pos, t.len), upperWord);
}

// ---------------------------------------------------------------------------------------
// Translation.

bool translate(std::string_view text, Translation& out, Outcome& o) {
    out = Translation{};
    std::vector<Token> t = tokenize(text);
    std::vector<int> match = matchParens(text, t);
    std::vector<Edit> edits;
    // Inserts at one position keep the order they are pushed in: what closes an expression
    // (a CAST's parenthesis) comes first, then the NULLS words of the ORDER BY item it ends,
    // then what follows the clause (TOP's LIMIT, kept in `tails` until the end).
    std::vector<Edit> tails;
    size_t n = t.size();
    auto name = [&](size_t i) { return tokenName(text, t[i]); };
    auto prevIsDot = [&](size_t i) { return i > 0 && isPunct(text, t[i - 1], '.'); };
    auto nextIs = [&](size_t i, char c) { return i + 1 < n && isPunct(text, t[i + 1], c); };
    // End of the statement: before trailing semicolons.
    size_t lastTok = n;
    while (lastTok > 0 && isPunct(text, t[lastTok - 1], ';'))
        --lastTok;
    size_t stmtEnd = lastTok > 0 ? t[lastTok - 1].pos + t[lastTok - 1].len : 0;
    const bool ddl = n > 2 && (isWord(text, t[0], "CREATE") || isWord(text, t[0], "ALTER")) &&
                     (isWord(text, t[1], "TABLE") || isWord(text, t[2], "TABLE"));

    for (size_t i = 0; i < n; ++i) {
        const Token& k = t[i];
        if (isPunct(text, k, '(') && i + 2 < n && isPunct(text, t[i + 1], '+') && isPunct(text, t[i + 2], ')')) {
            failWith(o, ESQL_ERR_STATEMENT,
                     "the outer-join marker (+) is not supported; write LEFT OUTER JOIN instead");
            return false;
        }
        if (k.kind == Token::Ident || k.kind == Token::Quoted) {
            std::string nm = name(i);
            if (isSysprogressTable(nm) || isPubMetaTable(nm))
                out.usesCatalog = true;
        }
        if (k.kind == Token::Number && needsExactLiteral(text.substr(k.pos, k.len))) {
            // Kept as its text, its sign with it (a minus on a text makes a double of it);
            // compared as a decimal. A table definition takes a plain string (a DEFAULT).
            size_t from = k.pos;
            std::string digits(text.substr(k.pos, k.len));
            if (i > 0 && isPunct(text, t[i - 1], '-') && isSignPosition(text, t, i - 1)) {
                from = t[i - 1].pos;
                digits.insert(digits.begin(), '-');
            }
            std::string lit = "'" + digits + "'";
            if (!ddl)
                lit = std::string(kExactLiteral) + "(" + lit + ") COLLATE " + kDecimalCollation;
            edits.push_back({from, k.pos + k.len - from, lit});
            continue;
        }
        if (k.kind != Token::Ident && k.kind != Token::Quoted)
            continue;
        // Catalog schemas: the catalog lives in the attached database SYSPROGRESS, where
        // PUB."_File" and the other meta tables are found too.
        if (i + 2 < n && isPunct(text, t[i + 1], '.') &&
            (t[i + 2].kind == Token::Ident || t[i + 2].kind == Token::Quoted)) {
            std::string schema = name(i), table = name(i + 2);
            bool catalog = (equalsNoCase(schema, "SYSPROGRESS") && isSysprogressTable(table)) ||
                           (equalsNoCase(schema, "PUB") && isPubMetaTable(table));
            if (catalog && !prevIsDot(i)) {
                out.usesCatalog = true;
                if (equalsNoCase(schema, "PUB"))
                    edits.push_back({k.pos, k.len, "SYSPROGRESS"});
                i += 2;
                continue;
            }
        }
        if (k.kind != Token::Ident || prevIsDot(i))
            continue;
        std::string word = upper(text.substr(k.pos, k.len));
        bool call = nextIs(i, '(');
        if (call && word == "CONVERT" && i + 3 < n &&
            (t[i + 2].kind == Token::Ident) && isPunct(text, t[i + 3], ',') && match[i + 1] > 0) {
            if (const char* target = convertTarget(text.substr(t[i + 2].pos, t[i + 2].len))) {
                size_t close = static_cast<size_t>(match[i + 1]);
                // A date, time or timestamp comes out in its stored form, as from CAST.
                Token first = tokenize(target)[0];
                const char* canon = canonFunction(target, first);
                edits.push_back({k.pos, t[i + 3].pos + 1 - k.pos, canon ? std::string(canon) + "(CAST(" : "CAST("});
                edits.push_back({t[close].pos, 0, std::string(" AS ") + target + (canon ? ")" : "")});
                i += 3;
            }
            continue;
        }
        if (call && (word == "LEFT" || word == "RIGHT" || word == "INSERT")) {
            edits.push_back({k.pos, k.len, "esql_" + std::string(word == "LEFT" ? "left" : word == "RIGHT" ? "right" : "insert")});
            continue;
        }
        if (!call) {
            const char* fn = nullptr;
            if (word == "SYSDATE" || word == "CURRENT_DATE")
                fn = "(sysdate())";
            else if (word == "SYSTIME" || word == "CURRENT_TIME")
                fn = "(systime())";
            else if (word == "SYSTIMESTAMP" || word == "CURRENT_TIMESTAMP")
                fn = "(systimestamp())";
            if (fn) {
                edits.push_back({k.pos, k.len, fn});
                continue;
            }
        }
        if (call && word == "CAST" && match[i + 1] > 0) {
            // SQLite casts by the affinity of the type's name: [VAR]BINARY needs BLOB in it to
            // give bytes, and DATE, TIME, TIMESTAMP need TEXT in it to stay text (a numeric
            // cast would keep the year of '2012/03/04' and drop the rest); the text then gets
            // its stored form from esql_date and its kin, which refuse what is no such value.
            size_t close = static_cast<size_t>(match[i + 1]);
            int depth = 0;
            for (size_t x = i + 2; x < close; ++x) {
                if (isPunct(text, t[x], '(')) ++depth;
                else if (isPunct(text, t[x], ')')) --depth;
                else if (depth == 0 && isWord(text, t[x], "AS") && x + 1 < close) {
                    const Token& ty = t[x + 1];
                    if (isWord(text, ty, "BINARY") || isWord(text, ty, "VARBINARY")) {
                        edits.push_back({ty.pos + ty.len, 0, " BLOB"});
                    } else if (const char* canon = canonFunction(text, ty)) {
                        edits.push_back({k.pos, 0, std::string(canon) + "("});
                        edits.push_back({ty.pos + ty.len, 0, " TEXT"});
                        edits.push_back({t[close].pos + 1, 0, ")"});
                    }
                }
            }
            continue;
        }
        if (word == "SELECT") {
            size_t j = i + 1;
            if (j < n && (isWord(text, t[j], "DISTINCT") || isWord(text, t[j], "ALL")))
                ++j;
            if (j + 1 < n && isWord(text, t[j], "TOP") && t[j + 1].kind == Token::Number) {
                std::string count(text.substr(t[j + 1].pos, t[j + 1].len));
                edits.push_back({t[j].pos, t[j + 1].pos + t[j + 1].len - t[j].pos, ""});
                // The LIMIT goes to the end of this SELECT: its closing parenthesis or the end.
                size_t end = stmtEnd;
                int depth = 0;
                for (size_t x = i; x-- > 0;) {
                    if (isPunct(text, t[x], ')')) ++depth;
                    else if (isPunct(text, t[x], '(')) {
                        if (depth == 0) {
                            if (match[x] > 0)
                                end = t[static_cast<size_t>(match[x])].pos;
                            break;
                        }
                        --depth;
                    }
                }
                tails.push_back({end, 0, " LIMIT " + count});
                i = j + 1;
            }
        }
    }
    orderNullsHigh(text, t, edits);
    edits.insert(edits.end(), tails.begin(), tails.end());
    rewriteTableDefinition(text, t, match, edits);
    out.sql = applyEdits(text, edits);
    out.kind = classify(text, t);
    return true;
}

std::string storedFormExpr(std::string_view decl, const std::string& ref) {
    std::vector<Token> t = tokenize(decl);
    if (t.empty())
        return std::string();
    if (isWord(decl, t[0], "NUMERIC") || isWord(decl, t[0], "DECIMAL") || isWord(decl, t[0], "DEC")) {
        // The declared type reads as written, or as SQLite keeps it after the rewrite
        // ("NUMERIC TEXT(10,2)"): the shape is the numbers in its parentheses.
        long a = -1, s = -1;
        for (size_t i = 0; i + 1 < t.size(); ++i) {
            if (!isPunct(decl, t[i], '(') || t[i + 1].kind != Token::Number)
                continue;
            a = std::strtol(std::string(decl.substr(t[i + 1].pos, t[i + 1].len)).c_str(), nullptr, 10);
            if (i + 3 < t.size() && isPunct(decl, t[i + 2], ',') && t[i + 3].kind == Token::Number)
                s = std::strtol(std::string(decl.substr(t[i + 3].pos, t[i + 3].len)).c_str(), nullptr, 10);
            break;
        }
        long p, sc;
        numericShape(a, s, p, sc);
        return "esql_numeric(" + ref + ", " + std::to_string(p) + ", " + std::to_string(sc) + ")";
    }
    const char* fn = canonFunction(decl, t[0]);
    return fn ? std::string(fn) + "(" + ref + ")" : std::string();
}

// ---------------------------------------------------------------------------------------
// Catalog view columns.

bool catalogColumnType(std::string_view name, ColumnDesc& out) {
    struct Col { const char* name; int32_t type; uint32_t len; };
    static const Col cols[] = {
        {"rowid", ESQL_INTEGER, 0}, {"_File-Name", ESQL_VARCHAR, 32}, {"_Owner", ESQL_VARCHAR, 32},
        {"_Tbl-Type", ESQL_VARCHAR, 1}, {"_Desc", ESQL_VARCHAR, 2000}, {"_Prime-Index", ESQL_INTEGER, 0},
        {"_Hidden", ESQL_INTEGER, 0}, {"_File-recid", ESQL_INTEGER, 0}, {"_Field-Name", ESQL_VARCHAR, 32},
        {"_Data-Type", ESQL_VARCHAR, 32}, {"_dtype", ESQL_INTEGER, 0}, {"_Fetch-type", ESQL_VARCHAR, 32},
        {"_Width", ESQL_INTEGER, 0}, {"_Decimals", ESQL_INTEGER, 0}, {"_Mandatory", ESQL_INTEGER, 0},
        {"_Extent", ESQL_INTEGER, 0}, {"_Initial", ESQL_VARCHAR, 2000}, {"_field-rpos", ESQL_INTEGER, 0},
        {"_Order", ESQL_INTEGER, 0}, {"_Index-Name", ESQL_VARCHAR, 128}, {"_Unique", ESQL_INTEGER, 0},
        {"_Active", ESQL_INTEGER, 0}, {"_num-comp", ESQL_INTEGER, 0}, {"_Index-Recid", ESQL_INTEGER, 0},
        {"_Field-Recid", ESQL_INTEGER, 0}, {"_Index-Seq", ESQL_INTEGER, 0}, {"_Ascending", ESQL_INTEGER, 0},
        {"TBL", ESQL_VARCHAR, 32}, {"OWNER", ESQL_VARCHAR, 32}, {"TBLTYPE", ESQL_VARCHAR, 1},
        {"ID", ESQL_INTEGER, 0}, {"CREATOR", ESQL_VARCHAR, 32}, {"COL", ESQL_VARCHAR, 32},
        {"COLTYPE", ESQL_VARCHAR, 32}, {"WIDTH", ESQL_INTEGER, 0}, {"SCALE", ESQL_INTEGER, 0},
        {"NULLFLAG", ESQL_VARCHAR, 1}, {"DFLT_VALUE", ESQL_VARCHAR, 2000}, {"IDXNAME", ESQL_VARCHAR, 128},
        {"IDXOWNER", ESQL_VARCHAR, 32}, {"TBLOWNER", ESQL_VARCHAR, 32}, {"COLNAME", ESQL_VARCHAR, 32},
        {"IDXTYPE", ESQL_VARCHAR, 2}, {"IDXMETHOD", ESQL_VARCHAR, 2}, {"IDXSEQ", ESQL_INTEGER, 0},
        {"IDXORDER", ESQL_VARCHAR, 2}, {"GRANTOR", ESQL_VARCHAR, 32}, {"GRANTEE", ESQL_VARCHAR, 32},
        {"REF", ESQL_VARCHAR, 1}, {"INS", ESQL_VARCHAR, 1}, {"DEL", ESQL_VARCHAR, 1}, {"UPD", ESQL_VARCHAR, 1},
        {"SEL", ESQL_VARCHAR, 1}, {"ALT", ESQL_VARCHAR, 1}, {"IDX", ESQL_VARCHAR, 1},
        {"PROC_NAME", ESQL_VARCHAR, 32}, {"PROC_ID", ESQL_INTEGER, 0}, {"HAS_RETURN_VAL", ESQL_VARCHAR, 1},
        {"ARGTYPE", ESQL_VARCHAR, 32}, {"DATATYPE", ESQL_VARCHAR, 32}, {"TBLNAME", ESQL_VARCHAR, 32},
        {"CNSTRNAME", ESQL_VARCHAR, 128}, {"REFOWNER", ESQL_VARCHAR, 32}, {"REFTBLNAME", ESQL_VARCHAR, 32},
        {"REFCNSTRNAME", ESQL_VARCHAR, 128}, {"COLPOSITION", ESQL_INTEGER, 0},
    };
    for (const Col& c : cols) {
        if (equalsNoCase(name, c.name)) {
            out = describeType(c.type, c.len);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Result description.

namespace {

struct TypeInfo {
    ColumnDesc d;
    bool known = false;
    bool isNull = false;   // the NULL literal: takes the type of its neighbours
};

TypeInfo known(ColumnDesc d, bool nullable = true) {
    TypeInfo t;
    t.d = std::move(d);
    t.d.nullable = nullable ? 1 : 0;
    t.known = true;
    return t;
}

TypeInfo unknownType() { return TypeInfo{}; }

bool isText(int32_t type) { return type == ESQL_CHARACTER || type == ESQL_VARCHAR; }

int numericRank(int32_t type) {
    switch (type) {
    case ESQL_BIT:
    case ESQL_TINYINT: return 1;
    case ESQL_SMALLINT: return 2;
    case ESQL_INTEGER: return 3;
    case ESQL_BIGINT: return 4;
    case ESQL_NUMERIC: return 5;
    case ESQL_REAL: return 6;
    case ESQL_FLOAT: return 7;
    default: return 0;
    }
}

uint32_t displayWidth(const TypeInfo& t) {
    if (!t.known)
        return kUnknownTextLength;
    switch (t.d.type) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: return t.d.precision;
    case ESQL_BINARY:
    case ESQL_VARBINARY: return std::min<uint32_t>(2 * t.d.precision, ESQL_VARCHAR_MAX);
    case ESQL_INTEGER: return 11;
    case ESQL_SMALLINT: return 6;
    case ESQL_TINYINT: return 4;
    case ESQL_BIT: return 1;
    case ESQL_BIGINT: return 20;
    case ESQL_REAL: return 13;
    case ESQL_FLOAT: return 22;
    case ESQL_NUMERIC: return t.d.precision + 2;
    case ESQL_DATE: return 10;
    case ESQL_TIME: return 8;
    case ESQL_TIMESTAMP: return 23;
    default: return kUnknownTextLength;
    }
}

TypeInfo varchar(uint32_t n, bool nullable = true) {
    return known(describeType(ESQL_VARCHAR, std::clamp<uint32_t>(n, 1, ESQL_VARCHAR_MAX)), nullable);
}

TypeInfo numeric(int p, int s, bool nullable) {
    p = std::clamp(p, 1, static_cast<int>(ESQL_NUMERIC_DIGITS));
    s = std::clamp(s, 0, p);
    return known(describeType(ESQL_NUMERIC, static_cast<uint32_t>(p), static_cast<int16_t>(s)), nullable);
}

// Precision and scale of an exact number type.
void exactShape(const TypeInfo& t, int& p, int& s) {
    switch (t.d.type) {
    case ESQL_NUMERIC: p = static_cast<int>(t.d.precision); s = t.d.scale; break;
    case ESQL_BIGINT: p = 19; s = 0; break;
    case ESQL_INTEGER: p = 10; s = 0; break;
    case ESQL_SMALLINT: p = 5; s = 0; break;
    default: p = 3; s = 0; break;
    }
}

bool eitherNullable(const TypeInfo& a, const TypeInfo& b) { return a.d.nullable != 0 || b.d.nullable != 0; }

TypeInfo arithmetic(const TypeInfo& a, const TypeInfo& b, char op) {
    if (a.isNull || b.isNull)
        return a.isNull ? (b.known ? known(b.d) : unknownType()) : known(a.d);
    if (!a.known && !b.known)
        return known(describeType(ESQL_FLOAT));
    const TypeInfo& x = a.known ? a : b;
    const TypeInfo& y = b.known ? b : a;
    int rx = numericRank(x.d.type), ry = numericRank(y.d.type);
    bool nullable = eitherNullable(a, b);
    if (rx == 0 || ry == 0 || rx >= 6 || ry >= 6)
        return known(describeType(ESQL_FLOAT), nullable);
    if (rx <= 4 && ry <= 4)
        return known(describeType(std::max(rx, ry) == 4 ? ESQL_BIGINT : ESQL_INTEGER), nullable);
    int p1, s1, p2, s2;
    exactShape(x, p1, s1);
    exactShape(y, p2, s2);
    switch (op) {
    case '+':
    case '-': {
        int s = std::max(s1, s2);
        return numeric(std::max(p1 - s1, p2 - s2) + s + 1, s, nullable);
    }
    case '*': return numeric(p1 + p2, s1 + s2, nullable);
    default: return numeric(ESQL_NUMERIC_DIGITS, std::max({s1, s2, 10}), nullable);
    }
}

// The type of a CASE, DECODE or COALESCE whose results have these types.
TypeInfo common(const std::vector<TypeInfo>& parts) {
    std::vector<const TypeInfo*> real;
    bool anyNull = false;
    for (const TypeInfo& p : parts) {
        if (p.isNull) {
            anyNull = true;
            continue;
        }
        if (!p.known)
            return unknownType();
        real.push_back(&p);
    }
    if (real.empty())
        return unknownType();
    bool nullable = anyNull;
    for (const TypeInfo* p : real)
        nullable = nullable || p->d.nullable != 0;
    bool allText = true, allNumber = true, allSame = true;
    for (const TypeInfo* p : real) {
        allText = allText && isText(p->d.type);
        allNumber = allNumber && numericRank(p->d.type) > 0;
        allSame = allSame && p->d.type == real[0]->d.type;
    }
    if (allNumber) {
        int best = 0;
        for (const TypeInfo* p : real)
            best = std::max(best, numericRank(p->d.type));
        if (best >= 6)
            return known(describeType(best == 6 && allSame ? ESQL_REAL : ESQL_FLOAT), nullable);
        if (best == 5) {
            int ip = 0, s = 0;
            for (const TypeInfo* p : real) {
                int pp, ss;
                exactShape(*p, pp, ss);
                ip = std::max(ip, pp - ss);
                s = std::max(s, ss);
            }
            return numeric(ip + s, s, nullable);
        }
        const TypeInfo* widest = real[0];
        for (const TypeInfo* p : real)
            if (numericRank(p->d.type) > numericRank(widest->d.type))
                widest = p;
        return known(describeType(widest->d.type), nullable);
    }
    if (allSame && !allText)
        return known(real[0]->d, nullable);
    uint32_t w = 1;
    for (const TypeInfo* p : real)
        w = std::max(w, displayWidth(*p));
    return varchar(w, nullable);
}

bool isKeywordNotAlias(std::string_view sql, const Token& t) {
    static const char* words[] = {"END", "NULL", "TRUE", "FALSE", "NOTNULL", "ISNULL", "CURRENT_DATE",
                                  "CURRENT_TIME", "CURRENT_TIMESTAMP"};
    for (const char* w : words)
        if (isWord(sql, t, w))
            return true;
    return false;
}

bool isOperatorWord(std::string_view sql, const Token& t) {
    static const char* words[] = {"AND", "OR", "NOT", "IS", "IN", "LIKE", "GLOB", "ESCAPE", "BETWEEN", "CASE",
                                  "WHEN", "THEN", "ELSE", "COLLATE", "DISTINCT", "ALL", "AS", "CAST", "SELECT"};
    for (const char* w : words)
        if (isWord(sql, t, w))
            return true;
    return false;
}

bool isClauseWord(std::string_view sql, const Token& t) {
    static const char* words[] = {"FROM", "WHERE", "GROUP", "HAVING", "ORDER", "LIMIT", "WINDOW",
                                  "UNION", "EXCEPT", "INTERSECT"};
    for (const char* w : words)
        if (isWord(sql, t, w))
            return true;
    return false;
}

struct SelectItem {
    size_t b, e;        // the expression
    bool alias = false;
};

struct SelectShape {
    bool found = false;
    std::vector<SelectItem> items;
    size_t fromB = 0, fromE = 0;   // tokens of the FROM clause (without FROM)
};

SelectShape findSelect(std::string_view sql, const std::vector<Token>& t) {
    SelectShape s;
    int depth = 0;
    size_t i = 0;
    for (; i < t.size(); ++i) {
        if (isPunct(sql, t[i], '(')) ++depth;
        else if (isPunct(sql, t[i], ')')) --depth;
        else if (depth == 0 && isWord(sql, t[i], "SELECT")) break;
        else if (depth == 0 && isWord(sql, t[i], "WITH")) continue;
    }
    if (i >= t.size())
        return s;
    ++i;
    if (i < t.size() && (isWord(sql, t[i], "DISTINCT") || isWord(sql, t[i], "ALL")))
        ++i;
    s.found = true;
    size_t b = i;
    depth = 0;
    size_t k = i;
    for (; k <= t.size(); ++k) {
        bool end = k == t.size() || (depth == 0 && (isClauseWord(sql, t[k]) || isPunct(sql, t[k], ';')));
        if (!end) {
            if (isPunct(sql, t[k], '(')) ++depth;
            else if (isPunct(sql, t[k], ')')) --depth;
            if (depth < 0) { end = true; }
        }
        if (end || (depth == 0 && isPunct(sql, t[k], ','))) {
            SelectItem item{b, k, false};
            if (k >= b + 2) {
                const Token& last = t[k - 1];
                const Token& before = t[k - 2];
                if ((last.kind == Token::Ident || last.kind == Token::Quoted || last.kind == Token::String) &&
                    isWord(sql, before, "AS")) {
                    item.e = k - 2;
                    item.alias = true;
                } else if ((last.kind == Token::Ident || last.kind == Token::Quoted) &&
                           !isKeywordNotAlias(sql, last) && !isOperatorWord(sql, last) &&
                           (before.kind == Token::Ident || before.kind == Token::Quoted ||
                            before.kind == Token::String || before.kind == Token::Number ||
                            before.kind == Token::Param || isPunct(sql, before, ')')) &&
                           !isOperatorWord(sql, before)) {
                    item.e = k - 1;
                    item.alias = true;
                }
            }
            s.items.push_back(item);
            b = k + 1;
        }
        if (end)
            break;
    }
    if (k < t.size() && depth == 0 && isWord(sql, t[k], "FROM")) {
        s.fromB = k + 1;
        size_t e = k + 1;
        int d = 0;
        for (; e < t.size(); ++e) {
            if (isPunct(sql, t[e], '(')) ++d;
            else if (isPunct(sql, t[e], ')')) { if (--d < 0) break; }
            else if (d == 0 && ((isClauseWord(sql, t[e]) && !isWord(sql, t[e], "FROM")) || isPunct(sql, t[e], ';')))
                break;
        }
        s.fromE = e;
    }
    return s;
}

// Infers the type of one select-list expression. Column references go to the resolver, which
// answers from a probe of the FROM clause.
class Inferencer {
public:
    using Resolver = std::function<TypeInfo(const std::string& refText, const std::string& column)>;

    Inferencer(std::string_view sql, const std::vector<Token>& t, const std::vector<int>& match,
               const Resolver& resolve)
        : sql_(sql), t_(t), match_(match), resolve_(resolve) {}

    TypeInfo infer(size_t b, size_t e) {
        i_ = b;
        end_ = e;
        ok_ = true;
        TypeInfo r = expr(0);
        if (!ok_ || i_ != end_)
            return unknownType();
        return r;
    }

    // True when tokens [b, e) are one column reference (a, t.a, s.t.a).
    bool isColumnRef(size_t b, size_t e) const {
        if (b >= e)
            return false;
        for (size_t k = b; k < e; ++k) {
            bool nameTok = t_[k].kind == Token::Ident || t_[k].kind == Token::Quoted;
            if ((k - b) % 2 == 0 ? !nameTok : !isPunct(sql_, t_[k], '.'))
                return false;
        }
        return (e - b) % 2 == 1 && !isKeywordNotAlias(sql_, t_[e - 1]);
    }

private:
    std::string_view sql_;
    const std::vector<Token>& t_;
    const std::vector<int>& match_;
    const Resolver& resolve_;
    size_t i_ = 0, end_ = 0;
    bool ok_ = true;

    bool at(char c) const { return i_ < end_ && isPunct(sql_, t_[i_], c); }
    bool atWord(const char* w) const { return i_ < end_ && isWord(sql_, t_[i_], w); }
    bool atOp(const char* op) const {
        return i_ < end_ && t_[i_].kind == Token::Punct && sql_.substr(t_[i_].pos, t_[i_].len) == op;
    }
    TypeInfo fail() {
        ok_ = false;
        i_ = end_;
        return unknownType();
    }
    size_t closing(size_t open) const {
        int m = match_[open];
        return (m < 0 || static_cast<size_t>(m) >= end_) ? end_ : static_cast<size_t>(m);
    }

    static int precedence(std::string_view op) {
        if (op == "||") return 7;
        if (op == "*" || op == "/" || op == "%") return 6;
        if (op == "+" || op == "-") return 5;
        if (op == "&" || op == "|" || op == "<<" || op == ">>") return 4;
        if (op == "<" || op == "<=" || op == ">" || op == ">=") return 3;
        if (op == "=" || op == "==" || op == "<>" || op == "!=") return 2;
        return -1;
    }

    TypeInfo expr(int minPrec) {
        TypeInfo left = unary();
        while (ok_ && i_ < end_) {
            const Token& k = t_[i_];
            if (k.kind == Token::Punct) {
                std::string_view op = sql_.substr(k.pos, k.len);
                int p = precedence(op);
                if (p < 0 || p < minPrec)
                    break;
                ++i_;
                TypeInfo right = expr(p + 1);
                if (op == "||")
                    left = varchar(displayWidth(left) + displayWidth(right), eitherNullable(left, right));
                else if (p >= 5 || p == 4)
                    left = arithmetic(left, right, op[0]);
                else
                    left = known(describeType(ESQL_INTEGER));
                continue;
            }
            if (k.kind != Token::Ident)
                break;
            if (atWord("COLLATE")) {
                i_ += 2;
                continue;
            }
            // A predicate or a logical operator: the rest of the expression is a truth value.
            static const char* const truth[] = {"AND", "OR", "IS", "NOT", "IN", "LIKE", "GLOB", "REGEXP",
                                                "MATCH", "BETWEEN", "ISNULL", "NOTNULL", "ESCAPE"};
            bool predicate = false;
            for (const char* w : truth)
                predicate = predicate || atWord(w);
            if (predicate) {
                i_ = end_;
                return known(describeType(ESQL_INTEGER));
            }
            break;
        }
        return left;
    }

    TypeInfo unary() {
        if (at('-') || at('+')) {
            ++i_;
            return unary();
        }
        if (atWord("NOT")) {
            ++i_;
            expr(3);
            return known(describeType(ESQL_INTEGER));
        }
        return primary();
    }

    std::vector<std::pair<size_t, size_t>> arguments(size_t open, size_t close) const {
        std::vector<std::pair<size_t, size_t>> args;
        size_t b = open + 1;
        int depth = 0;
        for (size_t k = open + 1; k <= close; ++k) {
            if (k < close && isPunct(sql_, t_[k], '(')) ++depth;
            else if (k < close && isPunct(sql_, t_[k], ')')) --depth;
            if (k == close || (depth == 0 && isPunct(sql_, t_[k], ','))) {
                if (k > b)
                    args.push_back({b, k});
                b = k + 1;
            }
        }
        return args;
    }

    TypeInfo sub(size_t b, size_t e) {
        Inferencer in(sql_, t_, match_, resolve_);
        return in.infer(b, e);
    }

    TypeInfo primary() {
        if (i_ >= end_)
            return fail();
        const Token& k = t_[i_];
        std::string_view text = sql_.substr(k.pos, k.len);
        switch (k.kind) {
        case Token::Number: {
            ++i_;
            if (text.size() > 1 && (text[1] == 'x' || text[1] == 'X'))
                return known(describeType(ESQL_BIGINT), false);
            if (text.find_first_of("eE") != std::string_view::npos)
                return known(describeType(ESQL_FLOAT), false);
            size_t dot = text.find('.');
            if (dot == std::string_view::npos) {
                bool small = text.size() < 10 || (text.size() == 10 && text <= "2147483647");
                return known(describeType(small ? ESQL_INTEGER : text.size() <= 19 ? ESQL_BIGINT : ESQL_NUMERIC,
                                          text.size() <= 19 ? 0 : static_cast<uint32_t>(text.size())),
                             false);
            }
            int digits = static_cast<int>(text.size()) - 1;
            int scale = static_cast<int>(text.size() - dot - 1);
            return numeric(std::max(digits, 1), scale, false);
        }
        case Token::String: {
            ++i_;
            uint32_t len = 0;
            for (size_t x = 1; x + 1 < text.size(); ++x) {
                ++len;
                if (text[x] == '\'' && x + 2 < text.size() && text[x + 1] == '\'')
                    ++x;
            }
            return varchar(std::max<uint32_t>(len, 1), false);
        }
        case Token::Blob:
            ++i_;
            return known(describeType(ESQL_VARBINARY, static_cast<uint32_t>(std::max<size_t>((text.size() - 3) / 2, 1))), false);
        case Token::Param:
            ++i_;
            return unknownType();
        case Token::Punct:
            if (text == "(") {
                size_t close = closing(i_);
                size_t b = i_ + 1;
                i_ = close + 1;
                if (b < close && isWord(sql_, t_[b], "SELECT"))
                    return unknownType();
                if (close >= end_)
                    return fail();
                return sub(b, close);
            }
            return fail();
        case Token::Quoted:
        case Token::Ident:
            break;
        }
        if (atWord("NULL")) {
            ++i_;
            TypeInfo t;
            t.isNull = true;
            return t;
        }
        if (atWord("CASE"))
            return caseExpr();
        if (atWord("EXISTS")) {
            ++i_;
            if (at('('))
                i_ = closing(i_) + 1;
            return known(describeType(ESQL_INTEGER), false);
        }
        if (k.kind == Token::Ident && i_ + 1 < end_ && isPunct(sql_, t_[i_ + 1], '('))
            return call();
        // A column reference: name(.name)*
        size_t b = i_;
        while (i_ < end_ && (t_[i_].kind == Token::Ident || t_[i_].kind == Token::Quoted)) {
            ++i_;
            if (i_ + 1 < end_ && isPunct(sql_, t_[i_], '.') &&
                (t_[i_ + 1].kind == Token::Ident || t_[i_ + 1].kind == Token::Quoted))
                ++i_;
            else
                break;
        }
        std::string ref(sql_.substr(t_[b].pos, t_[i_ - 1].pos + t_[i_ - 1].len - t_[b].pos));
        return resolve_(ref, tokenName(sql_, t_[i_ - 1]));
    }

    TypeInfo caseExpr() {
        size_t b = i_;
        int depth = 0;
        size_t e = b + 1;
        for (; e < end_; ++e) {
            if (isWord(sql_, t_[e], "CASE")) ++depth;
            else if (isWord(sql_, t_[e], "END")) {
                if (depth == 0) break;
                --depth;
            }
        }
        if (e >= end_)
            return fail();
        // Results: after each THEN and after ELSE at this level, up to the next WHEN/ELSE/END.
        std::vector<TypeInfo> results;
        bool hasElse = false;
        depth = 0;
        for (size_t k = b + 1; k < e; ++k) {
            if (isPunct(sql_, t_[k], '(')) { k = static_cast<size_t>(std::max(match_[k], static_cast<int>(k))); continue; }
            if (isWord(sql_, t_[k], "CASE")) ++depth;
            else if (isWord(sql_, t_[k], "END")) --depth;
            else if (depth == 0 && (isWord(sql_, t_[k], "THEN") || isWord(sql_, t_[k], "ELSE"))) {
                hasElse = hasElse || isWord(sql_, t_[k], "ELSE");
                size_t rb = k + 1, re = rb;
                int d2 = 0;
                for (; re < e; ++re) {
                    if (isPunct(sql_, t_[re], '(')) ++d2;
                    else if (isPunct(sql_, t_[re], ')')) --d2;
                    else if (isWord(sql_, t_[re], "CASE")) ++d2;
                    else if (isWord(sql_, t_[re], "END")) --d2;
                    else if (d2 == 0 && (isWord(sql_, t_[re], "WHEN") || isWord(sql_, t_[re], "ELSE"))) break;
                }
                results.push_back(sub(rb, re));
                k = re - 1;
            }
        }
        i_ = e + 1;
        TypeInfo r = common(results);
        if (!hasElse && r.known)
            r.d.nullable = 1;
        return r;
    }

    TypeInfo call() {
        std::string fn = upper(sql_.substr(t_[i_].pos, t_[i_].len));
        size_t open = i_ + 1;
        size_t close = closing(open);
        if (close >= end_)
            return fail();
        i_ = close + 1;
        auto args = arguments(open, close);
        auto arg = [&](size_t n) { return n < args.size() ? sub(args[n].first, args[n].second) : unknownType(); };
        auto integer = [](bool nullable = true) { return known(describeType(ESQL_INTEGER), nullable); };
        auto floating = [] { return known(describeType(ESQL_FLOAT)); };

        if (fn == "CAST") {
            // CAST(expr AS type)
            size_t as = close;
            int depth = 0;
            for (size_t k = open + 1; k < close; ++k) {
                if (isPunct(sql_, t_[k], '(')) ++depth;
                else if (isPunct(sql_, t_[k], ')')) --depth;
                else if (depth == 0 && isWord(sql_, t_[k], "AS")) as = k;
            }
            if (as >= close)
                return fail();
            TypeInfo operand = sub(open + 1, as);
            std::string_view typeText = sql_.substr(t_[as + 1].pos, t_[close].pos - t_[as + 1].pos);
            ColumnDesc d;
            if (!parseDeclaredType(typeText, d))
                return fail();
            bool args2 = typeText.find('(') != std::string_view::npos;
            if (!args2 && isText(d.type))
                d = describeType(d.type, displayWidth(operand));
            if (!args2 && d.type == ESQL_NUMERIC && operand.known && numericRank(operand.d.type) > 0 &&
                numericRank(operand.d.type) <= 5) {
                int p, s;
                exactShape(operand, p, s);
                d = describeType(ESQL_NUMERIC, static_cast<uint32_t>(p), static_cast<int16_t>(s));
            }
            return known(d, operand.isNull || !operand.known || operand.d.nullable != 0);
        }
        if (fn == "ESQL_DATE" || fn == "ESQL_TIME" || fn == "ESQL_TIMESTAMP")
            return arg(0);   // around the CAST it was written as
        if (fn == "COUNT")
            return integer(false);
        if (fn == "SUM") {
            TypeInfo a = arg(0);
            int r = a.known ? numericRank(a.d.type) : 0;
            if (r >= 1 && r <= 4) return known(describeType(ESQL_BIGINT));
            if (r == 5) { int p, s; exactShape(a, p, s); return numeric(p + 10, s, true); }
            return floating();
        }
        if (fn == "AVG") {
            // Exact over exact numbers: their digits before the point, at least ten after.
            TypeInfo a = arg(0);
            if (a.known && numericRank(a.d.type) == 5) {
                int p, s;
                exactShape(a, p, s);
                int sc = std::max(s, 10);
                return numeric(p - s + sc, sc, true);
            }
            return floating();
        }
        if (fn == "TOTAL")
            return floating();
        if (fn == "ESQL_EXACT" && args.size() == 1 && t_[args[0].first].kind == Token::String) {
            // The literal's own digits and scale.
            std::string_view lit = sql_.substr(t_[args[0].first].pos, t_[args[0].first].len);
            int digits = 0, scale = -1;
            for (char c : lit) {
                if (c >= '0' && c <= '9') {
                    ++digits;
                    if (scale >= 0)
                        ++scale;
                } else if (c == '.') {
                    scale = 0;
                }
            }
            return numeric(digits, std::max(scale, 0), false);
        }
        if (fn == "MIN" || fn == "MAX") {
            if (args.size() == 1) {
                TypeInfo a = arg(0);
                if (a.known) a.d.nullable = 1;
                return a;
            }
            std::vector<TypeInfo> all;
            for (size_t n = 0; n < args.size(); ++n) all.push_back(arg(n));
            return common(all);
        }
        if (fn == "DECODE") {
            std::vector<TypeInfo> results;
            for (size_t n = 2; n < args.size(); n += 2) results.push_back(arg(n));
            if (args.size() >= 4 && args.size() % 2 == 0) results.push_back(arg(args.size() - 1));
            TypeInfo r = common(results);
            if (r.known && args.size() % 2 == 1) r.d.nullable = 1;
            return r;
        }
        if (fn == "IFNULL" || fn == "NVL" || fn == "COALESCE" || fn == "IIF") {
            std::vector<TypeInfo> all;
            for (size_t n = fn == "IIF" ? 1 : 0; n < args.size(); ++n) all.push_back(arg(n));
            return common(all);
        }
        if (fn == "NULLIF")
            return arg(0);
        if (fn == "ABS" || fn == "ROUND" || fn == "FLOOR" || fn == "CEILING" || fn == "CEIL" || fn == "TRUNC") {
            TypeInfo a = arg(0);
            if (!a.known || numericRank(a.d.type) == 0) return floating();
            if ((fn == "FLOOR" || fn == "CEILING" || fn == "CEIL") && a.d.type == ESQL_NUMERIC)
                return numeric(static_cast<int>(a.d.precision), 0, a.d.nullable != 0);
            return a;
        }
        if (fn == "MOD") {
            TypeInfo a = arg(0), b = arg(1);
            if (a.known && b.known && numericRank(a.d.type) >= 1 && numericRank(a.d.type) <= 4 &&
                numericRank(b.d.type) >= 1 && numericRank(b.d.type) <= 4)
                return arithmetic(a, b, '%');
            return floating();
        }
        static const char* const floats[] = {"POWER", "POW", "SQRT", "EXP", "LOG", "LOG10", "LN", "LOG2", "SIN",
                                             "COS", "TAN", "ASIN", "ACOS", "ATAN", "ATAN2", "DEGREES", "RADIANS",
                                             "PI", "RAND"};
        for (const char* f : floats)
            if (fn == f) return floating();
        static const char* const ints[] = {"LENGTH", "CHAR_LENGTH", "OCTET_LENGTH", "LOCATE", "INSTR", "ASCII",
                                           "UNICODE", "DAYOFWEEK", "DAYOFMONTH", "DAYOFYEAR", "WEEK", "QUARTER",
                                           "HOUR", "MINUTE", "SECOND", "MONTH", "YEAR", "SIGN"};
        for (const char* f : ints)
            if (fn == f) return integer();
        if (fn == "RANDOM")
            return known(describeType(ESQL_BIGINT), false);
        if (fn == "DAYNAME" || fn == "MONTHNAME")
            return varchar(9);
        static const char* const sameWidth[] = {"UCASE", "LCASE", "UPPER", "LOWER", "LTRIM", "RTRIM", "TRIM",
                                                "SUBSTR", "SUBSTRING", "ESQL_LEFT", "ESQL_RIGHT", "SOUNDEX"};
        for (const char* f : sameWidth)
            if (fn == f) {
                TypeInfo a = arg(0);
                return varchar(displayWidth(a), !a.known || a.d.nullable != 0);
            }
        if (fn == "CONCAT") {
            uint32_t w = 0;
            for (size_t n = 0; n < args.size(); ++n) w += displayWidth(arg(n));
            return varchar(w);
        }
        if (fn == "ESQL_INSERT")
            return varchar(displayWidth(arg(0)) + displayWidth(arg(3)));
        if (fn == "CHAR")
            return varchar(static_cast<uint32_t>(4 * std::max<size_t>(args.size(), 1)));
        if (fn == "SYSDATE" || fn == "CURDATE")
            return known(describeType(ESQL_DATE), false);
        if (fn == "SYSTIME" || fn == "CURTIME")
            return known(describeType(ESQL_TIME), false);
        if (fn == "SYSTIMESTAMP" || fn == "NOW")
            return known(describeType(ESQL_TIMESTAMP), false);
        if (fn == "USER" || fn == "DB_NAME")
            return varchar(fn == "USER" ? 32 : 255, false);
        return unknownType();
    }
};

// Columns of the catalog views come from SQLite's schema table or its pragma functions.
bool isCatalogOrigin(const char* table) {
    return table == nullptr || std::strncmp(table, "sqlite_", 7) == 0 || std::strncmp(table, "pragma_", 7) == 0;
}

}  // namespace

void describeResult(sqlite3* db, sqlite3_stmt* stmt, const Translation& tr, std::vector<ColumnDesc>& out) {
    out.clear();
    int n = sqlite3_column_count(stmt);
    if (n <= 0)
        return;
    std::string_view sql = tr.sql;
    std::vector<Token> toks = tokenize(sql);
    std::vector<int> match = matchParens(sql, toks);
    SelectShape shape = findSelect(sql, toks);
    bool aligned = shape.found && shape.items.size() == static_cast<size_t>(n);

    // Column references inside expressions are typed by a probe of the FROM clause.
    std::vector<std::string> refs;
    std::unordered_map<std::string, TypeInfo> refTypes;
    auto record = [&](const std::string& ref, const std::string&) {
        if (std::find(refs.begin(), refs.end(), ref) == refs.end())
            refs.push_back(ref);
        return unknownType();
    };
    Inferencer::Resolver recorder = record;
    Inferencer first(sql, toks, match, recorder);
    std::vector<bool> needsInference(static_cast<size_t>(n), false);
    for (int i = 0; i < n; ++i) {
        if (aligned && sqlite3_column_decltype(stmt, i) == nullptr) {
            needsInference[static_cast<size_t>(i)] = true;
            first.infer(shape.items[static_cast<size_t>(i)].b, shape.items[static_cast<size_t>(i)].e);
        }
    }
    if (!refs.empty() && shape.fromB > 0 && shape.fromE > shape.fromB) {
        std::string probe = "SELECT ";
        for (size_t r = 0; r < refs.size(); ++r)
            probe += (r ? ", " : "") + refs[r];
        size_t fb = toks[shape.fromB].pos;
        size_t fe = toks[shape.fromE - 1].pos + toks[shape.fromE - 1].len;
        probe += " FROM ";
        probe.append(sql.substr(fb, fe - fb));
        sqlite3_stmt* ps = nullptr;
        if (sqlite3_prepare_v2(db, probe.c_str(), static_cast<int>(probe.size()), &ps, nullptr) == SQLITE_OK &&
            ps != nullptr && sqlite3_column_count(ps) == static_cast<int>(refs.size())) {
            for (size_t r = 0; r < refs.size(); ++r) {
                ColumnDesc d;
                int c = static_cast<int>(r);
                const char* decl = sqlite3_column_decltype(ps, c);
                const char* cname = sqlite3_column_name(ps, c);
                bool catalog = tr.usesCatalog && cname && (!decl || isCatalogOrigin(sqlite3_column_table_name(ps, c)));
                if ((catalog && catalogColumnType(cname, d)) || (decl && parseDeclaredType(decl, d)))
                    refTypes[refs[r]] = known(d);
            }
        }
        sqlite3_finalize(ps);
    }
    auto resolve = [&](const std::string& ref, const std::string&) {
        auto it = refTypes.find(ref);
        return it == refTypes.end() ? unknownType() : it->second;
    };
    Inferencer::Resolver resolver = resolve;
    Inferencer second(sql, toks, match, resolver);

    out.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        ColumnDesc& d = out[static_cast<size_t>(i)];
        const char* name = sqlite3_column_name(stmt, i);
        const char* decl = sqlite3_column_decltype(stmt, i);
        const char* origin = sqlite3_column_origin_name(stmt, i);
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* schema = sqlite3_column_database_name(stmt, i);
        bool typed = false;
        if (tr.usesCatalog && isCatalogOrigin(table) && name && catalogColumnType(name, d)) {
            typed = true;
            d.nullable = 1;
        } else if (decl && parseDeclaredType(decl, d)) {
            typed = true;
            d.nullable = 1;
            if (origin && table && schema) {
                int notNull = 0, primaryKey = 0, autoinc = 0;
                if (sqlite3_table_column_metadata(db, schema, table, origin, nullptr, nullptr, &notNull,
                                                  &primaryKey, &autoinc) == SQLITE_OK)
                    d.nullable = (notNull || primaryKey) ? 0 : 1;
                d.updatable = std::strcmp(schema, "temp") == 0 || std::strcmp(schema, "SYSPROGRESS") == 0 ? 0 : 1;
            }
        } else if (aligned && needsInference[static_cast<size_t>(i)]) {
            const SelectItem& item = shape.items[static_cast<size_t>(i)];
            TypeInfo t = second.infer(item.b, item.e);
            if (t.known) {
                d = t.d;
                typed = true;
            } else if (t.isNull) {
                d = describeType(ESQL_VARCHAR, 1);
                d.nullable = 1;
                typed = true;
            }
        }
        if (!typed && tr.usesCatalog && name && catalogColumnType(name, d))
            typed = true;
        if (!typed) {
            d = describeType(ESQL_VARCHAR, kUnknownTextLength);
            d.nullable = 1;
        }
        // An expression without an alias has no name; the caller names it.
        d.name = name ? name : "";
        if (aligned && !origin) {
            const SelectItem& item = shape.items[static_cast<size_t>(i)];
            if (!item.alias && !second.isColumnRef(item.b, item.e))
                d.name.clear();
        }
    }
}

// ---------------------------------------------------------------------------------------
// Failures.

namespace {

// SQLite's message in the server's words: what went wrong and the name or place it names.
// SQLite's own phrasing ("incomplete input", "near \"x\": syntax error") means nothing to an
// application written for the server. A message that matches none of SQLite's forms (the
// stand-in's own texts) is kept as it is.
std::string serverMessage(std::string msg) {
    auto after = [&](std::string_view prefix, std::string& rest) {
        if (msg.compare(0, prefix.size(), prefix) != 0)
            return false;
        rest = msg.substr(prefix.size());
        return true;
    };
    auto between = [&](std::string_view prefix, std::string_view suffix, std::string& mid) {
        if (msg.size() < prefix.size() + suffix.size() || msg.compare(0, prefix.size(), prefix) != 0 ||
            msg.compare(msg.size() - suffix.size(), suffix.size(), suffix) != 0)
            return false;
        mid = msg.substr(prefix.size(), msg.size() - prefix.size() - suffix.size());
        return true;
    };
    std::string x;
    if (between("near ", ": syntax error", x) || after("unrecognized token: ", x))
        return "Syntax error in SQL statement at or about " + x;
    if (msg == "incomplete input")
        return "Syntax error in SQL statement at or about the end of the statement";
    if (after("no such table: ", x) || after("no such view: ", x))
        return "Table/View/Synonym not found: " + x;
    if (after("unknown database ", x))
        return "Owner not found: " + x;
    if (after("no such column: ", x))
        return "Column not found: " + x;
    if (after("no such index: ", x))
        return "Index not found: " + x;
    if (after("no such function: ", x))
        return "Function not found: " + x;
    if (between("table ", " already exists", x) || between("view ", " already exists", x))
        return "Table/View/Synonym already exists: " + x;
    if (between("index ", " already exists", x) || after("there is already an index named ", x))
        return "Index already exists: " + x;
    if (after("duplicate column name: ", x))
        return "Column already exists: " + x;
    if (after("UNIQUE constraint failed: ", x))
        return "UNIQUE constraint violated: a row with the same value of " + x + " exists";
    if (after("NOT NULL constraint failed: ", x))
        return "NULL value not allowed for column " + x;
    if (after("CHECK constraint failed: ", x))
        return "CHECK constraint violated: " + x;
    if (msg == "FOREIGN KEY constraint failed")
        return "FOREIGN KEY constraint violated";
    // SQLite's texts of its result codes, alone or at the end of a message of the stand-in's
    // ("cannot open database f: unable to open database file").
    static const std::pair<std::string_view, const char*> codes[] = {
        {"not an error", "General error"},
        {"SQL logic error", "General error in the statement"},
        {"database is locked", "The database is locked by another transaction"},
        {"database table is locked", "The table is locked by another statement"},
        {"attempt to write a readonly database", "The database is read-only"},
        {"disk I/O error", "I/O error on the database file"},
        {"database disk image is malformed", "The database file is damaged"},
        {"file is not a database", "The file is not a database"},
        {"unable to open database file", "The database file cannot be opened"},
        {"interrupted", "The statement was cancelled"},
        {"out of memory", "Out of memory"},
        {"string or blob too big", "Value too long"},
        {"datatype mismatch", "Value of the wrong type"},
        {"column index out of range", "Parameter number out of range"},
        {"authorization denied", "Access denied"},
        {"database or disk is full", "The database or disk is full"},
    };
    for (const auto& [text, server] : codes)
        if (msg.size() >= text.size() && msg.compare(msg.size() - text.size(), text.size(), text) == 0)
            return msg.replace(msg.size() - text.size(), text.size(), server);
    return msg;
}

void failMapped(Outcome& o, int ext, std::string msg, bool connecting) {
    int primary = ext & 0xFF;
    int32_t native = -(30000 + ext);
    const char* state = "HY000";
    auto has = [&](const char* s) { return msg.find(s) != std::string::npos; };
    // The server functions tag their failures with a SQLSTATE: "[22007] ...".
    if (msg.size() > 8 && msg[0] == '[' && msg[6] == ']' && msg[7] == ' ') {
        std::string tagged = msg.substr(1, 5);
        msg.erase(0, 8);
        o.fail(native, tagged.c_str(), std::move(msg));
        return;
    }
    switch (primary) {
    case SQLITE_ERROR:
        if (has("no such table") || has("no such view") || has("unknown database"))
            state = "42S02";
        else if (has("no such column"))
            state = "42S22";
        else if (has("no such index"))
            state = "42S12";
        else if (has("index") && has("already exists"))
            state = "42S11";
        else if (has("already exists"))
            state = "42S01";
        else if (has("duplicate column name"))
            state = "42S21";
        else
            state = "42000";
        break;
    case SQLITE_CONSTRAINT:
        state = "23000";
        if (ext == SQLITE_CONSTRAINT_CHECK) {
            size_t at;
            if ((at = msg.find(kLengthCheck)) != std::string::npos) {
                o.fail(native, "22001", "value too long for column " + msg.substr(at + std::strlen(kLengthCheck)));
                return;
            }
            if ((at = msg.find(kRangeCheck)) != std::string::npos) {
                o.fail(native, "22003", "value out of range for column " + msg.substr(at + std::strlen(kRangeCheck)));
                return;
            }
        }
        break;
    case SQLITE_TOOBIG: state = "22001"; break;
    case SQLITE_MISMATCH: state = "22018"; break;
    case SQLITE_RANGE: state = "07009"; break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_ABORT: state = "40001"; break;
    case SQLITE_NOMEM: state = "HY001"; break;
    case SQLITE_READONLY: state = "25006"; break;
    case SQLITE_INTERRUPT: state = "HY008"; break;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_PERM:
    case SQLITE_AUTH: state = "08001"; break;
    default: state = "HY000"; break;
    }
    if (connecting)
        state = "08001";
    o.fail(native, state, serverMessage(std::move(msg)));
}

}  // namespace

void failFromSqlite(Outcome& o, sqlite3* db, int rc) {
    assert(rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE);
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE)
        rc = SQLITE_INTERNAL;
    // The connection's error is this failure's only while nothing ran since: finalizing or
    // resetting a statement that ran sets it back to SQLITE_OK ("not an error").
    int ext = sqlite3_extended_errcode(db);
    if ((ext & 0xFF) == (rc & 0xFF))
        failMapped(o, ext, sqlite3_errmsg(db), false);
    else
        failMapped(o, rc, sqlite3_errstr(rc), false);
}

void failFromSqlite(Outcome& o, int extendedCode, const char* message, bool connecting) {
    failMapped(o, extendedCode, message ? message : "unknown error", connecting);
}

}  // namespace esql::lite
