"""build/bin/Quelmark with its standard input held open as the host's
lifeline, its records read as they arrive: shared by the X11 and Wayland
focus tests."""

import json
import os
import queue
import subprocess
import threading
from pathlib import Path

BUILD_DIR = Path(os.environ.get("BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
WAIT = 10  # seconds: a bound for anything awaited, never an expected duration
KEYS = {"v", "at", "bundleId", "name", "pid"}


class Watcher:
    def __init__(self, env, extra_env=None, program=None):
        self.proc = subprocess.Popen([program or str(BUILD_DIR / "bin" / "Quelmark")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env={**env, **(extra_env or {})})
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def record(self):
        """The next record, checked for its shape; fails after WAIT seconds."""
        try:
            line = self.lines.get(timeout=WAIT)
        except queue.Empty:
            raise AssertionError("no record arrived") from None
        assert line is not None, "the watcher ended its output"
        assert line.endswith(b"\n") and line.count(b"\n") == 1, line
        record = json.loads(line)
        assert set(record) == KEYS and record["v"] == 1, record
        return record

    def finish(self):
        """Ends the lifeline; the exit status, any further lines and standard error."""
        self.proc.stdin.close()
        status = self.proc.wait(timeout=WAIT)
        self.reader.join(timeout=WAIT)
        rest = []
        while (line := self.lines.get(timeout=WAIT)) is not None:
            rest.append(line)
        return status, rest, self.proc.stderr.read()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


def fields(record):
    return record["bundleId"], record["name"], record["pid"]
