#!/usr/bin/env python3
"""The web remote in a real browser: Debian's chromium, headless, driven by chromedriver.

kelpa (remotehost: the player with the real engine, three real MP3 files with titles, the remote
listening on a free port) is started here. The browser opens the login page, types the ID,
submits, follows "enter", presses play and then an entry, and sees the page title become
"kelpa - " and that track's title while the engine plays it. Each navigation is timed: the
remote must never stall behind a connection the browser opened and left unused. On an X display
the QR code that the settings panel shows is read off the screen with zbarimg, and the pairing
address it holds leads the browser into the phone pages. A page of another site that guesses login numbers
with <img> tags locks nobody out: the user logs in right after it.

Usage: browser_test.py REMOTEHOST ENGINE_DIR
Exits 77 (skipped) without chromium, chromedriver, selenium or a sound server, unless
KELPA_REQUIRE_SOUND is set, in which case a missing sound server fails.
"""
import http.server
import shutil
import socket
import tempfile
import threading
import time
import unittest

from kelpatest import Remotehost, chromium, main_for_browser, wait_for

try:
    from selenium.webdriver.common.by import By
except ImportError:
    pass  # main_for_browser says what is missing

# A navigation that stalls behind an idle connection waits for the request timeout, ten
# seconds. The browser is warmed up before the first timed navigation, so what is left of the
# limit is slack for a machine that is building beside the test.
NAVIGATION_LIMIT_S = 8.0


class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.kelpa = Remotehost.for_case(self, "kelpa-browser-")
        self.profile = tempfile.mkdtemp(prefix="kelpa-chromium-")
        self.browser = chromium(self.profile)
        self.browser.get("about:blank")  # the renderer's start is not the remote's time
        self.timings = []

    def tearDown(self):
        self.browser.quit()
        self.kelpa.stop()
        shutil.rmtree(self.profile, ignore_errors=True)
        shutil.rmtree(self.folder, ignore_errors=True)

    def navigate(self, what, action):
        start = time.monotonic()
        action()
        elapsed = time.monotonic() - start
        self.timings.append((what, elapsed))
        self.assertLess(elapsed, NAVIGATION_LIMIT_S, "%s stalled: %.1f s" % (what, elapsed))

    def test_login_play_and_choose_a_track(self):
        base = "http://127.0.0.1:%d/" % self.kelpa.port
        self.navigate("login page", lambda: self.browser.get(base))
        self.assertEqual(self.browser.title, "kelpa login")

        field = self.browser.find_element(By.NAME, "id")
        field.send_keys("wuzel")
        self.navigate("login", field.submit)
        self.assertEqual(self.browser.title, "welcome to kelpa")

        self.navigate("enter", lambda: self.browser.find_element(By.LINK_TEXT, "enter").click())
        self.assertEqual(self.browser.title, "kelpa")
        entries = [a.text for a in self.browser.find_elements(By.CSS_SELECTOR, "a[name]")]
        self.assertEqual(entries, ["Morning Tone", "夜明けのトーン", "Evening & <Tone>"])

        # Play with nothing opened yet: the engine has nothing to play, the page stays "kelpa".
        self.navigate("play", lambda: self.browser.find_element(By.LINK_TEXT, ">").click())
        self.assertEqual(self.browser.title, "kelpa")

        chosen = time.monotonic()
        self.navigate("entry", lambda: self.browser.find_element(By.LINK_TEXT, "夜明けのトーン").click())
        self.assertEqual(self.browser.title, "kelpa - 夜明けのトーン")
        self.assertTrue(self.browser.current_url.endswith("/p1#1"), self.browser.current_url)

        self.assertTrue(wait_for(lambda: self.kelpa.playing_since(chosen), timeout=10.0),
                        "the engine does not play: %r" % self.kelpa.states[-5:])

        # A title with markup shows as text, and the page reloads from the next link at once.
        self.navigate("escaped entry", lambda: self.browser.find_element(By.LINK_TEXT, "Evening & <Tone>").click())
        self.assertEqual(self.browser.title, "kelpa - Evening & <Tone>")
        self.navigate("stop", lambda: self.browser.find_element(By.LINK_TEXT, "□").click())
        self.assertEqual(self.browser.title, "kelpa")
        print("navigation times: " + ", ".join("%s %.2f s" % t for t in self.timings))

    def test_a_page_of_another_site_locks_nobody_out(self):
        # A page on another site (localhost, where the remote is reached as 127.0.0.1) that
        # guesses with <img> tags, as any page the user opens could.
        remote = "http://127.0.0.1:%d/" % self.kelpa.port
        images = "".join('<img src="%s%d/">' % (remote, 90000 + i) for i in range(14))
        page = ("<html><body>%s</body></html>" % images).encode()

        class Attacker(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *args):
                pass

        # A thread per connection: a spare one the browser leaves silent must not hold
        # the shutdown below.
        attacker = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Attacker)
        threading.Thread(target=attacker.serve_forever, daemon=True).start()
        try:
            self.browser.get("http://localhost:%d/" % attacker.server_address[1])
            self.assertTrue(wait_for(lambda: self.browser.execute_script(
                "return Array.from(document.images).every(i => i.complete)"), timeout=20.0))
            self.assertEqual(len(self.browser.find_elements(By.TAG_NAME, "img")), 14)
        finally:
            attacker.shutdown()
        # The user then logs in as ever.
        self.navigate("login page", lambda: self.browser.get(remote))
        field = self.browser.find_element(By.NAME, "id")
        field.send_keys("wuzel")
        self.navigate("login", field.submit)
        self.assertEqual(self.browser.title, "welcome to kelpa")
        self.navigate("enter", lambda: self.browser.find_element(By.LINK_TEXT, "enter").click())
        self.assertEqual(self.browser.title, "kelpa")

    def test_qr_code_opens_the_login_page(self):
        # The address is this machine's own; tests reach it only through the loopback network.
        url = "http://127.0.0.1:%d/m/pair/%s" % (self.kelpa.port, self.kelpa.scanned_code(self))
        self.navigate("player page from the QR code", lambda: self.browser.get(url))
        self.assertEqual(self.browser.title, socket.gethostname() + " - kelpa")
        self.assertTrue(self.browser.find_elements(By.CSS_SELECTOR, "[aria-label='再生位置']"))


if __name__ == "__main__":
    main_for_browser(BrowserTest)
