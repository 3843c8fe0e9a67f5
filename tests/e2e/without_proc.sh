#!/usr/bin/env bash
# Runs the simulated end-to-end suites as a Mac meets them, with no /proc: in a private mount namespace
# whose /proc is an empty, read-only folder. Linux only, and making the namespace needs root.
# Usage: without_proc.sh PYTHON SUITE...   (in the environment of the suites, BUILD_DIR included)
set -euo pipefail
python=$1
shift
cd "$(dirname "${BASH_SOURCE[0]}")"

if ! unshare --mount --propagation private true 2>/dev/null; then
  if [ "${REQUIRE_ALL_TESTS:-}" = ON ]; then
    echo "without_proc.sh: no private mount namespace can be made here: run the tests as root" >&2
    exit 1
  fi
  echo "skipped: needs a private mount namespace (root)"
  exit 77
fi

# The suites start only once /proc is seen to be empty, so a mount that did not take cannot pass for one
# that did.
exec unshare --mount --propagation private sh -c '
  mount -t tmpfs -o ro,size=4k,mode=555 empty /proc || exit 1
  [ -z "$(ls -A /proc)" ] || { echo "without_proc.sh: /proc is not empty" >&2; exit 1; }
  exec "$@"' sh "$python" -m unittest -v "$@"
