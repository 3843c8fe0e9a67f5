#!/usr/bin/env bash
# Shows that check.sh accepts the sample files and rejects each small fault planted in a copy of them.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
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

# Each line: sample | fault | sed expression applied to a copy | text the diagnostic must contain
while IFS='|' read -r sample fault expr expect; do
  [ -n "$sample" ] || continue
  name="$sample: $fault"
  copy=$work/${sample%.*}_mutant.${sample##*.}
  sed -e "$expr" "$here/samples/$sample" >"$copy"
  if cmp -s "$here/samples/$sample" "$copy"; then
    bad "$name (the sed expression changed nothing)"
  elif out=$("$check" "$copy" 2>&1 </dev/null); then
    bad "$name (check passed the faulty copy)"
  elif ! grep -qF -- "$expect" <<<"$out"; then
    bad "$name (failed, but its diagnostics do not mention '$expect')"
    echo "$out"
  else
    ok "$name is rejected"
  fi
done <<'CASES'
sample.cc|misspelt function|s/CGDisplayIsBuiltin(/CGDisplayIsBuiltIn(/|CGDisplayIsBuiltIn
sample.cc|missing argument|s/CGGetOnlineDisplayList(16, ids, &count)/CGGetOnlineDisplayList(16, ids)/|CGGetOnlineDisplayList
sample.cc|extra argument|s/(device, &address, 0, nullptr, &size)/(device, \&address, 0, nullptr, \&size, nullptr)/|AudioObjectGetPropertyDataSize
sample.cc|pointer where a value is wanted|s/AudioObjectGetPropertyData(device,/AudioObjectGetPropertyData(\&device,/|AudioObjectGetPropertyData
sample.cc|value where a pointer is wanted|s/&device_address,/device_address,/|AudioObjectGetPropertyData
sample.cc|pointer for the CFIndex size|s/buffer.data(), size,/buffer.data(), \&size,/|CFStringGetCString
sample.cc|deprecated element name|s/kAudioObjectPropertyElementMain}/kAudioObjectPropertyElementMaster}/|kAudioObjectPropertyElementMaster
sample.cc|signed index against uint32_t count|s/for (uint32_t i = 0/for (int i = 0/|-Wsign-compare
sample.cc|CFIndex to size_t without a cast|s/static_cast<size_t>(size)/size/|-Wsign-conversion
sample.mm|wrong selector name|s/setActivationPolicy:/setActivationPolicies:/|setActivationPolicies:
sample.mm|misspelt class method|s/\[NSWorkspace sharedWorkspace\]/[NSWorkspace sharedWorkSpace]/|sharedWorkSpace
sample.mm|misspelt property|s/safeAreaInsets.top/safeAreaInset.top/|safeAreaInset
sample.mm|misspelt struct field|s/safeAreaInsets.top/safeAreaInsets.height/|no member named 'height'
sample.mm|misspelt auxiliary area|s/screen.auxiliaryTopLeftArea/screen.auxiliaryTopLeftRect/|auxiliaryTopLeftRect
sample.mm|misspelt notification name|s/NSWorkspaceDidActivateApplicationNotification/NSWorkspaceDidActivateAppNotification/|NSWorkspaceDidActivateAppNotification
sample.mm|block with the wrong parameter type|s/\^(NSNotification \*note)/^(NSString *note)/|void (^)(NSString *)
sample.mm|missing argument|s/static_cast<uintptr_t>(fd), 0,/static_cast<uintptr_t>(fd),/|dispatch_source_create
sample.mm|pointer where a value is wanted|s/(source, on_stdin_readable)/(\&source, on_stdin_readable)/|dispatch_source_set_event_handler_f
sample.mm|handler with the wrong signature|s/on_stdin_readable(void \*context)/on_stdin_readable(int context)/|dispatch_source_set_event_handler_f
sample.mm|pointer to an NSRect for a CGRect|s/CGRectGetWidth(frame)/CGRectGetWidth(\&frame)/|CGRectGetWidth
sample.mm|dispatch_release of an ARC-managed source|s/dispatch_resume(source);/dispatch_resume(source); dispatch_release(source);/|dispatch_release
CASES

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
