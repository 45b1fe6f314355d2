// Connection configuration.
#include "driver/objects/connconf.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "driver/frame/installer.h"
#include "util/log.h"
#include "util/utalloc.h"

const CONN_KEYWORD CONN_KEYWORDS[KW_COUNT] = {
    {"DSN", nullptr, 1, 0},
    {"UID", "UID", 1, 129},
    {"READONLY", "ReadOnly", 1, 5},
    {"PWD", "PWD", 0, 129},
    {"FBS", "FetchBufferSize", 1, 5},
    {"NLB", "NoLoginBox", 1, 5},
    {"MAXROWS", "MaxRows", 1, 5},
    {"NOAC", "NoAutoCommit", 1, 6},
    {"JET", "JET", 1, 6},
    {"NRSSL", "NoRowsetSizeLimit", 1, 6},
    {"DRIVER", nullptr, 1, 81},
    {"FDSN", "File DSN", 0, 5},
    {"INITSQL", "InitialSQL", 1, 81},
    {"DYN_CURS_SENSITIVITY", "DynCursSensitivity", 1, 10},
    {"DATABASENAME", "DatabaseName", 1, 81},
    {"HOSTNAME", "HostName", 1, 41},
    {"PORT", "Port", 1, 41},
    {"SHOWREMARKS", "ShowRemarks", 1, 6},
    {"FILEDSN", nullptr, 1, 256},
    {"SQLDBMSNAME", "SqlDbmsName", 1, 41},
    {"DEFTXNISO", "DefaultTxnIso", 1, 41},
    {"IV", "IncludeViews", 1, 5},
    {"IA", "IncludeAll", 1, 5},
};

namespace {

// Room for any value the installer library keeps (its lines hold at most 1000 bytes).
constexpr int CONF_READ_SIZE = 1024;

bool IsCont(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts a configuration answer to the row's length: bytes of single-byte text, or whole
// UTF-8 characters counted in UTF-16 units (a character beyond the BMP counts two), which
// bounds the value by four bytes per character.
void CutToLength(std::string& value, int32_t maxLength, int width) {
    if (maxLength <= 0)
        return;
    size_t limit = static_cast<size_t>(maxLength);
    if (width != 'W') {
        if (value.size() > limit)
            value.resize(limit);
        return;
    }
    size_t units = 0;
    size_t at = 0;
    while (at < value.size()) {
        auto lead = static_cast<unsigned char>(value[at]);
        size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        size_t next = at + 1;
        while (next < value.size() && next < at + len && IsCont(value[next]))
            ++next;
        size_t need = len == 4 ? 2 : 1;
        if (units + need > limit)
            break;
        units += need;
        at = next;
    }
    value.resize(at);
}

std::string ReadIni(const char* section, const char* setting) {
    std::vector<char> buf(CONF_READ_SIZE, '\0');
    InstGetPrivateProfileString(section, setting, "", buf.data(), CONF_READ_SIZE, CONN_ODBC_INI);
    std::string value = buf.data();
    explicit_bzero(buf.data(), buf.size());  // it may be a password
    return value;
}

// The "ODBC" section of a File DSN, read once per connect.
class FileDsn {
public:
    FileDsn() = default;
    FileDsn(const FileDsn&) = delete;
    FileDsn& operator=(const FileDsn&) = delete;
    ~FileDsn() {
        for (auto& [key, value] : entries_) {
            ConnWipe(key);
            ConnWipe(value);
        }
    }

    // Reads and parses the file the name stands for; a file that cannot be read is logged
    // and gives no entries, as a missing one does.
    void Load(const char* name) {
        std::string path = ConnFileDsnPath(name);
        std::string text;
        std::string why;
        if (!ConnReadFile(path, CONN_FILEDSN_MAX_BYTES, &text, &why)) {
            LOG_MSG(LOG_ERR, "unable to read File DSN %s (%s)", path.c_str(), why.c_str());
            return;
        }
        Parse(text);
        ConnWipe(text);
    }

    // The first value of the key in the "ODBC" section; false when there is none.
    bool Find(const char* key, std::string* value) const {
        for (const auto& [k, v] : entries_) {
            if (strcasecmp(k.c_str(), key) == 0) {
                *value = v;
                return true;
            }
        }
        return false;
    }

private:
    static std::string_view Trim(std::string_view s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
            s.remove_prefix(1);
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
            s.remove_suffix(1);
        return s;
    }

    // As the installer library reads an ini file: lines trimmed of blanks; ';' or '#'
    // begins a comment line; "[name]" begins a section; "key = value" splits at the first
    // '=' and both sides are trimmed; names are compared without regard to case.
    void Parse(std::string_view text) {
        bool inOdbc = false;
        while (!text.empty()) {
            size_t eol = text.find('\n');
            std::string_view line = Trim(text.substr(0, eol));
            text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
            if (line.empty() || line.front() == ';' || line.front() == '#')
                continue;
            if (line.front() == '[') {
                std::string_view name = line.substr(1, line.find(']') == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : line.find(']') - 1);
                inOdbc = name.size() == 4 && strncasecmp(name.data(), "ODBC", 4) == 0;
                continue;
            }
            size_t eq = line.find('=');
            if (!inOdbc || eq == std::string_view::npos)
                continue;
            entries_.emplace_back(std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1))));
        }
    }

    std::vector<std::pair<std::string, std::string>> entries_;
};

// The setting of one row from configuration; see ConnReadKeywords for the order.
//
// The installer's narrow calls are used for both libraries: they hand back the file's
// bytes, which are the Unicode library's own UTF-8. unixODBC's wide calls widen each byte
// on its own (sign-extended), which would turn every non-ASCII value into garbage.
std::string ReadSetting(const ConnKeywordValues& kw, const FileDsn& fileDsn, int row, int width) {
    const CONN_KEYWORD& k = CONN_KEYWORDS[row];
    std::string value;
    if (kw.has(KW_DSN)) {
        const char* dsn = kw.text(KW_DSN);
        value = ReadIni(dsn, k.setting);
        if (row == KW_UID && value.empty())
            value = ReadIni(dsn, "LastUser");
    } else if (kw.has(KW_FILEDSN)) {
        // A File DSN names its values by keyword, not by setting name.
        fileDsn.Find(k.keyword, &value);
    } else {
        value = ReadIni(CONN_DEFAULT_SECTION, k.setting);
    }
    CutToLength(value, k.maxLength, width);
    return value;
}

int FindKeyword(std::string_view key) {
    for (int row = 0; row < KW_COUNT; ++row) {
        const char* k = CONN_KEYWORDS[row].keyword;
        if (key.size() == std::strlen(k) && strncasecmp(key.data(), k, key.size()) == 0)
            return row;
    }
    return -1;
}

bool EqualsNoCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

bool ConnKeywordValues::truth(int row) const {
    const auto& v = rows_[row].value;
    return v && (EqualsNoCase(*v, "TRUE") || EqualsNoCase(*v, "YES"));
}

void ConnKeywordValues::Set(int row, std::string value, bool supplied, std::string_view given) {
    Row& r = rows_[row];
    if (r.value)
        ConnWipe(*r.value);
    ConnWipe(r.given);
    r.value = std::move(value);
    r.supplied = supplied;
    r.given.assign(given);
}

void ConnKeywordValues::Clear() {
    for (Row& r : rows_) {
        if (r.value)
            ConnWipe(*r.value);
        ConnWipe(r.given);
        r.value.reset();
        r.supplied = false;
    }
}

std::vector<ConnStrPair> ConnStrSplit(std::string_view text) {
    std::vector<ConnStrPair> pairs;
    size_t at = 0;
    while (at < text.size()) {
        size_t eq = text.find_first_of("=;", at);
        if (eq == std::string_view::npos)
            break;  // a last piece without '='
        if (text[eq] == ';') {
            at = eq + 1;  // a piece without '='
            continue;
        }
        ConnStrPair pair;
        pair.key = text.substr(at, eq - at);
        size_t v = eq + 1;
        size_t end = v;
        if (v < text.size() && text[v] == '{') {
            for (end = v + 1; end < text.size(); ++end) {
                if (text[end] != '}')
                    continue;
                if (end + 1 < text.size() && text[end + 1] == '}') {
                    ++end;
                    continue;
                }
                break;
            }
            pair.unterminated = end >= text.size();
        }
        end = text.find(';', end);
        if (end == std::string_view::npos)
            end = text.size();
        pair.raw = text.substr(v, end - v);
        pairs.push_back(pair);
        at = end + 1;
    }
    return pairs;
}

std::string ConnStrDecode(std::string_view raw) {
    std::string value;
    // Room for the whole value at once: a growing copy would leave parts of a password in
    // the blocks it outgrew.
    value.reserve(raw.size());
    if (raw.empty() || raw.front() != '{')
        return value.append(raw);
    for (size_t i = 1; i < raw.size(); ++i) {
        if (raw[i] == '}') {
            if (i + 1 < raw.size() && raw[i + 1] == '}') {
                value += '}';
                ++i;
                continue;
            }
            break;
        }
        value += raw[i];
    }
    return value;
}

bool ConnParseString(ConnKeywordValues& kw, std::string_view text, std::string* fault) {
    for (const ConnStrPair& pair : ConnStrSplit(text)) {
        int row = FindKeyword(pair.key);
        if (pair.unterminated) {
            // Read on, the rest of the string would silently become this value: a path
            // with the keywords after it in its name, or a password with them.
            if (fault != nullptr) {
                *fault = "Invalid connection string: the value of ";
                *fault += row >= 0 ? CONN_KEYWORDS[row].keyword : "a keyword";
                *fault += " opens a brace that is never closed";
            }
            return false;
        }
        if (row >= 0)
            kw.Set(row, ConnStrDecode(pair.raw), true, pair.raw);
    }
    return true;
}

bool ConnReadKeywords(ConnKeywordValues& kw, const char* text, int width, std::string* fault) {
    kw.Clear();
    if (text == nullptr)
        return true;
    if (!ConnParseString(kw, text, fault))
        return false;
    FileDsn fileDsn;
    if (!kw.has(KW_DSN) && kw.has(KW_FILEDSN))
        fileDsn.Load(kw.text(KW_FILEDSN));
    for (int row = 0; row < KW_COUNT; ++row) {
        if (kw.supplied(row) || CONN_KEYWORDS[row].setting == nullptr)
            continue;
        kw.Set(row, ReadSetting(kw, fileDsn, row, width), false);
    }
    return true;
}

bool ConnReadFile(const std::string& path, size_t maxBytes, std::string* contents, std::string* why) {
    contents->clear();
    auto fail = [&](std::string reason) {
        ConnWipe(*contents);
        *why = std::move(reason);
        return false;
    };
    // Non-blocking: opening a FIFO would otherwise wait for a writer that may never come.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::strerror(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail("not a regular file");
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        return fail("larger than " + std::to_string(maxBytes) + " bytes");
    // Room for the whole file at once: its bytes may be a password, and a growing buffer
    // would leave copies of them behind.
    contents->resize(static_cast<size_t>(st.st_size) + 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(CONN_FILE_READ_SECONDS);
    size_t have = 0;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline)
            return fail("reading took too long");
        ssize_t n = read(fd, contents->data() + have, contents->size() - have);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return fail(std::strerror(errno));
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
        if (have == contents->size()) {
            // It grew since fstat: read on only within the limit.
            if (have > maxBytes)
                return fail("larger than " + std::to_string(maxBytes) + " bytes");
            std::string larger;
            larger.resize(std::min(maxBytes + 1, 2 * have));
            std::memcpy(larger.data(), contents->data(), have);
            ConnWipe(*contents);
            contents->swap(larger);
        }
    }
    contents->resize(have);
    return true;
}

std::string ConnFileDsnPath(const char* name) {
    std::string path = name != nullptr ? name : "";
    if (path.empty() || path.front() != '/') {
        char folder[1024] = {};
        InstGetPrivateProfileString("ODBC", "FILEDSNPATH", "", folder, sizeof folder, "odbcinst.ini");
        std::string dir = folder;
        if (dir.empty()) {
            // The installer library's system folder: ODBCSYSINI, else where it was built
            // to look (/etc on Debian).
            const char* sys = std::getenv("ODBCSYSINI");
            dir = std::string(sys != nullptr && *sys != '\0' ? sys : "/etc") + "/ODBCDataSources";
        }
        path = dir + "/" + path;
    }
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".dsn") != 0)
        path += ".dsn";
    return path;
}

void ConnReadInitialSql(const ConnKeywordValues& kw, ConnInitialSql* out) {
    *out = ConnInitialSql{};
    if (!kw.has(KW_INITSQL))
        return;
    out->name = ut_FileExt(kw.text(KW_INITSQL), "sql", UT_EXT_ADD);
    std::string why;
    if (!ConnReadFile(out->name, CONN_INITSQL_MAX_BYTES, &out->text, &why)) {
        LOG_MSG(LOG_ERR, "unable to read from initial SQL file %s (%s)", out->name.c_str(), why.c_str());
        out->failure = why;
    }
}

std::string GetDsnDriverName(const ConnKeywordValues& kw) {
    if (!kw.has(KW_DSN))
        return std::string();
    return ReadIni("ODBC Data Sources", kw.text(KW_DSN));
}

const char* ConnIniSection(const ConnKeywordValues& kw) {
    // Never a null section: the installer library would then list the section names.
    return kw.has(KW_DSN) ? kw.text(KW_DSN) : CONN_DEFAULT_SECTION;
}

CONN_PROCESS_SETTINGS& ConnProcessSettings() {
    // Never destroyed: a connection may still be opened while the process exits.
    alignas(CONN_PROCESS_SETTINGS) static unsigned char storage[sizeof(CONN_PROCESS_SETTINGS)];
    static CONN_PROCESS_SETTINGS* settings = new (storage) CONN_PROCESS_SETTINGS;
    return *settings;
}

void ConnApplyProcessSettings(const ConnKeywordValues& kw) {
    CONN_PROCESS_SETTINGS& s = ConnProcessSettings();
    s.jet = kw.truth(KW_JET) ? 1 : 0;
    s.maxRows = ConnDecimal(kw.text(KW_MAXROWS));
    s.noAutoCommit = kw.truth(KW_NOAC) ? 1 : 0;
    s.noRowsetSizeLimit = kw.truth(KW_NRSSL) ? 1 : 0;
    switch (kw.text(KW_DYN_CURS_SENSITIVITY)[0]) {
    case 'D':
    case 'd': s.dynCursSensitivity = 2; break;
    case 'H':
    case 'h': s.dynCursSensitivity = 1; break;
    default: s.dynCursSensitivity = 0; break;
    }
    s.showRemarks = kw.truth(KW_SHOWREMARKS) ? 1 : 0;
    if (kw.has(KW_SQLDBMSNAME))
        s.sqlDbmsName = kw.text(KW_SQLDBMSNAME);
    if (kw.has(KW_DEFTXNISO)) {
        // The names as the configuration spells them; any other text is read committed.
        const char* iso = kw.text(KW_DEFTXNISO);
        if (std::strcmp(iso, "Read Uncommitted") == 0)
            s.defaultIsolation = 1;
        else if (std::strcmp(iso, "Repeatable Read") == 0)
            s.defaultIsolation = 4;
        else if (std::strcmp(iso, "Serializable") == 0)
            s.defaultIsolation = 8;
        else
            s.defaultIsolation = 2;
    }
}

int32_t ConnDecimal(const char* text) {
    if (text == nullptr)
        return 0;
    const char* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > INT32_MAX)
            return 0;  // not a number this setting can hold
    }
    return static_cast<int32_t>(negative ? -v : v);
}

std::string ConnStrValue(std::string_view value) {
    std::string out;
    ConnStrAppendValue(out, value);
    return out;
}

void ConnStrAppend(std::string& out, std::string_view text) {
    if (out.size() + text.size() > out.capacity()) {
        std::string larger;
        larger.reserve(2 * (out.size() + text.size()));
        larger.append(out);
        ConnWipe(out);
        out.swap(larger);
    }
    out.append(text);
}

void ConnStrAppendValue(std::string& out, std::string_view value) {
    if (value.find(';') == std::string_view::npos && (value.empty() || value.front() != '{')) {
        ConnStrAppend(out, value);
        return;
    }
    ConnStrAppend(out, "{");
    size_t from = 0;
    while (from < value.size()) {
        size_t close = value.find('}', from);
        size_t to = close == std::string_view::npos ? value.size() : close + 1;
        ConnStrAppend(out, value.substr(from, to - from));
        if (close != std::string_view::npos)
            ConnStrAppend(out, "}");  // doubled
        from = to;
    }
    ConnStrAppend(out, "}");
}

void ConnWipe(std::string& text) {
    if (!text.empty())
        explicit_bzero(text.data(), text.size());
    text.clear();
}

std::string ConnMaskPassword(std::string_view s) {
    // The pairs as the connect's own parser reads them: a second reading of the text could
    // end a password where the parser does not, and show the rest of it.
    std::string out;
    size_t copied = 0;
    for (const ConnStrPair& pair : ConnStrSplit(s)) {
        std::string_view key = pair.key;
        // Blanks around the keyword are trimmed here, though the parser does not: masking
        // one value too many costs nothing.
        while (!key.empty() && (key.front() == ' ' || key.front() == '\t'))
            key.remove_prefix(1);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.remove_suffix(1);
        auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
        if (key.size() != 3 || upper(key[0]) != 'P' || upper(key[1]) != 'W' || upper(key[2]) != 'D')
            continue;
        size_t at = static_cast<size_t>(pair.raw.data() - s.data());
        out.append(s.substr(copied, at - copied));
        out += "***";
        copied = at + pair.raw.size();
    }
    out.append(s.substr(copied));
    return out;
}
