#!/usr/bin/env python3
"""Keeps the library's trace lines in the catalogue (src/trace/trace_lines.h).

  scripts/trace-lines.py apply   replace every LogLine("...") format under src/
                                 that the catalogue holds by its TRACE_ name,
                                 and include the catalogue where it is used
  scripts/trace-lines.py check   exit 1 when a LogLine call under src/ still
                                 writes a literal format (a line the
                                 catalogue does not hold)

Run `apply` after merging code that writes new lines (add them to the
catalogue first); it changes nothing that is already in form.
"""
import pathlib
import re
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "src/trace/trace_lines.h"
DEFINE = re.compile(r'^#define (TRACE_[A-Z0-9_]+) ("(?:[^"\\]|\\.)*")$', re.M)
LITERAL_CALL = re.compile(r'LogLine\(\s*("(?:[^"\\]|\\.)*")')


def catalogue():
    return {fmt: name for name, fmt in DEFINE.findall(HEADER.read_text())}


def sources():
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        if path.name != "trace_lines.cpp":
            yield path


def apply():
    formats = catalogue()
    for path in sources():
        text = path.read_text()
        new = LITERAL_CALL.sub(
            lambda m: m.group(0).replace(m.group(1), formats.get(m.group(1), m.group(1))), text)
        if "LogLine(TRACE_" in new and '#include "trace/trace_lines.h"' not in new:
            last = list(re.finditer(r'^#include "[^"]+"\n', new, re.M))[-1]
            new = new[:last.end()] + '#include "trace/trace_lines.h"\n' + new[last.end():]
        if new != text:
            path.write_text(new)
            if shutil.which("clang-format"):
                subprocess.run(["clang-format", "-i", str(path)], check=True)
            print("updated", path.relative_to(ROOT))


def check():
    bad = 0
    for path in sources():
        for m in LITERAL_CALL.finditer(path.read_text()):
            print(f"{path.relative_to(ROOT)}: a trace line outside the catalogue: {m.group(1)}")
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["apply"]:
        apply()
    elif sys.argv[1:] == ["check"]:
        sys.exit(check())
    else:
        sys.exit(__doc__)
