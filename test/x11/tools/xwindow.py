#!/usr/bin/python3
"""A plain X client window for the x11 tests.

  xwindow.py CLASS TITLE [WIDTH HEIGHT]
Maps a window with WM_CLASS ("xwindow", CLASS), the title and _NET_WM_PID,
prints its id once the window manager manages it, then serves events until
it is killed (or its display goes away).
"""
import os
import sys
import time

from Xlib import X, Xatom, display


def main():
    cls, title = sys.argv[1], sys.argv[2]
    width = int(sys.argv[3]) if len(sys.argv) > 3 else 400
    height = int(sys.argv[4]) if len(sys.argv) > 4 else 300
    d = display.Display()
    screen = d.screen()
    w = screen.root.create_window(50, 50, width, height, 0, screen.root_depth, X.InputOutput,
                                  X.CopyFromParent, background_pixel=screen.white_pixel,
                                  event_mask=X.StructureNotifyMask | X.ExposureMask)
    w.set_wm_class("xwindow", cls)
    w.set_wm_name(title)
    w.change_property(d.intern_atom("_NET_WM_NAME"), d.intern_atom("UTF8_STRING"), 8,
                      title.encode())
    w.change_property(d.intern_atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [os.getpid()])
    w.map()
    d.flush()
    wm_state = d.intern_atom("WM_STATE")
    deadline = time.monotonic() + 10
    while w.get_full_property(wm_state, wm_state) is None:
        if time.monotonic() > deadline:
            return 3
        time.sleep(0.02)
    print(w.id, flush=True)
    while True:
        d.next_event()


if __name__ == "__main__":
    sys.exit(main())
