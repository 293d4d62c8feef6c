"""A simulated PC for Peldra.exe under Wine (see platform/sim/Scenario.h): a folder holding
scenario.json, named by PELDRA_SIMULATION as a Windows path, that trusts a test publisher made by
signing.py in place of the program's own."""
import json
from pathlib import Path

# Windows 11 as the simulator reports it; Wine itself never reports a build of 22000 or later.
WINDOWS_11 = {"build": 22631, "ubr": 4169, "productName": "Windows 10 Pro", "displayVersion": "23H2",
              "virtualMachinePlatform": True}


def windows_path(path):
    """A Unix path as Wine's drive Z: shows it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def trust_of(publisher):
    """The scenario's "trust" member for a publisher folder of signing.py."""
    return json.loads((Path(publisher) / "pins.json").read_text(encoding="utf-8"))


class SimulatedPc:
    def __init__(self, folder, publisher=None, windows=None, **members):
        self.folder = Path(folder).resolve()
        self.folder.mkdir(parents=True, exist_ok=True)
        self.scenario = {"windows": dict(windows or WINDOWS_11), **members}
        if publisher is not None:
            self.scenario["trust"] = trust_of(publisher)
        self.write()

    def write(self):
        """Writes scenario.json beside itself and moves it over the old one."""
        temporary = self.folder / "scenario.json.next"
        temporary.write_text(json.dumps(self.scenario, indent=2), encoding="utf-8")
        temporary.replace(self.folder / "scenario.json")

    @property
    def env(self):
        return {"PELDRA_SIMULATION": windows_path(self.folder)}

    def state(self):
        """What the simulator changed since (state.json), or an empty dict."""
        path = self.folder / "state.json"
        return json.loads(path.read_text(encoding="utf-8-sig")) if path.exists() else {}
