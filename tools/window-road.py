#!/usr/bin/env python3
"""The road through a release from the window, under a bare X server on a simulated Windows 11 PC
with the loopback release server, driven with keys and clicks as a user would:

1. the window reads the release; with the log shown it cannot be made smaller than its cards and
   the log pane need;
2. Install shows progress and is canceled with the Cancel button while a download stalls; a second
   Install resumes that download, asks its question (answered with Enter) and installs;
3. F5 checks again: everything is current and the Install button reads "Repair";
4. Help, "Check for updates automatically" turns the per-user value UpdateCheck off;
5. Ctrl+Shift+R stops Tovik;
6. File, Uninstall… keeps the Android data and removes the release files.

Each step is checked by the window's buttons and log (tests/ui/UiDriver.cpp "inspect"), the files
and the registry. Screenshots of the main states go to --shots as window2-<state>.png.

Usage: tools/window-road.py --exe <Peldra-simulated.exe> --driver <pd_ui_driver.exe>
                            --prefix <wine prefix> [--shots <folder>]"""

import argparse
import json
import os
import pathlib
import sys
import time

import xvfb_session as xs

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "support"))

import e2e  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import Program  # noqa: E402

PUBLISHER = "CN=Ormel Test"


def identity(name, version):
    return (f'<Package><Identity Name="{name}" Publisher="{PUBLISHER}" Version="{version}" '
            'ProcessorArchitecture="x64"/>')


def rects(lines):
    """The driver's "<name> x y width height" lines of the window's parts, by name."""
    return {" ".join(words[:-4]): [int(v) for v in words[-4:]] for words in map(str.split, lines)
            if words and words[0] in ("client", "logpane", "button")}


class Window:
    """The program's window as the driver's "inspect" reports it."""

    def __init__(self, wine, driver):
        self.wine, self.driver = wine, driver

    def inspect(self, with_log=True):
        lines = self.wine.run(self.driver, "inspect", "0" if with_log else "1").stdout.splitlines()
        if os.environ.get("WINDOW_ROAD_VERBOSE"):
            print(time.strftime("%H:%M:%S"), lines[:1], flush=True)
        state = {"log": [l[len("logline: "):] for l in lines if l.startswith("logline: ")], "rects": rects(lines),
                 "said": [l for l in lines if not l.startswith("logline: ")]}
        for line in lines:
            if line.startswith("inspect:|"):
                for part in line[len("inspect:|"):].split("|"):
                    key, _, value = part.partition("=")
                    flags, _, text = value.partition(":")
                    state[int(key)] = {"on": flags.startswith("on"), "shown": "hidden" not in flags, "text": text}
        return state if 1000 in state else None

    def shrink(self):
        """The client and log pane rectangles the window took when asked for 300 x 300 pixels."""
        done = self.wine.run(self.driver, "shrink")
        found = rects(done.stdout.splitlines())
        if done.returncode != 0 or set(found) != {"client", "logpane"}:
            xs.fail(f"the window could not be sized: {done.stdout!r}")
        return found

    def wait(self, what, test, seconds=300, with_log=True):
        last = {}

        def check():
            nonlocal last
            last = self.inspect(with_log) or {}
            return last if last and test(last) else None

        try:
            return xs.wait_for(what, check, seconds)
        except SystemExit:
            print("\n".join(last.get("said", []) + last.get("log", [])[-15:]), file=sys.stderr)
            raise

    def wait_log(self, text, seconds=300):
        return self.wait(f"the log line {text!r}", lambda s: any(text in line for line in s["log"]), seconds)

    def click(self, state, button):
        x, y, w, h = state["rects"][f"button {button}"]
        xs.xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", "1")


def keys(window, *sequence):
    xid = xs.peldra_window()
    xs.xdotool("windowactivate", xid)
    for key in sequence:
        xs.xdotool("key", key)
        time.sleep(0.5)


def answer_dialog(before, shots=None, name=None):
    """Enter in the dialog that opened after the windows in before."""
    dialog = xs.wait_for("a dialog", lambda: next(iter(xs.visible_windows() - before), None), 300)
    time.sleep(1.5)
    if name:
        shot(shots, name)
    xs.xdotool("windowactivate", dialog)
    xs.xdotool("key", "Return")
    return dialog


def shot(shots, name, settle=True):
    return xs.Shot(shots / f"window2-{name}.png" if shots else None, settle)


def yellow(pixel):
    return pixel[0] > 150 and pixel[1] > 130 and pixel[2] < 60


def check_status(shots, name, state, colour, what):
    """The status line, left of Cancel in the row of the action buttons, still shows the result."""
    cx, cy = state["rects"]["client"][:2]
    bx, by, _, bh = state["rects"]["button 1001"]

    def problem(picture):
        found = picture.count((cx + 26, by, bx - 12, by + bh), colour)
        return None if found >= 20 else f"the status line no longer shows {what} ({found} pixels of its colour)"

    xs.until_drawn("after the release check", problem, shots / f"window2-{name}.png" if shots else None)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--shots", type=pathlib.Path)
    args = parser.parse_args()
    prefix = pathlib.Path(args.prefix).resolve()
    if args.shots:
        args.shots.mkdir(parents=True, exist_ok=True)
    e2e.program = Program(args.exe, str(prefix))
    with xs.Session(prefix) as session:
        road = e2e.ReleaseRoad("window-road")
        try:
            walk(session.wine, road, args)
        finally:
            road.stop()


def walk(wine, road, args):
    process = None
    try:
        components = [
            {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"mixed": 3000000, "seed": 1}},
            {"id": "kernel", "kind": "file", "target": "tools/kernel", "content": "kernel 1\n"},
            {"id": "app", "kind": "archive", "target": ".", "entries": [
                {"name": "AppxManifest.xml", "content": identity("TovikPackage", "2.0.0.0") +
                 '<Dependencies><PackageDependency Name="Tovik.Runtime" MinVersion="1.0" '
                 f'Publisher="{PUBLISHER}"/></Dependencies></Package>\n'},
                {"name": "Tovik.Runtime_x64.appx", "content": identity("Tovik.Runtime", "1.0.0.0") + "</Package>\n"}]},
        ]
        build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "components": components,
                       "catalog": True}, road.server.root / "road", road.publisher)
        pc = SimulatedPc(road.scratch / "sim", road.publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"})
        wine.env.update(pc.env)
        target = road.scratch / "Tovik"
        # Developer mode off, so that the install asks its question.
        wine.import_values({
            r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\AppModelUnlock":
                {"AllowDevelopmentWithoutDevLicense": 0},
            r"HKEY_CURRENT_USER\Software\Ormel\Peldra": {
                "Source": "custom", "CustomManifest": f"{road.server.url}/road/manifest.json",
                "InstallFolder": windows_path(target), "LogVisible": 1, "Tray": 0, "UpdateCheck": 1,
                "WindowRect": None}})
        window = Window(wine, args.driver)
        # The window works in the folder an earlier elevated install recorded, never in one that
        # only the per-user value names.
        target.mkdir()
        if wine.run(args.driver, "record").stdout.strip() != "record: done":
            xs.fail(f"the driver could not record {windows_path(target)} as the install folder")

        # The first window of a prefix starts Wine's desktop process, and gives up on it when it
        # is slow to come (a loaded machine): the driver's look for the window starts it first.
        window.inspect(with_log=False)
        process = wine.start(args.exe)
        xs.wait_for("the Peldra window", xs.peldra_window, 300)
        ready = window.wait("the release to be read", lambda s: s[1000]["on"] and s[1000]["text"] == "Install")
        if not any("Release 2.0.0 (Android 15, Test) from" in line for line in ready["log"]):
            xs.fail(f"no release line in the log: {ready['log']}")
        if not wine.value("UpdateChecked"):
            xs.fail("the release check recorded no UpdateChecked time")
        xs.say("the window read the release: Install is enabled, the check is recorded")
        shot(args.shots, "idle")

        # The smallest window still holds the cards and a log pane of its minimum height.
        small = window.shrink()
        client, pane = small["client"], small["logpane"]
        if client[3] < 804 or pane[3] < 110:
            xs.fail(f"with the log shown the window shrank to a client of {client[2:]} and a log pane of {pane[3]}")
        xs.say(f"the smallest window with the log: client {client[2]} x {client[3]}, log pane {pane[3]} high")
        ready = window.inspect(with_log=False)

        # A held download, canceled from the window: the server holds it (a byte a second, so the
        # download sees the cancel at once) until the cancel ends the transfer.
        system = road.server.root / "road" / "system.zst"
        road.server.set_rule("/road/system.zst", {"holdAfter": 400000})
        window.click(ready, 1000)
        busy = window.wait("the download's progress", lambda s: s[1001]["on"] and not s[1000]["on"], 300,
                           with_log=False)
        time.sleep(2)
        # The screenshot does not wait for a still screen, which the moving progress bar never gives.
        shot(args.shots, "progress", settle=False)
        window.click(busy, 1001)
        window.wait_log("Canceled - the downloads continue where they stopped next time.", 300)
        xs.say("Cancel stopped the stalled download")
        # A release check follows; Install is enabled again when it ends.
        release = "Release 2.0.0 (Android 15, Test) from"
        # The check logs its release line before it ends and gives the buttons back.
        canceled = window.wait("the release check after the cancel, then Install enabled and Cancel not",
                               lambda s: any(release in line for line in s["log"][-3:]) and
                               s[1000]["on"] and not s[1001]["on"], 300)
        check_status(args.shots, "canceled", canceled, yellow, "the cancel")

        # The second Install resumes the download and asks its question (developer mode), answered
        # with Enter.
        road.server.set_rule("/road/system.zst", {})
        before = xs.visible_windows()
        window.click(canceled, 1000)
        answer_dialog(before, args.shots, "questions")
        xs.say("Install asked its question; Enter answered it")
        window.wait_log("2.0.0 is installed.", 300)
        window.wait("the release check after the install", lambda s: s[1000]["text"] == "Repair" and s[1000]["on"])
        ranges = [json.loads(line).get("range") for line in (system.parent / "system.zst.log").read_text().splitlines()]
        if not any(ranges):
            xs.fail(f"the second install did not resume the download: ranges {ranges}")
        for name in ("system.vhdx", "tools/kernel", "peldra.json"):
            if not (target / name).is_file():
                xs.fail(f"{name} is missing after the install")
        xs.say(f"the second Install resumed the download (ranges {ranges}) and installed")
        shot(args.shots, "installed")

        # The up-to-date verdict goes to the status line; the log gets the release line once more.
        checks = sum(release in line for line in window.wait("the window", lambda s: True)["log"])
        keys(window, "F5")
        window.wait("the release line of the second check", lambda s: sum(release in line for line in s["log"]) >
                    checks and s[1000]["on"] and s[1000]["text"] == "Repair", 300)
        xs.say("F5 read the release again: up to date, the button reads Repair")

        keys(window, "alt+h", "Down", "Return")
        xs.wait_for("UpdateCheck to be 0", lambda: wine.value("UpdateCheck") == "0x0", 300)
        xs.say("Help, Check for updates automatically turned UpdateCheck off")

        keys(window, "ctrl+shift+r")
        window.wait("Tovik to be stopped", lambda s: any(
            line.endswith(("Tovik is not running.", "It starts with the next Android app."))
            for line in s["log"]), 300)
        xs.say("Ctrl+Shift+R stopped Tovik")

        before = xs.visible_windows()
        keys(window, "alt+f", "Up", "Up", "Return")
        answer_dialog(before)
        window.wait_log("Peldra is uninstalled. Your Android apps and data are kept for the next installation.", 300)
        if (target / "peldra.json").exists() or (target / "system.vhdx").exists():
            xs.fail("the release files are still there after the uninstall")
        xs.say("File, Uninstall… removed the release and kept the Android data")
        shot(args.shots, "uninstalled")
        xs.close_with_keys(process, xs.peldra_window())
        process = None
        xs.say("OK")
    except SystemExit:
        if process:
            print("\n".join(["the program said:"] + xs.said(process)[-30:]), file=sys.stderr)
        raise
    finally:
        if process:
            process.kill()


if __name__ == "__main__":
    main()
