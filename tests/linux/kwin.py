"""A private headless kwin (KDE Plasma's compositor) for the tests, with a
session bus of its own, and a client it trusts that activates windows.
Call stop() in every case."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import sway
import wayland_app

READY_TRIES = 300  # tries 0.1 s apart
WAIT = sway.WAIT
SOCKET = "wayland-kwin"
MANAGER = "org_kde_plasma_window_management"


def available():
    """Why kwin cannot be run here, or None."""
    for tool in ("kwin_wayland", "dbus-daemon"):
        if shutil.which(tool) is None:
            return f"{tool} is missing"
    return None


def trusting_entry(folder, program):
    """A desktop entry in `folder` that lets `program` see the window list."""
    Path(folder).mkdir(parents=True, exist_ok=True)
    Path(folder, f"test-{Path(program).name}.desktop").write_text(
        f"[Desktop Entry]\nType=Application\nName=Test\nExec={program}\nNoDisplay=true\n"
        f"X-KDE-Wayland-Interfaces={MANAGER}\n")


class Kwin:
    """kwin_wayland --virtual on its own socket, with `data_dirs` first in
    its XDG_DATA_DIRS (where it looks for the desktop entries that grant its
    window list). This test process's Python is trusted too, to activate
    windows the way a task bar does."""

    def __init__(self, data_dirs=()):
        self.folder = tempfile.mkdtemp(prefix="kwin-")
        self.runtime = os.path.join(self.folder, "runtime")
        os.mkdir(self.runtime, 0o700)
        trusted = os.path.join(self.folder, "trusted")
        trusting_entry(os.path.join(trusted, "applications"), os.path.realpath(sys.executable))
        # kwin_wayland carries a file capability that this sandbox cannot
        # grant: a copy without it runs.
        program = os.path.join(self.folder, "kwin_wayland")
        shutil.copy(shutil.which("kwin_wayland"), program)
        self._log = tempfile.TemporaryFile()
        self.procs = []
        try:
            bus = self._start_bus()
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.folder,
                   "XDG_RUNTIME_DIR": self.runtime, "DBUS_SESSION_BUS_ADDRESS": bus,
                   "XDG_DATA_DIRS": ":".join([*data_dirs, trusted, "/usr/local/share", "/usr/share"]),
                   "QT_QPA_PLATFORM": "wayland", "KWIN_COMPOSE": "Q"}
            self.procs.append(subprocess.Popen(
                [program, "--virtual", "--width", "1280", "--height", "720", "--no-lockscreen",
                 "--no-global-shortcuts", "--no-kactivities", "--socket", SOCKET],
                env=env, stdin=subprocess.DEVNULL, stdout=self._log, stderr=self._log))
            self._wait_ready()
        except BaseException:
            self.stop()
            raise

    def _start_bus(self):
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address",
                                f"--address=unix:path={self.runtime}/bus"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self._log, text=True)
        self.procs.append(bus)
        address = bus.stdout.readline().strip()  # printed once it listens
        if not address:
            raise RuntimeError("dbus-daemon did not start")
        return address

    def _wait_ready(self):
        for _ in range(READY_TRIES):
            if self.procs[-1].poll() is not None:
                break
            if os.path.exists(os.path.join(self.runtime, SOCKET)):
                try:
                    wayland_app.Connection(self.env()).sock.close()
                    return
                except OSError:
                    pass
            time.sleep(0.1)
        self._log.seek(0)
        raise RuntimeError(f"kwin did not start: {self._log.read().decode(errors='replace')[-3000:]}")

    def env(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "XDG_RUNTIME_DIR")}
        env.update(WAYLAND_DISPLAY=SOCKET, XDG_RUNTIME_DIR=self.runtime)
        return env

    def activate(self, title):
        """Activates the window titled `title`, through the window list."""
        c = wayland_app.Connection(self.env())
        try:
            found, windows, titles = {}, [], {}

            def on_global(obj, body):
                (name,) = struct.unpack_from("<I", body)
                interface, at = wayland_app.read_string(body, 4)
                found[interface] = (name, struct.unpack_from("<I", body, at)[0])
            c.handlers[("wl_registry", 0)] = on_global
            registry = c.new("wl_registry")
            c.send(1, 1, struct.pack("<I", registry))
            c.roundtrip()
            name, version = found[MANAGER]
            manager = c.new(MANAGER)
            c.send(registry, 0, struct.pack("<I", name) + wayland_app.string_arg(MANAGER) +
                   struct.pack("<II", version, manager))

            def on_window(obj, body):  # window_with_uuid: get_window_by_uuid
                uuid, _ = wayland_app.read_string(body, 4)
                window = c.new("org_kde_plasma_window")
                windows.append(window)
                c.send(manager, 2, struct.pack("<I", window) + wayland_app.string_arg(uuid))
            c.handlers[(MANAGER, 4)] = on_window
            c.handlers[("org_kde_plasma_window", 0)] = \
                lambda obj, body: titles.__setitem__(obj, wayland_app.read_string(body, 0)[0])
            c.roundtrip()
            c.roundtrip()
            matching = [w for w in windows if titles.get(w) == title]
            assert len(matching) == 1, (title, titles)
            c.send(matching[0], 0, struct.pack("<II", 1, 1))  # set_state(active, active)
            c.roundtrip()
        finally:
            c.sock.close()

    def stop(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
            proc.wait()
            if proc.stdout:
                proc.stdout.close()
        self._log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
