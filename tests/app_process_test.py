#!/usr/bin/env python3
"""The kelpa program as a user starts it, on a real X display.

The first copy shows the player and the settings window; a second copy shows its message and
ends once the message is dismissed, leaving the first copy running; a copy without the engine
library beside it shows its message and never a player window; closing the player window ends
the program, settings window and all. A user without the privilege to listen on the panel's
default port 80 is told so, and listens on a port of their own after it.

Usage: app_process_test.py KELPA_BINARY   (needs DISPLAY; exits 77, skipped, without one)
"""
import os
import shutil
import sys
import tempfile
import unittest

from kelpatest import (PLAYER_SIZE, SETTINGS_SIZE, ProgramTestCase, can_connect, close_window,
                       free_port, message_boxes, never_within, press_return, require_display,
                       unprivileged_listen_refused, visible_windows, wait_for, xdotool)

KELPA = None


class AppProcessTest(ProgramTestCase):
    platform = "xcb"

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
        process = self.popen(command, stdout=log, stderr=log)
        process.log = log
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
        press_return(message)
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
        self.assertTrue(never_within(lambda: len(visible_windows(process.pid)) > 1, 0.5),
                        "no player window behind it")
        press_return(message)
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
        boxes = wait_for(lambda: message_boxes(process.pid))
        self.assertTrue(boxes, "a failed listen is explained; " + self.describe(process))
        self.assertFalse(can_connect(80))
        press_return(boxes[0])

        port = free_port()
        xdotool("windowfocus", "--sync", panel[0])
        xdotool("key", "shift+Tab", "End", *["BackSpace"] * 5, *str(port), "Tab", "space")
        self.assertTrue(wait_for(lambda: can_connect(port), timeout=5.0), self.describe(process))
        self.assertEqual(len(visible_windows(process.pid)), 2, "no second message")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    require_display()
    KELPA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
