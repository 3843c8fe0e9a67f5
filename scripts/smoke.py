"""Runs each native program once on the machine at hand: each must print
lines that a JSON parser reads and end with status 0. Nothing is changed:
no brightness is set and no output device chosen.

Usage: python3 scripts/smoke.py BIN_FOLDER   (for example build/bin)"""

import json
import subprocess
import sys
import time
from pathlib import Path

WAIT = 60  # seconds before a program is taken to hang


def json_lines(stdout):
    text = stdout.decode("utf-8")
    if text and not text.endswith("\n"):
        raise ValueError("the last line has no line feed")
    return [json.loads(line) for line in text.splitlines()]


def run(command, stdin_open_for=None):
    """(status, stdout, stderr); standard input is closed at once, or after
    `stdin_open_for` seconds."""
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        if stdin_open_for is not None:
            time.sleep(stdin_open_for)
        out, err = proc.communicate(timeout=WAIT)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return proc.returncode, out, err


def check(bin_folder, name, args, lines, stdin_open_for=None):
    """Runs one program; `lines` is the range of line counts allowed."""
    command = [str(bin_folder / name), *args]
    status, out, err = run(command, stdin_open_for)
    print("$", " ".join([name, *args]))
    sys.stdout.write(out.decode("utf-8", "replace"))
    if err:
        print("(standard error)", err.decode("utf-8", "replace"), end="")
    try:
        count = len(json_lines(out))
    except ValueError as error:  # json.JSONDecodeError and UnicodeDecodeError are ValueErrors
        print("FAIL: not JSON lines:", error)
        return False
    if status != 0 or count not in lines:
        print(f"FAIL: status {status}, {count} line(s)")
        return False
    return True


def main():
    bin_folder = Path(sys.argv[1])
    results = [
        check(bin_folder, "Knobwerk", ["outputs"], range(1, 2)),
        check(bin_folder, "Knobwerk", ["brightness"], range(1, 2)),
        check(bin_folder, "Brimgauge", [], range(1, 2)),
        check(bin_folder, "Quelmark", [], range(0, 2), stdin_open_for=1),
    ]
    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
