#!/usr/bin/python3
"""Waits for a shown window of the WM class given (or with the window id given, in decimal),
prints its size and asks it to close as a close button does (WM_DELETE_WINDOW), every two
seconds: a busy server can lose the first request.
"""
import sys
import time

from Xlib import X, display, error
from Xlib.protocol import event


def shown(window, wm_class=None):
    try:
        return (window.get_attributes().map_state == X.IsViewable
                and (wm_class is None or wm_class in (window.get_wm_class() or ())))
    except error.XError:  # gone meanwhile
        return False


screen = display.Display()
deadline, window = time.monotonic() + 60, None
while window is None and time.monotonic() < deadline:
    time.sleep(0.05)
    tops = screen.screen().root.query_tree().children  # no window manager: no frames
    if sys.argv[1].isdigit():
        window = screen.create_resource_object("window", int(sys.argv[1]))
        window = window if shown(window) else None
    else:
        window = next((w for w in tops if shown(w, sys.argv[1])), None)
if window is None:
    sys.exit("no window of class " + sys.argv[1])
print("%dx%d" % (window.get_geometry().width, window.get_geometry().height), flush=True)
close = event.ClientMessage(window=window, client_type=screen.intern_atom("WM_PROTOCOLS"),
                            data=(32, [screen.intern_atom("WM_DELETE_WINDOW"), 0, 0, 0, 0]))
while shown(window) and time.monotonic() < deadline:
    window.send_event(close)
    screen.flush()
    asked = time.monotonic()
    while shown(window) and time.monotonic() < asked + 2:
        time.sleep(0.05)
sys.exit(1 if shown(window) else 0)
