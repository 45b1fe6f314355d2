// Connection configuration: the connect-string keywords with their data source setting
// names, the parser that fills one connect's values from the connect string and then from
// the configuration, the data source's driver name, and the process-wide settings that
// every connect rewrites and hands to the agent with its connect request.
//
// Precedence, highest first: the keyword in the connect string; the setting in the data
// source's section of "odbc.ini" (when DSN is given); the keyword in the "ODBC" section of
// the File DSN (when FILEDSN is given instead); the setting in the "Default" section of
// "odbc.ini". Every read of "odbc.ini" goes through the installer library
// (driver/frame/installer.h), which reads the user's file, then the system's; a File DSN
// is read by the driver itself, once per connect and within limits (ConnFileDsnPath).
//
// The values of one connect live in a ConnKeywordValues owned by that connect; passwords
// are wiped when it is emptied or goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Rows of the keyword table, in table order.
enum ConnKeyword : int {
    KW_DSN,
    KW_UID,
    KW_READONLY,
    KW_PWD,
    KW_FBS,
    KW_NLB,
    KW_MAXROWS,
    KW_NOAC,
    KW_JET,
    KW_NRSSL,
    KW_DRIVER,
    KW_FDSN,
    KW_INITSQL,
    KW_DYN_CURS_SENSITIVITY,
    KW_DATABASENAME,
    KW_HOSTNAME,
    KW_PORT,
    KW_SHOWREMARKS,
    KW_FILEDSN,
    KW_SQLDBMSNAME,
    KW_DEFTXNISO,
    KW_IV,
    KW_IA,
    KW_COUNT
};

struct CONN_KEYWORD {
    const char* keyword;    // matched without regard to case
    const char* setting;    // data source setting name; null: never read from configuration
    int32_t trace;          // 1: the value may be written to the trace
    int32_t maxLength;      // longest value taken from configuration, in characters
};

extern const CONN_KEYWORD CONN_KEYWORDS[KW_COUNT];

// The file name through which the installer library reads data source sections.
inline constexpr char CONN_ODBC_INI[] = "odbc.ini";
inline constexpr char CONN_DEFAULT_SECTION[] = "Default";

// One connect's keyword values. A row without a value is null (neither in the connect
// string nor read from configuration); a row read from configuration and found nowhere
// holds an empty text.
class ConnKeywordValues {
public:
    ConnKeywordValues() = default;
    ~ConnKeywordValues() { Clear(); }
    ConnKeywordValues(const ConnKeywordValues&) = delete;
    ConnKeywordValues& operator=(const ConnKeywordValues&) = delete;

    const std::optional<std::string>& value(int row) const { return rows_[row].value; }
    bool supplied(int row) const { return rows_[row].supplied; }
    // The value, or "" when there is none.
    const char* text(int row) const { return rows_[row].value ? rows_[row].value->c_str() : ""; }
    // The value is there and not empty.
    bool has(int row) const { return rows_[row].value && !rows_[row].value->empty(); }
    // The value is "TRUE" or "YES", in any case.
    bool truth(int row) const;

    // The value as the connect string wrote it (braces included); "" for a row it did not
    // give.
    const std::string& given(int row) const { return rows_[row].given; }

    void Set(int row, std::string value, bool supplied, std::string_view given = {});
    // Every value wiped and dropped, every row not supplied.
    void Clear();

private:
    struct Row {
        std::optional<std::string> value;
        bool supplied = false;
        std::string given;
    };
    std::array<Row, KW_COUNT> rows_;
};

// One "keyword=value" pair of a connect string, as views into the text.
struct ConnStrPair {
    std::string_view key;       // as written: nothing trimmed
    std::string_view raw;       // the value as written, braces included, up to the ';' or the end
    bool unterminated = false;  // the value opens a brace that it never closes; raw runs to the end
};

// The pairs of a connect string. This is the one reading of the syntax: the parser and
// everything that writes a connect string into a trace use it, so that both agree on
// where a password begins and ends. Pairs are separated by ';' and split at their first
// '='; a value that starts with '{' runs to the matching '}' ("}}" stands for one '}') and
// may hold ';' and '='; what follows the closing brace up to the next ';' belongs to no
// value; a piece without '=' is no pair.
std::vector<ConnStrPair> ConnStrSplit(std::string_view text);

// The value a pair's raw text stands for: without its braces, "}}" read as one '}'.
std::string ConnStrDecode(std::string_view raw);

// Fills the rows that the connect string gives (keywords compared with the table without
// regard to case and without trimming; unknown keywords are ignored; a keyword given twice
// keeps its last value). False when a value opens a brace that it never closes: the string
// cannot be read as its writer meant it, and *fault (when given) then says which value.
bool ConnParseString(ConnKeywordValues& kw, std::string_view text, std::string* fault = nullptr);

// Empties the table, then, for a text that is not null, fills it: first the keywords of
// the connect string (ConnParseString), then every row that the string did not give and
// that has a setting name, from the configuration. width 'W' means the values are UTF-8
// (cut at whole characters), else single-byte text. False, with nothing read from the
// configuration, when the connect string is refused (see ConnParseString).
bool ConnReadKeywords(ConnKeywordValues& kw, const char* text, int width, std::string* fault = nullptr);

// The driver description that the data source list ("ODBC Data Sources" of "odbc.ini")
// gives for the DSN value; empty when there is none.
std::string GetDsnDriverName(const ConnKeywordValues& kw);

// The section of "odbc.ini" that the connect names: the DSN value, else "Default".
const char* ConnIniSection(const ConnKeywordValues& kw);

// Limits of the files a connect reads itself. A File DSN holds a few dozen entries.
inline constexpr size_t CONN_FILEDSN_MAX_BYTES = 64 * 1024;
inline constexpr size_t CONN_INITSQL_MAX_BYTES = 1024 * 1024;
inline constexpr int CONN_FILE_READ_SECONDS = 10;

// Reads a whole file that a connect names: opened without waiting, read only when it is a
// regular file (a FIFO, device or directory is refused, never waited on), at most maxBytes,
// giving up after CONN_FILE_READ_SECONDS. True with the contents; false with *why saying
// what went wrong, and contents empty.
bool ConnReadFile(const std::string& path, size_t maxBytes, std::string* contents, std::string* why);

// The file that a File DSN name stands for, as the installer library resolves it: ".dsn"
// appended unless the name ends in it; a relative name taken in the File DSN folder
// (FILEDSNPATH of the "ODBC" section of odbcinst.ini, else "ODBCDataSources" in the
// installer's system folder). The driver reads the file itself, once per connect, with the
// limits of ConnReadFile, so that no read of the installer's can wait on it.
std::string ConnFileDsnPath(const char* name);

// The initial SQL file one connect names, read before the connect takes its locks.
struct ConnInitialSql {
    std::string name;     // the file's final name; "" when the connect names none
    std::string text;     // its contents
    std::string failure;  // why it could not be read; "" when it was
};

// Reads the file that the INITSQL value names; the name gains ".sql" when its last
// component has no extension. A failure is logged (ERROR "unable to read from initial SQL
// file %s (%s)") and kept in failure.
void ConnReadInitialSql(const ConnKeywordValues& kw, ConnInitialSql* out);

// The settings that every connect rewrites from its keyword values, so that the last
// connect's values hold; a connect whose DEFTXNISO or SQLDBMSNAME is empty keeps the
// earlier value. The connection opener copies them into the agent's connect request
// (OA_CONNREQ::settings) and the DBMS name goes with it: a later connect answers it only
// when its own configuration names it again. The agent never reads this block.
struct CONN_PROCESS_SETTINGS {
    int32_t dynCursSensitivity = 0;  // 0 low, 1 high, 2 disabled
    int32_t jet = 0;                 // JET mode
    int32_t noAutoCommit = 0;
    int32_t maxRows = 0;             // 0: no limit
    int32_t noRowsetSizeLimit = 0;
    int32_t showRemarks = 0;
    std::string sqlDbmsName;         // "" when none
    uint32_t defaultIsolation = 0;   // ODBC value 1, 2, 4 or 8; 0 when not configured
};

// The one block of the process. Read and written under the connect lock.
CONN_PROCESS_SETTINGS& ConnProcessSettings();

// Rewrites the process-wide settings from the values. Connect lock held. The initial SQL
// file is no such setting: it travels with its connect (ConnReadInitialSql).
void ConnApplyProcessSettings(const ConnKeywordValues& kw);

// The leading decimal number of a text (optional sign, digits); 0 when there is none.
int32_t ConnDecimal(const char* text);

// A value as it must be written into a connect string so that it reads back as one
// value: in braces, with '}' doubled, when it holds ';' or begins with '{'; else as it is.
std::string ConnStrValue(std::string_view value);
// The same appended to out. Out never moves to a larger buffer without wiping the one it
// leaves, so that a connect string holding a password leaves no copy of it behind.
void ConnStrAppend(std::string& out, std::string_view text);
void ConnStrAppendValue(std::string& out, std::string_view value);

// Overwrites the text's bytes before it is dropped: for passwords.
void ConnWipe(std::string& text);

// The connect string with the value of every PWD keyword written as "***", for any text
// that carries a connect string into a trace or log line. The pairs are those the
// connect's parser reads (ConnStrSplit), so the mask ends where the parser's password does.
std::string ConnMaskPassword(std::string_view connStr);
