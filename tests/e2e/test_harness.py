"""The harness itself: a Wine or a display that fails or hangs is reported
once, in one line naming its limit and its log, within that limit, and
leaves nothing behind (the prefix lock free, no process of its own
running); a program that crashes ends. And the demonstration's judgement of
an outcome: what an update answered with OK lacks, what a Cancel changed."""

import fcntl
import os
import subprocess
import sys
import tempfile
import time
import unittest
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, Optional

import harness

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tools"))
import demo  # noqa: E402

# Stand-ins for the programs the harness starts, put first on PATH. Each
# notes its process id, and a hanging one also that of a child it waits on,
# so that the test can tell whether anything was left running.
EXITS = "#!/bin/sh\necho $$ >> \"$HARNESS_STANDIN_LOG\"\necho \"{name}: cannot do that\" >&2\nexit {code}\n"
HANGS = "#!/bin/sh\necho $$ >> \"$HARNESS_STANDIN_LOG\"\nsleep 300 &\necho $! >> \"$HARNESS_STANDIN_LOG\"\nwait\n"
# Xvfb that starts but never names its display.
XVFB_SILENT = HANGS
OK = "#!/bin/sh\necho $$ >> \"$HARNESS_STANDIN_LOG\"\nexit 0\n"

SHORT = 3  # the limits of the hanging cases, in seconds


@dataclass
class Case:
    name: str
    standins: Dict[str, str]
    message: str
    shorten: bool = False  # hanging cases run with SHORT limits
    logged: Optional[str] = None  # what the harness's log holds of the failing helper


CASES = [
    Case("wineboot exits 126", {"wineboot": EXITS.format(name="wineboot", code=126)},
         "wineboot -i (making the Wine prefix) failed with exit code 126: wineboot: cannot do that",
         logged="wineboot: cannot do that"),
    Case("wineboot hangs", {"wineboot": HANGS},
         f"wineboot -i (making the Wine prefix) did not end within {SHORT} s", shorten=True,
         logged=f"wineboot -i  [did not end, "),
    Case("Xvfb ends at once", {"Xvfb": EXITS.format(name="Xvfb", code=1)},
         "Xvfb did not start: it ended with exit code 1"),
    Case("Xvfb names no display", {"Xvfb": XVFB_SILENT},
         f"Xvfb did not start: it named no display within {SHORT} s", shorten=True),
    Case("wine cannot start a program", {"wineboot": OK, "wine": EXITS.format(name="wine", code=126)},
         "failed with exit code 126: wine: cannot do that", logged="wine: cannot do that"),
    Case("wine hangs, and so does the wineserver at the end", {"wineboot": OK, "wine": HANGS, "wineserver": HANGS},
         f"did not end within {SHORT} s", shorten=True),
]


def lock_is_free(work: Path) -> bool:
    with open(work / "prefix.lock", "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            return False
        fcntl.flock(lock, fcntl.LOCK_UN)
        return True


def alive(pid: int) -> bool:
    try:
        state = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state != "Z"


def children() -> list:
    mine = str(os.getpid())
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if fields[1] == mine and fields[0] != "Z":
                found.append(int(entry.name))
    return found


class StandInTest(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="harness-test-"))
        self.saved_path = os.environ["PATH"]
        self.saved_log = os.environ.get("HARNESS_STANDIN_LOG")
        self.earlier_children = set(children())  # a session of another case, say

    def tearDown(self):
        os.environ["PATH"] = self.saved_path
        if self.saved_log is None:
            os.environ.pop("HARNESS_STANDIN_LOG", None)
        else:
            os.environ["HARNESS_STANDIN_LOG"] = self.saved_log
        subprocess.run(["rm", "-rf", str(self.scratch)])

    def stand_in(self, folder: Path, programs: Dict[str, str]) -> Path:
        folder.mkdir(parents=True)
        for name, script in programs.items():
            (folder / name).write_text(script)
            (folder / name).chmod(0o755)
        log = folder / "pids"
        log.write_text("")
        os.environ["PATH"] = f"{folder}:{self.saved_path}"
        os.environ["HARNESS_STANDIN_LOG"] = str(log)
        return log

    def test_failing_or_hanging_programs(self):
        for n, case in enumerate(CASES):
            with self.subTest(case.name):
                log = self.stand_in(self.scratch / f"bin{n}", case.standins)
                work = self.scratch / f"work{n}"
                session = harness.WineSession(self.scratch, work)
                if case.shorten:
                    session.XVFB_LIMIT = session.PREFIX_LIMIT = session.WINE_LIMIT = SHORT
                    session.STOP_LIMIT = SHORT
                began = time.monotonic()
                with self.assertRaises(harness.HarnessError) as failure:
                    session.start()
                took = time.monotonic() - began
                message = str(failure.exception)
                self.assertIn(case.message, message)
                self.assertNotIn("\n", message)
                if case.logged:
                    self.assertIn(f"(its output: {session.log_path})", message)
                    self.assertIn(case.logged, session.log_path.read_text())
                # The limits of the case, the stop's two waits, and a margin.
                bound = (4 * SHORT + 10) if case.shorten else 20
                self.assertLess(took, bound, f"{case.name}: {took:.1f} s")
                self.assertTrue(lock_is_free(work), case.name)
                pids = [int(p) for p in log.read_text().split()]
                self.assertTrue(pids, f"{case.name}: no stand-in ran")
                self.assertEqual([p for p in pids if alive(p)], [], f"{case.name}: stand-ins left running")
                self.assertEqual(set(children()) - self.earlier_children, set(),
                                 f"{case.name}: children left running (Xvfb?)")

    def test_a_suite_without_wine_fails_each_entry_quickly_and_says_why_once(self):
        self.stand_in(self.scratch / "bin", {"wineboot": EXITS.format(name="wineboot", code=126)})
        work = self.scratch / "work"
        began = time.monotonic()
        done = subprocess.run([sys.executable, str(HERE / "run_e2e.py"), "--windows-build-dir",
                               str(harness.windows_build_dir()), "--work-dir", str(work),
                               "test_update", "test_verification"],
                              capture_output=True, text=True, timeout=120)
        took = time.monotonic() - began
        output = done.stdout + done.stderr
        self.assertNotEqual(done.returncode, 0, output)
        self.assertLess(took, 60, output)
        self.assertEqual(output.count("wineboot -i (making the Wine prefix) failed with exit code 126"), 1, output)
        self.assertTrue(lock_is_free(work), output)


    def test_an_entry_with_a_skipped_case_fails(self):
        (self.scratch / "skipping_case.py").write_text(
            "import unittest\n\n"
            "class Case(unittest.TestCase):\n"
            "    def test_runs(self):\n        pass\n\n"
            "    def test_cannot_run_here(self):\n        self.skipTest('no drive to mount')\n")
        done = subprocess.run([sys.executable, str(HERE / "run_e2e.py"), "--windows-build-dir", str(self.scratch),
                               "--work-dir", str(self.scratch / "work"), "skipping_case"],
                              capture_output=True, text=True, timeout=60,
                              env=dict(os.environ, PYTHONPATH=str(self.scratch)))
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("1 skipped", done.stdout + done.stderr)


class EndingTest(unittest.TestCase):
    """How a run ended, from the watcher's exit event and what Wine printed:
    only the program's own exit, with no death reported, is a normal end."""

    QEMU = "qemu: uncaught target signal 11 (Segmentation fault) - core dumped"
    WINE = "wine: Unhandled page fault on write access to 00000000 at address 00401737 (thread 0024), starting debugger..."

    def test_verdicts(self):
        # (exit code, mark, timed out, what Wine printed) -> how, start of the text
        died = "UpDate.exe died without its normal exit"
        for code, mark, timed_out, printed, how, text in [
            (0, "exit", False, "", "exit", "UpDate.exe left by its own exit path, exit code 0"),
            (0, "exit", False, f"fixme:x\n{self.QEMU}\n", "crash",
             f"{died}: qemu: uncaught target signal 11 (Segmentation fault) - core dumped"),
            (0xC0000005, "none", False, self.WINE + "\n", "crash", f"{died}: {self.WINE}"),
            (0, "none", False, "", "crash", f"{died}: watch_hook.dll was in it and saw no exit (exit code 0)"),
            (0xC000001D, "not_loaded", False, "", "crash", f"{died}: exception 0xc000001d"),
            (0, "not_loaded", False, "", "unknown", "UpDate.exe ended without a mark of its normal exit"),
            (0, "unloaded", False, "", "unknown", "UpDate.exe ended without a mark of its normal exit"),
            (0xDEAD, "none", True, "", "killed", "UpDate.exe was ended by the watcher at its time limit"),
        ]:
            with self.subTest(mark=mark, printed=printed):
                ending = harness.judge_ending("UpDate.exe", code, mark, timed_out, False, printed)
                self.assertEqual(ending.how, how, ending.text)
                self.assertTrue(ending.text.startswith(text), ending.text)
                self.assertEqual(ending.normal, how == "exit")


class DemoOutcomeTest(unittest.TestCase):
    """tools/demo.py's checks of what a run left, on small folders."""

    PROFILE = b"[INSTALL]\r\nInstallFold=C:\\Games\\LMH\r\n"
    RECORDED = PROFILE + b"[UPDATE]\r\nNonActivation=1\r\n"
    FINISHED = "アップデートが終了しました。"

    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="demo-outcome-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(self.scratch)])

    def tree(self, name: str, files: Dict[str, bytes]) -> Path:
        root = self.scratch / name
        for path, data in files.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            (root / path).write_bytes(data)
        return root

    def test_an_update_lacking_anything_says_what(self):
        old = {"LMH.exe": b"old game", "dll/RESOURCE.dll": b"old module", "story.txt": b"story",
               "list.txt": b"b;\r\n"}
        payload = self.tree("payload", {"LMH.exe": b"new game", "dll/RESOURCE.dll": b"new module",
                                        "list.txt": b"a;\r\n"})
        done = dict(old, **{"LMH.exe": b"new game", "dll/RESOURCE.dll": b"new module", "list.txt": b"a;\nb;\r\n\0"})
        cases = [
            ("complete", done, self.RECORDED, [self.FINISHED], []),
            ("the game left as it was, the new one beside it",
             dict(done, **{"LMH.exe": b"old game", "LMH.exe.UpDate-new": b"new game"}), self.RECORDED,
             [self.FINISHED], ["LMH.exe is not the payload's", "left in the installation: LMH.exe.UpDate-new"]),
            ("a payload file missing", {k: v for k, v in done.items() if k != "dll/RESOURCE.dll"}, self.RECORDED,
             [self.FINISHED], ["dll/RESOURCE.dll is missing"]),
            ("the list not merged but replaced", dict(done, **{"list.txt": b"a;\r\n"}), self.RECORDED,
             [self.FINISHED], ["the entry list list.txt lacks 1 of the installed list's entries"]),
            ("a file outside the payload changed", dict(done, **{"story.txt": b"other"}), self.RECORDED,
             [self.FINISHED], ["changed or removed, though not in the payload: story.txt"]),
            ("no record", done, self.PROFILE, [self.FINISHED], ["no update record in the profile file"]),
            ("another update recorded", done, self.PROFILE + b"[UPDATE]\r\nNonActivation=2\r\n", [self.FINISHED],
             ["the profile file records update '2', not '1'"]),
            ("no final box", done, self.RECORDED, [], ["the final box was not seen"]),
        ]
        for n, (name, files, profile, boxes, expected) in enumerate(cases):
            with self.subTest(name):
                folder = self.tree(f"install{n}", old)
                before = harness.tree_digest(folder)
                subprocess.run(["rm", "-rf", str(folder)], check=True)
                folder = self.tree(f"install{n}", files)
                missing = demo.update_missing(folder, payload, before, "list.txt", old["list.txt"], self.PROFILE,
                                              profile, "1", self.FINISHED, boxes)
                self.assertEqual(missing, expected)

    def test_a_cancel_must_leave_all_as_it_was(self):
        old = {"LMH.exe": b"old game", "dll/RESOURCE.dll": b"old module"}
        cases = [
            ("as it was", old, self.PROFILE, []),
            ("a file written", dict(old, **{"LMH.exe": b"new game"}), self.PROFILE,
             ["the installation changed: LMH.exe"]),
            ("a file left beside", dict(old, **{"LMH.exe.UpDate-new": b"x"}), self.PROFILE,
             ["the installation changed: LMH.exe.UpDate-new"]),
            ("the record written", old, self.RECORDED, ["the profile file changed"]),
        ]
        for n, (name, files, profile, expected) in enumerate(cases):
            with self.subTest(name):
                folder = self.tree(f"install{n}", old)
                before = harness.tree_digest(folder)
                subprocess.run(["rm", "-rf", str(folder)], check=True)
                folder = self.tree(f"install{n}", files)
                self.assertEqual(demo.nothing_changed(folder, before, self.PROFILE, profile), expected)


class CrashTest(unittest.TestCase):
    def test_a_program_that_crashes_ends_at_once(self):
        wine = harness.session()
        began = time.monotonic()
        done = harness.run_windows_program(wine, harness.built_program("crash_probe.exe"), timeout=60)
        took = time.monotonic() - began
        self.assertNotEqual(done.returncode, 0)
        # A debugger waiting for a user would hold it until the limit above.
        self.assertLess(took, 30, f"{took:.1f} s")


if __name__ == "__main__":
    unittest.main()
