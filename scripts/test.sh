#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DBUILD_TESTING=ON -DREQUIRE_ALL_TESTS=ON
cmake --build build --parallel 2
ctest --test-dir build --output-on-failure -j 2

# Sanitizers: a clang build with AddressSanitizer and UndefinedBehaviorSanitizer
# runs the whole suite again; the first fault ends the run that meets it.
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DSANITIZE=address,undefined -DBUILD_TESTING=ON -DREQUIRE_ALL_TESTS=ON
cmake --build build-asan --parallel 2
ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
  UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j 2

# Fuzzing: each fuzz target runs from its seeds for a few seconds.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSANITIZE=address,undefined,fuzzer-no-link -DFUZZ=ON -DBUILD_TESTING=OFF
cmake --build build-fuzz --parallel 2 --target fuzzers
ctest --test-dir build-fuzz --output-on-failure -j 2 -L fuzz

# Memory check: valgrind's memcheck over the programs of the plain build.
bash tests/valgrind/memcheck.sh build
