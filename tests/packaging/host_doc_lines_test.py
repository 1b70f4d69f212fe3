#!/usr/bin/env python3
"""Every shell block of host lines in the docs runs as written.

usage: host_doc_lines_test.py SOURCE_DIR BUILD_DIR DEB_ROOT

A block is marked in the Markdown by "<!-- host-lines: LANGUAGE VARIANT -->"
on the line before its ```sh fence. VARIANT "build" runs from a copy of the
source tree's layout with the build beside it (build/, bindings/, tools/);
"installed" runs in an empty directory against the Debian package unpacked in DEB_ROOT, its /usr
paths moved there (the library path and Python's path stand in for the
system's). In both, /dev/pts/3 stands for the device of a fresh tarvo-emu.
Any block with a build or run line (fpc, mcs, mono, python3) left unmarked
fails the test: it would not be run. After the examples ran, the failures
they promise to handle are checked: a refused port explained, a missing
library reported, both with exit status 1.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

HOST_COMMAND = re.compile(r"^\s*(\S+=\S+\s+)*(fpc|mcs|mono|python3)\b|\bout/venda\b", re.M)
MARK = re.compile(r"<!-- host-lines: (\w+) (build|installed) -->\n```sh\n(.*?)```", re.S)
TIMEOUT_S = 300


def doc_pages(source):
    return [os.path.join(source, "bindings", "README.md")] + sorted(
        glob.glob(os.path.join(source, "docs", "*.md")))


def blocks(source):
    """The marked blocks, and the unmarked blocks that hold host lines."""
    marked, unmarked = [], []
    for page in doc_pages(source):
        text = open(page, encoding="utf-8").read()
        for m in MARK.finditer(text):
            marked.append((os.path.relpath(page, source), m.group(1), m.group(2), m.group(3)))
        for m in re.finditer(r"(.*)\n```(?:sh|bash|console)\n(.*?)```", text):
            if "host-lines:" not in m.group(1) and HOST_COMMAND.search(m.group(2)):
                unmarked.append(f"{os.path.relpath(page, source)}: {m.group(2).strip()}")
    return marked, unmarked


class Emulator:
    def __init__(self, program, env):
        self.process = subprocess.Popen([program, "--quiet"], stdout=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL, env=env)
        self.path = self.process.stdout.readline().decode().strip()
        if not self.path.startswith("/dev/"):
            raise SystemExit(f"{program} did not print its device")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)
        self.process.stdout.close()


def run_block(lines, cwd, env):
    done = subprocess.run(["bash", "-euo", "pipefail", "-c", lines], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=TIMEOUT_S)
    return done.returncode, done.stdout + done.stderr


def build_tree(source, build, work):
    """A scratch directory laid out as the docs assume: the source tree with
    build/ beside it."""
    for name in os.listdir(source):
        if not name.startswith(".") and name != "build":
            os.symlink(os.path.join(source, name), os.path.join(work, name))
    os.symlink(build, os.path.join(work, "build"))
    env = dict(os.environ, PATH=os.environ.get("PATH", "/usr/bin:/bin"))
    for name in ("TARVO_LIBRARY", "TARVO_CLI", "TARVO_EMU", "TARVO_VENDA", "PYTHONPATH", "LD_LIBRARY_PATH"):
        env.pop(name, None)
    return env, os.path.join(build, "tools", "tarvo-emu")


def installed_root(root, work):
    """The unpacked package standing in for an installed one."""
    usr = os.path.join(root, "usr")
    libdir = os.path.dirname(glob.glob(os.path.join(usr, "lib", "**", "libtarvo.so.*"), recursive=True)[0])
    env = dict(os.environ, LD_LIBRARY_PATH=libdir,
               PYTHONPATH=os.path.join(usr, "lib", "python3", "dist-packages"),
               PATH=os.path.join(usr, "bin") + ":/usr/bin:/bin")
    for name in ("TARVO_LIBRARY", "TARVO_CLI", "TARVO_EMU", "TARVO_VENDA"):
        env.pop(name, None)
    # Free Pascal's linker is told where the system's libraries are by its
    # configuration; one in the working directory comes first.
    with open(os.path.join(work, "fpc.cfg"), "w") as cfg:
        cfg.write(f"#INCLUDE /etc/fpc.cfg\n-Fl{libdir}\n")
    return env, os.path.join(usr, "bin", "tarvo-emu")


def promised_failures(language, variant, cwd, env, root):
    """The examples' handling of a refused port and of a missing library."""
    problems = []
    missing = "/dev/tarvo-no-such-device"
    example = {"python": None, "dotnet": ["mono", "out/Venda.exe"], "pascal": ["out/venda"]}[language]
    if language == "python":
        script = (os.path.join(root, "usr/share/doc/tarvo/examples/venda.py") if variant == "installed"
                  else "bindings/python/examples/venda.py")
        example = ["python3", script]
        if variant == "build":
            env = dict(env, PYTHONPATH="bindings/python")
            env["LD_LIBRARY_PATH"] = "build"  # found by the loader, not TARVO_LIBRARY
    if variant == "build" and language == "dotnet":
        env = dict(env, LD_LIBRARY_PATH=os.path.join(cwd, "build"))
    # The tool must be found beside the library, not on the PATH.
    env = dict(env, PATH="/usr/bin:/bin")
    if language in ("python", "dotnet"):
        # Not just the code: the reason, from the tarvo tool beside the library.
        done = subprocess.run(example + [missing], cwd=cwd, env=env, capture_output=True, text=True,
                              timeout=TIMEOUT_S)
        if done.returncode != 1 or f"{missing} does not exist" not in done.stdout:
            problems.append(f"{language} {variant}: a refused port is not explained: "
                            f"{done.returncode} {done.stdout}{done.stderr}")
        bare = dict(env)
        bare.pop("LD_LIBRARY_PATH", None)
        done = subprocess.run(example + [missing], cwd=cwd, env=bare, capture_output=True, text=True,
                              timeout=TIMEOUT_S)
        if done.returncode != 1 or "Traceback" in done.stderr or "Unhandled" in done.stderr + done.stdout \
                or not done.stdout.strip():
            problems.append(f"{language} {variant}: a missing library is not reported as promised: "
                            f"{done.returncode} {done.stdout}{done.stderr}")
    return problems


def main():
    source, build, root = (os.path.abspath(a) for a in sys.argv[1:4])
    marked, unmarked = blocks(source)
    problems = [f"host lines that no test runs (mark the block): {u}" for u in unmarked]
    wanted = {(l, v) for l in ("pascal", "python", "dotnet") for v in ("build", "installed")}
    problems += [f"no {l} {v} block" for l, v in sorted(wanted - {(m[1], m[2]) for m in marked})]
    for page, language, variant, lines in marked:
        with tempfile.TemporaryDirectory(prefix="tarvo-doc-") as work:
            if variant == "build":
                env, emu_program = build_tree(source, build, work)
            else:
                env, emu_program = installed_root(root, work)
                lines = lines.replace("/usr/", os.path.join(root, "usr") + "/")
            emu = Emulator(emu_program, env)
            try:
                code, output = run_block(lines.replace("/dev/pts/3", emu.path), work, env)
            finally:
                emu.stop()
            name = f"{page} {language} {variant}"
            if code != 0:
                problems.append(f"{name}: exit {code}:\n{lines}\n{output}")
                continue
            if language != "tests" and "Closed:" not in output:
                problems.append(f"{name}: the sale did not close:\n{output}")
                continue
            print(f"{name}: ran as written")
            if language != "tests":
                problems += promised_failures(language, variant, work, env, root)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
