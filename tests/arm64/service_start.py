#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The arm64 post without a screen started end to end under qemu-user, as systemd would start it.

A pseudo-terminal stands in for the panel, bound as COM1 in a scratch home; this script plays the
service manager on NOTIFY_SOCKET. The post must send the panel its 57 start-up bytes before it says
READY=1, feed the watchdog, answer the arm64 command line's --estado through its door, and end on
SIGTERM with status 0 after STOPPING=1.
Usage: service_start.py BUILD_DIR (the arm64 build, holding painel-posto and painel-sinaletico)."""
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty

STARTUP = bytes.fromhex(
    "A5795A75E7 A5795A7651 A5795A71"  # the panel's LED times and display_on
    " A5795A75E7 A5795A7651 A5795A73C3E77E3C3C7EE7C3 A5795A740000000000000000 A5795A7B04 A5795A71"  # Parar
)


def fail(why):
    print(f"arm64 service start: {why}", file=sys.stderr)
    sys.exit(1)


def main():
    build = os.path.abspath(sys.argv[1])
    home = tempfile.mkdtemp(prefix="painel-arm64-")
    config = os.path.join(home, "config", "painel-sinaletico")
    runtime = os.path.join(home, "runtime")
    os.makedirs(config)
    os.makedirs(runtime, mode=0o700)
    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    os.symlink(os.ttyname(slave), os.path.join(config, "com1"))
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    notify.bind(os.path.join(home, "notify"))
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_STATE_HOME=os.path.join(home, "state"),
               XDG_RUNTIME_DIR=runtime, NOTIFY_SOCKET=os.path.join(home, "notify"), WATCHDOG_USEC="2000000")
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"):
        env.pop(name, None)
    post = subprocess.Popen(["qemu-aarch64", os.path.join(build, "painel-posto")], env=env, stderr=subprocess.PIPE)
    try:
        told = []
        deadline = time.monotonic() + 60
        while "READY=1" not in told:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([notify], [], [], left)[0]:
                fail(f"no READY=1 within 60 s; told {told}")
            told.append(notify.recv(512).decode())
        line = b""
        while select.select([master], [], [], 0)[0] and len(line) < len(STARTUP) + 1:
            line += os.read(master, 512)
        if line != STARTUP:
            fail(f"before READY=1 the line had {line.hex(' ').upper()}, not the start-up")
        fed = time.monotonic() + 10
        while "WATCHDOG=1" not in told and select.select([notify], [], [], fed - time.monotonic())[0]:
            told.append(notify.recv(512).decode())
        if "WATCHDOG=1" not in told:
            fail("the watchdog was not fed")
        state = subprocess.run(["qemu-aarch64", os.path.join(build, "painel-sinaletico"), "--estado"], env=env, capture_output=True, text=True, timeout=60)
        if state.returncode != 0 or "sinal: Parar\n" not in state.stdout:
            fail(f"--estado gave {state.returncode}: {state.stdout}{state.stderr}")
        post.send_signal(signal.SIGTERM)
        if post.wait(timeout=60) != 0:
            fail(f"SIGTERM ended it with status {post.returncode}")
        while select.select([notify], [], [], 0)[0]:
            told.append(notify.recv(512).decode())
        if "STOPPING=1" not in told:
            fail(f"no STOPPING=1; told {told}")
    finally:
        if post.poll() is None:
            post.kill()
    print("arm64 service start: the start-up on the line before READY=1, the watchdog fed, --estado answered, SIGTERM ends it")


if __name__ == "__main__":
    main()
