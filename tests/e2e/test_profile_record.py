"""The update record, which UpDate.exe writes with its own edit of the
profile file through the one handle it has checked: the same bytes as the
system's own WritePrivateProfileStringA leaves in a copy of the same file
(profile_probe.exe), and nothing written anywhere when the file, or its
folder, was made a link to something else while the confirmation waited."""

import os
import shutil
import unittest
from pathlib import Path

import harness
from texts import ALREADY_UPDATED, CONFIRM_UPDATE, MB_ICONQUESTION, MB_ICONWARNING, MB_OK, MB_OKCANCEL, MB_YESNO, UPDATE_FINISHED

INSTALL = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
CONFIRM = (CONFIRM_UPDATE, MB_OKCANCEL | MB_ICONWARNING)
FINISHED = (UPDATE_FINISHED, MB_OK)
ALREADY = (ALREADY_UPDATED, MB_YESNO | MB_ICONQUESTION)


class ProfileRecordTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()

    def folder(self, name: str) -> Path:
        """A fresh folder of its own on drive C:, removed after the case."""
        path = self.wine.unix_path("C:\\e2e\\" + name)
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def edited_by_the_system(self, content: bytes) -> bytes:
        """What WritePrivateProfileStringA makes of a file holding content."""
        self.folder("profile-api")
        copy = self.wine.unix_path("C:\\e2e\\profile-api\\LMH.ini")
        copy.write_bytes(content)
        done = harness.run_windows_program(self.wine, harness.built_program("profile_probe.exe"),
                                           "C:\\e2e\\profile-api\\LMH.ini", "UPDATE", "NonActivation", "1")
        self.assertIn(b'"ok":true', done.stdout, done.stdout + done.stderr)
        return copy.read_bytes()

    def assertRun(self, run, boxes):
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual([(m.text, m.style) for m in run.messages], boxes, report)
        self.assertEqual(run.exit_code, 0, report)
        return report

    def test_the_record_is_the_bytes_the_system_leaves(self):
        cases = [
            ("key present", INSTALL + "[UPDATE]\r\nNonActivation=0\r\n"),
            ("key present in the first section", "[UPDATE]\r\nNonActivation=0\r\n" + INSTALL),
            ("key present with a longer value", "[UPDATE]\r\nNonActivation=0.25\r\n" + INSTALL),
            ("key absent", "[UPDATE]\r\nOther=x\r\n" + INSTALL),
            ("section absent", INSTALL),
            ("no final line break, section absent", INSTALL.rstrip("\r\n")),
            ("no final line break, key present", INSTALL + "[UPDATE]\r\nNonActivation=0"),
            ("no final line break, key absent", "[UPDATE]\r\nOther=x\r\n" + INSTALL.rstrip("\r\n")),
        ]
        for what, content in cases:
            with self.subTest(what):
                self.wine.install_sample("old")
                self.wine.write_profile(content)
                expected = self.edited_by_the_system(content.encode("ascii"))
                self.assertNotEqual(expected, content.encode("ascii"), "the system's function changed nothing")
                report = self.assertRun(self.wine.run_updater("OK", "OK"), [CONFIRM, FINISHED])
                self.assertEqual(self.wine.profile_bytes(), expected, report)

        # The update already on record and asked for again: the system
        # leaves a file that holds the value untouched, blanks and all.
        content = INSTALL + "[UPDATE]\r\n NonActivation = 1 \r\n"
        self.wine.install_sample("old")
        self.wine.write_profile(content)
        self.assertEqual(self.edited_by_the_system(content.encode("ascii")), content.encode("ascii"))
        self.assertRun(self.wine.run_updater("Yes", "OK", "OK"), [ALREADY, CONFIRM, FINISHED])
        self.assertEqual(self.wine.profile_bytes(), content.encode("ascii"))

    def test_a_link_put_in_the_profiles_place_while_the_confirmation_waits(self):
        outside = self.folder("outside")
        (outside / "victim.ini").write_bytes(b"[UPDATE]\r\nNonActivation=0\r\n; a file of someone else's\r\n")
        (outside / "maker").mkdir()
        (outside / "maker" / "LMH.ini").write_bytes(b"; someone else's folder\r\n")
        profile = self.wine.profile_path
        maker = profile.parent
        moved = maker.with_name(maker.name + "-moved")

        def link_file(hard):
            def swap():
                profile.unlink()
                if hard:
                    os.link(outside / "victim.ini", profile)
                else:
                    profile.symlink_to(outside / "victim.ini")
            return swap

        def link_folder():
            maker.rename(moved)
            maker.symlink_to(outside / "maker", target_is_directory=True)

        def restore():
            if maker.is_symlink():
                maker.unlink()
            if moved.is_dir():
                moved.rename(maker)
        self.addCleanup(restore)

        for what, swap in (("a hard link", link_file(True)), ("a symbolic link", link_file(False)),
                           ("its folder a link", link_folder)):
            with self.subTest(what):
                restore()
                self.wine.install_sample("old")
                self.wine.write_profile(INSTALL)
                before = {p.name: (p.read_bytes(), p.stat().st_mtime_ns) for p in outside.rglob("*") if p.is_file()}
                run = harness.run_watched(self.wine, "OK", "OK", at_box={1: swap})
                report = self.assertRun(run, [CONFIRM, FINISHED])
                self.assertEqual(harness.verify_installation(self.install_dir()), "", report)
                after = {p.name: (p.read_bytes(), p.stat().st_mtime_ns) for p in outside.rglob("*") if p.is_file()}
                self.assertEqual(after, before, report)

    def install_dir(self) -> Path:
        return self.wine.unix_path(harness.INSTALL_WIN)


if __name__ == "__main__":
    unittest.main()
