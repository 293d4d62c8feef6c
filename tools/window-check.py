#!/usr/bin/env python3
"""The window under a bare X server with Wine's default graphics driver.

1. Peldra.exe without arguments opens its window; its position and size persist across starts
   (closed with Ctrl+Q, which stores the placement); a stored position off every monitor comes
   back onto the screen; Alt and the arrow keys open each menu of the bar, a click opens one too.
2. The UI driver's main window: the log pane scrolls, selects, copies and clears (View, Clear log);
   a Windows Hello setting that the registry refuses is reported as not stored.
3. The UI driver's modal dialog: its owner takes no clicks; Enter, a click on Cancel and a click on
   the third button give their answers.
4. Screenshots of the main window and the dialog at 100 % and 150 % (the prefix's LogPixels),
   checked for text in each button and the title, nothing outside the window, and the log lines.

Usage: tools/window-check.py --exe <Peldra(-simulated).exe> --driver <pd_ui_driver.exe>
                             --prefix <wine prefix> [--shots <folder>]
Needs Xvfb, xdotool and ImageMagick's import."""

import argparse
import pathlib
import time

from xvfb_session import (SCREEN, Session, close_with_keys, fail, geometry, peldra_window, said, say, start_window,
                          until_drawn, visible_windows, wait_for, xdotool)


def bright(pixel):
    return 0.3 * pixel[0] + 0.59 * pixel[1] + 0.11 * pixel[2] > 140


def texty(pixel):
    return max(pixel) > 100


def reported(process, prefix):
    """Numbers of the last driver line that starts with prefix."""
    lines = [line for line in said(process) if line.startswith(prefix + " ") and
             line[len(prefix) + 1:].split()[0].lstrip("-").isdigit()]
    return [int(v) for v in lines[-1][len(prefix) + 1:].split()[:4]] if lines else None


def check_placement_and_menus(wine, exe):
    wine.delete_value("WindowRect")
    wine.set_value("LogVisible", "REG_DWORD", 0)
    process, window = start_window(wine, exe)
    first = geometry(window)
    say(f"the window opened at {first}")
    if first[0] < 0 or first[1] < 0 or first[0] + first[2] > SCREEN[0]:
        fail(f"the default placement {first} is off the screen")

    # Every menu of the bar opens from the keyboard, one after the other.
    xdotool("windowactivate", window)
    before = visible_windows()
    xdotool("key", "alt+f")
    lefts = []
    def open_menu_left():
        # The menu that is shown now, not the one that is closing: a left edge not seen yet.
        for popup in visible_windows() - before - {window}:
            shown = geometry(popup)
            left = shown[0] if shown else -1
            if left >= 0 and left not in lefts:
                return str(left)
        return None

    for index in range(6):
        lefts.append(int(wait_for(f"menu {index + 1}", open_menu_left, 300)))
        xdotool("key", "Right")
        time.sleep(0.6)
    xdotool("key", "Escape")

    # Under load the last Right (back to the first menu) can open it after that Escape: each check
    # that still sees a window closes it again, and a failure names what stayed.
    deadline = time.monotonic() + 300
    time.sleep(1)
    while left := visible_windows() - before - {window}:
        if time.monotonic() > deadline:
            fail("the menu to close within 300 s; still shown: " +
                 ", ".join(f"{w} {' '.join(xdotool('getwindowname', w))!r} at {geometry(w)}" for w in left) +
                 f"; the focus is on {' '.join(xdotool('getwindowfocus'))}, the window is {window}")
        xdotool("key", "Escape")
        time.sleep(1)
    if lefts != sorted(lefts) or len(set(lefts)) != 6:
        fail(f"the six menus did not open left to right: {lefts}")
    say(f"Alt+F and Right opened the six menus at x {lefts}")
    x, y, _, _ = first
    xdotool("mousemove", str(x + 40), str(y + 40), "click", "1")
    lefts.clear()
    left = wait_for("a menu on a click on its caption", open_menu_left, 300)
    xdotool("key", "Escape")
    say(f"a click on the first caption opened its menu at x {left}")
    time.sleep(0.5)
    close_with_keys(process, window)
    stored = wine.value("WindowRect")
    if stored != f"{first[0]} {first[1]} {first[2]} {first[3]}":
        # The stored rectangle is the whole window, frame included, in the coordinates it was read.
        fail(f"closing stored {stored!r} for a window at {first}")
    say(f"closing stored the placement {stored}")

    cases = [("100 50 760 700", (100, 50, 760, 700)), ("-3000 -2000 760 700", (0, 0, 760, 700)),
             ("5000 300 640 900", (SCREEN[0] - 640, min(300, SCREEN[1] - 900), 640, 900))]
    for text, expected in cases:
        wine.set_value("WindowRect", "REG_SZ", text)
        process, window = start_window(wine, exe)
        placed = geometry(window)
        if placed != expected:
            fail(f"stored {text!r} placed the window at {placed}, not {expected}")
        close_with_keys(process, window)
        again = wine.value("WindowRect")
        if again != " ".join(str(v) for v in expected):
            fail(f"after {text!r} closing stored {again!r}")
        say(f"stored {text!r}: the window came back at {placed} and stored it again")


def main_shot_problem(shot, process, scale):
    """What the screenshot of the driver's main window lacks, or None."""
    cx, cy, cw, ch = reported(process, "client")
    window = geometry(peldra_window())
    for button in (1007, 1005, 1022, 1001, 1002, 1000, 1016, 1035):
        bx, by, bw, bh = reported(process, f"button {button}")
        if button == 1007:
            continue  # the source selector has no text before the release check
        # A disabled button (Cancel while idle, Bluetooth without an adapter) draws its label dimmed.
        found = shot.count((bx + 3, by + 3, bx + bw - 3, by + bh - 3), lambda p: max(p) > 70)
        if found < 15:
            return f"no text in button {button} at {bx},{by} ({found} bright pixels)"
    title = (cx + 41 * scale, cy + 52 * scale, cx + cw - 26 * scale, cy + 82 * scale)
    if shot.count(title, bright) < 60:
        return "no title text"
    wx, wy, ww, wh = window
    outside = [(0, 0, SCREEN[0], wy), (0, wy, wx, SCREEN[1]), (wx + ww, wy, SCREEN[0], SCREEN[1]),
               (wx, wy + wh, wx + ww, SCREEN[1])]
    for box in outside:
        if shot.count(box, lambda p: p != (0, 0, 0)):
            return f"something was drawn outside the window, in {box}"
    frame = {shot.at(cx - 1, y) for y in range(cy, cy + ch)} | {shot.at(cx + cw, y) for y in range(cy, cy + ch)}
    if len(frame) != 1:
        return f"the frame beside the client area is not one colour: {sorted(frame)[:4]}"
    px, py, pw, ph = reported(process, "logpane")
    times = (px + 10 * scale, py + ph - 60 * scale, px + 70 * scale, py + ph)
    texts = (px + 70 * scale, py + ph - 60 * scale, px + pw - 14 * scale, py + ph)
    margin = (px, py, px + 8 * scale, py + ph)
    if shot.count(times, texty) < 30 or shot.count(texts, texty) < 60:
        return "the newest log lines are not at the bottom of the pane"
    if shot.count(margin, texty):
        return "text in the log pane's left margin"
    return None


def check_main_shot(save, process, scale, name):
    until_drawn(name, lambda shot: main_shot_problem(shot, process, scale), save)
    say(f"{name}: text in every button and the title, nothing outside the window, log lines in place")


def driver_main(wine, driver, lines):
    process = wine.start(driver, "main", str(lines))
    wait_for("the driver's main window", lambda: "main: up" in said(process), 240)
    wait_for("the driver's first log report", lambda: any(l.startswith("log:") for l in said(process)), 300)
    time.sleep(1.5)
    return process


def last_log(process):
    rows = [l for l in said(process) if l.startswith("log:")]
    return dict(part.split("=", 1) for part in rows[-1][5:].split(" ") if "=" in part) if rows else {}


def check_log_view(wine, driver, shots):
    wine.set_value("LogVisible", "REG_DWORD", 1)
    wine.delete_value("WindowRect")
    process = driver_main(wine, driver, 80)
    check_main_shot(shots / "window-main-100.png" if shots else None, process, 1.0, "main window at 100 %")
    px, py, pw, ph = reported(process, "logpane")
    state = wait_for("the log pane to show its end",
                     lambda: (lambda s: s if s.get("follow") == "1" and int(s.get("position", 0)) > 0 else None)(
                         last_log(process)), 300)
    end = int(state["position"])
    xdotool("mousemove", str(px + pw // 2), str(py + ph // 2))
    for _ in range(3):
        xdotool("click", "4")
        time.sleep(0.3)
    wait_for("the wheel to scroll the log up", lambda: int(last_log(process)["position"]) < end, 300)
    say(f"the wheel scrolled the log from {end} to {last_log(process)['position']}")
    xdotool("click", "1")
    time.sleep(0.5)
    xdotool("mousemove", str(px + pw // 2), str(py + ph // 2 + 40), "keydown", "shift", "click", "1", "keyup", "shift")
    selection = wait_for("a selection of several lines",
                         lambda: (lambda s: s if s != "none" and s.split("-")[0] != s.split("-")[1] else None)(
                             last_log(process).get("selection")), 300)
    first, last = (int(v) for v in selection.split("-"))
    xdotool("key", "ctrl+c")
    copied = wait_for("the copy", lambda: next((l for l in said(process) if l.startswith("clipboard: rows=") and
                                               not l.startswith("clipboard: rows=0")), None), 300)
    if f"rows={last - first + 1} " not in copied:
        fail(f"Ctrl+C copied {copied!r} for the selection {selection}")
    say(f"a click and a Shift+click selected lines {selection}; Ctrl+C copied them: {copied}")
    xdotool("key", "End")
    cx, cy, _, _ = reported(process, "client")
    view = next(l for l in said(process) if l.startswith("caption View ")).split()[2:]
    before = visible_windows()
    xdotool("mousemove", str(cx + (int(view[0]) + int(view[2])) // 2), str(cy + 18), "click", "1")
    menu = wait_for("the View menu", lambda: next(iter(visible_windows() - before), None), 300)
    mx, my, mw, mh = geometry(menu)
    # Log, Copy log, Clear log (30 DIP each), a separator (9) and Language (30), centred in the frame.
    xdotool("mousemove", str(mx + mw // 2), str(my + (mh - 129) // 2 + 75))
    time.sleep(0.5)
    xdotool("click", "1")
    wait_for("View, Clear log to empty the log", lambda: last_log(process).get("lines") == "0", 300)
    say("View, Clear log emptied the log pane")
    close_with_keys(process, peldra_window())


def check_refused_setting(wine, driver):
    process = wine.start(driver, "refused")
    process.wait(300)
    line = next((l for l in said(process) if l.startswith("refused: ")), "")
    if "The Windows Hello setting could not be stored (registry error 5)." not in line:
        fail(f"a Windows Hello setting the registry refused was reported as {line!r}")
    say("a Windows Hello setting the registry refused was reported as not stored")


def check_dialog(wine, driver, shots, scale, name, rounds):
    process = wine.start(driver, "dialog", str(len(rounds)))
    results = []
    for index, answer in enumerate(rounds, 1):
        wait_for(f"dialog {index}", lambda: sum(l.startswith("dialog: open") for l in said(process)) >= index, 240)
        time.sleep(1.5)
        if "owner-enabled=0" not in [l for l in said(process) if l.startswith("dialog: open")][-1]:
            fail("the owner stays enabled while the dialog is open")
        buttons = {i: reported(process, f"dialog button {i}") for i in (1, 2, 3)}
        if index == 1:
            check_dialog_shot(shots / f"window-dialog-{name}.png" if shots else None, process, buttons, name)
            ox, oy, ow, oh = reported(process, "owner button")
            xdotool("mousemove", str(ox + 5), str(oy + 5), "click", "1")
            time.sleep(1)
            if any(l == "owner: clicked" for l in said(process)):
                fail("the owner took a click while the dialog was open")
        dialog = xdotool("search", "--onlyvisible", "--name", "^Peldra$")
        if answer[0] == "key":
            xdotool("windowactivate", dialog[-1]) if dialog else None
            xdotool("key", answer[1])
        else:
            bx, by, bw, bh = buttons[answer[1]]
            xdotool("mousemove", str(bx + bw // 2), str(by + bh // 2), "click", "1")
        wait_for(f"the answer of dialog {index}",
                 lambda: sum(l.startswith("dialog: result") for l in said(process)) >= index, 300)
        results.append([l for l in said(process) if l.startswith("dialog: result")][-1])
    process.wait(300)
    return results


def dialog_shot_problem(shot, process, buttons):
    """What the screenshot of the driver's dialog lacks, or None."""
    dx, dy, dw, dh = reported(process, "dialog")
    for index, (bx, by, bw, bh) in ((i, b) for i, b in buttons.items() if b):
        if shot.count((bx + 3, by + 3, bx + bw - 3, by + bh - 3), bright) < 15:
            return f"no text in button {index}"
    if shot.count((dx + 24, dy + 24, dx + dw - 24, dy + 60), bright) < 40:
        return "no title text"
    return None


def check_dialog_shot(save, process, buttons, name):
    until_drawn(f"dialog at {name}", lambda shot: dialog_shot_problem(shot, process, buttons), save)
    say(f"dialog at {name}: text in every button and the title")


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
    with Session(prefix) as session:
        wine = session.wine
        try:
            run_checks(wine, args)
        finally:
            set_scale(wine, 96)


def set_scale(wine, dpi):
    wine.run("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    wine.stop()


def run_checks(wine, args):
    set_scale(wine, 96)
    wine.set_value("Tray", "REG_DWORD", 0)
    wine.stop()
    check_placement_and_menus(wine, args.exe)
    wine.stop()
    check_log_view(wine, args.driver, args.shots)
    check_refused_setting(wine, args.driver)
    results = check_dialog(wine, args.driver, args.shots, 1.0, "100",
                           [("key", "Return"), ("click", 2), ("click", 3)])
    expected = ["button=1 value=first value", "button=0 value=first value", "button=2 value=first value"]
    for result, want in zip(results, expected):
        if want not in result:
            fail(f"dialog answered {result!r}, expected {want!r}")
    say("the dialog answered Enter with OK, a click on Cancel with 0 and on the third button with 2")
    wine.stop()

    set_scale(wine, 144)
    wine.delete_value("WindowRect")
    process = driver_main(wine, args.driver, 80)
    check_main_shot(args.shots / "window-main-150.png" if args.shots else None, process, 1.5,
                    "main window at 150 %")
    close_with_keys(process, peldra_window())
    check_dialog(wine, args.driver, args.shots, 1.5, "150", [("key", "Escape")])
    say("OK")


if __name__ == "__main__":
    main()
