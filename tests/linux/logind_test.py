"""Setting a backlight whose sysfs file is read-only: the backend asks logind
on a private system bus, where a stand-in plays logind. Every command runs in
a private mount namespace that makes the fixture read-only for it alone; the
stand-in, outside, can still write it, as logind can."""

import contextlib
import json
import os
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path

import bus
import sysfs_fixture as fixture
from display_test import BUILD_DIR, KNOBWERK, single

DRIVER = os.environ.get("BACKLIGHT_DRIVER", str(BUILD_DIR / "tests/linux/backlight_driver"))
# Far below sd-bus's own 25 s default: a run that ends within it was bounded by the backend.
RUN_SECONDS = 20


class LogindTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        fixture.require_namespaces()

    def setUp(self):
        # Short: the bus socket's path must fit in a unix socket address.
        folder = tempfile.TemporaryDirectory(prefix="lg", dir="/tmp")
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def driver(self, tree, level, address):
        """The backend's status for setting `level` on the read-only `tree`."""
        command = fixture.in_namespace([DRIVER, str(tree.sys.parent), "set", level], tree.sys, tree.sys, True)
        proc = subprocess.run(command, capture_output=True, env=fixture.environment(address), timeout=RUN_SECONDS)
        self.assertEqual(proc.stderr, b"")
        return int(proc.stdout)

    def knobwerk(self, tree, level, address):
        """Knobwerk's reply to `brightness level`, with the read-only `tree` as /sys."""
        command = fixture.in_namespace([KNOBWERK, "brightness", level], "/sys", tree.sys, True)
        proc = subprocess.run(command, capture_output=True, env=fixture.environment(address), timeout=RUN_SECONDS)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        return json.loads(proc.stdout)

    def test_logind_sets_what_sysfs_refuses(self):
        tree = fixture.laptop(self.folder / "laptop")
        with bus.system_bus(self.folder) as system, bus.logind(system.address, tree.sys):
            self.assertEqual(self.driver(tree, "0.6", system.address), 0)
            self.assertEqual(tree.brightness("intel_backlight"), "600")
            # Knobwerk reads back what logind wrote.
            self.assertEqual(self.knobwerk(tree, "0.3", system.address), {"brightness": single(0.3)})
            self.assertEqual(bus.set_brightness_calls(system.address),
                             [("backlight", "intel_backlight", 600), ("backlight", "intel_backlight", 300)])

    def test_every_failure_is_a_nonzero_status_and_a_quiet_reply(self):
        def no_bus(stack, tree):
            return fixture.NO_BUS

        def bus_without_logind(stack, tree):
            return stack.enter_context(bus.system_bus(self.folder)).address

        def logind_refuses(stack, tree):
            address = bus_without_logind(stack, tree)
            stack.enter_context(bus.logind(address, tree.sys, refuse=True))
            return address

        def logind_gone_quiet(stack, tree):
            address = bus_without_logind(stack, tree)
            os.kill(stack.enter_context(bus.logind(address, tree.sys)).pid, signal.SIGSTOP)
            return address

        def bus_gone_quiet(stack, tree):
            system = stack.enter_context(bus.system_bus(self.folder))
            os.kill(system.daemon.pid, signal.SIGSTOP)
            return system.address

        for setup in [no_bus, bus_without_logind, logind_refuses, logind_gone_quiet, bus_gone_quiet]:
            with self.subTest(setup.__name__), contextlib.ExitStack() as stack:
                tree = fixture.laptop(self.folder / setup.__name__)
                address = setup(stack, tree)
                self.assertNotEqual(self.driver(tree, "0.6", address), 0)
                self.assertEqual(self.knobwerk(tree, "0.6", address), {"brightness": 0.25})
                self.assertEqual(tree.brightness("intel_backlight"), "250\n")


if __name__ == "__main__":
    unittest.main()
