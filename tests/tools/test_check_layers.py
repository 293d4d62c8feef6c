#!/usr/bin/env python3
"""tools/check-layers.py on small source trees: each case one file with one include."""
import importlib.util
import sys
import tempfile
import unittest
from pathlib import Path

TOOL = Path(__file__).resolve().parents[2] / "tools" / "check-layers.py"
spec = importlib.util.spec_from_file_location("check_layers", TOOL)
check_layers = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_layers)


class CheckLayers(unittest.TestCase):
    CASES = [
        # (file, included header, expected problem or None)
        ("ui/Window.cpp", "release/install/InstallRun.h", None),
        ("release/install/InstallRun.cpp", "release/base/Callbacks.h", None),
        ("release/install/InstallRun.cpp", "core/Log.h", None),
        ("release/folders/Folders.cpp", "release/install/InstallRun.h", "a layer above of release/folders"),
        ("release/base/RunLock.cpp", "release/manifest/Manifest.h", "a layer above of release/base"),
        ("bt/Bridge.cpp", "release/base/Callbacks.h", "a peer of bt"),
        ("release/unpack/Unpack.cpp", "tel/Modem.h", "a peer of release/unpack"),
        ("core/Log.cpp", "release/base/Callbacks.h", "a layer above of core"),
        ("ui/Window.cpp", "tests/support/Peer.h", "never includes test code"),
        ("release/verify/Files.cpp", "tests/release/Helpers.h", "never includes test code"),
        ("release/Loose.cpp", "core/Log.h", "in no layer"),
    ]

    def test_each_include_is_judged_by_the_order(self):
        for source, included, expected in self.CASES:
            with self.subTest(source=source, included=included), tempfile.TemporaryDirectory() as root:
                path = Path(root) / source
                path.parent.mkdir(parents=True)
                path.write_text(f'#include "{included}"\n', encoding="utf-8")
                problems = check_layers.problems_of(Path(root))
                if expected is None:
                    self.assertEqual(problems, [])
                else:
                    self.assertEqual(len(problems), 1, problems)
                    self.assertIn(expected, problems[0])

    def test_the_product_follows_the_order(self):
        self.assertEqual(check_layers.problems_of(TOOL.parents[1]), [])


if __name__ == "__main__":
    sys.exit(unittest.main())
