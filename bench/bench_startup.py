#!/usr/bin/env python3
"""Start-up time: from starting the program to its main window being mapped on the X display,
for kelpa and for audacious started the same way. Medians of several runs.

Usage: bench_startup.py KELPA_BINARY [runs=7]; needs DISPLAY (an Xvfb) and a sound server.
The window is seen through MapNotify events on the root window, read with Xlib via ctypes.
"""
import ctypes
import ctypes.util
import os
import select
import statistics
import subprocess
import sys
import tempfile
import time

MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class XMapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("override_redirect", ctypes.c_int)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xmap", XMapEvent), ("pad", ctypes.c_long * 24)]


x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x11.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.POINTER(ctypes.c_ulong)] + \
    [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4


def window_name(display, window):
    name = ctypes.c_char_p()
    if x11.XFetchName(display, window, ctypes.byref(name)) and name.value:
        return name.value.decode("utf-8", "replace")
    return ""


def window_width(display, window):
    root, x, y = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int()
    w, h, b, d = ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint()
    x11.XGetGeometry(display, window, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y),
                     ctypes.byref(w), ctypes.byref(h), ctypes.byref(b), ctypes.byref(d))
    return w.value


def time_to_window(command, is_main_window, env, timeout=20.0):
    display = None
    for _ in range(50):  # the server may still be tearing down the previous run's client
        display = x11.XOpenDisplay(None)
        if display:
            break
        time.sleep(0.02)
    if not display:
        sys.exit("no X display: set DISPLAY")
    x11.XSelectInput(display, x11.XDefaultRootWindow(display), SUBSTRUCTURE_NOTIFY_MASK)
    x11.XFlush(display)
    fd = x11.XConnectionNumber(display)
    start = time.monotonic()
    proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = None
    try:
        while elapsed is None and time.monotonic() - start < timeout:
            if not x11.XPending(display):
                select.select([fd], [], [], 0.05)
                continue
            event = XEvent()
            x11.XNextEvent(display, ctypes.byref(event))
            if event.type == MAP_NOTIFY and is_main_window(display, event.xmap.window):
                elapsed = time.monotonic() - start
    finally:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        x11.XCloseDisplay(display)
    return elapsed


def median_ms(command, is_main_window, env, runs):
    time_to_window(command, is_main_window, env)  # warm the page cache and the config folders
    times = [time_to_window(command, is_main_window, env) for _ in range(runs)]
    print(command[0], ["%.1f" % (t * 1000) if t else None for t in times], file=sys.stderr)
    missing = sum(t is None for t in times)
    times = [t for t in times if t is not None]
    return (statistics.median(times) * 1000 if times else float("nan")), missing


def main():
    kelpa = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    home = tempfile.mkdtemp(prefix="kelpa-bench-home.")
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="xcb")
    kelpa_window = lambda d, w: window_name(d, w) == "kelpa" and window_width(d, w) == 236
    audacious_window = lambda d, w: "Audacious" in window_name(d, w)
    ours, ours_missing = median_ms([kelpa], kelpa_window, env, runs)
    peer, peer_missing = median_ms(["audacious"], audacious_window, env, runs)
    print(f"start to main window mapped, median of {runs} runs (Xvfb, no window manager)")
    print(f"kelpa:     {ours:7.1f} ms" + (f"  ({ours_missing} runs never showed it)" if ours_missing else ""))
    print(f"audacious: {peer:7.1f} ms" + (f"  ({peer_missing} runs never showed it)" if peer_missing else ""))
    print(f"ratio: {ours / peer:.2f} x audacious")


if __name__ == "__main__":
    main()
