#!/usr/bin/python3
"""Waits for a visible top-level window of the given WM class on the X display and asks it to
close, as a window manager's close button does (WM_DELETE_WINDOW), until it is gone. Prints
its size first."""
import sys
import time

from Xlib import X, display
from Xlib.protocol import event


def find(window, wanted):
    for child in window.query_tree().children:
        try:
            names = child.get_wm_class() or ()
        except Exception:
            continue
        if wanted in names and viewable(child):
            return child
        found = find(child, wanted)
        if found is not None:
            return found
    return None


def viewable(window):
    try:
        return window.get_attributes().map_state == X.IsViewable
    except Exception:
        return False


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
    # Stays connected until the window is gone: a message sent just before this client
    # disconnects can be lost on a busy server, so it is sent again after a while, as a
    # person would click the close button again.
    next_send = 0
    while time.monotonic() < deadline:
        if time.monotonic() >= next_send:
            window.send_event(message)
            screen.flush()
            next_send = time.monotonic() + 2
        time.sleep(0.05)
        if not viewable(window):
            return
    sys.exit("the window did not close")


if __name__ == "__main__":
    main()
