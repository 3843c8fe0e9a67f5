"""A logind stand-in for python3-dbusmock: one session whose SetBrightness
writes the backlight's brightness file, as logind does for a session that
may not write sysfs itself.

Parameters: "sysfs", the folder that stands for /sys; "refuse", true to
answer every call with an error, as logind does for a caller it does not
trust. The method's code runs inside dbusmock, where `dbus` and `args` are
defined."""

BUS_NAME = "org.freedesktop.login1"
MAIN_OBJ = "/org/freedesktop/login1"
MAIN_IFACE = "org.freedesktop.login1.Manager"
SYSTEM_BUS = True

SESSION = "/org/freedesktop/login1/session/auto"
SESSION_IFACE = "org.freedesktop.login1.Session"

SET_BRIGHTNESS = """
if {refuse}:
    raise dbus.exceptions.DBusException("not your session", name="org.freedesktop.DBus.Error.AccessDenied")
subsystem, name, value = args
if subsystem != "backlight" or name in ("", ".", "..") or "/" in name:
    raise dbus.exceptions.DBusException("no such device", name="org.freedesktop.DBus.Error.InvalidArgs")
with open({sysfs!r} + "/class/backlight/" + name + "/brightness", "w") as f:
    f.write(str(int(value)))
"""


def load(mock, parameters):
    code = SET_BRIGHTNESS.format(sysfs=str(parameters["sysfs"]), refuse=bool(parameters.get("refuse", False)))
    mock.AddObject(SESSION, SESSION_IFACE, {}, [("SetBrightness", "ssu", "", code)])

