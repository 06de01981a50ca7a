#!/usr/bin/python3
"""Owns the PRIMARY selection with a text until it is killed (another X
client's selection, for the tests that paste it). Prints "ready" once it
owns the selection.

  selection_owner.py TEXT
"""
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def main():
    primary = Gtk.Clipboard.get(Gdk.SELECTION_PRIMARY)
    primary.set_text(sys.argv[1], -1)

    def announce():
        print("ready", flush=True)
        return False

    GLib.idle_add(announce)
    Gtk.main()


if __name__ == "__main__":
    main()
