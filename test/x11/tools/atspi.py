#!/usr/bin/python3
"""Reads a real application through AT-SPI for the x11 tests.

  atspi.py apps          -> JSON list of {"pid", "name"} on the accessibility desktop
  atspi.py text PID      -> JSON string: the contents of PID's first editable text
  atspi.py clear PID     -> empties that text (EditableText.SetTextContents(""))
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
    text = first_editable(app_of(pid))
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
