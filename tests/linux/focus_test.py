"""build/bin/Quelmark on a real X server: the records it writes as a window
manager changes the root window's _NET_ACTIVE_WINDOW."""

import json
import math
import os
import queue
import subprocess
import threading
import time
import unittest

from Xlib import Xatom

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

    @classmethod
    def setUpClass(cls):
        cls.server = xserver.XServer(*cls.server_args)
        cls.addClassCleanup(cls.server.stop)
        cls.desktop = xserver.Desktop(cls.server.display)
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
    def test_the_lifeline_outlives_the_answers(self):
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
        # No answer comes: the watcher gives the server up and closes its
        # connection, and nothing more is posted.
        self.assertEqual(wait_for_no_x_socket(watcher.proc.pid), [])
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
