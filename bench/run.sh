#!/usr/bin/env bash
# Measures the native Linux programs' speed and prints each figure beside its
# target. Installs what is missing, builds an optimised tree of its own
# (build-bench), starts a private PulseAudio, PipeWire and Xvfb and stops them again.
# Exits nonzero only when something could not be measured.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
bash bench/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build build-bench --parallel 2 >/dev/null
# The highest priority, so that other work on a shared machine disturbs the
# timings less; Debian's python3, for its Xlib module.
exec nice -n -20 /usr/bin/python3 bench/bench.py build-bench
