#!/usr/bin/env python3
"""The notification-area icon under a bare X server: Wine shows its own system tray window there.
Runs the tray driver (one icon with the program's icon, ending on its last menu command), checks
that the icon appears in Wine's tray, that its context menu opens on a right click, and that
"Stop the background services" ends the driver; the tray window goes when the icon is removed.

Usage: tools/tray-check.py --driver <pd_tray_driver.exe> --prefix <wine prefix> [--shots <folder>]
                           [--pending-update]
--pending-update records a newer program version first (the icon carries the update badge and the
menu offers the update); a run without it removes that value.
Needs Xvfb and xdotool; --shots (tray-icon.png, tray-menu.png) needs ImageMagick's import.
The prefix must not use Wine's null graphics driver (the unit tests' prefix does)."""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent


def fail(text):
    print(f"tray-check: FAIL: {text}", file=sys.stderr)
    sys.exit(1)


def wait_for(what, predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = predicate()
        if result:
            return result
        time.sleep(0.1)
    fail(f"{what} within {seconds} s")


def xdotool(*args):
    run = subprocess.run(["xdotool", *args], capture_output=True, text=True)
    return run.stdout.split() if run.returncode == 0 else []


def visible_windows():
    return set(xdotool("search", "--onlyvisible", "--name", ""))


def geometry(window):
    """(x, y, width, height) of an X window."""
    values = dict(line.split("=", 1) for line in
                  subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                                 capture_output=True, text=True).stdout.split())
    return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))


def tray_window():
    found = xdotool("search", "--onlyvisible", "--name", "^Wine System Tray$")
    return found[0] if found else None


def shot(folder, name, box):
    if folder:
        x, y, width, height = box
        subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                        str(folder / name)], check=True)


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                               "-nolisten", "tcp"], pass_fds=(write_end,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        fail("Xvfb did not start")
    return server, f":{display}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--shots", type=pathlib.Path)
    parser.add_argument("--pending-update", action="store_true")
    args = parser.parse_args()
    prefix = pathlib.Path(args.prefix).resolve()
    if args.shots:
        args.shots.mkdir(parents=True, exist_ok=True)
    subprocess.run([str(HERE / "wine-prefix.sh"), str(prefix), "create"], check=True)
    if (prefix / ".null-graphics").exists():
        fail(f"{prefix} uses Wine's null graphics driver: give a prefix of its own")

    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
    update = ["wine", "reg", "add", r"HKCU\Software\Ormel\Peldra", "/v", "UpdateApp", "/d", "99.0", "/f"]
    if not args.pending_update:
        update = ["wine", "reg", "delete", r"HKCU\Software\Ormel\Peldra", "/v", "UpdateApp", "/f"]
    subprocess.run(update, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    xvfb, env["DISPLAY"] = start_xvfb()
    os.environ["DISPLAY"] = env["DISPLAY"]
    # The driver's output goes to a file: Wine's services inherit it, and a pipe would stay open.
    with tempfile.NamedTemporaryFile("w+", suffix=".log") as log:
        driver = subprocess.Popen(["wine", args.driver], env=env, stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=subprocess.STDOUT)
        said = lambda text: text in pathlib.Path(log.name).read_text(errors="replace")
        try:
            wait_for("the driver's tray window", lambda: said("tray: up"), 60)
            tray = wait_for("Wine's system tray window with the icon", tray_window, 10)
            x, y, width, height = geometry(tray)
            time.sleep(0.5)  # let the tray paint the icon
            shot(args.shots, "tray-icon.png", (x, y, width, height))
            print(f"tray-check: the icon is in Wine's system tray ({width}x{height} at {x},{y})")

            before = visible_windows()
            # The first icon sits at the left of the tray's client area, under its caption.
            xdotool("mousemove", str(x + 13), str(y + height - 13), "click", "3")
            menu = wait_for("the context menu", lambda: next(iter(visible_windows() - before), None), 10)
            mx, my, mwidth, mheight = geometry(menu)
            print(f"tray-check: the menu opened ({mwidth}x{mheight} at {mx},{my})")
            # The last item is the menu's bottom row.
            xdotool("mousemove", str(mx + mwidth // 3), str(my + mheight - 12))
            time.sleep(0.5)
            shot(args.shots, "tray-menu.png", (0, 0, max(x + width, mx + mwidth) + 8,
                                                max(y + height, my + mheight) + 8))
            xdotool("click", "1")
            try:
                code = driver.wait(15)
            except subprocess.TimeoutExpired:
                fail("the last menu command did not stop the driver")
            if code != 0 or not said("tray: stop command") or not said("tray: closed"):
                fail(f"the driver ended with {code}: {pathlib.Path(log.name).read_text(errors='replace')}")
            print("tray-check: the last menu command set the Stop event and the tray closed")
            wait_for("the icon to leave Wine's system tray", lambda: tray_window() is None, 10)
            print("tray-check: OK")
        finally:
            if driver.poll() is None:
                driver.kill()
            subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    main()
