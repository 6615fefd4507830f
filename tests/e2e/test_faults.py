"""UpDate.exe meeting bad input and a failing system: unusable install
folders in the profile, a game file it may not write, a folder that goes
away while it waits, a drive too small for the update and one that fills up
while it writes. None of them may be reported as a finished update or
leave an update on record."""

import os
import shutil
import subprocess
import unittest
from pathlib import Path

import harness
from table import Box, Row, TableMixin
from texts import (BAD_INSTALL_PATH, CONFIRM_UPDATE, DISK_FULL, FILE_CAPTION, INSTALL_DATA_BROKEN, MB_ICONWARNING,
                   MB_OK, MB_OKCANCEL, UPDATE_ABORTED, UPDATE_FINISHED, WRITE_CREATE_FAILED)

PROFILE = "[INSTALL]\r\nInstallFold={folder}\r\n"
WARNING = MB_OK | MB_ICONWARNING
BROKEN = [Box(INSTALL_DATA_BROKEN, WARNING)]
CONFIRM = Box(CONFIRM_UPDATE, MB_OKCANCEL | MB_ICONWARNING)
ABORTED = Box(UPDATE_ABORTED, WARNING)
FINISHED = Box(UPDATE_FINISHED, MB_OK)
SHARE = r"\\e2e-server\share"


def write_failed(entry: str) -> Box:
    return Box(WRITE_CREATE_FAILED, WARNING, caption=FILE_CAPTION.format(file=entry), owner="progress")


class FaultTest(TableMixin, unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.unix_path(harness.INSTALL_WIN)
        self.new = harness.tree_digest(self.wine.sample_dir("new"))

    def profile(self, folder: str):
        self.wine.write_profile(PROFILE.format(folder=folder))

    def run_rows(self, rows):
        for row in rows:
            with self.subTest(row.name):
                self.wine.install_sample("old")
                self.profile(harness.INSTALL_WIN)
                install = row.arrange() or self.install
                self.run_row(row, install)

    # ---- what Wine does with a read-only file ----

    def wine_writes_read_only_files(self) -> bool:
        probe_win = r"C:\e2e\read-only-probe.txt"
        probe = self.wine.unix_path(probe_win)
        probe.parent.mkdir(parents=True, exist_ok=True)
        if probe.exists():
            probe.chmod(0o644)
        probe.write_bytes(b"before\r\n")
        self.addCleanup(lambda: probe.unlink(missing_ok=True))
        self.set_read_only(probe_win)
        subprocess.run(["wine", "cmd", "/c", f"echo after>>{probe_win}"], env=self.wine.env,
                       capture_output=True, timeout=120)
        return probe.read_bytes() != b"before\r\n"

    def set_read_only(self, windows_path: str):
        done = subprocess.run(["wine", "cmd", "/c", "attrib", "+r", windows_path], env=self.wine.env,
                              capture_output=True, timeout=120)
        shown = subprocess.run(["wine", "cmd", "/c", "attrib", windows_path], env=self.wine.env,
                               capture_output=True, timeout=120).stdout.decode("cp932", "replace")
        if done.returncode != 0 or "R" not in shown.split(windows_path)[0]:
            raise harness.HarnessError(f"attrib +r {windows_path} did not take: {shown!r}")

    # ---- the table ----

    def test_bad_input_and_failing_writes(self):
        share = self.wine.prefix / "dosdevices" / "unc" / "e2e-server"

        def empty_profile():
            self.wine.write_profile(b"")

        def shared_folder():
            # Wine resolves \\server\share through dosdevices/unc: the share
            # really holds the installation, so only the path's form is wrong.
            share.mkdir(parents=True, exist_ok=True)
            if (share / "share").is_symlink():
                (share / "share").unlink()
            (share / "share").symlink_to(self.install.parent)
            self.addCleanup(shutil.rmtree, share, True)
            self.profile(SHARE + "\\" + self.install.name)

        def dll_folder_removed():
            shutil.rmtree(self.install / "dll")

        def half_updated(before, after):
            self.assertEqual(after.files.get("LMH.exe"), self.new["LMH.exe"], "LMH.exe was written first")
            self.assertNotIn("dll/RESOURCE.dll", after.files)
            self.assertEqual(after.files.get("story.txt"), before.files["story.txt"])
            self.assertEqual(after.profile, before.profile, "an update that failed is on record")

        def updated(before, after):
            for name in ("LMH.exe", "dll/RESOURCE.dll"):
                self.assertEqual(after.files.get(name), self.new[name], name)
            self.assertEqual(harness.parse_profile(after.profile).get("UPDATE", {}).get("NONACTIVATION"), "1")

        read_only_written = self.wine_writes_read_only_files()
        if read_only_written:
            # Wine as root opens a read-only file for writing like any other.
            read_only = Row("game executable read-only (Wine writes it)",
                            lambda: self.set_read_only(harness.INSTALL_WIN + r"\LMH.exe"), ("OK", "OK"),
                            [CONFIRM, FINISHED], 0, after=updated)
        else:
            read_only = Row("game executable read-only", lambda: self.set_read_only(harness.INSTALL_WIN + r"\LMH.exe"),
                            ("OK", "OK", "OK"), [CONFIRM, write_failed("LMH.exe"), ABORTED], 0)

        missing = harness.INSTALL_WIN + r"\not-there"
        long_folder = harness.INSTALL_WIN + "\\." * 130
        rows = [
            Row("profile an empty file", empty_profile, ("OK",), BROKEN, 2),
            Row("InstallFold empty", lambda: self.profile(""), ("OK",), BROKEN, 2),
            Row("InstallFold '*'", lambda: self.profile("*"), ("OK",), BROKEN, 2),
            Row("InstallFold beyond 260 bytes, naming the installation", lambda: self.profile(long_folder), ("OK",),
                BROKEN, 2),
            Row("InstallFold on a share", shared_folder, ("OK", "OK", "OK"),
                [CONFIRM, Box(BAD_INSTALL_PATH.format(folder=SHARE + "\\" + self.install.name), WARNING), ABORTED],
                0),
            Row("InstallFold a folder that does not exist", lambda: self.profile(missing), ("OK",), BROKEN, 2),
            read_only,
            Row("dll folder gone after the confirmation", lambda: None, ("OK", "OK", "OK"),
                [CONFIRM, write_failed("dll\\RESOURCE.dll"), ABORTED], 0, after=half_updated,
                at_box={1: dll_folder_removed}),
        ]
        self.assertGreater(len(long_folder), 260)
        self.run_rows(rows)

    def test_small_drives(self):
        demo = self.wine.windows_build_dir / "demo"
        demo_program = demo / "bin" / "UpDate.exe"
        demo_payload = [demo / "payload" / "LMH.exe", demo / "payload" / "dll" / "RESOURCE.dll"]
        drives = {}

        def small_drive(letter: str, size: str) -> Path:
            drive = harness.SmallDrive(self.wine, letter, size)
            try:
                drive.__enter__()
            except harness.HarnessError as refused:
                self.skipTest(f"{refused} (mounting needs root)")
            self.addCleanup(drive.__exit__, None, None, None)
            shutil.copytree(self.wine.sample_dir("old"), drive.unix_path("install"))
            self.profile(drive.windows_path("install"))
            drives[letter] = drive
            return drive.unix_path("install")

        def too_small():
            if not demo_program.is_file() or not all(p.is_file() for p in demo_payload):
                # tools/test.sh builds it; a run without it would prove nothing here.
                self.fail("needs the 192 MiB payload build: cmake --build build/windows --target UpDateDemo")
            return small_drive("y", "1m")

        def disk_full_box() -> Box:
            free, total = drives["y"].space()
            needed = sum(p.stat().st_size for p in demo_payload)
            return Box(DISK_FULL.format(folder=drives["y"].windows_path("install"), free=free >> 20,
                                        total=total >> 20, needed=(needed >> 20) + 1), WARNING)

        def cut_short(before, after):
            self.assertNotEqual(after.files.get("LMH.exe"), self.new["LMH.exe"])
            self.assertEqual(after.files.get("dll/RESOURCE.dll"), before.files["dll/RESOURCE.dll"])
            self.assertEqual(after.profile, before.profile, "an update that failed is on record")

        # Room for the old installation but not for the new game executable;
        # the payload is below 1 MiB, so the check in whole MiB lets it pass.
        with self.subTest("drive fills up while writing"):
            install = small_drive("x", "64k")
            self.run_row(Row("drive fills up while writing", lambda: install, ("OK", "OK", "OK"),
                             [CONFIRM, write_failed("LMH.exe"), ABORTED], 0, after=cut_short), install)
        with self.subTest("drive too small for the payload"):
            install = too_small()
            self.run_row(Row("drive too small for the payload", lambda: install, ("OK", "OK", "OK"),
                             [CONFIRM, disk_full_box(), ABORTED], 0, program=demo_program), install)
