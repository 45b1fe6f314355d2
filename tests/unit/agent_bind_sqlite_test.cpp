// The binding end to end against the SQLite back-end of the ESQL client: a table with every
// server type is filled through bound parameters of the internal types and read back
// through described and bound result columns into datasets, in narrow and wide mode.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "drv_pro9/db_bind.h"
#include "drv_pro9/oa_err.h"
#include "tests/unit/agent_conv_support.h"
#include "tests/unit/dataset_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "util/errcode.h"

namespace {

using namespace convtest;
using esqltest::Conn;
using esqltest::TempDb;

class SqliteBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(conn.rc, 0) << conn.ca.sqlerrmc;
        ASSERT_EQ(conn.exec("CREATE TABLE t (k INTEGER, c CHARACTER(5), v VARCHAR(20), n NUMERIC(12,3), "
                            "s SMALLINT, r REAL, f FLOAT, d DATE, tm TIME, ts TIMESTAMP, b BINARY(4), "
                            "vb VARBINARY(10), ti TINYINT, bt BIT, bi BIGINT)"),
                  0)
            << conn.ca.sqlerrmc;
    }

    // Runs an INSERT of the dataset's rows, its column i bound to parameter i + 1.
    int Insert(DATASET* values) {
        ESQL_CURHDL cur = nullptr;
        EXPECT_EQ(conn.prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", cur), 0);
        DB_SQLDABIND b;
        b.sqlca = &conn.ca;
        b.errors = &errors;
        b.input = PRO_SQLDA_Allocate(15, ESQL_SQLDA_INPUT);
        EXPECT_EQ(tpe_sqldescribe_input(conn.tm, conn.db, cur, b.input, &conn.ca), 0);
        EXPECT_EQ(db_BindAllocParams(&b, 15), 0);
        for (uint16_t p = 0; p < values->colsUsed; ++p) {
            int rc = db_BindInParam(&b, 0, p + 1u, &values->cols[p], 0, values->rowsUsed);
            if (rc != 0)
                return rc;
        }
        int rc = tpe_sqlexecute(conn.tm, conn.db, cur, b.input, &conn.ca);
        EXPECT_EQ(rc, 0) << conn.ca.sqlerrmc;
        EXPECT_EQ(conn.ca.sqlrows, values->rowsUsed);
        return rc;
    }

    // Reads the query through the binding, `block` rows per fetch; NULL as "NULL".
    std::vector<std::vector<std::string>> Select(const char* sql, bool wide, int32_t block,
                                                 std::vector<COLDESC>* descsOut = nullptr) {
        std::vector<std::vector<std::string>> rows;
        ESQL_CURHDL cur = nullptr;
        EXPECT_EQ(conn.prepare(sql, cur), 0) << conn.ca.sqlerrmc;
        DB_SQLDABIND b;
        b.sqlca = &conn.ca;
        b.errors = &errors;
        b.output = conn.describe(cur);
        uint32_t count = 0;
        PRO_SQLDA_Get_DA_Attribute_dh_u32_t(b.output, ESQL_DA_COUNT, &count, &conn.ca);
        EXPECT_EQ(db_BindAllocCols(&b, static_cast<uint16_t>(count)), 0);
        std::vector<COLDESC> descs(count);
        for (uint32_t c = 1; c <= count; ++c)
            EXPECT_EQ(db_DescribeCol(&b, true, c, wide, SQL_OV_ODBC3, &descs[c - 1], nullptr), 0);
        DATASET ds{};
        EXPECT_EQ(ds_InitFromColDescs(descs.data(), static_cast<uint16_t>(count), 0, &ds), 0);
        EXPECT_EQ(tpe_sqldeclare(conn.tm, conn.db, cur, nullptr, &conn.ca), 0);
        EXPECT_EQ(tpe_sqlopen(conn.tm, conn.db, cur, nullptr, &conn.ca), 0) << conn.ca.sqlerrmc;
        for (int rc = 0; rc == 0;) {
            EXPECT_EQ(ds_AllocRows(&ds, block), 0);
            EXPECT_EQ(db_BindResultCols(&b, &ds), 0);
            rc = tpe_sqlfetch(conn.tm, conn.db, cur, b.output, &conn.ca);
            EXPECT_GE(rc, 0) << conn.ca.sqlerrmc;
            if (rc < 0)
                break;
            auto n = static_cast<int32_t>(conn.ca.sqlrows);
            for (uint16_t c = 0; c < ds.colsUsed; ++c)
                EXPECT_EQ(db_ConvFetchedRows(&b, &ds, c, n), 0);
            for (int32_t r = 0; r < n; ++r) {
                std::vector<std::string> row;
                for (uint16_t c = 0; c < ds.colsUsed; ++c)
                    row.push_back(ds.cols[c].indicators[r] < 0 ? "NULL" : RenderDs(&ds.cols[c], r));
                rows.push_back(row);
            }
        }
        tpe_sqlclose(conn.tm, conn.db, cur, &conn.ca);
        ds_Free(&ds);
        if (descsOut != nullptr)
            *descsOut = descs;
        return rows;
    }

    TempDb file;
    Conn conn{file.target(), "BindingE2E"};
    OA_ERRLIST errors;
};

TEST_F(SqliteBinding, EveryServerTypeRoundTripsThroughParametersAndResults) {
    // One internal type per column, as the execution layer hands parameter sets over.
    auto ds = dsfix::Make({{DS_SLONG, 4},
                           {DS_LONGCHAR, 16},
                           {DS_WCHARZ, 42},
                           {DS_CHARZ, 16},
                           {DS_SSHORT, 2},
                           {DS_FLOAT, 4},
                           {DS_DOUBLE, 8},
                           {DS_DATE, 6},
                           {DS_TIME, 6},
                           {DS_TIMESTAMP, 16},
                           {DS_BINARY, 4},
                           {DS_LONGBINARY, 16},
                           {DS_STINYINT, 1},
                           {DS_BIT, 1},
                           {DS_ULONG, 4}},
                          3, 3);
    DATASET_COL* c = ds->cols;
    Put(&c[0], 0, Bytes(int32_t{1}));
    PutRef(&c[1], 0, "ab", 2);
    Put(&c[2], 0, U16(kHello));
    Put(&c[3], 0, "-12.5");
    Put(&c[4], 0, Bytes(int16_t{-3}));
    Put(&c[5], 0, Bytes(1.5f));
    Put(&c[6], 0, Bytes(2.25));
    Put(&c[7], 0, Bytes(SQL_DATE_STRUCT{2012, 3, 4}));
    Put(&c[8], 0, Bytes(SQL_TIME_STRUCT{13, 14, 15}));
    Put(&c[9], 0, Bytes(SQL_TIMESTAMP_STRUCT{2012, 3, 4, 13, 14, 15, 123456789}));
    Put(&c[10], 0, "\x01\x02\x03\x04");
    PutRef(&c[11], 0, "\xab\xcd", 2);
    Put(&c[12], 0, "\x9c");
    Put(&c[13], 0, "\x01");
    Put(&c[14], 0, Bytes(uint32_t{4000000000u}));
    Put(&c[0], 1, Bytes(int32_t{2}));   // every other value of row 1 is NULL
    Put(&c[0], 2, Bytes(int32_t{3}));
    PutRef(&c[1], 2, "abcde", 5);
    Put(&c[2], 2, "");
    Put(&c[3], 2, "999999999.999");
    Put(&c[4], 2, Bytes(int16_t{32767}));
    Put(&c[5], 2, Bytes(-0.25f));
    Put(&c[6], 2, Bytes(1e300));
    Put(&c[7], 2, Bytes(SQL_DATE_STRUCT{1999, 12, 31}));
    Put(&c[8], 2, Bytes(SQL_TIME_STRUCT{23, 59, 59}));
    Put(&c[9], 2, Bytes(SQL_TIMESTAMP_STRUCT{1999, 12, 31, 23, 59, 59, 999000000}));
    Put(&c[10], 2, std::string("\0\0\0\x01", 4));
    PutRef(&c[11], 2, std::string(), 0);  // an empty VARBINARY: SQLite hands it back as a null pointer
    Put(&c[12], 2, "\x7f");
    Put(&c[13], 2, "\x00");
    Put(&c[14], 2, Bytes(uint32_t{0}));
    ASSERT_EQ(Insert(ds.get()), 0);
    ASSERT_EQ(conn.commit(), 0);

    const std::vector<std::string> nulls(14, "NULL");
    std::vector<std::string> row1 = {"2"};
    row1.insert(row1.end(), nulls.begin(), nulls.end());
    const std::vector<std::vector<std::string>> expected = {
        {"1", "ab   ", kHello, "-12.500", "-3", "1.5", "2.25", "2012-3-4", "13:14:15", "2012-3-4 13:14:15.123000000",
         "4:01020304", "2:abcd", "-100", "1", "4000000000"},
        row1,
        {"3", "abcde", "", "999999999.999", "32767", "-0.25", "1e+300", "1999-12-31", "23:59:59",
         "1999-12-31 23:59:59.999000000", "4:00000001", "0:", "127", "0", "0"},
    };
    for (bool wide : {false, true}) {
        for (int32_t block : {1, 2, 4}) {
            SCOPED_TRACE(std::string(wide ? "wide" : "narrow") + " block " + std::to_string(block));
            std::vector<COLDESC> descs;
            EXPECT_EQ(Select("SELECT * FROM t ORDER BY k", wide, block, &descs), expected);
            ASSERT_EQ(descs.size(), 15u);
            EXPECT_EQ(descs[2].sqlType, wide ? SQL_WVARCHAR : SQL_VARCHAR);
            EXPECT_EQ(descs[14].sqlType, SQL_BIGINT);
        }
    }
}

TEST_F(SqliteBinding, ComputedColumnsAndLongNames) {
    ASSERT_EQ(conn.exec("INSERT INTO t (k, n, bi) VALUES (1, 12345678.5, -9223372036854775807)"), 0);
    std::vector<COLDESC> descs;
    auto rows = Select("SELECT k + 1, n, bi AS a_column_alias_that_is_much_longer_than_the_record_holds "
                       "FROM t",
                       true, 3, &descs);
    ASSERT_EQ(descs.size(), 3u);
    EXPECT_STREQ(descs[0].name, "EXPR_1");
    EXPECT_EQ(std::string(descs[2].name), std::string("a_column_alias_that_is_much_longer_than_the_rec"));
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"2", "12345678.500", "-9223372036854775807"}}));
}

TEST_F(SqliteBinding, RefusedParametersNeverReachTheServer) {
    // A date of zeros in the eighth parameter: the statement is not run, nothing is stored.
    auto ds = dsfix::Make({{DS_SLONG, 4}, {DS_CHARZ, 1}, {DS_CHARZ, 1}, {DS_CHARZ, 1}, {DS_CHARZ, 1},
                           {DS_CHARZ, 1}, {DS_CHARZ, 1}, {DS_DATE, 6}},
                          1, 1);
    Put(&ds->cols[0], 0, Bytes(int32_t{9}));
    Put(&ds->cols[7], 0, Bytes(SQL_DATE_STRUCT{0, 0, 0}));
    EXPECT_EQ(Insert(ds.get()), ERR_INVALID_DATETIME_FORMAT);
    ASSERT_NE(errors.head, nullptr);
    EXPECT_STREQ(errors.head->sqlstate, "22007");
    EXPECT_EQ(conn.query("SELECT COUNT(*) FROM t"), (esqltest::Rows{{"0"}}));
}

}  // namespace
