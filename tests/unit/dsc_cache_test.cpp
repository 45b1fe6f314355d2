// The dataset cache: the file codec (round trip, byte layout, damaged files) and the cache
// over a scripted agent (staying in memory, spilling, windows, temporary files).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "dataset_fixture.h"
#include "dsc_fake_agent.h"
#include "scrs/dsc_cache.h"

namespace {

using dsfix::Col;

// A pair of anonymous files, as the cache would have them.
struct Files {
    FILE* data = std::tmpfile();
    FILE* index = std::tmpfile();
    ~Files() {
        std::fclose(data);
        std::fclose(index);
    }
    static std::string Bytes(FILE* f) {
        std::fflush(f);
        // Sized by fstat: moving the descriptor's offset behind the stream would mislead it.
        struct stat st {};
        EXPECT_EQ(fstat(fileno(f), &st), 0);
        std::string s(static_cast<size_t>(st.st_size), '\0');
        EXPECT_EQ(pread(fileno(f), s.data(), s.size(), 0), static_cast<ssize_t>(s.size()));
        return s;
    }
    // Overwrites bytes of the file behind the stream's back.
    static void Patch(FILE* f, off_t at, const void* bytes, size_t n) {
        std::fflush(f);
        ASSERT_EQ(pwrite(fileno(f), bytes, n, at), static_cast<ssize_t>(n));
        std::fseek(f, 0, SEEK_SET);
    }
    static void Patch4(FILE* f, off_t at, uint32_t v) { Patch(f, at, &v, 4); }
};

uint32_t U32At(const std::string& s, size_t at) {
    uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}
int64_t I64At(const std::string& s, size_t at) {
    int64_t v;
    std::memcpy(&v, s.data() + at, 8);
    return v;
}

DatasetPtr Read(Files& f, int32_t start, int32_t count, int expectOk = 1) {
    DatasetPtr ds(static_cast<DATASET*>(std::calloc(1, sizeof(DATASET))));
    EXPECT_EQ(DSCF_Transfer(1, f.data, f.index, ds.get(), start, count, nullptr), expectOk);
    return ds;
}

// Every storable type with a value, a NULL and a second value (edge values, empty texts).
TEST(DscCodec, EveryStorableTypeRoundTripsWithNulls) {
    std::vector<Col> cols;
    for (int32_t t = DS_NONE; t <= DS_WVARCHAR32; ++t)
        cols.push_back({t, ds_TypeWidth(t, 8)});
    DatasetPtr ds = dsfix::Make({}, 0);
    ds_Free(ds.get());
    ASSERT_EQ(ds_Init(ds.get(), static_cast<uint16_t>(cols.size())), 0);
    for (size_t c = 0; c < cols.size(); ++c) {
        ds->cols[c].type = cols[c].type;
        ds->cols[c].width = cols[c].width;
    }
    ds->colsUsed = static_cast<uint16_t>(cols.size());
    ASSERT_EQ(ds_AllocRows(ds.get(), 3), 0);
    ds->rowsUsed = 3;

    for (int row : {0, 2}) {
        bool alt = row == 2;
        for (int c = 0; c < ds->colsUsed; ++c) {
            DATASET* d = ds.get();
            int32_t t = d->cols[c].type;
            // As wide as the widest fixed element (wide text of 8 characters and its NUL).
            unsigned char raw[32] = {};
            for (int k = 0; k < 32; ++k)
                raw[k] = static_cast<unsigned char>(alt ? 0xE0 + k : 0x41 + k);
            switch (t) {
            case DS_NONE:
                d->cols[c].indicators[row] = 0;
                break;
            case DS_SSHORT: {
                int16_t v = alt ? -2 : 32767;
                dsfix::PutRaw(d, c, row, &v, 2);
                break;
            }
            case DS_USHORT: {
                uint16_t v = alt ? 65534 : 1;
                dsfix::PutRaw(d, c, row, &v, 2);
                break;
            }
            case DS_LONGCHAR:
            case DS_LONGBINARY:
                dsfix::PutRef(d, c, row, alt ? std::string() : std::string("long\0value", 10));
                break;
            case DS_LONGWCHAR:
                dsfix::PutRef(d, c, row, alt ? std::string() : dsfix::Wide("wide"));
                break;
            case DS_VARCHAR8:
            case DS_VARCHAR16:
            case DS_VARCHAR32:
            case DS_VARBINARY8:
            case DS_VARBINARY16:
            case DS_VARBINARY32:
                dsfix::PutPrefixed(d, c, row, alt ? "" : "12345678", alt ? 0 : 8);
                break;
            case DS_WVARCHAR32:
                dsfix::PutPrefixed(d, c, row, dsfix::Wide("wv"), 2);
                break;
            default:
                ASSERT_LE(d->cols[c].width, sizeof raw);
                dsfix::PutRaw(d, c, row, raw, d->cols[c].width);
                break;
            }
            dsfix::SetNull(d, c, 1);
        }
    }

    Files f;
    DSC_LAYOUT layout;
    ASSERT_EQ(DSCF_Transfer(0, f.data, f.index, ds.get(), 0, 0, &layout), 1);
    ASSERT_EQ(layout.size(), cols.size());
    EXPECT_EQ(layout[DS_LONGCHAR], (DSC_COLUMN{DS_LONGCHAR, 16}));

    DatasetPtr back(static_cast<DATASET*>(std::calloc(1, sizeof(DATASET))));
    ASSERT_EQ(DSCF_Transfer(1, f.data, f.index, back.get(), 0, 0, &layout), 1);
    ASSERT_EQ(back->rowsUsed, 3);
    ASSERT_EQ(back->colsUsed, ds->colsUsed);
    for (int c = 0; c < ds->colsUsed; ++c) {
        SCOPED_TRACE("type " + std::to_string(ds->cols[c].type));
        EXPECT_EQ(back->cols[c].type, ds->cols[c].type);
        EXPECT_EQ(back->cols[c].width, ds->cols[c].width);
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(back->cols[c].indicators[row], ds->cols[c].indicators[row]) << row;
            if (ds->cols[c].type != DS_NONE) {
                EXPECT_EQ(dsfix::Value(back.get(), c, row), dsfix::Value(ds.get(), c, row)) << row;
            }
        }
    }
    // Empty by-reference values: text gets an allocated empty text, binary no block.
    EXPECT_NE(dsfix::RefAt(back.get(), DS_LONGCHAR, 2).data, nullptr);
    EXPECT_EQ(static_cast<char*>(dsfix::RefAt(back.get(), DS_LONGCHAR, 2).data)[0], '\0');
    EXPECT_EQ(dsfix::RefAt(back.get(), DS_LONGBINARY, 2).data, nullptr);
    EXPECT_EQ(dsfix::RefAt(back.get(), DS_LONGWCHAR, 0).length, 4u);
    EXPECT_EQ(static_cast<uint16_t*>(dsfix::RefAt(back.get(), DS_LONGWCHAR, 0).data)[4], 0);
}

TEST(DscCodec, ByteLayoutOfThreeRowsOfTwoColumns) {
    DatasetPtr ds = dsfix::Make({{DS_SLONG, 4}, {DS_LONGCHAR, 16}}, 3, 3);
    dsfix::PutI32(ds.get(), 0, 0, 7);
    dsfix::PutRef(ds.get(), 1, 0, "ab");
    dsfix::PutRef(ds.get(), 1, 1, "");
    dsfix::PutI32(ds.get(), 0, 2, -5);
    Files f;
    ASSERT_EQ(DSCF_Transfer(0, f.data, f.index, ds.get(), 0, 0, nullptr), 1);
    std::string d = Files::Bytes(f.data);
    std::string x = Files::Bytes(f.index);
    std::vector<uint32_t> head;
    for (size_t at = 0; at < 24; at += 4)
        head.push_back(U32At(d, at));
    EXPECT_EQ(head, (std::vector<uint32_t>{2, 3, 5, 4, 15, 16}));
    ASSERT_EQ(x.size(), 24u);
    EXPECT_EQ(I64At(x, 0), 24);
    EXPECT_EQ(I64At(x, 8), 24 + 18);  // 0, 7, 0, 2, "ab"
    EXPECT_EQ(I64At(x, 16), 42 + 12);  // FF FF FF FF, 0, 0
    EXPECT_EQ(d.substr(42, 4), std::string("\xFF\xFF\xFF\xFF", 4));
    EXPECT_EQ(d.substr(54, 12), std::string("\0\0\0\0\xFB\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12));
    EXPECT_EQ(d.size(), 66u);
}

// Narrow fields are widened to 4 bytes, signed ones with their sign: a zero-extended
// negative would still read back right, so only the bytes show it.
TEST(DscCodec, NarrowFieldsAreWidenedByTheirSign) {
    DatasetPtr ds = dsfix::Make({{DS_SSHORT, 2}, {DS_USHORT, 2}, {DS_STINYINT, 1}, {DS_UTINYINT, 1}, {DS_DATE, 6}}, 1, 1);
    int16_t i16 = -2;
    uint16_t u16 = 65534;
    int8_t i8 = -2;
    uint8_t u8 = 254;
    const int16_t date[3] = {-1, 12, 31};
    dsfix::PutRaw(ds.get(), 0, 0, &i16, 2);
    dsfix::PutRaw(ds.get(), 1, 0, &u16, 2);
    dsfix::PutRaw(ds.get(), 2, 0, &i8, 1);
    dsfix::PutRaw(ds.get(), 3, 0, &u8, 1);
    dsfix::PutRaw(ds.get(), 4, 0, date, 6);
    Files f;
    ASSERT_EQ(DSCF_Transfer(0, f.data, f.index, ds.get(), 0, 0, nullptr), 1);
    const std::string d = Files::Bytes(f.data);
    const size_t rec = 8 + 5 * 8;
    ASSERT_EQ(d.size(), rec + 4 * 4 * 2 + 4 + 12);
    std::vector<uint32_t> values;
    for (size_t at = rec; at < d.size(); at += 4)
        values.push_back(U32At(d, at));
    EXPECT_EQ(values, (std::vector<uint32_t>{0, 0xFFFFFFFE, 0, 0xFFFE, 0, 0xFFFFFFFE, 0, 0xFE, 0, 0xFFFFFFFF, 12, 31}));
}

TEST(DscCodec, AppendGrowsTheFilesAndReadsAreCut) {
    DatasetPtr first = dsfix::Make({{DS_SLONG, 4}}, 7, 7);
    DatasetPtr more = dsfix::Make({{DS_SLONG, 4}}, 3, 3);
    for (int i = 0; i < 7; ++i)
        dsfix::PutI32(first.get(), 0, i, i);
    for (int i = 0; i < 3; ++i)
        dsfix::PutI32(more.get(), 0, i, 7 + i);
    Files f;
    ASSERT_EQ(DSCF_Transfer(0, f.data, f.index, first.get(), 0, 0, nullptr), 1);
    DatasetPtr none = dsfix::Make({{DS_SLONG, 4}}, 0, 0);
    std::string before = Files::Bytes(f.data);
    EXPECT_EQ(DSCF_Append(f.data, f.index, none.get()), 1);
    EXPECT_EQ(Files::Bytes(f.data), before);
    ASSERT_EQ(DSCF_Append(f.data, f.index, more.get()), 1);
    std::string d = Files::Bytes(f.data);
    std::string x = Files::Bytes(f.index);
    EXPECT_EQ(U32At(d, 4), 10u);
    ASSERT_EQ(x.size(), 80u);
    EXPECT_EQ(I64At(x, 56), I64At(x, 48) + 8);

    DatasetPtr all = Read(f, 0, 0);
    ASSERT_EQ(all->rowsUsed, 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(dsfix::Value(all.get(), 0, i), dsfix::Value(i < 7 ? first.get() : more.get(), 0, i < 7 ? i : i - 7));
    EXPECT_EQ(Read(f, 8, 5)->rowsUsed, 2);
    EXPECT_EQ(Read(f, 9, 0)->rowsUsed, 1);
    Read(f, 10, 1, 0);
    Read(f, -1, 1, 0);
}

TEST(DscCodec, WritesThatCannotBeCodedAreRefused) {
    Files f;
    DatasetPtr noCols = dsfix::Make({}, 0);
    EXPECT_EQ(DSCF_Transfer(0, f.data, f.index, noCols.get(), 0, 0, nullptr), 0);
    struct Case {
        const char* what;
        Col col;
        int32_t rowsUsed;
    } cases[] = {
        {"no rows", {DS_SLONG, 4}, 0},
        {"type 28", {DS_SBIGINT, 8}, 1},
        {"type 40", {40, 8}, 1},
        {"narrow i32", {DS_SLONG, 2}, 1},
        {"narrowed reference", {DS_LONGCHAR, 8}, 1},
        {"zero-width text", {DS_CHAR, 0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DatasetPtr ds = dsfix::Make({c.col}, 1, c.rowsUsed);
        EXPECT_EQ(DSCF_Transfer(0, f.data, f.index, ds.get(), 0, 0, nullptr), 0);
    }
    DatasetPtr ds = dsfix::Make({{DS_SLONG, 4}}, 1, 1);
    EXPECT_EQ(DSCF_Transfer(2, f.data, f.index, ds.get(), 0, 0, nullptr), 0);
    // A length beyond its element in memory is not written past the element.
    DatasetPtr longer = dsfix::Make({{DS_VARCHAR8, 4}}, 1, 0);
    longer->rowsUsed = 1;
    dsfix::PutPrefixed(longer.get(), 0, 0, "abc", 9);
    EXPECT_EQ(DSCF_Transfer(0, f.data, f.index, longer.get(), 0, 0, nullptr), 0);
}

// A written file of one i32, one VARCHAR32 (width 8) and one LONGCHAR column, 2 rows.
struct Written : Files {
    Written() {
        DatasetPtr ds = dsfix::Make({{DS_SLONG, 4}, {DS_VARCHAR32, 8}, {DS_LONGCHAR, 16}}, 2, 2);
        for (int r = 0; r < 2; ++r) {
            dsfix::PutI32(ds.get(), 0, r, r);
            dsfix::PutPrefixed(ds.get(), 1, r, "abc", 3);
            dsfix::PutRef(ds.get(), 2, r, "xyz");
        }
        EXPECT_EQ(DSCF_Transfer(0, data, index, ds.get(), 0, 0, &layout), 1);
    }
    DSC_LAYOUT layout;
    static constexpr off_t kRecords = 8 + 24;
};

TEST(DscCodec, DamagedFilesAreRefusedAndClaimNoRows) {
    struct Case {
        const char* what;
        std::function<void(Written&)> damage;
    } cases[] = {
        {"length beyond its element", [](Written& w) { Files::Patch4(w.data, Written::kRecords + 12, 5); }},
        {"reference length beyond the file", [](Written& w) { Files::Patch4(w.data, Written::kRecords + 23, 1u << 30); }},
        {"i32 width 8", [](Written& w) { Files::Patch4(w.data, 12, 8); }},
        {"reference width 8", [](Written& w) { Files::Patch4(w.data, 28, 8); }},
        {"text width 0", [](Written& w) { Files::Patch4(w.data, 20, 0); }},
        {"type 28", [](Written& w) { Files::Patch4(w.data, 8, 28); }},
        {"no columns", [](Written& w) { Files::Patch4(w.data, 0, 0); }},
        {"negative row count", [](Written& w) { Files::Patch4(w.data, 4, 0xFFFFFFFF); }},
        {"more rows than records", [](Written& w) { Files::Patch4(w.data, 4, 3); }},
        {"truncated data", [](Written& w) {
             std::fflush(w.data);
             ASSERT_EQ(ftruncate(fileno(w.data), static_cast<off_t>(Files::Bytes(w.data).size()) - 3), 0);
         }},
        {"offset outside the file", [](Written& w) {
             int64_t bad = 1 << 20;
             Files::Patch(w.index, 0, &bad, 8);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Written w;
        int32_t count = std::string(c.what) == "more rows than records" ? 3 : 0;
        c.damage(w);
        DatasetPtr ds = Read(w, 0, count, 0);
        EXPECT_EQ(ds->rowsUsed, 0);
        EXPECT_EQ(ds->rowsAllocated, 0);
        EXPECT_EQ(ds->cols, nullptr);
    }
    // An intact file read against another layout is refused too.
    Written w;
    DSC_LAYOUT other = w.layout;
    other[1].width = 12;
    DatasetPtr ds(static_cast<DATASET*>(std::calloc(1, sizeof(DATASET))));
    EXPECT_EQ(DSCF_Transfer(1, w.data, w.index, ds.get(), 0, 0, &other), 0);
    EXPECT_EQ(DSCF_Transfer(1, w.data, w.index, ds.get(), 0, 0, &w.layout), 1);
}

TEST(DscCodec, AppendOfAnotherLayoutLeavesTheFilesAlone) {
    Written w;
    std::string before = Files::Bytes(w.data);
    std::string beforeIndex = Files::Bytes(w.index);
    struct Case {
        const char* what;
        std::initializer_list<Col> cols;
    } cases[] = {
        {"fewer columns", {{DS_SLONG, 4}, {DS_VARCHAR32, 8}}},
        {"another width", {{DS_SLONG, 4}, {DS_VARCHAR32, 12}, {DS_LONGCHAR, 16}}},
        {"another type", {{DS_ULONG, 4}, {DS_VARCHAR32, 8}, {DS_LONGCHAR, 16}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DatasetPtr ds = dsfix::Make(c.cols, 1, 1);
        EXPECT_EQ(DSCF_Append(w.data, w.index, ds.get()), 0);
    }
    EXPECT_EQ(Files::Bytes(w.data), before);
    EXPECT_EQ(Files::Bytes(w.index), beforeIndex);
}

// ---- the cache over a scripted agent --------------------------------------------------------

std::vector<std::string> Visible(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

class DscCache : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("dsc_cache_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        DSC_SetTempFolderForTests(dir.c_str());
        DSC_Init(&cache);
    }
    void TearDown() override {
        DSC_Close(&cache);
        ds_Free(&rows);
        DSC_SetTempFolderForTests(nullptr);
        std::filesystem::remove_all(dir);
    }
    int Fill(int32_t total, int32_t* fetched = nullptr) {
        int32_t n = -1;
        int rc = DSC_Fill(&cache, dscfake::Agent(total), 1, &rows, &n);
        if (fetched != nullptr)
            *fetched = n;
        return rc;
    }
    // Reads the window for [start, start + n) and checks those rows are there and right.
    void Window(int32_t start, int32_t n) {
        ASSERT_EQ(DSC_ReadWindow(&cache, start, n, &first, &rows), 0);
        ASSERT_GE(first, 0);
        ASSERT_LE(first, start);
        ASSERT_GE(first + rows.rowsUsed, std::min(start + n, cache.rowCount));
        for (int32_t r = start; r < std::min(start + n, cache.rowCount); ++r)
            ASSERT_TRUE(dscfake::HoldsRow(&rows, r - first, r));
    }

    std::filesystem::path dir;
    DSC_CACHE cache;
    DATASET rows{};
    int32_t first = 0;
};

TEST_F(DscCache, FiveThousandRowsStayInMemory) {
    int32_t fetched = 0;
    ASSERT_EQ(Fill(5000, &fetched), 0);
    EXPECT_EQ(fetched, 5000);
    EXPECT_EQ(cache.state, DSC_IN_MEMORY);
    EXPECT_EQ(cache.data, nullptr);
    EXPECT_EQ(cache.index, nullptr);
    EXPECT_EQ(cache.rowCount, 5000);
    ASSERT_EQ(rows.rowsUsed, 5000);
    EXPECT_TRUE(dscfake::HoldsRow(&rows, 4999, 4999));
    EXPECT_EQ(dscfake::Current().calls, 26);  // 25 full batches and the empty one
}

TEST_F(DscCache, BeyondFiveThousandEveryRowSpills) {
    for (int32_t total : {5001, 5201, 12345}) {
        SCOPED_TRACE(total);
        int32_t fetched = 0;
        ASSERT_EQ(Fill(total, &fetched), 0);
        EXPECT_EQ(fetched, total);
        EXPECT_EQ(cache.state, DSC_SPILLED);
        EXPECT_EQ(cache.rowCount, total);
        EXPECT_EQ(rows.rowsUsed, 0);
        EXPECT_EQ(cache.layout, (DSC_LAYOUT{{DS_SLONG, 4}, {DS_VARCHAR32, 24}}));
        // Every row is in the files, the first spill's and the appended batches' alike.
        EXPECT_EQ(U32At(Files::Bytes(cache.data), 4), static_cast<uint32_t>(total));
        EXPECT_EQ(Files::Bytes(cache.index).size(), 8 * static_cast<size_t>(total));
        first = -1;
        Window(0, 10);
        Window(total - 3, 3);
        Window(5199, 3);
    }
}

TEST_F(DscCache, WindowsCentreOnTheRequest) {
    ASSERT_EQ(Fill(20000), 0);
    first = -1;
    Window(6000, 10);
    EXPECT_EQ(first, 6000 - 4990 / 2);
    EXPECT_EQ(rows.rowsUsed, 5000);
    // Rows already in memory are not read again: a mark left in the buffer survives.
    rows.cols[1].indicators[6005 - first] = DS_IND_IGNORE;
    ASSERT_EQ(DSC_ReadWindow(&cache, 6003, 5, &first, &rows), 0);
    EXPECT_EQ(rows.cols[1].indicators[6005 - first], DS_IND_IGNORE);

    Window(10000, 3000);
    EXPECT_EQ(cache.windowRows, 6000);
    EXPECT_EQ(first, 8500);
    EXPECT_EQ(rows.rowsUsed, 6000);
    EXPECT_TRUE(dscfake::HoldsRow(&rows, 5999, 14499));

    Window(100, 10);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(cache.windowRows, 6000);  // the grown window stays
    Window(19990, 100);
    EXPECT_EQ(first + rows.rowsUsed, 20000);

    DSC_Close(&cache);
    EXPECT_EQ(cache.windowRows, 6000);
    EXPECT_EQ(cache.state, DSC_IN_MEMORY);
}

TEST_F(DscCache, ANeverSpilledCacheAnswersFromMemory) {
    ASSERT_EQ(Fill(4000), 0);
    for (auto [start, n] : {std::pair{3000, 3000}, {0, 4000}, {3999, 1}, {5000, 10}}) {
        first = 0;
        EXPECT_EQ(DSC_ReadWindow(&cache, start, n, &first, &rows), 0);
        EXPECT_EQ(first, 0);
        EXPECT_EQ(rows.rowsUsed, 4000);
    }
}

TEST_F(DscCache, NoTemporaryFileIsEverVisible) {
    size_t seen = 0;
    dscfake::Agent(9000);
    dscfake::Current().onFetch = [&] { seen += Visible(dir).size(); };
    int32_t n = 0;
    ASSERT_EQ(DSC_Fill(&cache, dscfake::Agent(9000), 1, &rows, &n), 0);
    EXPECT_EQ(cache.state, DSC_SPILLED);
    EXPECT_EQ(seen, 0u);
    EXPECT_TRUE(Visible(dir).empty());
    // The files are open yet nameless.
    struct stat st;
    ASSERT_EQ(fstat(fileno(cache.data), &st), 0);
    EXPECT_EQ(st.st_nlink, 0u);
    EXPECT_GT(st.st_size, 9000);
}

TEST_F(DscCache, AFetchFailureEndsTheFillWithItsCode) {
    const OA_OPTABLE* agent = dscfake::Agent(20000);
    dscfake::Current().failAtCall = 30;
    dscfake::Current().failCode = 42;
    int32_t n = 0;
    EXPECT_EQ(DSC_Fill(&cache, agent, 1, &rows, &n), 42);
    EXPECT_EQ(n, 29 * 200);
    EXPECT_EQ(cache.rowCount, 29 * 200);
    EXPECT_EQ(DSC_Fill(&cache, nullptr, 1, &rows, &n), 15);
    EXPECT_EQ(n, 0);
}

class DscCacheAgent : public AgentHandles {};

TEST_F(DscCacheAgent, AFileThatCannotBeCreatedNamesTheFolder) {
    std::string missing = "/nonexistent-dsc-folder/sub";
    DSC_SetTempFolderForTests(missing.c_str());
    DSC_CACHE cache;
    DATASET rows{};
    int32_t n = 0;
    EXPECT_EQ(DSC_Fill(&cache, dscfake::Agent(6000), stmtId, &rows, &n), 15);
    EXPECT_EQ(n, 5200);
    EXPECT_EQ(cache.data, nullptr);
    EXPECT_EQ(cache.index, nullptr);
    std::vector<std::string> recs = agenttest::Records(stmt.errors);
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.back(),
              "0|S1000|General error: cannot create a temporary file in " + missing + " (No such file or directory)");
    DSC_Close(&cache);
    ds_Free(&rows);
    DSC_SetTempFolderForTests(nullptr);
}

}  // namespace
