"""Peldra.exe under Wine against a release host that misbehaves as real ones do: no headers, a file
replaced or shortened between a cut and the resume, also across two runs, a component that is not
there, a compressed manifest, a redirect loop, and a document that is no release manifest."""
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402

CUT = 50000  # bytes of the first answer before the connection breaks
RESTARTED = "starting again from the beginning."


def setUpModule():
    global road, scratch, publisher, server
    road = e2e.ReleaseRoad("hosting", developer_mode=True)
    scratch, publisher, server = road.scratch, road.publisher, road.server


def tearDownModule():
    road.stop()


def release(name):
    """A signed release of one disk; returns the manifest address and the served component file."""
    build_release({"version": "2.0.0", "catalog": True, "components": [
        {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"random": 600000, "seed": 7}}]},
        server.root / name, publisher)
    return f"{server.url}/{name}/manifest.json", server.root / name / "system.zst"


class HostingTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=scratch))
        self.pc = SimulatedPc(self.folder / "sim", publisher)
        self.target = windows_path(self.folder / "Tovik")

    def run_program(self, command, address):
        extra = ["--yes", "--files-only", "--no-progress"] if command == "install" else []
        return e2e.program.run(command, "--source", address, "--dir", self.target, *extra, env=self.pc.env)

    def installed(self, address):
        done = self.run_program("install", address)
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        return done.stdout

    def test_headers_that_never_come_end_the_wait_at_the_deadline_and_the_manifest_is_asked_again(self):
        address, _ = release("stall")
        server.set_rule("/stall/manifest.json", [{"stallHeaders": 40000}, {}])
        done = self.run_program("check", address)
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertIn("Attempt 1 of 5 failed: The server did not answer in time: no answer from "
                      f"{address} within 20 seconds. - trying again.", done.stdout)
        self.assertEqual(len(server.requests("/stall/manifest.json")), 2)

    def test_file_replaced_between_the_cut_and_the_resume_is_fetched_whole_once(self):
        address, packed = release("replaced")
        old = bytearray(packed.read_bytes())
        old[100] ^= 0xFF
        (packed.parent / "system.old").write_bytes(old)
        server.set_rule("/replaced/system.zst", [
            {"from": "system.old", "stallAfter": CUT, "stallMs": 300, "resetAfter": CUT}, {}])
        output = self.installed(address)
        self.assertIn(f"the server sent the whole file instead of the part from byte {CUT}", output)
        requests = server.requests("/replaced/system.zst")
        self.assertEqual([(r["range"], r["ifRange"] is not None, r["status"]) for r in requests],
                         [(None, False, 200), (f"bytes={CUT}-", True, 200)])
        self.assertLessEqual(server.bytes_sent("/replaced/system.zst"), 1.1 * packed.stat().st_size)

    def test_file_published_anew_between_two_runs_is_fetched_whole_once(self):
        address, packed = release("republished")
        old = bytearray(packed.read_bytes())
        old[100] ^= 0xFF
        (packed.parent / "system.old").write_bytes(old)
        served = "/republished/system.zst"
        server.set_rule(served, [{"from": "system.old", "stallAfter": CUT, "stallUntilGo": True, "resetAfter": CUT},
                                 {}])
        first = e2e.Started(self.pc, "install", "--source", address, "--dir", self.target, "--yes", "--files-only",
                            "--no-progress")
        partial = self.folder / "Tovik" / ".download" / "system.zst"
        deadline = time.monotonic() + 300
        while not (partial.exists() and partial.stat().st_size >= CUT):
            self.assertLess(time.monotonic(), deadline, "the first run's part never came")
            time.sleep(0.02)
        self.assertTrue(first.kill(), "the first run ended before it was cut off")
        server.let_go(served)
        output = self.installed(address)
        self.assertIn(f"the server sent the whole file instead of the part from byte {CUT}", output)
        requests = server.requests(served)
        self.assertEqual([(r["range"], r["ifRange"] is not None, r["status"]) for r in requests],
                         [(None, False, 200), (f"bytes={CUT}-", True, 200)])
        # The first answer's count comes when its stall ends, once let go.
        sent = server.root / "republished" / "system.zst.sent"
        while len(sent.read_text().split()) < len(requests):
            self.assertLess(time.monotonic(), deadline + 30)
            time.sleep(0.1)
        self.assertLessEqual(server.bytes_sent(served), 1.1 * packed.stat().st_size)

    def test_component_that_is_not_there_fails_at_once_naming_address_and_answer(self):
        address, _ = release("missing")
        server.set_rule("/missing/system.zst", {"status": 404})
        done = self.run_program("install", address)
        self.assertNotEqual(done.code, 0, done.stdout + done.stderr)
        self.assertIn(f"The server answered HTTP 404 for {server.url}/missing/system.zst.", done.stderr)
        self.assertNotIn("trying again", done.stdout)
        self.assertEqual(len(server.requests("/missing/system.zst")), 1)

    def test_server_file_shorter_than_the_part_already_here_is_dropped_and_fetched_again(self):
        address, packed = release("shorter")
        (packed.parent / "system.short").write_bytes(packed.read_bytes()[:CUT // 2])
        server.set_rule("/shorter/system.zst", [
            {"validators": False, "stallAfter": CUT, "stallMs": 300, "resetAfter": CUT},
            {"from": "system.short"}, {}])
        output = self.installed(address)
        self.assertIn("the server's file is now shorter than the 48.8 KB already downloaded; the partial "
                      f"download was dropped, {RESTARTED}", output)
        self.assertEqual([r["status"] for r in server.requests("/shorter/system.zst")], [200, 416, 200])

    def test_answers_that_hold_no_release_manifest_say_what_they_are(self):
        for name, rule, body, message in (
                ("gzip", {"gzip": True}, None,
                 "The server sent {} compressed (Content-Encoding: gzip). Peldra takes it only as it is stored"),
                ("loop", {"redirect": "manifest.json"}, None, "Too many redirects (more than 10) from {}."),
                ("empty", None, b"{}", '{} is not a release manifest (it has no "format").')):
            with self.subTest(name=name):
                address, _ = release(name)
                if rule:
                    server.set_rule(f"/{name}/manifest.json", rule)
                if body:
                    (server.root / name / "manifest.json").write_bytes(body)
                done = self.run_program("check", address)
                self.assertEqual(done.code, 3, done.stdout + done.stderr)
                self.assertIn(message.format(address), done.stderr)
                self.assertEqual(len(server.requests(f"/{name}/manifest.json")), 11 if name == "loop" else 1)
                shutil.rmtree(server.root / name)


if __name__ == "__main__":
    e2e.main()
