#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The product's folders are layers, lowest first (README, Layout). A file may include the headers of
its own area and of every lower layer; areas of one layer are peers and do not include each other.
Tests and tools are outside the layers.
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
LAYER_OF = {area: number for number, areas in enumerate(LAYERS) for area in areas}
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')


def area_of(path):
    parts = path.split("/")
    for length in range(len(parts) - 1, 0, -1):
        candidate = "/".join(parts[:length])
        if candidate in LAYER_OF:
            return candidate
    return None


# Every source file below these belongs to a layer: a new folder has to be given its place.
PRODUCT = ["core", "release", "platform", "guest", "bt", "tel", "host", "ui", "cli"]


def sources(root):
    """Yields (path relative to the root, file) for every source file of the product."""
    for top in PRODUCT:
        for source in sorted((root / top).rglob("*")):
            if source.suffix in (".h", ".cpp") and source.is_file():
                yield source.relative_to(root).as_posix(), source


def unplaced(root):
    return [relative for relative, _ in sources(root) if area_of(relative) is None]


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
    for (own, target), count in sorted(counts.items(), key=lambda item: (LAYER_OF[item[0][0]], item[0])):
        direction = "down" if LAYER_OF[target] < LAYER_OF[own] else "PEER" if LAYER_OF[target] == LAYER_OF[own] else "UP"
        print(f"{count:5} {own} -> {target} ({direction})")
    return 0


def main():
    arguments = sys.argv[1:]
    graph = "--graph" in arguments
    arguments = [argument for argument in arguments if argument != "--graph"]
    root = Path(arguments[0] if arguments else Path(__file__).resolve().parents[1])
    if graph:
        return print_graph(root)
    problems = [f"{relative}: in no layer (tools/check-layers.py lists the areas)" for relative in unplaced(root)]
    for relative, own, number, included in includes(root):
        target = area_of(included)
        if own is None or target is None or target == own or LAYER_OF[target] < LAYER_OF[own]:
            continue
        relation = "a peer" if LAYER_OF[target] == LAYER_OF[own] else "a layer above"
        problems.append(f"{relative}:{number}: includes {included}, of {target}: {relation} of {own}")
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} problem(s) with the layer order (tools/check-layers.py)")
        return 1
    print(f"check-layers: every include follows the layer order ({len(LAYER_OF)} areas)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
