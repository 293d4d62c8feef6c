"""The string table against the code: every text the sources use must have an English text, the
product names its texts (core/TextId.h) instead of writing numbers, and the table must be
well-formed (one text per id, no empty texts, only 16-bit ids)."""
import importlib.util
import re
import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TABLE = ROOT / "resources" / "Strings.rc"
NAMES = ROOT / "core" / "TextId.h"

# The build's own check of the names against the table; its parsers serve the tests too.
_spec = importlib.util.spec_from_file_location("check_text_ids", ROOT / "tools" / "check-text-ids.py")
check_text_ids = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_text_ids)
table_entries = check_text_ids.table_entries

# A call that takes a text id as its first argument, with a literal id.
ID_CALL = re.compile(r"\b(?:Text|FormatText|DefaultText|BuiltinText)\s*\(\s*(\d+)\s*[,)]")
# A text by name, wherever the code passes or stores it.
NAME_USE = re.compile(r"\bTextId::(\w+)")
SOURCE_SUFFIXES = {".cpp", ".h", ".hpp", ".cc", ".inl"}
# Tests look up ids without a text on purpose; the product's sources are everything else.
SKIPPED_FOLDERS = {".git", ".deps", "tests"}


def source_files(root):
    # The build folders are never entered: the tests running beside this one make and remove
    # Wine prefixes there.
    for top in root.iterdir():
        if top.name in SKIPPED_FOLDERS or top.name.startswith("build"):
            continue
        for path in top.rglob("*") if top.is_dir() else [top]:
            if path.suffix in SOURCE_SUFFIXES and path.is_file():
                yield path


def scan(root, pattern):
    """Every match of the pattern's group in the sources, with the places that use it."""
    uses = {}
    for path in source_files(root):
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            for match in pattern.finditer(line):
                uses.setdefault(match.group(1), []).append(f"{path.relative_to(root)}:{number}")
    return uses


class StringTableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.entries = table_entries(TABLE.read_text(encoding="utf-8"))
        cls.ids = {entry_id for entry_id, _ in cls.entries}
        cls.names = dict(check_text_ids.named_ids(NAMES.read_text(encoding="utf-8")))

    def test_every_name_the_code_uses_has_a_text(self):
        uses = scan(ROOT, NAME_USE)
        self.assertGreater(len(uses), 300, "hardly any named texts found: the scan is broken")
        missing = {name: places for name, places in uses.items() if self.names.get(name) not in self.ids}
        self.assertEqual(missing, {}, "names used without a text in the string table")

    def test_the_product_names_its_texts(self):
        self.assertEqual(scan(ROOT, ID_CALL), {}, "texts looked up by number: use their TextId name")

    def test_the_names_and_the_table_agree(self):
        self.assertEqual(check_text_ids.problems(self.names.items(), self.entries), [])

    def test_each_id_has_one_non_empty_text(self):
        seen = set()
        for entry_id, text in self.entries:
            self.assertNotIn(entry_id, seen, f"id {entry_id} is defined twice")
            seen.add(entry_id)
            self.assertTrue(text, f"id {entry_id} has an empty text")

    def test_ids_fit_the_string_table(self):
        # Block numbers are id / 16 + 1 and must fit 16 bits.
        for entry_id in self.ids:
            self.assertLess(entry_id, 1_048_560)

    def test_the_table_is_utf8_with_its_code_page(self):
        raw = TABLE.read_bytes()
        raw.decode("utf-8")
        self.assertFalse(raw.startswith(b"\xef\xbb\xbf"))
        self.assertIn(b"#pragma code_page(65001)", raw)


class ScannerTest(unittest.TestCase):
    """The scans and the build's check must find what they look for in the forms the code writes."""

    def test_finds_literal_ids_in_every_lookup_form(self):
        line = ('Text(10008); Pd::Core::FormatText(14007, error); DefaultText( 10013 ); '
                'BuiltinText(12009) ErrorText(Text(18025), hr) FormatText(id, x) MyText(99999)')
        found = [int(m.group(1)) for m in ID_CALL.finditer(line)]
        self.assertEqual(found, [10008, 14007, 10013, 12009, 18025])

    def test_finds_names_wherever_they_stand(self):
        line = "Text(TextId::Canceled); .text = Pd::TextId::Exit, {L\"kernel\", TextId::LinuxKernel}; TextIds::No"
        self.assertEqual([m.group(1) for m in NAME_USE.finditer(line)], ["Canceled", "Exit", "LinuxKernel"])

    def test_reads_doubled_quotes_and_escapes_as_one_entry(self):
        entries = table_entries('STRINGTABLE\nBEGIN\n    10 "say ""hi""\\n"\n    11 "x"\nEND\n')
        self.assertEqual(entries, [(10, 'say ""hi""\\n'), (11, "x")])

    def test_the_check_reports_every_disagreement(self):
        names = check_text_ids.named_ids("enum class TextId\n{\n    A = 10,\n    B = 11,\n    C = 11,\n"
                                         "    A = 12,\n    D = 13,\n};\n")
        self.assertEqual(names, [("A", 10), ("B", 11), ("C", 11), ("A", 12), ("D", 13)])
        found = check_text_ids.problems(names, [(10, "a"), (11, "b"), (12, "c"), (14, "e")])
        self.assertEqual(found, ["11 has two names, B and C", "the name A is given twice",
                                 "D = 13 has no text in the string table", "the text 14 has no name"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
