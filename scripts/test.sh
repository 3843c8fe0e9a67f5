#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: with g++
# and clang++, again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the fuzz targets for a few seconds each, and valgrind's memory check.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# suite FOLDER [CMAKE_ARGUMENTS...]: configures, builds and tests one folder.
suite() {
  local folder=$1
  shift
  echo "== $folder: $*"
  cmake -S . -B "$folder" -DBUILD_TESTING=ON -DREQUIRE_ALL_TESTS=ON "$@"
  cmake --build "$folder" --parallel 2
  ctest --test-dir "$folder" --output-on-failure -j 2
}

bash scripts/install-deps.sh
if [ "$(uname)" = Darwin ]; then
  suite build  # Apple's clang is the one compiler there
  exit 0
fi

suite build -DCMAKE_CXX_COMPILER=g++
suite build-clang -DCMAKE_CXX_COMPILER=clang++

# Sanitizers: the whole suite again; the first fault ends the run that meets it.
ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
  UBSAN_OPTIONS=print_stacktrace=1 \
  suite build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DSANITIZE=address,undefined

# Fuzzing: each fuzz target runs from its seeds for a few seconds.
echo "== build-fuzz"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSANITIZE=address,undefined,fuzzer-no-link -DFUZZ=ON -DBUILD_TESTING=OFF
cmake --build build-fuzz --parallel 2 --target fuzzers
ctest --test-dir build-fuzz --output-on-failure -j 2 -L fuzz

# Memory check: valgrind's memcheck over the programs of the plain build.
echo "== memcheck"
bash tests/valgrind/memcheck.sh build
