"""A private Xvfb for the tests, and an X client that plays both the window
manager and the applications whose windows it activates."""

import json
import os
import queue
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

from Xlib import X, Xatom
from Xlib import display as xdisplay
from Xlib.ext import record

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
BUILD_DIR = Path(os.environ.get("BUILD_DIR", ROOT / "build"))
READY_TRIES = 60  # seconds, one select() each: a busy machine can be slow to start a server
WAIT = 30  # seconds: a bound for anything awaited, never an expected duration
CHANGE_PROPERTY, GET_PROPERTY = 18, 20  # core request opcodes; DeleteProperty (19) lies between


def native_program(name):
    return str(BUILD_DIR / "bin" / name)


def environment(display=None):
    """This process's environment with DISPLAY set to `display`, or unset,
    and no Wayland display (which would be asked first)."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    if display is not None:
        env["DISPLAY"] = display
    return env


UNANSWERED_NAME = "x11-display.invalid:0"  # a display whose host only DNS could find


def run_with_silent_resolver(testcase, program, env, stdin=subprocess.DEVNULL):
    """Runs `program` where name resolution never answers (silent_resolver.py):
    its status, output, error output and run time in seconds. Where this
    machine cannot make a private namespace the test is skipped, unless every
    suite must run (scripts/test.sh)."""
    helper = Path(__file__).with_name("silent_resolver.py")
    as_root = [] if os.geteuid() == 0 else ["--map-root-user"]
    proc = subprocess.run(["unshare", *as_root, "--net", "--mount", "--propagation", "private", sys.executable,
                           str(helper), program], stdin=stdin, capture_output=True, env=env, timeout=WAIT * 2)
    if proc.returncode != 0 and proc.stderr.startswith(b"unshare:"):
        if os.environ.get("REQUIRE_ALL_TESTS") == "ON":
            raise AssertionError("a private network namespace is needed: " + proc.stderr.decode(errors="replace"))
        testcase.skipTest("no private network namespace here (unshare)")
    testcase.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
    result = json.loads(proc.stdout)
    return result["status"], result["stdout"].encode(), result["stderr"].encode(), result["seconds"]


class XServer:
    """Xvfb on a free display number. It never resets (so root properties and
    monitors stay), and listens on no TCP port. Call stop() in every case."""

    def __init__(self, *extra_args, display=None):
        """`display` (":N") asks for that display instead of a free one."""
        self._log = tempfile.TemporaryFile()
        read_end, write_end = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", *([display] if display else []), "-displayfd", str(write_end), "-screen", "0",
                 "3432x1117x24", "-nolisten", "tcp", "-noreset", *extra_args],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=self._log, stderr=self._log)
        finally:
            os.close(write_end)
        try:
            self.display = ":" + self._read_display_number(read_end)
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)

    def _read_display_number(self, fd):
        # Xvfb writes the number it took, and a line feed, once it accepts
        # clients; the pipe ends early if it fails to start.
        text = b""
        for _ in range(READY_TRIES):
            if b"\n" in text:
                return text.decode().strip()
            ready, _, _ = select.select([fd], [], [], 1.0)
            if ready:
                chunk = os.read(fd, 64)
                if not chunk:
                    break
                text += chunk
        self._log.seek(0)
        raise RuntimeError(f"Xvfb did not start: {self._log.read().decode(errors='replace')}")

    def env(self):
        return environment(self.display)

    def pause(self):
        """Stops the server (SIGSTOP): it stays alive and accepts connections
        into its backlog, but answers nothing until stop()."""
        self.proc.send_signal(signal.SIGSTOP)

    def stop(self):
        if self.proc.poll() is None:
            # A paused server would not act on SIGTERM.
            self.proc.send_signal(signal.SIGCONT)
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc.wait()
        self._log.close()


def listen_as_display():
    """(":N", listening socket) on the first free display number well above
    those Xvfb takes, as an abstract unix socket."""
    for number in range(900, 1000):
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            listener.bind(b"\0/tmp/.X11-unix/X%d" % number)
        except OSError:
            listener.close()
            continue
        listener.listen()
        return f":{number}", listener
    raise RuntimeError("no free display number")


class OneByteServer:
    """A display whose server answers a connection set-up with its first byte
    and then nothing more, holding the connection open. Call stop() in every
    case."""

    def __init__(self):
        self.display, self._listener = listen_as_display()
        self._sockets = []
        threading.Thread(target=self._accept, daemon=True).start()

    def env(self):
        return environment(self.display)

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
                self._sockets.append(client)
                client.recv(4096)
                client.sendall(b"\1")  # the first byte of a successful set-up
            except OSError:
                return  # stopped

    def stop(self):
        self._listener.shutdown(socket.SHUT_RDWR)
        self._listener.close()
        for sock in self._sockets:
            sock.close()


def write_authority(path, display, cookie):
    """An authority file as xauth writes one: the MIT-MAGIC-COOKIE-1 `cookie`
    for `display` (":N") on this machine."""
    def field(data):
        return struct.pack(">H", len(data)) + data

    family_local = 256
    with open(path, "wb") as f:
        f.write(struct.pack(">H", family_local) + field(socket.gethostname().encode())
                + field(display[1:].encode()) + field(b"MIT-MAGIC-COOKIE-1") + field(cookie))


class Relay:
    """A display of its own (an abstract unix socket) that passes every
    connection on to `server`. Once hold_answers() is called, the server's
    replies and errors are kept back while its events still pass: a server
    that stops answering requests mid-run. Call stop() in every case."""

    def __init__(self, server):
        self._target = "/tmp/.X11-unix/X" + server.display[1:]
        self._holding = threading.Event()
        self._sockets = []
        self._listener = self._listen()
        threading.Thread(target=self._accept, daemon=True).start()

    def _listen(self):
        self.display, listener = listen_as_display()
        return listener

    def env(self):
        return environment(self.display)

    def hold_answers(self):
        self._holding.set()

    def release_answers(self):
        """Answers flow again; those held back so far are lost."""
        self._holding.clear()

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return  # stopped
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.connect(self._target)
            self._sockets += [client, server]
            threading.Thread(target=self._copy, args=(client, server), daemon=True).start()
            threading.Thread(target=self._answer, args=(server, client), daemon=True).start()

    @staticmethod
    def _read(sock, count):
        data = b""
        while len(data) < count:
            chunk = sock.recv(count - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def _copy(self, source, sink):
        try:
            while chunk := source.recv(65536):
                sink.sendall(chunk)
        except OSError:
            pass
        sink.close()

    def _answer(self, server, client):
        # Both ends speak this machine's byte order, as xcb does. The set-up
        # reply tells its length at byte 6; a reply (1) or a generic event
        # (35) at byte 4, beyond its first 32 bytes; an error (0) or any other
        # event is 32 bytes.
        try:
            head = self._read(server, 8)
            client.sendall(head + self._read(server, 4 * struct.unpack_from("=H", head, 6)[0]))
            while True:
                message = self._read(server, 32)
                if (message[0] & 0x7F) in (1, 35):
                    message += self._read(server, 4 * struct.unpack_from("=I", message, 4)[0])
                if not (self._holding.is_set() and message[0] in (0, 1)):
                    client.sendall(message)
        except (OSError, EOFError):
            pass
        client.close()

    def stop(self):
        self._listener.shutdown(socket.SHUT_RDWR)  # wakes accept()
        self._listener.close()
        for sock in self._sockets:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()


class ActiveWindowTraffic:
    """Every write and read of the root's _NET_ACTIVE_WINDOW, in the order the
    server carries them out (RECORD extension). A watcher reads the property
    again for each change, so quick writes can merge into the latest; this is
    how a test knows a value has been read before it writes the next."""

    def __init__(self, display):
        self.control = xdisplay.Display(display)
        self.stream = xdisplay.Display(display)
        self.root = self.control.screen().root.id
        self.atom = self.control.intern_atom("_NET_ACTIVE_WINDOW")
        self.items = queue.Queue()
        self.writes = 0  # writes taken from the queue so far
        self.reads_by = {}  # reads taken from the queue so far, by client (resource id base)
        self.unread = False  # a write taken from the queue has not been read by the client caught_up() names
        self.context = self.control.record_create_context(0, [record.AllClients], [{
            "core_requests": (CHANGE_PROPERTY, GET_PROPERTY), "core_replies": (0, 0),
            "ext_requests": (0, 0, 0, 0), "ext_replies": (0, 0, 0, 0), "delivered_events": (0, 0),
            "device_events": (0, 0), "errors": (0, 0), "client_started": False, "client_died": False}])
        self.control.sync()
        # Enabling answers until the context is disabled, so it has a thread
        # and a connection of its own.
        self.thread = threading.Thread(target=self.stream.record_enable_context,
                                       args=(self.context, self._intercepted), daemon=True)
        self.thread.start()
        if self.items.get(timeout=WAIT)[0] != "started":
            raise RuntimeError("RECORD did not start")

    def _intercepted(self, reply):
        if reply.category == record.StartOfData:
            self.items.put(("started", 0))
        elif reply.category == record.FromClient:
            for item in self._requests(bytes(reply.data)):
                self.items.put((item, reply.id_base))

    def _requests(self, data):
        # One reply may hold several requests of a client, each with its
        # length in 4-byte units.
        while len(data) >= 12:
            opcode = data[0]
            length, window, atom = struct.unpack_from("=HII", data, 2)
            if window == self.root and atom == self.atom:
                yield "read" if opcode == GET_PROPERTY else "write"
            if length == 0:
                break
            data = data[4 * length:]

    def _take(self, reader=None):
        kind, client = self.items.get(timeout=WAIT)
        if kind == "write":
            self.writes += 1
            self.unread = True
        else:
            self.reads_by[client] = self.reads_by.get(client, 0) + 1
            if client == reader:
                self.unread = False
        return kind

    def read_after(self, writes):
        """Waits until the property has been read after the `writes`-th write."""
        while not (self._take() == "read" and self.writes >= writes):
            pass

    def caught_up(self, reader, own, own_reads):
        """Waits until the client `reader` has read the property after every
        write carried out before the `own_reads`-th read by the client `own`
        (clients named by their resource id base): whoever writes it (a
        window manager), `reader` has seen the value that `own` saw."""
        while self.reads_by.get(own, 0) < own_reads or self.unread:
            self._take(reader)

    def close(self):
        self.control.record_disable_context(self.context)
        self.control.sync()
        self.thread.join(timeout=WAIT)
        self.control.record_free_context(self.context)
        self.control.close()
        self.stream.close()


class Desktop:
    """An X client on `display` that makes windows for fake applications and
    names the active one as a window manager does."""

    def __init__(self, display, record=True):
        """Without `record`, settle() cannot be used, and the server records
        nothing: a flood then costs no more than its own writes."""
        self.d = xdisplay.Display(display)
        self.root = self.d.screen().root
        self.traffic = ActiveWindowTraffic(display) if record else None
        self.writes = 0  # of _NET_ACTIVE_WINDOW
        self.closed = False

    def close(self):
        if not self.closed:
            self.closed = True
            if self.traffic:
                self.traffic.close()
            self.d.close()

    def atom(self, name):
        return self.d.intern_atom(name)

    def window(self, **properties):
        """A window of this client; see make_window()."""
        return make_window(self.d, **properties)

    def activate(self, window):
        """Writes the root's _NET_ACTIVE_WINDOW (None: no window)."""
        self.write_active(Xatom.WINDOW, 32, [window.id if window is not None else X.NONE])

    def write_active(self, type, format, value):
        self.root.change_property(self.atom("_NET_ACTIVE_WINDOW"), type, format, value)
        self.d.sync()
        self.writes += 1

    def forget_active(self):
        self.root.delete_property(self.atom("_NET_ACTIVE_WINDOW"))
        self.d.sync()
        self.writes += 1

    def settle(self):
        """Waits until the latest value has been read (by the watcher: nothing
        else here reads it), so the next write cannot merge with it."""
        self.traffic.read_after(self.writes)


def make_window(d, wm_class=None, pid=None, gtk_id=None, kde_file=None, wm_class_type=Xatom.STRING,
                transient_for=None, group=None, client_leader=None):
    """A window on the connection `d` with the given properties: `wm_class`
    as raw bytes, the desktop-file ids as raw bytes of type UTF8_STRING, and
    the windows it is transient for or grouped with as window ids."""
    w = d.screen().root.create_window(0, 0, 10, 10, 0, X.CopyFromParent)
    if wm_class is not None:
        w.change_property(Xatom.WM_CLASS, wm_class_type, 8, wm_class)
    if pid is not None:
        w.change_property(d.intern_atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [pid])
    for name, value in (("_GTK_APPLICATION_ID", gtk_id), ("_KDE_NET_WM_DESKTOP_FILE", kde_file)):
        if value is not None:
            w.change_property(d.intern_atom(name), d.intern_atom("UTF8_STRING"), 8, value)
    if transient_for is not None:
        w.change_property(Xatom.WM_TRANSIENT_FOR, Xatom.WINDOW, 32, [transient_for])
    if group is not None:
        # WM_HINTS: flags (WindowGroupHint, 1 << 6) and eight fields, the
        # window group last.
        w.change_property(Xatom.WM_HINTS, Xatom.WM_HINTS, 32, [1 << 6, 0, 0, 0, 0, 0, 0, 0, group])
    if client_leader is not None:
        w.change_property(d.intern_atom("WM_CLIENT_LEADER"), Xatom.WINDOW, 32, [client_leader])
    d.sync()
    return w


class FakeApp:
    """An application in a process of its own (fake_app.py), so that the X
    server knows its windows' client by that process's pid. Call close() in
    every case."""

    def __init__(self, display):
        self.proc = subprocess.Popen([sys.executable, str(HERE / "fake_app.py"), display],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.pid = self.proc.pid

    def window(self, **properties):
        """A window made by the application, as an object with its `id`."""
        self.proc.stdin.write(repr(properties).encode() + b"\n")
        self.proc.stdin.flush()
        ready, _, _ = select.select([self.proc.stdout], [], [], WAIT)
        line = self.proc.stdout.readline() if ready else b""
        if not line.strip():
            raise RuntimeError("the fake application made no window")
        return Window(int(line))

    def close(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()


class Window:
    def __init__(self, id):
        self.id = id
