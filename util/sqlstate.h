// The SQLSTATE table: for every internal error code, the SQLSTATE in ODBC 2 form and the
// message. A code is the row's number (util/errcode.h names them); the agent and the
// ODBC layer read the same table. Unused rows have an empty state and message, and a
// code that lands on one is treated like a code beyond the table.
#pragma once

#include <string_view>

#include "util/errcode.h"

struct SQLSTATE_ROW {
    int code;             // equals the row's index; checked below
    const char* state;    // five characters, or "" for an unused row
    const char* message;  // "" for an unused row
};

inline constexpr SQLSTATE_ROW SQLSTATE_TABLE[ERR_TABLE_LAST + 1] = {
    {  0, "", ""},
    {  1, "IM001", "Driver does not support this function"},
    {  2, "IM002", "Data source not found and no default driver specified"},
    {  3, "IM003", "Driver specified by data source could not be loaded"},
    {  4, "IM004", "Driver's SQLAllocEnv failed"},
    {  5, "IM005", "Driver's SQLAllocConnect failed"},
    {  6, "IM006", "Driver's SQLSetConnectOption failed"},
    {  7, "IM007", "No data source specified"},
    {  8, "IM009", "Unable to load translation DLL"},
    {  9, "42S01", "Base table or view already exists"},
    { 10, "42S02", "Table or view not found"},
    { 11, "42S11", "Index already exists"},
    { 12, "42S12", "Index not found"},
    { 13, "42S21", "Column already exists"},
    { 14, "42S22", "Column not found"},
    { 15, "S1000", "General error"},
    { 16, "S1001", "Memory allocation failure"},
    { 17, "S1002", "Invalid column number"},
    { 18, "S1003", "Program type out of range"},
    { 19, "01004", "Data was truncated"},
    { 20, "S1008", "Operation cancelled"},
    { 21, "S1009", "Invalid argument value"},
    { 22, "S1010", "Function sequence error"},
    { 23, "S1012", "Invalid transaction operation code"},
    { 24, "S1015", "No cursor name available"},
    { 25, "S1090", "Invalid string or buffer length"},
    { 26, "S1091", "Descriptor type out of range"},
    { 27, "S1092", "Option type out of range"},
    { 28, "S1093", "Invalid parameter number"},
    { 29, "S1094", "Invalid scale value"},
    { 30, "S1095", "Function type out of range"},
    { 31, "S1096", "Information type out of range"},
    { 32, "S1098", "Scope type out of range"},
    { 33, "S1099", "Nullable type out of range"},
    { 34, "S1100", "Uniqueness option type out of range"},
    { 35, "S1101", "Accuracy option type out of range"},
    { 36, "S1102", "Table type out of range"},
    { 37, "S1103", "Direction option out of range"},
    { 38, "S1106", "Fetch type out of range"},
    { 39, "S1107", "Row value out of range"},
    { 40, "S1108", "Concurrency option out of range"},
    { 41, "S1109", "Invalid cursor position"},
    { 42, "S1110", "Invalid driver completion"},
    { 43, "S1C00", "Driver not capable"},
    { 44, "S1DE0", "No data at execution values pending"},
    { 45, "S1T00", "Timeout expired"},
    { 46, "01006", "Privilege not revoked"},
    { 47, "01S00", "Invalid connection string attribute"},
    { 48, "07001", "Wrong number of parameters"},
    { 49, "07006", "Restricted datatype attribute violation"},
    { 50, "08001", "Unable to connect to data source"},
    { 51, "08002", "Connection in use"},
    { 52, "08003", "Connection not open"},
    { 53, "08004", "Connection rejected by data source"},
    { 54, "08S01", "Communication link failure"},
    { 55, "21S01", "Insert value list does not match column list"},
    { 56, "21S02", "Degree of derived table does not match column list"},
    { 57, "22001", "String data right truncation"},
    { 58, "22003", "Numeric value out of range"},
    { 59, "22005", "Error in assignment"},
    { 60, "22008", "Date overflow"},
    { 61, "22012", "Division by zero"},
    { 62, "22026", "String length mismatch"},
    { 63, "23000", "Integrity violation"},
    { 64, "24000", "Invalid cursor state"},
    { 65, "25000", "Invalid transaction state"},
    { 66, "28000", "Invalid authorization specification"},
    { 67, "34000", "Invalid cursor name"},
    { 68, "37000", "Syntax error or access"},
    { 69, "3C000", "Duplicate cursor name"},
    { 70, "40001", "Serialization failure"},
    { 71, "42000", "Access violation"},
    { 72, "70100", "Operation aborted"},
    { 73, "IM901", "No more results"},
    { 74, "IM902", "Datasource completed operation with warning"},
    { 75, "01S02", "Option Value Changed"},
    { 76, "IM903", "Client Installation Problem Detected. ReInstall."},
    { 77, "IM904", "Specified Dynamic Interface Library Unavailable"},
    { 78, "", ""},
    { 79, "01S05", "SQLCancel closed the statement"},
    { 80, "IM906", "Agent has output parameter values"},
    { 81, "01S01", "Error in row"},
    { 82, "IM907", "No data found"},
    { 83, "IM908", "Invalid keyset size"},
    { 84, "IM909", "No key columns found for table referenced by scrollable cursor."},
    { 85, "IM910", "Attempt to fetch before start of result set."},
    { 86, "IM911", "Attempt to fetch beyond end of result set."},
    { 87, "IM912", "Result set was created by a join condition."},
    { 88, "IM913", "SELECT statement contains a GROUP BY clause."},
    { 89, "IM914", "SELECT statement contains a UNION clause."},
    { 90, "IM915", "Result set was not generated by a SELECT statement."},
    { 91, "01S03", "No rows updated or deleted."},
    { 92, "01S04", "More than one row updated or deleted."},
    { 93, "S1011", "Operation invalid at this time."},
    { 94, "S1111", "Invalid bookmark value."},
    { 95, "IM916", "Only SELECT statements are allowed during a read-only connection."},
    { 96, "IM917", "Parameter arrays are not supported with positioned requests."},
    { 97, "IM918", "Duplicate table name. Require owner qualifier to resolve."},
    { 98, "IM921", "Connection is busy with results for another hstmt."},
    { 99, "IM919", "Ordering on an expression is not supported."},
    {100, "07009", "Invalid descriptor index"},
    {101, "IM920", "Too many updates by other users occurred whilst fetching keyset."},
    {102, "IM922", "Agent needs DATA_AT_EXEC data."},
    {103, "IM923", "SELECT statement contains a scalar aggregate."},
    {104, "01S07", "Fractional truncation"},
    {105, "01000", "General warning"},
    {106, "01001", "Cursor operation conflict"},
    {107, "01002", "Disconnect error"},
    {108, "01003", "NULL value eliminated in set function"},
    {109, "01004", "String data, right truncated"},
    {110, "01007", "Privilege not granted"},
    {111, "01S06", "Attempt to fetch before the resultset returned the first rowset"},
    {112, "01S08", "Error saving File DSN"},
    {113, "01S09", "Invalid keyword"},
    {114, "07002", "COUNT field incorrect"},
    {115, "07005", "Prepared statement not a cursor-specification"},
    {116, "07S01", "Invalid use of default parameter"},
    {117, "08007", "Connection failure during transaction"},
    {118, "22002", "Indicator variable required but not supplied"},
    {119, "22007", "Invalid datetime format"},
    {120, "22015", "Interval field overflow"},
    {121, "22018", "Invalid character value for cast specification"},
    {122, "22019", "Invalid escape character"},
    {123, "22025", "Invalid escape sequence"},
    {124, "25S01", "Transaction state"},
    {125, "25S02", "Transaction is still active"},
    {126, "25S03", "Transaction is rolled back"},
    {127, "3D000", "Invalid catalog name"},
    {128, "3F000", "Invalid schema name"},
    {129, "40003", "Statement completion unknown"},
    {130, "S1013", "Memory management error"},
    {131, "S1014", "Limit on the number of handles exceeded"},
    {132, "S1016", "Cannot modify an implementation row descriptor"},
    {133, "S1017", "Invalid use of an automatically allocated descriptor handle"},
    {134, "S1018", "Server declined cancel request"},
    {135, "S1019", "Non-character and non-binary data sent in pieces"},
    {136, "S1020", "Attempt to concatenate a NULL value"},
    {137, "S1021", "Inconsistent descriptor information"},
    {138, "S1024", "Invalid Attribute value"},
    {139, "S1097", "Column type out of range"},
    {140, "S1104", "Invalid precision or scale value"},
    {141, "S1T01", "Connection timeout expired"},
    {142, "IM008", "Dialog failed"},
    {143, "IM010", "Data source name too long"},
    {144, "IM011", "Driver name too long"},
    {145, "IM012", "DRIVER keyword syntax error"},
    {146, "IM013", "Trace file error"},
    {147, "IM014", "Invalid name of File DSN"},
    {148, "IM015", "Corrupt file data source"},
    {149, "IM924", "Bulk operations are not supported on this cursor type"},
    {150, "IM925", "Bookmark refers to row outside the current rowset"},
    {151, "IM926", "Check that the table KVRRVC exists"},
    {152, "", ""},
    {153, "IM928", "Outer joins on a scrollable cursor require a static cursor"},
    {154, "", ""},
    {155, "", ""},
    {156, "", ""},
    {157, "", ""},
    {158, "", ""},
    {159, "", ""},
    {160, "IM929", "SQLMoreResults on a scrollable cursor requires a static or forward-only cursor"},
    {161, "IM930", "SQLMoreResults on a scrollable cursor requires read-only concurrency"},
    {162, "S1000", "Only DDL and DML command can be executed"},
    {163, "S1004", "SQL data type out of range"},
    {164, "IM931", "Invalid character in hex literal"},
    {165, "42000", "Statement(s) could not be prepared"},
    {166, "IM600", "SSL initialization failure"},
    {167, "IM601", "The server does not support SSL"},
    {168, "", ""},
    {169, "", ""},
    {170, "IM932", "Enlistment in DTC transaction failed "},
    {171, "IM933", "Thread pool: Worker thread task assignment failure"},
    {172, "IM934", "SQL statement can only be prepared on a static or forward-only cursor"},
    {173, "", ""},
    {174, "", ""},
    {175, "", ""},
    {176, "", ""},
    {177, "", ""},
    {178, "", ""},
    {179, "", ""},
    {180, "S1105", "Invalid parameter type"},
    {181, "", ""},
    {182, "", ""},
    {183, "IM500", "Failover completed."},
    {184, "IM501", "Failover aborted."},
};

// The row of a code, or null for 0, a negative code, a code beyond the table and an
// unused row.
constexpr const SQLSTATE_ROW* SqlStateRow(int code) {
    if (code <= 0 || code > ERR_TABLE_LAST)
        return nullptr;
    const SQLSTATE_ROW& row = SQLSTATE_TABLE[code];
    return row.state[0] != '\0' ? &row : nullptr;
}

namespace sqlstate_check {

constexpr bool RowsAreNumbered() {
    for (int i = 0; i <= ERR_TABLE_LAST; ++i)
        if (SQLSTATE_TABLE[i].code != i)
            return false;
    return true;
}

constexpr bool RowsAreWellFormed() {
    for (const SQLSTATE_ROW& row : SQLSTATE_TABLE) {
        std::string_view state(row.state);
        std::string_view message(row.message);
        if (state.size() != 0 && state.size() != 5)
            return false;
        if (state.empty() != message.empty())
            return false;
    }
    return SQLSTATE_TABLE[0].state[0] == '\0';
}

constexpr bool Holds(int code, std::string_view state) {
    return code > 0 && code <= ERR_TABLE_LAST && state == SQLSTATE_TABLE[code].state;
}

constexpr bool Unused(int code) { return SQLSTATE_TABLE[code].state[0] == '\0'; }

static_assert(RowsAreNumbered(), "a row of SQLSTATE_TABLE is out of place");
static_assert(RowsAreWellFormed(), "a row of SQLSTATE_TABLE is malformed");
static_assert(Holds(ERR_GENERAL_ERROR, "S1000") && Holds(ERR_DATA_WAS_TRUNCATED, "01004") &&
              Holds(ERR_FUNCTION_SEQUENCE_ERROR, "S1010") && Holds(ERR_INVALID_STRING_OR_BUFFER_LENGTH, "S1090") &&
              Holds(ERR_SQLCANCEL_CLOSED_THE_STATEMENT, "01S05") && Holds(ERR_FAILOVER_ABORTED, "IM501"),
              "SQLSTATE_TABLE disagrees with util/errcode.h");
static_assert(Unused(78) && Unused(152) && Unused(ERR_TABLE_LAST - 2));

}  // namespace sqlstate_check
