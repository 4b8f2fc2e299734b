#!/usr/bin/env python3
"""The phone pages in a phone's browser: Debian's chromium, headless, with mobile emulation
(390 x 844 CSS px, device pixel ratio 3), against kelpa with the real engine playing real files
into the null sink (remotehost, started as the browser test starts it).

It checks what a person with a phone meets: a page laid out 390 px wide whose controls are
at least 44 x 44 px and whose text is at least 16 px; the pairing address read with zbarimg off
a screenshot of the QR window logs a phone in without typing, and fails once used; two phones
stay logged in together; a tap at half the bar seeks to about half the track; a reload after a
command does not repeat it; the page works without JavaScript (its script taken off before each
tap: chromedriver cannot click in a page whose scripts are switched off) and, with it, sends
commands without a page load; a tap on volume down lowers the stream's volume in the sound server
(only where the engine library has a volume control; otherwise that step is skipped with its
reason printed); a guest's phone meets only what a guest may do, and the track's picture; the
manifest and its icons are what "Add to Home Screen" needs.

Usage: phone_browser_test.py REMOTEHOST ENGINE_DIR
Exits 77 (skipped) without chromium, chromedriver, selenium or a sound server, unless
KELPA_REQUIRE_SOUND is set, in which case a missing sound server fails.
"""
import json
import shutil
import socket
import sys
import tempfile
import time
import unittest

from kelpatest import (Remotehost, WebDriverException, chromium, chromium_options,
                       main_for_browser, wait_for)

try:
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
except ImportError:
    pass  # main_for_browser says what is missing

TRACK_SECONDS = 30  # remotehost's tracks
CONTROLS = ["前へ", "再生/一時停止", "停止", "次へ", "ループ再生"]
VOLUME_CONTROLS = ["音量を下げる", "音量を上げる", "消音"]


class PhoneBrowserTest(unittest.TestCase):
    def setUp(self):
        self.kelpa = Remotehost.for_case(self, "kelpa-phone-")
        self.base = "http://127.0.0.1:%d/m/" % self.kelpa.port
        self.browsers = []

    def tearDown(self):
        for browser in self.browsers:
            browser.quit()
        self.kelpa.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def phone(self, javascript=True):
        """A phone of its own: a browser with its own profile, so its own cookies."""
        options = chromium_options(tempfile.mkdtemp(prefix="profile-", dir=self.folder))
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3.0, "touch": True},
            "userAgent": "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 "
                         "(KHTML, like Gecko) Chrome/120.0 Mobile Safari/537.36"})
        browser = chromium(None, options)
        # chromedriver waits for ever on a click that loads a page with scripts switched off
        # (by the browser's settings or by DevTools alike). So a phone "without JavaScript"
        # has the page's script taken off before each tap (tap()): its buttons then do what
        # they do without it, as plain form buttons that load the next page.
        browser.kelpa_scripts = javascript
        self.browsers.append(browser)
        return browser

    def login(self, browser):
        browser.get(self.base)
        self.wait_for("the login page", lambda: browser.find_elements(By.NAME, "id"))
        field = browser.find_element(By.NAME, "id")
        field.send_keys("wuzel")
        self.tap(browser, "button[type=submit]")
        self.wait_for("the ID logs in", lambda: self.is_player_page(browser))

    @staticmethod
    def unscripted(browser):
        """Takes the page's script off, for a phone without JavaScript."""
        browser.execute_script(
            "var m=document.querySelector('main');if(m)m.replaceWith(m.cloneNode(true));"
            "var last=setInterval(function(){},1000);for(var i=0;i<=last;i++)clearInterval(i)")

    def tap(self, browser, css, index=0):
        """Taps the index-th element that matches css."""
        if not browser.kelpa_scripts:
            self.unscripted(browser)
        browser.find_elements(By.CSS_SELECTOR, css)[index].click()

    @staticmethod
    def entries(browser):
        return [e.text for e in browser.find_elements(By.CSS_SELECTOR, "li .t")]

    @staticmethod
    def is_player_page(browser):
        return bool(browser.find_elements(By.CSS_SELECTOR, "[aria-label='再生位置']"))

    @staticmethod
    def control(browser, label):
        return browser.find_element(By.CSS_SELECTOR, "[aria-label='%s']" % label)

    def wait_for(self, what, condition, seconds=8.0):
        """A click returns before the page it leads to has loaded: what it does is waited for."""
        def holds():
            try:
                return condition()
            except WebDriverException:
                return False  # the page is being replaced
        if not wait_for(holds, timeout=seconds, step=0.2):
            self.fail("not within %.0f s: %s" % (seconds, what))

    def wait_text(self, browser, element, text):
        self.wait_for("%s shows %r" % (element, text),
                      lambda: browser.find_element(By.ID, element).text == text)

    def test_layout_fits_a_phone(self):
        browser = self.phone()
        self.login(browser)
        self.assertEqual(browser.execute_script("return document.documentElement.clientWidth"), 390)
        self.assertEqual(browser.execute_script("return document.documentElement.scrollWidth"), 390,
                         "nothing wider than the screen")
        labels = CONTROLS + (VOLUME_CONTROLS if self.volume_shown(browser) else [])
        boxes = [(label, self.control(browser, label).rect) for label in labels]
        boxes += [("entry " + e.text, e.rect) for e in browser.find_elements(By.CSS_SELECTOR, "li button")]
        boxes += [("search", browser.find_element(By.ID, "q").rect)]
        bar = self.control(browser, "再生位置").rect
        boxes.append(("再生位置", bar))
        for label, box in boxes:
            self.assertGreaterEqual(box["width"], 44, label)
            self.assertGreaterEqual(box["height"], 44, label)
        # The bar's tenths, buttons without JavaScript, span it and are as tall.
        tenths = browser.find_elements(By.CSS_SELECTOR, "#bar button")
        self.assertEqual(len(tenths), 10)
        self.assertAlmostEqual(sum(t.rect["width"] for t in tenths), bar["width"], delta=5)
        self.assertTrue(all(t.rect["height"] >= 44 for t in tenths))
        small = browser.execute_script(
            "var small=[];document.querySelectorAll('body *').forEach(function(e){"
            "if(e.closest('#bar')||e.tagName==='SCRIPT'||e.tagName==='STYLE')return;"
            "var own=Array.prototype.some.call(e.childNodes,function(n){"
            "return n.nodeType===3&&n.textContent.trim()!==''});"
            "if(own&&parseFloat(getComputedStyle(e).fontSize)<16)small.push(e.tagName+':'+e.textContent)});"
            "return small")
        self.assertEqual(small, [], "text under 16 px")
        self.assertEqual(self.entries(browser), ["Morning Tone", "夜明けのトーン", "Evening & <Tone>"])

    def volume_shown(self, browser):
        return bool(browser.find_elements(By.CSS_SELECTOR, "[aria-label='音量を下げる']"))

    def test_pairing_by_the_qr_code(self):
        code = self.kelpa.scanned_code(self)
        # The address is this machine's own; tests reach it only through the loopback network.
        url = "http://127.0.0.1:%d/m/pair/%s" % (self.kelpa.port, code)
        first = self.phone()
        first.get(url)
        self.wait_for("scanning logs in, with nothing typed", lambda: self.is_player_page(first))
        self.assertEqual(first.current_url, self.base)
        self.assertNotIn(code, first.page_source)
        second = self.phone()
        second.get(url)
        self.wait_for("the code is used up", lambda: "ログインできませんでした" in second.page_source)
        self.assertFalse(self.is_player_page(second))
        first.refresh()
        self.assertTrue(self.is_player_page(first))

    def test_guest_by_its_qr_code_and_home_screen(self):
        guest = self.phone()
        guest.get(self.base + "pair/" + self.kelpa.scanned_code(self, ".guest.png"))
        self.wait_for("the guest's code logs in", lambda: self.is_player_page(guest))
        labels = [b.get_attribute("aria-label")
                  for b in guest.find_elements(By.CSS_SELECTOR, "button[aria-label]")]
        self.assertEqual(labels, ["前へ", "再生/一時停止", "次へ"])
        self.assertEqual(guest.find_elements(By.CSS_SELECTOR, "#bar button"), [], "no seeking")
        guest.find_elements(By.CSS_SELECTOR, "li button")[0].click()
        art = guest.find_element(By.ID, "art")
        self.wait_for("the track's picture", lambda: guest.execute_script(
            "return arguments[0].complete && arguments[0].naturalWidth", art) == 64)
        self.assertEqual((art.rect["width"], art.rect["height"]), (160, 160))
        self.wait_for("the engine plays", lambda: self.kelpa.position()[1])
        self.control(guest, "次へ").click()
        self.wait_for("no picture for a track without one", lambda: not art.is_displayed())
        # As the browser itself loads it for "Add to Home Screen", under the page's policy.
        app = guest.execute_cdp_cmd("Page.getAppManifest", {})
        self.assertEqual(app["errors"], [])
        manifest = json.loads(app["data"])
        self.assertEqual((manifest["start_url"], manifest["display"]), ("/m/", "standalone"))
        self.assertEqual([i["sizes"] for i in manifest["icons"]], ["192x192", "512x512"])

    def test_two_phones_stay_logged_in(self):
        first, second = self.phone(), self.phone(javascript=False)
        self.login(first)
        self.login(second)
        for browser in (first, second):
            browser.refresh()
            self.assertTrue(self.is_player_page(browser))
        self.tap(second, "li button", 1)  # without JavaScript
        self.wait_text(second, "title", "夜明けのトーン")
        first.refresh()
        self.assertTrue(self.is_player_page(first))
        self.wait_text(first, "title", "夜明けのトーン")

    def test_without_javascript(self):
        browser = self.phone(javascript=False)
        self.login(browser)
        self.assertEqual(browser.find_element(By.ID, "state").text, "停止")
        started = time.monotonic()
        self.tap(browser, "[aria-label='再生/一時停止']")
        self.wait_text(browser, "state", "再生中")
        self.wait_text(browser, "title", "Morning Tone")
        self.wait_for("the engine plays", lambda: self.kelpa.playing_since(started))
        self.tap(browser, "[aria-label='次へ']")
        self.wait_text(browser, "title", "夜明けのトーン")
        # The reload loads the page the command was answered with; it skips no track.
        for _ in range(3):
            browser.refresh()
        self.assertEqual(browser.find_element(By.ID, "title").text, "夜明けのトーン")
        current = browser.find_element(By.CSS_SELECTOR, "li button[aria-current] .t")
        self.assertEqual(current.text, "夜明けのトーン")
        # The tenth at half the bar seeks there.
        self.tap(browser, "#bar button", 5)
        self.wait_for("the engine at half the track",
                      lambda: abs((self.kelpa.position()[0] or 0) - TRACK_SECONDS / 2) <= 3)
        self.tap(browser, "[aria-label='停止']")
        self.wait_text(browser, "state", "停止")

    def test_with_javascript(self):
        browser = self.phone()
        self.login(browser)
        browser.find_elements(By.CSS_SELECTOR, "li button")[2].click()
        self.wait_for("the live page shows the track",
                      lambda: browser.find_element(By.ID, "title").text == "Evening & <Tone>")
        browser.execute_script("window.kelpaMark = 1")
        self.control(browser, "次へ").click()
        self.wait_for("the next track shows",
                      lambda: browser.find_element(By.ID, "title").text == "Morning Tone")
        self.assertEqual(browser.execute_script("return window.kelpaMark"), 1, "no page load")
        self.assertEqual(browser.find_element(By.CSS_SELECTOR, "li button[aria-current] .t").text,
                         "Morning Tone")
        self.wait_for("the engine plays", lambda: self.kelpa.position()[1])
        # A tap at 50 % of the bar.
        bar = self.control(browser, "再生位置")
        ActionChains(browser).move_to_element_with_offset(bar, 0, 0).click().perform()
        self.wait_for("the engine at half the track",
                      lambda: abs((self.kelpa.position()[0] or 0) - TRACK_SECONDS / 2) <= 3)
        self.wait_for("the page shows the time",
                      lambda: browser.find_element(By.ID, "pos").text in
                      ["0:%02d" % s for s in range(13, 19)])
        self.control(browser, "ループ再生").click()
        self.wait_for("loop on", lambda: self.control(browser, "ループ再生")
                      .get_attribute("aria-pressed") == "true")
        self.control(browser, "再生/一時停止").click()
        self.wait_for("paused", lambda: browser.find_element(By.ID, "state").text == "一時停止")
        self.assertEqual(browser.execute_script("return window.kelpaMark"), 1, "no page load")

    def test_the_list_changing_at_the_desktop_search_and_notes(self):
        live, plain = self.phone(), self.phone(javascript=False)
        self.login(live)
        self.login(plain)
        self.unscripted(plain)
        self.assertEqual(live.title, socket.gethostname() + " - kelpa")
        # "Morning Tone" deleted at the desktop: the live page follows; the other one, built
        # before, plays nothing for it and says why beside the list as it is now.
        self.kelpa.desktop("delete 0")
        self.wait_for("the live list follows", lambda: self.entries(live)[:1] == ["夜明けのトーン"], 2.5)
        self.tap(plain, "li button", 0)
        self.wait_for("told why nothing plays", lambda: "リストが変わったため" in plain.find_element(By.ID, "note").text)
        self.assertEqual(self.entries(plain), ["夜明けのトーン", "Evening & <Tone>"])
        self.assertEqual(plain.find_element(By.ID, "state").text, "停止")
        # A file gone from the disk: the phone that asked for it is told, once; the other is not.
        self.kelpa.desktop("gone 1")
        self.tap(plain, "li button", 1)
        self.wait_for("the failed open told", lambda: plain.find_element(By.ID, "note").text == "開けませんでした: track2.mp3")
        live.refresh()
        plain.refresh()
        self.assertEqual([b.find_element(By.ID, "note").text for b in (live, plain)], ["", ""])
        # Search as typed, in hiragana for the katakana title.
        live.find_element(By.ID, "q").send_keys("とーん")
        self.wait_for("the list filtered", lambda: self.entries(live) == ["夜明けのトーン"])
        live.find_element(By.CSS_SELECTOR, "li button").click()
        self.wait_text(live, "title", "夜明けのトーン")
        # 3,000 entries added at the desktop (2,000 of them: a file is gone) come to the live
        # page without a reload; a page change lands at the list, and "今の曲へ" goes back to
        # the playing entry.
        self.tap(live, "#to-now")
        self.wait_for("the whole list", lambda: len(self.entries(live)) == 2)
        self.kelpa.desktop("add 3000")
        self.wait_for("the entries arrive", lambda: live.find_element(By.ID, "pages").text == "1 / 21", 20)
        self.tap(live, "a[href*='page=1']")
        self.wait_for("the second page", lambda: live.find_element(By.ID, "pages").text == "2 / 21")
        self.assertLess(abs(live.execute_script("return document.getElementById('list').getBoundingClientRect().top")), 2)
        self.tap(live, "#to-now")
        self.wait_for("back at the playing entry", lambda: live.find_element(By.ID, "pages").text == "1 / 21")
        self.assertEqual(live.find_element(By.CSS_SELECTOR, "#now .t").text, "夜明けのトーン")
        if self.volume_shown(live):  # the mute switch shows its state and gives the level back
            for pressed, level in (("true", "0%"), ("false", live.find_element(By.ID, "vol").text)):
                self.control(live, "消音").click()
                self.wait_for("mute " + pressed, lambda: self.control(live, "消音").get_attribute("aria-pressed") == pressed)
                self.wait_text(live, "vol", level)
                live.refresh()  # and the page as the server builds it
                self.assertEqual(self.control(live, "消音").get_attribute("aria-pressed"), pressed)

    def test_volume_down_reaches_the_sound_server(self):
        browser = self.phone()
        self.login(browser)
        if not self.volume_shown(browser):
            print("\nskipped step: the engine library has no volume control (no vbmp3_setVolume);"
                  " the page hides the volume buttons", file=sys.stderr)
            return
        browser.find_elements(By.CSS_SELECTOR, "li button")[0].click()
        self.wait_for("a stream", lambda: self.kelpa.stream_volume() is not None)
        self.wait_for("the page shows it playing",
                      lambda: browser.find_element(By.ID, "state").text == "再生中")
        before = self.kelpa.stream_volume()
        self.control(browser, "音量を下げる").click()
        self.wait_for("a lower volume", lambda: (self.kelpa.stream_volume() or before) < before)
        self.wait_for("the page shows it",
                      lambda: browser.find_element(By.ID, "vol").text != "100%")


if __name__ == "__main__":
    main_for_browser(PhoneBrowserTest)
