"""Measures the speed of the native Linux programs and prints each figure
beside its target, all from one run on this machine.

Usage: /usr/bin/python3 bench/bench.py BUILD_DIR [BASE_BUILD_DIR]
(bench/run.sh builds them and runs this). BASE_BUILD_DIR, when given, is an
earlier version whose watcher start-up the current one is compared with. Debian's python3 is needed for its Xlib module.

The private PulseAudio, PipeWire, Xvfb and sways it starts are always stopped. A missed
target is reported, not an error: the status is nonzero only when something
could not be measured."""

import gc
import json
import os
import platform
import select
import shlex
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from contextlib import ExitStack
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "linux"))
import pulse  # noqa: E402
import sway  # noqa: E402
import sysfs_fixture  # noqa: E402
import wayland_fake  # noqa: E402
import xserver  # noqa: E402
from Xlib import X, Xatom  # noqa: E402
from Xlib import display as xdisplay  # noqa: E402

# Start-to-exit runs come in rounds, each command a few times per round in a
# rotated order, so that a burst of load on a shared machine falls on every
# command alike.
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "30"))
RUNS = 10  # per command and round
EVENTS = 1000  # per latency measurement, after WARM_UP more
WARM_UP = 50
LATENCY_RUNS = 5  # measurements per watcher, taken in turn; their medians are shown
IDLE_SECONDS = 10
FLOOD_RUNS = 5  # watchers flooded in turn, each for FLOOD_SECONDS
FLOOD_SECONDS = 2
ENTRIES = 300  # desktop entries installed for the watcher's rows
# The watcher's start-up to its first record before it read desktop entries,
# as a ratio of CPU time to /bin/true (README, Speed): the reference when no
# build of that version is given to compare with.
RECORDED_STARTUP = 2.4  # 2026-12-11, 2.30x and 2.55x in two groups of one run, load average 10
WAIT = 10  # seconds: a bound for anything awaited, never an expected duration


def median(values):
    return statistics.median(values)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


# --- start to exit ---------------------------------------------------------


class Group:
    """Commands run in the same environment, timed together in each round:
    wall time from hyperfine, CPU time (task-clock, from exec to exit) from
    perf stat. `prefix` wraps each timing tool's run (and so every command
    it times)."""

    def __init__(self, env, commands, prefix=(), before=None):
        self.env = env
        self.commands = commands
        self.prefix = list(prefix)
        self.before = before  # called at the start of each round
        self.wall = {c: [] for c in commands}  # per round: the median of its runs, in s
        self.cpu = {c: [] for c in commands}  # per round: the mean of its runs, in ms

    def round(self, number, scratch):
        if self.before:
            self.before()
        shift = number % len(self.commands)
        order = self.commands[shift:] + self.commands[:shift]
        report = scratch / "hyperfine.json"
        subprocess.run([*self.prefix, "hyperfine", "--shell=none", "--style=none", "--warmup=2", f"--runs={RUNS}",
                        f"--export-json={report}", *order],
                       env=self.env, cwd=scratch, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True,
                       timeout=600)
        for result in json.loads(report.read_text())["results"]:
            self.wall[result["command"]].append(result["median"])
        for command in order:
            self.cpu[command].append(task_clock([*self.prefix, "perf"], command, self.env, scratch))

    def wall_ms(self, commands):
        """The median over the rounds of the commands' summed wall times."""
        return median(map(sum, zip(*(self.wall[c] for c in commands)))) * 1e3

    def cpu_ms(self, commands):
        return median(map(sum, zip(*(self.cpu[c] for c in commands))))

    def ratios(self, numerator, denominator):
        """(wall, CPU): the median over the rounds of each round's ratio of
        the summed times of two lists of commands. Within one round the
        load of the machine is about the same for both."""
        def ratio(times):
            return median(sum(times[c][r] for c in numerator) / sum(times[c][r] for c in denominator)
                          for r in range(len(times[numerator[0]])))
        return ratio(self.wall), ratio(self.cpu)


def task_clock(perf, command, env, scratch):
    """The mean CPU time, in ms, of RUNS runs of `command`."""
    proc = subprocess.run([*perf, "stat", "-x,", "-e", "task-clock", f"--repeat={RUNS}", "--",
                           *shlex.split(command)],
                          env=env, cwd=scratch, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE,
                          check=True, timeout=600)
    for line in proc.stderr.decode().splitlines():
        fields = line.split(",")
        if len(fields) > 2 and fields[2] == "task-clock" and fields[1] == "msec":
            return float(fields[0])
    raise RuntimeError(f"perf stat gave no task-clock for {command}: {proc.stderr.decode()}")


def checked_output(command, env, expected, prefix=()):
    """Runs `command` once and checks that its output holds `expected`, so
    that what is timed is the run that was meant."""
    out = subprocess.run([*prefix, *shlex.split(command)], env=env, stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=WAIT).stdout.decode()
    if expected not in out:
        raise RuntimeError(f"{command}: expected {expected!r} in its output, got {out!r}")


def program(build, name):
    return str(build / "bin" / name)


def start_to_exit(build, base, stack, scratch):
    quiet = pulse.isolated_env(scratch)  # no sound server, no display
    knob, brim = program(build, "Knobwerk"), program(build, "Brimgauge")
    alone = Group(quiet, ["/bin/true", f"{knob} brightness", f"{knob} outputs", brim])
    checked_output(f"{knob} outputs", quiet, '{"current":null,"outputs":[]}')
    checked_output(brim, quiet, '{"notched":false}')

    sound = {label: sound_group(knob, stack.enter_context(server_class(
        sinks=[("speakers", "Built-in Speakers"), ("display", "Studio Display \"HDMI\" / DP")],
        sources=[("mic", "Built-in Microphone")], default="speakers")))
        for label, server_class in SOUND_SERVERS.items()}

    display_env = dict(quiet, DISPLAY=start_display(stack))
    screen = Group(display_env, [brim, "xrandr --listmonitors"])
    checked_output(brim, display_env, '"screenWidth":1512')

    compositor = start_sway(stack)
    compositor.msg("output HEADLESS-1 mode 3024x1964 scale 2")
    wayland_env = dict(quiet, **{k: v for k, v in compositor.env().items()
                                 if k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "SWAYSOCK")})
    outputs = Group(wayland_env, [brim, "wlr-randr", f"swaymsg -s {compositor.socket} -t get_outputs"])
    checked_output(brim, wayland_env, '"screenWidth":1512')

    # The watcher from its start to its first record (standard input is at
    # its end, so it exits straight after), with many desktop entries: the
    # active window's application found by its application id (one entry
    # is read), and found only through StartupWMClass (every entry is read).
    apps = fake_apps(display_env["DISPLAY"], stack)
    watch_env = dict(display_env, **desktop_entries(scratch / "entries", ENTRIES))
    watchers = [program(build, "Quelmark")] + ([program(base, "Quelmark")] if base else [])
    startup = {}
    for window, name in ((2, "Application 7"), (0, "Editor Deluxe")):
        apps.activate(window)
        checked_output(watchers[0], watch_env, f'"name":"{name}"')
        startup[name] = Group(watch_env, ["/bin/true", *watchers], before=lambda w=window: apps.activate(w))

    laptop = laptop_group(knob, quiet, scratch)
    groups = [alone, *sound.values(), screen, outputs, *startup.values()] + ([laptop] if laptop else [])
    for number in range(ROUNDS):
        for group in groups:
            group.round(number, scratch)
    return alone, laptop, sound, screen, outputs, startup, apps, watch_env


SOUND_SERVERS = {"PulseAudio": pulse.PulseServer, "PipeWire": pulse.PipeWireServer}
PACTL_LIST = ["pactl list short sinks", "pactl get-default-sink"]


def switches(commands):
    """One command that runs `commands` in turn: two switches of the default
    output, there and back, so that every run changes it."""
    return "sh -c " + shlex.quote("; ".join(commands))


def sound_group(knob, server):
    """`Knobwerk outputs` and `output <id>` against pactl's calls that do the
    same, on one sound server."""
    ids = {name: 2 * index + 2 for name, index in server.indices("sinks").items()}
    checked_output(f"{knob} outputs", server.env, '"name":"Studio Display \\"HDMI\\" \\/ DP"')
    knob_switches = switches([f"{knob} output {ids[name]}" for name in ("display", "speakers")])
    pactl_switches = switches([c for name in ("display", "speakers")
                               for c in (f"pactl set-default-sink {name}", *PACTL_LIST)])
    return Group(server.env, [f"{knob} outputs", *PACTL_LIST, knob_switches, pactl_switches])


def laptop_group(knob, env, scratch):
    """`Knobwerk brightness` and /bin/true with a laptop's /sys (a panel lit
    by its backlight, an external display, four free connectors) in place of
    this machine's, in a private mount namespace, read-only: no real
    backlight is ever in reach. None where no namespace can be made."""
    if not sysfs_fixture.namespaces_work():
        return None
    tree = free_connectors(sysfs_fixture.laptop(scratch / "laptop"))
    in_laptop = sysfs_fixture.in_namespace([], "/sys", tree.sys, True)
    checked_output(f"{knob} brightness", env, '{"brightness":0.25}', prefix=in_laptop)
    return Group(env, ["/bin/true", f"{knob} brightness"], prefix=in_laptop)


def free_connectors(tree):
    """`tree` with four more connectors, none connected."""
    for number, name in enumerate(("DP-2", "DP-3", "HDMI-A-1", "HDMI-A-2")):
        tree.connector(name, "disconnected", 110 + number)
    return tree


def sysfs_opens(knob, env, scratch):
    """{machine: the files and folders `Knobwerk brightness` opens} on two
    laptop fixtures (the timed one, and the same with an ACPI device beside
    the GPU's).
    None where no namespace can be made. The loader's own files are not
    counted; everything else the run opens is under /sys."""
    if not sysfs_fixture.namespaces_work():
        return None
    opens = {}
    for label, build in (("laptop", sysfs_fixture.laptop), ("laptop with ACPI", sysfs_fixture.laptop_with_acpi)):
        tree = free_connectors(build(scratch / f"opens-{build.__name__}"))
        trace = scratch / f"{build.__name__}.strace"
        command = ["strace", "-qq", "-e", "trace=open,openat", "-o", str(trace), knob, "brightness"]
        subprocess.run(sysfs_fixture.in_namespace(command, "/sys", tree.sys, True), env=env,
                       capture_output=True, timeout=WAIT, check=True)
        loader = ('"/etc/', '"/lib', '"/usr/')
        opens[label] = sum(1 for call in trace.read_text().splitlines() if not any(p in call for p in loader))
    return opens


def start_display(stack):
    """A private Xvfb with a primary built-in panel and an external display."""
    server = xserver.XServer()
    stack.callback(server.stop)
    for args in (["--setmonitor", "*Built-in", "1512/302x982/196+0+0", "screen"],
                 ["--setmonitor", "External", "1920/527x1080/296+1512+0", "none"]):
        subprocess.run(["xrandr", *args], env=server.env(), check=True, capture_output=True, timeout=WAIT)
    return server.display


def start_sway(stack):
    """A private headless sway (as the user 65534, which it needs)."""
    compositor = sway.Sway()
    stack.callback(compositor.stop)
    return compositor


# --- the watcher -----------------------------------------------------------


class Lines:
    """The lines a child writes to its standard output, each awaited at most
    WAIT seconds."""

    def __init__(self, proc):
        self.fd = proc.stdout.fileno()
        self.pending = b""

    def next(self):
        deadline = time.monotonic() + WAIT
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                raise RuntimeError("the watcher wrote no line in time")
            chunk = os.read(self.fd, 65536)
            if not chunk:
                raise RuntimeError("the watcher ended")
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return json.loads(line)


def start_watcher(path, env, stack):
    proc = subprocess.Popen([path], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def stop():
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        proc.stdin.close()
        proc.stdout.close()

    stack.callback(stop)
    return proc


def timed_events(lines, prepare, count):
    """Latencies in µs of `count` events: prepare(i) readies event i and
    returns the pid its record must carry and the call that sends the event,
    which is timed from its start to the record's line."""
    latencies = []
    gc.disable()  # a collection would land on one event and show as the watcher's
    try:
        for i in range(WARM_UP + count):
            pid, send = prepare(i)
            start = time.perf_counter_ns()
            send()
            record = lines.next()
            end = time.perf_counter_ns()
            if record["pid"] != pid:
                raise RuntimeError(f"event {i}: expected the record of pid {pid}, got {record}")
            if i >= WARM_UP:
                latencies.append((end - start) / 1e3)
    finally:
        gc.enable()
    return latencies


def sim_watcher(build, stack, scratch):
    """The simulated watcher fed through a FIFO, held open for writing here
    so that its end never comes."""
    fifo = scratch / "events"
    os.mkfifo(fifo)
    writer = os.open(fifo, os.O_RDWR)
    stack.callback(os.close, writer)
    proc = start_watcher(str(build / "sim" / "Quelmark"), dict(pulse.isolated_env(scratch), SIM_EVENTS=str(fifo)),
                         stack)
    lines = Lines(proc)

    def activate(i):
        name = "Mail" if i % 2 else "Notes"
        event = {"userInfo": {"NSWorkspaceApplicationKey": {"bundleId": f"com.example.{name}", "name": name,
                                                            "pid": 1000 + i}}}
        line = json.dumps(event).encode() + b"\n"
        return 1000 + i, lambda: os.write(writer, line)

    return proc, lambda: timed_events(lines, activate, EVENTS)


class FakeApps:
    """Two applications in processes of their own (the X server tells their
    windows apart by their processes), and a window manager's write of the
    root's _NET_ACTIVE_WINDOW naming one of their windows."""

    def __init__(self, display, stack):
        self.d = xdisplay.Display(display)
        stack.callback(self.d.close)
        self.root = self.d.screen().root
        self.active = self.d.intern_atom("_NET_ACTIVE_WINDOW")
        self.windows = []  # (window id, pid): an editor and a browser, taken in turn, and a GTK-like application
        for properties in (dict(wm_class=b"editor\0Editor\0"), dict(wm_class=b"browser\0Browser\0"),
                           dict(wm_class=b"app7\0App7\0", gtk_id=b"org.example.App7")):
            app = xserver.FakeApp(display)
            stack.callback(app.close)
            self.windows.append((app.window(**properties).id, app.pid))

    def write(self, i):
        """Queues the write naming window i; it leaves at the flush. The pid
        its record must carry."""
        window, pid = self.windows[i]
        self.root.change_property(self.active, Xatom.WINDOW, 32, [window])
        return pid

    def activate(self, i):
        pid = self.write(i)
        self.d.sync()
        return pid


def fake_apps(display, stack):
    return FakeApps(display, stack)


def desktop_entries(folder, count):
    """`count` desktop entries of a realistic size (names and comments in a
    few languages, an action) in a data folder of their own, some in vendor
    subfolders; one claims the editor's class through StartupWMClass, while
    the browser has none, so its lookup tries every candidate. The folders
    are dated an hour back, as on a machine where nothing was just
    installed. The environment that makes them the only ones."""
    applications = folder / "applications"
    applications.mkdir(parents=True)
    languages = ("de", "fr", "es", "it", "ja", "pt_BR", "zh_CN", "ru", "nl", "sv")
    for number in range(count):
        vendor = applications / f"vendor{number % 4}" if number % 3 == 0 else applications
        vendor.mkdir(parents=True, exist_ok=True)
        lines = ["[Desktop Entry]", "Type=Application", f"Name=Application {number}"]
        lines += [f"Name[{lang}]=Application {number} ({lang})" for lang in languages]
        lines += [f"Comment=Does thing {number}"] + [f"Comment[{lang}]=Thing {number} ({lang})" for lang in languages]
        lines += [f"Exec=app{number} %U", f"Icon=app{number}", "Categories=Utility;", "Actions=new;"]
        if number == count // 2:
            lines += ["StartupWMClass=Editor"]
            lines[2] = "Name=Editor Deluxe"
        lines += ["", "[Desktop Action new]", "Name=New Window", f"Exec=app{number} --new"]
        (vendor / f"org.example.App{number}.desktop").write_text("\n".join(lines) + "\n")
    past = time.time() - 3600
    for path in [applications, *applications.iterdir()]:
        if path.is_dir():
            os.utime(path, (past, past))
    empty = folder / "none"
    empty.mkdir()
    return {"XDG_DATA_HOME": str(folder), "XDG_DATA_DIRS": str(empty)}


def x11_watcher(build, scratch, apps, env):
    """The native watcher on Xvfb, with the root's _NET_ACTIVE_WINDOW written
    as a window manager does, between two applications in turn. Each run
    starts a watcher of its own, so that two never share the events."""
    def run():
        with ExitStack() as stack:
            apps.activate(0)
            proc = start_watcher(program(build, "Quelmark"), env, stack)
            lines = Lines(proc)
            if lines.next()["pid"] != apps.windows[0][1]:
                raise RuntimeError("the watcher did not start with the active window's application")

            def activate(i):
                return apps.write((i + 1) % 2), apps.d.flush

            return timed_events(lines, activate, EVENTS)

    return run


class SwayCommands:
    """A kept connection to sway's IPC socket that sends commands, as
    swaymsg does without the start of a process for each."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.waiting = False

    def send(self, command):
        payload = command.encode()
        self.sock.sendall(b"i3-ipc" + struct.pack("=II", len(payload), 0) + payload)
        self.waiting = True

    def take_reply(self):
        """Reads the answer to the last command, if it has not been read."""
        if not self.waiting:
            return
        head = self._read(14)
        reply = json.loads(self._read(struct.unpack_from("=I", head, 6)[0]))
        if not all(item.get("success") for item in reply):
            raise RuntimeError(f"sway refused a command: {reply}")
        self.waiting = False

    def _read(self, count):
        data = b""
        while len(data) < count:
            if not select.select([self.sock], [], [], WAIT)[0]:
                raise RuntimeError("sway did not answer")
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise RuntimeError("sway closed its IPC socket")
            data += chunk
        return data


def sway_watcher(build, stack, scratch, with_pid):
    """The native watcher on a sway of its own; focus moves between the
    windows of two applications in turn, by an IPC command like swaymsg's.
    With `with_pid` the watcher has SWAYSOCK and asks sway for each pid."""
    compositor = start_sway(stack)
    env = dict(pulse.isolated_env(scratch), **{k: v for k, v in compositor.env(swaysock=with_pid).items()
                                               if k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "SWAYSOCK")})
    apps = []
    for name in ("Editor", "Browser"):
        app = wayland_fake.App(compositor.env())
        stack.callback(app.stop)
        app.open("w", f"org.example.{name}", f"{name}-{with_pid}")
        apps.append(app)
    con_ids = {view[1]: view[4] for view in compositor.tree_views()}
    windows = [(con_ids[f"{name}-{with_pid}"], app.pid if with_pid else -1)
               for name, app in zip(("Editor", "Browser"), apps)]
    commands = SwayCommands(compositor.socket)
    stack.callback(commands.sock.close)
    commands.send(f"[con_id={windows[0][0]}] focus")
    commands.take_reply()
    proc = start_watcher(program(build, "Quelmark"), env, stack)
    lines = Lines(proc)
    if lines.next()["pid"] != windows[0][1]:
        raise RuntimeError("the watcher did not start with the focused window's application")

    def activate(i):
        commands.take_reply()
        con_id, pid = windows[(i + 1) % 2]
        return pid, lambda: commands.send(f"[con_id={con_id}] focus")

    def run():
        latencies = timed_events(lines, activate, EVENTS)
        commands.take_reply()
        return latencies

    return proc, run


def resident_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def x11_flood(build, stack, scratch, display):
    """Under a continuous flood of _NET_ACTIVE_WINDOW writes (between two
    windows of one application, from tests/linux/flood_client.py): each
    watcher's time from the end of its input to its exit, in ms, and its peak
    resident memory in KiB."""
    d = xdisplay.Display(display)
    stack.callback(d.close)
    root = d.screen().root
    windows = []
    for _ in range(2):
        w = root.create_window(0, 0, 10, 10, 0, X.CopyFromParent)
        w.change_property(Xatom.WM_CLASS, Xatom.STRING, 8, b"flood\0Flood\0")
        windows.append(w.id)
    d.sync()
    client = subprocess.Popen([sys.executable, str(ROOT / "tests" / "linux" / "flood_client.py"), display],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def stop_client():
        client.kill()
        client.wait()
        client.stdin.close()
        client.stdout.close()

    stack.callback(stop_client)
    client.stdin.write("flood %d %d\n" % tuple(windows))
    client.stdin.flush()
    if not select.select([client.stdout], [], [], WAIT)[0] or client.stdout.readline() != "ok\n":
        raise RuntimeError("the flood client did not start")
    exits, peak = [], 0
    for _ in range(FLOOD_RUNS):
        proc = start_watcher(program(build, "Quelmark"), dict(pulse.isolated_env(scratch), DISPLAY=display), stack)
        Lines(proc).next()
        end = time.monotonic() + FLOOD_SECONDS
        while time.monotonic() < end:
            peak = max(peak, resident_kib(proc.pid))
            time.sleep(0.05)
        start = time.perf_counter_ns()
        proc.stdin.close()
        proc.wait(timeout=WAIT)
        exits.append((time.perf_counter_ns() - start) / 1e6)
    return exits, peak


def cpu_ticks(pid):
    # utime and stime, the 14th and 15th fields; the name before them may
    # hold spaces, so counting starts after its closing parenthesis.
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def idle_ticks(procs):
    """Each process's CPU ticks over IDLE_SECONDS of waiting, all measured at
    once."""
    before = [cpu_ticks(p.pid) for p in procs]
    time.sleep(IDLE_SECONDS)
    after = [cpu_ticks(p.pid) for p in procs]
    for p in procs:
        if p.poll() is not None:
            raise RuntimeError(f"a watcher ended while idle (status {p.returncode})")
    return [b - a for a, b in zip(before, after)]


# --- the writer ------------------------------------------------------------


def writer_throughput(build, scratch):
    """Lines per second of each case of json_line_bench."""
    report = scratch / "writer.json"
    subprocess.run([str(build / "bench" / "json_line_bench"), f"--benchmark_out={report}",
                    "--benchmark_out_format=json", "--benchmark_repetitions=5",
                    "--benchmark_report_aggregates_only=true"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=600)
    rates = {}
    for b in json.loads(report.read_text())["benchmarks"]:
        if b.get("aggregate_name") == "median":
            rates[b["run_name"]] = b["items_per_second"]
    return rates


# --- the report ------------------------------------------------------------


def machine():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    debian = Path("/etc/debian_version").read_text().strip() if Path("/etc/debian_version").exists() else "?"
    load = Path("/proc/loadavg").read_text().split()[0]
    return f"{model}, {os.cpu_count()} cores, Linux {platform.release()}, Debian {debian}; load average {load}"


class Table:
    def __init__(self):
        self.rows = []

    def section(self, title):
        self.rows.append((title, None, None, None))

    def row(self, figure, measured, target="", met=None):
        verdict = "" if met is None else ("met" if met else "MISSED")
        self.rows.append((figure, measured, target, verdict))

    def print(self):
        width = max(len(r[0]) for r in self.rows if r[1] is not None) + 2
        mwidth = max(len(r[1]) for r in self.rows if r[1] is not None) + 2
        for figure, measured, target, verdict in self.rows:
            if measured is None:
                print(f"\n{figure}")
            else:
                print(f"  {figure:<{width}}{measured:<{mwidth}}{target:<14}{verdict}".rstrip())


def ratio_row(table, figure, group, numerator, denominator, limit=None, strict=False, note=""):
    """One ratio of start-to-exit times, judged on CPU time: on a shared
    machine the wall time measures the scheduler as much as the program."""
    wall, cpu = group.ratios(numerator, denominator)
    measured = f"{cpu:.2f}x  (wall {wall:.2f}x){note}"
    if limit is None:
        table.row(figure, measured)
    else:
        table.row(figure, measured, f"{'<' if strict else '<='} {limit}x", cpu < limit if strict else cpu <= limit)


def latency_rows(table, where, runs):
    """The median and the 99th percentile of each run's latencies, each
    shown as its median over the runs."""
    p50 = median(median(run) for run in runs)
    p99 = median(percentile(run, 0.99) for run in runs)
    table.row(f"{where}: median / p99", f"{p50:.0f} µs / {p99:.0f} µs", "p99 < 500 µs", p99 < 500)


def main():
    build = Path(sys.argv[1]).resolve()
    base = Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else None
    table = Table()
    print(f"Machine: {machine()}", flush=True)
    with ExitStack() as stack:
        scratch = Path(tempfile.mkdtemp(prefix="bench.", dir="/tmp"))
        stack.callback(shutil.rmtree, scratch, ignore_errors=True)

        print(f"timing start to exit ({ROUNDS} rounds of {RUNS} runs per command)...", flush=True)
        alone, laptop, sound, screen, outputs, startup, apps, entries_env = start_to_exit(build, base, stack,
                                                                                          scratch)
        opens = sysfs_opens(program(build, "Knobwerk"), alone.env, scratch)

        print(f"timing the watcher ({LATENCY_RUNS} runs of {EVENTS} events each, then {IDLE_SECONDS} s idle)...",
              flush=True)
        sim_proc, sim_run = sim_watcher(build, stack, scratch)
        plain_env = dict(screen.env, **desktop_entries(scratch / "no-entries", 0))
        x11_run = x11_watcher(build, scratch, apps, plain_env)
        entries_run = x11_watcher(build, scratch, apps, entries_env)
        sway_proc, sway_run = sway_watcher(build, stack, scratch, True)
        _, bare_run = sway_watcher(build, stack, scratch, False)
        runners = {"sim": sim_run, "x11": x11_run, "entries": entries_run, "sway": sway_run, "bare": bare_run}
        latencies = {name: [] for name in runners}
        for _ in range(LATENCY_RUNS):
            for name, run in runners.items():
                latencies[name].append(run())
        x11_proc = start_watcher(program(build, "Quelmark"), plain_env, stack)
        Lines(x11_proc).next()
        sim_idle, x11_idle, sway_idle = idle_ticks([sim_proc, x11_proc, sway_proc])

        print(f"flooding the watcher ({FLOOD_RUNS} runs of {FLOOD_SECONDS} s)...", flush=True)
        flood_exits, flood_peak = x11_flood(build, stack, scratch, screen.env["DISPLAY"])

        print("timing the writer...", flush=True)
        rates = writer_throughput(build, scratch)

    knob, brim = program(build, "Knobwerk"), program(build, "Brimgauge")
    true = ["/bin/true"]
    table.section(f"Start to exit, CPU time from exec to exit (wall time), ratio to /bin/true "
                  f"[{alone.cpu_ms(true):.2f} ms CPU, {alone.wall_ms(true):.2f} ms wall]")
    ratio_row(table, "Knobwerk brightness (here: no DRM, no backlight)", alone, [f"{knob} brightness"], true, 1.3)
    if laptop:
        ratio_row(table, "Knobwerk brightness, a laptop's /sys (fixture)", laptop, [f"{knob} brightness"], true,
                  1.15)
    else:
        table.row("Knobwerk brightness, a laptop's /sys (fixture)", "not measured: needs a mount namespace (root)")
    if opens:
        table.row("  sysfs files and folders it opens", ", ".join(f"{n} ({label})" for label, n in opens.items()))
    ratio_row(table, "Knobwerk outputs, no sound server", alone, [f"{knob} outputs"], true)
    ratio_row(table, "Brimgauge, no X display", alone, [brim], true, 1.3)

    table.section(f"The watcher's start-up to its first record, X11, {ENTRIES} desktop entries, CPU time (wall time)")
    quel = program(build, "Quelmark")
    for name, how in (("Application 7", "found by its application id"),
                      ("Editor Deluxe", "found through StartupWMClass")):
        group = startup[name]
        ratio_row(table, f"Quelmark / /bin/true, {how}", group, [quel], true)
        if base:
            ratio_row(table, f"  the same before desktop entries ({base.name}) / /bin/true", group,
                      [program(base, "Quelmark")], true)
            ratio_row(table, "  Quelmark / the same before desktop entries", group, [quel],
                      [program(base, "Quelmark")], 1.3)
        else:
            cpu = group.ratios([quel], true)[1] / RECORDED_STARTUP
            table.row("  Quelmark / the same before desktop entries (recorded)",
                      f"{cpu:.2f}x  [recorded: {RECORDED_STARTUP:.2f}x /bin/true]", "<= 1.3x", cpu <= 1.3)

    table.section("Start to exit against the tool a user would call, CPU time (wall time)")
    for label, group in sound.items():
        ratio_row(table, f"Knobwerk outputs / pactl sink list + default, {label}", group, [f"{knob} outputs"],
                  PACTL_LIST, 1, strict=True, note=f"  [pactl {group.cpu_ms(PACTL_LIST):.2f} ms CPU]")
        knob_switches, pactl_switches = group.commands[-2:]
        ratio_row(table, f"Knobwerk output <id> / pactl set + sink list + default, {label}", group,
                  [knob_switches], [pactl_switches],
                  note=f"  [two switches: {group.wall_ms([knob_switches]):.1f} ms / "
                       f"{group.wall_ms([pactl_switches]):.1f} ms wall]")
    xrandr = ["xrandr --listmonitors"]
    ratio_row(table, "Brimgauge / xrandr --listmonitors, on Xvfb", screen, [brim], xrandr, 1, strict=True,
              note=f"  [xrandr {screen.cpu_ms(xrandr):.2f} ms CPU]")
    for tool in outputs.commands[1:]:
        label = tool.split(" -s ")[0] + (" -t get_outputs" if "swaymsg" in tool else "")
        ratio_row(table, f"Brimgauge / {label}, on sway", outputs, [brim], [tool], 1, strict=True,
                  note=f"  [{label.split()[0]} {outputs.cpu_ms([tool]):.2f} ms CPU]")

    table.section(f"The watcher (Quelmark): event to line over {EVENTS} events (median of {LATENCY_RUNS} runs), "
                  f"CPU while idle {IDLE_SECONDS} s")
    latency_rows(table, "simulated machine, SIM_EVENTS FIFO", latencies["sim"])
    latency_rows(table, "X11, root _NET_ACTIVE_WINDOW change", latencies["x11"])
    latency_rows(table, f"X11, with {ENTRIES} desktop entries", latencies["entries"])
    latency_rows(table, "sway, IPC focus command, pid from sway", latencies["sway"])
    latency_rows(table, "sway, IPC focus command, no SWAYSOCK", latencies["bare"])
    table.row("idle CPU, simulated machine", f"{sim_idle} ticks", "0 ticks", sim_idle == 0)
    table.row("idle CPU, X11", f"{x11_idle} ticks", "0 ticks", x11_idle == 0)
    table.row("idle CPU, sway", f"{sway_idle} ticks", "0 ticks", sway_idle == 0)
    worst = max(flood_exits)
    table.row("X11 flood: exit after input's end, median / worst", f"{median(flood_exits):.1f} ms / {worst:.1f} ms",
              "< 100 ms", worst < 100)
    table.row("X11 flood: peak resident memory", f"{flood_peak / 1024:.1f} MB", "< 16 MB", flood_peak < 16 * 1024)

    table.section("The JSON line writer (Google Benchmark, median of 5)")
    for name, label in (("BM_FocusRecordFormat", "focus record, formatted"),
                        ("BM_FocusRecordPrint", "focus record, printed line-buffered to /dev/null"),
                        ("BM_OutputsFormat", "list of 3 outputs, formatted"),
                        ("BM_OutputsPrint", "list of 3 outputs, printed to /dev/null")):
        table.row(label, f"{rates[name] / 1e6:.2f} M lines/s")
    table.print()


if __name__ == "__main__":
    try:
        main()
    except (RuntimeError, OSError, subprocess.SubprocessError, KeyError, ValueError) as error:
        print(f"bench: could not measure: {error}", file=sys.stderr)
        sys.exit(1)
