// What the scrollable-cursor integration tests share: a session on a table t of an integer key
// and a varchar(20) v whose scrolling must be the driver's, a rowset of three bound column-wise
// and the scroll steps run against it, a row bound row-wise, the bookmark set-ups of ODBC 3 and
// ODBC 2, and a temporary folder of the test's own. Each test names its own table, database
// stem and cursor type.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace curtest {

using itest::AllDiags;
using itest::Diag;
using itest::Lib;

constexpr SQLINTEGER kFiller = -1;          // a key buffer the fetch did not write
constexpr SQLULEN kAnyCount = ~SQLULEN{0};  // rows fetched not compared

inline SQLRETURN SetAttr(SQLHANDLE h, SQLINTEGER attr, SQLULEN value) {
    return SQLSetStmtAttr(h, attr, reinterpret_cast<SQLPOINTER>(value), 0);
}

inline SQLRETURN SetPtr(SQLHSTMT stmt, SQLINTEGER attr, void* p) { return SQLSetStmtAttr(stmt, attr, p, 0); }

inline SQLULEN GetAttr(SQLHSTMT stmt, SQLINTEGER attr) {
    SQLULEN v = 99;
    EXPECT_EQ(SQLGetStmtAttr(stmt, attr, &v, 0, nullptr), SQL_SUCCESS) << AllDiags(stmt);
    return v;
}

inline std::string StateOf(SQLHSTMT stmt) { return Diag(SQL_HANDLE_STMT, stmt).substr(0, 5); }

// Runs text on statement h in the width of the library.
inline SQLRETURN ExecOn(bool wide, SQLHSTMT h, const std::string& text) {
    return wide ? SQLExecDirectW(h, itest::Wide(text).data(), SQL_NTS)
                : SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
}

struct Session : itest::Session {
    Session(const Lib& l, const std::string& stem, const std::string& create, SQLULEN version)
        : itest::Session(l, stem, create, version) {
        // Scrolling must be the driver's: the Driver Manager's cursor library stays out.
        SQLULEN dmCursors = 99;
        EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_ODBC_CURSORS, &dmCursors, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(dmCursors, SQLULEN{SQL_CUR_USE_DRIVER});
    }

    // Rows 1..n of t with v = "v<key>", by one parameter array on a statement of its own.
    void Fill(int n) {
        SQLHSTMT h = nullptr;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_SUCCESS);
        std::vector<SQLINTEGER> keys(n);
        std::vector<char> values(static_cast<size_t>(n) * 21);
        for (int i = 0; i < n; ++i) {
            keys[i] = i + 1;
            std::snprintf(&values[static_cast<size_t>(i) * 21], 21, "v%d", i + 1);
        }
        SetAttr(h, SQL_ATTR_PARAMSET_SIZE, static_cast<SQLULEN>(n));
        SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, keys.data(), 0, nullptr);
        SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, values.data(), 21, nullptr);
        EXPECT_EQ(ExecOn(h, "insert into t values (?, ?)"), SQL_SUCCESS) << AllDiags(h);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
    }

    SQLRETURN ExecOn(SQLHSTMT h, const std::string& text) { return curtest::ExecOn(lib.wide, h, text); }

    // Runs text on a statement of its own.
    void Run(const std::string& text) {
        SQLHSTMT h = nullptr;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_SUCCESS);
        EXPECT_TRUE(SQL_SUCCEEDED(ExecOn(h, text))) << text << ": " << AllDiags(h);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
    }

    // A cursor of the type and rowset size over text, at the concurrency when one is given.
    SQLRETURN Open(SQLULEN type, SQLULEN rowset, const std::string& text,
                   std::optional<SQLULEN> concurrency = std::nullopt) {
        SetAttr(stmt, SQL_ATTR_CURSOR_TYPE, type);
        if (concurrency)
            SetAttr(stmt, SQL_ATTR_CONCURRENCY, *concurrency);
        SetAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, rowset);
        return Exec(text);
    }

    // The table t as "id:v ..." in key order, read on a statement of its own.
    std::string Table() {
        SQLHSTMT h = nullptr;
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_SUCCESS);
        EXPECT_EQ(ExecOn(h, "select id, v from t order by id"), SQL_SUCCESS) << AllDiags(h);
        SQLINTEGER id = 0;
        char v[21] = {};
        SQLLEN idInd = 0, vInd = 0;
        SQLBindCol(h, 1, SQL_C_SLONG, &id, 0, &idInd);
        SQLBindCol(h, 2, SQL_C_CHAR, v, sizeof v, &vInd);
        std::string out;
        while (SQLFetch(h) == SQL_SUCCESS)
            out += (out.empty() ? "" : " ") + std::to_string(id) + ":" + (vInd == SQL_NULL_DATA ? "null" : v);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
        return out;
    }

    SQLLEN RowCount() {
        SQLLEN n = -2;
        EXPECT_EQ(SQLRowCount(stmt, &n), SQL_SUCCESS) << AllDiags(stmt);
        return n;
    }

    // SQL_ATTR_ROW_NUMBER; 0 without a current row, where the Driver Manager answers 24000
    // before the driver is asked.
    SQLULEN RowNumber() {
        SQLULEN n = 99;
        if (SQLGetStmtAttr(stmt, SQL_ATTR_ROW_NUMBER, &n, 0, nullptr) == SQL_SUCCESS)
            return n;
        EXPECT_EQ(StateOf(stmt), "24000") << AllDiags(stmt);
        return 0;
    }
};

// Another user: a second connection to the session's database file, in autocommit.
struct OtherUser : itest::Connection {
    explicit OtherUser(const itest::Session& s)
        : itest::Connection(s.lib.driver, s.lib.wide, "DATABASENAME=" + s.db) {}

    void Run(const std::string& text) {
        SQLFreeStmt(stmt, SQL_CLOSE);
        EXPECT_EQ(curtest::ExecOn(wide, stmt, text), SQL_SUCCESS) << text << ": " << AllDiags(stmt);
    }
};

// One bound row of (key, v) as "k:v:kInd:vInd".
inline std::string Element(SQLINTEGER k, const char* v, size_t room, SQLLEN kInd, SQLLEN vInd) {
    return std::to_string(k) + ":" + std::string(v, strnlen(v, room)) + ":" + std::to_string(kInd) + ":" +
           std::to_string(vInd);
}

// One row of (key, v) for row-wise binding.
struct BoundRow {
    SQLINTEGER k;
    SQLLEN kInd;
    char v[21];
    SQLLEN vInd;

    std::string Text() const { return Element(k, v, sizeof v, kInd, vInd); }
};

// Binds the columns row-wise, the rowset starting at rows[0].
inline void BindRowWise(SQLHSTMT stmt, BoundRow* rows) {
    SetAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, sizeof(BoundRow));
    SQLBindCol(stmt, 1, SQL_C_SLONG, &rows[0].k, 0, &rows[0].kInd);
    SQLBindCol(stmt, 2, SQL_C_CHAR, rows[0].v, sizeof rows[0].v, &rows[0].vInd);
}

// A rowset of three rows bound column-wise: keys, values, their indicators, the statuses
// and the rows fetched.
struct Rowset3 {
    SQLINTEGER k[3];
    SQLLEN kInd[3];
    char v[3][21];
    SQLLEN vInd[3];
    SQLUSMALLINT status[3];
    SQLULEN fetched;

    void BindColumns(SQLHSTMT stmt) {
        SQLBindCol(stmt, 1, SQL_C_SLONG, k, 0, kInd);
        SQLBindCol(stmt, 2, SQL_C_CHAR, v, sizeof v[0], vInd);
    }
    void Bind(SQLHSTMT stmt, bool withStatus = true) {
        BindColumns(stmt);
        SetPtr(stmt, SQL_ATTR_ROW_STATUS_PTR, withStatus ? status : nullptr);
        SetPtr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    }
    void Clear() {
        for (int i = 0; i < 3; ++i) {
            k[i] = kFiller;
            std::strcpy(v[i], "-");
            status[i] = 9;
        }
        fetched = 99;
    }
    // "k1 k2 k3": "-" for a row the fetch left alone, "k=value" for a value other than "v<k>"
    // ("?=value" when only the value was written).
    std::string Keys() const {
        std::string out;
        for (int i = 0; i < 3; ++i) {
            if (i != 0)
                out += ' ';
            if (k[i] == kFiller) {
                out += std::strcmp(v[i], "-") == 0 ? "-" : std::string("?=") + v[i];
                continue;
            }
            out += std::to_string(k[i]);
            if (std::string(v[i]) != "v" + std::to_string(k[i]))
                out += "=" + std::string(v[i]);
        }
        return out;
    }
    std::string Statuses() const {
        std::string out;
        for (SQLUSMALLINT s : status)
            out += static_cast<char>('0' + s);
        return out;
    }
};

// ODBC 3 variable bookmarks switched on and column 0 bound to marks beside the bound rowset
// r, the cursor opened by open() and on rows 4 to 6.
template <class Open>
void OpenOnRowFourWithVariableBookmarks(SQLHSTMT stmt, const Rowset3& r, SQLLEN (&marks)[3], SQLLEN (&markLen)[3],
                                        Open open) {
    ASSERT_EQ(SetAttr(stmt, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE), SQL_SUCCESS) << AllDiags(stmt);
    ASSERT_EQ(SQLBindCol(stmt, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], markLen), SQL_SUCCESS)
        << AllDiags(stmt);
    ASSERT_EQ(open(), SQL_SUCCESS) << AllDiags(stmt);
    ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_ABSOLUTE, 4), SQL_SUCCESS) << AllDiags(stmt);
    ASSERT_EQ(r.Keys(), "4 5 6");
}

// An ODBC 2 application's cursor of the type over text: rowset size and bookmarks set by
// SQLSetStmtOption, the columns bound to r and fixed bookmarks to column 0; the statuses and
// rows fetched are SQLExtendedFetch's arguments.
inline void OpenOdbc2WithBookmarks(Session& s, SQLULEN type, Rowset3& r, BOOKMARK (&marks)[3],
                                   const std::string& text) {
    ASSERT_EQ(SQLSetStmtOption(s.stmt, SQL_CURSOR_TYPE, type), SQL_SUCCESS) << AllDiags(s.stmt);
    ASSERT_EQ(SQLSetStmtOption(s.stmt, SQL_ROWSET_SIZE, 3), SQL_SUCCESS) << AllDiags(s.stmt);
    ASSERT_EQ(SQLSetStmtOption(s.stmt, SQL_USE_BOOKMARKS, SQL_UB_ON), SQL_SUCCESS) << AllDiags(s.stmt);
    r.BindColumns(s.stmt);
    ASSERT_EQ(SQLBindCol(s.stmt, 0, SQL_C_BOOKMARK, marks, 0, nullptr), SQL_SUCCESS) << AllDiags(s.stmt);
    ASSERT_EQ(s.Exec(text), SQL_SUCCESS) << AllDiags(s.stmt);
}

// One scroll and what it should answer. Statuses are not compared after SQL_NO_DATA (they
// are undefined then); keys are, since a fetch without rows writes no bound buffer.
struct Step {
    SQLSMALLINT orientation;
    SQLLEN offset;
    SQLRETURN rc;
    SQLULEN rows;
    const char* keys;
    const char* statuses;
    SQLULEN rowNumber;
};

// Orientation 0 stands for a step made by SQLFetch.
inline std::string Describe(SQLSMALLINT orientation, SQLLEN offset) {
    static const char* const names[] = {"SQLFetch", "NEXT", "FIRST", "LAST", "PRIOR", "ABSOLUTE", "RELATIVE", "", "BOOKMARK"};
    return std::string(names[orientation]) + " " + std::to_string(offset);
}

// Whether statuses match the pattern, where '?' stands for a row fetched and perhaps marked
// updated (SQL_ROW_SUCCESS or SQL_ROW_UPDATED).
inline bool StatusesMatch(const std::string& got, const std::string& pattern) {
    if (got.size() != pattern.size())
        return false;
    for (size_t i = 0; i < got.size(); ++i) {
        const bool ok = pattern[i] == '?' ? (got[i] == '0' + SQL_ROW_SUCCESS || got[i] == '0' + SQL_ROW_UPDATED)
                                          : got[i] == pattern[i];
        if (!ok)
            return false;
    }
    return true;
}

// Runs the steps in order on a rowset of three, each on the position the one before left.
// fetch performs one scroll.
template <class Fetch>
void RunSteps(Session& s, Rowset3& r, const std::vector<Step>& steps, Fetch fetch) {
    for (const Step& step : steps) {
        SCOPED_TRACE(Describe(step.orientation, step.offset));
        r.Clear();
        const SQLRETURN rc = fetch(step);
        ASSERT_EQ(rc, step.rc) << AllDiags(s.stmt);
        if (step.rows != kAnyCount) {
            EXPECT_EQ(r.fetched, step.rows);
        }
        EXPECT_EQ(r.Keys(), step.keys);
        if (rc != SQL_NO_DATA) {
            EXPECT_TRUE(StatusesMatch(r.Statuses(), step.statuses)) << r.Statuses() << " for " << step.statuses;
        }
        EXPECT_EQ(s.RowNumber(), step.rowNumber);
    }
}

// The steps, each scrolled by SQLFetchScroll.
inline void RunSteps(Session& s, Rowset3& r, const std::vector<Step>& steps) {
    RunSteps(s, r, steps, [&](const Step& st) { return SQLFetchScroll(s.stmt, st.orientation, st.offset); });
}

// A session of the test's kind S on rows 1..n, with a rowset of three bound column-wise.
template <class S>
struct Bound {
    S s;
    Rowset3 r;
    Bound(const Lib& lib, int n) : s(lib) {
        s.Fill(n);
        r.Bind(s.stmt);
    }
};

// In each library: rows 1..10 with a rowset of three bound, the cursor opened by open(s) and
// without a current row, then the steps.
template <class S, class Open>
void ScrollTenRows(const std::vector<Step>& steps, Open open) {
    for (const Lib& lib : itest::kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound<S> b(lib, 10);
        ASSERT_NO_FATAL_FAILURE(open(b.s));
        EXPECT_EQ(b.s.RowNumber(), 0u);
        RunSteps(b.s, b.r, steps);
    }
}

// Sets TMPDIR to an empty folder of the test's own for the test's time, and gives both back.
// Temporary files are counted when their names start with prefix.
struct OwnTempFolder {
    std::string path;
    std::string prefix;
    std::optional<std::string> saved;

    OwnTempFolder(const std::string& stem, std::string filePrefix)
        : path(itest::DbBase(stem)), prefix(std::move(filePrefix)) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directory(path);
        if (const char* old = std::getenv("TMPDIR"); old != nullptr)
            saved = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~OwnTempFolder() {
        if (saved)
            setenv("TMPDIR", saved->c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::filesystem::remove_all(path);
    }
    OwnTempFolder(const OwnTempFolder&) = delete;
    OwnTempFolder& operator=(const OwnTempFolder&) = delete;

    bool Empty() const { return std::filesystem::is_empty(path); }
    // The process's open files that were made in the folder and have lost their name.
    int OpenNameless() const {
        int n = 0;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
            if (!ec && target.rfind(path + "/" + prefix, 0) == 0 && target.ends_with(" (deleted)"))
                ++n;
        }
        return n;
    }

    // Frees the session's statement: the cursor's files close and leave the folder empty.
    void ExpectFreeingTheStatementLeavesNoFile(Session& s) const {
        ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, s.stmt), SQL_SUCCESS);
        s.stmt = nullptr;
        EXPECT_EQ(OpenNameless(), 0) << "after freeing the statement";
        EXPECT_TRUE(Empty());
    }
};

}  // namespace curtest
