#!/usr/bin/env python3
"""make mutants: plant small bugs one at a time and check that a test fails.

Usage: scripts/mutants.py [--list FILE] [--scratch DIR] [--jobs N]
                          [--threshold PCT] [--only NAME[,NAME...]] [--no-full]

Reads the list of mutants (tests/mutants.list by default): one record per
mutant, in the form

    [name]
    file    = src/serial/rfc2217.cpp       path from the top of the tree
    find    = case kWont: return Event::Wont;   exact text, found exactly once
    replace = case kWont: return Event::Dont;   its replacement (may be empty)
    fault   = what a shop would meet if this slip were made
    tests   = ^Rfc2217|^NetClient          ctest -R regex tried first
    targets = rfc2217_tests net_client_tests   build targets the subset needs
    equivalent = why no test can tell (only for a known survivor)

In find and replace, \\n stands for a line end and \\t for a tab.

The tree (the working tree's tracked and untracked, not ignored files) is
copied to a scratch directory (build-mutants/tree by default), which has its
own build directory configured once and rebuilt incrementally (ccache is
used when installed). For each mutant the text is replaced in the scratch
copy, the named targets are rebuilt and the named tests run; a mutant that
survives them is tried against the whole suite. The file is restored after
each mutant.

A mutant is "killed" when a test fails (or times out), "survived" when
every test passes, "stale" when its text is not found exactly once in its
file (or the file is gone), "broken" when the mutated tree does not build.
Stale and broken mutants are failures of the gate, never skipped. The gate
fails when fewer than --threshold percent of the mutants are killed, or
when any mutant is stale or broken.
"""

import argparse
import configparser
import filecmp
import os
import shutil
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KEYS = {"file", "find", "replace", "fault", "tests", "targets", "equivalent"}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "nt\\":
            out.append({"n": "\n", "t": "\t", "\\": "\\"}[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def read_list(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True, delimiters=("=",),
                                       comment_prefixes=("#",), inline_comment_prefixes=None,
                                       empty_lines_in_values=False)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    mutants, problems = [], []
    for name in parser.sections():
        rec = dict(parser[name])
        unknown = set(rec) - KEYS
        missing = {"file", "find", "fault"} - set(rec)
        if unknown or missing:
            problems.append(f"{path}: [{name}]: unknown keys {sorted(unknown)}, "
                            f"missing {sorted(missing)}")
            continue
        rec["name"] = name
        rec["find"] = unescape(rec["find"])
        rec["replace"] = unescape(rec.get("replace", ""))
        rec["targets"] = rec.get("targets", "").split()
        mutants.append(rec)
    return mutants, problems


def tree_files():
    out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=TOP,
                         check=True, capture_output=True).stdout.decode()
    return [p for p in out.split("\0") if p and os.path.isfile(os.path.join(TOP, p))]


def sync_tree(scratch):
    """Copies changed files only, so that the scratch build stays incremental."""
    wanted = set(tree_files())
    for rel in wanted:
        src, dst = os.path.join(TOP, rel), os.path.join(scratch, rel)
        if os.path.exists(dst) and filecmp.cmp(src, dst, shallow=False):
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy(src, dst)  # a new mtime, so that the build sees the change
    # Files deleted from the tree go from the copy too (not the build dir).
    for root, dirs, files in os.walk(scratch):
        dirs[:] = [d for d in dirs if not (root == scratch and d.startswith("build"))
                   and d != ".git"]
        for f in files:
            rel = os.path.relpath(os.path.join(root, f), scratch)
            if rel not in wanted:
                os.remove(os.path.join(root, f))


def run(cmd, log, timeout=None, cwd=None):
    env = dict(os.environ)
    # Compiled objects are shared through ccache with any other copy of the
    # tree: paths are hashed relative to the copy, and its directory not at
    # all.
    env.setdefault("CCACHE_NOHASHDIR", "1")
    with open(log, "a", encoding="utf-8") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        try:
            return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout,
                                  cwd=cwd, env=env).returncode
        except subprocess.TimeoutExpired:
            out.write("(timed out)\n")
            return -1


class Gate:
    def __init__(self, args):
        self.args = args
        self.scratch = os.path.abspath(args.scratch)
        self.tree = os.path.join(self.scratch, "tree")
        self.build = os.path.join(self.tree, "build")
        self.log = os.path.join(self.scratch, "mutants.log")

    def cmake_build(self, targets):
        cmd = ["cmake", "--build", self.build, "-j", str(self.args.jobs)]
        if targets:
            cmd += ["--target"] + targets
        return run(cmd, self.log)

    def ctest(self, regex, jobs):
        cmd = ["ctest", "--test-dir", self.build, "-j", str(jobs), "--timeout",
               str(self.args.test_timeout), "--output-on-failure", "--no-tests=error"]
        if regex:
            cmd += ["-R", regex]
        cmd_timeout = None if not regex else self.args.test_timeout * 20
        return run(cmd, self.log, timeout=cmd_timeout)

    def prepare(self):
        os.environ["CCACHE_BASEDIR"] = self.tree
        os.makedirs(self.tree, exist_ok=True)
        sync_tree(self.tree)
        if not os.path.exists(os.path.join(self.build, "CMakeCache.txt")):
            cmd = ["cmake", "-S", self.tree, "-B", self.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                   "-DTARVO_BENCH=OFF"]
            if shutil.which("ccache"):
                cmd += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
            if run(cmd, self.log) != 0:
                sys.exit(f"mutants: configuring the scratch build failed (see {self.log})")

    def check(self, m):
        """'stale: why' or None, and the file's text."""
        path = os.path.join(self.tree, m["file"])
        if not os.path.isfile(path):
            return f"stale: {m['file']} does not exist", None
        with open(path, encoding="utf-8", newline="") as f:
            text = f.read()
        n = text.count(m["find"])
        if n != 1:
            return (f"stale: the text is found {n} times in {m['file']} (needs exactly once)",
                    text)
        if m["find"] == m["replace"]:
            return "stale: the replacement is the text itself", text
        return None, text

    def try_mutant(self, m, text):
        path = os.path.join(self.tree, m["file"])
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(text.replace(m["find"], m["replace"], 1))
        try:
            if self.cmake_build(m["targets"]) != 0:
                return "broken", "the mutated tree does not build"
            if m.get("tests"):
                if self.ctest(m["tests"], self.args.jobs) != 0:
                    return "killed", "by " + m["tests"]
            if self.args.no_full:
                return "survived", "the named tests pass (whole suite not run: --no-full)"
            if self.cmake_build([]) != 0:
                return "broken", "the mutated tree does not build"
            if self.ctest(None, self.args.full_jobs) != 0:
                return "killed", "by the whole suite"
            return "survived", "every test passes"
        finally:
            with open(path, "w", encoding="utf-8", newline="") as f:
                f.write(text)  # a new mtime: the next build compiles it again

    def baseline(self, mutants):
        """The unmutated tree builds and passes every named subset."""
        targets = sorted({t for m in mutants for t in m["targets"]})
        if self.cmake_build(targets) != 0:
            sys.exit(f"mutants: the unmutated tree does not build (see {self.log})")
        # ctest's regular expressions take few groups: the usual forms ^Name
        # and ^(A|B) are merged into one, any other runs on its own.
        names, others = set(), set()
        for m in mutants:
            r = m.get("tests", "")
            if r.startswith("^(") and r.endswith(")") and "(" not in r[2:-1]:
                names.update(r[2:-1].split("|"))
            elif r.startswith("^") and r[1:].isidentifier():
                names.add(r[1:])
            elif r:
                others.add(r)
        regexes = sorted(others) + (["^(" + "|".join(sorted(names)) + ")"] if names else [])
        for regex in regexes:
            if self.ctest(regex, self.args.full_jobs) != 0:
                sys.exit(f"mutants: the unmutated tree fails {regex} (see {self.log})")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--list", default=os.path.join(TOP, "tests", "mutants.list"))
    ap.add_argument("--scratch", default=os.path.join(TOP, "build-mutants"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--full-jobs", type=int, default=4,
                    help="ctest jobs for the whole suite (its tests mostly wait)")
    ap.add_argument("--threshold", type=float, default=90.0)
    ap.add_argument("--test-timeout", type=int, default=60)
    ap.add_argument("--only", default="", help="comma-separated mutant names")
    ap.add_argument("--prepare-only", action="store_true",
                    help="copy the tree and configure its build, nothing more")
    ap.add_argument("--no-full", action="store_true",
                    help="don't run the whole suite for survivors (quick iteration only)")
    args = ap.parse_args()

    started = time.monotonic()
    mutants, problems = read_list(args.list)
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {m["name"] for m in mutants}
        if unknown:
            sys.exit(f"mutants: not in {args.list}: {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m["name"] in wanted]
    gate = Gate(args)
    if os.path.exists(gate.log):
        os.remove(gate.log)
    gate.prepare()
    if args.prepare_only:
        print(f"mutants: scratch tree {gate.tree}, build {gate.build}")
        return 0

    results = []
    live = []
    for m in mutants:
        stale, text = gate.check(m)
        if stale:
            results.append((m, "stale", stale))
        else:
            live.append((m, text))
    if live:
        gate.baseline([m for m, _ in live])
    for m, text in live:
        t0 = time.monotonic()
        status, why = gate.try_mutant(m, text)
        results.append((m, status, f"{why} ({time.monotonic() - t0:.0f} s)"))
        print(f"  {status:8} {m['name']}", flush=True)

    order = {m["name"]: i for i, m in enumerate(mutants)}
    results.sort(key=lambda r: order[r[0]["name"]])
    width = max([len(m["name"]) for m, _, _ in results] + [6])
    print(f"\n{'mutant':{width}}  {'result':8}  file / why")
    for m, status, why in results:
        print(f"{m['name']:{width}}  {status:8}  {m['file']}: {why}")
        if status == "survived" and m.get("equivalent"):
            print(f"{'':{width}}  {'':8}  equivalent: {m['equivalent']}")
    for p in problems:
        print("list error: " + p)

    total = len(results)
    killed = sum(1 for _, s, _ in results if s == "killed")
    bad = [r for r in results if r[1] in ("stale", "broken")]
    ratio = 100.0 * killed / total if total else 0.0
    minutes = (time.monotonic() - started) / 60
    print(f"\nkilled {killed} of {total} ({ratio:.1f} %), threshold {args.threshold:.0f} %; "
          f"{len(bad)} stale or broken; {minutes:.1f} min; log: {gate.log}")
    for m, status, why in bad:
        print(f"{status.upper()}: {args.list} [{m['name']}] {m['file']}: {why}")
    if problems or bad or total == 0 or ratio < args.threshold:
        print("mutants: FAILED")
        return 1
    print("mutants: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
