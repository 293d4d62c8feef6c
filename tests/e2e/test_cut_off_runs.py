"""Runs of Peldra.exe cut off under Wine on a simulated Windows 11 PC: ended at once (as
TerminateProcess ends a process) during a download, while an update registers and during an
uninstall, and stopped with Ctrl+C in a terminal. The run after each must finish what was cut
off, verify and status must tell the truth meanwhile, and the user's own file in the install
folder stays. Installs change the Wine prefix, so this script has a prefix of its own."""
import json
import os
import re
import shlex
import signal
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from cut_off import PUBLISHER, PUBLISHER_ID, USER_FILE, Traces, build_releases  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import WINE_RUN, what_runs  # noqa: E402

UNCHANGED = "[ OK ] official Peldra release, unchanged"
UNINSTALLED = "[ OK ] Peldra is uninstalled. Your Android apps and data are kept for the next installation."
PACKAGE_REMOVED = "[ OK ] Tovik package removed."


def setUpModule():
    global road, traces, first, second
    road = e2e.ReleaseRoad("cut-off", developer_mode=True)
    traces = Traces(e2e.program.prefix, e2e.program.exe)
    first, second = build_releases(road.server, road.publisher, "cut")


def tearDownModule():
    road.stop()


class Terminal:
    """One command in a terminal of its own (a tmux session on a socket of its own), read from
    the screen; Ctrl+C goes to it as a user's key press."""

    def __init__(self, command):
        self.socket = f"peldra-e2e-{os.getpid()}-{time.monotonic_ns()}"
        shell = f"{command}; echo \"exit=$?\"; sleep 600"
        # A session of its own even when the tests themselves run inside tmux.
        outside = {name: value for name, value in os.environ.items() if name != "TMUX"}
        subprocess.run(["tmux", "-L", self.socket, "new-session", "-d", "-s", "run", "-x", "250", "-y", "80",
                        shell], check=True, env=outside)

    def screen(self):
        shown = subprocess.run(["tmux", "-L", self.socket, "capture-pane", "-p", "-J", "-S", "-", "-t", "run"],
                               capture_output=True, text=True, check=True).stdout
        return [line.rstrip() for line in shown.splitlines()]

    def wait_for(self, pattern, timeout=300):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in self.screen():
                if match := re.search(pattern, line):
                    return match
            time.sleep(0.02)
        raise AssertionError(f"no line matching {pattern!r} in {self.screen()}; "
                             f"{what_runs(e2e.program.prefix, e2e.program.exe)}")

    def press_ctrl_c(self):
        subprocess.run(["tmux", "-L", self.socket, "send-keys", "-t", "run", "C-c"], check=True)

    def cut_off(self, last_line):
        """Whether the command ended before its last line. (Wine's own Ctrl+C handler ends a
        process with exit code 0, where Windows gives STATUS_CONTROL_C_EXIT.)"""
        stuck_since = {}
        deadline = time.monotonic() + 300
        while not any(re.search(r"exit=\d+$", line) for line in self.screen()):
            if time.monotonic() > deadline:
                self.wait_for(r"exit=\d+$", timeout=0)  # fails saying what runs
            self.end_exits_wine_left_stuck(stuck_since)
            time.sleep(0.5)  # each look reads every process's status
        return not any(line.startswith(last_line) for line in self.screen())

    def end_exits_wine_left_stuck(self, stuck_since):
        """Now and then Wine never finishes a process's exit after Ctrl+C: the program's threads
        have ended (the main thread is a zombie), and Wine's last thread waits for ever inside its
        own signal handler. Nothing of the program runs any more, so such a process of this
        terminal is ended once it has been seen so for 30 s."""
        pane = subprocess.run(["tmux", "-L", self.socket, "display-message", "-p", "-t", "run", "#{pane_pid}"],
                              capture_output=True, text=True).stdout.strip()
        parents = {}
        for stat in Path("/proc").glob("[0-9]*/stat"):
            try:
                parents.setdefault(stat.read_text().rsplit(")", 1)[1].split()[1], []).append(stat.parent.name)
            except (OSError, IndexError):
                pass
        below, now = list(parents.get(pane, [])), time.monotonic()
        while below:
            pid = below.pop()
            below += parents.get(pid, [])
            try:
                main = Path(f"/proc/{pid}/task/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
                threads = len(list(Path(f"/proc/{pid}/task").iterdir()))
            except OSError:
                continue
            if main != "Z" or threads < 2:
                stuck_since.pop(pid, None)
            elif now - stuck_since.setdefault(pid, now) > 30:
                os.kill(int(pid), signal.SIGKILL)

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], check=False, capture_output=True)


class CutOffRunsTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(dir=road.scratch))
        self.pc = SimulatedPc(self.folder / "sim", road.publisher, publisherIds={PUBLISHER: PUBLISHER_ID})
        self.target = self.folder / "Tovik"
        self.dir = windows_path(self.target)
        self.target.mkdir()
        (self.target / USER_FILE).write_text("the user's")
        self.addCleanup(self.forget_prefix_traces)

    def forget_prefix_traces(self):
        """The program copy and the shortcut live in the prefix: the next test starts without them."""
        shutil.rmtree(traces.program_copy.parent, ignore_errors=True)
        if shortcut := traces.shortcut():
            shortcut.unlink()

    def run_program(self, *args):
        return e2e.program.run(*args, env=self.pc.env)

    def install(self, address):
        done = self.run_program("install", "--yes", "--no-progress", "--source", address, "--dir", self.dir)
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        return done

    def start(self, *args):
        return e2e.Started(self.pc, *args)

    def kill_at(self, run, line):
        run.wait_for_line(line)
        self.assertTrue(run.kill(), f"{run.lines} ended before it was killed")

    def wait_until_removing(self, lines, started=None, timeout=300):
        """Until an uninstall has removed the package and marked the state file before it deletes
        the files (where a held file keeps it waiting); `lines` gives its output so far, and
        `started` (an e2e.Started) lets an uninstall that ended instead fail the wait at once."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if started and started.process.poll() is not None:
                code = started.finish()
                raise AssertionError(f"the uninstall ended ({code}) before removing files: {started.lines} "
                                     f"{started.errors.decode('utf-8', 'replace')}")
            shown = lines() if callable(lines) else lines
            try:
                removing = json.loads((self.target / "peldra.json").read_text(encoding="utf-8")).get("unfinished")
            except (OSError, ValueError):
                removing = None
            if any(PACKAGE_REMOVED in line for line in shown) and removing == "uninstall":
                return
            time.sleep(0.02)
        said = started.account() if started else lines() if callable(lines) else lines
        raise AssertionError(f"the uninstall did not start removing files: {said}")

    def assert_installed(self, version):
        """verify finds the release whole and nothing unfinished, the program copy is whole, and the
        user's file is as it was."""
        verify = self.run_program("verify", self.dir)
        self.assertEqual((verify.code, verify.stdout, verify.stderr), (0, f"Folder  {self.dir}\n{UNCHANGED}\n", ""))
        status = self.run_program("status", "--dir", self.dir)
        self.assertIn(f"Installed release         {version}\n", status.stdout)
        self.assertNotIn("Installation ", status.stdout)
        self.assertTrue(traces.program_copy_whole())
        self.assertEqual(list(traces.program_copy.parent.glob("Peldra.exe.*")), [])
        self.assertEqual((self.target / USER_FILE).read_text(), "the user's")

    def assert_removed(self):
        """Nothing of the installation stays but the user's file, and Windows agrees."""
        self.assertEqual(sorted(path.name for path in self.target.iterdir()), [USER_FILE])
        self.assertEqual((self.target / USER_FILE).read_text(), "the user's")
        self.assertFalse(traces.program_copy.parent.exists(), traces.left(self.target))
        self.assertIsNone(traces.shortcut())
        verify = self.run_program("verify")
        self.assertEqual((verify.code, verify.stderr), (3, "[FAIL] Tovik is not installed\n"))

    def test_runs_killed_at_once_are_finished_by_the_next_run(self):
        # An update killed during its download (the disk's transfer is held, so the kill lands in
        # it), then the installed release again: nothing is needed, yet the update's partial
        # download does not outlive the run.
        self.install(first)
        road.server.set_rule("/cut/1.1.0/system.zst", [{"holdAfter": 300000}, {}])
        run = self.start("install", "--yes", "--no-progress", "--source", second, "--dir", self.dir)
        run.wait_for_file(self.target / ".download" / "system.zst")
        self.kill_at(run, "[INFO] Downloading ")
        self.assertIn("Release 1.0.0 is installed; nothing to download.", self.install(first).stdout)
        self.assertFalse((self.target / ".download").exists(), traces.left(self.target))

        # An update killed while it registers (the simulated deployment is held until then): its
        # files are in place, its state is not final.
        held = self.pc.folder / "deployments.hold"
        held.touch()
        run = self.start("install", "--yes", "--no-progress", "--source", second, "--dir", self.dir)
        self.kill_at(run, "[INFO] Registering ")
        held.unlink()
        self.install(second)
        self.assert_installed("1.1.0")

        # An uninstall killed while it deletes the files: one of them is held open, so that it
        # waits for it while the kill comes. A second uninstall removes what is left.
        holder = e2e.hold_open(self.target / "system.vhdx")
        run = self.start("uninstall", "--yes", "--dir", self.dir)
        self.wait_until_removing(run.lines, run)
        self.assertTrue(run.kill(), run.lines)
        self.assertTrue((self.target / "system.vhdx").exists(), "the kill came before the held file went")
        holder.let_go()
        again = self.run_program("uninstall", "--yes", "--dir", self.dir)
        self.assertEqual((again.code, again.stdout.splitlines()[-1:]), (0, [UNINSTALLED]), again.stdout + again.stderr)
        self.assert_removed()

    def test_ctrl_c_in_a_terminal_leaves_what_verify_and_status_report_truly(self):
        environment = " ".join(f"{name}={shlex.quote(value)}" for name, value in self.pc.env.items())
        program = f"env {environment} {shlex.quote(str(WINE_RUN))} {shlex.quote(e2e.program.prefix)} " \
                  f"{shlex.quote(e2e.program.exe)}"

        # Right after the registration: the program copy and the host set-up may be cut short.
        terminal = Terminal(f"{program} install --yes --no-progress --source {first} --dir {shlex.quote(self.dir)}")
        self.addCleanup(terminal.close)
        terminal.wait_for(re.escape("[ OK ] Peldra 1.0.0 is registered."))
        terminal.press_ctrl_c()
        self.assertTrue(terminal.cut_off("[ OK ] Peldra 1.0.0 installed in "), terminal.screen())
        verify = self.run_program("verify", self.dir)
        status = self.run_program("status", "--dir", self.dir)
        left = traces.left(self.target)
        if not traces.program_copy_whole():
            self.assertNotEqual(verify.code, 0, left)
            self.assertIn("was not set up completely", verify.stdout, left)
            self.assertIn("Installation ", status.stdout, left)
        # An uninstall then removes the copy cut short as well.
        removed = self.run_program("uninstall", "--yes", "--dir", self.dir)
        self.assertEqual(removed.code, 0, removed.stdout + removed.stderr)
        self.assert_removed()
        self.install(first)

        # During an uninstall, after the package went, while it waits for a file held open: the
        # state never claims removed files.
        holder = e2e.hold_open(self.target / "system.vhdx")
        terminal = Terminal(f"{program} uninstall --yes --dir {shlex.quote(self.dir)}")
        self.addCleanup(terminal.close)
        self.wait_until_removing(terminal.screen)
        terminal.press_ctrl_c()
        self.assertTrue(terminal.cut_off(UNINSTALLED), terminal.screen())
        holder.let_go()
        left = traces.left(self.target)
        verify = self.run_program("verify", self.dir)
        status = self.run_program("status", "--dir", self.dir)
        if not all((self.target / name).exists() for name in ("system.vhdx", "AppxManifest.xml")):
            self.assertNotEqual(verify.code, 0, left)
            self.assertNotIn(UNCHANGED, verify.stdout, left)
            self.assertNotIn("Installed release         1.0.0\n", status.stdout, left)
        # The next install fetches again what is missing.
        self.install(first)
        self.assert_installed("1.0.0")


if __name__ == "__main__":
    e2e.main()
