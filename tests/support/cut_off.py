"""What the scripts that cut Peldra runs off share: two releases of which the second updates the
first, the places an installation leaves its traces in the Wine prefix, and what a run cut off
left behind."""
import hashlib
import json
from pathlib import Path

from make_release import build_release

PUBLISHER = "CN=Ormel Test"
PUBLISHER_ID = "tv9kp7a3nqe2r"
USER_FILE = "my notes.txt"


def build_releases(server, publisher, name, disk_bytes=2_000_000):
    """Releases 1.0.0 and 1.1.0 under the server's root, the second with another disk; returns
    their manifest addresses."""
    addresses = []
    for version, seed in (("1.0.0", 1), ("1.1.0", 2)):
        identity = (f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="{version}.0" '
                    'ProcessorArchitecture="x64"/></Package>\n')
        build_release({"version": version, "android": "Android 15", "variant": "Test", "catalog": True,
                       "components": [
                           {"id": "system", "kind": "disk", "target": "system.vhdx",
                            "content": {"mixed": disk_bytes, "seed": seed}},
                           {"id": "kernel", "kind": "file", "target": "tools/kernel", "content": f"kernel {version}\n"},
                           {"id": "app", "kind": "archive", "target": ".",
                            "entries": [{"name": "AppxManifest.xml", "content": identity}]}]},
                      server.root / name / version, publisher)
        addresses.append(f"{server.url}/{name}/{version}/manifest.json")
    return addresses


# Every name a release above places in its install folder, besides the state file.
RELEASE_FILES = ("system.vhdx", "tools", "AppxManifest.xml", "release.json", "release.cat", ".download")


class Traces:
    """Where an installation leaves traces in a Wine prefix."""

    def __init__(self, prefix, exe):
        self.drive_c = Path(prefix) / "drive_c"
        self.exe = Path(exe)
        self.program_copy = self.drive_c / "Program Files" / "Peldra" / "Peldra.exe"

    def shortcut(self):
        """The Start-menu shortcut of Android's settings, wherever a user's menu holds it."""
        found = sorted((self.drive_c / "users").glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/"
                                                      "Android Settings*.lnk"))
        return found[0] if found else None

    def program_copy_whole(self):
        """Whether the program's copy is the program, byte for byte."""
        if not self.program_copy.is_file():
            return False
        return _digest(self.program_copy) == _digest(self.exe)

    def left(self, folder):
        """A short account of what an installation folder and the prefix hold: the state file and
        its run marker, release files, staged and downloaded leftovers, the program copy."""
        folder = Path(folder)
        parts = []
        state = folder / "peldra.json"
        if state.exists():
            try:
                record = json.loads(state.read_text(encoding="utf-8"))
                unfinished = record.get("unfinished")
                parts.append(f"state({record.get('version')}{', ' + unfinished if unfinished else ''})")
            except ValueError:
                parts.append("state(TORN)")
        parts += [name for name in RELEASE_FILES if name != ".download" and (folder / name).exists()]
        downloads = folder / ".download"
        if downloads.exists():
            parts.append(f".download({sum(1 for _ in downloads.iterdir())})")
        staged = [path.name for path in folder.rglob("*.new")] if folder.exists() else []
        parts += staged
        if self.program_copy.exists():
            parts.append("exe" if self.program_copy_whole() else "exe(CUT)")
        if self.program_copy.parent.is_dir():
            parts += [path.name for path in self.program_copy.parent.glob("Peldra.exe.*")]
        if self.shortcut():
            parts.append("lnk")
        return " ".join(parts) or "nothing"


def _digest(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()
