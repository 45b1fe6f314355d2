// The parameter-describe analyser: the probes of a statement's parameter markers.
#include "scrs/scr_paramdesc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "drv_pro9/oa_services.h"
#include "sqlparse/ptree.h"
#include "sqlparse/scsql_parse.h"
#include "util/errcode.h"
#include "util/ut_string.h"

namespace {

enum : int32_t {
    kBetween = 6,
    kColumnSetClause = 4,
    kSetList = 5,
    kColumnName = 10,
    kColumnRef = 11,
    kComparison = 14,
    kDelete = 19,
    kMarker = 20,
    kValueExpression = 23,
    kFactor = 24,
    kInPredicate = 26,
    kInsert = 28,
    kLike = 31,
    kNullPredicate = 33,
    kNamedTable = 46,
    kHaving = 48,
    kUnionHolder = 52,
    kWhereHolder = 54,
    kMiddlePart = 57,
    kPredicate = 59,
    kPrimary = 60,
    kSearchCondition = 68,
    kQuerySpec = 72,
    kQuery = 74,
    kSelectItem = 75,
    kSetFunction = 76,
    kSubquery = 85,
    kTableExpression = 86,
    kTablePart = 87,
    kFromList = 90,
    kTerm = 91,
    kUnionClause = 94,
    kUpdatePositioned = 96,
    kUpdateSearched = 97,
    kInValue = 98,
    kValueList = 99,
    kWhereClause = 101,
};

// A probe column: the expression whose type a marker takes (null: the default
// expression), and the marker's ordinal.
struct Target {
    PT_NODE* expr;
    uint32_t ordinal;
};

// Pre-order collection of the nodes of one kind below a node (with self, from the node
// itself); with own, nested queries (subqueries, derived tables) are not entered.
void Collect(PT_NODE* node, int32_t kind, bool own, std::vector<PT_NODE*>* out, bool self = false) {
    if (node == nullptr)
        return;
    std::vector<PT_NODE*> stack;
    auto pushChildren = [&stack](PT_NODE* n) {
        size_t at = stack.size();
        for (PT_NODE* c = n->child; c != nullptr; c = c->sibling)
            stack.push_back(c);
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(at), stack.end());
    };
    if (self)
        stack.push_back(node);
    else
        pushChildren(node);
    while (!stack.empty()) {
        PT_NODE* n = stack.back();
        stack.pop_back();
        if (n->kind == kind)
            out->push_back(n);
        if (!own || (n->kind != kSubquery && n->kind != kQuerySpec))
            pushChildren(n);
    }
}

std::vector<PT_NODE*> Below(PT_NODE* node, int32_t kind, bool own) {
    std::vector<PT_NODE*> out;
    Collect(node, kind, own, &out);
    return out;
}

const char* TextOf(PT_NODE* node) {
    const char* t = node != nullptr ? PT_NodeText(node) : nullptr;
    if (node != nullptr && t == nullptr && node->childCount != 0)
        throw std::bad_alloc();
    return t != nullptr ? t : "";
}

bool IsInner(const PT_NODE* node) {
    return node != nullptr && node->childCount != 0;
}

bool TemplateIsArg1(const PT_NODE* node) {
    return node->tmpl != nullptr && std::strcmp(node->tmpl, PT_ARG1) == 0;
}

// The marker a value expression is, or null: value expression, term, factor and primary
// each "{1}" over the next, down to the marker.
PT_NODE* BareMarker(PT_NODE* expr) {
    PT_NODE* n = expr;
    for (int32_t kind : {kValueExpression, kTerm, kFactor, kPrimary}) {
        if (n == nullptr || n->kind != kind || !TemplateIsArg1(n))
            return nullptr;
        n = PT_Child(n, 1);
    }
    return n != nullptr && n->kind == kMarker ? n : nullptr;
}

class Analysis {
public:
    explicit Analysis(SCR_PARAMDESC* d) : d_(d) { Collect(d->root, kMarker, false, &markers_, true); }

    void Run() {
        switch (d_->rootKind) {
        case kQuery:
            QueryRule(PT_Child(d_->root, 1));
            break;
        case kUpdateSearched:
            UpdateRule(true);
            break;
        case kUpdatePositioned:
            UpdateRule(false);
            break;
        case kDelete:
            DeleteRule();
            break;
        case kInsert:
            InsertRule();
            break;
        default:
            break;  // a positioned DELETE and the other statements have nothing to describe
        }
    }

private:
    uint32_t OrdinalOf(const PT_NODE* marker) const {
        for (size_t i = 0; i < markers_.size(); ++i)
            if (markers_[i] == marker)
                return static_cast<uint32_t>(i + 1);
        return 0;
    }

    // The markers of an operand (itself included).
    std::vector<PT_NODE*> MarkersOf(PT_NODE* operand) const {
        std::vector<PT_NODE*> out;
        Collect(operand, kMarker, false, &out, true);
        return out;
    }

    bool Holds(PT_NODE* operand) const { return operand != nullptr && !MarkersOf(operand).empty(); }

    // The operand's marker takes the target's type: only an operand with exactly one
    // marker, outside any subquery, is described; the others keep the prepare's.
    void Describe(PT_NODE* operand, PT_NODE* target, std::vector<Target>* out) const {
        std::vector<PT_NODE*> all = MarkersOf(operand);
        std::vector<PT_NODE*> own;
        Collect(operand, kMarker, true, &own, true);
        if (all.size() == 1 && own.size() == 1)
            out->push_back({target, OrdinalOf(all[0])});
    }

    // Adds the targets of one predicate; false when the rule cannot describe it.
    bool PredicateRule(PT_NODE* predicate, std::vector<Target>* out) const {
        PT_NODE* p = PT_Child(predicate, 1);
        if (p == nullptr)
            return false;
        PT_NODE* x = PT_Child(p, 1);
        switch (p->kind) {
        case kComparison: {
            PT_NODE* y = PT_Child(p, 3);
            if (x == nullptr || y == nullptr)
                return false;
            bool yCounts = y->kind != kSubquery && Holds(y);
            PT_NODE* target = !Holds(x) ? x : !yCounts && y->kind != kSubquery ? y : nullptr;
            if (target == nullptr)
                return true;
            if (target != x)
                Describe(x, target, out);
            else if (yCounts)
                Describe(y, target, out);
            return true;
        }
        case kBetween: {
            PT_NODE* ops[] = {x, PT_Child(p, 2), PT_Child(p, 3)};
            if (ops[1] == nullptr || ops[2] == nullptr || x == nullptr)
                return false;
            PT_NODE* target = nullptr;
            for (PT_NODE* op : ops)
                if (target == nullptr && !Holds(op))
                    target = op;
            if (target != nullptr)
                for (PT_NODE* op : ops)
                    if (op != target && Holds(op))
                        Describe(op, target, out);
            return true;
        }
        case kLike: {
            PT_NODE* pattern = PT_Child(p, 2);
            if (x == nullptr || pattern == nullptr)
                return false;
            if (!Holds(x))
                Describe(pattern, x, out);
            else if (!Holds(pattern))
                Describe(x, pattern, out);
            return true;
        }
        case kNullPredicate:
            if (x == nullptr)
                return false;
            Describe(x, nullptr, out);
            return true;
        case kInPredicate: {
            PT_NODE* second = PT_Child(p, 2);
            if (x == nullptr || second == nullptr)
                return false;
            if (second->kind != kValueList)
                return true;  // a subquery: its markers are its own
            std::vector<PT_NODE*> items = Below(second, kInValue, false);
            if (items.empty())
                return false;
            if (Holds(x)) {
                if (Holds(items[0]))
                    return false;
                Describe(x, items[0], out);
            } else {
                for (PT_NODE* item : items)
                    if (Holds(item))
                        Describe(item, x, out);
            }
            return true;
        }
        default:
            return true;  // EXISTS, quantified and outer-join predicates describe nothing
        }
    }

    // The predicates of a search condition, each in turn until one fails.
    bool ConditionRule(PT_NODE* condition, std::vector<Target>* out) const {
        if (condition == nullptr || condition->kind != kSearchCondition)
            return false;
        for (PT_NODE* predicate : Below(condition, kPredicate, true))
            if (!PredicateRule(predicate, out))
                return false;
        return true;
    }

    // A WHERE holder (54) or clause (101): its search condition.
    bool WhereRule(PT_NODE* where, std::vector<Target>* out) const {
        if (where != nullptr && where->kind == kWhereHolder) {
            if (!IsInner(where))
                return true;
            where = PT_Child(where, 1);
        }
        if (where == nullptr || where->kind != kWhereClause)
            return false;
        return ConditionRule(PT_Child(where, 1), out);
    }

    // The tables a FROM list gives a probe: its own text when it holds no marker (joins,
    // derived tables and correlation names as written), else its named tables.
    bool FromTables(PT_NODE* from, std::vector<std::string>* tables) const {
        if (!Holds(from)) {
            tables->push_back(TextOf(from));
            return true;
        }
        std::vector<PT_NODE*> named = Below(from, kNamedTable, true);
        for (PT_NODE* t : named)
            tables->push_back(TextOf(t));
        return !named.empty();
    }

    void QueryRule(PT_NODE* spec) {
        std::vector<PT_NODE*> specs;
        while (spec != nullptr && spec->kind == kQuerySpec) {
            specs.push_back(spec);
            PT_NODE* u = PT_ChildOfKind(PT_Child(spec, 3), kUnionHolder);
            PT_NODE* clause = IsInner(u) ? PT_Child(u, 1) : nullptr;
            spec = clause != nullptr && clause->kind == kUnionClause ? PT_Child(clause, 1) : nullptr;
        }
        for (PT_NODE* s : specs) {
            PT_NODE* te = PT_Child(s, 3);
            if (te == nullptr || te->kind != kTableExpression)
                return;
            std::vector<std::string> tables;
            PT_NODE* from = PT_Child(te, 1);
            if (from != nullptr && from->kind == kFromList && !FromTables(from, &tables))
                return;
            std::vector<Target> targets;
            WhereRule(PT_ChildOfKind(te, kWhereHolder), &targets);
            PT_NODE* having = PT_ChildOfKind(te, kHaving);
            if (IsInner(having))
                ConditionRule(PT_Child(having, 1), &targets);
            if (!targets.empty())
                ProbeBuild(tables, targets);
        }
    }

    // The SET clauses: each value with a marker takes its column's type.
    bool SetRule(PT_NODE* list, std::vector<Target>* out) const {
        if (list == nullptr || list->kind != kSetList)
            return false;
        for (PT_NODE* clause : Below(list, kColumnSetClause, true)) {
            PT_NODE* value = PT_Child(clause, 2);
            if (value != nullptr && Holds(value))
                Describe(value, PT_Child(clause, 1), out);
        }
        return true;
    }

    void UpdateRule(bool searched) {
        PT_NODE* table = PT_Child(d_->root, 1);
        if (table == nullptr)
            return;
        qualifier_ = TextOf(table);
        std::vector<std::string> tables{qualifier_};
        std::vector<Target> targets;
        for (PT_NODE* c = table->sibling; c != nullptr; c = c->sibling) {
            bool ok = true;
            if (c->kind == kFromList && searched)
                ok = FromTables(c, &tables);
            else if (c->kind == kSetList)
                ok = SetRule(c, &targets);
            else if (c->kind == kWhereHolder && searched)
                ok = WhereRule(c, &targets);
            if (!ok)
                return;
        }
        if (!targets.empty())
            ProbeBuild(tables, targets);
    }

    void DeleteRule() {
        PT_NODE* table = PT_Child(d_->root, 1);
        std::vector<Target> targets;
        if (table == nullptr || !WhereRule(PT_Child(d_->root, 2), &targets))
            return;
        if (!targets.empty())
            ProbeBuild({TextOf(table)}, targets);
    }

    void InsertRule() {
        PT_NODE* table = PT_Child(d_->root, 1);
        PT_NODE* columnList = PT_Child(d_->root, 2);
        PT_NODE* source = PT_Child(PT_Child(d_->root, 3), 1);
        if (table == nullptr || columnList == nullptr || source == nullptr)
            return;
        std::vector<PT_NODE*> columns = Below(columnList, kColumnRef, false);
        std::vector<Target> targets;
        if (source->kind == kValueList) {
            std::vector<PT_NODE*> items = Below(source, kInValue, false);
            if (columns.empty()) {
                ProbeStar(TextOf(table), items);
                return;
            }
            for (size_t i = 0; i < items.size(); ++i) {
                if (!Holds(items[i]))
                    continue;
                if (i >= columns.size())
                    return;
                Describe(items[i], columns[i], &targets);
            }
            if (!targets.empty())
                ProbeBuild({TextOf(table)}, targets);
            return;
        }
        if (source->kind != kQuerySpec)
            return;
        // INSERT ... SELECT: a select item that is a bare marker takes its column's type.
        std::vector<PT_NODE*> items = Below(PT_Child(source, 2), kSelectItem, true);
        for (size_t i = 0; i < items.size() && i < columns.size(); ++i)
            if (PT_NODE* marker = BareMarker(PT_Child(items[i], 1)))
                targets.push_back({columns[i], OrdinalOf(marker)});
        if (!targets.empty())
            ProbeBuild({TextOf(table)}, targets);
        QueryRule(source);
    }

    // Whether an expression names a column without a table or owner part.
    static bool UnqualifiedColumn(PT_NODE* expr) {
        std::vector<PT_NODE*> names;
        Collect(expr, kColumnName, true, &names, true);
        if (names.empty())
            return false;
        std::vector<PT_NODE*> parts;
        Collect(expr, kTablePart, true, &parts, true);
        Collect(expr, kMiddlePart, true, &parts, true);
        return parts.empty();
    }

    std::string ColumnText(const Target& t, bool several) const {
        if (t.expr == nullptr)
            return d_->defaultExpression != nullptr ? d_->defaultExpression : "NULL";
        std::string prefix;
        if (!qualifier_.empty() && UnqualifiedColumn(t.expr))
            prefix = qualifier_ + ".";
        std::vector<PT_NODE*> functions;
        Collect(t.expr, kSetFunction, true, &functions, true);
        if (several && !functions.empty()) {
            // Beside other columns a set function would need a GROUP BY: its argument (or a
            // constant for COUNT) has the type that matters.
            PT_NODE* f = functions[0];
            const char* name = TextOf(PT_Child(f, 1));
            if (!IsInner(f) || ut_StrCaseStr(name, "COUNT") == name)
                return "1";
            for (const char* agg : {"SUM", "AVG", "MAX", "MIN"})
                if (ut_StrCaseStr(name, agg) == name && std::strlen(name) == 3)
                    return "(" + prefix + TextOf(PT_Child(f, 2)) + ")";
        }
        return prefix + TextOf(t.expr);
    }

    void ProbeBuild(const std::vector<std::string>& tables, const std::vector<Target>& targets) {
        std::string probe = "SELECT ";
        for (size_t i = 0; i < targets.size(); ++i) {
            if (i != 0)
                probe += ", ";
            probe += ColumnText(targets[i], targets.size() > 1);
        }
        if (!tables.empty()) {
            probe += " FROM ";
            for (size_t i = 0; i < tables.size(); ++i)
                probe += (i != 0 ? ", " : "") + tables[i];
        }
        probe += " WHERE 1=0 ";
        d_->probes.push_back(std::move(probe));
        for (const Target& t : targets)
            d_->columnMarkers.push_back(t.ordinal);
        d_->described += static_cast<int32_t>(targets.size());
    }

    void ProbeStar(const std::string& table, const std::vector<PT_NODE*>& items) {
        d_->probes.push_back("SELECT * FROM " + table + " WHERE 1=0 ");
        for (PT_NODE* item : items) {
            PT_NODE* marker = PT_Child(item, 1);
            bool bare = marker != nullptr && marker->kind == kMarker;
            d_->markerString += bare ? '?' : 'X';
            d_->columnMarkers.push_back(bare ? OrdinalOf(marker) : 0);
            d_->described += bare ? 1 : 0;
        }
    }

    SCR_PARAMDESC* d_;
    std::vector<PT_NODE*> markers_;
    std::string qualifier_;
};

}  // namespace

void SCR_ParamDescInit(SCR_PARAMDESC* desc, const char* defaultExpression) {
    if (desc == nullptr)
        return;
    SCR_ParamDescFree(desc);
    desc->defaultExpression = defaultExpression;
}

void SCR_ParamDescFree(SCR_PARAMDESC* desc) {
    if (desc == nullptr)
        return;
    PT_Free(&desc->root, PT_NodeFree);
    const char* keep = desc->defaultExpression;
    *desc = SCR_PARAMDESC{};
    desc->defaultExpression = keep;
}

int SCR_ParamDescAnalyse(SCR_PARAMDESC* desc, const char* sql) {
    if (desc == nullptr || sql == nullptr)
        return ERR_GENERAL_ERROR;
    try {
        while (std::isspace(static_cast<unsigned char>(*sql)))
            ++sql;
        SCR_ParamDescFree(desc);
        desc->text = sql;
        desc->rootKind = 0;
        SCSQL_PARSE parse;
        int result = scsql_Parse(desc->text.c_str(), desc->text.size(), &parse);
        desc->root = parse.root;
        parse.root = nullptr;
        desc->errorContext = parse.errorContext != nullptr ? parse.errorContext : "";
        desc->errorMessage = parse.errorMessage != nullptr ? parse.errorMessage : "";
        int failure = parse.failure;
        scsql_ParseFree(&parse);
        if (result != SCSQL_PARSE_ACCEPTED)
            return failure != 0 ? failure : ERR_SYNTAX_ERROR_OR_ACCESS;
        desc->rootKind = desc->root->kind;
        if (PT_RegenText(desc->root) == 0)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        Analysis(desc).Run();
        return 0;
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

int SCR_ParamProber(const char* defaultExpression, const char* sql, OA_PARAMPROBES* out) {
    SCR_PARAMDESC desc;
    SCR_ParamDescInit(&desc, defaultExpression);
    int rc = SCR_ParamDescAnalyse(&desc, sql);
    if (rc == 0 && desc.probes.empty())
        rc = ERR_GENERAL_ERROR;
    if (rc == 0) {
        try {
            out->probes = desc.probes;
            out->ordinals = desc.columnMarkers;
            out->markerMap = desc.markerString;
            out->markers = static_cast<uint32_t>(desc.described);
        } catch (const std::bad_alloc&) {
            rc = ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }
    SCR_ParamDescFree(&desc);
    return rc;
}
