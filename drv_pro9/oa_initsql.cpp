// The initial SQL file of a data source, run once on a new connection.
#include "drv_pro9/oa_initsql.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "util/log.h"
#include "util/utalloc.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The whole file as one NUL-terminated text; false after the file's ERROR line.
bool ReadWhole(const std::string& name, std::vector<char>& text) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    if (!file) {
        LOG_MSG(LOG_ERR, "unable to read from initial SQL file %s (%m)", name.c_str());
        return false;
    }
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0) {
        LOG_MSG(LOG_ERR, "stat failed on %s (%m)", name.c_str());
        return false;
    }
    auto size = static_cast<size_t>(st.st_size > 0 ? st.st_size : 0);
    text.assign(size + 1, '\0');
    errno = 0;
    if (std::fread(text.data(), 1, size, file.get()) < size) {
        LOG_MSG(LOG_ERR, "read error on %s (%m)", name.c_str());
        return false;
    }
    return true;
}

// Frees the statement whatever happens to the run.
struct StmtGuard {
    uint32_t id = 0;
    ~StmtGuard() {
        if (id != 0)
            OA_FreeStmt(id);
    }
};

}  // namespace

int OA_RunInitialSql(uint32_t connHandle, const char* fileName) {
    if (oa_FindConn(connHandle) == nullptr || fileName == nullptr)
        return -1;
    std::string name = ut_FileExt(fileName, "sql", UT_EXT_ADD);
    std::vector<char> text;
    if (!ReadWhole(name, text))
        return -1;

    // The prepare translates the escapes; the text goes to it untranslated, so that it is
    // translated once.
    StmtGuard stmtId;
    if (OA_AllocStmt(connHandle, &stmtId.id) != 0 || OA_Prepare(stmtId.id, text.data()) != 0) {
        LOG_MSG(LOG_ERR, "preparation of %s failed", name.c_str());
        return -1;
    }
    OA_STMT* stmt = oa_FindStmt(stmtId.id);
    // The run is one statement like any other: without a transaction step its changes
    // would wait in an open transaction to be committed by accident or lost at disconnect.
    int rc = db_TxnBegin(stmt);
    if (rc == 0) {
        DB_CURSOR* cursor = stmt->cursor;
        rc = DB_ExecImmediate(cursor->db, cursor->handle, cursor->paramCount != 0 ? cursor->bind.input : nullptr,
                              &stmt->errors);
        int end = db_TxnEndStatement(stmt, rc);
        if (rc == 0)
            rc = end;
    }
    if (rc != 0) {
        LOG_MSG(LOG_ERR, "execution of %s failed", name.c_str());
        return -1;
    }
    return 0;
}

int OA_RunConnInitialSql(uint32_t connHandle) {
    const OA_CONN* conn = oa_FindConn(connHandle);
    if (conn == nullptr)
        return -1;
    if (conn->initSqlFile == nullptr || conn->initSqlFile.get()[0] == '\0')
        return 0;
    return OA_RunInitialSql(connHandle, conn->initSqlFile.get());
}
