#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DBUILD_TESTING=ON -DREQUIRE_ALL_TESTS=ON
cmake --build build --parallel 2
ctest --test-dir build --output-on-failure -j 2
