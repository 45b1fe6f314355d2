// Dataset set-up and release, element widths, column descriptions, column attributes and
// the narrow output copies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/unit/dataset_fixture.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/uthash.h"

namespace {

using namespace dsfix;

TEST(DsTypeWidth, FollowsTheTypeTable) {
    struct Case {
        int32_t type;
        uint32_t n;
        uint32_t width;
    } cases[] = {
        {DS_NONE, 9, 1},        {DS_CHAR, 3, 3},         {DS_BIT, 9, 1},
        {DS_STINYINT, 9, 1},    {DS_SSHORT, 9, 2},       {DS_SLONG, 9, 4},
        {DS_UTINYINT, 9, 1},    {DS_USHORT, 9, 2},       {DS_ULONG, 9, 4},
        {DS_FLOAT, 9, 4},       {DS_DOUBLE, 9, 8},       {DS_DATE, 9, 6},
        {DS_TIME, 9, 6},        {DS_TIMESTAMP, 9, 16},   {DS_BINARY, 3, 3},
        {DS_LONGCHAR, 9, 16},   {DS_LONGBINARY, 9, 16},  {DS_CHARZ, 3, 4},
        {DS_VARCHAR8, 3, 4},    {DS_VARCHAR16, 3, 6},    {DS_VARCHAR16, 4, 6},
        {DS_VARCHAR32, 3, 8},   {DS_VARCHAR32, 4, 8},    {DS_VARBINARY8, 3, 4},
        {DS_VARBINARY16, 3, 6}, {DS_VARBINARY32, 3, 8},  {DS_WCHAR, 3, 6},
        {DS_WCHARZ, 3, 8},      {DS_LONGWCHAR, 9, 16},   {DS_WVARCHAR32, 3, 12},
        {DS_WVARCHAR32, 4, 12}, {99, 3, 3},              {-5, 7, 7},
        // A declared size near the top does not wrap into a small width.
        {DS_VARCHAR32, UINT32_MAX - 1, UINT32_MAX},
        {DS_WCHARZ, UINT32_MAX / 2 + 1, UINT32_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ds_TypeWidth(c.type, c.n), c.width) << "type " << c.type << " n " << c.n;
}

TEST(DsColAllocRows, RowsStartNullAndZeroed) {
    DATASET_COL col{DS_VARCHAR16, 6, nullptr, nullptr};
    ASSERT_EQ(ds_ColAllocRows(&col, 5), 0);
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(col.indicators[r], DS_IND_NULL);
    for (int i = 0; i < 5 * 6 + 1; ++i)
        ASSERT_EQ(col.data[i], 0) << i;
    // A second allocation would lose these arrays.
    EXPECT_EQ(ds_ColAllocRows(&col, 5), ERR_GENERAL_ERROR);
    ds_ColFree(&col, 5);
    EXPECT_EQ(col.data, nullptr);
    EXPECT_EQ(col.indicators, nullptr);

    EXPECT_EQ(ds_ColAllocRows(&col, 0), 0);
    EXPECT_EQ(col.data, nullptr);
    EXPECT_EQ(ds_ColAllocRows(&col, -1), ERR_GENERAL_ERROR);

    FailAfter fail(1);  // data succeeds, indicators fail
    EXPECT_EQ(ds_ColAllocRows(&col, 5), ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(col.data, nullptr);
    EXPECT_EQ(col.indicators, nullptr);
}

TEST(DsColAllocRows, RowsTimesWidthIsNotCutTo32Bits) {
    // 65537 x 65537 wraps to 131073 in 32 bits. The full 4 GiB request is refused here, so
    // only a wrapped, far too small request could succeed.
    DATASET_COL col{DS_BINARY, 65537, nullptr, nullptr};
    uh_FailAbove(size_t{1} << 30);
    int rc = ds_ColAllocRows(&col, 65537);
    uh_FailAbove(SIZE_MAX);
    EXPECT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(col.data, nullptr);
    ds_ColFree(&col, 65537);
}

TEST(DsAllocRows, ZeroRowsLeavesNoArrays) {
    DatasetPtr ds = Make({{DS_SLONG, 4}, {DS_CHARZ, 5}}, 0);
    EXPECT_EQ(ds->rowsAllocated, 0);
    EXPECT_EQ(ds->cols[0].data, nullptr);
    EXPECT_EQ(ds->cols[1].indicators, nullptr);
}

TEST(DsAllocRows, RefusesMoreUsedThanAllocatedColumns) {
    DATASET ds;
    ASSERT_EQ(ds_Init(&ds, 1), 0);
    ds.colsUsed = 2;
    EXPECT_EQ(ds_AllocRows(&ds, 3), ERR_MEMORY_ALLOCATION_FAILURE);
    ds.colsUsed = 1;
    ds_Free(&ds);
}

TEST(DsAllocRows, ReallocationReleasesTheOldArraysAndBlocks) {
    DatasetPtr ds = Make({{DS_LONGCHAR, 16}, {DS_SLONG, 4}}, 4, 4);
    for (int r = 0; r < 4; ++r)
        PutRef(ds.get(), 0, r, "block " + std::to_string(r));
    ASSERT_EQ(ds_AllocRows(ds.get(), 2), 0);  // LeakSanitizer sees the old blocks go
    EXPECT_EQ(ds->rowsAllocated, 2);
    EXPECT_EQ(ds->rowsUsed, 2);
    EXPECT_EQ(ds->cols[0].indicators[1], DS_IND_NULL);
    EXPECT_EQ(RefAt(ds.get(), 0, 1).data, nullptr);
}

TEST(DsAllocRows, FailureLeavesNoColumnWithArrays) {
    DatasetPtr ds = Make({{DS_SLONG, 4}, {DS_SLONG, 4}, {DS_SLONG, 4}}, 0);
    FailAfter fail(4);  // two allocations per column: the third column fails
    EXPECT_EQ(ds_AllocRows(ds.get(), 8), ERR_MEMORY_ALLOCATION_FAILURE);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(ds->cols[c].data, nullptr) << c;
    EXPECT_EQ(ds->rowsAllocated, 0);
}

TEST(DsFree, ReleasesBlocksAndLeavesARecordThatCanBeSetUpAgain) {
    DATASET ds;
    ASSERT_EQ(ds_Init(&ds, 3), 0);
    ds.cols[0] = {DS_LONGWCHAR, 16, nullptr, nullptr};
    ds.cols[1] = {DS_SLONG, 4, nullptr, nullptr};
    ds.colsUsed = 2;  // the third column record stays unused, without arrays
    ASSERT_EQ(ds_AllocRows(&ds, 3), 0);
    ds.rowsUsed = 1;
    PutRef(&ds, 0, 0, Wide("used"));
    PutRef(&ds, 0, 2, Wide("spare row"));  // blocks of unused rows belong to the dataset too
    ds_Free(&ds);
    EXPECT_EQ(ds.cols, nullptr);
    EXPECT_EQ(ds.colsAllocated + ds.colsUsed + ds.rowsAllocated + ds.rowsUsed, 0);
    ds_Free(&ds);
    ASSERT_EQ(ds_Init(&ds, 1), 0);
    ds_Free(&ds);
}

TEST(DsInitFromColDescs, TakesTypesAndWidthsFromTheDescriptions) {
    COLDESC* descs = ds_ColDescAlloc(3);
    descs[0].internalType = DS_SLONG;
    descs[1].internalType = DS_CHARZ;
    descs[1].declaredWidth = 20;
    descs[2].internalType = DS_WVARCHAR32;
    descs[2].declaredWidth = 3;
    DATASET ds;
    ASSERT_EQ(ds_InitFromColDescs(descs, 3, 7, &ds), 0);
    EXPECT_EQ(ds.colsUsed, 3);
    EXPECT_EQ(ds.rowsAllocated, 7);
    EXPECT_EQ(ds.rowsUsed, 0);
    EXPECT_EQ(ds.cols[0].width, 4u);
    EXPECT_EQ(ds.cols[1].width, 21u);
    EXPECT_EQ(ds.cols[2].type, DS_WVARCHAR32);
    EXPECT_EQ(ds.cols[2].width, 12u);
    EXPECT_EQ(ds.cols[2].indicators[6], DS_IND_NULL);
    ds_Free(&ds);
    ds_ColDescFree(descs, 3);
}

TEST(DsColDesc, AllocatesAtLeastOneAndFreesEachTextOnce) {
    COLDESC* one = ds_ColDescAlloc(0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->name[0], '\0');
    ds_ColDescFree(one, 0);

    COLDESC* descs = ds_ColDescAlloc(2);
    for (int i = 0; i < 2; ++i) {
        descs[i].catalog = strdup("cat");
        descs[i].schema = strdup("PUB");
        descs[i].table = strdup("customer");
        descs[i].label = strdup("Name");
    }
    // The second record: no table, and one text in two of its fields.
    std::free(descs[1].schema);
    std::free(descs[1].table);
    std::free(descs[1].label);
    char* shared = strdup("same");
    descs[1].schema = shared;
    descs[1].table = nullptr;
    descs[1].label = shared;
    ds_ColDescFree(descs, 2);  // ASan: no leak, no double free
    ds_ColDescFree(nullptr, 5);
}

// --- column attributes ----------------------------------------------------------------

COLATTR IntAttr(int16_t column, int16_t attribute, int32_t v) {
    COLATTR a{};
    a.column = column;
    a.attribute = attribute;
    a.kind = COLATTR_INT;
    a.value.i = v;
    return a;
}

COLATTR TextAttr(int16_t column, int16_t attribute, char* text) {
    COLATTR a{};
    a.column = column;
    a.attribute = attribute;
    a.kind = COLATTR_TEXT;
    a.value.text = text;
    return a;
}

struct AttrHash {
    AttrHash() : hash(ut_HashNew(COLATTR_HASH_BUCKETS, 4)) {}
    ~AttrHash() {
        ut_HashForEach(hash, ut_ColAttrFreeCb, nullptr);
        ut_HashFree(hash);
    }
    // The statement's way: a heap copy keyed by its own first four bytes.
    void Put(const COLATTR& a) {
        auto* e = static_cast<COLATTR*>(std::malloc(sizeof(COLATTR)));
        *e = a;
        if (a.kind == COLATTR_TEXT)
            e->value.text = strdup(a.value.text);
        ut_HashPut(hash, e, e);
    }
    UT_HASH* hash;
};

TEST(UtColAttrGet, PerColumnEntryWinsOverTheEveryColumnEntry) {
    AttrHash h;
    h.Put(IntAttr(0, 1012, 10));
    h.Put(IntAttr(3, 1012, 12));
    char name[] = "base";
    h.Put(TextAttr(0, 1055, name));
    int32_t i = 0;
    EXPECT_EQ(ut_ColAttrGet(h.hash, 1012, 3, &i, nullptr, nullptr), 1);
    EXPECT_EQ(i, 12);
    EXPECT_EQ(ut_ColAttrGet(h.hash, 1012, 2, &i, nullptr, nullptr), 1);
    EXPECT_EQ(i, 10);
    const char* text = nullptr;
    EXPECT_EQ(ut_ColAttrGet(h.hash, 1055, 7, nullptr, &text, nullptr), 1);
    EXPECT_STREQ(text, "base");
    // The kind decides which out is filled; an unknown attribute gives nothing.
    EXPECT_EQ(ut_ColAttrGet(h.hash, 1055, 7, &i, nullptr, nullptr), 0);
    EXPECT_EQ(ut_ColAttrGet(h.hash, 1013, 3, &i, nullptr, nullptr), 0);
    EXPECT_EQ(ut_ColAttrGet(nullptr, 1012, 3, &i, nullptr, nullptr), 0);
}

TEST(UtColAttrCompact, DropsRepeatsOfTheEveryColumnValue) {
    char t1[] = "x";
    COLATTR agent[] = {
        IntAttr(0, 5, 10), IntAttr(1, 5, 10), IntAttr(2, 5, 12),
        IntAttr(1, -6, 99),                                   // negative: ignored
        IntAttr(1, 7, 10),                                    // no every-column entry
        TextAttr(0, 8, t1), TextAttr(2, 8, t1),               // same pointer: dropped
    };
    int32_t count = -1;
    COLATTR* out = nullptr;
    ASSERT_EQ(ut_ColAttrCompact(7, agent, &count, &out, 1), 0);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(out[0].column, 0);
    EXPECT_EQ(out[1].column, 2);
    EXPECT_EQ(out[1].value.i, 12);
    EXPECT_EQ(out[2].attribute, 7);
    EXPECT_EQ(out[3].value.text, t1);  // shared outside mode 2
    std::free(out);
}

TEST(UtColAttrCompact, ModeTwoOwnsItsTexts) {
    char a[] = "alpha", b[] = "beta";
    COLATTR agent[] = {TextAttr(0, 8, a), TextAttr(1, 8, b), IntAttr(0, 9, 1)};
    int32_t count = 0;
    COLATTR* out = nullptr;
    ASSERT_EQ(ut_ColAttrCompact(3, agent, &count, &out, 2), 0);
    ASSERT_EQ(count, 3);
    EXPECT_NE(out[0].value.text, a);
    EXPECT_STREQ(out[1].value.text, "beta");
    for (int i = 0; i < count; ++i)
        ut_ColAttrFree(&out[i]);
    std::free(out);

    for (long n : {0L, 2L}) {  // the array; the second text
        FailAfter fail(n);
        EXPECT_EQ(ut_ColAttrCompact(3, agent, &count, &out, 2), ERR_MEMORY_ALLOCATION_FAILURE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(count, 0);
    }
}

TEST(UtColAttrCompact, NothingKeptGivesNoArray) {
    COLATTR negative[] = {IntAttr(0, -3, 1)};
    int32_t count = 9;
    COLATTR* out = negative;
    EXPECT_EQ(ut_ColAttrCompact(1, negative, &count, &out, 2), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ut_ColAttrCompact(0, negative, &count, &out, 2), 0);
    EXPECT_EQ(ut_ColAttrCompact(4, nullptr, &count, &out, 2), 0);
    EXPECT_EQ(out, nullptr);
}

// --- release and narrow copies --------------------------------------------------------

TEST(UtStrListFree, FreesEveryTextAndEmptiesTheList) {
    UT_STRLIST list;
    list.texts = static_cast<char**>(std::malloc(2 * sizeof(char*)));
    list.texts[0] = strdup("one");
    list.texts[1] = strdup("two");
    list.count = 2;
    ut_StrListFree(&list);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.texts, nullptr);
    ut_StrListFree(&list);
}

TEST(UtStrCopy, BufferSizeGrid) {
    struct Case {
        uint16_t size;
        int truncRc;      // ut_StrCopyTrunc
        uint16_t truncLen;
        int outRc;        // ut_StrCopyOut
        const char* written;
    } cases[] = {
        {0, -1, 77, -1, "#"},   // nothing written
        {1, -1, 0, -1, ""},
        {4, -1, 3, -1, "abc"},
        {5, -1, 4, -1, "abcd"},
        {6, 0, 5, 0, "abcde"},
        {64, 0, 5, 0, "abcde"},
    };
    for (const Case& c : cases) {
        char buf[80];
        std::memset(buf, '#', sizeof buf);
        buf[79] = '\0';
        uint16_t len16 = 77;
        EXPECT_EQ(ut_StrCopyTrunc("abcde", buf, c.size, &len16), c.truncRc) << c.size;
        EXPECT_EQ(len16, c.truncLen) << c.size;
        EXPECT_EQ(std::string(buf, std::strlen(c.written)), c.written) << c.size;

        std::memset(buf, '#', sizeof buf);
        buf[79] = '\0';
        int32_t len = -7;
        EXPECT_EQ(ut_StrCopyOut("abcde", buf, c.size, &len), c.outRc) << c.size;
        EXPECT_EQ(len, 5) << c.size;
        EXPECT_EQ(std::string(buf, std::strlen(c.written)), c.written) << c.size;
        if (c.size > 0 && c.size < 6) {
            EXPECT_EQ(buf[c.size - 1], '\0');
        }
    }
    int32_t len = 0;
    EXPECT_EQ(ut_StrCopyOut("abcde", nullptr, 3, &len), 0);  // length only
    EXPECT_EQ(len, 5);
    EXPECT_EQ(ut_StrCopyOut(nullptr, nullptr, 3, &len), -1);
    char buf[4];
    EXPECT_EQ(ut_StrCopyTrunc(nullptr, buf, 4, nullptr), -1);
    EXPECT_EQ(ut_StrCopyTrunc("a", nullptr, 4, nullptr), -1);
}

TEST(UtStrCopy, LengthOfALongTextStaysPositive) {
    std::string text(40000, 'x');
    char buf[16];
    int32_t len = 0;
    EXPECT_EQ(ut_StrCopyOut(text.c_str(), buf, sizeof buf, &len), -1);
    EXPECT_EQ(len, 40000);
    EXPECT_EQ(std::strlen(buf), 15u);
}

}  // namespace
