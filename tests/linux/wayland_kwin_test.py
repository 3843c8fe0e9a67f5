"""The installed Quelmark under a private headless kwin, which shows its
window list only to the programs that an installed desktop entry names:
the entry the install rules put beside the programs."""

import os
import shutil
import subprocess
import tempfile
import unittest

import kwin
import sway
import wayland_fake
from wayland_focus_test import Watcher


@unittest.skipIf(kwin.available(), kwin.available())
class KwinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="quelmark-prefix-")
        cls.addClassCleanup(shutil.rmtree, cls.prefix)
        subprocess.run([os.environ.get("CMAKE", "cmake"), "--install", str(sway.BUILD_DIR), "--prefix", cls.prefix],
                       check=True, capture_output=True, timeout=sway.WAIT)

    def setUp(self):
        self.kwin = kwin.Kwin(data_dirs=[os.path.join(self.prefix, "share")])
        self.addCleanup(self.kwin.stop)

    def app(self):
        app = wayland_fake.App(self.kwin.env())
        self.addCleanup(app.stop)
        return app

    def watch(self, program):
        watcher = Watcher(self.kwin.env(), program)
        self.addCleanup(watcher.kill)
        return watcher

    def test_windows_pid_and_active_state(self):
        editor, viewer = self.app(), self.app()
        editor.open("a", "org.example.Editor", "Editor-one")
        editor.open("b", "org.example.Editor", "Editor-two")
        viewer.open("a", "org.example.Viewer", "Viewer-one")
        self.kwin.activate("Viewer-one")
        EDITOR = ("org.example.Editor", "org.example.Editor", editor.pid)
        VIEWER = ("org.example.Viewer", "org.example.Viewer", viewer.pid)
        watcher = self.watch(os.path.join(self.prefix, "bin", "Quelmark"))
        self.assertEqual(watcher.record(), VIEWER, "the window active at start")
        for title, expected in [("Editor-one", EDITOR), ("Editor-two", None), ("Viewer-one", VIEWER),
                                ("Editor-two", EDITOR)]:
            with self.subTest(title):
                self.kwin.activate(title)
                if expected is not None:
                    self.assertEqual(watcher.record(), expected)
        editor.title("b", "Editor-renamed")
        viewer.open("b", "org.example.Viewer", "Viewer-two")
        self.kwin.activate("Viewer-two")
        self.assertEqual(watcher.record(), VIEWER)
        self.assertEqual(watcher.finish(), (0, [], b""))

    def test_untrusted_program_sees_nothing(self):
        # The program in the build folder is named by no entry: kwin hides
        # its window list, so there is no source (and no X display).
        app = self.app()
        app.open("a", "org.example.Editor", "Editor-one")
        self.kwin.activate("Editor-one")
        watcher = self.watch(sway.native_program("Quelmark"))
        self.assertEqual(watcher.finish(), (0, [], b""))


if __name__ == "__main__":
    unittest.main()
