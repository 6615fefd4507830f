"""The files an update build is made from, written from a description that
tools/update_description.py has read and found sound: the program's
constants (update_build.cpp), the payload for cmake (description.cmake), and
show's KEY=VALUE lines."""

from pathlib import Path

import update_deltas

# The texts a build may reword, with the sample game's wording as default.
# Key, field comment, number of "%s" the program formats into it (None: shown
# as it is, never formatted), default. It lives here because its order after
# Caption is the order of kUpdateBuild's fields; the reader takes the keys,
# defaults and argument counts from it.
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
    ("UpdateFileDamaged", "the update file itself was damaged on its way", 0,
     "アップデートファイルが破損しています。\nお手数ですが、アップデートファイルを再度ダウンロードして下さい。"),
    ("RepairUnfinished", "a failed update could not put every old file back", 0,
     "ゲームのファイルをすべて元に戻すことができませんでした。\n"
     "もう一度アップデートを起動すると、修復が完了します。"),
]

# How much of a new file is written between two of its flushes: a hard disk
# flushes 64 MiB in well under a second, so that the window, which lets a
# message through after each flush, never goes long without one; each flush
# also costs a fixed wait of its own, which smaller slices multiply (README,
# "How the project is laid out", says how this was chosen).
FLUSH_SLICE = 64 << 20


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


def make_cpp(build, description_name, flush_slice=FLUSH_SLICE):
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
    lines.append(f"    {flush_slice}u,  // bytes of a new file written between two of its flushes")
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


def show(build):
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
