// The agent's server record and handle tables; the ESQL connection (DB_CONN).
#include "drv_pro9/db_conn.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_optable.h"
#include "drv_pro9/oa_proc.h"
#include "util/charset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/ut_string.h"

AGENT_GLOBALS& Agent() {
    // Never destroyed: library detach may still close connections after static
    // destructors of this file would have run.
    alignas(AGENT_GLOBALS) static unsigned char storage[sizeof(AGENT_GLOBALS)];
    static AGENT_GLOBALS* agent = new (storage) AGENT_GLOBALS;
    return *agent;
}

OA_SERVER* oa_FindServer(uint32_t handle) {
    return static_cast<OA_SERVER*>(hdl_Lookup(&Agent().servers, handle));
}

namespace {

constexpr char kTargetFormat[] = "progress:T:%s:%s:%s";
constexpr char kNameFormat[] = "KVRConn-%08X";

// Reads -H host, -S service and -N name the way getopt reads "H:S:N:", with every word an
// option word (no program name in front): a value follows its letter in the same word or
// is the next word; letters may be grouped; "--" ends the options; other words are
// skipped. The C library's getopt is not used: its state is the application's.
void ParseOptions(const char* options, std::string& host, std::string& service) {
    if (options == nullptr || options[0] == '\0')
        return;
    int count = 0;
    char** argv = nullptr;
    ut_SplitArgs(options, &count, &argv);
    std::unique_ptr<char*[], void (*)(char**)> words(argv, ut_FreeArgs);
    for (int i = 0; i < count; ++i) {
        std::string_view w(words[i]);
        if (w == "--")
            break;
        if (w.size() < 2 || w[0] != '-')
            continue;
        for (size_t k = 1; k < w.size(); ++k) {
            char letter = w[k];
            if (letter != 'H' && letter != 'S' && letter != 'N') {
                LOG_MSG(LOG_WARNING, "invalid connect option specified");
                continue;
            }
            std::string_view value;
            if (k + 1 < w.size()) {
                value = w.substr(k + 1);
            } else if (i + 1 < count) {
                value = words[++i];
            } else {
                LOG_MSG(LOG_WARNING, "invalid connect option specified");
                break;
            }
            if (letter == 'H')
                host = value;
            else if (letter == 'S')
                service = value;
            break;  // the value took the rest of the word
        }
    }
}

// Posts the messages of a failed client call on the connection's list; 15.
int CallFailed(DB_CONN* db) {
    OA_ErrFromSqlca(db->conn != nullptr ? &db->conn->errors : nullptr, &db->sqlca);
    return ERR_GENERAL_ERROR;
}

// Makes the connection current before a client call. A failure posts the client's
// messages and gives 15: the call must then not be made, as it would run on whichever
// connection is current, perhaps inside another one's transaction.
int MakeCurrent(DB_CONN* db) {
    tpe_sql_setconnection(db->name.c_str(), &db->sqlca);
    return db->sqlca.sqlcode < 0 ? CallFailed(db) : 0;
}


void FreeTables(AGENT_GLOBALS& a) {
    // Statements, connections, then servers: children before parents.
    hdl_Free(&a.stmts);
    hdl_Free(&a.conns);
    hdl_Free(&a.servers);
}

}  // namespace

int OA_OpenServer(const OA_SERVERREQ* /*req*/, uint32_t* outServer) {
    if (outServer == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    AGENT_GLOBALS& a = Agent();
    if (a.serverRefs != 0) {
        a.serverRefs++;
        *outServer = a.serverHandle;
        return 0;
    }
    *outServer = 0;
    if (hdl_Init(&a.servers, OA_SERVER_TABLE_ID) != 0 || hdl_Init(&a.conns, OA_CONN_TABLE_ID) != 0 ||
        hdl_Init(&a.stmts, OA_STMT_TABLE_ID) != 0) {
        FreeTables(a);
        return ERR_GENERAL_ERROR;
    }
    auto* server = new (std::nothrow) OA_SERVER;
    auto* context = server ? new (std::nothrow) DB_SERVERCTX{server} : nullptr;
    uint32_t id = 0;
    int rc = context == nullptr ? ERR_MEMORY_ALLOCATION_FAILURE : hdl_Add(&a.servers, &id, server);
    if (rc != 0) {
        delete context;
        delete server;
        FreeTables(a);
        return rc;
    }
    server->context = context;
    a.serverHandle = id;
    a.serverRefs = 1;
    *outServer = id;
    return 0;
}

int OA_CloseServer(uint32_t handle) {
    AGENT_GLOBALS& a = Agent();
    OA_SERVER* server = oa_FindServer(handle);
    if (server == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (--a.serverRefs > 0)
        return 0;
    FreeTables(a);
    delete server->context;
    delete server;   // its error list goes with it
    a.serverRefs = 0;
    a.serverHandle = 0;
    return 0;
}

int DB_ConnNew(DB_SERVERCTX* server, OA_CONN* conn, DB_CONN** out, const char* user, const char* password,
               const char* database, const char* options) {
    *out = nullptr;
    auto* db = new (std::nothrow) DB_CONN;
    if (db == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    try {
        db->server = server;
        db->conn = conn;
        ParseOptions(options, db->host, db->service);
        db->user = user != nullptr ? user : "";
        db->password = password != nullptr ? password : "";
        db->database = database != nullptr ? database : "";
    } catch (const std::bad_alloc&) {
        delete db;
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    *out = db;
    return 0;
}

void DB_ConnFree(DB_CONN* db) {
    delete db;
}

int DB_Connect(DB_CONN* db) {
    OA_ERRLIST* serverErrors = db->server != nullptr ? &db->server->server->errors : nullptr;
    // A ':' would shift the fields of the target and reach another host or database.
    const std::pair<const char*, const std::string*> fields[] = {
        {"host", &db->host}, {"service", &db->service}, {"database", &db->database}};
    for (const auto& [what, value] : fields) {
        if (value->find(':') == std::string::npos)
            continue;
        char text[128];
        std::snprintf(text, sizeof text, "The %s name must not contain ':'", what);
        OA_ErrPostText(serverErrors, text, oa_ErrState(ERR_CONNECTION_REJECTED_BY_DATA_SOURCE));
        LOG_MSG(LOG_ERR, "Progress server rejected connection");
        return ERR_CONNECTION_REJECTED_BY_DATA_SOURCE;
    }

    int n = std::snprintf(nullptr, 0, kTargetFormat, db->host.c_str(), db->service.c_str(), db->database.c_str());
    std::string target(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(target.data(), target.size(), kTargetFormat, db->host.c_str(), db->service.c_str(),
                  db->database.c_str());
    target.pop_back();

    // The client reads the user name as UTF-8 until it is told the code page, which needs
    // the connection: ISO-8859-1 text of the ANSI library goes converted.
    const bool latin1Client = db->conn != nullptr && db->conn->unicodeLibrary == 0 && db->conn->narrowLatin1 != 0;
    std::unique_ptr<char, UtFree> user;
    if (latin1Client && (user.reset(ut_Latin1ToUtf8Dup(db->user.c_str(), SQL_NTS)), user == nullptr))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (int attempt = 0; attempt < DB_CONNECT_NAME_ATTEMPTS; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, kNameFormat, Agent().connectAttempts++);
        ESQL_SQLCA sqlca{};
        tpe_sqlconnect(target.c_str(), name, user ? user.get() : db->user.c_str(), db->password.c_str(), db->reserved,
                       &sqlca);
        db->sqlca = sqlca;
        db->name = name;
        if (db->sqlca.sqlcode == ESQL_ERR_NAME_IN_USE)
            continue;
        if (db->sqlca.sqlcode < 0)
            break;
        db->dbHandle = tpe_get_curdbhdl();
        db->tmHandle = tpe_get_curtmhdl();
        // The ANSI library's text in ISO-8859-1: the client converts it at its boundary.
        // UTF-8, the client's own, needs no word.
        if (latin1Client && tpe_set_client_codepage(ESQL_CODEPAGE_ISO8859_1, &db->sqlca) < 0) {
            ESQL_SQLCA ignored{};
            tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, name, &ignored);
            db->dbHandle = nullptr;
            db->tmHandle = nullptr;
            break;
        }
        return 0;
    }
    // Refused, or every name tried was taken.
    OA_ErrFromSqlca(serverErrors, &db->sqlca);
    LOG_MSG(LOG_ERR, "Progress server rejected connection");
    return ERR_CONNECTION_REJECTED_BY_DATA_SOURCE;
}

int DB_Disconnect(DB_CONN* db) {
    ESQL_SQLCA sqlca{};
    tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, db->name.c_str(), &sqlca);
    db->sqlca = sqlca;
    return db->sqlca.sqlcode < 0 ? ERR_GENERAL_ERROR : 0;
}

int DB_EndTrans(DB_CONN* db, int type) {
    if (int rc = MakeCurrent(db); rc != 0)
        return rc;
    if (type != DB_TRANS_COMMIT && type != DB_TRANS_ROLLBACK)
        return 0;
    int rc = 0;
    if (type == DB_TRANS_ROLLBACK) {
        tpe_tm_mark_abort(db->tmHandle, &db->sqlca);
        // Ending a transaction that is not marked for abort would commit it.
        if (db->sqlca.sqlcode < 0)
            return CallFailed(db);
    }
    tpe_tm_end_trans(db->tmHandle, &db->sqlca);
    if (db->sqlca.sqlcode < 0)
        rc = CallFailed(db);
    OA_MarkConnStmts(db->conn);
    return rc;
}

int DB_SetIsolation(DB_CONN* db, uint32_t isolation) {
    int level;
    switch (isolation) {
    case 1: level = 0; break;
    case 2: level = 1; break;
    case 4: level = 2; break;
    case 8: level = 3; break;
    default: return ERR_INVALID_ARGUMENT_VALUE;
    }
    if (int rc = MakeCurrent(db); rc != 0)
        return rc;
    tpe_tm_set_level(level, &db->sqlca);
    return db->sqlca.sqlcode < 0 ? CallFailed(db) : 0;
}

uint32_t DB_GetIsolation(DB_CONN* db) {
    uint32_t configured = db->conn != nullptr ? db->conn->defaultIsolation : 0;
    if (MakeCurrent(db) != 0)
        return configured;
    switch (tpe_tm_get_level()) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 4;
    case 3: return 8;
    default: return configured;
    }
}

int DB_ExecImmediate(DB_CONN* db, ESQL_CURHDL cursor, PRO_SQLDA* input, OA_ERRLIST* errors) {
    if (int rc = MakeCurrent(db); rc != 0)
        return rc;
    tpe_sqlexecute(db->tmHandle, db->dbHandle, cursor, input, &db->sqlca);
    if (db->sqlca.sqlcode >= 0)
        return 0;
    OA_ErrFromSqlca(errors, &db->sqlca);
    return ERR_GENERAL_ERROR;
}

int DB_CheckOption(DB_CONN* /*db*/, int kind, int value) {
    if (kind == 1)
        return value == 1 || value == 109 ? 0 : ERR_GENERAL_ERROR;
    return kind == 2 ? ERR_GENERAL_ERROR : 0;
}

int DB_DateTimeFormat(DB_CONN* /*db*/, int kind, int item, void* out) {
    if (out == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (kind == 1)
        return ERR_GENERAL_ERROR;
    if (kind != DB_FORMAT_KIND)
        return 0;
    const char* format = nullptr;
    switch (item) {
    case DB_FORMAT_TIME: format = "'%02u:%02u:%02u'"; break;
    case DB_FORMAT_DATE: format = "'%04u/%02u/%02u'"; break;
    case DB_FORMAT_TIMESTAMP: format = "'%04u/%02u/%02u %02u:%02u:%02u:%03u'"; break;
    case 1:
    case DB_FORMAT_SELECT_OPENS_TRANSACTION: {
        int32_t one = 1;
        std::memcpy(out, &one, sizeof one);
        return 0;
    }
    default: return ERR_GENERAL_ERROR;
    }
    std::memcpy(out, &format, sizeof format);
    return 0;
}
