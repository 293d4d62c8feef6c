#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The product's folders are layers, lowest first (README, Layout). A file may include the headers of
its own area and of every lower layer; areas of one layer are peers and do not include each other.
Tests and tools are outside the layers. Usage: tools/check-layers.py [source root]
"""
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
    ["core/release", "bt", "tel"],  # release management and the two device bridges
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
PRODUCT = ["core", "platform", "guest", "bt", "tel", "host", "ui", "cli"]


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[1])
    problems = []
    for top in PRODUCT:
        for source in sorted((root / top).rglob("*")):
            if source.suffix not in (".h", ".cpp") or not source.is_file():
                continue
            relative = source.relative_to(root).as_posix()
            own = area_of(relative)
            if own is None:
                problems.append(f"{relative}: in no layer (tools/check-layers.py lists the areas)")
                continue
            for number, line in enumerate(source.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = area_of(match.group(1))
                if target is None or target == own or LAYER_OF[target] < LAYER_OF[own]:
                    continue
                relation = "a peer" if LAYER_OF[target] == LAYER_OF[own] else "a layer above"
                problems.append(f"{relative}:{number}: includes {match.group(1)}, of {target}: {relation} of {own}")
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} problem(s) with the layer order (tools/check-layers.py)")
        return 1
    print(f"check-layers: every include follows the layer order ({len(LAYER_OF)} areas)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
