"""A FIFO that a native program reads while it sets up a connection (libpulse
reads PULSE_CLIENTCONFIG for each context it makes, xcb the XAUTHORITY file).
The program's open waits until the test opens the other end, and its read
until the test closes it: in between the program holds still, so a test can
look at it, or change the world, at a known step."""

import errno
import os
import time
from pathlib import Path

TRIES = 3000  # 10 ms apart at most: a bound for a run to reach the gate


class Gate:
    def __init__(self, folder):
        self.path = Path(folder) / "gate"
        os.mkfifo(self.path)
        self.fd = None

    def hold(self, proc):
        """Waits until `proc` has opened the gate, which then holds it."""
        for _ in range(TRIES):
            try:
                self.fd = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)
                return
            except OSError as error:
                if error.errno != errno.ENXIO:  # no reader yet
                    raise
            if proc.poll() is not None:
                raise AssertionError(f"the run ended (status {proc.returncode}) before it read {self.path}")
            time.sleep(0.01)
        raise AssertionError(f"the run never read {self.path}")

    def renew(self):
        """A new FIFO at the path for the next reading, so that hold() waits
        for that reading rather than find the one already open."""
        self.path.unlink()
        os.mkfifo(self.path)

    def remove(self):
        """Later readings find no file, rather than a gate no one opens."""
        if self.path.exists():
            self.path.unlink()

    def release(self):
        """The program reads an empty file and goes on."""
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
