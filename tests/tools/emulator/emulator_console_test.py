#!/usr/bin/env python3
"""The command-line host against tarvo-emu --listen, with the emulator's
control lines on its standard input and the acknowledgements on its
standard output ("--control - --ack -", the only control channel on
Windows). Run on the Linux emulator in the plain suite, and in `make
windows` on tarvo-emu.exe under Wine with the Linux tarvo and with
tarvo.exe (both under Wine).

- The emulator takes a free port and announces rfc2217://127.0.0.1:PORT on
  its first line; the test waits for that line (bounded), never sleeps.
- A whole sale in one session (tarvo -f), and the paper shows it.
- "cts off" through standard input: the next session's command fails with
  "Sem sinal de CTS"; "cts on": it works again.
- A bad control line is answered "error ...", and the emulator goes on.

Usage: emulator_console_test.py --cli TARVO [--cli-runner WINE_RUNNER]
                                -- EMULATOR_COMMAND...
"""
import argparse
import os
import select
import subprocess
import sys
import tempfile
import time

# Under Wine the first start of a program in a fresh prefix takes a while.
START_BOUND_S = 180
ACK_BOUND_S = 60


def read_line(stream, deadline):
    """One line of the emulator's standard output, or None at the deadline."""
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            return None
        c = os.read(stream.fileno(), 1)
        if not c:
            return None
        line += c
    return line.decode("ascii", "replace").rstrip("\r\n")


class Emulator:
    def __init__(self, command, workdir):
        self.paper = os.path.join(workdir, "paper.txt")
        self.log = open(os.path.join(workdir, "emulator.log"), "wb")
        self.proc = subprocess.Popen(
            command + ["--listen", "127.0.0.1:0", "--control", "-", "--ack", "-",
                       "--serial", "CONSOLE01", "--paper", self.paper],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log)
        self.url = read_line(self.proc.stdout, time.monotonic() + START_BOUND_S)

    def control(self, line):
        """Writes a control line; the acknowledgement line that answers it."""
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        deadline = time.monotonic() + ACK_BOUND_S
        while True:
            answer = read_line(self.proc.stdout, deadline)
            if answer is None or answer.endswith(line) or line in answer:
                return answer

    def stop(self):
        self.proc.stdin.close()
        self.proc.terminate()
        try:
            self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.log.close()


def cli(tool, url, *args):
    r = subprocess.run([*tool, "-p", url, *args], capture_output=True, encoding="utf-8",
                       errors="replace", stdin=subprocess.DEVNULL, timeout=120)
    return r.returncode, r.stdout + r.stderr


def check(condition, message, failures):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def run(args, workdir):
    failures = []
    emu = Emulator(args.emulator, workdir)
    try:
        if emu.url is None or not emu.url.startswith("rfc2217://127.0.0.1:"):
            return [f"no announced URL in time (first line {emu.url!r})"]
        check(not emu.url.endswith(":0"), "port 0 announced instead of the port taken", failures)
        tool = args.cli_runner + [args.cli]
        sale = os.path.join(workdir, "sale.txt")
        with open(sale, "w") as f:
            f.write("AbreCupom\nVendeItem Descricao:7=Queijo PrecoUnitario=12,40\n"
                    "PagaCupom MeioPagamento:7=Dinheiro Valor=20\nEncerraCupom\n")
        status, out = cli(tool, emu.url, "-f", sale)
        check(status == 0, f"the sale failed ({status}): {out}", failures)
        paper = open(emu.paper, encoding="utf-8", errors="replace").read()
        check("Queijo" in paper and "12,40" in paper, f"the paper lacks the item: {paper}",
              failures)

        # The printer quotes an unknown name back in cp1252: the quiet
        # failure line shows it as UTF-8 (on a pipe; a console gets its own
        # code page), not as the printer's bytes.
        status, out = cli(tool, emu.url, "-q", "LeTexto", "NomeTexto:7=Ação")
        check(status == 1 and "Texto desconhecido: Ação" in out,
              f"the quiet failure line ({status}): {out!r}", failures)

        check(emu.control("cts off") == "ok cts off", "cts off not acknowledged", failures)
        status, out = cli(tool, emu.url, "LeInteiro", "NomeInteiro=COO")
        check(status != 0 and "Sem sinal de CTS" in out,
              f"with CTS off the command did not fail for CTS ({status}): {out}", failures)
        check(emu.control("cts on") == "ok cts on", "cts on not acknowledged", failures)
        status, out = cli(tool, emu.url, "LeInteiro", "NomeInteiro=COO", "-r", "ValorInteiro")
        check(status == 0 and "ValorInteiro=1" in out, f"CTS on again: ({status}) {out}",
              failures)

        answer = emu.control("refuse speed 1")
        check(answer is not None and answer.startswith("error refuse speed 1"),
              f"a bad control line answered {answer!r}", failures)
    finally:
        emu.stop()
    if failures:
        log = open(os.path.join(workdir, "emulator.log"), "rb").read()
        print(log.decode("ascii", "replace")[-4000:])
    return failures


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cli", required=True)
    # tarvo.exe runs under Wine: the runner that starts it.
    p.add_argument("--cli-runner", action="append", default=[])
    p.add_argument("emulator", nargs="+")
    args = p.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        failures = run(args, workdir)
    print("ok" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
