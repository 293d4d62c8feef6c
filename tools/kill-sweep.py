#!/usr/bin/env python3
"""Kills Peldra-simulated.exe under Wine at many points of an install, an update and an uninstall
(after each output line of a reference run, and at even time steps through it), runs the same
command again, and prints a table: the point, what the killed run left, what verify said of it,
how the re-run ended and what verify said then (after an uninstall: what was left). Every point starts on a new simulated PC with a new install folder holding a
file of the user's, which must outlive everything. Not part of CI: a full sweep takes minutes.

Usage: tools/kill-sweep.py [--exe build/cli/Peldra-simulated.exe] [--prefix DIR] [--steps N]
                           [--only install|update|uninstall] [--disk-mb N]
"""
import argparse
import shutil
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import e2e  # noqa: E402
from cut_off import PUBLISHER, PUBLISHER_ID, USER_FILE, Traces, build_releases  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import Program  # noqa: E402


class Sweep:
    def __init__(self, args):
        e2e.program = Program(Path(args.exe).resolve(), Path(args.prefix).resolve())
        self.road = e2e.ReleaseRoad("kill-sweep", developer_mode=True)
        self.traces = Traces(e2e.program.prefix, e2e.program.exe)
        self.first, self.second = build_releases(self.road.server, self.road.publisher, "sweep",
                                                 disk_bytes=args.disk_mb << 20)
        self.rows = []
        self.folder = None

    def fresh(self):
        """A new simulated PC, no program copy or shortcut in the prefix, an install folder
        holding only the user's file."""
        shutil.rmtree(self.traces.program_copy.parent, ignore_errors=True)
        if shortcut := self.traces.shortcut():
            shortcut.unlink()
        if self.folder:  # the point before: its folders hold a release each
            shutil.rmtree(self.folder, ignore_errors=True)
        folder = self.folder = Path(tempfile.mkdtemp(dir=self.road.scratch))
        self.pc = SimulatedPc(folder / "sim", self.road.publisher, publisherIds={PUBLISHER: PUBLISHER_ID})
        self.target = folder / "Tovik"
        self.target.mkdir()
        (self.target / USER_FILE).write_text("the user's")
        self.dir = windows_path(self.target)

    def command(self, kind):
        if kind == "uninstall":
            return ["uninstall", "--yes", "--dir", self.dir]
        source = self.second if kind == "update" else self.first
        return ["install", "--yes", "--no-progress", "--source", source, "--dir", self.dir]

    def prepare(self, kind):
        self.fresh()
        if kind != "install":
            done = e2e.program.run(*self.command("install"), env=self.pc.env)
            if done.code != 0:
                raise SystemExit(f"kill-sweep: the install before the {kind} failed:\n{done.stdout}{done.stderr}")

    def reference(self, kind):
        """The whole run once: its lines (with the time each appeared) and its duration."""
        self.prepare(kind)
        run = e2e.Started(self.pc, *self.command(kind))
        started, seen = time.monotonic(), []
        while run.process.poll() is None or len(seen) < len(run.lines):
            while len(seen) < len(run.lines):
                seen.append((run.lines[len(seen)], time.monotonic() - started))
            time.sleep(0.005)
        code = run.finish()
        seen += [(line, time.monotonic() - started) for line in run.lines[len(seen):]]
        if code != 0:
            raise SystemExit(f"kill-sweep: the reference {kind} failed: {run.lines} {run.errors!r}")
        return seen, time.monotonic() - started

    def point(self, kind, label, after_lines=None, after_seconds=None):
        self.prepare(kind)
        run = e2e.Started(self.pc, *self.command(kind))
        if after_lines is not None:
            while len(run.lines) < after_lines and run.process.poll() is None:
                time.sleep(0.005)
        else:
            time.sleep(after_seconds)
        killed = run.kill()
        left = self.traces.left(self.target) if killed else \
            f"(ended first: {run.process.returncode} {short(run.lines[-1]) if run.lines else ''})"
        verified_now = self.verify_text() if killed else ""
        rerun = e2e.program.run(*self.command(kind), env=self.pc.env)
        rerun_text = f"{rerun.code} {last_line(rerun.stdout + rerun.stderr)}"
        if kind == "uninstall":
            after = self.traces.left(self.target)
            verified = "all removed" if after == "nothing" else f"LEFT: {after}"
        else:
            verified = self.verify_text()
            if not self.traces.program_copy_whole():
                verified += " EXE-CUT"
        user_file = self.target / USER_FILE
        if not user_file.exists() or user_file.read_text() != "the user's":
            verified += " USER-FILE-LOST"
        self.rows.append((f"{kind} {label}", left, verified_now, rerun_text, verified))
        print(" | ".join(self.rows[-1]), flush=True)

    def verify_text(self):
        """Its exit code and its first warning or failure, else its last line."""
        verify = e2e.program.run("verify", self.dir, env=self.pc.env)
        lines = (verify.stdout + verify.stderr).splitlines()
        told = [line for line in lines if line.startswith(("[WARN]", "[FAIL]"))]
        return f"{verify.code} {short(told[0]) if told else last_line(verify.stdout)}"

    def sweep(self, kind, steps):
        lines, duration = self.reference(kind)
        if kind == "uninstall":  # few lines: more steps in time
            steps *= 3
        print(f"# {kind}: reference run {duration:.1f} s, {len(lines)} lines", flush=True)
        for count, (line, at) in enumerate(lines[:-1], start=1):
            self.point(kind, f"after '{short(line)}' ({at:.2f} s)", after_lines=count)
        for step in range(1, steps + 1):
            at = duration * step / (steps + 1)
            self.point(kind, f"at {at:.2f} s", after_seconds=at)

    def table(self):
        headers = ("point", "left by the killed run", "verify then", "re-run", "verify after (uninstall: left)")
        widths = [max(len(row[i]) for row in [headers, *self.rows]) for i in range(len(headers))]
        for row in [headers, tuple("-" * width for width in widths), *self.rows]:
            print(" | ".join(cell.ljust(width) for cell, width in zip(row, widths)))


def short(line):
    """A line without the addresses and folders that differ from run to run."""
    words = [word for word in line.split() if not word.startswith(("http:", "Z:\\", "C:\\"))]
    return " ".join(words)[:44]


def last_line(text):
    lines = [line for line in text.splitlines() if line.strip()]
    return short(lines[-1]) if lines else "(no output)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=str(ROOT / "build" / "cli" / "Peldra-simulated.exe"))
    parser.add_argument("--prefix", default=str(ROOT / "build" / "wine-kill-sweep"))
    parser.add_argument("--steps", type=int, default=4, help="time steps per command")
    parser.add_argument("--only", choices=("install", "update", "uninstall"))
    parser.add_argument("--disk-mb", type=int, default=24, help="size of the release's disk")
    args = parser.parse_args()
    sweep = Sweep(args)
    try:
        for kind in [args.only] if args.only else ["install", "update", "uninstall"]:
            sweep.sweep(kind, args.steps)
    finally:
        sweep.road.stop()
    print()
    sweep.table()


if __name__ == "__main__":
    main()
