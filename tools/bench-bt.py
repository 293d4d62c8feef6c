#!/usr/bin/env python3
"""Benchmarks the Bluetooth bridge on a simulated PC under Wine: ATT reads through the bridge
against the simulated device's own answer time, and notification throughput.

  tools/bench-bt.py [--operation-ms 0,8] [--reads 10000] [--value-bytes 20]
                    [--notifications 20000] [--notifiers 200]

Builds nothing: runs build/tests/bt/bench/pd_bt_bench.exe (built with the tests by
tools/build.sh windows) in the tests' Wine prefix, once per device operation time given. In each
run an Android host sends H4 over loopback TCP to the real H4 session, controller and LE link:
Reset, LE Create Connection to the simulated device, then one ATT Read Request at a time, each
timed from the write of the request to the parse of the response. The device's own answer time
is the same read called directly on the simulated device. Notifications come from characteristics
the device changes every millisecond (the simulator's fastest), all subscribed at once.

The bare loopback round trip is the transport's floor under Wine: a peer that answers each
request as the session does (a completed-packets event, then the response, a send call each).
The reads through the bridge, on the device and over the bare loopback take turns in rounds, so
that a change of load touches all three alike; what the bridge adds is split into that floor and
the bridge's own work.
The notification figures come with two for comparison: the value changes the simulated device
raises on its own (handlers called directly), and the bare loopback transport (the same packets
sent one send call each, with a thread waiting in recv on the sending socket as the session's
does: under Wine that wait makes every send dearer).

The simulated device answers at once unless --operation-ms gives it a delay per GATT operation;
no radio is simulated, so neither figure includes a connection interval.
"""
import argparse
import os
import subprocess
import sys
from pathlib import Path

import bench_figures  # beside this script

ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / "build"
EXE = BUILD / "tests" / "bt" / "bench" / "pd_bt_bench.exe"
PREFIX = BUILD / "wineprefix"


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def run_bench(operation_ms, args):
    command = [str(ROOT / "tools" / "wine-run.sh"), str(PREFIX), str(EXE),
               "--operation-ms", str(operation_ms), "--reads", str(args.reads),
               "--value-bytes", str(args.value_bytes), "--notifications", str(args.notifications),
               "--notifiers", str(args.notifiers)]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    results = {}
    for line in done.stdout.splitlines():
        if line.startswith("RESULT "):
            name, *items = line.split()[1:]
            results[name] = {key: float(value) for key, value in (item.split("=") for item in items)}
    if done.returncode != 0 or "notifications" not in results and args.notifications > 0:
        sys.exit(f"bench-bt: pd_bt_bench failed ({done.returncode}):\n{done.stderr.strip()[-2000:]}")
    return results


def report(operation_ms, results, load_before, load_after):
    bridge, device = results["bridge-read"], results["device-read"]
    print(f"\ndevice operation time {operation_ms} ms, {results['setting']['value_bytes']:.0f}-byte values, "
          f"{bridge['count']:.0f} reads one at a time")
    print(f"  {'':28} {'median':>10} {'p99':>10} {'max':>10}")
    rows = (("ATT read through the bridge", bridge), ("the device's own read", device),
            ("bare loopback round trip", results["loopback-read"]))
    for name, row in rows:
        print(f"  {name:28} {row['median_us']:8.1f}us {row['p99_us']:8.1f}us {row['max_us']:8.1f}us")
    print("  " + bench_figures.read_breakdown(bridge["median_us"], device["median_us"],
                                              results["loopback-read"]["median_us"]))
    if "notifications" in results:
        n, device, ceiling = results["notifications"], results["device-notifications"], results["loopback-sends"]
        print(f"  notifications through the bridge: {n['per_s']:.0f}/s, {n['value_bytes_per_s']:.0f} value bytes/s "
              f"({n['h4_bytes_per_s']:.0f} H4 bytes/s), {n['count']:.0f} from {n['notifiers']:.0f} characteristics")
        print(f"  the device's own value changes:  {device['per_s']:.0f}/s (the same characteristics, no bridge)")
        print(f"  bare loopback sends:             {ceiling['per_s']:.0f}/s (one packet a send call, recv pending "
              f"on the socket, as in the session: the transport's ceiling under Wine)")
    m = results["memory"]
    print(f"  committed memory: {m['connected_kib']:.0f} KiB connected, {m['after_reads_kib']:.0f} KiB after "
          f"the reads, {m['after_notifications_kib']:.0f} KiB after the notifications")
    print(f"  load average before {load_before}, after {load_after} ({os.cpu_count()} CPUs)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--operation-ms", default="0",
                        help="comma-separated delays of every simulated GATT operation, one run each")
    parser.add_argument("--reads", type=int, default=10000)
    parser.add_argument("--value-bytes", type=int, default=20)
    parser.add_argument("--notifications", type=int, default=20000)
    parser.add_argument("--notifiers", type=int, default=200)
    args = parser.parse_args()
    if not EXE.exists():
        sys.exit(f"bench-bt: {EXE} is missing; build it first: tools/build.sh windows")

    for operation_ms in (int(value) for value in args.operation_ms.split(",")):
        before = load()
        results = run_bench(operation_ms, args)
        report(operation_ms, results, before, load())


if __name__ == "__main__":
    main()
