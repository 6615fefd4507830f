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


if __name__ == "__main__":
    unittest.main()
