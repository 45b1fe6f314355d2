// The cursor library's bookkeeping of agent connections: the per-server lists of kept
// connect parameters and each connection's SCS_CONN (server and key-column cache), hung
// on the agent connection.
#include "scrs/scs_conn.h"

#include <string.h>

#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <new>

#include "drv_pro9/oa_services.h"
#include "scrs/rvc_rowver.h"
#include "scrs/scs_stmt.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/uthash.h"

namespace {

// Key columns by table: 101 buckets, 16-byte keys.
constexpr int32_t kKeyCacheBuckets = 101;
constexpr int32_t kKeyCacheKeyLength = 16;

struct ConnNode {
    std::unique_ptr<SCS_CONNINFO> info;
    uint32_t agentConn = 0;
};

// The per-server lists in connect order. A server whose list empties leaves the map, so a
// failed or undone connect keeps nothing.
struct ConnLists {
    std::recursive_mutex lock;
    std::map<uint32_t, std::list<ConnNode>> byServer;
};

// Never destroyed: a connection the agent frees during the process's exit still finds it.
ConnLists& Lists() {
    static ConnLists& lists = *new ConnLists;
    return lists;
}

// What hangs on the agent connection: the SCS_CONN handed out by scs_FindConn and the
// kept record of this connection (owned by its list node), by which the node is found
// again: a handle may already name a newer connection when an old one is released.
struct ConnState {
    SCS_CONN conn;
    const SCS_CONNINFO* info = nullptr;

    ConnState() = default;
    ~ConnState();   // frees the key-column cache, also of a connect that failed later
    ConnState(const ConnState&) = delete;
    ConnState& operator=(const ConnState&) = delete;
};

std::atomic<int> g_failAt{0};

// One allocation of a connect's bookkeeping; throws when a test asked for this one to fail.
void AllocationPoint() {
    int n = g_failAt.load();
    while (n > 0) {
        if (g_failAt.compare_exchange_weak(n, n - 1)) {
            if (n == 1)
                throw std::bad_alloc();
            return;
        }
    }
}

std::optional<std::string> Copy(const char* text) {
    if (text == nullptr)
        return std::nullopt;
    // Built in place: no temporary holds a second copy of the text.
    return std::optional<std::string>(std::in_place, text);
}

const char* TextOf(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

// Takes the record's node out of its server's list (under the lock) and frees it after.
void DropInfo(uint32_t server, const SCS_CONNINFO* info) {
    if (info == nullptr)
        return;
    std::unique_ptr<SCS_CONNINFO> dropped;
    ConnLists& lists = Lists();
    {
        std::lock_guard<std::recursive_mutex> guard(lists.lock);
        auto it = lists.byServer.find(server);
        if (it == lists.byServer.end())
            return;
        std::list<ConnNode>& nodes = it->second;
        for (auto n = nodes.begin(); n != nodes.end(); ++n) {
            if (n->info.get() == info) {
                dropped = std::move(n->info);
                nodes.erase(n);
                break;
            }
        }
        if (nodes.empty())
            lists.byServer.erase(it);
    }
}

void FreeKeyCache(SCS_CONN* conn) {
    if (conn->keyCache == nullptr)
        return;
    ut_HashForEach(conn->keyCache, scs_FreeKeyCacheEntry, nullptr);
    ut_HashFree(conn->keyCache);
    conn->keyCache = nullptr;
}

ConnState::~ConnState() { FreeKeyCache(&conn); }

// The release of the connection's library slot: memory only, since it also runs when the
// agent frees the connection itself. The kept record goes first, then the key cache.
void ReleaseConnState(void* state) {
    std::unique_ptr<ConnState> s(static_cast<ConnState*>(state));
    DropInfo(s->conn.server, s->info);
}

ConnState* StateOf(uint32_t agentConn) {
    OA_LIBSTATE* slot = oa_ConnLibState(agentConn);
    if (slot == nullptr || slot->release != ReleaseConnState)
        return nullptr;
    return static_cast<ConnState*>(slot->state);
}

}  // namespace

SCS_CONNINFO::SCS_CONNINFO(const OA_CONNREQ& req)
    : host(Copy(req.host)),
      options(Copy(req.options)),
      serverType(Copy(req.serverType)),
      database(Copy(req.database)),
      dataSource(Copy(req.dataSource)),
      dbOptions(Copy(req.dbOptions)),
      readOnly(req.readOnly),
      user(Copy(req.user)),
      password(Copy(req.password)),
      loginTimeout(req.loginTimeout),
      extra(Copy(req.extra)),
      reserved(req.reserved),
      flag40(req.flag40),
      appName(Copy(req.appName)),
      settings(req.settings),
      sqlDbmsName(Copy(req.settings.sqlDbmsName)),
      driverFile(Copy(req.driverFile)),
      unicodeLibrary(req.unicodeLibrary),
      narrowLatin1(req.narrowLatin1) {
    // The request's own text; Request() points at the copy.
    settings.sqlDbmsName = nullptr;
}

SCS_CONNINFO::~SCS_CONNINFO() {
    // A short password lies inside this record's block, a long one in a block of its own:
    // both are freed by the members' destructors, after this.
    if (password && !password->empty())
        explicit_bzero(password->data(), password->size());
}

OA_CONNREQ SCS_CONNINFO::Request() const {
    OA_CONNREQ req{};
    // The agent reads the texts and never writes through them.
    auto text = [](const std::optional<std::string>& t) { return const_cast<char*>(TextOf(t)); };
    req.host = text(host);
    req.options = text(options);
    req.serverType = text(serverType);
    req.database = text(database);
    req.dataSource = text(dataSource);
    req.dbOptions = text(dbOptions);
    req.readOnly = readOnly;
    req.user = text(user);
    req.password = text(password);
    req.loginTimeout = loginTimeout;
    req.extra = text(extra);
    req.reserved = reserved;
    req.flag40 = flag40;
    req.appName = text(appName);
    req.settings = settings;
    req.settings.sqlDbmsName = TextOf(sqlDbmsName);
    req.driverFile = TextOf(driverFile);
    req.unicodeLibrary = unicodeLibrary;
    req.narrowLatin1 = narrowLatin1;
    return req;
}

int scs_ConnectBookkeeping(uint32_t server, const OA_CONNREQ* req, uint32_t agentConn) {
    OA_LIBSTATE* slot = oa_ConnLibState(agentConn);
    if (req == nullptr || slot == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    // A second bookkeeping of the same connection keeps only the newer parameters.
    if (slot->release == ReleaseConnState)
        slot->reset();
    try {
        AllocationPoint();
        auto info = std::make_unique<SCS_CONNINFO>(*req);
        AllocationPoint();
        auto state = std::make_unique<ConnState>();
        state->conn.server = server;
        AllocationPoint();
        state->conn.keyCache = ut_HashNew(kKeyCacheBuckets, kKeyCacheKeyLength);
        if (state->conn.keyCache == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;   // the state is freed on the way out
        state->info = info.get();
        {
            ConnLists& lists = Lists();
            std::lock_guard<std::recursive_mutex> guard(lists.lock);
            // A new server's map entry must not outlive a failed insertion of its node.
            bool newServer = lists.byServer.find(server) == lists.byServer.end();
            std::list<ConnNode>& nodes = lists.byServer[server];
            try {
                AllocationPoint();
                nodes.push_back(ConnNode{std::move(info), agentConn});
            } catch (const std::bad_alloc&) {
                if (newServer)
                    lists.byServer.erase(server);
                throw;
            }
        }
        slot->reset();
        slot->state = state.release();
        slot->release = ReleaseConnState;
        return 0;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

int scs_DisconnectBookkeeping(uint32_t agentConn) {
    // The connection's row-version helpers first: they delete its lines and close while
    // its kept parameters and its handle still name it.
    RVC_ConnectionClosing(agentConn);
    if (StateOf(agentConn) == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    oa_ConnLibState(agentConn)->reset();   // ReleaseConnState
    return 0;
}

SCS_CONN* scs_FindConn(uint32_t agentConn) {
    ConnState* s = StateOf(agentConn);
    return s != nullptr ? &s->conn : nullptr;
}

const SCS_CONNINFO* scs_ConnInfoOf(uint32_t agentConn) {
    ConnState* s = StateOf(agentConn);
    return s != nullptr ? s->info : nullptr;
}

void scs_FreeKeyCacheEntry(void* value, const void*, void*) {
    UT_ARRAY* keyCols = static_cast<UT_ARRAY*>(value);
    ut_ArrayFree(&keyCols, SCR_ColDescFree);
}

std::recursive_mutex& scs_ConnListLock() { return Lists().lock; }

std::vector<uint32_t> scs_ConnListOf(uint32_t server) {
    std::vector<uint32_t> out;
    ConnLists& lists = Lists();
    std::lock_guard<std::recursive_mutex> guard(lists.lock);
    auto it = lists.byServer.find(server);
    if (it != lists.byServer.end())
        for (const ConnNode& n : it->second)
            out.push_back(n.agentConn);
    return out;
}

void scs_FailConnAllocation(int n) { g_failAt.store(n > 0 ? n : 0); }
