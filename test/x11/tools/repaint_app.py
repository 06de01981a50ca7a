#!/usr/bin/python3
"""A GTK3 window that draws a new picture on every frame of its frame clock
(a moving bar over a changing background): the window a capture stream
follows in the tests and the benchmark.

  repaint_app.py [TITLE] [WIDTH HEIGHT]
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def main():
    title = sys.argv[1] if len(sys.argv) > 1 else "Repaint"
    width = int(sys.argv[2]) if len(sys.argv) > 3 else 640
    height = int(sys.argv[3]) if len(sys.argv) > 3 else 480
    win = Gtk.Window(title=title)
    win.set_default_size(width, height)
    win.connect("destroy", Gtk.main_quit)
    area = Gtk.DrawingArea()
    win.add(area)
    frame = [0]

    def draw(widget, cr):
        n = frame[0]
        w, h = widget.get_allocated_width(), widget.get_allocated_height()
        cr.set_source_rgb((n % 60) / 60.0, 0.3, 0.6)
        cr.paint()
        cr.set_source_rgb(1, 1, 1)
        cr.rectangle((n * 7) % max(w, 1), 0, 24, h)
        cr.fill()
        return False

    def tick(widget, clock):
        frame[0] += 1
        widget.queue_draw()
        return True

    area.connect("draw", draw)
    area.add_tick_callback(tick)
    win.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
