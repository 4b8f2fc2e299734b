#!/usr/bin/env python3
"""The kelpa program as a user starts it, on a real X display.

The first copy shows the player and the settings window; a second copy shows its message and
ends once the message is dismissed, leaving the first copy running; a copy without the engine
library beside it shows its message and never a player window; closing the player window ends
the program, settings window and all. A user without the privilege to listen on the panel's
default port 80 is told so, and listens on a port of their own after it.

Usage: app_process_test.py KELPA_BINARY   (needs DISPLAY; exits 77, skipped, without one)
"""
import ctypes
import ctypes.util
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

KELPA = None
PLAYER_SIZE = (236, 308)
SETTINGS_SIZE = (169, 163)


def xdotool(*args):
    result = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10)
    return result.stdout.split("\n") if result.returncode == 0 else []


def window_pid(window):
    out = subprocess.run(["xprop", "-id", window, "_NET_WM_PID"], capture_output=True, text=True,
                         timeout=10).stdout
    return int(out.split("=")[1]) if "=" in out else None


def visible_windows(pid):
    """(window id, title, (width, height)) of every visible, titled window of a process."""
    found = []
    # xdotool's own search by process also lists other processes' windows, so the owner is
    # read from each window.
    for window in filter(None, xdotool("search", "--onlyvisible", "--name", ".")):
        if window_pid(window) != pid:
            continue
        title = "".join(xdotool("getwindowname", window)).strip()
        size = None
        for line in xdotool("getwindowgeometry", window):
            if "Geometry:" in line:
                width, height = line.split(":")[1].strip().split("x")
                size = (int(width), int(height))
        found.append((window, title, size))
    return found


def wait_for(predicate, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return None


class XEventData(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XEventData), ("pad", ctypes.c_long * 24)]


def close_window(window):
    """Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW)."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = int(window)
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.l[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def can_connect(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def unprivileged_listen_refused():
    """Why the privilege case cannot run here; None when it can."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        return "needs root and setpriv to run kelpa as an unprivileged user"
    with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as start:
        if int(start.read()) <= 80:
            return "this system lets every user listen on port 80"
    return "port 80 is taken on this machine" if can_connect(80) else None


def dismiss_message(window):
    """Presses Enter in a message box, as a user would."""
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "Return")


class AppProcessTest(unittest.TestCase):
    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="kelpa-runtime.")  # private lock folder
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM="xcb")
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def start(self, binary, as_nobody=False):
        log = tempfile.TemporaryFile()  # what the program says, for a failure's message
        self.addCleanup(log.close)
        command = [binary]
        if as_nobody:
            os.chown(self.runtime, 65534, 65534)
            self.env["HOME"] = self.runtime
            # The checkout may lie in a folder only root can enter (/root, mktemp -d): the
            # program and its engine library go where the unprivileged user can reach them.
            reachable = tempfile.mkdtemp(prefix="kelpa-nobody.")
            self.addCleanup(shutil.rmtree, reachable, ignore_errors=True)
            os.chmod(reachable, 0o755)
            engine = os.path.join(os.path.dirname(binary), "libvbmp3.so")
            shutil.copy(engine, reachable)
            binary = shutil.copy(binary, reachable)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", binary]
        process = subprocess.Popen(command, env=self.env, stdout=log, stderr=log)
        process.log = log
        self.processes.append(process)
        return process

    def describe(self, process):
        process.log.seek(0)
        said = process.log.read().decode("utf-8", "replace").strip()
        return f"exit code {process.poll()}, output: {said[-2000:] or '(none)'}"

    def message_box(self, process):
        """The one visible window of a refused start: neither the player nor the settings."""
        windows = wait_for(lambda: visible_windows(process.pid), timeout=30.0)
        self.assertTrue(windows, "a refused start shows a message; " + self.describe(process))
        self.assertEqual(len(windows), 1, windows)
        window, title, size = windows[0]
        self.assertEqual(title, "kelpa")
        self.assertNotIn(size, (PLAYER_SIZE, SETTINGS_SIZE))
        return window

    def test_copies_start_refuse_and_close(self):
        first = self.start(KELPA)
        windows = wait_for(lambda: [w for w in visible_windows(first.pid) if w[2] == PLAYER_SIZE])
        self.assertTrue(windows, "the player window appears")
        sizes = sorted(size for _, _, size in visible_windows(first.pid))
        self.assertEqual(sizes, sorted([PLAYER_SIZE, SETTINGS_SIZE]))
        player = windows[0][0]

        second = self.start(KELPA)
        message = self.message_box(second)
        self.assertIsNone(second.poll(), "the second copy waits for the message to be dismissed")
        dismiss_message(message)
        self.assertEqual(second.wait(10), 0)
        self.assertIsNone(first.poll(), "the running copy is unaffected")

        close_window(player)
        self.assertEqual(first.wait(10), 0, "closing the player window ends the program")

    def test_missing_engine_refuses_to_start(self):
        folder = tempfile.mkdtemp(prefix="kelpa-noengine.")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        lonely = shutil.copy(KELPA, folder)  # the program without libvbmp3.so beside it
        process = self.start(lonely)
        message = self.message_box(process)
        time.sleep(0.5)
        self.assertEqual(len(visible_windows(process.pid)), 1, "no player window behind it")
        dismiss_message(message)
        self.assertEqual(process.wait(10), 0)

    def test_port_that_needs_privileges_is_explained(self):
        reason = unprivileged_listen_refused()
        if reason:
            self.skipTest(reason)
        process = self.start(KELPA, as_nobody=True)
        panel = wait_for(lambda: [w for w, _, size in visible_windows(process.pid)
                                  if size == SETTINGS_SIZE])
        self.assertTrue(panel, "the settings window appears; " + self.describe(process))
        # A keyboard user: the port box has the focus, Tab reaches the toggle, Space presses it.
        xdotool("windowfocus", "--sync", panel[0])
        xdotool("key", "Tab", "space")
        boxes = wait_for(lambda: [w for w, title, size in visible_windows(process.pid)
                                  if title == "kelpa" and size not in (PLAYER_SIZE, SETTINGS_SIZE)])
        self.assertTrue(boxes, "a failed listen is explained; " + self.describe(process))
        self.assertFalse(can_connect(80))
        dismiss_message(boxes[0])

        port = free_port()
        xdotool("windowfocus", "--sync", panel[0])
        xdotool("key", "shift+Tab", "End", *["BackSpace"] * 5, *str(port), "Tab", "space")
        self.assertTrue(wait_for(lambda: can_connect(port), timeout=5.0), self.describe(process))
        self.assertEqual(len(visible_windows(process.pid)), 2, "no second message")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if not os.environ.get("DISPLAY"):
        print("skipped: no X display (run through scripts/test.sh)")
        sys.exit(77)
    KELPA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
