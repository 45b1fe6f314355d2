#!/usr/bin/env bash
# The scrollable-cursor acceptance program (acceptance.c) against both libraries, as an ODBC 3
# and an ODBC 2 application, with its rowset bound column-wise and row-wise.
# Usage: acceptance.sh BUILD_DIR ACCEPTANCE_PROGRAM
set -euo pipefail
build=$1
program=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/varno-acceptance.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ODBCSYSINI="$work" ODBCINI="$work/odbc.ini"
: > "$work/odbcinst.ini"
: > "$work/odbc.ini"
failures=0
for lib in libvarnod.so libvarnodw.so; do
    for version in 3 2; do
        for binding in column row; do
            if timeout 120 "$program" "$build/$lib" "$work/acceptance.db" "$version" "$binding" > "$work/out.txt" 2>&1; then
                echo "ok: $lib, ODBC $version, $binding-wise"
            else
                echo "FAILED: $lib, ODBC $version, $binding-wise"
                sed 's/^/    /' "$work/out.txt"
                failures=$((failures + 1))
            fi
        done
    done
done
exit $((failures != 0))
