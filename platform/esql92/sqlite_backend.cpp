// The SQLite back-end of the ESQL-92 client stand-in: the process-wide registry of named
// connections and the current one, implicit transactions, and cursors keyed by identity with
// prepare, describe, open, execute, column-wise block fetch and close.
//
// Locks: the registry lock guards names, serials and the current connection and is never held
// while SQLite runs; each connection's own lock serialises the calls on it.
//
// Lock waits: every file runs in WAL mode, where only a writer waits, for the one write
// transaction of the file. When the holder is another connection of this process, waiting is
// worse than useless: the driver makes every call of the process under one lock, so the holder
// cannot commit while this connection waits for it. So the busy handler answers the lock
// conflict (SQLITE_BUSY, 40001) at once when a connection of the registry on the same file
// holds a write transaction, and waits up to the busy timeout only for other processes. Each
// connection publishes its transaction state in an atomic when a call on it ends, so that the
// handler never needs another connection's lock (its owner may be the one waiting); the handler
// takes the registry lock only, which nobody holds while SQLite runs. A commit or rollback
// publishes the end before it runs: a writer meeting the lock meanwhile waits rather than
// giving up. SQLite answers SQLITE_BUSY to the connect-time set-up (the creation of the file,
// the switch to WAL) without calling the busy handler; the set-up retries on its own, within
// the same timeout.
#include <strings.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/esql92/sqlite_internal.h"

namespace esql::lite {

namespace {

// A connection keeps at most this many compiled statements; the least recently used cursors
// with no row left to deliver (closed, or open at their end) give theirs up and compile again
// on their next use.
constexpr size_t kMaxCompiled = 128;
// ... and at most this many cursor records. The agent never frees a cursor: every prepare
// sets one up under a new identity and leaves the old one behind, so without a limit every
// SQLExecDirect of a long-lived connection would leave a record behind. Past the limit the
// least recently used records go, those with no row left first; a cursor still in use by its
// statement is set up again by the agent when its handle answers 34000.
constexpr size_t kMaxCursors = 4096;
constexpr int kBusyTimeoutMs = 5000;
// The sleeps between attempts to take a lock, as SQLite's own busy timeout makes them: short
// ones first, for a holder about to finish, then the last one again and again.
constexpr int kLockRetryDelaysMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
constexpr uint32_t kParamLength = ESQL_VARCHAR_MAX;

// The file is SQLite's main database, renamed to the server's schema.
const char kMainSchema[] = "PUB";

using Identity = std::array<unsigned char, ESQL_IDENTITY_SIZE>;

struct IdentityHash {
    size_t operator()(const Identity& id) const {
        uint64_t a, b;
        std::memcpy(&a, id.data(), 8);
        std::memcpy(&b, id.data() + 8, 8);
        return static_cast<size_t>(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};

struct Cursor {
    uint32_t serial = 0;
    Identity identity{};
    std::string text;          // as set by tpe_set_cursor
    std::string name;
    Translation tr;            // of compiledText
    std::string compiledText;  // the text that tr and the description belong to
    sqlite3_stmt* stmt = nullptr;
    bool prepared = false;     // tpe_sqlprepare ran for the current text
    std::vector<ColumnDesc> columns;
    std::vector<ColumnDesc> params;
    // The text a parameter's value was made into (a date's literal form, a NUMERIC's
    // digits, UTF-8 of ISO-8859-1 text), one per marker: it lives until the next run binds
    // the markers again, so that SQLite needs no copy of it.
    std::vector<std::string> paramText;
    std::vector<InputLane> lanes;   // how each marker's column is read, chosen at each run
    // The output binding the last fetch checked, kept while the SQLDA and its generation
    // stay and the cursor is not described again: each column's target and lane. A fetch
    // then starts without a choice or an allocation.
    const PRO_SQLDA* fetchSqlda = nullptr;
    uint64_t fetchGeneration = 0;
    std::vector<OutColumn> fetchCols;
    std::vector<PutLane> fetchLanes;
    std::string latin1;   // a fetched text made ISO-8859-1, its room kept from row to row
    PRO_SQLDA* declared = nullptr;
    bool open = false;
    bool rowReady = false;     // open: the statement stands on a row not yet delivered
    std::list<Cursor*>::iterator lru;
    std::list<Cursor*>::iterator compiledLru;   // valid while stmt is set

    ~Cursor() { sqlite3_finalize(stmt); }
};

struct Connection {
    uint64_t serial = 0;
    std::string name;
    std::string user;
    std::string path;
    std::string file;          // SQLite's full path of the file; empty for a memory database
    sqlite3* db = nullptr;
    // The transaction state of the file (SQLITE_TXN_*) as of the end of the last call, for
    // the busy handlers of other connections.
    std::atomic<int> txnState{SQLITE_TXN_NONE};
    std::mutex mu;
    bool closed = false;
    int level = 1;
    bool abortMarked = false;
    bool latin1 = false;       // the client's code page is ISO-8859-1, not UTF-8
    int64_t catalogVersion = -1;   // schema version the system catalog was built for
    uint32_t nextCursor = 1;
    std::unordered_map<uint32_t, std::unique_ptr<Cursor>> cursors;
    std::unordered_map<Identity, Cursor*, IdentityHash> byIdentity;
    std::list<Cursor*> lru;    // most recently used first
    // The cursors that hold a compiled statement, most recently used first: the cache's
    // trim walks these alone, not the records that gave theirs up.
    std::list<Cursor*> compiledLru;
    // Values kept in one form (storedFormExpr): a check marked the row being written
    // (marked), the update hook took its rowid (unformed), and after the step the row is
    // given the form by its table's statement (formers, made at first need; forgotten at
    // every statement that may change a schema).
    // A statement may write millions of rows: each is its rowid and the index of its table
    // among the tables the step wrote (unformedTables), not its names.
    struct Table {
        std::string schema, table;
    };
    struct Unformed {
        uint32_t table;
        int64_t rowid;
    };
    bool marked = false;
    std::vector<Table> unformedTables;
    std::vector<Unformed> unformed;
    std::unordered_map<std::string, sqlite3_stmt*> formers;

    void forgetFormers() {
        for (auto& [table, stmt] : formers)
            sqlite3_finalize(stmt);
        formers.clear();
    }
    void closeAll() {
        forgetFormers();
        lru.clear();
        compiledLru.clear();
        byIdentity.clear();
        cursors.clear();
        if (db) {
            sqlite3_close_v2(db);
            db = nullptr;
        }
        closed = true;
    }
    ~Connection() { closeAll(); }
};

struct Registry {
    std::mutex mu;
    uint64_t nextSerial = 1;
    std::unordered_map<std::string, std::shared_ptr<Connection>> byName;
    std::unordered_map<uint64_t, std::shared_ptr<Connection>> bySerial;
    std::shared_ptr<Connection> current;
};

// Never destroyed: a disconnect from another library's static destructor stays safe.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// Handles: the connection serial with a kind tag, and for cursors the cursor serial too.
enum : uintptr_t { kTagDb = 1, kTagTm = 2, kTagCursor = 3 };

ESQL_DBHDL dbHandle(uint64_t serial) { return reinterpret_cast<ESQL_DBHDL>((serial << 2) | kTagDb); }
ESQL_TMHDL tmHandle(uint64_t serial) { return reinterpret_cast<ESQL_TMHDL>((serial << 2) | kTagTm); }
ESQL_CURHDL cursorHandle(uint64_t conn, uint32_t cursor) {
    return reinterpret_cast<ESQL_CURHDL>((conn << 34) | (static_cast<uint64_t>(cursor) << 2) | kTagCursor);
}

std::shared_ptr<Connection> findBySerial(uint64_t serial) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    auto it = r.bySerial.find(serial);
    return it == r.bySerial.end() ? nullptr : it->second;
}

// Called with the connection's lock held, after SQLite ran on it.
void publishTxnState(Connection& c) {
    c.txnState.store(c.db ? sqlite3_txn_state(c.db, kMainSchema) : SQLITE_TXN_NONE);
}

// A connection with its lock held for one call; the call's transaction state is published
// when it ends.
struct Held {
    std::shared_ptr<Connection> conn;
    std::unique_lock<std::mutex> lock;

    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (conn && lock.owns_lock())
            publishTxnState(*conn);
    }
};

// Whether another connection of this process holds a write transaction on c's file. Takes
// the registry lock: the caller may be inside SQLite, holding c's lock only.
bool writerInThisProcess(const Connection& c) {
    if (c.file.empty())
        return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    for (const auto& [serial, other] : r.bySerial)
        if (other.get() != &c && other->txnState.load() == SQLITE_TXN_WRITE && other->file == c.file)
            return true;
    return false;
}

// SQLite's busy handler of every connection (arg: the Connection): gives up at once on a
// holder in this process, else sleeps before attempt count + 1 while the busy timeout lasts.
// SQLite starts count at 0 for each statement step.
int onBusy(void* arg, int count) {
    const auto& c = *static_cast<const Connection*>(arg);
    if (writerInThisProcess(c))
        return 0;
    constexpr int kSteps = static_cast<int>(std::size(kLockRetryDelaysMs));
    int step = std::min(count, kSteps - 1);
    long long waited = 0;
    for (int i = 0; i < step; ++i)
        waited += kLockRetryDelaysMs[i];
    waited += static_cast<long long>(count - step) * kLockRetryDelaysMs[kSteps - 1];
    long long delay = std::min<long long>(kLockRetryDelaysMs[step], kBusyTimeoutMs - waited);
    if (delay <= 0)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return 1;
}

// Runs one step of the connect-time set-up (answers SQLite's result code), again after a
// short sleep while it answers that the file is locked, until the busy timeout runs out.
// SQLite gives that answer to the creation of the file and to the switch to WAL of a file
// that other processes open at the same time, without calling the busy handler.
template <typename Step>
int retryWhileLocked(const Connection& c, Step step) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (size_t attempt = 0;; ++attempt) {
        int rc = step();
        int primary = rc & 0xFF;
        if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
            return rc;
        auto delay = std::chrono::milliseconds(
            kLockRetryDelaysMs[std::min(attempt, std::size(kLockRetryDelaysMs) - 1)]);
        if (std::chrono::steady_clock::now() + delay > deadline || writerInThisProcess(c))
            return rc;
        std::this_thread::sleep_for(delay);
    }
}

bool holdConnection(uint64_t serial, Held& h, Outcome& o, const char* what) {
    h.conn = findBySerial(serial);
    if (h.conn) {
        h.lock = std::unique_lock<std::mutex>(h.conn->mu);
        if (!h.conn->closed) {
            o.owner = h.conn->serial;
            o.clientLatin1 = h.conn->latin1;
            return true;
        }
        h.lock.unlock();
        h.conn.reset();
    }
    failWith(o, ESQL_ERR_NO_CONNECTION, std::string("invalid ") + what + ": the connection does not exist");
    return false;
}

bool holdByHandles(ESQL_TMHDL tm, ESQL_DBHDL db, Held& h, Outcome& o) {
    auto d = reinterpret_cast<uintptr_t>(db);
    auto t = reinterpret_cast<uintptr_t>(tm);
    if ((d & 3) != kTagDb || d == kTagDb) {
        failWith(o, ESQL_ERR_NO_CONNECTION, "invalid database handle");
        return false;
    }
    if ((t & 3) != kTagTm || (t >> 2) != (d >> 2)) {
        failWith(o, ESQL_ERR_NO_CONNECTION, "invalid transaction handle");
        return false;
    }
    return holdConnection(d >> 2, h, o, "database handle");
}

void touch(Connection& c, Cursor& k) {
    c.lru.splice(c.lru.begin(), c.lru, k.lru);
    if (k.stmt)
        c.compiledLru.splice(c.compiledLru.begin(), c.compiledLru, k.compiledLru);
}

Cursor* findCursor(Connection& c, ESQL_CURHDL handle, Outcome& o) {
    auto v = reinterpret_cast<uintptr_t>(handle);
    if ((v & 3) == kTagCursor && (v >> 34) == c.serial) {
        auto it = c.cursors.find(static_cast<uint32_t>((v >> 2) & 0xFFFFFFFFu));
        if (it != c.cursors.end()) {
            touch(c, *it->second);
            return it->second.get();
        }
    }
    failWith(o, ESQL_ERR_CURSOR_HANDLE, "invalid cursor handle");
    return nullptr;
}

bool holdCursor(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, Held& h, Cursor*& k, Outcome& o) {
    if (!holdByHandles(tm, db, h, o))
        return false;
    k = findCursor(*h.conn, cursor, o);
    return k != nullptr;
}

// Gives up the cursor's compiled statement; the cursor keeps its state, so an open cursor at
// its end still answers that no row is left.
void dropCompiled(Connection& c, Cursor& k) {
    if (k.stmt) {
        sqlite3_finalize(k.stmt);
        k.stmt = nullptr;
        c.compiledLru.erase(k.compiledLru);
    }
}

void finalizeStatement(Connection& c, Cursor& k) {
    dropCompiled(c, k);
    k.open = false;
    k.rowReady = false;
}

void closeCursor(Cursor& k) {
    if (k.stmt) {
        sqlite3_reset(k.stmt);
        sqlite3_clear_bindings(k.stmt);
    }
    k.open = false;
    k.rowReady = false;
}

// Whether the cursor stands on a row still to deliver: only then does its statement hold
// state that compiling again would lose.
bool hasRowsLeft(const Cursor& k) { return k.open && k.rowReady; }

// Keeps the connection within its limits of compiled statements and cursor records by
// releasing the least recently used cursors that have no row left to deliver. `inHand` is
// the cursor of the running call: it keeps its statement and its record whatever the counts
// say, or the call would go on with a statement it has just given up.
void trim(Connection& c, const Cursor* inHand) {
    // From the least recently used end; `after` (already passed, or the end) stays valid
    // while the element before it is erased.
    for (auto after = c.compiledLru.end();
         after != c.compiledLru.begin() && c.compiledLru.size() > kMaxCompiled;) {
        Cursor* k = *std::prev(after);
        if (k != inHand && !hasRowsLeft(*k))
            dropCompiled(c, *k);
        else
            --after;
    }
    if (c.cursors.size() <= kMaxCursors)
        return;
    auto forget = [&](bool rowsLeftToo) {
        for (auto after = c.lru.end(); after != c.lru.begin() && c.cursors.size() > kMaxCursors;) {
            Cursor* k = *std::prev(after);
            if (k == inHand || (!rowsLeftToo && hasRowsLeft(*k))) {
                --after;
                continue;
            }
            dropCompiled(c, *k);
            c.lru.erase(k->lru);
            c.byIdentity.erase(k->identity);
            c.cursors.erase(k->serial);
        }
    };
    forget(false);
    // Only cursors left open mid-way remain: the one unused longest was abandoned by its
    // statement (a new prepare while it stood open after an end of transaction).
    forget(true);
}

// Whether the connection's file was deleted or replaced under it: SQLite goes on writing to
// the file it holds open, where no later connection will ever read the writes.
bool fileGone(Connection& c) {
    if (c.file.empty())
        return false;
    int moved = 0;
    return sqlite3_file_control(c.db, kMainSchema, SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0;
}

bool execSql(Connection& c, const char* sql, Outcome& o) {
    int rc = sqlite3_exec(c.db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        failFromSqlite(o, c.db, rc);
        return false;
    }
    return true;
}

// esql_mark(x): 1, noting that the row being written holds a value to give its stored form
// when x is true. Registered as deterministic, as SQLite asks of what a check calls: its
// argument differs from row to row, so no call is ever left out.
void fnMark(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_int(argv[0]) != 0)
        static_cast<Connection*>(sqlite3_user_data(ctx))->marked = true;
    sqlite3_result_int(ctx, 1);
}

// SQLite's update hook: the row just written is the one the checks marked (a mark left by a
// row that was not written after all gives the next row a rewrite it does not need).
void onRowWritten(void* arg, int op, const char* schema, const char* table, sqlite3_int64 rowid) {
    auto& c = *static_cast<Connection*>(arg);
    if (!c.marked || op == SQLITE_DELETE)
        return;
    c.marked = false;
    auto& tables = c.unformedTables;
    size_t i = tables.size();
    while (i > 0 && (tables[i - 1].table != table || tables[i - 1].schema != schema))
        --i;
    if (i == 0) {
        tables.push_back({schema, table});
        i = tables.size();
    }
    c.unformed.push_back({static_cast<uint32_t>(i - 1), rowid});
}

// The statement that gives every value of a row of the table its stored form; null when no
// column of the table has one. False after posting.
bool formerOf(Connection& c, const Connection::Table& u, sqlite3_stmt*& out, Outcome& o) {
    std::string key = u.schema + '.' + u.table;
    auto it = c.formers.find(key);
    if (it != c.formers.end()) {
        out = it->second;
        return true;
    }
    auto quote = [](const std::string& name) {
        std::string q = "\"";
        for (char ch : name)
            q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        return q + "\"";
    };
    std::string sets;
    sqlite3_stmt* info = nullptr;
    int rc = sqlite3_prepare_v2(c.db, "SELECT name, type FROM pragma_table_info(?1, ?2)", -1, &info, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(info, 1, u.table.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(info, 2, u.schema.c_str(), -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(info)) == SQLITE_ROW) {
            auto text = [&](int i) {
                const unsigned char* p = sqlite3_column_text(info, i);
                return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
            };
            std::string col = quote(text(0));
            std::string expr = storedFormExpr(text(1), col);
            if (!expr.empty())
                sets += (sets.empty() ? "" : ", ") + col + " = " + expr;
        }
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    sqlite3_finalize(info);
    out = nullptr;
    if (rc == SQLITE_OK && !sets.empty()) {
        std::string sql = "UPDATE " + quote(u.schema) + "." + quote(u.table) + " SET " + sets + " WHERE rowid = ?";
        rc = sqlite3_prepare_v3(c.db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &out, nullptr);
    }
    if (rc != SQLITE_OK) {
        failFromSqlite(o, c.db, rc);
        return false;
    }
    c.formers[key] = out;
    return true;
}

// Gives the rows the last step wrote with a value not in its stored form that form. False
// after posting.
bool formRows(Connection& c, Outcome& o) {
    c.marked = false;
    if (c.unformed.empty())
        return true;
    std::vector<Connection::Unformed> rows;
    std::vector<Connection::Table> tables;
    rows.swap(c.unformed);
    tables.swap(c.unformedTables);
    for (const auto& u : rows) {
        sqlite3_stmt* former = nullptr;
        if (!formerOf(c, tables[u.table], former, o))
            return false;
        if (former == nullptr)
            continue;
        sqlite3_bind_int64(former, 1, u.rowid);
        int rc = sqlite3_step(former);
        sqlite3_reset(former);
        if (rc != SQLITE_DONE) {
            failFromSqlite(o, c.db, rc);
            return false;
        }
    }
    // The rewrites are written rows too, but none of them was marked.
    c.unformed.clear();
    c.unformedTables.clear();
    return true;
}

bool beginIfNeeded(Connection& c, Outcome& o) {
    if (!sqlite3_get_autocommit(c.db))
        return true;
    return execSql(c, "BEGIN", o);
}

bool compile(Connection& c, Cursor& k, Outcome& o) {
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(c.db, k.tr.sql.c_str(), static_cast<int>(k.tr.sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK) {
        failFromSqlite(o, c.db, rc);
        return false;
    }
    if (stmt == nullptr) {
        failWith(o, ESQL_ERR_STATEMENT, "the statement text is empty");
        return false;
    }
    // One statement per text: only blanks, comments and semicolons may follow.
    if (tail && !tokenize(tail).empty()) {
        bool onlySemicolons = true;
        for (const Token& t : tokenize(tail))
            if (!(t.kind == Token::Punct && t.len == 1 && tail[t.pos] == ';'))
                onlySemicolons = false;
        if (!onlySemicolons) {
            sqlite3_finalize(stmt);
            failWith(o, ESQL_ERR_STATEMENT, "the text holds more than one statement");
            return false;
        }
    }
    k.stmt = stmt;
    c.compiledLru.push_front(&k);
    k.compiledLru = c.compiledLru.begin();
    return true;
}

// A prepared cursor whose statement was given up compiles again, and must still describe the
// same columns (its tables may have changed meanwhile).
bool ensureCompiled(Connection& c, Cursor& k, Outcome& o) {
    if (!k.prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "the cursor is not prepared");
        return false;
    }
    if (k.stmt == nullptr) {
        if (!compile(c, k, o))
            return false;
        trim(c, &k);
    }
    if (static_cast<size_t>(sqlite3_column_count(k.stmt)) != k.columns.size()) {
        failWith(o, ESQL_ERR_GENERAL, "the tables of the statement changed; prepare it again");
        return false;
    }
    return true;
}

// The parameter area of one run: it has a column for every marker, and each column's lane
// is chosen once for all its rows. Posts 07001 when columns are missing.
bool planBinding(Cursor& k, PRO_SQLDA* in, bool latin1Client, Outcome& o) {
    size_t n = k.params.size();
    if (n == 0)
        return true;
    size_t given = in ? sqldaAllocated(in) : 0;
    if (given < n) {
        failWith(o, ESQL_ERR_PARAMETERS, "the statement has " + std::to_string(n) +
                                             " parameter markers and " + std::to_string(given) +
                                             " values are bound");
        return false;
    }
    k.paramText.resize(n);
    k.lanes.resize(n);
    const SqldaColumn* cols = sqldaColumns(in);
    for (size_t p = 0; p < n; ++p)
        k.lanes[p] = inputLane(cols[p], latin1Client);
    return true;
}

// Binds parameter row `row` of the area planBinding checked. How long the bound values
// must live: an open cursor reads them at every later step, an execution only during its
// own steps. Both run before the markers are bound again, and neither the SQLDA's buffers
// nor the cursor's parameter texts change meanwhile: text and bytes are bound without a
// copy, except the SQLDA's for a cursor, whose buffers the caller may reuse while it is
// open.
enum class BoundFor { Cursor, Execution };

bool bindRow(Connection& c, Cursor& k, PRO_SQLDA* in, size_t row, BoundFor use, Outcome& o) {
    const size_t n = k.params.size();
    if (n == 0)
        return true;
    const SqldaColumn* cols = sqldaColumns(in);
    for (size_t p = 0; p < n; ++p) {
        std::string& text = k.paramText[p];
        Value v;
        if (!readInput(k.lanes[p], cols[p], row, static_cast<uint32_t>(p + 1), v, text, o))
            return false;
        // The text lanes arrive in UTF-8 already (checked); text getValue reads is made so
        // here.
        if (k.lanes[p] == InputLane::Checked && v.kind == Value::Text && hasHighBytes({v.p, v.n})) {
            if (c.latin1) {
                text = utf8FromLatin1({v.p, v.n});
                v = Value::text(text.data(), text.size());
            } else if (!validUtf8({v.p, v.n})) {
                failBadText(o, "parameter " + std::to_string(p + 1));
                return false;
            }
        }
        int idx = static_cast<int>(p + 1);
        const bool inSqlda = v.p != text.data();
        const sqlite3_destructor_type keep =
            use == BoundFor::Cursor && inSqlda ? SQLITE_TRANSIENT : SQLITE_STATIC;
        int rc = SQLITE_OK;
        switch (v.kind) {
        case Value::Null: rc = sqlite3_bind_null(k.stmt, idx); break;
        case Value::Int: rc = sqlite3_bind_int64(k.stmt, idx, v.i); break;
        case Value::Real: rc = sqlite3_bind_double(k.stmt, idx, v.d); break;
        case Value::Text: rc = sqlite3_bind_text64(k.stmt, idx, v.p, v.n, keep, SQLITE_UTF8); break;
        case Value::Blob: rc = sqlite3_bind_blob64(k.stmt, idx, v.p, v.n, keep); break;
        }
        if (rc != SQLITE_OK) {
            failFromSqlite(o, c.db, rc);
            return false;
        }
    }
    return true;
}

Value columnValue(sqlite3_stmt* stmt, int i) {
    // The column's value is looked up once and read through the sqlite3_value calls: each
    // sqlite3_column_* call looks the column up again. The value is unprotected, which is
    // safe here: the connection is opened without SQLite's mutex and the caller holds the
    // connection's own lock.
    sqlite3_value* v = sqlite3_column_value(stmt, i);
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return Value::integer(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return Value::real(sqlite3_value_double(v));
    case SQLITE_TEXT: {
        auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return Value::text(p, static_cast<size_t>(sqlite3_value_bytes(v)));
    }
    case SQLITE_BLOB: {
        const void* p = sqlite3_value_blob(v);
        return Value::blob(p, static_cast<size_t>(sqlite3_value_bytes(v)));
    }
    default: return Value::null();
    }
}

// ---------------------------------------------------------------------------------------
// The back-end's calls.

void connect(const char* target, const char* name, const char* user, const char* password, Outcome& o) {
    (void)password;
    if (name == nullptr || target == nullptr) {
        failWith(o, ESQL_ERR_NULL_ARGUMENT, name == nullptr ? "null connection name" : "null connect target");
        return;
    }
    // progress:T:<host>:<service>:<db>; the database name may itself hold ':'.
    std::string_view t(target);
    std::vector<std::string_view> parts;
    for (int k = 0; k < 4; ++k) {
        size_t colon = t.find(':');
        if (colon == std::string_view::npos)
            break;
        parts.push_back(t.substr(0, colon));
        t.remove_prefix(colon + 1);
    }
    auto equalsNoCase = [](std::string_view a, const char* b) {
        return a.size() == std::strlen(b) &&
               std::equal(a.begin(), a.end(), b, [](char x, char y) { return std::tolower(x) == y; });
    };
    if (parts.size() != 4 || !equalsNoCase(parts[0], "progress") || !equalsNoCase(parts[1], "t")) {
        failWith(o, ESQL_ERR_CONNECT, std::string("bad connect target '") + target +
                                          "': expected progress:T:<host>:<service>:<database>");
        return;
    }
    if (t.empty()) {
        failWith(o, ESQL_ERR_CONNECT, std::string("no database named in the connect target '") + target + "'");
        return;
    }
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mu);
        if (r.byName.count(name)) {
            failWith(o, ESQL_ERR_NAME_IN_USE, std::string("connection name ") + name + " is already in use");
            return;
        }
    }
    auto conn = std::make_shared<Connection>();
    conn->name = name;
    conn->user = user ? user : "";
    conn->path = std::string(t);
    int rc = sqlite3_open_v2(conn->path.c_str(), &conn->db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = conn->db ? sqlite3_errmsg(conn->db) : "out of memory";
        int ext = conn->db ? sqlite3_extended_errcode(conn->db) : rc;
        failFromSqlite(o, ext, ("cannot open database " + conn->path + ": " + msg).c_str(), true);
        return;
    }
    sqlite3_extended_result_codes(conn->db, 1);
    sqlite3_db_config(conn->db, SQLITE_DBCONFIG_MAINDBNAME, kMainSchema);
    const char* file = sqlite3_db_filename(conn->db, kMainSchema);
    conn->file = file ? file : "";
    sqlite3_busy_handler(conn->db, onBusy, conn.get());
    // The journal mode is read back so that a file that is not a database fails here. The
    // pragma reads the schema too, so the set-up after it touches only the functions and the
    // attached in-memory catalog. synchronous=FULL syncs the log at every commit: with NORMAL
    // a commit answered as done is lost when the machine loses power before a checkpoint.
    rc = retryWhileLocked(*conn, [&] {
        return sqlite3_exec(conn->db,
                            "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;"
                            " PRAGMA temp_store=MEMORY;",
                            nullptr, nullptr, nullptr);
    });
    std::string error;
    if (rc != SQLITE_OK) {
        std::string msg = "cannot open database " + conn->path + ": " + sqlite3_errmsg(conn->db);
        failFromSqlite(o, sqlite3_extended_errcode(conn->db), msg.c_str(), true);
        return;
    }
    std::string dbName = conn->path;
    size_t slash = dbName.find_last_of('/');
    if (slash != std::string::npos)
        dbName.erase(0, slash + 1);
    size_t dot = dbName.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        dbName.erase(dot);
    if (!registerServerFunctions(conn->db, conn->user, dbName, error) ||
        !attachCatalog(conn->db, error)) {
        failWith(o, ESQL_ERR_CONNECT, "cannot set up database " + conn->path + ": " + error);
        return;
    }
    if (sqlite3_create_function_v2(conn->db, "esql_mark", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                   conn.get(), fnMark, nullptr, nullptr, nullptr) != SQLITE_OK) {
        failWith(o, ESQL_ERR_CONNECT, "cannot set up database " + conn->path + ": " + sqlite3_errmsg(conn->db));
        return;
    }
    if (!registerFormChecks(conn->db, &conn->marked, error)) {
        failWith(o, ESQL_ERR_CONNECT, "cannot set up database " + conn->path + ": " + error);
        return;
    }
    sqlite3_update_hook(conn->db, onRowWritten, conn.get());
    // Every rollback, whoever asked for it (an end of transaction, a failed commit, SQLite
    // itself after some failures), takes the catalog rows written in its transaction along.
    sqlite3_rollback_hook(conn->db, [](void* p) { static_cast<Connection*>(p)->catalogVersion = -1; }, conn.get());
    std::lock_guard<std::mutex> lock(r.mu);
    if (r.byName.count(name)) {
        failWith(o, ESQL_ERR_NAME_IN_USE, std::string("connection name ") + name + " is already in use");
        return;
    }
    conn->serial = r.nextSerial++;
    r.byName[conn->name] = conn;
    r.bySerial[conn->serial] = conn;
    r.current = conn;
}

ESQL_DBHDL currentDb() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.current ? dbHandle(r.current->serial) : nullptr;
}

ESQL_TMHDL currentTm() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.current ? tmHandle(r.current->serial) : nullptr;
}

void disconnect(int scope, const char* name, Outcome& o) {
    std::vector<std::shared_ptr<Connection>> gone;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mu);
        switch (scope) {
        case ESQL_DISCONNECT_NAMED: {
            if (name == nullptr) {
                failWith(o, ESQL_ERR_NULL_ARGUMENT, "null connection name");
                return;
            }
            auto it = r.byName.find(name);
            if (it == r.byName.end()) {
                failWith(o, ESQL_ERR_NO_CONNECTION, std::string("connection ") + name + " does not exist");
                return;
            }
            gone.push_back(it->second);
            break;
        }
        case ESQL_DISCONNECT_CURRENT:
            if (!r.current) {
                failWith(o, ESQL_ERR_NO_CONNECTION, "there is no current connection");
                return;
            }
            gone.push_back(r.current);
            break;
        case ESQL_DISCONNECT_ALL:
            for (auto& [serial, conn] : r.bySerial)
                gone.push_back(conn);
            break;
        default:
            failWith(o, ESQL_ERR_GENERAL, "unknown disconnect scope " + std::to_string(scope));
            return;
        }
        for (auto& conn : gone) {
            r.byName.erase(conn->name);
            r.bySerial.erase(conn->serial);
            if (r.current == conn)
                r.current.reset();
        }
    }
    for (auto& conn : gone) {
        std::lock_guard<std::mutex> lock(conn->mu);
        // Statements first, so that the rollback meets no running statement.
        conn->lru.clear();
        conn->compiledLru.clear();
        conn->byIdentity.clear();
        conn->cursors.clear();
        if (conn->db && !sqlite3_get_autocommit(conn->db))
            sqlite3_exec(conn->db, "ROLLBACK", nullptr, nullptr, nullptr);
        conn->closeAll();
        dropPendingMessages(conn->serial);
    }
}

void setConnection(const char* name, Outcome& o) {
    if (name == nullptr) {
        failWith(o, ESQL_ERR_NULL_ARGUMENT, "null connection name");
        return;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    // The driver names the connection before nearly every call, mostly the current one.
    if (r.current && r.current->name == name)
        return;
    auto it = r.byName.find(name);
    if (it == r.byName.end()) {
        failWith(o, ESQL_ERR_NO_CONNECTION, std::string("connection ") + name + " does not exist");
        return;
    }
    r.current = it->second;
}

void endTrans(ESQL_TMHDL tm, Outcome& o) {
    auto t = reinterpret_cast<uintptr_t>(tm);
    Held h;
    if ((t & 3) != kTagTm || t == kTagTm) {
        failWith(o, ESQL_ERR_NO_CONNECTION, "invalid transaction handle");
        return;
    }
    if (!holdConnection(t >> 2, h, o, "transaction handle"))
        return;
    Connection& c = *h.conn;
    bool rollback = c.abortMarked;
    c.abortMarked = false;
    if (sqlite3_get_autocommit(c.db))
        return;
    // Published as ended first: a writer that meets the lock meanwhile waits for it.
    bool wrote = sqlite3_txn_state(c.db, kMainSchema) == SQLITE_TXN_WRITE;
    c.txnState.store(SQLITE_TXN_NONE);
    if (rollback) {
        execSql(c, "ROLLBACK", o);
        return;
    }
    if (wrote && fileGone(c)) {
        sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
        failWith(o, ESQL_ERR_DATABASE_GONE,
                 "the database file " + c.path + " was deleted or replaced; the transaction is rolled back");
        return;
    }
    if (execSql(c, "COMMIT", o))
        return;
    // A commit that failed (the busy timeout ran out) is reported and leaves nothing half
    // done: the transaction ends rolled back, so the next statement begins a new one.
    if (!sqlite3_get_autocommit(c.db))
        sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void markAbort(ESQL_TMHDL tm, Outcome& o) {
    auto t = reinterpret_cast<uintptr_t>(tm);
    Held h;
    if ((t & 3) != kTagTm || t == kTagTm) {
        failWith(o, ESQL_ERR_NO_CONNECTION, "invalid transaction handle");
        return;
    }
    if (holdConnection(t >> 2, h, o, "transaction handle"))
        h.conn->abortMarked = true;
}

std::shared_ptr<Connection> currentConnection() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.current;
}

void setLevel(int level, Outcome& o) {
    if (level < 0 || level > 3) {
        failWith(o, ESQL_ERR_LEVEL, "isolation level " + std::to_string(level) + " is not in 0..3");
        return;
    }
    auto conn = currentConnection();
    if (!conn) {
        failWith(o, ESQL_ERR_NO_CONNECTION, "there is no current connection");
        return;
    }
    Held h;
    if (holdConnection(conn->serial, h, o, "connection"))
        h.conn->level = level;
}

int getLevel() {
    auto conn = currentConnection();
    if (!conn)
        return -1;
    std::lock_guard<std::mutex> lock(conn->mu);
    return conn->closed ? -1 : conn->level;
}

void setCursor(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL* out, const unsigned char* identity, int kind,
               const char* text, Outcome& o) {
    (void)kind;
    Held h;
    if (!holdByHandles(tm, db, h, o))
        return;
    Connection& c = *h.conn;
    if (!c.latin1 && text != nullptr && hasHighBytes(text) && !validUtf8(text)) {
        failBadText(o, "the statement");
        return;
    }
    Identity id;
    std::memcpy(id.data(), identity, id.size());
    Cursor* k;
    auto it = c.byIdentity.find(id);
    if (it != c.byIdentity.end()) {
        k = it->second;
        touch(c, *k);
        closeCursor(*k);
    } else {
        if (c.nextCursor == 0) {
            failWith(o, ESQL_ERR_GENERAL, "no cursor serials left on this connection");
            return;
        }
        auto fresh = std::make_unique<Cursor>();
        k = fresh.get();
        k->serial = c.nextCursor++;
        k->identity = id;
        c.lru.push_front(k);
        k->lru = c.lru.begin();
        c.byIdentity[id] = k;
        c.cursors[k->serial] = std::move(fresh);
    }
    k->text = c.latin1 ? utf8FromLatin1(text) : text;
    k->prepared = false;
    k->declared = nullptr;
    *out = cursorHandle(c.serial, k->serial);
    trim(c, k);
}

void setCursorName(ESQL_CURHDL cursor, const char* name, Outcome& o) {
    auto v = reinterpret_cast<uintptr_t>(cursor);
    Held h;
    Outcome ignored;
    if ((v & 3) != kTagCursor || !holdConnection(v >> 34, h, ignored, "cursor handle")) {
        failWith(o, ESQL_ERR_CURSOR_HANDLE, "invalid cursor handle");
        return;
    }
    o.owner = h.conn->serial;
    if (Cursor* k = findCursor(*h.conn, cursor, o))
        k->name = name;
}

void prepare(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, Outcome& o) {
    Held h;
    Cursor* k;
    if (!holdCursor(tm, db, cursor, h, k, o))
        return;
    Connection& c = *h.conn;
    closeCursor(*k);
    k->prepared = false;
    // Set up again with the same text (after an end of transaction): keep the compiled work.
    if (k->compiledText == k->text && !k->compiledText.empty()) {
        k->prepared = true;
        if (ensureCompiled(c, *k, o))
            return;
        k->prepared = false;
        o = Outcome{};
        o.owner = c.serial;
        o.clientLatin1 = c.latin1;
    }
    finalizeStatement(c, *k);
    k->compiledText.clear();
    k->columns.clear();
    k->fetchSqlda = nullptr;
    k->params.clear();
    if (!translate(k->text, k->tr, o))
        return;
    if (!compile(c, *k, o))
        return;
    describeResult(c.db, k->stmt, k->tr, k->columns);
    int n = sqlite3_bind_parameter_count(k->stmt);
    ColumnDesc p = describeType(ESQL_VARCHAR, kParamLength);
    for (int i = 1; i <= n; ++i) {
        const char* pname = sqlite3_bind_parameter_name(k->stmt, i);
        p.name = pname ? pname + 1 : "";
        k->params.push_back(p);
    }
    k->compiledText = k->text;
    k->prepared = true;
    trim(c, k);
}

void describe(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* sqlda, bool input, Outcome& o) {
    Held h;
    Cursor* k;
    if (!holdCursor(tm, db, cursor, h, k, o))
        return;
    if (!k->prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "describe of a cursor that is not prepared");
        return;
    }
    const std::vector<ColumnDesc>& columns = input ? k->params : k->columns;
    std::vector<ColumnDesc> shown = columns;
    for (ColumnDesc& d : shown) {
        if (h.conn->latin1)
            d.name = latin1FromUtf8(d.name);
        // A text column counts characters: its element holds n of them in the client's code
        // page, a byte each in ISO-8859-1 and up to four in UTF-8, and the terminating NUL.
        else if (!input && (d.type == ESQL_VARCHAR || d.type == ESQL_CHARACTER))
            d.length = 4 * d.precision + 1;
    }
    fillSqlda(sqlda, shown);
}

void declare(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o) {
    Held h;
    Cursor* k;
    if (!holdCursor(tm, db, cursor, h, k, o))
        return;
    if (!k->prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "declare of a cursor that is not prepared");
        return;
    }
    k->declared = in;
}

// What open and execute share: the cursor is closed, compiled for its current text, has its
// parameter area (the declared one unless the call gives one) and runs in a transaction.
bool readyToRun(Connection& c, Cursor& k, PRO_SQLDA*& in, const char* whenOpen, Outcome& o) {
    if (k.open) {
        failWith(o, ESQL_ERR_CURSOR_STATE, whenOpen);
        return false;
    }
    if (!ensureCompiled(c, k, o))
        return false;
    if (in == nullptr)
        in = k.declared;
    if (!beginIfNeeded(c, o))
        return false;
    // The catalog is built inside the statement's transaction, so that it shows the schema
    // that transaction sees.
    if (k.tr.usesCatalog) {
        std::string error;
        if (int rc = refreshCatalog(c.db, c.catalogVersion, error); rc != SQLITE_OK) {
            failFromSqlite(o, rc, error.c_str(), false);
            return false;
        }
    }
    return true;
}

void open(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o) {
    Held h;
    Cursor* k;
    if (!holdCursor(tm, db, cursor, h, k, o))
        return;
    Connection& c = *h.conn;
    if (!readyToRun(c, *k, in, "the cursor is already open", o))
        return;
    if (!planBinding(*k, in, c.latin1, o) || !bindRow(c, *k, in, 0, BoundFor::Cursor, o)) {
        closeCursor(*k);
        return;
    }
    int rc = sqlite3_step(k->stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        failFromSqlite(o, c.db, rc);
        closeCursor(*k);
        return;
    }
    k->open = true;
    k->rowReady = rc == SQLITE_ROW;
}

void execute(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o) {
    Held h;
    Cursor* k;
    if (!holdCursor(tm, db, cursor, h, k, o))
        return;
    Connection& c = *h.conn;
    if (!readyToRun(c, *k, in, "execute of an open cursor", o))
        return;
    if (k->tr.kind == StatementKind::Other)
        c.forgetFormers();   // the statement may change what a table's columns are
    size_t rows = in ? sqldaRows(in) : 1;
    if (k->params.empty())
        rows = 1;
    if (!planBinding(*k, in, c.latin1, o))
        return;
    int64_t affected = 0;
    bool stopped = false;   // a row failed, its statement not reset
    for (size_t r = 0; r < rows; ++r) {
        if (!bindRow(c, *k, in, r, BoundFor::Execution, o)) {
            stopped = true;
            break;
        }
        int rc = sqlite3_step(k->stmt);
        while (rc == SQLITE_ROW && k->tr.kind != StatementKind::Query)
            rc = sqlite3_step(k->stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            failFromSqlite(o, c.db, rc);
            c.marked = false;
            c.unformed.clear();
            c.unformedTables.clear();
            // Named within the whole array when the area is a part of one.
            const uint64_t before = in != nullptr ? in->rowsBefore : 0;
            const uint64_t total = in != nullptr && in->rowsTotal != 0 ? in->rowsTotal : rows;
            if (total > 1)
                o.fail(o.code, o.messages.front().state,
                       "parameter row " + std::to_string(before + r + 1) + " of " + std::to_string(total) +
                           " failed; the rows before it took effect");
            stopped = true;
            break;
        }
        if (k->tr.kind == StatementKind::Dml)
            affected += sqlite3_changes64(c.db);
        if (!formRows(c, o)) {
            stopped = true;
            break;
        }
        sqlite3_reset(k->stmt);
    }
    // Every run ends reset (a failed row here, the others as they finish), but with the
    // bindings left as they are: no step reads them before every run has bound all the
    // markers again (bindRow), and clearing them was a fiftieth of a single-row insert.
    if (stopped)
        sqlite3_reset(k->stmt);
    k->open = false;
    k->rowReady = false;
    o.rows = affected;
}

// The cursor's fetch binding from the output SQLDA: checked and its lanes chosen when the
// SQLDA or its generation changed since the last fetch, else kept as it is.
bool bindFetch(Cursor& k, PRO_SQLDA* out, Outcome& o) {
    const uint64_t generation = sqldaGeneration(out);
    if (k.fetchSqlda == out && k.fetchGeneration == generation)
        return true;
    k.fetchSqlda = nullptr;
    const size_t ncols = k.columns.size();
    const SqldaColumn* sc = sqldaColumns(out);
    k.fetchCols.resize(ncols);
    k.fetchLanes.resize(ncols);
    for (size_t i = 0; i < ncols; ++i) {
        OutColumn& oc = k.fetchCols[i];
        oc = OutColumn{sc[i].type, sc[i].precision, sc[i].scale, sc[i].length, static_cast<char*>(sc[i].data),
                       sc[i].indicator, k.columns[i].type};
        if (!checkOutColumn(oc, static_cast<uint32_t>(i + 1), o))
            return false;
        k.fetchLanes[i] = putLaneFor(oc);
    }
    k.fetchSqlda = out;
    k.fetchGeneration = generation;
    return true;
}

void fetch(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* out, Outcome& o) {
    Held h;
    Cursor* k;
    if (!holdCursor(tm, db, cursor, h, k, o))
        return;
    Connection& c = *h.conn;
    if (!k->prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "fetch from a cursor that is not prepared");
        return;
    }
    if (!k->open) {
        failWith(o, ESQL_ERR_CURSOR_STATE, "fetch from a cursor that is not open");
        return;
    }
    size_t ncols = k->columns.size();
    if (sqldaAllocated(out) < ncols) {
        failWith(o, ESQL_ERR_BINDING, "the SQLDA holds " + std::to_string(sqldaAllocated(out)) +
                                          " columns and the cursor returns " + std::to_string(ncols));
        return;
    }
    if (!bindFetch(*k, out, o))
        return;
    const std::vector<OutColumn>& cols = k->fetchCols;
    const std::vector<PutLane>& lanes = k->fetchLanes;
    size_t want = sqldaRows(out);
    size_t row = 0;
    bool truncated = false;
    sqlite3_stmt* stmt = k->stmt;
    std::string& latin1 = k->latin1;
    while (row < want && k->rowReady) {
        for (size_t i = 0; i < ncols; ++i) {
            Value v = columnValue(stmt, static_cast<int>(i));
            if (c.latin1 && v.kind == Value::Text && hasHighBytes({v.p, v.n})) {
                latin1FromUtf8({v.p, v.n}, latin1);
                v = Value::text(latin1.data(), latin1.size());
            }
            if (lanes[i] != PutLane::None && putByLane(lanes[i], v, cols[i], row, truncated))
                continue;
            if (!putValue(v, cols[i], row, truncated, o)) {
                o.rows = static_cast<int64_t>(row);
                o.truncated = truncated;
                return;
            }
        }
        ++row;
        int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW)
            continue;
        k->rowReady = false;
        if (rc != SQLITE_DONE) {
            failFromSqlite(o, c.db, rc);
            o.rows = static_cast<int64_t>(row);
            return;
        }
    }
    o.rows = static_cast<int64_t>(row);
    o.truncated = truncated;
    if (!k->rowReady)
        o.code = ESQL_NOT_FOUND;
}

void close(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, Outcome& o) {
    Held h;
    Cursor* k;
    if (holdCursor(tm, db, cursor, h, k, o))
        closeCursor(*k);
}

void setCodePage(const char* name, Outcome& o) {
    bool latin1;
    if (strcasecmp(name, ESQL_CODEPAGE_UTF8) == 0) {
        latin1 = false;
    } else if (strcasecmp(name, ESQL_CODEPAGE_ISO8859_1) == 0) {
        latin1 = true;
    } else {
        failWith(o, ESQL_ERR_GENERAL, std::string("unknown client code page ") + name);
        return;
    }
    auto conn = currentConnection();
    if (!conn) {
        failWith(o, ESQL_ERR_NO_CONNECTION, "there is no current connection");
        return;
    }
    Held h;
    if (holdConnection(conn->serial, h, o, "connection")) {
        h.conn->latin1 = latin1;
        o.clientLatin1 = latin1;
    }
}

const Backend kSqlite = {
    "sqlite", connect, currentDb, currentTm, disconnect, setConnection, endTrans, markAbort,
    setLevel, getLevel, setCursor, setCursorName, prepare, describe, declare, open, execute,
    fetch, close, setCodePage,
};

}  // namespace

}  // namespace esql::lite

const esql::Backend& esql::sqliteBackend() { return esql::lite::kSqlite; }
