"""UpDate.exe builds that carry deltas, made by tools/make_update.sh from the
sample game's description with earlier versions named: a delta against the
installed old version updates it; a delta against another version falls back
to the whole file, or, in a build of deltas only, stops before any question
with its own message and exit code 2; a delta damaged on its way is refused
before any question, and one the build recorded damaged leaves the
installation as it was."""

import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import harness
from texts import (CAPTION, CONFIRM_UPDATE, FILE_CAPTION, MB_ICONWARNING, MB_OK, UPDATE_ABORTED,
                   UPDATE_FILE_DAMAGED, UPDATE_FINISHED, WRITE_NOT_LOADED)

SOURCE = Path(__file__).resolve().parents[2]
PAYLOAD = ("LMH.exe", "dll/RESOURCE.dll")
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
DOES_NOT_FIT = ("インストールされている「Lantern Moonharbor」のバージョンには、このアップデートを適用できません。\n"
                "お使いのバージョンに対応したアップデートを入手して下さい。")


def run(args, **kwargs):
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        raise harness.HarnessError(f"{args[0]} failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    return done


class DeltaBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(os.environ["E2E_WORK_DIR"]) / "delta_builds"
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.work.mkdir(parents=True)
        sample = harness.windows_build_dir() / "sample"
        # A version the sample installation never holds: the new one itself.
        other = cls.work / "other"
        shutil.copytree(sample / "new", other)
        env = dict(os.environ, FPTOOL=str(harness.host_tool_fptool()))
        description = (SOURCE / "sample" / "update.ini").read_text(encoding="utf-8")
        cls.builds = {}
        cls.summaries = {}
        # The whole file beside the deltas stored, and compressed.
        for name, earlier, whole in (("from_old", sample / "old", "yes"), ("from_old_only", sample / "old", "no"),
                                     ("from_other", other, "yes\nCompression=zstd"),
                                     ("from_other_only", other, "no")):
            text = description.replace("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\n"
                                       f"File1Earlier1={earlier / 'LMH.exe'}\n"
                                       f"File2Earlier1={earlier / 'dll' / 'RESOURCE.dll'}\n"
                                       f"WholeFiles={whole}\n")
            ini = cls.work / f"{name}.ini"
            ini.write_text(text, encoding="utf-8")
            summary = run(["bash", SOURCE / "tools" / "make_update.sh", ini, "--payload", sample / "new",
                           "--tree", cls.work / name], env=env).stdout
            print(summary, file=sys.stderr)
            cls.summaries[name] = summary
            cls.builds[name] = cls.work / name / "UpDate.exe"

    def setUp(self):
        self.wine = harness.session()
        self.install = self.wine.install_sample("old")
        self.wine.write_profile(PROFILE)
        self.before = harness.tree_digest(self.install)

    def assert_new_version(self, report):
        installed, new = harness.tree_digest(self.install), harness.tree_digest(self.wine.sample_dir("new"))
        for name in PAYLOAD:
            self.assertEqual(installed[name], new[name], f"{name} is not the new version\n{report}")
        self.assertEqual(harness.verify_installation(self.install), "", report)
        profile = harness.parse_profile(self.wine.profile_bytes())
        self.assertEqual(profile.get("UPDATE", {}).get("NONACTIVATION"), "1", report)

    def assert_unchanged(self, report):
        self.assertEqual(harness.tree_digest(self.install), self.before, report)
        self.assertNotIn(b"NonActivation", self.wine.profile_bytes(), report)

    def test_a_delta_from_the_installed_version_updates_it(self):
        for name in ("from_old", "from_old_only"):
            with self.subTest(name):
                self.setUp()
                run_ = self.wine.run_updater("OK", "OK", updater=self.builds[name])
                report = run_.describe()
                self.assertEqual(run_.exit_code, 0, report)
                self.assertEqual([m.text_bytes for m in run_.messages],
                                 [CONFIRM_UPDATE.encode("cp932"), UPDATE_FINISHED.encode("cp932")], report)
                self.assert_new_version(report)

    def test_the_summary_lists_each_files_deltas_beside_the_whole_file(self):
        delta_size = lambda name, resource: (self.work / name / "windows" / "generated" / "deltas" /
                                             f"{resource}.delta1").stat().st_size
        frame = (self.work / "from_other" / "windows" / "generated" / "frames" / "LMH.EXE.zst").stat().st_size
        sample = harness.windows_build_dir() / "sample"
        self.assertRegex(self.summaries["from_other"],
                         rf"\n  LMH\.exe +{frame}  whole file, compressed \(393728 bytes\)\n"
                         rf"    delta 1 +{delta_size('from_other', 'LMH.EXE')}  against {self.work / 'other' / 'LMH.exe'} ")
        self.assertRegex(self.summaries["from_old_only"],
                         rf"\n  dll\\RESOURCE\.dll +-  no whole file \(deltas only; 2560 bytes new\)\n"
                         rf"    delta 1 +{delta_size('from_old_only', 'RESOURCE.DLL')}  against "
                         rf"{sample / 'old' / 'dll' / 'RESOURCE.dll'} \(1024 bytes\)")
        self.assertRegex(self.summaries["from_old"], r"\n  LMH\.exe +393728  whole file, stored\n")

    def test_a_delta_that_fits_no_installed_version(self):
        # The whole file is carried too: it is written instead.
        run_ = self.wine.run_updater("OK", "OK", updater=self.builds["from_other"])
        report = run_.describe()
        self.assertEqual(run_.exit_code, 0, report)
        self.assertEqual([m.text_bytes for m in run_.messages],
                         [CONFIRM_UPDATE.encode("cp932"), UPDATE_FINISHED.encode("cp932")], report)
        self.assert_new_version(report)

        # Deltas only: told before any question, exit code 2, nothing written.
        self.setUp()
        run_ = self.wine.run_updater("OK", updater=self.builds["from_other_only"])
        report = run_.describe()
        self.assertEqual(run_.exit_code, 2, report)
        self.assertEqual(len(run_.messages), 1, report)
        self.assertEqual(run_.messages[0].text_bytes, DOES_NOT_FIT.encode("cp932"), report)
        self.assertEqual(run_.messages[0].caption, CAPTION, report)
        self.assertEqual(run_.messages[0].style, MB_OK | MB_ICONWARNING, report)
        self.assert_unchanged(report)

    def damaged_delta(self):
        """A copy of the build of deltas only with a byte flipped in the middle
        of the game executable's delta frame, and that delta as a file."""
        generated = self.work / "from_old_only" / "windows" / "generated"
        delta = (generated / "deltas" / "LMH.EXE.delta1").read_bytes()
        at = 32 + (len(delta) - 32) // 2
        image = harness.damage_in_copy(self.builds["from_old_only"], delta, at, self.work / "damaged" / "UpDate.exe")
        damaged = bytearray(delta)
        damaged[at] ^= 0x40
        (self.work / "damaged" / "LMH.EXE.delta1").write_bytes(bytes(damaged))
        return image, generated

    def test_a_delta_damaged_on_its_way_is_refused_before_any_question(self):
        self.damaged_delta()
        run_ = self.wine.run_updater("OK", updater=self.work / "damaged" / "UpDate.exe")
        report = run_.describe()
        self.assertEqual(run_.exit_code, 2, report)
        self.assertEqual([(m.text_bytes, m.caption, m.style) for m in run_.messages],
                         [(UPDATE_FILE_DAMAGED.encode("cp932"), CAPTION, MB_OK | MB_ICONWARNING)], report)
        self.assert_unchanged(report)

    def test_an_installed_file_that_is_a_link_is_no_version(self):
        # The game executable a link to a copy of the old version elsewhere:
        # not read as an installed version, so that no file elsewhere is ever
        # decoded into the game; a build of deltas only does not fit.
        for hard in (True, False):
            with self.subTest("hard link" if hard else "symbolic link"):
                self.setUp()
                outside = self.wine.unix_path("C:\\e2e\\outside-delta")
                shutil.rmtree(outside, ignore_errors=True)
                outside.mkdir(parents=True)
                self.addCleanup(shutil.rmtree, outside, True)
                copy = Path(shutil.copy2(self.install / "LMH.exe", outside / "LMH.exe"))
                exe = self.install / "LMH.exe"
                exe.unlink()
                if hard:
                    os.link(copy, exe)
                else:
                    exe.symlink_to(copy)
                before = (copy.read_bytes(), copy.stat().st_mtime_ns)
                run_ = self.wine.run_updater("OK", updater=self.builds["from_old_only"])
                report = run_.describe()
                self.assertEqual(run_.exit_code, 2, report)
                self.assertEqual([m.text_bytes for m in run_.messages], [DOES_NOT_FIT.encode("cp932")], report)
                self.assertEqual((copy.read_bytes(), copy.stat().st_mtime_ns), before, report)
                self.assertEqual([p.name for p in self.install.rglob("*") if ".UpDate-" in p.name], [], report)
                self.assertNotIn(b"NonActivation", self.wine.profile_bytes(), report)

    def test_a_damaged_delta_leaves_the_installation(self):
        # The damaged delta recorded as the build's own, in a build that has
        # no whole file to fall back on: the decoder finds it.
        image, generated = self.damaged_delta()
        new = self.wine.sample_dir("new")
        damaged = self.work / "damaged" / "recorded.exe"
        harness.record_as_built(image, generated / "payload.hashes", [
            ("delta", "LMH.EXE$1", self.work / "damaged" / "LMH.EXE.delta1", new / "LMH.exe"),
            ("delta", "RESOURCE.DLL$1", generated / "deltas" / "RESOURCE.DLL.delta1", new / "dll" / "RESOURCE.dll"),
        ], damaged)
        run_ = self.wine.run_updater("OK", "OK", "OK", updater=damaged)
        report = run_.describe()
        self.assertEqual(run_.exit_code, 0, report)
        texts = [m.text_bytes for m in run_.messages]
        self.assertEqual(texts, [CONFIRM_UPDATE.encode("cp932"), WRITE_NOT_LOADED.encode("cp932"),
                                 UPDATE_ABORTED.encode("cp932")], report)
        self.assertIn(run_.messages[1].caption, (FILE_CAPTION.format(file="LMH.exe"),
                                                 FILE_CAPTION.format(file="dll\\RESOURCE.dll")), report)
        self.assert_unchanged(report)
        leftovers = [p for p in self.install.rglob("*") if ".UpDate-" in p.name]
        self.assertEqual(leftovers, [], report)


if __name__ == "__main__":
    unittest.main()
