"""How Peldra.exe under Wine reports failed transfers and refused archives: the address and what
happened, in words, and entry names with their control characters escaped."""
import re
import socket
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402


def setUpModule():
    global road, scratch, publisher, server
    road = e2e.ReleaseRoad("transfers")
    scratch, publisher, server = road.scratch, road.publisher, road.server


def tearDownModule():
    road.stop()


def dead_port():
    """A loopback port nothing listens on."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class TransferTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher)
        self.target = windows_path(self.folder / "Tovik")

    def run_program(self, *args):
        return e2e.program.run(*args, "--dir", self.target, env=self.pc.env)

    def test_a_dead_port_is_named_with_the_refused_connection(self):
        address = f"http://127.0.0.1:{dead_port()}/release/manifest.json"
        for command in (["check"], ["install", "--yes"]):
            with self.subTest(command=command[0]):
                done = self.run_program(*command, "--source", address)
                self.assertEqual(done.code, 3, done.stdout + done.stderr)
                self.assertRegex(done.stderr, rf"^\[FAIL\] [^\n]*{re.escape(address)}: [^\n]*refused[^\n]* "
                                              r"\(code 12029\)\n$")

    def test_refused_archive_entries_are_named(self):
        for name, entries, message in (
                ("link", [{"name": "tool", "content": "1"}, {"name": "bin/link", "type": "symlink", "link": "tool"}],
                 "The archive holds an unsupported entry: bin\\link (type 2)."),
                ("twice", [{"name": "Data", "content": "1"}, {"name": "data", "content": "2"}],
                 "The archive holds data more than once"),
                ("control", [{"name": "bad\x01\x1b[2Jname", "content": "1"}],
                 "The archive holds an unsafe path: bad\\x01\\x1b[2Jname")):
            with self.subTest(name=name):
                build_release({"version": "2.0.0", "catalog": True, "components": [
                    {"id": "extra", "kind": "archive", "target": "extra", "format": "pax", "entries": entries}]},
                    server.root / name, publisher)
                done = self.run_program("install", "--yes", "--source", f"{server.url}/{name}/manifest.json")
                self.assertEqual(done.code, 1, done.stdout + done.stderr)
                self.assertIn(message, done.stderr)
                self.assertRegex(done.stderr, r"^\[FAIL\] [^\x00-\x09\x0b-\x1f]*\n$")


if __name__ == "__main__":
    e2e.main()
