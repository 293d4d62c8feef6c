#!/usr/bin/env python3
"""The loopback release server and the test-release builder, which every release test relies on."""
import hashlib
import http.client
import json
import subprocess
import tarfile
import tempfile
import unittest
from pathlib import Path

import signing
from make_release import build_release, build_releases
from release_server import ReleaseServer


def get(server, path, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    connection.request("GET", path, headers=headers or {})
    response = connection.getresponse()
    try:
        body = response.read()
    except (http.client.IncompleteRead, ConnectionError) as error:
        body = getattr(error, "partial", b"")
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

    def test_serves_whole_files_and_ranges(self):
        response, body = get(self.server, "/t/file")
        self.assertEqual((response.status, body), (200, self.data))
        response, body = get(self.server, "/t/file", {"Range": "bytes=10000-"})
        self.assertEqual((response.status, body), (206, self.data[10000:]))
        self.assertEqual(response.getheader("Content-Range"), "bytes 10000-10239/10240")

    def test_a_range_at_or_past_the_end_is_416(self):
        response, _ = get(self.server, "/t/file", {"Range": "bytes=10240-"})
        self.assertEqual(response.status, 416)
        self.assertEqual(response.getheader("Content-Range"), "bytes */10240")

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

    def test_reset_sends_only_the_first_bytes(self):
        self.server.set_rule("/t/file", {"resetAfter": 1000})
        _, body = get(self.server, "/t/file")
        self.assertEqual(body, self.data[:1000])

    def test_append_overrun_and_corrupt_change_the_body(self):
        self.server.set_rule("/t/file", {"append": 7})
        response, body = get(self.server, "/t/file")
        self.assertEqual((response.getheader("Content-Length"), body), ("10247", self.data + b"\xee" * 7))
        self.server.set_rule("/t/file", {"corruptAt": 3})
        _, body = get(self.server, "/t/file")
        self.assertEqual(body[:5], bytes([0, 1, 2, 3 ^ 0xFF, 4]))
        self.assertEqual(body[5:], self.data[5:])

    def test_redirect_and_stall(self):
        self.server.set_rule("/t/file", {"redirect": "/t/other", "redirectStatus": 307})
        response, _ = get(self.server, "/t/file")
        self.assertEqual((response.status, response.getheader("Location")), (307, "/t/other"))
        self.server.set_rule("/t/file", {"stallAfter": 100, "stallMs": 50})
        self.assertEqual(get(self.server, "/t/file")[1], self.data)


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

    def test_files_are_listed_with_true_sizes_and_digests(self):
        manifest = build_release({"version": "2.0", "components": [
            {"id": "disk", "kind": "disk", "target": "d.vhdx", "content": {"mixed": 300000, "seed": 2},
             "frames": 3}]}, self.out)
        entry = manifest["components"][0]
        packed = (self.out / "disk.zst").read_bytes()
        content = self.unzstd("disk.zst")
        self.assertEqual(entry["packedSize"], len(packed))
        self.assertEqual(entry["packedSha256"], hashlib.sha256(packed).hexdigest())
        self.assertEqual((entry["size"], entry["sha256"]), (300000, hashlib.sha256(content).hexdigest()))
        self.assertEqual(packed.count(b"\x28\xb5\x2f\xfd"), 3)  # three frame magics
        on_disk = json.loads((self.out / "manifest.json").read_text())
        self.assertEqual(on_disk, manifest)

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

    def test_truncation_and_overrides_reach_the_manifest(self):
        manifests = build_releases({"releases": {"a": {"components": [
            {"id": "f", "kind": "file", "target": "f", "content": {"random": 5000}, "truncate": 10,
             "manifest": {"sha256": None, "size": 1}}]}}}, self.out)
        entry = manifests["a"]["components"][0]
        self.assertEqual(entry["packedSize"], (self.out / "a" / "f.zst").stat().st_size)
        self.assertNotIn("sha256", entry)
        self.assertEqual(entry["size"], 1)
        self.assertNotEqual(subprocess.run(["zstd", "-d", "-q", "-c", str(self.out / "a" / "f.zst")],
                                           capture_output=True).returncode, 0)

    def test_signed_release_has_a_catalog_of_its_manifest_and_an_installed_copy(self):
        publisher = signing.make_publisher(self.out / "publisher", signing.TEST_LEAF, signing.TEST_ROOT)
        build_release({"version": "3.0", "catalog": True, "installed": "installed", "components": [
            {"id": "disk", "kind": "disk", "target": "d.vhdx", "content": "disk\n"},
            {"id": "opt", "kind": "file", "target": "sub/o", "content": "o", "installed": False},
            {"id": "arc", "kind": "archive", "target": "a", "entries": [{"name": "x", "content": "y"}]}]},
            self.out / "r", publisher)
        manifest = (self.out / "r" / "manifest.json").read_bytes()
        catalog = (self.out / "r" / "manifest.cat").read_bytes()
        tag = hashlib.sha256(manifest).hexdigest().upper().encode("utf-16-le")
        self.assertIn(tag, catalog)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(publisher / "root.pem"),
                                   "-in", str(self.out / "r" / "manifest.cat")], capture_output=True)
        self.assertEqual(verified.returncode, 0, verified.stdout.decode(errors="replace"))
        installed = self.out / "r" / "installed"
        self.assertEqual((installed / "release.json").read_bytes(), manifest)
        self.assertEqual((installed / "release.cat").read_bytes(), catalog)
        self.assertEqual((installed / "d.vhdx").read_bytes(), b"disk\n")
        self.assertFalse((installed / "sub").exists())
        self.assertFalse((installed / "a").exists())

    def test_signed_release_needs_a_publisher(self):
        with self.assertRaises(ValueError):
            build_release({"catalog": True, "components": []}, self.out / "r")


if __name__ == "__main__":
    unittest.main(verbosity=2)
