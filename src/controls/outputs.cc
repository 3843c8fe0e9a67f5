#include "controls/outputs.h"

#include <algorithm>
#include <memory>
#include <new>

#include "json_line.h"

namespace controls {

using platform::kDefaultOutput;
using platform::kDevices;
using platform::kName;
using platform::kScopeOutput;
using platform::kStreams;

platform::AudioObjectId system = 0;

platform::PropertyAddress address(std::uint32_t selector, std::uint32_t scope) {
  return {selector, scope, platform::kMainElement};
}

namespace {

std::optional<OutputDevice> outputDevice(platform::AudioObjectId id) {
  std::uint32_t streamsSize = 0;
  if (platform::propertyDataSize(id, address(kStreams, kScopeOutput), &streamsSize) != 0) return std::nullopt;
  if (streamsSize == 0) return std::nullopt;

  platform::StringRef name = nullptr;
  std::uint32_t nameSize = sizeof name;
  if (platform::propertyData(id, address(kName), &nameSize, &name) != 0) return std::nullopt;
  if (name == nullptr) return std::nullopt;
  auto text = platform::stringText(name);
  platform::releaseString(name);
  if (!text) return std::nullopt;
  return OutputDevice{id, std::move(*text)};
}

}  // namespace

std::vector<OutputDevice> outputDevices() {
  std::uint32_t size = 0;
  if (platform::propertyDataSize(system, address(kDevices), &size) != 0) return {};
  // A size that is not a multiple of 4 must not let the read write past the
  // buffer, so the capacity handed over is that of the whole ids only.
  const std::size_t count = size / sizeof(platform::AudioObjectId);
  // A size too large to allocate (a faulty driver) is a failed read, not
  // the end of the program.
  const std::unique_ptr<platform::AudioObjectId[]> ids(new (std::nothrow) platform::AudioObjectId[count]());
  if (ids == nullptr) return {};
  std::uint32_t capacity = static_cast<std::uint32_t>(count * sizeof(platform::AudioObjectId));
  if (platform::propertyData(system, address(kDevices), &capacity, ids.get()) != 0) return {};

  std::vector<OutputDevice> devices;
  for (std::size_t i = 0; i < count; ++i) {
    if (auto device = outputDevice(ids[i])) devices.push_back(std::move(*device));
  }
  return devices;
}

std::optional<platform::AudioObjectId> currentOutput() {
  platform::AudioObjectId id = 0;
  std::uint32_t size = sizeof id;
  if (platform::propertyData(system, address(kDefaultOutput), &size, &id) != 0) return std::nullopt;
  return id;
}

void setOutput(platform::AudioObjectId id) {
  const auto devices = outputDevices();
  const bool listed = std::any_of(devices.begin(), devices.end(),
                                  [id](const OutputDevice& device) { return device.id == id; });
  if (!listed) return;
  platform::setPropertyData(system, address(kDefaultOutput), sizeof id, &id);
}

void printOutputs() {
  Reply reply;
  const auto current = currentOutput();
  if (current) {
    reply.set("current", static_cast<std::int64_t>(*current));
  } else {
    reply.set("current", JsonNull{});
  }
  ReplyList outputs;
  for (const OutputDevice& device : outputDevices()) {
    outputs.push_back(Reply{}.set("id", static_cast<std::int64_t>(device.id)).set("name", device.name));
  }
  reply.set("outputs", std::move(outputs));
  printJSON(reply);
}

}  // namespace controls
