"""Runs Windows programs of the build under Wine, as the end-to-end tests need them."""
import os
import re
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE_RUN = ROOT / "tools" / "wine-run.sh"


def program_errors(text):
    """Standard error as the program wrote it. Wine writes "wine client error:<thread>: ..." there
    itself when one of its own threads loses the server while the process ends (seen once under
    heavy load, after the program's last line and with its exit code intact): never the
    program's."""
    if isinstance(text, bytes):
        return re.sub(rb"wine client error:[^\n]*\n?", b"", text)
    return re.sub(r"wine client error:[^\n]*\n?", "", text)


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
        # Output goes to files, not pipes: a background host that the program starts (an install
        # does) inherits them under Wine and would keep a pipe open for as long as it runs.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                done = subprocess.run(
                    [str(WINE_RUN), self.prefix, self.exe, *args],
                    input=stdin, stdout=out, stderr=err, env=full_env, timeout=timeout, cwd=cwd)
            except subprocess.TimeoutExpired as late:
                out.seek(0)
                raise AssertionError(f"{' '.join(args)} did not end in {timeout} s; it wrote "
                                     f"{out.read()[-2000:]!r}; in the prefix then (pid, command, standard "
                                     f"streams on pipes):\n{processes_of(self.prefix)}") from late
            out.seek(0)
            err.seek(0)
            return Completed(done.returncode,
                             out.read().decode("utf-8", "replace").replace("\r\n", "\n"),
                             program_errors(err.read().decode("utf-8", "replace").replace("\r\n", "\n")))


def processes_of(prefix):
    """What runs in a prefix, for a test that timed out to say what was still going on: each Wine
    process of it, with the pipes it holds open."""
    ours = f"WINEPREFIX={Path(prefix).resolve()}".encode()
    found = []
    for process in Path("/proc").glob("[0-9]*"):
        try:
            if ours not in process.joinpath("environ").read_bytes().split(b"\0"):
                continue
            command = process.joinpath("cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
            pipes = sorted(f"{fd.name}->{os.readlink(fd)}" for fd in process.joinpath("fd").iterdir()
                           if os.readlink(fd).startswith("pipe:") and int(fd.name) <= 2)
            found.append(f"{process.name} {command.strip()} {' '.join(pipes)}")
        except OSError:
            pass
    return "\n".join(found)
