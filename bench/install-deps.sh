#!/usr/bin/env bash
# Installs the Debian packages that the benchmarks need on top of the build's
# and tests' own (scripts/install-deps.sh); quiet when all are installed.
set -eu

packages=(
  hyperfine         # start-to-exit wall time
  linux-perf        # perf stat: start-to-exit CPU time
  libbenchmark-dev  # Google Benchmark, for the writer's throughput
  strace            # the sysfs files a brightness run opens
  wlr-randr         # the tool a user would call for a wlroots compositor's outputs
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bench/install-deps.sh: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
