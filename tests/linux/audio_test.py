"""build/bin/Knobwerk's audio commands against a private PulseAudio and a
private PipeWire server, checked independently with pactl."""

import json
import shutil
import signal
import unittest
from pathlib import Path

import pulse

# Descriptions that need escaping or are not ASCII, one that is not text
# (None: the device has no name) and one that merely reads like a missing one.
SINKS = [
    ("speakers", 'Desk "Left" speakers'),
    ("headphones", "Kopfhörer / Küche – ♪"),
    ("nameless", None),
    ("literal", "(null)"),
    ("hdmi", "HDMI 2 \\ back\tpanel"),
]
SOURCES = [("mic", "Built-in Mic")]
DESCRIPTIONS = dict(SINKS)

NULL_REPLY = {"current": None, "outputs": []}


# Sinks take the even ids from 2, sources the odd ids from 3.
def sink_id(index):
    return 2 * index + 2


def source_id(index):
    return 2 * index + 3


class KnobwerkTestCase(unittest.TestCase):
    def reply(self, proc):
        """The one JSON line of a quiet, successful run."""
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        self.assertTrue(proc.stdout.endswith(b"\n"), proc.stdout)
        self.assertEqual(proc.stdout.count(b"\n"), 1, proc.stdout)
        return json.loads(proc.stdout)


# Every server test runs against both servers a desktop may run.
SERVERS = {"PulseAudio": pulse.PulseServer, "PipeWire": pulse.PipeWireServer}


def on_each_server(tests):
    """A test case class per server, named after `tests` and the server."""
    for label, server_class in SERVERS.items():
        name = f"{tests.__name__}On{label}"
        globals()[name] = type(name, (tests, KnobwerkTestCase), {"server_class": server_class})
    return tests


class ServerTests:
    """One server for the class; every test sets the default it starts from."""

    server_args = {"sinks": SINKS, "sources": SOURCES, "default": "headphones"}

    @classmethod
    def setUpClass(cls):
        cls.server = cls.server_class(**cls.server_args).__enter__()
        cls.addClassCleanup(cls.server.close)

    def sink_ids(self):
        return {name: sink_id(index) for name, index in self.server.indices("sinks").items()}

    def source_ids(self):
        return {name: source_id(index) for name, index in self.server.indices("sources").items()}

    def name_of(self, sink):
        return self.server.expected_name(sink, DESCRIPTIONS[sink])

    def listed(self):
        """The outputs reply's list as the server describes it: its sinks in
        index order, those without a name left out."""
        sinks = sorted(self.server.indices("sinks").items(), key=lambda item: item[1])
        return [{"id": sink_id(index), "name": self.name_of(name)} for name, index in sinks
                if self.name_of(name) is not None]

    def expected(self, default):
        return {"current": self.sink_ids()[default], "outputs": self.listed()}


@on_each_server
class OutputsTests(ServerTests):
    def test_outputs_lists_the_sinks_with_a_name_and_the_default(self):
        self.server.set_default("headphones")
        self.assertEqual(self.reply(self.server.knobwerk("outputs")), self.expected("headphones"))

    def test_current_follows_the_default_whoever_sets_it(self):
        for name, _ in SINKS:
            with self.subTest(default=name):
                self.server.set_default(name)
                self.assertEqual(self.reply(self.server.knobwerk("outputs"))["current"], self.sink_ids()[name])

    def test_output_makes_a_listed_sink_the_servers_default(self):
        for name, _ in SINKS:
            if self.name_of(name) is None:
                continue
            with self.subTest(sink=name):
                self.server.set_default("literal" if name != "literal" else "speakers")
                reply = self.reply(self.server.knobwerk("output", str(self.sink_ids()[name])))
                self.assertEqual(self.server.default_sink(), name)
                self.assertEqual(reply, self.expected(name))

    def test_each_reply_shows_the_default_it_set(self):
        # A server may acknowledge a new default before it is in effect; the
        # reply must still show it, in every switch of a long series.
        self.server.set_default("speakers")
        ids = self.sink_ids()
        for switch in range(50):
            name = ("headphones", "speakers")[switch % 2]
            with self.subTest(switch=switch, sink=name):
                reply = self.reply(self.server.knobwerk("output", str(ids[name])))
                self.assertEqual(reply["current"], ids[name])
                self.assertEqual(self.server.default_sink(), name)

    def test_output_changes_nothing_for_an_id_that_is_not_a_listed_output(self):
        sinks, sources = self.sink_ids(), self.source_ids()
        cases = {
            "input": sources["mic"],
            "monitor of a sink": sources["speakers.monitor"],
            "unknown sink": sink_id(1000),
            "unknown source": source_id(1000),
            "no object": 0,
            "system object": 1,
            "largest id": 2**32 - 1,
        }
        if self.name_of("nameless") is None:
            cases["sink without a name"] = sinks["nameless"]
        for case, device in cases.items():
            with self.subTest(case=case, id=device):
                self.server.set_default("speakers")
                reply = self.reply(self.server.knobwerk("output", str(device)))
                self.assertEqual(self.server.default_sink(), "speakers")
                self.assertEqual(reply, self.expected("speakers"))

    def test_sinks_and_sources_never_share_an_id(self):
        ids = list(self.sink_ids().values()) + list(self.source_ids().values())
        self.assertEqual(len(set(ids)), len(ids))
        self.assertFalse({0, 1} & set(ids))


@on_each_server
class ConnectionTests(ServerTests):
    def test_a_run_connects_at_most_once(self):
        # The server numbers each connection: the indices of two pactl calls
        # around a run tell how many connections the run made.
        listed = self.sink_ids()["hdmi"]
        cases = [(("outputs",), 1), (("output", str(listed)), 1), (("output", "3"), 1), (("brightness",), 0)]
        for args, connections in cases:
            with self.subTest(args=args):
                before = self.server.last_client()
                self.server.knobwerk(*args)
                self.assertEqual(self.server.last_client() - before - 1, connections)

    def test_only_the_audio_commands_load_libpulse(self):
        for args, loads in [(("brightness",), False), (("outputs",), True)]:
            with self.subTest(args=args):
                log = self.server.folder / "ld"
                shutil.rmtree(log, ignore_errors=True)
                log.mkdir()
                env = {**self.server.env, "LD_DEBUG": "files", "LD_DEBUG_OUTPUT": str(log / "files")}
                proc = pulse.knobwerk(env, *args)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                loaded = b"".join(path.read_bytes() for path in log.iterdir())
                self.assertEqual(b"libpulse.so.0" in loaded, loads)


@on_each_server
class IdLifetimeTests(ServerTests):
    server_args = {"sinks": SINKS[:2], "default": "speakers"}

    def test_a_device_keeps_its_id_while_others_come_and_go(self):
        before = self.reply(self.server.knobwerk("outputs"))
        speakers = before["current"]
        self.server.add_sink("late", "Late")
        self.server.wait_for(lambda: "late" in self.server.indices("sinks"), "the sink late")
        self.server.remove_sink("speakers")
        # The server picks a new default; the removed sink's id selects nothing.
        default = self.server.default_sink()
        after = self.reply(self.server.knobwerk("output", str(speakers)))
        self.assertEqual(self.server.default_sink(), default)
        self.assertEqual(after["current"], self.sink_ids()[default])

        headphones = [o for o in before["outputs"] if o["name"] == DESCRIPTIONS["headphones"]]
        self.assertEqual([o for o in after["outputs"] if o["name"] != "Late"], headphones)
        late = [o["id"] for o in after["outputs"] if o["name"] == "Late"]
        self.assertEqual(late, [self.sink_ids()["late"]])
        self.assertNotIn(late[0], [o["id"] for o in before["outputs"]])


@on_each_server
class FaultyServerTests:
    def test_a_stopped_server_gives_the_null_reply_and_keeps_its_default(self):
        # Any of the server's daemons stopped leaves a client unanswered:
        # pipewire-pulse waits on PipeWire, which waits on its session
        # manager to admit the new client.
        with self.server_class(sinks=SINKS[:2], default="speakers") as server:
            headphones = sink_id(server.indices("sinks")["headphones"])
            for name, daemon in server.daemons().items():
                daemon.send_signal(signal.SIGSTOP)
                try:
                    for args in [("outputs",), ("output", str(headphones))]:
                        with self.subTest(stopped=name, args=args):
                            self.assertEqual(self.reply(server.knobwerk(*args)), NULL_REPLY)
                finally:
                    daemon.send_signal(signal.SIGCONT)
                self.assertEqual(server.default_sink(), "speakers")

    def test_a_server_without_sinks_of_its_own_shows_what_it_reports(self):
        # PulseAudio then has no sink and no default; pipewire-pulse shows a
        # stand-in sink of its own as the default.
        with self.server_class(sources=SOURCES) as server:
            sinks = server.described_sinks()
            default = server.default_sink()
            expected = {
                "current": sink_id(sinks[default][0]) if default in sinks else None,
                "outputs": [{"id": sink_id(index), "name": text} for index, text in sorted(sinks.values())],
            }
            self.assertEqual(self.reply(server.knobwerk("outputs")), expected)


class DefaultNeverEffectiveTest(KnobwerkTestCase):
    def test_the_reply_shows_the_server_as_it_is_once_the_wait_is_over(self):
        # pipewire-pulse acknowledges each set, and without the session
        # manager's part that makes it effective it keeps reporting no
        # default: the wait ends within the run's bound, and the reply reads
        # the server as it is then.
        with pulse.PipeWireServer(sinks=SINKS[:2], makes_defaults=False) as server:
            ids = {name: sink_id(index) for name, index in server.indices("sinks").items()}
            outputs = [{"id": ids[name], "name": text} for name, text in SINKS[:2]]
            for name in ["headphones", "speakers"]:
                with self.subTest(sink=name):
                    reply = self.reply(server.knobwerk("output", str(ids[name])))
                    self.assertEqual(reply, {"current": None, "outputs": outputs})
                    self.assertNotIn(server.default_sink(), ids)


class UnreachableServerTest(KnobwerkTestCase):
    def test_no_server_gives_the_null_reply(self):
        cases = {"named socket": True, "default place": False}
        if Path("/run/pulse/native").exists():
            del cases["default place"]  # this machine runs a system-wide server
        for case, named in cases.items():
            with self.subTest(case=case), Folder() as folder:
                env = pulse.isolated_env(folder)
                if named:
                    env["PULSE_SERVER"] = f"unix:{folder}/missing/native"
                self.assertEqual(self.reply(pulse.knobwerk(env, "outputs")), NULL_REPLY)
                if named:  # never a set that could reach a real server
                    self.assertEqual(self.reply(pulse.knobwerk(env, "output", "2")), NULL_REPLY)

    def test_no_server_is_ever_started(self):
        # libpulse starts the configured daemon for a client that allows it
        # (and is not root); here that daemon only leaves a mark. pactl shows
        # that the mark would appear.
        for command, spawns in [(["pactl", "info"], True), (["./Knobwerk", "outputs"], False)]:
            with self.subTest(command=command[0]), Folder() as folder:
                # A copy, so that the ordinary user can run it wherever the build is.
                shutil.copy(pulse.KNOBWERK, folder)
                daemon = folder / "daemon"
                daemon.write_text('#!/bin/sh\ntouch "$(dirname "$0")/spawned"\nexit 1\n')
                daemon.chmod(0o755)
                (folder / "client.conf").write_text(f"autospawn = yes\ndaemon-binary = {daemon}\n")
                env = pulse.isolated_env(folder, PULSE_CLIENTCONFIG=str(folder / "client.conf"))
                proc = pulse.run_as_user(folder, command, env)
                if not spawns:
                    self.assertEqual(self.reply(proc), NULL_REPLY)
                self.assertEqual((folder / "spawned").exists(), spawns)

    def test_a_server_that_never_answers_is_given_up_after_one_connection(self):
        with pulse.SilentServer() as server:
            self.assertEqual(self.reply(pulse.knobwerk(server.env, "output", "2")), NULL_REPLY)
            self.assertEqual(server.connections(), 1)


class Folder:
    """A short temporary folder, removed afterwards."""

    def __enter__(self):
        self.path = pulse.short_folder()
        return self.path

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
