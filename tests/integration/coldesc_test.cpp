// Column description through unixODBC against the embedded server: a prepared SELECT of a
// table with a column of every server type is described without execution. SQLDescribeCol
// names each column and its type; SQLColAttribute and SQLGetDescField on the IRD answer
// every field alike; the wide library counts names in characters, in buffers of any size.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

using itest::Diag;
using itest::kLibs;
using itest::Lib;

// A connection to a database of its own holding the table, and one statement.
struct Session : itest::Session {
    Session(const Lib& lib, const std::string& create, SQLULEN odbcVersion = SQL_OV_ODBC3)
        : itest::Session(lib, "coldesc", create, odbcVersion) {}

    // The column's name and SQL type by SQLDescribeCol in the library's width.
    std::string Describe(SQLUSMALLINT col, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits) {
        SQLSMALLINT len = 0, nullable = 0;
        std::string name;
        SQLRETURN rc;
        if (lib.wide) {
            SQLWCHAR buf[64] = {};
            rc = SQLDescribeColW(stmt, col, buf, 64, &len, type, size, digits, &nullable);
            for (int i = 0; buf[i] != 0; ++i)
                name.push_back(static_cast<char>(buf[i]));
        } else {
            SQLCHAR buf[64] = {};
            rc = SQLDescribeCol(stmt, col, buf, sizeof buf, &len, type, size, digits, &nullable);
            name = reinterpret_cast<char*>(buf);
        }
        EXPECT_EQ(rc, SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(len, static_cast<SQLSMALLINT>(name.size()));
        return name;
    }
};

const char* const kCreate =
    "create table ty (c char(10), v varchar(20), i integer, s smallint, ti tinyint, bt bit, bi bigint, r real, "
    "f float, d double precision, n numeric(10,2), dt date, tm time, ts timestamp, b binary(8), vb varbinary(16))";

// Text of a result column of the current row; "NULL" for a NULL.
std::string CellText(SQLHSTMT h, SQLUSMALLINT col) {
    char buf[128] = {};
    SQLLEN ind = 0;
    SQLGetData(h, col, SQL_C_CHAR, buf, sizeof buf, &ind);
    return ind == SQL_NULL_DATA ? "NULL" : buf;
}

// Every server type is named alike by every call that names it, in ODBC 2 and ODBC 3: the
// type SQLDescribeCol gives is SQLColumns' DATA_TYPE, and SQLGetTypeInfo of that type
// answers the TYPE_NAME that SQL_DESC_TYPE_NAME and SQLColumns give; SQL_DATA_TYPE is the
// verbose type, which is the DATA_TYPE itself for all but the datetime types.
TEST(ColumnDescription, TypeNamesAgreeWithTheTypeCatalog) {
    for (const Lib& lib : kLibs) {
        for (SQLULEN version : {SQLULEN{SQL_OV_ODBC2}, SQLULEN{SQL_OV_ODBC3}}) {
            SCOPED_TRACE(std::string(lib.driver) + (version == SQL_OV_ODBC3 ? " ODBC 3" : " ODBC 2"));
            Session s(lib, kCreate, version);
            ASSERT_EQ(SQLColumns(s.stmt, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>("ty")),
                                 SQL_NTS, nullptr, 0),
                      SQL_SUCCESS)
                << Diag(SQL_HANDLE_STMT, s.stmt);
            struct Listed {
                std::string name, dataType, typeName, sqlDataType;
            };
            std::vector<Listed> listed;
            while (SQL_SUCCEEDED(SQLFetch(s.stmt)))
                listed.push_back({CellText(s.stmt, 4), CellText(s.stmt, 5), CellText(s.stmt, 6), CellText(s.stmt, 14)});
            SQLCloseCursor(s.stmt);
            ASSERT_EQ(listed.size(), 16u);

            ASSERT_EQ(s.Prepare("select * from ty"), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);
            std::vector<std::vector<std::string>> described, expected;
            std::vector<SQLSMALLINT> types;
            for (SQLUSMALLINT i = 1; i <= 16; ++i) {
                SQLSMALLINT type = 0, digits = 0;
                SQLULEN size = 0;
                s.Describe(i, &type, &size, &digits);
                char name[64] = {};
                SQLColAttribute(s.stmt, i, SQL_DESC_TYPE_NAME, name, sizeof name, nullptr, nullptr);
                SQLLEN verbose = 0;
                SQLColAttribute(s.stmt, i, SQL_DESC_TYPE, nullptr, 0, nullptr, &verbose);
                types.push_back(type);
                described.push_back({listed[i - 1].name, std::to_string(type), name, std::to_string(verbose)});
                expected.push_back({listed[i - 1].name, listed[i - 1].dataType, listed[i - 1].typeName,
                                    listed[i - 1].sqlDataType});
            }
            EXPECT_EQ(described, expected);
            SQLFreeStmt(s.stmt, SQL_CLOSE);
            for (size_t i = 0; i < types.size(); ++i) {
                ASSERT_EQ(SQLGetTypeInfo(s.stmt, types[i]), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);
                std::string catalogName = SQLFetch(s.stmt) == SQL_SUCCESS ? CellText(s.stmt, 1) : "(no row)";
                SQLCloseCursor(s.stmt);
                EXPECT_EQ(catalogName, described[i][2]) << described[i][0] << " of type " << types[i];
            }
        }
    }
}

TEST(ColumnDescription, EveryServerTypeDescribedAlikeByEveryRoad) {
    const struct {
        const char* name;
        SQLSMALLINT narrowType, wideType;
        SQLSMALLINT isUnsigned;
    } cols[] = {
        {"c", SQL_CHAR, SQL_WCHAR, SQL_TRUE},       {"v", SQL_VARCHAR, SQL_WVARCHAR, SQL_TRUE},
        {"i", SQL_INTEGER, SQL_INTEGER, SQL_FALSE},  {"s", SQL_SMALLINT, SQL_SMALLINT, SQL_FALSE},
        {"ti", SQL_TINYINT, SQL_TINYINT, SQL_FALSE}, {"bt", SQL_BIT, SQL_BIT, SQL_TRUE},
        {"bi", SQL_BIGINT, SQL_BIGINT, SQL_FALSE},   {"r", SQL_REAL, SQL_REAL, SQL_FALSE},
        {"f", SQL_DOUBLE, SQL_DOUBLE, SQL_FALSE},      {"d", SQL_DOUBLE, SQL_DOUBLE, SQL_FALSE},
        {"n", SQL_NUMERIC, SQL_NUMERIC, SQL_FALSE},  {"dt", SQL_TYPE_DATE, SQL_TYPE_DATE, SQL_TRUE},
        {"tm", SQL_TYPE_TIME, SQL_TYPE_TIME, SQL_TRUE}, {"ts", SQL_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, SQL_TRUE},
        {"b", SQL_BINARY, SQL_BINARY, SQL_TRUE},    {"vb", SQL_VARBINARY, SQL_VARBINARY, SQL_TRUE},
    };
    const SQLUSMALLINT numeric[] = {SQL_DESC_CONCISE_TYPE, SQL_DESC_TYPE, SQL_DESC_DISPLAY_SIZE, SQL_DESC_UNSIGNED,
                                    SQL_DESC_FIXED_PREC_SCALE, SQL_DESC_UPDATABLE, SQL_DESC_AUTO_UNIQUE_VALUE,
                                    SQL_DESC_CASE_SENSITIVE, SQL_DESC_SEARCHABLE, SQL_DESC_NUM_PREC_RADIX,
                                    SQL_DESC_LENGTH, SQL_DESC_PRECISION, SQL_DESC_SCALE, SQL_DESC_NULLABLE,
                                    SQL_DESC_UNNAMED, SQL_DESC_OCTET_LENGTH};
    const SQLUSMALLINT texts[] = {SQL_DESC_TYPE_NAME, SQL_DESC_TABLE_NAME, SQL_DESC_SCHEMA_NAME, SQL_DESC_LABEL,
                                  SQL_DESC_BASE_COLUMN_NAME, SQL_DESC_BASE_TABLE_NAME, SQL_DESC_LITERAL_PREFIX,
                                  SQL_DESC_LITERAL_SUFFIX, SQL_DESC_NAME};
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib, kCreate);
        ASSERT_EQ(s.Prepare("select c, v, i, s, ti, bt, bi, r, f, d, n, dt, tm, ts, b, vb from ty"), SQL_SUCCESS)
            << Diag(SQL_HANDLE_STMT, s.stmt);
        SQLHDESC ird = nullptr;
        ASSERT_EQ(SQLGetStmtAttr(s.stmt, SQL_ATTR_IMP_ROW_DESC, &ird, SQL_IS_POINTER, nullptr), SQL_SUCCESS);
        SQLLEN count = 0;
        ASSERT_EQ(SQLColAttribute(s.stmt, 1, SQL_DESC_COUNT, nullptr, 0, nullptr, &count), SQL_SUCCESS);
        EXPECT_EQ(count, 16);
        for (SQLUSMALLINT i = 1; i <= 16; ++i) {
            const auto& c = cols[i - 1];
            SCOPED_TRACE(c.name);
            SQLSMALLINT type = 0, digits = -1;
            SQLULEN size = 0;
            EXPECT_EQ(s.Describe(i, &type, &size, &digits), c.name);
            EXPECT_EQ(type, lib.wide ? c.wideType : c.narrowType);
            for (SQLUSMALLINT field : numeric) {
                SQLLEN viaCol = -99;
                ASSERT_EQ(SQLColAttribute(s.stmt, i, field, nullptr, 0, nullptr, &viaCol), SQL_SUCCESS)
                    << field << " " << Diag(SQL_HANDLE_STMT, s.stmt);
                SQLLEN viaIrd = 0;  // each field's own width: the rest of the 8 bytes stays 0
                ASSERT_EQ(SQLGetDescField(ird, i, field, &viaIrd, 0, nullptr), SQL_SUCCESS)
                    << field << " " << Diag(SQL_HANDLE_DESC, ird);
                if (field == SQL_DESC_CONCISE_TYPE || field == SQL_DESC_TYPE)
                    viaIrd = static_cast<SQLSMALLINT>(viaIrd);
                EXPECT_EQ(viaCol, viaIrd) << "field " << field;
            }
            SQLLEN v = 0;
            SQLColAttribute(s.stmt, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &v);
            EXPECT_EQ(v, c.isUnsigned);
            SQLColAttribute(s.stmt, i, SQL_DESC_LENGTH, nullptr, 0, nullptr, &v);
            EXPECT_EQ(static_cast<SQLULEN>(v), size);
            for (SQLUSMALLINT field : texts) {
                char a[128] = {}, b[128] = {};
                SQLSMALLINT la = 0;
                SQLINTEGER lb = 0;
                ASSERT_EQ(SQLColAttribute(s.stmt, i, field, a, sizeof a, &la, nullptr), SQL_SUCCESS) << field;
                ASSERT_EQ(SQLGetDescField(ird, i, field, b, sizeof b, &lb), SQL_SUCCESS) << field;
                EXPECT_STREQ(a, b) << field;
                EXPECT_EQ(la, lb) << field;
            }
            char typeName[64] = {};
            SQLColAttribute(s.stmt, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, nullptr, nullptr);
            EXPECT_NE(typeName[0], '\0');
        }
        // The bytes a character column's values take: in the tests' C locale libvarnod's
        // narrow text is UTF-8, up to four bytes a character; wide text two bytes a unit.
        for (SQLUSMALLINT i : {1, 2}) {
            const SQLLEN chars = i == 1 ? 10 : 20;
            SQLLEN octets = 0, odbc2 = 0;
            SQLColAttribute(s.stmt, i, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &octets);
            SQLColAttributes(s.stmt, i, SQL_COLUMN_LENGTH, nullptr, 0, nullptr, &odbc2);
            EXPECT_EQ(octets, lib.wide ? 2 * chars : 4 * chars) << i;
            EXPECT_EQ(odbc2, octets) << i;
        }
        SQLLEN n = 0;
        EXPECT_EQ(SQLColAttribute(s.stmt, 11, SQL_DESC_SCALE, nullptr, 0, nullptr, &n), SQL_SUCCESS);
        EXPECT_EQ(n, 2);
        EXPECT_EQ(SQLColAttribute(s.stmt, 17, SQL_DESC_TYPE, nullptr, 0, nullptr, &n), SQL_ERROR);
        SQLCHAR name[8];
        SQLSMALLINT len = 0;
        EXPECT_EQ(SQLDescribeCol(s.stmt, 1, name, -1, &len, nullptr, nullptr, nullptr, nullptr), SQL_ERROR);
        EXPECT_EQ(Diag(SQL_HANDLE_STMT, s.stmt).substr(0, 5), "HY090");
    }
}

// A wide buffer of 16384 characters or more (four bytes each would pass 65535) takes the
// name whole.
TEST(ColumnDescription, LargeWideBuffersTakeTheName) {
    const Lib& lib = kLibs[1];
    Session s(lib, "create table t (abc integer)");
    ASSERT_EQ(s.Prepare("select abc from t"), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);
    for (SQLSMALLINT room : {16384, 20000, 32767}) {
        std::vector<SQLWCHAR> buf(static_cast<size_t>(room), 0xFFFF);
        SQLSMALLINT len = 0;
        ASSERT_EQ(SQLDescribeColW(s.stmt, 1, buf.data(), room, &len, nullptr, nullptr, nullptr, nullptr), SQL_SUCCESS)
            << room << " " << Diag(SQL_HANDLE_STMT, s.stmt);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(buf[0], 'a');
        EXPECT_EQ(buf[3], 0);
    }
}

}  // namespace
