#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# install_missing [apt-get option...] -- package...
install_missing() {
  local options=() missing=() package
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null
}

install_missing -- cmake make g++ libgtest-dev python3

# The sanitizer and fuzz builds (clang and its runtimes) and the memory check.
install_missing -- clang libclang-rt-14-dev valgrind

# Audio on Linux: libpulse's headers for the build (the library itself is
# opened at run time), a sound server and pactl for the tests. Without
# recommends, which for the server are a login manager and a user bus.
install_missing --no-install-recommends -- pkg-config libpulse-dev pulseaudio pulseaudio-utils

# Linux display brightness: libsystemd's headers for the build (the library
# is opened at run time); a private system bus and a logind stand-in to test.
install_missing --no-install-recommends -- libsystemd-dev dbus python3-dbusmock

# X11: xcb's headers for the build (the libraries are opened at run time); an
# X server, xrandr and Debian's Python Xlib for the tests.
install_missing --no-install-recommends -- libxcb1-dev libxcb-randr0-dev libxcb-res0-dev xvfb x11-xserver-utils python3-xlib

# The syntax check of the Mac sources brings its own list.
bash "$here/../tests/macos/install-deps.sh"
