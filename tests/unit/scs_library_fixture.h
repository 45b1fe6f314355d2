// The cursor library in front of the agent on a fresh embedded database: the server, a
// connection and one statement, each opened through the library table, and the statement's
// working record.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "drv_pro9/oa_optable.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/esql92_fixture.h"

namespace scstest {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SCR_HookOpTable(nullptr);
        lib = SCR_LibraryTable();
        ASSERT_EQ(lib->DRV_OpenServer(nullptr, &server), 0);
        db = file.path();
        ASSERT_EQ(Connect(&conn), 0);
        ASSERT_EQ(lib->DRV_AllocStmt(conn, &stmt), 0);
        cur = scs_FindStmt(stmt);
        ASSERT_NE(cur, nullptr);
    }
    void TearDown() override {
        if (stmt != 0) {
            EXPECT_EQ(lib->DRV_FreeStmt(stmt), 0);
        }
        if (conn != 0) {
            EXPECT_EQ(lib->DRV_Disconnect(conn), 0);
        }
        EXPECT_EQ(lib->DRV_CloseServer(server), 0);
    }

    // The connection learns that the cursor library is there, as the ODBC side's connect
    // lets it (keysets and dynamic cursors are the library's).
    void AnnounceLibrary() {
        int32_t caps = 0, got = 0;
        ASSERT_EQ(lib->DRV_GetProperty(conn, OA_PROP_CAPABILITIES, &caps, sizeof caps, &got), 0);
    }
    // Another connection of the user to the database, through the library.
    int Connect(uint32_t* out) {
        OA_CONNREQ req{};
        req.options = empty;
        req.database = db.data();
        req.dbOptions = empty;
        req.user = user;
        req.password = empty;
        return lib->DRV_Connect(server, &req, out);
    }
    // Prepares and executes text on the statement.
    int Exec(const char* sql) { return lib->DRV_PrepareAndExecute(stmt, sql, nullptr, 0, nullptr); }

    esqltest::TempDb file;
    std::string db;
    char empty[1] = "";
    char user[6] = "alice";
    const OA_OPTABLE* lib = nullptr;
    uint32_t server = 0, conn = 0, stmt = 0;
    SCS_STMT* cur = nullptr;
};

}  // namespace scstest
