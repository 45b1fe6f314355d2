// Text regeneration of a statement of n joins (SELECT * FROM t0 INNER JOIN t1 ON ... n
// times): the parse and the regeneration timed apart, each size in a child process of its
// own so that its peak RSS is its own. Both should grow in step with n.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sqlparse/ptree.h"
#include "sqlparse/scsql_parse.h"

namespace {

std::string Joins(long n) {
    std::string sql = "SELECT * FROM t0";
    sql.reserve(static_cast<size_t>(n) * 40 + 32);
    for (long k = 1; k <= n; ++k) {
        const std::string t = "t" + std::to_string(k);
        sql += " INNER JOIN " + t + " ON " + t + ".a = t0.a";
    }
    return sql;
}

double Ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Parses and regenerates once in a child; prints n, both times and the child's peak RSS.
void Measure(long n) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        const std::string sql = Joins(n);
        SCSQL_PARSE parse{};
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = scsql_Parse(sql.c_str(), sql.size(), &parse);
        const auto t1 = std::chrono::steady_clock::now();
        const int regen = rc == SCSQL_PARSE_ACCEPTED ? PT_RegenText(parse.root) : 0;
        const auto t2 = std::chrono::steady_clock::now();
        const char* text = regen == 1 ? PT_NodeText(parse.root) : nullptr;
        std::printf("%7ld joins: parse %9.1f ms, regenerate %9.1f ms  (rc %d, %zu bytes out)", n, Ms(t0, t1),
                    Ms(t1, t2), rc, text != nullptr ? std::strlen(text) : size_t{0});
        std::fflush(stdout);
        scsql_ParseFree(&parse);
        _exit(regen == 1 ? 0 : 1);
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
    for (long n : {2000L, 4000L, 8000L, 16000L, 32000L, 64000L})
        Measure(n);
    return 0;
}
