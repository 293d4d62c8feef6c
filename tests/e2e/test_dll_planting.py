"""DLLs planted beside Peldra.exe: a copy of it in a folder that also holds DLLs named like the
system DLLs it delay-loads, each leaving a marker when loaded, run with Wine told to prefer such
native DLLs to its own. The command works with the system's DLLs and loads none of the planted
ones, while an ordinary search from the same folder does take them. A DLL or function that is
missing ends the process with a text that names it."""
import json
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from release_server import ReleaseServer  # noqa: E402
from simulated_pc import windows_path  # noqa: E402
from wine import ROOT, Program  # noqa: E402

PROBE = None  # pd_delay_load_probe.exe, from --probe
PLANTED = None  # pd_planted_dll.dll, from --planted
# Wine's user32 itself loads uxtheme.dll by the ordinary search when a process starts, before any
# code of the exe runs: under Wine that DLL is taken from the exe's folder whatever the exe
# imports, so it is not planted here (the import table, which no longer names it, is checked by
# the dll_imports test).
DELAY_LOADED = []  # from --delay-loaded, a comma list of the delay-loaded DLLs' stems
NOT_PLANTED = {"uxtheme"}


class PlantedDllTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([str(ROOT / "tools" / "wine-prefix.sh"), e2e.program.prefix, "start"], check=True)
        cls.scratch = Path(tempfile.mkdtemp(prefix="peldra-dll-planting-e2e-"))
        cls.folder = cls.scratch / "Downloads"
        cls.markers = cls.scratch / "markers"
        cls.folder.mkdir()
        cls.markers.mkdir()
        cls.names = [name for name in DELAY_LOADED if name not in NOT_PLANTED]
        for name in cls.names:
            shutil.copy(PLANTED, cls.folder / f"{name}.dll")
        cls.exe = cls.folder / "Peldra.exe"
        shutil.copy(e2e.program.exe, cls.exe)
        shutil.copy(PROBE, cls.folder / "probe.exe")
        cls.server = ReleaseServer(cls.scratch / "served").start()
        (cls.server.root / "manifest.json").write_text(json.dumps({"name": "no release"}), encoding="utf-8")
        cls.env = {"PD_WINEDLLOVERRIDES": f"{','.join(cls.names)}=n,b",
                   "PD_PLANTED_MARKERS": windows_path(cls.markers), "PD_WINEDEBUG": "-all,+loaddll"}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        subprocess.run([str(ROOT / "tools" / "wine-prefix.sh"), e2e.program.prefix, "stop"], check=False)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        for marker in self.markers.iterdir():
            marker.unlink()

    def loaded(self):
        return sorted(marker.name for marker in self.markers.iterdir())

    def test_check_reads_the_manifest_through_the_system_winhttp_and_loads_no_planted_dll(self):
        address = f"{self.server.url}/manifest.json"
        done = Program(self.exe, e2e.program.prefix).run("check", "--source", address, env=self.env)
        self.assertEqual(self.loaded(), [])
        # Refused as no release, after WinHTTP fetched it; the row goes to standard error, where
        # Wine's loader trace goes too.
        self.assertEqual((done.code, done.stdout), (3, ""))
        self.assertIn(f'[FAIL] {address} is not a release manifest (it has no "format").', done.stderr.splitlines())
        self.assertEqual(len((self.server.root / "manifest.json.log").read_text().splitlines()), 1)
        # Wine's loader says where each DLL came from: "Loaded L"C:\\windows\\system32\\winhttp.dll" ...".
        winhttp = [line.lower() for line in done.stderr.splitlines() if "Loaded" in line and "winhttp" in line.lower()]
        self.assertTrue(winhttp, done.stderr[-2000:])
        for line in winhttp:
            self.assertIn(r'l"c:\\windows\\system32\\winhttp.dll"', line)

    def test_an_ordinary_search_from_the_same_folder_takes_the_planted_dll(self):
        done = Program(self.folder / "probe.exe", e2e.program.prefix).run("default", "wtsapi32.dll", env=self.env)
        self.assertEqual((done.code, done.stdout), (0, f"{windows_path(self.folder)}\\wtsapi32.dll\n"))
        self.assertEqual(self.loaded(), ["wtsapi32.dll.loaded"])


class MissingTest(unittest.TestCase):
    def test_a_missing_function_or_dll_ends_with_a_text_naming_it(self):
        cases = [("function", "PdNoSuchFunction is missing from version.dll in the Windows system folder: "
                               "Procedure not found. (code 127)\n"),
                 ("dll", "pd-no-such-library.dll could not be loaded from the Windows system folder: "
                         "Module not found. (code 126)\n")]
        for mode, text in cases:
            with self.subTest(mode=mode):
                done = Program(PROBE, e2e.program.prefix).run(mode)
                self.assertEqual((done.code, done.stdout, done.stderr), (3, "", text))


if __name__ == "__main__":
    PROBE = e2e.take_option("--probe")
    PLANTED = e2e.take_option("--planted")
    DELAY_LOADED = e2e.take_option("--delay-loaded").split(",")
    e2e.main()
