#!/usr/bin/env bash
# Syntax- and type-checks macOS platform sources on Linux with clang 14 against the declaration
# headers in include/, and rejects the deprecated Apple APIs of deprecated.txt. Usage: check.sh FILE...
# (.cc as C++20, .mm as Objective-C++ with GNUstep, with and without ARC)
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
CLANGXX=${CLANGXX:-clang++-14}
command -v "$CLANGXX" >/dev/null || CLANGXX=clang++

if [ $# -eq 0 ]; then
  echo "usage: $0 FILE..." >&2
  exit 2
fi

warnings=(-Wall -Wextra -Wpedantic -Werror -Wconversion -Wsign-conversion)
# include/ stands in for the platform's system headers, so it is a system directory too (this also lets
# its AppKit/AppKit.h use #include_next, which -Wpedantic rejects outside system headers).
common=(-std=c++20 -fsyntax-only "${warnings[@]}" -isystem "$here/include" -I "$root/src")

objc=()
objc_ready() {
  [ ${#objc[@]} -gt 0 ] && return 0
  command -v gnustep-config >/dev/null || { echo "check.sh: gnustep-config missing (run scripts/install-deps.sh)" >&2; return 1; }
  # gnustep-config's flags, less the ones that write dependency files (-MMD -MP) or add the current
  # directory (-I.); its header directories become -isystem so their own warnings do not fail the check.
  local f
  for f in $(gnustep-config --objc-flags); do
    case $f in
      -MMD | -MP | -I.) ;;
      -I*) objc+=(-isystem "${f#-I}") ;;
      *) objc+=("$f") ;;
    esac
  done
  # The GCC Objective-C runtime headers (objc/objc.h, objc/runtime.h) live in GCC's own include directory,
  # which clang does not search; -idirafter keeps clang's builtin headers ahead of GCC's.
  local objc_h
  objc_h=$(printf '%s\n' /usr/lib/gcc/*/*/include/objc/objc.h | sort -V | tail -n 1)
  [ -e "$objc_h" ] || { echo "check.sh: GCC's objc/objc.h missing (run scripts/install-deps.sh)" >&2; return 1; }
  objc+=(-idirafter "$(dirname "$(dirname "$objc_h")")")
  objc+=(-fblocks)
}

# Debian's GNUstep uses the GCC runtime, for which clang refuses -fobjc-arc ("not supported on platforms
# using the legacy runtime"). So each .mm file is checked twice: against GNUstep in its own runtime, and
# with ARC as on the Mac, in the Mac's runtime, where arc/ stands in for the one runtime header that
# cannot be read there. Only the ARC pass sees a missing bridge cast or a forbidden release.
check_mm() {
  "$CLANGXX" -x objective-c++ "${common[@]}" "${objc[@]}" -fobjc-runtime=gcc "$1" &&
    "$CLANGXX" -x objective-c++ -isystem "$here/arc" "${common[@]}" "${objc[@]}" -fobjc-runtime=macosx -fobjc-arc "$1"
}

# uses_deprecated FILE: names each API of deprecated.txt that FILE uses outside its comments (which the
# GNU preprocessor drops without expanding anything), and fails when there is one.
uses_deprecated() {
  local code name instead found=0
  code=$(g++ -x c++ -fpreprocessed -dD -E -P "$1") || return 1
  while IFS='|' read -r name instead; do
    name=${name// /}
    [ -n "$name" ] && [ "${name:0:1}" != "#" ] || continue
    if grep -qw -- "$name" <<<"$code"; then
      echo "$1: $name is deprecated for macOS 26; use instead:${instead}" >&2
      found=1
    fi
  done <"$here/deprecated.txt"
  return $found
}

status=0
for file in "$@"; do
  uses_deprecated "$file"
  deprecated=$?
  case $file in
    *.cc) "$CLANGXX" -x c++ "${common[@]}" "$file" ;;
    *.mm)
      if objc_ready; then
        check_mm "$file"
      else
        false
      fi
      ;;
    *) echo "check.sh: $file: not a .cc or .mm file" >&2; false ;;
  esac
  rc=$?
  if [ $rc -ne 0 ] || [ $deprecated -ne 0 ]; then
    echo "FAIL $file" >&2
    status=1
  fi
done
exit $status
