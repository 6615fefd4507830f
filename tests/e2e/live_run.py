"""Follows watcher.exe's events while the program still runs, for callers
that act in the middle of a run (take a picture, measure, change a file)
before the watcher answers a box. The watcher is started with --pause-dir;
on_event sees every event as it comes, and a box is answered once on_event
has returned for its "paused" event. After the watcher's last event comes
one more of the harness's own, "ending" {how, text, normal}: how the program
ended (harness.judge_ending), from the watcher's exit event and what Wine
printed during the run."""

import json
import shutil
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Callable, List, Optional

import harness


def follow(session, program: Path, answers: List[str], on_event: Callable[[dict], None],
           observe: bool = False, timeout: float = 600.0, extra=(),
           on_mode: Optional[Callable[[str], None]] = None, env: Optional[dict] = None) -> List[dict]:
    """Runs program through watcher.exe (extra: more watcher options; env:
    more environment for the run); returns all events.
    on_mode, when given, is told how the program's host process runs (an
    emulated or a native i386 program), read off it while its first box waits.
    A watcher that does not end in time, or ends without the program's exit
    code, raises HarnessError."""
    watcher = harness.built_program("watcher.exe", session.windows_build_dir)
    pause_dir = Path(tempfile.mkdtemp(dir=session.drive_c))
    args = [str(watcher), *harness.watcher_limits(timeout)]
    args += ["--observe"] if observe else ["--pause-dir", harness._win_path(pause_dir)]
    args += [*extra, harness._win_path(program), *answers]
    events = []
    with tempfile.NamedTemporaryFile(delete=False) as out, tempfile.NamedTemporaryFile(delete=False) as err:
        out_path, err_path = Path(out.name), Path(err.name)
    try:
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            # Files, not pipes: Wine's background processes would hold a pipe open.
            proc = subprocess.Popen(["wine", *args], env={**session.env, **(env or {})}, stdout=out,
                                    stderr=err, cwd=session.drive_c)
        seen = 0
        began = time.monotonic()
        limit = timeout + harness.time_limit("watcher")
        while True:
            ended = proc.poll() is not None
            if not ended and time.monotonic() - began > limit:
                proc.kill()
                proc.wait()
                raise harness.HarnessError(f"watcher.exe did not end within {limit:g} s (the program's {timeout:g} s "
                                           f"and {harness.time_limit('watcher'):g} s more)")
            lines = out_path.read_bytes().decode("ascii", errors="replace").split("\n")
            complete = [l for l in lines if l] if ended else lines[:-1]
            for line in complete[seen:]:
                seen += 1
                if not line.startswith("{"):
                    continue
                event = json.loads(line)
                events.append(event)
                if on_mode is not None and event.get("event") == "message":
                    on_mode(running_mode(session, program))
                    on_mode = None
                on_event(event)
                if event.get("event") == "paused":
                    (pause_dir / f"go-{event['index']}").write_text("")
            if ended and seen >= len(complete):
                wine_said = err_path.read_bytes().decode(errors="replace")
                if not any(e.get("event") == "exit" for e in events):
                    said = wine_said.strip().splitlines()[-1:]
                    raise harness.HarnessError(f"watcher.exe ended without the program's exit code (status "
                                               f"{proc.returncode})" + (f": {said[0]}" if said else ""))
                harness.note_box_waits(events)
                if events:
                    harness.note_wait("watcher", time.monotonic() - began - events[-1].get("ms", 0) / 1000)
                event = ending_event(program.name, events, wine_said)
                events.append(event)
                on_event(event)
                return events
            time.sleep(0.005)
    finally:
        out_path.unlink(missing_ok=True)
        err_path.unlink(missing_ok=True)
        shutil.rmtree(pause_dir, ignore_errors=True)


def ending_event(name: str, events: List[dict], wine_output: str) -> dict:
    exit_event = next((e for e in reversed(events) if e.get("event") == "exit"), {})
    ending = harness.judge_ending(name, exit_event.get("code"), exit_event.get("mark"),
                                  any(e.get("event") == "timeout" for e in events),
                                  any(e.get("event") == "unanswered" for e in events), wine_output)
    return {"event": "ending", "how": ending.how, "text": ending.text, "normal": ending.normal}


def running_mode(session, program: Path) -> str:
    try:
        return harness.i386_mode(harness.program_process(session, program.name)[1])
    except harness.HarnessError as missing:
        return f"unknown ({missing})"
