"""The uninstall of Peldra.exe under Wine removes only what the install placed: a user's file in a
release folder and the user's own files stay, a state file of an older version still uninstalls
by its names, and `uninstall --all` keeps another program's shortcut below the install folder. An
install into a folder that holds files of the user's asks first. Installs change the Wine prefix,
so this script has a prefix of its own."""
import json
import struct
import sys
import tempfile
import unittest
import uuid
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from cut_off import Traces  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402

PUBLISHER = "CN=Ormel Test"


def setUpModule():
    global road, scratch, publisher, server
    road = e2e.ReleaseRoad("exact-uninstall", developer_mode=True)
    scratch, publisher, server = road.scratch, road.publisher, road.server


def tearDownModule():
    road.stop()


def release(name):
    """A small signed release with a file in a subfolder; returns its manifest address."""
    identity = f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="2.0.0.0" ' \
               'ProcessorArchitecture="x64"/></Package>\n'
    build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "catalog": True,
                   "components": [
                       {"id": "system", "kind": "disk", "target": "system.vhdx", "content": "disk\n"},
                       {"id": "kernel", "kind": "file", "target": "tools/kernel", "content": "kernel\n"},
                       {"id": "app", "kind": "archive", "target": ".",
                        "entries": [{"name": "AppxManifest.xml", "content": identity}]}]},
                  server.root / name, publisher)
    return f"{server.url}/{name}/manifest.json"


def write_shortcut(path, target):
    """A shell link whose link info names a local target path, and nothing else."""
    local = target.encode("ascii") + b"\0"
    volume = struct.pack("<IIII", 17, 3, 0, 16) + b"\0"  # fixed drive, empty label
    local_offset = 28 + len(volume)
    suffix_offset = local_offset + len(local)
    info = struct.pack("<IIIIIII", suffix_offset + 1, 28, 1, 28, local_offset, 0, suffix_offset)
    clsid = uuid.UUID("00021401-0000-0000-C000-000000000046").bytes_le
    header = struct.pack("<I16sIIQQQIIIHHII", 76, clsid, 0x2, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(header + info + volume + local + b"\0" + b"\0" * 4)


def programs_folder():
    """The Start menu's programs folder of the prefix's user, as a Unix path."""
    users = Path(e2e.program.prefix) / "drive_c" / "users"
    user = next(path for path in users.iterdir() if path.name != "Public")
    return user / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"


class ExactUninstallTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"})
        self.target = self.folder / "Tovik"

    def run_program(self, *args, code=0):
        done = e2e.program.run(*args, env=self.pc.env)
        self.assertEqual(done.code, code, done.stdout + done.stderr)
        return done

    def install(self, address, *extra, code=0):
        return self.run_program("install", "--source", address, "--dir", windows_path(self.target), *extra,
                                code=code)

    def test_the_users_files_and_another_programs_shortcut_outlive_uninstall_all(self):
        address = release("foreign")
        (self.target / "mine").mkdir(parents=True)
        (self.target / "mine" / "notes.txt").write_text("the user's")
        declined = self.install(address, code=4)
        self.assertIn(f"{windows_path(self.target)} already holds files that Peldra did not install.",
                      declined.stdout)
        self.assertIn("  not accepted (add --yes to accept)\n", declined.stdout)
        self.assertEqual(declined.stderr, "[FAIL] Canceled.\n")
        self.assertEqual(len(server.requests("/foreign/system.zst")), 0)
        self.install(address, "--yes")

        (self.target / "tools" / "my-notes.txt").write_text("the user's")
        ours, other = programs_folder() / "PdE2e Kernel.lnk", programs_folder() / "PdE2e Other.lnk"
        write_shortcut(ours, windows_path(self.target / "tools" / "kernel"))
        write_shortcut(other, windows_path(self.target) + "\\OtherApp\\other.exe")
        self.addCleanup(other.unlink, missing_ok=True)
        self.addCleanup(ours.unlink, missing_ok=True)

        self.run_program("uninstall", "--dir", windows_path(self.target), "--all", "--yes")
        for kept in ("mine/notes.txt", "tools/my-notes.txt"):
            self.assertEqual((self.target / kept).read_text(), "the user's", kept)
        for gone in ("system.vhdx", "tools/kernel", "AppxManifest.xml", "release.json", "peldra.json"):
            self.assertFalse((self.target / gone).exists(), gone)
        self.assertFalse(ours.exists())
        self.assertTrue(other.exists())

    def test_the_users_new_files_outlive_uninstall(self):
        """Only the staged names the install recorded go, never a user's file for its suffix."""
        self.install(release("suffix"), "--yes")
        for path in (self.target / "notes.new", self.target / "tools" / "notes.new"):
            path.write_text("the user's")
        self.run_program("uninstall", "--dir", windows_path(self.target), "--yes")
        self.assertEqual(sorted(str(path.relative_to(self.target)) for path in self.target.rglob("*")),
                         ["notes.new", "tools", "tools/notes.new"])
        self.assertEqual((self.target / "tools" / "notes.new").read_text(), "the user's")

    def test_a_mistyped_folder_after_the_package_went_changes_nothing(self):
        """Without a state file only what the named folder holds is evidence of an install: the
        settings shortcut of an install elsewhere is none."""
        self.install(release("mistyped"), "--yes")
        state = self.pc.state()
        state["packages"] = []  # removed outside Peldra
        (self.pc.folder / "state.json").write_text(json.dumps(state), encoding="utf-8")
        other = self.folder / "Tovic"
        other.mkdir()
        (other / "notes.txt").write_text("the user's")
        traces = Traces(e2e.program.prefix, e2e.program.exe)
        before = traces.left(self.target)
        self.assertIn("lnk", before)
        done = self.run_program("uninstall", "--dir", windows_path(other), "--yes", code=1)
        self.assertEqual(done.stderr, f"[FAIL] Peldra is not installed in {windows_path(other)}.\n")
        self.assertEqual(traces.left(self.target), before)
        self.assertEqual(sorted(path.name for path in other.iterdir()), ["notes.txt"])

    def test_an_older_state_file_still_uninstalls_by_its_names(self):
        self.install(release("older"), "--yes")
        (self.target / "tools" / "my-notes.txt").write_text("the user's")
        state_file = self.target / "peldra.json"
        state = json.loads(state_file.read_text(encoding="utf-8"))
        del state["placed"]
        state_file.write_text(json.dumps(state), encoding="utf-8")

        self.run_program("uninstall", "--dir", windows_path(self.target), "--yes")
        self.assertFalse((self.target / "tools").exists())


if __name__ == "__main__":
    e2e.main()
