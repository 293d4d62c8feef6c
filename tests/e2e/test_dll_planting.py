"""DLLs planted beside a copy of Peldra.exe under the names of the system DLLs it delay-loads, each
leaving a marker when loaded, with Wine told to prefer such native DLLs to its own: a command works
with the system's and loads none of them, while an ordinary search from the same folder takes
them. A missing DLL or function ends the process with a text that names it."""
import json
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from release_server import ReleaseServer  # noqa: E402
from simulated_pc import windows_path  # noqa: E402
from wine import Program  # noqa: E402

# Wine's user32 loads uxtheme.dll by the ordinary search as any process starts, before the exe's
# code runs: under Wine it comes from the exe's folder whatever the exe imports (dll_imports
# checks that the import table no longer names it), so it is not planted.
NOT_PLANTED = {"uxtheme"}


# Runs in the shared prefix, whose wineserver the "wine" fixture keeps warm for every test.
class PlantedDllTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="peldra-dll-planting-e2e-"))
        cls.folder, cls.markers = cls.scratch / "Downloads", cls.scratch / "markers"
        cls.folder.mkdir()
        cls.markers.mkdir()
        names = [name for name in DELAY_LOADED if name not in NOT_PLANTED]
        for name in names:
            shutil.copy(PLANTED, cls.folder / f"{name}.dll")
        shutil.copy(e2e.program.exe, cls.folder / "Peldra.exe")
        shutil.copy(PROBE, cls.folder / "probe.exe")
        cls.server = ReleaseServer(cls.scratch / "served").start()
        (cls.server.root / "manifest.json").write_text(json.dumps({"name": "no release"}), encoding="utf-8")
        cls.env = {"PD_WINEDLLOVERRIDES": f"{','.join(names)}=n,b", "PD_PLANTED_MARKERS": windows_path(cls.markers),
                   "PD_WINEDEBUG": "-all,+loaddll"}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_in_folder(self, exe, *words):
        for marker in self.markers.iterdir():
            marker.unlink()
        done = Program(self.folder / exe, e2e.program.prefix).run(*words, env=self.env)
        return done, sorted(marker.name for marker in self.markers.iterdir())

    def test_check_reads_the_manifest_through_the_system_winhttp_and_loads_no_planted_dll(self):
        address = f"{self.server.url}/manifest.json"
        done, loaded = self.run_in_folder("Peldra.exe", "check", "--source", address)
        self.assertEqual((loaded, done.code, done.stdout), ([], 3, ""))
        # Refused as no release once WinHTTP fetched it; Wine's loader trace says where that came from.
        self.assertIn(f'[FAIL] {address} is not a release manifest (it has no "format").', done.stderr.splitlines())
        self.assertEqual(len((self.server.root / "manifest.json.log").read_text().splitlines()), 1)
        winhttp = [line.lower() for line in done.stderr.splitlines() if "Loaded" in line and "winhttp" in line.lower()]
        self.assertTrue(winhttp and all(r'l"c:\\windows\\system32\\winhttp.dll"' in line for line in winhttp), winhttp)

    def test_an_ordinary_search_from_the_same_folder_takes_the_planted_dll(self):
        done, loaded = self.run_in_folder("probe.exe", "default", "wtsapi32.dll")
        self.assertEqual((done.code, done.stdout, loaded),
                         (0, f"{windows_path(self.folder)}\\wtsapi32.dll\n", ["wtsapi32.dll.loaded"]))

    def test_a_missing_function_or_dll_ends_with_a_text_naming_it(self):
        for mode, text in [("function", "PdNoSuchFunction is missing from version.dll in the Windows system folder: "
                                        "Procedure not found. (code 127)\n"),
                           ("dll", "pd-no-such-library.dll could not be loaded from the Windows system folder: "
                                   "Module not found. (code 126)\n")]:
            done = Program(PROBE, e2e.program.prefix).run(mode)
            self.assertEqual((done.code, done.stdout, done.stderr), (3, "", text), mode)


if __name__ == "__main__":
    PROBE, PLANTED = e2e.take_option("--probe"), e2e.take_option("--planted")
    DELAY_LOADED = e2e.take_option("--delay-loaded").split(",")
    e2e.main()
