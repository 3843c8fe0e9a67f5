// The audio output devices and the default output, read and changed
// through the audio property interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio.h"

namespace controls {

// The audio system object, which owns the device list and the default
// output. Set once by start-up.
extern platform::AudioObjectId system;

struct OutputDevice {
  platform::AudioObjectId id;
  std::string name;
};

// The property address of `selector` in `scope`, element 0.
platform::PropertyAddress address(std::uint32_t selector, std::uint32_t scope = platform::kScopeGlobal);

// The devices that have output streams and a name, in device-list order.
std::vector<OutputDevice> outputDevices();

// The default output device, whatever id the platform reports.
std::optional<platform::AudioObjectId> currentOutput();

// Makes `id` the default output when it is a listed output device.
void setOutput(platform::AudioObjectId id);

// Prints {"current":id or null,"outputs":[{"id":..,"name":..},...]}.
void printOutputs();

}  // namespace controls
