// The exported tpe_* calls of the ESQL-92 client stand-in: each resets the caller's SQLCA,
// runs the call on the installed back-end (SQLite unless a test installed the scripted one),
// and reports the outcome. Also owns the queue of pending messages that tpe_sqlc_clear pops.
// No C++ exception leaves an exported call.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/esql92/internal.h"

static_assert(sizeof(ESQL_SQLCA) == ESQL_SQLCA_SIZE);
static_assert(offsetof(ESQL_SQLCA, sqlcode) == 12);
static_assert(offsetof(ESQL_SQLCA, sqlerrml) == 16);
static_assert(offsetof(ESQL_SQLCA, sqlerrmc) == 20);
static_assert(offsetof(ESQL_SQLCA, sqlstate) == 908);
static_assert(offsetof(ESQL_SQLCA, sqlrows) == 920);
static_assert(sizeof(ESQL_DATE_VALUE) == 4 && sizeof(ESQL_TIME_VALUE) == 6);
static_assert(sizeof(ESQL_TIMESTAMP_VALUE) == 10 && sizeof(ESQL_NUMERIC_VALUE) == ESQL_NUMERIC_SIZE);

namespace esql {

namespace {

std::atomic<const Backend*> g_backend{nullptr};

const Backend& backend() {
    const Backend* b = g_backend.load(std::memory_order_acquire);
    return b ? *b : sqliteBackend();
}

// Pending messages: the messages after the first of a failure, keyed by a ticket that the
// SQLCA carries. Each owner (connection) keeps at most one queue: its latest failure.
struct PendingQueue {
    uint64_t owner = 0;
    std::deque<Message> messages;
};

struct MessageStore {
    std::mutex mu;
    uint64_t nextTicket = 1;
    std::unordered_map<uint64_t, PendingQueue> byTicket;
    std::unordered_map<uint64_t, uint64_t> ticketOfOwner;

    void eraseTicket(uint64_t ticket) {
        auto it = byTicket.find(ticket);
        if (it == byTicket.end())
            return;
        auto own = ticketOfOwner.find(it->second.owner);
        if (own != ticketOfOwner.end() && own->second == ticket)
            ticketOfOwner.erase(own);
        byTicket.erase(it);
    }
};

MessageStore& store() {
    static MessageStore* s = new MessageStore;   // outlives every static destructor
    return *s;
}

void clearFields(ESQL_SQLCA* ca) {
    if (std::memcmp(ca->sqlcaid, "SQLCA   ", 8) != 0) {
        std::memset(ca, 0, sizeof *ca);
        std::memcpy(ca->sqlcaid, "SQLCA   ", 8);
        ca->sqlcabc = ESQL_SQLCA_SIZE;
    }
    ca->sqlcode = 0;
    ca->sqlerrml = 0;
    ca->sqlerrmc[0] = '\0';
    std::memset(ca->sqlwarn, ' ', sizeof ca->sqlwarn);
    std::memcpy(ca->sqlstate, "00000", 6);
    ca->sqlrows = 0;
    ca->sqlmsgq = 0;
}

void writeMessage(ESQL_SQLCA* ca, const Message& m) {
    ca->sqlcode = m.code;
    size_t n = std::min<size_t>(m.text.size(), ESQL_MESSAGE_MAX - 1);
    // A cut keeps whole UTF-8 characters; ISO-8859-1 has one byte a character.
    while (!m.latin1 && n > 0 && n < m.text.size() && (static_cast<unsigned char>(m.text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(ca->sqlerrmc, m.text.data(), n);
    ca->sqlerrmc[n] = '\0';
    ca->sqlerrml = static_cast<int32_t>(n);
    std::memcpy(ca->sqlstate, m.state, 5);
    ca->sqlstate[5] = '\0';
}

// Resets the SQLCA for a new call; the messages it still pointed to are no longer reachable.
void resetSqlca(ESQL_SQLCA* ca) {
    if (ca == nullptr)
        return;
    if (ca->sqlmsgq != 0 && std::memcmp(ca->sqlcaid, "SQLCA   ", 8) == 0) {
        MessageStore& s = store();
        std::lock_guard<std::mutex> lock(s.mu);
        s.eraseTicket(ca->sqlmsgq);
    }
    clearFields(ca);
}

template <typename F>
int run(ESQL_SQLCA* sqlca, F&& body) {
    Outcome o;
    try {
        body(o);
    } catch (const std::bad_alloc&) {
        failWith(o, ESQL_ERR_MEMORY, "out of memory");
    } catch (const std::exception& e) {
        failWith(o, ESQL_ERR_GENERAL, e.what());
    } catch (...) {
        failWith(o, ESQL_ERR_GENERAL, "unexpected failure");
    }
    try {
        if (o.clientLatin1) {
            for (Message& m : o.messages) {
                m.text = latin1FromUtf8(m.text);
                m.latin1 = true;
            }
        }
        return report(sqlca, o);
    } catch (...) {
        if (sqlca) {
            sqlca->sqlcode = ESQL_ERR_MEMORY;
            std::memcpy(sqlca->sqlstate, "HY001", 6);
        }
        return ESQL_ERR_MEMORY;
    }
}

}  // namespace

void Outcome::fail(int32_t native, const char* sqlstate, std::string text) {
    Message m;
    m.code = native;
    std::memcpy(m.state, sqlstate, std::min<size_t>(std::strlen(sqlstate), 5));
    m.text = std::move(text);
    if (messages.empty())
        code = native;
    messages.push_back(std::move(m));
}

const char* stateOf(int32_t native) {
    switch (native) {
    case ESQL_ERR_NAME_IN_USE: return "08002";
    case ESQL_ERR_NO_CONNECTION: return "08003";
    case ESQL_ERR_CONNECT: return "08001";
    case ESQL_ERR_NULL_ARGUMENT: return "HY009";
    case ESQL_ERR_CURSOR_HANDLE: return "34000";
    case ESQL_ERR_CURSOR_STATE: return "24000";
    case ESQL_ERR_SEQUENCE: return "HY010";
    case ESQL_ERR_SQLDA_KIND: return "HY024";
    case ESQL_ERR_ATTRIBUTE: return "HY024";
    case ESQL_ERR_COLUMN_INDEX: return "07009";
    case ESQL_ERR_PARAMETERS: return "07001";
    case ESQL_ERR_BINDING: return "HY090";
    case ESQL_ERR_NO_INDICATOR: return "22002";
    case ESQL_ERR_VALUE_TOO_LONG: return "22001";
    case ESQL_ERR_OUT_OF_RANGE: return "22003";
    case ESQL_ERR_BAD_NUMBER: return "22018";
    case ESQL_ERR_BAD_DATETIME: return "22007";
    case ESQL_ERR_STATEMENT: return "42000";
    case ESQL_ERR_LEVEL: return "HY024";
    case ESQL_ERR_MEMORY: return "HY001";
    case ESQL_ERR_DATABASE_GONE: return "08S01";
    case ESQL_ERR_BAD_TEXT: return "22018";
    default: return "HY000";
    }
}

void failWith(Outcome& o, int32_t native, std::string text) { o.fail(native, stateOf(native), std::move(text)); }

int report(ESQL_SQLCA* sqlca, Outcome& o) {
    if (sqlca == nullptr)
        return o.code;
    resetSqlca(sqlca);
    sqlca->sqlrows = o.rows;
    if (o.truncated) {
        sqlca->sqlwarn[0] = 'W';
        sqlca->sqlwarn[1] = 'W';
    }
    if (o.messages.empty()) {
        sqlca->sqlcode = o.code;
        if (o.code == ESQL_NOT_FOUND)
            std::memcpy(sqlca->sqlstate, "02000", 6);
        else if (o.truncated)
            std::memcpy(sqlca->sqlstate, "01004", 6);
        return sqlca->sqlcode;
    }
    writeMessage(sqlca, o.messages.front());
    MessageStore& s = store();
    std::lock_guard<std::mutex> lock(s.mu);
    // A new failure of the owner replaces the messages its last failure left.
    if (o.owner != 0) {
        auto own = s.ticketOfOwner.find(o.owner);
        if (own != s.ticketOfOwner.end())
            s.eraseTicket(own->second);
    }
    if (o.messages.size() > 1) {
        uint64_t ticket = s.nextTicket++;
        PendingQueue& q = s.byTicket[ticket];
        q.owner = o.owner;
        for (size_t k = 1; k < o.messages.size(); ++k)
            q.messages.push_back(std::move(o.messages[k]));
        s.ticketOfOwner[o.owner] = ticket;
        sqlca->sqlmsgq = ticket;
    }
    return sqlca->sqlcode;
}

void dropPendingMessages(uint64_t owner) {
    MessageStore& s = store();
    std::lock_guard<std::mutex> lock(s.mu);
    auto own = s.ticketOfOwner.find(owner);
    if (own != s.ticketOfOwner.end())
        s.eraseTicket(own->second);
}

size_t pendingMessageQueues() {
    MessageStore& s = store();
    std::lock_guard<std::mutex> lock(s.mu);
    return s.byTicket.size();
}

void installBackend(const Backend* b) { g_backend.store(b, std::memory_order_release); }

}  // namespace esql

using esql::backend;
using esql::Outcome;
using esql::run;

extern "C" {

void tpe_sqlc_clear(ESQL_SQLCA* sqlca) {
    if (sqlca == nullptr)
        return;
    uint64_t ticket = std::memcmp(sqlca->sqlcaid, "SQLCA   ", 8) == 0 ? sqlca->sqlmsgq : 0;
    esql::clearFields(sqlca);
    if (ticket == 0)
        return;
    esql::MessageStore& s = esql::store();
    std::lock_guard<std::mutex> lock(s.mu);
    auto it = s.byTicket.find(ticket);
    if (it == s.byTicket.end() || it->second.messages.empty())
        return;
    esql::writeMessage(sqlca, it->second.messages.front());
    it->second.messages.pop_front();
    if (it->second.messages.empty())
        s.eraseTicket(ticket);
    else
        sqlca->sqlmsgq = ticket;
}

int tpe_sqlconnect(const char* target, const char* name, const char* user, const char* password,
                   void* reserved, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (reserved != nullptr) {
            esql::failWith(o, ESQL_ERR_CONNECT, "the fifth argument of tpe_sqlconnect must be null");
            return;
        }
        backend().connect(target, name, user, password, o);
    });
}

ESQL_DBHDL tpe_get_curdbhdl(void) {
    try {
        return backend().currentDb();
    } catch (...) {
        return nullptr;
    }
}

ESQL_TMHDL tpe_get_curtmhdl(void) {
    try {
        return backend().currentTm();
    } catch (...) {
        return nullptr;
    }
}

int tpe_sql_disconnect(int scope, const char* name, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().disconnect(scope, name, o); });
}

int tpe_sql_setconnection(const char* name, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().setConnection(name, o); });
}

int tpe_tm_end_trans(ESQL_TMHDL tm, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().endTrans(tm, o); });
}

int tpe_tm_mark_abort(ESQL_TMHDL tm, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().markAbort(tm, o); });
}

int tpe_tm_set_level(int level, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().setLevel(level, o); });
}

int tpe_set_client_codepage(const char* codepage, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (codepage == nullptr)
            failWith(o, ESQL_ERR_NULL_ARGUMENT, "the code page is null");
        else
            backend().setCodePage(codepage, o);
    });
}

int tpe_tm_get_level(void) {
    try {
        return backend().getLevel();
    } catch (...) {
        return -1;
    }
}

int tpe_set_cursor(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL* cursor,
                   const unsigned char identity[ESQL_IDENTITY_SIZE], int kind, const char* text,
                   ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (cursor == nullptr || identity == nullptr || text == nullptr) {
            esql::failWith(o, ESQL_ERR_NULL_ARGUMENT,
                           cursor == nullptr     ? "null cursor handle pointer"
                           : identity == nullptr ? "null cursor identity"
                                                 : "null statement text");
            return;
        }
        if (kind != ESQL_CURSOR_DYNAMIC) {
            esql::failWith(o, ESQL_ERR_GENERAL, "unknown cursor kind " + std::to_string(kind));
            return;
        }
        backend().setCursor(tm, db, cursor, identity, kind, text, o);
    });
}

int tpe_set_cursorname(ESQL_CURHDL cursor, const char* name, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (name == nullptr) {
            esql::failWith(o, ESQL_ERR_NULL_ARGUMENT, "null cursor name");
            return;
        }
        backend().setCursorName(cursor, name, o);
    });
}

int tpe_sqlprepare(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().prepare(tm, db, cursor, o); });
}

int tpe_sqldescribe(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* sqlda,
                    ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (esql::checkSqlda(sqlda, ESQL_SQLDA_OUTPUT, o))
            backend().describe(tm, db, cursor, sqlda, false, o);
    });
}

int tpe_sqldescribe_input(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* sqlda,
                          ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (esql::checkSqlda(sqlda, ESQL_SQLDA_INPUT, o))
            backend().describe(tm, db, cursor, sqlda, true, o);
    });
}

int tpe_sqldeclare(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in_sqlda,
                   ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (in_sqlda == nullptr || esql::checkSqlda(in_sqlda, ESQL_SQLDA_INPUT, o))
            backend().declare(tm, db, cursor, in_sqlda, o);
    });
}

int tpe_sqlopen(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in_sqlda,
                ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (in_sqlda == nullptr || esql::checkSqlda(in_sqlda, ESQL_SQLDA_INPUT, o))
            backend().open(tm, db, cursor, in_sqlda, o);
    });
}

int tpe_sqlexecute(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in_sqlda,
                   ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (in_sqlda == nullptr || esql::checkSqlda(in_sqlda, ESQL_SQLDA_INPUT, o))
            backend().execute(tm, db, cursor, in_sqlda, o);
    });
}

int tpe_sqlfetch(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* out_sqlda,
                 ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) {
        if (esql::checkSqlda(out_sqlda, ESQL_SQLDA_OUTPUT, o))
            backend().fetch(tm, db, cursor, out_sqlda, o);
    });
}

int tpe_sqlclose(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, ESQL_SQLCA* sqlca) {
    return run(sqlca, [&](Outcome& o) { backend().close(tm, db, cursor, o); });
}

}  // extern "C"
