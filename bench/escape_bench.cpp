// Escape translation of deeply nested function escapes ({fn ucase( ... )} n times): time
// and peak memory for growing n, each size in a child process of its own so that its peak
// RSS is its own. Both should grow in step with n.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drv_pro9/oa_sqltext.h"

namespace {

std::string Nested(long n) {
    std::string in = "SELECT ";
    in.reserve(static_cast<size_t>(n) * 12 + 16);
    for (long k = 0; k < n; ++k)
        in += "{fn ucase(";
    in += "'x'";
    for (long k = 0; k < n; ++k)
        in += ")}";
    return in + " FROM t";
}

// Translates once in a child; prints n, milliseconds and the child's peak RSS.
void Measure(long n) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        const std::string in = Nested(n);
        OA_SQLTEXT rec;
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = ut_SqlTextTranslate(nullptr, &rec, in.c_str());
        const auto t1 = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        std::printf("%9ld nested escapes: %10.1f ms  (rc %d, %zu bytes out)", n, ms, rc,
                    rec.translated != nullptr ? std::strlen(rec.translated) : size_t{0});
        std::fflush(stdout);
        _exit(rc == 0 ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::printf("  peak RSS %8ld KiB\n", usage.ru_maxrss);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i)
            Measure(std::strtol(argv[i], nullptr, 10));
        return 0;
    }
    for (long n : {12500L, 25000L, 50000L, 100000L, 200000L, 400000L})
        Measure(n);
    return 0;
}
