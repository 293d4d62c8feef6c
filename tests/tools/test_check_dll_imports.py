#!/usr/bin/env python3
"""tools/check-dll-imports.py on the built programs, which must pass, and on a test exe that links
the system DLLs the ordinary way, which it must catch.
Usage: test_check_dll_imports.py --static-importer EXE PROGRAM..."""
import importlib.util
import sys
import unittest
from pathlib import Path

TOOL = Path(__file__).resolve().parents[2] / "tools" / "check-dll-imports.py"
spec = importlib.util.spec_from_file_location("check_dll_imports", TOOL)
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)

STATIC_IMPORTER = None
PROGRAMS = []


class CheckDllImports(unittest.TestCase):
    def test_no_static_import_of_the_programs_can_come_from_their_folder(self):
        for program in PROGRAMS:
            with self.subTest(program=Path(program).name):
                data = Path(program).read_bytes()
                self.assertEqual(check.plantable(data), [])
                # Still linked: the delay-loaded DLLs left the table, the loader's own stayed.
                self.assertIn("KERNEL32.dll", check.imported_dlls(data))

    def test_an_ordinary_import_of_bcrypt_is_caught(self):
        self.assertIn("bcrypt.dll", check.plantable(Path(STATIC_IMPORTER).read_bytes()))


if __name__ == "__main__":
    at = sys.argv.index("--static-importer")
    STATIC_IMPORTER = sys.argv[at + 1]
    PROGRAMS = sys.argv[at + 2:]
    unittest.main(argv=sys.argv[:at], verbosity=2)
