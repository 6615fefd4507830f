#!/usr/bin/env python3
"""Checks that a signed PE file is its unsigned original plus a signature.

  pe_signed.py UNSIGNED SIGNED

Signing may change only the header's checksum and the certificate table's
directory entry, and may add the certificate table (after at most 7 bytes of
padding) at the end. Everything else, the embedded payload included, must be
byte for byte the original. Exit code 0 when it is, 1 with the first
difference otherwise.
"""

import struct
import sys


def header_fields(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", data, pe + 0x18)[0] != 0x10B:
        raise ValueError("not a 32-bit PE file")
    checksum = pe + 0x58
    security = pe + 0x18 + 96 + 4 * 8  # data directory 4: the certificate table
    return checksum, security


def compare(unsigned, signed):
    """None when `signed` is `unsigned` plus a signature, else what differs."""
    checksum, security = header_fields(unsigned)
    if struct.unpack_from("<II", unsigned, security) != (0, 0):
        return "the original already carries a certificate table"
    table, table_size = struct.unpack_from("<II", signed, security)
    if table_size == 0:
        return "the signed file has no certificate table"
    if not len(unsigned) <= table < len(unsigned) + 8 or table + table_size != len(signed):
        return (f"the certificate table ({table}, {table_size} bytes) is not at the end of the original "
                f"({len(unsigned)} bytes) and of the signed file ({len(signed)} bytes)")
    if any(signed[len(unsigned):table]):
        return "the padding before the certificate table is not zero"
    allowed = set(range(checksum, checksum + 4)) | set(range(security, security + 8))
    for i, (a, b) in enumerate(zip(unsigned, signed[:len(unsigned)])):
        if a != b and i not in allowed:
            return f"byte {i} differs ({a:#04x} in the original, {b:#04x} signed)"
    return None


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[0], "rb") as f:
        unsigned = f.read()
    with open(argv[1], "rb") as f:
        signed = f.read()
    try:
        problem = compare(unsigned, signed)
    except (ValueError, struct.error) as e:
        problem = str(e)
    if problem:
        print(f"{argv[1]}: not {argv[0]} plus a signature: {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
