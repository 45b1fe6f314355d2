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
checks=0
check() {  # name, then the command; passes when the command succeeds
    local name=$1
    shift
    checks=$((checks + 1))
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

isql_runs_statements() {  # client, DSN: DDL and DML in batch mode, each reporting its row count
    local out
    out=$(printf '%s\n' "create table q (a integer, b varchar(10))" "insert into q values (1, 'x')" \
        "insert into q values (2, 'y')" "update q set a = 3 where a = 1" "delete from q where a > 1" \
        "drop table q" | "$1" -b -v "$2" 2>&1)
    echo "$out"
    [[ "$out" != *ERROR* && "$out" != *"["[0-9A-Z][0-9A-Z][0-9A-Z]* ]] &&
        [[ "$(grep -c 'SQLRowCount returns' <<<"$out")" -eq 6 ]] && grep -q 'SQLRowCount returns 2' <<<"$out"
}
check "isql runs CREATE, INSERT, UPDATE, DELETE through libvarnod" isql_runs_statements isql narrow
check "iusql runs CREATE, INSERT, UPDATE, DELETE through libvarnodw" isql_runs_statements iusql wide

check "pyodbc executes with parameters of every type, executemany, commit and rollback" /usr/bin/python3 - <<'PY'
import datetime, decimal, pyodbc
for dsn in ("wide", "narrow"):
    for autocommit in (True, False):
        conn = pyodbc.connect("DSN=%s" % dsn, autocommit=autocommit)
        cur = conn.cursor()
        cur.execute("create table p (i integer, s varchar(40), d date, n numeric(10,2), f double precision,"
                    " b varbinary(10), ts timestamp, t time, k bigint)")
        # A character outside the BMP goes through the Unicode library; the ANSI one has Latin-1.
        text = "caf\u00e9 \U0001F600" if dsn == "wide" else "caf\u00e9"
        row = (1, text, datetime.date(2024, 2, 29), decimal.Decimal("12.34"), 2.5, b"\x00\x01",
               datetime.datetime(2024, 1, 2, 3, 4, 5), datetime.time(23, 59, 58), 9007199254740993)
        cur.execute("insert into p values (?, ?, ?, ?, ?, ?, ?, ?, ?)", *row)
        assert cur.rowcount == 1, cur.rowcount
        cur.executemany("insert into p (i, s) values (?, ?)", [(2, "x"), (3, None)])
        # Each value arrived as sent: a statement that matches it touches its row.
        for column, value in zip("isdnfbtk", (1, text, row[2], row[3], 2.5, row[5], row[7], row[8])):
            cur.execute("update p set i = i where %s = ?" % column, value)
            assert cur.rowcount == 1, (dsn, column, cur.rowcount)
        cur.execute("update p set i = i where ts = ?", row[6])
        assert cur.rowcount == 1, (dsn, "ts")
        cur.execute("update p set i = i where s is null and d is null")
        assert cur.rowcount == 1, (dsn, "nulls", cur.rowcount)
        if not autocommit:
            conn.rollback()
            try:
                cur.execute("update p set i = i")
                raise AssertionError("the rolled-back table is still there")
            except pyodbc.Error as e:
                assert e.args[0] == "42S02", e.args
            cur.execute("create table p (i integer)")
            cur.execute("insert into p values (?)", 7)
            conn.commit()
            cur.execute("delete from p where i = 7")
            assert cur.rowcount == 1, cur.rowcount
            conn.commit()
        cur.execute("drop table p")
        if not autocommit:
            conn.commit()
        conn.close()
PY

isql_selects() {  # client, DSN: a SELECT's rows come back through the fetch
    local out
    out=$(printf '%s\n' "create table r (a integer, b varchar(10))" "insert into r values (1, 'one')" \
        "insert into r values (2, NULL)" "select a, b from r order by a" "drop table r" |
        "$1" -b -v -d'|' -c "$2" 2>&1)
    echo "$out"
    [[ "$out" != *ERROR* ]] && grep -qx '1|one' <<<"$out" && grep -qx '2|' <<<"$out"
}
check "isql fetches a SELECT's rows through libvarnod" isql_selects isql narrow
check "iusql fetches a SELECT's rows through libvarnodw" isql_selects iusql wide

check "pyodbc fetches every type with NULLs, describes the columns and reads the catalog" /usr/bin/python3 - <<'PY'
import datetime, decimal, pyodbc
for dsn in ("wide", "narrow"):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    cur = conn.cursor()
    cur.execute("create table g (i integer primary key, s varchar(40), d date, n numeric(10,2),"
                " f double precision, b varbinary(10), ts timestamp, k bigint)")
    text = "caf\u00e9 \U0001F600" if dsn == "wide" else "caf\u00e9"
    row = (1, text, datetime.date(2024, 2, 29), decimal.Decimal("12.34"), 2.5, b"\x00\x01",
           datetime.datetime(2024, 1, 2, 3, 4, 5), 9007199254740993)
    cur.execute("insert into g values (?, ?, ?, ?, ?, ?, ?, ?)", *row)
    cur.executemany("insert into g (i) values (?)", [(i,) for i in range(2, 52)])
    cur.execute("select i, s, d, n, f, b, ts, k from g where i = ?", 1)
    assert [d[0] for d in cur.description] == ["i", "s", "d", "n", "f", "b", "ts", "k"], cur.description
    got = cur.fetchone()
    assert tuple(got) == row, (dsn, tuple(got))
    cur.execute("select i, s, d from g where i > 1 order by i")
    first = cur.fetchmany(10)
    rest = cur.fetchall()
    assert len(first) == 10 and len(rest) == 40, (len(first), len(rest))
    assert all(r.s is None and r.d is None for r in first + rest)
    assert [r.table_name for r in cur.tables(table="g")] == ["g"], dsn
    assert [r.column_name for r in cur.columns(table="g")] == ["i", "s", "d", "n", "f", "b", "ts", "k"], dsn
    assert [r.column_name for r in cur.primaryKeys("g")] == ["i"], dsn
    cur.execute("create table h (j integer primary key, gi integer references g (i))")
    cur.execute("create index h_gi on h (gi)")
    fks = [(r.pktable_name, r.pkcolumn_name, r.fktable_name, r.fkcolumn_name, r.key_seq)
           for r in cur.foreignKeys(table="g")]
    assert fks == [("g", "i", "h", "gi", 1)], (dsn, fks)
    assert "h_gi" in [r.index_name for r in cur.statistics("h")], dsn
    cur.execute("drop table h")
    cur.execute("drop table g")
    conn.close()
PY

check "pyodbc runs a thousand queries on one connection, some left mid-way across commits" /usr/bin/python3 - <<'PY'
import pyodbc
for dsn in ("wide", "narrow"):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    other = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    cur, writer = conn.cursor(), conn.cursor()
    cur.execute("create table w (i integer)")
    cur.executemany("insert into w values (?)", [(i,) for i in range(10)])
    for n in range(1000):
        assert len(cur.execute("select i from w").fetchall()) == 10 + n // 100, (dsn, n)
        if n % 100 == 99:
            # A query left with rows while another cursor's insert commits, then run again;
            # another connection writes meanwhile, which this one must see and survive.
            cur.execute("select i from w").fetchone()
            writer.execute("insert into w values (?)", n)
            other.cursor().execute("update w set i = i")
    assert cur.execute("select count(*) from w").fetchone()[0] == 20, dsn
    writer.execute("insert into w values (0)")
    cur.execute("drop table w")
    other.close()
    conn.close()
PY

check "pyodbc keeps NUMERIC exact to 38 digits: Decimal parameters, literals, SUM and AVG" /usr/bin/python3 - <<'PY'
import decimal, pyodbc
D = decimal.Decimal
for dsn in ("wide", "narrow"):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    cur = conn.cursor()
    cur.execute("create table x (a numeric(38,0), b numeric(38,10))")
    cur.execute("insert into x values (?, ?)", D("9" * 38), D("-1234567890123456789012345678.0123456789"))
    cur.execute("insert into x values (12345678901234567890123456789, 123.456)")
    rows = [tuple(r) for r in cur.execute("select a, b from x order by a").fetchall()]
    assert rows == [(D("12345678901234567890123456789"), D("123.4560000000")),
                    (D("9" * 38), D("-1234567890123456789012345678.0123456789"))], (dsn, rows)
    got = tuple(cur.execute("select sum(a), avg(b) from x").fetchone())
    assert got == (D("100000000012345678901234567890123456788"), D("-617283945061728394506172777.2781728395")), got
    try:
        cur.execute("insert into x values (?, 0)", D("9" * 39))
        raise AssertionError("39 digits went into NUMERIC(38,0)")
    except pyodbc.DataError as e:  # 22003, which pyodbc takes for a data error
        assert e.args[0] == "22003" and "out of range" in e.args[1], e.args
    assert cur.execute("select count(*) from x").fetchone()[0] == 2
    cur.execute("drop table x")
    conn.close()
PY

check "pyodbc: overflow is a DataError (22003), counts are right and a query's count unknown" /usr/bin/python3 - <<'PY'
import pyodbc
for dsn in ("wide", "narrow"):
    conn = pyodbc.connect("DSN=%s" % dsn, autocommit=True)
    cur = conn.cursor()
    cur.execute("create table c (a integer, t tinyint)")
    for sql, args in (("insert into c (a) values (?)", (3000000000,)), ("insert into c (t) values (300)", ())):
        try:
            cur.execute(sql, *args)
            raise AssertionError(sql + " was accepted")
        except pyodbc.DataError as e:
            assert e.args[0] == "22003", e.args
    cur.executemany("insert into c (a) values (?)", [(1,), (2,), (3,)])
    assert cur.execute("update c set t = 1").rowcount == 3
    assert cur.execute("update c set t = 2 where a = 99").rowcount == 0
    assert cur.execute("delete from c where a = 99").rowcount == 0
    assert cur.execute("select a from c").rowcount == -1
    assert len(cur.fetchall()) == 3
    cur.execute("drop table c")
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

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
