"""Runs the table-driven end-to-end cases: each row arranges the
installation, runs UpDate.exe with its answers and states the boxes it must
show in order, the exit code and what may change on disk."""

from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional, Tuple

import harness
from texts import CAPTION


@dataclass
class Box:
    text: str
    style: int
    caption: str = CAPTION
    owner: str = "none"  # the progress window owns the failures met while writing


@dataclass
class Row:
    name: str
    # Changes the installation or profile; may return the installation's
    # folder when it is not the default one.
    arrange: Callable[[], Optional[Path]]
    answers: Tuple[str, ...]
    boxes: List[Box]
    exit_code: int
    # Given the files and profile from before the run; None: nothing may change.
    after: Optional[Callable[["Snapshot", "Snapshot"], None]] = None
    at_box: Dict[int, Callable[[], None]] = field(default_factory=dict)
    program: Optional[Path] = None


@dataclass
class Snapshot:
    files: Dict[str, str]
    profile: Optional[bytes]

    @staticmethod
    def take(wine: harness.WineSession, install: Path) -> "Snapshot":
        profile = wine.profile_path.read_bytes() if wine.profile_path.is_file() else None
        return Snapshot(harness.tree_digest(install) if install.is_dir() else {}, profile)


class TableMixin:
    """For unittest.TestCase classes: self.wine is the session."""

    def run_row(self, row: Row, install: Path):
        before = Snapshot.take(self.wine, install)
        run = harness.run_watched(self.wine, *row.answers, program=row.program, at_box=row.at_box)
        report = f"{row.name}\n{run.describe()}"
        self.assertFalse(run.timed_out or run.unanswered, report)
        self.assertEqual(run.other_windows, [], report)
        seen = [(m.text, m.caption, m.style, m.owner) for m in run.messages]
        wanted = [(b.text, b.caption, b.style, b.owner) for b in row.boxes]
        self.assertEqual(seen, wanted, report)
        # Compared as bytes too: the decoding above forgives stray bytes.
        self.assertEqual([m.text_bytes for m in run.messages], [b.text.encode("cp932") for b in row.boxes], report)
        self.assertEqual(run.exit_code, row.exit_code, report)
        after = Snapshot.take(self.wine, install)
        if row.after is None:
            self.assertEqual(after.files, before.files, f"files changed\n{report}")
            self.assertEqual(after.profile, before.profile, f"profile changed\n{report}")
        else:
            row.after(before, after)
        return run
