#!/usr/bin/env bash
# Registers both drivers in a private unixODBC configuration under the build folder and
# shows what the driver does today.
set -euo pipefail
build=${1:-build}
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
echo "== Each library exports exactly its own list of ODBC entry points"
for lib in libvarnodw.so libvarnod.so; do
    printf '%-15s %s names, e.g. %s\n' "$lib" "$(nm -D --defined-only "$build/$lib" | grep -c ' T ')" \
        "$(nm -D --defined-only "$build/$lib" | awk '/ T SQLConnect/ {print $3}')"
done
echo
echo "== pyodbc through unixODBC, with the driver's trace file on (KVR_DEBUGFILE)"
trace="$conf/trace.log"
rm -f "$trace"
KVR_DEBUGFILE="$trace" /usr/bin/python3 - <<'PY'
import pyodbc
print("drivers seen by unixODBC:", [d for d in pyodbc.drivers() if d.startswith("Tessaryn")])
try:
    pyodbc.connect("DRIVER={Tessaryn Vell for Progress 11 SQL-92 (Unicode)};DATABASENAME=demo.db")
except pyodbc.Error as e:
    print("connect:", e.args[1])
PY
echo "-- the driver's trace of those calls:"
sed -n '1,40p' "$trace"
echo
echo "== What works today: both libraries, every ODBC entry point, environments, connection handles,"
echo "   SQLGetFunctions, diagnostics and the trace. A connect reads its configuration and opens the"
echo "   database file through the agent (created when missing); SQLSetConnectAttr, which pyodbc calls"
echo "   right after, comes with the connection options: until then it answers HYC00."
