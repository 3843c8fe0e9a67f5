"""A private system bus and a logind stand-in on it, for tests.

Both are context managers: whatever happens inside the block, the daemon is
killed and waited for when it ends."""

import contextlib
import json
import select
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

import dbus

HERE = Path(__file__).resolve().parent
LOGIND = "org.freedesktop.login1"
SESSION = "/org/freedesktop/login1/session/auto"

# A system bus that lets anyone own and call anything. Without the eavesdrop
# rules the daemon drops replies and callers wait until they time out.
CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
"""

READY_SECONDS = 10
POLL_SECONDS = 0.05


@contextlib.contextmanager
def stopped_at_exit(process):
    try:
        yield process
    finally:
        process.kill()
        process.wait()
        for stream in (process.stdout, process.stderr):
            if stream:
                stream.close()


@dataclass
class SystemBus:
    address: str
    daemon: subprocess.Popen


@contextlib.contextmanager
def system_bus(folder):
    """Starts dbus-daemon with its socket in `folder`; yields a SystemBus."""
    config = Path(folder) / "system-bus.conf"
    config.write_text(CONFIG.format(socket=Path(folder) / "system_bus_socket"))
    daemon = subprocess.Popen(
        ["dbus-daemon", "--config-file", str(config), "--nofork", "--nopidfile", "--print-address=1"],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    with stopped_at_exit(daemon):
        # The address is printed once the daemon listens.
        readable, _, _ = select.select([daemon.stdout], [], [], READY_SECONDS)
        address = daemon.stdout.readline().decode().strip() if readable else ""
        if not address:
            raise RuntimeError("the private system bus did not start")
        yield SystemBus(address, daemon)


@contextlib.contextmanager
def logind(address, sysfs, refuse=False):
    """Starts the logind stand-in on the bus at `address`, writing under
    `sysfs`; yields its process once it owns logind's name."""
    parameters = json.dumps({"sysfs": str(sysfs), "refuse": refuse})
    log = open(Path(sysfs).parent / "logind.log", "wb")
    with log:
        mock = subprocess.Popen(
            [sys.executable, "-m", "dbusmock", "--system", "--template", str(HERE / "logind_template.py"),
             "-p", parameters],
            env={"DBUS_SYSTEM_BUS_ADDRESS": address, "PATH": "/usr/bin:/bin"},
            stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    with stopped_at_exit(mock):
        connection = dbus.bus.BusConnection(address)
        try:
            for _ in range(int(READY_SECONDS / POLL_SECONDS)):
                if connection.name_has_owner(LOGIND):
                    break
                if mock.poll() is not None:
                    raise RuntimeError("the logind stand-in ended: " + (Path(sysfs).parent / "logind.log").read_text())
                time.sleep(POLL_SECONDS)
            else:
                raise RuntimeError("the logind stand-in did not claim its name")
            yield mock
        finally:
            connection.close()


def set_brightness_calls(address):
    """The arguments of every SetBrightness call the stand-in received."""
    connection = dbus.bus.BusConnection(address)
    try:
        mock = dbus.Interface(connection.get_object(LOGIND, SESSION), "org.freedesktop.DBus.Mock")
        return [tuple(args) for _, args in mock.GetMethodCalls("SetBrightness")]
    finally:
        connection.close()
