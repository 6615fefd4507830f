#!/usr/bin/env python3
"""Runs an update the way a player meets it, and shows what happens.

Makes an installation of the game (by default the sample game's old
version) and its profile file in a fresh Wine prefix, starts UpDate.exe
there, prints every message it shows (text, caption, buttons, icon), the
percentage as it rises and the exit code, and the installation's state
before and after: each file's record text and whether the installation
verifies. Without --interactive it answers OK to every box itself and saves
a picture of every window the player would see.

  python3 tools/demo.py [--updater EXE] [--installation DIR] [--pictures DIR]
                        [--interactive] [--answer OK|Cancel|Yes|No ...]
                        [--locale en_US.UTF-8]

With --locale the system is set to that language instead of Japanese (code
page 1252 for en_US.UTF-8), and the pictures' names end in the locale's
language, as 1-message-en_US.png.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402
import live_run  # noqa: E402

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
    """Starts UpDate.exe and tells what it shows as it comes."""
    state = {"exit": None, "last": None, "risen": [], "rect": None, "pictured": False}

    def on_event(event):
        kind = event.get("event")
        if kind == "message":
            text = bytes.fromhex(event["text_w"]).decode("utf-8")
            caption = bytes.fromhex(event["caption_w"]).decode("utf-8")
            buttons = " / ".join(BUTTON_NAMES.get(b, str(b)) for b in event["buttons"])
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
        elif kind in ("timeout", "unanswered"):
            say(f"  {kind}: {event}")

    # Read off the running program, so that every figure is read beside it.
    live_run.follow(session, updater, answers, on_event, observe=interactive,
                    on_mode=lambda mode: say(f"  {updater.name} runs as an i386 program: {mode}"))
    return state["exit"]


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
    answers = args.answer or ["OK"] * 4
    tool = fptool(build)

    japanese = args.locale == harness.JAPANESE_LOCALE
    work = build / "demo" / ("wine" if japanese else f"wine-{args.locale}")
    shutil.rmtree(work, ignore_errors=True)  # a fresh prefix, as on a player's machine
    say(f"Making a fresh Wine prefix in {work} ...")
    session = harness.WineSession(windows, work, args.locale,
                                  large_images=args.updater.stat().st_size >= harness.LARGE_IMAGE)
    if args.interactive:
        session._start_xvfb = lambda: os.environ["DISPLAY"]
    session.start()
    try:
        folder = session.unix_path(INSTALL_WIN)
        shutil.copytree(args.installation, folder)
        session.write_profile(f"[INSTALL]\r\nInstallFold={INSTALL_WIN}\r\n")
        say(f"Installation {INSTALL_WIN} (copied from {args.installation}), before the update:")
        describe_installation(tool, folder, payload)
        say(f"Profile file {session.profile_path}:")
        for line in session.profile_bytes().decode("cp932").splitlines():
            say(f"    {line}")
        say()
        say(f"Running {args.updater} ({args.updater.stat().st_size:,} bytes):")
        suffix = "" if japanese else "-" + args.locale.split(".")[0]
        pictures = Pictures(args.pictures, session.env["DISPLAY"], not args.interactive, suffix)
        exit_code = run(session, args.updater, answers, pictures, args.interactive)
        say(f"  exit code: {exit_code}")
        say()
        say("After the update:")
        verifies = describe_installation(tool, folder, payload)
        say(f"Profile file:")
        for line in session.profile_bytes().decode("cp932").splitlines():
            say(f"    {line}")
        if pictures.saved:
            say(f"Pictures: {args.pictures}")
    finally:
        session.stop()
    return 0 if exit_code == 0 and verifies else 1


if __name__ == "__main__":
    sys.exit(main())
