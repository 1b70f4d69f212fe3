#!/usr/bin/env python3
"""A scripted printer on Linux pseudo-terminals that a Windows program
under Wine sees as COM ports.

  printer.py --port com5 --port com15 -- <wine runner> program.exe args...

For each --port a pseudo-terminal is made and $WINEPREFIX/dosdevices/<port>
is pointed at its slave side; then the command runs, and its exit code is
this script's. The printer answers on the master side:

- a request frame "{id;command;params;length}" gets an answer frame
  "{id;code;values;length}" chosen by the command name (ANSWERS below);
  `Atrasa` answers after 300 ms, `Ruido` sends noise and an answer with a
  stale id before the right one, `Silencio` gets no answer;
- any other byte is sent straight back (an echo), so that a test of the
  serial layer can check both directions without the frame protocol.

The slave side stays open here too, so that the line survives the program
closing and re-opening the port.

With --emulator PATH the first port is served instead by the printer
emulator at PATH (tarvo-emu from the Linux build), started with the
arguments given by --emulator-arg.
"""
import argparse
import os
import re
import select
import subprocess
import sys
import threading
import time
import tty

ANSWERS = {
    "LeTexto": '0;ValorTexto="BR0123456789"',
    "LeInteiro": "0;ValorInteiro=3",
    "AbreCupom": "0;COO=42",
    "VendeItem": "0;TotalCupom=9,00",
    "PagaCupom": "0;Troco=11,00",
    "EncerraCupom": "0;COO=42",
    "ErroTeste": '8;NomeErro="ErroExemplo" Circunstancia="Texto de exemplo"',
}
DEFAULT_ANSWER = "0;"


def answer_frame(frame_id, body):
    head = "{" + frame_id + ";" + body
    return (head + ";" + str(len(head)) + "}").encode("latin-1")


class Printer(threading.Thread):
    def __init__(self, name, master, stop_fd):
        super().__init__(daemon=True)
        self.name_ = name
        self.master = master
        self.stop_fd = stop_fd
        self.pending = b""
        self.requests = 0

    def log(self, text):
        print(f"printer {self.name_}: {text}", flush=True)

    def send(self, data):
        os.write(self.master, data)

    def answer(self, frame):
        m = re.fullmatch(rb"\{(\d+);([^;]*);(.*);(\d+)\}", frame, re.S)
        if not m:
            self.log(f"not a request: {frame!r}")
            return
        frame_id, command = m.group(1).decode(), m.group(2).decode("latin-1")
        self.requests += 1
        if command == "Silencio":
            return
        if command == "Atrasa":
            time.sleep(0.3)
        if command == "Ruido":
            self.send(b"\x00xx")
            self.send(answer_frame(str(int(frame_id) % 255 + 1), DEFAULT_ANSWER))
        self.send(answer_frame(frame_id, ANSWERS.get(command, DEFAULT_ANSWER)))

    def consume(self):
        while self.pending:
            if not self.pending.startswith(b"{"):
                end = self.pending.find(b"{")
                raw = self.pending if end < 0 else self.pending[:end]
                self.pending = self.pending[len(raw):]
                self.send(raw)
                continue
            end = self.pending.find(b"}")
            if end < 0:
                return
            frame, self.pending = self.pending[: end + 1], self.pending[end + 1 :]
            self.answer(frame)

    def run(self):
        while True:
            ready, _, _ = select.select([self.master, self.stop_fd], [], [])
            if self.stop_fd in ready:
                return
            try:
                data = os.read(self.master, 4096)
            except OSError:
                time.sleep(0.01)  # no slave open for a moment
                continue
            self.pending += data
            self.consume()


def start_emulator(path, extra):
    """The emulator and the pseudo-terminal it serves (the first line of its
    output)."""
    emulator = subprocess.Popen([path, "--quiet", *extra], stdout=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)
    line = emulator.stdout.readline().decode().strip()
    if not line.startswith("/dev/"):
        emulator.kill()
        raise SystemExit(f"{path} did not report its terminal: {line!r}")
    # Its printed paper follows on the same output; keep it flowing.
    threading.Thread(target=emulator.stdout.read, daemon=True).start()
    return emulator, line


def wine_prefix():
    default = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"tarvo-wine64-{os.getuid()}")
    return os.environ.get("WINEPREFIX") or default


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", action="append", default=[])
    parser.add_argument("--emulator")
    parser.add_argument("--emulator-arg", action="append", default=[])
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    prefix = wine_prefix()
    os.environ["WINEPREFIX"] = prefix
    # The runner creates the prefix on first use; make sure it exists before
    # the ports are linked into it.
    subprocess.run([command[0], "--init-only"], check=True)

    stop_read, stop_write = os.pipe()
    printers, links, slaves = [], [], []
    emulator = None
    ports = args.port
    if args.emulator:
        emulator, terminal = start_emulator(args.emulator, args.emulator_arg)
        link = os.path.join(prefix, "dosdevices", ports[0].lower())
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(terminal, link)
        links.append(link)
        ports = ports[1:]
    for port in ports:
        master, slave = os.openpty()
        tty.setraw(slave)
        link = os.path.join(prefix, "dosdevices", port.lower())
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(slave), link)
        links.append(link)
        slaves.append(slave)
        printer = Printer(port, master, stop_read)
        printer.start()
        printers.append(printer)

    try:
        result = subprocess.run(command).returncode
    finally:
        os.write(stop_write, b"x")
        for printer in printers:
            printer.join(timeout=2)
        for link in links:
            os.unlink(link)
        if emulator is not None:
            emulator.terminate()
            emulator.wait(timeout=5)
    for printer in printers:
        print(f"printer {printer.name_}: {printer.requests} requests answered", flush=True)
    return result


if __name__ == "__main__":
    sys.exit(main())
