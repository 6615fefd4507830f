"""A crash is never success: programs started through watcher.exe exactly
as UpDate.exe is, that die on purpose in the main thread or a second one,
before or after their first window, are each reported as a death, whatever
exit code the watcher read; the one that leaves by its own exit path is
reported as a normal end."""

import json
import os
import signal
import unittest
from dataclasses import dataclass

import harness
import live_run

PROBE = "fault_probe.exe"
WINDOW_CLASS = "FaultProbe"
DIED = f"{PROBE} died without its normal exit"


@dataclass
class Row:
    way: str  # FAULT_PROBE, see tests/watcher/fault_probe.c
    how: str  # the ending wanted
    window: bool  # the probe's window showed before the end
    exit_code: object = None  # wanted, when the row is about the code the watcher reads


ROWS = [
    Row("exit", "exit", True, 0),
    Row("main-before", "crash", False),
    Row("main-after", "crash", True),
    Row("thread-before", "crash", False),
    Row("thread-after", "crash", True),
    # The death that reads as success by its exit code: only the missing
    # mark of a normal exit tells it.
    Row("quiet-after", "crash", True, 0),
]


class CrashTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()
        self.probe = harness.built_program(PROBE)

    def check_ending(self, row: Row, run: harness.RunResult):
        report = f"{row.way}\n{run.describe()}\nWine printed:\n{run.wine_output[-2000:]}"
        self.assertFalse(run.timed_out or run.unanswered, report)
        windows = [w for w in run.other_windows if w["class"] == WINDOW_CLASS]
        self.assertEqual(bool(windows), row.window, report)
        if row.exit_code is not None:
            self.assertEqual(run.exit_code, row.exit_code, report)
        self.assertEqual(run.ending.how, row.how, report)
        self.assertEqual(run.ending.normal, row.how == "exit", report)
        if row.how == "crash":
            self.assertTrue(run.ending.text.startswith(DIED), report)

    def test_each_death_is_reported_as_one(self):
        for row in ROWS:
            with self.subTest(row.way):
                run = harness.run_watched(self.wine, program=self.probe, env={"FAULT_PROBE": row.way},
                                          expect_exit=False)
                self.check_ending(row, run)
                # Where a normal end is expected, as for every run of
                # UpDate.exe, anything else fails the case, naming it.
                if row.how == "exit":
                    harness.judged(run, PROBE, run.wine_output.encode(), expect_exit=True)
                else:
                    with self.assertRaises(AssertionError) as failure:
                        harness.judged(run, PROBE, run.wine_output.encode(), expect_exit=True)
                    self.assertIn(DIED, str(failure.exception))

    def test_host_process_killed_while_its_window_shows(self):
        # As when the emulator dies under the program: its host process is
        # gone at once, and no code of the program runs on the way out.
        killed = []

        def on_event(event):
            if event.get("event") == "window" and event.get("class") == WINDOW_CLASS and not killed:
                pid = harness.program_process(self.wine, PROBE)[0]
                os.kill(pid, signal.SIGKILL)
                killed.append(pid)

        events = live_run.follow(self.wine, self.probe, [], on_event, timeout=120, env={"FAULT_PROBE": "wait"})
        run = harness.parse_events([json.dumps(e) for e in events])
        self.assertTrue(killed, f"the probe's window never showed: {events}")
        self.check_ending(Row("wait, killed", "crash", True), run)
        self.assertIn("saw no exit", run.ending.text, run.describe())


if __name__ == "__main__":
    unittest.main()
