"""The simulated programs started with a standard stream closed. The machine
opens its own files (scenario, trace, events) on descriptors above 2, so none
of them is ever taken for a standard stream: each run makes the same calls
and ends with status 0, and what goes to the streams still open is the same."""

import json
import os
import subprocess
import unittest

import sim

WAIT = 10  # seconds: the longest any single run may take

EDITOR = {"bundleId": "com.example.editor", "name": "Editor", "pid": 501}
MAIL = {"bundleId": "com.example.mail", "name": "Mail", "pid": 77}
MACHINE = {
    "displayServices": {"loads": True, "level": 0.5},
    "displays": {"online": [{"id": 1, "builtin": True}]},
    "audio": {"devices": [{"id": 73, "name": "Speakers"}], "defaultOutput": 73},
    "screens": [{"top": 32, "frameWidth": 1512, "left": 664, "right": 664}],
    "frontmost": EDITOR,
    "clock": [1700000000.5, 1700000001.5],
}
PROGRAMS = [("Knobwerk", ["outputs"]), ("Knobwerk", ["brightness", "0.25"]), ("Brimgauge", []), ("Quelmark", [])]
STREAMS = {0: "standard input", 1: "standard output", 2: "standard error"}


def run(name, args, closed):
    """Runs a simulated program with descriptor `closed` closed (None: all
    open; standard input is then an empty pipe); its output and trace."""
    with sim.Machine(MACHINE) as machine:
        events = machine.dir / "events.jsonl"
        events.write_text(json.dumps({"userInfo": {"NSWorkspaceApplicationKey": MAIL}}) + "\n")
        pipes = [None if fd == closed else subprocess.PIPE for fd in (0, 1, 2)]
        proc = subprocess.Popen([sim.program(name), *args], stdin=pipes[0], stdout=pipes[1], stderr=pipes[2],
                                env={**machine.env, "SIM_EVENTS": str(events)},
                                preexec_fn=None if closed is None else lambda: os.close(closed))
        try:
            out, err = proc.communicate(timeout=WAIT)
        finally:
            proc.kill()
            proc.wait()
        return proc.returncode, {1: out, 2: err}, machine.trace()


class ClosedStreamTest(unittest.TestCase):
    def test_each_program_with_each_stream_closed_ends_as_with_all_open(self):
        for name, args in PROGRAMS:
            status, output, trace = run(name, args, None)
            self.assertEqual((status, output[2], trace[-1]), (0, b"", {"call": "exit", "status": 0}))
            for fd, stream in STREAMS.items():
                with self.subTest(program=name, args=args, closed=stream):
                    closed_status, closed_output, closed_trace = run(name, args, fd)
                    self.assertEqual(closed_status, 0)
                    for open_fd in {1, 2} - {fd}:
                        self.assertEqual(closed_output[open_fd], output[open_fd])
                    expected = trace
                    if fd == 0:
                        # The lifeline's read fails rather than reads its end.
                        expected = [{**line, "result": -1} if line["call"] == "read" else line for line in trace]
                    self.assertEqual(closed_trace, expected)


if __name__ == "__main__":
    unittest.main()
