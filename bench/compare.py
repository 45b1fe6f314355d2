#!/usr/bin/env python3
"""Markdown tables from the benchmarks' tab-separated results (BENCH_TSV, bench/run_all.sh).

    compare.py RESULTS.tsv               the ratios of one run
    compare.py BEFORE.tsv AFTER.tsv      each cell as "before → after"

A line: bench, workload, column, median ratio, min, max, median peak-RSS ratio, median seconds,
ok|wrong, clock (CPU time or wall time), and the baseline when the ratios are not to raw sqlite3.
Raw lines (column "raw") give the raw side's median seconds.
"""
import sys


def load(path):
    cells, order = {}, []
    with open(path) as f:
        for line in f:
            p = line.rstrip("\n").split("\t")
            if len(p) not in (10, 11):
                continue
            bench, workload, column = p[0], p[1], p[2]
            cells[(bench, workload, column)] = {
                "ratio": float(p[3]), "min": float(p[4]), "max": float(p[5]), "peak": float(p[6]),
                "seconds": float(p[7]), "wrong": p[8] != "ok", "clock": p[9],
                "baseline": p[10] if len(p) == 11 else "raw"}
            order.append((bench, workload, column))
    return cells, order


def unique(seq):
    seen, out = set(), []
    for x in seq:
        if x not in seen:
            seen.add(x)
            out.append(x)
    return out


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    runs = [load(p) for p in sys.argv[1:]]
    order = unique(k for _, o in runs for k in o)
    for bench in unique(k[0] for k in order):
        workloads = unique(k[1] for k in order if k[0] == bench and k[2] != "raw")
        columns = unique(k[2] for k in order if k[0] == bench and k[2] != "raw")
        clocks = " / ".join(unique(c["clock"] for r in runs for k, c in r[0].items() if k[0] == bench))
        base = " / ".join(unique(c["baseline"] for r in runs for k, c in r[0].items()
                                 if k[0] == bench and k[2] != "raw"))
        for title, fmt in ((clocks + ", ratio to %s: median (min-max)" % base,
                            lambda c: "%.2fx (%.2f-%.2f)" % (c["ratio"], c["min"], c["max"])),
                           ("peak RSS, ratio to %s" % base, lambda c: "%.2fx" % c["peak"])):
            print("\n%s (%s%s)\n" % (bench, title, ", before → after" if len(runs) == 2 else ""))
            print("| workload | %s |" % " | ".join(columns))
            print("|---|%s" % ("---|" * len(columns)))
            for w in workloads:
                cells = []
                for col in columns:
                    got = [r[0].get((bench, w, col)) for r in runs]
                    cells.append(" → ".join("–" if c is None else fmt(c) + (" WRONG" if c["wrong"] else "")
                                            for c in got))
                print("| %s | %s |" % (w, " | ".join(cells)))
        raws = unique(k[1] for k in order if k[0] == bench and k[2] == "raw")
        if raws:
            print("\n%s, raw side: median seconds%s\n" % (bench, ", before → after" if len(runs) == 2 else ""))
            for w in raws:
                got = [r[0].get((bench, w, "raw")) for r in runs]
                print("- %s: %s" % (w, " → ".join("–" if c is None else "%.3f s" % c["seconds"] for c in got)))


if __name__ == "__main__":
    main()
