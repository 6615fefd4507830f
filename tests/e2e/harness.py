"""Runs the Windows build's UpDate.exe under Wine, as a user would meet it.

One Wine prefix per build tree (made once, then reused), one wineserver and
one Xvfb display per test run. watcher.exe starts UpDate.exe inside the
prefix, reports its windows as JSON lines and answers its message boxes;
this module turns those lines into Python objects and provides the
fixtures: the profile file, the installation folder and the sample game.

Configuration comes from the environment, set by run_e2e.py:
  E2E_WINDOWS_BUILD_DIR  the MinGW build tree (bin/UpDate.exe, bin/watcher.exe,
                         sample/old, sample/new)
  E2E_WORK_DIR           where the prefix lives
"""

import atexit
import fcntl
import hashlib
import json
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path, PureWindowsPath
from typing import Dict, List, Optional

MAKER_FOLDER = "KESTRIN"
PROFILE_NAME = "LMH.ini"
INSTALL_WIN = r"C:\e2e\install"

# Style bits a box shows as: its buttons and its icon.
_BUTTON_STYLES = {(1,): 0x0, (1, 2): 0x1, (6, 7): 0x4, (2, 6, 7): 0x3, (2, 4): 0x5}
_ICON_STYLES = {"none": 0x0, "error": 0x10, "question": 0x20, "warning": 0x30, "information": 0x40}

_PREFIX_READY = ".e2e-ready.json"
_WINE_ARCH = "win64"
# Names what a ready prefix was made with: a prefix made otherwise (an older
# 32-bit one, say) is made anew.
_PREFIX_SETUP = "win64 prefix, no crash debugger"
_WINE_MARLETT = "/usr/share/wine/fonts/marlett.ttf"
# Read by the i386 emulator alone. qemu 7.2 marks the whole span between the
# two segments of Wine's preloader (0x08048000-0x7d400000) as taken, and so
# puts a guest stack of the usual size just below 0x08048000, inside the low
# range Wine reserves for Windows memory; the preloader then gives that range
# up, and an image of about 150 MiB or more finds no room to be mapped. A
# stack larger than the 128 MiB below 0x08048000 goes to the top of the
# address space instead, and Wine gets the layout it has natively. That
# layout costs the emulator about 7 s at every start of a 32-bit program
# (seen here), so only sessions that run such large images ask for it.
_QEMU_STACK_SIZE = "144M"
LARGE_IMAGE = 100 << 20  # bytes from which a program needs that room

# Code page 932 for the "A" functions, as on a system set to Japanese.
JAPANESE_LOCALE = "ja_JP.UTF-8"
# Another code page (1252), as on most systems elsewhere.
ENGLISH_LOCALE = "en_US.UTF-8"


# ---- time limits ----
#
# Every wait of the harness has a limit, and all of them come from one
# table: the worst time each wait took here, times one margin, and never
# less than a floor (a short wait's time is mostly how soon a loaded
# machine gets round to the process). E2E_TIME_SCALE multiplies them all
# again on a machine slower still. run_e2e.py prints each wait's worst time
# at its end (tools/demo.py with E2E_WAIT_TIMES=1). The figures, in seconds,
# are the worst of two runs of e2e_harness, e2e_no_installation, e2e_update
# and e2e_code_page on this project's machine (2 cores, i386 programs run
# through qemu-i386-static), each from a fresh prefix: one beside other
# builds (load average 5-7), one beside two CPU-bound processes as well
# (load average 9-10). Each run's own worst: xvfb 0.2 / 0.2, prefix 30.5 /
# 35.0, wine 5.7 / 7.4, stop 0.8 / 0.5, watcher 3.4 / 5.7, box - / 0.6.
WORST_SEEN = {
    "xvfb": 0.2,      # Xvfb names its display
    "prefix": 35.0,   # wineboot -i makes a fresh prefix
    "wine": 7.4,      # one short Wine command (reg add, cmd /c, winepath, wineserver -p)
    "stop": 0.8,      # wineserver -k, then -w
    "watcher": 5.7,   # watcher.exe's own time beside the program's (Wine starting it, its end)
    "box": 0.6,       # a box, once visible, is fully shown and read
}
MARGIN = 4
FLOOR = 10.0


def time_limit(wait: str) -> float:
    """The limit of one kind of wait, in seconds."""
    try:
        scale = float(os.environ.get("E2E_TIME_SCALE", "1"))
    except ValueError:
        scale = 1.0
    return max(WORST_SEEN[wait] * MARGIN, FLOOR) * max(scale, 0.1)


# The longest each kind of wait took in this process, for waits_report().
waited: Dict[str, float] = {}


def note_wait(wait: str, seconds: float):
    waited[wait] = max(waited.get(wait, 0.0), seconds)


def waits_report() -> str:
    """One line: each wait's worst time beside its limit."""
    return "harness waits, worst / limit: " + ", ".join(
        f"{name} {waited[name]:.1f} / {time_limit(name):g} s" for name in sorted(waited))


class HarnessError(Exception):
    """The harness itself could not do its work (not a finding about UpDate.exe)."""


def _decode(hex_text: str) -> bytes:
    return bytes.fromhex(hex_text)


def _wide(event: dict, name: str) -> str:
    """A text as its window holds it (watcher.exe reads it with the "W" functions)."""
    return bytes.fromhex(event.get(name, "")).decode("utf-8")


@dataclass
class Message:
    index: int
    text_bytes: bytes
    caption_bytes: bytes
    buttons: tuple
    icon: str
    owner: str  # none, progress or other
    raw: dict

    @property
    def text_wide(self) -> str:
        return _wide(self.raw, "text_w")

    @property
    def caption_wide(self) -> str:
        return _wide(self.raw, "caption_w")

    @property
    def text(self) -> str:
        return self.text_bytes.decode("cp932", errors="replace")

    @property
    def caption(self) -> str:
        return self.caption_bytes.decode("cp932", errors="replace")

    @property
    def style(self) -> Optional[int]:
        """The MB_* style that shows these buttons and this icon, or None."""
        buttons = _BUTTON_STYLES.get(tuple(sorted(self.buttons)))
        icon = _ICON_STYLES.get(self.icon)
        if buttons is None or icon is None:
            return None
        return buttons | icon


@dataclass
class Progress:
    title_bytes: bytes
    status_bytes: bytes
    visible_at_first_sight: bool
    shown: bool
    percents: List[str]  # the distinct texts seen on screen, by polling
    percents_set: List[str] = field(default_factory=list)  # every text the program set, in order
    title_wide: str = ""  # as the window holds them, whatever the code page
    status_wide: str = ""

    @property
    def title(self) -> str:
        return self.title_bytes.decode("cp932", errors="replace")

    @property
    def status(self) -> str:
        return self.status_bytes.decode("cp932", errors="replace")

    @staticmethod
    def values(texts: List[str]) -> List[int]:
        return [int(p.strip().rstrip("%")) for p in texts]


# What a program's death leaves in Wine's output: the i386 emulator's line
# when the program's host process dies of a signal it does not handle, and
# Wine's own report of an exception nothing in the program handled. Neither
# is a debug channel: WINEDEBUG=-all leaves both.
_DEATH_LINE = re.compile(r"qemu: uncaught target signal[^\r\n]*|[^\r\n]*\bUnhandled [^\r\n]*")
# Exit codes from 0xC0000000 on are exception codes: the program's exception
# handling ended it (0xC0000005 an access violation, say).
_EXCEPTION_CODES = 0xC0000000


@dataclass
class Ending:
    """How a watched program's run ended. how is "exit" (it left by its own
    exit path, and nothing reported a death), "crash", "killed" (by the
    watcher, at its time limit or a box left without an answer) or
    "unknown" (no mark could say; never taken for a normal end)."""
    how: str
    text: str  # a sentence naming it

    @property
    def normal(self) -> bool:
        return self.how == "exit"


def judge_ending(name: str, exit_code: Optional[int], mark: Optional[str], timed_out: bool, unanswered: bool,
                 wine_output: str) -> Ending:
    """How program `name` ended, from watcher.exe's exit event (its exit code
    and watch_hook.dll's mark) and what Wine printed meanwhile. Only the mark
    that the process's own exit leaves, with no death reported, is a normal
    end: the exit code alone is not to be trusted (a program whose emulator
    died gives its parent 0)."""
    died = f"{name} died without its normal exit"
    death = _DEATH_LINE.search(wine_output or "")
    if death:
        return Ending("crash", f"{died}: {death.group(0).strip()}")
    if timed_out:
        return Ending("killed", f"{name} was ended by the watcher at its time limit")
    if unanswered:
        return Ending("killed", f"{name} was ended by the watcher: a box had no answer left")
    if mark == "exit":
        return Ending("exit", f"{name} left by its own exit path, exit code {exit_code}")
    if exit_code is not None and exit_code >= _EXCEPTION_CODES:
        return Ending("crash", f"{died}: exception {exit_code:#010x}, with mark {mark}")
    if mark == "none":
        return Ending("crash", f"{died}: watch_hook.dll was in it and saw no exit (exit code {exit_code})")
    reasons = {"unloaded": "watch_hook.dll was unloaded before the end",
               "not_loaded": "watch_hook.dll never came into it (no window was made)",
               "no_hook": "watch_hook.dll was not placed"}
    why = reasons.get(mark, f"the watcher gave no mark ({mark})")
    return Ending("unknown", f"{name} ended without a mark of its normal exit: {why} (exit code {exit_code})")


@dataclass
class RunResult:
    events: List[dict]
    exit_code: Optional[int]
    messages: List[Message]
    progress: Optional[Progress]
    other_windows: List[dict]
    answers: List[dict]
    holds: List[dict]
    timed_out: bool
    unanswered: bool
    hooked: bool  # watch_hook.dll logged the percentages inside the program
    second: Dict[str, object] = field(default_factory=dict)
    seconds: float = 0.0
    exit_mark: Optional[str] = None  # watch_hook.dll's mark of the end (watcher.cpp, ExitMark)
    ending: Optional[Ending] = None  # how the run ended, judged with what Wine printed
    wine_output: str = ""  # what Wine and the emulator printed during the run

    def judge(self, name: str, wine_output: str) -> Ending:
        self.wine_output = wine_output
        self.ending = judge_ending(name, self.exit_code, self.exit_mark, self.timed_out, self.unanswered,
                                   wine_output)
        return self.ending

    def describe(self) -> str:
        """Everything the run showed, for a failing assertion's message."""
        lines = [f"exit code {self.exit_code}, {self.seconds:.2f} s"]
        if self.ending is not None:
            lines.append(f"  ended: {self.ending.text}")
        for m in self.messages:
            lines.append(f"  box {m.index}: {m.text!r} caption={m.caption!r} buttons={list(m.buttons)} "
                         f"icon={m.icon} owner={m.owner}")
            if (m.text_wide, m.caption_wide) != (m.text, m.caption):
                lines.append(f"    as the window holds it: {m.text_wide!r} caption={m.caption_wide!r}")
        if self.progress:
            lines.append(f"  progress: title={self.progress.title!r} status={self.progress.status!r} "
                         f"percents={self.progress.percents} set={self.progress.percents_set}")
            if self.progress.status_wide != self.progress.status:
                lines.append(f"    as the window holds it: title={self.progress.title_wide!r} "
                             f"status={self.progress.status_wide!r}")
        for w in self.other_windows:
            lines.append(f"  other window: {w}")
        if self.second:
            lines.append(f"  second start: {self.second}")
        if self.timed_out:
            lines.append("  TIMED OUT")
        if self.unanswered:
            lines.append("  a box was left without an answer")
        return "\n".join(lines)


def parse_events(lines: List[str]) -> RunResult:
    events = [json.loads(line) for line in lines if line.startswith("{")]
    messages, answers, others, holds = [], [], [], []
    progress = None
    exit_code = None
    timed_out = unanswered = hooked = False
    percents_set: List[str] = []
    second: Dict[str, object] = {"windows": []}
    exit_mark = ending = None
    for e in events:
        kind = e["event"]
        if kind == "message":
            messages.append(Message(e["index"], _decode(e["text"]), _decode(e["caption"]), tuple(e["buttons"]),
                                    e["icon"], e["owner"], e))
        elif kind == "answer":
            answers.append(e)
        elif kind == "hold":
            holds.append(e)
        elif kind == "progress":
            progress = Progress(_decode(e["title"]), _decode(e["status"]), e["visible"], e["visible"], [],
                                title_wide=_wide(e, "title_w"), status_wide=_wide(e, "status_w"))
        elif kind == "progress_visible" and progress is not None and e["visible"]:
            progress.shown = True
            progress.title_bytes, progress.status_bytes = _decode(e["title"]), _decode(e["status"])
            progress.title_wide, progress.status_wide = _wide(e, "title_w"), _wide(e, "status_w")
        elif kind == "percent" and progress is not None:
            progress.percents.append(_decode(e["text"]).decode("ascii"))
        elif kind == "percent_set":
            percents_set.append(_decode(e["text"]).decode("ascii", errors="replace"))
        elif kind == "window":
            others.append({"class": e["class"], "title": _decode(e["title"]).decode("cp932", "replace")})
        elif kind == "second_start":
            second["started"] = "pid" in e
            second["foreground_was_first_box"] = e.get("foreground_was_first_box")
        elif kind == "second_window":
            second["windows"].append({"class": e["class"], "title": _decode(e["title"]).decode("cp932", "replace")})
        elif kind == "second_timeout":
            second["timed_out"] = True
        elif kind == "second_exit":
            second.update(code=e["code"], first_box_alive=e["first_box_alive"],
                          foreground_is_first_box=e["foreground_is_first_box"])
        elif kind == "timeout":
            timed_out = True
        elif kind == "unanswered":
            unanswered = True
        elif kind == "exit":
            exit_code = e["code"]
            exit_mark = e.get("mark")
        elif kind == "ending":
            ending = Ending(e["how"], e["text"])
        elif kind == "start" and "error" in e:
            raise HarnessError(f"watcher could not start UpDate.exe: error {e['error']}")
        elif kind == "start":
            hooked = e.get("hook", False)
    if len(second) == 1:
        second = {}
    if progress is not None:
        progress.percents_set = percents_set
    return RunResult(events, exit_code, messages, progress, others, answers, holds, timed_out, unanswered, hooked,
                     second, exit_mark=exit_mark, ending=ending)


def _end_group(process: subprocess.Popen, limit: float = 5.0):
    """Ends a process started in a session of its own, and whatever it started."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(limit)
        except subprocess.TimeoutExpired:
            pass
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()
    # The leader is reaped; the rest of its group may still be on its way
    # out (a loaded machine takes a moment): gone before this returns.
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        try:
            os.killpg(process.pid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.02)


def run_limited(args: List[str], env: Dict[str, str], limit: float, what: str,
                check: bool = True, wait: Optional[str] = None,
                log: Optional[Path] = None) -> subprocess.CompletedProcess:
    """Runs a helper of the harness with a time limit. A helper that is
    stuck is ended with everything it started (it runs in a session of its
    own); one that is stuck or, when checked, fails raises HarnessError
    naming it, the time it was given and the log (log, when given, gets
    each helper's command line and output). Output goes to files: Wine's
    background processes, started by the first program of a prefix, would
    hold a pipe open. wait names the kind of wait, for waits_report()."""
    began = time.monotonic()
    where = f" (its output: {log})" if log is not None else ""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                   start_new_session=True)
        status = None
        try:
            status = process.wait(limit)
        except subprocess.TimeoutExpired:
            _end_group(process)
        except BaseException:
            _end_group(process)
            raise
        finally:
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(args, status, out.read(), err.read())
            _append_log(log, args, done, time.monotonic() - began)
    if status is None:
        raise HarnessError(f"{what} did not end within {limit:g} s{where}")
    if wait is not None:
        note_wait(wait, time.monotonic() - began)
    if check and status != 0:
        said = (done.stderr or done.stdout).decode(errors="replace").strip().splitlines()[-3:]
        raise HarnessError(f"{what} failed with exit code {status}" + (": " + " / ".join(said) if said else "")
                           + where)
    return done


def _append_log(log: Optional[Path], args: List[str], done: subprocess.CompletedProcess, seconds: float):
    if log is None:
        return
    try:
        log.parent.mkdir(parents=True, exist_ok=True)
        with open(log, "ab") as file:
            ended = "did not end" if done.returncode is None else f"exit code {done.returncode}"
            file.write(f"$ {' '.join(map(str, args))}  [{ended}, {seconds:.1f} s]\n".encode())
            file.write(done.stdout or b"")
            file.write(done.stderr or b"")
    except OSError:
        pass  # the log helps; its absence must not hide the failure itself


def watcher_limits(timeout: float) -> List[str]:
    """watcher.exe's options for the program's time limit and its own waits."""
    return ["--timeout", str(int(timeout * 1000)), "--settle", str(int(time_limit("box") * 1000))]


def _watcher_stuck(timeout: float, stdout: bytes) -> str:
    last = stdout.decode("ascii", errors="replace").strip().splitlines()[-1:]
    return (f"watcher.exe did not end within {timeout + time_limit('watcher'):g} s (the program's "
            f"{timeout:g} s and {time_limit('watcher'):g} s more); its last line: {last[0] if last else 'none'}")


def _note_watcher_wait(result: "RunResult"):
    """The time watcher.exe took beyond what it reported (Wine starting it,
    and its end), and the longest a box took to be fully shown."""
    note_box_waits(result.events)
    if result.events:
        note_wait("watcher", result.seconds - result.events[-1].get("ms", 0) / 1000)


def note_box_waits(events: List[dict]):
    for event in events:
        if event.get("event") == "message" and "settle_ms" in event:
            note_wait("box", event["settle_ms"] / 1000)


def _win_path(unix_path: Path) -> str:
    # Wine maps Z: to the root of the Unix file system.
    return "Z:" + str(unix_path.resolve()).replace("/", "\\")


class WineSession:
    """The prefix, the wineserver and the X display of one test run.

    The prefix is a 64-bit one: the 32-bit programs run in it as they do on
    the 64-bit Windows players have, while Wine's own background programs
    run as 64-bit ones (on a machine that emulates i386 they would crash
    there). Every wait has a time limit (time_limit), and whatever start()
    took (the lock, the display, Wine's processes) is given back when it
    fails. The helpers' output goes to log_path."""

    # In seconds; the harness's own test sets them short on an instance.
    XVFB_LIMIT = time_limit("xvfb")
    PREFIX_LIMIT = time_limit("prefix")
    WINE_LIMIT = time_limit("wine")
    STOP_LIMIT = time_limit("stop")

    def __init__(self, windows_build_dir: Path, work_dir: Path, locale: str = JAPANESE_LOCALE,
                 large_images: bool = False):
        self.windows_build_dir = windows_build_dir
        self.large_images = large_images  # programs of LARGE_IMAGE bytes or more are run
        self.work_dir = work_dir
        # Wine takes the code page of the "A" functions from the locale.
        self.locale = locale
        self.prefix = work_dir / "prefix"
        self.log_path = work_dir / "harness.log"
        self._xvfb = None
        self._lock_file = None
        self.env = None
        self.appdata: Optional[Path] = None

    # ---- life cycle ----

    def start(self):
        try:
            self._start()
        except BaseException:
            self.stop()
            raise

    def _start(self):
        self.work_dir.mkdir(parents=True, exist_ok=True)
        # Two runs sharing the prefix would overwrite each other's profile.
        self._lock_file = open(self.work_dir / "prefix.lock", "w")
        fcntl.flock(self._lock_file, fcntl.LOCK_EX)
        self.log_path.write_bytes(b"")  # this session's helpers only
        display = self._start_xvfb()
        env = {k: v for k, v in os.environ.items() if not k.startswith(("WINE", "LC_", "WAYLAND"))}
        env.update(WINEPREFIX=str(self.prefix), WINEARCH=_WINE_ARCH, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL=self.locale, LANG=self.locale,
                   DISPLAY=display)
        if self.large_images:
            env["QEMU_STACK_SIZE"] = _QEMU_STACK_SIZE
        self.env = env
        ready = self._ensure_prefix()
        self.appdata = Path(ready["appdata"])
        self._install_marlett()
        self._limited(["wineserver", "-p"], self.WINE_LIMIT, "wineserver -p", "wine")
        # Starts Wine's background processes now, not in the first case.
        self._wine("cmd", "/c", "exit", check=True)

    def stop(self):
        if self.env is not None:
            env, self.env = self.env, None
            for args in (["wineserver", "-k"], ["wineserver", "-w"]):
                try:
                    run_limited(args, env, self.STOP_LIMIT, " ".join(args), check=False, wait="stop",
                                log=self.log_path)
                except HarnessError:
                    pass
        if self._xvfb is not None:
            _end_group(self._xvfb)
            self._xvfb = None
        if self._lock_file is not None:
            self._lock_file.close()
            self._lock_file = None

    def _install_marlett(self):
        # Wine draws the title bar's buttons with Marlett, which Debian's
        # fonts-wine ships; this Wine loads it only from the prefix's own
        # Fonts folder, and without it the close button shows an "r".
        font = Path(_WINE_MARLETT)
        target = self.drive_c / "windows" / "Fonts" / font.name
        if font.is_file() and not target.is_file():
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(font, target)

    def _start_xvfb(self) -> str:
        # Xvfb picks a free display number itself and tells it on the pipe.
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
        finally:
            os.close(write_end)
        began = time.monotonic()
        with os.fdopen(read_end) as pipe:
            ready, _, _ = select.select([pipe], [], [], self.XVFB_LIMIT)
            number = pipe.readline().strip() if ready else ""
        if not number and not ready:
            raise HarnessError(f"Xvfb did not start: it named no display within {self.XVFB_LIMIT:g} s")
        note_wait("xvfb", time.monotonic() - began)
        if not number:
            # The pipe closed unanswered: Xvfb is ending, or has ended.
            try:
                state = f"it ended with exit code {self._xvfb.wait(self.XVFB_LIMIT)}"
            except subprocess.TimeoutExpired:
                state = "it closed the pipe without naming a display"
            raise HarnessError(f"Xvfb did not start: {state}")
        return ":" + number

    def _limited(self, args, limit: float, what: str, wait: str, check: bool = True) -> subprocess.CompletedProcess:
        return run_limited(args, self.env, limit, what, check=check, wait=wait, log=self.log_path)

    def _wine(self, *args, check=False) -> subprocess.CompletedProcess:
        return self._limited(["wine", *args], self.WINE_LIMIT, "wine " + " ".join(args), "wine", check=check)

    def _ensure_prefix(self) -> dict:
        marker = self.prefix / _PREFIX_READY
        if marker.is_file():
            ready = json.loads(marker.read_text())
            if ready.get("setup") == _PREFIX_SETUP:
                return ready
        shutil.rmtree(self.prefix, ignore_errors=True)
        self._limited(["wineboot", "-i"], self.PREFIX_LIMIT, "wineboot -i (making the Wine prefix)", "prefix")
        # Without a window manager an unmanaged window closes at once; a
        # managed one makes Wine wait two seconds for a manager that never
        # answers, on every box.
        self._wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f", check=True)
        self._no_crash_debugger()
        if self.locale != JAPANESE_LOCALE:
            self._link_japanese_font()
        out = self._wine("cmd", "/c", "echo", "%APPDATA%", check=True).stdout.decode("cp932").strip()
        unix = self._limited(["winepath", "-u", out], self.WINE_LIMIT, "winepath", "wine").stdout.decode().strip()
        # The prefix counts as made once its registry is on disk, which the
        # wineserver writes as it ends. Told to end, it saves the registry
        # first and does not wait for the prefix's background processes to
        # end by themselves (on a loaded machine they were seen to take more
        # than 30 s).
        self._limited(["wineserver", "-k"], self.STOP_LIMIT, "wineserver -k (saving the new prefix's registry)",
                      "stop", check=False)
        self._limited(["wineserver", "-w"], self.STOP_LIMIT, "wineserver -w (the new prefix's wineserver ending)",
                      "stop")
        if not unix or not Path(unix).is_dir():
            raise HarnessError(f"cannot find the prefix's APPDATA folder ({out!r} -> {unix!r})")
        ready = {"appdata": unix, "appdata_windows": out, "setup": _PREFIX_SETUP}
        marker.write_text(json.dumps(ready))
        return ready

    def _no_crash_debugger(self):
        """A program that crashes ends at once, instead of waiting on the
        debugger Wine starts for it (which never ends without a user), in
        both registry views: the 32-bit programs read the 32-bit one. Auto
        stays 1: with 0 Wine asks in a box whether to debug."""
        key = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"
        for view in ("/reg:32", "/reg:64"):
            self._wine("reg", "add", key, "/v", "Debugger", "/d", "", "/f", view, check=True)
            self._wine("reg", "add", key, "/v", "Auto", "/d", "1", "/f", view, check=True)

    def _link_japanese_font(self):
        """Japanese glyphs on a system set to another language, as a Windows
        system has them: the dialog font links to a Japanese font for the
        characters it lacks, and the progress window's "ＭＳ Ｐゴシック"
        exists. The IPA Gothic fonts stand in for the system's Japanese fonts."""
        link = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
        replace = r"HKCU\Software\Wine\Fonts\Replacements"
        for key, name, kind, value in [(link, "Tahoma", "REG_MULTI_SZ", "ipag.ttf,IPAGothic"),
                                       (replace, "ＭＳ Ｐゴシック", "REG_SZ", "IPAPGothic"),
                                       (replace, "MS UI Gothic", "REG_SZ", "IPAGothic")]:
            # Into the view the 32-bit program reads its settings from.
            self._wine("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f", "/reg:32", check=True)

    # ---- fixtures ----

    @property
    def drive_c(self) -> Path:
        return self.prefix / "drive_c"

    @property
    def profile_path(self) -> Path:
        return self.appdata / MAKER_FOLDER / PROFILE_NAME

    def write_profile(self, content) -> Path:
        """Writes the profile file; str content is stored as code page 932."""
        data = content.encode("cp932") if isinstance(content, str) else bytes(content)
        self.remove_profile()
        self.profile_path.parent.mkdir(parents=True, exist_ok=True)
        self.profile_path.write_bytes(data)
        return self.profile_path

    def remove_profile(self):
        p = self.profile_path
        if p.is_dir() and not p.is_symlink():
            shutil.rmtree(p)
        elif p.exists() or p.is_symlink():
            p.unlink()

    def profile_bytes(self) -> bytes:
        return self.profile_path.read_bytes()

    def unix_path(self, windows_path: str) -> Path:
        """Where a C:\\ path of the prefix lives on the host."""
        p = PureWindowsPath(windows_path)
        if p.drive.upper() != "C:":
            raise HarnessError(f"only C: paths are in the prefix: {windows_path}")
        return self.drive_c.joinpath(*p.parts[1:])

    def sample_dir(self, version: str) -> Path:
        """The sample game's files of one version ('old' or 'new')."""
        d = self.windows_build_dir / "sample" / version
        if not (d / "LMH.exe").is_file() or not (d / "dll" / "RESOURCE.dll").is_file():
            raise AssertionError(f"the sample game's {version} version is missing: {d} must hold LMH.exe and "
                                 f"dll/RESOURCE.dll (build the Windows tree with the sample game)")
        return d

    def install_sample(self, version: str = "old", windows_path: str = INSTALL_WIN) -> Path:
        """A fresh installation folder holding a copy of the sample game."""
        source = self.sample_dir(version)
        target = self.unix_path(windows_path)
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(source, target)
        return target

    def remove_installation(self, windows_path: str = INSTALL_WIN):
        shutil.rmtree(self.unix_path(windows_path), ignore_errors=True)

    # ---- running ----

    @property
    def updater(self) -> Path:
        return built_program("UpDate.exe", self.windows_build_dir)

    def run_updater(self, *answers: str, hold=(), second_at: Optional[int] = None,
                    timeout: float = 60.0, updater: Optional[Path] = None, expect_exit: bool = True) -> RunResult:
        """Runs UpDate.exe (or `updater`), answering its boxes in order with
        OK/Cancel/Yes/No. A run that does not end by the program's own exit
        path fails the case (AssertionError naming how it ended), unless
        expect_exit is False; result.ending says how it ended."""
        args = [str(built_program("watcher.exe", self.windows_build_dir)), *watcher_limits(timeout)]
        for path in hold:
            args += ["--hold", path]
        if second_at is not None:
            args += ["--second-at", str(second_at)]
        args.append(_win_path(updater or self.updater))
        args += list(answers)
        begin = time.monotonic()
        # Files, not pipes: the first Wine program of a session leaves Wine's
        # own background processes behind, which would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            watcher = subprocess.Popen(["wine", *args], env=self.env, stdout=out, stderr=err, cwd=self.drive_c)
            try:
                status = watcher.wait(timeout + time_limit("watcher"))
            except subprocess.TimeoutExpired:
                watcher.kill()
                watcher.wait()
                status = None
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        if status is None:
            raise HarnessError(_watcher_stuck(timeout, stdout))
        lines = stdout.decode("ascii", errors="replace").splitlines()
        result = parse_events(lines)
        result.seconds = time.monotonic() - begin
        _note_watcher_wait(result)
        if result.exit_code is None:
            raise HarnessError(f"watcher.exe ended without the program's exit code (status {status}):\n"
                               + stdout.decode(errors="replace") + stderr.decode(errors="replace"))
        return judged(result, (updater or self.updater).name, stderr, expect_exit)


# What stands before a Windows program on the command line of its host
# process: the emulator (where i386 is emulated) and Wine's loaders.
_LOADERS = {"qemu-i386-static", "qemu-i386", "wine-preloader", "wine64-preloader", "wine", "wine64"}


def host_processes(prefix: Path) -> List[tuple]:
    """(host process id, host executable, Windows command line) of each
    program running in a prefix."""
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
            environ = (entry / "environ").read_bytes().split(b"\0")
            exe = os.readlink(entry / "exe")
        except OSError:
            continue
        if wanted not in environ:
            continue
        words = [a.decode(errors="replace") for a in argv if a]
        while words and words[0].rsplit("/", 1)[-1] in _LOADERS:
            words.pop(0)
        found.append((int(entry.name), exe, words))
    return found


def program_process(session: "WineSession", name: str) -> tuple:
    """(host process id, host executable) of the running program of this
    name in the session's prefix (not a program that names it among its
    arguments)."""
    for pid, exe, words in host_processes(session.prefix):
        if words and words[0].replace("\\", "/").rsplit("/", 1)[-1].lower() == name.lower():
            return pid, exe
    raise HarnessError(f"no running {name} in the prefix")


def i386_mode(host_executable: str) -> str:
    """How a 32-bit program's host process runs, from its executable."""
    if Path(host_executable).name.startswith("qemu-i386"):
        return f"emulated ({host_executable})"
    return f"native ({host_executable})"


def windows_build_dir() -> Path:
    build = os.environ.get("E2E_WINDOWS_BUILD_DIR")
    if not build:
        raise HarnessError("E2E_WINDOWS_BUILD_DIR must be set (see run_e2e.py)")
    return Path(build)


def built_program(name: str, build_dir: Optional[Path] = None) -> Path:
    p = (build_dir or windows_build_dir()) / "bin" / name
    if not p.is_file():
        raise HarnessError(f"{p} is missing: build the Windows tree first")
    return p


def tree_digest(root: Path) -> Dict[str, str]:
    """Relative path -> SHA-256 of every file under root."""
    digest = {}
    for p in sorted(root.rglob("*")):
        if p.is_file():
            digest[p.relative_to(root).as_posix()] = hashlib.sha256(p.read_bytes()).hexdigest()
    return digest


def parse_profile(data: bytes) -> Dict[str, Dict[str, str]]:
    """Sections and keys of a profile file, as GetPrivateProfileString sees them."""
    sections: Dict[str, Dict[str, str]] = {}
    current = None
    for raw in data.decode("cp932").splitlines():
        line = raw.strip()
        if line.startswith("[") and "]" in line:
            current = sections.setdefault(line[1:line.index("]")].strip().upper(), {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.setdefault(key.strip().upper(), value.strip())
    return sections


_session: Optional[WineSession] = None
_other_sessions: Dict[str, WineSession] = {}
_failed_starts = set()


def session(locale: str = JAPANESE_LOCALE) -> WineSession:
    """The run's Wine session for a locale, started on first use and stopped
    at exit. Each locale has a prefix of its own: the code page follows the
    locale of each Wine process, but Wine adjusts a prefix's font settings to
    the code page it runs under, and the font links made for another code
    page belong to that prefix alone. A session that could not start is not
    tried again by the cases after the first: they fail at once."""
    global _session
    if locale in _failed_starts:
        raise HarnessError("the Wine session could not start: the first case that tried says why")
    current = _session if locale == JAPANESE_LOCALE else _other_sessions.get(locale)
    if current is None:
        work = os.environ.get("E2E_WORK_DIR")
        if not work:
            raise HarnessError("E2E_WORK_DIR must be set (see run_e2e.py)")
        work_dir = Path(work) if locale == JAPANESE_LOCALE else Path(work) / locale
        current = WineSession(windows_build_dir(), work_dir, locale)
        try:
            current.start()
        except HarnessError:
            _failed_starts.add(locale)
            raise
        atexit.register(current.stop)
        if locale == JAPANESE_LOCALE:
            _session = current
        else:
            _other_sessions[locale] = current
    return current


def stop_sessions():
    for s in [_session, *_other_sessions.values()]:
        if s is not None:
            s.stop()


# ---- helpers of the verification, fault and security tests ----

def host_tool_fptool(build_dir: Optional[Path] = None) -> Path:
    """The host fptool the Windows tree stamps its modules with."""
    build = build_dir or windows_build_dir()
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text(errors="replace").splitlines():
            if line.startswith("FPTOOL:"):
                tool = Path(line.split("=", 1)[1])
                if tool.is_file():
                    return tool
    tool = build.parent / "native" / "bin" / "fptool"
    if not tool.is_file():
        raise HarnessError(f"fptool not found (looked in {cache} and {tool}): run tools/build.sh")
    return tool


def fptool(*args) -> str:
    """Runs fptool; its output, or HarnessError when it fails."""
    done = subprocess.run([str(host_tool_fptool()), *map(str, args)], capture_output=True, text=True)
    if done.returncode != 0:
        raise HarnessError(f"fptool {' '.join(map(str, args))} failed: {done.stdout}{done.stderr}")
    return done.stdout


def damage_in_copy(program: Path, carried: bytes, offset: int, out: Path) -> bytearray:
    """A copy of program's bytes with one bit flipped at offset into the one
    place that holds carried (a resource's bytes as the build made them),
    written to out as well."""
    image = bytearray(program.read_bytes())
    at = image.find(carried)
    if at == -1 or image.find(carried, at + 1) != -1:
        raise HarnessError(f"{program} does not hold those {len(carried)} bytes exactly once")
    image[at + offset] ^= 0x40
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_bytes(bytes(image))
    return image


def record_as_built(image: bytearray, table: Path, items, out: Path):
    """Puts in image, in place of the build's table of hashes (the bytes of
    table, the build's payload.hashes), one that fptool makes of items
    (kind, resource name, carried file, decoded file): a build whose table
    records its damaged resources as its own, so that the run meets the
    damage only where it decodes. Writes the image to out."""
    old = table.read_bytes()
    at = image.find(old)
    if at == -1 or image.find(old, at + 1) != -1:
        raise HarnessError(f"the table of hashes {table} is not in the program exactly once")
    with tempfile.TemporaryDirectory() as work:
        made = Path(work) / "payload.hashes"
        fptool("hashes", made, *[part for item in items for part in item])
        new = made.read_bytes()
    if len(new) != len(old):
        raise HarnessError(f"the table made again has {len(new)} bytes, the build's {len(old)}")
    image[at:at + len(old)] = new
    out.write_bytes(bytes(image))


def verify_installation(install: Path) -> str:
    """Empty when the installation passes the updater's check (the module
    matches its own record, the game executable the module's record of it);
    else what fptool found."""
    done = subprocess.run([str(host_tool_fptool()), "check", str(install / "dll" / "RESOURCE.dll"),
                           str(install / "LMH.exe")], capture_output=True, text=True)
    return "" if done.returncode == 0 else done.stdout + done.stderr


def record_text(path: Path) -> str:
    """A file's 16-digit text record, as the fingerprint module holds it."""
    return fptool("record", path).strip()


def self_record_window(module: Path) -> int:
    """Where the 12-byte window of a module's self record starts."""
    out = subprocess.run([str(host_tool_fptool()), "check", str(module)], capture_output=True, text=True).stdout
    found = re.search(r"window start (\d+)", out)
    if not found:
        raise HarnessError(f"no self record in {module}: {out}")
    return int(found.group(1))


def build_module(out: Path, records: Dict[str, bytes], self_record: bool = True) -> Path:
    """A resource-only fingerprint module holding exactly the given records
    (name -> the record's bytes as stored), stamped when it has a self record.
    tools/make_module.sh makes true records only; the tests need any bytes."""
    root = Path(__file__).resolve().parents[2]
    with tempfile.TemporaryDirectory() as work_name:
        work = Path(work_name)
        lines = ["LANGUAGE 0x11, 0x1"]
        for n, (name, data) in enumerate(records.items()):
            if not re.fullmatch(r"[A-Za-z0-9._-]+", name):
                raise HarnessError(f"record name {name!r}: letters, digits, '.', '_' and '-' only")
            (work / f"{n}.record").write_bytes(data)
            lines.append(f'{name} RCDATA "{work / f"{n}.record"}"')
        if self_record:
            lines += ["RESOURCE.dll RCDATA", "BEGIN", '  "/**/", 0L, 0L, 0L, 0L, 0L, 0L, 0L', "END"]
        (work / "module.rc").write_text("\n".join(lines) + "\n")
        subprocess.run(["bash", str(root / "tools" / "link_module.sh"), str(work / "module.rc"), str(out)],
                       check=True, capture_output=True)
    if self_record:
        fptool("stamp", out)
    return out


def pe_resource(path: Path, type_id: int, name_id: int) -> bytes:
    """The data of one resource (numeric type and name, first language) of a
    PE file, read from the file as it lies on disk."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((rva, max(virtual_size, raw_size), raw_offset))

    def at(rva: int) -> int:
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise HarnessError(f"{path}: RVA {rva:#x} lies in no section")

    base = at(rsrc_rva)

    def entry(directory: int, wanted: Optional[int]) -> int:
        named, numbered = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            if wanted is None or (not ident & 0x80000000 and ident == wanted):
                return target
        raise HarnessError(f"{path}: resource {type_id}/{name_id} not found")

    level = entry(base, type_id)
    level = entry(base + (level & 0x7FFFFFFF), name_id)
    leaf = entry(base + (level & 0x7FFFFFFF), None)
    rva, size = struct.unpack_from("<II", data, base + leaf)
    return data[at(rva):at(rva) + size]


def run_windows_program(session: "WineSession", program: Path, *args: str, env: Optional[Dict[str, str]] = None,
                        timeout: float = 60.0) -> subprocess.CompletedProcess:
    """Runs a console program in the session's prefix and waits for it."""
    run_env = dict(session.env)
    run_env.update(env or {})
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(["wine", str(program), *args], env=run_env, stdout=out, stderr=err,
                                stdin=subprocess.DEVNULL, cwd=session.drive_c, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess([str(program), *args], status, out.read(), err.read())


def judged(result: RunResult, name: str, wine_output: bytes, expect_exit: bool) -> RunResult:
    """Sets how the run of program `name` ended; a run expected to end by
    the program's own exit path that ended otherwise fails the case."""
    ending = result.judge(name, wine_output.decode(errors="replace"))
    if expect_exit and not ending.normal:
        raise AssertionError(f"{ending.text}\n{result.describe()}\nWine printed:\n{result.wine_output[-2000:]}")
    return result


def run_watched(session: "WineSession", *answers: str, program: Optional[Path] = None,
                env: Optional[Dict[str, str]] = None, at_box: Optional[Dict[int, "object"]] = None,
                timeout: float = 60.0, expect_exit: bool = True) -> RunResult:
    """Like WineSession.run_updater, and also: another program (a copy of
    UpDate.exe elsewhere, another build), more environment for the run, and
    at_box {N: action}: box N waits for its answer until action() returns,
    so that a test can change the installation while the program waits."""
    args = [str(built_program("watcher.exe", session.windows_build_dir)), *watcher_limits(timeout)]
    pause_dir = None
    if at_box:
        pause_dir = Path(tempfile.mkdtemp(prefix="e2e-pause-", dir=session.work_dir))
        args += ["--pause-dir", _win_path(pause_dir)]
    args.append(_win_path(program or session.updater))
    args += list(answers)
    run_env = dict(session.env)
    run_env.update(env or {})
    begin = time.monotonic()
    try:
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            watcher = subprocess.Popen(["wine", *args], env=run_env, stdout=out, stderr=err, cwd=session.drive_c)
            released = set()
            status = None
            while status is None:
                try:
                    status = watcher.wait(0.02 if at_box else timeout + time_limit("watcher"))
                except subprocess.TimeoutExpired:
                    if time.monotonic() - begin > timeout + time_limit("watcher"):
                        watcher.kill()
                        watcher.wait()
                        break
                if at_box:
                    out.seek(0)
                    for line in out.read().decode("ascii", errors="replace").splitlines():
                        if not line.startswith('{"event":"paused"'):
                            continue
                        index = json.loads(line)["index"]
                        if index in released:
                            continue
                        action = at_box.get(index)
                        if action is not None:
                            action()
                        (pause_dir / f"go-{index}").write_bytes(b"")
                        released.add(index)
                    out.seek(0, os.SEEK_END)
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
    finally:
        if pause_dir is not None:
            shutil.rmtree(pause_dir, ignore_errors=True)
    if status is None:
        raise HarnessError(_watcher_stuck(timeout, stdout))
    result = parse_events(stdout.decode("ascii", errors="replace").splitlines())
    result.seconds = time.monotonic() - begin
    _note_watcher_wait(result)
    if result.exit_code is None:
        raise HarnessError(f"watcher.exe ended without the program's exit code (status {status}):\n"
                           + stdout.decode(errors="replace") + stderr.decode(errors="replace"))
    return judged(result, (program or session.updater).name, stderr, expect_exit)


# ---- pictures ----

def take_picture(session: "WineSession", rect, out: Path) -> Path:
    """Saves what the session's display shows inside rect [left, top, right, bottom]."""
    left, top, right, bottom = rect
    out.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["import", "-display", session.env["DISPLAY"], "-window", "root",
                    "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(out)],
                   check=True, capture_output=True)
    return out


def glyph_shapes(picture: Path, rect) -> List[tuple]:
    """The dark shapes inside rect of a picture, one per run of inked columns
    in each line of text: about one per character drawn."""
    data = subprocess.run(["convert", str(picture), "-colorspace", "Gray", "-depth", "8", "pgm:-"],
                          capture_output=True, check=True).stdout
    magic, width, height, _, pixels = data.split(maxsplit=4)
    width, height = int(width), int(height)
    left, top = max(rect[0], 0), max(rect[1], 0)
    right, bottom = min(rect[2], width), min(rect[3], height)

    def ink(x, y):
        return pixels[y * width + x] < 96

    inked_rows = [y for y in range(top, bottom) if any(ink(x, y) for x in range(left, right))]
    lines = []
    for y in inked_rows:
        if lines and lines[-1][1] == y - 1:
            lines[-1][1] = y
        else:
            lines.append([y, y])
    shapes = []
    for first, last in lines:
        begin = None
        for x in range(left, right + 1):
            inked = x < right and any(ink(x, y) for y in range(first, last + 1))
            if inked and begin is None:
                begin = x
            elif not inked and begin is not None:
                shapes.append(tuple(tuple(ink(c, y) for c in range(begin, x)) for y in range(first, last + 1)))
                begin = None
    return shapes


class SmallDrive:
    """A tmpfs of the given size, mounted under the work folder and given a
    drive letter in the prefix, so that UpDate.exe meets a small disk.
    Needs the right to mount (root); raises HarnessError when refused."""

    def __init__(self, session: "WineSession", letter: str, size: str):
        self.session = session
        self.letter = letter.lower()
        self.size = size
        self.root = session.work_dir / f"drive-{self.letter}"
        self.link = session.prefix / "dosdevices" / f"{self.letter}:"
        self.mounted = False

    def __enter__(self) -> "SmallDrive":
        self.root.mkdir(parents=True, exist_ok=True)
        if os.path.ismount(self.root):
            subprocess.run(["umount", str(self.root)], capture_output=True)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={self.size}", "tmpfs", str(self.root)],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise HarnessError(f"cannot mount a tmpfs: {done.stderr.strip()}")
        self.mounted = True
        if self.link.is_symlink() or self.link.exists():
            self.link.unlink()
        self.link.symlink_to(self.root)
        return self

    def windows_path(self, relative: str = "") -> str:
        return f"{self.letter.upper()}:\\" + relative

    def unix_path(self, relative: str = "") -> Path:
        return self.root.joinpath(*PureWindowsPath(relative).parts) if relative else self.root

    def space(self):
        """(free, total) bytes as GetDiskFreeSpaceEx reports them."""
        st = os.statvfs(self.root)
        return st.f_bavail * st.f_frsize, st.f_blocks * st.f_frsize

    def __exit__(self, *exc):
        if self.link.is_symlink():
            self.link.unlink()
        if self.mounted:
            # Wine may still be closing its last handle on the drive.
            for _ in range(50):
                if subprocess.run(["umount", str(self.root)], capture_output=True).returncode == 0:
                    break
                time.sleep(0.1)
            else:
                subprocess.run(["umount", "-l", str(self.root)], capture_output=True)
            self.mounted = False
        return False
