#!/usr/bin/env python3
"""scripts/floors on small made-up trees: each case is a tree's files and the exit code the check
must give."""
import pathlib
import subprocess
import sys
import tempfile

FLOORS = pathlib.Path(__file__).resolve().parent.parent / "scripts" / "floors"

CASES = [
    ("down in quotes", {"panel/a.cpp": '#include "net/b.h"\n', "net/b.h": ""}, 0),
    ("up in quotes", {"net/b.cpp": '#include "panel/a.h"\n', "panel/a.h": ""}, 1),
    ("up in angle brackets", {"net/b.cpp": "#include <panel/a.h>\n", "panel/a.h": ""}, 1),
    ("sideways in angle brackets", {"agent/c.cpp": "#include <panel/a.h>\n", "panel/a.h": ""}, 1),
    ("a system header", {"net/b.cpp": "#include <sys/socket.h>\n"}, 0),
    ("history below panel", {"history/h.cpp": '#include "panel/a.h"\n', "panel/a.h": ""}, 1),
    ("alarms below panel", {"alarms/r.cpp": '#include "panel/a.h"\n', "panel/a.h": ""}, 1),
    ("alarms above history", {"alarms/r.cpp": '#include "history/h.h"\n', "history/h.h": ""}, 0),
    ("a folder on no floor", {"gadgets/g.cpp": "", "net/b.h": ""}, 1),
]


def run(root):
    return subprocess.run([sys.executable, str(FLOORS), str(root)], capture_output=True).returncode


def main():
    failures = 0
    for name, files, expected in CASES:
        with tempfile.TemporaryDirectory() as scratch:
            root = pathlib.Path(scratch)
            for path, text in files.items():
                (root / path).parent.mkdir(parents=True, exist_ok=True)
                (root / path).write_text(text)
            code = run(root)
        if code != expected:
            print(f"{name}: exit {code}, expected {expected}")
            failures += 1
    with tempfile.TemporaryDirectory() as scratch:
        if run(pathlib.Path(scratch) / "missing") == 0:
            print("a source root that does not exist passed")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
