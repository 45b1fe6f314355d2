// The agent's catalog operations on the SQLite stand-in: each call as a table of arguments
// and expected rows over one fixture schema, read back with the agent's fetch; the result
// descriptions and names by ODBC version and width; and the row fix-ups.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "drv_pro9/oa_catalog.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "util/errcode.h"

namespace {

using namespace exectest;
using Table = std::vector<std::vector<std::string>>;
using CatOp = int (*)(uint32_t, const OA_CATARGS*);

const std::string kLongRemark(300, 'r');

// Two tables whose names differ where LIKE's '_' matches, a two-column primary key and a
// two-column foreign key to it (its columns in another order than the key's), a table with
// only a unique index, a view, an index named "default", a name with a quote, a long remark.
const char* const kSchema[] = {
    "CREATE TABLE ORDER_LINE (ORDER_ID INTEGER NOT NULL, LINE_NO INTEGER NOT NULL, QTY NUMERIC(10,2),"
    " PLACED DATE, NOTE VARCHAR(400), PRIMARY KEY (ORDER_ID, LINE_NO))",
    "CREATE TABLE ORDERXLINE (ID INTEGER)",
    "CREATE TABLE SHIPMENT (ID INTEGER PRIMARY KEY, LINE_NO INTEGER, ORDER_ID INTEGER,"
    " FOREIGN KEY (LINE_NO, ORDER_ID) REFERENCES ORDER_LINE (LINE_NO, ORDER_ID))",
    "CREATE TABLE CODES (CODE VARCHAR(5) NOT NULL UNIQUE, LABEL VARCHAR(20))",
    "CREATE INDEX \"default\" ON ORDERXLINE (ID)",
    "CREATE INDEX BY_LABEL ON CODES (LABEL DESC)",
    "CREATE VIEW OPEN_LINES AS SELECT * FROM ORDER_LINE",
    "CREATE TABLE \"O'Brien\" (X INTEGER -- ",
};

class AgentCatalog : public ::testing::Test {
protected:
    void SetUp() override {
        s.Open(file.path());
        for (const char* sql : kSchema) {
            std::string text = sql;
            if (text.back() == ' ')
                text += kLongRemark + "\n)";
            ASSERT_EQ(s.Exec(text.c_str()), 0) << sql;
        }
        s.conn->odbcVersion = 3;
    }
    void TearDown() override { s.Close(); }

    // Runs the operation and fetches every row (3 at a time), the columns picked by number
    // from 1 (all when none are given). An operation that fails gives {{"rc=<code>"}}.
    Table Run(CatOp op, std::vector<const char*> names, std::vector<int> pick = {}, uint16_t o0 = 0,
              uint16_t o1 = 0) {
        OA_CATARGS args{};
        for (size_t i = 0; i < names.size(); ++i)
            args.names[i] = names[i];
        args.options[0] = o0;
        args.options[1] = o1;
        if (int rc = op(s.stmtId, &args); rc != 0)
            return {{"rc=" + std::to_string(rc)}};
        Table rows;
        DATASET block{};
        while (OA_Fetch(s.stmtId, 3, &block) == 0 && block.rowsUsed > 0) {
            for (auto& row : Rows(block)) {
                if (pick.empty()) {
                    rows.push_back(row);
                    continue;
                }
                std::vector<std::string> picked;
                for (int c : pick)
                    picked.push_back(row.at(static_cast<size_t>(c - 1)));
                rows.push_back(picked);
            }
        }
        ds_Free(&block);
        EXPECT_EQ(OA_CloseCursor(s.stmtId), 0);
        return rows;
    }

    // "NAME:sqlType:size:nullable" of each described result column.
    std::vector<std::string> Described() const {
        std::vector<std::string> out;
        for (uint16_t i = 1; i <= s.stmt->cols.count; ++i) {
            const COLDESC* d = s.stmt->cols.at(i);
            out.push_back(std::string(d->name) + ":" + std::to_string(d->sqlType) + ":" +
                          std::to_string(d->columnSize) + ":" + std::to_string(d->flags & 0xF));
        }
        return out;
    }

    esqltest::TempDb file;
    Session s;
};

struct Case {
    const char* what;
    std::vector<const char*> names;
    Table rows;
};

TEST_F(AgentCatalog, TablesByPatternTypeAndTheSpecialLists) {
    const Case cases[] = {
        {"every table of PUB", {"", "PUB", "%", "'TABLE'"},
         {{"PUB", "CODES", "TABLE"}, {"PUB", "O'Brien", "TABLE"}, {"PUB", "ORDER_LINE", "TABLE"},
          {"PUB", "ORDERXLINE", "TABLE"}, {"PUB", "SHIPMENT", "TABLE"}}},
        {"'_' matches any character", {"", "%", "ORDER_LINE", ""},
         {{"PUB", "ORDER_LINE", "TABLE"}, {"PUB", "ORDERXLINE", "TABLE"}}},
        {"an escaped '_' matches itself", {"", "%", "ORDER\\_LINE", ""}, {{"PUB", "ORDER_LINE", "TABLE"}}},
        {"names ignore case", {"", "pub", "order\\_line", ""}, {{"PUB", "ORDER_LINE", "TABLE"}}},
        {"a name with a quote", {"", "", "O'Brien", ""}, {{"PUB", "O'Brien", "TABLE"}}},
        {"a quote cannot end the literal", {"", "", "x' OR 'a' = 'a", ""}, {}},
        {"views", {"", "%", "%", "'VIEW'"}, {{"PUB", "OPEN_LINES", "VIEW"}}},
        {"two types", {"", "", "O%", "'VIEW','TABLE'"}, {{"PUB", "O'Brien", "TABLE"}, {"PUB", "OPEN_LINES", "VIEW"},
                                                          {"PUB", "ORDER_LINE", "TABLE"}, {"PUB", "ORDERXLINE", "TABLE"}}},
        {"system tables", {"", "SYSPROGRESS", "SYS\\_KEY%", "'SYSTEM TABLE'"},
         {{"SYSPROGRESS", "SYS_KEYCOL_USAGE", "SYSTEM TABLE"}}},
        {"the owners", {"", "%", "", ""}, {{"PUB", "NULL", "NULL"}, {"SYSPROGRESS", "NULL", "NULL"}}},
        {"the table types", {"", "", "", "%"}, {{"NULL", "NULL", "SYSTEM TABLE"}, {"NULL", "NULL", "TABLE"},
                                                {"NULL", "NULL", "VIEW"}}},
        {"catalogs are not supported", {"%", "", "", ""}, {{"rc=43"}}},
        {"a type list that is not quoted items", {"", "", "%", "'TABLE') OR (1=1"}, {{"rc=21"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run(OA_DDTables, c.names, {2, 3, 4}), c.rows) << c.what;
    Run(OA_DDTables, {"", "", "CODES", ""});
    EXPECT_EQ(Described(), (std::vector<std::string>{"TABLE_CAT:12:32:1", "TABLE_SCHEM:12:32:1", "TABLE_NAME:12:32:1",
                                                     "TABLE_TYPE:12:32:1", "REMARKS:12:2000:1"}));
}

// Columns: the type columns rewritten from the server's codes for the ODBC version and the
// width, ORDINAL_POSITION from 1, remarks kept whole.
TEST_F(AgentCatalog, ColumnsWithTheirTypesPositionsAndRemarks) {
    // COLUMN_NAME, DATA_TYPE, TYPE_NAME, COLUMN_SIZE, BUFFER_LENGTH, DECIMAL_DIGITS, SQL_DATA_TYPE,
    // SQL_DATETIME_SUB, ORDINAL_POSITION, IS_NULLABLE
    const std::vector<int> pick = {4, 5, 6, 7, 8, 9, 14, 15, 17, 18};
    EXPECT_EQ(Run(OA_DDColumns, {"", "%", "ORDER\\_LINE", "%"}, pick),
              (Table{{"ORDER_ID", "4", "integer", "10", "4", "0", "4", "NULL", "1", "NO"},
                     {"LINE_NO", "4", "integer", "10", "4", "0", "4", "NULL", "2", "NO"},
                     {"QTY", "2", "numeric", "10", "12", "2", "2", "NULL", "3", "YES"},
                     {"PLACED", "91", "date", "10", "6", "NULL", "9", "1", "4", "YES"},
                     {"NOTE", "12", "varchar", "400", "400", "NULL", "12", "NULL", "5", "YES"}}));
    s.conn->odbcVersion = 2;
    EXPECT_EQ(Run(OA_DDColumns, {"", "", "ORDER_LINE", "PLACED"}, {4, 5}), (Table{{"PLACED", "9"}}));
    std::vector<std::string> odbc2 = Described();
    EXPECT_EQ(std::vector<std::string>(odbc2.begin(), odbc2.begin() + 2),
              (std::vector<std::string>{"TABLE_QUALIFIER:12:32:1", "TABLE_OWNER:12:32:1"}));
    EXPECT_EQ(odbc2.at(6), "PRECISION:4:10:1");
    EXPECT_EQ(odbc2.at(4), "DATA_TYPE:5:5:2");

    s.conn->showRemarks = 1;
    s.conn->wide = 1;
    s.conn->unicodeLibrary = 1;
    EXPECT_EQ(Run(OA_DDColumns, {"", "", "O'Brien", ""}, {4, 5, 12}), (Table{{"X", "4", kLongRemark}}));
    EXPECT_EQ(Run(OA_DDColumns, {"", "", "ORDER_LINE", "NOTE"}, {5, 14}), (Table{{"-9", "-9"}}));
    EXPECT_EQ(Described().at(3), "COLUMN_NAME:-9:32:2");
}

// The row fix-up writes only into cells of the types the override gave the columns: a
// block that does not match is left as it is.
TEST_F(AgentCatalog, FixUpsLeaveCellsOfOtherTypesAlone) {
    OA_CATARGS args{};
    args.names[2] = "CODES";
    ASSERT_EQ(OA_DDColumns(s.stmtId, &args), 0);
    ASSERT_NE(s.stmt->rowCallback, nullptr);
    DATASET ds{};
    ASSERT_EQ(ds_Init(&ds, 18), 0);
    for (uint16_t c = 0; c < 18; ++c) {
        ds.cols[c].type = DS_CHARZ;   // text where integers are expected
        ds.cols[c].width = 8;
    }
    ds.colsUsed = 18;
    ASSERT_EQ(ds_AllocRows(&ds, 1), 0);
    ds.rowsUsed = 1;
    for (uint16_t c = 0; c < 18; ++c)
        convtest::Put(&ds.cols[c], 0, std::string("1234567") + '\0');
    s.stmt->rowCallback(s.stmt->cursor, &ds);
    for (uint16_t c = 0; c < 18; ++c)
        EXPECT_EQ(convtest::RenderDs(&ds.cols[c], 0), "1234567") << "column " << c + 1;
    ds_Free(&ds);
    EXPECT_EQ(OA_CloseCursor(s.stmtId), 0);
}

// Keys: the primary key alone (not the foreign key's columns), KEY_SEQ from 1, a table
// without a key reporting its primary (unique) index; foreign keys paired by position.
TEST_F(AgentCatalog, PrimaryAndForeignKeys) {
    const Case primary[] = {
        {"two-column key", {"", "", "ORDER_LINE"}, {{"ORDER_ID", "1", "pk_ORDER_LINE"}, {"LINE_NO", "2", "pk_ORDER_LINE"}}},
        {"key beside a foreign key", {"", "PUB", "SHIPMENT"}, {{"ID", "1", "pk_SHIPMENT"}}},
        {"only a unique index", {"", "", "CODES"}, {{"CODE", "1", "sqlite_autoindex_CODES_1"}}},
        {"no key, no unique index", {"", "", "ORDERXLINE"}, {}},
        {"a table name is not a pattern", {"", "", "ORDER%"}, {}},
    };
    for (const Case& c : primary)
        EXPECT_EQ(Run(OA_DDPrimaryKeys, c.names, {4, 5, 6}), c.rows) << c.what;

    // PKTABLE_NAME, PKCOLUMN_NAME, FKTABLE_NAME, FKCOLUMN_NAME, KEY_SEQ, FK_NAME, PK_NAME
    const Table pairs = {{"ORDER_LINE", "ORDER_ID", "SHIPMENT", "ORDER_ID", "1", "fk_SHIPMENT_0", "pk_ORDER_LINE"},
                         {"ORDER_LINE", "LINE_NO", "SHIPMENT", "LINE_NO", "2", "fk_SHIPMENT_0", "pk_ORDER_LINE"}};
    const Case foreign[] = {
        {"by the key's table", {"", "", "ORDER_LINE", "", "", ""}, pairs},
        {"by the referring table", {"", "", "", "", "PUB", "SHIPMENT"}, pairs},
        {"by both", {"", "", "ORDER_LINE", "", "", "SHIPMENT"}, pairs},
        {"names are not patterns", {"", "", "ORDER%", "", "", ""}, {}},
    };
    for (const Case& c : foreign)
        EXPECT_EQ(Run(OA_DDForeignKeys, c.names, {3, 4, 7, 8, 9, 12, 13}), c.rows) << c.what;
}

// Statistics: never the index named "default"; unique 0 keeps the unique indexes; the
// order one character wide.
TEST_F(AgentCatalog, StatisticsAndSpecialColumns) {
    // TABLE_NAME, NON_UNIQUE, INDEX_NAME, ORDINAL_POSITION, COLUMN_NAME, ASC_OR_DESC
    const std::vector<int> pick = {3, 4, 6, 8, 9, 10};
    EXPECT_EQ(Run(OA_DDStatistics, {"", "", "CODES"}, pick, SQL_INDEX_ALL),
              (Table{{"CODES", "0", "sqlite_autoindex_CODES_1", "1", "CODE", "A"},
                     {"CODES", "1", "BY_LABEL", "1", "LABEL", "D"}}));
    EXPECT_EQ(Run(OA_DDStatistics, {"", "", "CODES"}, pick, SQL_INDEX_UNIQUE),
              (Table{{"CODES", "0", "sqlite_autoindex_CODES_1", "1", "CODE", "A"}}));
    EXPECT_EQ(Run(OA_DDStatistics, {"", "", "ORDERXLINE"}, pick, SQL_INDEX_ALL), Table{});
    EXPECT_EQ(Described().at(9), "ASC_OR_DESC:1:1:1");   // two wide as described, one once fetched
    s.conn->odbcVersion = 2;
    EXPECT_EQ(Run(OA_DDStatistics, {"", "", "ORDER_LINE"}, {8, 10}, SQL_INDEX_ALL),
              (Table{{"1", "A"}, {"2", "A"}}));
    EXPECT_EQ(Described().at(7), "SEQ_IN_INDEX:5:5:1");
    EXPECT_EQ(Described().at(9), "COLLATION:1:1:1");

    // SCOPE, COLUMN_NAME, DATA_TYPE, TYPE_NAME, COLUMN_SIZE, BUFFER_LENGTH
    EXPECT_EQ(Run(OA_DDSpecialColumns, {"", "", "ORDER_LINE"}, {1, 2, 3, 4, 5, 6}, SQL_BEST_ROWID),
              (Table{{"0", "ORDER_ID", "4", "integer", "10", "4"}, {"0", "LINE_NO", "4", "integer", "10", "4"}}));
    EXPECT_EQ(Run(OA_DDSpecialColumns, {"", "", "ORDER_LINE"}, {}, SQL_ROWVER), Table{});
    EXPECT_EQ(s.stmt->cols.count, 8);
}

// Privileges: the owner's, with grant option; the column call compares its schema and
// table with '=' and its column as a pattern.
TEST_F(AgentCatalog, TableAndColumnPrivileges) {
    Table tables = Run(OA_DDTablePrivileges, {"", "PUB", "ORDER\\_LINE"}, {3, 4, 5, 6, 7});
    EXPECT_EQ(tables, (Table{{"ORDER_LINE", "PUB", "PUB", "DELETE", "YES"},
                             {"ORDER_LINE", "PUB", "PUB", "INSERT", "YES"},
                             {"ORDER_LINE", "PUB", "PUB", "REFERENCES", "YES"},
                             {"ORDER_LINE", "PUB", "PUB", "SELECT", "YES"},
                             {"ORDER_LINE", "PUB", "PUB", "UPDATE", "YES"}}));
    const Case columns[] = {
        {"one column", {"", "PUB", "ORDER_LINE", "QTY"},
         {{"ORDER_LINE", "QTY", "REFERENCES", "YES"}, {"ORDER_LINE", "QTY", "UPDATE", "YES"},
          {"ORDER_LINE", "QTY", "SELECT", "YES"}}},
        {"the table name is not a pattern", {"", "", "ORDER_LIN%", "QTY"}, {}},
        {"the column name is", {"", "", "ORDERXLINE", "I_"},
         {{"ORDERXLINE", "ID", "REFERENCES", "YES"}, {"ORDERXLINE", "ID", "UPDATE", "YES"},
          {"ORDERXLINE", "ID", "SELECT", "YES"}}},
        {"views cannot be updated", {"", "", "OPEN_LINES", "QTY"},
         {{"OPEN_LINES", "QTY", "REFERENCES", "YES"}, {"OPEN_LINES", "QTY", "SELECT", "YES"}}},
    };
    for (const Case& c : columns)
        EXPECT_EQ(Run(OA_DDColumnPrivileges, c.names, {3, 4, 7, 8}), c.rows) << c.what;
}

TEST_F(AgentCatalog, ProceduresAreAnEmptyCatalogAndBadCallsAreRefused) {
    EXPECT_EQ(Run(OA_DDProcedures, {"", "%", "%"}), Table{});
    EXPECT_EQ(s.stmt->cols.count, 8);
    EXPECT_EQ(Run(OA_DDProcedureColumns, {"", "%", "%", "%"}), Table{});
    EXPECT_EQ(s.stmt->cols.count, 19);

    OA_CATARGS args{};
    for (CatOp op : {OA_DDColumnPrivileges, OA_DDColumns, OA_DDForeignKeys, OA_DDPrimaryKeys, OA_DDProcedureColumns,
                     OA_DDProcedures, OA_DDSpecialColumns, OA_DDStatistics, OA_DDTablePrivileges, OA_DDTables}) {
        EXPECT_EQ(op(0xDEAD, &args), ERR_INVALID_ARGUMENT_VALUE);
        EXPECT_EQ(op(s.stmtId, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    }
}

}  // namespace
