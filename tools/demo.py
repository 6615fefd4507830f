#!/usr/bin/env python3
"""Runs an update the way a player meets it, and shows what happens.

Makes an installation of the game (by default the sample game's old
version) and its profile file in a fresh Wine prefix, starts UpDate.exe
there, prints every message it shows (text, caption, buttons, icon), the
percentage as it rises and the exit code, and the installation's state
before and after: each file's record text and whether the installation
verifies. Without --interactive it answers OK to every box itself and saves
a picture of every window the player would see.

Exits 0 only when the outcome is the one the answers asked for: after OK
(and Yes) every payload file in place (an entry list by its entries, as it
is merged), nothing left beside them, the update record in the profile file
and the final box seen; after a Cancel or a No the installation and the
profile file byte for byte as before. Otherwise it says in one line what is
missing and exits 1; so it does when the harness itself fails. With
--interactive either outcome counts.

  python3 tools/demo.py [--updater EXE] [--installation DIR] [--pictures DIR]
                        [--interactive] [--answer OK|Cancel|Yes|No ...]
                        [--locale en_US.UTF-8]

With --locale the system is set to that language instead of Japanese (code
page 1252 for en_US.UTF-8), and the pictures' names end in the locale's
language, as 1-message-en_US.png.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402
import live_run  # noqa: E402
import texts  # noqa: E402

INSTALL_WIN = r"C:\Games\LMH"
ICON_NAMES = {"none": "no icon", "question": "question icon", "warning": "warning icon",
              "error": "error icon", "information": "information icon"}
BUTTON_NAMES = {1: "OK", 2: "Cancel", 6: "Yes", 7: "No"}


def say(line=""):
    print(line, flush=True)


def fptool(build: Path) -> Path:
    tool = build / "native" / "bin" / "fptool"
    if not tool.is_file():
        raise SystemExit(f"{tool} is missing: run tools/build.sh first")
    return tool


def describe_installation(tool: Path, folder: Path, payload: Path) -> bool:
    """Prints each file's record text; True when the installation verifies."""
    for name in ("LMH.exe", "dll/RESOURCE.dll"):
        path = folder / name
        if not path.is_file():
            say(f"    {name:18} missing")
            continue
        record = subprocess.run([tool, "record", path], capture_output=True, text=True).stdout.strip()
        same = payload.joinpath(name).is_file() and payload.joinpath(name).read_bytes() == path.read_bytes()
        say(f"    {name:18} {path.stat().st_size:>10,} bytes  record {record}"
            f"{'  (the payload)' if same else ''}")
    module, game = folder / "dll" / "RESOURCE.dll", folder / "LMH.exe"
    check = subprocess.run([tool, "check", module, game], capture_output=True, text=True)
    verifies = check.returncode == 0
    say(f"    verifies: {'yes' if verifies else 'no'}"
        + ("" if verifies else f" ({(check.stdout + check.stderr).strip().splitlines()[-1]})"))
    return verifies


class Pictures:
    """Screenshots of the Wine windows, cut to the window's rectangle."""

    def __init__(self, folder: Path, display: str, enabled: bool, suffix: str = ""):
        self.folder, self.display, self.enabled, self.suffix = folder, display, enabled, suffix
        self.saved = []
        if enabled:
            folder.mkdir(parents=True, exist_ok=True)

    def take(self, name: str, rect):
        if not self.enabled or not rect:
            return
        left, top, right, bottom = rect
        out = self.folder / f"{name}{self.suffix}.png"
        # A short moment lets the window finish painting.
        time.sleep(0.15)
        subprocess.run(["import", "-display", self.display, "-window", "root",
                        "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", out],
                       check=True, capture_output=True)
        self.saved.append(out)
        say(f"    picture: {out}")


def run(session, updater: Path, answers, pictures: Pictures, interactive: bool):
    """Starts UpDate.exe and tells what it shows as it comes; the run's state
    (exit code, the boxes' texts as the windows hold them, trouble seen)."""
    state = {"exit": None, "last": None, "risen": [], "rect": None, "pictured": False, "boxes": [],
             "trouble": []}

    def on_event(event):
        kind = event.get("event")
        if kind == "message":
            text = bytes.fromhex(event["text_w"]).decode("utf-8")
            caption = bytes.fromhex(event["caption_w"]).decode("utf-8")
            buttons = " / ".join(BUTTON_NAMES.get(b, str(b)) for b in event["buttons"])
            state["boxes"].append(text)
            say(f"  message {event['index']}: [{caption}]  {buttons}, {ICON_NAMES.get(event['icon'], event['icon'])}")
            for text_line in text.split("\n"):
                say(f"    | {text_line}")
            pictures.take(f"{event['index']}-message", event.get("rect"))
        elif kind == "answer":
            say(f"    answered {event['answer']}")
        elif kind == "progress_visible" and event.get("visible"):
            title = bytes.fromhex(event["title_w"]).decode("utf-8")
            status = bytes.fromhex(event["status_w"]).decode("utf-8")
            say(f"  progress window: [{title}]  {status}")
            state["rect"] = event.get("rect")
        elif kind == "percent":
            percent = bytes.fromhex(event["text"]).decode("cp932").strip()
            if percent == state["last"]:
                return
            state["last"] = percent
            state["risen"].append(percent)
            # The rise, twenty steps to a line.
            if len(state["risen"]) == 20 or percent == "100%":
                say("    " + " ".join(f"{p:>4}" for p in state["risen"]))
                state["risen"] = []
            if not state["pictured"] and int(percent.rstrip("%")) >= 30:
                pictures.take("progress", state["rect"])
                state["pictured"] = True
        elif kind == "exit":
            state["exit"] = event["code"]
        elif kind == "ending":
            # Whatever the exit code said: a program that died is no success.
            say(f"  ended: {event['text']}")
            if not event["normal"]:
                state["trouble"].append(event["text"])
        elif kind in ("timeout", "unanswered"):
            say(f"  {kind}: {event}")
            state["trouble"].append("the program ran past its time limit" if kind == "timeout"
                                    else f"box {event.get('index')} found no answer left")

    # Read off the running program, so that every figure is read beside it.
    live_run.follow(session, updater, answers, on_event, observe=interactive,
                    on_mode=lambda mode: say(f"  {updater.name} runs as an i386 program: {mode}"))
    return state


# ---- the outcome ----

def build_facts(updater: Path) -> dict:
    """What the build that made updater says of itself, from the constants
    its description gave (generated/update_build.cpp beside its tree): the
    update number, the entry list's name and the final box's text. Empty
    where that file is not found."""
    for generated in (updater.parent.parent / "generated", updater.parent / "windows" / "generated"):
        source = generated / "update_build.cpp"
        if source.is_file():
            break
    else:
        return {}
    facts = {}
    for comment, value in re.findall(r'//\s*([^:\n]+): "(.*)"\s*$', source.read_text(encoding="utf-8"), re.M):
        facts[comment.strip()] = value.replace("\\n", "\n")
    return {"number": facts.get("update number"), "entry_list": facts.get("entry-list name", ""),
            "finished": facts.get("the update has finished")}


def list_entries(data: bytes) -> set:
    """The entries of an entry list: its lines, whatever ends them."""
    return {line.strip(b"\r\0 ") for line in data.split(b"\n")} - {b""}


def update_missing(folder: Path, payload: Path, before: dict, entry_list: str, list_before: bytes,
                   profile_before: bytes, profile_after: bytes, number, finished: str, boxes) -> list:
    """What an update answered with OK lacks: each payload file in place,
    nothing else changed or added, the record, the final box. The entry
    list is merged into the installed one: it holds the entries of both."""
    missing = []
    after = harness.tree_digest(folder)
    written = harness.tree_digest(payload)
    for name, digest in sorted(written.items()):
        if name not in after:
            missing.append(f"{name} is missing")
        elif entry_list and name.lower() == entry_list.replace("\\", "/").lower():
            merged = list_entries(folder.joinpath(name).read_bytes())
            for whose, entries in (("the payload's", list_entries(payload.joinpath(name).read_bytes())),
                                   ("the installed list's", list_entries(list_before))):
                if entries - merged:
                    missing.append(f"the entry list {name} lacks {len(entries - merged)} of {whose} entries")
        elif after[name] != digest:
            missing.append(f"{name} is not the payload's")
    left = sorted(set(after) - set(before) - set(written))
    if left:
        missing.append("left in the installation: " + ", ".join(left))
    changed = sorted(n for n in set(before) - set(written) if after.get(n) != before[n])
    if changed:
        missing.append("changed or removed, though not in the payload: " + ", ".join(changed))
    missing += record_missing(profile_before, profile_after, number)
    if finished not in boxes:
        missing.append("the final box was not seen")
    return missing


def record_missing(profile_before: bytes, profile_after: bytes, number) -> list:
    try:
        sections_before = harness.parse_profile(profile_before)
        sections = harness.parse_profile(profile_after)
    except UnicodeDecodeError:
        return ["the profile file is no longer code page 932 text"]
    missing = []
    recorded = sections.get("UPDATE", {}).get("NONACTIVATION")
    if recorded is None:
        missing.append("no update record in the profile file")
    elif number is not None and recorded != number:
        missing.append(f"the profile file records update {recorded!r}, not {number!r}")
    elif number is None and not recorded.isdigit():
        missing.append(f"the profile file's update record {recorded!r} is no update number")
    if sections.get("INSTALL") != sections_before.get("INSTALL"):
        missing.append("the profile file's [INSTALL] section changed")
    return missing


def nothing_changed(folder: Path, before: dict, profile_before: bytes, profile_after: bytes) -> list:
    """What differs from before, where a Cancel or a No must leave all as it was."""
    after = harness.tree_digest(folder)
    differs = sorted(n for n in set(before) | set(after) if before.get(n) != after.get(n))
    found = []
    if differs:
        found.append("the installation changed: " + ", ".join(differs))
    if profile_after != profile_before:
        found.append("the profile file changed")
    return found


def main():
    build = Path(os.environ.get("UPDATER_BUILD_DIR", ROOT / "build")).resolve()
    windows = build / "windows"
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--updater", type=Path, default=windows / "demo" / "bin" / "UpDate.exe",
                        help="the UpDate.exe to run (default: the demonstration build)")
    parser.add_argument("--installation", type=Path, default=windows / "sample" / "old",
                        help="the installation to copy into the prefix (default: the sample game's old version)")
    parser.add_argument("--payload", type=Path, default=None,
                        help="the folder UpDate.exe was built from, to compare the files with afterwards")
    parser.add_argument("--entry-list", default=None,
                        help="the payload's entry list, checked by its entries (default: as the build names it)")
    parser.add_argument("--pictures", type=Path, default=build / "demo" / "pictures",
                        help="where the PNG pictures go")
    parser.add_argument("--interactive", action="store_true",
                        help="show the windows on $DISPLAY and let you click the buttons yourself")
    parser.add_argument("--locale", default=harness.JAPANESE_LOCALE,
                        help="the locale the system is set to (default: ja_JP.UTF-8, code page 932)")
    parser.add_argument("--answer", action="append", default=None,
                        help="answer to the next box (OK, Cancel, Yes, No); default: OK to every box")
    args = parser.parse_args()
    if args.interactive and not os.environ.get("DISPLAY"):
        raise SystemExit("--interactive needs a display ($DISPLAY)")
    payload = args.payload or (windows / "demo" / "payload" if args.updater == windows / "demo" / "bin" / "UpDate.exe"
                               else windows / "sample" / "new")
    for what, path in (("the updater", args.updater), ("the installation", args.installation),
                       ("the payload", payload)):
        if not path.exists():
            raise SystemExit(f"demo: {what} {path} is missing: run tools/demo.sh (or tools/build.sh) first")
    answers = args.answer or ["OK"] * 4
    tool = fptool(build)
    facts = build_facts(args.updater)
    entry_list = args.entry_list if args.entry_list is not None else facts.get("entry_list", "")
    finished = facts.get("finished") or texts.UPDATE_FINISHED
    # Which outcome the answers ask for: any Cancel or No leaves all as it was.
    expected = "either" if args.interactive else (
        "nothing" if any(a in ("Cancel", "No") for a in answers) else "update")

    japanese = args.locale == harness.JAPANESE_LOCALE
    work = build / "demo" / ("wine" if japanese else f"wine-{args.locale}")
    shutil.rmtree(work, ignore_errors=True)  # a fresh prefix, as on a player's machine
    say(f"Making a fresh Wine prefix in {work} ...")
    session = harness.WineSession(windows, work, args.locale,
                                  large_images=args.updater.stat().st_size >= harness.LARGE_IMAGE)
    if args.interactive:
        session._start_xvfb = lambda: os.environ["DISPLAY"]
    try:
        session.start()
        try:
            folder = session.unix_path(INSTALL_WIN)
            shutil.copytree(args.installation, folder)
            session.write_profile(f"[INSTALL]\r\nInstallFold={INSTALL_WIN}\r\n")
            files_before = harness.tree_digest(folder)
            installed_list = folder.joinpath(*entry_list.split("\\")) if entry_list else None
            list_before = installed_list.read_bytes() if installed_list and installed_list.is_file() else b""
            profile_before = session.profile_bytes()
            say(f"Installation {INSTALL_WIN} (copied from {args.installation}), before the update:")
            describe_installation(tool, folder, payload)
            say(f"Profile file {session.profile_path}:")
            for line in profile_before.decode("cp932").splitlines():
                say(f"    {line}")
            say()
            say(f"Running {args.updater} ({args.updater.stat().st_size:,} bytes):")
            suffix = "" if japanese else "-" + args.locale.split(".")[0]
            pictures = Pictures(args.pictures, session.env["DISPLAY"], not args.interactive, suffix)
            state = run(session, args.updater, answers, pictures, args.interactive)
            say(f"  exit code: {state['exit']}")
            say()
            say("After the update:")
            describe_installation(tool, folder, payload)
            say(f"Profile file:")
            profile_after = session.profile_bytes() if session.profile_path.is_file() else b""
            for line in profile_after.decode("cp932", errors="replace").splitlines():
                say(f"    {line}")
            if pictures.saved:
                say(f"Pictures: {args.pictures}")
            wrong = list(state["trouble"])
            if state["exit"] != 0:
                wrong.append(f"the program ended with exit code {state['exit']}")
            updated = update_missing(folder, payload, files_before, entry_list, list_before, profile_before,
                                     profile_after, facts.get("number"), finished, state["boxes"])
            untouched = nothing_changed(folder, files_before, profile_before, profile_after)
        finally:
            session.stop()
    except harness.HarnessError as failed:
        say(f"demo: the harness failed: {failed}")
        return 1
    if os.environ.get("E2E_WAIT_TIMES"):
        say(harness.waits_report())
    if expected == "update":
        wrong += updated
        asked = "answered OK, the update is not complete"
    elif expected == "nothing":
        wrong += untouched
        asked = f"answered {' / '.join(answers)}, yet not all is as it was"
    else:
        wrong += [] if not updated or not untouched else ["neither a complete update nor all as it was: "
                                                          + "; ".join(updated)]
        asked = "the outcome is not one the buttons can give"
    if wrong:
        say(f"demo: FAILED: {asked}: " + "; ".join(wrong))
        return 1
    say("demo: the outcome is the one the answers asked for" if not args.interactive
        else "demo: the outcome is a complete update" if not updated else "demo: nothing changed, as after a Cancel")
    return 0


if __name__ == "__main__":
    sys.exit(main())
