#!/usr/bin/python3
"""Reads a real application through AT-SPI for the x11 tests.

  atspi.py apps          -> JSON list of {"pid", "name"} on the accessibility desktop
  atspi.py text PID      -> JSON string: the contents of PID's first editable text
  atspi.py clear PID     -> empties that text (EditableText.SetTextContents(""))
  atspi.py tree PID      -> JSON tree of PID's first shown frame: {"role" (AT-SPI role name),
                            "name", "states" (names), "children"}
  atspi.py count PID     -> number of objects below (and with) the application
  atspi.py checked PID X Y -> JSON boolean: whether the check box (or toggle) under the
                            screen point X, Y is CHECKED
  atspi.py press PID X Y  -> performs that check box's first action (a change made by
                            another client)
Exit status 3 when the application or its text is not (yet) there.
"""
import json
import sys

import pyatspi


def app_of(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def first_editable(node, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if node.getState().contains(pyatspi.STATE_EDITABLE) and node.queryEditableText():
            return node
    except NotImplementedError:
        pass
    except Exception:
        return None
    for i in range(node.childCount):
        found = first_editable(node.getChildAtIndex(i), depth + 1)
        if found is not None:
            return found
    return None


def dump(node, depth=0):
    states = [pyatspi.stateToString(s) for s in node.getState().getStates()]
    out = {"role": node.getRoleName(), "name": node.name or "", "states": states, "children": []}
    if depth < 40:
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None:
                out["children"].append(dump(child, depth + 1))
    return out


def count(node, depth=0):
    if node is None or depth > 60:
        return 0
    return 1 + sum(count(node.getChildAtIndex(i), depth + 1) for i in range(node.childCount))


def find(node, pred, depth=0):
    if node is None or depth > 40:
        return None
    if pred(node):
        return node
    for i in range(node.childCount):
        found = find(node.getChildAtIndex(i), pred, depth + 1)
        if found is not None:
            return found
    return None


def main():
    cmd = sys.argv[1]
    if cmd == "apps":
        desktop = pyatspi.Registry.getDesktop(0)
        out = []
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None:
                out.append({"pid": app.get_process_id(), "name": app.name})
        print(json.dumps(out))
        return 0
    pid = int(sys.argv[2])
    app = app_of(pid)
    if app is None:
        return 3
    if cmd == "tree":
        for i in range(app.childCount):
            frame = app.getChildAtIndex(i)
            if frame is not None and frame.getState().contains(pyatspi.STATE_SHOWING):
                print(json.dumps(dump(frame)))
                return 0
        return 3
    if cmd == "count":
        print(count(app))
        return 0
    if cmd in ("checked", "press"):
        x, y = int(sys.argv[3]), int(sys.argv[4])

        def under(n):
            if n.getRole() not in (pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON):
                return False
            e = n.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            return e.x <= x < e.x + e.width and e.y <= y < e.y + e.height
        box = find(app, under)
        if box is None:
            return 3
        if cmd == "press":
            box.queryAction().doAction(0)
            return 0
        print(json.dumps(box.getState().contains(pyatspi.STATE_CHECKED)))
        return 0
    text = first_editable(app)
    if text is None:
        return 3
    if cmd == "text":
        t = text.queryText()
        print(json.dumps(t.getText(0, t.characterCount)))
    elif cmd == "clear":
        text.queryEditableText().setTextContents("")
    return 0


if __name__ == "__main__":
    sys.exit(main())
