"""Many slice flushes in one run: builds of the sample update whose game
executable is grown to a few MiB and flushed every MiB (make_update.sh
--flush-slice), stored and compressed, run several times each over the old
version. Every run must end by the program's own exit with the new files in
place, nothing left beside them and the record written: a program that dies
between its flushes (as a second thread under the i386 emulator did) fails
here whatever exit code the watcher reads. Also: the platform backend's
answer to whether QEMU makes the processor, which keeps the program to one
thread there, matches how the probe's host process really runs."""

import os
import select
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import harness
from texts import CONFIRM_UPDATE, UPDATE_FINISHED

SOURCE = Path(__file__).resolve().parents[2]
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"
PAYLOAD = ("LMH.exe", "dll/RESOURCE.dll")
SLICE = 1 << 20
# Not a whole number of slices, so that the last flush has a part slice.
GAME_SIZE = 7 * SLICE + 12345
RUNS = 3


def make_build(ini: Path, payload: Path, tree: Path) -> Path:
    env = dict(os.environ, FPTOOL=str(harness.host_tool_fptool()))
    done = subprocess.run(["bash", str(SOURCE / "tools" / "make_update.sh"), str(ini), "--payload", str(payload),
                           "--tree", str(tree), "--flush-slice", str(SLICE)], env=env, capture_output=True, text=True)
    if done.returncode != 0:
        raise harness.HarnessError(f"make_update.sh failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    print(done.stdout, file=sys.stderr)
    return tree / "UpDate.exe"


class ManyFlushesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(os.environ["E2E_WORK_DIR"]) / "many_flushes"
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.work.mkdir(parents=True)
        new = harness.windows_build_dir() / "sample" / "new"
        cls.payload = cls.work / "payload"
        shutil.copytree(new, cls.payload)
        game = cls.payload / "LMH.exe"
        record = harness.record_text(game)
        # Grown with its record kept, so that the new module still describes it.
        harness.fptool("pad", game, GAME_SIZE, record[:8], record[8:])
        harness.fptool("check", cls.payload / "dll" / "RESOURCE.dll", game)
        description = (SOURCE / "sample" / "update.ini").read_text(encoding="utf-8")
        stored = cls.work / "stored.ini"
        stored.write_text(description, encoding="utf-8")
        compressed = cls.work / "compressed.ini"
        compressed.write_text(description.replace("[Payload]\n", "[Payload]\nCompression=zstd\n"), encoding="utf-8")
        cls.builds = {name: make_build(ini, cls.payload, cls.work / f"tree-{name}")
                      for name, ini in (("stored", stored), ("compressed", compressed))}

    def setUp(self):
        self.wine = harness.session()

    def test_every_run_ends_updated_by_its_own_exit(self):
        self.assertEqual((self.payload / "LMH.exe").stat().st_size, GAME_SIZE)
        for name, build in self.builds.items():
            # The slice reached the program's constants, so the runs below flush many times.
            constants = (build.parent / "windows" / "generated" / "update_build.cpp").read_text()
            self.assertIn(f"    {SLICE}u,  // bytes of a new file written between two of its flushes", constants,
                          name)
        new = harness.tree_digest(self.payload)
        for name, build in self.builds.items():
            for attempt in range(1, RUNS + 1):
                with self.subTest(build=name, run=attempt):
                    install = self.wine.install_sample("old")
                    self.wine.write_profile(PROFILE)
                    run = self.wine.run_updater("OK", "OK", updater=build)
                    report = f"{name} build, run {attempt}:\n{run.describe()}"
                    self.assertFalse(run.timed_out or run.unanswered, report)
                    self.assertEqual([m.text for m in run.messages], [CONFIRM_UPDATE, UPDATE_FINISHED], report)
                    self.assertEqual(run.exit_code, 0, report)
                    self.assertEqual(harness.tree_digest(install), new, f"not the new set, or files left\n{report}")
                    profile = harness.parse_profile(self.wine.profile_bytes())
                    self.assertEqual(profile.get("UPDATE", {}).get("NONACTIVATION"), "1", report)

    def test_the_backend_tells_qemus_processor_as_the_process_runs(self):
        probe = harness.built_program("processor_probe.exe")
        with open(os.devnull, "wb") as quiet:
            process = subprocess.Popen(["wine", str(probe)], env=self.wine.env, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=quiet, cwd=self.wine.drive_c)
        try:
            # A probe that died before it answered must not hang the case.
            ready, _, _ = select.select([process.stdout], [], [], harness.WineSession.WINE_LIMIT)
            self.assertTrue(ready, "processor_probe.exe said nothing")
            answer = process.stdout.readline().decode("ascii", errors="replace").strip()
            _, host = harness.program_process(self.wine, "processor_probe.exe")
        finally:
            process.stdin.close()
            process.wait(harness.WineSession.WINE_LIMIT)
            process.stdout.close()
        mode = harness.i386_mode(host)
        self.assertEqual(answer, "qemu" if mode.startswith("emulated") else "not qemu", mode)


if __name__ == "__main__":
    unittest.main()
