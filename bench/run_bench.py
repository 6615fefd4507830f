#!/usr/bin/env python3
"""Whole-run figures of UpDate.exe under Wine (prints figures, asserts nothing):

1. The update run writing a large payload (192 MiB and 768 MiB), from the
   confirmation's OK to the final message, beside copies of the same bytes in
   the same prefix, in pieces of the same size: a plain copy, and a durable
   one flushed to the disk before it is closed, as the update flushes before
   it switches files in. Beside them the floor that the window refresh sets:
   as many empty one-message pumps as the run has pieces. The update's limit
   is the durable copy plus that floor.
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
PIECE = 0xFFFE  # the largest write of the update run


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


def timed_program(session, program: Path, *args: str) -> float:
    """A helper program's own measure of its work, in seconds."""
    out = subprocess.run(["wine", str(program), *args], env=session.env, capture_output=True, text=True,
                         cwd=session.drive_c, check=True)
    return float(out.stdout.strip())


def best(name: str, times: list) -> float:
    print(f"  {name}: best {min(times):.3f} s of {', '.join(f'{t:.3f}' for t in times)}")
    return min(times)


def whole_run(session, windows: Path, label: str, tree: str, rounds: int):
    """The update run beside the copies and the pump floor, one payload size."""
    payload = [windows / tree / "payload" / "LMH.exe", windows / tree / "payload" / "dll" / "RESOURCE.dll"]
    updater = windows / tree / "bin" / "UpDate.exe"
    bench = windows / "bench"
    source_win = r"C:\bench\source.bin"
    source = session.unix_path(source_win)
    source.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(payload[0], source)
    size = sum(p.stat().st_size for p in payload)
    pieces = sum(-(-p.stat().st_size // PIECE) for p in payload)
    runs, plain, durable, floor = [], [], [], []
    # Rounds alternate, so that a slow spell of the shared machine touches all alike.
    for _ in range(rounds):
        runs.append(timed_update(session, updater, windows / "sample" / "old"))
        plain.append(timed_program(session, bench / "copy_file.exe", source_win, r"C:\bench\copy.bin"))
        durable.append(timed_program(session, bench / "copy_file.exe", "--durable", source_win,
                                     r"C:\bench\copy.bin"))
        floor.append(timed_program(session, bench / "pump_floor.exe", str(pieces)))
    print(f"{label}: update of {size:,} bytes in {pieces:,} pieces")
    run = best("update run", runs)
    plain_best = best("plain copy", plain)
    durable_best = best("durable copy", durable)
    floor_best = best(f"pump floor ({pieces:,} empty pumps)", floor)
    limit = durable_best + floor_best
    print(f"  limit (durable copy + pump floor): {limit:.3f} s")
    print(f"  ratio run / limit: {run / limit:.2f}   run / durable copy: {run / durable_best:.2f}   "
          f"run / plain copy: {run / plain_best:.2f}")
    source.unlink()
    session.unix_path(r"C:\bench\copy.bin").unlink(missing_ok=True)


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
        # 1. The run beside the copies and the pump floor.
        for label, tree in (("192 MiB", "demo"), ("768 MiB", "bench768")):
            whole_run(session, windows, label, tree, args.rounds)

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
