#!/usr/bin/env python3
"""The demo install: a signed test release on the loopback release server, installed by
Peldra.exe under Wine on a simulated Windows 11 PC that trusts the test publisher, then looked at
with status and verify. Everything lives in a demo folder that each run starts afresh.

Usage: tools/demo.py --exe build/cli/Peldra-simulated.exe --folder build/demo"""
import argparse
import contextlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import signing  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc  # noqa: E402

WINE_PREFIX = ROOT / "tools" / "wine-prefix.sh"
WINE_RUN = ROOT / "tools" / "wine-run.sh"

# The package's publisher, and the id Windows derives from it for Tovik's package family.
PUBLISHER = "CN=Ormel Software GmbH"
PUBLISHER_ID = "tv9kp7a3nqe2r"

RELEASE = {
    "name": "Peldra", "version": "1.0.0", "android": "Android 15", "variant": "Demo", "catalog": True,
    "components": [
        {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"mixed": 48 << 20, "seed": 1},
         "frames": 4},
        {"id": "userdata", "kind": "disk", "target": "userdata.vhdx", "content": {"zeros": 16 << 20}},
        {"id": "kernel", "kind": "file", "target": "tools/kernel", "content": {"random": 4 << 20, "seed": 2}},
        {"id": "app", "kind": "archive", "target": ".", "entries": [
            {"name": "AppxManifest.xml", "content":
                f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="1.0.0.0"'
                ' ProcessorArchitecture="x64"/></Package>\n'},
            {"name": "assets/", "type": "dir"},
            {"name": "assets/logo.png", "content": {"random": 65536, "seed": 3}}]},
    ],
}


def say(text):
    print(f"\n\033[1m{text}\033[0m" if sys.stdout.isatty() else f"\n{text}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--folder", required=True)
    args = parser.parse_args()
    folder = Path(args.folder).resolve()
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    prefix = folder / "wineprefix"

    say("Preparing: a test publisher, a signed release on the loopback server, a simulated PC")
    publisher = signing.make_publisher(folder / "publisher", signing.TEST_LEAF, signing.TEST_ROOT)
    build_release(RELEASE, folder / "server" / "root" / "peldra", publisher)
    failed = []
    # Whatever fails from here on, the release server and the wineserver do not outlive the demo.
    with contextlib.ExitStack() as cleanup:
        server = [sys.executable, str(ROOT / "tests" / "support" / "release_server.py")]
        cleanup.callback(subprocess.run, [*server, "stop", "--state", str(folder / "server")], check=False)
        subprocess.run([*server, "start", "--state", str(folder / "server")], check=True)
        port = (folder / "server" / "port").read_text().strip()
        address = f"http://127.0.0.1:{port}/peldra/manifest.json"
        pc = SimulatedPc(folder / "simulation", publisher, publisherIds={PUBLISHER: PUBLISHER_ID})
        env = dict(os.environ, **pc.env)
        cleanup.callback(subprocess.run, [str(WINE_PREFIX), str(prefix), "stop"], check=False)
        subprocess.run([str(WINE_PREFIX), str(prefix), "start"], check=True)

        for words in (["version"], ["check", "--source", address], ["install", "--source", address, "--yes"],
                      ["status"], ["verify"]):
            say("$ Peldra.exe " + " ".join(words))
            code = subprocess.run([str(WINE_RUN), str(prefix), args.exe, *words], env=env).returncode
            print(f"(exit code {code})", flush=True)
            if code != 0:
                failed.append(words[0])
    if failed:
        sys.exit(f"demo: {', '.join(failed)} did not succeed")


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as error:
        # The failing step has already said why.
        sys.exit(f"demo: {' '.join(map(str, error.cmd))} ended with exit code {error.returncode}")
