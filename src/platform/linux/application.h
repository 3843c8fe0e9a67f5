// A running application as the Linux workspace reports it, whatever told it
// (an X11 window or a Wayland toplevel).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// A running application, as seen through one of its windows when it was
// activated. The texts are UTF-8.
struct Application {
  std::optional<std::string> bundleId;  // desktop id, else the window's own identifier
  std::optional<std::string> name;      // the entry's localized Name, else the window's class
  std::int32_t pid = -1;                // -1: unknown
};

// One application: where both pids are known they alone decide (two
// processes of one program are two applications); else the bundle id and
// the name.
bool sameApplication(const Application& a, const Application& b);

}  // namespace platform
