"""The native programs started with standard streams closed. Each closed one
is the null device before the program opens anything of its own, so no
connection or pipe ever takes its number: the watcher's lifeline still ends,
and no reply or record is written into a server's connection."""

import json
import os
import socket
import subprocess
import tempfile
import threading
import unittest

import pulse
import xserver
from gate import Gate

WAIT = xserver.WAIT
CLOSED_SETS = [(0,), (1,), (2,), (0, 1), (0, 1, 2)]
SINKS = [("speakers", "Speakers"), ("headphones", "Headphones")]


def start(command, env, closed):
    """Starts `command` with the standard descriptors in `closed` closed and
    the others pipes."""
    def close_them():
        for fd in closed:
            os.close(fd)

    pipes = [None if fd in closed else subprocess.PIPE for fd in (0, 1, 2)]
    return subprocess.Popen(command, stdin=pipes[0], stdout=pipes[1], stderr=pipes[2], env=env,
                            preexec_fn=close_them)


def descriptor(proc, fd):
    """What descriptor `fd` of the running `proc` is, or None when closed."""
    try:
        return os.readlink(f"/proc/{proc.pid}/fd/{fd}")
    except FileNotFoundError:
        return None


class RecordingRelay:
    """A display of its own (an abstract unix socket) that passes every
    connection on to `server` and keeps every byte its clients send."""

    def __init__(self, server):
        self._target = "/tmp/.X11-unix/X" + server.display[1:]
        self._threads = []
        self._sent = []
        self._listener = self._listen()
        self._acceptor = threading.Thread(target=self._accept, daemon=True)
        self._acceptor.start()

    def _listen(self):
        for number in range(800, 900):  # below the other relays' numbers
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                listener.bind(b"\0/tmp/.X11-unix/X%d" % number)
            except OSError:
                listener.close()
                continue
            listener.listen()
            self.display = f":{number}"
            return listener
        raise RuntimeError("no free display number for the relay")

    def env(self):
        return xserver.environment(self.display)

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return  # stopped
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.connect(self._target)
            for source, sink, record in ((client, server, True), (server, client, False)):
                thread = threading.Thread(target=self._copy, args=(source, sink, record), daemon=True)
                self._threads.append(thread)
                thread.start()

    def _copy(self, source, sink, record):
        try:
            while chunk := source.recv(65536):
                if record:
                    self._sent.append(chunk)
                sink.sendall(chunk)
        except OSError:
            pass
        for end in (source, sink):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        source.close()  # each socket is the source of one thread

    def sent(self):
        """Every byte the clients sent, once every connection has ended."""
        for thread in list(self._threads):
            thread.join(timeout=WAIT)
            if thread.is_alive():
                raise AssertionError("a connection through the relay did not end")
        return b"".join(self._sent)

    def stop(self):
        self._listener.shutdown(socket.SHUT_RDWR)  # wakes accept()
        self._listener.close()
        self._acceptor.join(timeout=WAIT)


class ClosedStreamTestCase(unittest.TestCase):
    def run_gated(self, command, env, gate_variable, closed):
        """Runs `command` with `closed` closed, checks that each of them is
        the null device when the program reaches its gate (the connection's
        set-up), and returns its status and output ({fd: bytes})."""
        folder = tempfile.mkdtemp(prefix="fx.", dir="/tmp")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", folder]))
        gate = Gate(folder)
        proc = start(command, {**env, gate_variable: str(gate.path)}, closed)
        self.addCleanup(proc.wait)
        self.addCleanup(proc.kill)
        self.addCleanup(gate.release)
        gate.hold(proc)
        gate.remove()
        targets = {fd: descriptor(proc, fd) for fd in closed}
        gate.release()
        self.assertEqual(targets, {fd: "/dev/null" for fd in closed})
        out, err = proc.communicate(timeout=WAIT)  # closes the watcher's lifeline
        return proc.returncode, {1: out, 2: err}

    def check_output(self, output, closed, line_check):
        if 2 not in closed:
            self.assertEqual(output[2], b"")
        if 1 not in closed:
            line_check(output[1])


class KnobwerkTest(ClosedStreamTestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = pulse.PulseServer(sinks=SINKS, default="headphones").__enter__()
        cls.addClassCleanup(cls.server.close)

    def expected(self):
        indices = self.server.indices("sinks")
        return {"current": 2 * indices["headphones"] + 2,
                "outputs": sorted(({"id": 2 * indices[name] + 2, "name": text} for name, text in SINKS),
                                  key=lambda output: output["id"])}

    def test_a_closed_stream_is_the_null_device_and_the_reply_lists_every_sink(self):
        # Without it libpulse's wake-up pipe takes the number: `<&- >&-`
        # wrote the reply into that pipe.
        for closed in CLOSED_SETS:
            with self.subTest(closed=closed):
                status, output = self.run_gated([pulse.KNOBWERK, "outputs"], self.server.env,
                                                "PULSE_CLIENTCONFIG", closed)
                self.assertEqual(status, 0)
                self.check_output(output, closed, lambda out: self.assertEqual(json.loads(out), self.expected()))


class XProgramsTest(ClosedStreamTestCase):
    @classmethod
    def setUpClass(cls):
        # Without X-Resource, the window's own _NET_WM_PID is the record's pid.
        cls.server = xserver.XServer("-extension", "X-Resource")
        cls.addClassCleanup(cls.server.stop)
        cls.desktop = xserver.Desktop(cls.server.display)
        cls.addClassCleanup(cls.desktop.close)
        # A frontmost application, so the watcher has a record to write.
        cls.desktop.activate(cls.desktop.window(wm_class=b"editor\0Editor\0", pid=4242))

    def check_record(self, out):
        lines = out.splitlines()
        self.assertEqual(len(lines), 1, out)
        self.assertEqual(json.loads(lines[0])["pid"], 4242)

    def check_screen(self, out):
        self.assertEqual(json.loads(out)["screenWidth"], 3432)

    def test_a_closed_stream_is_the_null_device_and_the_run_ends_with_status_0(self):
        # Without it the X connection takes the number: `Quelmark <&-` read
        # protocol bytes as its lifeline and never ended.
        for name, line_check in (("Quelmark", self.check_record), ("Brimgauge", self.check_screen)):
            for closed in CLOSED_SETS:
                with self.subTest(program=name, closed=closed):
                    status, output = self.run_gated([xserver.native_program(name)], self.server.env(),
                                                    "XAUTHORITY", closed)
                    self.assertEqual(status, 0)
                    self.check_output(output, closed, line_check)

    def test_nothing_is_written_into_the_display_connection(self):
        # Standard output closed: the line once went into the X connection.
        for name, text in (("Quelmark", b'"v":1'), ("Brimgauge", b'"notched"')):
            with self.subTest(program=name):
                relay = RecordingRelay(self.server)
                self.addCleanup(relay.stop)
                proc = start([xserver.native_program(name)], relay.env(), closed=(1,))
                self.addCleanup(proc.kill)
                proc.stdin.close()  # the watcher prints its first record, then ends
                self.assertEqual(proc.wait(timeout=WAIT), 0)
                self.assertEqual(proc.stderr.read(), b"")
                proc.stderr.close()
                self.assertNotIn(text, relay.sent())


if __name__ == "__main__":
    unittest.main()
