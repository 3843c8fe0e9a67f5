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

knobwerk_runs() {
  local program=$1
  check 0 "$program" brightness
  check 0 "$program" brightness 0.25
  check 0 "$program" brightness nan
  check 0 "$program" outputs
  check 0 "$program" output 92
  check 0 "$program" output 81
  check 2 "$program" --help
  check 2 "$program"
}

export SIM_SCENARIO="$root/examples/laptop.json" SIM_TRACE="$work/trace.jsonl"
knobwerk_runs "$build/sim/Knobwerk"
check 0 "$build/sim/Brimgauge"
SIM_EVENTS="$root/examples/focus-events.jsonl" check 0 "$build/sim/Quelmark"
unset SIM_SCENARIO SIM_TRACE

knobwerk_runs "$build/bin/Knobwerk"
check 0 "$build/bin/Brimgauge"
check 0 "$build/bin/Quelmark"

if [ "$failures" -ne 0 ]; then
  echo "memcheck: $failures run(s) failed" >&2
  exit 1
fi
