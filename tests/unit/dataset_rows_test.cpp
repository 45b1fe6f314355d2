// Row and column operations on datasets, and rowsets. Most cases use one small layout:
// an integer, a by-reference text (its blocks show ownership faults to the sanitizers)
// and a u16-length-prefixed text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/dataset_fixture.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

using namespace dsfix;

constexpr uint32_t kTextWidth = 8;  // ds_TypeWidth(DS_VARCHAR16, 6)

DatasetPtr Layout(int32_t rowsAllocated, int32_t rowsUsed = 0) {
    return Make({{DS_SLONG, 4}, {DS_LONGCHAR, 16}, {DS_VARCHAR16, kTextWidth}}, rowsAllocated,
                rowsUsed);
}

// Row r holds n, "ref<n>" and "t<n>".
void Fill(DATASET* ds, int32_t r, int32_t n) {
    PutI32(ds, 0, r, n);
    PutRef(ds, 1, r, "ref" + std::to_string(n));
    std::string t = "t" + std::to_string(n);
    PutPrefixed(ds, 2, r, t, static_cast<uint32_t>(t.size()));
}

DatasetPtr Filled(int32_t rowsAllocated, std::initializer_list<int32_t> values) {
    DatasetPtr ds = Layout(rowsAllocated, static_cast<int32_t>(values.size()));
    int32_t r = 0;
    for (int32_t v : values)
        Fill(ds.get(), r++, v);
    return ds;
}

std::string Row(const DATASET* ds, int32_t r) {
    std::string s;
    for (int c = 0; c < ds->colsUsed; ++c) {
        std::string v = Value(ds, c, r);
        if (ds->cols[c].type == DS_SLONG && v != "<NULL>") {
            int32_t n;
            std::memcpy(&n, v.data(), 4);
            v = std::to_string(n);
        }
        s += (c ? "|" : "") + v;
    }
    return s;
}

std::vector<std::string> Rows(const DATASET* ds) {
    std::vector<std::string> rows;
    for (int32_t r = 0; r < ds->rowsUsed; ++r)
        rows.push_back(Row(ds, r));
    return rows;
}

const std::string kNullRow = "<NULL>|<NULL>|<NULL>";

// --- rows -----------------------------------------------------------------------------

TEST(DsInsertRow, ShiftsLaterRowsDownBehindANullRow) {
    DatasetPtr ds = Filled(4, {1, 2});
    ASSERT_EQ(ds_InsertRow(ds.get(), 0), 0);
    EXPECT_EQ(Rows(ds.get()), (std::vector<std::string>{kNullRow, "1|ref1|t1", "2|ref2|t2"}));
    ASSERT_EQ(ds_InsertRow(ds.get(), 3), 0);  // at the end: appends
    EXPECT_EQ(Row(ds.get(), 3), kNullRow);
    EXPECT_EQ(ds_InsertRow(ds.get(), 0), ERR_GENERAL_ERROR);  // no spare row left
}

TEST(DsInsertRow, RefusesBadPositionsAndColumnlessDatasets) {
    DatasetPtr ds = Filled(4, {1, 2});
    EXPECT_EQ(ds_InsertRow(ds.get(), 3), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_InsertRow(ds.get(), -1), ERR_GENERAL_ERROR);
    DatasetPtr none = Make({}, 0);
    none->rowsAllocated = 3;
    EXPECT_EQ(ds_InsertRow(none.get(), 0), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds->rowsUsed, 2);
}

TEST(DsInsertRow, SpareRowBlockIsReleasedNotOverwritten) {
    DatasetPtr ds = Filled(3, {1, 2, 3});
    ds->rowsUsed = 2;  // row 2 is dropped, its block stays with the dataset
    ASSERT_EQ(ds_InsertRow(ds.get(), 1), 0);  // LeakSanitizer: "ref3" must not be lost
    EXPECT_EQ(Rows(ds.get()), (std::vector<std::string>{"1|ref1|t1", kNullRow, "2|ref2|t2"}));
}

TEST(DsCompareRows, ComparesIndicatorsThenValuesByTheirLength) {
    struct Case {
        const char* what;
        void (*change)(DATASET* b);
        int equal;
    } cases[] = {
        {"same values, own blocks", [](DATASET*) {}, 1},
        {"other integer", [](DATASET* b) { PutI32(b, 0, 0, 8); }, 0},
        {"longer reference", [](DATASET* b) { PutRef(b, 1, 0, "ref77"); }, 0},
        {"reference of other bytes", [](DATASET* b) { PutRef(b, 1, 0, "fer7"); }, 0},
        {"bytes past the text differ",
         [](DATASET* b) { ds_Elem(&b->cols[2], 0)[6] = 'Z'; }, 1},
        {"NULL against a value with the same bytes",
         [](DATASET* b) { SetNull(b, 0, 0); }, 0},
        {"value still at the server against a value",
         [](DATASET* b) { b->cols[2].indicators[0] = DS_IND_AT_SERVER; }, 0},
        {"indicators both present but not equal",
         [](DATASET* b) { b->cols[2].indicators[0] = 2; }, 1},
    };
    for (const Case& c : cases) {
        DatasetPtr a = Filled(1, {7});
        DatasetPtr b = Filled(1, {7});
        c.change(b.get());
        int equal = -1;
        ASSERT_EQ(ds_CompareRows(a.get(), 0, b.get(), 0, &equal), 0) << c.what;
        EXPECT_EQ(equal, c.equal) << c.what;
    }

    DatasetPtr a = Filled(1, {7});
    DatasetPtr b = Filled(1, {7});
    for (DATASET* d : {a.get(), b.get()}) {
        SetNull(d, 1, 0);
        SetNull(d, 2, 0);
    }
    ds_Elem(&b->cols[2], 0)[0] = 3;  // leftovers in a NULL element do not count
    int equal = 0;
    ASSERT_EQ(ds_CompareRows(a.get(), 0, b.get(), 0, &equal), 0);
    EXPECT_EQ(equal, 1);
}

TEST(DsCompareRows, RefusesUnusedRowsAndOtherLayouts) {
    DatasetPtr a = Filled(2, {1});
    DatasetPtr b = Filled(2, {1});
    int equal = -1;
    EXPECT_EQ(ds_CompareRows(a.get(), 1, b.get(), 0, &equal), ERR_GENERAL_ERROR);
    b->cols[2].width = 10;
    EXPECT_EQ(ds_CompareRows(a.get(), 0, b.get(), 0, &equal), ERR_GENERAL_ERROR);
    b->cols[2].width = kTextWidth;
    b->colsUsed = 2;
    EXPECT_EQ(ds_CompareRows(a.get(), 0, b.get(), 0, &equal), ERR_GENERAL_ERROR);
    b->colsUsed = 3;
    EXPECT_EQ(equal, -1);
}

TEST(DsClone, CopiesUsedRowsWithTheirOwnBlocks) {
    DatasetPtr src = Filled(5, {1, 2});
    SetNull(src.get(), 1, 1);  // a NULL row keeps its old block in the source
    DATASET* raw = nullptr;
    ASSERT_EQ(ds_Clone(&raw, src.get()), 0);
    DatasetPtr clone(raw);
    EXPECT_EQ(clone->colsAllocated, 3);
    EXPECT_EQ(clone->rowsUsed, 2);
    EXPECT_EQ(clone->rowsAllocated, 2);
    EXPECT_EQ(Rows(clone.get()), Rows(src.get()));
    EXPECT_NE(RefAt(clone.get(), 1, 0).data, RefAt(src.get(), 1, 0).data);
    EXPECT_EQ(RefAt(clone.get(), 1, 1).data, nullptr);
    src.reset();
    EXPECT_EQ(Row(clone.get(), 0), "1|ref1|t1");

    DatasetPtr empty = Layout(4);
    ASSERT_EQ(ds_Clone(&raw, empty.get()), 0);
    DatasetPtr emptyClone(raw);
    EXPECT_EQ(emptyClone->colsUsed, 0);
    EXPECT_EQ(emptyClone->colsAllocated, 3);
    EXPECT_EQ(emptyClone->rowsAllocated, 0);
}

// Runs op with every allocation point failing in turn until it succeeds; each failure
// must give code 16 and pass check (the sanitizers see leaks and double frees).
template <class Op, class Check>
void AtEveryFailurePoint(Op op, Check check) {
    for (long n = 0;; ++n) {
        int rc;
        {
            FailAfter fail(n);
            rc = op();
        }
        if (rc == 0)
            return;
        ASSERT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE) << "failure point " << n;
        check();
        ASSERT_LT(n, 100);
    }
}

TEST(DsClone, OutOfMemoryReleasesEverything) {
    DatasetPtr src = Filled(3, {1, 2, 3});
    DATASET* raw = nullptr;
    AtEveryFailurePoint([&] { return ds_Clone(&raw, src.get()); },
                        [&] { EXPECT_EQ(raw, nullptr); });
    DatasetPtr cleanup(raw);
}

TEST(DsCopyRow, AppendsPastTheUsedRowsAndRefusesBadRows) {
    DatasetPtr src = Filled(3, {5, 6});
    DatasetPtr dst = Filled(10, {1, 2});
    ASSERT_EQ(ds_CopyRow(dst.get(), src.get(), 7, 1, 0), 0);
    EXPECT_EQ(dst->rowsUsed, 3);
    EXPECT_EQ(Row(dst.get(), 2), "6|ref6|t6");
    ASSERT_EQ(ds_CopyRow(dst.get(), src.get(), 0, 0, 0), 0);  // replaces row 0
    EXPECT_EQ(Rows(dst.get()),
              (std::vector<std::string>{"5|ref5|t5", "2|ref2|t2", "6|ref6|t6"}));
    EXPECT_NE(RefAt(dst.get(), 1, 0).data, RefAt(src.get(), 1, 0).data);

    EXPECT_EQ(ds_CopyRow(dst.get(), src.get(), 0, 2, 0), ERR_GENERAL_ERROR);   // b = rows used
    EXPECT_EQ(ds_CopyRow(dst.get(), src.get(), 10, 0, 0), ERR_GENERAL_ERROR);  // beyond allocated
    DatasetPtr empty = Layout(2);
    EXPECT_EQ(ds_CopyRow(dst.get(), empty.get(), 0, 0, 0), ERR_GENERAL_ERROR);
    DatasetPtr other = Make({{DS_SLONG, 4}, {DS_LONGCHAR, 16}, {DS_VARCHAR16, 10}}, 2, 1);
    EXPECT_EQ(ds_CopyRow(other.get(), src.get(), 0, 0, 0), ERR_GENERAL_ERROR);
    EXPECT_EQ(dst->rowsUsed, 3);
}

TEST(DsCopyRow, TakeOverMovesTheBlock) {
    DatasetPtr src = Filled(2, {5});
    DatasetPtr dst = Filled(2, {1});
    void* block = RefAt(src.get(), 1, 0).data;
    ASSERT_EQ(ds_CopyRow(dst.get(), src.get(), 0, 0, 1), 0);
    EXPECT_EQ(RefAt(dst.get(), 1, 0).data, block);
    EXPECT_EQ(RefAt(src.get(), 1, 0).data, nullptr);
    src.reset();  // must not free the block the destination now owns
    EXPECT_EQ(Row(dst.get(), 0), "5|ref5|t5");
}

TEST(DsCopyRow, NullOrFailedDuplicateLeavesTheDestinationWithoutTheSourceBlock) {
    DatasetPtr src = Filled(2, {5});
    SetNull(src.get(), 1, 0);  // NULL, yet its element still points at "ref5"
    DatasetPtr dst = Filled(2, {1});
    ASSERT_EQ(ds_CopyRow(dst.get(), src.get(), 0, 0, 0), 0);
    EXPECT_EQ(RefAt(dst.get(), 1, 0).data, nullptr);
    EXPECT_EQ(Row(dst.get(), 0), "5|<NULL>|t5");

    DatasetPtr src2 = Filled(2, {6});
    AtEveryFailurePoint([&] { return ds_CopyRow(dst.get(), src2.get(), 0, 0, 0); },
                        [&] { EXPECT_EQ(Row(dst.get(), 0), "5|<NULL>|t5"); });
    EXPECT_EQ(Row(dst.get(), 0), "6|ref6|t6");
    EXPECT_NE(RefAt(dst.get(), 1, 0).data, RefAt(src2.get(), 1, 0).data);
    // Both datasets are freed at the end: a shared block would be freed twice.
}

TEST(DsCopyRow, ARowOntoItselfKeepsItsBlock) {
    DatasetPtr ds = Filled(2, {5, 6});
    for (int takeOver : {0, 1}) {
        ASSERT_EQ(ds_CopyRow(ds.get(), ds.get(), 0, 0, takeOver), 0);
        EXPECT_EQ(Row(ds.get(), 0), "5|ref5|t5");
    }
    ASSERT_EQ(ds_CopyRow(ds.get(), ds.get(), 0, 1, 1), 0);
    EXPECT_EQ(Rows(ds.get()), (std::vector<std::string>{"6|ref6|t6", "6||t6"}));
}

TEST(DsAppend, MovesTheOtherRowsAndTheirBlocks) {
    DatasetPtr ds = Filled(5, {1, 2});
    Fill(ds.get(), 3, 9);  // a block in a spare row: released with the old arrays
    DatasetPtr other = Filled(3, {3, 4});
    void* moved = RefAt(other.get(), 1, 1).data;
    ASSERT_EQ(ds_Append(ds.get(), other.get()), 0);
    EXPECT_EQ(ds->rowsUsed, 4);
    EXPECT_EQ(ds->rowsAllocated, 4);
    EXPECT_EQ(Rows(ds.get()), (std::vector<std::string>{"1|ref1|t1", "2|ref2|t2", "3|ref3|t3",
                                                        "4|ref4|t4"}));
    EXPECT_EQ(RefAt(ds.get(), 1, 3).data, moved);
    EXPECT_EQ(RefAt(other.get(), 1, 1).data, nullptr);

    DatasetPtr none = Layout(2);
    EXPECT_EQ(ds_Append(ds.get(), none.get()), 0);
    EXPECT_EQ(ds->rowsUsed, 4);
    DatasetPtr wrong = Make({{DS_SLONG, 4}}, 1, 1);
    EXPECT_EQ(ds_Append(ds.get(), wrong.get()), ERR_GENERAL_ERROR);
}

TEST(DsAppend, IntoADatasetWithoutRowsTakesTheRows) {
    DatasetPtr ds = Layout(0);
    DatasetPtr other = Filled(2, {3, 4});
    ASSERT_EQ(ds_Append(ds.get(), other.get()), 0);
    EXPECT_EQ(Rows(ds.get()), (std::vector<std::string>{"3|ref3|t3", "4|ref4|t4"}));
}

TEST(DsAppend, FailingHalfWayLeavesBothUnchanged) {
    DatasetPtr ds = Filled(2, {1, 2});
    DatasetPtr other = Filled(2, {3, 4});
    AtEveryFailurePoint([&] { return ds_Append(ds.get(), other.get()); },
                        [&] {
                            EXPECT_EQ(ds->rowsUsed, 2);
                            EXPECT_EQ(ds->rowsAllocated, 2);
                            EXPECT_EQ(Rows(ds.get()),
                                      (std::vector<std::string>{"1|ref1|t1", "2|ref2|t2"}));
                            EXPECT_EQ(Row(other.get(), 1), "4|ref4|t4");
                        });
    EXPECT_EQ(ds->rowsUsed, 4);
}

TEST(DsReverse, ReversesWithOwnBlocks) {
    DATASET* slot = Filled(4, {0, 1, 2}).release();
    ASSERT_EQ(ds_Reverse(&slot), 0);
    DatasetPtr reversed(slot);
    EXPECT_EQ(Rows(reversed.get()),
              (std::vector<std::string>{"2|ref2|t2", "1|ref1|t1", "0|ref0|t0"}));
    EXPECT_EQ(reversed->rowsAllocated, 4);
    DATASET* empty = nullptr;
    EXPECT_EQ(ds_Reverse(&empty), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_Reverse(nullptr), ERR_GENERAL_ERROR);
}

TEST(DsReverse, FailureKeepsTheSource) {
    DATASET* slot = Filled(3, {0, 1, 2}).release();
    DATASET* before = slot;
    AtEveryFailurePoint([&] { return ds_Reverse(&slot); },
                        [&] {
                            EXPECT_EQ(slot, before);
                            EXPECT_EQ(Row(slot, 0), "0|ref0|t0");
                        });
    DatasetPtr done(slot);
    EXPECT_EQ(Row(done.get(), 0), "2|ref2|t2");
}

// --- columns --------------------------------------------------------------------------

TEST(DsJoinColumns, PutsTheOtherColumnsFirst) {
    DatasetPtr a = Make({{DS_SLONG, 4}, {DS_LONGCHAR, 16}}, 2, 2);
    DatasetPtr b = Make({{DS_CHARZ, 4}}, 2, 2);
    PutI32(a.get(), 0, 1, 11);
    PutRef(a.get(), 1, 1, "a2");
    PutRaw(b.get(), 0, 1, "b1", 3);
    ASSERT_EQ(ds_JoinColumns(a.get(), b.get()), 0);
    EXPECT_EQ(a->colsUsed, 3);
    EXPECT_EQ(a->colsAllocated, 3);
    EXPECT_EQ(a->cols[0].type, DS_CHARZ);
    EXPECT_EQ(a->cols[1].type, DS_SLONG);
    EXPECT_EQ(Value(a.get(), 0, 1), "b1");
    EXPECT_EQ(Value(a.get(), 2, 1), "a2");
    EXPECT_EQ(b->cols[0].data, nullptr);  // b keeps its column record without arrays
    EXPECT_EQ(b->cols[0].type, DS_CHARZ);
    b.reset();                            // and can still be freed
}

TEST(DsJoinColumns, NeedsEqualRowsUsedAndAllocated) {
    DatasetPtr a = Make({{DS_SLONG, 4}}, 4, 2);
    DatasetPtr fewerAllocated = Make({{DS_LONGCHAR, 16}}, 2, 2);
    EXPECT_EQ(ds_JoinColumns(a.get(), fewerAllocated.get()), ERR_GENERAL_ERROR);
    DatasetPtr fewerUsed = Make({{DS_LONGCHAR, 16}}, 4, 1);
    EXPECT_EQ(ds_JoinColumns(a.get(), fewerUsed.get()), ERR_GENERAL_ERROR);
    DatasetPtr noColumns = Make({}, 0);
    EXPECT_EQ(ds_JoinColumns(a.get(), noColumns.get()), ERR_GENERAL_ERROR);
    EXPECT_EQ(a->colsUsed, 1);
}

TEST(DsCloneLayout, MakesOrResetsAnEmptyDatasetOfTheSameLayout) {
    DatasetPtr model = Filled(2, {1, 2});
    DATASET* out = nullptr;
    ASSERT_EQ(ds_CloneLayout(&out, model.get(), 6), 0);
    DatasetPtr fresh(out);
    EXPECT_EQ(fresh->colsUsed, 3);
    EXPECT_EQ(fresh->cols[2].width, kTextWidth);
    EXPECT_EQ(fresh->rowsAllocated, 6);
    EXPECT_EQ(fresh->rowsUsed, 0);

    DATASET* reused = Filled(3, {7, 8}).release();
    ASSERT_EQ(ds_CloneLayout(&reused, model.get(), 1), 0);  // old rows and blocks freed
    DatasetPtr r(reused);
    EXPECT_EQ(r->rowsUsed, 0);
    EXPECT_EQ(r->rowsAllocated, 1);

    DATASET* self = model.release();  // the slot holds the model itself
    ASSERT_EQ(ds_CloneLayout(&self, self, 2), 0);
    model.reset(self);
    EXPECT_EQ(model->cols[1].type, DS_LONGCHAR);
    EXPECT_EQ(model->rowsAllocated, 2);

    out = nullptr;
    AtEveryFailurePoint([&] { return ds_CloneLayout(&out, model.get(), 2); },
                        [&] { EXPECT_EQ(out, nullptr); });
    DatasetPtr cleanup(out);
}

TEST(DsDropColumn, ReleasesTheColumnAndMovesTheRestLeft) {
    DatasetPtr ds = Filled(3, {1, 2});
    Fill(ds.get(), 2, 3);  // a block in the spare row goes too
    ASSERT_EQ(ds_DropColumn(ds.get(), 1), 0);
    EXPECT_EQ(ds->colsUsed, 2);
    EXPECT_EQ(ds->colsAllocated, 3);
    EXPECT_EQ(Rows(ds.get()), (std::vector<std::string>{"1|t1", "2|t2"}));
    EXPECT_EQ(ds->cols[2].data, nullptr);
    EXPECT_EQ(ds_DropColumn(ds.get(), 2), ERR_GENERAL_ERROR);

    int32_t type = 0;
    uint32_t width = 0;
    ASSERT_EQ(ds_GetColType(ds.get(), 1, &type, &width), 0);
    EXPECT_EQ(type, DS_VARCHAR16);
    EXPECT_EQ(width, kTextWidth);
    EXPECT_EQ(ds_GetColType(ds.get(), 2, &type, &width), ERR_GENERAL_ERROR);
}

TEST(DsInsertColumn, CoversEveryAllocatedRow) {
    DatasetPtr ds = Filled(6, {1, 2});
    ASSERT_EQ(ds_InsertColumn(ds.get(), 1, DS_LONGBINARY, 16), 0);
    EXPECT_EQ(ds->colsUsed, 4);
    EXPECT_EQ(ds->colsAllocated, 4);
    EXPECT_EQ(Row(ds.get(), 1), "2|<NULL>|ref2|t2");
    // Rows past the used ones are reached by appends and by the release: the new column
    // must have them (the sanitizers see any overrun).
    DatasetPtr src = Make({{DS_SLONG, 4}, {DS_LONGBINARY, 16}, {DS_LONGCHAR, 16},
                           {DS_VARCHAR16, kTextWidth}},
                          1, 1);
    PutRef(src.get(), 1, 0, "bin");
    ASSERT_EQ(ds_CopyRow(ds.get(), src.get(), 5, 0, 0), 0);
    PutRef(ds.get(), 1, 5, "last row");
    EXPECT_EQ(Value(ds.get(), 1, 2), "bin");

    ASSERT_EQ(ds_InsertColumn(ds.get(), 4, DS_SLONG, 4), 0);  // at the end
    EXPECT_EQ(ds->cols[4].type, DS_SLONG);
    EXPECT_EQ(ds_InsertColumn(ds.get(), 6, DS_SLONG, 4), ERR_GENERAL_ERROR);
    AtEveryFailurePoint([&] { return ds_InsertColumn(ds.get(), 0, DS_CHARZ, 3); },
                        [&] { EXPECT_EQ(ds->colsUsed, 5); });
}

TEST(DsCopyColumn, ReplacesTheColumnWithACopy) {
    DatasetPtr dst = Filled(4, {1, 2});
    DatasetPtr src = Filled(2, {5, 6});
    SetNull(src.get(), 1, 0);
    ASSERT_EQ(ds_CopyColumn(dst.get(), 1, src.get(), 1), 0);
    EXPECT_EQ(Rows(dst.get()), (std::vector<std::string>{"1|<NULL>|t1", "2|ref6|t2"}));
    EXPECT_NE(RefAt(dst.get(), 1, 1).data, RefAt(src.get(), 1, 1).data);
    EXPECT_EQ(RefAt(dst.get(), 1, 0).data, nullptr);
    Fill(dst.get(), 3, 9);  // rows up to the allocated ones stay reachable
    ASSERT_EQ(ds_CopyColumn(dst.get(), 0, dst.get(), 0), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_CopyColumn(dst.get(), 1, src.get(), 2), ERR_GENERAL_ERROR);  // other layout
    DatasetPtr three = Filled(3, {1, 2, 3});
    EXPECT_EQ(ds_CopyColumn(dst.get(), 1, three.get(), 1), ERR_GENERAL_ERROR);

    DatasetPtr next = Filled(2, {7, 8});
    AtEveryFailurePoint([&] { return ds_CopyColumn(dst.get(), 1, next.get(), 1); },
                        [&] { EXPECT_EQ(Value(dst.get(), 1, 1), "ref6"); });
    EXPECT_EQ(Value(dst.get(), 1, 1), "ref8");
}

TEST(DsCopyColumn, AnEmptyDestinationTakesRowsOnlyAsItsOnlyColumn) {
    DatasetPtr src = Filled(2, {5, 6});
    DatasetPtr wide = Layout(0);  // other used columns would claim rows without arrays
    EXPECT_EQ(ds_CopyColumn(wide.get(), 1, src.get(), 1), ERR_GENERAL_ERROR);
    EXPECT_EQ(wide->rowsUsed, 0);

    DatasetPtr single = Make({{DS_LONGCHAR, 16}}, 0);
    ASSERT_EQ(ds_CopyColumn(single.get(), 0, src.get(), 1), 0);
    EXPECT_EQ(single->rowsUsed, 2);
    EXPECT_EQ(single->rowsAllocated, 2);
    EXPECT_EQ(Value(single.get(), 0, 1), "ref6");

    DatasetPtr noRows = Layout(2);
    EXPECT_EQ(ds_CopyColumn(wide.get(), 1, noRows.get(), 1), 0);  // nothing to copy
    EXPECT_EQ(wide->rowsUsed, 0);
    EXPECT_EQ(wide->cols[1].data, nullptr);
}

// --- values ---------------------------------------------------------------------------

TEST(DsGetValue, LengthRuleOfEachTypeBoundedByTheElement) {
    struct Case {
        const char* what;
        Col col;
        void (*put)(DATASET* ds);
        size_t bufferLength;
        std::string expected;
    } cases[] = {
        {"fixed integer", {DS_SLONG, 4}, [](DATASET* d) { PutI32(d, 0, 0, 0x44434241); }, 64,
         "ABCD"},
        {"fixed text is the whole element", {DS_CHAR, 5},
         [](DATASET* d) { PutRaw(d, 0, 0, "ab", 2); }, 64, "abZZZ"},
        {"NUL-terminated", {DS_CHARZ, 6}, [](DATASET* d) { PutRaw(d, 0, 0, "abc", 4); }, 64, "abc"},
        {"NUL-terminated without its NUL", {DS_CHARZ, 4},
         [](DATASET* d) { PutRaw(d, 0, 0, "wxyz", 4); }, 64, "wxyz"},
        {"1-byte length", {DS_VARCHAR8, 6}, [](DATASET* d) { PutPrefixed(d, 0, 0, "hello", 3); },
         64, "hel"},
        {"u16 length cut to the buffer", {DS_VARCHAR16, 8},
         [](DATASET* d) { PutPrefixed(d, 0, 0, "abcdef", 6); }, 4, "abcd"},
        {"u16 length past the element", {DS_VARBINARY16, 8},
         [](DATASET* d) { PutPrefixed(d, 0, 0, "abcdef", 60000); }, 64, "abcdef"},
        {"negative i32 length", {DS_VARCHAR32, 8},
         [](DATASET* d) { PutPrefixed(d, 0, 0, "abcd", static_cast<uint32_t>(-5)); }, 64, ""},
        {"i32 length past the element", {DS_VARBINARY32, 8},
         [](DATASET* d) { PutPrefixed(d, 0, 0, "abcd", 1u << 30); }, 64, "abcd"},
        {"wide NUL-terminated", {DS_WCHARZ, 8},
         [](DATASET* d) { PutRaw(d, 0, 0, (Wide("ab") + std::string(2, '\0')).data(), 6); }, 64, Wide("ab")},
        {"wide characters by reference", {DS_LONGWCHAR, 16},
         [](DATASET* d) { PutRef(d, 0, 0, Wide("xyz")); }, 64, Wide("xyz")},
        {"wide count past the element", {DS_WVARCHAR32, 12},
         [](DATASET* d) { PutPrefixed(d, 0, 0, Wide("abcd"), 100); }, 64, Wide("abcd")},
    };
    for (const Case& c : cases) {
        // Row 1 follows row 0 directly: a length rule that is not bounded by the element
        // runs into it.
        DatasetPtr ds = Make({c.col}, 2, 2);
        if (!ds_IsRefType(c.col.type))
            std::memset(ds->cols[0].data, 'Z', 2 * c.col.width);
        c.put(ds.get());
        char buf[64];
        size_t len = c.bufferLength;
        ASSERT_EQ(ds_GetValue(ds.get(), 0, 0, buf, &len), 0) << c.what;
        EXPECT_EQ(std::string(buf, len), c.expected) << c.what;
    }
}

TEST(DsGetValue, NullZeroLengthAndBadArguments) {
    DatasetPtr ds = Filled(2, {1});
    char buf[8];
    size_t len = 0;
    ASSERT_EQ(ds_GetValue(ds.get(), 0, 0, buf, &len), 0);
    EXPECT_EQ(len, 0u);
    SetNull(ds.get(), 2, 0);
    len = sizeof buf;
    ASSERT_EQ(ds_GetValue(ds.get(), 2, 0, buf, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(ds_GetValue(ds.get(), 3, 0, buf, &len), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_GetValue(ds.get(), 0, 1, buf, &len), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_GetValue(ds.get(), 0, 0, nullptr, &len), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_GetValue(ds.get(), 0, 0, buf, nullptr), ERR_GENERAL_ERROR);
}

TEST(DsWideToAnsi, ConvertsEachRowAtItsOwnElement) {
    DatasetPtr ds = Make({{DS_WCHAR, 6}, {DS_WCHARZ, 8}, {DS_LONGWCHAR, 16}, {DS_WVARCHAR32, 12},
                          {DS_SLONG, 4}},
                         3, 3);
    const std::string rows[] = {"abc", "def", "x"};
    for (int r = 0; r < 3; ++r) {
        std::string w = Wide(rows[r]);
        std::string fixed = w;
        fixed.resize(6, '\0');
        PutRaw(ds.get(), 0, r, fixed.data(), 6);
        PutRaw(ds.get(), 1, r, w.data(), w.size());
        PutRef(ds.get(), 2, r, w);
        PutPrefixed(ds.get(), 3, r, w, static_cast<uint32_t>(rows[r].size()));
        PutI32(ds.get(), 4, r, r);
    }
    for (int c = 0; c < 4; ++c)
        SetNull(ds.get(), c, 1);
    std::string w = Wide("\xE9t\xE9");
    PutRaw(ds.get(), 1, 1, w.data(), w.size());  // one column non-NULL in row 1
    ASSERT_EQ(ds_WideToAnsi(ds.get(), NarrowCode::Latin1), 0);

    EXPECT_EQ(ds->cols[0].type, DS_CHARZ);
    EXPECT_EQ(ds->cols[1].type, DS_CHARZ);
    EXPECT_EQ(ds->cols[2].type, DS_LONGCHAR);
    EXPECT_EQ(ds->cols[3].type, DS_VARCHAR32);
    EXPECT_EQ(ds->cols[3].width, 7u);  // the length and the longest value, "abc"
    EXPECT_EQ(Row(ds.get(), 0), "abc|abc|abc|abc|0");
    EXPECT_EQ(Row(ds.get(), 1), "<NULL>|\xE9t\xE9|<NULL>|<NULL>|1");
    EXPECT_EQ(Row(ds.get(), 2), "x|x|x|x|2");
    EXPECT_EQ(RefAt(ds.get(), 2, 2).length, 1u);
}

TEST(DsWideToAnsi, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    DatasetPtr ds = Make({{DS_WCHARZ, 8}}, 1, 1);
    const unsigned char w[] = {'a', 0, 0x3A, 0x04, 0xFF, 0x00, 0, 0};  // a, U+043A, U+00FF
    PutRaw(ds.get(), 0, 0, w, sizeof w);
    ASSERT_EQ(ds_WideToAnsi(ds.get(), NarrowCode::Latin1), 0);
    EXPECT_EQ(Value(ds.get(), 0, 0), "a?\xFF");
}

TEST(DsWideToAnsi, Utf8GrowsTheElementsAndRefusesHalfAPair) {
    // Three units take nine bytes of UTF-8 and a pair four: more than the wide elements held.
    DatasetPtr ds = Make({{DS_WCHAR, 6}, {DS_WVARCHAR32, 8}, {DS_LONGWCHAR, 16}}, 2, 2);
    const unsigned char three[] = {0xAC, 0x20, 0x3A, 0x26, 0xE9, 0x00};   // U+20AC U+263A U+00E9
    const unsigned char pair[] = {0x3D, 0xD8, 0x00, 0xDE};                // U+1F600
    PutRaw(ds.get(), 0, 0, three, sizeof three);
    PutPrefixed(ds.get(), 1, 0, std::string(reinterpret_cast<const char*>(pair), 4), 2);
    PutRef(ds.get(), 2, 0, std::string(reinterpret_cast<const char*>(three), 6));
    for (int c = 0; c < 3; ++c)
        SetNull(ds.get(), c, 1);
    ASSERT_EQ(ds_WideToAnsi(ds.get(), NarrowCode::Utf8), 0);
    EXPECT_EQ(ds->cols[0].width, 9u);  // 3 + 3 + 2 bytes and the NUL
    EXPECT_EQ(Row(ds.get(), 0), "\xE2\x82\xAC\xE2\x98\xBA\xC3\xA9|\xF0\x9F\x98\x80|\xE2\x82\xAC\xE2\x98\xBA\xC3\xA9");
    EXPECT_EQ(Row(ds.get(), 1), "<NULL>|<NULL>|<NULL>");
    EXPECT_EQ(RefAt(ds.get(), 2, 0).length, 8u);

    DatasetPtr lone = Make({{DS_WCHARZ, 8}, {DS_WCHARZ, 8}}, 1, 1);
    const unsigned char ok[] = {'a', 0, 0, 0};
    const unsigned char half[] = {'a', 0, 0x3D, 0xD8, 'b', 0, 0, 0};  // a high surrogate alone
    PutRaw(lone.get(), 0, 0, ok, sizeof ok);
    PutRaw(lone.get(), 1, 0, half, sizeof half);
    EXPECT_EQ(ds_WideToAnsi(lone.get(), NarrowCode::Utf8), ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    EXPECT_EQ(lone->cols[0].type, DS_WCHARZ);  // nothing converted
}

TEST(DsApplyMaxLength, CutsEveryKindToTheMaximum) {
    DatasetPtr ds = Make({{DS_CHAR, 10}, {DS_CHARZ, 8}, {DS_LONGCHAR, 16}, {DS_WCHAR, 8},
                          {DS_VARCHAR16, 8}, {DS_BINARY, 3}, {DS_WCHARZ, 12}},
                         2, 2);
    PutRaw(ds.get(), 0, 0, "abcdefghij", 10);
    PutRaw(ds.get(), 1, 0, "sixchr", 7);
    PutRef(ds.get(), 2, 0, "by reference");
    std::string w = Wide("wxyz");
    PutRaw(ds.get(), 3, 0, w.data(), 8);
    PutPrefixed(ds.get(), 4, 0, "ab", 2);  // already short enough
    PutRaw(ds.get(), 5, 0, "123", 3);
    std::string wz = Wide("wide!");
    PutRaw(ds.get(), 6, 0, wz.data(), wz.size());
    for (int c = 0; c < 7; ++c)
        SetNull(ds.get(), c, 1);

    ASSERT_EQ(ds_ApplyMaxLength(ds.get(), 3), 0);
    EXPECT_EQ(ds->cols[0].type, DS_VARCHAR32);
    EXPECT_EQ(ds->cols[0].width, ds_TypeWidth(DS_VARCHAR32, 11));
    EXPECT_EQ(ds->cols[3].type, DS_WVARCHAR32);
    EXPECT_EQ(ds->cols[3].width, ds_TypeWidth(DS_WVARCHAR32, 5));
    EXPECT_EQ(ds->cols[5].type, DS_BINARY);  // never longer than 3
    EXPECT_EQ(Row(ds.get(), 0),
              "abc|six|by |" + Wide("wxy") + "|ab|123|" + Wide("wid"));
    EXPECT_EQ(Row(ds.get(), 1), "<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>");
    EXPECT_EQ(ds->cols[1].indicators[0], 0);
}

TEST(DsApplyMaxLength, FixedColumnIsRelaidRowByRow) {
    DatasetPtr ds = Make({{DS_CHAR, 10}}, 3, 2);
    PutRaw(ds.get(), 0, 0, "abcdefghij", 10);
    PutRaw(ds.get(), 0, 1, "0123456789", 10);
    ASSERT_EQ(ds_ApplyMaxLength(ds.get(), 9), 0);
    EXPECT_EQ(Value(ds.get(), 0, 0), "abcdefghi");
    EXPECT_EQ(Value(ds.get(), 0, 1), "012345678");

    DatasetPtr again = Make({{DS_CHAR, 10}}, 3, 1);
    PutRaw(again.get(), 0, 0, "abcdefghij", 10);
    int rc;
    {
        FailAfter fail(0);
        rc = ds_ApplyMaxLength(again.get(), 9);
    }
    EXPECT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(again->cols[0].type, DS_CHAR);  // the old layout, whole
    EXPECT_EQ(Value(again.get(), 0, 0), "abcdefghij");
}

// --- rowsets --------------------------------------------------------------------------

TEST(DsRowset, NewRowsetHasNoRowStatusesAndAnEmptyDataset) {
    DS_ROWSET* rs = nullptr;
    ASSERT_EQ(ds_RowsetNew(&rs, 20), 0);
    EXPECT_EQ(rs->rowCount, 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(rs->rowStatus[i], 3);
    ASSERT_NE(rs->rows, nullptr);
    EXPECT_EQ(rs->rows->colsAllocated, 0);
    EXPECT_EQ(rs->rows->rowsAllocated, 0);

    // Resizing replaces the contents, rows included.
    ASSERT_EQ(ds_InsertColumn(rs->rows, 0, DS_LONGCHAR, 16), 0);
    ASSERT_EQ(ds_AllocRows(rs->rows, 2), 0);
    PutRef(rs->rows, 0, 0, "cached");
    EXPECT_EQ(ds_RowsetAllocContents(rs, 0), ERR_GENERAL_ERROR);
    ASSERT_EQ(ds_RowsetAllocContents(rs, 5), 0);
    EXPECT_EQ(rs->rowCount, 5);
    EXPECT_EQ(rs->rows->colsUsed, 0);

    ds_RowsetFree(&rs);
    EXPECT_EQ(rs, nullptr);
    ds_RowsetFree(&rs);
}

TEST(DsRowset, RefusesBadArgumentsAndReportsOutOfMemory) {
    DS_ROWSET* rs = nullptr;
    EXPECT_EQ(ds_RowsetNew(nullptr, 5), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_RowsetNew(&rs, 0), ERR_GENERAL_ERROR);
    EXPECT_EQ(ds_RowsetNew(&rs, -2), ERR_GENERAL_ERROR);
    AtEveryFailurePoint([&] { return ds_RowsetNew(&rs, 4); },
                        [&] { EXPECT_EQ(rs, nullptr); });
    ds_RowsetFree(&rs);
}

}  // namespace
