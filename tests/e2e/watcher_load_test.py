"""The focus watcher under load on the simulated machine: a burst of 100,000
activations while 100 MiB arrive on its standard input. Every activation
gets exactly one record, in order; the memory it takes stays bounded; all of
the input is read; and the end of the input still ends it with status 0."""

import json
import os
import select
import sys
import time
import unittest

import sim

EVENTS = 100_000
INPUT = 100 * 2**20
WAIT = 60  # seconds without any progress that count as a hang
# Growth of the peak resident memory allowed from a tenth of the way in to
# the end, where /proc shows it while the watcher runs. The rest of the
# input (90 MiB) and of the events (about 25 MB as text) would each take far
# more if they piled up.
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


def write_events(path):
    """Writes the events file a batch at a time. The test never holds all of
    it: on Linux a child's ru_maxrss counts the resident memory of the
    process that started it, so that process must stay small."""
    with open(path, "w") as events:
        for first in range(0, EVENTS, 1000):
            events.writelines(json.dumps({"userInfo": {"NSWorkspaceApplicationKey": application(i),
                                                       "padding": PADDING}}) + "\n"
                              for i in range(first, min(first + 1000, EVENTS)))


def peak_memory_so_far(pid):
    """The running process's peak resident memory in bytes (VmHWM), or None
    where there is no /proc (a Mac)."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except FileNotFoundError:
        return None
    raise AssertionError("no VmHWM in /proc")


def wait_with_usage(proc, timeout):
    """Reaps `proc` through wait4 within `timeout` seconds: (status, peak
    resident memory in bytes, which ru_maxrss counts in KiB on Linux and in
    bytes on macOS)."""
    deadline = time.monotonic() + timeout
    pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
    while not pid:
        if time.monotonic() > deadline:
            raise AssertionError(f"still running {timeout} s after its input ended")
        time.sleep(0.01)
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode, usage.ru_maxrss * (1 if sys.platform == "darwin" else 1024)


def trace_summary(machine):
    """(the results of the reads in order, the last call) from the trace,
    read a line at a time: parsed whole it would take some 100 MB, which on
    Linux would count towards the peak of the next watcher started."""
    reads, last = [], None
    with open(machine.trace_path, "rb") as trace:
        for line in trace:
            last = json.loads(line)
            if last["call"] == "read":
                reads.append(last["result"])
    return reads, last


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
        path = machine.dir / "events.jsonl"
        write_events(path)
        events = None  # the rest of the file for the FIFO; None once all is sent
        if source == "fifo":
            events = open(path, "rb")
            self.addCleanup(events.close)
            path = machine.dir / "events.fifo"
            os.mkfifo(path)
            fifo = os.open(path, os.O_RDWR | os.O_NONBLOCK)
            self.addCleanup(os.close, fifo)
        proc = self.start(machine, path)
        stdin, stdout = proc.stdin.fileno(), proc.stdout.fileno()
        os.set_blocking(stdin, False)
        input_left, unsent = INPUT, b""
        chunk = b"\0" * 2**20
        pending, pids = b"", []
        early_memory, sampled = None, False
        # One loop writes both sources as fast as the watcher takes them and
        # reads the records as they come, so no pipe ever stalls the test.
        while len(pids) < EVENTS or input_left:
            writers = ([stdin] if input_left else []) + ([fifo] if events else [])
            readable, writable, _ = select.select([stdout], writers, [], WAIT)
            self.assertTrue(readable or writable, f"no progress in {WAIT} s: {len(pids)} records")
            if stdin in writable:
                input_left -= os.write(stdin, chunk[: min(input_left, len(chunk))])
            if events and fifo in writable:
                unsent = unsent or events.read(2**16)
                if not unsent:
                    events = None
                    continue
                try:
                    unsent = unsent[os.write(fifo, unsent) :]
                except BlockingIOError:
                    pass
            if readable:
                data = os.read(stdout, 2**16)
                self.assertTrue(data, f"standard output ended after {len(pids)} records")
                *lines, pending = (pending + data).split(b"\n")
                pids.extend(json.loads(line)["pid"] for line in lines)
            if not sampled and len(pids) >= EVENTS // 10:
                early_memory, sampled = peak_memory_so_far(proc.pid), True
        memory = peak_memory_so_far(proc.pid)
        proc.stdin.close()
        status, peak = wait_with_usage(proc, WAIT)
        rest = pending + proc.stdout.read()
        # Where /proc is missing only the whole run's peak can be had.
        growth = None if memory is None or early_memory is None else memory - early_memory
        return pids, (memory or peak, growth), (status, rest, proc.stderr.read()), trace_summary(machine)

    def test_a_burst_of_events_while_input_floods_in(self):
        for source in ("fifo", "file"):
            with self.subTest(source):
                pids, (memory, growth), ended, trace = self.run_burst(source)
                self.assertEqual(ended, (0, b"", b""))
                self.assertEqual(len(pids), EVENTS)
                self.assertEqual(pids, list(range(EVENTS)))
                if growth is None:
                    print(f"\n{source}: no /proc, so the peak memory is bounded but not its growth",
                          file=sys.stderr)
                else:
                    self.assertLess(growth, GROWTH_BOUND)
                self.assertLess(memory, PEAK_BOUND)
                reads, last = trace
                self.assertEqual((sum(reads), reads[-1]), (INPUT, 0))
                self.assertEqual(last, {"call": "exit", "status": 0})


if __name__ == "__main__":
    unittest.main()
