#!/usr/bin/env python3
"""Static checks of a Windows program of the release (tarvo-emu.exe, tarvo.exe), made
without running it: it is a program (not a DLL) for the expected machine,
and it imports only system DLLs and the C runtime msvcrt, so that it runs
from the zip on a bare Windows with nothing installed beside it.

Usage: check_exe.py --objdump OBJDUMP --machine i386|x86-64 PROGRAM.exe...
"""
import argparse
import re
import subprocess
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "advapi32.dll", "user32.dll", "ws2_32.dll", "msvcrt.dll",
                   "setupapi.dll", "rstrtmgr.dll", "shell32.dll"}


def check(objdump, machine, path):
    problems = []
    header = subprocess.run([objdump, "-f", path], check=True, capture_output=True,
                            text=True).stdout
    fmt = re.search(r"file format (\S+)", header)
    wanted = "pei-i386" if machine == "i386" else "pei-x86-64"
    if not fmt or fmt.group(1) != wanted:
        problems.append(f"format {fmt.group(1) if fmt else '?'}, not {wanted}")
    dump = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                          text=True).stdout
    if re.search(r"^\s*DLL\s*$", dump, re.M) or "EXEC_P" not in header:
        problems.append("a DLL, not a program")
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    if not imports:
        problems.append("no import table found")
    for name in sorted(imports - ALLOWED_IMPORTS):
        problems.append(f"imports {name}, which is not a system DLL")
    return problems


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--objdump", required=True)
    p.add_argument("--machine", choices=["i386", "x86-64"], required=True)
    p.add_argument("programs", nargs="+")
    args = p.parse_args()
    failed = False
    for path in args.programs:
        problems = check(args.objdump, args.machine, path)
        for problem in problems:
            print(f"{path}: {problem}")
        failed = failed or bool(problems)
    if not failed:
        print(f"{len(args.programs)} program(s): system imports only")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
