#!/usr/bin/env bash
# Measures the native Linux programs' speed and prints each figure beside its
# target. Installs what is missing, builds an optimised tree of its own
# (build-bench), starts a private PulseAudio, PipeWire and Xvfb and stops them again.
# Exits nonzero only when something could not be measured.
#
# BENCH_BASELINE=REV (a git revision) also builds that version (in
# build-bench-base) and compares the watcher's start-up with it in the same
# run; without it the comparison is with the figure recorded in bench.py.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
bash bench/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build build-bench --parallel 2 >/dev/null
base=()
if [ -n "${BENCH_BASELINE:-}" ]; then
  rm -rf build-bench-base build-bench-base-source
  mkdir build-bench-base-source
  git archive "$BENCH_BASELINE" | tar -x -C build-bench-base-source
  cmake -S build-bench-base-source -B build-bench-base -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build build-bench-base --parallel 2 >/dev/null
  base=(build-bench-base)
fi
# The highest priority, so that other work on a shared machine disturbs the
# timings less; Debian's python3, for its Xlib module.
exec nice -n -20 /usr/bin/python3 bench/bench.py build-bench "${base[@]}"
