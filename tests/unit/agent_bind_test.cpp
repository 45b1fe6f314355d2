// SQLDA binding against the scripted back-end of the ESQL client: describing every server
// type in both modes, fetching through bound and intermediate buffers into a dataset,
// binding parameters of every internal type (as the server receives them), and the
// failures of the client's SQLDA calls.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <optional>
#include <string>
#include <vector>

#include "drv_pro9/db_bind.h"
#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_err.h"
#include "platform/esql92/esql92_script.h"
#include "tests/unit/agent_conv_support.h"
#include "tests/unit/dataset_fixture.h"
#include "util/errcode.h"

namespace {

using namespace convtest;
using esql92::Cell;
using esql92::Column;
using esql92::Result;

// One scripted connection with a prepared cursor whose output and input SQLDA areas sit in
// a DB_SQLDABIND, as the cursor code keeps them.
class ScriptedCursor : public ::testing::Test {
protected:
    void Prepare(Result result, const char* sql = "SELECT") {
        script.addResult(std::move(result));
        ASSERT_EQ(tpe_sqlconnect("progress:T:h:1:db", "C1", "u", "p", nullptr, &ca), 0);
        db = tpe_get_curdbhdl();
        tm = tpe_get_curtmhdl();
        unsigned char id[ESQL_IDENTITY_SIZE] = {1};
        ASSERT_EQ(tpe_set_cursor(tm, db, &cur, id, ESQL_CURSOR_DYNAMIC, sql, &ca), 0);
        ASSERT_EQ(tpe_sqlprepare(tm, db, cur, &ca), 0);
        bind.sqlca = &ca;
        bind.errors = &errors;
        bind.output = Describe(false);
        bind.input = Describe(true);
    }

    PRO_SQLDA* Describe(bool input) {
        int kind = input ? ESQL_SQLDA_INPUT : ESQL_SQLDA_OUTPUT;
        PRO_SQLDA* da = PRO_SQLDA_Allocate(1, kind);
        auto run = [&] {
            return input ? tpe_sqldescribe_input(tm, db, cur, da, &ca) : tpe_sqldescribe(tm, db, cur, da, &ca);
        };
        EXPECT_EQ(run(), 0);
        uint32_t count = 0;
        PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_COUNT, &count, &ca);
        if (static_cast<int32_t>(count) < 0) {
            PRO_SQLDA_Deallocate(da);
            da = PRO_SQLDA_Allocate(static_cast<uint32_t>(-static_cast<int32_t>(count)), kind);
            EXPECT_EQ(run(), 0);
            PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_COUNT, &count, &ca);
        }
        (input ? paramCount : colCount) = count;
        return da;
    }

    // Describes every result column into descs and the column slots.
    void DescribeAll(bool wide, int odbcVersion) {
        ASSERT_EQ(db_BindAllocCols(&bind, static_cast<uint16_t>(colCount)), 0);
        descs.assign(colCount, COLDESC{});
        updatable.assign(colCount, -1);
        for (uint32_t c = 1; c <= colCount; ++c)
            ASSERT_EQ(db_DescribeCol(&bind, true, c, wide, odbcVersion, &descs[c - 1], &updatable[c - 1]), 0) << c;
    }

    // Fetches the whole result, `block` rows at a time, rendering every value ("NULL").
    std::vector<std::vector<std::string>> FetchAll(int32_t block) {
        std::vector<std::vector<std::string>> rows;
        DATASET ds{};
        EXPECT_EQ(ds_InitFromColDescs(descs.data(), static_cast<uint16_t>(descs.size()), 0, &ds), 0);
        EXPECT_EQ(tpe_sqldeclare(tm, db, cur, nullptr, &ca), 0);
        EXPECT_EQ(tpe_sqlopen(tm, db, cur, nullptr, &ca), 0);
        for (int rc = 0; rc == 0;) {
            EXPECT_EQ(ds_AllocRows(&ds, block), 0);
            EXPECT_EQ(db_BindResultCols(&bind, &ds), 0);
            rc = tpe_sqlfetch(tm, db, cur, bind.output, &ca);
            EXPECT_GE(rc, 0) << ca.sqlerrmc;
            if (rc < 0)
                break;
            auto n = static_cast<int32_t>(ca.sqlrows);
            for (uint16_t c = 0; c < ds.colsUsed; ++c)
                EXPECT_EQ(db_ConvFetchedRows(&bind, &ds, c, n), 0);
            for (int32_t r = 0; r < n; ++r) {
                std::vector<std::string> row;
                for (uint16_t c = 0; c < ds.colsUsed; ++c)
                    row.push_back(ds.cols[c].indicators[r] < 0 ? "NULL" : RenderDs(&ds.cols[c], r));
                rows.push_back(row);
            }
        }
        ds_Free(&ds);
        return rows;
    }

    esql92::Script script;
    ESQL_SQLCA ca{};
    ESQL_DBHDL db = nullptr;
    ESQL_TMHDL tm = nullptr;
    ESQL_CURHDL cur = nullptr;
    OA_ERRLIST errors;
    DB_SQLDABIND bind;
    uint32_t colCount = 0;
    uint32_t paramCount = 0;
    std::vector<COLDESC> descs;
    std::vector<int32_t> updatable;
};

struct DescCase {
    Column col;
    int32_t sqlNarrow, sqlWide;
    uint32_t columnSize;
    int16_t digits;
    uint32_t display;
    int32_t ds;   // the same in both modes: text stays UTF-8 until delivery
    uint32_t width;
};

TEST_F(ScriptedCursor, DescribesEveryServerTypeInBothModes) {
    const DescCase cases[] = {
        {{"C", ESQL_CHARACTER, 10}, SQL_CHAR, SQL_WCHAR, 10, 0, 11, DS_CHARZ, 11},
        {{"V", ESQL_VARCHAR, 20}, SQL_VARCHAR, SQL_WVARCHAR, 20, 0, 21, DS_CHARZ, 21},
        {{"N", ESQL_NUMERIC, 10, 2}, SQL_NUMERIC, SQL_NUMERIC, 10, 2, 13, DS_CHARZ, 30},
        {{"N50", ESQL_NUMERIC, 50, 10}, SQL_NUMERIC, SQL_NUMERIC, 50, 10, 53, DS_CHARZ, 53},
        {{"I", ESQL_INTEGER}, SQL_INTEGER, SQL_INTEGER, 10, 0, 11, DS_SLONG, 4},
        {{"S", ESQL_SMALLINT}, SQL_SMALLINT, SQL_SMALLINT, 5, 0, 6, DS_SSHORT, 2},
        {{"R", ESQL_REAL}, SQL_REAL, SQL_REAL, 7, 0, 13, DS_FLOAT, 4},
        {{"F", ESQL_FLOAT}, SQL_DOUBLE, SQL_DOUBLE, 15, 0, 22, DS_DOUBLE, 8},
        {{"D", ESQL_DATE}, SQL_TYPE_DATE, SQL_TYPE_DATE, 10, 0, 10, DS_DATE, 16},
        {{"T", ESQL_TIME}, SQL_TYPE_TIME, SQL_TYPE_TIME, 8, 0, 8, DS_TIME, 16},
        {{"TS", ESQL_TIMESTAMP}, SQL_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, 23, DS_TIMESTAMP, 16},
        {{"BI", ESQL_BIGINT}, SQL_BIGINT, SQL_BIGINT, 19, 0, 20, DS_CHARZ, 20},
        {{"BT", ESQL_BIT}, SQL_BIT, SQL_BIT, 1, 0, 1, DS_UTINYINT, 1},
        {{"TI", ESQL_TINYINT}, SQL_TINYINT, SQL_TINYINT, 3, 0, 4, DS_STINYINT, 1},
        {{"VB", ESQL_VARBINARY, 100}, SQL_VARBINARY, SQL_VARBINARY, 200, 0, 200, DS_LONGBINARY, 100},
        {{"B", ESQL_BINARY, 8}, SQL_BINARY, SQL_BINARY, 16, 0, 16, DS_LONGBINARY, 8},
    };
    Result r;
    for (const DescCase& c : cases)
        r.columns.push_back(c.col);
    r.columns[0].nullable = 0;
    r.columns[0].updatable = 1;
    r.columns[1].updatable = 2;
    Prepare(r);
    for (bool wide : {false, true}) {
        DescribeAll(wide, SQL_OV_ODBC3);
        for (size_t i = 0; i < std::size(cases); ++i) {
            const DescCase& c = cases[i];
            const COLDESC& d = descs[i];
            SCOPED_TRACE(c.col.name + (wide ? " wide" : " narrow"));
            EXPECT_STREQ(d.name, c.col.name.c_str());
            EXPECT_EQ(d.serverType, c.col.type);
            EXPECT_EQ(d.sqlType, wide ? c.sqlWide : c.sqlNarrow);
            EXPECT_EQ(d.columnSize, c.columnSize);
            EXPECT_EQ(d.decimalDigits, c.digits);
            EXPECT_EQ(d.displaySize, c.display);
            EXPECT_EQ(d.internalType, c.ds);
            EXPECT_EQ(d.declaredWidth, c.width);
        }
    }
    // Nullability in bits 0-3, updatability 0, 1, 2 as 1, 2, 3 in bits 4-5.
    EXPECT_EQ(descs[0].flags, 0x20u);
    EXPECT_EQ(updatable[0], 1);
    EXPECT_EQ(descs[1].flags, 0x31u);
    EXPECT_EQ(updatable[1], 2);
    EXPECT_EQ(descs[2].flags, 0x11u);
    EXPECT_EQ(updatable[2], 0);

    // An ODBC 2 connection sees the datetime types of ODBC 2.
    DescribeAll(false, SQL_OV_ODBC2);
    EXPECT_EQ(descs[8].sqlType, SQL_DATE);
    EXPECT_EQ(descs[9].sqlType, SQL_TIME);
    EXPECT_EQ(descs[10].sqlType, SQL_TIMESTAMP);
}

TEST_F(ScriptedCursor, NamesAreCutComputedOrKept) {
    // 46 ASCII bytes and a two-byte character: the 47-byte cut falls inside it.
    std::string longName = std::string(46, 'x') + "\xC3\xA9" + "tail";
    Prepare(Result{{{"A", ESQL_INTEGER}, {longName, ESQL_INTEGER}, {"", ESQL_INTEGER}, {"P", ESQL_INTEGER}}});
    ASSERT_EQ(db_BindAllocCols(&bind, 4), 0);
    COLDESC d[4];
    std::memset(d[3].name, 0x7f, sizeof d[3].name);
    std::strcpy(d[3].name, "*U");
    for (uint32_t c = 1; c <= 4; ++c)
        ASSERT_EQ(db_DescribeCol(&bind, true, c, false, SQL_OV_ODBC3, &d[c - 1], nullptr), 0);
    EXPECT_STREQ(d[0].name, "A");
    EXPECT_EQ(std::string(d[1].name), std::string(46, 'x'));
    EXPECT_STREQ(d[2].name, "EXPR_3");
    EXPECT_STREQ(d[3].name, "*U");   // a parameter's direction mark stays

    // Exactly 47 bytes fit.
    std::string name47(47, 'y');
    script.addResult(Result{{{name47, ESQL_INTEGER}}});
    ASSERT_EQ(tpe_sqlprepare(tm, db, cur, &ca), 0);
    ASSERT_EQ(tpe_sqldescribe(tm, db, cur, bind.output, &ca), 0);
    COLDESC e;
    ASSERT_EQ(db_DescribeCol(&bind, true, 1, false, SQL_OV_ODBC3, &e, nullptr), 0);
    EXPECT_EQ(std::string(e.name), name47);
}

TEST_F(ScriptedCursor, DescribeFailures) {
    LogLines log;
    Prepare(Result{{{"A", ESQL_INTEGER}, {"X", 99}}});
    ASSERT_EQ(db_BindAllocCols(&bind, 2), 0);
    COLDESC d;
    EXPECT_EQ(db_DescribeCol(&bind, true, 2, false, SQL_OV_ODBC3, &d, nullptr), ERR_GENERAL_ERROR);
    EXPECT_EQ(d.internalType, DB_TYPE_NONE);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Unsupported database type 99\n"});
    ASSERT_NE(errors.head, nullptr);
    EXPECT_STREQ(errors.head->message, "Unsupported database type 99");

    // A failing SQLDA call: its messages move to the statement's list, replacing the last.
    EXPECT_EQ(db_DescribeCol(&bind, true, 3, false, SQL_OV_ODBC3, &d, nullptr), ERR_GENERAL_ERROR);
    ASSERT_NE(errors.head, nullptr);
    EXPECT_EQ(errors.head->native, ESQL_ERR_COLUMN_INDEX);
    EXPECT_STREQ(errors.head->sqlstate, "07009");
    EXPECT_EQ(errors.head->next, nullptr);
    EXPECT_EQ(ca.sqlcode, 0);   // taken off the client's queue
}

TEST_F(ScriptedCursor, FetchesEveryServerTypeThroughTheBinding) {
    Result r{{{"C", ESQL_CHARACTER, 4},
              {"V", ESQL_VARCHAR, 10},
              {"N", ESQL_NUMERIC, 10, 2},
              {"I", ESQL_INTEGER},
              {"S", ESQL_SMALLINT},
              {"R", ESQL_REAL},
              {"F", ESQL_FLOAT},
              {"D", ESQL_DATE},
              {"T", ESQL_TIME},
              {"TS", ESQL_TIMESTAMP},
              {"BI", ESQL_BIGINT},
              {"BT", ESQL_BIT},
              {"TI", ESQL_TINYINT},
              {"VB", ESQL_VARBINARY, 10},
              {"B", ESQL_BINARY, 3}}};
    r.rows = {
        {"ab", kHello, "-12.5", 7, -3, 1.5, 2.25, "2012/03/04", "13:14:15", "2012/03/04 13:14:15:123",
         int64_t{INT64_MIN}, 1, -100, Cell::bytes("\x01\xff"), Cell::bytes("xy")},
        {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
         nullptr, nullptr, nullptr},
        {"abcd", "", "0", 0, 0, 0.0, 0.0, "1999/12/31", "00:00:00", "1999/12/31 23:59:59:999", int64_t{42}, 0, 127,
         Cell::bytes(""), Cell::bytes("")},
    };
    const std::vector<std::string> nulls(15, "NULL");
    const std::vector<std::vector<std::string>> expected = {
        {"ab  ", kHello, "-12.50", "7", "-3", "1.5", "2.25", "2012-3-4", "13:14:15", "2012-3-4 13:14:15.123000000",
         "-9223372036854775808", "1", "-100", "2:01ff", "3:787900"},
        nulls,
        {"abcd", "", "0.00", "0", "0", "0", "0", "1999-12-31", "0:0:0", "1999-12-31 23:59:59.999000000", "42", "0",
         "127", "0:", "3:000000"},
    };
    Prepare(r);
    for (bool wide : {false, true}) {
        for (int32_t block : {1, 2, 5}) {
            SCOPED_TRACE(std::string(wide ? "wide" : "narrow") + " block " + std::to_string(block));
            DescribeAll(wide, SQL_OV_ODBC3);
            EXPECT_EQ(FetchAll(block), expected);
            ASSERT_EQ(tpe_sqlclose(tm, db, cur, &ca), 0);
        }
    }
}

TEST_F(ScriptedCursor, ResultBindingPointsTheAreaAtTheDatasetOrItsBuffers) {
    LogLines log;
    Prepare(Result{{{"I", ESQL_INTEGER}, {"D", ESQL_DATE}, {"V", ESQL_VARCHAR, 5}, {"BI", ESQL_BIGINT},
                    {"N", ESQL_NUMERIC, 10, 2}}});
    DescribeAll(true, SQL_OV_ODBC3);
    DATASET ds{};
    ASSERT_EQ(ds_InitFromColDescs(descs.data(), 5, 4, &ds), 0);
    ASSERT_EQ(db_BindResultCols(&bind, &ds), 0);
    uint32_t rows = 0;
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(bind.output, ESQL_DA_ROWS, &rows, &ca);
    EXPECT_EQ(rows, 4u);
    struct Expect {
        void* data;
        uint32_t length;
        int32_t type;
    } expect[] = {
        {ds.cols[0].data, 4, ESQL_INTEGER},                // straight into the dataset
        {bind.cols[1].buffer.data.get(), 4, ESQL_DATE},    // the DATE layout, converted
        {ds.cols[2].data, 7, ESQL_VARCHAR},                // UTF-8 text in place, wide mode too
        {ds.cols[3].data, 21, ESQL_VARCHAR},               // BIGINT and NUMERIC as their text
        {ds.cols[4].data, 31, ESQL_VARCHAR},
    };
    const void* dateBuffer = bind.cols[1].buffer.data.get();
    const int32_t* indicators = bind.colIndicators.get();
    // A block of the same shape bound again keeps its buffers: a fetch allocates nothing.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            ASSERT_EQ(db_BindResultCols(&bind, &ds), 0);
            EXPECT_EQ(bind.cols[1].buffer.data.get(), dateBuffer);
            EXPECT_EQ(bind.colIndicators.get(), indicators);
        }
        for (uint32_t c = 1; c <= 5; ++c) {
            void* data = nullptr;
            uint32_t length = 0;
            int32_t type = 0;
            int32_t* ind = nullptr;
            PRO_SQLDA_Get_Col_Attribute_void_p(bind.output, ESQL_COL_DATA, c, &data, &ca);
            PRO_SQLDA_Get_Col_Attribute_dh_u32_t(bind.output, ESQL_COL_LENGTH, c, &length, &ca);
            PRO_SQLDA_Get_Col_Attribute_dh_i32_t(bind.output, ESQL_COL_TYPE, c, &type, &ca);
            PRO_SQLDA_Get_Col_Attribute_dh_i32_t_p(bind.output, ESQL_COL_INDICATOR, c, &ind, &ca);
            EXPECT_EQ(data, expect[c - 1].data) << c;
            EXPECT_NE(data, nullptr) << c;
            EXPECT_EQ(length, expect[c - 1].length) << c;
            EXPECT_EQ(type, expect[c - 1].type) << c;
            EXPECT_EQ(ind, bind.colIndicators.get() + (c - 1) * 4) << c;
        }
    }
    // Indicators: -1 NULL, a positive (cut) length 1, 0 present; no conversion for NULLs.
    int32_t* ind = bind.colIndicators.get();
    ind[0] = -1;
    ind[1] = 9;
    ind[2] = 0;
    ind[3] = -1;
    EXPECT_EQ(db_ConvFetchedRows(&bind, &ds, 0, 4), 0);
    EXPECT_EQ(std::vector<int16_t>(ds.cols[0].indicators, ds.cols[0].indicators + 4),
              (std::vector<int16_t>{-1, 1, 0, -1}));

    // A dataset of another shape is refused.
    ds.colsUsed = 2;
    EXPECT_EQ(db_BindResultCols(&bind, &ds), ERR_GENERAL_ERROR);
    EXPECT_EQ(log.lines, std::vector<std::string>{"db_BindResultCols: 2 dataset columns for 5 result columns\n"});
    ds.colsUsed = 5;
    ds_Free(&ds);
}

// Parameters: each internal type bound as the statement's only parameter and run once per
// row; the scripted server renders what it received.
struct ParamBindCase {
    int32_t ds;
    uint32_t width;
    std::string bytes;
    int64_t refLength;
    const char* received;
};

TEST_F(ScriptedCursor, ParametersOfEveryInternalTypeReachTheServer) {
    const ParamBindCase cases[] = {
        {DS_CHAR, 4, "ab", -1, "'ab'"},
        {DS_BIT, 1, "\x01", -1, "1"},
        {DS_STINYINT, 1, "\x9c", -1, "-100"},
        {DS_SSHORT, 2, Bytes(int16_t{-3}), -1, "-3"},
        {DS_SLONG, 4, Bytes(int32_t{70000}), -1, "70000"},
        {DS_UTINYINT, 1, "\xc8", -1, "200"},
        {DS_USHORT, 2, Bytes(uint16_t{60000}), -1, "60000"},
        {DS_ULONG, 4, Bytes(uint32_t{4000000000u}), -1, "4000000000"},
        {DS_FLOAT, 4, Bytes(1.5f), -1, "1.5"},
        {DS_DOUBLE, 8, Bytes(2.25), -1, "2.25"},
        {DS_DATE, 6, Bytes(SQL_DATE_STRUCT{2012, 3, 4}), -1, "'2012/03/04'"},
        {DS_TIME, 6, Bytes(SQL_TIME_STRUCT{13, 14, 15}), -1, "'13:14:15'"},
        {DS_TIMESTAMP, 16, Bytes(SQL_TIMESTAMP_STRUCT{2012, 3, 4, 13, 14, 15, 999999}), -1,
         "'2012/03/04 13:14:15:000'"},   // below a millisecond: lost on the way
        {DS_BINARY, 2, "\x01\xff", -1, "x'01ff'"},
        {DS_LONGCHAR, 16, "hello", 5, "'hello'"},
        {DS_LONGBINARY, 16, "xyz", 3, "x'78797a'"},
        {DS_LONGBINARY, 16, "", 0, "x''"},
        {DS_CHARZ, 6, "hi", -1, "'hi'"},
        {DS_VARCHAR8, 4, "\x02" "ab", -1, "'ab'"},
        {DS_VARBINARY32, 8, Prefixed(int32_t{1}, "z"), -1, "x'7a'"},
        {DS_WCHAR, 4, U16("h\xC3\xA9"), -1, "'h\xC3\xA9'"},
        {DS_WCHARZ, 12, U16(kHello), -1, "'h\xC3\xA9llo'"},
        {DS_LONGWCHAR, 16, U16("ok"), 2, "'ok'"},
    };
    Prepare(Result{{}, {}, {{"", ESQL_VARCHAR, 20}}}, "INSERT INTO T VALUES (?)");
    ASSERT_EQ(paramCount, 1u);
    ASSERT_EQ(db_BindAllocParams(&bind, 1), 0);
    for (const ParamBindCase& c : cases) {
        auto ds = dsfix::Make({{c.ds, c.width}}, 3);
        if (c.refLength >= 0)
            PutRef(&ds->cols[0], 0, c.bytes, static_cast<uint32_t>(c.refLength));
        else
            Put(&ds->cols[0], 0, c.bytes);
        // Row 1 stays NULL; row 2 repeats row 0 for the single-row binding below.
        if (c.refLength >= 0)
            PutRef(&ds->cols[0], 2, c.bytes, static_cast<uint32_t>(c.refLength));
        else
            Put(&ds->cols[0], 2, c.bytes);
        script.takeCalls();
        ASSERT_EQ(db_BindInParam(&bind, 0, 1, &ds->cols[0], 0, 2), 0) << c.ds;
        ASSERT_EQ(tpe_sqlexecute(tm, db, cur, bind.input, &ca), 0);
        ASSERT_EQ(db_BindInParam(&bind, 0, 1, &ds->cols[0], 2, 1), 0) << c.ds;
        ASSERT_EQ(tpe_sqlexecute(tm, db, cur, bind.input, &ca), 0);
        const std::vector<std::string> calls = {
            std::string("tpe_sqlexecute #1 (") + c.received + ") (NULL)",
            std::string("tpe_sqlexecute #1 (") + c.received + ")",
        };
        EXPECT_EQ(script.takeCalls(), calls) << c.ds;
        int16_t direction = 0;
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(bind.input, ESQL_COL_DIRECTION, 1, &direction, &ca);
        EXPECT_EQ(direction, 1);
    }
}

// A prepared statement executed again keeps its indicator arrays and converted buffers and
// sets only the SQLDA attributes that changed: each execution must still send its own
// values, NULLs included, also after a failed binding left the SQLDA half set.
TEST_F(ScriptedCursor, ParametersBoundAgainSendTheirOwnValues) {
    Prepare(Result{{}, {}, {{"", ESQL_VARCHAR, 20}, {"", ESQL_VARCHAR, 20}}}, "INSERT INTO T VALUES (?, ?)");
    ASSERT_EQ(db_BindAllocParams(&bind, 2), 0);
    struct Run {
        const char* a;  // a DATE (converted) and an INTEGER (bound in place); null for NULL
        std::optional<int32_t> b;
        const char* received;
    };
    const SQL_DATE_STRUCT d1{2001, 2, 3}, d2{2004, 5, 6};
    const Run runs[] = {
        {"d1", 7, "('2001/02/03', 7)"},
        {nullptr, 8, "(NULL, 8)"},
        {"d2", std::nullopt, "('2004/05/06', NULL)"},
        {"d1", 9, "('2001/02/03', 9)"},
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const Run& r : runs) {
            auto ds = dsfix::Make({{DS_DATE, 6}, {DS_SLONG, 4}}, 1);
            if (r.a != nullptr)
                Put(&ds->cols[0], 0, Bytes(std::string(r.a) == "d1" ? d1 : d2));
            if (r.b)
                Put(&ds->cols[1], 0, Bytes(*r.b));
            script.takeCalls();
            ASSERT_EQ(db_BindInParam(&bind, 0, 1, &ds->cols[0], 0, 1), 0);
            ASSERT_EQ(db_BindInParam(&bind, 0, 2, &ds->cols[1], 0, 1), 0);
            ASSERT_EQ(tpe_sqlexecute(tm, db, cur, bind.input, &ca), 0);
            EXPECT_EQ(script.takeCalls(), std::vector<std::string>{std::string("tpe_sqlexecute #1 ") + r.received})
                << "pass " << pass;
        }
        // A binding refused half way (a zero date after a good one in two rows) leaves the
        // SQLDA pointing where nothing is known; the next pass must bind everything again.
        auto bad = dsfix::Make({{DS_DATE, 6}}, 2);
        Put(&bad->cols[0], 0, Bytes(d1));
        Put(&bad->cols[0], 1, Bytes(SQL_DATE_STRUCT{0, 0, 0}));
        EXPECT_EQ(db_BindInParam(&bind, 0, 1, &bad->cols[0], 0, 2), ERR_INVALID_DATETIME_FORMAT);
    }
}

TEST_F(ScriptedCursor, ParameterRefusalsAndFailures) {
    LogLines log;
    Prepare(Result{{}, {}, {{"", ESQL_VARCHAR, 20}}}, "INSERT INTO T VALUES (?)");
    ASSERT_EQ(db_BindAllocParams(&bind, 1), 0);

    // A date of zeros is no value: refused, not sent as NULL.
    auto dates = dsfix::Make({{DS_DATE, 6}}, 1);
    Put(&dates->cols[0], 0, Bytes(SQL_DATE_STRUCT{0, 0, 0}));
    EXPECT_EQ(db_BindInParam(&bind, 0, 1, &dates->cols[0], 0, 1), ERR_INVALID_DATETIME_FORMAT);
    ASSERT_NE(errors.head, nullptr);
    EXPECT_STREQ(errors.head->sqlstate, "22007");
    EXPECT_EQ(dates->cols[0].indicators[0], 0);   // the application's value stays as it was

    // A binary value longer than its element.
    auto bins = dsfix::Make({{DS_LONGBINARY, 16}}, 1);
    PutRef(&bins->cols[0], 0, std::string(40000, 'b'), 40000);
    EXPECT_EQ(db_BindInParam(&bind, 0, 1, &bins->cols[0], 0, 1), ERR_STRING_DATA_RIGHT_TRUNCATION);
    EXPECT_STREQ(errors.head->sqlstate, "22001");

    // An internal type without a server type.
    auto none = dsfix::Make({{DS_NONE, 1}}, 1);
    EXPECT_EQ(db_BindInParam(&bind, 0, 1, &none->cols[0], 0, 1), ERR_GENERAL_ERROR);
    EXPECT_STREQ(errors.head->message, "No support for internal type 0 in parameter 1");
    EXPECT_EQ(log.lines, std::vector<std::string>{"db_BindParam: No support for internal type 0\n"});

    // A parameter the SQLDA does not have: the client's refusal is posted.
    auto ints = dsfix::Make({{DS_SLONG, 4}}, 1);
    EXPECT_EQ(db_BindInParam(&bind, 0, 2, &ints->cols[0], 0, 1), ERR_GENERAL_ERROR);
    EXPECT_EQ(errors.head->native, ESQL_ERR_COLUMN_INDEX);

    // No memory for the indicators.
    dsfix::FailAfter noMemory(0);
    EXPECT_EQ(db_BindInParam(&bind, 0, 1, &ints->cols[0], 0, 1), ERR_MEMORY_ALLOCATION_FAILURE);
}

TEST_F(ScriptedCursor, OutputAndInputOutputParameters) {
    LogLines log;
    Prepare(Result{{}, {}, {{"", ESQL_VARCHAR, 20}, {"", ESQL_VARCHAR, 20}, {"", ESQL_VARCHAR, 20}}},
            "CALL P(?, ?, ?)");
    ASSERT_EQ(db_BindAllocParams(&bind, 3), 0);
    // The result dataset: an INTEGER and a DATE output, and the in/out column.
    auto result = dsfix::Make({{DS_SLONG, 4}, {DS_DATE, 6}, {DS_NONE, 1}}, 2);
    auto values = dsfix::Make({{DS_LONGCHAR, 16}}, 2);
    PutRef(&values->cols[0], 0, "abc", 3);

    ASSERT_EQ(db_BindOutParam(&bind, 0, 1, result.get(), 0, 2), 0);
    ASSERT_EQ(db_BindOutParam(&bind, 0, 2, result.get(), 1, 2), 0);
    ASSERT_EQ(db_BindInOutParam(&bind, 3, 3, &values->cols[0], result.get(), 2, 0, 2), 0);

    // The in/out column took the value's type, width, indicators and its own copy of the text.
    const DATASET_COL& io = result->cols[2];
    EXPECT_EQ(io.type, DS_LONGCHAR);
    EXPECT_EQ(io.width, 16u);
    EXPECT_EQ(io.indicators[0], 0);
    EXPECT_EQ(io.indicators[1], DS_IND_NULL);
    DS_REFVAL a, b;
    std::memcpy(&a, ds_Elem(&io, 0), sizeof a);
    std::memcpy(&b, ds_Elem(&values->cols[0], 0), sizeof b);
    EXPECT_EQ(a.length, 3u);
    EXPECT_NE(a.data, b.data);

    struct Expect {
        int32_t type;
        int16_t direction;
        int16_t scale;
        void* data;
        uint32_t length;
        std::vector<int32_t> ind;
    } expect[] = {
        {ESQL_INTEGER, 4, 0, result->cols[0].data, 4, {-1, -1}},
        {ESQL_DATE, 4, 0, bind.params[1].buffer.data.get(), 4, {-1, -1}},
        {ESQL_VARCHAR, 2, 3, bind.params[2].buffer.data.get(), 4, {3, -1}},  // counted text tells its length
    };
    for (uint32_t p = 1; p <= 3; ++p) {
        const Expect& e = expect[p - 1];
        int32_t type = 0;
        int16_t direction = 0, scale = 0;
        void* data = nullptr;
        uint32_t length = 0;
        int32_t* ind = nullptr;
        PRO_SQLDA_Get_Col_Attribute_dh_i32_t(bind.input, ESQL_COL_TYPE, p, &type, &ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(bind.input, ESQL_COL_DIRECTION, p, &direction, &ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(bind.input, ESQL_COL_SCALE, p, &scale, &ca);
        PRO_SQLDA_Get_Col_Attribute_void_p(bind.input, ESQL_COL_DATA, p, &data, &ca);
        PRO_SQLDA_Get_Col_Attribute_dh_u32_t(bind.input, ESQL_COL_LENGTH, p, &length, &ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i32_t_p(bind.input, ESQL_COL_INDICATOR, p, &ind, &ca);
        EXPECT_EQ(type, e.type) << p;
        EXPECT_EQ(direction, e.direction) << p;
        EXPECT_EQ(scale, e.scale) << p;
        EXPECT_EQ(data, e.data) << p;
        EXPECT_NE(data, nullptr) << p;
        EXPECT_EQ(length, e.length) << p;
        ASSERT_NE(ind, nullptr);
        EXPECT_EQ(std::vector<int32_t>(ind, ind + 2), e.ind) << p;
    }
    uint32_t rows = 0;
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(bind.input, ESQL_DA_ROWS, &rows, &ca);
    EXPECT_EQ(rows, 2u);

    // More rows than the result holds.
    EXPECT_EQ(db_BindInOutParam(&bind, 0, 3, &values->cols[0], result.get(), 2, 0, 3), ERR_GENERAL_ERROR);
    EXPECT_EQ(log.lines, std::vector<std::string>{"db_BindInOutParam: 3 rows do not fit a result of 2 rows\n"});
    EXPECT_EQ(db_BindOutParam(&bind, 0, 1, result.get(), 0, 3), ERR_INVALID_ARGUMENT_VALUE);

    // Freeing releases both areas once and clears the pointers.
    db_BindFree(&bind);
    EXPECT_EQ(bind.input, nullptr);
    EXPECT_EQ(bind.output, nullptr);
    EXPECT_TRUE(bind.params.empty());
    db_BindFree(&bind);
}

}  // namespace
