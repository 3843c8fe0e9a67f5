// The online displays on Linux are the connected DRM connectors.

#include <algorithm>

#include "platform/display.h"
#include "platform/linux/backlight.h"

namespace platform {

std::int32_t onlineDisplayList(std::uint32_t capacity, DisplayId* displays, std::uint32_t* count) {
  const auto connectors = sysfs::connectedConnectors("/");
  if (displays == nullptr) {
    *count = static_cast<std::uint32_t>(connectors.size());
    return 0;
  }
  const auto filled = std::min<std::size_t>(capacity, connectors.size());
  for (std::size_t i = 0; i < filled; ++i) displays[i] = connectors[i].id;
  *count = static_cast<std::uint32_t>(filled);
  return 0;
}

bool isBuiltinDisplay(DisplayId display) {
  const auto connectors = sysfs::connectedConnectors("/");
  return std::any_of(connectors.begin(), connectors.end(),
                     [display](const sysfs::Connector& c) { return c.id == display && c.builtin; });
}

}  // namespace platform
