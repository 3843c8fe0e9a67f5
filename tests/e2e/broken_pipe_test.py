"""A host that has stopped reading: each program's write fails quietly and the
program ends with its own status, never by SIGPIPE. On the simulated machine
the trace's exit line then records that status; the native programs are run
too."""

import json
import os
import subprocess
import tempfile
import time
import unittest

import sim

WAIT = 10  # seconds: the longest any single step may take

EDITOR = {"bundleId": "com.example.editor", "name": "Editor", "pid": 501}
MAIL = {"bundleId": "com.example.mail", "name": "Mail", "pid": 77}
MACHINE = {
    "displayServices": {"loads": True, "level": 0.5},
    "displays": {"online": [{"id": 1, "builtin": True}]},
    "audio": {"devices": [{"id": 73, "name": "Speakers"}, {"id": 92, "name": "Display"}], "defaultOutput": 73},
    "screens": [{"top": 32, "frameWidth": 1512, "left": 664, "right": 664}],
    "frontmost": EDITOR,
}


def closed_pipe():
    """The write end of a pipe whose read end is already closed."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    return write_end


class BrokenPipeTestCase(unittest.TestCase):
    def start(self, command, env=None, broken=("stdout",), stdin=subprocess.DEVNULL):
        """Starts `command` with the streams named in `broken` going to a pipe
        nobody reads; the others are pipes the test reads."""
        streams = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE}
        ends = []
        for name in broken:
            ends.append(closed_pipe())
            streams[name] = ends[-1]
        proc = subprocess.Popen(command, env=env, stdin=stdin, **streams)
        for end in ends:
            os.close(end)
        self.addCleanup(self.stop, proc)
        return proc

    @staticmethod
    def stop(proc):
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        for stream in (proc.stdin, proc.stdout, proc.stderr):
            if stream is not None:
                stream.close()

    def finish(self, proc):
        """(status, standard error) once the program has ended on its own; a
        stream that is broken reads as None."""
        status = proc.wait(timeout=WAIT)
        return status, proc.stderr.read() if proc.stderr else None


ONE_SHOT_CASES = [
    # (program, arguments, broken streams, status)
    ("Knobwerk", ["brightness"], ("stdout",), 0),
    ("Knobwerk", ["brightness", "0.25"], ("stdout",), 0),
    ("Knobwerk", ["outputs"], ("stdout",), 0),
    ("Knobwerk", ["output", "92"], ("stdout",), 0),
    ("Knobwerk", [], ("stderr",), 2),
    ("Knobwerk", ["--help"], ("stdout", "stderr"), 2),
    ("Brimgauge", [], ("stdout",), 0),
]


class SimulatedTest(BrokenPipeTestCase):
    def machine(self):
        machine = sim.Machine(MACHINE)
        self.addCleanup(machine.close)
        return machine

    def test_one_shot_programs_end_with_their_own_status(self):
        for name, args, broken, status in ONE_SHOT_CASES:
            with self.subTest(name=name, args=args, broken=broken):
                machine = self.machine()
                # The same run with every stream read, for comparison.
                normal = machine.run(name, args)
                self.assertEqual(normal.status, status)
                machine.trace_path.unlink()
                proc = self.start([sim.program(name), *args], env=machine.env, broken=broken)
                got, err = self.finish(proc)
                self.assertEqual(got, status)
                if err is not None:
                    self.assertEqual(err, b"")
                # The run went on as it would have, up to its exit line.
                self.assertEqual(machine.trace(), normal.trace)
                self.assertEqual(machine.trace()[-1], {"call": "exit", "status": status})

    def test_a_fault_in_the_scenario_is_reported_to_a_closed_pipe(self):
        machine = sim.Machine({"displays": {"online": "none"}})
        self.addCleanup(machine.close)
        for name in ("Knobwerk", "Brimgauge", "Quelmark"):
            with self.subTest(name):
                proc = self.start([sim.program(name), "outputs"], env=machine.env, broken=("stdout", "stderr"))
                self.assertEqual(self.finish(proc), (3, None))
                self.assertEqual(machine.trace(), [{"call": "exit", "status": 3}])
                machine.trace_path.unlink()

    def test_the_watcher_keeps_watching_until_its_input_ends(self):
        machine = self.machine()
        events = machine.dir / "events.jsonl"
        events.write_text(json.dumps({"userInfo": {"NSWorkspaceApplicationKey": MAIL}}) + "\n")
        env = {**machine.env, "SIM_EVENTS": str(events)}
        proc = self.start([sim.program("Quelmark")], env=env, stdin=subprocess.PIPE)
        # The events of a regular file are handled before standard input is
        # served, so once a read of it is traced every record has been
        # written (and has failed).
        proc.stdin.write(b"x")
        proc.stdin.flush()
        deadline = time.monotonic() + WAIT
        while {"call": "read", "fd": 0, "size": 1024, "result": 1} not in machine.trace():
            self.assertIsNone(proc.poll(), machine.trace())
            self.assertLess(time.monotonic(), deadline, machine.trace())
            time.sleep(0.01)
        self.assertIsNone(proc.poll())
        proc.stdin.close()
        self.assertEqual(self.finish(proc), (0, b""))
        self.assertEqual(machine.trace()[-2:], [{"call": "read", "fd": 0, "size": 1024, "result": 0},
                                                {"call": "exit", "status": 0}])


class NativeTest(BrokenPipeTestCase):
    """The native programs on the machine the tests run on: only the requests
    that change nothing (a value would set the real brightness or default
    output), and out of reach of the user's display and sound server."""

    def setUp(self):
        home = tempfile.TemporaryDirectory()
        self.addCleanup(home.cleanup)
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(HOME=home.name, XDG_RUNTIME_DIR=home.name, XDG_CONFIG_HOME=home.name,
                        PULSE_SERVER=f"unix:{home.name}/missing")

    def test_one_shot_programs_end_with_their_own_status(self):
        for name, args, broken, status in ONE_SHOT_CASES:
            if len(args) > 1:
                continue
            with self.subTest(name=name, args=args, broken=broken):
                proc = self.start([sim.native_program(name), *args], env=self.env, broken=broken)
                got, err = self.finish(proc)
                self.assertEqual(got, status)
                if err is not None:
                    self.assertEqual(err, b"")

    def test_the_watcher_ends_with_status_0_when_its_input_does(self):
        proc = self.start([sim.native_program("Quelmark")], env=self.env, stdin=subprocess.PIPE)
        proc.stdin.write(b"x" * 5000)
        proc.stdin.close()
        self.assertEqual(self.finish(proc), (0, b""))


if __name__ == "__main__":
    unittest.main()
