#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

packages=(cmake make g++ libgtest-dev python3)
# Linux display brightness: libsystemd's headers to build (the library itself
# is opened at run time); a private system bus and a logind stand-in to test.
packages+=(pkg-config libsystemd-dev dbus python3-dbusmock)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The syntax check of the Mac sources brings its own list.
bash "$here/../tests/macos/install-deps.sh"
