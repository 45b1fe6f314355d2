// The scripted back-end of the ESQL-92 client stand-in: answers every tpe_* call from the
// script of the living esql92::Script and records the call. One script at a time; its state is
// guarded by one lock, since the agent's tests may call from several threads.
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/esql92/esql92_script.h"
#include "platform/esql92/internal.h"

namespace esql::scripted {

namespace {

using Identity = std::array<unsigned char, ESQL_IDENTITY_SIZE>;

struct Cursor {
    int number = 0;
    Identity identity{};
    esql92::Result result;
    bool prepared = false;
    bool open = false;
    size_t next = 0;   // next row to deliver
    PRO_SQLDA* declared = nullptr;
};

struct State {
    std::mutex mu;
    std::vector<std::string> calls;
    std::deque<esql92::Result> results;
    std::deque<int64_t> affected;
    std::map<std::string, std::deque<std::vector<esql92::Message>>> failures;
    int level = 1;
    std::vector<std::string> connections;   // names; handles are 1-based positions
    int current = 0;
    std::vector<std::unique_ptr<Cursor>> cursors;   // handle n is cursors[n - 1]
};

std::mutex g_installMu;
State* g_state = nullptr;

State& state() {
    if (g_state == nullptr)
        throw std::logic_error("no esql92::Script is installed");
    return *g_state;
}

// A scripted failure of this call, if one is due; posts it and answers true.
bool scriptedFailure(State& s, const char* call, Outcome& o) {
    auto it = s.failures.find(call);
    if (it == s.failures.end() || it->second.empty())
        return false;
    std::vector<esql92::Message> msgs = std::move(it->second.front());
    it->second.pop_front();
    for (const esql92::Message& m : msgs)
        o.fail(m.code, m.sqlstate.c_str(), m.text);
    if (o.messages.empty())
        failWith(o, ESQL_ERR_GENERAL, "scripted failure");
    return true;
}

std::string text(const char* s) { return s ? std::string(s) : std::string("(null)"); }

ESQL_DBHDL dbHandle(int conn) { return reinterpret_cast<ESQL_DBHDL>(static_cast<uintptr_t>(conn) << 2 | 1); }
ESQL_TMHDL tmHandle(int conn) { return reinterpret_cast<ESQL_TMHDL>(static_cast<uintptr_t>(conn) << 2 | 2); }

Cursor* findCursor(State& s, ESQL_CURHDL h, Outcome& o) {
    auto v = reinterpret_cast<uintptr_t>(h);
    size_t n = v >> 2;
    if ((v & 3) != 3 || n == 0 || n > s.cursors.size()) {
        failWith(o, ESQL_ERR_CURSOR_HANDLE, "invalid cursor handle");
        return nullptr;
    }
    return s.cursors[n - 1].get();
}

std::string cursorLabel(ESQL_CURHDL h) { return "#" + std::to_string(reinterpret_cast<uintptr_t>(h) >> 2); }

// The parameter rows of an input SQLDA as text: " (1, 'a') (2, NULL)".
std::string renderParams(PRO_SQLDA* in) {
    if (in == nullptr)
        return "";
    std::string out;
    uint32_t cols = sqldaAllocated(in);
    const SqldaColumn* c = sqldaColumns(in);
    for (uint32_t r = 0; r < sqldaRows(in); ++r) {
        out += r == 0 ? " (" : " (";
        for (uint32_t k = 0; k < cols; ++k) {
            Value v;
            std::string scratch;
            Outcome ignored;
            out += k ? ", " : "";
            out += getValue(c[k], r, k + 1, v, scratch, ignored) ? renderValue(v) : "?";
        }
        out += ")";
    }
    return out;
}

std::vector<ColumnDesc> describe(const std::vector<esql92::Column>& cols) {
    std::vector<ColumnDesc> out;
    for (const esql92::Column& c : cols) {
        uint32_t precision = c.precision;
        if (precision == 0 && (c.type == ESQL_CHARACTER || c.type == ESQL_VARCHAR || c.type == ESQL_BINARY ||
                               c.type == ESQL_VARBINARY))
            precision = 1;
        if (precision == 0 && c.type == ESQL_NUMERIC)
            precision = 32;
        ColumnDesc d = describeType(c.type, precision, c.scale);
        d.name = c.name;
        d.nullable = c.nullable;
        d.updatable = c.updatable;
        out.push_back(std::move(d));
    }
    return out;
}

Value cellValue(const esql92::Cell& c) {
    switch (c.kind()) {
    case esql92::Cell::Int: return Value::integer(c.integer());
    case esql92::Cell::Real: return Value::real(c.real());
    case esql92::Cell::Text: return Value::text(c.text().data(), c.text().size());
    case esql92::Cell::Bytes: return Value::blob(c.text().data(), c.text().size());
    default: return Value::null();
    }
}

// Every call: lock, record, then the scripted failure if one is due.
#define BEGIN_CALL(name, line)                    \
    State& s = state();                           \
    std::lock_guard<std::mutex> lock(s.mu);       \
    s.calls.push_back(line);                      \
    if (scriptedFailure(s, name, o))              \
        return;

void connect(const char* target, const char* name, const char* user, const char* password, Outcome& o) {
    BEGIN_CALL("tpe_sqlconnect",
               "tpe_sqlconnect " + text(target) + " " + text(name) + " " + text(user) + " " + text(password));
    s.connections.push_back(text(name));
    s.current = static_cast<int>(s.connections.size());
}

ESQL_DBHDL currentDb() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    s.calls.push_back("tpe_get_curdbhdl");
    return s.current ? dbHandle(s.current) : nullptr;
}

ESQL_TMHDL currentTm() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    s.calls.push_back("tpe_get_curtmhdl");
    return s.current ? tmHandle(s.current) : nullptr;
}

void disconnect(int scope, const char* name, Outcome& o) {
    BEGIN_CALL("tpe_sql_disconnect", "tpe_sql_disconnect " + std::to_string(scope) + " " + text(name));
    if (scope == ESQL_DISCONNECT_CURRENT ||
        (s.current && name && s.connections[static_cast<size_t>(s.current - 1)] == name))
        s.current = 0;
}

void setConnection(const char* name, Outcome& o) {
    BEGIN_CALL("tpe_sql_setconnection", "tpe_sql_setconnection " + text(name));
    for (size_t k = 0; k < s.connections.size(); ++k)
        if (name && s.connections[k] == name)
            s.current = static_cast<int>(k + 1);
}

void endTrans(ESQL_TMHDL, Outcome& o) { BEGIN_CALL("tpe_tm_end_trans", "tpe_tm_end_trans"); }
void markAbort(ESQL_TMHDL, Outcome& o) { BEGIN_CALL("tpe_tm_mark_abort", "tpe_tm_mark_abort"); }

void setLevel(int level, Outcome& o) {
    BEGIN_CALL("tpe_tm_set_level", "tpe_tm_set_level " + std::to_string(level));
    s.level = level;
}

int getLevel() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    s.calls.push_back("tpe_tm_get_level");
    return s.level;
}

void setCursor(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL* out, const unsigned char* identity, int kind,
               const char* sql, Outcome& o) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    Identity id;
    std::memcpy(id.data(), identity, id.size());
    Cursor* k = nullptr;
    for (auto& c : s.cursors)
        if (c->identity == id)
            k = c.get();
    int number = k ? k->number : static_cast<int>(s.cursors.size()) + 1;
    static const char hex[] = "0123456789abcdef";
    std::string idText;
    for (unsigned char b : id) {
        idText += hex[b >> 4];
        idText += hex[b & 15];
    }
    s.calls.push_back("tpe_set_cursor #" + std::to_string(number) + " " + idText + " " + std::to_string(kind) +
                      " " + text(sql));
    if (scriptedFailure(s, "tpe_set_cursor", o))
        return;
    if (!k) {
        s.cursors.push_back(std::make_unique<Cursor>());
        k = s.cursors.back().get();
        k->number = number;
        k->identity = id;
    }
    k->prepared = false;
    k->open = false;
    *out = reinterpret_cast<ESQL_CURHDL>(static_cast<uintptr_t>(number) << 2 | 3);
}

void setCursorName(ESQL_CURHDL cursor, const char* name, Outcome& o) {
    BEGIN_CALL("tpe_set_cursorname", "tpe_set_cursorname " + cursorLabel(cursor) + " " + text(name));
    findCursor(s, cursor, o);
}

void prepare(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, Outcome& o) {
    BEGIN_CALL("tpe_sqlprepare", "tpe_sqlprepare " + cursorLabel(cursor));
    Cursor* k = findCursor(s, cursor, o);
    if (!k)
        return;
    k->result = esql92::Result{};
    if (!s.results.empty()) {
        k->result = std::move(s.results.front());
        s.results.pop_front();
    }
    k->prepared = true;
    k->open = false;
}

void describeCall(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, PRO_SQLDA* sqlda, bool input, Outcome& o) {
    BEGIN_CALL(input ? "tpe_sqldescribe_input" : "tpe_sqldescribe",
               std::string(input ? "tpe_sqldescribe_input " : "tpe_sqldescribe ") + cursorLabel(cursor));
    Cursor* k = findCursor(s, cursor, o);
    if (!k)
        return;
    if (!k->prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "describe of a cursor that is not prepared");
        return;
    }
    fillSqlda(sqlda, describe(input ? k->result.params : k->result.columns));
}

void declare(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o) {
    BEGIN_CALL("tpe_sqldeclare", "tpe_sqldeclare " + cursorLabel(cursor) + renderParams(in));
    if (Cursor* k = findCursor(s, cursor, o))
        k->declared = in;
}

void open(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o) {
    BEGIN_CALL("tpe_sqlopen", "tpe_sqlopen " + cursorLabel(cursor) + renderParams(in));
    Cursor* k = findCursor(s, cursor, o);
    if (!k)
        return;
    if (!k->prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "open of a cursor that is not prepared");
        return;
    }
    if (k->open) {
        failWith(o, ESQL_ERR_CURSOR_STATE, "the cursor is already open");
        return;
    }
    k->open = true;
    k->next = 0;
}

void execute(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o) {
    BEGIN_CALL("tpe_sqlexecute", "tpe_sqlexecute " + cursorLabel(cursor) + renderParams(in));
    Cursor* k = findCursor(s, cursor, o);
    if (!k)
        return;
    if (!k->prepared) {
        failWith(o, ESQL_ERR_SEQUENCE, "execute of a cursor that is not prepared");
        return;
    }
    if (!s.affected.empty()) {
        o.rows = s.affected.front();
        s.affected.pop_front();
    }
}

void fetch(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, PRO_SQLDA* out, Outcome& o) {
    BEGIN_CALL("tpe_sqlfetch", "tpe_sqlfetch " + cursorLabel(cursor) + " " + std::to_string(sqldaRows(out)));
    Cursor* k = findCursor(s, cursor, o);
    if (!k)
        return;
    if (!k->open) {
        failWith(o, ESQL_ERR_CURSOR_STATE, "fetch from a cursor that is not open");
        return;
    }
    std::vector<ColumnDesc> desc = describe(k->result.columns);
    if (sqldaAllocated(out) < desc.size()) {
        failWith(o, ESQL_ERR_BINDING, "the SQLDA holds fewer columns than the result");
        return;
    }
    const SqldaColumn* sc = sqldaColumns(out);
    std::vector<OutColumn> cols;
    for (size_t i = 0; i < desc.size(); ++i) {
        cols.push_back(OutColumn{sc[i].type, sc[i].precision, sc[i].scale, sc[i].length,
                                 static_cast<char*>(sc[i].data), sc[i].indicator, desc[i].type});
        if (!checkOutColumn(cols.back(), static_cast<uint32_t>(i + 1), o))
            return;
    }
    size_t want = sqldaRows(out), row = 0;
    bool truncated = false;
    const std::vector<esql92::Row>& rows = k->result.rows;
    for (; row < want && k->next < rows.size(); ++row, ++k->next) {
        const esql92::Row& r = rows[k->next];
        for (size_t i = 0; i < cols.size(); ++i) {
            Value v = i < r.size() ? cellValue(r[i]) : Value::null();
            if (!putValue(v, cols[i], row, truncated, o)) {
                o.rows = static_cast<int64_t>(row);
                return;
            }
        }
    }
    o.rows = static_cast<int64_t>(row);
    o.truncated = truncated;
    if (k->next >= rows.size())
        o.code = ESQL_NOT_FOUND;
}

void close(ESQL_TMHDL, ESQL_DBHDL, ESQL_CURHDL cursor, Outcome& o) {
    BEGIN_CALL("tpe_sqlclose", "tpe_sqlclose " + cursorLabel(cursor));
    if (Cursor* k = findCursor(s, cursor, o))
        k->open = false;
}

void setCodePage(const char* name, Outcome& o) {
    BEGIN_CALL("tpe_set_client_codepage", "tpe_set_client_codepage " + text(name));
}

#undef BEGIN_CALL

const Backend kScripted = {
    "scripted", connect, currentDb, currentTm, disconnect, setConnection, endTrans, markAbort, setLevel,
    getLevel, setCursor, setCursorName, prepare, describeCall, declare, open, execute, fetch, close, setCodePage,
};

}  // namespace

}  // namespace esql::scripted

namespace esql92 {

using esql::scripted::g_installMu;
using esql::scripted::g_state;
using esql::scripted::State;

Script::Script() {
    std::lock_guard<std::mutex> lock(g_installMu);
    if (g_state != nullptr)
        throw std::logic_error("an esql92::Script is already installed");
    g_state = new State;
    esql::installBackend(&esql::scripted::kScripted);
}

Script::~Script() {
    std::lock_guard<std::mutex> lock(g_installMu);
    esql::installBackend(nullptr);
    delete g_state;
    g_state = nullptr;
}

void Script::addResult(Result result) {
    std::lock_guard<std::mutex> lock(g_state->mu);
    g_state->results.push_back(std::move(result));
}

void Script::addAffected(int64_t rows) {
    std::lock_guard<std::mutex> lock(g_state->mu);
    g_state->affected.push_back(rows);
}

void Script::failNext(const std::string& call, std::vector<Message> messages) {
    std::lock_guard<std::mutex> lock(g_state->mu);
    g_state->failures[call].push_back(std::move(messages));
}

void Script::setLevel(int level) {
    std::lock_guard<std::mutex> lock(g_state->mu);
    g_state->level = level;
}

const std::vector<std::string>& Script::calls() const { return g_state->calls; }

std::vector<std::string> Script::takeCalls() {
    std::lock_guard<std::mutex> lock(g_state->mu);
    std::vector<std::string> out;
    out.swap(g_state->calls);
    return out;
}

}  // namespace esql92
