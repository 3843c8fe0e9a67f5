"""End-to-end tests of the control tool on the simulated machine."""

import json
import os
import subprocess
import tempfile
import unittest

import sim

USAGE = b"usage: Knobwerk brightness [0-1] | outputs | output <id>\n"
DLOPEN = {
    "call": "dlopen",
    "path": "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices",
    "mode": 1,
}

# A laptop: an external display listed before the built-in one, three
# outputs, a microphone without output streams, the speakers as default.
LAPTOP = {
    "displayServices": {"loads": True, "level": 0.5},
    "displays": {"online": [{"id": 5, "builtin": False}, {"id": 1, "builtin": True}]},
    "audio": {
        "devices": [
            {"id": 73, "name": "Speakers"},
            {"id": 81, "outputStreamsSize": 0, "name": "Microphone"},
            {"id": 92, "name": "Display Audio"},
        ],
        "defaultOutput": 73,
    },
}


def scenario(**sections):
    """LAPTOP with some sections' fields replaced."""
    result = json.loads(json.dumps(LAPTOP))
    for name, fields in sections.items():
        result.setdefault(name, {}).update(fields)
    return result


def knobwerk(*args, scenario=LAPTOP, **kwargs):
    return sim.run("Knobwerk", args, scenario, **kwargs)


def set_levels(run):
    return [c["level"] for c in run.trace if c["call"] == "DisplayServicesSetBrightness"]


def default_writes(run):
    return [c["value"] for c in run.trace if c["call"] == "AudioObjectSetPropertyData"]


class ReplyTestCase(unittest.TestCase):
    def assertReply(self, run, expected):
        """One JSON line equal to `expected`, status 0, nothing on stderr."""
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(run.stderr, b"")
        self.assertEqual(run.lines(), [expected])
        self.assertEqual(run.trace[-1], {"call": "exit", "status": 0})

    def assertUsage(self, run):
        self.assertEqual((run.status, run.stdout, run.stderr), (2, b"", USAGE))
        self.assertEqual(run.trace, [DLOPEN, {"call": "exit", "status": 2}])


class CommandTableTest(ReplyTestCase):
    def test_command_lines_outside_the_table_take_the_usage_path(self):
        for args in [(), ("Brightness",), ("brightness ",), ("--help",), ("outputs", "x"), ("outputs", ""),
                     ("output",), ("outputs", "1", "2"), ("volume",), ("volume", "1"), ("",), ("-",),
                     ("OUTPUTS",), ("bright",)]:
            with self.subTest(args=args):
                self.assertUsage(knobwerk(*args))

    def test_empty_argument_vector_takes_the_usage_path(self):
        with sim.Machine(LAPTOP) as machine:
            proc = subprocess.run([], executable=sim.program("Knobwerk"), capture_output=True, env=machine.env,
                                  timeout=10)
            self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (2, b"", USAGE))

    def test_table_rows_that_reply(self):
        outputs = {"current": 73, "outputs": [{"id": 73, "name": "Speakers"}, {"id": 92, "name": "Display Audio"}]}
        rows = [
            (("brightness",), {"brightness": 0.5}, [], []),
            (("brightness", "0.25"), {"brightness": 0.25}, [0.25], []),
            (("brightness", ""), {"brightness": 0.5}, [], []),
            (("brightness", "0.25", "0.75", "x"), {"brightness": 0.25}, [0.25], []),
            (("brightness", "-"), {"brightness": 0.5}, [], []),
            (("outputs",), outputs, [], []),
            (("output", "92"), {**outputs, "current": 92}, [], [92]),
            (("output", "92", "73"), {**outputs, "current": 92}, [], [92]),
            (("output", ""), outputs, [], []),
            (("output", "-1"), outputs, [], []),
        ]
        for args, reply, levels, writes in rows:
            with self.subTest(args=args):
                run = knobwerk(*args)
                self.assertReply(run, reply)
                self.assertEqual(set_levels(run), levels)
                self.assertEqual(default_writes(run), writes)
                self.assertEqual(run.trace[0], DLOPEN)

    def test_the_users_locale_changes_nothing(self):
        for env in [{"LC_ALL": "de_DE.UTF-8"}, {"LANG": "fr_FR.UTF-8", "LC_NUMERIC": "de_DE"}]:
            for text, levels in [("0.5", [0.5]), ("0,5", [])]:
                with self.subTest(env=env, text=text):
                    self.assertEqual(set_levels(knobwerk("brightness", text, env=env)), levels)

    def test_exact_bytes_of_a_reply(self):
        run = knobwerk("brightness", scenario={})
        self.assertEqual(run.stdout, b'{"brightness":null}\n')
        run = knobwerk("outputs", scenario={})
        self.assertEqual(run.stdout, b'{"current":0,"outputs":[]}\n')


class LevelTextTest(ReplyTestCase):
    def test_accepted_texts_request_their_level(self):
        for text in [".5", "5e-1", "+0.5", "0x1p-1", "0x.8", "0.5", "5E-1", "0X.8P0"]:
            with self.subTest(text=text):
                run = knobwerk("brightness", text)
                self.assertEqual(set_levels(run), [0.5])
                self.assertReply(run, {"brightness": 0.5})

    def test_rejected_texts_change_nothing_and_still_reply(self):
        for text in [" 0.5", "0.5 ", "0,5", "50%", "1e", "0x", "1.2.3", "", "\t0.5", "0.5.", "half", "1/2"]:
            with self.subTest(text=text):
                run = knobwerk("brightness", text)
                self.assertEqual(set_levels(run), [])
                self.assertNotIn("DisplayServicesSetBrightness", [c.get("symbol") for c in run.trace])
                self.assertReply(run, {"brightness": 0.5})

    def test_requested_level_is_limited_before_it_reaches_the_framework(self):
        cases = [
            ("nan", "0.0"), ("NaN", "0.0"), ("nan(1)", "0.0"), ("-5", "0.0"), ("-inf", "0.0"),
            ("-0", "-0.0"), ("0", "0.0"), ("0.25", "0.25"), ("1", "1.0"), ("1.5", "1.0"), ("inf", "1.0"),
            ("INF", "1.0"), ("Infinity", "1.0"), ("1e39", "1.0"), ("1e-50", "0.0"),
            ("0.7", "0.699999988079071"),
        ]
        for text, handed in cases:
            with self.subTest(text=text):
                with sim.Machine(LAPTOP) as machine:
                    run = machine.run("Knobwerk", ["brightness", text])
                    raw = machine.trace_path.read_text().splitlines()
                line = next(l for l in raw if '"DisplayServicesSetBrightness","display"' in l)
                self.assertEqual(line, '{"call":"DisplayServicesSetBrightness","display":1,"level":%s}' % handed)
                self.assertEqual(run.status, 0)
                # The reply reads the level back as a float.
                self.assertEqual(run.lines(), [{"brightness": float(handed)}])
        # Negative zero keeps its sign on the way back, also for readers
        # that take "-0" for the integer 0.
        self.assertEqual(knobwerk("brightness", "-0").stdout, b'{"brightness":-0.0}\n')


class BrightnessTest(ReplyTestCase):
    def test_read_and_set_make_the_calls_in_order(self):
        run = knobwerk("brightness", "0.75")
        find_display = [
            {"call": "CGGetOnlineDisplayList", "capacity": 0},
            {"call": "CGGetOnlineDisplayList", "capacity": 2},
            {"call": "CGDisplayIsBuiltin", "display": 5},
            {"call": "CGDisplayIsBuiltin", "display": 1},
        ]
        self.assertEqual(run.trace, [
            DLOPEN,
            *find_display,
            {"call": "dlsym", "symbol": "DisplayServicesSetBrightness"},
            {"call": "DisplayServicesSetBrightness", "display": 1, "level": 0.75},
            *find_display,
            {"call": "dlsym", "symbol": "DisplayServicesGetBrightness"},
            {"call": "DisplayServicesGetBrightness", "display": 1},
            {"call": "exit", "status": 0},
        ])
        self.assertEqual(run.lines(), [{"brightness": 0.75}])

    def test_failures_give_null_and_skip_the_change(self):
        cases = {
            "framework not loaded": scenario(displayServices={"loads": False}),
            "no entry points": scenario(displayServices={"symbols": []}),
            "count query fails": scenario(displays={"countStatus": 1001}),
            "list query fails": scenario(displays={"listStatus": -1}),
            "no display online": scenario(displays={"online": []}),
            "only external displays": scenario(displays={"online": [{"id": 5}, {"id": 6, "builtin": False}]}),
            "empty machine": {},
        }
        for name, machine in cases.items():
            with self.subTest(name):
                run = knobwerk("brightness", "0.3", scenario=machine)
                self.assertReply(run, {"brightness": None})
                self.assertEqual(set_levels(run), [])

    def test_missing_framework_still_queries_the_display_list_first(self):
        run = knobwerk("brightness", scenario=scenario(displayServices={"loads": False}))
        self.assertEqual(run.calls(), ["dlopen", "CGGetOnlineDisplayList", "CGGetOnlineDisplayList",
                                       "CGDisplayIsBuiltin", "CGDisplayIsBuiltin", "exit"])

    def test_each_entry_point_is_looked_up_on_its_own(self):
        only_set = scenario(displayServices={"symbols": ["DisplayServicesSetBrightness"]})
        run = knobwerk("brightness", "0.3", scenario=only_set)
        self.assertEqual(set_levels(run), [0.30000001192092896])
        self.assertReply(run, {"brightness": None})
        only_get = scenario(displayServices={"symbols": ["DisplayServicesGetBrightness", "DisplayServicesSetBright"]})
        run = knobwerk("brightness", "0.3", scenario=only_get)
        self.assertEqual(set_levels(run), [])
        self.assertReply(run, {"brightness": 0.5})

    def test_reply_reads_the_level_back(self):
        cases = [
            ("read fails after a change", {"getStatus": 7}, "0.3", None),
            ("framework ignores the change", {"setChangesLevel": False}, "0.3", 0.5),
            ("level kept as a 32-bit float", {"level": 0.7}, None, 0.699999988079071),
            ("level above 1 is not limited on the way back", {"level": 3.5}, None, 3.5),
            ("negative level read back", {"level": -0.25}, None, -0.25),
        ]
        for name, services, value, reply in cases:
            with self.subTest(name):
                args = ["brightness"] + ([value] if value else [])
                self.assertReply(knobwerk(*args, scenario=scenario(displayServices=services)), {"brightness": reply})

    def test_a_non_finite_level_read_back_is_null(self):
        for level in ["nan", "inf", "-inf"]:
            with self.subTest(level=level):
                run = knobwerk("brightness", scenario=scenario(displayServices={"level": level}))
                self.assertEqual(run.stdout, b'{"brightness":null}\n')
                self.assertEqual((run.status, run.stderr), (0, b""))

    def test_display_choice(self):
        cases = [
            ("first built-in display in list order", [{"id": 3, "builtin": True}, {"id": 4, "builtin": True}], None, 3,
             [3]),
            ("slots the list query leaves empty are tested as id 0",
             [{"id": 8}, {"id": 9}, {"id": 1, "builtin": True}], 1, None, [8, 0, 0]),
            ("a display id above 2^31", [{"id": 4294967295, "builtin": True}], None, 4294967295, [4294967295]),
        ]
        for name, online, filled, chosen, tested in cases:
            with self.subTest(name):
                displays = {"online": online} if filled is None else {"online": online, "filled": filled}
                run = knobwerk("brightness", "0.5", scenario=scenario(displays=displays))
                sets = [c["display"] for c in run.trace if c["call"] == "DisplayServicesSetBrightness"]
                self.assertEqual(sets, [] if chosen is None else [chosen])
                builtin_tests = [c["display"] for c in run.trace if c["call"] == "CGDisplayIsBuiltin"]
                self.assertEqual(builtin_tests, tested * 2)


SPEAKERS = {"id": 73, "name": "Speakers"}


def outputs_scenario(devices, **audio):
    return {"audio": {"devices": devices, **audio}}


class OutputsTest(ReplyTestCase):
    def test_listing(self):
        cases = [
            ("no devices", [], {"defaultOutput": 0}, {"current": 0, "outputs": []}),
            ("input devices only", [{"id": 40, "outputStreamsSize": 0, "name": "Mic"}], {"defaultOutput": 40},
             {"current": 40, "outputs": []}),
            ("streams query fails", [{"id": 40, "outputStreamsStatus": 1, "name": "Gone"}, SPEAKERS], {},
             {"current": 0, "outputs": [SPEAKERS]}),
            ("name read fails", [{"id": 40, "nameStatus": 5, "name": "Hidden"}, SPEAKERS], {},
             {"current": 0, "outputs": [SPEAKERS]}),
            ("name read hands back nothing", [{"id": 40, "name": None}, SPEAKERS], {},
             {"current": 0, "outputs": [SPEAKERS]}),
            ("empty name is listed", [{"id": 40, "name": ""}], {}, {"current": 0, "outputs": [{"id": 40, "name": ""}]}),
            ("default read fails", [SPEAKERS], {"defaultStatus": 0x77686F3F}, {"current": None, "outputs": [SPEAKERS]}),
            ("default not compared with the list", [SPEAKERS], {"defaultOutput": 999},
             {"current": 999, "outputs": [SPEAKERS]}),
            ("device list size query fails", [SPEAKERS], {"devicesSizeStatus": 1, "defaultOutput": 73},
             {"current": 73, "outputs": []}),
            ("device list read fails", [SPEAKERS], {"devicesStatus": 1, "defaultOutput": 73},
             {"current": 73, "outputs": []}),
            ("ids above 2^31 stay positive", [{"id": 2147483648, "name": "A"}, {"id": 4294967295, "name": "B"}],
             {"defaultOutput": 4294967295},
             {"current": 4294967295, "outputs": [{"id": 2147483648, "name": "A"}, {"id": 4294967295, "name": "B"}]}),
            ("platform order kept", [{"id": 9, "name": "Z"}, {"id": 2, "name": "A"}, {"id": 5, "name": "M"}], {},
             {"current": 0, "outputs": [{"id": 9, "name": "Z"}, {"id": 2, "name": "A"}, {"id": 5, "name": "M"}]}),
        ]
        for name, devices, audio, reply in cases:
            with self.subTest(name):
                self.assertReply(knobwerk("outputs", scenario=outputs_scenario(devices, **audio)), reply)

    def test_walk_order_and_name_release(self):
        devices = [SPEAKERS, {"id": 81, "outputStreamsSize": 0, "name": "Mic"}, {"id": 40, "nameStatus": 5, "name": "X"},
                   {"id": 41, "name": None}, {"id": 92, "name": "Display"}]
        run = knobwerk("outputs", scenario=outputs_scenario(devices, defaultOutput=73))
        address = lambda obj, sel, scope: {"object": obj, "selector": sel, "scope": scope, "element": 0}
        size = lambda obj, sel, scope: {"call": "AudioObjectGetPropertyDataSize", **address(obj, sel, scope)}
        read = lambda obj, sel, cap: {"call": "AudioObjectGetPropertyData", **address(obj, sel, "glob"), "capacity": cap}
        self.assertEqual(run.trace, [
            DLOPEN,
            read(1, "dOut", 4),
            size(1, "dev#", "glob"),
            read(1, "dev#", 20),
            size(73, "stm#", "outp"), read(73, "lnam", 8), {"call": "CFRelease", "device": 73},
            size(81, "stm#", "outp"),
            size(40, "stm#", "outp"), read(40, "lnam", 8),
            size(41, "stm#", "outp"), read(41, "lnam", 8),
            size(92, "stm#", "outp"), read(92, "lnam", 8), {"call": "CFRelease", "device": 92},
            {"call": "exit", "status": 0},
        ])

    def test_device_list_buffer_follows_the_reported_size(self):
        devices = [{"id": 10, "name": "A"}, {"id": 11, "name": "B"}, {"id": 12, "name": "C"}]
        cases = [
            # (reported size, ids the read may write, capacity handed over, objects walked)
            (10, None, 8, [10, 11]),
            (3, None, 0, []),
            (0, None, 0, []),
            (16, None, 16, [10, 11, 12, 0]),
            (12, 1, 12, [10, 0, 0]),
        ]
        for size, filled, capacity, walked in cases:
            with self.subTest(size=size, filled=filled):
                audio = {"devicesSize": size}
                if filled is not None:
                    audio["devicesFilled"] = filled
                run = knobwerk("outputs", scenario=outputs_scenario(devices, **audio))
                reads = [c["capacity"] for c in run.trace if c["call"] == "AudioObjectGetPropertyData"
                         and c["selector"] == "dev#"]
                self.assertEqual(reads, [capacity])
                streams = [c["object"] for c in run.trace if c.get("selector") == "stm#"]
                self.assertEqual(streams, walked)
                names = {"10": "A", "11": "B", "12": "C"}
                expected = [{"id": i, "name": names[str(i)]} for i in walked if i]
                self.assertReply(run, {"current": 0, "outputs": expected})

    def test_a_device_list_too_large_to_allocate_is_a_failed_read(self):
        # A faulty driver's size: the buffer cannot be had, so the list is
        # empty, the read is never made, and nothing is said about it.
        devices = [SPEAKERS, {"id": 92, "name": "Display"}]
        limits = sim.memory_limit(256)
        if limits is None:
            # There an allocation of 4 GiB succeeds: nothing would fail.
            self.skipTest("no way here to limit a program's memory: RLIMIT_AS is refused and there is no "
                          "AddressSanitizer")
        for size in (4294967295, 4294967292, 1024 * 2**20):
            for args in (("outputs",), ("output", "92")):
                with self.subTest(size=size, args=args):
                    with sim.Machine(outputs_scenario(devices, devicesSize=size, defaultOutput=73)) as machine:
                        run = machine.run("Knobwerk", args, **limits)
                    run.stderr = sim.without_allocator_notes(run.stderr)
                    self.assertReply(run, {"current": 73, "outputs": []})
                    self.assertEqual(default_writes(run), [])
                    self.assertNotIn("dev#", [c.get("selector") for c in run.trace
                                              if c["call"] == "AudioObjectGetPropertyData"])
        # The same limit leaves a list of ordinary size alone.
        with sim.Machine(outputs_scenario(devices, defaultOutput=73)) as machine:
            run = machine.run("Knobwerk", ["output", "92"], **limits)
        self.assertReply(run, {"current": 92, "outputs": [SPEAKERS, {"id": 92, "name": "Display"}]})

    def test_choosing_the_default_output(self):
        devices = [SPEAKERS, {"id": 81, "outputStreamsSize": 0, "name": "Mic"}, {"id": 92, "name": "Display"},
                   {"id": 40, "nameStatus": 1, "name": "Unnamed"}, {"id": 0, "name": "Zero"},
                   {"id": 4294967295, "name": "Last"}]
        listed = [SPEAKERS, {"id": 92, "name": "Display"}, {"id": 0, "name": "Zero"}, {"id": 4294967295, "name": "Last"}]
        cases = [
            ("92", [92], 92),
            ("+92", [92], 92),
            ("00092", [92], 92),
            ("-0", [0], 0),
            ("-000", [0], 0),
            ("4294967295", [4294967295], 4294967295),
            ("81", [], 73),           # no output streams
            ("40", [], 73),           # name cannot be read
            ("12345", [], 73),        # names nothing
            ("4294967296", [], 73),   # beyond 32 bits
            ("0x5c", [], 73),
            ("1e2", [], 73),
            (" 92", [], 73),
            ("92 ", [], 73),
            ("+", [], 73),
            ("-", [], 73),
            ("+-92", [], 73),
            ("-92", [], 73),
        ]
        for text, writes, current in cases:
            with self.subTest(text=text):
                run = knobwerk("output", text, scenario=outputs_scenario(devices, defaultOutput=73))
                self.assertEqual(default_writes(run), writes)
                self.assertReply(run, {"current": current, "outputs": listed})

    def test_change_is_read_back_not_assumed(self):
        run = knobwerk("output", "92", scenario=outputs_scenario([SPEAKERS, {"id": 92, "name": "D"}],
                                                                 defaultOutput=73, setChangesDefault=False))
        self.assertEqual(default_writes(run), [92])
        self.assertEqual(run.lines()[0]["current"], 73)

    def test_set_walks_the_list_then_writes_then_replies(self):
        run = knobwerk("output", "73", scenario=outputs_scenario([SPEAKERS], defaultOutput=0))
        self.assertEqual(run.calls(), [
            "dlopen",
            "AudioObjectGetPropertyDataSize", "AudioObjectGetPropertyData",
            "AudioObjectGetPropertyDataSize", "AudioObjectGetPropertyData", "CFRelease",
            "AudioObjectSetPropertyData",
            "AudioObjectGetPropertyData",
            "AudioObjectGetPropertyDataSize", "AudioObjectGetPropertyData",
            "AudioObjectGetPropertyDataSize", "AudioObjectGetPropertyData", "CFRelease",
            "exit",
        ])
        write = next(c for c in run.trace if c["call"] == "AudioObjectSetPropertyData")
        self.assertEqual(write, {"call": "AudioObjectSetPropertyData", "object": 1, "selector": "dOut",
                                 "scope": "glob", "element": 0, "size": 4, "value": 73})

    def test_names_are_written_by_the_json_rules(self):
        names = ['AirPods / "Pro"', "back\\slash", "tab\tline\nfeed", "Büro 日本 🎧", "\u007f\u0001"]
        devices = [{"id": 10 + i, "name": name} for i, name in enumerate(names)]
        run = knobwerk("outputs", scenario=outputs_scenario(devices))
        self.assertReply(run, {"current": 0, "outputs": [{"id": d["id"], "name": d["name"]} for d in devices]})
        line = run.stdout.decode("utf-8")
        self.assertEqual(line.count("\n"), 1)
        self.assertIn(r'"AirPods \/ \"Pro\""', line)
        self.assertIn("Büro 日本 🎧", line)
        self.assertNotIn("\\u00fc", line)

    def test_a_name_that_is_not_utf8_prints_nothing(self):
        # A lone surrogate is valid JSON but has no UTF-8 form.
        for name in ["caf\udce9", "\ud83c"]:
            with self.subTest(name=name):
                run = knobwerk("outputs", scenario=outputs_scenario([SPEAKERS, {"id": 10, "name": name}]))
                self.assertEqual((run.status, run.stdout, run.stderr), (0, b"", b""))
                self.assertEqual(run.trace[-1], {"call": "exit", "status": 0})


class ScenarioFaultTest(unittest.TestCase):
    def test_faulty_scenarios_end_with_status_3_before_any_call(self):
        cases = {
            "not JSON": "{",
            "not an object": "[]",
            "unknown key": {"display": {}},
            "unknown nested key": {"audio": {"devices": [], "defualtOutput": 1}},
            "wrong type": {"displayServices": {"loads": "yes"}},
            "negative id": {"audio": {"devices": [{"id": -1, "name": "x"}]}},
            "id beyond 32 bits": {"displays": {"online": [{"id": 4294967296}]}},
            "fractional id": {"audio": {"defaultOutput": 1.5}},
            "missing device name": {"audio": {"devices": [{"id": 1}]}},
            "missing device id": {"audio": {"devices": [{"name": "x"}]}},
            "symbol that is not text": {"displayServices": {"symbols": [1]}},
            "level as text": {"displayServices": {"level": "half"}},
            "trailing text": '{"audio": {}} x',
            "raw bytes that are not UTF-8": b'{"audio": {"devices": [{"id": 10, "name": "caf\xe9"}]}}',
            "a line feed inside a key name": {"displays": {"on\nline": []}},
            "duplicate key": '{"audio": {}, "audio": {}}',
        }
        for name, text in cases.items():
            with self.subTest(name):
                run = knobwerk("brightness", scenario=text)
                self.assertEqual((run.status, run.stdout), (3, b""))
                self.assertEqual(run.stderr.count(b"\n"), 1, run.stderr)
                self.assertTrue(run.stderr.endswith(b"\n"))
                self.assertEqual(run.trace, [{"call": "exit", "status": 3}])

    def test_special_numbers_are_accepted_where_a_float_is_given(self):
        for level in ["nan", "inf", "-inf", 0.25, 1]:
            with self.subTest(level=level):
                run = knobwerk("brightness", scenario={"displayServices": {"loads": True, "level": level},
                                                       "displays": {"online": [{"id": 1, "builtin": True}]}})
                self.assertEqual(run.status, 0)

    def test_every_programs_sections_are_accepted(self):
        run = knobwerk("brightness", scenario={"frontmost": None, "clock": [1.5], "screens": [], "mainScreen": None})
        self.assertEqual(run.status, 0)


@sim.linux_only
class NativeLinuxTest(unittest.TestCase):
    def run_native(self, *args):
        # No sound server: a socket that does not exist, and libpulse's files
        # in a folder of its own rather than the user's home.
        with tempfile.TemporaryDirectory() as home:
            env = {**os.environ, "HOME": home, "XDG_RUNTIME_DIR": home, "XDG_CONFIG_HOME": home,
                   "PULSE_SERVER": f"unix:{home}/missing"}
            return subprocess.run([sim.native_program("Knobwerk"), *args], capture_output=True, env=env, timeout=10)

    def test_the_empty_machine_replies_null(self):
        # The brightness commands read and set the real machine's backlight:
        # tests/linux runs them against fixture trees instead.
        cases = [
            (("outputs",), b'{"current":null,"outputs":[]}\n'),
            (("output", "1"), b'{"current":null,"outputs":[]}\n'),
        ]
        for args, stdout in cases:
            with self.subTest(args=args):
                proc = self.run_native(*args)
                self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, stdout, b""))

    def test_usage(self):
        proc = self.run_native("help")
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (2, b"", USAGE))


if __name__ == "__main__":
    unittest.main()
