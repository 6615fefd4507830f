#!/usr/bin/env python3
"""Whole-run figures of UpDate.exe under Wine (prints figures, asserts nothing):

0. On a payload of real program code (the sample's game executable followed
   by Wine's 32-bit DLLs, 192 MiB and 768 MiB): the size of UpDate.exe stored
   and compressed beside an NSIS installer of the same bytes (SetCompressor
   /SOLID lzma, at 192 MiB); each run beside its limit (the durable copy,
   the pump floor and one read of the new file for the proof, plus, for the
   compressed build, decoding its frame in memory alone with the same 32-bit
   decoder under Wine), every term measured in the same round as the run,
   and run / limit given per round (median and spread); the NSIS installer's
   whole run, its progress page shown, less that of the same installer of a
   one-byte file; the peak memory of each run. In rounds of their own, the
   longest the progress window kept a caller waiting: watcher.exe sends it
   WM_NULL every few milliseconds from its showing until it is gone and
   times each reply (tests/watcher/window_ping.h).
   With --before TREE, the same builds made from the sources of another
   build tree (the parent commit's, say) run in the same rounds,
   interleaved, and the figures of both are given side by side.

1. The update run writing a large payload (192 MiB and 768 MiB), from the
   confirmation's OK to the final message, beside copies of the same bytes in
   the same prefix, in pieces of the same size: a plain copy, and a durable
   one flushed to the disk before it is closed, as the update flushes before
   it switches files in. Beside them the floor that the window refresh sets:
   as many empty one-message pumps as the run has pieces. The update's limit
   is the durable copy plus that floor.
2. The peak memory of UpDate.exe once it has verified an installation whose
   game executable is 1 GiB, beside one of the sample's size.

  python3 bench/run_bench.py [--rounds N] [--ping-rounds N] [--only sample|realcode|slices] [--realcode-mib N]...
                             [--before TREE] [--slow-look] [--no-nsis] [--prepare]
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
from typing import Dict, List, Optional

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


def emulated() -> bool:
    return any(mode.startswith("emulated") for mode in _modes_told)


def per_round(label: str, runs: List[float], limits: List[float]):
    """Run / limit of each round, its limit measured in that round: the
    median and the spread, and under the emulator the gaps as well."""
    ratios = [run / limit for run, limit in zip(runs, limits)]
    median = statistics.median
    print(f"  {label}: run / limit per round: median {median(ratios):.2f}, spread {min(ratios):.2f}-"
          f"{max(ratios):.2f} over {len(ratios)} rounds ({', '.join(f'{r:.2f}' for r in ratios)})")
    if emulated():
        gaps = [run - limit for run, limit in zip(runs, limits)]
        print(f"    (i386 emulated: a run / limit target belongs to machines that run i386 natively; "
              f"run - limit per round: median {median(gaps):.3f} s, spread {min(gaps):.3f}-{max(gaps):.3f} s)")


def against_before(label: str, runs: List[float], before: List[float]):
    """The run over the same run of the other build, round by round."""
    ratios = [a / b for a, b in zip(runs, before)]
    print(f"  {label}: run / the --before build's run per round: median {statistics.median(ratios):.2f}, "
          f"spread {min(ratios):.2f}-{max(ratios):.2f}")


# ---- how long the progress window keeps a caller waiting

JOURNAL_WIN = INSTALL_WIN + r"\UpDate.UpDate-journal"
PING_MS = 5


def stretch_of(reply: dict) -> str:
    """What the run was doing while the window kept the caller waiting, read
    off the percentage it showed when the message was sent and when the
    reply came, and off the switch journal."""
    before, after = reply["percent_before"].strip(), reply["percent_after"].strip()
    if not reply["answered"]:
        return f"the end: no reply before the window closed (it showed {before or 'nothing'} when asked)"
    if reply["mark_before"]:
        return "the switch"
    if reply["mark_after"]:
        return "from the proof into the switch"
    if before == "":
        return "the start, up to the first piece"
    if after == "100%" and before != "100%":
        return "the game executable's last pieces and flush, the module written"
    if after == "100%":
        return "the module's flush and the proof"
    if after == "99%":
        return "the game executable's last pieces and slice flushes"
    return "writing (pieces and slice flushes)"


def pinged_update(session, updater: Path, old: Path) -> dict:
    """One run with watcher.exe sending the progress window WM_NULL every
    PING_MS milliseconds: its ping report."""
    install(session, old)
    report = {}

    def on_event(event):
        if event["event"] == "ping":
            report.update(event)
        elif event["event"] == "exit" and event["code"] != 0:
            raise SystemExit(f"the update ended with {event['code']}")

    live_run.follow(session, updater, ["OK", "OK"], on_event,
                    extra=["--no-hook", "--poll", "10", "--ping", str(PING_MS), "--ping-mark", JOURNAL_WIN],
                    on_mode=tell_mode_once)
    if not report.get("slowest"):
        raise SystemExit(f"no ping report from the run of {updater}: {report}")
    return report


def longest_waits(label: str, reports: List[dict]):
    """Each round's longest wait for a reply, and where the longest of all came."""
    longest = [r["slowest"][0] for r in reports]
    worst = max(longest, key=lambda reply: reply["wait_ms"])
    waits = [reply["wait_ms"] for reply in longest]
    print(f"  {label}: longest wait for the progress window's reply (WM_NULL every {PING_MS} ms): median "
          f"{statistics.median(waits):.1f} ms over {len(waits)} rounds ({', '.join(f'{w:.1f}' for w in waits)}); "
          f"the longest {worst['wait_ms']:.1f} ms, sent {worst['sent_ms'] / 1000:.2f} s after the window showed, "
          f"during {stretch_of(worst)}")
    for reply in sorted((reply for r in reports for reply in r["slowest"]), key=lambda x: -x["wait_ms"])[1:4]:
        print(f"    next: {reply['wait_ms']:.1f} ms during {stretch_of(reply)}")


def timed_program(session, program: Path, *args: str) -> float:
    """A helper program's own measure of its work, in seconds."""
    out = subprocess.run(["wine", str(program), *args], env=session.env, capture_output=True, text=True,
                         cwd=session.drive_c, check=True)
    return float(out.stdout.strip())


def best(name: str, times: list) -> float:
    print(f"  {name}: best {min(times):.3f} s, median {statistics.median(times):.3f} s "
          f"of {', '.join(f'{t:.3f}' for t in times)}")
    return min(times)


def whole_run(session, windows: Path, label: str, tree: str, rounds: int, before: Optional[Path] = None):
    """The update run beside the copies and the pump floor, one payload size;
    with before, the other build's run in the same rounds."""
    payload = [windows / tree / "payload" / "LMH.exe", windows / tree / "payload" / "dll" / "RESOURCE.dll"]
    updaters = {"update run": windows / tree / "bin" / "UpDate.exe"}
    if before is not None:
        updaters["--before build's run"] = before / "windows" / tree / "bin" / "UpDate.exe"
    bench = windows / "bench"
    source_win = r"C:\bench\source.bin"
    source = session.unix_path(source_win)
    source.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(payload[0], source)
    size = sum(p.stat().st_size for p in payload)
    pieces = sum(-(-p.stat().st_size // PIECE) for p in payload)
    runs = {name: [] for name in updaters}
    plain, durable, floor = [], [], []
    # Rounds alternate, so that a slow spell of the shared machine touches all alike.
    for round_number in range(rounds):
        for name, updater in alternate(updaters, round_number):
            runs[name].append(timed_update(session, updater, windows / "sample" / "old"))
        plain.append(timed_program(session, bench / "copy_file.exe", source_win, r"C:\bench\copy.bin"))
        durable.append(timed_program(session, bench / "copy_file.exe", "--durable", source_win,
                                     r"C:\bench\copy.bin"))
        floor.append(timed_program(session, bench / "pump_floor.exe", str(pieces)))
    print(f"{label}: update of {size:,} bytes in {pieces:,} pieces")
    run = best("update run", runs["update run"])
    for name in updaters:
        if name != "update run":
            best(name, runs[name])
    plain_best = best("plain copy", plain)
    durable_best = best("durable copy", durable)
    floor_best = best(f"pump floor ({pieces:,} empty pumps)", floor)
    limit = durable_best + floor_best
    print(f"  limit (durable copy + pump floor): {limit:.3f} s")
    print(f"  ratio run / limit: {run / limit:.2f}   run / durable copy: {run / durable_best:.2f}   "
          f"run / plain copy: {run / plain_best:.2f}")
    limits = [d + f for d, f in zip(durable, floor)]
    for name in updaters:
        per_round(name, runs[name], limits)
    if before is not None:
        against_before("update run", runs["update run"], runs["--before build's run"])
    source.unlink()
    session.unix_path(r"C:\bench\copy.bin").unlink(missing_ok=True)


def alternate(builds: Dict[str, Path], round_number: int) -> List[tuple]:
    """The builds in one order in even rounds and the other in odd ones."""
    order = list(builds.items())
    return order if round_number % 2 == 0 else order[::-1]


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


def realcode_builds(folder: Path, fptool: Path, nsis: bool, sources: Path = ROOT, prefix: str = "") -> dict:
    """UpDate.exe stored and compressed, by make_update.sh of sources (into
    trees named prefix + stored, prefix + zstd), and the NSIS installers of
    the same game executable and of one byte. make_update.sh builds only
    what changed, and never leaves a build behind its sources."""
    built = {}
    env = dict(os.environ, FPTOOL=str(fptool))
    game = folder / "payload" / "LMH.exe"
    for name, compression in (("stored", ""), ("zstd", "Compression=zstd\n")):
        description = folder / f"{name}.ini"
        description.write_text(DESCRIPTION.format(compression=compression))
        tree = folder / f"{prefix}{name}"
        exe = tree / "UpDate.exe"
        began = time.monotonic()
        subprocess.run(["bash", str(sources / "tools" / "make_update.sh"), str(description), "--tree", str(tree)],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        print(f"  (made {exe} from {sources} in {time.monotonic() - began:.0f} s)")
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


class Settings:
    """What the command line asked for beside the sizes."""

    def __init__(self, rounds: int, ping_rounds: int, before: Optional[Path], slow_look: bool):
        self.rounds = rounds
        self.ping_rounds = ping_rounds
        self.before = before
        self.slow_look = slow_look


def before_sources(tree: Path) -> Path:
    """The sources a build tree (made by tools/build.sh) was configured from."""
    cache = tree / "windows" / "CMakeCache.txt"
    for line in cache.read_text().splitlines():
        if line.startswith("CMAKE_HOME_DIRECTORY:"):
            return Path(line.split("=", 1)[1])
    raise SystemExit(f"{cache}: no CMAKE_HOME_DIRECTORY: is {tree} a build tree of tools/build.sh?")


def realcode(session, build: Path, windows: Path, fptool: Path, size: int, settings: Settings, nsis: bool):
    folder = realcode_payload(build, windows, fptool, size)
    built = realcode_builds(folder, fptool, nsis)
    # The timed builds: this tree's, and the --before tree's made the same way from its own sources.
    builds = {"stored": built["stored"], "compressed": built["zstd"]}
    if settings.before is not None:
        earlier = realcode_builds(folder, settings.before / "native" / "bin" / "fptool", False,
                                  before_sources(settings.before), "before-")
        builds["stored, --before build"] = earlier["stored"]
        builds["compressed, --before build"] = earlier["zstd"]
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
    old = windows / "sample" / "old"
    source_win, frame_win, copy_win = r"C:\bench\source.bin", r"C:\bench\frame.zst", r"C:\bench\copy.bin"
    session.unix_path(source_win).parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(game, session.unix_path(source_win))
    shutil.copyfile(frame, session.unix_path(frame_win))
    pieces = -(-size // PIECE) + 1
    terms = ("decode", "durable", "read", "floor", "stored-slow-look", "nsis", "nsis-one-byte")
    times = {k: [] for k in (*builds, *terms)}
    # Each round runs every build and measures every term of the limits, so
    # that a slow spell of the shared machine touches all alike; the builds
    # take turns at going first.
    for round_number in range(settings.rounds):
        for name, updater in alternate(builds, round_number):
            times[name].append(timed_update(session, updater, old))
        if settings.slow_look:
            # The same with the watcher looking ten times less often: its share of the run.
            times["stored-slow-look"].append(timed_update(session, built["stored"], old, 100))
        if nsis:
            times["nsis"].append(timed_installer(session, built["nsis"]))
            times["nsis-one-byte"].append(timed_installer(session, built["nsis-one-byte"]))
        times["decode"].append(timed_program(session, bench / "decode_frame.exe", frame_win))
        times["durable"].append(timed_program(session, bench / "copy_file.exe", "--durable", source_win, copy_win))
        times["read"].append(timed_program(session, bench / "copy_file.exe", "--read", copy_win))
        times["floor"].append(timed_program(session, bench / "pump_floor.exe", str(pieces)))
    runs_best = {name: best(f"{name} update run", times[name]) for name in builds}
    if settings.slow_look:
        best("stored update run, the watcher looking every 100 ms instead of 10", times["stored-slow-look"])
    decode = best("decoding the frame in memory alone (32-bit, under Wine)", times["decode"])
    durable = best("durable copy", times["durable"])
    read = best("one read of the new file (the proof's)", times["read"])
    floor = best(f"pump floor ({pieces:,} empty pumps)", times["floor"])
    stored_limit = durable + floor + read
    zstd_limit = decode + stored_limit
    median = statistics.median
    for name in builds:
        compressed = name.startswith("compressed")
        limit = zstd_limit if compressed else stored_limit
        what = "decoding + durable copy + pump floor + read" if compressed else "durable copy + pump floor + read"
        print(f"  {name} limit of the best terms ({what}): {limit:.3f} s; run / limit: best "
              f"{runs_best[name] / limit:.2f}, median {median(times[name]) / limit:.2f}")
    stored_limits = [d + f + r for d, f, r in zip(times["durable"], times["floor"], times["read"])]
    zstd_limits = [c + l for c, l in zip(times["decode"], stored_limits)]
    for name in builds:
        per_round(name, times[name], zstd_limits if name.startswith("compressed") else stored_limits)
    if settings.before is not None:
        for name in ("stored", "compressed"):
            against_before(name, times[name], times[f"{name}, --before build"])
    if nsis:
        best("NSIS installer, whole run", times["nsis"])
        best("NSIS installer of one byte, whole run", times["nsis-one-byte"])
        pairs = [a - b for a, b in zip(times["nsis"], times["nsis-one-byte"])]
        print(f"  NSIS writing the file (whole run less the one-byte installer's, round by round): best "
              f"{min(pairs):.3f} s, median {median(pairs):.3f} s")
        print(f"  compressed update run / NSIS: best {runs_best['compressed'] / min(pairs):.2f}, "
              f"median {median(times['compressed']) / median(pairs):.2f}")

    # Apart from the timed rounds: the ping costs the run a little.
    reports = {name: [] for name in builds}
    for round_number in range(settings.ping_rounds):
        for name, updater in alternate(builds, round_number):
            reports[name].append(pinged_update(session, updater, old))
    for name in builds:
        if reports[name]:
            longest_waits(f"{name}, {size >> 20} MiB", reports[name])

    for name in ("stored", "zstd"):
        m = peak_of_run(session, built[name], old)
        what = "compressed" if name == "zstd" else name
        if "error" in m:
            print(f"  peak memory of the {what} run: not measured ({m})")
        else:
            print(f"  peak memory of the {what} run: private {m['peak_private'] / mib:.1f} MiB, "
                  f"working set {m['peak_working_set'] / mib:.1f} MiB")
    for p in (source_win, frame_win, copy_win):
        session.unix_path(p).unlink(missing_ok=True)
    shutil.rmtree(session.unix_path(r"C:\bench\nsis"), ignore_errors=True)


SLICES_MIB = (4, 16, 32, 64)


def flush_slices(session, build: Path, windows: Path, fptool: Path, size: int, rounds: int):
    """What the slice of a new file's flush costs: the durable copy of the
    real-code file flushed once at its end, and flushed every 4, 16, 32 and 64
    MiB as the update flushes its new files, in the same rounds: the whole
    copy's time and its longest single flush."""
    folder = realcode_payload(build, windows, fptool, size)
    copier = windows / "bench" / "copy_file.exe"
    source_win, copy_win = r"C:\bench\source.bin", r"C:\bench\copy.bin"
    session.unix_path(source_win).parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(folder / "payload" / "LMH.exe", session.unix_path(source_win))
    whole = {"copy": [], "longest": []}
    sliced = {mib: {"copy": [], "longest": []} for mib in SLICES_MIB}
    for round_number in range(rounds):
        kinds = [None, *SLICES_MIB]
        for mib in (kinds if round_number % 2 == 0 else kinds[::-1]):
            # A slice larger than the file: one flush at its end.
            every = (1 << 31) if mib is None else mib << 20
            out = subprocess.run(["wine", str(copier), "--durable-every", str(every), source_win, copy_win],
                                 env=session.env, capture_output=True, text=True, cwd=session.drive_c, check=True)
            figures = whole if mib is None else sliced[mib]
            copy, longest = (float(x) for x in out.stdout.split())
            figures["copy"].append(copy)
            figures["longest"].append(longest)
    median = statistics.median
    print(f"flush slices, {size >> 20} MiB of real code, {rounds} rounds (median, spread):")
    print(f"  flushed once at the end: copy {median(whole['copy']):.3f} s ({min(whole['copy']):.3f}-"
          f"{max(whole['copy']):.3f}), its flush {median(whole['longest']):.3f} s")
    for mib in SLICES_MIB:
        f = sliced[mib]
        ratios = [a / b for a, b in zip(f["copy"], whole["copy"])]
        print(f"  flushed every {mib} MiB: copy {median(f['copy']):.3f} s ({min(f['copy']):.3f}-{max(f['copy']):.3f}), "
              f"over the copy flushed once, per round: median {median(ratios):.2f} ({min(ratios):.2f}-"
              f"{max(ratios):.2f}); longest flush {median(f['longest']):.3f} s ({min(f['longest']):.3f}-"
              f"{max(f['longest']):.3f})")
    for p in (source_win, copy_win):
        session.unix_path(p).unlink(missing_ok=True)


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
    parser.add_argument("--rounds", type=int, default=9,
                        help="timed rounds: every build's run and every term of its limit in each")
    parser.add_argument("--ping-rounds", type=int, default=3,
                        help="rounds apart from the timed ones that time the progress window's replies")
    parser.add_argument("--only", choices=["sample", "realcode", "slices"], default=None,
                        help="only the sample-based figures (1, 2), only the real-code ones (0), or only the "
                             "cost of flushing the real-code file in slices")
    parser.add_argument("--prepare", action="store_true", help="only make the real-code payloads and builds")
    parser.add_argument("--realcode-mib", type=int, action="append", default=None,
                        help="real-code payload size in MiB (default: 192 and 768); NSIS is built at 192")
    parser.add_argument("--before", type=Path, default=None,
                        help="another build tree of tools/build.sh (the parent commit's, say): its builds run "
                             "in the same rounds, interleaved")
    parser.add_argument("--no-nsis", action="store_true", help="leave the NSIS installer out (its rounds are long)")
    parser.add_argument("--slow-look", action="store_true",
                        help="also time the stored run with the watcher looking every 100 ms instead of 10")
    args = parser.parse_args()
    sizes = [m << 20 for m in args.realcode_mib] if args.realcode_mib else list(REALCODE_SIZES)
    build = Path(os.environ.get("UPDATER_BUILD_DIR", ROOT / "build")).resolve()
    windows = build / "windows"
    fptool = build / "native" / "bin" / "fptool"
    before = args.before.resolve() if args.before is not None else None
    settings = Settings(args.rounds, args.ping_rounds, before, args.slow_look)
    if args.prepare:
        for size in sizes:
            folder = realcode_payload(build, windows, fptool, size)
            realcode_builds(folder, fptool, size == REALCODE_SIZES[0])
            if before is not None:
                realcode_builds(folder, before / "native" / "bin" / "fptool", False, before_sources(before), "before-")
        return
    session = harness.WineSession(windows, build / "bench" / "wine", large_images=True)
    session.start()
    try:
        if args.only == "slices":
            for size in sizes:
                flush_slices(session, build, windows, fptool, size, args.rounds)
            return
        # 0. Real program code: stored, compressed and NSIS LZMA.
        if args.only != "sample":
            for size in sizes:
                realcode(session, build, windows, fptool, size, settings,
                         nsis=size == REALCODE_SIZES[0] and not args.no_nsis)
        if args.only == "realcode":
            return
        # 1. The run beside the copies and the pump floor.
        if before is not None:
            subprocess.run(["cmake", "--build", str(before / "windows"), "--target", "UpDateDemo", "UpDateBench768"],
                           check=True, stdout=subprocess.DEVNULL)
        for label, tree in (("192 MiB", "demo"), ("768 MiB", "bench768")):
            whole_run(session, windows, label, tree, args.rounds, before)

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
