#!/usr/bin/env python3
"""The mail check's command pattern with Python's poplib, for comparison with our client.

Usage: poplib_check.py [--tls CAFILE | --stls CAFILE] HOST PORT USER PASSWORD
Logs in, sends STAT, then TOP n 0 and LIST n for every message, and QUIT. Prints the seconds
from connecting to the end of QUIT and the message count. With --tls the session is TLS from
the first byte (POP3_SSL), with --stls it starts TLS after the greeting; either verifies the
server's certificate against the authority in CAFILE.
"""
import poplib
import ssl
import sys
import time


def main():
    arguments = sys.argv[1:]
    mode, context = None, None
    if arguments and arguments[0] in ("--tls", "--stls"):
        mode = arguments[0]
        context = ssl.create_default_context(cafile=arguments[1])
        arguments = arguments[2:]
    host, port, user, password = arguments[0], int(arguments[1]), arguments[2], arguments[3]
    start = time.perf_counter()
    if mode == "--tls":
        session = poplib.POP3_SSL(host, port, timeout=60, context=context)
    else:
        session = poplib.POP3(host, port, timeout=60)
        if mode == "--stls":
            session.stls(context=context)
    session.user(user)
    session.pass_(password)
    count, _ = session.stat()
    for number in range(1, count + 1):
        session.top(number, 0)
        session.list(number)
    session.quit()
    print(f"{time.perf_counter() - start:.6f} {count}")


if __name__ == "__main__":
    main()
