"""Runs each native program on the machine at hand: each must print lines
that a JSON parser reads and end with status 0. Nothing is changed: no
brightness is set and no output device chosen.

On a Mac, which must be a logged-in GUI session (the hosted runner is one),
more is expected: Brimgauge's line has a positive screenWidth, and the
watcher, still running until its input closes, records Finder when Finder is
activated.

Usage: python3 scripts/smoke.py BIN_FOLDER   (for example build/bin)"""

import json
import os
import select
import signal
import subprocess
import sys
import time
from pathlib import Path

WAIT = 60  # seconds before a program is taken to hang
ACTIVATION_WAIT = 10  # seconds for an activation's record
# An activation in the moment between the watcher's first record and its
# observer's registration is missed, so the activations are tried again.
ATTEMPTS = 3
FINDER = "com.apple.finder"
# Activated before Finder on each try, so that Finder is never frontmost
# already (which would post nothing).
OTHER = "com.apple.calculator"
MAC = sys.platform == "darwin"


def json_lines(stdout):
    text = stdout.decode("utf-8")
    if text and not text.endswith("\n"):
        raise ValueError("the last line has no line feed")
    return [json.loads(line) for line in text.splitlines()]


def show(name, args, out, err):
    print("$", " ".join([name, *args]))
    sys.stdout.write(out.decode("utf-8", "replace"))
    if err:
        print("(standard error)", err.decode("utf-8", "replace"), end="")


def check(bin_folder, name, args, wanted=None):
    """Runs a one-shot program, which must print one JSON line; `wanted`, if
    given, judges that line and returns what is wrong with it (or None)."""
    proc = subprocess.run([str(bin_folder / name), *args], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=WAIT)
    show(name, args, proc.stdout, proc.stderr)
    try:
        lines = json_lines(proc.stdout)
    except ValueError as error:  # json.JSONDecodeError and UnicodeDecodeError are ValueErrors
        print("FAIL: not JSON lines:", error)
        return False
    if proc.returncode != 0 or len(lines) != 1:
        print(f"FAIL: status {proc.returncode}, {len(lines)} line(s)")
        return False
    fault = wanted(lines[0]) if wanted else None
    if fault:
        print("FAIL:", fault)
    return fault is None


def screen_width(line):
    width = line.get("screenWidth")
    if isinstance(width, int) and width > 0:
        return None
    return "no positive screenWidth"


class Output:
    """The watcher's standard output, read as it comes, line by line."""

    def __init__(self, stream):
        self.fd = stream.fileno()
        self.data = b""
        self.ended = False

    def read_until(self, done, timeout):
        """Reads until `done(complete lines)` is true, the output ends or
        `timeout` seconds pass; returns whether `done` was met."""
        deadline = time.monotonic() + timeout
        while not done(self.lines()):
            left = deadline - time.monotonic()
            if self.ended or left <= 0:
                return False
            if select.select([self.fd], [], [], left)[0]:
                chunk = os.read(self.fd, 65536)
                self.data += chunk
                self.ended = not chunk
        return True

    def lines(self):
        return json_lines(self.data[: self.data.rfind(b"\n") + 1])


def activated(records, bundle_id):
    """The first activation record of `bundle_id`: a record after the first
    line, which may be the application frontmost at start."""
    return next((record for record in records[1:] if record.get("bundleId") == bundle_id), None)


def pids_of(process_name):
    found = subprocess.run(["pgrep", "-x", process_name], capture_output=True, text=True, timeout=WAIT)
    return {int(pid) for pid in found.stdout.split()}


def activate(bundle_id):
    # Launch Services, not an Apple event: an event to Finder would need the
    # user's consent to automation, which nobody can give on a CI runner.
    subprocess.run(["open", "-b", bundle_id], check=True, timeout=WAIT)


def finder_record_fault(record):
    if record is None:
        return f"no record of Finder's activation after {ATTEMPTS} tries"
    if not isinstance(record.get("name"), str) or record["name"] in ("", "unknown"):
        return f"Finder's record has no name: {record}"
    if record.get("pid") not in pids_of("Finder"):
        return f"Finder's record has not Finder's pid: {record}"
    return None


def activate_finder(output):
    """Activates another application, then Finder, until the watcher records
    Finder's activation; returns that record, or None."""
    other_was_running = bool(pids_of("Calculator"))
    record = None
    for _ in range(ATTEMPTS):
        activate(OTHER)
        activate(FINDER)
        if output.read_until(lambda records: activated(records, FINDER), ACTIVATION_WAIT):
            record = activated(output.lines(), FINDER)
            break
    other = activated(output.lines(), OTHER)
    if other and not other_was_running:
        os.kill(other["pid"], signal.SIGTERM)  # the one this check started
    return record


def watch(output):
    """What is wrong with the running watcher's records, or None."""
    if MAC:
        return finder_record_fault(activate_finder(output))
    output.read_until(lambda records: False, 1)
    return None if len(output.lines()) <= 1 else "more than one line"


def check_watcher(bin_folder):
    """The watcher must keep running until its standard input closes, then
    end with status 0; on a Mac it must record Finder's activation, elsewhere
    (no display here) it prints at most one line."""
    proc = subprocess.Popen([str(bin_folder / "Quelmark")], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    output = Output(proc.stdout)
    try:
        try:
            fault = watch(output)
        except ValueError as error:  # json.JSONDecodeError and UnicodeDecodeError are ValueErrors
            fault = f"not JSON lines: {error}"
        if fault is None and proc.poll() is not None:
            fault = "ended before its standard input closed"
        rest, err = proc.communicate(timeout=WAIT)  # closes its standard input
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    show("Quelmark", [], output.data + rest, err)
    if fault is None and proc.returncode != 0:
        fault = f"status {proc.returncode}"
    if fault:
        print("FAIL:", fault)
    return fault is None


def main():
    bin_folder = Path(sys.argv[1])
    results = [
        check(bin_folder, "Knobwerk", ["outputs"]),
        check(bin_folder, "Knobwerk", ["brightness"]),
        check(bin_folder, "Brimgauge", [], screen_width if MAC else None),
        check_watcher(bin_folder),
    ]
    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
