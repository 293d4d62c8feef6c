"""Peldra.exe as built, and its command line under Wine with output and error on pipes: what it
imports and carries, help, version, usage errors with their exit codes, and the language-file commands."""
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zlib
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from wine import WINE_RUN, processes_of, program_errors  # noqa: E402

USAGE_START = ("Peldra 0.1.2 - Tovik with Android 15\n\n"
               "Usage: Peldra.exe <command> [options]   (no command: graphical interface)\n\nCommands:\n  status ")
USAGE_END = "\nExit codes: 0 ok, 1 failed, 2 usage, 3 unavailable, 4 canceled, 5 restart Windows to finish\n"
COMMANDS = ["version", "status", "check", "install", "uninstall", "verify", "stop", "launch", "settings", "register",
            "lng-export", "lng-check"]

# DLLs that every Windows 10 and 11 installation has in System32.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "d2d1.dll", "dwmapi.dll",
    "dwrite.dll", "gdi32.dll", "iphlpapi.dll", "kernel32.dll", "msi.dll", "msvcrt.dll", "ncrypt.dll", "ole32.dll",
    "oleaut32.dll", "rpcrt4.dll", "secur32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "userenv.dll", "uxtheme.dll", "version.dll", "winhttp.dll", "wintrust.dll", "ws2_32.dll", "wtsapi32.dll",
    "cfgmgr32.dll", "dnsapi.dll", "combase.dll", "api-ms-win-core-winrt-l1-1-0.dll",
    "api-ms-win-core-winrt-string-l1-1-0.dll", "taskschd.dll", "wbemuuid.dll", "netapi32.dll",
}


class Done:
    """A finished run: its exit code, its streams as bytes, and as text with LF line ends."""

    def __init__(self, done):
        self.code, self.out, self.err = done.returncode, done.stdout, program_errors(done.stderr)
        self.stdout, self.stderr = (raw.decode("utf-8").replace("\r\n", "\n") for raw in (self.out, self.err))


def run(*args, cwd=None, exe=None):
    """Peldra.exe with its output and error streams on pipes."""
    try:
        return Done(subprocess.run([str(WINE_RUN), e2e.program.prefix, exe or e2e.program.exe, *args],
                                   capture_output=True, cwd=cwd, timeout=120))
    except subprocess.TimeoutExpired as late:
        raise AssertionError(f"{' '.join(args)} did not end; in the prefix then (pid, command, standard "
                             f"streams on pipes):\n{processes_of(e2e.program.prefix)}") from late


def run_each(word_lists):
    """Runs of independent command lines at the same time, in the order given."""
    with ThreadPoolExecutor(max_workers=8) as pool:
        return list(pool.map(lambda words: run(*words), word_lists))


class ProgramTest(unittest.TestCase):
    def test_is_a_64_bit_gui_program_importing_only_windows_system_dlls(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", e2e.program.exe],
                              capture_output=True, text=True, check=True).stdout
        imported = {line.split("DLL Name:")[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - SYSTEM_DLLS, set())
        self.assertIn("file format pei-x86-64", dump)
        self.assertIn("Windows GUI", next(line for line in dump.splitlines() if line.startswith("Subsystem")))

    def test_ships_without_debug_sections_and_links_the_symbols_beside_it(self):
        def sections(path):
            dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", str(path)],
                                  capture_output=True, text=True, check=True).stdout
            return {line.split()[1] for line in dump.splitlines() if re.match(r"^\s*\d+ ", line)}

        exe = Path(e2e.program.exe)
        self.assertEqual({name for name in sections(exe) if name.startswith(".debug")}, set())
        # The debug link: the symbols file's name, zero-padded to 4 bytes, then its CRC-32.
        with tempfile.TemporaryDirectory() as scratch:
            dumped = Path(scratch) / "link"
            subprocess.run(["x86_64-w64-mingw32-objcopy", "--dump-section", f".gnu_debuglink={dumped}", str(exe),
                            str(Path(scratch) / "copy")], check=True)
            link = dumped.read_bytes()
        name = link.split(b"\0", 1)[0].decode()
        symbols = exe.parent / name
        self.assertEqual(int.from_bytes(link[-4:], "little"), zlib.crc32(symbols.read_bytes()))
        self.assertIn(".debug_info", sections(symbols))

    def test_help_prints_the_usage_alone_as_utf8_with_crlf_and_no_colours(self):
        for done in run_each([["/?"], ["Help"]]):
            self.assertEqual((done.code, done.err), (0, b""))
            self.assertTrue(done.stdout.startswith(USAGE_START), done.stdout[:200])
            self.assertTrue(done.stdout.endswith(USAGE_END), done.stdout[-200:])
            self.assertNotIn(b"\n", done.out.replace(b"\r\n", b""))
            self.assertNotIn(b"\x1b", done.out)

    def test_version_as_command_or_option_and_help_only_as_the_first_word(self):
        for done in run_each([["VERSION"], ["status", "--Version"], ["version", "help"]]):
            self.assertEqual((done.code, done.stdout, done.err), (0, "Peldra 0.1.2\n", b""))

    def test_usage_errors_name_the_mistake_show_the_usage_and_end_with_2(self):
        cases = [
            (["frobnicate"], "unknown command frobnicate"),
            (["Frob", "more"], "unknown command frob"),
            (["--yes"], "unknown command "),
            (["msi"], "unknown command msi"),
            (["host", "--background", "now"], "unknown option --background"),
            (["nothing-like-it", "--DIR"], "--DIR needs a value"),
            (["install", "--yes", "--source"], "--source needs a value"),
            (["status", "--help"], "unknown option --help"),
        ]
        # Every command refuses a mistake before it runs; the first mistake is the one named.
        cases += [([command, "-x", "--source"], "unknown option -x") for command in COMMANDS]
        for (words, message), done in zip(cases, run_each([words for words, _ in cases])):
            with self.subTest(words=words):
                self.assertEqual((done.code, done.stderr), (2, message + "\n\n"), done.stdout[:300])
                self.assertTrue(done.stdout.startswith(USAGE_START) and done.stdout.endswith(USAGE_END))

    def test_lng_export_needs_exactly_one_file_name_and_fails_silently_when_it_cannot_write(self):
        results = run_each([["lng-export"], ["lng-export", "a.lng", "b.lng"], ["lng-export", "no-such\\de.lng"]])
        for done in results[:2]:
            self.assertEqual((done.code, done.stderr, done.out), (2, "lng-export needs a file name\n", b""))
        self.assertEqual((results[2].code, results[2].out, results[2].err), (1, b"", b""))


def language_file(name, entries):
    lines = [f"#name={name}", "#locale=xx"] + [f"{number}={text}" for number, text in entries]
    return ("\n".join(lines) + "\n").encode("utf-8")


class LanguageCheckTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.folder)

    def test_the_export_feeds_the_checks_of_a_named_file_and_of_the_language_folder(self):
        app = self.folder / "app"
        (app / "language").mkdir(parents=True)
        done = run("lng-export", "template.lng", cwd=self.folder)
        self.assertEqual((done.code, done.out, done.err), (0, b"", b""))
        template = (self.folder / "template.lng").read_text(encoding="utf-8")
        self.assertIn("#name=English\n", template)
        self.assertIn("10009={}: {} (code {})\n", template)
        entries = [(int(number), text) for number, text in re.findall(r"^(\d+)=(.*)$", template, re.M)]
        total = len(entries)
        self.assertGreater(total, 100)

        translated = -(-95 * total // 100)  # the fewest ids that still make 95 %
        self.assertEqual(translated * 100 // total, 95)
        (app / "language" / "fr.lng").write_bytes(language_file("Fran\u00e7ais", entries[:translated]))
        broken = [(number, "{} " + text if number == 10000 else text) for number, text in entries]
        (app / "language" / "it.lng").write_bytes(language_file("Italiano", broken))
        (app / "language" / "nl.lng").write_bytes(language_file("Nederlands", [(99999, "x")]))
        (app / "language" / "en.lng").write_bytes(language_file("English", []))  # built in, never read
        exe = app / "Peldra.exe"
        shutil.copy(e2e.program.exe, exe)

        # Missing translations alone do not fail.
        done = run("lng-check", "language\\fr.lng", cwd=app)
        self.assertEqual((done.code, done.err), (0, b""))
        self.assertEqual(done.stdout, f"language\\fr.lng (Fran\u00e7ais): 95% translated, {total - translated} "
                                      "missing, 0 unknown, 0 broken placeholders\n")

        # Without a name every file of the folder beside the program is checked; unknown ids and
        # broken placeholders fail.
        done = run("lng-check", exe=str(exe))
        self.assertEqual(done.code, 1)
        self.assertEqual([re.sub(r"^.*\\language\\", "", line) for line in sorted(done.stdout.splitlines())], [
            f"fr.lng (Fran\u00e7ais): 95% translated, {total - translated} missing, 0 unknown, 0 broken placeholders",
            "it.lng (Italiano): 100% translated, 0 missing, 0 unknown, 1 broken placeholders",
            f"nl.lng (Nederlands): 0% translated, {total} missing, 1 unknown, 0 broken placeholders"])

    def test_a_named_file_that_cannot_be_read_is_a_failure_row_on_standard_error(self):
        done = run("lng-check", "missing.lng", cwd=self.folder)
        self.assertEqual((done.code, done.out), (1, b""))
        self.assertEqual(done.err, b"[FAIL] cannot read the language file missing.lng\r\n")


if __name__ == "__main__":
    e2e.main()
