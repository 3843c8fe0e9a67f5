"""build/bin/Quelmark on a real X server: the records it writes as a window
manager changes the root window's _NET_ACTIVE_WINDOW."""

import json
import math
import os
import queue
import re
import select
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

from Xlib import Xatom
from Xlib import display as xdisplay

import wayland_fake
import xserver

WAIT = xserver.WAIT
KEYS = {"v", "at", "bundleId", "name", "pid"}


class Watcher:
    """Quelmark with its standard input held open as the host's lifeline;
    its records are read as they arrive."""

    def __init__(self, env, extra_env=None):
        self.proc = subprocess.Popen([xserver.native_program("Quelmark")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env={**env, **(extra_env or {})})
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def record(self):
        """The next record, checked for its shape; fails after WAIT seconds."""
        try:
            line = self.lines.get(timeout=WAIT)
        except queue.Empty:
            raise AssertionError("no record arrived") from None
        assert line is not None, "the watcher ended its output"
        assert line.endswith(b"\n") and line.count(b"\n") == 1, line
        record = json.loads(line)
        assert set(record) == KEYS and record["v"] == 1, record
        return record

    def finish(self):
        """Ends the lifeline; the exit status, any further lines and standard error."""
        self.proc.stdin.close()
        status = self.proc.wait(timeout=WAIT)
        self.reader.join(timeout=WAIT)
        rest = []
        while (line := self.lines.get(timeout=WAIT)) is not None:
            rest.append(line)
        return status, rest, self.proc.stderr.read()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


def fields(record):
    return record["bundleId"], record["name"], record["pid"]


class XServerTestCase(unittest.TestCase):
    server_args = ()
    records_traffic = True  # whether the desktop can settle()

    @classmethod
    def setUpClass(cls):
        cls.server = xserver.XServer(*cls.server_args)
        cls.addClassCleanup(cls.server.stop)
        cls.desktop = xserver.Desktop(cls.server.display, record=cls.records_traffic)
        cls.addClassCleanup(cls.desktop.close)

    def setUp(self):
        self.desktop.forget_active()

    def watch(self, extra_env=None):
        watcher = Watcher(self.server.env(), extra_env)
        self.addCleanup(watcher.kill)
        return watcher

    def assert_ends_quietly(self, watcher):
        status, rest, err = watcher.finish()
        self.assertEqual((status, rest, err), (0, [], b""))


class FocusTest(XServerTestCase):
    def test_record_fields(self):
        me = os.getpid()  # the X client that owns every window here
        d = self.desktop
        cases = [
            ("Latin-1 class", d.window(b"\xe9crit\0\xc9crit Pro\0", pid=4242), ("écrit", "Écrit Pro", 4242)),
            ("GTK application id", d.window(b"notes\0Notes\0", pid=4343, gtk_id=b"org.example.Notes"),
             ("org.example.Notes", "Notes", 4343)),
            ("KDE desktop file", d.window(b"viewer\0Viewer\0", pid=4444, kde_file=b"org.example.Viewer"),
             ("org.example.Viewer", "Viewer", 4444)),
            ("desktop file named with its ending", d.window(kde_file=b"org.example.Player.desktop", pid=4545),
             ("org.example.Player", "unknown", 4545)),
            ("GTK id before the KDE one", d.window(pid=4646, gtk_id=b"org.example.First", kde_file=b"second"),
             ("org.example.First", "unknown", 4646)),
            ("UTF-8 desktop id", d.window(b"x\0X\0", pid=4747, gtk_id="org.exämple.Ünï".encode()),
             ("org.exämple.Ünï", "X", 4747)),
            ("desktop id that is not UTF-8", d.window(b"fallback\0Fallback\0", pid=4848, gtk_id=b"\xff\xfe"),
             ("fallback", "Fallback", 4848)),
            ("class typed UTF8_STRING", d.window("tōkyō\0Tōkyō\0".encode(), pid=4949,
                                                 wm_class_type=d.atom("UTF8_STRING")),
             ("tōkyō", "Tōkyō", 4949)),
            ("quotes and backslashes", d.window(b'a"b\\c\0Say "hi"\\\0', pid=5050), ('a"b\\c', 'Say "hi"\\', 5050)),
            ("instance only", d.window(b"solo\0", pid=5151), ("solo", "unknown", 5151)),
            ("empty instance", d.window(b"\0Classy\0", pid=5252), ("unknown", "Classy", 5252)),
            ("no pid: the X client's process", d.window(b"nopid\0NoPid\0"), ("nopid", "NoPid", me)),
            ("pid 0: the X client's process", d.window(b"zero\0Zero\0", pid=0), ("zero", "Zero", me)),
            ("no properties at all", d.window(), ("unknown", "unknown", me)),
            # Read whole: a text cut short would lose the class after it.
            ("instance past 4 KiB", d.window(b"i" * 5000 + b"\0Long\0", pid=5353), ("i" * 5000, "Long", 5353)),
            ("texts up to 64 KiB", d.window(b"w" * 65000 + b"\0Wide\0", pid=5454, gtk_id=b"g" * 65000),
             ("g" * 65000, "Wide", 5454)),
        ]
        watcher = self.watch()
        for label, window, expected in cases:
            with self.subTest(label):
                # Each window follows a moment with no window active, so each
                # is an activation of its own.
                d.activate(None)
                before = math.floor(time.time() * 1000)
                d.activate(window)
                record = watcher.record()
                after = time.time() * 1000
                self.assertEqual(fields(record), expected)
                self.assertTrue(before <= record["at"] <= after, (before, record["at"], after))
        self.assert_ends_quietly(watcher)

    def test_activations_follow_the_application(self):
        d = self.desktop
        editor = d.window(b"editor\0Editor\0", pid=6001)
        editor_too = d.window(b"editor\0Editor\0", pid=6001)
        editor_helper = d.window(b"helper\0Helper\0", pid=6001)  # other class, same process
        twin = d.window(b"editor\0Editor\0", pid=6002)  # same class, another process
        loose = d.window(b"loose\0Loose\0")  # no pid: known by its identity
        loose_too = d.window(b"loose\0Loose\0")
        blank = d.window()
        gone = d.window(b"gone\0Gone\0", pid=6003)
        gone.destroy()
        d.d.sync()

        EDITOR, TWIN = ("editor", "Editor", 6001), ("editor", "Editor", 6002)
        LOOSE, BLANK = ("loose", "Loose", os.getpid()), ("unknown", "unknown", os.getpid())
        steps = [  # the window made active, and the record it yields (None: none)
            (editor, EDITOR),
            (editor_too, None),  # another window of the same application
            (editor_helper, None),  # same _NET_WM_PID
            (editor, None),  # the same window written again
            (twin, TWIN),
            (editor, EDITOR),
            (None, None),  # no window: nothing is frontmost
            (editor, EDITOR),  # so the return is an activation
            (loose, LOOSE),
            (loose_too, None),
            (blank, BLANK),  # same process, but another identity
            (loose, LOOSE),
            (gone, None),  # a window that no longer exists counts as none
            (loose, LOOSE),
            ("deleted", None),  # the property itself removed
            (loose, LOOSE),
            ("not a window", None),  # text where a window id belongs
            (loose, LOOSE),
            ("root", None),  # the root window is no application's
            (editor, EDITOR),
        ]
        watcher = self.watch()
        for number, (window, expected) in enumerate(steps):
            with self.subTest(step=number):
                if window == "deleted":
                    d.forget_active()
                elif window == "not a window":
                    d.write_active(Xatom.STRING, 8, b"editor")
                elif window == "root":
                    d.write_active(Xatom.WINDOW, 32, [d.root.id])
                else:
                    d.activate(window)
                # A step without a record is shown by the next record, which
                # would otherwise be this one. It is read before the next
                # write, so the watcher sees every step.
                if expected is not None:
                    self.assertEqual(fields(watcher.record()), expected)
                else:
                    d.settle()
        self.assert_ends_quietly(watcher)

    def test_initial_record(self):
        d = self.desktop
        first = d.window(b"first\0First\0", pid=7001)
        first_too = d.window(b"first\0First\0", pid=7001)
        second = d.window(b"second\0Second\0", pid=7002)
        d.activate(first)
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("first", "First", 7001))
        # The application at start-up is the current one.
        d.activate(first_too)
        d.settle()
        d.activate(second)
        self.assertEqual(fields(watcher.record()), ("second", "Second", 7002))
        self.assert_ends_quietly(watcher)

    def test_no_active_window_at_start(self):
        for label, start in [("property absent", None), ("no window", "none"), ("destroyed window", "gone")]:
            with self.subTest(label):
                d = self.desktop
                # Made first: the id of a destroyed window is free to be
                # given to the next new one.
                later = d.window(b"later\0Later\0", pid=7102)
                d.forget_active()
                if start == "none":
                    d.activate(None)
                elif start == "gone":
                    gone = d.window(b"gone\0Gone\0", pid=7101)
                    gone.destroy()
                    d.activate(gone)
                watcher = self.watch()
                # Had start-up printed a record, it would come before this one.
                d.activate(later)
                self.assertEqual(fields(watcher.record()), ("later", "Later", 7102))
                self.assert_ends_quietly(watcher)

    def test_x11_where_no_compositor_offers_a_window_list(self):
        d = self.desktop
        window = d.window(b"xapp\0XApp\0", pid=7201)
        with wayland_fake.Compositor() as compositor:  # outputs only
            for wayland in ["/nonexistent/wayland-0", compositor.path]:
                with self.subTest(wayland):
                    d.activate(None)
                    watcher = self.watch({"WAYLAND_DISPLAY": wayland})
                    d.activate(window)
                    self.assertEqual(fields(watcher.record()), ("xapp", "XApp", 7201))
                    self.assert_ends_quietly(watcher)

    def test_x_is_loaded_where_there_is_a_display(self):
        # The counterpart of NoDisplayTest's check that nothing is loaded
        # without a display: the check sees the library when it is there.
        proc = subprocess.run([xserver.native_program("Quelmark")], stdin=subprocess.DEVNULL,
                              capture_output=True, env={**self.server.env(), "LD_DEBUG": "files"}, timeout=WAIT)
        self.assertEqual(proc.returncode, 0)
        self.assertIn(b"file=libxcb.so.1", proc.stderr)


class ServerWithoutExtensionsTest(XServerTestCase):
    server_args = ("-extension", "X-Resource")

    def test_pid_without_x_resource(self):
        d = self.desktop
        watcher = self.watch()
        for window, expected in [(d.window(b"nopid\0NoPid\0"), ("nopid", "NoPid", -1)),
                                 (d.window(b"pid\0Pid\0", pid=8001), ("pid", "Pid", 8001))]:
            d.activate(window)
            self.assertEqual(fields(watcher.record()), expected)
        self.assert_ends_quietly(watcher)


def x_sockets(pid):
    names = []
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            names.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except FileNotFoundError:
            pass
    return [name for name in names if name.startswith("socket:")]


def wait_for_no_x_socket(pid):
    for _ in range(300):
        if not x_sockets(pid):
            return []
        time.sleep(0.1)
    return x_sockets(pid)


class ServerDeathTest(XServerTestCase):
    def test_the_lifeline_outlives_the_server(self):
        d = self.desktop
        d.activate(d.window(b"last\0Last\0", pid=9001))
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("last", "Last", 9001))
        self.assertEqual(len(x_sockets(watcher.proc.pid)), 1)
        d.close()
        self.server.stop()
        # The watcher closes its connection once it has seen the server go.
        self.assertEqual(wait_for_no_x_socket(watcher.proc.pid), [])
        self.assertIsNone(watcher.proc.poll())
        watcher.proc.stdin.write(b"still here\n" * 500)
        watcher.proc.stdin.flush()
        self.assert_ends_quietly(watcher)


class SilentServerTest(XServerTestCase):
    def test_following_the_server_again_when_it_answers(self):
        relay = xserver.Relay(self.server)
        self.addCleanup(relay.stop)
        d = self.desktop
        d.activate(d.window(b"first\0First\0", pid=9101))
        watcher = Watcher(relay.env())
        self.addCleanup(watcher.kill)
        self.assertEqual(fields(watcher.record()), ("first", "First", 9101))
        relay.hold_answers()
        d.activate(d.window(b"second\0Second\0", pid=9102))
        d.settle()  # the watcher has asked for the new active window
        # No answer comes: the watcher gives the server up after its bound,
        # and tries it again about once a second. Once answers flow, a new
        # connection reads the active window: another application than the
        # one last reported.
        relay.release_answers()
        self.assertEqual(fields(watcher.record()), ("second", "Second", 9102))
        d.activate(d.window(b"third\0Third\0", pid=9103))
        self.assertEqual(fields(watcher.record()), ("third", "Third", 9103))
        self.assert_ends_quietly(watcher)

    def test_lifeline_with_a_stopped_server(self):
        server = xserver.XServer()
        self.addCleanup(server.stop)
        server.pause()
        watcher = Watcher(server.env())
        self.addCleanup(watcher.kill)
        watcher.proc.stdin.write(b"x" * 5000)
        watcher.proc.stdin.flush()
        self.assert_ends_quietly(watcher)

    def test_lifeline_with_a_server_that_answers_one_byte(self):
        # The set-up's answer starts and never ends: the set-up is given up
        # at its bound, and the lifeline is served all along.
        server = xserver.OneByteServer()
        self.addCleanup(server.stop)
        watcher = Watcher(server.env())
        self.addCleanup(watcher.kill)
        watcher.proc.stdin.write(b"x" * 5000)
        watcher.proc.stdin.flush()
        self.assert_ends_quietly(watcher)


class GrabTest(XServerTestCase):
    """A client that grabs the server (as a window manager does for a
    non-opaque move) stops every other client's requests and set-ups."""

    GRAB = 4  # seconds: beyond the 3 s a reply is waited for

    def grab(self):
        grabber = xdisplay.Display(self.server.display)
        self.addCleanup(grabber.close)
        grabber.grab_server()
        grabber.sync()
        return grabber

    def ungrab_after(self, grabber, seconds):
        # The grab's length is the scenario, not a wait for readiness.
        time.sleep(seconds)
        grabber.ungrab_server()
        grabber.sync()

    def test_following_the_server_after_a_grab(self):
        d = self.desktop
        d.activate(d.window(b"before\0Before\0", pid=9201))
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("before", "Before", 9201))
        during = d.window(b"during\0During\0", pid=9202)
        grabber = self.grab()
        # The grabbing client itself still works: its write reaches the
        # watcher as an event, and the watcher's question stays unanswered.
        grabber.screen().root.change_property(grabber.intern_atom("_NET_ACTIVE_WINDOW"), Xatom.WINDOW, 32,
                                              [during.id])
        grabber.sync()
        self.ungrab_after(grabber, self.GRAB)
        self.assertEqual(fields(watcher.record()), ("during", "During", 9202))
        for number, window in enumerate([d.window(b"after%d\0After\0" % n, pid=9210 + n) for n in range(4)]):
            d.activate(window)
            self.assertEqual(fields(watcher.record()), ("after%d" % number, "After", 9210 + number))
        self.assert_ends_quietly(watcher)

    def test_started_during_a_grab(self):
        d = self.desktop
        d.activate(d.window(b"current\0Current\0", pid=9301))
        grabber = self.grab()
        watcher = self.watch()
        self.ungrab_after(grabber, self.GRAB)
        # The first connection ran out of time: the application of the
        # active window comes with the connection that follows.
        self.assertEqual(fields(watcher.record()), ("current", "Current", 9301))
        d.activate(d.window(b"next\0Next\0", pid=9302))
        self.assertEqual(fields(watcher.record()), ("next", "Next", 9302))
        self.assert_ends_quietly(watcher)


class ServerRestartTest(unittest.TestCase):
    def test_a_new_server_under_the_same_display(self):
        first = xserver.XServer()
        self.addCleanup(first.stop)
        desktop = xserver.Desktop(first.display, record=False)
        self.addCleanup(desktop.close)
        desktop.activate(desktop.window(b"old\0Old\0", pid=9401))
        watcher = Watcher(first.env())
        self.addCleanup(watcher.kill)
        self.assertEqual(fields(watcher.record()), ("old", "Old", 9401))
        desktop.close()
        first.stop()
        # A restarted session: another server takes the same display.
        second = xserver.XServer(display=first.display)
        self.addCleanup(second.stop)
        self.assertEqual(second.display, first.display)
        desktop = xserver.Desktop(second.display, record=False)
        self.addCleanup(desktop.close)
        desktop.activate(desktop.window(b"new\0New\0", pid=9402))
        self.assertEqual(fields(watcher.record()), ("new", "New", 9402))
        status, rest, err = watcher.finish()
        self.assertEqual((status, rest, err), (0, [], b""))


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


def sanitized_build():
    cache = xserver.BUILD_DIR / "CMakeCache.txt"
    return cache.exists() and re.search(r"^SANITIZE:STRING=\S", cache.read_text(), re.M) is not None


class FloodTest(XServerTestCase):
    """A client that writes _NET_ACTIVE_WINDOW as fast as it can, in its own
    process, switching between two windows of one application."""

    records_traffic = False  # the server would record every write
    FLOOD = 2  # seconds of flood before the lifeline ends
    MEMORY_KIB = 16 * 1024
    EXIT = 1.0  # seconds; the watcher itself takes a few ms (README)

    def setUp(self):
        d = self.desktop
        self.flooded = [d.window(b"flood\0Flood\0", pid=9501) for _ in range(2)]
        d.activate(self.flooded[0])
        client = os.path.join(os.path.dirname(os.path.abspath(__file__)), "flood_client.py")
        self.client = subprocess.Popen([sys.executable, client, self.server.display],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.stop_client)

    def stop_client(self):
        if self.client.poll() is None:
            self.client.kill()
        self.client.wait()
        self.client.stdin.close()
        self.client.stdout.close()

    def command(self, line):
        """Sends a command to the flood client and waits for it to take hold."""
        self.client.stdin.write(line + "\n")
        self.client.stdin.flush()
        ready, _, _ = select.select([self.client.stdout], [], [], WAIT)
        self.assertTrue(ready, "the flood client does not answer")
        self.assertEqual(self.client.stdout.readline(), "ok\n")

    def flood(self):
        self.command("flood " + " ".join(str(w.id) for w in self.flooded))

    def test_lifeline_and_memory_under_a_flood(self):
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("flood", "Flood", 9501))
        self.flood()
        peak = 0
        end = time.monotonic() + self.FLOOD
        while time.monotonic() < end:
            peak = max(peak, resident_kib(watcher.proc.pid))
            time.sleep(0.05)  # a sampling pace
        start = time.monotonic()
        watcher.proc.stdin.close()
        try:
            watcher.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.fail("the watcher did not end after its input's end")
        took = time.monotonic() - start
        self.assertLess(took, self.EXIT)
        if not sanitized_build():  # the sanitizers' own memory is not the watcher's
            self.assertLess(peak, self.MEMORY_KIB)
        self.assertEqual(watcher.proc.stderr.read(), b"")

    def test_every_change_that_stays_put_is_recorded(self):
        stays = [self.desktop.window(b"stay%d\0Stay\0" % n, pid=9510 + n) for n in range(8)]
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("flood", "Flood", 9501))
        for window in stays:
            self.flood()
            time.sleep(0.2)  # the flood's length: part of the scenario
            self.command(f"stay {window.id}")
            time.sleep(0.05)  # the shortest stay that must be seen: 50 ms
        self.flood()
        time.sleep(0.2)
        self.client.stdin.write("quit\n")
        self.client.stdin.flush()
        self.client.wait(timeout=WAIT)
        # Back and forth: the flooded application between every two stays.
        expected = []
        for n in range(len(stays)):
            expected += [("stay%d" % n, "Stay", 9510 + n), ("flood", "Flood", 9501)]
        self.assertEqual([fields(watcher.record()) for _ in expected], expected)
        self.assert_ends_quietly(watcher)


class AuthorizationTest(unittest.TestCase):
    """A server that admits only clients with its cookie."""

    COOKIE = bytes(range(16))

    @classmethod
    def setUpClass(cls):
        folder = tempfile.TemporaryDirectory()
        cls.addClassCleanup(folder.cleanup)
        server_file = os.path.join(folder.name, "server")
        # The server takes every cookie of its file, whatever display it names.
        xserver.write_authority(server_file, ":0", cls.COOKIE)
        cls.server = xserver.XServer("-auth", server_file)
        cls.addClassCleanup(cls.server.stop)
        cls.right = os.path.join(folder.name, "right")
        cls.wrong = os.path.join(folder.name, "wrong")
        xserver.write_authority(cls.right, cls.server.display, cls.COOKIE)
        xserver.write_authority(cls.wrong, cls.server.display, bytes(16))

    def test_refused_is_no_display_and_silent(self):
        for label, authority in [("no authority file", "/nonexistent"), ("another cookie", self.wrong)]:
            with self.subTest(label):
                watcher = Watcher(self.server.env(), {"XAUTHORITY": authority})
                self.addCleanup(watcher.kill)
                status, rest, err = watcher.finish()
                self.assertEqual((status, rest, err), (0, [], b""))

    def test_admitted_with_the_cookie(self):
        with mock.patch.dict(os.environ, {"XAUTHORITY": self.right}):  # python-xlib reads it too
            desktop = xserver.Desktop(self.server.display, record=False)
        self.addCleanup(desktop.close)
        desktop.activate(desktop.window(b"admitted\0Admitted\0", pid=9601))
        watcher = Watcher(self.server.env(), {"XAUTHORITY": self.right})
        self.addCleanup(watcher.kill)
        self.assertEqual(fields(watcher.record()), ("admitted", "Admitted", 9601))
        status, rest, err = watcher.finish()
        self.assertEqual((status, rest, err), (0, [], b""))


class NoDisplayTest(unittest.TestCase):
    """No X display: nothing is frontmost or activated, standard input is
    still the lifeline, and X is not even loaded when DISPLAY is unset."""

    def test_lifeline_without_display(self):
        for label, display in [("unset", None), ("empty", ""), ("nobody there", "unix:65000"),
                               ("malformed", "no display here")]:
            with self.subTest(label):
                watcher = Watcher(xserver.environment(display))
                self.addCleanup(watcher.kill)
                watcher.proc.stdin.write(b"x" * 5000)
                watcher.proc.stdin.flush()
                status, rest, err = watcher.finish()
                self.assertEqual((status, rest, err), (0, [], b""))

    def test_lifeline_when_the_resolver_never_answers(self):
        # The start-up's connection gives the name up after about a second;
        # the end of input is seen then.
        status, out, err, seconds = xserver.run_with_silent_resolver(
            self, xserver.native_program("Quelmark"), xserver.environment(xserver.UNANSWERED_NAME))
        self.assertEqual((status, out, err), (0, b"", b""))
        self.assertLess(seconds, 5)  # a bound of 1 s on a busy machine; without it, 10 s

    def test_nothing_loaded_without_display(self):
        for display in (None, ""):
            with self.subTest(display=display):
                env = {**xserver.environment(display), "LD_DEBUG": "files"}
                proc = subprocess.run([xserver.native_program("Quelmark")], stdin=subprocess.DEVNULL,
                                      capture_output=True, env=env, timeout=WAIT)
                self.assertEqual((proc.returncode, proc.stdout), (0, b""))
                self.assertNotIn(b"libxcb", proc.stderr)


if __name__ == "__main__":
    unittest.main()
