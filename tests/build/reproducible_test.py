"""The same description and payload give the same UpDate.exe: two builds by
tools/make_update.sh in two folders, at two times, and the default build;
for the sample's files stored whole and for them compressed; and two builds
with deltas from the sample's old version.

  python3 reproducible_test.py --source DIR --fptool FPTOOL --windows-build-dir DIR --work DIR
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import time
from pathlib import Path


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

    failures = []
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
