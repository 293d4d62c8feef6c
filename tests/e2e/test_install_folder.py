"""The install folder of Peldra.exe under Wine: nothing is written through a link planted in it,
and a folder that every user may change, or a drive root, is refused. Wine keeps no access lists
of its own (it derives them from the Unix mode), so a world-writable Unix folder stands for a
folder every user may change; the list the install gives a folder it creates is checked by the
unit tests. Folders Windows users really type are read one way by every command, and the ones
that cannot be an install folder are refused before anything is downloaded or written; an install
made before those rules can still be shown, checked and removed. Wine has no 260-character limit,
so folders past it install as any other; it reaches a network share through a link in its prefix."""
import json
import os
import re
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
import test_release_commands as releases  # noqa: E402
from simulated_pc import windows_path  # noqa: E402


def forget_install_folder_records():
    """Deletes what earlier installs of this prefix recorded in HKLM as the user's install folder."""
    key = "HKLM\\Software\\Ormel\\Peldra"
    for line in releases.wine("reg", "query", key, check=False).stdout.decode().splitlines():
        if line.strip().startswith(("InstallFolder-", "ChosenFolder-")):
            releases.wine("reg", "delete", key, "/v", line.split()[0], "/f")


def setUpModule():
    releases.setUpModule()


def tearDownModule():
    releases.tearDownModule()


class InstallFolderTest(releases.ReleaseCommandTest):
    def test_a_link_planted_as_tools_or_download_is_refused_and_what_it_points_to_stays_whole(self):
        address = releases.release("linked")
        outside = self.folder / "outside"
        outside.mkdir()
        (outside / "kernel").write_bytes(b"precious")
        (outside / "kernel.zst").write_bytes(b"p" * 100)  # a longer partial download gets cut
        for name in (".download", "tools"):
            with self.subTest(name):
                self.target.mkdir(exist_ok=True)
                link = self.target / name
                link.symlink_to(outside)
                try:
                    done = self.install(address, "--yes", code=1)
                finally:
                    link.unlink()
                self.assertIn(f"{windows_path(self.target)}\\{name} is a link, junction or mount point: Peldra "
                              "does not write through it.", done.stderr)
                self.assertEqual(sorted(path.name for path in outside.iterdir()), ["kernel", "kernel.zst"])
                self.assertEqual((outside / "kernel").read_bytes(), b"precious")
                self.assertEqual((outside / "kernel.zst").read_bytes(), b"p" * 100)

    def test_a_folder_everyone_may_change_and_a_drive_root_are_refused_before_any_download(self):
        address = releases.release("shared")
        self.target.mkdir()
        self.target.chmod(0o777)
        done = self.install(address, "--yes", code=1)
        self.assertIn(f"{windows_path(self.target)} can be changed by Everyone, not only by administrators",
                      done.stderr)
        (self.target / "peldra.json").write_text("{}")  # an install made before the rule
        done = self.install(address, "--yes", code=1)
        self.assertIn("It holds a release of Peldra, which you can also uninstall there", done.stderr)
        self.assertNotIn("before this rule", done.stderr)
        done = self.run_program("install", "--source", address, "--dir", "C:\\", "--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertIn("C:\\ is the root of a drive and cannot be the install folder", done.stderr)
        self.assertEqual(releases.downloads("shared"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})

    def test_folders_that_cannot_be_install_folders_are_refused_at_once_and_nothing_is_written(self):
        address = releases.release("refused")
        prefix = Path(e2e.program.prefix)
        missing = next(letter for letter in "qjkwy" if not (prefix / "dosdevices" / f"{letter}:").exists())
        (self.folder / "a-file").write_bytes(b"x")
        in_scratch = windows_path(self.folder)
        drive_c = sorted(path.name for path in (prefix / "drive_c").iterdir())
        before = sorted(self.folder.rglob("*"))
        cases = [
            ("Tovik", "Tovik is not a full path: a relative folder would depend on the folder the command"),
            ("\\\\fileserver\\share\\Tovik", "\\\\fileserver\\share\\Tovik is on a network share"),
            ("\\\\localhost\\pipe\\x", '\\\\localhost\\pipe\\x is in the share "pipe", where Windows keeps pipes'),
            ("\\\\127.0.0.1\\C$\\Tovik", '\\\\127.0.0.1\\C$\\Tovik reaches this PC itself through the network'),
            ("C:\\CON\\Tovik", '"CON" in C:\\CON\\Tovik is a name Windows keeps for a device'),
            (in_scratch + "\\aux", f'"aux" in {in_scratch}\\aux is a name Windows keeps for a device'),
            ("C:\\ProgramData", "C:\\ProgramData is one of Windows' own folders"),
            ("c:/users/public/desktop/", "c:\\users\\public\\desktop is one of Windows' own folders"),
            ("C:\\windows\\system32\\Tovik", "C:\\windows\\system32\\Tovik lies in the Windows folder"),
            (f"{missing}:\\Tovik", f"Drive {missing}: does not exist on this PC"),
            (in_scratch + "\\a-file\\Tovik", f"{in_scratch}\\a-file is a file, not a folder"),
        ]
        for folder, message in cases:
            with self.subTest(folder):
                done = e2e.program.run("install", "--source", address, "--dir", folder, "--yes",
                                       env=self.pc.env, cwd=self.folder)
                self.assertEqual(done.code, 1, done.stdout + done.stderr)
                self.assertIn(message, done.stderr)
        # The other commands read the folder the same way.
        uninstall = e2e.program.run("uninstall", "--dir", "Tovik", "--yes", env=self.pc.env, cwd=self.folder)
        self.assertEqual(uninstall.code, 1, uninstall.stdout + uninstall.stderr)
        self.assertIn("Tovik is not a full path", uninstall.stderr)
        # Nor is a pipe share or this PC's own share the folder of an install made before.
        for words, message in [
            (["uninstall", "--dir", "\\\\localhost\\pipe\\x", "--yes"],
             '\\\\localhost\\pipe\\x is in the share "pipe", where Windows keeps pipes and mailslots'),
            (["verify", "\\\\127.0.0.1\\C$\\Tovik"],
             '\\\\127.0.0.1\\C$\\Tovik reaches this PC itself through the network name "127.0.0.1"'),
        ]:
            with self.subTest(words[0]):
                done = e2e.program.run(*words, env=self.pc.env, cwd=self.folder)
                self.assertEqual(done.code, 1, done.stdout + done.stderr)
                self.assertIn(message, done.stderr)

        self.assertEqual(releases.downloads("refused"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})
        self.assertEqual(sorted(path for path in self.folder.rglob("*") if "sim" not in path.parts),
                         [path for path in before if "sim" not in path.parts])
        self.assertEqual(sorted(path.name for path in (prefix / "drive_c").iterdir()), drive_c)
        self.assertFalse(Path("/fileserver").exists())

    def test_a_drive_or_folder_that_cannot_be_written_is_refused_before_any_download(self):
        address = releases.release("read-only")
        # A drive letter on /sys, where nobody may create anything, not even root.
        drive = next(Path(e2e.program.prefix) / "dosdevices" / f"{letter}:" for letter in "rstuv"
                     if not (Path(e2e.program.prefix) / "dosdevices" / f"{letter}:").exists())
        drive.symlink_to("/sys")
        self.addCleanup(drive.unlink)
        letter = drive.name[0].upper()
        done = self.run_program("install", "--source", address, "--dir", f"{letter}:\\Tovik", "--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertIn(f"The install folder {letter}:\\Tovik cannot be created in {letter}:\\: ", done.stderr)
        if os.geteuid() != 0:  # root writes into any Unix folder
            self.target.mkdir()
            self.target.chmod(0o555)
            self.addCleanup(self.target.chmod, 0o755)
            done = self.install(address, "--yes", code=1)
            self.assertIn(f"The install folder {windows_path(self.target)} cannot be written: ", done.stderr)
        self.assertEqual(releases.downloads("read-only"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})

    def test_a_folder_past_300_characters_installs_verifies_and_uninstalls_leaving_nothing(self):
        address = releases.release("long")
        self.target = self.folder / ("d" * 100) / ("e" * 100) / ("f" * 100)
        folder = windows_path(self.target)
        self.assertGreater(len(folder + "\\Tovik.Runtime_x64.appx"), 300)
        done = self.install(address, "--yes")
        self.assertEqual(done.stdout.splitlines()[-1], f"[ OK ] Peldra 2.0.0 installed in {folder}")
        verify = self.run_program("verify", folder)
        self.assertEqual((verify.code, verify.stdout), (0, f"Folder  {folder}\n[ OK ] official Peldra release, unchanged\n"))
        uninstall = self.run_program("uninstall", "--dir", folder, "--yes")
        self.assertEqual(uninstall.code, 0, uninstall.stdout + uninstall.stderr)
        self.assertFalse((self.folder / ("d" * 100)).exists(), "the folders the install made go with it")

    def test_a_planted_state_file_and_journal_in_the_folder_the_per_user_setting_names_are_not_acted_on(self):
        """Any program of the user can set HKCU InstallFolder to a folder where users create files
        (C:\\ProgramData\\<vendor>, C:\\Windows\\Temp) and plant a state file and a staging journal
        there that name another account's files. Without --dir, only the folder an elevated install
        recorded in HKLM is acted on: the uninstall deletes nothing in the planted folder and names it."""
        shared = self.folder / "Shared"
        for name in ("theirs/data.txt", "notes.txt", "report.txt.new", "empty/"):
            (shared / name).parent.mkdir(parents=True, exist_ok=True)
            (shared / name).mkdir() if name.endswith("/") else (shared / name).write_text("another account's")
        (shared / ".download").mkdir()
        (shared / ".download" / "x.staged").write_text("report.txt.new\nempty\\\n")
        (shared / "peldra.json").write_text(json.dumps({"version": "2.0.0", "entries": {"app": [
            "theirs", "notes.txt", "empty"]}, "placed": {"app": ["theirs\\", "theirs\\data.txt", "notes.txt"]}}))
        planted = {path: path.is_file() and path.read_bytes() for path in shared.rglob("*")}
        forget_install_folder_records()
        named = windows_path(shared)
        releases.wine("reg", "add", "HKCU\\Software\\Ormel\\Peldra", "/v", "InstallFolder", "/d", named, "/f")
        self.addCleanup(releases.wine, "reg", "delete", "HKCU\\Software\\Ormel\\Peldra", "/v", "InstallFolder",
                        "/f", check=False)
        refused = self.run_program("uninstall", "--yes")
        self.assertEqual(refused.code, 1, refused.stdout + refused.stderr)
        self.assertIn(f"The per-user setting InstallFolder names {named}, which holds an install of Peldra, but no "
                      "run by an administrator recorded that folder for you: an earlier version of Peldra may have "
                      "installed there, or another program of yours may have written that setting. Peldra does not "
                      f'act on it until you choose it: if you installed there, name it with --dir "{named}".',
                      refused.stderr)
        # Installed with --dir, the recorded folder is the one acted on, and the message names both.
        self.install(releases.release("planted"), "--yes")
        done = self.run_program("uninstall", "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertIn(f"The per-user setting InstallFolder names {named}, but no install by an administrator "
                      f"recorded that folder for you: Peldra does not act on it and works in "
                      f"{windows_path(self.target)}, the folder recorded for you.", done.stdout + done.stderr)
        self.assertFalse((self.target / "peldra.json").exists())
        self.assertEqual({path: path.is_file() and path.read_bytes() for path in shared.rglob("*")}, planted)

    def test_a_stored_folder_that_the_rules_now_refuse_is_still_shown_checked_and_removed(self):
        """An install made before today's rules, in a folder directly in the profiles' folder or on a
        network share (Wine reaches \\\\server\\share through its prefix's dosdevices\\unc): the rules
        keep the next install out, and say what to do, but status, verify and uninstall work."""
        profiles = Path(e2e.program.prefix) / "drive_c" / "users"
        self.check_refused_but_kept(profiles / f"Tovik-{self.folder.name}", f"C:\\users\\Tovik-{self.folder.name}",
                                    "lies directly in C:\\Users, where Windows keeps the users' profiles")
        server = Path(e2e.program.prefix) / "dosdevices" / "unc" / f"server-{self.folder.name}"
        server.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, server)
        (server / "share").symlink_to(self.folder)
        self.check_refused_but_kept(self.folder / "moved", f"\\\\{server.name}\\share\\moved",
                                    "is on a network share: Peldra installs into a folder on a drive of this PC, "
                                    "such as C:\\Tovik. Choose one with --dir on the command line")

    def check_refused_but_kept(self, moved, stored, refusal):
        address = releases.release("before-rules")
        self.install(address, "--yes")
        self.target.rename(moved)
        self.addCleanup(shutil.rmtree, moved, ignore_errors=True)
        releases.wine("reg", "add", "HKCU\\Software\\Ormel\\Peldra", "/v", "InstallFolder", "/d", stored, "/f")
        self.addCleanup(releases.wine, "reg", "delete", "HKCU\\Software\\Ormel\\Peldra", "/v", "InstallFolder",
                        "/f", check=False)
        status = self.run_program("status", "--dir", stored)
        self.assertIn(f"Install folder            {stored}\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)
        verify = self.run_program("verify", stored)
        self.assertEqual((verify.code, verify.stdout), (0, f"Folder  {stored}\n[ OK ] official Peldra release, unchanged\n"))
        update = self.run_program("install", "--source", address, "--dir", stored, "--yes")
        self.assertEqual(update.code, 1, update.stdout + update.stderr)
        self.assertIn(f"{stored} {refusal}", update.stderr)
        self.assertIn("It already holds a release that Peldra installed before this rule: uninstall it there",
                      update.stderr)
        uninstall = self.run_program("uninstall", "--dir", stored, "--yes")
        self.assertIn(f"Files of Peldra deleted from {stored}", uninstall.stdout)
        self.assertFalse((moved / "peldra.json").exists())

    def test_the_extended_form_and_trailing_blanks_name_the_same_folder_in_every_command(self):
        address = releases.release("forms")
        plain = windows_path(self.target)
        done = self.run_program("install", "--source", address, "--dir", "\\\\?\\" + plain + " ", "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], f"[ OK ] Peldra 2.0.0 installed in {plain}")
        self.assertTrue((self.target / "peldra.json").is_file())
        for words in ([plain + " "], [plain.replace("\\", "/") + "/. "], ["--dir", "\\\\?\\" + plain]):
            with self.subTest(words):
                verify = self.run_program("verify", *words)
                self.assertEqual((verify.code, verify.stdout),
                                 (0, f"Folder  {plain}\n[ OK ] official Peldra release, unchanged\n"))
        status = self.run_program("status", "--dir", plain + ". ")
        self.assertIn(f"Install folder            {plain}\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)

    def test_a_folder_typed_with_a_short_name_is_installed_and_uninstalled_in_its_long_form(self):
        """Wine makes an 8.3 name for each long one, as Windows does on most drives: the install takes the
        folder in its long form, so that its uninstall, which compares the paths Windows resolves with the
        folder's text, finds no link on the way and removes everything."""
        address = releases.release("short-name")
        parent = self.folder / "Peldra Install Folder"
        parent.mkdir()
        listing = releases.wine("cmd", "/c", "dir", "/x", windows_path(self.folder)).stdout.decode(errors="replace")
        short = re.search(r"<DIR>\s+(\S+)\s+" + parent.name + r"\r?$", listing, re.MULTILINE).group(1)
        self.assertNotEqual(short, parent.name)
        typed = f"{windows_path(self.folder)}\\{short}\\Tovik"
        folder = f"{windows_path(parent)}\\Tovik"
        done = self.run_program("install", "--source", address, "--dir", typed, "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], f"[ OK ] Peldra 2.0.0 installed in {folder}")
        verify = self.run_program("verify", typed)
        self.assertEqual((verify.code, verify.stdout), (0, f"Folder  {folder}\n[ OK ] official Peldra release, unchanged\n"))
        uninstall = self.run_program("uninstall", "--dir", typed, "--yes")
        self.assertEqual(uninstall.code, 0, uninstall.stdout + uninstall.stderr)
        self.assertNotIn("is reached through a link", uninstall.stdout + uninstall.stderr)
        self.assertIn(f"Files of Peldra deleted from {folder}", uninstall.stdout)
        self.assertFalse((parent / "Tovik").exists(), "the folder the install made goes with it")

    def test_a_folder_below_a_link_is_refused_at_install_as_its_uninstall_would_refuse_it(self):
        """A Unix link to a folder stands for a junction: the install refuses, before any download, the
        folder its uninstall could not remove, and says so in the uninstall's words."""
        address = releases.release("below-link")
        (self.folder / "real").mkdir()
        (self.folder / "linked").symlink_to("real")
        for below in ("Tovik", "Tovik\\x"):
            with self.subTest(below):
                typed = f"{windows_path(self.folder)}\\linked\\{below}"
                done = self.run_program("install", "--source", address, "--dir", typed, "--yes")
                self.assertEqual(done.code, 1, done.stdout + done.stderr)
                self.assertIn(f"{typed} is reached through a link, junction or mount point: Peldra does not write "
                              "through it. Remove the link and try again.", done.stderr)
        self.assertEqual(list((self.folder / "real").iterdir()), [])
        self.assertEqual(releases.downloads("below-link"), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})

    def test_a_state_file_and_journal_planted_in_a_shared_folder_delete_nothing_there(self):
        """A folder where every user may create files (C:\\ProgramData\\<vendor>, C:\\Windows\\Temp): a
        peldra.json and a download journal planted there name another account's tree and files. Named
        with --dir, the elevated uninstall deletes none of them, and the run says why and fails."""
        shared = self.folder / "vendor"
        (shared / "their-tree").mkdir(parents=True)
        (shared / "their-tree" / "work.txt").write_bytes(b"theirs")
        (shared / "their-file.txt").write_bytes(b"theirs")
        (shared / "staged.bin.new").write_bytes(b"theirs")
        (shared / ".download").mkdir()
        (shared / ".download" / "system.staged").write_text("staged.bin.new\n")
        (shared / "peldra.json").write_text(
            '{"version": "2.0.0", "entries": {"system": ["their-tree"], "kernel": ["their-file.txt"]}, '
            '"placed": {"kernel": ["their-file.txt"]}}')
        shared.chmod(0o1777)
        self.addCleanup(shared.chmod, 0o755)
        folder = windows_path(shared)
        done = self.run_program("uninstall", "--dir", folder, "--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertIn(f"[WARN] Peldra deletes nothing in {folder} that the files there list, since {folder} can be "
                      "changed by Everyone, not only by administrators. Delete what Peldra left there yourself.",
                      done.stdout)
        self.assertNotIn("Files of Peldra deleted", done.stdout)
        self.assertEqual(sorted(str(path.relative_to(shared)) for path in shared.rglob("*")),
                         [".download", ".download/system.staged", "peldra.json", "staged.bin.new", "their-file.txt",
                          "their-tree", "their-tree/work.txt"])

        # An install whose folder others may change later: Tovik goes, its files stay, and the run says so.
        self.install(releases.release("shared-later"), "--yes")
        before = sorted(self.target.rglob("*"))
        self.target.chmod(0o777)
        self.addCleanup(self.target.chmod, 0o755)
        target = windows_path(self.target)
        done = self.run_program("uninstall", "--dir", target, "--yes")
        self.assertEqual(done.code, 1, done.stdout + done.stderr)
        self.assertIn(f"[WARN] Peldra deletes nothing in {target} that the files there list, since {target} can be "
                      "changed by Everyone, not only by administrators. Tovik is removed from Windows all the same: "
                      "delete what Peldra left there yourself.", done.stdout)
        self.assertEqual(sorted(self.target.rglob("*")), before)

    def test_a_program_renamed_and_replaced_after_it_started_is_not_installed(self):
        """Any program of the user may rename a running Peldra.exe in the user's folder and put another
        file in its place: the install then copies, registers and starts nothing; left alone, it does."""
        address = releases.release("replaced")
        prefix = Path(e2e.program.prefix)
        program_files = prefix / "drive_c" / "Program Files" / "Peldra"
        task = prefix / "drive_c" / "windows" / "system32" / "tasks" / "Peldra"
        downloads = self.folder / "Downloads"
        downloads.mkdir()
        running = downloads / "Peldra.exe"
        for replaced in (False, True):
            with self.subTest(replaced=replaced):
                self.assertEqual(e2e.program.run("msi", "stop-hosts", env=self.pc.env).code, 0)
                shutil.rmtree(program_files, ignore_errors=True)
                task.unlink(missing_ok=True)
                shutil.copy(e2e.program.exe, running)
                releases.server.set_rule("/replaced/system.zst", [{"holdAfter": 1024}, {}])
                (releases.server.root / "replaced" / "system.zst.go").unlink(missing_ok=True)
                shutil.rmtree(self.target, ignore_errors=True)
                install = e2e.Started(self.pc, "install", "--yes", "--no-progress", "--source", address, "--dir",
                                      windows_path(self.target), exe=running)
                install.wait_for_line("[INFO] Downloading ")
                if replaced:
                    running.rename(downloads / "moved.exe")
                    running.write_bytes(b"MZ another program")
                releases.server.let_go("/replaced/system.zst")
                self.assertEqual(install.finish(), 0, install.lines)
                refused = (f"[WARN] {windows_path(running)} is no longer the program that runs: it was renamed or "
                           "replaced after Peldra started.")
                self.assertEqual(any(line.startswith(refused) for line in install.lines), replaced, install.lines)
                self.assertEqual((program_files / "Peldra.exe").is_file(), not replaced)
                self.assertEqual(task.is_file(), not replaced)
                self.assertTrue((self.target / "peldra.json").is_file(), "the release itself is installed")


class EarlierInstallTest(releases.ReleaseCommandTest):
    """What the previous version leaves: an install with no HKLM record, named only by the package
    registration (installed with --dir), by HKCU InstallFolder (from the window), or in the default
    folder. Plain commands refuse before any download or change and name the folder; status shows it
    as an install not acted on; with --dir it is updated and removed, and the uninstall forgets it."""

    def setUp(self):
        super().setUp()
        releases.set_developer_mode(True)
        self.addCleanup(releases.wine, "reg", "delete", "HKCU\\Software\\Ormel\\Peldra", "/v", "InstallFolder",
                        "/f", check=False)

    def plain(self, *words, code):
        done = self.run_program(*words, "--yes")
        self.assertEqual(done.code, code, done.stdout + done.stderr)
        return done

    def check_named_not_acted_on(self, name, refusal):
        folder = windows_path(self.target)
        address = releases.release(name)
        status = self.run_program("status")
        self.assertIn(f"Install folder            {folder} (not acted on until chosen: see above)\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)
        self.assertNotIn("Tovik not installed", status.stdout)
        self.assertIn(refusal, status.stderr + status.stdout)
        for words in (["install", "--source", address], ["check", "--source", address], ["uninstall"]):
            with self.subTest(words[0]):
                done = self.plain(*words, code=1)
                self.assertIn(refusal, done.stderr)
                self.assertIn(f'name it with --dir "{folder}"', done.stderr)
        self.assertEqual(releases.downloads(name), {"system.zst": 0, "kernel.zst": 0, "app.zst": 0})
        self.assertTrue((self.target / "system.vhdx").is_file())
        self.assertFalse((Path(e2e.program.prefix) / "drive_c" / "Program Files" / "Peldra" / "system.vhdx").exists())
        # Named, it is acted on; its uninstall forgets every record naming it, so nothing refuses after.
        self.install(address, "--yes")
        forget_install_folder_records()
        done = self.run_program("uninstall", "--dir", folder, "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertNotIn("not by Peldra", done.stdout + done.stderr)
        self.assertFalse((self.target / "peldra.json").exists())
        status = self.run_program("status")
        self.assertNotIn("[WARN]", status.stdout + status.stderr)
        self.assertIn("Tovik package             not registered\n", status.stdout)
        self.assertIn("Release check (host)      Tovik not installed\n", status.stdout)

    def test_an_install_made_with_dir_is_named_by_its_package_registration(self):
        self.install(releases.release("earlier-dir"), "--yes")
        forget_install_folder_records()
        folder = windows_path(self.target)
        self.check_named_not_acted_on("earlier-dir-again", f"Tovik is registered from {folder}, which holds an "
                                      "install of Peldra, but no run by an administrator recorded that folder")

    def test_an_install_from_the_window_is_named_by_the_per_user_setting(self):
        # Files only: no package registration names the folder, only the value the window wrote.
        self.install(releases.release("earlier-window"), "--yes", "--files-only")
        forget_install_folder_records()
        folder = windows_path(self.target)
        releases.wine("reg", "add", "HKCU\\Software\\Ormel\\Peldra", "/v", "InstallFolder", "/d", folder, "/f")
        self.check_named_not_acted_on("earlier-window-again", f"The per-user setting InstallFolder names {folder}, "
                                      "which holds an install of Peldra")
        self.assertIsNone(releases_value("InstallFolder"), "the uninstall of that folder clears the value")

    def test_an_install_in_the_default_folder_needs_no_record(self):
        address = releases.release("earlier-default")
        default = Path(e2e.program.prefix) / "drive_c" / "Program Files" / "Peldra"
        self.addCleanup(shutil.rmtree, default, ignore_errors=True)
        forget_install_folder_records()
        self.plain("install", "--source", address, "--no-progress", code=0)
        forget_install_folder_records()
        status = self.run_program("status")
        self.assertIn("Install folder            C:\\Program Files\\Peldra\n", status.stdout)
        self.assertIn("Installed release         2.0.0\n", status.stdout)
        self.assertNotIn("[WARN]", status.stdout + status.stderr)
        done = self.plain("install", "--source", address, "--no-progress", code=0)
        self.assertIn("nothing to download", done.stdout)
        self.plain("uninstall", code=0)
        self.assertFalse((default / "peldra.json").exists())

    def test_the_folder_an_install_went_to_lasts_after_an_uninstall_and_a_rename_is_followed(self):
        address = releases.release("lasting")
        self.install(address, "--yes")
        self.plain("uninstall", code=0)  # keeps the Android data
        done = self.plain("install", "--source", address, "--no-progress", code=0)
        self.assertEqual(done.stdout.splitlines()[-1], f"[ OK ] Peldra 2.0.0 installed in {windows_path(self.target)}")
        # Renamed, the folder is still the one Peldra installed to and registered Tovik from.
        renamed = self.folder / "Renamed"
        self.target.rename(renamed)
        done = self.run_program("uninstall", "--dir", windows_path(renamed), "--yes")
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertNotIn("not by Peldra", done.stdout + done.stderr)
        self.assertIn("Tovik package removed.", done.stdout)
        status = self.run_program("status")
        self.assertNotIn("[WARN]", status.stdout + status.stderr, "no record of the old name is left to refuse")


def releases_value(name):
    done = releases.wine("reg", "query", "HKCU\\Software\\Ormel\\Peldra", "/v", name, check=False)
    return done.stdout.decode(errors="replace") if done.returncode == 0 else None


if __name__ == "__main__":
    e2e.main()
