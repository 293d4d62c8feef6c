"""The background host under Wine on a simulated Windows 11 PC, started as the install starts it
(detached, without a console): one host per session, the release check before anything is served,
the Bluetooth bridge following its setting, the notification-area icon following its setting (seen
in Wine's system tray under Xvfb), and the stop, seen through the host's log, the registry and the
simulated Android's Bluetooth stack. A prefix of its own: the host lives in it."""
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from android_bluetooth import BLUETOOTH_PORT, AndroidBluetoothStack  # noqa: E402
from host_road import SETTINGS_KEY, HostRoad  # noqa: E402
from wine import WINE_RUN  # noqa: E402

NOT_SERVED = "host: the installed Android is missing - Bluetooth and Windows Hello are not served"
driver = None
installed = False


def setUpModule():
    global road, android, run, host_log
    android = AndroidBluetoothStack()
    road = HostRoad("host", services={BLUETOOTH_PORT: android.port}, bluetooth={"adapter": "001A7DDA7113"})
    run, host_log = road.run, road.host_log


def tearDownModule():
    run(driver, "stop")
    android.stop()
    road.stop()


def install():
    """Installs the release once per run (the install starts the host); empty, or what a failed
    install said. Its disk takes the release check a moment to hash."""
    global installed
    if not installed:
        done = road.install(disk_bytes=384 << 20)
        if done.returncode != 0:
            return done.stdout + done.stderr
        installed = True
    return ""


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten",
                               "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        return server, f":{pipe.readline().strip()}"


def tray_shown():
    """Whether Wine's system tray window (shown while it holds an icon) is on the display."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Wine System Tray$"],
                           capture_output=True, text=True)
    return found.returncode == 0 and bool(found.stdout.split())


def end_wine():
    """Ends every Wine process of the prefix: its desktop process keeps the display it started with."""
    subprocess.run(["wineserver", "-k"], env={**os.environ, "WINEPREFIX": e2e.program.prefix},
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env={**os.environ, "WINEPREFIX": e2e.program.prefix},
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def user_value(name):
    done = run("reg", "query", SETTINGS_KEY, "/v", name)
    for line in done.stdout.splitlines():
        words = line.split()
        if words[:2] == [name, "REG_DWORD"]:
            return int(words[2], 16)
    return None


def host_presence():
    return run(driver, "presence").stdout.strip()


class BackgroundHostTest(unittest.TestCase):
    def wait_for_log(self, text, count=1):
        log = road.wait_for_log(text, count)
        self.assertGreaterEqual(log.count(text), count, f"{text!r} in\n{log}")

    def test_a_program_started_without_a_console_never_waits_for_a_key(self):
        for words, code in ((["host", "--background", "--again"], 2), (["version"], 0)):
            with self.subTest(words=words):
                done = run(driver, "detached", "20000", e2e.program.exe, *words)
                self.assertEqual(done.returncode, code, "259: still running, waiting on a console")

    def test_the_host_as_the_install_starts_it(self):
        log = road.host_log_path()
        if log.exists():
            log.unlink()  # a kept prefix holds the lines of earlier runs
        # Nothing installed: the check finds no Android, nothing is served.
        done = run(e2e.program.exe, "host", "--background")
        self.assertEqual(done.returncode, 4)
        self.assertIn(NOT_SERVED, done.stdout)
        self.assertEqual(user_value("ReleaseState"), 5)

        # The install starts the host; with Bluetooth on, the bridge reaches Android.
        run("reg", "add", SETTINGS_KEY, "/v", "Bluetooth", "/t", "REG_DWORD", "/d", "1", "/f")
        self.assertEqual(install(), "")
        stack = android.next_host()
        self.assertEqual(stack.reset(), 0)
        self.wait_for_log("host: Android Bluetooth stack connected")
        self.assertEqual((user_value("ReleaseState"), host_presence()), (1, "running"))

        # A second host ends at once with 0 and changes nothing.
        before = host_log().count("host: started")
        again = run(e2e.program.exe, "host", "--background")
        self.assertEqual((again.returncode, again.stdout), (0, ""))
        self.assertEqual((host_log().count("host: started"), android.connections.empty()), (before, True))
        self.assertEqual(user_value("ReleaseState"), 1)

        # Bluetooth off (the setter's Reload) ends the connection; on again reconnects.
        self.assertEqual(run(driver, "setting", "bluetooth", "off").returncode, 0)
        self.assertTrue(stack.wait_closed())
        self.wait_for_log("bridge stopped")
        self.assertEqual(run(driver, "setting", "bluetooth", "on").returncode, 0)
        stack = android.next_host()
        self.assertEqual(stack.reset(), 0)

        # The stop that install, uninstall and self-update use ends the host: threads joined,
        # Android let go, the mutex gone.
        self.assertEqual(run(driver, "stop").returncode, 0)
        self.assertTrue(stack.wait_closed())
        self.wait_for_log("host: stopping")
        self.assertEqual(host_log().count("] bridge stopped"), 2)  # the Bluetooth bridge only
        self.assertEqual(host_presence(), "none")

        # Stop during the release check: it ends with 0, ReleaseState 0 and nothing served.
        started = host_log().count("host: started")
        host = subprocess.run([str(WINE_RUN), e2e.program.prefix, str(driver), "detached-stop", "120000",
                               e2e.program.exe, "host", "--background"], env={**os.environ, **road.pc.env},
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        self.assertEqual(host.returncode, 0)
        self.assertEqual(host_log().count("host: started"), started + 1)
        self.assertEqual(user_value("ReleaseState"), 0, host_log())
        self.assertEqual(host_log().count("host: stopping"), 1, "the check was stopped, nothing was served")
        self.assertTrue(android.connections.empty(), "nothing was served")

    def test_the_tray_follows_its_setting_while_the_host_runs(self):
        self.assertEqual(install(), "")
        run(driver, "stop")
        end_wine()  # Wine's desktop process must start on the display below
        xvfb, display = start_xvfb()
        saved = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = display
        host = None
        try:
            self.assertEqual(run(driver, "setting", "tray", "on").returncode, 0)
            host = subprocess.Popen([str(WINE_RUN), e2e.program.prefix, e2e.program.exe, "host", "--background"],
                                    env={**os.environ, **road.pc.env}, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            for step, (setting, shown) in enumerate((("on", True), ("off", False), ("on", True), ("off", False))):
                with self.subTest(step=step, tray=setting):
                    if step:
                        self.assertEqual(run(driver, "setting", "tray", setting).returncode, 0)
                    deadline = time.monotonic() + 300
                    while tray_shown() != shown and time.monotonic() < deadline:
                        time.sleep(0.1)
                    self.assertEqual(tray_shown(), shown, host_log())
            self.assertEqual(host_presence(), "running", "the host outlives its icon")
            run(driver, "stop")
            self.assertEqual(host.wait(timeout=300), 0)
        finally:
            if host and host.poll() is None:
                run(driver, "stop")
                host.kill()
            end_wine()
            xvfb.terminate()
            xvfb.wait()
            if saved is None:
                os.environ.pop("DISPLAY", None)
            else:
                os.environ["DISPLAY"] = saved


if __name__ == "__main__":
    driver = e2e.take_option("--driver")
    e2e.main()
