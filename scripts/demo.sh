#!/usr/bin/env bash
# Builds the programs and runs each one on the simulated example laptop
# (examples/laptop.json), then the native programs on this machine, printing
# the JSON lines they write.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# The folder and compiler of the first build in scripts/test.sh, so that
# the two scripts share it. Only errors are shown: a test suite left out for
# want of its tools does not matter to the demo.
bash scripts/install-deps.sh
[ "$(uname)" = Darwin ] || export CXX="${CXX:-g++}"
cmake -S . -B build --log-level=ERROR >/dev/null
cmake --build build --parallel 2 >/dev/null
export SIM_SCENARIO=examples/laptop.json

knobwerk() {
  echo "\$ Knobwerk $*"
  build/sim/Knobwerk "$@" 2>&1 || echo "(exit status $?)"
}
knobwerk brightness
knobwerk brightness 0.25
knobwerk outputs
knobwerk output 92
knobwerk output 81
knobwerk --help

# The built-in screen is notched; the external one is listed first.
echo '$ Brimgauge'
build/sim/Brimgauge

# The watcher prints the frontmost application, then one line per activation
# in examples/focus-events.jsonl (two of its notifications carry no
# application). Its standard input stays open while the events are handled and
# then ends, which ends the watcher.
echo '$ Quelmark   (SIM_EVENTS=examples/focus-events.jsonl)'
sleep 0.5 | SIM_EVENTS=examples/focus-events.jsonl build/sim/Quelmark

# The native programs on this machine. On Linux they use the desktop's X
# display and sound server, or private ones started for the demo.
echo
echo "== the native programs on this machine"
if [ "$(uname)" = Linux ]; then
  /usr/bin/python3 scripts/demo_linux.py
else
  for command in "Knobwerk brightness" "Knobwerk outputs" Brimgauge; do
    echo "\$ $command"
    # shellcheck disable=SC2086 # the command's words are meant to split
    build/bin/$command || echo "(exit status $?)"
  done
fi
