#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal and types keys into it at given times, as a listener would.

Usage: pty_keys.py [--at SECONDS KEYS]... [--limit SECONDS] [--log FILE] -- PROGRAM [ARG]...
  --at      after SECONDS (from the start) type KEYS (Python escapes allowed: ' ', 'q', '\\x1b')
  --limit   kill the program after this many seconds (default 120); exit code 124 then
  --log     write everything the program printed to FILE
Everything the program writes is read as it comes (a full terminal buffer would stop it). Exits with the
program's exit code, or 128 + the signal that ended it.
"""
import argparse
import os
import pty
import select
import signal
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--at", nargs=2, action="append", default=[], metavar=("SECONDS", "KEYS"))
    parser.add_argument("--limit", type=float, default=120.0)
    parser.add_argument("--log")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no program given")
    keys = sorted((float(at), text.encode().decode("unicode_escape").encode("latin-1")) for at, text in args.at)

    pid, master = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    start = time.monotonic()
    output = bytearray()
    status = None
    while status is None:
        now = time.monotonic() - start
        while keys and keys[0][0] <= now:
            os.write(master, keys.pop(0)[1])
        if now > args.limit:
            os.kill(pid, signal.SIGKILL)
        ready, _, _ = select.select([master], [], [], 0.02)
        if ready:
            try:
                output += os.read(master, 65536)
            except OSError:
                pass  # the program has closed the terminal
        done, code = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            status = code
    # What was still in the terminal after the program ended.
    while select.select([master], [], [], 0)[0]:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    if args.log:
        with open(args.log, "wb") as log:
            log.write(output)
    if os.WIFSIGNALED(status):
        return 124 if os.WTERMSIG(status) == signal.SIGKILL else 128 + os.WTERMSIG(status)
    return os.WEXITSTATUS(status)


if __name__ == "__main__":
    sys.exit(main())
