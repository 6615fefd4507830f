"""What UpDate.exe must never run: the code of the fingerprint module it
reads (the module's path comes from a file any user may edit) and a library
planted beside it under a system library's name. Each case first shows
that the hostile module does run when a careless program loads it, so that
the absence of its mark means something."""

import json
import shutil
import unittest
from pathlib import Path

import harness
from texts import (CAPTION, CONFIRM_UPDATE, FILE_CAPTION, MB_ICONWARNING, MB_OK, MB_OKCANCEL, UPDATE_ABORTED, UPDATE_FINISHED,
                   WRITE_CREATE_FAILED)

PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
CONFIRM = (CONFIRM_UPDATE, MB_OKCANCEL | MB_ICONWARNING)
FINISHED = (UPDATE_FINISHED, MB_OK)
WARNING = MB_OK | MB_ICONWARNING


class SecurityTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE)

    def folder(self, name: str) -> Path:
        """A fresh folder of its own on drive C:, removed after the case."""
        path = self.wine.unix_path("C:\\e2e\\" + name)
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def clear(self, *marks: Path):
        for mark in marks:
            mark.unlink(missing_ok=True)
            self.addCleanup(mark.unlink, True)

    def assertBoxes(self, run, boxes, exit_code):
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual([(m.text, m.style) for m in run.messages], boxes, report)
        self.assertEqual(run.exit_code, exit_code, report)

    def loader(self, folder: Path) -> Path:
        return Path(shutil.copy2(harness.built_program("plain_loader.exe"), folder / "plain_loader.exe"))

    def test_fingerprint_module_code_never_runs(self):
        evil = self.wine.windows_build_dir / "sample" / "evil" / "dll" / "RESOURCE.dll"
        self.assertTrue(evil.is_file(), f"{evil} is missing: build the Windows tree")
        shutil.copy2(evil, self.install / "dll" / "RESOURCE.dll")
        marks = [self.wine.drive_c / "evil_mark.txt", self.install / "dll" / "evil_mark.txt"]
        self.clear(*marks)

        # Its records are valid: the updater accepts it, having read it as data.
        run = harness.run_watched(self.wine, "Cancel")
        self.assertBoxes(run, [CONFIRM], 0)
        self.assertEqual([m for m in marks if m.exists()], [], "the fingerprint module's code ran")

        # The same file loaded as a program library runs and leaves its marks.
        control = self.folder("evil-control")
        module = Path(shutil.copy2(evil, control / "RESOURCE.dll"))
        done = harness.run_windows_program(self.wine, self.loader(control),
                                           "C:\\e2e\\evil-control\\" + module.name)
        self.assertIn(b'"ok":true', done.stdout, done.stdout + done.stderr)
        self.assertTrue(marks[0].exists(), "control: loading the module did not run it; the check above is blind")
        self.assertTrue((control / "evil_mark.txt").exists())

    def test_fallback_load_on_an_older_system_runs_no_code(self):
        # Before Vista the system refuses the image-resource flag and the
        # module is mapped as a plain data file: still no code of it runs.
        evil = self.wine.windows_build_dir / "sample" / "evil" / "dll" / "RESOURCE.dll"
        folder = self.folder("evil-old-system")
        module = Path(shutil.copy2(evil, folder / "RESOURCE.dll"))
        marks = [self.wine.drive_c / "evil_mark.txt", folder / "evil_mark.txt"]
        self.clear(*marks)
        done = harness.run_windows_program(self.wine, harness.built_program("old_system_loader.exe"),
                                           "C:\\e2e\\evil-old-system\\" + module.name)
        result = json.loads(done.stdout)
        self.assertTrue(result["loaded"], result)
        self.assertTrue(result["self_record_readable"], result)
        self.assertEqual(len(result["flags"]), 2, f"the fallback load did not run: {result}")
        self.assertEqual([m for m in marks if m.exists()], [], f"the fallback load ran the module's code: {result}")

    def test_library_planted_beside_the_program(self):
        plant = harness.built_program("plant_mark.dll")
        # Wine prefers its own comctl32 unless told to take one found on disk.
        env = {"WINEDLLOVERRIDES": self.wine.env["WINEDLLOVERRIDES"] + ";comctl32=n,b"}
        marks = [self.wine.drive_c / "plant_mark.txt"]

        beside = self.folder("planted")
        copy = Path(shutil.copy2(self.wine.updater, beside / "UpDate.exe"))
        shutil.copy2(plant, beside / "comctl32.dll")
        self.clear(*marks, beside / "plant_mark.txt")
        # All the way through: the progress window needs the real library's
        # progress bar, so a planted one also shows as a failed update.
        run = harness.run_watched(self.wine, "OK", "OK", program=copy, env=env)
        self.assertBoxes(run, [CONFIRM, FINISHED], 0)
        self.assertEqual([m for m in marks + [beside / "plant_mark.txt"] if m.exists()], [],
                         "UpDate.exe loaded the library planted beside it")

        control = self.folder("planted-control")
        shutil.copy2(plant, control / "comctl32.dll")
        done = harness.run_windows_program(self.wine, self.loader(control), env=env)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertTrue(marks[0].exists(), "control: a plain program did not load the planted library; "
                                           "the check above is blind")
        self.assertTrue((control / "plant_mark.txt").exists())

    def test_a_switch_journal_the_player_wrote_is_read_as_none(self):
        # A journal counts only when the administrators own it and nobody
        # else may change it. Wine keeps no owner of its own for a file: it
        # names the Unix user's account, so here even the updater's own
        # journal would be refused; this case shows the refusal end to end.
        before = harness.tree_digest(self.install)
        (self.install / "LMH.exe.UpDate-old").write_bytes(b"the player's program")
        (self.install / "UpDate.UpDate-journal").write_bytes(
            b"UpDate switch journal 1\r\n+ LMH.exe\r\n- dll\\RESOURCE.dll\r\n.\r\n")

        run = harness.run_watched(self.wine, "Cancel")
        self.assertBoxes(run, [CONFIRM], 0)
        # Followed, it would have put the player's program over the game's
        # and removed the game's library; read as none, the leftovers go.
        self.assertEqual(harness.tree_digest(self.install), before)
        self.assertEqual(harness.verify_installation(self.install), "")

    def test_dll_folder_swapped_for_a_link_while_the_confirmation_waits(self):
        # A player who may write the install folder turns dll into a link to
        # a folder of theirs while the elevated program waits for OK.
        outside = self.folder("outside")
        (outside / "RESOURCE.dll").write_bytes(b"a library of the player's")
        (outside / "keep.txt").write_bytes(b"untouched")
        outside_before = {p.name: (p.read_bytes(), p.stat().st_mtime_ns) for p in outside.iterdir()}
        before = harness.tree_digest(self.install)
        profile_before = self.wine.profile_bytes()
        dll = self.install / "dll"
        moved = self.install / "dll-moved"

        def swap():
            dll.rename(moved)
            dll.symlink_to(outside, target_is_directory=True)

        def restore():
            if dll.is_symlink():
                dll.unlink()
            if moved.is_dir():
                moved.rename(dll)
        self.addCleanup(restore)

        run = harness.run_watched(self.wine, "OK", "OK", "OK", at_box={1: swap})
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual([(m.text, m.caption, m.style) for m in run.messages],
                         [(CONFIRM_UPDATE, CAPTION, MB_OKCANCEL | MB_ICONWARNING),
                          (WRITE_CREATE_FAILED, FILE_CAPTION.format(file="dll\\RESOURCE.dll"), WARNING),
                          (UPDATE_ABORTED, CAPTION, WARNING)], report)
        self.assertEqual(run.exit_code, 0, report)

        # Nothing created or changed outside; inside, the installation as it was.
        self.assertEqual({p.name: (p.read_bytes(), p.stat().st_mtime_ns) for p in outside.iterdir()}, outside_before)
        dll.unlink()
        moved.rename(dll)
        self.assertEqual(harness.tree_digest(self.install), before)
        self.assertEqual(self.wine.profile_bytes(), profile_before)
        self.assertEqual(harness.verify_installation(self.install), "")
