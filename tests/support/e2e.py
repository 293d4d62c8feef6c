"""Common start-up of the end-to-end test scripts: `--exe` and `--prefix`, then unittest; and what
the release road scripts share."""
import argparse
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import signing
from release_server import ReleaseServer
from wine import ROOT, WINE_RUN, Program

program = None


def main():
    global program
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix", required=True)
    args, rest = parser.parse_known_args()
    program = Program(args.exe, args.prefix)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


class ReleaseRoad:
    """What a release road test module shares: its prefix's warm wineserver, a scratch folder, the
    test publisher and the loopback release server. `developer_mode` turns developer mode on in
    the prefix, so that installs ask nothing about it."""

    def __init__(self, name, developer_mode=False):
        self.prefix_script = ROOT / "tools" / "wine-prefix.sh"
        subprocess.run([str(self.prefix_script), program.prefix, "start"], check=True)
        self.scratch = Path(tempfile.mkdtemp(prefix=f"peldra-{name}-e2e-"))
        self.publisher = signing.make_publisher(self.scratch / "publisher", signing.TEST_LEAF,
                                                signing.TEST_ROOT)
        self.server = ReleaseServer(self.scratch / "served").start()
        if developer_mode:
            subprocess.run([str(WINE_RUN), program.prefix, "reg", "add",
                            "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AppModelUnlock", "/v",
                            "AllowDevelopmentWithoutDevLicense", "/t", "REG_DWORD", "/d", "1", "/f"],
                           check=True, capture_output=True)

    def stop(self):
        self.server.stop()
        subprocess.run([str(self.prefix_script), program.prefix, "stop"], check=False)
        shutil.rmtree(self.scratch, ignore_errors=True)
