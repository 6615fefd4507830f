"""A build whose files travel compressed (zstd) over the sample game's old
version: what the player sees is what the stored build shows, and a damaged
payload leaves the installation as it was: refused before any question when
it was damaged on its way, stopped where it decodes when the build itself
recorded it so."""

import os
import unittest
from pathlib import Path

import harness
from texts import (BUTTON_OK, CAPTION, CONFIRM_UPDATE, FILE_CAPTION, MB_ICONWARNING, MB_OK, UPDATE_ABORTED,
                   UPDATE_FILE_DAMAGED, UPDATE_FINISHED, WRITE_NOT_LOADED)

PAYLOAD = ("LMH.exe", "dll/RESOURCE.dll")
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"


def compressed_updater() -> Path:
    return harness.built_program("UpDate.exe", harness.windows_build_dir() / "zstd")


def seen(run):
    """What the player meets, compared between builds."""
    return {
        "boxes": [(m.text_bytes, m.caption_bytes, m.buttons, m.icon, m.owner) for m in run.messages],
        "progress shown": run.progress is not None and run.progress.shown,
        "percentages set": run.progress.percents_set if run.progress else None,
        "exit code": run.exit_code,
    }


class CompressedBuildTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE)

    def test_updates_as_the_stored_build_does(self):
        new = harness.tree_digest(self.wine.sample_dir("new"))
        results = {}
        for name, updater in (("stored", self.wine.updater), ("compressed", compressed_updater())):
            self.install = self.wine.install_sample("old")
            self.wine.write_profile(PROFILE)
            before = harness.tree_digest(self.install)
            run = self.wine.run_updater("OK", "OK", updater=updater)
            report = run.describe()
            self.assertFalse(run.timed_out or run.unanswered, report)
            self.assertTrue(run.hooked, report)
            after = harness.tree_digest(self.install)
            for entry in PAYLOAD:
                self.assertEqual(after[entry], new[entry], f"{name}: {entry} is not the new version")
            self.assertEqual({k: v for k, v in after.items() if k not in PAYLOAD},
                             {k: v for k, v in before.items() if k not in PAYLOAD}, f"{name}: other files changed")
            profile = harness.parse_profile(self.wine.profile_bytes())
            self.assertEqual(profile.get("UPDATE", {}).get("NONACTIVATION"), "1", profile)
            results[name] = seen(run)
        self.assertEqual(results["compressed"]["boxes"][-1][0], UPDATE_FINISHED.encode("cp932"))
        self.assertEqual(results["compressed"]["percentages set"],
                         [" 16%", " 33%", " 49%", " 66%", " 82%", " 99%", "100%"])
        self.assertEqual(results["compressed"], results["stored"])

    def damaged_frame(self):
        """A copy of the compressed build with one byte flipped in the middle
        of the game executable's frame, and that frame as a file."""
        built = compressed_updater()
        generated = built.parent.parent / "generated"
        frame = (generated / "frames" / "LMH.EXE.zst").read_bytes()
        work = Path(os.environ["E2E_WORK_DIR"]) / "damaged-zstd"
        image = harness.damage_in_copy(built, frame, len(frame) // 2, work / "UpDate.exe")
        damaged = bytearray(frame)
        damaged[len(frame) // 2] ^= 0x40
        (work / "LMH.EXE.zst").write_bytes(bytes(damaged))
        return image, work

    def test_damaged_download_is_refused_before_any_question(self):
        _, work = self.damaged_frame()
        files_before = harness.tree_digest(self.install)
        profile_before = self.wine.profile_bytes()
        run = self.wine.run_updater("OK", updater=work / "UpDate.exe")
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual([(m.text_bytes, m.caption_bytes, m.style) for m in run.messages],
                         [(UPDATE_FILE_DAMAGED.encode("cp932"), CAPTION.encode("cp932"), MB_OK | MB_ICONWARNING)],
                         report)
        self.assertEqual(run.exit_code, 2, report)
        self.assertEqual(harness.tree_digest(self.install), files_before)
        self.assertEqual(self.wine.profile_bytes(), profile_before)

    def test_damaged_payload_leaves_the_installation(self):
        # The damaged frame recorded as the build's own: the decoder finds it.
        image, work = self.damaged_frame()
        new = self.wine.sample_dir("new")
        generated = compressed_updater().parent.parent / "generated"
        damaged = work / "recorded" / "UpDate.exe"
        damaged.parent.mkdir(parents=True, exist_ok=True)
        harness.record_as_built(image, generated / "payload.hashes", [
            ("frame", "LMH.EXE", work / "LMH.EXE.zst", new / "LMH.exe"),
            ("frame", "RESOURCE.DLL", generated / "frames" / "RESOURCE.DLL.zst", new / "dll" / "RESOURCE.dll"),
        ], damaged)

        files_before = harness.tree_digest(self.install)
        profile_before = self.wine.profile_bytes()
        run = self.wine.run_updater("OK", "OK", "OK", updater=damaged)
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual(len(run.messages), 3, report)
        confirm, failed, aborted = run.messages
        self.assertEqual(confirm.text_bytes, CONFIRM_UPDATE.encode("cp932"), report)
        self.assertEqual(failed.text_bytes, WRITE_NOT_LOADED.encode("cp932"), report)
        self.assertEqual(failed.caption_bytes, FILE_CAPTION.format(file="LMH.exe").encode("cp932"), report)
        self.assertEqual((failed.buttons, failed.style, failed.owner), ((BUTTON_OK,), MB_OK | MB_ICONWARNING,
                                                                        "progress"), report)
        self.assertEqual(aborted.text_bytes, UPDATE_ABORTED.encode("cp932"), report)
        self.assertEqual(aborted.caption_bytes, CAPTION.encode("cp932"), report)
        self.assertEqual(run.exit_code, 0, report)
        # The installation as it was, nothing beside it, no record.
        self.assertEqual(harness.tree_digest(self.install), files_before)
        self.assertEqual(self.wine.profile_bytes(), profile_before)


if __name__ == "__main__":
    unittest.main()
