#!/usr/bin/python3
"""Waits for a visible top-level window of the given WM class on the X display, prints its size
and asks it to close (WM_DELETE_WINDOW), as a window manager's close button does, until it is
gone. A message sent just before a client disconnects can be lost on a busy server, so this one
stays connected and sends again every two seconds, as a person clicks again."""
import sys
import time

from Xlib import X, display, error
from Xlib.protocol import event


def windows(window):
    try:
        children = window.query_tree().children
    except error.XError:  # gone while the tree was walked
        return
    for child in children:
        yield child
        yield from windows(child)


def shown(window, wm_class=None):
    try:
        return (window.get_attributes().map_state == X.IsViewable
                and (wm_class is None or wm_class in (window.get_wm_class() or ())))
    except error.XError:
        return False


screen = display.Display()
deadline, window = time.monotonic() + 60, None
while window is None and time.monotonic() < deadline:
    window = next((w for w in windows(screen.screen().root) if shown(w, sys.argv[1])), None)
    time.sleep(0.05)
if window is None:
    sys.exit("no window of class " + sys.argv[1])
geometry = window.get_geometry()
print(f"{geometry.width}x{geometry.height}", flush=True)
close = event.ClientMessage(window=window, client_type=screen.intern_atom("WM_PROTOCOLS"),
                            data=(32, [screen.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime,
                                       0, 0, 0]))
while shown(window) and time.monotonic() < deadline:
    window.send_event(close)
    screen.flush()
    end = time.monotonic() + 2
    while shown(window) and time.monotonic() < end:
        time.sleep(0.05)
sys.exit(1 if shown(window) else 0)
