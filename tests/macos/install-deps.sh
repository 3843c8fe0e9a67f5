#!/usr/bin/env bash
# Installs the Debian packages that check.sh needs; quiet and does nothing when all are installed.
set -eu

packages=(
  clang-14              # clang++-14
  libgnustep-base-dev   # Foundation headers
  libgnustep-gui-dev    # AppKit headers
  gnustep-make          # gnustep-config
  libobjc-12-dev        # GCC Objective-C runtime headers (objc/objc.h, objc/runtime.h)
  libblocksruntime-dev  # Block.h
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps.sh: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
