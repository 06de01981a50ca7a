#!/usr/bin/python3
"""Other X clients of the CLIPBOARD selection, for the x11 pasteboard tests.

  clip.py own TEXT     -> owns CLIPBOARD with TEXT (UTF8_STRING, STRING when it fits
                          Latin-1), prints "ready", serves readers until another client
                          takes the selection, then exits 0
  clip.py read [TARGET] -> prints the selection converted to TARGET (UTF8_STRING) as a
                          JSON string (INCR transfers included), or null when there is no
                          owner or the owner refuses
  clip.py targets      -> prints the owner's TARGETS as a JSON list of names
  clip.py manager      -> a clipboard manager: owns CLIPBOARD_MANAGER, prints "ready";
                          on SAVE_TARGETS it reads the listed targets from the CLIPBOARD
                          owner, answers, then owns CLIPBOARD itself and serves the copy
                          until it is killed
"""
import json
import select
import sys
import time

from Xlib import X, Xatom, display

WAIT = 5.0


def next_event(d, deadline):
    while d.pending_events() == 0:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        select.select([d.fileno()], [], [], left)
    return d.next_event()


def convert(d, w, selection, target, prop):
    """Converts selection to target into w's prop; (type atom, bytes) or None."""
    w.convert_selection(selection, target, prop, X.CurrentTime)
    d.flush()
    deadline = time.monotonic() + WAIT
    while True:
        e = next_event(d, deadline)
        if e is None:
            return None
        if e.type == X.SelectionNotify and e.target == target:
            break
    if e.property == X.NONE:
        return None
    p = w.get_full_property(prop, X.AnyPropertyType, sizehint=1 << 24)
    w.delete_property(prop)
    d.flush()
    if p is None:
        return None
    if p.property_type != d.intern_atom("INCR"):
        return p.property_type, bytes(p.value) if p.format == 8 else list(p.value)
    data = b""
    while True:
        e = next_event(d, time.monotonic() + WAIT)
        if e is None:
            return None
        if e.type != X.PropertyNotify or e.atom != prop or e.state != X.PropertyNewValue:
            continue
        p = w.get_full_property(prop, X.AnyPropertyType, sizehint=1 << 24)
        w.delete_property(prop)
        d.flush()
        if p is None:
            continue
        if len(p.value) == 0:
            return p.property_type, data
        data += bytes(p.value)


def reader_window(d):
    w = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent,
                                      event_mask=X.PropertyChangeMask)
    return w


def serve(d, w, selection, data_by_target):
    """Owns selection and serves data_by_target until the selection is lost."""
    targets_atom = d.intern_atom("TARGETS")
    w.set_selection_owner(selection, X.CurrentTime)
    d.flush()
    if d.get_selection_owner(selection) != w:
        return False
    print("ready", flush=True)
    while True:
        e = d.next_event()
        if e.type == X.SelectionClear and e.atom == selection:
            return True
        if e.type != X.SelectionRequest:
            continue
        prop = e.property if e.property != X.NONE else e.target
        if e.target == targets_atom:
            e.requestor.change_property(prop, Xatom.ATOM, 32, [targets_atom] + list(data_by_target))
        elif e.target in data_by_target:
            type_atom, value = data_by_target[e.target]
            if isinstance(value, list):
                e.requestor.change_property(prop, type_atom, 32, value)
            else:
                e.requestor.change_property(prop, type_atom, 8, value)
        else:
            prop = X.NONE
        notify = display.event.SelectionNotify(
            time=e.time, requestor=e.requestor, selection=e.selection, target=e.target,
            property=prop)
        e.requestor.send_event(notify)
        d.flush()


def own(d, text):
    data = {d.intern_atom("UTF8_STRING"): (d.intern_atom("UTF8_STRING"), text.encode())}
    try:
        data[Xatom.STRING] = (Xatom.STRING, text.encode("latin-1"))
    except UnicodeEncodeError:
        pass
    return 0 if serve(d, reader_window(d), d.intern_atom("CLIPBOARD"), data) else 1


def manager(d):
    w = reader_window(d)
    mgr = d.intern_atom("CLIPBOARD_MANAGER")
    clipboard = d.intern_atom("CLIPBOARD")
    w.set_selection_owner(mgr, X.CurrentTime)
    d.flush()
    print("ready", flush=True)
    while True:
        e = d.next_event()
        if e.type != X.SelectionRequest or e.selection != mgr:
            continue
        prop = e.property
        ok = e.target == d.intern_atom("SAVE_TARGETS")
        saved = {}
        if ok:
            listed = e.requestor.get_full_property(prop, Xatom.ATOM) if prop != X.NONE else None
            wanted = list(listed.value) if listed else []
            copy = reader_window(d)
            for target in wanted:
                got = convert(d, copy, clipboard, target, target)
                if got is not None:
                    saved[target] = got
        notify = display.event.SelectionNotify(
            time=e.time, requestor=e.requestor, selection=e.selection, target=e.target,
            property=prop if ok else X.NONE)
        e.requestor.send_event(notify)
        d.flush()
        if saved:
            holder = reader_window(d)
            serve(d, holder, clipboard, saved)


def main():
    d = display.Display()
    cmd = sys.argv[1]
    if cmd == "own":
        return own(d, sys.argv[2])
    if cmd == "manager":
        return manager(d)
    clipboard = d.intern_atom("CLIPBOARD")
    w = reader_window(d)
    if cmd == "targets":
        got = convert(d, w, clipboard, d.intern_atom("TARGETS"), d.intern_atom("KORVO_TEST"))
        names = [d.get_atom_name(a) for a in got[1]] if got else None
        print(json.dumps(names))
        return 0
    if cmd == "read":
        target = d.intern_atom(sys.argv[2] if len(sys.argv) > 2 else "UTF8_STRING")
        got = convert(d, w, clipboard, target, d.intern_atom("KORVO_TEST"))
        if got is None:
            print("null")
        else:
            enc = "latin-1" if got[0] == Xatom.STRING else "utf-8"
            print(json.dumps(got[1].decode(enc)))
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
