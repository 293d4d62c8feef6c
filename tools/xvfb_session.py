"""What the checks under a bare X server share: the display, Wine in a prefix of its own, waits,
xdotool, window geometry and screenshots. A failure ends the script with its name and the reason.
Needs Xvfb, xdotool and ImageMagick's import (for screenshots)."""

import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
SCREEN = (1280, 1024)
KEY = r"HKCU\Software\Ormel\Peldra"
NAME = pathlib.Path(sys.argv[0]).stem


def fail(text):
    print(f"{NAME}: FAIL: {text}", file=sys.stderr)
    sys.exit(1)


def say(text):
    print(f"{NAME}: {text}", flush=True)


def wait_for(what, predicate, seconds, every=0.2):
    """predicate's first true result, polled every `every` seconds; fails after `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = predicate()
        if result:
            return result
        time.sleep(every)
    fail(f"{what} within {seconds} s")


def xdotool(*args):
    """xdotool's output words, or none when it failed."""
    run = subprocess.run(["xdotool", *args], capture_output=True, text=True)
    return run.stdout.split() if run.returncode == 0 else []


def geometry(window):
    """(x, y, width, height) of an X window, or None once it is gone (a menu may close at any
    moment)."""
    values = dict(line.split("=", 1) for line in
                  subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                                 capture_output=True, text=True).stdout.split() if "=" in line)
    keys = ("X", "Y", "WIDTH", "HEIGHT")
    return tuple(int(values[key]) for key in keys) if all(key in values for key in keys) else None


def visible_windows():
    """The X windows shown with an area of their own. Wine's desktop process maps a window of one
    pixel at (-1, -1) when it gets round to it, under load well after the first program's window
    showed: that is neither a menu nor a dialog."""
    return {window for window in xdotool("search", "--onlyvisible", "--name", "")
            if (shown := geometry(window)) and shown[2] > 1 and shown[3] > 1}


def window_named(pattern):
    """The first visible X window whose name matches the pattern, or None."""
    found = xdotool("search", "--onlyvisible", "--name", pattern)
    return found[0] if found else None


def peldra_window():
    return window_named("^Peldra$")


def start_window(wine, exe):
    """The program started and its window shown; (process, X window)."""
    process = wine.start(exe)
    window = wait_for("the Peldra window", peldra_window, 180)
    time.sleep(1)
    return process, window


def close_with_keys(process, window, seconds=300):
    # A window that has only just been mapped may not hold the X focus yet when the keys go out
    # under load: the keys go again, to the activated window, every few seconds until it ends.
    # They go as the keyboard's own (not sent to the window), which a window that closes on the
    # key press cannot cut short: a key left pressed would repeat into the next program.
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        xdotool("windowactivate", window)
        xdotool("windowfocus", window)
        xdotool("key", "ctrl+q")
        try:
            process.wait(5)
            return
        except subprocess.TimeoutExpired:
            pass
    fail(f"Ctrl+Q did not end the program within {seconds} s")


def start_display(size=SCREEN):
    """A bare X server of the given size, made this process's display; (process, display)."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{size[0]}x{size[1]}x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        fail("Xvfb did not start")
    os.environ["DISPLAY"] = f":{number}"
    return xvfb, os.environ["DISPLAY"]


def prepare_prefix(prefix, create=True):
    """Creates the prefix when asked; refuses one with the null graphics driver, which shows nothing."""
    if create:
        subprocess.run([str(HERE / "wine-prefix.sh"), str(prefix), "create"], check=True)
    if (pathlib.Path(prefix) / ".null-graphics").exists():
        fail(f"{prefix} uses Wine's null graphics driver: give a prefix of its own")


class Wine:
    """Wine in one prefix on one display, and the program's per-user values there."""

    def __init__(self, prefix, display=None):
        self.prefix = str(prefix)
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
        if display:
            self.env["DISPLAY"] = display
        self.env.pop("PELDRA_SIMULATION", None)
        self.logs = []

    def run(self, *args):
        return subprocess.run([str(HERE / "wine-run.sh"), self.prefix, *args], env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, errors="replace")

    def set_value(self, name, kind, data):
        self.run("reg", "add", KEY, "/v", name, "/t", kind, "/d", str(data), "/f")

    def delete_value(self, name):
        self.run("reg", "delete", KEY, "/v", name, "/f")

    def import_values(self, keys):
        """Writes many values with one Wine process: {key: {name: value}}, where an int is a
        REG_DWORD, a str a REG_SZ and None deletes the value. Keys are full names
        (HKEY_CURRENT_USER\\...)."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, values in keys.items():
            lines.append(f"[{key}]")
            for name, value in values.items():
                if value is None:
                    data = "-"
                elif isinstance(value, int):
                    data = f"dword:{value:08x}"
                else:
                    data = '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'
                lines.append(f'"{name}"={data}')
            lines.append("")
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder) / "values.reg"
            path.write_text("\r\n".join(lines), encoding="utf-16")
            done = self.run("reg", "import", "Z:" + str(path).replace("/", "\\"))
        if done.returncode != 0:
            fail(f"reg import failed: {done.stdout} {done.stderr}")

    def value(self, name):
        for line in self.run("reg", "query", KEY, "/v", name).stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == name:
                return parts[2].strip()
        return None

    def start(self, *args):
        """A running program whose output goes to a file (process.log): Wine's services inherit it,
        and a pipe would stay open."""
        log = tempfile.NamedTemporaryFile("w+", suffix=".log", delete=False)
        process = subprocess.Popen([str(HERE / "wine-run.sh"), self.prefix, *args], env=self.env, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT)
        process.log = pathlib.Path(log.name)
        self.logs.append(process.log)
        return process

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def said(process):
    return process.log.read_text(errors="replace").splitlines()


class Shot:
    """The root window as RGB rows, read from a PPM once the screen holds still (or at once, for a
    screen that moves)."""

    def __init__(self, save=None, settle=True):
        # Wine paints a window's children one after the other: wait until two captures agree.
        data, previous = None, b""
        for _ in range(40 if settle else 1):
            data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], capture_output=True,
                                  check=True).stdout
            if data == previous:
                break
            previous = data
            time.sleep(0.5)
        header, rest = data.split(b"\n", 3)[:3], data.split(b"\n", 3)[3]
        self.width, self.height = (int(v) for v in header[1].split())
        self.pixels = rest
        if save:
            subprocess.run(["convert", "ppm:-", str(save)], input=data, check=True)

    def at(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])

    def count(self, box, test):
        x0, y0, x1, y1 = (int(v) for v in box)
        return sum(1 for y in range(max(0, y0), min(self.height, y1)) for x in range(max(0, x0), min(self.width, x1))
                   if test(self.at(x, y)))


def until_drawn(what, problem_in, save=None, seconds=300):
    """The first screenshot in which `problem_in` finds nothing wrong (it returns None, else what is
    wrong); fails with the last problem after `seconds`. Under load a window paints late, and two
    still captures in a row can both come before it did."""
    deadline = time.monotonic() + seconds
    while True:
        shot = Shot(save)
        problem = problem_in(shot)
        if problem is None:
            return shot
        if time.monotonic() > deadline:
            fail(f"{what}: {problem}")
        time.sleep(0.5)


def save_crop(path, box):
    """Saves the part (x, y, width, height) of the screen as it is now."""
    x, y, width, height = box
    subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage", str(path)],
                   check=True)


class Session:
    """A bare X server and Wine in a prefix on it, for a with block: Wine's server, the X server
    and the output files of the programs started end with the block."""

    def __init__(self, prefix, size=SCREEN, create=True):
        prepare_prefix(prefix, create)
        self.prefix = prefix
        self.size = size

    def __enter__(self):
        self.xvfb, self.display = start_display(self.size)
        self.wine = Wine(self.prefix, self.display)
        return self

    def __exit__(self, *_):
        self.wine.stop()
        self.xvfb.terminate()
        self.xvfb.wait()
        for log in self.wine.logs:
            log.unlink(missing_ok=True)
