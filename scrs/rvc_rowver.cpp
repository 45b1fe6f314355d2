// The row-version table KVRRVC: the helper connections, the digests of rows and keys, and
// the SQL that reads and writes each cursor's lines.
#include "scrs/rvc_rowver.h"

#include <openssl/evp.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "drv_pro9/oa_optable.h"
#include "drv_pro9/oa_services.h"
#include "scrs/scs_catalog.h"
#include "scrs/scs_conn.h"
#include "scrs/scs_stmt.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/sqlstate.h"
#include "util/utheap.h"

// One helper connection and the cursors of one agent connection that it serves.
struct RVC_HELPER {
    uint32_t agentConn = 0;              // the connection whose cursors it serves
    uint32_t helperConn = 0;
    uint32_t helperStmt = 0;
    const OA_OPHOLDER* holder = nullptr; // the agent's table, as the opening cursor had it
    char hconn[9] = {};
    std::vector<RVC_STATE*> users;       // the bound cursors; its size is the reference count
};

namespace {

constexpr int kHexChars = 32;                   // a digest as text
constexpr uint32_t kParamWidth = 36;            // a u16 length, 32 characters and spare
constexpr uint16_t kReadRows = 2;               // enough to see a duplicated key

// Every helper of the process. Changed only under scs_ConnListLock(); never destroyed, so
// that a connection closed during the process's exit still finds it.
std::list<std::unique_ptr<RVC_HELPER>>& Helpers() {
    static auto& helpers = *new std::list<std::unique_ptr<RVC_HELPER>>;
    return helpers;
}

const OA_OPTABLE& AgentOf(const RVC_HELPER* h) { return *h->holder->ops; }

// The helper bound to the cursor, when it is still open. Caller holds the lock.
RVC_HELPER* BoundHelper(const SCS_STMT* cur) {
    if (cur->rowVersion.helper == nullptr)
        return nullptr;
    for (const auto& h : Helpers())
        if (h.get() == cur->rowVersion.helper &&
            std::find(h->users.begin(), h->users.end(), &cur->rowVersion) != h->users.end())
            return h.get();
    return nullptr;
}

// Unbinds the state from whichever helper lists it; the helper when that was its last
// cursor (then taken out of the list: the caller closes it). Caller holds the lock.
std::unique_ptr<RVC_HELPER> Unbind(RVC_STATE* state) {
    std::list<std::unique_ptr<RVC_HELPER>>& helpers = Helpers();
    for (auto it = helpers.begin(); it != helpers.end(); ++it) {
        std::vector<RVC_STATE*>& users = (*it)->users;
        auto u = std::find(users.begin(), users.end(), state);
        if (u == users.end())
            continue;
        users.erase(u);
        if (!users.empty())
            return nullptr;
        std::unique_ptr<RVC_HELPER> last = std::move(*it);
        helpers.erase(it);
        return last;
    }
    return nullptr;
}

// Frees the helper's statement and closes its connection; outside the lock.
void Close(const RVC_HELPER& h) {
    const OA_OPTABLE& agent = AgentOf(&h);
    if (h.helperStmt != 0)
        agent.DRV_FreeStmt(h.helperStmt);
    if (h.helperConn != 0)
        agent.DRV_Disconnect(h.helperConn);
}

void Hex(const RVC_DIGEST& d, char out[kHexChars + 1]) { rvc_HexEncode(d.data(), d.size(), out, kHexChars + 1, nullptr); }

// A one-row parameter dataset of digests as 32-character text (DS_VARCHAR16, width 36),
// in the order given; null on no memory. Its owner is the agent once handed over.
DATASET* DigestParams(std::initializer_list<const RVC_DIGEST*> digests) {
    auto* ds = static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET)));
    if (ds == nullptr)
        return nullptr;
    const auto n = static_cast<uint16_t>(digests.size());
    if (ds_Init(ds, n) != 0) {
        uh_Free(ds);
        return nullptr;
    }
    ds->colsUsed = n;
    for (uint16_t c = 0; c < n; ++c) {
        ds->cols[c].type = DS_VARCHAR16;
        ds->cols[c].width = kParamWidth;
    }
    if (ds_AllocRows(ds, 1) != 0) {
        DatasetDeleter{}(ds);
        return nullptr;
    }
    ds->rowsUsed = 1;
    uint16_t c = 0;
    for (const RVC_DIGEST* d : digests) {
        DATASET_COL& col = ds->cols[c++];
        unsigned char* e = ds_Elem(&col, 0);
        const uint16_t length = kHexChars;
        std::memcpy(e, &length, sizeof length);
        Hex(*d, reinterpret_cast<char*>(e + sizeof length));
        col.indicators[0] = kHexChars;
    }
    return ds;
}

// Runs the prepared text on the helper's statement with these parameter values (null:
// none; the earlier values are dropped either way, so that a text without markers gets
// none) and their descriptions when the connection needs them.
int Run(const SCS_STMT* cur, const RVC_HELPER* h, DATASET* values, uint16_t params) {
    const OA_OPTABLE& agent = AgentOf(h);
    if (int rc = agent.DRV_SetParamValues(h->helperStmt, values); rc != 0) {
        if (values != nullptr)
            DatasetDeleter{}(values);
        return rc;
    }
    if (cur->needParamDescs != 0 && agent.DRV_SetParamDescs != nullptr) {
        const PARAM_DESC desc{1, 1, kHexChars, 0, {0, 0}, 1};
        const PARAM_DESC descs[2] = {desc, desc};
        if (int rc = agent.DRV_SetParamDescs(h->helperStmt, params, params != 0 ? descs : nullptr); rc != 0)
            return rc;
    }
    return agent.DRV_Execute(h->helperStmt);
}

int RunDigests(const SCS_STMT* cur, const RVC_HELPER* h, std::initializer_list<const RVC_DIGEST*> digests) {
    DATASET* values = DigestParams(digests);
    if (values == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    return Run(cur, h, values, static_cast<uint16_t>(digests.size()));
}

// Prepares text on the helper's statement, its message list cleared and kept across the
// row-by-row executions that follow.
int Prepare(const RVC_HELPER* h, const std::string& text) {
    oa_ErrClearOf(h->helperStmt);
    oa_StmtKeepErrors(h->helperStmt, 1);
    return AgentOf(h).DRV_Prepare(h->helperStmt, text.c_str());
}

std::string Quoted(const char* value) { return std::string("'") + value + "'"; }

// Ends the helper's transaction: one commit for the lines of a whole operation (a commit of
// the embedded server is synced to disk: one per row would cost more than the fetch). After
// a failure what was written is committed too: its statuses say so. A failed commit is the
// operation's failure.
int EndTransaction(const RVC_HELPER* h, int rc) {
    const OA_OPTABLE& agent = AgentOf(h);
    const int ended = agent.DRV_Commit(h->helperConn);
    if (ended != 0)
        agent.DRV_Rollback(h->helperConn);
    return rc != 0 ? rc : ended;
}

std::string SelectText(const RVC_STATE& s) {
    return "SELECT ROWVER FROM KVRRVC WHERE HCONN = " + Quoted(s.hconn) + " AND HCURS = " + Quoted(s.hcurs) +
           " AND KEYVER = ?";
}
std::string InsertText(const RVC_STATE& s) {
    return "INSERT INTO KVRRVC VALUES ( " + Quoted(s.hconn) + ", " + Quoted(s.hcurs) + ", ?, ?)";
}
std::string UpdateText(const RVC_STATE& s) {
    return "UPDATE KVRRVC SET ROWVER = ? WHERE HCONN = " + Quoted(s.hconn) + " AND HCURS = " + Quoted(s.hcurs) +
           " AND KEYVER = ?";
}
std::string DeleteText(const RVC_STATE& s) {
    return "DELETE FROM KVRRVC WHERE HCONN = " + Quoted(s.hconn) + " AND HCURS = " + Quoted(s.hcurs);
}

// Reads the lines recorded for one key: how many (0, 1 or 2 meaning more than one) and the
// first one's ROWVER.
int ReadVersion(const SCS_STMT* cur, const RVC_HELPER* h, const RVC_DIGEST& key, int* lines, std::string* rowver) {
    const OA_OPTABLE& agent = AgentOf(h);
    if (int rc = RunDigests(cur, h, {&key}); rc != 0)
        return rc;
    DATASET block{};
    int rc = agent.DRV_Fetch(h->helperStmt, kReadRows, &block);
    if (rc == 0) {
        *lines = block.rowsUsed;
        if (block.rowsUsed > 0) {
            bool null = false;
            rc = scs_CatalogText(block, 0, 0, rowver, &null);
        }
    }
    ds_Free(&block);
    agent.DRV_CloseCursor(h->helperStmt);
    return rc;
}

// The process's start, taken once: with the host and the pid it tells this process from
// any other that had, or will have, the same pid.
int64_t ProcessStart() {
    static const int64_t start = [] {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }();
    return start;
}

void AppendPrefixed(std::string* out, const void* bytes, uint32_t n) {
    unsigned char length[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                               static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    out->append(reinterpret_cast<const char*>(length), sizeof length);
    out->append(static_cast<const char*>(bytes), n);
}

bool Md5(const std::string& input, RVC_DIGEST* out) {
    unsigned int size = 0;
    return EVP_Digest(input.data(), input.size(), out->data(), &size, EVP_md5(), nullptr) == 1 && size == out->size();
}

// Opens a helper for the cursor's connection: connect with the kept parameters,
// autocommit on, one statement. Outside the lock. On failure nothing stays open and the
// agent's messages are on the cursor's statement.
int Open(const SCS_STMT* cur, RVC_HELPER* h) {
    const SCS_CONNINFO* info = scs_ConnInfoOf(cur->agentConn);
    const SCS_CONN* conn = scs_FindConn(cur->agentConn);
    if (info == nullptr || conn == nullptr)
        return ERR_GENERAL_ERROR;
    const OA_OPTABLE& agent = AgentOf(h);
    const OA_CONNREQ kept = info->Request();
    OA_CONNREQ req = kept;
    int rc = agent.DRV_Connect(conn->server, &req, &h->helperConn);
    // The agent may have put texts of its own where the request had none.
    for (auto field : {&OA_CONNREQ::user, &OA_CONNREQ::password, &OA_CONNREQ::database})
        if (req.*field != kept.*field)
            std::free(req.*field);
    if (rc != 0) {
        h->helperConn = 0;
        oa_ErrMove(cur->agentStmt, conn->server);
        return rc;
    }
    // Its lines are committed by each operation as a whole (EndTransaction), whatever the
    // kept parameters say of autocommit.
    const int32_t off = 0;
    rc = agent.DRV_SetProperty(h->helperConn, OA_PROP_AUTOCOMMIT, &off);
    if (rc == 0)
        rc = agent.DRV_AllocStmt(h->helperConn, &h->helperStmt);
    if (rc != 0) {
        h->helperStmt = 0;
        oa_ErrMove(cur->agentStmt, h->helperConn);
        agent.DRV_Disconnect(h->helperConn);
        h->helperConn = 0;
    }
    return rc;
}

void Bind(SCS_STMT* cur, RVC_HELPER* h) {
    h->users.push_back(&cur->rowVersion);
    RVC_STATE& s = cur->rowVersion;
    s.helper = h;
    s.helperStmt = h->helperStmt;
    std::memcpy(s.hconn, h->hconn, sizeof s.hconn);
    std::snprintf(s.hcurs, sizeof s.hcurs, "%08X", cur->agentStmt);
}

// The cursor's helper, or null when it has none. The helper stays while the cursor's
// ODBC call runs: only its own connection's calls close it.
RVC_HELPER* HelperOf(const SCS_STMT* cur) {
    std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
    return BoundHelper(cur);
}

}  // namespace

void rvc_HexEncode(const uint8_t* bytes, size_t n, char* out, size_t outSize, size_t* encodedLen) {
    static const char kDigits[] = "0123456789ABCDEF";
    size_t written = 0;
    if (out != nullptr && outSize > 0) {
        const size_t fit = std::min(n, (outSize - 1) / 2);
        for (size_t i = 0; i < fit; ++i) {
            out[written++] = kDigits[bytes[i] >> 4];
            out[written++] = kDigits[bytes[i] & 0xF];
        }
        out[written] = '\0';
    }
    if (encodedLen != nullptr)
        *encodedLen = written;
}

void RVC_HConnOf(uint32_t agentConn, char out[9]) {
    std::string input;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
    const int64_t pid = getpid();
    const int64_t start = ProcessStart();
    AppendPrefixed(&input, host, static_cast<uint32_t>(std::strlen(host)));
    AppendPrefixed(&input, &pid, sizeof pid);
    AppendPrefixed(&input, &start, sizeof start);
    AppendPrefixed(&input, &agentConn, sizeof agentConn);
    RVC_DIGEST d{};
    if (!Md5(input, &d)) {
        // No digest: the handle alone still names the connection within this process.
        std::snprintf(out, 9, "%08X", agentConn);
        return;
    }
    rvc_HexEncode(d.data(), 4, out, 9, nullptr);
}

int RVC_RowDigest(const DATASET& rows, int32_t row, RVC_DIGEST* out) {
    if (out == nullptr || row < 0 || row >= rows.rowsUsed || (rows.colsUsed > 0 && rows.cols == nullptr))
        return ERR_GENERAL_ERROR;
    try {
        std::string input;
        std::vector<unsigned char> value;
        for (int c = 0; c < rows.colsUsed; ++c) {
            const DATASET_COL& col = rows.cols[c];
            // Long values stay out: reading them all at every fetch would cost too much.
            if (ds_IsRefType(col.type))
                continue;
            const bool null = col.indicators != nullptr && col.indicators[row] == DS_IND_NULL;
            size_t length = 0;
            if (!null) {
                value.resize(std::max<uint32_t>(col.width, 1));
                length = col.width;
                if (ds_GetValue(&rows, c, row, value.data(), &length) != 0)
                    return ERR_GENERAL_ERROR;
            }
            input += null ? '\0' : '\1';
            AppendPrefixed(&input, value.data(), static_cast<uint32_t>(length));
        }
        return Md5(input, out) ? 0 : ERR_GENERAL_ERROR;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

int RVC_Attach(SCS_STMT* cur) {
    {
        std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
        if (BoundHelper(cur) != nullptr)
            return 0;
        cur->rowVersion = RVC_STATE{};
        for (const auto& h : Helpers()) {
            if (h->agentConn == cur->agentConn) {
                try {
                    Bind(cur, h.get());
                } catch (const std::bad_alloc&) {
                    cur->rowVersion = RVC_STATE{};
                    return ERR_MEMORY_ALLOCATION_FAILURE;
                }
                return 0;
            }
        }
    }
    if (cur->agent == nullptr || cur->agent->ops == nullptr)
        return ERR_GENERAL_ERROR;
    auto made = std::unique_ptr<RVC_HELPER>(new (std::nothrow) RVC_HELPER);
    if (made == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    made->agentConn = cur->agentConn;
    made->holder = cur->agent;
    RVC_HConnOf(cur->agentConn, made->hconn);
    // Connecting takes long: other connections' cursors must not wait for it.
    if (int rc = Open(cur, made.get()); rc != 0)
        return rc;
    std::unique_ptr<RVC_HELPER> spare;   // ours, when it is not used after all
    int rc = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
        std::list<std::unique_ptr<RVC_HELPER>>& helpers = Helpers();
        // Another cursor of the connection may have opened one meanwhile: that one serves.
        auto use = std::find_if(helpers.begin(), helpers.end(),
                                [&](const auto& h) { return h->agentConn == cur->agentConn; });
        bool added = false;
        try {
            if (use == helpers.end()) {
                helpers.push_back(nullptr);
                use = std::prev(helpers.end());
                *use = std::move(made);
                added = true;
            }
            Bind(cur, use->get());
        } catch (const std::bad_alloc&) {
            cur->rowVersion = RVC_STATE{};
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
            // Ours, just added and bound to nobody, goes again.
            if (added) {
                made = std::move(*use);
                helpers.erase(use);
            }
        }
        spare = std::move(made);
    }
    if (spare != nullptr)
        Close(*spare);
    return rc;
}

int RVC_Detach(SCS_STMT* cur) {
    std::unique_ptr<RVC_HELPER> last;
    {
        std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
        last = Unbind(&cur->rowVersion);
    }
    cur->rowVersion.helper = nullptr;
    cur->rowVersion.helperStmt = 0;
    if (last != nullptr)
        Close(*last);
    return 0;
}

void RVC_Forget(SCS_STMT* cur) {
    std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
    // No agent call here: a helper left without cursors stays open, unused, until its
    // connection closes.
    for (const auto& h : Helpers()) {
        auto u = std::find(h->users.begin(), h->users.end(), &cur->rowVersion);
        if (u != h->users.end())
            h->users.erase(u);
    }
    cur->rowVersion.helper = nullptr;
    cur->rowVersion.helperStmt = 0;
}

void RVC_MoveErrors(SCS_STMT* cur) {
    const RVC_HELPER* h = HelperOf(cur);
    if (h == nullptr)
        return;
    oa_ErrMove(cur->agentStmt, h->helperStmt);
    oa_ErrMove(cur->agentStmt, h->helperConn);
}

int RVC_DropCursor(SCS_STMT* cur) {
    const RVC_HELPER* h = HelperOf(cur);
    if (h == nullptr)
        return ERR_GENERAL_ERROR;
    int rc = 0;
    try {
        rc = Prepare(h, DeleteText(cur->rowVersion));
    } catch (const std::bad_alloc&) {
        rc = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (rc == 0)
        rc = Run(cur, h, nullptr, 0);
    rc = EndTransaction(h, rc);
    if (rc == 0)
        return 0;
    // The server's words first, then what the user can do about them.
    scs_KeepStmtErrors(cur->agentStmt, 1);
    RVC_MoveErrors(cur);
    const SQLSTATE_ROW* row = SqlStateRow(ERR_CHECK_THAT_THE_TABLE_KVRRVC_EXISTS);
    oa_ErrPostOn(cur->agentStmt, row->message, row->state);
    scs_KeepStmtErrors(cur->agentStmt, 0);
    return rc;
}

int RVC_UpdateRows(SCS_STMT* cur, const std::vector<RVC_DIGEST>& keyDigests,
                   const std::vector<RVC_DIGEST>& rowDigests, int16_t* status, int32_t n) {
    if (n <= 0)
        return 0;
    if (status == nullptr || keyDigests.size() < static_cast<size_t>(n) || rowDigests.size() < static_cast<size_t>(n))
        return ERR_GENERAL_ERROR;
    const RVC_HELPER* h = HelperOf(cur);
    int first = 0;
    auto fail = [&](int32_t k, int rc) {
        status[k] = RVC_ROW_ERROR;
        if (first == 0)
            first = rc;
    };
    int prepared = ERR_GENERAL_ERROR;
    if (h != nullptr) {
        try {
            prepared = Prepare(h, UpdateText(cur->rowVersion));
        } catch (const std::bad_alloc&) {
            prepared = ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }
    for (int32_t k = 0; k < n; ++k) {
        if (status[k] != RVC_ROW_UPDATED)
            continue;
        if (prepared != 0) {
            fail(k, prepared);
            continue;
        }
        const size_t i = static_cast<size_t>(k);
        if (int rc = RunDigests(cur, h, {&rowDigests[i], &keyDigests[i]}); rc != 0) {
            fail(k, rc);
            continue;
        }
        int32_t touched = 0, got = 0;
        const int rc = AgentOf(h).DRV_GetProperty(h->helperStmt, OA_PROP_ROW_COUNT, &touched, sizeof touched, &got);
        if (rc != 0)
            fail(k, rc);
        else if (touched <= 0)
            fail(k, ERR_GENERAL_ERROR);   // the line went: the version is not recorded
    }
    if (h != nullptr) {
        if (int ended = EndTransaction(h, 0); ended != 0) {
            // Nothing of this operation is recorded.
            for (int32_t k = 0; k < n; ++k)
                if (status[k] == RVC_ROW_UPDATED)
                    fail(k, ended);
        }
    }
    if (first != 0)
        RVC_MoveErrors(cur);
    return first;
}

int RVC_CheckRows(SCS_STMT* cur, const DATASET& keyRows, const DATASET& rows, int32_t n, int16_t* status) {
    if (n <= 0)
        return 0;
    if (status == nullptr || n > keyRows.rowsUsed || n > rows.rowsUsed)
        return ERR_GENERAL_ERROR;
    constexpr int16_t kNew = 4;   // not recorded yet; never left in a status
    // Every row stays an error until its version is known to be read and written.
    std::fill(status, status + n, RVC_ROW_ERROR);
    const RVC_HELPER* h = HelperOf(cur);
    if (h == nullptr)
        return ERR_GENERAL_ERROR;
    int rc = 0;
    bool updatesWritten = false;
    try {
        std::vector<RVC_DIGEST> keys(static_cast<size_t>(n)), values(static_cast<size_t>(n));
        for (int32_t k = 0; k < n && rc == 0; ++k) {
            rc = RVC_RowDigest(keyRows, k, &keys[static_cast<size_t>(k)]);
            if (rc == 0)
                rc = RVC_RowDigest(rows, k, &values[static_cast<size_t>(k)]);
        }
        if (rc == 0)
            rc = Prepare(h, SelectText(cur->rowVersion));
        bool updated = false, fresh = false;
        std::string rowver;
        for (int32_t k = 0; k < n && rc == 0; ++k) {
            const size_t i = static_cast<size_t>(k);
            int lines = 0;
            rc = ReadVersion(cur, h, keys[i], &lines, &rowver);
            if (rc != 0)
                break;
            if (lines > 1) {
                LOG_MSG(LOG_ERR, "RVC_CheckRows: more than one line in KVRRVC for a key of cursor %s",
                        cur->rowVersion.hcurs);
                rc = ERR_GENERAL_ERROR;
                break;
            }
            if (lines == 0) {
                status[k] = kNew;
                fresh = true;
                continue;
            }
            char hex[kHexChars + 1];
            Hex(values[i], hex);
            const bool same = rowver.compare(0, kHexChars, hex) == 0;
            status[k] = same ? RVC_ROW_UNCHANGED : RVC_ROW_UPDATED;
            updated = updated || !same;
        }
        if (rc == 0 && updated) {
            rc = RVC_UpdateRows(cur, keys, values, status, n);
            updatesWritten = true;   // each row that failed is 5 already
        }
        if (rc == 0 && fresh) {
            rc = Prepare(h, InsertText(cur->rowVersion));
            for (int32_t k = 0; k < n && rc == 0; ++k) {
                if (status[k] != kNew)
                    continue;
                status[k] = RVC_ROW_ERROR;
                const size_t i = static_cast<size_t>(k);
                rc = RunDigests(cur, h, {&keys[i], &values[i]});
                if (rc == 0)
                    status[k] = RVC_ROW_UNCHANGED;
            }
        }
    } catch (const std::bad_alloc&) {
        rc = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    // The reads end their snapshot too, so that the next check sees other users' lines.
    if (int ended = EndTransaction(h, 0); ended != 0 && rc == 0) {
        rc = ended;
        std::fill(status, status + n, RVC_ROW_ERROR);
    }
    if (rc != 0) {
        // A row not yet recorded, or found changed without the new version written, was
        // not seen through: it is an error, never "new" or "updated".
        for (int32_t k = 0; k < n; ++k)
            if (status[k] == kNew || (status[k] == RVC_ROW_UPDATED && !updatesWritten))
                status[k] = RVC_ROW_ERROR;
        RVC_MoveErrors(cur);
    }
    return rc;
}

void RVC_ConnectionClosing(uint32_t agentConn) {
    std::vector<std::unique_ptr<RVC_HELPER>> closing;
    {
        std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
        std::list<std::unique_ptr<RVC_HELPER>>& helpers = Helpers();
        for (auto it = helpers.begin(); it != helpers.end();) {
            if ((*it)->agentConn != agentConn) {
                ++it;
                continue;
            }
            for (RVC_STATE* s : (*it)->users) {
                s->helper = nullptr;
                s->helperStmt = 0;
            }
            (*it)->users.clear();
            try {
                closing.push_back(std::move(*it));
            } catch (const std::bad_alloc&) {
                // Not closed now: it goes with the process.
                ++it;
                continue;
            }
            it = helpers.erase(it);
        }
    }
    for (const auto& h : closing) {
        const OA_OPTABLE& agent = AgentOf(h.get());
        oa_ErrClearOf(h->helperStmt);
        const std::string text = std::string("DELETE FROM KVRRVC WHERE HCONN = ") + Quoted(h->hconn);
        if (agent.DRV_Prepare(h->helperStmt, text.c_str()) == 0) {
            agent.DRV_SetParamValues(h->helperStmt, nullptr);
            if (agent.DRV_SetParamDescs != nullptr)
                agent.DRV_SetParamDescs(h->helperStmt, 0, nullptr);
            if (EndTransaction(h.get(), agent.DRV_Execute(h->helperStmt)) != 0)
                LOG_MSG(LOG_DEBUG, "RVC_ConnectionClosing: the lines of %s could not be deleted", h->hconn);
        }
        Close(*h);
    }
}

std::vector<RVC_HELPER_INFO> RVC_HelpersOf(uint32_t agentConn) {
    std::vector<RVC_HELPER_INFO> out;
    std::lock_guard<std::recursive_mutex> guard(scs_ConnListLock());
    for (const auto& h : Helpers())
        if (h->agentConn == agentConn)
            out.push_back({h->helperConn, h->helperStmt, static_cast<int32_t>(h->users.size())});
    return out;
}
