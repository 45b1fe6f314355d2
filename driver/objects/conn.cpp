// Connection records.
#include "driver/objects/conn.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/frame/resources.h"
#include "driver/frame/trace.h"
#include "driver/objects/connconf.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "dtc/dtc.h"
#include "util/errcode.h"

namespace {

std::atomic<ConnBindOpTableFn> g_bindOpTable{nullptr};

int BindOpTable(OA_OPHOLDER* holder) {
    ConnBindOpTableFn bind = g_bindOpTable.load();
    return bind != nullptr ? bind(holder) : DrvBindOpTable(holder);
}

// A 32-bit agent property of the agent connection; a missing slot answers as an agent
// that does not know the property.
int GetIntProperty(const CONN* conn, uint32_t code, int32_t* value) {
    int32_t v = 0;
    int32_t len = 0;
    int rc = CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_GetProperty, conn->agentConn, code, static_cast<void*>(&v),
                      static_cast<int32_t>(sizeof v), &len);
    if (rc == 0)
        *value = v;
    return rc;
}

int SetIntProperty(const CONN* conn, uint32_t code, int32_t value) {
    return CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_SetProperty, conn->agentConn, code,
                    static_cast<const void*>(&value));
}

// Gives the server handle back to the agent; nothing when there is none.
void ReleaseServer(CONN* conn) {
    const OA_OPTABLE* ops = conn->holder.ops;
    if (conn->agentServer != 0 && ops != nullptr && ops->DRV_CloseServer != nullptr)
        ops->DRV_CloseServer(conn->agentServer);
    conn->agentServer = 0;
}

// A failure of the opening steps before the agent connection exists: the message on the
// connection and in the trace, and the server handle given back.
void FailOpen(CONN* conn, const char* message) {
    ConnAddError(conn, message, 0);
    TraceLog("ConnOpen: %s", message);
    ReleaseServer(conn);
}

// Undoes an open once the agent connection exists: disconnects it, gives the server handle
// back and leaves the connection allocated.
void AbandonOpen(CONN* conn) {
    const OA_OPTABLE* ops = conn->holder.ops;
    if (conn->agentConn != 0 && ops != nullptr && ops->DRV_Disconnect != nullptr)
        ops->DRV_Disconnect(conn->agentConn);
    conn->agentConn = 0;
    ReleaseServer(conn);
    conn->typeTable = CONN_TYPETABLE{};
    conn->state = CONN_ALLOCATED;
}

// The connect request of slot 5, owning its texts (C heap, as the agent may put its own
// empty texts in the null members and leaves them to the request's owner). The settings
// are the process-wide ones of the connect (ConnProcessSettings); the DBMS name leaves
// the block for the request.
class ConnectRequest {
public:
    ConnectRequest() { std::memset(&req_, 0, sizeof req_); }
    ~ConnectRequest() {
        if (req_.password != nullptr)
            explicit_bzero(req_.password, std::strlen(req_.password));
        for (char* p : {req_.host, req_.options, req_.serverType, req_.database, req_.dataSource, req_.dbOptions,
                        req_.user, req_.password, req_.extra, req_.appName, dbmsName_})
            std::free(p);
    }
    ConnectRequest(const ConnectRequest&) = delete;
    ConnectRequest& operator=(const ConnectRequest&) = delete;

    OA_CONNREQ* get() { return &req_; }

    // False when memory ran out. The initial SQL's texts stay the caller's.
    bool Build(const CONN* conn, int width, const ConnInitialSql* initSql) {
        ok_ = true;
        req_.host = HostText(conn);
        if (width == 'W') {
            std::string prefixed(OA_WIDE_PREFIX, sizeof OA_WIDE_PREFIX);
            prefixed += conn->agentOptions;
            req_.options = Copy(prefixed);
        } else {
            req_.options = CopyOrNull(conn->agentOptions);
        }
        req_.serverType = CopyOrNull(conn->cn_svtype);
        req_.database = CopyOrNull(conn->cn_dbpath);
        req_.dataSource = Copy(conn->dsn.empty() ? std::string("Default") : conn->dsn);
        req_.dbOptions = Copy(conn->cn_dbopts);
        req_.readOnly = (conn->flags & CONN_FLAG_READ_ONLY) != 0 ? 1 : 0;
        req_.user = Copy(conn->user);
        req_.password = Copy(conn->password);
        req_.loginTimeout = static_cast<int16_t>(conn->loginTimeout != 0 ? 99 : 0);
        req_.extra = CopyOrNull(conn->extra);
        req_.reserved = 0;
        req_.flag40 = (conn->flags & CONN_FLAG_REQUEST_40) != 0 ? 1 : 0;
        req_.appName = Copy(conn->appName);
        req_.driverFile = DrvVariant().fileName;
        req_.unicodeLibrary = DrvVariant().unicode ? 1 : 0;
        req_.narrowLatin1 = conn->narrow == NarrowCode::Latin1 ? 1 : 0;
        if (initSql != nullptr && !initSql->name.empty() && initSql->failure.empty()) {
            req_.initSqlName = initSql->name.c_str();
            req_.initSqlText = initSql->text.c_str();
        }
        CONN_PROCESS_SETTINGS& s = ConnProcessSettings();
        OA_CONNSETTINGS& out = req_.settings;
        out.dynCursSensitivity = s.dynCursSensitivity;
        out.jet = s.jet;
        out.noAutoCommit = s.noAutoCommit;
        out.maxRows = s.maxRows;
        out.noRowsetSizeLimit = s.noRowsetSizeLimit;
        out.showRemarks = s.showRemarks;
        out.defaultIsolation = s.defaultIsolation;
        dbmsName_ = CopyOrNull(s.sqlDbmsName);
        out.sqlDbmsName = dbmsName_;
        s.sqlDbmsName.clear();
        return ok_;
    }

private:
    char* Copy(const std::string& s) {
        char* p = static_cast<char*>(std::malloc(s.size() + 1));
        if (p == nullptr) {
            ok_ = false;
            return nullptr;
        }
        std::memcpy(p, s.data(), s.size());
        p[s.size()] = '\0';
        return p;
    }
    char* CopyOrNull(const std::string& s) { return s.empty() ? nullptr : Copy(s); }

    // "host:port" when the port is a number from 1 to 65535 and the two fit in 255 bytes;
    // the host alone otherwise; null without a host.
    char* HostText(const CONN* conn) {
        if (conn->cn_dbhost.empty())
            return nullptr;
        const std::string& port = conn->port;
        bool numeric = !port.empty() && port.size() <= 5 &&
                       port.find_first_not_of("0123456789") == std::string::npos;
        long n = numeric ? std::strtol(port.c_str(), nullptr, 10) : 0;
        if (n >= 1 && n <= 65535 && conn->cn_dbhost.size() + port.size() < 255)
            return Copy(conn->cn_dbhost + ":" + port);
        return Copy(conn->cn_dbhost);
    }

    OA_CONNREQ req_;
    char* dbmsName_ = nullptr;
    bool ok_ = true;
};

// What the agent can do: the capability mask, or one property per flag when the agent
// cannot answer the mask. Returns the autocommit state the agent reported.
bool ReadCapabilities(CONN* conn) {
    conn->cn_needbind = conn->cn_hasMoreRes = conn->cn_hasParamOp = conn->cn_spOutDeferFetch = 0;
    conn->cn_hasScrlCurs = conn->cn_hasDynMixCurs = conn->cn_hasV2DAE = conn->cn_hasExecute2 = 0;
    conn->agentConversions = 0;
    for (int32_t& f : conn->agentCaps)
        f = 0;
    bool autocommit = false;

    int32_t mask = 0;
    if (GetIntProperty(conn, OA_PROP_CAPABILITIES, &mask) == 0) {
        auto bit = [mask](uint32_t b) { return (static_cast<uint32_t>(mask) & b) != 0 ? 1 : 0; };
        conn->cn_needbind = bit(OA_CAP_NEEDBIND);
        conn->cn_hasMoreRes = bit(OA_CAP_HAS_MORE_RESULTS);
        conn->cn_hasParamOp = bit(OA_CAP_HAS_PARAM_OP);
        conn->cn_hasScrlCurs = bit(OA_CAP_HAS_SCROLL_CURSORS);
        conn->cn_hasDynMixCurs = bit(OA_CAP_HAS_DYN_MIX_CURSORS);
        conn->cn_hasV2DAE = bit(OA_CAP_HAS_V2_DAE);
        conn->cn_spOutDeferFetch = bit(OA_CAP_SP_OUT_DEFER_FETCH);
        conn->cn_hasExecute2 = bit(OA_CAP_HAS_EXECUTE2);
        autocommit = bit(OA_CAP_AUTOCOMMIT) != 0;
        conn->agentConversions = bit(OA_CAP_AGENT_CONVERSIONS);
        for (int i = 0; i < OA_CAP_AGENT_COUNT; ++i)
            conn->agentCaps[i] = bit(OA_CAP_AGENT_FIRST << i);
    } else {
        struct {
            uint32_t code;
            int32_t CONN::*flag;
        } const single[] = {
            {OA_PROP_NEEDBIND, &CONN::cn_needbind},
            {OA_PROP_HAS_MORE_RESULTS, &CONN::cn_hasMoreRes},
            {OA_PROP_HAS_PARAM_OP, &CONN::cn_hasParamOp},
            {OA_PROP_HAS_SCROLL_CURSORS, &CONN::cn_hasScrlCurs},
            {OA_PROP_DYN_MIX_CURSORS, &CONN::cn_hasDynMixCurs},
            {OA_PROP_HAS_V2_DAE, &CONN::cn_hasV2DAE},
            {OA_PROP_SP_OUT_DEFER_FETCH, &CONN::cn_spOutDeferFetch},
            {OA_PROP_HAS_EXECUTE2, &CONN::cn_hasExecute2},
        };
        for (const auto& s : single) {
            int32_t v = 0;
            if (GetIntProperty(conn, s.code, &v) == 0 && v != 0)
                conn->*s.flag = 1;
        }
        int32_t v = 0;
        autocommit = GetIntProperty(conn, OA_PROP_AUTOCOMMIT, &v) == 0 && v != 0;
    }
    TraceLog("cn_needbind=%d", conn->cn_needbind);
    TraceLog("cn_hasMoreRes=%d", conn->cn_hasMoreRes);
    TraceLog("cn_hasParamOp=%d", conn->cn_hasParamOp);
    TraceLog("cn_hasScrlCurs=%d", conn->cn_hasScrlCurs);
    TraceLog("cn_hasDynMixCurs=%d", conn->cn_hasDynMixCurs);
    TraceLog("cn_hasV2DAE=%d", conn->cn_hasV2DAE);
    TraceLog("cn_spOutDeferFetch=%d", conn->cn_spOutDeferFetch);
    TraceLog("cn_hasExecute2=%d", conn->cn_hasExecute2);
    TraceLog("autocommit=%d", autocommit ? 1 : 0);
    return autocommit;
}

// The isolation, autocommit and current catalog the application set, given to the agent
// connection just opened. 0, or the code of the first the agent refused.
int ApplyRequestedOptions(CONN* conn) {
    if (conn->requestedIsolation != 0) {
        if (int rc = SetIntProperty(conn, OA_PROP_TXN_ISOLATION, static_cast<int32_t>(conn->requestedIsolation));
            rc != 0)
            return rc;
        conn->defaultIsolation = conn->requestedIsolation;
    }
    if (conn->requestedAutocommit && *conn->requestedAutocommit != ((conn->flags & CONN_FLAG_AUTOCOMMIT) != 0)) {
        if (int rc = SetIntProperty(conn, OA_PROP_AUTOCOMMIT, *conn->requestedAutocommit ? 1 : 0); rc != 0)
            return rc;
        conn->flags ^= CONN_FLAG_AUTOCOMMIT;
    }
    if (conn->currentCatalog) {
        return CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_SetProperty, conn->agentConn, OA_PROP_CURRENT_CATALOG,
                        static_cast<const void*>(conn->currentCatalog->c_str()));
    }
    return 0;
}

}  // namespace

int ConnMoveAgentErrors(const CONN* conn, uint32_t handle, DIAG& diag) {
    const OA_OPTABLE* ops = conn->holder.ops;
    if (handle == 0 || ops == nullptr || ops->DRV_GetErrors == nullptr)
        return 0;
    OA_ERRTEXTS texts{};
    if (ops->DRV_GetErrors(handle, &texts) != 0)
        return 0;
    for (int32_t i = 0; i < texts.count; ++i) {
        const char* text = texts.texts != nullptr && texts.texts[i] != nullptr ? texts.texts[i] : "";
        int32_t native = texts.natives != nullptr ? texts.natives[i] : texts.native;
        ErrListAdd(diag, text, native);
    }
    int moved = texts.count;
    if (texts.release != nullptr)
        texts.release(&texts);
    return moved;
}

void ConnSetOpTableBinder(ConnBindOpTableFn bind) {
    g_bindOpTable.store(bind);
}

CONN* ConnAlloc(ENVR* envr) {
    auto* conn = new (std::nothrow) CONN;
    if (conn == nullptr) {
        envr->diag.errCode = ERR_MEMORY_ALLOCATION_FAILURE;
        return nullptr;
    }
    conn->envr = envr;
    conn->next = envr->conns;
    envr->conns = conn;
    conn->sequenceId = ++envr->connCounter;
    scs_CursorInit(&conn->cursorDefaults, 0, 0, nullptr, nullptr);
    ConnResetOptions(conn);
    return conn;
}

const int32_t* CursorOptionField(const SCS_CURSOR* cur, uint16_t option) {
    switch (option) {
    case SQL_CURSOR_TYPE: return &cur->cursorType;
    case SQL_CONCURRENCY: return &cur->concurrency;
    case SQL_KEYSET_SIZE: return &cur->keysetSize;
    case SQL_ROWSET_SIZE: return &cur->rowsetSize;
    case SQL_SIMULATE_CURSOR: return &cur->simulateCursor;
    case SQL_RETRIEVE_DATA: return &cur->retrieveData;
    case SQL_USE_BOOKMARKS: return &cur->useBookmarks;
    default: return nullptr;
    }
}

int32_t* CursorOptionField(SCS_CURSOR* cur, uint16_t option) {
    return const_cast<int32_t*>(CursorOptionField(static_cast<const SCS_CURSOR*>(cur), option));
}

void ConnResetOptions(CONN* conn) {
    for (int32_t& v : conn->infoI32)
        v = -1;
    for (uint16_t& v : conn->infoU16)
        v = 0xFFFF;
    for (auto& t : conn->infoText)
        t.reset();
    conn->typeInfoCache.clear();
}

SQLRETURN ConnOpen(CONN* conn, int width, const ConnInitialSql* initSql) {
    if (conn->state != CONN_ALLOCATED) {
        conn->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    conn->agentServer = 0;
    conn->agentConn = 0;
    conn->diag.errCode = ERR_CONNECTION_REJECTED_BY_DATA_SOURCE;

    // The application's narrow text is in its locale's code set, as the Driver Manager
    // takes it too; one the driver cannot convert is refused rather than garbled.
    const char* codeset = nullptr;
    if (!DrvLocaleNarrowCode(&conn->narrow, &codeset)) {
        conn->diag.errCode = ERR_UNABLE_TO_CONNECT_TO_DATA_SOURCE;
        ConnAddError(conn,
                     std::string("The locale's code set ") + codeset +
                         " is not supported: run the application in a UTF-8 or ISO-8859-1 locale[SQLSTATE:08001]",
                     0);
        TraceLog("ConnOpen: code set %s not supported", codeset);
        return SQL_ERROR;
    }
    DrvSetNarrowCode(conn->narrow);

    if (BindOpTable(&conn->holder) != 0 || conn->holder.ops == nullptr) {
        FailOpen(conn, "Unable to initialize driver");
        return SQL_ERROR;
    }
    DrvSetThreadMode(conn->holder.state);
    const OA_OPTABLE* ops = conn->holder.ops;

    const OA_SERVERREQ serverReq{conn->agentOptions.empty() ? nullptr : conn->agentOptions.c_str(),
                                 conn->cn_svtype.empty() ? nullptr : conn->cn_svtype.c_str()};
    if (ops->DRV_OpenServer == nullptr || ops->DRV_OpenServer(&serverReq, &conn->agentServer) != 0) {
        conn->agentServer = 0;  // nothing of the agent's to give back
        FailOpen(conn, "Unable to allocate server handle");
        return SQL_ERROR;
    }

    int initSqlResult = 0;
    {
        ConnectRequest request;
        if (!request.Build(conn, width, initSql)) {
            FailOpen(conn, "Unable to allocate memory");
            return SQL_ERROR;
        }
        conn->narrowWidePieces = 0;
        int rc = CallSlot(ops, &OA_OPTABLE::DRV_Connect, conn->agentServer, request.get(), &conn->agentConn);
        conn->diag.errCode = rc;
        if (rc != 0) {
            TraceLog("ConnOpen: %s", "Unable to allocate connection handle");
            ConnGetAgentErrors(conn, nullptr);
            ConnGetServerErrors(conn);
            conn->agentConn = 0;
            ReleaseServer(conn);
            return SQL_ERROR;
        }
        initSqlResult = request.get()->initSqlResult;
    }

    // From here on every way out but the last line gives the agent connection back,
    // exceptions included: a connect that fails leaves nothing connected.
    struct OpenGuard {
        CONN* conn;
        bool done = false;
        ~OpenGuard() {
            if (!done)
                AbandonOpen(conn);
        }
    } guard{conn};

    // The initial SQL's outcome, taken before a later step can post on the agent
    // connection's list: a warning of the connect, never its failure.
    bool warned = false;
    if (initSql != nullptr && !initSql->failure.empty()) {
        ConnAddError(conn, "Unable to read the initial SQL file " + initSql->name + ": " + initSql->failure +
                               "[SQLSTATE:01000]", 0);
        warned = true;
    } else if (initSql != nullptr && initSqlResult != 0) {
        if (ConnGetAgentErrors(conn, nullptr) == 0)
            ConnAddError(conn, "The initial SQL file " + initSql->name + " could not be run[SQLSTATE:01000]", 0);
        warned = true;
    }

    if (width == 'W') {
        // SQLPutData hands wide pieces over as narrow text unless the agent connection
        // carries the wide types; an agent that cannot tell is taken not to.
        int32_t wide = 0;
        conn->narrowWidePieces = GetIntProperty(conn, OA_PROP_WIDE, &wide) != 0 || wide == 0 ? 1 : 0;
    }

    conn->state = CONN_CONNECTED;
    conn->diag.errCode = 0;
    conn->typeTable = CONN_TYPETABLE{};
    conn->typeTable.valid = 1;
    if (ops->GetOpTable == nullptr || ops->GetOpTable(conn->agentConn, &conn->typeTable.table) != 0 ||
        conn->typeTable.table.rows == nullptr) {
        conn->typeTable.valid = 0;
        TraceLog("GetOpTable failed for type %d", 0);
    }

    // The connection's autocommit flag follows what the agent does, whatever a connect
    // string or an earlier connect left in it.
    if (ReadCapabilities(conn))
        conn->flags |= CONN_FLAG_AUTOCOMMIT;
    else
        conn->flags &= static_cast<uint16_t>(~CONN_FLAG_AUTOCOMMIT);
    // Statements allocated from now on fetch their rowsets through the slot that takes
    // the orientation when the agent (or the cursor library) has dynamic and mixed cursors.
    conn->cursorDefaults.hasDynMixCursors = conn->cn_hasDynMixCurs;

    if ((conn->flags & CONN_FLAG_SET_AGENT_0F) != 0)
        SetIntProperty(conn, OA_PROP_AGENT_0F, 1);
    if ((conn->flags & CONN_FLAG_SET_AGENT_16) != 0)
        SetIntProperty(conn, OA_PROP_AGENT_16, 1);

    if (conn->defaultIsolation == 0 ||
        SetIntProperty(conn, OA_PROP_TXN_ISOLATION, static_cast<int32_t>(conn->defaultIsolation)) != 0) {
        int32_t iso = 0;
        if (GetIntProperty(conn, OA_PROP_TXN_ISOLATION, &iso) == 0 && iso != 0)
            conn->defaultIsolation = static_cast<uint32_t>(iso);
    }

    // What the application set before connecting holds on the new connection, or the
    // connect fails: it would run with settings the application did not choose.
    if (int rc = ApplyRequestedOptions(conn); rc != 0) {
        TraceLog("ConnOpen: applying the connection's options failed with %d", rc);
        ConnGetAgentErrors(conn, nullptr);
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }

    // A connection whose agent cannot take the environment's ODBC version would answer in
    // the wrong version's terms: the connect fails and the agent connection goes again.
    int rc = SetIntProperty(conn, OA_PROP_ODBC_VERSION,
                            static_cast<int32_t>(conn->envr != nullptr ? conn->envr->odbcVersion : 2));
    if (rc != 0) {
        TraceLog("ConnOpen: setting the ODBC version failed with %d", rc);
        ConnGetAgentErrors(conn, nullptr);
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }
    guard.done = true;
    return warned ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

namespace {

// Disconnects (when connected) and resets the connection. Unless forced, the first refusal
// leaves the connection connected and its statements as they were; forced, every step runs
// whatever an earlier one answered, so that nothing the connection holds is left behind.
int CloseConnection(CONN* conn, bool force) {
    if (conn->state == CONN_CONNECTED) {
        // Everything that can refuse the disconnect comes before the statements go, so
        // that a refused disconnect leaves the connection as it was. The agent's own
        // disconnect cannot refuse a live connection; its statements must go before it.
        if (DtcReleaseEnlistment(&conn->dtcDispenser, &conn->dtcEnlisted) != 0 && !force)
            return ERR_INVALID_TRANSACTION_STATE;  // still enlisted
        ConnFreeStatements(conn);
        int rc = CallSlot(conn->holder.ops, &OA_OPTABLE::DRV_Disconnect, conn->agentConn);
        if (rc != 0) {
            ConnGetAgentErrors(conn, nullptr);
            if (!force)
                return rc;
            TraceLog("ConnClose: the agent refused the disconnect (%d); the connection is dropped", rc);
        }
        conn->agentConn = 0;
        ReleaseServer(conn);
        conn->state = CONN_ALLOCATED;
    }
    conn->typeTable = CONN_TYPETABLE{};
    ConnFreeUserDescs(conn);
    ConnResetOptions(conn);
    return 0;
}

}  // namespace

int ConnClose(CONN* conn) {
    return CloseConnection(conn, false);
}

void ConnCloseForGood(CONN* conn) {
    CloseConnection(conn, true);
}

void ConnFree(CONN* conn) {
    ConnFreeSettings(conn);
    conn->appName.clear();
    conn->currentCatalog.reset();
    conn->translateLib.reset();
    conn->option1051.reset();
    if (ENVR* envr = conn->envr) {
        for (CONN** p = &envr->conns; *p != nullptr; p = &(*p)->next) {
            if (*p == conn) {
                *p = conn->next;
                break;
            }
        }
    }
    ErrListFree(conn->diag);
    conn->magic = FREED_MAGIC;
    conn->state = CONN_FREED;
    if (conn->id != 0)
        hdl_Remove(&Drv().connTable, conn->id);
}

void ConnDestroy(CONN* conn) {
    ConnFree(conn);
    GateReleaseDoomed(&conn->callGate);
    delete conn;
}

void ConnFreeSettings(CONN* conn) {
    for (std::string* s : {&conn->dsn, &conn->user, &conn->password, &conn->cn_dbpath, &conn->cn_dbopts,
                           &conn->cn_dbhost, &conn->port, &conn->cn_svtype, &conn->agentOptions, &conn->extra}) {
        if (!s->empty())
            explicit_bzero(s->data(), s->size());
        s->clear();
    }
}

SQLRETURN ConnEndTran(CONN* conn, int completionType) {
    TraceLog("%s", completionType == SQL_COMMIT ? "[Commit]" : "[Rollback]");
    if (conn->state != CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_NOT_OPEN;
        return SQL_ERROR;
    }
    if (completionType != SQL_COMMIT && completionType != SQL_ROLLBACK) {
        conn->diag.errCode = ERR_INVALID_TRANSACTION_OPERATION_CODE;
        return SQL_ERROR;
    }
    conn->diag.errCode = ConnEndTranOn(conn, completionType, conn->diag);
    return conn->diag.errCode != 0 ? SQL_ERROR : SQL_SUCCESS;
}

int ConnEndTranOn(CONN* conn, int completionType, DIAG& messages) {
    auto slot = completionType == SQL_COMMIT ? &OA_OPTABLE::DRV_Commit : &OA_OPTABLE::DRV_Rollback;
    int rc = CallSlot(conn->holder.ops, slot, conn->agentConn);
    if (rc != 0)
        ConnMoveAgentErrors(conn, conn->agentConn, messages);
    return rc;
}

int ConnGetAgentErrors(CONN* conn, STMT* stmt) {
    return ConnMoveAgentErrors(conn, conn->agentConn, stmt != nullptr ? stmt->diag : conn->diag);
}

int ConnGetServerErrors(CONN* conn) {
    return ConnMoveAgentErrors(conn, conn->agentServer, conn->diag);
}

void ConnFreeStatements(CONN* conn) {
    while (STMT* stmt = conn->stmts) {
        StmtClose(stmt);
        StmtFree(stmt);
    }
}

void ConnFreeUserDescs(CONN* conn) {
    while (DESC* desc = conn->descs)
        DescFree(desc);
}

namespace {

// What a distributed-transaction dispenser or the XA switch uses of the connection.
DTC_CONN_LINK DtcLinkOf(const CONN* conn) {
    DTC_CONN_LINK link;
    link.holder = conn->holder;
    link.agentServer = conn->agentServer;
    link.agentConn = conn->agentConn;
    link.hasXA = conn->agentCaps[3] != 0;  // capability bit 0x2000
    link.xaCallLock = conn->xaCallLock;
    return link;
}

}  // namespace

int ConnSetDtcEnlistment(CONN* conn, ITransaction* transaction) {
    DTC_ENLIST_TARGET target;
    target.odbcVersion = conn->envr != nullptr ? conn->envr->odbcVersion : 2;
    target.connected = conn->state == CONN_CONNECTED;
    target.link = DtcLinkOf(conn);
    // The dispenser holds the call lock over prepared branches: the connection's calls take
    // it from now on.
    target.link.callLock = GateShareCallLock(&conn->callGate);
    target.dsn = conn->dsn;
    target.user = conn->user;
    target.password = conn->password;
    int rc = DtcSetEnlistment(&conn->dtcDispenser, &conn->dtcEnlisted, target, transaction);
    ConnWipe(target.password);
    return rc;
}

bool ConnXaLinkOf(SQLHDBC driverHandle, DTC_CONN_LINK* out) {
    std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
    const auto* conn = static_cast<const CONN*>(hdl_Lookup(&Drv().connTable, HandleId(driverHandle)));
    if (conn == nullptr || conn->magic != CONN_MAGIC || conn->state != CONN_CONNECTED)
        return false;
    *out = DtcLinkOf(conn);
    return true;
}
