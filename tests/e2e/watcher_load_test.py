"""The focus watcher under load on the simulated machine: a burst of 100,000
activations while 100 MiB arrive on its standard input. Every activation
gets exactly one record, in order; the memory it takes stays bounded; all of
the input is read; and the end of the input still ends it with status 0."""

import json
import os
import select
import subprocess
import unittest

import sim

EVENTS = 100_000
INPUT = 100 * 2**20
WAIT = 60  # seconds without any progress that count as a hang
# Growth of the peak resident memory (VmHWM) allowed from a tenth of the
# way in to the end. The rest of the input (90 MiB) and of the events (about
# 25 MB as text) would each take far more if they piled up.
GROWTH_BOUND = 16 * 2**20
# And a plain bound on the peak itself, to which the events file, read whole
# by design, counts.
PEAK_BOUND = 128 * 2**20
# With AddressSanitizer, a small quarantine, so that its reuse of freed
# memory starts early.
SANITIZER_OPTIONS = "quarantine_size_mb=1"
# Another entry of the user info, ignored by the watcher: events of a size
# that shows if they are kept.
PADDING = "x" * 150


def application(i):
    return {"bundleId": f"com.example.app{i}", "name": f"App {i}", "pid": i}


def event_data():
    lines = (json.dumps({"userInfo": {"NSWorkspaceApplicationKey": application(i), "padding": PADDING}})
             for i in range(EVENTS))
    return ("\n".join(lines) + "\n").encode()


def peak_memory(pid):
    """The process's peak resident memory in bytes, from /proc."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmHWM in /proc")


class LoadTest(unittest.TestCase):
    def start(self, machine, events):
        env = {"SIM_EVENTS": str(events)}
        if sim.address_sanitized():
            old = os.environ.get("ASAN_OPTIONS")
            env["ASAN_OPTIONS"] = f"{old}:{SANITIZER_OPTIONS}" if old else SANITIZER_OPTIONS
        proc = machine.start("Quelmark", env=env)

        def stop():
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for stream in (proc.stdin, proc.stdout, proc.stderr):
                stream.close()

        self.addCleanup(stop)
        return proc

    def run_burst(self, source):
        """Runs the watcher until every record is out and all input is in;
        returns the records' pids, the peak memory, its growth and how it
        ended."""
        machine = sim.Machine()
        self.addCleanup(machine.close)
        events = event_data()
        if source == "file":
            path = machine.dir / "events.jsonl"
            path.write_bytes(events)
            events = b""
        else:
            path = machine.dir / "events.fifo"
            os.mkfifo(path)
            fifo = os.open(path, os.O_RDWR | os.O_NONBLOCK)
            self.addCleanup(os.close, fifo)
        proc = self.start(machine, path)
        stdin, stdout = proc.stdin.fileno(), proc.stdout.fileno()
        os.set_blocking(stdin, False)
        input_left, events_sent = INPUT, 0
        chunk = b"\0" * 2**20
        pending, pids = b"", []
        early_memory = None
        # One loop writes both sources as fast as the watcher takes them and
        # reads the records as they come, so no pipe ever stalls the test.
        while len(pids) < EVENTS or input_left:
            writers = ([stdin] if input_left else []) + ([fifo] if events_sent < len(events) else [])
            readable, writable, _ = select.select([stdout], writers, [], WAIT)
            self.assertTrue(readable or writable, f"no progress in {WAIT} s: {len(pids)} records")
            if stdin in writable:
                input_left -= os.write(stdin, chunk[: min(input_left, len(chunk))])
            if source == "fifo" and fifo in writable:
                try:
                    events_sent += os.write(fifo, events[events_sent : events_sent + 2**16])
                except BlockingIOError:
                    pass
            if readable:
                data = os.read(stdout, 2**16)
                self.assertTrue(data, f"standard output ended after {len(pids)} records")
                *lines, pending = (pending + data).split(b"\n")
                pids.extend(json.loads(line)["pid"] for line in lines)
            if early_memory is None and len(pids) >= EVENTS // 10:
                early_memory = peak_memory(proc.pid)
        memory = peak_memory(proc.pid)
        proc.stdin.close()
        status = proc.wait(timeout=WAIT)
        rest = pending + proc.stdout.read()
        return pids, (memory, memory - early_memory), (status, rest, proc.stderr.read()), machine.trace()

    def test_a_burst_of_events_while_input_floods_in(self):
        for source in ("fifo", "file"):
            with self.subTest(source):
                pids, (memory, growth), ended, trace = self.run_burst(source)
                self.assertEqual(ended, (0, b"", b""))
                self.assertEqual(len(pids), EVENTS)
                self.assertEqual(pids, list(range(EVENTS)))
                self.assertLess(growth, GROWTH_BOUND)
                self.assertLess(memory, PEAK_BOUND)
                reads = [entry["result"] for entry in trace if entry["call"] == "read"]
                self.assertEqual((sum(reads), reads[-1]), (INPUT, 0))
                self.assertEqual(trace[-1], {"call": "exit", "status": 0})


if __name__ == "__main__":
    unittest.main()
