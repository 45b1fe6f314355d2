// The catalog calls.
#include "driver/handlers/catalog.h"

#include <sqlext.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/frame/trace.h"
#include "driver/objects/conn.h"
#include "driver/objects/stmt.h"
#include "drv_pro9/oa_optable.h"
#include "util/errcode.h"
#include "util/ut_string.h"

namespace {

using CatSlot = int (*OA_OPTABLE::*)(uint32_t, const OA_CATARGS*);

// How one call treats its names.
struct CatalogCall {
    CatSlot slot;
    int names;               // how many names the call has
    unsigned percentIfNull;  // bit n: a null name n becomes "%"
    bool tableRequired;      // name 2 must not be null
    const char* trace;       // format of the trace line of the copied names, or null
};

constexpr unsigned Bits(std::initializer_list<int> names) {
    unsigned b = 0;
    for (int n : names)
        b |= 1u << n;
    return b;
}

const char kTrace3[] = "Qualifier='%s' Owner='%s' Name='%s'";
const char kTrace4[] = "Qualifier='%s' Owner='%s' Name='%s' Column='%s'";

struct FreeText {
    void operator()(char* p) const { std::free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

// Steps shared by the calls: state, cursor, lengths, copies, trace, the agent.
// types is the rewritten table-type list of SQLTables (null for the others).
SQLRETURN RunCatalog(HANDLE_HDR* h, const CatalogArgs& a, const CatalogCall& call, const std::string* types) {
    auto* stmt = static_cast<STMT*>(h);
    // Checked first: closing the cursor would end a data-at-execution exchange
    // silently.
    if (stmt->daeState != STMT_DAE_NONE)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    for (int i = 0; i < call.names + (types != nullptr ? 1 : 0); ++i)
        if (a.lengths[i] < 0 && a.lengths[i] != SQL_NTS)
            return StmtFail(stmt, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    if (call.tableRequired && a.names[2] == nullptr)
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);

    StmtClose(stmt);
    StmtFreeResultDescs(stmt);
    // The agent prepares its query on the statement: a text prepared before is
    // gone.
    stmt->flags &= static_cast<uint16_t>(~(STMT_FLAG_PREPARED | STMT_FLAG_CURSOR_OPEN));
    stmt->state = STMT_STATE_ALLOCATED;
    stmt->isQuery = false;
    stmt->rowCount = -1;

    Text copies[6];
    OA_CATARGS args{};
    for (int i = 0; i < call.names; ++i) {
        char* copy = nullptr;
        const bool percent = a.names[i] == nullptr && (call.percentIfNull & (1u << i)) != 0;
        int rc = percent ? ut_StrNDup(&copy, "%", SQL_NTS) : ut_StrNDupUnquote(&copy, a.names[i], a.lengths[i]);
        if (rc != 0 || copy == nullptr)
            return StmtFail(stmt, rc != 0 ? rc : ERR_MEMORY_ALLOCATION_FAILURE);
        copies[i].reset(copy);
        args.names[i] = copy;
    }
    if (types != nullptr)
        args.names[call.names] = types->c_str();
    for (int i = 0; i < 3; ++i)
        args.options[i] = a.options[i];

    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int rc = CallSlot(ops, call.slot, stmt->agentStmt, &args);
    if (rc != 0) {
        StmtGetAgentErrors(stmt);
        return StmtFail(stmt, rc);
    }
    stmt->state = STMT_STATE_PREPARED;
    stmt->flags |= STMT_FLAG_CURSOR_OPEN;
    stmt->isQuery = true;
    return SQL_SUCCESS;
}

// Name i as the trace shows it: "%" where a null one becomes "%".
std::string Shown(const CatalogArgs& a, int i, unsigned percentIfNull) {
    if (a.names[i] == nullptr)
        return (percentIfNull & (1u << i)) != 0 ? "%" : "";
    if (a.lengths[i] == SQL_NTS)
        return a.names[i];
    return std::string(a.names[i], a.lengths[i] > 0 ? static_cast<size_t>(a.lengths[i]) : 0);
}

void TraceNames(const CatalogArgs& a, const char* format, unsigned percentIfNull) {
    if (!TraceIsOn() || format == nullptr)
        return;
    std::string n[4];
    for (int i = 0; i < 4; ++i)
        n[i] = Shown(a, i, percentIfNull);
    TraceLog(format, n[0].c_str(), n[1].c_str(), n[2].c_str(), n[3].c_str());
}

SQLRETURN Run(HANDLE_HDR* h, const CatalogArgs& a, const CatalogCall& call) {
    TraceNames(a, call.trace, call.percentIfNull);
    return RunCatalog(h, a, call, nullptr);
}

}  // namespace

std::string NormTableTypes(const std::string& text) {
    if (text.empty())
        return "";
    if (text[0] == '%')
        return "%";
    auto trimBlanks = [](std::string& s) {
        while (s.size() > 1 && std::isspace(static_cast<unsigned char>(s.back())))
            s.pop_back();
    };
    std::string out = "'";
    bool itemStart = true;
    for (char c : text) {
        if (itemStart && std::isspace(static_cast<unsigned char>(c)))
            continue;
        itemStart = false;
        if (c == '\'')
            continue;
        if (c == ',') {
            trimBlanks(out);
            out += "','";
            itemStart = true;
            continue;
        }
        out += c;
    }
    trimBlanks(out);
    out += '\'';
    return out;
}

int ListItemPos(const char* list, const char* item) {
    if (list == nullptr || item == nullptr)
        return 0;
    const size_t n = std::strlen(item);
    int pos = 1;
    for (const char* p = list;; ++pos) {
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        if (std::strncmp(p, item, n) == 0 && (p[n] == ',' || p[n] == '\0'))
            return pos;
        p = std::strchr(p, ',');
        if (p == nullptr)
            return 0;
        ++p;
    }
}

SQLRETURN DoColumnPrivileges(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDColumnPrivileges, 4, Bits({3}), true, kTrace4});
}

SQLRETURN DoColumns(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDColumns, 4, Bits({1, 2, 3}), false, kTrace4});
}

SQLRETURN DoForeignKeys(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDForeignKeys, 6, 0, false, nullptr});
}

SQLRETURN DoPrimaryKeys(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDPrimaryKeys, 3, 0, true, kTrace3});
}

SQLRETURN DoProcedureColumns(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDProcedureColumns, 4, Bits({1, 2, 3}), false, nullptr});
}

SQLRETURN DoProcedures(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDProcedures, 3, Bits({1, 2}), false, nullptr});
}

SQLRETURN DoSpecialColumns(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDSpecialColumns, 3, 0, true, kTrace3});
}

SQLRETURN DoStatistics(HANDLE_HDR* h, const CatalogArgs& a) {
    if (TraceIsOn())
        TraceLog("Qualifier='%s' Owner='%s' Name='%s' Unique=%u Accuracy=%u", Shown(a, 0, 0).c_str(),
                 Shown(a, 1, 0).c_str(), Shown(a, 2, 0).c_str(), a.options[0], a.options[1]);
    return RunCatalog(h, a, {&OA_OPTABLE::DRV_DDStatistics, 3, 0, true, nullptr}, nullptr);
}

SQLRETURN DoTablePrivileges(HANDLE_HDR* h, const CatalogArgs& a) {
    return Run(h, a, {&OA_OPTABLE::DRV_DDTablePrivileges, 3, Bits({1, 2}), false, kTrace3});
}

SQLRETURN DoTables(HANDLE_HDR* h, const CatalogArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    const char* typeText = a.names[3];
    std::string types;
    if (typeText != nullptr && a.lengths[3] >= 0)
        types.assign(typeText, static_cast<size_t>(a.lengths[3]));
    else if (typeText != nullptr && a.lengths[3] == SQL_NTS)
        types = typeText;
    TraceNames(a, "Qualifier='%s' Owner='%s' Name='%s' Type='%s'", Bits({1, 2}));
    types = NormTableTypes(types);
    const uint16_t flags = stmt->conn != nullptr ? stmt->conn->flags : 0;
    if ((flags & CONN_FLAG_INCLUDE_VIEWS) != 0 && ListItemPos(types.c_str(), "'TABLE'") != 0 &&
        ListItemPos(types.c_str(), "'VIEW'") == 0)
        types += ",'VIEW'";
    if ((flags & CONN_FLAG_INCLUDE_ALL) != 0)
        types.clear();
    return RunCatalog(h, a, {&OA_OPTABLE::DRV_DDTables, 3, Bits({1, 2}), false, nullptr}, &types);
}
