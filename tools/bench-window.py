#!/usr/bin/env python3
"""Benchmark of the main window under Wine on a bare X server, beside a bare Direct2D window in the
same run: time from process start to the first painted frame, and paint times while progress
reports arrive as fast as a download at full speed sends them (one every 250 us for 5 s).

Usage: tools/bench-window.py --bench <pd_window_bench.exe> --prefix <wine prefix> [--runs N]"""

import argparse
import pathlib
import statistics

from xvfb_session import Session


def run(wine, bench, mode):
    lines = wine.run(bench, mode).stdout.splitlines()
    first = next(float(l.split()[1]) for l in lines if l.startswith("first-frame-ms "))
    words = next(l for l in lines if l.startswith("reports ")).split()
    values = dict(zip(words[0::2], words[1::2]))
    paint = words[words.index("paint-ms") + 1:]
    return {"first": first, "reports": int(values["reports"]), "paints": int(values["paints"]),
            "fps": float(values["frames-per-second"]), "mean": float(paint[1]), "p95": float(paint[3]),
            "max": float(paint[5])}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    prefix = pathlib.Path(args.prefix).resolve()
    with Session(prefix) as session:
        wine = session.wine
        wine.set_value("Tray", "REG_DWORD", 0)
        wine.set_value("Source", "REG_SZ", "custom")
        wine.set_value("CustomManifest", "REG_SZ", "")  # no network: the check ends at once
        wine.run("cmd", "/c", "exit")  # a warm wineserver for both
        results = {mode: [run(wine, args.bench, mode) for _ in range(args.runs)] for mode in ("bare", "main")}
        print(f"{'window':8} {'first frame ms':>15} {'paints/s':>9} {'paint ms mean':>14} {'p95':>6} {'max':>7}"
              f" {'reports':>8}")
        for mode, rows in results.items():
            median = {key: statistics.median(row[key] for row in rows) for key in rows[0]}
            print(f"{mode:8} {median['first']:15.0f} {median['fps']:9.1f} {median['mean']:14.2f}"
                  f" {median['p95']:6.2f} {median['max']:7.2f} {median['reports']:8.0f}")


if __name__ == "__main__":
    main()
