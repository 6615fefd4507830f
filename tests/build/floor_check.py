"""The program's folders form floors (the README's table under "How the
project is laid out"): a file may include only files of its own folder and
of lower floors, and no chain of includes may come back to where it began.
The check reads the table and the exceptions from the README itself and the
includes from every file of the program's folders; tests, tools, benchmarks
and fuzz targets lie outside them.

  python3 floor_check.py --source DIR
"""

import argparse
import re
import sys
import tempfile
import unittest
from pathlib import Path

SOURCE = None
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
ROW = re.compile(r"^\|\s*(\d+)\s*\|\s*`([^`]+/)`\s*\|", re.MULTILINE)
EXCEPTION = re.compile(r"`([^`]+)` includes `([^`]+)`")
SUFFIXES = {".c", ".cpp", ".h", ".rc"}


def read_floors(readme):
    """{folder: floor} from the README's floor table, and the allowed
    (file, include) pairs its exceptions name."""
    text = readme.read_text(encoding="utf-8")
    floors = {folder: int(floor) for floor, folder in ROW.findall(text)}
    exceptions = set()
    start = text.find("Includes that run against the floors:")
    if start >= 0:
        paragraph = text[start:text.find("\n\n", start)]
        exceptions = set(EXCEPTION.findall(paragraph))
    return floors, exceptions


def folder_of(path, floors):
    """The table's folder that holds path (the deepest), or None."""
    held = [f for f in floors if path.startswith(f)]
    return max(held, key=len) if held else None


def resolve(root, including, name):
    """The include as a path under root: from the root as the program
    writes them, else beside the including file."""
    for candidate in (root / name, (root / including).parent / name):
        if candidate.is_file():
            return candidate.resolve().relative_to(root.resolve()).as_posix()
    return None


def check(root):
    """Every include that runs up or across, every include circle."""
    floors, exceptions = read_floors(root / "README.md")
    if not floors:
        return ["README.md: no floor table found"]
    problems = []
    edges = {}
    files = sorted(p.relative_to(root).as_posix() for f in floors for p in (root / f).rglob("*")
                   if p.suffix in SUFFIXES and p.is_file())
    for path in files:
        own = folder_of(path, floors)
        for name in INCLUDE.findall((root / path).read_text(encoding="utf-8", errors="replace")):
            target = resolve(root, path, name)
            if (path, name) in exceptions:
                continue
            if target is None:
                problems.append(f"{path}: includes {name}, which is no file of the tree")
                continue
            other = folder_of(target, floors)
            if other is None:
                problems.append(f"{path}: includes {name}, outside the program's floors")
            elif other != own and floors[other] >= floors[own]:
                way = "up" if floors[other] > floors[own] else "across"
                problems.append(f"{path}: includes {name}, which runs {way} "
                                f"(floor {floors[own]} {own} to floor {floors[other]} {other})")
            unit, target_unit = path.rsplit(".", 1)[0], target.rsplit(".", 1)[0]
            if unit != target_unit:
                edges.setdefault(unit, set()).add(target_unit)
    problems.extend(circles(edges))
    return problems


def circles(edges):
    """One line per include circle between units (a .cpp with its .h)."""
    found, state = [], {}

    def visit(unit, path):
        state[unit] = "open"
        for nxt in sorted(edges.get(unit, ())):
            if state.get(nxt) == "open":
                found.append("include circle: " + " -> ".join(path[path.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[unit] = "done"

    for unit in sorted(edges):
        if unit not in state:
            visit(unit, [unit])
    return found


README = """\
## How the project is laid out

| Floor | Folder | What it holds | May include |
|---|---|---|---|
| 0 | `base/` | helpers | nothing |
| 1 | `platform/` | the seam | floor 0 |
| 2 | `install/low/` | low | floors 0-1 |
| 2 | `ui/` | beside | floors 0-1 |
| 3 | `install/high/` | high | floors 0-2 |

Includes that run against the floors: {exceptions}
"""


class FloorCheck(unittest.TestCase):
    def test_the_tree_holds_its_floors(self):
        self.assertEqual(check(SOURCE), [])

    def test_a_fault_is_named_by_file_and_include(self):
        good = {
            "base/a.h": "",
            "platform/p.h": '#include "base/a.h"\n',
            "install/low/l.h": '#include "platform/p.h"\n',
            "install/low/l.cpp": '#include "install/low/l.h"\n#include "base/a.h"\n',
            "install/high/h.cpp": '#include "install/low/l.h"\n#include "ui/u.h"\n',
            "ui/u.h": '#include "platform/p.h"\n',
            "tests/t.cpp": '#include "install/high/h.cpp"\n',
        }
        cases = [
            ("nothing wrong", {}, "none", []),
            ("up", {"platform/q.h": '#include "install/low/l.h"\n'}, "none",
             ["platform/q.h: includes install/low/l.h, which runs up (floor 1 platform/ to floor 2 install/low/)"]),
            ("up, listed as an exception", {"platform/q.h": '#include "install/low/l.h"\n'},
             "`platform/q.h` includes `install/low/l.h`.", []),
            ("across", {"ui/u.h": '#include "install/low/l.h"\n'}, "none",
             ["ui/u.h: includes install/low/l.h, which runs across (floor 2 ui/ to floor 2 install/low/)"]),
            ("out of the floors", {"base/a.h": '#include "tests/t.cpp"\n'}, "none",
             ["base/a.h: includes tests/t.cpp, outside the program's floors"]),
            ("a circle inside one folder",
             {"install/low/m.cpp": '#include "install/low/l.h"\n', "install/low/l.cpp": '#include "install/low/m.h"\n',
              "install/low/m.h": ""}, "none",
             ["include circle: install/low/l -> install/low/m -> install/low/l"]),
        ]
        for what, change, exceptions, expected in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                root = Path(folder)
                (root / "README.md").write_text(README.format(exceptions=exceptions), encoding="utf-8")
                for path, text in {**good, **change}.items():
                    (root / path).parent.mkdir(parents=True, exist_ok=True)
                    (root / path).write_text(text, encoding="utf-8")
                self.assertEqual(check(root), expected)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    args, rest = parser.parse_known_args()
    SOURCE = Path(args.source)
    unittest.main(argv=[sys.argv[0]] + rest)
