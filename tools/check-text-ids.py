#!/usr/bin/env python3
"""Fails when the named text ids (core/TextId.h) and the string table (resources/Strings.rc)
disagree: a name whose id has no text, a text without a name, an id or a name given twice.

The build runs it before anything that looks texts up is compiled, so a text renumbered or removed
in the table without its name is a build error. Usage: tools/check-text-ids.py [header table [stamp]]
"""
import re
import sys
from pathlib import Path

NAME = re.compile(r"^\s*([A-Za-z_]\w*)\s*=\s*(\d+)\s*,\s*$")
ENTRY = re.compile(r'^\s*(\d+)\s+"((?:[^"]|"")*)"\s*$')


def named_ids(text):
    """Every (name, id) of the enum, in file order."""
    return [(match.group(1), int(match.group(2))) for match in map(NAME.match, text.splitlines()) if match]


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


def problems(names, entries):
    found, name_of, seen_names = [], {}, set()
    table = {entry_id for entry_id, _ in entries}
    for name, number in names:
        if name in seen_names:
            found.append(f"the name {name} is given twice")
        seen_names.add(name)
        if number in name_of:
            found.append(f"{number} has two names, {name_of[number]} and {name}")
        name_of.setdefault(number, name)
        if number not in table:
            found.append(f"{name} = {number} has no text in the string table")
    for entry_id in sorted(table - name_of.keys()):
        found.append(f"the text {entry_id} has no name")
    return found


def main():
    root = Path(__file__).resolve().parents[1]
    header = Path(sys.argv[1]) if len(sys.argv) > 1 else root / "core" / "TextId.h"
    table = Path(sys.argv[2]) if len(sys.argv) > 2 else root / "resources" / "Strings.rc"
    names = named_ids(header.read_text(encoding="utf-8"))
    found = problems(names, table_entries(table.read_text(encoding="utf-8")))
    if not names:
        found.append(f"no names found in {header}")
    for problem in found:
        print(f"{header}: {problem}", file=sys.stderr)
    if found:
        return 1
    if len(sys.argv) > 3:
        Path(sys.argv[3]).write_text(f"{len(names)} names\n", encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
