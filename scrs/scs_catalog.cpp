// Catalog reads of the cursor library and the name forms they take.
#include "scrs/scs_catalog.h"

#include <cstring>
#include <vector>

#include "scrs/scs_stmt.h"
#include "util/charset.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

// UCS-2 units (possibly unaligned in the element) as UTF-8.
std::string WideText(const unsigned char* units, size_t count) {
    std::vector<SQLWCHAR> copy(count + 1, 0);
    if (count != 0)
        std::memcpy(copy.data(), units, count * sizeof(SQLWCHAR));
    char* utf8 = ut_Ucs2ToUtf8Dup(copy.data(), static_cast<SQLLEN>(count));
    std::string out = utf8 != nullptr ? utf8 : "";
    uh_Free(utf8);
    return out;
}

size_t BoundedLen(const unsigned char* p, size_t width) {
    const void* nul = std::memchr(p, 0, width);
    return nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - p) : width;
}

size_t WideBoundedLen(const unsigned char* p, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        SQLWCHAR u;
        std::memcpy(&u, p + i * sizeof u, sizeof u);
        if (u == 0)
            return i;
    }
    return units;
}

// Reads the value at (col, row) with read(column, element): 15 outside the rows read, 0
// for a NULL (*isNull set), else read's answer.
template <class Read>
int ReadCell(const DATASET& rows, int col, int32_t row, bool* isNull, Read read) {
    *isNull = false;
    if (col < 0 || col >= rows.colsUsed || row < 0 || row >= rows.rowsUsed)
        return ERR_GENERAL_ERROR;
    const DATASET_COL& c = rows.cols[col];
    *isNull = c.indicators != nullptr && c.indicators[row] == DS_IND_NULL;
    return *isNull ? 0 : read(c, ds_Elem(&c, row));
}

}  // namespace

int scs_EnsureAux1(SCS_STMT* cur) {
    if (cur->aux1 != 0)
        return 0;
    const OA_OPTABLE* ops = cur->agent != nullptr ? cur->agent->ops : nullptr;
    uint32_t aux = 0;
    if (ops == nullptr || ops->DRV_AllocStmt == nullptr || ops->DRV_AllocStmt(cur->agentConn, &aux) != 0 || aux == 0)
        return ERR_GENERAL_ERROR;
    cur->aux1 = aux;
    return 0;
}

int scs_CatalogRead(SCS_STMT* cur, SCS_CATALOG_OP op, const char* opName, const OA_CATARGS& args, DATASET* rows,
                    const char* what) {
    ds_Free(rows);
    if (int rc = scs_EnsureAux1(cur); rc != 0)
        return rc;
    const OA_OPTABLE& agent = *cur->agent->ops;
    const auto run = agent.*op;
    if (run == nullptr || agent.DRV_Fetch == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    if (int rc = run(cur->aux1, &args); rc != 0) {
        LOG_MSG(LOG_ERR, "%s: %s failed.", what, opName);
        return rc;
    }
    for (;;) {
        DATASET batch{};
        if (int rc = agent.DRV_Fetch(cur->aux1, SCS_CATALOG_FETCH_ROWS, &batch); rc != 0) {
            ds_Free(&batch);
            ds_Free(rows);
            LOG_MSG(LOG_ERR, "%s: Couldn't fetch column descriptors.", what);
            return rc;
        }
        const int32_t got = batch.rowsUsed;
        int rc = 0;
        if (rows->colsUsed == 0) {
            ds_Free(rows);
            *rows = batch;  // the first block moves over whole, its layout with it
        } else {
            if (got > 0)
                rc = ds_Append(rows, &batch);
            ds_Free(&batch);
        }
        if (rc != 0) {
            ds_Free(rows);
            return rc;
        }
        if (got < SCS_CATALOG_FETCH_ROWS)
            break;
    }
    // The result is read whole: the auxiliary statement's cursor is not needed any more.
    if (agent.DRV_CloseCursor != nullptr)
        agent.DRV_CloseCursor(cur->aux1);
    return 0;
}

int scs_CatalogText(const DATASET& rows, int col, int32_t row, std::string* out, bool* isNull) {
    out->clear();
    return ReadCell(rows, col, row, isNull, [&](const DATASET_COL& c, const unsigned char* e) -> int {
        switch (c.type) {
        case DS_CHAR: {
            size_t n = BoundedLen(e, c.width);
            while (n > 0 && e[n - 1] == ' ')
                --n;
            out->assign(reinterpret_cast<const char*>(e), n);
            return 0;
        }
        case DS_CHARZ:
            out->assign(reinterpret_cast<const char*>(e), BoundedLen(e, c.width));
            return 0;
        case DS_LONGCHAR: {
            DS_REFVAL ref;
            std::memcpy(&ref, e, sizeof ref);
            if (ref.data != nullptr)
                out->assign(static_cast<const char*>(ref.data), ref.length);
            return 0;
        }
        case DS_VARCHAR8: case DS_VARCHAR16: case DS_VARCHAR32: {
            const size_t prefix = c.type == DS_VARCHAR8 ? 1 : c.type == DS_VARCHAR16 ? 2 : 4;
            if (c.width < prefix)
                return ERR_GENERAL_ERROR;
            uint32_t n = 0;
            if (prefix == 1) {
                n = e[0];
            } else if (prefix == 2) {
                uint16_t v;
                std::memcpy(&v, e, sizeof v);
                n = v;
            } else {
                int32_t v;
                std::memcpy(&v, e, sizeof v);
                n = v < 0 ? 0 : static_cast<uint32_t>(v);
            }
            if (n > c.width - prefix)
                n = static_cast<uint32_t>(c.width - prefix);
            out->assign(reinterpret_cast<const char*>(e + prefix), n);
            return 0;
        }
        case DS_WCHAR:
            *out = WideText(e, WideBoundedLen(e, c.width / 2));
            return 0;
        case DS_WCHARZ:
            *out = WideText(e, WideBoundedLen(e, c.width / 2));
            return 0;
        case DS_LONGWCHAR: {
            DS_REFVAL ref;
            std::memcpy(&ref, e, sizeof ref);
            if (ref.data != nullptr)
                *out = WideText(static_cast<const unsigned char*>(ref.data), ref.length);
            return 0;
        }
        case DS_WVARCHAR32: {
            if (c.width < 4)
                return ERR_GENERAL_ERROR;
            int32_t v;
            std::memcpy(&v, e, sizeof v);
            size_t n = v < 0 ? 0 : static_cast<size_t>(v);
            if (n > (c.width - 4) / 2)
                n = (c.width - 4) / 2;
            *out = WideText(e + 4, n);
            return 0;
        }
        default:
            return ERR_GENERAL_ERROR;
        }
    });
}

int scs_CatalogInt(const DATASET& rows, int col, int32_t row, int64_t* out, bool* isNull) {
    *out = 0;
    return ReadCell(rows, col, row, isNull, [&](const DATASET_COL& c, const unsigned char* e) -> int {
        auto read = [&](auto v) {
            std::memcpy(&v, e, sizeof v);
            *out = static_cast<int64_t>(v);
            return 0;
        };
        switch (c.type) {
        case DS_STINYINT: return read(int8_t{});
        case DS_SSHORT: return read(int16_t{});
        case DS_SLONG: return read(int32_t{});
        case DS_UTINYINT: return read(uint8_t{});
        case DS_USHORT: return read(uint16_t{});
        case DS_ULONG: return read(uint32_t{});
        case DS_SBIGINT: return read(int64_t{});
        default: return ERR_GENERAL_ERROR;
        }
    });
}

std::string scs_CatalogPattern(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 4);
    for (char c : name) {
        if (c == '\\' || c == '_' || c == '%')
            out += '\\';
        out += c;
    }
    return out;
}

std::string scs_Unquote(std::string_view text, char quote) {
    if (quote == 0 || text.size() < 2 || text.front() != quote || text.back() != quote)
        return std::string(text);
    std::string out;
    std::string_view inner = text.substr(1, text.size() - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == quote && i + 1 < inner.size() && inner[i + 1] == quote)
            ++i;
    }
    return out;
}

std::string scs_Quote(std::string_view text, char quote) {
    if (quote == 0)
        return std::string(text);
    std::string out(1, quote);
    for (char c : text) {
        out += c;
        if (c == quote)
            out += quote;
    }
    out += quote;
    return out;
}
