"""End-to-end tests of the focus watcher on the simulated machine."""

import json
import os
import select
import subprocess
import time
import unittest

import sim

KEYS = {"v", "at", "bundleId", "name", "pid"}
INT64_MAX = 2**63 - 1
INT64_MIN = -(2**63)
# Seconds a single step may take before the watcher is taken to be stuck: a
# bound for a hang, not a speed requirement, so it is generous for a busy
# machine.
WAIT = 30

EDITOR = {"bundleId": "com.example.editor", "name": "Editor", "pid": 501}
MAIL = {"bundleId": "com.example.mail", "name": "Mail", "pid": 77}
SENTINEL = {"bundleId": "com.example.sentinel", "name": "Sentinel", "pid": 9}

START_UP = [
    {"call": "setvbuf", "mode": 1},
    {"call": "sharedWorkspace"},
    {"call": "frontmostApplication"},
    {"call": "addObserver", "name": "NSWorkspaceDidActivateApplicationNotification", "queue": "main"},
    {"call": "makeReadSource", "fd": 0, "queue": "main"},
    {"call": "setEventHandler"},
    {"call": "resume"},
    {"call": "setActivationPolicy", "policy": 2},
    {"call": "runMainLoop"},
]
END = [{"call": "read", "fd": 0, "size": 1024, "result": 0}, {"call": "exit", "status": 0}]


def activation(application):
    return {"userInfo": {"NSWorkspaceApplicationKey": application}}


def event_lines(events):
    """Event lines; an entry that is already text is written as it is."""
    return "".join((e if isinstance(e, str) else json.dumps(e, ensure_ascii=False)) + "\n" for e in events)


def record(line):
    """A focus record from one output line, checked for its shape."""
    assert line.endswith(b"\n") and line.count(b"\n") == 1, line
    assert all(b >= 0x20 for b in line[:-1]), line
    value = json.loads(line)
    assert set(value) == KEYS, value
    assert value["v"] == 1, value
    return value


def ended_input(test, kind):
    """Standard input that is already at its end when the watcher starts:
    the null device, or a pipe whose writer has closed it. (A pipe that the
    test closes only after the start would race the main loop: an event
    waiting then may be handled first, and rightly so.)"""
    if kind == "null device":
        return subprocess.DEVNULL
    read_end, write_end = os.pipe()
    os.close(write_end)
    test.addCleanup(os.close, read_end)
    return read_end


def described(value):
    """The application a record describes."""
    return {"bundleId": value["bundleId"], "name": value["name"], "pid": value["pid"]}


class Watcher:
    """A running build/sim/Quelmark whose standard input the test holds open
    and whose standard output it reads line by line as the lines arrive."""

    def __init__(self, test, machine, events=None, args=(), **streams):
        env = {"SIM_EVENTS": str(events)} if events is not None else None
        self.machine = machine
        self.proc = machine.start("Quelmark", args, env=env, **streams)
        self.pending = b""
        test.addCleanup(self._stop)

    def _stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if stream is not None:
                stream.close()

    def read_line(self, timeout=WAIT):
        """The next line of standard output, as soon as it is in the pipe."""
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise AssertionError(f"no line within {timeout} s; so far {self.pending!r}")
            chunk = os.read(fd, 4096)
            if not chunk:
                raise AssertionError(f"standard output ended; so far {self.pending!r}")
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line + b"\n"

    def read_records(self, count):
        return [record(self.read_line()) for _ in range(count)]

    def write_input(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def finish(self):
        """Closes standard input (if the test holds it) and waits for the
        end: (status, the output not yet read, standard error)."""
        if self.proc.stdin is not None and not self.proc.stdin.closed:
            self.proc.stdin.close()
        status = self.proc.wait(timeout=WAIT)
        rest = self.pending + (self.proc.stdout.read() if self.proc.stdout else b"")
        error = self.proc.stderr.read() if self.proc.stderr else b""
        return status, rest, error


class WatcherTestCase(unittest.TestCase):
    def machine(self, scenario=None):
        machine = sim.Machine(scenario)
        self.addCleanup(machine.close)
        return machine

    def events_file(self, machine, events):
        """An events file: text as it is, or a list of events, where an entry
        that is bytes is written as it is, as one line."""
        path = machine.dir / "events.jsonl"
        if isinstance(events, str):
            data = events.encode("utf-8")
        else:
            data = b"".join(e + b"\n" if isinstance(e, bytes) else event_lines([e]).encode("utf-8") for e in events)
        path.write_bytes(data)
        return path

    def fifo(self, machine):
        """A FIFO whose ends the test holds (read-write), so the watcher's
        open never waits and the events never end while the test runs."""
        path = machine.dir / "events.fifo"
        os.mkfifo(path)
        fd = os.open(path, os.O_RDWR | os.O_NONBLOCK)
        self.addCleanup(os.close, fd)
        return path, fd

    def watch(self, events, count, scenario=None):
        """Runs the watcher on an events file until `count` records are out,
        then closes its standard input. Returns the records and the trace."""
        machine = self.machine(scenario)
        watcher = Watcher(self, machine, self.events_file(machine, events))
        records = watcher.read_records(count)
        self.assertEnded(watcher.finish())
        trace = machine.trace()
        self.assertEqual(trace[-2:], END)
        return records, trace

    def assertEnded(self, finished, status=0):
        """Ended with `status`, nothing printed after the lines already read,
        nothing on standard error."""
        self.assertEqual(finished, (status, b"", b""))


class StartUpTest(WatcherTestCase):
    def combined_run(self, scenario, events, records):
        """Standard output and the trace go to one file, so the file shows
        when each record was written relative to the platform calls."""
        machine = self.machine(scenario)
        combined = machine.dir / "combined.jsonl"
        env = {"SIM_TRACE": str(combined)}
        if events is not None:
            env["SIM_EVENTS"] = str(self.events_file(machine, events))
        with open(combined, "ab") as out:
            proc = machine.start("Quelmark", env=env, stdout=out, stderr=subprocess.PIPE)
        self.addCleanup(proc.stderr.close)
        self.addCleanup(proc.kill)
        deadline = time.monotonic() + WAIT
        while sum(1 for entry in sim.read_trace(combined) if "call" not in entry) < records:
            self.assertLess(time.monotonic(), deadline, sim.read_trace(combined))
            time.sleep(0.01)
        proc.stdin.close()
        self.assertEqual(proc.wait(timeout=WAIT), 0)
        self.assertEqual(proc.stderr.read(), b"")
        return [entry if "call" in entry else described(entry) for entry in sim.read_trace(combined)]

    def test_start_up_calls_in_order_with_the_initial_record_before_the_observer(self):
        cases = [
            ("frontmost application", {"frontmost": EDITOR}, [EDITOR]),
            ("none frontmost", {"frontmost": None}, []),
            ("empty machine", None, []),
        ]
        for label, scenario, initial in cases:
            with self.subTest(label):
                got = self.combined_run(scenario, None, len(initial))
                self.assertEqual(got, START_UP[:3] + initial + START_UP[3:] + END)

    def test_events_are_handled_only_once_the_main_loop_runs(self):
        got = self.combined_run({"frontmost": EDITOR}, [activation(MAIL)], 2)
        self.assertEqual(got, START_UP[:3] + [EDITOR] + START_UP[3:] + [MAIL] + END)

    def test_arguments_change_nothing(self):
        scenario = {"frontmost": EDITOR, "clock": [1700000000.5]}
        with sim.Machine(scenario) as machine:
            plain = machine.run("Quelmark")
            for args in [("--help",), ("-v", "x"), ("",)]:
                with self.subTest(args=args):
                    run = machine.run("Quelmark", args)
                    self.assertEqual((run.status, run.stdout, run.stderr), (plain.status, plain.stdout, b""))
                    self.assertEqual(run.trace, plain.trace)
        self.assertEqual(plain.lines(), [{"v": 1, "at": 1700000000500, **EDITOR}])


class ActivationTest(WatcherTestCase):
    def test_notifications_without_a_running_application_are_ignored(self):
        # Each is followed by an activation, whose record shows that the
        # one before it has been handled.
        cases = {
            "no user info": {"userInfo": None},
            "empty user info": {"userInfo": {}},
            "text under the key": activation("not an application"),
            "number under the key": activation(42),
            "null under the key": activation(None),
            "list under the key": activation([MAIL]),
            "application under another key": {"userInfo": {"NSWorkspaceApplication": MAIL}},
        }
        for label, event in cases.items():
            with self.subTest(label):
                records, _ = self.watch([event, activation(SENTINEL)], 1)
                self.assertEqual([described(r) for r in records], [SENTINEL])

    def test_every_activation_gets_its_own_record(self):
        events = [activation(EDITOR), activation(EDITOR), activation(MAIL), activation(MAIL)]
        records, _ = self.watch(events, 5, {"frontmost": EDITOR})
        self.assertEqual([described(r) for r in records], [EDITOR, EDITOR, EDITOR, MAIL, MAIL])

    def test_other_user_info_entries_do_not_matter(self):
        event = {"userInfo": {"NSWorkspaceApplicationKey": MAIL, "other": [1, {"x": None}]}}
        records, _ = self.watch([event], 1)
        self.assertEqual([described(r) for r in records], [MAIL])

    def test_blank_event_lines_are_skipped_and_the_last_line_needs_no_line_feed(self):
        text = json.dumps(activation(EDITOR)) + "\n\n  \r\n" + json.dumps(activation(MAIL))
        records, _ = self.watch(text, 2)
        self.assertEqual([described(r) for r in records], [EDITOR, MAIL])

    def test_each_record_reaches_the_pipe_before_the_next_event(self):
        machine = self.machine({"frontmost": EDITOR})
        path, fd = self.fifo(machine)
        watcher = Watcher(self, machine, path)
        self.assertEqual(described(record(watcher.read_line())), EDITOR)
        for pid in range(100, 104):
            application = {"bundleId": f"com.example.app{pid}", "name": f"App {pid}", "pid": pid}
            os.write(fd, event_lines([activation(application)]).encode())
            self.assertEqual(described(record(watcher.read_line())), application)
        self.assertEnded(watcher.finish())


class RecordTest(WatcherTestCase):
    def test_at_is_the_clock_reading_truncated_to_whole_milliseconds(self):
        cases = [
            (1700000000.0009, 1700000000000),  # nine tenths past a whole millisecond
            (1700000000.0001, 1700000000000),  # the same millisecond again
            (1700000000.0019999, 1700000000001),  # just below a whole millisecond
            (1700000000.0020003, 1700000000002),  # just above one
            (1700000000.002, 1700000000002),
            (1700000000.5, 1700000000500),
            (0.0009, 0),
            (-0.0005, 0),  # toward zero, not down
            (-1.0009, -1000),
            (9223372036854774.0, 9223372036854773760),  # the largest product in range
            (-9223372036854776.0, INT64_MIN),  # exactly -2^63: still in range
            # Readings no real clock gives: the conversion saturates.
            (9223372036854776.0, INT64_MAX),  # exactly 2^63
            (-9223372036854778.0, INT64_MIN),
            (1e300, INT64_MAX),
            ("inf", INT64_MAX),
            ("-inf", INT64_MIN),
            ("nan", 0),
        ]
        readings = [reading for reading, _ in cases]
        # One more activation than readings: then the real clock takes over.
        events = [activation(MAIL)] * len(cases)
        before = int(time.time() * 1000)
        records, _ = self.watch(events, len(cases) + 1, {"frontmost": EDITOR, "clock": readings})
        after = int(time.time() * 1000)
        for (reading, expected), got in zip(cases, records):
            with self.subTest(reading=reading):
                self.assertEqual(got["at"], expected)
        self.assertTrue(before - 1 <= records[-1]["at"] <= after + 1, (before, records[-1]["at"], after))

    def test_missing_texts_become_unknown_and_present_ones_stay_as_they_are(self):
        cases = [
            ({"pid": 1}, "unknown", "unknown"),
            ({"bundleId": None, "name": None, "pid": 2}, "unknown", "unknown"),
            ({"bundleId": None, "name": "Notes", "pid": 3}, "unknown", "Notes"),
            ({"bundleId": "com.example.x", "name": None, "pid": 4}, "com.example.x", "unknown"),
            ({"bundleId": "unknown", "name": "X", "pid": 5}, "unknown", "X"),
            ({"bundleId": "", "name": "", "pid": 6}, "", ""),
            ({"bundleId": " com.example.y ", "name": " Spaced \u00a0", "pid": 7}, " com.example.y ", " Spaced \u00a0"),
        ]
        records, _ = self.watch([activation(app) for app, _, _ in cases], len(cases))
        for (app, bundle, name), got in zip(cases, records):
            with self.subTest(app=app):
                self.assertEqual(described(got), {"bundleId": bundle, "name": name, "pid": app["pid"]})

    def test_pid_is_printed_as_given(self):
        pids = [0, -1, 2**31 - 1, -(2**31)]
        records, _ = self.watch([activation({"name": "P", "pid": pid}) for pid in pids], len(pids))
        self.assertEqual([r["pid"] for r in records], pids)

    def test_texts_are_escaped_and_the_record_stays_on_one_line(self):
        # (text, how it must appear in the line, or None where the form of
        # the escape is free)
        cases = [
            ("Mail / Büro", '"Mail \\/ Büro"'),
            ('say "hi"', '"say \\"hi\\""'),
            ("back\\slash", '"back\\\\slash"'),
            ("日本語 🎹 é", '"日本語 🎹 é"'),
            ("line\nbreak\ttab\rcr", None),
            ("\u0000nul\u0001\u001f", None),
        ]
        apps = [{"bundleId": f"com.example/{i}", "name": text, "pid": i} for i, (text, _) in enumerate(cases)]
        machine = self.machine()
        watcher = Watcher(self, machine, self.events_file(machine, [activation(app) for app in apps]))
        lines = [watcher.read_line() for _ in cases]
        self.assertEnded(watcher.finish())
        for (text, written), line in zip(cases, lines):
            with self.subTest(text=text):
                got = record(line)  # one line, no raw control characters
                self.assertEqual(got["name"], text)
                self.assertIn(b'"bundleId":"com.example\\/', line)
                if written is not None:
                    self.assertIn(b'"name":' + written.encode("utf-8"), line)

    def test_a_record_that_is_not_utf8_is_left_out_and_watching_goes_on(self):
        # A lone surrogate is valid JSON but has no UTF-8 form.
        for application in [{"name": "bad \ud800", "pid": 1}, {"bundleId": "\udfff", "pid": 2}]:
            with self.subTest(application=application):
                machine = self.machine()
                events = json.dumps(activation(application)) + "\n" + event_lines([activation(SENTINEL)])
                watcher = Watcher(self, machine, self.events_file(machine, events))
                self.assertEqual(described(record(watcher.read_line())), SENTINEL)
                self.assertEnded(watcher.finish())


class LifelineTest(WatcherTestCase):
    def test_standard_input_ended_before_start(self):
        # The initial record still comes; then the first read ends the
        # watcher. A live event waiting in a FIFO is not handled.
        for label, scenario, lines in [
            ("frontmost application", {"frontmost": EDITOR, "clock": [1.5]}, [{"v": 1, "at": 1500, **EDITOR}]),
            ("none frontmost", {}, []),
        ]:
            for stdin in ("empty pipe", "null device"):
                with self.subTest(label, stdin=stdin), sim.Machine(scenario) as machine:
                    events, fd = self.fifo(machine)
                    os.write(fd, event_lines([activation(MAIL)]).encode())
                    proc = machine.start("Quelmark", env={"SIM_EVENTS": str(events)}, stdin=ended_input(self, stdin))
                    out, err = proc.communicate(timeout=WAIT)
                    run = sim.Run(out, err, proc.returncode, machine.trace())
                    self.assertEqual((run.status, run.stderr), (0, b""))
                    self.assertEqual(run.lines(), lines)
                    self.assertEqual(run.trace, START_UP + END)

    def test_events_from_a_file_have_all_arrived_before_standard_input_ends(self):
        # A regular file's notifications are already there when the loop
        # starts, so they are handled although standard input has ended.
        scenario = {"frontmost": EDITOR}
        with sim.Machine(scenario) as machine:
            events = self.events_file(machine, [activation(MAIL), {"userInfo": None}, activation(SENTINEL)])
            proc = machine.start("Quelmark", env={"SIM_EVENTS": str(events)}, stdin=ended_input(self, "empty pipe"))
            out, err = proc.communicate(timeout=WAIT)
            trace = machine.trace()
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertEqual([described(record(line + b"\n")) for line in out.splitlines()], [EDITOR, MAIL, SENTINEL])
        self.assertEqual(trace, START_UP + END)

    def test_standard_input_not_open_at_all(self):
        # The machine's own files (trace, events) must not take descriptor
        # 0: the lifeline's read fails and the watcher ends, and the trace
        # still holds every call.
        machine = self.machine({"frontmost": EDITOR})
        events = self.events_file(machine, [activation(MAIL)])
        proc = machine.start("Quelmark", env={"SIM_EVENTS": str(events)}, stdin=None,
                             preexec_fn=lambda: os.close(0))
        out, err = proc.communicate(timeout=WAIT)
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertEqual([described(record(line + b"\n")) for line in out.splitlines()], [EDITOR, MAIL])
        self.assertEqual(machine.trace(), START_UP + [{"call": "read", "fd": 0, "size": 1024, "result": -1},
                                                      END[-1]])

    def test_a_failed_read_ends_the_watcher_with_status_0(self):
        machine = self.machine({"frontmost": EDITOR})
        # A directory is always reported readable, and reading it fails.
        fd = os.open(machine.dir, os.O_RDONLY)
        self.addCleanup(os.close, fd)
        watcher = Watcher(self, machine, stdin=fd)
        self.assertEqual(described(record(watcher.read_line())), EDITOR)
        self.assertEnded(watcher.finish())
        self.assertEqual(machine.trace()[-2:], [{"call": "read", "fd": 0, "size": 1024, "result": -1}, END[-1]])

    def test_input_is_drained_in_pieces_and_prints_nothing(self):
        machine = self.machine({"frontmost": EDITOR})
        path, fd = self.fifo(machine)
        watcher = Watcher(self, machine, path)
        self.assertEqual(described(record(watcher.read_line())), EDITOR)
        # Input that looks like events is still only dropped.
        data = event_lines([activation(MAIL)] * 40).encode()
        self.assertGreater(len(data), 3 * 1024)
        watcher.write_input(data)
        os.write(fd, event_lines([activation(SENTINEL)]).encode())
        self.assertEqual(described(record(watcher.read_line())), SENTINEL)
        self.assertIsNone(watcher.proc.poll())
        self.assertEnded(watcher.finish())
        reads = [entry for entry in machine.trace() if entry["call"] == "read"]
        results = [entry.pop("result") for entry in reads]
        self.assertTrue(all(entry == {"call": "read", "fd": 0, "size": 1024} for entry in reads), reads)
        self.assertEqual(results[-1], 0)
        self.assertTrue(all(0 < result <= 1024 for result in results[:-1]), results)
        self.assertEqual(sum(results), len(data))

    def test_closing_input_ends_the_watcher_although_events_keep_coming(self):
        machine = self.machine({"frontmost": EDITOR})
        path, fd = self.fifo(machine)
        watcher = Watcher(self, machine, path)
        os.write(fd, event_lines([activation(MAIL)]).encode())
        self.assertEqual([described(r) for r in watcher.read_records(2)], [EDITOR, MAIL])
        watcher.proc.stdin.close()
        deadline = time.monotonic() + WAIT
        while watcher.proc.poll() is None and time.monotonic() < deadline:
            try:
                os.write(fd, event_lines([activation(SENTINEL)]).encode())
            except BlockingIOError:
                pass
            time.sleep(0.002)
        self.assertEnded(watcher.finish())
        self.assertEqual(machine.trace()[-2:], END)


class FaultTest(WatcherTestCase):
    def test_a_faulty_event_line_ends_the_run_with_status_3_when_it_is_read(self):
        cases = {
            "not JSON": "{not json",
            "not an object": "[1]",
            "no user info": "{}",
            "unknown key": {"userInfo": {}, "extra": 1},
            "user info of the wrong type": {"userInfo": "x"},
            "application without pid": activation({"name": "A"}),
            "pid of the wrong type": activation({"pid": "1"}),
            "pid out of range": activation({"pid": 2**31}),
            "name of the wrong type": activation({"name": 5, "pid": 1}),
            "unknown key in the application": activation({"pid": 1, "colour": "red"}),
            "raw bytes that are not UTF-8": b'{"userInfo": {"NSWorkspaceApplicationKey": {"name": "\xff", "pid": 1}}}',
            "a line feed inside a key name": {"userInfo": {}, "ex\ntra": 1},
        }
        for label, faulty in cases.items():
            with self.subTest(label):
                machine = self.machine()
                events = self.events_file(machine, [activation(MAIL), faulty, activation(SENTINEL)])
                watcher = Watcher(self, machine, events)
                self.assertEqual(described(record(watcher.read_line())), MAIL)
                status = watcher.proc.wait(timeout=WAIT)  # on its own, standard input still open
                self.assertEqual(status, 3)
                self.assertEqual(watcher.proc.stdout.read(), b"")
                error = watcher.proc.stderr.read()
                self.assertTrue(error.endswith(b"\n") and error.count(b"\n") == 1 and len(error) > 1, error)
                self.assertEqual(machine.trace()[-2:], [START_UP[-1], {"call": "exit", "status": 3}])

    def test_events_that_cannot_be_read_end_the_run_with_status_3(self):
        # A directory opens, but no event can ever come from it.
        for label, name in (("missing file", "missing.jsonl"), ("directory", "events.d")):
            with self.subTest(label), sim.Machine({"frontmost": EDITOR}) as machine:
                (machine.dir / "events.d").mkdir()
                run = machine.run("Quelmark", env={"SIM_EVENTS": str(machine.dir / name)})
                self.assertEqual(run.status, 3)
                self.assertEqual([described(line) for line in run.lines()], [EDITOR])
                self.assertTrue(run.stderr.endswith(b"\n") and run.stderr.count(b"\n") == 1, run.stderr)
                self.assertEqual(run.trace, START_UP + [{"call": "exit", "status": 3}])

    def test_a_faulty_focus_scenario_ends_the_run_before_any_call(self):
        cases = {
            "frontmost without pid": {"frontmost": {"name": "A"}},
            "frontmost of the wrong type": {"frontmost": "Editor"},
            "unknown key in frontmost": {"frontmost": {"pid": 1, "title": "A"}},
            "clock not a list": {"clock": 1.5},
            "clock reading not a number": {"clock": [1.5, "soon"]},
        }
        for label, scenario in cases.items():
            with self.subTest(label):
                run = sim.run("Quelmark", scenario=scenario)
                self.assertEqual((run.status, run.stdout), (3, b""))
                self.assertTrue(run.stderr.endswith(b"\n") and run.stderr.count(b"\n") == 1, run.stderr)
                self.assertEqual(run.trace, [{"call": "exit", "status": 3}])


@sim.linux_only
class NativeTest(unittest.TestCase):
    """build/bin/Quelmark on Linux without an X display: nothing is ever
    frontmost or activated, and standard input is a real lifeline."""

    def start(self, stdin):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        proc = subprocess.Popen([sim.native_program("Quelmark")], stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env)
        self.addCleanup(proc.kill)
        return proc

    def test_ends_with_status_0_when_standard_input_does(self):
        for label in ("null device", "pipe closed at once", "pipe written then closed"):
            with self.subTest(label):
                if label == "null device":
                    proc = self.start(subprocess.DEVNULL)
                else:
                    proc = self.start(subprocess.PIPE)
                    if label == "pipe written then closed":
                        proc.stdin.write(b"x" * 5000)
                        proc.stdin.flush()
                        time.sleep(0.1)
                        self.assertIsNone(proc.poll())
                out, err = proc.communicate(timeout=WAIT)
                self.assertEqual((proc.returncode, out, err), (0, b"", b""))

    def test_a_failed_read_ends_it_with_status_0(self):
        fd = os.open(os.path.dirname(__file__), os.O_RDONLY)
        self.addCleanup(os.close, fd)
        proc = self.start(fd)
        out, err = proc.communicate(timeout=WAIT)
        self.assertEqual((proc.returncode, out, err), (0, b"", b""))


if __name__ == "__main__":
    unittest.main()
