"""Runs of Peldra.exe that overlap, and what verify and status say about a run that is going on or
was cut off, under Wine on a simulated Windows 11 PC against the loopback release server. Installs
change the Wine prefix, so this script has a prefix of its own and keeps its wineserver warm."""
import json
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402

PUBLISHER = "CN=Ormel Test"
RUNNING = "A Peldra run is changing the installation right now: check again when it has finished."


def setUpModule():
    global road, scratch, publisher, server
    road = e2e.ReleaseRoad("overlap", developer_mode=True)
    scratch, publisher, server = road.scratch, road.publisher, road.server


def tearDownModule():
    road.stop()


def release(name):
    """A small signed release under the server's root; returns its manifest address."""
    identity = (f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="2.0.0.0" '
                'ProcessorArchitecture="x64"/></Package>\n')
    build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "catalog": True, "components": [
        {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"mixed": 300000, "seed": 1}},
        {"id": "app", "kind": "archive", "target": ".", "entries": [{"name": "AppxManifest.xml", "content": identity}]},
    ]}, server.root / name, publisher)
    return f"{server.url}/{name}/manifest.json"


class OverlappingRunsTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"})
        self.target = self.folder / "Tovik"

    def run_program(self, *args):
        return e2e.program.run(*args, env=self.pc.env)

    def test_an_uninstall_started_during_an_install_waits_for_it_and_then_removes_it_whole(self):
        address = release("overlap")
        # The disk's download is held until the uninstall waits, so that the install holds the
        # lock while the others start, however long they take to.
        server.set_rule("/overlap/system.zst", [{"holdAfter": 65536}, {}])
        folder = windows_path(self.target)
        install = e2e.Started(self.pc, "install", "--yes", "--no-progress", "--source", address, "--dir", folder)
        install.wait_for_line("[INFO] Downloading ")

        verify = self.run_program("verify", folder)
        self.assertEqual((verify.code, verify.stdout, verify.stderr), (3, f"Folder  {folder}\n[WARN] {RUNNING}\n", ""))
        status = self.run_program("status", "--dir", folder)
        self.assertIn(f"Installation              {RUNNING}\n", status.stdout)

        uninstall = e2e.Started(self.pc, "uninstall", "--yes", "--dir", folder)
        uninstall.wait_for_line("[INFO] Another Peldra run is changing the installation: waiting for it to finish")
        self.assertIsNone(install.process.poll(), "the uninstall waits while the install runs")
        server.let_go("/overlap/system.zst")

        self.assertEqual(install.finish(), 0, install.lines)
        self.assertEqual(install.lines[-1], f"[ OK ] Peldra 2.0.0 installed in {folder}")
        self.assertEqual(uninstall.finish(), 0, uninstall.lines + [uninstall.errors])
        self.assertEqual(uninstall.lines[-1],
                         "[ OK ] Peldra is uninstalled. Your Android apps and data are kept for the next installation.")
        # The uninstall came after the whole install: nothing of it stays, and Windows agrees.
        self.assertFalse(self.target.exists(), list(self.target.rglob("*")) if self.target.exists() else None)
        verify = self.run_program("verify")
        self.assertEqual((verify.code, verify.stdout, verify.stderr),
                         (3, "Folder  (Tovik not installed)\n", "[FAIL] Tovik is not installed\n"))

    def test_a_holder_killed_while_others_wait_hands_the_lock_to_one_of_them_only(self):
        address = release("handover")
        # Every download of the disk is held, so that the run holding the lock keeps it.
        server.set_rule("/handover/system.zst", {"holdAfter": 65536})
        folder = windows_path(self.target)
        lock_file = Path(e2e.program.prefix) / "drive_c" / "Program Files" / "Peldra.Installation.run.lock"
        first = e2e.Started(self.pc, "install", "--yes", "--no-progress", "--source", address, "--dir", folder)
        first.wait_for_line("[INFO] Downloading ")
        self.assertTrue(lock_file.exists(), "the lock is a file in Program Files while a run holds it")
        second = e2e.Started(self.pc, "install", "--yes", "--no-progress", "--source", address, "--dir", folder)
        second.wait_for_line("[INFO] Another Peldra run is changing the installation: waiting for it to finish")
        self.assertTrue(first.kill(), first.lines)

        # The waiting run takes the lock, and a later one waits for it in turn.
        second.wait_for_line("[INFO] Downloading ")
        third = e2e.Started(self.pc, "uninstall", "--yes", "--dir", folder)
        third.wait_for_line("[INFO] Another Peldra run is changing the installation: waiting for it to finish")
        verify = self.run_program("verify", folder)
        self.assertEqual((verify.code, verify.stdout), (3, f"Folder  {folder}\n[WARN] {RUNNING}\n"))
        self.assertIsNone(second.process.poll(), "the second install runs while the uninstall waits")
        server.let_go("/handover/system.zst")

        self.assertEqual(second.finish(), 0, second.lines + [second.errors])
        self.assertEqual(second.lines[-1], f"[ OK ] Peldra 2.0.0 installed in {folder}")
        self.assertEqual(third.finish(), 0, third.lines + [third.errors])
        self.assertFalse(self.target.exists())
        # The file stays, never pending deletion: left behind by the killed run too, it is no run.
        self.assertTrue(lock_file.exists())
        for command in (("verify", folder), ("status", "--dir", folder)):
            done = self.run_program(*command)
            self.assertNotIn("changing the installation", done.stdout + done.stderr, command)

    def test_status_follows_the_registered_folder_and_verify_names_a_cut_off_run(self):
        folder = windows_path(self.target)
        done = self.run_program("install", "--yes", "--no-progress", "--source", release("cut-off"), "--dir", folder)
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        status = self.run_program("status")
        self.assertIn(f"Install folder            {folder}\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)
        self.assertNotIn("Installation ", status.stdout)

        record = self.target / "peldra.json"
        state = json.loads(record.read_text(encoding="utf-8"))
        for unfinished, stdout, stderr in (
                ("update", f"Folder  {folder}\n",
                 "[FAIL] An install or update was cut off while it switched the files in: run install again "
                 "to finish it.\n"),
                ("program", f"Folder  {folder}\n[WARN] Peldra's copy in C:\\Program Files\\Peldra or its "
                 "background host was not set up completely: run install again to finish it.\n"
                 "[ OK ] official Peldra release, unchanged\n", "")):
            with self.subTest(unfinished=unfinished):
                record.write_text(json.dumps({**state, "unfinished": unfinished}), encoding="utf-8")
                verify = self.run_program("verify")
                self.assertEqual((verify.code, verify.stdout, verify.stderr), (1, stdout, stderr))


if __name__ == "__main__":
    e2e.main()
