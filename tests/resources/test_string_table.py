"""The string table against the code: every text id the sources use must have an English text,
and the table must be well-formed (one text per id, no empty texts, only 16-bit ids)."""
import re
import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TABLE = ROOT / "resources" / "Strings.rc"

# A call that takes a text id as its first argument, with a literal id.
ID_CALL = re.compile(r"\b(?:Text|FormatText|DefaultText|BuiltinText)\s*\(\s*(\d+)\s*[,)]")
ENTRY = re.compile(r'^\s*(\d+)\s+"((?:[^"]|"")*)"\s*$')
SOURCE_SUFFIXES = {".cpp", ".h", ".hpp", ".cc", ".inl"}
# Tests look up ids without a text on purpose; the product's sources are everything else.
SKIPPED_FOLDERS = {".git", ".deps", "tests"}


def table_entries(text):
    """Every (id, text) of the STRINGTABLE blocks, in file order."""
    entries, inside = [], False
    for line in text.splitlines():
        word = line.strip()
        if word == "BEGIN":
            inside = True
        elif word == "END":
            inside = False
        elif inside and word and not word.startswith("//"):
            match = ENTRY.match(line)
            if not match:
                raise ValueError(f"not a string-table entry: {line!r}")
            entries.append((int(match.group(1)), match.group(2)))
    return entries


def source_files(root):
    # The build folders are never entered: the tests running beside this one make and remove
    # Wine prefixes there.
    for top in root.iterdir():
        if top.name in SKIPPED_FOLDERS or top.name.startswith("build"):
            continue
        for path in top.rglob("*") if top.is_dir() else [top]:
            if path.suffix in SOURCE_SUFFIXES and path.is_file():
                yield path


def used_ids(root):
    """Every literal id passed to a text lookup, with the places that use it."""
    uses = {}
    for path in source_files(root):
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            for match in ID_CALL.finditer(line):
                uses.setdefault(int(match.group(1)), []).append(f"{path.relative_to(root)}:{number}")
    return uses


class StringTableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.entries = table_entries(TABLE.read_text(encoding="utf-8"))
        cls.ids = {entry_id for entry_id, _ in cls.entries}

    def test_every_id_the_code_uses_has_a_text(self):
        uses = used_ids(ROOT)
        self.assertTrue(uses, "no text lookups found at all: the scan is broken")
        missing = {entry_id: places for entry_id, places in uses.items() if entry_id not in self.ids}
        self.assertEqual(missing, {}, "ids used without a text in the string table")

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
    """The scan itself must find ids in the forms the code writes them."""

    def test_finds_literal_ids_in_every_lookup_form(self):
        line = ('Text(10008); Pd::Core::FormatText(14007, error); DefaultText( 10013 ); '
                'BuiltinText(12009) ErrorText(Text(18025), hr) FormatText(id, x) MyText(99999)')
        found = [int(m.group(1)) for m in ID_CALL.finditer(line)]
        self.assertEqual(found, [10008, 14007, 10013, 12009, 18025])

    def test_reads_doubled_quotes_and_escapes_as_one_entry(self):
        entries = table_entries('STRINGTABLE\nBEGIN\n    10 "say ""hi""\\n"\n    11 "x"\nEND\n')
        self.assertEqual(entries, [(10, 'say ""hi""\\n'), (11, "x")])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
