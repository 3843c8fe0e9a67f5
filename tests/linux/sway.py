"""A private headless sway for the tests, run as the unprivileged user 65534
(sway refuses to run as root), with its runtime folder, Wayland socket and
IPC socket of its own. Call stop() in every case."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

NOBODY = 65534
READY_TRIES = 300  # tries 0.1 s apart: a busy machine can be slow to start sway
WAIT = 30  # seconds: a bound for anything awaited, never an expected duration
HERE = Path(__file__).resolve().parent
BUILD_DIR = Path(os.environ.get("BUILD_DIR", HERE.parents[1] / "build"))


def native_program(name):
    return str(BUILD_DIR / "bin" / name)


def available():
    """Why sway cannot be run here, or None."""
    for tool in ("sway", "swaymsg", "setpriv"):
        if shutil.which(tool) is None:
            return f"{tool} is missing"
    return None


class Sway:
    def __init__(self, config_lines=(), xwayland=False):
        self.runtime = tempfile.mkdtemp(prefix="wl-")
        os.chmod(self.runtime, 0o700)
        os.chown(self.runtime, NOBODY, NOBODY)
        self.socket = os.path.join(self.runtime, "sway-ipc.sock")
        config = os.path.join(self.runtime, "config")
        lines = ["xwayland " + ("force" if xwayland else "disable"),
                 "output HEADLESS-1 mode 1280x720 position 0 0", "focus_follows_mouse no",
                 "default_border none", *config_lines]
        if xwayland:
            lines.append("exec sh -c 'echo \"$DISPLAY\" > \"$XDG_RUNTIME_DIR/x-display\"'")
        Path(config).write_text("\n".join(lines) + "\n")
        os.chmod(config, 0o644)
        self._log = tempfile.TemporaryFile()
        self.proc = None
        self._config, self._xwayland = config, xwayland
        try:
            self.start()
        except BaseException:
            self.stop()
            raise

    def start(self):
        """Starts sway (again, once an earlier one has ended) in the same
        runtime folder, so on the same sockets."""
        if os.path.exists(self.socket):
            os.unlink(self.socket)  # sway would choose another name beside a stale one
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
               "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
               "WLR_LIBINPUT_NO_DEVICES": "1", "SWAYSOCK": self.socket}
        self.proc = subprocess.Popen(
            ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", "sway", "-c", self._config],
            env=env, stdin=subprocess.DEVNULL, stdout=self._log, stderr=self._log)
        self._wait_ready(self._xwayland)

    def _wait_ready(self, xwayland):
        for _ in range(READY_TRIES):
            if self.proc.poll() is not None:
                break
            if os.path.exists(self.wayland_socket()) and self._answers() and \
                    (not xwayland or self._x_display()):
                self.display = self._x_display() if xwayland else None
                return
            time.sleep(0.1)
        self._log.seek(0)
        raise RuntimeError(f"sway did not start: {self._log.read().decode(errors='replace')[-3000:]}")

    def _answers(self):
        try:
            return subprocess.run(["swaymsg", "-s", self.socket, "-t", "get_version"], capture_output=True,
                                  timeout=WAIT).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def _x_display(self):
        try:
            return Path(self.runtime, "x-display").read_text().strip() or None
        except OSError:
            return None

    def wayland_socket(self):
        return os.path.join(self.runtime, "wayland-1")

    def env(self, swaysock=True, display=None):
        """An environment for a client of this sway: its Wayland display,
        its IPC socket unless `swaysock` is false, DISPLAY only when given."""
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "XDG_RUNTIME_DIR")}
        env.update(WAYLAND_DISPLAY="wayland-1", XDG_RUNTIME_DIR=self.runtime)
        if swaysock:
            env["SWAYSOCK"] = self.socket
        if display is not None:
            env["DISPLAY"] = display
        return env

    def msg(self, *args):
        """swaymsg's parsed answer; fails the test when a command fails."""
        done = subprocess.run(["swaymsg", "-s", self.socket, "-r", *args], capture_output=True, timeout=WAIT)
        answer = json.loads(done.stdout) if done.stdout.strip() else None
        if done.returncode != 0:
            raise AssertionError(f"swaymsg {args}: {done.stdout!r} {done.stderr!r}")
        return answer

    def tree_views(self):
        """Every view in sway's tree: (app_id or X11 class, title, pid, focused, con_id)."""
        views = []

        def walk(node):
            if node.get("pid"):
                app = node.get("app_id") or (node.get("window_properties") or {}).get("class")
                views.append((app, node.get("name"), node["pid"], node.get("focused"), node["id"]))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(self.msg("-t", "get_tree"))
        return views

    def pause(self):
        self.proc.send_signal(signal.SIGSTOP)

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait(timeout=WAIT)

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGCONT)
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        if self.proc is not None:
            self.proc.wait()
        self._log.close()
        shutil.rmtree(self.runtime, ignore_errors=True)
