"""The release commands of Peldra.exe under Wine on a simulated Windows 11 PC, against the
loopback release server with releases signed by a test publisher the simulated PC trusts. Installs
change the Wine prefix, so this script has a prefix of its own and keeps its wineserver warm."""
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
import signing  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import WINE_RUN  # noqa: E402


def setUpModule():
    global road, scratch, publisher, server
    road = e2e.ReleaseRoad("release")
    scratch, publisher, server = road.scratch, road.publisher, road.server


def tearDownModule():
    road.stop()


PUBLISHER = "CN=Ormel Test"
TOVIK_PUBLISHER_ID = "tv9kp7a3nqe2r"


def identity(name, version):
    return (f'<Package><Identity Name="{name}" Publisher="{PUBLISHER}" Version="{version}" '
            'ProcessorArchitecture="x64"/>')


def components(kernel="kernel 1\n"):
    """A small release: an Android disk, a single file, and the package with its dependency
    unpacked into the install folder itself."""
    return [
        {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"mixed": 300000, "seed": 1}},
        {"id": "kernel", "kind": "file", "target": "tools/kernel", "content": kernel},
        {"id": "app", "kind": "archive", "target": ".", "entries": [
            {"name": "AppxManifest.xml", "content": identity("TovikPackage", "2.0.0.0") +
             '<Dependencies><PackageDependency Name="Tovik.Runtime" MinVersion="1.0" '
             f'Publisher="{PUBLISHER}"/></Dependencies></Package>\n'},
            {"name": "Tovik.Runtime_x64.appx", "content": identity("Tovik.Runtime", "1.0.0.0") + "</Package>\n"}]},
    ]


def release(name, signed=True, **description):
    """Builds a release under the server's root; returns its manifest address."""
    description = {"version": "2.0.0", "android": "Android 15", "variant": "Test", "components": components(),
                   "catalog": signed, **description}
    build_release(description, server.root / name, publisher if signed else None)
    return f"{server.url}/{name}/manifest.json"


class ReleaseCommandTest(unittest.TestCase):
    """Each test gets a simulated PC and a scratch folder of its own."""

    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher, publisherIds={PUBLISHER: TOVIK_PUBLISHER_ID})
        self.target = self.folder / "Tovik"

    def run_program(self, *args):
        return e2e.program.run(*args, env=self.pc.env)

    def install(self, address, *extra, code=0):
        done = self.run_program("install", "--source", address, "--dir", windows_path(self.target), *extra)
        self.assertEqual(done.code, code, done.stdout + done.stderr)
        return done


def wine(*words, check=True):
    return subprocess.run([str(WINE_RUN), e2e.program.prefix, *words], check=check, capture_output=True)


def set_developer_mode(on):
    """Developer mode is the prefix's own registry value, not part of the simulated PC."""
    wine("reg", "add", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock", "/v",
         "AllowDevelopmentWithoutDevLicense", "/t", "REG_DWORD", "/d", "1" if on else "0", "/f")


def downloads(name):
    """How often the server was asked for each component file of a release."""
    return {path.name: len(server.requests(f"/{name}/{path.name}"))
            for path in (server.root / name).glob("*.zst")}


def progress_lines(output):
    return [line for line in output.splitlines() if "%  " in line]


class InstallTest(ReleaseCommandTest):
    def test_check_install_status_verify_then_nothing_to_do_then_only_the_changed_component(self):
        set_developer_mode(False)
        address = release("road")
        check = self.run_program("check", "--source", address, "--dir", windows_path(self.target))
        self.assertEqual((check.code, check.stderr), (0, ""))
        lines = check.stdout.splitlines()
        self.assertEqual(lines[:4], ["Peldra 2.0.0  Android 15  Test", f"Source  {address}",
                                     f"Folder  {windows_path(self.target)}", "Release official (publisher signature)"])
        downloaded = [line.split()[0] for line in lines if line.endswith("  download")]
        self.assertEqual(downloaded, ["system", "kernel", "app"])
        self.assertTrue(lines[-1].startswith("To download: "), lines[-1])

        done = self.install(address, "--yes")
        self.assertEqual(done.stderr, "")
        rows = done.stdout.splitlines()
        self.assertEqual(rows[0], f"[INFO] manifest {address}")
        self.assertIn("  --yes: accepted", rows)
        self.assertEqual(rows[-1], f"[ OK ] Peldra 2.0.0 installed in {windows_path(self.target)}")
        # Redirected output gets one line at 100 % per stage.
        self.assertEqual(len([line for line in progress_lines(done.stdout)
                              if line.startswith("  Downloading system.vhdx ") and " 100%  " in line]), 1)
        for name in ("system.vhdx", "tools/kernel", "AppxManifest.xml", "peldra.json", "release.json", "release.cat"):
            self.assertTrue((self.target / name).is_file(), name)
        self.assertEqual(downloads("road"), {"system.zst": 1, "kernel.zst": 1, "app.zst": 1})

        self.pc.scenario["hello"] = {"availability": 0}
        self.pc.write()
        status = self.run_program("status", "--dir", windows_path(self.target))
        self.assertIn("Developer mode            on\n", status.stdout)
        self.assertIn("Windows Hello             available (fingerprint / Windows Hello ready)\n", status.stdout)
        self.assertIn(f"Tovik package             2.0.0.0 ({windows_path(self.target)})\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)
        verify = self.run_program("verify")
        self.assertEqual((verify.code, verify.stdout), (0, f"Folder  {windows_path(self.target)}\n"
                                                           "[ OK ] official Peldra release, unchanged\n"))
        check = self.run_program("check", "--source", address, "--dir", windows_path(self.target))
        self.assertEqual(check.stdout.count("  installed\n"), 3, check.stdout)
        self.assertTrue(check.stdout.endswith("[ OK ] up to date\n"), check.stdout)

        self.install(address, "--yes")
        self.assertEqual(downloads("road"), {"system.zst": 1, "kernel.zst": 1, "app.zst": 1})

        changed = release("road-update", version="2.1.0", components=components(kernel="kernel 2\n"))
        update = self.install(changed, "--yes")
        self.assertEqual(update.stdout.splitlines()[-1],
                         f"[ OK ] Peldra 2.1.0 installed in {windows_path(self.target)}")
        self.assertEqual(downloads("road-update"), {"system.zst": 0, "kernel.zst": 1, "app.zst": 0})
        self.assertEqual((self.target / "tools" / "kernel").read_bytes(), b"kernel 2\n")

    def test_a_declined_question_cancels_the_install_and_no_progress_draws_no_bar(self):
        set_developer_mode(False)
        address = release("declined")
        done = self.install(address, "--no-progress", code=4)
        self.assertIn("\n  not accepted (add --yes to accept)\n", done.stdout)
        self.assertEqual(done.stderr, "[FAIL] Canceled.\n")
        self.assertEqual(downloads("declined"), {"system.zst": 1, "kernel.zst": 1, "app.zst": 1})
        self.assertEqual(progress_lines(done.stdout), [])
        status = self.run_program("status")
        self.assertIn("Developer mode            off\n", status.stdout)
        self.assertIn("Tovik package             not registered\n", status.stdout)
        self.assertIn("Windows Hello             no biometric / Windows Hello device present\n", status.stdout)

    def test_an_unsigned_release_is_refused(self):
        address = release("unsigned", signed=False)
        done = self.install(address, "--yes", code=1)
        self.assertTrue(done.stderr.startswith("[FAIL] "), done.stderr)
        self.assertEqual(downloads("unsigned"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})
        self.assertFalse((self.target / "peldra.json").exists())

    def test_an_install_and_an_update_beside_a_process_holding_the_release_files_succeed(self):
        """Another process that has release.cat or peldra.json open (a verify, the host's start-up
        check) only delays their replacement: the install waits for it and does not fail."""
        address = release("held")
        self.install(address, "--yes")
        changed = release("held-update", version="2.1.0", components=components(kernel="kernel 2\n"))
        for name, source, version in (("release.cat", address, "2.0.0"), ("peldra.json", changed, "2.1.0")):
            with self.subTest(name):
                holder = e2e.hold_open(self.target / name)
                install = e2e.Started(self.pc, "install", "--yes", "--no-progress", "--source", source, "--dir",
                                      windows_path(self.target))
                # Its replacement waits beside the held file; the holder lets go while it waits.
                install.wait_for_file(self.target / (name + ".new"))
                holder.let_go()
                self.assertEqual(install.finish(), 0, install.lines)
                self.assertEqual(install.lines[-1], f"[ OK ] Peldra {version} installed in {windows_path(self.target)}")
        verify = self.run_program("verify", windows_path(self.target))
        self.assertEqual(verify.code, 0, verify.stdout + verify.stderr)

    def test_an_update_while_release_cat_stays_open_fails_before_anything_is_replaced(self):
        """A process that keeps release.cat open past the wait fails the update before the
        switch-over: the installed release stays whole and verified, and once it lets go the same
        command installs the update."""
        self.install(release("kept-open"), "--yes")
        changed = release("kept-open-update", version="2.1.0", components=components(kernel="kernel 2\n"))
        holder = e2e.hold_open(self.target / "release.cat")
        try:
            done = self.install(changed, "--yes", "--no-progress", code=1)
        finally:
            holder.let_go()
        self.assertEqual(done.stderr, f"[FAIL] Another program has {windows_path(self.target)}\\release.cat open. "
                                      "Close it and run the command again. (code 32)\n")
        self.assertEqual((self.target / "tools" / "kernel").read_text(), "kernel 1\n")
        self.assertEqual(list(self.target.rglob("*.new")), [])
        verify = self.run_program("verify", windows_path(self.target))
        self.assertEqual(verify.code, 0, verify.stdout + verify.stderr)
        self.assertEqual(self.install(changed, "--yes").stdout.splitlines()[-1],
                         f"[ OK ] Peldra 2.1.0 installed in {windows_path(self.target)}")

    def test_stopping_the_hosts_does_not_wait_for_a_run_that_holds_the_lock(self):
        address = release("locked")
        server.set_rule("/locked/system.zst", [{"holdAfter": 65536}, {}])
        install = e2e.Started(self.pc, "install", "--yes", "--no-progress", "--source", address, "--dir",
                              windows_path(self.target))
        install.wait_for_line("[INFO] Downloading ")
        stop = e2e.program.run("msi", "stop-hosts", env=self.pc.env, timeout=300)
        self.assertEqual((stop.code, stop.stdout, stop.stderr), (0, "", ""))
        self.assertIsNone(install.process.poll(), "the install still holds the lock")
        server.let_go("/locked/system.zst")
        self.assertEqual(install.finish(), 0, install.lines)

    def test_a_manifest_that_cannot_be_read_is_unavailable(self):
        done = self.run_program("check", "--source", f"{server.url}/no-such-manifest.json")
        self.assertEqual((done.code, done.stdout), (3, ""))
        self.assertRegex(done.stderr, r"^\[FAIL\] [^\n]+\n$")


def tovik_data_folder():
    """Local AppData\\Packages\\<Tovik's family name> of the prefix's user, as a Unix path."""
    users = Path(e2e.program.prefix) / "drive_c" / "users"
    user = next(path for path in users.iterdir() if path.name != "Public")
    return user / "AppData" / "Local" / "Packages" / f"TovikPackage_{TOVIK_PUBLISHER_ID}"


class UninstallTest(ReleaseCommandTest):
    def setUp(self):
        super().setUp()
        set_developer_mode(True)
        self.data = tovik_data_folder()
        shutil.rmtree(self.data, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.data, ignore_errors=True)

    def install_with_data(self, code=0):
        address = release("uninstall-" + self.id().rsplit(".", 1)[-1])
        done = self.install(address, "--yes", code=code)
        # What Android keeps of its apps between installations.
        (self.data / "LocalState").mkdir(parents=True, exist_ok=True)
        (self.data / "LocalState" / "userdata.img").write_bytes(bytes(3 << 20))
        return done

    def uninstall(self, *words, code=0):
        done = self.run_program("uninstall", "--dir", windows_path(self.target), *words)
        self.assertEqual(done.code, code, done.stdout + done.stderr)
        return done

    def test_a_preview_without_yes_then_a_removal_that_keeps_the_android_data(self):
        self.assertTrue(self.uninstall("--yes", code=1).stderr.startswith("[FAIL] "))
        self.install_with_data()
        data = "C:\\users\\" + self.data.parents[3].name + "\\AppData\\Local\\Packages\\" + self.data.name
        self.assertEqual(self.uninstall(code=4).stdout,
                         f"uninstall removes Peldra ({windows_path(self.target)}); the Android apps "
                         f"and their data stay in {data} for the next installation.\n"
                         "  not done (add --yes to confirm)\n")
        self.assertEqual(self.uninstall("--all", code=4).stdout,
                         f"uninstall --all removes Peldra ({windows_path(self.target)}) and "
                         "everything Tovik left in Windows, including the Android apps, their data "
                         f"and the Google account sign-in (3.0 MB in {data}).\n"
                         "  not done (add --yes to confirm)\n")
        self.assertTrue((self.target / "peldra.json").exists())

        done = self.uninstall("--yes")
        self.assertEqual(done.stdout.splitlines()[-1], "[ OK ] Peldra is uninstalled. Your Android apps and data "
                                                       "are kept for the next installation.")
        self.assertFalse((self.target / "system.vhdx").exists())
        self.assertTrue((self.data / "LocalState" / "userdata.img").exists())
        verify = self.run_program("verify")
        self.assertEqual((verify.code, verify.stdout, verify.stderr),
                         (3, "Folder  (Tovik not installed)\n", "[FAIL] Tovik is not installed\n"))

    def test_a_state_file_held_open_is_named_and_the_uninstall_goes_on(self):
        """A process that keeps peldra.json open: the uninstall cannot record there that it is
        under way, says so, and removes the release all the same."""
        self.install_with_data()
        state = windows_path(self.target) + "\\peldra.json"
        holder = e2e.hold_open(self.target / "peldra.json")
        try:
            done = self.run_program("uninstall", "--dir", windows_path(self.target), "--yes")
        finally:
            holder.let_go()
        self.assertNotEqual(done.code, 0, "the held state file stays, and the uninstall says so")
        self.assertIn(f"[WARN] Another program has {state} open, so Peldra could not record in it that the "
                      "uninstall is under way; the uninstall goes on.\n", done.stdout)
        self.assertNotIn("run the command again", done.stdout)
        # The line about the folder comes after the state file was tried, and counts what the run counts.
        self.assertIn(f"[WARN] Files of Peldra deleted from {windows_path(self.target)} (", done.stdout)
        self.assertIn("), but 1 could not be deleted: see the lines above. Tovik is removed from Windows all the "
                      "same: delete what stays yourself.\n", done.stdout)
        self.assertEqual(done.stdout.splitlines()[-1], "[WARN] 1 item(s) could not be removed (see above)")
        self.assertFalse((self.target / "system.vhdx").exists())

    def test_all_removes_everything_and_virtual_machine_platform_turned_on_and_off_asks_for_restarts(self):
        self.pc.scenario["windows"].update(virtualMachinePlatform=False, dismExitCode=3010)
        self.pc.write()
        done = self.install_with_data(code=5)
        self.assertEqual(done.stdout.splitlines()[-2:],
                         [f"[ OK ] Peldra 2.0.0 installed in {windows_path(self.target)}",
                          "[WARN] restart Windows to finish enabling Virtual Machine Platform"])

        done = self.uninstall("--all", "--yes", code=5)
        self.assertEqual(done.stdout.splitlines()[-2:],
                         ["[ OK ] Peldra and everything it left in Windows are removed.",
                          "[WARN] restart Windows to finish disabling Virtual Machine Platform"])
        self.assertFalse(self.target.exists())
        self.assertFalse(self.data.exists())
        state = self.pc.state()
        self.assertEqual(state["features"], {"virtualMachinePlatform": False})
        self.assertEqual(len(state["dismRuns"]), 2, state["dismRuns"])

    def test_with_the_programs_own_installer_package_windows_installer_removes_it(self):
        package = self.folder / "Peldra.msi"
        signing.make_msi(package, signing.PROGRAM_UPGRADE_CODE, "Peldra")
        wine("msiexec", "/i", windows_path(package), "/qn")
        self.addCleanup(wine, "msiexec", "/x", windows_path(package), "/qn", check=False)
        self.install_with_data()
        # The package's own call removes the release in place.
        self.uninstall("--yes", "--from-setup")
        self.assertFalse((self.target / "peldra.json").exists())

        done = self.uninstall("--yes")
        self.assertRegex(done.stdout, r"^\[INFO\] Peldra Setup \(\{[0-9A-F-]{36}\}\) removes Peldra now\n$")
        product = done.stdout[len("[INFO] Peldra Setup ("):][:38]
        key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product
        for _ in range(600):
            if wine("reg", "query", key, check=False).returncode != 0:
                break
            time.sleep(0.5)
        else:
            self.fail("Windows Installer did not remove the package")


class SmallCommandTest(ReleaseCommandTest):
    def test_the_installer_forms_end_with_their_codes(self):
        cases = [
            (["MSI", "Stop-Hosts"], 0),
            (["msi", "stop-hosts", "now"], 2),
            (["msi", "remove", "S-1-5-18"], 2),
            (["msi", "uninstall", "not-a-sid", "--ALL"], 2),
            # Wine lists no sessions, so no session of the user has a token: ERROR_NO_TOKEN (1008),
            # of which the shell sees the low 8 bits.
            (["msi", "uninstall", "S-1-5-18"], 1008 & 0xFF),
        ]
        for words, code in cases:
            with self.subTest(words=words):
                done = self.run_program(*words)
                self.assertEqual((done.code, done.stdout, done.stderr), (code, "", ""))

    def test_verify_names_a_changed_and_an_unsigned_release(self):
        for name, signed, change, message in (
                ("modified", True, b"patched\n",
                 "official release, but its Android files were changed after installing"),
                ("not-signed", False, b"", "not an official Peldra release (no valid publisher signature)")):
            with self.subTest(name=name):
                # A release as an install leaves it in a folder, without the program's state.
                release(name, signed, installed="installed",
                        components=[c for c in components() if c["kind"] != "archive"])
                folder = server.root / name / "installed"
                with open(folder / "tools" / "kernel", "ab") as kernel:
                    kernel.write(change)
                done = self.run_program("verify", windows_path(folder))
                self.assertEqual((done.code, done.stdout, done.stderr),
                                 (1, f"Folder  {windows_path(folder)}\n", f"[FAIL] {message}\n"))

    def test_without_tovik_stop_has_nothing_to_do_and_the_others_fail(self):
        done = self.run_program("stop")
        self.assertEqual((done.code, done.stdout, done.stderr), (0, "[INFO] Tovik is not running.\n", ""))
        # Without a host it is not running; with one that an earlier install left, Android cannot start.
        done = self.run_program("register")
        self.assertEqual(done.code, 1)
        self.assertRegex(done.stderr, r"^\[FAIL\] \S.*\n$")
        for command in ("launch", "settings"):
            with self.subTest(command=command):
                done = self.run_program(command)
                self.assertEqual((done.code, done.stdout), (1, ""))
                self.assertRegex(done.stderr, r"^\[FAIL\] \S.*\n$")


if __name__ == "__main__":
    e2e.main()
