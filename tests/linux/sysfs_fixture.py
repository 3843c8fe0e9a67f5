"""Fixture sysfs trees, laid out as the kernel lays them out, and the means to
run a command with one of them in place of the machine's own /sys.

The native programs read the real /sys. A test that runs them must never
reach the real backlight, so it runs them only in a private mount namespace
with a fixture bind-mounted over /sys (and a system bus address of its own,
so that logind is never the machine's)."""

import os
import subprocess
import unittest
from pathlib import Path

INTEL_GPU = "pci0000:00/0000:00:02.0"
NO_BUS = "unix:path=/nonexistent/system_bus_socket"


class Tree:
    """A tree in `folder`; `sys` is what stands for /sys."""

    def __init__(self, folder):
        self.sys = Path(folder) / "sys"
        (self.sys / "class").mkdir(parents=True)

    def file(self, path, text):
        full = self.sys / path
        full.parent.mkdir(parents=True, exist_ok=True)
        full.write_text(text)

    def link(self, path, target):
        full = self.sys / path
        full.parent.mkdir(parents=True, exist_ok=True)
        full.symlink_to(target)

    def card(self, gpu=INTEL_GPU):
        self.file("class/drm/version", "drm 1.1.0 20060810\n")
        (self.sys / "devices" / gpu / "drm/card0").mkdir(parents=True)
        self.link(f"devices/{gpu}/drm/card0/device", "../../../" + Path(gpu).name)
        self.link("class/drm/card0", f"../../devices/{gpu}/drm/card0")

    def connector(self, name, status, connector_id, gpu=INTEL_GPU):
        folder = f"devices/{gpu}/drm/card0/card0-{name}"
        self.file(f"{folder}/status", status + "\n")
        self.file(f"{folder}/connector_id", f"{connector_id}\n")
        self.link(f"{folder}/device", "../../card0")
        self.link(f"class/drm/card0-{name}", f"../../{folder}")
        return folder

    def backlight(self, parent, name, kind, brightness, max_brightness):
        folder = f"{parent}/{name}"
        self.file(f"{folder}/type", kind + "\n")
        self.file(f"{folder}/brightness", f"{brightness}\n")
        self.file(f"{folder}/max_brightness", f"{max_brightness}\n")
        self.link(f"class/backlight/{name}", f"../../{folder}")

    def brightness(self, name):
        return (self.sys / "class/backlight" / name / "brightness").read_text()


def laptop(folder, brightness=250, max_brightness=1000):
    """An eDP panel lit by intel_backlight, and an external monitor."""
    tree = Tree(folder)
    tree.card()
    panel = tree.connector("eDP-1", "connected", 95)
    tree.connector("DP-1", "connected", 104)
    tree.backlight(panel, "intel_backlight", "raw", brightness, max_brightness)
    return tree


def laptop_with_acpi(folder):
    """The laptop, with the firmware's ACPI interface registered beside the
    GPU's own device (older kernels, or acpi_backlight=video)."""
    tree = laptop(folder)
    tree.backlight("devices/LNXSYSTM:00/LNXSYBUS:00/PNP0A08:00/LNXVIDEO:00/backlight", "acpi_video0", "firmware",
                   3, 15)
    return tree


def desktop(folder):
    """External monitors only, and a firmware backlight interface that lights nothing."""
    tree = Tree(folder)
    tree.card()
    tree.connector("DP-1", "connected", 95)
    tree.connector("HDMI-A-1", "connected", 104)
    tree.backlight(f"devices/{INTEL_GPU}/backlight", "acpi_video0", "firmware", 5, 10)
    return tree


def panel_without_backlight(folder):
    tree = Tree(folder)
    tree.card()
    tree.connector("eDP-1", "connected", 95)
    return tree


def no_display(folder):
    """Neither DRM nor backlights, like this build machine."""
    return Tree(folder)


_MOUNT_SCRIPT = """
set -e
target=$1 source=$2 mode=$3; shift 3
mount --bind "$source" "$target"
[ "$mode" = rw ] || mount -o remount,bind,ro "$target"
exec "$@"
"""


def in_namespace(command, target, source, read_only):
    """`command` in a private mount namespace that sees `source` at `target`."""
    mode = "ro" if read_only else "rw"
    return ["unshare", "--mount", "--propagation", "private",
            "sh", "-c", _MOUNT_SCRIPT, "sh", str(target), str(source), mode, *command]


def namespaces_work():
    """Whether this process may mount in a private namespace (root, usually)."""
    try:
        probe = subprocess.run(in_namespace(["true"], "/mnt", "/mnt", True), capture_output=True, timeout=30)
    except OSError:
        return False
    return probe.returncode == 0


def require_namespaces():
    """Skips the calling suite where namespaces cannot be made, unless every
    suite must run (scripts/test.sh), where that is a failure."""
    if namespaces_work():
        return
    if os.environ.get("REQUIRE_ALL_TESTS") == "ON":
        raise AssertionError("these tests need a private mount namespace: run them as root")
    raise unittest.SkipTest("needs a private mount namespace (root)")


def environment(bus_address=NO_BUS):
    env = dict(os.environ)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = bus_address
    return env
