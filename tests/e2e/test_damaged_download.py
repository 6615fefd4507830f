"""A stored build that carries a data file besides the game executable and
its module, made by tools/make_update.sh: intact, it updates the sample
installation as every build does; with one byte of the data file's resource
changed, as a download damages it, it is refused before any question with
exit code 2, and nothing is written."""

import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import harness
from texts import CAPTION, CONFIRM_UPDATE, MB_ICONWARNING, MB_OK, UPDATE_FILE_DAMAGED, UPDATE_FINISHED

SOURCE = Path(__file__).resolve().parents[2]
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
PAYLOAD = ("LMH.exe", "dll/RESOURCE.dll", "story.txt")


class DamagedDownloadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(os.environ["E2E_WORK_DIR"]) / "damaged_download"
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.work.mkdir(parents=True)
        cls.new = harness.windows_build_dir() / "sample" / "new"
        description = (SOURCE / "sample" / "update.ini").read_text(encoding="utf-8")
        ini = cls.work / "with_story.ini"
        ini.write_text(description.replace("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=story.txt\n"),
                       encoding="utf-8")
        env = dict(os.environ, FPTOOL=str(harness.host_tool_fptool()))
        done = subprocess.run(["bash", str(SOURCE / "tools" / "make_update.sh"), str(ini), "--payload", str(cls.new),
                               "--tree", str(cls.work / "tree")], env=env, capture_output=True, text=True)
        if done.returncode != 0:
            raise harness.HarnessError(f"make_update.sh failed ({done.returncode}):\n{done.stdout}{done.stderr}")
        print(done.stdout, file=sys.stderr)
        cls.build = cls.work / "tree" / "UpDate.exe"

    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE)

    def test_the_intact_build_updates(self):
        run = self.wine.run_updater("OK", "OK", updater=self.build)
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual(run.exit_code, 0, report)
        self.assertEqual([m.text_bytes for m in run.messages],
                         [CONFIRM_UPDATE.encode("cp932"), UPDATE_FINISHED.encode("cp932")], report)
        percents = [int(p.strip().rstrip("%")) for p in run.progress.percents_set]
        self.assertEqual(percents, sorted(set(percents)), report)
        self.assertEqual(percents[-1], 100, report)
        installed, new = harness.tree_digest(self.install), harness.tree_digest(self.new)
        for name in PAYLOAD:
            self.assertEqual(installed[name], new[name], f"{name} is not the new version\n{report}")

    def test_a_data_file_damaged_on_its_way_is_refused_before_any_question(self):
        story = (self.new / "story.txt").read_bytes()
        damaged = self.work / "damaged" / "UpDate.exe"
        harness.damage_in_copy(self.build, story, len(story) // 2, damaged)
        files_before = harness.tree_digest(self.install)
        profile_before = self.wine.profile_bytes()
        run = self.wine.run_updater("OK", updater=damaged)
        report = run.describe()
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual([(m.text_bytes, m.caption_bytes, m.style, m.owner) for m in run.messages],
                         [(UPDATE_FILE_DAMAGED.encode("cp932"), CAPTION.encode("cp932"), MB_OK | MB_ICONWARNING,
                           "none")], report)
        self.assertEqual(run.exit_code, 2, report)
        self.assertFalse(run.progress is not None and run.progress.shown, report)
        self.assertEqual(harness.tree_digest(self.install), files_before)
        self.assertEqual(self.wine.profile_bytes(), profile_before)


if __name__ == "__main__":
    unittest.main()
