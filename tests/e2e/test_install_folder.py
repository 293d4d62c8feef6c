"""The install folder of Peldra.exe under Wine: nothing is written through a link planted in it,
and a folder that every user may change, or a drive root, is refused. Wine keeps no access lists
of its own (it derives them from the Unix mode), so a world-writable Unix folder stands for a
folder every user may change; the list the install gives a folder it creates is checked by the
unit tests."""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
import test_release_commands as releases  # noqa: E402
from simulated_pc import windows_path  # noqa: E402


def setUpModule():
    releases.setUpModule()


def tearDownModule():
    releases.tearDownModule()


class InstallFolderTest(releases.ReleaseCommandTest):
    def test_a_link_planted_as_tools_or_download_is_refused_and_what_it_points_to_stays_whole(self):
        address = releases.release("linked")
        outside = self.folder / "outside"
        outside.mkdir()
        (outside / "kernel").write_bytes(b"precious")
        (outside / "kernel.zst").write_bytes(b"p" * 100)  # a longer partial download gets cut
        for name in (".download", "tools"):
            with self.subTest(name):
                self.target.mkdir(exist_ok=True)
                link = self.target / name
                link.symlink_to(outside)
                try:
                    done = self.install(address, "--yes", code=1)
                finally:
                    link.unlink()
                self.assertIn(f"{windows_path(self.target)}\\{name} is a link, junction or mount point: Peldra "
                              "does not write through it.", done.stderr)
                self.assertEqual(sorted(path.name for path in outside.iterdir()), ["kernel", "kernel.zst"])
                self.assertEqual((outside / "kernel").read_bytes(), b"precious")
                self.assertEqual((outside / "kernel.zst").read_bytes(), b"p" * 100)

    def test_a_folder_everyone_may_change_and_a_drive_root_are_refused_before_any_download(self):
        address = releases.release("shared")
        self.target.mkdir()
        self.target.chmod(0o777)
        done = self.install(address, "--yes", code=1)
        self.assertIn(f"{windows_path(self.target)} can be changed by Everyone, not only by administrators",
                      done.stderr)
        done = self.run_program("install", "--source", address, "--dir", "C:\\", "--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertIn("C:\\ is the root of a drive and cannot be the install folder", done.stderr)
        self.assertEqual(releases.downloads("shared"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})


if __name__ == "__main__":
    e2e.main()
