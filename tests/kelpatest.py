"""What the process, package and browser tests share: waiting for a condition, the X display
(windows, their owners and sizes, keys, a window manager's close), ports, the private session
bus and the media controls on it, MP3 files made with sox and lame, remotehost and chromium,
and the start of a test script.
"""
import ctypes
import ctypes.util
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.dont_write_bytecode = True  # importing this module leaves the source tree clean

try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
except ImportError:
    webdriver = None
    WebDriverException = Exception

PLAYER_SIZE = (236, 308)
SETTINGS_SIZE = (169, 163)
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# What skips a test: ctest's SKIP_RETURN_CODE.
SKIPPED = 77


def wait_for(predicate, timeout=15.0, step=0.1):
    """The predicate's first true value, or its value once the time is up."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def wait_for_steady(predicate, polls=5, timeout=30.0, step=0.05):
    """Whether the predicate comes to hold for that many polls in a row within the time."""
    streak = 0

    def steady():
        nonlocal streak
        streak = streak + 1 if predicate() else 0
        return streak >= polls
    return wait_for(steady, timeout=timeout, step=step)


# The system calls a Qt thread waits in for its next event: poll, ppoll, epoll_wait, epoll_pwait.
WAITING_FOR_EVENTS = ("7", "271", "232", "281")


def thread_waits(pid, name):
    """Whether the process's thread of that name waits for events: what it was given is done."""
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/comm") as comm:
                if comm.read().strip() != name:
                    continue
            with open(f"/proc/{pid}/task/{tid}/syscall") as syscall:
                return syscall.read().split()[0] in WAITING_FOR_EVENTS
    except OSError:
        pass
    return False


def never_within(predicate, timeout):
    """True when the predicate stays false for the whole time. Only for what must not happen:
    a check that something does happen waits for it with wait_for."""
    return not wait_for(predicate, timeout=timeout)


# The X display ---------------------------------------------------------------------------------

def xdotool(*args):
    result = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10)
    return result.stdout.split("\n") if result.returncode == 0 else []


def window_pid(window):
    out = subprocess.run(["xprop", "-id", str(window), "_NET_WM_PID"], capture_output=True,
                         text=True, timeout=10).stdout
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


def message_boxes(pid):
    """A process's visible message boxes: titled "kelpa", neither the player nor the panel."""
    return [w for w, title, size in visible_windows(pid)
            if title == "kelpa" and size not in (PLAYER_SIZE, SETTINGS_SIZE)]


def press_return(window):
    """Presses Enter in a window, as a user answers a message box."""
    xdotool("windowfocus", "--sync", str(window))
    xdotool("key", "Return")


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


def close_window(window):
    """Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW)."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    event = _XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = int(window)
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.l[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


# The network ------------------------------------------------------------------------------------

def can_connect(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def free_port():
    """A port no socket holds, below the range the system hands out for port 0 and outgoing
    connections: there, another test's server or client could take it before kelpa listens,
    and kelpa's failed-listen box would then stand over the panel."""
    first = random.randrange(20000, 30000)
    for port in range(first, 30000):
        with socket.socket() as probe:
            try:
                probe.bind(("0.0.0.0", port))
                return port
            except OSError:
                continue
    raise OSError("no free port from %d to 29999" % first)


def unprivileged_listen_refused():
    """Why kelpa cannot be shown refused port 80 as an ordinary user here; None when it can."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        return "needs root and setpriv to run kelpa as an unprivileged user"
    with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as start:
        if int(start.read()) <= 80:
            return "this system lets every user listen on port 80"
    return "port 80 is taken on this machine" if can_connect(80) else None


# Programs of the test -----------------------------------------------------------------------------

class ProgramTestCase(unittest.TestCase):
    """A runtime folder of the test's own (kelpa's lock and hand-over socket), and the processes
    it started, killed at the end if still running."""

    platform = "offscreen"

    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="kelpa-runtime.")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM=self.platform)
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def popen(self, command, env=None, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        process = subprocess.Popen(command, env=env or self.env, **kwargs)
        self.processes.append(process)
        return process

    def use_session_bus(self):
        """A session bus of this test's own, for the media controls."""
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (bus.terminate(), bus.wait(), bus.stdout.close()))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()

    def playerctl(self, *args, env=None):
        """What playerctl says of kelpa on the test's bus."""
        result = subprocess.run(["playerctl", "--player=kelpa", *args], env=env or self.env,
                                capture_output=True, text=True, timeout=10)
        return result.stdout.strip()


def make_tracks(folder, titles, seconds=30, frequency=440, artist=None):
    """An MP3 file per title, a tone of the given length tagged with the title: their paths."""
    wav = os.path.join(folder, "tone.wav")
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", wav, "synth", str(seconds), "sine",
                    str(frequency)], check=True)
    tracks = []
    for name, title in titles:
        track = os.path.join(folder, name)
        tags = ["--id3v2-only", "--id3v2-utf16", "--tt", title]
        if artist:
            tags += ["--ta", artist]
        subprocess.run(["lame", "--quiet", *tags, wav, track], check=True)
        tracks.append(track)
    os.remove(wav)
    return tracks


# The browser tests ------------------------------------------------------------------------------

def chromium_options(profile):
    """Headless chromium with a profile of its own, quiet: no updates, syncing or first run."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    return options


def chromium(profile, options=None):
    from selenium.webdriver.chrome.service import Service
    browser = webdriver.Chrome(service=Service(CHROMEDRIVER),
                               options=options or chromium_options(profile))
    browser.set_page_load_timeout(30)
    return browser


class Remotehost:
    """tests/remotehost.cpp: kelpa with the real engine and the remote listening; its port and
    the engine states it reports."""

    command = None  # [remotehost, engine folder], from the command line

    def __init__(self, qr_picture=None):
        command, platform = list(self.command), "offscreen"
        self.qr_picture = qr_picture
        if qr_picture:
            command, platform = command + [qr_picture], "xcb"
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, env=dict(os.environ, QT_QPA_PLATFORM=platform))
        first = self.proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "port":
            raise RuntimeError("remotehost did not report its port: %r" % first)
        self.port = int(first[1])
        if qr_picture:
            second = self.proc.stdout.readline().split()
            if len(second) != 2 or second[0] != "address":
                raise RuntimeError("remotehost did not show its QR code: %r" % second)
            self.address = second[1]
        self.states = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            parts = line.split()
            if len(parts) == 4 and parts[0] == "state":
                self.states.append((time.monotonic(), int(parts[1]), int(parts[3])))

    def playing_since(self, moment):
        """Engine reports after `moment` that show it playing, position moving on."""
        after = [s for s in self.states if s[0] > moment and s[1] not in (0, 2)]
        return len(after) >= 2 and after[-1][2] > after[0][2]

    def position(self):
        """The engine's last reported position, and whether it plays."""
        if not self.states:
            return None, False
        _, state, position = self.states[-1]
        return position, state not in (0, 2)

    @classmethod
    def for_case(cls, test, prefix):
        """remotehost for a browser test case, with a folder of the case's own (test.folder);
        it shows its QR code on the display when the case reads it (shows_qr_code)."""
        test.folder = tempfile.mkdtemp(prefix=prefix)
        picture = None
        if shows_qr_code(test):
            if not os.environ.get("DISPLAY"):
                test.skipTest("no X display to show the QR code on")
            picture = os.path.join(test.folder, "qrcode.png")
        return cls(picture)

    def scanned_code(self, test, suffix=""):
        """The pairing code read off the QR window's picture (the guest's with ".guest.png"),
        whose address must be this remote's and nothing else."""
        read = subprocess.run(["zbarimg", "--raw", "-q", self.qr_picture + suffix],
                              capture_output=True, text=True, timeout=30)
        match = re.fullmatch(r"http://([^:/]+):(\d+)/m/pair/([0-9a-f]{24})", read.stdout.strip())
        test.assertTrue(match, "the code holds the pairing address only: %r %s"
                        % (read.stdout, read.stderr))
        test.assertEqual((match.group(1), int(match.group(2))), (self.address, self.port))
        return match.group(3)

    def desktop(self, line):
        """Does at the desktop what the line says (remotehost: delete N, gone N, add N)."""
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def stream_volume(self):
        """The volume in percent of this process's stream in the sound server; None without one."""
        listed = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True,
                                timeout=10).stdout
        for block in listed.split("Sink Input #")[1:]:
            if f'application.process.id = "{self.proc.pid}"' in block:
                for line in block.splitlines():
                    if line.strip().startswith("Volume:") and "%" in line:
                        return int(line.split("%")[0].split()[-1])
        return None

    def stop(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def shows_qr_code(test):
    """Whether a browser test case reads the QR code off the screen (a name with "qr" in it)."""
    return "qr" in test._testMethodName


def sound_server_answers():
    try:
        return subprocess.run(["pactl", "info"], capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


# The start of a test script ----------------------------------------------------------------------

def skip(reason):
    print("skipped: " + reason)
    sys.exit(SKIPPED)


def require_display():
    if not os.environ.get("DISPLAY"):
        skip("no X display (run through scripts/test.sh)")


def main_for_browser(case):
    """Runs a browser test case against remotehost: argv is REMOTEHOST ENGINE_DIR [unittest
    arguments]. KELPA_QR_CASES=only runs the cases that read the QR code off the screen, =skip
    the others, so that only the first need the display to themselves. KELPA_SHARD=K/N runs
    every Nth of the cases left, from the Kth on, so that N runs side by side run them all."""
    Remotehost.command = sys.argv[1:3]
    missing = [name for name, there in (("selenium", webdriver is not None),
                                        ("chromium", os.path.exists(CHROMIUM)),
                                        ("chromedriver", os.path.exists(CHROMEDRIVER))) if not there]
    if missing:
        skip("no " + ", ".join(missing))
    if not sound_server_answers():
        print("no sound server (run the tests through scripts/test.sh)")
        sys.exit(1 if os.environ.get("KELPA_REQUIRE_SOUND", "0") not in ("", "0") else SKIPPED)
    if len(sys.argv) > 3:  # cases named on the command line, as unittest takes them
        unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
    which = os.environ.get("KELPA_QR_CASES", "")
    tests = [test for test in unittest.defaultTestLoader.loadTestsFromTestCase(case)
             if which == "" or shows_qr_code(test) == (which == "only")]
    shard, shards = (int(n) for n in os.environ.get("KELPA_SHARD", "1/1").split("/"))
    suite = unittest.TestSuite(tests[shard - 1::shards])
    if not suite.countTestCases():
        skip("no case left after KELPA_QR_CASES=%s KELPA_SHARD=%d/%d" % (which, shard, shards))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
