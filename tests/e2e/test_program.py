"""Peldra.exe as built: what it imports, and that it starts and answers under Wine."""
import subprocess
import sys
from pathlib import Path
import unittest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402

# DLLs that every Windows 10 and 11 installation has in System32.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "d2d1.dll",
    "dwmapi.dll", "dwrite.dll", "gdi32.dll", "iphlpapi.dll", "kernel32.dll", "msi.dll",
    "msvcrt.dll", "ncrypt.dll", "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "secur32.dll",
    "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "userenv.dll", "uxtheme.dll",
    "version.dll", "winhttp.dll", "wintrust.dll", "ws2_32.dll", "wtsapi32.dll", "cfgmgr32.dll",
    "dnsapi.dll", "combase.dll", "api-ms-win-core-winrt-l1-1-0.dll",
    "api-ms-win-core-winrt-string-l1-1-0.dll", "taskschd.dll", "wbemuuid.dll", "netapi32.dll",
}


class ProgramTest(unittest.TestCase):
    def test_imports_only_windows_system_dlls(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", e2e.program.exe],
                              capture_output=True, text=True, check=True).stdout
        imported = {line.split("DLL Name:")[1].strip().lower()
                    for line in dump.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - SYSTEM_DLLS, set())

    def test_is_a_64_bit_gui_program(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", e2e.program.exe],
                              capture_output=True, text=True, check=True).stdout
        self.assertIn("file format pei-x86-64", dump)
        subsystem = next(line for line in dump.splitlines() if line.startswith("Subsystem"))
        self.assertIn("Windows GUI", subsystem)

    def test_version_prints_the_product_and_its_version(self):
        done = e2e.program.run("version")
        self.assertEqual(done.code, 0)
        self.assertEqual(done.stdout, "Peldra 0.1.2\n")


if __name__ == "__main__":
    e2e.main()
