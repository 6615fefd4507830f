#!/usr/bin/env python3
"""Delta figures on a real pair of consecutive builds of one large program
library from Debian's package lists (tools/fetch_real_pair.sh), standing in
for the game executable (prints figures, asserts nothing):

1. The size of UpDate.exe stored, compressed, with deltas only, and the
   default delta build (deltas and the compressed whole file).
2. The delta update's whole run under Wine (from the confirmation's OK to the
   final message) over the installed old version, beside its limit: decoding
   the delta in memory alone (the same 32-bit decoder, bound and reference
   mapping), the durable copy of the new file, the pump floor of its pieces
   and one read of it for the proof. Best and median of the rounds.
3. Peak private memory of that run; and of decoding alone, with the address
   space in use while the decoder holds its window beside the mapped
   reference, on the real pair and on a pair near the run's limit for deltas
   (192 MiB: copies of each build of the library one after another, cut at
   the limit).

  python3 bench/delta_bench.py [--rounds N]
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "bench"))
import harness  # noqa: E402
import run_bench  # noqa: E402

PIECE = 0xFFFE
MIB = 1 << 20
LIMIT = 192 * MIB  # the run's limit for deltas (install/source/delta_format.h)


def run(args, **kwargs):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True, **kwargs)


def payloads(work: Path, fptool: Path, pair: str) -> tuple:
    """old/ and new/: the library as LMH.exe, each with a fingerprint module
    that records it, as an installation and an update's payload."""
    old_lib, new_lib = run(["bash", ROOT / "tools" / "fetch_real_pair.sh", pair]).stdout.split()
    folders = []
    for name, lib in (("old", old_lib), ("new", new_lib)):
        folder = work / name
        game = folder / "LMH.exe"
        if not game.is_file() or game.stat().st_size != Path(lib).stat().st_size:
            shutil.rmtree(folder, ignore_errors=True)
            (folder / "dll").mkdir(parents=True)
            shutil.copyfile(lib, game)
            run(["bash", ROOT / "tools" / "make_module.sh", folder / "dll" / "RESOURCE.dll", game],
                env=dict(os.environ, FPTOOL=str(fptool)))
        folders.append(folder)
    return folders[0], folders[1], old_lib, new_lib


def builds(work: Path, old: Path, new: Path, fptool: Path) -> dict:
    template = (ROOT / "sample" / "update.ini").read_text(encoding="utf-8")
    deltas = (f"File1Earlier1={old / 'LMH.exe'}\nFile2Earlier1={old / 'dll' / 'RESOURCE.dll'}\n")
    kinds = {
        "stored": "",
        "compressed": "Compression=zstd\n",
        "deltas only": "Compression=zstd\n" + deltas + "WholeFiles=no\n",
        "default delta build": "Compression=zstd\n" + deltas,
    }
    made = {}
    for kind, keys in kinds.items():
        tree = work / ("build-" + kind.replace(" ", "-"))
        out = tree / "UpDate.exe"
        text = template.replace("Folder=../build/windows/sample/new\n", f"Folder={new}\n")
        text = text.replace("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\n" + keys)
        ini = work / (kind.replace(" ", "-") + ".ini")
        if not out.is_file() or not ini.is_file() or ini.read_text(encoding="utf-8") != text:
            ini.write_text(text, encoding="utf-8")
            print(f"  building {kind} ...", file=sys.stderr)
            run(["bash", ROOT / "tools" / "make_update.sh", ini, "--tree", tree],
                env=dict(os.environ, FPTOOL=str(fptool)))
        made[kind] = (out, tree)
    return made


def decode_alone(session, windows: Path, reference_win: str, delta_win: str) -> dict:
    out = subprocess.run(["wine", str(windows / "bench" / "decode_delta.exe"), reference_win, delta_win],
                         env=session.env, capture_output=True, text=True, cwd=session.drive_c)
    if out.returncode != 0:
        return {"error": out.returncode}
    return json.loads(out.stdout)


def limit_pair(work: Path, old_lib: str, new_lib: str, fptool: Path) -> tuple:
    """Copies of each build one after another, cut at the run's limit for
    deltas: the reference and the new file as large as it allows, with a
    delta made at level 3 (the decoder's memory does not depend on the level)."""
    folder = work / "limit-192"
    folder.mkdir(exist_ok=True)
    old, new, delta = folder / "old.bin", folder / "new.bin", folder / "new.delta"
    if not delta.is_file():
        for source, target in ((old_lib, old), (new_lib, new)):
            data = Path(source).read_bytes()
            target.write_bytes((data * 5)[:LIMIT])
        frame = folder / "new.zst"
        run(["zstd", "-qq", "-f", "-3", "--single-thread", f"--patch-from={old}", new, "-o", frame])
        run([fptool, "delta", old, frame, delta])
        frame.unlink()
    return old, new, delta


def space_text(d: dict) -> str:
    return (f"while decoding: committed private memory {d['private_committed'] / MIB:.1f} MiB, mapped "
            f"{d['mapped'] / MIB:.1f} MiB, reserved or committed in all {d['address_space'] / MIB:.1f} MiB of the "
            f"2,048 MiB address space, largest free block {d['largest_free'] / MIB:.1f} MiB; peak private as Wine "
            f"counts it {d['peak_private'] / MIB:.1f} MiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--prepare", action="store_true", help="only fetch the pair and make the builds")
    parser.add_argument("--pair", choices=["libnode", "webkit"], default="libnode",
                        help="which real pair (tools/fetch_real_pair.sh); default libnode")
    args = parser.parse_args()
    build = Path(os.environ.get("UPDATER_BUILD_DIR", ROOT / "build")).resolve()
    windows = build / "windows"
    fptool = build / "native" / "bin" / "fptool"
    work = build / "bench" / ("delta" if args.pair == "libnode" else f"delta-{args.pair}")
    work.mkdir(parents=True, exist_ok=True)

    old, new, old_lib, new_lib = payloads(work, fptool, args.pair)
    made = builds(work, old, new, fptool)
    if args.prepare:
        limit_pair(work, old_lib, new_lib, fptool)
        return
    size = lambda kind: made[kind][0].stat().st_size
    delta_file = made["deltas only"][1] / "windows" / "generated" / "deltas" / "LMH.EXE.delta1"
    frame_file = made["compressed"][1] / "windows" / "generated" / "frames" / "LMH.EXE.zst"
    new_size = (new / "LMH.exe").stat().st_size
    print(f"real pair: {old_lib} ({(old / 'LMH.exe').stat().st_size:,} bytes)")
    print(f"       to: {new_lib} ({new_size:,} bytes), as LMH.exe with its fingerprint module")
    print(f"  game executable's compressed frame {frame_file.stat().st_size:,} bytes, "
          f"its delta {delta_file.stat().st_size:,} bytes")
    for kind in made:
        print(f"  UpDate.exe {kind + ':':<21}{size(kind):>12,} bytes")
    print(f"  deltas only / compressed: {size('deltas only') / size('compressed'):.3f}   "
          f"deltas only / stored: {size('deltas only') / size('stored'):.3f} (1/{size('stored') / size('deltas only'):.1f})")

    session = harness.WineSession(windows, build / "bench" / "wine-delta")
    session.start()
    try:
        measure(session, windows, work, old, new, made, old_lib, new_lib, fptool, args.rounds)
    finally:
        session.stop()


def measure(session, windows, work, old, new, made, old_lib, new_lib, fptool, rounds):
    new_size = (new / "LMH.exe").stat().st_size
    delta_file = made["deltas only"][1] / "windows" / "generated" / "deltas" / "LMH.EXE.delta1"
    bench = windows / "bench"
    names = {"reference": r"C:\bench\reference.bin", "delta": r"C:\bench\new.delta", "source": r"C:\bench\source.bin",
             "copy": r"C:\bench\copy.bin"}
    session.unix_path(names["source"]).parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(old / "LMH.exe", session.unix_path(names["reference"]))
    shutil.copyfile(delta_file, session.unix_path(names["delta"]))
    shutil.copyfile(new / "LMH.exe", session.unix_path(names["source"]))
    pieces = -(-new_size // PIECE) + 1
    times = {k: [] for k in ("run", "decode", "durable", "read", "floor", "fixed", "compressed", "decode_frame")}
    frame_file = made["compressed"][1] / "windows" / "generated" / "frames" / "LMH.EXE.zst"
    names["frame"] = r"C:\bench\frame.zst"
    shutil.copyfile(frame_file, session.unix_path(names["frame"]))
    updater = made["deltas only"][0]
    # Rounds alternate, so that a slow spell of the shared machine touches all alike.
    for _ in range(rounds):
        times["run"].append(run_bench.timed_update(session, updater, old))
        # What every run costs whatever it writes: the sample's own update, 396,288 bytes.
        # The compressed build of the same file, to tell what the delta path adds.
        times["compressed"].append(run_bench.timed_update(session, made["compressed"][0], old))
        times["decode_frame"].append(run_bench.timed_program(session, bench / "decode_frame.exe", names["frame"]))
        times["fixed"].append(run_bench.timed_update(session, windows / "bin" / "UpDate.exe",
                                                     windows / "sample" / "old"))
        decoded = decode_alone(session, windows, names["reference"], names["delta"])
        if "error" in decoded:
            raise SystemExit(f"decode_delta.exe failed: {decoded}")
        times["decode"].append(decoded["seconds"])
        times["durable"].append(run_bench.timed_program(session, bench / "copy_file.exe", "--durable",
                                                        names["source"], names["copy"]))
        times["read"].append(run_bench.timed_program(session, bench / "copy_file.exe", "--read", names["copy"]))
        times["floor"].append(run_bench.timed_program(session, bench / "pump_floor.exe", str(pieces)))
    median = statistics.median
    show = lambda name, key: print(f"  {name}: best {min(times[key]):.3f} s, median {median(times[key]):.3f} s "
                                   f"of {', '.join(f'{t:.3f}' for t in times[key])}")
    show("delta update run (deltas-only build, OK to final message)", "run")
    show("decoding the delta in memory alone (32-bit, under Wine)", "decode")
    show("durable copy of the new file", "durable")
    show("one read of the new file (the proof's)", "read")
    show(f"pump floor ({pieces:,} empty pumps)", "floor")
    limit_best = sum(min(times[k]) for k in ("decode", "durable", "read", "floor"))
    limit_median = sum(median(times[k]) for k in ("decode", "durable", "read", "floor"))
    print(f"  limit (decoding + durable copy + pump floor + read): best {limit_best:.3f} s, "
          f"median {limit_median:.3f} s")
    print(f"  run / limit: best {min(times['run']) / limit_best:.2f}, median {median(times['run']) / limit_median:.2f}")
    show("the sample's own update run (396,288 bytes stored): what every run costs", "fixed")
    fixed_best, fixed_median = min(times["fixed"]), median(times["fixed"])
    print(f"  run / (limit + that fixed cost): best {min(times['run']) / (limit_best + fixed_best):.2f}, "
          f"median {median(times['run']) / (limit_median + fixed_median):.2f}")

    show("compressed build's run of the same file (whole file, no delta)", "compressed")
    show("decoding its frame in memory alone", "decode_frame")
    frame_limit = min(times["decode_frame"]) + sum(min(times[k]) for k in ("durable", "read", "floor"))
    frame_limit_median = median(times["decode_frame"]) + sum(median(times[k]) for k in ("durable", "read", "floor"))
    print(f"  compressed run / its limit: best {min(times['compressed']) / frame_limit:.2f}, "
          f"median {median(times['compressed']) / frame_limit_median:.2f}; with the fixed cost: best "
          f"{min(times['compressed']) / (frame_limit + fixed_best):.2f}, "
          f"median {median(times['compressed']) / (frame_limit_median + fixed_median):.2f}")
    m = run_bench.peak_of_run(session, updater, old)
    if "error" in m:
        print(f"  peak memory of the delta run: not measured ({m})")
    else:
        print(f"  peak memory of the delta run: private {m['peak_private'] / MIB:.1f} MiB, "
              f"working set {m['peak_working_set'] / MIB:.1f} MiB")
    d = decode_alone(session, windows, names["reference"], names["delta"])
    print(f"  decoding alone, real pair: {space_text(d)} (reference {(old / 'LMH.exe').stat().st_size / MIB:.1f} MiB)")

    limit_old, limit_new, limit_delta = limit_pair(work, old_lib, new_lib, fptool)
    shutil.copyfile(limit_old, session.unix_path(names["reference"]))
    shutil.copyfile(limit_delta, session.unix_path(names["delta"]))
    d = decode_alone(session, windows, names["reference"], names["delta"])
    if "error" in d:
        print(f"  decoding alone near the limit: failed ({d})")
    else:
        print(f"  decoding alone near the limit ({limit_old.stat().st_size / MIB:.1f} MiB reference, "
              f"{limit_new.stat().st_size / MIB:.1f} MiB new file, limit 192 MiB): {d['seconds']:.3f} s, {space_text(d)}")
    for name in names.values():
        session.unix_path(name).unlink(missing_ok=True)


if __name__ == "__main__":
    main()
