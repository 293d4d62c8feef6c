"""The release commands of Peldra.exe under Wine on a simulated Windows 11 PC, against the
loopback release server with releases signed by a test publisher the simulated PC trusts: check,
status and verify, with the rows, the files and the exit codes a user sees.

Installs change the Wine prefix (program files, registry), so this script has a prefix of its
own, given with --prefix, and keeps its wineserver warm while it runs."""
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
from release_server import ReleaseServer  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import ROOT, WINE_RUN  # noqa: E402

WINE_PREFIX = ROOT / "tools" / "wine-prefix.sh"

scratch = None
publisher = None
server = None


def setUpModule():
    global scratch, publisher, server
    subprocess.run([str(WINE_PREFIX), e2e.program.prefix, "start"], check=True)
    scratch = Path(tempfile.mkdtemp(prefix="peldra-release-e2e-"))
    publisher = signing.make_publisher(scratch / "publisher", signing.TEST_LEAF, signing.TEST_ROOT)
    server = ReleaseServer(scratch / "served").start()


def tearDownModule():
    server.stop()
    subprocess.run([str(WINE_PREFIX), e2e.program.prefix, "stop"], check=False)
    shutil.rmtree(scratch, ignore_errors=True)


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
    """Builds a release under the server's root; returns its manifest address and its manifest."""
    description = {"version": "2.0.0", "android": "Android 15", "variant": "Test", "components": components(),
                   "catalog": signed, **description}
    manifest = build_release(description, server.root / name, publisher if signed else None)
    return f"{server.url}/{name}/manifest.json", manifest


class ReleaseCommandTest(unittest.TestCase):
    """Each test gets a simulated PC and a scratch folder of its own."""

    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher, publisherIds={PUBLISHER: TOVIK_PUBLISHER_ID})

    def run_program(self, *args):
        return e2e.program.run(*args, env=self.pc.env)


class CheckTest(ReleaseCommandTest):
    def test_a_signed_release_lists_every_component_to_download(self):
        address, manifest = release("check-signed")
        target = self.folder / "target"
        done = self.run_program("check", "--source", address, "--dir", windows_path(target))
        self.assertEqual(done.code, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[:4], ["Peldra 2.0.0  Android 15  Test", f"Source  {address}",
                                     f"Folder  {windows_path(target)}", "Release official (publisher signature)"])
        rows = [line.split() for line in lines if line.startswith("  ")]
        self.assertEqual([(row[0], row[1], row[-1]) for row in rows],
                         [("system", "system.vhdx", "download"), ("kernel", "tools/kernel", "download"),
                          ("app", ".", "download")])
        self.assertTrue(lines[-1].startswith("To download: "), lines[-1])
        self.assertEqual(done.stderr, "")

    def test_unsigned_and_wrongly_signed_releases_are_unofficial(self):
        address, _ = release("check-unsigned", signed=False)
        done = self.run_program("check", "--source", address, "--dir", windows_path(self.folder))
        self.assertEqual(done.code, 0, done.stderr)
        self.assertIn("\nRelease unofficial (not signed)\n", done.stdout)

        # The catalog of another release lists another manifest.
        other, _ = release("check-other", version="3.0.0")
        address, _ = release("check-foreign-catalog", signed=False)
        shutil.copy(server.root / "check-other" / "manifest.cat", server.root / "check-foreign-catalog")
        done = self.run_program("check", "--source", address, "--dir", windows_path(self.folder))
        self.assertEqual(done.code, 0, done.stderr)
        self.assertIn("\nRelease unofficial (signature not valid for this manifest)\n", done.stdout)

    def test_a_manifest_that_cannot_be_read_is_unavailable(self):
        for address in (f"{server.url}/no-such-manifest.json", "http://127.0.0.1:9/manifest.json"):
            with self.subTest(address=address):
                done = self.run_program("check", "--source", address)
                self.assertEqual(done.code, 3)
                self.assertEqual(done.stdout, "")
                self.assertTrue(done.stderr.startswith("[FAIL] "), done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)


def set_developer_mode(on):
    """Developer mode is the prefix's own registry value, not part of the simulated PC."""
    subprocess.run([str(WINE_RUN), e2e.program.prefix, "reg", "add",
                    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock",
                    "/v", "AllowDevelopmentWithoutDevLicense", "/t", "REG_DWORD", "/d", "1" if on else "0", "/f"],
                   check=True, capture_output=True)


def downloads(name):
    """How often the server was asked for each component file of a release."""
    return {path.name: len(server.requests(f"/{name}/{path.name}"))
            for path in (server.root / name).glob("*.zst")}


class InstallTest(ReleaseCommandTest):
    def install(self, address, *extra):
        return self.run_program("install", "--source", address, "--dir", windows_path(self.target), *extra)

    def setUp(self):
        super().setUp()
        self.target = self.folder / "Tovik"

    def test_a_fresh_install_then_nothing_to_do_then_only_the_changed_component(self):
        set_developer_mode(False)
        address, _ = release("install-road")
        done = self.install(address, "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertEqual(done.stderr, "")
        rows = done.stdout.splitlines()
        self.assertEqual(rows[0], f"[INFO] manifest {address}")
        self.assertIn("  --yes: accepted", rows)
        self.assertEqual(rows[-1], f"[ OK ] Peldra 2.0.0 installed in {windows_path(self.target)}")
        for name in ("system.vhdx", "tools/kernel", "AppxManifest.xml", "peldra.json", "release.json", "release.cat"):
            self.assertTrue((self.target / name).is_file(), name)
        self.assertEqual(downloads("install-road"), {"system.zst": 1, "kernel.zst": 1, "app.zst": 1})

        status = self.run_program("status", "--dir", windows_path(self.target))
        self.assertIn("Developer mode            on\n", status.stdout)
        self.assertIn(f"Tovik package             2.0.0.0 ({windows_path(self.target)})\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)
        verify = self.run_program("verify")
        self.assertEqual((verify.code, verify.stdout.splitlines()[-1]),
                         (0, "[ OK ] official Peldra release, unchanged"))
        check = self.run_program("check", "--source", address, "--dir", windows_path(self.target))
        self.assertEqual(check.stdout.count("  installed\n"), 3, check.stdout)
        self.assertTrue(check.stdout.endswith("[ OK ] up to date\n"), check.stdout)

        again = self.install(address, "--yes")
        self.assertEqual(again.code, 0, again.stdout + again.stderr)
        self.assertEqual(downloads("install-road"), {"system.zst": 1, "kernel.zst": 1, "app.zst": 1})

        changed, _ = release("install-road-update", version="2.1.0", components=components(kernel="kernel 2\n"))
        update = self.install(changed, "--yes")
        self.assertEqual(update.code, 0, update.stdout + update.stderr)
        self.assertEqual(update.stdout.splitlines()[-1],
                         f"[ OK ] Peldra 2.1.0 installed in {windows_path(self.target)}")
        self.assertEqual(downloads("install-road-update"), {"system.zst": 0, "kernel.zst": 1, "app.zst": 0})
        self.assertEqual((self.target / "tools" / "kernel").read_bytes(), b"kernel 2\n")

    def test_a_declined_question_cancels_the_install(self):
        set_developer_mode(False)
        address, _ = release("install-declined")
        done = self.install(address, "--no-progress")
        self.assertEqual(done.code, 4, done.stdout + done.stderr)
        self.assertIn("\n  not accepted (add --yes to accept)\n", done.stdout)
        self.assertEqual(done.stderr, "[FAIL] Canceled.\n")
        status = self.run_program("status")
        self.assertIn("Developer mode            off\n", status.stdout)
        self.assertIn("Tovik package             not registered\n", status.stdout)

    def test_an_unsigned_release_is_refused(self):
        address, _ = release("install-unsigned", signed=False)
        done = self.install(address, "--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertTrue(done.stderr.startswith("[FAIL] "), done.stderr)
        self.assertEqual(downloads("install-unsigned"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})
        self.assertFalse((self.target / "peldra.json").exists())

    def test_progress_goes_to_redirected_output_once_per_stage_at_full_unless_switched_off(self):
        set_developer_mode(True)
        address, _ = release("install-progress")
        done = self.install(address, "--yes", "--files-only")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        full = [line for line in done.stdout.splitlines() if " 100%  " in line]
        self.assertEqual(len([line for line in full if line.startswith("  Downloading system.vhdx ")]), 1, full)

        quiet = self.run_program("install", "--source", address, "--dir", windows_path(self.folder / "quiet"),
                                 "--yes", "--files-only", "--no-progress")
        self.assertEqual(quiet.code, 0, quiet.stdout + quiet.stderr)
        self.assertEqual([line for line in quiet.stdout.splitlines() if not line.startswith("[")], [])


def wine(*words, check=True):
    return subprocess.run([str(WINE_RUN), e2e.program.prefix, *words], check=check, capture_output=True)


def tovik_data_folder():
    """Local AppData\\Packages\\<Tovik's family name> of the prefix's user, as a Unix path."""
    users = Path(e2e.program.prefix) / "drive_c" / "users"
    user = next(path for path in users.iterdir() if path.name != "Public")
    return user / "AppData" / "Local" / "Packages" / f"TovikPackage_{TOVIK_PUBLISHER_ID}"


class UninstallTest(ReleaseCommandTest):
    def setUp(self):
        super().setUp()
        set_developer_mode(True)
        self.target = self.folder / "Tovik"
        self.data = tovik_data_folder()
        shutil.rmtree(self.data, ignore_errors=True)

    def tearDown(self):
        shutil.rmtree(self.data, ignore_errors=True)

    def install(self):
        address, _ = release("uninstall-" + self.id().rsplit(".", 1)[-1])
        done = self.run_program("install", "--source", address, "--dir", windows_path(self.target), "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        # What Android keeps of its apps between installations.
        (self.data / "LocalState").mkdir(parents=True, exist_ok=True)
        (self.data / "LocalState" / "userdata.img").write_bytes(bytes(3 << 20))

    def uninstall(self, *words):
        return self.run_program("uninstall", "--dir", windows_path(self.target), *words)

    def test_without_yes_it_only_says_what_would_go(self):
        self.install()
        data = "C:\\users\\" + self.data.parents[3].name + "\\AppData\\Local\\Packages\\" + self.data.name
        done = self.uninstall()
        self.assertEqual((done.code, done.stderr), (4, ""))
        self.assertEqual(done.stdout, f"uninstall removes Peldra ({windows_path(self.target)}); the Android apps "
                                      f"and their data stay in {data} for the next installation.\n"
                                      "  not done (add --yes to confirm)\n")
        done = self.uninstall("--all")
        self.assertEqual((done.code, done.stderr), (4, ""))
        self.assertEqual(done.stdout, f"uninstall --all removes Peldra ({windows_path(self.target)}) and "
                                      "everything Tovik left in Windows, including the Android apps, their data "
                                      f"and the Google account sign-in (3.0 MB in {data}).\n"
                                      "  not done (add --yes to confirm)\n")
        self.assertTrue((self.target / "peldra.json").exists())
        self.assertIn("Tovik package             2.0.0.0", self.run_program("status").stdout)

    def test_yes_removes_the_release_and_keeps_the_android_data(self):
        self.install()
        done = self.uninstall("--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], "[ OK ] Peldra is uninstalled. Your Android apps and data "
                                                       "are kept for the next installation.")
        self.assertFalse((self.target / "peldra.json").exists())
        self.assertFalse((self.target / "system.vhdx").exists())
        self.assertTrue((self.data / "LocalState" / "userdata.img").exists())
        self.assertIn("Tovik package             not registered\n", self.run_program("status").stdout)
        verify = self.run_program("verify")
        self.assertEqual(verify.code, 3, verify.stdout + verify.stderr)

    def test_all_and_yes_remove_everything(self):
        self.install()
        done = self.uninstall("--all", "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1],
                         "[ OK ] Peldra and everything it left in Windows are removed.")
        self.assertFalse(self.target.exists())
        self.assertFalse(self.data.exists())

    def test_virtual_machine_platform_turned_on_and_off_again_asks_for_restarts(self):
        self.pc.scenario["windows"].update(virtualMachinePlatform=False, dismExitCode=3010)
        self.pc.write()
        address, _ = release("uninstall-restart")
        done = self.run_program("install", "--source", address, "--dir", windows_path(self.target), "--yes")
        self.assertEqual(done.code, 5, done.stdout + done.stderr)
        self.assertEqual(done.stdout.splitlines()[-2:],
                         [f"[ OK ] Peldra 2.0.0 installed in {windows_path(self.target)}",
                          "[WARN] restart Windows to finish enabling Virtual Machine Platform"])

        done = self.uninstall("--all", "--yes")
        self.assertEqual(done.code, 5, done.stdout + done.stderr)
        self.assertEqual(done.stdout.splitlines()[-2:],
                         ["[ OK ] Peldra and everything it left in Windows are removed.",
                          "[WARN] restart Windows to finish disabling Virtual Machine Platform"])
        state = self.pc.state()
        self.assertEqual(state["features"], {"virtualMachinePlatform": False})
        self.assertEqual(len(state["dismRuns"]), 2, state["dismRuns"])

    def test_nothing_installed_fails(self):
        done = self.uninstall("--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertTrue(done.stderr.startswith("[FAIL] "), done.stderr)

    def test_with_the_programs_own_installer_package_windows_installer_removes_it(self):
        package = self.folder / "Peldra.msi"
        signing.make_msi(package, signing.PROGRAM_UPGRADE_CODE, "Peldra")
        wine("msiexec", "/i", windows_path(package), "/qn")
        try:
            self.install()
            # The package's own call removes the release in place.
            done = self.uninstall("--yes", "--from-setup")
            self.assertEqual(done.code, 0, done.stdout + done.stderr)
            self.assertFalse((self.target / "peldra.json").exists())

            done = self.uninstall("--yes")
            self.assertEqual(done.code, 0, done.stdout + done.stderr)
            self.assertRegex(done.stdout, r"^\[INFO\] Peldra Setup \(\{[0-9A-F-]{36}\}\) removes Peldra now\n$")
            product = done.stdout[len("[INFO] Peldra Setup ("):][:38]
            key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product
            for _ in range(120):
                if wine("reg", "query", key, check=False).returncode != 0:
                    break
                time.sleep(0.5)
            else:
                self.fail("Windows Installer did not remove the package")
        finally:
            wine("msiexec", "/x", windows_path(package), "/qn", check=False)


class InstallerModeTest(ReleaseCommandTest):
    def test_the_installer_forms_end_with_their_codes(self):
        cases = [
            (["msi", "stop-hosts"], 0),
            (["MSI", "Stop-Hosts"], 0),
            (["msi", "stop-hosts", "now"], 2),
            (["msi", "uninstall"], 2),
            (["msi", "uninstall", "S-1-5-18", "--yes"], 2),
            (["msi", "remove", "S-1-5-18"], 2),
            (["msi", "uninstall", "not-a-sid"], 2),
            (["msi", "uninstall", "not-a-sid", "--ALL"], 2),
            # Wine lists no sessions, so no session of the user has a token: ERROR_NO_TOKEN (1008),
            # of which the shell sees the low 8 bits.
            (["msi", "uninstall", "S-1-5-18"], 1008 & 0xFF),
        ]
        for words, code in cases:
            with self.subTest(words=words):
                done = self.run_program(*words)
                self.assertEqual((done.code, done.stdout, done.stderr), (code, "", ""))


class StatusTest(ReleaseCommandTest):
    def test_describes_the_simulated_pc_and_the_registered_package(self):
        self.pc.scenario["windows"].update(build=28100, ubr=1, virtualMachinePlatform=False)
        self.pc.scenario["packages"] = [{
            "name": "TovikPackage", "publisherId": TOVIK_PUBLISHER_ID, "version": "2.0.0.0",
            "installLocation": "C:\\Tovik", "developmentMode": True, "users": ["current"]}]
        self.pc.write()
        target = self.folder / "target"
        done = self.run_program("status", "--dir", windows_path(target))
        self.assertEqual(done.code, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], "Windows                   Windows 11 Pro 23H2 (28100.1)")
        for line in ("Supported                 yes", "Virtual Machine Platform  no",
                     "TovikPatch                needed on this build",
                     "Tovik package             2.0.0.0 (C:\\Tovik)",
                     f"Install folder            {windows_path(target)}", "Installed release         none"):
            self.assertIn(line, lines)
        self.assertEqual(done.stderr, "")

    def test_an_unknown_feature_state_and_no_package(self):
        del self.pc.scenario["windows"]["virtualMachinePlatform"]
        self.pc.write()
        done = self.run_program("status")
        self.assertEqual(done.code, 0, done.stderr)
        self.assertIn("Virtual Machine Platform  unknown\n", done.stdout)
        self.assertIn("Tovik package             not registered\n", done.stdout)
        self.assertNotIn("TovikPatch", done.stdout)


class VerifyTest(ReleaseCommandTest):
    def installed(self, name, signed=True):
        """A release as an install leaves it in a folder, without the program's state."""
        release(name, signed, installed="installed",
                components=[c for c in components() if c["kind"] != "archive"])
        return server.root / name / "installed"

    def test_an_unchanged_official_release_verifies(self):
        folder = self.installed("verify-good")
        done = self.run_program("verify", windows_path(folder))
        self.assertEqual((done.code, done.stdout), (0, f"Folder  {windows_path(folder)}\n"
                                                       "[ OK ] official Peldra release, unchanged\n"))

    def test_a_modified_file_fails(self):
        folder = self.installed("verify-modified")
        with open(folder / "tools" / "kernel", "ab") as kernel:
            kernel.write(b"patched\n")
        done = self.run_program("verify", windows_path(folder))
        self.assertEqual(done.code, 1)
        self.assertEqual(done.stderr, "[FAIL] official release, but its Android files were changed after installing\n")

    def test_an_unsigned_release_is_not_official(self):
        folder = self.installed("verify-unsigned", signed=False)
        done = self.run_program("verify", windows_path(folder))
        self.assertEqual(done.code, 1)
        self.assertEqual(done.stderr, "[FAIL] not an official Peldra release (no valid publisher signature)\n")

    def test_without_a_folder_the_registered_package_is_verified(self):
        folder = self.installed("verify-package")
        done = self.run_program("verify")
        self.assertEqual(done.code, 3)
        self.assertEqual((done.stdout, done.stderr), ("Folder  (Tovik not installed)\n",
                                                      "[FAIL] Tovik is not installed\n"))

        self.pc.scenario["packages"] = [{
            "name": "TovikPackage", "publisherId": TOVIK_PUBLISHER_ID, "version": "2.0.0.0",
            "installLocation": windows_path(folder), "developmentMode": True, "users": ["current"]}]
        self.pc.write()
        done = self.run_program("verify")
        self.assertEqual(done.code, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines()[0], f"Folder  {windows_path(folder)}")


class TovikCommandTest(ReleaseCommandTest):
    def test_without_tovik_stop_has_nothing_to_do_and_launch_and_settings_fail(self):
        done = self.run_program("stop")
        self.assertEqual((done.code, done.stdout, done.stderr), (0, "[INFO] Tovik is not running.\n", ""))
        for command in ("launch", "settings"):
            with self.subTest(command=command):
                done = self.run_program(command)
                self.assertEqual(done.code, 1)
                self.assertEqual(done.stdout, "")
                self.assertRegex(done.stderr, r"^\[FAIL\] \S.*\n$")

    def test_register_needs_the_background_host(self):
        done = self.run_program("register")
        self.assertEqual((done.code, done.stdout, done.stderr),
                         (1, "", "[FAIL] Peldra's background service is not running.\n"))


if __name__ == "__main__":
    e2e.main()
