// esql92_script.h: the scripted back-end of the ESQL-92 client stand-in, for unit tests of the
// database agent (link esql92_scripted).
//
// While an esql92::Script lives, every tpe_* call is answered from it instead of SQLite and is
// recorded; the PRO_SQLDA_* calls, tpe_sqlc_clear and esql92_value_to_text work as always. A
// test scripts what the server says (result descriptions, rows, affected counts, failures
// with several messages) and reads back the calls the agent made, in order.
//
// Unless scripted to fail, every call succeeds: any connection name connects and can be made
// current, end of transaction and mark abort just succeed, a prepare takes the next scripted
// result. Fetches write the scripted rows into the bound SQLDA columns through the same
// conversions as the SQLite back-end, so a Cell of text "2012/03/04" fetched into a DATE
// column arrives as the DATE layout; a block that reaches the end of the rows answers 100
// with the rows it delivered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/esql92/esql92.h"

namespace esql92 {

// One message of a scripted failure.
struct Message {
    int32_t code;            // negative native code
    std::string sqlstate;    // five characters
    std::string text;
};

// A described result column or parameter.
struct Column {
    std::string name;
    int32_t type = ESQL_VARCHAR;
    uint32_t precision = 0;  // declared length (text, binary) or precision (NUMERIC)
    int16_t scale = 0;
    int16_t nullable = 1;
    int16_t updatable = 0;
};

// One value of a scripted row as the server holds it: NULL, an integer, a double, text (also
// DATE, TIME and TIMESTAMP in the server's literal forms and NUMERIC as decimal text), or bytes.
class Cell {
public:
    enum Kind { Null, Int, Real, Text, Bytes };

    Cell() = default;
    Cell(std::nullptr_t) {}
    Cell(int v) : kind_(Int), i_(v) {}
    Cell(int64_t v) : kind_(Int), i_(v) {}
    Cell(double v) : kind_(Real), d_(v) {}
    Cell(const char* text) : kind_(Text), s_(text) {}
    Cell(std::string text) : kind_(Text), s_(std::move(text)) {}
    static Cell bytes(std::string b) {
        Cell c;
        c.kind_ = Bytes;
        c.s_ = std::move(b);
        return c;
    }

    Kind kind() const { return kind_; }
    int64_t integer() const { return i_; }
    double real() const { return d_; }
    const std::string& text() const { return s_; }

private:
    Kind kind_ = Null;
    int64_t i_ = 0;
    double d_ = 0;
    std::string s_;
};

using Row = std::vector<Cell>;

// What the server answers for one prepared statement.
struct Result {
    std::vector<Column> columns = {};   // tpe_sqldescribe
    std::vector<Row> rows = {};         // tpe_sqlfetch
    std::vector<Column> params = {};    // tpe_sqldescribe_input
};

class Script {
public:
    // Installs the scripted back-end; only one Script may live at a time.
    Script();
    // Goes back to the SQLite back-end and forgets the script and its cursors.
    ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    // The next tpe_sqlprepare takes the next result (none left: no columns, rows or params).
    void addResult(Result result);
    // The next tpe_sqlexecute reports this many rows affected (none left: 0).
    void addAffected(int64_t rows);
    // The next call with this name ("tpe_sqlconnect", "tpe_sqlfetch", ...) fails with these
    // messages, the first in the SQLCA and the others through tpe_sqlc_clear; it has no other
    // effect. Several failures of one name are used in order.
    void failNext(const std::string& call, std::vector<Message> messages);
    // The level tpe_tm_get_level answers until tpe_tm_set_level changes it (first: 1).
    void setLevel(int level);

    // Every tpe_* call so far, in order, as one line each:
    //   tpe_sqlconnect <target> <name> <user> <password>
    //   tpe_get_curdbhdl | tpe_get_curtmhdl | tpe_tm_get_level | tpe_tm_end_trans | tpe_tm_mark_abort
    //   tpe_sql_disconnect <scope> <name> | tpe_sql_setconnection <name> | tpe_tm_set_level <level>
    //   tpe_set_cursor #<n> <identity as 32 hex digits> <kind> <text>
    //   tpe_set_cursorname #<n> <name>
    //   tpe_sqlprepare #<n> | tpe_sqldescribe #<n> | tpe_sqldescribe_input #<n> | tpe_sqlclose #<n>
    //   tpe_sqldeclare #<n> [<rows>] | tpe_sqlopen #<n> [<rows>] | tpe_sqlexecute #<n> [<rows>]
    //   tpe_sqlfetch #<n> <rows asked>
    // #<n> numbers cursors from 1 in the order they were set up; <rows> are the parameter rows
    // of the input SQLDA, each as (v1, v2, ...) with NULL, 12, 1.5, 'text' or x'0aff'.
    const std::vector<std::string>& calls() const;
    // The calls so far, which are then forgotten.
    std::vector<std::string> takeCalls();
};

}  // namespace esql92
