#!/usr/bin/env bash
# Runs the simulated and the native programs of one build under valgrind's
# memcheck, on the example machine (examples/): any memory error, and any
# block definitely or indirectly lost, fails the run.
# Usage: tests/valgrind/memcheck.sh [build folder, default build]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failures=0

# check STATUS PROGRAM ARGS...: runs the program under memcheck with
# standard input from /dev/null and expects STATUS (memcheck's own errors
# give 99).
check() {
  local expected=$1
  shift
  local status=0
  # Operators new and delete are linked into the native programs (static C++
  # runtime), so they are intercepted in the program itself as well.
  valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --soname-synonyms=somalloc=NONE \
    "$@" </dev/null >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "memcheck: $* ended with status $status, not $expected" >&2
    cat "$work/err" >&2
    failures=$((failures + 1))
  else
    echo "memcheck: ok: ${*#"$build/"}"
  fi
}

# Requests that read the machine, then those that change it.
knobwerk_reads() {
  local program=$1
  check 0 "$program" brightness
  check 0 "$program" outputs
  check 2 "$program" --help
  check 2 "$program"
}

export SIM_SCENARIO="$root/examples/laptop.json" SIM_TRACE="$work/trace.jsonl"
knobwerk_reads "$build/sim/Knobwerk"
check 0 "$build/sim/Knobwerk" brightness 0.25
check 0 "$build/sim/Knobwerk" brightness nan
check 0 "$build/sim/Knobwerk" output 92
check 0 "$build/sim/Knobwerk" output 81
check 0 "$build/sim/Brimgauge"
SIM_EVENTS="$root/examples/focus-events.jsonl" check 0 "$build/sim/Quelmark"
unset SIM_SCENARIO SIM_TRACE

# The native programs only read: a value would set the real machine's
# brightness or default output. They reach no display or sound server of
# the user's.
unset DISPLAY WAYLAND_DISPLAY
export HOME="$work" XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work" PULSE_SERVER="unix:$work/missing"
knobwerk_reads "$build/bin/Knobwerk"
check 0 "$build/bin/Brimgauge"
check 0 "$build/bin/Quelmark"

if [ "$failures" -ne 0 ]; then
  echo "memcheck: $failures run(s) failed" >&2
  exit 1
fi
