#!/usr/bin/env python3
"""ser2net on Linux as the network printer port of a Windows program under
Wine.

  ser2net_peer.py --emulator PATH -- <wine runner> program.exe args...

Starts the printer emulator at PATH, then two ser2net servers in the
foreground on loopback ports found free: one with the accepter
"telnet(rfc2217),tcp(nodelay)" in front of the emulator, one with a plain
"tcp" accepter in front of a pseudo-terminal of its own. Each is awaited by
connecting to it. The command then runs with TARVO_NET_URL and
TARVO_NET_TCP_URL naming them (rfc2217://127.0.0.1:PORT), and its exit code
is this script's; the servers and the emulator are stopped and reaped.
"""
import argparse
import os
import pty
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def await_server(port, proc):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and proc.poll() is None:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as c:
                # The probe waits for ser2net's end of it, so that the one
                # connection ser2net serves is free again afterwards.
                c.shutdown(socket.SHUT_WR)
                while c.recv(256):
                    pass
                return True
        except OSError:
            time.sleep(0.01)  # not listening yet: the wait between attempts
    return False


def start_ser2net(workdir, name, accepter, device):
    for _ in range(3):
        port = free_port()
        config = os.path.join(workdir, name + ".yaml")
        with open(config, "w") as f:
            f.write(
                "connection: &printer\n"
                f"    accepter: {accepter},127.0.0.1,{port}\n"
                f"    connector: serialdev,{device},115200e81,local\n"
                "    options:\n      chardelay: false\n      max-connections: 1\n")
        proc = subprocess.Popen(
            ["ser2net", "-n", "-c", config, "-P", os.path.join(workdir, name + ".pid")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if await_server(port, proc):
            return proc, port
        proc.terminate()
        proc.wait()
    sys.exit(f"ser2net_peer: ser2net ({name}) did not start")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    procs = []
    with tempfile.TemporaryDirectory() as workdir:
        try:
            emu = subprocess.Popen([args.emulator, "--quiet", "--paper", os.devnull],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            procs.append(emu)
            device = emu.stdout.readline().strip()
            master, slave = pty.openpty()
            server, port = start_ser2net(workdir, "rfc2217", "telnet(rfc2217),tcp(nodelay)",
                                         device)
            procs.append(server)
            plain, plain_port = start_ser2net(workdir, "tcp", "tcp", os.ttyname(slave))
            procs.append(plain)
            env = dict(os.environ,
                       TARVO_NET_URL=f"rfc2217://127.0.0.1:{port}?ignorects",
                       TARVO_NET_TCP_URL=f"rfc2217://127.0.0.1:{plain_port}")
            return subprocess.call(command, env=env)
        finally:
            for p in reversed(procs):
                p.terminate()
                p.wait()


if __name__ == "__main__":
    sys.exit(main())
