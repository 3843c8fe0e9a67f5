"""A private PulseAudio server for tests, and runs of the native control tool
against it.

Everything lives in a fresh temporary folder: the server's socket, its home,
its log. Clients are given an environment that names only that server, so no
test ever reaches the sound server of the user running it."""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("BUILD_DIR", ROOT / "build"))
KNOBWERK = str(BUILD_DIR / "bin" / "Knobwerk")

READY_TRIES = 200  # pactl calls, 50 ms apart at most
NOBODY = 65534
PR_SET_PDEATHSIG = 1


def short_folder():
    # A unix socket path holds at most 107 bytes, so not under a long TMPDIR.
    return Path(tempfile.mkdtemp(prefix="fx.", dir="/tmp"))


def isolated_env(folder, **extra):
    """An environment that reaches no sound server, X display or session bus
    of the user, and keeps libpulse's files inside `folder`."""
    runtime = Path(folder) / "xdg"
    runtime.mkdir(mode=0o700, exist_ok=True)
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "HOME": str(folder),
        "XDG_RUNTIME_DIR": str(runtime),
        "XDG_CONFIG_HOME": str(Path(folder) / "config"),
        "DBUS_SESSION_BUS_ADDRESS": "disabled:",
        "LANG": "C.UTF-8",
    }
    env.update(extra)
    return env


def knobwerk(env, *args):
    """Runs build/bin/Knobwerk; the timeout only catches a hang."""
    return subprocess.run([KNOBWERK, *args], capture_output=True, env=env, timeout=10)


def run_as_user(folder, command, env):
    """Runs `command` as an ordinary user: as root, as nobody, who is then
    given `folder`."""
    if os.getuid() == 0:
        for path in [folder, *Path(folder).rglob("*")]:
            os.chown(path, NOBODY, NOBODY, follow_symlinks=False)
        command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", *command]
    return subprocess.run(command, capture_output=True, env=env, cwd=folder, timeout=10)


def end_with_parent():
    """In a daemon about to start: the kernel ends it when the test that
    started it dies without stopping it (killed on a timeout, say)."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def description_value(text):
    """A module argument value for a description: any bytes, as hex. None
    gives a description that is not text (the device has none)."""
    data = b"\xff" if text is None else text.encode("utf-8")
    return "hex:" + (data + b"\0").hex()


class PulseServer:
    """pulseaudio with the given null sinks and sources, each a
    (name, description) pair, and `default` as its default sink."""

    def __init__(self, sinks=(), sources=(), default=None):
        self.sinks = list(sinks)
        self.sources = list(sources)
        self.default = default
        self.folder = None
        self.process = None

    def __enter__(self):
        self.folder = short_folder()
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.process is not None:
            # SIGKILL also ends a stopped server.
            self.process.kill()
            self.process.wait()
            self.process = None
        if self.folder is not None:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    @property
    def socket_path(self):
        return self.folder / "xdg" / "pulse" / "native"

    @property
    def env(self):
        return isolated_env(self.folder, PULSE_SERVER=f"unix:{self.socket_path}")

    def _script(self):
        lines = [f"load-module module-native-protocol-unix auth-anonymous=1 socket={self.socket_path}"]
        for name, text in self.sinks:
            lines.append(f"load-module module-null-sink sink_name={name} "
                         f"sink_properties=device.description={description_value(text)}")
        for name, text in self.sources:
            # This module takes no properties: plain text only.
            lines.append(f'load-module module-null-source source_name={name} description="{text}"')
        if self.default is not None:
            lines.append(f"set-default-sink {self.default}")
        return "\n".join(lines) + "\n"

    def _start(self):
        script = self.folder / "test.pa"
        script.write_text(self._script())
        server_env = isolated_env(self.folder, PULSE_RUNTIME_PATH=str(self.socket_path.parent))
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--system=no", "--exit-idle-time=-1", "--realtime=no",
             "--high-priority=no", "-F", str(script), f"--log-target=file:{self.folder / 'pulse.log'}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=server_env,
            preexec_fn=end_with_parent)
        self._wait_until_ready()

    def _wait_until_ready(self):
        # A failing script line does not stop the server: it is ready when
        # every device exists.
        for _ in range(READY_TRIES):
            self._check_running()
            try:
                if self._loaded():
                    return
            except subprocess.CalledProcessError:
                pass
            time.sleep(0.05)
        raise RuntimeError("pulseaudio did not become ready")

    def _check_running(self):
        if self.process.poll() is not None:
            raise RuntimeError(f"pulseaudio ended with status {self.process.returncode}")

    def _loaded(self):
        # The script's lines run in order, so the last one's effect shows that all are done.
        sinks, sources = self.indices("sinks"), self.indices("sources")
        return all(name in sinks for name, _ in self.sinks) and \
            all(name in sources for name, _ in self.sources) and \
            self.default in (None, self.default_sink())

    def pactl(self, *args):
        """pactl's standard output against this server, as text."""
        return subprocess.run(["pactl", *args], capture_output=True, env=self.env, timeout=10,
                              check=True).stdout.decode("utf-8")

    def short_list(self, kind):
        """The rows of `pactl list short <kind>`, each a list of fields."""
        return [line.split("\t") for line in self.pactl("list", "short", kind).splitlines()]

    def indices(self, kind):
        """{name: index} of the sinks or sources."""
        return {row[1]: int(row[0]) for row in self.short_list(kind)}

    def described_sinks(self):
        """{name: (index, description)} of the sinks, from pactl's text (its
        JSON mangles non-ASCII)."""
        sinks, index, name = {}, None, None
        for line in self.pactl("list", "sinks").splitlines():
            if line.startswith("Sink #"):
                index = int(line[len("Sink #"):])
            elif line.startswith("\tName: "):
                name = line[len("\tName: "):]
            elif line.startswith("\tDescription: "):
                sinks[name] = (index, line[len("\tDescription: "):])
        return sinks

    def default_sink(self):
        return self.pactl("get-default-sink").strip()

    def set_default(self, name):
        """Makes `name` the default sink, as any client would, and waits
        until the server reports it so."""
        self.pactl("set-default-sink", name)
        self.wait_for(lambda: self.default_sink() == name, f"{name} as the default sink")

    def wait_for(self, condition, what):
        for _ in range(READY_TRIES):
            if condition():
                return
            time.sleep(0.05)
        raise AssertionError(f"the server never showed {what}")

    def expected_name(self, name, text):
        """The name a device made with description `text` is listed under:
        a description that is not text is none."""
        return text

    def add_sink(self, name, text):
        self.pactl("load-module", "module-null-sink", f"sink_name={name}",
                   f"sink_properties=device.description={description_value(text)}")

    def remove_sink(self, name):
        for row in self.short_list("modules"):
            if row[1] == "module-null-sink" and f"sink_name={name} " in row[2] + " ":
                self.pactl("unload-module", row[0])
                return
        raise AssertionError(f"no module for {name}")

    def last_client(self):
        """The index of the client that asks: the server numbers every
        connection, never reusing an index."""
        return max(int(row[0]) for row in self.short_list("clients") if row[2] == "pactl")

    def knobwerk(self, *args):
        return knobwerk(self.env, *args)

    def daemons(self):
        """{name: process} of the daemons that make up the server."""
        return {"pulseaudio": self.process}

    def stop(self):
        """Stops every daemon of the server: connections are taken, nothing answers."""
        for daemon in self.daemons().values():
            daemon.send_signal(signal.SIGSTOP)

    def resume(self):
        for daemon in self.daemons().values():
            daemon.send_signal(signal.SIGCONT)


class SilentServer:
    """A unix socket that accepts connections and never answers."""

    def __init__(self):
        self.folder = short_folder()
        self.path = self.folder / "native"
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.bind(str(self.path))
        # Room for every connection a faulty client might make.
        self.socket.listen(64)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.socket.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    @property
    def env(self):
        return isolated_env(self.folder, PULSE_SERVER=f"unix:{self.path}")

    def connections(self):
        """How many connections were made so far (all are taken off the queue)."""
        self.socket.setblocking(False)
        count = 0
        while True:
            try:
                connection, _ = self.socket.accept()
            except BlockingIOError:
                return count
            connection.close()
            count += 1


SESSION_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={path}</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def spa_string(text):
    """`text` as a quoted string of PipeWire's JSON dialect."""
    escaped = text.replace("\\", "\\\\").replace('"', '\\"').replace("\t", "\\t")
    return f'"{escaped}"'


class PipeWireServer(PulseServer):
    """pipewire, wireplumber and pipewire-pulse with the given null sinks and
    sources, on a private session bus (without one wireplumber never sets a
    default sink). Devices are made with pw-cli: pipewire-pulse's
    load-module cuts a description at its first space. `makes_defaults`
    False leaves out wireplumber's part that makes a default effective."""

    def __init__(self, sinks=(), sources=(), default=None, makes_defaults=True):
        super().__init__(sinks, sources, default)
        self.makes_defaults = makes_defaults
        self.processes = []

    def close(self):
        # Last started, first stopped; SIGKILL also ends a stopped daemon.
        for process in reversed(self.processes):
            process.kill()
            process.wait()
        self.processes = []
        super().close()

    @property
    def runtime(self):
        return self.folder / "xdg"

    @property
    def bus_path(self):
        return self.folder / "bus"

    def _daemon_env(self):
        # The private session bus, and a system bus that is not there: the
        # daemons would ask the machine's for real-time scheduling or devices.
        return isolated_env(self.folder, DBUS_SESSION_BUS_ADDRESS=f"unix:path={self.bus_path}",
                            DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/system_bus_socket",
                            PIPEWIRE_LOG_SYSTEMD="false")

    def _configure_session_manager(self):
        # Only the test's own devices: no sound card, camera or Bluetooth
        # device of the machine is opened.
        config = self.folder / "config" / "wireplumber"
        for folder, monitors in [("main.lua.d", ["alsa", "v4l2", "libcamera"]), ("bluetooth.lua.d", ["bluez"])]:
            (config / folder).mkdir(parents=True, exist_ok=True)
            (config / folder / "60-test-devices-only.lua").write_text(
                "".join(f"{monitor}_monitor.enabled = false\n" for monitor in monitors))
        if not self.makes_defaults:
            # The session manager then never makes a requested default effective.
            (config / "main.lua.d" / "61-no-defaults.lua").write_text("device_defaults.enabled = false\n")

    def _spawn(self, command, ready, name):
        log = open(self.folder / f"{name}.log", "wb")
        with log:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                       env=self._daemon_env(), preexec_fn=end_with_parent)
        self.processes.append(process)
        for _ in range(READY_TRIES):
            if process.poll() is not None:
                raise RuntimeError(f"{name} ended with status {process.returncode}")
            if ready():
                return
            time.sleep(0.05)
        raise RuntimeError(f"{name} did not become ready")

    def _start(self):
        (self.folder / "bus.conf").write_text(SESSION_BUS_CONFIG.format(path=self.bus_path))
        self._configure_session_manager()
        self._spawn(["dbus-daemon", "--nofork", "--nopidfile", f"--config-file={self.folder / 'bus.conf'}"],
                    self.bus_path.exists, "dbus")
        self._spawn(["pipewire"], (self.runtime / "pipewire-0").exists, "pipewire")
        self._spawn(["wireplumber"], self._manages, "wireplumber")
        self._spawn(["pipewire-pulse"], self._answers, "pipewire-pulse")
        for name, text in self.sinks:
            self.add_device(name, text, "Audio/Sink")
        for name, text in self.sources:
            self.add_device(name, text, "Audio/Source")
        self._wait_until_ready()
        if self.default is not None:
            self.set_default(self.default)

    def _check_running(self):
        for process in self.processes:
            if process.poll() is not None:
                raise RuntimeError(f"{process.args[0]} ended with status {process.returncode}")

    def _loaded(self):
        # The default is set once the devices are there.
        sinks, sources = self.indices("sinks"), self.indices("sources")
        return all(name in sinks for name, _ in self.sinks) and all(name in sources for name, _ in self.sources)

    def _manages(self):
        # The session manager keeps the defaults in its "default" metadata.
        listing = subprocess.run(["pw-cli", "ls", "Metadata"], capture_output=True, env=self._daemon_env(),
                                 timeout=10)
        return b'metadata.name = "default"' in listing.stdout

    def _answers(self):
        if not self.socket_path.exists():
            return False
        proc = subprocess.run(["pactl", "info"], capture_output=True, env=self.env, timeout=10)
        return proc.returncode == 0

    def expected_name(self, name, text):
        """A node made without a description is described by its name."""
        return name if text is None else text

    def add_sink(self, name, text):
        self.add_device(name, text, "Audio/Sink")

    def remove_sink(self, name):
        # The session manager moves the default off a sink that is gone a
        # moment after the sink goes.
        subprocess.run(["pw-cli", "destroy", str(self.node_id(name))], capture_output=True,
                       env=self._daemon_env(), timeout=10, check=True)

        def settled():
            sinks = self.indices("sinks")
            return name not in sinks and self.default_sink() in sinks
        self.wait_for(settled, f"{name} gone and another sink the default")

    def node_id(self, name):
        listing = subprocess.run(["pw-cli", "ls", "Node"], capture_output=True, env=self._daemon_env(),
                                 timeout=10, check=True).stdout.decode("utf-8")
        node = None
        for line in listing.splitlines():
            fields = line.split()
            if fields[:1] == ["id"]:
                node = int(fields[1].rstrip(","))
            elif fields[:3] == ["node.name", "=", f'"{name}"']:
                return node
        raise AssertionError(f"no node {name}")

    def daemons(self):
        # The bus is the test's, not part of the server.
        return {process.args[0]: process for process in self.processes[1:]}

    def add_device(self, name, text, media_class="Audio/Sink"):
        properties = [f"factory.name=support.null-audio-sink node.name={name}", f"media.class={media_class}",
                      "object.linger=true audio.position=[FL FR]"]
        if text is not None:
            properties.append(f"node.description={spa_string(text)}")
        subprocess.run(["pw-cli", "create-node", "adapter", "{ " + " ".join(properties) + " }"],
                       capture_output=True, env=self.env, timeout=10, check=True)
