"""End-to-end tests of the notch probe on the simulated machine."""

import os
import subprocess
import unittest

import sim

NO_SCREEN = b'{"notched":false}\n'
EXIT_0 = {"call": "exit", "status": 0}

# A notched built-in screen: 1512 wide, 664 usable on each side of the notch.
NOTCHED = {"top": 32, "frameWidth": 1512, "left": 664, "right": 664}
PLAIN = {"top": 0, "frameWidth": 2560}

INT64_MAX = b"9223372036854775807"
INT64_MIN = b"-9223372036854775808"


def brimgauge(scenario=None, args=()):
    return sim.run("Brimgauge", args, scenario)


def screen(**fields):
    return {"top": 32, "frameWidth": 1512, "left": 664, "right": 664, **fields}


def only(screen_fields):
    """A machine whose one screen is also its main screen."""
    return {"screens": [screen_fields]}


def call(name, screen=None):
    return {"call": name} if screen is None else {"call": name, "screen": screen}


class ProbeTestCase(unittest.TestCase):
    def assertLine(self, run, expected):
        """Exactly `expected` on stdout, nothing on stderr, status 0, recorded as the exit."""
        self.assertEqual((run.status, run.stderr), (0, b""), run.stderr)
        self.assertEqual(run.stdout, expected)
        self.assertEqual(run.trace[-1], EXIT_0)

    def assertTable(self, cases):
        for name, scenario, expected in cases:
            with self.subTest(name):
                self.assertLine(brimgauge(scenario), expected)


class ScreenChoiceTest(ProbeTestCase):
    def test_choice(self):
        self.assertTable([
            ("first notched screen even when another is main",
             {"screens": [PLAIN, NOTCHED], "mainScreen": 0},
             b'{"notched":true,"notchWidth":184,"notchHeight":32,"screenWidth":1512}\n'),
            ("of two notched screens the first",
             {"screens": [PLAIN, screen(top=24, left=600, right=700),
                          screen(frameWidth=1728, left=700, right=700)], "mainScreen": 2},
             b'{"notched":true,"notchWidth":212,"notchHeight":24,"screenWidth":1512}\n'),
            ("notched main screen listed after another notched one",
             {"screens": [screen(top=38), screen(frameWidth=1728)], "mainScreen": 1},
             b'{"notched":true,"notchWidth":184,"notchHeight":38,"screenWidth":1512}\n'),
            ("none notched: the main screen given by index",
             {"screens": [PLAIN, {"top": 0, "frameWidth": 1920}], "mainScreen": 1},
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":1920}\n'),
            ("none notched: the main screen defaults to the first",
             {"screens": [PLAIN, {"top": 0, "frameWidth": 1920}]},
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":2560}\n'),
            ("negative and NaN tops are not notches",
             {"screens": [{"top": "nan", "frameWidth": 1000}, {"top": -5, "frameWidth": 1920, "left": 1, "right": 1}],
              "mainScreen": 1},
             b'{"notched":false,"notchWidth":0,"notchHeight":-5,"screenWidth":1920}\n'),
            ("none notched: a main screen that is not listed",
             {"screens": [PLAIN], "mainScreen": {"frameWidth": 1440}},
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":1440}\n'),
            ("empty list: the main screen of its own, measured as usual",
             {"screens": [], "mainScreen": NOTCHED},
             b'{"notched":true,"notchWidth":184,"notchHeight":32,"screenWidth":1512}\n'),
            ("no main screen but a notched one listed",
             {"screens": [PLAIN, NOTCHED], "mainScreen": None},
             b'{"notched":true,"notchWidth":184,"notchHeight":32,"screenWidth":1512}\n'),
        ])

    def test_no_screen_writes_the_one_key_line(self):
        self.assertEqual(len(NO_SCREEN), 18)
        self.assertTable([
            ("empty machine", None, NO_SCREEN),
            ("empty list, main screen left out", {"screens": []}, NO_SCREEN),
            ("empty list, no main screen", {"screens": [], "mainScreen": None}, NO_SCREEN),
            ("screens without a notch and no main screen", {"screens": [PLAIN, PLAIN], "mainScreen": None},
             NO_SCREEN),
        ])

    def test_arguments_are_ignored(self):
        for args in [("--help",), ("x", "y", "z"), ("",)]:
            with self.subTest(args=args):
                self.assertLine(brimgauge({"screens": [PLAIN, NOTCHED]}, args),
                                b'{"notched":true,"notchWidth":184,"notchHeight":32,"screenWidth":1512}\n')
                self.assertLine(brimgauge(None, args), NO_SCREEN)


class MeasurementTest(ProbeTestCase):
    def test_rounding(self):
        self.assertTable([
            ("top 0.4 is a notch that rounds to 0", only(screen(top=0.4)),
             b'{"notched":true,"notchWidth":184,"notchHeight":0,"screenWidth":1512}\n'),
            ("top 0.5 rounds up", only(screen(top=0.5)),
             b'{"notched":true,"notchWidth":184,"notchHeight":1,"screenWidth":1512}\n'),
            ("top 2.5 rounds away from zero, not to even", only(screen(top=2.5)),
             b'{"notched":true,"notchWidth":184,"notchHeight":3,"screenWidth":1512}\n'),
            ("notch width 184.5", only(screen(frameWidth=1512.5)),
             b'{"notched":true,"notchWidth":185,"notchHeight":32,"screenWidth":1513}\n'),
            ("notch width -0.5", only(screen(frameWidth=1000, left=500.5, right=500)),
             b'{"notched":true,"notchWidth":-1,"notchHeight":32,"screenWidth":1000}\n'),
            ("screen width 600.5", only({"top": 0, "frameWidth": 600.5}),
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":601}\n'),
            ("top -0.4 rounds to negative zero, written 0", only({"top": -0.4, "frameWidth": 800}),
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":800}\n'),
            ("notch width -0.25 is written 0", only(screen(frameWidth=1000, left=500.25, right=500)),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":1000}\n'),
        ])

    def test_notch_width(self):
        self.assertTable([
            ("areas wider than the screen give a negative width", only(screen(frameWidth=1000, left=600, right=700)),
             b'{"notched":true,"notchWidth":-300,"notchHeight":32,"screenWidth":1000}\n'),
            ("negative widths count as standardised rectangles",
             only(screen(frameWidth=-1512, left=-664, right=-600)),
             b'{"notched":true,"notchWidth":248,"notchHeight":32,"screenWidth":1512}\n'),
            ("left taken first, in floating point", only(screen(frameWidth=1e16, left=1, right=1)),
             b'{"notched":true,"notchWidth":10000000000000000,"notchHeight":32,"screenWidth":10000000000000000}\n'),
            ("zero-width areas are areas", only(screen(left=0, right=0)),
             b'{"notched":true,"notchWidth":1512,"notchHeight":32,"screenWidth":1512}\n'),
            ("no left area", only(screen(left=None)),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":1512}\n'),
            ("no right area", only(screen(right=None)),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":1512}\n'),
            ("neither area", only({"top": 32, "frameWidth": 1512}),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":1512}\n'),
            ("areas of a plain screen are not used", only({"top": 0, "frameWidth": 1512, "left": 1, "right": 1}),
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":1512}\n'),
        ])

    def test_values_outside_the_integer_range_stay_valid(self):
        self.assertTable([
            ("infinite top", only(screen(top="inf")),
             b'{"notched":true,"notchWidth":184,"notchHeight":' + INT64_MAX + b',"screenWidth":1512}\n'),
            ("NaN top on the main screen", only({"top": "nan", "frameWidth": 1512, "left": 664, "right": 664}),
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":1512}\n'),
            ("-inf top on the main screen", only({"top": "-inf", "frameWidth": 1512}),
             b'{"notched":false,"notchWidth":0,"notchHeight":' + INT64_MIN + b',"screenWidth":1512}\n'),
            ("NaN frame width", only(screen(frameWidth="nan")),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":0}\n'),
            ("infinite frame width", only(screen(frameWidth="inf")),
             b'{"notched":true,"notchWidth":' + INT64_MAX + b',"notchHeight":32,"screenWidth":' + INT64_MAX + b'}\n'),
            ("-inf frame width is standardised", only(screen(frameWidth="-inf")),
             b'{"notched":true,"notchWidth":' + INT64_MAX + b',"notchHeight":32,"screenWidth":' + INT64_MAX + b'}\n'),
            ("infinite left area", only(screen(left="inf")),
             b'{"notched":true,"notchWidth":' + INT64_MIN + b',"notchHeight":32,"screenWidth":1512}\n'),
            ("infinite frame and area: NaN width", only(screen(frameWidth="inf", right="inf")),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":' + INT64_MAX + b'}\n'),
            ("NaN area", only(screen(right="nan")),
             b'{"notched":true,"notchWidth":0,"notchHeight":32,"screenWidth":1512}\n'),
            ("huge widths", only(screen(frameWidth=1e300, left=1, right=1)),
             b'{"notched":true,"notchWidth":' + INT64_MAX + b',"notchHeight":32,"screenWidth":' + INT64_MAX + b'}\n'),
            ("huge area", only(screen(frameWidth=1000, left=1e19, right=0)),
             b'{"notched":true,"notchWidth":' + INT64_MIN + b',"notchHeight":32,"screenWidth":1000}\n'),
            ("2^63 is beyond the range", only({"top": 0, "frameWidth": 9223372036854775808}),
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":' + INT64_MAX + b'}\n'),
            ("-2^63 is the lowest whole number", only({"top": -9223372036854775808, "frameWidth": 1}),
             b'{"notched":false,"notchWidth":0,"notchHeight":' + INT64_MIN + b',"screenWidth":1}\n'),
            ("the largest double below 2^63", only({"top": 0, "frameWidth": 9223372036854774784}),
             b'{"notched":false,"notchWidth":0,"notchHeight":0,"screenWidth":9223372036854774784}\n'),
        ])


class TraceTest(ProbeTestCase):
    def assertCalls(self, scenario, expected):
        run = brimgauge(scenario)
        self.assertEqual((run.status, run.stderr), (0, b""), run.stderr)
        self.assertEqual(run.trace, expected + [EXIT_0])

    def test_notched_screen(self):
        # The inset is read again for the measurement; the main screen is never asked for.
        self.assertCalls({"screens": [PLAIN, NOTCHED], "mainScreen": 0}, [
            call("screens"),
            call("safeAreaInsets", 0),
            call("safeAreaInsets", 1),
            call("safeAreaInsets", 1),
            call("frame", 1),
            call("auxiliaryTopLeftArea", 1),
            call("auxiliaryTopRightArea", 1),
        ])

    def test_plain_main_screen(self):
        self.assertCalls({"screens": [PLAIN, {"top": 0, "frameWidth": 1920}], "mainScreen": 1}, [
            call("screens"),
            call("safeAreaInsets", 0),
            call("safeAreaInsets", 1),
            call("mainScreen"),
            call("safeAreaInsets", 1),
            call("frame", 1),
        ])

    def test_main_screen_of_its_own(self):
        self.assertCalls({"screens": [], "mainScreen": NOTCHED}, [
            call("screens"),
            call("mainScreen"),
            call("safeAreaInsets", "main"),
            call("frame", "main"),
            call("auxiliaryTopLeftArea", "main"),
            call("auxiliaryTopRightArea", "main"),
        ])

    def test_no_screen(self):
        self.assertCalls(None, [call("screens"), call("mainScreen")])

    def test_missing_left_area_stops_before_the_right(self):
        self.assertCalls(only(screen(left=None)), [
            call("screens"),
            call("safeAreaInsets", 0),
            call("safeAreaInsets", 0),
            call("frame", 0),
            call("auxiliaryTopLeftArea", 0),
        ])

    def test_missing_right_area_after_both_reads(self):
        self.assertCalls(only(screen(right=None)), [
            call("screens"),
            call("safeAreaInsets", 0),
            call("safeAreaInsets", 0),
            call("frame", 0),
            call("auxiliaryTopLeftArea", 0),
            call("auxiliaryTopRightArea", 0),
        ])


class FaultyScenarioTest(unittest.TestCase):
    def test_faults_end_with_status_3_before_any_call(self):
        for name, scenario in [
            ("not JSON", '{"screens": ['),
            ("top of the wrong type", {"screens": [{"top": "tall", "frameWidth": 1}]}),
            ("screens not a list", {"screens": {"top": 0, "frameWidth": 1}}),
            ("area of the wrong type", {"screens": [screen(left=True)]}),
            ("unknown key in a screen", {"screens": [{"frameWidth": 1, "width": 1}]}),
            ("unknown top-level key", {"screen": [NOTCHED]}),
            ("missing frameWidth", {"screens": [{"top": 32}]}),
            ("missing frameWidth of the main screen", {"screens": [], "mainScreen": {"top": 0}}),
            ("main screen index out of range", {"screens": [PLAIN], "mainScreen": 1}),
            ("main screen index into an empty list", {"screens": [], "mainScreen": 0}),
            ("main screen of the wrong type", {"screens": [PLAIN], "mainScreen": "0"}),
        ]:
            with self.subTest(name):
                run = brimgauge(scenario)
                self.assertEqual((run.status, run.stdout), (3, b""))
                self.assertTrue(run.stderr.endswith(b"\n") and run.stderr.count(b"\n") == 1, run.stderr)
                self.assertEqual(run.trace, [{"call": "exit", "status": 3}])


@sim.linux_only
class NativeTest(unittest.TestCase):
    def test_linux_has_no_screen_without_display(self):
        # The native program reads no scenario, so one changes nothing.
        with sim.Machine({"screens": [NOTCHED]}) as machine:
            plain = {k: v for k, v in os.environ.items() if not k.startswith("SIM_")}
            for env in [plain, machine.env]:
                env = {k: v for k, v in env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
                proc = subprocess.run([sim.native_program("Brimgauge"), "--help"], capture_output=True, env=env,
                                      timeout=10)
                self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, NO_SCREEN, b""))
            self.assertFalse(machine.trace_path.exists())


if __name__ == "__main__":
    unittest.main()
