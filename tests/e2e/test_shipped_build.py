"""Peldra.exe as shipped has no simulator: no trace of it in the file or in its symbols beside it,
and with PELDRA_SIMULATION naming a simulated Windows 11 PC that trusts a test publisher it still
reports Wine's real Windows and refuses a release signed by that publisher. Peldra-simulated.exe,
given the same, shows that the scenario does claim all of it."""
import argparse
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
import signing  # noqa: E402
from make_release import build_release  # noqa: E402
from release_server import ReleaseServer  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import ROOT, Program  # noqa: E402

WINE_PREFIX = ROOT / "tools" / "wine-prefix.sh"

SIMULATED = None  # Peldra-simulated.exe, from --simulated

# What the simulator leaves in an exe that links it: its switch and its scenario file's name (as
# wide or narrow text), the symbols of its namespace, and names that speak of simulating.
TRACES = {
    "the variable": ["PELDRA_SIMULATION"],
    "the scenario file": ["scenario.json"],
    "simulator symbols": [b"N2Pd8Platform3Sim"],
    "simulated names": [b"Simulated"],
}


def traces_in(exe):
    """The traces in the exe and in the symbols file beside it, which holds its debug sections."""
    symbols = Path(f"{exe}.debug")
    data = Path(exe).read_bytes() + (symbols.read_bytes() if symbols.exists() else b"")

    def present(pattern):
        if isinstance(pattern, bytes):
            return pattern in data
        return pattern.encode("ascii") in data or pattern.encode("utf-16-le") in data

    return {name for name, patterns in TRACES.items() if any(map(present, patterns))}


class TraceTest(unittest.TestCase):
    def test_the_shipped_exe_has_none_of_the_simulator_and_the_simulated_one_all_of_it(self):
        self.assertEqual(traces_in(e2e.program.exe), set())
        self.assertEqual(traces_in(SIMULATED), set(TRACES))


class EnvironmentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([str(WINE_PREFIX), e2e.program.prefix, "start"], check=True)
        cls.scratch = Path(tempfile.mkdtemp(prefix="peldra-shipped-e2e-"))
        publisher = signing.make_publisher(cls.scratch / "publisher", signing.TEST_LEAF, signing.TEST_ROOT)
        cls.server = ReleaseServer(cls.scratch / "served").start()
        build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "catalog": True,
                       "components": [{"id": "kernel", "kind": "file", "target": "kernel", "content": "k\n"}]},
                      cls.server.root / "test-signed", publisher)
        cls.address = f"{cls.server.url}/test-signed/manifest.json"
        cls.pc = SimulatedPc(cls.scratch / "sim", publisher)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        subprocess.run([str(WINE_PREFIX), e2e.program.prefix, "stop"], check=False)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_each(self, *words):
        """The shipped and the simulated exe, each with the variable set."""
        return [Program(exe, e2e.program.prefix).run(*words, env=self.pc.env)
                for exe in (e2e.program.exe, SIMULATED)]

    def test_status_reports_the_real_windows(self):
        shipped, simulated = self.run_each("status")
        self.assertIn("Supported                 no (Windows 11 required)\n", shipped.stdout)
        self.assertNotIn("22631", shipped.stdout)
        self.assertIn("22631", simulated.stdout)
        self.assertIn("Supported                 yes\n", simulated.stdout)

    def test_a_release_of_the_scenarios_publisher_is_not_official_and_not_installed(self):
        shipped, simulated = self.run_each("check", "--source", self.address)
        self.assertIn("\nRelease unofficial (signature not valid for this manifest)\n", shipped.stdout)
        self.assertIn("\nRelease official (publisher signature)\n", simulated.stdout)

        target = self.scratch / "Tovik"
        done = e2e.program.run("install", "--source", self.address, "--dir", windows_path(target), "--yes",
                               env=self.pc.env)
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertTrue(done.stderr.startswith("[FAIL] "), done.stderr)
        self.assertFalse((target / "peldra.json").exists())
        self.assertEqual(self.server.requests("/test-signed/kernel.zst"), [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--simulated", required=True)
    options, sys.argv[1:] = parser.parse_known_args()
    SIMULATED = options.simulated
    e2e.main()
