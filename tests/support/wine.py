"""Runs Windows programs of the build under Wine, as the end-to-end tests need them."""
import os
import re
import shutil
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
                                     f"{out.read()[-2000:]!r}; {what_runs(self.prefix, self.exe)}") from late
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


def backtraces(prefix, exe):
    """Where each thread of the prefix's own programs (not Wine's) stands, as winedbg shows it, with
    the frames of Peldra named from `exe` by addr2line where that is installed: for a test that
    waited in vain to say what the program waited for. Empty when winedbg could not tell."""
    env_script = ROOT / "tools" / "wine-env.sh"
    # The project's environment turns the debugger off; this one run of it is asked for.
    script = '. "$0" "$1"; export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"; ' \
             'exec "${PD_WINE[@]}" winedbg --command "bt all"'
    try:
        shown = subprocess.run(["bash", "-c", script, str(env_script), str(prefix)], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, errors="replace", timeout=180).stdout
    except subprocess.TimeoutExpired:
        return "winedbg did not end in 180 s"
    kept, ours = [], False
    for line in shown.splitlines():
        if line.startswith("Backtracing for thread"):
            ours = "C:\\windows\\" not in line
        if ours:
            kept.append(line)
    return "\n".join(line[:300] for line in _named_frames(kept, exe))


def _named_frames(lines, exe):
    """The lines, each frame that winedbg shows only as "in peldra... (+0x...)" named by addr2line
    (from its return address: the call is the byte before it)."""
    frame = re.compile(r"^\s*\d+ 0x([0-9a-f]+) in peldra[^ ]* \(\+0x")
    addresses = [hex(int(match[1], 16) - 1) for line in lines if (match := frame.match(line))]
    addr2line = shutil.which("x86_64-w64-mingw32-addr2line")
    if not addr2line or not addresses:
        return lines
    try:
        names = iter(subprocess.run([addr2line, "-f", "-C", "-p", "-e", str(exe), *addresses], capture_output=True,
                                    text=True, errors="replace", timeout=60).stdout.splitlines())
    except subprocess.TimeoutExpired:
        return lines
    return [f"{line}  = {next(names, '?')}" if frame.match(line) else line for line in lines]


def what_runs(prefix, exe):
    """What runs in the prefix and where its programs stand, for a test whose wait ran out."""
    return (f"in the prefix then (pid, command, standard streams on pipes):\n{processes_of(prefix)}\n"
            f"and its programs' threads:\n{backtraces(prefix, exe)}")
