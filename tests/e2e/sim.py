"""Runs the simulated programs from build/sim and collects what they did."""

import functools
import json
import os
import re
import resource
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("BUILD_DIR", ROOT / "build"))


def program(name):
    return str(BUILD_DIR / "sim" / name)


def native_program(name):
    return str(BUILD_DIR / "bin" / name)


@functools.cache
def address_sanitized():
    """Whether the programs are built with AddressSanitizer, which reserves
    far more address space than it uses and takes its limits as options."""
    return b"__asan_init" in Path(program("Knobwerk")).read_bytes()


def limit_address_space(limit):
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


@functools.cache
def address_space_limit_works(limit):
    """Whether a child may be limited to `limit` bytes of address space.
    macOS 12 and later refuse RLIMIT_AS (EINVAL), which subprocess reports as
    a SubprocessError from preexec_fn."""
    try:
        subprocess.run(["true"], preexec_fn=lambda: limit_address_space(limit), timeout=10, check=True)
    except (subprocess.SubprocessError, OSError):
        return False
    return True


def memory_limit(megabytes):
    """Arguments for Machine.run under which a program cannot allocate more
    than about `megabytes` MiB at once: the sanitizer's options, or a limit
    on the address space; None where neither is to be had (a Mac without
    AddressSanitizer)."""
    if address_sanitized():
        options = f"allocator_may_return_null=1:max_allocation_size_mb={megabytes}"
        old = os.environ.get("ASAN_OPTIONS")
        return {"env": {"ASAN_OPTIONS": f"{old}:{options}" if old else options}}
    limit = megabytes * 2**20
    if not address_space_limit_works(limit):
        return None
    return {"preexec_fn": lambda: limit_address_space(limit)}


def without_allocator_notes(stderr):
    """Standard error without the sanitizer's note on an allocation it
    refused under memory_limit: that line is the sanitizer's, not the
    program's."""
    note = re.compile(rb"==\d+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n")
    return note.sub(b"", stderr) if address_sanitized() else stderr
# The native programs work on the machine the tests run on. What they report
# is known only for Linux's; elsewhere (a Mac) they would read the real
# hardware, and a request with a value would change it.
linux_only = unittest.skipUnless(sys.platform.startswith("linux"), "expects Linux's native machine")


@dataclass
class Run:
    stdout: bytes
    stderr: bytes
    status: int
    trace: list = field(default_factory=list)  # one dict per platform call

    def lines(self):
        """Standard output as parsed JSON lines; every line must end in \\n."""
        text = self.stdout.decode("utf-8")
        assert text == "" or text.endswith("\n"), repr(text)
        return [json.loads(line) for line in text.splitlines()]

    def calls(self):
        return [entry["call"] for entry in self.trace]


def scenario_text(scenario):
    return scenario if isinstance(scenario, (str, bytes)) else json.dumps(scenario)


def read_trace(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data == b"" or data.endswith(b"\n"), data
    return [json.loads(line) for line in data.splitlines()]


class Machine:
    """A scenario file and a trace file in a fresh temporary folder."""

    def __init__(self, scenario=None):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = Path(self._dir.name)
        self.trace_path = self.dir / "trace.jsonl"
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("SIM_")}
        self.env["SIM_TRACE"] = str(self.trace_path)
        if scenario is not None:
            path = self.dir / "scenario.json"
            text = scenario_text(scenario)
            path.write_bytes(text if isinstance(text, bytes) else text.encode("utf-8"))
            self.env["SIM_SCENARIO"] = str(path)

    def close(self):
        self._dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def trace(self):
        return read_trace(self.trace_path) if self.trace_path.exists() else []

    def run(self, name, args=(), stdin=b"", timeout=10, env=None, **popen):
        if self.trace_path.exists():
            self.trace_path.unlink()
        proc = subprocess.run(
            [program(name), *args],
            input=stdin,
            capture_output=True,
            timeout=timeout,
            env={**self.env, **(env or {})},
            **popen,
        )
        return Run(proc.stdout, proc.stderr, proc.returncode, self.trace())

    def start(self, name, args=(), env=None, **streams):
        """Starts one simulated program without waiting for it. Its standard
        streams are pipes unless `streams` (stdin=..., stdout=...) says
        otherwise."""
        if self.trace_path.exists():
            self.trace_path.unlink()
        pipes = {"stdin": subprocess.PIPE, "stdout": subprocess.PIPE, "stderr": subprocess.PIPE}
        return subprocess.Popen(
            [program(name), *args], env={**self.env, **(env or {})}, **{**pipes, **streams}
        )


def run(name, args=(), scenario=None, **kwargs):
    """Runs one simulated program on a fresh machine built from `scenario`."""
    with Machine(scenario) as machine:
        return machine.run(name, args, **kwargs)
