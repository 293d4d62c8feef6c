#!/usr/bin/env python3
"""Fails when a Windows exe statically imports a DLL that the folder it runs from could supply.

Windows resolves a static import before any of the exe's code runs, and for a DLL that is neither
a KnownDLL, an API set nor side-by-side redirected it looks in the exe's own folder first: a DLL
planted beside a Peldra.exe in Downloads would run in its elevated process. Such DLLs are
delay-loaded (cmake/DelayImports.cmake), which keeps them out of the import table this reads.
Usage: tools/check-dll-imports.py EXE...
"""
import struct
import sys

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs on Windows 11, plus ntdll and
# kernelbase, which the loader always takes from System32.
KNOWN = set("""advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32
wldap32 ws2_32 ntdll kernelbase""".split())
SXS_COMMON_CONTROLS = b"Microsoft.Windows.Common-Controls"


def imported_dlls(data):
    """The names in the import directory of a PE32+ image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        raise ValueError("not a PE32+ image")
    table = optional + struct.unpack_from("<H", data, pe + 20)[0]
    spans = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, start, raw_size, raw in spans:
            if start <= rva < start + max(size, raw_size):
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} is in no section")

    names = []
    rva = struct.unpack_from("<I", data, optional + 112 + 8)[0]  # data directory 1: imports
    at = offset(rva) if rva else None
    while at is not None:
        descriptor = struct.unpack_from("<5I", data, at)
        if not any(descriptor):
            break
        start = offset(descriptor[3])
        names.append(data[start:data.index(b"\0", start)].decode("ascii", "replace"))
        at += 20
    return names


def plantable(data):
    """The static imports that the exe's own folder could supply."""
    found = []
    for name in imported_dlls(data):
        stem = name.lower().removesuffix(".dll")
        if stem in KNOWN or stem.startswith(("api-ms-win-", "ext-ms-win-")):
            continue
        if stem == "comctl32" and SXS_COMMON_CONTROLS in data:
            continue
        found.append(name)
    return found


def main(paths):
    failed = False
    for path in paths:
        with open(path, "rb") as exe:
            found = plantable(exe.read())
        if found:
            failed = True
            print(f"{path}: static imports the exe's folder could supply: {' '.join(found)}")
        else:
            print(f"{path}: every static import is a KnownDLL, an API set or side-by-side")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
