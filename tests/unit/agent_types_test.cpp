// The agent's type tables: server type to internal type in both modes, internal type to
// the server type of a parameter, type names and quotes, the column-attribute answers and
// the catalog type fix-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "drv_pro9/db_types.h"
#include "platform/esql92/esql92.h"
#include "util/dataset.h"

namespace {

// One internal type for both libraries: text stays as the server writes it (UTF-8 in the
// Unicode library, converted at delivery), NUMERIC and BIGINT arrive as VARCHAR text, and
// only the layouts the server cannot write pass through a buffer.
TEST(AgentTypes, ServerTypesMapToInternalTypes) {
    struct Case {
        int32_t server;
        int16_t key;
        int32_t dsType;
        bool conv;
    } cases[] = {
        {ESQL_CHARACTER, ESQL_CHARACTER, DS_CHARZ, false},
        {ESQL_NUMERIC, ESQL_VARCHAR, DS_CHARZ, false},
        {ESQL_SMALLINT, 5, DS_SSHORT, false},
        {ESQL_INTEGER, 4, DS_SLONG, false},
        {ESQL_REAL, 7, DS_FLOAT, false},
        {ESQL_FLOAT, 8, DS_DOUBLE, false},
        {ESQL_DATE, 91, DS_DATE, true},
        {ESQL_TIME, 92, DS_TIME, true},
        {ESQL_TIMESTAMP, 93, DS_TIMESTAMP, true},
        {ESQL_TINYINT, -6, DS_STINYINT, false},
        {ESQL_BINARY, -2, DS_LONGBINARY, true},
        {ESQL_BIT, -7, DS_UTINYINT, false},
        {ESQL_BIGINT, ESQL_VARCHAR, DS_CHARZ, false},
        {ESQL_VARCHAR, ESQL_VARCHAR, DS_CHARZ, false},
        {ESQL_VARBINARY, -2, DS_LONGBINARY, true},
    };
    for (const Case& c : cases) {
        int16_t key = 0;
        bool conv = !c.conv;
        EXPECT_EQ(db_DbmsTypeToDsCType(c.server, &key, &conv), c.dsType) << c.server;
        EXPECT_EQ(key, c.key) << c.server;
        EXPECT_EQ(conv, c.conv) << c.server;
    }
    int16_t key = 0;
    bool conv = true;
    EXPECT_EQ(db_DbmsTypeToDsCType(-1, &key, &conv), DB_TYPE_NONE);
    EXPECT_EQ(key, DB_TYPE_NONE);
    EXPECT_FALSE(conv);
    // In the Unicode library the connection's wide flag decides; the ANSI one has none.
    EXPECT_TRUE(db_WideTypes(true, true));
    EXPECT_FALSE(db_WideTypes(false, true));
    EXPECT_FALSE(db_WideTypes(true, false));
}

TEST(AgentTypes, InternalTypesMapToParameterServerTypes) {
    struct Case {
        int32_t ds;
        int32_t server;
        bool conv;
    } cases[] = {
        {1, ESQL_CHARACTER, false}, {2, ESQL_BIT, false},        {3, ESQL_TINYINT, false},
        {4, ESQL_SMALLINT, false},  {5, ESQL_INTEGER, false},    {9, ESQL_REAL, false},
        {10, ESQL_FLOAT, false},    {11, ESQL_DATE, true},       {12, ESQL_TIME, true},
        {13, ESQL_TIMESTAMP, true}, {14, ESQL_BINARY, true},     {15, ESQL_VARCHAR, true},
        {16, ESQL_VARBINARY, true}, {17, ESQL_VARCHAR, false},   {18, ESQL_VARCHAR, true},
        {19, ESQL_VARCHAR, true},   {20, ESQL_VARCHAR, true},    {21, ESQL_VARBINARY, true},
        {22, ESQL_VARBINARY, true}, {23, ESQL_VARBINARY, true},  {24, ESQL_CHARACTER, true},
        {25, ESQL_VARCHAR, true},   {26, ESQL_VARCHAR, true},    {27, ESQL_VARCHAR, true},
        // Unsigned values widen: a u8 of 200 sent as TINYINT would arrive as -56.
        {6, ESQL_SMALLINT, true},   {7, ESQL_INTEGER, true},     {8, ESQL_BIGINT, true},
        // A BIGINT parameter's eight bytes are the server's layout already.
        {28, ESQL_BIGINT, false},
        {0, DB_TYPE_NONE, false},   {29, DB_TYPE_NONE, false},
    };
    for (const Case& c : cases) {
        bool conv = !c.conv;
        EXPECT_EQ(db_DsCTypeToDbmsType(c.ds, &conv), c.server) << c.ds;
        EXPECT_EQ(conv, c.conv) << c.ds;
    }
}

TEST(AgentTypes, NamesQuotesAndColumnAttributes) {
    struct Case {
        int32_t server;
        const char* name;
        const char* quote;
        int64_t caseSensitive;
        int64_t searchable;
    } cases[] = {
        // The names of the type catalog's rows.
        {ESQL_CHARACTER, "character", "'", 1, 3}, {ESQL_VARCHAR, "varchar", "'", 1, 3},
        {ESQL_NUMERIC, "numeric", "", 0, 2},      {ESQL_INTEGER, "integer", "", 0, 2},
        {ESQL_SMALLINT, "smallint", "", 0, 2},    {ESQL_REAL, "real", "", 0, 2},
        {ESQL_FLOAT, "float", "", 0, 2},          {ESQL_DATE, "date", "", 0, 2},
        {ESQL_TIME, "time", "", 0, 2},            {ESQL_TIMESTAMP, "timestamp", "", 0, 2},
        {ESQL_BIT, "bit", "", 0, 2},              {ESQL_TINYINT, "tinyint", "", 0, 2},
        {ESQL_VARBINARY, "varbinary", "'", 0, 2}, {ESQL_BINARY, "binary", "'", 0, 2},
        {ESQL_BIGINT, "bigint", "", 0, 2},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(db_TypeName(c.server), c.name) << c.server;
        EXPECT_STREQ(db_QuoteChar(c.server), c.quote) << c.server;
        auto ask = [&](int16_t attribute, int64_t before = 77) {
            OA_COLATTRREQ req{3, attribute, OA_COLATTR_NUMBER, before, nullptr};
            db_ColAttribute(c.server, 2, &req);
            return req;
        };
        EXPECT_EQ(ask(10).number, 2);
        EXPECT_EQ(ask(11).number, 0);
        EXPECT_EQ(ask(35).number, 0);
        EXPECT_EQ(ask(12).number, c.caseSensitive) << c.server;
        EXPECT_EQ(ask(13).number, c.searchable) << c.server;
        for (int16_t attribute : {14, 27, 28}) {
            OA_COLATTRREQ req{3, attribute, OA_COLATTR_TEXT, 0, static_cast<char*>(std::malloc(4))};
            db_ColAttribute(c.server, 0, &req);   // replaces the earlier text
            ASSERT_NE(req.text, nullptr);
            EXPECT_STREQ(req.text, attribute == 14 ? c.name : c.quote) << c.server << " " << attribute;
            std::free(req.text);
        }
    }
    // Attributes the ODBC side answers are made negative; others stay as they were.
    OA_COLATTRREQ a{1, 1053, OA_COLATTR_NUMBER, 5, nullptr};
    OA_COLATTRREQ b{1, 1055, OA_COLATTR_NUMBER, 5, nullptr};
    OA_COLATTRREQ c{1, 2, OA_COLATTR_NUMBER, 5, nullptr};
    for (OA_COLATTRREQ* r : {&a, &b, &c})
        db_ColAttribute(ESQL_INTEGER, 1, r);
    EXPECT_EQ(a.attribute, -1053);
    EXPECT_EQ(b.attribute, -1055);
    EXPECT_EQ(c.attribute, 2);
    EXPECT_EQ(c.number, 5);
}

// A catalog row in the layout of the Columns result's type columns: DATA_TYPE, COLUMN_SIZE,
// BUFFER_LENGTH, DECIMAL_DIGITS, NUM_PREC_RADIX, SQL_DATA_TYPE, SQL_DATETIME_SUB, with the
// column types the catalog override gives them (S = i16, I = i32).
class CatalogRow {
public:
    CatalogRow() {
        const int32_t types[] = {DS_SSHORT, DS_SLONG, DS_SLONG, DS_SSHORT, DS_SSHORT, DS_SSHORT, DS_SSHORT};
        EXPECT_EQ(ds_Init(&ds, 7), 0);
        for (int i = 0; i < 7; ++i) {
            ds.cols[i].type = types[i];
            ds.cols[i].width = ds_TypeWidth(types[i], 0);
        }
        ds.colsUsed = 7;
        EXPECT_EQ(ds_AllocRows(&ds, 1), 0);
        ds.rowsUsed = 1;
    }
    ~CatalogRow() { ds_Free(&ds); }

    // Sets every cell: the code, then the server's size 20, buffer 21, digits 2, radix 10,
    // SQL type 99 and sub 98.
    void fill(int16_t code) {
        const int32_t values[] = {code, 20, 21, 2, 10, 99, 98};
        for (int i = 0; i < 7; ++i) {
            if (ds.cols[i].type == DS_SSHORT) {
                auto v = static_cast<int16_t>(values[i]);
                std::memcpy(ds.cols[i].data, &v, 2);
            } else {
                std::memcpy(ds.cols[i].data, &values[i], 4);
            }
            ds.cols[i].indicators[0] = 0;
        }
    }
    // The row as text: cells separated by blanks, "N" for NULL.
    std::string render() const {
        std::string s;
        for (int i = 0; i < 7; ++i) {
            if (i)
                s += ' ';
            if (ds.cols[i].indicators[0] < 0) {
                s += 'N';
                continue;
            }
            int32_t v;
            if (ds.cols[i].type == DS_SSHORT) {
                int16_t x;
                std::memcpy(&x, ds.cols[i].data, 2);
                v = x;
            } else {
                std::memcpy(&v, ds.cols[i].data, 4);
            }
            s += std::to_string(v);
        }
        return s;
    }

    DATASET ds;
};

TEST(AgentTypes, CatalogRowsGetOdbcTypes) {
    const DB_CATTYPECOLS roles{0, 1, 2, 3, 4, 5, 6};
    struct Case {
        int16_t code;
        const char* wide3;     // wide, ODBC 3
        const char* narrow2;   // narrow, ODBC 2
    } cases[] = {
        {1, "-9 20 21 N N -9 N", "12 20 21 N N 12 N"},
        {31, "-8 20 21 N N -8 N", "1 20 21 N N 1 N"},
        {2, "91 10 6 N N 9 1", "9 10 6 N N 9 1"},
        {33, "92 8 6 0 N 9 2", "10 8 6 0 N 9 2"},
        {34, "93 23 16 3 N 9 3", "11 23 16 3 N 9 3"},
        {3, "-7 1 1 0 10 -7 N", "-7 1 1 0 10 -7 N"},
        {4, "4 10 4 0 10 4 N", "4 10 4 0 10 4 N"},
        {5, "2 20 22 2 10 2 N", "2 20 22 2 10 2 N"},
        {8, "-3 20 21 N N -3 N", "-3 20 21 N N -3 N"},
        {21, "-6 3 1 0 10 -6 N", "-6 3 1 0 10 -6 N"},
        {22, "5 5 2 0 10 5 N", "5 5 2 0 10 5 N"},
        {24, "7 7 4 N 10 7 N", "7 7 4 N 10 7 N"},
        {25, "8 15 8 N 10 8 N", "8 15 8 N 10 8 N"},
        {32, "-5 19 20 0 10 -5 N", "-5 19 20 0 10 -5 N"},
        {35, "-2 20 21 N N -2 N", "-2 20 21 N N -2 N"},
        {7, "7 20 21 2 10 99 98", "7 20 21 2 10 99 98"},   // unknown: untouched
    };
    for (const Case& c : cases) {
        CatalogRow row;
        row.fill(c.code);
        db_FixCatalogType(&row.ds, 0, roles, 3, true);
        EXPECT_EQ(row.render(), c.wide3) << c.code;
        row.fill(c.code);
        db_FixCatalogType(&row.ds, 0, roles, 2, false);
        EXPECT_EQ(row.render(), c.narrow2) << c.code;
    }
}

TEST(AgentTypes, CatalogFixUpSkipsMissingRolesNullCodesAndNullSizes) {
    CatalogRow row;
    // Special columns discard the radix and the two SQL type roles.
    row.fill(4);
    db_FixCatalogType(&row.ds, 0, DB_CATTYPECOLS{0, 1, 2, 3, -1, -1, -1}, 3, true);
    EXPECT_EQ(row.render(), "4 10 4 0 10 99 98");
    // A NULL code leaves the row alone.
    row.fill(4);
    row.ds.cols[0].indicators[0] = DS_IND_NULL;
    db_FixCatalogType(&row.ds, 0, DB_CATTYPECOLS{0, 1, 2, 3, 4, 5, 6}, 3, true);
    EXPECT_EQ(row.render(), "N 20 21 2 10 99 98");
    // A NUMERIC without a COLUMN_SIZE keeps its BUFFER_LENGTH.
    row.fill(5);
    row.ds.cols[1].indicators[0] = DS_IND_NULL;
    db_FixCatalogType(&row.ds, 0, DB_CATTYPECOLS{0, 1, 2, 3, 4, 5, 6}, 3, true);
    EXPECT_EQ(row.render(), "2 N 21 2 10 2 N");
    // Rows outside the dataset are ignored.
    db_FixCatalogType(&row.ds, 1, DB_CATTYPECOLS{0, 1, 2, 3, 4, 5, 6}, 3, true);
    db_FixCatalogType(&row.ds, -1, DB_CATTYPECOLS{0, 1, 2, 3, 4, 5, 6}, 3, true);
}

}  // namespace
