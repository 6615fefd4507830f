"""UpDate.exe meeting bad input and a failing system: unusable install
folders in the profile, a folder that goes away while it waits, a drive it
may not write, a drive too small for the update, one that fills up while it
writes, and the process killed in the middle of its writing. None of them
may be reported as a finished update or leave an update on record, and
every one of them leaves the old installation as it was."""

import os
import shutil
import signal
import subprocess
import unittest
from pathlib import Path

import harness
import live_run
from table import Box, Row, TableMixin
from texts import (CONFIRM_UPDATE, DISK_FULL, FILE_CAPTION, INSTALL_DATA_BROKEN, MB_ICONWARNING,
                   MB_OK, MB_OKCANCEL, UPDATE_ABORTED, UPDATE_FINISHED, WRITE_CREATE_FAILED)

PROFILE = "[INSTALL]\r\nInstallFold={folder}\r\n"
WARNING = MB_OK | MB_ICONWARNING
BROKEN = [Box(INSTALL_DATA_BROKEN, WARNING)]
CONFIRM = Box(CONFIRM_UPDATE, MB_OKCANCEL | MB_ICONWARNING)
ABORTED = Box(UPDATE_ABORTED, WARNING)
SHARE = r"\\e2e-server\share"


def write_failed(entry: str) -> Box:
    return Box(WRITE_CREATE_FAILED, WARNING, caption=FILE_CAPTION.format(file=entry), owner="progress")


class FaultTest(TableMixin, unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.unix_path(harness.INSTALL_WIN)

    def profile(self, folder: str):
        self.wine.write_profile(PROFILE.format(folder=folder))

    def run_rows(self, rows):
        for row in rows:
            with self.subTest(row.name):
                self.wine.install_sample("old")
                self.profile(harness.INSTALL_WIN)
                install = row.arrange() or self.install
                self.run_row(row, install)

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

        def only_the_dll_folder_gone(before, after):
            # Found before anything is written: nothing else changed.
            kept = {k: v for k, v in before.files.items() if not k.startswith("dll/")}
            self.assertEqual(after.files, kept)
            self.assertEqual(after.profile, before.profile, "an update that failed is on record")

        # No row for a read-only game executable: Wine run as root (as these
        # tests are) writes through the read-only attribute, and the update
        # replaces a file by renaming anyway, so such a row could not fail.
        # A drive Wine cannot write at all is the real case (SmallDriveTest).

        missing = harness.INSTALL_WIN + r"\not-there"
        long_folder = harness.INSTALL_WIN + "\\." * 130
        rows = [
            Row("profile an empty file", empty_profile, ("OK",), BROKEN, 2),
            Row("InstallFold empty", lambda: self.profile(""), ("OK",), BROKEN, 2),
            Row("InstallFold '*'", lambda: self.profile("*"), ("OK",), BROKEN, 2),
            Row("InstallFold beyond 260 bytes, naming the installation", lambda: self.profile(long_folder), ("OK",),
                BROKEN, 2),
            # The elevated program must not reach out to another host to
            # find out what is there: the path's form alone ends the run.
            Row("InstallFold on a share", shared_folder, ("OK",), BROKEN, 2),
            Row("InstallFold a folder that does not exist", lambda: self.profile(missing), ("OK",), BROKEN, 2),
            Row("dll folder gone after the confirmation", lambda: None, ("OK", "OK", "OK"),
                [CONFIRM, write_failed("dll\\RESOURCE.dll"), ABORTED], 0, after=only_the_dll_folder_gone,
                at_box={1: dll_folder_removed}),
        ]
        self.assertGreater(len(long_folder), 260)
        self.run_rows(rows)



def demo_build(wine):
    """The demonstration's UpDate.exe and its 192 MiB payload, or a failure:
    tools/test.sh builds it, and a run without it would prove nothing."""
    demo = wine.windows_build_dir / "demo"
    program = demo / "bin" / "UpDate.exe"
    payload = demo / "payload"
    if not program.is_file() or not (payload / "LMH.exe").is_file() or not (payload / "dll" / "RESOURCE.dll").is_file():
        raise AssertionError("needs the 192 MiB payload build: cmake --build build/windows --target UpDateDemo")
    return program, payload


class SmallDriveTest(TableMixin, unittest.TestCase):
    """Drives of their own, mounted for the case: they need the right to
    mount; without it every case here is skipped, which fails the entry."""

    def setUp(self):
        self.wine = harness.session()

    def profile(self, folder: str):
        self.wine.write_profile(PROFILE.format(folder=folder))

    def mount(self, letter: str, size: str) -> harness.SmallDrive:
        drive = harness.SmallDrive(self.wine, letter, size)
        try:
            drive.__enter__()
        except harness.HarnessError as refused:
            self.skipTest(f"{refused} (mounting needs root)")
        self.addCleanup(drive.__exit__, None, None, None)
        shutil.copytree(self.wine.sample_dir("old"), drive.unix_path("install"))
        self.profile(drive.windows_path("install"))
        return drive

    def test_drive_fills_up_while_writing(self):
        # Room for the old installation but not for the new game executable
        # beside it; the payload is below 1 MiB, so the check in whole MiB
        # lets it pass. The old installation stays byte for byte.
        install = self.mount("x", "64k").unix_path("install")
        self.run_row(Row("drive fills up while writing", lambda: install, ("OK", "OK", "OK"),
                         [CONFIRM, write_failed("LMH.exe"), ABORTED], 0), install)
        self.assertEqual(harness.verify_installation(install), "", "the old installation no longer verifies")

    def test_drive_too_small_for_the_payload(self):
        program, payload = demo_build(self.wine)
        drive = self.mount("y", "1m")
        install = drive.unix_path("install")
        free, total = drive.space()
        needed = sum(p.stat().st_size for p in (payload / "LMH.exe", payload / "dll" / "RESOURCE.dll"))
        box = Box(DISK_FULL.format(folder=drive.windows_path("install"), free=free >> 20, total=total >> 20,
                                   needed=(needed >> 20) + 1), WARNING)
        self.run_row(Row("drive too small for the payload", lambda: install, ("OK", "OK", "OK"),
                         [CONFIRM, box, ABORTED], 0, program=program), install)

    def test_drive_that_cannot_be_written(self):
        # Wine cannot create or open anything for writing there, root or not:
        # the game executable is the first file found unwritable, before
        # anything is written.
        drive = self.mount("w", "1m")
        install = drive.unix_path("install")
        done = subprocess.run(["mount", "-o", "remount,ro", str(drive.root)], capture_output=True, text=True)
        if done.returncode != 0:
            self.skipTest(f"cannot make the drive read-only: {done.stderr.strip()}")
        self.run_row(Row("drive that cannot be written", lambda: install, ("OK", "OK", "OK"),
                         [CONFIRM, write_failed("LMH.exe"), ABORTED], 0), install)


class InterruptedRunTest(unittest.TestCase):
    """The demonstration build killed while its progress window counts up."""

    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE.format(folder=harness.INSTALL_WIN))

    def test_killed_in_the_middle_of_the_progress(self):
        program, payload = demo_build(self.wine)
        before = harness.tree_digest(self.install)
        profile_before = self.wine.profile_bytes()
        killed_at = []

        def on_event(event):
            if event.get("event") != "percent" or killed_at:
                return
            percent = int(bytes.fromhex(event["text"]).decode("ascii").strip().rstrip("%"))
            if 10 <= percent < 90:
                os.kill(harness.program_process(self.wine, program.name)[0], signal.SIGKILL)
                killed_at.append(percent)

        events = live_run.follow(self.wine, program, ["OK"], on_event, timeout=300)
        messages = [e for e in events if e["event"] == "message"]
        self.assertEqual(killed_at and len(killed_at), 1, f"never killed mid-way: {events[-5:]}")
        self.assertEqual(len(messages), 1, "only the confirmation showed before the kill")

        # The old installation, byte for byte, and it verifies; at most the
        # new file being written is left beside it.
        after = harness.tree_digest(self.install)
        self.assertEqual({k: v for k, v in after.items() if not k.endswith(".UpDate-new")}, before)
        self.assertEqual(self.wine.profile_bytes(), profile_before)
        self.assertEqual(harness.verify_installation(self.install), "")

        # The next start completes the update and leaves only the game's files.
        run = harness.run_watched(self.wine, "OK", "OK", program=program, timeout=300)
        self.assertEqual([m.text for m in run.messages], [CONFIRM_UPDATE, UPDATE_FINISHED], run.describe())
        self.assertEqual(run.exit_code, 0, run.describe())
        after = harness.tree_digest(self.install)
        self.assertEqual(sorted(after), sorted(before))
        new = harness.tree_digest(payload)
        for name in ("LMH.exe", "dll/RESOURCE.dll"):
            self.assertEqual(after[name], new[name], name)
        self.assertEqual(harness.verify_installation(self.install), "")
        self.assertEqual(harness.parse_profile(self.wine.profile_bytes()).get("UPDATE", {}).get("NONACTIVATION"), "1")
