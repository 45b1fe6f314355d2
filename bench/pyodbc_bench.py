#!/usr/bin/python3
"""pyodbc through unixODBC and each library against Python's sqlite3 module on the same file.

Workloads: fetchall of the fetch table (1,000,000 rows of INTEGER, BIGINT, FLOAT, VARCHAR(20),
VARCHAR(100), DATE) with the date as text and as datetime.date; executemany of 200,000 rows
(pyodbc with fast_executemany) in one transaction. Each run is a child process with its own
peak RSS and without the cyclic garbage collector (as timeit runs), paired with a sqlite3 run
just before it; connecting is outside the clock. Every value is checked on both sides, outside
the clock: the fetched rows in the child as they are (compared one by one with the generated
rows, so the check holds no second copy), the inserted table by the parent, storage classes
included.

The date as text: sqlite3 returns the stored 'YYYY/MM/DD'; the ODBC side asks for it with
CAST(d AS VARCHAR(10)). As date objects: sqlite3 with detect_types=PARSE_DECLTYPES and a
converter for the server's stored form (the stock one reads only 'YYYY-MM-DD'); pyodbc gets
SQL_TYPE_DATE. executemany passes date objects on both sides (sqlite3 stores them through its
default adapter as 'YYYY-MM-DD').

    /usr/bin/python3 bench/pyodbc_bench.py [--build DIR] [--rows N] [--insert-rows N] [--tsv FILE]
    BENCH_REPEAT=n (default 5), BENCH_LIB=a|w, BENCH_CLOCK=wall|cpu (default cpu),
    BENCH_LIB_DIR=<dir of the .so files>, BENCH_TSV=<file> (appends result lines)
"""
import argparse
import datetime
import gc
import json
import os
import resource
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

CREATE = "CREATE TABLE t (i INTEGER, b BIGINT, f FLOAT, v20 VARCHAR(20), v100 VARCHAR(100), d DATE)"
FILL = ("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %d) INSERT INTO t"
        " SELECT x, x * 1000003, x * 0.25, printf('name %%d', x), printf('%%090d', x),"
        " printf('%%04d/%%02d/%%02d', 2000 + x %% 25, 1 + x %% 12, 1 + x %% 28) FROM n")
INSERT = "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)"
RAW_QUERY = "SELECT i, b, f, v20, v100, d FROM t"
ODBC_QUERY = {"text": "SELECT i, b, f, v20, v100, CAST(d AS VARCHAR(10)) FROM t", "date": RAW_QUERY}
DRIVERS = {"a": ("Varno Bench A", "libvarnod.so"), "w": ("Varno Bench W", "libvarnodw.so")}
COLUMNS = {"a": "ANSI (SQL_C_CHAR)", "w": "Unicode (SQL_C_WCHAR)"}


def row(x, dates):
    """Row x (from 1) as Python values; dates: 'server' and 'iso' text, or 'date'."""
    y, m, d = 2000 + x % 25, 1 + x % 12, 1 + x % 28
    if dates == "date":
        day = datetime.date(y, m, d)
    else:
        day = ("%04d/%02d/%02d" if dates == "server" else "%04d-%02d-%02d") % (y, m, d)
    return (x, x * 1000003, x * 0.25, "name %d" % x, "%090d" % x, day)


# CPU time unless BENCH_CLOCK=wall (see bench/fair.h): on a shared machine the time a run waits
# for a core is noise.
WALL = os.environ.get("BENCH_CLOCK") == "wall"
CLOCK_NAME = "wall time" if WALL else "CPU time"
clock = time.perf_counter if WALL else time.process_time


def peak_kb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def check_rows(rows, count, dates):
    if len(rows) != count:
        return "read %d rows" % len(rows)
    form = "date" if dates == "date" else "server"
    for x, r in enumerate(rows, 1):
        if tuple(r) != row(x, form):
            return "row %d is %r" % (x, tuple(r))
    return ""


def child_fetch(side, path, count, dates):
    if side == "raw":
        if dates == "date":
            sqlite3.register_converter(
                "DATE", lambda s: datetime.date(int(s[0:4]), int(s[5:7]), int(s[8:10])))
        con = sqlite3.connect(path, detect_types=sqlite3.PARSE_DECLTYPES if dates == "date" else 0)
        query = RAW_QUERY
    else:
        import pyodbc
        con = pyodbc.connect("DRIVER={%s};DATABASENAME=%s" % (DRIVERS[side][0], path), autocommit=True)
        query = ODBC_QUERY[dates]
    cur = con.cursor()
    t0 = clock()
    cur.execute(query)
    rows = cur.fetchall()
    seconds = clock() - t0
    wrong = check_rows(rows, count, dates)
    return {"seconds": seconds, "peak_kb": peak_kb(), "wrong": wrong}


def child_insert(side, path, count):
    rows = [row(x, "date") for x in range(1, count + 1)]
    if side == "raw":
        con = sqlite3.connect(path)
        con.execute(CREATE)
        con.commit()
        t0 = clock()
        con.executemany(INSERT, rows)
        con.commit()
        seconds = clock() - t0
    else:
        import pyodbc
        con = pyodbc.connect("DRIVER={%s};DATABASENAME=%s" % (DRIVERS[side][0], path), autocommit=False)
        cur = con.cursor()
        cur.execute(CREATE)
        con.commit()
        cur.fast_executemany = True
        t0 = clock()
        cur.executemany(INSERT, rows)
        con.commit()
        seconds = clock() - t0
    con.close()
    return {"seconds": seconds, "peak_kb": peak_kb(), "wrong": ""}


def verify_table(path, count, form):
    """Every inserted row, in order, with its storage classes; answers what is wrong, or ''."""
    con = sqlite3.connect(path)
    try:
        got = con.execute("SELECT typeof(i), typeof(b), typeof(f), i, b, f, v20, v100, d"
                          " FROM t ORDER BY rowid").fetchall()
    except sqlite3.Error as e:
        return "cannot read the table: %s" % e
    finally:
        con.close()
    if len(got) != count:
        return "the table holds %d rows" % len(got)
    for x, r in enumerate(got, 1):
        if r[:3] != ("integer", "integer", "real"):
            return "row %d has storage classes %r" % (x, r[:3])
        if r[3:] != row(x, form):
            return "row %d is %r" % (x, r[3:])
    return ""


def run_child(args):
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", json.dumps(args)],
                         capture_output=True, text=True)
    try:
        return json.loads(out.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        return {"seconds": 0, "peak_kb": 0, "wrong": "the run failed: " + out.stderr.strip()[-300:]}


class Report:
    def __init__(self):
        self.cells = {}  # (workload, column) -> list of (seconds, peak, raw seconds, raw peak, wrong)
        self.workloads, self.columns, self.raw = [], [], {}

    def add(self, workload, column, fig, raw):
        if workload not in self.workloads:
            self.workloads.append(workload)
        if column not in self.columns:
            self.columns.append(column)
        self.cells.setdefault((workload, column), []).append((fig, raw))

    def add_raw(self, workload, fig):
        self.raw.setdefault(workload, []).append(fig)

    @staticmethod
    def summary(runs):
        ratios = [f["seconds"] / r["seconds"] for f, r in runs if r["seconds"] > 0]
        peaks = [f["peak_kb"] / r["peak_kb"] for f, r in runs if r["peak_kb"] > 0]
        wrong = next((f["wrong"] or r["wrong"] for f, r in runs if f["wrong"] or r["wrong"]), "")
        return (statistics.median(ratios) if ratios else 0, min(ratios, default=0), max(ratios, default=0),
                statistics.median(peaks) if peaks else 0,
                statistics.median(f["seconds"] for f, _ in runs), wrong)

    def print(self, tsv):
        print("\npyodbc: times are %s (BENCH_CLOCK=wall|cpu)" % CLOCK_NAME)
        print("\n%-48s %9s %10s" % ("raw sqlite3 module", "median s", "peak KB"))
        for w, figs in self.raw.items():
            print("%-48s %9.3f %10.0f" % (w, statistics.median(f["seconds"] for f in figs),
                                          statistics.median(f["peak_kb"] for f in figs)))
        print("\n%-48s %-22s %9s %22s %7s" % ("workload", "column", "median s", "ratio median (min-max)", "peak x"))
        for w in self.workloads:
            for c in self.columns:
                if (w, c) in self.cells:
                    med, lo, hi, peak, sec, wrong = self.summary(self.cells[(w, c)])
                    print("%-48s %-22s %9.3f %8.2fx (%.2f-%.2f) %6.2fx%s" % (
                        w, c, sec, med, lo, hi, peak, "  WRONG: " + wrong if wrong else ""))
        for title, cell in ((CLOCK_NAME + ", ratio to Python's sqlite3: median (min-max)",
                             lambda s: "%.2fx (%.2f-%.2f)" % s[:3]),
                            ("peak RSS, ratio to Python's sqlite3: median", lambda s: "%.2fx" % s[3])):
            print("\npyodbc (%s)\n\n| workload | %s |\n|---|%s" % (
                title, " | ".join(self.columns), "---|" * len(self.columns)))
            for w in self.workloads:
                cells = []
                for c in self.columns:
                    s = self.summary(self.cells[(w, c)]) if (w, c) in self.cells else None
                    cells.append("" if s is None else cell(s) + (" WRONG" if s[5] else ""))
                print("| %s | %s |" % (w, " | ".join(cells)))
        if tsv:
            with open(tsv, "a") as out:
                for w, figs in self.raw.items():
                    out.write("pyodbc\t%s\traw\t1\t1\t1\t1\t%.4f\t%s\t%s\n" % (
                        w, statistics.median(f["seconds"] for f in figs),
                        "wrong" if any(f["wrong"] for f in figs) else "ok", CLOCK_NAME))
                for (w, c), runs in self.cells.items():
                    med, lo, hi, peak, sec, wrong = self.summary(runs)
                    out.write("pyodbc\t%s\t%s\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%s\t%s\n" % (
                        w, c, med, lo, hi, peak, sec, "wrong" if wrong else "ok", CLOCK_NAME))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--child")
    parser.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--insert-rows", type=int, default=200000)
    parser.add_argument("--tsv", default=os.environ.get("BENCH_TSV", ""))
    opts = parser.parse_args()
    if opts.child:
        # No cyclic collector in a measured child (as timeit does): its passes over a million
        # fresh rows cost whichever side happens to trigger them.
        gc.disable()
        job = json.loads(opts.child)
        if job["kind"] == "fetch":
            result = child_fetch(job["side"], job["path"], job["count"], job["dates"])
        else:
            result = child_insert(job["side"], job["path"], job["count"])
        print(json.dumps(result))
        return

    repeat = max(1, int(os.environ.get("BENCH_REPEAT", "5")))
    libs = [os.environ["BENCH_LIB"]] if os.environ.get("BENCH_LIB") in DRIVERS else ["a", "w"]
    lib_dir = os.environ.get("BENCH_LIB_DIR") or os.path.abspath(opts.build)
    work = tempfile.mkdtemp(prefix="pyodbc-bench-")
    with open(os.path.join(work, "odbcinst.ini"), "w") as ini:
        for name, so in DRIVERS.values():
            ini.write("[%s]\nDriver = %s\n" % (name, os.path.join(lib_dir, so)))
    open(os.path.join(work, "odbc.ini"), "w").close()
    os.environ.update(ODBCSYSINI=work, ODBCINI=os.path.join(work, "odbc.ini"))
    fetch_db = os.path.join(work, "fetch.db")
    con = sqlite3.connect(fetch_db)
    con.execute(CREATE)
    con.execute(FILL % opts.rows)
    con.commit()
    con.close()
    print("pyodbc_bench: %d rows fetched, %d inserted, %d repeats, libraries in %s" % (
        opts.rows, opts.insert_rows, repeat, lib_dir))

    report = Report()
    insert_db = os.path.join(work, "insert.db")
    # Each pyodbc run is paired with a sqlite3 run just before it, so that a slow spell of the
    # shared machine falls on both; the ratio is to that run.
    def fetch(dates, side):
        return run_child({"kind": "fetch", "side": side, "path": fetch_db, "count": opts.rows, "dates": dates})

    def insert(side):
        if os.path.exists(insert_db):
            os.unlink(insert_db)
        fig = run_child({"kind": "insert", "side": side, "path": insert_db, "count": opts.insert_rows})
        if not fig["wrong"]:
            fig["wrong"] = verify_table(insert_db, opts.insert_rows, "iso" if side == "raw" else "server")
        return fig

    for _ in range(repeat):
        for dates in ("text", "date"):
            name = "fetchall, dates as %s" % ("text" if dates == "text" else "date objects")
            for lib in libs:
                raw = fetch(dates, "raw")
                report.add_raw(name, raw)
                report.add(name, COLUMNS[lib], fetch(dates, lib), raw)
        name = "executemany (fast_executemany), date objects"
        for lib in libs:
            raw = insert("raw")
            report.add_raw(name, raw)
            report.add(name, COLUMNS[lib], insert(lib), raw)
    report.print(opts.tsv)
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
