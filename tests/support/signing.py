#!/usr/bin/env python3
"""Test publishers, Authenticode signatures and catalogs for the trust tests.

Everything here is made at test time: the keys are generated into the output folder and never
committed. A publisher is a folder holding a root certificate authority and a code-signing leaf
made by openssl:

  root.key, root.pem   the root (self-signed, a CA)
  leaf.key, leaf.pem   the leaf (code-signing EKU), signed by the root
  chain.pem            leaf then root: the certificates a signature carries
  pins.json            {"publisher": leaf name, "rootPrefix": the root name's first 25
                        characters, "rootKeys": [SHA-256 of the root's DER SubjectPublicKeyInfo]}

A forged publisher copies the names of another one and embeds that one's real root, but its
leaf is signed by a key of its own: only a check of the chain's signatures tells it apart.

Files are signed with osslsigncode (PE files, MSI packages and catalogs). Catalogs are written by
this script in the layout Windows reads: PKCS#7 SignedData whose content [0] holds the
certificate trust list directly, one member per SHA-256 digest, tagged with the digest's 64
upper-case hexadecimal characters (UTF-16LE with a terminating NUL), each with the member-info
attribute and the indirect data (algorithm and digest); osslsigncode then signs it.

Command line:
  signing.py publisher <folder> --name LEAF --root ROOT [--forge-of FOLDER]
  signing.py sign <publisher folder> <input> <output>
  signing.py catalog <output.cat> [--publisher FOLDER] [--file F]... [--sha256 HEX]...
                     [--sha1 HEX]... [--no-member-info]
  signing.py fixtures <folder> [--exe sample.exe]    the whole set the test exes use
"""
import argparse
import hashlib
import json
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_CTL = "1.3.6.1.4.1.311.10.1"
OID_CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
OID_CATALOG_MEMBER_LIST = "1.3.6.1.4.1.311.12.1.2"
OID_MEMBER_INFO = "1.3.6.1.4.1.311.12.2.2"
OID_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_CAB_DATA = "1.3.6.1.4.1.311.2.1.25"
OID_SHA256 = "2.16.840.1.101.3.4.2.1"
OID_SHA1 = "1.3.14.3.2.26"
MEMBER_INFO_GUID = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}"

# The names of the test publisher and of the foreign one. The test leaf name has the length of
# the product's pinned subject, and both roots are longer than the pinned prefix.
TEST_LEAF = "Peldra Test Publisher Release Signing1"
TEST_ROOT = "Peldra Test Code Signing Root CA"
FOREIGN_LEAF = "Someone Else Software Signing"
FOREIGN_ROOT = "Someone Else Code Signing Root CA"


# --- DER -----------------------------------------------------------------------------------


def _length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, content):
    return bytes([tag]) + _length(len(content)) + content


def seq(*items):
    return tlv(0x30, b"".join(items))


def set_of(*items):
    return tlv(0x31, b"".join(sorted(items)))


def oid(text):
    parts = [int(p) for p in text.split(".")]
    body = bytes([parts[0] * 40 + parts[1]])
    for part in parts[2:]:
        chunk = [part & 0x7F]
        part >>= 7
        while part:
            chunk.append(0x80 | (part & 0x7F))
            part >>= 7
        body += bytes(reversed(chunk))
    return tlv(0x06, body)


def integer(n):
    return tlv(0x02, n.to_bytes(max(1, (n.bit_length() + 8) // 8), "big"))


def octets(data):
    return tlv(0x04, data)


def null():
    return b"\x05\x00"


def bmp(text):
    return tlv(0x1E, text.encode("utf-16-be"))


def explicit(number, content):
    return tlv(0xA0 + number, content)


# --- catalogs ------------------------------------------------------------------------------


def member(digest_hex, algorithm=OID_SHA256, member_info=True):
    """One catalog member: its tag and attributes for a digest (hex) under an algorithm."""
    tag = (digest_hex.upper() + "\0").encode("utf-16-le")
    obsolete = explicit(2, tlv(0x80, "<<<Obsolete>>>".encode("utf-16-be")))
    indirect = seq(seq(oid(OID_CAB_DATA), obsolete),
                   seq(seq(oid(algorithm), null()), octets(bytes.fromhex(digest_hex))))
    attributes = [seq(oid(OID_INDIRECT_DATA), set_of(indirect))]
    if member_info:
        attributes.append(seq(oid(OID_MEMBER_INFO), set_of(seq(bmp(MEMBER_INFO_GUID), integer(512)))))
    return seq(octets(tag), set_of(*attributes))


def trust_list(members, identifier=bytes(range(16))):
    """The certificate trust list of a catalog."""
    return seq(seq(oid(OID_CATALOG_LIST)),
               octets(identifier),
               tlv(0x17, b"240101000000Z"),
               seq(oid(OID_CATALOG_MEMBER_LIST), null()),
               seq(*members))


def unsigned_catalog(members):
    """A catalog without signer: SignedData whose content [0] holds the trust list directly."""
    signed = seq(integer(1), set_of(), seq(oid(OID_CTL), explicit(0, trust_list(members))), set_of())
    return seq(oid(OID_SIGNED_DATA), explicit(0, signed))


def write_catalog(path, digests, publisher=None, sha1=(), member_info=True):
    """Writes a catalog listing SHA-256 digests (and SHA-1 ones), signed when a publisher is given."""
    members = [member(d, OID_SHA256, member_info) for d in digests]
    members += [member(d, OID_SHA1, member_info) for d in sha1]
    path = Path(path)
    data = unsigned_catalog(members)
    if publisher is None:
        path.write_bytes(data)
        return
    with tempfile.TemporaryDirectory() as scratch:
        unsigned = Path(scratch) / "unsigned.cat"
        unsigned.write_bytes(data)
        sign(publisher, unsigned, path)


# --- publishers and signatures -------------------------------------------------------------


def _openssl(*args, cwd=None):
    subprocess.run(["openssl", *args], check=True, cwd=cwd, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def _extensions(folder, name, text):
    path = Path(folder) / name
    path.write_text(text, encoding="ascii")
    return str(path)


def root_key_pin(certificate):
    """SHA-256 of the certificate's DER SubjectPublicKeyInfo, 64 lower-case hex characters."""
    pem = subprocess.run(["openssl", "x509", "-in", str(certificate), "-pubkey", "-noout"],
                         check=True, capture_output=True).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=pem,
                         check=True, capture_output=True).stdout
    return hashlib.sha256(der).hexdigest()


def make_publisher(folder, leaf_name, root_name, forge_of=None):
    """A root and a code-signing leaf in folder. With forge_of, the leaf is signed by a key of
    its own under the names of that publisher, whose real root the chain then carries."""
    folder = Path(folder).resolve()
    folder.mkdir(parents=True, exist_ok=True)
    leaf_ext = _extensions(folder, "leaf.ext",
                           "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                           "extendedKeyUsage=codeSigning\n")
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "own-root.key", "-out", "own-root.pem",
             "-days", "3650", "-subj", f"/CN={root_name}", "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             cwd=folder)
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
             "-subj", f"/CN={leaf_name}", cwd=folder)
    _openssl("x509", "-req", "-in", "leaf.csr", "-CA", "own-root.pem", "-CAkey", "own-root.key",
             "-CAcreateserial", "-days", "3650", "-extfile", leaf_ext, "-out", "leaf.pem", cwd=folder)
    if forge_of is None:
        shutil.copy(folder / "own-root.pem", folder / "root.pem")
        shutil.copy(folder / "own-root.key", folder / "root.key")
    else:
        shutil.copy(Path(forge_of) / "root.pem", folder / "root.pem")
    chain = (folder / "leaf.pem").read_text() + (folder / "root.pem").read_text()
    (folder / "chain.pem").write_text(chain)
    for scratch in ("leaf.ext", "leaf.csr", "own-root.srl"):
        (folder / scratch).unlink(missing_ok=True)
    pins = {"publisher": leaf_name, "rootPrefix": root_name[:25],
            "rootKeys": [root_key_pin(folder / "root.pem")]}
    (folder / "pins.json").write_text(json.dumps(pins, indent=2) + "\n", encoding="utf-8")
    return folder


def sign(publisher, source, target):
    """Signs a PE file, an MSI package or a catalog with the publisher's leaf (SHA-256)."""
    publisher = Path(publisher)
    target = Path(target)
    target.unlink(missing_ok=True)
    subprocess.run(["osslsigncode", "sign", "-certs", str(publisher / "chain.pem"),
                    "-key", str(publisher / "leaf.key"), "-h", "sha256",
                    "-in", str(source), "-out", str(target)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


TEST_UPGRADE_CODE = "7D1B4C0E-2F5A-4E61-9C3B-1A2B3C4D5E6F"
PROGRAM_UPGRADE_CODE = "3C71D0A5-9B2E-4F68-A1D4-7E05C96B2F13"  # the program's own package


def make_msi(target, upgrade_code=TEST_UPGRADE_CODE, name="Peldra Test"):
    """A small MSI package built with wixl: one text file in one component."""
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        (scratch / "readme.txt").write_text("Peldra test package\n")
        (scratch / "package.wxs").write_text(f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="{name}" Language="1033" Version="0.1.2" Manufacturer="Peldra Tests"
           UpgradeCode="{upgrade_code}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine" />
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="PeldraTest">
          <Component Id="Readme" Guid="4E0C2B1A-7F3D-4B8A-9E6C-5D4F3A2B1C0D" Win64="yes">
            <File Id="Readme" Source="readme.txt" KeyPath="yes" />
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Readme" /></Feature>
    <MajorUpgrade DowngradeErrorMessage="A newer version is installed." />
  </Product>
</Wix>
""")
        subprocess.run(["wixl", "-a", "x64", "-o", str(Path(target).resolve()), str(scratch / "package.wxs")],
                       check=True, cwd=scratch, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def modify(source, target):
    """A copy of a signed file with one byte changed inside what its signature covers: near the
    start of a PE file, inside the embedded cabinet of an MSI package (whose signature covers the
    streams, not the compound file's own sectors)."""
    data = bytearray(Path(source).read_bytes())
    cabinet = data.find(b"MSCF")
    offset = cabinet + 40 if cabinet >= 0 else min(0x200, len(data) - 1)
    data[offset] ^= 0x01
    Path(target).write_bytes(bytes(data))


def edit_catalog(source, target, old_digest, new_digest):
    """A signed catalog whose listed digest was exchanged after signing (tag and indirect data)."""
    data = Path(source).read_bytes()
    data = data.replace(bytes.fromhex(old_digest), bytes.fromhex(new_digest))
    data = data.replace(old_digest.upper().encode("utf-16-le"), new_digest.upper().encode("utf-16-le"))
    Path(target).write_bytes(data)


def fixtures(folder, exe=None):
    """Everything the trust tests use, in folder:
      test/, foreign/, forged/      the three publishers
      member.json                   data listed by the catalogs below
      official.cat, foreign.cat, forged.cat, unsigned.cat, edited.cat, sha1.cat, other.cat,
      nomemberinfo.cat              catalogs (see the names in the code)
      official.exe, foreign.exe, forged.exe, unsigned.exe, modified.exe    when an exe is given
      official.msi, foreign.msi, unsigned.msi, modified.msi
      program.msi                   an unsigned package under the program's own upgrade code
    """
    folder = Path(folder).resolve()
    folder.mkdir(parents=True, exist_ok=True)
    test = make_publisher(folder / "test", TEST_LEAF, TEST_ROOT)
    foreign = make_publisher(folder / "foreign", FOREIGN_LEAF, FOREIGN_ROOT)
    forged = make_publisher(folder / "forged", TEST_LEAF, TEST_ROOT, forge_of=test)

    data = b'{"format": 1, "version": "1.0.0"}\n'
    (folder / "member.json").write_bytes(data)
    digest = hashlib.sha256(data).hexdigest()
    other = hashlib.sha256(b"something else").hexdigest()
    write_catalog(folder / "official.cat", [other, digest], test)
    write_catalog(folder / "foreign.cat", [digest], foreign)
    write_catalog(folder / "forged.cat", [digest], forged)
    write_catalog(folder / "unsigned.cat", [digest])
    write_catalog(folder / "other.cat", [other], test)
    write_catalog(folder / "sha1.cat", [], test, sha1=[hashlib.sha1(data).hexdigest()])
    write_catalog(folder / "nomemberinfo.cat", [digest], test, member_info=False)
    # Signed for "other", then edited to list the member: the signature no longer covers it.
    edit_catalog(folder / "other.cat", folder / "edited.cat", other, digest)

    unsigned_msi = folder / "unsigned.msi"
    make_msi(unsigned_msi)
    sign(test, unsigned_msi, folder / "official.msi")
    sign(foreign, unsigned_msi, folder / "foreign.msi")
    modify(folder / "official.msi", folder / "modified.msi")
    make_msi(folder / "program.msi", PROGRAM_UPGRADE_CODE, "Peldra")
    if exe:
        shutil.copy(exe, folder / "unsigned.exe")
        sign(test, exe, folder / "official.exe")
        sign(foreign, exe, folder / "foreign.exe")
        sign(forged, exe, folder / "forged.exe")
        modify(folder / "official.exe", folder / "modified.exe")


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("publisher")
    p.add_argument("folder")
    p.add_argument("--name", required=True)
    p.add_argument("--root", required=True)
    p.add_argument("--forge-of")
    s = commands.add_parser("sign")
    s.add_argument("publisher")
    s.add_argument("input")
    s.add_argument("output")
    c = commands.add_parser("catalog")
    c.add_argument("output")
    c.add_argument("--publisher")
    c.add_argument("--file", action="append", default=[])
    c.add_argument("--sha256", action="append", default=[])
    c.add_argument("--sha1", action="append", default=[])
    c.add_argument("--no-member-info", action="store_true")
    f = commands.add_parser("fixtures")
    f.add_argument("folder")
    f.add_argument("--exe")
    args = parser.parse_args()
    try:
        if args.command == "publisher":
            make_publisher(args.folder, args.name, args.root, args.forge_of)
        elif args.command == "sign":
            sign(args.publisher, args.input, args.output)
        elif args.command == "catalog":
            digests = [hashlib.sha256(Path(f).read_bytes()).hexdigest() for f in args.file]
            write_catalog(args.output, digests + [d.lower() for d in args.sha256], args.publisher,
                          [d.lower() for d in args.sha1], not args.no_member_info)
        else:
            fixtures(args.folder, args.exe)
    except subprocess.CalledProcessError as error:
        sys.exit(f"signing: {' '.join(map(str, error.cmd[:2]))} failed: "
                 f"{error.stderr.decode(errors='replace').strip() if error.stderr else error.returncode}")


if __name__ == "__main__":
    main()
