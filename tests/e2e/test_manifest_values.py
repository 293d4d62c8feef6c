"""Peldra.exe under Wine refusing manifest values it cannot act on when the manifest is read, by
check and install alike, and asking before it installs a release older than the installed one."""
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402

INVALID = "[FAIL] The release manifest is not valid: "
NOT_BYTES = " is not a byte count (a whole number from 0 to 18446744073709551615)\n"


def setUpModule():
    global road, scratch, publisher, server
    road = e2e.ReleaseRoad("manifest")
    scratch, publisher, server = road.scratch, road.publisher, road.server


def tearDownModule():
    road.stop()


def release(name, version="2.0.0", kernel=None, **description):
    """A signed two-file release; `kernel` overrides members of the kernel's manifest entry."""
    kernel_entry = {"id": "kernel", "kind": "file", "target": "tools/kernel", "content": f"kernel {version}\n"}
    if kernel:
        kernel_entry["manifest"] = kernel
    build_release({"version": version, "catalog": True, **description, "components": [
        {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"mixed": 100000, "seed": 3}},
        kernel_entry]}, server.root / name, publisher)
    return f"{server.url}/{name}/manifest.json"


def requests(name):
    return sum(len(server.requests(f"/{name}/{path.name}")) for path in (server.root / name).glob("*.zst"))


class ManifestValuesTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher)
        self.target = windows_path(self.folder / "Tovik")

    def run_program(self, command, address, *extra):
        return e2e.program.run(command, "--source", address, "--dir", self.target, *extra, env=self.pc.env)

    def test_values_no_release_can_have_are_refused_naming_the_field_by_check_and_install(self):
        cases = [
            ("negative", {"kernel": {"packedSize": -1}}, '"packedSize" -1 of "kernel"' + NOT_BYTES),
            ("overflow", {"kernel": {"size": 18446744073709551615}},
             '"size" 18446744073709551615 of "kernel" makes the release\'s sizes add up to more than '
             "18446744073709551615 bytes\n"),
            ("build", {"minWindowsBuild": 4294967296},
             '"minWindowsBuild" 4294967296 is not a Windows build number (a whole number from 0 to 4294967295)\n'),
            ("ftp", {"kernel": {"url": "ftp://releases.example/kernel.zst"}},
             'address "ftp://releases.example/kernel.zst" of "kernel" can never be fetched: only https:// '
             "addresses are supported (http:// only for localhost)\n"),
            ("no-host", {"kernel": {"url": "https:///kernel.zst"}},
             'address "https:///kernel.zst" of "kernel" can never be fetched: only https:// '
             "addresses are supported (http:// only for localhost)\n"),
        ]
        for name, description, error in cases:
            address = release(name, **description)
            for command in ("check", "install"):
                with self.subTest(name=name, command=command):
                    done = self.run_program(command, address, "--yes", "--files-only")
                    self.assertEqual((done.code, done.stderr), (3, INVALID + error), done.stdout)
            self.assertEqual(requests(name), 0, "nothing was downloaded")

    def test_an_older_release_is_installed_only_when_the_question_naming_both_is_accepted(self):
        newer = release("newer", "2.1.0")
        older = release("older", "2.0.0")
        self.assertEqual(self.run_program("install", newer, "--yes", "--files-only").code, 0)
        question = "Release 2.0.0 is older than the installed release 2.1.0. Install the older release?\n"

        declined = self.run_program("install", older, "--files-only", "--no-progress")
        self.assertEqual((declined.code, declined.stderr), (4, "[FAIL] Canceled.\n"))
        self.assertIn(question + "  not accepted (add --yes to accept)\n", declined.stdout)
        self.assertEqual(requests("older"), 0)

        accepted = self.run_program("install", older, "--yes", "--files-only", "--no-progress")
        self.assertEqual(accepted.code, 0, accepted.stdout + accepted.stderr)
        self.assertIn(question + "  --yes: accepted\n", accepted.stdout)
        self.assertEqual((self.folder / "Tovik" / "tools" / "kernel").read_bytes(), b"kernel 2.0.0\n")


if __name__ == "__main__":
    e2e.main()
