"""build/bin/Quelmark on a Wayland compositor: a private headless sway, focus
driven with swaymsg, test applications that speak the protocol, foot and
xterm as real ones; compositors that stop, die or were never there."""

import shutil
import subprocess
import tempfile
import threading
import unittest
from pathlib import Path

import sway
import wayland_fake
import watcher

WAIT = sway.WAIT


class Watcher(watcher.Watcher):
    """The watcher whose records are read as (bundle id, name, pid)."""

    def __init__(self, env, program=None):
        super().__init__(env, program=program)

    def record(self):
        return watcher.fields(super().record())


class WatcherCase(unittest.TestCase):
    def watch(self, env):
        watcher = Watcher(env)
        self.addCleanup(watcher.kill)
        return watcher

    def app(self, env):
        app = wayland_fake.App(env)
        self.addCleanup(app.stop)
        return app

    def assert_ends_quietly(self, watcher):
        self.assertEqual(watcher.finish(), (0, [], b""))


@unittest.skipIf(sway.available(), sway.available())
class SwayFocusTest(WatcherCase):
    def setUp(self):
        self.sway = sway.Sway()
        self.addCleanup(self.sway.stop)

    def focus(self, title):
        self.sway.msg(f'[title="^{title}$"] focus')

    def test_activations_follow_the_application(self):
        env = self.sway.env()
        editor, viewer, nameless = self.app(env), self.app(env), self.app(env)
        editor.open("a", "org.example.Editor", "Editor-one")
        editor.open("b", "org.example.Editor", "Editor-two")
        editor.open("c", "org.example.Helper", "Helper-one")  # another app_id, same process
        viewer.open("a", "org.example.Viewer", "Viewer-one")
        nameless.open("a", "-", "Nameless-one")
        EDITOR = ("org.example.Editor", "org.example.Editor", editor.pid)
        VIEWER = ("org.example.Viewer", "org.example.Viewer", viewer.pid)
        NAMELESS = ("unknown", "unknown", nameless.pid)
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), NAMELESS, "the window active at start")
        steps = [  # (swaymsg command or title to focus, the record it yields or None)
            ("Editor-one", EDITOR),
            ("Editor-two", None),  # another window of the same application
            ("Helper-one", None),  # the same process decides
            ("Viewer-one", VIEWER),
            ("workspace 2", None),  # an empty workspace: no window active
            ("workspace 1", None),  # back to the viewer: no change
            ("Editor-two", EDITOR),
            ("Nameless-one", NAMELESS),
        ]
        for number, (step, expected) in enumerate(steps):
            with self.subTest(step=number, focus=step):
                if step.startswith("workspace"):
                    self.sway.msg(step)
                else:
                    self.focus(step)
                # A step without a record shows in the next record, which
                # would otherwise be this one.
                if expected is not None:
                    self.assertEqual(watcher.record(), expected)
        editor.title("b", "Editor-renamed")  # a title change is no activation
        self.focus("Viewer-one")
        self.assertEqual(watcher.record(), VIEWER)
        self.assert_ends_quietly(watcher)

    def test_window_closed_while_active(self):
        env = self.sway.env()
        first, second = self.app(env), self.app(env)
        first.open("a", "org.example.First", "First")
        second.open("a", "org.example.Second", "Second")
        second.open("b", "org.example.Second", "Second-too")
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), ("org.example.Second", "org.example.Second", second.pid))
        self.focus("First")
        self.assertEqual(watcher.record(), ("org.example.First", "org.example.First", first.pid))
        first.close("a")  # sway gives the focus to the second application's window
        self.assertEqual(watcher.record(), ("org.example.Second", "org.example.Second", second.pid))
        second.close("a")  # its other window: the same application
        first.open("b", "org.example.First", "First-again")
        self.assertEqual(watcher.record(), ("org.example.First", "org.example.First", first.pid))
        self.assert_ends_quietly(watcher)

    def test_pid_without_sways_socket(self):
        # Without SWAYSOCK there is no pid: two processes with one app_id
        # are then one application, and the app_id alone decides.
        env = self.sway.env(swaysock=False)
        one, two, other = self.app(env), self.app(env), self.app(env)
        one.open("a", "org.example.Twin", "Twin-one")
        two.open("a", "org.example.Twin", "Twin-two")
        other.open("a", "org.example.Other", "Other")
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), ("org.example.Other", "org.example.Other", -1))
        self.focus("Twin-one")
        self.assertEqual(watcher.record(), ("org.example.Twin", "org.example.Twin", -1))
        self.focus("Twin-two")
        self.focus("Other")
        self.assertEqual(watcher.record(), ("org.example.Other", "org.example.Other", -1))
        self.assert_ends_quietly(watcher)

    def test_desktop_entries(self):
        data = tempfile.mkdtemp(prefix="wl-data-")
        self.addCleanup(shutil.rmtree, data)
        home, system = Path(data, "home", "applications"), Path(data, "system", "applications")
        home.mkdir(parents=True)
        system.mkdir(parents=True)
        (system / "org.example.Notes.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Notes\nName[de]=Notizen\nName[de_AT]=Notizerl\nExec=notes\n"
            "[Desktop Action new]\nName[de_DE]=Neu\n")
        (system / "org.example.Gone.desktop").write_text("[Desktop Entry]\nType=Application\nName=Gone\n")
        (home / "org.example.Gone.desktop").write_text("[Desktop Entry]\nHidden=true\n")
        env = {**self.sway.env(), "XDG_DATA_HOME": str(home.parent), "XDG_DATA_DIRS": str(system.parent),
               "LANG": "de_DE.UTF-8", "LC_ALL": "", "LC_MESSAGES": ""}
        app = self.app(env)
        app.open("a", "org.example.Notes", "Notes-window")
        app2 = self.app(env)
        app2.open("a", "org.example.Gone", "Gone-window")
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), ("org.example.Gone", "org.example.Gone", app2.pid),
                         "a hidden entry hides the same id further down")
        self.focus("Notes-window")
        self.assertEqual(watcher.record(), ("org.example.Notes", "Notizen", app.pid))
        self.assert_ends_quietly(watcher)

    @unittest.skipIf(shutil.which("foot") is None, "foot is missing")
    def test_foot(self):
        # foot's own desktop entry names it.
        env = {**self.sway.env(), "XDG_DATA_HOME": "/nonexistent", "XDG_DATA_DIRS": "/usr/share", "LC_ALL": "C"}
        feet = []
        for number in (1, 2):
            foot = subprocess.Popen(["foot", f"--title=foot-{number}", "sh", "-c", "sleep 600"], env=env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            self.addCleanup(foot.wait)
            self.addCleanup(foot.kill)
            feet.append(foot)
            self.wait_for_view(f"foot-{number}")
        watcher = self.watch(env)
        # Two foot processes with one app_id are two applications.
        self.assertEqual(watcher.record(), ("foot", "Foot", feet[1].pid))
        self.focus("foot-1")
        self.assertEqual(watcher.record(), ("foot", "Foot", feet[0].pid))
        self.assert_ends_quietly(watcher)

    def wait_for_view(self, title):
        for _ in range(300):
            if any(view[1] == title for view in self.sway.tree_views()):
                return
            threading.Event().wait(0.1)
        self.fail(f"no window titled {title}")

    def test_stopped_compositor(self):
        env = self.sway.env()
        app = self.app(env)
        app.open("a", "org.example.Before", "Before")
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), ("org.example.Before", "org.example.Before", app.pid))
        self.sway.pause()
        # The watcher keeps its lifeline while the compositor says nothing.
        self.assert_ends_quietly(watcher)
        # Started against the stopped compositor: given up after its first
        # round trip, no record, and the lifeline works.
        self.assert_ends_quietly(self.watch(env))

    def test_killed_compositor(self):
        env = self.sway.env()
        app = self.app(env)
        app.open("a", "org.example.Before", "Before")
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), ("org.example.Before", "org.example.Before", app.pid))
        self.sway.kill()
        self.assert_ends_quietly(watcher)
        self.assert_ends_quietly(self.watch(env))

    def test_follows_a_new_compositor(self):
        # A compositor that has gone is looked for again: the next one on the
        # same socket is followed from its first window on.
        env = self.sway.env()
        app = self.app(env)
        app.open("a", "org.example.Before", "Before")
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), ("org.example.Before", "org.example.Before", app.pid))
        self.sway.kill()
        self.sway.start()
        after = self.app(env)
        after.open("a", "org.example.After", "After")
        self.assertEqual(watcher.record(), ("org.example.After", "org.example.After", after.pid))
        self.assert_ends_quietly(watcher)


class FailingCompositorTest(WatcherCase):
    def test_missing_socket(self):
        self.assert_ends_quietly(self.watch(wayland_fake.environment("wayland-none", "/nonexistent")))

    def test_silent_after_the_registry(self):
        # It offers the window list, then answers nothing: given up, no
        # record, the lifeline kept, and X11 not asked (DISPLAY leads nowhere).
        with wayland_fake.Compositor(toplevels=True, silent_after_registry=True) as compositor:
            self.assert_ends_quietly(self.watch({**compositor.env(), "DISPLAY": ":999"}))


@unittest.skipIf(sway.available() or shutil.which("xterm") is None or shutil.which("xhost") is None,
                 "sway, xterm or xhost is missing")
class XWaylandTest(WatcherCase):
    """X11 windows (xterm under XWayland) beside native ones: the Wayland
    list alone decides, so each change is one record."""

    def setUp(self):
        self.sway = sway.Sway(xwayland=True)
        self.addCleanup(self.sway.stop)
        subprocess.run(["setpriv", f"--reuid={sway.NOBODY}", f"--regid={sway.NOBODY}", "--clear-groups",
                        "env", f"DISPLAY={self.sway.display}", "xhost", "+si:localuser:root"],
                       check=True, capture_output=True, timeout=WAIT)

    def test_xwayland_beside_native(self):
        env = self.sway.env(display=self.sway.display)
        xterm = subprocess.Popen(["xterm", "-class", "XTermClass", "-name", "xtinst", "-T", "XTermTitle",
                                  "-e", "sleep 600"], env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(xterm.wait)
        self.addCleanup(xterm.kill)
        for _ in range(300):
            if any(view[1] == "XTermTitle" for view in self.sway.tree_views()):
                break
            threading.Event().wait(0.1)
        native = self.app(env)
        native.open("a", "org.example.Native", "Native")
        XTERM = ("XTermClass", "XTermClass", xterm.pid)
        NATIVE = ("org.example.Native", "org.example.Native", native.pid)
        watcher = self.watch(env)
        self.assertEqual(watcher.record(), NATIVE)
        for title, expected in [("XTermTitle", XTERM), ("Native", NATIVE), ("XTermTitle", XTERM)]:
            self.sway.msg(f'[title="^{title}$"] focus')
            self.assertEqual(watcher.record(), expected)
        self.assert_ends_quietly(watcher)


if __name__ == "__main__":
    unittest.main()
