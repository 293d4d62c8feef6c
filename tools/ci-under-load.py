#!/usr/bin/env python3
"""Runs CI (`.ci/run`) on a clean clone of the committed HEAD several times in a row while the
machine is loaded on purpose, and prints each run's duration and failed tests. Not part of CI: it
is how a change to the suite is shown to pass on a busy machine.

The load is a build of the native configuration (sanitizers, all cores) from scratch, again and
again, in a clone of its own, for as long as the runs go on. Load average and free memory are
sampled during each run.

Usage: tools/ci-under-load.py [--runs 3] [--repo .] [--folder /var/tmp/peldra-ci-load] [--no-load]
"""
import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def clone(repo, target):
    shutil.rmtree(target, ignore_errors=True)
    subprocess.run(["git", "clone", "-q", str(repo), str(target)], check=True)
    return subprocess.run(["git", "-C", str(target), "rev-parse", "--short", "HEAD"],
                          capture_output=True, text=True, check=True).stdout.strip()


class Load:
    """Native builds from scratch, one after another, until stopped."""

    def __init__(self, folder):
        self.folder = folder
        self.builds = 0
        self._stop = threading.Event()
        self._process = None
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        if self._process and self._process.poll() is None:
            self._process.kill()
        self._thread.join()

    def _run(self):
        build = self.folder / "build-native"
        jobs = str(os.cpu_count() or 8)
        configure = ["cmake", "-S", str(self.folder), "-B", str(build), "-G", "Ninja", "-DPD_NATIVE=ON",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DCMAKE_C_COMPILER=clang-19",
                     "-DCMAKE_CXX_COMPILER=clang++-19"]
        if subprocess.run(["tools/setup.sh"], cwd=self.folder, stdout=subprocess.DEVNULL).returncode != 0 or \
                subprocess.run(configure, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            print("ci-under-load: the load build could not be configured; running without load", flush=True)
            return
        while not self._stop.is_set():
            self._process = subprocess.Popen(["cmake", "--build", str(build), "--clean-first", "--parallel", jobs],
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._process.wait()
            self.builds += 1


class Sampler:
    """The 1-minute load average and the available memory, every 10 s."""

    def __init__(self):
        self.loads, self.free_mib = [], []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _run(self):
        while not self._stop.wait(10):
            self.loads.append(float(Path("/proc/loadavg").read_text().split()[0]))
            available = re.search(r"MemAvailable:\s+(\d+)", Path("/proc/meminfo").read_text())
            self.free_mib.append(int(available.group(1)) // 1024)


def failed_tests(log):
    """The tests ctest listed as failed, in both configurations."""
    failed, listing = [], False
    for line in log.splitlines():
        if line.startswith("The following tests FAILED:"):
            listing = True
        elif listing and re.match(r"\s+\d+ - ", line):
            failed.append(re.sub(r"^\s+\d+ - ", "", line).strip())
        else:
            listing = False
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--repo", default=str(ROOT))
    parser.add_argument("--folder", default="/var/tmp/peldra-ci-load")
    parser.add_argument("--no-load", action="store_true", help="the runs alone, for a baseline")
    args = parser.parse_args()
    folder = Path(args.folder)
    folder.mkdir(parents=True, exist_ok=True)

    rows = []
    load_clone = folder / "load"
    if not args.no_load:
        clone(args.repo, load_clone)
    with Load(load_clone) if not args.no_load else contextlib.nullcontext():
        for run in range(1, args.runs + 1):
            work = folder / "run"
            commit = clone(args.repo, work)
            print(f"ci-under-load: run {run} of {args.runs} on a clean clone of {commit}", flush=True)
            log_path = folder / f"run-{run}.log"
            started = time.monotonic()
            with Sampler() as sampler, open(log_path, "w") as log:
                code = subprocess.run(["bash", ".ci/run"], cwd=work, stdout=log, stderr=subprocess.STDOUT,
                                      env=dict(os.environ, CI="true")).returncode
            minutes = (time.monotonic() - started) / 60
            failed = failed_tests(log_path.read_text(errors="replace"))
            loads = sampler.loads or [0.0]
            rows.append((run, commit, code, minutes, min(loads), max(loads),
                         min(sampler.free_mib or [0]), failed))
            print(f"ci-under-load: run {run} ended with {code} after {minutes:.1f} min; failed: "
                  f"{', '.join(failed) or 'none'} (log: {log_path})", flush=True)

    print("\n| run | commit | exit | minutes | load average (1 min) | least free memory | failed tests |")
    print("|---|---|---|---|---|---|---|")
    for run, commit, code, minutes, low, high, free, failed in rows:
        print(f"| {run} | {commit} | {code} | {minutes:.1f} | {low:.1f}–{high:.1f} | {free} MiB | "
              f"{', '.join(failed) or 'none'} |")
    return 0 if all(row[2] == 0 for row in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
