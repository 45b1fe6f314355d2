// The scripted back-end of the ESQL-92 client stand-in: it answers from the script, records
// every call in order, delivers scripted rows in the server's layouts, and gives the SQLite
// back-end back when the script ends.
#include "platform/esql92/esql92_script.h"
#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;
using esql92::Cell;
using esql92::Column;
using esql92::Message;
using esql92::Result;
using esql92::Script;

TEST(Esql92Scripted, AnswersFromTheScriptAndRecordsEveryCall) {
    Script script;
    script.failNext("tpe_sqlconnect", {{ESQL_ERR_NAME_IN_USE, "08002", "connection name KVRConn-00000000 in use"}});
    script.addResult(Result{{{"ID", ESQL_INTEGER}, {"NAME", ESQL_VARCHAR, 10}, {"", ESQL_DATE}},
                            {{1, "one", "2012/03/04"}, {2, nullptr, nullptr}, {3, "three", "2013/12/31"}},
                            {{"", ESQL_VARCHAR, 20}}});
    script.addResult(Result{});
    script.addAffected(5);
    script.setLevel(2);

    ESQL_SQLCA ca;
    // The agent's connect: a taken name, then the next one.
    EXPECT_EQ(tpe_sqlconnect("progress:T:h:5000:db", "KVRConn-00000000", "u", "p", nullptr, &ca), ESQL_ERR_NAME_IN_USE);
    EXPECT_EQ(state(ca), "08002");
    ASSERT_EQ(tpe_sqlconnect("progress:T:h:5000:db", "KVRConn-00000001", "u", "p", nullptr, &ca), 0);
    ESQL_DBHDL db = tpe_get_curdbhdl();
    ESQL_TMHDL tm = tpe_get_curtmhdl();
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(tpe_tm_get_level(), 2);
    EXPECT_EQ(tpe_tm_set_level(3, &ca), 0);
    EXPECT_EQ(tpe_tm_get_level(), 3);

    // A query: set up, describe (too small first), open with a parameter, fetch in blocks.
    unsigned char id[16];
    for (int k = 0; k < 16; ++k)
        id[k] = static_cast<unsigned char>(k);
    ESQL_CURHDL cur = nullptr;
    ASSERT_EQ(tpe_sql_setconnection("KVRConn-00000001", &ca), 0);
    ASSERT_EQ(tpe_set_cursor(tm, db, &cur, id, 1, "SELECT ID, NAME, D FROM T WHERE NAME > ?", &ca), 0);
    ASSERT_EQ(tpe_set_cursorname(cur, "SQL_CUR1", &ca), 0);
    ASSERT_EQ(tpe_sqlprepare(tm, db, cur, &ca), 0);
    PRO_SQLDA* small = PRO_SQLDA_Allocate(1, ESQL_SQLDA_OUTPUT);
    ASSERT_EQ(tpe_sqldescribe(tm, db, cur, small, &ca), 0);
    uint32_t count = 0;
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(small, ESQL_DA_COUNT, &count, &ca);
    EXPECT_EQ(static_cast<int32_t>(count), -3);
    PRO_SQLDA_Deallocate(small);
    PRO_SQLDA* out = PRO_SQLDA_Allocate(3, ESQL_SQLDA_OUTPUT);
    ASSERT_EQ(tpe_sqldescribe(tm, db, cur, out, &ca), 0);
    PRO_SQLDA* in = PRO_SQLDA_Allocate(1, ESQL_SQLDA_INPUT);
    ASSERT_EQ(tpe_sqldescribe_input(tm, db, cur, in, &ca), 0);
    char param[21] = "m";
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(in, ESQL_COL_LENGTH, 1, sizeof param, &ca);
    PRO_SQLDA_Set_Col_Attribute_void_p(in, ESQL_COL_DATA, 1, param, &ca);
    ASSERT_EQ(tpe_sqldeclare(tm, db, cur, in, &ca), 0);
    ASSERT_EQ(tpe_sqlopen(tm, db, cur, in, &ca), 0);

    auto cols = bindAll(out, 2);
    ASSERT_EQ(tpe_sqlfetch(tm, db, cur, out, &ca), 0);
    EXPECT_EQ(ca.sqlrows, 2);
    EXPECT_EQ(render(cols[0], 0), "1");
    EXPECT_EQ(render(cols[1], 0), "one");
    EXPECT_EQ(render(cols[2], 0), "2012-03-04");
    EXPECT_EQ(render(cols[1], 1), "NULL");
    EXPECT_EQ(tpe_sqlfetch(tm, db, cur, out, &ca), ESQL_NOT_FOUND);   // the last row comes with 100
    EXPECT_EQ(ca.sqlrows, 1);
    EXPECT_EQ(render(cols[2], 0), "2013-12-31");
    EXPECT_EQ(tpe_sqlclose(tm, db, cur, &ca), 0);
    EXPECT_EQ(tpe_sqlfetch(tm, db, cur, out, &ca), ESQL_ERR_CURSOR_STATE);

    // A statement: the next result (none) and the scripted count.
    id[0] = 0xFF;
    ESQL_CURHDL upd = nullptr;
    ASSERT_EQ(tpe_set_cursor(tm, db, &upd, id, 1, "UPDATE T SET NAME = ?", &ca), 0);
    ASSERT_EQ(tpe_sqlprepare(tm, db, upd, &ca), 0);
    std::strcpy(param, "x'y");
    ASSERT_EQ(tpe_sqlexecute(tm, db, upd, in, &ca), 0);
    EXPECT_EQ(ca.sqlrows, 5);
    ASSERT_EQ(tpe_tm_mark_abort(tm, &ca), 0);
    ASSERT_EQ(tpe_tm_end_trans(tm, &ca), 0);
    ASSERT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, "KVRConn-00000001", &ca), 0);
    EXPECT_EQ(tpe_get_curdbhdl(), nullptr);
    PRO_SQLDA_Deallocate(out);
    PRO_SQLDA_Deallocate(in);

    std::vector<std::string> expected = {
        "tpe_sqlconnect progress:T:h:5000:db KVRConn-00000000 u p",
        "tpe_sqlconnect progress:T:h:5000:db KVRConn-00000001 u p",
        "tpe_get_curdbhdl",
        "tpe_get_curtmhdl",
        "tpe_tm_get_level",
        "tpe_tm_set_level 3",
        "tpe_tm_get_level",
        "tpe_sql_setconnection KVRConn-00000001",
        "tpe_set_cursor #1 000102030405060708090a0b0c0d0e0f 1 SELECT ID, NAME, D FROM T WHERE NAME > ?",
        "tpe_set_cursorname #1 SQL_CUR1",
        "tpe_sqlprepare #1",
        "tpe_sqldescribe #1",
        "tpe_sqldescribe #1",
        "tpe_sqldescribe_input #1",
        "tpe_sqldeclare #1 ('m')",
        "tpe_sqlopen #1 ('m')",
        "tpe_sqlfetch #1 2",
        "tpe_sqlfetch #1 2",
        "tpe_sqlclose #1",
        "tpe_sqlfetch #1 2",
        "tpe_set_cursor #2 ff0102030405060708090a0b0c0d0e0f 1 UPDATE T SET NAME = ?",
        "tpe_sqlprepare #2",
        "tpe_sqlexecute #2 ('x''y')",
        "tpe_tm_mark_abort",
        "tpe_tm_end_trans",
        "tpe_sql_disconnect 0 KVRConn-00000001",
        "tpe_get_curdbhdl",
    };
    EXPECT_EQ(script.takeCalls(), expected);
    EXPECT_TRUE(script.calls().empty());
}

TEST(Esql92Scripted, FailuresCarrySeveralMessages) {
    Script script;
    script.failNext("tpe_sqlexecute", {{-20005, "42S02", "Table/View/Synonym not found"},
                                       {-20006, "42000", "second message"},
                                       {-20007, "HY000", "third message"}});
    script.failNext("tpe_sql_setconnection", {{-20221, "08003", "no such connection"}});
    ESQL_SQLCA ca;
    ASSERT_EQ(tpe_sqlconnect("progress:T:::db", "c", nullptr, nullptr, nullptr, &ca), 0);
    unsigned char id[16] = {};
    ESQL_CURHDL cur;
    ASSERT_EQ(tpe_set_cursor(tpe_get_curtmhdl(), tpe_get_curdbhdl(), &cur, id, 1, "DELETE FROM X", &ca), 0);
    ASSERT_EQ(tpe_sqlprepare(tpe_get_curtmhdl(), tpe_get_curdbhdl(), cur, &ca), 0);
    EXPECT_EQ(tpe_sqlexecute(tpe_get_curtmhdl(), tpe_get_curdbhdl(), cur, nullptr, &ca), -20005);
    std::vector<std::string> seen;
    while (ca.sqlcode != 0) {
        seen.push_back(std::to_string(ca.sqlcode) + " " + state(ca) + " " + message(ca));
        tpe_sqlc_clear(&ca);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"-20005 42S02 Table/View/Synonym not found",
                                              "-20006 42000 second message", "-20007 HY000 third message"}));
    // The next execute succeeds again; a setconnection fails once.
    EXPECT_EQ(tpe_sqlexecute(tpe_get_curtmhdl(), tpe_get_curdbhdl(), cur, nullptr, &ca), 0);
    EXPECT_EQ(tpe_sql_setconnection("c", &ca), -20221);
    EXPECT_EQ(state(ca), "08003");
    EXPECT_EQ(tpe_sql_setconnection("c", &ca), 0);
}

TEST(Esql92Scripted, CellsArriveInTheServerLayouts) {
    Script script;
    script.addResult(Result{{{"N", ESQL_NUMERIC, 10, 2},
                             {"B", ESQL_BIGINT},
                             {"TS", ESQL_TIMESTAMP},
                             {"BIN", ESQL_VARBINARY, 8},
                             {"F", ESQL_FLOAT},
                             {"C", ESQL_CHARACTER, 4}},
                            {{"12.5", int64_t{-9007199254740993}, "2012/03/04 05:06:07:008", Cell::bytes("\x01\x02"),
                              0.25, "ab"}}});
    ESQL_SQLCA ca;
    ASSERT_EQ(tpe_sqlconnect("progress:T:::db", "layouts", nullptr, nullptr, nullptr, &ca), 0);
    ESQL_DBHDL db = tpe_get_curdbhdl();
    ESQL_TMHDL tm = tpe_get_curtmhdl();
    unsigned char id[16] = {7};
    ESQL_CURHDL cur;
    ASSERT_EQ(tpe_set_cursor(tm, db, &cur, id, 1, "SELECT", &ca), 0);
    ASSERT_EQ(tpe_sqlprepare(tm, db, cur, &ca), 0);
    PRO_SQLDA* out = PRO_SQLDA_Allocate(6, ESQL_SQLDA_OUTPUT);
    ASSERT_EQ(tpe_sqldescribe(tm, db, cur, out, &ca), 0);
    ASSERT_EQ(tpe_sqlopen(tm, db, cur, nullptr, &ca), 0);
    auto cols = bindAll(out, 3);
    ASSERT_EQ(tpe_sqlfetch(tm, db, cur, out, &ca), ESQL_NOT_FOUND);
    EXPECT_EQ(ca.sqlrows, 1);
    std::vector<std::string> got;
    for (const Bound& b : cols)
        got.push_back(render(b, 0));
    EXPECT_EQ(got, (std::vector<std::string>{"12.50", "-9007199254740993", "2012-03-04 05:06:07.008", "0102",
                                             "0.25", "ab  "}));
    PRO_SQLDA_Deallocate(out);
}

TEST(Esql92Scripted, TheSqliteBackEndReturnsWhenTheScriptEnds) {
    TempDb f;
    {
        Script script;
        Conn scripted(f.target(), "scripted-then-real");
        EXPECT_EQ(scripted.rc, 0);
        scripted.db = nullptr;
        EXPECT_THROW(Script(), std::logic_error);   // one script at a time
    }
    Conn real(f.target(), "scripted-then-real");
    ASSERT_EQ(real.rc, 0) << message(real.ca);
    EXPECT_EQ(real.query("SELECT 40 + 2"), (Rows{{"42"}}));
}

}  // namespace
