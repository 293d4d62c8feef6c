#!/usr/bin/env python3
"""What the release tests cannot see through the product: the server's path safety and request log,
the builder's tar formats and its refusal to sign without a publisher. (Ranges, rules, digests and
catalogs are proven by the release tests that depend on them.)"""
import http.client
import subprocess
import tarfile
import tempfile
import unittest
from pathlib import Path

from make_release import build_release
from release_server import ReleaseServer


def get(server, path, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    connection.request("GET", path, headers=headers or {})
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return response, body


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.server = ReleaseServer(self.folder.name).start()
        self.data = bytes(range(256)) * 40  # 10240 bytes
        (self.server.root / "t").mkdir()
        (self.server.root / "t" / "file").write_bytes(self.data)

    def tearDown(self):
        self.server.stop()
        self.folder.cleanup()

    def test_missing_files_and_paths_outside_the_root_are_refused(self):
        self.assertEqual(get(self.server, "/t/none")[0].status, 404)
        self.assertEqual(get(self.server, "/../etc/passwd")[0].status, 403)

    def test_rules_apply_per_request_and_requests_are_logged(self):
        self.server.set_rule("/t/file", [{"status": 500}, {"ignoreRange": True}, {}])
        self.assertEqual(get(self.server, "/t/file", {"User-Agent": "probe/1"})[0].status, 500)
        self.assertEqual(get(self.server, "/t/file", {"Range": "bytes=5-"})[0].status, 200)
        self.assertEqual(get(self.server, "/t/file", {"Range": "bytes=5-"})[0].status, 206)
        self.assertEqual(get(self.server, "/t/file", {"Range": "bytes=5-"})[0].status, 206)
        log = self.server.requests("/t/file")
        self.assertEqual([r["status"] for r in log], [500, 200, 206, 206])
        self.assertEqual(log[0]["userAgent"], "probe/1")
        self.assertEqual(log[1]["range"], "bytes=5-")

    def test_a_held_or_stalled_transfer_goes_on_only_once_let_go_and_then_ends_whole(self):
        # A held one trickles a byte a second; a stalled one sends nothing more.
        for name, rule, before in (("held", {"holdAfter": 100}, 102),
                                   ("stalled", {"stallAfter": 100, "stallUntilGo": True}, 100)):
            with self.subTest(rule=rule):
                path = f"/t/{name}"
                (self.server.root / "t" / name).write_bytes(self.data)
                self.server.set_rule(path, rule)
                connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=300)
                connection.request("GET", path)
                response = connection.getresponse()
                held = response.read(before)
                self.assertEqual(self.server.bytes_sent(path), 0, "the answer is still going on")
                self.server.let_go(path)
                self.assertEqual(held + response.read(), self.data)
                connection.close()


def tar_types(path):
    """The type flags of the raw header blocks of an uncompressed tar file, in order."""
    data = Path(path).read_bytes()
    flags, offset = [], 0
    while offset + 512 <= len(data) and any(data[offset:offset + 512]):
        header = data[offset:offset + 512]
        size = int(header[124:136].strip(b"\0 ") or b"0", 8)
        flags.append(chr(header[156]) if header[156] else "0")
        offset += 512 + (size + 511) // 512 * 512
    return flags


class BuilderTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.out = Path(self.folder.name)

    def tearDown(self):
        self.folder.cleanup()

    def unzstd(self, name):
        return subprocess.run(["zstd", "-d", "-q", "-c", str(self.out / name)],
                              capture_output=True, check=True).stdout

    def test_archives_use_the_requested_tar_format(self):
        long_name = "deep/" + "n" * 120
        for fmt, expected in (("gnu", ["5", "L", "0", "2"]), ("pax", ["5", "x", "0", "2"]),
                              ("ustar", ["5", "0", "2"])):
            name = long_name if fmt != "ustar" else "short"
            manifest = build_release({"components": [
                {"id": fmt, "kind": "archive", "target": ".", "format": fmt,
                 "entries": [{"name": "deep", "type": "dir"}, {"name": name, "content": "abc"},
                             {"name": "l", "type": "symlink", "link": "x"}]}]}, self.out / fmt)
            (self.out / "raw.tar").write_bytes(self.unzstd(f"{fmt}/{fmt}.zst"))
            self.assertEqual(tar_types(self.out / "raw.tar"), expected, fmt)
            self.assertEqual(manifest["components"][0]["size"], 3)
            with tarfile.open(self.out / "raw.tar") as archive:
                self.assertEqual(archive.getnames()[1], name)

    def test_signed_release_needs_a_publisher(self):
        with self.assertRaises(ValueError):
            build_release({"catalog": True, "components": []}, self.out / "r")


if __name__ == "__main__":
    unittest.main(verbosity=2)
