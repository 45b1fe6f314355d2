#!/usr/bin/env bash
# Registers both drivers in a private unixODBC configuration under the build folder and
# shows what the driver does today.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
conf="$build/demo"
mkdir -p "$conf"
cat > "$conf/odbcinst.ini" <<INI
[Tessaryn Vell for Progress 11 SQL-92 (Unicode)]
Description = Tessaryn ODBC driver, Unicode entry points
Driver = $build/libvarnodw.so

[Tessaryn Vell for Progress 11 SQL-92]
Description = Tessaryn ODBC driver, ANSI entry points
Driver = $build/libvarnod.so
INI
: > "$conf/odbc.ini"
export ODBCSYSINI="$conf" ODBCINI="$conf/odbc.ini"

echo "== Drivers registered in $conf/odbcinst.ini"
odbcinst -q -d
echo
echo "== Each library loads, starts its driver globals and answers its setup exports"
python3 - "$build" <<'PY'
import ctypes, sys
for name in ("libvarnodw.so", "libvarnod.so"):
    lib = ctypes.CDLL(f"{sys.argv[1]}/{name}")
    buf = ctypes.create_string_buffer(128)
    lib.GetSetupDatabase(buf, 128)
    desc = buf.value.decode()
    lib.GetSetupRegistry(buf, 128)
    print(f"{name:15} {desc!r:52} key {buf.value.decode()!r}")
PY
echo
echo "== What works today: the build, the driver globals, handle tables and the call"
echo "   dispatcher. The ODBC entry points come next; connecting is not possible yet."
