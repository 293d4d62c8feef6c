"""The elevation bridge of the real background host against a simulated Android elevation daemon
(root requests, the Windows Hello prompt, malformed frames, Magisk mode across a host restart), and
the elevation command that steers it. A prefix of its own: the host lives in it."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from wine import WINE_RUN  # noqa: E402
from android_elevation import CANCEL, ELEVATION_PORT, APK, REQUEST, STATE, AndroidElevationDaemon, frame  # noqa: E402
from host_road import SETTINGS_KEY as KEY, HostRoad  # noqa: E402

GRANTED, DENIED, NOT_SET_UP, BUSY = 1, 2, 3, 4
driver = None
# A translation of the root prompts' texts that speaks of anything but root.
LURE = "Windows Hello: confirm it is you, so that Peldra keeps your settings."
LURING_LANGUAGE_FILE = "".join(f"{text_id}={LURE}\n" for text_id in (19160, 19161, 19163)).encode()
installed_language = Path()


def setUpModule():
    global road, daemon, pc, magisk, host_log, installed_language
    daemon = AndroidElevationDaemon()
    road = HostRoad("elevation", services={ELEVATION_PORT: daemon.port},
                    hello={"availability": 0, "result": 0, "promptMs": 200})
    pc, host_log = road.pc, road.host_log
    magisk = Path(e2e.program.prefix) / "drive_c" / "Program Files" / "Peldra" / "Magisk"
    installed_language = magisk.parent / "language"
    # A kept prefix holds the host, settings, Magisk download and log lines of earlier runs.
    run(driver, "stop")
    run("reg", "delete", KEY, "/f")
    run("reg", "delete", KEY.replace("HKCU", "HKLM"), "/f")  # the confirmed root settings
    shutil.rmtree(magisk, ignore_errors=True)
    shutil.rmtree(installed_language, ignore_errors=True)
    road.host_log_path().unlink(missing_ok=True)


def tearDownModule():
    run(driver, "stop")
    daemon.stop()
    road.stop()


def run(*words):
    """(exit code, output, error output)."""
    done = road.run(*words, timeout=300)
    return done.returncode, done.stdout, done.stderr.strip()


def peldra(*words):
    return run(e2e.program.exe, *words)


def set_value(name, value):
    run("reg", "add", KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")


def values(*names):
    words = [line.split() for line in run("reg", "query", KEY)[1].splitlines()]
    found = {w[0]: int(w[2], 16) for w in words if len(w) == 3 and w[1] == "REG_DWORD"}
    return tuple(found.get(name) for name in names)


def confirmed():
    """The machine's record of the confirmed root settings (1 root, 2 su, 4 Magisk)."""
    rows = [line.split() for line in run("reg", "query", KEY.replace("HKCU", "HKLM"))[1].splitlines()]
    return next(int(w[2], 16) for w in rows if len(w) == 3 and w[0].startswith("RootConfirmed-"))


def prompts():
    return pc.state()["helloPrompts"]


def wait_until(done, timeout=60):
    deadline = time.monotonic() + timeout
    while not done() and time.monotonic() < deadline:
        time.sleep(0.05)


def row(label, value):
    return f"{label:<23}{value}"


def last_prompt():
    return pc.state()["helloPrompts"][-1]["text"]


def hello(**members):
    pc.scenario["hello"].update(members)
    pc.write()


class ElevationTest(unittest.TestCase):
    def wait_for_log(self, text, count=1):
        log = road.wait_for_log(text, count)
        self.assertGreaterEqual(log.count(text), count, f"{text!r} in\n{log}")

    def connect(self, state, apk=None):
        android = daemon.next_connection()
        self.addCleanup(android.close)
        self.assertEqual(android.opening(), (apk, state))
        return android

    def test_1_root_requests(self):
        set_value("Elevation", 1)
        set_value("ElevationSu", 1)
        # Installed from a download, beside which any program of the user may put language files:
        # none reaches the folder every account's host reads.
        downloads = road.scratch / "Downloads"
        (downloads / "language").mkdir(parents=True, exist_ok=True)
        (downloads / "language" / "xx.lng").write_bytes(LURING_LANGUAGE_FILE)
        installed = road.install(exe=shutil.copy(e2e.program.exe, downloads / "Peldra.exe"))  # starts the host
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        self.assertEqual([p.name for p in magisk.parent.iterdir() if p.name in ("Peldra.exe", "language")],
                         ["Peldra.exe"])
        android = self.connect(state=0x01)
        self.wait_for_log("elevation bridge ready (vsock port 0x544B4556, su for root apps on, Magisk mode off)")
        for result, answer in ((0, GRANTED), (6, DENIED), (1, NOT_SET_UP), (4, BUSY)):
            hello(result=result)
            android.request(10 + result)
            self.assertEqual(android.answer(), (answer, 10 + result))
        hello(result=0)
        # Back to back, as "su -c a; su -c b" sends them: each request follows an answer at once.
        for request_id in range(20, 24):
            android.request(request_id)
            self.assertEqual(android.answer(), (GRANTED, request_id))

        # A prompt is open: another request is busy, a cancel of another id (or a short one) does
        # nothing, a cancel of its own id closes the prompt.
        hello(promptMs=20000)
        android.request(30)
        self.wait_for_log("elevate: com.example.term (uid 10123) asks for root: id", 9)
        android.request(31)
        self.assertEqual(android.answer(), (BUSY, 31))
        android.send(frame(CANCEL, 0, struct.pack("<I", 99)) + frame(CANCEL, 0, b"\x1e\x00\x00") +
                     frame(CANCEL, 0, struct.pack("<I", 30)))
        self.assertEqual(android.answer(), (DENIED, 30))
        hello(promptMs=200)

        # Android's strings reach neither the log nor the prompt as they stand.
        forged = "[00:00:00.000] elevate: request 77 granted"
        android.request(40, app=b"com.evil\n" + forged.encode(), command="ls\u202e\ncat /x".encode() + b"y" * 400)
        self.assertEqual(android.answer(), (GRANTED, 40))
        self.assertFalse([line for line in host_log().splitlines() if line.startswith(forged[:15])])
        self.assertIn(f"elevate: com.evil\\x0A{forged} (uid 10123) asks for root: ls\\u202E\\x0Acat /x", host_log())
        self.assertIn("com.evil??00:00:00.000??elevate:?request?77?granted (uid 10123) wants to run as root: "
                      "\u201cls\\u202E\\x0Acat /x" + "y" * 282 + "\u2026\u201d (cut: 410 characters in all)",
                      last_prompt())
        android.request(41, uid=0, app=b"com.evil", command=b"")
        self.assertEqual(android.answer(), (GRANTED, 41))
        self.assertIn("root (uid 0) wants to run as root: an interactive shell", last_prompt())

    def test_1b_a_wider_setting_written_behind_the_hosts_back_waits_for_windows_hello(self):
        hello(result=6)  # the user cancels
        shown = len(pc.state()["helloPrompts"])
        set_value("ElevationMagisk", 1)
        self.assertEqual(run(driver, "setting", "tray", "on")[0], 0)  # wakes the host
        self.wait_for_log("host: the wider root settings were not confirmed; the previous ones are written back")
        self.assertEqual(values("ElevationMagisk"), (0,))
        self.assertEqual(len(pc.state()["helloPrompts"]), shown + 1)
        self.assertIn("Magisk mode turns on", last_prompt())
        self.assertNotIn("Magisk mode on)", host_log())
        hello(result=0)

    def test_1c_a_translation_cannot_take_the_built_in_wording_out_of_the_root_prompts(self):
        run(driver, "stop")
        installed_language.mkdir(exist_ok=True)
        (installed_language / "xx.lng").write_bytes(LURING_LANGUAGE_FILE)
        run("reg", "add", KEY, "/v", "Language", "/t", "REG_SZ", "/d", "xx", "/f")
        self.assertEqual(peldra("elevation", "on")[0], 0)  # confirmed already; starts the host
        hello(result=6)
        set_value("ElevationMagisk", 1)
        run(driver, "setting", "tray", "on")  # wakes the host
        self.wait_for_log("host: the wider root settings were not confirmed", 2)
        hello(result=0)
        self.assertEqual(last_prompt(), "Confirm a change to root for Android\n\nMagisk mode turns on: Magisk's "
                         "prompt inside Android decides root requests instead of Windows Hello.\n\nConfirm only if "
                         "you made this change yourself.\n\n" + LURE)
        run(driver, "stop")
        (installed_language / "xx.lng").unlink()
        run("reg", "delete", KEY, "/v", "Language", "/f")
        peldra("elevation", "on")  # the host again, in English

    def test_2_malformed_frames_drop_the_connection_and_the_next_is_served(self):
        for data, line in ((frame(REQUEST, magic=0x50464B54), "invalid frame (magic=0x50464B54, len=0), dropping"),
                           (frame(REQUEST, length=2049), "invalid frame (magic=0x56454B54, len=2049), dropping"),
                           (frame(REQUEST, 0, struct.pack("<IIH", 1, 2, 5) + b"ab"), "malformed request, dropping")):
            android = self.connect(state=0x01)
            android.send(frame(9, 0, b"ignored") + frame(APK, 0) + data)
            self.assertTrue(android.dropped(), line)
            self.wait_for_log("elevate: " + line)
        android = self.connect(state=0x01)
        android.send(frame(REQUEST, 0, length=100) + b"cut off")  # ends silently
        android.close()
        android = self.connect(state=0x01)
        android.request(50)
        self.assertEqual(android.answer(), (GRANTED, 50))

    def test_3_magisk_mode_on_and_off_across_a_host_restart(self):
        apk = os.urandom(100_000)
        magisk.mkdir(parents=True, exist_ok=True)
        (magisk / "Magisk.apk").write_bytes(apk)
        (magisk / "Magisk.txt").write_text(f"v27.0 {hashlib.sha256(apk).hexdigest()}")
        run(driver, "stop")
        set_value("ElevationMagisk", 1)
        self.assertEqual(peldra("elevation", "on")[0], 0)  # starts the host
        android = self.connect(state=0x82, apk=apk)
        android.send(frame(APK, 1) + frame(STATE, 0x02))
        self.wait_for_log("elevate: Magisk v27.0 sent to Android (100000 bytes)")
        self.wait_for_log("elevate: Android stored the Magisk APK")
        self.wait_for_log("elevate: Magisk mode is on in Android (from its next start)")
        self.assertEqual(values("MagiskInAndroid"), (1,))
        self.assertIn(row("Magisk mode", "on (Magisk v27.0 kept for Android)"), peldra("elevation")[1])

        # Root off with Magisk on: the bridge runs on, turning Magisk off, and denies every request,
        # also after a host restart.
        self.assertEqual(peldra("elevation", "off")[0], 0)
        self.assertEqual(values("MagiskOffPending", "MagiskInAndroid"), (1, 2))
        self.assertTrue(android.dropped())
        for restart in (False, True):
            if restart:
                run(driver, "stop")
                self.assertTrue(android.dropped())
                self.assertEqual(peldra("elevation", "off")[0], 0)  # starts the host
            android = self.connect(state=0x80)
            shown = len(pc.state()["helloPrompts"])
            android.request(60)
            self.assertEqual((android.answer(), len(pc.state()["helloPrompts"])), ((DENIED, 60), shown))

        # Android runs without Magisk: the turn-off ends, and the bridge with it.
        stopped = host_log().count("elevation bridge stopped")
        android.send(frame(STATE, 0))
        self.assertTrue(android.dropped())
        self.wait_for_log("elevation bridge stopped", stopped + 1)
        self.assertEqual(values("MagiskOffPending", "MagiskInAndroid"), (0, 0))

    def test_4_the_command_and_its_exit_codes(self):
        for words, hint in ((["maybe"], "elevation: on or off"), (["su"], "elevation su: on or off"),
                            (["magisk", "maybe"], "elevation magisk: on or off")):
            self.assertEqual(peldra("elevation", *words)[::2], (2, hint))
        # Root confirmed with Windows Hello first: once on, it needs no confirmation to stay on.
        self.assertEqual(peldra("elevation", "on")[0], 0)
        hello(availability=2)
        code, out, _ = peldra("elevation", "ON")
        self.assertEqual(code, 0)
        self.assertIn("[WARN] Windows Hello is not set up for this account", out)
        self.assertIn("[ OK ] root for Android apps is on: apps ask with the command 0", out)
        self.assertEqual(peldra("elevation", "su", "Off")[0], 0)
        code, out, _ = peldra("elevation", "magisk", "off")
        self.assertIn("[ OK ] Magisk mode is off: Android drops Magisk at its next start", out)
        # With Magisk off, su for every app is new again: declined, nothing changes.
        hello(availability=0, result=6)
        self.assertEqual(peldra("elevation", "su", "on")[::2],
                         (4, "[FAIL] the change was not confirmed: the root settings stay as they were"))
        self.assertEqual(values("ElevationSu"), (0,))
        hello(result=0)
        # Offline, the latest Magisk cannot be looked up: nothing is switched on.
        code, out, err = peldra("elevation", "magisk", "on")
        self.assertEqual(code, 3, err)
        self.assertIn("[FAIL] ", err)
        self.assertNotIn("Magisk mode is on", out + err)
        self.assertEqual(peldra("elevation")[1].splitlines(), [
            row("Root for Android apps", "on (every request is confirmed with Windows Hello)"),
            row("su for root apps", "off"), row("Magisk mode", "off (Magisk v27.0 kept for Android)"),
            row("Magisk in Android", "waiting for Android to confirm the change")])
        self.assertIn("elevation magisk on|off", peldra("help")[1])

    def test_5_a_writer_racing_off_leaves_root_off_and_recorded_off(self):
        self.assertEqual(confirmed() & 1, 1)  # on since the command's test
        hello(result=6)  # whatever the writer brings back, the user cancels
        shown = len(prompts())
        loop = f'for /l %i in (1,1,3000) do @reg add {KEY} /v Elevation /t REG_DWORD /d 1 /f >nul'
        writer = subprocess.Popen([str(WINE_RUN), e2e.program.prefix, "cmd", "/c", loop], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for attempt in range(4):
                code, out, err = peldra("elevation", "off")
                self.assertEqual((code, confirmed() & 1), (0, 0), f"attempt {attempt}")
                wait_until(lambda: values("Elevation") == (1,))
                self.assertEqual(values("Elevation"), (1,), "the writer rewrites the value")
        finally:
            writer.kill()
            writer.wait()
        set_value("Elevation", 1)  # the writer's last word, then a pass of the host
        self.assertEqual(run(driver, "setting", "tray", "on")[0], 0)
        wait_until(lambda: values("Elevation") == (0,))
        self.assertEqual((values("Elevation"), confirmed() & 1), ((0,), 0))
        self.assertLessEqual(len(prompts()) - shown, 1, "a prompt for each rewrite")

    def test_6_a_preset_magisk_bit_is_not_confirmed_by_on(self):
        hello(result=0)
        self.assertEqual(peldra("elevation", "off")[0], 0)
        set_value("ElevationMagisk", 1)  # behind the host's back while root is off: asks nothing
        hello(promptMs=3000)  # the command's own prompt ends three seconds before the host's
        shown = len(prompts())
        code, out, err = peldra("elevation", "on")
        self.assertEqual((code, confirmed() & 5), (0, 1), out + err)
        self.assertNotIn("Magisk mode turns on", prompts()[shown]["text"])
        wait_until(lambda: len(prompts()) >= shown + 2)
        self.assertIn("Magisk mode turns on", prompts()[shown + 1]["text"], "asked for by name")
        hello(promptMs=200)

    def test_7_a_declined_widening_is_asked_once_until_the_user_turns_a_setting_on(self):
        wait_until(lambda: confirmed() == 5)  # the host's Magisk prompt of the test before
        for words in (["magisk", "off"], ["su", "off"]):
            self.assertEqual(peldra("elevation", *words)[0], 0)
        self.assertEqual(confirmed(), 1)
        hello(result=6)  # the user says no to every prompt of the host
        shown = len(prompts())

        def write(name):
            set_value(name, 1)
            self.assertEqual(run(driver, "setting", "tray", "on")[0], 0)  # wakes the host
            wait_until(lambda: values(name) == (0,))
            self.assertEqual(values(name), (0,), "written back")

        for _ in range(5):
            write("ElevationMagisk")
        self.assertEqual(len(prompts()) - shown, 1, "a prompt for each rewrite")
        for name in ("ElevationSu", "ElevationMagisk") * 3:
            write(name)
        self.assertEqual(len(prompts()) - shown, 2, "a prompt for each of two widenings in turn")
        self.assertEqual(peldra("elevation", "on")[0], 0)  # on already: nothing to confirm, but chosen
        write("ElevationMagisk")
        self.assertEqual(len(prompts()) - shown, 3, "asked again once the user chose in Peldra")
        hello(result=0)


if __name__ == "__main__":
    driver = e2e.take_option("--driver")
    e2e.main()
