#!/usr/bin/env python3
"""Whole-run figures of UpDate.exe under Wine (prints figures, asserts nothing):

0. On a payload of real program code (the sample's game executable followed
   by Wine's 32-bit DLLs, 192 MiB and 768 MiB): the size of UpDate.exe stored
   and compressed beside an NSIS installer of the same bytes (SetCompressor
   /SOLID lzma, at 192 MiB); each run beside its limit (the durable copy,
   the pump floor and one read of the new file for the proof, plus, for the
   compressed build, decoding its frame in memory alone with the same 32-bit
   decoder under Wine); the NSIS installer's whole run, its progress page
   shown, less that of the same installer of a one-byte file; the peak
   memory of each run.

1. The update run writing a large payload (192 MiB and 768 MiB), from the
   confirmation's OK to the final message, beside copies of the same bytes in
   the same prefix, in pieces of the same size: a plain copy, and a durable
   one flushed to the disk before it is closed, as the update flushes before
   it switches files in. Beside them the floor that the window refresh sets:
   as many empty one-message pumps as the run has pieces. The update's limit
   is the durable copy plus that floor.
2. The peak memory of UpDate.exe once it has verified an installation whose
   game executable is 1 GiB, beside one of the sample's size.

  python3 bench/run_bench.py [--rounds N] [--only sample|realcode] [--realcode-mib N]... [--prepare]
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
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


def timed_update(session, updater: Path, old: Path, poll_ms: int = 10) -> float:
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
    live_run.follow(session, updater, ["OK", "OK"], on_event, extra=["--no-hook", "--poll", str(poll_ms)],
                    on_mode=tell_mode_once)
    return (marks["done"] - marks["ok"]) / 1000.0


_modes_told = set()


def tell_mode_once(mode: str):
    """Every figure is read beside how the 32-bit programs ran: where i386 is
    emulated, times of 32-bit computing mean little."""
    if mode not in _modes_told:
        _modes_told.add(mode)
        print(f"  (UpDate.exe ran as an i386 program: {mode})", flush=True)


def timed_program(session, program: Path, *args: str) -> float:
    """A helper program's own measure of its work, in seconds."""
    out = subprocess.run(["wine", str(program), *args], env=session.env, capture_output=True, text=True,
                         cwd=session.drive_c, check=True)
    return float(out.stdout.strip())


def best(name: str, times: list) -> float:
    print(f"  {name}: best {min(times):.3f} s, median {statistics.median(times):.3f} s "
          f"of {', '.join(f'{t:.3f}' for t in times)}")
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


# ---- a payload of real program code, stored, compressed and in an NSIS installer

DLLS = Path("/usr/lib/i386-linux-gnu/wine/i386-windows")
REALCODE_SIZES = (192 << 20, 768 << 20)
DESCRIPTION = """[Product]
MakerFolder=KESTRIN
Abbreviation=LMH
DisplayName=Lantern Moonharbor
[Update]
Number=1
[Payload]
Folder=payload
{compression}File1=LMH.exe
File2=dll\\RESOURCE.dll
"""
NSIS_SCRIPT = """Unicode true
SetCompressor /SOLID lzma
Name "Bench"
OutFile "{out}"
InstallDir "C:\\bench\\nsis"
RequestExecutionLevel user
AutoCloseWindow true
Page instfiles
Section
  SetOutPath "$INSTDIR"
  File "{file}"
SectionEnd
"""


def realcode_payload(build: Path, windows: Path, fptool: Path, size: int) -> Path:
    """The sample's new game executable followed by Wine's 32-bit DLLs, one
    after another (from the first again when they run out), cut at size,
    and a fingerprint module made for it by tools/make_module.sh."""
    folder = build / "bench" / f"realcode-{size >> 20}"
    game = folder / "payload" / "LMH.exe"
    module = folder / "payload" / "dll" / "RESOURCE.dll"
    if game.is_file() and game.stat().st_size == size and module.is_file():
        return folder
    module.parent.mkdir(parents=True, exist_ok=True)
    part = game.with_suffix(".part")
    with open(part, "wb") as out:
        out.write((windows / "sample" / "new" / "LMH.exe").read_bytes())
        while out.tell() < size:
            for dll in sorted(DLLS.glob("*.dll")):
                out.write(dll.read_bytes()[: size - out.tell()])
                if out.tell() >= size:
                    break
    part.rename(game)
    subprocess.run(["bash", str(ROOT / "tools" / "make_module.sh"), str(module), str(game)], check=True,
                   env=dict(os.environ, FPTOOL=str(fptool)), stdout=subprocess.DEVNULL)
    return folder


def realcode_builds(folder: Path, fptool: Path, nsis: bool) -> dict:
    """UpDate.exe stored and compressed, by make_update.sh, and the NSIS
    installers of the same game executable and of one byte."""
    built = {}
    env = dict(os.environ, FPTOOL=str(fptool))
    game = folder / "payload" / "LMH.exe"
    for name, compression in (("stored", ""), ("zstd", "Compression=zstd\n")):
        description = folder / f"{name}.ini"
        description.write_text(DESCRIPTION.format(compression=compression))
        tree = folder / name
        exe = tree / "UpDate.exe"
        if not exe.is_file() or exe.stat().st_mtime < game.stat().st_mtime:
            began = time.monotonic()
            subprocess.run(["bash", str(ROOT / "tools" / "make_update.sh"), str(description), "--tree", str(tree)],
                           env=env, check=True, stdout=subprocess.DEVNULL)
            print(f"  (built {exe} in {time.monotonic() - began:.0f} s)")
        built[name] = exe
    if not nsis:
        return built
    one = folder / "nsis" / "one-byte.bin"
    one.parent.mkdir(parents=True, exist_ok=True)
    if not one.is_file():
        one.write_bytes(b"\x01")
    for name, payload in (("nsis", game), ("nsis-one-byte", one)):
        out = folder / "nsis" / f"{name}.exe"
        if not out.is_file() or out.stat().st_mtime < payload.stat().st_mtime:
            script = folder / "nsis" / f"{name}.nsi"
            script.write_text(NSIS_SCRIPT.format(out=out, file=payload))
            began = time.monotonic()
            subprocess.run(["makensis", "-V1", str(script)], check=True, stdout=subprocess.DEVNULL)
            print(f"  (built {out} in {time.monotonic() - began:.0f} s)")
        built[name] = out
    return built


def timed_installer(session, installer: Path) -> float:
    """Seconds from the start of an NSIS installer to its end, its progress
    page shown, into a fresh folder."""
    shutil.rmtree(session.unix_path(r"C:\bench\nsis"), ignore_errors=True)
    began = time.monotonic()
    subprocess.run(["wine", str(installer)], env=session.env, cwd=session.drive_c, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - began


def peak_of_run(session, updater: Path, old: Path) -> dict:
    """UpDate.exe's peak memory over a whole update, read at its final message."""
    install(session, old)
    memory = {}
    prober = session.windows_build_dir / "bench" / "process_memory.exe"

    def on_event(event):
        if event["event"] == "paused" and event["index"] == 2:
            out = subprocess.run(["wine", str(prober), CAPTION], env=session.env, capture_output=True, text=True,
                                 cwd=session.drive_c)
            memory.update(json.loads(out.stdout) if out.returncode == 0 else {"error": out.returncode})

    live_run.follow(session, updater, ["OK", "OK"], on_event)
    return memory


def realcode(session, build: Path, windows: Path, fptool: Path, size: int, rounds: int, nsis: bool):
    folder = realcode_payload(build, windows, fptool, size)
    built = realcode_builds(folder, fptool, nsis)
    game = folder / "payload" / "LMH.exe"
    frame = folder / "zstd" / "windows" / "generated" / "frames" / "LMH.EXE.zst"
    label = f"real code, {size >> 20} MiB"
    mib = 1 << 20
    print(f"{label}: {game} ({size:,} bytes: the sample's game executable, then Wine's 32-bit DLLs)")
    print(f"  UpDate.exe stored:     {built['stored'].stat().st_size:>12,} bytes")
    print(f"  UpDate.exe compressed: {built['zstd'].stat().st_size:>12,} bytes "
          f"(game executable's frame {frame.stat().st_size:,} bytes)")
    if nsis:
        ratio = built['zstd'].stat().st_size / built['nsis'].stat().st_size
        print(f"  NSIS, SetCompressor /SOLID lzma: {built['nsis'].stat().st_size:>12,} bytes "
              f"(compressed UpDate.exe / NSIS: {ratio:.3f})")

    bench = windows / "bench"
    source_win, frame_win, copy_win = r"C:\bench\source.bin", r"C:\bench\frame.zst", r"C:\bench\copy.bin"
    session.unix_path(source_win).parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(game, session.unix_path(source_win))
    shutil.copyfile(frame, session.unix_path(frame_win))
    pieces = -(-size // PIECE) + 1
    times = {k: [] for k in ("stored", "stored-slow-look", "zstd", "nsis", "nsis-one-byte", "decode", "durable", "read", "floor")}
    # Rounds alternate, so that a slow spell of the shared machine touches all alike.
    for _ in range(rounds):
        times["stored"].append(timed_update(session, built["stored"], windows / "sample" / "old"))
        # The same with the watcher looking ten times less often: its share of the run.
        times["stored-slow-look"].append(timed_update(session, built["stored"], windows / "sample" / "old", 100))
        times["zstd"].append(timed_update(session, built["zstd"], windows / "sample" / "old"))
        if nsis:
            times["nsis"].append(timed_installer(session, built["nsis"]))
            times["nsis-one-byte"].append(timed_installer(session, built["nsis-one-byte"]))
        times["decode"].append(timed_program(session, bench / "decode_frame.exe", frame_win))
        times["durable"].append(timed_program(session, bench / "copy_file.exe", "--durable", source_win, copy_win))
        times["read"].append(timed_program(session, bench / "copy_file.exe", "--read", copy_win))
        times["floor"].append(timed_program(session, bench / "pump_floor.exe", str(pieces)))
    stored = best("stored update run", times["stored"])
    best("stored update run, the watcher looking every 100 ms instead of 10", times["stored-slow-look"])
    zstd = best("compressed update run", times["zstd"])
    decode = best("decoding the frame in memory alone (32-bit, under Wine)", times["decode"])
    durable = best("durable copy", times["durable"])
    read = best("one read of the new file (the proof's)", times["read"])
    floor = best(f"pump floor ({pieces:,} empty pumps)", times["floor"])
    stored_limit = durable + floor + read
    zstd_limit = decode + stored_limit
    median = statistics.median
    print(f"  stored limit (durable copy + pump floor + read): {stored_limit:.3f} s; "
          f"run / limit: best {stored / stored_limit:.2f}, median {median(times['stored']) / stored_limit:.2f}")
    print(f"  compressed limit (decoding + durable copy + pump floor + read): {zstd_limit:.3f} s; "
          f"run / limit: best {zstd / zstd_limit:.2f}, median {median(times['zstd']) / zstd_limit:.2f}")
    if nsis:
        whole = best("NSIS installer, whole run", times["nsis"])
        empty = best("NSIS installer of one byte, whole run", times["nsis-one-byte"])
        pairs = [a - b for a, b in zip(times["nsis"], times["nsis-one-byte"])]
        print(f"  NSIS writing the file (whole run less the one-byte installer's, round by round): best "
              f"{min(pairs):.3f} s, median {median(pairs):.3f} s")
        print(f"  compressed update run / NSIS: best {zstd / min(pairs):.2f}, "
              f"median {median(times['zstd']) / median(pairs):.2f}")
    for name in ("stored", "zstd"):
        m = peak_of_run(session, built[name], windows / "sample" / "old")
        what = "compressed" if name == "zstd" else name
        if "error" in m:
            print(f"  peak memory of the {what} run: not measured ({m})")
        else:
            print(f"  peak memory of the {what} run: private {m['peak_private'] / mib:.1f} MiB, "
                  f"working set {m['peak_working_set'] / mib:.1f} MiB")
    for p in (source_win, frame_win, copy_win):
        session.unix_path(p).unlink(missing_ok=True)
    shutil.rmtree(session.unix_path(r"C:\bench\nsis"), ignore_errors=True)


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
    parser.add_argument("--only", choices=["sample", "realcode"], default=None,
                        help="only the sample-based figures (1, 2) or only the real-code ones (3)")
    parser.add_argument("--prepare", action="store_true", help="only make the real-code payloads and builds")
    parser.add_argument("--realcode-mib", type=int, action="append", default=None,
                        help="real-code payload size in MiB (default: 192 and 768); NSIS is built at 192")
    args = parser.parse_args()
    sizes = [m << 20 for m in args.realcode_mib] if args.realcode_mib else list(REALCODE_SIZES)
    build = Path(os.environ.get("UPDATER_BUILD_DIR", ROOT / "build")).resolve()
    windows = build / "windows"
    fptool = build / "native" / "bin" / "fptool"
    if args.prepare:
        for size in sizes:
            realcode_builds(realcode_payload(build, windows, fptool, size), fptool, size == REALCODE_SIZES[0])
        return
    session = harness.WineSession(windows, build / "bench" / "wine", large_images=True)
    session.start()
    try:
        # 0. Real program code: stored, compressed and NSIS LZMA.
        if args.only != "sample":
            for size in sizes:
                realcode(session, build, windows, fptool, size, args.rounds, nsis=size == REALCODE_SIZES[0])
        if args.only == "realcode":
            return
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
