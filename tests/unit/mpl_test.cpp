// Memory pools and the fatal allocators: chunk sizes and alignment, objects that stay put
// while later ones grow, dropping objects with mpl_FreeTo, the out-of-memory exit, and the
// file-extension helper.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trace_support.h"
#include "util/mpl.h"
#include "util/utalloc.h"

using namespace trace_support;

namespace {

size_t ChunkSize(const MPL& p) { return static_cast<size_t>(p.limit - p.chunk); }
char* PrevChunk(const MPL& p) { return *reinterpret_cast<char* const*>(p.chunk); }
bool Aligned16(const void* p) { return reinterpret_cast<uintptr_t>(p) % 16 == 0; }

// Appends the text and its NUL, then closes it.
char* AddText(MPL* pool, const std::string& text) {
    mpl_Append(pool, text.data(), text.size());
    mpl_AppendByte(pool, '\0');
    return static_cast<char*>(mpl_Finish(pool));
}

TEST(Mpl, FirstGrowthSizesTheChunkAndKeepsTheText) {
    MPL pool;
    mpl_Init(&pool);
    std::string big(5000, 'q');
    char* at = static_cast<char*>(mpl_Append(&pool, big.data(), big.size()));
    EXPECT_EQ(ChunkSize(pool), 8192u);  // 5000 + 0 + 100, in whole pages
    EXPECT_EQ(PrevChunk(pool), nullptr);
    EXPECT_TRUE(Aligned16(at));
    EXPECT_GE(at, pool.chunk + 16);
    EXPECT_LT(at, pool.chunk + 32);
    EXPECT_EQ(std::string(at, 5000), big);
    mpl_FreeAll(&pool);
    EXPECT_EQ(pool.chunk, nullptr);
    EXPECT_EQ(pool.next, nullptr);
}

TEST(Mpl, ClosedObjectsStayWhileTheOpenOneGrows) {
    MPL pool;
    mpl_Init(&pool);
    char* first = AddText(&pool, "first text");
    char* firstChunk = pool.chunk;
    mpl_Append(&pool, "sec", 3);
    // Growing past the chunk moves only the open object; the chunk that also holds the
    // first text is kept.
    std::string rest(6000, 'r');
    mpl_Append(&pool, rest.data(), rest.size());
    mpl_AppendByte(&pool, '\0');
    char* second = static_cast<char*>(mpl_Finish(&pool));
    EXPECT_NE(pool.chunk, firstChunk);
    EXPECT_EQ(PrevChunk(pool), firstChunk);
    EXPECT_STREQ(first, "first text");
    EXPECT_EQ(std::string(second), "sec" + rest);
    EXPECT_TRUE(Aligned16(first));
    EXPECT_TRUE(Aligned16(second));
    EXPECT_TRUE(Aligned16(mpl_Alloc(&pool, 5)));
    mpl_FreeAll(&pool);
}

TEST(Mpl, GrowingTheOnlyObjectOfAChunkReplacesTheChunk) {
    MPL pool;
    mpl_Init(&pool);
    mpl_Append(&pool, "abc", 3);
    std::string more(10000, 'm');
    mpl_Append(&pool, more.data(), more.size());
    EXPECT_EQ(PrevChunk(pool), nullptr);  // one chunk, not two
    mpl_AppendByte(&pool, '\0');
    EXPECT_EQ(std::string(static_cast<char*>(mpl_Finish(&pool))), "abc" + more);
    mpl_FreeAll(&pool);
}

TEST(Mpl, FreeToReopensAnOlderChunkWithItsOwnLimit) {
    MPL pool;
    mpl_Init(&pool);
    char* keep = AddText(&pool, "keep");
    char* mark = AddText(&pool, "dropped");
    char* firstChunk = pool.chunk;
    std::string big(20000, 'b');
    AddText(&pool, big);  // a second, larger chunk
    ASSERT_NE(pool.chunk, firstChunk);

    mpl_FreeTo(&pool, mark);
    EXPECT_EQ(pool.chunk, firstChunk);
    EXPECT_EQ(pool.base, mark);
    EXPECT_EQ(pool.next, mark);
    EXPECT_EQ(ChunkSize(pool), 4096u);  // not the freed chunk's end
    // Appending more than the old chunk holds must grow, not run past it.
    char* after = AddText(&pool, std::string(8000, 'a'));
    EXPECT_EQ(std::string(after), std::string(8000, 'a'));
    EXPECT_STREQ(keep, "keep");

    // Null drops only the open object.
    mpl_Append(&pool, "open", 4);
    mpl_FreeTo(&pool, nullptr);
    EXPECT_EQ(pool.next, pool.base);
    // An address in no chunk drops everything.
    int outside = 0;
    mpl_FreeTo(&pool, &outside);
    EXPECT_EQ(pool.chunk, nullptr);
    EXPECT_EQ(pool.limit, nullptr);
    mpl_FreeAll(&pool);
}

TEST(Mpl, EmptyPoolsFreeAndStayUsable) {
    MPL pool;
    mpl_Init(&pool);
    mpl_FreeAll(&pool);
    EXPECT_EQ(mpl_Finish(&pool), nullptr);
    EXPECT_STREQ(AddText(&pool, ""), "");
    mpl_FreeAll(&pool);
    EXPECT_STREQ(AddText(&pool, "again"), "again");
    mpl_FreeAll(&pool);
}

TEST(Alloc, NeverNull) {
    auto* one = static_cast<unsigned char*>(s_alloc(0, 8));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one[0], 0);
    auto* zeroed = static_cast<unsigned char*>(s_alloc(3, 4));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(zeroed[i], 0);
    // A size of 0 keeps a valid block rather than freeing it behind the caller's back.
    void* kept = s_realloc(zeroed, 0);
    EXPECT_NE(kept, nullptr);
    char* copy = s_strdup("text");
    EXPECT_STREQ(copy, "text");
    char* empty = s_strdup(nullptr);
    EXPECT_STREQ(empty, "");
    for (void* p : {static_cast<void*>(one), kept, static_cast<void*>(copy), static_cast<void*>(empty)})
        std::free(p);
}

// The child must see a failed allocation rather than the sanitizer's own report.
void AllowNullAllocations() {
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* old = std::getenv(name);
        std::string opts = old != nullptr ? std::string(old) + ":" : std::string();
        setenv(name, (opts + "allocator_may_return_null=1").c_str(), 1);
    }
}

TEST(Alloc, OutOfMemoryLogsFileAndLineAndExits) {
    UseFreshProcessForDeathTests();
    AllowNullAllocations();
    EXPECT_EXIT(s_alloc(SIZE_MAX / 2, 4), ::testing::ExitedWithCode(1),
                "\\(.*util/utalloc\\.cpp:[0-9]+\\) s_alloc: out of memory\n");
    EXPECT_EXIT(
        {
            void* p = std::malloc(16);
            s_realloc(p, SIZE_MAX - 64);
        },
        ::testing::ExitedWithCode(1), "util/utalloc\\.cpp:[0-9]+\\) s_realloc: out of memory");
    EXPECT_EXIT(
        {
            MPL pool;
            mpl_Init(&pool);
            mpl_Grow(&pool, SIZE_MAX - 16);
        },
        ::testing::ExitedWithCode(1), "util/mpl\\.cpp:[0-9]+\\) out of memory");
}

TEST(FileExt, ReplaceAddRemove) {
    struct Case {
        const char* name;
        int mode;
        const char* expected;
    } cases[] = {
        {"init", UT_EXT_ADD, "init.sql"},
        {"init.txt", UT_EXT_ADD, "init.txt"},
        {"init.txt", UT_EXT_REPLACE, "init.sql"},
        {"init", UT_EXT_REPLACE, "init.sql"},
        {"init.txt", UT_EXT_REMOVE, "init"},
        {"a.b.c", UT_EXT_REPLACE, "a.b.sql"},
        {"/etc/odbc.d/init", UT_EXT_ADD, "/etc/odbc.d/init.sql"},  // a dot in a directory
        {"/etc/odbc.d/init", UT_EXT_REMOVE, "/etc/odbc.d/init"},
        {"dir/.profile", UT_EXT_ADD, "dir/.profile.sql"},           // a leading dot is no extension
        {".profile", UT_EXT_REMOVE, ".profile"},
        {"", UT_EXT_ADD, ".sql"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(ut_FileExt(c.name, "sql", c.mode), c.expected) << c.name << " mode " << c.mode;
}

TEST(FileExt, ResultIsBoundedByThePathBuffer) {
    std::string longName(PATH_MAX + 100, 'n');
    EXPECT_EQ(std::strlen(ut_FileExt(longName.c_str(), "sql", UT_EXT_ADD)), size_t{PATH_MAX - 1});
    std::string nearFull(PATH_MAX - 3, 'n');
    std::string result = ut_FileExt(nearFull.c_str(), "sql", UT_EXT_ADD);
    EXPECT_EQ(result, nearFull + ".s");
}

}  // namespace
