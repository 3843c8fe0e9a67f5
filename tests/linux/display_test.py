"""build/bin/Knobwerk's brightness commands on Linux, each run in a private
mount namespace that sees a fixture tree as /sys. The system bus address
points nowhere, so logind is never asked here (logind_test.py asks it)."""

import json
import os
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import sysfs_fixture as fixture

BUILD_DIR = Path(os.environ.get("BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
KNOBWERK = str(BUILD_DIR / "bin" / "Knobwerk")


def single(value):
    """`value` as the 32-bit float the programs hold, widened again."""
    return struct.unpack("f", struct.pack("f", value))[0]


def knobwerk(tree, *args, read_only=False, prefix=()):
    command = fixture.in_namespace([*prefix, KNOBWERK, *args], "/sys", tree.sys, read_only)
    return subprocess.run(command, capture_output=True, env=fixture.environment(), timeout=30)


class NativeBrightnessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        fixture.require_namespaces()

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def machine(self, build, name):
        return build(self.folder / name)

    def assertReply(self, proc, level):
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        self.assertTrue(proc.stdout.endswith(b"\n"), proc.stdout)
        self.assertEqual(json.loads(proc.stdout), {"brightness": level})

    def test_reads_and_sets_the_panels_backlight(self):
        cases = [
            ((), 0.25, "250\n"),
            (("0.6",), single(0.6), "600"),
            (("0.0625",), single(0.063), "63"),  # 62.5 steps: halves go up
            (("7",), 1.0, "1000"),
            (("-1",), 0.0, "0"),
            (("nan",), 0.0, "0"),
            (("half",), 0.25, "250\n"),  # not a level: nothing changes
        ]
        for args, level, written in cases:
            with self.subTest(args=args):
                tree = self.machine(fixture.laptop, "-".join(args) or "read")
                self.assertReply(knobwerk(tree, "brightness", *args), level)
                self.assertEqual(tree.brightness("intel_backlight"), written)

    def test_the_firmware_interface_goes_before_the_gpus_device(self):
        tree = self.machine(fixture.laptop_with_acpi, "acpi")
        self.assertReply(knobwerk(tree, "brightness"), single(3 / 15))
        self.assertReply(knobwerk(tree, "brightness", "0.6"), single(9 / 15))
        self.assertEqual((tree.brightness("acpi_video0"), tree.brightness("intel_backlight")), ("9", "250\n"))

    def test_machines_without_a_lit_panel_reply_null(self):
        for build in [fixture.desktop, fixture.panel_without_backlight, fixture.no_display]:
            for args in [("brightness",), ("brightness", "0.5")]:
                with self.subTest(machine=build.__name__, args=args):
                    tree = self.machine(build, build.__name__ + str(len(args)))
                    self.assertReply(knobwerk(tree, *args), None)
        # The desktop's stray firmware interface is left alone.
        self.assertEqual(self.machine(fixture.desktop, "desktop").brightness("acpi_video0"), "5\n")
        tree = self.machine(fixture.desktop, "desktop-set")
        knobwerk(tree, "brightness", "0.9")
        self.assertEqual(tree.brightness("acpi_video0"), "5\n")

    def test_read_only_backlight_without_logind_keeps_the_level_quietly(self):
        tree = self.machine(fixture.laptop, "read-only")
        self.assertReply(knobwerk(tree, "brightness", "0.6", read_only=True), 0.25)
        self.assertEqual(tree.brightness("intel_backlight"), "250\n")

    def test_libsystemd_is_loaded_only_to_ask_logind(self):
        cases = [
            (("brightness",), False, False),
            (("brightness", "0.5"), False, False),
            (("brightness", "0.5"), True, True),  # the write is refused: logind is asked
        ]
        for args, read_only, loaded in cases:
            with self.subTest(args=args, read_only=read_only):
                tree = self.machine(fixture.laptop, "-".join(args) + str(read_only))
                proc = knobwerk(tree, *args, read_only=read_only, prefix=("env", "LD_DEBUG=libs"))
                self.assertEqual(proc.returncode, 0)
                self.assertEqual(b"libsystemd.so.0" in proc.stderr, loaded)


if __name__ == "__main__":
    unittest.main()
