"""How UpDate.exe checks the installation it found against the fingerprint
module before it offers to update: every damaged piece is refused with the
same warning and exit code 2, records it can read are accepted, and the
update record in the profile decides whether it asks again."""

import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from table import Box, Row, TableMixin
from texts import (ALREADY_UPDATED, CONFIRM_UPDATE, INSTALL_DATA_BROKEN, MB_ICONQUESTION, MB_ICONWARNING, MB_OK,
                   MB_OKCANCEL, MB_YESNO, PROGRESS_STATUS)

PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
BROKEN = [Box(INSTALL_DATA_BROKEN, MB_OK | MB_ICONWARNING)]
CONFIRM = Box(CONFIRM_UPDATE, MB_OKCANCEL | MB_ICONWARNING)
ASK_AGAIN = Box(ALREADY_UPDATED, MB_YESNO | MB_ICONQUESTION)
ROOT = Path(__file__).resolve().parents[2]


class VerificationTest(TableMixin, unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.old = self.wine.sample_dir("old")
        self.work = Path(tempfile.mkdtemp(prefix="e2e-verify-", dir=self.wine.work_dir))
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", str(self.work)]))

    # ---- arranging ----

    @property
    def install(self) -> Path:
        return self.wine.unix_path(harness.INSTALL_WIN)

    @property
    def module(self) -> Path:
        return self.install / "dll" / "RESOURCE.dll"

    def flip_byte(self, path: Path, offset: int):
        data = bytearray(path.read_bytes())
        data[offset] ^= 0x01
        path.write_bytes(bytes(data))

    def module_with_game_record(self, record: bytes) -> Path:
        """The installation's module rebuilt with this record of LMH.exe."""
        story = harness.record_text(self.old / "story.txt").encode("ascii")
        return harness.build_module(self.module, {"LMH.exe": record, "story.txt": story})

    def test_installation_checks(self):
        game = harness.record_text(self.old / "LMH.exe").encode("ascii")
        total, xor = game[:8], game[8:]
        # Digits past the eighth fold back onto the low places, so a run of
        # zeros behind the xor moves its digits and in front of it does not.
        rotated = xor[4:] + xor[:4]
        self.assertNotEqual(rotated, xor, "the sample's xor reads the same turned: the folding rows prove nothing")

        def game_changed():
            self.flip_byte(self.install / "LMH.exe", (self.install / "LMH.exe").stat().st_size // 2)

        def no_game_record():
            subprocess.run(["bash", str(ROOT / "tools" / "make_module.sh"), str(self.module),
                            str(self.install / "story.txt")], check=True, capture_output=True)

        def window_byte_changed():
            # The stored sum's lowest byte: the window keeps it out of the
            # checksum, not out of the comparison.
            self.flip_byte(self.module, harness.self_record_window(self.module) + 4)

        def byte_after_window_changed():
            self.flip_byte(self.module, harness.self_record_window(self.module) + 12)

        def profile_without_folder():
            self.wine.write_profile("[INSTALL]\r\nInstallFolder=" + harness.INSTALL_WIN + "\r\n")

        def module_not_pe():
            self.module.write_bytes(b"MZ this is not a program library\r\n" * 30)

        def module_truncated():
            data = self.module.read_bytes()
            self.module.write_bytes(data[:harness.self_record_window(self.module)])

        def no_self_record():
            story = harness.record_text(self.old / "story.txt").encode("ascii")
            harness.build_module(self.module, {"LMH.exe": game, "story.txt": story}, self_record=False)

        def notice(value: str):
            return lambda: self.wine.write_profile(PROFILE + "[UPDATE]\r\nNonActivation=" + value + "\r\n")

        rows = [
            Row("game executable changed in one byte", game_changed, ("OK",), BROKEN, 2),
            Row("module without the game's record", no_game_record, ("OK",), BROKEN, 2),
            Row("stored sum inside the self record's window changed", window_byte_changed, ("OK",), BROKEN, 2),
            Row("byte just after the self record's window changed", byte_after_window_changed, ("OK",), BROKEN, 2),
            Row("profile without InstallFold", profile_without_folder, ("OK",), BROKEN, 2),
            Row("module not a program library", module_not_pe, ("OK",), BROKEN, 2),
            Row("module cut off inside its self record", module_truncated, ("OK",), BROKEN, 2),
            Row("module without its self record", no_self_record, ("OK",), BROKEN, 2),
            # Would read right if copied whole: only the length refuses it.
            Row("game record of 261 bytes", lambda: self.module_with_game_record(game + b" " * 245), ("OK",),
                BROKEN, 2),
            Row("game record of 260 bytes, zeros between sum and xor",
                lambda: self.module_with_game_record(total + b"0" * 244 + xor), ("Cancel",), [CONFIRM], 0),
            Row("game record of 260 bytes, zeros after the xor",
                lambda: self.module_with_game_record(game + b"0" * 244), ("OK",), BROKEN, 2),
            Row("game record in upper-case digits", lambda: self.module_with_game_record(game.upper()),
                ("Cancel",), [CONFIRM], 0),
            Row("update on record, go on anyway", notice("1"), ("Yes", "Cancel"), [ASK_AGAIN, CONFIRM], 0),
            Row("later update on record, stop", notice("2"), ("No",), [ASK_AGAIN], 0),
            Row("hexadecimal update record is no number", notice("0x1"), ("Cancel",), [CONFIRM], 0),
        ]
        self.assertNotEqual(game.upper(), game, "the sample's record has no letter digits")
        for row in rows:
            with self.subTest(row.name):
                self.wine.install_sample("old")
                self.wine.write_profile(PROFILE)
                row.arrange()
                self.run_row(row, self.install)

    def test_progress_window_hidden_until_shown(self):
        # Polling from outside cannot tell a window that the template shows
        # from one the program shows a moment later (the watcher's first
        # sight of it is hidden or visible by chance), and the status text
        # read back on screen is checked by the full update: what is left is
        # the template as built into UpDate.exe, which must not ask to be
        # visible and must hold the status text.
        template = harness.pe_resource(self.wine.updater, 5, _dialog_id())
        self.assertEqual(template[:4], b"\x01\x00\xff\xff", "not an extended dialog template")
        style = int.from_bytes(template[12:16], "little")
        self.assertFalse(style & 0x10000000, f"WS_VISIBLE set in the progress window's style {style:#x}")
        self.assertTrue(style & 0x80000000, f"not a pop-up window: {style:#x}")
        self.assertIn(PROGRESS_STATUS.encode("utf-16-le") + b"\x00\x00", template)


def _dialog_id() -> int:
    for line in (ROOT / "ui" / "resource_ids.h").read_text().splitlines():
        parts = line.split()
        if parts[:2] == ["#define", "IDD_UPDATE"]:
            return int(parts[2], 0)
    raise harness.HarnessError("IDD_UPDATE not found in ui/resource_ids.h")
