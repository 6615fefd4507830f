"""UpDate.exe over an installation of the sample game's old version."""

import unittest

import harness
from texts import (ALREADY_UPDATED, BUTTON_CANCEL, BUTTON_NO, BUTTON_OK, BUTTON_YES, CAPTION, CONFIRM_UPDATE,
                   FILE_CAPTION, MB_ICONQUESTION, MB_ICONWARNING, MB_OK, MB_OKCANCEL, MB_YESNO, PROGRESS_STATUS,
                   UPDATE_ABORTED, UPDATE_FINISHED, WRITE_CREATE_FAILED)

PAYLOAD = ("LMH.exe", "dll/RESOURCE.dll")
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"


class UpdateTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE)

    def assertBox(self, box, text, buttons, style, report, caption=CAPTION, owner="none"):
        self.assertEqual(box.text_bytes, text.encode("cp932"), report)
        self.assertEqual(box.caption_bytes, caption.encode("cp932"), report)
        self.assertEqual(box.buttons, buttons, report)
        self.assertEqual(box.style, style, report)
        self.assertEqual(box.owner, owner, report)

    def assertOnlyBoxes(self, run, count):
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual(len(run.messages), count, report)
        self.assertEqual(run.other_windows, [], report)
        return report

    def test_cancel_at_confirmation_changes_nothing(self):
        profile_before = self.wine.profile_bytes()
        files_before = harness.tree_digest(self.install)

        run = self.wine.run_updater("Cancel")
        report = self.assertOnlyBoxes(run, 1)
        self.assertBox(run.messages[0], CONFIRM_UPDATE, (BUTTON_OK, BUTTON_CANCEL), MB_OKCANCEL | MB_ICONWARNING,
                       report)
        self.assertIsNone(run.progress, report)
        self.assertEqual(run.exit_code, 0, report)
        self.assertEqual(self.wine.profile_bytes(), profile_before)
        self.assertEqual(harness.tree_digest(self.install), files_before)

    def test_japanese_folder_names_with_backslash_and_bar_trail_bytes(self):
        # In code page 932 the second bytes of 表 and ソ are 0x5C, a backslash,
        # and that of ポ is 0x7C, a bar: the system steps over them as parts of
        # one character, and so must the check of the install folder.
        folder = harness.INSTALL_WIN + "\\ゲーム\\表ソポ"
        self.assertIn(b"\x95\\\x83\\\x83|", folder.encode("cp932"))
        install = self.wine.install_sample("old", folder)
        self.wine.write_profile("[INSTALL]\r\nInstallFold=" + folder + "\r\n")
        run = self.wine.run_updater("OK", "OK")
        report = self.assertOnlyBoxes(run, 2)
        self.assertEqual([m.text for m in run.messages], [CONFIRM_UPDATE, UPDATE_FINISHED], report)
        self.assertEqual(run.exit_code, 0, report)
        new = harness.tree_digest(self.wine.sample_dir("new"))
        after = harness.tree_digest(install)
        self.assertEqual(sorted(after), sorted(new))
        for name in PAYLOAD:
            self.assertEqual(after[name], new[name], name)

    def test_second_start_while_first_waits(self):
        files_before = harness.tree_digest(self.install)

        run = self.wine.run_updater("Cancel", second_at=1)
        report = self.assertOnlyBoxes(run, 1)
        self.assertTrue(run.second.get("started"), report)
        self.assertFalse(run.second.get("timed_out"), report)
        self.assertEqual(run.second.get("windows"), [], report)
        self.assertEqual(run.second.get("code"), 0, report)
        self.assertTrue(run.second.get("first_box_alive"), report)
        # Another window was in front when the second start came; it hands the
        # player back to the first one's box.
        self.assertFalse(run.second.get("foreground_was_first_box"), report)
        self.assertTrue(run.second.get("foreground_is_first_box"), report)
        # The first goes on as if nothing had happened.
        self.assertBox(run.messages[0], CONFIRM_UPDATE, (BUTTON_OK, BUTTON_CANCEL), MB_OKCANCEL | MB_ICONWARNING,
                       report)
        self.assertEqual(run.answers[0]["answer"], "Cancel", report)
        self.assertEqual(run.exit_code, 0, report)
        self.assertEqual(harness.tree_digest(self.install), files_before)

    def test_full_update_then_start_again(self):
        new = self.wine.sample_dir("new")
        files_before = harness.tree_digest(self.install)
        install_before = harness.parse_profile(self.wine.profile_bytes())["INSTALL"]

        run = self.wine.run_updater("OK", "OK")
        report = self.assertOnlyBoxes(run, 2)
        confirm, finished = run.messages
        self.assertBox(confirm, CONFIRM_UPDATE, (BUTTON_OK, BUTTON_CANCEL), MB_OKCANCEL | MB_ICONWARNING, report)

        progress = run.progress
        self.assertIsNotNone(progress, report)
        self.assertTrue(progress.shown, report)
        self.assertEqual(progress.title_bytes, CAPTION.encode("cp932"), report)
        self.assertEqual(progress.status_bytes, PROGRESS_STATUS.encode("cp932"), report)
        # Every percentage the program set is logged inside it; the last one
        # may stand too briefly to be seen from outside, so the screen only
        # has to show some of them, rising.
        self.assertTrue(run.hooked, f"watch_hook.dll was not placed in the program\n{report}")
        set_texts = progress.percents_set
        self.assertTrue(set_texts, report)
        # The eight pieces show 16, 33, 49, 66, 82, 99, 99 and 100; the second
        # 99 is already on screen and is not set again.
        self.assertEqual(set_texts, [" 16%", " 33%", " 49%", " 66%", " 82%", " 99%", "100%"], report)
        self.assertTrue(progress.percents, report)
        self.assertTrue(set(progress.percents) <= set(set_texts), report)
        seen_values = progress.values(progress.percents)
        self.assertEqual(seen_values, sorted(set(seen_values)), f"percentages must only rise\n{report}")

        # The progress window is gone by then: the last box has no owner.
        self.assertBox(finished, UPDATE_FINISHED, (BUTTON_OK,), MB_OK, report)
        self.assertEqual(finished.icon, "none", report)
        self.assertEqual(run.exit_code, 0, report)

        files_after = harness.tree_digest(self.install)
        new_files = harness.tree_digest(new)
        for name in PAYLOAD:
            self.assertEqual(files_after[name], new_files[name], f"{name} is not the new version")
        untouched = {k: v for k, v in files_before.items() if k not in PAYLOAD}
        self.assertEqual({k: v for k, v in files_after.items() if k not in PAYLOAD}, untouched)

        profile = harness.parse_profile(self.wine.profile_bytes())
        self.assertEqual(profile.get("INSTALL"), install_before)
        self.assertEqual(profile.get("UPDATE", {}).get("NONACTIVATION"), "1", profile)

        # Started again, it knows the update is done and lets the user stop.
        profile_before = self.wine.profile_bytes()
        again = self.wine.run_updater("No")
        report = self.assertOnlyBoxes(again, 1)
        self.assertBox(again.messages[0], ALREADY_UPDATED, (BUTTON_YES, BUTTON_NO), MB_YESNO | MB_ICONQUESTION,
                       report)
        self.assertIsNone(again.progress, report)
        self.assertEqual(again.exit_code, 0, report)
        self.assertEqual(harness.tree_digest(self.install), files_after)
        self.assertEqual(self.wine.profile_bytes(), profile_before)

    def test_game_held_open_by_another_process(self):
        profile_before = self.wine.profile_bytes()
        files_before = harness.tree_digest(self.install)

        game = harness.INSTALL_WIN + r"\LMH.exe"
        run = self.wine.run_updater("OK", "OK", "OK", hold=[game])
        report = self.assertOnlyBoxes(run, 3)
        self.assertTrue(run.holds and all(h["ok"] for h in run.holds), report)
        confirm, failed, aborted = run.messages
        self.assertBox(confirm, CONFIRM_UPDATE, (BUTTON_OK, BUTTON_CANCEL), MB_OKCANCEL | MB_ICONWARNING, report)
        # The failure belongs to the progress window, which is still up.
        self.assertBox(failed, WRITE_CREATE_FAILED, (BUTTON_OK,), MB_OK | MB_ICONWARNING, report,
                       caption=FILE_CAPTION.format(file="LMH.exe"), owner="progress")
        self.assertBox(aborted, UPDATE_ABORTED, (BUTTON_OK,), MB_OK | MB_ICONWARNING, report)
        self.assertEqual(run.exit_code, 0, report)
        # Told before the first piece is written: the percentage never moved.
        self.assertTrue(run.hooked, report)
        self.assertEqual(run.progress.percents_set if run.progress else [], [], report)
        # Nothing written, and no record of an update that did not happen.
        self.assertEqual(harness.tree_digest(self.install), files_before)
        self.assertEqual(self.wine.profile_bytes(), profile_before)
