#!/usr/bin/env python3
"""The notification-area icon under a bare X server: Wine shows its own system tray window there.
Runs the tray driver (one icon with the program's icon, ending on its last menu command), checks
that the icon appears in Wine's tray, that the context-menu event another program posts opens no
menu (with the cursor away from the tray, on the icon with no input for a while, and after that
program put the cursor on the icon and sent a key or a right click of its own there), that the
menu opens on a right click through the X server, and that "Stop the background services" ends
the driver; the tray window goes when the icon is removed.

Usage: tools/tray-check.py --driver <pd_tray_driver.exe> --prefix <wine prefix> [--shots <folder>]
                           [--pending-update]
--pending-update records a newer program version first (the icon carries the update badge and the
menu offers the update); a run without it removes that value.
Needs Xvfb and xdotool; --shots (tray-icon.png, tray-menu.png) needs ImageMagick's import.
The prefix must not use Wine's null graphics driver (the unit tests' prefix does)."""

import argparse
import pathlib
import subprocess
import time

from xvfb_session import Session, fail, say, geometry, save_crop, visible_windows, wait_for, window_named, xdotool


def tray_window():
    return window_named("^Wine System Tray$")


def shot(folder, name, box):
    if folder:
        save_crop(folder / name, box)


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
    with Session(prefix, size=(800, 600)) as session:
        check(session.wine, args)


def check(wine, args):
    if args.pending_update:
        wine.set_value("UpdateApp", "REG_SZ", "99.0")
    else:
        wine.delete_value("UpdateApp")
    driver = wine.start(args.driver)
    output = lambda: driver.log.read_text(errors="replace")
    try:
        wait_for("the driver's tray window", lambda: "tray: up" in output(), 300, every=0.1)
        tray = wait_for("Wine's system tray window with the icon", tray_window, 300, every=0.1)
        x, y, width, height = geometry(tray)
        time.sleep(0.5)  # let the tray paint the icon
        shot(args.shots, "tray-icon.png", (x, y, width, height))
        say(f"the icon is in Wine's system tray ({width}x{height} at {x},{y})")

        # The first icon sits at the left of the tray's client area, under its caption.
        icon = (str(x + 13), str(y + height - 13))
        for where, point in (("away from the tray", (str(x + width + 200), str(y + height + 200))),
                             ("on the icon, with no input for a while", icon)):
            xdotool("mousemove", *point)
            time.sleep(1.5)  # older than the input an event may come with
            before = visible_windows()
            forged = wine.run(args.driver, "forge")
            if forged.returncode != 0:
                fail(f"the forged event was not posted: {forged.stdout} {forged.stderr}")
            time.sleep(2)
            if visible_windows() - before:
                fail(f"a posted context-menu event opened the menu with the cursor {where}")
            say(f"a posted context-menu event opened nothing with the cursor {where}")

        # Another program can put the cursor on the icon (SetCursorPos) and send input of its own
        # there (SendInput) before it posts the event: a key, or a right click, which Wine's tray
        # answers with the icon's real context-menu event. Wine marks SendInput's clicks and keys
        # as injected to low-level hooks (LLMHF_INJECTED, LLKHF_INJECTED), as Windows does, and a
        # cursor moved by SetCursorPos makes no press.
        for variant, what in (("move", "after it moved the cursor onto the icon"),
                              ("key", "after it moved the cursor onto the icon and sent a key"),
                              ("click", "after it sent a right click of its own at the icon")):
            xdotool("mousemove", str(x + width + 200), str(y + height + 200))
            time.sleep(0.5)
            before = visible_windows()
            forged = wine.run(args.driver, "forge", variant, *icon)
            if forged.returncode != 0:
                fail(f"the forged input ({variant}) was not sent: {forged.stdout} {forged.stderr}")
            time.sleep(2)
            if visible_windows() - before:
                fail(f"another program opened the menu {what}")
            say(f"another program opened no menu {what}")

        before = visible_windows()
        xdotool("mousemove", *icon, "click", "3")
        menu = wait_for("the context menu", lambda: next(iter(visible_windows() - before), None), 300, every=0.1)
        mx, my, mwidth, mheight = geometry(menu)
        say(f"the menu opened ({mwidth}x{mheight} at {mx},{my})")
        # The last item is the menu's bottom row.
        xdotool("mousemove", str(mx + mwidth // 3), str(my + mheight - 12))
        time.sleep(0.5)
        shot(args.shots, "tray-menu.png", (0, 0, max(x + width, mx + mwidth) + 8, max(y + height, my + mheight) + 8))
        xdotool("click", "1")
        try:
            code = driver.wait(300)
        except subprocess.TimeoutExpired:
            fail("the last menu command did not stop the driver")
        if code != 0 or "tray: stop command" not in output() or "tray: closed" not in output():
            fail(f"the driver ended with {code}: {output()}")
        say("the last menu command set the Stop event and the tray closed")
        wait_for("the icon to leave Wine's system tray", lambda: tray_window() is None, 300, every=0.1)
        say("OK")
    finally:
        if driver.poll() is None:
            driver.kill()

if __name__ == "__main__":
    main()
