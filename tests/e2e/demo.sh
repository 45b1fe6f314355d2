#!/usr/bin/env bash
# The demo's exit status: 0 with working drivers, not 0 when any client cannot connect.
# Each run gets a build folder of its own that links (or fakes) the built libraries, so the
# demo's configuration and database land there. Usage: demo.sh BUILD_DIR
set -euo pipefail
build=$1
demo=$(cd "$(dirname "$0")/../.." && pwd)/tools/demo.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/varno-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/good" "$work/broken"
ln -s "$build/libvarnodw.so" "$build/libvarnod.so" "$work/good/"
# An ANSI library that unixODBC cannot load: that connect fails, the others work.
ln -s "$build/libvarnodw.so" "$work/broken/"
touch "$work/broken/libvarnod.so"

failures=0
if ! out=$("$demo" "$work/good" 2>&1); then
    echo "FAILED: the demo failed with working drivers"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
elif [[ "$out" == *FAILED* ]]; then
    echo "FAILED: the demo reported a failure with working drivers"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
else
    echo "ok: the demo passes with working drivers"
fi
if out=$("$demo" "$work/broken" 2>&1); then
    echo "FAILED: the demo exited 0 although its clients could not connect"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
elif [[ "$out" != *"isql sample_ansi: FAILED"* ]]; then
    echo "FAILED: the demo did not say which connect failed"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
else
    echo "ok: the demo fails when its clients cannot connect"
fi
[ "$failures" -eq 0 ]
