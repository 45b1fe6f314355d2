// Handle tables at growing sizes: the time to register n handles in a new table, to look
// each up, and to free and take again every other slot (the reuse the tables' rule gives:
// the lowest free slot first), per handle. With adds of constant cost the per-handle
// figures stay flat from 1,024 handles to the table's limit of 65,535.
//
//   build/bench/handle_bench [n ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/handle.h"

namespace {

double NanosPer(std::chrono::steady_clock::duration d, uint32_t n) {
    return std::chrono::duration<double, std::nano>(d).count() / n;
}

void Check(bool ok, const char* what, uint32_t n) {
    if (!ok) {
        std::fprintf(stderr, "%s failed at %u handles\n", what, n);
        std::exit(1);
    }
}

void Run(uint32_t n, bool locked) {
    HANDLE_TABLE table;
    Check(hdl_Init(&table, 0xDBC0003) == 0, "set-up", n);
    if (locked)
        hdl_EnableLock(&table);
    static int object;
    std::vector<uint32_t> ids(n);
    using Clock = std::chrono::steady_clock;

    auto t0 = Clock::now();
    for (uint32_t i = 0; i < n; ++i)
        Check(hdl_Add(&table, &ids[i], &object) == 0, "add", i);
    auto t1 = Clock::now();
    for (uint32_t i = 0; i < n; ++i)
        Check(hdl_Lookup(&table, ids[i]) == &object, "look-up", i);
    auto t2 = Clock::now();
    // Every other slot freed from the top down, then taken again: each add takes the
    // lowest free slot, so the ids come back in ascending order.
    for (uint32_t i = n; i-- > 0;)
        if (i % 2 == 0)
            hdl_Remove(&table, ids[i]);
    for (uint32_t i = 0; i < n; i += 2) {
        uint32_t id = 0;
        Check(hdl_Add(&table, &id, &object) == 0 && id == ids[i], "reuse", i);
    }
    auto t3 = Clock::now();
    hdl_Free(&table);
    std::printf("%-7s %6u handles: add %7.1f ns, look-up %6.1f ns, free and reuse %7.1f ns per handle\n",
                locked ? "locked" : "plain", n, NanosPer(t1 - t0, n), NanosPer(t2 - t1, n),
                NanosPer(t3 - t2, (n + 1) / 2));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint32_t> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
    if (counts.empty())
        counts = {1024, 4096, 16384, 65535};
    for (uint32_t n : counts) {
        if (n == 0 || n > HDL_MAX_SLOTS) {
            std::fprintf(stderr, "a count from 1 to %u\n", HDL_MAX_SLOTS);
            return 2;
        }
        Run(n, false);
        Run(n, true);
    }
    return 0;
}
