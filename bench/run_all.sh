#!/usr/bin/env bash
# The whole fair comparison: builds the drivers and the benchmarks, runs the fetch, static cursor,
# keyset cursor, insert and pyodbc benchmarks, and writes their output and results under
# $BUILD/bench-results/:
# LABEL.txt (everything printed), LABEL.tsv (one line a cell) and LABEL.md (the tables).
#
#   bench/run_all.sh [LABEL]                 LABEL defaults to the commit's short hash
#   BEFORE=path/to/before.tsv bench/run_all.sh after    tables as "before → after"
#   BUILD=dir (default ./build); BENCH_LIB_DIR=dir measures another build's libvarnod.so and
#   libvarnodw.so with these benchmarks; BENCH_REPEAT, BENCH_LIB, BENCH_CTYPE, BENCH_DATES and
#   BENCH_ONLY narrow the runs (bench/README.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD:-$root/build}")
label=${1:-$(git -C "$root" rev-parse --short HEAD)}
out="$build/bench-results"

make -C "$root" build BUILD="$build" > /dev/null
mkdir -p "$out"
tsv="$out/$label.tsv"
: > "$tsv"
export BENCH_TSV="$tsv"
{
    "$build/bench/odbc_fetch_bench"
    "$build/bench/static_cursor_bench"
    "$build/bench/keyset_cursor_bench"
    "$build/bench/insert_bench"
    /usr/bin/python3 "$root/bench/pyodbc_bench.py" --build "$build"
} 2>&1 | tee "$out/$label.txt"

if [[ -n "${BEFORE:-}" ]]; then
    python3 "$root/bench/compare.py" "$BEFORE" "$tsv" > "$out/$label.md"
else
    python3 "$root/bench/compare.py" "$tsv" > "$out/$label.md"
fi
echo
cat "$out/$label.md"
echo
echo "results: $out/$label.{txt,tsv,md}"
