#!/usr/bin/env python3
"""Whole-run figures of UpDate.exe under Wine (prints figures, asserts nothing):

1. The update run writing the demonstration payload (192 MiB), from the
   confirmation's OK to the final message, beside a plain copy of the same
   bytes in the same prefix, in pieces of the same size: the ratio.
2. The peak memory of UpDate.exe once it has verified an installation whose
   game executable is 1 GiB, beside one of the sample's size.

  python3 bench/run_bench.py [--rounds N]
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402
import live_run  # noqa: E402

CAPTION = "Lantern Moonharbor - Update Program"
INSTALL_WIN = r"C:\bench\install"


def install(session, source: Path, game: Path = None):
    folder = session.unix_path(INSTALL_WIN)
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source, folder)
    if game is not None:
        shutil.copyfile(game, folder / "LMH.exe")
    session.write_profile(f"[INSTALL]\r\nInstallFold={INSTALL_WIN}\r\n")


def timed_update(session, updater: Path, old: Path) -> float:
    """Seconds from the answer to the confirmation to the final message."""
    install(session, old)
    marks = {}

    def on_event(event):
        if event["event"] == "answer" and event["index"] == 1:
            marks["ok"] = event["ms"]
        elif event["event"] == "message" and event["index"] == 2:
            marks["done"] = event["ms"]
        elif event["event"] == "exit" and event["code"] != 0:
            raise SystemExit(f"the update ended with {event['code']}")

    # Without the percentage hook and with a lazy look at the windows: the
    # watcher must not slow down what it measures.
    live_run.follow(session, updater, ["OK", "OK"], on_event, extra=["--no-hook", "--poll", "10"])
    return (marks["done"] - marks["ok"]) / 1000.0


def timed_copy(session, copier: Path, source_win: str) -> float:
    out = subprocess.run(["wine", str(copier), source_win, r"C:\bench\copy.bin"], env=session.env,
                         capture_output=True, text=True, cwd=session.drive_c, check=True)
    return float(out.stdout.strip())


def peak_memory(session, updater: Path, source: Path, game: Path) -> dict:
    """UpDate.exe's peak memory while it waits at the confirmation."""
    install(session, source, game)
    memory = {}
    prober = session.windows_build_dir / "bench" / "process_memory.exe"

    def on_event(event):
        if event["event"] == "paused" and event["index"] == 1:
            out = subprocess.run(["wine", str(prober), CAPTION], env=session.env, capture_output=True, text=True,
                                 cwd=session.drive_c)
            memory.update(json.loads(out.stdout) if out.returncode == 0 else {"error": out.returncode})

    live_run.follow(session, updater, ["Cancel"], on_event)
    return memory


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    build = Path(os.environ.get("UPDATER_BUILD_DIR", ROOT / "build")).resolve()
    windows = build / "windows"
    fptool = build / "native" / "bin" / "fptool"
    session = harness.WineSession(windows, build / "bench" / "wine")
    session.start()
    try:
        # 1. The run beside a plain copy.
        payload = windows / "demo" / "payload" / "LMH.exe"
        source = session.unix_path(r"C:\bench\source.bin")
        source.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(payload, source)
        runs, copies = [], []
        for _ in range(args.rounds):
            runs.append(timed_update(session, windows / "demo" / "bin" / "UpDate.exe", windows / "sample" / "old"))
            copies.append(timed_copy(session, windows / "bench" / "copy_file.exe", r"C:\bench\source.bin"))
        size = payload.stat().st_size + (windows / "demo" / "payload" / "dll" / "RESOURCE.dll").stat().st_size
        run, copy = min(runs), min(copies)
        print(f"update run, {size:,} bytes: best {run:.3f} s of {', '.join(f'{r:.3f}' for r in runs)}")
        print(f"plain copy, {payload.stat().st_size:,} bytes: best {copy:.3f} s of {', '.join(f'{c:.3f}' for c in copies)}")
        print(f"ratio run / copy: {run / copy:.2f}")
        source.unlink()
        session.unix_path(r"C:\bench\copy.bin").unlink(missing_ok=True)

        # 2. Peak memory after verifying a 1 GiB game executable.
        big = build / "bench" / "LMH-1GiB.exe"
        if not big.is_file():
            shutil.copyfile(windows / "sample" / "new" / "LMH.exe", big)
            subprocess.run([fptool, "pad", big, str(1 << 30), "027e8a16", "d49f3f5a"], check=True,
                           stdout=subprocess.DEVNULL)
        new = windows / "sample" / "new"
        small = peak_memory(session, windows / "bin" / "UpDate.exe", new, None)
        large = peak_memory(session, windows / "bin" / "UpDate.exe", new, big)
        mib = 1 << 20
        for name, m in (("393,728-byte game executable", small), ("1 GiB game executable", large)):
            if "error" in m:
                print(f"peak memory, {name}: not measured ({m})")
            else:
                print(f"peak memory after verifying a {name}: working set {m['peak_working_set'] / mib:.1f} MiB, "
                      f"private {m['peak_private'] / mib:.1f} MiB")
        session.remove_installation(INSTALL_WIN)
    finally:
        session.stop()


if __name__ == "__main__":
    main()
