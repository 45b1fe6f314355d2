#!/usr/bin/env bash
# End to end with real clients through unixODBC: isql and pyodbc connect to the embedded
# server through each library and disconnect, and pyodbc reads driver information.
# Usage: clients.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/varno-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat > "$work/odbcinst.ini" <<INI
[Tessaryn Vell for Progress 11 SQL-92 (Unicode)]
Driver = $build/libvarnodw.so

[Tessaryn Vell for Progress 11 SQL-92]
Driver = $build/libvarnod.so
INI
cat > "$work/odbc.ini" <<INI
[wide]
Driver = Tessaryn Vell for Progress 11 SQL-92 (Unicode)
DatabaseName = $work/wide.db

[narrow]
Driver = Tessaryn Vell for Progress 11 SQL-92
DatabaseName = $work/narrow.db
INI
export ODBCSYSINI="$work" ODBCINI="$work/odbc.ini"

failures=0
check() {  # name, then the command; passes when the command succeeds
    local name=$1
    shift
    if "$@" > "$work/out.txt" 2>&1; then
        echo "ok: $name"
    else
        echo "FAILED: $name"
        sed 's/^/    /' "$work/out.txt"
        failures=$((failures + 1))
    fi
}

isql_connects() {  # client, DSN, database file
    local out
    out=$(echo "quit" | "$1" -v "$2")
    echo "$out"
    [[ "$out" == *"Connected!"* ]] && test -f "$3"
}
check "isql connects through libvarnod (DSN narrow)" isql_connects isql narrow "$work/narrow.db"
check "iusql connects through libvarnodw (DSN wide)" isql_connects iusql wide "$work/wide.db"

check "pyodbc connects and disconnects through both libraries" /usr/bin/python3 - "$work" <<'PY'
import os, sys, pyodbc
work = sys.argv[1]
for driver in ("Tessaryn Vell for Progress 11 SQL-92 (Unicode)", "Tessaryn Vell for Progress 11 SQL-92"):
    db = os.path.join(work, "py-%d.db" % len(driver))
    conn = pyodbc.connect("DRIVER={%s};DATABASENAME=%s" % (driver, db), autocommit=True)
    conn.close()
    assert os.path.exists(db), db
for dsn in ("wide", "narrow"):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    # Execution is not built yet: the statement is allocated and prepared, and the
    # driver's own diagnostic comes back through unixODBC (wide or narrow diagnostic
    # calls), state and text intact.
    cursor = conn.cursor()
    try:
        cursor.execute("select 1")
        raise AssertionError("a statement was executed")
    except pyodbc.Error as e:
        assert e.args[0] == "HYC00" and "[Tessaryn][ODBC][Driver]Driver not capable" in e.args[1], e.args
    cursor.close()
    conn.close()
# A braced password is one value: the ';' and the keyword inside it do not reach the
# driver as a setting, so the data source's database is the one opened (the embedded
# server accepts any password). A brace never closed is refused before anything opens.
for pwd in ("{a;DATABASENAME=%s/wrong.db}" % work, "{a;b}"):
    conn = pyodbc.connect("DSN=wide;PWD=%s" % pwd, autocommit=True)
    conn.close()
    assert not os.path.exists(os.path.join(work, "wrong.db")), pwd
try:
    pyodbc.connect("DSN=wide;PWD={a;DATABASENAME=%s/wrong.db" % work, autocommit=True)
    raise AssertionError("a connect string with an unclosed brace was accepted")
except pyodbc.Error as e:
    assert e.args[0] == "08001" and "never closed" in e.args[1], e.args
assert not os.path.exists(os.path.join(work, "wrong.db"))
PY

check "pyodbc with autocommit off commits, rolls back and toggles autocommit" /usr/bin/python3 - <<'PY'
import pyodbc
for dsn in ("wide", "narrow"):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=False)
    assert conn.autocommit is False, dsn
    conn.commit()
    conn.rollback()
    conn.autocommit = True
    assert conn.autocommit is True, dsn
    conn.autocommit = False
    assert conn.autocommit is False, dsn
    conn.rollback()
    conn.close()
PY

check "pyodbc reads driver information through both libraries" /usr/bin/python3 - <<'PY'
import pyodbc
for dsn, so in (("wide", "libvarnodw.so"), ("narrow", "libvarnod.so")):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    info = {name: conn.getinfo(getattr(pyodbc, name)) for name in (
        "SQL_DRIVER_NAME", "SQL_DRIVER_ODBC_VER", "SQL_DBMS_NAME", "SQL_DATA_SOURCE_NAME", "SQL_DESCRIBE_PARAMETER",
        "SQL_IDENTIFIER_QUOTE_CHAR", "SQL_MAX_COLUMN_NAME_LEN", "SQL_TXN_CAPABLE", "SQL_CONVERT_TIMESTAMP")}
    expected = {"SQL_DRIVER_NAME": so, "SQL_DRIVER_ODBC_VER": "03.50", "SQL_DBMS_NAME": "PROGRESS",
                "SQL_DATA_SOURCE_NAME": dsn, "SQL_DESCRIBE_PARAMETER": True, "SQL_IDENTIFIER_QUOTE_CHAR": '"',
                "SQL_MAX_COLUMN_NAME_LEN": 32, "SQL_TXN_CAPABLE": 2}  # SQL_TC_ALL
    for name, value in expected.items():
        assert info[name] == value, (dsn, name, info[name])
    assert info["SQL_CONVERT_TIMESTAMP"] & 0x38301 == 0x38301, info
    conn.close()
PY

echo "$((4 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
