"""Runs the native Linux programs for real and prints their lines.

They use this desktop's X display and sound server where those answer;
otherwise a private Xvfb and PulseAudio are started for the demo (two
monitors, two fake applications, three devices) and stopped at its end. The
demo never changes the brightness, nor the default output of a sound server
it did not start."""

import json
import os
import select
import subprocess
import sys
from contextlib import ExitStack
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "linux"))
import pulse  # noqa: E402
import xserver  # noqa: E402

WAIT = 10  # seconds: a bound for anything awaited


def answers(command, env):
    try:
        return subprocess.run(command, env=env, capture_output=True, timeout=WAIT).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def show(argv, env, stdin=subprocess.DEVNULL):
    print("$ " + " ".join([Path(argv[0]).name, *argv[1:]]), flush=True)
    proc = subprocess.run(argv, env=env, stdin=stdin, capture_output=True, timeout=WAIT)
    sys.stdout.write(proc.stdout.decode("utf-8", "replace"))
    if proc.returncode != 0:
        print(f"(exit status {proc.returncode})")
    return proc


def private_sound_server(stack):
    server = stack.enter_context(pulse.PulseServer(
        sinks=[("speakers", "Built-in Speakers"), ("display", "Studio Display \"HDMI\" / DP")],
        sources=[("mic", "Built-in Microphone")], default="speakers"))
    return server.env


def private_display(stack):
    server = xserver.XServer()
    stack.callback(server.stop)
    env = server.env()
    # A built-in panel (primary) and an external display beside it; they
    # cover Xvfb's own monitor, which then steps aside.
    for args in (["--setmonitor", "*Built-in", "1512/302x982/196+0+0", "screen"],
                 ["--setmonitor", "External", "1920/527x1080/296+1512+0", "none"]):
        subprocess.run(["xrandr", *args], env=env, check=True, capture_output=True, timeout=WAIT)
    return env


def read_line(proc):
    ready, _, _ = select.select([proc.stdout], [], [], WAIT)
    return proc.stdout.readline().decode("utf-8", "replace") if ready else ""


def watch(env, desktop):
    """Quelmark with its lifeline open: the frontmost application, then (on
    the private display) two activations, then the end of standard input."""
    print("$ Quelmark", flush=True)
    proc = subprocess.Popen([xserver.native_program("Quelmark")], env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE)
    try:
        if desktop is not None:
            editor = desktop.window(wm_class=b"texteditor\0Text Editor\0", pid=4242)
            browser = desktop.window(wm_class=b"navigator\0Web Browser\0", gtk_id=b"org.example.Browser")
            desktop.activate(editor)
            sys.stdout.write(read_line(proc))
            desktop.activate(browser)
            sys.stdout.write(read_line(proc))
        else:
            sys.stdout.write(read_line(proc))
        proc.stdin.close()
        print(f"(standard input closed: exit status {proc.wait(timeout=WAIT)})")
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        proc.stdout.close()


def main():
    knobwerk = xserver.native_program("Knobwerk")
    with ExitStack() as stack:
        env = dict(os.environ)
        own_sound = answers(["pactl", "info"], env)
        if not own_sound:
            env.update(private_sound_server(stack))
        desktop = None
        if not (env.get("DISPLAY") and answers(["xrandr", "--listmonitors"], env)):
            env.update(private_display(stack))
            desktop = xserver.Desktop(env["DISPLAY"])
            stack.callback(desktop.close)
        print(f"(sound server: {'this desktop' if own_sound else 'private'}; "
              f"X display: {'private' if desktop else 'this desktop'})")

        show([knobwerk, "brightness"], env)
        reply = show([knobwerk, "outputs"], env)
        if not own_sound:
            # Only the private server's default is changed: to its second output.
            outputs = json.loads(reply.stdout)["outputs"]
            if len(outputs) > 1:
                show([knobwerk, "output", str(outputs[1]["id"])], env)
        show([xserver.native_program("Brimgauge")], env)
        watch(env, desktop)


if __name__ == "__main__":
    main()
