#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The product's folders are layers, lowest first (README, Layout). A file may include the headers of
its own area and of every lower layer; areas of one layer are peers and do not include each other.
A folder with an order of its own (ORDERS) is checked the same way inside: its subfolders are
layers too. Product code never includes the test support. Tests and tools are outside the layers.
Usage: tools/check-layers.py [--graph] [source root]
--graph prints how many includes run from each area to each other one instead.
"""
import collections
import re
import sys
from pathlib import Path

# Lowest first. An area is a folder; a file belongs to the longest area its path starts with.
LAYERS = [
    ["pd"],  # headers the build generates (the program's version)
    ["core"],  # shared services
    ["core/host"],  # the host controls every subsystem calls: settings, start and stop, change signal
    ["platform"],  # Windows services behind the platform seam
    ["platform/sim"],  # the simulator behind that seam
    ["guest"],  # the Android VM and the Hyper-V socket loop
    ["release", "bt", "tel"],  # release management and the two device bridges
    ["host/frames"],  # the frame header the Windows Hello and elevation bridges share
    ["host/hello"],  # Windows Hello and its bridge
    ["host/elevation", "host/notices", "host/tray"],  # root requests, update notices, the tray
    ["host/background"],  # the background host that runs them all
    ["ui"],  # the window
    ["cli"],  # process entry and command line
]

# The layers inside an area, lowest first: every file of the area is in one of these subfolders.
# From outside, the area is one layer as above.
ORDERS = {
    "release": [
        ["base"],  # what several concerns share: the callbacks, the install state, the run lock, path rules
        ["manifest"],  # the release, its signature and versions
        ["folders"],  # install folder rules and link-safe file access
        ["unpack"],  # the archive reader and the staged files
        ["verify"],  # the installed release against its manifest
        ["download"],  # transfers, the manifest's loader and Magisk
        ["windows"],  # Windows' side: package, features, Tovik itself
        ["program"],  # Peldra's own copy and installer package
        ["install"],  # the install run and its records
        ["uninstall"],  # the uninstall
    ],
}

# Top-level areas: (layer, 0); a subfolder of an ordered area: (the area's layer, its own rank).
RANK = {area: (number, 0) for number, areas in enumerate(LAYERS) for area in areas}
PARENT = {}
for parent, order in ORDERS.items():
    for rank, folders in enumerate(order, 1):
        for folder in folders:
            RANK[f"{parent}/{folder}"] = (RANK[parent][0], rank)
            PARENT[f"{parent}/{folder}"] = parent
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')


def area_of(path):
    parts = path.split("/")
    for length in range(len(parts) - 1, 0, -1):
        candidate = "/".join(parts[:length])
        if candidate in RANK:
            return None if candidate in ORDERS else candidate
    return None


def relation(own, target):
    """"down", "peer" or "up": where the target area lies from the own one."""
    if PARENT.get(own) is not None and PARENT.get(own) == PARENT.get(target):
        mine, theirs = RANK[own][1], RANK[target][1]
    else:
        mine, theirs = RANK[PARENT.get(own, own)][0], RANK[PARENT.get(target, target)][0]
    return "down" if theirs < mine else "peer" if theirs == mine else "up"


# Every source file below these belongs to a layer: a new folder has to be given its place.
PRODUCT = ["core", "release", "platform", "guest", "bt", "tel", "host", "ui", "cli"]


def sources(root):
    """Yields (path relative to the root, file) for every source file of the product."""
    for top in PRODUCT:
        for source in sorted((root / top).rglob("*")):
            if source.suffix in (".h", ".cpp") and source.is_file():
                yield source.relative_to(root).as_posix(), source


def includes(root):
    """Yields (file, its area, line number, included path) for every quoted include of the product."""
    for relative, source in sources(root):
        own = area_of(relative)
        for number, line in enumerate(source.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match:
                yield relative, own, number, match.group(1)


def print_graph(root):
    """Prints the includes between areas, counted per pair: down, peer or up."""
    counts = collections.Counter()
    for _, own, _, included in includes(root):
        target = area_of(included)
        if own is not None and target is not None and target != own:
            counts[(own, target)] += 1
    for (own, target), count in sorted(counts.items(), key=lambda item: (RANK[item[0][0]], item[0])):
        print(f"{count:5} {own} -> {target} ({relation(own, target)})")
    return 0


def problems_of(root):
    problems = [
        f"{relative}: in no layer (tools/check-layers.py lists the areas)"
        for relative, _ in sources(root)
        if area_of(relative) is None
    ]
    for relative, own, number, included in includes(root):
        if included.startswith("tests/"):
            problems.append(f"{relative}:{number}: includes {included}: product code never includes test code")
            continue
        target = area_of(included)
        if own is None or target is None or target == own:
            continue
        direction = relation(own, target)
        if direction != "down":
            where = "a peer" if direction == "peer" else "a layer above"
            problems.append(f"{relative}:{number}: includes {included}, of {target}: {where} of {own}")
    return problems


def main():
    arguments = sys.argv[1:]
    graph = "--graph" in arguments
    arguments = [argument for argument in arguments if argument != "--graph"]
    root = Path(arguments[0] if arguments else Path(__file__).resolve().parents[1])
    if graph:
        return print_graph(root)
    problems = problems_of(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} problem(s) with the layer order (tools/check-layers.py)")
        return 1
    print(f"check-layers: every include follows the layer order ({len(RANK) - len(ORDERS)} areas)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
