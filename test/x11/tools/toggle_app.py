#!/usr/bin/python3
"""A GTK3 window that is one big check button and prints "toggled" each time
it flips: started with NO_AT_BRIDGE=1 it is an application that offers
neither accessible actions nor core pointer events.

  toggle_app.py TITLE
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def main():
    win = Gtk.Window(title=sys.argv[1] if len(sys.argv) > 1 else "Toggle")
    win.set_default_size(300, 200)
    win.connect("destroy", Gtk.main_quit)
    box = Gtk.CheckButton(label="toggle me")
    box.connect("toggled", lambda b: print("toggled", flush=True))
    win.add(box)
    win.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
