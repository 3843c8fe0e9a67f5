"""A run that reaches no sound server, X display or system bus loads the C
library alone: the C++ runtime and the maths functions are linked into the
native programs, and the service libraries are opened only by the runs that
use them. Loading any one more library costs a run about as much as its own
work."""

import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("BUILD_DIR", ROOT / "build"))
WAIT = 30  # seconds: only catches a hang


class LoadedLibrariesTest(unittest.TestCase):
    def loaded(self, args, status):
        """The shared libraries the run loaded, as the dynamic loader logs them."""
        with tempfile.TemporaryDirectory() as folder:
            # No display, no sound server, no session bus to find.
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": folder, "XDG_RUNTIME_DIR": folder,
                   "DBUS_SESSION_BUS_ADDRESS": "disabled:", "LD_DEBUG": "files"}
            proc = subprocess.run([str(BUILD_DIR / "bin" / args[0]), *args[1:]], stdin=subprocess.DEVNULL,
                                  capture_output=True, env=env, timeout=WAIT)
        self.assertEqual(proc.returncode, status, proc.stderr)
        return set(re.findall(rb"file=(\S+) \[0\];  (?:needed|dynamically loaded) by", proc.stderr))

    def test_runs_without_services_load_only_the_c_library(self):
        cases = [
            (["Knobwerk", "brightness"], 0),
            (["Knobwerk"], 2),  # the usage text
            (["Brimgauge"], 0),
            (["Quelmark"], 0),  # ends with its standard input
        ]
        for args, status in cases:
            with self.subTest(args=args):
                self.assertEqual(self.loaded(args, status), {b"libc.so.6"})

    def test_the_audio_command_still_opens_its_library(self):
        # The counterpart: the check above would pass for a loader that logs nothing.
        self.assertIn(b"libpulse.so.0", self.loaded(["Knobwerk", "outputs"], 0))


if __name__ == "__main__":
    unittest.main()
