"""A Wayland application for the tests, speaking the wire protocol itself
(standard library only): it maps xdg toplevels with the app_id and title it is
told, any number per process.

Commands on standard input, one per line:
  open KEY APP_ID TITLE...   ("-" for APP_ID or TITLE: never set)  -> "mapped KEY"
  title KEY TEXT...                                                  -> "titled KEY"
  close KEY                                                          -> "closed KEY"
It prints "ready PID" once connected; the end of standard input ends it."""

import os
import select
import socket
import struct
import sys


def padded(n):
    return (n + 3) & ~3


def string_arg(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (padded(len(data)) - len(data))


def read_string(body, at):
    (n,) = struct.unpack_from("<I", body, at)
    return body[at + 4:at + 4 + n - 1].decode(), at + 4 + padded(n)


class Connection:
    def __init__(self, env=os.environ):
        name = env["WAYLAND_DISPLAY"]
        path = name if name.startswith("/") else os.path.join(env["XDG_RUNTIME_DIR"], name)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id, self.kinds, self.handlers, self.buffer = 2, {1: "wl_display"}, {}, b""
        self.handlers[("wl_display", 0)] = self.on_error

    def new(self, kind):
        object_id = self.next_id
        self.next_id += 1
        self.kinds[object_id] = kind
        return object_id

    def send(self, obj, opcode, payload=b"", fds=()):
        message = struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload
        if fds:
            socket.send_fds(self.sock, [message], list(fds))
        else:
            self.sock.sendall(message)

    def pump(self, timeout=None):
        if not select.select([self.sock], [], [], timeout)[0]:
            return
        data = self.sock.recv(65536)
        if not data:
            sys.exit("the compositor closed the connection")
        self.buffer += data
        while len(self.buffer) >= 8:
            obj, word = struct.unpack_from("<II", self.buffer)
            size = word >> 16
            if len(self.buffer) < size:
                break
            body, self.buffer = self.buffer[8:size], self.buffer[size:]
            handler = self.handlers.get((self.kinds.get(obj), word & 0xFFFF))
            if handler:
                handler(obj, body)

    def roundtrip(self):
        callback, done = self.new("wl_callback"), []
        self.handlers[("wl_callback", 0)] = lambda obj, body: done.append(obj)
        self.send(1, 0, struct.pack("<I", callback))  # wl_display.sync
        while callback not in done:
            self.pump()

    @staticmethod
    def on_error(obj, body):
        target, code = struct.unpack_from("<II", body)
        sys.exit(f"protocol error on {target}, code {code}: {read_string(body, 8)[0]}")


class App:
    SIZE = 64

    def __init__(self):
        self.c = c = Connection()
        self.globals = {}
        c.handlers[("wl_registry", 0)] = self.on_global
        self.registry = c.new("wl_registry")
        c.send(1, 1, struct.pack("<I", self.registry))  # wl_display.get_registry
        c.roundtrip()
        self.compositor = self.bind("wl_compositor", 4)
        shm = self.bind("wl_shm", 1)
        self.wm = self.bind("xdg_wm_base", 1)
        c.handlers[("xdg_wm_base", 0)] = lambda obj, body: c.send(self.wm, 3, body[:4])  # ping -> pong
        c.handlers[("xdg_surface", 0)] = self.on_configure
        # One shared buffer for every window.
        fd = os.memfd_create("wayland_app")
        os.ftruncate(fd, self.SIZE * self.SIZE * 4)
        os.pwrite(fd, b"\x80\x40\x20\xff" * (self.SIZE * self.SIZE), 0)
        pool = c.new("wl_shm_pool")
        c.send(shm, 0, struct.pack("<Ii", pool, self.SIZE * self.SIZE * 4), fds=[fd])  # create_pool
        self.buffer = c.new("wl_buffer")
        c.send(pool, 0, struct.pack("<IiiiiI", self.buffer, 0, self.SIZE, self.SIZE, self.SIZE * 4, 0))
        os.close(fd)
        self.windows, self.surfaces = {}, {}
        c.roundtrip()

    def on_global(self, obj, body):
        (name,) = struct.unpack_from("<I", body)
        interface, at = read_string(body, 4)
        self.globals[interface] = (name, struct.unpack_from("<I", body, at)[0])

    def bind(self, interface, version):
        name, offered = self.globals[interface]
        object_id = self.c.new(interface)
        self.c.send(self.registry, 0, struct.pack("<I", name) + string_arg(interface) +
                    struct.pack("<II", min(version, offered), object_id))
        return object_id

    def on_configure(self, obj, body):
        c = self.c
        c.send(obj, 4, body[:4])  # xdg_surface.ack_configure
        state = self.surfaces[obj]
        surface, mapped, key = state
        if not mapped:
            c.send(surface, 1, struct.pack("<Iii", self.buffer, 0, 0))  # attach
            c.send(surface, 2, struct.pack("<iiii", 0, 0, self.SIZE, self.SIZE))  # damage
            state[1] = True
        c.send(surface, 6)  # commit
        if not mapped:
            c.roundtrip()
            print("mapped", key, flush=True)

    def command(self, words):
        c = self.c
        verb, key = words[0], words[1]
        if verb == "open":
            surface = c.new("wl_surface")
            c.send(self.compositor, 0, struct.pack("<I", surface))  # create_surface
            xdg_surface = c.new("xdg_surface")
            c.send(self.wm, 2, struct.pack("<II", xdg_surface, surface))  # get_xdg_surface
            toplevel = c.new("xdg_toplevel")
            c.send(xdg_surface, 1, struct.pack("<I", toplevel))  # get_toplevel
            if words[2] != "-":
                c.send(toplevel, 3, string_arg(words[2]))  # set_app_id
            if words[3:] != ["-"]:
                c.send(toplevel, 2, string_arg(" ".join(words[3:])))  # set_title
            self.surfaces[xdg_surface] = [surface, False, key]
            self.windows[key] = (surface, xdg_surface, toplevel)
            c.send(surface, 6)  # a commit without a buffer asks for the first configure
        elif verb == "title":
            surface, _, toplevel = self.windows[key]
            c.send(toplevel, 2, string_arg(" ".join(words[2:])))
            c.send(surface, 6)
            c.roundtrip()
            print("titled", key, flush=True)
        elif verb == "close":
            surface, xdg_surface, toplevel = self.windows.pop(key)
            for obj in (toplevel, xdg_surface, surface):
                c.send(obj, 0)  # destroy
            c.roundtrip()
            print("closed", key, flush=True)

    def run(self):
        print("ready", os.getpid(), flush=True)
        while True:
            ready = select.select([self.c.sock, sys.stdin], [], [])[0]
            if self.c.sock in ready:
                self.c.pump(0)
            if sys.stdin in ready:
                line = sys.stdin.readline()
                if not line:
                    return
                if len(line.split()) >= 2:
                    self.command(line.split())


if __name__ == "__main__":
    App().run()
