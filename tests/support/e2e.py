"""Common start-up of the end-to-end test scripts: `--exe` and `--prefix`, then unittest; and what
the release road scripts share."""
import argparse
import itertools
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

import signing
from release_server import ReleaseServer
from simulated_pc import windows_path
from wine import ROOT, WINE_RUN, Program, program_errors, what_runs

program = None


def take_option(name):
    """The value of an option of the test script's own, taken out of the command line."""
    at = sys.argv.index(name)
    value = sys.argv[at + 1]
    del sys.argv[at:at + 2]
    return value


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


class Started:
    """A Peldra.exe (the test's, or `exe`) started in the background, its output lines gathered as
    they come."""

    def __init__(self, pc, *args, exe=None):
        env = dict(os.environ)
        env.update(pc.env)
        # wine-run.sh and Wine's loader exec one another: the child's pid is the Windows process.
        self.exe = str(exe or program.exe)
        self.process = subprocess.Popen([str(WINE_RUN), program.prefix, self.exe, *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.lines = []
        self.errors = b""
        self._error_lines = []
        self._readers = [threading.Thread(target=self._read, daemon=True),
                         threading.Thread(target=self._read_errors, daemon=True)]
        for reader in self._readers:
            reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode("utf-8", "replace").rstrip("\r\n"))

    def _read_errors(self):
        for line in self.process.stderr:
            self._error_lines.append(line)
        self.errors = program_errors(b"".join(self._error_lines))

    def account(self):
        """What the run wrote on both streams so far and, while it runs, what runs in the prefix
        and where it stands: for a wait that ran out."""
        said = f"{self.lines} {program_errors(b''.join(self._error_lines)).decode('utf-8', 'replace')!r}"
        if self.process.poll() is not None:
            return f"{said}; it ended ({self.process.returncode})"
        return f"{said}; it still runs; {what_runs(program.prefix, self.exe)}"

    def wait_for_line(self, start, timeout=300):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(line.startswith(start) for line in self.lines):
                return
            if self.process.poll() is not None and not self._readers[0].is_alive():
                break
            time.sleep(0.01)
        raise AssertionError(f"no line starting {start!r}: {self.account()}")

    def wait_for_file(self, path, timeout=300):
        """Until the file is there; fails at once when this run, which makes it, ended first."""
        deadline = time.monotonic() + timeout
        while not path.exists():
            if self.process.poll() is not None:
                code = self.finish()
                raise AssertionError(f"the run ended ({code}) before {path} appeared: {self.lines} "
                                     f"{self.errors.decode('utf-8', 'replace')}")
            if time.monotonic() > deadline:
                raise AssertionError(f"{path} did not appear: {self.account()}")
            time.sleep(0.01)

    def kill(self):
        """Ends the Windows process at once, as TerminateProcess does (under Wine that is this
        very signal); returns whether it was still running, so killed mid-work."""
        try:
            self.process.send_signal(signal.SIGKILL)
        except ProcessLookupError:
            pass
        return self.finish() == -signal.SIGKILL

    def finish(self, timeout=300):
        code = self.process.wait(timeout=timeout)
        # A process it started may hold the pipes on (Wine's explorer.exe /desktop inherits the
        # standard handles of the first program that makes a window): the output is what came.
        for reader in self._readers:
            reader.join(timeout=5)
        if not any(reader.is_alive() for reader in self._readers):
            self.process.stdout.close()
            self.process.stderr.close()
        return code


class HeldOpen:
    """A file held open by a Windows process without sharing its deletion, until let go: cmd opens
    the file as the input of ping, so the hold is in place once ping runs."""

    def __init__(self, cmd, ping):
        self.cmd, self.ping = cmd, ping

    def let_go(self):
        for pid in (self.ping, self.cmd.pid):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.cmd.wait(timeout=300)


_holds = itertools.count()


def hold_open(path):
    # The count only names this hold's ping among every other one on the machine (other tests,
    # other checkouts with the same paths): the hold ends when it is let go.
    pinging = f"ping -n {os.getpid() * 100 + next(_holds) % 100} 127.0.0.1"
    holder = subprocess.Popen([str(WINE_RUN), program.prefix, "cmd", "/c", f"{pinging} >nul <{windows_path(path)}"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ours = f"WINEPREFIX={Path(program.prefix).resolve()}".encode()
    deadline = time.monotonic() + 300
    while time.monotonic() < deadline:
        for process in Path("/proc").glob("[0-9]*"):
            try:
                if process.joinpath("cmdline").read_bytes().replace(b"\0", b" ").strip() == pinging.encode() and \
                        ours in process.joinpath("environ").read_bytes().split(b"\0"):
                    return HeldOpen(holder, int(process.name))
            except OSError:
                pass
        time.sleep(0.05)
    raise AssertionError(f"{pinging} did not start")
