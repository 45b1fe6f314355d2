// Descriptor fields, records, copies and column description against the scripted agent:
// which kind of descriptor has which field, the fields a type derives, the lengths of C
// types, every route that unbinds (the statement's bindings must let go of the buffer),
// the consistency check, parameters set through descriptors, copies, and the column
// attributes of a described result with a hidden column and a labelled one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/handlers/colattr.h"
#include "driver/handlers/descfield.h"
#include "driver/handlers/descrec.h"
#include "driver/handlers/stmtattr.h"
#include "driver/objects/desc.h"
#include "driver/objects/param.h"
#include "util/errcode.h"

namespace {

using namespace conn_fixture;

struct Col {
    const char* name;
    int32_t sqlType;
    uint32_t size;
    int16_t digits;
    uint32_t display;
    const char* label = nullptr;
};
std::vector<Col> g_cols;

int FakeAllocStmt(uint32_t, uint32_t* out) {
    static uint32_t next = 0xCCCC1001;
    *out = next++;
    return 0;
}
int FakeFreeStmt(uint32_t) { return 0; }
int FakeCloseCursor(uint32_t) { return 0; }
int FakeDescribeCols(uint32_t, uint16_t* count, COLDESC** out) {
    *count = static_cast<uint16_t>(g_cols.size());
    *out = ds_ColDescAlloc(*count);
    for (size_t i = 0; i < g_cols.size(); ++i) {
        COLDESC& d = (*out)[i];
        std::strcpy(d.name, g_cols[i].name);
        d.sqlType = g_cols[i].sqlType;
        d.columnSize = g_cols[i].size;
        d.decimalDigits = g_cols[i].digits;
        d.displaySize = g_cols[i].display;
        d.flags = SQL_NULLABLE;
        d.label = g_cols[i].label != nullptr ? strdup(g_cols[i].label) : nullptr;
        d.table = strdup("T");
    }
    return 0;
}

const OA_OPTABLE kDescTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeFreeStmt;
    t.DRV_CloseCursor = FakeCloseCursor;
    t.DRV_DescribeCols = FakeDescribeCols;
    return t;
}();

int BindDescTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kDescTable;
    return 0;
}

SQLPOINTER V(intptr_t v) {
    return reinterpret_cast<SQLPOINTER>(v);
}

class DescTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        ConnSetOpTableBinder(BindDescTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        conn->cn_hasParamOp = 1;
        stmt = NewStmt();
        ASSERT_NE(stmt, nullptr);
        g_cols = {{"A", SQL_INTEGER, 10, 0, 11}, {"B", SQL_VARCHAR, 20, 0, 20}};
    }
    STMT* NewStmt() {
        SQLHANDLE h = nullptr;
        if (DoAllocStmt(conn, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
    }
    DESC* NewDesc() {
        SQLHANDLE h = nullptr;
        if (DoAllocDesc(conn, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<DESC*>(hdl_Lookup(&Drv().descTable, HandleId(h)));
    }
    // Makes stmt hold the described result of g_cols.
    void Prepared() {
        StmtFreeResultDescs(stmt);
        stmt->state = STMT_STATE_PREPARED;
    }
    SQLRETURN Set(DESC* d, int rec, int field, SQLPOINTER v) { return DescSetField(d, rec, field, v, 0, 'A'); }
    // A numeric field read whole (8 bytes, whatever its width), or the error code negated.
    int64_t Get(DESC* d, int rec, int field) {
        int64_t v = 0;
        SQLLEN len = 0;
        SQLRETURN rc = DescGetField(d, rec, field, &v, SQL_IS_POINTER, &len, 'A');
        if (rc == SQL_NO_DATA)
            return -100000;
        if (rc != SQL_SUCCESS)
            return -d->diag.errCode;
        return len == 2 ? static_cast<int16_t>(v) : len == 4 ? static_cast<int32_t>(v) : v;
    }
    std::string Text(DESC* d, int rec, int field) {
        char buf[128] = {};
        EXPECT_EQ(DescGetField(d, rec, field, buf, sizeof buf, nullptr, 'A'), SQL_SUCCESS) << field;
        return buf;
    }
    void BindCol(uint16_t n, SQLSMALLINT cType, void* data, SQLLEN len, SQLLEN* ind = nullptr) {
        ASSERT_EQ(StmtBindCol(stmt, n, cType, data, len, ind), 0);
    }

    STMT* stmt = nullptr;
};

// Which kind has which field: read on each kind (records 1 exist on every kind), a field a
// kind lacks is S1091; setting a read-only field is S1091, anything but the status pointers
// on an IRD is S1016.
TEST_F(DescTest, FieldsByKindOfDescriptor) {
    int32_t buf = 0;
    BindCol(1, SQL_C_SLONG, &buf, 4);
    SQLLEN ind = 0;
    ASSERT_EQ(StmtBindParam(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &buf, 4, &ind, &ind), SQL_SUCCESS);
    DESC* user = NewDesc();
    ASSERT_EQ(Set(user, 0, SQL_DESC_COUNT, V(1)), SQL_SUCCESS);
    Prepared();
    DESC* kinds[] = {stmt->ard, stmt->apd, user, stmt->ird, stmt->ipd};
    const int A = 1, P = 2, U = 4, R = 8, I = 16, ALL = 31;
    const struct {
        int field;
        int has;
    } rows[] = {
        {SQL_DESC_ARRAY_SIZE, A | P | U},  {SQL_DESC_BIND_TYPE, A | P | U},
        {SQL_DESC_ROWS_PROCESSED_PTR, R | I}, {SQL_DESC_COUNT, ALL},
        {SQL_DESC_CONCISE_TYPE, ALL},      {SQL_DESC_DISPLAY_SIZE, R},
        {SQL_DESC_SEARCHABLE, R},          {SQL_DESC_NULLABLE, R | I},
        {SQL_DESC_PARAMETER_TYPE, I},      {SQL_DESC_DATA_PTR, A | P | U},
        {SQL_DESC_UNNAMED, R | I},         {SQL_DESC_OCTET_LENGTH, ALL},
        {SQL_DESC_CASE_SENSITIVE, R | I},  {SQL_DESC_AUTO_UNIQUE_VALUE, R},
    };
    for (const auto& row : rows) {
        for (int k = 0; k < 5; ++k) {
            const bool has = (row.has >> k & 1) != 0;
            EXPECT_EQ(Get(kinds[k], 1, row.field) != -ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE, has)
                << "field " << row.field << " kind " << k;
        }
    }
    EXPECT_EQ(Get(stmt->ard, 1, 9999), -ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    EXPECT_EQ(Set(stmt->ard, 1, SQL_DESC_DISPLAY_SIZE, V(5)), SQL_ERROR);
    EXPECT_EQ(stmt->ard->diag.errCode, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    EXPECT_EQ(Set(stmt->apd, 1, SQL_DESC_PARAMETER_TYPE, V(SQL_PARAM_OUTPUT)), SQL_ERROR);
    for (int field : {SQL_DESC_CONCISE_TYPE, SQL_DESC_COUNT, SQL_DESC_NAME}) {
        EXPECT_EQ(Set(stmt->ird, 1, field, V(1)), SQL_ERROR);
        EXPECT_EQ(stmt->ird->diag.errCode, ERR_CANNOT_MODIFY_AN_IMPLEMENTATION_ROW_DESCRIPTOR);
    }
    SQLUSMALLINT status[1];
    EXPECT_EQ(Set(stmt->ird, 0, SQL_DESC_ARRAY_STATUS_PTR, status), SQL_SUCCESS);
    // Record numbers: none below 0, no record 0 on an APD or IPD, none above the count.
    EXPECT_EQ(Get(stmt->ard, -1, SQL_DESC_TYPE), -ERR_INVALID_DESCRIPTOR_INDEX);
    EXPECT_EQ(Get(stmt->ipd, 0, SQL_DESC_TYPE), -ERR_INVALID_DESCRIPTOR_INDEX);
    EXPECT_EQ(Set(stmt->apd, 0, SQL_DESC_TYPE, V(SQL_C_CHAR)), SQL_ERROR);
    EXPECT_EQ(Get(stmt->ard, 2, SQL_DESC_TYPE), -100000);
    EXPECT_EQ(Get(stmt->ird, 3, SQL_DESC_TYPE), -100000);
}

// Setting a concise type derives the verbose type, interval code and the sizes; setting
// the verbose type SQL_DATETIME with a code gives the concise type.
TEST_F(DescTest, TypesDeriveTheirFields) {
    DESC* d = stmt->ard;
    const struct {
        int concise, verbose, code, precision, intervalPrecision;
    } rows[] = {
        {SQL_C_CHAR, SQL_C_CHAR, 0, 0, 0},
        {SQL_C_NUMERIC, SQL_C_NUMERIC, 0, 38, 0},
        {SQL_C_DOUBLE, SQL_C_DOUBLE, 0, 0, 0},
        {SQL_C_TYPE_DATE, SQL_DATETIME, SQL_CODE_DATE, 0, 0},
        {SQL_C_TYPE_TIMESTAMP, SQL_DATETIME, SQL_CODE_TIMESTAMP, 6, 0},
        {SQL_C_GUID, SQL_C_GUID, 0, 0, 0},
        {SQL_C_INTERVAL_DAY_TO_SECOND, SQL_INTERVAL, SQL_CODE_DAY_TO_SECOND, 6, 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.concise);
        ASSERT_EQ(Set(d, 1, SQL_DESC_PRECISION, V(0)), SQL_SUCCESS);
        ASSERT_EQ(Set(d, 1, SQL_DESC_CONCISE_TYPE, V(r.concise)), SQL_SUCCESS);
        EXPECT_EQ(Get(d, 1, SQL_DESC_TYPE), r.verbose);
        EXPECT_EQ(Get(d, 1, SQL_DESC_DATETIME_INTERVAL_CODE), r.code);
        EXPECT_EQ(Get(d, 1, SQL_DESC_PRECISION), r.precision);
        EXPECT_EQ(Get(d, 1, SQL_DESC_DATETIME_INTERVAL_PRECISION), r.intervalPrecision);
    }
    ASSERT_EQ(Set(d, 1, SQL_DESC_TYPE, V(SQL_DATETIME)), SQL_SUCCESS);
    ASSERT_EQ(Set(d, 1, SQL_DESC_DATETIME_INTERVAL_CODE, V(SQL_CODE_TIME)), SQL_SUCCESS);
    EXPECT_EQ(Get(d, 1, SQL_DESC_CONCISE_TYPE), SQL_C_TYPE_TIME);
    // Unknown types change nothing.
    EXPECT_EQ(Set(d, 1, SQL_DESC_CONCISE_TYPE, V(1234)), SQL_ERROR);
    EXPECT_EQ(d->diag.errCode, ERR_OPTION_TYPE_OUT_OF_RANGE);
    EXPECT_EQ(Set(d, 1, SQL_DESC_TYPE, V(SQL_TYPE_DATE)), SQL_ERROR);
    EXPECT_EQ(Get(d, 1, SQL_DESC_CONCISE_TYPE), SQL_C_TYPE_TIME);
}

// A bound column's lengths and signedness follow its C type: fixed types their own size
// whatever the buffer length, text its buffer; numbers are signed unless the C type says
// otherwise. LENGTH, OCTET_LENGTH and ARRAY_SIZE are 8-byte fields.
TEST_F(DescTest, BoundColumnsAnswerByTheirCType) {
    const struct {
        SQLSMALLINT cType;
        SQLLEN buffer;
        int64_t octet, length, isUnsigned;
    } rows[] = {
        {SQL_C_SLONG, 100, 4, 4, 0},     {SQL_C_ULONG, 0, 4, 4, 1},       {SQL_C_SBIGINT, 3, 8, 8, 0},
        {SQL_C_NUMERIC, 0, 19, 19, 0},   {SQL_C_BIT, 0, 1, 1, 1},         {SQL_C_GUID, 0, 16, 16, 1},
        {SQL_C_DOUBLE, 0, 8, 8, 0},      {SQL_C_CHAR, 11, 11, 10, 1},     {SQL_C_WCHAR, 22, 22, 10, 1},
        {SQL_C_BINARY, 8, 8, 8, 1},      {SQL_C_TYPE_TIMESTAMP, 0, 16, 16, 1},
    };
    char buf[32];
    for (const auto& r : rows) {
        SCOPED_TRACE(r.cType);
        BindCol(1, r.cType, buf, r.buffer);
        EXPECT_EQ(Get(stmt->ard, 1, SQL_DESC_OCTET_LENGTH), r.octet);
        EXPECT_EQ(Get(stmt->ard, 1, SQL_DESC_LENGTH), r.length);
        EXPECT_EQ(Get(stmt->ard, 1, SQL_DESC_UNSIGNED), r.isUnsigned);
    }
    unsigned char out[12];
    SQLLEN len = 0;
    for (int field : {SQL_DESC_LENGTH, SQL_DESC_OCTET_LENGTH}) {
        std::memset(out, 0xAB, sizeof out);
        ASSERT_EQ(DescGetField(stmt->ard, 1, field, out, sizeof out, &len, 'A'), SQL_SUCCESS);
        EXPECT_EQ(len, 8);
        EXPECT_EQ(out[8], 0xAB);
        int64_t v;
        std::memcpy(&v, out, 8);
        EXPECT_EQ(v, 16);  // the timestamp bound last
    }
    // Pointers need room for 8 bytes; SQL_IS_POINTER gives it.
    void* p = nullptr;
    EXPECT_EQ(DescGetField(stmt->ard, 1, SQL_DESC_DATA_PTR, &p, 0, nullptr, 'A'), SQL_ERROR);
    EXPECT_EQ(stmt->ard->diag.errCode, ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(DescGetField(stmt->ard, 1, SQL_DESC_DATA_PTR, &p, SQL_IS_POINTER, nullptr, 'A'), SQL_SUCCESS);
    EXPECT_EQ(p, buf);
}

// Every route that unbinds takes the buffer away from the statement's bindings, checking
// the value first; an explicit ARD shared by two statements unbinds in both.
TEST_F(DescTest, UnbindingByEveryRoute) {
    char a[8], b[8], c[8];
    SQLLEN ind = 0;
    auto bound = [&](STMT* s, uint16_t n) { return StmtGetBoundCol(s, n) != nullptr; };
    auto bindThree = [&] {
        BindCol(1, SQL_C_CHAR, a, 8, &ind);
        BindCol(2, SQL_C_CHAR, b, 8, &ind);
        BindCol(3, SQL_C_CHAR, c, 8, &ind);
    };
    bindThree();
    ASSERT_EQ(Set(stmt->ard, 1, SQL_DESC_DATA_PTR, nullptr), SQL_SUCCESS);
    EXPECT_FALSE(bound(stmt, 1));
    EXPECT_TRUE(bound(stmt, 2));
    ASSERT_EQ(Set(stmt->ard, 2, SQL_DESC_INDICATOR_PTR, nullptr), SQL_SUCCESS);
    ASSERT_TRUE(bound(stmt, 2));
    EXPECT_EQ(StmtGetBoundCol(stmt, 2)->indicator, nullptr);
    // A bad value unbinds nothing; a good one for any other field unbinds its record.
    EXPECT_EQ(Set(stmt->ard, 3, SQL_DESC_CONCISE_TYPE, V(777)), SQL_ERROR);
    EXPECT_TRUE(bound(stmt, 3));
    ASSERT_EQ(Set(stmt->ard, 3, SQL_DESC_SCALE, V(0)), SQL_SUCCESS);
    EXPECT_FALSE(bound(stmt, 3));
    EXPECT_EQ(Get(stmt->ard, 3, SQL_DESC_DATA_PTR), 0);

    bindThree();
    ASSERT_EQ(Set(stmt->ard, 0, SQL_DESC_COUNT, V(1)), SQL_SUCCESS);
    EXPECT_TRUE(bound(stmt, 1));
    EXPECT_FALSE(bound(stmt, 2) || bound(stmt, 3));
    ASSERT_EQ(Set(stmt->ard, 0, SQL_DESC_COUNT, V(0)), SQL_SUCCESS);
    EXPECT_TRUE(stmt->boundCols.empty());
    EXPECT_EQ(Get(stmt->ard, 0, SQL_DESC_COUNT), 0);
    EXPECT_EQ(Set(stmt->ard, 0, SQL_DESC_COUNT, V(32768)), SQL_ERROR);
    EXPECT_EQ(stmt->ard->diag.errCode, ERR_INVALID_DESCRIPTOR_INDEX);

    // Parameters.
    ASSERT_EQ(StmtBindParam(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, a, 8, &ind, &ind), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->apd, 1, SQL_DESC_DATA_PTR, nullptr), SQL_SUCCESS);
    const PARAMREC* p = StmtGetParam(stmt, 1);
    EXPECT_TRUE(p == nullptr || p->number == 0);

    // One explicit ARD, two statements.
    STMT* other = NewStmt();
    DESC* shared = NewDesc();
    const SQLPOINTER handle = HandleFromId(shared->id);
    ASSERT_EQ(StmtSetAttr(stmt, SQL_ATTR_APP_ROW_DESC, handle, 0, 'A'), SQL_SUCCESS);
    ASSERT_EQ(StmtSetAttr(other, SQL_ATTR_APP_ROW_DESC, handle, 0, 'A'), SQL_SUCCESS);
    ASSERT_EQ(Set(shared, 1, SQL_DESC_CONCISE_TYPE, V(SQL_C_CHAR)), SQL_SUCCESS);
    ASSERT_EQ(Set(shared, 1, SQL_DESC_OCTET_LENGTH, V(8)), SQL_SUCCESS);
    ASSERT_EQ(Set(shared, 1, SQL_DESC_DATA_PTR, a), SQL_SUCCESS);
    ASSERT_TRUE(bound(stmt, 1) && bound(other, 1));
    EXPECT_EQ(StmtGetBoundCol(other, 1)->bufferLength, 8);
    ASSERT_EQ(Set(shared, 1, SQL_DESC_DATA_PTR, nullptr), SQL_SUCCESS);
    EXPECT_FALSE(bound(stmt, 1) || bound(other, 1));
    // Statement attributes on one reach the other through the descriptor.
    ASSERT_EQ(StmtSetAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, V(24), 0, 'A'), SQL_SUCCESS);
    EXPECT_EQ(other->bindType, 24);
}

// Binding through the data pointer checks the record first: a numeric structure needs
// sensible digits (S1021, nothing bound).
TEST_F(DescTest, DataPointerRunsTheConsistencyCheck) {
    SQL_NUMERIC_STRUCT n{};
    ASSERT_EQ(Set(stmt->ard, 1, SQL_DESC_CONCISE_TYPE, V(SQL_C_NUMERIC)), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->ard, 1, SQL_DESC_PRECISION, V(50)), SQL_SUCCESS);
    EXPECT_EQ(Set(stmt->ard, 1, SQL_DESC_DATA_PTR, &n), SQL_ERROR);
    EXPECT_EQ(stmt->ard->diag.errCode, ERR_INCONSISTENT_DESCRIPTOR_INFORMATION);
    EXPECT_EQ(StmtGetBoundCol(stmt, 1), nullptr);
    ASSERT_EQ(Set(stmt->ard, 1, SQL_DESC_PRECISION, V(10)), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->ard, 1, SQL_DESC_SCALE, V(2)), SQL_SUCCESS);
    EXPECT_EQ(Set(stmt->ard, 1, SQL_DESC_DATA_PTR, &n), SQL_SUCCESS);
    ASSERT_NE(StmtGetBoundCol(stmt, 1), nullptr);
    EXPECT_EQ(StmtGetBoundCol(stmt, 1)->cType, SQL_C_NUMERIC);
}

// A parameter made through descriptors: the IPD's type leaves its parameter type alone,
// and a timestamp keeps its fraction digits.
TEST_F(DescTest, ParametersSetThroughDescriptors) {
    SQLLEN ind = 0;
    char out[32];
    ASSERT_EQ(StmtBindParam(stmt, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 30, 0, out, 32, &ind, &ind),
              SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->ipd, 1, SQL_DESC_CONCISE_TYPE, V(SQL_CHAR)), SQL_SUCCESS);
    EXPECT_EQ(Get(stmt->ipd, 1, SQL_DESC_PARAMETER_TYPE), SQL_PARAM_OUTPUT);
    EXPECT_EQ(StmtGetParam(stmt, 1)->paramType, SQL_PARAM_OUTPUT);
    EXPECT_EQ(StmtGetParam(stmt, 1)->sqlType, SQL_CHAR);

    SQL_TIMESTAMP_STRUCT ts{};
    ASSERT_EQ(Set(stmt->ipd, 2, SQL_DESC_CONCISE_TYPE, V(SQL_TYPE_TIMESTAMP)), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->ipd, 2, SQL_DESC_LENGTH, V(23)), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->ipd, 2, SQL_DESC_PRECISION, V(3)), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->apd, 2, SQL_DESC_CONCISE_TYPE, V(SQL_C_TYPE_TIMESTAMP)), SQL_SUCCESS);
    ASSERT_EQ(Set(stmt->apd, 2, SQL_DESC_DATA_PTR, &ts), SQL_SUCCESS);
    const PARAMREC* p = StmtGetParam(stmt, 2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->sqlType, SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(p->scale, 3);
    EXPECT_EQ(p->columnSize, 23u);
    EXPECT_EQ(p->paramType, SQL_PARAM_INPUT);
}

// Records and copies go through the field cores: a copy from an empty source leaves the
// target empty and unbound; a copy of an APD into the ARD binds the columns; SQLGetDescRec
// on an application descriptor leaves the name alone; SQLSetDescRec clears a pointer
// given as null and takes a datetime subtype.
TEST_F(DescTest, RecordsAndCopies) {
    char a[8];
    SQLLEN ind = 0;
    BindCol(1, SQL_C_CHAR, a, 8, &ind);
    DESC* empty = NewDesc();
    EXPECT_EQ(DoCopyDesc(empty, CopyDescArgs{HandleFromId(stmt->ard->id)}), SQL_SUCCESS);
    EXPECT_EQ(DescRecCount(stmt->ard), 0);
    EXPECT_TRUE(stmt->boundCols.empty());

    ASSERT_EQ(StmtBindParam(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, a, 8, &ind, &ind), SQL_SUCCESS);
    EXPECT_EQ(DoCopyDesc(stmt->apd, CopyDescArgs{HandleFromId(stmt->ard->id)}), SQL_SUCCESS);
    const BINDCOL* b = StmtGetBoundCol(stmt, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->data, a);
    EXPECT_EQ(b->bufferLength, 8);
    EXPECT_EQ(b->indicator, &ind);
    EXPECT_EQ(DoCopyDesc(stmt->apd, CopyDescArgs{HandleFromId(stmt->ird->id)}), SQL_ERROR);
    EXPECT_EQ(stmt->ird->diag.errCode, ERR_CANNOT_MODIFY_AN_IMPLEMENTATION_ROW_DESCRIPTOR);
    EXPECT_EQ(DoCopyDesc(stmt->apd, CopyDescArgs{HandleFromId(0x40FFFF)}), SQL_INVALID_HANDLE);

    char name[8] = "keep";
    SQLSMALLINT type = 0, sub = -1, nullable = -7;
    SQLLEN length = 0;
    ASSERT_EQ(DoGetDescRec(stmt->ard, GetDescRecArgs{1, name, sizeof name, nullptr, &type, &sub, &length, nullptr,
                                                     nullptr, &nullable, 'A'}),
              SQL_SUCCESS);
    EXPECT_EQ(type, SQL_C_CHAR);
    EXPECT_EQ(sub, 0);
    EXPECT_EQ(length, 8);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(nullable, -7);
    EXPECT_EQ(DoGetDescRec(stmt->ard, GetDescRecArgs{5, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, 'A'}),
              SQL_NO_DATA);

    SQL_DATE_STRUCT date{};
    ASSERT_EQ(DoSetDescRec(stmt->ard, SetDescRecArgs{1, SQL_DATETIME, SQL_CODE_DATE, 6, 0, 0, &date, nullptr, nullptr}),
              SQL_SUCCESS);
    EXPECT_EQ(Get(stmt->ard, 1, SQL_DESC_CONCISE_TYPE), SQL_C_TYPE_DATE);
    b = StmtGetBoundCol(stmt, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->data, &date);
    EXPECT_EQ(b->indicator, nullptr);
    EXPECT_EQ(Get(stmt->ard, 1, SQL_DESC_INDICATOR_PTR), 0);
    EXPECT_EQ(DoSetDescRec(stmt->ird, SetDescRecArgs{1, SQL_CHAR, 0, 1, 0, 0, nullptr, nullptr, nullptr}), SQL_ERROR);
}

// The column attributes of a described result: hidden columns are never counted, a label
// names its column, and SQLColAttribute answers as the IRD does; SQLDescribeCol refuses a
// negative buffer length and counts a wide name in characters.
TEST_F(DescTest, ColumnDescription) {
    g_cols = {{"A", SQL_INTEGER, 10, 0, 11},
              {"*I1", SQL_INTEGER, 10, 0, 11},
              {"B", SQL_LONGVARCHAR, 100, 0, 100, "Bee"},
              {"N", SQL_NUMERIC, 10, 2, 12}};
    SQLLEN n = 0;
    EXPECT_EQ(StmtColAttribute(stmt, 1, SQL_DESC_COUNT, nullptr, 0, nullptr, &n, 'A'), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    Prepared();
    stmt->cursor.useBookmarks = SQL_UB_VARIABLE;
    for (uint16_t col : {0, 1}) {
        n = 0;
        EXPECT_EQ(StmtColAttribute(stmt, col, SQL_DESC_COUNT, nullptr, 0, nullptr, &n, 'A'), SQL_SUCCESS);
        EXPECT_EQ(n, 3) << col;
    }
    EXPECT_EQ(Get(stmt->ird, 0, SQL_DESC_COUNT), 3);

    char text[64];
    SQLSMALLINT len = 0;
    EXPECT_EQ(StmtColAttribute(stmt, 2, SQL_DESC_NAME, text, sizeof text, &len, nullptr, 'A'), SQL_SUCCESS);
    EXPECT_STREQ(text, "Bee");
    EXPECT_EQ(StmtColAttribute(stmt, 2, SQL_DESC_BASE_COLUMN_NAME, text, sizeof text, &len, nullptr, 'A'),
              SQL_SUCCESS);
    EXPECT_STREQ(text, "B");
    // The same numbers from both roads, column 0 included.
    for (uint16_t col : {0, 1, 2, 3}) {
        for (int field : {SQL_DESC_CONCISE_TYPE, SQL_DESC_TYPE, SQL_DESC_DISPLAY_SIZE, SQL_DESC_UNSIGNED,
                          SQL_DESC_SEARCHABLE, SQL_DESC_CASE_SENSITIVE, SQL_DESC_LENGTH, SQL_DESC_OCTET_LENGTH,
                          SQL_DESC_PRECISION, SQL_DESC_SCALE, SQL_DESC_NULLABLE, SQL_DESC_NUM_PREC_RADIX,
                          SQL_DESC_FIXED_PREC_SCALE, SQL_DESC_UPDATABLE}) {
            n = -99;
            ASSERT_EQ(StmtColAttribute(stmt, col, field, nullptr, 0, nullptr, &n, 'A'), SQL_SUCCESS) << field;
            EXPECT_EQ(n, Get(stmt->ird, col, field)) << "column " << col << " field " << field;
        }
    }
    EXPECT_EQ(Get(stmt->ird, 2, SQL_DESC_SEARCHABLE), SQL_PRED_CHAR);  // B, a long text
    EXPECT_EQ(Get(stmt->ird, 1, SQL_DESC_UNSIGNED), SQL_FALSE);
    EXPECT_EQ(Get(stmt->ird, 1, SQL_DESC_DISPLAY_SIZE), 11);
    EXPECT_EQ(Get(stmt->ird, 3, SQL_DESC_SCALE), 2);
    // ODBC 2 fields of their own.
    for (auto [field, expect] : {std::pair{SQL_COLUMN_LENGTH, 12}, {SQL_COLUMN_PRECISION, 10}, {SQL_COLUMN_SCALE, 2}}) {
        ASSERT_EQ(StmtColAttribute(stmt, 3, field, nullptr, 0, nullptr, &n, 'A'), SQL_SUCCESS);
        EXPECT_EQ(n, expect) << field;
    }
    EXPECT_EQ(DoColAttribute(stmt, ColAttributeArgs{1, SQL_DESC_DATA_PTR, nullptr, 0, nullptr, &n, 'A'}), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    EXPECT_EQ(StmtColAttribute(stmt, 4, SQL_DESC_TYPE, nullptr, 0, nullptr, &n, 'A'), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_COLUMN_NUMBER);

    // A wide text cut to the buffer's bytes; its length in bytes.
    SQLWCHAR w[4];
    EXPECT_EQ(StmtColAttribute(stmt, 2, SQL_DESC_LABEL, w, 6, &len, nullptr, 'W'), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(w[2], 0);

    SQLSMALLINT type = 0;
    EXPECT_EQ(DoDescribeCol(stmt, DescribeColArgs{2, text, -1, &len, &type, nullptr, nullptr, nullptr, 'A'}),
              SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    EXPECT_EQ(type, 0);
    SQLULEN size = 0;
    EXPECT_EQ(DoDescribeCol(stmt, DescribeColArgs{2, w, 4, &len, &type, &size, nullptr, nullptr, 'W'}), SQL_SUCCESS);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(type, SQL_LONGVARCHAR);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(w[0], 'B');
}

}  // namespace
