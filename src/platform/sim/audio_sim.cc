// The simulated audio hardware: the system object (1) and the devices of
// the scenario. Any other object answers every query with an error.

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/audio.h"
#include "platform/sim/scenario.h"
#include "platform/sim/trace.h"

namespace platform {
namespace {

constexpr AudioObjectId kSystemObject = 1;

// The platform's own error codes for these cases.
constexpr std::int32_t kBadObject = 0x216F626A;        // '!obj'
constexpr std::int32_t kUnknownProperty = 0x77686F3F;  // 'who?'
constexpr std::int32_t kBadSize = 0x2173697A;          // '!siz'

// A name object handed to the caller, who releases it.
struct SimString {
  AudioObjectId device;
  std::string text;
};

std::string fourCharacters(std::uint32_t code) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i)
    text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
  return text;
}

const sim::AudioDevice* device(AudioObjectId object) {
  const auto& devices = sim::machine().audio.devices;
  const auto found = std::find_if(devices.begin(), devices.end(),
                                  [object](const sim::AudioDevice& d) { return d.id == object; });
  return found == devices.end() ? nullptr : &*found;
}

bool is(const PropertyAddress& address, std::uint32_t selector, std::uint32_t scope) {
  return address.selector == selector && address.scope == scope && address.element == 0;
}

}  // namespace

std::int32_t propertyDataSize(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size) {
  const std::string selector = fourCharacters(address.selector), scope = fourCharacters(address.scope);
  sim::trace("AudioObjectGetPropertyDataSize",
             {{"object", object}, {"selector", selector}, {"scope", scope}, {"element", address.element}});
  const auto& audio = sim::machine().audio;
  if (object == kSystemObject) {
    if (!is(address, kDevices, kScopeGlobal)) return kUnknownProperty;
    if (audio.devicesSizeStatus != 0) return audio.devicesSizeStatus;
    *size = audio.devicesSize;
    return 0;
  }
  const sim::AudioDevice* found = device(object);
  if (found == nullptr) return kBadObject;
  if (!is(address, kStreams, kScopeOutput)) return kUnknownProperty;
  if (found->outputStreamsStatus != 0) return found->outputStreamsStatus;
  *size = found->outputStreamsSize;
  return 0;
}

std::int32_t propertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size,
                          void* data) {
  const std::string selector = fourCharacters(address.selector), scope = fourCharacters(address.scope);
  sim::trace("AudioObjectGetPropertyData", {{"object", object},
                                            {"selector", selector},
                                            {"scope", scope},
                                            {"element", address.element},
                                            {"capacity", *size}});
  const auto& audio = sim::machine().audio;
  if (object == kSystemObject && is(address, kDevices, kScopeGlobal)) {
    if (audio.devicesStatus != 0) return audio.devicesStatus;
    const std::size_t fit = std::min<std::size_t>(*size / sizeof(AudioObjectId), audio.devices.size());
    const std::size_t filled = std::min<std::size_t>(fit, audio.devicesFilled.value_or(fit));
    auto* ids = static_cast<AudioObjectId*>(data);
    for (std::size_t i = 0; i < filled; ++i) ids[i] = audio.devices[i].id;
    *size = static_cast<std::uint32_t>(filled * sizeof(AudioObjectId));
    return 0;
  }
  if (object == kSystemObject && is(address, kDefaultOutput, kScopeGlobal)) {
    if (audio.defaultStatus != 0) return audio.defaultStatus;
    if (*size < sizeof(AudioObjectId)) return kBadSize;
    std::memcpy(data, &audio.defaultOutput, sizeof(AudioObjectId));
    *size = sizeof(AudioObjectId);
    return 0;
  }
  if (object == kSystemObject) return kUnknownProperty;
  const sim::AudioDevice* found = device(object);
  if (found == nullptr) return kBadObject;
  if (!is(address, kName, kScopeGlobal)) return kUnknownProperty;
  if (found->nameStatus != 0) return found->nameStatus;
  if (*size < sizeof(StringRef)) return kBadSize;
  StringRef name = found->name ? new SimString{object, *found->name} : nullptr;
  std::memcpy(data, &name, sizeof name);
  *size = sizeof name;
  return 0;
}

std::int32_t setPropertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t size,
                             const void* data) {
  AudioObjectId value = 0;
  if (size >= sizeof value) std::memcpy(&value, data, sizeof value);
  const std::string selector = fourCharacters(address.selector), scope = fourCharacters(address.scope);
  sim::trace("AudioObjectSetPropertyData", {{"object", object},
                                            {"selector", selector},
                                            {"scope", scope},
                                            {"element", address.element},
                                            {"size", size},
                                            {"value", value}});
  auto& audio = sim::machine().audio;
  if (object != kSystemObject) return device(object) == nullptr ? kBadObject : kUnknownProperty;
  if (!is(address, kDefaultOutput, kScopeGlobal)) return kUnknownProperty;
  if (size != sizeof value) return kBadSize;
  if (audio.setChangesDefault) audio.defaultOutput = value;
  return 0;
}

std::optional<std::string> stringText(StringRef string) {
  return static_cast<const SimString*>(string)->text;
}

void releaseString(StringRef string) {
  const auto* name = static_cast<const SimString*>(string);
  sim::trace("CFRelease", {{"device", name->device}});
  delete name;
}

}  // namespace platform
