// A running application, as the focus watcher sees it through one of its
// windows, whichever display system shows the window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The texts are UTF-8.
struct Application {
  std::optional<std::string> bundleId;
  std::optional<std::string> name;
  std::int32_t pid = -1;         // -1: unknown
  bool pidFromWindow = false;    // X11: the pid came from _NET_WM_PID
};

// Same application: when both pids are known the pids decide; otherwise
// bundle id and name.
bool sameApplication(const Application& a, const Application& b);

}  // namespace platform
