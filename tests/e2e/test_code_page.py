"""UpDate.exe on a system set to another code page than 932 (1252, as under
en_US.UTF-8): its texts still read as the Japanese of its table, and show as
Japanese glyphs."""

import json
import time
import unittest
from collections import Counter

import harness
import live_run
from texts import (BUTTON_CANCEL, BUTTON_OK, CAPTION, CONFIRM_UPDATE, INSTALL_NOT_FOUND, PROGRESS_STATUS,
                   UPDATE_FINISHED)

PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"


class OtherCodePageTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session(harness.ENGLISH_LOCALE)

    def test_no_installation_message_reads_japanese(self):
        self.wine.remove_profile()
        run = self.wine.run_updater("OK")
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual(len(run.messages), 1, report)
        self.assertEqual(run.messages[0].text_wide, INSTALL_NOT_FOUND, report)
        self.assertEqual(run.messages[0].caption_wide, CAPTION, report)
        self.assertEqual(run.exit_code, 1, report)

    def test_update_reads_japanese_and_shows_japanese_glyphs(self):
        install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE)
        picture = self.wine.work_dir / "pictures" / "confirmation.png"
        picture.unlink(missing_ok=True)
        shown = {}

        def on_event(event):
            # The box waits for its answer until this returns.
            if event.get("event") == "message" and event["index"] == 1:
                time.sleep(0.3)  # lets the box finish painting
                harness.take_picture(self.wine, event["rect"], picture)
                left, top = event["rect"][:2]
                text_left, text_top, text_right, text_bottom = event["text_rect"]
                shown["text_rect"] = [text_left - left, text_top - top, text_right - left, text_bottom - top]

        events = live_run.follow(self.wine, self.wine.updater, ["OK", "OK"], on_event, timeout=60)
        run = harness.parse_events([json.dumps(e) for e in events])
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertTrue(run.ending.normal, report)
        self.assertEqual(len(run.messages), 2, report)
        confirm, finished = run.messages
        self.assertEqual(confirm.text_wide, CONFIRM_UPDATE, report)
        self.assertEqual(confirm.caption_wide, CAPTION, report)
        self.assertEqual(confirm.buttons, (BUTTON_OK, BUTTON_CANCEL), report)
        self.assertEqual(finished.text_wide, UPDATE_FINISHED, report)
        self.assertEqual(finished.caption_wide, CAPTION, report)
        self.assertIsNotNone(run.progress, report)
        self.assertEqual(run.progress.title_wide, CAPTION, report)
        self.assertEqual(run.progress.status_wide, PROGRESS_STATUS, report)
        self.assertEqual(run.exit_code, 0, report)
        self.assertEqual(harness.tree_digest(install), harness.tree_digest(self.wine.sample_dir("new")))

        # A character the font cannot draw shows as the one missing-glyph
        # box, so one shape would stand for most of the text.
        shapes = harness.glyph_shapes(picture, shown["text_rect"])
        self.assertGreaterEqual(len(shapes), 40, f"{picture}: {len(shapes)} shapes")
        _, count = Counter(shapes).most_common(1)[0]
        self.assertLessEqual(count, len(shapes) // 5,
                             f"{picture}: one shape stands for {count} of the {len(shapes)} characters")

    def test_text_that_is_not_932_shows_as_the_system_reads_it(self):
        # A folder name from a profile file written in code page 1252 is no
        # code page 932 text: the box shows the whole message as the
        # system's own code page reads it, rather than a blank. The program
        # is the updater's own message code and Win32 backend.
        run = harness.run_watched(self.wine, "OK", program=harness.built_program("text_fallback_probe.exe"))
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual(len(run.messages), 1, report)
        shown = "インストール先に問題があります。\n ".encode("cp932") + b"C:\\Spiele\\Gr\xfcn"
        # Code page 1252 as Windows reads it: the five bytes it leaves
        # undefined become the control characters of the same number.
        as_1252 = "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in shown)
        self.assertTrue(as_1252.endswith("\n C:\\Spiele\\Grün"), as_1252)
        self.assertEqual(run.messages[0].text_wide, as_1252, report)
        self.assertEqual(run.messages[0].caption_wide, CAPTION, report)
        self.assertEqual(run.exit_code, 0, report)


if __name__ == "__main__":
    unittest.main()
