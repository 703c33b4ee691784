#!/usr/bin/env python3
"""The mail check's command pattern with Python's poplib, for comparison with our client.

Usage: poplib_check.py [--pipelined] [--tls CAFILE | --stls CAFILE] HOST PORT USER PASSWORD
Logs in, sends STAT, then TOP n 0 and LIST n for every message, and QUIT. Prints the seconds
from connecting to the end of QUIT and the message count. With --tls the session is TLS from
the first byte (POP3_SSL), with --stls it starts TLS after the greeting; either verifies the
server's certificate against the authority in CAFILE.

With --pipelined the TOP and LIST commands of all messages are written at once (by a second
thread, so that neither side waits on a full buffer) while the replies are read in order: the
fewest round trips a first listing can take, one for all the headers and sizes.
"""
import poplib
import socket
import ssl
import sys
import threading
import time


def list_pipelined(session, count):
    """Sends TOP n 0 and LIST n for every message in one go and reads the replies in order."""
    commands = b"".join(b"TOP %d 0\r\nLIST %d\r\n" % (n, n) for n in range(1, count + 1))
    writer = threading.Thread(target=session.sock.sendall, args=(commands,))
    writer.start()
    for _ in range(count):
        session._getlongresp()
        session._getresp()
    writer.join()


def main():
    arguments = sys.argv[1:]
    mode, context = None, None
    pipelined = bool(arguments) and arguments[0] == "--pipelined"
    if pipelined:
        arguments = arguments[1:]
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
    if pipelined:
        session.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    session.user(user)
    session.pass_(password)
    count, _ = session.stat()
    if pipelined:
        list_pipelined(session, count)
    else:
        for number in range(1, count + 1):
            session.top(number, 0)
            session.list(number)
    session.quit()
    print(f"{time.perf_counter() - start:.6f} {count}")


if __name__ == "__main__":
    main()
