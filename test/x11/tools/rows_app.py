#!/usr/bin/python3
"""A GTK3 window of 1,007 accessible objects for the capture tests and the benchmark.

  rows_app.py [TITLE]

Four columns of 50 rows; each row is a box holding a label, a check box, an
entry and a button: the application, its frame, the row area and the four
columns, plus 200 rows of 5 objects. No container has more than 50 children,
so a capture walks the whole tree within its per-element limits.
"""
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

CSS = b"""
* { font-size: 8px; min-height: 0; padding: 0; margin: 0; }
entry { min-width: 0; }
"""


def main():
    title = sys.argv[1] if len(sys.argv) > 1 else "Rows"
    provider = Gtk.CssProvider()
    provider.load_from_data(CSS)
    Gtk.StyleContext.add_provider_for_screen(
        Gdk.Screen.get_default(), provider, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
    win = Gtk.Window(title=title)
    win.connect("destroy", Gtk.main_quit)
    area = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=2)
    win.add(area)
    for col in range(4):
        column = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=0)
        area.pack_start(column, False, False, 0)
        for r in range(50):
            n = col * 50 + r
            row = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=1)
            row.pack_start(Gtk.Label(label="Row %d" % n), False, False, 0)
            row.pack_start(Gtk.CheckButton(label="Check %d" % n), False, False, 0)
            entry = Gtk.Entry()
            entry.set_width_chars(6)
            entry.set_text("value %d" % n)
            row.pack_start(entry, False, False, 0)
            row.pack_start(Gtk.Button(label="Go %d" % n), False, False, 0)
            column.pack_start(row, False, False, 0)
    win.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
