// Procedure calls and the statement accessors of the agent.
//
// A procedure call ({call p(...)} or {? = call p(...)}, translated to "CALL p(...)") is
// prepared and executed here: its parameters carry kinds (input, input/output, output)
// from the application's descriptions, which are checked against the described
// parameters and the parameter values before anything is bound. The output side is bound
// into an output dataset of the cursor; nothing hands those values, or a call's return
// value, back to the application yet, so a call with output parameters settles its
// autocommit transaction when its cursor is closed.
//
// Beside it: the column-attribute table of a described result, the marking of a
// connection's statements after an end of transaction, and the small operations through
// which the cursor and catalog code read and change an agent statement.
#pragma once

#include <cstdint>

struct COLDESC;
struct DATASET;
struct DATASET_COL;
struct OA_COLATTRREQ;
struct OA_CONN;
struct OA_STMT;
struct PARAM_DESC;

// ---- Procedure calls -------------------------------------------------------------------

// Prepares a call: sets its cursor up, describes result columns and parameters (each
// parameter named by its direction), and marks the statement described (STMT_DESCRIBED).
// The first failing step's code.
int OA_PrepareCall(OA_STMT* stmt);

// The execute core of a call: settles the return-value flags, checks and binds the
// parameters (OA_CheckParamKinds; a failure closes the cursor), begins a transaction,
// opens or executes the cursor, sets STMT_EXECUTED and, with output parameters,
// STMT_OUT_PENDING. In autocommit the transaction is committed unless output values are
// pending; then the cursor's close commits it.
int OA_ExecuteCursor(OA_STMT* stmt);

// The application's descriptions must cover the described parameters (else 48, 07001)
// and carry kinds 1, 2 or 4 only (else the ERROR line "invalid parameter type SQL_PARAM_xxx
// encountered" and 15). Keeps the three counts. Unless every input and input/output
// parameter has its column in the parameter values (else the WARNING line "execute without
// prior parameters set" and 48), binds the output side and then the input side.
int OA_CheckParamKinds(OA_STMT* stmt);

// ---- Column attributes -----------------------------------------------------------------

constexpr int OA_COLATTR_PER_COLUMN = 10;

// (columns + 1) x 10 requests for columns 0 to columns, from the template of attribute
// codes 11, 12, -13, 10, 14, 27, 28, 1053, 35, 1055. 0, or 16 (nothing made).
int OA_ColAttrTemplate(uint16_t columns, OA_COLATTRREQ** out, uint32_t* count);
// Frees the requests with their texts; null is ignored.
void OA_ColAttrFree(OA_COLATTRREQ* reqs, uint32_t count);
// Builds the statement's table for its result columns and answers the requests of each
// column from its description and updatability (db_ColAttribute). 0 or 16.
int OA_ColAttrFill(OA_STMT* stmt);

// ---- Connection and text helpers -------------------------------------------------------

// Marks every agent statement of the connection to set its ESQL cursor up again
// (STMT_CURSOR_RESET), under the statement table's lock.
void OA_MarkConnStmts(OA_CONN* conn);
// Every byte 0x01 of the text becomes '?'; null is ignored.
void db_MarkToQuestion(char* text);

// ---- Statement accessors ---------------------------------------------------------------

// Descriptions, numbered from 1; null when out of range.
COLDESC* oa_StmtResultDesc(OA_STMT* stmt, uint16_t n);
COLDESC* oa_StmtParamDesc(OA_STMT* stmt, uint16_t n);
COLDESC* oa_StmtOutDesc(OA_STMT* stmt, uint16_t n);
// Replace the array by n zeroed result descriptions / n parameter descriptions preset as
// "*I", server type -9999, SQL type 12, nullability 2, internal type 17 / n zeroed output
// descriptions. 0, or 16 (no array then).
int oa_StmtAllocResultDescs(OA_STMT* stmt, uint16_t n);
int oa_StmtAllocParamDescs(OA_STMT* stmt, uint16_t n);
int oa_StmtAllocOutDescs(OA_STMT* stmt, uint16_t n);
// Names parameter n "*U" (update: its value also comes back) or "*I". 21 out of range.
int oa_StmtNameParam(OA_STMT* stmt, uint16_t n, bool update);
// Name, server type, SQL type, flags, size, digits, display size, internal type and width
// from one description to another (the owned texts stay). 15 when either is null.
int oa_CopyColDesc(COLDESC* to, const COLDESC* from);
// Replaces the cursor's output dataset by one laid out from the output descriptions, with
// as many rows as the parameter values use (1 without values). *out (required, else 21)
// gets it; the cursor keeps it. 0 or 16.
int oa_StmtOutputDataset(OA_STMT* stmt, DATASET** out);
// The application's parameter descriptions and their count; 15 when there are none.
int oa_StmtParamDescs(OA_STMT* stmt, const PARAM_DESC** descs, uint16_t* count);
// Column n (from 0) of the parameter values, or null.
DATASET_COL* oa_StmtParamColumn(OA_STMT* stmt, uint16_t n);
// Rows used of the parameter values; 1 without values.
int32_t oa_StmtParamRows(const OA_STMT* stmt);
// Whether the statement runs one current parameter row (parameter mode 1), and that row.
bool oa_StmtSingleRowMode(const OA_STMT* stmt, int32_t* row);
// Tests and clears STMT_CURSOR_RESET.
bool oa_StmtTakeCursorReset(OA_STMT* stmt);
