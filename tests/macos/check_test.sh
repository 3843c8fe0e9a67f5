#!/usr/bin/env bash
# Shows that check.sh accepts the sample files and rejects each small fault planted in a copy of them or
# of the Mac sources.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
check=$here/check.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
ok() { echo "ok   $1"; passed=$((passed + 1)); }
bad() { echo "FAIL $1"; failed=$((failed + 1)); }

for sample in sample.cc sample.mm; do
  if out=$("$check" "$here/samples/$sample" 2>&1); then
    ok "$sample passes"
  else
    bad "$sample passes"
    echo "$out"
  fi
done

# Each line: file | fault | sed expression applied to a copy | text the diagnostic must contain | file
# checked (when not the copy itself). Files are named from the repository's root. The copy keeps its path
# below src/ inside a fresh folder, and a file checked against it is put at that folder's top, so that its
# quoted includes find the copy before the original.
while IFS='|' read -r file fault expr expect checked; do
  [ -n "$file" ] || continue
  name="${file##*/}: $fault"
  dir=$(mktemp -d "$work/case.XXXXXX")
  copy=$dir/${file#src/}
  mkdir -p "$(dirname "$copy")"
  sed -e "$expr" "$root/$file" >"$copy"
  target=$copy
  if [ -n "$checked" ]; then
    target=$dir/${checked##*/}
    cp "$root/$checked" "$target"
  fi
  if cmp -s "$root/$file" "$copy"; then
    bad "$name (the sed expression changed nothing)"
  elif out=$("$check" "$target" 2>&1 </dev/null); then
    bad "$name (check passed the faulty copy)"
  elif ! grep -qF -- "$expect" <<<"$out"; then
    bad "$name (failed, but its diagnostics do not mention '$expect')"
    echo "$out"
  else
    ok "$name is rejected"
  fi
done <<'CASES'
tests/macos/samples/sample.cc|misspelt function|s/CGDisplayIsBuiltin(/CGDisplayIsBuiltIn(/|CGDisplayIsBuiltIn
tests/macos/samples/sample.cc|missing argument|s/CGGetOnlineDisplayList(16, ids, &count)/CGGetOnlineDisplayList(16, ids)/|CGGetOnlineDisplayList
tests/macos/samples/sample.cc|extra argument|s/(device, &address, 0, nullptr, &size)/(device, \&address, 0, nullptr, \&size, nullptr)/|AudioObjectGetPropertyDataSize
tests/macos/samples/sample.cc|pointer where a value is wanted|s/AudioObjectGetPropertyData(device,/AudioObjectGetPropertyData(\&device,/|AudioObjectGetPropertyData
tests/macos/samples/sample.cc|value where a pointer is wanted|s/&device_address,/device_address,/|AudioObjectGetPropertyData
tests/macos/samples/sample.cc|pointer for the CFIndex size|s/buffer.data(), size,/buffer.data(), \&size,/|CFStringGetCString
tests/macos/samples/sample.cc|deprecated element name|s/kAudioObjectPropertyElementMain}/kAudioObjectPropertyElementMaster}/|kAudioObjectPropertyElementMaster
tests/macos/samples/sample.cc|signed index against uint32_t count|s/for (uint32_t i = 0/for (int i = 0/|-Wsign-compare
tests/macos/samples/sample.cc|CFIndex to size_t without a cast|s/static_cast<size_t>(size)/size/|-Wsign-conversion
tests/macos/samples/sample.mm|wrong selector name|s/setActivationPolicy:/setActivationPolicies:/|setActivationPolicies:
tests/macos/samples/sample.mm|misspelt class method|s/\[NSWorkspace sharedWorkspace\]/[NSWorkspace sharedWorkSpace]/|sharedWorkSpace
tests/macos/samples/sample.mm|misspelt property|s/safeAreaInsets.top/safeAreaInset.top/|safeAreaInset
tests/macos/samples/sample.mm|misspelt struct field|s/safeAreaInsets.top/safeAreaInsets.height/|no member named 'height'
tests/macos/samples/sample.mm|misspelt auxiliary area|s/screen.auxiliaryTopLeftArea/screen.auxiliaryTopLeftRect/|auxiliaryTopLeftRect
tests/macos/samples/sample.mm|misspelt notification name|s/NSWorkspaceDidActivateApplicationNotification/NSWorkspaceDidActivateAppNotification/|NSWorkspaceDidActivateAppNotification
tests/macos/samples/sample.mm|block with the wrong parameter type|s/\^(NSNotification \*note)/^(NSString *note)/|void (^)(NSString *)
tests/macos/samples/sample.mm|missing argument|s/static_cast<uintptr_t>(fd), 0,/static_cast<uintptr_t>(fd),/|dispatch_source_create
tests/macos/samples/sample.mm|pointer where a value is wanted|s/(source, on_stdin_readable)/(\&source, on_stdin_readable)/|dispatch_source_set_event_handler_f
tests/macos/samples/sample.mm|handler with the wrong signature|s/on_stdin_readable(void \*context)/on_stdin_readable(int context)/|dispatch_source_set_event_handler_f
tests/macos/samples/sample.mm|pointer to an NSRect for a CGRect|s/CGRectGetWidth(frame)/CGRectGetWidth(\&frame)/|CGRectGetWidth
tests/macos/samples/sample.mm|dispatch_release of an ARC-managed source|s/dispatch_resume(source);/dispatch_resume(source); dispatch_release(source);/|ARC forbids explicit message send of 'release'
src/platform/mac/workspace_mac.mm|missing bridge cast to a C pointer|s/return (__bridge ReadSource\*)stdinReadSource/return (ReadSource*)stdinReadSource/|requires a bridged cast
src/platform/mac/screens_mac.mm|missing bridge cast to an object|s/return (__bridge NSScreen \*)screen/return (NSScreen *)screen/|requires a bridged cast
src/platform/mac/workspace_mac.mm|dispatch_release of the held source|s/dispatch_resume((__bridge dispatch_source_t)source);/& dispatch_release(stdinReadSource);/|ARC forbids explicit message send of 'release'
src/platform/mac/workspace_mac.mm|deprecated call that GNUstep still declares|s/\.frontmostApplication/.activeApplication/|activeApplication is deprecated for macOS 26
src/platform/audio.h|wrong system object|s/kAudioSystemObject = 1/kAudioSystemObject = 2/|kAudioObjectSystemObject|src/platform/mac/audio_mac.cc
src/platform/audio.h|wrong main element|s/kMainElement = 0/kMainElement = 1/|kAudioObjectPropertyElementMain|src/platform/mac/audio_mac.cc
src/platform/audio.h|wrong four-character code|s/kDevices = 0x64657623/kDevices = 0x64657624/|kAudioHardwarePropertyDevices|src/platform/mac/audio_mac.cc
src/platform/workspace.h|wrong activation policy|s/kActivationPolicyProhibited = 2/kActivationPolicyProhibited = 1/|NSApplicationActivationPolicyProhibited|src/platform/mac/workspace_mac.mm
CASES

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
