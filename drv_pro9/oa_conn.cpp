// Agent connections and statements: connect and disconnect, the transaction state, end of
// transaction, statement allocation and freeing, cursor names.
#include "drv_pro9/oa_conn.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_initsql.h"
#include "drv_pro9/oa_optable.h"
#include "util/charset.h"
#include "util/errcode.h"
#include "util/log.h"

namespace {

// Numbers the generated cursor names. An address cut to 32 bits can repeat on a 64-bit
// process; a counter cannot.
std::atomic<uint64_t> g_cursorNumber{0};

std::string NextCursorName() {
    char name[24];
    std::snprintf(name, sizeof name, "CN%" PRIX64, ++g_cursorNumber);
    return name;
}

bool IsOpen(const OA_CONN* conn) {
    return (conn->transFlags & OA_TRANS_OPEN) != 0;
}

// Ends the open transaction by commit or rollback; nothing without one. A failed end keeps
// the transaction marked open: the server may still hold it, and only a later end that
// reaches the client can release it.
int EndOpen(OA_CONN* conn, int type) {
    if (!IsOpen(conn))
        return 0;
    conn->transFlags &= static_cast<uint16_t>(~OA_TRANS_OPEN);
    int rc = DB_EndTrans(conn->db, type);
    if (rc != 0)
        conn->transFlags |= OA_TRANS_OPEN;
    return rc;
}

// Copies the request's settings into the new connection. False when memory runs out.
bool TakeSettings(OA_CONN* conn, const OA_CONNSETTINGS& s) {
    conn->dynCursSensitivity = s.dynCursSensitivity;
    conn->jet = s.jet;
    conn->noAutoCommit = s.noAutoCommit;
    conn->maxRows = s.maxRows;
    conn->noRowsetSizeLimit = s.noRowsetSizeLimit;
    conn->showRemarks = s.showRemarks;
    conn->defaultIsolation = s.defaultIsolation;
    if (s.sqlDbmsName != nullptr) {
        conn->sqlDbmsName.reset(strdup(s.sqlDbmsName));
        if (conn->sqlDbmsName == nullptr)
            return false;
    }
    return true;
}

bool HasWidePrefix(const char* options) {
    return options != nullptr && std::strlen(options) >= sizeof OA_WIDE_PREFIX &&
           std::memcmp(options, OA_WIDE_PREFIX, sizeof OA_WIDE_PREFIX) == 0;
}

// Closes the ESQL connection of a connect that cannot be completed.
void Abandon(DB_CONN* db) {
    DB_Disconnect(db);
    DB_ConnFree(db);
}

// Frees the statements still registered on the connection, so that none is left pointing
// at it.
void FreeStatementsOf(const OA_CONN* conn) {
    std::vector<uint32_t> ids;
    {
        HANDLE_TABLE& t = Agent().stmts;
        HdlTableGuard guard(&t);
        for (uint32_t i = 0; t.slots != nullptr && i < t.slotCount; ++i) {
            auto* stmt = static_cast<OA_STMT*>(t.slots[i].object);
            if (t.slots[i].tag != 0 && stmt != nullptr && stmt->conn == conn)
                ids.push_back(stmt->handle);
        }
    }
    for (uint32_t id : ids)
        OA_FreeStmt(id);
}

// Gives the statement's ESQL cursor, when it exists, the new name. 0, or 15 with the
// client's messages on the statement.
int RenameServerCursor(OA_STMT* stmt, const char* name) {
    DB_CURSOR* cursor = stmt->cursor;
    if (cursor == nullptr || cursor->handle == nullptr || cursor->db == nullptr)
        return 0;
    DB_CONN* db = cursor->db;
    tpe_sql_setconnection(db->name.c_str(), &db->sqlca);
    if (db->sqlca.sqlcode >= 0)
        tpe_set_cursorname(cursor->handle, name, &db->sqlca);
    // A cursor the client has forgotten takes the name when the agent sets it up again.
    if (db->sqlca.sqlcode >= 0 || db->sqlca.sqlcode == ESQL_ERR_CURSOR_HANDLE)
        return 0;
    OA_ErrFromSqlca(&stmt->errors, &db->sqlca);
    return ERR_GENERAL_ERROR;
}

}  // namespace

bool oa_CopyOut(const char* text, char* buf, int32_t bufLen, int32_t* outLen) {
    size_t n = std::strlen(text);
    if (outLen != nullptr)
        *outLen = static_cast<int32_t>(n);
    if (buf == nullptr)
        return false;
    if (bufLen <= 0)
        return true;   // not even the NUL fits: the buffer holds nothing of the text
    size_t room = static_cast<size_t>(bufLen) - 1;
    size_t copied = n < room ? n : room;
    std::memcpy(buf, text, copied);
    buf[copied] = '\0';
    return copied < n;
}

int OA_TransState(OA_CONN* conn, int step) {
    if (conn->readOnlyAtConnect != 0) {
        // Nothing to end on a read-only connection; the setting is still answered as set.
        if (step == OA_TRANS_AUTOCOMMIT_ON || step == OA_TRANS_AUTOCOMMIT_OFF)
            conn->autocommit = step == OA_TRANS_AUTOCOMMIT_ON ? 1 : 0;
        return 0;
    }
    switch (step) {
    case OA_TRANS_AUTOCOMMIT_ON:
        // Work done while autocommit was off is committed now, as ODBC requires; left
        // open, the next rollback or disconnect would lose it.
        if (conn->autocommit == 0) {
            if (int rc = EndOpen(conn, DB_TRANS_COMMIT); rc != 0)
                return rc;
        }
        conn->autocommit = 1;
        return 0;
    case OA_TRANS_AUTOCOMMIT_OFF: {
        if (conn->autocommit == 0)
            return 0;
        conn->autocommit = 0;
        int rc = EndOpen(conn, DB_TRANS_ROLLBACK);
        if (rc != 0)
            conn->autocommit = 1;
        return rc;
    }
    case OA_TRANS_BEGIN:
        if (IsOpen(conn))
            return 0;
        if (int rc = DB_EndTrans(conn->db, DB_TRANS_CURRENT); rc != 0)
            return rc;
        conn->transFlags |= OA_TRANS_OPEN;
        return 0;
    case OA_TRANS_COMMIT:
        return EndOpen(conn, DB_TRANS_COMMIT);
    case OA_TRANS_ROLLBACK:
        if (conn->autocommit != 0)
            return ERR_DRIVER_NOT_CAPABLE;
        return EndOpen(conn, DB_TRANS_ROLLBACK);
    default:
        return ERR_GENERAL_ERROR;
    }
}

int OA_Connect(uint32_t serverId, OA_CONNREQ* req, uint32_t* outConn) {
    OA_SERVER* server = oa_FindServer(serverId);
    if (server == nullptr || req == nullptr || outConn == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *outConn = 0;
    std::unique_ptr<OA_CONN> conn(new (std::nothrow) OA_CONN);
    if (conn == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (!TakeSettings(conn.get(), req->settings))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    // The prefix only marks the mode; the options text goes nowhere else.
    conn->wide = HasWidePrefix(req->options) ? 1 : 0;
    conn->odbcVersion = 2;

    for (char** text : {&req->user, &req->password, &req->database}) {
        if (*text == nullptr && (*text = static_cast<char*>(std::calloc(1, 1))) == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    conn->unicodeLibrary = req->unicodeLibrary != 0 ? 1 : 0;
    conn->narrowLatin1 = req->narrowLatin1 != 0 ? 1 : 0;
    try {
        conn->user = req->user;
        conn->database = req->database;
        conn->driverFile = req->driverFile != nullptr ? req->driverFile : "";
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    conn->readOnly = conn->readOnlyAtConnect = req->readOnly != 0 ? 1 : 0;

    DB_CONN* db = nullptr;
    if (int rc = DB_ConnNew(server->context, conn.get(), &db, req->user, req->password, req->database,
                            req->dbOptions);
        rc != 0)
        return rc;
    int connected = DB_Connect(db);
    // The server has the password now; no copy stays with the connection, to be freed at
    // disconnect with its bytes still in the block.
    if (!db->password.empty())
        explicit_bzero(db->password.data(), db->password.size());
    db->password.clear();
    if (connected != 0) {
        DB_ConnFree(db);
        return connected;
    }
    conn->db = db;

    OA_TransState(conn.get(), conn->noAutoCommit == 0 ? OA_TRANS_AUTOCOMMIT_ON : OA_TRANS_AUTOCOMMIT_OFF);
    if (conn->defaultIsolation != 4)
        DB_SetIsolation(db, conn->defaultIsolation);   // 0 sets nothing; a refusal is not fatal

    int rc = DB_CheckOption(db, 1, 1);
    if (rc == 0)
        rc = DB_DateTimeFormat(db, DB_FORMAT_KIND, DB_FORMAT_SELECT_OPENS_TRANSACTION,
                               &conn->selectOpensTransaction);
    uint32_t id = 0;
    if (rc == 0) {
        rc = hdl_Add(&Agent().conns, &id, conn.get());
        if (rc != 0)
            OA_ErrPost(&server->errors, rc);
    }
    if (rc != 0) {
        Abandon(db);
        return rc;
    }
    conn->server = server;
    conn->handle = id;
    *outConn = id;
    OA_CONN* opened = conn.release();
    req->initSqlResult = 0;
    if (req->initSqlText != nullptr) {
        // The file is narrow text of the application; a UTF-8 client of the Unicode
        // library takes it converted.
        std::unique_ptr<char, UtFree> utf8;
        if (opened->unicodeLibrary != 0 && opened->narrowLatin1 != 0)
            utf8.reset(ut_Latin1ToUtf8Dup(req->initSqlText, SQL_NTS));
        // Its failure is the ODBC side's warning, never the connect's failure; nothing
        // may escape from here, or the registered connection would be lost to its owner.
        try {
            req->initSqlResult = OA_RunInitialSql(id, req->initSqlName, utf8 ? utf8.get() : req->initSqlText);
        } catch (...) {
            OA_ErrPost(&opened->errors, ERR_MEMORY_ALLOCATION_FAILURE);
            req->initSqlResult = -1;
        }
    }
    return 0;
}

int OA_Disconnect(uint32_t handle) {
    OA_CONN* conn = oa_FindConn(handle);
    if (conn == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    FreeStatementsOf(conn);
    if (conn->db != nullptr) {
        OA_TransState(conn, OA_TRANS_ROLLBACK);
        if (DB_Disconnect(conn->db) != 0)
            LOG_MSG(LOG_DEBUG, "DB_Disconnect failed.");
        DB_ConnFree(conn->db);
        conn->db = nullptr;
    }
    hdl_Remove(&Agent().conns, handle);
    delete conn;   // its error list and texts go with it
    return 0;
}

int OA_Commit(uint32_t handle) {
    OA_CONN* conn = oa_FindConn(handle);
    if (conn == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return OA_TransState(conn, OA_TRANS_COMMIT);
}

int OA_Rollback(uint32_t handle) {
    OA_CONN* conn = oa_FindConn(handle);
    if (conn == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    int rc = OA_TransState(conn, OA_TRANS_ROLLBACK);
    // In autocommit mode there is nothing of the application's to roll back.
    return rc == ERR_DRIVER_NOT_CAPABLE ? 0 : rc;
}

int OA_AllocStmt(uint32_t connId, uint32_t* outStmt) {
    OA_CONN* conn = oa_FindConn(connId);
    if (conn == nullptr || outStmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *outStmt = 0;
    std::unique_ptr<OA_STMT> stmt(new (std::nothrow) OA_STMT);
    if (stmt == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    try {
        stmt->cursorName = NextCursorName();
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (int rc = DB_CursorNew(conn->db, stmt.get(), &stmt->cursor); rc != 0)
        return rc;
    stmt->conn = conn;
    stmt->maxRows = conn->maxRows;
    uint32_t id = 0;
    if (int rc = hdl_Add(&Agent().stmts, &id, stmt.get()); rc != 0) {
        oa_StmtFreeContents(stmt.get());
        OA_ErrPost(&conn->errors, rc);
        return rc;
    }
    stmt->handle = id;
    *outStmt = id;
    stmt.release();
    return 0;
}

int OA_FreeStmt(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    oa_StmtReset(stmt);   // the statement goes whatever the close of its cursor gave
    oa_StmtFreeContents(stmt);
    hdl_Remove(&Agent().stmts, handle);
    delete stmt;
    return 0;
}

int OA_GetCursorName(uint32_t handle, char* buf, int32_t bufLen, int32_t* outLen) {
    const OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return oa_CopyOut(stmt->cursorName.c_str(), buf, bufLen, outLen) ? ERR_DATA_WAS_TRUNCATED : 0;
}

int OA_SetCursorName(uint32_t handle, const char* name) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || name == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    std::string copy;
    try {
        copy = name;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    // A cursor that exists at the server would otherwise keep its old name until its next
    // set-up, and a positioned statement naming the new one would not find it.
    if (int rc = RenameServerCursor(stmt, copy.c_str()); rc != 0)
        return rc;
    stmt->cursorName.swap(copy);
    return 0;
}
