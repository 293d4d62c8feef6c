"""The command line of Peldra.exe under Wine, with standard output and error redirected to pipes:
help words, version, usage errors and their exit codes, and the language-file commands."""
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from wine import WINE_RUN  # noqa: E402

USAGE_START = "Peldra 0.1.2 - Tovik with Android 15\n\nUsage: Peldra.exe <command> [options]"
USAGE_END = "\nExit codes: 0 ok, 1 failed, 2 usage, 3 unavailable, 4 canceled, 5 restart Windows to finish\n"
HELP_WORDS = ["help", "--help", "-help", "-h", "-?", "/?", "/h", "/help", "/HELP", "Help"]


@dataclass
class Done:
    code: int
    out: bytes
    err: bytes

    @property
    def stdout(self):
        return self.out.decode("utf-8").replace("\r\n", "\n")

    @property
    def stderr(self):
        return self.err.decode("utf-8").replace("\r\n", "\n")


def run(*args, cwd=None, exe=None):
    """Peldra.exe with its output and error streams on pipes, as bytes."""
    done = subprocess.run([str(WINE_RUN), e2e.program.prefix, exe or e2e.program.exe, *args],
                          capture_output=True, cwd=cwd, timeout=120)
    return Done(done.returncode, done.stdout, done.stderr)


class HelpAndVersionTest(unittest.TestCase):
    def test_every_help_word_prints_the_usage_alone(self):
        reference = run("help").stdout
        self.assertTrue(reference.startswith(USAGE_START), reference[:200])
        self.assertTrue(reference.endswith(USAGE_END), reference[-200:])
        for word in HELP_WORDS:
            with self.subTest(word=word):
                done = run(word)
                self.assertEqual(done.code, 0)
                self.assertEqual(done.stdout, reference)
                self.assertEqual(done.err, b"")

    def test_help_words_count_only_as_the_first_word(self):
        done = run("version", "help")
        self.assertEqual((done.code, done.stdout), (0, "Peldra 0.1.2\n"))

    def test_version_as_command_or_option_in_any_case(self):
        for words in (["version"], ["VERSION"], ["--version"], ["--version", "status"], ["status", "--Version"]):
            with self.subTest(words=words):
                done = run(*words)
                self.assertEqual(done.code, 0)
                self.assertEqual(done.stdout, "Peldra 0.1.2\n")
                self.assertEqual(done.err, b"")


class UsageErrorTest(unittest.TestCase):
    def test_usage_errors_name_the_mistake_show_the_usage_and_end_with_2(self):
        cases = [
            (["frobnicate"], "unknown command frobnicate"),
            (["Frob", "more"], "unknown command frob"),
            (["--yes"], "unknown command "),
            (["msi"], "unknown command msi"),
            (["version", "--Frob"], "unknown option --Frob"),
            (["status", "--help"], "unknown option --help"),
            (["host", "--background", "now"], "unknown option --background"),
            (["install", "--source"], "--source needs a value"),
            (["nothing-like-it", "--DIR"], "--DIR needs a value"),
        ]
        for words, message in cases:
            with self.subTest(words=words):
                done = run(*words)
                self.assertEqual(done.code, 2)
                self.assertEqual(done.stderr, message + "\n\n")
                self.assertTrue(done.stdout.startswith(USAGE_START))
                self.assertTrue(done.stdout.endswith(USAGE_END))

    def test_every_command_refuses_unknown_options_and_missing_values_before_it_runs(self):
        commands = ["status", "check", "install", "uninstall", "verify", "stop", "launch", "settings",
                    "register", "lng-export", "lng-check"]
        for command in commands:
            for words, message in (([command, "--everything"], "unknown option --everything"),
                                   ([command, "-x", "--yes"], "unknown option -x"),
                                   ([command, "--yes", "--source"], "--source needs a value")):
                with self.subTest(words=words):
                    done = run(*words)
                    self.assertEqual(done.code, 2)
                    self.assertEqual(done.stderr, message + "\n\n")
                    self.assertTrue(done.stdout.startswith(USAGE_START))


class RedirectedOutputTest(unittest.TestCase):
    def test_output_is_utf8_with_crlf_line_ends_and_no_colours(self):
        done = run("help")
        self.assertIn(b"\r\n", done.out)
        self.assertNotIn(b"\n", done.out.replace(b"\r\n", b""))
        self.assertNotIn(b"\x1b", done.out)

    def test_a_failure_row_goes_to_standard_error(self):
        with tempfile.TemporaryDirectory() as folder:
            done = run("lng-check", "missing.lng", cwd=folder)
        self.assertEqual(done.code, 1)
        self.assertEqual(done.out, b"")
        self.assertEqual(done.err, b"[FAIL] cannot read the language file missing.lng\r\n")


def exported_entries(folder):
    """(id, escaped English text) of every built-in text, from the exported template."""
    done = run("lng-export", "template.lng", cwd=folder)
    assert done.code == 0, done
    entries = []
    for line in (Path(folder) / "template.lng").read_text(encoding="utf-8").splitlines():
        match = re.fullmatch(r"(\d+)=(.*)", line)
        if match:
            entries.append((int(match.group(1)), match.group(2)))
    return entries


def language_file(name, entries):
    lines = [f"#name={name}", "#locale=xx"] + [f"{number}={text}" for number, text in entries]
    return ("\n".join(lines) + "\n").encode("utf-8")


class LanguageExportTest(unittest.TestCase):
    def test_needs_exactly_one_file_name(self):
        for words in (["lng-export"], ["lng-export", "a.lng", "b.lng"]):
            with self.subTest(words=words):
                done = run(*words)
                self.assertEqual(done.code, 2)
                self.assertEqual(done.stderr, "lng-export needs a file name\n")
                self.assertEqual(done.out, b"")

    def test_writes_every_built_in_text_and_prints_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            done = run("lng-export", "de.lng", cwd=folder)
            self.assertEqual((done.code, done.out, done.err), (0, b"", b""))
            text = (Path(folder) / "de.lng").read_text(encoding="utf-8")
        self.assertIn("#name=English\n", text)
        self.assertIn("10008=Canceled.\n", text)
        self.assertIn("10009={}: {} (code {})\n", text)

    def test_a_file_that_cannot_be_written_fails_silently(self):
        with tempfile.TemporaryDirectory() as folder:
            done = run("lng-export", "no-such-folder\\de.lng", cwd=folder)
        self.assertEqual((done.code, done.out, done.err), (1, b"", b""))


class LanguageCheckTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as folder:
            cls.entries = exported_entries(folder)
        assert len(cls.entries) > 100, len(cls.entries)

    def check(self, name, contents, *extra):
        with tempfile.TemporaryDirectory() as folder:
            (Path(folder) / name).write_bytes(contents)
            return run("lng-check", name, *extra, cwd=folder)

    def test_ninety_five_percent_and_an_unknown_id_fails_with_its_numbers(self):
        total = len(self.entries)
        translated = -(-95 * total // 100)  # the fewest ids that still make 95 %
        self.assertEqual(translated * 100 // total, 95)
        kept = [(number, "xx " + text) for number, text in self.entries[:translated]]
        done = self.check("fr.lng", language_file("Fran\u00e7ais", kept + [(99999, "nobody asks for this")]))
        self.assertEqual(done.code, 1)
        self.assertEqual(done.stdout, f"fr.lng (Fran\u00e7ais): 95% translated, {total - translated} missing, "
                                      "1 unknown, 0 broken placeholders\n")
        self.assertEqual(done.err, b"")

    def test_missing_translations_alone_do_not_fail(self):
        done = self.check("de.lng", language_file("Deutsch", self.entries[:10]))
        self.assertEqual(done.code, 0)
        percent = 10 * 100 // len(self.entries)
        self.assertEqual(done.stdout, f"de.lng (Deutsch): {percent}% translated, {len(self.entries) - 10} missing, "
                                      "0 unknown, 0 broken placeholders\n")

    def test_an_added_placeholder_is_broken(self):
        entries = [(number, "{} " + text if number == 10000 else text) for number, text in self.entries]
        done = self.check("it.lng", language_file("Italiano", entries))
        self.assertEqual(done.code, 1)
        self.assertEqual(done.stdout, "it.lng (Italiano): 100% translated, 0 missing, 0 unknown, "
                                      "1 broken placeholders\n")

    def test_without_a_name_every_file_of_the_language_folder_is_checked(self):
        with tempfile.TemporaryDirectory() as folder:
            app = Path(folder) / "app"
            (app / "language").mkdir(parents=True)
            exe = app / "Peldra.exe"
            shutil.copy(e2e.program.exe, exe)
            (app / "language" / "de.lng").write_bytes(language_file("Deutsch", self.entries))
            (app / "language" / "nl.lng").write_bytes(language_file("Nederlands", [(99999, "x")]))
            (app / "language" / "en.lng").write_bytes(language_file("English", []))  # built in, never read
            done = run("lng-check", exe=str(exe))
        total = len(self.entries)
        self.assertEqual(done.code, 1)
        lines = sorted(done.stdout.splitlines())
        self.assertEqual(len(lines), 2, done.stdout)
        self.assertRegex(lines[0], r"\\language\\de\.lng \(Deutsch\): 100% translated, 0 missing, 0 unknown, "
                                   r"0 broken placeholders$")
        self.assertRegex(lines[1], rf"\\language\\nl\.lng \(Nederlands\): 0% translated, {total} missing, "
                                   r"1 unknown, 0 broken placeholders$")


if __name__ == "__main__":
    e2e.main()
