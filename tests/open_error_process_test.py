#!/usr/bin/env python3
"""The whole program while an "Open Error" box is up, on a real X display without a window
manager: the player, its window, the settings panel with the web remote listening, the media
controls on a private session bus and the real engine playing into the null sink.

A phone asks for an entry whose file was removed, and the box comes up. Meanwhile the media
controls and the phone's pages are answered at once; a hundred and fifty such requests leave
one box on screen, the memory where it was, the program running and the playlist whole; the
box, the failed-listen box and a second start's message stand above the always-on-top panel
and QR window; closing the player window ends the program at once.

Usage: open_error_process_test.py KELPA_BINARY   (needs DISPLAY; exits 77, skipped, without one)
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from kelpatest import (PLAYER_SIZE, SETTINGS_SIZE, ProgramTestCase, can_connect, close_window,
                       free_port, make_tracks, message_boxes, never_within, press_return,
                       require_display, visible_windows, wait_for, xdotool)

KELPA = None
FLOOD_REQUESTS = 150
# Each call is answered within this many seconds while the box is up. A call that waits for the
# box waits until it is answered, which no one does here; the rest is slack for a loaded machine.
ANSWER_LIMIT_S = 8.0
TITLES = ("Alpha", "Beta", "Gamma")
GONE = 1  # the entry whose file is removed


def http_get(port, path):
    """(status line, body, seconds taken) of one HTTP/1.0 request, as a phone sends it."""
    began = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        connection.sendall(f"GET {path} HTTP/1.0\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    return head.split(b"\r\n")[0].decode(), body.decode("cp932"), time.monotonic() - began


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def stacking_order():
    """The root window's children, bottom to top, as X stacks them."""
    out = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True,
                         timeout=10).stdout
    top_first = [int(match, 16) for match in re.findall(r"^\s+(0x[0-9a-f]+) ", out, re.M)]
    return top_first[::-1]


class OpenErrorProcessTest(ProgramTestCase):
    platform = "xcb"

    @classmethod
    def setUpClass(cls):
        cls.music = tempfile.mkdtemp(prefix="kelpa music ")
        cls.tracks = make_tracks(cls.music, [(title + ".mp3", title) for title in TITLES])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.music, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.use_session_bus()
        # The entry's file goes once it is in the list: a share gone away, a stick pulled.
        self.gone = shutil.copy(self.tracks[GONE], self.runtime)
        self.kelpa = self.start(self.tracks[0], self.gone, self.tracks[2])
        self.player = self.window(PLAYER_SIZE)
        self.panel = self.window(SETTINGS_SIZE)
        self.assertTrue(wait_for(lambda: self.playerctl("status") == "Playing"), "it plays")
        os.remove(self.gone)

    def start(self, *files):
        return self.popen([KELPA, *files])

    def window(self, size, process=None):
        pid = (process or self.kelpa).pid
        found = wait_for(lambda: [w for w, _, s in visible_windows(pid) if s == size])
        self.assertTrue(found, f"a window of {size} appears")
        return int(found[0])

    def boxes(self, process=None):
        """The visible message boxes of a process."""
        return [int(w) for w in message_boxes((process or self.kelpa).pid)]

    def click_panel(self, x, y, clicks=1):
        # With no window manager to keep it on top, the panel opens under the player window.
        # The focus is given before the click, which Qt answers by asking for it only once it
        # reads the click: the keys after it then reach the panel however late that is.
        xdotool("windowraise", str(self.panel))
        xdotool("windowfocus", "--sync", str(self.panel))
        xdotool("mousemove", "--window", str(self.panel), str(x), str(y), "click", "--repeat",
                str(clicks), "--delay", "80", "1")

    def listen(self, port):
        """Types the port over the panel's and presses the toggle, as a user does."""
        self.click_panel(110, 10)  # the port box
        xdotool("key", "ctrl+a", *str(port), "Tab", "space")

    def log_in(self):
        """Listens on a free port and logs a phone in: the port and the control page's path."""
        port = free_port()
        self.listen(port)
        self.assertTrue(wait_for(lambda: can_connect(port)), "the remote listens")
        status, body, _ = http_get(port, "/l.cgi?id=wuzel")
        self.assertIn("200", status)
        return port, re.search(r'href="(/\d+/)"', body).group(1)

    def open_error(self, port, control):
        """Asks for the removed entry and waits for the box it brings up."""
        status, _, seconds = http_get(port, f"{control}p{GONE}")
        self.assertLess(seconds, ANSWER_LIMIT_S)
        box = wait_for(lambda: self.boxes(), timeout=5.0)
        self.assertTrue(box, "an Open Error box comes up")
        return status, box[0]

    def playlist_on_the_page(self, port, control):
        """The entries the control page lists: (number, text) in order."""
        page = http_get(port, control)[1]
        return re.findall(r'<a href="p(\d+)#\d+" name="\d+">([^<]*)</a>', page)

    def test_calls_are_answered_while_the_box_is_up(self):
        port, control = self.log_in()
        self.open_error(port, control)
        # Each way in, while the box waits for the user at the desktop; what each answers.
        calls = [
            ("media controls: next", lambda: self.playerctl("next"), ""),
            ("media controls: status", lambda: self.playerctl("status"), None),
            ("media controls: title", lambda: self.playerctl("metadata", "title"), None),
            ("phone: control page", lambda: http_get(port, control)[0], "HTTP/1.0 200 OK"),
            ("phone: play an entry", lambda: http_get(port, f"{control}p0")[0],
             "HTTP/1.0 200 OK"),
            ("phone: the removed entry again", lambda: http_get(port, f"{control}p{GONE}")[0],
             "HTTP/1.0 200 OK"),
            ("phone: stop", lambda: http_get(port, f"{control}3")[0], "HTTP/1.0 200 OK"),
        ]
        for name, call, expected in calls:
            with self.subTest(name):
                began = time.monotonic()
                said = call()
                self.assertLess(time.monotonic() - began, ANSWER_LIMIT_S)
                if expected is not None:
                    self.assertEqual(said, expected)
        self.assertEqual(len(self.boxes()), 1, "one box still")

    def test_a_flood_of_requests_for_the_removed_entry(self):
        port, control = self.log_in()
        self.open_error(port, control)
        before = resident_kib(self.kelpa.pid)
        slowest = 0.0
        # The server answers about ten requests a second; 150 stacked boxes would hold 5 MB.
        for _ in range(FLOOD_REQUESTS):
            status, _, seconds = http_get(port, f"{control}p{GONE}")
            self.assertEqual(status, "HTTP/1.0 200 OK")
            slowest = max(slowest, seconds)
        after = resident_kib(self.kelpa.pid)
        print(f"{FLOOD_REQUESTS} requests behind the box: slowest {slowest * 1000:.0f} ms, resident "
              f"{before} -> {after} KiB", file=sys.stderr)
        self.assertIsNone(self.kelpa.poll(), "the program runs on")
        self.assertEqual(len(self.boxes()), 1, "one box on screen")
        # Each stacked box took about 34 KB; a few hundred KiB of the allocator's own slack. The
        # address sanitizer holds freed memory back on purpose: there the figure says nothing.
        if os.environ.get("KELPA_SANITIZED") != "1":
            self.assertLess(after - before, 2048)
        self.assertEqual(self.playlist_on_the_page(port, control),
                         [(str(number), title) for number, title in enumerate(TITLES)])

        # The box is modal: the player window stays until it is answered, and then closes
        # at once, ending the program.
        close_window(self.player)
        self.assertTrue(never_within(lambda: self.kelpa.poll() is not None, 1.0),
                        "the window waits for the box to be answered")
        press_return(self.boxes()[0])
        self.assertTrue(wait_for(lambda: not self.boxes(), timeout=5.0))
        began = time.monotonic()
        close_window(self.player)
        self.assertEqual(self.kelpa.wait(10), 0)
        self.assertLess(time.monotonic() - began, ANSWER_LIMIT_S)

    def test_our_boxes_stand_above_the_panel_and_the_qr_window(self):
        self.click_panel(40, 10, clicks=2)  # the address box: the QR code
        qr = self.window_titled("QRコード")
        taken = socket.socket()
        taken.bind(("0.0.0.0", 0))
        taken.listen()
        self.addCleanup(taken.close)

        def listen_failure():
            self.listen(taken.getsockname()[1])
            box = wait_for(lambda: self.boxes(), timeout=5.0)
            self.assertTrue(box, "the failed listen is explained")
            return box[0]

        def open_error():
            return self.open_error(*self.log_in())[1]

        def second_start():
            second = self.start()
            box = wait_for(lambda: self.boxes(second), timeout=15.0)
            self.assertTrue(box, "a second start says that kelpa runs")
            return box[0]

        rows = [("failed listen", listen_failure), ("Open Error", open_error),
                ("second start", second_start)]
        for name, bring_up in rows:
            with self.subTest(name):
                box = bring_up()
                order = stacking_order()
                for below in (self.panel, qr, self.player):
                    self.assertLess(order.index(below), order.index(box), hex(below))
                self.screenshot(name)
                press_return(box)
                self.assertTrue(wait_for(lambda: box not in stacking_order(), timeout=5.0))

    def window_titled(self, title):
        found = wait_for(lambda: [w for w, t, _ in visible_windows(self.kelpa.pid) if t == title])
        self.assertTrue(found, f"the window {title} appears")
        return int(found[0])

    def screenshot(self, name):
        folder = os.environ.get("KELPA_SCREENSHOT_DIR")
        if folder:
            subprocess.run(["import", "-window", "root",
                            os.path.join(folder, name.replace(" ", "_") + ".png")], timeout=20)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    require_display()
    KELPA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
