// Linux has no audio backend for this tool yet: every property query fails,
// as it does for an object the platform does not know, so the tool reports
// no default and no outputs.

#include "platform/audio.h"

namespace platform {
namespace {
constexpr std::int32_t kBadObject = 0x216F626A;  // '!obj'
}  // namespace

std::int32_t propertyDataSize(AudioObjectId, const PropertyAddress&, std::uint32_t*) { return kBadObject; }

std::int32_t propertyData(AudioObjectId, const PropertyAddress&, std::uint32_t*, void*) { return kBadObject; }

std::int32_t setPropertyData(AudioObjectId, const PropertyAddress&, std::uint32_t, const void*) {
  return kBadObject;
}

// No query succeeds, so no string object is ever handed out.
std::optional<std::string> stringText(StringRef) { return std::nullopt; }

void releaseString(StringRef) {}

}  // namespace platform
