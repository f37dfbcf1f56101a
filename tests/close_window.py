#!/usr/bin/python3
"""Waits for a visible top-level window of the given WM class on the X display and asks it to
close, as a window manager's close button does (WM_DELETE_WINDOW). Prints its size first."""
import sys
import time

from Xlib import X, display
from Xlib.protocol import event


def find(window, wanted):
    for child in window.query_tree().children:
        try:
            names = child.get_wm_class() or ()
            viewable = child.get_attributes().map_state == X.IsViewable
        except Exception:
            continue
        if viewable and wanted in names:
            return child
        found = find(child, wanted)
        if found is not None:
            return found
    return None


def main():
    screen = display.Display()
    root = screen.screen().root
    deadline = time.monotonic() + 60
    window = None
    while window is None and time.monotonic() < deadline:
        window = find(root, sys.argv[1])
        if window is None:
            time.sleep(0.05)
    if window is None:
        sys.exit("no window of class " + sys.argv[1])
    geometry = window.get_geometry()
    print(f"{geometry.width}x{geometry.height}", flush=True)
    protocols = screen.intern_atom("WM_PROTOCOLS")
    delete = screen.intern_atom("WM_DELETE_WINDOW")
    message = event.ClientMessage(window=window, client_type=protocols,
                                  data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(message)
    screen.flush()


if __name__ == "__main__":
    main()
