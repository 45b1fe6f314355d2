// The system catalog of the SQLite back-end: real tables in a private in-memory database
// attached to each connection as SYSPROGRESS, filled from SQLite's own schema of the user's
// file (tables, views, columns with their declared types, NOT NULL, defaults, indexes,
// primary, unique and foreign keys) and rebuilt when that schema's version changes.
//
// Why tables and not views: the catalog queries join on rowid, and SQLite answers NULL for
// the rowid of a view without complaint. Why a private database: the catalog must never be
// written into the user's file. The PUB."_File" names reach these tables through the SQL
// translation (sqlite_sql.cpp), which sends PUB."_File" to SYSPROGRESS."_File".
//
// Names are NOCASE, as SQLite's identifiers are (and as LIKE compares); the padded codes of
// SYSINDEXES ('U ', 'A ') are RTRIM, so 'U' and 'U ' compare equal.
//
// The server keeps remarks; SQLite has none, so a "--" comment in a CREATE TABLE or CREATE
// VIEW text stands for one: before the opening parenthesis it remarks the table, after a
// column's definition it remarks that column.
//
// There are no grants in SQLite: the privilege tables give the owner every privilege on
// its tables, with grant option ('g'); views cannot be written.
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/esql92/sqlite_internal.h"

namespace esql::lite {

namespace {

std::atomic<uint64_t> builds{0};

const char kCatalogSchema[] = R"SQL(
CREATE TABLE SYSPROGRESS."_File" (
  "_File-rowid" INTEGER PRIMARY KEY, "_File-Name" VARCHAR(32) COLLATE NOCASE,
  "_Owner" VARCHAR(32) COLLATE NOCASE, "_Tbl-Type" VARCHAR(1), "_Desc" VARCHAR(2000),
  "_Prime-Index" INTEGER, "_Hidden" INTEGER);
CREATE TABLE SYSPROGRESS."_Field" (
  "_Field-rowid" INTEGER PRIMARY KEY, "_File-recid" INTEGER, "_Field-Name" VARCHAR(32) COLLATE NOCASE,
  "_Data-Type" VARCHAR(32), "_dtype" INTEGER, "_Fetch-type" VARCHAR(32), "_Width" INTEGER,
  "_Decimals" INTEGER, "_Mandatory" INTEGER, "_Extent" INTEGER, "_Desc" VARCHAR(2000),
  "_Initial" VARCHAR(2000), "_field-rpos" INTEGER, "_Order" INTEGER);
CREATE TABLE SYSPROGRESS."_Index" (
  "_Index-rowid" INTEGER PRIMARY KEY, "_Index-Name" VARCHAR(128) COLLATE NOCASE, "_File-recid" INTEGER,
  "_Unique" INTEGER, "_Active" INTEGER, "_num-comp" INTEGER, "_Desc" VARCHAR(2000));
CREATE TABLE SYSPROGRESS."_Index-Field" (
  "_Index-Recid" INTEGER, "_Field-Recid" INTEGER, "_Index-Seq" INTEGER, "_Ascending" INTEGER);
CREATE TABLE SYSPROGRESS.SYSTABLES (
  TBL VARCHAR(32) COLLATE NOCASE, OWNER VARCHAR(32) COLLATE NOCASE, TBLTYPE VARCHAR(1), ID INTEGER,
  CREATOR VARCHAR(32) COLLATE NOCASE);
CREATE TABLE SYSPROGRESS.SYSCOLUMNS (
  OWNER VARCHAR(32) COLLATE NOCASE, TBL VARCHAR(32) COLLATE NOCASE, COL VARCHAR(32) COLLATE NOCASE,
  COLTYPE VARCHAR(32), WIDTH INTEGER, SCALE INTEGER, NULLFLAG VARCHAR(1), ID INTEGER,
  DFLT_VALUE VARCHAR(2000));
CREATE TABLE SYSPROGRESS.SYSINDEXES (
  IDXNAME VARCHAR(128) COLLATE NOCASE, IDXOWNER VARCHAR(32) COLLATE NOCASE, TBL VARCHAR(32) COLLATE NOCASE,
  TBLOWNER VARCHAR(32) COLLATE NOCASE, COLNAME VARCHAR(32) COLLATE NOCASE, IDXTYPE VARCHAR(2) COLLATE RTRIM,
  IDXMETHOD VARCHAR(2) COLLATE RTRIM, IDXSEQ INTEGER, IDXORDER VARCHAR(2) COLLATE RTRIM, ID INTEGER);
CREATE TABLE SYSPROGRESS.SYSTABAUTH (
  GRANTOR VARCHAR(32) COLLATE NOCASE, GRANTEE VARCHAR(32) COLLATE NOCASE, TBLOWNER VARCHAR(32) COLLATE NOCASE,
  TBL VARCHAR(32) COLLATE NOCASE, REF VARCHAR(1), INS VARCHAR(1), DEL VARCHAR(1), UPD VARCHAR(1),
  SEL VARCHAR(1), ALT VARCHAR(1), IDX VARCHAR(1));
CREATE TABLE SYSPROGRESS.SYSCOLAUTH (
  GRANTOR VARCHAR(32) COLLATE NOCASE, GRANTEE VARCHAR(32) COLLATE NOCASE, TBLOWNER VARCHAR(32) COLLATE NOCASE,
  TBL VARCHAR(32) COLLATE NOCASE, COL VARCHAR(32) COLLATE NOCASE, REF VARCHAR(1), UPD VARCHAR(1),
  SEL VARCHAR(1));
CREATE TABLE SYSPROGRESS.SYSPROCEDURES (
  OWNER VARCHAR(32) COLLATE NOCASE, PROC_NAME VARCHAR(32) COLLATE NOCASE, PROC_ID INTEGER,
  HAS_RETURN_VAL VARCHAR(1));
CREATE TABLE SYSPROGRESS.SYSPROCCOLUMNS (
  PROC_ID INTEGER, COL VARCHAR(32) COLLATE NOCASE, ARGTYPE VARCHAR(32), DATATYPE VARCHAR(32), WIDTH INTEGER,
  SCALE INTEGER, NULLFLAG VARCHAR(1), DFLT_VALUE VARCHAR(2000));
CREATE TABLE SYSPROGRESS.SYS_TBL_CONSTRS (
  OWNER VARCHAR(32) COLLATE NOCASE, TBLNAME VARCHAR(32) COLLATE NOCASE, CNSTRNAME VARCHAR(128) COLLATE NOCASE,
  CNSTRTYPE VARCHAR(1));
CREATE TABLE SYSPROGRESS.SYS_REF_CONSTRS (
  OWNER VARCHAR(32) COLLATE NOCASE, TBLNAME VARCHAR(32) COLLATE NOCASE, CNSTRNAME VARCHAR(128) COLLATE NOCASE,
  REFOWNER VARCHAR(32) COLLATE NOCASE, REFTBLNAME VARCHAR(32) COLLATE NOCASE,
  REFCNSTRNAME VARCHAR(128) COLLATE NOCASE);
CREATE TABLE SYSPROGRESS.SYS_KEYCOL_USAGE (
  OWNER VARCHAR(32) COLLATE NOCASE, TBLNAME VARCHAR(32) COLLATE NOCASE, CNSTRNAME VARCHAR(128) COLLATE NOCASE,
  COLNAME VARCHAR(32) COLLATE NOCASE, COLPOSITION INTEGER);
CREATE TABLE SYSPROGRESS.SYSCALCTABLE (FLD VARCHAR(1));
INSERT INTO SYSPROGRESS.SYSCALCTABLE VALUES ('X');
)SQL";

// The server's one-row table for SELECT expr FROM SYSPROGRESS.SYSCALCTABLE: filled once when
// the catalog is attached, never rebuilt with the rest.
const char kCalcTable[] = "SYSCALCTABLE";

// The catalog's own tables, in the order they are listed as system tables.
const char* const kCatalogTables[] = {
    "_File", "_Field", "_Index", "_Index-Field", "SYSTABLES", "SYSCOLUMNS", "SYSINDEXES", "SYSTABAUTH",
    "SYSCOLAUTH", "SYSPROCEDURES", "SYSPROCCOLUMNS", "SYS_TBL_CONSTRS", "SYS_REF_CONSTRS", "SYS_KEYCOL_USAGE",
    kCalcTable,
};

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
}

// A prepared statement that finalizes itself.
struct Stmt {
    sqlite3_stmt* s = nullptr;
    Stmt(sqlite3* db, const char* sql, int& rc) {
        if (rc == SQLITE_OK)
            rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    }
    ~Stmt() { sqlite3_finalize(s); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    std::string text(int i) const {
        const unsigned char* t = sqlite3_column_text(s, i);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    bool isNull(int i) const { return sqlite3_column_type(s, i) == SQLITE_NULL; }
};

// Binds the values in order and runs an INSERT; a std::nullptr_t binds NULL.
struct Arg {
    enum { Null, Int, Text } kind;
    int64_t i = 0;
    std::string_view t;
    Arg(std::nullptr_t) : kind(Null) {}
    Arg(int64_t v) : kind(Int), i(v) {}
    Arg(int v) : kind(Int), i(v) {}
    Arg(const std::string& v) : kind(Text), t(v) {}
    Arg(const char* v) : kind(Text), t(v) {}
};

int insert(Stmt& st, std::initializer_list<Arg> args) {
    int i = 1;
    for (const Arg& a : args) {
        switch (a.kind) {
        case Arg::Null: sqlite3_bind_null(st.s, i); break;
        case Arg::Int: sqlite3_bind_int64(st.s, i, a.i); break;
        case Arg::Text: sqlite3_bind_text(st.s, i, a.t.data(), static_cast<int>(a.t.size()), SQLITE_TRANSIENT); break;
        }
        ++i;
    }
    int rc = sqlite3_step(st.s);
    sqlite3_reset(st.s);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

struct Column {
    std::string name;
    std::string decl;
    bool notNull = false;
    int pk = 0;                 // position in the primary key from 1, 0 when not in it
    bool hasDefault = false;
    std::string dflt;
    int64_t fieldId = 0;
};

struct IndexCol {
    int cid;
    std::string name;
    bool desc;
};

struct Index {
    std::string name;           // as the catalog shows it
    std::string origin;         // c, u, pk (and "rowid" for the rowid alias key)
    bool unique = false;
    std::vector<IndexCol> cols;
    int64_t indexId = 0;
};

struct ForeignKey {
    int id;
    std::string parent;
    std::vector<std::pair<std::string, std::string>> cols;   // (from, to); to empty: the parent's key
};

struct Table {
    std::string name;
    char type;                  // 'T', 'V' or 'S'
    std::string owner;
    std::string sql;
    int64_t fileId = 0;
    std::vector<Column> cols;
    std::vector<Index> indexes;
    std::vector<ForeignKey> fks;
    std::string remark;
    std::map<std::string, std::string> colRemarks;   // by lower-case name
};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The remarks of a CREATE text: a "--" comment before the first parenthesis remarks the
// table; one inside the column list remarks the last column named before it.
void readRemarks(Table& t) {
    std::string_view s = t.sql;
    int depth = 0;
    bool expectName = false;
    std::string lastCol;
    auto add = [](std::string& to, const std::string& text) {
        if (text.empty())
            return;
        if (!to.empty())
            to += ' ';
        to += text;
    };
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            size_t e = s.find('\n', i);
            if (e == std::string_view::npos)
                e = s.size();
            std::string text = trimmed(s.substr(i + 2, e - i - 2));
            if (depth == 0 && lastCol.empty())
                add(t.remark, text);
            else if (depth >= 1 && !lastCol.empty())
                add(t.colRemarks[lower(lastCol)], text);
            i = e;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            size_t e = s.find("*/", i + 2);
            i = e == std::string_view::npos ? s.size() : e + 2;
            continue;
        }
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t e = i + 1;
            while (e < s.size() && !(s[e] == close && !(e + 1 < s.size() && s[e + 1] == close && close != ']')))
                e += (s[e] == close) ? 2 : 1;
            if (depth == 1 && expectName && c != '\'') {
                std::string name;
                for (size_t k = i + 1; k < e && k < s.size(); ++k) {
                    name += s[k];
                    if (s[k] == close && k + 1 < e)
                        ++k;
                }
                lastCol = name;
                expectName = false;
            }
            i = e + 1;
            continue;
        }
        if (c == '(') {
            if (++depth == 1)
                expectName = true;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth == 1) {
            expectName = true;
        } else if (depth == 1 && expectName && (std::isalpha(static_cast<unsigned char>(c)) || c == '_')) {
            size_t e = i;
            while (e < s.size() && (std::isalnum(static_cast<unsigned char>(s[e])) || s[e] == '_' || s[e] == '$'))
                ++e;
            std::string word(s.substr(i, e - i));
            std::string up = lower(word);
            // Table constraints name no column.
            if (up != "constraint" && up != "primary" && up != "unique" && up != "check" && up != "foreign")
                lastCol = word;
            expectName = false;
            i = e;
            continue;
        }
        ++i;
    }
}

// Whether a failure reading one object's schema is the object's own (a view over a dropped
// table or column, a virtual table whose module is not loaded): that object is left out of
// what the catalog lists, the others still are. Anything else (busy, I/O, memory) is the
// whole build's failure.
bool unreadableObject(int rc) {
    return (rc & 0xFF) == SQLITE_ERROR;
}

// Fills tables from the file's schema. A failure is SQLite's code with its message in error,
// taken before any other statement runs: finalizing one that has run resets the
// connection's error to "not an error".
int readTables(sqlite3* db, std::vector<Table>& tables, std::string& error) {
    int rc = SQLITE_OK;
    auto failed = [&](int r) {
        error = sqlite3_errmsg(db);
        return r;
    };
    Stmt list(db,
              "SELECT name, type, sql FROM PUB.sqlite_schema WHERE type IN ('table', 'view')"
              " AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name",
              rc);
    Stmt info(db, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1, 'PUB')", rc);
    Stmt idx(db, "SELECT seq, name, \"unique\", origin FROM pragma_index_list(?1, 'PUB') ORDER BY seq DESC", rc);
    Stmt xinfo(db, "SELECT cid, name, \"desc\" FROM pragma_index_xinfo(?1, 'PUB') WHERE key = 1 ORDER BY seqno", rc);
    Stmt fk(db, "SELECT id, seq, \"table\", \"from\", \"to\" FROM pragma_foreign_key_list(?1, 'PUB') ORDER BY id, seq",
            rc);
    if (rc != SQLITE_OK)
        return failed(rc);
    while ((rc = sqlite3_step(list.s)) == SQLITE_ROW) {
        Table t;
        t.name = list.text(0);
        t.type = list.text(1) == "view" ? 'V' : 'T';
        t.owner = "PUB";
        t.sql = list.text(2);
        tables.push_back(std::move(t));
    }
    if (rc != SQLITE_DONE)
        return failed(rc);
    for (Table& t : tables) {
        readRemarks(t);
        sqlite3_bind_text(info.s, 1, t.name.c_str(), -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(info.s)) == SQLITE_ROW) {
            Column c;
            c.name = info.text(0);
            c.decl = info.text(1);
            c.notNull = sqlite3_column_int(info.s, 2) != 0;
            c.hasDefault = !info.isNull(3);
            c.dflt = info.text(3);
            c.pk = sqlite3_column_int(info.s, 4);
            t.cols.push_back(std::move(c));
        }
        if (rc != SQLITE_DONE) {
            rc = failed(rc);
            sqlite3_reset(info.s);
            if (!unreadableObject(rc))
                return rc;
            // Listed, as the server lists a view that its dropped table left invalid, but
            // with nothing that would need its definition read.
            t.cols.clear();
            continue;
        }
        sqlite3_reset(info.s);
        if (t.type != 'T')
            continue;
        bool pkIndexed = false;
        sqlite3_bind_text(idx.s, 1, t.name.c_str(), -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(idx.s)) == SQLITE_ROW) {
            Index ix;
            std::string sqliteName = idx.text(1);
            ix.unique = sqlite3_column_int(idx.s, 2) != 0;
            ix.origin = idx.text(3);
            ix.name = ix.origin == "pk" ? "pk_" + t.name : sqliteName;
            pkIndexed = pkIndexed || ix.origin == "pk";
            sqlite3_bind_text(xinfo.s, 1, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
            int xrc;
            while ((xrc = sqlite3_step(xinfo.s)) == SQLITE_ROW) {
                int cid = sqlite3_column_int(xinfo.s, 0);
                if (cid >= 0)
                    ix.cols.push_back({cid, xinfo.text(1), sqlite3_column_int(xinfo.s, 2) != 0});
            }
            if (xrc != SQLITE_DONE) {
                xrc = failed(xrc);
                sqlite3_reset(xinfo.s);
                sqlite3_reset(idx.s);
                return xrc;
            }
            sqlite3_reset(xinfo.s);
            if (!ix.cols.empty())
                t.indexes.push_back(std::move(ix));
        }
        if (rc != SQLITE_DONE) {
            rc = failed(rc);
            sqlite3_reset(idx.s);
            return rc;
        }
        sqlite3_reset(idx.s);
        // A rowid alias key (INTEGER PRIMARY KEY) has no index of its own in SQLite.
        if (!pkIndexed) {
            Index ix;
            ix.name = "pk_" + t.name;
            ix.origin = "pk";
            ix.unique = true;
            std::vector<std::pair<int, IndexCol>> keyed;
            for (size_t cid = 0; cid < t.cols.size(); ++cid)
                if (t.cols[cid].pk > 0)
                    keyed.push_back({t.cols[cid].pk, {static_cast<int>(cid), t.cols[cid].name, false}});
            std::sort(keyed.begin(), keyed.end(), [](auto& a, auto& b) { return a.first < b.first; });
            for (auto& [pos, col] : keyed)
                ix.cols.push_back(col);
            if (!ix.cols.empty())
                t.indexes.insert(t.indexes.begin(), std::move(ix));
        }
        sqlite3_bind_text(fk.s, 1, t.name.c_str(), -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(fk.s)) == SQLITE_ROW) {
            int id = sqlite3_column_int(fk.s, 0);
            if (t.fks.empty() || t.fks.back().id != id)
                t.fks.push_back({id, fk.text(2), {}});
            t.fks.back().cols.push_back({fk.text(3), fk.text(4)});
        }
        if (rc != SQLITE_DONE) {
            rc = failed(rc);
            sqlite3_reset(fk.s);
            return rc;
        }
        sqlite3_reset(fk.s);
    }
    return SQLITE_OK;
}

// The catalog's own tables, described by their declared columns.
int readCatalogTables(sqlite3* db, std::vector<Table>& tables, std::string& error) {
    int rc = SQLITE_OK;
    Stmt info(db, "SELECT name, type FROM pragma_table_info(?1, 'SYSPROGRESS')", rc);
    if (rc != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return rc;
    }
    for (const char* name : kCatalogTables) {
        Table t;
        t.name = name;
        t.type = 'S';
        t.owner = name[0] == '_' ? "PUB" : "SYSPROGRESS";
        sqlite3_bind_text(info.s, 1, name, -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(info.s)) == SQLITE_ROW) {
            Column c;
            c.name = info.text(0);
            c.decl = info.text(1);
            // The rowid aliases stand for rowid, which the server does not list.
            if (c.name.size() > 6 && c.name.compare(c.name.size() - 6, 6, "-rowid") == 0)
                continue;
            t.cols.push_back(std::move(c));
        }
        if (rc != SQLITE_DONE) {
            error = sqlite3_errmsg(db);
            sqlite3_reset(info.s);
            return rc;
        }
        sqlite3_reset(info.s);
        tables.push_back(std::move(t));
    }
    return SQLITE_OK;
}

// The key of the parent that a foreign key refers to: its primary key when the foreign key
// names no columns, else the unique index over exactly the named ones. Sets the key's name
// and its columns in key order when one is found.
bool findReferencedKey(const Table& parent, const std::vector<std::string>& to, std::string& name,
                       std::vector<std::string>& keyOrder) {
    bool primary = std::all_of(to.begin(), to.end(), [](const std::string& c) { return c.empty(); });
    for (const Index& ix : parent.indexes) {
        if (!ix.unique || ix.cols.size() != to.size())
            continue;
        bool match = primary ? ix.origin == "pk" : std::all_of(to.begin(), to.end(), [&](const std::string& c) {
            return std::any_of(ix.cols.begin(), ix.cols.end(), [&](const IndexCol& k) { return sameName(k.name, c); });
        });
        if (!match)
            continue;
        name = ix.name;
        keyOrder.clear();
        for (const IndexCol& k : ix.cols)
            keyOrder.push_back(k.name);
        return true;
    }
    return false;
}

int fill(sqlite3* db, std::vector<Table>& tables, std::string& error) {
    int rc = SQLITE_OK;
    Stmt file(db, "INSERT INTO SYSPROGRESS.\"_File\" VALUES (?1, ?2, ?3, ?4, ?5, ?6, 0)", rc);
    Stmt field(db, "INSERT INTO SYSPROGRESS.\"_Field\" VALUES (?1, ?2, ?3, ?4, ?5, ?4, ?6, ?7, ?8, 0, ?9, ?10, ?11, ?12)",
               rc);
    Stmt index(db, "INSERT INTO SYSPROGRESS.\"_Index\" VALUES (?1, ?2, ?3, ?4, 1, ?5, NULL)", rc);
    Stmt indexField(db, "INSERT INTO SYSPROGRESS.\"_Index-Field\" VALUES (?1, ?2, ?3, ?4)", rc);
    Stmt systables(db, "INSERT INTO SYSPROGRESS.SYSTABLES VALUES (?1, ?2, ?3, ?4, ?2)", rc);
    Stmt syscolumns(db, "INSERT INTO SYSPROGRESS.SYSCOLUMNS VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)", rc);
    Stmt sysindexes(db, "INSERT INTO SYSPROGRESS.SYSINDEXES VALUES (?1, ?2, ?3, ?2, ?4, ?5, 'B', ?6, ?7, ?8)", rc);
    Stmt tabauth(db, "INSERT INTO SYSPROGRESS.SYSTABAUTH VALUES (?1, ?1, ?1, ?2, 'g', ?3, ?3, ?3, 'g', ?3, ?3)", rc);
    Stmt colauth(db, "INSERT INTO SYSPROGRESS.SYSCOLAUTH VALUES (?1, ?1, ?1, ?2, ?3, 'g', ?4, 'g')", rc);
    Stmt constrs(db, "INSERT INTO SYSPROGRESS.SYS_TBL_CONSTRS VALUES (?1, ?2, ?3, ?4)", rc);
    Stmt refs(db, "INSERT INTO SYSPROGRESS.SYS_REF_CONSTRS VALUES (?1, ?2, ?3, ?4, ?5, ?6)", rc);
    Stmt keycols(db, "INSERT INTO SYSPROGRESS.SYS_KEYCOL_USAGE VALUES (?1, ?2, ?3, ?4, ?5)", rc);
    if (rc != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return rc;
    }

    int64_t nextFile = 1, nextField = 1, nextIndex = 1;
    for (Table& t : tables) {
        t.fileId = nextFile++;
        for (size_t cid = 0; cid < t.cols.size(); ++cid)
            t.cols[cid].fieldId = nextField++;
        for (Index& ix : t.indexes)
            ix.indexId = nextIndex++;
    }
    auto ok = [&](int r) {
        if (r != SQLITE_OK && rc == SQLITE_OK) {
            rc = r;
            error = sqlite3_errmsg(db);
        }
        return rc == SQLITE_OK;
    };
    for (const Table& t : tables) {
        // The primary index: the primary key's, else the first unique one.
        const Index* prime = nullptr;
        for (const Index& ix : t.indexes)
            if (ix.origin == "pk")
                prime = &ix;
        for (const Index& ix : t.indexes)
            if (prime == nullptr && ix.unique)
                prime = &ix;
        const char type[2] = {t.type, 0};
        Arg remark = t.remark.empty() ? Arg(nullptr) : Arg(t.remark);
        Arg primeId = prime ? Arg(prime->indexId) : Arg(nullptr);
        if (!ok(insert(file, {t.fileId, t.name, t.owner, type, remark, primeId})) ||
            !ok(insert(systables, {t.name, t.owner, type, t.fileId})) ||
            (t.type != 'S' && !ok(insert(tabauth, {t.owner, t.name, t.type == 'T' ? "g" : "n"}))))
            return rc;
        for (size_t cid = 0; cid < t.cols.size(); ++cid) {
            const Column& c = t.cols[cid];
            ColumnDesc d;
            if (c.decl.empty() || !parseDeclaredType(c.decl, d))
                d = describeType(ESQL_VARCHAR, 2000);
            bool mandatory = c.notNull || c.pk > 0;
            auto r = t.colRemarks.find(lower(c.name));
            Arg colRemark = r == t.colRemarks.end() ? Arg(nullptr) : Arg(r->second);
            Arg dflt = c.hasDefault ? Arg(c.dflt) : Arg(nullptr);
            const char* typeName = catalogTypeName(d.type);
            auto pos = static_cast<int64_t>(cid);
            if (!ok(insert(field, {c.fieldId, t.fileId, c.name, typeName, catalogTypeCode(d.type),
                                   static_cast<int64_t>(d.precision), static_cast<int64_t>(d.scale),
                                   mandatory ? 1 : 0, colRemark, dflt, pos + 2, pos + 1})) ||
                !ok(insert(syscolumns, {t.owner, t.name, c.name, typeName, static_cast<int64_t>(d.precision),
                                        static_cast<int64_t>(d.scale), mandatory ? "N" : "Y", pos + 1, dflt})) ||
                (t.type != 'S' && !ok(insert(colauth, {t.owner, t.name, c.name, t.type == 'T' ? "g" : "n"}))))
                return rc;
        }
        for (const Index& ix : t.indexes) {
            if (!ok(insert(index, {ix.indexId, ix.name, t.fileId, ix.unique ? 1 : 0,
                                   static_cast<int64_t>(ix.cols.size())})))
                return rc;
            for (size_t k = 0; k < ix.cols.size(); ++k) {
                const IndexCol& ic = ix.cols[k];
                auto seq = static_cast<int64_t>(k);
                if (!ok(insert(indexField, {ix.indexId, t.cols[static_cast<size_t>(ic.cid)].fieldId, seq + 1,
                                            ic.desc ? 0 : 1})) ||
                    !ok(insert(sysindexes, {ix.name, t.owner, t.name, ic.name, ix.unique ? "U " : "D ", seq,
                                            ic.desc ? "D " : "A ", ix.indexId})))
                    return rc;
            }
            // Key constraints: the primary key and the table's UNIQUE constraints.
            if (ix.origin == "pk" || ix.origin == "u") {
                if (!ok(insert(constrs, {t.owner, t.name, ix.name, ix.origin == "pk" ? "P" : "U"})))
                    return rc;
                for (size_t k = 0; k < ix.cols.size(); ++k)
                    if (!ok(insert(keycols, {t.owner, t.name, ix.name, ix.cols[k].name, static_cast<int64_t>(k)})))
                        return rc;
            }
        }
        for (const ForeignKey& f : t.fks) {
            std::string name = "fk_" + t.name + "_" + std::to_string(f.id);
            const Table* parent = nullptr;
            for (const Table& p : tables)
                if (p.type == 'T' && sameName(p.name, f.parent))
                    parent = &p;
            std::vector<std::string> to;
            for (const auto& [from, target] : f.cols)
                to.push_back(target);
            std::string refName = "pk_" + f.parent;
            std::vector<std::string> keyOrder;
            if (parent != nullptr)
                findReferencedKey(*parent, to, refName, keyOrder);
            if (!ok(insert(constrs, {t.owner, t.name, name, "F"})) ||
                !ok(insert(refs, {t.owner, t.name, name, "PUB", f.parent, refName})))
                return rc;
            // Each foreign-key column takes the position of the key column it refers to,
            // so that the two pair by position.
            for (size_t k = 0; k < f.cols.size(); ++k) {
                int64_t position = static_cast<int64_t>(k);
                const std::string& target = f.cols[k].second;
                for (size_t p = 0; p < keyOrder.size() && !target.empty(); ++p)
                    if (sameName(keyOrder[p], target))
                        position = static_cast<int64_t>(p);
                if (!ok(insert(keycols, {t.owner, t.name, name, f.cols[k].first, position})))
                    return rc;
            }
        }
    }
    return rc;
}

}  // namespace

bool attachCatalog(sqlite3* db, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(db, "ATTACH DATABASE ':memory:' AS SYSPROGRESS", nullptr, nullptr, &msg) != SQLITE_OK ||
        sqlite3_exec(db, kCatalogSchema, nullptr, nullptr, &msg) != SQLITE_OK) {
        error = msg ? msg : "cannot create the system catalog";
        sqlite3_free(msg);
        return false;
    }
    return true;
}

uint64_t catalogBuilds() {
    return builds.load();
}

int refreshCatalog(sqlite3* db, int64_t& version, std::string& error) {
    int64_t current = -1;
    {
        int rc = SQLITE_OK;
        Stmt v(db, "PRAGMA PUB.schema_version", rc);
        if (rc == SQLITE_OK && (rc = sqlite3_step(v.s)) == SQLITE_ROW)
            current = sqlite3_column_int64(v.s, 0);
        else if (rc == SQLITE_OK || rc == SQLITE_DONE)
            rc = SQLITE_INTERNAL;   // the pragma always answers one row
        if (current < 0) {
            error = rc == SQLITE_INTERNAL ? "the schema version of the database cannot be read" : sqlite3_errmsg(db);
            return rc;
        }
    }
    if (current == version)
        return SQLITE_OK;
    version = -1;
    ++builds;
    for (const char* t : kCatalogTables) {
        if (t == kCalcTable)
            continue;
        std::string del = std::string("DELETE FROM SYSPROGRESS.\"") + t + "\"";
        if (int rc = sqlite3_exec(db, del.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
            error = sqlite3_errmsg(db);
            return rc;
        }
    }
    std::vector<Table> tables;
    int rc = readTables(db, tables, error);
    if (rc == SQLITE_OK)
        rc = readCatalogTables(db, tables, error);
    if (rc == SQLITE_OK)
        rc = fill(db, tables, error);
    if (rc == SQLITE_OK)
        version = current;
    return rc;
}

}  // namespace esql::lite
