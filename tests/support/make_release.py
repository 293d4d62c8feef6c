#!/usr/bin/env python3
"""Builds a test release: the zstd-compressed components and the "manifest.json" that lists
them with their true sizes and SHA-256 values.

A description (JSON, or a dict from Python) names the release and its components:

  {"version": "1.0.0", "name": "Peldra", "android": "15", "variant": "test",
   "minWindowsBuild": 22000, "app": {...},           # copied into the manifest as given
   "manifest": "manifest.json",                        # file name of the manifest
   "components": [
     {"id": "system", "kind": "disk", "target": "system.vhdx",
      "content": {"mixed": 1048576, "seed": 1},        # see below
      "frames": 3,                                     # zstd frames, concatenated (default 1)
      "level": 3},                                     # zstd level (default 3)
     {"id": "tools", "kind": "archive", "target": "tools", "format": "pax",  # ustar, gnu, pax
      "entries": [{"name": "bin/", "type": "dir"},
                  {"name": "bin/tool", "content": "text"},
                  {"name": "bin/link", "type": "symlink", "link": "tool"},
                  {"name": "x", "content": "y", "pax": {"comment": "extra pax record"}}]}]}

Contents: a plain string (UTF-8 text), {"text": s}, {"random": n, "seed": k}, {"zeros": n} or
{"mixed": n, "seed": k} (alternating 64 KiB of random bytes and of zeros, which zstd halves).
Entry types: file (default), dir, symlink, hardlink, fifo.

Per component, for tests of damaged downloads: "file" (name of the compressed file, default
"<id>.zst"), "url" (default: that file name, relative to the manifest), "truncate": n (drop the
last n bytes of the compressed file; the manifest describes the shortened file), "optional",
"version", "tarBytes": n (an archive's tar stream is cut to its first n bytes before it is
compressed), and "manifest": {member: value} overriding members of its manifest entry (a value of
null removes the member).

Signed releases: "catalog": true writes "manifest.cat" beside the manifest, a catalog listing the
manifest's SHA-256 and signed by the publisher given with --publisher (a folder that signing.py
made; a string names another one). "installed": "<folder>" also writes the release as an install
run leaves it, for the verification tests: "release.json" (the manifest's bytes), "release.cat"
(the catalog) and the unpacked content of every disk and file component whose "installed" is not
false; archives are not unpacked.

A description may instead hold {"releases": {"<folder>": <description>, ...}}: each release is
then built into its own folder below the output folder.

Command line: make_release.py <description.json> <output folder> [--publisher <folder>]
"""
import argparse
import hashlib
import json
import random
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

import signing

BLOCK = 1 << 16
FORMATS = {"ustar": tarfile.USTAR_FORMAT, "gnu": tarfile.GNU_FORMAT, "pax": tarfile.PAX_FORMAT}
TYPES = {"file": tarfile.REGTYPE, "dir": tarfile.DIRTYPE, "symlink": tarfile.SYMTYPE,
         "hardlink": tarfile.LNKTYPE, "fifo": tarfile.FIFOTYPE}


def write_content(spec, path):
    """Writes the content a spec describes to path, in blocks; returns (size, sha256)."""
    if isinstance(spec, str):
        spec = {"text": spec}
    digest = hashlib.sha256()
    size = 0
    with open(path, "wb") as out:
        for block in _blocks(spec):
            out.write(block)
            digest.update(block)
            size += len(block)
    return size, digest.hexdigest()


def _blocks(spec):
    if "text" in spec:
        yield spec["text"].encode("utf-8")
        return
    kind = next(k for k in ("random", "zeros", "mixed") if k in spec)
    left = int(spec[kind])
    generator = random.Random(spec.get("seed", 0))
    index = 0
    while left > 0:
        n = min(BLOCK, left)
        zero = kind == "zeros" or (kind == "mixed" and index % 2 == 1)
        yield bytes(n) if zero else generator.randbytes(n)
        left -= n
        index += 1


def compress(source, target, frames=1, level=3):
    """Compresses source into target as the given number of concatenated zstd frames."""
    size = source.stat().st_size
    frames = max(1, min(frames, max(size, 1)))
    with open(source, "rb") as data, open(target, "wb") as out:
        for index in range(frames):
            length = size * (index + 1) // frames - size * index // frames
            zstd = subprocess.Popen(["zstd", "-q", f"-{level}", "-T0", "-c"],
                                    stdin=subprocess.PIPE, stdout=out)
            while length > 0:
                chunk = data.read(min(1 << 20, length))
                zstd.stdin.write(chunk)
                length -= len(chunk)
            zstd.stdin.close()
            if zstd.wait() != 0:
                raise RuntimeError("zstd failed")


def write_archive(component, path, scratch):
    """Writes the tar archive of an archive component; returns the sum of its file sizes."""
    total = 0
    fmt = FORMATS[component.get("format", "pax")]
    with tarfile.open(path, "w", format=fmt, encoding="utf-8") as archive:
        for number, entry in enumerate(component.get("entries", [])):
            info = tarfile.TarInfo(entry["name"])
            info.type = TYPES[entry.get("type", "file")]
            info.mode = 0o755 if info.type == tarfile.DIRTYPE else 0o644
            info.mtime = 1_700_000_000
            if "pax" in entry:
                info.pax_headers = dict(entry["pax"])
            if info.type in (tarfile.SYMTYPE, tarfile.LNKTYPE):
                info.linkname = entry.get("link", "target")
            if info.type != tarfile.REGTYPE:
                archive.addfile(info)
                continue
            data = scratch / f"entry-{number}"
            info.size, _ = write_content(entry.get("content", ""), data)
            total += info.size
            with open(data, "rb") as stream:
                archive.addfile(info, stream)
            data.unlink()
    return total


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        while chunk := data.read(1 << 20):
            digest.update(chunk)
    return digest.hexdigest()


def build_component(component, out, scratch):
    kind = component["kind"]
    packed_name = component.get("file", component["id"] + ".zst")
    raw = scratch / (component["id"] + ".raw")
    entry = {"id": component["id"], "kind": kind, "target": component["target"],
             "url": component.get("url", packed_name)}
    if kind == "archive":
        entry["size"] = write_archive(component, raw, scratch)
        if "tarBytes" in component:
            with open(raw, "r+b") as data:
                data.truncate(int(component["tarBytes"]))
    else:
        entry["size"], entry["sha256"] = write_content(component.get("content", ""), raw)
    packed = out / packed_name
    packed.parent.mkdir(parents=True, exist_ok=True)
    compress(raw, packed, component.get("frames", 1), component.get("level", 3))
    raw.unlink()
    if component.get("truncate"):
        with open(packed, "r+b") as data:
            data.truncate(max(0, packed.stat().st_size - int(component["truncate"])))
    entry["packedSize"] = packed.stat().st_size
    entry["packedSha256"] = file_digest(packed)
    for name in ("version", "optional"):
        if name in component:
            entry[name] = component[name]
    for name, value in component.get("manifest", {}).items():
        if value is None:
            entry.pop(name, None)
        else:
            entry[name] = value
    return entry


def write_installed(description, manifest_bytes, catalog, folder):
    """The release as an install run leaves it: its proof and its unpacked single files."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "release.json").write_bytes(manifest_bytes)
    if catalog is not None:
        (folder / "release.cat").write_bytes(catalog.read_bytes())
    for component in description.get("components", []):
        if component["kind"] == "archive" or component.get("installed") is False:
            continue
        target = folder / component["target"]
        target.parent.mkdir(parents=True, exist_ok=True)
        write_content(component.get("content", ""), target)


def build_release(description, out, publisher=None):
    """Writes the components and the manifest into out; returns the manifest as a dict."""
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    manifest = {"format": 1, "name": description.get("name", "Peldra"),
                "version": description.get("version", "1.0.0")}
    for name in ("android", "variant", "minWindowsBuild"):
        if name in description:
            manifest[name] = description[name]
    with tempfile.TemporaryDirectory(dir=out) as scratch:
        manifest["components"] = [build_component(c, out, Path(scratch))
                                  for c in description.get("components", [])]
    if "app" in description:
        manifest["app"] = description["app"]
    text = json.dumps(manifest, indent=2) + "\n"
    manifest_bytes = text.encode("utf-8")
    (out / description.get("manifest", "manifest.json")).write_bytes(manifest_bytes)
    catalog = None
    if description.get("catalog"):
        owner = description["catalog"] if isinstance(description["catalog"], str) else publisher
        if owner is None:
            raise ValueError("a signed release needs a publisher (--publisher)")
        catalog = out / "manifest.cat"
        signing.write_catalog(catalog, [hashlib.sha256(manifest_bytes).hexdigest()], owner)
    if "installed" in description:
        write_installed(description, manifest_bytes, catalog, out / description["installed"])
    return manifest


def build_releases(description, out, publisher=None):
    """Builds one release, or each of {"releases": {folder: description}} into its folder."""
    if "releases" not in description:
        return {".": build_release(description, out, publisher)}
    return {folder: build_release(release, Path(out) / folder, publisher)
            for folder, release in description["releases"].items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("description")
    parser.add_argument("out")
    parser.add_argument("--publisher", help="the folder of the publisher that signs catalogs")
    args = parser.parse_args()
    description = json.loads(Path(args.description).read_text(encoding="utf-8"))
    for folder, manifest in build_releases(description, args.out, args.publisher).items():
        print(f"make_release: {len(manifest['components'])} components in {Path(args.out) / folder}")


if __name__ == "__main__":
    main()
