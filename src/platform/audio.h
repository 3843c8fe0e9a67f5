// The audio property interface, as the output commands reach it. Each call
// forwards to one platform call; statuses are 0 for success.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

using AudioObjectId = std::uint32_t;

// The system object, which owns the device list and the default output, and
// the element every property address names (the main one).
inline constexpr AudioObjectId kAudioSystemObject = 1;
inline constexpr std::uint32_t kMainElement = 0;

// Property selectors and scopes: four-character codes, the first character
// in the most significant byte.
inline constexpr std::uint32_t kDevices = 0x64657623;        // 'dev#'
inline constexpr std::uint32_t kStreams = 0x73746D23;        // 'stm#'
inline constexpr std::uint32_t kName = 0x6C6E616D;           // 'lnam'
inline constexpr std::uint32_t kDefaultOutput = 0x644F7574;  // 'dOut'
inline constexpr std::uint32_t kScopeGlobal = 0x676C6F62;    // 'glob'
inline constexpr std::uint32_t kScopeOutput = 0x6F757470;    // 'outp'

struct PropertyAddress {
  std::uint32_t selector;
  std::uint32_t scope;
  std::uint32_t element;
};

// AudioObjectGetPropertyDataSize, without qualifier data.
std::int32_t propertyDataSize(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size);

// AudioObjectGetPropertyData, without qualifier data. `size` holds the
// capacity of `data` in bytes on entry.
std::int32_t propertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size,
                          void* data);

// AudioObjectSetPropertyData, without qualifier data.
std::int32_t setPropertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t size,
                             const void* data);

// A string object handed back by a property read (a CFStringRef), owned by
// the caller.
using StringRef = const void*;

// The string's text as UTF-8, or none when it has no UTF-8 form.
std::optional<std::string> stringText(StringRef string);

// CFRelease of a string the caller owns; never called with null.
void releaseString(StringRef string);

}  // namespace platform
