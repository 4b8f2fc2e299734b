#!/usr/bin/env python3
"""kelpa started with files, as a file manager or a terminal starts it, and driven from the
desktop's media controls: the files of the first start play; a second start hands its files to
the running copy and ends at once; the running copy plays them only when nothing plays; the
media controls see the real player; without a session bus the player runs on; folders that
another user made first under the names kelpa would use are never used.

Each test has its own session bus (dbus-daemon) and runtime folder. The player runs on Qt's
offscreen platform and plays through the sound server of scripts/test.sh.

Usage: desktop_process_test.py KELPA_BINARY
"""
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

from kelpatest import ProgramTestCase, make_tracks, thread_waits, wait_for, wait_for_steady

KELPA = None
TITLE = "夜明けの歌"


def players(env):
    """The media players on the bus, as playerctl names them."""
    return subprocess.run(["playerctl", "--list-all"], env=env, capture_output=True, text=True,
                          timeout=10).stdout.split()


def url(path):
    return "file://" + urllib.parse.quote(os.fsencode(path), safe="/")


class DesktopProcessTest(ProgramTestCase):
    @classmethod
    def setUpClass(cls):
        cls.music = tempfile.mkdtemp(prefix="kelpa music ")
        cls.track, = make_tracks(cls.music, [("first track.mp3", TITLE)], artist="山田")
        # A thousand names with blanks, Japanese and newlines, all copies of the one track.
        cls.handed = []
        for i in range(1000):
            name = os.path.join(cls.music, f"{i:04d} 曲 ♪\nline two.mp3")
            shutil.copyfile(cls.track, name)
            cls.handed.append(name)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.music, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.use_session_bus()

    def start(self, *files, env=None, stderr=subprocess.DEVNULL):
        return self.popen([KELPA, *files], env=env, cwd=self.music, stderr=stderr)

    def now_playing(self):
        return self.playerctl("status"), self.playerctl("metadata", "xesam:url")

    def playing(self, path):
        """What the player plays once it plays the file, or after waiting for it in vain."""
        wait_for(lambda: self.now_playing() == ("Playing", url(path)))
        return self.now_playing()

    def test_files_of_the_first_start_and_of_later_starts(self):
        first = self.start("first track.mp3")  # relative to the folder it was started in
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        self.assertEqual(self.playerctl("metadata", "title"), TITLE)

        began = time.monotonic()
        second = self.start(*self.handed)
        self.assertEqual(second.wait(30), 0)
        print(f"hand-over of 1000 files: second start ended after "
              f"{time.monotonic() - began:.2f} s", file=sys.stderr)
        # The running copy reads the handed files on a thread of its own, and the list grows
        # meanwhile: its order is looked at once that thread waits for work again.
        self.assertTrue(wait_for_steady(lambda: thread_waits(first.pid, "kelpa playlist")))
        # The first track plays on; the handed files follow it in the list, in order.
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        self.playerctl("previous")  # from the first entry to the last
        self.assertEqual(self.playing(self.handed[-1]), ("Playing", url(self.handed[-1])))
        self.playerctl("previous")
        self.assertEqual(self.playing(self.handed[-2]), ("Playing", url(self.handed[-2])))
        self.playerctl("next")
        self.playerctl("next")  # from the last entry to the first
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        self.playerctl("next")
        self.assertEqual(self.playing(self.handed[0]), ("Playing", url(self.handed[0])))

        # With nothing playing, the first file handed over plays.
        self.playerctl("stop")
        self.assertEqual(self.start(self.handed[500], self.handed[7]).wait(30), 0)
        self.assertEqual(self.playing(self.handed[500]), ("Playing", url(self.handed[500])))
        self.assertIsNone(first.poll())

    def test_files_that_add_nothing_are_named_on_stderr(self):
        # Named by a first start and by a later one alike; the track and a list naming one go
        # without a word.
        listed, notes = os.path.join(self.music, "list.m3u"), os.path.join(self.music, "notes.txt")
        with open(listed, "w") as list_file, open(notes, "w") as notes_file:
            list_file.write(self.track + "\n")
            notes_file.write("no track here\n")
        nothing = [notes, os.path.join(self.music, "missing.mp3"), self.music,
                   os.path.join(self.music, "tone.wav")]
        said = [tempfile.TemporaryFile() for _ in range(2)]
        self.start(self.track, *nothing, listed, stderr=said[0])
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        self.assertEqual(self.start(listed, *nothing, stderr=said[1]).wait(30), 0)
        for log in said:
            log.seek(0)
            self.assertEqual([line for line in log.read().splitlines() if line.startswith(b"kelpa")],
                             [b"kelpa: passed over, neither a track nor a list of tracks: " +
                              os.fsencode(name) for name in nothing])
            log.close()

    def test_loop_play_and_seeking_from_the_desktop(self):
        self.start(self.track)
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        self.assertEqual(self.playerctl("loop"), "None")
        self.playerctl("loop", "Playlist")
        self.assertEqual(self.playerctl("loop"), "Playlist")
        self.playerctl("position", "20")
        self.assertTrue(wait_for(lambda: 20 <= float(self.playerctl("position") or 0) < 23),
                        self.playerctl("position"))
        self.playerctl("pause")
        self.assertEqual(wait_for(lambda: self.playerctl("status") == "Paused" and "Paused"),
                         "Paused")

    def test_quit_from_the_desktop_ends_the_player(self):
        player = self.start(self.track)
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        subprocess.run(["gdbus", "call", "--session", "--dest", "org.mpris.MediaPlayer2.kelpa",
                        "--object-path", "/org/mpris/MediaPlayer2",
                        "--method", "org.mpris.MediaPlayer2.Quit"], env=self.env,
                       capture_output=True, timeout=10)
        self.assertEqual(player.wait(10), 0)

    def test_without_a_session_bus_the_player_runs_on(self):
        env = dict(self.env, DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/kelpa-bus")
        player = self.start(self.track, env=env)
        # It listens for later starts, and goes on to the bus, once its window is up.
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(self.runtime, "kelpa.files"))
                                 or player.poll() is not None))
        self.assertIsNone(player.poll())
        # It still takes files from a later start, so it runs on past the bus.
        self.assertEqual(self.start(self.handed[0], env=env).wait(30), 0)
        self.assertIsNone(player.poll())

    def test_folders_another_user_made_first_are_not_used(self):
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to act as another user")
        # A temporary folder shared by all, as /tmp is, where the other user was first.
        shared = tempfile.mkdtemp(prefix="kelpa-tmp.")
        self.addCleanup(shutil.rmtree, shared, ignore_errors=True)
        os.chmod(shared, 0o1777)
        user = pwd.getpwuid(os.geteuid()).pw_name
        trap = subprocess.Popen(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 sys.executable, "-c", TRAP, shared, user, str(os.geteuid())],
                                stdout=subprocess.PIPE, text=True)
        self.processes.append(trap)
        self.assertEqual(trap.stdout.readline().strip(), "listening")
        env = dict(self.env, TMPDIR=shared)
        del env["XDG_RUNTIME_DIR"]

        said = [tempfile.TemporaryFile() for _ in range(2)]
        first = self.start(self.track, env=env, stderr=said[0])
        self.assertEqual(self.playing(self.track), ("Playing", url(self.track)))
        # No hand-over, and no lock: the second start runs a copy of its own, on the bus beside
        # the first.
        second = self.start(self.handed[0], env=env, stderr=said[1])
        self.assertTrue(wait_for(lambda: second.poll() is not None or f"kelpa.instance{second.pid}"
                                 in players(env), timeout=30.0), players(env))
        self.assertIsNone(second.poll(), "the second start runs on")
        self.assertIsNone(first.poll())
        trap.terminate()
        self.assertEqual(trap.communicate(timeout=10)[0].strip(), "0 connections, 0 bytes")
        for log in said:
            log.seek(0)
            self.assertIn(b"kelpa: no folder only this user can enter", log.read())
            log.close()


# Another user's program: makes the folders kelpa would fall back on, open to everyone, and
# listens there on the hand-over socket's name; says at the end what reached it.
TRAP = """
import os, selectors, signal, socket, sys
shared, user, uid = sys.argv[1:4]
listeners = []
for name in ("runtime-" + user, "kelpa-" + uid):
    folder = os.path.join(shared, name)
    os.mkdir(folder)
    os.chmod(folder, 0o777)
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(os.path.join(folder, "kelpa.files"))
    os.chmod(os.path.join(folder, "kelpa.files"), 0o777)
    listener.listen()
    listeners.append(listener)
selector = selectors.DefaultSelector()
for listener in listeners:
    selector.register(listener, selectors.EVENT_READ)
counts = [0, 0]
signal.signal(signal.SIGTERM, lambda *_: (print(f"{counts[0]} connections, {counts[1]} bytes"),
                                          sys.exit(0)))
print("listening", flush=True)
while True:
    for key, _ in selector.select():
        if key.fileobj in listeners:
            connection, _ = key.fileobj.accept()
            counts[0] += 1
            selector.register(connection, selectors.EVENT_READ)
        else:
            data = key.fileobj.recv(65536)
            counts[1] += len(data)
            if not data:
                selector.unregister(key.fileobj)
"""


if __name__ == "__main__":
    KELPA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
