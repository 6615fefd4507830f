"""A build that merges an entry list, made by tools/make_update.sh from the
sample game's description with EntryList set: the list is merged into the
installed file of that name and switched in with the payload; an installed
file that is a link to a file elsewhere is not read, and the run stops with
the merge's message before anything is switched, so that the other file's
bytes never reach the game's folder."""

import os
import shutil
import subprocess
import unittest
from pathlib import Path

import harness
from texts import CAPTION, CONFIRM_UPDATE, MB_ICONWARNING, MB_OK, MB_OKCANCEL, UPDATE_ABORTED, UPDATE_FINISHED

SOURCE = Path(__file__).resolve().parents[2]
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
MERGE_FAILED = ("指定されたファイルが見つかりませんでした。\nアップデートは成功しましたが、\n"
                "アップデート情報の更新に失敗しました。[0x00000003]")
MERGE_FAILED_CAPTION = "アップデート情報の更新に失敗しました。"
SECRET = b"secret of someone else;\r\n"


class EntryListBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(os.environ["E2E_WORK_DIR"]) / "entry_list_build"
        shutil.rmtree(cls.work, ignore_errors=True)
        payload = cls.work / "payload"
        shutil.copytree(harness.windows_build_dir() / "sample" / "new", payload)
        (payload / "list.txt").write_bytes(b"a;\r\n")
        description = (SOURCE / "sample" / "update.ini").read_text(encoding="utf-8")
        ini = cls.work / "with_list.ini"
        ini.write_text(description.replace("EntryList=\n", "EntryList=list.txt\n"), encoding="utf-8")
        env = dict(os.environ, FPTOOL=str(harness.host_tool_fptool()))
        done = subprocess.run(["bash", str(SOURCE / "tools" / "make_update.sh"), str(ini), "--payload", str(payload),
                               "--tree", str(cls.work / "tree")], capture_output=True, text=True, env=env)
        if done.returncode != 0:
            raise harness.HarnessError(f"make_update.sh failed ({done.returncode}):\n{done.stdout}{done.stderr}")
        cls.updater = cls.work / "tree" / "UpDate.exe"

    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        (self.install / "list.txt").write_bytes(b"b;\r\n")
        self.wine.write_profile(PROFILE)

    def test_the_list_is_merged_into_the_installed_file(self):
        run = self.wine.run_updater("OK", "OK", updater=self.updater)
        report = run.describe()
        self.assertEqual([(m.text, m.style) for m in run.messages],
                         [(CONFIRM_UPDATE, MB_OKCANCEL | MB_ICONWARNING), (UPDATE_FINISHED, MB_OK)], report)
        self.assertEqual(run.exit_code, 0, report)
        # New entries first; the file grows by the list's size.
        self.assertEqual((self.install / "list.txt").read_bytes(), b"a;\nb;\r\n\0", report)
        self.assertEqual(harness.verify_installation(self.install), "", report)

    def test_an_installed_list_that_is_a_link_is_not_read(self):
        outside = self.wine.unix_path("C:\\e2e\\outside-list")
        self.addCleanup(shutil.rmtree, outside, True)
        for hard in (True, False):
            with self.subTest("hard link" if hard else "symbolic link"):
                self.setUp()
                shutil.rmtree(outside, ignore_errors=True)
                outside.mkdir(parents=True)
                secret = outside / "secret.txt"
                secret.write_bytes(SECRET)
                target = self.install / "list.txt"
                target.unlink()
                if hard:
                    os.link(secret, target)
                else:
                    target.symlink_to(secret)
                exe_before = (self.install / "LMH.exe").read_bytes()
                before = (secret.read_bytes(), secret.stat().st_mtime_ns)
                run = self.wine.run_updater("OK", "OK", "OK", updater=self.updater)
                report = run.describe()
                self.assertEqual([(m.text, m.caption, m.style) for m in run.messages],
                                 [(CONFIRM_UPDATE, CAPTION, MB_OKCANCEL | MB_ICONWARNING),
                                  (MERGE_FAILED, MERGE_FAILED_CAPTION, MB_OK | MB_ICONWARNING),
                                  (UPDATE_ABORTED, CAPTION, MB_OK | MB_ICONWARNING)], report)
                self.assertEqual(run.exit_code, 0, report)
                self.assertEqual((secret.read_bytes(), secret.stat().st_mtime_ns), before, report)
                # Nothing switched, nothing left beside the targets, and no
                # other file in the game's folder holds the other file's bytes.
                self.assertEqual((self.install / "LMH.exe").read_bytes(), exe_before, report)
                self.assertEqual([p.name for p in self.install.rglob("*") if ".UpDate-" in p.name], [], report)
                holding = [p.name for p in self.install.rglob("*")
                           if p.is_file() and not p.is_symlink() and not os.path.samefile(p, secret)
                           and SECRET.strip() in p.read_bytes()]
                self.assertEqual(holding, [], report)


if __name__ == "__main__":
    unittest.main()
