#!/usr/bin/env python3
"""The man pages render without a warning and cover what the tools offer.

usage: check_man_pages.py MAN_DIR TARVO TARVO_EMU

For tarvo(1) and tarvo-emu(1): groff -ww and man --warnings print nothing;
every option that the tool's --help lists (and, for tarvo, "tarvo report
--help") is in the page; every subcommand of tarvo's usage lines is in the
SYNOPSIS; every fault and command of tarvo-emu --help has its entry. A
hand-written page drifts from the program the day an option is added
without it; this test is where that shows.
"""
import os
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z0-9-]*|-[a-zA-Z])(?![\w-])")


def run(args, env=None):
    done = subprocess.run(args, capture_output=True, text=True, env=env, check=False)
    return done.returncode, done.stdout, done.stderr


def render(page):
    code, out, err = run(["groff", "-man", "-Tascii", "-P-c", "-P-b", "-P-u", "-rLL=200n", page])
    if code != 0:
        raise SystemExit(f"{page}: groff failed: {err}")
    return out


def warnings(page):
    found = []
    _, _, err = run(["groff", "-ww", "-man", "-Tutf8", "-z", page])
    found += [f"groff -ww: {line}" for line in err.splitlines()]
    env = dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0", LC_ALL="C.UTF-8")
    _, _, err = run(["man", "--warnings", "-l", page], env)
    found += [f"man --warnings: {line}" for line in err.splitlines()]
    return found


def section(text, title):
    """The rendered text of one section (.SH), up to the next."""
    match = re.search(rf"^{re.escape(title)}\n(.*?)(?=^\S)", text + "\nEND\n", re.M | re.S)
    return match.group(1) if match else ""


def block(help_text, heading):
    """The lines of a --help block that starts with a line beginning with heading."""
    lines = help_text.splitlines()
    start = next((i for i, l in enumerate(lines) if l.startswith(heading)), None)
    if start is None:
        return []
    out = []
    for line in lines[start + 1:]:
        if line and not line.startswith(" "):
            break
        out.append(line)
    return out


def options(help_text):
    return sorted({m.group(1) for line in help_text.splitlines() for m in OPTION.finditer(line)})


def check_tarvo(page, tool):
    problems = []
    text = render(page)
    _, main_help, _ = run([tool, "--help"])
    _, report_help, _ = run([tool, "report", "--help"])
    if not main_help.strip() or not report_help.strip():
        return [f"{tool} --help printed nothing"]
    words = set(re.findall(r"[\w.-]+|[^\s\w]", text))
    for option in options(main_help) + options(report_help):
        if option not in words:
            problems.append(f"tarvo.1 lacks the option {option}")
    synopsis = section(text, "SYNOPSIS")
    for line in main_help.splitlines():
        usage = re.match(r"\s*(?:Usage:|or:)\s+tarvo\s+(.*)", line)
        if not usage:
            continue
        for word in re.findall(r"(?<![\w\[-])([a-z][a-z0-9]+)(?![\w\]])", usage.group(1)):
            if not re.search(rf"\b{word}\b", synopsis):
                problems.append(f"tarvo.1's SYNOPSIS lacks the subcommand word {word!r}: {line.strip()}")
    for line in block(main_help, "Subcommands:"):
        item = re.match(r"  (\w+)", line)
        if item and not re.search(rf"^\s+{item.group(1)}\b", section(text, "SUBCOMMANDS"), re.M):
            problems.append(f"tarvo.1's SUBCOMMANDS lacks {item.group(1)}")
    return problems


def check_emulator(page, tool):
    problems = []
    text = render(page)
    _, help_text, _ = run([tool, "--help"])
    if not help_text.strip():
        return [f"{tool} --help printed nothing"]
    words = set(re.findall(r"[\w.-]+|[^\s\w]", text))
    for option in options(help_text):
        if option not in words:
            problems.append(f"tarvo-emu.1 lacks the option {option}")
    faults = section(text, "FAULTS")
    for line in block(help_text, "Faults (FAULT") + block(help_text, "Network faults"):
        item = re.match(r"  ([a-z]+)\b", line)
        if item and not re.search(rf"^\s+{item.group(1)}\b", faults, re.M):
            problems.append(f"tarvo-emu.1's FAULTS lacks the fault {item.group(1)}")
    commands = section(text, "COMMANDS")
    for line in block(help_text, "Commands ("):
        item = re.match(r"  ([A-Z]\w+)", line)
        if item and not re.search(rf"^\s+{item.group(1)}\b", commands, re.M):
            problems.append(f"tarvo-emu.1's COMMANDS lacks the command {item.group(1)}")
    return problems


def main():
    man_dir, tarvo, emulator = sys.argv[1:4]
    pages = {"tarvo": os.path.join(man_dir, "tarvo.1"), "tarvo-emu": os.path.join(man_dir, "tarvo-emu.1")}
    problems = []
    for name, page in pages.items():
        problems += [f"{name}.1: {w}" for w in warnings(page)]
        if not section(render(page), "SEE ALSO"):
            problems.append(f"{name}.1 has no SEE ALSO")
    problems += check_tarvo(pages["tarvo"], tarvo)
    problems += check_emulator(pages["tarvo-emu"], emulator)
    for p in problems:
        print(p)
    if problems:
        return 1
    print("both man pages render without warnings and cover every option, subcommand, fault and command")
    return 0


if __name__ == "__main__":
    sys.exit(main())
