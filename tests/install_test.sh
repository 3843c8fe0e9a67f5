#!/usr/bin/env bash
# `cmake --install BUILD --prefix DIR` puts the three native programs, as they
# were built (and signed, on a Mac), into DIR/bin, and on Linux the watcher's
# desktop entry (which names the installed program, for kwin) into
# DIR/share/applications; nothing else anywhere.
# Usage: install_test.sh CMAKE BUILD
set -euo pipefail
cmake=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f -o -type l | sort)
expected=$'./bin/Brimgauge\n./bin/Knobwerk\n./bin/Quelmark'
[ "$(uname)" = Darwin ] || expected+=$'\n./share/applications/Quelmark.desktop'
if [ "$installed" != "$expected" ]; then
  printf 'installed:\n%s\nexpected:\n%s\n' "$installed" "$expected"
  exit 1
fi
for program in Brimgauge Knobwerk Quelmark; do
  [ -x "$prefix/bin/$program" ] || { echo "$program is not executable"; exit 1; }
  cmp "$build/bin/$program" "$prefix/bin/$program"
done
if [ "$(uname)" != Darwin ]; then
  entry=$prefix/share/applications/Quelmark.desktop
  for line in "Exec=$prefix/bin/Quelmark" NoDisplay=true \
              X-KDE-Wayland-Interfaces=org_kde_plasma_window_management; do
    grep -qx "$line" "$entry" || { echo "the desktop entry lacks $line"; cat "$entry"; exit 1; }
  done
fi
echo "the three native programs are installed"
