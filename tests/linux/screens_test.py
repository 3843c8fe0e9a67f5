"""build/bin/Brimgauge on a real X server: the main RandR monitor's width,
checked against what xrandr reports."""

import os
import re
import subprocess
import tempfile
import unittest

import wayland_fake
import xserver

WAIT = 30
NO_SCREEN = b'{"notched":false}\n'


def report(width):
    return b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":%d}\n' % width


def brimgauge(env):
    proc = subprocess.run([xserver.native_program("Brimgauge")], capture_output=True, env=env, timeout=WAIT)
    return proc.returncode, proc.stdout, proc.stderr


class MonitorsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = xserver.XServer()
        cls.addClassCleanup(cls.server.stop)

    def xrandr(self, *args):
        return subprocess.run(["xrandr", *args], capture_output=True, text=True, check=True, env=self.server.env(),
                              timeout=WAIT).stdout

    def monitors(self):
        """(name, width, primary) of each monitor, in the order xrandr lists them."""
        found = []
        for line in self.xrandr("--listmonitors").splitlines()[1:]:
            match = re.match(r"\s*\d+: ([+*]*)(\S+) (\d+)/", line)
            found.append((match[2], int(match[3]), "*" in match[1]))
        return found

    def set_monitors(self, definitions):
        # The monitors of the previous case go first; the server's automatic
        # one cannot be removed, and comes back when no monitor covers its output.
        for name, _, _ in self.monitors():
            if name != "screen":
                self.xrandr("--delmonitor", name)
        for definition in definitions:
            self.xrandr("--setmonitor", *definition.split())

    def test_main_screen_width(self):
        cases = [
            ("the server's own monitor, not primary", [], "screen", 3432),
            ("primary built-in beside an external", ["External 1920/527x1080/296+1512+0 none",
                                                     "*Built-in 1512/302x982/196+0+0 screen"], "Built-in", 1512),
            ("primary added first", ["*Built-in 1512/302x982/196+0+0 screen",
                                     "External 1920/527x1080/296+1512+0 none"], "Built-in", 1512),
            ("none primary", ["Left 2560/597x1440/336+0+0 none", "Right 1280/300x1024/240+2560+0 screen"],
             "Left", 2560),
            ("none primary, the other way", ["Right 1280/300x1024/240+2560+0 screen",
                                             "Left 2560/597x1440/336+0+0 none"], "Right", 1280),
        ]
        for label, definitions, main, width in cases:
            with self.subTest(label):
                self.set_monitors(definitions)
                # xrandr's own view: the main monitor is the primary one, or
                # else the first in the server's order.
                monitors = self.monitors()
                self.assertEqual(len(monitors), max(len(definitions), 1))
                primary = [m for m in monitors if m[2]]
                self.assertEqual((primary or monitors)[0][:2], (main, width))
                self.assertEqual(brimgauge(self.server.env()), (0, report(width), b""))

    def test_wayland_first(self):
        # A compositor that answers is asked instead of the X display, even
        # when it has no window list; one that does not, is not.
        self.set_monitors([])
        with wayland_fake.Compositor(output=((1920, 1080), 1, 0)) as compositor:
            for wayland, width in [(compositor.path, 1920), ("/nonexistent/wayland-0", 3432)]:
                with self.subTest(wayland):
                    env = {**self.server.env(), "WAYLAND_DISPLAY": wayland}
                    self.assertEqual(brimgauge(env), (0, report(width), b""))

    def test_x_is_loaded_where_there_is_a_display(self):
        proc = subprocess.run([xserver.native_program("Brimgauge")], capture_output=True,
                              env={**self.server.env(), "LD_DEBUG": "files"}, timeout=WAIT)
        self.assertIn(b"file=libxcb-randr.so.0", proc.stderr)


class ServerWithoutRandRTest(unittest.TestCase):
    def test_no_screen(self):
        server = xserver.XServer("-extension", "RANDR")
        self.addCleanup(server.stop)
        self.assertEqual(brimgauge(server.env()), (0, NO_SCREEN, b""))


class SilentServerTest(unittest.TestCase):
    """A server that is alive but does not answer counts as no display."""

    def test_no_screen(self):
        server = xserver.XServer()
        self.addCleanup(server.stop)
        relay = xserver.Relay(server)
        self.addCleanup(relay.stop)
        relay.hold_answers()
        with self.subTest("no answer after the connection"):
            self.assertEqual(brimgauge(relay.env()), (0, NO_SCREEN, b""))
        server.pause()
        with self.subTest("no answer to the connection"):
            self.assertEqual(brimgauge(server.env()), (0, NO_SCREEN, b""))


class SetUpBoundsTest(unittest.TestCase):
    """Every wait of the connection's set-up has its bound of about a second."""

    BOUND = 5  # seconds, for a set-up bound of 1 s on a busy machine; unbounded waits were 10 s and more

    def test_server_that_answers_one_byte(self):
        server = xserver.OneByteServer()
        self.addCleanup(server.stop)
        self.assertEqual(brimgauge(server.env()), (0, NO_SCREEN, b""))

    def test_name_that_the_resolver_never_answers(self):
        status, out, err, seconds = xserver.run_with_silent_resolver(
            self, xserver.native_program("Brimgauge"), xserver.environment(xserver.UNANSWERED_NAME))
        self.assertEqual((status, out, err), (0, NO_SCREEN, b""))
        self.assertLess(seconds, self.BOUND)


class AuthorizationTest(unittest.TestCase):
    def test_refused_and_admitted(self):
        with tempfile.TemporaryDirectory() as folder:
            cookie = bytes(range(16))
            xserver.write_authority(os.path.join(folder, "server"), ":0", cookie)
            server = xserver.XServer("-auth", os.path.join(folder, "server"))
            self.addCleanup(server.stop)
            xserver.write_authority(os.path.join(folder, "right"), server.display, cookie)
            xserver.write_authority(os.path.join(folder, "wrong"), server.display, bytes(16))
            for label, authority, expected in [("no authority file", "/nonexistent", NO_SCREEN),
                                               ("another cookie", "wrong", NO_SCREEN),
                                               ("the server's cookie", "right", report(3432))]:
                with self.subTest(label):
                    env = {**server.env(), "XAUTHORITY": os.path.join(folder, authority)}
                    # A refusal is no display, and its reason is not written out.
                    self.assertEqual(brimgauge(env), (0, expected, b""))


class NoDisplayTest(unittest.TestCase):
    def test_no_screen(self):
        for label, display in [("unset", None), ("empty", ""), ("nobody there", "unix:65000"),
                               ("malformed", "no display here")]:
            with self.subTest(label):
                self.assertEqual(brimgauge(xserver.environment(display)), (0, NO_SCREEN, b""))

    def test_nothing_loaded_without_display(self):
        for display in (None, ""):
            with self.subTest(display=display):
                env = {**xserver.environment(display), "LD_DEBUG": "files"}
                proc = subprocess.run([xserver.native_program("Brimgauge")], capture_output=True, env=env,
                                      timeout=WAIT)
                self.assertEqual((proc.returncode, proc.stdout), (0, NO_SCREEN))
                self.assertNotIn(b"libxcb", proc.stderr)


if __name__ == "__main__":
    unittest.main()
