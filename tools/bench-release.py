#!/usr/bin/env python3
"""Benchmarks the release transfers and unpackers under Wine against the bare platform loops in
the same run, and counts the bytes the Wine process moved against the minimum.

  tools/bench-release.py [--mib 1024] [--runs 1]

Builds the windows configuration, writes a test release (a random file to download, a disk image
and a tar archive of that size, both zstd -3) under build/bench/, serves it from the loopback
release server, and runs build/tools/bench/pd_release_bench.exe once per operation:

  download          Pd::Net::Download of the file      vs  WinHttpReadData -> SHA-256 -> WriteFile
  unpack-file       Pd::Install::UnpackFile, no digest vs  ZSTD_decompressStream -> WriteFile
  unpack-file-sha   the same with its SHA-256 check    vs  the loop with SHA-256 in it
  unpack-archive    Pd::Install::UnpackArchive         vs  ZSTD_decompressStream -> WriteFile

Bytes moved are the wine process's rchar and wchar (bytes passed to read and write calls, sockets
included) from /proc/<pid>/io. For context the same data goes through native curl | tee | sha256sum
and zstd -d | tar -x.
"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import bench_figures  # noqa: E402  (beside this script)
from make_release import build_release  # noqa: E402
from release_server import ReleaseServer  # noqa: E402

BUILD = ROOT / "build"
BENCH = BUILD / "bench"
EXE = BUILD / "tools" / "bench" / "pd_release_bench.exe"
PREFIX = BUILD / "wineprefix"
MIB = 1 << 20


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def make_release(mib):
    """The benchmark release, built once per size."""
    folder = BENCH / f"release-{mib}"
    manifest = folder / "manifest.json"
    if manifest.exists():
        return json.loads(manifest.read_text())
    shutil.rmtree(folder, ignore_errors=True)
    size = mib * MIB
    files = 16
    print(f"bench: writing a {mib} MiB test release into {folder}", flush=True)
    return build_release({"version": "bench", "components": [
        {"id": "blob", "kind": "file", "target": "blob.bin", "content": {"random": size, "seed": 1}, "level": 1},
        {"id": "disk", "kind": "disk", "target": "disk.img", "content": {"mixed": size, "seed": 2}},
        {"id": "archive", "kind": "archive", "target": "archive", "format": "pax",
         "entries": [{"name": f"part{i:02}.bin", "content": {"mixed": size // files, "seed": 10 + i}}
                     for i in range(files)]}]}, folder)


def process_io(pid):
    counters = {}
    for line in Path(f"/proc/{pid}/io").read_text().splitlines():
        name, value = line.split(":")
        counters[name] = int(value)
    return counters


def bench_pid():
    """The Linux process that runs the bench exe under Wine in this prefix: on a shared machine
    other prefixes run the same exe."""
    prefix = f"WINEPREFIX={PREFIX.resolve()}".encode()
    for proc in Path("/proc").iterdir():
        if proc.name.isdigit():
            try:
                if (EXE.name.encode() in (proc / "cmdline").read_bytes()
                        and prefix in (proc / "environ").read_bytes().split(b"\0")):
                    return int(proc.name)
            except OSError:
                pass
    return None


def run_bench(*args):
    """Runs one operation; its time comes from the exe, its bytes from /proc/<pid>/io around it."""
    os.sync()  # the writeback of an earlier run must not slow this one down
    exe = subprocess.Popen([str(ROOT / "tools" / "wine-run.sh"), str(PREFIX), str(EXE), *map(str, args)],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    result, before, after = None, None, None
    for line in exe.stdout:
        if line.startswith("READY"):
            pid = bench_pid()
            before = process_io(pid)
            exe.stdin.write("go\n")
            exe.stdin.flush()
        elif line.startswith("RESULT "):
            result = dict(item.split("=") for item in line.split()[2:])
        elif line.startswith("DONE"):
            after = process_io(pid)
            exe.stdin.write("go\n")
            exe.stdin.flush()
    if exe.wait() != 0 or result is None:
        sys.exit(f"bench: {args[0]} failed ({exe.returncode}): {exe.stderr.read().strip()[-400:]}")
    measured = {key: float(value) for key, value in result.items()}
    for counter in ("rchar", "wchar", "read_bytes", "write_bytes"):
        measured[counter] = after[counter] - before[counter]
    return measured


def median_run(runs):
    """Each figure's median over the runs of one side."""
    return {key: statistics.median(run[key] for run in runs) for key in runs[0]}


def timed_shell(command):
    start = time.monotonic()
    subprocess.run(["bash", "-c", command], check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def paired_runs(runs, ours_args, ceiling_args, cleanup=lambda: None):
    """Our operation and its ceiling, alternating so that both see the same machine load, and
    taking turns at going first, so that neither always meets a cold cache or the other's
    writeback; every run of each, in order, so that each pair is judged together."""
    ours, ceiling = [], []
    for run in range(runs):
        pair = ((ours, ours_args), (ceiling, ceiling_args))
        for results, args in pair if run % 2 == 0 else reversed(pair):
            results.append(run_bench(*args))
            cleanup()
        print(f"bench: {ours_args[0]} run {run + 1}: ours {ours[-1]['seconds']:.2f} s, ceiling "
              f"{ceiling[-1]['seconds']:.2f} s, ratio {ceiling[-1]['seconds'] / ours[-1]['seconds']:.3f}, "
              f"load {os.getloadavg()[0]:.1f}", flush=True)
    return ours, ceiling


def bench_download(release, parts, out, runs):
    blob = parts["blob"]
    with ReleaseServer(release.parent) as server:
        url = f"{server.url}/{release.name}/blob.zst"
        target = out / "blob.zst"
        ours, ceiling = paired_runs(runs, ("download", url, windows_path(target), blob["packedSize"], blob["packedSha256"]),
                                  ("download-ceiling", url, windows_path(target)), lambda: target.unlink())
        native = timed_shell(f"curl -s {url} | tee {out}/native.zst | sha256sum")
        (out / "native.zst").unlink()
    return [("download", ours, ceiling, native, blob["packedSize"], blob["packedSize"])]


def bench_unpack_file(release, parts, out, runs):
    disk = parts["disk"]
    (release / "disk.zst").read_bytes()  # in the page cache before the first run, as for the others
    packed = windows_path(release / "disk.zst")
    native = timed_shell(f"zstd -q -d -c {release}/disk.zst > {out}/native.img && sync {out}/native.img")
    (out / "native.img").unlink()
    rows = []
    for name, sha, ceiling_args in (("unpack-file", "-", ()), ("unpack-file-sha", disk["sha256"], ("hash",))):
        ours, ceiling = paired_runs(runs, ("unpack-file", packed, windows_path(out / "disk.img"), disk["size"], sha),
                                  ("unpack-ceiling", packed, windows_path(out / "ceiling.img"), *ceiling_args))
        rows.append((name, ours, ceiling, native, disk["packedSize"], disk["size"]))
    return rows


def bench_unpack_archive(release, parts, out, runs):
    archive = parts["archive"]
    (release / "archive.zst").read_bytes()
    packed = windows_path(release / "archive.zst")
    ours, ceiling = paired_runs(runs, ("unpack-archive", packed, windows_path(out / "archive"), archive["size"]),
                              ("unpack-ceiling", packed, windows_path(out / "ceiling.tar")))
    (out / "native").mkdir()
    native = timed_shell(f"zstd -q -d -c {release}/archive.zst | tar -x -C {out}/native && sync -f {out}/native")
    return [("unpack-archive", ours, ceiling, native, archive["packedSize"], archive["size"])]


BENCHES = {"download": bench_download, "unpack-file": bench_unpack_file, "unpack-archive": bench_unpack_archive}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=1024, help="size of each test component")
    parser.add_argument("--runs", type=int, default=1,
                        help="runs per operation, each beside a run of its ceiling; the median pair counts")
    parser.add_argument("--only", choices=BENCHES, help="run one of the benchmarks only")
    args = parser.parse_args()

    subprocess.run([str(ROOT / "tools" / "build.sh"), "windows"], check=True, stdout=subprocess.DEVNULL)
    manifest = make_release(args.mib)
    parts = {c["id"]: c for c in manifest["components"]}
    release = BENCH / f"release-{args.mib}"
    out = BENCH / "out"
    rows = []
    for name, bench in BENCHES.items():
        if args.only in (None, name):
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir(parents=True)
            rows += bench(release, parts, out, args.runs)
    shutil.rmtree(out, ignore_errors=True)

    print(f"\n{args.mib} MiB per component, median of {args.runs} pair(s); MB/s of the larger side (unpacked bytes)")
    print(f"{'operation':16} {'ours s':>8} {'ceiling s':>10} {'native s':>9} {'ours MB/s':>10} "
          f"{'ratio':>6} {'read/min':>9} {'written/min':>12} {'ceiling r/w':>12}")
    for name, our_runs, ceiling_runs, native, packed_size, unpacked_size in rows:
        ratio = bench_figures.median_pair_ratio([r["seconds"] for r in our_runs], [r["seconds"] for r in ceiling_runs])
        ours, ceiling = median_run(our_runs), median_run(ceiling_runs)
        # A download is received once and written once; an unpacker reads the packed bytes once
        # and writes the unpacked ones once. Sockets do not count as reads here.
        read_min = packed_size
        written_min = packed_size if name == "download" else unpacked_size
        print(f"{name:16} {ours['seconds']:8.2f} {ceiling['seconds']:10.2f} {native:9.2f} "
              f"{unpacked_size / ours['seconds'] / 1e6:10.1f} {ratio:6.3f} "
              f"{ours['rchar'] / read_min:9.3f} {ours['wchar'] / written_min:12.3f} "
              f"{ceiling['rchar'] / read_min:6.3f}/{ceiling['wchar'] / written_min:.3f}")
    print("\nratio: the median over pairs of ceiling time / our time in the same pair (1.0 = as fast as the bare "
          "platform loop); times and bytes: the median of each side")
    print("read/min, written/min: rchar and wchar of the wine process against the bytes that must move")


if __name__ == "__main__":
    main()
