// The audio property interface on the Mac.

#include <CoreAudio/CoreAudio.h>
#include <CoreFoundation/CoreFoundation.h>

#include <vector>

#include "platform/audio.h"

namespace platform {

// The shared logic names the properties by their codes; each must be the
// SDK's, or the build stops here (and so does the check of these sources
// on Linux).
static_assert(kDevices == kAudioHardwarePropertyDevices);
static_assert(kStreams == kAudioDevicePropertyStreams);
static_assert(kName == kAudioObjectPropertyName);
static_assert(kDefaultOutput == kAudioHardwarePropertyDefaultOutputDevice);
static_assert(kScopeGlobal == kAudioObjectPropertyScopeGlobal);
static_assert(kScopeOutput == kAudioObjectPropertyScopeOutput);
// The SDK declares the system object as an int.
static_assert(kAudioSystemObject == static_cast<AudioObjectID>(kAudioObjectSystemObject));
static_assert(kMainElement == kAudioObjectPropertyElementMain);

namespace {

AudioObjectPropertyAddress platformAddress(const PropertyAddress& address) {
  return {address.selector, address.scope, address.element};
}

}  // namespace

std::int32_t propertyDataSize(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size) {
  const AudioObjectPropertyAddress where = platformAddress(address);
  return AudioObjectGetPropertyDataSize(object, &where, 0, nullptr, size);
}

std::int32_t propertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size,
                          void* data) {
  const AudioObjectPropertyAddress where = platformAddress(address);
  return AudioObjectGetPropertyData(object, &where, 0, nullptr, size, data);
}

std::int32_t setPropertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t size,
                             const void* data) {
  const AudioObjectPropertyAddress where = platformAddress(address);
  return AudioObjectSetPropertyData(object, &where, 0, nullptr, size, data);
}

std::optional<std::string> stringText(StringRef string) {
  const auto text = static_cast<CFStringRef>(string);
  // The fast path hands out the string's own storage only when it happens
  // to hold UTF-8; otherwise the text is converted into a buffer.
  if (const char* direct = CFStringGetCStringPtr(text, kCFStringEncodingUTF8)) return std::string(direct);
  const CFIndex capacity =
      CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
  std::vector<char> buffer(static_cast<std::size_t>(capacity));
  if (!CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) return std::nullopt;
  return std::string(buffer.data());
}

void releaseString(StringRef string) { CFRelease(string); }

}  // namespace platform
