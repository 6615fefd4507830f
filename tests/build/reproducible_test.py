"""The same sources give the same UpDate.exe: two copies of the sources in
folders of different depth, each built as tools/build.sh builds it (the host
tool, then the whole Windows tree with the sample game), give the same bytes
in every program and library; and so do two builds by tools/make_update.sh
from the same description and payload in two folders, at two times, and the
default build, for the sample's files stored whole and for them compressed, and
with deltas from the sample's old version.

  python3 reproducible_test.py --source DIR --fptool FPTOOL --windows-build-dir DIR --work DIR
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import Dict, Optional


def copy_sources(source: Path, to: Path):
    """The files a fresh clone would hold, with any edits not yet committed."""
    listed = subprocess.run(["git", "-C", str(source), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            capture_output=True, check=True).stdout
    for name in listed.decode().split("\0"):
        if name and (source / name).is_file():
            (to / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source / name, to / name)


def build_like_build_sh(source: Path, env) -> Optional[str]:
    """tools/build.sh's steps, less the native tree's tests, which nothing
    in the Windows tree is made from. Returns the log when a step fails."""
    build = source / "build"
    steps = [
        ["cmake", "-S", source, "-B", build / "native", f"-DWINDOWS_BUILD_DIR={build / 'windows'}"],
        ["cmake", "--build", build / "native", "-j", "2", "--target", "fptool"],
        ["cmake", "-S", source, "-B", build / "windows", f"-DCMAKE_TOOLCHAIN_FILE={source / 'cmake' / 'mingw-i686.cmake'}",
         f"-DFPTOOL={build / 'native' / 'bin' / 'fptool'}"],
        ["cmake", "--build", build / "windows", "-j", "2"],
    ]
    for step in steps:
        done = subprocess.run([str(a) for a in step], env=env, capture_output=True, text=True)
        if done.returncode != 0:
            return done.stdout + done.stderr
    return None


def built_binaries(windows_tree: Path) -> Dict[str, bytes]:
    """Every program and library the Windows tree made, by path in the tree."""
    found = {}
    for folder in ("bin", "sample"):
        for path in sorted((windows_tree / folder).rglob("*")):
            if path.suffix.lower() in (".exe", ".dll") and path.is_file():
                found[path.relative_to(windows_tree).as_posix()] = path.read_bytes()
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True, type=Path)
    parser.add_argument("--fptool", required=True, type=Path)
    parser.add_argument("--windows-build-dir", required=True, type=Path)
    parser.add_argument("--work", required=True, type=Path)
    args = parser.parse_args()
    work = args.work.resolve()
    subprocess.run(["rm", "-rf", str(work)], check=True)
    work.mkdir(parents=True)
    payload = args.windows_build_dir / "sample" / "new"
    env = {k: v for k, v in os.environ.items() if not k.startswith("UPDATE_SIGN_")}
    env["FPTOOL"] = str(args.fptool)

    failures = copies_failures(args, env, work)
    # The sample's description as it is (files stored whole), and the same
    # with its files compressed, beside the default tree's build of each.
    compressed = work / "compressed.ini"
    text = (args.source / "sample" / "update.ini").read_text(encoding="utf-8")
    compressed.write_text(text.replace("[Payload]\n", "[Payload]\nCompression=zstd\n", 1), encoding="utf-8")
    deltas = work / "deltas.ini"
    old = args.windows_build_dir / "sample" / "old"
    deltas.write_text(text.replace("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\n"
                                   f"File1Earlier1={old / 'LMH.exe'}\nFile2Earlier1={old / 'dll' / 'RESOURCE.dll'}\n",
                                   1), encoding="utf-8")
    for description, default, zstd in (
            (args.source / "sample" / "update.ini", args.windows_build_dir / "bin" / "UpDate.exe", False),
            (compressed, args.windows_build_dir / "zstd" / "bin" / "UpDate.exe", True),
            (deltas, None, False)):
        failures += same_bytes(args, env, work / description.stem, description, payload, default, zstd)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


def copies_failures(args, env, work):
    """Two copies of the sources, at paths of different depth and length,
    built as tools/build.sh builds them."""
    failures = []
    trees = {}
    for name, copy in (("first copy", work / "c" / "src"),
                       ("second copy", work / "copies-of-the-same-sources" / "second" / "src")):
        copy_sources(args.source, copy)
        log = build_like_build_sh(copy, env)
        if log is not None:
            print(log)
            return [f"the {name} did not build"]
        trees[name] = built_binaries(copy / "build" / "windows")
    first, second = trees.values()
    if "bin/UpDate.exe" not in first or not any(n.startswith("sample/") for n in first):
        failures.append(f"the first copy made no UpDate.exe or no sample game: {sorted(first)}")
    if sorted(first) != sorted(second):
        failures.append(f"the copies made different files: {sorted(first)} and {sorted(second)}")
    for name in sorted(first):
        same = name in second and first[name] == second[name]
        print(f"{'same' if same else 'DIFFERENT'}  {name}")
        if not same:
            failures.append(f"the copies' {name} differ")
    return failures


def same_bytes(args, env, work, description, payload, default, zstd):
    failures = []
    built = {}
    # Folders of different depth and length, so that no build path can hide.
    for name, tree in (("first", work / "a"), ("second", work / "second-build" / "of-the-same-description")):
        if built:
            time.sleep(2)  # another second in anything that records the time
        done = subprocess.run(["bash", str(args.source / "tools" / "make_update.sh"), str(description),
                               "--payload", str(payload), "--tree", str(tree)], env=env, capture_output=True,
                              text=True)
        if done.returncode != 0:
            print(done.stdout + done.stderr)
            return [f"{description.name}: the {name} build failed"]
        print(done.stdout)
        built[name] = tree / "UpDate.exe"
        summary = done.stdout
        if not re.search(r"(?m)^signed: +no\b", summary):
            failures.append(f"the {name} build's summary does not say it is unsigned")
        if description.stem == "deltas" and len(re.findall(r"(?m)^    delta 1 +\d+  against ", summary)) != 2:
            failures.append(f"the {name} build's summary does not list a delta for each file")
        if zstd and not re.search(r"(?m)^ +encoder zstd \d+\.\d+\.\d+ .*, decoder \d+\.\d+\.\d+ ", summary):
            failures.append(f"the {name} build's summary does not name the zstd versions")
        for entry, path in (("LMH.exe", payload / "LMH.exe"), ("dll\\RESOURCE.dll", payload / "dll" / "RESOURCE.dll")):
            record = subprocess.run([str(args.fptool), "record", str(path)], capture_output=True, text=True,
                                    check=True).stdout.strip()
            size = path.stat().st_size
            if zstd:
                frame = tree / "windows" / "generated" / "frames" / (path.name.upper() + ".zst")
                packed = frame.stat().st_size if frame.is_file() else -1
                row = rf"(?m)^  {re.escape(entry)} +{size} +{packed} +{packed / size:.3f}  {record}$"
            else:
                row = rf"(?m)^  {re.escape(entry)} +{size} +{record}$"
            if not re.search(row, summary):
                failures.append(f"the {name} build's summary lacks the row of {entry} ({row})")
    if default is not None:
        built["default build"] = default

    digests = {}
    for name, path in built.items():
        digests[name] = hashlib.sha256(path.read_bytes()).hexdigest()
        print(f"SHA-256 {digests[name]}  {name}: {path}")
    if len(set(digests.values())) != 1:
        failures.append(f"{description.name}: the builds differ")
    return failures


if __name__ == "__main__":
    sys.exit(main())
