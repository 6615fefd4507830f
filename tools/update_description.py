#!/usr/bin/env python3
"""Reads an update build's description file and makes the build's sources.

  update_description.py check DESCRIPTION [--payload-dir DIR]
  update_description.py generate DESCRIPTION --out-dir DIR [--payload-dir DIR]
                        [--payload-built-later | --constants-only]
  update_description.py show DESCRIPTION [--payload-dir DIR]

check validates everything and prints nothing on success. generate writes
OUT/update_build.cpp (the kUpdateBuild constants) and OUT/description.cmake
(the payload's folder and files for cmake/payload.cmake), each only when its
content changes. show prints the payload folder, the update number, the game
executable, the module, the compression (none or zstd) and the payload files, one per line, as KEY=VALUE
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

# The texts a build may reword, with the sample game's wording as default.
# Key, field comment, number of "%s" the program formats into it (None: shown
# as it is, never formatted), default.
TEXTS = [
    ("Caption", "formats the updater caption from the display name", 1, "%s - Update Program"),
    ("InstallNotFound", "the installation was not found", 1, "「%s」のインストール先の検出に失敗しました。"),
    ("ConfirmUpdate", "asks before writing", 1,
     "「%s」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。"),
    ("InstallDataBroken", "the installation failed its check", 0,
     "インストール先のデータが破損している可能性があります。\n再度ゲームをインストールし直してからアップデートを行って下さい。"),
    ("AlreadyUpdated", "this update is already recorded", 0,
     "アップデートする必要がありませんでしたが、\n引き続きアップデートを行いますか？"),
    ("UpdateFinished", "the update has finished", 0, "アップデートが終了しました。"),
    ("UpdateAborted", "the update was aborted", 0, "アップデートが中止されました。"),
    ("MergeFailedCaption", "caption of the failed entry-list merge", None, "アップデート情報の更新に失敗しました。"),
    ("UpdateDoesNotFit", "a build of deltas only meets none of their versions", 1,
     "インストールされている「%s」のバージョンには、このアップデートを適用できません。\n"
     "お使いのバージョンに対応したアップデートを入手して下さい。"),
    ("RepairUnfinished", "a failed update could not put every old file back", 0,
     "ゲームのファイルをすべて元に戻すことができませんでした。\n"
     "もう一度アップデートを起動すると、修復が完了します。"),
]

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


def validate(d, payload_dir=None, check_files=True):
    """Fills d.build (the values the sources are made from) when nothing is wrong."""
    for section, keys in REQUIRED.items():
        if section not in d.sections and keys:
            d.error(0, f"section [{section}] is missing (it must give {', '.join(keys)})")
            continue
        for key in keys:
            if key not in d.sections.get(section, {}):
                d.error(section_line(d, section), f"[{section}] is missing the key {key}")
    if d.errors:
        return None
    get = lambda s, k: d.sections.get(s, {}).get(k)
    maker, abbr, name, number = get("Product", "MakerFolder"), get("Product", "Abbreviation"), \
        get("Product", "DisplayName"), get("Update", "Number")
    check_file_name(d, maker, "MakerFolder")
    check_file_name(d, abbr, "Abbreviation")
    if check_cp932(d, name, "DisplayName") and name.text == "":
        d.error(name.line, "DisplayName is empty")
    if not re.fullmatch(r"[1-9][0-9]*", number.text):
        d.error(number.line, f"Number {number.text!r} is not a positive decimal number (1, 2, 3, ...)")
    elif int(number.text) > LARGEST_UPDATE_NUMBER:
        d.error(number.line, f"Number {number.text} is too large: the program compares update numbers exactly "
                f"only up to {LARGEST_UPDATE_NUMBER}")

    texts = {}
    for key, _, arguments, default in TEXTS:
        value = get("Texts", key)
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

    entry_list = get("Update", "EntryList") or Value("", 0)
    if entry_list.text:
        check_file_name(d, entry_list, "EntryList")
        if not PAYLOAD_NAME.match(entry_list.text):
            d.error(entry_list.line, f"EntryList {entry_list.text!r}: names of embedded files are ASCII letters, "
                    "digits, '.', '_' and '-'")

    compression = get("Payload", "Compression")
    if compression is not None and compression.text not in COMPRESSIONS:
        d.error(compression.line, f"Compression {compression.text!r} is not known; write "
                + " or ".join(COMPRESSIONS) + ", or leave the key out to store the files whole")

    folder_value = get("Payload", "Folder")
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
    if entry_list.text:
        if entry_list.text.upper() in resources:
            d.error(entry_list.line, f"EntryList {entry_list.text!r} has the name of payload file "
                    f"File{resources[entry_list.text.upper()]}")
        elif check_files and not (folder / entry_list.text).is_file():
            d.error(entry_list.line, f"entry list {folder / entry_list.text} does not exist")

    names = {e.lower(): (e, path) for e, path in entries}
    game = f"{abbr.text}.exe"
    if d.errors:
        return None
    deltas = update_deltas.validate(d, get("Payload", "WholeFiles"), entries, check_files)
    if d.errors:
        return None
    if game.lower() not in names:
        d.error(d.files[0][1].line, f"the payload does not hold the game executable {game} "
                f"(Abbreviation {abbr.text} names it); the update must write it")
    if MODULE_ENTRY not in (e for e, _ in entries):
        d.error(d.files[0][1].line, f"the payload does not hold the fingerprint module {MODULE_ENTRY} "
                "(spelled so); it must carry the record of the new game executable")
    if d.errors:
        return None
    return {
        "maker": maker.text, "abbreviation": abbr.text, "name": name.text, "number": number.text,
        "entry_list": entry_list.text, "texts": texts, "entries": entries, "folder": folder,
        "compression": compression.text if compression else "",
        "game_entry": names[game.lower()][0].replace("\\", "/"), "game": names[game.lower()][1],
        "module": names[MODULE_ENTRY.lower()][1],
        "entry_list_path": folder / entry_list.text if entry_list.text else None,
        **deltas,
    }


def c_string(text):
    """A C string literal holding the text's code page 932 bytes, so that the
    program's bytes never depend on the compiler's character conversion."""
    out = []
    for byte in text.encode("cp932"):
        ch = chr(byte)
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif 0x20 <= byte < 0x7F and ch != "?":
            out.append(ch)
        else:
            out.append(f"\\{byte:03o}")
    return '"' + "".join(out) + '"'


def make_cpp(build, description_name):
    texts = build["texts"]
    lines = [
        f"// The constants of the update build described by {description_name}.",
        "// Made by tools/update_description.py: edit the description, not this file.",
        '#include "core/update_build.h"',
        "",
        "namespace {",
        "const PayloadEntry kPayloadTable[] = {",
    ]
    lines += [f"    {{{c_string(entry)}}}," for entry, _ in build["entries"]]
    lines += [
        "    {nullptr},",
        "};",
        "}  // namespace",
        "",
        "const UpdateBuild kUpdateBuild = {",
    ]

    def field(value, comment):
        # Quoted, so that no comment ends in a backslash and swallows the next line.
        shown = value.replace("\n", "\\n")
        lines.append(f'    {c_string(value)},  // {comment}: "{shown}"')

    field(build["maker"], "maker folder")
    field(build["name"], "product display name")
    field(build["abbreviation"], "product abbreviation")
    field(texts["Caption"], "caption format")
    field(build["number"], "update number")
    lines.append("    kPayloadTable,")
    field(build["entry_list"], "entry-list name")
    for key, comment, _, _ in TEXTS[1:]:
        field(texts[key], comment)
    lines += ["};", ""]
    return "\n".join(lines)


def cmake_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("$", "\\$") + '"'


def make_cmake(build):
    entries = [entry.replace("\\", "/") for entry, _ in build["entries"]]
    return "\n".join([
        "# The payload of the described update build, made by tools/update_description.py.",
        f"set(UPDATE_PAYLOAD_FOLDER {cmake_quote(build['folder'].as_posix())})",
        f"set(UPDATE_PAYLOAD_ENTRIES {' '.join(cmake_quote(e) for e in entries)})",
        f"set(UPDATE_GAME_EXECUTABLE {cmake_quote(build['game_entry'])})",
        f"set(UPDATE_ENTRY_LIST {cmake_quote(build['entry_list'])})",
        f"set(UPDATE_PAYLOAD_COMPRESSION {cmake_quote(build['compression'])})",
        *update_deltas.cmake_lines(build, cmake_quote),
        "",
    ])


def write_if_changed(path, content):
    path = Path(path)
    data = content.encode("utf-8")
    if path.is_file() and path.read_bytes() == data:
        return
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


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
    args = parser.parse_args(argv)
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
        write_if_changed(out / "update_build.cpp", make_cpp(build, Path(args.description).name))
        if not args.constants_only:
            write_if_changed(out / "description.cmake", make_cmake(build))
    elif args.command == "show":
        print(f"folder={build['folder']}")
        print(f"number={build['number']}")
        print(f"game={build['game']}")
        print(f"module={build['module']}")
        print(f"compression={build['compression'] or 'none'}")
        for entry, path in build["entries"]:
            print(f"file={entry}\t{path}")
        if build["entry_list_path"] is not None:
            print(f"file={build['entry_list']}\t{build['entry_list_path']}")
        update_deltas.show(build)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
