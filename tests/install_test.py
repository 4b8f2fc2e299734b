#!/usr/bin/env python3
"""kelpa installed as a user installs it, started as the desktop starts it.

prefix:  `cmake --install` into a temporary folder: the checkers pass, the icons have their
         sizes, the program (by its link, its own path, or moved) shows both windows.
package: `cpack -G DEB` passes lintian, installs with apt, `kelpa` shows both windows, an
         ordinary user's kelpa listens on port 80 (with the privilege the package grants, and
         the loader's secure mode that comes with it), and removal leaves nothing behind. Runs
         only as root with CI=true or KELPA_INSTALL_TEST=1.

Usage: install_test.py prefix|package BUILD_DIR   (exits 77, skipped, without DISPLAY)
"""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from kelpatest import (PLAYER_SIZE, SETTINGS_SIZE, can_connect, close_window,
                       require_display, skip, unprivileged_listen_refused, visible_windows,
                       wait_for, xdotool)

BUILD = None
PROGRAM = "/usr/libexec/kelpa/kelpa"
NOBODY = 65534
AT_SECURE = 23  # the auxiliary vector's entry for the loader's secure mode


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **kwargs)


def png_size(path):
    with open(path, "rb") as png:
        head = png.read(24)
    return struct.unpack(">II", head[16:24]) if head[:8] == b"\x89PNG\r\n\x1a\n" else None


class InstalledProgram(unittest.TestCase):
    def run_and_close(self, command):
        """Starts kelpa, waits for its two windows and closes the player as a user does."""
        runtime = tempfile.mkdtemp(prefix="kelpa-runtime.")  # its own single-copy lock
        self.addCleanup(shutil.rmtree, runtime, ignore_errors=True)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")
        process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        both = sorted([PLAYER_SIZE, SETTINGS_SIZE])

        def both_windows():
            found = visible_windows(process.pid)
            return found if sorted(size for _, _, size in found) == both else None

        windows = wait_for(both_windows, timeout=30.0)
        if not windows:
            process.kill()
            said = process.communicate()[0].decode("utf-8", "replace")
            self.fail(f"{command}: player and settings window expected, got "
                      f"{visible_windows(process.pid)}; output: {said[-2000:]}")
        self.assertEqual({title for _, title, _ in windows}, {"kelpa"})
        close_window(next(w for w, _, size in windows if size == PLAYER_SIZE))
        self.assertEqual(process.wait(10), 0, "closing the player window ends the program")


class PrefixInstallTest(InstalledProgram):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="kelpa-prefix.")
        result = run("cmake", "--install", BUILD, "--prefix", cls.prefix)
        if result.returncode != 0:
            raise RuntimeError(result.stdout + result.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.prefix, relative)

    def test_desktop_files_pass_their_checkers(self):
        man_env = dict(os.environ, MANWIDTH="80", MANROFFSEQ="", LC_ALL="C.UTF-8")
        for command, env in (
                (["desktop-file-validate", self.path("share/applications/kelpa.desktop")], None),
                (["appstreamcli", "validate", "--no-net",
                  *glob.glob(self.path("share/metainfo/*.metainfo.xml"))], None),
                (["man", "--warnings", "-E", "UTF-8", "-l",
                  self.path("share/man/man1/kelpa.1.gz")], man_env)):
            with self.subTest(command[0]):
                result = run(*command, env=env)
                self.assertEqual((result.returncode, result.stderr), (0, ""), result.stdout)

    def test_icons_have_their_theme_sizes(self):
        for size in (16, 32, 48, 256):
            with self.subTest(size=size):
                icon = self.path(f"share/icons/hicolor/{size}x{size}/apps/kelpa.png")
                self.assertEqual(png_size(icon), (size, size))

    def test_installed_program_finds_its_engine(self):
        moved = tempfile.mkdtemp(prefix="kelpa-moved.")
        self.addCleanup(shutil.rmtree, moved, ignore_errors=True)
        shutil.copytree(self.prefix, os.path.join(moved, "usr"), symlinks=True)
        for command in (self.path("bin/kelpa"), self.path("libexec/kelpa/kelpa"),
                        os.path.join(moved, "usr/bin/kelpa")):
            with self.subTest(command):
                self.run_and_close([command])


def package_refused():
    """Why the package test cannot run here; None when it can."""
    if os.geteuid() != 0:
        return "installs a package system-wide: needs root"
    if os.environ.get("CI") != "true" and os.environ.get("KELPA_INSTALL_TEST") != "1":
        return "installs a package system-wide: set CI=true or KELPA_INSTALL_TEST=1"
    if run("dpkg-query", "-W", "-f=${Status}", "kelpa").stdout.startswith("install"):
        return "a kelpa package is installed on this system already"
    return None


class PackageTest(InstalledProgram):
    def test_install_start_and_remove(self):
        folder = tempfile.mkdtemp(prefix="kelpa-deb.")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        made = run("cpack", "-G", "DEB", "-B", folder, "--config",
                   os.path.join(BUILD, "CPackConfig.cmake"))
        debs = glob.glob(os.path.join(folder, "kelpa_*.deb"))
        self.assertEqual(len(debs), 1, made.stdout + made.stderr)
        checked = run("lintian", "--fail-on", "error,warning", debs[0])
        self.assertEqual(checked.returncode, 0, checked.stdout)

        apt = ["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "-y", "-q"]
        installed = run(*apt, "install", "--no-install-recommends", debs[0])
        self.addCleanup(run, *apt, "purge", "kelpa")
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        files = [f for f in run("dpkg", "-L", "kelpa").stdout.splitlines() if not os.path.isdir(f)]
        self.assertIn("/usr/bin/kelpa", files)
        self.assertEqual(shutil.which("kelpa"), "/usr/bin/kelpa")

        self.run_and_close(["kelpa"])
        self.assertIn("cap_net_bind_service", run("getcap", PROGRAM).stdout)
        self.listen_on_port_80_as_an_ordinary_user()

        removed = run(*apt, "purge", "kelpa")
        self.assertEqual(removed.returncode, 0, removed.stdout + removed.stderr)
        self.assertEqual(run("dpkg-query", "-W", "-f=${Status}", "kelpa").stdout.strip()[:9],
                         "", "the package is gone")
        self.assertEqual([f for f in files if os.path.lexists(f)], [])
        # The checkout and the build may lie anywhere, under /usr or /opt too.
        ours = [a for path in (BUILD, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
                for a in ("-path", path, "-prune", "-o")]
        left = run("find", "/usr", "/etc", "/opt", "/var/lib/dpkg/info", *ours,
                   "-name", "*kelpa*", "-print")
        self.assertEqual(left.stdout, "")
        # The desktop's menu and file associations forget it too.
        self.assertEqual(run("grep", "-rl", "kelpa", "/usr/share/applications").stdout, "")


    def listen_on_port_80_as_an_ordinary_user(self):
        reason = unprivileged_listen_refused()
        if reason:
            print(f"port 80 as an ordinary user not tried: {reason}", file=sys.stderr)
            return
        runtime = tempfile.mkdtemp(prefix="kelpa-runtime.")
        self.addCleanup(shutil.rmtree, runtime, ignore_errors=True)
        os.chown(runtime, NOBODY, NOBODY)
        # A library the program does not use, named to the loader as a user may: the loader's
        # secure mode, which the privilege brings, must pass it over.
        folder = tempfile.mkdtemp(prefix="kelpa-preload.")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        os.chmod(folder, 0o755)
        marker = os.path.join(folder, "libkelpamarker.so")
        with open(marker + ".cpp", "w") as source:
            source.write("int kelpa_marker;\n")
        made = run("c++", "-shared", "-fPIC", "-o", marker, marker + ".cpp")
        self.assertEqual(made.returncode, 0, made.stderr)
        # Qt is not the loader: it would take a platform plugin from a folder a user names.
        system_plugin = glob.glob("/usr/lib/*/qt6/plugins/platforms/libqxcb.so")[0]
        os.makedirs(os.path.join(folder, "platforms"), mode=0o755)
        own_plugin = shutil.copy(system_plugin, os.path.join(folder, "platforms"))
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, HOME=runtime, QT_QPA_PLATFORM="xcb",
                   LD_PRELOAD=marker, LD_LIBRARY_PATH=folder, QT_PLUGIN_PATH=folder)
        as_nobody = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
        self.assertIn(marker, run(*as_nobody, "cat", "/proc/self/maps", env=env).stdout,
                      "a program without the privilege loads the library")

        log = tempfile.TemporaryFile()
        self.addCleanup(log.close)
        process = subprocess.Popen([*as_nobody, "kelpa"], env=env, stdout=log, stderr=log)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))

        def said():
            log.seek(0)
            return log.read().decode("utf-8", "replace")[-2000:]

        panel = wait_for(lambda: [w for w, _, size in visible_windows(process.pid)
                                  if size == SETTINGS_SIZE], timeout=30.0)
        self.assertTrue(panel, "the settings window appears; " + said())
        self.assertEqual(len(visible_windows(process.pid)), 2, "the player found its engine")
        with open(f"/proc/{process.pid}/auxv", "rb") as auxv:
            vector = dict(struct.iter_unpack("=QQ", auxv.read()))
        self.assertEqual(vector.get(AT_SECURE), 1, "the privilege puts the loader in secure mode")
        with open(f"/proc/{process.pid}/maps") as maps:
            loaded = maps.read()
        self.assertFalse(marker in loaded, "LD_PRELOAD is ignored")
        self.assertFalse(own_plugin in loaded, "QT_PLUGIN_PATH is ignored")
        self.assertTrue(system_plugin in loaded, "the system's platform plugin is loaded")
        # The port box has the focus and holds 80; Tab reaches the listen toggle.
        xdotool("windowfocus", "--sync", panel[0])
        xdotool("key", "Tab", "space")
        self.assertTrue(wait_for(lambda: can_connect(80), timeout=10.0), said())
        self.assertEqual(len(visible_windows(process.pid)), 2, "no failure box")
        process.kill()
        process.wait()


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("prefix", "package"):
        sys.exit(__doc__)
    mode, BUILD = sys.argv[1], os.path.abspath(sys.argv.pop(2))
    sys.argv.pop(1)
    require_display()
    if mode == "package" and package_refused():
        skip(package_refused())
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(
        PrefixInstallTest if mode == "prefix" else PackageTest)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
