#include "platform/linux/wayland/output_probe.h"

#include "platform/linux/wayland/windows.h"

namespace platform::wayland {
namespace {

// The first output (in the compositor's order) that the active window is
// on, else the first output.
std::size_t mainIndex(const std::vector<std::shared_ptr<Output>>& outputs, const Windows& windows) {
  if (const Window* active = windows.frontmost()) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (active->outputs.contains(outputs[i]->id)) return i;
    }
  }
  return 0;
}

std::optional<std::vector<Screen>> readScreens() {
  Connection connection;
  if (!connection.open()) return std::nullopt;
  const std::vector<std::shared_ptr<Output>> outputs = followOutputs(connection);
  Windows windows;
  followWlrToplevels(connection, windows);
  if (!connection.roundTrip(kReplyWait)) return std::vector<Screen>{};
  std::vector<Screen> list;
  const std::size_t main = mainIndex(outputs, windows);
  for (std::size_t i = 0; i < outputs.size(); ++i) list.push_back({frameOf(*outputs[i]), i == main});
  return list;
}

}  // namespace

const std::optional<std::vector<Screen>>& screens() {
  static const std::optional<std::vector<Screen>> list = readScreens();
  return list;
}

}  // namespace platform::wayland
