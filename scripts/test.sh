#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test once for each
# configuration, each in its own build folder.
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
else
  suite build -DCMAKE_CXX_COMPILER=g++
  suite build-clang -DCMAKE_CXX_COMPILER=clang++
fi
