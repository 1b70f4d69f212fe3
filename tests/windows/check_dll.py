#!/usr/bin/env python3
"""Static checks of tarvo.dll, made without running it.

- The export table holds exactly the names of the module-definition file,
  undecorated, and each TARVO_ alias sits at the address of its plain name.
- The DLL imports only system DLLs and the C runtime msvcrt.
- 32-bit only: every return instruction of every export pops the call's
  arguments ("ret $N", N the bytes of the stdcall decoration), so the callee
  cleans the stack as __stdcall requires.

Usage: check_dll.py --objdump OBJDUMP --def tarvo.def tarvo.dll
"""
import argparse
import re
import subprocess
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "advapi32.dll", "user32.dll", "ws2_32.dll", "msvcrt.dll"}


def read_def(path):
    """{exported name: (target name, argument bytes)} from the .def file."""
    entries = {}
    in_exports = False
    for raw in open(path, encoding="ascii"):
        line = raw.split(";", 1)[0].strip()
        if not line:
            continue
        if line.upper() == "EXPORTS":
            in_exports = True
            continue
        if not in_exports:
            continue
        m = re.fullmatch(r"(\w+)@(\d+)(?:\s*=\s*(\w+)@(\d+))?", line)
        if not m:
            raise SystemExit(f"{path}: cannot read the line {raw.strip()!r}")
        name, size, target, target_size = m.groups()
        if target and target_size != size:
            raise SystemExit(f"{path}: {name} and {target} differ in their argument bytes")
        entries[name] = (target or name, int(size))
    return entries


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def read_exports(dump):
    """{name: RVA} from `objdump -p`."""
    rvas = {}
    in_eat = in_names = False
    names = {}
    for line in dump.splitlines():
        if line.startswith("Export Address Table -- Ordinal Base"):
            in_eat, in_names = True, False
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_eat, in_names = False, True
            continue
        m = re.match(r"\s+\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", line)
        if in_eat and m:
            rvas[int(m.group(1))] = int(m.group(2), 16)
            continue
        m = re.match(r"\s+\[\s*(\d+)\] (\S+)$", line)
        if in_names and m:
            names[m.group(2)] = rvas[int(m.group(1))]
            continue
        if in_names and line.strip() == "":
            in_names = False
    return names


def read_imports(dump):
    return [m.group(1) for m in re.finditer(r"DLL Name: (\S+)", dump)]


def image_base(dump):
    m = re.search(r"^ImageBase\s+([0-9a-f]+)", dump, re.M)
    return int(m.group(1), 16)


def returns_of(disassembly, address):
    """The return instructions of the function starting at address, up to
    the next symbol label."""
    rets = []
    inside = False
    for line in disassembly.splitlines():
        label = re.match(r"^([0-9a-f]+) <[^>]+>:", line)
        if label:
            if inside:
                break
            inside = int(label.group(1), 16) == address
            continue
        if inside:
            m = re.match(r"\s*[0-9a-f]+:\s+(ret\S*)\s*(\$0x[0-9a-f]+)?", line)
            if m:
                rets.append(int(m.group(2)[3:], 16) if m.group(2) else 0)
    return rets


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--def", dest="deffile", required=True)
    parser.add_argument("dll")
    args = parser.parse_args()

    errors = []
    expected = read_def(args.deffile)
    private = objdump(args.objdump, "-p", args.dll)
    exports = read_exports(private)
    is32 = re.search(r"^Magic\s+010b", private, re.M) is not None

    if set(exports) != set(expected):
        errors.append(f"exports differ: missing {sorted(set(expected) - set(exports))}, "
                      f"extra {sorted(set(exports) - set(expected))}")
    for name, (target, _) in expected.items():
        if name in exports and target in exports and exports[name] != exports[target]:
            errors.append(f"{name} is not at the address of {target}")
    for name in exports:
        if "@" in name or name.startswith("_"):
            errors.append(f"decorated export {name}")

    imports = read_imports(private)
    for dll in imports:
        if dll.lower() not in ALLOWED_IMPORTS:
            errors.append(f"imports {dll}, which is not a system DLL")

    if is32:
        base = image_base(private)
        disassembly = objdump(args.objdump, "-d", "--no-show-raw-insn", args.dll)
        for name, (target, size) in sorted(expected.items()):
            if name != target or name not in exports:
                continue
            rets = returns_of(disassembly, base + exports[name])
            if not rets:
                errors.append(f"{name}: no return instruction found")
            elif any(r != size for r in rets):
                errors.append(f"{name}: returns pop {sorted(set(rets))} bytes, expected {size}")

    kind = "32-bit" if is32 else "64-bit"
    if errors:
        print(f"{args.dll} ({kind}):", *errors, sep="\n  ")
        return 1
    checked = "exports, aliases, imports" + (", stdcall returns" if is32 else "")
    print(f"{args.dll} ({kind}): {len(exports)} exports; imports {', '.join(imports)}; "
          f"checked {checked}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
