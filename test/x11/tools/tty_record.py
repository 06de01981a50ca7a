#!/usr/bin/python3
"""Runs inside a terminal: reads the terminal's input raw and appends every
byte to a file (what a paste or typing delivered to the program).

  tty_record.py FILE
"""
import os
import sys
import tty


def main():
    out = sys.argv[1]
    fd = sys.stdin.fileno()
    tty.setraw(fd)
    open(out, "ab").close()
    while True:
        chunk = os.read(fd, 4096)
        if not chunk:
            return
        with open(out, "ab") as f:
            f.write(chunk)


if __name__ == "__main__":
    main()
