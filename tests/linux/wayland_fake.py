"""Helpers for the Wayland tests: the test application (wayland_app.py) as a
child process, and a fake compositor that answers as little as a test needs."""

import os
import queue
import socket
import struct
import subprocess
import sys
import tempfile
import threading

import sway

APP = str(sway.HERE / "wayland_app.py")


def environment(wayland_display, runtime=None):
    """This process's environment for a client of `wayland_display` only."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "XDG_RUNTIME_DIR")}
    env["WAYLAND_DISPLAY"] = wayland_display
    if runtime is not None:
        env["XDG_RUNTIME_DIR"] = runtime
    return env


class App:
    """wayland_app.py: one process, any number of windows."""

    def __init__(self, env):
        self.proc = subprocess.Popen([sys.executable, APP], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.pid = int(self._expect("ready").split()[1])

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def _expect(self, word):
        try:
            line = self.lines.get(timeout=sway.WAIT)
        except queue.Empty:
            raise AssertionError(f"the test application did not say {word}") from None
        if line is None or not line.startswith(word):
            raise AssertionError(f"the test application said {line!r}: {self.proc.stderr.read()}")
        return line

    def _command(self, line, answer):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        self._expect(answer)

    def open(self, key, app_id, title="-"):
        self._command(f"open {key} {app_id} {title}", "mapped")

    def title(self, key, text):
        self._command(f"title {key} {text}", "titled")

    def close(self, key):
        self._command(f"close {key}", "closed")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


def _string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def _message(obj, opcode, payload=b""):
    return struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload


class Compositor:
    """A socket that plays a compositor: it announces one wl_output (of
    `output` = ((width, height), scale, transform)) and, with
    `toplevels`, the wlr toplevel manager; it answers binds of the output
    and round trips. With `silent_after_registry` it answers nothing after
    the first round trip. A context manager: leaving it closes everything."""

    def __init__(self, output=((1280, 720), 1, 0), toplevels=False, silent_after_registry=False):
        self.output, self.toplevels, self.silent = output, toplevels, silent_after_registry
        self.folder = tempfile.mkdtemp(prefix="wl-fake-")
        self.path = os.path.join(self.folder, "wayland-fake")
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        self.listener.listen()
        self.clients = []
        threading.Thread(target=self._accept, daemon=True).start()

    def env(self):
        return environment(self.path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.listener.shutdown(socket.SHUT_RDWR)
        self.listener.close()
        for client in self.clients:
            client.close()
        os.unlink(self.path)
        os.rmdir(self.folder)

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            self.clients.append(client)
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _globals(self, registry):
        names = [(1, "wl_output", 4)] + ([(2, "zwlr_foreign_toplevel_manager_v1", 3)] if self.toplevels else [])
        return b"".join(_message(registry, 0, struct.pack("<I", name) + _string(iface) + struct.pack("<I", v))
                        for name, iface, v in names)

    def _output_events(self, obj, version):
        (width, height), scale, transform = self.output
        events = _message(obj, 0, struct.pack("<iiiii", 0, 0, 0, 0, 0) + _string("make") + _string("model") +
                          struct.pack("<i", transform))
        events += _message(obj, 1, struct.pack("<Iiii", 3, width, height, 60000))
        if version >= 2:
            events += _message(obj, 3, struct.pack("<i", scale)) + _message(obj, 2)
        return events

    def _serve(self, client):
        buffer, syncs, registry = b"", 0, None
        try:
            while data := client.recv(65536):
                buffer += data
                while len(buffer) >= 8:
                    obj, word = struct.unpack_from("<II", buffer)
                    size, opcode = word >> 16, word & 0xFFFF
                    if len(buffer) < size:
                        break
                    body, buffer = buffer[8:size], buffer[size:]
                    if self.silent and syncs >= 1:
                        continue
                    if obj == 1 and opcode == 1:  # get_registry
                        (registry,) = struct.unpack_from("<I", body)
                        client.sendall(self._globals(registry))
                    elif obj == 1 and opcode == 0:  # sync
                        syncs += 1
                        client.sendall(_message(struct.unpack_from("<I", body)[0], 0, struct.pack("<I", syncs)))
                    elif obj == registry and opcode == 0 and body[:4] == struct.pack("<I", 1):  # bind of the output
                        (n,) = struct.unpack_from("<I", body, 4)
                        version, new_id = struct.unpack_from("<II", body, 8 + (n + 3) // 4 * 4)
                        client.sendall(self._output_events(new_id, version))
        except OSError:
            pass
