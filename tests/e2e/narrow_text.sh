#!/usr/bin/env bash
# Narrow text end to end: a C client of the narrow calls (narrow_client) writes text through
# unixODBC into each library and reads it back as SQL_C_CHAR, in the C locale (as isql) and
# after setlocale under LC_ALL=C.UTF-8 (as Python and Perl); the SQLite file is read
# directly, and pyodbc reads what the client wrote. An ISO-8859-1 locale round-trips 'é'
# when localedef can make one.
# Usage: narrow_text.sh BUILD_DIR NARROW_CLIENT
set -euo pipefail
build=$1
client=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/varno-narrow.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ODBCSYSINI="$work" ODBCINI="$work/odbc.ini"
: > "$work/odbcinst.ini"
: > "$work/odbc.ini"

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

hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
# The stored values of rows 1 (a literal) and 2 (a parameter) as hexadecimal UTF-8.
stored() {
    /usr/bin/python3 -c 'import sqlite3, sys
for k, v in sqlite3.connect(sys.argv[1]).execute("SELECT k, v FROM t ORDER BY k"):
    print(k, v.encode("utf-8").hex())' "$1"
}

grosse='Größe ☺ 😀'
g=$(hex "$grosse")

# The client's bytes come back as written, and the file holds each row once, as UTF-8.
round_trip() {  # library, locale, setlocale|c, text hex, hex of the stored UTF-8, rows to check
    local db="$work/$1-$3.db"
    LC_ALL=$2 timeout 60 "$client" "$build/$1" "$db" "$3" "$4" > "$work/read.txt"
    cat "$work/read.txt"
    stored "$db" | tee "$work/stored.txt"
    local n=${#4}
    for row in $6; do
        grep -qx "$4 $((n / 2))" <(sed -n "${row}p" "$work/read.txt") || { echo "row $row read back differs"; return 1; }
        grep -qx "pieces $4" <(sed -n "$((row + 2))p" "$work/read.txt") || { echo "row $row in pieces differs"; return 1; }
        grep -qx "$row $5" "$work/stored.txt" || { echo "row $row stored differs"; return 1; }
    done
}
# UTF-8 on both sides in the ANSI library, whether the client sets its locale or not.
check "libvarnod, C locale: 'Größe ☺ 😀' reads back the same and is stored once as UTF-8" \
    round_trip libvarnod.so C c "$g" "$g" "1 2"
check "libvarnod, setlocale in C.UTF-8: the same" round_trip libvarnod.so C.UTF-8 setlocale "$g" "$g" "1 2"
# The Unicode library takes SQL_C_CHAR parameters and values in the locale's code set.
# unixODBC converts a narrow client's statement text for it as ISO-8859-1 whatever the
# locale, so only the parameter row is UTF-8 text here; a narrow program loads libvarnod.
check "libvarnodw, setlocale in C.UTF-8: the parameter reads back the same and is stored once as UTF-8" \
    round_trip libvarnodw.so C.UTF-8 setlocale "$g" "$g" "2"
# In the C locale both ways are ISO-8859-1, as unixODBC converts: each byte one character.
latin1_of_g=$(/usr/bin/python3 -c 'import sys; print(bytes.fromhex(sys.argv[1]).decode("latin-1").encode().hex())' "$g")
check "libvarnodw, C locale: the bytes read back the same, each stored as its ISO-8859-1 character" \
    round_trip libvarnodw.so C c "$g" "$latin1_of_g" "1 2"

check "pyodbc reads what the narrow clients wrote" /usr/bin/python3 - "$build" "$work" "$grosse" <<'PY'
import sys, pyodbc
build, work, text = sys.argv[1:]
for lib, db, rows in (("libvarnod.so", "libvarnod.so-c.db", (1, 2)),
                      ("libvarnod.so", "libvarnod.so-setlocale.db", (1, 2)),
                      ("libvarnodw.so", "libvarnodw.so-setlocale.db", (2,))):
    for via in ("libvarnodw.so", "libvarnod.so"):
        conn = pyodbc.connect("DRIVER={%s/%s};DATABASENAME=%s/%s" % (build, via, work, db), autocommit=True)
        got = dict(conn.execute("SELECT k, v FROM t").fetchall())
        for k in rows:
            assert got[k] == text, (lib, via, k, got[k])
        conn.close()
PY

bad_text_refused() {  # library, locale, setlocale|c
    local db="$work/bad-$1.db"
    local out
    out=$(LC_ALL=$2 timeout 60 "$client" "$build/$1" "$db" "$3" "61c328" bad)
    echo "$out"
    [[ "$out" == "refused 22018" ]] && [[ -z "$(stored "$db")" ]]
}
check "libvarnod: a stray 0xC3 in UTF-8 is refused with 22018 and nothing is stored" \
    bad_text_refused libvarnod.so C c
check "libvarnodw in C.UTF-8: the same" bad_text_refused libvarnodw.so C.UTF-8 setlocale

# An ISO-8859-1 locale of the test's own (localedef needs the locale sources of Debian's
# locales package); 'é' is the one byte 0xE9 to the client and UTF-8 in the file.
if mkdir -p "$work/locale" && localedef -i en_US -f ISO-8859-1 "$work/locale/en_US.ISO-8859-1" > /dev/null 2>&1; then
    export LOCPATH="$work/locale"
    check "libvarnod, setlocale in ISO-8859-1: 'é' reads back as 0xE9 and is stored as UTF-8" \
        round_trip libvarnod.so en_US.ISO-8859-1 setlocale e9 c3a9 "1 2"
    check "libvarnodw, setlocale in ISO-8859-1: the same" \
        round_trip libvarnodw.so en_US.ISO-8859-1 setlocale e9 c3a9 "1 2"
    # A code set the driver does not convert is refused at connect, by name.
    refused_code_set() {  # library
        ! LC_ALL=en_US.ISO-8859-15 timeout 60 "$client" "$build/$1" "$work/refused.db" setlocale e9 2> "$work/err.txt"
        cat "$work/err.txt"
        grep -q "connect failed: 08001 .*code set ISO-8859-15 is not supported" "$work/err.txt"
    }
    if localedef -i en_US -f ISO-8859-15 "$work/locale/en_US.ISO-8859-15" > /dev/null 2>&1; then
        check "libvarnod refuses to connect in an ISO-8859-15 locale" refused_code_set libvarnod.so
        check "libvarnodw refuses to connect in an ISO-8859-15 locale" refused_code_set libvarnodw.so
    fi
    unset LOCPATH
else
    echo "skipped: the ISO-8859-1 round trip (localedef cannot make an ISO-8859-1 locale here)"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
