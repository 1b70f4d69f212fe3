#!/usr/bin/env python3
"""tarvo.exe under Wine against the Linux printer emulator.

  cli_wine_test.py --runner WINE_RUNNER --exe tarvo.exe --emulator tarvo-emu
                   --printer tests/windows/printer.py [--linux-cli tarvo]

The cases: sales by hand (-f FILE with CR LF, -f -, an accented argument, over
rfc2217:// against the Linux tarvo-emu --listen),
`why` (missing, opens, a network port that does not answer), `ports` (the
prefix's COM ports and a map written with reg add), and with --linux-cli
`trace on`, a sale and `report`, whose figures must equal the Linux
report's of the same logs.

Each case runs tarvo.exe through printer.py, which serves COM5 of the Wine
prefix with the emulator on a Linux pseudo-terminal. Arguments and scripts
are UTF-8 (Wine turns the Linux command line into the wide one tarvo.exe
reads); answers come back UTF-8 on a pipe.
"""
import argparse
import fcntl
import json
import os
import pty
import re
import select
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

# A process's output read a line at a time within a deadline, as the
# emulator's console test reads it.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "emulator"))
from emulator_console_test import read_line  # noqa: E402

SALE = [
    "identify",
    "AbreCupom",
    'VendeItem Descricao:7="Pão de queijo" PrecoUnitario=2 -r TotalCupom',
    "PagaCupom MeioPagamento=Dinheiro Valor=2",
    "EncerraCupom",
    "LeImpressao -r TextoImpressao",
]
failures = []


def check(name, ok, detail):
    print(("ok   " if ok else "FAIL ") + name, flush=True)
    if not ok:
        print(detail, flush=True)
        failures.append(name)


def run(args, tarvo_args, stdin=None, port=True, cwd=None, program=None):
    command = [sys.executable, args.printer]
    if port:
        command += ["--port", "com5", "--emulator", args.emulator]
    command += ["--", args.runner, program or args.exe] + tarvo_args
    return subprocess.run(command, input=stdin, capture_output=True, timeout=300, cwd=cwd)


def sale_over_the_network(args):
    # The Linux emulator serves the printer as an RFC 2217 port on a free
    # TCP port; it prints the URL first.
    emu = subprocess.Popen([args.emulator, "--listen", "127.0.0.1:0"], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        url = emu.stdout.readline().decode().strip()
        threading.Thread(target=emu.stdout.read, daemon=True).start()
        r = run(args, ["-p", url, "-q", "-f", "-"], stdin=("\n".join(SALE) + "\n").encode(),
                port=False)
    finally:
        emu.terminate()
        emu.wait(timeout=30)
    out = r.stdout.decode("utf-8", "replace")
    check("a sale with -p rfc2217://127.0.0.1:P against the Linux tarvo-emu --listen",
          url.startswith("rfc2217://") and r.returncode == 0 and "Pão de queijo" in out,
          f"url {url!r} status {r.returncode}\n{out}\n{r.stderr.decode('utf-8', 'replace')}")


def ports_lists_the_prefix_and_its_map(args):
    key = r"HKLM\SOFTWARE\TARVO\Ports"
    for name, value in (("COM31", "rfc2217://127.0.0.1:1"), ("COM32", "/dev/ttyUSB0")):
        run(args, ["add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"], port=False,
            program="reg")
    try:
        r = run(args, ["ports", "--json"], port=False)
    finally:
        for name in ("COM31", "COM32"):
            run(args, ["delete", key, "/v", name, "/f"], port=False, program="reg")
    out = r.stdout.decode("utf-8", "replace")
    try:
        facts = json.loads(out)
    except ValueError:
        facts = {}
    names = [p["device"] for p in facts.get("ports", [])]
    maps = {m["name"]: m["state"] for m in facts.get("mappings", [])}
    check("ports lists the prefix's COM1, the map's entries, flags the one Windows ignores, "
          "and offers a reg add line",
          r.returncode == 0 and "COM1" in names and maps.get("COM31", "").startswith("network")
          and maps.get("COM32", "").startswith("ignored")
          and 'reg add "HKLM\\SOFTWARE\\TARVO\\Ports" /v COM7' in facts.get("portsLines", ""),
          f"status {r.returncode}\n{out}\n{r.stderr.decode('utf-8', 'replace')}")
    r = run(args, ["ports"], port=False)
    out = r.stdout.decode("utf-8", "replace")
    check("ports shows Windows' device names as Windows writes them",
          "COM1  driver \\Device\\Serial0\r\n" in out, out)


def why_not_a_port_name(args):
    r = run(args, ["why", r"C:\pos\COM1"], port=False)
    out = r.stdout.decode("utf-8", "replace")
    check("why on a path: the name as typed, and only the names Windows takes suggested",
          r.returncode == 3 and r"'C:\pos\COM1' is not a port name" in out and "/dev/" not in out,
          f"status {r.returncode}\n{out}")


def trace_sale_report(args, linux_cli, work):
    on = run(args, ["trace", "on"], port=False, cwd=work)
    sale = run(args, ["-p", "COM5", "-q", "-f", "-"], stdin=("\n".join(SALE) + "\n").encode(),
               cwd=work)
    logs = sorted(n for n in os.listdir(work) if n.endswith(".txt"))
    windows = run(args, ["report", "-o", "page.html", "--json"] + logs, port=False, cwd=work)
    linux = subprocess.run([linux_cli, "report", "-o", "linux.html", "--json"] + logs,
                           capture_output=True, cwd=work, timeout=120)
    same = windows.stdout.replace(b"\r\n", b"\n") == linux.stdout
    check("trace on, a sale, report: the Windows page has the Linux report's figures",
          on.returncode == 0 and sale.returncode == 0 and "TARVO.txt" in logs
          and windows.returncode == 0 and same
          and b"\r\n" in open(os.path.join(work, "TARVO.txt"), "rb").read(),
          f"trace on {on.returncode}, sale {sale.returncode}, logs {logs}\n"
          f"windows {windows.returncode}:\n{windows.stdout!r}\n{windows.stderr!r}\n"
          f"linux {linux.returncode}:\n{linux.stdout!r}")


def sale_from_a_file_with_crlf(args, work):
    script = os.path.join(work, "venda.txt")
    with open(script, "wb") as f:
        f.write("\r\n".join(SALE).encode("utf-8") + b"\r\n")
    r = run(args, ["-p", "COM5", "-q", "-f", script])
    out = r.stdout.decode("utf-8", "replace")
    check("a sale from -f FILE (CR LF) prints the accented item and reads it back",
          r.returncode == 0 and "2,00" in out and "Pão de queijo" in out,
          f"status {r.returncode}\nstdout:\n{out}\nstderr:\n{r.stderr.decode('utf-8', 'replace')}")


def sale_from_standard_input(args):
    r = run(args, ["-p", "COM5", "-q", "-f", "-"], stdin=("\n".join(SALE) + "\n").encode())
    out = r.stdout.decode("utf-8", "replace")
    check("a sale from -f - reads the accented item back",
          r.returncode == 0 and "Pão de queijo" in out,
          f"status {r.returncode}\nstdout:\n{out}\nstderr:\n{r.stderr.decode('utf-8', 'replace')}")


def accented_argument(args):
    r = run(args, ["-p", "COM5", "-q", "AbreCupom", "Consumidor:7=José Conceição"])
    err = r.stderr.decode("utf-8", "replace")
    check("an accented argument reaches the printer (converted from the wide command line)",
          r.returncode == 0, f"status {r.returncode}\nstderr:\n{err}")


def why_missing(args):
    r = run(args, ["why", "COM8"], port=False)
    out = r.stdout.decode("utf-8", "replace")
    check("why on a missing COM port: ERROR_FILE_NOT_FOUND explained, status 3",
          r.returncode == 3 and "does not exist" in out and "ERROR_FILE_NOT_FOUND (2)" in out,
          f"status {r.returncode}\n{out}")


def why_opens(args):
    r = run(args, ["why", "COM5", "--json"])
    out = r.stdout.decode("utf-8", "replace")
    check("why on the served COM5: opens, status 0",
          r.returncode == 0 and '"cause":"ok"' in out and '"device":"COM5"' in out,
          f"status {r.returncode}\n{out}")


def why_network_silent(args):
    # A bound socket that never listens: its port refuses connections.
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    try:
        r = run(args, ["why", f"rfc2217://127.0.0.1:{port}"], port=False)
    finally:
        s.close()
    out = r.stdout.decode("utf-8", "replace")
    check("why on a network port that does not answer: status 3, the server named",
          r.returncode == 3 and "does not open" in out and "server" in out,
          f"status {r.returncode}\n{out}")


def wine_prefix():
    # As printer.py and the runner make it.
    default = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"tarvo-wine64-{os.getuid()}")
    return os.environ.get("WINEPREFIX") or default


class ComLink:
    """$WINEPREFIX/dosdevices/<port> pointing at `target` while in use."""

    def __init__(self, args, port, target):
        os.environ["WINEPREFIX"] = wine_prefix()
        subprocess.run([args.runner, "--init-only"], check=True, timeout=300)
        self.link = os.path.join(wine_prefix(), "dosdevices", port.lower())
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(target, self.link)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        os.unlink(self.link)


def why_held_by_another_program(args, work):
    # Wine keeps share mode 0 only on files (a pseudo-terminal opens twice),
    # so COM42 is a file here: a second program holds it with share mode 0
    # and Windows refuses tarvo.exe with ERROR_SHARING_VIOLATION, as a port
    # driver may. The holder ends when its standard input does, and is
    # awaited.
    target = os.path.join(work, "com42")
    open(target, "wb").close()
    with ComLink(args, "COM42", target):
        holder = subprocess.Popen([args.runner, args.holder, "COM42"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            said = read_line(holder.stdout, time.monotonic() + 180)
            held = run(args, ["why", "COM42"], port=False)
        finally:
            holder.stdin.close()
            try:
                holder.wait(timeout=60)
            except subprocess.TimeoutExpired:
                holder.kill()
                holder.wait(timeout=60)
            holder.stdout.close()
        free = run(args, ["why", "COM42", "--json"], port=False)
    out = held.stdout.decode("utf-8", "replace")
    check("why on a port another program holds: in use, ERROR_SHARING_VIOLATION, status 3; "
          "free again once it lets go",
          said == "held COM42" and held.returncode == 3 and "in use by another program" in out
          and "ERROR_SHARING_VIOLATION (32)" in out and holder.returncode == 0
          and b'"cause":"busy"' not in free.stdout.replace(b" ", b""),
          f"holder said {said!r}, exited {holder.returncode}\nwhy {held.returncode}: {out}\n"
          f"after: {free.stdout!r}")


def why_access_denied(args):
    # What Windows says of a COM port in use is ERROR_ACCESS_DENIED; a path
    # that even root may not open for writing gets that code from Wine.
    target = "/sys/kernel/uevent_seqnum"
    try:
        os.close(os.open(target, os.O_RDWR))
        print(f"skip why on ERROR_ACCESS_DENIED: {target} opens for writing here", flush=True)
        return
    except OSError:
        pass
    with ComLink(args, "COM43", target):
        r = run(args, ["why", "COM43", "--json"], port=False)
    out = r.stdout.decode("utf-8", "replace")
    check("why on a port refused with ERROR_ACCESS_DENIED: in use, status 3",
          r.returncode == 3 and '"cause":"busy"' in out.replace(" ", "")
          and "in use by another program" in out and "ERROR_ACCESS_DENIED (5)" in out,
          f"status {r.returncode}\n{out}")


def in_a_console(args, tarvo_line, cwd, env=None):
    """tarvo.exe run by cmd in a console whose code page is 850 (a Brazilian
    console's), the console being a Linux pseudo-terminal. Wine's console
    passes the bytes a program writes on as the characters U+0000..U+00FF
    (UTF-8 on the terminal), whatever its code page: so the bytes come back
    exactly, and are read here as code page 850, as a Windows console shows
    them. The terminal's cursor moves are made spaces again."""
    exe = "Z:" + os.path.abspath(args.exe).replace("/", "\\")
    command = [sys.executable, args.printer, "--port", "com5", "--emulator", args.emulator, "--",
               args.runner, "cmd", "/c", f"chcp 850 >nul & {exe} {tarvo_line}"]
    master, slave = pty.openpty()
    # A console as wide as the longest line: Wine's console wraps at its
    # width, which it takes from the terminal.
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
    proc = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=slave, cwd=cwd, env=env)
    os.close(slave)
    out, deadline = b"", time.monotonic() + 300
    try:
        # Until the program has ended and its output is read (a Wine process
        # may keep the terminal open after it), bounded.
        while time.monotonic() < deadline:
            ready = select.select([master], [], [], 1.0)[0]
            try:
                chunk = os.read(master, 4096) if ready else b""
            except OSError:  # EIO: every program on the terminal has ended
                break
            out += chunk
            if not ready and proc.poll() is not None:
                break
    finally:
        os.close(master)
        try:
            proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=60)
    text = out.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), text)
    text = re.sub(r"\x1b\[[?0-9;]*[A-Za-z]", "", text)
    return proc.returncode, text.encode("latin-1", "replace").decode("cp850")


def accents_in_a_code_page_850_console(args, work):
    # The printer refuses a name it does not know and quotes it back in
    # cp1252: the quiet failure line, and the report's summary of the log
    # that traced it (TARVO_TRACE=1: TARVO.txt here), must show it right in
    # the console.
    traced = dict(os.environ, TARVO_TRACE="1")
    quiet, line = in_a_console(args, "-p COM5 -q LeTexto NomeTexto:7=Ação", work, traced)
    logs = sorted(n for n in os.listdir(work) if n.endswith(".txt"))
    page, summary = in_a_console(args, "report -o page.html " + " ".join(logs), work)
    check("in a console of code page 850 the quiet failure line and the report's summary show "
          "the printer's accented text right",
          quiet == 1 and "Texto desconhecido: Ação" in line
          and page == 0 and "Texto desconhecido: Ação" in summary,
          f"quiet {quiet}: {line!r}\nlogs {logs}\n"
          f"report {page}: {summary!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--emulator", required=True)
    parser.add_argument("--printer", required=True)
    parser.add_argument("--linux-cli")
    parser.add_argument("--holder", help="hold_port.exe, for why on a port in use")
    args = parser.parse_args()
    os.environ.setdefault("LANG", "C.UTF-8")
    os.environ["LC_ALL"] = "C.UTF-8"
    with tempfile.TemporaryDirectory() as work:
        sale_from_a_file_with_crlf(args, work)
    sale_from_standard_input(args)
    accented_argument(args)
    why_missing(args)
    why_not_a_port_name(args)
    why_opens(args)
    why_network_silent(args)
    if args.holder:
        with tempfile.TemporaryDirectory() as work:
            why_held_by_another_program(args, work)
    why_access_denied(args)
    sale_over_the_network(args)
    ports_lists_the_prefix_and_its_map(args)
    if args.linux_cli:
        with tempfile.TemporaryDirectory() as work:
            trace_sale_report(args, args.linux_cli, work)
    with tempfile.TemporaryDirectory() as work:
        accents_in_a_code_page_850_console(args, work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
