#!/usr/bin/env python3
"""Benchmark of the main window under Wine on a bare X server, beside a bare Direct2D window in the
same run (the yardstick): time from process start to the first painted frame, and paint times
while progress reports arrive as fast as a download at full speed sends them (one per megabyte
chunk: by default one every 1000 us, a gigabyte a second, for 5 s).

The first frame is timed twice: inside the test windows (from process creation, as they report
it), and from outside for the yardstick, the test main window and Peldra.exe itself started with
no command, which goes through the program's own entry (the system DLLs it loads before its window
included): from the start of the process to the first pixel of the window that is not black (an
unpainted window here is black), read from the X server.

The yardstick's own paint rate is recorded (the best of every run so far with the same report
interval, in the build's bench folder, or given with --yardstick-rate); a run whose yardstick
painted well below it ran on a busy machine, and its ratios are refused rather than judged, as are
those of a first run, which has nothing to compare with.
Prints, for each window, the median and the slowest run's start, the median over runs of each
run's median and 99th-percentile paint, and the machine's load average before and after.

Usage: tools/bench-window.py --bench <pd_window_bench.exe> --prefix <wine prefix> [--runs N]
                             [--every-us N] [--exe <Peldra.exe>] [--compare <another pd_window_bench.exe>]
                             [--goal 1.2] [--yardstick-rate <paints/s>]

--compare measures the main window of another build too (an older one, say), in the same
alternation, as "compared"."""

import argparse
import ctypes
import json
import os
import pathlib
import statistics
import time

import bench_figures
from xvfb_session import Session, close_with_keys, fail, said, xdotool

class Screen:
    """Single pixels of the X display, read straight from the server: a window's first frame can
    come within milliseconds of its mapping."""

    def __init__(self):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.c_void_p
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                       ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XGetPixel.restype = ctypes.c_ulong
        self.x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x11.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.x11.XDisplayWidth.argtypes = self.x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        # A request the server refuses (a row off the screen) must not end this process, as
        # Xlib's own handler would.
        handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.ignore_errors = handler(lambda display, event: 0)
        self.x11.XSetErrorHandler(self.ignore_errors)
        self.display = self.x11.XOpenDisplay(os.environ["DISPLAY"].encode())
        if not self.display:
            fail("cannot open the X display")
        self.root = self.x11.XDefaultRootWindow(self.display)
        self.size = (self.x11.XDisplayWidth(self.display, 0), self.x11.XDisplayHeight(self.display, 0))

    def lit(self, x, y, width):
        """Whether one row of the screen holds any pixel that is not black, as far as it lies on the
        screen."""
        x, y = max(0, x), max(0, y)
        width = min(width, self.size[0] - x)
        if width <= 0 or y >= self.size[1]:
            return False
        image = self.x11.XGetImage(self.display, self.root, x, y, width, 1, 0xFFFFFF, 2)  # ZPixmap
        if not image:
            return False
        try:
            # XImage: width, height, xoffset, format (ints), then data; bytes_per_line at 44.
            data = ctypes.c_void_p.from_address(image + 16).value
            line = ctypes.c_int.from_address(image + 44).value
            return any(ctypes.string_at(data, line))
        finally:
            self.x11.XDestroyImage(image)


def first_frame_seen(screen, title, process, start, seconds=120):
    """Milliseconds from start until the window named title shows anything but black in one of a
    few rows across it (an unpainted window here is black, and so is the bare screen), read every
    few milliseconds; and the window."""
    deadline, window, rows = time.monotonic() + seconds, None, None
    while time.monotonic() < deadline:
        if process.poll() is not None:
            fail(f"the {title} window's program ended before its first frame: {said(process)[-5:]}")
        if rows is None:
            found = xdotool("search", "--onlyvisible", "--name", f"^{title}$")
            window = found[0] if found else None
            shape = dict(item.split("=", 1) for item in xdotool("getwindowgeometry", "--shell", window)
                         if "=" in item) if window else {}
            if all(key in shape for key in ("X", "Y", "WIDTH", "HEIGHT")):
                x, y, width, height = (int(shape[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))
                rows = [(x, y + height * k // 8, width) for k in range(1, 8)]
        if rows and any(screen.lit(*row) for row in rows):
            return (time.monotonic() - start) * 1000, window
        time.sleep(0.002)
    fail(f"no first frame of the {title} window within {seconds} s")


def run(wine, screen, bench, mode, every):
    start = time.monotonic()
    process = wine.start(bench, mode, str(every))
    outside, _ = first_frame_seen(screen, "Bare" if mode == "bare" else "Peldra", process, start)
    process.wait(120)
    lines = said(process)
    first = next((l.split() for l in lines if l.startswith("first-frame-ms ")), None)
    summary = next((l.split() for l in lines if l.startswith("reports ")), None)
    if not first or not summary:
        fail(f"the {mode} window reported nothing: {lines}")
    values = dict(zip(summary[0::2], summary[1::2]))
    paint = dict(zip(summary[summary.index("paint-ms") + 1::2], summary[summary.index("paint-ms") + 2::2]))
    return {"first": float(first[1]), "outside": outside, "reports": int(values["reports"]),
            "paints": int(values["paints"]), "fps": float(values["frames-per-second"]),
            "median": float(paint["median"]), "p99": float(paint["p99"]), "max": float(paint["max"])}


def run_program(wine, screen, exe):
    """Peldra.exe started with no command: its window's first frame from outside, then Ctrl+Q."""
    start = time.monotonic()
    process = wine.start(exe)
    outside, window = first_frame_seen(screen, "Peldra", process, start)
    close_with_keys(process, window)
    return {"outside": outside}


def load():
    return " ".join(f"{v:.1f}" for v in os.getloadavg())


def recorded_rate(path, every):
    try:
        return json.loads(path.read_text()).get(str(every))
    except (OSError, ValueError, AttributeError):
        return None


def record_rate(path, every, rate):
    try:
        records = json.loads(path.read_text())
    except (OSError, ValueError):
        records = {}
    records[str(every)] = max(rate, records.get(str(every), 0))
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(json.dumps(records, indent=1) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--every-us", type=int, default=1000)
    parser.add_argument("--exe", help="Peldra.exe (default: the one of the bench's build)")
    parser.add_argument("--compare")
    parser.add_argument("--goal", type=float, default=1.2, help="the largest ratio to the yardstick that is met")
    parser.add_argument("--yardstick-rate", type=float,
                        help="the yardstick's paints per second on a quiet machine (default: the recorded rate)")
    args = parser.parse_args()
    prefix = pathlib.Path(args.prefix).resolve()
    build = pathlib.Path(args.bench).resolve().parents[2]
    exe = args.exe or str(build / "cli" / "Peldra.exe")
    yardstick = build / "bench" / "window-yardstick.json"
    with Session(prefix) as session:
        wine = session.wine
        screen = Screen()
        wine.set_value("Tray", "REG_DWORD", 0)
        wine.set_value("Source", "REG_SZ", "custom")
        wine.set_value("CustomManifest", "REG_SZ", "")  # no network: the check ends at once
        wine.run("cmd", "/c", "exit")  # a warm wineserver for all
        before = load()
        # Alternating runs, so that a change of load touches every window alike.
        windows = {"bare": (args.bench, "bare"), "main": (args.bench, "main")}
        if args.compare:
            windows["compared"] = (args.compare, "main")
        results = {name: [] for name in [*windows, "Peldra"]}
        for _ in range(args.runs):
            for name, (bench, mode) in windows.items():
                results[name].append(run(wine, screen, bench, mode, args.every_us))
            results["Peldra"].append(run_program(wine, screen, exe))
        print(f"load average (1, 5, 15 min) on {os.cpu_count()} cores: {before} before, {load()} after;"
              f" a report every {args.every_us} us")
        print(f"{'window':8} {'first frame ms':>15} {'slowest':>8} {'outside ms':>11} {'paints/s':>9}"
              f" {'paint ms median':>16} {'p99':>6} {'max':>7} {'reports':>8}")
        medians = {}
        for name, rows in results.items():
            median = medians[name] = {key: statistics.median(row[key] for row in rows) for key in rows[0]}
            if name == "Peldra":
                print(f"{name:8} {'':>15} {'':>8} {median['outside']:11.0f}   (Peldra.exe, no command)")
                continue
            print(f"{name:8} {median['first']:15.0f} {max(r['first'] for r in rows):8.0f} {median['outside']:11.0f}"
                  f" {median['fps']:9.1f} {median['median']:16.2f} {median['p99']:6.2f}"
                  f" {max(r['max'] for r in rows):7.2f} {median['reports']:8.0f}")
        bare = medians["bare"]
        recorded = args.yardstick_rate or recorded_rate(yardstick, args.every_us)
        refusal = bench_figures.yardstick_refusal(bare["fps"], recorded)
        if not recorded:
            refusal = "the yardstick has no recorded paint rate yet to tell a quiet run from a busy one"
        print(f"yardstick: {bare['fps']:.1f} paints/s in this run, its own rate "
              + (f"{recorded:.1f}/s" if recorded else "not recorded yet") + f" ({yardstick}, the best run so far)")
        record_rate(yardstick, args.every_us, bare["fps"])
        print(bench_figures.ratio_verdict("Peldra.exe / bare: first frame from outside",
                                          medians["Peldra"]["outside"] / bare["outside"], args.goal, refusal))
        for name, median in medians.items():
            if name in ("bare", "Peldra"):
                continue
            for figure, key in (("first frame", "first"), ("paint median", "median"), ("paint p99", "p99")):
                print(bench_figures.ratio_verdict(f"{name} / bare: {figure}", median[key] / bare[key], args.goal,
                                                  refusal))


if __name__ == "__main__":
    main()
