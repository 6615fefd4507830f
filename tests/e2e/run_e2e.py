"""Runs the end-to-end tests of UpDate.exe under Wine.

  python3 run_e2e.py --windows-build-dir DIR --work-dir DIR [test_module ...]

All modules run in this one process so that they share the Wine prefix,
the wineserver and the X display. Each case's time is printed.
"""

import argparse
import os
import sys
import time
import unittest
from pathlib import Path



class TimedResult(unittest.TextTestResult):
    def startTest(self, test):
        self._began = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        self.stream.writeln(f"    [{time.monotonic() - self._began:.2f} s] {test.id()}")
        self.stream.flush()


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build-dir", required=True, type=Path)
    parser.add_argument("--work-dir", required=True, type=Path)
    parser.add_argument("modules", nargs="*")
    args = parser.parse_args()

    here = Path(__file__).resolve().parent
    sys.path.insert(0, str(here))
    os.environ["E2E_WINDOWS_BUILD_DIR"] = str(args.windows_build_dir.resolve())
    os.environ["E2E_WORK_DIR"] = str(args.work_dir.resolve())

    loader = unittest.TestLoader()
    if args.modules:
        suite = loader.loadTestsFromNames(args.modules)
    else:
        suite = loader.discover(str(here), pattern="test_*.py", top_level_dir=str(here))
    import harness
    began = time.monotonic()
    try:
        result = unittest.TextTestRunner(verbosity=2, resultclass=TimedResult).run(suite)
    finally:
        harness.stop_sessions()
    print(f"e2e: {result.testsRun} cases in {time.monotonic() - began:.1f} s, {len(result.skipped)} skipped")
    if harness.waited:
        print(harness.waits_report())
    # A case that could not run has shown nothing: the entry fails, so that
    # a suite that ran less than all of itself is never taken for a pass.
    return 0 if result.wasSuccessful() and not result.skipped else 1


if __name__ == "__main__":
    sys.exit(main())
