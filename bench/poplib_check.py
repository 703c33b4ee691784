#!/usr/bin/env python3
"""The mail check's command pattern with Python's poplib, for comparison with our client.

Usage: poplib_check.py HOST PORT USER PASSWORD
Logs in, sends STAT, then TOP n 0 and LIST n for every message, and QUIT. Prints the seconds
from connecting to the end of QUIT and the message count.
"""
import poplib
import sys
import time


def main():
    host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    start = time.perf_counter()
    session = poplib.POP3(host, port, timeout=60)
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
