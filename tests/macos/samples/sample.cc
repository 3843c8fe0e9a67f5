// Fixture for tests/macos/check_test.sh: uses the C APIs the macOS platform files rely on.
#include <CoreAudio/CoreAudio.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <dlfcn.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

int builtin_display_count() {
  CGDirectDisplayID ids[16];
  uint32_t count = 0;
  if (CGGetOnlineDisplayList(16, ids, &count) != kCGErrorSuccess) return -1;
  int builtin = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (CGDisplayIsBuiltin(ids[i]) != 0) ++builtin;
  }
  return builtin;
}

std::string to_utf8(CFStringRef s) {
  if (const char *p = CFStringGetCStringPtr(s, kCFStringEncodingUTF8)) return p;
  CFIndex size = CFStringGetMaximumSizeForEncoding(CFStringGetLength(s), kCFStringEncodingUTF8) + 1;
  std::vector<char> buffer(static_cast<size_t>(size));
  if (!CFStringGetCString(s, buffer.data(), size, kCFStringEncodingUTF8)) return {};
  return std::string(buffer.data());
}

std::string default_output_name() {
  // The main element; its old name, kAudioObjectPropertyElementMaster, is deprecated.
  const AudioObjectPropertyAddress device_address = {kAudioHardwarePropertyDefaultOutputDevice,
                                                     kAudioObjectPropertyScopeGlobal,
                                                     kAudioObjectPropertyElementMain};
  AudioObjectID device = 0;
  UInt32 size = sizeof(device);
  if (AudioObjectGetPropertyData(static_cast<AudioObjectID>(kAudioObjectSystemObject), &device_address, 0, nullptr,
                                 &size, &device) != 0) {
    return {};
  }
  const AudioObjectPropertyAddress name_address = {kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal,
                                                   kAudioObjectPropertyElementMain};
  CFStringRef name = nullptr;
  size = sizeof(CFStringRef);
  if (AudioObjectGetPropertyData(device, &name_address, 0, nullptr, &size, &name) != 0 || name == nullptr) return {};
  std::string result = to_utf8(name);
  CFRelease(name);
  return result;
}

bool has_output_streams(AudioObjectID device) {
  const AudioObjectPropertyAddress address = {kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput,
                                              kAudioObjectPropertyElementMain};
  UInt32 size = 0;
  return AudioObjectGetPropertyDataSize(device, &address, 0, nullptr, &size) == 0 && size > 0;
}

OSStatus select_output(AudioObjectID device) {
  const AudioObjectPropertyAddress address = {kAudioHardwarePropertyDefaultOutputDevice,
                                              kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
  return AudioObjectSetPropertyData(static_cast<AudioObjectID>(kAudioObjectSystemObject), &address, 0, nullptr,
                                    sizeof(device), &device);
}

using ConnectionFn = int (*)();

ConnectionFn load_private_symbol() {
  void *handle = dlopen("/System/Library/PrivateFrameworks/Example.framework/Example", RTLD_LAZY);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<ConnectionFn>(dlsym(handle, "ExampleConnection"));
}

}  // namespace

int main() {
  int displays = builtin_display_count();
  std::string name = default_output_name();
  bool streams = has_output_streams(1);
  OSStatus status = select_output(1);
  ConnectionFn fn = load_private_symbol();
  return displays + static_cast<int>(name.size()) + (streams ? 1 : 0) + status + (fn != nullptr ? 1 : 0);
}
