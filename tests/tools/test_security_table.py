#!/usr/bin/env python3
"""SECURITY.md names the test that guards each input an elevated run trusts: every name in its
tables' last column must be a test of this tree (a GoogleTest case, an end-to-end test or a CTest
test), so that a renamed or deleted test leaves no row pointing at nothing."""
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def tests_in_tree():
    names = set()
    for path in (ROOT / "tests").rglob("*"):
        if path.suffix == ".cpp":
            names |= {f"{suite}.{case}" for suite, case in
                      re.findall(r"^TEST(?:_F|_P)?\((\w+), (\w+)\)", path.read_text(errors="replace"), re.M)}
        elif path.suffix == ".py":
            names |= set(re.findall(r"^\s+def (test_\w+)", path.read_text(errors="replace"), re.M))
        elif path.name == "CMakeLists.txt":
            names |= set(re.findall(r"add_test\(NAME (\w+)", path.read_text()))
            names |= set(re.findall(r"pd_(?:e2e|python)_test\((\w+)", path.read_text()))
    return names


class SecurityTable(unittest.TestCase):
    def test_every_guarding_test_the_table_names_exists(self):
        rows = [line for line in (ROOT / "SECURITY.md").read_text().splitlines() if line.startswith("| ")]
        named = {name for row in rows for name in re.findall(r"`([\w.]+)`", row.rstrip(" |").rsplit(" | ", 1)[-1])}
        self.assertGreater(len(named), 40)
        self.assertEqual(sorted(named - tests_in_tree()), [])


if __name__ == "__main__":
    unittest.main()
