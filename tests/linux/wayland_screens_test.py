"""build/bin/Brimgauge on a Wayland compositor: a private headless sway whose
outputs are set with swaymsg, and compositors that fail."""

import json
import subprocess
import unittest

import sway
import wayland_fake

NOT_NOTCHED = {"notched": False}


def probe(env):
    done = subprocess.run([sway.native_program("Brimgauge")], env=env, capture_output=True, timeout=sway.WAIT)
    assert (done.returncode, done.stderr) == (0, b""), done
    assert done.stdout.endswith(b"\n") and done.stdout.count(b"\n") == 1, done.stdout
    return json.loads(done.stdout)


def screen(width):
    return {"notched": False, "notchWidth": 0, "notchHeight": 0, "screenWidth": width}


@unittest.skipIf(sway.available(), sway.available())
class SwayScreensTest(unittest.TestCase):
    def setUp(self):
        self.sway = sway.Sway()
        self.addCleanup(self.sway.stop)

    def logical_width(self, name):
        outputs = {o["name"]: o for o in self.sway.msg("-t", "get_outputs")}
        return outputs[name]["rect"]["width"]

    def test_width_is_the_logical_width(self):
        cases = [
            ("mode 1280x720 scale 1", 1280),
            ("mode 3024x1964 scale 2", 1512),
            ("scale 1.5", 2016),  # wl_output's integer scale says 2
            ("scale 1.25", 2419),
            ("scale 1.25 transform 90", 1571),
            ("transform normal scale 3", 1008),
        ]
        for command, width in cases:
            with self.subTest(command):
                self.sway.msg(f"output HEADLESS-1 {command}")
                self.assertEqual(self.logical_width("HEADLESS-1"), width)
                self.assertEqual(probe(self.sway.env()), screen(width))

    def test_main_screen_follows_the_active_window(self):
        s = self.sway
        s.msg("create_output")
        s.msg("output HEADLESS-2 mode 800x600 position 1280 0")
        s.msg("workspace 1, move workspace to output HEADLESS-1")
        s.msg("workspace 2, move workspace to output HEADLESS-2")
        s.msg("workspace 1")
        self.assertEqual(probe(s.env()), screen(1280), "no window: the first output")
        app = wayland_fake.App(s.env())
        self.addCleanup(app.stop)
        app.open("w", "org.example.Mover", "Mover")
        self.assertEqual(probe(s.env()), screen(1280))
        s.msg("[app_id=org.example.Mover] move container to output HEADLESS-2, focus")
        self.assertEqual(probe(s.env()), screen(800), "the active window's output")
        s.msg("workspace 3, move workspace to output HEADLESS-1")
        s.msg("workspace 3")
        self.assertEqual(probe(s.env()), screen(1280), "sway's focus on an empty workspace: the first output")
        s.msg("[app_id=org.example.Mover] focus")
        self.assertEqual(probe(s.env()), screen(800))
        s.msg("output HEADLESS-2 scale 2")
        self.assertEqual(probe(s.env()), screen(400))

    def test_stopped_compositor(self):
        # Accepts the connection and answers nothing: no screen, and no X11
        # either, as DISPLAY is unset.
        self.sway.pause()
        self.assertEqual(probe(self.sway.env()), NOT_NOTCHED)

    def test_killed_compositor(self):
        self.sway.kill()  # its socket file stays behind
        self.assertEqual(probe(self.sway.env()), NOT_NOTCHED)


class FailingCompositorTest(unittest.TestCase):
    def test_missing_socket(self):
        env = wayland_fake.environment("/nonexistent/wayland-9")
        self.assertEqual(probe(env), NOT_NOTCHED)

    def test_silent_after_the_registry(self):
        # It names an output and then answers nothing: no partial answer, and
        # the X display is not asked (its name leads nowhere anyway).
        with wayland_fake.Compositor(silent_after_registry=True) as compositor:
            env = {**compositor.env(), "DISPLAY": ":999"}
            self.assertEqual(probe(env), NOT_NOTCHED)

    def test_outputs_without_xdg_output(self):
        # Only wl_output: its current mode divided by its scale, turned.
        cases = [((3024, 1964), 2, 0, 1512), ((1920, 1080), 1, 1, 1080), ((2560, 1600), 2, 3, 800)]
        for mode, scale, transform, width in cases:
            with self.subTest(mode=mode, scale=scale, transform=transform):
                with wayland_fake.Compositor(output=(mode, scale, transform)) as compositor:
                    self.assertEqual(probe(compositor.env()), screen(width))


if __name__ == "__main__":
    unittest.main()
