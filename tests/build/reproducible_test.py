"""The same description and payload give the same UpDate.exe: two builds by
tools/make_update.sh in two folders, at two times, and the default build.

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
    built = {}
    # Folders of different depth and length, so that no build path can hide.
    for name, tree in (("first", work / "a"), ("second", work / "second-build" / "of-the-same-description")):
        if built:
            time.sleep(2)  # another second in anything that records the time
        done = subprocess.run(["bash", str(args.source / "tools" / "make_update.sh"),
                               str(args.source / "sample" / "update.ini"), "--payload", str(payload),
                               "--tree", str(tree)], env=env, capture_output=True, text=True)
        if done.returncode != 0:
            print(done.stdout + done.stderr)
            return 1
        print(done.stdout)
        built[name] = tree / "UpDate.exe"
        summary = done.stdout
        if not re.search(r"(?m)^signed: +no\b", summary):
            failures.append(f"the {name} build's summary does not say it is unsigned")
        for entry, path in (("LMH.exe", payload / "LMH.exe"), ("dll\\RESOURCE.dll", payload / "dll" / "RESOURCE.dll")):
            record = subprocess.run([str(args.fptool), "record", str(path)], capture_output=True, text=True,
                                    check=True).stdout.strip()
            row = rf"(?m)^  {re.escape(entry)} +{path.stat().st_size} +{record}$"
            if not re.search(row, summary):
                failures.append(f"the {name} build's summary lacks the row {entry} {path.stat().st_size} {record}")
    built["default build"] = args.windows_build_dir / "bin" / "UpDate.exe"

    digests = {}
    for name, path in built.items():
        digests[name] = hashlib.sha256(path.read_bytes()).hexdigest()
        print(f"SHA-256 {digests[name]}  {name}: {path}")
    if len(set(digests.values())) != 1:
        failures.append("the builds differ")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
