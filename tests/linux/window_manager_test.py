"""build/bin/Quelmark under a real window manager (openbox, which names no
window for an instant on most focus changes) with real applications: two
xterms and a GTK 3 application with an About dialog. Windows are switched as
a user's switcher would, through the window manager (xdotool, wmctrl)."""

import os
import select
import subprocess
import tempfile
import time
import unittest

from Xlib import X
from Xlib import display as xdisplay
from Xlib.ext import res

import xserver
from focus_test import Watcher, fields

HERE = os.path.dirname(os.path.abspath(__file__))
WAIT = xserver.WAIT
POLL_SECONDS = 0.02
TRIES = int(WAIT / POLL_SECONDS)  # a bound for every poll below


def poll(check, what):
    """The first true answer of check(), asked at most TRIES times."""
    for _ in range(TRIES):
        answer = check()
        if answer:
            return answer
        time.sleep(POLL_SECONDS)
    raise AssertionError(f"{what}: not within {WAIT} s")


def read_line(proc, what):
    ready, _, _ = select.select([proc.stdout], [], [], WAIT)
    line = proc.stdout.readline() if ready else b""
    if not line.strip():
        raise AssertionError(f"{what}: no line")
    return line


def install(data, file_name, text):
    path = os.path.join(data, "applications", file_name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as entry:
        entry.write(text)


class RealDesktopTest(unittest.TestCase):
    def start(self, args, env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL):
        """A process that is stopped (and waited for) whatever happens."""
        proc = subprocess.Popen(args, env=env, stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL)

        def stop():
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=WAIT)
                except subprocess.TimeoutExpired:
                    proc.kill()
            proc.wait()
            for stream in (proc.stdin, proc.stdout):
                if stream:
                    stream.close()

        self.addCleanup(stop)
        return proc

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        server = xserver.XServer()
        self.addCleanup(server.stop)
        self.display = server.display
        runtime = os.path.join(self.folder, "runtime")
        os.mkdir(runtime, 0o700)
        # Nothing of the user's: a private session bus (a GtkApplication
        # registers on it), configuration, caches; no accessibility bus, no
        # dconf.
        self.env = {**server.env(), "HOME": self.folder, "XDG_RUNTIME_DIR": runtime,
                    "XDG_CONFIG_HOME": os.path.join(self.folder, "config"),
                    "XDG_CACHE_HOME": os.path.join(self.folder, "cache"),
                    "NO_AT_BRIDGE": "1", "GSETTINGS_BACKEND": "memory", "GDK_BACKEND": "x11"}
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                          f"--address=unix:path={self.folder}/bus", "--print-address=1"], self.env,
                         stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = read_line(bus, "the session bus's address").decode().strip()

        self.d = xdisplay.Display(self.display)
        self.addCleanup(self.d.close)
        self.root = self.d.screen().root
        self.active_atom = self.d.intern_atom("_NET_ACTIVE_WINDOW")
        self.own_reads = 0
        self.traffic = xserver.ActiveWindowTraffic(self.display)
        self.addCleanup(self.traffic.close)

        self.start(["openbox", "--sm-disable"], self.env)
        check = self.d.intern_atom("_NET_SUPPORTING_WM_CHECK")
        poll(lambda: self.root.get_full_property(check, X.AnyPropertyType), "openbox's start")

    def active(self):
        """The root's _NET_ACTIVE_WINDOW, read by this test's own client."""
        self.own_reads += 1
        value = self.root.get_full_property(self.active_atom, X.AnyPropertyType)
        return value.value[0] if value and len(value.value) else None

    def client_of(self, pid):
        """The resource id base of the one X client of process `pid` (the
        watcher's connection; its probe before it may take a moment to go)."""
        def bases():
            reply = self.d.res_query_client_ids([{"client": 0, "mask": res.LocalClientPIDMask}])
            # Each id's first field is the (client, mask) pair it answers for.
            found = [next(iter(item._data.values())).client for item in reply.ids if list(item.value) == [pid]]
            return found if len(found) == 1 else None
        return poll(bases, f"the X client of process {pid}")[0]

    def xterm(self):
        proc = self.start(["xterm", "-e", "cat"], self.env)

        def listed():
            out = subprocess.run(["wmctrl", "-lp"], env=self.env, capture_output=True, timeout=WAIT).stdout
            return [int(line.split()[0], 16) for line in out.decode().splitlines()
                    if line.split()[2] == str(proc.pid)]
        return proc.pid, poll(listed, "the xterm's window")[0]

    def switch(self, window, tool):
        """Asks the window manager to activate `window`, waits until it has,
        and until the watcher has read what it wrote."""
        if tool == "wmctrl":
            command = ["wmctrl", "-i", "-a", hex(window)]
        else:
            command = ["xdotool", "windowactivate", str(window)]
        subprocess.run(command, env=self.env, check=True, capture_output=True, timeout=WAIT)
        poll(lambda: self.active() == window, f"window {window:#x} active")
        self.traffic.caught_up(self.watcher_client, self.own_base, self.own_reads)

    def test_one_record_per_application(self):
        data = os.path.join(self.folder, "data")
        install(data, "org.example.Sketchpad.desktop",
                "[Desktop Entry]\nType=Application\nName=Sketchpad\nName[de]=Skizzenblock\nExec=true\n")
        install(data, "terminal.desktop", "[Desktop Entry]\nType=Application\nName=Terminal\n"
                "Name[de]=Terminalfenster\nExec=xterm\nStartupWMClass=XTerm\n")
        gtk = self.start(["/usr/bin/python3", os.path.join(HERE, "gtk_app.py")], self.env,
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        main = int(read_line(gtk, "the GTK application's window"))
        gtk.stdin.write(b"about\n")
        gtk.stdin.flush()
        about = int(read_line(gtk, "the About dialog"))
        first_pid, first = self.xterm()
        second_pid, second = self.xterm()

        self.own_base = self.d.display.info.resource_id_base
        subprocess.run(["wmctrl", "-i", "-a", hex(main)], env=self.env, check=True, timeout=WAIT)
        poll(lambda: self.active() == main, "the GTK window active")
        watcher = Watcher(self.env, {"XDG_DATA_HOME": data, "XDG_DATA_DIRS": os.path.join(self.folder, "none"),
                                     "LC_ALL": "", "LC_MESSAGES": "", "LANG": "de_DE.UTF-8"})
        self.addCleanup(watcher.kill)
        SKETCHPAD = ("org.example.Sketchpad", "Skizzenblock", gtk.pid)
        self.assertEqual(fields(watcher.record()), SKETCHPAD)
        self.watcher_client = self.client_of(watcher.proc.pid)

        FIRST, SECOND = ("terminal", "Terminalfenster", first_pid), ("terminal", "Terminalfenster", second_pid)
        steps = [  # the window switched to, and the record it yields (None: none)
            (about, None), (main, None), (about, None), (main, None), (about, None),
            (first, FIRST),
            (about, SKETCHPAD),  # the dialog has no application id of its own
            (main, None),
            (second, SECOND),  # two xterms are two applications
            (first, FIRST),
            (main, SKETCHPAD),
            (about, None), (main, None),
            (second, SECOND),
        ]
        for number, (window, expected) in enumerate(steps):
            with self.subTest(step=number):
                self.switch(window, "wmctrl" if number % 2 else "xdotool")
                # A step without a record is shown by the next record.
                if expected is not None:
                    self.assertEqual(fields(watcher.record()), expected)
        status, rest, err = watcher.finish()
        self.assertEqual((status, rest, err), (0, [], b""))


if __name__ == "__main__":
    unittest.main()
