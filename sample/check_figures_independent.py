#!/usr/bin/env python3
"""Checks the sample game's new version against the documented figures with a
checksum of its own: a plain byte loop written from the rule, sharing no code
with the updater or fptool, whose padding was solved with the updater's own
checksum and so could not find a fault in it.

  python3 sample/check_figures_independent.py SAMPLE_DIR
"""

import struct
import sys
from pathlib import Path

GAME = (393728, 0x027E8A16, 0xD49F3F5A)
MODULE = (2560, 0x0001A420, 0x1E279CE7)
SELF_RECORD_AT = 1324
WINDOW = 0x530


def checksum(data: bytes, window=None):
    """Every byte outside the 12-byte window adds to the sum; at every offset
    on the 4-byte grid the little-endian word there (zero beyond the end) is
    XORed in. The window is entered only at its exact start."""
    total, xor, i = 0, 0, 0
    while i < len(data):
        if window is not None and i == window:
            i += 12
            continue
        if i % 4 == 0:
            xor ^= int.from_bytes(data[i:i + 4].ljust(4, b"\0"), "little")
        total = (total + data[i]) & 0xFFFFFFFF
        i += 1
    return total, xor


def main():
    sample = Path(sys.argv[1])
    failures = []
    game = (sample / "new" / "LMH.exe").read_bytes()
    module = (sample / "new" / "dll" / "RESOURCE.dll").read_bytes()

    if len(game) != GAME[0] or checksum(game) != GAME[1:]:
        failures.append(f"LMH.exe: {len(game)} bytes, pair {checksum(game)}, expected {GAME}")
    if len(module) != MODULE[0] or checksum(module, WINDOW) != MODULE[1:]:
        failures.append(f"RESOURCE.dll: {len(module)} bytes, pair {checksum(module, WINDOW)}, expected {MODULE}")
    if checksum(module) == MODULE[1:]:
        failures.append("RESOURCE.dll matches its pair even without the window")
    marker, window, total, xor = struct.unpack_from("<4sIII", module, SELF_RECORD_AT)
    if (marker, window, total, xor) != (b"/**/", WINDOW, MODULE[1], MODULE[2]):
        failures.append(f"self record at {SELF_RECORD_AT}: {marker!r} {window:#x} {total:#010x} {xor:#010x}")
    text = f"{GAME[1]:08x}{GAME[2]:08x}".encode()
    if module.count(text) != 1:
        failures.append(f"RESOURCE.dll does not hold the record text {text.decode()} once")

    for f in failures:
        print("FAIL", f)
    if not failures:
        print("sample figures confirmed by an independent byte loop")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
