"""Runs Windows programs of the build under Wine, as the end-to-end tests need them."""
import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE_RUN = ROOT / "tools" / "wine-run.sh"


@dataclass
class Completed:
    code: int
    stdout: str
    stderr: str


class Program:
    """One Windows exe in one Wine prefix."""

    def __init__(self, exe, prefix):
        self.exe = str(exe)
        self.prefix = str(prefix)

    def run(self, *args, env=None, timeout=120, stdin=None, cwd=None):
        full_env = dict(os.environ)
        full_env.update(env or {})
        done = subprocess.run(
            [str(WINE_RUN), self.prefix, self.exe, *args],
            input=stdin, capture_output=True, env=full_env, timeout=timeout, cwd=cwd)
        return Completed(done.returncode,
                         done.stdout.decode("utf-8", "replace").replace("\r\n", "\n"),
                         done.stderr.decode("utf-8", "replace").replace("\r\n", "\n"))
