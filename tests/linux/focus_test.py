"""build/bin/Quelmark on a real X server: the records it writes as a window
manager changes the root window's _NET_ACTIVE_WINDOW."""

import math
import os
import re
import select
import tempfile
import subprocess
import sys
import time
import unittest
from unittest import mock

from Xlib import Xatom
from Xlib import display as xdisplay

import wayland_fake
import xserver
from watcher import Watcher, fields

WAIT = xserver.WAIT


class XServerTestCase(unittest.TestCase):
    server_args = ()
    records_traffic = True  # whether the desktop can settle()

    @classmethod
    def setUpClass(cls):
        cls.server = xserver.XServer(*cls.server_args)
        cls.addClassCleanup(cls.server.stop)
        cls.desktop = xserver.Desktop(cls.server.display, record=cls.records_traffic)
        cls.addClassCleanup(cls.desktop.close)
        # No desktop entries unless a test installs some: the machine's own
        # would change the records.
        cls.data = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.data.cleanup)

    def setUp(self):
        self.desktop.forget_active()

    def watch(self, extra_env=None):
        env = {"XDG_DATA_HOME": self.data.name, "XDG_DATA_DIRS": self.data.name, **(extra_env or {})}
        watcher = Watcher(self.server.env(), env)
        self.addCleanup(watcher.kill)
        return watcher

    def fake_app(self):
        app = xserver.FakeApp(self.server.display)
        self.addCleanup(app.close)
        return app

    def assert_ends_quietly(self, watcher):
        status, rest, err = watcher.finish()
        self.assertEqual((status, rest, err), (0, [], b""))

    def assert_steps(self, watcher, steps):
        """Makes each window of `steps` active in turn and checks the record
        it yields (None: none)."""
        d = self.desktop
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


# A server without the X-Resource extension, which would name this test's
# process for every window it makes: windows of one client are then told
# apart by their _NET_WM_PID.
WITHOUT_X_RESOURCE = ("-extension", "X-Resource")


class FocusTest(XServerTestCase):
    server_args = WITHOUT_X_RESOURCE

    def test_record_fields(self):
        d = self.desktop
        cases = [
            ("Latin-1 class", d.window(wm_class=b"\xe9crit\0\xc9crit Pro\0", pid=4242), ("écrit", "Écrit Pro", 4242)),
            ("GTK application id", d.window(wm_class=b"notes\0Notes\0", pid=4343, gtk_id=b"org.example.Notes"),
             ("org.example.Notes", "Notes", 4343)),
            ("KDE desktop file", d.window(wm_class=b"viewer\0Viewer\0", pid=4444, kde_file=b"org.example.Viewer"),
             ("org.example.Viewer", "Viewer", 4444)),
            ("desktop file named with its ending", d.window(kde_file=b"org.example.Player.desktop", pid=4545),
             ("org.example.Player", "unknown", 4545)),
            ("GTK id before the KDE one", d.window(pid=4646, gtk_id=b"org.example.First", kde_file=b"second"),
             ("org.example.First", "unknown", 4646)),
            ("UTF-8 desktop id", d.window(wm_class=b"x\0X\0", pid=4747, gtk_id="org.exämple.Ünï".encode()),
             ("org.exämple.Ünï", "X", 4747)),
            ("desktop id that is not UTF-8",
             d.window(wm_class=b"fallback\0Fallback\0", pid=4848, gtk_id=b"\xff\xfe"),
             ("fallback", "Fallback", 4848)),
            ("class typed UTF8_STRING", d.window(wm_class="tōkyō\0Tōkyō\0".encode(), pid=4949,
                                                 wm_class_type=d.atom("UTF8_STRING")),
             ("tōkyō", "Tōkyō", 4949)),
            ("quotes and backslashes", d.window(wm_class=b'a"b\\c\0Say "hi"\\\0', pid=5050),
             ('a"b\\c', 'Say "hi"\\', 5050)),
            ("instance only", d.window(wm_class=b"solo\0", pid=5151), ("solo", "unknown", 5151)),
            ("empty instance", d.window(wm_class=b"\0Classy\0", pid=5252), ("unknown", "Classy", 5252)),
            ("no pid, no X-Resource", d.window(wm_class=b"nopid\0NoPid\0"), ("nopid", "NoPid", -1)),
            ("pid 0 is no pid", d.window(wm_class=b"zero\0Zero\0", pid=0), ("zero", "Zero", -1)),
            ("no properties at all", d.window(), ("unknown", "unknown", -1)),
            # Read whole: a text cut short would lose the class after it.
            ("instance past 4 KiB", d.window(wm_class=b"i" * 5000 + b"\0Long\0", pid=5353),
             ("i" * 5000, "Long", 5353)),
            ("texts up to 64 KiB", d.window(wm_class=b"w" * 65000 + b"\0Wide\0", pid=5454, gtk_id=b"g" * 65000),
             ("g" * 65000, "Wide", 5454)),
        ]
        watcher = self.watch()
        for label, window, expected in cases:
            with self.subTest(label):
                before = math.floor(time.time() * 1000)
                d.activate(window)
                record = watcher.record()
                after = time.time() * 1000
                self.assertEqual(fields(record), expected)
                self.assertTrue(before <= record["at"] <= after, (before, record["at"], after))
        self.assert_ends_quietly(watcher)

    def test_activations_follow_the_application(self):
        d = self.desktop
        editor = d.window(wm_class=b"editor\0Editor\0", pid=6001)
        editor_too = d.window(wm_class=b"editor\0Editor\0", pid=6001)
        editor_helper = d.window(wm_class=b"helper\0Helper\0", pid=6001)  # other class, same process
        twin = d.window(wm_class=b"editor\0Editor\0", pid=6002)  # same class, another process
        loose = d.window(wm_class=b"loose\0Loose\0")  # no pid: known by its identity
        loose_too = d.window(wm_class=b"loose\0Loose\0")
        blank = d.window()
        gone = d.window(wm_class=b"gone\0Gone\0", pid=6003)
        gone.destroy()
        d.d.sync()

        EDITOR, TWIN = ("editor", "Editor", 6001), ("editor", "Editor", 6002)
        LOOSE, BLANK = ("loose", "Loose", -1), ("unknown", "unknown", -1)
        steps = [  # the window made active, and the record it yields (None: none)
            (editor, EDITOR),
            (editor_too, None),  # another window of the same application
            (None, None),  # a window manager's instant without a window...
            (editor_too, None),  # ...between two windows of one application
            (editor_helper, None),  # same _NET_WM_PID
            (editor, None),  # the same window written again
            (twin, TWIN),  # two processes are two applications
            (editor, EDITOR),
            (None, None),  # to the desktop and back
            (editor, None),
            (loose, LOOSE),
            (loose_too, None),  # no pid: bundle id and name decide
            (blank, BLANK),
            (loose, LOOSE),
            (gone, None),  # a window that no longer exists counts as none
            (loose, None),
            ("deleted", None),  # the property itself removed
            (loose_too, None),
            ("not a window", None),  # text where a window id belongs
            (editor, EDITOR),
            ("root", None),  # the root window is no application's
            (loose, LOOSE),
        ]
        watcher = self.watch()
        self.assert_steps(watcher, steps)
        self.assert_ends_quietly(watcher)

    def test_window_groups(self):
        """A window without an application id of its own takes the one of
        the window it is transient for, else of its group leader."""
        d = self.desktop
        main = d.window(wm_class=b"draw\0Draw\0", pid=6101, gtk_id=b"org.example.Draw")
        dialog = d.window(wm_class=b"draw\0Draw\0", pid=6102, transient_for=main.id)
        inner = d.window(wm_class=b"draw\0Draw\0", pid=6103, transient_for=dialog.id)
        kde_main = d.window(wm_class=b"paint\0Paint\0", pid=6104, kde_file=b"org.example.Paint.desktop")
        group_leader = d.window(kde_file=b"org.example.Group")  # unmapped, as a client leader is
        chain = [d.window(gtk_id=b"org.example.Far")]
        for _ in range(5):
            chain.append(d.window(transient_for=chain[-1].id))
        loop_a = d.window(wm_class=b"loop\0Loop\0", pid=6110)
        loop_b = d.window(transient_for=loop_a.id)
        loop_a.change_property(Xatom.WM_TRANSIENT_FOR, Xatom.WINDOW, 32, [loop_b.id])
        nowhere = 0x1FFFFFFE  # no client has this window id
        cases = [
            ("own id", main, ("org.example.Draw", "Draw", 6101)),
            ("transient dialog", dialog, ("org.example.Draw", "Draw", 6102)),
            ("dialog of a dialog", inner, ("org.example.Draw", "Draw", 6103)),
            ("transient for a KDE window",
             d.window(wm_class=b"save\0Save\0", pid=6105, transient_for=kde_main.id),
             ("org.example.Paint", "Save", 6105)),
            ("WM_HINTS group", d.window(wm_class=b"tool\0Tool\0", pid=6106, group=group_leader.id),
             ("org.example.Group", "Tool", 6106)),
            ("WM_CLIENT_LEADER", d.window(wm_class=b"side\0Side\0", pid=6107, client_leader=group_leader.id),
             ("org.example.Group", "Side", 6107)),
            ("transient before the group",
             d.window(pid=6108, transient_for=main.id, group=group_leader.id), ("org.example.Draw", "unknown", 6108)),
            ("own id before any other", d.window(pid=6109, gtk_id=b"org.example.Own", transient_for=main.id),
             ("org.example.Own", "unknown", 6109)),
            ("a chain too long", d.window(wm_class=b"deep\0Deep\0", pid=6111, transient_for=chain[-1].id),
             ("deep", "Deep", 6111)),
            ("a chain within reach", d.window(pid=6112, transient_for=chain[1].id),
             ("org.example.Far", "unknown", 6112)),
            ("a loop", loop_a, ("loop", "Loop", 6110)),
            ("transient for no window", d.window(wm_class=b"orphan\0Orphan\0", pid=6113, transient_for=nowhere),
             ("orphan", "Orphan", 6113)),
        ]
        watcher = self.watch()
        for label, window, expected in cases:
            with self.subTest(label):
                d.activate(window)
                self.assertEqual(fields(watcher.record()), expected)
        self.assert_ends_quietly(watcher)

    def test_desktop_entries(self):
        """Bundle id and name from the application's desktop entry, found
        through its application id, StartupWMClass, or its instance or class
        as an id, in private data folders."""
        with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as system:
            install(home, "org.example.Notes.desktop", "Notes", "Name[de]=Notizen\n")
            install(system, "org.example.Notes.desktop", "Notes from below")
            install(system, "vendor/viewer.desktop", "Picture Viewer", "StartupWMClass=ViewerPro\n")
            install(system, "calc.desktop", "Calculator", "Name[de]=Rechner\n")
            install(system, "Board.desktop", "Board", "Name[de_AT]=Tafel\n")
            install(home, "retired.desktop", "", "Hidden=true\n")
            install(system, "retired.desktop", "Retired")
            d = self.desktop
            notes = d.window(wm_class=b"notes\0Notes\0", pid=6201, gtk_id=b"org.example.Notes")
            cases = [
                ("application id", notes, ("org.example.Notes", "Notizen", 6201)),
                ("inherited application id", d.window(wm_class=b"about\0About\0", pid=6202, transient_for=notes.id),
                 ("org.example.Notes", "Notizen", 6202)),
                ("application id before StartupWMClass",
                 d.window(wm_class=b"notes\0ViewerPro\0", pid=6203, gtk_id=b"org.example.Notes"),
                 ("org.example.Notes", "Notizen", 6203)),
                ("StartupWMClass only", d.window(wm_class=b"viewer-bin\0ViewerPro\0", pid=6204),
                 ("vendor-viewer", "Picture Viewer", 6204)),
                ("StartupWMClass before the instance",
                 d.window(wm_class=b"calc\0ViewerPro\0", pid=6205), ("vendor-viewer", "Picture Viewer", 6205)),
                ("instance in lower case", d.window(wm_class=b"Calc\0Calculus\0", pid=6206),
                 ("calc", "Rechner", 6206)),
                ("class as it is", d.window(wm_class=b"board-bin\0Board\0", pid=6207), ("Board", "Board", 6207)),
                ("application id without an entry",
                 d.window(wm_class=b"calc\0Calc\0", pid=6208, gtk_id=b"org.example.None"),
                 ("calc", "Rechner", 6208)),
                ("hidden entry", d.window(wm_class=b"retired\0Retired\0", pid=6209), ("retired", "Retired", 6209)),
                ("no entry at all", d.window(wm_class=b"stray\0Stray\0", pid=6210), ("stray", "Stray", 6210)),
                ("no entry, application id", d.window(wm_class=b"stray\0Stray\0", pid=6211, gtk_id=b"org.example.X"),
                 ("org.example.X", "Stray", 6211)),
            ]
            watcher = self.watch({"XDG_DATA_HOME": home, "XDG_DATA_DIRS": system, "LC_ALL": "",
                                  "LC_MESSAGES": "", "LANG": "de_DE.UTF-8"})
            for label, window, expected in cases:
                with self.subTest(label):
                    d.activate(window)
                    self.assertEqual(fields(watcher.record()), expected)
            # An entry installed while the watcher runs is found at the next
            # activation.
            install(system, "stray.desktop", "Stray Cat", "Name[de]=Streuner\n")
            d.activate(d.window(wm_class=b"stray\0Stray\0", pid=6212))
            self.assertEqual(fields(watcher.record()), ("stray", "Streuner", 6212))
            self.assert_ends_quietly(watcher)

    def test_initial_record(self):
        d = self.desktop
        first = d.window(wm_class=b"first\0First\0", pid=7001)
        first_too = d.window(wm_class=b"first\0First\0", pid=7001)
        second = d.window(wm_class=b"second\0Second\0", pid=7002)
        d.activate(first)
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("first", "First", 7001))
        # The application at start-up is the one reported last, through a
        # moment without a window too.
        self.assert_steps(watcher, [(first_too, None), (None, None), (first, None),
                                    (second, ("second", "Second", 7002))])
        self.assert_ends_quietly(watcher)

    def test_no_active_window_at_start(self):
        for label, start in [("property absent", None), ("no window", "none"), ("destroyed window", "gone")]:
            with self.subTest(label):
                d = self.desktop
                # Made first: the id of a destroyed window is free to be
                # given to the next new one.
                later = d.window(wm_class=b"later\0Later\0", pid=7102)
                d.forget_active()
                if start == "none":
                    d.activate(None)
                elif start == "gone":
                    gone = d.window(wm_class=b"gone\0Gone\0", pid=7101)
                    gone.destroy()
                    d.activate(gone)
                watcher = self.watch()
                # Had start-up printed a record, it would come before this one.
                d.activate(later)
                self.assertEqual(fields(watcher.record()), ("later", "Later", 7102))
                self.assert_ends_quietly(watcher)

    def test_x11_where_no_compositor_offers_a_window_list(self):
        d = self.desktop
        window = d.window(wm_class=b"xapp\0XApp\0", pid=7201)
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


def install(data, relative, name, more=""):
    """Writes a desktop entry as applications/`relative` under `data`."""
    path = os.path.join(data, "applications", relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as entry:
        entry.write(f"[Desktop Entry]\nType=Application\nName={name}\nExec=true\n{more}")


class ProcessTest(XServerTestCase):
    """Applications in processes of their own: the X-Resource extension names
    each window's process."""

    def test_the_process_decides(self):
        sandboxed, other_sandboxed, tk_like, twin = (self.fake_app() for _ in range(4))
        # A sandbox's own _NET_WM_PID counts only inside it.
        boxed = sandboxed.window(wm_class=b"boxed\0Boxed\0", pid=2)
        other_boxed = other_sandboxed.window(wm_class=b"boxed\0Boxed\0", pid=2)
        # Tk: no _NET_WM_PID, and a second toplevel with a class of its own.
        tk_main = tk_like.window(wm_class=b"wish\0Wish\0")
        tk_second = tk_like.window(wm_class=b"t2\0Toplevel\0")
        twin_main = twin.window(wm_class=b"wish\0Wish\0")
        steps = [
            (boxed, ("boxed", "Boxed", sandboxed.pid)),
            (other_boxed, ("boxed", "Boxed", other_sandboxed.pid)),
            (tk_main, ("wish", "Wish", tk_like.pid)),
            (tk_second, None),
            (None, None),
            (tk_main, None),
            (tk_second, None),
            (twin_main, ("wish", "Wish", twin.pid)),  # same identity, another process
            (tk_second, ("t2", "Toplevel", tk_like.pid)),  # each window keeps its own class
            (tk_main, None),
        ]
        watcher = self.watch()
        self.assert_steps(watcher, steps)
        self.assert_ends_quietly(watcher)

    def test_x_resource_without_a_window_pid(self):
        d = self.desktop
        watcher = self.watch()
        # This process made the window: X-Resource names it.
        d.activate(d.window(wm_class=b"nopid\0NoPid\0"))
        self.assertEqual(fields(watcher.record()), ("nopid", "NoPid", os.getpid()))
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
        d.activate(d.window(wm_class=b"last\0Last\0"))
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("last", "Last", os.getpid()))
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
        d.activate(d.window(wm_class=b"first\0First\0"))
        second_app = self.fake_app()
        second = second_app.window(wm_class=b"second\0Second\0")  # another application
        watcher = Watcher(relay.env(), {"XDG_DATA_HOME": self.data.name, "XDG_DATA_DIRS": self.data.name})
        self.addCleanup(watcher.kill)
        self.assertEqual(fields(watcher.record()), ("first", "First", os.getpid()))
        relay.hold_answers()
        d.activate(second)
        d.settle()  # the watcher has asked for the new active window
        # No answer comes: the watcher gives the server up after its bound,
        # and tries it again about once a second. Once answers flow, a new
        # connection reads the active window: another application than the
        # one last reported.
        relay.release_answers()
        self.assertEqual(fields(watcher.record()), ("second", "Second", second_app.pid))
        d.activate(d.window(wm_class=b"third\0Third\0"))
        self.assertEqual(fields(watcher.record()), ("third", "Third", os.getpid()))
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

    server_args = WITHOUT_X_RESOURCE

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
        d.activate(d.window(wm_class=b"before\0Before\0", pid=9201))
        watcher = self.watch()
        self.assertEqual(fields(watcher.record()), ("before", "Before", 9201))
        during = d.window(wm_class=b"during\0During\0", pid=9202)
        grabber = self.grab()
        # The grabbing client itself still works: its write reaches the
        # watcher as an event, and the watcher's question stays unanswered.
        grabber.screen().root.change_property(grabber.intern_atom("_NET_ACTIVE_WINDOW"), Xatom.WINDOW, 32,
                                              [during.id])
        grabber.sync()
        self.ungrab_after(grabber, self.GRAB)
        self.assertEqual(fields(watcher.record()), ("during", "During", 9202))
        for number, window in enumerate([d.window(wm_class=b"after%d\0After\0" % n, pid=9210 + n) for n in range(4)]):
            d.activate(window)
            self.assertEqual(fields(watcher.record()), ("after%d" % number, "After", 9210 + number))
        self.assert_ends_quietly(watcher)

    def test_started_during_a_grab(self):
        d = self.desktop
        d.activate(d.window(wm_class=b"current\0Current\0", pid=9301))
        grabber = self.grab()
        watcher = self.watch()
        self.ungrab_after(grabber, self.GRAB)
        # The first connection ran out of time: the application of the
        # active window comes with the connection that follows.
        self.assertEqual(fields(watcher.record()), ("current", "Current", 9301))
        d.activate(d.window(wm_class=b"next\0Next\0", pid=9302))
        self.assertEqual(fields(watcher.record()), ("next", "Next", 9302))
        self.assert_ends_quietly(watcher)


class ServerRestartTest(unittest.TestCase):
    def test_a_new_server_under_the_same_display(self):
        first = xserver.XServer(*WITHOUT_X_RESOURCE)
        self.addCleanup(first.stop)
        desktop = xserver.Desktop(first.display, record=False)
        self.addCleanup(desktop.close)
        desktop.activate(desktop.window(wm_class=b"old\0Old\0", pid=9401))
        watcher = Watcher(first.env())
        self.addCleanup(watcher.kill)
        self.assertEqual(fields(watcher.record()), ("old", "Old", 9401))
        desktop.close()
        first.stop()
        # A restarted session: another server takes the same display.
        second = xserver.XServer(*WITHOUT_X_RESOURCE, display=first.display)
        self.addCleanup(second.stop)
        self.assertEqual(second.display, first.display)
        desktop = xserver.Desktop(second.display, record=False)
        self.addCleanup(desktop.close)
        desktop.activate(desktop.window(wm_class=b"new\0New\0", pid=9402))
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

    server_args = WITHOUT_X_RESOURCE

    records_traffic = False  # the server would record every write
    FLOOD = 2  # seconds of flood before the lifeline ends
    MEMORY_KIB = 16 * 1024
    EXIT = 1.0  # seconds; the watcher itself takes a few ms (README)

    def setUp(self):
        d = self.desktop
        self.flooded = [d.window(wm_class=b"flood\0Flood\0", pid=9501) for _ in range(2)]
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
        stays = [self.desktop.window(wm_class=b"stay%d\0Stay\0" % n, pid=9510 + n) for n in range(8)]
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
        cls.server = xserver.XServer("-auth", server_file, *WITHOUT_X_RESOURCE)
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
        desktop.activate(desktop.window(wm_class=b"admitted\0Admitted\0", pid=9601))
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
