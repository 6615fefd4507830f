"""The deltas of an update build, as its description file names them
(tools/update_description.py reads the file and calls these).

In [Payload], FileNEarlierM=PATH names the M-th earlier version of payload
file N: a file on the build machine (relative to the description file),
which the build makes a delta against, so that an installation holding that
version downloads only the difference. WholeFiles=yes (the default) carries
every file whole as well, for installations that hold none of those
versions; WholeFiles=no carries only the deltas of the files that have
them, and an installation that holds none of a file's versions is told that
the update does not fit it.
"""

from pathlib import Path

# The run maps the installed file and holds the decoder's window, as large as
# the new file, in a 32-bit address space: neither may be larger than this.
# The program's limit (install/source/delta_format.h) is the same.
DELTA_FILE_LIMIT = 192 << 20
# The run keeps one choice per payload file in a table of this many entries.
FILES_WITH_DELTAS_MAX = 32


def _limit_text():
    return f"{DELTA_FILE_LIMIT >> 20} MiB ({DELTA_FILE_LIMIT:,} bytes)"


def validate(d, whole_value, entries, check_files):
    """entries: the payload's (entry, path) in file order. Returns the build's
    delta values; problems go to d.error."""
    whole_files = True
    if whole_value is not None:
        word = whole_value.text.lower()
        if word not in ("yes", "no"):
            d.error(whole_value.line, f"WholeFiles {whole_value.text!r} must be yes (the default: whole files are "
                    "carried beside the deltas) or no (deltas only)")
        whole_files = word != "no"

    base = Path(d.path).resolve().parent
    earlier = {}
    by_file = {}
    for n, m, value in d.earlier:
        by_file.setdefault(n, []).append((m, value))
    for n in sorted(by_file):
        versions = sorted(by_file[n], key=lambda v: v[0])
        first = versions[0][1]
        if n > len(entries):
            d.error(first.line, f"File{n}Earlier{versions[0][0]}: there is no File{n} in [Payload]")
            continue
        if n > FILES_WITH_DELTAS_MAX:
            d.error(first.line, f"File{n}Earlier{versions[0][0]}: deltas are made for File1 to "
                    f"File{FILES_WITH_DELTAS_MAX} only; list the files with earlier versions first")
            continue
        entry, new_path = entries[n - 1]
        # zstd's patch-from mode cannot make a delta of or against an empty file.
        if check_files and new_path.is_file() and new_path.stat().st_size == 0:
            d.error(first.line, f"File{n} {entry!r} is empty: carry it whole (no File{n}Earlier keys)")
            continue
        if check_files and new_path.is_file() and new_path.stat().st_size > DELTA_FILE_LIMIT:
            d.error(first.line, f"File{n} {entry!r} is {new_path.stat().st_size:,} bytes: the update applies deltas "
                    f"to files of at most {_limit_text()}; carry it whole (no File{n}Earlier keys)")
            continue
        paths = []
        seen = {}
        for expected, (m, value) in enumerate(versions, start=1):
            if m != expected:
                d.error(value.line, f"File{n}Earlier{m}: number the earlier versions of File{n} 1, 2, 3, ... "
                        "without gaps")
                break
            if value.text == "":
                d.error(value.line, f"File{n}Earlier{m} is empty: name a file on this machine")
                continue
            path = Path(value.text)
            if not path.is_absolute():
                path = base / path
            path = path.resolve()
            if path in seen:
                d.error(value.line, f"File{n}Earlier{m} names the same file as File{n}Earlier{seen[path]}")
                continue
            seen[path] = m
            if check_files:
                if not path.is_file():
                    d.error(value.line, f"File{n}Earlier{m}: earlier version {path} does not exist")
                    continue
                size = path.stat().st_size
                if size == 0:
                    d.error(value.line, f"File{n}Earlier{m}: {path} is empty: an installation holding it takes the "
                            "whole file")
                    continue
                if size > DELTA_FILE_LIMIT:
                    d.error(value.line, f"File{n}Earlier{m}: {path} is {size:,} bytes: the update applies deltas "
                            f"against files of at most {_limit_text()}")
                    continue
            paths.append((m, path))
        earlier[entry] = paths
    return {"earlier": earlier, "whole_files": whole_files}


def cmake_lines(build, quote):
    """For cmake/deltas.cmake: whether whole files are carried, and the
    deltas as triples of entry (with '/'), version number and earlier file."""
    triples = []
    for entry, versions in build["earlier"].items():
        for m, path in versions:
            triples += [entry.replace("\\", "/"), str(m), path.as_posix()]
    return [
        f"set(UPDATE_WHOLE_FILES {'ON' if build['whole_files'] else 'OFF'})",
        f"set(UPDATE_DELTAS {' '.join(quote(t) for t in triples)})",
    ]


def show(build):
    print(f"wholefiles={'yes' if build['whole_files'] else 'no'}")
    for entry, versions in build["earlier"].items():
        for m, path in versions:
            print(f"earlier={entry}\t{m}\t{path}")
