#!/usr/bin/env python3
"""tarvo-emu.exe serving a COM port under Wine: COM47 of the Wine prefix is
made a Linux pseudo-terminal, the emulator serves it (--device COM47), and
the test, as the host on the terminal's other side, sends requests and reads
the answers. This is the Windows emulator's own serial path: the port's
settings, overlapped reads and writes and the thread that bridges them to
the emulator's loop.

- The emulator announces COM47 on its first line (bounded wait, no sleep).
- A request is answered with the request's id and the emulator's serial.
- A request that arrives in two pieces is answered once, whole.

Usage: emulator_com_test.py -- WINE_RUNNER TARVO_EMU_EXE
"""
import os
import select
import subprocess
import sys
import tempfile
import time
import tty

PORT = "COM47"
START_BOUND_S = 180
ANSWER_BOUND_S = 30


def frame(frame_id, command, params):
    body = f"{{{frame_id};{command};{params}"
    return f"{body};{len(body)}}}".encode("ascii")


def read_until(fd, done, deadline):
    data = b""
    while not done(data):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return data
        data += os.read(fd, 4096)
    return data


def answer_complete(data):
    return data.endswith(b"}") and b";" in data


def main():
    command = sys.argv[1:]
    if command[:1] == ["--"]:
        command = command[1:]
    runner, exe = command[0], command[1]
    prefix = os.environ.get("WINEPREFIX") or os.path.join(
        os.environ.get("TMPDIR", "/tmp"), f"tarvo-wine64-{os.getuid()}")
    os.environ["WINEPREFIX"] = prefix
    subprocess.run([runner, "--init-only"], check=True)
    master, slave = os.openpty()
    tty.setraw(slave)
    tty.setraw(master)
    link = os.path.join(prefix, "dosdevices", PORT.lower())
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    failures = []
    with tempfile.TemporaryDirectory() as workdir:
        log = open(os.path.join(workdir, "emulator.log"), "wb")
        emu = subprocess.Popen([runner, exe, "--device", PORT, "--serial", "COMEMU01", "--paper",
                                os.path.join(workdir, "paper.txt")],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
        try:
            first = read_until(emu.stdout.fileno(), lambda d: d.endswith(b"\n"),
                               time.monotonic() + START_BOUND_S)
            if first.strip() != PORT.encode():
                failures.append(f"announced {first!r}, not {PORT}")
            else:
                os.write(master, frame(7, "LeTexto", 'NomeTexto="NumeroSerieECF"'))
                answer = read_until(master, answer_complete, time.monotonic() + ANSWER_BOUND_S)
                if not answer.startswith(b"{7;0;") or b'ValorTexto="COMEMU01"' not in answer:
                    failures.append(f"answer {answer!r}")
                request = frame(8, "LeInteiro", "NomeInteiro=ECF")
                os.write(master, request[:9])
                os.write(master, request[9:])
                answer = read_until(master, answer_complete, time.monotonic() + ANSWER_BOUND_S)
                if answer != b"{8;0;ValorInteiro=1;19}":
                    failures.append(f"answer to a request in two pieces {answer!r}")
        finally:
            emu.terminate()
            emu.wait(timeout=60)
            os.unlink(link)
            log.close()
        if failures:
            print(open(os.path.join(workdir, "emulator.log"), "rb").read().decode("ascii", "replace"))
    for f in failures:
        print("FAIL:", f)
    print("ok" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
