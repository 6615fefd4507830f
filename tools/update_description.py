#!/usr/bin/env python3
"""Reads an update build's description file and makes the build's sources.

  update_description.py check DESCRIPTION [--payload-dir DIR]
  update_description.py generate DESCRIPTION --out-dir DIR [--payload-dir DIR]
                        [--payload-built-later | --constants-only] [--flush-slice BYTES]
  update_description.py show DESCRIPTION [--payload-dir DIR]

check validates everything and prints nothing on success. generate writes
OUT/update_build.cpp (the kUpdateBuild constants) and OUT/description.cmake
(the payload's folder and files for cmake/payload.cmake), each only when its
content changes; --flush-slice sets how much of a new file the program
writes between two of its flushes (64 MiB when left out; the native test
tree sets less, so that the sample's small files go in several slices).
show prints the payload folder, the update number, the game executable, the module, the compression (none or zstd) and the payload files, one per line, as KEY=VALUE
(then whether whole files are carried beside deltas, and the earlier versions
that deltas are made against). Every problem is reported as FILE:LINE: message; nothing is
written when there is one. Exit code 0, or 1 on a bad description.

The description is an INI file in UTF-8: see sample/update.ini.
"""

import argparse
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import update_deltas  # noqa: E402
from update_description_emit import FLUSH_SLICE, TEXTS, make_cmake, make_cpp, show, write_if_changed  # noqa: E402

REQUIRED = {
    "Product": ["MakerFolder", "Abbreviation", "DisplayName"],
    "Update": ["Number"],
    "Payload": ["Folder"],
    "Texts": [],
}
OPTIONAL = {
    "Product": [],
    "Update": ["EntryList"],
    "Payload": ["Compression", "WholeFiles"],
    "Texts": [t[0] for t in TEXTS],
}
# How the payload files travel: left out, stored whole.
COMPRESSIONS = ["zstd"]
FILE_KEY = re.compile(r"File([1-9][0-9]*)$", re.IGNORECASE)
# FileNEarlierM: the M-th earlier version of payload file N, which the build
# makes a delta against.
EARLIER_KEY = re.compile(r"File([1-9][0-9]*)Earlier([1-9][0-9]*)$", re.IGNORECASE)

MODULE_ENTRY = "dll\\RESOURCE.dll"
# The update record is compared as a single-precision number: above this,
# two neighbouring update numbers would compare equal.
LARGEST_UPDATE_NUMBER = 1 << 24
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL", *(f"COM{i}" for i in range(1, 10)), *(f"LPT{i}" for i in range(1, 10))}
# Payload names become resource names and file names on the player's disk.
PAYLOAD_NAME = re.compile(r"[A-Za-z0-9._-]+$")
# A file travels in one resource and the run counts it in 32 bits: each is
# below 4 GiB. The run adds them up in 64 bits; the whole update is held to
# 16 GiB written, where the percentage's single-precision total is still
# exact to a kibibyte.
FILE_SIZE_LIMIT = (4 << 30) - 1
PAYLOAD_SIZE_LIMIT = 16 << 30


class Value:
    def __init__(self, text, line):
        self.text = text
        self.line = line


class Description:
    def __init__(self, path):
        self.path = path
        self.errors = []
        self.sections = {}  # section -> key -> Value (keys as written in REQUIRED/OPTIONAL)
        self.section_lines = {}
        self.files = []  # (number, Value)
        self.earlier = []  # (file number, version number, Value)

    def error(self, line, message):
        where = f"{self.path}:{line}" if line else str(self.path)
        self.errors.append(f"{where}: {message}")


def canonical_key(section, key):
    for known in REQUIRED[section] + OPTIONAL[section]:
        if known.lower() == key.lower():
            return known
    return None


def parse(path):
    d = Description(path)
    try:
        raw = Path(path).read_bytes()
    except OSError as e:
        d.error(0, f"cannot read the description: {e.strerror}")
        return d
    if raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    section = None
    for number, line_bytes in enumerate(raw.split(b"\n"), start=1):
        try:
            line = line_bytes.decode("utf-8").rstrip("\r")
        except UnicodeDecodeError:
            d.error(number, "not UTF-8 text; save the description as UTF-8")
            continue
        stripped = line.strip()
        if not stripped or stripped[0] in ";#":
            continue
        if stripped.startswith("["):
            name = stripped[1:-1].strip() if stripped.endswith("]") else None
            known = next((s for s in REQUIRED if name is not None and s.lower() == name.lower()), None)
            if known is None:
                d.error(number, f"unknown section {stripped}; the sections are "
                        + ", ".join(f"[{s}]" for s in REQUIRED))
                section = None
            elif known in d.sections:
                d.error(number, f"section [{known}] appears twice (first at line {d.section_lines[known]})")
                section = known
            else:
                section = known
                d.sections[known] = {}
                d.section_lines[known] = number
            continue
        if "=" not in stripped:
            d.error(number, "expected KEY=VALUE, [Section], or a comment starting with ';'")
            continue
        key, value = stripped.split("=", 1)
        key, value = key.strip(), value.strip()
        if len(value) >= 2 and value[0] == value[-1] == '"':
            value = value[1:-1]
        if section is None:
            d.error(number, f"key {key} outside a known section")
            continue
        earlier_match = EARLIER_KEY.match(key) if section == "Payload" else None
        if earlier_match:
            n, m = int(earlier_match.group(1)), int(earlier_match.group(2))
            if any((a, b) == (n, m) for a, b, _ in d.earlier):
                d.error(number, f"key File{n}Earlier{m} appears twice")
            d.earlier.append((n, m, Value(value, number)))
            continue
        file_match = FILE_KEY.match(key) if section == "Payload" else None
        if file_match:
            n = int(file_match.group(1))
            if any(m == n for m, _ in d.files):
                d.error(number, f"key File{n} appears twice")
            d.files.append((n, Value(value, number)))
            continue
        known = canonical_key(section, key)
        if known is None:
            allowed = REQUIRED[section] + OPTIONAL[section] + (
                ["File1", "File2", "...", "File1Earlier1", "..."] if section == "Payload" else [])
            d.error(number, f"unknown key {key} in [{section}]; the keys there are " + ", ".join(allowed))
            continue
        if known in d.sections[section]:
            d.error(number, f"key {known} appears twice (first at line {d.sections[section][known].line})")
            continue
        d.sections[section][known] = Value(value, number)
    return d


def section_line(d, section):
    return d.section_lines.get(section, 0)


def check_cp932(d, value, what):
    try:
        value.text.encode("cp932")
        return True
    except UnicodeEncodeError as e:
        bad = value.text[e.start:e.end]
        d.error(value.line, f"{what}: {bad!r} (U+{ord(bad[0]):04X}) cannot be written in code page 932")
        return False


def check_file_name(d, value, what):
    """A name that the program joins into a path as one component."""
    name = value.text
    if not check_cp932(d, value, what):
        return
    problem = None
    if name == "":
        problem = "is empty"
    elif any(c in '<>:"/\\|?*' or ord(c) < 32 for c in name):
        problem = 'holds a character a file name cannot hold (< > : " / \\ | ? * or a control character)'
    elif name[-1] in ". ":
        problem = "ends with a dot or a space, which Windows drops from a file name"
    elif name.split(".")[0].upper() in RESERVED_NAMES:
        problem = "is a reserved device name on Windows"
    if problem:
        d.error(value.line, f"{what} {name!r} cannot name a file: it {problem}")


def decode_text(d, value, what):
    r"""Texts write a line break as \n and a backslash as \\."""
    out = []
    i = 0
    t = value.text
    while i < len(t):
        c = t[i]
        if c == "\\":
            nxt = t[i + 1] if i + 1 < len(t) else ""
            if nxt == "n":
                out.append("\n")
            elif nxt == "\\":
                out.append("\\")
            else:
                d.error(value.line, f"{what}: unknown escape \\{nxt}; write \\n for a line break, \\\\ for a backslash")
                return None
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def check_directives(d, value, text, what, arguments):
    """The program formats the text with `arguments` strings: anything else
    the formatter would read is a fault."""
    if arguments is None:
        return
    found = 0
    for m in re.finditer(r"%(.?)", text):
        if m.group(1) == "%":
            continue
        if m.group(1) != "s" or arguments == 0:
            d.error(value.line, f"{what}: %{m.group(1)} is not allowed; the text may hold "
                    + ("%s (the display name) once and %% for a percent sign" if arguments else "%% for a percent sign"))
            return
        found += 1
    if found > arguments:
        d.error(value.line, f"{what}: %s appears {found} times; at most {arguments} allowed (use %% for a percent sign)")


def key_value(d, section, key):
    return d.sections.get(section, {}).get(key)


def validate_required(d):
    for section, keys in REQUIRED.items():
        if section not in d.sections and keys:
            d.error(0, f"section [{section}] is missing (it must give {', '.join(keys)})")
            continue
        for key in keys:
            if key not in d.sections.get(section, {}):
                d.error(section_line(d, section), f"[{section}] is missing the key {key}")


def validate_product(d):
    maker, abbr, name = (key_value(d, "Product", key) for key in ("MakerFolder", "Abbreviation", "DisplayName"))
    check_file_name(d, maker, "MakerFolder")
    check_file_name(d, abbr, "Abbreviation")
    if check_cp932(d, name, "DisplayName") and name.text == "":
        d.error(name.line, "DisplayName is empty")
    return {"maker": maker.text, "abbreviation": abbr.text, "name": name.text}


def validate_update(d):
    """Only the number: the entry list is embedded beside the payload files,
    so validate_payload holds its name to their rules."""
    number = key_value(d, "Update", "Number")
    if not re.fullmatch(r"[1-9][0-9]*", number.text):
        d.error(number.line, f"Number {number.text!r} is not a positive decimal number (1, 2, 3, ...)")
    elif int(number.text) > LARGEST_UPDATE_NUMBER:
        d.error(number.line, f"Number {number.text} is too large: the program compares update numbers exactly "
                f"only up to {LARGEST_UPDATE_NUMBER}")
    return {"number": number.text}


def validate_texts(d):
    texts = {}
    for key, _, arguments, default in TEXTS:
        value = key_value(d, "Texts", key)
        if value is None:
            texts[key] = default
            continue
        text = decode_text(d, value, key)
        if text is None or not check_cp932(d, Value(text, value.line), key):
            continue
        if text == "":
            d.error(value.line, f"{key} is empty; leave the key out to keep the standard text")
            continue
        check_directives(d, value, text, key, arguments)
        texts[key] = text
    return texts


def payload_folder(d, payload_dir, check_files):
    """Also whether to look for the payload files: a missing folder is one
    problem, not one more for every file in it."""
    folder_value = key_value(d, "Payload", "Folder")
    if payload_dir is not None:
        folder = Path(payload_dir)
    else:
        folder = Path(folder_value.text)
        if not folder.is_absolute():
            folder = Path(d.path).resolve().parent / folder
    folder = Path(folder).resolve() if folder.exists() else Path(folder).absolute()
    if check_files and not folder.is_dir():
        d.error(folder_value.line if payload_dir is None else 0, f"payload folder {folder} does not exist")
        check_files = False
    return folder, check_files


def payload_entries(d, folder, check_files):
    """The FileN keys as (entry, path) in the order the update writes them,
    and which file each final name (upper case) belongs to."""
    if not d.files:
        d.error(section_line(d, "Payload"), "[Payload] lists no files (File1=..., File2=..., in the order "
                "the update writes them)")
    d.files.sort(key=lambda f: f[0])
    for expected, (n, value) in enumerate(d.files, start=1):
        if n != expected:
            d.error(value.line, f"File{n} follows File{expected - 1}: number the files 1, 2, 3, ... without gaps")
            break
    entries = []
    resources = {}
    for n, value in d.files:
        parts = re.split(r"[\\/]", value.text)
        if value.text == "" or any(p in ("", ".", "..") for p in parts) or ":" in value.text:
            d.error(value.line, f"File{n} {value.text!r} is not a relative path under the install folder")
            continue
        bad = [p for p in parts if not PAYLOAD_NAME.match(p) or p[-1] == "."]
        if bad:
            d.error(value.line, f"File{n} {value.text!r}: payload names are ASCII letters, digits, '.', '_' and '-'")
            continue
        resource = parts[-1].upper()
        if resource in resources:
            d.error(value.line, f"File{n} {value.text!r} ends in the same name as File{resources[resource]}; "
                    "the update finds each payload file by its final name")
            continue
        resources[resource] = n
        path = folder.joinpath(*parts)
        if check_files and not path.is_file():
            d.error(value.line, f"File{n}: payload file {path} does not exist")
        entries.append(("\\".join(parts), path))
    return entries, resources


def check_sizes(d, entries, entry_list_path):
    """Each file, and all of them with the entry list together, within what
    the run writes."""
    total = 0
    for n, (entry, path) in enumerate(entries, start=1):
        size = path.stat().st_size
        total += size
        if size > FILE_SIZE_LIMIT:
            d.error(d.files[n - 1][1].line, f"File{n} {entry!r} is {size:,} bytes: the update writes files below 4 GiB "
                    f"(at most {FILE_SIZE_LIMIT:,} bytes)")
    if entry_list_path is not None:
        total += entry_list_path.stat().st_size
    if total > PAYLOAD_SIZE_LIMIT:
        d.error(section_line(d, "Payload"), f"the payload files together are {total:,} bytes: the update writes at "
                f"most 16 GiB ({PAYLOAD_SIZE_LIMIT:,} bytes) in all")


def validate_payload(d, abbreviation, payload_dir, check_files):
    """With [Update]'s EntryList, embedded beside the payload files. The deltas
    and the game's place in the payload are looked at only when nothing else in
    the description is wrong, so this comes after every other section."""
    entry_list = key_value(d, "Update", "EntryList") or Value("", 0)
    if entry_list.text:
        check_file_name(d, entry_list, "EntryList")
        if not PAYLOAD_NAME.match(entry_list.text):
            d.error(entry_list.line, f"EntryList {entry_list.text!r}: names of embedded files are ASCII letters, "
                    "digits, '.', '_' and '-'")

    compression = key_value(d, "Payload", "Compression")
    if compression is not None and compression.text not in COMPRESSIONS:
        d.error(compression.line, f"Compression {compression.text!r} is not known; write "
                + " or ".join(COMPRESSIONS) + ", or leave the key out to store the files whole")

    folder, check_files = payload_folder(d, payload_dir, check_files)
    entries, resources = payload_entries(d, folder, check_files)
    if entry_list.text:
        if entry_list.text.upper() in resources:
            d.error(entry_list.line, f"EntryList {entry_list.text!r} has the name of payload file "
                    f"File{resources[entry_list.text.upper()]}")
        elif check_files and not (folder / entry_list.text).is_file():
            d.error(entry_list.line, f"entry list {folder / entry_list.text} does not exist")

    if check_files and not d.errors:
        check_sizes(d, entries, folder / entry_list.text if entry_list.text else None)

    names = {e.lower(): (e, path) for e, path in entries}
    game = f"{abbreviation}.exe"
    if d.errors:
        return None
    deltas = update_deltas.validate(d, key_value(d, "Payload", "WholeFiles"), entries, check_files)
    if d.errors:
        return None
    if game.lower() not in names:
        d.error(d.files[0][1].line, f"the payload does not hold the game executable {game} "
                f"(Abbreviation {abbreviation} names it); the update must write it")
    if MODULE_ENTRY not in (e for e, _ in entries):
        d.error(d.files[0][1].line, f"the payload does not hold the fingerprint module {MODULE_ENTRY} "
                "(spelled so); it must carry the record of the new game executable")
    if d.errors:
        return None
    return {
        "entry_list": entry_list.text, "entries": entries, "folder": folder,
        "compression": compression.text if compression else "",
        "game_entry": names[game.lower()][0].replace("\\", "/"), "game": names[game.lower()][1],
        "module": names[MODULE_ENTRY.lower()][1],
        "entry_list_path": folder / entry_list.text if entry_list.text else None,
        **deltas,
    }


def validate(d, payload_dir=None, check_files=True):
    """The values the sources are made from, or None when anything is wrong
    (d.errors says what)."""
    validate_required(d)
    if d.errors:
        return None
    product = validate_product(d)
    update = validate_update(d)
    texts = validate_texts(d)
    payload = validate_payload(d, product["abbreviation"], payload_dir, check_files)
    if payload is None:
        return None
    return {**product, **update, "texts": texts, **payload}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=["check", "generate", "show"])
    parser.add_argument("description")
    parser.add_argument("--payload-dir", help="take the payload files from here instead of the description's Folder")
    parser.add_argument("--out-dir")
    later = parser.add_mutually_exclusive_group()
    later.add_argument("--payload-built-later", action="store_true",
                       help="the build makes the payload files: do not look for them yet")
    later.add_argument("--constants-only", action="store_true",
                       help="write only update_build.cpp; do not look for the payload files")
    parser.add_argument("--flush-slice", type=int, default=FLUSH_SLICE,
                        help="bytes of a new file written between two of its flushes")
    args = parser.parse_args(argv)
    if args.flush_slice <= 0 or args.flush_slice >= 1 << 32:
        parser.error("--flush-slice takes a positive number of bytes below 4 GiB")
    if args.command == "generate" and not args.out_dir:
        parser.error("generate needs --out-dir")

    d = parse(args.description)
    build = None
    if not d.errors:
        check_files = not (args.payload_built_later or args.constants_only)
        build = validate(d, args.payload_dir, check_files)
    if d.errors:
        for e in d.errors:
            print(e, file=sys.stderr)
        print(f"{args.description}: not built: {len(d.errors)} problem(s)", file=sys.stderr)
        return 1

    if args.command == "generate":
        out = Path(args.out_dir)
        write_if_changed(out / "update_build.cpp", make_cpp(build, Path(args.description).name, args.flush_slice))
        if not args.constants_only:
            write_if_changed(out / "description.cmake", make_cmake(build))
    elif args.command == "show":
        show(build)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
