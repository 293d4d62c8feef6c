#!/usr/bin/env python3
"""Benchmark of the main window under Wine on a bare X server, beside a bare Direct2D window in the
same run: time from process start to the first painted frame, and paint times while progress
reports arrive as fast as a download at full speed sends them (one per megabyte chunk: by default
one every 1000 us, a gigabyte a second, for 5 s).
Prints, for each window, the median and the slowest run's start, the median over runs of each
run's median and 99th-percentile paint, and the machine's load average before and after.

Usage: tools/bench-window.py --bench <pd_window_bench.exe> --prefix <wine prefix> [--runs N]
                             [--every-us N] [--compare <another pd_window_bench.exe>]

--compare measures the main window of another build too (an older one, say), in the same
alternation, as "compared"."""

import argparse
import os
import pathlib
import statistics

from xvfb_session import Session, fail


def run(wine, bench, mode, every):
    lines = wine.run(bench, mode, str(every)).stdout.splitlines()
    first = next((l.split() for l in lines if l.startswith("first-frame-ms ")), None)
    summary = next((l.split() for l in lines if l.startswith("reports ")), None)
    if not first or not summary:
        fail(f"the {mode} window reported nothing: {lines}")
    values = dict(zip(summary[0::2], summary[1::2]))
    paint = dict(zip(summary[summary.index("paint-ms") + 1::2], summary[summary.index("paint-ms") + 2::2]))
    return {"first": float(first[1]), "reports": int(values["reports"]), "paints": int(values["paints"]),
            "fps": float(values["frames-per-second"]), "median": float(paint["median"]),
            "p99": float(paint["p99"]), "max": float(paint["max"])}


def load():
    return " ".join(f"{v:.1f}" for v in os.getloadavg())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--every-us", type=int, default=1000)
    parser.add_argument("--compare")
    args = parser.parse_args()
    prefix = pathlib.Path(args.prefix).resolve()
    with Session(prefix) as session:
        wine = session.wine
        wine.set_value("Tray", "REG_DWORD", 0)
        wine.set_value("Source", "REG_SZ", "custom")
        wine.set_value("CustomManifest", "REG_SZ", "")  # no network: the check ends at once
        wine.run("cmd", "/c", "exit")  # a warm wineserver for both
        before = load()
        # Alternating runs, so that a change of load touches both windows alike.
        windows = {"bare": (args.bench, "bare"), "main": (args.bench, "main")}
        if args.compare:
            windows["compared"] = (args.compare, "main")
        results = {name: [] for name in windows}
        for _ in range(args.runs):
            for name, (bench, mode) in windows.items():
                results[name].append(run(wine, bench, mode, args.every_us))
        print(f"load average (1, 5, 15 min) on {os.cpu_count()} cores: {before} before, {load()} after;"
              f" a report every {args.every_us} us")
        print(f"{'window':8} {'first frame ms':>15} {'slowest':>8} {'paints/s':>9} {'paint ms median':>16}"
              f" {'p99':>6} {'max':>7} {'reports':>8}")
        medians = {}
        for name, rows in results.items():
            median = medians[name] = {key: statistics.median(row[key] for row in rows) for key in rows[0]}
            print(f"{name:8} {median['first']:15.0f} {max(r['first'] for r in rows):8.0f} {median['fps']:9.1f}"
                  f" {median['median']:16.2f} {median['p99']:6.2f} {max(r['max'] for r in rows):7.2f}"
                  f" {median['reports']:8.0f}")
        bare = medians["bare"]
        for name, median in medians.items():
            if name != "bare":
                print(f"{name} / bare: first frame {median['first'] / bare['first']:.2f}x, paint median "
                      f"{median['median'] / bare['median']:.2f}x, p99 {median['p99'] / bare['p99']:.2f}x")

if __name__ == "__main__":
    main()
