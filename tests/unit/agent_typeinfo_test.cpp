// The agent's type catalog (operation 35 and the fetch that serves it): which rows each
// request gets for both ODBC versions and both widths, their order, their cells, and the
// catalog's life as a cursor.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <utility>
#include <vector>

#include "agent_conn_fixture.h"
#include "agent_exec_fixture.h"
#include "drv_pro9/oa_describe.h"
#include "drv_pro9/oa_typeinfo.h"
#include "platform/esql92/esql92_script.h"
#include "util/errcode.h"

namespace {

using Row = std::vector<std::string>;
using NameAndType = std::pair<std::string, int>;

class AgentTypeInfo : public agenttest::AgentConnections {
protected:
    void SetUp() override {
        AgentConnections::SetUp();
        connId = Connect();
        ASSERT_EQ(lastRc, 0);
        ASSERT_EQ(OA_AllocStmt(connId, &stmtId), 0);
        conn = oa_FindConn(connId);
    }
    void TearDown() override {
        ds_Free(&block);
        AgentConnections::TearDown();
    }

    // The connection as the ODBC side would have opened it.
    void Shape(int odbcVersion, bool wide, bool unicodeLibrary) {
        conn->odbcVersion = odbcVersion;
        conn->wide = wide ? 1 : 0;
        conn->unicodeLibrary = unicodeLibrary ? 1 : 0;
    }

    // Every row of a request, fetched n rows at a time.
    std::vector<Row> All(int16_t sqlType, uint16_t n = 100) {
        EXPECT_EQ(OA_GetTypeInfo(stmtId, sqlType), 0);
        std::vector<Row> rows;
        for (;;) {
            EXPECT_EQ(OA_Fetch(stmtId, n, &block), 0);
            for (Row& r : exectest::Rows(block))
                rows.push_back(std::move(r));
            if (block.rowsUsed < n)
                return rows;
        }
    }
    static std::vector<NameAndType> Names(const std::vector<Row>& rows) {
        std::vector<NameAndType> out;
        for (const Row& r : rows)
            out.emplace_back(r.at(0), std::stoi(r.at(1)));
        return out;
    }

    esql92::Script script;
    uint32_t connId = 0;
    uint32_t stmtId = 0;
    OA_CONN* conn = nullptr;
    DATASET block{};
};

TEST_F(AgentTypeInfo, AllTypesFollowTheVersionAndTheWidthOrderedByDataType) {
    const std::vector<NameAndType> shared = {
        {"bit", -7}, {"tinyint", -6}, {"bigint", -5}, {"varbinary", -3}, {"binary", -2}, {"character", 1}};
    const std::vector<NameAndType> numbers = {{"numeric", 2}, {"integer", 4},  {"smallint", 5}, {"real", 7},
                                              {"float", 8},   {"double precision", 8}};
    auto join = [](std::vector<std::vector<NameAndType>> parts) {
        std::vector<NameAndType> out;
        for (auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const std::vector<NameAndType> wide = {
        {"varchar", -9}, {"character", -8}, {"timestamp with timezone", -8}};
    const std::vector<NameAndType> narrowTz = {{"timestamp with timezone", 1}};
    const std::vector<NameAndType> odbc2Dates = {{"date", 9}, {"time", 10}, {"timestamp", 11}};
    const std::vector<NameAndType> odbc3Dates = {{"date", 91}, {"time", 92}, {"timestamp", 93}};
    const std::vector<NameAndType> varchar = {{"varchar", 12}};
    struct Case {
        int version;
        bool wide, unicodeLibrary;
        std::vector<NameAndType> rows;
    } const cases[] = {
        {3, true, true, join({wide, shared, numbers, varchar, odbc3Dates})},
        {2, true, true, join({wide, shared, numbers, odbc2Dates, varchar})},
        // A narrow connection, or the ANSI library, has no wide character types.
        {3, false, true, join({shared, narrowTz, numbers, varchar, odbc3Dates})},
        {2, true, false, join({shared, narrowTz, numbers, odbc2Dates, varchar})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + (c.wide ? " wide" : " narrow") + (c.unicodeLibrary ? " W" : " A"));
        Shape(c.version, c.wide, c.unicodeLibrary);
        EXPECT_EQ(Names(All(SQL_ALL_TYPES)), c.rows);
        // In pieces, each fetch goes on where the last one stopped.
        EXPECT_EQ(Names(All(SQL_ALL_TYPES, 4)), c.rows);
    }
}

TEST_F(AgentTypeInfo, OneTypeGetsOnlyRowsOfThatDataType) {
    struct Case {
        int16_t sqlType;
        int version;
        bool wide;
        std::vector<std::string> names;
    } const cases[] = {
        {SQL_REAL, 3, true, {"real"}},
        {SQL_BIGINT, 3, true, {"bigint"}},
        {SQL_DOUBLE, 3, true, {"float", "double precision"}},
        {SQL_CHAR, 3, true, {"character"}},
        {SQL_CHAR, 3, false, {"character", "timestamp with timezone"}},
        {SQL_WCHAR, 3, true, {"character", "timestamp with timezone"}},
        {SQL_WVARCHAR, 3, false, {}},
        // Each datetime number finds its own version's row, whatever the connection's.
        {SQL_DATE, 3, true, {"date"}},
        {SQL_TYPE_TIMESTAMP, 2, true, {"timestamp"}},
        // Types the server does not have.
        {SQL_FLOAT, 3, true, {}},
        {SQL_DECIMAL, 3, true, {}},
        {SQL_LONGVARCHAR, 3, true, {}},
        {SQL_GUID, 2, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sqlType);
        Shape(c.version, c.wide, true);
        std::vector<std::string> names;
        for (const Row& r : All(c.sqlType)) {
            names.push_back(r.at(0));
            EXPECT_EQ(r.at(1), std::to_string(c.sqlType));
        }
        EXPECT_EQ(names, c.names);
    }
}

TEST_F(AgentTypeInfo, CellsOfTypicalRows) {
    Shape(3, true, true);
    // TYPE_NAME, DATA_TYPE, COLUMN_SIZE, PREFIX, SUFFIX, CREATE_PARAMS, NULLABLE, CASE,
    // SEARCHABLE, UNSIGNED, FIXED_PREC, AUTO_UNIQUE, LOCAL_TYPE_NAME, MIN_SCALE, MAX_SCALE,
    // SQL_DATA_TYPE, DATETIME_SUB, RADIX, INTERVAL_PRECISION.
    struct Case {
        int16_t sqlType;
        Row row;
    } const cases[] = {
        {SQL_VARCHAR, {"varchar", "12", "31982", "'", "'", "maxlength", "1", "1", "3", "NULL", "0", "NULL",
                       "VARCHAR", "NULL", "NULL", "12", "NULL", "NULL", "NULL"}},
        // The approximate types count decimal digits.
        {SQL_REAL, {"real", "7", "7", "NULL", "NULL", "NULL", "1", "0", "2", "0", "0", "0", "REAL", "0", "0", "7",
                    "NULL", "10", "NULL"}},
        {SQL_BIGINT, {"bigint", "-5", "19", "NULL", "NULL", "NULL", "1", "0", "2", "0", "0", "0", "BIGINT", "0",
                      "0", "-5", "NULL", "10", "NULL"}},
        {SQL_NUMERIC, {"numeric", "2", "50", "NULL", "NULL", "precision,scale", "1", "0", "2", "0", "0", "0",
                       "NUMERIC", "0", "50", "2", "NULL", "10", "NULL"}},
        // Milliseconds: three fraction digits.
        {SQL_TYPE_TIMESTAMP, {"timestamp", "93", "23", "NULL", "NULL", "NULL", "1", "0", "2", "0", "0", "0",
                              "TIMESTAMP", "0", "3", "9", "3", "NULL", "NULL"}},
        {SQL_DATE, {"date", "9", "10", "NULL", "NULL", "NULL", "1", "0", "2", "0", "0", "0", "DATE", "NULL", "NULL",
                    "9", "1", "NULL", "NULL"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sqlType);
        std::vector<Row> rows = All(c.sqlType);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0], c.row);
    }
}

TEST_F(AgentTypeInfo, ResultDescriptionsNameTheColumnsAndWhichCanBeNull) {
    ASSERT_EQ(OA_GetTypeInfo(stmtId, SQL_ALL_TYPES), 0);
    uint16_t n = 0;
    COLDESC* d = nullptr;
    ASSERT_EQ(OA_DescribeCols(stmtId, &n, &d), 0);
    ASSERT_EQ(n, OA_TYPEINFO_COLS);
    std::vector<std::string> notNull;
    for (uint16_t i = 0; i < n; ++i)
        if ((d[i].flags & 0xF) == SQL_NO_NULLS)
            notNull.push_back(d[i].name);
    EXPECT_EQ(notNull, (std::vector<std::string>{"TYPE_NAME", "DATA_TYPE", "NULLABLE", "CASE_SENSITIVE",
                                                 "SEARCHABLE", "FIXED_PREC_SCALE", "SQL_DATA_TYPE"}));
    EXPECT_STREQ(d[2].name, "COLUMN_SIZE");
    EXPECT_EQ(d[2].sqlType, SQL_INTEGER);
    EXPECT_EQ(d[17].internalType, DS_SLONG);
    EXPECT_EQ(d[0].serverType, -9999);
    ds_ColDescFree(d, n);
}

TEST_F(AgentTypeInfo, TheCatalogIsACursorTheCloseEnds) {
    size_t clientCalls = script.calls().size();
    ASSERT_EQ(OA_GetTypeInfo(stmtId, SQL_ALL_TYPES), 0);
    // 0 rows sets the block's columns up and moves nothing.
    ASSERT_EQ(OA_Fetch(stmtId, 0, &block), 0);
    EXPECT_EQ(block.colsUsed, OA_TYPEINFO_COLS);
    EXPECT_EQ(block.rowsUsed, 0);
    ASSERT_EQ(OA_Fetch(stmtId, 1, &block), 0);
    EXPECT_EQ(block.rowsUsed, 1);
    // There is no further result, and no statement to execute.
    EXPECT_EQ(OA_MoreResults(stmtId), ERR_NO_MORE_RESULTS);
    EXPECT_EQ(OA_Execute(stmtId), ERR_FUNCTION_SEQUENCE_ERROR);
    // A new request starts from the first row again.
    ASSERT_EQ(OA_GetTypeInfo(stmtId, SQL_ALL_TYPES), 0);
    ASSERT_EQ(OA_Fetch(stmtId, 1, &block), 0);
    EXPECT_EQ(exectest::Rows(block).at(0).at(0), "bit");   // a narrow connection's first

    ASSERT_EQ(OA_CloseCursor(stmtId), 0);
    EXPECT_EQ(OA_Fetch(stmtId, 1, &block), ERR_FUNCTION_SEQUENCE_ERROR);
    // Nothing of it reached the server.
    EXPECT_EQ(script.calls().size(), clientCalls);
    EXPECT_EQ(OA_GetTypeInfo(connId, SQL_ALL_TYPES), ERR_INVALID_ARGUMENT_VALUE);
}

}  // namespace
