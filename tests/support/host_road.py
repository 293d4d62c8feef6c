"""What the end-to-end tests of the background host share: a release road whose simulated PC runs
Tovik, programs run in its prefix, the installed release, and the host's log."""
import os
import subprocess
import tempfile
import time
from pathlib import Path

import e2e
from make_release import build_release
from simulated_pc import SimulatedPc, windows_path
from wine import WINE_RUN, program_errors

PUBLISHER = "CN=Ormel Test"
RUNNING_VM = {"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid",
              "systemType": "VirtualMachine", "state": "Running"}
SETTINGS_KEY = "HKCU\\Software\\Ormel\\Peldra"


class HostRoad(e2e.ReleaseRoad):
    """A release road in developer mode whose simulated PC runs Tovik's VM; `scenario` adds to the
    simulated PC (services, bluetooth, hello, ...)."""

    def __init__(self, name, **scenario):
        super().__init__(name, developer_mode=True)
        self.name = name
        self.pc = SimulatedPc(self.scratch / "sim", self.publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"},
                              computeSystems=[RUNNING_VM], **scenario)

    def run(self, *words, timeout=120):
        """A program run in the prefix: its exit code and output as text. The output goes to files,
        not pipes: a host it starts inherits them under Wine and would keep a pipe open for as long
        as it runs."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run([str(WINE_RUN), e2e.program.prefix, *map(str, words)],
                                  env={**os.environ, **self.pc.env}, stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read().decode("utf-8", "replace"),
                                               program_errors(err.read().decode("utf-8", "replace")))

    def install(self, disk_bytes=1 << 20, exe=None):
        """Builds a signed release of Tovik and installs it with `exe` (the program by default); the
        install starts the host."""
        identity = (f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="2.0.0.0" '
                    'ProcessorArchitecture="x64"/></Package>\n')
        build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "catalog": True,
                       "components": [
                           {"id": "system", "kind": "disk", "target": "system.vhdx",
                            "content": {"zeros": disk_bytes}},
                           {"id": "app", "kind": "archive", "target": ".",
                            "entries": [{"name": "AppxManifest.xml", "content": identity}]},
                       ]}, self.server.root / self.name, self.publisher)
        return self.run(exe or e2e.program.exe, "install", "--yes", "--no-progress", "--source",
                        f"{self.server.url}/{self.name}/manifest.json", "--dir",
                        windows_path(self.scratch / "Tovik"), timeout=300)

    @staticmethod
    def host_log_path():
        """The program log of the prefix's user, where the detached host writes."""
        users = Path(e2e.program.prefix) / "drive_c" / "users"
        user = next(path for path in users.iterdir() if path.name != "Public")
        return user / "AppData" / "Local" / "Peldra" / "bluetooth.log"

    def host_log(self):
        path = self.host_log_path()
        return path.read_text(encoding="utf-8", errors="replace") if path.exists() else ""

    def wait_for_log(self, text, count=1, timeout=300):
        """The host's log once it holds `text` `count` times, or when the time is up."""
        deadline = time.monotonic() + timeout
        while self.host_log().count(text) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.host_log()
