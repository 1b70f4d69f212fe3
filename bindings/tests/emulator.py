"""Runs tarvo-emu (path in TARVO_EMU) on a pseudo-terminal for a test."""

from __future__ import annotations

import os
import re
import selectors
import subprocess
import tempfile
import time

START_TIMEOUT_S = 10
ACK_TIMEOUT_S = 30


class Emulator:
    """One emulator process: ``path`` is the device the driver opens.

    ``arm(fault)`` applies a fault through the control FIFO and returns once
    the emulator has acknowledged it, so that it applies to every request
    sent afterwards; ``requests()`` lists the request frames the
    emulator received; ``paper()`` is what it printed so far. The paper and
    the frame log of a request are written before its answer is sent.
    """

    def __init__(self, *args: str):
        self._dir = tempfile.TemporaryDirectory(prefix="tarvo-emu-")
        d = self._dir.name
        self._control = os.path.join(d, "control")
        self._ack = os.path.join(d, "control.ack")
        self._paper = os.path.join(d, "paper.txt")
        self._log = os.path.join(d, "frames.log")
        with open(self._log, "wb") as log:
            self._proc = subprocess.Popen(
                [os.environ["TARVO_EMU"], "--paper", self._paper, "--control", self._control,
                 "--ack", self._ack, *args],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
        try:
            self.path = self._first_line()
        except BaseException:
            self.stop()
            raise

    def _first_line(self) -> str:
        deadline = time.monotonic() + START_TIMEOUT_S
        line = b""
        with selectors.DefaultSelector() as sel:
            sel.register(self._proc.stdout, selectors.EVENT_READ)
            while not line.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not sel.select(left):
                    raise RuntimeError("tarvo-emu printed no device path in time")
                chunk = os.read(self._proc.stdout.fileno(), 1)
                if not chunk:
                    raise RuntimeError("tarvo-emu ended: " + self.log())
                line += chunk
        path = line.decode().strip()
        if "/dev/" not in path:
            raise RuntimeError(f"tarvo-emu: unexpected first line {path!r}")
        return path

    def arm(self, fault: str) -> None:
        ack = os.open(self._ack, os.O_RDONLY | os.O_NONBLOCK)
        try:
            # Acknowledgements left over from before are not this fault's.
            try:
                while os.read(ack, 256):
                    pass
            except BlockingIOError:
                pass
            fd = os.open(self._control, os.O_WRONLY | os.O_NONBLOCK)
            try:
                os.write(fd, fault.encode() + b"\n")
            finally:
                os.close(fd)
            answer = self._read_ack(ack)
        finally:
            os.close(ack)
        if answer != "ok " + fault:
            raise RuntimeError(f"tarvo-emu did not arm {fault!r}: {answer!r} " + self.log())

    @staticmethod
    def _read_ack(fd: int) -> str:
        # A generous bound: the emulator answers at its next turn, but a
        # loaded machine may not run it for a while.
        deadline = time.monotonic() + ACK_TIMEOUT_S
        line = b""
        with selectors.DefaultSelector() as sel:
            sel.register(fd, selectors.EVENT_READ)
            while not line.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not sel.select(left):
                    return line.decode(errors="replace") + " (no acknowledgement in time)"
                try:
                    chunk = os.read(fd, 1)
                except BlockingIOError:
                    continue
                if not chunk:
                    break  # the emulator has gone
                line += chunk
        return line.decode(errors="replace").rstrip("\n")

    def log(self) -> str:
        with open(self._log, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def requests(self) -> list[str]:
        """The request frames received, as logged ("{id;Comando;params;n}")."""
        return re.findall(r"^<- (\{.*\})$", self.log(), re.M)

    def paper(self) -> str:
        try:
            with open(self._paper, encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def stop(self) -> None:
        if self._proc.poll() is None:
            self._proc.terminate()
            try:
                self._proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        self._proc.stdout.close()
        self._dir.cleanup()

    def __enter__(self) -> "Emulator":
        return self

    def __exit__(self, *exc) -> None:
        self.stop()
