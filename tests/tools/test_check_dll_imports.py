#!/usr/bin/env python3
"""tools/check-dll-imports.py: the built programs pass; a test exe that links bcrypt the ordinary
way is caught. Usage: test_check_dll_imports.py <static importer> <program>..."""
import importlib.util
import sys
import unittest
from pathlib import Path

spec = importlib.util.spec_from_file_location("check", Path(__file__).resolve().parents[2] / "tools/check-dll-imports.py")
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)
STATIC_IMPORTER, *PROGRAMS = sys.argv[1:]


class CheckDllImports(unittest.TestCase):
    def test_no_static_import_of_the_programs_can_come_from_their_folder(self):
        for program in PROGRAMS:
            data = Path(program).read_bytes()
            self.assertEqual(check.plantable(data), [], program)
            self.assertIn("KERNEL32.dll", check.imported_dlls(data))

    def test_an_ordinary_import_of_bcrypt_is_caught(self):
        self.assertIn("bcrypt.dll", check.plantable(Path(STATIC_IMPORTER).read_bytes()))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
