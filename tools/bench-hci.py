#!/usr/bin/env python3
"""Benchmarks the HCI path natively: H4 deframing and the controller's command dispatch, on one
thread, in an optimised build without sanitizers (build-bench/, configured on first use).

  tools/bench-hci.py [--runs 5] [--seconds 3]

Prints every run's answered packets per second per core (answers over the thread's CPU time)
with the machine's load, then the median and the best.
"""
import argparse
import os
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("PD_BENCH_BUILD_DIR", ROOT / "build-bench"))


def build():
    subprocess.run([str(ROOT / "tools" / "setup.sh")], check=True)
    if not (BUILD / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DPD_NATIVE=ON", "-DPD_NATIVE_SANITIZE=OFF", "-DPD_BUILD_TESTS=OFF",
                        "-DCMAKE_C_COMPILER=clang-19", "-DCMAKE_CXX_COMPILER=clang++-19"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "--target", "pd_hci_bench"], check=True,
                   stdout=subprocess.DEVNULL)
    return BUILD / "tools" / "bench" / "pd_hci_bench"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=3.0)
    args = parser.parse_args()
    exe = build()
    rates = []
    for run in range(args.runs):
        load = os.getloadavg()[0]
        done = subprocess.run([str(exe), str(args.seconds)], capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit(f"bench: {done.stderr.strip()}")
        line = done.stdout.strip()
        rates.append(float(line.split("): ")[1].split()[0]))
        print(f"run {run + 1}, load {load:.1f}: {line}", flush=True)
    print(f"answered packets per second per core: median {statistics.median(rates):,.0f}, "
          f"best {max(rates):,.0f} (load {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores)")


if __name__ == "__main__":
    main()
