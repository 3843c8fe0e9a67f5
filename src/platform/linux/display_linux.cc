// The online displays on Linux are the connected DRM connectors.

#include <algorithm>

#include "platform/display.h"
#include "platform/linux/backlight/backlight.h"

namespace platform {

namespace sysfs {

const std::vector<Connector>& machineConnectors() {
  static const std::vector<Connector> list = connectedConnectors("/");
  return list;
}

}  // namespace sysfs

std::int32_t onlineDisplayList(std::uint32_t capacity, DisplayId* displays, std::uint32_t* count) {
  const auto& list = sysfs::machineConnectors();
  if (displays == nullptr) {
    *count = static_cast<std::uint32_t>(list.size());
    return 0;
  }
  const auto filled = std::min<std::size_t>(capacity, list.size());
  for (std::size_t i = 0; i < filled; ++i) displays[i] = list[i].id;
  *count = static_cast<std::uint32_t>(filled);
  return 0;
}

bool isBuiltinDisplay(DisplayId display) {
  const auto& list = sysfs::machineConnectors();
  return std::any_of(list.begin(), list.end(),
                     [display](const sysfs::Connector& c) { return c.id == display && c.builtin; });
}

}  // namespace platform
