#!/usr/bin/env python3
"""Memory while playing: peak RSS and PSS of the kelpa program playing a real MP3 into the sound
server, beside audacious (with its GTK window, -G) playing the same file in the same run, and
the CPU each process used meanwhile (so that memory is not bought with playback CPU).

kelpa gets the file the way a user gives it: dropped onto the playlist (XDND, from a window of
this script), then a double-click on the entry. Both programs play for a while; their memory is
read from /proc/PID/smaps_rollup every 100 ms, and "peak" is the largest figure seen
(VmHWM for RSS, which the kernel keeps itself).

Usage: bench_memory.py KELPA_BINARY [seconds=10]; needs DISPLAY (an Xvfb without a window
manager), PULSE_SERVER, sox and lame.
"""
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

CLIENT_MESSAGE, SELECTION_REQUEST = 33, 30
PLAYER_SIZE = (236, 308)
LIST_ORIGIN = (4, 3)  # the playlist's place in the player window


class XClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XSelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("owner", ctypes.c_ulong),
                ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class XSelection(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", XClientMessage),
                ("xselectionrequest", XSelectionRequest), ("xselection", XSelection),
                ("pad", ctypes.c_long * 24)]


def load_xlib():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    voidp, ulong, c_int = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
    signatures = {
        "XOpenDisplay": (voidp, [ctypes.c_char_p]),
        "XDefaultRootWindow": (ulong, [voidp]),
        "XCreateSimpleWindow": (ulong, [voidp, ulong, c_int, c_int, ctypes.c_uint, ctypes.c_uint,
                                        ctypes.c_uint, ulong, ulong]),
        "XInternAtom": (ulong, [voidp, ctypes.c_char_p, c_int]),
        "XSetSelectionOwner": (c_int, [voidp, ulong, ulong, ulong]),
        "XSendEvent": (c_int, [voidp, ulong, c_int, ctypes.c_long, ctypes.POINTER(XEvent)]),
        "XChangeProperty": (c_int, [voidp, ulong, ulong, ulong, c_int, c_int, ctypes.c_char_p,
                                    c_int]),
        "XPending": (c_int, [voidp]),
        "XNextEvent": (c_int, [voidp, ctypes.POINTER(XEvent)]),
        "XFlush": (c_int, [voidp]),
        "XCloseDisplay": (c_int, [voidp]),
    }
    for name, (restype, argtypes) in signatures.items():
        getattr(x11, name).restype = restype
        getattr(x11, name).argtypes = argtypes
    return x11


def xdotool(*args):
    result = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True,
                            timeout=10)
    return result.stdout.split()


def wait_for(predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return None


def player_window(pid):
    """(window, x, y) of kelpa's player window, told apart from its settings window by size."""
    for window in xdotool("search", "--onlyvisible", "--pid", pid, "--name", "^kelpa$"):
        out = xdotool("getwindowgeometry", "--shell", window)
        geometry = dict(item.split("=") for item in out if "=" in item)
        if (int(geometry["WIDTH"]), int(geometry["HEIGHT"])) == PLAYER_SIZE:
            return int(window), int(geometry["X"]), int(geometry["Y"])
    return None


def drop_file(target, x, y, path):
    """Drops one file on the target window at root position (x, y), as a file manager does."""
    x11 = load_xlib()
    display = x11.XOpenDisplay(None)
    atom = lambda name: x11.XInternAtom(display, name.encode(), 0)
    source = x11.XCreateSimpleWindow(display, x11.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)
    uri_list = atom("text/uri-list")
    payload = ("file://" + path + "\r\n").encode()

    def send(message, *values):
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = target
        event.xclient.message_type = atom(message)
        event.xclient.format = 32
        event.xclient.l[0] = source
        for i, value in enumerate(values, start=1):
            event.xclient.l[i] = value
        x11.XSendEvent(display, target, 0, 0, ctypes.byref(event))
        x11.XFlush(display)

    def next_event(wanted, timeout=5.0):
        """Serves selection requests until a client message named wanted arrives."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not x11.XPending(display):
                time.sleep(0.01)
                continue
            event = XEvent()
            x11.XNextEvent(display, ctypes.byref(event))
            if event.type == SELECTION_REQUEST:
                request = event.xselectionrequest
                x11.XChangeProperty(display, request.requestor, request.property, uri_list, 8, 0,
                                    payload, len(payload))
                reply = XEvent()
                reply.xselection.type = SELECTION_REQUEST + 1  # SelectionNotify
                reply.xselection.requestor = request.requestor
                reply.xselection.selection = request.selection
                reply.xselection.target = request.target
                reply.xselection.property = request.property
                reply.xselection.time = request.time
                x11.XSendEvent(display, request.requestor, 0, 0, ctypes.byref(reply))
                x11.XFlush(display)
            elif event.type == CLIENT_MESSAGE and event.xclient.message_type == atom(wanted):
                return event.xclient
        return None

    x11.XSetSelectionOwner(display, atom("XdndSelection"), source, 0)
    send("XdndEnter", 5 << 24, uri_list)
    send("XdndPosition", 0, (x << 16) | y, 0, atom("XdndActionCopy"))
    status = next_event("XdndStatus")
    accepted = status is not None and status.l[1] & 1
    if accepted:
        send("XdndDrop", 0, 0)
        next_event("XdndFinished")
    else:
        send("XdndLeave")
    x11.XCloseDisplay(display)
    return accepted


def memory_of(pid):
    """(RSS, PSS) in KiB now, or None once the process is gone."""
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            fields = dict(line.split()[:2] for line in rollup if line.split()[0].endswith(":"))
    except (OSError, ValueError):
        return None
    return int(fields["Rss:"]), int(fields["Pss:"])


def peak_rss_of(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def is_playing(pid):
    """True when the process has a stream playing into the sound server."""
    out = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True).stdout
    return f'application.process.id = "{pid}"' in out


def cpu_seconds_of(pid):
    with open(f"/proc/{pid}/stat") as stat:
        # Fields after the command name, which sits in parentheses and may hold blanks.
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime, stime


def watch(pid, seconds):
    """Peak RSS and peak PSS (KiB) over the given time, sampled every 100 ms, and the share of
    one core the process used in it."""
    peak_pss = 0
    start, cpu_start = time.monotonic(), cpu_seconds_of(pid)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        figures = memory_of(pid)
        if figures is None:
            break
        peak_pss = max(peak_pss, figures[1])
        time.sleep(0.1)
    cpu = (cpu_seconds_of(pid) - cpu_start) / (time.monotonic() - start)
    return peak_rss_of(pid), peak_pss, cpu


def stop(process):
    process.terminate()
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def measure_kelpa(binary, mp3, env, seconds):
    process = subprocess.Popen([binary], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        found = wait_for(lambda: player_window(process.pid))
        if not found:
            return "its window never showed"
        window, left, top = found
        row = (left + LIST_ORIGIN[0] + 20, top + LIST_ORIGIN[1] + 8)  # on the first entry
        if not drop_file(window, row[0], row[1], mp3):
            return "the drop was refused"
        time.sleep(0.3)
        xdotool("mousemove", row[0], row[1], "sleep", 0.2, "click", "--repeat", 2, "--delay", 80, 1)
        if not wait_for(lambda: is_playing(process.pid), timeout=10):
            return "it never played"
        return watch(process.pid, seconds)
    finally:
        stop(process)


def measure_audacious(mp3, env, seconds):
    if not shutil.which("audacious"):
        return "not installed"
    process = subprocess.Popen(["audacious", "--gtk", mp3], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        if not wait_for(lambda: is_playing(process.pid), timeout=20):
            return "it never played"
        return watch(process.pid, seconds)
    finally:
        stop(process)


def report(name, figures):
    if isinstance(figures, str):
        print(f"{name:10} {figures}")
    else:
        rss, pss, cpu = figures
        print(f"{name:10} peak RSS {rss / 1024:6.1f} MiB   peak PSS {pss / 1024:6.1f} MiB   "
              f"CPU {cpu * 100:5.2f} %")


def main():
    kelpa = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10
    folder = tempfile.mkdtemp(prefix="kelpa-bench-memory.")
    try:
        home, runtime = os.path.join(folder, "home"), os.path.join(folder, "runtime")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")
        wav, mp3 = os.path.join(folder, "tone.wav"), os.path.join(folder, "tone.mp3")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                        str(seconds + 20), "sine", "440", "vol", "0.5"], check=True)
        subprocess.run(["lame", "--quiet", "-b", "128", wav, mp3], check=True)
        print(f"memory while playing a 128 kbit/s MP3 for {seconds:g} s (Xvfb, null sink)")
        report("kelpa", measure_kelpa(kelpa, mp3, env, seconds))
        report("audacious", measure_audacious(mp3, env, seconds))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
