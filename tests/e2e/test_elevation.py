"""The elevation bridge of the real background host against a simulated Android elevation daemon
on a simulated Windows 11 PC (root requests, the Windows Hello prompt, malformed frames, Magisk
mode across a host restart), and the elevation command that steers it. A prefix of its own: the
host lives in it."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from android_elevation import (CANCEL, ELEVATION_PORT, MAGISK_APK, REQUEST, STATE,  # noqa: E402
                               AndroidElevationDaemon, frame)
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import WINE_RUN  # noqa: E402

PUBLISHER = "CN=Ormel Test"
VM = {"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid", "systemType": "VirtualMachine",
      "state": "Running"}
GRANTED, DENIED, NOT_SET_UP, BUSY = 1, 2, 3, 4
driver = None


def setUpModule():
    global road, daemon, pc
    road = e2e.ReleaseRoad("elevation", developer_mode=True)
    daemon = AndroidElevationDaemon()
    pc = SimulatedPc(road.scratch / "sim", road.publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"},
                     computeSystems=[VM], services={ELEVATION_PORT: daemon.port},
                     hello={"availability": 0, "result": 0, "promptMs": 200})
    # A kept prefix holds the settings, the Magisk download and the log lines of earlier runs.
    run(str(driver), "stop")
    run("reg", "delete", "HKCU\\Software\\Ormel\\Peldra", "/f")
    shutil.rmtree(magisk_folder(), ignore_errors=True)
    log_path().unlink(missing_ok=True)


def tearDownModule():
    run(str(driver), "stop")
    daemon.stop()
    road.stop()


def run(*words, timeout=120):
    """Runs a program in the prefix, its output in files: a host it starts would hold pipes open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run([str(WINE_RUN), e2e.program.prefix, *words], env={**os.environ, **pc.env},
                              stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(done.args, done.returncode, out.read().decode("utf-8", "replace"),
                                           err.read().decode("utf-8", "replace"))


def peldra(*words):
    return run(e2e.program.exe, *words)


def drive_c():
    return Path(e2e.program.prefix) / "drive_c"


def magisk_folder():
    return drive_c() / "Program Files" / "Peldra" / "Magisk"


def log_path():
    """The program log of the prefix's user, where the detached host writes."""
    user = next(path for path in (drive_c() / "users").iterdir() if path.name != "Public")
    return user / "AppData" / "Local" / "Peldra" / "bluetooth.log"


def host_log():
    path = log_path()
    return path.read_text(encoding="utf-8", errors="replace") if path.exists() else ""


def set_value(name, value):
    run("reg", "add", "HKCU\\Software\\Ormel\\Peldra", "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")


def user_value(name):
    for line in run("reg", "query", "HKCU\\Software\\Ormel\\Peldra", "/v", name).stdout.splitlines():
        words = line.split()
        if words[:2] == [name, "REG_DWORD"]:
            return int(words[2], 16)
    return None


def row(label, value):
    """A line of the elevation settings: the label padded to 23 columns."""
    return f"{label:<23}{value}"


def prompts():
    return pc.state().get("helloPrompts", [])


def hello(**members):
    pc.scenario["hello"].update(members)
    pc.write()


class ElevationTest(unittest.TestCase):
    def wait_for_log(self, text, count=1, timeout=60):
        deadline = time.monotonic() + timeout
        while host_log().count(text) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertGreaterEqual(host_log().count(text), count, f"{text!r} in\n{host_log()}")

    def connect(self, state):
        connection = daemon.next_connection()
        self.addCleanup(connection.close)
        apk, got = connection.opening()
        self.assertEqual((apk, got), (None, state))
        return connection

    def test_1_the_install_starts_the_bridge_and_root_requests_are_asked(self):
        set_value("Elevation", 1)
        set_value("ElevationSu", 1)
        identity = (f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="2.0.0.0" '
                    'ProcessorArchitecture="x64"/></Package>\n')
        build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "catalog": True,
                       "components": [
                           {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"zeros": 1 << 20}},
                           {"id": "app", "kind": "archive", "target": ".",
                            "entries": [{"name": "AppxManifest.xml", "content": identity}]}]},
                      road.server.root / "elevation", road.publisher)
        installed = run(e2e.program.exe, "install", "--yes", "--no-progress", "--source",
                        f"{road.server.url}/elevation/manifest.json", "--dir", windows_path(road.scratch / "Tovik"),
                        timeout=300)
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        android = self.connect(state=0x01)
        self.wait_for_log("elevation bridge ready (vsock port 0x544B4556, su for root apps on, Magisk mode off)")

        for result, answer in ((0, GRANTED), (6, DENIED), (1, NOT_SET_UP), (4, BUSY)):
            with self.subTest(result=result):
                hello(result=result)
                android.request(10 + result)
                self.assertEqual(android.answer(), (answer, 10 + result))
        hello(result=0)
        self.assertIn("(uid 10123) wants to run as root: \u201cid\u201d", prompts()[-1]["text"])

        # Back to back, as "su -c a; su -c b" sends them: the next request follows each answer at once.
        for request_id in range(20, 26):
            android.request(request_id)
            self.assertEqual(android.answer(), (GRANTED, request_id))

        # While a prompt is open: another request is busy, a cancel of another id does nothing, a
        # cancel of its own id closes the prompt.
        hello(promptMs=20000)
        android.request(30)
        self.wait_for_log("elevate: com.example.term (uid 10123) asks for root: id", 11)
        android.request(31)
        self.assertEqual(android.answer(), (BUSY, 31))
        android.send(frame(CANCEL, 0, struct.pack("<I", 99)) + frame(CANCEL, 0, b"\x1e\x00\x00"))
        android.send(frame(CANCEL, 0, struct.pack("<I", 30)))
        self.assertEqual(android.answer(), (DENIED, 30))
        hello(promptMs=200)

        # Android's strings reach neither the log nor the prompt as they stand.
        forged = "[00:00:00.000] elevate: request 77 granted"
        android.request(40, app=b"com.evil\n" + forged.encode(), command="ls\u202e\ncat /x".encode() + b"y" * 400)
        self.assertEqual(android.answer(), (GRANTED, 40))
        self.assertFalse([line for line in host_log().splitlines() if line.startswith(forged[:15])])
        self.assertIn("elevate: com.evil\\x0A" + forged + " (uid 10123) asks for root: ls\\u202E\\x0Acat /x",
                      host_log())
        shown = prompts()[-1]["text"]
        self.assertIn("com.evil??00:00:00.000??elevate:?request?77?granted (uid 10123)", shown)
        self.assertIn("\u201cls??cat /x" + "y" * 290 + "\u2026\u201d", shown)

        # uid 0 is root and 2000 the adb shell whatever the name; no command is an interactive shell.
        android.request(41, uid=0, app=b"com.evil", command=b"")
        self.assertEqual(android.answer(), (GRANTED, 41))
        self.assertIn("root (uid 0) wants to run as root: an interactive shell", prompts()[-1]["text"])
        self.wait_for_log("elevate: com.evil (uid 0) asks for root: <interactive shell>")

    def test_2_malformed_frames_drop_the_connection_and_the_next_is_served(self):
        cases = (
            (frame(REQUEST, magic=0x50464B54), "elevate: invalid frame (magic=0x50464B54, len=0), dropping"),
            (frame(REQUEST, length=2049), "elevate: invalid frame (magic=0x56454B54, len=2049), dropping"),
            (frame(REQUEST, 0, struct.pack("<IIH", 1, 2, 5) + b"ab"), "elevate: malformed request, dropping"),
        )
        for data, line in cases:
            with self.subTest(line=line):
                android = self.connect(state=0x01)
                android.send(frame(9, 0, b"ignored") + frame(MAGISK_APK, 0) + data)
                self.assertTrue(android.dropped())
                self.wait_for_log(line)
        # A frame cut off by Android ends the connection silently; the next one is served.
        android = self.connect(state=0x01)
        android.send(frame(REQUEST, 0, length=100)[:8] + b"short")
        android.close()
        android = self.connect(state=0x01)
        android.request(50)
        self.assertEqual(android.answer(), (GRANTED, 50))

    def test_3_magisk_mode_on_and_off_across_a_host_restart(self):
        apk = os.urandom(100_000)
        folder = magisk_folder()
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "Magisk.apk").write_bytes(apk)
        (folder / "Magisk.txt").write_text(f"v27.0 {hashlib.sha256(apk).hexdigest()}")
        run(str(driver), "stop")
        daemon.drop_waiting()
        set_value("ElevationMagisk", 1)
        self.assertEqual(peldra("elevation", "on").returncode, 0)  # starts the host
        android = daemon.next_connection()
        self.addCleanup(android.close)
        self.assertEqual(android.opening(), (apk, 0x82))
        self.wait_for_log("elevate: Magisk v27.0 sent to Android (100000 bytes)")
        android.send(frame(MAGISK_APK, 1) + frame(STATE, 0x02))
        self.wait_for_log("elevate: Android stored the Magisk APK")
        self.wait_for_log("elevate: Magisk mode is on in Android (from its next start)")
        self.assertEqual(user_value("MagiskInAndroid"), 1)
        self.assertIn(row("Magisk mode", "on (Magisk v27.0 kept for Android)"), peldra("elevation").stdout)

        # Root off with Magisk on: the bridge goes on, turning Magisk off, and refuses every request.
        self.assertEqual(peldra("elevation", "off").returncode, 0)
        self.assertEqual((user_value("MagiskOffPending"), user_value("MagiskInAndroid")), (1, 2))
        self.assertTrue(android.dropped())
        for restart in (False, True):
            with self.subTest(restart=restart):
                if restart:
                    run(str(driver), "stop")
                    self.assertTrue(android.dropped())
                    daemon.drop_waiting()
                    self.assertEqual(peldra("elevation", "off").returncode, 0)  # starts the host
                android = self.connect(state=0x80)
                shown = len(prompts())
                android.request(60)
                self.assertEqual((android.answer(), len(prompts())), ((DENIED, 60), shown))

        # Android confirms it runs without Magisk: the turn-off ends and the bridge with it.
        stopped = host_log().count("elevation bridge stopped")
        android.send(frame(STATE, 0))
        self.assertTrue(android.dropped())
        self.wait_for_log("elevation bridge stopped", stopped + 1)
        self.assertEqual((user_value("MagiskOffPending"), user_value("MagiskInAndroid")), (0, 0))
        self.assertIn(row("Magisk in Android", "off"), peldra("elevation").stdout)

    def test_4_the_command_and_its_exit_codes(self):
        for words, hint in ((["maybe"], "elevation: on or off"), (["su"], "elevation su: on or off"),
                            (["magisk", "maybe"], "elevation magisk: on or off")):
            with self.subTest(words=words):
                done = peldra("elevation", *words)
                self.assertEqual((done.returncode, done.stderr.strip()), (2, hint))
        hello(availability=2)
        done = peldra("elevation", "ON")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("[WARN] Windows Hello is not set up for this account", done.stdout)
        self.assertIn("[ OK ] root for Android apps is on: apps ask with the command 0", done.stdout)
        self.assertEqual(peldra("elevation", "su", "Off").returncode, 0)
        self.assertEqual((user_value("Elevation"), user_value("ElevationSu")), (1, 0))
        done = peldra("elevation", "magisk", "off")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Magisk mode is off: Android drops Magisk at its next start", done.stdout)
        status = peldra("elevation").stdout.splitlines()
        self.assertEqual(status, [row("Root for Android apps", "on (every request is confirmed with Windows Hello)"),
                                  row("su for root apps", "off"),
                                  row("Magisk mode", "off (Magisk v27.0 kept for Android)"),
                                  row("Magisk in Android", "waiting for Android to confirm the change")])
        self.assertIn("elevation magisk on|off", peldra("help").stdout)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    at = arguments.index("--driver")
    driver = arguments[at + 1]
    sys.argv[1 + at:3 + at] = []
    e2e.main()
